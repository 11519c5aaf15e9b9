#pragma once
// The HTTP component behind TsHttp: the options of all its requests, its
// pool of open connections and the result of the last request. It locks
// itself around a whole request, so threads that share one component take
// turns.
#include "netlib/core/ClsBase.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/http/ClsHttpRequest.h"
#include "netlib/http/ClsHttpResponse.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

namespace http_cls {
inline constexpr std::uint32_t kStatusFound = 302;
inline constexpr unsigned int kMonitorTotal = 100;
} // namespace http_cls

class ClsHttp : public ClsBase, public TessikCritSec {
public:
    ClsHttp();
    ~ClsHttp() override;

    // Sends the request to domain:port; the new response belongs to the
    // caller. Any HTTP status is a response; null when the exchange failed,
    // with the reason in the own log.
    ClsHttpResponse* SynchronousRequest(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                        ProgressEvent* progress);
    // The worker: the own log on a direct call, a task's log otherwise.
    ClsHttpResponse* synchronousRequestImpl(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                            ProgressEvent* progress, LogBase& log);
    // One request, then one 302 followed when the options allow it. With
    // useCallerBuffer the body goes to callerBody and the status to the last
    // result, and no response is made.
    ClsHttpResponse* requestFollowRedirect(const char* host, int port, bool ssl, ClsHttpRequest& request,
                                           ProgressEvent* progress, bool useCallerBuffer, DataBuffer* callerBody,
                                           bool& ok, LogBase& log, bool verbose);
    ClsHttpResponse* fullRequest(const char* host, int port, bool ssl, ClsHttpRequest& request, ProgressEvent* progress,
                                 bool useCallerBuffer, DataBuffer* callerBody, bool& ok, LogBase& log, bool verbose);

    HttpControl& options() { return m_options; }
    HttpConnPool& pool() { return m_pool; }
    HttpResult& lastResult() { return m_lastResult; }
    void setVerboseLogging(bool on) { m_verboseLogging = on; }

private:
    HttpControl m_options;
    HttpConnPool m_pool;
    HttpResult m_lastResult;
    // Stands between the pool's monitor and the caller's progress sink.
    EventHistorian m_historian;
    bool m_verboseLogging;
};

} // namespace tessik
