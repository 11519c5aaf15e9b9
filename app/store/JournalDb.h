#pragma once
// The journal's data store: the one connection to the open journal file, its
// name and folder, and the text of the last failure. It holds every statement
// the windows need and the rules a stored record must keep.
//
// Results: an operation that answers yes or no returns bool, true for done
// and false for failed, with the reason in the last-error text. The few that
// answer more say so beside them: CountDetails (a count, -1 on failure),
// LoadEntryMoodByEntry (an id, 0 for none) and the detail deletes (1, 0, or
// -1 for a record of no entry).
#include <functional>
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

    bool IsOpen() const;
    std::string GetLastErrorText() const;

    // Opens the journal at the full path. With create set, makes a new
    // journal there instead; an existing file is never touched. An open
    // journal is closed first. A file without the journal's tables and
    // columns (an empty file, another program's database) is refused, and
    // so is a damaged one: SQLite's check of its pages and a read of every
    // record must pass. A refused file is left as it was.
    bool Open(int create);
    // Checks the file at the full path as Open checks it, read as it stands
    // alone: read-only, no side file beside it read or played back (what
    // another account put beside a part is never taken for its own). The
    // file is left closed, as it was.
    bool CheckAlone();
    bool Close();
    // Whether the open file reads as a database at all: another kind of file
    // opens and then fails every statement.
    bool ReadsAsDatabase();

    // Why a journal could not be read whole for a copy.
    enum class ImageResult { Ok, Busy, Damaged, NoRoom, Failed };
    // Hands use the name of a file holding the whole database at path as
    // SQLite reads it: the journal itself, held still by a read transaction,
    // when nothing of it waits in a -wal file; else (a journal in WAL mode)
    // a copy written through SQLite into copyPath, an empty file the caller
    // made (best named by its descriptor, platform::DescriptorPath, which
    // leads to it whatever is done to its folder), its -wal's entries
    // included and its header's schema cookie the journal's. Memory stays within SQLite's page caches, whatever the
    // journal's size; the journal is only read. Ok once use was called;
    // otherwise why not (Busy: another program held it locked past a wait;
    // Damaged: it is damaged, left unfinished, or no database).
    static ImageResult WithDatabaseImage(const std::string& path, const std::string& copyPath,
                                         const std::function<void(const std::string& image)>& use);

    // Lets SQLite settle what a program that stopped left beside the journal
    // at path, as its next opening would: a hot -journal is rolled back into
    // it and removed, a -wal's entries are written into it and the -wal and
    // -shm removed. False when SQLite could not (the file is then as SQLite
    // left it: a journal it could not read is not touched).
    static bool SettleSideFiles(const std::string& path);

    // The first side file SQLite would open beside the journal at path
    // (-journal, -wal, -shm) that belongs to neither this process's user nor
    // the journal's owner: another account put it there, and SQLite would
    // play it back or write into it. Empty when there is none. Every
    // connection this class opens refuses such a -journal and -wal at each
    // opening SQLite makes of them, not only at the journal's.
    static std::string ForeignSideFile(const std::string& path);

    // The fixed text of an SQLite result code.
    static std::string GetResultCodeText(int code);

    // --- Journal queries. Output vectors are appended to. ---------------------

    static std::string GetTypeTableName(int type);
    static std::string GetTypeDisplayName(int type);
    // Undeleted details of a type for an entry; -1 on failure.
    int CountDetails(int entryId, int type);
    // Column 0 of every row of a caller-built statement.
    bool QueryFirstColumn(std::string statement, std::vector<std::string>& out);
    // The categories of the undeleted actions, each once, in order.
    bool GetActionCategories(std::vector<std::string>& out);
    // The names of the undeleted actions in order: with an empty category
    // every action's name (repeats kept), else each name of that category
    // once (matched without regard to ASCII case).
    bool GetActionNames(const std::string& category, std::vector<std::string>& out);
    // The newest 81 pain levels, newest first. Mode 0 lowest, 1 worst,
    // 2 average, 3 current.
    bool GetPainTrend(int mode, std::vector<int>& out);
    // Highest worst, lowest lowest, rounded average current level over all
    // undeleted entries; false (outputs untouched) when there is none.
    bool GetPainSummary(float& worst, float& lowest, float& current);
    // One text block per detail row; true when the array holds at least one.
    bool GetEntryMedsText(int entryId, std::vector<std::string>& out);
    bool GetEntryMoodText(int entryId, std::vector<std::string>& out);
    bool GetEntryQuestionsText(int entryId, std::vector<std::string>& out);
    bool GetEntrySideEffText(int entryId, std::vector<std::string>& out);
    static std::string ShortenTimestamp(std::string timestamp);
    // Entries whose column contains text (column "*": all), newest first, put
    // in front of rows as a list control shows them. Rows: id, ts, sbj, apl.
    // False when the statement failed, also part way (the rows read by then
    // are in front of rows all the same), as for every list below.
    bool FindEntries(std::string column, std::string text, ListRows& rows);
    // As FindEntries; rows: short ts, sbj, cpl, lpl, apl, wpl, data id.
    bool FillEntryList(std::string column, std::string text, ListRows& rows);

    // --- Entry records. -----------------------------------------------------

    // A missing entry is no failure: the record stays as it was.
    bool LoadEntry(const std::string& idText, CEntry& rec);
    bool LoadEntryActions(const std::string& idText, CEntryActions& rec);
    bool LoadEntryMeds(const std::string& idText, CEntryMeds& rec);
    bool LoadEntryMood(int id, CEntryMood& rec);
    bool LoadEntryMoodText(const std::string& idText, CEntryMood& rec);
    bool LoadEntryQuestionText(const std::string& idText, CEntryQuestions& rec);
    bool LoadEntrySideEffText(const std::string& idText, CEntrySideEff& rec);
    // The id of the entry's first undeleted mood record, 0 when none.
    int LoadEntryMoodByEntry(int entryId);

    // INSERT when the id is below 1 (the record then takes the new id),
    // else UPDATE. A failure keeps the connection and sets the error text.
    // An entry with a pain level outside 0 to 10 is refused unwritten.
    bool SaveEntry(CEntry& rec);
    bool SaveEntryActions(CEntryActions& rec);
    bool SaveEntryMeds(CEntryMeds& rec);
    bool SaveEntryMood(CEntryMood& rec);
    bool SaveEntryQuestion(CEntryQuestions& rec);
    bool SaveEntrySideEff(CEntrySideEff& rec);

    // Marks rows deleted; an id below 1 deletes nothing and succeeds.
    bool DeleteEntry(int id);
    // 1 marked, 0 failed, -1 when the record's eid is below 1.
    int DeleteEntryActions(const CEntryActions& rec);
    int DeleteEntryMeds(const CEntryMeds& rec);
    int DeleteEntryMood(const CEntryMood& rec);
    int DeleteEntryQuestion(const CEntryQuestions& rec);
    int DeleteEntrySideEff(const CEntrySideEff& rec);

    // --- Medicine cabinet. --------------------------------------------------

    bool LoadMedicine(int id, CMedicine& rec);
    bool FindMedicine(const std::string& name, int dosSize, const std::string& measure, const std::string& form,
                      CMedicine& rec);
    // INSERT when the id is below 1, else UPDATE.
    bool SaveMedicine(CMedicine& rec);
    // Removes the row and resets the record; an unstored record only resets.
    bool DeleteMedicine(CMedicine& rec);
    // Rows: id, name, dos_qty, "size measure", form, ascending by name.
    bool FillMedicineList(std::string column, std::string text, ListRows& rows);
    // Each undeleted medicine's combo label "name (size measure) form" with
    // its id, in id order.
    bool FillMedicineCombo(ComboItems& items);
    // "name (size measure)"; "N/A" when there is no such medicine.
    std::string GetMedicineLabel(int id);

    // --- Detail lists and report rows. --------------------------------------

    // Rows: record id, label; highest id first.
    bool FillDetailList(ListRows& rows, int type, int entryId);
    static std::string FormatTimestamp(const JournalDateTime& when);
    // Every row of the statement as exactly `columns` texts.
    bool QueryAllRows(const std::string& statement, int columns, ReportRows& rows);

    // A prepared statement of this store (defined inside the store only).
    class Statement;

private:
    bool CreateSchema();
    void ReleaseConnection();
    // Whether the file just opened holds every table and column a journal
    // has; otherwise sets the last error to what is missing.
    bool HoldsJournalTables();
    // HoldsJournalTables and ReadsWhole, on a connection just opened; false
    // with the last error set when the file is refused.
    bool ChecksAsJournal();
    // Whether every page and every record of the journal just opened reads
    // back; otherwise sets the last error to a damaged journal file.
    bool ReadsWhole();
    // Why a statement failed with code, in the user's words.
    std::string FailureReason(int code) const;

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
    std::string SearchStatement(const std::string& column, const std::string& text, const char* unfiltered,
                                const char* filtered, std::initializer_list<const char*> allowed);
    // Reads the first row of sql with onRow and returns true; noRowResult
    // when there is none; false on failure.
    template <typename OnRow>
    bool LoadRow(const std::string& sql, bool noRowResult, OnRow onRow);
    // INSERT when the record's id is below 1 (it then takes the new id),
    // else UPDATE by id.
    template <typename Record>
    bool SaveRecord(Record& rec, const char* failure);
    template <typename Record>
    int DeleteDetail(const Record& rec);
    // Runs a list query; each row's makeRow result goes to the top of rows,
    // as a list control that inserts at position 0 shows them.
    template <typename MakeRow>
    bool ListQuery(const std::string& sql, ListRows& rows, MakeRow makeRow);
    template <typename Block>
    bool EntryTextBlocks(const std::string& sql, std::vector<std::string>& out, Block block);

    sqlite3* m_db = nullptr;
    bool m_open = false;
    std::string m_fileName;
    std::string m_folder;
    std::string m_lastError;
};
