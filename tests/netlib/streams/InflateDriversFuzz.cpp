// libFuzzer harness over the three inflate drivers: on any input they agree
// with one another, whatever zlib decodes completely they decode to the
// same bytes, and whatever zlib refuses as bad data they refuse.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "netlib/streams/InflateState2.h"

using namespace tessik;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kControlBytes = 1;
constexpr std::size_t kMaxOutput = 16 << 20;

class Sink : public NullDataSink {
public:
    bool writeBytes(const void* data, std::uint32_t length, LogBase*) override {
        if (bytes.size() + length > kMaxOutput)
            return false;
        bytes.insert(bytes.end(), static_cast<const std::uint8_t*>(data),
                     static_cast<const std::uint8_t*>(data) + length);
        return true;
    }
    Bytes bytes;
};

class ChunkOutput : public Output {
public:
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor*,
                             LogBase&) override {
        std::size_t n = static_cast<std::size_t>(size) * count;
        if (bytes.size() + n > kMaxOutput)
            return 0;
        bytes.insert(bytes.end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + n);
        return count;
    }
    Bytes bytes;
};

class Trickle : public MemoryDataSource {
public:
    explicit Trickle(std::uint32_t piece) : m_piece(piece) {}
    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override {
        return MemoryDataSource::readChunk(buffer, std::min(size, m_piece), bytesRead, log);
    }

private:
    std::uint32_t m_piece;
};

enum class Verdict { kComplete, kRefused, kUnfinished };

// zlib's verdict on the whole input: decoded to its end, refused as bad
// data, or neither (cut short, or past the output limit).
Verdict zlibVerdict(const Bytes& in, Bytes& out) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK)
        std::abort();
    out.resize(kMaxOutput);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? Verdict::kComplete : rc == Z_DATA_ERROR ? Verdict::kRefused : Verdict::kUnfinished;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kControlBytes)
        return 0;
    // The control byte: the size of source reads and of queued chunks.
    const std::uint32_t piece = 1 + data[0] * 3u;
    const Bytes z(data + kControlBytes, data + size);
    LogNull log;

    Sink whole;
    InflateState2 buffer;
    buffer.setSink(&whole);
    bool okBuffer = buffer.inflateDataB(z.data(), static_cast<std::uint32_t>(z.size()), log, false);

    Trickle source(piece);
    source.setData(z.data(), z.size(), false);
    Sink pulled;
    InflateState2 sourced;
    sourced.setSink(&pulled);
    std::uint32_t leftOver = 0;
    bool okSource = sourced.inflator(&source, &leftOver, log, false);

    InflateState2 chunked;
    chunked.reset(InflateState2::kWindowSize);
    ChunkOutput queued;
    bool finished = false;
    int code = 0, result = 1;
    std::size_t at = 0;
    do {
        std::size_t n = std::min<std::size_t>(piece, z.size() - at);
        result = chunked.inflateChunk(z.data() + at, static_cast<std::uint32_t>(n), at + n == z.size(), queued,
                                      finished, log, code, 0);
        at += n;
    } while (result == 1 && at < z.size());
    bool okChunks = result == 1 && finished;

    if (okBuffer != okSource || okBuffer != okChunks)
        std::abort();
    if (pulled.bytes != whole.bytes || queued.bytes != whole.bytes)
        std::abort();
    Bytes judged;
    const Verdict zlib = zlibVerdict(z, judged);
    if (zlib == Verdict::kComplete && (!okBuffer || judged != whole.bytes))
        std::abort();
    if (zlib == Verdict::kRefused && okBuffer)
        std::abort();
    return 0;
}
