#pragma once
// Thin wrappers of the system calls the library makes in many places.
#include <cstdarg>

#include "platform/CryptProv.h"
#include "platform/Registry.h"
#include "platform/WinTypes.h"

namespace tessik {

class StringBuffer;

void sleepMs(DWORD milliseconds);
// Append the name; nothing when the call fails.
void getUserNameSb(tessik::StringBuffer& out);
void getComputerNameSb(tessik::StringBuffer& out);

// Registry, message table and cryptographic provider: each passes its
// arguments through to the platform stand-in and returns its result.

LONG regOpenKey(platform::HKEY key, const char* subKey, DWORD options, DWORD samDesired, platform::HKEY* result);
LONG regCreateKey(platform::HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                  DWORD samDesired, const void* securityAttributes, platform::HKEY* result, DWORD* disposition);
DWORD formatMessage(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                    va_list* arguments);
BOOL cryptAcquireContext(platform::HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType,
                         DWORD flags);
// A verify context of the base provider (full RSA, no key container): the
// first of four flag sets that works; 0 when none does.
platform::HCRYPTPROV acquireBaseCryptProvider();

} // namespace tessik
