#pragma once
// The registry calls the library makes, over a small in-process store. The
// system's proxy settings are not stored: the Internet Settings key answers
// ProxyEnable, ProxyServer and ProxyOverride from the http_proxy,
// https_proxy, all_proxy and no_proxy environment variables at each query
// (the last three in either case; HTTP_PROXY is no proxy setting).
// ProxyServer keeps the user information of a proxy's URL, and
// ProxyOverride is no_proxy as it stands: their reader applies curl's rules.
#include <cstdint>

#include "platform/WinTypes.h"

namespace platform {

using HKEY = std::uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;

constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Under HKEY_CURRENT_USER.
constexpr const char* kInternetSettingsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Results are Windows error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
// ERROR_MORE_DATA, ERROR_INVALID_HANDLE …). Key names compare without case.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result);
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options, DWORD samDesired,
                     const void* securityAttributes, HKEY* result, DWORD* disposition);
// With a null data pointer only the size is reported; a too small buffer
// gives ERROR_MORE_DATA and the size needed. REG_SZ data counts its NUL.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);

// Empties the store (tests).
void RegResetForTest();

} // namespace platform
