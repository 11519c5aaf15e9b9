#include "platform/Winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/WinErr.h"

namespace platform {
namespace {

std::mutex g_hookLock;
ResolverHook g_hook;

bool HookAnswer(const char* name, std::string* answer) {
    ResolverHook hook;
    {
        std::lock_guard<std::mutex> hold(g_hookLock);
        hook = g_hook;
    }
    // Called unlocked: a hook may take its time, as a slow resolver would.
    if (!hook) {
        return false;
    }
    *answer = hook(name);
    return true;
}

DWORD FailWithErrno() {
    DWORD code = WsaErrorFromErrno(errno);
    SetLastError(code);
    return code;
}

int PosixFamily(int family) {
    if (family == WS_AF_INET6) {
        return AF_INET6;
    }
    return family == WS_AF_INET ? AF_INET : family;
}

} // namespace

int WinsockFamily(int posixFamily) {
    if (posixFamily == AF_INET6) {
        return WS_AF_INET6;
    }
    return posixFamily == AF_INET ? WS_AF_INET : posixFamily;
}

int WSAStartup(WORD versionRequested, WORD* versionGranted) {
    if (versionGranted != nullptr) {
        *versionGranted = versionRequested;
    }
    return 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

std::size_t Ipv6ZoneStart(std::string_view host) {
    return host.find(':') == std::string_view::npos ? std::string_view::npos : host.find('%');
}

std::uint32_t InetAddr(const char* text) {
    return text == nullptr ? INADDR_NONE : inet_addr(text);
}

SOCKET SocketOpen(int family) {
    SOCKET s = socket(PosixFamily(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        FailWithErrno();
        return INVALID_SOCKET;
    }
    return s;
}

void SocketClose(SOCKET s) {
    if (s != INVALID_SOCKET) {
        // Linux frees the descriptor even when close reports EINTR: no retry.
        close(s);
    }
}

bool SocketSetNonBlocking(SOCKET s, bool nonBlocking) {
    int flags = fcntl(s, F_GETFL);
    if (flags < 0) {
        FailWithErrno();
        return false;
    }
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(s, F_SETFL, flags) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

bool SocketSetOption(SOCKET s, int level, int option, int value) {
    if (setsockopt(s, level, option, &value, sizeof value) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

DWORD SocketConnectStart(SOCKET s, const sockaddr* address, socklen_t length) {
    if (connect(s, address, length) == 0) {
        return 0;
    }
    // An interrupted connect goes on in the background, like one in progress.
    if (errno == EINPROGRESS || errno == EINTR || errno == EALREADY) {
        SetLastError(WSAEWOULDBLOCK);
        return WSAEWOULDBLOCK;
    }
    return FailWithErrno();
}

DWORD SocketConnectResult(SOCKET s) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return FailWithErrno();
    }
    DWORD code = WsaErrorFromErrno(error);
    SetLastError(code);
    return code;
}

WaitResult SocketWait(SOCKET s, WaitFor what, DWORD timeoutMs) {
    using Clock = std::chrono::steady_clock;
    // A zero wait needs no clock; otherwise the clock is read again only
    // after an interrupted wait, to know what is left.
    const auto deadline = timeoutMs == 0 ? Clock::time_point{} : Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd entry{};
    entry.fd = s;
    entry.events = what == WaitFor::Read ? POLLIN : POLLOUT;
    long long left = std::min<long long>(timeoutMs, INT_MAX);
    for (;;) {
        int n = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n > 0) {
            if ((entry.revents & POLLNVAL) != 0) {
                SetLastError(WSAENOTSOCK);
                return WaitResult::Failed;
            }
            return WaitResult::Ready;
        }
        if (n == 0) {
            SetLastError(WSAETIMEDOUT);
            return WaitResult::TimedOut;
        }
        if (errno != EINTR) {
            FailWithErrno();
            return WaitResult::Failed;
        }
        if (timeoutMs != 0)
            left = std::min<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count(), INT_MAX);
    }
}

long SocketSend(SOCKET s, const void* data, std::size_t size, bool noWait) {
    for (;;) {
        ssize_t n = send(s, data, size, MSG_NOSIGNAL | (noWait ? MSG_DONTWAIT : 0));
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno != EINTR) {
            FailWithErrno();
            return -1;
        }
    }
}

long SocketRecv(SOCKET s, void* data, std::size_t size, bool noWait) {
    for (;;) {
        ssize_t n = recv(s, data, size, noWait ? MSG_DONTWAIT : 0);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno != EINTR) {
            FailWithErrno();
            return -1;
        }
    }
}

bool SocketSetReceiveTimeout(SOCKET s, DWORD timeoutMs) {
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    wait.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

bool SocketShutdownSend(SOCKET s) {
    if (shutdown(s, SHUT_WR) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

bool SocketShutdownBoth(SOCKET s) {
    if (shutdown(s, SHUT_RDWR) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

bool SocketBind(SOCKET s, const sockaddr* address, socklen_t length) {
    if (bind(s, address, length) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

bool SocketLocalAddress(SOCKET s, sockaddr_storage* address) {
    socklen_t size = sizeof *address;
    if (getsockname(s, reinterpret_cast<sockaddr*>(address), &size) != 0) {
        FailWithErrno();
        return false;
    }
    return true;
}

int GetAddrInfo(const char* host, const char* service, const addrinfo* hints, addrinfo** result) {
    *result = nullptr;
    std::string answer;
    int rc = 0;
    if (host != nullptr && HookAnswer(host, &answer)) {
        if (answer.empty()) {
            rc = EAI_NONAME;
        } else {
            addrinfo numeric{};
            if (hints != nullptr) {
                numeric = *hints;
            }
            numeric.ai_flags |= AI_NUMERICHOST;
            rc = getaddrinfo(answer.c_str(), service, &numeric, result);
        }
    } else {
        rc = getaddrinfo(host, service, hints, result);
    }
    if (rc != 0) {
        SetLastError(rc == EAI_SYSTEM ? WsaErrorFromErrno(errno) : WSAHOST_NOT_FOUND);
    }
    return rc;
}

void FreeAddrInfo(addrinfo* list) {
    if (list != nullptr) {
        freeaddrinfo(list);
    }
}

bool LookupIpv4(const char* name, std::vector<std::uint32_t>* addresses) {
    addresses->clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (GetAddrInfo(name, nullptr, &hints, &list) != 0) {
        return false;
    }
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
            addresses->push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
        }
    }
    FreeAddrInfo(list);
    if (addresses->empty()) {
        SetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    return true;
}

void SetResolverHook(ResolverHook hook) {
    std::lock_guard<std::mutex> hold(g_hookLock);
    g_hook = std::move(hook);
}

} // namespace platform
