#include "netlib/http/TsHttp.h"

#include "netlib/http/ClsHttp.h"
#include "netlib/http/TsHttpCb.h"

namespace tessik {

TsHttp::TsHttp() : m_impl(new ClsHttp), m_eventSink(nullptr), m_utf8(false) {}

TsHttp::~TsHttp() {
    delete m_impl;
}

TsHttpResponse* TsHttp::SynchronousRequest(const char* domain, int port, bool ssl, TsHttpRequest& request) {
    TsHttpCb events(m_eventSink);
    ClsHttpResponse* result = m_impl->SynchronousRequest(domain, port, ssl, request.impl(), &events);
    if (!result)
        return nullptr;
    return new TsHttpResponse(result);
}

const char* TsHttp::LastErrorText() {
    m_impl->getLastErrorText(m_ring.next(), false);
    return m_ring.current(m_utf8);
}

} // namespace tessik
