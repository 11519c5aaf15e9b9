#include "netlib/http/ClsHttp.h"

#include "netlib/http/HttpConstants.h"

namespace tessik {

ClsHttp::ClsHttp() = default;

ClsHttp::~ClsHttp() = default;

ClsHttpResponse* ClsHttp::SynchronousRequest(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                             ProgressEvent* progress) {
    return synchronousRequestImpl(domain, port, ssl, request, progress, m_log);
}

ClsHttpResponse* ClsHttp::synchronousRequestImpl(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                                 ProgressEvent*, LogBase& log) {
    CritSecExitor lock(*this);
    enterMethodLog("SynchronousRequest", log);
    log.logData("domain", domain);
    log.logDataLong("port", port);
    log.logDataLong("ssl", ssl ? 1 : 0);
    if (request.getLastUrl().getSize() > 0)
        log.logData("OriginallySetFromUrl", request.getLastUrl().getString());

    log.logError(http_msg::kNoEngine);
    ClsHttpResponse* response = nullptr;
    logSuccessOrFailed(response != nullptr, log);
    log.leaveContext();
    return response;
}

} // namespace tessik
