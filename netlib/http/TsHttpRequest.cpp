#include "netlib/http/TsHttpRequest.h"

#include "netlib/http/ClsHttpRequest.h"

namespace tessik {

TsHttpRequest::TsHttpRequest() : m_impl(new ClsHttpRequest), m_utf8(false) {}

TsHttpRequest::~TsHttpRequest() {
    delete m_impl;
}

void TsHttpRequest::UsePostUrlEncoded() {
    m_impl->UsePostUrlEncoded();
}

void TsHttpRequest::SetFromUrl(const char* url) {
    XString x;
    x.setFromAnsiOrUtf8(url, m_utf8);
    m_impl->SetFromUrl(x, true);
}

void TsHttpRequest::AddParam(const char* name, const char* value) {
    XString n, v;
    n.setFromAnsiOrUtf8(name, m_utf8);
    v.setFromAnsiOrUtf8(value, m_utf8);
    m_impl->AddParam(n.getUtf8(), v.getUtf8());
}

} // namespace tessik
