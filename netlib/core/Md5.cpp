#include "netlib/core/Md5.h"

#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {
constexpr std::uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
inline std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

template <int Round>
inline std::uint32_t mix(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    if constexpr (Round == 0)
        return d ^ (b & (c ^ d));
    else if constexpr (Round == 1)
        return c ^ (d & (b ^ c));
    else if constexpr (Round == 2)
        return b ^ c ^ d;
    else
        return c ^ (b | ~d);
}

// Four steps of one round; the caller rotates nothing, the steps do.
template <int Round, int S0, int S1, int S2, int S3>
inline void fourSteps(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, const std::uint32_t* x,
                      int i, int g, int stride) {
    a = b + rotl(a + mix<Round>(b, c, d) + x[g & 15] + kT[i], S0);
    d = a + rotl(d + mix<Round>(a, b, c) + x[(g + stride) & 15] + kT[i + 1], S1);
    c = d + rotl(c + mix<Round>(d, a, b) + x[(g + 2 * stride) & 15] + kT[i + 2], S2);
    b = c + rotl(b + mix<Round>(c, d, a) + x[(g + 3 * stride) & 15] + kT[i + 3], S3);
}
} // namespace

Md5::Md5() {
    initialize();
}
Md5::~Md5() = default;

void Md5::initialize() {
    m_a = 0x67452301;
    m_b = 0xefcdab89;
    m_c = 0x98badcfe;
    m_d = 0x10325476;
    m_bitsLow = m_bitsHigh = 0;
}

void Md5::compress(const unsigned char block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = platform::LoadLe32(block + 4 * i);
    std::uint32_t a = m_a, b = m_b, c = m_c, d = m_d;
    // Message word of step i: i, 5i+1, 3i+5 and 7i (mod 16) in the four rounds.
#pragma GCC unroll 4
    for (int i = 0; i < 16; i += 4)
        fourSteps<0, 7, 12, 17, 22>(a, b, c, d, x, i, i, 1);
#pragma GCC unroll 4
    for (int i = 16; i < 32; i += 4)
        fourSteps<1, 5, 9, 14, 20>(a, b, c, d, x, i, 5 * i + 1, 5);
#pragma GCC unroll 4
    for (int i = 32; i < 48; i += 4)
        fourSteps<2, 4, 11, 16, 23>(a, b, c, d, x, i, 3 * i + 5, 3);
#pragma GCC unroll 4
    for (int i = 48; i < 64; i += 4)
        fourSteps<3, 6, 10, 15, 21>(a, b, c, d, x, i, 7 * i, 7);
    m_a += a;
    m_b += b;
    m_c += c;
    m_d += d;
}

void Md5::update(const void* data, std::uint32_t length) {
    if (!data || length == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::uint32_t index = (m_bitsLow >> 3) & 63;
    std::uint32_t before = m_bitsLow;
    m_bitsLow += length << 3;
    if (m_bitsLow < before)
        ++m_bitsHigh;
    m_bitsHigh += length >> 29;
    std::uint32_t partLen = 64 - index;
    std::uint32_t i = 0;
    if (length >= partLen) {
        std::memcpy(m_block + index, p, partLen);
        compress(m_block);
        for (i = partLen; i + 63 < length; i += 64)
            compress(p + i);
        index = 0;
    }
    std::memcpy(m_block + index, p + i, length - i);
}

void Md5::final(unsigned char digest[16]) {
    unsigned char bits[8];
    platform::StoreLe32(bits, m_bitsLow);
    platform::StoreLe32(bits + 4, m_bitsHigh);
    static const unsigned char kPadding[64] = {0x80};
    std::uint32_t index = (m_bitsLow >> 3) & 63;
    update(kPadding, index < 56 ? 56 - index : 120 - index);
    update(bits, 8);
    const std::uint32_t words[4] = {m_a, m_b, m_c, m_d};
    for (int w = 0; w < 4; ++w)
        platform::StoreLe32(digest + 4 * w, words[w]);
}

void Md5::copyState(const Md5& other) {
    m_a = other.m_a;
    m_b = other.m_b;
    m_c = other.m_c;
    m_d = other.m_d;
    m_bitsLow = other.m_bitsLow;
    m_bitsHigh = other.m_bitsHigh;
    std::memcpy(m_block, other.m_block, sizeof m_block);
}

void Md5::digestBytes(const void* data, std::uint32_t length, unsigned char digest[16]) {
    initialize();
    update(data, length);
    final(digest);
}

void Md5::digestSb(const tessik::StringBuffer& text, unsigned char digest[16]) {
    digestBytes(text.getString(), static_cast<std::uint32_t>(text.getSize()), digest);
}

void Md5::digestDb(const DataBuffer& bytes, unsigned char digest[16]) {
    digestBytes(bytes.getData(), bytes.getSize(), digest);
}

} // namespace tessik
