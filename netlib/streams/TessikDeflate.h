#pragma once
// Zlib-framed data (RFC 1950) in DataBuffers: the outgoing side writes the
// 78 9C header and then flushed chunks of one continuing stream, never a
// checksum trailer or a final block; the incoming side decodes a whole raw
// deflate stream with a fresh inflater each time.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/streams/ZeeStream.h"

namespace tessik {

// The faults of a zlib header (RFC 1950) in zlib's words and order: its
// check, its method, its window; null for a sound header.
const char* zlibHeaderFault(unsigned char cmf, unsigned char flg);

// What may follow the deflate data of a whole stream, one rule for every
// reader of one: after zlib data its Adler-32 (`adler`, when given) and
// nothing more; after raw deflate data at most four bytes of anything, as
// the readers of the HTTP deflate coding take it (a lost zlib header leaves
// its checksum there). `after` holds the first n bytes that follow; more
// than kDeflateTailLook are never needed. Null when they are sound.
constexpr std::uint32_t kDeflateTailLook = 5;
const char* deflateTailFault(const unsigned char* after, std::uint32_t n, const std::uint32_t* adler);

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
    // Raw deflate data that must end with its final block, followed by no
    // more than deflateTailFault allows.
    static bool inflateFromSource(const DataBuffer& in, DataBuffer& out, LogBase& log);

private:
    int m_level;
    std::unique_ptr<ZeeStream> m_stream;
    std::unique_ptr<unsigned char[]> m_work;
};

} // namespace tessik
