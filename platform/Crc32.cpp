#include "platform/Crc32.h"

#include "platform/ByteOrder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define GRV_CRC32_CLMUL 1
#endif

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

#ifdef GRV_CRC32_CLMUL
// Below this the set-up of the folding costs more than it saves.
constexpr std::size_t kFoldMinimum = 64;
constexpr std::size_t kFoldBlock = 16;

// Folding constants of the reflected polynomial: x^(4*128+32), x^(4*128-32)
// mod P for the four-lane fold, x^(128+32), x^(128-32) for the single lane,
// x^64 for the last 64 bits, and P with its Barrett quotient.
alignas(16) constexpr std::uint64_t kFold4[2] = {0x0154442bd4ull, 0x01c6e41596ull};
alignas(16) constexpr std::uint64_t kFold1[2] = {0x01751997d0ull, 0x00ccaa009eull};
alignas(16) constexpr std::uint64_t kFold64[2] = {0x0163cd6124ull, 0};
alignas(16) constexpr std::uint64_t kBarrett[2] = {0x01db710641ull, 0x01f7011641ull};

#define GRV_CRC32_TARGET __attribute__((target("pclmul,sse4.1")))

GRV_CRC32_TARGET inline __m128i load128(const unsigned char* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// One lane carried 128 bits forward and the next block added.
GRV_CRC32_TARGET inline __m128i foldLane(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

// Four 128-bit lanes folded forward 64 bytes at a time, then into one lane,
// then reduced to 32 bits. `length` is at least kFoldMinimum and a multiple
// of kFoldBlock.
GRV_CRC32_TARGET std::uint32_t foldCarryless(std::uint32_t reg, const unsigned char* p, std::size_t length) {
    __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x2 = load128(p + 16), x3 = load128(p + 32), x4 = load128(p + 48);
    p += 64;
    length -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
    while (length >= 64) {
        x1 = foldLane(x1, k, load128(p));
        x2 = foldLane(x2, k, load128(p + 16));
        x3 = foldLane(x3, k, load128(p + 32));
        x4 = foldLane(x4, k, load128(p + 48));
        p += 64;
        length -= 64;
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
    x1 = foldLane(x1, k, x2);
    x1 = foldLane(x1, k, x3);
    x1 = foldLane(x1, k, x4);
    while (length >= kFoldBlock) {
        x1 = foldLane(x1, k, load128(p));
        p += kFoldBlock;
        length -= kFoldBlock;
    }
    // 128 to 64 bits.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), _mm_srli_si128(x1, 4));
    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), k, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, q), 1));
}

bool detectCarryless() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
#endif

} // namespace

const std::uint32_t* Crc32Table() {
    return tables().t[0];
}

bool Crc32HasCarrylessMultiply() {
#ifdef GRV_CRC32_CLMUL
    static const bool present = detectCarryless();
    return present;
#else
    return false;
#endif
}

std::uint32_t Crc32UpdateByTable(std::uint32_t reg, const void* data, std::size_t length) {
    if (!data)
        return reg;
    const auto& t = tables().t;
    const auto* p = static_cast<const unsigned char*>(data);
    while (length >= kSlices) {
        const std::uint32_t a = reg ^ platform::LoadLe32(p);
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

std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t length) {
    if (!data)
        return reg;
#ifdef GRV_CRC32_CLMUL
    if (length >= kFoldMinimum && Crc32HasCarrylessMultiply()) {
        const std::size_t folded = length & ~(kFoldBlock - 1);
        reg = foldCarryless(reg, static_cast<const unsigned char*>(data), folded);
        return Crc32UpdateByTable(reg, static_cast<const unsigned char*>(data) + folded, length - folded);
    }
#endif
    return Crc32UpdateByTable(reg, data, length);
}

} // namespace platform
