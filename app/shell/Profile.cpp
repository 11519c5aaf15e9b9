#include "app/shell/Profile.h"

#include <QSettings>

namespace grv {

namespace {

QString Key(const char* section, const char* key) {
    return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(key);
}

// A fresh object per use, as a registry key is opened per use: it sees what
// another process wrote since.
class ProfileSettings : public QSettings {
public:
    ProfileSettings() : QSettings(QString::fromLatin1(kCompany), QString::fromLatin1(kAppKey)) {}
};

bool Sync(QSettings& s) {
    s.sync();
    return s.status() == QSettings::NoError;
}

} // namespace

int GetProfileInt(const char* section, const char* key, int defaultValue) {
    ProfileSettings s;
    const QVariant v = s.value(Key(section, key));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? n : defaultValue;
}

QString GetProfileString(const char* section, const char* key, const QString& defaultValue) {
    ProfileSettings s;
    const QVariant v = s.value(Key(section, key));
    return v.isValid() ? v.toString() : defaultValue;
}

bool WriteProfileInt(const char* section, const char* key, int value) {
    ProfileSettings s;
    s.setValue(Key(section, key), value);
    return Sync(s);
}

bool WriteProfileString(const char* section, const char* key, const QString& value) {
    // An empty text is stored as such, never as an invalid value.
    ProfileSettings s;
    s.setValue(Key(section, key), value.isNull() ? QString(QLatin1String("")) : value);
    return Sync(s);
}

Prefs ReadPrefs() {
    const Prefs d;
    Prefs p;
    p.openLastUsedDB = GetProfileInt(kSectionPrefs, kOpenLastUsedDB, d.openLastUsedDB);
    p.clearAfterSave = GetProfileInt(kSectionPrefs, kClearAfterSave, d.clearAfterSave);
    p.autoSaveEntry = GetProfileInt(kSectionPrefs, kAutoSaveEntry, d.autoSaveEntry);
    p.defaultType = GetProfileString(kSectionPrefs, kDefaultType, d.defaultType);
    p.firstTimeWiz = GetProfileInt(kSectionPrefs, kFirstTimeWiz, d.firstTimeWiz);
    p.closeToTray = GetProfileInt(kSectionPrefs, kCloseToTray, d.closeToTray);
    p.autoStartWin = GetProfileInt(kSectionPrefs, kAutoStartWin, d.autoStartWin);
    p.disAnonStats = GetProfileInt(kSectionPrefs, kDisAnonStats, d.disAnonStats);
    return p;
}

bool WritePrefs(const Prefs& p) {
    ProfileSettings s;
    s.beginGroup(QString::fromLatin1(kSectionPrefs));
    s.setValue(QString::fromLatin1(kOpenLastUsedDB), p.openLastUsedDB);
    s.setValue(QString::fromLatin1(kClearAfterSave), p.clearAfterSave);
    s.setValue(QString::fromLatin1(kAutoSaveEntry), p.autoSaveEntry);
    s.setValue(QString::fromLatin1(kDefaultType), p.defaultType.isNull() ? QString(QLatin1String("")) : p.defaultType);
    s.setValue(QString::fromLatin1(kFirstTimeWiz), p.firstTimeWiz);
    s.setValue(QString::fromLatin1(kCloseToTray), p.closeToTray);
    s.setValue(QString::fromLatin1(kAutoStartWin), p.autoStartWin);
    s.setValue(QString::fromLatin1(kDisAnonStats), p.disAnonStats);
    s.endGroup();
    return Sync(s);
}

} // namespace grv
