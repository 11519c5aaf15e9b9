#pragma once
// Carries one zip entry's data from its source form to its destination form
// in one run: removes the source's encryption (WinZip AES, the password-based
// encryptor, traditional protection), converts between compressed (raw
// deflate) and plain data, applies the destination's encryption and writes
// to an Output. Large intermediate results go through temporary files.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/streams/DataProcessor.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"

namespace tessik {

// The password-based encryptors live in the crypto layer, which lends them
// through installZipPasswordCrypt; until then each use fails saying so.
struct ZipPasswordCrypt {
    bool (*encryptBytesWithPassword)(int selector, int keyBits, const char* password, const void* data,
                                     std::uint32_t size, DataBuffer& out, LogBase& log);
    bool (*decryptBytesWithPassword)(int selector, int keyBits, const char* password, const void* data,
                                     std::uint32_t size, DataBuffer& out, LogBase& log);
    bool (*encryptFileWithPasswordEntry)(int selector, int keyBits, const char* password, const char* srcPath,
                                         const char* destPath, ProgressMonitor* monitor, LogBase& log);
    bool (*decryptFileWithPasswordEntry)(int selector, int keyBits, const char* password, const char* srcPath,
                                         const char* destPath, ProgressMonitor* monitor, LogBase& log);
};
void installZipPasswordCrypt(const ZipPasswordCrypt* crypt);

namespace zippipe_msg {
constexpr const char* kNoPasswordCrypt = "Password-based encryption is not installed in this build.";
constexpr const char* kAesFailed = "AES decryption failed.";
constexpr const char* kPwdDecodeFailed = "Password decode failed (Zip 2.0 legacy encryption).";
constexpr const char* kPwdIncorrect = "Password incorrect for password-protected Zip";
constexpr const char* kInvalidPassword = "Invalid password";
constexpr const char* kInvalidAuth = "Invalid auth code";
} // namespace zippipe_msg

class ZipPipeline : public ZipCryptParams {
public:
    static constexpr int kDefaultLevel = 6;
    static constexpr std::uint64_t kMemoryCompressLimit = 0x8000000;
    static constexpr std::uint64_t kFileToMemoryLimit = 6000000;
    static constexpr int kAlgorithmWinZipAes = 4;

    ZipPipeline();
    ~ZipPipeline() override;
    ZipPipeline(const ZipPipeline&) = delete;
    ZipPipeline& operator=(const ZipPipeline&) = delete;

    void setDeflateLevel(int level) { m_level = level; }
    void setSourceEncrypted(bool on) { m_srcAes = on; }
    void setSourceCompressed(bool on) { m_srcIsCompressed = on; }
    void setDestCompressed(bool on) { m_destIsCompressed = on; }
    // Lent; an owned source goes.
    void setSourceDataSource(DataSource* source);
    void setOutput(Output* out) { m_dest = out; }
    void setSourceBytes(const void* data, std::uint64_t size);
    void setSourceDb(const DataBuffer& bytes);
    void setSourceFile(const char* utf8Path);
    // 4 = WinZip AES (192 and 256 bits choose AES-192 and AES-256), other
    // values select the password-based decryptor.
    void setSourceEncryption(int algorithm, int keyBits, const char* password);
    // Traditional protection of the source and what its header is checked
    // against.
    void setSourcePasswordProtected(bool on, const char* password, std::uint32_t crc, std::uint32_t dosTime,
                                    bool dataDescriptor);
    void setActualCompressionMethod(int method) { m_actualMethod = method; }
    void setMonitor(ProgressMonitor* monitor) { m_monitor = monitor; }
    void setTempDir(const char* utf8Dir);
    void clearDataSources();
    bool hasDataSource() const { return m_lentSource || m_ownedSource; }

    std::uint64_t getInputByteCount() const { return m_inputBytes; }
    std::uint64_t getOutputByteCount() const { return m_outputBytes; }
    std::uint32_t getBytesLeftOver() const { return m_bytesLeftOver; }

    // crc receives the CRC-32 of the plain data when compressing or
    // inflating, of the bytes copied for a plain copy, 0 for WinZip AES.
    bool run(std::uint32_t* crc, LogBase& log, int calledFrom, bool verbose);

private:
    DataSource* source() const { return m_lentSource ? m_lentSource : m_ownedSource.get(); }
    const unsigned char* bytes() const;
    bool deleteTempSource(LogBase& log, const char* failure);
    void becomeFile(const StringBuffer& path, bool temporary);
    void becomeMemory(DataBuffer& bytes);
    bool newTempFile(StringBuffer& path, LogBase& log);
    bool openSourceFile(TessikHandle& handle, const char* failure, LogBase& log);

    bool removeSourceEncryption(LogBase& log);
    bool decryptWinZipAes(LogBase& log);
    bool decryptPasswordBased(LogBase& log);
    bool removePasswordProtection(LogBase& log);
    bool decodeProtected(LogBase& log);
    bool inflateToTemp(const char* context, LogBase& log);

    bool u_to_c(std::uint32_t* crc, LogBase& log);
    bool c_to_u(std::uint32_t* crc, LogBase& log);
    bool u_to_u(std::uint32_t* crc, LogBase& log);
    bool c_to_c(std::uint32_t* crc, LogBase& log);

    bool compressToDest(std::uint32_t* crc, LogBase& log);
    bool compressToDestPwd(std::uint32_t* crc, LogBase& log);
    bool sourceCrc(std::uint32_t* crc, const char* memoryFailure, const char* fileFailure, LogBase& log);
    bool compressToIntermediate(LogBase& log);
    bool encryptPasswordBased(LogBase& log);
    bool winZipAesToDest(LogBase& log);
    bool streamToDest(std::uint32_t* crc, LogBase& log);
    bool copyProtectedToDest(std::uint32_t* crc, LogBase& log);

    bool m_verbose;
    bool m_srcIsFile;
    bool m_srcFileEmpty;
    bool m_srcPwdProt;
    int m_srcAesAlgorithm;
    int m_srcKeyBits;
    StringBuffer m_srcPassword;
    bool m_srcIsCompressed;
    bool m_destIsCompressed;
    bool m_srcAes;
    bool m_srcIsTemp;
    StringBuffer m_srcPath;
    std::uint64_t m_srcFileSize;
    int m_actualMethod;
    Output* m_dest;
    DataSource* m_lentSource;
    std::unique_ptr<DataSource> m_ownedSource;
    DataBuffer m_srcBytes;
    std::uint32_t m_checkCrc;
    std::uint32_t m_checkTime;
    bool m_checkDescriptor;
    int m_level;
    std::uint64_t m_inputBytes;
    std::uint64_t m_outputBytes;
    std::uint32_t m_bytesLeftOver;
    ProgressMonitor* m_monitor;
    StringBuffer m_tempDir;
};

} // namespace tessik
