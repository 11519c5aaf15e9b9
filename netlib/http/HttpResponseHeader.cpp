#include "netlib/http/HttpResponseHeader.h"

#include <cstdint>
#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"

namespace tessik {

namespace {

constexpr const char* kContentLengthMarker = "\r\nContent-Length:";

std::int64_t readDecimal(const char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    std::int64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int d = *p - '0';
        // A length past 64 bits saturates rather than wrapping.
        if (n > (INT64_MAX - d) / 10)
            return INT64_MAX;
        n = n * 10 + d;
    }
    return n;
}

} // namespace

HttpResponseHeader::HttpResponseHeader() : m_statusCode(0), m_contentLength(0), m_hasContentLength(0) {}
HttpResponseHeader::~HttpResponseHeader() = default;

void HttpResponseHeader::clear() {
    m_fields.clear();
    m_statusText.clear();
    m_statusLine.clear();
    m_contentLength = 0;
    m_statusCode = 0;
    m_hasContentLength = 0;
}

void HttpResponseHeader::resetTo200() {
    m_statusCode = 200;
    m_statusText.clear();
    m_fields.clear();
    m_contentLength = 0;
    m_hasContentLength = 0;
}

void HttpResponseHeader::copyFrom(const HttpResponseHeader& other) {
    m_contentLength = other.m_contentLength;
    m_statusCode = other.m_statusCode;
    m_statusText.setSb(other.m_statusText);
    m_fields.copyFrom(other.m_fields);
}

void HttpResponseHeader::parseBytes(const DataBuffer& bytes, LogBase& log) {
    StringBuffer text;
    text.appendDb(bytes);
    parse(text.getString(), log);
}

void HttpResponseHeader::parse(const char* text, LogBase& log) {
    clear();
    if (!text)
        return;
    const char* cr = std::strchr(text, '\r');
    if (cr)
        m_statusLine.appendBytes(text, static_cast<int>(cr - text));
    if (std::strncmp(text, "HTTP", 4) != 0)
        return;
    const char* space = std::strchr(text, ' ');
    if (!space || (cr && space > cr))
        return;
    const char* digits = space + 1;
    if (*digits < '0' || *digits > '9')
        return;
    std::uint32_t code = 0;
    while (*digits >= '0' && *digits <= '9' && code < 100000)
        code = code * 10 + static_cast<std::uint32_t>(*digits++ - '0');
    m_statusCode = code;
    if (!cr)
        return;
    // The reason phrase is optional; its absence does not cost the fields.
    const char* second = std::strchr(space + 1, ' ');
    if (second && second < cr) {
        m_statusText.appendBytes(second + 1, static_cast<int>(cr - second - 1));
        m_statusText.trimWhitespace();
    }
    if (const char* cl = findSubstringNoCase(text, kContentLengthMarker)) {
        m_hasContentLength = 1;
        m_contentLength = readDecimal(cl + std::strlen(kContentLengthMarker));
    }
    const char* rest = cr;
    while (*rest == '\r' || *rest == '\n' || *rest == ' ' || *rest == '\t')
        ++rest;
    m_fields.ParseMimeHeader(rest, log, false);
}

bool HttpResponseHeader::getField(const char* name, StringBuffer& out) const {
    return m_fields.getFieldValueSilent(name, out);
}

bool HttpResponseHeader::getFieldParam(const char* name, const char* paramName, StringBuffer& out) const {
    return m_fields.getFieldParam(name, paramName, out);
}

void HttpResponseHeader::getCharset(StringBuffer& out) const {
    out.clear();
    m_fields.getFieldParam("Content-Type", "charset", out);
}

bool HttpResponseHeader::fieldMatches(const char* name, const char* pattern) const {
    return m_fields.fieldMatches(name, pattern, true);
}

void HttpResponseHeader::getFullHeader(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const {
    out.clear();
    out.appendSb(m_statusLine);
    out.append("\r\n");
    m_fields.AssembleMimeHeader(out, nullptr, charset, false, log, verbose);
}

void HttpResponseHeader::getFieldsText(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const {
    m_fields.AssembleMimeHeader(out, nullptr, charset, false, log, verbose);
}

void HttpResponseHeader::getFieldsTextUtf8(StringBuffer& out, LogBase& log, bool verbose) const {
    m_fields.AssembleMimeHeader(out, nullptr, "utf-8", false, log, verbose);
}

HttpResult::HttpResult()
    : redirectPending(0), redirectFailed(0), cacheState(0), driverCount(0), fromCache(0),
      connectionFailed(0), spareFlags{0, 0}, exchangeFlags{0, 0, 0, 0} {}

HttpResult::~HttpResult() = default;

void HttpResult::clear() {
    clearForRetry();
    redirectPending = 0;
    redirectUrl.clear();
    spareFlags[0] = 0;
    spareFlags[1] = 0;
}

void HttpResult::clearForRetry() {
    cacheState = 0;
    driverCount = 0;
    responseHeader.clear();
    redirectFailed = 0;
    fromCache = 0;
    connectionFailed = 0;
}

void HttpResult::copyFrom(const HttpResult& other) {
    redirectPending = other.redirectPending;
    redirectUrl.setSb(other.redirectUrl);
    redirectFailed = other.redirectFailed;
    cacheState = other.cacheState;
    driverCount = other.driverCount;
    fromCache = other.fromCache;
    connectionFailed = other.connectionFailed;
    std::memcpy(spareFlags, other.spareFlags, sizeof spareFlags);
    responseHeader.copyFrom(other.responseHeader);
    keptText.setSb(other.keptText);
    requestHeaderText.setSb(other.requestHeaderText);
    std::memcpy(exchangeFlags, other.exchangeFlags, sizeof exchangeFlags);
}

} // namespace tessik
