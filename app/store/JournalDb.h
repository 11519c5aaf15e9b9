#pragma once
// The journal's data store: the one connection to the open journal file, its
// name and folder, and the text of the last failure. Operations return 1 for
// success and 0 for failure (some say otherwise) and leave the error text.
#include <initializer_list>
#include <string>
#include <vector>

#include "app/store/JournalTypes.h"

class CEntry;
class CEntryActions;
class CEntryMeds;
class CEntryMood;
class CEntryQuestions;
class CEntrySideEff;
class CMedicine;
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

    // --- Journal queries. Output vectors are appended to. ---------------------

    static std::string GetTypeTableName(int type);
    static std::string GetTypeDisplayName(int type);
    // Undeleted details of a type for an entry; -1 on failure.
    int CountDetails(int entryId, int type);
    // Column 0 of every row of a caller-built statement.
    int QueryFirstColumn(std::string statement, std::vector<std::string>& out);
    // The newest 81 pain levels, newest first. Mode 0 lowest, 1 worst,
    // 2 average, 3 current.
    int GetPainTrend(int mode, std::vector<int>& out);
    // Highest worst, lowest lowest, rounded average current level over all
    // undeleted entries; 0 (outputs untouched) when there is none.
    int GetPainSummary(float& worst, float& lowest, float& current);
    // One text block per detail row; 1 when the array holds at least one.
    int GetEntryMedsText(int entryId, std::vector<std::string>& out);
    int GetEntryMoodText(int entryId, std::vector<std::string>& out);
    int GetEntryQuestionsText(int entryId, std::vector<std::string>& out);
    int GetEntrySideEffText(int entryId, std::vector<std::string>& out);
    static std::string ShortenTimestamp(std::string timestamp);
    // Entries whose column contains text (column "*": all), newest first, put
    // in front of rows as a list control shows them. Rows: id, ts, sbj, apl.
    int FindEntries(std::string column, std::string text, ListRows& rows);
    // As FindEntries; rows: short ts, sbj, cpl, lpl, apl, wpl, data id.
    int FillEntryList(std::string column, std::string text, ListRows& rows);

    // --- Entry records. -----------------------------------------------------

    int LoadEntry(const std::string& idText, CEntry& rec);
    int LoadEntryActions(const std::string& idText, CEntryActions& rec);
    int LoadEntryMeds(const std::string& idText, CEntryMeds& rec);
    int LoadEntryMood(int id, CEntryMood& rec);
    int LoadEntryMoodText(const std::string& idText, CEntryMood& rec);
    int LoadEntryQuestionText(const std::string& idText, CEntryQuestions& rec);
    int LoadEntrySideEffText(const std::string& idText, CEntrySideEff& rec);
    // The id of the entry's first undeleted mood record, 0 when none.
    int LoadEntryMoodByEntry(int entryId);

    // INSERT when the id is below 1 (the record then takes the new id),
    // else UPDATE. A failure keeps the connection and sets the error text.
    int SaveEntry(CEntry& rec);
    int SaveEntryActions(CEntryActions& rec);
    int SaveEntryMeds(CEntryMeds& rec);
    int SaveEntryMood(CEntryMood& rec);
    int SaveEntryQuestion(CEntryQuestions& rec);
    int SaveEntrySideEff(CEntrySideEff& rec);

    // Marks rows deleted. Detail deletes return -1 when the record's eid
    // is below 1.
    int DeleteEntry(int id);
    int DeleteEntryActions(const CEntryActions& rec);
    int DeleteEntryMeds(const CEntryMeds& rec);
    int DeleteEntryMood(const CEntryMood& rec);
    int DeleteEntryQuestion(const CEntryQuestions& rec);
    int DeleteEntrySideEff(const CEntrySideEff& rec);

    // --- Medicine cabinet. --------------------------------------------------

    int LoadMedicine(int id, CMedicine& rec);
    int FindMedicine(const std::string& name, int dosSize, const std::string& measure,
                     const std::string& form, CMedicine& rec);
    // INSERT when the id is below 1, else UPDATE.
    int SaveMedicine(CMedicine& rec);
    // Removes the row and resets the record; an unstored record only resets.
    int DeleteMedicine(CMedicine& rec);
    // Rows: id, name, dos_qty, "size measure", form, ascending by name.
    int FillMedicineList(std::string column, std::string text, ListRows& rows);
    // Combo labels "name (size measure) form" in id order.
    int FillMedicineCombo(std::vector<std::string>& labels);
    // "name (size measure)"; "N/A" when there is no such medicine.
    std::string GetMedicineLabel(int id);

    // --- Detail lists and report rows. --------------------------------------

    // Rows: record id, label; highest id first.
    int FillDetailList(ListRows& rows, int type, int entryId);
    static std::string FormatTimestamp(const JournalDateTime& when);
    // Every row of the statement as exactly `columns` texts.
    int QueryAllRows(const std::string& statement, int columns, ReportRows& rows);

    // A prepared statement of this store (defined inside the store only).
    class Statement;

private:

    int CreateSchema();
    void ReleaseConnection();

    // Prepares sql into st; on failure sets "SQL Error" and returns false.
    bool Prepare(const std::string& sql, Statement& st);
    // Sets "Error: code : message" after a failed step.
    void SetStepError(int code);
    // Runs exactly one statement that returns no rows; the SQLite result.
    int Execute(const std::string& sql);
    // Runs a save or delete statement; on failure sets failure (formatted
    // with the full path and the statement) and returns false.
    bool Write(const std::string& sql, const char* failure);
    int LastInsertId() const;
    // Whether column is one the search texts may be matched against.
    bool CheckSearchColumn(const std::string& column, std::initializer_list<const char*> allowed);
    // Filtered or unfiltered ("*") search statement; empty when refused.
    std::string SearchStatement(const std::string& column, const std::string& text,
                                const char* unfiltered, const char* filtered,
                                std::initializer_list<const char*> allowed);
    // Reads the first row of sql with onRow and returns 1; noRowResult when
    // there is none; 0 on failure.
    template <typename OnRow>
    int LoadRow(const std::string& sql, int noRowResult, OnRow onRow);
    // INSERT when the record's id is below 1 (it then takes the new id),
    // else UPDATE by id.
    template <typename Record>
    int SaveRecord(Record& rec, const char* failure);
    template <typename Record>
    int DeleteDetail(const Record& rec);
    // Runs a list query; each row's makeRow result goes to the top of rows,
    // as a list control that inserts at position 0 shows them.
    template <typename MakeRow>
    int ListQuery(const std::string& sql, ListRows& rows, MakeRow makeRow);
    template <typename Block>
    int EntryTextBlocks(const std::string& sql, std::vector<std::string>& out, Block block);

    sqlite3* m_db = nullptr;
    int m_open = 0;
    std::string m_fileName;
    std::string m_folder;
    std::string m_lastError;
};
