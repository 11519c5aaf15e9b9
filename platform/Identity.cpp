#include "platform/Identity.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/WinErr.h"

namespace platform {
namespace {

BOOL copyOut(const std::string& name, char* buffer, DWORD* size, bool countNul) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD need = static_cast<DWORD>(name.size() + 1);
    if (!buffer || *size < need) {
        *size = need;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), need);
    *size = countNul ? need : need - 1;
    return TRUE;
}

} // namespace

BOOL GetUserNameA(char* buffer, DWORD* size) {
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> scratch(16384);
    int rc = getpwuid_r(geteuid(), &pw, scratch.data(), scratch.size(), &found);
    if (rc != 0 || !found || !found->pw_name) {
        SetLastErrorFromErrno(rc ? rc : ENOENT);
        return FALSE;
    }
    return copyOut(found->pw_name, buffer, size, true);
}

BOOL GetComputerNameA(char* buffer, DWORD* size) {
    char host[256];
    if (gethostname(host, sizeof host) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    host[sizeof host - 1] = 0;
    // The NetBIOS-style name: the first label only.
    std::string name(host);
    name = name.substr(0, name.find('.'));
    return copyOut(name, buffer, size, false);
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct utsname name;
    if (uname(&name) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    DWORD parts[3] = {0, 0, 0};
    const char* p = name.release;
    for (DWORD& part : parts) {
        char* end = nullptr;
        part = static_cast<DWORD>(std::strtoul(p, &end, 10));
        if (end == p || *end != '.')
            break;
        p = end + 1;
    }
    info->dwMajorVersion = parts[0];
    info->dwMinorVersion = parts[1];
    info->dwBuildNumber = parts[2];
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = '\0';
    return TRUE;
}

} // namespace platform
