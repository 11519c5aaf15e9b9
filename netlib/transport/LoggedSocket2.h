#pragma once
// The connection endpoint of the HTTP client: a plain socket and a TLS
// channel side by side, with a traffic log (in memory and/or appended to a
// file) that records every byte moved, a header line at each change of
// direction. A transfer that fails without writing to the log leaves the
// direction as it was, so the next bytes still get the header they need.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/RateControl.h"
#include "netlib/transport/SChannelTessik.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

inline constexpr const char* kTrafficSendingHeader = "\r\n---- Sending ----\r\n";
inline constexpr const char* kTrafficReceivedHeader = "\r\n---- Received ----\r\n";
inline constexpr const char* kMsgSendFromSourceFailed = "Failed to send on socket from source.";
inline constexpr const char* kMsgSendFromSourceAborted = "Socket send aborted by heartbeat callback";

class LoggedSocket2 : public ReceiveCopy {
public:
    enum Direction : int { kNone = 0, kSending = 1, kReceiving = 2 };

    LoggedSocket2();
    ~LoggedSocket2() override;
    LoggedSocket2(const LoggedSocket2&) = delete;
    LoggedSocket2& operator=(const LoggedSocket2&) = delete;

    TessikSocket& socket() { return m_socket; }
    SChannelTessik* tlsChannel() { return m_tls.get(); }

    void setLogToFile(bool on) { m_logToFile = on; }
    void setSessionLogPath(const char* utf8Path) { m_sessionLogPath.setFromUtf8(utf8Path); }
    void setKeepInMemory(bool on) { m_keepInMemory = on; }
    const DataBuffer& memoryLog() const { return m_memoryLog; }
    int lastDirection() const { return m_lastDirection; }

    bool sendBytes(const unsigned char* data, unsigned int len, unsigned int chunkSize, unsigned int heartbeatMs,
                   LogBase& log, ProgressMonitor* pm);
    bool sendBytesSb(const StringBuffer& sb, unsigned int chunkSize, unsigned int heartbeatMs, LogBase& log,
                     ProgressMonitor* pm);
    bool sendBytesDuplex(const unsigned char* data, unsigned int len, unsigned int firstChunkSize,
                         unsigned int firstChunkCount, unsigned int laterChunkSize, unsigned int heartbeatMs,
                         LogBase& log, ProgressMonitor* pm, DataBuffer& received);
    bool tlsSendBytes(const unsigned char* data, unsigned int len, unsigned int heartbeatMs, unsigned int idleTimeoutMs,
                      LogBase& log, ProgressMonitor* pm);
    bool tlsReceiveBytes(DataBuffer& out, unsigned int heartbeatMs, unsigned int idleTimeoutMs, LogBase& log,
                         ProgressMonitor* pm, bool* timedOut, bool* aborted, bool* fatalError, bool* endOfSession,
                         bool* connectionClosed, int callerNumber);
    bool receiveUntilBlankLine(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);
    bool receiveUntilBlankLineLax(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);
    bool readN(unsigned int n, DataBuffer& out, SocketReadParams& params, LogBase& log);
    // Appends what one receive brings, at most maxBytes.
    bool receiveSome(DataBuffer& out, unsigned int maxBytes, unsigned int heartbeatMs, LogBase& log,
                     ProgressMonitor* pm, SocketFlags& flags);
    bool receiveUntilClosed(unsigned int chunk, unsigned int heartbeatMs, ProgressMonitor* pm, PerformanceMon* rateMon,
                            Output& out, LogBase& log, bool* closedByPeer);
    bool receiveBytesToOutput(unsigned int n, Output& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm,
                              SocketFlags& flags);
    bool receiveBytesToOutput64(std::uint64_t count, Output& out, unsigned int heartbeatMs, LogBase& log,
                                ProgressMonitor* pm, SocketFlags& flags);
    void closeSocket();
    bool sendCloseNotify(bool shutDown, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                         ProgressMonitor* pm);
    void setVerboseLogging(bool on);

    bool SendOnSocketFromSource(DataSource& source, unsigned int chunkSize, unsigned int heartbeatMs,
                                unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm, PerformanceMon* rateMon,
                                bool reportProgress, unsigned int* bytesPerSec, std::uint64_t* totalSent,
                                DataBuffer* lastBytes);

    // The copy target of the socket's receives: bytes only, no header.
    void logReceivedBytes(const unsigned char* data, unsigned int n) override;

private:
    // Writes the direction's header when the direction changes, and sets it.
    void enterDirection(Direction direction, LogBase* log);
    void record(const void* data, std::uint64_t n, LogBase* log);
    bool sendFromSource(DataSource& source, unsigned int chunkSize, unsigned int heartbeatMs,
                        unsigned int idleTimeoutMs, LogBase& log, ProgressMonitor* pm, PerformanceMon* rateMon,
                        bool reportProgress, unsigned int* bytesPerSec, std::uint64_t* totalSent,
                        DataBuffer* lastBytes);

    TessikSocket m_socket;
    std::unique_ptr<SChannelTessik> m_tls;
    int m_lastDirection;
    bool m_logToFile;
    XString m_sessionLogPath;
    bool m_keepInMemory;
    DataBuffer m_memoryLog;
};

} // namespace tessik
