#pragma once
// AES (FIPS 197) in ECB, CBC and little-endian counter mode; the whole-buffer
// and chunk entry points are the shared chain's. AesCrypt and
// symmetricDecryptBytes are the two password-keyed users beside it.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/ChainedBlockCipher.h"

namespace tessik {

class LogBase;

enum AesMode : unsigned int { kAesModeEcb = 0, kAesModeCbc = 1, kAesModeCtr = 3 };
enum AesDirection : unsigned int { kAesEncrypt = 0, kAesDecrypt = 1 };

constexpr int kAesMaxRounds = 14;

// AES instructions are used where the processor has them unless switched off
// (the table code is the fallback and stays testable).
bool aesHardwarePresent();
void setAesHardwareAllowed(bool allowed);
bool aesHardwareInUse();

class RijndaelContext : public ChainedBlockCipher {
public:
    RijndaelContext();
    ~RijndaelContext() override;

    // Returns the effective length: 128, 192 or 256.
    int setKeyLength(int bits);
    void setKey(const DataBuffer& key);
    void setKeyBytes(const void* key, unsigned int n);
    void setKeyFromPassword(const char* password);
    void getKey(DataBuffer& out) const;
    void setIv(const unsigned char* iv16);
    // A short IV is zero-extended, a long one cut to the block.
    void setIvBytes(const void* iv, unsigned int n) { storeIv(iv, n); }
    void setModeEcb() { m_mode = kAesModeEcb; }
    void setModeCbc() { m_mode = kAesModeCbc; }
    void setModeCtr() { m_mode = kAesModeCtr; }
    unsigned int getMode() const { return m_mode; }

    // Builds the key schedules of both directions from the key bytes and
    // length; an unknown mode or direction leaves the context unkeyed.
    void makeKey(unsigned int mode, unsigned int direction);
    void makeKeyCtr();

    // Counter mode: the counter is a little-endian number in the first 8
    // bytes; the first keystream block is the encryption of counter 1 when
    // the caller starts from zero with position 16.
    void ctrXor(unsigned char* data, unsigned int n, unsigned char counter[16], unsigned char keystream[16],
                unsigned int* position);

    // On success out's contents are replaced; on failure out is unchanged.
    bool decryptDb(const DataBuffer& in, DataBuffer& out, LogBase& log);

private:
    // Round keys as big-endian words for the table code, and the same keys as
    // bytes for the AES instructions.
    struct Schedule {
        std::uint32_t words[4 * (kAesMaxRounds + 1)];
        alignas(16) unsigned char bytes[16 * (kAesMaxRounds + 1)];
    };

    Chaining chaining() const override;
    void prepare(bool encrypt) override;
    bool keyed() const override { return !m_notKeyed; }
    void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const override;
    void encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                      std::size_t blocks) const override;
    void runBlocks(bool encrypt, const unsigned char* in, unsigned char* out, std::size_t blocks) const override;
    bool runCbcWide(bool encrypt, unsigned char* iv, const unsigned char* in, unsigned char* out,
                    std::size_t blocks) const override;
    void encryptBlock(const unsigned char in[16], unsigned char out[16]) const;
    void decryptBlock(const unsigned char in[16], unsigned char out[16]) const;

    DataBuffer m_key;
    unsigned int m_keySizeCode;
    bool m_notKeyed;
    unsigned int m_mode;
    int m_rounds;
    Schedule m_encryptKeys;
    Schedule m_decryptKeys;
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
