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

namespace http_opt {
inline constexpr const char* kDefaultUserAgent = "Tessik/1.0.0 (+https://www.tessik.example/useragent.html)";
inline constexpr const char* kDefaultAccept = "*/*";
inline constexpr const char* kDefaultConnection = "Keep-Alive";
inline constexpr const char* kDefaultAcceptCharset = "ISO-8859-1,utf-8;q=0.7,*;q=0.7";
inline constexpr const char* kDefaultAcceptLanguage = "en-us,en;q=0.5";
inline constexpr const char* kDefaultSslProtocol = "default";
inline constexpr std::uint32_t kDefaultProxyPort = 80;
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

    void copyFrom(const HttpControl& other);
    void logOptions(LogBase& log);
    // Host and port of the proxy for a request over `scheme` ("http://" or
    // "https://"); an empty host means none. The system's setting is read
    // as a caller's host is (TessikUrl::readHostPort): one it cannot read
    // gives no proxy and false (logged), and no request may go direct in
    // its place, as curl sends none.
    bool getProxy(const char* scheme, StringBuffer& host, std::uint32_t& port, LogBase& log, int callerTag);

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
};

// The current user's proxy for "http" or "https"; `enabled` tells whether
// the system has it switched on. False when the settings cannot be read.
bool getSystemProxyServer(const char* schemeWord, StringBuffer& out, bool& enabled, LogBase& log);
// A value under HKEY_CURRENT_USER at a '/'-separated key path, as text.
bool getCurrentUserRegistryString(const char* keyPath, const char* valueName, StringBuffer& out, LogBase* log);
// REG_DWORD as decimal, REG_SZ as its text, anything else as grouped hex.
bool queryRegistryValueAsText(platform::HKEY key, const char* valueName, StringBuffer& out, LogBase& log);

} // namespace tessik
