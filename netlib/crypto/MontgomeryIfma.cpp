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

// One product's digit-serial loop: each step adds a b_i + m y_i, y_i chosen
// so that the lowest digit becomes zero, and drops that digit. Digits 0 and
// 1 are also kept in scalar registers, so that the next y waits only on
// scalar arithmetic and not on the vector registers' latency.
template <std::size_t Z>
class Product {
public:
    [[gnu::always_inline]] Product(const Limb* a, const Modulus& mod)
        : m_a0(a[0]), m_a1(a[1]), m_m0(mod.m[0]), m_m1(mod.m[1]), m_k0(mod.k0) {
#pragma GCC unroll 8
        for (std::size_t z = 0; z < Z; ++z) {
            m_A[z] = _mm512_load_si512(a + kWordsPerRegister * z);
            m_M[z] = _mm512_load_si512(mod.m + kWordsPerRegister * z);
            m_acc[z] = _mm512_setzero_si512();
        }
    }

    [[gnu::always_inline]] void step(Limb bi) {
        const Wide p0 = Wide{m_a0} * bi;
        m_low += static_cast<Limb>(p0) & kDigitMask;
        const Limb y = (m_low * m_k0) & kDigitMask;
        // low + (m0 y mod 2^52) is a multiple of 2^52: its carry is known
        // before the product is.
        const Limb carry = (m_low >> kDigitBits) + ((m_low & kDigitMask) != 0);
        const Wide q0 = Wide{m_m0} * y;
        // Digit 1 becomes digit 0, with digit 0's carry and the high halves
        // of its two products.
        m_low = carry + m_next + ((m_a1 * bi) & kDigitMask) + static_cast<Limb>(p0 >> kDigitBits) +
                ((m_m1 * y) & kDigitMask) + static_cast<Limb>(q0 >> kDigitBits);

        // The products go to registers of their own and join the running
        // sum with one addition each: chained through the sum, the
        // multiply-adds' latency would add up every step.
        const __m512i zero = _mm512_setzero_si512();
        const __m512i vb = _mm512_set1_epi64(static_cast<long long>(bi));
        const __m512i vy = _mm512_set1_epi64(static_cast<long long>(y));
        __m512i hi[Z];
#pragma GCC unroll 8
        for (std::size_t z = 0; z < Z; ++z) {
            const __m512i lo = _mm512_madd52lo_epu64(_mm512_madd52lo_epu64(zero, m_A[z], vb), m_M[z], vy);
            hi[z] = _mm512_madd52hi_epu64(_mm512_madd52hi_epu64(zero, m_A[z], vb), m_M[z], vy);
            m_acc[z] = _mm512_add_epi64(m_acc[z], lo);
        }
#pragma GCC unroll 8
        for (std::size_t z = 0; z < Z; ++z) {
            const __m512i above = z + 1 < Z ? m_acc[z + 1] : zero;
            m_acc[z] = _mm512_add_epi64(laneShift<1>(above, m_acc[z]), hi[z]);
        }
        m_next = laneOne(m_acc[0]);
    }

    [[gnu::always_inline]] void finish(Limb* r) {
        // Digit 0 lives in the scalar register; its lane in the vector is
        // stale.
        m_acc[0] = _mm512_mask_set1_epi64(m_acc[0], 1, static_cast<long long>(m_low));
        normalize(m_acc);
#pragma GCC unroll 8
        for (std::size_t z = 0; z < Z; ++z)
            _mm512_store_si512(r + kWordsPerRegister * z, m_acc[z]);
    }

private:
    __m512i m_A[Z], m_M[Z], m_acc[Z];
    Limb m_a0, m_a1, m_m0, m_m1, m_k0;
    Limb m_low = 0;  // digit 0
    Limb m_next = 0; // digit 1 as the vector registers hold it
};

template <std::size_t Z>
void multiplyWith(Limb* r, const Limb* a, const Limb* b, const Modulus& mod) {
    Product<Z> p(a, mod);
    for (std::size_t i = 0; i < mod.digits; ++i)
        p.step(b[i]);
    p.finish(r);
}

// Two products of the same length side by side: each step's chain of
// latencies is the same, and the processor runs one's while it waits on
// the other's.
template <std::size_t Z>
void multiplyPairWith(Limb* r1, const Limb* a1, const Limb* b1, const Modulus& mod1, Limb* r2, const Limb* a2,
                      const Limb* b2, const Modulus& mod2) {
    Product<Z> p(a1, mod1), q(a2, mod2);
    for (std::size_t i = 0; i < mod1.digits; ++i) {
        p.step(b1[i]);
        q.step(b2[i]);
    }
    p.finish(r1);
    q.finish(r2);
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

void multiplyPair(Limb* r1, const Limb* a1, const Limb* b1, const Modulus& m1, Limb* r2, const Limb* a2, const Limb* b2,
                  const Modulus& m2) {
    switch (wordsFor(m1.digits) / kWordsPerRegister) {
    case 1: multiplyPairWith<1>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    case 2: multiplyPairWith<2>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    case 3: multiplyPairWith<3>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    case 4: multiplyPairWith<4>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    case 5: multiplyPairWith<5>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    case 6: multiplyPairWith<6>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    case 7: multiplyPairWith<7>(r1, a1, b1, m1, r2, a2, b2, m2); break;
    default: multiplyPairWith<8>(r1, a1, b1, m1, r2, a2, b2, m2); break;
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
void multiplyPair(Limb*, const Limb*, const Limb*, const Modulus&, Limb*, const Limb*, const Limb*, const Modulus&) {}
void select(Limb*, const Limb*, std::size_t, std::size_t, std::size_t) {}
} // namespace tessik::montgomery::ifma

#endif
