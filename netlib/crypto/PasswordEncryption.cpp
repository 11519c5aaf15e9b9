#include "netlib/crypto/PasswordEncryption.h"

#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/crypto/Blowfish.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TwoFish.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/TsFileInfo.h"

namespace tessik {

namespace {
constexpr std::uint32_t kFileChunkSize = 800000;
constexpr unsigned int kFileBufferCapacity = 800064;
constexpr int kOuterPaddingBlock = 16;

// One of the three ciphers, keyed from the password.
struct PasswordCipher {
    std::unique_ptr<RijndaelContext> aes;
    std::unique_ptr<TwoFish> twofish;
    std::unique_ptr<Blowfish> blowfish;
    DataBuffer carriedIv;

    PasswordCipher(int selector, int keyBits, const char* password) {
        if (selector == kPasswordAes) {
            aes = std::make_unique<RijndaelContext>();
            aes->setKeyLength(keyBits);
            aes->setModeCbc();
            aes->setKeyFromPassword(password);
        } else if (selector == kPasswordTwofish) {
            twofish = std::make_unique<TwoFish>();
            twofish->setKeyLength(keyBits);
            twofish->setModeCbc();
            twofish->setKeyFromPassword(password);
        } else {
            blowfish = std::make_unique<Blowfish>();
            blowfish->setKeyLength(keyBits);
            blowfish->setKeyFromPassword(password);
        }
        // Decryption chains through a block-sized area.
        carriedIv.appendCharRepeated(0, kAesBlockSize);
    }

    DataBuffer* whole(bool encrypt, DataBuffer& in, LogBase& log) {
        if (aes)
            return encrypt ? aes->encryptDbNew(in, log) : aes->decryptDbNew(in, log);
        if (twofish)
            return encrypt ? twofish->encryptDbNew(in, log) : twofish->decryptDbNew(in, log);
        return encrypt ? blowfish->encryptDbNew(in, log) : blowfish->decryptDbNew(in, log);
    }

    enum Step { kFirst, kNext, kLast };

    DataBuffer* chunk(bool encrypt, Step step, DataBuffer& in, LogBase& log) {
        if (in.getSize() == 0)
            return new DataBuffer();
        unsigned char* area = carriedIv.getData();
        if (encrypt && step == kFirst)
            carriedIv.clear();
        if (aes) {
            if (!encrypt)
                return step == kFirst  ? aes->decryptFirstChunk(in, area, log)
                       : step == kNext ? aes->decryptNextChunk(in, area, log)
                                       : aes->decryptLastChunk(in, area, log);
            DataBuffer* out = step == kFirst  ? aes->encryptFirstChunk(in, log)
                              : step == kNext ? aes->encryptNextChunk(in, carriedIv, log)
                                              : aes->encryptLastChunk(in, carriedIv, log);
            if (out && step != kLast) {
                carriedIv.clear();
                if (out->getSize() >= kAesBlockSize)
                    carriedIv.append(out->getData() + out->getSize() - kAesBlockSize, kAesBlockSize);
            }
            return out;
        }
        if (twofish) {
            if (!encrypt)
                return step == kFirst  ? twofish->decryptFirstChunk(in, area, log)
                       : step == kNext ? twofish->decryptNextChunk(in, area, log)
                                       : twofish->decryptLastChunk(in, area, log);
            return step == kFirst  ? twofish->encryptFirstChunk(in, carriedIv, log)
                   : step == kNext ? twofish->encryptNextChunk(in, carriedIv, log)
                                   : twofish->encryptLastChunk(in, carriedIv, log);
        }
        if (!encrypt)
            return step == kFirst  ? blowfish->decryptFirstChunk(in, log)
                   : step == kNext ? blowfish->decryptNextChunk(in, log)
                                   : blowfish->decryptLastChunk(in, log);
        return step == kFirst  ? blowfish->encryptFirstChunk(in, log)
               : step == kNext ? blowfish->encryptNextChunk(in, log)
                               : blowfish->encryptLastChunk(in, log);
    }
};

bool runFile(bool encrypt, int selector, int keyBits, const char* password, const char* inPath, const char* outPath,
             ProgressMonitor* monitor, LogBase& log) {
    if (!password || !inPath || !outPath)
        return false;
    if (selector != kPasswordAes && selector != kPasswordTwofish && selector != kPasswordBlowfish) {
        log.logError("Unsupported password encryption selector.");
        log.logDataLong("selector", selector);
        return false;
    }
    tsFileInfo info;
    if (!info.loadFileInfo(inPath, &log))
        return false;
    std::unique_ptr<FileDataSource> source(FileDataSource::openForRead(inPath, &log));
    if (!source)
        return false;
    OutputFile output;
    if (!output.createFile(outPath, log))
        return false;
    PasswordCipher cipher(selector, keyBits, password);
    DataBuffer buffer;
    if (!buffer.ensureCapacity(kFileBufferCapacity))
        return false;
    std::uint64_t remaining = info.size;
    bool last = remaining <= kFileChunkSize;
    bool first = true;
    bool ok = true;
    while (ok && !source->endOfStream()) {
        std::uint32_t n = 0;
        buffer.clear();
        if (!source->readChunk(buffer.getData(), kFileChunkSize, &n, &log))
            return false;
        if (n == 0)
            break;
        buffer.setSize(n);
        if (monitor) {
            bool abort = false;
            monitor->consumeProgressUint32(n, &abort);
            if (abort) {
                log.logError("Aborted by application");
                return false;
            }
        }
        remaining -= std::min<std::uint64_t>(n, remaining);
        std::unique_ptr<DataBuffer> out(first && last ? cipher.whole(encrypt, buffer, log)
                                                      : cipher.chunk(encrypt,
                                                                     first  ? PasswordCipher::kFirst
                                                                     : last ? PasswordCipher::kLast
                                                                            : PasswordCipher::kNext,
                                                                     buffer, log));
        if (!out)
            return false;
        if (out->getSize() && output.writeBytesNoProgress(out->getData(), out->getSize(), 1, log) != 1) {
            log.logError("Failed to write output file.");
            return false;
        }
        last = last || remaining <= kFileChunkSize;
        first = false;
    }
    buffer.secureClear();
    return ok;
}
} // namespace

bool encryptBytesWithPassword(int selector, int keyBits, const char* password, const void* data, std::uint32_t n,
                              DataBuffer& out, LogBase& log) {
    if (n == 0) {
        out.clear();
        return true;
    }
    if (!password || !data)
        return false;
    PasswordCipher cipher(selector, keyBits, password);
    DataBuffer work;
    work.append(data, n);
    work.appendPadding(kPadPkcs5, kOuterPaddingBlock);
    std::unique_ptr<DataBuffer> result(cipher.whole(true, work, log));
    work.secureClear();
    if (!result)
        return false;
    out.takeFromOrEmpty(result.get());
    return true;
}

bool decryptBytesWithPassword(int selector, int keyBits, const char* password, const void* data, std::uint32_t n,
                              DataBuffer& out, LogBase& log) {
    if (n == 0) {
        out.clear();
        return true;
    }
    if (!password || !data)
        return false;
    PasswordCipher cipher(selector, keyBits, password);
    DataBuffer in;
    in.borrowData(data, n);
    std::unique_ptr<DataBuffer> result(cipher.whole(false, in, log));
    if (!result || !result->removePadding(kPadPkcs5, kOuterPaddingBlock, log))
        return false;
    out.takeFromOrEmpty(result.get());
    return true;
}

bool encryptFileWithPassword(int selector, int keyBits, const char* password, const char* inPath, const char* outPath,
                             ProgressMonitor* monitor, LogBase& log) {
    return runFile(true, selector, keyBits, password, inPath, outPath, monitor, log);
}

bool decryptFileWithPassword(int selector, int keyBits, const char* password, const char* inPath, const char* outPath,
                             ProgressMonitor* monitor, LogBase& log) {
    return runFile(false, selector, keyBits, password, inPath, outPath, monitor, log);
}

} // namespace tessik
