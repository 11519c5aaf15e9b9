#pragma once
// SHA-256, SHA-384 and SHA-512 (FIPS 180-2) in one context type.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class Sha2 {
public:
    enum Type : std::uint32_t { kSha256 = 1, kSha384 = 2, kSha512 = 3 };

    explicit Sha2(Type type);

    // Null when the allocation fails; the caller deletes the context.
    static Sha2* newSha256();
    static Sha2* newSha384();
    static Sha2* newSha512();

    void initialize();
    void update(const void* data, std::uint32_t length);
    // Writes 32, 48 or 64 bytes, then starts over for the next message.
    void final(unsigned char* digest);

    // Append to out, which is not cleared first.
    static void digestSha256(const void* data, std::uint32_t length, DataBuffer& out);
    static void digestSha384(const void* data, std::uint32_t length, DataBuffer& out);
    static void digestSha512(const void* data, std::uint32_t length, DataBuffer& out);
    static void digestSha256Db(const DataBuffer& bytes, DataBuffer& out);
    static void digestSha384Db(const DataBuffer& bytes, DataBuffer& out);
    static void digestSha512Db(const DataBuffer& bytes, DataBuffer& out);

private:
    static Sha2* create(Type type);
    static void digest(Type type, const void* data, std::uint32_t length, DataBuffer& out);
    void update256(const unsigned char* p, std::uint32_t length);
    void update512(const unsigned char* p, std::uint32_t length);
    void final256(unsigned char* digest);
    void final512(unsigned char* digest, unsigned words);

    std::uint32_t m_type;
    std::uint32_t m_h256[8];
    std::uint32_t m_bitsLow, m_bitsHigh;
    unsigned char m_block[128];
    std::uint64_t m_h512[8];
    std::uint64_t m_bits512Low, m_bits512High;
};

} // namespace tessik
