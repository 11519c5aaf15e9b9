#pragma once
// A request to send through TsHttp. Texts are in the process ANSI code page
// unless setUtf8(true) says UTF-8.
#include "netlib/http/TsString.h"

namespace tessik {

class ClsHttpRequest;

class TsHttpRequest : public TsObject {
public:
    TsHttpRequest();
    ~TsHttpRequest() override;
    TsHttpRequest(const TsHttpRequest&) = delete;
    TsHttpRequest& operator=(const TsHttpRequest&) = delete;

    void UsePostUrlEncoded();
    // Takes the URL's path and query; the parameters set so far are dropped.
    void SetFromUrl(const char* url);
    void AddParam(const char* name, const char* value);

    void setUtf8(bool utf8) { m_utf8 = utf8; }
    ClsHttpRequest& impl() { return *m_impl; }

private:
    ClsHttpRequest* m_impl;
    bool m_utf8;
    TsStringRing m_ring;
};

} // namespace tessik
