#include "netlib/crypto/Blowfish.h"

#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/BlowfishTables.h"
#include "netlib/crypto/ShaCompress.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kBlock = 8;
constexpr unsigned int kKeyArea = 64;
constexpr int kRounds = 16;
constexpr int kDefaultKeyBits = 128;
// The older implementation pads as if its block were 16 bytes.
constexpr int kLegacyPadBlock = 16;

std::uint32_t feistel(const BlowfishSchedule& k, std::uint32_t x) {
    return ((k.s[0][x >> 24] + k.s[1][(x >> 16) & 0xFF]) ^ k.s[2][(x >> 8) & 0xFF]) + k.s[3][x & 0xFF];
}

void encryptPair(const BlowfishSchedule& k, std::uint32_t& left, std::uint32_t& right) {
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

void decryptPair(const BlowfishSchedule& k, std::uint32_t& left, std::uint32_t& right) {
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
    : m_schedule{}, m_iv{}, m_keyLength(kDefaultKeyBits), m_mode(kModeEcb), m_paddingScheme(kPadPkcs5) {}

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
        std::memcpy(m_iv, iv, kBlock);
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

namespace {

bool blockArgsOk(const unsigned char* in, const unsigned char* out, unsigned int n, LogBase* log) {
    const char* why = !in               ? blowfish_msg::kNullInput
                      : !out            ? blowfish_msg::kNullOutput
                      : in == out       ? blowfish_msg::kSameBuffer
                      : n % kBlock != 0 ? blowfish_msg::kNotMultiple
                                        : nullptr;
    if (why && log) {
        log->logError(why);
        if (why == blowfish_msg::kNotMultiple)
            log->logDataLong(blowfish_msg::kInputSize, static_cast<int>(n));
    }
    return !why;
}

} // namespace

unsigned int Blowfish2::ecbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n) const {
    if (!blockArgsOk(in, out, n, nullptr))
        return 0;
    std::memcpy(out, in, n);
    for (unsigned int i = 0; i < n; i += kBlock)
        encryptBlock(out + i, out + i + 4);
    return n;
}

unsigned int Blowfish2::cbcEncrypt(const unsigned char* in, unsigned char* out, unsigned int n,
                                   unsigned char* iv) const {
    if (!blockArgsOk(in, out, n, nullptr))
        return 0;
    // The chain stays in two words: each block waits on the one before.
    std::uint32_t l = platform::LoadBe32(iv), r = platform::LoadBe32(iv + 4);
    for (unsigned int i = 0; i < n; i += kBlock) {
        l ^= platform::LoadBe32(in + i);
        r ^= platform::LoadBe32(in + i + 4);
        encryptPair(m_schedule, l, r);
        platform::StoreBe32(out + i, l);
        platform::StoreBe32(out + i + 4, r);
    }
    platform::StoreBe32(iv, l);
    platform::StoreBe32(iv + 4, r);
    return n;
}

unsigned int Blowfish2::cfbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n,
                                   unsigned char* iv) const {
    if (!blockArgsOk(in, out, n, nullptr))
        return 0;
    std::uint32_t l = platform::LoadBe32(iv), r = platform::LoadBe32(iv + 4);
    for (unsigned int i = 0; i < n; i += kBlock) {
        encryptPair(m_schedule, l, r);
        l ^= platform::LoadBe32(in + i);
        r ^= platform::LoadBe32(in + i + 4);
        platform::StoreBe32(out + i, l);
        platform::StoreBe32(out + i + 4, r);
    }
    platform::StoreBe32(iv, l);
    platform::StoreBe32(iv + 4, r);
    return n;
}

bool Blowfish2::ecbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n, LogBase& log) const {
    if (!blockArgsOk(in, out, n, &log))
        return false;
    std::memcpy(out, in, n);
    for (unsigned int i = 0; i < n; i += kBlock)
        decryptBlock(out + i, out + i + 4);
    return true;
}

bool Blowfish2::cbcDecrypt(const unsigned char* in, unsigned char* out, unsigned int n, unsigned char* iv,
                           LogBase& log) const {
    if (!blockArgsOk(in, out, n, &log))
        return false;
    std::memcpy(out, in, n);
    for (unsigned int i = 0; i < n; i += kBlock) {
        decryptBlock(out + i, out + i + 4);
        for (unsigned int b = 0; b < kBlock; ++b)
            out[i + b] ^= iv[b];
        std::memcpy(iv, in + i, kBlock);
    }
    return true;
}

bool Blowfish2::cfbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n, unsigned char* iv,
                           LogBase& log) const {
    if (!blockArgsOk(in, out, n, &log))
        return false;
    std::memcpy(out, in, n);
    for (unsigned int i = 0; i < n; i += kBlock) {
        encryptBlock(iv, iv + 4);
        for (unsigned int b = 0; b < kBlock; ++b)
            out[i + b] ^= iv[b];
        std::memcpy(iv, in + i, kBlock);
    }
    return true;
}

bool Blowfish2::encryptRun(const DataBuffer& in, unsigned char* iv, DataBuffer& out, LogBase& log) const {
    const unsigned int n = in.getSize();
    const unsigned int done = m_mode == kModeEcb   ? ecbEncrypt(in.getData(), out.getData(), n)
                              : m_mode == kModeCbc ? cbcEncrypt(in.getData(), out.getData(), n, iv)
                                                   : cfbEncrypt(in.getData(), out.getData(), n, iv);
    if (done != n) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return false;
    }
    return true;
}

bool Blowfish2::decryptRun(const DataBuffer& in, unsigned char* iv, DataBuffer& out, LogBase& log) const {
    const unsigned int n = in.getSize();
    if (m_mode == kModeEcb)
        return ecbDecrypt(in.getData(), out.getData(), n, log);
    if (m_mode == kModeCbc)
        return cbcDecrypt(in.getData(), out.getData(), n, iv, log);
    return cfbDecrypt(in.getData(), out.getData(), n, iv, log);
}

DataBuffer* Blowfish2::encryptDbNew(DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    const unsigned int original = in.getSize();
    in.appendPadding(static_cast<int>(m_paddingScheme), kBlock);
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    prepareKey();
    unsigned char iv[kBlock];
    std::memcpy(iv, m_iv, kBlock);
    const bool ok = encryptRun(in, iv, *out, log);
    in.shorten(in.getSize() - original);
    return ok ? out.release() : nullptr;
}

DataBuffer* Blowfish2::decryptDbNew(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    prepareKey();
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    unsigned char iv[kBlock];
    std::memcpy(iv, m_iv, kBlock);
    if (!decryptRun(in, iv, *out, log) || !out->removePadding(static_cast<int>(m_paddingScheme), kBlock, log))
        return nullptr;
    return out.release();
}

DataBuffer* Blowfish2::encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (first)
        prepareKey();
    unsigned char iv[kBlock] = {};
    if (first)
        std::memcpy(iv, m_iv, kBlock);
    else if (carriedIv.getSize())
        std::memcpy(iv, carriedIv.getData(), carriedIv.getSize() < kBlock ? carriedIv.getSize() : kBlock);
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    if (!encryptRun(in, iv, *out, log))
        return nullptr;
    if (m_mode != kModeEcb) {
        carriedIv.clear();
        carriedIv.append(iv, kBlock);
    }
    return out.release();
}

DataBuffer* Blowfish2::encryptFirstChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    return encryptChunk(in, carriedIv, true, log);
}

DataBuffer* Blowfish2::encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    return encryptChunk(in, carriedIv, false, log);
}

DataBuffer* Blowfish2::encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    // An empty last chunk still gets its padding block, so that chunked and
    // whole-buffer encryption agree.
    const unsigned int original = in.getSize();
    in.appendPadding(static_cast<int>(m_paddingScheme), kBlock);
    DataBuffer saved;
    saved.appendDb(carriedIv);
    DataBuffer* out = encryptChunk(in, saved, false, log);
    in.shorten(in.getSize() - original);
    return out;
}

DataBuffer* Blowfish2::decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (first)
        prepareKey();
    if (m_mode != kModeEcb && !ivArea)
        return new DataBuffer();
    if (first && m_mode != kModeEcb)
        std::memcpy(ivArea, m_iv, kBlock);
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    if (!decryptRun(in, ivArea, *out, log))
        return nullptr;
    if (last && !out->removePadding(static_cast<int>(m_paddingScheme), kBlock, log))
        return nullptr;
    return out.release();
}

DataBuffer* Blowfish2::decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, true, false, log);
}

DataBuffer* Blowfish2::decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, false, false, log);
}

DataBuffer* Blowfish2::decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, false, true, log);
}

// ---- Blowfish ----

Blowfish::Blowfish() : m_schedule{}, m_keyLength(kDefaultKeyBits), m_paddingScheme(kPadPkcs5), m_byteSwap(false) {}

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

void Blowfish::ecbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n) const {
    if (!in || !out)
        return;
    for (unsigned int i = 0; i + kBlock <= n; i += kBlock) {
        std::uint32_t l = platform::LoadLe32(in + i), r = platform::LoadLe32(in + i + 4);
        encryptPair(m_schedule, l, r);
        platform::StoreLe32(out + i, l);
        platform::StoreLe32(out + i + 4, r);
    }
}

void Blowfish::ecbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n) const {
    if (!in || !out)
        return;
    for (unsigned int i = 0; i + kBlock <= n; i += kBlock) {
        std::uint32_t l = platform::LoadLe32(in + i), r = platform::LoadLe32(in + i + 4);
        decryptPair(m_schedule, l, r);
        platform::StoreLe32(out + i, l);
        platform::StoreLe32(out + i + 4, r);
    }
}

DataBuffer* Blowfish::encrypt(DataBuffer& in, bool pad, LogBase& log) {
    const unsigned int original = in.getSize();
    if (pad)
        in.appendPadding(static_cast<int>(m_paddingScheme), kLegacyPadBlock);
    DataBuffer* out = nullptr;
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
    } else {
        out = newCipherOutput(in.getSize());
        ecbEncrypt(in.getData(), out->getData(), in.getSize());
    }
    in.shorten(in.getSize() - original);
    return out;
}

// The swap comes before the padding is taken off, as data written with the
// option on expects.
DataBuffer* Blowfish::decrypt(const DataBuffer& in, bool last, LogBase& log) {
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    DataBuffer* out = newCipherOutput(in.getSize());
    ecbDecrypt(in.getData(), out->getData(), in.getSize());
    if (m_byteSwap)
        out->byteSwap32();
    if (last && (m_paddingScheme == kPadPkcs5 || m_paddingScheme == kPadRandomCount))
        out->removePadding(static_cast<int>(m_paddingScheme));
    return out;
}

DataBuffer* Blowfish::encryptDbNew(DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    prepareKey();
    return encrypt(in, true, log);
}

DataBuffer* Blowfish::decryptDbNew(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    prepareKey();
    return decrypt(in, true, log);
}

DataBuffer* Blowfish::encryptFirstChunk(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    prepareKey();
    DataBuffer copy;
    copy.borrowData(in.getData(), in.getSize());
    return encrypt(copy, false, log);
}

DataBuffer* Blowfish::encryptNextChunk(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    DataBuffer copy;
    copy.borrowData(in.getData(), in.getSize());
    return encrypt(copy, false, log);
}

DataBuffer* Blowfish::encryptLastChunk(DataBuffer& in, LogBase& log) {
    return encrypt(in, true, log);
}

DataBuffer* Blowfish::decryptFirstChunk(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    prepareKey();
    return decrypt(in, false, log);
}

DataBuffer* Blowfish::decryptNextChunk(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    return decrypt(in, false, log);
}

DataBuffer* Blowfish::decryptLastChunk(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    return decrypt(in, true, log);
}

} // namespace tessik
