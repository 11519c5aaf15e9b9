// Base64 encode and decode speed beside python3's C implementation (binascii)
// and coreutils base64, all on the same 64 MiB. The peers report their own
// time: python times only the conversion, coreutils is timed as a whole
// process reading a cached file and writing to /dev/null.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"

using namespace tessik;

namespace {

const std::size_t kSize = benchsupport::inputSize(64u << 20);

const std::vector<unsigned char>& rawBytes() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> d(kSize);
        std::mt19937 rng(64);
        for (auto& b : d)
            b = static_cast<unsigned char>(rng());
        std::ofstream(benchsupport::tempPath("bench-base64.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
        return d;
    }();
    return data;
}

// The unbroken base64 text of the same bytes, also left in a file.
const std::string& base64Text() {
    static const std::string text = [] {
        StringBuffer sb;
        ContentCoding::encodeBase64NoCrlf(rawBytes().data(), static_cast<unsigned int>(kSize), sb);
        std::string t(sb.getString(), static_cast<std::size_t>(sb.getSize()));
        std::ofstream(benchsupport::tempPath("bench-base64.txt"), std::ios::binary)
            .write(t.data(), static_cast<std::streamsize>(t.size()));
        return t;
    }();
    return text;
}

void BM_OursEncode(benchmark::State& state) {
    const auto& in = rawBytes();
    for (auto _ : state) {
        StringBuffer out;
        ContentCoding::encodeBase64NoCrlf(in.data(), static_cast<unsigned int>(in.size()), out);
        benchmark::DoNotOptimize(out.getString());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

void BM_OursEncodeMimeLines(benchmark::State& state) {
    const auto& in = rawBytes();
    ContentCoding cc;
    for (auto _ : state) {
        StringBuffer out;
        cc.encodeBase64(in.data(), static_cast<unsigned int>(in.size()), out);
        benchmark::DoNotOptimize(out.getString());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

void BM_OursDecode(benchmark::State& state) {
    const std::string& text = base64Text();
    for (auto _ : state) {
        DataBuffer out;
        ContentCoding::decodeBase64(text.data(), static_cast<unsigned int>(text.size()), out);
        if (out.getSize() != kSize)
            state.SkipWithError("decoded size differs");
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

// Runs python3 on the file; the script prints the seconds of one conversion.
double pythonSeconds(const char* op, const std::string& file) {
    std::string out = benchsupport::tempPath("bench-base64-py.out");
    std::string cmd = std::string("/usr/bin/python3 -c \"import binascii, sys, time\n"
                                  "d = open(sys.argv[1], 'rb').read()\n"
                                  "t = time.perf_counter()\n") +
                      op + "\nprint(time.perf_counter() - t)\" '" + file + "' > '" + out + "'";
    if (std::system(cmd.c_str()) != 0)
        return -1;
    std::ifstream f(out);
    double s = -1;
    f >> s;
    return s;
}

double processSeconds(const std::string& cmd) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void reportPeer(benchmark::State& state, double seconds) {
    if (seconds <= 0) {
        state.SkipWithError("peer failed");
        return;
    }
    state.SetIterationTime(seconds);
}

void BM_PythonBinasciiEncode(benchmark::State& state) {
    rawBytes();
    for (auto _ : state)
        reportPeer(state,
                   pythonSeconds("binascii.b2a_base64(d, newline=False)", benchsupport::tempPath("bench-base64.bin")));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

void BM_PythonBinasciiDecode(benchmark::State& state) {
    base64Text();
    for (auto _ : state)
        reportPeer(state, pythonSeconds("binascii.a2b_base64(d)", benchsupport::tempPath("bench-base64.txt")));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

void BM_CoreutilsEncode(benchmark::State& state) {
    rawBytes();
    for (auto _ : state)
        reportPeer(state,
                   processSeconds("base64 -w0 '" + benchsupport::tempPath("bench-base64.bin") + "' > /dev/null"));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

void BM_CoreutilsDecode(benchmark::State& state) {
    base64Text();
    for (auto _ : state)
        reportPeer(state, processSeconds("base64 -d '" + benchsupport::tempPath("bench-base64.txt") + "' > /dev/null"));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
}

} // namespace

BENCHMARK(BM_OursEncode)->Unit(benchmark::kMillisecond)->MinTime(benchsupport::minTime(1.0));
BENCHMARK(BM_PythonBinasciiEncode)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_CoreutilsEncode)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_OursEncodeMimeLines)->Unit(benchmark::kMillisecond)->MinTime(benchsupport::minTime(1.0));
BENCHMARK(BM_OursDecode)->Unit(benchmark::kMillisecond)->MinTime(benchsupport::minTime(1.0));
BENCHMARK(BM_PythonBinasciiDecode)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_CoreutilsDecode)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char** argv) {
    benchsupport::runRegistered(argc, argv);
    return 0;
}
