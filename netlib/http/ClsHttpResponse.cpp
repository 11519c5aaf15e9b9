#include "netlib/http/ClsHttpResponse.h"

namespace tessik {

namespace {
constexpr const char* kBodyStrDate = "May 26 2011";
} // namespace

ClsHttpResponse::ClsHttpResponse() = default;

ClsHttpResponse::~ClsHttpResponse() = default;

bool ClsHttpResponse::getHeaderField(const char* name, XString& out) const {
    out.clear();
    StringBuffer value;
    if (!m_result.responseHeader.getField(name, value))
        return false;
    out.setFromUtf8(value.getString());
    return true;
}

void ClsHttpResponse::BodyStr(XString& out) {
    // A lighter frame than enterMethod: no identity lines, checkpoints kept.
    m_log.clearLog();
    m_log.enterContext("BodyStr", true);
    m_log.logData("DllDate", kBodyStrDate);
    out.clear();

    DataBuffer utf8;
    responseBodyText(m_result.responseHeader, m_body, utf8, m_log);
    utf8.appendChar(0);
    out.setFromUtf8(reinterpret_cast<const char*>(utf8.getData()));
    m_log.leaveContext();
}

} // namespace tessik
