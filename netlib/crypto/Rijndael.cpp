#include "netlib/crypto/Rijndael.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/AesHardware.h"
#include "netlib/crypto/PasswordEncryption.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kBlock = kAesBlockSize;

struct AesTables {
    std::uint8_t sbox[256];
    std::uint8_t invSbox[256];
    std::uint32_t te[4][256];
    std::uint32_t td[4][256];
    std::uint32_t rcon[10];
};

std::uint8_t xtime(std::uint8_t a) {
    return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
}

std::uint8_t gmul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t p = 0;
    for (; b; b >>= 1, a = xtime(a))
        if (b & 1)
            p ^= a;
    return p;
}

std::uint32_t ror8(std::uint32_t w) {
    return (w >> 8) | (w << 24);
}

// Built from the field arithmetic once, so no table is typed by hand.
void buildTables(AesTables& t) {
    std::uint8_t p = 1, q = 1;
    t.sbox[0] = 0x63;
    do {
        p = static_cast<std::uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0)); // p * 3
        q ^= static_cast<std::uint8_t>(q << 1);                                // q / 3
        q ^= static_cast<std::uint8_t>(q << 2);
        q ^= static_cast<std::uint8_t>(q << 4);
        if (q & 0x80)
            q ^= 0x09;
        auto rotl = [](std::uint8_t x, int s) { return static_cast<std::uint8_t>((x << s) | (x >> (8 - s))); };
        t.sbox[p] = static_cast<std::uint8_t>(q ^ rotl(q, 1) ^ rotl(q, 2) ^ rotl(q, 3) ^ rotl(q, 4) ^ 0x63);
    } while (p != 1);
    for (int i = 0; i < 256; ++i)
        t.invSbox[t.sbox[i]] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t s = t.sbox[i];
        std::uint32_t e =
            (std::uint32_t(gmul(s, 2)) << 24) | (std::uint32_t(s) << 16) | (std::uint32_t(s) << 8) | gmul(s, 3);
        std::uint8_t si = t.invSbox[i];
        std::uint32_t d = (std::uint32_t(gmul(si, 14)) << 24) | (std::uint32_t(gmul(si, 9)) << 16) |
                          (std::uint32_t(gmul(si, 13)) << 8) | gmul(si, 11);
        for (int k = 0; k < 4; ++k) {
            t.te[k][i] = e;
            t.td[k][i] = d;
            e = ror8(e);
            d = ror8(d);
        }
    }
    std::uint8_t r = 1;
    for (int i = 0; i < 10; ++i, r = xtime(r))
        t.rcon[i] = std::uint32_t(r) << 24;
}

const AesTables& tables() {
    static const std::unique_ptr<AesTables> built = [] {
        auto t = std::make_unique<AesTables>();
        buildTables(*t);
        return t;
    }();
    return *built;
}

std::atomic<bool> g_hardwareAllowed{true};

bool useHardware() {
    return g_hardwareAllowed.load(std::memory_order_relaxed) && aesHardwarePresent();
}

} // namespace

bool aesHardwarePresent() {
    static const bool present = aesni::supported();
    return present;
}

void setAesHardwareAllowed(bool allowed) {
    g_hardwareAllowed.store(allowed);
}

bool aesHardwareInUse() {
    return useHardware();
}

RijndaelContext::RijndaelContext()
    : ChainedBlockCipher({kBlock, kBlock, false, SwapOrder::kBeforeUnpadding}), m_keySizeCode(2), m_notKeyed(true),
      m_mode(kAesModeCbc), m_rounds(0), m_encryptKeys{}, m_decryptKeys{} {}

RijndaelContext::~RijndaelContext() {
    m_key.secureClear();
    std::memset(&m_encryptKeys, 0, sizeof m_encryptKeys);
    std::memset(&m_decryptKeys, 0, sizeof m_decryptKeys);
}

int RijndaelContext::setKeyLength(int bits) {
    constexpr int k192 = 192, k256 = 256, k128 = 128;
    if (bits > k192) {
        m_keySizeCode = 2;
        return k256;
    }
    if (bits > k128) {
        m_keySizeCode = 1;
        return k192;
    }
    m_keySizeCode = 0;
    return k128;
}

void RijndaelContext::setKey(const DataBuffer& key) {
    setKeyBytes(key.getData(), key.getSize());
}

void RijndaelContext::setKeyBytes(const void* key, unsigned int n) {
    m_key.secureClear();
    if (key && n)
        m_key.append(key, n);
}

void RijndaelContext::setKeyFromPassword(const char* password) {
    DataBuffer key;
    keyFromPassword(password, key);
    setKey(key);
    key.secureClear();
}

void RijndaelContext::getKey(DataBuffer& out) const {
    out.clear();
    out.appendDb(m_key);
}

void RijndaelContext::setIv(const unsigned char* iv16) {
    if (iv16)
        storeIv(iv16, kBlock);
}

void RijndaelContext::makeKey(unsigned int mode, unsigned int direction) {
    const AesTables& t = tables();
    unsigned char key[32] = {};
    if (m_key.getSize())
        std::memcpy(key, m_key.getData(), m_key.getSize() < sizeof key ? m_key.getSize() : sizeof key);
    m_notKeyed = true;
    if ((mode != kAesModeEcb && mode != kAesModeCbc && mode != kAesModeCtr) ||
        (direction != kAesEncrypt && direction != kAesDecrypt))
        return;
    m_mode = mode;
    const int nk = 4 + 2 * static_cast<int>(m_keySizeCode);
    m_rounds = nk + 6;
    const int words = 4 * (m_rounds + 1);
    std::uint32_t* rk = m_encryptKeys.words;
    for (int i = 0; i < nk; ++i)
        rk[i] = platform::LoadBe32(key + 4 * i);
    for (int i = nk; i < words; ++i) {
        std::uint32_t w = rk[i - 1];
        auto sub = [&t](std::uint32_t x) {
            return (std::uint32_t(t.sbox[x >> 24]) << 24) | (std::uint32_t(t.sbox[(x >> 16) & 0xFF]) << 16) |
                   (std::uint32_t(t.sbox[(x >> 8) & 0xFF]) << 8) | t.sbox[x & 0xFF];
        };
        if (i % nk == 0)
            w = sub((w << 8) | (w >> 24)) ^ t.rcon[i / nk - 1];
        else if (nk > 6 && i % nk == 4)
            w = sub(w);
        rk[i] = rk[i - nk] ^ w;
    }
    // Equivalent inverse cipher: round keys reversed, InvMixColumns on the
    // inner ones.
    std::uint32_t* dk = m_decryptKeys.words;
    for (int r = 0; r <= m_rounds; ++r)
        for (int k = 0; k < 4; ++k)
            dk[4 * r + k] = rk[4 * (m_rounds - r) + k];
    for (int i = 4; i < 4 * m_rounds; ++i) {
        std::uint32_t w = dk[i];
        dk[i] = t.td[0][t.sbox[w >> 24]] ^ t.td[1][t.sbox[(w >> 16) & 0xFF]] ^ t.td[2][t.sbox[(w >> 8) & 0xFF]] ^
                t.td[3][t.sbox[w & 0xFF]];
    }
    for (int i = 0; i < words; ++i) {
        platform::StoreBe32(m_encryptKeys.bytes + 4 * i, rk[i]);
        platform::StoreBe32(m_decryptKeys.bytes + 4 * i, dk[i]);
    }
    std::memset(key, 0, sizeof key);
    m_notKeyed = false;
}

void RijndaelContext::makeKeyCtr() {
    makeKey(kAesModeCtr, kAesEncrypt);
}

void RijndaelContext::encryptBlock(const unsigned char in[16], unsigned char out[16]) const {
    const AesTables& t = tables();
    const std::uint32_t* rk = m_encryptKeys.words;
    std::uint32_t s0 = platform::LoadBe32(in) ^ rk[0], s1 = platform::LoadBe32(in + 4) ^ rk[1],
                  s2 = platform::LoadBe32(in + 8) ^ rk[2], s3 = platform::LoadBe32(in + 12) ^ rk[3];
    for (int r = 1; r < m_rounds; ++r) {
        rk += 4;
        std::uint32_t t0 =
            t.te[0][s0 >> 24] ^ t.te[1][(s1 >> 16) & 0xFF] ^ t.te[2][(s2 >> 8) & 0xFF] ^ t.te[3][s3 & 0xFF] ^ rk[0];
        std::uint32_t t1 =
            t.te[0][s1 >> 24] ^ t.te[1][(s2 >> 16) & 0xFF] ^ t.te[2][(s3 >> 8) & 0xFF] ^ t.te[3][s0 & 0xFF] ^ rk[1];
        std::uint32_t t2 =
            t.te[0][s2 >> 24] ^ t.te[1][(s3 >> 16) & 0xFF] ^ t.te[2][(s0 >> 8) & 0xFF] ^ t.te[3][s1 & 0xFF] ^ rk[2];
        std::uint32_t t3 =
            t.te[0][s3 >> 24] ^ t.te[1][(s0 >> 16) & 0xFF] ^ t.te[2][(s1 >> 8) & 0xFF] ^ t.te[3][s2 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const std::uint8_t* S = t.sbox;
    auto last = [S](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
        return (std::uint32_t(S[a >> 24]) << 24) | (std::uint32_t(S[(b >> 16) & 0xFF]) << 16) |
               (std::uint32_t(S[(c >> 8) & 0xFF]) << 8) | S[d & 0xFF];
    };
    platform::StoreBe32(out, last(s0, s1, s2, s3) ^ rk[0]);
    platform::StoreBe32(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
    platform::StoreBe32(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
    platform::StoreBe32(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void RijndaelContext::decryptBlock(const unsigned char in[16], unsigned char out[16]) const {
    const AesTables& t = tables();
    const std::uint32_t* rk = m_decryptKeys.words;
    std::uint32_t s0 = platform::LoadBe32(in) ^ rk[0], s1 = platform::LoadBe32(in + 4) ^ rk[1],
                  s2 = platform::LoadBe32(in + 8) ^ rk[2], s3 = platform::LoadBe32(in + 12) ^ rk[3];
    for (int r = 1; r < m_rounds; ++r) {
        rk += 4;
        std::uint32_t t0 =
            t.td[0][s0 >> 24] ^ t.td[1][(s3 >> 16) & 0xFF] ^ t.td[2][(s2 >> 8) & 0xFF] ^ t.td[3][s1 & 0xFF] ^ rk[0];
        std::uint32_t t1 =
            t.td[0][s1 >> 24] ^ t.td[1][(s0 >> 16) & 0xFF] ^ t.td[2][(s3 >> 8) & 0xFF] ^ t.td[3][s2 & 0xFF] ^ rk[1];
        std::uint32_t t2 =
            t.td[0][s2 >> 24] ^ t.td[1][(s1 >> 16) & 0xFF] ^ t.td[2][(s0 >> 8) & 0xFF] ^ t.td[3][s3 & 0xFF] ^ rk[2];
        std::uint32_t t3 =
            t.td[0][s3 >> 24] ^ t.td[1][(s2 >> 16) & 0xFF] ^ t.td[2][(s1 >> 8) & 0xFF] ^ t.td[3][s0 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const std::uint8_t* S = t.invSbox;
    auto last = [S](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
        return (std::uint32_t(S[a >> 24]) << 24) | (std::uint32_t(S[(b >> 16) & 0xFF]) << 16) |
               (std::uint32_t(S[(c >> 8) & 0xFF]) << 8) | S[d & 0xFF];
    };
    platform::StoreBe32(out, last(s0, s3, s2, s1) ^ rk[0]);
    platform::StoreBe32(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
    platform::StoreBe32(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
    platform::StoreBe32(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

ChainedBlockCipher::Chaining RijndaelContext::chaining() const {
    return m_mode == kAesModeEcb ? Chaining::kEcb : m_mode == kAesModeCbc ? Chaining::kCbc : Chaining::kNone;
}

void RijndaelContext::prepare(bool encrypt) {
    makeKey(m_mode, encrypt ? kAesEncrypt : kAesDecrypt);
}

void RijndaelContext::runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const {
    if (useHardware())
        runBlocks(encrypt, in, out, 1);
    else
        encrypt ? encryptBlock(in, out) : decryptBlock(in, out);
}

// Reached on the table code only: with the AES instructions CBC runs wide.
void RijndaelContext::encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                                   std::size_t blocks) const {
    encryptChained<kBlock>(iv, in, out, blocks,
                           [this](const unsigned char* from, unsigned char* to) { encryptBlock(from, to); });
}

void RijndaelContext::runBlocks(bool encrypt, const unsigned char* in, unsigned char* out, std::size_t blocks) const {
    if (!useHardware())
        ChainedBlockCipher::runBlocks(encrypt, in, out, blocks);
    else if (encrypt)
        aesni::encryptEcb(m_encryptKeys.bytes, m_rounds, in, out, blocks);
    else
        aesni::decryptEcb(m_decryptKeys.bytes, m_rounds, in, out, blocks);
}

bool RijndaelContext::runCbcWide(bool encrypt, unsigned char* iv, const unsigned char* in, unsigned char* out,
                                 std::size_t blocks) const {
    if (!useHardware())
        return false;
    if (encrypt)
        aesni::encryptCbc(m_encryptKeys.bytes, m_rounds, iv, in, out, blocks);
    else
        aesni::decryptCbc(m_decryptKeys.bytes, m_rounds, iv, in, out, blocks);
    return true;
}

void RijndaelContext::ctrXor(unsigned char* data, unsigned int n, unsigned char counter[16],
                             unsigned char keystream[16], unsigned int* position) {
    constexpr int kCounterBytes = 8;
    for (unsigned int i = 0; i < n; ++i) {
        if (*position >= kBlock) {
            for (int k = 0; k < kCounterBytes && ++counter[k] == 0; ++k) {
            }
            runBlock(true, counter, keystream);
            *position = 0;
        }
        data[i] ^= keystream[(*position)++];
    }
}

bool RijndaelContext::decryptDb(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    if (in.getSize() == 0)
        return true;
    std::unique_ptr<DataBuffer> plain(decryptDbNew(in, log));
    if (!plain)
        return false;
    out.clear();
    out.takeFrom(*plain);
    return true;
}

AesCrypt::AesCrypt() : m_keyLength(128), m_paddingScheme(kPadPkcs5), m_ecb(false) {
    m_key.appendCharRepeated(0, kBlock);
    m_iv.appendCharRepeated(0, kBlock);
}

AesCrypt::~AesCrypt() {
    m_key.secureClear();
    m_password.secureClear();
}

void AesCrypt::setPassword(const char* password) {
    m_password.setString(password ? password : "");
    if (m_password.getSize() > 0)
        keyFromPassword(m_password.getString(), m_key);
}

bool AesCrypt::decryptDb(const DataBuffer& in, DataBuffer& out) {
    RijndaelContext ctx;
    ctx.setKeyLength(static_cast<int>(m_keyLength));
    if (m_ecb)
        ctx.setModeEcb();
    else
        ctx.setModeCbc();
    ctx.setPaddingScheme(m_paddingScheme);
    ctx.setKey(m_key);
    ctx.setIvBytes(m_iv.getData(), m_iv.getSize());
    LogNull quiet;
    return ctx.decryptDb(in, out, quiet);
}

bool symmetricDecryptBytes(int bits, const char* password, const void* data, unsigned int n, DataBuffer& out,
                           LogBase& log) {
    return decryptBytesWithPassword(kPasswordAes, bits, password, data, n, out, log);
}

} // namespace tessik
