#include "netlib/http/ClsHttpResponse.h"

#include <cstring>

#include "netlib/core/EncodingConvert.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/text/TsCharset.h"

namespace tessik {

namespace {
constexpr const char* kBodyStrDate = "May 26 2011";
constexpr const char* kDefaultBodyCharset = "windows-1252";
constexpr int kCodePageLatin1 = 28591;
constexpr int kCodePageUtf8 = 65001;
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

    StringBuffer charset;
    declaredBodyCharset(m_result.responseHeader, m_body, charset, m_log);
    if (charset.getSize() == 0)
        charset.setString(kDefaultBodyCharset);
    m_log.logData("charset", charset.getString());

    _tsCharset cs;
    cs.setByName(charset.getString());
    int codePage = cs.getCodePage() != 0 ? cs.getCodePage() : kCodePageLatin1;

    DataBuffer utf8;
    if (codePage == kCodePageUtf8) {
        utf8.appendDb(m_body);
    } else {
        EncodingConvert conv;
        conv.convert(codePage, kCodePageUtf8, m_body.getData(), m_body.getSize(), utf8);
    }
    utf8.appendChar(0);
    out.setFromUtf8(reinterpret_cast<const char*>(utf8.getData()));
    m_log.leaveContext();
}

} // namespace tessik
