#pragma once
// The cryptographic provider calls the library makes: one RSA provider whose
// key containers are folders (the user's under $XDG_DATA_HOME, the machine's
// under a settable root), each key held as a PRIVATEKEYBLOB file exactly as
// `openssl rsa -outform MSBLOB` writes it. Random bytes come from getrandom.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform {

using HCRYPTPROV = std::uintptr_t;
using HCRYPTKEY = std::uintptr_t;
using ALG_ID = std::uint32_t;

constexpr DWORD PROV_RSA_FULL = 1;
constexpr DWORD PROV_RSA_AES = 24;
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000u;
constexpr DWORD CRYPT_NEWKEYSET = 0x8;
constexpr DWORD CRYPT_MACHINE_KEYSET = 0x20;
constexpr DWORD CRYPT_SILENT = 0x40;
constexpr DWORD PROV_RSA_SCHANNEL = 12;

constexpr DWORD AT_KEYEXCHANGE = 1;
constexpr DWORD AT_SIGNATURE = 2;
constexpr DWORD CRYPT_EXPORTABLE = 0x1;
constexpr BYTE PUBLICKEYBLOB = 0x6;
constexpr BYTE PRIVATEKEYBLOB = 0x7;
constexpr BYTE CUR_BLOB_VERSION = 2;
constexpr ALG_ID CALG_RSA_SIGN = 0x2400;
constexpr ALG_ID CALG_RSA_KEYX = 0xA400;
constexpr DWORD kRsa2Magic = 0x32415352; // "RSA2"
constexpr DWORD kRsa1Magic = 0x31415352; // "RSA1"
constexpr DWORD kBlobHeaderSize = 8;
constexpr DWORD kRsaPubKeySize = 12;
constexpr DWORD kMaxRsaKeyBits = 16384;

constexpr DWORD PP_ENUMALGS = 1;
constexpr DWORD PP_IMPTYPE = 3;
constexpr DWORD PP_NAME = 4;
constexpr DWORD PP_VERSION = 5;
constexpr DWORD PP_CONTAINER = 6;
constexpr DWORD CRYPT_FIRST = 1;
constexpr DWORD CRYPT_IMPL_SOFTWARE = 2;
constexpr DWORD kProviderVersion = 0x200;
constexpr std::size_t kAlgNameSize = 20;

// One row of PP_ENUMALGS.
struct PROV_ENUMALGS {
    ALG_ID aiAlgid;
    DWORD dwBitLen;
    DWORD dwNameLen;
    char szName[kAlgNameSize];
};

constexpr DWORD NTE_BAD_KEYSET = 0x80090016u;
constexpr DWORD NTE_BAD_PUBLIC_KEY = 0x80090015u;
constexpr DWORD NTE_BAD_FLAGS = 0x80090009u;
constexpr DWORD NTE_BAD_PROV_TYPE = 0x80090014u;
constexpr DWORD NTE_KEYSET_NOT_DEF = 0x80090019u;
constexpr DWORD NTE_BAD_KEY = 0x80090003u;
constexpr DWORD NTE_BAD_DATA = 0x80090005u;
constexpr DWORD NTE_BAD_TYPE = 0x8009000Au;
constexpr DWORD NTE_BAD_KEY_STATE = 0x8009000Bu;
constexpr DWORD NTE_NO_KEY = 0x8009000Du;
constexpr DWORD NTE_EXISTS = 0x8009000Fu;

constexpr const char* kBaseCryptProvider = "Microsoft Base Cryptographic Provider v1.0";
constexpr const char* kEnhancedCryptProvider = "Microsoft Enhanced Cryptographic Provider v1.0";
constexpr const char* kStrongCryptProvider = "Microsoft Strong Cryptographic Provider";
constexpr const char* kAesCryptProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";
// The container a null or empty name means.
constexpr const char* kDefaultKeyContainer = "default";

// Where key containers and certificate stores live. The user's root is
// $XDG_DATA_HOME/Gorvane/crypto (~/.local/share when unset); the machine's
// is /var/lib/Gorvane/crypto unless set (tests point it at a temporary
// folder; an empty path restores the default).
std::string UserCryptoRoot();
std::string MachineCryptoRoot();
void SetMachineCryptoRoot(const std::string& path);

// A null provider name takes the base provider. Without CRYPT_VERIFYCONTEXT
// the named (or default) container must exist, or CRYPT_NEWKEYSET makes it.
BOOL CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags);
BOOL CryptGenRandom(HCRYPTPROV prov, DWORD count, BYTE* buffer);
// PP_CONTAINER, PP_NAME (text with its terminator), PP_IMPTYPE, PP_VERSION
// (DWORD) and PP_ENUMALGS (CRYPT_FIRST, then 0 until ERROR_NO_MORE_ITEMS).
BOOL CryptGetProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* dataLen, DWORD flags);
BOOL CryptEnumProvidersA(DWORD index, DWORD* reserved, DWORD flags, DWORD* provType, char* name, DWORD* nameLen);

// Keys of a container. CryptImportKey takes a PRIVATEKEYBLOB, stores it as
// the exchange or signature key by its algorithm, and marks it exportable
// only with CRYPT_EXPORTABLE. CryptExportKey gives back a PRIVATEKEYBLOB
// (exportable keys only) or the PUBLICKEYBLOB of any key.
BOOL CryptImportKey(HCRYPTPROV prov, const BYTE* blob, DWORD blobLen, HCRYPTKEY pubKey, DWORD flags, HCRYPTKEY* key);
BOOL CryptGetUserKey(HCRYPTPROV prov, DWORD keySpec, HCRYPTKEY* key);
BOOL CryptExportKey(HCRYPTKEY key, HCRYPTKEY expKey, DWORD blobType, DWORD flags, BYTE* data, DWORD* dataLen);
BOOL CryptDestroyKey(HCRYPTKEY key);

// The PRIVATEKEYBLOB of a key, for the operations the provider carries out
// with its keys itself (message decryption): not an export, so a key not
// marked exportable is read too. Callers wipe the blob when done.
bool ProviderKeyBlob(HCRYPTKEY key, std::vector<BYTE>& blob);

// Whether the container exists (the machine's with CRYPT_MACHINE_KEYSET).
bool KeyContainerExists(const std::string& container, DWORD flags);

// The system's random source, the one place that calls getrandom: fills
// all `count` bytes or returns false with the thread's last error set.
bool SystemRandomBytes(std::uint8_t* out, std::size_t count);

// Contexts acquired and not yet released (tests).
int CryptOpenContextCount();
int CryptOpenKeyCount();

} // namespace platform
