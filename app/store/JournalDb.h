#pragma once
// The journal's data store: the one connection to the open journal file, its
// name and folder, and the text of the last failure. Operations return 1 for
// success and 0 for failure (some say otherwise) and leave the error text.
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class CJournalDb {
public:
    CJournalDb();
    ~CJournalDb();
    CJournalDb(const CJournalDb&) = delete;
    CJournalDb& operator=(const CJournalDb&) = delete;

    void SetFileName(std::string name);
    std::string GetFileName() const;
    // The folder holding the journal, without a trailing separator.
    void SetFolder(std::string folder);
    std::string GetFolder() const;
    // Folder, separator, file name.
    std::string GetFullPath() const;

    int IsOpen() const;
    std::string GetLastErrorText() const;

    // Opens the journal at the full path. With create set, makes a new
    // journal there instead; an existing file is never touched. An open
    // journal is closed first.
    int Open(int create);
    int Close();

    // The fixed text of an SQLite result code.
    static std::string GetResultCodeText(int code);

private:
    class Statement;

    int CreateSchema();
    void ReleaseConnection();

    // Prepares sql into st; on failure sets "SQL Error" and returns false.
    bool Prepare(const std::string& sql, Statement& st);
    // Sets "Error: code : message" after a failed step.
    void SetStepError(int code);
    // Runs exactly one statement that returns no rows; the SQLite result.
    int Execute(const std::string& sql);

    sqlite3* m_db = nullptr;
    int m_open = 0;
    std::string m_fileName;
    std::string m_folder;
    std::string m_lastError;
};
