#include "netlib/crypto/Rijndael.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/AesHardware.h"
#include "netlib/crypto/PasswordEncryption.h"
#include "netlib/crypto/ShaCompress.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr int kBlock = kAesBlockSize;
constexpr int kBlockBits = 8 * kBlock;

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

void xorBlock(unsigned char* dst, const unsigned char* a, const unsigned char* b) {
    for (int i = 0; i < kBlock; ++i)
        dst[i] = static_cast<unsigned char>(a[i] ^ b[i]);
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
    : m_paddingScheme(kPadPkcs5), m_byteSwapOnDecrypt(false), m_keySizeCode(2), m_notKeyed(true), m_mode(kAesModeCbc),
      m_direction(kAesEncrypt), m_iv{}, m_rounds(0), m_roundKeys{}, m_roundKeyBytes{} {}

RijndaelContext::~RijndaelContext() {
    m_key.secureClear();
    std::memset(m_roundKeys, 0, sizeof m_roundKeys);
    std::memset(m_roundKeyBytes, 0, sizeof m_roundKeyBytes);
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
        std::memcpy(m_iv, iv16, kBlock);
}

void RijndaelContext::setIvBytes(const void* iv, unsigned int n) {
    std::memset(m_iv, 0, kBlock);
    if (iv && n)
        std::memcpy(m_iv, iv, n < kBlock ? n : kBlock);
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
    m_direction = direction;
    const int nk = 4 + 2 * static_cast<int>(m_keySizeCode);
    m_rounds = nk + 6;
    const int words = 4 * (m_rounds + 1);
    std::uint32_t* rk = m_roundKeys;
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
    if (direction == kAesDecrypt) {
        // Equivalent inverse cipher: round keys reversed, InvMixColumns on the
        // inner ones.
        for (int i = 0, j = 4 * m_rounds; i < j; i += 4, j -= 4)
            for (int k = 0; k < 4; ++k)
                std::swap(rk[i + k], rk[j + k]);
        for (int i = 4; i < 4 * m_rounds; ++i) {
            std::uint32_t w = rk[i];
            rk[i] = t.td[0][t.sbox[w >> 24]] ^ t.td[1][t.sbox[(w >> 16) & 0xFF]] ^ t.td[2][t.sbox[(w >> 8) & 0xFF]] ^
                    t.td[3][t.sbox[w & 0xFF]];
        }
    }
    for (int i = 0; i < words; ++i)
        platform::StoreBe32(m_roundKeyBytes + 4 * i, rk[i]);
    std::memset(key, 0, sizeof key);
    m_notKeyed = false;
}

void RijndaelContext::makeKeyCtr() {
    makeKey(kAesModeCtr, kAesEncrypt);
}

void RijndaelContext::encryptBlock(const unsigned char in[16], unsigned char out[16]) const {
    const AesTables& t = tables();
    const std::uint32_t* rk = m_roundKeys;
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
    const std::uint32_t* rk = m_roundKeys;
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

// ECB, or CBC chained from iv (left holding the last ciphertext block).
int RijndaelContext::runEncrypt(const unsigned char* in, int bits, unsigned char* out, unsigned char* iv) {
    if (m_notKeyed)
        return kAesErrNotKeyed;
    if (m_direction != kAesEncrypt)
        return kAesErrWrongDirection;
    if (!in || bits <= 0)
        return 0;
    if (m_mode != kAesModeEcb && m_mode != kAesModeCbc)
        return kAesErrBadMode;
    const std::size_t n = static_cast<std::size_t>(bits) / kBlockBits;
    if (useHardware()) {
        if (m_mode == kAesModeEcb)
            aesni::encryptEcb(m_roundKeyBytes, m_rounds, in, out, n);
        else
            aesni::encryptCbc(m_roundKeyBytes, m_rounds, iv, in, out, n);
    } else if (m_mode == kAesModeEcb) {
        for (std::size_t i = 0; i < n; ++i)
            encryptBlock(in + kBlock * i, out + kBlock * i);
    } else {
        unsigned char x[kBlock];
        for (std::size_t i = 0; i < n; ++i) {
            xorBlock(x, in + kBlock * i, iv);
            encryptBlock(x, out + kBlock * i);
            std::memcpy(iv, out + kBlock * i, kBlock);
        }
    }
    return static_cast<int>(n * kBlockBits);
}

int RijndaelContext::runDecrypt(const unsigned char* in, int bits, unsigned char* out, unsigned char* iv) {
    if (m_notKeyed)
        return kAesErrNotKeyed;
    if (m_direction != kAesDecrypt)
        return kAesErrWrongDirection;
    if (!in || bits <= 0)
        return 0;
    if (m_mode != kAesModeEcb && m_mode != kAesModeCbc)
        return kAesErrBadMode;
    const std::size_t n = static_cast<std::size_t>(bits) / kBlockBits;
    if (useHardware()) {
        if (m_mode == kAesModeEcb)
            aesni::decryptEcb(m_roundKeyBytes, m_rounds, in, out, n);
        else
            aesni::decryptCbc(m_roundKeyBytes, m_rounds, iv, in, out, n);
    } else if (m_mode == kAesModeEcb) {
        for (std::size_t i = 0; i < n; ++i)
            decryptBlock(in + kBlock * i, out + kBlock * i);
    } else {
        unsigned char c[kBlock], p[kBlock];
        for (std::size_t i = 0; i < n; ++i) {
            std::memcpy(c, in + kBlock * i, kBlock);
            decryptBlock(c, p);
            xorBlock(out + kBlock * i, p, iv);
            std::memcpy(iv, c, kBlock);
        }
    }
    return static_cast<int>(n * kBlockBits);
}

int RijndaelContext::blockEncrypt(const unsigned char* in, int bits, unsigned char* out) {
    unsigned char chain[kBlock];
    std::memcpy(chain, m_iv, kBlock); // the context IV is not advanced
    return runEncrypt(in, bits, out, chain);
}

int RijndaelContext::blockDecrypt(const unsigned char* in, int bits, unsigned char* out) {
    unsigned char chain[kBlock];
    std::memcpy(chain, m_iv, kBlock);
    return runDecrypt(in, bits, out, chain);
}

int RijndaelContext::blockEncryptIv(const unsigned char* in, int bits, unsigned char* out, DataBuffer& carriedIv,
                                    bool keepIv) {
    if (carriedIv.getSize() < kBlock)
        carriedIv.appendCharRepeated(0, kBlock);
    if (!keepIv)
        std::memcpy(m_iv, carriedIv.getData(), kBlock);
    return blockEncrypt(in, bits, out);
}

int RijndaelContext::blockDecryptIv(const unsigned char* in, int bits, unsigned char* out, unsigned char* ivArea,
                                    bool keepIv) {
    unsigned char chain[kBlock];
    if (keepIv || !ivArea)
        std::memcpy(chain, m_iv, kBlock);
    else
        std::memcpy(chain, ivArea, kBlock);
    int rc = runDecrypt(in, bits, out, chain);
    if (rc > 0 && m_mode == kAesModeCbc && ivArea)
        std::memcpy(ivArea, chain, kBlock);
    return rc;
}

void RijndaelContext::ctrXor(unsigned char* data, unsigned int n, unsigned char counter[16],
                             unsigned char keystream[16], unsigned int* position) {
    constexpr int kCounterBytes = 8;
    for (unsigned int i = 0; i < n; ++i) {
        if (*position >= kBlock) {
            for (int k = 0; k < kCounterBytes && ++counter[k] == 0; ++k) {
            }
            if (useHardware())
                aesni::encryptEcb(m_roundKeyBytes, m_rounds, counter, keystream, 1);
            else
                encryptBlock(counter, keystream);
            *position = 0;
        }
        data[i] ^= keystream[(*position)++];
    }
}

DataBuffer* RijndaelContext::encryptDbNew(DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    makeKey(m_mode, kAesEncrypt);
    const unsigned int original = in.getSize();
    in.appendPadding(static_cast<int>(m_paddingScheme), kBlock);
    const unsigned int padded = in.getSize();
    DataBuffer* out = nullptr;
    if (padded % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
    } else {
        out = newCipherOutput(padded);
        if (blockEncrypt(in.getData(), static_cast<int>(padded * 8), out->getData()) <= 0)
            out->clear();
    }
    in.shorten(padded - original);
    return out;
}

DataBuffer* RijndaelContext::decryptDbNew(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0) {
        log.logInfo(cipher_msg::kInputEmpty);
        return new DataBuffer();
    }
    auto out = std::make_unique<DataBuffer>();
    if (!decryptDb(in, *out, log))
        return nullptr;
    return out.release();
}

bool RijndaelContext::decryptDb(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    if (in.getSize() == 0)
        return true;
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return false;
    }
    makeKey(m_mode, kAesDecrypt);
    std::unique_ptr<DataBuffer> plain(newCipherOutput(in.getSize()));
    int rc = blockDecrypt(in.getData(), static_cast<int>(in.getSize() * 8), plain->getData());
    if (rc <= 0) {
        log.logError(cipher_msg::kDecryptionFailed);
        log.logDataLong(cipher_msg::kErrorCode, rc);
        return false;
    }
    if (m_byteSwapOnDecrypt)
        plain->byteSwap32();
    if (!plain->removePadding(static_cast<int>(m_paddingScheme), kBlock, log))
        return false;
    out.clear();
    out.takeFrom(*plain);
    return true;
}

DataBuffer* RijndaelContext::encryptFirstChunk(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    makeKey(m_mode, kAesEncrypt);
    DataBuffer scratch;
    DataBuffer* out = newCipherOutput(in.getSize());
    if (blockEncryptIv(in.getData(), static_cast<int>(in.getSize() * 8), out->getData(), scratch, true) <= 0)
        out->clear();
    return out;
}

DataBuffer* RijndaelContext::encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    DataBuffer* out = newCipherOutput(in.getSize());
    if (blockEncryptIv(in.getData(), static_cast<int>(in.getSize() * 8), out->getData(), carriedIv, false) <= 0)
        out->clear();
    return out;
}

DataBuffer* RijndaelContext::encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    // An empty last chunk still gets its padding block, so that chunked and
    // whole-buffer encryption agree.
    const unsigned int original = in.getSize();
    in.appendPadding(static_cast<int>(m_paddingScheme), kBlock);
    DataBuffer* out = encryptNextChunk(in, carriedIv, log);
    in.shorten(in.getSize() - original);
    return out;
}

DataBuffer* RijndaelContext::decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool keepIv, bool last,
                                          LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    if (blockDecryptIv(in.getData(), static_cast<int>(in.getSize() * 8), out->getData(), ivArea, keepIv) <= 0)
        return new DataBuffer();
    if (last) {
        if (m_byteSwapOnDecrypt)
            out->byteSwap32();
        if (!out->removePadding(static_cast<int>(m_paddingScheme), kBlock, log))
            return nullptr;
    }
    return out.release();
}

DataBuffer* RijndaelContext::decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    makeKey(m_mode, kAesDecrypt);
    return decryptChunk(in, ivArea, true, false, log);
}

DataBuffer* RijndaelContext::decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, false, false, log);
}

DataBuffer* RijndaelContext::decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, false, true, log);
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
