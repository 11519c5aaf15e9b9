#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/store/EntryRecords.h"
#include "app/store/Medicine.h"

namespace {

CEntry SampleEntry() {
    CEntry e;
    e.id = 12;
    e.ts = "2024-03-05 09:07:30";
    e.wpl = 8;
    e.apl = 5;
    e.lpl = 2;
    e.cpl = 4;
    e.sbj = "Knee";
    e.entry = "Stiff after the walk";
    return e;
}

CEntryActions SampleAction() {
    CEntryActions a;
    a.id = 3;
    a.eid = 12;
    a.name = "Walk";
    a.cat = "Exercise";
    a.plmod = -2;
    a.durmin = 30;
    a.ref = "physio";
    return a;
}

CEntryMeds SampleMeds() {
    CEntryMeds m;
    m.id = 4;
    m.eid = 12;
    m.mid = 2;
    m.name = "Ibuprofen (200 mg) Tablet";
    m.quantity = 2;
    m.override = 0;
    m.dosage = "400 mg";
    m.desc = "with food";
    return m;
}

CEntryMood SampleMood() {
    CEntryMood m;
    m.id = 5;
    m.eid = 12;
    m.act = 1;
    m.mood = 2;
    m.walk = 3;
    m.work = 4;
    m.relat = 5;
    m.sleep = 6;
    m.life = 7;
    m.concn = 8;
    return m;
}

CEntryQuestions SampleQuestion() {
    CEntryQuestions q;
    q.id = 6;
    q.eid = 12;
    q.q = "Dose change?";
    q.a = "Not yet";
    q.ref = "Dr. B";
    return q;
}

CEntrySideEff SampleSideEff() {
    CEntrySideEff s;
    s.id = 7;
    s.eid = 12;
    s.mid = 2;
    s.appet = 1;
    s.constip = 2;
    s.insomn = 3;
    s.itch = 4;
    s.nausea = 5;
    s.night = 6;
    s.sweat = 7;
    s.think = 8;
    s.tired = 9;
    s.vomit = 10;
    return s;
}

CMedicine SampleMedicine() {
    CMedicine m;
    m.id = 7;
    m.name = "Ibuprofen";
    m.dos_size = 200;
    m.dos_msr = "mg";
    m.dos_form = "Tablet";
    m.dos_qty = 1;
    m.dos_dur_size = 6;
    m.dos_dur_form = "Hours";
    m.qty_per_span = 30;
    m.span_length = 1;
    m.span_form = "Months";
    m.refill_cnt = 3;
    m.dosage_text = "1 every 6 hours";
    m.desc = "pain relief";
    m.url = "http://example.invalid/ibu";
    return m;
}

struct BuilderCase {
    const char* name;
    std::function<std::string()> build;
    const char* expected;
};

TEST(StatementBuilders, OrdinaryValuesGiveTheJournalsStatements) {
    const BuilderCase cases[] = {
        {"entry insert", [] { return SampleEntry().GetInsertSql(); },
         "INSERT into [entry] (ts, wpl, apl, lpl, cpl, sbj, entry) VALUES('2024-03-05 09:07:30', "
         "8, 5, 2, 4, 'Knee', 'Stiff after the walk');"},
        {"entry update", [] { return SampleEntry().GetUpdateSql("id", "12"); },
         "UPDATE entry SET ts='2024-03-05 09:07:30', wpl=8, apl=5, lpl=2, cpl=4, sbj='Knee', "
         "entry='Stiff after the walk' WHERE id='12'"},
        {"entry soft delete", [] { return SampleEntry().GetDeleteSql(0); },
         "UPDATE entry SET del='1' WHERE id='12'"},
        {"entry removal", [] { return SampleEntry().GetDeleteSql(1); },
         "DELETE FROM entry WHERE id='12'"},
        {"actions insert", [] { return SampleAction().GetInsertSql(); },
         "INSERT into [entry_actions] (eid, name, cat, plmod, durmin, ref) VALUES(12, 'Walk', "
         "'Exercise', -2, 30, 'physio');"},
        {"actions update", [] { return SampleAction().GetUpdateSql("id", "3"); },
         "UPDATE [entry_actions] SET eid=12, name='Walk', cat='Exercise', plmod=-2, durmin=30, "
         "ref='physio' WHERE id='3'"},
        {"actions soft delete", [] { return SampleAction().GetDeleteSql(0); },
         "UPDATE entry_actions SET del='1' WHERE id='3'"},
        {"actions removal", [] { return SampleAction().GetDeleteSql(1); },
         "DELETE FROM entry_actions WHERE id='3'"},
        {"meds insert", [] { return SampleMeds().GetInsertSql(); },
         "INSERT into [entry_meds] (eid, mid, name, quantity, override, dosage, desc) VALUES(12, "
         "2, 'Ibuprofen (200 mg) Tablet', 2, 0, '400 mg', 'with food');"},
        {"meds update", [] { return SampleMeds().GetUpdateSql("id", "4"); },
         "UPDATE [entry_meds] SET eid=12, mid=2, name='Ibuprofen (200 mg) Tablet', quantity=2, "
         "override=0, dosage='400 mg', desc='with food' WHERE id='4'"},
        {"meds soft delete", [] { return SampleMeds().GetDeleteSql(0); },
         "UPDATE [entry_meds] SET del='1' WHERE id='4'"},
        {"meds removal", [] { return SampleMeds().GetDeleteSql(1); },
         "DELETE FROM [entry_meds] WHERE id='4'"},
        {"mood insert", [] { return SampleMood().GetInsertSql(); },
         "INSERT into [entry_mood] (eid, act, mood, walk, work, relat, sleep, life, concn) "
         "VALUES(12, 1, 2, 3, 4, 5, 6, 7, 8);"},
        {"mood update", [] { return SampleMood().GetUpdateSql("id", "5"); },
         "UPDATE [entry_mood] SET eid=12, act=1, mood=2, walk=3, work=4, relat=5, sleep=6, "
         "life=7, concn=8 WHERE id='5'"},
        {"mood soft delete", [] { return SampleMood().GetDeleteSql(0); },
         "UPDATE [entry_mood] SET del='1' WHERE id='5'"},
        {"mood removal", [] { return SampleMood().GetDeleteSql(1); },
         "DELETE FROM [entry_mood] WHERE id='5'"},
        {"fresh mood insert",
         [] {
             CEntryMood m;
             m.eid = 5;
             return m.GetInsertSql();
         },
         "INSERT into [entry_mood] (eid, act, mood, walk, work, relat, sleep, life, concn) "
         "VALUES(5, -1, -1, -1, -1, -1, -1, -1, -1);"},
        {"question insert", [] { return SampleQuestion().GetInsertSql(); },
         "INSERT into [entry_question] (eid, q, a, ref) VALUES(12, 'Dose change?', 'Not yet', "
         "'Dr. B');"},
        {"question update", [] { return SampleQuestion().GetUpdateSql("id", "6"); },
         "UPDATE [entry_question] SET eid=12, q='Dose change?', a='Not yet', ref='Dr. B' "
         "WHERE id='6'"},
        {"question soft delete", [] { return SampleQuestion().GetDeleteSql(0); },
         "UPDATE [entry_question] SET del='1' WHERE id='6'"},
        {"question removal", [] { return SampleQuestion().GetDeleteSql(1); },
         "DELETE FROM [entry_question] WHERE id='6'"},
        {"side effects insert", [] { return SampleSideEff().GetInsertSql(); },
         "INSERT into [entry_sideff] (eid, mid, appet, constip, insomn, itch, nausea, night, "
         "sweat, think, tired, vomit) VALUES(12, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10);"},
        {"side effects update", [] { return SampleSideEff().GetUpdateSql("id", "7"); },
         "UPDATE [entry_sideff] SET eid=12, mid=2, appet=1, constip=2, insomn=3, itch=4, "
         "nausea=5, night=6, sweat=7, think=8, tired=9, vomit=10 WHERE id='7'"},
        {"side effects soft delete", [] { return SampleSideEff().GetDeleteSql(0); },
         "UPDATE [entry_sideff] SET del='1' WHERE id='7'"},
        {"side effects removal", [] { return SampleSideEff().GetDeleteSql(1); },
         "DELETE FROM [entry_sideff] WHERE id='7'"},
        {"medicine insert", [] { return SampleMedicine().GetInsertSql(); },
         "INSERT into [medicine_cabinet] (name, dos_size, dos_msr, dos_form, dos_qty, "
         "dos_dur_size, dos_dur_form, qty_per_span, span_length, span_form, refill_cnt, "
         "dosage_text, desc, url) VALUES('Ibuprofen', 200, 'mg', 'Tablet', 1, 6, 'Hours', 30, 1, "
         "'Months', 0, '1 every 6 hours', 'pain relief', 'http://example.invalid/ibu');"},
        {"medicine update", [] { return SampleMedicine().GetUpdateSql("id", "7"); },
         "UPDATE [medicine_cabinet] SET name = 'Ibuprofen', dos_size = 200, dos_msr = 'mg', "
         "dos_form = 'Tablet', dos_qty = 1, dos_dur_size = 6, dos_dur_form = 'Hours', "
         "qty_per_span = 30, span_length = 1, span_form = 'Months', refill_cnt = 0, "
         "dosage_text = '1 every 6 hours', desc = 'pain relief', "
         "url = 'http://example.invalid/ibu' WHERE id='7'"},
        {"medicine delete", [] { return SampleMedicine().GetDeleteSql(); },
         "DELETE from [medicine_cabinet] WHERE id='7'"},
        {"fresh medicine insert",
         [] {
             CMedicine m;
             m.name = "Aspirin";
             return m.GetInsertSql();
         },
         "INSERT into [medicine_cabinet] (name, dos_size, dos_msr, dos_form, dos_qty, "
         "dos_dur_size, dos_dur_form, qty_per_span, span_length, span_form, refill_cnt, "
         "dosage_text, desc, url) VALUES('Aspirin', -1, '', '', -1, -1, '', -1, -1, '', 0, '', "
         "'', '');"},
        {"unstored medicine delete", [] { return CMedicine().GetDeleteSql(); },
         "DELETE from [medicine_cabinet] WHERE id='-1'"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.build(), c.expected) << c.name;
}

TEST(StatementBuilders, UnstoredRecordsGiveNoDeleteStatement) {
    const std::function<std::string(int)> deletes[] = {
        [](int hard) { return CEntry().GetDeleteSql(hard); },
        [](int hard) { return CEntryActions().GetDeleteSql(hard); },
        [](int hard) { return CEntryMeds().GetDeleteSql(hard); },
        [](int hard) { return CEntryMood().GetDeleteSql(hard); },
        [](int hard) { return CEntryQuestions().GetDeleteSql(hard); },
        [](int hard) { return CEntrySideEff().GetDeleteSql(hard); },
    };
    for (const auto& del : deletes) {
        EXPECT_EQ(del(0), "ERROR");
        EXPECT_EQ(del(1), "ERROR");
    }
    CEntry zero;
    zero.id = 0;
    EXPECT_EQ(zero.GetDeleteSql(0), "UPDATE entry SET del='1' WHERE id='0'");
}

TEST(StatementBuilders, TextsAreEscapedIntoTheStatementOnly) {
    CEntry e = SampleEntry();
    e.sbj = "it's \"bad\"";
    e.entry = "O'Neil's";
    const std::string insert = e.GetInsertSql();
    EXPECT_NE(insert.find("'it''s \"bad\"', 'O''Neil''s'"), std::string::npos) << insert;
    EXPECT_EQ(e.sbj, "it's \"bad\"");
    EXPECT_EQ(e.entry, "O'Neil's");
    // Building again gives the same statement: nothing was doubled twice.
    EXPECT_EQ(e.GetInsertSql(), insert);
    EXPECT_EQ(e.GetUpdateSql("id", "12"), e.GetUpdateSql("id", "12"));

    CMedicine m = SampleMedicine();
    m.name = "Dr's";
    m.dos_form = "Tab'let";
    m.dos_msr = "m\"g";
    const std::string update = m.GetUpdateSql("id", "7");
    EXPECT_NE(update.find("name = 'Dr''s'"), std::string::npos) << update;
    EXPECT_NE(update.find("dos_form = 'Tab''let'"), std::string::npos) << update;
    EXPECT_NE(update.find("dos_msr = 'm\"g'"), std::string::npos) << update;
    EXPECT_EQ(m.name, "Dr's");
    EXPECT_EQ(m.dos_form, "Tab'let");
    EXPECT_EQ(m.GetInsertSql(), m.GetInsertSql());
}

TEST(StatementBuilders, KeyValueIsEscaped) {
    EXPECT_EQ(SampleQuestion().GetUpdateSql("id", "6' OR '1'='1"),
              "UPDATE [entry_question] SET eid=12, q='Dose change?', a='Not yet', ref='Dr. B' "
              "WHERE id='6'' OR ''1''=''1'");
}

TEST(StatementBuilders, EscapeTextOfBothRecordKinds) {
    EXPECT_EQ(CEntryBase::EscapeText("it's a \"word\""), "it''s a \"word\"");
    EXPECT_EQ(CMedicine::EscapeText("it's a \"word\""), "it''s a \"word\"");
}

TEST(Records, ResetRestoresStartValues) {
    CEntry e = SampleEntry();
    e.Reset();
    EXPECT_EQ(e.id, -1);
    EXPECT_EQ(e.eid, -1);
    EXPECT_EQ(e.ts, "");
    EXPECT_EQ(e.sbj, "");
    EXPECT_EQ(e.wpl, -1);
    EXPECT_EQ(e.cpl, -1);

    CEntrySideEff s = SampleSideEff();
    CEntryBase& base = s;
    base.Reset();  // through the base, as the dialogs hold records
    EXPECT_EQ(s.id, -1);
    EXPECT_EQ(s.eid, -1);
    EXPECT_EQ(s.mid, -1);
    EXPECT_EQ(s.vomit, -1);

    CMedicine m = SampleMedicine();
    m.Reset();
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.name, "");
    EXPECT_EQ(m.dos_size, -1);
    EXPECT_EQ(m.url, "");
}

TEST(Records, TimestampOfTheRecordParses) {
    CEntry e = SampleEntry();
    ASSERT_TRUE(e.ParseTimestamp().has_value());
    std::tm tm{};
    const std::time_t t = *e.ParseTimestamp();
    localtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_mday, 5);
    EXPECT_EQ(tm.tm_min, 7);
    e.ts = "";
    EXPECT_FALSE(e.ParseTimestamp().has_value());
}

}  // namespace
