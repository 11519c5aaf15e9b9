#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"
#include "platform/Cp1252Text.h"
#include "tests/support/JournalFixture.h"
#include "tests/support/TestSupport.h"

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

// One overload per record kind, so each check below is written once.
bool Save(CJournalDb& db, CEntry& r) {
    return db.SaveEntry(r);
}
bool Save(CJournalDb& db, CEntryActions& r) {
    return db.SaveEntryActions(r);
}
bool Save(CJournalDb& db, CEntryMeds& r) {
    return db.SaveEntryMeds(r);
}
bool Save(CJournalDb& db, CEntryMood& r) {
    return db.SaveEntryMood(r);
}
bool Save(CJournalDb& db, CEntryQuestions& r) {
    return db.SaveEntryQuestion(r);
}
bool Save(CJournalDb& db, CEntrySideEff& r) {
    return db.SaveEntrySideEff(r);
}
bool Save(CJournalDb& db, CMedicine& r) {
    return db.SaveMedicine(r);
}
bool Load(CJournalDb& db, const std::string& id, CEntry& r) {
    return db.LoadEntry(id, r);
}
bool Load(CJournalDb& db, const std::string& id, CEntryActions& r) {
    return db.LoadEntryActions(id, r);
}
bool Load(CJournalDb& db, const std::string& id, CEntryMeds& r) {
    return db.LoadEntryMeds(id, r);
}
bool Load(CJournalDb& db, const std::string& id, CEntryMood& r) {
    return db.LoadEntryMood(IdFromText(id), r);
}
bool Load(CJournalDb& db, const std::string& id, CEntryQuestions& r) {
    return db.LoadEntryQuestionText(id, r);
}
bool Load(CJournalDb& db, const std::string& id, CEntrySideEff& r) {
    return db.LoadEntrySideEffText(id, r);
}
bool Load(CJournalDb& db, const std::string& id, CMedicine& r) {
    return db.LoadMedicine(IdFromText(id), r);
}
int Delete(CJournalDb& db, const CEntryActions& r) {
    return db.DeleteEntryActions(r);
}
int Delete(CJournalDb& db, const CEntryMeds& r) {
    return db.DeleteEntryMeds(r);
}
int Delete(CJournalDb& db, const CEntryMood& r) {
    return db.DeleteEntryMood(r);
}
int Delete(CJournalDb& db, const CEntryQuestions& r) {
    return db.DeleteEntryQuestion(r);
}
int Delete(CJournalDb& db, const CEntrySideEff& r) {
    return db.DeleteEntrySideEff(r);
}

template <typename Record>
Record OfEntry(int eid) {
    Record r;
    r.eid = eid;
    return r;
}

class EntryStoreTest : public StoreTest {
protected:
    std::string Row(const std::string& table, const std::string& columns, int id) {
        return Cli("SELECT " + columns + " FROM " + table + " WHERE id=" + std::to_string(id) + ";");
    }
    template <typename Record>
    void SaveOk(Record& r) {
        ASSERT_TRUE(Save(m_db, r)) << m_db.GetLastErrorText();
    }
    template <typename Record>
    void SaveAndDelete(Record r) {
        SaveOk(r);
        EXPECT_EQ(Delete(m_db, r), 1);
    }
    // Saves rec, reads its row with the sqlite3 shell, loads it back and
    // saves what was loaded: the row must not change, so every column loads.
    template <typename Record>
    void RoundTrip(Record rec, const char* table, const std::string& row) {
        SCOPED_TRACE(table);
        ASSERT_TRUE(Save(m_db, rec)) << m_db.GetLastErrorText();
        EXPECT_EQ(Row(table, "*", rec.id), row);
        Record back;
        ASSERT_TRUE(Load(m_db, IdText(rec.id), back));
        EXPECT_EQ(back.id, rec.id);
        ASSERT_TRUE(Save(m_db, back));
        EXPECT_EQ(back.id, rec.id);
        EXPECT_EQ(Cli(std::string("SELECT * FROM ") + table + ";"), row);
    }
};

TEST_F(EntryStoreTest, EveryRecordKindRoundTripsThroughTheFile) {
    RoundTrip(grvtest::MakeEntry("Knee"), "entry", "1|2024-03-05 09:07:30|7|5|2|4|Knee|body|0\n");
    CEntryActions act = OfEntry<CEntryActions>(1);
    act.name = "Walk";
    act.cat = "Exercise";
    act.plmod = -3;
    act.durmin = 45;
    act.ref = "physio";
    RoundTrip(act, "entry_actions", "1|1|Walk|Exercise|-3|45|physio|0\n");
    CEntryMeds meds = OfEntry<CEntryMeds>(1);
    meds.mid = 2;
    meds.name = "Ibuprofen (200 mg) Tablet";
    meds.quantity = 2;
    meds.override = 1;
    meds.dosage = "400 mg";
    meds.desc = "with food";
    RoundTrip(meds, "entry_meds", "1|1|2|Ibuprofen (200 mg) Tablet|2|1|400 mg|with food|0\n");
    CEntryMood mood = OfEntry<CEntryMood>(1);
    mood.act = 1, mood.mood = 2, mood.walk = 3, mood.work = 4;
    mood.relat = 5, mood.sleep = 6, mood.life = 7, mood.concn = 8;
    RoundTrip(mood, "entry_mood", "1|1|1|2|3|4|5|6|7|8|0\n");
    CEntryQuestions q = OfEntry<CEntryQuestions>(1);
    q.q = "Dose?";
    q.a = "Same";
    q.ref = "GP";
    RoundTrip(q, "entry_question", "1|1|Dose?|Same|GP|0\n");
    CEntrySideEff s = OfEntry<CEntrySideEff>(1);
    s.mid = 2;
    s.appet = 1, s.constip = 2, s.insomn = 3, s.itch = 4, s.nausea = 5;
    s.night = 6, s.sweat = 7, s.think = 8, s.tired = 9, s.vomit = 10;
    RoundTrip(s, "entry_sideff", "1|1|2|1|2|3|4|5|6|7|8|9|10|0\n");
    // The refill count is always stored as 0.
    CMedicine m = grvtest::MakeMedicine("Ibuprofen", 200);
    m.span_form = "Months";
    m.refill_cnt = 3;
    m.dosage_text = "2 every 4 hours";
    m.url = "http://example.invalid/i";
    RoundTrip(m, "medicine_cabinet",
              "1|Ibuprofen|200|mg|Tablet|2|4|Hours|0|0|Months|0|2 every 4 hours|Ibuprofen notes|"
              "http://example.invalid/i|0\n");

    CEntry changed;
    ASSERT_TRUE(m_db.LoadEntry("1", changed));
    changed.sbj = "Left knee";
    changed.cpl = 6;
    ASSERT_TRUE(m_db.SaveEntry(changed));
    EXPECT_EQ(Row("entry", "id, sbj, cpl", 1), "1|Left knee|6\n");
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
    std::string Record::* field;
};

class HostileTextTest : public EntryStoreTest {
protected:
    // Puts the text into every text field, saves three times (an insert,
    // then two updates), and checks the file with the sqlite3 shell and the
    // record read back through the store.
    template <typename Record>
    void RoundTrip(Record rec, const char* table, std::initializer_list<TextField<Record>> fields) {
        SCOPED_TRACE(table);
        for (const auto& f : fields)
            rec.*(f.field) = kHostileText;
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(Save(m_db, rec)) << i << m_db.GetLastErrorText();
        for (const auto& f : fields) {
            EXPECT_EQ(rec.*(f.field), kHostileText) << f.column;
            EXPECT_EQ(Row(table, std::string("hex(") + f.column + ")", rec.id), Hex(kHostileText) + "\n") << f.column;
        }
        EXPECT_EQ(Cli(std::string("SELECT count(*) FROM ") + table + ";"), "1\n");
        Record back;
        ASSERT_TRUE(Load(m_db, IdText(rec.id), back)) << m_db.GetLastErrorText();
        for (const auto& f : fields)
            EXPECT_EQ(back.*(f.field), kHostileText) << f.column;
    }
};

// Mood and side-effect records carry numbers only.
TEST_F(HostileTextTest, TypedTextsRoundTripExactlyThroughEveryRecordKind) {
    RoundTrip<CEntry>(AtTime("2024-01-01 08:00:00"), "entry", {{"sbj", &CEntry::sbj}, {"entry", &CEntry::entry}});
    RoundTrip<CEntryActions>(
        OfEntry<CEntryActions>(1), "entry_actions",
        {{"name", &CEntryActions::name}, {"cat", &CEntryActions::cat}, {"ref", &CEntryActions::ref}});
    RoundTrip<CEntryMeds>(OfEntry<CEntryMeds>(1), "entry_meds",
                          {{"name", &CEntryMeds::name}, {"dosage", &CEntryMeds::dosage}, {"desc", &CEntryMeds::desc}});
    RoundTrip<CEntryQuestions>(
        OfEntry<CEntryQuestions>(1), "entry_question",
        {{"q", &CEntryQuestions::q}, {"a", &CEntryQuestions::a}, {"ref", &CEntryQuestions::ref}});
    RoundTrip<CMedicine>(CMedicine(), "medicine_cabinet",
                         {{"name", &CMedicine::name},
                          {"dos_msr", &CMedicine::dos_msr},
                          {"dos_form", &CMedicine::dos_form},
                          {"dos_dur_form", &CMedicine::dos_dur_form},
                          {"span_form", &CMedicine::span_form},
                          {"dosage_text", &CMedicine::dosage_text},
                          {"desc", &CMedicine::desc},
                          {"url", &CMedicine::url}});
    // The medicine is found again by what was typed.
    CMedicine found;
    EXPECT_TRUE(m_db.FindMedicine(kHostileText, -1, kHostileText, kHostileText, found));
    EXPECT_EQ(found.id, 1);
    EXPECT_EQ(Cli("SELECT count(*) FROM sqlite_master WHERE type='table';"), "9\n");
}

TEST_F(EntryStoreTest, PainLevelsOutsideZeroToTenAreRefusedUnwritten) {
    struct Level {
        const char* name;
        int CEntry::* field;
    };
    const Level levels[] = {
        {"worst", &CEntry::wpl}, {"average", &CEntry::apl}, {"lowest", &CEntry::lpl}, {"current", &CEntry::cpl}};
    CEntry stored = Stored(grvtest::MakeEntry("kept"));
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

    AddEntry("gone");
    auto stored = std::make_tuple(OfEntry<CEntryActions>(1), OfEntry<CEntryMeds>(1), OfEntry<CEntryMood>(1),
                                  OfEntry<CEntryQuestions>(1), OfEntry<CEntrySideEff>(1));
    std::apply([&](auto&... r) { (SaveOk(r), ...); }, stored);
    Cli("UPDATE entry SET del=1; UPDATE entry_actions SET del=1; UPDATE entry_meds SET del=1;"
        "UPDATE entry_mood SET del=1; UPDATE entry_question SET del=1; UPDATE entry_sideff SET del=1;");

    // Entries, actions and medicines taken load although marked deleted;
    // mood, questions and side effects do not.
    CEntry eBack;
    EXPECT_EQ(m_db.LoadEntry("1", eBack), 1);
    EXPECT_EQ(eBack.sbj, "gone");
    std::apply(
        [&](auto... r) {
            const std::vector<bool> loaded{Load(m_db, "1", r)...};
            EXPECT_EQ(loaded, (std::vector<bool>{true, true, false, false, false}));
        },
        std::make_tuple(CEntryActions(), CEntryMeds(), CEntryMood(), CEntryQuestions(), CEntrySideEff()));
}

TEST_F(EntryStoreTest, IdTextsWithoutAStoredIdAreNotLookedUp) {
    ASSERT_EQ(m_db.Close(), 1); // any statement would now fail and say so
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

TEST_F(EntryStoreTest, MoodIdTextIsConvertedLikeAtoi) {
    CEntryMood mood = OfEntry<CEntryMood>(1);
    ASSERT_EQ(m_db.SaveEntryMood(mood), 1);
    CEntryMood moodBack;
    ASSERT_EQ(m_db.LoadEntryMoodText(" 1x", moodBack), 1);
    EXPECT_EQ(moodBack.id, 1);
    EXPECT_EQ(moodBack.eid, 1);
}

TEST_F(EntryStoreTest, QuotesInAnIdTextCannotWidenTheLoad) {
    AddEntry("first", "2024-01-01 08:00:00");
    AddEntry("second", "2024-01-02 08:00:00");
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
    EXPECT_EQ(AddEntry("b"), 2);
    act.name = "Long walk";
    ASSERT_EQ(m_db.SaveEntryActions(act), 1);
    EXPECT_EQ(act.id, 1);
    EXPECT_EQ(Cli("SELECT id, name FROM entry_actions;"), "1|Long walk\n");
}

TEST_F(EntryStoreTest, DeletesMarkRowsAndNeverRemoveThem) {
    const int id = AddEntry("a");
    EXPECT_EQ(m_db.DeleteEntry(0), 1);
    EXPECT_EQ(m_db.DeleteEntry(-5), 1);
    EXPECT_EQ(Cli("SELECT del FROM entry;"), "0\n");
    EXPECT_EQ(m_db.DeleteEntry(id), 1);
    EXPECT_EQ(Cli("SELECT id, del FROM entry;"), "1|1\n");

    CEntryActions act;
    act.eid = 0;
    act.id = 1;
    EXPECT_EQ(m_db.DeleteEntryActions(act), -1);
    std::apply([&](auto... r) { (SaveAndDelete(r), ...); },
               std::make_tuple(OfEntry<CEntryActions>(id), OfEntry<CEntryMeds>(id), OfEntry<CEntryMood>(id),
                               OfEntry<CEntryQuestions>(id), OfEntry<CEntrySideEff>(id)));
    EXPECT_EQ(Cli("SELECT (SELECT group_concat(id || del) FROM entry_actions) || (SELECT id || del FROM "
                  "entry_meds) || (SELECT id || del FROM entry_mood) || (SELECT id || del FROM entry_question) "
                  "|| (SELECT id || del FROM entry_sideff);"),
              "1111111111\n");

    // An unstored detail has no delete statement: that is a failure.
    EXPECT_EQ(m_db.DeleteEntrySideEff(OfEntry<CEntrySideEff>(id)), 0);
    EXPECT_EQ(m_db.GetLastErrorText(), WriteFailure(kErrDeleteEntry, m_db.GetFullPath(), "ERROR",
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

// A refused write says why after the start of its statement, stores and
// changes nothing, and leaves the journal open and readable.
TEST_F(EntryStoreTest, RefusedSaveKeepsTheConnectionAndTheRecord) {
    AddEntry("before", "2024-01-01 08:00:00");
    sqlite3* other = nullptr;
    std::vector<std::string> ignored;
    struct Case {
        const char* name;
        std::function<void()> refuse, allow;
        std::string reason;
        bool readable = true; // while the write is refused
    };
    const Case cases[] = {
        {"trigger",
         [&] { Cli("CREATE TRIGGER refuse BEFORE INSERT ON entry BEGIN SELECT RAISE(ABORT, 'forced'); END;"); },
         [&] { Cli("DROP TRIGGER refuse;"); }, SqlFormat(kReasonOther, "forced")},
        {"read-only", [&] { ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA query_only=1", ignored), 1); },
         [&] { ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA query_only=0", ignored), 1); }, kReasonCannotWrite},
        {"locked by another program",
         [&] {
             ASSERT_EQ(sqlite3_open(JournalPath().c_str(), &other), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
         },
         [&] {
             sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
             sqlite3_close(other);
         },
         kReasonLocked, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.refuse();
        CEntry e = AtTime("2024-01-02 08:00:00");
        e.sbj = "it's";
        EXPECT_EQ(m_db.SaveEntry(e), 0);
        EXPECT_EQ(e.id, -1);
        EXPECT_EQ(e.sbj, "it's");
        EXPECT_EQ(m_db.GetLastErrorText(), WriteFailure(kErrSaveEntry, JournalPath(), e.GetInsertSql(), c.reason));
        EXPECT_EQ(m_db.IsOpen(), 1);
        CEntry back;
        if (c.readable) {
            EXPECT_EQ(m_db.LoadEntry("1", back), 1);
        }
        c.allow();
        ASSERT_EQ(m_db.LoadEntry("1", back), 1);
        EXPECT_EQ(back.sbj, "before");
        EXPECT_EQ(m_db.SaveEntry(e), 1) << m_db.GetLastErrorText();
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry;"), "4\n");
}

// Another program saving into the journal at the same time, each write
// holding it a few milliseconds (python's sqlite3, which waits for the
// other's lock as long by default): a save of ours waits for that short
// write instead of failing, and every entry of both is there, as the
// sqlite3 shell counts them.
TEST_F(EntryStoreTest, SavesWaitForAnotherProgramsShortWrites) {
    constexpr int kSavesEach = 150;
    // How long each of the other program's writes holds the journal.
    constexpr const char* kTheirWriteSeconds = "0.005";
    grvtest::RunResult theirs;
    std::thread other([&] {
        theirs = grvtest::Python("import sqlite3, sys, time\n"
                                 "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                 "for _ in range(int(sys.argv[2])):\n"
                                 "    c.execute('BEGIN IMMEDIATE')\n"
                                 "    c.execute(\"INSERT INTO entry(ts, sbj, cpl) VALUES ('2024-03-01 08:00:00', "
                                 "'theirs', 1)\")\n"
                                 "    time.sleep(float(sys.argv[3]))\n"
                                 "    c.execute('COMMIT')\n",
                                 {JournalPath(), std::to_string(kSavesEach), kTheirWriteSeconds});
    });
    // Ours start once theirs have.
    const auto started = grvtest::WaitFor([&] { return Cli("SELECT count(*) FROM entry WHERE sbj = 'theirs';"); },
                                          [](const std::string& count) { return count != "0\n"; });
    EXPECT_TRUE(started.met);
    int saved = 0;
    for (int i = 0; i < kSavesEach; ++i) {
        CEntry e = AtTime("2024-03-01 09:00:00");
        e.sbj = "ours";
        saved += m_db.SaveEntry(e);
    }
    other.join();
    EXPECT_TRUE(theirs.Ok()) << theirs.err;
    EXPECT_EQ(saved, kSavesEach) << m_db.GetLastErrorText();
    EXPECT_EQ(Cli("SELECT count(*) FROM entry WHERE sbj IN ('ours', 'theirs');"),
              std::to_string(2 * kSavesEach) + "\n");
}

// A file system that refuses every write with one system error, as a
// read-only mount (EROFS), an immutable file (EPERM) or a full quota (EDQUOT)
// does. Installed as SQLite's default while it lives; one at a time.
class RefusingFileSystem {
public:
    explicit RefusingFileSystem(int error) {
        s_error = error;
        s_real = sqlite3_vfs_find(nullptr);
        m_vfs = *s_real;
        m_vfs.iVersion = 2;
        m_vfs.zName = "grv-refusing";
        m_vfs.szOsFile = static_cast<int>(sizeof(File)) + s_real->szOsFile;
        m_vfs.xOpen = &Open;
        m_vfs.xGetLastError = [](sqlite3_vfs*, int, char*) { return s_error; };
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~RefusingFileSystem() { sqlite3_vfs_unregister(&m_vfs); }
    RefusingFileSystem(const RefusingFileSystem&) = delete;
    RefusingFileSystem& operator=(const RefusingFileSystem&) = delete;

private:
    // Our file, with the real one right behind it.
    struct File {
        sqlite3_file base;
        sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };
    static File* Of(sqlite3_file* f) { return reinterpret_cast<File*>(f); }
    static int Refuse() { return SQLITE_IOERR_WRITE; }

    static int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
        static const sqlite3_io_methods kMethods = {
            1,
            [](sqlite3_file* f) { return Of(f)->Real()->pMethods->xClose(Of(f)->Real()); },
            [](sqlite3_file* f, void* b, int n, sqlite3_int64 at) {
                return Of(f)->Real()->pMethods->xRead(Of(f)->Real(), b, n, at);
            },
            [](sqlite3_file*, const void*, int, sqlite3_int64) { return Refuse(); },
            [](sqlite3_file*, sqlite3_int64) { return Refuse(); },
            [](sqlite3_file* f, int flags) { return Of(f)->Real()->pMethods->xSync(Of(f)->Real(), flags); },
            [](sqlite3_file* f, sqlite3_int64* size) {
                return Of(f)->Real()->pMethods->xFileSize(Of(f)->Real(), size);
            },
            [](sqlite3_file* f, int lock) { return Of(f)->Real()->pMethods->xLock(Of(f)->Real(), lock); },
            [](sqlite3_file* f, int lock) { return Of(f)->Real()->pMethods->xUnlock(Of(f)->Real(), lock); },
            [](sqlite3_file* f, int* out) { return Of(f)->Real()->pMethods->xCheckReservedLock(Of(f)->Real(), out); },
            [](sqlite3_file* f, int op, void* arg) {
                return Of(f)->Real()->pMethods->xFileControl(Of(f)->Real(), op, arg);
            },
            [](sqlite3_file* f) { return Of(f)->Real()->pMethods->xSectorSize(Of(f)->Real()); },
            [](sqlite3_file* f) { return Of(f)->Real()->pMethods->xDeviceCharacteristics(Of(f)->Real()); },
            nullptr, // version 1: no shared memory and no memory mapping
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            nullptr,
        };
        const int rc = s_real->xOpen(s_real, name, Of(file)->Real(), flags, outFlags);
        file->pMethods = rc == SQLITE_OK ? &kMethods : nullptr;
        return rc;
    }

    static inline int s_error = 0;
    static inline sqlite3_vfs* s_real = nullptr;
    sqlite3_vfs m_vfs{};
};

// A write the system refused for want of permission said "the disk reported
// an error": the system's own reason decides what the user is told.
TEST_F(EntryStoreTest, WriteTheSystemRefusesSaysWhyInWords) {
    AddEntry("before", "2024-01-01 08:00:00");
    const struct {
        const char* name;
        int error;
        const char* reason;
    } cases[] = {
        {"no permission", EACCES, kReasonCannotWrite},  {"immutable file", EPERM, kReasonCannotWrite},
        {"read-only mount", EROFS, kReasonCannotWrite}, {"disk full", ENOSPC, kReasonDiskFull},
        {"quota used up", EDQUOT, kReasonDiskFull},     {"failing disk", EIO, kReasonDiskError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RefusingFileSystem refusing(c.error);
        CJournalDb db;
        db.SetFolder(m_dir.Path());
        db.SetFileName("journal.grv");
        ASSERT_EQ(db.Open(0), 1) << db.GetLastErrorText();
        CEntry e = AtTime("2024-01-02 08:00:00");
        EXPECT_EQ(db.SaveEntry(e), 0);
        EXPECT_EQ(db.GetLastErrorText(), WriteFailure(kErrSaveEntry, JournalPath(), e.GetInsertSql(), c.reason));
        CEntry back;
        EXPECT_EQ(db.LoadEntry("1", back), 1);
        EXPECT_EQ(back.sbj, "before");
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry;"), "1\n");
}

// A journal text of megabytes must not become a message of megabytes: the
// message holds the start of the statement, cut between characters.
TEST_F(EntryStoreTest, FailedSaveOfAHugeEntryShowsOnlyTheStartOfItsStatement) {
    AddEntry("before", "2024-01-01 08:00:00");
    // The journal may not grow: as on a full disk.
    std::vector<std::string> pages;
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA page_count", pages), 1);
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA max_page_count=" + pages.at(0), pages), 1);
    std::string body;
    while (body.size() < (1u << 20))
        body += "Schmerz \xc3\xbc"
                "berall; ";
    // Three-byte characters shifted by 0, 1 and 2: one cut falls inside one.
    for (const char* pad : {"", "a", "aa"}) {
        CEntry e = AtTime("2024-01-02 08:00:00");
        e.sbj = pad;
        for (int i = 0; i < 80; ++i)
            e.sbj += "\xe2\x82\xac";
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

// Opens a read-only copy of the journal, tries a save and a load, and
// answers 0 when the save was refused and the load still worked.
int CheckReadOnlyJournal(const std::string& folder) {
    CJournalDb db;
    db.SetFolder(folder);
    db.SetFileName("ro.grv");
    if (db.Open(0) != 1)
        return 1;
    CEntry e = AtTime("2024-01-02 08:00:00");
    if (db.SaveEntry(e) != 0)
        return 2;
    if (db.GetLastErrorText().find(kReasonCannotWrite) == std::string::npos)
        return 4;
    CEntry back;
    if (db.LoadEntry("1", back) != 1 || back.sbj != "kept")
        return 3;
    return 0;
}

TEST_F(EntryStoreTest, ReadOnlyFileOpensAndRefusesWrites) {
    AddEntry("kept", "2024-01-01 08:00:00");
    ASSERT_EQ(m_db.Close(), 1);
    // Readable by all: the test's own folder is closed to others.
    grvtest::TempDir shared("grv-ro", grvtest::SharedTempRoot());
    const std::string folder = shared.Path();
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0); // only the file mode may refuse
    const std::string copy = folder + "/ro.grv";
    ASSERT_TRUE(std::filesystem::copy_file(JournalPath(), copy));
    ASSERT_EQ(chmod(copy.c_str(), 0444), 0);
    int result = -1;
    if (geteuid() == 0) {
        // File modes do not bind the superuser: check as nobody.
        const pid_t pid = fork();
        ASSERT_NE(pid, -1);
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(9);
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

} // namespace
