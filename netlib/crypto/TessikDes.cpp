#include "netlib/crypto/TessikDes.h"

#include <cstring>
#include <memory>

#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kBlock = kDesBlockSize;
constexpr int kRounds = 16;

// FIPS 46-3 tables, bit 1 the most significant.
constexpr std::uint8_t kSbox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8, 14, 6,  11, 3,  4, 9, 7, 2,  13, 12, 0, 5, 10, 3,  13, 4,  7, 15, 2,  8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0,  14, 7, 11, 10, 4,  13, 1, 5, 8, 12, 6,  9,  3, 2, 15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0, 8, 13, 3,  12, 9, 7, 5, 10, 6, 1, 13, 0,  11, 7, 4, 9, 1,  10, 14, 3, 5, 12, 2,  15, 8, 6,
     1, 4,  11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5,  9, 2, 6,  11, 13, 8, 1, 4, 10, 7,  9,  5, 0, 15, 14, 2,  3, 12},
    {13, 2,  8, 4, 6, 15, 11, 1, 10, 9, 3,  14, 5,  0, 12, 7, 1, 15, 13, 8, 10, 3,  7, 4,  12, 5,  6, 11, 0, 14, 9, 2,
     7,  11, 4, 1, 9, 12, 14, 2, 0,  6, 10, 13, 15, 3, 5,  8, 2, 1,  14, 7, 4,  10, 8, 13, 15, 12, 9, 0,  3, 5,  6, 11},
};

constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                                   35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                                   46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t kShifts[kRounds] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

std::uint32_t rotl(std::uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

// S-box j's output run through P, in the rotated-by-one layout the rounds
// keep their halves in; indexed by the six expanded bits in order.
struct DesTables {
    std::uint32_t sp[8][64];
};

const DesTables& tables() {
    static const std::unique_ptr<DesTables> built = [] {
        auto t = std::make_unique<DesTables>();
        for (int j = 0; j < 8; ++j)
            for (int idx = 0; idx < 64; ++idx) {
                int row = ((idx >> 4) & 2) | (idx & 1);
                int col = (idx >> 1) & 0xF;
                std::uint32_t s = std::uint32_t(kSbox[j][row * 16 + col]) << (28 - 4 * j);
                std::uint32_t p = 0;
                for (int i = 0; i < 32; ++i)
                    if (s & (0x80000000u >> (kP[i] - 1)))
                        p |= 0x80000000u >> i;
                t->sp[j][idx] = rotl(p, 1);
            }
        return t;
    }();
    return *built;
}

// IP as bit swaps; leaves both halves rotated left by one.
void initialPermutation(std::uint32_t& x, std::uint32_t& y) {
    std::uint32_t t;
    t = ((x >> 4) ^ y) & 0x0F0F0F0F;
    y ^= t;
    x ^= t << 4;
    t = ((x >> 16) ^ y) & 0x0000FFFF;
    y ^= t;
    x ^= t << 16;
    t = ((y >> 2) ^ x) & 0x33333333;
    x ^= t;
    y ^= t << 2;
    t = ((y >> 8) ^ x) & 0x00FF00FF;
    x ^= t;
    y ^= t << 8;
    y = rotl(y, 1);
    t = (x ^ y) & 0xAAAAAAAA;
    y ^= t;
    x ^= t;
    x = rotl(x, 1);
}

void finalPermutation(std::uint32_t& x, std::uint32_t& y) {
    std::uint32_t t;
    x = rotl(x, 31);
    t = (x ^ y) & 0xAAAAAAAA;
    x ^= t;
    y ^= t;
    y = rotl(y, 31);
    t = ((y >> 8) ^ x) & 0x00FF00FF;
    x ^= t;
    y ^= t << 8;
    t = ((y >> 2) ^ x) & 0x33333333;
    x ^= t;
    y ^= t << 2;
    t = ((x >> 16) ^ y) & 0x0000FFFF;
    y ^= t;
    x ^= t << 16;
    t = ((x >> 4) ^ y) & 0x0F0F0F0F;
    y ^= t;
    x ^= t << 4;
}

// The sixteen rounds on halves already through IP.
void rounds(const DesTables& t, const std::uint32_t* sk, std::uint32_t& x, std::uint32_t& y) {
    auto f = [&t](std::uint32_t r, const std::uint32_t* k) {
        std::uint32_t a = k[0] ^ r;
        std::uint32_t b = k[1] ^ rotl(r, 28);
        return t.sp[7][a & 0x3F] ^ t.sp[5][(a >> 8) & 0x3F] ^ t.sp[3][(a >> 16) & 0x3F] ^ t.sp[1][(a >> 24) & 0x3F] ^
               t.sp[6][b & 0x3F] ^ t.sp[4][(b >> 8) & 0x3F] ^ t.sp[2][(b >> 16) & 0x3F] ^ t.sp[0][(b >> 24) & 0x3F];
    };
    for (int i = 0; i < kRounds; i += 2) {
        x ^= f(y, sk + 2 * i);
        y ^= f(x, sk + 2 * i + 2);
    }
}

void reverseSet(const std::uint32_t* src, std::uint32_t* dst) {
    for (int i = 0; i < kRounds; ++i) {
        dst[2 * i] = src[2 * (kRounds - 1 - i)];
        dst[2 * i + 1] = src[2 * (kRounds - 1 - i) + 1];
    }
}

} // namespace

TessikDes::TessikDes()
    : ChainedBlockCipher({kBlock, kBlock, true, SwapOrder::kBeforeUnpadding}), m_encrypt{}, m_decrypt{},
      m_keyLength(kDesThreeKeyBits), m_mode(kDesModeEcb) {}

TessikDes::~TessikDes() {
    std::memset(m_encrypt, 0, sizeof m_encrypt);
    std::memset(m_decrypt, 0, sizeof m_decrypt);
}

void TessikDes::desSetKey(const unsigned char key[8], std::uint32_t subkeys[kSetWords]) {
    auto bit = [key](int n) { return (key[(n - 1) / 8] >> (7 - (n - 1) % 8)) & 1; };
    std::uint32_t c = 0, d = 0;
    for (int i = 0; i < 28; ++i) {
        c = (c << 1) | bit(kPc1[i]);
        d = (d << 1) | bit(kPc1[28 + i]);
    }
    constexpr std::uint32_t kMask28 = 0x0FFFFFFF;
    for (int r = 0; r < kRounds; ++r) {
        c = ((c << kShifts[r]) | (c >> (28 - kShifts[r]))) & kMask28;
        d = ((d << kShifts[r]) | (d >> (28 - kShifts[r]))) & kMask28;
        std::uint8_t group[8] = {};
        for (int i = 0; i < 48; ++i) {
            int n = kPc2[i];
            int b = n <= 28 ? (c >> (28 - n)) & 1 : (d >> (56 - n)) & 1;
            group[i / 6] = static_cast<std::uint8_t>((group[i / 6] << 1) | b);
        }
        subkeys[2 * r] = (std::uint32_t(group[1]) << 24) | (std::uint32_t(group[3]) << 16) |
                         (std::uint32_t(group[5]) << 8) | group[7];
        subkeys[2 * r + 1] = (std::uint32_t(group[0]) << 24) | (std::uint32_t(group[2]) << 16) |
                             (std::uint32_t(group[4]) << 8) | group[6];
    }
}

void TessikDes::cryptBlock(const std::uint32_t subkeys[kSetWords], const unsigned char in[8], unsigned char out[8]) {
    const DesTables& t = tables();
    std::uint32_t x = platform::LoadBe32(in), y = platform::LoadBe32(in + 4);
    initialPermutation(x, y);
    rounds(t, subkeys, x, y);
    finalPermutation(y, x);
    platform::StoreBe32(out, y);
    platform::StoreBe32(out + 4, x);
}

void TessikDes::crypt3Block(const std::uint32_t schedule[kScheduleWords], const unsigned char in[8],
                            unsigned char out[8]) {
    const DesTables& t = tables();
    std::uint32_t x = platform::LoadBe32(in), y = platform::LoadBe32(in + 4);
    initialPermutation(x, y);
    // The FP/IP pairs between the passes cancel; only the halves swap.
    rounds(t, schedule, x, y);
    rounds(t, schedule + kSetWords, y, x);
    rounds(t, schedule + 2 * kSetWords, x, y);
    finalPermutation(y, x);
    platform::StoreBe32(out, y);
    platform::StoreBe32(out + 4, x);
}

void TessikDes::setKeySingle(const unsigned char* k) {
    desSetKey(k, m_encrypt);
    reverseSet(m_encrypt, m_decrypt);
}

void TessikDes::setKey3(const unsigned char* k) {
    std::uint32_t e1[kSetWords], e2[kSetWords], e3[kSetWords];
    desSetKey(k, e1);
    desSetKey(k + 8, e2);
    desSetKey(k + 16, e3);
    std::memcpy(m_encrypt, e1, sizeof e1);
    reverseSet(e2, m_encrypt + kSetWords);
    std::memcpy(m_encrypt + 2 * kSetWords, e3, sizeof e3);
    reverseSet(e3, m_decrypt);
    std::memcpy(m_decrypt + kSetWords, e2, sizeof e2);
    reverseSet(e1, m_decrypt + 2 * kSetWords);
    std::memset(e1, 0, sizeof e1);
    std::memset(e2, 0, sizeof e2);
    std::memset(e3, 0, sizeof e3);
}

void TessikDes::setKey2(const unsigned char* k) {
    unsigned char k3[24];
    std::memcpy(k3, k, 16);
    std::memcpy(k3 + 16, k, 8);
    setKey3(k3);
    std::memset(k3, 0, sizeof k3);
}

void TessikDes::setKey(const DataBuffer& key, unsigned int bits, LogBase&) {
    // Copied rather than extended in place, so the caller's key is never touched.
    unsigned char k[24] = {};
    if (key.getSize())
        std::memcpy(k, key.getData(), key.getSize() < sizeof k ? key.getSize() : sizeof k);
    if (bits < kDesTwoKeyBits) {
        m_keyLength = kDesSingleBits;
        setKeySingle(k);
    } else if (bits >= kDesThreeKeyBits) {
        m_keyLength = kDesThreeKeyBits;
        setKey3(k);
    } else {
        m_keyLength = kDesTwoKeyBits;
        setKey2(k);
    }
    std::memset(k, 0, sizeof k);
}

void TessikDes::setIv(const DataBuffer& iv) {
    storeIv(iv.getData(), iv.getSize());
}

void TessikDes::clearIv() {
    storeIv(nullptr, 0);
}

void TessikDes::runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const {
    const std::uint32_t* sched = encrypt ? m_encrypt : m_decrypt;
    if (triple())
        crypt3Block(sched, in, out);
    else
        cryptBlock(sched, in, out);
}

void TessikDes::encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const {
    encryptChained<kBlock>(iv, in, out, blocks, [this](const unsigned char* from, unsigned char* to) {
        triple() ? crypt3Block(m_encrypt, from, to) : cryptBlock(m_encrypt, from, to);
    });
}

ChainedBlockCipher::Chaining TessikDes::chaining() const {
    return m_mode == kDesModeEcb ? Chaining::kEcb : m_mode == kDesModeCfb ? Chaining::kCfb : Chaining::kCbc;
}

} // namespace tessik
