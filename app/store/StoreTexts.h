#pragma once
// Texts the data store leaves as its last error or hands to the windows.
// Callers and tests compare against these, so they are never retyped.
#include <cstddef>

inline constexpr char kErrCreatingDb[] = "Creating DB: %s\n";
inline constexpr char kErrCantCreateDb[] = "Can't create database:  %s\n";
inline constexpr char kErrCreateOverExisting[] =
    "Can't create database:  %s\nA file of that name already exists; it was left as it is.\n";
inline constexpr char kErrFatalCreate[] = "Fatal: Unable to create DB %s!\n";
inline constexpr char kErrCantCloseDb[] = "Can't close database:  %s\n";
inline constexpr char kErrPrepare[] = "SQL Error: %d : %s\n";
inline constexpr char kErrStep[] = "Error: %d : %s\n";
inline constexpr char kErrSaveEntry[] = "Can't save entry to database:  %s.\n\nSQL: %s";
// The level's name ("worst" …), its value, then the lowest and highest level.
inline constexpr char kErrPainLevel[] = "Can't save entry: the %s pain level is %d; pain levels run from %d to %d.\n";
inline constexpr char kErrSaveQuestion[] = "Can't save entry question to database:  %s.\n\nSQL: %s";
inline constexpr char kErrDeleteEntry[] = "Can't delete entry from database:  %s.\n\nSQL: %s";
inline constexpr char kErrDeleteMedicine[] = "Can't delete medicine from database:  %s.\n\nSQL: %s";
// A failed save or delete shows only the start of its statement (a journal
// text can be megabytes long), then why it failed in words.
inline constexpr std::size_t kShownStatementBytes = 120;
inline constexpr char kStatementCut[] = " ...";
inline constexpr char kErrReason[] = "\n\nReason: %s\n";
// A read-only file or folder, a file system mounted read-only, or a file
// the user may not change: to the user all the same.
inline constexpr char kReasonCannotWrite[] =
    "the journal cannot be written: its file or its folder is read-only, or you have no permission to change it.";
inline constexpr char kReasonDiskFull[] = "the disk is full.";
inline constexpr char kReasonLocked[] = "another program is using the journal and has locked it.";
inline constexpr char kReasonDiskError[] = "the disk reported an error while the journal was written.";
inline constexpr char kReasonNoAccess[] = "the journal file cannot be opened for writing.";
inline constexpr char kReasonDamaged[] =
    "the journal file is damaged. It cannot be repaired: open a backup instead (restore one with File, Database, "
    "Restore, then open it).";
inline constexpr char kReasonNotOpen[] = "the journal is not open.";
// A side file's path: another account's file beside the journal, where SQLite
// would take it for the journal's own.
inline constexpr char kReasonForeignSideFile[] =
    "%s, a file SQLite keeps beside the journal, belongs to another account, which may have put it there to be "
    "read into the journal; it was left as it is. Move the journal to a folder only you can write, or ask the "
    "file's owner to remove it.";
// The same where the journal's folder is already one only the user writes.
inline constexpr char kReasonForeignSideFileInOwnFolder[] =
    "%s, a file SQLite keeps beside the journal, belongs to another account, which may have put it there to be "
    "read into the journal; it was left as it is. Ask the file's owner to remove it.";
inline constexpr char kReasonOther[] = "the database answered \"%s\".";
// Opening a file that is not a journal: the path, then what is wrong with it.
inline constexpr char kErrNotJournal[] = "%s is not a Gorvane journal: %s.\n";
inline constexpr char kNotJournalEmpty[] = "the file is empty";
inline constexpr char kNotJournalNotDatabase[] = "it is not a database file";
inline constexpr char kNotJournalNoTable[] = "it has no table \"%s\"";
inline constexpr char kNotJournalNoColumn[] = "its table \"%s\" has no column \"%s\"";
// The file could not be read to check it: the path and the reason in words.
inline constexpr char kErrCantReadJournal[] = "Can't read %s: %s\n";
inline constexpr char kErrUnknownSearchField[] = "Can't search by \"%s\": not a searchable field.\n";
inline constexpr char kUnknownDbError[] = "Unknown Error with Database";

inline constexpr char kDeleteNotStored[] = "ERROR";
inline constexpr char kMedicineNotFound[] = "N/A";
inline constexpr char kGeneralSideEffects[] = "General Symptoms/Side Effects";
inline constexpr char kMoodDetailLabel[] = "Mood Entry - Should Only Be One!";
inline constexpr char kErrTooManyColumns[] = "Query error: the statement gives %d columns where %d are expected.\n";
