#include "app/store/EntryRecords.h"

#include "app/store/JournalTypes.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"

namespace {

// Texts go into the statement escaped; the record keeps what the user typed.
std::string Esc(const std::string& text) {
    return EscapeSqlText(text);
}

std::string DeleteSql(int id, int hard, const char* soft, const char* removal) {
    if (id < 0)
        return kDeleteNotStored;
    if (hard)
        return TrimText(SqlFormat(removal, IdText(id).c_str()));
    return TrimText(SqlFormat(soft, id));
}

} // namespace

void CEntryBase::Reset() {}

std::optional<std::time_t> CEntryBase::ParseTimestamp() const {
    return ParseTimestampText(ts);
}

std::string CEntryBase::EscapeText(std::string text) {
    return EscapeSqlText(text);
}

// --- entry -----------------------------------------------------------------

void CEntry::Reset() {
    *this = CEntry();
}

std::string CEntry::GetInsertSql() const {
    std::string sql = "INSERT into [entry] (ts, wpl, apl, lpl, cpl, sbj, entry) ";
    sql += SqlFormat("VALUES('%s', %d, %d, %d, %d, '%s', '%s');", Esc(ts).c_str(), wpl, apl, lpl, cpl, Esc(sbj).c_str(),
                     Esc(entry).c_str());
    return TrimText(sql);
}

std::string CEntry::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE entry SET ts='%s', wpl=%d, apl=%d, lpl=%d, cpl=%d, sbj='%s', entry='%s' "
                              "WHERE %s='%s'",
                              Esc(ts).c_str(), wpl, apl, lpl, cpl, Esc(sbj).c_str(), Esc(entry).c_str(),
                              keyColumn.c_str(), Esc(keyValue).c_str()));
}

std::string CEntry::GetDeleteSql(int hard) const {
    return DeleteSql(id, hard, "UPDATE entry SET del='1' WHERE id='%d'", "DELETE FROM entry WHERE id='%s'");
}

// --- actions ---------------------------------------------------------------

void CEntryActions::Reset() {
    *this = CEntryActions();
}

std::string CEntryActions::GetInsertSql() const {
    std::string sql = "INSERT into [entry_actions] (eid, name, cat, plmod, durmin, ref) ";
    sql += SqlFormat("VALUES(%d, '%s', '%s', %d, %d, '%s');", eid, Esc(name).c_str(), Esc(cat).c_str(), plmod, durmin,
                     Esc(ref).c_str());
    return TrimText(sql);
}

std::string CEntryActions::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE [entry_actions] SET eid=%d, name='%s', cat='%s', plmod=%d, durmin=%d, ref='%s' "
                              "WHERE %s='%s'",
                              eid, Esc(name).c_str(), Esc(cat).c_str(), plmod, durmin, Esc(ref).c_str(),
                              keyColumn.c_str(), Esc(keyValue).c_str()));
}

std::string CEntryActions::GetDeleteSql(int hard) const {
    return DeleteSql(id, hard, "UPDATE entry_actions SET del='1' WHERE id='%d'",
                     "DELETE FROM entry_actions WHERE id='%s'");
}

// --- medicines taken -------------------------------------------------------

void CEntryMeds::Reset() {
    *this = CEntryMeds();
}

std::string CEntryMeds::GetInsertSql() const {
    std::string sql = "INSERT into [entry_meds] (eid, mid, name, quantity, override, dosage, desc) ";
    sql += SqlFormat("VALUES(%d, %d, '%s', %d, %d, '%s', '%s');", eid, mid, Esc(name).c_str(), quantity, override,
                     Esc(dosage).c_str(), Esc(desc).c_str());
    return TrimText(sql);
}

std::string CEntryMeds::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE [entry_meds] SET eid=%d, mid=%d, name='%s', quantity=%d, override=%d, "
                              "dosage='%s', desc='%s' WHERE %s='%s'",
                              eid, mid, Esc(name).c_str(), quantity, override, Esc(dosage).c_str(), Esc(desc).c_str(),
                              keyColumn.c_str(), Esc(keyValue).c_str()));
}

std::string CEntryMeds::GetDeleteSql(int hard) const {
    return DeleteSql(id, hard, "UPDATE [entry_meds] SET del='1' WHERE id='%d'",
                     "DELETE FROM [entry_meds] WHERE id='%s'");
}

// --- mood ------------------------------------------------------------------

void CEntryMood::Reset() {
    *this = CEntryMood();
}

std::string CEntryMood::GetInsertSql() const {
    std::string sql = "INSERT into [entry_mood] (eid, act, mood, walk, work, relat, sleep, life, concn) ";
    sql +=
        SqlFormat("VALUES(%d, %d, %d, %d, %d, %d, %d, %d, %d);", eid, act, mood, walk, work, relat, sleep, life, concn);
    return TrimText(sql);
}

std::string CEntryMood::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE [entry_mood] SET eid=%d, act=%d, mood=%d, walk=%d, work=%d, relat=%d, sleep=%d, "
                              "life=%d, concn=%d WHERE %s='%s'",
                              eid, act, mood, walk, work, relat, sleep, life, concn, keyColumn.c_str(),
                              Esc(keyValue).c_str()));
}

std::string CEntryMood::GetDeleteSql(int hard) const {
    return DeleteSql(id, hard, "UPDATE [entry_mood] SET del='1' WHERE id='%d'",
                     "DELETE FROM [entry_mood] WHERE id='%s'");
}

// --- questions -------------------------------------------------------------

void CEntryQuestions::Reset() {
    *this = CEntryQuestions();
}

std::string CEntryQuestions::GetInsertSql() const {
    std::string sql = "INSERT into [entry_question] (eid, q, a, ref) ";
    sql += SqlFormat("VALUES(%d, '%s', '%s', '%s');", eid, Esc(q).c_str(), Esc(a).c_str(), Esc(ref).c_str());
    return TrimText(sql);
}

std::string CEntryQuestions::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE [entry_question] SET eid=%d, q='%s', a='%s', ref='%s' "
                              "WHERE %s='%s'",
                              eid, Esc(q).c_str(), Esc(a).c_str(), Esc(ref).c_str(), keyColumn.c_str(),
                              Esc(keyValue).c_str()));
}

std::string CEntryQuestions::GetDeleteSql(int hard) const {
    return DeleteSql(id, hard, "UPDATE [entry_question] SET del='1' WHERE id='%d'",
                     "DELETE FROM [entry_question] WHERE id='%s'");
}

// --- side effects ----------------------------------------------------------

void CEntrySideEff::Reset() {
    *this = CEntrySideEff();
}

std::string CEntrySideEff::GetInsertSql() const {
    std::string sql = "INSERT into [entry_sideff] (eid, mid, appet, constip, insomn, itch, nausea, night, sweat, "
                      "think, tired, vomit) ";
    sql += SqlFormat("VALUES(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d);", eid, mid, appet, constip, insomn, itch,
                     nausea, night, sweat, think, tired, vomit);
    return TrimText(sql);
}

std::string CEntrySideEff::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE [entry_sideff] SET eid=%d, mid=%d, appet=%d, constip=%d, insomn=%d, itch=%d, "
                              "nausea=%d, night=%d, sweat=%d, think=%d, tired=%d, vomit=%d WHERE %s='%s'",
                              eid, mid, appet, constip, insomn, itch, nausea, night, sweat, think, tired, vomit,
                              keyColumn.c_str(), Esc(keyValue).c_str()));
}

std::string CEntrySideEff::GetDeleteSql(int hard) const {
    return DeleteSql(id, hard, "UPDATE [entry_sideff] SET del='1' WHERE id='%d'",
                     "DELETE FROM [entry_sideff] WHERE id='%s'");
}
