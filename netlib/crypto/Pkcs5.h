#pragma once
// Password-based key derivation and encryption of PKCS#5 v2.0 (RFC 2898):
// PBKDF1, PBKDF2 with HMAC over a named hash, and the PBES1/PBES2 schemes
// that run a named cipher through a temporary crypt component.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

// The password is NUL-terminated: bytes after its first zero take no part.
// Both always succeed; out is cleared and receives exactly keyLength bytes
// (PBKDF1 gives at most one digest).
bool pbkdf1(const char* password, const char* hashName, const DataBuffer& salt, std::uint32_t iterations, int keyLength,
            DataBuffer& out, LogBase& log);
bool pbkdf2(const char* password, const char* hashName, const DataBuffer& salt, std::uint32_t iterations, int keyLength,
            DataBuffer& out, LogBase& log);

} // namespace tessik
