#pragma once
// Carries the library's progress events to the application's event sink;
// with no sink every event is dropped.
#include "netlib/core/Progress.h"
#include "netlib/http/TsHttpEventSink.h"

namespace tessik {

class TsHttpCb : public ProgressEvent {
public:
    explicit TsHttpCb(TsHttpEventSink* sink) : m_sink(sink) {}
    ~TsHttpCb() override;

    void PercentDone(int percent, bool* abort) override;
    void AbortCheck(bool* abort) override;
    void HeartbeatCheck(unsigned int value, bool* abort) override;
    void ProgressInfo(const char* name, const char* value) override;
    void ReceiveRate(unsigned int bytesSoFar, unsigned int bytesPerSecond) override;
    void BeginChunkedResponse() override;
    void BeginReceiveResponse() override;
    void EndReceiveResponse(int success) override;
    void BeginSendRequest() override;
    void EndSendRequest(int success) override;
    void RedirectCheck(const char* requestedUrl, const char* redirectUrl, bool* abort) override;

private:
    TsHttpEventSink* m_sink;
};

} // namespace tessik
