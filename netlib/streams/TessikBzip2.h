#pragma once
// Whole-buffer bzip2 compression and decompression, and the self-describing
// blob form (magic, uncompressed length, bzip2 stream) kept in DataBuffers.

namespace tessik {

class DataBuffer;

class TessikBzip2 {
public:
    TessikBzip2() = default;
    virtual ~TessikBzip2();

    // Compresses srcLen bytes at blockSize (1..9, blocks of 100,000 x n bytes)
    // into dest, whose room *destLen gives; on success *destLen becomes the
    // bytes written. A destination too small is a failure.
    bool compressBuffer(unsigned char* dest, unsigned int* destLen, const unsigned char* src, unsigned int srcLen,
                        int blockSize);

    // Decodes one bzip2 stream into dest, never writing past *destLen bytes;
    // on success *destLen becomes the bytes written, on failure 0.
    bool decompressBuffer(unsigned char* dest, unsigned int* destLen, const unsigned char* src, unsigned int srcLen);

    // Replaces `output` with the blob of `input`: the magic E1 A7 94 B3, the
    // length (32-bit little-endian) and a block-size-3 stream (absent for
    // empty input).
    bool compressMemory(const DataBuffer& input, DataBuffer& output);

    // Replaces `output` with the data of a blob. The stored length sizes the
    // room (length + 20 bytes); data that needs more fails. After a failure
    // the output is empty.
    bool decompressMemory(const DataBuffer& input, DataBuffer& output);
};

// Blob layout.
constexpr unsigned int kBzip2BlobMagic = 0xB394A7E1u;
constexpr unsigned int kBzip2BlobHeaderSize = 8;
constexpr int kBzip2BlobBlockSize = 3;
constexpr unsigned int kBzip2BlobSlack = 20;

} // namespace tessik
