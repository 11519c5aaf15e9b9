#include "netlib/crypto/AesHardware.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

#include "netlib/crypto/AesCbcWide.h"

namespace tessik::aesni {

namespace {

constexpr std::size_t kLanes = 4;

inline __m128i load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(unsigned char* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

struct Keys {
    __m128i k[15];
    Keys(const unsigned char* roundKeys, int rounds) {
        for (int i = 0; i <= rounds; ++i)
            k[i] = load(roundKeys + 16 * i);
    }
};

template <bool Encrypt>
inline __m128i middleRound(__m128i b, __m128i key) {
    return Encrypt ? _mm_aesenc_si128(b, key) : _mm_aesdec_si128(b, key);
}

template <bool Encrypt>
inline __m128i lastRound(__m128i b, __m128i key) {
    return Encrypt ? _mm_aesenclast_si128(b, key) : _mm_aesdeclast_si128(b, key);
}

// `lanes` blocks through all rounds, interleaved so the rounds of one block
// hide the latency of the others'.
template <bool Encrypt, std::size_t Lanes>
inline void cryptLanes(const Keys& keys, int rounds, __m128i* b) {
    for (std::size_t j = 0; j < Lanes; ++j)
        b[j] = _mm_xor_si128(b[j], keys.k[0]);
    for (int r = 1; r < rounds; ++r)
        for (std::size_t j = 0; j < Lanes; ++j)
            b[j] = middleRound<Encrypt>(b[j], keys.k[r]);
    for (std::size_t j = 0; j < Lanes; ++j)
        b[j] = lastRound<Encrypt>(b[j], keys.k[rounds]);
}

template <bool Encrypt>
void cryptEcb(const unsigned char* roundKeys, int rounds, const unsigned char* in, unsigned char* out,
              std::size_t blocks) {
    Keys keys(roundKeys, rounds);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i b[kLanes];
        for (std::size_t j = 0; j < kLanes; ++j)
            b[j] = load(in + 16 * (i + j));
        cryptLanes<Encrypt, kLanes>(keys, rounds, b);
        for (std::size_t j = 0; j < kLanes; ++j)
            store(out + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i) {
        __m128i b = load(in + 16 * i);
        cryptLanes<Encrypt, 1>(keys, rounds, &b);
        store(out + 16 * i, b);
    }
}

} // namespace

bool supported() {
    return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
}

void encryptEcb(const unsigned char* roundKeys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
    cryptEcb<true>(roundKeys, rounds, in, out, blocks);
}

void decryptEcb(const unsigned char* roundKeys, int rounds, const unsigned char* in, unsigned char* out,
                std::size_t blocks) {
    cryptEcb<false>(roundKeys, rounds, in, out, blocks);
}

void encryptCbc(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                unsigned char* out, std::size_t blocks) {
    // Each block waits on the one before: the chain stays in a register and
    // the round keys are loaded once for the whole run.
    Keys keys(roundKeys, rounds);
    __m128i chain = load(iv);
    for (std::size_t i = 0; i < blocks; ++i) {
        chain = _mm_xor_si128(load(in + 16 * i), chain);
        cryptLanes<true, 1>(keys, rounds, &chain);
        store(out + 16 * i, chain);
    }
    store(iv, chain);
}

namespace {

struct OneBlock {
    using V = __m128i;
    static constexpr std::size_t kBlocks = 1;
    static V load(const unsigned char* p) { return aesni::load(p); }
    static void store(unsigned char* p, V v) { aesni::store(p, v); }
    static V key(const unsigned char* k) { return aesni::load(k); }
    static V zor(V a, V b) { return _mm_xor_si128(a, b); }
    static V dec(V b, V k) { return _mm_aesdec_si128(b, k); }
    static V decLast(V b, V k) { return _mm_aesdeclast_si128(b, k); }
    static V fromIv(const unsigned char* iv) { return aesni::load(iv); }
    static V previous(V, V before) { return before; }
    static void lastBlock(V v, unsigned char* iv) { aesni::store(iv, v); }
};

} // namespace

bool cbcWidthSupported(CbcWidth width) {
    static const bool vaes = [] {
        constexpr unsigned kExtendedFeatures = 7;
        constexpr unsigned kVaesBit = 1u << 9; // ECX
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid_count(kExtendedFeatures, 0, &a, &b, &c, &d) && (c & kVaesBit) != 0;
    }();
    if (!supported())
        return false;
    switch (width) {
    case CbcWidth::kOne: return true;
    case CbcWidth::kTwo: return vaes && __builtin_cpu_supports("avx2");
    case CbcWidth::kFour: return vaes && __builtin_cpu_supports("avx512f");
    }
    return false;
}

void decryptCbcAt(CbcWidth width, const unsigned char* roundKeys, int rounds, unsigned char* iv,
                  const unsigned char* in, unsigned char* out, std::size_t blocks) {
    std::size_t done = 0;
    if (width == CbcWidth::kFour)
        done = decryptCbcGroupsFour(roundKeys, rounds, iv, in, out, blocks);
    else if (width == CbcWidth::kTwo)
        done = decryptCbcGroupsTwo(roundKeys, rounds, iv, in, out, blocks);
    done += decryptCbcGroups<OneBlock>(roundKeys, rounds, iv, in + 16 * done, out + 16 * done, blocks - done);
    // The last few, one at a time.
    Keys keys(roundKeys, rounds);
    __m128i chain = load(iv);
    for (std::size_t i = done; i < blocks; ++i) {
        __m128i c = load(in + 16 * i), b = c;
        cryptLanes<false, 1>(keys, rounds, &b);
        store(out + 16 * i, _mm_xor_si128(b, chain));
        chain = c;
    }
    store(iv, chain);
}

void decryptCbc(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                unsigned char* out, std::size_t blocks) {
    static const CbcWidth widest = cbcWidthSupported(CbcWidth::kFour)  ? CbcWidth::kFour
                                   : cbcWidthSupported(CbcWidth::kTwo) ? CbcWidth::kTwo
                                                                       : CbcWidth::kOne;
    decryptCbcAt(widest, roundKeys, rounds, iv, in, out, blocks);
}

} // namespace tessik::aesni

#else

namespace tessik::aesni {
bool supported() {
    return false;
}
void encryptEcb(const unsigned char*, int, const unsigned char*, unsigned char*, std::size_t) {}
void decryptEcb(const unsigned char*, int, const unsigned char*, unsigned char*, std::size_t) {}
void encryptCbc(const unsigned char*, int, unsigned char*, const unsigned char*, unsigned char*, std::size_t) {}
void decryptCbc(const unsigned char*, int, unsigned char*, const unsigned char*, unsigned char*, std::size_t) {}
bool cbcWidthSupported(CbcWidth) {
    return false;
}
void decryptCbcAt(CbcWidth, const unsigned char*, int, unsigned char*, const unsigned char*, unsigned char*,
                  std::size_t) {}
} // namespace tessik::aesni

#endif
