#include "netlib/transport/TessikSocket.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "netlib/transport/HostnameResolve.h"
#include "netlib/transport/WinsockLoader.h"
#include "platform/Ticks.h"
#include "platform/WinErr.h"
#include "platform/Winsock.h"

namespace tessik {
namespace {

// An IPv6 literal's zone ("fe80::1%eth0", "::1%1") names the interface
// the address is reached by: taken off the name, which is looked up
// without it, as the interface's index. False for a zone that names no
// interface here.
bool takeZone(StringBuffer& name, unsigned int& scope) {
    scope = 0;
    const std::size_t at = platform::Ipv6ZoneStart(name.getString());
    if (at == std::string_view::npos) {
        return true;
    }
    const std::string zone(name.getString() + at + 1);
    if (!zone.empty() && zone.find_first_not_of("0123456789") == std::string::npos) {
        scope = static_cast<unsigned int>(std::strtoul(zone.c_str(), nullptr, 10));
    } else {
        scope = if_nametoindex(zone.c_str());
    }
    name.shorten(static_cast<unsigned int>(zone.size() + 1));
    return scope != 0;
}

// Reporter workers open sockets at the same time.
std::atomic<std::uint32_t> g_serial{1};

constexpr unsigned int kFirstSleepMs = 100;
constexpr unsigned int kShortSleepMs = 100;
constexpr unsigned int kLongSleepMs = 1000;
constexpr unsigned int kLastRoundMs = 100;
constexpr unsigned int kIpv4ResolveHeartbeatMs = 200;
constexpr unsigned int kMinBufferSize = 1000;
constexpr unsigned int kMaxBufferSize = 2000000;
constexpr int kFamilyUnspecified = 0;

DWORD ticks() {
    return platform::GetTickCount();
}

void hostPort(const char* host, int port, StringBuffer& out) {
    out.setString(host != nullptr ? host : "");
    out.append(":");
    char text[16];
    std::snprintf(text, sizeof text, "%d", port);
    out.append(text);
}

int reasonFromResolve(bool aborted, bool timedOut) {
    if (aborted) {
        return kSocketFailAborted;
    }
    return timedOut ? kSocketFailDnsTimeout : kSocketFailDns;
}

} // namespace

SocketReadParams::SocketReadParams() : heartbeatMs(0), pm(nullptr) {}
SocketReadParams::~SocketReadParams() = default;
ReceiveCopy::~ReceiveCopy() = default;

TessikSocket::TessikSocket()
    : m_sendBufferSize(0), m_receiveBufferSize(0), m_connected(false), m_socket(platform::INVALID_SOCKET),
      m_family(kFamilyIpv4), m_serial(g_serial.fetch_add(1, std::memory_order_relaxed)),
      m_idleTimeoutMs(kDefaultIdleTimeoutMs), m_connectTimeoutMs(kDefaultConnectTimeoutMs), m_lastSendError(0),
      m_failureReason(0), m_bindPort(0), m_rateMonitoring(false) {
    m_receiveMon.setDirection(PerformanceMon::kReceive);
    m_sendMon.setDirection(PerformanceMon::kSend);
    LogNull quiet;
    startupWSA(quiet);
}

TessikSocket::~TessikSocket() {
    closeSocket();
}

std::uint32_t TessikSocket::socketsMade() {
    return g_serial.load() - 1;
}

void TessikSocket::closeSocket() {
    if (m_socket != platform::INVALID_SOCKET) {
        platform::SocketShutdownBoth(m_socket);
        platform::SocketClose(m_socket);
        m_socket = platform::INVALID_SOCKET;
        m_receiveBuffer.clear();
    }
    m_receiveTimeoutSet = 0;
    m_unsentLimitSet = 0;
    m_connected = false;
}

void TessikSocket::takeOver(TessikSocket& other) {
    closeSocket();
    m_connected = other.m_connected;
    m_socket = other.m_socket;
    m_receiveTimeoutSet = other.m_receiveTimeoutSet;
    m_unsentLimitSet = other.m_unsentLimitSet;
    m_lastSendError = other.m_lastSendError;
    m_idleTimeoutMs = other.m_idleTimeoutMs;
    m_connectTimeoutMs = other.m_connectTimeoutMs;
    m_remoteIp.setString(other.m_remoteIp.getString());
    m_failureReason = other.m_failureReason;
    other.m_socket = platform::INVALID_SOCKET;
    other.m_connected = false;
    applyBufferSizes();
}

void TessikSocket::resetPerfMonitors() {
    m_receiveMon.reset();
    m_sendMon.reset();
}

void TessikSocket::applyBufferSizes() {
    if (m_socket == platform::INVALID_SOCKET) {
        return;
    }
    if (m_sendBufferSize >= kMinBufferSize && m_sendBufferSize < kMaxBufferSize) {
        platform::SocketSetOption(m_socket, SOL_SOCKET, SO_SNDBUF, static_cast<int>(m_sendBufferSize));
    }
    if (m_receiveBufferSize >= kMinBufferSize && m_receiveBufferSize < kMaxBufferSize) {
        platform::SocketSetOption(m_socket, SOL_SOCKET, SO_RCVBUF, static_cast<int>(m_receiveBufferSize));
    }
}

void TessikSocket::limitUnsentBytes(unsigned int bytes) {
    if (m_socket == platform::INVALID_SOCKET || bytes == m_unsentLimitSet) {
        return;
    }
    if (platform::SocketSetOption(m_socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, static_cast<int>(bytes))) {
        m_unsentLimitSet = bytes;
    }
}

bool TessikSocket::getLocalAddress(StringBuffer& ipText, int& port, LogBase& log) {
    ipText.clear();
    port = 0;
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("Cannot get socket name: INVALID_SOCKET.");
        return false;
    }
    sockaddr_storage address{};
    if (!platform::SocketLocalAddress(m_socket, &address)) {
        log.logError(m_family == kFamilyIpv6 ? "Failed to getsockname ipv6" : "Failed to getsockname");
        logSocketError(platform::WSAGetLastError(), log);
        return false;
    }
    if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        formatIpv6(in6->sin6_addr.s6_addr, ipText);
        port = ntohs(in6->sin6_port);
    } else {
        const auto* in4 = reinterpret_cast<const sockaddr_in*>(&address);
        formatIpv4(reinterpret_cast<const unsigned char*>(&in4->sin_addr.s_addr), ipText);
        port = ntohs(in4->sin_port);
    }
    return true;
}

void TessikSocket::logLocalAddress(const char* ipTag, const char* portTag, LogBase& log) {
    StringBuffer ip;
    int port = 0;
    if (getLocalAddress(ip, port, log)) {
        log.logData(ipTag, ip.getString());
        log.logDataLong(portTag, port);
    }
}

bool TessikSocket::connectSocket(const char* host, int port, unsigned int heartbeatMs, LogBase& log, bool* dnsFailed,
                                 ProgressMonitor* pm) {
    m_failureReason = 0;
    log.logDataLong("ConnectTimeoutMs", static_cast<int>(m_connectTimeoutMs));
    StringBuffer where;
    hostPort(host, port, where);
    if (pm != nullptr) {
        pm->progressInfo("SocketConnect", where.getString());
    }
    bool retryIpv4 = false;
    bool ok = false;
    if (heartbeatMs != 0 && pm != nullptr) {
        ok = addressInfoAvailable() ? connectAddrInfo(host, port, heartbeatMs, true, log, dnsFailed, &retryIpv4, pm)
                                    : connectIpv4(host, port, heartbeatMs, true, log, dnsFailed, pm);
    } else {
        log.logInfo("calling ConnectSocket2");
        if (addressInfoAvailable()) {
            ok = connectAddrInfo(host, port, 0, false, log, dnsFailed, &retryIpv4, pm);
            if (!ok && retryIpv4) {
                log.enterContext("IPV4_retry", true);
                ok = connectIpv4(host, port, 0, false, log, dnsFailed, pm);
                log.leaveContext();
            }
        } else {
            ok = connectIpv4(host, port, 0, false, log, dnsFailed, pm);
        }
    }
    if (ok && pm != nullptr) {
        pm->progressInfo("SocketConnected", where.getString());
    }
    return ok;
}

bool TessikSocket::startConnect(const char* host, bool stripUrl, bool* dnsFailed, StringBuffer& name, LogBase& log) {
    if (dnsFailed != nullptr) {
        *dnsFailed = false;
    }
    m_failureReason = 0;
    if (host == nullptr) {
        m_failureReason = kSocketFailNoHost;
        log.logError("Cannot connect, hostname is NULL");
        return false;
    }
    name.setString(host);
    name.trimWhitespace();
    if (stripUrl) {
        name.replaceFirst("http://", "");
        name.replaceFirst("https://", "");
        name.removeChar('/');
    }
    // An IPv6 literal as URLs write it.
    if (name.beginsWith("[") && name.lastChar() == ']') {
        name.shorten(1);
        name.removeChunk(0, 1);
    }
    if (name.getSize() == 0) {
        m_failureReason = kSocketFailNoHost;
        log.logError("Cannot connect, hostname is zero length");
        return false;
    }
    if (name.equalsNoCase("localhost")) {
        name.setString("127.0.0.1");
    }
    startupWSA(log);
    return true;
}

bool TessikSocket::connectAddrInfo(const char* host, int port, unsigned int heartbeatMs, bool threaded, LogBase& log,
                                   bool* dnsFailed, bool* retryIpv4, ProgressMonitor* pm) {
    *retryIpv4 = false;
    StringBuffer name;
    if (!startConnect(host, true, dnsFailed, name, log)) {
        return false;
    }
    unsigned int scope = 0;
    if (!takeZone(name, scope)) {
        m_failureReason = kSocketFailNoHost;
        log.logError(kMsgNoSuchZone);
        log.logData("hostname", host);
        return false;
    }

    addrinfo hints{};
    hints.ai_flags = AI_NUMERICSERV;
    hints.ai_family = kFamilyUnspecified;
    hints.ai_socktype = SOCK_STREAM;
    std::uint32_t v4 = 0;
    unsigned char v6[16];
    bool numeric = false;
    if (parseIpv4(name.getString(), &v4)) {
        log.logInfo(threaded ? "This is an IPV4 numeric address." : "This is an IPV4 numeric address...");
        hints.ai_family = AF_INET;
        numeric = true;
    } else if (parseIpv6(name.getString(), v6)) {
        log.logInfo(threaded ? "This is an IPV6 numeric address." : "This is an IPV6 numeric address...");
        hints.ai_family = AF_INET6;
        numeric = true;
    }
    if (numeric) {
        hints.ai_flags |= AI_NUMERICHOST;
    }
    const Ws2Functions& ws2 = ws2Functions();
    if (ws2.getaddrinfo == nullptr) {
        return connectIpv4(name.getString(), port, heartbeatMs, threaded, log, dnsFailed, pm);
    }

    addrinfo* list = nullptr;
    if (threaded && !numeric) {
        log.logInfo("Multi-threaded hostname to IP address resolution");
        auto* resolver = new (std::nothrow) HostnameResolveIpv6();
        if (resolver == nullptr) {
            m_failureReason = kSocketFailNoSocket;
            log.logError("Memory allocation failure.");
            return false;
        }
        bool aborted = false;
        bool timedOut = false;
        resolver->addRef();
        bool ok = resolver->resolve(name.getString(), port, m_connectTimeoutMs, heartbeatMs, log, pm, &hints, &list,
                                    &aborted, &timedOut);
        resolver->release();
        if (!ok) {
            m_failureReason = reasonFromResolve(aborted, timedOut);
            return false;
        }
    } else {
        if (threaded) {
            log.logInfo("Hostname to IP address resolution not needed.");
        }
        char service[16];
        std::snprintf(service, sizeof service, "%d", port);
        if (ws2.getaddrinfo(name.getString(), service, &hints, &list) != 0) {
            log.logError("Failed to get host address info. (1)");
            log.logInfo("Versions of Windows earlier than Windows XP are limited to handling IPv4 only");
            log.logInfo("On Windows Server 2003 and Windows XP, IPv6 addresses are returned only if IPv6 is "
                        "installed on the local computer.");
            logSocketError(platform::WSAGetLastError(), log);
            log.logData("hostOrIpAddr", name.getString());
            log.logDataLong("port", port);
            log.logInfo("reverting to gethostbyname...");
            return connectIpv4(name.getString(), port, heartbeatMs, threaded, log, dnsFailed, pm);
        }
    }
    if (list == nullptr) {
        log.logError("Failed to get host address info. (5)");
        *retryIpv4 = true;
        return false;
    }

    logAddrInfoList(list, log);
    for (addrinfo* ai = list; ai != nullptr && scope != 0; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET6) {
            reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_scope_id = scope;
        }
    }
    const addrinfo* entry = findAddrInfoIpv4(list);
    if (entry == nullptr) {
        entry = findAddrInfoIpv6(list);
    }
    if (entry == nullptr) {
        entry = list;
    }
    bool ipv6 = entry->ai_family == AF_INET6;
    if (threaded) {
        log.logInfo(ipv6 ? "Connecting to IPV6 address." : "Connecting to IPV4 address.");
    } else {
        log.logInfo(ipv6 ? "Connect using IPV6." : "Connect using IPV4.");
    }
    m_remoteIp.clear();
    if (ipv6) {
        formatIpv6(reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr.s6_addr, m_remoteIp);
    } else if (entry->ai_family == AF_INET) {
        formatIpv4(reinterpret_cast<const unsigned char*>(
                       &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr),
                   m_remoteIp);
    }
    log.logData(threaded ? "ipAddress2" : "ipAddress1", m_remoteIp.getString());

    bool ok = false;
    if (!createSocketIpv6(entry, log, true) || m_socket == platform::INVALID_SOCKET) {
        m_failureReason = kSocketFailNoSocket;
        log.logError(threaded ? "Cannot connect, invalid socket (4)" : "Cannot connect, invalid socket (2)");
    } else {
        bool immediate = false;
        ok = connectLoop(entry->ai_addr, entry->ai_addrlen, name.getString(), heartbeatMs, threaded, log, pm,
                         &immediate);
        if (ok && threaded) {
            connectSucceeded(immediate, nullptr, nullptr, log);
        } else if (ok) {
            connectSucceeded(immediate, immediate ? "myIP_4" : "myIP_3", immediate ? "myPort_4" : "myPort_3", log);
        }
    }
    platform::FreeAddrInfo(list);
    return ok;
}

bool TessikSocket::connectIpv4(const char* host, int port, unsigned int heartbeatMs, bool threaded, LogBase& log,
                               bool* dnsFailed, ProgressMonitor* pm) {
    StringBuffer name;
    if (!startConnect(host, false, dnsFailed, name, log)) {
        return false;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (!isDottedQuad(name.getString())) {
        DWORD start = ticks();
        StringBuffer ipText;
        std::uint32_t resolved = 0;
        bool aborted = false;
        bool timedOut = false;
        bool ok =
            resolveHostIpv4(name.getString(), m_connectTimeoutMs, threaded ? heartbeatMs : kIpv4ResolveHeartbeatMs, log,
                            pm, ipText, &resolved, &aborted, &timedOut);
        if (!ok || ipText.getSize() == 0) {
            if (dnsFailed != nullptr) {
                *dnsFailed = true;
            }
            log.logError(threaded ? "Cannot get host by name." : "Cannot get host by name..");
            log.logData("hostname", name.getString());
            m_failureReason = reasonFromResolve(aborted, timedOut);
            return false;
        }
        if (resolved == 0) {
            m_failureReason = kSocketFailDns;
            return false;
        }
        if (m_connectTimeoutMs != 0 && ticks() - start >= m_connectTimeoutMs) {
            m_failureReason = kSocketFailDnsTimeout;
            log.logError("Application timeout after DNS");
            return false;
        }
        m_remoteIp.setString(ipText.getString());
        address.sin_addr.s_addr = resolved;
    } else {
        m_remoteIp.setString(name.getString());
        address.sin_addr.s_addr = platform::InetAddr(name.getString());
    }

    if (!createSocket(log, true) || m_socket == platform::INVALID_SOCKET) {
        m_failureReason = kSocketFailNoSocket;
        log.logError(threaded ? "Cannot connect, invalid socket (3)" : "Cannot connect, invalid socket (1)");
        return false;
    }
    bool immediate = false;
    if (!connectLoop(reinterpret_cast<const sockaddr*>(&address), sizeof address, name.getString(), heartbeatMs,
                     threaded, log, pm, &immediate)) {
        return false;
    }
    if (!threaded) {
        connectSucceeded(immediate, immediate ? "myIP_2" : "myIP_1", immediate ? "myPort_2" : "myPort_1", log);
    } else {
        connectSucceeded(immediate, nullptr, nullptr, log);
    }
    return true;
}

void TessikSocket::connectSucceeded(bool immediate, const char* ipTag, const char* portTag, LogBase& log) {
    m_connected = true;
    m_receiveBuffer.clear();
    if (immediate) {
        resetPerfMonitors();
    }
    if (ipTag != nullptr) {
        logLocalAddress(ipTag, portTag, log);
        log.logInfo(immediate ? "connect successful.." : "connect successful.");
    }
}

bool TessikSocket::connectLoop(const sockaddr* address, socklen_t length, const char* host, unsigned int heartbeatMs,
                               bool threaded, LogBase& log, ProgressMonitor* pm, bool* immediate) {
    *immediate = false;
    unsigned int remaining = m_connectTimeoutMs;
    bool nonBlocking = remaining != 0;
    if (nonBlocking) {
        platform::SocketSetNonBlocking(m_socket, true);
    }
    unsigned int lastSleep = kFirstSleepMs;
    int attempt = 0;
    bool lastRound = false;
    bool connected = false;
    DWORD lastError = 0;
    bool waitTimedOut = false;
    for (;;) {
        DWORD t0 = ticks();
        if (attempt > 0) {
            if (remaining < lastSleep || remaining - lastSleep < kLastRoundMs) {
                remaining = kLastRoundMs;
                lastRound = true;
            } else {
                remaining -= lastSleep;
            }
        }
        lastSleep = 0;
        DWORD error = platform::SocketConnectStart(m_socket, address, length);
        if (error == 0) {
            connected = true;
            *immediate = true;
            break;
        }
        lastError = error;
        if (error != platform::WSAEWOULDBLOCK) {
            if (error == platform::WSAEINVAL) {
                log.logData("HostOrIpAddress", host);
                log.logHex("SocketHandle", static_cast<unsigned int>(m_socket));
            }
            log.logDataLong("sockError", static_cast<int>(error));
        }
        if (remaining == 0 || error != platform::WSAEWOULDBLOCK) {
            break;
        }
        bool waited = false;
        if (threaded) {
            bool failed = false;
            bool aborted = false;
            bool timedOut = false;
            bool socketError = false;
            waited = waitWriteableHeartbeat(heartbeatMs, 0, remaining, true, log, pm, &failed, &aborted, &timedOut,
                                            &socketError);
            if (aborted) {
                platform::SocketSetNonBlocking(m_socket, false);
                m_failureReason = kSocketFailAborted;
                return false;
            }
            waitTimedOut = timedOut;
        } else {
            waited = waitForConnect(remaining, log);
        }
        if (waited) {
            // Writable: the connect ended one way or the other. A refusal is
            // final, so it is reported now rather than retried to the time-out.
            lastError = platform::SocketConnectResult(m_socket);
            connected = lastError == 0;
            break;
        }
        if (lastRound) {
            break;
        }
        DWORD elapsed = ticks() - t0;
        if (elapsed == 0) {
            elapsed = kFirstSleepMs;
        }
        if (remaining <= elapsed) {
            break;
        }
        remaining -= elapsed;
        lastSleep = remaining <= kLongSleepMs ? kShortSleepMs : kLongSleepMs;
        platform::Sleep(lastSleep);
        ++attempt;
    }
    if (nonBlocking && m_socket != platform::INVALID_SOCKET) {
        platform::SocketSetNonBlocking(m_socket, false);
    }
    if (!connected) {
        if (threaded && waitTimedOut && m_failureReason == 0) {
            // The time ran out in the wait, whichever attempt it was.
            m_failureReason = kSocketFailConnectTimeout;
            log.logDataLong("ConnectTimeoutMs", static_cast<int>(m_connectTimeoutMs));
            logSocketError(platform::WSAEWOULDBLOCK, log);
        }
        if (m_failureReason == 0) {
            m_failureReason = kSocketFailConnect;
        }
        log.logError(threaded ? "Connect function failed" : kMsgConnectFailed);
        logSocketError(static_cast<int>(lastError == 0 ? platform::WSAETIMEDOUT : lastError), log);
        if (!threaded && lastError == platform::WSAEINVAL) {
            log.logData("IP_Address", m_remoteIp.getString());
            log.logData("Hostname", host);
        }
        closeSocket();
    }
    return connected;
}

bool TessikSocket::waitForConnect(unsigned int timeoutMs, LogBase& log) {
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("invalid socket, not ready for writing.");
        return false;
    }
    switch (platform::SocketWait(m_socket, platform::WaitFor::Write, timeoutMs == 0 ? kNoTimeoutMs : timeoutMs)) {
    case platform::WaitResult::Ready: return true;
    case platform::WaitResult::TimedOut: log.logError(kMsgConnectTimeout); return false;
    case platform::WaitResult::Failed: log.logError("select returned a socket error"); return false;
    }
    return false;
}

bool TessikSocket::waitWriteableHeartbeat(unsigned int heartbeatMs, unsigned int initialDelayMs, unsigned int timeoutMs,
                                          bool isConnect, LogBase& log, ProgressMonitor* pm, bool* failed,
                                          bool* aborted, bool* timedOut, bool* socketError) {
    *failed = false;
    *aborted = false;
    *timedOut = false;
    *socketError = false;
    if (heartbeatMs != 0 && heartbeatMs < kMinHeartbeatMs) {
        heartbeatMs = kMinHeartbeatMs;
    }
    if (timeoutMs == 0) {
        timeoutMs = kNoTimeoutMs;
    }
    if (m_socket == platform::INVALID_SOCKET) {
        log.logError("invalid socket, not ready for writing.");
        *failed = true;
        *socketError = true;
        return false;
    }
    const char* timeoutText =
        isConnect ? "timeout waiting for connect to complete;" : "socket is not ready for writing;";
    if (pm == nullptr || heartbeatMs == 0) {
        switch (platform::SocketWait(m_socket, platform::WaitFor::Write, timeoutMs)) {
        case platform::WaitResult::Ready: return true;
        case platform::WaitResult::TimedOut:
            log.logError(timeoutText);
            *timedOut = true;
            break;
        case platform::WaitResult::Failed:
            log.logError("select returned a socket error");
            *socketError = true;
            break;
        }
        *failed = true;
        return false;
    }
    while (initialDelayMs > 0) {
        unsigned int slice = initialDelayMs < heartbeatMs ? initialDelayMs : heartbeatMs;
        platform::Sleep(slice);
        initialDelayMs -= slice;
        if (pm->abortCheck(heartbeatMs, 0)) {
            log.logError("socket operation aborted by application callback..");
            *aborted = true;
            *failed = true;
            return false;
        }
    }
    unsigned int waited = 0;
    while (waited < timeoutMs) {
        unsigned int slice = timeoutMs - waited < heartbeatMs ? timeoutMs - waited : heartbeatMs;
        platform::WaitResult r = platform::SocketWait(m_socket, platform::WaitFor::Write, slice);
        if (r == platform::WaitResult::Failed) {
            log.logError("select returned a socket error");
            *socketError = true;
            *failed = true;
            return false;
        }
        if (r == platform::WaitResult::Ready) {
            return true;
        }
        waited += slice;
        if (waited >= timeoutMs) {
            break;
        }
        if (pm->abortCheck(heartbeatMs, 0)) {
            log.logError("socket operation aborted by application callback");
            *aborted = true;
            *failed = true;
            return false;
        }
    }
    log.logError(timeoutText);
    *timedOut = true;
    *failed = true;
    return false;
}

bool TessikSocket::createSocket(LogBase& log, bool bind) {
    if (!startupWSA(log)) {
        log.logError("startupWSA failed.");
        return false;
    }
    closeSocket();
    m_socket = platform::SocketOpen(platform::WS_AF_INET);
    if (m_socket == platform::INVALID_SOCKET) {
        logSocketError(platform::WSAGetLastError(), log);
        log.logError("Failed to create TCP socket (AF_INET / SOCK_STREAM)");
        return false;
    }
    m_family = kFamilyIpv4;
    return prepareNewSocket(bind, log);
}

bool TessikSocket::createSocketIpv6(const addrinfo* entry, LogBase& log, bool bind) {
    if (entry == nullptr) {
        log.logError("NULL pointer passed to createSocket_ipv6");
        return false;
    }
    if (!startupWSA(log)) {
        return false;
    }
    closeSocket();
    int family = platform::WinsockFamily(entry->ai_family);
    m_socket = platform::SocketOpen(family);
    if (m_socket == platform::INVALID_SOCKET) {
        log.logDataLong("ai_family", family);
        log.logDataLong("ai_socktype", entry->ai_socktype);
        log.logDataLong("ai_protocol", entry->ai_protocol);
        logSocketError(platform::WSAGetLastError(), log);
        return false;
    }
    m_family = family;
    return prepareNewSocket(bind, log);
}

bool TessikSocket::prepareNewSocket(bool bind, LogBase& log) {
    applyBufferSizes();
    // A message often goes out in more than one write (a request's head,
    // then its body): without this the second waits for the peer's delayed
    // acknowledgement of the first.
    platform::SocketSetOption(m_socket, IPPROTO_TCP, TCP_NODELAY, 1);
    if (!bind || (m_bindIp.getSize() == 0 && m_bindPort == 0)) {
        return true;
    }
    log.logData("BindIpAddr", m_bindIp.getString());
    if (m_bindPort != 0) {
        log.logDataLong("BindPort", static_cast<int>(m_bindPort));
    }
    if (!bindLocal(m_bindIp.getString(), log)) {
        log.logError(kMsgBindFailed);
        closeSocket();
        return false;
    }
    return true;
}

bool TessikSocket::bindLocal(const char* ip, LogBase& log) {
    log.logData("ClientBindIP", ip);
    log.logData("ipAddr", ip);
    log.logDataLong("port", static_cast<int>(m_bindPort));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = (ip == nullptr || *ip == '\0') ? 0 : platform::InetAddr(ip);
    address.sin_port = htons(static_cast<std::uint16_t>(m_bindPort));
    log.logDataHex("bindSockAddr", &address, sizeof address);
    if (!platform::SocketBind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address)) {
        logSocketError(platform::WSAGetLastError(), log);
        log.logError("Socket bind failed.");
        return false;
    }
    log.logInfo("Socket bind successful.");
    return true;
}

} // namespace tessik
