#include "netlib/crypto/ChainedBlockCipher.h"

#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/SymmetricCipher.h"

namespace tessik {

ChainedBlockCipher::ChainedBlockCipher() : m_iv{}, m_paddingScheme(kPadPkcs5) {}

ChainedBlockCipher::~ChainedBlockCipher() = default;

DataBuffer* ChainedBlockCipher::encryptDbNew(DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    const unsigned int original = in.getSize();
    in.appendPadding(static_cast<int>(m_paddingScheme), kBlock);
    const unsigned int padded = in.getSize();
    DataBuffer* out = nullptr;
    if (padded % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
    } else {
        out = newCipherOutput(padded);
        run(true, m_iv, in.getData(), out->getData(), padded);
    }
    in.shorten(padded - original);
    return out;
}

DataBuffer* ChainedBlockCipher::decryptDbNew(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    run(false, m_iv, in.getData(), out->getData(), in.getSize());
    if (!out->removePadding(static_cast<int>(m_paddingScheme), kBlock, log))
        return nullptr;
    return out.release();
}

DataBuffer* ChainedBlockCipher::encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    if (carriedIv.getSize() < kBlock)
        carriedIv.appendCharRepeated(0, kBlock - carriedIv.getSize());
    if (first)
        std::memcpy(carriedIv.getData(), m_iv, kBlock);
    DataBuffer* out = newCipherOutput(in.getSize());
    run(true, carriedIv.getData(), in.getData(), out->getData(), in.getSize());
    return out;
}

DataBuffer* ChainedBlockCipher::encryptFirstChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    return encryptChunk(in, carriedIv, true, log);
}

DataBuffer* ChainedBlockCipher::encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    return encryptChunk(in, carriedIv, false, log);
}

DataBuffer* ChainedBlockCipher::encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log) {
    // An empty last chunk still gets its padding block, so that chunked and
    // whole-buffer encryption agree.
    const unsigned int original = in.getSize();
    in.appendPadding(static_cast<int>(m_paddingScheme), kBlock);
    DataBuffer* out = encryptChunk(in, carriedIv, false, log);
    in.shorten(in.getSize() - original);
    return out;
}

DataBuffer* ChainedBlockCipher::decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last,
                                             LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    if (in.getSize() % kBlock != 0) {
        log.logError(cipher_msg::kNotWholeBlocks);
        return nullptr;
    }
    if (chained() && !ivArea)
        return new DataBuffer();
    if (first && chained())
        std::memcpy(ivArea, m_iv, kBlock);
    std::unique_ptr<DataBuffer> out(newCipherOutput(in.getSize()));
    run(false, ivArea, in.getData(), out->getData(), in.getSize());
    if (last && !out->removePadding(static_cast<int>(m_paddingScheme), kBlock, log))
        return nullptr;
    return out.release();
}

DataBuffer* ChainedBlockCipher::decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, true, false, log);
}

DataBuffer* ChainedBlockCipher::decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, false, false, log);
}

DataBuffer* ChainedBlockCipher::decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log) {
    return decryptChunk(in, ivArea, false, true, log);
}

} // namespace tessik
