#include "netlib/streams/ZipPipeline.h"

#include <atomic>

#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/PipelineHelp.h"
#include "netlib/streams/PwdProtect.h"
#include "netlib/streams/WinZipAes.h"

namespace tessik {

namespace {

std::atomic<const ZipPasswordCrypt*> g_crypt{nullptr};

constexpr const char* kTempBase = "tsZ.dat";
constexpr int kKeyBits192 = 192;
constexpr int kKeyBits256 = 256;
// A placeholder for empty memory, which the memory sources refuse as null.
const unsigned char kNoBytes[1] = {0};

int aesMode(int keyBits) {
    return keyBits == kKeyBits256 ? 3 : keyBits == kKeyBits192 ? 2 : 1;
}

const ZipPasswordCrypt* passwordCrypt(LogBase& log) {
    const ZipPasswordCrypt* c = g_crypt.load();
    if (!c)
        log.logError(zippipe_msg::kNoPasswordCrypt);
    return c;
}

} // namespace

void installZipPasswordCrypt(const ZipPasswordCrypt* crypt) {
    g_crypt.store(crypt);
}

ZipPipeline::ZipPipeline()
    : m_verbose(false), m_srcIsFile(false), m_srcFileEmpty(false), m_srcPwdProt(false), m_srcAesAlgorithm(0),
      m_srcKeyBits(0), m_srcIsCompressed(false), m_destIsCompressed(false), m_srcAes(false), m_srcIsTemp(false),
      m_srcFileSize(0), m_actualMethod(-1), m_dest(nullptr), m_lentSource(nullptr), m_checkCrc(0), m_checkTime(0),
      m_checkDescriptor(false), m_level(kDefaultLevel), m_inputBytes(0), m_outputBytes(0), m_bytesLeftOver(0),
      m_monitor(nullptr) {}

ZipPipeline::~ZipPipeline() {
    LogNull quiet;
    deleteTempSource(quiet, nullptr);
    m_srcPassword.secureClear();
}

// ---------------------------------------------------------------- source

void ZipPipeline::setSourceDataSource(DataSource* source) {
    m_ownedSource.reset();
    m_lentSource = source;
}

void ZipPipeline::setSourceBytes(const void* data, std::uint64_t size) {
    m_srcBytes.clear();
    if (data && size)
        m_srcBytes.append(data, static_cast<unsigned>(size));
    m_srcIsFile = false;
}

void ZipPipeline::setSourceDb(const DataBuffer& bytes) {
    m_srcBytes.clear();
    m_srcBytes.appendDb(bytes);
    m_srcIsFile = false;
    m_srcPath.clear();
    m_srcAes = false;
}

void ZipPipeline::setSourceFile(const char* utf8Path) {
    StringBuffer path(utf8Path ? utf8Path : "");
    becomeFile(path, false);
}

void ZipPipeline::setSourceEncryption(int algorithm, int keyBits, const char* password) {
    m_srcAesAlgorithm = algorithm;
    m_srcKeyBits = keyBits;
    m_srcPassword.setString(password ? password : "");
}

void ZipPipeline::setSourcePasswordProtected(bool on, const char* password, std::uint32_t crc, std::uint32_t dosTime,
                                             bool dataDescriptor) {
    m_srcPwdProt = on;
    m_srcPassword.setString(password ? password : "");
    m_checkCrc = crc;
    m_checkTime = dosTime;
    m_checkDescriptor = dataDescriptor;
}

void ZipPipeline::setTempDir(const char* utf8Dir) {
    m_tempDir.setString(utf8Dir ? utf8Dir : "");
}

void ZipPipeline::clearDataSources() {
    m_lentSource = nullptr;
    m_ownedSource.reset();
}

const unsigned char* ZipPipeline::bytes() const {
    return m_srcBytes.getSize() ? m_srcBytes.getData() : kNoBytes;
}

bool ZipPipeline::deleteTempSource(LogBase& log, const char* failure) {
    if (!m_srcIsFile || !m_srcIsTemp)
        return true;
    if (m_verbose)
        log.logData("deletingTempFile", m_srcPath.getString());
    m_srcIsTemp = false;
    if (deleteFileUtf8(m_srcPath.getString(), &log))
        return true;
    if (failure)
        log.logError(failure);
    return false;
}

void ZipPipeline::becomeFile(const StringBuffer& path, bool temporary) {
    m_srcIsFile = true;
    m_srcIsTemp = temporary;
    m_srcPath.setString(path.getString());
    m_srcBytes.clear();
    LogNull quiet;
    bool ok = false;
    const std::int64_t size = getFileSize64Utf8(m_srcPath.getString(), &quiet, ok);
    m_srcFileSize = ok && size > 0 ? static_cast<std::uint64_t>(size) : 0;
    m_srcFileEmpty = m_srcFileSize == 0;
}

void ZipPipeline::becomeMemory(DataBuffer& bytes) {
    m_srcBytes.clear();
    m_srcBytes.takeFrom(bytes);
    m_srcIsFile = false;
    m_srcIsTemp = false;
    m_srcPath.clear();
}

bool ZipPipeline::newTempFile(StringBuffer& path, LogBase& log) {
    return m_tempDir.getSize() ? getTempFilenameInDir(kTempBase, m_tempDir.getString(), path, &log)
                               : getTempFilename(kTempBase, path, &log);
}

bool ZipPipeline::openSourceFile(TessikHandle& handle, const char* failure, LogBase& log) {
    XString path;
    path.setFromUtf8(m_srcPath.getString());
    int errorKind = 0;
    if (openFileForRead(handle, path, errorKind, &log))
        return true;
    log.logError(failure);
    return false;
}

// ---------------------------------------------------------------- run

bool ZipPipeline::run(std::uint32_t* crc, LogBase& log, int calledFrom, bool verbose) {
    m_verbose = verbose;
    m_bytesLeftOver = 0;
    *crc = 0;
    if (verbose) {
        log.logInfo("Running Zip pipeline...");
        log.logDataLong("calledFrom", calledFrom);
        log.logDataLong("m_srcAes", m_srcAes ? 1 : 0);
        log.logDataLong("m_srcAesAlgorithm", m_srcAesAlgorithm);
    }
    const bool wasWinZipAes = m_srcAes && m_srcAesAlgorithm == kAlgorithmWinZipAes;
    if (!removeSourceEncryption(log)) {
        log.logError(zippipe_msg::kAesFailed);
        deleteTempSource(log, nullptr);
        return false;
    }
    if (m_actualMethod == 0)
        m_srcIsCompressed = false;
    if (!removePasswordProtection(log)) {
        log.logError(zippipe_msg::kPwdDecodeFailed);
        deleteTempSource(log, nullptr);
        return false;
    }
    if (verbose) {
        log.logDataLong("srcIsCompressed", m_srcIsCompressed ? 1 : 0);
        log.logDataLong("destIsCompressed", m_destIsCompressed ? 1 : 0);
        log.logDataLong("originallyWinZipAesEncrypted", wasWinZipAes ? 1 : 0);
        log.logDataLong("actualCompressionMethod", m_actualMethod);
    }
    bool ok = false;
    if (m_srcIsCompressed && m_destIsCompressed && !wasWinZipAes) {
        LogContext c(log, "c2c");
        ok = c_to_c(crc, log);
        if (!ok)
            log.logError("Compressed to compressed failed.");
    } else if (m_srcIsCompressed && m_destIsCompressed) {
        ok = true;
        if (m_actualMethod != 0 && m_srcBytes.getSize() != 0 && !inflateToTemp("InflateToTemp8", log)) {
            log.logDataLong("calledFrom", calledFrom);
            log.logError("Failed to inflate WinZip AES encrypted data to temp");
            ok = false;
        }
        if (ok) {
            m_srcIsCompressed = false;
            LogContext c(log, "u2c");
            ok = u_to_c(crc, log);
            if (!ok)
                log.logError("Uncompressed to compressed failed. (after WinZip AES decryption)");
        }
    } else if (m_srcIsCompressed) {
        LogContext c(log, "c2u");
        ok = c_to_u(crc, log);
        if (!ok)
            log.logError("Compressed to uncompressed failed.");
    } else if (m_destIsCompressed) {
        LogContext c(log, "u2c");
        ok = u_to_c(crc, log);
        if (!ok)
            log.logError("Uncompressed to compressed failed.");
    } else {
        LogContext c(log, "u2u");
        ok = u_to_u(crc, log);
        if (!ok)
            log.logError("Uncompressed to uncompressed failed.");
    }
    deleteTempSource(log, nullptr);
    return ok;
}

// ---------------------------------------------------------------- source encryption

bool ZipPipeline::removeSourceEncryption(LogBase& log) {
    if (!m_srcAes)
        return true;
    return m_srcAesAlgorithm == kAlgorithmWinZipAes ? decryptWinZipAes(log) : decryptPasswordBased(log);
}

bool ZipPipeline::decryptWinZipAes(LogBase& log) {
    LogContext c(log, "DecryptWzAes");
    if (m_verbose) {
        log.logInfo("Decrypting WZ AES data");
        log.logDataInt64("srcDataLen", static_cast<std::int64_t>(m_srcBytes.getSize()));
    }
    DataBuffer password;
    password.append(m_srcPassword.getString(), static_cast<unsigned>(m_srcPassword.getSize()));
    WinZipAes aes;
    DataBuffer plain;
    bool badPassword = false, authFailed = false, ok = false;
    const int mode = aesMode(m_srcKeyBits);
    if (m_srcIsFile) {
        std::unique_ptr<FileDataSource> file(FileDataSource::openForRead(m_srcPath.getString(), &log));
        OutputDataBuffer out(&plain);
        ok = file && aes.decryptStream(*file, password, mode, out, log, m_verbose, &badPassword, &authFailed);
    } else if (m_srcBytes.getSize()) {
        ok = aes.decryptDb(m_srcBytes, password, mode, plain, log, m_verbose, &badPassword, &authFailed);
    } else if (source()) {
        OutputDataBuffer out(&plain);
        ok = aes.decryptStream(*source(), password, mode, out, log, m_verbose, &badPassword, &authFailed);
    } else {
        log.logError("No data source for decrypting WZ AES.");
        return false;
    }
    password.secureClear();
    if (m_verbose) {
        log.logDataInt64("decryptedLen", static_cast<std::int64_t>(plain.getSize()));
        log.logInfo(ok ? "Decrypt successful." : "Decrypt failed.");
    }
    if (!ok) {
        if (badPassword)
            log.logError(zippipe_msg::kInvalidPassword);
        if (authFailed)
            log.logError(zippipe_msg::kInvalidAuth);
        return false;
    }
    deleteTempSource(log, nullptr);
    becomeMemory(plain);
    clearDataSources();
    m_srcAes = false;
    return true;
}

bool ZipPipeline::decryptPasswordBased(LogBase& log) {
    const ZipPasswordCrypt* crypt = passwordCrypt(log);
    if (!crypt)
        return false;
    if (!inflateToTemp("InflateToTemp2", log)) {
        log.logError("Failed to inflate to temp for AES decryption");
        return false;
    }
    StringBuffer decrypted;
    if (!newTempFile(decrypted, log)) {
        log.logError("Failed to get temp file for source AES decryption");
        return false;
    }
    if (!crypt->decryptFileWithPasswordEntry(m_srcAesAlgorithm, m_srcKeyBits, m_srcPassword.getString(),
                                             m_srcPath.getString(), decrypted.getString(), nullptr, log)) {
        log.logError("Failed to AES decrypt file");
        log.logData("encryptedFile", m_srcPath.getString());
        deleteFileUtf8(decrypted.getString(), &log);
        return false;
    }
    deleteTempSource(log, "Failed to delete zip temp file (C)");
    becomeFile(decrypted, true);
    m_srcAes = false;
    m_srcIsCompressed = false;
    return inflateToTemp("InflateToTemp3", log);
}

// ---------------------------------------------------------------- traditional protection

bool ZipPipeline::removePasswordProtection(LogBase& log) {
    LogContext c(log, "passwordDecode");
    if (m_verbose)
        log.logDataLong("m_srcPwdProt", m_srcPwdProt ? 1 : 0);
    if (!m_srcPwdProt) {
        if (m_verbose)
            log.logInfo("Not password protected.");
        return true;
    }
    if (!decodeProtected(log))
        return false;
    if (m_srcIsCompressed) {
        if (!inflateToTemp("InflateToTemp4", log))
            return false;
        m_srcIsCompressed = false;
    }
    if (m_verbose)
        log.logInfo("Password decode successful.");
    return true;
}

bool ZipPipeline::decodeProtected(LogBase& log) {
    DataSource* src = m_srcIsFile ? nullptr : source();
    if (src) {
        unsigned char header[kZipCryptHeaderLength];
        std::uint32_t got = 0;
        while (got < kZipCryptHeaderLength && !src->endOfStream()) {
            std::uint32_t n = 0;
            if (!src->readChunk(header + got, kZipCryptHeaderLength - got, &n, &log) || n == 0)
                break;
            got += n;
        }
        if (got < kZipCryptHeaderLength) {
            log.logError("Failed to get encryption header for pwd-protect");
            return false;
        }
        m_srcBytes.clear();
        m_srcBytes.append(header, kZipCryptHeaderLength);
    }
    if (m_srcIsFile) {
        log.logError("Source is password-protected, but not in memory");
        return false;
    }
    if (m_srcBytes.getSize() == 0) {
        log.logError("No src data for decoding...");
        return false;
    }
    if (m_srcBytes.getSize() < kZipCryptHeaderLength) {
        log.logError("Source is password-protected, but less than 12 bytes");
        return false;
    }
    PwdProtect decoder;
    decoder.setPassword(m_srcPassword.getString());
    decoder.initKeys(log);
    if (!decoder.checkHeader(m_srcBytes.getData(), m_checkTime, m_checkCrc, m_checkDescriptor, log)) {
        log.logError(zippipe_msg::kPwdIncorrect);
        return false;
    }
    StringBuffer path;
    if (!newTempFile(path, log)) {
        log.logError("Failed to get temp file for password decoding");
        return false;
    }
    bool ok = false;
    {
        OutputFile out;
        if (!out.createInPlace(path.getString(), log)) {
            log.logError("Failed to open temp file (1)");
            log.logData("tempFilename", path.getString());
            deleteFileUtf8(path.getString(), &log);
            return false;
        }
        PipelineHelp help;
        help.setMonitor(m_monitor);
        ok = src ? help.decodeSourceToOutput(*src, &decoder, out, log)
                 : help.decodeMemoryToOutput(m_srcBytes.getData() + kZipCryptHeaderLength,
                                             m_srcBytes.getSize() - kZipCryptHeaderLength, &decoder, out, log);
        ok = ok && out.commit(log);
    }
    if (!ok) {
        if (!deleteFileUtf8(path.getString(), &log))
            log.logError("Failed to delete temp file for password decoding (1)");
        log.logError("Failed to password-decode data");
        return false;
    }
    deleteTempSource(log, "Failed to delete temp file for password decoding (4)");
    m_srcPwdProt = false;
    becomeFile(path, true);
    clearDataSources();
    return true;
}

bool ZipPipeline::inflateToTemp(const char* context, LogBase& log) {
    LogContext c(log, context);
    StringBuffer path;
    if (!newTempFile(path, log)) {
        log.logError("Failed to get temp file for inflating");
        return false;
    }
    if (m_verbose)
        log.logData("inflateToTempFilename", path.getString());
    bool ok = false;
    {
        OutputFile out;
        if (!out.createInPlace(path.getString(), log)) {
            log.logError("Failed to create temporary output file");
            log.logData("filename", path.getString());
            deleteFileUtf8(path.getString(), &log);
            return false;
        }
        PipelineHelp help;
        help.setMonitor(m_monitor);
        std::uint32_t crc = 0;
        if (m_srcIsFile) {
            if (m_verbose)
                log.logInfo("Inflating from source file.");
            ok = help.inflateFileToOutput(m_srcPath.getString(), out, &crc, log, m_verbose);
            if (!ok) {
                log.logError("Failed to inflate from file to temp file");
                log.logData("srcFilename", m_srcPath.getString());
            }
        } else if (m_srcBytes.getSize() == 0 && source()) {
            if (m_verbose)
                log.logInfo("Inflating from data source.");
            ok = help.inflateSourceToOutput(*source(), out, log, &m_bytesLeftOver, &crc, false);
            if (!ok)
                log.logError("Failed to inflate from data source to temp file");
        } else {
            if (m_verbose) {
                log.logInfo("Inflating from memory.");
                log.logDataInt64("srcDataSize", static_cast<std::int64_t>(m_srcBytes.getSize()));
            }
            ok = m_srcBytes.getSize() == 0 ||
                 help.inflateMemoryToOutput(bytes(), m_srcBytes.getSize(), out, &crc, log, m_verbose);
            if (!ok)
                log.logError("Failed to inflate from data buffer to temp file");
        }
        ok = ok && out.commit(log);
    }
    if (!ok) {
        deleteFileUtf8(path.getString(), &log);
        return false;
    }
    deleteTempSource(log, nullptr);
    becomeFile(path, true);
    clearDataSources();
    if (m_verbose) {
        log.logData("newSrcFilename", m_srcPath.getString());
        log.logDataInt64("newSrcFileSize", static_cast<std::int64_t>(m_srcFileSize));
    }
    return true;
}

// ---------------------------------------------------------------- modes

bool ZipPipeline::u_to_c(std::uint32_t* crc, LogBase& log) {
    if (m_verbose)
        log.logInfo("Uncompressed to compressed (u_to_c)");
    if (encryption == kCryptNone) {
        if (m_verbose)
            log.logInfo(passwordProtect ? "Password protecting..." : "Compressing...");
        return passwordProtect ? compressToDestPwd(crc, log) : compressToDest(crc, log);
    }
    if (m_verbose)
        log.logInfo("Encrypting...");
    {
        LogContext c(log, "compressToTemp");
        if (!compressToIntermediate(log)) {
            log.logError("Failed to compress to temp for encryption.");
            return false;
        }
        if (m_verbose)
            log.logDataInt64("outputByteCount", static_cast<std::int64_t>(m_outputBytes));
    }
    if (encryption == kCryptWinZipAes) {
        if (m_verbose)
            log.logInfo("WinZip compatible AES Encrypting...");
        *crc = 0;
        // The entry's uncompressed size stays the input count.
        const std::uint64_t plainSize = m_inputBytes;
        LogContext c(log, "WzAesEncryptSource");
        const bool ok = winZipAesToDest(log);
        m_inputBytes = plainSize;
        if (m_verbose)
            log.logDataInt64("outputByteCount", static_cast<std::int64_t>(m_outputBytes));
        return ok;
    }
    return encryptPasswordBased(log) && compressToDest(crc, log);
}

bool ZipPipeline::c_to_u(std::uint32_t* crc, LogBase& log) {
    if (m_verbose)
        log.logInfo("Compressed to uncompressed (c_to_u)");
    *crc = 0;
    if (encryption != kCryptNone || passwordProtect) {
        // A destination to be encrypted never gets the plain data: inflate,
        // then encrypt as from plain data.
        if (!inflateToTemp("InflateToTemp9", log))
            return false;
        m_srcIsCompressed = false;
        return u_to_u(crc, log);
    }
    if (!m_dest) {
        log.logError("No dest out for inflate.");
        return false;
    }
    PipelineHelp help;
    help.setMonitor(m_monitor);
    if (m_srcIsFile) {
        if (m_verbose) {
            log.logInfo("inflating from a file");
            log.logData("fromFile", m_srcPath.getString());
        }
        if (!help.inflateFileToOutput(m_srcPath.getString(), *m_dest, crc, log, m_verbose)) {
            log.logError("Inflate from file source failed.");
            return false;
        }
        return true;
    }
    if (m_srcBytes.getSize() == 0 && source()) {
        if (m_verbose)
            log.logInfo("inflating from a data source");
        if (!help.inflateSourceToOutput(*source(), *m_dest, log, &m_bytesLeftOver, crc, m_verbose)) {
            log.logError("Inflate from data source failed.");
            return false;
        }
        return true;
    }
    if (m_srcBytes.getSize() == 0) {
        if (m_verbose)
            log.logInfo("compressed source is empty.");
        return true;
    }
    if (m_verbose)
        log.logInfo("inflating from in-memory compressed data");
    if (!help.inflateMemoryToOutput(bytes(), m_srcBytes.getSize(), *m_dest, crc, log, m_verbose)) {
        log.logError("Inflate from memory source failed.");
        return false;
    }
    return true;
}

bool ZipPipeline::u_to_u(std::uint32_t* crc, LogBase& log) {
    if (m_verbose)
        log.logInfo("Uncompressed to uncompressed (u_to_u)");
    if (encryption == kCryptNone)
        return passwordProtect ? copyProtectedToDest(crc, log) : streamToDest(crc, log);
    if (encryption == kCryptWinZipAes) {
        *crc = 0;
        return winZipAesToDest(log);
    }
    // The password-based kinds are read back by inflating, decrypting and
    // inflating again, whatever the entry's method: they are written so.
    return u_to_c(crc, log);
}

bool ZipPipeline::c_to_c(std::uint32_t* crc, LogBase& log) {
    if (m_verbose)
        log.logInfo("Compressed to compressed (c_to_c)");
    if (encryption == kCryptNone && !passwordProtect)
        return streamToDest(crc, log);
    const char* context = "InflateToTemp6";
    if (encryption == kCryptNone) {
        context = "InflateToTemp7";
    } else if (encryption == kCryptWinZipAes) {
        if (m_srcIsFile) {
            log.logError("Internal Error: source should not be a file (24)");
            return false;
        }
        if (!m_dest) {
            log.logError("Internal Error: dest output is NULL (25)");
            return false;
        }
        context = "InflateToTemp5";
    }
    if (!inflateToTemp(context, log))
        return false;
    m_srcIsCompressed = false;
    m_srcAes = false;
    // The password-based kinds too: their entries are deflated, encrypted
    // and deflated again, as the reading side expects.
    return u_to_c(crc, log);
}

// ---------------------------------------------------------------- compression

bool ZipPipeline::compressToDest(std::uint32_t* crc, LogBase& log) {
    if (!m_dest) {
        log.logError("No dest output for compress64");
        return false;
    }
    PipelineHelp help;
    help.copyFrom(*this);
    help.setMonitor(m_monitor);
    PipelineHelp::Deflated r;
    bool ok = false;
    if (m_srcIsFile) {
        TessikHandle handle;
        if (!openSourceFile(handle, "Failed to open file for reading (5)", log))
            return false;
        ok = help.deflateFileHandleToOutput(&handle, m_level, true, *m_dest, r, log);
    } else if (m_srcBytes.getSize() == 0 && source()) {
        ok = help.deflateSourceToOutput(*source(), m_level, true, false, *m_dest, r, log);
    } else {
        ok = help.deflateMemoryToOutput(bytes(), m_srcBytes.getSize(), m_level, true, *m_dest, r, log);
    }
    *crc = r.crc;
    m_inputBytes = r.uncompressedSize;
    m_outputBytes = r.compressedSize;
    return ok;
}

bool ZipPipeline::sourceCrc(std::uint32_t* crc, const char* memoryFailure, const char* fileFailure, LogBase& log) {
    PipelineHelp help;
    help.setMonitor(m_monitor);
    if (m_srcIsFile) {
        TessikHandle handle;
        if (!openSourceFile(handle, "Failed to open file for reading (7)", log))
            return false;
        if (m_verbose) {
            log.logData("srcFilename", m_srcPath.getString());
            log.logDataInt64("srcFileSize", static_cast<std::int64_t>(m_srcFileSize));
        }
        if (!help.crcOfFileHandle(&handle, crc, log)) {
            log.logError(fileFailure);
            return false;
        }
        if (m_verbose)
            log.logHex("foundCrc", *crc);
        return true;
    }
    if (m_srcBytes.getSize() == 0 && source()) {
        if (m_verbose)
            log.logInfo("Need to scan from a data source...");
        if (!help.crcOfSource(*source(), crc, log))
            return false;
        if (m_verbose) {
            log.logInfo("Found CRC from data source.");
            log.logHex("crc", *crc);
        }
        source()->rewind();
        return true;
    }
    // A wrong CRC here would make the entry read as a wrong password later.
    if (!help.crcOfMemory(bytes(), m_srcBytes.getSize(), crc, log)) {
        log.logError(memoryFailure);
        return false;
    }
    return true;
}

bool ZipPipeline::compressToDestPwd(std::uint32_t* crc, LogBase& log) {
    if (!m_dest) {
        log.logError("No dest output for compress PWD.");
        return false;
    }
    LogContext c(log, "CompressToDestPwd64");
    std::uint32_t plainCrc = 0;
    if (!sourceCrc(&plainCrc, "Failed to compute CRC for password-protected Zip (2)",
                   "Failed to compute CRC for password-protected Zip (1)", log))
        return false;
    checkCrc = plainCrc;
    const bool ok = compressToDest(crc, log);
    if (m_verbose && ok) {
        log.logDataInt64("outputByteCount", static_cast<std::int64_t>(m_outputBytes));
        log.logDataInt64("inputByteCount", static_cast<std::int64_t>(m_inputBytes));
        log.logInfo("compressToDestPwd64_success");
    }
    return ok;
}

bool ZipPipeline::compressToIntermediate(LogBase& log) {
    m_inputBytes = m_outputBytes = 0;
    const bool fromSource = !m_srcIsFile && m_srcBytes.getSize() == 0 && source();
    if (!m_srcIsFile && !fromSource && m_srcBytes.getSize() == 0) {
        if (m_verbose)
            log.logInfo("Source is in-memory and zero-length.");
        return true;
    }
    if (m_srcIsFile && m_srcFileEmpty) {
        if (m_verbose)
            log.logInfo("Source is an empty file.");
        DataBuffer none;
        deleteTempSource(log, nullptr);
        becomeMemory(none);
        return true;
    }
    PipelineHelp help;
    help.setMonitor(m_monitor);
    PipelineHelp::Deflated r;
    if (!m_srcIsFile && !fromSource && m_srcBytes.getSize() < kMemoryCompressLimit) {
        DataBuffer packed;
        if (!help.deflateMemoryToDb(bytes(), m_srcBytes.getSize(), m_level, true, packed, r, log))
            return false;
        becomeMemory(packed);
    } else if (m_srcIsFile && m_srcFileSize < kFileToMemoryLimit) {
        if (m_verbose) {
            log.logInfo("Source file is small enough to compress to memory.");
            log.logDataInt64("sourceFileSize", static_cast<std::int64_t>(m_srcFileSize));
        }
        TessikHandle handle;
        if (!openSourceFile(handle, "Failed to open file for reading (6a)", log))
            return false;
        DataBuffer packed;
        if (!help.deflateFileHandleToDb(&handle, m_level, true, packed, r, log))
            return false;
        handle.close();
        deleteTempSource(log, nullptr);
        becomeMemory(packed);
    } else {
        StringBuffer path;
        if (!newTempFile(path, log)) {
            log.logError("Failed to get temp file for compression");
            return false;
        }
        if (m_verbose) {
            if (m_srcIsFile)
                log.logInfo("Source file too large to compress to memory.");
            log.logData("tempFile", path.getString());
        }
        bool ok = false;
        {
            OutputFile out;
            if (!out.createInPlace(path.getString(), log)) {
                log.logError("Failed to open temp file (2)");
                log.logData("tempFilename", path.getString());
                deleteFileUtf8(path.getString(), &log);
                return false;
            }
            if (m_srcIsFile) {
                TessikHandle handle;
                if (openSourceFile(handle, "Failed to open file for reading (6)", log))
                    ok = help.deflateFileHandleToOutput(&handle, m_level, true, out, r, log);
            } else if (fromSource) {
                ok = help.deflateSourceToOutput(*source(), m_level, true, false, out, r, log);
            } else {
                ok = help.deflateMemoryToOutput(bytes(), m_srcBytes.getSize(), m_level, true, out, r, log);
            }
            ok = ok && out.commit(log);
        }
        if (!ok) {
            if (!deleteFileUtf8(path.getString(), &log))
                log.logError("Failed to delete zip temp file (B)");
            return false;
        }
        deleteTempSource(log, "Failed to delete zip temp file (A)");
        becomeFile(path, true);
        clearDataSources();
    }
    m_inputBytes = r.uncompressedSize;
    m_outputBytes = r.compressedSize;
    m_srcIsCompressed = true;
    return true;
}

bool ZipPipeline::encryptPasswordBased(LogBase& log) {
    const ZipPasswordCrypt* crypt = passwordCrypt(log);
    if (!crypt)
        return false;
    if (!m_srcIsFile && m_srcBytes.getSize() == 0 && source()) {
        DataBuffer all;
        OutputDataBuffer out(&all);
        if (!source()->copyToOutput(out, m_monitor, &log))
            return false;
        becomeMemory(all);
        clearDataSources();
    }
    if (!m_srcIsFile) {
        DataBuffer encrypted;
        if (!crypt->encryptBytesWithPassword(encryption, keyLengthBits, password.getString(), bytes(),
                                             m_srcBytes.getSize(), encrypted, log)) {
            log.logError("Failed to AES encrypt source data");
            return false;
        }
        becomeMemory(encrypted);
        return true;
    }
    StringBuffer path;
    if (!newTempFile(path, log)) {
        log.logError("Failed to get temp file for AES encryption");
        return false;
    }
    if (!crypt->encryptFileWithPasswordEntry(encryption, keyLengthBits, password.getString(), m_srcPath.getString(),
                                             path.getString(), nullptr, log)) {
        deleteFileUtf8(path.getString(), &log);
        log.logError("Failed to AES encrypt source file data");
        return false;
    }
    deleteTempSource(log, nullptr);
    becomeFile(path, true);
    return true;
}

bool ZipPipeline::winZipAesToDest(LogBase& log) {
    if (!m_dest) {
        log.logError("Internal error: missing output object!");
        return false;
    }
    const int mode = aesMode(keyLengthBits);
    DataBuffer pw;
    pw.append(password.getString(), static_cast<unsigned>(password.getSize()));
    std::uint64_t plain = 0;
    bool ok = false;
    if (m_srcIsFile) {
        ok = WinZipAesEncrypt5(m_srcPath.getString(), pw, mode, *m_dest, m_monitor, log, m_verbose, &plain);
    } else if (m_srcBytes.getSize() == 0 && source()) {
        ok = WinZipAesEncrypt4(*source(), pw, mode, *m_dest, log, m_verbose, &plain);
    } else {
        plain = m_srcBytes.getSize();
        ok = WinZipAesEncrypt3(bytes(), plain, pw, mode, *m_dest, m_monitor, log, m_verbose);
    }
    pw.secureClear();
    m_inputBytes = plain;
    m_outputBytes = plain + static_cast<std::uint64_t>(WinZipAes::overheadSize(mode));
    return ok;
}

bool ZipPipeline::streamToDest(std::uint32_t* crc, LogBase& log) {
    if (!m_dest) {
        log.logError("No dest output.");
        return false;
    }
    PipelineHelp help;
    help.setMonitor(m_monitor);
    std::uint64_t copied = 0;
    bool ok = false;
    if (m_srcIsFile) {
        TessikHandle handle;
        if (!openSourceFile(handle, "Failed to open file for reading (4)", log))
            return false;
        if (m_verbose)
            log.logInfo("streamToDest from file...");
        ok = help.copyFileHandleWithCrc(&handle, *m_dest, crc, &copied, log);
    } else if (m_srcBytes.getSize() == 0 && source()) {
        if (m_verbose)
            log.logInfo("streamToDest from data source...");
        DataSource& src = *source();
        const std::uint64_t before = src.getNumBytesRead64();
        src.setCrcWhileReading(true);
        ok = src.copyToOutput(*m_dest, m_monitor, &log);
        copied = src.getNumBytesRead64() - before;
        *crc = src.getCrc32();
        if (m_verbose)
            log.logDataInt64("dsByteCount", static_cast<std::int64_t>(copied));
    } else {
        if (m_verbose)
            log.logInfo("streamToDest from memory...");
        copied = m_srcBytes.getSize();
        ok = help.copyMemoryWithCrc(bytes(), copied, *m_dest, crc, log);
    }
    m_inputBytes = m_outputBytes = ok ? copied : 0;
    return ok;
}

bool ZipPipeline::copyProtectedToDest(std::uint32_t* crc, LogBase& log) {
    if (!m_dest) {
        log.logError("No dest output for copy PWD");
        return false;
    }
    std::uint32_t plainCrc = 0;
    if (!sourceCrc(&plainCrc, "Failed to compute CRC for password-protected Zip (4)",
                   "Failed to compute CRC for password-protected Zip (3)", log))
        return false;
    checkCrc = plainCrc;
    PipelineHelp help;
    help.copyFrom(*this);
    help.setMonitor(m_monitor);
    bool ok = false;
    if (m_srcIsFile) {
        TessikHandle handle;
        if (!openSourceFile(handle, "Failed to open file for reading (7)", log))
            return false;
        ok = help.zipCrcFileHandleToOutput(&handle, *m_dest, crc, &m_inputBytes, &m_outputBytes, log);
    } else if (m_srcBytes.getSize() == 0 && source()) {
        ok = help.zipCrcSourceToOutput(*source(), *m_dest, crc, &m_inputBytes, &m_outputBytes, log);
    } else {
        ok = help.zipCrcMemoryToOutput(bytes(), m_srcBytes.getSize(), *m_dest, crc, &m_inputBytes, &m_outputBytes, log);
    }
    return ok;
}

} // namespace tessik
