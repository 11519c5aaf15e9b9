#include <QCoreApplication>
#include <QFile>

#include "ShellTestSupport.h"
#include "app/shell/WinStartup.h"

namespace {

class WinStartupTest : public ShellTest {};

TEST_F(WinStartupTest, EveryEntryValidatesAndItsExecRunsTheProgram) {
    // The program behind each odd path is a script that prints its own path;
    // the entry's Exec, unescaped as a launcher does, must start exactly it.
    grvtest::QtTempDir dir;
    const char* folders[] = {"plain",       "with space", "dollar$sign", "quote\"d",         "per%cent",
                             "back\\slash", "tick`s",     "apo'strophe", "\xc3\xa9t\xc3\xa9"};
    CWinStartup startup;
    for (const char* folder : folders) {
        SCOPED_TRACE(folder);
        const QString d = dir.filePath(QString::fromUtf8(folder));
        ASSERT_TRUE(QDir().mkpath(d));
        const QString program = d + "/gorvane";
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s' \"$0\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        ASSERT_EQ(startup.AddApp(program, "Gorvane", false), 1);
        QByteArray out;
        EXPECT_EQ(RunProgram("desktop-file-validate", {AutostartFile()}, &out), 0) << out.data();
        // Read Exec as the entry format defines it: string escapes first,
        // then %% -> %, then the shell-like quoting, run by sh.
        const QByteArray launcher = "import sys, subprocess\n"
                                    "for line in open(sys.argv[1], encoding='utf-8'):\n"
                                    "    if line.startswith('Exec='):\n"
                                    "        v = line[5:].rstrip('\\n')\n"
                                    "        v = v.replace('\\\\\\\\', '\\x00').replace('\\x00', '\\\\')\n"
                                    "        v = v.replace('%%', '%')\n"
                                    "        sys.stdout.write(subprocess.run(['sh', '-c', 'exec ' + v],"
                                    " capture_output=True, text=True).stdout)\n";
        ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", QString::fromUtf8(launcher), AutostartFile()}, &out), 0);
        EXPECT_EQ(QString::fromUtf8(out), program);
    }
    EXPECT_EQ(startup.RemoveApp("Gorvane", false), 1);
    EXPECT_FALSE(QFile::exists(AutostartFile()));
}

TEST_F(WinStartupTest, RefusesWhatCannotBeAnEntry) {
    CWinStartup startup;
    EXPECT_EQ(startup.SetRunValue("Gorvane", "relative/gorvane", false), 0);
    EXPECT_EQ(startup.SetRunValue("Gorvane", "/opt/new\nline/gorvane", false), 0);
    EXPECT_EQ(startup.SetRunValue("../Gorvane", "/usr/bin/gorvane", false), 0);
    EXPECT_EQ(startup.SetRunValue("", "/usr/bin/gorvane", false), 0);
    EXPECT_FALSE(QFile::exists(AutostartFile()));
    EXPECT_EQ(startup.RemoveApp("Gorvane", false), 0) << "nothing to remove";
}

TEST_F(WinStartupTest, AddAppDefaultsToThisProgramAndReplacesTheEntry) {
    CWinStartup startup;
    ASSERT_EQ(startup.AddApp("/usr/bin/other", "Gorvane", false), 1);
    ASSERT_EQ(startup.AddApp(QString(), "Gorvane", false), 1);
    QFile f(AutostartFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_FALSE(text.contains("/usr/bin/other"));
    EXPECT_TRUE(text.contains(QCoreApplication::applicationFilePath().toUtf8()));
    EXPECT_EQ(CWinStartup::EntryPath("Gorvane", true), "/etc/xdg/autostart/Gorvane.desktop");
}

TEST(DesktopEntry, ShippedEntryValidates) {
    QByteArray out;
    const QString entry = QStringLiteral(GRV_SOURCE_DIR) + "/app/resources/gorvane.desktop";
    EXPECT_EQ(RunProgram("desktop-file-validate", {entry}, &out), 0) << out.data();
}

} // namespace
