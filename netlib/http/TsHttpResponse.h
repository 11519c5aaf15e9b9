#pragma once
// A response received through TsHttp; the caller that gets it deletes it.
#include "netlib/http/TsString.h"

namespace tessik {

class ClsHttpResponse;

class TsHttpResponse : public TsObject {
public:
    TsHttpResponse();
    // Takes ownership of a non-null implementation.
    explicit TsHttpResponse(ClsHttpResponse* impl);
    ~TsHttpResponse() override;
    TsHttpResponse(const TsHttpResponse&) = delete;
    TsHttpResponse& operator=(const TsHttpResponse&) = delete;

    // The body decoded to text.
    const char* BodyStr();

    // Takes ownership of a non-null implementation, replacing the current one.
    void setImpl(ClsHttpResponse* impl);
    void setUtf8(bool utf8) { m_utf8 = utf8; }
    ClsHttpResponse& impl() { return *m_impl; }

private:
    ClsHttpResponse* m_impl;
    bool m_utf8;
    TsStringRing m_ring;
};

} // namespace tessik
