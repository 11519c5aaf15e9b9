#include "netlib/http/ClsHttp.h"

#include <memory>

#include "netlib/http/HttpClient.h"
#include "netlib/http/TessikUrl.h"

namespace tessik {

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

// The host part of a URL as compared for credentials: lower-case, no port.
void urlHost(const char* url, StringBuffer& host) {
    TessikUrl::crackUrlHostOnly(url, host);
}

// Credentials kept out of one call: the options' own come back when it ends.
class CredentialsWithheld {
public:
    explicit CredentialsWithheld(HttpControl& options) : m_options(options) {
        m_login.copyFromX(options.Login);
        m_password.copyFromX(options.Password);
        m_digest.setSb(options.digestAuthHeader);
        options.Login.clear();
        options.Password.clear();
        options.digestAuthHeader.clear();
    }
    ~CredentialsWithheld() {
        m_options.Login.copyFromX(m_login);
        m_options.Password.copyFromX(m_password);
        m_options.digestAuthHeader.setSb(m_digest);
        m_password.secureClear();
    }
    CredentialsWithheld(const CredentialsWithheld&) = delete;
    CredentialsWithheld& operator=(const CredentialsWithheld&) = delete;

private:
    HttpControl& m_options;
    XString m_login;
    XString m_password;
    StringBuffer m_digest;
};

} // namespace

ClsHttp::ClsHttp() : m_verboseLogging(false) {}

ClsHttp::~ClsHttp() = default;

ClsHttpResponse* ClsHttp::SynchronousRequest(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                             ProgressEvent* progress) {
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
    // ASCII letters only are lower-cased: the name may be UTF-8.
    StringBuffer host(domain != nullptr ? domain : "");
    host.toLowerCaseAscii();
    host.replaceAll("http://", "");
    host.replaceAll("https://", "");
    host.removeChar('/');
    log.logDataLong("ReadTimeout", static_cast<int>(m_options.ReadTimeoutSec));
    log.logDataLong("ConnectTimeout", static_cast<int>(m_options.ConnectTimeoutSec));
    bool ok = false;
    ClsHttpResponse* response = requestFollowRedirect(host.getString(), port, ssl, request, progress, false, nullptr,
                                                      ok, log, m_verboseLogging);
    logSuccessOrFailed(response != nullptr, log);
    log.leaveContext();
    return response;
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
    if (!m_options.FollowRedirects || result.responseHeader.getStatusCode() != http_cls::kStatusFound)
        return response;
    ok = false;
    StringBuffer requested(ssl ? "https://" : "http://");
    requested.append(host);
    if (port != (ssl ? kHttpsPort : kHttpPort)) {
        requested.appendChar(':');
        requested.appendInt(port);
    }
    StringBuffer path;
    request.getPath(path);
    if (!path.beginsWith("/"))
        requested.appendChar('/');
    requested.appendSb(path);
    StringBuffer location;
    result.responseHeader.getField("Location", location);
    location.trimWhitespace();
    if (location.getSize() == 0)
        return response;
    log.logInfo("Following redirect after POST response");
    log.logData("redirectUrl", location.getString());
    StringBuffer target;
    HttpClient::resolveRedirectTarget(requested.getString(), location.getString(), target);
    if (target.getSize() == 0) {
        log.logError("Failed to construct new URL for redirect");
        log.logData("OriginalUrl", requested.getString());
        return response;
    }
    if (progress != nullptr) {
        bool abort = false;
        progress->RedirectCheck(requested.getString(), target.getString(), &abort);
        if (abort) {
            log.logError("Aborted by application.");
            return response;
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
        m_options.HttpMethod.setSb(m_options.RedirectVerb);
    }
    // Credentials stay with the host they were given for, and never go
    // from https down to plain http.
    StringBuffer fromHost;
    StringBuffer toHost;
    urlHost(requested.getString(), fromHost);
    urlHost(target.getString(), toHost);
    const bool downgrade = ssl && !target.beginsWithNoCase("https:");
    std::unique_ptr<CredentialsWithheld> withheld;
    if (!fromHost.equalsNoCaseSb(toHost) || downgrade)
        withheld = std::make_unique<CredentialsWithheld>(m_options);
    ok = m_pool.quickRequest(target.getString(), m_options, *body, *into, log, &monitor, verbose);
    withheld.reset();
    if (!useCallerBuffer && into->responseHeader.getStatusCode() == 0) {
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
    if (useCallerBuffer) {
        ok = m_pool.synchronousRequest(m_options, host, port, ssl, request.request(), m_lastResult, *callerBody, log,
                                       &monitor, verbose);
    } else {
        response = new ClsHttpResponse;
        response->setDomain(host);
        ok = m_pool.synchronousRequest(m_options, host, port, ssl, request.request(), response->getResult(),
                                       response->getBody(), log, &monitor, verbose);
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
