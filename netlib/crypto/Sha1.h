#pragma once
// SHA-1 digest (FIPS 180-1).
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class Sha1 {
public:
    static constexpr unsigned kBlockSize = 64;
    static constexpr unsigned kDigestSize = 20;

    // Leaves the context zeroed: initialize before the first update.
    Sha1();
    virtual ~Sha1();

    void initialize();
    void update(const void* data, std::uint32_t length);
    // A null pointer does nothing; otherwise the context holds the padded
    // state afterwards and must be initialized before reuse.
    void final(unsigned char* digest);
    void copyState(const Sha1& other);

    // Append to out, which is not cleared first.
    void digestBytes(const void* data, std::uint32_t length, DataBuffer& out);
    void digestDb(const DataBuffer& bytes, DataBuffer& out);

private:
    std::uint64_t m_bitCount; // bits of whole blocks compressed so far
    std::uint32_t m_h[5];
    std::uint32_t m_fill;
    unsigned char m_block[kBlockSize];
};

} // namespace tessik
