#pragma once
// The HTTP component as the application holds it. Returned C strings belong
// to the object (ten stay valid at once); a returned response belongs to the
// caller. One thread at a time per object; the component underneath locks
// itself, so sharing one object for requests alone is safe.
#include "netlib/http/TsHttpEventSink.h"
#include "netlib/http/TsHttpRequest.h"
#include "netlib/http/TsHttpResponse.h"
#include "netlib/http/TsString.h"

namespace tessik {

class ClsHttp;

class TsHttp : public TsObject {
public:
    TsHttp();
    ~TsHttp() override;
    TsHttp(const TsHttp&) = delete;
    TsHttp& operator=(const TsHttp&) = delete;

    // Null when the request failed; LastErrorText says why. The domain is
    // taken as it is, whatever the UTF-8 setting.
    TsHttpResponse* SynchronousRequest(const char* domain, int port, bool ssl, TsHttpRequest& request);
    // The log of the last method call.
    const char* LastErrorText();

    // Receives the progress events of this object's requests; may be null.
    void setEventCallback(TsHttpEventSink* sink) { m_eventSink = sink; }
    void setUtf8(bool utf8) { m_utf8 = utf8; }
    ClsHttp& impl() { return *m_impl; }

private:
    ClsHttp* m_impl;
    TsHttpEventSink* m_eventSink;
    bool m_utf8;
    TsStringRing m_ring;
};

} // namespace tessik
