#include "netlib/http/CookieJar.h"

#include "netlib/core/HashMap.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/Cookie.h"

namespace tessik {

namespace {
constexpr std::uint32_t kNameSetBuckets = 400;
} // namespace

CookieJar::CookieJar() {
    m_cookies.setOwnsObjects(true);
}

CookieJar::~CookieJar() {
    m_cookies.removeAllObjects();
}

void CookieJar::addCookie(Cookie* cookie) {
    if (cookie != nullptr && !m_cookies.appendPtr(cookie))
        delete cookie;
}

Cookie* CookieJar::getCookie(int index) const {
    return static_cast<Cookie*>(m_cookies.elementAt(index));
}

void CookieJar::buildCookieHeaderValue(const char* domain, const char* path, bool secureChannel,
                                       std::int64_t nowUnixSeconds, StringBuffer& out, LogBase&) const {
    out.clear();
    HashMap written(kNameSetBuckets);
    bool first = true;
    // The host's own cookies before its domain's: a name stored for the
    // domain by a version that kept every cookie there must not hide the
    // value the host has set since.
    for (int i = 0; i < 2 * m_cookies.getCount(); ++i) {
        const bool hostPass = i < m_cookies.getCount();
        const Cookie* cookie = getCookie(i % m_cookies.getCount());
        if (cookie == nullptr || cookie->isHostOnly() != hostPass ||
            !cookie->matchesRequest(domain, path, secureChannel) || cookie->isExpired(nowUnixSeconds))
            continue;
        for (int k = 0; k < cookie->getNumPairs(); ++k) {
            StringBuffer name;
            StringBuffer value;
            cookie->getPairName(k, name);
            cookie->getPairValue(k, value);
            // A folder written before such cookies were refused may hold one.
            if (written.containsKey(name.getString()) || !Cookie::isSendableText(name) ||
                !Cookie::isSendableText(value))
                continue;
            if (!first)
                out.append("; ");
            first = false;
            out.appendSb(name);
            if (value.containsChar(' ')) {
                out.append("=\"");
                out.appendSb(value);
                out.appendChar('"');
            } else {
                out.appendChar('=');
                out.appendSb(value);
            }
            written.addKey(name.getString());
        }
    }
}

} // namespace tessik
