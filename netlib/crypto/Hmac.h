#pragma once
// HMAC (RFC 2104) over any hash of the hash dispatch.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class Hmac {
public:
    Hmac() = default;
    virtual ~Hmac() = default;

    // Clears out and leaves the MAC in it (hashDigestLength(hashId) bytes).
    // A negative key length counts as an empty key.
    void doHmac(const void* data, std::uint32_t dataLength, const void* key, int keyLength, int hashId,
                DataBuffer& out);

    // Key first, then data; a null mac computes nothing.
    void hmacMd5(const void* key, int keyLength, const void* data, std::uint32_t dataLength, unsigned char* mac);
    void hmacSha1(const void* key, int keyLength, const void* data, std::uint32_t dataLength, unsigned char* mac);
};

} // namespace tessik
