#include "netlib/crypto/TwoFish.h"

#include <cstring>
#include <mutex>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kBlock = kTwofishBlockSize;
constexpr int kRounds = 16;
constexpr int kKeyArea = 64;
constexpr int kMaxKeyBits = 256;
constexpr int kMidKeyBits = 192;
constexpr int kMinKeyBits = 128;
constexpr std::uint32_t kRho = 0x01010101;
constexpr unsigned int kMdsPoly = 0x169;
constexpr unsigned int kRsPoly = 0x14D;

// The 4-bit permutations the two fixed byte permutations are built from.
constexpr std::uint8_t kQt[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}},
};

struct Tables {
    std::uint8_t q[2][256];
    std::uint32_t mds[4][256];
};

Tables g_tables;
std::once_flag g_tablesOnce;

unsigned int ror4(unsigned int x) {
    return ((x >> 1) | (x << 3)) & 0xF;
}

std::uint8_t permute(const std::uint8_t t[4][16], unsigned int x) {
    unsigned int a = x >> 4, b = x & 0xF;
    unsigned int a1 = a ^ b, b1 = (a ^ ror4(b) ^ (a << 3)) & 0xF;
    unsigned int a2 = t[0][a1], b2 = t[1][b1];
    unsigned int a3 = a2 ^ b2, b3 = (a2 ^ ror4(b2) ^ (a2 << 3)) & 0xF;
    return static_cast<std::uint8_t>((t[3][b3] << 4) | t[2][a3]);
}

unsigned int gfMul(unsigned int a, unsigned int b, unsigned int poly) {
    unsigned int r = 0;
    for (; b; b >>= 1, a <<= 1) {
        if (a & 0x100)
            a ^= poly;
        if (b & 1)
            r ^= a;
    }
    return r & 0xFF;
}

const Tables& tables() {
    std::call_once(g_tablesOnce, twofishBuildMdsTables);
    return g_tables;
}

std::uint32_t rol(std::uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}
std::uint32_t ror(std::uint32_t x, int s) {
    return (x >> s) | (x << (32 - s));
}
unsigned int byteOf(std::uint32_t w, int i) {
    return (w >> (8 * i)) & 0xFF;
}

// The q stages of h before its last one, for byte position j of a key of
// k word pairs whose list words are l[0..k-1].
unsigned int hChain(unsigned int x, int j, int k, const std::uint32_t* l) {
    const auto& q = tables().q;
    // Which q (0 or 1) each stage applies at each byte position, from the
    // fourth list word down to the first.
    static constexpr int kStage4[4] = {1, 0, 0, 1};
    static constexpr int kStage3[4] = {1, 1, 0, 0};
    static constexpr int kStage2[4] = {0, 1, 0, 1};
    static constexpr int kStage1[4] = {0, 0, 1, 1};
    if (k == 4)
        x = q[kStage4[j]][x] ^ byteOf(l[3], j);
    if (k >= 3)
        x = q[kStage3[j]][x] ^ byteOf(l[2], j);
    x = q[kStage2[j]][x] ^ byteOf(l[1], j);
    return q[kStage1[j]][x] ^ byteOf(l[0], j);
}

std::uint32_t h(std::uint32_t x, int k, const std::uint32_t* l) {
    const auto& mds = tables().mds;
    return mds[0][hChain(byteOf(x, 0), 0, k, l)] ^ mds[1][hChain(byteOf(x, 1), 1, k, l)] ^
           mds[2][hChain(byteOf(x, 2), 2, k, l)] ^ mds[3][hChain(byteOf(x, 3), 3, k, l)];
}

std::uint32_t g(const TwofishKey& key, std::uint32_t x) {
    return key.sbox[0][x & 0xFF] ^ key.sbox[1][(x >> 8) & 0xFF] ^ key.sbox[2][(x >> 16) & 0xFF] ^ key.sbox[3][x >> 24];
}

inline void encryptBlock(const TwofishKey& key, const std::uint32_t in[4], std::uint32_t out[4]) {
    const std::uint32_t* k = key.subkeys;
    std::uint32_t x0 = in[0] ^ k[0], x1 = in[1] ^ k[1], x2 = in[2] ^ k[2], x3 = in[3] ^ k[3];
    for (int r = 0; r < kRounds; r += 2) {
        std::uint32_t t0 = g(key, x0), t1 = g(key, rol(x1, 8));
        x2 = ror(x2 ^ (t0 + t1 + k[8 + 2 * r]), 1);
        x3 = rol(x3, 1) ^ (t0 + 2 * t1 + k[9 + 2 * r]);
        t0 = g(key, x2);
        t1 = g(key, rol(x3, 8));
        x0 = ror(x0 ^ (t0 + t1 + k[10 + 2 * r]), 1);
        x1 = rol(x1, 1) ^ (t0 + 2 * t1 + k[11 + 2 * r]);
    }
    out[0] = x2 ^ k[4];
    out[1] = x3 ^ k[5];
    out[2] = x0 ^ k[6];
    out[3] = x1 ^ k[7];
}

inline void decryptBlock(const TwofishKey& key, const std::uint32_t in[4], std::uint32_t out[4]) {
    const std::uint32_t* k = key.subkeys;
    std::uint32_t x2 = in[0] ^ k[4], x3 = in[1] ^ k[5], x0 = in[2] ^ k[6], x1 = in[3] ^ k[7];
    for (int r = kRounds - 2; r >= 0; r -= 2) {
        std::uint32_t t0 = g(key, x2), t1 = g(key, rol(x3, 8));
        x1 = ror(x1 ^ (t0 + 2 * t1 + k[11 + 2 * r]), 1);
        x0 = rol(x0, 1) ^ (t0 + t1 + k[10 + 2 * r]);
        t0 = g(key, x0);
        t1 = g(key, rol(x1, 8));
        x3 = ror(x3 ^ (t0 + 2 * t1 + k[9 + 2 * r]), 1);
        x2 = rol(x2, 1) ^ (t0 + t1 + k[8 + 2 * r]);
    }
    out[0] = x0 ^ k[0];
    out[1] = x1 ^ k[1];
    out[2] = x2 ^ k[2];
    out[3] = x3 ^ k[3];
}

// One block: four little-endian words through the rounds.
inline void cryptBlock(const TwofishKey& key, bool encrypt, const unsigned char* in, unsigned char* out) {
    std::uint32_t w[4], r[4];
    for (int i = 0; i < 4; ++i)
        w[i] = platform::LoadLe32(in + 4 * i);
    encrypt ? encryptBlock(key, w, r) : decryptBlock(key, w, r);
    for (int i = 0; i < 4; ++i)
        platform::StoreLe32(out + 4 * i, r[i]);
}

} // namespace

void twofishBuildMdsTables() {
    for (int t = 0; t < 2; ++t)
        for (unsigned int x = 0; x < 256; ++x)
            g_tables.q[t][x] = permute(kQt[t], x);
    // MDS columns, each with the last q of its byte position folded in.
    static constexpr unsigned int kColumn[4][4] = {
        {0x01, 0x5B, 0xEF, 0xEF}, {0xEF, 0xEF, 0x5B, 0x01}, {0x5B, 0xEF, 0x01, 0xEF}, {0x5B, 0x01, 0xEF, 0x5B}};
    static constexpr int kLastQ[4] = {1, 0, 1, 0};
    for (int j = 0; j < 4; ++j)
        for (unsigned int x = 0; x < 256; ++x) {
            const unsigned int y = g_tables.q[kLastQ[j]][x];
            std::uint32_t w = 0;
            for (int row = 0; row < 4; ++row)
                w |= std::uint32_t(gfMul(y, kColumn[j][row], kMdsPoly)) << (8 * row);
            g_tables.mds[j][x] = w;
        }
}

std::uint32_t twofishRsEncode(std::uint32_t k0, std::uint32_t k1) {
    std::uint32_t r = 0;
    for (std::uint32_t word : {k1, k0}) {
        r ^= word;
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t b = r >> 24;
            const std::uint32_t g2 = ((b << 1) ^ ((b & 0x80) ? kRsPoly : 0)) & 0xFF;
            const std::uint32_t g3 = ((b >> 1) ^ ((b & 1) ? (kRsPoly >> 1) : 0)) ^ g2;
            r = (r << 8) ^ (g3 << 24) ^ (g2 << 16) ^ (g3 << 8) ^ b;
        }
    }
    return r;
}

void twofishInitKey(TwofishKey& key, int keyBits) {
    key.keyBits = (keyBits + 63) / 64 * 64;
    key.rounds = kRounds;
    std::memset(key.keyWords, 0, sizeof key.keyWords);
}

bool twofishRekey(TwofishKey& key) {
    const auto& mds = tables().mds;
    const int k = key.keyBits / 64;
    std::uint32_t even[4], odd[4];
    for (int i = 0; i < k; ++i) {
        even[i] = key.keyWords[2 * i];
        odd[i] = key.keyWords[2 * i + 1];
        key.sboxKeys[k - 1 - i] = twofishRsEncode(even[i], odd[i]);
    }
    for (int i = 0; i < 20; ++i) {
        const std::uint32_t a = h(2 * i * kRho, k, even);
        const std::uint32_t b = rol(h((2 * i + 1) * kRho, k, odd), 8);
        key.subkeys[2 * i] = a + b;
        key.subkeys[2 * i + 1] = rol(a + 2 * b, 9);
    }
    for (int j = 0; j < 4; ++j)
        for (unsigned int x = 0; x < 256; ++x)
            key.sbox[j][x] = mds[j][hChain(x, j, k, key.sboxKeys)];
    return true;
}

TwoFish::TwoFish()
    : ChainedBlockCipher({kBlock, kBlock, false, SwapOrder::kAfterUnpadding}), m_ctx{}, m_keyLength(kMaxKeyBits),
      m_mode(kTwofishModeCbc) {}

TwoFish::~TwoFish() {
    std::memset(&m_ctx, 0, sizeof m_ctx);
    m_key.secureClear();
}

void TwoFish::setKeyLength(int bits) {
    m_keyLength = bits > kMidKeyBits ? kMaxKeyBits : bits > kMinKeyBits ? kMidKeyBits : kMinKeyBits;
}

void TwoFish::setKey(const DataBuffer& key) {
    m_key.secureClear();
    m_key.appendDb(key);
}

void TwoFish::setKeyFromPassword(const char* password) {
    m_key.secureClear();
    keyFromPassword(password, m_key);
}

void TwoFish::setIv(const unsigned char* iv) {
    if (iv)
        storeIv(iv, kBlock);
}

void TwoFish::prepareKey() {
    twofishInitKey(m_ctx, m_keyLength);
    unsigned char area[kKeyArea] = {};
    const unsigned int have = m_key.getSize() < kKeyArea ? m_key.getSize() : kKeyArea;
    if (have > 0)
        std::memcpy(area, m_key.getData(), have);
    for (int i = 0; i < m_keyLength / 32; ++i)
        m_ctx.keyWords[i] = platform::LoadLe32(area + 4 * i);
    std::memset(area, 0, sizeof area);
    twofishRekey(m_ctx);
}

ChainedBlockCipher::Chaining TwoFish::chaining() const {
    return m_mode == kTwofishModeEcb ? Chaining::kEcb : Chaining::kCbc;
}

void TwoFish::prepare(bool) {
    prepareKey();
}

void TwoFish::runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const {
    cryptBlock(m_ctx, encrypt, in, out);
}

void TwoFish::encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const {
    encryptChained<kBlock>(iv, in, out, blocks,
                           [this](const unsigned char* from, unsigned char* to) { cryptBlock(m_ctx, true, from, to); });
}

} // namespace tessik
