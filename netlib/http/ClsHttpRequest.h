#pragma once
// The implementation object behind TsHttpRequest: one fully described
// request (the request model with its verb, path, header fields,
// parameters and body) and the URL it was last filled from.
#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/XString.h"
#include "netlib/http/HttpRequest.h"

namespace tessik {

class ClsHttpRequest : public ClsBase, public TessikCritSec {
public:
    ClsHttpRequest();
    ~ClsHttpRequest() override;

    // Verb "POST" with a url-encoded form body.
    void UsePostUrlEncoded();
    // Verb "HEAD", without Content-Type and Content-Length.
    void setHeadVerb();
    void setPutVerb();
    // An XML body, its Content-Type naming the charset its bytes are in.
    void setXmlPostBody(const DataBuffer& body, const char* charset);
    void setXmlPutBody(const DataBuffer& body, const char* charset);
    // Takes the URL's path and query (not its host); keeps the URL, which
    // the request logs as "OriginallySetFromUrl".
    void SetFromUrl(XString& url, bool clearParams);
    // Appends a parameter; one of the same name already there stays.
    void AddParam(const char* utf8Name, const char* utf8Value);
    // Replaces every field of that name.
    void AddHeader(XString& name, XString& value);
    void addHeaderAnsi(const char* name, const char* value);
    bool hasHeader(const char* name) const { return m_request.hasHeader(name); }
    void setPath(const char* utf8Path) { m_request.setPath(utf8Path); }
    void getPath(StringBuffer& out) const { m_request.getPath(out); }
    bool LoadBodyFromBytes(const DataBuffer& bytes);
    // The text in the named charset as the body; false (body unchanged) when
    // it cannot be represented there.
    bool loadBodyFromString(XString& text, const char* charset, LogBase& log);
    // The request as an XML document (root "httpRequest"), and back; false
    // when the text is no XML document.
    void ToXml(XString& out);
    bool loadFromXml(const char* xml);
    void logRequest(LogBase& log) const { m_request.logRequest(log); }

    const StringBuffer& getLastUrl() const { return m_lastUrl; }
    HttpRequest& request() { return m_request; }

private:
    void setXmlBody(const DataBuffer& body, const char* charset);

    HttpRequest m_request;
    StringBuffer m_lastUrl;
};

} // namespace tessik
