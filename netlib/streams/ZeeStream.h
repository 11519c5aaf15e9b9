#pragma once
// The library's raw-deflate stream (RFC 1951; no zlib header or checksum
// trailer at this layer) over the shared compressor of platform/Deflate.h.
// The owner points the public I/O fields at memory, calls a step, collects
// the output and repeats.
#include <cstdint>
#include <memory>

#include "netlib/core/LogBase.h"
#include "platform/Deflate.h"

namespace tessik {

// The compressor proper: window, hash chains, trees and pending output.
using ZeeDeflateState = platform::DeflateEngine;

class ZeeStream : public platform::DeflateIo {
public:
    static constexpr int kStatusBusy = 113;
    static constexpr int kStatusFinishing = 666;
    // Chunks this short are sent stored; longer ones go through the fast routine.
    static constexpr std::uint32_t kMinCompressedChunk = 64;
    static constexpr int kChunkLevel = 3;

    // With keepChecksum, `checksum` follows every input byte (RFC 1950).
    ZeeStream(int level, bool keepChecksum);
    ZeeStream(const ZeeStream&) = delete;
    ZeeStream& operator=(const ZeeStream&) = delete;
    virtual ~ZeeStream();

    // False when the compressor could not be allocated; every step then fails.
    bool isReady() const { return state != nullptr; }
    // Outside 0 to 9 counts as 6.
    void setLevel(int level);

    // One step with no flush, or with finish; `finished` is set once the
    // stream is complete. True means progress or nothing to do.
    bool deflate(bool finish, bool& finished);
    // Compresses everything in nextIn/availIn and ends it on a full flush
    // (an empty stored block, and no later chunk refers back to this one).
    // When the output room runs out first, call again with more room: the
    // flush continues where it stopped.
    bool deflateFlushedChunk(LogBase& log);
    // A flushed chunk is not yet out whole: call deflateFlushedChunk again.
    bool chunkFlushPending() const { return m_chunkFlushing; }
    void flushPending();

    static std::uint32_t updateChecksum(std::uint32_t running, const void* bytes, std::uint32_t length);

    int status = kStatusBusy;
    std::unique_ptr<ZeeDeflateState> state;

private:
    void syncStatus();

    // A flushed chunk stopped for want of output room.
    bool m_chunkFlushing = false;
};

} // namespace tessik
