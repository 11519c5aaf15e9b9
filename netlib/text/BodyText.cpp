#include "netlib/text/BodyText.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XmlParser.h"
#include "netlib/text/CharsetNames.h"
#include "netlib/text/HtmlHelp.h"
#include "netlib/text/TsCharset.h"
#include "platform/CodePage.h"

namespace tessik {

namespace {

constexpr const char* kDefaultWebEncoding = "windows-1252";
constexpr const char* kReplacement = "replacement";
constexpr const char* kUserDefined = "x-user-defined";
constexpr const char* kHtmlType = "text/html";
constexpr std::string_view kTextXml = "text/xml";
constexpr std::string_view kApplicationXml = "application/xml";
constexpr std::string_view kXmlSuffix = "+xml";
constexpr std::string_view kJsonType = "application/json";
constexpr std::string_view kJsonSuffix = "+json";
constexpr const char* kJsonEncoding = "utf-8";
constexpr std::uint16_t kReplacementChar = 0xFFFD;
// x-user-defined reads the bytes 0x80-0xFF as U+F780-U+F7FF.
constexpr std::uint16_t kUserDefinedBase = 0xF780;
constexpr unsigned char kHighBit = 0x80;

struct WebMark {
    unsigned char bytes[3];
    unsigned int length;
    const char* encoding;
};
// The marks browsers take before anything else ("BOM sniff").
constexpr WebMark kWebMarks[] = {
    {{0xEF, 0xBB, 0xBF}, 3, "utf-8"},
    {{0xFE, 0xFF}, 2, "utf-16be"},
    {{0xFF, 0xFE}, 2, "utf-16le"},
};

bool isHttpSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool hasSuffix(std::string_view subtype, std::string_view suffix) {
    return subtype.size() > suffix.size() && subtype.substr(subtype.size() - suffix.size()) == suffix;
}

bool isTokenChar(char c) {
    return c > ' ' && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

// An encoding this library decodes.
bool decodable(const char* encoding) {
    return encoding && (webEncodingCodePage(encoding) != 0 || std::strcmp(encoding, kReplacement) == 0 ||
                        std::strcmp(encoding, kUserDefined) == 0);
}

} // namespace

const char* bodyWebEncoding(const char* contentType, const char* headerCharset, const DataBuffer& body,
                            unsigned int& mark) {
    const BodyMediaKind kind = bodyMediaKind(contentType);
    mark = 0;
    for (const WebMark& m : kWebMarks)
        if (body.getSize() >= m.length && std::memcmp(body.getData(), m.bytes, m.length) == 0) {
            mark = m.length;
            return m.encoding;
        }
    if (const char* labelled = webEncodingName(headerCharset); decodable(labelled))
        return labelled;
    // JSON is UTF-8 (RFC 8259) where nothing says otherwise.
    if (kind == BodyMediaKind::Json)
        return kJsonEncoding;
    if (kind == BodyMediaKind::Html) {
        StringBuffer found;
        HtmlHelp::getCharsetFromBytes(body.getData(), body.getSize(), found);
        if (const char* sniffed = webEncodingName(found.getString()); decodable(sniffed))
            return sniffed;
    }
    return kDefaultWebEncoding;
}

namespace {

void decodeWeb(const char* encoding, const unsigned char* p, unsigned int n, DataBuffer& out) {
    if (std::strcmp(encoding, kReplacement) == 0) {
        // The whole body is one error, so that no text of it shows.
        if (n > 0)
            out.appendCharUtf8(kReplacementChar);
        return;
    }
    if (std::strcmp(encoding, kUserDefined) == 0) {
        for (unsigned int i = 0; i < n; ++i) {
            if (p[i] < kHighBit)
                out.appendChar(p[i]);
            else
                out.appendCharUtf8(static_cast<std::uint16_t>(kUserDefinedBase + p[i] - kHighBit));
        }
        return;
    }
    EncodingConvert conv;
    std::uint64_t replaced = 0;
    conv.decodeToUtf8(static_cast<int>(webEncodingCodePage(encoding)), p, n, out, replaced);
}

} // namespace

BodyMediaKind bodyMediaKind(const char* contentType) {
    std::string_view type(contentType ? contentType : "");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && isHttpSpace(type.front()))
        type.remove_prefix(1);
    while (!type.empty() && isHttpSpace(type.back()))
        type.remove_suffix(1);
    std::string lower(type);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    const std::size_t slash = lower.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == lower.size())
        return BodyMediaKind::Other;
    for (std::size_t i = 0; i < lower.size(); ++i)
        if (i != slash && !isTokenChar(lower[i]))
            return BodyMediaKind::Other;
    const std::string_view subtype = std::string_view(lower).substr(slash + 1);
    if (lower == kHtmlType)
        return BodyMediaKind::Html;
    // RFC 7303 names text/xml and application/xml, and the +xml suffix.
    if (lower == kTextXml || lower == kApplicationXml || hasSuffix(subtype, kXmlSuffix))
        return BodyMediaKind::Xml;
    if (lower == kJsonType || hasSuffix(subtype, kJsonSuffix))
        return BodyMediaKind::Json;
    return BodyMediaKind::Other;
}

void bodyTextUtf8(const char* contentType, const char* headerCharset, const DataBuffer& body, DataBuffer& utf8,
                  LogBase& log) {
    utf8.clear();
    const BodyMediaKind kind = bodyMediaKind(contentType);
    if (kind == BodyMediaKind::Xml) {
        // Decoded once, straight from the body. Refused as XML, it is still
        // the text of what reads it (its mark, a label with a decoder, the
        // width of its first bytes); where nothing does, the body is one
        // error, as a label browsers have no decoder for gives: read as
        // another charset, its shifted text would show as markup.
        StringBuffer charset;
        if (!decodeXmlBytes(body.getData(), body.getSize(), utf8, &log, headerCharset, &charset) &&
            charset.getSize() == 0) {
            utf8.clear();
            decodeWeb(kReplacement, body.getData(), body.getSize(), utf8);
        }
        log.logData("charset", charset.getString());
    } else {
        unsigned int mark = 0;
        const char* encoding = bodyWebEncoding(contentType, headerCharset, body, mark);
        log.logData("charset", encoding);
        decodeWeb(encoding, body.getData() + mark, body.getSize() - mark, utf8);
    }
    utf8.replaceChar(0, ' ');
}

bool namedCharsetTextUtf8(const char* charset, const DataBuffer& bytes, DataBuffer& utf8) {
    // The name read as the library's writers read a caller's ("ansi" too),
    // so that text written in a charset reads back in it.
    _tsCharset named;
    named.setByName(charset);
    // "utf-16" and "utf-32" leave the byte order to a mark, which python's
    // codecs of those names follow and drop.
    unsigned int mark = 0;
    const int page = pageByMark(charset, named.getCodePage(), bytes.getData(), bytes.getSize(), mark);
    // Every name but the machine's own pages' ("ansi", "oem", which only the
    // writers read) is one the library must decode whole: ISO-2022-JP-2 is
    // more than the page it maps to reads.
    const bool machinePage = page != 0 && EncodingConvert::charsetToCodePage(charset) == 0;
    utf8.clear();
    EncodingConvert conv;
    std::uint64_t replaced = 0;
    if (page == 0 || (!machinePage && !EncodingConvert::decodesCharsetName(charset)) ||
        !conv.decodeToUtf8(page, bytes.getData() + mark, bytes.getSize() - mark, utf8, replaced)) {
        utf8.clear();
        return false;
    }
    utf8.replaceChar(0, ' ');
    return true;
}

bool pageTextUtf8(int page, const unsigned char* bytes, unsigned int count, DataBuffer& utf8) {
    if (page == 0 || !EncodingConvert::isSupportedPage(page))
        return false;
    DataBuffer text;
    EncodingConvert conv;
    std::uint64_t replaced = 0;
    if (!conv.decodeToUtf8(page, bytes, count, text, replaced))
        return false;
    text.replaceChar(0, ' ');
    return utf8.appendDb(text);
}

void pageTextToUtf8(int page, StringBuffer& text) {
    DataBuffer utf8;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.getString());
    const auto n = static_cast<unsigned int>(text.getSize());
    if (!pageTextUtf8(page, bytes, n, utf8))
        pageTextUtf8(static_cast<int>(platform::kCodePageUtf8), bytes, n, utf8);
    text.clear();
    text.appendDb(utf8);
}

} // namespace tessik
