#include "netlib/transport/SChannelTessik.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "netlib/pki/Certificate.h"
#include "netlib/transport/TlsCertificates.h"

namespace tessik {

namespace {

constexpr unsigned int kProxySendChunk = 8192;
// A CONNECT answer's head: far more than any proxy sends.
constexpr unsigned int kMaxProxyHead = 16384;
constexpr unsigned int kMsPerSecond = 1000;
constexpr int kStatusClassSuccess = 2;

bool endsHead(const DataBuffer& head) {
    const unsigned int n = head.getSize();
    const unsigned char* p = head.getData();
    return (n >= 4 && std::memcmp(p + n - 4, "\r\n\r\n", 4) == 0) || (n >= 2 && std::memcmp(p + n - 2, "\n\n", 2) == 0);
}

// The status code of "HTTP/x.y NNN ...", or -1.
int statusCode(const DataBuffer& head) {
    std::string line(reinterpret_cast<const char*>(head.getData()), head.getSize());
    line = line.substr(0, line.find_first_of("\r\n"));
    int major = 0, minor = 0, code = 0;
    char space = 0;
    if (std::sscanf(line.c_str(), "HTTP/%d.%d%c%3d", &major, &minor, &space, &code) != 4 || space != ' ')
        return -1;
    return code;
}

} // namespace

SChannelTessik::SChannelTessik()
    : m_serverCertVerified(false), m_verbose(false), m_port(kDefaultTlsPort), m_useProxy(false),
      m_proxyPort(kDefaultProxyPort), m_failureReason(kSChannelFailNone), m_requireVerification(false),
      m_minor(kTls10Minor) {
    // Certificates presented again in a renegotiation pass the same checks.
    m_protocol.setRenegotiationCheck([this](LogBase& log) {
        m_serverCert = m_protocol.serverCertificate();
        return checkServerCertificate(log);
    });
}

SChannelTessik::~SChannelTessik() {
    m_serverCert.reset();
    LogNull quiet;
    m_endpoint.close(quiet);
}

void SChannelTessik::setSslProtocol(const char* text) {
    StringBuffer sb(text != nullptr ? text : "");
    sb.trimWhitespace();
    sb.toLowerCase();
    sb.removeChar(' ');
    sb.removeChar('.');
    m_minor = sb.equals("ssl30") ? kSsl30Minor : kTls10Minor;
    m_protocol.setVersion(kTlsMajor, m_minor);
}

void SChannelTessik::setBindAddress(const char* address, unsigned int port) {
    std::string text = address != nullptr ? address : "";
    const std::size_t scheme = text.find("http://");
    if (scheme != std::string::npos)
        text.erase(scheme, std::strlen("http://"));
    std::erase(text, '/');
    getSocket()->setBindIp(text.c_str());
    getSocket()->setBindPort(port);
}

void SChannelTessik::setReadTimeoutSec(unsigned int seconds) {
    getSocket()->setReadTimeoutMs(seconds * kMsPerSecond);
}

void SChannelTessik::setConnectTimeoutSec(unsigned int seconds) {
    getSocket()->setConnectTimeoutSec(seconds);
}

void SChannelTessik::setPerfMonEnabled(bool on) {
    getSocket()->setRateMonitoring(on);
}

void SChannelTessik::resetPerfMonitors() {
    getSocket()->resetPerfMonitors();
}

void SChannelTessik::setHttpProxy(const char* host, unsigned int port) {
    m_proxyHost.setString(host != nullptr ? host : "");
    m_proxyPort = port;
}

void SChannelTessik::endCall(SocketReadParams& params) {
    params.heartbeatMs = 0;
    params.pm = nullptr;
    params.flags.clear();
}

void SChannelTessik::startFresh() {
    m_serverCert.reset();
    m_failureReason = kSChannelFailNone;
    m_serverCertVerified = false;
    LogNull quiet;
    m_endpoint.close(quiet);
    m_protocol.reset(true);
    m_protocol.setVersion(kTlsMajor, m_minor);
}

bool SChannelTessik::EstablishChannel(LogBase& log, bool* dnsFailed, unsigned int, unsigned int heartbeatMs,
                                      ProgressMonitor* pm, const ExtPtrArray* clientCerts) {
    std::unique_ptr<LogContext> ctx;
    if (m_verbose)
        ctx = std::make_unique<LogContext>(log, "EstablishChannel");
    m_handshakeParams.heartbeatMs = heartbeatMs;
    m_handshakeParams.pm = pm;
    const bool ok = connectAndHandshake(log, dnsFailed, clientCerts);
    endCall(m_handshakeParams);
    return ok;
}

bool SChannelTessik::EstablishChannel2(TessikSocket& connected, LogBase& log, unsigned int, unsigned int heartbeatMs,
                                       ProgressMonitor* pm, const ExtPtrArray* clientCerts) {
    std::unique_ptr<LogContext> ctx;
    if (m_verbose)
        ctx = std::make_unique<LogContext>(log, "EstablishChannel2");
    m_handshakeParams.heartbeatMs = heartbeatMs;
    m_handshakeParams.pm = pm;
    startFresh();
    getSocket()->takeOver(connected);
    const bool ok = handshake(log, clientCerts);
    endCall(m_handshakeParams);
    return ok;
}

bool SChannelTessik::connectAndHandshake(LogBase& log, bool* dnsFailed, const ExtPtrArray* clientCerts) {
    if (dnsFailed != nullptr)
        *dnsFailed = false;
    startFresh();
    TessikSocket* socket = getSocket();
    ProgressMonitor* pm = m_handshakeParams.pm;
    const unsigned int heartbeatMs = m_handshakeParams.heartbeatMs;
    if (m_useProxy) {
        if (pm != nullptr) {
            StringBuffer target(m_proxyHost.getString());
            target.append(":");
            target.appendUint32(m_proxyPort);
            pm->progressInfo("HttpProxyConnect", target.getString());
        }
        if (!socket->connectSocket(m_proxyHost.getString(), static_cast<int>(m_proxyPort), heartbeatMs, log, dnsFailed,
                                   pm)) {
            m_failureReason = static_cast<std::uint32_t>(socket->getFailureReason());
            return false;
        }
        if (!proxyConnect(log)) {
            m_failureReason = kSChannelFailProxy;
            closeChannel(log);
            return false;
        }
    } else if (!socket->connectSocket(m_host.getString(), static_cast<int>(m_port), heartbeatMs, log, dnsFailed, pm)) {
        m_failureReason = static_cast<std::uint32_t>(socket->getFailureReason());
        return false;
    }
    return handshake(log, clientCerts);
}

bool SChannelTessik::handshake(LogBase& log, const ExtPtrArray* clientCerts) {
    ProgressMonitor* pm = m_handshakeParams.pm;
    if (pm != nullptr)
        pm->progressInfo("SslHandshake", "Starting");
    if (!m_protocol.startClientHandshake(m_endpoint, m_handshakeParams, clientCerts, log, m_verbose)) {
        log.logError(schannel_msg::kHandshakeFailed);
        m_failureReason = kSChannelFailHandshake;
        log.logDataLong("lastAlertLevel", static_cast<int>(m_protocol.lastAlertLevel()));
        log.logDataLong("lastAlertDescription", static_cast<int>(m_protocol.lastAlertDescription()));
        // Nothing can be sent on a connection whose handshake broke off; the
        // alert that ended it stays readable.
        m_endpoint.close(log);
        m_protocol.reset(true, true);
        return false;
    }
    if (pm != nullptr)
        pm->progressInfo("SslHandshake", "Finished");
    m_serverCert = m_protocol.serverCertificate();
    if (!checkServerCertificate(log)) {
        log.logError(schannel_msg::kVerificationFailed);
        return false;
    }
    log.logInfo(schannel_msg::kEstablished);
    return true;
}

bool SChannelTessik::proxyConnect(LogBase& log) {
    if (!m_useProxy)
        return true;
    TessikSocket* socket = getSocket();
    StringBuffer request("CONNECT ");
    request.append(m_host.getString());
    request.append(":");
    request.appendUint32(m_port);
    request.append(" HTTP/1.0\r\nUser-Agent: Tessik\r\n\r\n");
    if (!socket->sendSb(request, kProxySendChunk, m_handshakeParams.heartbeatMs, log, m_handshakeParams.pm))
        return false;
    // The head only, byte by byte: what follows it belongs to the TLS server.
    DataBuffer head;
    SocketReadParams params;
    params.heartbeatMs = m_handshakeParams.heartbeatMs;
    while (!endsHead(head)) {
        if (head.getSize() >= kMaxProxyHead) {
            log.logError(schannel_msg::kProxyHeadTooLong);
            return false;
        }
        if (!socket->readNToDataBuffer(1, head, params, log))
            break;
    }
    if (head.getSize() == 0 || !endsHead(head)) {
        log.logError(schannel_msg::kNoProxyAnswer);
        return false;
    }
    const int status = statusCode(head);
    if (status / 100 != kStatusClassSuccess) {
        log.logError(schannel_msg::kProxyRefused);
        log.logDataLong("proxyStatus", status);
        return false;
    }
    return true;
}

void SChannelTessik::failVerification(const char* message, LogBase& log) {
    log.logError(message);
    m_failureReason = kSChannelFailVerify;
    LogNull quiet;
    m_endpoint.close(quiet);
}

bool SChannelTessik::checkServerCertificate(LogBase& log) {
    if (!m_requireVerification)
        return true;
    if (!m_serverCert) {
        failVerification(schannel_msg::kNoServerCert, log);
        return false;
    }
    log.logInfo("Verifying server certificate...");
    m_serverCertVerified = false;
    std::vector<std::string> ders;
    for (int i = 0; i < m_protocol.numServerCerts(); ++i) {
        DataBuffer der;
        if (m_protocol.getServerCertDer(i, der))
            ders.emplace_back(reinterpret_cast<const char*>(der.getData()), der.getSize());
    }
    static const struct {
        TlsServerCheck check;
        const char* message;
    } kRefusals[] = {
        {TlsServerCheck::kNoCertificate, schannel_msg::kNoServerCert},
        {TlsServerCheck::kExpired, schannel_msg::kExpired},
        {TlsServerCheck::kNotYetValid, schannel_msg::kNotYetValid},
        {TlsServerCheck::kSignature, schannel_msg::kBadSignature},
        {TlsServerCheck::kNotACa, schannel_msg::kIssuerNotACa},
        {TlsServerCheck::kBadExtension, schannel_msg::kBadExtension},
        {TlsServerCheck::kNameConstraints, schannel_msg::kOutsideNameConstraints},
        {TlsServerCheck::kNotForServers, schannel_msg::kNotForServers},
        {TlsServerCheck::kKeyNotForServers, schannel_msg::kKeyNotForServers},
        {TlsServerCheck::kUntrustedRoot, schannel_msg::kUntrustedRoot},
        {TlsServerCheck::kNameMismatch, schannel_msg::kNameMismatch},
    };
    const TlsServerCheck check = checkTlsServerChain(ders, m_host.getString(), log);
    for (const auto& refusal : kRefusals)
        if (refusal.check == check) {
            failVerification(refusal.message, log);
            return false;
        }
    log.logInfo(schannel_msg::kVerified);
    m_serverCertVerified = true;
    return true;
}

bool SChannelTessik::sendBytes(const unsigned char* data, unsigned int n, unsigned int heartbeatMs,
                               unsigned int timeoutMs, LogBase& log, ProgressMonitor* pm) {
    if (data == nullptr || n == 0)
        return true;
    m_handshakeParams.heartbeatMs = heartbeatMs;
    m_handshakeParams.pm = pm;
    TessikSocket* socket = getSocket();
    const unsigned int saved = socket->getReadTimeoutMs();
    socket->setReadTimeoutMs(timeoutMs);
    const bool ok = m_protocol.sendApplicationData(data, n, m_endpoint, m_handshakeParams, log, m_verbose);
    socket->setReadTimeoutMs(saved);
    endCall(m_handshakeParams);
    return ok;
}

bool SChannelTessik::sendBytes(const DataBuffer& data, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                               ProgressMonitor* pm) {
    return sendBytes(data.getData(), data.getSize(), heartbeatMs, timeoutMs, log, pm);
}

bool SChannelTessik::receiveBytes(DataBuffer& out, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                                  ProgressMonitor* pm, bool* timedOut, bool* aborted, bool* fatalError,
                                  bool* endOfSession, bool* connectionClosed, int callerNumber) {
    out.clear();
    m_receiveParams.heartbeatMs = heartbeatMs;
    m_receiveParams.pm = pm;
    m_receiveParams.flags.clear();
    TessikSocket* socket = getSocket();
    const unsigned int saved = socket->getReadTimeoutMs();
    socket->setReadTimeoutMs(timeoutMs);
    if (m_verbose) {
        log.logInfo("s2_ReceiveBytes...");
        log.logDataLong("calledFrom", callerNumber);
    }
    const bool ok = m_protocol.readApplicationData(m_endpoint, m_receiveParams, out, log, m_verbose);
    const bool closed = !m_endpoint.isConnected();
    const bool ended = m_protocol.closeNotifyReceived();
    if (m_verbose) {
        log.logDataLong("s2_ReceiveBytes.RecvSecure.b", ok);
        log.logDataLong("s2_ReceiveBytes.RecvSecure.bConnectionClosed", closed);
        log.logDataLong("s2_ReceiveBytes.RecvSecure.bEndOfSession", ended);
        log.logDataLong("receivedNumBytes", static_cast<int>(out.getSize()));
    }
    if (timedOut != nullptr)
        *timedOut = m_receiveParams.flags.timedOut;
    if (aborted != nullptr)
        *aborted = m_receiveParams.flags.aborted;
    if (fatalError != nullptr)
        *fatalError = m_receiveParams.flags.socketError;
    if (endOfSession != nullptr)
        *endOfSession = ended;
    if (connectionClosed != nullptr)
        *connectionClosed = closed;
    socket->setReadTimeoutMs(saved);
    endCall(m_receiveParams);
    return ok;
}

bool SChannelTessik::waitForData(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm,
                                 bool* socketError, bool* aborted, bool* timedOut, LogBase& log) {
    // Records already read hold data the socket will not signal again.
    if (m_protocol.heldApplicationData().getSize() != 0)
        return true;
    return getSocket()->waitReadable(heartbeatMs, timeoutMs, pm, socketError, aborted, timedOut, log);
}

bool SChannelTessik::sendCloseNotify(bool shutDown, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                                     ProgressMonitor* pm) {
    TessikSocket* socket = getSocket();
    if (socket->isInvalidSocket())
        return true;
    m_handshakeParams.heartbeatMs = heartbeatMs;
    m_handshakeParams.pm = pm;
    const unsigned int saved = socket->getReadTimeoutMs();
    socket->setReadTimeoutMs(timeoutMs);
    const bool ok = m_protocol.SendAlert(m_endpoint, m_handshakeParams, log);
    socket->setReadTimeoutMs(saved);
    endCall(m_handshakeParams);
    if (shutDown) {
        log.logInfo("socket shutdown..");
        closeChannel(log);
    }
    return ok;
}

void SChannelTessik::closeChannel(LogBase& log) {
    m_endpoint.close(log);
    m_protocol.reset(true);
}

bool SChannelTessik::isConnected() {
    return m_endpoint.isConnected();
}

} // namespace tessik
