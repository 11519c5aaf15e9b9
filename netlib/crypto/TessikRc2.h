#pragma once
// RC2 (RFC 2268): 8-byte blocks, a key of 1 to 128 bytes and a separate
// effective key length in bits, in ECB or CBC, with the framework's
// whole-buffer and chunk entry points (shaped as DES's).
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

constexpr unsigned int kRc2MaxKeyBytes = 128;
constexpr unsigned int kRc2MaxEffectiveBits = 1024;

class TessikRc2 {
public:
    static constexpr int kKeyWords = 64;

    TessikRc2();
    virtual ~TessikRc2();
    TessikRc2(const TessikRc2&) = delete;
    TessikRc2& operator=(const TessikRc2&) = delete;

    // A key holding fewer than keyBytes bytes is zero-extended.
    void setKey(const DataBuffer& key, unsigned int keyBytes, unsigned int effectiveBits);
    // The first 8 bytes become the IV; a shorter buffer leaves it unchanged.
    void setIv(const DataBuffer& iv);
    void setEcb(bool ecb) { m_ecb = ecb; }
    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    unsigned int getKeyLength() const { return m_keyLength; }
    unsigned int getEffectiveBits() const { return m_effectiveBits; }
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

    void expandKey(const unsigned char* key, unsigned int n, unsigned int bits);
    void encryptBlock(const unsigned char in[8], unsigned char out[8]) const;
    void decryptBlock(const unsigned char in[8], unsigned char out[8]) const;
    void ecbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;
    void cbcEncrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    void ecbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;
    void cbcDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;

private:
    void run(bool encrypt, unsigned char* iv, const unsigned char* in, unsigned char* out, unsigned int n) const;
    DataBuffer* encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log);
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log);

    std::uint16_t m_key[kKeyWords];
    unsigned char m_iv[8];
    unsigned int m_keyLength;
    unsigned int m_effectiveBits;
    bool m_ecb;
    unsigned int m_paddingScheme;
};

} // namespace tessik
