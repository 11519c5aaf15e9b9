#include "netlib/transport/TunnelChannel.h"

#include "netlib/transport/SChannelTessik.h"
#include "netlib/transport/SshConstants.h"

namespace tessik {

namespace {
constexpr int kTunnelCallerNumber = 300;
} // namespace

TunnelChannel::TunnelChannel()
    : m_tlsInUse(false), m_tls(nullptr), m_ssh(nullptr), m_bytesReceived(0), m_endOfSession(false),
      m_idleTimeoutMs(kDefaultIdleTimeoutMs) {}

TunnelChannel::~TunnelChannel() = default;

void TunnelChannel::attachSsh(SshTransport* transport, std::unique_ptr<SshChannel> channel) {
    m_ssh = transport;
    m_sshChannel = std::move(channel);
}

void TunnelChannel::close(bool shutDown, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                          ProgressMonitor* pm) {
    if (m_ssh) {
        if (!m_sshChannel)
            return;
        m_ssh->setHeartbeatMs(heartbeatMs);
        log.logInfo(kMsgClosingSshChannel);
        bool disconnected = false;
        m_ssh->closeChannel(*m_sshChannel, disconnected, pm, log, false);
        m_sshChannel.reset();
        return;
    }
    if (m_tlsInUse) {
        if (!m_tls) {
            log.logError(kMsgTunnelNoTls);
            return;
        }
        m_tls->sendCloseNotify(shutDown, heartbeatMs, timeoutMs, log, pm);
        m_tls->closeChannel(log);
        return;
    }
    m_socket.closeSocket();
}

bool TunnelChannel::isConnected(LogBase& log, bool verbose) {
    if (m_ssh) {
        if (verbose)
            log.logInfo("Connection is SSH...");
        return true;
    }
    if (!m_tlsInUse) {
        if (verbose)
            log.logInfo("Checking non-SSL connection...");
        return m_socket.isConnected();
    }
    if (verbose)
        log.logInfo("Checking SSL connection...");
    return m_tls && m_tls->isConnected();
}

bool TunnelChannel::sendBytes(const DataBuffer& data, unsigned int chunkSize, unsigned int heartbeatMs,
                              unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm) {
    bool ok;
    if (m_ssh) {
        if (!m_sshChannel) {
            log.logError(kMsgNoSshChannel);
            return false;
        }
        m_ssh->setHeartbeatMs(heartbeatMs);
        ok = m_ssh->sendChannelData(*m_sshChannel, data, chunkSize, pm, log, false);
    } else if (!m_tlsInUse) {
        m_socket.setReadTimeoutMs(idleTimeoutMs);
        ok = m_socket.sendDb(data, chunkSize, heartbeatMs, log, pm);
    } else if (m_tls) {
        ok = m_tls->sendBytes(data, heartbeatMs, idleTimeoutMs, log, pm);
    } else {
        log.logError(kMsgTunnelNoTls);
        return false;
    }
    if (ok && pm && pm->abortCheck(heartbeatMs, 0)) {
        log.logError(kMsgTunnelSendAborted);
        return false;
    }
    return ok;
}

TessikSocket* TunnelChannel::getSocket() {
    if (m_tlsInUse)
        return m_tls ? m_tls->getSocket() : nullptr;
    if (!m_ssh)
        return &m_socket;
    return &m_ssh->getSocket();
}

bool TunnelChannel::receiveBytes(DataBuffer& out, unsigned int maxBytes, unsigned int heartbeatMs,
                                 unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm, bool* timedOut,
                                 bool* aborted, bool* socketError, bool* closedByPeer, bool verbose) {
    DataBuffer received;
    bool ok = false;
    SocketFlags flags;
    if (m_ssh) {
        if (!m_sshChannel) {
            log.logError(kMsgNoSshChannelForReading);
            return false;
        }
        m_ssh->setHeartbeatMs(heartbeatMs);
        SshReadOutcome outcome;
        ok = m_ssh->readChannelData(*m_sshChannel, idleTimeoutMs, true, false, false, idleTimeoutMs, received, received,
                                    outcome, pm, log, verbose, kSshCalledFromTunnel, false);
        flags = outcome.status;
        if (outcome.eof)
            log.logInfo("Received EOF on SSH channel.");
        if (outcome.close)
            log.logInfo("Received Close on SSH channel.");
        if (outcome.disconnect)
            log.logInfo("Disconnected on SSH channel.");
    } else if (m_tlsInUse && m_tls) {
        ok = m_tls->receiveBytes(received, heartbeatMs, idleTimeoutMs, log, pm, &flags.timedOut, &flags.aborted,
                                 &flags.socketError, &m_endOfSession, &flags.closedByPeer, kTunnelCallerNumber);
    } else if (m_tlsInUse) {
        log.logError(kMsgTunnelNoTls);
        flags.socketError = true;
    } else {
        m_socket.setReadTimeoutMs(idleTimeoutMs);
        ok = m_socket.receiveToOutput(received, maxBytes, heartbeatMs, log, pm, flags);
    }
    *timedOut = flags.timedOut;
    *aborted = flags.aborted;
    *socketError = flags.socketError;
    *closedByPeer = flags.closedByPeer;
    m_bytesReceived += received.getSize();
    out.appendDb(received);
    if (ok && pm && pm->abortCheck(heartbeatMs, 0)) {
        log.logError(kMsgTunnelReceiveAborted);
        return false;
    }
    return ok;
}

bool TunnelChannel::waitForData(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm,
                                bool* socketError, bool* aborted, bool* timedOut, LogBase& log) {
    if (m_ssh) {
        *socketError = *aborted = *timedOut = false;
        // Data already read into the transport's queue does not show on the
        // socket: waiting for the socket then would stall.
        if (m_sshChannel && m_ssh->hasQueuedChannelData(m_sshChannel->clientChannelNum))
            return true;
        return m_ssh->waitForData(heartbeatMs, timeoutMs, pm, socketError, aborted, timedOut, log);
    }
    if (m_tlsInUse) {
        if (m_tls)
            return m_tls->waitForData(heartbeatMs, timeoutMs, pm, socketError, aborted, timedOut, log);
        log.logError(kMsgTunnelNoTls);
        *socketError = true;
        return false;
    }
    return m_socket.waitReadable(heartbeatMs, timeoutMs, pm, socketError, aborted, timedOut, log);
}

} // namespace tessik
