// The GET road's answer to a redirect: the new location checked and
// resolved, the application asked, the redirect's cookies kept, and the
// target recorded or fetched.
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/Output.h"

namespace tessik {

namespace {

// Starting from depth 0, this many redirects in a row are followed.
constexpr int kMaxRedirectDepth = 8;

} // namespace

OriginFieldsWithheld::OriginFieldsWithheld(HttpControl& options, const char* fromUrl, const char* toUrl, LogBase& log) {
    if (HttpClient::sameOrigin(fromUrl, toUrl))
        return;
    log.logInfo(http_redirect::kMsgOriginFieldsWithheld);
    m_credentials = std::make_unique<CredentialsWithheld>(options);
    m_fields = std::make_unique<CallerFieldsWithheld>(options);
}

bool HttpClient::redirectFollowed(std::uint32_t status, const HttpControl& options) {
    if (status == http_status::kMovedPermanently || status == http_status::kFound)
        return true;
    const bool get = options.HttpMethod.getSize() == 0 || options.HttpMethod.equals("GET");
    return get && (status == http_status::kSeeOther || status == http_status::kTemporaryRedirect ||
                   status == http_status::kPermanentRedirect);
}

bool HttpClient::callGoesOn(const HttpResponseHeader& header, const HttpControl& options) const {
    const std::uint32_t status = header.getStatusCode();
    switch (m_road) {
    case RoadFollows::kConnection: return redirectFollowed(status, options);
    case RoadFollows::kNothing: return false;
    case RoadFollows::kFound: break;
    }
    StringBuffer location;
    return foundWithLocation(header, location);
}

bool HttpClient::foundWithLocation(const HttpResponseHeader& header, StringBuffer& location) {
    location.clear();
    if (header.getStatusCode() != http_status::kFound)
        return false;
    header.getField("Location", location);
    location.trimWhitespace();
    return location.getSize() != 0;
}

bool HttpClient::followRedirect(const char* url, int depth, HttpControl& options, Output& out, std::int64_t answerStart,
                                HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    if (depth >= kMaxRedirectDepth) {
        log.logError(http_redirect::kMsgTooMany);
        return false;
    }
    StringBuffer location;
    result.responseHeader.getField("Location", location);
    location.trimWhitespace();
    if (location.getSize() == 0) {
        log.logError(http_redirect::kMsgNoLocation);
        return false;
    }
    log.logData("redirectUrl", location.getString());
    location.replaceAll(" ", "%20");
    if (location.containsSubstringNoCase("PageNotFound")) {
        log.logError(http_redirect::kMsgPageNotFound);
        return false;
    }
    if (!checkRedirectScheme(location.getString(), log))
        return false;
    StringBuffer target;
    resolveRedirectTarget(url, location.getString(), target);
    if (target.getSize() == 0) {
        log.logError(http_redirect::kMsgNoNewUrl);
        log.logData("location", location.getString());
        log.logData("url", url);
        return false;
    }
    if (pm != nullptr) {
        pm->progressInfo("HttpRedirect", target.getString());
        bool abort = false;
        if (pm->getEventSink() != nullptr)
            pm->getEventSink()->RedirectCheck(url, target.getString(), &abort);
        if (abort) {
            log.logError(http_redirect::kMsgAborted);
            return false;
        }
    }
    saveResponseCookies(result, options, log, pm);
    if (!options.FollowRedirects) {
        result.redirectPending = 1;
        result.redirectUrl.setSb(target);
        return true;
    }
    result.responseHeader.clear();
    // The redirect's own body goes; what the output held before it stays.
    if (!rewindOutput(out, answerStart, log))
        return false;
    result.redirectPending = 1;
    result.redirectUrl.setSb(target);

    StringBuffer fromHost;
    StringBuffer toHost;
    TessikUrl::crackUrlHostOnly(url, fromHost);
    TessikUrl::crackUrlHostOnly(target.getString(), toHost);
    const bool sameHost = fromHost.equalsNoCaseSb(toHost);
    if (sameHost)
        log.logInfo("Using existing connection for redirect...");
    const OriginFieldsWithheld withheld(options, url, target.getString(), log);
    bool ok;
    {
        LogContext redirectCtx(log, "RedirectGet");
        if (options.secondaryLog != nullptr)
            options.secondaryLog->logData("mhtRedirectUrl", target.getString());
        LogContext getCtx(log, "QuickGetToOutput_Redirect");
        ok = quickGetToOutput(target.getString(), depth + 1, options, sameHost, out, result, log, pm, verbose);
    }
    if (!ok)
        recordFailedResponse(url, options, result.responseHeader, out.getDataBuffer(), log);
    return ok;
}

} // namespace tessik
