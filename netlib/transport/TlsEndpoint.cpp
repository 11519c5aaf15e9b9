#include "netlib/transport/TlsEndpoint.h"

#include <algorithm>

#include "netlib/transport/TlsConstants.h"
#include "netlib/transport/TunnelChannel.h"

namespace tessik {

namespace {

constexpr unsigned int kChannelPiece = 4096;
constexpr unsigned int kReceiveSlack = 1024;
constexpr unsigned int kChannelCloseTimeoutMs = 30000;

void logFlags(const SocketFlags& flags, LogBase& log) {
    log.logDataLong("TimedOut", flags.timedOut);
    log.logDataLong("AbortedByApp", flags.aborted);
    log.logDataLong("FatalError", flags.socketError);
    log.logDataLong("ConnectionClosed", flags.closedByPeer);
}

} // namespace

TlsEndpoint::TlsEndpoint() = default;

TlsEndpoint::~TlsEndpoint() {
    m_pushBack.secureClear();
}

void TlsEndpoint::setChannel(std::unique_ptr<TunnelChannel> channel) {
    m_channel = std::move(channel);
    m_pushBack.clear();
}

TessikSocket* TlsEndpoint::getSocket() {
    if (viaChannel())
        return m_channel->getSocket();
    if (!m_socket)
        m_socket = std::make_unique<TessikSocket>();
    return m_socket.get();
}

bool TlsEndpoint::isConnected() {
    if (m_socket)
        return m_socket->isConnected();
    if (m_channel) {
        LogNull quiet;
        return m_channel->isConnected(quiet, false);
    }
    return false;
}

void TlsEndpoint::close(LogBase& log) {
    if (m_socket)
        m_socket->closeSocket();
    else if (m_channel)
        m_channel->close(true, 0, kChannelCloseTimeoutMs, log, nullptr);
    m_pushBack.clear();
}

unsigned int TlsEndpoint::getReadTimeoutMs() {
    if (m_socket)
        return m_socket->getReadTimeoutMs();
    return m_channel ? m_channel->getIdleTimeoutMs() : kTlsDefaultReadTimeoutMs;
}

void TlsEndpoint::setReadTimeoutMs(unsigned int ms) {
    if (m_socket)
        m_socket->setReadTimeoutMs(ms);
    else if (m_channel)
        m_channel->setIdleTimeoutMs(ms);
}

bool TlsEndpoint::sendBytes(const DataBuffer& data, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm) {
    if (viaChannel())
        return m_channel->sendBytes(data, kTlsSendChunk, heartbeatMs, m_channel->getIdleTimeoutMs(), log, pm);
    return getSocket()->sendDb(data, kTlsSendChunk, heartbeatMs, log, pm);
}

bool TlsEndpoint::waitForData(unsigned int pollMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                              bool* aborted, bool* timedOut, LogBase& log) {
    if (m_pushBack.getSize() != 0)
        return true;
    if (viaChannel())
        return m_channel->waitForData(pollMs, timeoutMs, pm, socketError, aborted, timedOut, log);
    return getSocket()->waitReadable(pollMs, timeoutMs, pm, socketError, aborted, timedOut, log);
}

bool TlsEndpoint::readBytes(unsigned int count, DataBuffer& out, SocketReadParams& params, LogBase& log) {
    if (viaChannel())
        return readFromChannel(count, out, params, log);
    return getSocket()->readNToDataBuffer(count, out, params, log);
}

bool TlsEndpoint::readFromChannel(unsigned int count, DataBuffer& out, SocketReadParams& params, LogBase& log) {
    params.flags.clear();
    if (!out.ensureCapacity(out.getSize() + count + kReceiveSlack)) {
        log.logError("Out of memory for receive buffer..");
        log.logDataLong("numBytesRequested", static_cast<int>(count));
        return false;
    }
    const unsigned int held = std::min(count, m_pushBack.getSize());
    if (held != 0) {
        out.append(m_pushBack.getData(), held);
        m_pushBack.removeFront(held);
        if (params.pm != nullptr)
            params.pm->consumeProgressNoAbort(held);
    }
    for (unsigned int remaining = count - held; remaining > 0;) {
        DataBuffer piece;
        SocketFlags& f = params.flags;
        const bool ok =
            m_channel->receiveBytes(piece, kChannelPiece, params.heartbeatMs, m_channel->getIdleTimeoutMs(), log,
                                    params.pm, &f.timedOut, &f.aborted, &f.socketError, &f.closedByPeer, false);
        if (!ok || piece.getSize() == 0) {
            log.logError(ok ? "NumRead = 0" : "Failed status...");
            logFlags(f, log);
            return false;
        }
        const unsigned int n = std::min(remaining, piece.getSize());
        out.append(piece.getData(), n);
        m_pushBack.append(piece.getData() + n, piece.getSize() - n);
        remaining -= n;
    }
    return true;
}

} // namespace tessik
