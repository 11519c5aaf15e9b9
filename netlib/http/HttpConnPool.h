#pragma once
// The open connections of one HTTP component, least recently used first,
// and the synchronous request driver over them: find or make the
// connection, connect it, run the request, and send once more on a fresh
// connection when the kept-alive one had been dropped by the server.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"

namespace tessik {

class HttpClient;
class HttpControl;
class HttpRequest;
class HttpResult;
class LogBase;
class ProgressMonitor;

namespace http_pool {
inline constexpr int kMaxConnections = 10;
inline constexpr int kDefaultPort = 80;
inline constexpr std::uint32_t kStatusUnauthorized = 401;
inline constexpr std::uint32_t kStatusProxyAuth = 407;
inline constexpr const char* kMsgProxyNtlmNotAvailable = "Proxy NTLM authentication is not available in this build.";
} // namespace http_pool

class HttpConnPool : public TessikObject {
public:
    HttpConnPool();
    ~HttpConnPool() override;
    HttpConnPool(const HttpConnPool&) = delete;
    HttpConnPool& operator=(const HttpConnPool&) = delete;

    // Null only when no connection object can be had.
    HttpClient* findOrCreateClient(const char* domain, int port, HttpControl& options, LogBase& log);
    bool synchronousRequest(HttpControl& options, const char* domain, int port, bool tls, HttpRequest& request,
                            HttpResult& result, DataBuffer& body, LogBase& log, ProgressMonitor* pm, bool logDetails);

    int getCount() const { return m_clients.getCount(); }
    HttpClient* clientAt(int index) const;
    XString& sessionLogFilename() { return m_sessionLog; }

private:
    void prepareClient(HttpClient& client);

    int m_maxConnections;
    ExtPtrArray m_clients;
    XString m_sessionLog;
};

} // namespace tessik
