#include "netlib/crypto/ShaCompress.h"

#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define GRV_SHA_X86 1
#endif

namespace tessik::shacompress {

namespace {

constexpr std::size_t kBlock = 64;

inline std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
inline std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

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

template <int Phase>
inline void sha1Phase(std::uint32_t s[5], const std::uint32_t* w) {
    std::uint32_t& a = s[0];
    std::uint32_t& b = s[1];
    std::uint32_t& c = s[2];
    std::uint32_t& d = s[3];
    std::uint32_t& e = s[4];
    for (int i = 0; i < 20; i += 5) {
        sha1Step<Phase>(a, b, c, d, e, w[i]);
        sha1Step<Phase>(e, a, b, c, d, w[i + 1]);
        sha1Step<Phase>(d, e, a, b, c, w[i + 2]);
        sha1Step<Phase>(c, d, e, a, b, w[i + 3]);
        sha1Step<Phase>(b, c, d, e, a, w[i + 4]);
    }
}

inline void sha256Step(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d, std::uint32_t e,
                       std::uint32_t f, std::uint32_t g, std::uint32_t& h, std::uint32_t kw) {
    std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + kw;
    std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

} // namespace

void sha1Portable(std::uint32_t state[5], const unsigned char* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kBlock) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBe32(data + 4 * i);
        for (int i = 16; i < 80; ++i)
            w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t s[5] = {state[0], state[1], state[2], state[3], state[4]};
        sha1Phase<0>(s, w);
        sha1Phase<1>(s, w + 20);
        sha1Phase<2>(s, w + 40);
        sha1Phase<3>(s, w + 60);
        for (int i = 0; i < 5; ++i)
            state[i] += s[i];
    }
}

void sha256Portable(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kBlock) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBe32(data + 4 * i);
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; i += 8) {
            sha256Step(a, b, c, d, e, f, g, h, kSha256K[i] + w[i]);
            sha256Step(h, a, b, c, d, e, f, g, kSha256K[i + 1] + w[i + 1]);
            sha256Step(g, h, a, b, c, d, e, f, kSha256K[i + 2] + w[i + 2]);
            sha256Step(f, g, h, a, b, c, d, e, kSha256K[i + 3] + w[i + 3]);
            sha256Step(e, f, g, h, a, b, c, d, kSha256K[i + 4] + w[i + 4]);
            sha256Step(d, e, f, g, h, a, b, c, kSha256K[i + 5] + w[i + 5]);
            sha256Step(c, d, e, f, g, h, a, b, kSha256K[i + 6] + w[i + 6]);
            sha256Step(b, c, d, e, f, g, h, a, kSha256K[i + 7] + w[i + 7]);
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
