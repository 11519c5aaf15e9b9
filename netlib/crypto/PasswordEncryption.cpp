#include "netlib/crypto/PasswordEncryption.h"

#include <memory>

#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/crypto/Blowfish.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TwoFish.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/OutputFile.h"

namespace tessik {

namespace {
constexpr std::uint32_t kFileChunkSize = 800000;
constexpr unsigned int kFileBufferCapacity = 800064;
constexpr int kOuterPaddingBlock = 16;

// One of the three ciphers, keyed from the password.
struct PasswordCipher {
    std::unique_ptr<ChainedBlockCipher> cipher;
    DataBuffer carriedIv;

    PasswordCipher(int selector, int keyBits, const char* password) {
        if (selector == kPasswordAes) {
            auto aes = std::make_unique<RijndaelContext>();
            aes->setKeyLength(keyBits);
            aes->setModeCbc();
            aes->setKeyFromPassword(password);
            cipher = std::move(aes);
        } else if (selector == kPasswordTwofish) {
            auto twofish = std::make_unique<TwoFish>();
            twofish->setKeyLength(keyBits);
            twofish->setModeCbc();
            twofish->setKeyFromPassword(password);
            cipher = std::move(twofish);
        } else {
            auto blowfish = std::make_unique<Blowfish>();
            blowfish->setKeyLength(keyBits);
            blowfish->setKeyFromPassword(password);
            cipher = std::move(blowfish);
        }
        // Decryption chains through a block-sized area.
        carriedIv.appendCharRepeated(0, kAesBlockSize);
    }

    DataBuffer* whole(bool encrypt, DataBuffer& in, LogBase& log) {
        return encrypt ? cipher->encryptDbNew(in, log) : cipher->decryptDbNew(in, log);
    }

    enum Step { kFirst, kNext, kLast };

    DataBuffer* chunk(bool encrypt, Step step, DataBuffer& in, LogBase& log) {
        ChainedBlockCipher& c = *cipher;
        if (encrypt)
            return step == kFirst  ? c.encryptFirstChunk(in, carriedIv, log)
                   : step == kNext ? c.encryptNextChunk(in, carriedIv, log)
                                   : c.encryptLastChunk(in, carriedIv, log);
        unsigned char* area = carriedIv.getData();
        return step == kFirst  ? c.decryptFirstChunk(in, area, log)
               : step == kNext ? c.decryptNextChunk(in, area, log)
                               : c.decryptLastChunk(in, area, log);
    }
};

bool runFileInto(OutputFile& output, bool encrypt, int selector, int keyBits, const char* password, const char* inPath,
                 const char* outPath, ProgressMonitor* monitor, LogBase& log) {
    if (!password || !inPath || !outPath)
        return false;
    if (selector != kPasswordAes && selector != kPasswordTwofish && selector != kPasswordBlowfish) {
        log.logError("Unsupported password encryption selector.");
        log.logDataLong("selector", selector);
        return false;
    }
    // Opened once, and read a chunk ahead to tell the last one: a FIFO has
    // no size to ask beforehand.
    std::unique_ptr<FileDataSource> source(FileDataSource::openForRead(inPath, &log));
    if (!source)
        return false;
    if (!output.createFile(outPath, log))
        return false;
    PasswordCipher cipher(selector, keyBits, password);
    // The chunk being run and the one read after it, in turn.
    DataBuffer chunks[2];
    if (!chunks[0].ensureCapacity(kFileBufferCapacity) || !chunks[1].ensureCapacity(kFileBufferCapacity))
        return false;
    const auto readInto = [&](DataBuffer& into) {
        std::uint32_t n = 0;
        into.clear();
        if (!source->endOfStream() && !source->readChunk(into.getData(), kFileChunkSize, &n, &log))
            return false;
        into.setSize(n);
        return true;
    };
    int at = 0;
    bool ok = readInto(chunks[at]);
    for (bool first = true; ok && chunks[at].getSize() != 0; first = false, at = 1 - at) {
        DataBuffer& buffer = chunks[at];
        DataBuffer& ahead = chunks[1 - at];
        const std::uint32_t n = buffer.getSize();
        if (monitor) {
            bool abort = false;
            monitor->consumeProgressUint32(n, &abort);
            if (abort) {
                log.logError("Aborted by application");
                ok = false;
                break;
            }
        }
        if (!readInto(ahead)) {
            ok = false;
            break;
        }
        const bool last = ahead.getSize() == 0;
        std::unique_ptr<DataBuffer> out(first && last ? cipher.whole(encrypt, buffer, log)
                                                      : cipher.chunk(encrypt,
                                                                     first  ? PasswordCipher::kFirst
                                                                     : last ? PasswordCipher::kLast
                                                                            : PasswordCipher::kNext,
                                                                     buffer, log));
        if (!out) {
            ok = false;
            break;
        }
        if (out->getSize() && output.writeBytesNoProgress(out->getData(), out->getSize(), 1, log) != 1) {
            log.logError("Failed to write output file.");
            ok = false;
            break;
        }
    }
    // Whatever of the input either held, wiped once.
    for (DataBuffer& chunk : chunks) {
        chunk.setSize(kFileBufferCapacity);
        chunk.secureClear();
    }
    return ok;
}

// The output takes the path's place only once all of it is written: a
// failed run leaves the path as it was.
bool runFile(bool encrypt, int selector, int keyBits, const char* password, const char* inPath, const char* outPath,
             ProgressMonitor* monitor, LogBase& log) {
    OutputFile output;
    return runFileInto(output, encrypt, selector, keyBits, password, inPath, outPath, monitor, log) &&
           output.commit(log);
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

bool encryptFileWithPasswordEntry(int selector, int keyBits, const char* password, const char* inPath,
                                  const char* outPath, ProgressMonitor* monitor, LogBase& log) {
    return encryptFileWithPassword(selector, keyBits, password, inPath, outPath, monitor, log);
}

bool decryptFileWithPasswordEntry(int selector, int keyBits, const char* password, const char* inPath,
                                  const char* outPath, ProgressMonitor* monitor, LogBase& log) {
    return decryptFileWithPassword(selector, keyBits, password, inPath, outPath, monitor, log);
}

} // namespace tessik
