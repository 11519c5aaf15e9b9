#include "netlib/transport/HostnameResolve.h"

#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "netlib/transport/DnsCache.h"
#include "netlib/transport/WinsockLoader.h"
#include "platform/Ticks.h"
#include "platform/Winsock.h"

namespace tessik {
namespace {

std::atomic<int> g_liveObjects{0};

// Bytes deleted from a host name before its second lookup.
constexpr const char* kNameJunk = " \t\r\n'\"<>:/@?";
constexpr std::size_t kServiceTextSize = 16;

// The host part of what a caller passed: no scheme, no path, no port. For
// the address-info route an IPv6 literal (bare or in brackets) is kept
// whole, since its colons are not a port separator.
void hostPart(const char* host, bool ipv6Literals, StringBuffer& name) {
    name.setString(host);
    name.replaceFirst("http://", "");
    name.replaceFirst("https://", "");
    name.chopAtFirstChar('/');
    if (ipv6Literals) {
        name.trimWhitespace();
        unsigned char bytes[16];
        if (name.charAt(0) == '[' && name.containsChar(']')) {
            name.chopAtFirstChar(']');
            name.setString(name.getString() + 1);
            return;
        }
        if (parseIpv6(name.getString(), bytes)) {
            return;
        }
    }
    name.chopAtFirstChar(':');
    name.trimWhitespace();
}

bool invalidName(const StringBuffer& name, const char* host, LogBase& log) {
    if (name.getSize() != 0) {
        return false;
    }
    log.logError(kMsgInvalidHostname);
    log.logData("hostname", host != nullptr ? host : "");
    return true;
}

// Polls a worker until it is done (true), the monitor aborts or the time
// limit passes (false). Abort and time are checked every heartbeatMs steps.
bool waitForWorker(const std::atomic<bool>& running, unsigned int heartbeatMs, unsigned int timeoutMs, DWORD t1,
                   ProgressMonitor* pm, LogBase& log, bool* aborted, bool* timedOut) {
    unsigned int sinceCheck = 0;
    for (unsigned int step = 1;; ++step) {
        platform::Sleep(step <= kFastPollSteps ? kFastPollMs : kSlowPollMs);
        if (++sinceCheck >= heartbeatMs) {
            sinceCheck = 0;
            if (pm->abortCheck(heartbeatMs, 0)) {
                *aborted = true;
                log.logError(kMsgDnsAborted);
                return false;
            }
            DWORD now = platform::GetTickCount();
            if (timeoutMs != 0 && now > t1 && now - t1 > timeoutMs) {
                *timedOut = true;
                return false;
            }
        }
        if (!running.load(std::memory_order_acquire)) {
            return true;
        }
    }
}

// Runs work on a thread of its own, which holds a reference of the lookup
// and clears running when done, then polls it as waitForWorker does.
template <typename Work>
bool runOnWorker(RefCountedObject* lookup, Work work, std::atomic<bool>& running, const char* info,
                 unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm, LogBase& log, bool* aborted,
                 bool* timedOut) {
    running.store(true);
    lookup->addRef();
    DWORD t1 = platform::GetTickCount();
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        running.store(false);
        lookup->release();
        log.logError("Failed to start the name lookup thread.");
        return false;
    }
    log.logInfo(info);
    return waitForWorker(running, heartbeatMs, timeoutMs, t1, pm, log, aborted, timedOut);
}

void dottedQuad(std::uint32_t address, StringBuffer& out) {
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    formatIpv4(bytes, out);
}

// Subtracts the time a lookup took from the limit; false (timed out) when
// nothing is left.
bool timeLeft(DWORD t0, unsigned int* timeoutMs, bool* timedOut, LogBase& log) {
    DWORD now = platform::GetTickCount();
    if (*timeoutMs == 0 || now < t0) {
        return true;
    }
    DWORD used = now - t0;
    if (used >= *timeoutMs) {
        *timedOut = true;
        log.logError(kMsgDnsTimedOut);
        return false;
    }
    *timeoutMs -= used;
    return true;
}

// One lookup through a fresh resolver that this call holds a reference to.
bool lookupOnce(const char* name, unsigned int timeoutMs, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm,
                StringBuffer& ipText, std::uint32_t* address, bool* aborted, bool* timedOut, const char* noMemory) {
    HostnameResolve* resolver = new (std::nothrow) HostnameResolve;
    if (resolver == nullptr) {
        log.logError(noMemory);
        return false;
    }
    resolver->addRef();
    ipText.clear();
    bool ok = resolver->resolve(name, timeoutMs, heartbeatMs, log, pm, ipText, address, aborted, timedOut);
    resolver->release();
    return ok;
}

} // namespace

RefCountedObject::RefCountedObject() : m_refCount(0) {
    ++g_liveObjects;
}

RefCountedObject::~RefCountedObject() {
    --g_liveObjects;
}

void RefCountedObject::addRef() {
    m_refCount.fetch_add(1);
}

void RefCountedObject::release() {
    int before = m_refCount.load();
    while (!m_refCount.compare_exchange_weak(before, before < 1 ? 0 : before - 1)) {
    }
    if (before == 1) {
        delete this;
    }
}

int RefCountedObject::liveObjects() {
    return g_liveObjects.load();
}

HostnameResolve::HostnameResolve() : m_heartbeatMs(0), m_pm(nullptr), m_running(false), m_address(0) {}

HostnameResolve::~HostnameResolve() = default;

bool HostnameResolve::resolve(const char* host, unsigned int timeoutMs, unsigned int heartbeatMs, LogBase& log,
                              ProgressMonitor* pm, StringBuffer& ipText, std::uint32_t* address, bool* aborted,
                              bool* timedOut) {
    *aborted = false;
    *timedOut = false;
    ipText.clear();
    *address = 0;
    StringBuffer name;
    hostPart(host, false, name);
    if (invalidName(name, host, log)) {
        return false;
    }
    if (pm != nullptr) {
        pm->progressInfo("HostnameResolve", name.getString());
    }
    startupWSA(log);
    if (heartbeatMs == 0 || pm == nullptr) {
        log.logInfo("Resolving domain name (IPV4) via gethostbyname");
        std::vector<std::uint32_t> addresses;
        if (!ws2Functions().gethostbyname(name.getString(), &addresses)) {
            return false;
        }
        if (!addresses.empty()) {
            *address = addresses[0];
            dottedQuad(addresses[0], ipText);
        }
        if (pm != nullptr) {
            pm->progressInfo("ResolvedToIp", ipText.getString());
        }
        return true;
    }

    log.logData("dnsCacheLookup", name.getString());
    StringBuffer cached;
    int b[4] = {};
    if (dnsCacheLookup(name.getString(), cached) && cached.getSize() != 0 &&
        std::sscanf(cached.getString(), "%d.%d.%d.%d", &b[0], &b[1], &b[2], &b[3]) == 4) {
        unsigned char bytes[4] = {static_cast<unsigned char>(b[0]), static_cast<unsigned char>(b[1]),
                                  static_cast<unsigned char>(b[2]), static_cast<unsigned char>(b[3])};
        std::memcpy(address, bytes, sizeof bytes);
        ipText.setSb(cached);
        pm->progressInfo("ResolvedToIp", cached.getString());
        log.logData("dnsCacheHit", cached.getString());
        return true;
    }

    m_host.setSb(name);
    m_heartbeatMs = heartbeatMs;
    m_pm = pm;
    if (!runOnWorker(
            this, [this] { work(); }, m_running, "Resolving domain name (IPV4)", heartbeatMs, timeoutMs, pm, log,
            aborted, timedOut)) {
        return false;
    }
    ipText.setSb(m_ipText);
    *address = m_address;
    if (ipText.getSize() == 0) {
        return false;
    }
    dnsCacheInsert(name.getString(), ipText.getString());
    pm->progressInfo("ResolvedToIp", ipText.getString());
    return true;
}

void HostnameResolve::work() {
    std::vector<std::uint32_t> addresses;
    if (!ws2Functions().gethostbyname(m_host.getString(), &addresses)) {
        m_ipText.clear();
    } else {
        m_address = addresses.empty() ? 0 : addresses[0];
        if (!addresses.empty()) {
            dottedQuad(addresses[0], m_ipText);
        }
    }
    m_running.store(false, std::memory_order_release);
    release();
}

HostnameResolveIpv6::HostnameResolveIpv6()
    : m_running(false), m_heartbeatMs(0), m_pm(nullptr), m_port(0), m_hints{}, m_hasHints(false), m_result(nullptr),
      m_ok(false) {}

HostnameResolveIpv6::~HostnameResolveIpv6() {
    platform::FreeAddrInfo(m_result);
}

bool HostnameResolveIpv6::resolve(const char* host, int port, unsigned int timeoutMs, unsigned int heartbeatMs,
                                  LogBase& log, ProgressMonitor* pm, const addrinfo* hints, addrinfo** result,
                                  bool* aborted, bool* timedOut) {
    *aborted = false;
    *timedOut = false;
    *result = nullptr;
    StringBuffer name;
    hostPart(host, true, name);
    if (invalidName(name, host, log)) {
        return false;
    }
    if (pm != nullptr) {
        pm->progressInfo("HostnameResolveIpv6", name.getString());
    }
    if (heartbeatMs == 0 || pm == nullptr) {
        return getAddrInfoLookup(name.getString(), port, hints, result, log);
    }

    m_heartbeatMs = heartbeatMs;
    m_pm = pm;
    m_host.setSb(name);
    m_port = port;
    m_hasHints = hints != nullptr;
    if (hints != nullptr) {
        m_hints.ai_flags = hints->ai_flags;
        m_hints.ai_family = hints->ai_family;
        m_hints.ai_socktype = hints->ai_socktype;
        m_hints.ai_protocol = hints->ai_protocol;
    }
    m_ok = false;
    if (!runOnWorker(
            this, [this] { work(); }, m_running, "Resolving domain name (IPV4/IPV6)...", heartbeatMs, timeoutMs, pm,
            log, aborted, timedOut)) {
        return false;
    }
    *result = m_result;
    m_result = nullptr;
    return m_ok;
}

void HostnameResolveIpv6::work() {
    LogNull quiet;
    m_ok = getAddrInfoLookup(m_host.getString(), m_port, m_hasHints ? &m_hints : nullptr, &m_result, quiet);
    m_running.store(false, std::memory_order_release);
    release();
}

bool resolveHostIpv4(const char* host, unsigned int timeoutMs, unsigned int heartbeatMs, LogBase& log,
                     ProgressMonitor* pm, StringBuffer& ipText, std::uint32_t* address, bool* aborted, bool* timedOut) {
    *aborted = false;
    *timedOut = false;
    ipText.clear();
    if (!startupWSA(log)) {
        return false;
    }
    DWORD t0 = platform::GetTickCount();
    if (lookupOnce(host, timeoutMs, heartbeatMs, log, pm, ipText, address, aborted, timedOut,
                   "Memory allocation failure.") &&
        ipText.getSize() != 0) {
        return true;
    }
    if (!timeLeft(t0, &timeoutMs, timedOut, log)) {
        return false;
    }

    StringBuffer cleaned(host);
    cleaned.trimWhitespace();
    for (const char* junk = kNameJunk; *junk != '\0'; ++junk) {
        cleaned.removeChar(*junk);
    }
    if (cleaned.getSize() == 0) {
        return false;
    }
    cleaned.toLowerCase();
    if (static_cast<std::size_t>(cleaned.getSize()) != std::strlen(host != nullptr ? host : "")) {
        t0 = platform::GetTickCount();
        if (lookupOnce(cleaned.getString(), timeoutMs, heartbeatMs, log, pm, ipText, address, aborted, timedOut,
                       "Memory allocation error") &&
            ipText.getSize() != 0) {
            return true;
        }
        if (!timeLeft(t0, &timeoutMs, timedOut, log)) {
            return false;
        }
    }
    if (cleaned.countChar('.') != 1) {
        return false;
    }
    cleaned.prepend("www.");
    return lookupOnce(cleaned.getString(), timeoutMs, heartbeatMs, log, pm, ipText, address, aborted, timedOut,
                      "Memory allocation error");
}

bool getAddrInfoLookup(const char* host, int port, const addrinfo* hints, addrinfo** result, LogBase& log) {
    startupWSA(log);
    char service[kServiceTextSize];
    std::snprintf(service, sizeof service, "%d", port);
    if (!addressInfoAvailable()) {
        log.logError("No getaddrinfo function.");
        return false;
    }
    if (ws2Functions().getaddrinfo(host, service, hints, result) != 0) {
        log.logError("Failed to get host address info. (3)");
        logSocketError(platform::WSAGetLastError(), log);
        log.logData("hostOrIpAddr", host != nullptr ? host : "");
        log.logDataLong("port", port);
        log.logInfo("Versions of Windows earlier than Windows XP are limited to handling IPv4 only");
        log.logInfo("On Windows Server 2003 and Windows XP, IPv6 addresses are returned only if IPv6 is installed on "
                    "the local computer.");
        return false;
    }
    return true;
}

bool dnsLookupToIp(const char* host, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                   ProgressMonitor* pm, XString& out, bool* aborted, bool* timedOut) {
    *aborted = false;
    *timedOut = false;
    if (host == nullptr) {
        log.logError("DNS lookup failed; hostname is NULL");
        return false;
    }
    StringBuffer name(host);
    name.trimWhitespace();
    if (name.getSize() == 0) {
        log.logError("DNS lookup failed; hostname is empty");
        return false;
    }
    if (name.equalsNoCase("localhost")) {
        out.setFromUtf8("127.0.0.1");
        return true;
    }
    startupWSA(log);
    if (platform::InetAddr(name.getString()) != INADDR_NONE) {
        log.logError(kMsgIpPassedToDns);
        log.logData("hostname", name.getString());
        return false;
    }
    StringBuffer ipText;
    std::uint32_t address = 0;
    resolveHostIpv4(name.getString(), timeoutMs, heartbeatMs, log, pm, ipText, &address, aborted, timedOut);
    if (ipText.getSize() == 0) {
        log.logError(kMsgDnsFailed);
        log.logData("hostname", name.getString());
        return false;
    }
    out.setFromUtf8(ipText.getString());
    return true;
}

bool dnsLookupOrNumeric(const char* host, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                        ProgressMonitor* pm, XString& out, bool* aborted, bool* timedOut) {
    *aborted = false;
    *timedOut = false;
    StringBuffer name(host);
    name.trimWhitespace();
    if (isDottedQuad(name.getString())) {
        out.setFromUtf8(name.getString());
        return true;
    }
    return dnsLookupToIp(host, heartbeatMs, timeoutMs, log, pm, out, aborted, timedOut);
}

bool isDottedQuad(const char* text) {
    return platform::InetAddr(text) != INADDR_NONE;
}

void logAddrInfoList(const addrinfo* list, LogBase& log) {
    log.enterContext("AddrInfoList", true);
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        log.enterContext("AddrInfo", true);
        log.logDataLong("ai_flags", ai->ai_flags);
        log.logDataLong("ai_family", platform::WinsockFamily(ai->ai_family));
        log.logDataLong("ai_socktype", ai->ai_socktype);
        log.logDataLong("ai_protocol", ai->ai_protocol);
        log.logDataLong("ai_addrlen", static_cast<int>(ai->ai_addrlen));
        log.logData("ai_canonname", ai->ai_canonname != nullptr ? ai->ai_canonname : "(NULL)");
        log.leaveContext();
    }
    log.leaveContext();
}

namespace {

const addrinfo* findStream(const addrinfo* list, int family) {
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_socktype == SOCK_STREAM && ai->ai_family == family) {
            return ai;
        }
    }
    return nullptr;
}

} // namespace

const addrinfo* findAddrInfoIpv4(const addrinfo* list) {
    return findStream(list, AF_INET);
}

const addrinfo* findAddrInfoIpv6(const addrinfo* list) {
    return findStream(list, AF_INET6);
}

} // namespace tessik
