#pragma once
// A new journal "journal.grv" in a folder of its own, read back through the
// sqlite3 shell. Header-only, so only the tests that link the store need it.
#include <gtest/gtest.h>

#include <string>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
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

    // Builders of stored records. An entry; its id.
    int AddEntry(const std::string& subject = "Morning") {
        CEntry e;
        e.ts = "2024-03-05 09:07:30";
        e.sbj = subject;
        e.entry = "body";
        e.wpl = 7;
        e.apl = 5;
        e.lpl = 2;
        e.cpl = 4;
        EXPECT_EQ(m_db.SaveEntry(e), 1) << m_db.GetLastErrorText();
        return e.id;
    }
    CMedicine AddMedicine(const std::string& name, int size = 100, const std::string& measure = "mg",
                          const std::string& form = "Tablet", int take = 2) {
        CMedicine m;
        m.name = name;
        m.dos_size = size;
        m.dos_msr = measure;
        m.dos_form = form;
        m.dos_qty = take;
        m.dos_dur_size = 4;
        m.dos_dur_form = "Hours";
        m.qty_per_span = 0;
        m.span_length = 0;
        m.desc = name + " notes";
        EXPECT_EQ(m_db.SaveMedicine(m), 1) << m_db.GetLastErrorText();
        return m;
    }

    TempDir m_dir; // outlives the connection below
    CJournalDb m_db;
};

class JournalTest : public ::testing::Test, protected Journal {
protected:
    void SetUp() override { OpenJournal(); }
};

} // namespace grvtest
