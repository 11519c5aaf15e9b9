#pragma once
// DES and triple DES (FIPS 46-3; EDE with two or three keys) in ECB, CBC and
// 64-bit CFB, with the framework's whole-buffer and chunk entry points. The
// key length chooses: below 112 bits single DES, below 168 two keys, else three.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

enum DesMode : unsigned int { kDesModeCbc = 0, kDesModeEcb = 1, kDesModeCfb = 2 };

constexpr unsigned int kDesSingleBits = 56;
constexpr unsigned int kDesTwoKeyBits = 112;
constexpr unsigned int kDesThreeKeyBits = 168;

class TessikDes {
public:
    static constexpr int kScheduleWords = 96;
    static constexpr int kSetWords = 32;

    TessikDes();
    virtual ~TessikDes();
    TessikDes(const TessikDes&) = delete;
    TessikDes& operator=(const TessikDes&) = delete;

    void setKey(const DataBuffer& key, unsigned int bits, LogBase& log);
    // A short IV is zero-extended; bytes past the eighth are ignored.
    void setIv(const DataBuffer& iv);
    void clearIv();
    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    void setCipherMode(unsigned int mode) { m_mode = mode; }
    unsigned int getKeyLength() const { return m_keyLength; }
    const unsigned char* getIv() const { return m_iv; }

    // Each returns a new buffer the caller owns; null when the input breaks
    // the block rule or its padding does not check.
    DataBuffer* encryptDbNew(DataBuffer& in, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& in, LogBase& log);

    DataBuffer* encryptFirstChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);

    // One 8-byte key into 32 subkey words (16 rounds, two words each).
    static void desSetKey(const unsigned char key[8], std::uint32_t subkeys[kSetWords]);
    static void cryptBlock(const std::uint32_t subkeys[kSetWords], const unsigned char in[8], unsigned char out[8]);
    static void crypt3Block(const std::uint32_t schedule[kScheduleWords], const unsigned char in[8],
                            unsigned char out[8]);

private:
    void setKeySingle(const unsigned char* k);
    void setKey2(const unsigned char* k);
    void setKey3(const unsigned char* k);
    bool triple() const { return m_keyLength != kDesSingleBits; }
    void block(bool encrypt, const unsigned char in[8], unsigned char out[8]) const;
    void ecbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;
    void ecbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;
    void cbcEncrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    void cbcDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    void cfbEncrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    void cfbDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    // Runs the mode over whole blocks; iv may be null only in ECB.
    void run(bool encrypt, unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log);
    DataBuffer* encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log);

    std::uint32_t m_encrypt[kScheduleWords];
    std::uint32_t m_decrypt[kScheduleWords];
    unsigned char m_iv[8];
    unsigned int m_keyLength;
    unsigned int m_mode;
    unsigned int m_paddingScheme;
};

} // namespace tessik
