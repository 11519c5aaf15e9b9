// How a connection reaches the response caches of its options: the lookup
// and store dispatchers, the bucket cache's store and failure record, the
// is-cached test, the host bookkeeping after a connect, and the GET road's
// use of all of them.
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/HttpCache.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/streams/Output.h"

namespace tessik {

using namespace cache_fmt;

namespace {

constexpr std::uint32_t kFirstStored = 200;
constexpr std::uint32_t kLastStored = 499;
constexpr std::uint32_t kStatusNotModified = 304;

bool bucketCacheOn(const HttpControl& options) {
    return options.useBucketCache != 0 && options.bucketCache.numRoots() != 0;
}

// A whole GET: a ranged one (resuming a download) asks for a part, which a
// cached whole must not answer nor a partial answer replace.
bool isWholeGet(const HttpControl& options) {
    return (options.HttpMethod.getSize() == 0 || options.HttpMethod.equalsNoCase("GET")) && options.ResumePoint == 0;
}

bool setsCookies(const HttpResponseHeader& header) {
    return header.hasField("Set-Cookie") || header.hasField("Set-Cookie2");
}

// The bytes an output holds in memory, or null for one that writes a file.
DataBuffer* heldBytes(Output& out) {
    auto* memory = dynamic_cast<OutputDataBuffer*>(&out);
    if (memory != nullptr && memory->isRerouted())
        return nullptr;
    return out.getDataBuffer();
}

void storeBucketEntry(const char* url, HttpControl& options, const StringBuffer& headerText, const DataBuffer& body,
                      bool isNew, LogBase& log) {
    CacheEntryFields fields;
    fields.key = url;
    fields.headerText = headerText.getString();
    fields.data = &body;
    fields.isNew = isNew;
    fields.flags = kFlagCompressed;
    fields.tag = kBucketTag;
    if (HttpClient::isUrlCached(url, options, log))
        options.bucketCache.replaceEntry(fields, log);
    else
        options.bucketCache.appendEntry(fields, log);
}

} // namespace

void HttpClient::lookupResponseCache(const char* url, HttpControl& options, Output& out, HttpResult& result,
                                     CacheRevalidation& reval, LogBase& log, ProgressMonitor* pm, bool verbose) {
    reval.revalidate = false;
    result.cacheState = 0;
    if (options.useBucketCache)
        lookupHttpCache(url, options, out, result, log, pm, verbose);
    else
        lookupCache(url, options, out, result, reval, log);
}

void HttpClient::lookupHttpCache(const char* url, HttpControl& options, Output& out, HttpResult& result, LogBase& log,
                                 ProgressMonitor*, bool) {
    const CacheControl& settings = options.cacheControl;
    if (!settings.fetchFromCache && !settings.updateCache)
        return;
    bool negative = false;
    CacheEntryInfo info;
    std::unique_ptr<CacheEntry> entry(
        options.bucketCache.numRoots() != 0 ? options.bucketCache.getEntry(url, negative, info, log) : nullptr);
    if (entry == nullptr) {
        if (negative) {
            result.cacheState = 2;
            if (!settings.negativeLookupOff && settings.fetchFromCache) {
                log.logError(cache_msg::kNegativeEntry);
                log.logData("url", url);
            }
        }
        return;
    }
    result.cacheState = 1;
    if (!settings.fetchFromCache)
        return;
    HttpResponseHeader head;
    // An entry whose head cannot be read answers nothing.
    if (!head.parse(entry->headerText().getString(), log) || head.getStatusCode() == 0 ||
        !entry->writeDataTo(out, log)) {
        result.cacheState = 0;
        return;
    }
    result.responseHeader.copyFrom(head);
}

void HttpClient::storeResponseInCache(HttpControl& options, HttpResult& result, const DataBuffer& body, const char* url,
                                      LogBase& log) {
    if (options.useBucketCache)
        storeInBucketCache(options, result, body, url, log);
    else
        updateCacheFromResponse(options, result, body, url, log);
}

void HttpClient::storeInBucketCache(HttpControl& options, HttpResult& result, const DataBuffer& body, const char* url,
                                    LogBase& log) {
    const std::uint32_t status = result.responseHeader.getStatusCode();
    if (!options.cacheControl.updateCache || options.bucketCache.numRoots() == 0 || status < kFirstStored ||
        status > kLastStored)
        return;
    // Kept nowhere, in either cache.
    CacheDirectives directives;
    readCacheDirectives(result.responseHeader, "Cache-Control", directives);
    if (directives.noStore) {
        log.logInfo(cache_msg::kNotStoredDirective);
        return;
    }
    StringBuffer headerText;
    result.responseHeader.getFullHeader(headerText, "utf-8", log, false);
    storeBucketEntry(url, options, headerText, body, false, log);
}

void HttpClient::recordFailedResponse(const char* url, HttpControl& options, const HttpResponseHeader& header,
                                      const DataBuffer& body, LogBase& log) {
    if (!bucketCacheOn(options) || !isWholeGet(options))
        return;
    StringBuffer fieldsText;
    header.getFieldsTextUtf8(fieldsText, log, false);
    storeBucketEntry(url, options, fieldsText, body, true, log);
}

bool HttpClient::isUrlCached(const char* url, HttpControl& options, LogBase& log) {
    if (!options.useBucketCache)
        return options.cache.isCached(url);
    if (options.bucketCache.numRoots() == 0)
        return false;
    bool withoutContent = false;
    CacheEntryInfo info;
    std::unique_ptr<CacheEntry> entry(options.bucketCache.getEntry(url, withoutContent, info, log));
    return entry != nullptr || withoutContent;
}

void HttpClient::checkDomainEntry(const char* host, HttpControl& options, bool& found, bool& negative, LogBase& log) {
    negative = false;
    found = options.bucketCache.isDomainNegative(host, negative, log);
}

void HttpClient::noteConnectFailure(bool dnsFailed, const char* host, HttpControl& options, LogBase& log) {
    if (!bucketCacheOn(options) || !options.cacheControl.updateCache)
        return;
    if (dnsFailed) {
        options.bucketCache.setDomainInvalid(host, log);
        return;
    }
    bool found = false, negative = false;
    checkDomainEntry(host, options, found, negative, log);
    if (found && negative)
        options.bucketCache.setDomainValid(host, log);
}

bool HttpClient::answerFromCache(const char* url, HttpControl& options, Output& out, HttpResult& result,
                                 CacheRevalidation& reval, LogBase& log, ProgressMonitor* pm, bool verbose) {
    reval.revalidate = false;
    if (!isWholeGet(options))
        return false;
    lookupResponseCache(url, options, out, result, reval, log, pm, verbose);
    if (!options.cacheControl.fetchFromCache || result.cacheState != 1) {
        reval.revalidate = false;
        return false;
    }
    if (reval.revalidate)
        return false;
    if (pm != nullptr)
        pm->progressInfo("HttpCacheHit", cache_msg::kCacheHitEvent);
    result.fromCache = 1;
    return true;
}

bool HttpClient::refusedByDomainCache(const char* host, HttpControl& options, bool& flaggedInvalid, LogBase& log) {
    flaggedInvalid = false;
    if (!bucketCacheOn(options))
        return false;
    bool found = false, negative = false;
    checkDomainEntry(host, options, found, negative, log);
    flaggedInvalid = found && negative;
    if (!flaggedInvalid || !options.cacheControl.checkDomainCache)
        return false;
    log.logError(cache_msg::kDomainInvalid);
    log.logData("domain", host);
    return true;
}

void HttpClient::noteGoodConnect(const char* host, HttpControl& options, bool flaggedInvalid, LogBase& log) {
    if (flaggedInvalid && options.cacheControl.updateCache && bucketCacheOn(options))
        options.bucketCache.setDomainValid(host, log);
}

void HttpClient::feedCaches(const char* url, HttpControl& options, Output& out, std::int64_t bodyStart,
                            HttpResult& result, CacheRevalidation& reval, LogBase& log) {
    if (!isWholeGet(options))
        return;
    const bool updating = options.cacheControl.updateCache != 0;
    DataBuffer* held = heldBytes(out);
    if (setsCookies(result.responseHeader) && !options.AllowCookieResponseCaching) {
        if (updating)
            log.logInfo(cache_msg::kCookiesSet);
    } else if (held == nullptr || bodyStart < 0 || static_cast<std::uint64_t>(bodyStart) > held->getSize()) {
        if (updating)
            log.logInfo(cache_msg::kOutputIsFile);
    } else {
        DataBuffer body;
        body.borrowData(held->getData() + bodyStart, held->getSize() - static_cast<std::uint32_t>(bodyStart));
        storeResponseInCache(options, result, body, url, log);
    }
    if (!reval.revalidate || result.responseHeader.getStatusCode() != kStatusNotModified)
        return;

    log.logInfo(cache_msg::kUpdatingExpiration);
    // A 304 that names its own freshness renews the copy by it.
    const HttpResponseHeader& answer = result.responseHeader;
    const bool namesFreshness = answer.hasField("Expires") || answer.hasField("Cache-Control");
    SysTimeValue expiry;
    computeCacheExpiry(options, namesFreshness ? answer : reval.header, expiry);
    result.responseHeader.copyFrom(reval.header);
    if (reval.body.getSize() != 0 && !out.writeDb(reval.body, nullptr, log))
        return;
    options.cache.updateExpiration(url, expiry, log);
    StringBuffer text;
    expiry.getRfc822String(text);
    log.logData("NewExpiration", text.getString());
    result.fromCache = 1;
}

} // namespace tessik
