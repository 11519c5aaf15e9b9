#include "netlib/crypto/ShaCompress.h"

#include <utility>

#include "platform/ByteOrder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define GRV_SHA_X86 1
#endif

namespace tessik::shacompress {

namespace {

constexpr std::size_t kBlock = 64;
constexpr std::size_t kSha512Block = 128;

inline std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

constexpr std::uint64_t kSha512K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

constexpr std::uint32_t kSha1K[4] = {0x5a827999, 0x6ed9eba1, 0x8f1bbcdc, 0xca62c1d6};

constexpr std::uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// One SHA-1 step; the caller rotates the roles of the five words.
template <int Phase>
inline void sha1Step(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d, std::uint32_t& e,
                     std::uint32_t w) {
    std::uint32_t f;
    if constexpr (Phase == 0)
        f = d ^ (b & (c ^ d));
    else if constexpr (Phase == 2)
        f = (b & c) | (d & (b | c));
    else
        f = b ^ c ^ d;
    e += rotl(a, 5) + f + kSha1K[Phase] + w;
    b = rotl(b, 30);
}

// Word i of the message schedule, kept in a ring of sixteen.
inline std::uint32_t sha1Word(std::uint32_t (&w)[16], int i) {
    if (i < 16)
        return w[i];
    return w[i & 15] = rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
}

template <int Phase>
inline void sha1Five(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, std::uint32_t& e,
                     std::uint32_t (&w)[16], int i) {
    sha1Step<Phase>(a, b, c, d, e, sha1Word(w, i));
    sha1Step<Phase>(e, a, b, c, d, sha1Word(w, i + 1));
    sha1Step<Phase>(d, e, a, b, c, sha1Word(w, i + 2));
    sha1Step<Phase>(c, d, e, a, b, sha1Word(w, i + 3));
    sha1Step<Phase>(b, c, d, e, a, sha1Word(w, i + 4));
}

template <class Word>
inline Word rotrT(Word x, int n) {
    return (x >> n) | (x << (8 * sizeof(Word) - n));
}

// Rotation and shift counts of the four SHA-2 sigma functions.
struct Sha256Sigmas {
    static constexpr int kBig0[3] = {2, 13, 22};
    static constexpr int kBig1[3] = {6, 11, 25};
    static constexpr int kSmall0[3] = {7, 18, 3};
    static constexpr int kSmall1[3] = {17, 19, 10};
};
struct Sha512Sigmas {
    static constexpr int kBig0[3] = {28, 34, 39};
    static constexpr int kBig1[3] = {14, 18, 41};
    static constexpr int kSmall0[3] = {1, 8, 7};
    static constexpr int kSmall1[3] = {19, 61, 6};
};

template <class Word>
inline Word bigSigma(Word x, const int (&n)[3]) {
    return rotrT(x, n[0]) ^ rotrT(x, n[1]) ^ rotrT(x, n[2]);
}
template <class Word>
inline Word smallSigma(Word x, const int (&n)[3]) {
    return rotrT(x, n[0]) ^ rotrT(x, n[1]) ^ (x >> n[2]);
}

// One SHA-2 round; the caller rotates the roles of the eight words.
template <class Sig, class Word>
inline void sha2Step(Word a, Word b, Word c, Word& d, Word e, Word f, Word g, Word& h, Word kw) {
    Word t1 = h + bigSigma(e, Sig::kBig1) + (g ^ (e & (f ^ g))) + kw;
    Word t2 = bigSigma(a, Sig::kBig0) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

template <class Sig, int Rounds, class Word>
inline void sha2Block(Word (&state)[8], const unsigned char* data, const Word* k) {
    Word w[Rounds];
    for (int i = 0; i < 16; ++i) {
        if constexpr (sizeof(Word) == 8)
            w[i] = platform::LoadBe64(data + 8 * i);
        else
            w[i] = platform::LoadBe32(data + 4 * i);
    }
    for (int i = 16; i < Rounds; ++i)
        w[i] = w[i - 16] + smallSigma(w[i - 15], Sig::kSmall0) + w[i - 7] + smallSigma(w[i - 2], Sig::kSmall1);
    Word a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < Rounds; i += 8) {
        sha2Step<Sig>(a, b, c, d, e, f, g, h, k[i] + w[i]);
        sha2Step<Sig>(h, a, b, c, d, e, f, g, k[i + 1] + w[i + 1]);
        sha2Step<Sig>(g, h, a, b, c, d, e, f, k[i + 2] + w[i + 2]);
        sha2Step<Sig>(f, g, h, a, b, c, d, e, k[i + 3] + w[i + 3]);
        sha2Step<Sig>(e, f, g, h, a, b, c, d, k[i + 4] + w[i + 4]);
        sha2Step<Sig>(d, e, f, g, h, a, b, c, k[i + 5] + w[i + 5]);
        sha2Step<Sig>(c, d, e, f, g, h, a, b, k[i + 6] + w[i + 6]);
        sha2Step<Sig>(b, c, d, e, f, g, h, a, k[i + 7] + w[i + 7]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

} // namespace

void sha1Portable(std::uint32_t state[5], const unsigned char* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kBlock) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = platform::LoadBe32(data + 4 * i);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
#pragma GCC unroll 4
        for (int i = 0; i < 20; i += 5)
            sha1Five<0>(a, b, c, d, e, w, i);
#pragma GCC unroll 4
        for (int i = 20; i < 40; i += 5)
            sha1Five<1>(a, b, c, d, e, w, i);
#pragma GCC unroll 4
        for (int i = 40; i < 60; i += 5)
            sha1Five<2>(a, b, c, d, e, w, i);
#pragma GCC unroll 4
        for (int i = 60; i < 80; i += 5)
            sha1Five<3>(a, b, c, d, e, w, i);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

void sha256Portable(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
    auto& s = *reinterpret_cast<std::uint32_t(*)[8]>(state);
    for (; blocks > 0; --blocks, data += kBlock)
        sha2Block<Sha256Sigmas, 64>(s, data, kSha256K);
}

void sha512(std::uint64_t state[8], const unsigned char* data, std::size_t blocks) {
    auto& s = *reinterpret_cast<std::uint64_t(*)[8]>(state);
    for (; blocks > 0; --blocks, data += kSha512Block)
        sha2Block<Sha512Sigmas, 80>(s, data, kSha512K);
}

#ifdef GRV_SHA_X86

namespace {

constexpr unsigned kCpuidFeatures = 1;
constexpr unsigned kCpuidExtended = 7;
constexpr unsigned kSsse3Bit = 1u << 9;
constexpr unsigned kSse41Bit = 1u << 19;
constexpr unsigned kShaBit = 1u << 29;

#define GRV_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four steps of SHA-1 per group; the message words run four groups ahead.
template <int G>
GRV_SHA_TARGET inline void sha1Group(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&m)[4],
                                     const unsigned char* data, __m128i mask) {
    if constexpr (G < 4)
        m[G] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * G)), mask);
    __m128i& e = (G % 2 == 0) ? e0 : e1;
    __m128i& next = (G % 2 == 0) ? e1 : e0;
    if constexpr (G == 0)
        e = _mm_add_epi32(e, m[0]);
    else
        e = _mm_sha1nexte_epu32(e, m[G % 4]);
    next = abcd;
    if constexpr (G >= 3 && G <= 18)
        m[(G + 1) % 4] = _mm_sha1msg2_epu32(m[(G + 1) % 4], m[G % 4]);
    abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
    if constexpr (G >= 1 && G <= 16)
        m[(G + 3) % 4] = _mm_sha1msg1_epu32(m[(G + 3) % 4], m[G % 4]);
    if constexpr (G >= 2 && G <= 17)
        m[(G + 2) % 4] = _mm_xor_si128(m[(G + 2) % 4], m[G % 4]);
}

template <int... G>
GRV_SHA_TARGET inline void sha1Groups(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&m)[4],
                                      const unsigned char* data, __m128i mask, std::integer_sequence<int, G...>) {
    (sha1Group<G>(abcd, e0, e1, m, data, mask), ...);
}

// Four steps of SHA-256 per group.
template <int G>
GRV_SHA_TARGET inline void sha256Group(__m128i& s0, __m128i& s1, __m128i (&m)[4], const unsigned char* data,
                                       __m128i mask) {
    if constexpr (G < 4)
        m[G] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * G)), mask);
    __m128i msg = _mm_add_epi32(m[G % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256K + 4 * G)));
    s1 = _mm_sha256rnds2_epu32(s1, s0, msg);
    if constexpr (G >= 3 && G <= 14) {
        __m128i t = _mm_alignr_epi8(m[G % 4], m[(G + 3) % 4], 4);
        m[(G + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(G + 1) % 4], t), m[G % 4]);
    }
    msg = _mm_shuffle_epi32(msg, 0x0E);
    s0 = _mm_sha256rnds2_epu32(s0, s1, msg);
    if constexpr (G >= 1 && G <= 12)
        m[(G + 3) % 4] = _mm_sha256msg1_epu32(m[(G + 3) % 4], m[G % 4]);
}

template <int... G>
GRV_SHA_TARGET inline void sha256Groups(__m128i& s0, __m128i& s1, __m128i (&m)[4], const unsigned char* data,
                                        __m128i mask, std::integer_sequence<int, G...>) {
    (sha256Group<G>(s0, s1, m, data, mask), ...);
}

} // namespace

GRV_SHA_TARGET void sha1Hardware(std::uint32_t state[5], const unsigned char* data, std::size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += kBlock) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i e1;
        __m128i m[4];
        sha1Groups(abcd, e0, e1, m, data, mask, std::make_integer_sequence<int, 20>());
        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

GRV_SHA_TARGET void sha256Hardware(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // The instructions want the words as ABEF and CDGH.
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i s1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i s0 = _mm_alignr_epi8(t, s1, 8);
    s1 = _mm_blend_epi16(s1, t, 0xF0);
    for (; blocks > 0; --blocks, data += kBlock) {
        const __m128i s0Saved = s0;
        const __m128i s1Saved = s1;
        __m128i m[4];
        sha256Groups(s0, s1, m, data, mask, std::make_integer_sequence<int, 16>());
        s0 = _mm_add_epi32(s0, s0Saved);
        s1 = _mm_add_epi32(s1, s1Saved);
    }
    t = _mm_shuffle_epi32(s0, 0x1B);
    s1 = _mm_shuffle_epi32(s1, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(t, s1, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(s1, t, 8));
}

bool hardwareAvailable() {
    static const bool available = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(kCpuidFeatures, &a, &b, &c, &d))
            return false;
        if ((c & kSsse3Bit) == 0 || (c & kSse41Bit) == 0)
            return false;
        if (!__get_cpuid_count(kCpuidExtended, 0, &a, &b, &c, &d))
            return false;
        return (b & kShaBit) != 0;
    }();
    return available;
}

#else

void sha1Hardware(std::uint32_t state[5], const unsigned char* data, std::size_t blocks) {
    sha1Portable(state, data, blocks);
}
void sha256Hardware(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
    sha256Portable(state, data, blocks);
}
bool hardwareAvailable() {
    return false;
}

#endif

void sha1(std::uint32_t state[5], const unsigned char* data, std::size_t blocks) {
    static const auto fn = hardwareAvailable() ? sha1Hardware : sha1Portable;
    fn(state, data, blocks);
}

void sha256(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
    static const auto fn = hardwareAvailable() ? sha256Hardware : sha256Portable;
    fn(state, data, blocks);
}

} // namespace tessik::shacompress
