// The POST of a caller-made MIME text: its header fields, the empty line
// and the body go out after a request line and the credential lines.
#include <string_view>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"

namespace tessik {

namespace {
constexpr int kPlainPort = 80;
constexpr unsigned int kRequestReserve = 5000;
} // namespace

bool HttpClient::checkMimeHead(const StringBuffer& mimeText, bool& namesHost, LogBase& log) {
    namesHost = false;
    const std::string_view text(mimeText.getString(), static_cast<std::size_t>(mimeText.getSize()));
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        const bool continued = line.front() == ' ' || line.front() == '\t';
        const std::size_t colon = continued ? 0 : line.find(':');
        const StringBuffer name(line.data(),
                                static_cast<unsigned int>(colon == std::string_view::npos ? line.size() : colon), 0);
        const std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon);
        if ((!continued && (colon == std::string_view::npos || !TessikUrl::isToken(name))) ||
            !TessikUrl::isFieldValue(value.data(), value.size())) {
            log.logError(url_msg::kMalformedField);
            return false;
        }
        namesHost = namesHost || (!continued && name.equalsNoCase("Host"));
    }
    return true;
}

bool HttpClient::sendMimePost(HttpControl& options, bool tls, const char* url, const StringBuffer& mimeText,
                              HttpResult& result, LogBase& log, bool logDetails, ProgressMonitor* pm) {
    m_requestTls = tls;
    m_readTimeoutSec = options.ReadTimeoutSec;
    m_heartbeatMs = options.HeartbeatMs;
    StringBuffer host, user, password, path, query, fragment;
    int port = kPlainPort;
    TessikUrl::crackUrl(url, host, port, user, password, path, query, fragment);
    if (path.getSize() == 0)
        path.setString("/");
    if (port == 0)
        port = kPlainPort;
    StringBuffer cookieLines;
    addCookiesHeader(options, host.getString(), path.getString(), tls, cookieLines, log, pm);
    if (query.getSize() != 0) {
        path.appendChar('?');
        path.appendSb(query);
    }
    StringBuffer written(path);
    path.clear();
    TessikUrl::appendRequestTarget(written, path);
    options.digestUri.setSb(path);
    options.HttpMethod.setString("POST");
    if (pm != nullptr) {
        StringBuffer begin("POST,");
        begin.appendSb(host);
        begin.appendChar(':');
        begin.appendInt(port);
        begin.appendSb(path);
        pm->progressInfo("HttpRequestBegin", begin.getString());
    }
    StringBuffer authLine;
    const bool credentials = options.Login.getSizeUtf8() != 0 && options.Password.getSizeUtf8() != 0;
    if (credentials && !options.NTLMAuth && !options.NegotiateAuth && !options.DigestAuth) {
        log.logInfo("Adding basic authentication header...");
        StringBuffer value;
        basicCredentials(options.Login, options.Password, false, value);
        authLine.setString("Authorization: ");
        authLine.appendSb(value);
    } else if (credentials && options.DigestAuth && options.digestAuthHeader.getSize() != 0) {
        authLine.setSb(options.digestAuthHeader);
        authLine.trimWhitespace();
    }

    if (!decideProxy(options, host.getString(), port, tls, log))
        return false;
    StringBuffer head;
    // Absolute form to a proxy; origin form inside a CONNECT tunnel.
    absoluteFormPrefix(options, tls, host, port, head);
    head.prepend("POST ");
    head.appendSb(path);
    head.append(" HTTP/1.1\r\n");
    StringBuffer startLine(head);
    startLine.trimWhitespace();
    log.logData("startLine", startLine.getString());
    if (authLine.getSize() != 0) {
        head.appendSb(authLine);
        head.append("\r\n");
    }
    // A tunnel's CONNECT carried the proxy's credentials; the origin gets none.
    addRequestProxyAuthHeader(options, tls, head, log, pm);
    head.appendSb(cookieLines);
    // A MIME text seldom names the host, which HTTP/1.1 requires; when it
    // does, its Host is the one.
    bool namesHost = false;
    if (!checkMimeHead(mimeText, namesHost, log))
        return false;
    if (!namesHost) {
        StringBuffer hostName;
        normalizeHost(host.getString(), hostName);
        StringBuffer hostLine;
        hostLine.append("Host: ");
        appendHostField(hostName, hostLine);
        if (port != kPlainPort && port != static_cast<int>(http_conn::kTlsPort)) {
            hostLine.appendChar(':');
            hostLine.appendInt(port);
        }
        head.appendSb(hostLine);
        head.append("\r\n");
    }
    if (logDetails) {
        log.logInfo("--- PostMime Header ---");
        log.logData("PostMimeHeader", head.getString());
        log.logInfo("--- End of PostMime Header ---");
    }
    if (pm != nullptr)
        pm->progressInfo("RequestHeader", head.getString());
    result.requestHeaderText.setSb(head);
    result.requestHeaderText.trimWhitespace();

    DataBuffer wire;
    wire.ensureCapacity(kRequestReserve);
    wire.appendSb(head);
    XString mime;
    mime.setFromUtf8(mimeText.getString());
    wire.appendStr(mime.getAnsi());
    if (pm != nullptr) {
        pm->progressInfoInt("StartSendingRequest", static_cast<int>(wire.getSize()));
        pm->setTotalUint32(wire.getSize());
    }
    result.connectionFailed = 0;
    const bool ok =
        tls ? m_conn.tlsSendBytes(wire.getData(), wire.getSize(), options.HeartbeatMs, readTimeoutMs(options), log, pm)
            : m_conn.sendBytesDuplex(wire.getData(), wire.getSize(), http_conn::kFirstChunkSize,
                                     http_conn::kRequestFirstChunkCount, options.SendBufferSize, options.HeartbeatMs,
                                     log, pm, m_receivedDuringSend);
    if (!ok) {
        log.logError("Failed to send HTTP request..");
        result.connectionFailed = 1;
    }
    return ok;
}

} // namespace tessik
