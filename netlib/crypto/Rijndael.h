#pragma once
// AES (FIPS 197) in ECB, CBC and little-endian counter mode, with the
// framework's whole-buffer and chunk entry points; AesCrypt and
// symmetricDecryptBytes are the two password-keyed users beside it.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class LogBase;

enum AesMode : unsigned int { kAesModeEcb = 0, kAesModeCbc = 1, kAesModeCtr = 3 };
enum AesDirection : unsigned int { kAesEncrypt = 0, kAesDecrypt = 1 };

// Results of the block functions other than a processed bit count.
constexpr int kAesErrBadMode = -1;
constexpr int kAesErrNotKeyed = -5;
constexpr int kAesErrWrongDirection = -6;

constexpr int kAesMaxRounds = 14;

// AES instructions are used where the processor has them unless switched off
// (the table code is the fallback and stays testable).
bool aesHardwarePresent();
void setAesHardwareAllowed(bool allowed);
bool aesHardwareInUse();

class RijndaelContext {
public:
    RijndaelContext();
    ~RijndaelContext();
    RijndaelContext(const RijndaelContext&) = delete;
    RijndaelContext& operator=(const RijndaelContext&) = delete;

    // Returns the effective length: 128, 192 or 256.
    int setKeyLength(int bits);
    void setKey(const DataBuffer& key);
    void setKeyBytes(const void* key, unsigned int n);
    void setKeyFromPassword(const char* password);
    void getKey(DataBuffer& out) const;
    void setIv(const unsigned char* iv16);
    // A short IV is zero-extended, a long one cut to the block.
    void setIvBytes(const void* iv, unsigned int n);
    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    void setByteSwapOnDecrypt(bool on) { m_byteSwapOnDecrypt = on; }
    void setModeEcb() { m_mode = kAesModeEcb; }
    void setModeCbc() { m_mode = kAesModeCbc; }
    void setModeCtr() { m_mode = kAesModeCtr; }
    unsigned int getMode() const { return m_mode; }

    void makeKey(unsigned int mode, unsigned int direction);
    void makeKeyCtr();

    int blockEncrypt(const unsigned char* in, int bits, unsigned char* out);
    int blockDecrypt(const unsigned char* in, int bits, unsigned char* out);
    int blockEncryptIv(const unsigned char* in, int bits, unsigned char* out, DataBuffer& carriedIv, bool keepIv);
    int blockDecryptIv(const unsigned char* in, int bits, unsigned char* out, unsigned char* ivArea, bool keepIv);

    // Counter mode: the counter is a little-endian number in the first 8
    // bytes; the first keystream block is the encryption of counter 1 when
    // the caller starts from zero with position 16.
    void ctrXor(unsigned char* data, unsigned int n, unsigned char counter[16], unsigned char keystream[16],
                unsigned int* position);

    // Each returns a new buffer the caller owns; null when the input breaks
    // the block rule or its padding does not check.
    DataBuffer* encryptDbNew(DataBuffer& in, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& in, LogBase& log);
    // On success out's contents are replaced; on failure out is unchanged.
    bool decryptDb(const DataBuffer& in, DataBuffer& out, LogBase& log);

    DataBuffer* encryptFirstChunk(const DataBuffer& in, LogBase& log);
    DataBuffer* encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);

private:
    int runEncrypt(const unsigned char* in, int bits, unsigned char* out, unsigned char* iv);
    int runDecrypt(const unsigned char* in, int bits, unsigned char* out, unsigned char* iv);
    void encryptBlock(const unsigned char in[16], unsigned char out[16]) const;
    void decryptBlock(const unsigned char in[16], unsigned char out[16]) const;
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool keepIv, bool last, LogBase& log);

    unsigned int m_paddingScheme;
    bool m_byteSwapOnDecrypt;
    DataBuffer m_key;
    unsigned int m_keySizeCode;
    bool m_notKeyed;
    unsigned int m_mode;
    unsigned int m_direction;
    unsigned char m_iv[16];
    int m_rounds;
    // Round keys as big-endian words for the table code, and the same keys as
    // bytes for the AES instructions.
    std::uint32_t m_roundKeys[4 * (kAesMaxRounds + 1)];
    alignas(16) unsigned char m_roundKeyBytes[16 * (kAesMaxRounds + 1)];
};

// Decrypts content protected by a password: AES-CBC, key from the password.
class AesCrypt {
public:
    AesCrypt();
    virtual ~AesCrypt();
    void setPassword(const char* password);
    // On success out's contents are replaced; on failure out is unchanged.
    bool decryptDb(const DataBuffer& in, DataBuffer& out);

private:
    StringBuffer m_password;
    DataBuffer m_key;
    DataBuffer m_iv;
    unsigned int m_keyLength;
    unsigned int m_paddingScheme;
    bool m_ecb;
};

// Stored private keys: AES-CBC under a password key, zero IV, two layers of
// scheme-0 padding.
bool symmetricDecryptBytes(int bits, const char* password, const void* data, unsigned int n, DataBuffer& out,
                           LogBase& log);

} // namespace tessik
