// CBC decryption on the vector forms of the AES instructions, two blocks to
// a register (VAES with AVX2). Built for those instructions alone; only
// entered after the processor reported them.
#include "netlib/crypto/AesHardware.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "netlib/crypto/AesCbcWide.h"

namespace tessik::aesni {

namespace {

struct TwoBlocks {
    using V = __m256i;
    static constexpr std::size_t kBlocks = 2;
    static V load(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static void store(unsigned char* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    static V key(const unsigned char* k) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(k)));
    }
    static V zor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V dec(V b, V k) { return _mm256_aesdec_epi128(b, k); }
    static V decLast(V b, V k) { return _mm256_aesdeclast_epi128(b, k); }
    static V fromIv(const unsigned char* iv) { return key(iv); }
    static V previous(V c, V before) { return _mm256_permute2x128_si256(before, c, 0x21); }
    static void lastBlock(V v, unsigned char* iv) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), _mm256_extracti128_si256(v, 1));
    }
};

} // namespace

std::size_t decryptCbcGroupsTwo(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                                unsigned char* out, std::size_t blocks) {
    return decryptCbcGroups<TwoBlocks>(roundKeys, rounds, iv, in, out, blocks);
}

} // namespace tessik::aesni

#endif
