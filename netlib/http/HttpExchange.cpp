// The exchange on an open connection: the send step, the response head and
// body readers and the follow-up decisions, with the attempt loop over them.
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

namespace {

constexpr std::uint32_t kStatusContinue = 100;
constexpr std::uint32_t kStatusOkFirst = 200;
constexpr std::uint32_t kStatusRedirectFirst = 300;
constexpr std::uint32_t kStatusUnauthorized = 401;
constexpr std::uint32_t kStatusMethodNotAllowed = 405;
constexpr std::uint32_t kStatusProxyAuth = 407;
constexpr std::uint32_t kStatusServerError = 500;
constexpr int kPlainPort = 80;
constexpr int kTlsPort = 443;

void basicCredentials(XString& login, XString& password, StringBuffer& out) {
    StringBuffer pair;
    pair.append(login.getUtf8());
    pair.appendChar(':');
    pair.append(password.getUtf8());
    out.setString("Basic ");
    ContentCoding::encodeBase64NoCrlf(pair.getString(), static_cast<unsigned int>(pair.getSize()), out);
    pair.secureClear();
}

bool isInterimHead(const DataBuffer& head) {
    StringBuffer line(reinterpret_cast<const char*>(head.getData()), head.getSize(), 0);
    line.chopAtFirstChar('\n');
    return line.beginsWith("HTTP/1.1 100") || line.containsSubstringNoCase("100 Continue");
}

void logBodyStart(const DataBuffer& body, LogBase& log) {
    StringBuffer text;
    const unsigned int n = body.getSize() < http_conn::kLoggedBodyBytes ? body.getSize() : http_conn::kLoggedBodyBytes;
    text.appendBytes(body.getData(), static_cast<int>(n));
    if (body.getSize() > n)
        text.append("...");
    log.logData("response", text.getString());
}

// Cookies are the cookie files' business; until they exist nothing is sent.
void appendCookieLines(HttpControl& options, LogBase& log) {
    if (options.CookieDir.getSize() != 0 && options.SendCookies)
        log.logInfo(http_conn::kMsgCookiesNotAvailable);
}

} // namespace

void HttpClient::closeNumbered(const char* message, LogBase& log) {
    log.logInfo(message);
    dropSocket();
}

void HttpClient::dropSocket() {
    m_conn.closeSocket();
    m_pending.clear();
    m_pendingScanned = 0;
}

bool HttpClient::readHeadBytes(HttpControl& options, DataBuffer& head, LogBase& log, ProgressMonitor* pm) {
    head.clear();
    for (;;) {
        // The head ends at an empty line: LF, then LF or CR LF.
        const unsigned char* p = m_pending.getData();
        const std::uint32_t n = m_pending.getSize();
        for (std::uint32_t i = m_pendingScanned; i < n; ++i) {
            if (p[i] != '\n')
                continue;
            std::uint32_t end = 0;
            if (i + 1 < n && p[i + 1] == '\n')
                end = i + 2;
            else if (i + 2 < n && p[i + 1] == '\r' && p[i + 2] == '\n')
                end = i + 3;
            if (end == 0)
                continue;
            head.append(p, end);
            m_pending.removeFront(end);
            m_pendingScanned = 0;
            return true;
        }
        m_pendingScanned = n > 2 ? n - 2 : 0;
        if (n > http_conn::kMaxHeadBytes) {
            log.logError(http_conn::kMsgHeadTooLong);
            return false;
        }
        SocketFlags flags;
        const std::uint32_t before = m_pending.getSize();
        if (!m_conn.receiveSome(m_pending, http_conn::kReceiveChunk, options.HeartbeatMs, log, pm, flags) ||
            m_pending.getSize() == before) {
            // What came before the connection ended is still the head read.
            head.appendDb(m_pending);
            return false;
        }
    }
}

bool HttpClient::takePending(std::uint64_t max, Output& out, LogBase& log, std::uint64_t& taken) {
    taken = m_pending.getSize() < max ? m_pending.getSize() : max;
    if (taken == 0)
        return true;
    if (out.writeBytes(m_pending.getData(), static_cast<std::uint32_t>(taken), 1, nullptr, log) != 1)
        return false;
    m_pending.removeFront(static_cast<std::uint32_t>(taken));
    m_pendingScanned = 0;
    return true;
}

bool HttpClient::synchronousRequest(HttpControl& options, const char* domain, int port, bool tls, HttpRequest& request,
                                    HttpResult& result, DataBuffer& body, LogBase& log, ProgressMonitor* pm,
                                    bool logDetails) {
    StringBuffer target;
    request.getPathWithQuery(target);
    options.digestUri.setSb(target);
    request.getVerb(options.HttpMethod);
    bool ok = false;
    bool retry = false;
    int attempt = 0;
    do {
        if (++attempt > http_conn::kMaxAttempts)
            return false;
        result.clear();
        body.clear();
        retry = false;
        if (attempt > 1) {
            bool fresh = false;
            if (!httpConnect(options, domain, port, tls, log, pm, fresh))
                return false;
        }
        if (pm != nullptr) {
            StringBuffer begin;
            request.getVerb(begin);
            begin.appendChar(',');
            begin.append(domain);
            begin.appendChar(':');
            begin.appendInt(port);
            request.getPath(begin);
            pm->progressInfo("HttpRequestBegin", begin.getString());
        }
        m_receivedDuringSend.clear();
        const bool sent = sendRequestObject(options, tls, request, result, log, pm, logDetails);
        if (pm != nullptr && pm->isAborted()) {
            log.logInfo("Application aborted HTTP operation (7)");
            closeNumbered("Closing connection to HTTP server. (4)", log);
            return false;
        }
        if (sent) {
            if (m_receivedDuringSend.getSize() != 0) {
                log.logInfo("Already received response data...");
                log.logDataLong("numBytesAlreadyReceived", static_cast<int>(m_receivedDuringSend.getSize()));
            }
            log.logInfo("---- Reading HTTP Response ----");
            ok = readResponse(options, tls, request.isHead(), false, result, body, log, pm, logDetails);
            if (pm != nullptr && pm->isAborted()) {
                log.logInfo("Application aborted HTTP operation (2)");
                closeNumbered("Closing connection to HTTP server. (5)", log);
                return false;
            }
            if (!ok)
                return false;
            ok = afterResponse(result, body, options, tls, pm, log, retry, logDetails);
        } else {
            if (m_receivedDuringSend.getSize() == 0)
                return false;
            ok = readEarlyResponse(m_receivedDuringSend, body, options, result, log, pm, retry);
        }
    } while (retry);
    return ok;
}

bool HttpClient::sendRequestObject(HttpControl& options, bool tls, HttpRequest& request, HttpResult& result,
                                   LogBase& log, ProgressMonitor* pm, bool logDetails) {
    m_requestTls = tls;
    m_readTimeoutSec = options.ReadTimeoutSec;
    m_heartbeatMs = options.HeartbeatMs;
    if (m_host.getSize() == 0) {
        log.logError("Domain is empty!");
        return false;
    }
    StringBuffer path;
    request.getPath(path);
    path.trimWhitespace();
    path.toLowerCase();
    if (path.beginsWith("http:/") || path.beginsWith("https:/")) {
        log.logError("Path should not contain http://domain");
        return false;
    }
    if (!request.hasHeader("host")) {
        StringBuffer host(m_host);
        if (m_port != kPlainPort && m_port != kTlsPort) {
            host.appendChar(':');
            host.appendUint32(m_port);
        }
        request.setHeader("Host", host.getString());
    }
    if (options.ProxyLogin.getSizeUtf8() != 0 && options.ProxyPassword.getSizeUtf8() != 0 &&
        (options.ProxyAuthMethod.getSize() == 0 || options.ProxyAuthMethod.equalsNoCase("basic"))) {
        log.logInfo("Adding Basic Proxy Authentication Header");
        log.logData("login", options.ProxyLogin.getUtf8());
        if (pm != nullptr)
            pm->progressInfo("HttpAuth", "Adding Proxy Authentication Header");
        StringBuffer value;
        basicCredentials(options.ProxyLogin, options.ProxyPassword, value);
        request.setHeader("Proxy-Authorization", value.getString());
    }
    StringBuffer extraLines;
    appendCookieLines(options, log);

    StringBuffer proxyHost;
    std::uint32_t proxyPort = http_opt::kDefaultProxyPort;
    options.getProxy(tls ? "https://" : "http://", proxyHost, proxyPort, log, 0);
    StringBuffer prefix;
    if (proxyHost.getSize() != 0) {
        if (m_port == kTlsPort) {
            prefix.append("https://");
            prefix.appendSb(m_host);
        } else {
            prefix.append("http://");
            prefix.appendSb(m_host);
            if (m_port != kPlainPort) {
                prefix.appendChar(':');
                prefix.appendUint32(m_port);
            }
        }
    }
    if (options.NTLMAuth || options.NegotiateAuth) {
        const bool ntlm = options.NTLMAuth != 0;
        m_ntlmText1.setSb(extraLines);
        m_ntlmText2.clear();
        if (!options.ProxyPartialUrl)
            m_ntlmText2.setSb(prefix);
        StringBuffer token;
        if (!(ntlm ? ntlmRequest(options, tls, request, log, pm, token, logDetails)
                   : negotiateRequest(options, tls, request, log, pm, token, logDetails)))
            return false;
        // No token: the server let the authentication leg through.
        if (token.getSize() != 0) {
            extraLines.append("Authorization: ");
            extraLines.append(ntlm ? http_auth::kPackageNtlm : http_auth::kPackageNegotiate);
            extraLines.appendChar(' ');
            extraLines.appendSb(token);
            extraLines.append("\r\n");
        }
    }
    if (options.Login.getSizeUtf8() != 0 && options.Password.getSizeUtf8() != 0) {
        if (!options.NTLMAuth && !options.NegotiateAuth && !options.DigestAuth &&
            options.digestAuthHeader.getSize() == 0) {
            if (pm != nullptr)
                pm->progressInfo("HttpAuth", "Adding Basic Authentication Header");
            log.logInfo("Adding Basic Authentication Header..");
            StringBuffer value;
            basicCredentials(options.Login, options.Password, value);
            request.setHeader("Authorization", value.getString());
        } else if (options.digestAuthHeader.getSize() != 0) {
            StringBuffer value(options.digestAuthHeader);
            value.replaceFirst("Authorization:", "");
            value.trimWhitespace();
            log.logData("AuthorizationType", value.getString());
            request.setHeader("Authorization", value.getString());
        }
    }

    result.requestHeaderText.clear();
    const bool usePrefix = prefix.getSize() != 0 && !options.ProxyPartialUrl;
    if (request.isMultipartFormData()) {
        result.connectionFailed = 0;
        m_sendBufferSize = options.SendBufferSize;
        const bool ok = request.sendMultipartRequest(m_host.getString(), options, StringBuffer(), extraLines,
                                                     prefix.getSize() != 0 ? prefix.getString() : nullptr, *this,
                                                     result.requestHeaderText, log, pm, logDetails);
        if (!ok) {
            if (proxyHost.getSize() == 0) {
                log.logError("Failed to send upload to output");
                closeAfterSendFailure(log);
            } else {
                closeAfterSendFailure(log);
                log.logError("Failed to stream upload to output..");
            }
            result.connectionFailed = 1;
        }
        return ok;
    }

    DataBuffer wire;
    if (!request.generateRequest(wire, result.requestHeaderText,
                                 extraLines.getSize() != 0 ? extraLines.getString() : nullptr,
                                 usePrefix ? prefix.getString() : nullptr, nullptr, log))
        return false;
    if (pm != nullptr && pm->abortCheckDefault()) {
        log.logInfo("Application aborted HTTP operation (3)");
        closeAfterSendFailure(log);
        return false;
    }
    if (logDetails) {
        log.logInfo("---- HTTP Request Header ----");
        log.logData("RequestHeader", result.requestHeaderText.getString());
        log.logInfo("---- End of HTTP Request Header ----");
    }
    if (pm != nullptr) {
        pm->setTotalUint32(wire.getSize());
        pm->progressInfo("RequestHeader", result.requestHeaderText.getString());
        pm->progressInfoInt("StartSendingRequest", static_cast<int>(wire.getSize()));
    }
    result.connectionFailed = 0;
    bool ok;
    if (tls) {
        ok = m_conn.tlsSendBytes(wire.getData(), wire.getSize(), options.HeartbeatMs,
                                 options.ReadTimeoutSec * http_conn::kMsPerSec, log, pm);
    } else {
        ok = m_conn.sendBytesDuplex(wire.getData(), wire.getSize(), http_conn::kFirstChunkSize,
                                    http_conn::kRequestFirstChunkCount, options.SendBufferSize, options.HeartbeatMs,
                                    log, pm, m_receivedDuringSend);
    }
    XString& bodyFile = request.bodyFilePath();
    if (bodyFile.getSizeUtf8() != 0) {
        log.logInfo("Streaming request body from file...");
        log.logData("requestBodyFilePath", bodyFile.getUtf8());
        FileDataSource* src = FileDataSource::openForRead(bodyFile.getUtf8(), &log);
        if (src == nullptr) {
            log.logError("Failed to open file containing the HTTP request body.");
            ok = false;
        } else {
            m_conn.socket().setReadTimeoutMs(options.ReadTimeoutSec * http_conn::kMsPerSec);
            ok = m_conn.SendOnSocketFromSource(*src, options.SendBufferSize, options.HeartbeatMs,
                                               options.ReadTimeoutSec * http_conn::kMsPerSec, log, pm, nullptr, false,
                                               nullptr, nullptr, nullptr) &&
                 ok;
            delete src;
        }
    }
    if (!ok) {
        log.logError("Failed to send HTTP request..");
        result.connectionFailed = 1;
    }
    return ok;
}

bool HttpClient::readResponse(HttpControl& options, bool tls, bool head, bool discardBody, HttpResult& result,
                              DataBuffer& body, LogBase& log, ProgressMonitor* pm, bool logDetails) {
    if (pm != nullptr)
        pm->progressInfo("HttpInfo", "Begin reading response");
    if (tls) {
        log.logError(http_conn::kMsgTlsNotAvailable);
        log.logError("Failed to get response header on SSL connection.");
        return false;
    }
    TessikSocket& sock = m_conn.socket();
    sock.setReadTimeoutMs(options.ReadTimeoutSec * http_conn::kMsPerSec);
    DataBuffer headBytes;
    bool ok = false;
    for (int interim = 0; interim <= http_conn::kMaxInterimHeads; ++interim) {
        headBytes.clear();
        ok = readHeadBytes(options, headBytes, log, pm);
        if (!ok || !isInterimHead(headBytes))
            break;
        log.logInfo("Discarding 100 Continue response header..");
        ok = false;
    }
    if (!ok) {
        // Nothing at all on a kept-alive connection means the server had
        // closed it: a failed connection, which the pool retries once.
        if (headBytes.getSize() == 0)
            result.connectionFailed = 1;
        dropSocket();
        log.logError("Failed to get response header on non-SSL connection.");
        log.logError("Use the SessionLogFilename property to log the HTTP traffic to a file to examime the response.");
        return false;
    }
    HttpResponseHeader& header = result.responseHeader;
    header.parseBytes(headBytes, log);
    if (pm != nullptr || logDetails) {
        StringBuffer text(reinterpret_cast<const char*>(headBytes.getData()), headBytes.getSize(), 0);
        if (pm != nullptr)
            pm->progressInfo("ResponseHeader", text.getString());
        if (logDetails)
            log.logData("ResponseHeader", text.getString());
    }
    const std::uint32_t status = header.getStatusCode();
    const BodyFraming framing = decideBodyFraming(header, head);
    if (discardBody) {
        if (framing.kind == BodyFraming::kNone || (framing.kind == BodyFraming::kLength && framing.length == 0)) {
            if (pm != nullptr)
                pm->progressInfo("HttpInfo", "Finished reading response");
            log.logInfo("Finished reading header-only response.");
            return true;
        }
        log.logDataInt64("responseContentLength", header.getContentLength());
        log.logInfo("Discarding repsonse body...");
        DataBuffer scratch;
        return readResponseBody(options, result, framing, scratch, log, pm);
    }
    StringBuffer connection;
    const bool hasConnection = header.getField("Connection", connection);
    if (hasConnection)
        log.logData("ConnectionRespHdr", connection.getString());
    if (pm != nullptr)
        pm->progressInfoInt("HttpStatusCode", static_cast<int>(status));
    if (status == kStatusUnauthorized) {
        if (header.offersNegotiate())
            log.logInfo("Accepts Negotiate or NTLM authentication.");
        else if (header.offersNtlm())
            log.logInfo("Accepts NTLM authentication.");
        if (header.fieldMatches("WWW-Authenticate", "Digest*"))
            log.logInfo("Accepts Digest authentication.");
        if (header.fieldMatches("WWW-Authenticate", "Basic*"))
            log.logInfo("Accepts Basic authentication.");
    }
    if (head) {
        if (hasConnection && connection.equalsNoCase("close"))
            closeNumbered("Closing HTTP connection because of "
                          "Connection: close header.",
                          log);
        if (pm != nullptr)
            pm->progressInfo("HttpInfo", "Finished reading response");
        return true;
    }
    if (options.RequiredContentType.getSize() != 0 && status != kStatusUnauthorized) {
        StringBuffer type;
        header.getField("content-type", type);
        type.chopAtFirstChar(';');
        type.trimWhitespace();
        if (!type.equalsNoCaseSb(options.RequiredContentType)) {
            log.logError("Content-Type does not match the required content type");
            log.logData("requiredContentType", options.RequiredContentType.getString());
            log.logData("receivedContentType", type.getString());
            closeNumbered("Closing connection to HTTP server. (3)", log);
            return false;
        }
    }
    if (status == 0) {
        log.logError("Received unexpected HTTP response");
        dropSocket();
        return false;
    }
    if (pm != nullptr && header.getContentLength() > 0) {
        pm->setTotalInt64(header.getContentLength());
        pm->progressInfoInt64("ResponseContentLength", header.getContentLength());
    }
    if (!readResponseBody(options, result, framing, body, log, pm))
        return false;
    if (m_pending.getSize() != 0) {
        // Requests are not pipelined, so nothing may follow the body.
        log.logError(http_conn::kMsgTrailingData);
        closeNumbered("Closing connection to HTTP server. (12)", log);
    }
    gunzipResponseBody(header, body, log, pm);
    if (hasConnection && status != kStatusContinue && connection.equalsNoCase("close")) {
        if (pm != nullptr)
            pm->progressInfo("HttpInfo", "Connection:close header is present");
        closeNumbered("Closing HTTP connection because of Connection: close header.", log);
    }
    if (pm != nullptr)
        pm->progressInfo("HttpInfo", "Finished reading response");
    return true;
}

bool HttpClient::readResponseBody(HttpControl& options, HttpResult& result, const BodyFraming& framing,
                                  DataBuffer& body, LogBase& log, ProgressMonitor* pm) {
    const std::uint32_t status = result.responseHeader.getStatusCode();
    LimitedBufferOutput out(&body, options.MaxResponseSize);
    switch (framing.kind) {
    case BodyFraming::kNone: log.logInfo("No response body to fetch..."); return true;
    case BodyFraming::kLength: {
        if (!checkBodyLength(framing, options.MaxResponseSize, log)) {
            // The body is still on the wire; the connection cannot be reused.
            dropSocket();
            return false;
        }
        if (framing.length == 0)
            return true;
        std::uint64_t taken = 0;
        if (!takePending(framing.length, out, log, taken)) {
            dropSocket();
            return false;
        }
        SocketFlags flags;
        if (taken < framing.length &&
            !m_conn.receiveBytesToOutput64(framing.length - taken, out, options.HeartbeatMs, log, pm, flags)) {
            closeNumbered("Closing connection to HTTP server. (6)", log);
            log.logError("Failed to get response data (b)");
            return false;
        }
        return true;
    }
    case BodyFraming::kChunked: return readChunkedBody(options, out, log, pm);
    case BodyFraming::kUntilClose: {
        log.logInfo("Read max non-chunked response");
        unsigned int idleMs = options.ReadTimeoutSec * http_conn::kMsPerSec;
        if (status == kStatusServerError && options.ReadTimeoutSec >= http_conn::kShortErrorWaitSec)
            idleMs = http_conn::kShortErrorWaitMs;
        return readUntilClose(idleMs, options, out, log, pm);
    }
    case BodyFraming::kSkip:
        log.logInfo("Skipping response body because Content-Length header is missing and response code >= 300");
        closeNumbered("Closing connection to HTTP server. (7)", log);
        return true;
    }
    return false;
}

bool HttpClient::readChunkedBody(HttpControl& options, Output& out, LogBase& log, ProgressMonitor* pm) {
    log.logInfo("Reading chunked response");
    if (pm != nullptr)
        pm->progressInfo("HttpInfo", "Reading chunked response.");
    ChunkedDecoder decoder(options.MaxResponseSize);
    DataBuffer piece;
    piece.takeFrom(m_pending);
    m_pendingScanned = 0;
    while (!decoder.isDone()) {
        SocketFlags flags;
        if (piece.getSize() == 0 &&
            (!m_conn.receiveSome(piece, http_conn::kReceiveChunk, options.HeartbeatMs, log, pm, flags) ||
             piece.getSize() == 0)) {
            closeNumbered("Closing connection to HTTP server. (8)", log);
            log.logError("Failed to get response data (a)");
            return false;
        }
        std::uint32_t used = 0;
        if (!decoder.feed(piece.getData(), piece.getSize(), out, used, log, pm)) {
            closeNumbered("Closing connection to HTTP server. (9)", log);
            return false;
        }
        if (used < piece.getSize()) {
            // Requests are not pipelined, so nothing may follow the body.
            log.logError(http_conn::kMsgTrailingData);
            closeNumbered("Closing connection to HTTP server. (10)", log);
        }
        piece.clear();
    }
    return true;
}

bool HttpClient::readUntilClose(unsigned int idleMs, HttpControl& options, Output& out, LogBase& log,
                                ProgressMonitor* pm) {
    TessikSocket& sock = m_conn.socket();
    const unsigned int saved = sock.getReadTimeoutMs();
    sock.setReadTimeoutMs(idleMs);
    bool closed = false;
    const std::int64_t before = out.getPosition64();
    std::uint64_t taken = 0;
    if (!takePending(UINT64_MAX, out, log, taken)) {
        sock.setReadTimeoutMs(saved);
        closeNumbered("Closing connection to HTTP server. (11)", log);
        return false;
    }
    const bool ok =
        m_conn.receiveUntilClosed(http_conn::kUntilCloseChunk, options.HeartbeatMs, pm, nullptr, out, log, &closed);
    sock.setReadTimeoutMs(saved);
    const auto* limited = dynamic_cast<LimitedBufferOutput*>(&out);
    const bool tooLarge = limited != nullptr && limited->limitHit();
    // The body ends with the connection, which is of no further use.
    closeNumbered("Closing connection to HTTP server. (11)", log);
    if (tooLarge)
        return false;
    return ok || closed || out.getPosition64() > before;
}

bool HttpClient::afterResponse(HttpResult& result, DataBuffer& body, HttpControl& options, bool tls,
                               ProgressMonitor* pm, LogBase& log, bool& retry, bool logDetails) {
    retry = false;
    std::uint32_t status = result.responseHeader.getStatusCode();
    log.logDataLong("responseStatus", static_cast<int>(status));
    if (body.getSize() != 0 && (status < kStatusOkFirst || status >= kStatusRedirectFirst) &&
        status != kStatusUnauthorized && status != kStatusProxyAuth)
        logBodyStart(body, log);
    bool ok = true;
    for (int n = 0; status == kStatusContinue && n < http_conn::kMaxInterimHeads; ++n) {
        log.logInfo("Received HTTP 100 response.");
        log.logInfo("---- Continue Reading HTTP Response ----");
        ok = readResponse(options, tls, false, false, result, body, log, pm, logDetails);
        if (!ok)
            return false;
        status = result.responseHeader.getStatusCode();
    }
    if (status == kStatusMethodNotAllowed) {
        StringBuffer proxyHost;
        std::uint32_t proxyPort = 0;
        LogNull quiet;
        options.getProxy(tls ? "https://" : "http://", proxyHost, proxyPort, quiet, http_opt::kPoolCallerTag);
        if (proxyHost.getSize() != 0)
            log.logError("Proxy Server does not support the HTTP method being attempted");
        return true;
    }
    if (status == kStatusUnauthorized && options.DigestAuth) {
        log.logInfo("Processing 401 response for digest authentication...");
        log.logError(http_conn::kMsgDigestNotAvailable);
        return true;
    }
    return ok;
}

bool HttpClient::readEarlyResponse(const DataBuffer& received, DataBuffer& body, HttpControl& options,
                                   HttpResult& result, LogBase& log, ProgressMonitor* pm, bool& retry) {
    retry = false;
    body.clear();
    HttpResponseHeader& header = result.responseHeader;
    header.parseBytes(received, log);
    const std::uint32_t status = header.getStatusCode();
    if (status == 0) {
        log.logError("Received unexpected HTTP response (statusCode=0)");
        return false;
    }
    log.logDataLong("responseStatus", static_cast<int>(status));
    bool found = false;
    const unsigned int end = received.findBytes("\r\n\r\n", 4, found);
    if (!found) {
        log.logInfo("No double CRLF for end-of-header found.");
        return true;
    }
    body.appendDbRange(received, end + 4, received.getSize() - end - 4);
    gunzipResponseBody(header, body, log, pm);
    if (body.getSize() != 0 && (status < kStatusOkFirst || status >= kStatusRedirectFirst))
        logBodyStart(body, log);
    if (status == kStatusUnauthorized && options.DigestAuth)
        log.logError(http_conn::kMsgDigestNotAvailable);
    // The server answered before taking the whole request: this connection
    // is done.
    dropSocket();
    return true;
}

} // namespace tessik
