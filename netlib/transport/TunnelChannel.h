#pragma once
// A connection that runs over one of three carriers, chosen per call in a
// fixed order: an open channel of an SSH transport (when one is attached),
// the TLS channel (when TLS is in use), else the plain socket. The TLS
// client's socket adaptor forwards to it so that TLS can run inside a tunnel.
//
// close() on the SSH carrier closes only the channel: the transport stays
// connected for other channels ("SSH tunnel remains open"); disconnecting it
// is its owner's business.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/transport/SshTransport.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

class SChannelTessik;

inline constexpr const char* kMsgClosingSshChannel = "Closing SSH Channel. (SSH tunnel remains open.)";
inline constexpr const char* kMsgNoSshChannel = "No SSH channel.";
inline constexpr const char* kMsgNoSshChannelForReading = "No SSH channel for reading.";
inline constexpr const char* kMsgTunnelSendAborted = "Socket SendBytes aborted by application.";
inline constexpr const char* kMsgTunnelReceiveAborted = "Socket ReceiveBytes aborted by application.";
inline constexpr const char* kMsgTunnelNoTls = "No TLS channel is attached to this tunnel.";

class TunnelChannel {
public:
    TunnelChannel();
    ~TunnelChannel();
    TunnelChannel(const TunnelChannel&) = delete;
    TunnelChannel& operator=(const TunnelChannel&) = delete;

    // The SSH carrier: a transport the caller keeps, and the open channel,
    // which the tunnel owns from now on.
    void attachSsh(SshTransport* transport, std::unique_ptr<SshChannel> channel);
    SshChannel* sshChannel() { return m_sshChannel.get(); }
    // The TLS carrier: a channel the caller keeps; null leaves TLS unusable.
    void setTlsChannel(SChannelTessik* tls) { m_tls = tls; }
    void setTlsInUse(bool on) { m_tlsInUse = on; }
    bool tlsInUse() const { return m_tlsInUse; }
    void setIdleTimeoutMs(unsigned int ms) { m_idleTimeoutMs = ms; }
    unsigned int getIdleTimeoutMs() const { return m_idleTimeoutMs; }
    std::uint64_t bytesReceived() const { return m_bytesReceived; }
    bool endOfSession() const { return m_endOfSession; }

    void close(bool shutDown, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log, ProgressMonitor* pm);
    bool isConnected(LogBase& log, bool verbose);
    bool sendBytes(const DataBuffer& data, unsigned int chunkSize, unsigned int heartbeatMs, unsigned int idleTimeoutMs,
                   LogBase& log, ProgressMonitor* pm);
    TessikSocket* getSocket();
    bool receiveBytes(DataBuffer& out, unsigned int maxBytes, unsigned int heartbeatMs, unsigned int idleTimeoutMs,
                      LogBase& log, ProgressMonitor* pm, bool* timedOut, bool* aborted, bool* socketError,
                      bool* closedByPeer, bool verbose);
    bool waitForData(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                     bool* aborted, bool* timedOut, LogBase& log);

private:
    bool m_tlsInUse;
    SChannelTessik* m_tls;
    TessikSocket m_socket;
    SshTransport* m_ssh;
    std::unique_ptr<SshChannel> m_sshChannel;
    std::uint64_t m_bytesReceived;
    bool m_endOfSession;
    unsigned int m_idleTimeoutMs;
};

} // namespace tessik
