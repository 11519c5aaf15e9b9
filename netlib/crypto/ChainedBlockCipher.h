#pragma once
// The whole-buffer and chunk entry points of the 8-byte block ciphers that
// chain through the caller's IV area (DES and RC2): padding, the whole-block
// rule, the object's IV and the carried one. A cipher supplies its modes.
#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

class ChainedBlockCipher {
public:
    static constexpr unsigned int kBlock = 8;

    ChainedBlockCipher();
    virtual ~ChainedBlockCipher();
    ChainedBlockCipher(const ChainedBlockCipher&) = delete;
    ChainedBlockCipher& operator=(const ChainedBlockCipher&) = delete;

    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
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

protected:
    // Runs the mode over whole blocks; iv may be null only when unchained.
    virtual void run(bool encrypt, unsigned char* iv, const unsigned char* in, unsigned char* out,
                     unsigned int n) const = 0;
    // False in ECB.
    virtual bool chained() const = 0;

    unsigned char m_iv[kBlock];
    unsigned int m_paddingScheme;

private:
    DataBuffer* encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log);
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log);
};

} // namespace tessik
