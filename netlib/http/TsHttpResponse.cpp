#include "netlib/http/TsHttpResponse.h"

#include "netlib/http/ClsHttpResponse.h"

namespace tessik {

TsHttpResponse::TsHttpResponse() : m_impl(new ClsHttpResponse), m_utf8(false) {}

TsHttpResponse::TsHttpResponse(ClsHttpResponse* impl) : m_impl(impl), m_utf8(false) {}

TsHttpResponse::~TsHttpResponse() {
    delete m_impl;
}

void TsHttpResponse::setImpl(ClsHttpResponse* impl) {
    if (!impl || impl == m_impl)
        return;
    delete m_impl;
    m_impl = impl;
}

const char* TsHttpResponse::BodyStr() {
    m_impl->BodyStr(m_ring.next());
    return m_ring.current(m_utf8);
}

} // namespace tessik
