// An entry's detail records as list rows, Timestamp text for date filters,
// and every row of a report statement as texts.
#include "app/store/JournalDb.h"
#include "app/store/SqlText.h"
#include "app/store/Statement.h"
#include "app/store/StoreTexts.h"

namespace {

using Statement = CJournalDb::Statement;

std::string DetailStatement(int type, int entryId) {
    switch (type) {
    case kEntryTypeAction:
        return SqlFormat("SELECT id,name,cat from [entry_actions] where eid=%d AND del=0 order by id asc", entryId);
    case kEntryTypeJournal: return "SELECT id,sbj from [entry] where del=0 order by id asc";
    case kEntryTypeMedicine:
        return SqlFormat("SELECT id,name,dosage from [entry_meds] where eid=%d AND del=0 order by id asc", entryId);
    case kEntryTypeMood:
        return SqlFormat("SELECT id from [entry_mood] where eid=%d AND del=0 order by id asc", entryId);
    case kEntryTypeQuestion:
        return SqlFormat("SELECT id,q from [entry_question] where eid=%d AND del=0 order by id asc", entryId);
    case kEntryTypeSideEffects:
        // Every record is listed, so every record can be opened and deleted:
        // general symptoms and those of medicines since removed included.
        return SqlFormat("SELECT ef.id, mc.name, mc.dos_size, mc.dos_msr, ef.mid from [entry_sideff] as ef "
                         "LEFT JOIN [medicine_cabinet] as mc ON ef.mid = mc.id "
                         "where ef.eid=%d AND ef.del=0 ORDER BY ef.id asc",
                         entryId);
    default: return {};
    }
}

std::string DetailLabel(int type, const Statement& st) {
    switch (type) {
    case kEntryTypeAction: return st.Text(1) + " [" + st.Text(2) + "]";
    case kEntryTypeJournal:
    case kEntryTypeQuestion: return st.Text(1);
    case kEntryTypeMedicine: return st.Text(1) + " " + st.Text(2);
    case kEntryTypeMood: return kMoodDetailLabel;
    case kEntryTypeSideEffects:
        if (st.Int(4) < 1)
            return kGeneralSideEffects;
        if (st.IsNull(1))
            return kMedicineNotFound;
        return st.Text(1) + " " + st.Text(2) + st.Text(3);
    default: return {};
    }
}

} // namespace

bool CJournalDb::FillDetailList(ListRows& rows, int type, int entryId) {
    const std::string sql = DetailStatement(type, entryId);
    if (sql.empty()) {
        m_lastError = SqlFormat(kErrStep, SQLITE_MISUSE, sqlite3_errstr(SQLITE_MISUSE));
        return true;
    }
    return ListQuery(
        sql, rows, [type](const Statement& st) { return ListRow{{st.Text(0), DetailLabel(type, st)}, std::nullopt}; });
}

std::string CJournalDb::FormatTimestamp(const JournalDateTime& when) {
    return MakeTimestampText(when);
}

bool CJournalDb::QueryAllRows(const std::string& statement, int columns, ReportRows& rows) {
    Statement st;
    if (!Prepare(statement, st))
        return false;
    const int have = st.ColumnCount();
    if (have > columns) {
        m_lastError = SqlFormat(kErrTooManyColumns, have, columns);
        return false;
    }
    int r;
    while ((r = st.Step()) == SQLITE_ROW) {
        ReportRow row;
        row.reserve(static_cast<size_t>(columns));
        for (int i = 0; i < columns; ++i)
            row.push_back(i < have ? st.Text(i) : std::string());
        rows.push_back(std::move(row));
    }
    if (r != SQLITE_DONE) {
        SetStepError(r);
        return false;
    }
    return true;
}
