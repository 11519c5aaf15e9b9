#pragma once
// What every block cipher of the library shares: the whole-buffer and chunk
// entry points with their padding, the whole-block rule, the object's IV and
// the carried one, and the ECB, CBC and 64-bit CFB chains. A cipher gives its
// block functions, its keying and its mode; the chains live only here.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

class ChainedBlockCipher {
public:
    static constexpr unsigned int kMaxBlock = 16;

    virtual ~ChainedBlockCipher();
    ChainedBlockCipher(const ChainedBlockCipher&) = delete;
    ChainedBlockCipher& operator=(const ChainedBlockCipher&) = delete;

    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    unsigned int getPaddingScheme() const { return m_paddingScheme; }
    // Reverses every 4-byte group of decrypted data (before or after the
    // padding comes off, as the cipher's stored data expects).
    void setByteSwapOnDecrypt(bool on) { m_byteSwap = on; }
    unsigned int blockSize() const { return m_shape.block; }
    // What the padding rounds up to: the block, or 16 bytes for the older
    // Blowfish.
    unsigned int paddingBlockSize() const { return m_shape.padBlock; }
    const unsigned char* getIv() const { return m_iv; }

    // Each returns a new buffer the caller owns; null when the input breaks
    // the block rule, its padding does not check or the cipher cannot run.
    // Encryption pads the input in place for the call and gives it back as
    // it came.
    DataBuffer* encryptDbNew(DataBuffer& in, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& in, LogBase& log);
    // The carried IV holds the chaining value between chunks (the last
    // ciphertext block); ECB leaves it alone. A null IV area chains through
    // an area of the object's own.
    DataBuffer* encryptFirstChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);

protected:
    enum class Chaining { kEcb, kCbc, kCfb, kNone };
    enum class SwapOrder { kBeforeUnpadding, kAfterUnpadding };
    struct Shape {
        unsigned int block;     // bytes
        unsigned int padBlock;  // what the padding rounds up to
        bool wholeCallsChainOn; // a whole-buffer call starts where the last one ended
        SwapOrder swap;
    };

    explicit ChainedBlockCipher(const Shape& shape);

    virtual Chaining chaining() const = 0;
    // The cipher's block function, one block either way.
    virtual void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const = 0;
    // Consecutive blocks, one after another; a cipher with a wide routine
    // runs them side by side. In and out never overlap.
    virtual void runBlocks(bool encrypt, const unsigned char* in, unsigned char* out, std::size_t blocks) const;
    // Keys the object for a run: every whole-buffer call and first chunk.
    virtual void prepare(bool encrypt);
    // False while there is no key schedule to run with.
    virtual bool keyed() const { return true; }
    // CBC and CFB encryption, where each block waits on the one before. A
    // cipher answers with encryptChained, handing in its block function so
    // that the loop is compiled around it; by default the loop calls
    // runBlock.
    virtual void encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const;
    template <unsigned int Block, class EncryptBlock>
    void encryptChained(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks,
                        EncryptBlock encryptBlock) const;
    // A wide CBC routine over a run of blocks that leaves the last
    // ciphertext block in iv; false where the shared chain is to run.
    virtual bool runCbcWide(bool encrypt, unsigned char* iv, const unsigned char* in, unsigned char* out,
                            std::size_t blocks) const;
    virtual const char* notWholeBlocksText() const;

    // The object's IV from n bytes: a short one zero-extended, a long one cut.
    void storeIv(const void* iv, unsigned int n);

    unsigned char m_iv[kMaxBlock];

private:
    bool chained() const;
    DataBuffer* runNew(bool encrypt, const DataBuffer& in, unsigned char* iv, LogBase& log) const;
    DataBuffer* encryptPadded(DataBuffer& in, unsigned char* iv, std::uint64_t before, LogBase& log) const;
    bool finishDecryption(DataBuffer& out, bool last, LogBase& log) const;
    void cbcDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const;
    void cfbDecrypt(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const;
    unsigned char* carriedArea(DataBuffer& carriedIv, bool first);
    unsigned char* decryptionArea(unsigned char* ivArea, bool first);
    DataBuffer* encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log);
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log);

    Shape m_shape;
    unsigned int m_paddingScheme;
    bool m_byteSwap;
    unsigned char m_ownIvArea[kMaxBlock];
    std::uint64_t m_chunkBytes; // encrypted so far in the current chunked run
};

// The chain value stays in a local block the block function works on in
// place, so that nothing between one block and the next goes through memory.
template <unsigned int Block, class EncryptBlock>
void ChainedBlockCipher::encryptChained(unsigned char* iv, const unsigned char* in, unsigned char* out,
                                        std::size_t blocks, EncryptBlock encryptBlock) const {
    const bool feedback = chaining() == Chaining::kCfb;
    unsigned char chain[Block];
    std::memcpy(chain, iv, Block);
    for (std::size_t i = 0; i < blocks; ++i, in += Block, out += Block) {
        if (feedback)
            encryptBlock(chain, chain);
        // In 32-bit words, the width the block functions load.
        for (unsigned int k = 0; k < Block; k += sizeof(std::uint32_t)) {
            std::uint32_t c, m;
            std::memcpy(&c, chain + k, sizeof c);
            std::memcpy(&m, in + k, sizeof m);
            c ^= m;
            std::memcpy(chain + k, &c, sizeof c);
        }
        if (!feedback)
            encryptBlock(chain, chain);
        std::memcpy(out, chain, Block);
    }
    std::memcpy(iv, chain, Block);
}

} // namespace tessik
