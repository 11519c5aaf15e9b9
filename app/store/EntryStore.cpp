// Loading, saving and marking deleted the entry records.
#include <utility>

#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/SqlText.h"
#include "app/store/Statement.h"
#include "app/store/StoreTexts.h"

namespace {

using Statement = CJournalDb::Statement;

// Fields from the columns of the same name.
void Fill(const Statement& st, CEntry& r) {
    r.ts = st.Text("ts");
    r.wpl = st.Int("wpl");
    r.apl = st.Int("apl");
    r.lpl = st.Int("lpl");
    r.cpl = st.Int("cpl");
    r.sbj = st.Text("sbj");
    r.entry = st.Text("entry");
}

void Fill(const Statement& st, CEntryActions& r) {
    r.eid = st.Int("eid");
    r.name = st.Text("name");
    r.cat = st.Text("cat");
    r.plmod = st.Int("plmod");
    r.durmin = st.Int("durmin");
    r.ref = st.Text("ref");
}

void Fill(const Statement& st, CEntryMeds& r) {
    r.eid = st.Int("eid");
    r.mid = st.Int("mid");
    r.name = st.Text("name");
    r.quantity = st.Int("quantity");
    r.override = st.Int("override");
    r.dosage = st.Text("dosage");
    r.desc = st.Text("desc");
}

void Fill(const Statement& st, CEntryMood& r) {
    r.eid = st.Int("eid");
    r.act = st.Int("act");
    r.mood = st.Int("mood");
    r.walk = st.Int("walk");
    r.work = st.Int("work");
    r.relat = st.Int("relat");
    r.sleep = st.Int("sleep");
    r.life = st.Int("life");
    r.concn = st.Int("concn");
}

void Fill(const Statement& st, CEntryQuestions& r) {
    r.eid = st.Int("eid");
    r.q = st.Text("q");
    r.a = st.Text("a");
    r.ref = st.Text("ref");
}

void Fill(const Statement& st, CEntrySideEff& r) {
    r.eid = st.Int("eid");
    r.mid = st.Int("mid");
    r.appet = st.Int("appet");
    r.constip = st.Int("constip");
    r.insomn = st.Int("insomn");
    r.itch = st.Int("itch");
    r.nausea = st.Int("nausea");
    r.night = st.Int("night");
    r.sweat = st.Int("sweat");
    r.think = st.Int("think");
    r.tired = st.Int("tired");
    r.vomit = st.Int("vomit");
}

} // namespace

namespace {

// Id texts go into the statement as they are typed, made safe.
std::string ByIdText(const char* format, const std::string& idText) {
    return SqlFormat(format, EscapeSqlText(idText).c_str());
}

// The record takes the id it was asked for, then the row's columns.
template <typename Record>
auto Into(Record& rec, int id) {
    return [&rec, id](const Statement& st) {
        rec.id = id;
        Fill(st, rec);
    };
}

} // namespace

bool CJournalDb::LoadEntry(const std::string& idText, CEntry& rec) {
    // A missing entry is not an error here: the record stays as it was.
    return LoadRow(ByIdText("select * from [entry] where id='%s';", idText), true, Into(rec, IdFromText(idText)));
}

bool CJournalDb::LoadEntryActions(const std::string& idText, CEntryActions& rec) {
    return LoadRow(ByIdText("select * from [entry_actions] where id='%s';", idText), false,
                   Into(rec, IdFromText(idText)));
}

bool CJournalDb::LoadEntryMeds(const std::string& idText, CEntryMeds& rec) {
    return LoadRow(ByIdText("select * from [entry_meds] where id='%s';", idText), false, Into(rec, IdFromText(idText)));
}

bool CJournalDb::LoadEntryMood(int id, CEntryMood& rec) {
    if (id < 1)
        return false;
    return LoadRow(SqlFormat("select * from [entry_mood] where id=%d AND del=0;", id), false, Into(rec, id));
}

bool CJournalDb::LoadEntryMoodText(const std::string& idText, CEntryMood& rec) {
    return LoadEntryMood(IdFromText(idText), rec);
}

bool CJournalDb::LoadEntryQuestionText(const std::string& idText, CEntryQuestions& rec) {
    const int id = IdFromText(idText);
    if (id < 1)
        return false;
    return LoadRow(SqlFormat("select * from [entry_question] where id=%d AND del=0;", id), false, Into(rec, id));
}

bool CJournalDb::LoadEntrySideEffText(const std::string& idText, CEntrySideEff& rec) {
    const int id = IdFromText(idText);
    if (id < 1)
        return false;
    return LoadRow(SqlFormat("select * from [entry_sideff] where id=%d AND del=0;", id), false, Into(rec, id));
}

int CJournalDb::LoadEntryMoodByEntry(int entryId) {
    if (entryId < 1)
        return 0;
    int moodId = 0;
    LoadRow(SqlFormat("select * from [entry_mood] where eid=%d AND del=0;", entryId), false,
            [&moodId](const Statement& st) { moodId = st.Int(0); });
    return moodId;
}

bool CJournalDb::SaveEntry(CEntry& rec) {
    // Reports, charts and summaries all read levels as 0 to 10, whichever
    // window the entry came from.
    const std::pair<const char*, int> levels[] = {
        {"worst", rec.wpl}, {"average", rec.apl}, {"lowest", rec.lpl}, {"current", rec.cpl}};
    for (const auto& [name, level] : levels) {
        if (!IsPainLevel(level)) {
            m_lastError = SqlFormat(kErrPainLevel, name, level, kPainLevelMin, kPainLevelMax);
            return false;
        }
    }
    return SaveRecord(rec, kErrSaveEntry);
}
bool CJournalDb::SaveEntryActions(CEntryActions& rec) {
    return SaveRecord(rec, kErrSaveEntry);
}
bool CJournalDb::SaveEntryMeds(CEntryMeds& rec) {
    return SaveRecord(rec, kErrSaveEntry);
}
bool CJournalDb::SaveEntryMood(CEntryMood& rec) {
    return SaveRecord(rec, kErrSaveEntry);
}
bool CJournalDb::SaveEntryQuestion(CEntryQuestions& rec) {
    return SaveRecord(rec, kErrSaveQuestion);
}
bool CJournalDb::SaveEntrySideEff(CEntrySideEff& rec) {
    return SaveRecord(rec, kErrSaveEntry);
}

bool CJournalDb::DeleteEntry(int id) {
    std::string sql;
    if (id >= 1) {
        CEntry rec;
        rec.id = id;
        sql = rec.GetDeleteSql(0);
    }
    return Write(sql, kErrDeleteEntry);
}

template <typename Record>
int CJournalDb::DeleteDetail(const Record& rec) {
    if (rec.eid < 1)
        return -1;
    return Write(rec.GetDeleteSql(0), kErrDeleteEntry) ? 1 : 0;
}

int CJournalDb::DeleteEntryActions(const CEntryActions& rec) {
    return DeleteDetail(rec);
}
int CJournalDb::DeleteEntryMeds(const CEntryMeds& rec) {
    return DeleteDetail(rec);
}
int CJournalDb::DeleteEntryMood(const CEntryMood& rec) {
    return DeleteDetail(rec);
}
int CJournalDb::DeleteEntryQuestion(const CEntryQuestions& rec) {
    return DeleteDetail(rec);
}
int CJournalDb::DeleteEntrySideEff(const CEntrySideEff& rec) {
    return DeleteDetail(rec);
}
