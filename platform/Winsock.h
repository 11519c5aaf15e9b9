#pragma once
// The socket layer: Windows Sockets over POSIX. Every Linux difference lives
// here and nowhere else: a failed non-blocking connect shows as writable, so
// its outcome comes from SO_ERROR; SIGPIPE is suppressed per send; EINTR is
// retried; waits use poll; errno becomes the Winsock code in the thread's
// last error (GetLastError, the WSAGetLastError of this layer).
#include <netdb.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

namespace platform {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Address families as Winsock numbers them.
constexpr int WS_AF_INET = 2;
constexpr int WS_AF_INET6 = 23;
constexpr int WS_SOCK_STREAM = 1;

// The Winsock number of a POSIX address family (AF_INET6 is 23 there).
int WinsockFamily(int posixFamily);

// Windows Sockets needs no start here: always 0 (success) and the version
// asked for.
int WSAStartup(WORD versionRequested, WORD* versionGranted);
int WSAGetLastError();

// inet_addr: the address in network byte order, INADDR_NONE (all ones) for
// text it refuses.
std::uint32_t InetAddr(const char* text);
// Where an IPv6 literal's zone begins in a host ("fe80::1%eth0": at the
// '%'); npos for a name or an IPv4 address, which have none. The zone names
// an interface of this machine: no peer, Host field or certificate sees it.
std::size_t Ipv6ZoneStart(std::string_view host);

SOCKET SocketOpen(int family);
void SocketClose(SOCKET s);
bool SocketSetNonBlocking(SOCKET s, bool nonBlocking);
bool SocketSetOption(SOCKET s, int level, int option, int value);
// Zero when connected at once, WSAEWOULDBLOCK while it goes on, else the code.
DWORD SocketConnectStart(SOCKET s, const sockaddr* address, socklen_t length);
// The outcome of a pending connect once the socket is writable: 0 or the code.
DWORD SocketConnectResult(SOCKET s);

enum class WaitFor { Read, Write };
enum class WaitResult { Ready, TimedOut, Failed };
// Waits up to timeoutMs (0: only looks) for the socket to become readable or
// writable; a hang-up or error on the socket counts as ready.
WaitResult SocketWait(SOCKET s, WaitFor what, DWORD timeoutMs);

// Bytes moved, or -1 with the last error set (WSAEWOULDBLOCK when a
// non-blocking socket, or a call told not to wait, has nothing to give or
// take). Receiving 0 means the peer closed.
long SocketSend(SOCKET s, const void* data, std::size_t size, bool noWait = false);
long SocketRecv(SOCKET s, void* data, std::size_t size, bool noWait = false);
// How long a receive that waits may wait (0: for ever); it then fails with
// WSAEWOULDBLOCK.
bool SocketSetReceiveTimeout(SOCKET s, DWORD timeoutMs);
bool SocketShutdownSend(SOCKET s);
bool SocketShutdownBoth(SOCKET s);
bool SocketBind(SOCKET s, const sockaddr* address, socklen_t length);
bool SocketLocalAddress(SOCKET s, sockaddr_storage* address);

// Name lookups. Both go through the test resolver when one is set.
// gethostbyname for IPv4: the addresses in network byte order; false (last
// error WSAHOST_NOT_FOUND) when the name has none.
bool LookupIpv4(const char* name, std::vector<std::uint32_t>* addresses);
// getaddrinfo; the list is freed with FreeAddrInfo.
int GetAddrInfo(const char* host, const char* service, const addrinfo* hints, addrinfo** result);
void FreeAddrInfo(addrinfo* list);

// Test-only: replaces every lookup above. The hook gets the host name and
// returns the address text to use (an IPv4 or IPv6 literal), or an empty text
// for a name that does not exist. Tests map the names they use to 127.0.0.1,
// so they never wait on a real resolver. An empty function removes it.
using ResolverHook = std::function<std::string(const std::string& host)>;
void SetResolverHook(ResolverHook hook);

} // namespace platform
