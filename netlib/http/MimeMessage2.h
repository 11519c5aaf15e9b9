#pragma once
// A MIME body part: header, body, sub-parts and the usual attributes. The
// multipart writers use one as scratch state.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/http/MimeHeader.h"
#include "netlib/text/TsCharset.h"

namespace tessik {

class MimeMessage2 : public TessikObject {
public:
    static constexpr int kLeadTexts = 7;
    static constexpr int kTailTexts = 4;

    MimeMessage2();
    ~MimeMessage2() override;
    MimeMessage2(const MimeMessage2&) = delete;
    MimeMessage2& operator=(const MimeMessage2&) = delete;

    void clear();

    DataBuffer& body() { return m_body; }
    MimeHeader& header() { return m_header; }
    ExtPtrArray& parts() { return m_parts; }
    _tsCharset& charset() { return m_charset; }
    // The part's two flags and two numbers, for the writers that set them.
    std::uint16_t getFlag(int i) const { return i == 0 ? m_flagA : m_flagB; }
    void setFlag(int i, std::uint16_t v) { (i == 0 ? m_flagA : m_flagB) = v; }
    std::uint32_t getNumber(int i) const { return i == 0 ? m_valueA : m_valueB; }
    void setNumber(int i, std::uint32_t v) { (i == 0 ? m_valueA : m_valueB) = v; }

private:
    DataBuffer m_body;
    std::uint16_t m_flagA;
    std::uint16_t m_flagB;
    DataBuffer m_second;
    MimeHeader m_header;
    std::uint32_t m_valueA;
    ExtPtrArray m_parts;
    StringBuffer m_leadTexts[kLeadTexts];
    _tsCharset m_charset;
    StringBuffer m_tailTexts[kTailTexts];
    std::uint32_t m_valueB;
};

} // namespace tessik
