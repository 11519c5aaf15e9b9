// Our deflate beside zlib's at levels 1, 6, 8 and 9 on one corpus of real
// files (text, C headers, programs, a journal database, random bytes): MB/s
// and compressed size of each, per file; then our inflate beside zlib's on
// the same files deflated by zlib at level 6. Closing lines give the ratios
// over the whole corpus, medians of turns taken in alternation.
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

#include "bench/BenchSupport.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/ZeeStream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kLevels[] = {1, 6, 8, 9};
constexpr std::size_t kHeaderBytes = 2 << 20;
constexpr std::size_t kRandomBytes = 1 << 20;
constexpr std::size_t kOutStep = 1 << 16;
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
        std::string db = benchsupport::tempPath("grv-bench-deflate.grv");
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
        for (auto& f : files)
            f.second.resize(std::min(f.second.size(), benchsupport::inputSize(f.second.size())));
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

// ---- Inflate: the same files as zlib deflates them at level 6.
constexpr int kInflateLevel = 6;

const std::vector<Bytes>& deflatedCorpus() {
    static const std::vector<Bytes> streams = [] {
        std::vector<Bytes> all;
        for (const auto& f : theCorpus().files) {
            Bytes z(compressBound(static_cast<uLong>(f.second.size())) + 64);
            z_stream zs{};
            deflateInit2(&zs, kInflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            zs.next_in = const_cast<Bytef*>(f.second.data());
            zs.avail_in = static_cast<uInt>(f.second.size());
            zs.next_out = z.data();
            zs.avail_out = static_cast<uInt>(z.size());
            deflate(&zs, Z_FINISH);
            z.resize(zs.total_out);
            deflateEnd(&zs);
            all.push_back(std::move(z));
        }
        return all;
    }();
    return streams;
}

std::size_t ourInflate(const Bytes& z) {
    tessik::NullDataSink sink;
    tessik::InflateState2 inflater;
    inflater.setSink(&sink);
    tessik::LogNull log;
    if (!inflater.inflateDataB(z.data(), static_cast<std::uint32_t>(z.size()), log, false))
        std::abort();
    return sink.getNumBytesWritten64();
}

std::size_t zlibInflate(const Bytes& z) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    Bytes& out = outBuffer();
    zs.next_in = const_cast<Bytef*>(z.data());
    zs.avail_in = static_cast<uInt>(z.size());
    int rc;
    do {
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&zs, Z_NO_FLUSH);
    } while (rc == Z_OK);
    std::size_t produced = zs.total_out;
    inflateEnd(&zs);
    return produced;
}

template <std::size_t (*Inflate)(const Bytes&)>
void BM_Inflate(benchmark::State& state) {
    auto i = static_cast<std::size_t>(state.range(0));
    const auto& f = theCorpus().files[i];
    const Bytes& z = deflatedCorpus()[i];
    std::size_t out = 0;
    for (auto _ : state)
        out = Inflate(z);
    state.SetLabel(f.first);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out));
}

void fileArgs(benchmark::internal::Benchmark* b) {
    for (std::size_t i = 0; i < theCorpus().files.size(); ++i)
        b->Arg(static_cast<int64_t>(i));
}

BENCHMARK_TEMPLATE(BM_Inflate, ourInflate)->Name("Inflate/ours")->Apply(fileArgs)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Inflate, zlibInflate)->Name("Inflate/zlib")->Apply(fileArgs)->Unit(benchmark::kMillisecond);

// MB/s of one pass of `work` over the whole corpus.
template <class Work>
double corpusRate(Work&& work) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    for (std::size_t i = 0; i < theCorpus().files.size(); ++i)
        work(i);
    double seconds = std::max(std::chrono::duration<double>(Clock::now() - start).count(), 1e-9);
    return static_cast<double>(theCorpus().totalSize()) / 1e6 / seconds;
}

// The whole corpus at one level, the medians of turns the two sides take
// in alternation, so both meet the same machine; then every file that codes
// larger than zlib's.
void summarise(int level) {
    std::vector<std::size_t> ours, zlib;
    for (const auto& f : theCorpus().files) {
        ours.push_back(ourDeflate(f.second, level));
        zlib.push_back(zlibDeflate(f.second, level));
    }
    const benchsupport::Beside b = benchsupport::medianBeside(
        [&] { return corpusRate([&](std::size_t i) { ourDeflate(theCorpus().files[i].second, level); }); },
        [&] { return corpusRate([&](std::size_t i) { zlibDeflate(theCorpus().files[i].second, level); }); });
    std::size_t ourSize = 0, zlibSize = 0;
    std::string larger;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        ourSize += ours[i];
        zlibSize += zlib[i];
        if (ours[i] > zlib[i]) {
            char note[80];
            std::snprintf(note, sizeof note, " %s +%zu bytes (%+.2f%%)", theCorpus().files[i].first.c_str(),
                          ours[i] - zlib[i],
                          100.0 * (static_cast<double>(ours[i]) / static_cast<double>(zlib[i]) - 1.0));
            larger += note;
        }
    }
    std::printf("deflate level %d over %.1f MB: ours %.1f MB/s, %zu bytes; zlib %.1f MB/s, %zu bytes; "
                "speed %.2fx zlib, size %+.2f%%; files larger than zlib's:%s\n",
                level, static_cast<double>(theCorpus().totalSize()) / 1e6, b.ours, ourSize, b.theirs, zlibSize, b.ratio,
                100.0 * (static_cast<double>(ourSize) / static_cast<double>(zlibSize) - 1.0),
                larger.empty() ? " none" : larger.c_str());
}

void summariseInflate() {
    const auto& streams = deflatedCorpus();
    const benchsupport::Beside b =
        benchsupport::medianBeside([&] { return corpusRate([&](std::size_t i) { ourInflate(streams[i]); }); },
                                   [&] { return corpusRate([&](std::size_t i) { zlibInflate(streams[i]); }); });
    std::printf("inflate of zlib level %d streams, %.1f MB out: ours %.1f MB/s; zlib %.1f MB/s; speed %.2fx zlib\n",
                kInflateLevel, static_cast<double>(theCorpus().totalSize()) / 1e6, b.ours, b.theirs, b.ratio);
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
    summariseInflate();
    return 0;
}
