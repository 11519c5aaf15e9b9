#pragma once
// The application's receiver of an HTTP component's progress events. Every
// slot does nothing unless overridden; setting an abort flag asks the
// running request to stop.

namespace tessik {

class TsHttpEventSink {
public:
    virtual ~TsHttpEventSink();
    virtual void AbortCheck(bool* abort);
    virtual void PercentDone(int percent, bool* abort);
    virtual void ProgressInfo(const char* name, const char* value);
    // Both URLs in UTF-8.
    virtual void HttpRedirect(const char* originalUrl, const char* redirectUrl, bool* abort);
    virtual void HttpChunked();
    virtual void HttpBeginReceive();
    virtual void HttpEndReceive(bool success);
    virtual void HttpBeginSend();
    virtual void HttpEndSend(bool success);
    virtual void ReceiveRate(unsigned int bytesSoFar, unsigned int bytesPerSecond);
};

} // namespace tessik
