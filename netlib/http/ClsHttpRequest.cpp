#include "netlib/http/ClsHttpRequest.h"

#include <new>

#include "netlib/http/HttpConstants.h"

namespace tessik {

ClsHttpRequest::ClsHttpRequest() : m_verb("GET") {
    m_params.setOwnsObjects(true);
}

ClsHttpRequest::~ClsHttpRequest() = default;

void ClsHttpRequest::UsePostUrlEncoded() {
    m_verb.setString("POST");
    m_contentType.setString(http_msg::kFormContentType);
}

void ClsHttpRequest::SetFromUrl(XString& url, bool clearParams) {
    enterMethod("SetFromUrl");
    m_lastUrl.setString(url.getAnsi());
    m_log.logData("url", url.getUtf8());
    if (clearParams)
        m_params.removeAllObjects();
    m_log.leaveContext();
}

void ClsHttpRequest::AddParam(const char* utf8Name, const char* utf8Value) {
    auto* pair = new (std::nothrow) StringPair(utf8Name, utf8Value);
    if (pair && !m_params.appendPtr(pair))
        delete pair;
}

} // namespace tessik
