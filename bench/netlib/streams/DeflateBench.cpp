// Our deflate beside zlib's at levels 1, 6, 8 and 9 on one corpus of real
// files (text, C headers, programs, a journal database, random bytes): MB/s
// and compressed size of each, per file, then a closing line per level over
// the whole corpus with the ratios.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "netlib/streams/ZeeStream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kLevels[] = {1, 6, 8, 9};
constexpr std::size_t kHeaderBytes = 2 << 20;
constexpr std::size_t kRandomBytes = 1 << 20;
constexpr std::size_t kOutStep = 1 << 16;
constexpr int kSummaryRounds = 3;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Corpus {
    std::vector<std::pair<std::string, Bytes>> files;
    Corpus() {
        files.emplace_back("license", readFile("/usr/share/common-licenses/GPL-3"));
        Bytes headers;
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator("/usr/include"))
            if (e.path().extension() == ".h")
                names.push_back(e.path());
        std::sort(names.begin(), names.end());
        for (const auto& n : names) {
            if (headers.size() >= kHeaderBytes)
                break;
            Bytes b = readFile(n);
            headers.insert(headers.end(), b.begin(), b.end());
        }
        files.emplace_back("headers", std::move(headers));
        files.emplace_back("bash", readFile("/usr/bin/bash"));
        files.emplace_back("libstdc++", readFile("/usr/lib/x86_64-linux-gnu/libstdc++.so.6"));
        std::string db = "/tmp/grv-bench-deflate.grv";
        std::string sql = "DROP TABLE IF EXISTS entry; CREATE TABLE entry(id INTEGER PRIMARY KEY, ts TEXT,"
                          " subject TEXT, worst INT, journal TEXT);"
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 20000)"
                          " INSERT INTO entry SELECT i, printf('2026-%02d-%02d %02d:%02d:00', i%12+1, i%28+1,"
                          " i%24, i%60), 'Entry ' || i, i%11,"
                          " 'Slept ' || (i%9) || ' hours; knee pain after walking ' || (i%5) || ' km.' FROM n;";
        if (std::system(("sqlite3 " + db + " \"" + sql + "\" >/dev/null 2>&1").c_str()) == 0)
            files.emplace_back("journal", readFile(db));
        std::remove(db.c_str());
        Bytes random(kRandomBytes);
        std::mt19937 rng(1);
        for (auto& b : random)
            b = static_cast<std::uint8_t>(rng());
        files.emplace_back("random", std::move(random));
    }
    std::size_t totalSize() const {
        std::size_t n = 0;
        for (const auto& f : files)
            n += f.second.size();
        return n;
    }
};

const Corpus& theCorpus() {
    static const Corpus corpus;
    return corpus;
}

Bytes& outBuffer() {
    static Bytes out(kOutStep);
    return out;
}

std::size_t ourDeflate(const Bytes& in, int level) {
    tessik::ZeeStream z(level, false);
    z.setLevel(level);
    Bytes& out = outBuffer();
    z.nextIn = in.data();
    z.availIn = static_cast<std::uint32_t>(in.size());
    bool finished = false;
    while (!finished) {
        z.nextOut = out.data();
        z.availOut = static_cast<std::uint32_t>(out.size());
        if (!z.deflate(true, finished))
            std::abort();
    }
    return z.totalOut;
}

std::size_t zlibDeflate(const Bytes& in, int level) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes& out = outBuffer();
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    int rc;
    do {
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        rc = deflate(&zs, Z_FINISH);
    } while (rc == Z_OK);
    std::size_t produced = zs.total_out;
    deflateEnd(&zs);
    return produced;
}

void report(benchmark::State& state, const std::string& name, std::size_t in, std::size_t out) {
    state.SetLabel(name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in));
    state.counters["out_bytes"] = static_cast<double>(out);
    state.counters["ratio_pct"] = 100.0 * static_cast<double>(out) / static_cast<double>(in);
}

template <std::size_t (*Deflate)(const Bytes&, int)>
void BM_Deflate(benchmark::State& state) {
    const auto& f = theCorpus().files[static_cast<std::size_t>(state.range(1))];
    int level = static_cast<int>(state.range(0));
    std::size_t out = 0;
    for (auto _ : state)
        out = Deflate(f.second, level);
    report(state, f.first, f.second.size(), out);
}

void corpusArgs(benchmark::internal::Benchmark* b) {
    for (int level : kLevels)
        for (std::size_t i = 0; i < theCorpus().files.size(); ++i)
            b->Args({level, static_cast<int64_t>(i)});
}

BENCHMARK_TEMPLATE(BM_Deflate, ourDeflate)->Name("Deflate/ours")->Apply(corpusArgs)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Deflate, zlibDeflate)->Name("Deflate/zlib")->Apply(corpusArgs)->Unit(benchmark::kMillisecond);

struct Timing {
    double seconds = 1e300;
    std::size_t size = 0;
};

// The whole corpus at one level, the best of a few rounds, the two sides
// taking turns so both meet the same machine.
void summarise(int level) {
    using Clock = std::chrono::steady_clock;
    Timing ours, zlib;
    for (int round = 0; round < kSummaryRounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            Timing& t = side == 0 ? ours : zlib;
            std::size_t size = 0;
            auto start = Clock::now();
            for (const auto& f : theCorpus().files)
                size += side == 0 ? ourDeflate(f.second, level) : zlibDeflate(f.second, level);
            t.seconds = std::min(t.seconds, std::chrono::duration<double>(Clock::now() - start).count());
            t.size = size;
        }
    }
    double mb = static_cast<double>(theCorpus().totalSize()) / 1e6;
    std::printf("deflate level %d over %.1f MB: ours %.1f MB/s, %zu bytes; zlib %.1f MB/s, %zu bytes; "
                "speed %.2fx zlib, size %+.2f%%\n",
                level, mb, mb / ours.seconds, ours.size, mb / zlib.seconds, zlib.size, zlib.seconds / ours.seconds,
                100.0 * (static_cast<double>(ours.size) / static_cast<double>(zlib.size) - 1.0));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int level : kLevels)
        summarise(level);
    return 0;
}
