#include "netlib/streams/TessikBzip2.h"

#include "netlib/streams/Bzip2Engine.h"

TessikBzip2::~TessikBzip2() = default;

bool TessikBzip2::compressBuffer(unsigned char* dest, unsigned int* destLen,
                                 const unsigned char* src, unsigned int srcLen, int blockSize)
{
    if (dest == nullptr || destLen == nullptr || src == nullptr || blockSize < 1 || blockSize > 9)
        return false;
    bz2::Stream strm;
    if (bz2::compressInit(&strm, blockSize, 0, bz2::kDefaultWorkFactor) != bz2::kOk)
        return false;
    strm.nextIn = src;
    strm.availIn = srcLen;
    strm.nextOut = dest;
    strm.availOut = *destLen;
    int r = bz2::compress(&strm, bz2::kFinish);
    bool ok = r == bz2::kStreamEnd;
    if (ok)
        *destLen = strm.totalOutLo32;
    bz2::compressEnd(&strm);
    return ok;
}

bool TessikBzip2::decompressBuffer(unsigned char* dest, unsigned int* destLen,
                                   const unsigned char* src, unsigned int srcLen)
{
    if (dest == nullptr || destLen == nullptr || src == nullptr)
        return false;
    bz2::Stream strm;
    if (bz2::decompressInit(&strm) != bz2::kOk) {
        *destLen = 0;
        return false;
    }
    strm.nextIn = src;
    strm.availIn = srcLen;
    strm.nextOut = dest;
    strm.availOut = *destLen;
    // All input is present at once: anything short of the stream end
    // (input used up, destination full, a format error) is a failure.
    int r = bz2::decompress(&strm);
    bool ok = r == bz2::kStreamEnd;
    *destLen = ok ? strm.totalOutLo32 : 0;
    bz2::decompressEnd(&strm);
    return ok;
}
