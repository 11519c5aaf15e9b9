#pragma once
// The TLS protocol's way to its peer: a socket it owns, or a tunnel channel
// (an SSH channel, another TLS channel or a plain socket) it forwards to.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

class TunnelChannel;

class TlsEndpoint {
public:
    TlsEndpoint();
    virtual ~TlsEndpoint();
    TlsEndpoint(const TlsEndpoint&) = delete;
    TlsEndpoint& operator=(const TlsEndpoint&) = delete;

    // From now on TLS runs through the channel (when no socket was made).
    void setChannel(std::unique_ptr<TunnelChannel> channel);
    TunnelChannel* getChannel() { return m_channel.get(); }
    std::uint32_t pushedBack() const { return m_pushBack.getSize(); }

    // The socket; with a channel, the channel's; with neither, one made now.
    TessikSocket* getSocket();
    bool isConnected();
    void close(LogBase& log);
    unsigned int getReadTimeoutMs();
    // The socket's read time-out, or the channel's idle time-out.
    void setReadTimeoutMs(unsigned int ms);
    // In writes of at most 4096 bytes.
    bool sendBytes(const DataBuffer& data, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);
    bool waitForData(unsigned int pollMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError, bool* aborted,
                     bool* timedOut, LogBase& log);
    // Exactly count bytes appended to out. Through a channel, what arrives
    // beyond count waits in the push-back buffer for the next read.
    bool readBytes(unsigned int count, DataBuffer& out, SocketReadParams& params, LogBase& log);

private:
    bool viaChannel() const { return !m_socket && m_channel; }
    bool readFromChannel(unsigned int count, DataBuffer& out, SocketReadParams& params, LogBase& log);

    DataBuffer m_pushBack;
    std::unique_ptr<TunnelChannel> m_channel;
    std::unique_ptr<TessikSocket> m_socket;
};

} // namespace tessik
