// The statements the records build are run against real journals by the
// store tests; these check only what a journal cannot show.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "app/store/EntryRecords.h"
#include "app/store/Medicine.h"
#include "tests/support/JournalFixture.h"

namespace {

template <typename Record>
std::function<std::string(int)> DeleteOf(int id) {
    return [id](int hard) {
        Record r;
        r.id = id;
        return r.GetDeleteSql(hard);
    };
}

TEST(StatementBuilders, DeletesMarkOrRemoveStoredRecordsOnly) {
    const std::pair<const char*, std::function<std::string(int)> (*)(int)> kinds[] = {
        {"entry", DeleteOf<CEntry>},
        {"entry_actions", DeleteOf<CEntryActions>},
        {"[entry_meds]", DeleteOf<CEntryMeds>},
        {"[entry_mood]", DeleteOf<CEntryMood>},
        {"[entry_question]", DeleteOf<CEntryQuestions>},
        {"[entry_sideff]", DeleteOf<CEntrySideEff>},
    };
    for (const auto& [table, of] : kinds) {
        SCOPED_TRACE(table);
        EXPECT_EQ(of(3)(0), std::string("UPDATE ") + table + " SET del='1' WHERE id='3'");
        EXPECT_EQ(of(3)(1), std::string("DELETE FROM ") + table + " WHERE id='3'");
        // An unstored record has no delete statement.
        EXPECT_EQ(of(-1)(0), "ERROR");
        EXPECT_EQ(of(-1)(1), "ERROR");
    }
    EXPECT_EQ(DeleteOf<CEntry>(0)(0), "UPDATE entry SET del='1' WHERE id='0'");
}

TEST(StatementBuilders, KeyValueIsEscaped) {
    CEntryQuestions q;
    q.eid = 12;
    q.q = "Dose change?";
    EXPECT_EQ(q.GetUpdateSql("id", "6' OR '1'='1"),
              "UPDATE [entry_question] SET eid=12, q='Dose change?', a='', ref='' WHERE id='6'' OR ''1''=''1'");
}

TEST(Records, ResetRestoresStartValues) {
    CEntry e = grvtest::MakeEntry();
    e.id = e.eid = 12;
    CEntrySideEff s;
    s.id = 7, s.eid = 12, s.mid = 2, s.vomit = 10;
    CMedicine m = grvtest::MakeMedicine("Ibuprofen");
    m.id = 7;
    e.Reset();
    static_cast<CEntryBase&>(s).Reset(); // through the base, as the dialogs hold records
    m.Reset();
    EXPECT_EQ(e.GetInsertSql() + s.GetInsertSql() + m.GetInsertSql(),
              CEntry().GetInsertSql() + CEntrySideEff().GetInsertSql() + CMedicine().GetInsertSql());
    EXPECT_EQ(std::make_tuple(e.id, e.eid, s.id, m.id), std::make_tuple(-1, -1, -1, -1));
}

} // namespace
