#pragma once
// The library's one TCP endpoint: connecting with a time limit (directly,
// through name resolution on the caller's thread or on a worker), and moving
// bytes with an idle time-out, throttles, rate monitors and abort checks.
// One thread uses a socket at a time.
#include <netdb.h>

#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/RateControl.h"
#include "platform/Winsock.h"

namespace tessik {

class ClsSocksClient;

// Failure reasons of a connect (0 at the start of each).
enum SocketFailure : int {
    kSocketFailNone = 0,
    kSocketFailNoHost = 1,
    kSocketFailDns = 2,
    kSocketFailDnsTimeout = 3,
    kSocketFailAborted = 4,
    kSocketFailNoSocket = 5,
    kSocketFailConnectTimeout = 6,
    kSocketFailConnect = 7,
};

inline constexpr unsigned int kDefaultIdleTimeoutMs = 30000;
inline constexpr unsigned int kDefaultConnectTimeoutMs = 7000;
// What a time-out of 0 means: six hours.
inline constexpr unsigned int kNoTimeoutMs = 21600000;
inline constexpr unsigned int kMinHeartbeatMs = 50;

inline constexpr const char* kMsgConnectFailed = "Connect function failed.";
inline constexpr const char* kMsgConnectTimeout = "timeout waiting for connect to complete";
inline constexpr const char* kMsgClosedByServer = "Connection closed by server.";
inline constexpr const char* kMsgReadTimeout = "Timeout waiting to read socket or accept connection";
inline constexpr const char* kMsgSendAborted = "Socket send aborted by application";
inline constexpr const char* kMsgSendIdleTimeout = "Socket send idle timeout";
inline constexpr const char* kMsgBindFailed = "Failed to bind to local IP address";
inline constexpr const char* kMsgNoSuchZone = "The IPv6 address's zone names no network interface of this machine.";

// The four ways a transfer can end early; each operation clears them first.
struct SocketFlags {
    bool timedOut = false;
    bool aborted = false;
    bool socketError = false;
    bool closedByPeer = false;
    void clear() { *this = SocketFlags(); }
};

// A bulk read's settings and results.
class SocketReadParams {
public:
    SocketReadParams();
    virtual ~SocketReadParams();

    unsigned int heartbeatMs;
    ProgressMonitor* pm;
    SocketFlags flags;
};

// Where received bytes are copied as they arrive (the traffic log).
class ReceiveCopy {
public:
    virtual ~ReceiveCopy();
    virtual void logReceivedBytes(const unsigned char* data, unsigned int n) = 0;
};

class TessikSocket {
public:
    TessikSocket();
    virtual ~TessikSocket();
    TessikSocket(const TessikSocket&) = delete;
    TessikSocket& operator=(const TessikSocket&) = delete;

    bool connectSocket(const char* host, int port, unsigned int heartbeatMs, LogBase& log, bool* dnsFailed,
                       ProgressMonitor* pm);
    void closeSocket();
    void takeOver(TessikSocket& other);
    bool isConnected() const { return m_connected && m_socket != platform::INVALID_SOCKET; }
    bool isInvalidSocket() const { return m_socket == platform::INVALID_SOCKET; }
    // Whether an idle connection has something to read at once: bytes, the
    // peer's close or an error. A kept-alive connection in that state has
    // been given up by its peer.
    bool idleInputPending() const;

    void setReadTimeoutMs(unsigned int ms) { m_idleTimeoutMs = ms == 0 ? kNoTimeoutMs : ms; }
    unsigned int getReadTimeoutMs() const { return m_idleTimeoutMs; }
    void setConnectTimeoutSec(unsigned int s) { m_connectTimeoutMs = s * 1000; }
    void setConnectTimeoutMs(unsigned int ms) { m_connectTimeoutMs = ms; }
    unsigned int getConnectTimeoutSec() const { return m_connectTimeoutMs / 1000; }
    unsigned int getConnectTimeoutMs() const { return m_connectTimeoutMs; }

    void setBindIp(const char* ip) { m_bindIp.setString(ip != nullptr ? ip : ""); }
    const char* getBindIp() const { return m_bindIp.getString(); }
    void setBindPort(unsigned int port) { m_bindPort = port & 0xFFFF; }
    void setSendBufferSize(unsigned int n) { m_sendBufferSize = n; }
    void setReceiveBufferSize(unsigned int n) { m_receiveBufferSize = n; }
    void setRateMonitoring(bool on) { m_rateMonitoring = on; }

    int getFailureReason() const { return m_failureReason; }
    int getLastSendError() const { return m_lastSendError; }
    int getAddressFamily() const { return m_family; }
    std::uint32_t getSerial() const { return m_serial; }
    const char* getRemoteIp() const { return m_remoteIp.getString(); }
    BandwidthThrottle& sendThrottle() { return m_sendThrottle; }
    BandwidthThrottle& receiveThrottle() { return m_receiveThrottle; }

    void resetPerfMonitors();
    bool getLocalAddress(StringBuffer& ipText, int& port, LogBase& log);
    bool waitWriteableHeartbeat(unsigned int heartbeatMs, unsigned int initialDelayMs, unsigned int timeoutMs,
                                bool isConnect, LogBase& log, ProgressMonitor* pm, bool* failed, bool* aborted,
                                bool* timedOut, bool* socketError);

    // SOCKS (the settings are the proxy's; the target is reached through it).
    bool socks4Connect(const char* targetHost, int targetPort, const char* bindIp, unsigned int heartbeatMs,
                       unsigned int timeoutMs, LogBase& log, bool* dnsFailed, ProgressMonitor* pm, int* failureReason,
                       ClsSocksClient& settings);
    bool socks5Connect(const char* targetHost, int targetPort, const char* bindIp, unsigned int heartbeatMs,
                       unsigned int timeoutMs, LogBase& log, bool* dnsFailed, ProgressMonitor* pm, int* failureReason,
                       ClsSocksClient& settings);

    // Sending.
    // Bounds the bytes the kernel holds queued but not yet sent; set on the
    // socket only when it changes.
    void limitUnsentBytes(unsigned int bytes);
    bool sendBytes(const unsigned char* data, unsigned int len, unsigned int chunkSize, unsigned int heartbeatMs,
                   LogBase& log, ProgressMonitor* pm);
    bool sendSb(const StringBuffer& sb, unsigned int chunkSize, unsigned int heartbeatMs, LogBase& log,
                ProgressMonitor* pm);
    bool sendDb(const DataBuffer& db, unsigned int chunkSize, unsigned int heartbeatMs, LogBase& log,
                ProgressMonitor* pm);
    bool sendBytesDuplex(const unsigned char* data, unsigned int len, unsigned int firstChunkSize,
                         unsigned int firstChunkCount, unsigned int laterChunkSize, unsigned int heartbeatMs,
                         LogBase& log, ProgressMonitor* pm, DataBuffer& received);
    bool waitWriteable(unsigned int timeoutSec, LogBase& log);

    // Receiving.
    bool waitReadable(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                      bool* aborted, bool* timedOut, LogBase& log);
    bool waitForData(unsigned int timeoutMs, bool poll, ProgressMonitor* pm, bool* closed, LogBase& log);
    bool waitForDataProgress(unsigned int timeoutMs, LogBase& log, ProgressMonitor* pm, unsigned int stepBytes,
                             unsigned int stepTotal);
    bool receiveBytes(unsigned char* buf, unsigned int* len, unsigned int heartbeatMs, LogBase& log,
                      ProgressMonitor* pm, SocketFlags& flags);
    bool receiveToOutput(DataBuffer& out, unsigned int maxBytes, unsigned int heartbeatMs, LogBase& log,
                         ProgressMonitor* pm, SocketFlags& flags);
    bool receiveUntilClosedToOutput(unsigned int chunk, unsigned int heartbeatMs, ProgressMonitor* pm,
                                    PerformanceMon* rateMon, Output& out, LogBase& log, ReceiveCopy* copy,
                                    bool* closedByPeer);
    bool readN(unsigned char* buf, unsigned int n, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm,
               unsigned int* got, SocketFlags& flags);
    bool readNToDataBuffer(unsigned int n, DataBuffer& out, SocketReadParams& params, LogBase& log);
    bool readNToDataBuffer(unsigned int n, DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm,
                           bool* timedOut, bool* aborted, bool* socketError, bool* closedByPeer);
    bool readNToOutput(unsigned int n, Output& out, unsigned int heartbeatMs, LogBase& log, ReceiveCopy* copy,
                       ProgressMonitor* pm, SocketFlags& flags);
    bool readN64ToOutput(std::uint64_t count, Output& out, unsigned int heartbeatMs, LogBase& log, ReceiveCopy* copy,
                         ProgressMonitor* pm, SocketFlags& flags);
    bool receiveUntilClosed(DataBuffer& out, LogBase& log, ProgressMonitor* pm, bool* closed);
    // Byte by byte up to and with the first empty line, so nothing after it
    // is taken; false after 64 KiB without one.
    bool receiveUntilBlankLine(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);
    bool receiveUntilBlankLineLax(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);

    // How many sockets were made in this process so far.
    static std::uint32_t socketsMade();

private:
    // Clears the outcome and cleans the host name; false (reason 1) without one.
    bool startConnect(const char* host, bool stripUrl, bool* dnsFailed, StringBuffer& name, LogBase& log);
    // The TCP connect to a SOCKS proxy, with the bind address the caller gives.
    bool connectToProxy(const StringBuffer& proxy, int proxyPort, const char* bindIp, unsigned int heartbeatMs,
                        unsigned int timeoutMs, LogBase& log, bool* dnsFailed, ProgressMonitor* pm, int* failureReason,
                        const char* failText);
    // After the proxy connect: greeting, authentication and the connect request.
    bool socks4Handshake(int targetPort, std::uint32_t address, const StringBuffer& user, unsigned int heartbeatMs,
                         LogBase& log, ProgressMonitor* pm);
    bool socks5Handshake(bool withCredentials, const StringBuffer& user, const DataBuffer& passwordRequest,
                         const DataBuffer& connectRequest, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);
    bool connectAddrInfo(const char* host, int port, unsigned int heartbeatMs, bool threaded, LogBase& log,
                         bool* dnsFailed, bool* retryIpv4, ProgressMonitor* pm);
    bool connectIpv4(const char* host, int port, unsigned int heartbeatMs, bool threaded, LogBase& log, bool* dnsFailed,
                     ProgressMonitor* pm);
    bool createSocket(LogBase& log, bool bind);
    bool createSocketIpv6(const addrinfo* entry, LogBase& log, bool bind);
    // Buffer sizes, then the bind address when one is set.
    bool prepareNewSocket(bool bind, LogBase& log);
    bool bindLocal(const char* ip, LogBase& log);
    void applyBufferSizes();
    // Algorithm of the connect loop; true when connected.
    bool connectLoop(const sockaddr* address, socklen_t length, const char* host, unsigned int heartbeatMs,
                     bool threaded, LogBase& log, ProgressMonitor* pm, bool* immediate);
    bool waitForConnect(unsigned int timeoutMs, LogBase& log);
    void connectSucceeded(bool immediate, const char* ipTag, const char* portTag, LogBase& log);
    void logLocalAddress(const char* ipTag, const char* portTag, LogBase& log);
    void failAndClose();
    // A send that failed with other than would-block: logged, socket closed.
    void hardSendError(int error, unsigned int size, LogBase& log);
    // With waitMs, the receive itself waits that long (the socket's receive
    // time-out), in place of a wait before it. With noWait it takes only
    // what is there already: none is no failure, *got then 0.
    bool recvChecked(unsigned char* buf, unsigned int size, unsigned int* got, LogBase& log, ProgressMonitor* pm,
                     SocketFlags& flags, unsigned int waitMs = 0, bool noWait = false);
    bool drainInput(DataBuffer& received, LogBase& log);
    // Sets the socket's receive time-out unless it is set so already.
    bool useReceiveTimeout(unsigned int timeoutMs);
    bool blankLine(DataBuffer& out, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm, bool lax);

    unsigned int m_sendBufferSize;
    unsigned int m_receiveBufferSize;
    PerformanceMon m_receiveMon;
    PerformanceMon m_sendMon;
    bool m_connected;
    platform::SOCKET m_socket;
    int m_family;
    std::uint32_t m_serial;
    ParseBuffer m_receiveBuffer;
    BandwidthThrottle m_sendThrottle;
    BandwidthThrottle m_receiveThrottle;
    unsigned int m_idleTimeoutMs;
    // The receive time-out set on the socket, so that it is set only when it
    // changes; 0 for none set.
    unsigned int m_receiveTimeoutSet = 0;
    // The unsent-bytes bound set on the socket; 0 for the system's.
    unsigned int m_unsentLimitSet = 0;
    unsigned int m_connectTimeoutMs;
    int m_lastSendError;
    StringBuffer m_remoteIp;
    int m_failureReason;
    StringBuffer m_bindIp;
    unsigned int m_bindPort;
    bool m_rateMonitoring;
};

} // namespace tessik
