#include "netlib/transport/LoggedSocket2.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "netlib/core/FileSys.h"
#include "platform/Ticks.h"

namespace tessik {
namespace {

constexpr unsigned int kDefaultSourceChunk = 65535;
constexpr unsigned int kMinSourceChunk = 4000;
constexpr unsigned int kMaxSourceChunk = 2000000;
constexpr unsigned int kSourceChunkSlack = 32;
constexpr unsigned int kLastBytesKept = 16;
constexpr std::uint64_t kMsPerSecond = 1000;
constexpr const char* kSourceEvent = "SendOnSocketFromSource";

} // namespace

LoggedSocket2::LoggedSocket2()
    : m_tls(std::make_unique<SChannelTessik>()), m_lastDirection(kNone), m_logToFile(false), m_keepInMemory(false) {}

LoggedSocket2::~LoggedSocket2() = default;

void LoggedSocket2::record(const void* data, std::uint64_t n, LogBase* log) {
    if (n == 0) {
        return;
    }
    if (m_keepInMemory) {
        m_memoryLog.append(data, static_cast<unsigned int>(n));
    }
    if (m_logToFile && m_sessionLogPath.getSizeUtf8() != 0) {
        appendToFile(m_sessionLogPath, data, n, log);
    }
}

void LoggedSocket2::enterDirection(Direction direction, LogBase* log) {
    if (m_lastDirection != direction) {
        const char* header = direction == kSending ? kTrafficSendingHeader : kTrafficReceivedHeader;
        record(header, std::strlen(header), log);
    }
    m_lastDirection = direction;
}

void LoggedSocket2::logReceivedBytes(const unsigned char* data, unsigned int n) {
    record(data, n, nullptr);
}

bool LoggedSocket2::sendBytes(const unsigned char* data, unsigned int len, unsigned int chunkSize,
                              unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm) {
    bool ok = m_socket.sendBytes(data, len, chunkSize, heartbeatMs, log, pm);
    if (ok) {
        enterDirection(kSending, &log);
        record(data, len, &log);
    }
    return ok;
}

bool LoggedSocket2::sendBytesSb(const StringBuffer& sb, unsigned int chunkSize, unsigned int heartbeatMs, LogBase& log,
                                ProgressMonitor* pm) {
    return sendBytes(reinterpret_cast<const unsigned char*>(sb.getString()), static_cast<unsigned int>(sb.getSize()),
                     chunkSize, heartbeatMs, log, pm);
}

bool LoggedSocket2::sendBytesDuplex(const unsigned char* data, unsigned int len, unsigned int firstChunkSize,
                                    unsigned int firstChunkCount, unsigned int laterChunkSize, unsigned int heartbeatMs,
                                    LogBase& log, ProgressMonitor* pm, DataBuffer& received) {
    enterDirection(kSending, &log);
    bool ok = m_socket.sendBytesDuplex(data, len, firstChunkSize, firstChunkCount, laterChunkSize, heartbeatMs, log, pm,
                                       received);
    if (ok) {
        record(data, len, &log);
    }
    return ok;
}

bool LoggedSocket2::tlsSendBytes(const unsigned char* data, unsigned int len, unsigned int heartbeatMs,
                                 unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm) {
    bool ok = m_tls->sendBytes(data, len, heartbeatMs, idleTimeoutMs, log, pm);
    if (ok) {
        enterDirection(kSending, &log);
        record(data, len, &log);
    }
    return ok;
}

bool LoggedSocket2::tlsReceiveBytes(DataBuffer& out, unsigned int heartbeatMs, unsigned int idleTimeoutMs, LogBase& log,
                                    ProgressMonitor* pm, bool* timedOut, bool* aborted, bool* fatalError,
                                    bool* endOfSession, bool* connectionClosed, int callerNumber) {
    out.clear();
    bool ok = m_tls->receiveBytes(out, heartbeatMs, idleTimeoutMs, log, pm, timedOut, aborted, fatalError, endOfSession,
                                  connectionClosed, callerNumber);
    if (ok) {
        enterDirection(kReceiving, &log);
        record(out.getData(), out.getSize(), &log);
    }
    return ok;
}

bool LoggedSocket2::receiveUntilBlankLine(DataBuffer& out, unsigned int heartbeatMs, LogBase& log,
                                          ProgressMonitor* pm) {
    unsigned int before = out.getSize();
    bool ok = m_socket.receiveUntilBlankLine(out, heartbeatMs, log, pm);
    if (ok) {
        enterDirection(kReceiving, &log);
        record(out.getData() + before, out.getSize() - before, &log);
    }
    return ok;
}

bool LoggedSocket2::receiveUntilBlankLineLax(DataBuffer& out, unsigned int heartbeatMs, LogBase& log,
                                             ProgressMonitor* pm) {
    unsigned int before = out.getSize();
    bool ok = m_socket.receiveUntilBlankLineLax(out, heartbeatMs, log, pm);
    if (ok) {
        enterDirection(kReceiving, &log);
        record(out.getData() + before, out.getSize() - before, &log);
    }
    return ok;
}

bool LoggedSocket2::readN(unsigned int n, DataBuffer& out, SocketReadParams& params, LogBase& log) {
    unsigned int before = out.getSize();
    bool ok = m_socket.readNToDataBuffer(n, out, params, log);
    if (ok) {
        enterDirection(kReceiving, &log);
        record(out.getData() + before, out.getSize() - before, &log);
    }
    return ok;
}

bool LoggedSocket2::receiveUntilClosed(unsigned int chunk, unsigned int heartbeatMs, ProgressMonitor* pm,
                                       PerformanceMon* rateMon, Output& out, LogBase& log, bool* closedByPeer) {
    enterDirection(kReceiving, &log);
    return m_socket.receiveUntilClosedToOutput(chunk, heartbeatMs, pm, rateMon, out, log, this, closedByPeer);
}

bool LoggedSocket2::receiveBytesToOutput(unsigned int n, Output& out, unsigned int heartbeatMs, LogBase& log,
                                         ProgressMonitor* pm, SocketFlags& flags) {
    enterDirection(kReceiving, &log);
    return m_socket.readNToOutput(n, out, heartbeatMs, log, this, pm, flags);
}

bool LoggedSocket2::receiveBytesToOutput64(std::uint64_t count, Output& out, unsigned int heartbeatMs, LogBase& log,
                                           ProgressMonitor* pm, SocketFlags& flags) {
    enterDirection(kReceiving, &log);
    return m_socket.readN64ToOutput(count, out, heartbeatMs, log, this, pm, flags);
}

bool LoggedSocket2::receiveSome(DataBuffer& out, unsigned int maxBytes, unsigned int heartbeatMs, LogBase& log,
                                ProgressMonitor* pm, SocketFlags& flags) {
    enterDirection(kReceiving, &log);
    const unsigned int before = out.getSize();
    const bool ok = m_socket.receiveToOutput(out, maxBytes, heartbeatMs, log, pm, flags);
    if (out.getSize() > before) {
        record(out.getData() + before, out.getSize() - before, &log);
    }
    return ok;
}

void LoggedSocket2::closeSocket() {
    m_socket.closeSocket();
    LogNull quiet;
    m_tls->closeChannel(quiet);
}

bool LoggedSocket2::sendCloseNotify(bool shutDown, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                                    ProgressMonitor* pm) {
    return m_tls->sendCloseNotify(shutDown, heartbeatMs, timeoutMs, log, pm);
}

void LoggedSocket2::setVerboseLogging(bool on) {
    m_tls->setVerboseLogging(on);
}

bool LoggedSocket2::SendOnSocketFromSource(DataSource& source, unsigned int chunkSize, unsigned int heartbeatMs,
                                           unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm,
                                           PerformanceMon* rateMon, bool reportProgress, unsigned int* bytesPerSec,
                                           std::uint64_t* totalSent, DataBuffer* lastBytes) {
    if (chunkSize == 0) {
        chunkSize = kDefaultSourceChunk;
    }
    chunkSize = std::clamp(chunkSize, kMinSourceChunk, kMaxSourceChunk);
    if (bytesPerSec != nullptr) {
        *bytesPerSec = 0;
    }
    bool monitored = pm != nullptr && rateMon != nullptr;
    if (monitored) {
        rateMon->start();
    }
    bool ok = sendFromSource(source, chunkSize, heartbeatMs, idleTimeoutMs, log, pm, monitored ? rateMon : nullptr,
                             reportProgress, bytesPerSec, totalSent, lastBytes);
    if (monitored) {
        rateMon->finish(pm);
    }
    if (pm != nullptr && reportProgress) {
        char text[32];
        std::snprintf(text, sizeof text, "Finished, success=%d", ok ? 1 : 0);
        pm->progressInfo(kSourceEvent, text);
    }
    return ok;
}

bool LoggedSocket2::sendFromSource(DataSource& source, unsigned int chunkSize, unsigned int heartbeatMs,
                                   unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm,
                                   PerformanceMon* rateMon, bool reportProgress, unsigned int* bytesPerSec,
                                   std::uint64_t* totalSent, DataBuffer* lastBytes) {
    if (source.endOfStream()) {
        return true;
    }
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[chunkSize + kSourceChunkSlack]);
    if (!buffer) {
        log.logError(kMsgSendFromSourceFailed);
        return false;
    }
    bool overTls = !m_socket.isConnected();
    DWORD t0 = platform::GetTickCount();
    std::uint64_t sentHere = 0;
    for (;;) {
        std::uint32_t n = 0;
        bool readOk = source.readChunk(buffer.get(), chunkSize, &n, &log);
        if (!readOk || n == 0) {
            return readOk;
        }
        if (pm != nullptr && reportProgress) {
            char text[32];
            std::snprintf(text, sizeof text, "%u bytes", n);
            pm->progressInfo(kSourceEvent, text);
        }
        bool sent = false;
        if (overTls) {
            sent = tlsSendBytes(buffer.get(), n, heartbeatMs, idleTimeoutMs, log, pm);
        } else {
            sent = m_socket.sendBytes(buffer.get(), n, n, heartbeatMs, log, pm);
            if (sent) {
                enterDirection(kSending, &log);
                record(buffer.get(), n, &log);
            }
        }
        if (!sent) {
            log.logError(kMsgSendFromSourceFailed);
            if (pm != nullptr && reportProgress) {
                pm->progressInfo(kSourceEvent, "Failed.");
            }
            return false;
        }
        if (rateMon != nullptr) {
            rateMon->addBytes(n, pm);
        }
        if (lastBytes != nullptr) {
            unsigned int keep = std::min(kLastBytesKept, n);
            lastBytes->clear();
            lastBytes->append(buffer.get() + n - keep, keep);
        }
        if (totalSent != nullptr) {
            *totalSent += n;
        }
        sentHere += n;
        DWORD now = platform::GetTickCount();
        if (now < t0) {
            t0 = now;
            sentHere = 0;
        } else if (now > t0 && bytesPerSec != nullptr) {
            *bytesPerSec = static_cast<unsigned int>(sentHere * kMsPerSecond / (now - t0));
        }
        if (pm != nullptr && heartbeatMs != 0 && pm->abortCheck(heartbeatMs, 0)) {
            log.logError(kMsgSendFromSourceAborted);
            if (reportProgress) {
                pm->progressInfo(kSourceEvent, "Aborted by application callback.");
            }
            return false;
        }
        if (source.endOfStream()) {
            return true;
        }
    }
}

} // namespace tessik
