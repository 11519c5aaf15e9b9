#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <chrono>
#include <utility>

#include "ShellTestSupport.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/shell/UsageHttpSink.h"
#include "app/shell/UsageWorkers.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"

using namespace grv;
using platform::ui::Answer;

namespace {

class MainWindowTest : public ShellTest {
protected:
    // Shows the window and lets its queued start-up work run.
    static void ShowAndSettle(CGRVDlg& dlg) {
        dlg.show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

enum class Place { Menu, Toolbar, Tray, Context };

struct CommandCase {
    int id;
    Place place;
    const char* text; // menu text, or the tool tip of a toolbar button
};

const CommandCase kCommands[] = {
    {ID_FILE_NEW_ENTRY, Place::Menu, "New Entry"},
    {ID_FILE_FIND_ENTRY, Place::Menu, "Find Entry"},
    {ID_FILE_SAVE_ENTRY, Place::Menu, "Save Entry"},
    {ID_FILE_CLOSE_ENTRY, Place::Menu, "Close Entry"},
    {ID_DATABASE_NEW, Place::Menu, "New"},
    {ID_DATABASE_OPEN, Place::Menu, "Open"},
    {ID_DATABASE_CLOSE, Place::Menu, "Close"},
    {ID_DATABASE_BACKUP, Place::Menu, "Backup"},
    {ID_DATABASE_RESTORE, Place::Menu, "Restore"},
    {ID_FILE_PRINT, Place::Menu, "Print"},
    {ID_FILE_EXIT, Place::Menu, "E&xit"},
    {ID_EDIT_UNDO, Place::Menu, "Undo"},
    {ID_EDIT_REDO, Place::Menu, "Redo"},
    {ID_EDIT_CUT, Place::Menu, "Cut"},
    {ID_EDIT_COPY, Place::Menu, "Copy"},
    {ID_EDIT_PASTE, Place::Menu, "Paste"},
    {ID_EDIT_PREFERENCES, Place::Menu, "Preferences"},
    {ID_TOOLS_FIND_ENTRIES, Place::Menu, "Find Entries"},
    {ID_TOOLS_MEDICINE_CABINET, Place::Menu, "Medicine Cabinet"},
    {ID_GRAPH_SHOW, Place::Menu, "Show"},
    {ID_GRAPH_HIDE, Place::Menu, "Hide"},
    {ID_TREND_CURRENT, Place::Menu, "Current Pain Level"},
    {ID_TREND_AVERAGE, Place::Menu, "Average Pain Level"},
    {ID_TREND_LOWEST, Place::Menu, "Lowest Pain Level"},
    {ID_TREND_WORST, Place::Menu, "Worst Pain Level"},
    {ID_TOOLS_REPORTS, Place::Menu, "Reports"},
    {ID_HELP_CONTENTS, Place::Menu, "Contents"},
    {ID_HELP_ABOUT, Place::Menu, "About"},
    {ID_TB_NEW_ENTRY, Place::Toolbar, "Create a new entry."},
    {ID_TB_SAVE_ENTRY, Place::Toolbar, "Save the current entry."},
    {ID_TB_DELETE_ENTRY, Place::Toolbar, "Delete the current entry."},
    {ID_TB_FIND, Place::Toolbar, "Find/Search for an entry."},
    {ID_TB_MEDICINE_CABINET, Place::Toolbar, "Medicine Cabinet - a list of all medicines and treatments."},
    {ID_TB_ACTIONS, Place::Toolbar, "Add action details to your entry."},
    {ID_TB_SIDE_EFFECTS, Place::Toolbar, "Add side effect and symptom details to your entry."},
    {ID_TB_QUESTION, Place::Toolbar, "Add a question or answer to an entry."},
    {ID_TB_MEDICINES, Place::Toolbar, "Add medications taken to your entry."},
    {ID_TB_MOOD, Place::Toolbar, "Add your mood to your entry."},
    {ID_TB_PRINT, Place::Toolbar, "Print the current entry."},
    {ID_TB_TOGGLE_GRAPH, Place::Toolbar, "Hide or Show the lower graph."},
    {ID_TRAY_NEW_ENTRY, Place::Tray, "New Entry"},
    {ID_TRAY_NEW_PAIN_SCORE, Place::Tray, "New Pain Score"},
    {ID_TRAY_HIDE, Place::Tray, "Hide"},
    {ID_TRAY_SHOW, Place::Tray, "Show"},
    {ID_TRAY_EXIT, Place::Tray, "Exit"},
    {ID_ENTRY_EDIT, Place::Context, "Edit"},
    {ID_DETAILS_ACTIONS, Place::Context, "Actions"},
    {ID_DETAILS_JOURNAL, Place::Context, "Journal"},
    {ID_DETAILS_MEDICINES, Place::Context, "Medicines"},
    {ID_DETAILS_MOOD, Place::Context, "Mood"},
    {ID_DETAILS_QUESTIONS, Place::Context, "Questions"},
    {ID_DETAILS_SIDE_EFFECTS, Place::Context, "Side Effects"},
    {ID_ENTRY_DELETE, Place::Context, "Delete"},
};

// Every action reachable from a menu, its submenus included.
QList<QAction*> ActionsUnder(const QList<QAction*>& top) {
    QList<QAction*> all;
    for (QAction* a : top) {
        all << a;
        if (a->menu())
            all << ActionsUnder(a->menu()->actions());
    }
    return all;
}

TEST_F(MainWindowTest, EveryCommandIsInItsPlaceWithItsTextAndState) {
    CGRVDlg dlg;
    QList<QAction*> menuBar;
    for (QAction* a : dlg.findChild<QMenuBar*>()->actions())
        menuBar << a;
    const QList<QAction*> inMenus = ActionsUnder(menuBar);
    const QList<QAction*> inTray = ActionsUnder(dlg.TrayMenu()->actions());
    const QList<QAction*> inContext = ActionsUnder(dlg.EntriesContextMenu()->actions());
    const QList<QAction*> onToolbar = dlg.ToolBar()->actions();
    for (const CommandCase& c : kCommands) {
        SCOPED_TRACE(c.id);
        QAction* a = dlg.CommandAction(c.id);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->data().toInt(), c.id);
        EXPECT_TRUE(a->isEnabled());
        switch (c.place) {
        case Place::Menu:
            EXPECT_TRUE(inMenus.contains(a));
            EXPECT_EQ(a->text(), c.text);
            break;
        case Place::Toolbar:
            EXPECT_TRUE(onToolbar.contains(a));
            EXPECT_EQ(a->toolTip(), c.text);
            EXPECT_EQ(CGRVDlg::OnToolTipText(c.id), c.text);
            EXPECT_FALSE(a->icon().isNull());
            break;
        case Place::Tray:
            EXPECT_TRUE(inTray.contains(a));
            EXPECT_EQ(a->text(), c.text);
            break;
        case Place::Context:
            EXPECT_TRUE(inContext.contains(a));
            EXPECT_EQ(a->text(), c.text);
            break;
        }
    }
}

TEST_F(MainWindowTest, ToolbarHasTwelveButtonsInOrder) {
    CGRVDlg dlg;
    QList<int> ids;
    for (QAction* a : dlg.ToolBar()->actions())
        ids << a->data().toInt();
    EXPECT_EQ(ids, (QList<int>{ID_TB_NEW_ENTRY, ID_TB_SAVE_ENTRY, ID_TB_DELETE_ENTRY, ID_TB_FIND,
                               ID_TB_MEDICINE_CABINET, ID_TB_ACTIONS, ID_TB_SIDE_EFFECTS, ID_TB_QUESTION,
                               ID_TB_MEDICINES, ID_TB_MOOD, ID_TB_PRINT, ID_TB_TOGGLE_GRAPH}));
    EXPECT_EQ(dlg.ToolBar()->iconSize(), QSize(24, 24));
}

// A machine with only monospaced fonts would draw every menu and label in one;
// setup installs a proportional family so the default font resolves to it.
TEST_F(MainWindowTest, DefaultFontIsProportional) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    const std::pair<const char*, QFont> fonts[] = {
        {"application", QApplication::font()},
        {"window", dlg.font()},
        {"menu bar", dlg.findChild<QMenuBar*>()->font()},
    };
    for (const auto& [where, font] : fonts) {
        const QFontInfo info(font);
        EXPECT_FALSE(info.fixedPitch()) << where << " font resolves to " << info.family().toStdString();
    }
}

TEST_F(MainWindowTest, UnknownCommandsDoNothingWhenInvoked) {
    CGRVDlg dlg;
    EXPECT_FALSE(dlg.OnCommand(12345));
    EXPECT_TRUE(dlg.OnCommand(ID_EDIT_COPY)); // does nothing, as it always has
    EXPECT_TRUE(usage->Labels().empty());
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(MainWindowTest, EnterAndEscDoNotCloseTheWindow) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(&dlg, Qt::Key(key));
        QTest::keyClick(dlg.findChild<QWidget*>(QString::number(IDC_WORST_PAIN)), Qt::Key(key));
        EXPECT_TRUE(dlg.isVisible()) << key;
    }
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(MainWindowTest, QuitAsksThenReportsCloseAppOnlyAfterYes) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    prompter->Queue(Answer::No);
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_EXIT));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.m_bQuitting, 0);
    EXPECT_FALSE(usage->WaitFor(1, 200));

    prompter->Queue(Answer::Yes);
    ASSERT_TRUE(dlg.OnCommand(ID_TRAY_EXIT));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(dlg.m_bQuitting, 1);
    ASSERT_TRUE(usage->WaitFor(1, 5000));
    EXPECT_EQ(usage->Labels(), std::vector<std::string>{"Close App"});
    ASSERT_EQ(prompter->Prompts().size(), 2u);
    for (const auto& p : prompter->Prompts()) {
        EXPECT_EQ(p.text, "Are you sure you wish to quit?");
        EXPECT_EQ(p.title, "Quit the Program");
        EXPECT_EQ(p.buttons, platform::ui::Buttons::YesNo);
    }
}

TEST_F(MainWindowTest, ReportsGoOutAsFormPostsAndQuitDoesNotWaitForThem) {
    grvtest::LoopbackPeers peers;
    const int port = peers.StartCaptureServer();
    {
        platform::ui::ScopedSeams http(
            {nullptr, nullptr, nullptr, std::make_shared<CUsageHttpSink>("127.0.0.1", port)});
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        dlg.OnCommand(ID_TRAY_NEW_ENTRY);
        const std::vector<std::string> captured = peers.CapturedRequests(port, 1);
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].rfind("POST /a_p_i/grv2webmgt_api.php HTTP/1.1\r\n", 0), 0u);
        EXPECT_EQ(captured[0].substr(captured[0].size() - 15), "&ac=TM+NewEntry");
    }
    // The server takes the "Close App" report and never answers: quitting
    // waits a moment for it, then lets it go on by itself.
    grvtest::ScriptPeer silent(R"PY(
s = listen()
c, a = s.accept()
time.sleep(12)
)PY");
    const auto start = std::chrono::steady_clock::now();
    {
        platform::ui::ScopedSeams http(
            {nullptr, nullptr, nullptr, std::make_shared<CUsageHttpSink>("127.0.0.1", silent.port)});
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        prompter->Queue(Answer::Yes);
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_EXIT));
        EXPECT_EQ(dlg.result(), IDOK);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CUsageWorkers::kQuitGraceMs + 1500));
    // The report it let go gives up on its own, without anything freed under it.
    EXPECT_TRUE(grvtest::WaitFor([] { return grv::CUsageReporter::InFlight(); }, [](int n) { return n == 0; },
                                 std::chrono::seconds(20))
                    .met);
}

TEST_F(MainWindowTest, DisAnonStatsSilencesEveryReport) {
    WriteProfileInt(kSectionPrefs, kDisAnonStats, 1);
    {
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        dlg.OnCommand(ID_TRAY_NEW_ENTRY);
        prompter->Queue(Answer::Yes);
        dlg.OnCommand(ID_FILE_EXIT);
        EXPECT_EQ(dlg.UsageLabel(), "Close App");
    } // the window's end waits for any worker it started
    EXPECT_TRUE(usage->Labels().empty());
}

TEST_F(MainWindowTest, TitleBarCloseAsksToQuitWithoutCloseToTray) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    dlg.close(); // answered No by the script
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(prompter->Texts(), std::vector<QString>{"Are you sure you wish to quit?"});
}

TEST_F(MainWindowTest, CloseToTrayWithoutTrayMinimisesInsteadOfHiding) {
    WriteProfileInt(kSectionPrefs, kCloseToTray, 1);
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    ASSERT_FALSE(dlg.HasTrayIcon()); // offscreen has no tray
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.isMinimized());
    EXPECT_TRUE(prompter->Prompts().empty());
    dlg.OnCommand(ID_TRAY_SHOW);
    EXPECT_FALSE(dlg.isMinimized());
}

TEST_F(MainWindowTest, TrayHideWithoutTrayNeverStrandsTheWindow) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    dlg.OnCommand(ID_TRAY_HIDE);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.m_bWindowVisible, 1);
}

TEST_F(MainWindowTest, HiddenByTrayStaysHiddenUntilShowOrNewEntry) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    dlg.m_bWindowVisible = 0; // as the tray's Hide leaves it
    dlg.hide();
    dlg.show();
    dlg.setVisible(true);
    EXPECT_FALSE(dlg.isVisible());
    dlg.OnCommand(ID_TRAY_SHOW);
    EXPECT_TRUE(dlg.isVisible());

    dlg.m_bWindowVisible = 0;
    dlg.hide();
    dlg.OnTrayNotify(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(dlg.isVisible()) << "a single click does nothing";
    dlg.OnTrayNotify(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.m_bWindowVisible, 1);

    dlg.m_bWindowVisible = 0;
    dlg.hide();
    dlg.OnCommand(ID_TRAY_NEW_ENTRY);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.focusWidget(), dlg.findChild<QWidget*>(QString::number(IDC_ENTRY_TYPE)));
    ASSERT_TRUE(usage->WaitFor(1, 5000));
    EXPECT_EQ(usage->Labels(), std::vector<std::string>{"TM NewEntry"});
}

TEST_F(MainWindowTest, EntriesContextMenuOnlyOverTheList) {
    CGRVDlg dlg;
    dlg.resize(500, 700);
    ShowAndSettle(dlg);
    auto* list = dlg.findChild<QTreeWidget*>(QString::number(IDC_ENTRY_LIST));
    ASSERT_NE(list, nullptr);
    dlg.OnContextMenu(dlg.mapToGlobal(QPoint(2, 2)));
    EXPECT_FALSE(dlg.EntriesContextMenu()->isVisible());
    dlg.OnContextMenu(list->mapToGlobal(list->rect().center()));
    EXPECT_TRUE(dlg.EntriesContextMenu()->isVisible());
    dlg.EntriesContextMenu()->hide();
}

TEST_F(MainWindowTest, DefaultTypeSelectsByPrefixAfterTheFirstItem) {
    struct Case {
        const char* stored;
        const char* selected; // empty: nothing selected
    };
    const Case cases[] = {
        {"Journal", "Journal"}, {"journal", "Journal"},   {"Side", "Side Effects"},  {"M", "Medicine"},
        {"a", "Action"},        {"Question", "Question"}, {"Questions", "Question"}, {"Nothing like it", ""},
    };
    for (const Case& c : cases) {
        WriteProfileString(kSectionPrefs, kDefaultType, c.stored);
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        auto* types = dlg.findChild<QComboBox*>(QString::number(IDC_ENTRY_TYPE));
        ASSERT_EQ(types->count(), 6);
        EXPECT_EQ(types->currentIndex() < 0 ? QString() : types->currentText(), QString(c.selected)) << c.stored;
    }
}

class JournalAtStartTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        CJournalDb db;
        db.SetFileName("pain.grv");
        db.SetFolder(dir.path().toStdString());
        ASSERT_EQ(db.Open(1), 1) << db.GetLastErrorText();
        db.Close();
    }
    grvtest::QtTempDir dir;
};

TEST_F(JournalAtStartTest, OpenLastUsedDbReopensTheLastJournal) {
    WriteProfileString(kSectionMru, kLastFile, "pain.grv");
    WriteProfileString(kSectionMru, kLastPath, dir.path());
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    EXPECT_EQ(dlg.windowTitle(), "Gorvane - pain.grv");
    EXPECT_TRUE(dlg.Db().IsOpen());
    EXPECT_EQ(dlg.m_nTrendMode, 3);
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(JournalAtStartTest, ProfileKeepsOddFolderNamesExactly) {
    const char* folders[] = {"/home/u/My Journals; 2024, old", "  leading/and trailing  ", "/tmp/#hash=equals",
                             "/tmp/\"quoted\"\\back", "/tmp/\xc3\xa9t\xc3\xa9"};
    for (const char* f : folders) {
        ASSERT_TRUE(WriteProfileString(kSectionMru, kLastPath, QString::fromUtf8(f)));
        EXPECT_EQ(GetProfileString(kSectionMru, kLastPath), QString::fromUtf8(f));
    }
}

TEST_F(JournalAtStartTest, PreferencesOkRemembersTheOpenJournal) {
    WriteProfileString(kSectionMru, kLastFile, "pain.grv");
    WriteProfileString(kSectionMru, kLastPath, dir.path());
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    ASSERT_TRUE(dlg.Db().IsOpen());
    WriteProfileString(kSectionMru, kLastFile, "changed.grv");
    QTimer::singleShot(0, [] {
        ASSERT_NE(QApplication::activeModalWidget(), nullptr);
        QMetaObject::invokeMethod(QApplication::activeModalWidget(), "accept");
    });
    dlg.OnCommand(ID_EDIT_PREFERENCES);
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "pain.grv");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastPath), dir.path());
}

TEST_F(JournalAtStartTest, NoJournalOpenedWhenTurnedOffOrIncomplete) {
    struct Case {
        int openLast;
        const char* file;
        bool withPath;
    };
    const Case cases[] = {{0, "pain.grv", true}, {1, "", true}, {1, "pain.grv", false}, {1, "missing.grv", true}};
    for (const Case& c : cases) {
        WriteProfileInt(kSectionPrefs, kOpenLastUsedDB, c.openLast);
        WriteProfileString(kSectionMru, kLastFile, c.file);
        WriteProfileString(kSectionMru, kLastPath, c.withPath ? dir.path() : QString());
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        EXPECT_EQ(dlg.windowTitle(), "Gorvane") << c.file;
        EXPECT_FALSE(dlg.Db().IsOpen());
    }
    EXPECT_TRUE(prompter->Prompts().empty());
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.grv"))) << "never created at start";
}

// Counts the wizard runs and hands back a journal like the wizard would.
class WizardWindow : public CGRVDlg {
public:
    bool RunFirstTimeWizard(QString& fileName, QString& folder) override {
        ++runs;
        fileName = wizardFile;
        folder = wizardFolder;
        return true;
    }
    int runs = 0;
    QString wizardFile, wizardFolder;
};

TEST_F(JournalAtStartTest, FirstRunWizardIsOfferedOnceAndItsJournalOpened) {
    WriteProfileInt(kSectionPrefs, kFirstTimeWiz, 1);
    WizardWindow dlg;
    dlg.wizardFile = "pain.grv";
    dlg.wizardFolder = dir.path();
    ShowAndSettle(dlg);
    EXPECT_EQ(dlg.runs, 1);
    EXPECT_EQ(dlg.windowTitle(), "Gorvane - pain.grv");
    EXPECT_EQ(GetProfileInt(kSectionPrefs, kFirstTimeWiz, 1), 0);
    for (int i = 0; i < 3; ++i) {
        dlg.hide();
        ShowAndSettle(dlg);
    }
    EXPECT_EQ(dlg.runs, 1);
}

TEST_F(JournalAtStartTest, WizardNotOfferedWhenTurnedOffAndFlagKeptWhenItFails) {
    {
        WriteProfileInt(kSectionPrefs, kFirstTimeWiz, 0);
        WizardWindow dlg;
        ShowAndSettle(dlg);
        EXPECT_EQ(dlg.runs, 0);
    }
    {
        WriteProfileInt(kSectionPrefs, kFirstTimeWiz, 1);
        WizardWindow dlg;
        dlg.wizardFile = "missing.grv";
        dlg.wizardFolder = dir.path();
        ShowAndSettle(dlg);
        EXPECT_EQ(dlg.runs, 1);
        EXPECT_EQ(dlg.windowTitle(), "Gorvane");
        EXPECT_EQ(GetProfileInt(kSectionPrefs, kFirstTimeWiz, 0), 1);
    }
}

// The windows ask the store; statements and their rules live there only.
TEST(ShellSources, HoldNoSql) {
    const QRegularExpression sql(
        QStringLiteral("\\b(SELECT|INSERT|UPDATE|DELETE|WHERE|PRAGMA|VALUES|ESCAPE|ORDER BY|GROUP BY)\\b|"
                       "\\b(select|insert|delete)\\b[^\"\\n]*\\b(from|into)\\b|"
                       "\\b(where|like|order by|group by)\\b[^\"\\n]*[=']|sqlite|Sql"));
    QDirIterator it(QStringLiteral(GRV_SOURCE_DIR "/app/shell"), QDir::Files);
    int files = 0;
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        ++files;
        int line = 0;
        for (const QByteArray& text : file.readAll().split('\n')) {
            ++line;
            const QRegularExpressionMatch m = sql.match(QString::fromUtf8(text));
            EXPECT_FALSE(m.hasMatch()) << file.fileName().toStdString() << ":" << line << ": " << text.toStdString();
        }
    }
    EXPECT_GT(files, 50);
}

} // namespace
