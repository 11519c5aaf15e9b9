#include "netlib/http/HttpControl.h"

#include <cstring>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/RegistryPath.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/pki/Certificate.h"

namespace tessik {

using namespace http_opt;

namespace {
// Not among the types the registry stand-in stores, but read all the same.
constexpr DWORD kRegExpandSz = 2;
} // namespace

HttpControl::HttpControl()
    : useBucketCache(0), UseIEProxy(0), ProxyPort(kDefaultProxyPort), clientCerts(nullptr),
      stringTable(kStringTableBuckets), AllowCookieResponseCaching(0), UnavailableRetryCount(0),
      UnavailableRetryWaitMs(kDefaultRetryWaitMs), AddHostHeader(1), UserAgent(kDefaultUserAgent),
      Accept(kDefaultAccept), ConnectionHeader(kDefaultConnection), AcceptCharset(kDefaultAcceptCharset),
      AcceptLanguage(kDefaultAcceptLanguage), ResumePoint(0), secondaryLog(nullptr), MimicIE(0), MimicFirefox(0),
      AllowGzip(1), ProxyPartialUrl(0), NTLMAuth(0), NegotiateAuth(0), DigestAuth(0), SslProtocol(kDefaultSslProtocol),
      AcceptAnyServerCert(0), SendCookies(1), SaveCookies(1), MaxUrlLen(kDefaultMaxUrlLen), MaxResponseSize(0),
      ConnectTimeoutSec(kDefaultConnectTimeoutSec), ReadTimeoutSec(kDefaultReadTimeoutSec), HeartbeatMs(0),
      SendBufferSize(kDefaultSendBufferSize), FollowRedirects(1), requestTextOnly(0) {}

HttpControl::~HttpControl() {
    delete clientCerts;
}

void HttpControl::copyFrom(const HttpControl& other) {
    UseIEProxy = other.UseIEProxy;
    ProxyPort = other.ProxyPort;
    ProxyDomain.setSb(other.ProxyDomain);
    cacheControl.copyFrom(other.cacheControl);
    useBucketCache = 0;
    cache.copySettingsFrom(other.cache);
    // The copy holds clones of the other's client certificates, never the
    // same objects.
    if (other.clientCerts) {
        if (!clientCerts) {
            clientCerts = new ExtPtrArray();
            clientCerts->setOwnsObjects(true);
        }
        copyXCertArray(other.clientCerts, clientCerts);
    } else {
        delete clientCerts;
        clientCerts = nullptr;
    }
    UnavailableRetryCount = other.UnavailableRetryCount;
    UnavailableRetryWaitMs = other.UnavailableRetryWaitMs;
    AddHostHeader = other.AddHostHeader;
    UserAgent.setSb(other.UserAgent);
    Referer.setSb(other.Referer);
    Accept.setSb(other.Accept);
    ConnectionHeader.setSb(other.ConnectionHeader);
    AcceptCharset.setSb(other.AcceptCharset);
    AcceptLanguage.setSb(other.AcceptLanguage);
    authToken.setSb(other.authToken);
    ResumePoint = other.ResumePoint;
    MimicIE = other.MimicIE;
    MimicFirefox = other.MimicFirefox;
    AllowGzip = other.AllowGzip;
    Login.copyFromX(other.Login);
    Password.copyFromX(other.Password);
    ProxyLogin.copyFromX(other.ProxyLogin);
    ProxyPassword.copyFromX(other.ProxyPassword);
    NTLMAuth = other.NTLMAuth;
    CookieDir.setSb(other.CookieDir);
    SendCookies = other.SendCookies;
    SaveCookies = other.SaveCookies;
    MaxUrlLen = other.MaxUrlLen;
    MaxResponseSize = other.MaxResponseSize;
    ConnectTimeoutSec = other.ConnectTimeoutSec;
    ReadTimeoutSec = other.ReadTimeoutSec;
    HeartbeatMs = other.HeartbeatMs;
    SendBufferSize = other.SendBufferSize;
    FollowRedirects = other.FollowRedirects;
    AcceptAnyServerCert = other.AcceptAnyServerCert;
}

void HttpControl::logOptions(LogBase& log) {
    log.enterContext("HttpOptions", true);
    log.logData("Accept", Accept.getString());
    log.logData("AcceptCharset", AcceptCharset.getString());
    log.logData("AcceptLanguage", AcceptLanguage.getString());
    log.logDataLong("AddHostHeader", AddHostHeader);
    log.logDataLong("AllowCookieResponseCaching", AllowCookieResponseCaching);
    log.logDataLong("AllowGzip", AllowGzip);
    log.logData("ConnectionHeader", ConnectionHeader.getString());
    log.logDataLong("ConnectTimeoutSec", static_cast<int>(ConnectTimeoutSec));
    log.logData("CookieDir", CookieDir.getString());
    log.logDataLong("DigestAuth", DigestAuth);
    log.logDataLong("FollowRedirects", FollowRedirects);
    log.logDataLong("HeartbeatMs", static_cast<int>(HeartbeatMs));
    log.logData("HttpMethod", HttpMethod.getString());
    log.logData("Login", Login.getUtf8());
    log.logData("LoginDomain", LoginDomain.getUtf8());
    log.logDataInt64("MaxResponseSize", static_cast<std::int64_t>(MaxResponseSize));
    log.logDataLong("MaxUrlLen", static_cast<int>(MaxUrlLen));
    log.logDataLong("MimicFirefox", MimicFirefox);
    log.logDataLong("MimicIE", MimicIE);
    log.logDataLong("NegotiateAuth", NegotiateAuth);
    log.logDataLong("NTLMAuth", NTLMAuth);
    log.logDataLong("PasswordLen", Password.getNumChars());
    log.logData("ProxyDomain", ProxyDomain.getString());
    log.logData("ProxyLogin", ProxyLogin.getUtf8());
    log.logDataLong("ProxyPartialUrl", ProxyPartialUrl);
    log.logDataLong("ProxyPasswordLen", ProxyPassword.getNumChars());
    log.logDataLong("ProxyPort", static_cast<int>(ProxyPort));
    log.logDataLong("ReadTimeoutSec", static_cast<int>(ReadTimeoutSec));
    log.logData("Referer", Referer.getString());
    log.logData("RequiredContentType", RequiredContentType.getString());
    log.logDataInt64("ResumePoint", ResumePoint);
    log.logDataLong("SaveCookies", SaveCookies);
    log.logDataLong("SendBufferSize", static_cast<int>(SendBufferSize));
    log.logDataLong("SendCookies", SendCookies);
    log.logData("SslProtocol", SslProtocol.getString());
    log.logDataLong("AcceptAnyServerCert", AcceptAnyServerCert);
    log.logDataLong("UnavailableRetryCount", static_cast<int>(UnavailableRetryCount));
    log.logDataLong("UnavailableRetryWaitMs", static_cast<int>(UnavailableRetryWaitMs));
    log.logData("UserAgent", UserAgent.getString());
    log.leaveContext();
}

bool HttpControl::getProxy(const char* scheme, StringBuffer& host, std::uint32_t& port, LogBase& log, int callerTag) {
    host.clear();
    if (ProxyDomain.getSize() > 0) {
        host.setSb(ProxyDomain);
        port = ProxyPort;
        return true;
    }
    // No system proxy asked for: nothing to look up (and no buffer to make).
    if (!UseIEProxy) {
        port = ProxyPort;
        return true;
    }
    const char* word = (scheme && asciiCompareNoCase(scheme, "https", 5) == 0) ? "https" : "http";
    bool enabled = false;
    StringBuffer text;
    getSystemProxyServer(word, text, enabled, log);
    if (text.getSize() > 0 && callerTag != kPoolCallerTag) {
        log.logData("IE_Proxy", text.getString());
        log.logDataLong("IE_ProxyEnabled", enabled ? 1 : 0);
    }
    if (enabled && text.getSize() > 0) {
        int named = 0;
        if (!TessikUrl::readHostPort(text.getString(), host, named)) {
            log.logError(kMsgProxySettingRefused);
            log.logData("proxy", text.getString());
            port = kDefaultProxyPort;
            return false;
        }
        port = named != 0 ? static_cast<std::uint32_t>(named) : kDefaultProxyPort;
        return true;
    }
    host.setSb(ProxyDomain);
    port = ProxyPort;
    return true;
}

bool getSystemProxyServer(const char* schemeWord, StringBuffer& out, bool& enabled, LogBase& log) {
    out.clear();
    enabled = false;
    StringBuffer server;
    if (!getCurrentUserRegistryString(kInternetSettingsPath, "ProxyServer", server, &log)) {
        log.logError(kMsgProxyServerUnread);
        return false;
    }
    StringBuffer enable;
    if (!getCurrentUserRegistryString(kInternetSettingsPath, "ProxyEnable", enable, &log)) {
        log.logError(kMsgProxyEnableUnread);
        return false;
    }
    enabled = enable.equals("1");
    if (!server.containsChar('=')) {
        out.setSb(server);
        return true;
    }
    StringBuffer key(schemeWord ? schemeWord : "");
    key.trimWhitespace();
    key.appendChar('=');
    // The word must start an entry, so "http=" is not found inside "https=".
    const char* s = server.getString();
    for (const char* p = std::strstr(s, key.getString()); p; p = std::strstr(p + 1, key.getString())) {
        if (p != s && p[-1] != ';' && p[-1] != ' ')
            continue;
        const char* v = p + key.getSize();
        const char* semi = std::strchr(v, ';');
        out.appendBytes(v, semi ? static_cast<int>(semi - v) : static_cast<int>(std::strlen(v)));
        out.trimWhitespace();
        break;
    }
    return true;
}

bool getCurrentUserRegistryString(const char* keyPath, const char* valueName, StringBuffer& out, LogBase* log) {
    if (!keyPath || !valueName)
        return false;
    LogNull silent;
    LogBase& l = log ? *log : silent;
    platform::HKEY key = openRegistryKeyPath(platform::HKEY_CURRENT_USER, keyPath, true);
    if (!key) {
        l.logError("Failed to open CURRENT USER key");
        l.logData("path", keyPath);
        return false;
    }
    bool ok = queryRegistryValueAsText(key, valueName, out, l);
    if (!ok) {
        l.logError("Failed to get key value");
        l.logData("valueName", valueName);
    }
    regCloseKeyUnlessPredefined(key);
    return ok;
}

bool queryRegistryValueAsText(platform::HKEY key, const char* valueName, StringBuffer& out, LogBase& log) {
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = platform::RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size);
    if (rc != 0) {
        StringBuffer message;
        message.appendWindowsErrorText(static_cast<DWORD>(rc));
        log.logData("RegistryQueryError", message.getString());
        log.logData("ValueName", valueName);
        return false;
    }
    if (size == 0)
        return false;
    std::vector<BYTE> data(size);
    rc = platform::RegQueryValueExA(key, valueName, nullptr, &type, data.data(), &size);
    if (rc != 0) {
        StringBuffer message;
        message.appendWindowsErrorText(static_cast<DWORD>(rc));
        log.logData("RegistryQueryError2", message.getString());
        log.logData("ValueName", valueName);
        return false;
    }
    constexpr DWORD kDwordSize = 4;
    if (type == platform::REG_DWORD && size == kDwordSize) {
        std::uint32_t v = 0;
        std::memcpy(&v, data.data(), kDwordSize);
        out.appendUint32(v);
    } else if (type == platform::REG_SZ || type == kRegExpandSz) {
        // The stored text may or may not count its NUL.
        std::size_t n = size;
        while (n > 0 && data[n - 1] == 0)
            --n;
        out.appendBytes(data.data(), static_cast<int>(n));
    } else {
        out.appendHexGrouped(data.data(), static_cast<int>(size));
    }
    return true;
}

} // namespace tessik
