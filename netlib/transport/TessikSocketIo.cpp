// Sending and receiving on a TessikSocket.
#include <algorithm>
#include <memory>
#include <new>

#include "netlib/transport/TessikSocket.h"
#include "netlib/transport/WinsockLoader.h"
#include "platform/Ticks.h"
#include "platform/WinErr.h"

namespace tessik {
namespace {

constexpr unsigned int kDefaultSendChunk = 32767;
constexpr unsigned int kMinSendChunk = 1000;
constexpr unsigned int kMaxSendChunk = 2000000;
constexpr unsigned int kMaxReceiveBlock = 1000000;
constexpr unsigned int kReadPiece = 2200000;
constexpr unsigned int kReadPieceSlack = 16;
constexpr std::uint64_t kReadPiece64 = 20000000;
constexpr unsigned int kDrainBufferSize = 2000;
constexpr DWORD kDrainQuietMs = 100;
constexpr unsigned int kDuplexWaitStepMs = 100;
constexpr DWORD kDuplexZeroSleepMs = 10;
constexpr unsigned int kUntilClosedDefaultMs = 60000;
constexpr unsigned int kUntilClosedBlock = 20000;
constexpr unsigned int kWaitForDataDefaultMs = 20;
constexpr unsigned int kProgressSliceMs = 200;
constexpr unsigned int kProgressMinSliceMs = 10;
// A head that runs on past this without its empty line is not one.
constexpr unsigned int kMaxBlankLineHead = 65536;
constexpr const char* kMsgHeadTooLong = "No empty line within the first 64 KiB received.";

std::unique_ptr<unsigned char[]> allocate(std::size_t n) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[n]);
}

} // namespace

void TessikSocket::failAndClose() {
    closeSocket();
}

void TessikSocket::hardSendError(int error, unsigned int size, LogBase& log) {
    logSocketError(error, log);
    log.logError("Error sending on socket");
    log.logDataLong("send_size", static_cast<int>(size));
    failAndClose();
}

bool TessikSocket::sendSb(const StringBuffer& sb, unsigned int chunkSize, unsigned int heartbeatMs, LogBase& log,
                          ProgressMonitor* pm) {
    return sendBytes(reinterpret_cast<const unsigned char*>(sb.getString()), static_cast<unsigned int>(sb.getSize()),
                     chunkSize, heartbeatMs, log, pm);
}

bool TessikSocket::sendDb(const DataBuffer& db, unsigned int chunkSize, unsigned int heartbeatMs, LogBase& log,
                          ProgressMonitor* pm) {
    if (db.getSize() == 0) {
        return false;
    }
    return sendBytes(db.getData(), db.getSize(), chunkSize, heartbeatMs, log, pm);
}

bool TessikSocket::sendBytes(const unsigned char* data, unsigned int len, unsigned int chunkSize,
                             unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm) {
    if (chunkSize == 0) {
        chunkSize = kDefaultSendChunk;
    }
    chunkSize = std::clamp(chunkSize, kMinSendChunk, kMaxSendChunk);
    unsigned int idle = m_idleTimeoutMs == 0 ? kNoTimeoutMs : m_idleTimeoutMs;
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("No socket exists for sending (2b)");
        return false;
    }
    // Each send is told not to wait, so the socket's own mode stays as it
    // is between requests.
    bool failed = false;
    bool aborted = false;
    bool timedOut = false;
    bool socketError = false;
    bool waitFailed = false;
    while (len > 0) {
        unsigned int n = std::min(chunkSize, len);
        if (pm != nullptr && pm->abortCheck(heartbeatMs, 0)) {
            log.logError("Socket SendBytes2 aborted by application. (1a)");
            return false;
        }
        bool throttleAborted = false;
        m_sendThrottle.throttle(heartbeatMs, pm, &throttleAborted);
        if (throttleAborted) {
            log.logError("Aborted by application while upload throttling (1b)");
            return false;
        }
        m_lastSendError = 0;
        long sent = platform::SocketSend(m_socket, data, n, true);
        if (sent < 0) {
            int error = platform::WSAGetLastError();
            m_lastSendError = error;
            if (error != static_cast<int>(platform::WSAEWOULDBLOCK)) {
                hardSendError(error, n, log);
                return false;
            }
            if (!waitWriteableHeartbeat(heartbeatMs, 0, idle, false, log, pm, &failed, &aborted, &timedOut,
                                        &socketError)) {
                waitFailed = true;
                break;
            }
            continue;
        }
        if (sent == 0) {
            platform::Sleep(1);
            continue;
        }
        m_sendThrottle.addBytes(static_cast<std::uint64_t>(sent));
        if (m_rateMonitoring) {
            m_sendMon.addBytes(static_cast<std::uint64_t>(sent), pm);
        }
        if (pm != nullptr && pm->consumeProgress(sent, nullptr)) {
            log.logError(kMsgSendAborted);
            return false;
        }
        data += sent;
        len -= static_cast<unsigned int>(sent);
    }
    if (!waitFailed) {
        return true;
    }
    if (aborted) {
        log.logError(kMsgSendAborted);
    } else if (timedOut) {
        log.logDataLong("idleTimeoutMs", static_cast<int>(idle));
        log.logError(kMsgSendIdleTimeout);
    } else {
        log.logError("Socket send failed");
    }
    return false;
}

bool TessikSocket::drainInput(DataBuffer& received, LogBase& log) {
    unsigned char buffer[kDrainBufferSize];
    DWORD last = platform::GetTickCount();
    for (;;) {
        if (platform::GetTickCount() - last > kDrainQuietMs) {
            return true;
        }
        bool aborted = false;
        m_receiveThrottle.throttle(0, nullptr, &aborted);
        if (aborted) {
            log.logError("Aborted by application while download throttling (3)");
            return false;
        }
        long n = platform::SocketRecv(m_socket, buffer, sizeof buffer, true);
        if (n == 0) {
            log.logError("Socket already closed by peer.");
            failAndClose();
            return false;
        }
        if (n < 0) {
            int error = platform::WSAGetLastError();
            if (error == static_cast<int>(platform::WSAEWOULDBLOCK)) {
                return true;
            }
            logSocketError(error, log);
            log.logError("Failed to accumulate data on socket.");
            return false;
        }
        if (!received.append(buffer, static_cast<unsigned int>(n))) {
            log.logError("Socket receive memory allocation failed.");
            return false;
        }
        m_receiveThrottle.addBytes(static_cast<std::uint64_t>(n));
        if (m_rateMonitoring) {
            m_receiveMon.addBytes(static_cast<std::uint64_t>(n), nullptr);
        }
        last = platform::GetTickCount();
    }
}

bool TessikSocket::sendBytesDuplex(const unsigned char* data, unsigned int len, unsigned int firstChunkSize,
                                   unsigned int firstChunkCount, unsigned int laterChunkSize, unsigned int heartbeatMs,
                                   LogBase& log, ProgressMonitor* pm, DataBuffer& received) {
    unsigned int idle = m_idleTimeoutMs == 0 ? kNoTimeoutMs : m_idleTimeoutMs;
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("No socket exists for sending (2a)");
        return false;
    }
    // Every send and drain is told not to wait, so the socket's own mode
    // stays as it is.
    unsigned int calls = 0;
    while (len > 0) {
        // Nothing can have been answered before the first byte went out.
        if (calls != 0 && !drainInput(received, log)) {
            return false;
        }
        unsigned int size = calls < firstChunkCount ? firstChunkSize : laterChunkSize;
        // A zero size would never move a byte.
        unsigned int n = std::min(std::max(size, 1u), len);
        if (pm != nullptr && pm->abortCheck(heartbeatMs, 0)) {
            log.logError("Socket SendBytes2 aborted by application. (1)");
            return false;
        }
        bool throttleAborted = false;
        m_sendThrottle.throttle(heartbeatMs, pm, &throttleAborted);
        if (throttleAborted) {
            log.logError("Aborted by application while upload throttling (2)");
            return false;
        }
        m_lastSendError = 0;
        long sent = platform::SocketSend(m_socket, data, n, true);
        ++calls;
        if (sent < 0) {
            int error = platform::WSAGetLastError();
            m_lastSendError = error;
            if (error != static_cast<int>(platform::WSAEWOULDBLOCK)) {
                hardSendError(error, n, log);
                return false;
            }
            if (!drainInput(received, log)) {
                return false;
            }
            unsigned int waited = 0;
            bool failed = false;
            bool aborted = false;
            bool timedOut = false;
            bool socketError = false;
            LogNull quiet;
            for (;;) {
                if (waitWriteableHeartbeat(heartbeatMs, 0, kDuplexWaitStepMs, false, quiet, pm, &failed, &aborted,
                                           &timedOut, &socketError)) {
                    break;
                }
                if (aborted || socketError || !drainInput(received, log)) {
                    waited = idle;
                } else {
                    waited += kDuplexWaitStepMs;
                }
                if (waited >= idle) {
                    if (aborted) {
                        log.logError(kMsgSendAborted);
                    } else {
                        log.logDataLong("idleTimeoutMs", static_cast<int>(idle));
                        log.logError(kMsgSendIdleTimeout);
                    }
                    return false;
                }
            }
            continue;
        }
        if (sent == 0) {
            platform::Sleep(kDuplexZeroSleepMs);
            continue;
        }
        m_sendThrottle.addBytes(static_cast<std::uint64_t>(sent));
        if (m_rateMonitoring) {
            m_sendMon.addBytes(static_cast<std::uint64_t>(sent), pm);
        }
        if (pm != nullptr && pm->consumeProgress(sent, nullptr)) {
            log.logError(kMsgSendAborted);
            return false;
        }
        data += sent;
        len -= static_cast<unsigned int>(sent);
    }
    return true;
}

bool TessikSocket::idleInputPending() const {
    return m_socket != platform::INVALID_SOCKET &&
           platform::SocketWait(m_socket, platform::WaitFor::Read, 0) != platform::WaitResult::TimedOut;
}

bool TessikSocket::waitWriteable(unsigned int timeoutSec, LogBase& log) {
    constexpr unsigned int kNoTimeoutSec = 2160000;
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("invalid socket, not ready for writing.");
        return false;
    }
    unsigned int ms = (timeoutSec == 0 ? kNoTimeoutSec : timeoutSec) * 1000u;
    switch (platform::SocketWait(m_socket, platform::WaitFor::Write, ms)) {
    case platform::WaitResult::Ready: return true;
    case platform::WaitResult::TimedOut: log.logError("socket is not ready for writing."); return false;
    case platform::WaitResult::Failed: log.logError("select returned a socket error"); return false;
    }
    return false;
}

bool TessikSocket::waitReadable(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm,
                                bool* socketError, bool* aborted, bool* timedOut, LogBase& log) {
    *socketError = false;
    *aborted = false;
    *timedOut = false;
    if (heartbeatMs != 0 && heartbeatMs < kMinHeartbeatMs) {
        heartbeatMs = kMinHeartbeatMs;
    }
    if (timeoutMs == 0) {
        timeoutMs = kNoTimeoutMs;
    }
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("Invalid socket.");
        *socketError = true;
        return false;
    }
    unsigned int waited = 0;
    bool first = true;
    while (waited < timeoutMs) {
        unsigned int left = timeoutMs - waited;
        unsigned int slice = std::min(heartbeatMs != 0 ? heartbeatMs : timeoutMs, left);
        if (first) {
            slice = std::min(std::max(slice / 2, kMinHeartbeatMs), left);
            first = false;
        }
        platform::WaitResult r = platform::SocketWait(m_socket, platform::WaitFor::Read, slice);
        if (r == platform::WaitResult::Failed) {
            *socketError = true;
            log.logError("Error waiting for socket to become ready for reading.");
            failAndClose();
            return false;
        }
        if (r == platform::WaitResult::Ready) {
            return true;
        }
        waited += slice;
        if (waited >= timeoutMs) {
            break;
        }
        if (pm != nullptr && heartbeatMs != 0 && pm->abortCheck(heartbeatMs, 0)) {
            log.logError("socket operation aborted by application callback");
            *aborted = true;
            return false;
        }
    }
    log.logError(kMsgReadTimeout);
    log.logDataLong("timeoutMs", static_cast<int>(timeoutMs));
    *timedOut = true;
    return false;
}

bool TessikSocket::recvChecked(unsigned char* buf, unsigned int size, unsigned int* got, LogBase& log,
                               ProgressMonitor* pm, SocketFlags& flags, unsigned int waitMs, bool noWait) {
    *got = 0;
    bool throttleAborted = false;
    m_receiveThrottle.throttle(0, pm, &throttleAborted);
    if (throttleAborted) {
        flags.aborted = true;
        log.logError("Aborted by application while download throttling (2)");
        return false;
    }
    long n = platform::SocketRecv(m_socket, buf, size, noWait);
    if (n < 0 && noWait && platform::WSAGetLastError() == static_cast<int>(platform::WSAEWOULDBLOCK))
        return true;
    if (n < 0 && waitMs != 0 && platform::WSAGetLastError() == static_cast<int>(platform::WSAEWOULDBLOCK)) {
        log.logError(kMsgReadTimeout);
        log.logDataLong("timeoutMs", static_cast<int>(waitMs));
        flags.timedOut = true;
        return false;
    }
    if (n == 0) {
        log.logDataLong("numBytesRequested", static_cast<int>(size));
        log.logError(kMsgClosedByServer);
        failAndClose();
        flags.closedByPeer = true;
        return false;
    }
    if (n < 0) {
        logSocketError(platform::WSAGetLastError(), log);
        log.logDataLong("numBytesRequested", static_cast<int>(size));
        log.logError("Failed to receive data on the TCP socket");
        flags.socketError = true;
        m_connected = false;
        return false;
    }
    m_receiveThrottle.addBytes(static_cast<std::uint64_t>(n));
    if (m_rateMonitoring) {
        m_receiveMon.addBytes(static_cast<std::uint64_t>(n), pm);
    }
    if (pm != nullptr) {
        pm->consumeProgress(n, nullptr);
    }
    *got = static_cast<unsigned int>(n);
    return true;
}

bool TessikSocket::receiveBytes(unsigned char* buf, unsigned int* len, unsigned int heartbeatMs, LogBase& log,
                                ProgressMonitor* pm, SocketFlags& flags) {
    flags.clear();
    unsigned int want = *len;
    *len = 0;
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("This socket is not connected");
        flags.socketError = true;
        m_connected = false;
        return false;
    }
    // With no heartbeat to keep, the receive waits by itself: one call in
    // place of a wait and a read.
    if (heartbeatMs == 0 && useReceiveTimeout(m_idleTimeoutMs)) {
        return recvChecked(buf, want, len, log, pm, flags, m_idleTimeoutMs);
    }
    if (!waitReadable(heartbeatMs, m_idleTimeoutMs, pm, &flags.socketError, &flags.aborted, &flags.timedOut, log)) {
        return false;
    }
    return recvChecked(buf, want, len, log, pm, flags);
}

bool TessikSocket::useReceiveTimeout(unsigned int timeoutMs) {
    if (timeoutMs == 0) {
        timeoutMs = kNoTimeoutMs;
    }
    if (m_receiveTimeoutSet == timeoutMs) {
        return true;
    }
    if (!platform::SocketSetReceiveTimeout(m_socket, timeoutMs)) {
        return false;
    }
    m_receiveTimeoutSet = timeoutMs;
    return true;
}

bool TessikSocket::receiveToOutput(DataBuffer& out, unsigned int maxBytes, unsigned int heartbeatMs, LogBase& log,
                                   ProgressMonitor* pm, SocketFlags& flags) {
    maxBytes = std::clamp(maxBytes, 1u, kMaxReceiveBlock);
    const unsigned int before = out.getSize();
    // Straight into the buffer's own room, which stays for the next read.
    if (out.isBorrowed() || before > UINT32_MAX - maxBytes || !out.ensureCapacity(before + maxBytes)) {
        log.logError("Packet memory allocation failed");
        return false;
    }
    unsigned int len = maxBytes;
    const bool ok = receiveBytes(out.getData() + before, &len, heartbeatMs, log, pm, flags);
    out.setSize(before + len);
    return ok || len > 0;
}

bool TessikSocket::receiveUntilClosedToOutput(unsigned int chunk, unsigned int heartbeatMs, ProgressMonitor* pm,
                                              PerformanceMon* rateMon, Output& out, LogBase& log, ReceiveCopy* copy,
                                              bool* closedByPeer) {
    if (closedByPeer != nullptr) {
        *closedByPeer = false;
    }
    chunk = std::clamp(chunk, 1u, kMaxReceiveBlock);
    auto block = allocate(chunk);
    if (!block) {
        log.logError("Out of memory for socket reading");
        return false;
    }
    bool monitored = pm != nullptr && rateMon != nullptr;
    if (monitored) {
        rateMon->start();
    }
    SocketFlags flags;
    bool grew = false;
    bool ok = true;
    while (ok) {
        unsigned int len = chunk;
        ok = receiveBytes(block.get(), &len, heartbeatMs, log, pm, flags);
        if (len == 0) {
            continue;
        }
        if (out.writeBytes(block.get(), 1, len, nullptr, log) != len) {
            ok = false;
            break;
        }
        if (copy != nullptr) {
            copy->logReceivedBytes(block.get(), len);
        }
        if (monitored) {
            rateMon->addBytes(len, pm);
        }
        grew = true;
    }
    if (monitored) {
        rateMon->finish(pm);
    }
    if (closedByPeer != nullptr) {
        *closedByPeer = flags.closedByPeer;
    }
    return grew || ok;
}

bool TessikSocket::readN(unsigned char* buf, unsigned int n, unsigned int heartbeatMs, LogBase& log,
                         ProgressMonitor* pm, unsigned int* got, SocketFlags& flags) {
    flags.clear();
    *got = 0;
    if (n == 0) {
        return true;
    }
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("This socket is not connected");
        flags.socketError = true;
        m_connected = false;
        return false;
    }
    while (*got < n) {
        if (pm != nullptr) {
            pm->pollAbort(heartbeatMs, 0);
            if (pm->isAborted()) {
                flags.aborted = true;
                return false;
            }
        }
        // Bytes already waiting need no wait first: a bulk transfer reads
        // record after record without a poll before each read.
        unsigned int k = 0;
        if (!recvChecked(buf + *got, n - *got, &k, log, pm, flags, 0, true)) {
            return false;
        }
        if (k == 0) {
            if (!waitReadable(heartbeatMs, m_idleTimeoutMs, pm, &flags.socketError, &flags.aborted, &flags.timedOut,
                              log)) {
                return false;
            }
            if (!recvChecked(buf + *got, n - *got, &k, log, pm, flags)) {
                return false;
            }
        }
        *got += k;
    }
    return true;
}

bool TessikSocket::readNToDataBuffer(unsigned int n, DataBuffer& out, SocketReadParams& params, LogBase& log) {
    params.flags.clear();
    while (n > 0) {
        if (params.pm != nullptr) {
            params.pm->pollAbort(params.heartbeatMs, 0);
            if (params.pm->isAborted()) {
                params.flags.aborted = true;
                return false;
            }
        }
        unsigned int piece = std::min(n, kReadPiece);
        unsigned int before = out.getSize();
        if (!out.ensureCapacity(before + piece + kReadPieceSlack) ||
            out.getCapacity() < before + piece + kReadPieceSlack) {
            log.logError("Failed to allocate buffer in Socket.ReadN");
            return false;
        }
        unsigned int got = 0;
        bool ok = readN(out.getData() + before, piece, params.heartbeatMs, log, params.pm, &got, params.flags);
        out.setSize(before + got);
        if (!ok) {
            return false;
        }
        n -= piece;
    }
    return true;
}

bool TessikSocket::readNToDataBuffer(unsigned int n, DataBuffer& out, unsigned int heartbeatMs, LogBase& log,
                                     ProgressMonitor* pm, bool* timedOut, bool* aborted, bool* socketError,
                                     bool* closedByPeer) {
    SocketReadParams params;
    params.heartbeatMs = heartbeatMs;
    params.pm = pm;
    bool ok = readNToDataBuffer(n, out, params, log);
    *timedOut = params.flags.timedOut;
    *aborted = params.flags.aborted;
    *socketError = params.flags.socketError;
    *closedByPeer = params.flags.closedByPeer;
    return ok;
}

bool TessikSocket::readNToOutput(unsigned int n, Output& out, unsigned int heartbeatMs, LogBase& log, ReceiveCopy* copy,
                                 ProgressMonitor* pm, SocketFlags& flags) {
    flags.clear();
    auto block = allocate(std::min(n, kReadPiece) + kReadPieceSlack);
    if (!block) {
        log.logError("Out of memory for socket reading to output");
        return false;
    }
    while (n > 0) {
        if (pm != nullptr && n > kReadPiece) {
            pm->pollAbort(heartbeatMs, 0);
            if (pm->isAborted()) {
                flags.aborted = true;
                log.logError("Application aborted socket receive in AbortCheck callback.");
                return false;
            }
        }
        unsigned int piece = std::min(n, kReadPiece);
        unsigned int got = 0;
        bool ok = readN(block.get(), piece, heartbeatMs, log, pm, &got, flags);
        if (got > 0) {
            // What did arrive is kept even when the read stopped short.
            if (out.writeBytes(block.get(), 1, got, nullptr, log) != got) {
                return false;
            }
            if (copy != nullptr) {
                copy->logReceivedBytes(block.get(), got);
            }
        }
        if (!ok) {
            return false;
        }
        n -= piece;
    }
    return true;
}

bool TessikSocket::readN64ToOutput(std::uint64_t count, Output& out, unsigned int heartbeatMs, LogBase& log,
                                   ReceiveCopy* copy, ProgressMonitor* pm, SocketFlags& flags) {
    flags.clear();
    while (count > 0) {
        auto piece = static_cast<unsigned int>(std::min(count, kReadPiece64));
        if (!readNToOutput(piece, out, heartbeatMs, log, copy, pm, flags)) {
            return false;
        }
        count -= piece;
    }
    return true;
}

bool TessikSocket::receiveUntilClosed(DataBuffer& out, LogBase& log, ProgressMonitor* pm, bool* closed) {
    *closed = false;
    unsigned int timeoutMs = m_idleTimeoutMs == 0 ? kUntilClosedDefaultMs : m_idleTimeoutMs;
    auto block = allocate(kUntilClosedBlock);
    if (!block) {
        log.logError("Socket read memory allocation failed.");
        return false;
    }
    for (;;) {
        if (m_socket == platform::INVALID_SOCKET) {
            *closed = true;
            break;
        }
        if (!waitForDataProgress(timeoutMs, log, pm, 0, 0)) {
            if (m_socket == platform::INVALID_SOCKET) {
                *closed = true;
            } else {
                log.logDataLong("timeoutMs2", static_cast<int>(timeoutMs));
                log.logError("WaitForData timed out.");
            }
            break;
        }
        bool aborted = false;
        m_receiveThrottle.throttle(0, pm, &aborted);
        if (aborted) {
            log.logError("Aborted by application while download throttling (1)");
            break;
        }
        long n = platform::SocketRecv(m_socket, block.get(), kUntilClosedBlock);
        if (n == 0) {
            log.logInfo("The peer has closed the socket (TCP) connection");
            failAndClose();
            *closed = true;
            break;
        }
        if (n < 0) {
            logSocketError(platform::WSAGetLastError(), log);
            log.logError("Failed to receive on the TCP socket");
            m_connected = false;
            break;
        }
        if (!out.append(block.get(), static_cast<unsigned int>(n))) {
            log.logError("Socket read memory allocation failed.");
            break;
        }
        m_receiveThrottle.addBytes(static_cast<std::uint64_t>(n));
        if (m_rateMonitoring) {
            m_receiveMon.addBytes(static_cast<std::uint64_t>(n), pm);
        }
        if (pm != nullptr) {
            pm->consumeProgress(n, nullptr);
        }
    }
    return out.getSize() != 0;
}

bool TessikSocket::waitForData(unsigned int timeoutMs, bool poll, ProgressMonitor* pm, bool* closed, LogBase& log) {
    *closed = false;
    if (pm != nullptr && pm->isAborted()) {
        log.logError("Wait-for-data aborted by app");
        return false;
    }
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("Wait-for-data passed invalid socket.");
        *closed = true;
        return false;
    }
    if (timeoutMs == 0 && !poll) {
        timeoutMs = kWaitForDataDefaultMs;
    }
    platform::WaitResult r = platform::SocketWait(m_socket, platform::WaitFor::Read, timeoutMs);
    if (r == platform::WaitResult::Failed) {
        *closed = true;
        log.logError("The peer has closed the socket (TCP) connection");
        failAndClose();
        return false;
    }
    return r == platform::WaitResult::Ready;
}

bool TessikSocket::waitForDataProgress(unsigned int timeoutMs, LogBase& log, ProgressMonitor* pm,
                                       unsigned int stepBytes, unsigned int stepTotal) {
    if (pm == nullptr) {
        bool closed = false;
        return waitForData(timeoutMs, false, nullptr, &closed, log);
    }
    if (timeoutMs == 0 || m_socket == platform::INVALID_SOCKET) {
        return false;
    }
    unsigned int waited = 0;
    unsigned int reported = 0;
    while (waited < timeoutMs) {
        unsigned int slice = std::max(std::min(kProgressSliceMs, timeoutMs - waited), kProgressMinSliceMs);
        if (reported < stepTotal) {
            pm->consumeProgress(stepBytes, nullptr);
            reported += stepBytes;
        }
        if (pm->isAborted()) {
            log.logError("Wait-for-data aborted by app");
            return false;
        }
        platform::WaitResult r = platform::SocketWait(m_socket, platform::WaitFor::Read, slice);
        if (r == platform::WaitResult::Failed) {
            log.logError("The peer has closed the socket (TCP) connection");
            failAndClose();
            return false;
        }
        if (pm->isAborted()) {
            return false;
        }
        if (r == platform::WaitResult::Ready) {
            return true;
        }
        waited += slice;
    }
    return false;
}

bool TessikSocket::blankLine(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm, bool lax) {
    unsigned int sinceLineFeed = 0;
    for (unsigned int taken = 0;; ++taken) {
        if (taken == kMaxBlankLineHead) {
            log.logError(kMsgHeadTooLong);
            return false;
        }
        unsigned char c = 0;
        unsigned int got = 0;
        SocketFlags flags;
        if (!readN(&c, 1, heartbeatMs, log, pm, &got, flags)) {
            return false;
        }
        if (!out.appendChar(c)) {
            return false;
        }
        if (c == '\n') {
            if (sinceLineFeed == 0) {
                return true;
            }
            sinceLineFeed = 0;
        } else if (c == '\r') {
            if (lax) {
                sinceLineFeed = 0;
            }
        } else {
            ++sinceLineFeed;
        }
    }
}

bool TessikSocket::receiveUntilBlankLine(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm) {
    return blankLine(out, heartbeatMs, log, pm, false);
}

bool TessikSocket::receiveUntilBlankLineLax(DataBuffer& out, unsigned int heartbeatMs, LogBase& log,
                                            ProgressMonitor* pm) {
    return blankLine(out, heartbeatMs, log, pm, true);
}

} // namespace tessik
