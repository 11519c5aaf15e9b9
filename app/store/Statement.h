#pragma once
// A prepared statement that is finalised on every path out of its scope.
// Internal to the data store.
#include <sqlite3.h>

#include <iterator>
#include <string>

#include "app/store/JournalDb.h"

class CJournalDb::Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt** Out() { return &m_stmt; }
    sqlite3_stmt* Get() const { return m_stmt; }

    int Step() { return sqlite3_step(m_stmt); }
    int ColumnCount() const { return sqlite3_column_count(m_stmt); }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // The column as text; NULL gives an empty text, a text that is not
    // UTF-8 is read as Windows-1252.
    std::string Text(int column) const;
    // The column's whole number, read without a text in between: a text
    // counts by its leading digits as atoi reads them, NULL as 0, and values
    // beyond int are clamped.
    int Int(int column) const;
    // The same, by column name; a missing column reads as NULL.
    int Index(const char* name) const;
    std::string Text(const char* name) const { return Text(Index(name)); }
    int Int(const char* name) const { return Int(Index(name)); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

template <typename MakeRow>
bool CJournalDb::ListQuery(const std::string& sql, ListRows& rows, MakeRow makeRow) {
    Statement st;
    if (!Prepare(sql, st))
        return false;
    ListRows found;
    int r;
    while ((r = st.Step()) == SQLITE_ROW)
        found.push_back(makeRow(st));
    rows.insert(rows.begin(), std::make_move_iterator(found.rbegin()), std::make_move_iterator(found.rend()));
    // A list cut short by a failing step is no answer: the caller keeps
    // showing what it showed rather than a list that looks complete.
    if (r != SQLITE_DONE) {
        SetStepError(r);
        return false;
    }
    return true;
}

template <typename OnRow>
bool CJournalDb::LoadRow(const std::string& sql, bool noRowResult, OnRow onRow) {
    Statement st;
    if (!Prepare(sql, st))
        return false;
    const int r = st.Step();
    if (r == SQLITE_ROW) {
        onRow(st);
        return true;
    }
    if (r == SQLITE_DONE)
        return noRowResult;
    SetStepError(r);
    return false;
}

template <typename Record>
bool CJournalDb::SaveRecord(Record& rec, const char* failure) {
    const bool insert = rec.id < 1;
    const std::string sql = insert ? rec.GetInsertSql() : rec.GetUpdateSql("id", IdText(rec.id));
    if (!Write(sql, failure))
        return false;
    if (insert)
        rec.id = LastInsertId();
    return true;
}
