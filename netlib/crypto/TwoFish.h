#pragma once
// Twofish: 128-bit blocks, keys of 128, 192 or 256 bits, 16 rounds, the
// key-dependent S-boxes expanded fully at key time. ECB or CBC with the
// framework's whole-buffer and chunk entry points. The default IV is 16 zero
// bytes.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

constexpr int kTwofishBlockSize = 16;

// The expanded key.
struct TwofishKey {
    int keyBits;
    int rounds;
    std::uint32_t keyWords[8];
    std::uint32_t sboxKeys[4];
    std::uint32_t subkeys[40]; // 4 input whitening, 4 output whitening, 32 round
    std::uint32_t sbox[4][256];
};

enum TwofishMode : int { kTwofishModeEcb = 1, kTwofishModeCbc = 2 };

// The cipher core. The block routines transform ceil(bits / 128) blocks and
// give back bits; in CBC the IV words are read and advanced.
void twofishInitKey(TwofishKey& key, int keyBits);
bool twofishRekey(TwofishKey& key);
std::uint32_t twofishRsEncode(std::uint32_t k0, std::uint32_t k1);
void twofishBuildMdsTables();
int twofishEncryptBlocks(const TwofishKey& key, int mode, std::uint32_t iv[4], const unsigned char* in, int bits,
                         unsigned char* out);
int twofishDecryptBlocks(const TwofishKey& key, int mode, std::uint32_t iv[4], const unsigned char* in, int bits,
                         unsigned char* out);

class TwoFish {
public:
    TwoFish();
    virtual ~TwoFish();
    TwoFish(const TwoFish&) = delete;
    TwoFish& operator=(const TwoFish&) = delete;

    void setKeyLength(int bits);
    int getKeyLength() const { return m_keyLength; }
    void setKey(const DataBuffer& key);
    void setKeyFromPassword(const char* password);
    // 16 bytes; null changes nothing.
    void setIv(const unsigned char* iv);
    void setModeEcb() { m_mode = kTwofishModeEcb; }
    bool setModeCbc() {
        m_mode = kTwofishModeCbc;
        return true;
    }
    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    void setByteSwapOnDecrypt(bool swap) { m_byteSwap = swap; }
    void prepareKey();

    // Each returns a new buffer the caller owns; null when a decryption's
    // input is not whole blocks or its padding does not check.
    DataBuffer* encryptDbNew(DataBuffer& in, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& in, LogBase& log);
    DataBuffer* encryptFirstChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);

private:
    DataBuffer* encrypt(const DataBuffer& in, std::uint32_t iv[4], LogBase& log) const;
    DataBuffer* decrypt(const DataBuffer& in, std::uint32_t iv[4], bool last, LogBase& log) const;
    DataBuffer* encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log);
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log);
    void startIv(std::uint32_t iv[4]) const;

    TwofishKey m_ctx;
    DataBuffer m_key;
    int m_keyLength;
    unsigned int m_paddingScheme;
    bool m_byteSwap;
    int m_mode;
    std::uint32_t m_iv[4];
};

} // namespace tessik
