#pragma once
// The application's profile: QSettings("Bravenor", "GRV"), with the
// sections and value names the program has always used.
#include <QString>

namespace grv {

inline constexpr char kCompany[] = "Bravenor";
inline constexpr char kAppKey[] = "GRV";

inline constexpr char kSectionMru[] = "MRU";
inline constexpr char kLastFile[] = "LastFile";
inline constexpr char kLastPath[] = "LastPath";

inline constexpr char kSectionPrefs[] = "Prefs";
inline constexpr char kOpenLastUsedDB[] = "OpenLastUsedDB";
inline constexpr char kClearAfterSave[] = "ClearAfterSave";
inline constexpr char kAutoSaveEntry[] = "AutoSaveEntry";
inline constexpr char kDefaultType[] = "DefaultType";
inline constexpr char kFirstTimeWiz[] = "FirstTimeWiz";
inline constexpr char kCloseToTray[] = "CloseToTray";
inline constexpr char kAutoStartWin[] = "AutoStartWin";
inline constexpr char kDisAnonStats[] = "DisAnonStats";

// A value never stored, or stored as something other than a whole number,
// reads as the default.
int GetProfileInt(const char* section, const char* key, int defaultValue);
QString GetProfileString(const char* section, const char* key, const QString& defaultValue = {});
// False when the profile could not be written.
bool WriteProfileInt(const char* section, const char* key, int value);
bool WriteProfileString(const char* section, const char* key, const QString& value);

// The eight preferences.
struct Prefs {
    int openLastUsedDB = 1;
    int clearAfterSave = 0;
    int autoSaveEntry = 0;
    QString defaultType = QStringLiteral("Journal");
    int firstTimeWiz = 1;
    int closeToTray = 0;
    int autoStartWin = 0;
    int disAnonStats = 0;
};

// Every preference, with the defaults above for values never stored.
Prefs ReadPrefs();
bool WritePrefs(const Prefs& prefs);

} // namespace grv
