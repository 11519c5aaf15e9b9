// Where the GET road meets the response caches. The caches are not part of
// the library yet: a lookup finds nothing and nothing is stored, and a
// request for the bucket cache says so in the log.
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

void HttpClient::lookupResponseCache(const char*, int, HttpControl& options, Output&, HttpResult& result,
                                     bool& revalidate, StringBuffer& etag, StringBuffer& lastModified, LogBase& log,
                                     bool) {
    revalidate = false;
    etag.clear();
    lastModified.clear();
    result.cacheState = 0;
    if (options.useBucketCache)
        options.requireCaches(log);
}

void HttpClient::storeResponseInCache(HttpControl& options, HttpResult&, const DataBuffer*, const char*, LogBase& log) {
    if (options.useBucketCache)
        options.requireCaches(log);
}

void HttpClient::recordFailedResponse(const char*, HttpControl& options, const HttpResponseHeader&, const DataBuffer*,
                                      LogBase& log) {
    if (options.useBucketCache)
        options.requireCaches(log);
}

void HttpClient::refreshCacheExpiry(const char*, HttpControl& options, HttpResult&, LogBase& log) {
    options.requireCaches(log);
}

} // namespace tessik
