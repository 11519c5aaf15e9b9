// The crypt component's operations: whole-buffer and chunked encryption and
// decryption, HMAC, and the encryption of a data source into an output.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/Blowfish.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/crypto/Pkcs5.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TessikArc4.h"
#include "netlib/crypto/TessikDes.h"
#include "netlib/crypto/TessikRc2.h"
#include "netlib/crypto/TwoFish.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"

namespace tessik {

namespace {
constexpr unsigned int kLoggedOutputBytes = 256;
constexpr std::uint32_t kSourceChunkSize = 64000;
constexpr unsigned int kSourceBufferCapacity = 64064;
constexpr int kBitsPerByte = 8;

constexpr const char* kNoSecretKey =
    "No secret key has been set.  Need a secret key for symmetric encryption algorithms";
constexpr const char* kUnknownEncryption = "Unrecognized encryption method";
constexpr const char* kUnknownDecryption = "Algorithm ID is unrecognized";

bool isBlockCipher(int id) {
    return id == kCipherAes || id == kCipherBlowfish || id == kCipherTwofish || id == kCipherBlowfish2 ||
           id == kCipherDes || id == kCipherRc2;
}

// The IV zero-extended to a whole block, for ciphers that read a fixed size.
void ivBlock(const DataBuffer& iv, unsigned char (&out)[kMaxIvSize]) {
    std::memset(out, 0, sizeof out);
    if (iv.getSize())
        std::memcpy(out, iv.getData(), std::min<unsigned int>(iv.getSize(), kMaxIvSize));
}

DataBuffer* copyOf(const DataBuffer& in) {
    auto* out = new DataBuffer();
    out->appendDb(in);
    return out;
}
} // namespace

void ClsCrypt::setupCipher(CryptoPtr& holder, bool decrypt, bool wholeEncrypt, bool logIt, LogBase& log) {
    m_lastCertSubject.clear();
    const char* logName = nullptr;
    unsigned char iv[kMaxIvSize];
    ivBlock(m_iv, iv);
    switch (m_algorithmId) {
    case kCipherAes: {
        logName = "aes";
        m_displayName.setString("rijndael");
        RijndaelContext* aes = holder.getAes();
        aes->setKeyLength(m_keyLength);
        if (m_cipherMode == kCipherModeEcb)
            aes->setModeEcb();
        else
            aes->setModeCbc();
        aes->setKey(m_secretKey);
        if (m_ivSet)
            aes->setIv(iv);
        aes->setPaddingScheme(static_cast<unsigned int>(m_paddingScheme));
        if (decrypt)
            aes->setByteSwapOnDecrypt(m_decryptByteSwap);
        break;
    }
    case kCipherBlowfish: {
        logName = "blowfishOld";
        m_displayName.setString("blowfish");
        Blowfish* bf = holder.getBlowfish();
        bf->setKeyLength(m_keyLength);
        bf->setKey(m_secretKey);
        bf->setPaddingScheme(static_cast<unsigned int>(m_paddingScheme));
        if (decrypt)
            bf->setByteSwapOnDecrypt(m_decryptByteSwap);
        break;
    }
    case kCipherBlowfish2: {
        logName = "blowfish";
        m_displayName.setString("blowfish2");
        Blowfish2* bf = holder.getBlowfish2();
        bf->setKeyLength(m_keyLength);
        bf->setKey(m_secretKey);
        bf->setPaddingScheme(static_cast<unsigned int>(m_paddingScheme));
        if (m_cipherMode == kCipherModeEcb)
            bf->setModeEcb();
        else if (m_cipherMode == kCipherModeCfb)
            bf->setModeCfb();
        else
            bf->setModeCbc();
        if (m_ivSet)
            bf->setIv(iv);
        break;
    }
    case kCipherDes: {
        logName = wholeEncrypt && m_keyLength > static_cast<int>(kDesBlockSize * kBitsPerByte) ? "3des" : "des";
        m_displayName.setString("des");
        TessikDes* des = holder.getDes();
        des->setKey(m_secretKey, static_cast<unsigned int>(std::max(m_keyLength, 0)), log);
        des->setPaddingScheme(static_cast<unsigned int>(m_paddingScheme));
        des->setCipherMode(m_cipherMode == kCipherModeEcb   ? kDesModeEcb
                           : m_cipherMode == kCipherModeCfb ? kDesModeCfb
                                                            : kDesModeCbc);
        if (m_ivSet)
            des->setIv(m_iv);
        else if (decrypt)
            des->clearIv();
        break;
    }
    case kCipherRc2: {
        logName = "rc2";
        m_displayName.setString("rc2");
        TessikRc2* rc2 = holder.getRc2();
        rc2->setKey(m_secretKey, static_cast<unsigned int>(std::max(m_keyLength, 0) / kBitsPerByte),
                    static_cast<unsigned int>(std::max(m_rc2EffectiveKeyLength, 0)));
        rc2->setPaddingScheme(static_cast<unsigned int>(m_paddingScheme));
        rc2->setEcb(m_cipherMode == kCipherModeEcb);
        if (m_ivSet)
            rc2->setIv(m_iv);
        break;
    }
    case kCipherRc4: {
        logName = "arc4";
        m_displayName.setString("arc4");
        TessikArc4* rc4 = holder.getRc4();
        rc4->setKey(m_secretKey, static_cast<unsigned int>(std::max(m_keyLength, 0) / kBitsPerByte));
        if (m_rc4Drop)
            rc4->discard1536();
        break;
    }
    case kCipherTwofish: {
        logName = "twofish";
        m_displayName.setString("twofish");
        TwoFish* tf = holder.getTwofish();
        if (decrypt)
            tf->setByteSwapOnDecrypt(m_decryptByteSwap);
        tf->setKeyLength(m_keyLength);
        tf->setKey(m_secretKey);
        if (m_cipherMode == kCipherModeEcb)
            tf->setModeEcb();
        else
            tf->setModeCbc();
        if (m_ivSet)
            tf->setIv(iv);
        tf->setPaddingScheme(static_cast<unsigned int>(m_paddingScheme));
        break;
    }
    default: break;
    }
    if (logIt && logName) {
        log.logData("algorithm", logName);
        log.logDataLong("keyLength", m_keyLength);
    }
}

DataBuffer* ClsCrypt::encryptDbNew(DataBuffer& input, void* context, LogBase& log) {
    if (m_algorithmId == kCipherNone) {
        log.logData("algorithm", "none");
        return copyOf(input);
    }
    const bool passwordBased =
        m_algorithmId == kCipherPki || m_algorithmId == kCipherPbes1 || m_algorithmId == kCipherPbes2;
    if (!passwordBased && m_secretKey.getSize() == 0) {
        log.logError(kNoSecretKey);
        return nullptr;
    }
    // An envelope of nothing is still an envelope: it carries the padding
    // block that tells the recipient the content is empty.
    if (input.getSize() == 0 && m_algorithmId != kCipherPki)
        return new DataBuffer();
    if (isBlockCipher(m_algorithmId)) {
        CryptoPtr cipher(m_algorithmId);
        setupCipher(cipher, false, true, true, log);
        return cipher.getBlockCipher(m_algorithmId)->encryptDbNew(input, log);
    }
    if (m_algorithmId == kCipherRc4) {
        CryptoPtr cipher(kCipherRc4);
        setupCipher(cipher, false, true, true, log);
        return cipher.getRc4()->transformDbNew(input);
    }
    if (m_algorithmId == kCipherPbes1 || m_algorithmId == kCipherPbes2)
        return pbesDbNew(true, input, log);
    if (m_algorithmId == kCipherPki)
        return publicKeyEncrypt(input, context, log);
    log.logError(kUnknownEncryption);
    return nullptr;
}

DataBuffer* ClsCrypt::decryptDbNew(const DataBuffer& input, LogBase& log) {
    if (m_algorithmId == kCipherNone) {
        log.logData("algorithm", "none");
        return copyOf(input);
    }
    if (isBlockCipher(m_algorithmId) || m_algorithmId == kCipherRc4) {
        CryptoPtr cipher(m_algorithmId);
        setupCipher(cipher, true, false, true, log);
        if (m_algorithmId == kCipherRc4)
            return cipher.getRc4()->transformDbNew(input);
        return cipher.getBlockCipher(m_algorithmId)->decryptDbNew(input, log);
    }
    if (m_algorithmId == kCipherPbes1 || m_algorithmId == kCipherPbes2) {
        DataBuffer copy;
        copy.appendDb(input);
        return pbesDbNew(false, copy, log);
    }
    if (m_algorithmId == kCipherPki)
        return publicKeyDecrypt(input, log);
    log.logError(kUnknownDecryption);
    return nullptr;
}

DataBuffer* ClsCrypt::pbesDbNew(bool encrypt, DataBuffer& input, LogBase& log) {
    const bool v1 = m_algorithmId == kCipherPbes1;
    log.logData("algorithm", v1 ? "pbes1" : "pbes2");
    log.logData("pbesAlgorithm", m_pbesAlgorithm.getUtf8());
    m_lastCertSubject.clear();
    m_displayName.setString(v1 ? "pbes1" : "pbes2");
    DataBuffer password;
    m_password.getConverted(m_charset, password);
    password.appendChar(0);
    XString hashName;
    getHashAlgorithmName(hashName);
    const char* pw = reinterpret_cast<const char*>(password.getData());
    const char* cipherName = m_pbesAlgorithm.getUtf8();
    const auto iterations = static_cast<std::uint32_t>(m_iterationCount);
    std::unique_ptr<DataBuffer> out(new DataBuffer());
    bool ok;
    if (v1)
        ok = encrypt ? pbes1Encrypt(pw, hashName.getUtf8(), cipherName, m_salt, iterations, input, *out, log)
                     : pbes1Decrypt(pw, hashName.getUtf8(), cipherName, m_salt, iterations, input, *out, log);
    else
        ok = encrypt ? pbes2Encrypt(pw, hashName.getUtf8(), cipherName, m_keyLength, m_rc2EffectiveKeyLength, m_salt,
                                    iterations, m_iv, input, *out, log)
                     : pbes2Decrypt(pw, hashName.getUtf8(), cipherName, m_keyLength, m_rc2EffectiveKeyLength, m_salt,
                                    iterations, m_iv, input, *out, log);
    password.secureClear();
    return ok ? out.release() : nullptr;
}

namespace {
std::atomic<const CryptPublicKeyHooks*> g_publicKeyHooks{nullptr};
} // namespace

void installCryptPublicKeyHooks(const CryptPublicKeyHooks* hooks) {
    g_publicKeyHooks.store(hooks);
}

DataBuffer* ClsCrypt::publicKeyEncrypt(DataBuffer& input, void* context, LogBase& log) {
    const CryptPublicKeyHooks* hooks = g_publicKeyHooks.load();
    if (!hooks || !hooks->encrypt) {
        log.logError(crypt_msg::kNoPublicKey);
        return nullptr;
    }
    return hooks->encrypt(*this, input, context, log);
}

DataBuffer* ClsCrypt::publicKeyDecrypt(const DataBuffer& input, LogBase& log) {
    const CryptPublicKeyHooks* hooks = g_publicKeyHooks.load();
    if (!hooks || !hooks->decrypt) {
        log.logError(crypt_msg::kNoPublicKey);
        return nullptr;
    }
    return hooks->decrypt(*this, input, log);
}

DataBuffer* ClsCrypt::runChunk(bool encrypt, ChunkStep step, CryptoPtr& holder, DataBuffer& input,
                               DataBuffer& carriedIv, LogBase& log) {
    const int id = m_algorithmId;
    if (id == kCipherNone) {
        if (encrypt && step == ChunkStep::First)
            log.logData("algorithm", "none");
        return copyOf(input);
    }
    if (cipherBlockSize(id) == 0) {
        if (id == kCipherPbes1)
            log.logError("PBES1 not supported with chunks.");
        else if (id == kCipherPbes2)
            log.logError("PBES2 not supported with chunks.");
        else if (encrypt && id == kCipherPki)
            log.logError("Cannot do public-key encryption in chunks.");
        else
            log.logError(encrypt ? kUnknownEncryption : kUnknownDecryption);
        return nullptr;
    }
    if (input.getSize() == 0 && step != ChunkStep::Last) {
        if (step == ChunkStep::First)
            m_chunkInProgress = false;
        return new DataBuffer();
    }
    if (step == ChunkStep::First) {
        m_chunkInProgress = true;
        setupCipher(holder, !encrypt, false, encrypt, log);
    }
    // Decryption chains through the carried IV as a block-sized work area.
    if (!encrypt && carriedIv.getSize() < kMaxIvSize)
        carriedIv.appendCharRepeated(0, kMaxIvSize - carriedIv.getSize());
    if (id == kCipherRc4)
        return holder.getRc4()->transformDbNew(input);
    ChainedBlockCipher* c = holder.getBlockCipher(id);
    if (encrypt)
        return step == ChunkStep::First  ? c->encryptFirstChunk(input, carriedIv, log)
               : step == ChunkStep::Next ? c->encryptNextChunk(input, carriedIv, log)
                                         : c->encryptLastChunk(input, carriedIv, log);
    unsigned char* ivArea = carriedIv.getData();
    return step == ChunkStep::First  ? c->decryptFirstChunk(input, ivArea, log)
           : step == ChunkStep::Next ? c->decryptNextChunk(input, ivArea, log)
                                     : c->decryptLastChunk(input, ivArea, log);
}

DataBuffer* ClsCrypt::encryptFirstChunk(CryptoPtr& c, DataBuffer& in, DataBuffer& iv, LogBase& log) {
    return runChunk(true, ChunkStep::First, c, in, iv, log);
}
DataBuffer* ClsCrypt::encryptNextChunk(CryptoPtr& c, DataBuffer& in, DataBuffer& iv, LogBase& log) {
    return runChunk(true, ChunkStep::Next, c, in, iv, log);
}
DataBuffer* ClsCrypt::encryptLastChunk(CryptoPtr& c, DataBuffer& in, DataBuffer& iv, LogBase& log) {
    return runChunk(true, ChunkStep::Last, c, in, iv, log);
}
DataBuffer* ClsCrypt::decryptFirstChunk(CryptoPtr& c, DataBuffer& in, DataBuffer& iv, LogBase& log) {
    return runChunk(false, ChunkStep::First, c, in, iv, log);
}
DataBuffer* ClsCrypt::decryptNextChunk(CryptoPtr& c, DataBuffer& in, DataBuffer& iv, LogBase& log) {
    return runChunk(false, ChunkStep::Next, c, in, iv, log);
}
DataBuffer* ClsCrypt::decryptLastChunk(CryptoPtr& c, DataBuffer& in, DataBuffer& iv, LogBase& log) {
    return runChunk(false, ChunkStep::Last, c, in, iv, log);
}

void ClsCrypt::warnAboutSettings(LogBase& log) {
    const int blockSize = getBlockSize();
    if (m_cipherMode == kCipherModeCbc && isBlockCipher(m_algorithmId) &&
        static_cast<int>(m_iv.getSize()) != blockSize) {
        log.logError("Warning: IV length is not equal to the algorithm's block size");
        log.logDataLong("blockSize", blockSize);
        log.logDataLong("IV_len", static_cast<int>(m_iv.getSize()));
    }
    if ((isBlockCipher(m_algorithmId) || m_algorithmId == kCipherRc4) &&
        m_keyLength > kBitsPerByte * static_cast<int>(m_secretKey.getSize())) {
        log.logError("Warning: Secret key size not equal to specified key length");
        log.logDataLong("keyLengthInBits", m_keyLength);
        log.logDataLong("secretKeyLengthInBytes", static_cast<int>(m_secretKey.getSize()));
    }
}

DataBuffer* ClsCrypt::runBuffer(bool encrypt, DataBuffer& input, void* context, LogBase& log) {
    const unsigned int blockSize = static_cast<unsigned int>(getBlockSize());
    auto whole = [&](DataBuffer& in) -> DataBuffer* {
        if (encrypt)
            return encryptDbNew(in, context, log);
        DataBuffer* r = decryptDbNew(in, log);
        if (!r)
            log.logError("Failed to decrypt.");
        else
            log.logDataLong("outputSize", static_cast<int>(r->getSize()));
        return r;
    };
    auto chunk = [&](ChunkStep step, DataBuffer& in) {
        return runChunk(encrypt, step, m_chunkCipher, in, m_carriedIv, log);
    };
    const bool first = m_firstChunk, last = m_lastChunk, busy = m_chunkInProgress;

    if (!busy && !first && last) {
        // A run whose first call held back everything ends as one buffer.
        DataBuffer joined;
        joined.appendDb(m_heldBack);
        joined.appendDb(input);
        m_heldBack.secureClear();
        return encrypt ? encryptDbNew(joined, context, log) : decryptDbNew(joined, log);
    }
    if (first) {
        // A first call starts afresh, even one that is also the last: what an
        // abandoned run held back or keyed must not reach a later call.
        m_chunkCipher.clear();
        m_carriedIv.clear();
        m_heldBack.secureClear();
        m_chunkInProgress = false;
    }
    if (blockSize == 0 || (first && last))
        return whole(input);
    DataBuffer joined;
    joined.appendDb(m_heldBack);
    joined.appendDb(input);
    m_heldBack.secureClear();
    if (last) {
        // The end of a run, which pads (or unpads) even when it brings no
        // bytes; nothing may be carried into the next run.
        DataBuffer* out = chunk(ChunkStep::Last, joined);
        m_chunkInProgress = false;
        return out;
    }
    // A partial block waits for the next call. A decryption whose padding
    // comes off also keeps its last padding block back for the last call,
    // however short that call turns out to be.
    unsigned int keep = joined.getSize() % blockSize;
    const unsigned int padBlock = static_cast<unsigned int>(cipherPaddingBlockSize(m_algorithmId));
    if (!encrypt && paddingIsRemoved(static_cast<unsigned int>(m_paddingScheme)))
        keep = joined.getSize() <= padBlock ? joined.getSize() : padBlock + (joined.getSize() - padBlock) % blockSize;
    m_heldBack.append(joined.getData() + joined.getSize() - keep, keep);
    joined.shorten(keep);
    if (first || !busy) {
        m_chunkCipher.clear();
        m_carriedIv.clear();
        return chunk(ChunkStep::First, joined);
    }
    return chunk(ChunkStep::Next, joined);
}

DataBuffer* ClsCrypt::encryptBuffer(DataBuffer& input, void* context, LogBase& log, bool logParams) {
    if (logParams)
        logEncryptionParams(input, log);
    warnAboutSettings(log);
    DataBuffer* out = runBuffer(true, input, context, log);
    if (logParams && out && out->getSize())
        log.logDataHex("encryptedData", out->getData(), std::min(kLoggedOutputBytes, out->getSize()));
    return out;
}

DataBuffer* ClsCrypt::decryptBuffer(DataBuffer& input, LogBase& log) {
    if (m_verboseLog)
        logEncryptionParams(input, log);
    warnAboutSettings(log);
    return runBuffer(false, input, nullptr, log);
}

bool ClsCrypt::encryptBytesToDb(DataBuffer& input, DataBuffer& out, void* context, LogBase& log, bool logParams) {
    DataBuffer* r = encryptBuffer(input, context, log, logParams);
    if (!r) {
        log.logError("Failed to encrypt data");
        return false;
    }
    out.takeFromOrEmpty(r);
    delete r;
    return true;
}

bool ClsCrypt::decryptBytesToDb(DataBuffer& input, DataBuffer& out, LogBase& log) {
    DataBuffer* r = decryptBuffer(input, log);
    if (!r) {
        log.logError("Failed to decrypt data");
        return false;
    }
    out.takeFromOrEmpty(r);
    delete r;
    return true;
}

bool ClsCrypt::Decrypt(DataBuffer& input, DataBuffer& out) {
    CritSecExitor lock(*this);
    enterMethod("Decrypt");
    DataBuffer* r = decryptBuffer(input, m_log);
    if (!r) {
        m_log.logError("Failed to decrypt data");
        m_log.leaveContext();
        return false;
    }
    out.takeFromOrEmpty(r);
    delete r;
    m_log.logDataLong("originalDataSize", static_cast<int>(input.getSize()));
    m_log.logDataLong("decryptedDataSize", static_cast<int>(out.getSize()));
    m_log.leaveContext();
    return true;
}

bool ClsCrypt::HmacBytes(const DataBuffer& data, DataBuffer& out) {
    CritSecExitor lock(*this);
    enterMethod("HmacBytes");
    out.clear();
    Hmac().doHmac(data.getData(), data.getSize(), m_hmacKey.getData(), static_cast<int>(m_hmacKey.getSize()),
                  m_hashAlgorithmId, out);
    m_log.leaveContext();
    return true;
}

bool ClsCrypt::encryptSourceToOutput(DataSource& source, Output& output, void* context, LogBase& log) {
    log.enterContext("encryptSourceToOutput", true);
    CryptoPtr cipher(m_algorithmId);
    DataBuffer carriedIv, pending, buffer;
    const bool savedBusy = m_chunkInProgress;
    bool ok = buffer.ensureCapacity(kSourceBufferCapacity);
    bool first = true;
    auto emit = [&](DataBuffer* r) {
        std::unique_ptr<DataBuffer> owned(r);
        if (!owned) {
            log.logError("Failed to encrypt data source to output...");
            return false;
        }
        if (owned->getSize() && output.writeBytesNoProgress(owned->getData(), owned->getSize(), 1, log) != 1) {
            log.logError("Failed to write encrypted data to output.");
            return false;
        }
        return true;
    };
    if (ok && !source.endOfStream()) {
        // One chunk is read ahead, so the last one is known before it is
        // encrypted and always gets its final block and padding, also from a
        // source whose end shows only after an empty read.
        for (;;) {
            std::uint32_t n = 0;
            buffer.clear();
            if (!source.readChunk(buffer.getData(), kSourceChunkSize, &n, &log)) {
                log.logError("Failed to read next chunk from data source");
                ok = false;
                break;
            }
            buffer.setSize(n);
            if (n == 0 || source.endOfStream()) {
                pending.appendDb(buffer);
                break;
            }
            if (pending.getSize()) {
                ok = emit(first ? encryptFirstChunk(cipher, pending, carriedIv, log)
                                : encryptNextChunk(cipher, pending, carriedIv, log));
                first = false;
                if (!ok)
                    break;
            }
            pending.clear();
            pending.appendDb(buffer);
        }
        if (ok)
            ok = emit(first ? encryptBuffer(pending, context, log, m_verboseLog)
                            : encryptLastChunk(cipher, pending, carriedIv, log));
    }
    m_chunkInProgress = savedBusy;
    pending.secureClear();
    buffer.secureClear();
    log.leaveContext();
    return ok;
}

} // namespace tessik
