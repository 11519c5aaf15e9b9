#include "netlib/http/MimeMessage2.h"

namespace tessik {

MimeMessage2::MimeMessage2() : m_flagA(0), m_flagB(1), m_valueA(1), m_valueB(0) {
    m_parts.setOwnsObjects(true);
}

MimeMessage2::~MimeMessage2() {
    clear();
}

void MimeMessage2::clear() {
    m_flagA = 0;
    m_body.clear();
    for (StringBuffer& t : m_leadTexts)
        t.clear();
    for (StringBuffer& t : m_tailTexts)
        t.clear();
    m_charset.clear();
    m_header.clear();
    m_second.clear();
    m_parts.removeAllObjects();
}

} // namespace tessik
