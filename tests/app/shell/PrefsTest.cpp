#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <map>
#include <tuple>

#include "ShellTestSupport.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgPrefs.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"

using namespace grv;

namespace {

using Values = std::map<std::string, std::string>;

// The profile as python's configparser reads it: "Section/Key" -> value.
Values ReadWithConfigparser(const QString& file) {
    const QByteArray script = "import configparser, sys\n"
                              "c = configparser.RawConfigParser()\n"
                              "c.optionxform = str\n"
                              "c.read(sys.argv[1], encoding='utf-8')\n"
                              "for s in c.sections():\n"
                              "    for k, v in c.items(s):\n"
                              "        print(s + '/' + k + '=' + v)\n";
    QByteArray out;
    EXPECT_EQ(RunProgram("/usr/bin/python3", {"-c", QString::fromUtf8(script), file}, &out), 0);
    Values values;
    for (const QByteArray& line : out.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    }
    return values;
}

class PrefsTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        FreshProfile();
    }
    // Runs Edit > Preferences; act works the dialog and ends it.
    void RunPrefs(CGRVDlg& dlg, std::function<void(CGRVDlgPrefs&)> act) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* prefs = qobject_cast<CGRVDlgPrefs*>(QApplication::activeModalWidget());
            ASSERT_NE(prefs, nullptr);
            ran = true;
            act(*prefs);
        });
        ASSERT_TRUE(dlg.OnCommand(ID_EDIT_PREFERENCES));
        EXPECT_TRUE(ran);
    }
    static QCheckBox* Box(CGRVDlgPrefs& d, int id) { return d.findChild<QCheckBox*>(QString::number(id)); }
    static QComboBox* Types(CGRVDlgPrefs& d) { return d.findChild<QComboBox*>(QString::number(IDC_PREF_TYPE)); }
    static void Press(CGRVDlgPrefs& d, int id) { d.findChild<QPushButton*>(QString::number(id))->click(); }
    static QByteArray ProfileBytes() {
        QFile f(ProfileFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(PrefsTest, OkOnFreshProfileKeepsOpenLastAndWizardOn) {
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        EXPECT_TRUE(Box(d, IDC_PREF_OPEN_LAST)->isChecked());
        EXPECT_TRUE(Box(d, IDC_PREF_FIRST_TIME_WIZ)->isChecked());
        EXPECT_FALSE(Box(d, IDC_PREF_CLOSE_TO_TRAY)->isChecked());
        EXPECT_EQ(Types(d)->currentText(), "Journal");
        Press(d, IDOK);
    });
    const Values v = ReadWithConfigparser(ProfileFile());
    const Values expected = {
        {"MRU/LastFile", ""},          {"MRU/LastPath", ""},         {"Prefs/OpenLastUsedDB", "1"},
        {"Prefs/ClearAfterSave", "0"}, {"Prefs/AutoSaveEntry", "0"}, {"Prefs/DefaultType", "Journal"},
        {"Prefs/FirstTimeWiz", "1"},   {"Prefs/CloseToTray", "0"},   {"Prefs/AutoStartWin", "0"},
        {"Prefs/DisAnonStats", "0"},
    };
    EXPECT_EQ(v, expected);
    EXPECT_EQ(dlg.m_prefs.openLastUsedDB, 1);
    EXPECT_EQ(dlg.m_prefs.firstTimeWiz, 1);
}

TEST_F(PrefsTest, ChoicesRoundTripThroughTheProfile) {
    WriteProfileInt(kSectionPrefs, kAutoSaveEntry, 1); // only the profile changes it
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        EXPECT_FALSE(Box(d, IDC_PREF_AUTO_SAVE)->isVisible());
        Box(d, IDC_PREF_OPEN_LAST)->setChecked(false);
        Box(d, IDC_PREF_CLEAR_AFTER_SAVE)->setChecked(true);
        Box(d, IDC_PREF_FIRST_TIME_WIZ)->setChecked(false);
        Box(d, IDC_PREF_CLOSE_TO_TRAY)->setChecked(true);
        Box(d, IDC_PREF_NO_STATS)->setChecked(true);
        Types(d)->setCurrentIndex(Types(d)->findText("Side Effects"));
        Press(d, IDOK);
    });
    const Values expected = {
        {"MRU/LastFile", ""},          {"MRU/LastPath", ""},         {"Prefs/OpenLastUsedDB", "0"},
        {"Prefs/ClearAfterSave", "1"}, {"Prefs/AutoSaveEntry", "1"}, {"Prefs/DefaultType", "Side Effects"},
        {"Prefs/FirstTimeWiz", "0"},   {"Prefs/CloseToTray", "1"},   {"Prefs/AutoStartWin", "0"},
        {"Prefs/DisAnonStats", "1"},
    };
    EXPECT_EQ(ReadWithConfigparser(ProfileFile()), expected);
    // The running window took them over at once.
    EXPECT_EQ(std::tie(dlg.m_prefs.closeToTray, dlg.m_prefs.disAnonStats, dlg.m_prefs.clearAfterSave),
              std::make_tuple(1, 1, 1));
    EXPECT_EQ(dlg.m_prefs.defaultType, "Side Effects");

    // And what another program writes is read back.
    const QByteArray edit = "import configparser, sys\n"
                            "c = configparser.RawConfigParser()\n"
                            "c.optionxform = str\n"
                            "c.read(sys.argv[1])\n"
                            "c['Prefs']['DefaultType'] = 'Mood'\n"
                            "c['Prefs']['CloseToTray'] = '0'\n"
                            "c['Prefs']['DisAnonStats'] = 'not a number'\n"
                            "with open(sys.argv[1], 'w') as f: c.write(f)\n";
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", QString::fromUtf8(edit), ProfileFile()}), 0);
    const Prefs p = ReadPrefs();
    EXPECT_EQ(p.defaultType, "Mood");
    // Unreadable numbers read as the default.
    EXPECT_EQ(std::tie(p.closeToTray, p.disAnonStats, p.clearAfterSave), std::make_tuple(0, 0, 1));
}

TEST_F(PrefsTest, TypeListOffersQuestionAndStoredQuestionsSelectsIt) {
    WriteProfileString(kSectionPrefs, kDefaultType, "Questions");
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        QStringList items;
        for (int i = 0; i < Types(d)->count(); ++i)
            items << Types(d)->itemText(i);
        EXPECT_EQ(items, (QStringList{"Action", "Journal", "Medicine", "Mood", "Question", "Side Effects"}));
        EXPECT_EQ(Types(d)->currentText(), "Question");
        Press(d, IDOK);
    });
    EXPECT_EQ(GetProfileString(kSectionPrefs, kDefaultType), "Question");
}

TEST_F(PrefsTest, CancelStoresNothingButReappliesTheStoredStartAtLogin) {
    WriteProfileInt(kSectionPrefs, kAutoStartWin, 1);
    const QByteArray before = ProfileBytes();
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        Box(d, IDC_PREF_AUTO_START)->setChecked(false);
        Box(d, IDC_PREF_CLOSE_TO_TRAY)->setChecked(true);
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(ProfileBytes(), before);
    EXPECT_TRUE(QFile::exists(AutostartFile()));
    EXPECT_EQ(dlg.m_prefs.closeToTray, 0);

    WriteProfileInt(kSectionPrefs, kAutoStartWin, 0);
    RunPrefs(dlg, [](CGRVDlgPrefs& d) { d.reject(); });
    EXPECT_FALSE(QFile::exists(AutostartFile()));
}

TEST_F(PrefsTest, StartAtLoginWritesAValidEntryAndRemovesItWhenOff) {
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        Box(d, IDC_PREF_AUTO_START)->setChecked(true);
        Press(d, IDOK);
    });
    ASSERT_TRUE(QFile::exists(AutostartFile()));
    QByteArray out;
    EXPECT_EQ(RunProgram("desktop-file-validate", {AutostartFile()}, &out), 0) << out.data();
    QFile f(AutostartFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("Name=Gorvane\n"));
    EXPECT_TRUE(text.contains("Exec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n")) << text.data();
    f.close();

    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        EXPECT_TRUE(Box(d, IDC_PREF_AUTO_START)->isChecked());
        Box(d, IDC_PREF_AUTO_START)->setChecked(false);
        Press(d, IDOK);
    });
    EXPECT_FALSE(QFile::exists(AutostartFile()));
}

TEST_F(PrefsTest, ReportsPreferencesThenHonoursTheNewStatsChoice) {
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) {
        Box(d, IDC_PREF_NO_STATS)->setChecked(true);
        Press(d, IDOK);
    });
    ASSERT_TRUE(usage->WaitFor(1, 5000));
    RunPrefs(dlg, [](CGRVDlgPrefs& d) { Press(d, IDCANCEL); });
    EXPECT_FALSE(usage->WaitFor(2, 300));
    EXPECT_EQ(usage->Labels(), std::vector<std::string>{"Preferences"});
}

TEST_F(PrefsTest, OkWithNoJournalOpenEmptiesTheLastJournal) {
    WriteProfileString(kSectionMru, kLastFile, "old.grv");
    WriteProfileString(kSectionMru, kLastPath, "/nowhere");
    CGRVDlg dlg;
    RunPrefs(dlg, [](CGRVDlgPrefs& d) { Press(d, IDOK); });
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile, "x"), "");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastPath, "x"), "");
}

} // namespace
