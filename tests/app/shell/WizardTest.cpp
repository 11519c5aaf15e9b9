#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ShellTestSupport.h"
#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVWizard.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/shell/StringTable.h"
#include "app/store/JournalDb.h"
#include "app/store/StoreTexts.h"

using namespace grv;

namespace {

QString Text(const char* text) {
    return QString::fromLatin1(text);
}

class WizardTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        FreshProfile();
    }
    QString Path(const QString& name) const { return tmp.filePath(name); }

    static QPushButton* Button(QWidget& w, int id) { return w.findChild<QPushButton*>(QString::number(id)); }
    static QLineEdit* PageEdit(CGRVFirstTimeWiz& w, int page) {
        return w.GetPage(page)->findChild<QLineEdit*>(QString::number(IDC_WIZ_NAME));
    }
    static QString PageText(CGRVFirstTimeWiz& w, int page) {
        const auto labels = w.GetPage(page)->findChildren<QLabel*>();
        return labels.isEmpty() ? QString() : labels.first()->text();
    }
    static void Next(CGRVFirstTimeWiz& w) { Button(w, ID_WIZNEXT)->click(); }
    static void Back(CGRVFirstTimeWiz& w) { Button(w, ID_WIZBACK)->click(); }
    // Back and Next as the page enables them.
    static std::pair<bool, bool> Buttons(CGRVFirstTimeWiz& w) {
        return {Button(w, ID_WIZBACK)->isEnabled(), Button(w, ID_WIZNEXT)->isEnabled()};
    }

    // Walks to page 4 with the typed name and the file chosen on page 3
    // (empty: page 3 is passed without browsing).
    void Walk(CGRVFirstTimeWiz& w, const QString& name, const QString& chosen) {
        Next(w);
        PageEdit(w, 1)->setText(name);
        Next(w);
        if (!chosen.isEmpty()) {
            files->Queue(chosen);
            Button(*w.GetPage(2), IDC_WIZ_BROWSE)->click();
        }
        Next(w);
    }

    // Shows a main window and works every wizard that comes up with act; a
    // wizard the act leaves open is finished. The number of wizards seen.
    int ShowWithWizard(CGRVDlg& win, const std::function<void(CGRVFirstTimeWiz&)>& act) {
        int seen = 0;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* w = qobject_cast<CGRVFirstTimeWiz*>(QApplication::activeModalWidget());
            if (!w || w->property("worked").toBool())
                return;
            w->setProperty("worked", true);
            ++seen;
            act(*w);
            if (w->isVisible())
                w->OnFinish();
        });
        poll.start();
        win.show();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        poll.stop();
        return seen;
    }

    grvtest::QtTempDir tmp;
    CJournalDb db;
};

TEST_F(WizardTest, WizardWalkCreatesFirstJournalAndRemembersIt) {
    CGRVFirstTimeWiz w(Text(kWizardCaption));
    w.m_pDb = &db;
    w.show();
    EXPECT_EQ(w.windowTitle(), "First Time Database Creation");
    EXPECT_EQ(Button(w, IDCANCEL)->text(), "Finish");
    EXPECT_EQ(Button(w, IDHELP)->text(), "Close");
    EXPECT_EQ(PageText(w, 0), LoadResourceString(IDS_WIZ_WELCOME));
    EXPECT_TRUE(PageText(w, 0).startsWith("Welcome to Gorvane (GRV)."));
    EXPECT_EQ(Buttons(w), std::make_pair(false, true));

    Next(w);
    EXPECT_EQ(w.GetActiveIndex(), 1);
    EXPECT_TRUE(PageText(w, 1).startsWith("Here we need to know what you want to name the file"));
    EXPECT_EQ(Buttons(w), std::make_pair(true, true));
    PageEdit(w, 1)->setText("pain");
    Next(w);
    EXPECT_EQ(w.m_strFileName, "pain");
    EXPECT_EQ(Buttons(w), std::make_pair(true, true));
    EXPECT_EQ(Button(*w.GetPage(2), IDC_WIZ_BROWSE)->text(), "Click HERE to Browse Folders");
    EXPECT_EQ(w.GetPage(2)->windowTitle(), "First Time Run Wizard");

    files->Queue(Path("pain.grv"));
    Button(*w.GetPage(2), IDC_WIZ_BROWSE)->click();
    ASSERT_EQ(files->Requests().size(), 1u);
    // No journal and no Documents folder yet: the chooser starts at home.
    EXPECT_EQ(files->Requests()[0].initialPath, QDir::homePath() + "/pain.grv");
    EXPECT_EQ(files->Requests()[0].filter, Text(kDbFilter));
    EXPECT_EQ(files->Requests()[0].mode, platform::ui::FileMode::Save);
    // It asked whether to replace an existing file, then refused to.
    EXPECT_FALSE(files->Requests()[0].confirmOverwrite) << "the wizard never replaces a file";
    EXPECT_EQ(PageEdit(w, 2)->text(), Path("pain.grv"));
    EXPECT_EQ(w.m_strFolder, tmp.path() + "/");
    EXPECT_EQ(w.m_strFileName, "pain.grv");

    Next(w);
    EXPECT_EQ(w.GetActiveIndex(), 3);
    EXPECT_EQ(PageText(w, 3), LoadResourceString(IDS_WIZ_DONE));
    EXPECT_EQ(Buttons(w), std::make_pair(true, false));
    ASSERT_EQ(prompter->Texts(), std::vector<QString>{Text(kDbCreated)});
    EXPECT_EQ(prompter->Prompts()[0].title, "Success");
    EXPECT_EQ(db.IsOpen(), 1);
    EXPECT_EQ(w.m_strTitle, "Gorvane - pain.grv");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "pain.grv");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastPath), tmp.path());

    // The file is a journal by SQLite's own judgement.
    QByteArray tables;
    ASSERT_EQ(RunProgram("sqlite3", {Path("pain.grv"), ".tables"}, &tables), 0);
    for (const char* t : {"entry", "entry_actions", "entry_meds", "entry_mood", "entry_question", "entry_sideff",
                          "medicine_cabinet", "prefs"})
        EXPECT_TRUE(tables.split(' ').contains(t) || tables.contains(QByteArray(t) + ' ') ||
                    tables.contains(QByteArray(t) + '\n'))
            << t;
}

TEST_F(WizardTest, BackAndNextAfterCreationRaisesNoFalseError) {
    CGRVFirstTimeWiz w(Text(kWizardCaption));
    w.m_pDb = &db;
    w.show();
    Walk(w, "pain", Path("pain.grv"));
    const QByteArray created = [&] {
        QFile f(Path("pain.grv"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    for (int i = 0; i < 3; ++i) {
        Back(w);
        EXPECT_EQ(w.GetActiveIndex(), 2);
        Next(w);
    }
    EXPECT_EQ(prompter->Texts(), std::vector<QString>(4, Text(kDbCreated)));
    EXPECT_EQ(db.IsOpen(), 1);
    EXPECT_EQ(w.CreateDatabase(w.m_strFolder, w.m_strFileName), 1);

    // Back to another file: the first journal's connection goes, the new
    // one is created.
    Back(w);
    files->Queue(Path("second.grv"));
    Button(*w.GetPage(2), IDC_WIZ_BROWSE)->click();
    Next(w);
    EXPECT_EQ(prompter->Texts().back(), Text(kDbCreated));
    EXPECT_EQ(db.GetFileName(), "second.grv");
    EXPECT_TRUE(QFile::exists(Path("second.grv")));
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "second.grv");
    EXPECT_FALSE(created.isEmpty());
    db.Close();
}

TEST_F(WizardTest, CreatingOverExistingFileIsRefusedWithClearMessage) {
    {
        QFile f(Path("pain.grv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    CGRVFirstTimeWiz w(Text(kWizardCaption));
    w.m_pDb = &db;
    w.show();
    Walk(w, "pain", Path("pain.grv"));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].title, "Error");
    EXPECT_TRUE(prompter->Texts()[0].startsWith("Error creating database: Can't create database:"));
    EXPECT_TRUE(prompter->Texts()[0].contains("already exists")) << prompter->Texts()[0].toStdString();
    EXPECT_EQ(db.IsOpen(), 0);
    QFile f(Path("pain.grv"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "keep me");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "");
}

TEST_F(WizardTest, ReachingLastPageWithoutBrowsingReportsEmptyFolder) {
    CGRVFirstTimeWiz w(Text(kWizardCaption));
    w.m_pDb = &db;
    w.show();
    Walk(w, "pain", QString());
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{"Error creating database: The folder name is empty."});
    EXPECT_EQ(prompter->Prompts()[0].title, "Error");
    EXPECT_EQ(db.IsOpen(), 0);
    EXPECT_EQ(w.CreateDatabase(tmp.path() + "/", QString()), -2);
    EXPECT_EQ(w.m_strError, "The filename is empty.");
    EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::Files).isEmpty());
}

struct NameCase {
    const char* typed;
    const char* kept;
    bool told;
    const char* proposed;
};

class WizardNameTest : public WizardTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(WizardNameTest, NameLosesEverythingFromItsFirstPeriod) {
    const NameCase c = GetParam();
    CGRVFirstTimeWiz w(Text(kWizardCaption));
    w.m_pDb = &db;
    w.show();
    Next(w);
    PageEdit(w, 1)->setText(QString::fromUtf8(c.typed));
    Next(w);
    EXPECT_EQ(PageEdit(w, 1)->text(), c.kept);
    EXPECT_EQ(w.m_strFileName, c.kept);
    if (c.told) {
        EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kWizardPeriod)});
        EXPECT_EQ(prompter->Prompts()[0].title, "No File Extensions or Periods");
    } else {
        EXPECT_TRUE(prompter->Texts().empty());
    }
    Button(*w.GetPage(2), IDC_WIZ_BROWSE)->click(); // cancelled
    ASSERT_EQ(files->Requests().size(), 1u);
    EXPECT_EQ(files->Requests()[0].initialPath, QDir::homePath() + '/' + c.proposed);
    EXPECT_EQ(prompter->Texts().back(), "No File Selected");
}

INSTANTIATE_TEST_SUITE_P(Names, WizardNameTest,
                         ::testing::Values(NameCase{"pain", "pain", false, "pain.grv"},
                                           NameCase{"my.journal", "my", true, "my.grv"},
                                           NameCase{"a.b.c", "a", true, "a.grv"},
                                           NameCase{".hidden", "", true, ".grv"}));

TEST_F(WizardTest, FinishCloseAndEscAllEndWithZero) {
    const std::vector<std::function<void(CGRVFirstTimeWiz&)>> ways = {
        [](CGRVFirstTimeWiz& w) { Button(w, IDCANCEL)->click(); },
        [](CGRVFirstTimeWiz& w) { Button(w, IDHELP)->click(); },
        [](CGRVFirstTimeWiz& w) { QTest::keyClick(&w, Qt::Key_Escape); },
    };
    for (std::size_t i = 0; i < ways.size(); ++i) {
        CGRVFirstTimeWiz w(Text(kWizardCaption));
        w.m_pDb = &db;
        bool worked = false;
        QTimer::singleShot(0, [&] {
            worked = true;
            ways[i](w);
        });
        EXPECT_EQ(w.exec(), 0) << i;
        EXPECT_TRUE(worked) << i;
    }
}

// --- The wizard from the main window ---------------------------------------------

TEST_F(WizardTest, FirstStartRunsWizardOnceAndOpensItsJournal) {
    {
        CGRVDlg win;
        const int seen = ShowWithWizard(win, [&](CGRVFirstTimeWiz& w) {
            EXPECT_EQ(w.m_pDb, &win.Db());
            Walk(w, "pain", Path("pain.grv"));
            Button(w, IDCANCEL)->click();
        });
        EXPECT_EQ(seen, 1);
        EXPECT_EQ(win.Db().IsOpen(), 1);
        EXPECT_EQ(win.windowTitle(), "Gorvane - pain.grv");
        EXPECT_EQ(win.Db().GetFullPath(), Path("pain.grv").toStdString());
        EXPECT_EQ(GetProfileInt(kSectionPrefs, kFirstTimeWiz, 1), 0);
        EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "pain.grv");
        EXPECT_EQ(GetProfileString(kSectionMru, kLastPath), tmp.path());
        // Hiding and showing again does not bring the wizard back.
        win.hide();
        EXPECT_EQ(ShowWithWizard(win, [](CGRVFirstTimeWiz&) {}), 0);
        win.Db().Close();
    }
    // The next start opens the journal the wizard made, without a wizard.
    CGRVDlg next;
    EXPECT_EQ(ShowWithWizard(next, [](CGRVFirstTimeWiz&) {}), 0);
    EXPECT_EQ(next.windowTitle(), "Gorvane - pain.grv");
    EXPECT_EQ(next.Db().IsOpen(), 1);
    next.Db().Close();
}

TEST_F(WizardTest, WizardLeftWithoutJournalComesBackOnlyAtNextStart) {
    {
        CGRVDlg win;
        EXPECT_EQ(ShowWithWizard(win, [](CGRVFirstTimeWiz& w) { Button(w, IDHELP)->click(); }), 1);
        EXPECT_EQ(win.Db().IsOpen(), 0);
        EXPECT_EQ(win.windowTitle(), "Gorvane");
        win.hide();
        EXPECT_EQ(ShowWithWizard(win, [](CGRVFirstTimeWiz&) {}), 0);
    }
    EXPECT_NE(GetProfileString(kSectionPrefs, kFirstTimeWiz), "0") << "still on";
    CGRVDlg next;
    EXPECT_EQ(ShowWithWizard(next, [](CGRVFirstTimeWiz&) {}), 1);
}

TEST_F(WizardTest, RefusedCreationKeepsTheJournalThatWasOpen) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(GRV_TEST_DATA_DIR "/shell/journal.grv"), Path("old.grv")));
    ASSERT_TRUE(QFile::copy(QStringLiteral(GRV_TEST_DATA_DIR "/shell/journal.grv"), Path("taken.grv")));
    WriteProfileString(kSectionMru, kLastFile, "old.grv");
    WriteProfileString(kSectionMru, kLastPath, tmp.path());
    CGRVDlg win;
    EXPECT_EQ(ShowWithWizard(win,
                             [&](CGRVFirstTimeWiz& w) {
                                 EXPECT_EQ(win.Db().IsOpen(), 1);
                                 Walk(w, "taken", Path("taken.grv"));
                             }),
              1);
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].title, "Error");
    EXPECT_EQ(win.Db().IsOpen(), 1);
    EXPECT_EQ(win.Db().GetFileName(), "old.grv");
    EXPECT_EQ(win.windowTitle(), "Gorvane - old.grv");
    EXPECT_NE(GetProfileString(kSectionPrefs, kFirstTimeWiz), "0");
    win.Db().Close();
}

// After "Fatal: Unable to create DB" the closing page still congratulated the
// user on the first database. It says the journal was not made, and why.
TEST_F(WizardTest, ClosingPageAfterAFailureSaysTheJournalWasNotCreated) {
    {
        QFile f(Path("taken.grv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    struct Case {
        const char* name;
        QString chosen;     // empty: page 3 passed without browsing
        const char* reason; // a part of what the page says
    };
    const Case cases[] = {
        {"folder missing", Path("gone/pain.grv"), "Fatal: Unable to create DB"},
        {"file exists", Path("taken.grv"), "already exists"},
        {"no browsing", QString(), kWizardFolderEmpty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CGRVFirstTimeWiz w(Text(kWizardCaption));
        w.m_pDb = &db;
        w.show();
        Walk(w, "pain", c.chosen);
        ASSERT_EQ(w.GetActiveIndex(), 3);
        const QString page = PageText(w, 3);
        EXPECT_TRUE(page.startsWith("Your database was not created.")) << page.toStdString();
        EXPECT_TRUE(page.contains(c.reason)) << page.toStdString();
        EXPECT_FALSE(page.contains("Congratulations"));
        EXPECT_EQ(db.IsOpen(), 0);
        // Back to choose a file that can be made: the page congratulates.
        Back(w);
        files->Queue(Path(QString(c.name).replace(' ', '-') + ".grv"));
        Button(*w.GetPage(2), IDC_WIZ_BROWSE)->click();
        Next(w);
        EXPECT_EQ(PageText(w, 3), LoadResourceString(IDS_WIZ_DONE));
        EXPECT_EQ(db.IsOpen(), 1);
        db.Close();
    }
}

} // namespace
