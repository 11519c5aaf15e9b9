// Built with the AVX-512 and IFMA instructions on; keeps to plain pointers
// and the intrinsics, so that no inline function compiled here can be
// shared with code that must run without them.
#include "netlib/crypto/MontgomeryIfma.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace tessik::montgomery::ifma {

namespace {

using Wide = unsigned __int128;

constexpr Limb kDigitMask = (Limb{1} << kDigitBits) - 1;
constexpr int kLastLane = 7;
// The masked forms with every lane on: the plain ones leave an undefined
// operand that the compiler's check for uninitialised values trips on.
constexpr __mmask8 kAllLanes = 0xFF;
constexpr __mmask8 kLowBlock = 0xF;

[[gnu::always_inline]] inline __m512i shiftRight(__m512i x, unsigned n) {
    return _mm512_maskz_srli_epi64(kAllLanes, x, n);
}
// Lanes shifted down by `lanes` (a template: the count is an immediate),
// the ones above coming in from the bottom of `above`.
template <int Lanes>
[[gnu::always_inline]] inline __m512i laneShift(__m512i above, __m512i x) {
    return _mm512_maskz_alignr_epi64(kAllLanes, above, x, Lanes);
}
[[gnu::always_inline]] inline Limb laneOne(__m512i x) {
    return static_cast<Limb>(_mm_extract_epi64(_mm512_maskz_extracti32x4_epi32(kLowBlock, x, 0), 1));
}

// Each digit of R brought below 2^52, the carries moved up: a first pass
// moves each digit's excess (under 2^9) into the next; what overflows then
// is a carry of one, which runs through digits of all ones. Those runs are
// found at once by adding masks, the way an adder's carries run.
template <std::size_t Z>
[[gnu::always_inline]] inline void normalize(__m512i (&x)[Z]) {
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kDigitMask));
    __m512i carry[Z];
#pragma GCC unroll 8
    for (std::size_t z = 0; z < Z; ++z) {
        carry[z] = shiftRight(x[z], kDigitBits);
        x[z] = _mm512_and_si512(x[z], mask);
    }
#pragma GCC unroll 8
    for (std::size_t z = 0; z < Z; ++z) {
        const __m512i below = z == 0 ? _mm512_setzero_si512() : carry[z - 1];
        x[z] = _mm512_add_epi64(x[z], laneShift<kLastLane>(carry[z], below));
    }
    std::uint64_t over = 0, full = 0;
#pragma GCC unroll 8
    for (std::size_t z = 0; z < Z; ++z) {
        over |= std::uint64_t{_mm512_cmpgt_epu64_mask(x[z], mask)} << (kWordsPerRegister * z);
        full |= std::uint64_t{_mm512_cmpeq_epu64_mask(x[z], mask)} << (kWordsPerRegister * z);
    }
    const std::uint64_t incoming = ((over << 1) + full) ^ full;
    const __m512i one = _mm512_set1_epi64(1);
#pragma GCC unroll 8
    for (std::size_t z = 0; z < Z; ++z) {
        const auto lanes = static_cast<__mmask8>(incoming >> (kWordsPerRegister * z));
        x[z] = _mm512_and_si512(_mm512_mask_add_epi64(x[z], lanes, x[z], one), mask);
    }
}

// The digit-serial loop: each step adds a b_i + m y_i, y_i chosen so that
// the lowest digit becomes zero, and drops that digit. Digits 0 and 1 are
// also kept in scalar registers, so that the next y waits only on scalar
// arithmetic and not on the vector registers' latency.
template <std::size_t Z>
void multiplyWith(Limb* r, const Limb* a, const Limb* b, const Modulus& mod) {
    const Limb* m = mod.m;
    __m512i A[Z], M[Z], acc[Z];
#pragma GCC unroll 8
    for (std::size_t z = 0; z < Z; ++z) {
        A[z] = _mm512_load_si512(a + kWordsPerRegister * z);
        M[z] = _mm512_load_si512(m + kWordsPerRegister * z);
        acc[z] = _mm512_setzero_si512();
    }
    const Limb a0 = a[0], a1 = a[1], m0 = m[0], m1 = m[1], k0 = mod.k0;
    const __m512i zero = _mm512_setzero_si512();
    Limb low = 0;  // digit 0
    Limb next = 0; // digit 1 as the vector registers hold it
    for (std::size_t i = 0; i < mod.digits; ++i) {
        const Limb bi = b[i];
        const Wide p0 = Wide{a0} * bi;
        low += static_cast<Limb>(p0) & kDigitMask;
        const Limb y = (low * k0) & kDigitMask;
        // low + (m0 y mod 2^52) is a multiple of 2^52: its carry is known
        // before the product is.
        const Limb carry = (low >> kDigitBits) + ((low & kDigitMask) != 0);
        const Wide q0 = Wide{m0} * y;
        // Digit 1 becomes digit 0, with digit 0's carry and the high halves
        // of its two products.
        low = carry + next + ((a1 * bi) & kDigitMask) + static_cast<Limb>(p0 >> kDigitBits) + ((m1 * y) & kDigitMask) +
              static_cast<Limb>(q0 >> kDigitBits);

        // The products go to registers of their own and join the running
        // sum with one addition each: chained through the sum, the
        // multiply-adds' latency would add up every step.
        const __m512i vb = _mm512_set1_epi64(static_cast<long long>(bi));
        const __m512i vy = _mm512_set1_epi64(static_cast<long long>(y));
        __m512i lo[Z], hi[Z];
#pragma GCC unroll 8
        for (std::size_t z = 0; z < Z; ++z) {
            lo[z] = _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(zero, A[z], vb), M[z], vy);
            hi[z] = _mm512_madd52hi_epu64(_mm512_madd52hi_epu64(zero, A[z], vb), M[z], vy);
            acc[z] = _mm512_add_epi64(acc[z], lo[z]);
        }
#pragma GCC unroll 8
        for (std::size_t z = 0; z < Z; ++z) {
            const __m512i above = z + 1 < Z ? acc[z + 1] : zero;
            acc[z] = _mm512_add_epi64(laneShift<1>(above, acc[z]), hi[z]);
        }
        next = laneOne(acc[0]);
    }
    // Digit 0 lives in the scalar register; its lane in the vector is stale.
    acc[0] = _mm512_mask_set1_epi64(acc[0], 1, static_cast<long long>(low));
    normalize(acc);
#pragma GCC unroll 8
    for (std::size_t z = 0; z < Z; ++z)
        _mm512_store_si512(r + kWordsPerRegister * z, acc[z]);
}

} // namespace

void multiply(Limb* r, const Limb* a, const Limb* b, const Modulus& m) {
    switch (wordsFor(m.digits) / kWordsPerRegister) {
    case 1: multiplyWith<1>(r, a, b, m); break;
    case 2: multiplyWith<2>(r, a, b, m); break;
    case 3: multiplyWith<3>(r, a, b, m); break;
    case 4: multiplyWith<4>(r, a, b, m); break;
    case 5: multiplyWith<5>(r, a, b, m); break;
    case 6: multiplyWith<6>(r, a, b, m); break;
    case 7: multiplyWith<7>(r, a, b, m); break;
    default: multiplyWith<8>(r, a, b, m); break;
    }
}

void select(Limb* out, const Limb* table, std::size_t entries, std::size_t words, std::size_t index) {
    const __m512i want = _mm512_set1_epi64(static_cast<long long>(index));
    for (std::size_t w = 0; w < words; w += kWordsPerRegister) {
        __m512i picked = _mm512_setzero_si512();
        __m512i k = _mm512_setzero_si512();
        const __m512i one = _mm512_set1_epi64(1);
        for (std::size_t e = 0; e < entries; ++e) {
            // Loaded whatever the index, kept where it matches.
            const __m512i entry = _mm512_load_si512(table + e * words + w);
            picked = _mm512_mask_mov_epi64(picked, _mm512_cmpeq_epi64_mask(k, want), entry);
            k = _mm512_add_epi64(k, one);
        }
        _mm512_store_si512(out + w, picked);
    }
}

} // namespace tessik::montgomery::ifma

#else

namespace tessik::montgomery::ifma {
void multiply(Limb*, const Limb*, const Limb*, const Modulus&) {}
void select(Limb*, const Limb*, std::size_t, std::size_t, std::size_t) {}
} // namespace tessik::montgomery::ifma

#endif
