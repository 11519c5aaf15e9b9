#include "netlib/crypto/ClsEncode.h"

#include "netlib/crypto/Uu.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/text/UrlCoding.h"

namespace tessik {

namespace {

// Quoted-printable is left as it is: white space at its start is data, and
// its decoder drops the white space that ends a line itself.
bool trimsText(int mode) {
    return mode == kEncodeBase64 || mode == kEncodeHex || mode == kEncodeBase32 || mode == kEncodeModBase64;
}

bool replacesOutput(int mode) {
    return mode == kEncodeHex || mode == kEncodeUrl || mode == kEncodeAnsi || mode == kEncodeBase32 ||
           mode == kEncodeUu;
}

} // namespace

ClsEncode::ClsEncode() : m_encodingMode(kEncodeBase64), m_uuMode("644") {
    m_uuFilename.setFromUtf8("file.dat");
}

ClsEncode::~ClsEncode() = default;

void ClsEncode::getEncodingModeName(XString& out) const {
    const char* name = "base64";
    switch (m_encodingMode) {
    case kEncodeQp: name = "qp"; break;
    case kEncodeHex: name = "hex"; break;
    case kEncodeUrl: name = "url"; break;
    case kEncodeHtml: name = "html"; break;
    case kEncodeAnsi: name = "ansi"; break;
    case kEncodeBase32: name = "base32"; break;
    case kEncodeUu: name = "uu"; break;
    case kEncodeModBase64: name = "modBase64"; break;
    default: break;
    }
    out.setFromUtf8(name);
}

void ClsEncode::encodeBytes(const DataBuffer& data, XString& out, bool append) {
    StringBuffer sb;
    const unsigned int n = data.getSize();
    switch (m_encodingMode) {
    case kEncodeBase64: ContentCoding::encodeBase64NoCrlf(data.getData(), n, sb); break;
    case kEncodeQp: ContentCoding().encodeQuotedPrintable(data.getData(), n, sb); break;
    case kEncodeHex: data.encodeHexToSb(sb); break;
    case kEncodeUrl: urlEncodeDb(data, sb); break;
    case kEncodeAnsi: sb.appendDb(data); break;
    case kEncodeBase32: ContentCoding::encodeBase32(data.getData(), n, sb); break;
    case kEncodeUu: Uu::uuencode(data, m_uuMode.getString(), m_uuFilename.getAnsi(), sb); break;
    case kEncodeModBase64: ContentCoding::encodeBase64Url(data.getData(), n, sb); break;
    default: return; // html and unknown modes produce nothing
    }
    const unsigned int size = static_cast<unsigned int>(sb.getSize());
    if (append)
        out.appendUtf8Bytes(sb.getString(), size);
    else
        out.setFromUtf8Bytes(sb.getString(), size);
}

void ClsEncode::decodeToBytes(XString& text, DataBuffer& out, bool append) {
    const int mode = m_encodingMode;
    StringBuffer sb(text.getUtf8());
    if (trimsText(mode))
        sb.trimWhitespace();
    if (replacesOutput(mode) && !append)
        out.clear();
    // The base64 and quoted-printable decoders replace their output: decode
    // aside, then append.
    DataBuffer scratch;
    switch (mode) {
    case kEncodeModBase64:
        sb.replaceChar('-', '+');
        sb.replaceChar('_', '/');
        [[fallthrough]];
    case kEncodeBase64:
        ContentCoding::decodeBase64(sb.getString(), static_cast<unsigned int>(sb.getSize()), scratch);
        out.appendDb(scratch);
        break;
    case kEncodeQp:
        ContentCoding::decodeQuotedPrintable(sb.getString(), static_cast<unsigned int>(sb.getSize()), scratch);
        out.appendDb(scratch);
        break;
    case kEncodeHex: sb.decodeHex(out); break;
    case kEncodeUrl: urlDecode(sb, out); break;
    case kEncodeAnsi: out.append(text.getAnsi(), static_cast<unsigned int>(text.getSizeAnsi())); break;
    case kEncodeBase32:
        ContentCoding::decodeBase32(sb.getString(), static_cast<unsigned int>(sb.getSize()), out);
        break;
    case kEncodeUu: {
        StringBuffer name;
        Uu::uudecode(text.getAnsi(), out, m_uuMode, name);
        m_uuFilename.setFromAnsi(name.getString());
        break;
    }
    default: break;
    }
}

} // namespace tessik
