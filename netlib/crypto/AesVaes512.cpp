// CBC decryption on the vector forms of the AES instructions, four blocks to
// a register (VAES with AVX-512). Built for those instructions alone; only
// entered after the processor reported them.
#include "netlib/crypto/AesHardware.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "netlib/crypto/AesCbcWide.h"

namespace tessik::aesni {

namespace {

// The masked forms, every lane on: the plain ones leave an undefined operand
// that the compiler's check for uninitialised values trips on.
constexpr __mmask16 kAllWords = 0xFFFF;
constexpr __mmask8 kAllQuads = 0xFF;
constexpr __mmask8 kAllWordsOfBlock = 0xF;
constexpr int kLastBlock = 3;
constexpr int kQuadsBeforeLastBlock = 6;

struct FourBlocks {
    using V = __m512i;
    static constexpr std::size_t kBlocks = 4;
    static V load(const unsigned char* p) { return _mm512_loadu_si512(p); }
    static void store(unsigned char* p, V v) { _mm512_storeu_si512(p, v); }
    static V key(const unsigned char* k) {
        return _mm512_maskz_broadcast_i32x4(kAllWords, _mm_loadu_si128(reinterpret_cast<const __m128i*>(k)));
    }
    static V zor(V a, V b) { return _mm512_xor_si512(a, b); }
    static V dec(V b, V k) { return _mm512_aesdec_epi128(b, k); }
    static V decLast(V b, V k) { return _mm512_aesdeclast_epi128(b, k); }
    static V fromIv(const unsigned char* iv) { return key(iv); }
    static V previous(V c, V before) { return _mm512_maskz_alignr_epi64(kAllQuads, c, before, kQuadsBeforeLastBlock); }
    static void lastBlock(V v, unsigned char* iv) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(iv),
                         _mm512_maskz_extracti32x4_epi32(kAllWordsOfBlock, v, kLastBlock));
    }
};

} // namespace

std::size_t decryptCbcGroupsFour(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                                 unsigned char* out, std::size_t blocks) {
    return decryptCbcGroups<FourBlocks>(roundKeys, rounds, iv, in, out, blocks);
}

} // namespace tessik::aesni

#endif
