#pragma once
// A prepared statement that is finalised on every path out of its scope.
// Internal to the data store.
#include <sqlite3.h>

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
    // The column text converted like atoi.
    int Int(int column) const;
    // The same, by column name; a missing column reads as NULL.
    int Index(const char* name) const;
    std::string Text(const char* name) const { return Text(Index(name)); }
    int Int(const char* name) const { return Int(Index(name)); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};
