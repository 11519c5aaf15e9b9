#include "netlib/core/StringPair.h"

#include <new>

#include "netlib/core/StringBuffer.h"

namespace tessik {

StringPair::StringPair(const char* key, const char* value) : m_key(nullptr), m_value(nullptr) {
    if (key && *key)
        m_key = new (std::nothrow) StringBuffer(key);
    if (value && *value)
        m_value = new (std::nothrow) StringBuffer(value);
}

StringPair::~StringPair() {
    delete m_key;
    delete m_value;
}

const char* StringPair::getKey() const {
    return m_key ? m_key->getString() : "";
}
const char* StringPair::getValue() const {
    return m_value ? m_value->getString() : "";
}

StringBuffer* StringPair::getKeyBuf() {
    if (!m_key)
        m_key = new (std::nothrow) StringBuffer(50u);
    return m_key;
}

StringBuffer* StringPair::getValueBuf() {
    if (!m_value)
        m_value = new (std::nothrow) StringBuffer(100u);
    return m_value;
}

} // namespace tessik
