#pragma once
// Texts of the main window's detail launchers, New Pain Score and Delete.
// Tests compare against these, so they are never retyped.

namespace grv {

inline constexpr char kNeedDbForDetails[] = "Need to open or create a database first.  See menu File->Database.";
inline constexpr char kNeedSavedForActions[] =
    "You need to have a current saved entry before you can add Action Details";
inline constexpr char kNeedSavedForJournal[] =
    "You need to have a current saved entry before you can edit its Journal Text";
inline constexpr char kNeedSavedForMood[] = "You need to have a current saved entry before you can add Mood Details";
inline constexpr char kNeedSavedForMeds[] =
    "You need to have a current saved entry before you can add Medicine Details";
inline constexpr char kNeedSavedForSideEff[] =
    "You need to have a current saved entry before you can add Side Effect Details";
inline constexpr char kNeedSavedForQuestions[] = "You must have a entry saved before adding questions to it.";
inline constexpr char kNeedSavedForDelete[] = "There is no saved entry to delete.";

inline constexpr char kAskDeleteEntry[] = "Are you sure you wish to delete entry %1?";
inline constexpr char kEntryDeleted[] = "Deleted!";

inline constexpr char kQuickPainSubject[] = "Quick Pain Entry from Tray";
inline constexpr char kQuickPainBody[] = "Pain entry only performed via the Tray Menu or Hotkey";

} // namespace grv
