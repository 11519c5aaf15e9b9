// libFuzzer harness over the gzip reader, judged by zlib: in memory and from
// a source the reader must accept exactly what zlib's gzip decoding accepts
// (every member in turn, zero bytes of padding after the last, nothing else
// there) and give the same bytes. Where zlib refuses a header the reader
// does not check (its CRC-16, reserved flag bits), no verdict is compared.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/Output.h"

using namespace tessik;

namespace {

constexpr int kGzipWindowBits = 15 + 16;
constexpr std::size_t kMaxOutput = 64u << 20;

enum class Verdict { kRead, kRefused, kNoVerdict };

Verdict zlibMembers(const std::uint8_t* data, std::size_t size, std::string& out) {
    z_stream z{};
    if (inflateInit2(&z, kGzipWindowBits) != Z_OK)
        std::abort();
    std::size_t at = 0;
    Verdict verdict = size == 0 ? Verdict::kRefused : Verdict::kRead;
    unsigned char buffer[1 << 14];
    while (verdict == Verdict::kRead && at < size) {
        z.next_in = const_cast<Bytef*>(data + at);
        z.avail_in = static_cast<uInt>(size - at);
        int r = Z_OK;
        while (r == Z_OK) {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            r = inflate(&z, Z_NO_FLUSH);
            out.append(reinterpret_cast<char*>(buffer), sizeof buffer - z.avail_out);
            if (out.size() > kMaxOutput)
                r = Z_MEM_ERROR;
        }
        if (r != Z_STREAM_END) {
            const std::string why = z.msg ? z.msg : "";
            verdict =
                why.find("header") != std::string::npos || r == Z_MEM_ERROR ? Verdict::kNoVerdict : Verdict::kRefused;
            break;
        }
        at = size - z.avail_in;
        if (size - at >= 2 && data[at] == 0x1F && data[at + 1] == 0x8B) {
            inflateReset(&z);
            continue;
        }
        for (; at < size; ++at)
            if (data[at] != 0)
                verdict = Verdict::kRefused;
    }
    inflateEnd(&z);
    return verdict;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string reference;
    const Verdict verdict = zlibMembers(data, size, reference);
    if (verdict == Verdict::kNoVerdict)
        return 0;
    DataBuffer in;
    in.append(data, static_cast<unsigned>(size));
    DataBuffer fromMemory, fromSource;
    LogNull log;
    const bool memoryOk = Gzip::unGzipMemory(in, fromMemory, log);
    MemoryDataSource source;
    source.setData(data, size, false);
    OutputDataBuffer sink(&fromSource);
    const bool sourceOk = Gzip::unGzipSource(source, sink, log);
    const bool want = verdict == Verdict::kRead;
    if (memoryOk != want || sourceOk != want)
        std::abort();
    if (want && (fromMemory.getSize() != reference.size() || !fromMemory.equalsDb(fromSource) ||
                 (!reference.empty() && std::memcmp(fromMemory.getData(), reference.data(), reference.size()) != 0)))
        std::abort();
    return 0;
}
