#pragma once
// Zlib-framed data (RFC 1950) in DataBuffers: the outgoing side writes the
// 78 9C header and then flushed chunks of one continuing stream, never a
// checksum trailer or a final block; the incoming side decodes a whole
// buffer with a fresh inflater each time.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/ZeeStream.h"

namespace tessik {

// The faults of a zlib header (RFC 1950) in zlib's words and order: its
// check, its method, its window; null for a sound header.
const char* zlibHeaderFault(unsigned char cmf, unsigned char flg);

class TessikDeflate {
public:
    static constexpr int kDefaultLevel = 6;
    static constexpr std::uint32_t kWorkSize = 60000;

    TessikDeflate();
    TessikDeflate(const TessikDeflate&) = delete;
    TessikDeflate& operator=(const TessikDeflate&) = delete;
    virtual ~TessikDeflate();

    // Appends the header and starts a new stream.
    bool beginCompress(DataBuffer& out);
    // Compresses the whole input as one chunk ending on a full flush and
    // appends it, however much output that makes.
    bool compressChunk(const DataBuffer& in, DataBuffer& out, LogBase& log, ProgressMonitor* monitor);
    // One zlib-framed buffer, a flushed chunk of a stream that goes on (as
    // beginCompress and compressChunk write them). The header is checked as
    // zlib checks it; a dictionary id is skipped, the checksum trailer is not
    // read; decoding may stop between blocks, not inside one.
    bool zlibDecompress(const DataBuffer& in, DataBuffer& out, LogBase& log);
    // A whole raw deflate stream: it must reach its final block. Empty input
    // is nothing to decode.
    bool inflateRaw(const DataBuffer& in, DataBuffer& out, LogBase& log);
    // Raw deflate data that must end with its final block.
    static bool inflateFromSource(const DataBuffer& in, DataBuffer& out, LogBase& log);

private:
    bool inflateFrom(const unsigned char* data, std::uint32_t size, DataBuffer& out, LogBase& log, bool needFinalBlock);

    int m_level;
    std::unique_ptr<ZeeStream> m_stream;
    std::unique_ptr<InflateState2> m_inflate;
    std::unique_ptr<unsigned char[]> m_work;
};

} // namespace tessik
