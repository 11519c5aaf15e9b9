#pragma once
// Texts the data store leaves as its last error or hands to the windows.
// Callers and tests compare against these, so they are never retyped.

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
inline constexpr char kErrPainLevel[] =
    "Can't save entry: the %s pain level is %d; pain levels run from %d to %d.\n";
inline constexpr char kErrSaveQuestion[] = "Can't save entry question to database:  %s.\n\nSQL: %s";
inline constexpr char kErrDeleteEntry[] = "Can't delete entry from database:  %s.\n\nSQL: %s";
inline constexpr char kErrDeleteMedicine[] =
    "Can't delete medicine from database:  %s.\n\nSQL: %s";
inline constexpr char kErrUnknownSearchField[] = "Can't search by \"%s\": not a searchable field.\n";
inline constexpr char kUnknownDbError[] = "Unknown Error with Database";

inline constexpr char kDeleteNotStored[] = "ERROR";
inline constexpr char kMedicineNotFound[] = "N/A";
inline constexpr char kGeneralSideEffects[] = "General Symptoms/Side Effects";
inline constexpr char kMoodDetailLabel[] = "Mood Entry - Should Only Be One!";
inline constexpr char kErrTooManyColumns[] =
    "Query error: the statement gives %d columns where %d are expected.\n";
