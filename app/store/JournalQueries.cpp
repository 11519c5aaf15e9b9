// Questions the windows ask of the journal: counts, pain levels, the text
// blocks of an entry's details and the rows of the entry lists.
#include <cstdlib>
#include <iterator>

#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "app/store/SqlText.h"
#include "app/store/Statement.h"
#include "app/store/StoreTexts.h"

namespace {

constexpr const char* kPainTrendColumns[] = {"lpl", "wpl", "apl", "cpl"};
constexpr int kPainTrendPoints = 81;

// The text as a LIKE pattern that matches itself only (still without regard
// to ASCII case), for the escape character '\'.
std::string LikeLiteral(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\\' || ch == '%' || ch == '_')
            out += '\\';
        out += ch;
    }
    return out;
}

// The entry columns the find dialog and the entries list search in.
constexpr std::initializer_list<const char*> kEntrySearchColumns = {"ts", "sbj", "entry", "apl"};

} // namespace

std::string CJournalDb::GetTypeTableName(int type) {
    return EntryTypeTableName(type);
}
std::string CJournalDb::GetTypeDisplayName(int type) {
    return EntryTypeDisplayName(type);
}

bool CJournalDb::CheckSearchColumn(const std::string& column, std::initializer_list<const char*> allowed) {
    for (const char* name : allowed) {
        if (column == name)
            return true;
    }
    m_lastError = SqlFormat(kErrUnknownSearchField, EscapeSqlText(column).c_str());
    return false;
}

std::string CJournalDb::SearchStatement(const std::string& column, const std::string& text, const char* unfiltered,
                                        const char* filtered, std::initializer_list<const char*> allowed) {
    if (column == "*")
        return unfiltered;
    if (!CheckSearchColumn(column, allowed))
        return {};
    return SqlFormat(filtered, column.c_str(), EscapeSqlText(text).c_str());
}

int CJournalDb::CountDetails(int entryId, int type) {
    Statement st;
    if (!Prepare(SqlFormat("SELECT * from [%s] where eid=%d AND del=0", GetTypeTableName(type).c_str(), entryId), st)) {
        return -1;
    }
    int count = 0;
    int r;
    while ((r = st.Step()) == SQLITE_ROW)
        ++count;
    if (r != SQLITE_DONE) {
        SetStepError(r);
        return -1;
    }
    return count;
}

bool CJournalDb::QueryFirstColumn(std::string statement, std::vector<std::string>& out) {
    Statement st;
    if (!Prepare(statement, st))
        return false;
    int r;
    while ((r = st.Step()) == SQLITE_ROW)
        out.push_back(st.Text(0));
    if (r != SQLITE_DONE)
        SetStepError(r);
    return true;
}

bool CJournalDb::GetActionCategories(std::vector<std::string>& out) {
    return QueryFirstColumn("SELECT cat from [entry_actions] where del=0 group by cat order by cat asc", out);
}

bool CJournalDb::GetActionNames(const std::string& category, std::vector<std::string>& out) {
    if (category.empty()) {
        return QueryFirstColumn("SELECT name from [entry_actions] where del=0 order by name asc", out);
    }
    return QueryFirstColumn(SqlFormat("SELECT name from [entry_actions] where cat like '%s' ESCAPE '\\' AND del=0 "
                                      "group by name order by name asc",
                                      EscapeSqlText(LikeLiteral(category)).c_str()),
                            out);
}

bool CJournalDb::GetPainTrend(int mode, std::vector<int>& out) {
    const char* column =
        mode >= 0 && mode < static_cast<int>(std::size(kPainTrendColumns)) ? kPainTrendColumns[mode] : "";
    Statement st;
    if (!Prepare(SqlFormat("SELECT %s from [Entry] WHERE del=0 order by ts desc limit %d", column, kPainTrendPoints),
                 st)) {
        return false;
    }
    const int columns = st.ColumnCount();
    int r;
    while ((r = st.Step()) == SQLITE_ROW) {
        for (int i = 0; i < columns; ++i)
            out.push_back(st.Int(i));
    }
    if (r != SQLITE_DONE) {
        SetStepError(r);
        return false;
    }
    return true;
}

bool CJournalDb::GetPainSummary(float& worst, float& lowest, float& current) {
    if (!IsOpen())
        return false;
    Statement st;
    if (!Prepare("select MAX(wpl), MIN(lpl), ROUND(AVG(cpl),0) from [entry] where del=0;", st)) {
        return false;
    }
    int r;
    while ((r = st.Step()) == SQLITE_ROW) {
        if (st.IsNull(0))
            return false; // no undeleted entry
        worst = static_cast<float>(std::atof(st.Text(0).c_str()));
        lowest = static_cast<float>(std::atof(st.Text(1).c_str()));
        current = static_cast<float>(std::atof(st.Text(2).c_str()));
    }
    if (r != SQLITE_DONE) {
        SetStepError(r);
        return false;
    }
    return true;
}

template <typename Block>
bool CJournalDb::EntryTextBlocks(const std::string& sql, std::vector<std::string>& out, Block block) {
    if (!IsOpen())
        return false;
    Statement st;
    if (!Prepare(sql, st))
        return false;
    int r;
    while ((r = st.Step()) == SQLITE_ROW)
        out.push_back(block(st));
    if (r != SQLITE_DONE)
        SetStepError(r);
    return !out.empty();
}

bool CJournalDb::GetEntryMedsText(int entryId, std::vector<std::string>& out) {
    return EntryTextBlocks(SqlFormat("SELECT * from [entry_meds] where del=0 AND eid='%d'", entryId), out,
                           [](const Statement& st) {
                               return st.Text("name") + " (" + st.Text("quantity") + ") " + st.Text("dosage") + " - " +
                                      st.Text("override") + "\r\n" + st.Text("desc") + "\r\n";
                           });
}

bool CJournalDb::GetEntryMoodText(int entryId, std::vector<std::string>& out) {
    return EntryTextBlocks(SqlFormat("SELECT * from [entry_mood] where eid='%d' AND del=0", entryId), out,
                           [](const Statement& st) {
                               return "How does the Pain Affect Daily...\r\n\r\n"
                                      "Actions:\t\t\t" +
                                      st.Text("act") +
                                      "\r\n"
                                      "Mood:\t\t\t" +
                                      st.Text("mood") +
                                      "\r\n"
                                      "Walking:\t\t\t" +
                                      st.Text("walk") +
                                      "\r\n"
                                      "Working:\t\t\t" +
                                      st.Text("work") +
                                      "\r\n"
                                      "Relationships:\t\t" +
                                      st.Text("relat") +
                                      "\r\n"
                                      "Sleep:\t\t\t" +
                                      st.Text("sleep") +
                                      "\r\n"
                                      "Concentration:\t\t" +
                                      st.Text("concn") +
                                      "\r\n"
                                      "Life:\t\t\t" +
                                      st.Text("life") + "\r\n";
                           });
}

bool CJournalDb::GetEntryQuestionsText(int entryId, std::vector<std::string>& out) {
    return EntryTextBlocks(SqlFormat("SELECT id, q, a, ref from [entry_question] where eid='%d' AND del=0", entryId),
                           out, [](const Statement& st) {
                               std::string block = "(";
                               block += st.Text(0);
                               block += ") Q:";
                               block += st.Text(1);
                               block += "\r\nA: ";
                               block += st.Text(2);
                               block += "\r\n";
                               return block;
                           });
}

bool CJournalDb::GetEntrySideEffText(int entryId, std::vector<std::string>& out) {
    return EntryTextBlocks(
        SqlFormat("SELECT * from [entry_sideff] where eid='%d' AND del=0", entryId), out, [this](const Statement& st) {
            std::string block;
            const int mid = st.Int("mid");
            if (mid < 1) {
                block = std::string(kGeneralSideEffects) + "\r\n";
            } else {
                // A medicine removed from the cabinet is named as missing,
                // never as whichever medicine was looked at before.
                CMedicine med;
                const std::string label = LoadMedicine(mid, med) ? med.name + " " + IdText(med.dos_size) + med.dos_msr
                                                                 : std::string(kMedicineNotFound);
                block = "Medicine Name:\t\t" + label + "\r\n";
            }
            return block + "Appetite:\t\t\t" + st.Text("appet") +
                   "\r\n"
                   "Constipation:\t\t" +
                   st.Text("constip") +
                   "\r\n"
                   "Insomnia:\t\t" +
                   st.Text("insomn") +
                   "\r\n"
                   "Itching:\t\t\t" +
                   st.Text("itch") +
                   "\r\n"
                   "Nausea:\t\t\t" +
                   st.Text("nausea") +
                   "\r\n"
                   "Nightmares:\t\t" +
                   st.Text("night") +
                   "\r\n"
                   "Sweating:\t\t\t" +
                   st.Text("sweat") +
                   "\r\n"
                   "Thinking:\t\t\t" +
                   st.Text("think") +
                   "\r\n"
                   "Tired:\t\t\t" +
                   st.Text("tired") +
                   "\r\n"
                   "Vomitting:\t\t" +
                   st.Text("vomit") + "\r\n";
        });
}

std::string CJournalDb::ShortenTimestamp(std::string timestamp) {
    return ShortenTimestampText(timestamp);
}

bool CJournalDb::FindEntries(std::string column, std::string text, ListRows& rows) {
    const std::string sql = SearchStatement(
        column, text, "SELECT id,ts,apl,sbj from [Entry] where del=0 order by ts asc",
        "SELECT id,ts,apl,sbj from [Entry] where del=0 AND %s like '%%%s%%' order by ts asc", kEntrySearchColumns);
    if (sql.empty())
        return false;
    return ListQuery(sql, rows, [](const Statement& st) {
        return ListRow{{st.Text(0), st.Text(1), st.Text(3), st.Text(2)}, std::nullopt};
    });
}

bool CJournalDb::FillEntryList(std::string column, std::string text, ListRows& rows) {
    const std::string sql =
        SearchStatement(column, text, "SELECT id,ts,sbj,cpl,lpl,apl,wpl from [Entry] where del=0 order by ts asc",
                        "SELECT id,ts,sbj,cpl,lpl,apl,wpl from [Entry] where del=0 AND %s like '%%%s%%' "
                        "order by ts asc",
                        kEntrySearchColumns);
    if (sql.empty())
        return false;
    return ListQuery(sql, rows, [](const Statement& st) {
        return ListRow{{ShortenTimestamp(st.Text(1)), st.Text(2), st.Text(3), st.Text(4), st.Text(5), st.Text(6)},
                       st.Int(0)};
    });
}
