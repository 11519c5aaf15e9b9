#pragma once
// Shared helpers of the store tests: a private folder per test and the
// reference peers (the sqlite3 shell, python's sqlite3 module).
#include <gtest/gtest.h>

#include <string>

#include "app/store/JournalDb.h"

namespace storetest {

// A fresh folder under TMPDIR, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a shell command; its standard output, with the exit status in *status.
std::string RunCommand(const std::string& command, int* status = nullptr);
std::string ShellQuote(const std::string& text);
// Runs sql through the sqlite3 shell on file (list mode, '|' separated).
std::string SqliteCli(const std::string& file, const std::string& sql, int* status = nullptr);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// A store with a new journal "journal.grv" in its own folder.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    std::string JournalPath() const { return m_dir.File("journal.grv"); }
    std::string Cli(const std::string& sql) { return SqliteCli(JournalPath(), sql); }

    TempDir m_dir;
    CJournalDb m_db;
};

}  // namespace storetest
