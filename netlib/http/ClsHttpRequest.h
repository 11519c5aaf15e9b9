#pragma once
// The implementation object behind TsHttpRequest: one fully described
// request. This frame holds what the facade hands over (verb, form content
// type, parameters, the URL it was filled from); the request model with its
// header fields, path and bodies takes their place in the request engine.
#include "netlib/core/ClsBase.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/StringPair.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/XString.h"

namespace tessik {

class ClsHttpRequest : public ClsBase, public TessikCritSec {
public:
    ClsHttpRequest();
    ~ClsHttpRequest() override;

    // Verb "POST" with a url-encoded form body.
    void UsePostUrlEncoded();
    // Keeps the URL (logged by the request as "OriginallySetFromUrl").
    void SetFromUrl(XString& url, bool clearParams);
    // Appends a parameter; one of the same name already there stays.
    void AddParam(const char* utf8Name, const char* utf8Value);

    const StringBuffer& getLastUrl() const { return m_lastUrl; }
    const char* getVerb() const { return m_verb.getString(); }
    const char* getContentType() const { return m_contentType.getString(); }
    int getNumParams() const { return m_params.getCount(); }
    // Null outside 0 .. getNumParams()-1.
    StringPair* getParam(int index) const { return static_cast<StringPair*>(m_params.elementAt(index)); }

private:
    StringBuffer m_verb;
    StringBuffer m_contentType;
    ExtPtrArray m_params;
    StringBuffer m_lastUrl;
};

} // namespace tessik
