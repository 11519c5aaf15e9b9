// CRC-32 throughput beside zlib's, on the same random buffers: the run-time
// path (carry-less multiply where the processor has it), the table path it
// falls back to, and the zip CRC of the library that sits on them, also
// counting the text/binary flag's bytes in the same pass, on either path.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/ZipCRC.h"
#include "platform/Crc32.h"

using namespace tessik;

namespace {

std::vector<unsigned char> randomBytes(size_t n) {
    std::vector<unsigned char> v(n);
    std::mt19937 rng(103);
    for (auto& b : v)
        b = static_cast<unsigned char>(rng());
    return v;
}

std::uint32_t zlibCrc(const std::vector<unsigned char>& d) {
    return static_cast<std::uint32_t>(::crc32(0L, d.data(), static_cast<uInt>(d.size())));
}

void report(benchmark::State& state, size_t n) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_ZipCRC(benchmark::State& state) {
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    ZipCRC crc;
    for (auto _ : state) {
        crc.beginStream();
        crc.moreData(data.data(), static_cast<std::uint32_t>(data.size()));
        benchmark::DoNotOptimize(crc.endStream());
    }
    report(state, data.size());
}

void BM_TablePath(benchmark::State& state) {
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::Crc32UpdateByTable(platform::kCrc32Preset, data.data(), data.size()));
    report(state, data.size());
}

void BM_zlib_crc32(benchmark::State& state) {
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(zlibCrc(data));
    report(state, data.size());
}

} // namespace

BENCHMARK(BM_ZipCRC)->Arg(16)->Arg(4096)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_TablePath)->Arg(4096)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_zlib_crc32)->Arg(16)->Arg(4096)->Arg(64 << 10)->Arg(1 << 20);

int main(int argc, char** argv) {
    benchsupport::runRegistered(argc, argv);

    std::printf("\nCRC-32 beside zlib's crc32 (carry-less multiply here: %s):\n",
                platform::Crc32HasCarrylessMultiply() ? "yes" : "no");
    for (std::size_t size : {std::size_t(64) << 10, std::size_t(1) << 20, std::size_t(16) << 20}) {
        const auto data = randomBytes(benchsupport::smokeRun() ? 4096 : size);
        if (platform::Crc32(0, data.data(), data.size()) != zlibCrc(data)) {
            std::printf("CRC-32 differs from zlib's\n");
            return 1;
        }
        const std::string kib = std::to_string(size >> 10) + " KiB";
        std::uint32_t sink = 0;
        benchsupport::printBeside(
            "Crc32 over " + kib, data.size(), [&] { sink ^= platform::Crc32(0, data.data(), data.size()); },
            "zlib crc32", [&] { sink ^= zlibCrc(data); });
        benchsupport::printBeside(
            "table path over " + kib, data.size(),
            [&] { sink ^= platform::Crc32UpdateByTable(platform::kCrc32Preset, data.data(), data.size()); },
            "zlib crc32", [&] { sink ^= zlibCrc(data); });
        benchsupport::printBeside(
            "ZipCRC with binary flag over " + kib, data.size(),
            [&] {
                std::uint16_t flag = 0;
                sink ^= ZipCRC::crc32WithBinaryFlag(data.data(), static_cast<std::uint32_t>(data.size()), &flag) ^ flag;
            },
            "zlib crc32", [&] { sink ^= zlibCrc(data); });
        benchsupport::printBeside(
            "table path + binary flag over " + kib, data.size(),
            [&] {
                std::uint64_t binary = 0;
                sink ^= platform::Crc32UpdateCountingBinaryByTable(platform::kCrc32Preset, data.data(), data.size(),
                                                                   binary) ^
                        static_cast<std::uint32_t>(binary);
            },
            "zlib crc32", [&] { sink ^= zlibCrc(data); });
        benchmark::DoNotOptimize(sink);
    }
    return 0;
}
