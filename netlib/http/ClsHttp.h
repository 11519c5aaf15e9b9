#pragma once
// The HTTP component behind TsHttp. It locks itself around a whole request,
// so threads that share one component take turns. This frame opens and
// closes the request's method frame; the exchange itself belongs to the
// request engine, and until it is present every request fails with
// http_msg::kNoEngine in the log.
#include "netlib/core/ClsBase.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/http/ClsHttpRequest.h"
#include "netlib/http/ClsHttpResponse.h"

namespace tessik {

class ClsHttp : public ClsBase, public TessikCritSec {
public:
    ClsHttp();
    ~ClsHttp() override;

    // Sends the request to domain:port; the new response belongs to the
    // caller. Null on failure, with the reason in the own log.
    ClsHttpResponse* SynchronousRequest(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                        ProgressEvent* progress);
    // The worker: the own log on a direct call, a task's log otherwise.
    ClsHttpResponse* synchronousRequestImpl(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                            ProgressEvent* progress, LogBase& log);
};

} // namespace tessik
