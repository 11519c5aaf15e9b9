#pragma once
// The parsed head of one HTTP response, and the bookkeeping of one
// request/response exchange around it.
#include <cstdint>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/MimeHeader.h"

namespace tessik {

class ExtPtrArray;
class LogBase;

namespace http_head {
inline constexpr const char* kMsgNulInHead = "Response header contains a NUL byte.";
inline constexpr const char* kMsgBadContentLength = "Invalid Content-Length in response header.";
inline constexpr const char* kMsgUnknownTransferCoding = "Unsupported Transfer-Encoding in response header.";
// 19 digits always fit a signed 64-bit length.
inline constexpr int kMaxLengthDigits = 18;
inline constexpr int kStatusDigits = 3;
} // namespace http_head

class HttpResponseHeader {
public:
    HttpResponseHeader();
    virtual ~HttpResponseHeader();
    HttpResponseHeader(const HttpResponseHeader&) = delete;
    HttpResponseHeader& operator=(const HttpResponseHeader&) = delete;

    // The head as bytes: a status line, fields and the empty line that ends
    // them, lines ending in CR LF or LF alone. False (status 0, no fields)
    // when it is no HTTP head: no "HTTP/" version, no three-digit status, or
    // a NUL byte anywhere.
    bool parseBytes(const unsigned char* data, std::uint32_t size, LogBase& log);
    bool parseBytes(const DataBuffer& bytes, LogBase& log);
    // A head a cache kept (getKeptHead): its fields, when they are UTF-8
    // text, are read as such, not in a page found for their bytes.
    bool parseKeptHead(const unsigned char* data, std::uint32_t size, LogBase& log);
    bool parse(const char* text, LogBase& log);
    void clear();
    void resetTo200();
    void copyFrom(const HttpResponseHeader& other);

    std::uint32_t getStatusCode() const { return m_statusCode; }
    const StringBuffer& getStatusText() const { return m_statusText; }
    const StringBuffer& getStatusLine() const { return m_statusLine; }
    // 0 unless a valid Content-Length was given.
    std::int64_t getContentLength() const { return m_contentLength; }
    // Whether any Content-Length field is present, valid or not.
    bool hasContentLength() const { return m_hasContentLength != 0; }
    // Present and not a non-negative decimal number (after optional blanks;
    // repeats, in one field or several, must agree), or folded.
    bool contentLengthInvalid() const { return m_contentLengthInvalid != 0; }
    // Whether a Content-Range field ("bytes FIRST-LAST/LENGTH", RFC 9110
    // section 14.4) begins at first: a 206 without one is part of nothing
    // known.
    bool contentRangeBeginsAt(std::int64_t first) const;
    // Whether a Content-Range field is "bytes */LENGTH" of that length: a
    // 416's word that the resource has length bytes.
    bool contentRangeUnsatisfiedOf(std::int64_t length) const;
    // The fields are taken apart when first asked for; a plain head's
    // single fields are read straight from its lines until then.
    const MimeHeader& getFields() const;

    bool getField(const char* name, StringBuffer& out) const;
    // The values of every field of that name, in order: the one list
    // repeated fields make (RFC 9110 section 5.3).
    void getFieldValues(const char* name, std::vector<std::string>& out) const;
    bool hasField(const char* name) const;
    bool getFieldParam(const char* name, const char* paramName, StringBuffer& out) const;
    void getCharset(StringBuffer& out) const;
    bool fieldMatches(const char* name, const char* pattern) const;
    // The value of the first field of that name matching the pattern ('*'
    // any run, ASCII case ignored).
    bool getFieldMatching(const char* name, const char* pattern, StringBuffer& out) const;
    bool offersNtlm() const { return getFields().fieldValueEquals("WWW-Authenticate", "NTLM"); }
    bool offersNegotiate() const { return getFields().fieldValueEquals("WWW-Authenticate", "Negotiate"); }
    void getSetCookies(ExtPtrArray& list, const char* domain) const { getFields().getSetCookies(list, domain); }

    void getFullHeader(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const;
    // The status line and the fields as a cache keeps them: each as it was
    // read (MimeHeader::AssembleKeptHead), so that the cache's answer names
    // what the server's did.
    void getKeptHead(StringBuffer& out) const;
    void getFieldsText(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const;
    void getFieldsTextUtf8(StringBuffer& out, LogBase& log, bool verbose) const;

private:
    void readContentLength(const unsigned char* fields, std::uint32_t size);
    // A plain head's field of that name as the MIME reader would give it, as
    // a span of the raw field lines; `answered` is false when the name is one
    // it reads specially (and for none).
    bool rawField(const char* name, const char*& value, std::size_t& size, bool& answered) const;

    std::uint32_t m_statusCode;
    StringBuffer m_statusText;
    StringBuffer m_statusLine;
    // The field lines as received, and whether they hold nothing for the
    // MIME reader to decode.
    StringBuffer m_rawFields;
    bool m_plainFields;
    // A kept head's fields, read as UTF-8 text.
    bool m_utf8Fields;
    mutable bool m_fieldsBuilt;
    mutable MimeHeader m_fields;
    std::int64_t m_contentLength;
    std::uint8_t m_hasContentLength;
    std::uint8_t m_contentLengthInvalid;
};

// The body's text as UTF-8, its charset found as its Content-Type's media
// type has it (bodyTextUtf8): one reading for every road that hands a body
// out as text.
void responseBodyText(const HttpResponseHeader& header, const DataBuffer& body, DataBuffer& utf8, LogBase& log);

class HttpResult {
public:
    HttpResult();
    virtual ~HttpResult();
    HttpResult(const HttpResult&) = delete;
    HttpResult& operator=(const HttpResult&) = delete;

    void clear();
    void clearForRetry();
    void copyFrom(const HttpResult& other);

    std::uint8_t redirectPending;
    StringBuffer redirectUrl;
    std::uint32_t redirectFailed;
    std::uint32_t cacheState; // 0 none, 1 entry found, 2 negative entry found
    std::uint32_t driverCount;
    std::uint8_t fromCache;
    std::uint8_t connectionFailed;
    // The body was read still in the answer's content codings, which the
    // road undoes when it hands the answer over (a redirect it follows is
    // not judged); a cache's copy never is.
    std::uint8_t bodyCoded;
    // The body is in a coding the caller asked for itself: it goes as it came.
    std::uint8_t codingAsked;
    // A resume found the file whole already: a 416 named its length.
    std::uint8_t alreadyWhole;
    std::uint8_t spareFlags[2];
    HttpResponseHeader responseHeader;
    StringBuffer keptText;
    StringBuffer requestHeaderText;
    std::uint8_t exchangeFlags[4];
};

} // namespace tessik
