#include <gtest/gtest.h>
#include <sqlite3.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <string>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"
#include "platform/Cp1252Text.h"
#include "tests/support/JournalFixture.h"

namespace {

using StoreTest = grvtest::JournalTest;

// An unsaved entry whose pain levels the store accepts.
CEntry AtTime(const char* ts) {
    CEntry e;
    e.ts = ts;
    e.wpl = e.apl = e.lpl = e.cpl = 5;
    return e;
}

// A failed write's last error: the start of its statement, then the reason.
std::string WriteFailure(const char* format, const std::string& path, const std::string& sql,
                         const std::string& reason) {
    const std::string start =
        sql.size() <= kShownStatementBytes ? sql : sql.substr(0, kShownStatementBytes) + kStatementCut;
    return SqlFormat(format, path.c_str(), start.c_str()) + SqlFormat(kErrReason, reason.c_str());
}

class EntryStoreTest : public StoreTest {
protected:
    CEntry NewEntry(const char* ts, const char* sbj, int cpl = 3) {
        CEntry e;
        e.ts = ts;
        e.sbj = sbj;
        e.entry = "text";
        e.wpl = 7;
        e.apl = 5;
        e.lpl = 1;
        e.cpl = cpl;
        EXPECT_EQ(m_db.SaveEntry(e), 1) << m_db.GetLastErrorText();
        return e;
    }
    std::string Row(const std::string& table, const std::string& columns, int id) {
        return Cli("SELECT " + columns + " FROM " + table + " WHERE id=" + std::to_string(id) + ";");
    }
};

TEST_F(EntryStoreTest, EntryRoundTripsThroughTheFile) {
    CEntry e = NewEntry("2024-03-05 09:07:30", "Knee", 4);
    EXPECT_EQ(e.id, 1);
    EXPECT_EQ(Row("entry", "*", e.id), "1|2024-03-05 09:07:30|7|5|1|4|Knee|text|0\n");

    CEntry back;
    ASSERT_EQ(m_db.LoadEntry("1", back), 1);
    EXPECT_EQ(back.id, 1);
    EXPECT_EQ(back.ts, e.ts);
    EXPECT_EQ(back.wpl, 7);
    EXPECT_EQ(back.apl, 5);
    EXPECT_EQ(back.lpl, 1);
    EXPECT_EQ(back.cpl, 4);
    EXPECT_EQ(back.sbj, "Knee");
    EXPECT_EQ(back.entry, "text");

    back.sbj = "Left knee";
    back.cpl = 6;
    ASSERT_EQ(m_db.SaveEntry(back), 1);
    EXPECT_EQ(back.id, 1);
    EXPECT_EQ(Row("entry", "sbj, cpl", 1), "Left knee|6\n");
    EXPECT_EQ(Cli("SELECT count(*) FROM entry;"), "1\n");
}

TEST_F(EntryStoreTest, DetailRecordsRoundTripThroughTheFile) {
    CEntryActions act;
    act.eid = 1;
    act.name = "Walk";
    act.cat = "Exercise";
    act.plmod = -3;
    act.durmin = 45;
    act.ref = "physio";
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    EXPECT_EQ(Row("entry_actions", "*", act.id), "1|1|Walk|Exercise|-3|45|physio|0\n");
    CEntryActions actBack;
    ASSERT_EQ(m_db.LoadEntryActions("1", actBack), 1);
    EXPECT_EQ(actBack.eid, 1);
    EXPECT_EQ(actBack.name, "Walk");
    EXPECT_EQ(actBack.cat, "Exercise");
    EXPECT_EQ(actBack.plmod, -3);
    EXPECT_EQ(actBack.durmin, 45);
    EXPECT_EQ(actBack.ref, "physio");

    CEntryMeds meds;
    meds.eid = 1;
    meds.mid = 2;
    meds.name = "Ibuprofen (200 mg) Tablet";
    meds.quantity = 2;
    meds.override = 1;
    meds.dosage = "400 mg";
    meds.desc = "with food";
    ASSERT_EQ(m_db.SaveEntryMeds(meds), 1);
    EXPECT_EQ(Row("entry_meds", "*", meds.id),
              "1|1|2|Ibuprofen (200 mg) Tablet|2|1|400 mg|with food|0\n");
    CEntryMeds medsBack;
    ASSERT_EQ(m_db.LoadEntryMeds("1", medsBack), 1);
    EXPECT_EQ(medsBack.mid, 2);
    EXPECT_EQ(medsBack.quantity, 2);
    EXPECT_EQ(medsBack.override, 1);
    EXPECT_EQ(medsBack.dosage, "400 mg");
    EXPECT_EQ(medsBack.desc, "with food");

    CEntryMood mood;
    mood.eid = 1;
    mood.act = 1, mood.mood = 2, mood.walk = 3, mood.work = 4;
    mood.relat = 5, mood.sleep = 6, mood.life = 7, mood.concn = 8;
    ASSERT_EQ(m_db.SaveEntryMood(mood), 1);
    EXPECT_EQ(Row("entry_mood", "*", mood.id), "1|1|1|2|3|4|5|6|7|8|0\n");
    CEntryMood moodBack;
    ASSERT_EQ(m_db.LoadEntryMood(mood.id, moodBack), 1);
    EXPECT_EQ(moodBack.walk, 3);
    EXPECT_EQ(moodBack.life, 7);
    EXPECT_EQ(moodBack.concn, 8);

    CEntryQuestions q;
    q.eid = 1;
    q.q = "Dose?";
    q.a = "Same";
    q.ref = "GP";
    ASSERT_EQ(m_db.SaveEntryQuestion(q), 1);
    EXPECT_EQ(Row("entry_question", "*", q.id), "1|1|Dose?|Same|GP|0\n");
    CEntryQuestions qBack;
    ASSERT_EQ(m_db.LoadEntryQuestionText("1", qBack), 1);
    EXPECT_EQ(qBack.q, "Dose?");
    EXPECT_EQ(qBack.a, "Same");
    EXPECT_EQ(qBack.ref, "GP");

    CEntrySideEff s;
    s.eid = 1;
    s.mid = 2;
    s.appet = 1, s.constip = 2, s.insomn = 3, s.itch = 4, s.nausea = 5;
    s.night = 6, s.sweat = 7, s.think = 8, s.tired = 9, s.vomit = 10;
    ASSERT_EQ(m_db.SaveEntrySideEff(s), 1);
    EXPECT_EQ(Row("entry_sideff", "*", s.id), "1|1|2|1|2|3|4|5|6|7|8|9|10|0\n");
    CEntrySideEff sBack;
    ASSERT_EQ(m_db.LoadEntrySideEffText("1", sBack), 1);
    EXPECT_EQ(sBack.id, 1);
    EXPECT_EQ(sBack.eid, 1);
    EXPECT_EQ(sBack.mid, 2);
    EXPECT_EQ(sBack.appet, 1);
    EXPECT_EQ(sBack.insomn, 3);
    EXPECT_EQ(sBack.vomit, 10);
}

// Everything a user may type: quotes of both kinds, backslashes, CR LF,
// control characters short of NUL, emoji, right-to-left script, blanks at
// both ends and SQL that must stay text.
const std::string kHostileText =
    " it's \"quoted\" \\ back\\slash\r\nCR LF\t\x01\x07\x08\x0b\x0c\x1b\x1f\x7f "
    "\xF0\x9F\x98\x80 \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD "
    "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7\xE2\x80\x8F "
    "'' \"\" %_ '); DROP TABLE entry; -- \r\n";

std::string Hex(const std::string& bytes) {
    std::string hex;
    for (unsigned char c : bytes) {
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02X", c);
        hex += buf;
    }
    return hex;
}

template <typename Record>
struct TextField {
    const char* column;
    std::string Record::*field;
};

class HostileTextTest : public EntryStoreTest {
protected:
    // Puts the text into every text field, saves three times (an insert,
    // then two updates), and checks the file with the sqlite3 shell and the
    // record read back through the store.
    template <typename Record, typename Save, typename Load>
    void RoundTrip(Record rec, const char* table, std::initializer_list<TextField<Record>> fields,
                   Save save, Load load) {
        SCOPED_TRACE(table);
        for (const auto& f : fields) rec.*(f.field) = kHostileText;
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(save(rec)) << i << m_db.GetLastErrorText();
        for (const auto& f : fields) {
            EXPECT_EQ(rec.*(f.field), kHostileText) << f.column;
            EXPECT_EQ(Row(table, std::string("hex(") + f.column + ")", rec.id), Hex(kHostileText) + "\n")
                << f.column;
        }
        EXPECT_EQ(Cli(std::string("SELECT count(*) FROM ") + table + ";"), "1\n");
        Record back;
        ASSERT_TRUE(load(back, IdText(rec.id))) << m_db.GetLastErrorText();
        for (const auto& f : fields) EXPECT_EQ(back.*(f.field), kHostileText) << f.column;
    }
};

// Mood and side-effect records carry numbers only.
TEST_F(HostileTextTest, TypedTextsRoundTripExactlyThroughEveryRecordKind) {
    RoundTrip<CEntry>(
        AtTime("2024-01-01 08:00:00"), "entry", {{"sbj", &CEntry::sbj}, {"entry", &CEntry::entry}},
        [&](CEntry& r) { return m_db.SaveEntry(r); },
        [&](CEntry& r, const std::string& id) { return m_db.LoadEntry(id, r); });
    CEntryActions act;
    act.eid = 1;
    RoundTrip<CEntryActions>(
        act, "entry_actions",
        {{"name", &CEntryActions::name}, {"cat", &CEntryActions::cat}, {"ref", &CEntryActions::ref}},
        [&](CEntryActions& r) { return m_db.SaveEntryActions(r); },
        [&](CEntryActions& r, const std::string& id) { return m_db.LoadEntryActions(id, r); });
    CEntryMeds meds;
    meds.eid = 1;
    RoundTrip<CEntryMeds>(
        meds, "entry_meds",
        {{"name", &CEntryMeds::name}, {"dosage", &CEntryMeds::dosage}, {"desc", &CEntryMeds::desc}},
        [&](CEntryMeds& r) { return m_db.SaveEntryMeds(r); },
        [&](CEntryMeds& r, const std::string& id) { return m_db.LoadEntryMeds(id, r); });
    CEntryQuestions q;
    q.eid = 1;
    RoundTrip<CEntryQuestions>(
        q, "entry_question",
        {{"q", &CEntryQuestions::q}, {"a", &CEntryQuestions::a}, {"ref", &CEntryQuestions::ref}},
        [&](CEntryQuestions& r) { return m_db.SaveEntryQuestion(r); },
        [&](CEntryQuestions& r, const std::string& id) { return m_db.LoadEntryQuestionText(id, r); });
    RoundTrip<CMedicine>(
        CMedicine(), "medicine_cabinet",
        {{"name", &CMedicine::name},
         {"dos_msr", &CMedicine::dos_msr},
         {"dos_form", &CMedicine::dos_form},
         {"dos_dur_form", &CMedicine::dos_dur_form},
         {"span_form", &CMedicine::span_form},
         {"dosage_text", &CMedicine::dosage_text},
         {"desc", &CMedicine::desc},
         {"url", &CMedicine::url}},
        [&](CMedicine& r) { return m_db.SaveMedicine(r); },
        [&](CMedicine& r, const std::string& id) { return m_db.LoadMedicine(IdFromText(id), r); });
    // The medicine is found again by what was typed.
    CMedicine found;
    EXPECT_TRUE(m_db.FindMedicine(kHostileText, -1, kHostileText, kHostileText, found));
    EXPECT_EQ(found.id, 1);
    EXPECT_EQ(Cli("SELECT count(*) FROM sqlite_master WHERE type='table';"), "9\n");
}

TEST_F(EntryStoreTest, PainLevelsOutsideZeroToTenAreRefusedUnwritten) {
    struct Level {
        const char* name;
        int CEntry::*field;
    };
    const Level levels[] = {
        {"worst", &CEntry::wpl}, {"average", &CEntry::apl}, {"lowest", &CEntry::lpl}, {"current", &CEntry::cpl}};
    CEntry stored = NewEntry("2024-01-01 08:00:00", "kept");
    const std::string before = Cli("SELECT * FROM entry;");
    for (const Level& l : levels) {
        for (int bad : {11, -1, INT_MIN}) {
            SCOPED_TRACE(std::string(l.name) + " " + std::to_string(bad));
            CEntry fresh = AtTime("2024-01-02 08:00:00");
            fresh.*(l.field) = bad;
            EXPECT_FALSE(m_db.SaveEntry(fresh));
            EXPECT_EQ(fresh.id, -1);
            EXPECT_EQ(m_db.GetLastErrorText(), SqlFormat(kErrPainLevel, l.name, bad, 0, 10));
            CEntry changed = stored;
            changed.*(l.field) = bad;
            EXPECT_FALSE(m_db.SaveEntry(changed));
            EXPECT_EQ(Cli("SELECT * FROM entry;"), before);
        }
    }
    // Both ends of the scale are levels.
    CEntry ends = AtTime("2024-01-03 08:00:00");
    ends.wpl = ends.cpl = 10;
    ends.apl = ends.lpl = 0;
    ASSERT_TRUE(m_db.SaveEntry(ends)) << m_db.GetLastErrorText();
    EXPECT_EQ(Row("entry", "wpl, apl, lpl, cpl", ends.id), "10|0|0|10\n");
}

TEST_F(EntryStoreTest, TextsWrittenOnWindowsAreReadAsCp1252) {
    Cli("INSERT INTO entry (ts, sbj, entry) VALUES ('2024-01-01 08:00:00', "
        "CAST(X'436166E9' AS TEXT), CAST(X'80207072696365' AS TEXT));");
    CEntry back;
    ASSERT_EQ(m_db.LoadEntry("1", back), 1);
    EXPECT_EQ(back.sbj, "Caf\xC3\xA9");
    EXPECT_EQ(back.entry, "\xE2\x82\xAC price");
}

TEST_F(EntryStoreTest, LoadsOfMissingAndDeletedRows) {
    CEntry untouched;
    untouched.sbj = "keep";
    EXPECT_EQ(m_db.LoadEntry("99", untouched), 1);
    EXPECT_EQ(untouched.sbj, "keep");
    EXPECT_EQ(untouched.id, -1);
    CEntryActions act;
    EXPECT_EQ(m_db.LoadEntryActions("99", act), 0);
    CEntryMeds meds;
    EXPECT_EQ(m_db.LoadEntryMeds("99", meds), 0);

    CEntry e = NewEntry("2024-01-01 08:00:00", "gone");
    act.eid = e.id;
    act.name = "Walk";
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    meds.eid = e.id;
    ASSERT_EQ(m_db.SaveEntryMeds(meds), 1);
    CEntryMood mood;
    mood.eid = e.id;
    ASSERT_EQ(m_db.SaveEntryMood(mood), 1);
    CEntryQuestions q;
    q.eid = e.id;
    ASSERT_EQ(m_db.SaveEntryQuestion(q), 1);
    CEntrySideEff s;
    s.eid = e.id;
    ASSERT_EQ(m_db.SaveEntrySideEff(s), 1);
    Cli("UPDATE entry SET del=1; UPDATE entry_actions SET del=1; UPDATE entry_meds SET del=1;"
        "UPDATE entry_mood SET del=1; UPDATE entry_question SET del=1; UPDATE entry_sideff SET del=1;");

    // Entries, actions and medicines taken load although marked deleted.
    CEntry eBack;
    EXPECT_EQ(m_db.LoadEntry("1", eBack), 1);
    EXPECT_EQ(eBack.sbj, "gone");
    CEntryActions aBack;
    EXPECT_EQ(m_db.LoadEntryActions("1", aBack), 1);
    CEntryMeds mBack;
    EXPECT_EQ(m_db.LoadEntryMeds("1", mBack), 1);
    // Mood, questions and side effects do not.
    CEntryMood moodBack;
    EXPECT_EQ(m_db.LoadEntryMood(1, moodBack), 0);
    EXPECT_EQ(moodBack.id, -1);
    CEntryQuestions qBack;
    EXPECT_EQ(m_db.LoadEntryQuestionText("1", qBack), 0);
    CEntrySideEff sBack;
    EXPECT_EQ(m_db.LoadEntrySideEffText("1", sBack), 0);
}

TEST_F(EntryStoreTest, IdTextsWithoutAStoredIdAreNotLookedUp) {
    ASSERT_EQ(m_db.Close(), 1);  // any statement would now fail and say so
    const std::string before = m_db.GetLastErrorText();
    for (const char* text : {"0", "-3", "abc", ""}) {
        CEntryMood mood;
        EXPECT_EQ(m_db.LoadEntryMoodText(text, mood), 0) << text;
        CEntryQuestions q;
        EXPECT_EQ(m_db.LoadEntryQuestionText(text, q), 0) << text;
        CEntrySideEff s;
        EXPECT_EQ(m_db.LoadEntrySideEffText(text, s), 0) << text;
    }
    EXPECT_EQ(m_db.LoadEntryMoodByEntry(0), 0);
    EXPECT_EQ(m_db.GetLastErrorText(), before);
}

TEST_F(EntryStoreTest, LoadedRecordTakesTheRequestedIdAndTheRowsEntryId) {
    NewEntry("2024-01-01 08:00:00", "a");
    CEntryActions act;
    act.eid = 1;
    act.name = "Rest";
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    CEntryActions back;
    ASSERT_EQ(m_db.LoadEntryActions("1", back), 1);
    EXPECT_EQ(back.id, 1);
    EXPECT_EQ(back.eid, 1);

    CEntryMood mood;
    mood.eid = 1;
    ASSERT_EQ(m_db.SaveEntryMood(mood), 1);
    CEntryMood moodBack;
    ASSERT_EQ(m_db.LoadEntryMoodText(" 1x", moodBack), 1);  // converted like atoi
    EXPECT_EQ(moodBack.id, 1);
    EXPECT_EQ(moodBack.eid, 1);
}

TEST_F(EntryStoreTest, QuotesInAnIdTextCannotWidenTheLoad) {
    NewEntry("2024-01-01 08:00:00", "first");
    NewEntry("2024-01-02 08:00:00", "second");
    CEntry e;
    e.sbj = "untouched";
    EXPECT_EQ(m_db.LoadEntry("9' OR '1'='1", e), 1);
    EXPECT_EQ(e.sbj, "untouched");
    CEntryActions act;
    EXPECT_EQ(m_db.LoadEntryActions("9' OR '1'='1", act), 0);
}

TEST_F(EntryStoreTest, IdsBelowOneInsertAndStoredIdsUpdate) {
    CEntry e = AtTime("2024-01-01 08:00:00");
    e.id = 0;
    ASSERT_EQ(m_db.SaveEntry(e), 1);
    EXPECT_EQ(e.id, 1);
    CEntryActions act;
    act.eid = e.id;
    act.name = "Walk";
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    EXPECT_EQ(act.id, 1);

    // A new entry moves the last inserted id; an update must not take it.
    CEntry second = NewEntry("2024-01-02 08:00:00", "b");
    EXPECT_EQ(second.id, 2);
    act.name = "Long walk";
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    EXPECT_EQ(act.id, 1);
    EXPECT_EQ(Cli("SELECT id, name FROM entry_actions;"), "1|Long walk\n");
}

TEST_F(EntryStoreTest, DeletesMarkRowsAndNeverRemoveThem) {
    CEntry e = NewEntry("2024-01-01 08:00:00", "a");
    EXPECT_EQ(m_db.DeleteEntry(0), 1);
    EXPECT_EQ(m_db.DeleteEntry(-5), 1);
    EXPECT_EQ(Cli("SELECT del FROM entry;"), "0\n");
    EXPECT_EQ(m_db.DeleteEntry(e.id), 1);
    EXPECT_EQ(Cli("SELECT id, del FROM entry;"), "1|1\n");

    CEntryActions act;
    act.eid = 0;
    act.id = 1;
    EXPECT_EQ(m_db.DeleteEntryActions(act), -1);
    act.eid = e.id;
    act.id = -1;
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    EXPECT_EQ(m_db.DeleteEntryActions(act), 1);
    EXPECT_EQ(Cli("SELECT id, del FROM entry_actions;"), "1|1\n");

    CEntryMeds meds;
    meds.eid = e.id;
    ASSERT_EQ(m_db.SaveEntryMeds(meds), 1);
    EXPECT_EQ(m_db.DeleteEntryMeds(meds), 1);
    CEntryMood mood;
    mood.eid = e.id;
    ASSERT_EQ(m_db.SaveEntryMood(mood), 1);
    EXPECT_EQ(m_db.DeleteEntryMood(mood), 1);
    CEntryQuestions q;
    q.eid = e.id;
    ASSERT_EQ(m_db.SaveEntryQuestion(q), 1);
    EXPECT_EQ(m_db.DeleteEntryQuestion(q), 1);
    CEntrySideEff s;
    s.eid = e.id;
    ASSERT_EQ(m_db.SaveEntrySideEff(s), 1);
    EXPECT_EQ(m_db.DeleteEntrySideEff(s), 1);
    EXPECT_EQ(Cli("SELECT (SELECT del FROM entry_meds) || (SELECT del FROM entry_mood) || "
                  "(SELECT del FROM entry_question) || (SELECT del FROM entry_sideff);"),
              "1111\n");

    // An unstored detail has no delete statement: that is a failure.
    CEntrySideEff unstored;
    unstored.eid = e.id;
    EXPECT_EQ(m_db.DeleteEntrySideEff(unstored), 0);
    EXPECT_EQ(m_db.GetLastErrorText(),
              WriteFailure(kErrDeleteEntry, m_db.GetFullPath(), "ERROR",
                           SqlFormat(kReasonOther, "near \"ERROR\": syntax error")));
    EXPECT_EQ(m_db.IsOpen(), 1);
}

TEST_F(EntryStoreTest, MoodOfAnEntryIsFoundByEntryId) {
    EXPECT_EQ(m_db.LoadEntryMoodByEntry(1), 0);
    CEntryMood first;
    first.eid = 4;
    ASSERT_EQ(m_db.SaveEntryMood(first), 1);
    CEntryMood second;
    second.eid = 4;
    ASSERT_EQ(m_db.SaveEntryMood(second), 1);
    EXPECT_EQ(m_db.LoadEntryMoodByEntry(4), first.id);
    Cli("UPDATE entry_mood SET del=1 WHERE id=1;");
    EXPECT_EQ(m_db.LoadEntryMoodByEntry(4), second.id);
}

TEST_F(EntryStoreTest, FailedSaveKeepsTheConnectionAndTheRecord) {
    NewEntry("2024-01-01 08:00:00", "before");
    Cli("CREATE TRIGGER refuse BEFORE INSERT ON entry BEGIN SELECT RAISE(ABORT, 'forced'); END;");
    CEntry e = AtTime("2024-01-02 08:00:00");
    e.sbj = "it's";
    EXPECT_EQ(m_db.SaveEntry(e), 0);
    EXPECT_EQ(e.id, -1);
    EXPECT_EQ(e.sbj, "it's");
    EXPECT_EQ(m_db.GetLastErrorText(), WriteFailure(kErrSaveEntry, JournalPath(), e.GetInsertSql(),
                                                    SqlFormat(kReasonOther, "forced")));
    EXPECT_EQ(m_db.IsOpen(), 1);

    // The journal stays usable: the next load and save work.
    CEntry back;
    ASSERT_EQ(m_db.LoadEntry("1", back), 1);
    EXPECT_EQ(back.sbj, "before");
    back.sbj = "after";
    EXPECT_EQ(m_db.SaveEntry(back), 1);
    EXPECT_EQ(Cli("SELECT sbj FROM entry;"), "after\n");
}

// A journal text of megabytes must not become a message of megabytes: the
// message holds the start of the statement, cut between characters.
TEST_F(EntryStoreTest, FailedSaveOfAHugeEntryShowsOnlyTheStartOfItsStatement) {
    NewEntry("2024-01-01 08:00:00", "before");
    // The journal may not grow: as on a full disk.
    std::vector<std::string> pages;
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA page_count", pages), 1);
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA max_page_count=" + pages.at(0), pages), 1);
    std::string body;
    while (body.size() < (1u << 20)) body += "Schmerz \xc3\xbc" "berall; ";
    // Three-byte characters shifted by 0, 1 and 2: one cut falls inside one.
    for (const char* pad : {"", "a", "aa"}) {
        CEntry e = AtTime("2024-01-02 08:00:00");
        e.sbj = pad;
        for (int i = 0; i < 80; ++i) e.sbj += "\xe2\x82\xac";
        e.entry = body;
        EXPECT_EQ(m_db.SaveEntry(e), 0);
        const std::string text = m_db.GetLastErrorText();
        EXPECT_LT(text.size(), 600u);
        EXPECT_TRUE(platform::IsValidUtf8(text)) << pad;
        EXPECT_NE(text.find(kStatementCut), std::string::npos);
        EXPECT_NE(text.find(kReasonDiskFull), std::string::npos) << text;
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry;"), "1\n");
}

TEST_F(EntryStoreTest, WritesRefusedByAReadOnlyJournalLeaveItReadable) {
    NewEntry("2024-01-01 08:00:00", "kept");
    std::vector<std::string> ignored;
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA query_only=1", ignored), 1);

    CEntryQuestions q;
    q.eid = 1;
    EXPECT_EQ(m_db.SaveEntryQuestion(q), 0);
    EXPECT_EQ(m_db.GetLastErrorText(),
              WriteFailure(kErrSaveQuestion, JournalPath(), q.GetInsertSql(), kReasonReadOnly));
    EXPECT_EQ(m_db.DeleteEntry(1), 0);
    EXPECT_EQ(m_db.GetLastErrorText(), WriteFailure(kErrDeleteEntry, JournalPath(),
                                                    "UPDATE entry SET del='1' WHERE id='1'",
                                                    kReasonReadOnly));

    CEntry back;
    ASSERT_EQ(m_db.LoadEntry("1", back), 1);
    EXPECT_EQ(back.sbj, "kept");
    EXPECT_EQ(m_db.IsOpen(), 1);
}

TEST_F(EntryStoreTest, WriteRefusedWhileAnotherProgramLocksTheJournal) {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(JournalPath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    CEntry e = AtTime("2024-01-01 08:00:00");
    EXPECT_EQ(m_db.SaveEntry(e), 0);
    EXPECT_EQ(e.id, -1);
    EXPECT_EQ(m_db.GetLastErrorText(),
              WriteFailure(kErrSaveEntry, JournalPath(), e.GetInsertSql(), kReasonLocked));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_EQ(m_db.SaveEntry(e), 1) << m_db.GetLastErrorText();
    EXPECT_EQ(e.id, 1);
}

// Opens a read-only copy of the journal, tries a save and a load, and
// answers 0 when the save was refused and the load still worked.
int CheckReadOnlyJournal(const std::string& folder) {
    CJournalDb db;
    db.SetFolder(folder);
    db.SetFileName("ro.grv");
    if (db.Open(0) != 1) return 1;
    CEntry e = AtTime("2024-01-02 08:00:00");
    if (db.SaveEntry(e) != 0) return 2;
    if (db.GetLastErrorText().find(kReasonReadOnly) == std::string::npos) return 4;
    CEntry back;
    if (db.LoadEntry("1", back) != 1 || back.sbj != "kept") return 3;
    return 0;
}

TEST_F(EntryStoreTest, ReadOnlyFileOpensAndRefusesWrites) {
    NewEntry("2024-01-01 08:00:00", "kept");
    ASSERT_EQ(m_db.Close(), 1);
    // Under /tmp, readable by all: the test's own folder is closed to others.
    grvtest::TempDir shared("grv-ro", "/tmp");
    const std::string folder = shared.Path();
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);  // only the file mode may refuse
    const std::string copy = folder + "/ro.grv";
    ASSERT_TRUE(std::filesystem::copy_file(JournalPath(), copy));
    ASSERT_EQ(chmod(copy.c_str(), 0444), 0);
    int result = -1;
    if (geteuid() == 0) {
        // File modes do not bind the superuser: check as nobody.
        const pid_t pid = fork();
        ASSERT_NE(pid, -1);
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(9);
            _exit(CheckReadOnlyJournal(folder));
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        result = WEXITSTATUS(status);
    } else {
        result = CheckReadOnlyJournal(folder);
    }
    EXPECT_EQ(result, 0) << "1: open failed, 2: save not refused, 3: load failed, "
                            "4: not said to be read-only, 9: no privilege drop";
}

TEST_F(EntryStoreTest, StatementsWithoutAConnectionFailCleanly) {
    ASSERT_EQ(m_db.Close(), 1);
    CEntry e = AtTime("2024-01-01 08:00:00");
    EXPECT_EQ(m_db.SaveEntry(e), 0);
    CEntryActions act;
    EXPECT_EQ(m_db.LoadEntryActions("1", act), 0);
    EXPECT_EQ(m_db.GetLastErrorText(), "SQL Error: 21 :  Library used incorrectly \n");
}

}  // namespace
