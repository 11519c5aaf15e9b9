#pragma once
// MD2 digest (RFC 1319).
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class Md2 {
public:
    static constexpr unsigned kBlockSize = 16;
    static constexpr unsigned kDigestSize = 16;

    // Starts initialized, so no field is ever read before it is written.
    Md2() { initialize(); }
    virtual ~Md2() = default;

    void initialize();
    void update(const void* data, std::uint32_t length);
    // Appends the digest; the context is not reset.
    void final(DataBuffer& out);

    // Append to out, which is not cleared first.
    void digestDb(const DataBuffer& bytes, DataBuffer& out);
    void digestBytes(const void* data, std::uint32_t length, DataBuffer& out);

private:
    void transform();
    void updateChecksum();

    unsigned char m_checksum[kBlockSize];
    unsigned char m_state[3 * kBlockSize];
    unsigned char m_block[kBlockSize];
    std::uint32_t m_fill;
};

} // namespace tessik
