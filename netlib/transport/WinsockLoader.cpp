#include "netlib/transport/WinsockLoader.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "platform/ByteOrder.h"
#include "platform/WinErr.h"
#include "platform/Winsock.h"

namespace tessik {
namespace {

constexpr WORD kPreferredVersion = 0x0909;
constexpr int kHighestFallbackMajor = 5;
constexpr int kHighestFallbackMinor = 1;
constexpr int kLastMinor = 9;

constexpr int kIpv4Parts = 4;
constexpr int kMaxIpv4Part = 255;
constexpr int kIpv6Groups = 8;
constexpr int kMaxGroupDigits = 4;

std::mutex g_startLock;
std::atomic<bool> g_needsStart{true};
bool g_loaded = false;
bool g_loadFailed = false;
bool g_addressInfo = false;
Ws2Functions g_functions;

WORD makeVersion(int major, int minor) {
    return static_cast<WORD>(major | (minor << 8));
}

void logStartupFailure(int code, LogBase& log) {
    switch (code) {
    case platform::WSASYSNOTREADY:
        log.logError("The underlying network subsystem is not ready for network communication.");
        break;
    case platform::WSAVERNOTSUPPORTED:
        log.logError("The version of Windows Sockets support requested is not provided by this particular Windows "
                     "Sockets implementation.");
        break;
    case platform::WSAEINPROGRESS: log.logError("A blocking Windows Sockets 1.1 operation is in progress."); break;
    case platform::WSAEPROCLIM:
        log.logError("Limit on the number of tasks supported by the Windows Sockets implementation has been reached.");
        break;
    case platform::WSAEFAULT: log.logError("The lpWSAData is not a valid pointer."); break;
    default: {
        char text[40];
        std::snprintf(text, sizeof text, "WSAStartup error: 0x%x", static_cast<unsigned>(code));
        log.logError(text);
    }
    }
}

struct SocketErrorText {
    int code;
    const char* text;
    bool referToDocs;
};

constexpr SocketErrorText kSocketErrors[] = {
    {10093, "WSANOTINITIALISED A successful WSAStartup must occur before using this function.", false},
    {10035, "WSAEWOULDBLOCK The socket would block.", true},
    {10053, "WSAECONNABORTED An established connection was aborted by the software in your host machine.", true},
    {10050, "WSAENETDOWN The network subsystem or the associated service provider has failed.", false},
    {10047, "WSAEAFNOSUPPORT The specified address family is not supported.", false},
    {10036,
     "WSAEINPROGRESS A blocking Windows Sockets 1.1 call is in progress, or the service provider is still processing "
     "a callback function.",
     false},
    {10024, "WSAEMFILE No more socket descriptors are available.", false},
    {10055, "WSAENOBUFS No buffer space is available. The socket cannot be created.", false},
    {10043, "WSAEPROTONOSUPPORT The specified protocol is not supported.", false},
    {10041, "WSAEPROTOTYPE The specified protocol is the wrong type for this socket.", false},
    {10044, "WSAESOCKTNOSUPPORT The specified socket type is not supported in this address family.", false},
    {10051, "WSAENETUNREACH A socket operation was attempted to an unreachable network.", false},
    {10060,
     "WSAETIMEDOUT A connection attempt failed because the connected party did not properly respond after a period "
     "of time, or established connection failed because connected host has failed to respond.",
     false},
    {10061, "WSAECONNREFUSED No connection could be made because the target machine actively refused it.", false},
    {10054, "WSAECONNRESET An existing connection was forcibly closed by the remote host.", true},
    {10048,
     "WSAEADDRINUSE Only one usage of each socket address (protocol/network address/port) is normally permitted.",
     false},
    {10013, "WSAEACCES An attempt was made to access a socket in a way forbidden by its access permissions.", false},
    {10022, "WSAEINVAL An invalid argument was supplied.", false},
    {10049, "WSAEADDRNOTAVAIL Cannot assign requested address.", false},
    {10106, "WSAEPROVIDERFAILEDINIT The requested service provider could not be loaded or initialized.", false},
    {11001, "WSAHOST_NOT_FOUND No such host is known.", false},
};

// Groups of hex digits separated by single ':', up to the end or a dotted
// tail (when allowed); the number of groups read, or -1 for bad text.
int parseGroups(const char* text, std::size_t length, std::uint16_t* groups, int maxGroups, bool tailAllowed,
                std::uint32_t* tail, bool* hasTail) {
    *hasTail = false;
    if (length == 0) {
        return 0;
    }
    int count = 0;
    std::size_t i = 0;
    for (;;) {
        std::size_t start = i;
        unsigned value = 0;
        while (i < length && asciiHexValue(text[i]) >= 0 && i - start < kMaxGroupDigits + 1) {
            value = value * 16 + static_cast<unsigned>(asciiHexValue(text[i]));
            ++i;
        }
        if (i < length && text[i] == '.') {
            // A dotted tail takes the last two groups.
            if (!tailAllowed || count + 2 > maxGroups) {
                return -1;
            }
            std::string rest(text + start, length - start);
            if (!parseIpv4(rest.c_str(), tail)) {
                return -1;
            }
            *hasTail = true;
            return count;
        }
        std::size_t digits = i - start;
        if (digits == 0 || digits > kMaxGroupDigits || count == maxGroups) {
            return -1;
        }
        groups[count++] = static_cast<std::uint16_t>(value);
        if (i == length) {
            return count;
        }
        if (text[i] != ':' || i + 1 == length) {
            return -1;
        }
        ++i;
    }
}

} // namespace

bool loadWs2Functions(LogBase& log) {
    if (g_loadFailed) {
        return false;
    }
    if (g_loaded) {
        return true;
    }
    // The entry points are linked in, so the "module" is always there.
    g_functions.getaddrinfo = &platform::GetAddrInfo;
    g_functions.freeaddrinfo = &platform::FreeAddrInfo;
    g_functions.gethostbyname = &platform::LookupIpv4;
    if (g_functions.getaddrinfo == nullptr) {
        log.logError("Failed to find getaddrinfo function in ws2_32.dll");
    }
    if (g_functions.freeaddrinfo == nullptr) {
        log.logError("Failed to find freeaddrinfo function in ws2_32.dll");
    }
    if (g_functions.gethostbyname == nullptr) {
        log.logError("Failed to find gethostbyname function in ws2_32.dll");
    }
    g_addressInfo = g_functions.getaddrinfo != nullptr && g_functions.freeaddrinfo != nullptr;
    g_loaded = true;
    return true;
}

bool startupWSA(LogBase& log) {
    if (!g_needsStart.load(std::memory_order_acquire)) {
        return true;
    }
    // The first sockets may be made on several threads at once.
    std::lock_guard<std::mutex> hold(g_startLock);
    if (!g_needsStart.load(std::memory_order_relaxed)) {
        return true;
    }
    WORD granted = 0;
    int rc = platform::WSAStartup(kPreferredVersion, &granted);
    if (rc == static_cast<int>(platform::WSAVERNOTSUPPORTED)) {
        for (int major = kHighestFallbackMajor, minor = kHighestFallbackMinor; major >= 1;) {
            rc = platform::WSAStartup(makeVersion(major, minor), &granted);
            if (rc == 0) {
                char text[48];
                std::snprintf(text, sizeof text, "Using ws2_32.dll version %d,%d", major, minor);
                log.logData("ws2_32_DLL_Version", text);
            }
            if (rc != static_cast<int>(platform::WSAVERNOTSUPPORTED) || (major == 1 && minor == 0)) {
                break;
            }
            if (minor == 0) {
                --major;
                minor = kLastMinor;
            } else {
                --minor;
            }
        }
    }
    if (rc != 0) {
        logStartupFailure(rc, log);
    }
    loadWs2Functions(log);
    g_needsStart.store(false, std::memory_order_release);
    return rc == 0;
}

const Ws2Functions& ws2Functions() {
    return g_functions;
}

bool addressInfoAvailable() {
    return g_addressInfo;
}

void logSocketError(int code, LogBase& log) {
    for (const SocketErrorText& e : kSocketErrors) {
        if (e.code != code) {
            continue;
        }
        log.logData("SocketError", e.text);
        if (e.referToDocs) {
            log.logInfo("See the socket error codes of the Windows Sockets documentation for what this error means.");
        }
        if (code == static_cast<int>(platform::WSAEPROVIDERFAILEDINIT)) {
            startupWSA(log);
        }
        return;
    }
    char text[32];
    std::snprintf(text, sizeof text, "Error 0x%x", static_cast<unsigned>(code));
    log.logData("SocketError", text);
    log.logError(kFirewallHint);
}

void formatIpv4(const unsigned char bytes[4], StringBuffer& out) {
    for (int i = 0; i < kIpv4Parts; ++i) {
        if (i > 0) {
            out.appendChar('.');
        }
        out.appendUint32(bytes[i]);
    }
}

void formatIpv6(const unsigned char bytes[16], StringBuffer& out) {
    std::uint16_t groups[kIpv6Groups];
    for (int i = 0; i < kIpv6Groups; ++i)
        groups[i] = platform::LoadBe16(bytes + 2 * i);
    bool fiveZero = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 && groups[4] == 0;
    std::uint32_t last32 = (static_cast<std::uint32_t>(groups[6]) << 16) | groups[7];
    bool mapped = fiveZero && groups[5] == 0xFFFF;
    bool compatible = fiveZero && groups[5] == 0 && last32 != 0 && last32 != 1;
    if (mapped || compatible) {
        out.append(mapped ? "::ffff:" : "::");
        formatIpv4(bytes + 12, out);
        return;
    }
    int bestStart = -1;
    int bestLength = 0;
    for (int i = 0; i < kIpv6Groups;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int start = i;
        while (i < kIpv6Groups && groups[i] == 0) {
            ++i;
        }
        if (i - start > bestLength) {
            bestStart = start;
            bestLength = i - start;
        }
    }
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < kIpv6Groups; ++i) {
        if (i == bestStart) {
            out.append("::");
            i += bestLength - 1;
            continue;
        }
        if (i > 0 && i != bestStart + bestLength) {
            out.appendChar(':');
        }
        char hex[5];
        int n = 0;
        for (int shift = 12; shift >= 0; shift -= 4) {
            int digit = (groups[i] >> shift) & 0xF;
            if (digit != 0 || n > 0 || shift == 0) {
                hex[n++] = kDigits[digit];
            }
        }
        hex[n] = '\0';
        out.append(hex);
    }
}

bool formatAddress(int family, const unsigned char* bytes, StringBuffer& out) {
    if (family == kFamilyIpv6) {
        formatIpv6(bytes, out);
        return true;
    }
    if (family == kFamilyIpv4) {
        formatIpv4(bytes, out);
        return true;
    }
    return false;
}

bool parseIpv4(const char* text, std::uint32_t* out) {
    if (text == nullptr) {
        return false;
    }
    unsigned char bytes[kIpv4Parts];
    const char* p = text;
    for (int part = 0; part < kIpv4Parts; ++part) {
        if (part > 0) {
            if (*p != '.') {
                return false;
            }
            ++p;
        }
        int value = 0;
        int digits = 0;
        const char* first = p;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            ++p;
            if (++digits > 3 || value > kMaxIpv4Part) {
                return false;
            }
        }
        // A leading zero could be read as octal elsewhere: refused, as the
        // system's own parser refuses it.
        if (digits == 0 || (digits > 1 && *first == '0')) {
            return false;
        }
        bytes[part] = static_cast<unsigned char>(value);
    }
    if (*p != '\0') {
        return false;
    }
    std::memcpy(out, bytes, sizeof bytes);
    return true;
}

bool parseIpv6(const char* text, unsigned char out[16]) {
    if (text == nullptr) {
        return false;
    }
    std::size_t length = std::strlen(text);
    const char* gap = std::strstr(text, "::");
    std::uint16_t head[kIpv6Groups] = {};
    std::uint16_t tail[kIpv6Groups] = {};
    std::uint32_t v4 = 0;
    bool hasV4 = false;
    int headCount = 0;
    int tailCount = 0;
    if (gap == nullptr) {
        headCount = parseGroups(text, length, head, kIpv6Groups, true, &v4, &hasV4);
        if (headCount < 0 || headCount + (hasV4 ? 2 : 0) != kIpv6Groups) {
            return false;
        }
    } else {
        const char* after = gap + 2;
        if (std::strstr(after, "::") != nullptr) {
            return false;
        }
        bool headTail = false;
        headCount = parseGroups(text, static_cast<std::size_t>(gap - text), head, kIpv6Groups, false, &v4, &headTail);
        std::size_t afterLength = length - static_cast<std::size_t>(after - text);
        if (headCount < 0 || (afterLength > 0 && *after == ':')) {
            return false;
        }
        tailCount = parseGroups(after, afterLength, tail, kIpv6Groups, true, &v4, &hasV4);
        // "::" stands for at least one zero group.
        if (tailCount < 0 || headCount + tailCount + (hasV4 ? 2 : 0) > kIpv6Groups - 1) {
            return false;
        }
    }
    std::uint16_t groups[kIpv6Groups] = {};
    for (int i = 0; i < headCount; ++i) {
        groups[i] = head[i];
    }
    int tailStart = kIpv6Groups - (hasV4 ? 2 : 0) - tailCount;
    for (int i = 0; i < tailCount; ++i) {
        groups[tailStart + i] = tail[i];
    }
    for (int i = 0; i < kIpv6Groups; ++i)
        platform::StoreBe16(out + 2 * i, groups[i]);
    if (hasV4) {
        std::memcpy(out + 12, &v4, sizeof v4);
    }
    return true;
}

} // namespace tessik
