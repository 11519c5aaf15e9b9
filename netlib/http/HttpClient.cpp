#include "netlib/http/HttpClient.h"

#include <arpa/inet.h>

#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/crypto/Sha2.h"
#include "netlib/http/HttpControl.h"
#include "netlib/transport/HostnameResolve.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

namespace {

// Keeps a monitor's percent reporting off for the length of a connect.
class PercentPause {
public:
    explicit PercentPause(ProgressMonitor* pm) : m_pm(pm), m_was(pm != nullptr && pm->getPercentOff()) {
        if (m_pm != nullptr)
            m_pm->setPercentOff(true);
    }
    ~PercentPause() {
        if (m_pm != nullptr)
            m_pm->setPercentOff(m_was);
    }
    PercentPause(const PercentPause&) = delete;
    PercentPause& operator=(const PercentPause&) = delete;

private:
    ProgressMonitor* m_pm;
    bool m_was;
};

} // namespace

unsigned int HttpClient::readTimeoutMs(const HttpControl& options) {
    return options.ReadTimeoutSec * http_conn::kMsPerSec;
}

HttpClient::HttpClient()
    : m_port(http_conn::kDefaultPort), m_sendBufferSize(http_conn::kDefaultSendBufferSize), m_exchangeOptions(nullptr),
      m_exchangeBody(nullptr), m_exchangeResult(nullptr), m_exchangeRequest(nullptr), m_exchangeSettled(false),
      m_exchangeTls(false), m_requestTls(false), m_pendingScanned(0), m_reused(false), m_answerOnly(false),
      m_headLostAtOnce(false), m_cookiesSet(false), m_acceptHeadless(false), m_heartbeatMs(0),
      m_readTimeoutSec(http_conn::kDefaultReadTimeoutSec) {
    m_proxy = std::make_unique<ProxySetting>();
}

HttpClient::~HttpClient() {
    m_host.clear();
}

std::uint32_t HttpClient::writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* pm,
                                     LogBase& log) {
    std::uint64_t total = 0;
    if (!blockByteCount(size, count, total) || total > UINT32_MAX)
        return 0;
    const auto n = static_cast<unsigned int>(total);
    const auto* bytes = static_cast<const unsigned char*>(data);
    bool ok;
    if (!m_requestTls) {
        m_conn.socket().setReadTimeoutMs(m_readTimeoutSec * http_conn::kMsPerSec);
        ok = m_conn.sendBytesDuplex(bytes, n, http_conn::kFirstChunkSize, http_conn::kFirstChunkCount, m_sendBufferSize,
                                    m_heartbeatMs, log, pm, m_receivedDuringSend);
    } else {
        ok = m_conn.tlsSendBytes(bytes, n, m_heartbeatMs, m_readTimeoutSec * http_conn::kMsPerSec, log, pm);
    }
    return ok ? count : 0;
}

std::uint32_t HttpClient::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* pm,
                                       LogBase& log) {
    std::uint64_t total = 0;
    if (!blockByteCount(size, count, total) || total > UINT32_MAX)
        return 0;
    return writeBytes(data, static_cast<std::uint32_t>(total), 1, pm, log) == 1 ? count : 0;
}

bool HttpClient::seekToEnd(LogBase&) {
    return true;
}
bool HttpClient::seekTo(std::int64_t, LogBase&) {
    return true;
}
std::int64_t HttpClient::getPosition64() {
    return 0;
}
bool HttpClient::resetOutput(LogBase&) {
    return true;
}
void HttpClient::getDescription(StringBuffer& out) {
    out.setString("HTTP");
}
bool HttpClient::copyToDb(DataBuffer&) {
    return true;
}
DataBuffer* HttpClient::getDataBuffer() {
    return nullptr;
}
bool HttpClient::isHalted() {
    return false;
}
bool HttpClient::ensureCapacity(std::uint32_t) {
    return true;
}

namespace {

// Lower-case letters, digits, dots and hyphens: a name or IPv4 address that
// the rewriting below would leave as it is.
bool isPlainHostName(const char* host) {
    for (const char* p = host; *p != '\0'; ++p)
        if (!((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || *p == '.' || *p == '-'))
            return false;
    return true;
}

} // namespace

void HttpClient::normalizeHost(const char* host, StringBuffer& out) {
    // Every request of a kept-alive connection passes its host again.
    if (host != nullptr && isPlainHostName(host)) {
        if (!out.equals(host))
            out.setString(host);
        return;
    }
    // ASCII only: the name is UTF-8, whose lead bytes a Latin-1 case map
    // would corrupt.
    out.setString(host != nullptr ? host : "");
    out.toLowerCaseAscii();
    out.replaceAll("http://", "");
    out.replaceAll("https://", "");
    out.removeChar('/');
    out.trimWhitespace();
    // An IPv6 literal keeps its colons: bracketed, it ends at ']'; bare, it
    // has more than one colon and no port.
    const char* text = out.getString();
    if (*text == '[') {
        const char* close = std::strchr(text, ']');
        StringBuffer inner;
        inner.appendBytes(text + 1, static_cast<int>(close != nullptr ? close - text - 1 : out.getSize() - 1));
        out.setSb(inner);
    } else if (std::strchr(text, ':') == std::strrchr(text, ':')) {
        out.chopAtFirstChar(':');
    }
    out.trimWhitespace();
}

bool HttpClient::isConnected(bool tls) {
    return tls ? m_conn.tlsChannel()->isConnected() : m_conn.socket().isConnected();
}

bool HttpClient::idleInputPending(bool tls) {
    TessikSocket* socket = tls ? m_conn.tlsChannel()->getSocket() : &m_conn.socket();
    return m_pending.getSize() != 0 || (socket != nullptr && socket->idleInputPending());
}

bool HttpClient::httpConnect(HttpControl& options, const char* host, int port, bool tls, LogBase& log,
                             ProgressMonitor* pm, bool& newlyConnected) {
    newlyConnected = false;
    LogContext ctx(log, "httpConnect");
    log.logData("hostname", host != nullptr ? host : "");
    log.logDataLong("port", port);
    log.logDataLong("ssl", tls ? 1 : 0);
    if (!tls && port == static_cast<int>(http_conn::kTlsPort))
        log.logError("No SSL on port 443 is probably incorrect!  Normally HTTP on port 80 is non-SSL and port 443 is "
                     "for SSL.");
    if (tls && port == static_cast<int>(http_conn::kDefaultPort))
        log.logError(
            "SSL on port 80 is probably incorrect!  Normally HTTP on port 80 is non-SSL and port 443 is for SSL.");
    normalizeHost(host, m_host);
    m_port = static_cast<std::uint32_t>(port);

    // An idle kept-alive connection with something to read has been given
    // up by the server (or it talks out of turn): never reuse it.
    if (isConnected(tls) && idleInputPending(tls)) {
        log.logInfo(http_conn::kMsgStaleConnection);
        dropSocket();
    }
    // A connection opened without the check is not reused once it is asked for.
    if (tls && isConnected(tls) && options.AcceptAnyServerCert == 0 && !m_conn.tlsChannel()->isServerCertVerified()) {
        log.logInfo(http_conn::kMsgUnverifiedConnection);
        dropSocket();
    }
    // A proxy setting that cannot be read fails the connect, and a kept-alive
    // connection is no way round it: nothing goes direct in its place.
    if (!decideProxy(options, m_host.getString(), port, tls, log)) {
        log.logError("Failed to connect.");
        return false;
    }
    ProxySetting& proxy = *m_proxy;
    // A connection opened another way (direct, through another proxy or
    // with other credentials) is not this request's.
    const StringBuffer& route = m_proxyRoute;
    if (isConnected(tls) && !route.equals(m_route.getString())) {
        log.logInfo(http_conn::kMsgOtherRoute);
        dropSocket();
    }
    // A tunnel reaches the one origin it was opened to.
    if (m_tunnelHost.getSize() != 0 && (!m_tunnelHost.equalsNoCaseSb(m_host) || m_tunnelPort != m_port || tls)) {
        log.logInfo(http_conn::kMsgOtherRoute);
        dropSocket();
    }
    if (!isConnected(tls)) {
        TessikSocket& sock = m_conn.socket();
        m_tunnelHost.clear();
        if (!tls) {
            dropSocket();
            sock.setConnectTimeoutSec(options.ConnectTimeoutSec);
            sock.setReadTimeoutMs(readTimeoutMs(options));
        } else {
            LogNull quiet;
            m_conn.sendCloseNotify(false, options.HeartbeatMs, readTimeoutMs(options), quiet, pm);
            m_conn.tlsChannel()->setConnectTimeoutSec(options.ConnectTimeoutSec);
            m_conn.tlsChannel()->setReadTimeoutSec(options.ReadTimeoutSec);
        }
        bool ok;
        if (proxy.none()) {
            ok = tls ? connectSChannel(m_conn.tlsChannel(), host, port, options, proxy, log, pm)
                     : connectSocket(sock, host, port, options, proxy, log, pm);
        } else {
            log.logData("proxyDomain", proxy.host.getString());
            log.logDataLong("proxyPort", static_cast<int>(proxy.port));
            ok = tls ? proxySslConnect(proxy, host, port, &m_conn, options, pm, log)
                     : connectSocket(sock, proxy.host.getString(), static_cast<int>(proxy.port), options, proxy, log,
                                     pm);
        }
        if (!ok) {
            if (!tls) {
                log.logDataLong("connectTimeoutSec", static_cast<int>(sock.getConnectTimeoutSec()));
                log.logDataLong("idleTimeoutMs", static_cast<int>(sock.getReadTimeoutMs()));
                dropSocket();
            } else {
                LogNull quiet;
                m_conn.sendCloseNotify(false, options.HeartbeatMs, readTimeoutMs(options), quiet, pm);
                // A tunnel that failed leaves its proxy connection open.
                dropSocket();
            }
            log.logError("Failed to connect.");
            return false;
        }
        newlyConnected = true;
        m_route.setSb(route);
    }
    if (!isConnected(tls)) {
        log.logError("Socket not connected for HTTP request");
        return false;
    }
    m_reused = !newlyConnected;
    log.logInfo("Connected");
    return true;
}

bool HttpClient::decideProxy(HttpControl& options, const char* host, int port, bool tls, LogBase& log) {
    const bool sameWay = m_proxyDecided && m_proxyTls == tls && m_proxyPort == static_cast<std::uint32_t>(port);
    if (sameWay && host != nullptr && m_proxyHost.equals(host))
        return m_proxyRead;
    StringBuffer bare;
    normalizeHost(host, bare);
    if (sameWay && m_proxyHost.equals(bare.getString()))
        return m_proxyRead;
    m_proxyRead = options.getProxy(tls ? "https://" : "http://", bare.getString(), *m_proxy, log, 0);
    m_proxyDecided = true;
    m_proxyHost.setSb(bare);
    m_proxyPort = static_cast<std::uint32_t>(port);
    m_proxyTls = tls;
    connectionRoute(*m_proxy, m_proxyRoute);
    return m_proxyRead;
}

void HttpClient::takeProxyDecision(const StringBuffer& bareHost, int port, bool tls,
                                   std::unique_ptr<ProxySetting>& decided, bool read, const StringBuffer& route) {
    m_proxy.swap(decided);
    m_proxyRead = read;
    m_proxyDecided = true;
    if (!m_proxyHost.equals(bareHost.getString()))
        m_proxyHost.setSb(bareHost);
    m_proxyPort = static_cast<std::uint32_t>(port);
    m_proxyTls = tls;
    if (!m_proxyRoute.equals(route.getString()))
        m_proxyRoute.setSb(route);
}

void HttpClient::connectionRoute(ProxySetting& proxy, StringBuffer& route) {
    route.clear();
    if (proxy.none() && !proxy.throughSocks())
        return;
    // The credentials only as a digest: the route is kept beside the
    // connection.
    StringBuffer secrets;
    if (!proxy.none()) {
        route.append("proxy ");
        appendHostField(proxy.host, route);
        route.appendChar(':');
        route.appendUint32(proxy.port);
        if (proxy.hasCredentials) {
            secrets.append(proxy.login.getUtf8());
            secrets.appendChar(':');
            secrets.append(proxy.password.getUtf8());
        }
    }
    if (proxy.throughSocks()) {
        StringBuffer socksHost, socksUser, socksPassword;
        proxy.socks.getSocksHostname(socksHost);
        proxy.socks.getSocksUsername(socksUser);
        proxy.socks.getSocksPassword(socksPassword);
        route.append(" socks");
        route.appendInt(proxy.socks.getSocksVersion());
        route.append(proxy.socksLooksUpHere ? " " : "h ");
        route.appendSb(socksHost);
        route.appendChar(':');
        route.appendInt(proxy.socks.getSocksPort());
        secrets.appendChar('\n');
        secrets.appendSb(socksUser);
        secrets.appendChar(':');
        secrets.appendSb(socksPassword);
        socksPassword.secureClear();
    }
    if (secrets.getSize() != 0) {
        DataBuffer digest;
        Sha2::digestSha256(secrets.getString(), static_cast<std::uint32_t>(secrets.getSize()), digest);
        route.append(" with ");
        route.appendHex(digest.getData(), static_cast<int>(digest.getSize()));
        secrets.secureClear();
    }
}

void HttpClient::closeConnection(HttpControl& options, ProgressMonitor* pm, LogBase& log) {
    log.logInfo("Closing connection to HTTP server. (2)");
    if (m_conn.tlsChannel() != nullptr)
        m_conn.sendCloseNotify(false, options.HeartbeatMs, readTimeoutMs(options), log, pm);
    dropSocket();
    m_host.clear();
}

void HttpClient::closeAfterSendFailure(LogBase& log) {
    log.logInfo("Closing connection to HTTP server. (1)");
    dropSocket();
    m_host.clear();
}

bool HttpClient::sendTlsCloseNotify(HttpControl& options, LogBase& log, ProgressMonitor* pm) {
    return m_conn.sendCloseNotify(false, options.HeartbeatMs, readTimeoutMs(options), log, pm);
}

namespace {

// Through SOCKS 4 or 5 when the request's way names one; false otherwise
// (through = false) or when that connect fails.
bool socksConnect(TessikSocket& socket, const char* host, int port, HttpControl& options, ProxySetting& way,
                  LogBase& log, ProgressMonitor* pm, bool& dnsFailed, bool& through) {
    const char* bindIp = options.bindAddress.getSize() != 0 ? options.bindAddress.getString() : nullptr;
    const unsigned int timeoutMs = options.ConnectTimeoutSec * http_conn::kMsPerSec;
    int reason = 0;
    through = true;
    switch (way.socks.getSocksVersion()) {
    case kSocks4Version:
        return socket.socks4Connect(host, port, bindIp, options.HeartbeatMs, timeoutMs, log, &dnsFailed, pm, &reason,
                                    way.socks);
    case kSocks5Version: {
        // socks5:// gives the proxy the address the name has here; an IPv6
        // address is one already, which the IPv4 lookup would misread.
        XString address;
        in6_addr literal;
        const bool lookUp = way.socksLooksUpHere && ::inet_pton(AF_INET6, host, &literal) != 1;
        if (lookUp) {
            bool aborted = false, timedOut = false;
            if (!dnsLookupOrNumeric(host, options.HeartbeatMs, timeoutMs, log, pm, address, &aborted, &timedOut)) {
                dnsFailed = true;
                return false;
            }
        }
        return socket.socks5Connect(lookUp ? address.getUtf8() : host, port, bindIp, options.HeartbeatMs, timeoutMs,
                                    log, &dnsFailed, pm, &reason, way.socks);
    }
    default: through = false; return false;
    }
}

} // namespace

bool connectSocket(TessikSocket& socket, const char* host, int port, HttpControl& options, ProxySetting& way,
                   LogBase& log, ProgressMonitor* pm) {
    socket.setBindIp(options.bindAddress.getString());
    PercentPause pause(pm);
    bool dnsFailed = false;
    bool throughSocks = false;
    bool ok = socksConnect(socket, host, port, options, way, log, pm, dnsFailed, throughSocks);
    if (!throughSocks)
        ok = socket.connectSocket(host, port, options.HeartbeatMs, log, &dnsFailed, pm);
    if (dnsFailed)
        log.logError("Domain name lookup failed..");
    if (!ok)
        HttpClient::noteConnectFailure(dnsFailed, host, options, log);
    return ok;
}

void prepareTlsChannel(SChannelTessik& channel, const char* host, int port, HttpControl& options) {
    channel.setHostname(host);
    channel.setPort(static_cast<unsigned int>(port));
    channel.setSslProtocol(options.SslProtocol.getString());
    channel.setRequireServerVerification(options.AcceptAnyServerCert == 0);
}

void logTlsFailure(const SChannelTessik& channel, bool established, LogBase& log) {
    if (!established)
        log.logDataLong(http_conn::kTlsFailReasonTag, static_cast<long>(channel.getFailureReason()));
}

bool connectSChannel(SChannelTessik* channel, const char* host, int port, HttpControl& options, ProxySetting& way,
                     LogBase& log, ProgressMonitor* pm) {
    PercentPause pause(pm);
    const unsigned int timeoutMs = options.ConnectTimeoutSec * http_conn::kMsPerSec;
    bool dnsFailed = false;
    bool ok;
    prepareTlsChannel(*channel, host, port, options);
    if (way.throughSocks()) {
        // TLS over a socket of its own that SOCKS has connected.
        LogNull quiet;
        channel->closeChannel(quiet);
        TessikSocket socket;
        socket.setBindIp(options.bindAddress.getString());
        socket.setConnectTimeoutSec(options.ConnectTimeoutSec);
        socket.setReadTimeoutMs(HttpClient::readTimeoutMs(options));
        bool throughSocks = false;
        ok = socksConnect(socket, host, port, options, way, log, pm, dnsFailed, throughSocks);
        if (ok) {
            ok = channel->EstablishChannel2(socket, log, timeoutMs, options.HeartbeatMs, pm, options.clientCerts);
            logTlsFailure(*channel, ok, log);
        }
    } else {
        if (options.bindAddress.getSize() != 0)
            channel->setBindAddress(options.bindAddress.getString(), 0);
        ok = channel->EstablishChannel(log, &dnsFailed, timeoutMs, options.HeartbeatMs, pm, options.clientCerts);
        logTlsFailure(*channel, ok, log);
    }
    if (dnsFailed)
        log.logError("Domain name lookup failed.");
    if (!ok)
        HttpClient::noteConnectFailure(dnsFailed, host, options, log);
    return ok;
}

} // namespace tessik
