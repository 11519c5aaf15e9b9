#include "netlib/core/ZipCRC.h"

namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7u;

std::uint32_t reflect(std::uint32_t v, int bits) {
    std::uint32_t r = 0;
    for (int i = 0; i < bits; ++i) {
        r = (r << 1) | (v & 1u);
        v >>= 1;
    }
    return r;
}

// t[0] is the classic byte table; t[k] advances a byte that is k positions
// further from the end of a 16-byte block, so a block costs 16 independent
// look-ups instead of 16 dependent ones.
struct CrcTables {
    std::uint32_t t[16][256];

    CrcTables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = reflect(i, 8) << 24;
            for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : c << 1;
            t[0][i] = reflect(c, 32);
        }
        for (int k = 1; k < 16; ++k)
            for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    }
};

// A function-local static is built exactly once even when the first users
// race; afterwards the tables are only read.
const CrcTables& tables() {
    static const CrcTables instance;
    return instance;
}

std::uint32_t load32le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// With counts, also tallies each byte value in the same pass.
template <bool kCount>
std::uint32_t update(std::uint32_t crc, const unsigned char* p, std::uint32_t n, std::uint32_t* counts) {
    const auto& t = tables().t;
    while (n >= 16) {
        if constexpr (kCount)
            for (int i = 0; i < 16; ++i) ++counts[p[i]];
        std::uint32_t a = crc ^ load32le(p);
        crc = t[15][a & 0xFFu] ^ t[14][(a >> 8) & 0xFFu] ^ t[13][(a >> 16) & 0xFFu] ^ t[12][a >> 24] ^
              t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^
              t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
        p += 16;
        n -= 16;
    }
    for (; n; --n, ++p) {
        if constexpr (kCount) ++counts[*p];
        crc = t[0][(crc ^ *p) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

bool isTextByte(unsigned char b) { return b >= 7 && b <= 127; }

}  // namespace

// The running value starts preset so a forgotten beginStream still yields
// a proper CRC rather than one of whatever the memory held.
ZipCRC::ZipCRC() : m_value(0xFFFFFFFFu) { tables(); }

ZipCRC::~ZipCRC() = default;

void ZipCRC::beginStream() { m_value = 0xFFFFFFFFu; }

void ZipCRC::moreData(const void* data, std::uint32_t length) {
    if (!data || length == 0) return;
    m_value = update<false>(m_value, static_cast<const unsigned char*>(data), length, nullptr);
}

std::uint32_t ZipCRC::endStream() const { return ~m_value; }

std::uint32_t ZipCRC::stepByte(std::uint32_t reg, unsigned char byte) {
    return tables().t[0][(reg ^ byte) & 0xFFu] ^ (reg >> 8);
}

std::uint32_t ZipCRC::crc32WithBinaryFlag(const void* data, std::uint32_t length,
                                          std::uint16_t* binaryFlag) {
    if (!data || length == 0) return 0;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!binaryFlag) return ~update<false>(0xFFFFFFFFu, p, length, nullptr);

    std::uint32_t counts[256] = {};
    std::uint32_t crc = update<true>(0xFFFFFFFFu, p, length, counts);
    std::uint64_t text = 0, binary = 0;
    for (int v = 0; v < 256; ++v) (isTextByte(static_cast<unsigned char>(v)) ? text : binary) += counts[v];
    *binaryFlag = binary > text / 4 ? 1 : 0;
    return ~crc;
}
