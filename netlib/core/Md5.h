#pragma once
// MD5 digest (RFC 1321).
#include <cstdint>

namespace tessik {

class DataBuffer;
class StringBuffer;

class Md5 {
public:
    Md5();
    virtual ~Md5();

    void initialize();
    void update(const void* data, std::uint32_t length);
    // Leaves the padded state behind: initialize before reuse.
    void final(unsigned char digest[16]);
    void copyState(const Md5& other);

    void digestBytes(const void* data, std::uint32_t length, unsigned char digest[16]);
    void digestSb(const tessik::StringBuffer& text, unsigned char digest[16]);
    void digestDb(const DataBuffer& bytes, unsigned char digest[16]);

protected:
    // MD4 keeps all of this and brings its own block function.
    virtual void compress(const unsigned char block[64]);

    std::uint32_t m_a, m_b, m_c, m_d;
    std::uint32_t m_bitsLow, m_bitsHigh;
    unsigned char m_block[64];
};

} // namespace tessik
