#pragma once
// The TLS protocol's way to its peer: a socket it owns, or a tunnel
// channel. A channel carries TLS only once tunnels exist; until then every
// operation on one fails and says so.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

class TunnelChannel;

inline constexpr const char* kMsgNoTunnelChannel = "TLS through a tunnel channel is not available in this build.";

class TlsEndpoint {
public:
    TlsEndpoint();
    virtual ~TlsEndpoint();
    TlsEndpoint(const TlsEndpoint&) = delete;
    TlsEndpoint& operator=(const TlsEndpoint&) = delete;

    // Made on first use when there is no channel.
    TessikSocket* getSocket();
    bool isConnected();
    void close(LogBase& log);
    unsigned int getReadTimeoutMs();
    // In socket writes of at most 4096 bytes.
    bool sendBytes(const DataBuffer& data, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm);
    bool waitForData(unsigned int pollMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError, bool* aborted,
                     bool* timedOut, LogBase& log);
    // Exactly count bytes appended to out.
    bool readBytes(unsigned int count, DataBuffer& out, SocketReadParams& params, LogBase& log);

private:
    DataBuffer m_pushBack;
    TunnelChannel* m_channel;
    std::unique_ptr<TessikSocket> m_socket;
};

} // namespace tessik
