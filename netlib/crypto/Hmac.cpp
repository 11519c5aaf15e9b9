#include "netlib/crypto/Hmac.h"

#include <algorithm>
#include <cstring>

#include "netlib/crypto/HashAlgorithms.h"

namespace tessik {

namespace {

constexpr int kBlockSize = 64;
constexpr int kWideBlockSize = 128; // SHA-384 and SHA-512
constexpr unsigned char kInnerPad = 0x36;
constexpr unsigned char kOuterPad = 0x5c;

int blockSizeOf(int hashId) {
    return (hashId == kHashSha384 || hashId == kHashSha512) ? kWideBlockSize : kBlockSize;
}

// H(pad ‖ message), the message hashed where it lies.
void hashPadded(const unsigned char* keyBlock, int blockSize, unsigned char padByte, const void* message,
                std::uint32_t messageLength, int hashId, DataBuffer& out) {
    unsigned char padded[kWideBlockSize];
    for (int i = 0; i < blockSize; ++i)
        padded[i] = keyBlock[i] ^ padByte;
    HashContext context(hashId);
    context.update(padded, static_cast<std::uint32_t>(blockSize));
    if (message && messageLength > 0)
        context.update(message, messageLength);
    context.final(out);
    std::memset(padded, 0, sizeof padded);
}

} // namespace

void Hmac::doHmac(const void* data, std::uint32_t dataLength, const void* key, int keyLength, int hashId,
                  DataBuffer& out) {
    out.clear();
    const int blockSize = blockSizeOf(hashId);
    if (!key || keyLength < 0)
        keyLength = 0;
    unsigned char keyBlock[kWideBlockSize] = {};
    if (keyLength > blockSize) {
        DataBuffer hashedKey;
        hashBytes(key, static_cast<std::uint32_t>(keyLength), hashId, hashedKey);
        std::memcpy(keyBlock, hashedKey.getData(), std::min<unsigned>(hashedKey.getSize(), blockSize));
        hashedKey.secureClear();
    } else if (keyLength > 0) {
        std::memcpy(keyBlock, key, static_cast<std::size_t>(keyLength));
    }
    DataBuffer inner;
    hashPadded(keyBlock, blockSize, kInnerPad, data, dataLength, hashId, inner);
    hashPadded(keyBlock, blockSize, kOuterPad, inner.getData(), inner.getSize(), hashId, out);
    std::memset(keyBlock, 0, sizeof keyBlock);
}

void Hmac::hmacMd5(const void* key, int keyLength, const void* data, std::uint32_t dataLength, unsigned char* mac) {
    if (!mac)
        return;
    DataBuffer out;
    doHmac(data, dataLength, key, keyLength, kHashMd5, out);
    std::memcpy(mac, out.getData(), kMd5DigestSize);
}

void Hmac::hmacSha1(const void* key, int keyLength, const void* data, std::uint32_t dataLength, unsigned char* mac) {
    if (!mac)
        return;
    DataBuffer out;
    doHmac(data, dataLength, key, keyLength, kHashSha1, out);
    std::memcpy(mac, out.getData(), kSha1DigestSize);
}

} // namespace tessik
