// Our compressor beside zlib at the same level (8) over one corpus: speed as
// bytes per second and the compressed size of each, side by side. Then
// extraction of one archive entry beside `unzip -p` of the same entry, and
// the opening of an archive of 65,534 entries, and its listing forward, last
// to first and shuffled, beside `unzip -l`.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/ZipArchive.h"
#include "archive/ZipDeflater.h"
#include "archive/ZipReader.h"
#include "archive/ZipWriter.h"
#include "bench/BenchSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Corpus {
    std::vector<std::pair<std::string, Bytes>> files;
    Corpus() {
        files.emplace_back("license", ReadFile("/usr/share/common-licenses/GPL-3"));
        files.emplace_back("binary", ReadFile("/usr/bin/bash"));
        std::string db = benchsupport::tempPath("grv-bench-journal.grv");
        std::string sql = "DROP TABLE IF EXISTS entry; CREATE TABLE entry(id INTEGER PRIMARY KEY, ts TEXT,"
                          " subject TEXT, worst INT, avg INT, low INT, cur INT, journal TEXT);"
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 20000)"
                          " INSERT INTO entry SELECT i, printf('2026-%02d-%02d %02d:%02d:00', i%12+1, i%28+1,"
                          " i%24, i%60), 'Entry ' || i, i%11, (i*7)%11, (i*3)%11, (i*5)%11,"
                          " 'Slept ' || (i%9) || ' hours; knee pain after walking ' || (i%5) || ' km.' FROM n;";
        std::string cmd = "sqlite3 " + db + " \"" + sql + "\" >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0)
            files.emplace_back("journal", ReadFile(db));
        std::remove(db.c_str());
        Bytes random(1 << 20);
        std::mt19937 rng(1);
        for (auto& b : random)
            b = static_cast<std::uint8_t>(rng());
        files.emplace_back("random", std::move(random));
    }
    std::size_t totalSize() const {
        std::size_t n = 0;
        for (auto& f : files)
            n += f.second.size();
        return n;
    }
};

const Corpus& TheCorpus() {
    static const Corpus corpus;
    return corpus;
}

std::size_t OurDeflate(archive::ZipDeflater& d, const Bytes& in) {
    std::size_t pos = 0, produced = 0;
    archive::ZipDeflater::ReadFn read = [&](std::uint8_t* buf, std::size_t len) -> long {
        std::size_t n = std::min(len, in.size() - pos);
        if (n)
            std::memcpy(buf, in.data() + pos, n);
        pos += n;
        return static_cast<long>(n);
    };
    archive::ZipDeflater::FlushFn flush = [&](const std::uint8_t*, std::size_t n) {
        produced += n;
        return true;
    };
    static std::uint8_t out[16384];
    d.compress(read, flush, out, sizeof out, 8, nullptr);
    return produced;
}

std::size_t ZlibDeflate(const Bytes& in) {
    z_stream zs{};
    deflateInit2(&zs, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    static std::uint8_t out[16384];
    std::size_t produced = 0;
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    int rc;
    do {
        zs.next_out = out;
        zs.avail_out = sizeof out;
        rc = deflate(&zs, Z_FINISH);
        produced += sizeof out - zs.avail_out;
    } while (rc == Z_OK);
    deflateEnd(&zs);
    return produced;
}

void Report(benchmark::State& state, std::size_t in, std::size_t out) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in));
    state.counters["in_bytes"] = static_cast<double>(in);
    state.counters["out_bytes"] = static_cast<double>(out);
    state.counters["ratio_pct"] = 100.0 * static_cast<double>(out) / static_cast<double>(in);
}

void BM_OurDeflate(benchmark::State& state) {
    const auto& f = TheCorpus().files[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(f.first);
    auto d = std::make_unique<archive::ZipDeflater>();
    std::size_t out = 0;
    for (auto _ : state)
        out = OurDeflate(*d, f.second);
    Report(state, f.second.size(), out);
}

void BM_ZlibDeflate(benchmark::State& state) {
    const auto& f = TheCorpus().files[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(f.first);
    std::size_t out = 0;
    for (auto _ : state)
        out = ZlibDeflate(f.second);
    Report(state, f.second.size(), out);
}

void CorpusArgs(benchmark::internal::Benchmark* b) {
    for (std::size_t i = 0; i < TheCorpus().files.size(); ++i)
        b->Arg(static_cast<int64_t>(i));
}

BENCHMARK(BM_OurDeflate)->Apply(CorpusArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDeflate)->Apply(CorpusArgs)->Unit(benchmark::kMillisecond);

// One archive holding the whole corpus as one entry, written by our writer.
struct ExtractSetup {
    std::string folder;
    std::string zip;
    std::size_t size = 0;
    ExtractSetup() {
        std::string templ = benchsupport::tempPath("grv-bench-archive.XXXXXX");
        if (mkdtemp(templ.data()) == nullptr)
            std::abort();
        folder = templ;
        std::string data = folder + "/corpus.bin";
        {
            std::ofstream out(data, std::ios::binary);
            for (int round = 0; round < 4; ++round) {
                for (auto& f : TheCorpus().files) {
                    out.write(reinterpret_cast<const char*>(f.second.data()),
                              static_cast<std::streamsize>(f.second.size()));
                    size += f.second.size();
                }
            }
        }
        zip = folder + "/corpus.zip";
        ZipHandle* h = CreateZipArchive(zip.c_str(), nullptr);
        AddFileToZipArchive(h, "corpus.bin", data.c_str());
        CloseZipWriter(h);
        std::remove(data.c_str());
    }
    ~ExtractSetup() {
        std::remove(zip.c_str());
        std::remove((folder + "/out.bin").c_str());
        rmdir(folder.c_str());
    }
};

const ExtractSetup& TheArchive() {
    static const ExtractSetup setup;
    return setup;
}

void BM_OurExtract(benchmark::State& state) {
    const auto& a = TheArchive();
    ZipHandle* h = OpenZipArchive(a.zip.c_str(), nullptr);
    std::string target = a.folder + "/out.bin";
    for (auto _ : state) {
        if (ExtractZipEntryToFile(h, 0, target.c_str()) != ZipResult::Ok)
            state.SkipWithError("extract");
    }
    CloseZipReader(h);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(a.size));
}

void BM_UnzipPipe(benchmark::State& state) {
    const auto& a = TheArchive();
    std::string cmd = "unzip -p '" + a.zip + "' corpus.bin > /dev/null";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("unzip -p");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(a.size));
}

BENCHMARK(BM_OurExtract)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnzipPipe)->Unit(benchmark::kMillisecond)->UseRealTime();

// An archive of 65,534 entries, each a few bytes: opening it orders every
// entry by its local header, and listing reads each one's, in any order
// at the same cost. Beside `unzip -l`, which reads the central directory.
constexpr int kManyEntries = 0xFFFE;

struct ManySetup {
    std::string folder;
    std::string zip;
    ManySetup() {
        std::string templ = benchsupport::tempPath("grv-bench-many.XXXXXX");
        if (mkdtemp(templ.data()) == nullptr)
            std::abort();
        folder = templ;
        zip = folder + "/many.zip";
        ZipHandle* h = CreateZipArchive(zip.c_str(), nullptr);
        for (int i = 0; i < kManyEntries; ++i) {
            const std::string name = "entry" + std::to_string(i) + ".txt";
            addZipEntry(h, name.c_str(), name.data(), name.size(), archive::kZipSourceMemory);
        }
        CloseZipWriter(h);
    }
    ~ManySetup() {
        std::remove(zip.c_str());
        rmdir(folder.c_str());
    }
};

const ManySetup& TheManyArchive() {
    static const ManySetup setup;
    return setup;
}

enum ListOrder : int { kOpenOnly, kForward, kBackward, kShuffled };

void BM_OurOpenMany(benchmark::State& state) {
    const auto& a = TheManyArchive();
    const auto order = static_cast<ListOrder>(state.range(0));
    static const char* const kLabels[] = {"open", "open and list", "open and list last to first",
                                          "open and list shuffled"};
    state.SetLabel(kLabels[order]);
    std::vector<int> indexes(kManyEntries);
    for (int i = 0; i < kManyEntries; ++i)
        indexes[static_cast<std::size_t>(i)] = order == kBackward ? kManyEntries - 1 - i : i;
    if (order == kShuffled)
        std::shuffle(indexes.begin(), indexes.end(), std::mt19937(7));
    for (auto _ : state) {
        ZipHandle* h = OpenZipArchive(a.zip.c_str(), nullptr);
        ZipEntryInfo rec;
        if (!h || GetZipArchiveEntry(h, -1, &rec) != ZipResult::Ok || rec.index != kManyEntries)
            state.SkipWithError("open");
        for (std::size_t k = 0; order != kOpenOnly && k < indexes.size(); ++k) {
            if (GetZipArchiveEntry(h, indexes[k], &rec) != ZipResult::Ok)
                state.SkipWithError("list");
        }
        CloseZipReader(h);
    }
}

void BM_UnzipListMany(benchmark::State& state) {
    const std::string cmd = "unzip -l '" + TheManyArchive().zip + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("unzip -l");
    }
}

BENCHMARK(BM_OurOpenMany)->DenseRange(kOpenOnly, kShuffled)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnzipListMany)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
