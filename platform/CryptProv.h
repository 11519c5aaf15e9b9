#pragma once
// The cryptographic provider calls the library makes. Only verify contexts
// (no key container) exist; their random bytes come from getrandom.
#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

namespace platform {

using HCRYPTPROV = std::uintptr_t;

constexpr DWORD PROV_RSA_FULL = 1;
constexpr DWORD PROV_RSA_AES = 24;
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000u;
constexpr DWORD CRYPT_NEWKEYSET = 0x8;
constexpr DWORD CRYPT_MACHINE_KEYSET = 0x20;

constexpr DWORD NTE_BAD_KEYSET = 0x80090016u;
constexpr DWORD NTE_BAD_FLAGS = 0x80090009u;
constexpr DWORD NTE_BAD_PROV_TYPE = 0x80090014u;
constexpr DWORD NTE_KEYSET_NOT_DEF = 0x80090019u;

constexpr const char* kBaseCryptProvider = "Microsoft Base Cryptographic Provider v1.0";
constexpr const char* kEnhancedCryptProvider = "Microsoft Enhanced Cryptographic Provider v1.0";

// A null provider name takes the base provider. Without CRYPT_VERIFYCONTEXT
// a key container is needed, and there are none: NTE_BAD_KEYSET.
BOOL CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags);
BOOL CryptGenRandom(HCRYPTPROV prov, DWORD count, BYTE* buffer);

// The system's random source, the one place that calls getrandom: fills
// all `count` bytes or returns false with the thread's last error set.
bool SystemRandomBytes(std::uint8_t* out, std::size_t count);

// Contexts acquired and not yet released (tests).
int CryptOpenContextCount();

} // namespace platform
