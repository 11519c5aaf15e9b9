#pragma once
// Password-based key derivation and encryption of PKCS#5 v2.0 (RFC 2898):
// PBKDF1, PBKDF2 with HMAC over a named hash, and the PBES1/PBES2 schemes
// that run a named cipher through a temporary crypt component.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

namespace pkcs5_msg {
constexpr const char* kDerivedKeyTooLong = "derived key too long";
} // namespace pkcs5_msg

// The password is NUL-terminated: bytes after its first zero take no part.
// Out is cleared and receives exactly keyLength bytes. PBKDF1 gives at most
// one digest: asked for more it fails, saying "derived key too long".
bool pbkdf1(const char* password, const char* hashName, const DataBuffer& salt, std::uint32_t iterations, int keyLength,
            DataBuffer& out, LogBase& log);
bool pbkdf2(const char* password, const char* hashName, const DataBuffer& salt, std::uint32_t iterations, int keyLength,
            DataBuffer& out, LogBase& log);

// PBES1 derives 16 bytes (key and IV) and runs DES or RC2 with a 64-bit key;
// any other cipher name runs RC2. PBES2 derives keyLengthBits / 8 bytes and
// runs the named cipher with the given IV. All clear out first and return
// the cipher's result: false with its message in the log.
bool pbes1Encrypt(const char* password, const char* hashName, const char* cipherName, const DataBuffer& salt,
                  std::uint32_t iterations, DataBuffer& input, DataBuffer& out, LogBase& log);
bool pbes1Decrypt(const char* password, const char* hashName, const char* cipherName, const DataBuffer& salt,
                  std::uint32_t iterations, DataBuffer& input, DataBuffer& out, LogBase& log);
bool pbes2Encrypt(const char* password, const char* hashName, const char* cipherName, int keyLengthBits,
                  int rc2EffectiveBits, const DataBuffer& salt, std::uint32_t iterations, const DataBuffer& iv,
                  DataBuffer& input, DataBuffer& out, LogBase& log);
bool pbes2Decrypt(const char* password, const char* hashName, const char* cipherName, int keyLengthBits,
                  int rc2EffectiveBits, const DataBuffer& salt, std::uint32_t iterations, const DataBuffer& iv,
                  DataBuffer& input, DataBuffer& out, LogBase& log);

} // namespace tessik
