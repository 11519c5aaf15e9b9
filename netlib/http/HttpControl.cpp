#include "netlib/http/HttpControl.h"

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/RegistryPath.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/pki/Certificate.h"
#include "platform/Winsock.h"

namespace tessik {

using namespace http_opt;

ProxySetting::~ProxySetting() {
    password.secureClear();
    socks.wipeSocksPassword();
}

void ProxySetting::reset(std::uint32_t defaultPort) {
    host.clear();
    port = defaultPort;
    hasCredentials = false;
    login.clear();
    password.secureClear();
    socks.setSocksVersion(0);
    socks.wipeSocksPassword();
    socksLooksUpHere = false;
}

namespace {
// Not among the types the registry stand-in stores, but read all the same.
constexpr DWORD kRegExpandSz = 2;
constexpr int kHexRadix = 16;
constexpr int kEscapeLength = 3;
constexpr unsigned char kLastControl = 0x20;
constexpr unsigned char kDelete = 0x7f;
constexpr std::size_t kIpv4Size = 4;
constexpr std::size_t kIpv6Size = 16;
constexpr int kBitsPerByte = 8;
constexpr int kDecimal = 10;

// A URL's percent escapes undone; a '%' that starts none stays, as curl
// keeps it. False when the text decodes to a control byte, which no
// credential holds.
bool percentDecoded(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && text.size() - i >= kEscapeLength && asciiHexValue(text[i + 1]) >= 0 &&
            asciiHexValue(text[i + 2]) >= 0) {
            c = static_cast<char>(asciiHexValue(text[i + 1]) * kHexRadix + asciiHexValue(text[i + 2]));
            i += 2;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte < kLastControl || byte == kDelete)
            return false;
        out.push_back(c);
    }
    return true;
}

// The SOCKS schemes a proxy setting may name, as curl takes them. Our
// SOCKS 4 sends an address alone, so socks4a:// is looked up here too.
struct SocksScheme {
    std::string_view name;
    int version;
    bool looksUpHere;
};
constexpr SocksScheme kSocksSchemes[] = {
    {"socks4", kSocks4Version, true},
    {"socks4a", kSocks4Version, true},
    {"socks5", kSocks5Version, true},
    {"socks5h", kSocks5Version, false},
};
constexpr std::string_view kSchemeEnd = "://";

// "user:password@host:port" as http_proxy names it (the stand-in of the
// system settings keeps the URL's user information), or the same after a
// SOCKS scheme: the host and port read as a caller's are, except that an
// IPv6 address must stand in brackets and no port means 1080; the
// credentials percent-decoded, the password after the first ':'. A SOCKS
// value fills in the SOCKS settings alone. False, with nothing filled in,
// for text curl refuses.
bool readSystemProxy(const char* text, ProxySetting& proxy) {
    std::string_view t(text);
    // Any scheme but SOCKS that the stand-in left is not plain HTTP.
    const SocksScheme* socks = nullptr;
    if (const std::size_t end = t.find(kSchemeEnd); end != std::string_view::npos) {
        for (const SocksScheme& scheme : kSocksSchemes)
            if (scheme.name.size() == end &&
                asciiCompareNoCase(t.data(), scheme.name.data(), static_cast<unsigned long>(end)) == 0)
                socks = &scheme;
        if (socks == nullptr)
            return false;
        t.remove_prefix(end + kSchemeEnd.size());
    }
    const std::size_t at = t.find('@');
    const std::string_view server = at == std::string_view::npos ? t : t.substr(at + 1);
    // One '@' ends the user information; the host holds none, nor do the
    // credentials hold a blank.
    if (server.find('@') != std::string_view::npos)
        return false;
    if (at != std::string_view::npos) {
        for (const char c : t.substr(0, at))
            if (static_cast<unsigned char>(c) <= kLastControl || static_cast<unsigned char>(c) == kDelete)
                return false;
    }
    // A bare IPv6 address: which of its colons would start a port?
    if (!server.starts_with('[') && server.find(':') != server.rfind(':'))
        return false;
    int port = 0;
    StringBuffer host;
    if (!TessikUrl::readHostPort(std::string(server).c_str(), host, port))
        return false;
    std::string login, password;
    if (at != std::string_view::npos) {
        const std::string_view info = t.substr(0, at);
        const std::size_t colon = info.find(':');
        if (!percentDecoded(info.substr(0, colon), login) ||
            (colon != std::string_view::npos && !percentDecoded(info.substr(colon + 1), password)))
            return false;
    }
    const auto portRead = port != 0 ? static_cast<std::uint32_t>(port) : http_opt::kSystemProxyDefaultPort;
    if (socks != nullptr) {
        proxy.socks.setSocksVersion(socks->version);
        proxy.socks.setSocksHostname(host.getString());
        proxy.socks.setSocksPort(static_cast<int>(portRead));
        proxy.socks.setSocksUsername(login.c_str());
        proxy.socks.setSocksPassword(password.c_str());
        proxy.socksLooksUpHere = socks->looksUpHere;
    } else {
        proxy.host.setSb(host);
        proxy.port = portRead;
        proxy.hasCredentials = at != std::string_view::npos;
        proxy.login.setFromUtf8(login.c_str());
        proxy.password.setFromUtf8(password.c_str());
    }
    std::fill(password.begin(), password.end(), '\0');
    return true;
}

// An address and its size in bytes (4 or 16), or 0 for a name.
std::size_t readAddress(const std::string& text, unsigned char address[kIpv6Size]) {
    if (inet_pton(AF_INET, text.c_str(), address) == 1)
        return kIpv4Size;
    if (inet_pton(AF_INET6, text.c_str(), address) == 1)
        return kIpv6Size;
    return 0;
}

// The host's address as the resolver reads the name: an IPv4 address in
// any of inet_aton's forms ("127.1", "0x7f.0.0.1", "2130706433") is the one
// connected to, as curl reads a URL's host; 0 for a name.
std::size_t readHostAddress(const std::string& text, unsigned char address[kIpv6Size]) {
    const std::size_t size = readAddress(text, address);
    if (size != 0 || text.empty() || text.find_first_not_of("0123456789abcdefABCDEFxX.") != std::string::npos)
        return size;
    in_addr in{};
    if (inet_aton(text.c_str(), &in) == 0)
        return 0;
    std::memcpy(address, &in, kIpv4Size);
    return kIpv4Size;
}

// Whether the first bits of both addresses are the same.
bool sameNetwork(const unsigned char* a, const unsigned char* b, int bits) {
    const int whole = bits / kBitsPerByte;
    if (std::memcmp(a, b, static_cast<std::size_t>(whole)) != 0)
        return false;
    const int rest = bits % kBitsPerByte;
    if (rest == 0)
        return true;
    const auto mask = static_cast<unsigned char>(UCHAR_MAX << (kBitsPerByte - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

bool entryNamesAddress(std::string_view entry, const unsigned char* host, std::size_t size) {
    const std::size_t slash = entry.find('/');
    const int most = static_cast<int>(size) * kBitsPerByte;
    int bits = most;
    if (slash != std::string_view::npos) {
        // The digits after the slash, as curl reads them; none, or 0,
        // counts the whole address.
        int n = 0;
        for (std::size_t i = slash + 1; i < entry.size() && entry[i] >= '0' && entry[i] <= '9' && n <= most; ++i)
            n = n * kDecimal + (entry[i] - '0');
        if (n > most)
            return false;
        bits = n == 0 ? most : n;
    }
    unsigned char address[kIpv6Size] = {};
    return readAddress(std::string(entry.substr(0, slash)), address) == size && sameNetwork(address, host, bits);
}

bool entryNamesHost(std::string_view entry, std::string_view name) {
    if (entry.ends_with('.'))
        entry.remove_suffix(1);
    if (entry.starts_with('.'))
        entry.remove_prefix(1);
    if (entry.empty() || entry.size() > name.size())
        return false;
    const std::string_view tail = name.substr(name.size() - entry.size());
    if (asciiCompareNoCase(tail.data(), entry.data(), static_cast<unsigned long>(entry.size())) != 0)
        return false;
    return entry.size() == name.size() || name[name.size() - entry.size() - 1] == '.';
}

} // namespace

bool noProxyNames(const char* host, const char* list) {
    if (host == nullptr || *host == '\0' || list == nullptr)
        return false;
    const std::string_view entries(list);
    if (entries == "*")
        return true;
    std::string name(host);
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    unsigned char address[kIpv6Size] = {};
    // An IPv6 address's zone names an interface of this machine, not the host.
    const std::size_t size = readHostAddress(name.substr(0, platform::Ipv6ZoneStart(name)), address);
    if (size == 0 && name.ends_with('.'))
        name.pop_back();
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    for (std::size_t i = 0; i < entries.size();) {
        while (i < entries.size() && (blank(entries[i]) || entries[i] == ','))
            ++i;
        std::size_t end = i;
        while (end < entries.size() && !blank(entries[end]) && entries[end] != ',')
            ++end;
        const std::string_view entry = entries.substr(i, end - i);
        if (!entry.empty() && (size != 0 ? entryNamesAddress(entry, address, size) : entryNamesHost(entry, name)))
            return true;
        i = end;
    }
    return false;
}

HttpControl::HttpControl()
    : useBucketCache(0), UseIEProxy(0), ProxyPort(kDefaultProxyPort), clientCerts(nullptr),
      stringTable(kStringTableBuckets), AllowCookieResponseCaching(0), UnavailableRetryCount(0),
      UnavailableRetryWaitMs(kDefaultRetryWaitMs), AddHostHeader(1), UserAgent(kDefaultUserAgent),
      Accept(kDefaultAccept), ConnectionHeader(kDefaultConnection), AcceptCharset(kDefaultAcceptCharset),
      AcceptLanguage(kDefaultAcceptLanguage), ResumePoint(0), secondaryLog(nullptr), MimicIE(0), MimicFirefox(0),
      AllowGzip(1), ProxyPartialUrl(0), NTLMAuth(0), NegotiateAuth(0), DigestAuth(0), SslProtocol(kDefaultSslProtocol),
      AcceptAnyServerCert(0), SendCookies(1), SaveCookies(1), MaxUrlLen(kDefaultMaxUrlLen), MaxResponseSize(0),
      ConnectTimeoutSec(kDefaultConnectTimeoutSec), ReadTimeoutSec(kDefaultReadTimeoutSec), HeartbeatMs(0),
      SendBufferSize(kDefaultSendBufferSize), FollowRedirects(1), requestTextOnly(0), m_cookieTable(nullptr) {}

HttpControl::~HttpControl() {
    delete clientCerts;
}

void HttpControl::copyFrom(HttpControl& other) {
    m_cookieTable = &other.cookieTable();
    // The way to the server with the proxy settings: a leg of a handshake
    // made on the copy goes where the request went, on its connection.
    copySocksSettings(other);
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

bool HttpControl::getProxy(const char* scheme, const char* target, ProxySetting& proxy, LogBase& log, int callerTag) {
    proxy.reset(ProxyPort);
    proxy.socks.copySocksSettings(*this);
    if (ProxyDomain.getSize() == 0) {
        // No system proxy asked for: nothing to look up (and no buffer to make).
        if (!UseIEProxy)
            return true;
        const char* word = (scheme && asciiCompareNoCase(scheme, "https", 5) == 0) ? "https" : "http";
        bool enabled = false;
        StringBuffer text;
        getSystemProxyServer(word, text, enabled, log);
        if (text.getSize() > 0 && callerTag != kPoolCallerTag) {
            // The credentials in it are not for the log.
            const char* at = std::strrchr(text.getString(), '@');
            log.logData("IE_Proxy", at != nullptr ? at + 1 : text.getString());
            log.logDataLong("IE_ProxyEnabled", enabled ? 1 : 0);
        }
        if (!enabled || text.getSize() == 0)
            return true;
        StringBuffer bypass;
        if (target != nullptr &&
            getCurrentUserRegistryString(kInternetSettingsPath, "ProxyOverride", bypass, nullptr) &&
            noProxyNames(target, bypass.getString()))
            return true;
        // The options' own SOCKS settings go before a system one.
        ProxySetting system;
        const bool read = readSystemProxy(text.getString(), system);
        text.secureClear();
        if (!read) {
            log.logError(kMsgProxySettingRefused);
            proxy.reset(kDefaultProxyPort);
            return false;
        }
        if (system.throughSocks()) {
            if (!proxy.throughSocks()) {
                proxy.socks.copySocksSettings(system.socks);
                proxy.socksLooksUpHere = system.socksLooksUpHere;
            }
            return true;
        }
        proxy.host.setSb(system.host);
        proxy.port = system.port;
        proxy.hasCredentials = system.hasCredentials;
        proxy.login.copyFromX(system.login);
        proxy.password.copyFromX(system.password);
    } else {
        proxy.host.setSb(ProxyDomain);
    }
    // The options' own credentials go before any the setting names.
    if (ProxyLogin.getSizeUtf8() != 0 && ProxyPassword.getSizeUtf8() != 0) {
        proxy.login.copyFromX(ProxyLogin);
        proxy.password.copyFromX(ProxyPassword);
        proxy.hasCredentials = true;
    }
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
