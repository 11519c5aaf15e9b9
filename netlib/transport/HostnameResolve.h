#pragma once
// Name resolution. The address-info routes (IPv4 and IPv6) call getaddrinfo
// on the caller's thread, or on a worker thread when a heartbeat and a
// progress monitor are given; the IPv4 routes make up to three lookups
// (the name as given, cleaned, then with "www.") through the process-wide
// cache and a worker thread. The caller never blocks on a worker: it polls,
// checks for an abort and gives up at its time limit, and the worker
// finishes by itself. Whichever of the two lets go last frees the lookup.
#include <netdb.h>

#include <atomic>
#include <cstdint>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"

namespace tessik {

inline constexpr const char* kMsgInvalidHostname = "Invalid hostname for resolving hostname to IP address.";
inline constexpr const char* kMsgDnsTimedOut = "DNS timed out.";
inline constexpr const char* kMsgDnsAborted = "DNS lookup aborted by application callback";
inline constexpr const char* kMsgDnsFailed = "DNS lookup failed.";
inline constexpr const char* kMsgIpPassedToDns = "IP address passed to DNS lookup";

// Poll schedule of a caller waiting on a worker: kFastPollSteps steps of
// kFastPollMs, then kSlowPollMs each.
inline constexpr unsigned int kFastPollSteps = 200;
inline constexpr unsigned int kFastPollMs = 2;
inline constexpr unsigned int kSlowPollMs = 10;

class RefCountedObject {
public:
    RefCountedObject();
    virtual void release();
    virtual ~RefCountedObject();
    RefCountedObject(const RefCountedObject&) = delete;
    RefCountedObject& operator=(const RefCountedObject&) = delete;

    void addRef();
    int refCount() const { return m_refCount.load(); }

    // Objects alive right now, so tests can see abandoned lookups end.
    static int liveObjects();

private:
    std::atomic<int> m_refCount;
};

// One IPv4 lookup.
class HostnameResolve : public RefCountedObject {
public:
    HostnameResolve();
    ~HostnameResolve() override;

    bool resolve(const char* host, unsigned int timeoutMs, unsigned int heartbeatMs, LogBase& log, ProgressMonitor* pm,
                 StringBuffer& ipText, std::uint32_t* address, bool* aborted, bool* timedOut);

private:
    void work();

    StringBuffer m_host;
    unsigned int m_heartbeatMs;
    ProgressMonitor* m_pm;
    StringBuffer m_ipText;
    std::atomic<bool> m_running;
    std::uint32_t m_address;
};

// One address-info lookup (IPv4 and IPv6).
class HostnameResolveIpv6 : public RefCountedObject {
public:
    HostnameResolveIpv6();
    ~HostnameResolveIpv6() override;

    // On success *result holds a list the caller frees with freeaddrinfo.
    bool resolve(const char* host, int port, unsigned int timeoutMs, unsigned int heartbeatMs, LogBase& log,
                 ProgressMonitor* pm, const addrinfo* hints, addrinfo** result, bool* aborted, bool* timedOut);

private:
    void work();

    std::atomic<bool> m_running;
    unsigned int m_heartbeatMs;
    ProgressMonitor* m_pm;
    StringBuffer m_host;
    int m_port;
    // The worker's own copies: a caller that gave up may be gone by the time
    // the worker finishes, and an answer nobody took is freed with the object.
    addrinfo m_hints;
    bool m_hasHints;
    addrinfo* m_result;
    bool m_ok;
};

bool resolveHostIpv4(const char* host, unsigned int timeoutMs, unsigned int heartbeatMs, LogBase& log,
                     ProgressMonitor* pm, StringBuffer& ipText, std::uint32_t* address, bool* aborted, bool* timedOut);
bool getAddrInfoLookup(const char* host, int port, const addrinfo* hints, addrinfo** result, LogBase& log);
bool dnsLookupToIp(const char* host, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                   ProgressMonitor* pm, XString& out, bool* aborted, bool* timedOut);
bool dnsLookupOrNumeric(const char* host, unsigned int heartbeatMs, unsigned int timeoutMs, LogBase& log,
                        ProgressMonitor* pm, XString& out, bool* aborted, bool* timedOut);

// What inet_addr accepts, all ones excepted.
bool isDottedQuad(const char* text);
void logAddrInfoList(const addrinfo* list, LogBase& log);
// The first stream entry of the family, or null.
const addrinfo* findAddrInfoIpv4(const addrinfo* list);
const addrinfo* findAddrInfoIpv6(const addrinfo* list);

} // namespace tessik
