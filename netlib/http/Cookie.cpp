#include "netlib/http/Cookie.h"

#include <new>

#include "netlib/core/StringPair.h"

namespace tessik {

Cookie::Cookie() : m_version(0), m_secure(0), m_discard(0), m_maxAge(0) {
    m_pairs.setOwnsObjects(true);
}

Cookie::~Cookie() {
    m_pairs.removeAllObjects();
}

void Cookie::clear() {
    m_pairs.removeAllObjects();
    m_version = 0;
    m_secure = 0;
    m_domain.clear();
    m_path.clear();
    m_expire.clear();
    m_discard = 0;
    m_maxAge = 0;
}

void Cookie::setDomain(const char* domain) {
    m_domain.setString(domain);
    m_domain.chopAtFirstChar(':');
}

bool Cookie::getPairName(int index, StringBuffer& out) const {
    out.clear();
    auto* pair = static_cast<StringPair*>(m_pairs.elementAt(index));
    if (!pair)
        return false;
    out.append(pair->getKey());
    return true;
}

bool Cookie::getPairValue(int index, StringBuffer& out) const {
    out.clear();
    auto* pair = static_cast<StringPair*>(m_pairs.elementAt(index));
    if (!pair)
        return false;
    out.append(pair->getValue());
    return true;
}

void Cookie::setNameValue(const char* name, const char* value) {
    if (!name)
        return;
    for (int i = 0; i < m_pairs.getCount(); ++i) {
        auto* pair = static_cast<StringPair*>(m_pairs.elementAt(i));
        if (pair && pair->getKeyBuf()->equalsNoCase(name)) {
            pair->getValueBuf()->setString(value ? value : "");
            return;
        }
    }
    auto* pair = new (std::nothrow) StringPair(name, value ? value : "");
    if (pair && !m_pairs.appendPtr(pair))
        delete pair;
}

} // namespace tessik
