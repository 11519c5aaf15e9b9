#include "netlib/http/ClsHttp.h"

#include <cstring>
#include <memory>

#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/TessikUrl.h"

namespace tessik {

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

// The host part of a URL as compared for credentials: lower-case, no port.
void urlHost(const char* url, StringBuffer& host) {
    TessikUrl::crackUrlHostOnly(url, host);
}

// The verbs the URL road sends without a body.
bool verbWithoutBody(const StringBuffer& verb) {
    for (const char* v : {"GET", "HEAD", "DELETE", "OPTIONS", "TRACE"})
        if (verb.equalsNoCase(v))
            return true;
    return false;
}

} // namespace

ClsHttp::ClsHttp()
    : m_s3ServiceHost(http_cls::kDefaultS3ServiceHost), m_lastResponse(nullptr), m_verboseLogging(false) {}

ClsHttp::~ClsHttp() {
    // The task uses every member: it ends before any of them goes.
    if (m_thread.joinable())
        m_thread.join();
    CritSecExitor lock(*this);
    delete m_lastResponse;
    m_lastResponse = nullptr;
}

ClsHttpResponse* ClsHttp::SynchronousRequest(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                             ProgressEvent* progress) {
    if (refusedWhileBusy("SynchronousRequest"))
        return nullptr;
    {
        CritSecExitor lock(*this);
        if (refusedWhileBusy("SynchronousRequest"))
            return nullptr;
        if (m_useThread) {
            XString domainText;
            domainText.setFromUtf8(domain != nullptr ? domain : "");
            XString xml;
            request.ToXml(xml);
            queueBackgroundTask(BgMethod::SynchronousRequest, "SynchronousRequest", [&](ClsBgTask& task) {
                task.pushStringArg(domainText);
                task.pushIntArg(port);
                task.pushBoolArg(ssl);
                task.pushStringArg(xml);
            });
            return nullptr;
        }
    }
    return synchronousRequestImpl(domain, port, ssl, request, progress, m_log);
}

ClsHttpResponse* ClsHttp::synchronousRequestImpl(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                                 ProgressEvent* progress, LogBase& log) {
    CritSecExitor lock(*this);
    enterMethodLog("SynchronousRequest", log);
    log.logData("domain", domain != nullptr ? domain : "");
    log.logDataLong("port", port);
    log.logDataLong("ssl", ssl ? 1 : 0);
    if (request.getLastUrl().getSize() > 0)
        log.logData("OriginallySetFromUrl", request.getLastUrl().getString());
    request.logRequest(log);
    // Read once: what is checked here is what is connected to and what
    // the Host field and a CONNECT name. A port the domain names is the one.
    StringBuffer host;
    int domainPort = 0;
    ClsHttpResponse* response = nullptr;
    if (!TessikUrl::readHostPort(domain, host, domainPort)) {
        const bool control = domain != nullptr && TessikUrl::holdsControlByte(domain, std::strlen(domain));
        log.logError(control ? url_msg::kControlByteInUrl : url_msg::kBadDomain);
    } else {
        if (domainPort != 0)
            port = domainPort;
        log.logDataLong("ReadTimeout", static_cast<int>(m_options.ReadTimeoutSec));
        log.logDataLong("ConnectTimeout", static_cast<int>(m_options.ConnectTimeoutSec));
        bool ok = false;
        response = requestFollowRedirect(host.getString(), port, ssl, request, progress, false, nullptr, ok, log,
                                         m_verboseLogging);
    }
    logSuccessOrFailed(response != nullptr, log);
    log.leaveContext();
    return response;
}

bool ClsHttp::redirectVerbOf(ClsHttpRequest& request, StringBuffer& redirectVerb) const {
    // The redirect is fetched by a request without a body: a verb that
    // takes one is not followed (its 302 is the answer), POST turns into
    // GET, as browsers and curl do.
    StringBuffer verb;
    request.request().getVerb(verb);
    redirectVerb.setSb(m_options.RedirectVerb.getSize() != 0 ? m_options.RedirectVerb
                       : verb.equalsNoCase("POST")           ? StringBuffer("GET")
                                                             : verb);
    const bool bodyless = !request.request().hasBody() && !request.request().verbTakesBody();
    return verbWithoutBody(redirectVerb) || (redirectVerb.equalsSb(verb) && bodyless);
}

ClsHttpResponse* ClsHttp::requestFollowRedirect(const char* host, int port, bool ssl, ClsHttpRequest& request,
                                                ProgressEvent* progress, bool useCallerBuffer, DataBuffer* callerBody,
                                                bool& ok, LogBase& log, bool verbose) {
    ClsHttpResponse* response =
        fullRequest(host, port, ssl, request, progress, useCallerBuffer, callerBody, ok, log, verbose);
    if (!ok) {
        delete response;
        return nullptr;
    }
    HttpResult& result = useCallerBuffer ? m_lastResult : response->getResult();
    // The answer handed over has its codings undone (a 302 followed is
    // not judged: nobody gets its body); one that cannot be fails the call.
    DataBuffer& answerBody = useCallerBuffer ? *callerBody : response->getBody();
    const auto handOver = [&]() -> ClsHttpResponse* {
        if (HttpClient::undoHandedCodings(result, answerBody, 0, m_options.MaxResponseSize, log, nullptr))
            return response;
        ok = false;
        delete response;
        return nullptr;
    };
    // Without a Location a 302 is the answer, on every road.
    StringBuffer location;
    if (!m_options.FollowRedirects || !HttpClient::foundWithLocation(result.responseHeader, location))
        return handOver();
    ok = false;
    StringBuffer requested(ssl ? "https://" : "http://");
    HttpClient::appendHostForUrl(StringBuffer(host), requested);
    if (port != (ssl ? kHttpsPort : kHttpPort)) {
        requested.appendChar(':');
        requested.appendInt(port);
    }
    StringBuffer path;
    request.getPath(path);
    if (!path.beginsWith("/"))
        requested.appendChar('/');
    requested.appendSb(path);
    log.logInfo("Following redirect after POST response");
    log.logData("redirectUrl", location.getString());
    if (!HttpClient::checkRedirectScheme(location.getString(), log)) {
        delete response;
        return nullptr;
    }
    StringBuffer redirectVerb;
    if (!redirectVerbOf(request, redirectVerb)) {
        log.logInfo(http_redirect::kMsgBodyVerbNotFollowed);
        log.logData("verb", redirectVerb.getString());
        ok = true;
        return handOver();
    }
    // The 302's body was not read, the call going on from it: one that
    // cannot go on has no answer to hand over.
    StringBuffer target;
    HttpClient::resolveRedirectTarget(requested.getString(), location.getString(), target);
    if (target.getSize() == 0) {
        log.logError("Failed to construct new URL for redirect");
        log.logData("OriginalUrl", requested.getString());
        delete response;
        return nullptr;
    }
    if (progress != nullptr) {
        bool abort = false;
        progress->RedirectCheck(requested.getString(), target.getString(), &abort);
        if (abort) {
            log.logError("Aborted by application.");
            delete response;
            return nullptr;
        }
    }
    m_historian.clearEvents();
    ProgressMonitor monitor(&m_historian, http_cls::kMonitorTotal);
    m_historian.setTarget(progress);
    DataBuffer* body = callerBody;
    HttpResult* into = &m_lastResult;
    if (useCallerBuffer) {
        if (callerBody == nullptr) {
            log.logError("No response buffer for redirect.");
            return response;
        }
    } else {
        delete response;
        response = new ClsHttpResponse;
        StringBuffer targetHost;
        urlHost(target.getString(), targetHost);
        response->setDomain(targetHost.getString());
        body = &response->getBody();
        into = &response->getResult();
    }
    if (m_options.RedirectVerb.getSize() != 0) {
        log.logInfo("Using explicitly set RedirectVerb.");
        log.logData("redirectVerb", m_options.RedirectVerb.getString());
    }
    m_options.HttpMethod.setSb(redirectVerb);
    {
        const OriginFieldsWithheld withheld(m_options, requested.getString(), target.getString(), log);
        ok = m_pool.quickRequest(target.getString(), m_options, *body, *into, log, &monitor, verbose);
    }
    // The page the redirect leads to is the answer: one that did not come
    // whole (cut short, a coding not undone, a redirect refused) is none.
    if (!ok) {
        delete response;
        return nullptr;
    }
    monitor.endProgress(0);
    return response;
}

ClsHttpResponse* ClsHttp::fullRequest(const char* host, int port, bool ssl, ClsHttpRequest& request,
                                      ProgressEvent* progress, bool useCallerBuffer, DataBuffer* callerBody, bool& ok,
                                      LogBase& log, bool verbose) {
    ok = false;
    if (useCallerBuffer && callerBody == nullptr) {
        log.logError("Internal error: no response buffer.");
        return nullptr;
    }
    m_historian.clearEvents();
    ProgressMonitor monitor(&m_historian, http_cls::kMonitorTotal);
    m_historian.setTarget(progress);
    m_historian.setAbort(false);
    if (verbose) {
        request.logRequest(log);
        m_options.logOptions(log);
    }
    ClsHttpResponse* response = nullptr;
    StringBuffer redirectVerb;
    const RoadFollows follows = redirectVerbOf(request, redirectVerb) ? RoadFollows::kFound : RoadFollows::kNothing;
    if (useCallerBuffer) {
        ok = m_pool.synchronousRequest(m_options, host, port, ssl, request.request(), m_lastResult, *callerBody, log,
                                       &monitor, verbose, follows);
    } else {
        response = new ClsHttpResponse;
        response->setDomain(host);
        ok = m_pool.synchronousRequest(m_options, host, port, ssl, request.request(), response->getResult(),
                                       response->getBody(), log, &monitor, verbose, follows);
        if (ok) {
            m_lastResult.requestHeaderText.setSb(response->getResult().requestHeaderText);
        } else {
            delete response;
            response = nullptr;
        }
    }
    if (ok)
        monitor.endProgress(0);
    return response;
}

} // namespace tessik
