#include "netlib/http/HttpConnPool.h"

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

HttpConnPool::HttpConnPool() : m_maxConnections(http_pool::kMaxConnections) {
    m_clients.setOwnsObjects(true);
}

HttpConnPool::~HttpConnPool() = default;

HttpClient* HttpConnPool::clientAt(int index) const {
    return dynamic_cast<HttpClient*>(m_clients.elementAt(index));
}

HttpClient* HttpConnPool::findOrCreateClient(const char* domain, int port, HttpControl& options, LogBase& /*log*/) {
    StringBuffer proxyHost;
    std::uint32_t proxyPort = 0;
    LogNull quiet;
    options.getProxy("http://", proxyHost, proxyPort, quiet, http_opt::kPoolCallerTag);
    StringBuffer wantHost(domain != nullptr ? domain : "");
    std::uint32_t wantPort = static_cast<std::uint32_t>(port);
    if (proxyHost.getSize() != 0) {
        wantHost.setSb(proxyHost);
        wantPort = proxyPort;
    }
    for (int i = 0; i < m_clients.getCount();) {
        HttpClient* c = clientAt(i);
        if (c == nullptr) {
            delete m_clients.removeAt(i);
            continue;
        }
        if (c->recordedPort() == wantPort && c->recordedHost().equalsNoCaseSb(wantHost)) {
            if (m_maxConnections != 0) {
                m_clients.removeAt(i);
                m_clients.appendPtr(c);
            }
            return c;
        }
        ++i;
    }
    if (m_maxConnections != 0 && m_clients.getCount() >= m_maxConnections)
        delete m_clients.removeAt(0);
    auto* fresh = new HttpClient;
    if (m_clients.appendPtr(fresh) == nullptr) {
        delete fresh;
        return nullptr;
    }
    return fresh;
}

void HttpConnPool::prepareClient(HttpClient& client) {
    const char* path = m_sessionLog.getUtf8();
    client.connection().setSessionLogPath(path);
    client.connection().setLogToFile(*path != '\0');
}

bool HttpConnPool::synchronousRequest(HttpControl& options, const char* domain, int port, bool tls,
                                      HttpRequest& request, HttpResult& result, DataBuffer& body, LogBase& log,
                                      ProgressMonitor* pm, bool logDetails) {
    if (domain == nullptr) {
        log.logError("No domain");
        return false;
    }
    if (port == 0)
        port = http_pool::kDefaultPort;
    HttpClient* client = findOrCreateClient(domain, port, options, log);
    if (client == nullptr)
        return false;
    prepareClient(*client);
    bool fresh = false;
    if (!client->httpConnect(options, domain, port, tls, log, pm, fresh))
        return false;
    // One run of the request, resent once on a new connection when the
    // kept-alive one turned out to be gone.
    auto run = [&]() {
        bool done = client->synchronousRequest(options, domain, port, tls, request, result, body, log, pm, logDetails);
        if (done || (pm != nullptr && pm->isAborted()) || !result.connectionFailed)
            return done;
        log.logError("Socket not writeable, re-opening connection with HTTP server (2)");
        client->closeConnection(options, pm, log);
        if (pm != nullptr)
            pm->progressInfo("HttpInfo",
                             "Existing connection with HTTP server no longer open, restarting with new connection.");
        result.connectionFailed = 0;
        if (!client->httpConnect(options, domain, port, tls, log, pm, fresh)) {
            log.logError("Failed to establish connection on retry.");
            return false;
        }
        return client->synchronousRequest(options, domain, port, tls, request, result, body, log, pm, logDetails);
    };
    bool ntlmTried = options.NTLMAuth != 0;
    bool ok = false;
    for (;;) {
        ok = run();
        const std::uint32_t status = result.responseHeader.getStatusCode();
        if (ok && status == http_pool::kStatusProxyAuth) {
            StringBuffer offer;
            result.responseHeader.getField("Proxy-Authenticate", offer);
            if (offer.containsSubstring("NTLM")) {
                log.logError(http_pool::kMsgProxyNtlmNotAvailable);
                return false;
            }
        } else if (ok && status == http_pool::kStatusUnauthorized && !ntlmTried && result.responseHeader.offersNtlm()) {
            log.logInfo("Re-trying with NTLM authentication...");
            if (!client->httpConnect(options, domain, port, tls, log, pm, fresh)) {
                log.logError("Failed to establish connection on retry.");
                return false;
            }
            // It stays on for the component's later requests.
            options.NTLMAuth = 1;
            ntlmTried = true;
            continue;
        }
        break;
    }
    return ok;
}

} // namespace tessik
