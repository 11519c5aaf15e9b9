#pragma once
// Traditional zip encryption: three keys driven byte by byte, and the
// 12-byte header whose last byte lets a reader spot a wrong password.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace archive {

struct ZipKeys {
    std::uint32_t k0, k1, k2;
};

constexpr std::size_t kZipCryptHeaderSize = 12;

// Fills a buffer with unpredictable bytes; false when it can't. An empty
// source stands for the system's (platform::SystemRandomBytes).
using ZipRandomSource = std::function<bool(std::uint8_t* out, std::size_t count)>;

void initZipKeys(ZipKeys& keys);
void updateZipKeys(ZipKeys& keys, std::uint8_t byte);
std::uint8_t zipDecryptByte(const ZipKeys& keys);
std::uint8_t zipEncodeByte(ZipKeys& keys, std::uint8_t plain);
std::uint8_t zipDecodeByte(ZipKeys& keys, std::uint8_t cipher);

// initZipKeys, then every password byte up to its zero (none for null).
void keyZipKeys(ZipKeys& keys, const char* password);

// Makes the encrypted header: random bytes 0..10, the check byte last.
// Leaves the keys ready for the entry's data. False when no random bytes.
bool makeZipCryptHeader(ZipKeys& keys, const char* password, std::uint8_t checkByte, const ZipRandomSource& random,
                        std::uint8_t header[kZipCryptHeaderSize]);

void zipEncodeBuffer(ZipKeys& keys, std::uint8_t* data, std::size_t length);
void zipDecodeBuffer(ZipKeys& keys, std::uint8_t* data, std::size_t length);

} // namespace archive
