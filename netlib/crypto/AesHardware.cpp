#include "netlib/crypto/AesHardware.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <wmmintrin.h>

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

void decryptCbc(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                unsigned char* out, std::size_t blocks) {
    // The blocks decrypt side by side, and each takes the ciphertext before
    // it while it is still in a register.
    Keys keys(roundKeys, rounds);
    __m128i chain = load(iv);
    std::size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) {
        __m128i c[kLanes], b[kLanes];
        for (std::size_t j = 0; j < kLanes; ++j)
            b[j] = c[j] = load(in + 16 * (i + j));
        cryptLanes<false, kLanes>(keys, rounds, b);
        store(out + 16 * i, _mm_xor_si128(b[0], chain));
        for (std::size_t j = 1; j < kLanes; ++j)
            store(out + 16 * (i + j), _mm_xor_si128(b[j], c[j - 1]));
        chain = c[kLanes - 1];
    }
    for (; i < blocks; ++i) {
        __m128i c = load(in + 16 * i), b = c;
        cryptLanes<false, 1>(keys, rounds, &b);
        store(out + 16 * i, _mm_xor_si128(b, chain));
        chain = c;
    }
    store(iv, chain);
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
} // namespace tessik::aesni

#endif
