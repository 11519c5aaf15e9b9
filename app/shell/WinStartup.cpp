#include "app/shell/WinStartup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr char kMachineAutostart[] = "/etc/xdg/autostart";

bool HasControlCharacters(const QString& s) {
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace

QString CWinStartup::EntryPath(const QString& valueName, bool machine) {
    const QString folder = machine ? QString::fromLatin1(kMachineAutostart)
                                   : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                         QStringLiteral("/autostart");
    return folder + QLatin1Char('/') + valueName + QStringLiteral(".desktop");
}

QString CWinStartup::ExecValue(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (QChar c : path)
        if (reserved.contains(c))
            quote = true;
    QString arg;
    if (quote) {
        arg += QLatin1Char('"');
        for (QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                arg += QLatin1Char('\\');
            arg += c;
        }
        arg += QLatin1Char('"');
    } else {
        arg = path;
    }
    // A literal percent sign is doubled: single ones are field codes.
    arg.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The entry format's own string escapes come last.
    arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return arg;
}

QByteArray CWinStartup::DesktopEntry(const QString& valueName, const QString& path) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || HasControlCharacters(path) || HasControlCharacters(valueName))
        return {};
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=%1\n").arg(valueName);
    text += QStringLiteral("Comment=Start %1 when you log in\n").arg(valueName);
    text += QStringLiteral("Exec=%1\n").arg(ExecValue(path));
    text += QStringLiteral("Icon=gorvane\n");
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

int CWinStartup::AddApp(const QString& programPath, const QString& valueName, bool machine) {
    const QString path = programPath.isEmpty() ? QCoreApplication::applicationFilePath() : programPath;
    return SetRunValue(valueName, path, machine);
}

int CWinStartup::SetRunValue(const QString& valueName, const QString& path, bool machine) {
    if (valueName.isEmpty() || valueName.contains(QLatin1Char('/')))
        return 0;
    const QByteArray entry = DesktopEntry(valueName, path);
    if (entry.isEmpty())
        return 0;
    const QString file = EntryPath(valueName, machine);
    // The per-user folder often does not exist yet on a fresh profile.
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return 0;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return 0;
    out.write(entry);
    return out.commit() ? 1 : 0;
}

int CWinStartup::RemoveApp(const QString& valueName, bool machine) {
    if (valueName.isEmpty() || valueName.contains(QLatin1Char('/')))
        return 0;
    return QFile::remove(EntryPath(valueName, machine)) ? 1 : 0;
}
