#include "platform/Crc32.h"

namespace platform {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr int kSlices = 16;

// t[0] is the classic byte table; t[k] advances a byte that is k positions
// further from the end of a 16-byte block, so a block costs 16 independent
// look-ups instead of 16 dependent ones.
struct CrcTables {
    std::uint32_t t[kSlices][256];

    CrcTables() {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1u) ? kPolynomial ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (int k = 1; k < kSlices; ++k)
            for (int n = 0; n < 256; ++n)
                t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFFu];
    }
};

// Built exactly once even when the first users race; read-only afterwards.
const CrcTables& tables() {
    static const CrcTables instance;
    return instance;
}

std::uint32_t load32le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

const std::uint32_t* Crc32Table() {
    return tables().t[0];
}

std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t length) {
    if (!data)
        return reg;
    const auto& t = tables().t;
    const auto* p = static_cast<const unsigned char*>(data);
    while (length >= kSlices) {
        const std::uint32_t a = reg ^ load32le(p);
        reg = t[15][a & 0xFFu] ^ t[14][(a >> 8) & 0xFFu] ^ t[13][(a >> 16) & 0xFFu] ^ t[12][a >> 24] ^ t[11][p[4]] ^
              t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^
              t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
        p += kSlices;
        length -= kSlices;
    }
    for (; length; --length, ++p)
        reg = t[0][(reg ^ *p) & 0xFFu] ^ (reg >> 8);
    return reg;
}

} // namespace platform
