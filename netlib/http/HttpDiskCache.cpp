// The engine's side of the ".dat" response cache: the lookup before a GET,
// the expiry of a response and its storing.
#include <cstring>
#include <string>

#include "netlib/core/LogBase.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/MimeField.h"
#include "netlib/text/DateParser.h"
#include "platform/ByteOrder.h"

namespace tessik {

using namespace cache_fmt;

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::uint32_t kSecondsPerMinute = 60;
// A fresh period shorter than this is taken as this.
constexpr std::uint64_t kMinFreshSeconds = 600;
constexpr double kPercent = 100.0;
// Larger delta-seconds count as this (RFC 9111, 1.2.2).
constexpr std::uint64_t kMaxDeltaSeconds = 2147483648ULL;

// delta-seconds: digits only.
bool readDeltaSeconds(const std::string& text, std::uint64_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = 0;
    for (char c : text) {
        out = out * 10 + static_cast<std::uint64_t>(c - '0');
        if (out > kMaxDeltaSeconds) {
            out = kMaxDeltaSeconds;
            break;
        }
    }
    return true;
}

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool equalsNoCase(const std::string& a, const char* b) {
    return StringBuffer(a.c_str()).equalsNoCase(b);
}

void takeDirective(const std::string& piece, CacheDirectives& out) {
    const std::size_t eq = piece.find('=');
    const std::string name = trimmed(piece.substr(0, eq));
    std::string value = eq == std::string::npos ? std::string() : trimmed(piece.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    std::uint64_t seconds = 0;
    if (equalsNoCase(name, "no-store")) {
        out.noStore = true;
    } else if (equalsNoCase(name, "no-cache")) {
        out.noCache = true;
    } else if (equalsNoCase(name, "max-age") && !out.hasMaxAge && readDeltaSeconds(value, seconds)) {
        out.hasMaxAge = true;
        out.maxAge = seconds;
    } else if (equalsNoCase(name, "s-maxage") && readDeltaSeconds(value, seconds) && seconds == 0) {
        out.sMaxAgeZero = true;
    }
}

} // namespace

void readCacheDirectives(const HttpResponseHeader& header, const char* fieldName, CacheDirectives& out) {
    const MimeHeader& fields = header.getFields();
    for (int i = 0; i < fields.getCount(); ++i) {
        const MimeField* f = fields.getFieldAt(i);
        if (!f->nameEquals(fieldName))
            continue;
        const std::string value = f->getValueSb().getString();
        std::string piece;
        bool quoted = false;
        for (char c : value) {
            if (c == '"')
                quoted = !quoted;
            if (c == ',' && !quoted) {
                takeDirective(piece, out);
                piece.clear();
            } else {
                piece.push_back(c);
            }
        }
        takeDirective(piece, out);
    }
}

namespace {

// A field's value, trimmed; empty when there is none.
std::string fieldText(const HttpResponseHeader& header, const char* name) {
    StringBuffer value;
    header.getField(name, value);
    value.trimWhitespace();
    return value.getString();
}

// The instant a date field names, as an OLE date in UTC.
bool fieldDate(const HttpResponseHeader& header, const char* name, double& ole) {
    const std::string text = fieldText(header, name);
    SysTimeValue t;
    if (text.empty() || !DateParser().parseDate(text.c_str(), t))
        return false;
    ole = t.toOleDate();
    return true;
}

// Expiry is reckoned in UTC, where the dates of the fields are, and stored
// in local time, where the cache compares it with the clock: this is the
// one place it crosses over.
void localExpiry(double utcOle, SysTimeValue& out) {
    SysTimeValue utc;
    utc.setFromOleDate(utcOle);
    if (!utc.toLocalTime(out)) {
        out = utc;
        out.isLocal = 1;
    }
}

void logDate(LogBase& log, const char* tag, SysTimeValue t) {
    StringBuffer text;
    t.getRfc822String(text);
    log.logData(tag, text.getString());
}

} // namespace

void HttpClient::lookupCache(const char* url, HttpControl& options, Output& out, HttpResult& result, bool& expired,
                             StringBuffer& etag, StringBuffer& lastModified, LogBase& log) {
    expired = false;
    if (!options.cacheControl.fetchFromCache)
        return;
    ClsCache2& cache = options.cache;
    DataBuffer data;
    LogNull quiet;
    if (!cache.fetchEntry(url, data, quiet) || data.getSize() <= kMinCachedResponse)
        return;
    const std::uint32_t size = data.getSize();
    const auto bodyAt = static_cast<std::int32_t>(platform::LoadLe32(data.getData()));
    // The head text lies between the length and the body.
    if (bodyAt < static_cast<std::int32_t>(kCachedHeadOffset) || static_cast<std::uint32_t>(bodyAt) > size) {
        log.logError(cache_msg::kBadOffset);
        log.logDataLong("offset", bodyAt);
        log.logDataLong("dbSize", static_cast<int>(size));
        return;
    }
    const auto headEnd = static_cast<std::uint32_t>(bodyAt);
    HttpResponseHeader head;
    if (!head.parseKeptHead(data.getData() + kCachedHeadOffset, headEnd - kCachedHeadOffset, log) ||
        head.getStatusCode() == 0) {
        log.logError(cache_msg::kBadCachedHead);
        return;
    }
    const bool stale = cache.isLastFetchExpired();
    // A file could not give the copy back after a 304: ask for it whole.
    if (stale && out.getDataBuffer() == nullptr)
        return;
    // An entry kept before bodies were kept unpacked names its codings:
    // undone as on the wire, or it answers nothing.
    const unsigned char* content = data.getData() + headEnd;
    std::uint32_t contentSize = size - headEnd;
    DataBuffer unpacked;
    if (hasContentCoding(head)) {
        if (!unpacked.append(content, contentSize) ||
            !undoContentCodings(head, unpacked, options.MaxResponseSize, log, nullptr))
            return;
        content = unpacked.getData();
        contentSize = unpacked.getSize();
    }
    // The head is the answer's before its body goes out: an output judges
    // the body by it.
    result.responseHeader.copyFrom(head);
    if (contentSize != 0 && out.writeBytes(content, contentSize, 1, nullptr, log) != 1) {
        result.responseHeader.clear();
        return;
    }
    if (stale) {
        log.logInfo(cache_msg::kExpired);
        expired = true;
        cache.getLastEtag(etag);
        // The server's own date of the copy is what it compares with.
        head.getField("Last-Modified", lastModified);
        SysTimeValue expiry;
        cache.getLastExpiration(expiry);
        log.logData("ExpiredEtag", etag.getString());
        logDate(log, "ExpiredDateTime", expiry);
    }
    result.cacheState = 1;
    log.logInfo(cache_msg::kHit);
}

void HttpClient::computeCacheExpiry(HttpControl& options, const HttpResponseHeader& header, SysTimeValue& expiry) {
    const CacheControl& settings = options.cacheControl;
    SysTimeValue nowUtc;
    nowUtc.setCurrentUtc();
    const double now = nowUtc.toOleDate();
    CacheDirectives directives;
    readCacheDirectives(header, "Cache-Control", directives);
    double expires = 0.0;
    double lastModified = 0.0;
    // max-age wins over Expires (RFC 9111, 5.3); an Expires that is no
    // date is already past.
    if (directives.hasMaxAge) {
        localExpiry((now * kSecondsPerDay + static_cast<double>(directives.maxAge)) / kSecondsPerDay, expiry);
    } else if (!fieldText(header, "Expires").empty()) {
        localExpiry(fieldDate(header, "Expires", expires) ? expires : now, expiry);
    } else if (settings.freshnessAlgorithm == 1 && fieldDate(header, "Last-Modified", lastModified) &&
               now > lastModified) {
        localExpiry(now + (now - lastModified) * settings.lmFactor / kPercent, expiry);
    } else {
        std::uint64_t seconds = static_cast<std::uint64_t>(settings.defaultFreshPeriod) * kSecondsPerMinute;
        if (seconds < kMinFreshSeconds)
            seconds = kMinFreshSeconds;
        localExpiry((now * kSecondsPerDay + static_cast<double>(seconds)) / kSecondsPerDay, expiry);
    }
}

void HttpClient::updateCacheFromResponse(HttpControl& options, HttpResult& result, const DataBuffer& body,
                                         const char* url, LogBase& log) {
    const CacheControl& settings = options.cacheControl;
    // Without a root folder there is no cache to keep it in.
    if (!settings.updateCache || options.cache.numRoots() == 0)
        return;
    const HttpResponseHeader& header = result.responseHeader;
    const std::uint32_t status = header.getStatusCode();
    if (status != http_status::kOk) {
        if (status != http_status::kNotModified)
            log.logDataLong("statusCode", static_cast<int>(status));
        log.logInfo(cache_msg::kNotStoredStatus);
        return;
    }
    CacheDirectives directives;
    readCacheDirectives(header, "Cache-Control", directives);
    // no-store is kept nowhere, whatever the settings say.
    if (directives.noStore || (!settings.ignoreNoCache && (directives.noCache || directives.sMaxAgeZero ||
                                                           (directives.hasMaxAge && directives.maxAge == 0)))) {
        log.logInfo(cache_msg::kNotStoredDirective);
        return;
    }
    if (!settings.ignoreNoCache) {
        CacheDirectives pragma;
        readCacheDirectives(header, "Pragma", pragma);
        if (pragma.noCache) {
            log.logInfo(cache_msg::kNotStoredPragma);
            return;
        }
        double expires = 0.0;
        const std::string expiresText = fieldText(header, "Expires");
        // "0", like any Expires that is no date, is a time already past.
        if (!directives.hasMaxAge && !expiresText.empty() && !fieldDate(header, "Expires", expires)) {
            log.logInfo(cache_msg::kNotStoredExpires0);
            return;
        }
    }
    log.logData("UrlToCache", url);
    StringBuffer etag;
    header.getField("ETag", etag);
    SysTimeValue expiry;
    computeCacheExpiry(options, header, expiry);
    logDate(log, "NewExpireTime", expiry);
    log.logData("Etag", etag.getString());

    // The head is kept in UTF-8, the form it is read back in.
    StringBuffer headText;
    storedHead(result, headText);
    DataBuffer data;
    unsigned char bodyAt[4];
    platform::StoreLe32(bodyAt, kCachedHeadOffset + static_cast<std::uint32_t>(headText.getSize()));
    const bool built = data.append(bodyAt, sizeof bodyAt) && data.appendSb(headText) && data.appendDb(body);
    if (built && options.cache.SaveToCache2(url, expiry, etag.getString(), data, log))
        log.logInfo(cache_msg::kUpdated);
    else
        log.logError(cache_msg::kNotUpdated);
}

} // namespace tessik
