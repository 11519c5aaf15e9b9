// Differential harness: whatever the input, level and feeding, our deflate
// stream must inflate through zlib back to exactly the input, both finished
// whole and sent as flushed chunks.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/streams/ZeeStream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kControlBytes = 3;
constexpr std::size_t kFeedUnit = 97;
constexpr std::size_t kRoomUnit = 61;

Bytes zlibInflate(const Bytes& in, std::size_t expect, bool& ended) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK)
        std::abort();
    Bytes out(expect + 1);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&zs, Z_SYNC_FLUSH);
    ended = rc == Z_STREAM_END;
    if ((rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR) || zs.avail_in != 0)
        std::abort();
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kControlBytes)
        return 0;
    // Control bytes: level and mode, input piece size, output room.
    const int level = data[0] % 10;
    const bool chunks = data[0] & 0x80;
    const std::size_t feed = data[1] == 0 ? SIZE_MAX : data[1] * kFeedUnit;
    const std::size_t room = 1 + data[2] * kRoomUnit;
    const Bytes input(data + kControlBytes, data + size);

    tessik::ZeeStream z(level, true);
    z.setLevel(level);
    if (!z.isReady())
        return 0;
    Bytes out, buf(room);
    tessik::LogNull log;
    std::size_t at = 0;
    bool finished = false;
    while (!finished) {
        if (z.availIn == 0 && at < input.size()) {
            std::size_t n = std::min(feed, input.size() - at);
            z.nextIn = input.data() + at;
            z.availIn = static_cast<std::uint32_t>(n);
            at += n;
        }
        z.nextOut = buf.data();
        z.availOut = static_cast<std::uint32_t>(room);
        bool ok = chunks ? z.deflateFlushedChunk(log) : z.deflate(at == input.size(), finished);
        out.insert(out.end(), buf.data(), buf.data() + (room - z.availOut));
        if (!ok)
            std::abort();
        if (chunks && at == input.size() && z.availIn == 0 && !z.chunkFlushPending())
            break;
    }
    bool ended = false;
    Bytes back = zlibInflate(out, input.size(), ended);
    if (back != input || ended == chunks)
        std::abort();
    if (z.checksum != adler32(1, input.data(), static_cast<uInt>(input.size())))
        std::abort();
    return 0;
}
