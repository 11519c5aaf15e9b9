#pragma once
// Bare ciphertext under a password key (keyFromPassword): no header, salt or
// check value, so selector, key length and password must match on both sides.
// Selector 1 AES-CBC, 2 Twofish-CBC, 3 Blowfish (the older implementation, ECB).
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;
class ProgressMonitor;

enum PasswordCipherSelector : int {
    kPasswordAes = 1,
    kPasswordTwofish = 2,
    kPasswordBlowfish = 3,
};

// The buffer form pads twice (scheme 0 to 16 bytes, then the cipher's own),
// and takes any selector other than 1 and 2 as Blowfish. On failure the
// output is left as it was.
bool encryptBytesWithPassword(int selector, int keyBits, const char* password, const void* data, std::uint32_t n,
                              DataBuffer& out, LogBase& log);
bool decryptBytesWithPassword(int selector, int keyBits, const char* password, const void* data, std::uint32_t n,
                              DataBuffer& out, LogBase& log);

// The file form pads once and chains across its 800000-byte chunks; the
// output file is replaced. False on an unknown selector, a failed read or
// write, a cipher failure or an abort from the monitor.
bool encryptFileWithPassword(int selector, int keyBits, const char* password, const char* inPath, const char* outPath,
                             ProgressMonitor* monitor, LogBase& log);
bool decryptFileWithPassword(int selector, int keyBits, const char* password, const char* inPath, const char* outPath,
                             ProgressMonitor* monitor, LogBase& log);
// What the zip entry pipeline calls: the file forms, arguments unchanged.
bool encryptFileWithPasswordEntry(int selector, int keyBits, const char* password, const char* inPath,
                                  const char* outPath, ProgressMonitor* monitor, LogBase& log);
bool decryptFileWithPasswordEntry(int selector, int keyBits, const char* password, const char* inPath,
                                  const char* outPath, ProgressMonitor* monitor, LogBase& log);

} // namespace tessik
