// Compression and decompression speed and compressed size of the engine
// beside libbz2, at the same block size, on the same corpus.
#include "netlib/streams/TessikBzip2.h"

#include "bench/BenchSupport.h"

#include <benchmark/benchmark.h>
#include <bzlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace tessik;

namespace {

using Bytes = std::vector<unsigned char>;

// Bytes of each sample.
const std::size_t kSampleBytes = benchsupport::inputSize(2000000);

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes makeText() {
    // Real prose first (the licence texts), then journal-like sentences.
    Bytes out;
    for (const char* name : {"GPL-3", "LGPL-2.1", "Apache-2.0", "MPL-2.0", "Artistic"}) {
        Bytes f = readFile(std::string("/usr/share/common-licenses/") + name);
        out.insert(out.end(), f.begin(), f.end());
    }
    static const char* words[] = {"pain",     "level", "morning", "walked",     "the",       "and",     "slept",
                                  "medicine", "after", "dose",    "headache",   "better",    "worse",   "of",
                                  "to",       "a",     "in",      "journal",    "entry",     "evening", "knee",
                                  "back",     "rain",  "tired",   "stretching", "ibuprofen", "two"};
    std::mt19937 rng(7);
    while (out.size() < kSampleBytes) {
        const char* w = words[rng() % std::size(words)];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
        out.push_back(rng() % 11 == 0 ? '\n' : ' ');
    }
    out.resize(kSampleBytes);
    return out;
}

Bytes makeDatabase() {
    std::string db = benchsupport::tempPath("bench-bzip2.grv");
    std::remove(db.c_str());
    std::string cmd = "sqlite3 '" + db +
                      "' \"CREATE TABLE entries(id INTEGER PRIMARY KEY, ts TEXT, subject TEXT, worst INT, "
                      "average INT, journal TEXT, del INT DEFAULT 0);"
                      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT " +
                      std::to_string(benchsupport::smokeRun() ? 50 : 20000) +
                      ") "
                      "INSERT INTO entries(ts, subject, worst, average, journal) "
                      "SELECT printf('2024-%02d-%02d %02d:%02d:00', x % 12 + 1, x % 28 + 1, x % 24, x % 60), "
                      "'entry ' || x, x % 11, x % 7, 'felt ' || hex(randomblob(8)) || ' after walking ' || x "
                      "FROM c;\"";
    if (std::system(cmd.c_str()) != 0)
        return {};
    Bytes data = readFile(db);
    std::remove(db.c_str());
    return data;
}

struct Sample {
    const char* name;
    Bytes data;
};

const std::vector<Sample>& corpus() {
    static const std::vector<Sample> samples = [] {
        std::vector<Sample> s;
        s.push_back({"text", makeText()});
        Bytes bin = readFile("/proc/self/exe");
        Bytes lib = readFile("/usr/lib/x86_64-linux-gnu/libstdc++.so.6");
        bin.insert(bin.end(), lib.begin(), lib.end());
        bin.resize(std::min<std::size_t>(bin.size(), kSampleBytes));
        s.push_back({"binary", bin});
        s.push_back({"database", makeDatabase()});
        Bytes noise(kSampleBytes);
        std::mt19937 rng(1);
        for (auto& b : noise)
            b = static_cast<unsigned char>(rng());
        s.push_back({"random", noise});
        Bytes rep;
        for (int i = 0; rep.size() < kSampleBytes; i++) {
            const char* line = "2024-05-01 pain 4 walked 20 minutes\n";
            rep.insert(rep.end(), line, line + 36);
            if (i % 50 == 0)
                rep.insert(rep.end(), 300, 'x');
        }
        s.push_back({"repetitive", rep});
        return s;
    }();
    return samples;
}

constexpr int kBlockSize = 9;

Bytes oursCompressed(const Bytes& in) {
    Bytes out(in.size() + in.size() / 99 + 800);
    unsigned int len = static_cast<unsigned int>(out.size());
    TessikBzip2().compressBuffer(out.data(), &len, in.data(), static_cast<unsigned int>(in.size()), kBlockSize);
    out.resize(len);
    return out;
}

Bytes libCompressed(const Bytes& in) {
    Bytes out(in.size() + in.size() / 99 + 800);
    unsigned int len = static_cast<unsigned int>(out.size());
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                             const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                             static_cast<unsigned int>(in.size()), kBlockSize, 0, 30);
    out.resize(len);
    return out;
}

void compressOurs(benchmark::State& state, std::size_t i) {
    const Bytes& in = corpus()[i].data;
    Bytes out(in.size() + in.size() / 99 + 800);
    unsigned int len = 0;
    for (auto _ : state) {
        len = static_cast<unsigned int>(out.size());
        if (!TessikBzip2().compressBuffer(out.data(), &len, in.data(), static_cast<unsigned int>(in.size()),
                                          kBlockSize))
            state.SkipWithError("compression failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
    state.counters["size"] = len;
    state.counters["ratio%"] = 100.0 * len / static_cast<double>(in.size());
}

void compressLib(benchmark::State& state, std::size_t i) {
    const Bytes& in = corpus()[i].data;
    Bytes out(in.size() + in.size() / 99 + 800);
    unsigned int len = 0;
    for (auto _ : state) {
        len = static_cast<unsigned int>(out.size());
        if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                     const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                     static_cast<unsigned int>(in.size()), kBlockSize, 0, 30) != BZ_OK)
            state.SkipWithError("compression failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
    state.counters["size"] = len;
    state.counters["ratio%"] = 100.0 * len / static_cast<double>(in.size());
}

// Both decoders read the same stream (libbz2's), so only decoding differs.
void decompressOurs(benchmark::State& state, std::size_t i) {
    const Bytes& in = corpus()[i].data;
    const Bytes z = libCompressed(in);
    Bytes out(in.size());
    for (auto _ : state) {
        unsigned int len = static_cast<unsigned int>(out.size());
        if (!TessikBzip2().decompressBuffer(out.data(), &len, z.data(), static_cast<unsigned int>(z.size())) ||
            len != in.size())
            state.SkipWithError("decompression failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
    state.counters["identical"] = oursCompressed(in) == z ? 1 : 0;
}

void decompressLib(benchmark::State& state, std::size_t i) {
    const Bytes& in = corpus()[i].data;
    const Bytes z = libCompressed(in);
    Bytes out(in.size());
    for (auto _ : state) {
        unsigned int len = static_cast<unsigned int>(out.size());
        if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &len,
                                       const_cast<char*>(reinterpret_cast<const char*>(z.data())),
                                       static_cast<unsigned int>(z.size()), 0, 0) != BZ_OK)
            state.SkipWithError("decompression failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

const int registered = [] {
    const char* names[] = {"text", "binary", "database", "random", "repetitive"};
    for (std::size_t i = 0; i < std::size(names); i++) {
        std::string n = names[i];
        benchmark::RegisterBenchmark(("compress/" + n + "/ours").c_str(), compressOurs, i)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("compress/" + n + "/libbz2").c_str(), compressLib, i)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decompress/" + n + "/ours").c_str(), decompressOurs, i)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decompress/" + n + "/libbz2").c_str(), decompressLib, i)
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}();

} // namespace

int main(int argc, char** argv) {
    benchsupport::runRegistered(argc, argv);
    return 0;
}
