#pragma once
// WinZip AES entry data: salt, a 2-byte password verifier, the data under AES
// in the zip counter mode, and 10 bytes of HMAC-SHA1 over the encrypted data.
// Keys come from the password by PBKDF2-HMAC-SHA1, 1000 iterations.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"

namespace tessik {

// AES and SHA-1 live in the crypto layer, which lends them through
// installWinZipAesServices; until then every operation fails saying so.
class ZipAesCipher {
public:
    virtual ~ZipAesCipher();
    // Keys the counter-mode schedule with 16, 24 or 32 bytes.
    virtual void setKey(const unsigned char* key, unsigned int n) = 0;
    // The counter is little-endian in its first 8 bytes and is advanced
    // whenever the position reaches 16.
    virtual void ctrXor(unsigned char* data, unsigned int n, unsigned char counter[16], unsigned char keystream[16],
                        unsigned int* position) = 0;
};

class ZipSha1 {
public:
    virtual ~ZipSha1();
    virtual void initialize() = 0;
    virtual void update(const void* data, std::uint32_t n) = 0;
    virtual void final(unsigned char digest[20]) = 0;
    virtual void copyState(const ZipSha1& other) = 0;
};

struct WinZipAesServices {
    ZipAesCipher* (*newCipher)();
    ZipSha1* (*newSha1)();
};
void installWinZipAesServices(const WinZipAesServices* services);

namespace wzaes_msg {
constexpr const char* kNotInstalled = "AES and SHA-1 are not installed in this build.";
constexpr const char* kTooShort = "Not enough data for a WinZip AES entry (2)";
constexpr const char* kBadPassword = "Invalid password for WinZip AES decryption";
constexpr const char* kBadPasswordStream = "Invalid password for WinZip AES decryption;";
constexpr const char* kAuthMemory = "WinZip AES authentication code mismatch-2";
constexpr const char* kAuthStream = "WinZip AES authentication code mismatch-1";
constexpr const char* kDecryptInit = "WinZip AES decrypt initialization failed";
constexpr const char* kEncryptInit = "WinZip AES encrypt initialization failed";
} // namespace wzaes_msg

// HMAC-SHA1 (RFC 2104) over an SHA-1 from the services.
struct HmacSha1 {
    static constexpr int kBlock = 64;
    static constexpr int kDigest = 20;
    unsigned char keyBlock[kBlock] = {};
    std::unique_ptr<ZipSha1> sha1;
    int keyLength = 0; // -1 once the inner pad is hashed

    bool begin(); // false when SHA-1 is not installed
    void key(const unsigned char* bytes, unsigned int n);
    void data(const unsigned char* bytes, unsigned int n);
    void end(unsigned char* mac, unsigned int n);
    void copyFrom(const HmacSha1& other);
};

struct WzCryptContext {
    unsigned char counter[16] = {};
    unsigned char keystream[16] = {};
    unsigned int position = 16;
    HmacSha1 hmac;
    unsigned int passwordLength = 0;
    int mode = 0;
};

// PBKDF2-HMAC-SHA1 into key[0..keyLength).
bool ZipAes_derive_key(const unsigned char* password, unsigned int passwordLength, const unsigned char* salt,
                       unsigned int saltLength, unsigned int iterations, unsigned char* key, unsigned int keyLength,
                       LogBase& log, bool verbose);

class WinZipAes {
public:
    static constexpr int kVerifierSize = 2;
    static constexpr int kMacSize = 10;
    static constexpr unsigned int kIterations = 1000;
    static constexpr unsigned int kMaxPassword = 128;
    static constexpr std::uint32_t kPiece = 8096;

    WinZipAes();
    virtual ~WinZipAes();

    // 128, 192 and 256 are taken as modes 1, 2 and 3.
    static int normalizeMode(int mode);
    static int saltSize(int mode);
    static int overheadSize(int mode);

    bool wzCryptInit(int mode, const unsigned char* password, unsigned int passwordLength, const unsigned char* salt,
                     unsigned char verifier[2], WzCryptContext& ctx, LogBase& log, bool verbose);
    void decryptChunk(unsigned char* bytes, unsigned int n, WzCryptContext& ctx);
    void encryptChunk(unsigned char* bytes, unsigned int n, WzCryptContext& ctx);

    bool decryptDb(const DataBuffer& in, const DataBuffer& password, int mode, DataBuffer& out, LogBase& log,
                   bool verbose, bool* badPassword, bool* authFailed);
    bool decryptMemory(const unsigned char* data, std::uint32_t size, const DataBuffer& password, int mode,
                       DataBuffer& out, LogBase& log, bool verbose, bool* badPassword, bool* authFailed);
    bool decryptStream(DataSource& source, const DataBuffer& password, int mode, Output& out, LogBase& log,
                       bool verbose, bool* badPassword, bool* authFailed);

private:
    std::unique_ptr<ZipAesCipher> m_aes;
};

bool WinZipAesEncrypt4(DataSource& source, const DataBuffer& password, int mode, Output& out, LogBase& log,
                       bool verbose, std::uint64_t* plainBytes);
bool WinZipAesEncrypt3(const unsigned char* data, std::uint64_t size, const DataBuffer& password, int mode, Output& out,
                       ProgressMonitor* monitor, LogBase& log, bool verbose);
bool WinZipAesEncrypt5(const char* utf8Path, const DataBuffer& password, int mode, Output& out,
                       ProgressMonitor* monitor, LogBase& log, bool verbose, std::uint64_t* plainBytes);

} // namespace tessik
