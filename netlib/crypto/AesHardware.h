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
// Decryption at the widest the processor has.
void decryptCbc(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                unsigned char* out, std::size_t blocks);

// How many blocks CBC decryption holds to a register: one on the AES
// instructions, two or four on their vector forms (VAES with AVX2 or
// AVX-512). Each width the processor has stays callable, for the tests.
enum class CbcWidth { kOne = 1, kTwo = 2, kFour = 4 };
bool cbcWidthSupported(CbcWidth width);
void decryptCbcAt(CbcWidth width, const unsigned char* roundKeys, int rounds, unsigned char* iv,
                  const unsigned char* in, unsigned char* out, std::size_t blocks);

// The whole groups of the two- and four-block widths, each in a file of its
// own built for those instructions; they return how many blocks they took.
std::size_t decryptCbcGroupsTwo(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                                unsigned char* out, std::size_t blocks);
std::size_t decryptCbcGroupsFour(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                                 unsigned char* out, std::size_t blocks);

} // namespace tessik::aesni
