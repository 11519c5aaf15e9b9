#pragma once
// Texts of the application shell that users see or that the usage reports carry.

namespace grv {

inline constexpr char kAppCaption[] = "Gorvane";
inline constexpr char kCaptionWithFile[] = "Gorvane - %1";
inline constexpr char kQuitQuestion[] = "Are you sure you wish to quit?";
inline constexpr char kQuitTitle[] = "Quit the Program";
inline constexpr char kClosedOk[] = "Closed OK";
inline constexpr char kCancelled[] = "Cancelled";
inline constexpr char kRunValueName[] = "Gorvane";
// The maker's help page, opened in the browser by Help > Contents.
inline constexpr char kHelpPageUrl[] = "https://www.gorvane.invalid/help/";

// Usage report labels.
inline constexpr char kUsageNewEntry[] = "New Entry";
inline constexpr char kUsageTrayNewEntry[] = "TM NewEntry";
inline constexpr char kUsageTrayNewPainScore[] = "TM NewPainScore";
inline constexpr char kUsageToolbarQuestion[] = "TB Question";
inline constexpr char kUsageToolbarActions[] = "TB Actions";
inline constexpr char kUsageToolbarMood[] = "TB Mood";
inline constexpr char kUsageToolbarMeds[] = "TB Meds";
inline constexpr char kUsageToolbarSideEff[] = "TB SideEff";
inline constexpr char kUsageToolbarMedsCab[] = "TB MedsCab";
inline constexpr char kUsageToolsMedsCab[] = "Tools MedsCab";
inline constexpr char kUsagePreferences[] = "Preferences";
inline constexpr char kUsageReports[] = "Reports";
inline constexpr char kUsageCloseApp[] = "Close App";

} // namespace grv
