// The memory a backup takes, whatever the journal's size: what a backup of
// a journal of 300 MB adds to its process's resident size at its peak, in
// rollback mode and in WAL mode with entries still in its -wal, beside the
// peak of the sqlite3 shell's .backup of the same journal and of a plain cp
// of its file (GNU time's figures). A backup once held
// the journal three times over in memory (632 MiB for 196 MB); its growth
// must stay under a fixed ceiling.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/shell/JournalFiles.h"
#include "app/store/JournalDb.h"
#include "bench/BenchSupport.h"

namespace {

constexpr double kKiB = 1024.0;
// What a backup may add to the process's resident size, journal of any size.
constexpr double kCeilingMiB = 64;
// The journal's size: 300 MB, or a tiny one in a smoke run.
const std::size_t kJournalBytes = benchsupport::inputSize(300u << 20, 1u << 20);
constexpr int kEntryBytes = 2000;

bool Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A journal made by the store, filled with entries of random text.
bool MakeJournal(const std::string& folder, const std::string& name, sqlite3** keep, bool wal) {
    CJournalDb db;
    db.SetFolder(folder);
    db.SetFileName(name);
    if (!db.Open(1))
        return false;
    db.Close();
    sqlite3* raw = nullptr;
    const std::string path = folder + "/" + name;
    const std::size_t entries = kJournalBytes / kEntryBytes;
    const std::string fill = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                             std::to_string(entries) +
                             ") INSERT INTO entry(ts, sbj, entry, wpl, apl, lpl, cpl) SELECT "
                             "'2026-03-03 08:00:00', 'Entry ' || i, hex(randomblob(" +
                             std::to_string(kEntryBytes / 2) + ")), i % 11, i % 7, i % 5, i % 3 FROM n;";
    bool ok =
        sqlite3_open(path.c_str(), &raw) == SQLITE_OK && Exec(raw, "BEGIN") && Exec(raw, fill) && Exec(raw, "COMMIT");
    if (ok && wal) {
        // The latest entries stay in the -wal while this connection is open.
        ok = Exec(raw, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;") &&
             Exec(raw, "INSERT INTO entry(ts, sbj, entry) SELECT ts, 'Late', entry FROM entry LIMIT 1000;");
    }
    if (ok && keep) {
        *keep = raw;
        return true;
    }
    sqlite3_close(raw);
    return ok;
}

// Our backup in a child of its own: its peak resident size and the part of
// it the backup added, in KiB; negative when the backup failed.
std::pair<double, double> OurPeak(const std::string& journal, const std::string& archive) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {-1, -1};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        // The high-water mark starts again from what the process holds now.
        benchsupport::resetPeak();
        const double before = static_cast<double>(benchsupport::statusKb("VmRSS"));
        const bool done = grv::WriteJournalBackup(journal, archive, "journal.grv", "", [] { return true; }) ==
                          grv::BackupOutcome::Done;
        const double figures[2] = {done ? static_cast<double>(benchsupport::statusKb("VmHWM")) : -1, before};
        const ssize_t written = ::write(pipeFds[1], figures, sizeof figures);
        ::_exit(written == sizeof figures ? 0 : 1);
    }
    ::close(pipeFds[1]);
    double figures[2] = {-1, 0};
    const bool read = child > 0 && ::read(pipeFds[0], figures, sizeof figures) == sizeof figures;
    ::close(pipeFds[0]);
    int status = 0;
    if (child > 0)
        ::waitpid(child, &status, 0);
    if (!read)
        return {-1, -1};
    return {figures[0], figures[0] - figures[1]};
}

// One journal's line; false when the backup went over the ceiling or failed.
bool MeasureJournal(const std::string& folder, const char* mode, bool wal) {
    const std::string name = std::string(mode) + ".grv";
    const std::string journal = folder + "/" + name;
    sqlite3* keep = nullptr;
    if (!MakeJournal(folder, name, &keep, wal)) {
        std::printf("could not make the %s journal\n", mode);
        return false;
    }
    const auto [peak, growth] = OurPeak(journal, folder + "/" + mode + ".grz");
    const double shell =
        benchsupport::programPeakKib(folder, {"/usr/bin/sqlite3", journal, ".backup '" + folder + "/shell-copy.grv'"});
    const double copy = benchsupport::programPeakKib(folder, {"/usr/bin/cp", journal, folder + "/cp-copy.grv"});
    sqlite3_close(keep);
    const double megabytes = static_cast<double>(kJournalBytes) / 1e6;
    std::printf("backup of a %3.0f MB journal, %-8s ours peak %7.1f MiB (backup +%6.1f MiB)  sqlite3 .backup %7.1f "
                "MiB  cp %6.1f MiB  ceiling +%.0f MiB\n",
                megabytes, mode, peak / kKiB, growth / kKiB, shell / kKiB, copy / kKiB, kCeilingMiB);
    std::fflush(stdout);
    for (const char* leftover : {"shell-copy.grv", "cp-copy.grv"})
        std::remove((folder + "/" + leftover).c_str());
    std::remove((folder + "/" + mode + ".grz").c_str());
    if (peak < 0) {
        std::printf("!! the backup failed\n");
        return false;
    }
    // Sanitizers' shadow memory makes a smoke run's figures no measure.
    if (!benchsupport::smokeRun() && growth / kKiB > kCeilingMiB) {
        std::printf("!! the backup took more than the ceiling\n");
        return false;
    }
    return true;
}

// The time of one backup of a small journal, for the record.
void BM_BackupOfAJournal(benchmark::State& state) {
    const std::string folder = benchsupport::tempPath("grv-bench-backup-timed");
    std::system(("mkdir -p '" + folder + "'").c_str());
    if (!MakeJournal(folder, "timed.grv", nullptr, false)) {
        state.SkipWithError("could not make the journal");
        return;
    }
    for (auto _ : state) {
        if (grv::WriteJournalBackup(folder + "/timed.grv", folder + "/timed.grz", "timed.grv", "",
                                    [] { return true; }) != grv::BackupOutcome::Done)
            state.SkipWithError("the backup failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kJournalBytes));
    std::system(("rm -rf '" + folder + "'").c_str());
}
BENCHMARK(BM_BackupOfAJournal)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    const std::string folder = benchsupport::tempPath("grv-bench-backup");
    std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str());
    bool within = MeasureJournal(folder, "rollback", false);
    within = MeasureJournal(folder, "wal", true) && within;
    std::system(("rm -rf '" + folder + "'").c_str());
    benchsupport::runRegistered(argc, argv);
    return within ? 0 : 1;
}
