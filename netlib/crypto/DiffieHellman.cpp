#include "netlib/crypto/DiffieHellman.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikRand.h"

namespace tessik {

namespace {

constexpr int kGroup14 = 14;
constexpr std::uint32_t kMaxKeyBits = 10000;
constexpr unsigned char kGenerator = 2;
constexpr unsigned int kSsh1CountBytes = 2;
const std::uint32_t kOne[] = {1, 1};

// The primes of RFC 2409 group 2 (1024 bits) and RFC 3526 group 14 (2048 bits).
const unsigned char kGroup2Prime[] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC9, 0x0F, 0xDA, 0xA2, 0x21, 0x68, 0xC2, 0x34, 0xC4, 0xC6, 0x62,
    0x8B, 0x80, 0xDC, 0x1C, 0xD1, 0x29, 0x02, 0x4E, 0x08, 0x8A, 0x67, 0xCC, 0x74, 0x02, 0x0B, 0xBE, 0xA6, 0x3B, 0x13,
    0x9B, 0x22, 0x51, 0x4A, 0x08, 0x79, 0x8E, 0x34, 0x04, 0xDD, 0xEF, 0x95, 0x19, 0xB3, 0xCD, 0x3A, 0x43, 0x1B, 0x30,
    0x2B, 0x0A, 0x6D, 0xF2, 0x5F, 0x14, 0x37, 0x4F, 0xE1, 0x35, 0x6D, 0x6D, 0x51, 0xC2, 0x45, 0xE4, 0x85, 0xB5, 0x76,
    0x62, 0x5E, 0x7E, 0xC6, 0xF4, 0x4C, 0x42, 0xE9, 0xA6, 0x37, 0xED, 0x6B, 0x0B, 0xFF, 0x5C, 0xB6, 0xF4, 0x06, 0xB7,
    0xED, 0xEE, 0x38, 0x6B, 0xFB, 0x5A, 0x89, 0x9F, 0xA5, 0xAE, 0x9F, 0x24, 0x11, 0x7C, 0x4B, 0x1F, 0xE6, 0x49, 0x28,
    0x66, 0x51, 0xEC, 0xE6, 0x53, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};
const unsigned char kGroup14Prime[] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC9, 0x0F, 0xDA, 0xA2, 0x21, 0x68, 0xC2, 0x34, 0xC4, 0xC6, 0x62,
    0x8B, 0x80, 0xDC, 0x1C, 0xD1, 0x29, 0x02, 0x4E, 0x08, 0x8A, 0x67, 0xCC, 0x74, 0x02, 0x0B, 0xBE, 0xA6, 0x3B, 0x13,
    0x9B, 0x22, 0x51, 0x4A, 0x08, 0x79, 0x8E, 0x34, 0x04, 0xDD, 0xEF, 0x95, 0x19, 0xB3, 0xCD, 0x3A, 0x43, 0x1B, 0x30,
    0x2B, 0x0A, 0x6D, 0xF2, 0x5F, 0x14, 0x37, 0x4F, 0xE1, 0x35, 0x6D, 0x6D, 0x51, 0xC2, 0x45, 0xE4, 0x85, 0xB5, 0x76,
    0x62, 0x5E, 0x7E, 0xC6, 0xF4, 0x4C, 0x42, 0xE9, 0xA6, 0x37, 0xED, 0x6B, 0x0B, 0xFF, 0x5C, 0xB6, 0xF4, 0x06, 0xB7,
    0xED, 0xEE, 0x38, 0x6B, 0xFB, 0x5A, 0x89, 0x9F, 0xA5, 0xAE, 0x9F, 0x24, 0x11, 0x7C, 0x4B, 0x1F, 0xE6, 0x49, 0x28,
    0x66, 0x51, 0xEC, 0xE4, 0x5B, 0x3D, 0xC2, 0x00, 0x7C, 0xB8, 0xA1, 0x63, 0xBF, 0x05, 0x98, 0xDA, 0x48, 0x36, 0x1C,
    0x55, 0xD3, 0x9A, 0x69, 0x16, 0x3F, 0xA8, 0xFD, 0x24, 0xCF, 0x5F, 0x83, 0x65, 0x5D, 0x23, 0xDC, 0xA3, 0xAD, 0x96,
    0x1C, 0x62, 0xF3, 0x56, 0x20, 0x85, 0x52, 0xBB, 0x9E, 0xD5, 0x29, 0x07, 0x70, 0x96, 0x96, 0x6D, 0x67, 0x0C, 0x35,
    0x4E, 0x4A, 0xBC, 0x98, 0x04, 0xF1, 0x74, 0x6C, 0x08, 0xCA, 0x18, 0x21, 0x7C, 0x32, 0x90, 0x5E, 0x46, 0x2E, 0x36,
    0xCE, 0x3B, 0xE3, 0x9E, 0x77, 0x2C, 0x18, 0x0E, 0x86, 0x03, 0x9B, 0x27, 0x83, 0xA2, 0xEC, 0x07, 0xA2, 0x8F, 0xB5,
    0xC5, 0x5D, 0xF0, 0x6F, 0x4C, 0x52, 0xC9, 0xDE, 0x2B, 0xCB, 0xF6, 0x95, 0x58, 0x17, 0x18, 0x39, 0x95, 0x49, 0x7C,
    0xEA, 0x95, 0x6A, 0xE5, 0x15, 0xD2, 0x26, 0x18, 0x98, 0xFA, 0x05, 0x10, 0x15, 0x72, 0x8E, 0x5A, 0x8A, 0xAC, 0xAA,
    0x68, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

// Draws the exponent under qmask: its 2-byte-bit-count form ANDed with random
// non-zero bytes.
WordBignum maskedExponent(const std::uint32_t* qmask) {
    DataBuffer form;
    std::uint32_t size = wordBignumToSsh1Bytes(qmask, form);
    DataBuffer random;
    if (size == 0 || !TessikRand::randomNonZeroBytes(static_cast<int>(size), random) || random.getSize() != size)
        return nullptr;
    unsigned char* bytes = form.getData();
    for (std::uint32_t i = kSsh1CountBytes; i < size; ++i)
        bytes[i] &= random.getData()[i];
    WordBignum x = nullptr;
    wordBignumFromSsh1Bytes(bytes, size, &x);
    form.secureClear();
    random.secureClear();
    return x;
}

// 2^nbits with the bits below taken from random bytes.
WordBignum topBitExponent(std::uint32_t nbits) {
    WordBignum x = wordBignumPowerOfTwo(nbits);
    DataBuffer random;
    if (!TessikRand::randomNonZeroBytes(static_cast<int>(nbits), random) || random.getSize() != nbits) {
        wordBignumFree(x);
        return nullptr;
    }
    for (std::uint32_t i = 0; i < nbits; ++i)
        wordBignumSetBit(x, i, (random.getData()[i / 8] >> (i % 8)) & 1);
    random.secureClear();
    return x;
}

// base^exponent mod modulus, as a new word bignum.
WordBignum powerMod(const std::uint32_t* base, const std::uint32_t* exponent, const std::uint32_t* modulus) {
    MpInt b, x, m, r;
    wordBignumToMpInt(base, b);
    wordBignumToMpInt(exponent, x);
    wordBignumToMpInt(modulus, m);
    if (mp_exptmod(b, x, m, r) != MP_OKAY)
        return nullptr;
    return wordBignumFromMpInt(r);
}

} // namespace

bool DiffieHellman::setGroup(int number) {
    clear();
    if (number == kGroup14)
        p = wordBignumFromBytes(kGroup14Prime, sizeof kGroup14Prime);
    else
        p = wordBignumFromBytes(kGroup2Prime, sizeof kGroup2Prime);
    g = wordBignumFromBytes(&kGenerator, 1);
    deriveQ();
    return true;
}

void DiffieHellman::setPrime(WordBignum prime) {
    if (prime != p)
        wordBignumFree(p);
    p = prime;
    deriveQ();
}

void DiffieHellman::setGenerator(WordBignum generator) {
    if (generator != g)
        wordBignumFree(g);
    g = generator;
}

void DiffieHellman::deriveQ() {
    wordBignumFree(q);
    wordBignumFree(qmask);
    q = wordBignumShiftRight(p, 1);
    qmask = wordBignumBitMask(q);
}

bool DiffieHellman::generateKeyPair(std::uint32_t nbits) {
    if (nbits < 1 || nbits > kMaxKeyBits || p == nullptr || g == nullptr || wordBignumCompare(q, kOne) <= 0)
        return false;
    do {
        wordBignumFree(x);
        x = nbits >= wordBignumBitLength(q) ? maskedExponent(qmask) : topBitExponent(nbits);
        if (x == nullptr)
            return false;
    } while (wordBignumCompare(x, kOne) <= 0 || wordBignumCompare(x, q) >= 0);
    WordBignum value = powerMod(g, x, p);
    wordBignumFree(e);
    e = value;
    return e != nullptr;
}

bool DiffieHellman::computeSharedSecret(const std::uint32_t* f) {
    if (f == nullptr || x == nullptr || p == nullptr)
        return false;
    // 0, 1 and p - 1 give a secret anyone can guess; p and above are no member.
    WordBignum pMinusOne = wordBignumCopy(p);
    wordBignumSetBit(pMinusOne, 0, false);
    bool inRange = wordBignumCompare(f, kOne) > 0 && wordBignumCompare(f, pMinusOne) < 0;
    wordBignumFree(pMinusOne);
    if (!inRange)
        return false;
    WordBignum secret = powerMod(f, x, p);
    if (secret == nullptr)
        return false;
    wordBignumFree(K);
    K = secret;
    return true;
}

void DiffieHellman::clear() {
    for (WordBignum* field : {&g, &p, &q, &qmask, &x, &e, &K}) {
        wordBignumFree(*field);
        *field = nullptr;
    }
}

bool dsaNumbersBounded(const DsaKey& key, LogBase& log) {
    const auto pBits = static_cast<std::uint32_t>(mp_count_bits(key.p));
    const auto qBits = static_cast<std::uint32_t>(mp_count_bits(key.q));
    const bool qSized =
        std::find(std::begin(kDsaSubprimeBits), std::end(kDsaSubprimeBits), qBits) != std::end(kDsaSubprimeBits);
    const char* refusal = pBits > kDsaMaxPrimeBits ? dsa_msg::kPrimeTooLarge
                          : !qSized                ? dsa_msg::kSubprimeSize
                          : !mp_isodd(key.p)       ? dsa_msg::kPrimeEven
                                                   : nullptr;
    if (refusal == nullptr)
        return true;
    log.logError(refusal);
    log.logDataLong("pBits", static_cast<int>(pBits));
    log.logDataLong("qBits", static_cast<int>(qBits));
    return false;
}

bool dhPrimeBounded(const std::uint32_t* p, LogBase& log) {
    const std::uint32_t bits = p == nullptr ? 0 : wordBignumBitLength(p);
    if (bits <= kDhMaxPrimeBits)
        return true;
    log.logError(dh_msg::kPrimeTooLarge);
    log.logDataLong("pBits", static_cast<int>(bits));
    return false;
}

bool dsaVerifySignature(const mp_int* r, const mp_int* s, const unsigned char* hash, std::uint32_t hashLength,
                        const DsaKey& key, bool& valid, LogBase& log) {
    valid = false;
    if (hash == nullptr || hashLength == 0) {
        log.logError("null hash input in DSA verify");
        return false;
    }
    // A key its reader refused, or one built by hand, is never used.
    if (!dsaNumbersBounded(key, log))
        return false;
    if (mp_iszero(r) || mp_iszero(s) || mp_isneg(r) || mp_isneg(s) || mp_cmp(r, key.q) != MP_LT ||
        mp_cmp(s, key.q) != MP_LT) {
        log.logError("Invalid r/s in DSA signature validation");
        return false;
    }
    // The leftmost min(N, outlen) bits of the digest, N the bit length of q
    // (FIPS 186-4, 4.6): a SHA-512 digest under a 256-bit q keeps its first
    // 256 bits.
    const unsigned int qBits = static_cast<unsigned int>(mp_count_bits(key.q));
    const std::uint32_t used = std::min<std::uint32_t>(hashLength, (qBits + 7) / 8);
    const unsigned int surplus = used * 8 > qBits ? used * 8 - qBits : 0;
    MpInt w, h, u1, u2, v1, v2, v;
    bool ok = mp_invmod(s, key.q, w) == MP_OKAY && h.setBytes(hash, used) &&
              (surplus == 0 || mp_div_2d(h, static_cast<int>(surplus), h, nullptr) == MP_OKAY) &&
              mp_mulmod(h, w, key.q, u1) == MP_OKAY && mp_mulmod(r, w, key.q, u2) == MP_OKAY &&
              mp_exptmod(key.g, u1, key.p, v1) == MP_OKAY && mp_exptmod(key.y, u2, key.p, v2) == MP_OKAY &&
              mp_mulmod(v1, v2, key.p, v) == MP_OKAY && mp_mod(v, key.q, v) == MP_OKAY;
    valid = ok && mp_cmp(v, r) == MP_EQ;
    return true;
}

} // namespace tessik
