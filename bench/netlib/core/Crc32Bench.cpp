// CRC-32 throughput beside zlib's, on the same random buffers.
#include "netlib/core/ZipCRC.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using namespace tessik;

namespace {

std::vector<unsigned char> randomBytes(size_t n) {
    std::vector<unsigned char> v(n);
    std::mt19937 rng(103);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

void report(benchmark::State& state, size_t n) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// MB/s (10^6 bytes) of one routine over a 1 MiB buffer, for the closing summary.
template <typename F>
double megabytesPerSecond(const std::vector<unsigned char>& data, F crc) {
    using Clock = std::chrono::steady_clock;
    std::uint32_t sink = 0;
    long long rounds = 0;
    const auto start = Clock::now();
    Clock::duration spent{};
    do {
        sink ^= crc(data);
        ++rounds;
        spent = Clock::now() - start;
    } while (spent < std::chrono::milliseconds(500));
    benchmark::DoNotOptimize(sink);
    return static_cast<double>(rounds) * static_cast<double>(data.size()) / 1e6 /
           std::chrono::duration<double>(spent).count();
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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto data = randomBytes(1 << 20);
    const double ours = megabytesPerSecond(data, [](const std::vector<unsigned char>& d) {
        return ZipCRC::crc32WithBinaryFlag(d.data(), static_cast<std::uint32_t>(d.size()), nullptr);
    });
    const double flagged = megabytesPerSecond(data, [](const std::vector<unsigned char>& d) {
        std::uint16_t flag = 0;
        return ZipCRC::crc32WithBinaryFlag(d.data(), static_cast<std::uint32_t>(d.size()), &flag) ^ flag;
    });
    const double zlib = megabytesPerSecond(data, [](const std::vector<unsigned char>& d) {
        return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), d.data(), static_cast<uInt>(d.size())));
    });
    std::printf("CRC-32 over 1 MiB: ZipCRC %.0f MB/s, with binary flag %.0f MB/s, zlib crc32 %.0f MB/s\n",
                ours, flagged, zlib);
    return 0;
}
