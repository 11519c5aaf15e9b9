#include "netlib/http/HttpResponseHeader.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/MimeField.h"
#include "netlib/text/BodyText.h"
#include "platform/Cp1252Text.h"

namespace tessik {

namespace {

constexpr char kContentLengthName[] = "content-length";
constexpr std::uint32_t kContentLengthNameSize = sizeof kContentLengthName - 1;

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The end of the line that starts at `at` (the index of its LF, or `size`)
// and its length without a CR before the LF.
std::uint32_t lineEnd(const unsigned char* p, std::uint32_t size, std::uint32_t at, std::uint32_t& textLength) {
    const void* found = at < size ? std::memchr(p + at, '\n', size - at) : nullptr;
    const std::uint32_t lf = found != nullptr ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(found) - p)
                                              : (at < size ? size : at);
    textLength = lf - at;
    if (textLength > 0 && p[lf - 1] == '\r')
        --textLength;
    return lf;
}

// One Content-Length value: decimal items separated by commas, each with
// optional blanks around it, all the same number.
bool readLengthValue(const unsigned char* p, std::uint32_t n, std::int64_t& value, bool& seen) {
    std::uint32_t i = 0;
    for (;;) {
        while (i < n && isBlank(p[i]))
            ++i;
        std::int64_t item = 0;
        int digits = 0;
        for (; i < n && isDigit(p[i]); ++i) {
            if (++digits > http_head::kMaxLengthDigits)
                return false;
            item = item * 10 + (p[i] - '0');
        }
        if (digits == 0 || (seen && item != value))
            return false;
        value = item;
        seen = true;
        while (i < n && isBlank(p[i]))
            ++i;
        if (i == n)
            return true;
        if (p[i++] != ',')
            return false;
    }
}

} // namespace

HttpResponseHeader::HttpResponseHeader()
    : m_statusCode(0), m_plainFields(false), m_utf8Fields(false), m_fieldsBuilt(true), m_contentLength(0),
      m_hasContentLength(0), m_contentLengthInvalid(0) {}
HttpResponseHeader::~HttpResponseHeader() = default;

void HttpResponseHeader::clear() {
    m_fields.clear();
    m_rawFields.clear();
    m_plainFields = false;
    m_utf8Fields = false;
    m_fieldsBuilt = true;
    m_statusText.clear();
    m_statusLine.clear();
    m_contentLength = 0;
    m_statusCode = 0;
    m_hasContentLength = 0;
    m_contentLengthInvalid = 0;
}

void HttpResponseHeader::resetTo200() {
    m_statusCode = http_status::kOk;
    m_statusText.clear();
    m_fields.clear();
    m_rawFields.clear();
    m_plainFields = false;
    m_utf8Fields = false;
    m_fieldsBuilt = true;
    m_contentLength = 0;
    m_hasContentLength = 0;
    m_contentLengthInvalid = 0;
}

void HttpResponseHeader::copyFrom(const HttpResponseHeader& other) {
    m_contentLength = other.m_contentLength;
    m_hasContentLength = other.m_hasContentLength;
    m_contentLengthInvalid = other.m_contentLengthInvalid;
    m_statusCode = other.m_statusCode;
    m_statusLine.setSb(other.m_statusLine);
    m_statusText.setSb(other.m_statusText);
    m_fields.copyFrom(other.getFields());
    m_rawFields.setSb(other.m_rawFields);
    m_plainFields = other.m_plainFields;
    m_utf8Fields = other.m_utf8Fields;
    m_fieldsBuilt = true;
}

bool HttpResponseHeader::parseBytes(const DataBuffer& bytes, LogBase& log) {
    return parseBytes(bytes.getData(), bytes.getSize(), log);
}

bool HttpResponseHeader::parseKeptHead(const unsigned char* data, std::uint32_t size, LogBase& log) {
    const bool ok = parseBytes(data, size, log);
    m_utf8Fields = ok && !m_plainFields &&
                   platform::IsValidUtf8(
                       std::string_view(m_rawFields.getString(), static_cast<std::size_t>(m_rawFields.getSize())));
    return ok;
}

bool HttpResponseHeader::parse(const char* text, LogBase& log) {
    clear();
    if (text == nullptr)
        return false;
    return parseBytes(reinterpret_cast<const unsigned char*>(text), static_cast<std::uint32_t>(std::strlen(text)), log);
}

bool HttpResponseHeader::parseBytes(const unsigned char* p, std::uint32_t size, LogBase& log) {
    clear();
    if (p == nullptr)
        return false;
    std::uint32_t lineLength = 0;
    const std::uint32_t firstLf = lineEnd(p, size, 0, lineLength);
    m_statusLine.appendBytes(p, static_cast<int>(lineLength));
    // A NUL would cut every C-string view of the head short: refused whole,
    // as curl refuses it.
    if (std::memchr(p, 0, size) != nullptr) {
        m_statusLine.clear();
        log.logError(http_head::kMsgNulInHead);
        return false;
    }
    // "HTTP/" and a version, blanks, exactly three digits, then a blank or
    // the end, and an optional reason phrase.
    const char* line = m_statusLine.getString();
    if (std::strncmp(line, "HTTP/", 5) != 0)
        return false;
    const char* q = line + 5;
    while (*q != '\0' && !isBlank(static_cast<unsigned char>(*q)))
        ++q;
    while (isBlank(static_cast<unsigned char>(*q)))
        ++q;
    std::uint32_t code = 0;
    int digits = 0;
    for (; isDigit(static_cast<unsigned char>(*q)); ++q, ++digits)
        code = code * 10 + static_cast<std::uint32_t>(*q - '0');
    if (digits != http_head::kStatusDigits || code < http_status::kContinue ||
        (*q != '\0' && !isBlank(static_cast<unsigned char>(*q))))
        return false;
    m_statusCode = code;
    m_statusText.append(q);
    m_statusText.trimWhitespace();

    // The field lines run up to the empty line.
    std::uint32_t at = firstLf + 1;
    const std::uint32_t fieldsStart = at < size ? at : size;
    std::uint32_t fieldsEnd = fieldsStart;
    while (at < size) {
        const std::uint32_t lf = lineEnd(p, size, at, lineLength);
        if (lineLength == 0)
            break;
        at = lf + 1;
        fieldsEnd = at < size ? at : size;
    }
    readContentLength(p + fieldsStart, fieldsEnd - fieldsStart);
    if (fieldsEnd != fieldsStart) {
        m_rawFields.appendBytes(p + fieldsStart, static_cast<int>(fieldsEnd - fieldsStart));
        m_plainFields = MimeHeader::isPlainHttpHead(p + fieldsStart, fieldsEnd - fieldsStart);
        m_fieldsBuilt = false;
    }
    return true;
}

void HttpResponseHeader::readContentLength(const unsigned char* p, std::uint32_t size) {
    std::int64_t value = 0;
    bool seen = false;
    std::uint32_t at = 0;
    while (at < size) {
        std::uint32_t lineLength = 0;
        const std::uint32_t lf = lineEnd(p, size, at, lineLength);
        const unsigned char* line = p + at;
        at = lf + 1;
        if (lineLength < kContentLengthNameSize + 1 ||
            asciiToLower(static_cast<char>(line[0])) != kContentLengthName[0] ||
            asciiCompareNoCase(reinterpret_cast<const char*>(line), kContentLengthName,
                               static_cast<int>(kContentLengthNameSize)) != 0)
            continue;
        std::uint32_t i = kContentLengthNameSize;
        while (i < lineLength && isBlank(line[i]))
            ++i;
        if (i == lineLength || line[i] != ':')
            continue;
        m_hasContentLength = 1;
        // A value folded onto the next line is not taken apart.
        const bool folded = at < size && isBlank(p[at]);
        if (folded || !readLengthValue(line + i + 1, lineLength - i - 1, value, seen)) {
            m_contentLengthInvalid = 1;
            m_contentLength = 0;
            return;
        }
    }
    m_contentLength = seen ? value : 0;
}

const MimeHeader& HttpResponseHeader::getFields() const {
    if (!m_fieldsBuilt) {
        m_fieldsBuilt = true;
        LogNull quiet;
        m_fields.parseHttpFields(reinterpret_cast<const unsigned char*>(m_rawFields.getString()),
                                 static_cast<std::uint32_t>(m_rawFields.getSize()), quiet, m_utf8Fields);
    }
    return m_fields;
}

namespace {

// What follows the unit of a Content-Range in bytes ("bytes 0-3/8" gives
// "0-3/8"), null for none; end is where the field's value ends.
const char* byteRangeOf(const HttpResponseHeader& header, StringBuffer& range, const char*& end) {
    if (!header.getField("Content-Range", range))
        return nullptr;
    range.trimWhitespace();
    constexpr const char* kUnit = "bytes ";
    if (!range.beginsWithNoCase(kUnit))
        return nullptr;
    const char* p = range.getString() + std::strlen(kUnit);
    end = range.getString() + range.getSize();
    while (*p == ' ')
        ++p;
    return p;
}

} // namespace

bool HttpResponseHeader::contentRangeBeginsAt(std::int64_t first) const {
    StringBuffer range;
    const char* end = nullptr;
    const char* p = byteRangeOf(*this, range, end);
    if (p == nullptr)
        return false;
    std::int64_t value = 0;
    const std::from_chars_result read = std::from_chars(p, end, value);
    return *p != '-' && read.ec == std::errc() && read.ptr != end && *read.ptr == '-' && value == first;
}

bool HttpResponseHeader::contentRangeUnsatisfiedOf(std::int64_t length) const {
    StringBuffer range;
    const char* end = nullptr;
    const char* p = byteRangeOf(*this, range, end);
    constexpr std::string_view kUnsatisfied = "*/";
    if (p == nullptr || !std::string_view(p, static_cast<std::size_t>(end - p)).starts_with(kUnsatisfied))
        return false;
    p += kUnsatisfied.size();
    std::int64_t value = 0;
    const std::from_chars_result read = std::from_chars(p, end, value);
    return *p != '-' && read.ec == std::errc() && read.ptr == end && value == length;
}

namespace {

// Names whose values the MIME reader rewrites: never read from the raw lines.
bool rewrittenByReader(const char* name, std::size_t nameSize) {
    for (const char* special : {"subject", "to", "cc", "bcc", "received", "dkim-signature", "domainkey-signature"})
        if (std::strlen(special) == nameSize && asciiCompareNoCase(name, special, nameSize) == 0)
            return true;
    return false;
}

// Calls each(value, size) for every field of that name in a plain head's
// lines, in order, the value trimmed as the reader trims it (blanks and
// line-end bytes), until each returns false.
template <typename Each>
void forEachRawField(const StringBuffer& raw, const char* name, std::size_t nameSize, Each each) {
    const char* text = raw.getString();
    const char* end = text + raw.getSize();
    auto white = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (const char* line = text; line < end;) {
        const char* lf = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        const char* lineEnd = lf != nullptr ? lf : end;
        const char* next = lf != nullptr ? lf + 1 : end;
        const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<std::size_t>(lineEnd - line)));
        if (colon == nullptr || (lineEnd - line >= 5 && *line == 'F' && std::memcmp(line, "From ", 5) == 0)) {
            line = next;
            continue;
        }
        const char* n0 = line;
        const char* n1 = colon;
        while (n0 < n1 && white(*n0))
            ++n0;
        while (n1 > n0 && white(n1[-1]))
            --n1;
        bool same = static_cast<std::size_t>(n1 - n0) == nameSize;
        for (std::size_t i = 0; same && i < nameSize; ++i) {
            // The reader writes blanks, angle brackets and quotes in a name as '-'.
            const char c = n0[i];
            const bool dashed = c == ' ' || c == '<' || c == '>' || c == '"' || c == '\'';
            same = asciiToLower(dashed ? '-' : c) == asciiToLower(name[i]);
        }
        if (same) {
            const char* v0 = colon + 1;
            const char* v1 = lineEnd;
            while (v0 < v1 && white(*v0))
                ++v0;
            while (v1 > v0 && white(v1[-1]))
                --v1;
            if (!each(v0, static_cast<std::size_t>(v1 - v0)))
                return;
        }
        line = next;
    }
}

} // namespace

bool HttpResponseHeader::rawField(const char* name, const char*& value, std::size_t& size, bool& answered) const {
    answered = false;
    if (m_fieldsBuilt || !m_plainFields || name == nullptr)
        return false;
    const std::size_t nameSize = std::strlen(name);
    // Names whose values the MIME reader rewrites go through it.
    if (rewrittenByReader(name, nameSize))
        return false;
    answered = true;
    // The reader finds no field by an empty name.
    if (nameSize == 0)
        return false;
    const bool lastWins =
        nameSize == sizeof "content-type" - 1 && asciiCompareNoCase(name, "content-type", nameSize) == 0;
    bool found = false;
    forEachRawField(m_rawFields, name, nameSize, [&](const char* v, std::size_t n) {
        value = v;
        size = n;
        found = true;
        return lastWins;
    });
    return found;
}

void HttpResponseHeader::getFieldValues(const char* name, std::vector<std::string>& out) const {
    out.clear();
    if (name == nullptr || *name == '\0')
        return;
    const std::size_t nameSize = std::strlen(name);
    if (!m_fieldsBuilt && m_plainFields && !rewrittenByReader(name, nameSize)) {
        forEachRawField(m_rawFields, name, nameSize, [&](const char* v, std::size_t n) {
            out.emplace_back(v, n);
            return true;
        });
        return;
    }
    const MimeHeader& fields = getFields();
    for (int i = 0; i < fields.getCount(); ++i) {
        const MimeField* f = fields.getFieldAt(i);
        if (f->nameEquals(name))
            out.emplace_back(f->getValueSb().getString(), static_cast<std::size_t>(f->getValueSb().getSize()));
    }
}

bool HttpResponseHeader::getField(const char* name, StringBuffer& out) const {
    bool answered = false;
    const char* value = nullptr;
    std::size_t size = 0;
    const bool found = rawField(name, value, size, answered);
    if (!answered)
        return getFields().getFieldValueSilent(name, out);
    if (found)
        out.appendBytes(value, static_cast<int>(size));
    return found;
}

bool HttpResponseHeader::hasField(const char* name) const {
    bool answered = false;
    const char* value = nullptr;
    std::size_t size = 0;
    const bool found = rawField(name, value, size, answered);
    return answered ? found : getFields().hasField(name);
}

bool HttpResponseHeader::getFieldParam(const char* name, const char* paramName, StringBuffer& out) const {
    return getFields().getFieldParam(name, paramName, out);
}

void HttpResponseHeader::getCharset(StringBuffer& out) const {
    out.clear();
    getFields().getFieldParam("Content-Type", "charset", out);
}

bool HttpResponseHeader::fieldMatches(const char* name, const char* pattern) const {
    return getFields().fieldMatches(name, pattern, true);
}

bool HttpResponseHeader::getFieldMatching(const char* name, const char* pattern, StringBuffer& out) const {
    out.clear();
    const MimeHeader& fields = getFields();
    for (int i = 0; i < fields.getCount(); ++i) {
        const MimeField* f = fields.getFieldAt(i);
        if (f->nameEquals(name) && wildcardMatch(f->getValueSb().getString(), pattern, false)) {
            f->getValue(out);
            return true;
        }
    }
    return false;
}

void HttpResponseHeader::getFullHeader(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const {
    out.clear();
    out.appendSb(m_statusLine);
    out.append("\r\n");
    getFields().AssembleMimeHeader(out, nullptr, charset, false, log, verbose);
}

void HttpResponseHeader::getKeptHead(StringBuffer& out) const {
    out.clear();
    out.appendSb(m_statusLine);
    out.append("\r\n");
    getFields().AssembleKeptHead(out);
}

void HttpResponseHeader::getFieldsText(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const {
    getFields().AssembleMimeHeader(out, nullptr, charset, false, log, verbose);
}

void HttpResponseHeader::getFieldsTextUtf8(StringBuffer& out, LogBase& log, bool verbose) const {
    getFields().AssembleMimeHeader(out, nullptr, "utf-8", false, log, verbose);
}

void responseBodyText(const HttpResponseHeader& header, const DataBuffer& body, DataBuffer& utf8, LogBase& log) {
    StringBuffer type;
    StringBuffer charset;
    header.getField("content-type", type);
    header.getCharset(charset);
    bodyTextUtf8(type.getString(), charset.getString(), body, utf8, log);
}

HttpResult::HttpResult()
    : redirectPending(0), redirectFailed(0), cacheState(0), driverCount(0), fromCache(0), connectionFailed(0),
      bodyCoded(0), codingAsked(0), alreadyWhole(0), spareFlags{0, 0}, exchangeFlags{0, 0, 0, 0} {}

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
    bodyCoded = 0;
    codingAsked = 0;
    alreadyWhole = 0;
}

void HttpResult::copyFrom(const HttpResult& other) {
    redirectPending = other.redirectPending;
    redirectUrl.setSb(other.redirectUrl);
    redirectFailed = other.redirectFailed;
    cacheState = other.cacheState;
    driverCount = other.driverCount;
    fromCache = other.fromCache;
    connectionFailed = other.connectionFailed;
    bodyCoded = other.bodyCoded;
    codingAsked = other.codingAsked;
    alreadyWhole = other.alreadyWhole;
    std::memcpy(spareFlags, other.spareFlags, sizeof spareFlags);
    responseHeader.copyFrom(other.responseHeader);
    keptText.setSb(other.keptText);
    requestHeaderText.setSb(other.requestHeaderText);
    std::memcpy(exchangeFlags, other.exchangeFlags, sizeof exchangeFlags);
}

} // namespace tessik
