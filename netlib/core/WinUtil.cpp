#include "netlib/core/WinUtil.h"

#include "netlib/core/StringBuffer.h"
#include "platform/FormatMessage.h"
#include "platform/Identity.h"
#include "platform/Ticks.h"

namespace tessik {

void sleepMs(DWORD milliseconds) {
    platform::Sleep(milliseconds);
}

void getUserNameSb(tessik::StringBuffer& out) {
    char name[400];
    DWORD size = sizeof name;
    if (platform::GetUserNameA(name, &size))
        out.append(name);
}

void getComputerNameSb(tessik::StringBuffer& out) {
    char name[118];
    DWORD size = sizeof name;
    if (platform::GetComputerNameA(name, &size))
        out.append(name);
}

LONG regOpenKey(platform::HKEY key, const char* subKey, DWORD options, DWORD samDesired, platform::HKEY* result) {
    return platform::RegOpenKeyExA(key, subKey, options, samDesired, result);
}

LONG regCreateKey(platform::HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                  DWORD samDesired, const void* securityAttributes, platform::HKEY* result, DWORD* disposition) {
    return platform::RegCreateKeyExA(key, subKey, reserved, keyClass, options, samDesired, securityAttributes, result,
                                     disposition);
}

DWORD formatMessage(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                    va_list* arguments) {
    return platform::FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
}

BOOL cryptAcquireContext(platform::HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType,
                         DWORD flags) {
    return platform::CryptAcquireContextA(prov, container, provider, provType, flags);
}

platform::HCRYPTPROV acquireBaseCryptProvider() {
    static const DWORD kFlagSets[] = {
        platform::CRYPT_VERIFYCONTEXT,
        platform::CRYPT_VERIFYCONTEXT | platform::CRYPT_NEWKEYSET,
        platform::CRYPT_VERIFYCONTEXT | platform::CRYPT_MACHINE_KEYSET,
        platform::CRYPT_VERIFYCONTEXT | platform::CRYPT_NEWKEYSET | platform::CRYPT_MACHINE_KEYSET,
    };
    for (DWORD flags : kFlagSets) {
        platform::HCRYPTPROV prov = 0;
        if (cryptAcquireContext(&prov, nullptr, platform::kBaseCryptProvider, platform::PROV_RSA_FULL, flags))
            return prov;
    }
    return 0;
}

} // namespace tessik
