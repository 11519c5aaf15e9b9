// The GET road of a connection: the fixed-form GET heads (plain, and the
// two that mimic browsers), their credential lines, and the road's answer
// to a 401.
#include <cctype>
#include <cstring>
#include <string>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/http/UrlResolve.h"
#include "netlib/streams/Output.h"

namespace tessik {

namespace {

constexpr int kPlainPort = 80;
constexpr int kTlsPort = 443;

constexpr const char* kIeAccept = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                                  "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*";
constexpr const char* kIeUserAgent =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Trident/4.0; .NET CLR 1.1.4322; .NET CLR "
    "1.0.3705; .NET CLR 2.0.50727; .NET CLR 3.0.04506.648; .NET CLR 3.5.21022; .NET CLR 3.0.4506.2152; .NET CLR "
    "3.5.30729)";
constexpr const char* kFirefoxUserAgent = "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.9.1.3) "
                                          "Gecko/20090824 Firefox/3.5.3 (.NET CLR 3.5.30729)";
constexpr const char* kFirefoxAccept =
    "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,image/png,*/*;q=0.5";
constexpr const char* kIeAcceptLanguage = "en-us";
constexpr const char* kFirefoxAcceptLanguage = "en-us,en;q=0.5";
constexpr const char* kFirefoxAcceptCharset = "ISO-8859-1,utf-8;q=0.7,*;q=0.7";

void line(StringBuffer& out, const char* name, const char* value) {
    out.append(name);
    out.append(value);
    out.append("\r\n");
}

void lineWhenSet(StringBuffer& out, const char* name, const StringBuffer& value) {
    if (value.getSize() != 0)
        line(out, name, value.getString());
}

// The host as a Host field gives it: lower-case, ":" and the port unless
// it is 80 or 443, an IPv6 literal in brackets. A Host among the caller's
// fields takes its place: two would let a proxy and the origin each route
// by another one.
void hostField(const HttpControl& options, const char* host, int port, StringBuffer& out) {
    if (options.extraHeaders.hasField("Host"))
        return;
    StringBuffer text(host);
    text.toLowerCaseAscii();
    out.append("Host: ");
    HttpClient::appendHostField(text, out);
    if (port != kPlainPort && port != kTlsPort) {
        out.appendChar(':');
        out.appendInt(port);
    }
    out.append("\r\n");
}

void rangeLine(const HttpControl& options, StringBuffer& out) {
    if (options.ResumePoint == 0)
        return;
    out.append("Range: bytes=");
    out.appendInt64(options.ResumePoint);
    out.append("-\r\n");
}

void acceptEncodingLine(const HttpControl& options, StringBuffer& out) {
    out.append(options.AllowGzip ? "Accept-Encoding: gzip\r\n" : "Accept-Encoding: \r\n");
}

// The head as sent, without its final empty line, goes to the result.
void finishHead(StringBuffer& out, HttpResult& result) {
    result.requestHeaderText.setSb(out);
    result.requestHeaderText.trimWhitespace();
    out.append("\r\n");
}

// Whether a cached validator is there and may go out again.
bool sendableValidator(const char* value, LogBase& log) {
    if (value == nullptr || *value == '\0')
        return false;
    if (TessikUrl::isFieldValue(value, std::strlen(value)))
        return true;
    log.logInfo(url_msg::kValidatorNotSent);
    return false;
}

// The scheme a location begins with (RFC 3986: a letter, then letters,
// digits, '+', '-' or '.', up to a ':'); empty for a relative reference.
void locationScheme(const char* location, StringBuffer& scheme) {
    scheme.clear();
    const char* p = location != nullptr ? location : "";
    if (!std::isalpha(static_cast<unsigned char>(*p)))
        return;
    const char* q = p;
    while (std::isalnum(static_cast<unsigned char>(*q)) || *q == '+' || *q == '-' || *q == '.')
        ++q;
    if (*q == ':')
        scheme.appendBytes(p, static_cast<int>(q - p));
}

bool isHttpScheme(const StringBuffer& scheme) {
    return scheme.equalsNoCase("http") || scheme.equalsNoCase("https");
}

} // namespace

bool rewindOutput(Output& out, std::int64_t start, LogBase& log) {
    return out.getPosition64() == start || (start == 0 ? out.resetOutput(log) : out.seekTo(start, log));
}

bool HttpClient::checkRedirectScheme(const char* location, LogBase& log) {
    StringBuffer scheme;
    locationScheme(location, scheme);
    if (scheme.getSize() == 0 || isHttpScheme(scheme))
        return true;
    log.logError(http_redirect::kMsgSchemeRefused);
    log.logData("scheme", scheme.getString());
    return false;
}

bool HttpClient::sameOrigin(const char* a, const char* b) {
    StringBuffer hosts[2], login, password, path, query, fragment;
    int ports[2] = {0, 0};
    const char* urls[2] = {a, b};
    for (int i = 0; i < 2; ++i)
        TessikUrl::crackUrl(urls[i], hosts[i], ports[i], login, password, path, query, fragment);
    const bool tlsA = StringBuffer(a).beginsWithNoCase("https:");
    const bool tlsB = StringBuffer(b).beginsWithNoCase("https:");
    return tlsA == tlsB && ports[0] == ports[1] && hosts[0].equalsNoCaseSb(hosts[1]);
}

void HttpClient::resolveRedirectTarget(const char* requestUrl, const char* location, StringBuffer& target) {
    target.clear();
    StringBuffer loc(location != nullptr ? location : "");
    StringBuffer scheme;
    locationScheme(loc.getString(), scheme);
    if (scheme.getSize() != 0) {
        if (isHttpScheme(scheme))
            target.setSb(loc);
        return;
    }
    const std::string url(requestUrl != nullptr ? requestUrl : "");
    const std::size_t slashes = url.find("//");
    if (slashes == std::string::npos || url.find('/') != slashes)
        return;
    const std::size_t pathStart = url.find('/', slashes + 2);
    if (loc.beginsWith("/") && !loc.beginsWith("//")) {
        target.append(url.substr(0, pathStart).c_str());
        target.appendSb(loc);
        return;
    }
    resolveRedirectUrl(requestUrl, loc.getString(), target);
}

void HttpClient::addBasicAuthHeader(HttpControl& options, StringBuffer& header, LogBase& log, ProgressMonitor* pm) {
    if (options.Login.getSizeUtf8() == 0 || options.Password.getSizeUtf8() == 0 || options.NTLMAuth ||
        options.NegotiateAuth || options.DigestAuth)
        return;
    log.logInfo("Adding Basic Authentication Header");
    log.logData("login", options.Login.getUtf8());
    if (pm != nullptr)
        pm->progressInfo("HttpAuth", "Adding Basic Authentication Header");
    StringBuffer value;
    basicCredentials(options.Login, options.Password, false, value);
    line(header, "Authorization: ", value.getString());
}

bool HttpClient::proxyBasicCredentials(HttpControl& options, ProxySetting& proxy, bool ansi, StringBuffer& value,
                                       LogBase& log, ProgressMonitor* pm) {
    if (proxy.none() || !proxy.hasCredentials ||
        (options.ProxyAuthMethod.getSize() != 0 && !options.ProxyAuthMethod.equalsNoCase("basic")))
        return false;
    log.logInfo("Adding Basic Proxy Authentication Header");
    log.logData("login", proxy.login.getUtf8());
    if (pm != nullptr)
        pm->progressInfo("HttpAuth", "Adding Proxy Authentication Header");
    basicCredentials(proxy.login, proxy.password, ansi, value);
    return true;
}

bool HttpClient::requestProxyCredentials(HttpControl& options, bool tls, bool ansi, StringBuffer& value, LogBase& log,
                                         ProgressMonitor* pm) {
    return writesToProxy(tls) && proxyBasicCredentials(options, *m_proxy, ansi, value, log, pm);
}

void HttpClient::addRequestProxyAuthHeader(HttpControl& options, bool tls, StringBuffer& header, LogBase& log,
                                           ProgressMonitor* pm) {
    StringBuffer value;
    if (requestProxyCredentials(options, tls, true, value, log, pm))
        line(header, "Proxy-Authorization: ", value.getString());
}

void HttpClient::addProxyBasicAuthHeader(HttpControl& options, ProxySetting& proxy, StringBuffer& header, LogBase& log,
                                         ProgressMonitor* pm) {
    StringBuffer value;
    if (proxyBasicCredentials(options, proxy, true, value, log, pm))
        line(header, "Proxy-Authorization: ", value.getString());
}

void HttpClient::buildRequestLine(const GetTarget& target, HttpControl& options, StringBuffer& out) {
    LogNull quiet;
    const bool tls = StringBuffer(target.url).beginsWithNoCase("https:");
    // An unreadable setting sends nothing: the connect refuses it.
    decideProxy(options, target.host, target.port, tls, quiet);
    StringBuffer written;
    // Absolute form to a proxy, from the host read (no user information, no
    // zone); origin form inside a CONNECT tunnel.
    absoluteFormPrefix(options, tls, StringBuffer(target.host), target.port, written);
    written.append(target.path);
    if (target.query != nullptr && *target.query != '\0') {
        written.appendChar('?');
        written.append(target.query);
    }
    StringBuffer what;
    TessikUrl::appendRequestTarget(written, what);
    options.digestUri.setSb(what);
    out.appendSb(options.HttpMethod.getSize() != 0 ? options.HttpMethod : StringBuffer("GET"));
    out.appendChar(' ');
    out.appendSb(what);
    out.append(" HTTP/1.1\r\n");
}

void HttpClient::appendExtraHeaderFields(HttpControl& options, StringBuffer& out, bool& hasContentType, LogBase& log) {
    hasContentType = false;
    if (options.extraHeaders.getCount() == 0)
        return;
    StringBuffer fields;
    options.extraHeaders.AssembleMimeHeader(fields, nullptr, "utf-8", false, log, false);
    hasContentType = fields.containsSubstringNoCase("Content-Type");
    out.appendSb(fields);
    out.append("\r\n");
}

void HttpClient::appendAuthorizationLine(HttpControl& options, StringBuffer& out) {
    if (options.authToken.getSize() == 0)
        return;
    out.append("Authorization: ");
    out.appendSb(m_packageName);
    out.appendChar(' ');
    out.appendSb(options.authToken);
    out.append("\r\n");
}

void HttpClient::appendCredentialLines(const GetTarget& target, HttpControl& options, StringBuffer& out, LogBase& log,
                                       ProgressMonitor* pm) {
    const bool tls = StringBuffer(target.url).beginsWithNoCase("https:");
    addCookiesHeader(options, target.host, target.path, tls, out, log, pm);
    addBasicAuthHeader(options, out, log, pm);
    // Only to a proxy, and not inside a tunnel: its CONNECT carried them,
    // and the origin is no place for the proxy's credentials.
    LogNull quiet;
    decideProxy(options, target.host, target.port, tls, quiet);
    addRequestProxyAuthHeader(options, tls, out, log, pm);
}

bool HttpClient::BuildGetRequest(const GetTarget& target, HttpControl& options, const char* extraHeaderText,
                                 const char* ifModifiedSince, const char* etag, HttpResult& result, LogBase& log,
                                 ProgressMonitor* pm, StringBuffer& out) {
    log.logInfo("-- BuildGetRequest --");
    out.clear();
    buildRequestLine(target, options, out);
    // The validators are a server's words from an earlier answer: one that
    // is no field value would write a line of its own, and stays behind.
    if (sendableValidator(etag, log))
        line(out, "If-None-Match: ", etag);
    else if (sendableValidator(ifModifiedSince, log))
        line(out, "If-Modified-Since: ", ifModifiedSince);
    if (extraHeaderText != nullptr)
        out.append(extraHeaderText);
    bool hasContentType = false;
    appendExtraHeaderFields(options, out, hasContentType, log);
    rangeLine(options, out);
    lineWhenSet(out, "Accept: ", options.Accept);
    appendAuthorizationLine(options, out);
    if (!options.extraHeaders.hasField("Accept-Encoding"))
        acceptEncodingLine(options, out);
    lineWhenSet(out, "Accept-Charset: ", options.AcceptCharset);
    lineWhenSet(out, "Accept-Language: ", options.AcceptLanguage);
    lineWhenSet(out, "Referer: ", options.Referer);
    lineWhenSet(out, "User-Agent: ", options.UserAgent);
    appendCredentialLines(target, options, out, log, pm);
    if (options.AddHostHeader)
        hostField(options, target.host, target.port, out);
    lineWhenSet(out, "Connection: ", options.ConnectionHeader);
    finishHead(out, result);
    return true;
}

bool HttpClient::BuildIeGetRequest(const GetTarget& target, HttpControl& options, const char* extraHeaderText,
                                   const char*, const char*, HttpResult& result, LogBase& log, ProgressMonitor* pm,
                                   StringBuffer& out) {
    log.logInfo("-- BuildIeGetRequest --");
    out.clear();
    buildRequestLine(target, options, out);
    if (extraHeaderText != nullptr)
        out.append(extraHeaderText);
    bool hasContentType = false;
    appendExtraHeaderFields(options, out, hasContentType, log);
    rangeLine(options, out);
    line(out, kIeAccept, "");
    lineWhenSet(out, "Referer: ", options.Referer);
    line(out, "Accept-Language: ",
         options.AcceptLanguage.getSize() != 0 ? options.AcceptLanguage.getString() : kIeAcceptLanguage);
    appendAuthorizationLine(options, out);
    acceptEncodingLine(options, out);
    line(out, kIeUserAgent, "");
    appendCredentialLines(target, options, out, log, pm);
    line(out, "Connection: Keep-Alive", "");
    hostField(options, target.host, target.port, out);
    finishHead(out, result);
    return true;
}

bool HttpClient::BuildFireFoxGetRequest(const GetTarget& target, HttpControl& options, const char* extraHeaderText,
                                        const char*, const char*, HttpResult& result, LogBase& log, ProgressMonitor* pm,
                                        StringBuffer& out) {
    log.logInfo("-- BuildFireFoxGetRequest --");
    out.clear();
    buildRequestLine(target, options, out);
    hostField(options, target.host, target.port, out);
    line(out, kFirefoxUserAgent, "");
    if (extraHeaderText != nullptr)
        out.append(extraHeaderText);
    bool hasContentType = false;
    appendExtraHeaderFields(options, out, hasContentType, log);
    rangeLine(options, out);
    line(out, kFirefoxAccept, "");
    line(out, "Accept-Charset: ",
         options.AcceptCharset.getSize() != 0 ? options.AcceptCharset.getString() : kFirefoxAcceptCharset);
    acceptEncodingLine(options, out);
    line(out, "Accept-Language: ",
         options.AcceptLanguage.getSize() != 0 ? options.AcceptLanguage.getString() : kFirefoxAcceptLanguage);
    line(out, "Keep-Alive: 300", "");
    line(out, "Connection: keep-alive", "");
    appendAuthorizationLine(options, out);
    lineWhenSet(out, "Referer: ", options.Referer);
    appendCredentialLines(target, options, out, log, pm);
    finishHead(out, result);
    return true;
}

bool HttpClient::quickGetToOutput(const char* url, HttpControl& options, Output& out, HttpResult& result, LogBase& log,
                                  ProgressMonitor* pm, bool verbose) {
    return quickGetToOutput(url, 0, options, true, out, result, log, pm, verbose);
}

bool HttpClient::quickGetToOutput(const char* url, int depth, HttpControl& options, bool ownConnection, Output& out,
                                  HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    const std::int64_t start = out.getPosition64();
    if (!quickGetWithRetries(url, depth, options, ownConnection, nullptr, out, result, log, pm, verbose))
        return false;
    const HttpResponseHeader& header = result.responseHeader;
    if (header.getStatusCode() != http_status::kUnauthorized)
        return true;
    log.logInfo("Received 401 response.");
    if ((options.NTLMAuth && header.offersNtlm()) || header.offersNegotiate()) {
        // The last GET of the handshake is the answer.
        if (!rewindOutput(out, start, log))
            return false;
        return authenticateGet(url, options, out, result, log, pm, verbose);
    }
    if (options.Login.getSizeUtf8() == 0 || options.Password.getSizeUtf8() == 0) {
        log.logError("Cannot authenticate.  Login and/or password not provided.");
        return false;
    }
    if (!options.DigestAuth) {
        log.logError("Try Basic authentication?");
        return false;
    }
    StringBuffer challenge;
    header.getFieldMatching("WWW-Authenticate", "Digest*", challenge);
    StringBuffer authLine;
    if (!HttpDigestAuth(options.Login.getAnsi(), options.Password.getUtf8(), options.HttpMethod.getString(),
                        options.digestUri.getString(), challenge.getString(), authLine, log))
        return false;
    authLine.append("\r\n");
    log.logInfo("Re-sending request with Authorization header.");
    // The 401's own body is not the answer.
    if (!rewindOutput(out, start, log))
        return false;
    return quickGetWithRetries(url, depth, options, ownConnection, authLine.getString(), out, result, log, pm, verbose);
}

} // namespace tessik
