#include "netlib/crypto/Md4.h"

#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr std::uint32_t kRound2 = 0x5a827999;
constexpr std::uint32_t kRound3 = 0x6ed9eba1;

inline std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline void step1(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s) {
    a = rotl(a + (d ^ (b & (c ^ d))) + x, s);
}
inline void step2(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s) {
    a = rotl(a + ((b & c) | (d & (b | c))) + x + kRound2, s);
}
inline void step3(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s) {
    a = rotl(a + (b ^ c ^ d) + x + kRound3, s);
}

} // namespace

void Md4::compress(const unsigned char block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = platform::LoadLe32(block + 4 * i);
    std::uint32_t a = m_a, b = m_b, c = m_c, d = m_d;
    for (int i = 0; i < 16; i += 4) {
        step1(a, b, c, d, x[i], 3);
        step1(d, a, b, c, x[i + 1], 7);
        step1(c, d, a, b, x[i + 2], 11);
        step1(b, c, d, a, x[i + 3], 19);
    }
    for (int i = 0; i < 4; ++i) {
        step2(a, b, c, d, x[i], 3);
        step2(d, a, b, c, x[i + 4], 5);
        step2(c, d, a, b, x[i + 8], 9);
        step2(b, c, d, a, x[i + 12], 13);
    }
    constexpr int kRound3Order[4] = {0, 2, 1, 3};
    for (int i : kRound3Order) {
        step3(a, b, c, d, x[i], 3);
        step3(d, a, b, c, x[i + 8], 9);
        step3(c, d, a, b, x[i + 4], 11);
        step3(b, c, d, a, x[i + 12], 15);
    }
    m_a += a;
    m_b += b;
    m_c += c;
    m_d += d;
}

void Md4::digestUtf16(XString& text, DataBuffer& out) {
    const std::uint16_t* units = text.getUtf16();
    const int count = text.getSizeUtf16() / 2; // the terminator is left out
    initialize();
    for (int i = 0; i < count; ++i) {
        unsigned char le[2];
        platform::StoreLe16(le, units[i]);
        update(le, sizeof le);
    }
    unsigned char digest[kDigestSize];
    final(digest);
    out.append(digest, kDigestSize);
}

} // namespace tessik
