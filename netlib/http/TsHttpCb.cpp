#include "netlib/http/TsHttpCb.h"

namespace tessik {

TsHttpEventSink::~TsHttpEventSink() = default;
void TsHttpEventSink::AbortCheck(bool*) {}
void TsHttpEventSink::PercentDone(int, bool*) {}
void TsHttpEventSink::ProgressInfo(const char*, const char*) {}
void TsHttpEventSink::HttpRedirect(const char*, const char*, bool*) {}
void TsHttpEventSink::HttpChunked() {}
void TsHttpEventSink::HttpBeginReceive() {}
void TsHttpEventSink::HttpEndReceive(bool) {}
void TsHttpEventSink::HttpBeginSend() {}
void TsHttpEventSink::HttpEndSend(bool) {}
void TsHttpEventSink::ReceiveRate(unsigned int, unsigned int) {}

TsHttpCb::~TsHttpCb() = default;

void TsHttpCb::PercentDone(int percent, bool* abort) {
    if (m_sink)
        m_sink->PercentDone(percent, abort);
}

void TsHttpCb::AbortCheck(bool* abort) {
    if (m_sink)
        m_sink->AbortCheck(abort);
}

// The heartbeat's value means nothing to the application: it sees an abort
// check like any other.
void TsHttpCb::HeartbeatCheck(unsigned int, bool* abort) {
    if (m_sink)
        m_sink->AbortCheck(abort);
}

void TsHttpCb::ProgressInfo(const char* name, const char* value) {
    if (m_sink)
        m_sink->ProgressInfo(name, value);
}

void TsHttpCb::ReceiveRate(unsigned int bytesSoFar, unsigned int bytesPerSecond) {
    if (m_sink)
        m_sink->ReceiveRate(bytesSoFar, bytesPerSecond);
}

void TsHttpCb::BeginChunkedResponse() {
    if (m_sink)
        m_sink->HttpChunked();
}

void TsHttpCb::BeginReceiveResponse() {
    if (m_sink)
        m_sink->HttpBeginReceive();
}

void TsHttpCb::EndReceiveResponse(int success) {
    if (m_sink)
        m_sink->HttpEndReceive(success != 0);
}

void TsHttpCb::BeginSendRequest() {
    if (m_sink)
        m_sink->HttpBeginSend();
}

void TsHttpCb::EndSendRequest(int success) {
    if (m_sink)
        m_sink->HttpEndSend(success != 0);
}

void TsHttpCb::RedirectCheck(const char* requestedUrl, const char* redirectUrl, bool* abort) {
    if (m_sink)
        m_sink->HttpRedirect(requestedUrl, redirectUrl, abort);
}

} // namespace tessik
