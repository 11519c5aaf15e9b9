#pragma once
// A new journal "journal.grv" in a folder of its own, read back through the
// sqlite3 shell. Header-only, so only the tests that link the store need it.
#include <gtest/gtest.h>

#include <string>

#include "app/store/JournalDb.h"
#include "tests/support/TestSupport.h"

namespace grvtest {

// Mixed into a fixture; OpenJournal() from its SetUp.
class Journal {
protected:
    void OpenJournal() {
        m_db.SetFolder(m_dir.Path());
        m_db.SetFileName("journal.grv");
        ASSERT_EQ(m_db.Open(1), 1) << m_db.GetLastErrorText();
    }
    std::string JournalPath() const { return m_dir.File("journal.grv"); }
    // The journal as the sqlite3 shell reads it ('|' between columns).
    std::string Cli(const std::string& sql) const { return SqliteCli(JournalPath(), sql).out; }

    TempDir m_dir; // outlives the connection below
    CJournalDb m_db;
};

class JournalTest : public ::testing::Test, protected Journal {
protected:
    void SetUp() override { OpenJournal(); }
};

} // namespace grvtest
