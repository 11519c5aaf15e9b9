// https through an HTTP proxy: CONNECT on a fresh connection to the proxy
// (with Basic credentials, or the NTLM handshake on the CONNECT itself when
// the proxy asks for it), then the TLS handshake through the pipe it opens.
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/WinUtil.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/pki/ClsNtlm.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/SChannelTessik.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

namespace {

constexpr unsigned int kConnectSendChunk = 2048;
constexpr const char* kStatusOk = "200";

// The target as a CONNECT line and a Host field name it: an IPv6 literal
// in brackets.
void appendTarget(const char* host, StringBuffer& out) {
    HttpClient::appendHostField(StringBuffer(host != nullptr ? host : ""), out);
}

// Whether the status line's code is 200; the reason phrase does not count.
bool statusIsOk(const StringBuffer& statusLine) {
    const char* p = statusLine.getString();
    if (std::strncmp(p, "HTTP/", std::strlen("HTTP/")) != 0)
        return false;
    const char* space = std::strchr(p, ' ');
    if (space == nullptr)
        return false;
    const char* code = space + 1;
    const std::size_t n = std::strlen(kStatusOk);
    return std::strncmp(code, kStatusOk, n) == 0 && (code[n] == '\0' || code[n] == ' ');
}

// Whether the CONNECT was answered with a 200; any other answer is logged.
bool connectAccepted(StringBuffer& answer, LogBase& log) {
    StringBuffer statusLine(answer);
    statusLine.chopAtFirstChar('\r');
    statusLine.chopAtFirstChar('\n');
    if (statusIsOk(statusLine))
        return true;
    log.logError(http_tunnel::kMsgErrorResponse);
    answer.trimWhitespace();
    log.logData("ConnectResponse", answer.getString());
    return false;
}

constexpr const char* kNtlmOffer = "Proxy-Authenticate: NTLM ";
// The body of an answer the proxy keeps the connection for: at most this.
constexpr std::uint64_t kMaxAuthBody = 1024 * 1024;

// The CONNECT of a leg of the NTLM handshake, with its token.
void ntlmConnectRequest(const char* host, int port, const char* token, StringBuffer& out) {
    out.setString("CONNECT ");
    appendTarget(host, out);
    out.appendChar(':');
    out.appendInt(port);
    out.append(" HTTP/1.1\r\nUser-Agent: Tessik/2.0\r\nConnection: Keep-Alive\r\nProxy-Connection: Keep-Alive\r\n");
    out.append("Host: ");
    appendTarget(host, out);
    out.append("\r\nProxy-Authorization: NTLM ");
    out.append(token);
    out.append("\r\n\r\n");
}

// Reads the body that follows an answer's head (chunked, or as long as its
// Content-Length says), framed as any answer's, so the connection can carry
// the next exchange. A transfer coding nobody undoes leaves no way to find
// the next answer; a body announced otherwise is not read.
bool drainAuthBody(LoggedSocket2& socket, const DataBuffer& head, HttpControl& options, LogBase& log,
                   ProgressMonitor* pm) {
    HttpResponseHeader header;
    header.parseBytes(head, log);
    DataBuffer scratch;
    OutputDataBuffer sink(&scratch);
    const BodyFraming framing = decideBodyFraming(header, false);
    if (framing.kind == BodyFraming::kBadCoding) {
        log.logError(http_head::kMsgUnknownTransferCoding);
        return false;
    }
    if (framing.kind == BodyFraming::kChunked) {
        log.logInfo("Received chunked response to NTLM Type1 message.");
        ChunkedDecoder decoder(kMaxAuthBody);
        DataBuffer piece;
        while (!decoder.isDone()) {
            SocketFlags flags;
            piece.clear();
            std::uint32_t used = 0;
            if (!socket.receiveSome(piece, kConnectSendChunk, options.HeartbeatMs, log, pm, flags) ||
                piece.getSize() == 0 || !decoder.feed(piece.getData(), piece.getSize(), sink, used, log, pm)) {
                log.logError(http_tunnel::kMsgReadFailed);
                return false;
            }
        }
        return true;
    }
    if (framing.kind != BodyFraming::kLength || framing.length == 0)
        return true;
    if (framing.length > kMaxAuthBody) {
        log.logError(http_body::kMsgLengthTooLarge);
        return false;
    }
    SocketReadParams params;
    params.heartbeatMs = options.HeartbeatMs;
    params.pm = pm;
    if (!socket.readN(static_cast<unsigned int>(framing.length), scratch, params, log)) {
        log.logError(http_tunnel::kMsgReadFailed);
        return false;
    }
    return true;
}

// Sends a CONNECT and reads the head of its answer, nothing after it.
bool exchangeHead(LoggedSocket2& socket, const StringBuffer& request, HttpControl& options, ProgressMonitor* pm,
                  LogBase& log, DataBuffer& head) {
    head.clear();
    if (!socket.sendBytesSb(request, kConnectSendChunk, options.HeartbeatMs, log, pm)) {
        log.logError(http_tunnel::kMsgSendFailed);
        return false;
    }
    if (!socket.receiveUntilBlankLine(head, options.HeartbeatMs, log, pm)) {
        log.logError(http_tunnel::kMsgReadFailed);
        return false;
    }
    return true;
}

void noteProxyInSecondaryLog(HttpControl& options, const char* context, const char* proxyHost, int proxyPort) {
    if (options.secondaryLog == nullptr)
        return;
    LogContext ctx(*options.secondaryLog, context);
    options.secondaryLog->logData("proxyDomain", proxyHost);
    options.secondaryLog->logDataLong("proxyPort", proxyPort);
}

} // namespace

bool HttpClient::proxySslConnect(ProxySetting& proxy, const char* host, int port, LoggedSocket2* socket,
                                 HttpControl& options, ProgressMonitor* pm, LogBase& log) {
    if (socket == nullptr)
        return false;
    const char* proxyHost = proxy.host.getString();
    const int proxyPort = static_cast<int>(proxy.port);
    noteProxyInSecondaryLog(options, "proxySslConnect", proxyHost, proxyPort);
    socket->closeSocket();
    TessikSocket& plain = socket->socket();
    plain.setConnectTimeoutSec(options.ConnectTimeoutSec);
    plain.setReadTimeoutMs(readTimeoutMs(options));
    if (!connectSocket(plain, proxyHost, proxyPort, options, proxy, log, pm)) {
        log.logError(http_tunnel::kMsgProxyConnectFailed);
        return false;
    }

    StringBuffer request("CONNECT ");
    appendTarget(host, request);
    request.appendChar(':');
    request.appendInt(port);
    request.append(" HTTP/1.1\r\nUser-Agent: Tessik/2.0\r\nProxy-Connection: keep-alive\r\n");
    addProxyBasicAuthHeader(options, proxy, request, log, pm);
    request.append("Host: ");
    appendTarget(host, request);
    request.append("\r\n\r\n");
    log.logInfo("Sending CONNECT to proxy...");
    DataBuffer head;
    if (!exchangeHead(*socket, request, options, pm, log, head))
        return false;
    StringBuffer answer;
    answer.appendBytes(reinterpret_cast<const char*>(head.getData()), static_cast<int>(head.getSize()));
    if (answer.beginsWith("HTTP/1.1 407") && answer.containsSubstring("NTLM")) {
        // A proxy login names its domain as a server login does.
        XString user;
        XString domain;
        splitLoginText(proxy.login.getUtf8(), user, domain);
        StringBuffer second;
        if (!proxyConnectNtlm(proxyHost, proxyPort, host, port, domain.getUtf8(), user.getUtf8(),
                              proxy.password.getUtf8(), socket, second, options, pm, log)) {
            log.logError(http_tunnel::kMsgNtlmFailed);
            return false;
        }
        answer.setSb(second);
    }
    if (!connectAccepted(answer, log))
        return false;
    SChannelTessik* channel = socket->tlsChannel();
    // The tunnel's far end is the server the certificate must name.
    prepareTlsChannel(*channel, host, port, options);
    log.logInfo("Establishing SSL tunnel through proxy...");
    const bool ok = channel->EstablishChannel2(plain, log, options.ConnectTimeoutSec * http_conn::kMsPerSec,
                                               options.HeartbeatMs, pm, options.clientCerts);
    logTlsFailure(*channel, ok, log);
    return ok;
}

bool HttpClient::answerProxyNtlm(HttpControl& options, const char* host, int port, ProgressMonitor* pm, LogBase& log) {
    ProxySetting& proxy = *m_proxy;
    // The handshake goes on a new connection to the proxy.
    m_tunnelHost.clear();
    XString user;
    XString domain;
    splitLoginText(proxy.login.getUtf8(), user, domain);
    StringBuffer answer;
    if (!proxyConnectNtlm(proxy.host.getString(), static_cast<int>(proxy.port), host, port, domain.getUtf8(),
                          user.getUtf8(), proxy.password.getUtf8(), nullptr, answer, options, pm, log))
        return false;
    if (!connectAccepted(answer, log)) {
        dropSocket();
        return false;
    }
    // What goes on this connection from now on reaches the origin.
    normalizeHost(host, m_tunnelHost);
    m_tunnelPort = static_cast<std::uint32_t>(port);
    return true;
}

bool HttpClient::answerProxyNtlmFor(const char* url, HttpControl& options, ProgressMonitor* pm, LogBase& log) {
    StringBuffer host, login, password, path, query, fragment;
    int port = static_cast<int>(http_conn::kDefaultPort);
    if (!TessikUrl::crackUrl(url, host, port, login, password, path, query, fragment))
        return false;
    return answerProxyNtlm(options, host.getString(), port, pm, log);
}

bool HttpClient::proxyAskedNtlm(const HttpResult& result) const {
    // Any of its Proxy-Authenticate fields may offer NTLM (apache names
    // Negotiate first).
    StringBuffer offer;
    return m_wroteToProxy && result.responseHeader.getStatusCode() == http_status::kProxyAuthRequired &&
           result.responseHeader.getFieldMatching("Proxy-Authenticate", "*NTLM*", offer);
}

bool HttpClient::writesToProxy(bool tls) const {
    return !tls && !m_proxy->none() && m_tunnelHost.getSize() == 0;
}

void HttpClient::absoluteFormPrefix(HttpControl& options, bool tls, const StringBuffer& host, int port,
                                    StringBuffer& out) {
    out.clear();
    m_wroteToProxy = writesToProxy(tls);
    if (!m_wroteToProxy || options.ProxyPartialUrl)
        return;
    out.append("http://");
    appendHostField(host, out);
    if (port != static_cast<int>(http_conn::kDefaultPort)) {
        out.appendChar(':');
        out.appendInt(port);
    }
}

bool HttpClient::proxyConnectNtlm(const char* proxyHost, int proxyPort, const char* host, int port, const char* domain,
                                  const char* login, const char* password, LoggedSocket2* socket,
                                  StringBuffer& response, HttpControl& options, ProgressMonitor* pm, LogBase& log) {
    response.clear();
    noteProxyInSecondaryLog(options, "proxyConnectNtlm", proxyHost, proxyPort);
    if (socket == nullptr)
        socket = &m_conn;
    if (pm != nullptr)
        pm->progressInfo("HttpAuth", "Starting Proxy NTLM Authentication");
    ClsNtlm ntlm;
    ntlm.setUsername(login != nullptr ? login : "");
    ntlm.setPassword(password != nullptr ? password : "");
    ntlm.setDomain(domain != nullptr ? domain : "");
    StringBuffer computer;
    getComputerNameSb(computer);
    if (computer.getSize() != 0)
        ntlm.setWorkstation(computer.getString());

    socket->closeSocket();
    if (!connectSocket(socket->socket(), proxyHost, proxyPort, options, *m_proxy, log, pm)) {
        log.logError(http_tunnel::kMsgProxyConnectFailed2);
        return false;
    }
    XString type1;
    if (!ntlm.genType1(type1, log))
        return false;
    StringBuffer request;
    ntlmConnectRequest(host, port, type1.getUtf8(), request);
    StringBuffer logged(request);
    logged.trimWhitespace();
    log.logData("ConnectRequest", logged.getString());
    log.logInfo("Sending CONNECT with NTLM Type1 message to proxy...");
    DataBuffer head;
    if (!exchangeHead(*socket, request, options, pm, log, head))
        return false;
    // The next answer comes on this connection, after this one's body.
    if (!drainAuthBody(*socket, head, options, log, pm))
        return false;
    StringBuffer answer;
    answer.appendBytes(reinterpret_cast<const char*>(head.getData()), static_cast<int>(head.getSize()));
    const char* offer = std::strstr(answer.getString(), kNtlmOffer);
    if (offer == nullptr) {
        log.logError(http_tunnel::kMsgErrorResponse2);
        answer.trimWhitespace();
        log.logData("ConnectResponse", answer.getString());
        return false;
    }
    StringBuffer challenge(offer + std::strlen(kNtlmOffer));
    challenge.chopAtFirstChar('\r');
    challenge.chopAtFirstChar('\n');
    challenge.trimWhitespace();
    log.logData("NtlmChallenge", challenge.getString());
    XString type2;
    type2.setFromUtf8(challenge.getString());
    XString type3;
    if (!ntlm.genType3(type2, type3, log)) {
        log.logError(http_tunnel::kMsgNoType3);
        return false;
    }
    ntlmConnectRequest(host, port, type3.getUtf8(), request);
    log.logInfo("Sending CONNECT with NTLM Type3 message to proxy...");
    if (!exchangeHead(*socket, request, options, pm, log, head))
        return false;
    response.appendBytes(reinterpret_cast<const char*>(head.getData()), static_cast<int>(head.getSize()));
    log.logData("Type3Response", response.getString());
    return true;
}

} // namespace tessik
