// The GET road's driver: one GET of a URL into an Output (answered from the
// caches when they may, on this connection or a new one), and the loop that
// re-opens an unusable connection and repeats a 503.
#include <chrono>
#include <cstring>
#include <thread>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/Output.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr int kPlainPort = 80;
constexpr unsigned int kGetSendChunk = 4000;
// An answer without a status line is asked for again while the depth is at
// most this.
constexpr int kMaxHeadRetryDepth = 4;
constexpr unsigned int kLoggedHeadBytes = 500;

// Milliseconds since start, unless the tick count went backwards.
void logElapsed(const char* tag, std::uint32_t start, LogBase& log) {
    const std::uint32_t now = platform::GetTickCount();
    if (now >= start)
        log.logDataLong(tag, static_cast<int>(now - start));
}

} // namespace

void HttpClient::setSessionLogFilename(const char* utf8Path) {
    m_sessionLogFile.setString(utf8Path != nullptr ? utf8Path : "");
    m_conn.setSessionLogPath(m_sessionLogFile.getString());
    m_conn.setLogToFile(m_sessionLogFile.getSize() != 0);
}

bool HttpClient::simpleHttpRequest(const char* url, HttpControl& options, const char* extraHeaders, Output& out,
                                   HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    return simpleHttpRequest(url, 0, true, true, options, extraHeaders, out, result, log, pm, verbose);
}

bool HttpClient::simpleHttpRequest(const char* url, int depth, bool ownConnection, bool restart, HttpControl& options,
                                   const char* extraHeaders, Output& out, HttpResult& result, LogBase& log,
                                   ProgressMonitor* pm, bool verbose) {
    if (options.HttpMethod.getSize() == 0)
        options.HttpMethod.setString("GET");
    log.logData("httpMethod", options.HttpMethod.getString());
    if (pm != nullptr) {
        StringBuffer begin(options.HttpMethod);
        begin.appendChar(',');
        begin.append(url);
        pm->progressInfo("HttpRequestBegin", begin.getString());
    }
    log.logData("requestUrl", url);
    if (!checkSendable(url, options, log))
        return false;
    result.cacheState = 0;
    result.redirectFailed = 0;
    result.driverCount = 0;
    result.fromCache = 0;
    result.connectionFailed = 0;
    result.bodyCoded = 0;
    result.codingAsked = 0;
    StringBuffer urlText(url);
    if (urlText.containsSubstringNoCase("about:blank")) {
        log.logInfo("Skipping about:blank");
        log.logData("url", url);
        out.resetOutput(log);
        return true;
    }
    if (static_cast<std::uint32_t>(urlText.getSize()) > options.MaxUrlLen) {
        log.logError("URL is longer than the maximum allowed length.");
        log.logDataLong("maxUrlLen", static_cast<int>(options.MaxUrlLen));
        log.logData("url", url);
        return false;
    }
    if (!ownConnection) {
        // A connection of this call only, with everything else the same.
        log.logInfo("Using new connection...");
        HttpClient temporary;
        temporary.setSessionLogFilename(m_sessionLogFile.getString());
        const bool ok =
            temporary.simpleHttpRequest(url, depth, true, false, options, extraHeaders, out, result, log, pm, verbose);
        temporary.closeConnection(options, pm, log);
        return ok;
    }

    const std::int64_t bodyStart = out.getPosition64();
    bool revalidate = false;
    StringBuffer etag;
    StringBuffer lastModified;
    lookupResponseCache(url, depth, options, out, result, revalidate, etag, lastModified, log, verbose);
    HttpResponseHeader keptHeader;
    DataBuffer keptBody;
    bool kept = false;
    // A bucket entry found while fetchFromCache is off answers nothing.
    if (result.cacheState == 1 && options.cacheControl.fetchFromCache) {
        if (!revalidate) {
            // A kept redirect this road could not follow is no answer, as
            // the same redirect from the server is none.
            if (result.redirectFailed)
                return false;
            if (pm != nullptr)
                pm->progressInfo("HttpCacheHit", cache_msg::kCacheHitEvent);
            result.fromCache = 1;
            return true;
        }
        // The copy waits aside for the server's answer about it, and the
        // answer is written where it began.
        keptHeader.copyFrom(result.responseHeader);
        const DataBuffer* held = out.getDataBuffer();
        kept = held != nullptr &&
               keptBody.append(held->getData() + bodyStart, held->getSize() - static_cast<std::uint32_t>(bodyStart));
        if (!rewindOutput(out, bodyStart, log))
            return false;
    }

    StringBuffer host, user, password, path, query, fragment;
    int port = kPlainPort;
    if (!TessikUrl::crackUrl(url, host, port, user, password, path, query, fragment) || host.getSize() == 0) {
        log.logError("Failed to parse URL");
        log.logData("url", url);
        return false;
    }
    const bool tls = urlText.beginsWithNoCase("https:");
    GetTarget target{url, host.getString(), port, path.getSize() != 0 ? path.getString() : "/", query.getString()};
    StringBuffer head;
    if (options.requestTextOnly) {
        BuildGetRequest(target, options, extraHeaders, nullptr, nullptr, result, log, pm, head);
        options.requestText.setSb(head);
        return true;
    }

    bool flaggedInvalid = false;
    if (refusedByDomainCache(host.getString(), options, flaggedInvalid, log))
        return false;
    StringBuffer bareHost;
    normalizeHost(host.getString(), bareHost);
    if (isConnected(tls) && (!m_host.equalsNoCaseSb(bareHost) || m_port != static_cast<std::uint32_t>(port))) {
        // Open to somewhere else: of no use for this URL.
        closeConnection(options, pm, log);
    }
    if (isConnected(tls)) {
        log.logInfo("Using existing connection to web server...");
    } else {
        // A setting that cannot be read is refused by the connect.
        decideProxy(options, bareHost.getString(), port, tls, log);
        log.logInfo(m_proxy->none() ? "Connecting to web server..." : "Connecting to proxy...");
    }
    const std::uint32_t connectStart = platform::GetTickCount();
    bool fresh = false;
    if (!httpConnect(options, host.getString(), port, tls, log, pm, fresh)) {
        log.logError("Failed to connect to HTTP server.");
        return false;
    }
    if (fresh)
        logElapsed("connectElapsedMs", connectStart, log);
    noteGoodConnect(host.getString(), options, flaggedInvalid, log);
    if (pm != nullptr && pm->abortCheckDefault())
        return false;
    m_requestTls = tls;
    m_heartbeatMs = options.HeartbeatMs;
    m_readTimeoutSec = options.ReadTimeoutSec;

    const char* ifModifiedSince = kept ? lastModified.getString() : nullptr;
    const char* entityTag = kept ? etag.getString() : nullptr;
    if (options.MimicIE)
        BuildIeGetRequest(target, options, extraHeaders, ifModifiedSince, entityTag, result, log, pm, head);
    else if (options.MimicFirefox)
        BuildFireFoxGetRequest(target, options, extraHeaders, ifModifiedSince, entityTag, result, log, pm, head);
    else
        BuildGetRequest(target, options, extraHeaders, ifModifiedSince, entityTag, result, log, pm, head);
    if (verbose) {
        log.logInfo("--------- HTTP Request -----------");
        log.logData("HttpRequest", head.getString());
        log.logInfo("----------------------------------");
    }
    if (pm != nullptr)
        pm->progressInfo("RequestHeader", head.getString());
    const std::uint32_t sendStart = platform::GetTickCount();
    const auto* bytes = reinterpret_cast<const unsigned char*>(head.getString());
    const auto size = static_cast<unsigned int>(head.getSize());
    const bool sent = tls ? m_conn.tlsSendBytes(bytes, size, options.HeartbeatMs, readTimeoutMs(options), log, pm)
                          : m_conn.sendBytes(bytes, size, kGetSendChunk, options.HeartbeatMs, log, pm);
    logElapsed("sendElapsedMs", sendStart, log);
    const bool reused = m_reused;
    if (!sent) {
        log.logError("Failed to send HTTP GET");
        closeAfterSendFailure(log);
    }

    const std::uint32_t readStart = platform::GetTickCount();
    m_acceptHeadless = true;
    const bool read = sent && readResponseTo(options, tls, options.HttpMethod.equalsNoCase("HEAD"), false, result, out,
                                             log, pm, verbose);
    m_acceptHeadless = false;
    if (!read) {
        if (pm != nullptr && pm->isAborted()) {
            log.logInfo("Application aborted HTTP GET in event callback.");
            return false;
        }
        // A kept-alive connection the server had given up: once more on a
        // connection of its own.
        if (reused && (!sent || m_headLostAtOnce)) {
            if (!restart) {
                result.connectionFailed = 1;
                return false;
            }
            if (pm != nullptr)
                pm->progressInfo(
                    "HttpInfo", "Existing connection with HTTP server no longer open, restarting with new connection.");
            LogContext ctx(log, "simpleHttpRequest_1");
            if (!rewindOutput(out, bodyStart, log))
                return false;
            return simpleHttpRequest(url, depth, false, false, options, extraHeaders, out, result, log, pm, verbose);
        }
        if (m_unparsedHead.getSize() != 0) {
            log.logError("Invalid response header received");
            StringBuffer received;
            received.appendBytes(reinterpret_cast<const char*>(m_unparsedHead.getData()),
                                 static_cast<int>(m_unparsedHead.getSize() < kLoggedHeadBytes ? m_unparsedHead.getSize()
                                                                                              : kLoggedHeadBytes));
            log.logData("received", received.getString());
            if (depth > kMaxHeadRetryDepth)
                return false;
            LogContext ctx(log, "simpleHttpRequest_2");
            const bool ok =
                simpleHttpRequest(url, depth + 1, false, false, options, extraHeaders, out, result, log, pm, verbose);
            if (!ok)
                recordFailedResponse(url, options, result.responseHeader, out.getDataBuffer(), log);
            return ok;
        }
        if (sent)
            log.logError(tls ? "Failed to fetch response data on SSL connection."
                             : "Failed to fetch response data on non-SSL connection.");
        recordFailedResponse(url, options, result.responseHeader, out.getDataBuffer(), log);
        return false;
    }
    logElapsed("readResponseElapsedMs", readStart, log);
    const std::uint32_t status = result.responseHeader.getStatusCode();
    log.logDataLong("StatusCode", static_cast<int>(status));
    log.logData("StatusText", result.responseHeader.getStatusText().getString());
    // A proxy that asks NTLM of a plain request asks it of each host a
    // redirect leads to (the first request's is answered by its caller):
    // the hop goes again, through a tunnel to its host.
    if (depth > 0 && proxyAskedNtlm(result)) {
        if (!answerProxyNtlmFor(url, options, pm, log) || !rewindOutput(out, bodyStart, log))
            return false;
        return simpleHttpRequest(url, depth, true, false, options, extraHeaders, out, result, log, pm, verbose);
    }

    // A redirect this road follows is read and dropped; any other answer
    // is the caller's, and a body in memory has its codings undone now (a
    // file's road undoes them in the file).
    const bool follows = options.FollowRedirects && redirectFollowed(status, options);
    DataBuffer* held = out.getDataBuffer();
    if (!follows && held != nullptr &&
        !undoHandedCodings(result, *held, static_cast<std::uint32_t>(bodyStart), options.MaxResponseSize, log, pm)) {
        log.logError(tls ? "Failed to fetch response data on SSL connection."
                         : "Failed to fetch response data on non-SSL connection.");
        recordFailedResponse(url, options, result.responseHeader, held, log);
        return false;
    }
    const bool updating = options.cacheControl.updateCache != 0;
    if (m_cookiesSet && !options.AllowCookieResponseCaching) {
        if (updating)
            log.logInfo(cache_msg::kCookiesSet);
    } else if (held == nullptr) {
        if (updating)
            log.logInfo(cache_msg::kOutputIsFile);
    } else if (static_cast<std::uint64_t>(bodyStart) <= held->getSize()) {
        DataBuffer body;
        body.borrowData(held->getData() + bodyStart, held->getSize() - static_cast<std::uint32_t>(bodyStart));
        storeResponseInCache(options, result, &body, url, log);
    }

    StringBuffer connection;
    if (result.responseHeader.getField("connection", connection) && connection.equalsNoCase("close")) {
        if (options.secondaryLog != nullptr)
            options.secondaryLog->logInfo("Got connection:close header");
        log.logInfo("Got connection:close header");
    }
    if (redirectFollowed(status, options))
        return followRedirect(url, depth, options, out, bodyStart, result, log, pm, verbose);
    if (kept && status == http_status::kNotModified) {
        log.logInfo(cache_msg::kUpdatingExpiration);
        // A 304 that names its own freshness renews the copy by it; else
        // the copy's own fields do.
        const bool ownFreshness =
            result.responseHeader.hasField("Expires") || result.responseHeader.hasField("Cache-Control");
        if (ownFreshness)
            refreshCacheExpiry(url, options, result, log);
        result.responseHeader.copyFrom(keptHeader);
        if (!ownFreshness)
            refreshCacheExpiry(url, options, result, log);
        if (!rewindOutput(out, bodyStart, log) || !out.writeDb(keptBody, pm, log))
            return false;
        result.fromCache = 1;
    }
    return true;
}

bool HttpClient::quickGetWithRetries(const char* url, HttpControl& options, const char* extraHeaders, Output& out,
                                     HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    return quickGetWithRetries(url, 0, options, true, extraHeaders, out, result, log, pm, verbose);
}

bool HttpClient::quickGetWithRetries(const char* url, int depth, HttpControl& options, bool ownConnection,
                                     const char* extraHeaders, Output& out, HttpResult& result, LogBase& log,
                                     ProgressMonitor* pm, bool verbose) {
    // Every attempt writes from where the first began (an appended file
    // keeps what it held before).
    const std::int64_t start = out.getPosition64();
    for (std::uint32_t retries = 0;; ++retries) {
        if (!rewindOutput(out, start, log))
            return false;
        result.clearForRetry();
        bool ok;
        {
            LogContext ctx(log, "simpleHttpRequest_3");
            ok = simpleHttpRequest(url, depth, ownConnection, true, options, extraHeaders, out, result, log, pm,
                                   verbose);
        }
        if (!ok) {
            if (pm != nullptr && pm->isAborted()) {
                log.logInfo("Application aborted HTTP operation...");
                return false;
            }
            if (!result.connectionFailed)
                return false;
            log.logError("Socket not writeable, re-opening connection with HTTP server (3)");
            closeConnection(options, pm, log);
            if (pm != nullptr)
                pm->progressInfo(
                    "HttpInfo", "Existing connection with HTTP server no longer open, restarting with new connection.");
            // A pending redirect goes on to its target on a connection of
            // its own; otherwise the URL again on a new connection.
            const bool pending = result.redirectPending != 0;
            const StringBuffer next(pending ? result.redirectUrl.getString() : url);
            StringBuffer host, user, password, path, query, fragment;
            int port = kPlainPort;
            TessikUrl::crackUrl(next.getString(), host, port, user, password, path, query, fragment);
            bool fresh = false;
            if (!httpConnect(options, host.getString(), port, next.beginsWithNoCase("https"), log, pm, fresh))
                return false;
            log.logError("New connection established, re-trying GET");
            result.clearForRetry();
            if (!rewindOutput(out, start, log))
                return false;
            LogContext ctx(log, pending ? "simpleHttpRequest_4" : "simpleHttpRequest_5");
            if (!simpleHttpRequest(next.getString(), depth, !pending && ownConnection, false, options, extraHeaders,
                                   out, result, log, pm, verbose))
                return false;
        }
        if (result.responseHeader.getStatusCode() != http_status::kUnavailable ||
            retries >= options.UnavailableRetryCount)
            return true;
        if (options.UnavailableRetryWaitMs != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(options.UnavailableRetryWaitMs));
    }
}

} // namespace tessik
