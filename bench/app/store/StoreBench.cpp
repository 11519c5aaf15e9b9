// The data store beside the same statements run straight through SQLite:
// saving 100,000 entries, listing, searching and summarising them.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/JournalSchema.h"
#include "bench/BenchSupport.h"

namespace {

const int kEntries = benchsupport::smokeRun() ? 100 : 100000;

// tmpfs where there is one, so the disk's flush time does not drown the rest.
std::string BenchFolder() {
    static const std::string folder = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        if (const char* dir = std::getenv("GRV_BENCH_DIR"))
            base = dir;
        std::string pattern = base + "/grv-bench.XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

void RemoveJournal(const std::string& name) {
    const std::string path = BenchFolder() + "/" + name;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        unlink((path + suffix).c_str());
}

CEntry EntryNumber(int i) {
    CEntry e;
    char ts[32];
    std::snprintf(ts, sizeof ts, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + i / 8760 % 100, 1 + i / 720 % 12,
                  1 + i / 24 % 28, i % 24, i % 60, i * 7 % 60);
    e.ts = ts;
    e.wpl = i % 11;
    e.apl = (i / 3) % 11;
    e.lpl = (i / 7) % 11;
    e.cpl = (i / 5) % 11;
    e.sbj = (i % 10 == 0) ? "Knee after a long walk" : "Back, it's stiff";
    e.entry = "Slept badly; \"pain\" rose in the afternoon.";
    return e;
}

bool OpenStore(CJournalDb& db, const std::string& name, int create) {
    db.SetFolder(BenchFolder());
    db.SetFileName(name);
    return db.Open(create);
}

sqlite3* OpenDirect(const std::string& name, bool create) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2((BenchFolder() + "/" + name).c_str(), &db, flags, nullptr) != SQLITE_OK) {
        std::abort();
    }
    if (create) {
        for (const auto& s : JournalSchemaStatements()) {
            sqlite3_exec(db, s.sql.c_str(), nullptr, nullptr, nullptr);
        }
    }
    return db;
}

// One journal of kEntries made through the store, shared by the read benchmarks.
const char* const kSharedJournal = "shared.grv";

void EnsureSharedJournal() {
    static const bool made = [] {
        RemoveJournal(kSharedJournal);
        CJournalDb db;
        if (!OpenStore(db, kSharedJournal, 1))
            std::abort();
        for (int i = 0; i < kEntries; ++i) {
            CEntry e = EntryNumber(i);
            if (!db.SaveEntry(e))
                std::abort();
        }
        return true;
    }();
    (void)made;
}

void BM_SaveEntries_Store(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        RemoveJournal("save-store.grv");
        CJournalDb db;
        if (!OpenStore(db, "save-store.grv", 1))
            std::abort();
        state.ResumeTiming();
        for (int i = 0; i < kEntries; ++i) {
            CEntry e = EntryNumber(i);
            if (!db.SaveEntry(e))
                std::abort();
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_SaveEntries_Direct(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        RemoveJournal("save-direct.grv");
        sqlite3* db = OpenDirect("save-direct.grv", true);
        state.ResumeTiming();
        for (int i = 0; i < kEntries; ++i) {
            // The statement the store runs, built the same way.
            const std::string sql = EntryNumber(i).GetInsertSql();
            if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
                std::abort();
            benchmark::DoNotOptimize(sqlite3_last_insert_rowid(db));
        }
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

// Rows of a query the way the store reads them: every column as text.
size_t DirectRows(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
        std::abort();
    const int columns = sqlite3_column_count(st);
    std::vector<std::vector<std::string>> rows;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < columns; ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            row.emplace_back(text ? text : "");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return rows.size();
}

void BM_ListEntries_Store(benchmark::State& state) {
    EnsureSharedJournal();
    CJournalDb db;
    if (!OpenStore(db, kSharedJournal, 0))
        std::abort();
    for (auto _ : state) {
        ListRows rows;
        db.FillEntryList("*", "", rows);
        if (rows.size() != static_cast<std::size_t>(kEntries))
            std::abort();
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_ListEntries_Direct(benchmark::State& state) {
    EnsureSharedJournal();
    sqlite3* db = OpenDirect(kSharedJournal, false);
    for (auto _ : state) {
        const size_t n = DirectRows(db, "SELECT id,ts,sbj,cpl,lpl,apl,wpl from [Entry] where del=0 order by ts asc");
        if (n != static_cast<std::size_t>(kEntries))
            std::abort();
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_SearchEntries_Store(benchmark::State& state) {
    EnsureSharedJournal();
    CJournalDb db;
    if (!OpenStore(db, kSharedJournal, 0))
        std::abort();
    for (auto _ : state) {
        ListRows rows;
        db.FindEntries("sbj", "it's", rows);
        if (rows.size() != static_cast<std::size_t>(kEntries / 10 * 9))
            std::abort();
    }
}

void BM_SearchEntries_Direct(benchmark::State& state) {
    EnsureSharedJournal();
    sqlite3* db = OpenDirect(kSharedJournal, false);
    for (auto _ : state) {
        const size_t n = DirectRows(db, "SELECT id,ts,apl,sbj from [Entry] where del=0 AND sbj like "
                                        "'%it''s%' order by ts asc");
        if (n != static_cast<std::size_t>(kEntries / 10 * 9))
            std::abort();
    }
    sqlite3_close(db);
}

void BM_Summarise_Store(benchmark::State& state) {
    EnsureSharedJournal();
    CJournalDb db;
    if (!OpenStore(db, kSharedJournal, 0))
        std::abort();
    for (auto _ : state) {
        float worst = 0, lowest = 0, current = 0;
        if (!db.GetPainSummary(worst, lowest, current))
            std::abort();
        std::vector<int> trend;
        db.GetPainTrend(3, trend);
        benchmark::DoNotOptimize(trend.data());
    }
}

void BM_Summarise_Direct(benchmark::State& state) {
    EnsureSharedJournal();
    sqlite3* db = OpenDirect(kSharedJournal, false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            DirectRows(db, "select MAX(wpl), MIN(lpl), ROUND(AVG(cpl),0) from [entry] where del=0;"));
        benchmark::DoNotOptimize(DirectRows(db, "SELECT cpl from [Entry] WHERE del=0 order by ts desc limit 81"));
    }
    sqlite3_close(db);
}

} // namespace

BENCHMARK(BM_SaveEntries_Store)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveEntries_Direct)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListEntries_Store)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListEntries_Direct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchEntries_Store)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchEntries_Direct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Summarise_Store)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Summarise_Direct)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchsupport::runRegistered(argc, argv);
    for (const char* name : {kSharedJournal, "save-store.grv", "save-direct.grv"})
        RemoveJournal(name);
    rmdir(BenchFolder().c_str());
    return 0;
}
