#pragma once
// One HTTP connection of the pool: where it was opened to, its socket (with
// the TLS channel beside it) and the per-request settings the send and read
// steps copy in. Writing to it as an Output sends on the connection, so a
// body source can stream a request body straight onto the wire.
#include <cstdint>
#include <functional>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"
#include "netlib/pki/PackageExchange.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/LoggedSocket2.h"

namespace tessik {

struct BodyFraming;
class ClsNtlm;
class HttpControl;
class HttpRequest;
class HttpResponseHeader;
class HttpResult;
struct ProxySetting;
class LogBase;
class ProgressMonitor;
class SChannelTessik;
class TessikSocket;
struct SysTimeValue;

namespace http_conn {
inline constexpr std::uint32_t kDefaultPort = 80;
inline constexpr std::uint32_t kTlsPort = 443;
inline constexpr std::uint32_t kDefaultSendBufferSize = 65535;
inline constexpr std::uint32_t kDefaultReadTimeoutSec = 30;
inline constexpr unsigned int kFirstChunkSize = 800;
inline constexpr unsigned int kFirstChunkCount = 30;
inline constexpr unsigned int kMsPerSec = 1000;
inline constexpr unsigned int kRequestFirstChunkCount = 20;
// A body sent from where it lies goes in pieces this large: the socket takes
// what it has room for, and an early answer is looked for between them.
inline constexpr unsigned int kBodySendChunk = 1024 * 1024;
// What such a body may leave queued in the kernel and not yet sent. With
// megabytes queued, bytes leave only as the server's acknowledgements
// arrive, on a loopback peer inside the server's own reads: it then sees no
// round trip to size its receive window by, keeps its first one, and spends
// its time on our sending. Kept small, each piece leaves from our own send.
inline constexpr unsigned int kBodyUnsentBytes = 64 * 1024;
inline constexpr int kMaxAttempts = 2;
inline constexpr const char* kTlsFailReasonTag = "tlsFailReason";
inline constexpr const char* kMsgUnverifiedConnection =
    "The open TLS connection was not verified; connecting again to verify the server.";
// Interim responses skipped before the real head; a server that sends
// nothing else is not waited for forever.
inline constexpr int kMaxInterimHeads = 16;
inline constexpr unsigned int kLoggedBodyBytes = 2048;
inline constexpr unsigned int kUntilCloseChunk = 4096;
inline constexpr unsigned int kReceiveChunk = 65536;
inline constexpr std::uint32_t kShortErrorWaitSec = 4;
inline constexpr unsigned int kShortErrorWaitMs = 3000;
// A response head longer than this is not taken.
inline constexpr unsigned int kMaxHeadBytes = 1024 * 1024;
inline constexpr const char* kMsgHeadTooLong = "Response header is too long.";
// A body's announced length is reserved up to this much before it is read.
inline constexpr std::uint64_t kMaxBodyReserve = 16 * 1024 * 1024;
inline constexpr const char* kMsgTrailingData = "Unexpected data after the response body.";
inline constexpr const char* kMsgStaleConnection = "The server closed the kept-alive connection; opening a new one.";
inline constexpr const char* kMsgOtherRoute =
    "The kept-alive connection was opened through another proxy setting; opening a new one.";
inline constexpr const char* kMsgTooManyInterim = "Too many interim responses.";
inline constexpr const char* kMsgUnaskedSwitch =
    "The server answered 101 Switching Protocols, which no request of this library asks for: no answer came, the "
    "call fails.";
inline constexpr const char* kMsgBodyNotEnded = "The response body ended without the server closing the connection.";
inline constexpr const char* kMsgNotResent = "Not sending the request again: it may have reached the server.";
} // namespace http_conn

namespace http_tunnel {
inline constexpr const char* kMsgProxyConnectFailed = "Failed to connect to proxy server";
inline constexpr const char* kMsgSendFailed = "Failed to send CONNECT request.";
inline constexpr const char* kMsgReadFailed = "Failed to read CONNECT response.";
inline constexpr const char* kMsgNtlmFailed = "Proxy NTLM authentication failed.";
inline constexpr const char* kMsgErrorResponse = "Error response from CONNECT request.";
inline constexpr const char* kMsgProxyConnectFailed2 = "Failed to connect to proxy server (2)";
inline constexpr const char* kMsgErrorResponse2 = "Error response from CONNECT request. (2)";
inline constexpr const char* kMsgNoType3 = "Failed to generate NTLM Type 3 message.";
} // namespace http_tunnel

namespace http_redirect {
inline constexpr const char* kMsgTooMany = "Aborted to avoid infinite redirects.";
inline constexpr const char* kMsgNoLocation = "Got 301/302 redirect, but no new location.";
inline constexpr const char* kMsgPageNotFound = "This is actually a page-not-found error.";
inline constexpr const char* kMsgNoNewUrl = "Failed to construct new URL";
inline constexpr const char* kMsgAborted = "Aborted by application.";
inline constexpr const char* kMsgOriginFieldsWithheld =
    "The login and password, and the caller's Authorization, Cookie and Host fields, stay behind: the redirect "
    "leaves their scheme, host or port.";
inline constexpr const char* kMsgSchemeRefused =
    "Redirect to a scheme other than http or https: refused, no request was made to it.";
inline constexpr const char* kMsgBodyVerbNotFollowed =
    "Redirect not followed: the request's verb would go again without its body; the 302 is the answer.";
} // namespace http_redirect

namespace http_auth {
inline constexpr const char* kPackageNtlm = "NTLM";
inline constexpr const char* kPackageNegotiate = "Negotiate";
inline constexpr const char* kMsgNoNtlmPackage = "Failed to load NTLM security package";
inline constexpr const char* kMsgNoNegotiatePackage = "Failed to load Negotiate security package";
inline constexpr const char* kMsgNoType3 = "Failed to generate TYPE3 message in NTLM POST.";
inline constexpr const char* kMsgNotRequired =
    "Client initiated NTLM authentication, but it is not required by the server.";
inline constexpr const char* kMsgGetLegAccepted = "The server answered the first authentication GET with 200.";
inline constexpr const char* kHiddenPassword = "********";
// The words that tell the NTLM and Negotiate forms of a handshake apart.
struct HandshakeWords;
} // namespace http_auth

// Who follows the redirects of a request: the connection, those
// HttpClient::redirectFollowed names, or the road that sent it (a request
// object's), which goes on from a 302 with a Location alone (kFound) or
// from none.
enum class RoadFollows { kConnection, kFound, kNothing };

class HttpClient : public TessikObject, public Output, public PackageExchange {
public:
    HttpClient();
    ~HttpClient() override;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Output: writes go onto the connection.
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    bool seekToEnd(LogBase& log) override;
    bool seekTo(std::int64_t position, LogBase& log) override;
    std::int64_t getPosition64() override;
    bool resetOutput(LogBase& log) override;
    void getDescription(StringBuffer& out) override;
    bool copyToDb(DataBuffer& out) override;
    DataBuffer* getDataBuffer() override;
    bool isHalted() override;
    bool ensureCapacity(std::uint32_t n) override;

    // PackageExchange: a token goes to the server on the handshake's next
    // leg (a GET, or the authentication leg of a request) and the server's
    // answer token comes back; the final token goes out on the final GET, or
    // is kept for the request to carry.
    bool NtlmExchangePackage(DataBuffer& reply, DataBuffer& token, LogBase& log) override;
    bool NtlmFinal(DataBuffer& token, LogBase& log) override;

    // The GET road's answer to a 401 that offers NTLM (with NTLMAuth on) or
    // Negotiate: the handshake over GET, the body of its last GET written to
    // out. Login and password, when both are empty, are "default" for it.
    bool authenticateGet(const char* url, HttpControl& options, Output& out, HttpResult& result, LogBase& log,
                         ProgressMonitor* pm, bool verbose);
    // NTLM over GET: the own NTLM messages with explicit credentials, else
    // the security packages. The body of the last GET goes to body.
    bool ntlmGet(const char* url, HttpControl& options, DataBuffer& body, HttpResult& result, LogBase& log,
                 ProgressMonitor* pm, bool verbose);
    bool NtlmAuthenticateGet(const char* url, HttpControl& options, DataBuffer& body, HttpResult& result, LogBase& log,
                             ProgressMonitor* pm, bool verbose);
    bool negotiateAuthenticateGet(const char* url, HttpControl& options, DataBuffer& body, HttpResult& result,
                                  LogBase& log, ProgressMonitor* pm, bool verbose);
    bool ntlmGetOwn(const char* url, const char* packageName, HttpControl& options, DataBuffer& body,
                    HttpResult& result, LogBase& log);
    // Ahead of a request: the authentication leg goes out and token receives
    // the last token (Base64) for the request's Authorization field; empty
    // when the server let the leg through without one.
    bool ntlmRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log, ProgressMonitor* pm,
                     StringBuffer& token, bool verbose);
    bool negotiateRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log, ProgressMonitor* pm,
                          StringBuffer& token, bool verbose);
    bool NtlmAuthenticateRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log,
                                 ProgressMonitor* pm, StringBuffer& token, bool verbose);
    bool negotiateAuthenticateRequest(HttpControl& options, bool tls, HttpRequest& request, LogBase& log,
                                      ProgressMonitor* pm, StringBuffer& token, bool verbose);
    bool ntlmRequestOwn(HttpControl& options, bool tls, HttpRequest& request, LogBase& log, StringBuffer& token);
    // User and domain of the handshake from Login ("domain\user" or
    // "domain/user") and LoginDomain; always true.
    static bool splitNtlmLogin(HttpControl& options, XString& user, XString& domain, LogBase& log);
    // "domain\\user" or "domain/user" into its halves; a login without
    // either is all user.
    static void splitLoginText(const char* login, XString& user, XString& domain);

    bool httpConnect(HttpControl& options, const char* host, int port, bool tls, LogBase& log, ProgressMonitor* pm,
                     bool& newlyConnected);
    // The way the request to host and port goes, read from the settings
    // once (HttpControl::getProxy): the pool's decision where it chose the
    // connection, else made at the first step that asks for this target.
    // Every writer of the request, and a retry, reads it, never the
    // settings. False, nothing to be sent, when the setting is unreadable.
    bool decideProxy(HttpControl& options, const char* host, int port, bool tls, LogBase& log);
    // The pool's decision for bareHost, port and tls takes the place of the
    // client's; decided gets the room of the client's last one.
    void takeProxyDecision(const StringBuffer& bareHost, int port, bool tls, std::unique_ptr<ProxySetting>& decided,
                           bool read, const StringBuffer& route);
    ProxySetting& requestProxy() { return *m_proxy; }
    // https through an HTTP proxy: a new connection to the proxy, CONNECT to
    // host:port (with the proxy's Basic credentials), and the TLS handshake
    // through the tunnel, all on socket.
    bool proxySslConnect(ProxySetting& proxy, const char* host, int port, LoggedSocket2* socket, HttpControl& options,
                         ProgressMonitor* pm, LogBase& log);
    // After a 407 that asks for NTLM: the handshake on a CONNECT to
    // host:port through the options' proxy, on this connection, which then
    // carries the request again; false unless the proxy answered 200.
    bool answerProxyNtlm(HttpControl& options, const char* host, int port, ProgressMonitor* pm, LogBase& log);
    // Whether the request written next goes to an HTTP proxy itself: in
    // absolute form, with the proxy's Basic credentials. Direct, over TLS,
    // or into the plain tunnel a proxy that asked NTLM opened on this
    // connection, it goes to the origin and carries nothing of the proxy's.
    // Every writer of a request asks this, never the scheme alone.
    bool writesToProxy(bool tls) const;
    // The absolute form's "http://host[:port]" for such a request (none
    // with ProxyPartialUrl); empty when it goes to the origin. Every writer
    // calls it for the request it writes, which it notes for the answer.
    void absoluteFormPrefix(HttpControl& options, bool tls, const StringBuffer& host, int port, StringBuffer& out);
    // Whether the answer is the proxy's 407 offering NTLM: only one to a
    // request written to the proxy itself is; inside a tunnel it is the
    // origin's.
    bool proxyAskedNtlm(const HttpResult& result) const;
    // answerProxyNtlm for the host and port url names.
    bool answerProxyNtlmFor(const char* url, HttpControl& options, ProgressMonitor* pm, LogBase& log);
    // The proxy's Basic credentials for such a request; false when none go.
    bool requestProxyCredentials(HttpControl& options, bool tls, bool ansi, StringBuffer& value, LogBase& log,
                                 ProgressMonitor* pm);
    // The NTLM handshake on a CONNECT; response gets the answer to the
    // second CONNECT. A null socket is the connection's own.
    bool proxyConnectNtlm(const char* proxyHost, int proxyPort, const char* host, int port, const char* domain,
                          const char* login, const char* password, LoggedSocket2* socket, StringBuffer& response,
                          HttpControl& options, ProgressMonitor* pm, LogBase& log);
    void closeConnection(HttpControl& options, ProgressMonitor* pm, LogBase& log);
    void closeAfterSendFailure(LogBase& log);
    bool sendTlsCloseNotify(HttpControl& options, LogBase& log, ProgressMonitor* pm);
    // Whether the side the current request uses (plain or TLS) is open.
    bool isConnected(bool tls);
    // Whether that side, idle, has something to read: the server's close,
    // an alert or bytes out of turn.
    bool idleInputPending(bool tls);

    // One request and its response on the open connection (sent, read and
    // followed up at most twice, the second time only when asked to).
    bool synchronousRequest(HttpControl& options, const char* domain, int port, bool tls, HttpRequest& request,
                            HttpResult& result, DataBuffer& body, LogBase& log, ProgressMonitor* pm, bool logDetails);
    // The same for a caller-made MIME text (its header fields, the empty
    // line and the body) POSTed to url.
    bool postMimeAttempts(HttpControl& options, const char* domain, int port, bool tls, const char* url,
                          const StringBuffer& mimeText, HttpResult& result, DataBuffer& body, LogBase& log,
                          ProgressMonitor* pm, bool logDetails);
    bool sendMimePost(HttpControl& options, bool tls, const char* url, const StringBuffer& mimeText, HttpResult& result,
                      LogBase& log, bool logDetails, ProgressMonitor* pm);

    // The GET road. One GET of url into out: on this connection (reused
    // while it stays open to the same host and port) or, without
    // ownConnection, on a new one that goes with the call; with restart, a
    // kept-alive connection the server had dropped is replaced once by a new
    // one. depth counts the redirects and retries already made on the road:
    // the redirects redirectFollowed names are followed (followRedirect)
    // and an answer without a
    // status line retried while it is at most 4. The short form is the own
    // connection with restart at depth 0.
    bool simpleHttpRequest(const char* url, int depth, bool ownConnection, bool restart, HttpControl& options,
                           const char* extraHeaders, Output& out, HttpResult& result, LogBase& log, ProgressMonitor* pm,
                           bool verbose);
    bool simpleHttpRequest(const char* url, HttpControl& options, const char* extraHeaders, Output& out,
                           HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose);
    // The same again on a new connection when this one turned out unusable,
    // and after a 503 as often as UnavailableRetryCount allows.
    bool quickGetWithRetries(const char* url, int depth, HttpControl& options, bool ownConnection,
                             const char* extraHeaders, Output& out, HttpResult& result, LogBase& log,
                             ProgressMonitor* pm, bool verbose);
    bool quickGetWithRetries(const char* url, HttpControl& options, const char* extraHeaders, Output& out,
                             HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose);
    // With the answer to a 401 (Digest, NTLM, Negotiate).
    bool quickGetToOutput(const char* url, int depth, HttpControl& options, bool ownConnection, Output& out,
                          HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose);
    bool quickGetToOutput(const char* url, HttpControl& options, Output& out, HttpResult& result, LogBase& log,
                          ProgressMonitor* pm, bool verbose);
    // A redirect of the request url: checked, its Location resolved, its
    // cookies stored; recorded in the result (FollowRedirects off) or
    // fetched, on this connection for the same host and on a new one for
    // another, where the options' credentials and the caller's Authorization,
    // Cookie and Host stay behind unless scheme, host and port are the same
    // (OriginFieldsWithheld). The ninth redirect in a row from depth 0 fails.
    // answerStart is where the redirect's answer began in out.
    bool followRedirect(const char* url, int depth, HttpControl& options, Output& out, std::int64_t answerStart,
                        HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose);
    // The redirects the GET road follows, answered or cached: a 301 or 302,
    // and a GET's 303, 307 or 308 (a 303 asks for a GET, the others keep it).
    static bool redirectFollowed(std::uint32_t status, const HttpControl& options);
    // Whether the call goes on from this answer, by who follows it.
    bool callGoesOn(const HttpResponseHeader& header, const HttpControl& options) const;
    // A 302 with a Location (trimmed into location): the one answer a
    // request object's road goes on from.
    static bool foundWithLocation(const HttpResponseHeader& header, StringBuffer& location);
    // The traffic log file of this connection ("" for none).
    void setSessionLogFilename(const char* utf8Path);

    // What a GET head names: the whole URL, and its host, port, path and
    // query.
    struct GetTarget {
        const char* url;
        const char* host;
        int port;
        const char* path;
        const char* query;
    };
    // The GET heads (the plain one, and the two that mimic browsers): the
    // request line and fields, ending with the empty line; the head without
    // it goes to the result's requestHeaderText. ifModifiedSince and etag
    // make the plain one conditional.
    bool BuildGetRequest(const GetTarget& target, HttpControl& options, const char* extraHeaderText,
                         const char* ifModifiedSince, const char* etag, HttpResult& result, LogBase& log,
                         ProgressMonitor* pm, StringBuffer& out);
    bool BuildIeGetRequest(const GetTarget& target, HttpControl& options, const char* extraHeaderText,
                           const char* ifModifiedSince, const char* etag, HttpResult& result, LogBase& log,
                           ProgressMonitor* pm, StringBuffer& out);
    bool BuildFireFoxGetRequest(const GetTarget& target, HttpControl& options, const char* extraHeaderText,
                                const char* ifModifiedSince, const char* etag, HttpResult& result, LogBase& log,
                                ProgressMonitor* pm, StringBuffer& out);
    void buildRequestLine(const GetTarget& target, HttpControl& options, StringBuffer& out);
    void appendExtraHeaderFields(HttpControl& options, StringBuffer& out, bool& hasContentType, LogBase& log);

    // Basic lines for the server (UTF-8), when the options hold both halves
    // of the credentials, and for the proxy (ANSI) on its CONNECT, when it
    // has credentials.
    void addBasicAuthHeader(HttpControl& options, StringBuffer& header, LogBase& log, ProgressMonitor* pm);
    void addProxyBasicAuthHeader(HttpControl& options, ProxySetting& proxy, StringBuffer& header, LogBase& log,
                                 ProgressMonitor* pm);
    // The proxy's Basic line (ANSI) of a request that goes to the proxy
    // itself (writesToProxy).
    void addRequestProxyAuthHeader(HttpControl& options, bool tls, StringBuffer& header, LogBase& log,
                                   ProgressMonitor* pm);
    // "Basic ..." for the proxy when it has credentials and the options ask
    // for Basic; ANSI or UTF-8 bytes.
    bool proxyBasicCredentials(HttpControl& options, ProxySetting& proxy, bool ansi, StringBuffer& value, LogBase& log,
                               ProgressMonitor* pm);
    // The way a connection reaches its server for a request going as proxy
    // says: empty when direct, else the proxy (and SOCKS server) with a
    // digest of the credentials they take. A connection is only reused for
    // the way it was opened by.
    static void connectionRoute(ProxySetting& proxy, StringBuffer& route);
    // After a 401: the Digest answer into the options' digestAuthHeader;
    // prepared tells whether it was made.
    bool prepareDigestAuth(HttpControl& options, HttpResult& result, LogBase& log, ProgressMonitor* pm, bool& prepared);
    bool sendRequestObject(HttpControl& options, bool tls, HttpRequest& request, HttpResult& result, LogBase& log,
                           ProgressMonitor* pm, bool logDetails);
    // The body of the answer has its codings undone (undoHandedCodings),
    // unless the road that reads it says it judges them itself.
    bool readResponse(HttpControl& options, bool tls, bool head, bool discardBody, HttpResult& result, DataBuffer& body,
                      LogBase& log, ProgressMonitor* pm, bool logDetails);
    bool afterResponse(HttpResult& result, DataBuffer& body, HttpControl& options, bool tls, ProgressMonitor* pm,
                       LogBase& log, bool& retry, bool logDetails);
    // The one rule on the body a road hands over, held in memory from
    // `from` on: the codings still on it (result.bodyCoded) are undone in
    // place; false, the body emptied from there and the reason logged, when
    // they cannot be. A body already undone, or in a coding the caller asked
    // for, stays as it is.
    static bool undoHandedCodings(HttpResult& result, DataBuffer& body, std::uint32_t from, std::uint64_t maxSize,
                                  LogBase& log, ProgressMonitor* pm);
    // Unless kConnection, readResponse leaves the codings on what it reads:
    // the road follows what it names, and judges the answer it hands over
    // itself.
    void leaveFollowingToRoad(RoadFollows road) { m_road = road; }
    bool readEarlyResponse(const DataBuffer& received, DataBuffer& body, HttpControl& options, HttpResult& result,
                           LogBase& log, ProgressMonitor* pm, bool& retry);
    // The same with the body going to any Output, as it came: the result
    // says whether codings are still on it (bodyCoded).
    bool readResponseTo(HttpControl& options, bool tls, bool head, bool discardBody, HttpResult& result, Output& body,
                        LogBase& log, ProgressMonitor* pm, bool logDetails);
    bool readResponseBody(HttpControl& options, HttpResult& result, const BodyFraming& framing, Output& body,
                          LogBase& log, ProgressMonitor* pm);

    // Appends the Cookie line of the stored cookies that go with a request
    // for domain and path (secure ones only over TLS), when CookieDir is set
    // and SendCookies is on. Every road calls it for each request it sends,
    // so it keeps the path the answer's cookies are set from.
    void addCookiesHeader(HttpControl& options, const char* domain, const char* path, bool secureChannel,
                          StringBuffer& header, LogBase& log, ProgressMonitor* pm);
    // Stores the cookies the response sets for the connection's host, when
    // CookieDir is set and SaveCookies is on; whether there were any.
    bool saveResponseCookies(HttpResult& result, HttpControl& options, LogBase& log, ProgressMonitor* pm);
    // The same for a response from host to a request for requestPath,
    // received at now (Unix seconds), over TLS or not: a plain answer
    // neither sets a Secure cookie nor one that would stand in for a Secure
    // cookie kept (RFC 6265bis 5.7).
    static bool storeSetCookies(const HttpResponseHeader& header, HttpControl& options, const char* host,
                                const char* requestPath, bool secureChannel, std::int64_t now, LogBase& log,
                                ProgressMonitor* pm);

    // The response caches' hooks on the GET road: the ".dat" ClsCache2 of
    // the options or, with useBucketCache, their ".caf" HttpCache. Only a
    // whole GET (no Range) is answered from them or stored; a cache that
    // fails is a miss, never a failed request. A cached answer goes to out
    // and result (cacheState 1); for an expired one, which the server is to
    // be asked about again, revalidate comes back set with the copy's ETag
    // and Last-Modified.
    void lookupResponseCache(const char* url, int depth, HttpControl& options, Output& out, HttpResult& result,
                             bool& revalidate, StringBuffer& etag, StringBuffer& lastModified, LogBase& log,
                             bool verbose);
    void storeResponseInCache(HttpControl& options, HttpResult& result, const DataBuffer* body, const char* url,
                              LogBase& log);
    void recordFailedResponse(const char* url, HttpControl& options, const HttpResponseHeader& header,
                              const DataBuffer* body, LogBase& log);
    // A 304 to a revalidating GET: the cached entry's new expiry, reckoned
    // from the result's head.
    void refreshCacheExpiry(const char* url, HttpControl& options, HttpResult& result, LogBase& log);
    // Before and after the GET road connects: a host the bucket cache marks
    // invalid is refused (flaggedInvalid tells whether it is marked at all),
    // and one marked that connects all the same is marked valid again.
    static bool refusedByDomainCache(const char* host, HttpControl& options, bool& flaggedInvalid, LogBase& log);
    static void noteGoodConnect(const char* host, HttpControl& options, bool flaggedInvalid, LogBase& log);

    // The two caches' sides of those hooks.
    void lookupHttpCache(const char* url, int depth, HttpControl& options, Output& out, HttpResult& result,
                         LogBase& log, bool verbose);
    // An expired copy is written out only to an output that holds it in
    // memory, where the caller can keep it aside; to a file it is a miss.
    static void lookupCache(const char* url, HttpControl& options, Output& out, HttpResult& result, bool& expired,
                            StringBuffer& etag, StringBuffer& lastModified, LogBase& log);
    // In local time, the clock every expiry is compared with.
    static void computeCacheExpiry(HttpControl& options, const HttpResponseHeader& header, SysTimeValue& expiry);
    static void updateCacheFromResponse(HttpControl& options, HttpResult& result, const DataBuffer& body,
                                        const char* url, LogBase& log);
    static void storeInBucketCache(HttpControl& options, HttpResult& result, const DataBuffer& body, const char* url,
                                   LogBase& log);
    static bool isUrlCached(const char* url, HttpControl& options, LogBase& log);
    static void checkDomainEntry(const char* host, HttpControl& options, bool& found, bool& negative, LogBase& log);
    // After a failed connect: a host whose name did not resolve is marked
    // invalid, one that resolved is no longer.
    static void noteConnectFailure(bool dnsFailed, const char* host, HttpControl& options, LogBase& log);

    const StringBuffer& recordedHost() const { return m_host; }
    std::uint32_t recordedPort() const { return m_port; }
    const StringBuffer& recordedRoute() const { return m_route; }
    LoggedSocket2& connection() { return m_conn; }
    DataBuffer& receivedDuringSend() { return m_receivedDuringSend; }

    void setSendBufferSize(std::uint32_t n) { m_sendBufferSize = n; }
    void setRequestTls(bool on) { m_requestTls = on; }
    void setHeartbeatMs(std::uint32_t ms) { m_heartbeatMs = ms; }
    void setReadTimeoutSec(std::uint32_t s) { m_readTimeoutSec = s; }
    std::uint32_t heartbeatMs() const { return m_heartbeatMs; }
    std::uint32_t readTimeoutSec() const { return m_readTimeoutSec; }

    // The host as the pool compares it: lower-case, without scheme, slashes
    // or port, trimmed.
    static void normalizeHost(const char* host, StringBuffer& out);
    static unsigned int readTimeoutMs(const HttpControl& options);
    // A host as a URL writes it: an IPv6 literal in brackets, its zone after
    // "%25".
    static void appendHostForUrl(const StringBuffer& host, StringBuffer& out);
    // A host as a Host field, a CONNECT line and a proxy's absolute target
    // name it: an IPv6 literal in brackets, without its zone, which means
    // something on this machine alone.
    static void appendHostField(const StringBuffer& host, StringBuffer& out);
    // False, the reason logged, when the URL (or a request's host) holds a
    // control byte or no host name, or a header field of the options is
    // malformed: nothing of such a request may reach the wire.
    static bool checkSendable(const char* url, const HttpControl& options, LogBase& log);
    // The head of a caller's MIME text, up to its first empty line (a line
    // ends at LF, a CR before it dropped; one that begins with a space or
    // TAB goes on with the one before): false, the reason logged, when a
    // name in it is no token or a value no field value. namesHost tells
    // whether it has a Host field of its own.
    static bool checkMimeHead(const StringBuffer& mimeText, bool& namesHost, LogBase& log);
    // The absolute URL a redirect's location names from requestUrl: as it
    // is when it has a scheme, on the same scheme and host when it begins
    // with one '/', else resolved by resolveRedirectUrl (UrlResolve.h).
    // Empty when the request URL has no host part.
    // A location naming a scheme other than http and https resolves to
    // nothing: it is no path on the same server.
    static void resolveRedirectTarget(const char* requestUrl, const char* location, StringBuffer& target);
    // False, the reason logged, for a location with a scheme other than
    // http and https (file:, ftp:, data:, javascript:, mailto: ...).
    static bool checkRedirectScheme(const char* location, LogBase& log);
    // Whether two absolute URLs share scheme, host (any case) and port.
    static bool sameOrigin(const char* a, const char* b);

private:
    class ExchangeScope;
    bool sspiHandshake(const http_auth::HandshakeWords& words, const char* url, HttpControl& options, LogBase& log,
                       ProgressMonitor* pm, bool verbose);
    bool sspiRequestHandshake(const http_auth::HandshakeWords& words, HttpControl& options, bool tls,
                              HttpRequest& request, LogBase& log, ProgressMonitor* pm, StringBuffer& token,
                              bool verbose);
    // The own NTLM messages get user and domain as splitNtlmLogin gives them,
    // the password and the computer's name as workstation.
    static void prepareOwnNtlm(HttpControl& options, ClsNtlm& ntlm, LogBase& log);
    bool exchangePacketGet(DataBuffer& token, DataBuffer& reply, LogBase& log);
    bool sendFinalGet(DataBuffer& token, const char* context, LogBase& log);
    bool exchangePacketRequest(DataBuffer& token, DataBuffer& reply, LogBase& log);
    bool sendFinalPost(DataBuffer& token, LogBase& log);
    // One GET of a handshake on the own connection, with the exchange's
    // token; only a first leg (restart) may open a new connection.
    bool runGetLeg(DataBuffer& token, const char* context, bool restart, LogBase& log);
    bool sendLeg(const DataBuffer& wire, bool tls, HttpControl& options, LogBase& log);
    // The token of the WWW-Authenticate field that names packageName; false
    // when it is not Base64.
    bool takeServerToken(const HttpResponseHeader& header, DataBuffer& inToken);

    void closeNumbered(const char* message, LogBase& log);
    // Closes the socket; bytes read ahead go with it.
    void dropSocket();
    // Appends what the next receive brings (plain or TLS, as the current
    // request goes); false when nothing came, with the flags saying why.
    bool receiveMore(HttpControl& options, unsigned int idleMs, DataBuffer& into, LogBase& log, ProgressMonitor* pm,
                     SocketFlags& flags);
    // The next response head out of the read-ahead bytes and the socket.
    bool readHeadBytes(HttpControl& options, DataBuffer& head, LogBase& log, ProgressMonitor* pm, SocketFlags& flags);
    // Up to max read-ahead bytes into out; the count taken.
    bool takePending(std::uint64_t max, Output& out, LogBase& log, std::uint64_t& taken);
    bool readLengthBody(std::uint64_t length, HttpControl& options, Output& out, LogBase& log, ProgressMonitor* pm);
    bool readChunkedBody(HttpControl& options, Output& out, LogBase& log, ProgressMonitor* pm);
    bool readUntilClose(unsigned int idleMs, HttpControl& options, Output& out, LogBase& log, ProgressMonitor* pm);
    // One kind of exchange for the attempt loop: its progress text (none),
    // the banner before reading, whether it is a HEAD, and whether it may go
    // out again on a new connection (idempotent, without a body) when a
    // kept-alive connection turns out to have been given up by the server.
    struct Attempt {
        const char* begin;
        const char* readingBanner;
        bool head;
        bool resendable;
    };
    bool runAttempts(HttpControl& options, const char* domain, int port, bool tls, const Attempt& attempt,
                     const std::function<bool(HttpResult&)>& send, HttpResult& result, DataBuffer& body, LogBase& log,
                     ProgressMonitor* pm, bool logDetails);
    void appendAuthorizationLine(HttpControl& options, StringBuffer& out);
    // The cookie, Basic and proxy Basic lines of a GET head.
    void appendCredentialLines(const GetTarget& target, HttpControl& options, StringBuffer& out, LogBase& log,
                               ProgressMonitor* pm);

    StringBuffer m_host;
    std::uint32_t m_port;
    // connectionRoute of the open connection.
    StringBuffer m_route;
    // The current request's decision (decideProxy), its target and route.
    std::unique_ptr<ProxySetting> m_proxy;
    bool m_proxyDecided = false;
    bool m_proxyRead = false;
    StringBuffer m_proxyHost;
    std::uint32_t m_proxyPort = 0;
    bool m_proxyTls = false;
    StringBuffer m_proxyRoute;
    LoggedSocket2 m_conn;
    // The plain connection is a CONNECT tunnel to this host and port (a
    // proxy asked NTLM of a plain request); empty when it is not.
    StringBuffer m_tunnelHost;
    std::uint32_t m_tunnelPort = 0;
    // The last request written went to the proxy itself (writesToProxy).
    bool m_wroteToProxy = false;
    std::uint32_t m_sendBufferSize;
    StringBuffer m_packageName;
    StringBuffer m_exchangeMethod;
    StringBuffer m_exchangeUrl;
    // The absolute-URL prefix kept for the request's authentication leg.
    StringBuffer m_ntlmText2;
    // Set only while a handshake runs; a request selects the request legs.
    HttpControl* m_exchangeOptions;
    DataBuffer* m_exchangeBody;
    HttpResult* m_exchangeResult;
    HttpRequest* m_exchangeRequest;
    // The server answered a leg with 200: no further leg goes out.
    bool m_exchangeSettled;
    bool m_exchangeTls;
    bool m_requestTls;
    DataBuffer m_receivedDuringSend;
    // Bytes received past the last response head: the start of its body.
    DataBuffer m_pending;
    std::uint32_t m_pendingScanned;
    // The open connection had carried a request before the current one.
    bool m_reused;
    // The send failed: the answer is what arrived meanwhile, nothing more.
    bool m_answerOnly;
    // The last head read ended in the peer's close or a reset before any
    // byte of it arrived.
    bool m_headLostAtOnce;
    // The last response read set cookies.
    bool m_cookiesSet;
    RoadFollows m_road = RoadFollows::kConnection;
    // The path of the request whose answer is read: a cookie it sets
    // without a Path is scoped to its directory.
    StringBuffer m_cookiePath;
    // The GET road takes an HTML page without a status line as a 200.
    bool m_acceptHeadless;
    // The last head read had no status line: what came, for the log.
    DataBuffer m_unparsedHead;
    // The room a response head is read into, kept for the next response.
    DataBuffer m_headRoom;
    StringBuffer m_sessionLogFile;
    std::uint32_t m_heartbeatMs;
    std::uint32_t m_readTimeoutSec;
};

// Plain TCP connect, direct or through SOCKS 4 or 5 as the request's way
// says.
bool connectSocket(TessikSocket& socket, const char* host, int port, HttpControl& options, ProxySetting& way,
                   LogBase& log, ProgressMonitor* pm);
// The host and port the channel's server is, the protocol, and
// verification unless the options turn it off.
void prepareTlsChannel(SChannelTessik& channel, const char* host, int port, HttpControl& options);
// After a failed TLS connect: the channel's failure reason (105 when the
// server's certificate was refused) under kTlsFailReasonTag.
void logTlsFailure(const SChannelTessik& channel, bool established, LogBase& log);
// TLS connect, directly or over a SOCKS 4 or 5 connection.
bool connectSChannel(SChannelTessik* channel, const char* host, int port, HttpControl& options, ProxySetting& way,
                     LogBase& log, ProgressMonitor* pm);
// Back to where an output stood: emptied when that was its start.
bool rewindOutput(Output& out, std::int64_t start, LogBase& log);

} // namespace tessik
