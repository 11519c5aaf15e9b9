#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"
#include "tests/support/JournalFixture.h"

namespace {

using StoreTest = grvtest::JournalTest;
using Texts = std::vector<std::string>;

class QueriesTest : public StoreTest {
protected:
    // Entries 1..n, one a day from 2024-01-01, current pain = day % 11.
    void AddEntries(int n) {
        Cli("WITH RECURSIVE d(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM d WHERE i < " + std::to_string(n) +
            ") INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry) "
            "SELECT strftime('%Y-%m-%d %H:%M:%S', '2024-01-01 08:00:00', '+' || (i - 1) || ' days'),"
            " 10, 5, 0, i % 11, 'day ' || i, 'text' FROM d;");
    }
};

TEST_F(QueriesTest, CountDetailsCountsUndeletedRowsOfTheEntry) {
    for (int i = 0; i < 3; ++i) {
        CEntryActions a;
        a.eid = 1;
        ASSERT_EQ(m_db.SaveEntryActions(a), 1);
    }
    CEntryActions other;
    other.eid = 2;
    ASSERT_EQ(m_db.SaveEntryActions(other), 1);
    Cli("UPDATE entry_actions SET del=1 WHERE id=2;");
    EXPECT_EQ(m_db.CountDetails(1, 1), 2);
    EXPECT_EQ(m_db.CountDetails(1, 3), 0);
    EXPECT_EQ(m_db.CountDetails(1, 9), -1);
    EXPECT_EQ(m_db.GetLastErrorText(), "SQL Error: 1 :  SQL error or missing database \n");
}

TEST_F(QueriesTest, QueryFirstColumnAppendsEveryRow) {
    Cli("INSERT INTO entry_actions (eid, cat) VALUES (1, 'Rest'), (1, 'Exercise'), (2, 'Rest');");
    Texts out{"kept"};
    ASSERT_EQ(m_db.QueryFirstColumn("SELECT cat from [entry_actions] where del=0 group by cat order by cat asc", out),
              1);
    EXPECT_EQ(out, (Texts{"kept", "Exercise", "Rest"}));
    Texts nulls;
    ASSERT_EQ(m_db.QueryFirstColumn("SELECT NULL", nulls), 1);
    EXPECT_EQ(nulls, Texts{""});
    EXPECT_EQ(m_db.QueryFirstColumn("SELEC nothing", nulls), 0);
    EXPECT_EQ(m_db.GetLastErrorText(), "SQL Error: 1 :  SQL error or missing database \n");
}

TEST_F(QueriesTest, ActionCategoriesAndNamesForTheActionsDialog) {
    Cli("INSERT INTO entry_actions (eid, name, cat, del) VALUES (1, 'Walk', 'Rest', 0), "
        "(1, 'Walk', 'rest', 0), (1, 'Nap', 'Rest', 0), (1, 'Gone', 'Rest', 1), "
        "(1, 'Sale', '50%_off', 0), (1, 'Plain', '50xyoff', 0), (1, 'Slash', 'a\\b''c', 0);");
    Texts cats;
    ASSERT_TRUE(m_db.GetActionCategories(cats));
    EXPECT_EQ(cats, (Texts{"50%_off", "50xyoff", "Rest", "a\\b'c", "rest"}));
    struct Case {
        const char* category;
        Texts names;
    };
    const Case cases[] = {
        {"", {"Nap", "Plain", "Sale", "Slash", "Walk", "Walk"}}, // every name, repeats kept
        {"REST", {"Nap", "Walk"}},                               // ASCII case ignored, each once
        {"50%_off", {"Sale"}},                                   // wildcards are plain text
        {"a\\b'c", {"Slash"}},
        {"%", {}},
    };
    for (const Case& c : cases) {
        Texts names;
        ASSERT_TRUE(m_db.GetActionNames(c.category, names)) << m_db.GetLastErrorText();
        EXPECT_EQ(names, c.names) << c.category;
    }
}

TEST_F(QueriesTest, NumbersAreReadAsTheirLeadingIntegerLikeAtoi) {
    Cli("INSERT INTO entry (ts, wpl, apl, lpl, cpl) VALUES "
        "('2024-01-01 08:00:00', ' 7x', '7.9', '-3', '99999999999');");
    CEntry e;
    ASSERT_TRUE(m_db.LoadEntry("1", e));
    EXPECT_EQ(std::tie(e.wpl, e.apl, e.lpl, e.cpl), std::make_tuple(7, 7, -3, INT_MAX));
}

TEST_F(QueriesTest, PainTrendGivesTheNewest81NewestFirst) {
    std::vector<int> none;
    EXPECT_EQ(m_db.GetPainTrend(3, none), 1);
    EXPECT_TRUE(none.empty());

    AddEntries(100);
    Cli("UPDATE entry SET del=1 WHERE id=100;");
    std::vector<int> current;
    ASSERT_EQ(m_db.GetPainTrend(3, current), 1);
    ASSERT_EQ(current.size(), 81u);
    EXPECT_EQ(current.front(), 99 % 11);
    EXPECT_EQ(current.back(), 19 % 11);

    struct Case {
        int mode;
        int value;
    };
    for (const Case c : {Case{0, 0}, Case{1, 10}, Case{2, 5}}) {
        std::vector<int> out;
        ASSERT_EQ(m_db.GetPainTrend(c.mode, out), 1);
        ASSERT_EQ(out.size(), 81u);
        EXPECT_EQ(out[40], c.value) << c.mode;
    }
    std::vector<int> bad;
    EXPECT_EQ(m_db.GetPainTrend(4, bad), 0);
    EXPECT_TRUE(bad.empty());
}

TEST_F(QueriesTest, PainSummaryOfAnEmptyJournalLeavesOutputsAndCloses) {
    float worst = -7, lowest = -7, current = -7;
    EXPECT_EQ(m_db.GetPainSummary(worst, lowest, current), 0);
    EXPECT_EQ(worst, -7);
    EXPECT_EQ(current, -7);
    // Nothing is left pending on the connection, so closing works.
    EXPECT_EQ(m_db.Close(), 1);
    EXPECT_EQ(m_db.IsOpen(), 0);
    EXPECT_EQ(m_db.GetPainSummary(worst, lowest, current), 0);
}

TEST_F(QueriesTest, PainSummaryRoundsTheAverageCurrentLevel) {
    Cli("INSERT INTO entry (ts, wpl, lpl, cpl) VALUES ('2024-01-01 08:00:00', 6, 2, 3),"
        "('2024-01-02 08:00:00', 8, 1, 4), ('2024-01-03 08:00:00', 10, 0, 10);"
        "UPDATE entry SET del=1 WHERE id=3;");
    float worst = 0, lowest = 0, current = 0;
    ASSERT_EQ(m_db.GetPainSummary(worst, lowest, current), 1);
    EXPECT_EQ(std::tie(worst, lowest, current), std::make_tuple(8.0f, 1.0f, 4.0f));
}

TEST_F(QueriesTest, EntryDetailTextBlocks) {
    Texts empty;
    EXPECT_EQ(m_db.GetEntryMedsText(1, empty), 0);
    EXPECT_TRUE(empty.empty());

    Cli("INSERT INTO entry_meds (eid, mid, name, quantity, override, dosage, desc) "
        "VALUES (1, 2, 'Aspirin', 2, 0, '200 mg', 'after lunch');"
        "INSERT INTO entry_mood (eid, act, mood, walk, work, relat, sleep, life, concn) "
        "VALUES (1, 1, 2, 3, 4, 5, 6, 7, 8);"
        "INSERT INTO entry_question (eid, q, a, ref) VALUES (1, 'Why?', 'Because', 'r'),"
        "(1, 'gone', 'x', 'y'); UPDATE entry_question SET del=1 WHERE q='gone';");
    Texts meds;
    ASSERT_EQ(m_db.GetEntryMedsText(1, meds), 1);
    EXPECT_EQ(meds, Texts{"Aspirin (2) 200 mg - 0\r\nafter lunch\r\n"});

    Texts mood;
    ASSERT_EQ(m_db.GetEntryMoodText(1, mood), 1);
    EXPECT_EQ(mood, Texts{"How does the Pain Affect Daily...\r\n\r\n"
                          "Actions:\t\t\t1\r\nMood:\t\t\t2\r\nWalking:\t\t\t3\r\n"
                          "Working:\t\t\t4\r\nRelationships:\t\t5\r\nSleep:\t\t\t6\r\n"
                          "Concentration:\t\t8\r\nLife:\t\t\t7\r\n"});

    Texts questions;
    ASSERT_EQ(m_db.GetEntryQuestionsText(1, questions), 1);
    EXPECT_EQ(questions, Texts{"(1) Q:Why?\r\nA: Because\r\n"});
    EXPECT_EQ(m_db.GetEntryQuestionsText(2, questions), 1); // the array already holds one

    ASSERT_EQ(m_db.Close(), 1);
    Texts closed;
    EXPECT_EQ(m_db.GetEntryMedsText(1, closed), 0);
    EXPECT_EQ(m_db.GetEntryMoodText(1, closed), 0);
}

TEST_F(QueriesTest, SideEffectBlocksNameGeneralKnownAndRemovedMedicines) {
    AddMedicine("Filler", 1, "g");
    const int aspirin = AddMedicine("Aspirin", 100, "mg").id;
    const int removed = AddMedicine("Gone", 5, "ml").id;
    Cli("DELETE FROM medicine_cabinet WHERE id=" + std::to_string(removed) + ";");
    Cli("INSERT INTO entry_sideff (eid, mid, appet, constip, insomn, itch, nausea, night, sweat,"
        " think, tired, vomit) VALUES (1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10), (1, " +
        std::to_string(aspirin) + ", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), (1, " + std::to_string(removed) +
        ", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);");
    Texts blocks;
    ASSERT_EQ(m_db.GetEntrySideEffText(1, blocks), 1);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], "General Symptoms/Side Effects\r\nAppetite:\t\t\t1\r\nConstipation:\t\t2\r\n"
                         "Insomnia:\t\t3\r\nItching:\t\t\t4\r\nNausea:\t\t\t5\r\nNightmares:\t\t6\r\n"
                         "Sweating:\t\t\t7\r\nThinking:\t\t\t8\r\nTired:\t\t\t9\r\nVomitting:\t\t10\r\n");
    EXPECT_EQ(blocks[1].substr(0, blocks[1].find("\r\n")), "Medicine Name:\t\tAspirin 100mg");
    EXPECT_EQ(blocks[2].substr(0, blocks[2].find("\r\n")), "Medicine Name:\t\tN/A");
}

TEST_F(QueriesTest, EntryListShowsNewestFirstWithShortTimes) {
    AddEntry("Knee pain", "2024-03-05 09:07:30", 3);
    AddEntry("Back", "2024-03-07 10:00:00", 4);
    AddEntry("KNEE again", "2024-03-06 11:30:00", 5);
    const int gone = AddEntry("knee gone", "2024-03-08 12:00:00", 0);
    ASSERT_EQ(m_db.DeleteEntry(gone), 1);

    ListRows rows{ListRow{{"older row"}, std::nullopt}};
    ASSERT_EQ(m_db.FillEntryList("*", "", rows), 1);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Column(rows, 0), (Texts{"03-07 10:00", "03-06 11:30", "03-05 09:07", "older row"}));
    EXPECT_EQ(rows[0].texts, (Texts{"03-07 10:00", "Back", "4", "2", "5", "7"}));
    EXPECT_EQ(rows[0].data, 2);
    EXPECT_EQ(rows[2].data, 1);

    ListRows knee;
    ASSERT_EQ(m_db.FillEntryList("sbj", "knee", knee), 1);
    EXPECT_EQ(Column(knee, 1), (Texts{"KNEE again", "Knee pain"}));
}

TEST_F(QueriesTest, FindEntriesSearchesSafely) {
    AddEntry("it's sore", "2024-03-05 09:07:30", 3);
    AddEntry("fine", "2024-03-06 09:00:00", 0);
    const int gone = AddEntry("deleted it's", "2024-03-07 09:00:00", 0);
    ASSERT_EQ(m_db.DeleteEntry(gone), 1);

    ListRows found;
    ASSERT_EQ(m_db.FindEntries("sbj", "it's", found), 1) << m_db.GetLastErrorText();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].texts, (Texts{"1", "2024-03-05 09:07:30", "it's sore", "5"}));
    EXPECT_FALSE(found[0].data.has_value());

    ListRows injected;
    ASSERT_EQ(m_db.FindEntries("sbj", "' OR 1=1 --", injected), 1);
    EXPECT_TRUE(injected.empty());
    ListRows all;
    ASSERT_EQ(m_db.FindEntries("*", "", all), 1);
    EXPECT_EQ(Column(all, 0), (Texts{"2", "1"}));

    ListRows refused;
    EXPECT_EQ(m_db.FindEntries("del", "1", refused), 0);
    EXPECT_EQ(m_db.FillEntryList("1=1 OR sbj", "", refused), 0);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(m_db.GetLastErrorText(), SqlFormat(kErrUnknownSearchField, "1=1 OR sbj"));
    for (const char* column : {"ts", "entry"}) {
        ListRows ok;
        EXPECT_EQ(m_db.FindEntries(column, "2024", ok), 1) << column;
    }
}

TEST_F(QueriesTest, DetailListsShowTheHighestIdFirst) {
    Cli("INSERT INTO entry_actions (id, eid, name, cat) VALUES (4, 1, 'Walk', 'Exercise'),"
        "(7, 1, 'Nap', 'Rest'), (9, 1, 'Swim', 'Exercise'), (10, 2, 'Other', 'x'),"
        "(11, 1, 'Gone', 'x'); UPDATE entry_actions SET del=1 WHERE id=11;");
    ListRows actions;
    ASSERT_EQ(m_db.FillDetailList(actions, 1, 1), 1);
    EXPECT_EQ(Column(actions, 0), (Texts{"9", "7", "4"}));
    EXPECT_EQ(Column(actions, 1), (Texts{"Swim [Exercise]", "Nap [Rest]", "Walk [Exercise]"}));

    AddEntry("one", "2024-01-01 08:00:00", 0);
    AddEntry("two", "2024-01-02 08:00:00", 0);
    ListRows journal;
    ASSERT_EQ(m_db.FillDetailList(journal, 2, 12345), 1);
    EXPECT_EQ(Column(journal, 1), (Texts{"two", "one"}));

    Cli("INSERT INTO entry_meds (eid, name, dosage) VALUES (1, 'Aspirin', '2 x 100 mg');"
        "INSERT INTO entry_mood (eid) VALUES (1), (1);"
        "INSERT INTO entry_question (eid, q) VALUES (1, 'Why?');");
    ListRows meds, mood, questions;
    ASSERT_EQ(m_db.FillDetailList(meds, 3, 1), 1);
    EXPECT_EQ(Column(meds, 1), Texts{"Aspirin 2 x 100 mg"});
    ASSERT_EQ(m_db.FillDetailList(mood, 4, 1), 1);
    EXPECT_EQ(Column(mood, 1), (Texts{kMoodDetailLabel, kMoodDetailLabel}));
    EXPECT_EQ(Column(mood, 0), (Texts{"2", "1"}));
    ASSERT_EQ(m_db.FillDetailList(questions, 5, 1), 1);
    EXPECT_EQ(Column(questions, 1), Texts{"Why?"});

    ListRows none;
    EXPECT_EQ(m_db.FillDetailList(none, 9, 1), 1);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(m_db.GetLastErrorText().rfind("Error: 21 : ", 0), 0u);
}

TEST_F(QueriesTest, SideEffectDetailListShowsEveryRecord) {
    const int ibu = AddMedicine("Ibuprofen", 200, "mg").id;
    const int removed = AddMedicine("Gone", 5, "ml").id;
    Cli("DELETE FROM medicine_cabinet WHERE id=" + std::to_string(removed) +
        ";"
        "INSERT INTO entry_sideff (eid, mid) VALUES (1, 0), (1, " +
        std::to_string(ibu) + "), (1, " + std::to_string(removed) + "), (1, -1), (2, " + std::to_string(ibu) + ");");
    ListRows rows;
    ASSERT_EQ(m_db.FillDetailList(rows, 6, 1), 1);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Column(rows, 0), (Texts{"4", "3", "2", "1"}));
    EXPECT_EQ(Column(rows, 1), (Texts{kGeneralSideEffects, "N/A", "Ibuprofen 200mg", kGeneralSideEffects}));
}

TEST_F(QueriesTest, QueryAllRowsGivesExactlyTheWantedColumns) {
    AddEntry("one", "2024-01-01 08:00:00", 3);
    AddEntry("two", "2024-01-02 08:00:00", 4);
    ReportRows rows{{"earlier"}};
    ASSERT_EQ(m_db.QueryAllRows("SELECT id, sbj, NULL FROM entry ORDER BY id", 5, rows), 1);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], (ReportRow{"1", "one", "", "", ""}));
    EXPECT_EQ(rows[2], (ReportRow{"2", "two", "", "", ""}));

    ReportRows narrow;
    EXPECT_EQ(m_db.QueryAllRows("SELECT id, sbj, cpl FROM entry", 2, narrow), 0);
    EXPECT_TRUE(narrow.empty());
    EXPECT_EQ(m_db.GetLastErrorText(), SqlFormat(kErrTooManyColumns, 3, 2));

    ReportRows empty;
    EXPECT_EQ(m_db.QueryAllRows("SELECT id FROM entry WHERE del=1", 1, empty), 1);
    EXPECT_TRUE(empty.empty());

    ReportRows failing;
    EXPECT_EQ(m_db.QueryAllRows("SELECT nothing FROM entry", 1, failing), 0);
    EXPECT_EQ(m_db.GetLastErrorText(), "SQL Error: 1 :  SQL error or missing database \n");
}

TEST_F(QueriesTest, QueryAllRowsStopsAtAFailingStep) {
    AddEntry("one", "2024-01-01 08:00:00", 0);
    AddEntry("two", "2024-01-02 08:00:00", 0);
    ReportRows rows;
    // abs() of the smallest integer overflows when the second row is read.
    EXPECT_EQ(m_db.QueryAllRows("SELECT CASE id WHEN 1 THEN sbj ELSE abs(-9223372036854775807 - 1) "
                                "END FROM entry ORDER BY id",
                                1, rows),
              0);
    EXPECT_EQ(rows, (ReportRows{{"one"}}));
    EXPECT_EQ(m_db.GetLastErrorText(), "Error: 1 : integer overflow\n");
}

} // namespace
