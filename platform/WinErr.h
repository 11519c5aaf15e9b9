#pragma once
// Windows error numbers over errno: the library branches on these codes, so
// every POSIX failure is mapped to the code the Windows call would have set.
#include <string>

#include "platform/WinTypes.h"

namespace platform {

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

// Socket errors (Winsock numbering).
constexpr DWORD WSAEINTR = 10004;
constexpr DWORD WSAEACCES = 10013;
constexpr DWORD WSAEFAULT = 10014;
constexpr DWORD WSAEINVAL = 10022;
constexpr DWORD WSAEMFILE = 10024;
constexpr DWORD WSAEWOULDBLOCK = 10035;
constexpr DWORD WSAEINPROGRESS = 10036;
constexpr DWORD WSAEALREADY = 10037;
constexpr DWORD WSAENOTSOCK = 10038;
constexpr DWORD WSAEMSGSIZE = 10040;
constexpr DWORD WSAEPROTOTYPE = 10041;
constexpr DWORD WSAEPROTONOSUPPORT = 10043;
constexpr DWORD WSAESOCKTNOSUPPORT = 10044;
constexpr DWORD WSAEAFNOSUPPORT = 10047;
constexpr DWORD WSAEADDRINUSE = 10048;
constexpr DWORD WSAEADDRNOTAVAIL = 10049;
constexpr DWORD WSAENETDOWN = 10050;
constexpr DWORD WSAENETUNREACH = 10051;
constexpr DWORD WSAECONNABORTED = 10053;
constexpr DWORD WSAECONNRESET = 10054;
constexpr DWORD WSAENOBUFS = 10055;
constexpr DWORD WSAEISCONN = 10056;
constexpr DWORD WSAENOTCONN = 10057;
constexpr DWORD WSAESHUTDOWN = 10058;
constexpr DWORD WSAETIMEDOUT = 10060;
constexpr DWORD WSAECONNREFUSED = 10061;
constexpr DWORD WSAEHOSTUNREACH = 10065;
constexpr DWORD WSAEPROCLIM = 10067;
constexpr DWORD WSASYSNOTREADY = 10091;
constexpr DWORD WSAVERNOTSUPPORTED = 10092;
constexpr DWORD WSANOTINITIALISED = 10093;
constexpr DWORD WSAEPROVIDERFAILEDINIT = 10106;
constexpr DWORD WSAHOST_NOT_FOUND = 11001;

// The calling thread's last error, like the Windows per-thread value.
DWORD GetLastError();
void SetLastError(DWORD code);

// Maps an errno value to its Windows code (file-system meaning).
DWORD WinErrorFromErrno(int err);
// Same for socket calls: ECONNREFUSED → WSAECONNREFUSED, EAGAIN → WSAEWOULDBLOCK …
DWORD WsaErrorFromErrno(int err);
// Sets the last error from errno and returns it.
DWORD SetLastErrorFromErrno(int err);

// Human-readable text of a code, as the system's message table would give it.
std::string WinErrorText(DWORD code);

} // namespace platform
