// Whatever the input, and however it arrives, the compressor's output must
// inflate (zlib, raw) back to exactly that input.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/ZipDeflater.h"

namespace {

archive::ZipDeflater& Deflater() {
    static auto* d = new archive::ZipDeflater();
    return *d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // Two control bytes: the size of each read, and of the output buffer.
    const std::size_t piece = data[0] == 0 ? SIZE_MAX : data[0] * 37u;
    const std::size_t outSize = 64 + data[1] * 64u;
    data += 2;
    size -= 2;

    std::size_t pos = 0;
    std::vector<std::uint8_t> compressed;
    archive::ZipDeflater::ReadFn read = [&](std::uint8_t* buf, std::size_t len) -> long {
        std::size_t n = std::min({len, size - pos, piece});
        if (n)
            std::memcpy(buf, data + pos, n);
        pos += n;
        return static_cast<long>(n);
    };
    archive::ZipDeflater::FlushFn flush = [&](const std::uint8_t* p, std::size_t n) {
        compressed.insert(compressed.end(), p, p + n);
        return true;
    };
    std::vector<std::uint8_t> out(outSize);
    std::uint64_t reported = Deflater().compress(read, flush, out.data(), out.size(), 8, nullptr);
    if (Deflater().error() || reported != compressed.size() || pos != size)
        std::abort();

    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK)
        std::abort();
    std::vector<std::uint8_t> back(size + 1);
    zs.next_in = compressed.data();
    zs.avail_in = static_cast<uInt>(compressed.size());
    zs.next_out = back.data();
    zs.avail_out = static_cast<uInt>(back.size());
    int rc = inflate(&zs, Z_FINISH);
    bool same = rc == Z_STREAM_END && zs.total_out == size && zs.avail_in == 0 &&
                (size == 0 || std::memcmp(back.data(), data, size) == 0);
    inflateEnd(&zs);
    if (!same)
        std::abort();
    return 0;
}
