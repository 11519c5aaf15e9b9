#pragma once
// A new journal "journal.grv" in a folder of its own, read back through the
// sqlite3 shell. Header-only, so only the tests that link the store need it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "tests/support/TestSupport.h"

namespace grvtest {

inline constexpr const char* kEntryTime = "2024-03-05 09:07:30";

// An unsaved entry the store accepts.
inline CEntry MakeEntry(const std::string& subject = "Morning", const std::string& ts = kEntryTime, int cpl = 4) {
    CEntry e;
    e.ts = ts;
    e.sbj = subject;
    e.entry = "body";
    e.wpl = 7;
    e.apl = 5;
    e.lpl = 2;
    e.cpl = cpl;
    return e;
}

// An unsaved medicine taken every four hours.
inline CMedicine MakeMedicine(const std::string& name, int size = 100, const std::string& measure = "mg",
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
    return m;
}

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
    int AddEntry(const std::string& subject = "Morning", const std::string& ts = kEntryTime, int cpl = 4) {
        return Stored(MakeEntry(subject, ts, cpl)).id;
    }
    CEntry Stored(CEntry e) {
        EXPECT_EQ(m_db.SaveEntry(e), 1) << m_db.GetLastErrorText();
        return e;
    }
    // An action of entry eid; its id.
    int AddAction(int eid, const std::string& name, const std::string& cat, int plmod = 0, int durmin = 0) {
        CEntryActions a;
        a.eid = eid;
        a.name = name;
        a.cat = cat;
        a.plmod = plmod;
        a.durmin = durmin;
        EXPECT_EQ(m_db.SaveEntryActions(a), 1) << m_db.GetLastErrorText();
        return a.id;
    }
    CMedicine AddMedicine(const std::string& name, int size = 100, const std::string& measure = "mg",
                          const std::string& form = "Tablet", int take = 2) {
        CMedicine m = MakeMedicine(name, size, measure, form, take);
        EXPECT_EQ(m_db.SaveMedicine(m), 1) << m_db.GetLastErrorText();
        return m;
    }

    // One column of a list the store filled.
    static std::vector<std::string> Column(const ListRows& rows, size_t column) {
        std::vector<std::string> out;
        for (const auto& row : rows)
            out.push_back(row.texts.at(column));
        return out;
    }

    TempDir m_dir; // outlives the connection below
    CJournalDb m_db;
};

class JournalTest : public ::testing::Test, protected Journal {
protected:
    void SetUp() override { OpenJournal(); }
};

} // namespace grvtest
