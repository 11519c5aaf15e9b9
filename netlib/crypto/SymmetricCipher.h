#pragma once
// What every symmetric cipher of the library shares: the algorithm ids, the
// padding schemes, the component's cipher-mode numbers, the messages of the
// checked padding and whole-block rules, and the password-to-key routine.
#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

enum CipherAlgorithmId : int {
    kCipherPki = 1,
    kCipherAes = 2,
    kCipherBlowfish = 3,
    kCipherTwofish = 4,
    kCipherNone = 5,
    kCipherBlowfish2 = 6,
    kCipherDes = 7,
    kCipherRc2 = 8,
    kCipherRc4 = 9,
    kCipherPbes1 = 10,
    kCipherPbes2 = 11,
};

// The component's cipher-mode numbers; each cipher maps them to its own.
enum CipherMode : int {
    kCipherModeCbc = 0,
    kCipherModeEcb = 1,
    kCipherModeCfb = 2,
};

enum PaddingScheme : unsigned int {
    kPadPkcs5 = 0,       // n bytes of value n, always at least one
    kPadRandomCount = 1, // random bytes, the count last, always at least one
    kPadRandom = 2,      // random bytes up to the block, none when whole
    kPadZeros = 3,
    kPadSpaces = 4,
};

constexpr int kAesBlockSize = 16;
constexpr int kDesBlockSize = 8;
// The older Blowfish pads as if its block were 16 bytes.
constexpr int kBlowfishPaddingBlockSize = 16;
constexpr int kPasswordKeySize = 32;

namespace cipher_msg {
constexpr const char* kNotWholeBlocks = "Input is not a whole number of cipher blocks.";
constexpr const char* kInputEmpty = "Input data size is 0.";
constexpr const char* kModeNotUsable = "The cipher's mode does not run on whole blocks.";
constexpr const char* kNotKeyed = "The cipher has no key schedule yet.";
} // namespace cipher_msg

// A zero-filled output buffer of size bytes with room for a padding block.
DataBuffer* newCipherOutput(unsigned int size);

// Block size in bytes of an algorithm id; 0 for the ids that only work on
// whole buffers.
int cipherBlockSize(int algorithmId);
// What an algorithm's padding rounds up to: its block, or more.
int cipherPaddingBlockSize(int algorithmId);
// Whether decryption takes padding off under a scheme (0 and 1 do).
bool paddingIsRemoved(unsigned int scheme);

// The MD5 of the password bytes followed by the MD5 of their base64 text:
// exactly 32 bytes in out, which is cleared first.
void keyFromPassword(const char* password, DataBuffer& out);
void keyFromPasswordBytes(const DataBuffer& password, DataBuffer& out);

} // namespace tessik
