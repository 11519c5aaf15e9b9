#pragma once
// Whole-buffer bzip2 compression and decompression, and the self-describing
// blob form (magic, uncompressed length, bzip2 stream) kept in DataBuffers.

class DataBuffer;

class TessikBzip2 {
public:
    TessikBzip2() = default;
    virtual ~TessikBzip2();

    // Compresses srcLen bytes at blockSize (1..9, blocks of 100,000 x n bytes)
    // into dest, whose room *destLen gives; on success *destLen becomes the
    // bytes written. A destination too small is a failure.
    bool compressBuffer(unsigned char* dest, unsigned int* destLen, const unsigned char* src,
                        unsigned int srcLen, int blockSize);

    // Decodes one bzip2 stream into dest, never writing past *destLen bytes;
    // on success *destLen becomes the bytes written, on failure 0.
    bool decompressBuffer(unsigned char* dest, unsigned int* destLen, const unsigned char* src,
                          unsigned int srcLen);
};
