// CRC-32 throughput beside zlib's, on the same random buffers.
#include "netlib/core/ZipCRC.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

std::vector<unsigned char> randomBytes(size_t n) {
    std::vector<unsigned char> v(n);
    std::mt19937 rng(103);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

void report(benchmark::State& state, size_t n) {
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(n);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
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

void BM_ZipCRC_WithBinaryFlag(benchmark::State& state) {
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::uint16_t flag = 0;
        benchmark::DoNotOptimize(
            ZipCRC::crc32WithBinaryFlag(data.data(), static_cast<std::uint32_t>(data.size()), &flag));
        benchmark::DoNotOptimize(flag);
    }
    report(state, data.size());
}

void BM_zlib_crc32(benchmark::State& state) {
    const auto data = randomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(::crc32(::crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
    report(state, data.size());
}

}  // namespace

BENCHMARK(BM_ZipCRC)->Arg(16)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_zlib_crc32)->Arg(16)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_ZipCRC_WithBinaryFlag)->Arg(4096)->Arg(1 << 20);

BENCHMARK_MAIN();
