// The connection-bound authentication of a connection: the GET road's
// answer to a 401, and the NTLM and Negotiate handshakes, over GET (two GETs
// on the kept-alive connection) or ahead of a request (an authentication leg
// without the request's body, then the request with the last token). A
// handshake runs on the security packages (TessikSSPI drives the tokens
// through this object's PackageExchange side) or, for NTLM with explicit
// credentials, on the NTLM messages directly.
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/WinUtil.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikSSPI.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/pki/ClsNtlm.h"
#include "netlib/streams/Output.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {

constexpr const char* kDefaultCredential = "default";

} // namespace

struct http_auth::HandshakeWords {
    const char* package;
    const char* context;   // log context, or null
    const char* startInfo; // info line at the start, or null
    const char* progress;
    const char* loadFailed;
    const char* loginTag;
    const char* domainTag;
    const char* passwordTag;
    const char* resultTag;
};

namespace {

using http_auth::HandshakeWords;

constexpr HandshakeWords kNtlmGetWords = {http_auth::kPackageNtlm,
                                          "NtlmAuthenticateGet",
                                          nullptr,
                                          "Starting NTLM Authentication",
                                          http_auth::kMsgNoNtlmPackage,
                                          "NtlmLogin",
                                          "NtlmDomain",
                                          "ntlmAuthenticateGetPasswordQP",
                                          "Authenticated"};
constexpr HandshakeWords kNegotiateGetWords = {http_auth::kPackageNegotiate,
                                               nullptr,
                                               "Doing Negotiate Authentication for GET...",
                                               "Starting Negotiate Authentication",
                                               http_auth::kMsgNoNegotiatePackage,
                                               "NegotiateLogin",
                                               "NegotiateDomain",
                                               "negotiateAuthenticateGetPasswordQP",
                                               "Authenticated"};
constexpr HandshakeWords kNtlmRequestWords = {http_auth::kPackageNtlm,
                                              "NtlmAuthenticateRequest",
                                              "Starting NTLM Authentication for HttpRequest...",
                                              "Starting NTLM Authentication",
                                              http_auth::kMsgNoNtlmPackage,
                                              "NtlmLogin",
                                              "NtlmDomain",
                                              "ntlmAuthenticatePostPasswordQP",
                                              "AuthenticatedStatus"};
constexpr HandshakeWords kNegotiateRequestWords = {http_auth::kPackageNegotiate,
                                                   nullptr,
                                                   "Starting Negotiate Authentication...",
                                                   "Starting Negotiate Authentication",
                                                   http_auth::kMsgNoNegotiatePackage,
                                                   "NegotiateLogin",
                                                   "NegotiateDomain",
                                                   "negotiateAuthenticatePostPasswordQP",
                                                   "AuthenticatedStatus"};

void logHeaderFields(const HttpResponseHeader& header, const char* tag, LogBase& log) {
    StringBuffer fields;
    header.getFieldsTextUtf8(fields, log, false);
    log.logData(tag, fields.getString());
}

// Login and password both "default" for the length of a GET handshake when
// neither is given; back to empty afterwards.
class DefaultCredentials {
public:
    explicit DefaultCredentials(HttpControl& options) : m_options(options) {
        m_set = options.Login.getSizeUtf8() == 0 && options.Password.getSizeUtf8() == 0;
        if (m_set) {
            options.Login.setFromUtf8(kDefaultCredential);
            options.Password.setFromUtf8(kDefaultCredential);
        }
    }
    ~DefaultCredentials() {
        if (m_set) {
            m_options.Login.clear();
            m_options.Password.clear();
        }
    }
    DefaultCredentials(const DefaultCredentials&) = delete;
    DefaultCredentials& operator=(const DefaultCredentials&) = delete;
    bool set() const { return m_set; }

private:
    HttpControl& m_options;
    bool m_set;
};

} // namespace

// Sets the exchange up for one handshake and clears it on every way out.
class HttpClient::ExchangeScope {
public:
    ExchangeScope(HttpClient& client, const char* package, const char* method, const char* url, HttpControl& options,
                  DataBuffer& body, HttpResult& result, HttpRequest* request, bool tls)
        : m_client(client) {
        client.m_packageName.setString(package);
        client.m_exchangeMethod.setString(method);
        client.m_exchangeUrl.setString(url);
        client.m_exchangeOptions = &options;
        client.m_exchangeBody = &body;
        client.m_exchangeResult = &result;
        client.m_exchangeRequest = request;
        client.m_exchangeTls = tls;
        client.m_exchangeSettled = false;
    }
    ~ExchangeScope() {
        m_client.m_exchangeOptions = nullptr;
        m_client.m_exchangeBody = nullptr;
        m_client.m_exchangeResult = nullptr;
        m_client.m_exchangeRequest = nullptr;
    }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;

private:
    HttpClient& m_client;
};

void HttpClient::splitLoginText(const char* loginText, XString& user, XString& domain) {
    user.clear();
    domain.clear();
    StringBuffer login(loginText != nullptr ? loginText : "");
    login.trimWhitespace();
    login.replaceChar('/', '\\');
    const char* text = login.getString();
    const char* slash = std::strchr(text, '\\');
    if (slash != nullptr) {
        domain.setFromUtf8Bytes(text, static_cast<unsigned int>(slash - text));
        user.setFromUtf8(slash + 1);
    } else {
        user.setFromUtf8(text);
    }
}

bool HttpClient::splitNtlmLogin(HttpControl& options, XString& user, XString& domain, LogBase& /*log*/) {
    splitLoginText(options.Login.getUtf8(), user, domain);
    if (user.getSizeUtf8() == 0)
        user.setFromUtf8(kDefaultCredential);
    options.LoginDomain.trimWhitespace();
    if (options.LoginDomain.getSizeUtf8() != 0)
        domain.copyFromX(options.LoginDomain);
    return true;
}

bool HttpClient::takeServerToken(const HttpResponseHeader& header, DataBuffer& inToken) {
    inToken.clear();
    const MimeHeader& fields = header.getFields();
    StringBuffer name;
    StringBuffer value;
    for (int i = 0; i < fields.getCount(); ++i) {
        name.clear();
        value.clear();
        fields.getNameAt(i, name);
        if (!name.equalsNoCase("WWW-Authenticate"))
            continue;
        fields.getValueAt(i, value);
        value.trimWhitespace();
        if (!value.beginsWithNoCase(m_packageName.getString()))
            continue;
        const char* rest = value.getString() + m_packageName.getSize();
        if (*rest != '\0' && *rest != ' ' && *rest != '\t')
            continue;
        StringBuffer token(rest);
        token.trimWhitespace();
        return ContentCoding::decodeBase64(token.getString(), static_cast<unsigned int>(token.getSize()), inToken);
    }
    return true;
}

bool HttpClient::authenticateGet(const char* url, HttpControl& options, Output& out, HttpResult& result, LogBase& log,
                                 ProgressMonitor* pm, bool verbose) {
    const bool ntlm = options.NTLMAuth && result.responseHeader.offersNtlm();
    if (ntlm)
        log.logInfo("Using NTLM Authentication...");
    DefaultCredentials defaults(options);
    if (ntlm && defaults.set())
        log.logInfo("Using logged-on user defaults for login/password.");
    if (!ntlm)
        log.logInfo("Using Microsoft SSPI for Negotiate/NTLM...");
    DataBuffer accumulated;
    const bool ok = ntlm ? ntlmGet(url, options, accumulated, result, log, pm, verbose)
                         : negotiateAuthenticateGet(url, options, accumulated, result, log, pm, verbose);
    out.writeDb(accumulated, nullptr, log);
    return ok;
}

bool HttpClient::ntlmGet(const char* url, HttpControl& options, DataBuffer& body, HttpResult& result, LogBase& log,
                         ProgressMonitor* pm, bool verbose) {
    if (options.Login.getSizeUtf8() != 0 && !options.Login.equalsUtf8(kDefaultCredential))
        return ntlmGetOwn(url, http_auth::kPackageNtlm, options, body, result, log);
    log.logInfo("Using Microsoft SSPI for NTLM...");
    return NtlmAuthenticateGet(url, options, body, result, log, pm, verbose);
}

bool HttpClient::NtlmAuthenticateGet(const char* url, HttpControl& options, DataBuffer& body, HttpResult& result,
                                     LogBase& log, ProgressMonitor* pm, bool verbose) {
    options.NTLMAuth = 1;
    ExchangeScope scope(*this, http_auth::kPackageNtlm, "GET", url, options, body, result, nullptr, false);
    return sspiHandshake(kNtlmGetWords, url, options, log, pm, verbose);
}

bool HttpClient::negotiateAuthenticateGet(const char* url, HttpControl& options, DataBuffer& body, HttpResult& result,
                                          LogBase& log, ProgressMonitor* pm, bool verbose) {
    options.NegotiateAuth = 1;
    ExchangeScope scope(*this, http_auth::kPackageNegotiate, "GET", url, options, body, result, nullptr, false);
    return sspiHandshake(kNegotiateGetWords, url, options, log, pm, verbose);
}

bool HttpClient::sspiHandshake(const http_auth::HandshakeWords& words, const char* url, HttpControl& options,
                               LogBase& log, ProgressMonitor* pm, bool verbose) {
    if (words.context != nullptr)
        log.enterContext(words.context, true);
    if (words.startInfo != nullptr)
        log.logInfo(words.startInfo);
    if (pm != nullptr)
        pm->progressInfo("HttpAuth", words.progress);
    // The service the packages that name one authenticate to.
    StringBuffer host;
    if (url != nullptr && *url != '\0')
        TessikUrl::crackUrlHostOnly(url, host);
    else
        host.setSb(m_host);
    setTargetHost(host.getString());

    bool ok = false;
    TessikSSPI sspi;
    const int package = sspi.findPackage(words.package);
    if (package < 0) {
        log.logError(words.loadFailed);
    } else {
        XString user;
        XString domain;
        splitNtlmLogin(options, user, domain, log);
        log.logData(words.loginTag, user.getUtf8());
        log.logData(words.domainTag, domain.getUtf8());
        XString password;
        password.copyFromX(options.Password);
        if (password.getSizeUtf8() == 0)
            password.setFromUtf8(kDefaultCredential);
        // Verbose logs keep the tag, never the password.
        if (verbose)
            log.logData(words.passwordTag, http_auth::kHiddenPassword);
        sspi.setPackageExchange(this);
        ok = sspi.authenticate(package, domain, user, password, log);
        log.logDataLong(words.resultTag, ok ? 1 : 0);
        password.secureClear();
    }
    if (words.context != nullptr)
        log.leaveContext();
    return ok;
}

void HttpClient::prepareOwnNtlm(HttpControl& options, ClsNtlm& ntlm, LogBase& log) {
    // "domain\\user" names the domain here as it does for the security
    // packages.
    XString user;
    XString domain;
    splitNtlmLogin(options, user, domain, log);
    ntlm.setUsername(user.getUtf8());
    ntlm.setDomain(domain.getUtf8());
    ntlm.setPassword(options.Password.getUtf8());
    StringBuffer computer;
    getComputerNameSb(computer);
    if (computer.getSize() != 0)
        ntlm.setWorkstation(computer.getString());
}

bool HttpClient::ntlmGetOwn(const char* url, const char* packageName, HttpControl& options, DataBuffer& body,
                            HttpResult& result, LogBase& log) {
    ClsNtlm ntlm;
    prepareOwnNtlm(options, ntlm, log);
    DataBuffer type1;
    if (!ntlm.genType1Bytes(type1, log))
        return false;
    options.NTLMAuth = 1;
    ExchangeScope scope(*this, packageName, "GET", url, options, body, result, nullptr, false);
    DataBuffer challenge;
    if (!exchangePacketGet(type1, challenge, log)) {
        log.logError("Failed at TYPE1 message in NTLM GET.");
        options.authToken.clear();
        return false;
    }
    if (m_exchangeSettled)
        return true;
    StringBuffer challengeText;
    ContentCoding::encodeBase64NoCrlf(challenge.getData(), challenge.getSize(), challengeText);
    challengeText.trimWhitespace();
    log.logData("NtlmChallenge2", challengeText.getString());
    DataBuffer type3;
    if (!ntlm.genType3Bytes(challenge, type3, log)) {
        log.logError(http_auth::kMsgNoType3);
        options.authToken.clear();
        return false;
    }
    return sendFinalGet(type3, "simpleHttpRequest_77", log);
}

bool HttpClient::ntlmRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log, ProgressMonitor* pm,
                             StringBuffer& token, bool verbose) {
    if (options.Login.getSizeUtf8() != 0 && !options.Login.equalsUtf8(kDefaultCredential))
        return ntlmRequestOwn(options, tls, request, log, token);
    log.logInfo("Using Microsoft SSPI for NTLM POST...");
    return NtlmAuthenticateRequest(options, tls, request, log, pm, token, verbose);
}

bool HttpClient::negotiateRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log,
                                  ProgressMonitor* pm, StringBuffer& token, bool verbose) {
    log.logInfo("Using Microsoft SSPI for Negotiate/NTLM POST...");
    return negotiateAuthenticateRequest(options, tls, request, log, pm, token, verbose);
}

bool HttpClient::NtlmAuthenticateRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log,
                                         ProgressMonitor* pm, StringBuffer& token, bool verbose) {
    return sspiRequestHandshake(kNtlmRequestWords, options, tls, request, log, pm, token, verbose);
}

bool HttpClient::negotiateAuthenticateRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log,
                                              ProgressMonitor* pm, StringBuffer& token, bool verbose) {
    return sspiRequestHandshake(kNegotiateRequestWords, options, tls, request, log, pm, token, verbose);
}

bool HttpClient::sspiRequestHandshake(const http_auth::HandshakeWords& words, HttpControl& options, bool tls,
                                      HttpRequest& request, LogBase& log, ProgressMonitor* pm, StringBuffer& token,
                                      bool verbose) {
    token.clear();
    options.authToken.clear();
    DataBuffer body;
    HttpResult result;
    StringBuffer verb;
    request.getVerb(verb);
    bool ok;
    {
        ExchangeScope scope(*this, words.package, verb.getString(), "", options, body, result, &request, tls);
        ok = sspiHandshake(words, nullptr, options, log, pm, verbose);
    }
    // The last token leaves the options: a later GET must not carry it.
    token.setSb(options.authToken);
    options.authToken.clear();
    return ok;
}

bool HttpClient::ntlmRequestOwn(HttpControl& options, bool tls, HttpRequest& request, LogBase& log,
                                StringBuffer& token) {
    token.clear();
    ClsNtlm ntlm;
    prepareOwnNtlm(options, ntlm, log);
    DataBuffer type1;
    if (!ntlm.genType1Bytes(type1, log))
        return false;
    DataBuffer body;
    HttpResult result;
    StringBuffer verb;
    request.getVerb(verb);
    ExchangeScope scope(*this, http_auth::kPackageNtlm, verb.getString(), "", options, body, result, &request, tls);
    DataBuffer challenge;
    if (!exchangePacketRequest(type1, challenge, log)) {
        log.logError("Failed at TYPE1 message in NTLM POST.");
        return false;
    }
    if (m_exchangeSettled)
        return true;
    StringBuffer challengeText;
    ContentCoding::encodeBase64NoCrlf(challenge.getData(), challenge.getSize(), challengeText);
    log.logData("NtlmChallenge2", challengeText.getString());
    DataBuffer type3;
    if (!ntlm.genType3Bytes(challenge, type3, log)) {
        log.logError(http_auth::kMsgNoType3);
        return false;
    }
    ContentCoding::encodeBase64NoCrlf(type3.getData(), type3.getSize(), token);
    return true;
}

bool HttpClient::NtlmExchangePackage(DataBuffer& reply, DataBuffer& token, LogBase& log) {
    LogContext ctx(log, "NtlmExchangePackage");
    return m_exchangeRequest != nullptr ? exchangePacketRequest(token, reply, log)
                                        : exchangePacketGet(token, reply, log);
}

bool HttpClient::NtlmFinal(DataBuffer& token, LogBase& log) {
    LogContext ctx(log, "NtlmFinal");
    return m_exchangeRequest != nullptr ? sendFinalPost(token, log) : sendFinalGet(token, "simpleHttpRequest_7", log);
}

bool HttpClient::runGetLeg(DataBuffer& token, const char* context, bool restart, LogBase& log) {
    HttpControl& options = *m_exchangeOptions;
    options.authToken.clear();
    ContentCoding::encodeBase64NoCrlf(token.getData(), token.getSize(), options.authToken);
    m_exchangeResult->clearForRetry();
    m_exchangeBody->clear();
    // A copy with NTLM on, so that no Basic credentials ride along.
    HttpControl legOptions;
    legOptions.copyFrom(options);
    if (!legOptions.NTLMAuth && !legOptions.NegotiateAuth)
        legOptions.NTLMAuth = 1;
    // A leg's answer is judged as it came: a redirect ends the handshake.
    legOptions.FollowRedirects = 0;
    DataBuffer legBody;
    OutputDataBuffer legOut(&legBody);
    HttpResult legResult;
    bool ok;
    {
        LogContext ctx(log, context);
        const bool tls = m_exchangeUrl.beginsWithNoCase("https:");
        if (!restart && !isConnected(tls)) {
            // The token answers a challenge of this connection only.
            log.logError("Socket connection to HTTP server is not writeable.");
            legResult.connectionFailed = 1;
            ok = false;
        } else {
            ok = simpleHttpRequest(m_exchangeUrl.getString(), legOptions, nullptr, legOut, legResult, log, nullptr,
                                   false);
        }
    }
    options.authToken.clear();
    m_exchangeBody->appendDb(legBody);
    m_exchangeResult->copyFrom(legResult);
    return ok;
}

bool HttpClient::exchangePacketGet(DataBuffer& token, DataBuffer& reply, LogBase& log) {
    if (m_exchangeOptions == nullptr || m_exchangeBody == nullptr || m_exchangeResult == nullptr)
        return false;
    log.logInfo("--- exchangePacketGet ---");
    if (!runGetLeg(token, "simpleHttpRequest_6", true, log))
        return false;
    const HttpResponseHeader& header = m_exchangeResult->responseHeader;
    const std::uint32_t status = header.getStatusCode();
    if (status == http_status::kUnauthorized || status == http_status::kForbidden) {
        log.logInfo("OK, received 401/403 GET response as expected...");
        return takeServerToken(header, reply);
    }
    if (status == http_status::kOk) {
        // The server took the first token as enough (Kerberos does), or
        // needed none: the answer is already here, and no final GET follows.
        log.logInfo(http_auth::kMsgGetLegAccepted);
        m_exchangeSettled = true;
        return takeServerToken(header, reply);
    }
    log.logDataLong("exchangePackageGetResponseStatus", static_cast<int>(status));
    logHeaderFields(header, "exchangePackageResponseHeader", log);
    return false;
}

bool HttpClient::sendFinalGet(DataBuffer& token, const char* context, LogBase& log) {
    if (m_exchangeOptions == nullptr || m_exchangeBody == nullptr || m_exchangeResult == nullptr)
        return false;
    log.logInfo("--- sendFinalGet ---");
    if (m_exchangeSettled)
        return m_exchangeResult->responseHeader.getStatusCode() == http_status::kOk;
    if (!runGetLeg(token, context, false, log))
        return false;
    const HttpResponseHeader& header = m_exchangeResult->responseHeader;
    if (header.getStatusCode() == http_status::kOk)
        return true;
    log.logDataLong("SendFinalResponseStatus", static_cast<int>(header.getStatusCode()));
    logHeaderFields(header, "SendFinalResponseHeader", log);
    return false;
}

bool HttpClient::exchangePacketRequest(DataBuffer& token, DataBuffer& reply, LogBase& log) {
    if (m_exchangeOptions == nullptr || m_exchangeBody == nullptr || m_exchangeResult == nullptr ||
        m_exchangeRequest == nullptr)
        return false;
    log.logInfo("--- exchangePacketRequest ---");
    HttpControl& options = *m_exchangeOptions;
    HttpResult& result = *m_exchangeResult;
    HttpRequest& request = *m_exchangeRequest;
    StringBuffer authValue(m_packageName);
    authValue.appendChar(' ');
    ContentCoding::encodeBase64NoCrlf(token.getData(), token.getSize(), authValue);
    result.clearForRetry();
    m_exchangeBody->clear();

    // The leg carries the request's verb, path and fields but neither its
    // query nor its body: a server that needs no authentication answers it
    // 200 and must not have run the request already.
    request.removeHeader("Authorization");
    HttpRequest leg;
    leg.setVerb(m_exchangeMethod.getString());
    StringBuffer path;
    request.getPath(path);
    path.chopAtFirstChar('?');
    leg.setPath(path.getString());
    leg.mimeHeader().copyFrom(request.mimeHeader());
    for (const char* bodyField : {"Expect", "Transfer-Encoding"})
        leg.removeHeader(bodyField);
    // Each leg carries the cookies the store holds now, an earlier leg's
    // answer's among them.
    StringBuffer extra;
    addCookiesHeader(options, m_host.getString(), path.getString(), m_exchangeTls, extra, log, nullptr);
    if (!leg.isHead() && !m_exchangeMethod.equalsNoCase("GET"))
        extra.append("Content-Length: 0\r\n");
    DataBuffer wire;
    const bool generated =
        leg.generateRequest(wire, result.requestHeaderText, extra.getSize() != 0 ? extra.getString() : nullptr,
                            m_ntlmText2.getSize() != 0 ? m_ntlmText2.getString() : nullptr, authValue.getString(), log);
    m_ntlmText2.clear();
    if (!generated) {
        log.logError("Failed to generate request for initial authorization request.");
        return false;
    }
    result.connectionFailed = 0;
    log.logInfo("-- NTLM Authentication Request ---");
    log.logData("authRequest", result.requestHeaderText.getString());
    log.logInfo("----------------------------------");
    if (!sendLeg(wire, m_exchangeTls, options, log)) {
        log.logError("Failed to send HTTP request for authorization.");
        result.connectionFailed = 1;
        return false;
    }
    log.logInfo("---- Reading HTTP Authorization Response ----");
    if (!readResponse(options, m_exchangeTls, leg.isHead(), false, result, *m_exchangeBody, log, nullptr, false)) {
        log.logError("Failed to read response to authorization request.");
        return false;
    }
    const HttpResponseHeader& header = result.responseHeader;
    const std::uint32_t status = header.getStatusCode();
    if (status == http_status::kUnauthorized || status == http_status::kForbidden) {
        log.logInfo("OK, received 401/403 POST response as expected...");
        logHeaderFields(header, "authResponseHeader", log);
        return takeServerToken(header, reply);
    }
    if (status == http_status::kOk) {
        log.logInfo(http_auth::kMsgNotRequired);
        m_exchangeSettled = true;
        return takeServerToken(header, reply);
    }
    log.logInfo("Did not receive expected 401/403 POST response.");
    log.logDataLong("exchangePackagePostResponseStatus", static_cast<int>(status));
    logHeaderFields(header, "exchangePackageResponseHeader", log);
    return false;
}

bool HttpClient::sendFinalPost(DataBuffer& token, LogBase& log) {
    log.logInfo("--- sendFinalPost ---");
    if (m_exchangeOptions == nullptr)
        return false;
    m_exchangeOptions->authToken.clear();
    // Once the server has let the leg through, the request goes without a
    // token: sending one would open the handshake again.
    if (!m_exchangeSettled)
        ContentCoding::encodeBase64NoCrlf(token.getData(), token.getSize(), m_exchangeOptions->authToken);
    return true;
}

bool HttpClient::sendLeg(const DataBuffer& wire, bool tls, HttpControl& options, LogBase& log) {
    if (tls)
        return m_conn.tlsSendBytes(wire.getData(), wire.getSize(), options.HeartbeatMs,
                                   options.ReadTimeoutSec * http_conn::kMsPerSec, log, nullptr);
    DataBuffer early;
    const bool ok = m_conn.sendBytesDuplex(wire.getData(), wire.getSize(), http_conn::kFirstChunkSize,
                                           http_conn::kRequestFirstChunkCount, options.SendBufferSize,
                                           options.HeartbeatMs, log, nullptr, early);
    // What the server sent meanwhile is the start of its answer.
    m_pending.appendDb(early);
    return ok;
}

} // namespace tessik
