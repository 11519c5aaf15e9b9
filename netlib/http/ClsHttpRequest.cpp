#include "netlib/http/ClsHttpRequest.h"

#include <memory>

#include "netlib/core/ClsXml.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/TessikUrl.h"

namespace tessik {

namespace {
constexpr const char* kXmlContentType = "text/xml";
constexpr const char* kXmlRoot = "httpRequest";
} // namespace

ClsHttpRequest::ClsHttpRequest() = default;

ClsHttpRequest::~ClsHttpRequest() = default;

void ClsHttpRequest::UsePostUrlEncoded() {
    m_request.setVerb("POST");
    m_request.setHeader("Content-Type", http_msg::kFormContentType);
}

void ClsHttpRequest::setHeadVerb() {
    m_request.setVerb("HEAD");
    m_request.removeHeader("Content-Type");
    m_request.removeHeader("Content-Length");
}

void ClsHttpRequest::setPutVerb() {
    m_request.setVerb("PUT");
}

void ClsHttpRequest::setXmlPostBody(const DataBuffer& body, const char* charset) {
    m_log.logDataLong("xmlNumBytes", static_cast<int>(body.getSize()));
    m_request.setVerb("POST");
    setXmlBody(body, charset);
}

void ClsHttpRequest::setXmlPutBody(const DataBuffer& body, const char* charset) {
    m_request.setVerb("PUT");
    setXmlBody(body, charset);
}

void ClsHttpRequest::setXmlBody(const DataBuffer& body, const char* charset) {
    StringBuffer type(kXmlContentType);
    type.append("; charset=");
    type.append(charset);
    m_request.setHeader("Content-Type", type.getString());
    m_request.setAltBody(body);
}

void ClsHttpRequest::SetFromUrl(XString& url, bool clearParams) {
    enterMethod("SetFromUrl");
    m_lastUrl.setString(url.getAnsi());
    m_log.logData("url", url.getUtf8());
    m_request.setFromUrl(url.getAnsi(), clearParams);
    // Its query becomes parameters, which would go out escaped: the URL is
    // refused whole instead, as on every other road.
    m_request.setBadUrl(TessikUrl::holdsControlByte(url.getUtf8Sb()));
    m_log.leaveContext();
}

void ClsHttpRequest::AddParam(const char* utf8Name, const char* utf8Value) {
    m_request.addParam(utf8Name, utf8Value);
}

void ClsHttpRequest::AddHeader(XString& name, XString& value) {
    enterMethod("AddHeader");
    m_log.logData("name", name.getUtf8());
    m_log.logData("value", value.getUtf8());
    m_request.setHeader(name.getUtf8(), value.getUtf8());
    if (TessikUrl::holdsNul(name.getUtf8Sb()) || TessikUrl::holdsNul(value.getUtf8Sb()))
        m_request.markBadField();
    m_log.leaveContext();
}

void ClsHttpRequest::addHeaderAnsi(const char* name, const char* value) {
    m_request.setHeader(name, value);
}

bool ClsHttpRequest::LoadBodyFromBytes(const DataBuffer& bytes) {
    enterMethod("LoadBodyFromBytes");
    m_request.setAltBody(bytes);
    const bool ok = m_request.altBody().getSize() == bytes.getSize();
    if (!ok)
        m_log.logError("Out of memory");
    logSuccessOrFailed(ok);
    m_log.leaveContext();
    return ok;
}

bool ClsHttpRequest::loadBodyFromString(XString& text, const char* charset, LogBase& log) {
    DataBuffer bytes;
    if (!convertToNamedCharset(charset, text, bytes, false, log))
        return false;
    m_request.setAltBody(bytes);
    return true;
}

void ClsHttpRequest::ToXml(XString& out) {
    enterMethod("ToXml");
    out.clear();
    ClsXml xml;
    xml.setTag(kXmlRoot);
    m_request.saveXml(xml, m_log);
    xml.getXml(out);
    m_log.leaveContext();
}

bool ClsHttpRequest::loadFromXml(const char* xml) {
    LogNull quiet;
    ClsXml doc;
    if (!doc.LoadXml(xml, false))
        return false;
    m_request.loadXml(doc, quiet);
    return true;
}

} // namespace tessik
