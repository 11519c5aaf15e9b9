#include "netlib/streams/WinZipAes.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "netlib/core/TessikRand.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

std::atomic<const WinZipAesServices*> g_services{nullptr};

constexpr unsigned char kInnerPad = 0x36;
// Applied over the inner pad, it leaves the key XORed with 0x5C.
constexpr unsigned char kOuterOverInner = 0x6A;
constexpr int kModeBits[] = {128, 192, 256};
constexpr std::uint32_t kStreamBuffer = WinZipAes::kPiece + 30;
constexpr std::uint32_t kStreamKeep = WinZipAes::kPiece + 10;

int keySize(int mode) {
    return 8 * mode + 8;
}

bool writeAll(Output& out, const unsigned char* data, std::uint32_t n, ProgressMonitor* monitor, LogBase& log) {
    return n == 0 || out.writeBytes(data, n, 1, monitor, log) == 1;
}

// Reads until `want` bytes or the end of the source; the bytes read.
std::uint32_t readFull(DataSource& source, unsigned char* buffer, std::uint32_t want, LogBase& log, bool* failed) {
    std::uint32_t got = 0;
    *failed = false;
    while (got < want && !source.endOfStream()) {
        std::uint32_t n = 0;
        if (!source.readChunk(buffer + got, want - got, &n, &log)) {
            *failed = true;
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

} // namespace

ZipAesCipher::~ZipAesCipher() = default;
ZipSha1::~ZipSha1() = default;

void installWinZipAesServices(const WinZipAesServices* services) {
    g_services.store(services);
}

// ---------------------------------------------------------------- HMAC-SHA1

bool HmacSha1::begin() {
    std::memset(keyBlock, 0, sizeof keyBlock);
    keyLength = 0;
    const WinZipAesServices* s = g_services.load();
    if (!s || !s->newSha1)
        return false;
    sha1.reset(s->newSha1());
    if (sha1)
        sha1->initialize();
    return sha1 != nullptr;
}

void HmacSha1::key(const unsigned char* bytes, unsigned int n) {
    if (keyLength < 0 || n == 0)
        return;
    if (static_cast<unsigned>(keyLength) + n > kBlock) {
        // A long key is replaced by its digest.
        sha1->initialize();
        sha1->update(keyBlock, static_cast<std::uint32_t>(keyLength));
        sha1->update(bytes, n);
        std::memset(keyBlock, 0, sizeof keyBlock);
        sha1->final(keyBlock);
        keyLength = kDigest;
        return;
    }
    std::memcpy(keyBlock + keyLength, bytes, n);
    keyLength += static_cast<int>(n);
}

void HmacSha1::data(const unsigned char* bytes, unsigned int n) {
    if (keyLength >= 0) {
        for (unsigned char& b : keyBlock)
            b ^= kInnerPad;
        sha1->initialize();
        sha1->update(keyBlock, kBlock);
        keyLength = -1;
    }
    if (n)
        sha1->update(bytes, n);
}

void HmacSha1::end(unsigned char* mac, unsigned int n) {
    if (keyLength >= 0)
        data(nullptr, 0);
    unsigned char inner[kDigest];
    sha1->final(inner);
    for (unsigned char& b : keyBlock)
        b ^= kOuterOverInner;
    sha1->initialize();
    sha1->update(keyBlock, kBlock);
    sha1->update(inner, kDigest);
    unsigned char digest[kDigest];
    sha1->final(digest);
    std::memcpy(mac, digest, n < kDigest ? n : kDigest);
}

void HmacSha1::copyFrom(const HmacSha1& other) {
    std::memcpy(keyBlock, other.keyBlock, sizeof keyBlock);
    keyLength = other.keyLength;
    sha1->copyState(*other.sha1);
}

// ---------------------------------------------------------------- key derivation

bool ZipAes_derive_key(const unsigned char* password, unsigned int passwordLength, const unsigned char* salt,
                       unsigned int saltLength, unsigned int iterations, unsigned char* key, unsigned int keyLength,
                       LogBase& log, bool verbose) {
    if (verbose) {
        log.enterContext("ZipAes_derive_key", true);
        log.logDataHex("pwd", password, passwordLength);
        log.logDataLong("pwd_len", static_cast<int>(passwordLength));
        log.logDataHex("salt", salt, saltLength);
        log.logDataLong("salt_len", static_cast<int>(saltLength));
        log.logDataLong("key_len", static_cast<int>(keyLength));
        log.leaveContext();
    }
    HmacSha1 keyed, salted, round;
    if (!keyed.begin() || !salted.begin() || !round.begin()) {
        log.logError(wzaes_msg::kNotInstalled);
        return false;
    }
    keyed.key(password, passwordLength);
    keyed.data(nullptr, 0);
    salted.copyFrom(keyed);
    salted.data(salt, saltLength);

    unsigned char u[HmacSha1::kDigest];
    unsigned char block[HmacSha1::kDigest];
    for (unsigned int done = 0, index = 1; done < keyLength; ++index) {
        unsigned char be[4];
        platform::StoreBe32(be, index);
        round.copyFrom(salted);
        round.data(be, sizeof be);
        round.end(u, HmacSha1::kDigest);
        std::memcpy(block, u, sizeof block);
        for (unsigned int i = 1; i < iterations; ++i) {
            round.copyFrom(keyed);
            round.data(u, HmacSha1::kDigest);
            round.end(u, HmacSha1::kDigest);
            for (int k = 0; k < HmacSha1::kDigest; ++k)
                block[k] ^= u[k];
        }
        const unsigned int take = keyLength - done < HmacSha1::kDigest ? keyLength - done : HmacSha1::kDigest;
        std::memcpy(key + done, block, take);
        done += take;
    }
    if (verbose) {
        log.logDataLong("key_len", static_cast<int>(keyLength));
        log.logDataHex("key", key, keyLength);
    }
    return true;
}

// ---------------------------------------------------------------- WinZipAes

WinZipAes::WinZipAes() {
    const WinZipAesServices* s = g_services.load();
    if (s && s->newCipher)
        m_aes.reset(s->newCipher());
}

WinZipAes::~WinZipAes() = default;

int WinZipAes::normalizeMode(int mode) {
    for (int i = 0; i < 3; ++i)
        if (mode == kModeBits[i])
            return i + 1;
    return mode;
}

int WinZipAes::saltSize(int mode) {
    mode = normalizeMode(mode);
    return mode >= 1 && mode <= 3 ? 4 * mode + 4 : 8;
}

int WinZipAes::overheadSize(int mode) {
    return saltSize(mode) + kVerifierSize + kMacSize;
}

bool WinZipAes::wzCryptInit(int mode, const unsigned char* password, unsigned int passwordLength,
                            const unsigned char* salt, unsigned char verifier[2], WzCryptContext& ctx, LogBase& log,
                            bool verbose) {
    if (verbose) {
        log.enterContext("wzCryptInit", true);
        log.logDataLong("mode", mode);
    }
    mode = normalizeMode(mode);
    auto fail = [&](const char* why) {
        if (verbose) {
            log.logError(why);
            log.leaveContext();
        }
        return false;
    };
    if (!m_aes) {
        log.logError(wzaes_msg::kNotInstalled);
        if (verbose)
            log.leaveContext();
        return false;
    }
    if (passwordLength > kMaxPassword)
        return fail("Password too long");
    if (mode < 1 || mode > 3)
        return fail("Bad mode");
    const int keyLen = keySize(mode);
    std::vector<unsigned char> material(static_cast<size_t>(2 * keyLen + kVerifierSize));
    if (!ZipAes_derive_key(password, passwordLength, salt, static_cast<unsigned>(saltSize(mode)), kIterations,
                           material.data(), static_cast<unsigned>(material.size()), log, verbose)) {
        if (verbose)
            log.leaveContext();
        return false;
    }
    std::memset(ctx.counter, 0, sizeof ctx.counter);
    ctx.position = 16;
    ctx.passwordLength = passwordLength;
    ctx.mode = mode;
    if (verbose) {
        log.logDataLong("key_length", keyLen);
        log.logDataHex("kbuf", material.data(), static_cast<unsigned>(keyLen));
    }
    m_aes->setKey(material.data(), static_cast<unsigned>(keyLen));
    ctx.hmac.begin();
    ctx.hmac.key(material.data() + keyLen, static_cast<unsigned>(keyLen));
    verifier[0] = material[static_cast<size_t>(2 * keyLen)];
    verifier[1] = material[static_cast<size_t>(2 * keyLen + 1)];
    std::memset(material.data(), 0, material.size());
    if (verbose) {
        log.logDataHex("passwordVerifier", verifier, kVerifierSize);
        log.leaveContext();
    }
    return true;
}

void WinZipAes::decryptChunk(unsigned char* bytes, unsigned int n, WzCryptContext& ctx) {
    ctx.hmac.data(bytes, n);
    m_aes->ctrXor(bytes, n, ctx.counter, ctx.keystream, &ctx.position);
}

void WinZipAes::encryptChunk(unsigned char* bytes, unsigned int n, WzCryptContext& ctx) {
    m_aes->ctrXor(bytes, n, ctx.counter, ctx.keystream, &ctx.position);
    ctx.hmac.data(bytes, n);
}

bool WinZipAes::decryptDb(const DataBuffer& in, const DataBuffer& password, int mode, DataBuffer& out, LogBase& log,
                          bool verbose, bool* badPassword, bool* authFailed) {
    return decryptMemory(in.getData(), in.getSize(), password, mode, out, log, verbose, badPassword, authFailed);
}

bool WinZipAes::decryptMemory(const unsigned char* data, std::uint32_t size, const DataBuffer& password, int mode,
                              DataBuffer& out, LogBase& log, bool verbose, bool* badPassword, bool* authFailed) {
    *badPassword = false;
    *authFailed = false;
    if (data && size == 0) {
        out.clear();
        return true;
    }
    if (!data || size < static_cast<std::uint32_t>(overheadSize(mode))) {
        log.logError(wzaes_msg::kTooShort);
        if (!data)
            log.logError("No data.");
        log.logDataLong("dataSize", static_cast<int>(size));
        return false;
    }
    const std::uint32_t salt = static_cast<std::uint32_t>(saltSize(mode));
    WzCryptContext ctx;
    unsigned char verifier[kVerifierSize];
    if (!wzCryptInit(mode, password.getData(), password.getSize(), data, verifier, ctx, log, verbose)) {
        log.logError(wzaes_msg::kDecryptInit);
        return false;
    }
    if (std::memcmp(verifier, data + salt, kVerifierSize) != 0) {
        log.logError(wzaes_msg::kBadPassword);
        *badPassword = true;
        return false;
    }
    const std::uint32_t n = size - salt - kVerifierSize - kMacSize;
    const std::uint32_t start = out.getSize();
    if (!out.append(data + salt + kVerifierSize, n))
        return false;
    decryptChunk(out.getData() + start, n, ctx);
    unsigned char mac[kMacSize];
    ctx.hmac.end(mac, kMacSize);
    if (std::memcmp(mac, data + size - kMacSize, kMacSize) != 0) {
        *authFailed = true;
        log.logError(wzaes_msg::kAuthMemory);
        return false;
    }
    return true;
}

bool WinZipAes::decryptStream(DataSource& source, const DataBuffer& password, int mode, Output& out, LogBase& log,
                              bool verbose, bool* badPassword, bool* authFailed) {
    *badPassword = false;
    *authFailed = false;
    const std::uint32_t salt = static_cast<std::uint32_t>(saltSize(mode));
    unsigned char head[16 + kVerifierSize];
    bool failed = false;
    if (readFull(source, head, salt, log, &failed) != salt || failed) {
        log.logError("Failed to read salt value for AES decryption");
        return false;
    }
    WzCryptContext ctx;
    unsigned char verifier[kVerifierSize];
    if (!wzCryptInit(mode, password.getData(), password.getSize(), head, verifier, ctx, log, verbose)) {
        log.logError(wzaes_msg::kDecryptInit);
        return false;
    }
    if (readFull(source, head + salt, kVerifierSize, log, &failed) != kVerifierSize || failed) {
        log.logError("Failed to read pwd verification for AES decryption");
        return false;
    }
    if (std::memcmp(verifier, head + salt, kVerifierSize) != 0) {
        log.logError(wzaes_msg::kBadPasswordStream);
        *badPassword = true;
        return false;
    }
    std::vector<unsigned char> buf(kStreamBuffer);
    std::uint32_t held = 0;
    for (;;) {
        held += readFull(source, buf.data() + held, kStreamBuffer - held, log, &failed);
        if (failed)
            return false;
        if (held >= kStreamKeep) {
            decryptChunk(buf.data(), kPiece, ctx);
            if (!writeAll(out, buf.data(), kPiece, nullptr, log))
                return false;
            std::memmove(buf.data(), buf.data() + kPiece, held - kPiece);
            held -= kPiece;
            continue;
        }
        if (held < kMacSize) {
            *authFailed = true;
            log.logError(wzaes_msg::kAuthStream);
            return false;
        }
        decryptChunk(buf.data(), held - kMacSize, ctx);
        if (!writeAll(out, buf.data(), held - kMacSize, nullptr, log))
            return false;
        break;
    }
    unsigned char mac[kMacSize];
    ctx.hmac.end(mac, kMacSize);
    if (std::memcmp(mac, buf.data() + held - kMacSize, kMacSize) != 0) {
        *authFailed = true;
        log.logError(wzaes_msg::kAuthStream);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- encryption

namespace {

// Salt, init and verifier; the context is ready for the data.
bool beginEncrypt(WinZipAes& aes, const DataBuffer& password, int mode, WzCryptContext& ctx, Output& out, LogBase& log,
                  bool verbose) {
    DataBuffer salt;
    if (!TessikRand::randomBytes(WinZipAes::saltSize(mode), salt))
        return false;
    if (!writeAll(out, salt.getData(), salt.getSize(), nullptr, log))
        return false;
    unsigned char verifier[WinZipAes::kVerifierSize];
    if (!aes.wzCryptInit(mode, password.getData(), password.getSize(), salt.getData(), verifier, ctx, log, verbose)) {
        log.logError(wzaes_msg::kEncryptInit);
        return false;
    }
    return writeAll(out, verifier, WinZipAes::kVerifierSize, nullptr, log);
}

bool finishEncrypt(WzCryptContext& ctx, Output& out, LogBase& log, bool verbose) {
    unsigned char mac[WinZipAes::kMacSize];
    ctx.hmac.end(mac, WinZipAes::kMacSize);
    if (verbose)
        log.logDataHex("mac", mac, WinZipAes::kMacSize);
    return writeAll(out, mac, WinZipAes::kMacSize, nullptr, log);
}

} // namespace

bool WinZipAesEncrypt4(DataSource& source, const DataBuffer& password, int mode, Output& out, LogBase& log,
                       bool verbose, std::uint64_t* plainBytes) {
    if (verbose)
        log.enterContext("WinZipAesEncrypt4", true);
    *plainBytes = 0;
    WinZipAes aes;
    WzCryptContext ctx;
    bool ok = beginEncrypt(aes, password, mode, ctx, out, log, verbose);
    std::vector<unsigned char> piece(WinZipAes::kPiece);
    while (ok && !source.endOfStream()) {
        std::uint32_t n = 0;
        if (!source.readChunk(piece.data(), WinZipAes::kPiece, &n, &log)) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        aes.encryptChunk(piece.data(), n, ctx);
        ok = writeAll(out, piece.data(), n, nullptr, log);
        *plainBytes += n;
    }
    ok = ok && finishEncrypt(ctx, out, log, verbose);
    if (verbose)
        log.leaveContext();
    return ok;
}

bool WinZipAesEncrypt3(const unsigned char* data, std::uint64_t size, const DataBuffer& password, int mode, Output& out,
                       ProgressMonitor* monitor, LogBase& log, bool verbose) {
    if (verbose)
        log.enterContext("WinZipAesEncrypt3", true);
    WinZipAes aes;
    WzCryptContext ctx;
    bool ok = beginEncrypt(aes, password, mode, ctx, out, log, verbose);
    std::vector<unsigned char> piece(WinZipAes::kPiece);
    for (std::uint64_t done = 0; ok && done < size;) {
        const std::uint32_t n =
            static_cast<std::uint32_t>(size - done < WinZipAes::kPiece ? size - done : WinZipAes::kPiece);
        std::memcpy(piece.data(), data + done, n);
        aes.encryptChunk(piece.data(), n, ctx);
        ok = writeAll(out, piece.data(), n, monitor, log);
        done += n;
    }
    ok = ok && finishEncrypt(ctx, out, log, verbose);
    if (verbose)
        log.leaveContext();
    return ok;
}

bool WinZipAesEncrypt5(const char* utf8Path, const DataBuffer& password, int mode, Output& out,
                       ProgressMonitor* monitor, LogBase& log, bool verbose, std::uint64_t* plainBytes) {
    *plainBytes = 0;
    std::unique_ptr<FileDataSource> source(FileDataSource::openForRead(utf8Path, &log));
    if (!source)
        return false;
    if (monitor)
        source->setMonitor(monitor);
    return WinZipAesEncrypt4(*source, password, mode, out, log, verbose, plainBytes);
}

} // namespace tessik
