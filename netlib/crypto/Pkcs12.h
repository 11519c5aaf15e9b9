#pragma once
// PKCS#12 password-based key derivation (RFC 7292 appendix B) and the PBE
// decryption that runs on it.
#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"

namespace tessik {

class LogBase;

// What the derived bytes are for (the ID byte of the derivation).
enum Pkcs12KeyPurpose : unsigned char {
    kPkcs12KeyMaterial = 1,
    kPkcs12Iv = 2,
    kPkcs12MacKey = 3,
};

// Clears out and leaves exactly length bytes in it; false only when working
// memory cannot be had. The password's big-endian UTF-16 with its terminator
// is what gets hashed. Under SHA-384 and SHA-512 the block is 128 bytes, as
// the RFC has it, so results match other implementations for every hash.
bool pkcs12DeriveKey(XString& password, const DataBuffer& salt, unsigned char id, int iterations, const char* hashName,
                     int length, DataBuffer& out);

// Derives key and IV under the hash and decrypts with the named cipher in
// CBC with scheme-0 padding; out is cleared and receives the plaintext.
bool pkcs12PbeDecrypt(XString& password, const char* hashName, const char* cipherName, int keyLengthBits,
                      const DataBuffer& salt, int iterations, DataBuffer& input, DataBuffer& out, LogBase& log);

} // namespace tessik
