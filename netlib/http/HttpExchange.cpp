// The exchange on an open connection: the send step, the response head and
// body readers and the follow-up decisions, with the attempt loop over them.
#include <cstdlib>
#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/DataSource.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

namespace {

constexpr int kPlainPort = 80;
constexpr int kTlsPort = 443;
constexpr std::uint32_t kHeadlessPeekBytes = 500;

// Interim answers are told by their status alone: every 1xx but 101, which
// would switch protocols.
bool isInterimStatus(std::uint32_t status) {
    return status >= http_status::kContinue && status < http_status::kSuccessFirst &&
           status != http_status::kSwitchingProtocols;
}

// What a server sends as a page without any head: within the first bytes,
// an HTML comment opener or an html tag.
bool isHeadlessHtml(const DataBuffer& received) {
    const std::uint32_t n = received.getSize() < kHeadlessPeekBytes ? received.getSize() : kHeadlessPeekBytes;
    StringBuffer start;
    start.appendBytes(reinterpret_cast<const char*>(received.getData()), static_cast<int>(n));
    return start.beginsWith("<!---") || start.containsSubstringNoCase("<html");
}

// The Content-Length the request's head said.
std::uint64_t announcedLength(const HttpRequest& request) {
    StringBuffer text;
    return request.getHeader("Content-Length", text) ? std::strtoull(text.getString(), nullptr, 10) : 0;
}

void logBodyStart(const DataBuffer& body, LogBase& log) {
    StringBuffer text;
    const unsigned int n = body.getSize() < http_conn::kLoggedBodyBytes ? body.getSize() : http_conn::kLoggedBodyBytes;
    text.appendBytes(body.getData(), static_cast<int>(n));
    if (body.getSize() > n)
        text.append("...");
    log.logData("response", text.getString());
}

} // namespace

namespace {

void appendHost(const StringBuffer& host, const char* zoneMark, StringBuffer& out) {
    if (!host.containsChar(':')) {
        out.appendSb(host);
        return;
    }
    const char* zone = TessikUrl::zoneOf(host.getString());
    const int address = *zone != '\0' ? static_cast<int>(zone - host.getString()) - 1 : host.getSize();
    out.appendChar('[');
    out.appendBytes(host.getString(), address);
    if (*zone != '\0' && zoneMark != nullptr) {
        out.append(zoneMark);
        out.append(zone);
    }
    out.appendChar(']');
}

} // namespace

void HttpClient::appendHostForUrl(const StringBuffer& host, StringBuffer& out) {
    appendHost(host, "%25", out);
}

void HttpClient::appendHostField(const StringBuffer& host, StringBuffer& out) {
    appendHost(host, nullptr, out);
}

bool HttpClient::checkSendable(const char* url, const HttpControl& options, LogBase& log) {
    if (url != nullptr && TessikUrl::holdsControlByte(url, std::strlen(url))) {
        log.logError(url_msg::kControlByteInUrl);
        return false;
    }
    // A caller's URL and a server's Location alike.
    if (url != nullptr && !TessikUrl::hasHostName(url)) {
        log.logError(url_msg::kBadHostName);
        return false;
    }
    if (url != nullptr && !TessikUrl::hasPort(url)) {
        log.logError(url_msg::kBadPort);
        return false;
    }
    // Every option a road writes into a head, whichever road this is.
    const StringBuffer* fields[] = {&options.UserAgent,     &options.Referer,        &options.Accept,
                                    &options.AcceptCharset, &options.AcceptLanguage, &options.ConnectionHeader};
    bool broken = fieldsMalformed(options.extraHeaders);
    for (const StringBuffer* field : fields)
        broken = broken || !TessikUrl::isFieldValue(*field);
    if (broken) {
        log.logError(url_msg::kMalformedField);
        return false;
    }
    // Empty means GET, or the verb kept.
    for (const StringBuffer* verb : {&options.HttpMethod, &options.RedirectVerb}) {
        if (verb->getSize() != 0 && !TessikUrl::isToken(*verb)) {
            log.logError(url_msg::kVerbNotToken);
            return false;
        }
    }
    return true;
}

void HttpClient::closeNumbered(const char* message, LogBase& log) {
    log.logInfo(message);
    dropSocket();
}

void HttpClient::dropSocket() {
    m_conn.closeSocket();
    m_tunnelHost.clear();
    m_tunnelPort = 0;
    m_pending.clear();
    m_pendingScanned = 0;
}

bool HttpClient::receiveMore(HttpControl& options, unsigned int idleMs, DataBuffer& into, LogBase& log,
                             ProgressMonitor* pm, SocketFlags& flags) {
    flags.clear();
    if (m_answerOnly) {
        // The server stopped taking the request and said its piece; what
        // arrived is all of it.
        flags.closedByPeer = true;
        return false;
    }
    const std::uint32_t before = into.getSize();
    if (!m_requestTls) {
        m_conn.socket().setReadTimeoutMs(idleMs);
        const bool ok = m_conn.receiveSome(into, http_conn::kReceiveChunk, options.HeartbeatMs, log, pm, flags);
        return ok && into.getSize() > before;
    }
    bool timedOut = false;
    bool aborted = false;
    bool fatal = false;
    bool endOfSession = false;
    bool closed = false;
    DataBuffer piece;
    const bool ok = m_conn.tlsReceiveBytes(piece, options.HeartbeatMs, idleMs, log, pm, &timedOut, &aborted, &fatal,
                                           &endOfSession, &closed, 0);
    flags.timedOut = timedOut;
    flags.aborted = aborted;
    flags.socketError = fatal;
    flags.closedByPeer = endOfSession || closed;
    into.appendDb(piece);
    return ok && !timedOut && !aborted && !fatal && piece.getSize() != 0;
}

bool HttpClient::readHeadBytes(HttpControl& options, DataBuffer& head, LogBase& log, ProgressMonitor* pm,
                               SocketFlags& flags) {
    head.clear();
    flags.clear();
    for (;;) {
        // The head ends at an empty line: LF, then LF or CR LF.
        const unsigned char* p = m_pending.getData();
        const std::uint32_t n = m_pending.getSize();
        for (std::uint32_t i = m_pendingScanned; i < n; ++i) {
            // Line ends found a word at a time, not byte by byte.
            const void* lf = std::memchr(p + i, '\n', n - i);
            if (lf == nullptr)
                break;
            i = static_cast<std::uint32_t>(static_cast<const unsigned char*>(lf) - p);
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
        if (!receiveMore(options, readTimeoutMs(options), m_pending, log, pm, flags)) {
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
    request.getPathWithQuery(options.digestUri);
    request.getVerb(options.HttpMethod);
    // The begin line is for a progress monitor only.
    StringBuffer begin;
    if (pm != nullptr) {
        request.getVerb(begin);
        begin.appendChar(',');
        begin.append(domain);
        begin.appendChar(':');
        begin.appendInt(port);
        request.getPath(begin);
    }
    Attempt attempt{pm != nullptr ? begin.getString() : nullptr, "---- Reading HTTP Response ----", request.isHead(),
                    request.isIdempotent() && !request.hasBody()};
    return runAttempts(
        options, domain, port, tls, attempt,
        [&](HttpResult& r) { return sendRequestObject(options, tls, request, r, log, pm, logDetails); }, result, body,
        log, pm, logDetails);
}

bool HttpClient::postMimeAttempts(HttpControl& options, const char* domain, int port, bool tls, const char* url,
                                  const StringBuffer& mimeText, HttpResult& result, DataBuffer& body, LogBase& log,
                                  ProgressMonitor* pm, bool logDetails) {
    Attempt attempt{nullptr, "---- Reading HTTP MIME POST Response ----", false, false};
    return runAttempts(
        options, domain, port, tls, attempt,
        [&](HttpResult& r) { return sendMimePost(options, tls, url, mimeText, r, log, logDetails, pm); }, result, body,
        log, pm, logDetails);
}

bool HttpClient::runAttempts(HttpControl& options, const char* domain, int port, bool tls, const Attempt& attempt,
                             const std::function<bool(HttpResult&)>& send, HttpResult& result, DataBuffer& body,
                             LogBase& log, ProgressMonitor* pm, bool logDetails) {
    bool ok = false;
    bool retry = false;
    int count = 0;
    do {
        if (++count > http_conn::kMaxAttempts)
            return false;
        result.clear();
        body.clear();
        retry = false;
        if (count > 1) {
            bool fresh = false;
            if (!httpConnect(options, domain, port, tls, log, pm, fresh))
                return false;
        }
        if (pm != nullptr && attempt.begin != nullptr)
            pm->progressInfo("HttpRequestBegin", attempt.begin);
        m_receivedDuringSend.clear();
        const bool sent = send(result);
        if (pm != nullptr && pm->isAborted()) {
            log.logInfo("Application aborted HTTP operation (7)");
            closeNumbered("Closing connection to HTTP server. (4)", log);
            return false;
        }
        if (!sent) {
            if (m_receivedDuringSend.getSize() == 0) {
                // Sent again on a new connection only when that cannot do
                // anything twice.
                if (result.connectionFailed && !(m_reused && attempt.resendable)) {
                    if (m_reused)
                        log.logInfo(http_conn::kMsgNotResent);
                    result.connectionFailed = 0;
                }
                // A request cut short (a body file that changed, a failed
                // write) leaves the server reading its rest, or an answer
                // to it unread: the next request must not follow it here.
                closeNumbered("Closing connection to HTTP server. (15)", log);
                return false;
            }
            ok = readEarlyResponse(m_receivedDuringSend, body, options, result, log, pm, retry);
        } else {
            if (m_receivedDuringSend.getSize() != 0) {
                log.logInfo("Already received response data...");
                log.logDataLong("numBytesAlreadyReceived", static_cast<int>(m_receivedDuringSend.getSize()));
                // An answer that came while the body went out starts the head.
                m_pending.appendDb(m_receivedDuringSend);
                m_receivedDuringSend.clear();
            }
            log.logInfo(attempt.readingBanner);
            ok = readResponse(options, tls, attempt.head, false, result, body, log, pm, logDetails);
            if (pm != nullptr && pm->isAborted()) {
                log.logInfo("Application aborted HTTP operation (2)");
                closeNumbered("Closing connection to HTTP server. (5)", log);
                return false;
            }
            if (!ok) {
                // A kept-alive connection the server had already given up
                // ends at once, before any byte of an answer.
                if (m_headLostAtOnce && m_reused && attempt.resendable)
                    result.connectionFailed = 1;
                else if (m_headLostAtOnce && m_reused)
                    log.logInfo(http_conn::kMsgNotResent);
                return false;
            }
            ok = afterResponse(result, body, options, tls, pm, log, retry, logDetails);
        }
        // A second 401 is the answer.
        if (retry && count == http_conn::kMaxAttempts) {
            retry = false;
            ok = true;
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
    // Looked at in place: the path is sent as it stands.
    const char* path = request.pathSb().getString();
    while (*path == ' ' || *path == '\t' || *path == '\r' || *path == '\n')
        ++path;
    if (asciiCompareNoCase(path, "http:/", std::strlen("http:/")) == 0 ||
        asciiCompareNoCase(path, "https:/", std::strlen("https:/")) == 0) {
        log.logError("Path should not contain http://domain");
        return false;
    }
    if (!request.hasHeader("host")) {
        StringBuffer host;
        appendHostField(m_host, host);
        if (m_port != kPlainPort && m_port != kTlsPort) {
            host.appendChar(':');
            host.appendUint32(m_port);
        }
        request.setHeader("Host", host.getString());
    }
    if (!decideProxy(options, m_host.getString(), static_cast<int>(m_port), tls, log))
        return false;
    ProxySetting& proxy = *m_proxy;
    // The proxy's credentials are for a proxy only: inside a tunnel the
    // request goes to the origin, and the CONNECT carried them.
    // Nor do they stay in the caller's request for a later run without one.
    struct ProxyFieldScope {
        HttpRequest& request;
        bool added = false;
        ~ProxyFieldScope() {
            if (added)
                request.removeHeader("Proxy-Authorization");
        }
    } proxyField{request};
    StringBuffer proxyCredentials;
    if (requestProxyCredentials(options, tls, false, proxyCredentials, log, pm)) {
        request.setHeader("Proxy-Authorization", proxyCredentials.getString());
        proxyField.added = true;
    }
    StringBuffer extraLines;
    StringBuffer cookiePath;
    request.getPath(cookiePath);
    cookiePath.chopAtFirstChar('?');

    // The absolute form is for a plain request to the proxy itself; inside
    // a CONNECT tunnel the request goes to the origin, in origin form.
    StringBuffer prefix;
    absoluteFormPrefix(options, tls, m_host, static_cast<int>(m_port), prefix);
    StringBuffer token;
    const bool ntlm = options.NTLMAuth != 0;
    if (options.NTLMAuth || options.NegotiateAuth) {
        m_ntlmText2.setSb(prefix);
        if (!(ntlm ? ntlmRequest(options, tls, request, log, pm, token, logDetails)
                   : negotiateRequest(options, tls, request, log, pm, token, logDetails)))
            return false;
    }
    // After the handshake, whose answers may have set cookies: the request
    // carries what the store holds now.
    addCookiesHeader(options, m_host.getString(), cookiePath.getString(), tls, extraLines, log, pm);
    // No token: the server let the authentication leg through.
    if (token.getSize() != 0) {
        extraLines.append("Authorization: ");
        extraLines.append(ntlm ? http_auth::kPackageNtlm : http_auth::kPackageNegotiate);
        extraLines.appendChar(' ');
        extraLines.appendSb(token);
        extraLines.append("\r\n");
    }
    if (options.Login.getSizeUtf8() != 0 && options.Password.getSizeUtf8() != 0) {
        if (!options.NTLMAuth && !options.NegotiateAuth && !options.DigestAuth &&
            options.digestAuthHeader.getSize() == 0) {
            if (pm != nullptr)
                pm->progressInfo("HttpAuth", "Adding Basic Authentication Header");
            log.logInfo("Adding Basic Authentication Header..");
            StringBuffer value;
            basicCredentials(options.Login, options.Password, false, value);
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
    const bool usePrefix = prefix.getSize() != 0;
    if (request.isMultipartFormData()) {
        result.connectionFailed = 0;
        m_sendBufferSize = options.SendBufferSize;
        const bool ok = request.sendMultipartRequest(m_host.getString(), options, StringBuffer(), extraLines,
                                                     prefix.getSize() != 0 ? prefix.getString() : nullptr, *this,
                                                     result.requestHeaderText, log, pm, logDetails);
        if (!ok) {
            if (proxy.none()) {
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
    const DataBuffer* bodyAfter = nullptr;
    if (!request.generateRequest(wire, result.requestHeaderText,
                                 extraLines.getSize() != 0 ? extraLines.getString() : nullptr,
                                 usePrefix ? prefix.getString() : nullptr, nullptr, log, &bodyAfter))
        return false;
    const std::uint32_t bodyAfterSize = bodyAfter != nullptr ? bodyAfter->getSize() : 0;
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
        pm->setTotalUint32(wire.getSize() + bodyAfterSize);
        pm->progressInfo("RequestHeader", result.requestHeaderText.getString());
        pm->progressInfoInt("StartSendingRequest", static_cast<int>(wire.getSize() + bodyAfterSize));
    }
    result.connectionFailed = 0;
    bool ok;
    if (tls) {
        ok = m_conn.tlsSendBytes(wire.getData(), wire.getSize(), options.HeartbeatMs,
                                 options.ReadTimeoutSec * http_conn::kMsPerSec, log, pm);
        // The body from the caller's bytes, sealed a record at a time.
        if (ok && bodyAfterSize != 0)
            ok = m_conn.tlsSendBytes(bodyAfter->getData(), bodyAfterSize, options.HeartbeatMs,
                                     options.ReadTimeoutSec * http_conn::kMsPerSec, log, pm);
    } else {
        // A request of a head and a small body goes in one write: split, it
        // would cost the server a second wake-up for nothing. A longer one
        // goes in small pieces first, an early answer looked for between
        // them.
        const bool whole = wire.getSize() <= http_req::kInlineBodyBytes;
        ok = m_conn.sendBytesDuplex(wire.getData(), wire.getSize(), whole ? wire.getSize() : http_conn::kFirstChunkSize,
                                    whole ? 1 : http_conn::kRequestFirstChunkCount, options.SendBufferSize,
                                    options.HeartbeatMs, log, pm, m_receivedDuringSend);
        // The body goes from the caller's bytes as it lies.
        if (ok && bodyAfterSize != 0) {
            m_conn.socket().limitUnsentBytes(http_conn::kBodyUnsentBytes);
            ok = m_conn.sendBytesDuplex(bodyAfter->getData(), bodyAfterSize, http_conn::kBodySendChunk, 0,
                                        http_conn::kBodySendChunk, options.HeartbeatMs, log, pm, m_receivedDuringSend);
        }
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
            // A file that grew or shrank since it was sized fails, rather
            // than send another body than the one announced, or bytes a
            // server would read as a next request.
            ExactLengthSource body(*src, announcedLength(request), http_req::kMsgBodyFileChanged);
            ok = m_conn.SendOnSocketFromSource(body, options.SendBufferSize, options.HeartbeatMs,
                                               options.ReadTimeoutSec * http_conn::kMsPerSec, log, pm, nullptr, false,
                                               nullptr, nullptr, nullptr) &&
                 body.endedThere(&log) && ok;
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
    OutputDataBuffer sink(&body);
    if (!readResponseTo(options, tls, head, discardBody, result, sink, log, pm, logDetails))
        return false;
    if (m_road != RoadFollows::kConnection || undoHandedCodings(result, body, 0, options.MaxResponseSize, log, pm))
        return true;
    closeNumbered("Closing connection to HTTP server. (15)", log);
    return false;
}

bool HttpClient::undoHandedCodings(HttpResult& result, DataBuffer& body, std::uint32_t from, std::uint64_t maxSize,
                                   LogBase& log, ProgressMonitor* pm) {
    if (!result.bodyCoded)
        return true;
    result.bodyCoded = 0;
    if (from == 0)
        return undoContentCodings(result.responseHeader, body, maxSize, log, pm);
    DataBuffer content;
    const bool undone = from <= body.getSize() && content.append(body.getData() + from, body.getSize() - from) &&
                        undoContentCodings(result.responseHeader, content, maxSize, log, pm);
    body.setSize(from < body.getSize() ? from : body.getSize());
    return undone && body.appendDb(content);
}

bool HttpClient::readResponseTo(HttpControl& options, bool tls, bool head, bool discardBody, HttpResult& result,
                                Output& body, LogBase& log, ProgressMonitor* pm, bool logDetails) {
    if (pm != nullptr)
        pm->progressInfo("HttpInfo", "Begin reading response");
    m_requestTls = tls;
    m_headLostAtOnce = false;
    result.bodyCoded = 0;
    result.codingAsked = 0;
    HttpResponseHeader& header = result.responseHeader;
    // Borrowed from the connection, so that a kept-alive one reads head
    // after head without allocating; a nested read finds it lent and uses
    // room of its own.
    struct LentRoom {
        DataBuffer& home;
        DataBuffer bytes;
        explicit LentRoom(DataBuffer& h) : home(h) { bytes.takeFrom(home); }
        ~LentRoom() {
            bytes.clear();
            home.takeFrom(bytes);
        }
        LentRoom(const LentRoom&) = delete;
        LentRoom& operator=(const LentRoom&) = delete;
    } lent(m_headRoom);
    DataBuffer& headBytes = lent.bytes;
    SocketFlags flags;
    bool ok = false;
    for (int interim = 0;; ++interim) {
        ok = readHeadBytes(options, headBytes, log, pm, flags);
        if (!ok)
            break;
        header.parseBytes(headBytes, log);
        if (!isInterimStatus(header.getStatusCode()))
            break;
        if (interim == http_conn::kMaxInterimHeads) {
            log.logError(http_conn::kMsgTooManyInterim);
            ok = false;
            break;
        }
        log.logInfo("Discarding 100 Continue response header..");
    }
    if (!ok) {
        m_headLostAtOnce = headBytes.getSize() == 0 && (flags.closedByPeer || flags.socketError);
        dropSocket();
        log.logError(tls ? "Failed to get response header on SSL connection."
                         : "Failed to get response header on non-SSL connection.");
        log.logError("Use the SessionLogFilename property to log the HTTP traffic to a file to examime the response.");
        return false;
    }
    m_unparsedHead.clear();
    // An HTML page that came without a head: its bytes so far start the body.
    bool headless = false;
    if (header.getStatusCode() == 0) {
        if (!m_acceptHeadless || !isHeadlessHtml(headBytes)) {
            m_unparsedHead.appendDb(headBytes);
            log.logError("Received unexpected HTTP response");
            dropSocket();
            return false;
        }
        header.resetTo200();
        headless = true;
    }
    const std::uint32_t status = header.getStatusCode();
    // Nothing here asks for an Upgrade: a 101 ends HTTP on the connection
    // without a final answer, whatever follows it.
    if (status == http_status::kSwitchingProtocols) {
        log.logError(http_conn::kMsgUnaskedSwitch);
        closeNumbered("Closing connection to HTTP server. (13)", log);
        return false;
    }
    m_cookiesSet = saveResponseCookies(result, options, log, pm);
    if (pm != nullptr || logDetails) {
        StringBuffer text(reinterpret_cast<const char*>(headBytes.getData()), headBytes.getSize(), 0);
        if (pm != nullptr)
            pm->progressInfo("ResponseHeader", text.getString());
        if (logDetails)
            log.logData("ResponseHeader", text.getString());
    }
    // A redirect the call goes on to is not handed over: its body is nobody's.
    const BodyFraming framing =
        decideBodyFraming(header, head, options.FollowRedirects != 0 && callGoesOn(header, options));
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
        OutputDataBuffer scratchOut(&scratch);
        return readResponseBody(options, result, framing, scratchOut, log, pm);
    }
    StringBuffer connection;
    const bool hasConnection = header.getField("Connection", connection);
    const bool closeAfter = hasConnection && connection.equalsNoCase("close");
    if (hasConnection)
        log.logData("ConnectionRespHdr", connection.getString());
    if (pm != nullptr)
        pm->progressInfoInt("HttpStatusCode", static_cast<int>(status));
    if (status == http_status::kUnauthorized) {
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
        if (closeAfter)
            closeNumbered("Closing HTTP connection because of Connection: close header.", log);
        if (pm != nullptr)
            pm->progressInfo("HttpInfo", "Finished reading response");
        return true;
    }
    if (options.RequiredContentType.getSize() != 0 && status != http_status::kUnauthorized) {
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
    if (pm != nullptr && header.getContentLength() > 0) {
        pm->setTotalInt64(header.getContentLength());
        pm->progressInfoInt64("ResponseContentLength", header.getContentLength());
    }
    // Known before the first byte of the body, for an output that streams
    // it: whether its codings are still to be undone, by the road that
    // hands it over, or it goes as it came, in a coding the caller asked for.
    result.codingAsked = codingAskedByCaller(header, result.requestHeaderText) ? 1 : 0;
    result.bodyCoded = !result.codingAsked && hasContentCoding(header) ? 1 : 0;
    if (headless && body.writeBytes(headBytes.getData(), headBytes.getSize(), 1, pm, log) != 1)
        return false;
    if (!readResponseBody(options, result, framing, body, log, pm))
        return false;
    if (m_pending.getSize() != 0) {
        // Requests are not pipelined, so nothing may follow the body.
        log.logError(http_conn::kMsgTrailingData);
        closeNumbered("Closing connection to HTTP server. (12)", log);
    }
    if (closeAfter) {
        if (pm != nullptr)
            pm->progressInfo("HttpInfo", "Connection:close header is present");
        closeNumbered("Closing HTTP connection because of Connection: close header.", log);
    }
    if (pm != nullptr)
        pm->progressInfo("HttpInfo", "Finished reading response");
    return true;
}

bool HttpClient::readResponseBody(HttpControl& options, HttpResult& result, const BodyFraming& framing, Output& body,
                                  LogBase& log, ProgressMonitor* pm) {
    const std::uint32_t status = result.responseHeader.getStatusCode();
    CappedOutput out(body, options.MaxResponseSize);
    switch (framing.kind) {
    case BodyFraming::kNone: log.logInfo("No response body to fetch..."); return true;
    case BodyFraming::kRefused:
        log.logError(http_head::kMsgBadContentLength);
        closeNumbered("Closing connection to HTTP server. (14)", log);
        return false;
    case BodyFraming::kBadCoding:
        log.logError(http_head::kMsgUnknownTransferCoding);
        closeNumbered("Closing connection to HTTP server. (14)", log);
        return false;
    case BodyFraming::kLength:
        if (!checkBodyLength(framing, options.MaxResponseSize, log)) {
            // The body is still on the wire; the connection cannot be reused.
            dropSocket();
            return false;
        }
        // Room for what is announced, never more than a bounded first part.
        if (framing.length != 0 &&
            !out.ensureCapacity(static_cast<std::uint32_t>(
                framing.length < http_conn::kMaxBodyReserve ? framing.length : http_conn::kMaxBodyReserve))) {
            log.logError("Failed to allocate memory for HTTP download.");
            log.logDataInt64("NumBytesRequired", static_cast<std::int64_t>(framing.length));
            dropSocket();
            return false;
        }
        return framing.length == 0 || readLengthBody(framing.length, options, out, log, pm);
    case BodyFraming::kChunked: return readChunkedBody(options, out, log, pm);
    case BodyFraming::kUntilClose: {
        log.logInfo("Read max non-chunked response");
        unsigned int idleMs = readTimeoutMs(options);
        if (status == http_status::kServerError && options.ReadTimeoutSec >= http_conn::kShortErrorWaitSec)
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

bool HttpClient::readLengthBody(std::uint64_t length, HttpControl& options, Output& out, LogBase& log,
                                ProgressMonitor* pm) {
    std::uint64_t taken = 0;
    if (!takePending(length, out, log, taken)) {
        dropSocket();
        return false;
    }
    std::uint64_t left = length - taken;
    if (left == 0)
        return true;
    if (!m_requestTls && !m_answerOnly) {
        // Straight from the socket into the output, no copy between.
        m_conn.socket().setReadTimeoutMs(readTimeoutMs(options));
        SocketFlags flags;
        if (m_conn.receiveBytesToOutput64(left, out, options.HeartbeatMs, log, pm, flags))
            return true;
        closeNumbered("Closing connection to HTTP server. (6)", log);
        log.logError("Failed to get response data (b)");
        return false;
    }
    DataBuffer piece;
    while (left != 0) {
        SocketFlags flags;
        piece.clear();
        if (!receiveMore(options, readTimeoutMs(options), piece, log, pm, flags)) {
            closeNumbered("Closing connection to HTTP server. (6)", log);
            log.logError("Failed to get response data (b)");
            return false;
        }
        const auto use = static_cast<std::uint32_t>(left < piece.getSize() ? left : piece.getSize());
        if (out.writeBytes(piece.getData(), use, 1, pm, log) != 1) {
            dropSocket();
            return false;
        }
        if (use < piece.getSize())
            m_pending.append(piece.getData() + use, piece.getSize() - use);
        left -= use;
    }
    return true;
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
        if (piece.getSize() == 0 && !receiveMore(options, readTimeoutMs(options), piece, log, pm, flags)) {
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
    std::uint64_t taken = 0;
    bool written = takePending(UINT64_MAX, out, log, taken);
    bool orderly = false;
    DataBuffer piece;
    while (written) {
        SocketFlags flags;
        piece.clear();
        if (!receiveMore(options, idleMs, piece, log, pm, flags)) {
            orderly = flags.closedByPeer;
            break;
        }
        written = out.writeBytes(piece.getData(), piece.getSize(), 1, pm, log) == 1;
    }
    // The body ends with the connection, which is of no further use.
    closeNumbered("Closing connection to HTTP server. (11)", log);
    if (!written)
        return false;
    // Only the server's orderly close ends such a body: a reset or a
    // silence may have cut it short.
    if (!orderly) {
        log.logError(http_conn::kMsgBodyNotEnded);
        return false;
    }
    return true;
}

bool HttpClient::afterResponse(HttpResult& result, DataBuffer& body, HttpControl& options, bool tls,
                               ProgressMonitor* pm, LogBase& log, bool& retry, bool logDetails) {
    retry = false;
    std::uint32_t status = result.responseHeader.getStatusCode();
    log.logDataLong("responseStatus", static_cast<int>(status));
    if (body.getSize() != 0 && (status < http_status::kSuccessFirst || status >= http_status::kRedirectFirst) &&
        status != http_status::kUnauthorized && status != http_status::kProxyAuthRequired)
        logBodyStart(body, log);
    bool ok = true;
    for (int n = 0; status == http_status::kContinue && n < http_conn::kMaxInterimHeads; ++n) {
        log.logInfo("Received HTTP 100 response.");
        log.logInfo("---- Continue Reading HTTP Response ----");
        ok = readResponse(options, tls, false, false, result, body, log, pm, logDetails);
        if (!ok)
            return false;
        status = result.responseHeader.getStatusCode();
    }
    if (status == http_status::kMethodNotAllowed) {
        if (!m_proxy->none())
            log.logError("Proxy Server does not support the HTTP method being attempted");
        return true;
    }
    if (status == http_status::kUnauthorized && options.DigestAuth) {
        log.logInfo("Processing 401 response for digest authentication...");
        return prepareDigestAuth(options, result, log, pm, retry);
    }
    return ok;
}

bool HttpClient::prepareDigestAuth(HttpControl& options, HttpResult& result, LogBase& log, ProgressMonitor* pm,
                                   bool& prepared) {
    prepared = false;
    const bool haveLogin = options.Login.getSizeUtf8() != 0;
    const bool havePassword = options.Password.getSizeUtf8() != 0;
    if (haveLogin && havePassword && options.DigestAuth) {
        log.logInfo("Calculating digest authorization...");
        StringBuffer challenge;
        if (!result.responseHeader.getFieldMatching("WWW-Authenticate", "Digest*", challenge)) {
            log.logError(http_auth::kMsgNonDigestChallenge);
            return false;
        }
        if (pm != nullptr)
            pm->progressInfo("HttpAuth", "Starting Digest Authentication");
        StringBuffer authLine;
        if (!HttpDigestAuth(options.Login.getAnsi(), options.Password.getUtf8(), options.HttpMethod.getString(),
                            options.digestUri.getString(), challenge.getString(), authLine, log))
            return false;
        options.digestAuthHeader.setSb(authLine);
        prepared = true;
        return true;
    }
    if (haveLogin || havePassword)
        return false;
    log.logError(http_auth::kMsgNoCredentials);
    return false;
}

bool HttpClient::readEarlyResponse(const DataBuffer& received, DataBuffer& body, HttpControl& options,
                                   HttpResult& result, LogBase& log, ProgressMonitor* pm, bool& retry) {
    retry = false;
    body.clear();
    m_pending.clear();
    m_pending.appendDb(received);
    m_pendingScanned = 0;
    m_answerOnly = true;
    bool ok = readResponse(options, m_requestTls, false, false, result, body, log, pm, false);
    m_answerOnly = false;
    // The server answered before taking the whole request: this connection
    // is done.
    dropSocket();
    if (ok)
        ok = afterResponse(result, body, options, m_requestTls, pm, log, retry, false);
    return ok;
}

} // namespace tessik
