#pragma once
// Start at login: the XDG autostart entry "<name>.desktop" stands in for a
// value of that name under the Run key. The per-user entry lives in
// $XDG_CONFIG_HOME/autostart, the machine-wide one in /etc/xdg/autostart.
#include <QByteArray>
#include <QString>

class CWinStartup {
public:
    virtual ~CWinStartup() = default;

    // Registers programPath (empty: this program) to start at login.
    // 1 on success, 0 on failure.
    int AddApp(const QString& programPath, const QString& valueName, bool machine);
    int RemoveApp(const QString& valueName, bool machine);
    int SetRunValue(const QString& valueName, const QString& path, bool machine);

    // Where the entry of that name lives.
    static QString EntryPath(const QString& valueName, bool machine);
    // The entry's text for the program at path; empty when the path cannot
    // be written into an entry (control characters, not absolute).
    static QByteArray DesktopEntry(const QString& valueName, const QString& path);
    // The Exec value for a program path: quoted when it has characters the
    // entry format reserves, then escaped as an entry string.
    static QString ExecValue(const QString& path);
};
