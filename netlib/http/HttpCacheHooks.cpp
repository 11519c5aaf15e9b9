// How a connection reaches the response caches of its options: the lookup
// and store dispatchers, the bucket cache's store and failure record, the
// is-cached test, the host bookkeeping after a connect, and the GET road's
// use of all of them.
#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpCache.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/streams/Output.h"

namespace tessik {

using namespace cache_fmt;

namespace {

constexpr std::uint32_t kFirstStored = 200;
constexpr std::uint32_t kLastStored = 499;

bool bucketCacheOn(const HttpControl& options) {
    return options.useBucketCache != 0 && options.bucketCache.numRoots() != 0;
}

// A whole GET: a ranged one (resuming a download) asks for a part, which a
// cached whole must not answer nor a partial answer replace.
bool isWholeGet(const HttpControl& options) {
    return (options.HttpMethod.getSize() == 0 || options.HttpMethod.equalsNoCase("GET")) && options.ResumePoint == 0;
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
    // Any entry of the URL is replaced, one that no longer reads back too:
    // left in place it would stand in front of every newer one. Its head
    // says so without unpacking its data.
    std::uint32_t offset = 0;
    CacheEntryInfo info;
    if (options.bucketCache.findEntryInfo(url, offset, info, log))
        options.bucketCache.replaceEntry(fields, log);
    else
        options.bucketCache.appendEntry(fields, log);
}

} // namespace

void HttpClient::lookupResponseCache(const char* url, int depth, HttpControl& options, Output& out, HttpResult& result,
                                     bool& revalidate, StringBuffer& etag, StringBuffer& lastModified, LogBase& log,
                                     bool verbose) {
    revalidate = false;
    etag.clear();
    lastModified.clear();
    result.cacheState = 0;
    if (!isWholeGet(options))
        return;
    if (options.useBucketCache)
        lookupHttpCache(url, depth, options, out, result, log, verbose);
    else
        lookupCache(url, options, out, result, revalidate, etag, lastModified, log);
}

void HttpClient::lookupHttpCache(const char* url, int depth, HttpControl& options, Output& out, HttpResult& result,
                                 LogBase& log, bool verbose) {
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
    const std::int64_t answerStart = out.getPosition64();
    // An entry whose head cannot be read answers nothing. The head is the
    // answer's before its body goes out: an output judges the body by it.
    const char* kept = entry->headerText().getString();
    if (!head.parseKeptHead(reinterpret_cast<const unsigned char*>(kept), static_cast<std::uint32_t>(std::strlen(kept)),
                            log) ||
        head.getStatusCode() == 0) {
        result.cacheState = 0;
        return;
    }
    // A redirect this road follows is not handed over: its body is not
    // read. Any other entry that names codings (one kept before bodies were
    // kept unpacked, or a redirect's body kept as it came) has them undone
    // as on the wire, or it answers nothing.
    const bool follows = options.FollowRedirects && redirectFollowed(head.getStatusCode(), options);
    DataBuffer content;
    const bool coded = !follows && hasContentCoding(head);
    if (coded && (!content.appendDb(entry->data()) ||
                  !undoContentCodings(head, content, options.MaxResponseSize, log, nullptr))) {
        result.cacheState = 0;
        return;
    }
    result.responseHeader.copyFrom(head);
    if (!follows &&
        (coded ? content.getSize() != 0 && !out.writeDb(content, nullptr, log) : !entry->writeDataTo(out, log))) {
        result.responseHeader.clear();
        result.cacheState = 0;
        return;
    }
    if (!redirectFollowed(head.getStatusCode(), options))
        return;
    // The cached redirect is followed; its answer, fetched or cached, is
    // the answer to this URL.
    if (!followRedirect(url, depth, options, out, answerStart, result, log, nullptr, verbose))
        result.redirectFailed = 1;
    result.cacheState = 1;
}

void HttpClient::storeResponseInCache(HttpControl& options, HttpResult& result, const DataBuffer* body, const char* url,
                                      LogBase& log) {
    if (body == nullptr || !isWholeGet(options))
        return;
    if (options.useBucketCache)
        storeInBucketCache(options, result, *body, url, log);
    else
        updateCacheFromResponse(options, result, *body, url, log);
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
    storedHead(result, headerText);
    storeBucketEntry(url, options, headerText, body, false, log);
}

void HttpClient::recordFailedResponse(const char* url, HttpControl& options, const HttpResponseHeader& header,
                                      const DataBuffer* body, LogBase& log) {
    if (!bucketCacheOn(options) || !options.cacheControl.updateCache || !isWholeGet(options))
        return;
    StringBuffer fieldsText;
    header.getFieldsTextUtf8(fieldsText, log, false);
    const DataBuffer none;
    storeBucketEntry(url, options, fieldsText, body != nullptr ? *body : none, true, log);
}

void HttpClient::refreshCacheExpiry(const char* url, HttpControl& options, HttpResult& result, LogBase& log) {
    SysTimeValue expiry;
    computeCacheExpiry(options, result.responseHeader, expiry);
    options.cache.updateExpiration(url, expiry, log);
    StringBuffer text;
    expiry.getRfc822String(text);
    log.logData("NewExpiration", text.getString());
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

} // namespace tessik
