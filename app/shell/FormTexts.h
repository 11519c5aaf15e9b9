#pragma once
// Texts of the entry form, the Find dialog, the strip chart and the
// Database commands.

namespace grv {

// Strip chart.
inline constexpr char kTrendYUnits[] = "Pain";
inline constexpr char kTrendXUnits[] = "Time";
inline constexpr char kTitleCurrentTrend[] = "Current Pain Trend";
inline constexpr char kTitleAverageTrend[] = "Average Pain Trend";
inline constexpr char kTitleLowestTrend[] = "Lowest Pain Trend";
inline constexpr char kTitleWorstTrend[] = "Worst Pain Trend";

// Entry form.
inline constexpr char kTitleGorvane[] = "Gorvane";
inline constexpr char kNeedDbForNewEntry[] = "You must create a database before an entry can be saved!";
inline constexpr char kNeedDbForSave[] = "Need to open a database first.";
inline constexpr char kPainOutOfRange[] = "Please correct your %1 pain level: it is a whole number from 0 to 10.";
// An empty level is no level: %1 names it (kPainNames).
inline constexpr char kPainLevelEmpty[] = "Please enter your %1 pain level, a whole number from 0 to 10.";
inline constexpr char kPainNameWorst[] = "worst";
inline constexpr char kPainNameAverage[] = "average";
inline constexpr char kPainNameLowest[] = "lowest";
inline constexpr char kPainNameCurrent[] = "current";
inline constexpr char kNeedDbForFind[] = "You must open a database before you can use this feature.";
inline constexpr char kNeedDbForClose[] = "You have an entry started, however you need to open a database first.";
// A list the journal could not give: the list stays empty; %1 is the store's reason.
inline constexpr char kEntryListFailed[] = "The entries of the journal could not be read, so none are listed.\n%1";
inline constexpr char kFindListFailed[] = "The journal could not be searched, so nothing is listed.\n%1";
inline constexpr char kFutureDate[] = "Your date is set to the future? Is this your intention?";

// Find dialog.
inline constexpr char kFindTitle[] = "Gorvane - Find Entry";
inline constexpr char kFindHint[] =
    "Use drop down to select field to search, entry keywords and then press Search button.";
inline constexpr char kFindNoneSelected[] = "No items where selected!";
inline constexpr char kFindDeleteWhich[] = "Have you selected a entry to delete?";
inline constexpr char kFindDeleteQuestion[] = "Are you sure you wish to delete this?";
inline constexpr char kFindDeleteTitle[] = "Confirm Entry Delete";
inline constexpr char kFindDeleteFailed[] = "There was a problem deleting the record.";

// Database commands.
inline constexpr char kDbFilter[] = "Gorvane DB (*.grv)|*.grv|";
inline constexpr char kDbOpenFilter[] = "Gorvane DB (*.grv)|*.grv|All Files (*.*)|*.*||";
inline constexpr char kDbNewCancelled[] =
    "It appears that you canceled the last action and did not give us a file name or a folder "
    "to store the database in.  To create a new database, select File->Database->New then pick "
    "a folder and type in a name for the new database.";
inline constexpr char kDbNewCancelledTitle[] = "Gorvane - No File Selected";
inline constexpr char kDbOpenCancelled[] = "No File Selected";
inline constexpr char kDbNoName[] = "No database name entered...";
inline constexpr char kDbCreated[] = "Database created successfully!";
inline constexpr char kDbCreateFailed[] = "We were unable to create the Database.\nError: %1\n";
inline constexpr char kDbOpenFailed[] = "We were unable to open the Database.\nError: %1\n";
inline constexpr char kJournalSetAside[] =
    "The database %1 is missing. A restore that was stopped midway left it as %2: nothing has been deleted. "
    "To use it again, rename that file to the database's name and open it from the File Menu.";
inline constexpr char kJournalSetAsideWithSides[] =
    "The database %1 is missing. A restore that was stopped midway left it as %2, and what was not yet saved "
    "into it as %3: nothing has been deleted. To use it again, rename each of these files to the database's "
    "name followed by what follows \".old\" in its own name, and open it from the File Menu.";

} // namespace grv
