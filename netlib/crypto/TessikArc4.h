#pragma once
// The RC4 stream cipher (a key of 1 to 256 bytes). One transform serves both
// directions and every chunk: the keystream runs on from call to call.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

constexpr unsigned int kArc4MaxKeyBytes = 256;
constexpr unsigned int kArc4DropBytes = 1536;

class TessikArc4 {
public:
    TessikArc4();
    virtual ~TessikArc4();
    TessikArc4(const TessikArc4&) = delete;
    TessikArc4& operator=(const TessikArc4&) = delete;

    // A key holding fewer than keyBytes bytes is zero-extended.
    void setKey(const DataBuffer& key, unsigned int keyBytes);
    void keySetup(const unsigned char* key, unsigned int n);
    void crypt(const unsigned char* in, unsigned char* out, unsigned int n);
    // A new buffer the caller owns; null when the memory is not there.
    DataBuffer* transformDbNew(const DataBuffer& in);
    // Throws away the first 1536 bytes of keystream.
    void discard1536();
    unsigned int getKeyLength() const { return m_keyLength; }

private:
    std::uint32_t m_state[256];
    std::uint32_t m_i;
    std::uint32_t m_j;
    unsigned int m_keyLength;
};

} // namespace tessik
