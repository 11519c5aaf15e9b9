// SOCKS settings, messages, and the SOCKS 4 and 5 connects of TessikSocket.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "netlib/transport/ClsSocksClient.h"
#include "netlib/transport/HostnameResolve.h"
#include "netlib/transport/TessikSocket.h"
#include "netlib/transport/WinsockLoader.h"
#include "platform/ByteOrder.h"
#include "platform/Winsock.h"

namespace tessik {
namespace {

constexpr unsigned int kSocksSendChunk = 2048;
constexpr unsigned int kPortBytes = 2;
constexpr unsigned int kIpv4Bytes = 4;
constexpr unsigned int kIpv6Bytes = 16;

void appendPort(int port, DataBuffer& out) {
    unsigned char be[kPortBytes];
    platform::StoreBe16(be, static_cast<std::uint16_t>(port));
    out.append(be, kPortBytes);
}

// Made only of digits and dots: then it must be an IPv4 address.
bool looksNumeric(const char* text) {
    return *text != '\0' && std::strspn(text, "0123456789.") == std::strlen(text);
}

void progressTarget(ProgressMonitor* pm, const char* event, const StringBuffer& proxy, int targetPort) {
    if (pm == nullptr) {
        return;
    }
    char port[16];
    std::snprintf(port, sizeof port, ":%d", targetPort);
    StringBuffer text(proxy.getString());
    text.append(port);
    pm->progressInfo(event, text.getString());
}

} // namespace

ClsSocksClient::ClsSocksClient() : m_socksPort(kDefaultSocksPort), m_socksVersion(0) {}
ClsSocksClient::~ClsSocksClient() = default;

void ClsSocksClient::copySocksSettings(const ClsSocksClient& other) {
    m_socksPort = other.m_socksPort;
    m_socksVersion = other.m_socksVersion;
    m_socksUsername.copyFromX(other.m_socksUsername);
    m_socksPassword.copyFromX(other.m_socksPassword);
    m_socksHostname.copyFromX(other.m_socksHostname);
}

void ClsSocksClient::getSocksUsername(StringBuffer& out) {
    out.setString(m_socksUsername.getAnsi());
}

void ClsSocksClient::getSocksPassword(StringBuffer& out) {
    out.setString(m_socksPassword.getAnsi());
}

void ClsSocksClient::getSocksHostname(StringBuffer& out) {
    out.setString(m_socksHostname.getAnsi());
}

void buildSocks4Request(int port, std::uint32_t address, const char* userId, DataBuffer& out) {
    out.clear();
    out.appendChar(kSocks4Version);
    out.appendChar(kSocksConnect);
    appendPort(port, out);
    out.append(&address, kIpv4Bytes);
    out.appendStr(userId != nullptr ? userId : "");
    out.appendChar(0);
}

void buildSocks5Greeting(bool withCredentials, DataBuffer& out) {
    out.clear();
    out.appendChar(kSocks5Version);
    if (withCredentials) {
        out.appendChar(2);
        out.appendChar(kSocks5MethodNone);
        out.appendChar(kSocks5MethodPassword);
    } else {
        out.appendChar(1);
        out.appendChar(kSocks5MethodNone);
    }
}

bool buildSocks5PasswordRequest(const StringBuffer& user, const StringBuffer& password, DataBuffer& out) {
    out.clear();
    auto userSize = static_cast<unsigned int>(user.getSize());
    auto passwordSize = static_cast<unsigned int>(password.getSize());
    if (userSize > kSocks5MaxField || passwordSize > kSocks5MaxField) {
        return false;
    }
    out.appendChar(kSocks5PasswordVersion);
    out.appendChar(static_cast<unsigned char>(userSize));
    out.append(user.getString(), userSize);
    out.appendChar(static_cast<unsigned char>(passwordSize));
    out.append(password.getString(), passwordSize);
    return true;
}

bool buildSocks5ConnectRequest(const char* name, const std::uint32_t* address, int port, DataBuffer& out) {
    out.clear();
    std::size_t nameSize = address == nullptr ? std::strlen(name) : 0;
    if (nameSize > kSocks5MaxField) {
        return false;
    }
    out.appendChar(kSocks5Version);
    out.appendChar(kSocksConnect);
    out.appendChar(0);
    unsigned char ipv6[kIpv6Bytes];
    if (address != nullptr) {
        out.appendChar(kSocks5AddressIpv4);
        out.append(address, kIpv4Bytes);
    } else if (::inet_pton(AF_INET6, name, ipv6) == 1) {
        // An IPv6 literal is an address to the proxy, never a name to look up.
        out.appendChar(kSocks5AddressIpv6);
        out.append(ipv6, kIpv6Bytes);
    } else {
        out.appendChar(kSocks5AddressName);
        out.appendChar(static_cast<unsigned char>(nameSize));
        out.append(name, static_cast<unsigned int>(nameSize));
    }
    appendPort(port, out);
    return true;
}

bool TessikSocket::connectToProxy(const StringBuffer& proxy, int proxyPort, const char* bindIp,
                                  unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log, bool* dnsFailed,
                                  ProgressMonitor* pm, int* failureReason, const char* failText) {
    setBindIp(bindIp);
    setConnectTimeoutMs(timeoutMs);
    bool connected = connectSocket(proxy.getString(), proxyPort, heartbeatMs, log, dnsFailed, pm);
    if (failureReason != nullptr) {
        *failureReason = m_failureReason;
    }
    if (!connected) {
        log.logError(failText);
        log.logData("socksHostname", proxy.getString());
        log.logDataLong("socksPort", proxyPort);
    }
    return connected;
}

bool TessikSocket::socks4Connect(const char* targetHost, int targetPort, const char* bindIp, unsigned int heartbeatMs,
                                 unsigned int timeoutMs, LogBase& log, bool* dnsFailed, ProgressMonitor* pm,
                                 int* failureReason, ClsSocksClient& settings) {
    StringBuffer proxy;
    StringBuffer user;
    settings.getSocksHostname(proxy);
    settings.getSocksUsername(user);
    int proxyPort = settings.getSocksPort();
    LogContext context(log, "SOCKS4");
    log.logData("socksHostname", proxy.getString());
    log.logDataLong("socksPort", proxyPort);
    log.logData("socksUsername", user.getString());
    progressTarget(pm, "Socks4Connect", proxy, targetPort);
    if (proxyPort == 0 || proxy.getSize() == 0) {
        log.logError("No SOCKS4 hostname and/or port");
        return false;
    }

    XString ipText;
    bool aborted = false;
    bool timedOut = false;
    if (!dnsLookupOrNumeric(targetHost, heartbeatMs, timeoutMs, log, pm, ipText, &aborted, &timedOut)) {
        log.logError("DNS lookup of target hostname failed. (for SOCKS4)");
        log.logData("hostname", targetHost);
        return false;
    }
    std::uint32_t address = 0;
    if (!parseIpv4(ipText.getUtf8(), &address)) {
        log.logError("Invalid SOCKS4 destination IP address");
        log.logData("ipAddr", ipText.getUtf8());
        return false;
    }

    if (!connectToProxy(proxy, proxyPort, bindIp, heartbeatMs, timeoutMs, log, dnsFailed, pm, failureReason,
                        "Failed to connect to SOCKS4 server.")) {
        return false;
    }

    setReadTimeoutMs(timeoutMs);
    // A refused or broken handshake leaves nothing connected to the proxy.
    if (!socks4Handshake(targetPort, address, user, heartbeatMs, log, pm)) {
        closeSocket();
        return false;
    }
    return true;
}

bool TessikSocket::socks4Handshake(int targetPort, std::uint32_t address, const StringBuffer& user,
                                   unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm) {
    DataBuffer request;
    buildSocks4Request(targetPort, address, user.getString(), request);
    if (!sendBytes(request.getData(), request.getSize(), kSocksSendChunk, heartbeatMs, log, pm)) {
        log.logError("Failed to send connect request to SOCKS4 server.");
        return false;
    }
    unsigned char reply[kSocks4ReplySize];
    unsigned int got = 0;
    SocketFlags flags;
    if (!readN(reply, sizeof reply, heartbeatMs, log, pm, &got, flags)) {
        log.logError("Failed to receive reply to SOCKS4 connect request.");
        return false;
    }
    if (reply[0] != kSocks4ReplyVersion) {
        log.logError(kMsgSocks4BadVersion);
        log.logDataLong("version", reply[0]);
        return false;
    }
    if (reply[1] != kSocks4Granted) {
        log.logError(kMsgSocks4Denied);
        log.logDataLong("resultCode", reply[1]);
        return false;
    }
    return true;
}

bool TessikSocket::socks5Connect(const char* targetHost, int targetPort, const char* bindIp, unsigned int heartbeatMs,
                                 unsigned int timeoutMs, LogBase& log, bool* dnsFailed, ProgressMonitor* pm,
                                 int* failureReason, ClsSocksClient& settings) {
    StringBuffer proxy;
    StringBuffer user;
    StringBuffer password;
    settings.getSocksHostname(proxy);
    settings.getSocksUsername(user);
    settings.getSocksPassword(password);
    int proxyPort = settings.getSocksPort();
    if (proxyPort == 0 || proxy.getSize() == 0) {
        log.logError("No SOCKS5 hostname and/or port");
        return false;
    }
    progressTarget(pm, "Socks5Connect", proxy, targetPort);
    LogContext context(log, "SOCKS5");
    log.logData("socksHostname", proxy.getString());
    log.logDataLong("socksPort", proxyPort);
    log.logData("socksUsername", user.getString());

    StringBuffer target(targetHost != nullptr ? targetHost : "");
    target.trimWhitespace();
    // An IPv6 literal's zone names an interface of this machine, not of the
    // proxy's: the proxy is given the address alone.
    if (const std::size_t zone = platform::Ipv6ZoneStart(target.getString()); zone != std::string_view::npos)
        target.shorten(target.getSize() - static_cast<int>(zone));
    if (target.getSize() == 0) {
        log.logError("No target hostname for SOCKS5 connection.");
        return false;
    }
    std::uint32_t address = 0;
    bool numeric = looksNumeric(target.getString());
    if (numeric && !parseIpv4(target.getString(), &address)) {
        log.logError("Invalid SOCKS5 destination IP address");
        log.logData("ipAddress3", target.getString());
        return false;
    }
    // Lengths go in one byte: a longer field is refused before anything is sent.
    DataBuffer connectRequest;
    if (!buildSocks5ConnectRequest(target.getString(), numeric ? &address : nullptr, targetPort, connectRequest)) {
        log.logError(kMsgSocks5TargetTooLong);
        return false;
    }
    bool withCredentials = user.getSize() != 0 && password.getSize() != 0;
    DataBuffer passwordRequest;
    if (withCredentials && !buildSocks5PasswordRequest(user, password, passwordRequest)) {
        log.logError(kMsgSocks5FieldTooLong);
        return false;
    }

    if (!connectToProxy(proxy, proxyPort, bindIp, heartbeatMs, timeoutMs, log, dnsFailed, pm, failureReason,
                        "Failed to connect to SOCKS5 server.")) {
        return false;
    }
    setReadTimeoutMs(timeoutMs);
    bool ok = socks5Handshake(withCredentials, user, passwordRequest, connectRequest, heartbeatMs, log, pm);
    passwordRequest.secureClear();
    password.secureClear();
    if (!ok) {
        closeSocket();
    }
    return ok;
}

bool TessikSocket::socks5Handshake(bool withCredentials, const StringBuffer& user, const DataBuffer& passwordRequest,
                                   const DataBuffer& connectRequest, unsigned int heartbeatMs, LogBase& log,
                                   ProgressMonitor* pm) {
    DataBuffer greeting;
    if (!withCredentials) {
        log.logInfo("No SOCKS5 username and/or password, requesting No-Authentication...");
    }
    buildSocks5Greeting(withCredentials, greeting);
    if (!sendBytes(greeting.getData(), greeting.getSize(), kSocksSendChunk, heartbeatMs, log, pm)) {
        log.logError("Failed to send version identifier to SOCKS5 server.");
        return false;
    }
    unsigned char reply[kSocks5MaxField + kPortBytes];
    unsigned int got = 0;
    SocketFlags flags;
    if (!readN(reply, 2, heartbeatMs, log, pm, &got, flags)) {
        log.logError("Failed to receive method-select reply from SOCKS5 server.");
        return false;
    }
    if (reply[0] != kSocks5Version) {
        log.logError(kMsgSocks5BadVersion);
        log.logDataLong("version", reply[0]);
        return false;
    }
    if (reply[1] == kSocks5MethodNone) {
        log.logInfo("SOCKS5 server is allowing no authentication.");
    } else if (reply[1] == kSocks5MethodPassword) {
        log.logInfo("SOCKS5 server selected username/password authentication.");
        // Only offered with both, but a server may choose it unasked.
        if (!withCredentials) {
            log.logError(user.getSize() == 0 ? "SOCKS5 username is empty." : "SOCKS5 password is empty.");
            return false;
        }
        if (!sendBytes(passwordRequest.getData(), passwordRequest.getSize(), kSocksSendChunk, heartbeatMs, log, pm)) {
            log.logError("Failed to send username/password to SOCKS5 server.");
            return false;
        }
        if (!readN(reply, 2, heartbeatMs, log, pm, &got, flags)) {
            log.logError("Failed to receive username/password reply from SOCKS5 server.");
            return false;
        }
        if (reply[1] != 0) {
            // The password stays out of the log.
            log.logError(kMsgSocks5PasswordRejected);
            log.logData("username", user.getString());
            return false;
        }
    } else {
        log.logError(kMsgSocks5NoMethod);
        log.logDataLong("method", reply[1]);
        return false;
    }

    if (!sendBytes(connectRequest.getData(), connectRequest.getSize(), kSocksSendChunk, heartbeatMs, log, pm)) {
        log.logError("Failed to send connection request to SOCKS5 server.");
        return false;
    }
    if (!readN(reply, kSocks5ReplyHeadSize, heartbeatMs, log, pm, &got, flags)) {
        log.logError("Failed to receive response from SOCKS5 server..");
        return false;
    }
    if (reply[0] != kSocks5Version) {
        log.logError(kMsgSocks5BadVersion);
        log.logDataLong("version", reply[0]);
        return false;
    }
    if (reply[1] != 0) {
        log.logError(kMsgSocks5Rejected);
        log.logDataLong("status", reply[1]);
        return false;
    }
    switch (reply[3]) {
    case kSocks5AddressName: {
        if (!readN(reply, 1, heartbeatMs, log, pm, &got, flags)) {
            log.logError("Failed to receive domain name length from SOCKS5 server.");
            return false;
        }
        unsigned int length = reply[0];
        log.logDataLong("domainNameLen", static_cast<int>(length));
        if (!readN(reply, length, heartbeatMs, log, pm, &got, flags)) {
            log.logError("Failed to receive domain name from SOCKS5 server.");
            return false;
        }
        break;
    }
    case kSocks5AddressIpv4:
        if (!readN(reply, kIpv4Bytes, heartbeatMs, log, pm, &got, flags)) {
            log.logError("Failed to receive IPv4 address from SOCKS5 server.");
            return false;
        }
        break;
    case kSocks5AddressIpv6:
        if (!readN(reply, kIpv6Bytes, heartbeatMs, log, pm, &got, flags)) {
            log.logError("Failed to receive IPv6 address from SOCKS5 server.");
            return false;
        }
        break;
    default: log.logError("Invalid response from SOCKS5 server"); return false;
    }
    if (!readN(reply, kPortBytes, heartbeatMs, log, pm, &got, flags)) {
        log.logError("Failed to receive port reply from SOCKS5 server.");
        return false;
    }
    return true;
}

} // namespace tessik
