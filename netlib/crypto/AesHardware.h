#pragma once
// The AES rounds on the processor's AES instructions. Only called after
// supported() said yes. Round keys are 16-byte blocks in FIPS 197
// byte order: the encryption schedule, or the equivalent inverse cipher's.
#include <cstddef>

namespace tessik::aesni {

bool supported();
void encryptEcb(const unsigned char* roundKeys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks);
void decryptEcb(const unsigned char* roundKeys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks);
// The wide routines of the shared CBC chain: iv holds the chaining value on
// entry and the last ciphertext block on return.
void encryptCbc(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                unsigned char* out, std::size_t blocks);
void decryptCbc(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                unsigned char* out, std::size_t blocks);

} // namespace tessik::aesni
