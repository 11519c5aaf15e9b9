// Opening a journal of 10,000 entries through Database Open and filling the
// entries list, as the user sees it after choosing the file.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

#include "app/shell/GRVDlg.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "bench/BenchSupport.h"
#include "platform/ui/Scripted.h"

namespace {

const int kEntries = benchsupport::smokeRun() ? 50 : 10000;

QString g_journal;

// Made by the store, filled in one transaction so the set-up stays quick.
bool MakeJournal(const QString& folder) {
    CJournalDb db;
    db.SetFolder(folder.toStdString());
    db.SetFileName("big.grv");
    if (!db.Open(1))
        return false;
    db.Close();
    sqlite3* raw = nullptr;
    const std::string path = (folder + "/big.grv").toStdString();
    if (sqlite3_open(path.c_str(), &raw) != SQLITE_OK)
        return false;
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kEntries; ++i) {
        char sql[256];
        std::snprintf(sql, sizeof sql,
                      "INSERT INTO entry (ts,wpl,apl,lpl,cpl,sbj,entry) VALUES "
                      "('%04d-%02d-%02d %02d:%02d:00',%d,%d,%d,%d,'Entry number %d','text')",
                      2000 + i / 400, 1 + i / 33 % 12, 1 + i % 28, i % 24, i % 60, i % 11, (i + 3) % 11, i % 5,
                      (i + 7) % 11, i);
        sqlite3_exec(raw, sql, nullptr, nullptr, nullptr);
    }
    const bool ok = sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(raw);
    return ok;
}

class Window {
public:
    Window() {
        dlg.setAttribute(Qt::WA_DontShowOnScreen);
        dlg.show();
        QCoreApplication::processEvents();
    }
    void Open() {
        files->Queue(g_journal);
        dlg.OnCommand(grv::ID_DATABASE_OPEN);
    }
    std::shared_ptr<platform::ui::ScriptedPrompter> prompter = std::make_shared<platform::ui::ScriptedPrompter>();
    std::shared_ptr<platform::ui::ScriptedFileChooser> files = std::make_shared<platform::ui::ScriptedFileChooser>();
    platform::ui::ScopedSeams seams{{prompter, files, nullptr, nullptr}};
    CGRVDlg dlg;
};

void BM_DatabaseOpenFillsTheList(benchmark::State& state) {
    Window w;
    for (auto _ : state)
        w.Open();
    auto* list = w.dlg.findChild<QTreeWidget*>(QString::number(grv::IDC_ENTRY_LIST));
    if (!w.dlg.Db().IsOpen() || list->topLevelItemCount() != kEntries)
        state.SkipWithError("the list does not hold every entry");
    state.counters["entries"] = list->topLevelItemCount();
}
BENCHMARK(BM_DatabaseOpenFillsTheList)->Unit(benchmark::kMillisecond);

void BM_RefreshEntryList(benchmark::State& state) {
    Window w;
    w.Open();
    for (auto _ : state)
        w.dlg.RefreshEntryList();
}
BENCHMARK(BM_RefreshEntryList)->Unit(benchmark::kMillisecond);

void BM_RefreshTrend(benchmark::State& state) {
    Window w;
    w.Open();
    for (auto _ : state)
        w.dlg.RefreshTrend();
}
BENCHMARK(BM_RefreshTrend)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    // Headless, and nothing reaches the real profile.
    QTemporaryDir home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    // The profile is new: without this the first-run wizard would open over
    // the window and wait for a user who is not there.
    grv::WriteProfileInt(grv::kSectionPrefs, grv::kFirstTimeWiz, 0);
    if (!MakeJournal(home.path())) {
        std::fprintf(stderr, "could not make the journal\n");
        return 1;
    }
    g_journal = home.filePath("big.grv");
    benchsupport::runRegistered(argc, argv);
    return 0;
}
