// https through an HTTP proxy: CONNECT on a fresh connection to the proxy,
// then the TLS handshake through the pipe it opens.
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/transport/SChannelTessik.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

namespace {

constexpr unsigned int kConnectSendChunk = 2048;
constexpr const char* kStatusOk = "200";

// The target as a CONNECT line and a Host field name it: an IPv6 literal
// in brackets.
void appendTarget(const char* host, StringBuffer& out) {
    HttpClient::appendHostForUrl(StringBuffer(host != nullptr ? host : ""), out);
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

void noteProxyInSecondaryLog(HttpControl& options, const char* context, const char* proxyHost, int proxyPort) {
    if (options.secondaryLog == nullptr)
        return;
    LogContext ctx(*options.secondaryLog, context);
    options.secondaryLog->logData("proxyDomain", proxyHost);
    options.secondaryLog->logDataLong("proxyPort", proxyPort);
}

} // namespace

bool HttpClient::proxySslConnect(const char* proxyHost, int proxyPort, const char* host, int port,
                                 LoggedSocket2* socket, HttpControl& options, ProgressMonitor* pm, LogBase& log) {
    if (socket == nullptr)
        return false;
    noteProxyInSecondaryLog(options, "proxySslConnect", proxyHost, proxyPort);
    socket->closeSocket();
    TessikSocket& plain = socket->socket();
    plain.setConnectTimeoutSec(options.ConnectTimeoutSec);
    plain.setReadTimeoutMs(readTimeoutMs(options));
    if (!connectSocket(plain, proxyHost, proxyPort, options, log, pm)) {
        log.logError(http_tunnel::kMsgProxyConnectFailed);
        return false;
    }

    StringBuffer request("CONNECT ");
    appendTarget(host, request);
    request.appendChar(':');
    request.appendInt(port);
    request.append(" HTTP/1.1\r\nUser-Agent: Tessik/2.0\r\nProxy-Connection: keep-alive\r\n");
    addProxyBasicAuthHeader(options, request, log, pm);
    request.append("Host: ");
    appendTarget(host, request);
    request.append("\r\n\r\n");
    log.logInfo("Sending CONNECT to proxy...");
    if (!socket->sendBytesSb(request, kConnectSendChunk, options.HeartbeatMs, log, pm)) {
        log.logError(http_tunnel::kMsgSendFailed);
        return false;
    }
    DataBuffer head;
    if (!socket->receiveUntilBlankLine(head, options.HeartbeatMs, log, pm)) {
        log.logError(http_tunnel::kMsgReadFailed);
        return false;
    }
    StringBuffer answer;
    answer.appendBytes(reinterpret_cast<const char*>(head.getData()), static_cast<int>(head.getSize()));
    if (answer.beginsWith("HTTP/1.1 407") && answer.containsSubstring("NTLM")) {
        StringBuffer second;
        if (!proxyConnectNtlm(proxyHost, proxyPort, host, port, nullptr, options.ProxyLogin.getUtf8(),
                              options.ProxyPassword.getUtf8(), socket, second, options, pm, log)) {
            log.logError(http_tunnel::kMsgNtlmFailed);
            return false;
        }
        answer.setSb(second);
    }
    StringBuffer statusLine(answer);
    statusLine.chopAtFirstChar('\r');
    statusLine.chopAtFirstChar('\n');
    if (!statusIsOk(statusLine)) {
        log.logError(http_tunnel::kMsgErrorResponse);
        answer.trimWhitespace();
        log.logData("ConnectResponse", answer.getString());
        return false;
    }
    SChannelTessik* channel = socket->tlsChannel();
    channel->setHostname(proxyHost);
    channel->setPort(static_cast<unsigned int>(proxyPort));
    channel->setSslProtocol(options.SslProtocol.getString());
    log.logInfo("Establishing SSL tunnel through proxy...");
    return channel->EstablishChannel2(plain, log, options.ConnectTimeoutSec * http_conn::kMsPerSec, options.HeartbeatMs,
                                      pm, options.clientCerts);
}

bool HttpClient::proxyConnectNtlm(const char* proxyHost, int proxyPort, const char*, int, const char*, const char*,
                                  const char*, LoggedSocket2*, StringBuffer& response, HttpControl& options,
                                  ProgressMonitor* pm, LogBase& log) {
    response.clear();
    noteProxyInSecondaryLog(options, "proxyConnectNtlm", proxyHost, proxyPort);
    if (pm != nullptr)
        pm->progressInfo("HttpAuth", "Starting Proxy NTLM Authentication");
    // The NTLM messages belong to the authentication part of the library;
    // until it is here the handshake cannot start.
    log.logError(http_pool::kMsgProxyNtlmNotAvailable);
    return false;
}

} // namespace tessik
