#include "netlib/transport/TlsEndpoint.h"

#include "netlib/transport/TlsConstants.h"

namespace tessik {

TlsEndpoint::TlsEndpoint() : m_channel(nullptr) {}

TlsEndpoint::~TlsEndpoint() {
    m_pushBack.secureClear();
}

TessikSocket* TlsEndpoint::getSocket() {
    if (!m_socket)
        m_socket = std::make_unique<TessikSocket>();
    return m_socket.get();
}

bool TlsEndpoint::isConnected() {
    return m_socket && m_socket->isConnected();
}

void TlsEndpoint::close(LogBase& log) {
    if (m_socket)
        m_socket->closeSocket();
    else if (m_channel != nullptr)
        log.logError(kMsgNoTunnelChannel);
    m_pushBack.clear();
}

unsigned int TlsEndpoint::getReadTimeoutMs() {
    return m_socket ? m_socket->getReadTimeoutMs() : kTlsDefaultReadTimeoutMs;
}

bool TlsEndpoint::sendBytes(const DataBuffer& data, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm) {
    if (m_channel != nullptr) {
        log.logError(kMsgNoTunnelChannel);
        return false;
    }
    return getSocket()->sendDb(data, kTlsSendChunk, heartbeatMs, log, pm);
}

bool TlsEndpoint::waitForData(unsigned int pollMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                              bool* aborted, bool* timedOut, LogBase& log) {
    if (m_pushBack.getSize() != 0)
        return true;
    if (m_channel != nullptr) {
        log.logError(kMsgNoTunnelChannel);
        return false;
    }
    return getSocket()->waitReadable(pollMs, timeoutMs, pm, socketError, aborted, timedOut, log);
}

bool TlsEndpoint::readBytes(unsigned int count, DataBuffer& out, SocketReadParams& params, LogBase& log) {
    if (m_channel != nullptr) {
        log.logError(kMsgNoTunnelChannel);
        return false;
    }
    return getSocket()->readNToDataBuffer(count, out, params, log);
}

} // namespace tessik
