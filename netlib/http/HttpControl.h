#pragma once
// Every option of one HTTP component with its default, the proxy choice for
// a request, and the registry readers behind the system proxy settings.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/HashMap.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsCache2.h"
#include "netlib/http/HttpCache.h"
#include "netlib/http/MimeHeader.h"
#include "netlib/transport/ClsSocksClient.h"
#include "platform/Registry.h"

namespace tessik {

class LogBase;

// The way a request goes: through an HTTP proxy or none (an empty host),
// its host and port with the credentials it is given (the options' own,
// else those the system setting writes in its URL), and through SOCKS 4 or
// 5 or not (the options' own SOCKS settings, else a system setting's).
struct ProxySetting {
    ProxySetting() = default;
    ~ProxySetting();
    ProxySetting(const ProxySetting&) = delete;
    ProxySetting& operator=(const ProxySetting&) = delete;

    bool none() const { return host.getSize() == 0; }
    bool throughSocks() const {
        return socks.getSocksVersion() == kSocks4Version || socks.getSocksVersion() == kSocks5Version;
    }
    // None, the port the given one, the secrets wiped.
    void reset(std::uint32_t defaultPort);

    StringBuffer host;
    std::uint32_t port = 0;
    bool hasCredentials = false;
    XString login;
    XString password;
    ClsSocksClient socks;
    // SOCKS 5 given the target's address looked up here (socks5://), not
    // its name (socks5h://); SOCKS 4 is always given an address.
    bool socksLooksUpHere = false;
};

namespace http_opt {
inline constexpr const char* kDefaultUserAgent = "Tessik/1.0.0 (+https://www.tessik.example/useragent.html)";
inline constexpr const char* kDefaultAccept = "*/*";
inline constexpr const char* kDefaultConnection = "Keep-Alive";
inline constexpr const char* kDefaultAcceptCharset = "ISO-8859-1,utf-8;q=0.7,*;q=0.7";
inline constexpr const char* kDefaultAcceptLanguage = "en-us,en;q=0.5";
inline constexpr const char* kDefaultSslProtocol = "default";
inline constexpr std::uint32_t kDefaultProxyPort = 80;
// A system proxy named without a port is asked there, as curl asks it.
inline constexpr std::uint32_t kSystemProxyDefaultPort = 1080;
inline constexpr std::uint32_t kDefaultRetryWaitMs = 2000;
inline constexpr std::uint32_t kDefaultMaxUrlLen = 2000;
inline constexpr std::uint32_t kDefaultConnectTimeoutSec = 10;
inline constexpr std::uint32_t kDefaultReadTimeoutSec = 20;
inline constexpr std::uint32_t kDefaultSendBufferSize = 65535;
inline constexpr std::uint32_t kStringTableBuckets = 400;
// The pool asks for the proxy under this tag; it is not logged then.
inline constexpr int kPoolCallerTag = 100;
inline constexpr const char* kInternetSettingsPath = "Software/Microsoft/Windows/CurrentVersion/Internet Settings";
inline constexpr const char* kMsgProxyServerUnread =
    "Failed to read registry: CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet Settings/ProxyServer";
inline constexpr const char* kMsgProxyEnableUnread =
    "Failed to read registry: CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet Settings/ProxyEnable";
inline constexpr const char* kMsgProxySettingRefused =
    "The system proxy setting is no host, [IPv6] address or either with ':' and a port of 1-65535: refused, nothing "
    "was sent.";
} // namespace http_opt

class HttpControl : public ClsSocksClient {
public:
    HttpControl();
    ~HttpControl() override;
    HttpControl(const HttpControl&) = delete;
    HttpControl& operator=(const HttpControl&) = delete;

    // A copy keeps its cookies in memory in the other's table, not one of
    // its own: a side request made on it sends and keeps them as the other
    // would. The other must outlive the copy.
    void copyFrom(HttpControl& other);
    void logOptions(LogBase& log);
    // The proxy for a request to target (its bare host) over `scheme`
    // ("http://" or "https://"); an empty host means none. The system's
    // setting is read as curl reads its variables: no proxy for a target
    // its no_proxy list names, the host as a caller's host is read
    // (TessikUrl::readHostPort, an IPv6 address in brackets), port 1080
    // when it names none, and the credentials of its URL percent-decoded.
    // A SOCKS one (socks4://, socks4a://, socks5://, socks5h://) is the
    // request's SOCKS server unless the options name their own, and there
    // is no HTTP proxy then. One it cannot read gives no proxy and false
    // (logged), and no request may go direct in its place, as curl sends
    // none.
    bool getProxy(const char* scheme, const char* target, ProxySetting& proxy, LogBase& log, int callerTag);

    CacheControl cacheControl;
    // The ".caf" bucket cache instead of the ".dat" one; a copy never uses it.
    std::uint32_t useBucketCache;
    ClsCache2 cache;
    HttpCache bucketCache;
    std::uint8_t UseIEProxy;
    std::uint32_t ProxyPort;
    StringBuffer ProxyDomain;
    StringBuffer ProxyAuthMethod;
    // Client certificates (XCert entries, owned); null until given or copied.
    ExtPtrArray* clientCerts;
    HashMap stringTable;
    // The table cookies in memory live in: the string table, or a copy's
    // original's.
    HashMap& cookieTable() { return m_cookieTable != nullptr ? *m_cookieTable : stringTable; }
    StringBuffer bindAddress;
    std::uint8_t AllowCookieResponseCaching;
    std::uint32_t UnavailableRetryCount;
    std::uint32_t UnavailableRetryWaitMs;
    StringBuffer RedirectVerb;
    std::uint8_t AddHostHeader;
    StringBuffer UserAgent;
    StringBuffer Referer;
    StringBuffer Accept;
    StringBuffer ConnectionHeader;
    StringBuffer AcceptCharset;
    StringBuffer AcceptLanguage;
    StringBuffer authToken;
    std::int64_t ResumePoint;
    StringBuffer digestUri;
    StringBuffer digestAuthHeader;
    MimeHeader extraHeaders;
    LogBase* secondaryLog;
    std::uint8_t MimicIE;
    std::uint8_t MimicFirefox;
    std::uint8_t AllowGzip;
    std::uint8_t ProxyPartialUrl;
    StringBuffer HttpMethod;
    XString Login;
    XString LoginDomain;
    XString Password;
    XString ProxyLogin;
    XString ProxyPassword;
    std::uint8_t NTLMAuth;
    std::uint8_t NegotiateAuth;
    std::uint8_t DigestAuth;
    StringBuffer SslProtocol;
    // 1: an https request takes whatever certificate the server shows. 0
    // (the default): every TLS connection checks the server's chain to a
    // trusted root and its name for the host, and fails with reason 105 if
    // they do not hold.
    std::uint8_t AcceptAnyServerCert;
    StringBuffer CookieDir;
    std::uint8_t SendCookies;
    std::uint8_t SaveCookies;
    std::uint32_t MaxUrlLen;
    std::uint64_t MaxResponseSize;
    std::uint32_t ConnectTimeoutSec;
    std::uint32_t ReadTimeoutSec;
    std::uint32_t HeartbeatMs;
    std::uint32_t SendBufferSize;
    std::uint8_t FollowRedirects;
    StringBuffer RequiredContentType;
    std::uint8_t requestTextOnly;
    StringBuffer requestText;

private:
    HashMap* m_cookieTable;
};

// Whether a no_proxy list names host (a bare name or address), by curl's
// rules: "*" alone names every host; else each entry (split at commas and
// blanks) names a host and the names under it, a leading and a trailing dot
// aside, or an address and, with "/bits", its network. An entry with a port
// names nothing.
bool noProxyNames(const char* host, const char* list);
// The current user's proxy for "http" or "https"; `enabled` tells whether
// the system has it switched on. False when the settings cannot be read.
bool getSystemProxyServer(const char* schemeWord, StringBuffer& out, bool& enabled, LogBase& log);
// A value under HKEY_CURRENT_USER at a '/'-separated key path, as text.
bool getCurrentUserRegistryString(const char* keyPath, const char* valueName, StringBuffer& out, LogBase* log);
// REG_DWORD as decimal, REG_SZ as its text, anything else as grouped hex.
bool queryRegistryValueAsText(platform::HKEY key, const char* valueName, StringBuffer& out, LogBase& log);

} // namespace tessik
