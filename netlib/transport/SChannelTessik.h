#pragma once
// The secure connection of the HTTP client: the library's own SSL 3.0 /
// TLS 1.0 client over a TCP socket, directly or through an HTTP proxy's
// CONNECT tunnel, with the server certificate of the last handshake and the
// outcome of its checks.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/transport/TessikSocket.h"
#include "netlib/transport/TlsEndpoint.h"
#include "netlib/transport/TlsProtocol.h"

namespace tessik {

class Certificate;

// Failure reasons beside the socket's own connect codes (1 to 7).
enum SChannelFailure : std::uint32_t {
    kSChannelFailNone = 0,
    kSChannelFailProxy = 102,
    // The TLS handshake broke off; the protocol's last alert says how.
    kSChannelFailHandshake = 103,
    kSChannelFailVerify = 105,
};

inline constexpr unsigned int kDefaultTlsPort = 443;
inline constexpr unsigned int kDefaultProxyPort = 80;

namespace schannel_msg {
constexpr const char* kHandshakeFailed = "Client handshake failed.";
constexpr const char* kEstablished = "Secure Channel Established.";
constexpr const char* kVerificationFailed = "Server certificate verification failed.";
constexpr const char* kNoProxyAnswer = "Error receiving message from proxy server";
constexpr const char* kProxyRefused = "The proxy refused the CONNECT request.";
constexpr const char* kProxyHeadTooLong = "The proxy's answer to CONNECT has no end of header.";
constexpr const char* kNoServerCert = "No server certificate is available.";
constexpr const char* kExpired = "Server certificate is expired.";
constexpr const char* kNotYetValid = "Server certificate is not yet valid.";
constexpr const char* kBadSignature = "Server certificate signature verification failed.";
constexpr const char* kIssuerNotACa = "Server certificate chain has an issuer that may not issue certificates.";
constexpr const char* kBadExtension =
    "Server certificate chain has a repeated extension or a critical one that is not understood.";
constexpr const char* kOutsideNameConstraints = "Server certificate chain breaks an issuer's name constraints.";
constexpr const char* kNotForServers = "Server certificate chain's extended key usage does not allow TLS servers.";
constexpr const char* kKeyNotForServers = "Server certificate's key usage allows no TLS key exchange.";
constexpr const char* kUntrustedRoot = "Server certificate root is not trusted.";
constexpr const char* kNameMismatch = "Server certificate does not name the host (name mismatch).";
constexpr const char* kVerified = "Server certificate is verified.";
} // namespace schannel_msg

class SChannelTessik {
public:
    SChannelTessik();
    virtual ~SChannelTessik();
    SChannelTessik(const SChannelTessik&) = delete;
    SChannelTessik& operator=(const SChannelTessik&) = delete;

    // The server's host: where a direct connect goes, and the name its
    // certificate must carry when verification is required.
    void setHostname(const char* host) { m_host.setString(host != nullptr ? host : ""); }
    void setPort(unsigned int port) { m_port = port; }
    // "ssl30" (blanks and dots ignored, any case) offers SSL 3.0; anything
    // else TLS 1.0. The choice holds for every later connect.
    void setSslProtocol(const char* text);
    std::uint32_t getSslMinorVersion() const { return m_minor; }
    // "http://" and every '/' removed.
    void setBindAddress(const char* address, unsigned int port);
    void setReadTimeoutSec(unsigned int seconds);
    void setConnectTimeoutSec(unsigned int seconds);
    void setVerboseLogging(bool on) { m_verbose = on; }
    void setPerfMonEnabled(bool on);
    void resetPerfMonitors();
    // Settings nothing in the library changes after construction.
    void setHttpProxy(const char* host, unsigned int port);
    void setUseHttpProxy(bool on) { m_useProxy = on; }
    // On, each handshake (a renegotiation too) checks the server's chain to
    // a trusted root, its times, issuers, extensions, name constraints and
    // key purposes, and the host name; a failure ends the handshake, or the
    // read a renegotiation came in, with failure reason 105. The HTTP client
    // sets it for every connection.
    void setRequireServerVerification(bool on) { m_requireVerification = on; }

    bool EstablishChannel(LogBase& log, bool* dnsFailed, unsigned int connectTimeoutMs, unsigned int heartbeatMs,
                          ProgressMonitor* pm, const ExtPtrArray* clientCerts);
    // Over a socket a SOCKS connect has just opened; the channel takes its handle.
    bool EstablishChannel2(TessikSocket& connected, LogBase& log, unsigned int connectTimeoutMs,
                           unsigned int heartbeatMs, ProgressMonitor* pm, const ExtPtrArray* clientCerts);

    bool sendBytes(const unsigned char* data, unsigned int n, unsigned int heartbeatMs, unsigned int timeoutMs,
                   LogBase& log, ProgressMonitor* pm);
    bool sendBytes(const DataBuffer& data, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                   ProgressMonitor* pm);
    // Empties out, then appends what one application-data read delivers.
    bool receiveBytes(DataBuffer& out, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                      ProgressMonitor* pm, bool* timedOut, bool* aborted, bool* fatalError, bool* endOfSession,
                      bool* connectionClosed, int callerNumber);
    bool waitForData(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                     bool* aborted, bool* timedOut, LogBase& log);

    bool sendCloseNotify(bool shutDown, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                         ProgressMonitor* pm);
    void closeChannel(LogBase& log);
    bool isConnected();
    TessikSocket* getSocket() { return m_endpoint.getSocket(); }

    std::uint32_t getFailureReason() const { return m_failureReason; }
    Certificate* getServerCertificate() const { return m_serverCert.get(); }
    bool isServerCertVerified() const { return m_serverCertVerified; }
    TlsProtocol& protocol() { return m_protocol; }

private:
    bool connectAndHandshake(LogBase& log, bool* dnsFailed, const ExtPtrArray* clientCerts);
    bool handshake(LogBase& log, const ExtPtrArray* clientCerts);
    void startFresh();
    bool proxyConnect(LogBase& log);
    bool checkServerCertificate(LogBase& log);
    void failVerification(const char* message, LogBase& log);
    void endCall(SocketReadParams& params);

    TlsEndpoint m_endpoint;
    TlsProtocol m_protocol;
    bool m_serverCertVerified;
    std::shared_ptr<Certificate> m_serverCert;
    bool m_verbose;
    StringBuffer m_host;
    unsigned int m_port;
    bool m_useProxy;
    StringBuffer m_proxyHost;
    unsigned int m_proxyPort;
    SocketReadParams m_receiveParams;
    SocketReadParams m_handshakeParams;
    std::uint32_t m_failureReason;
    bool m_requireVerification;
    std::uint32_t m_minor;
};

} // namespace tessik
