#include "netlib/crypto/ChainedBlockCipher.h"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/SymmetricCipher.h"

namespace tessik {

namespace {

// Eight bytes at a time; blocks are whole multiples of eight bytes.
void xorBulk(unsigned char* dst, const unsigned char* a, const unsigned char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; i += sizeof(std::uint64_t)) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        x ^= y;
        std::memcpy(dst + i, &x, sizeof x);
    }
}

} // namespace

ChainedBlockCipher::ChainedBlockCipher(const Shape& shape)
    : m_iv{}, m_shape(shape), m_paddingScheme(kPadPkcs5), m_byteSwap(false), m_ownIvArea{}, m_chunkBytes(0) {
    assert(shape.block <= kMaxBlock && shape.padBlock % shape.block == 0);
}

ChainedBlockCipher::~ChainedBlockCipher() = default;

void ChainedBlockCipher::runBlocks(bool encrypt, const unsigned char* in, unsigned char* out,
                                   std::size_t blocks) const {
    for (std::size_t i = 0; i < blocks; ++i)
        runBlock(encrypt, in + m_shape.block * i, out + m_shape.block * i);
}

void ChainedBlockCipher::prepare(bool) {}

bool ChainedBlockCipher::runCbcWide(bool, unsigned char*, const unsigned char*, unsigned char*, std::size_t) const {
    return false;
}

const char* ChainedBlockCipher::notWholeBlocksText() const {
    return cipher_msg::kNotWholeBlocks;
}

void ChainedBlockCipher::storeIv(const void* iv, unsigned int n) {
    std::memset(m_iv, 0, sizeof m_iv);
    if (iv && n)
        std::memcpy(m_iv, iv, n < m_shape.block ? n : m_shape.block);
}

bool ChainedBlockCipher::chained() const {
    const Chaining c = chaining();
    return c == Chaining::kCbc || c == Chaining::kCfb;
}

// ---- The chains. Each leaves the last ciphertext block in iv.

void ChainedBlockCipher::encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                                      std::size_t blocks) const {
    auto block = [this](const unsigned char* from, unsigned char* to) { runBlock(true, from, to); };
    if (m_shape.block == kMaxBlock)
        encryptChained<kMaxBlock>(iv, in, out, blocks, block);
    else
        encryptChained<kMaxBlock / 2>(iv, in, out, blocks, block);
}

void ChainedBlockCipher::cbcDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out,
                                    std::size_t blocks) const {
    // The blocks decrypt side by side; each then takes the ciphertext before it.
    const unsigned int b = m_shape.block;
    runBlocks(false, in, out, blocks);
    xorBulk(out, out, iv, b);
    xorBulk(out + b, out + b, in, b * (blocks - 1));
    std::memcpy(iv, in + b * (blocks - 1), b);
}

void ChainedBlockCipher::cfbDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out,
                                    std::size_t blocks) const {
    // Every keystream block is the encryption of a known ciphertext block.
    const unsigned int b = m_shape.block;
    runBlock(true, iv, out);
    runBlocks(true, in, out + b, blocks - 1);
    xorBulk(out, out, in, b * blocks);
    std::memcpy(iv, in + b * (blocks - 1), b);
}

DataBuffer* ChainedBlockCipher::runNew(bool encrypt, const DataBuffer& in, unsigned char* iv, LogBase& log) const {
    if (in.getSize() % m_shape.block != 0) {
        log.logError(notWholeBlocksText());
        log.logDataLong("inputSizeInBytes", static_cast<int>(in.getSize()));
        return nullptr;
    }
    const Chaining c = chaining();
    if (c == Chaining::kNone) {
        log.logError(cipher_msg::kModeNotUsable);
        return nullptr;
    }
    if (!keyed()) {
        log.logError(cipher_msg::kNotKeyed);
        return nullptr;
    }
    DataBuffer* out = newCipherOutput(in.getSize());
    const std::size_t blocks = in.getSize() / m_shape.block;
    if (blocks == 0)
        return out;
    const unsigned char* from = in.getData();
    unsigned char* to = out->getData();
    if (c == Chaining::kEcb)
        runBlocks(encrypt, from, to, blocks);
    else if (c == Chaining::kCbc && runCbcWide(encrypt, iv, from, to, blocks))
        return out;
    else if (encrypt)
        encryptChain(iv, from, to, blocks);
    else if (c == Chaining::kCbc)
        cbcDecrypt(iv, from, to, blocks);
    else
        cfbDecrypt(iv, from, to, blocks);
    return out;
}

// The padding rounds the whole message up, of which `before` bytes went out
// in earlier chunks: with a padding block wider than the cipher block those
// need not be whole padding blocks.
DataBuffer* ChainedBlockCipher::encryptPadded(DataBuffer& in, unsigned char* iv, std::uint64_t before,
                                              LogBase& log) const {
    const unsigned int original = in.getSize();
    const unsigned int offset = static_cast<unsigned int>(before % m_shape.padBlock);
    if (offset == 0) {
        in.appendPadding(static_cast<int>(m_paddingScheme), static_cast<int>(m_shape.padBlock));
    } else {
        DataBuffer whole;
        whole.appendCharRepeated(0, offset);
        whole.appendDb(in);
        whole.appendPadding(static_cast<int>(m_paddingScheme), static_cast<int>(m_shape.padBlock));
        in.append(whole.getData() + offset + original, whole.getSize() - offset - original);
    }
    DataBuffer* out = runNew(true, in, iv, log);
    in.shorten(in.getSize() - original);
    return out;
}

bool ChainedBlockCipher::finishDecryption(DataBuffer& out, bool last, LogBase& log) const {
    if (m_byteSwap && m_shape.swap == SwapOrder::kBeforeUnpadding)
        out.byteSwap32();
    if (last && !out.removePadding(static_cast<int>(m_paddingScheme), static_cast<int>(m_shape.padBlock), log))
        return false;
    if (m_byteSwap && m_shape.swap == SwapOrder::kAfterUnpadding)
        out.byteSwap32();
    return true;
}

// ---- Whole buffers

DataBuffer* ChainedBlockCipher::encryptDbNew(DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0)
        return new DataBuffer();
    prepare(true);
    unsigned char chain[kMaxBlock];
    std::memcpy(chain, m_iv, sizeof chain);
    return encryptPadded(in, m_shape.wholeCallsChainOn ? m_iv : chain, 0, log);
}

DataBuffer* ChainedBlockCipher::decryptDbNew(const DataBuffer& in, LogBase& log) {
    if (in.getSize() == 0) {
        log.logInfo(cipher_msg::kInputEmpty);
        return new DataBuffer();
    }
    prepare(false);
    unsigned char chain[kMaxBlock];
    std::memcpy(chain, m_iv, sizeof chain);
    std::unique_ptr<DataBuffer> out(runNew(false, in, m_shape.wholeCallsChainOn ? m_iv : chain, log));
    if (!out || !finishDecryption(*out, true, log))
        return nullptr;
    return out.release();
}

// ---- Chunks

unsigned char* ChainedBlockCipher::carriedArea(DataBuffer& carriedIv, bool first) {
    if (!chained())
        return nullptr;
    if (carriedIv.getSize() < m_shape.block)
        carriedIv.appendCharRepeated(0, m_shape.block - carriedIv.getSize());
    if (first)
        std::memcpy(carriedIv.getData(), m_iv, m_shape.block);
    return carriedIv.getData();
}

unsigned char* ChainedBlockCipher::decryptionArea(unsigned char* ivArea, bool first) {
    unsigned char* area = ivArea ? ivArea : m_ownIvArea;
    if (first && chained())
        std::memcpy(area, m_iv, m_shape.block);
    return area;
}

DataBuffer* ChainedBlockCipher::encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log) {
    if (first) {
        prepare(true);
        m_chunkBytes = 0;
    }
    unsigned char* iv = carriedArea(carriedIv, first);
    if (in.getSize() == 0)
        return new DataBuffer();
    DataBuffer* out = runNew(true, in, iv, log);
    if (out)
        m_chunkBytes += in.getSize();
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
    DataBuffer* out = encryptPadded(in, carriedArea(carriedIv, false), m_chunkBytes, log);
    m_chunkBytes = 0;
    return out;
}

DataBuffer* ChainedBlockCipher::decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last,
                                             LogBase& log) {
    if (first)
        prepare(false);
    unsigned char* iv = decryptionArea(ivArea, first);
    if (in.getSize() == 0)
        return new DataBuffer();
    std::unique_ptr<DataBuffer> out(runNew(false, in, iv, log));
    if (!out || !finishDecryption(*out, last, log))
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
