#include "netlib/crypto/Blowfish.h"

#include <bit>
#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/BlowfishTables.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kBlock = 8;
constexpr unsigned int kKeyArea = 64;
constexpr int kRounds = 16;
constexpr int kDefaultKeyBits = 128;

inline std::uint32_t feistel(const BlowfishSchedule& k, std::uint32_t x) {
    return ((k.s[0][x >> 24] + k.s[1][(x >> 16) & 0xFF]) ^ k.s[2][(x >> 8) & 0xFF]) + k.s[3][x & 0xFF];
}

inline void encryptPair(const BlowfishSchedule& k, std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l = left, r = right;
    for (int i = 0; i < kRounds; i += 2) {
        l ^= k.p[i];
        r ^= feistel(k, l);
        r ^= k.p[i + 1];
        l ^= feistel(k, r);
    }
    left = r ^ k.p[kRounds + 1];
    right = l ^ k.p[kRounds];
}

inline void decryptPair(const BlowfishSchedule& k, std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l = left, r = right;
    for (int i = kRounds + 1; i > 1; i -= 2) {
        l ^= k.p[i];
        r ^= feistel(k, l);
        r ^= k.p[i - 1];
        l ^= feistel(k, r);
    }
    left = r ^ k.p[0];
    right = l ^ k.p[1];
}

// One block whose halves are read and written in the given byte order.
template <std::endian Order>
inline void cryptBlock(const BlowfishSchedule& k, bool encrypt, const unsigned char* in, unsigned char* out) {
    const bool big = Order == std::endian::big;
    std::uint32_t l = big ? platform::LoadBe32(in) : platform::LoadLe32(in);
    std::uint32_t r = big ? platform::LoadBe32(in + 4) : platform::LoadLe32(in + 4);
    encrypt ? encryptPair(k, l, r) : decryptPair(k, l, r);
    big ? platform::StoreBe32(out, l) : platform::StoreLe32(out, l);
    big ? platform::StoreBe32(out + 4, r) : platform::StoreLe32(out + 4, r);
}

// The key cycles over keyBits / 8 bytes: a shorter key is zero-extended to
// that length, a longer one cut.
void expandKey(BlowfishSchedule& k, const DataBuffer& key, int keyBits) {
    unsigned char area[kKeyArea] = {};
    const unsigned int have = key.getSize() < kKeyArea ? key.getSize() : kKeyArea;
    if (have > 0)
        std::memcpy(area, key.getData(), have);
    const unsigned int cycle = static_cast<unsigned int>(keyBits) / 8;
    std::memcpy(k.p, kBlowfishInitP, sizeof k.p);
    std::memcpy(k.s, kBlowfishInitS, sizeof k.s);
    unsigned int j = 0;
    for (std::uint32_t& p : k.p) {
        std::uint32_t w = 0;
        for (int b = 0; b < 4; ++b, j = (j + 1) % cycle)
            w = (w << 8) | area[j];
        p ^= w;
    }
    std::uint32_t l = 0, r = 0;
    for (int i = 0; i < kBlowfishPWords; i += 2) {
        encryptPair(k, l, r);
        k.p[i] = l;
        k.p[i + 1] = r;
    }
    for (auto& box : k.s)
        for (int i = 0; i < kBlowfishSWords; i += 2) {
            encryptPair(k, l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    std::memset(area, 0, sizeof area);
}

int clampKeyBits(int bits, int floor) {
    if (bits > kBlowfishMaxKeyBits)
        bits = kBlowfishMaxKeyBits;
    bits = bits / 8 * 8;
    return bits < floor ? floor : bits;
}

} // namespace

// ---- Blowfish2 ----

Blowfish2::Blowfish2()
    : ChainedBlockCipher({kBlock, kBlock, false, SwapOrder::kBeforeUnpadding}), m_schedule{},
      m_keyLength(kDefaultKeyBits), m_mode(kModeEcb) {}

Blowfish2::~Blowfish2() {
    std::memset(&m_schedule, 0, sizeof m_schedule);
    m_key.secureClear();
}

void Blowfish2::setKeyLength(int bits) {
    m_keyLength = clampKeyBits(bits, kBlowfish2MinKeyBits);
}

void Blowfish2::setKey(const DataBuffer& key) {
    m_key.secureClear();
    m_key.appendDb(key);
}

void Blowfish2::setIv(const unsigned char* iv) {
    if (iv)
        storeIv(iv, kBlock);
}

void Blowfish2::prepareKey() {
    expandKey(m_schedule, m_key, m_keyLength);
}

void Blowfish2::encryptWords(std::uint32_t& l, std::uint32_t& r) const {
    encryptPair(m_schedule, l, r);
}

void Blowfish2::encryptBlock(unsigned char* left, unsigned char* right) const {
    std::uint32_t l = platform::LoadBe32(left), r = platform::LoadBe32(right);
    encryptPair(m_schedule, l, r);
    platform::StoreBe32(left, l);
    platform::StoreBe32(right, r);
}

void Blowfish2::decryptBlock(unsigned char* left, unsigned char* right) const {
    std::uint32_t l = platform::LoadBe32(left), r = platform::LoadBe32(right);
    decryptPair(m_schedule, l, r);
    platform::StoreBe32(left, l);
    platform::StoreBe32(right, r);
}

ChainedBlockCipher::Chaining Blowfish2::chaining() const {
    return m_mode == kModeEcb ? Chaining::kEcb : m_mode == kModeCbc ? Chaining::kCbc : Chaining::kCfb;
}

void Blowfish2::prepare(bool) {
    prepareKey();
}

void Blowfish2::runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const {
    cryptBlock<std::endian::big>(m_schedule, encrypt, in, out);
}

void Blowfish2::encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const {
    encryptChained<kBlock>(iv, in, out, blocks, [this](const unsigned char* from, unsigned char* to) {
        cryptBlock<std::endian::big>(m_schedule, true, from, to);
    });
}

// ---- Blowfish ----

Blowfish::Blowfish()
    : ChainedBlockCipher({kBlock, kBlowfishPaddingBlockSize, false, SwapOrder::kBeforeUnpadding}), m_schedule{},
      m_keyLength(kDefaultKeyBits) {}

Blowfish::~Blowfish() {
    std::memset(&m_schedule, 0, sizeof m_schedule);
    m_key.secureClear();
}

void Blowfish::setKeyLength(int bits) {
    m_keyLength = clampKeyBits(bits, kBlowfishMinKeyBits);
}

void Blowfish::setKey(const DataBuffer& key) {
    m_key.secureClear();
    m_key.appendDb(key);
}

void Blowfish::setKeyFromPassword(const char* password) {
    m_key.secureClear();
    keyFromPassword(password, m_key);
}

void Blowfish::prepareKey() {
    expandKey(m_schedule, m_key, m_keyLength);
}

void Blowfish::encryptWords(std::uint32_t& l, std::uint32_t& r) const {
    encryptPair(m_schedule, l, r);
}

void Blowfish::decryptWords(std::uint32_t& l, std::uint32_t& r) const {
    decryptPair(m_schedule, l, r);
}

void Blowfish::prepare(bool) {
    prepareKey();
}

// The halves little-endian: the standard cipher on each half reversed.
void Blowfish::runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const {
    cryptBlock<std::endian::little>(m_schedule, encrypt, in, out);
}

} // namespace tessik
