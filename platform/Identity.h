#pragma once
// The user's login name, the machine's name and the system's version, as the
// Windows calls give them.
#include "platform/WinTypes.h"

namespace platform {

// On entry *size is the buffer's size; on success the name is copied with its
// NUL and *size set (user name: counting the NUL; computer name: without it).
// FALSE with ERROR_INSUFFICIENT_BUFFER (and the needed size) when it is too small.
BOOL GetUserNameA(char* buffer, DWORD* size);
BOOL GetComputerNameA(char* buffer, DWORD* size);

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// The running kernel's release ("6.1.0-18-amd64": major 6, minor 1, build 0)
// in the Windows record. FALSE when the record's size field is not set to its
// size.
BOOL GetVersionExA(OSVERSIONINFOA* info);

} // namespace platform
