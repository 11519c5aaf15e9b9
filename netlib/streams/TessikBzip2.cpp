#include "netlib/streams/TessikBzip2.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/streams/Bzip2Engine.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstdint>

namespace tessik {

namespace {

// Decodes stream after stream, as bzip2 -dc and python's bz2 read
// concatenated ones: after a stream's end, input that begins like a stream
// is decoded as the next one, its faults failing the whole; input that
// fails the stream magic is left unread, as both references leave it. Call
// again with more output room after a kOk that filled the room.
int decompressStreams(bz2::Stream& strm) {
    int r = bz2::decompress(&strm);
    while (r == bz2::kStreamEnd) {
        bz2::decompressUnread(&strm);
        if (strm.availIn == 0)
            break;
        if (const int restart = bz2::decompressRestart(&strm); restart != bz2::kOk)
            return restart;
        r = bz2::decompress(&strm);
        if (bz2::isStreamMagicError(r))
            return bz2::kStreamEnd;
    }
    return r;
}

} // namespace

TessikBzip2::~TessikBzip2() = default;

bool TessikBzip2::compressBuffer(unsigned char* dest, unsigned int* destLen, const unsigned char* src,
                                 unsigned int srcLen, int blockSize) {
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

bool TessikBzip2::decompressBuffer(unsigned char* dest, unsigned int* destLen, const unsigned char* src,
                                   unsigned int srcLen) {
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
    // All input is present at once: anything short of the last stream's end
    // (input used up, destination full, a format error) is a failure.
    int r = decompressStreams(strm);
    bool ok = r == bz2::kStreamEnd;
    *destLen = ok ? strm.totalOutLo32 : 0;
    bz2::decompressEnd(&strm);
    return ok;
}

namespace {

// The room a buffer really has: a failed growth leaves the old block.
bool reserve(DataBuffer& buf, std::uint64_t n) {
    if (n > UINT32_MAX)
        return false;
    return buf.ensureCapacity(static_cast<unsigned int>(n)) && buf.getCapacity() >= n;
}

// Room a blob's stream may grow into before the buffer is enlarged: the
// stored length is read from the blob, so it only bounds the output, it is
// not allocated up front.
constexpr std::uint64_t kFirstRoom = 1u << 20;

} // namespace

bool TessikBzip2::compressMemory(const DataBuffer& input, DataBuffer& output) {
    if (&input == &output) {
        DataBuffer result;
        if (!compressMemory(input, result))
            return false;
        output.takeFrom(result);
        return true;
    }
    const std::uint32_t n = input.getSize();
    unsigned char header[kBzip2BlobHeaderSize];
    platform::StoreLe32(header, kBzip2BlobMagic);
    platform::StoreLe32(header + 4, n);
    output.clear();
    if (n == 0)
        return output.append(header, sizeof header);

    // Incompressible data grows by at most 1 in 100 plus the stream's own
    // headers, so this room always suffices.
    const std::uint64_t room = static_cast<std::uint64_t>(n) + n / 99 + 800 - kBzip2BlobHeaderSize;
    if (!reserve(output, room + kBzip2BlobHeaderSize) || !output.append(header, sizeof header))
        return false;
    unsigned int len = static_cast<unsigned int>(room);
    if (!compressBuffer(output.getData() + kBzip2BlobHeaderSize, &len, input.getData(), n, kBzip2BlobBlockSize)) {
        output.clear();
        return false;
    }
    output.setSize(kBzip2BlobHeaderSize + len);
    return true;
}

bool TessikBzip2::decompressMemory(const DataBuffer& input, DataBuffer& output) {
    if (&input == &output) {
        DataBuffer result;
        bool ok = decompressMemory(input, result);
        output.takeFrom(result);
        return ok;
    }
    output.clear();
    const std::uint32_t size = input.getSize();
    if (size == 0)
        return true;
    const unsigned char* in = input.getData();
    if (size < kBzip2BlobHeaderSize || platform::LoadLe32(in) != kBzip2BlobMagic)
        return false;
    if (size == kBzip2BlobHeaderSize)
        return platform::LoadLe32(in + 4) == 0; // the blob of empty data carries no stream
    const std::uint64_t limit =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(platform::LoadLe32(in + 4)) + kBzip2BlobSlack, UINT32_MAX);

    bz2::Stream strm;
    if (bz2::decompressInit(&strm) != bz2::kOk)
        return false;
    strm.nextIn = in + kBzip2BlobHeaderSize;
    strm.availIn = size - kBzip2BlobHeaderSize;
    std::uint64_t room = std::min(limit, kFirstRoom);
    int r = bz2::kOk;
    for (;;) {
        if (!reserve(output, room)) {
            r = bz2::kMemError;
            break;
        }
        strm.nextOut = output.getData() + strm.totalOutLo32;
        strm.availOut = static_cast<std::uint32_t>(room - strm.totalOutLo32);
        r = decompressStreams(strm);
        output.setSize(strm.totalOutLo32);
        if (r != bz2::kOk || strm.availOut > 0 || room == limit)
            break; // stream end, an error, input used up, or the room is all used
        room = std::min(limit, room * 2);
    }
    bz2::decompressEnd(&strm);
    if (r != bz2::kStreamEnd) {
        output.clear();
        return false;
    }
    return true;
}

} // namespace tessik
