#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <functional>

#include "ShellTestSupport.h"
#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgBkupRstr.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/store/JournalDb.h"

using namespace grv;
using platform::ui::Answer;
using platform::ui::FileMode;

namespace {

QString Fixture(const char* name) { return QStringLiteral(GRV_TEST_DATA_DIR "/shell/") + name; }

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

class BackupRestoreTest : public ShellTest {
protected:
    QString Path(const QString& name) const { return tmp.filePath(name); }

    // A copy of the fixture journal at name, open in the window.
    void OpenJournal(CGRVDlg& win, const QString& name) {
        ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path(name)));
        win.Db().SetFolder(tmp.path().toStdString());
        win.Db().SetFileName(name.toStdString());
        ASSERT_EQ(win.Db().Open(0), 1);
        win.setWindowTitle(QStringLiteral("Gorvane - ") + name);
    }

    // Runs Backup or Restore; act works the dialog. A dialog the act left
    // open is cancelled. True when the dialog ended by its own action.
    bool RunDialog(CGRVDlg& win, int command, const std::function<void(CGRVDlgBkupRstr&)>& act) {
        bool ran = false, ended = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<CGRVDlgBkupRstr*>(QApplication::activeModalWidget());
            if (!dlg) return;
            ran = true;
            act(*dlg);
            ended = !dlg->isVisible();
            if (!ended) dlg->reject();
        });
        EXPECT_TRUE(win.OnCommand(command));
        EXPECT_TRUE(ran);
        return ended;
    }

    static QLineEdit* Edit(CGRVDlgBkupRstr& d, int id) {
        return d.findChild<QLineEdit*>(QString::number(id));
    }
    static QPushButton* Button(CGRVDlgBkupRstr& d, int id) {
        return d.findChild<QPushButton*>(QString::number(id));
    }
    // Types the paths and the password and presses the action button.
    static void Run(CGRVDlgBkupRstr& d, const QString& source, const QString& target,
                    const QString& password) {
        Edit(d, IDC_BR_SOURCE)->setText(source);
        d.OnKillFocusSource();
        Edit(d, IDC_BR_TARGET)->setText(target);
        d.OnKillFocusTarget();
        Edit(d, IDC_BR_PASSWORD)->setText(password);
        Button(d, IDC_BR_ACTION)->click();
    }
    // Restores source into target with password; true when the dialog ended.
    bool Restore(CGRVDlg& win, const QString& source, const QString& target,
                 const QString& password) {
        return RunDialog(win, ID_DATABASE_RESTORE,
                         [&](CGRVDlgBkupRstr& d) { Run(d, source, target, password); });
    }
    // No leftover of a failed or finished write may stay in the folder.
    QStringList Leftovers() const {
        return QDir(tmp.path()).entryList({QStringLiteral(".*part*")},
                                          QDir::Files | QDir::Hidden);
    }
    std::vector<QString> Titles() const {
        std::vector<QString> titles;
        for (const auto& p : prompter->Prompts()) titles.push_back(p.title);
        return titles;
    }

    grvtest::QtTempDir tmp;
};

QString Text(const char* text) { return QString::fromLatin1(text); }

// --- Backup judged by peers -------------------------------------------------

struct PeerCase {
    const char* name;
    const char* password;
};

class BackupPeerTest : public BackupRestoreTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(BackupPeerTest, BackupOfOpenJournalPassesEveryPeer) {
    const PeerCase c = GetParam();
    const QByteArray password(c.password);
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    const QByteArray journal = Bytes(Path("pain.grv"));
    prompter->Queue(Answer::Yes);
    const QString archive = Path("week1.grz");
    QString shownSource;
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        shownSource = Edit(d, IDC_BR_SOURCE)->text();
        EXPECT_EQ(Button(d, IDC_BR_ACTION)->text(), "Backup");
        EXPECT_FALSE(win.Db().IsOpen()) << "the journal is closed while it is read";
        Edit(d, IDC_BR_TARGET)->setText(archive);
        d.OnKillFocusTarget();
        Edit(d, IDC_BR_PASSWORD)->setText(QString::fromUtf8(password));
        Button(d, IDC_BR_ACTION)->click();
    }));
    EXPECT_EQ(shownSource, Path("pain.grv"));
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kBackupCurrentQuestion), Text(kOperationComplete)}));
    EXPECT_EQ(Titles()[1], Text(kOperationCompleteTitle));
    EXPECT_EQ(win.Db().IsOpen(), 1) << "open again after the backup";
    EXPECT_EQ(win.windowTitle(), "Gorvane - pain.grv");
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();

    const QStringList pw = password.isEmpty() ? QStringList() : QStringList{"-P", password};
    EXPECT_EQ(RunProgram("unzip", QStringList{"-t"} + pw + QStringList{archive}), 0);

    QByteArray info;
    ASSERT_EQ(RunProgram("zipinfo", {"-v", archive}, &info), 0);
    const QRegularExpression encrypted(QStringLiteral("file security status:\\s+encrypted"));
    EXPECT_EQ(QString::fromUtf8(info).contains(encrypted), !password.isEmpty());

    QByteArray extracted;
    ASSERT_EQ(RunProgram("unzip", QStringList{"-p"} + pw + QStringList{archive, "pain.grv"},
                         &extracted),
              0);
    ASSERT_TRUE(WriteBytes(Path("unzipped.grv"), extracted));
    EXPECT_EQ(RunProgram("cmp", {Path("unzipped.grv"), Path("pain.grv")}), 0);
    EXPECT_EQ(Bytes(Path("pain.grv")), journal) << "the backup leaves the journal as it was";

    const QByteArray script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "pw = sys.argv[3].encode() or None\n"
        "assert z.namelist() == ['pain.grv'], z.namelist()\n"
        "z.setpassword(pw)\n"
        "assert z.testzip() is None\n"
        "assert z.read('pain.grv') == open(sys.argv[2], 'rb').read()\n";
    EXPECT_EQ(RunProgram("/usr/bin/python3", {"-c", QString::fromUtf8(script), archive,
                                              Path("pain.grv"), QString::fromUtf8(password)}),
              0);
    EXPECT_EQ(RunProgram("7z", {"t", "-p" + QString::fromUtf8(password), archive}), 0);
}

INSTANTIATE_TEST_SUITE_P(Passwords, BackupPeerTest,
                         ::testing::Values(PeerCase{"Plain", ""},
                                           PeerCase{"Password", "correct horse 42"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Backup command and its failures ----------------------------------------

TEST_F(BackupRestoreTest, BackupAnsweredNoStartsEmptyAndKeepsJournalOpen) {
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    prompter->Queue(Answer::No);
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        EXPECT_EQ(Edit(d, IDC_BR_SOURCE)->text(), "");
        EXPECT_TRUE(win.Db().IsOpen());
    }));
    EXPECT_EQ(win.Db().IsOpen(), 1);
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kBackupCurrentQuestion)});
}

TEST_F(BackupRestoreTest, FailedBackupKeepsOlderBackupAndLeavesNoPartialArchive) {
    CGRVDlg win;
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    ASSERT_TRUE(WriteBytes(Path("old.grz"), "last week's backup"));
    bool ended = RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, Path("missing.grv"), Path("old.grz"), "");
        EXPECT_TRUE(d.isVisible()) << "the dialog stays open after a failure";
        EXPECT_EQ(Bytes(Path("old.grz")), "last week's backup");
        EXPECT_TRUE(Leftovers().isEmpty());
        // Corrected, the same dialog succeeds.
        Run(d, Path("pain.grv"), Path("old.grz"), "");
    });
    EXPECT_TRUE(ended);
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kBackupFailed), Text(kOperationComplete)}));
    EXPECT_EQ(Titles()[0], Text(kBackupErrorTitle));
    EXPECT_EQ(RunProgram("unzip", {"-t", Path("old.grz")}), 0);
    EXPECT_TRUE(Leftovers().isEmpty());
}

struct BackupFailure {
    const char* name;
    const char* target;  // under the test folder
    const char* message;
};

class BackupFailureTest : public BackupRestoreTest,
                          public ::testing::WithParamInterface<BackupFailure> {};

TEST_P(BackupFailureTest, FailureNeverReportsComplete) {
    const BackupFailure c = GetParam();
    CGRVDlg win;
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    ASSERT_TRUE(WriteBytes(Path("file"), "a file, not a folder"));
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, Path("pain.grv"), QString::fromUtf8(c.target).isEmpty() ? QString()
                                                                        : Path(c.target),
            "pw");
    }));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(c.message)});
    EXPECT_EQ(Bytes(Path("pain.grv")), Bytes(Fixture("journal.grv")));
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, BackupFailureTest,
    ::testing::Values(BackupFailure{"NoTarget", "", kBackupFailed},
                      BackupFailure{"FolderIsAFile", "file/week1.grz", kBackupFailed},
                      BackupFailure{"MissingFolder", "no/such/week1.grz", kBackupFailed},
                      BackupFailure{"OntoTheJournal", "pain.grv", kSameFile}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupRestoreTest, BackupOntoOpenJournalIsRefused) {
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("other.grv")));
    prompter->Queue(Answer::No);
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, Path("other.grv"), Path("pain.grv"), "");
    }));
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kBackupCurrentQuestion), Text(kTargetIsOpenJournal)}));
    EXPECT_EQ(Bytes(Path("pain.grv")), Bytes(Fixture("journal.grv")));
    EXPECT_EQ(win.Db().IsOpen(), 1);
}

TEST_F(BackupRestoreTest, ReopenFailureAfterBackupIsShownAndLeavesNoJournal) {
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    prompter->Queue(Answer::Yes);
    RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr&) {
        // The journal goes away while the dialog is open.
        ASSERT_TRUE(QFile::rename(Path("pain.grv"), Path("moved.grv")));
    });
    ASSERT_EQ(prompter->Prompts().size(), 2u);
    EXPECT_EQ(prompter->Prompts()[1].text,
              Text(kDbOpenFailed).arg(" Unable to open the database file "));
    EXPECT_EQ(Titles()[1], Text(kReopenFailedTitle));
    EXPECT_EQ(win.Db().IsOpen(), 0);
    EXPECT_FALSE(QFile::exists(Path("pain.grv"))) << "a reopen never creates a journal";
}

// --- Restore ------------------------------------------------------------------

class RestoreFixtureTest : public BackupRestoreTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(RestoreFixtureTest, RestoreGivesByteIdenticalJournal) {
    CGRVDlg win;
    const QString archive = Fixture(GetParam());
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) {
        EXPECT_EQ(Button(d, IDC_BR_ACTION)->text(), "Restore");
        Run(d, archive, Path("restored.grv"), "right");
    }));
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kOperationComplete), Text(kRestoreDoneText)}));
    EXPECT_EQ(Titles()[1], Text(kRestoreDoneTitle));
    EXPECT_EQ(RunProgram("cmp", {Path("restored.grv"), Fixture("journal.grv")}), 0);
    EXPECT_EQ(win.Db().IsOpen(), 0) << "nothing is opened by a restore";

    CJournalDb db;
    db.SetFolder(tmp.path().toStdString());
    db.SetFileName("restored.grv");
    ASSERT_EQ(db.Open(0), 1);
    ListRows rows;
    EXPECT_EQ(db.FillEntryList("*", "", rows), 1);
    EXPECT_EQ(rows.size(), 3u);
    db.Close();
}

INSTANTIATE_TEST_SUITE_P(Archivers, RestoreFixtureTest,
                         ::testing::Values("zip-stored.grz", "zip-deflated.grz", "7z-stored.grz",
                                           "7z-deflated.grz"),
                         [](const auto& info) {
                             QString n = QString::fromLatin1(info.param);
                             return n.left(n.indexOf('.')).remove('-').toStdString();
                         });

TEST_P(RestoreFixtureTest, RestoreWithWrongPasswordKeepsExistingFile) {
    CGRVDlg win;
    const QString archive = Fixture(GetParam());
    EXPECT_FALSE(Restore(win, archive, Path("fresh.grv"), "wrong"));
    ASSERT_TRUE(WriteBytes(Path("kept.grv"), "an older journal"));
    EXPECT_FALSE(Restore(win, archive, Path("kept.grv"), "wrong"));
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kWrongPassword), Text(kWrongPassword)}));
    EXPECT_EQ(Titles()[0], Text(kWrongPasswordTitle));
    EXPECT_FALSE(QFile::exists(Path("fresh.grv")));
    EXPECT_EQ(Bytes(Path("kept.grv")), "an older journal");
    EXPECT_TRUE(Leftovers().isEmpty());
}

struct BrokenCase {
    const char* name;
    QString archive;
    const char* message;
};

class RestoreBrokenTest : public BackupRestoreTest,
                          public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(RestoreBrokenTest, BrokenArchiveShowsErrorNeverComplete) {
    const BrokenCase c = GetParam();
    CGRVDlg win;
    EXPECT_FALSE(Restore(win, c.archive, Path("restored.grv"), "right"));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(c.message)});
    EXPECT_EQ(Titles()[0], Text(kBackupErrorTitle));
    EXPECT_FALSE(QFile::exists(Path("restored.grv")));
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Archives, RestoreBrokenTest,
    ::testing::Values(
        BrokenCase{"Truncated", Fixture("truncated.grz"), kRestoreCannotOpen},
        BrokenCase{"NotAZip", Fixture("not-a-zip.grz"), kRestoreCannotOpen},
        BrokenCase{"Missing", Fixture("no-such.grz"), kRestoreCannotOpen},
        BrokenCase{"NoEntries", Fixture("empty.grz"), kRestoreEmpty},
        BrokenCase{"CorruptStored",
                   QStringLiteral(GRV_TEST_DATA_DIR "/archive/corrupt-stored.zip"),
                   kRestoreDamaged},
        BrokenCase{"CorruptDeflated",
                   QStringLiteral(GRV_TEST_DATA_DIR "/archive/corrupt-deflated.zip"),
                   kRestoreDamaged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupRestoreTest, RestoreToUnwritableTargetShowsError) {
    CGRVDlg win;
    ASSERT_TRUE(WriteBytes(Path("file"), "a file, not a folder"));
    EXPECT_FALSE(Restore(win, Fixture("zip-deflated.grz"), Path("file/restored.grv"), "right"));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kRestoreCannotWrite)});
    EXPECT_EQ(Bytes(Path("file")), "a file, not a folder");
}

TEST_F(BackupRestoreTest, RestoreOntoItsOwnArchiveIsRefused) {
    CGRVDlg win;
    ASSERT_TRUE(QFile::copy(Fixture("zip-deflated.grz"), Path("week1.grz")));
    EXPECT_FALSE(Restore(win, Path("week1.grz"), Path("week1.grz"), "right"));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kSameFile)});
    EXPECT_EQ(Bytes(Path("week1.grz")), Bytes(Fixture("zip-deflated.grz")));
}

TEST_F(BackupRestoreTest, RelativeRestoreTargetIsTakenFromCurrentFolder) {
    CGRVDlg win;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    const bool ended = Restore(win, Fixture("7z-deflated.grz"), "sub/restored.grv", "right");
    QDir::setCurrent(before);
    EXPECT_TRUE(ended);
    EXPECT_EQ(Bytes(Path("sub/restored.grv")), Bytes(Fixture("journal.grv")));
}

TEST_F(BackupRestoreTest, RestoreOntoOpenJournalClosesItFirst) {
    CGRVDlg win;
    // An empty new journal is open; the backup holds three entries.
    win.Db().SetFolder(tmp.path().toStdString());
    win.Db().SetFileName("pain.grv");
    ASSERT_EQ(win.Db().Open(1), 1);
    win.setWindowTitle("Gorvane - pain.grv");
    EXPECT_TRUE(Restore(win, Fixture("zip-stored.grz"), Path("pain.grv"), "right"));
    EXPECT_EQ(win.Db().IsOpen(), 0);
    EXPECT_EQ(win.windowTitle(), "Gorvane");
    EXPECT_EQ(Bytes(Path("pain.grv")), Bytes(Fixture("journal.grv")));
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kOperationComplete), Text(kRestoreDoneText)}));
}

TEST_F(BackupRestoreTest, RestoreCancelledShowsNoCompletion) {
    CGRVDlg win;
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_RESTORE, [](CGRVDlgBkupRstr&) {}));
    EXPECT_TRUE(prompter->Texts().empty());
}

// Own backup, restored with a password that fails the check byte.
TEST_F(BackupRestoreTest, OwnEncryptedBackupRestoresOnlyWithItsPassword) {
    CGRVDlg win;
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    const QString password = QString::fromUtf8("Schmerz-Tagebuch \xc3\xbc");
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, Path("pain.grv"), Path("b.grz"), password);
    }));
    // A wrong password passes the one-byte check once in 256; Python's
    // reader picks one that fails it.
    QByteArray wrong;
    const QByteArray script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "for i in range(1000):\n"
        "    try:\n"
        "        z.read('pain.grv', pwd=b'wrong%d' % i)\n"
        "    except RuntimeError:\n"
        "        print('wrong%d' % i, end='')\n"
        "        break\n"
        "    except Exception:\n"
        "        pass\n";
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", QString::fromUtf8(script), Path("b.grz")},
                         &wrong),
              0);
    ASSERT_FALSE(wrong.isEmpty());
    prompter->Clear();
    EXPECT_FALSE(Restore(win, Path("b.grz"), Path("r.grv"), QString::fromLatin1(wrong)));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kWrongPassword)});
    EXPECT_FALSE(QFile::exists(Path("r.grv")));
    EXPECT_TRUE(Restore(win, Path("b.grz"), Path("r.grv"), password));
    EXPECT_EQ(Bytes(Path("r.grv")), Bytes(Path("pain.grv")));
}

// --- The dialog's controls ----------------------------------------------------

struct TypedPath {
    const char* typed;
    const char* folder;
    const char* fileName;
};

class TypedPathTest : public BackupRestoreTest, public ::testing::WithParamInterface<TypedPath> {};

TEST_P(TypedPathTest, TypedPathSplitsAtLastSeparator) {
    const TypedPath c = GetParam();
    CGRVDlgBkupRstr d(CGRVDlgBkupRstr::kModeRestore);
    Edit(d, IDC_BR_SOURCE)->setText(QString::fromUtf8(c.typed));
    d.OnKillFocusSource();
    Edit(d, IDC_BR_TARGET)->setText(QString::fromUtf8(c.typed));
    d.OnKillFocusTarget();
    for (const QString* folder : {&d.m_strSourceFolder, &d.m_strTargetFolder})
        EXPECT_EQ(*folder, QString::fromUtf8(c.folder));
    for (const QString* name : {&d.m_strSourceFile, &d.m_strTargetFile})
        EXPECT_EQ(*name, QString::fromUtf8(c.fileName));
}

INSTANTIATE_TEST_SUITE_P(Paths, TypedPathTest,
                         ::testing::Values(TypedPath{"C:\\Backups\\week1.grz", "C:/Backups/",
                                                     "week1.grz"},
                                           TypedPath{"/home/ann/week1.grz", "/home/ann/",
                                                     "week1.grz"},
                                           TypedPath{"week1.grz", "", "week1.grz"},
                                           TypedPath{"/backups/", "/backups/", ""},
                                           TypedPath{"", "", ""}));

struct BrowseCase {
    int mode;
    bool source;
    FileMode fileMode;
    const char* initial;
    const char* filter;
};

class BrowseTest : public BackupRestoreTest, public ::testing::WithParamInterface<BrowseCase> {};

TEST_P(BrowseTest, BrowseAsksForTheRightFileAndCancelKeepsMembers) {
    const BrowseCase c = GetParam();
    CGRVDlgBkupRstr d(c.mode);
    auto browse = [&] { c.source ? d.OnBrowseSource() : d.OnBrowseTarget(); };
    QString& folder = c.source ? d.m_strSourceFolder : d.m_strTargetFolder;
    QString& fileName = c.source ? d.m_strSourceFile : d.m_strTargetFile;
    files->Queue("/data/backups/pain.grz");
    browse();
    ASSERT_EQ(files->Requests().size(), 1u);
    const auto& r = files->Requests()[0];
    EXPECT_EQ(r.mode, c.fileMode);
    EXPECT_EQ(r.initialPath, c.initial);
    EXPECT_EQ(r.filter, c.filter);
    EXPECT_EQ(folder, "/data/backups/");
    EXPECT_EQ(fileName, "pain.grz");
    EXPECT_EQ(Edit(d, c.source ? IDC_BR_SOURCE : IDC_BR_TARGET)->text(), "/data/backups/pain.grz");
    EXPECT_TRUE(prompter->Texts().empty());

    browse();  // cancelled
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kNoFileSelected)});
    EXPECT_EQ(Titles()[0], Text(kNoFileSelectedTitle));
    EXPECT_EQ(folder, "/data/backups/");
    EXPECT_EQ(fileName, "pain.grz");
}

INSTANTIATE_TEST_SUITE_P(
    Choosers, BrowseTest,
    ::testing::Values(
        BrowseCase{CGRVDlgBkupRstr::kModeBackup, true, FileMode::Open, "*.grv", kDbFilter},
        BrowseCase{CGRVDlgBkupRstr::kModeBackup, false, FileMode::Save, "*.grz", kArchiveFilter},
        BrowseCase{CGRVDlgBkupRstr::kModeRestore, true, FileMode::Open, "*.grz", kArchiveFilter},
        BrowseCase{CGRVDlgBkupRstr::kModeRestore, false, FileMode::Save, "*.grv", kDbFilter}));

TEST_F(BackupRestoreTest, ShowPasswordTogglesPlainText) {
    CGRVDlgBkupRstr d(CGRVDlgBkupRstr::kModeBackup);
    auto* box = d.findChild<QCheckBox*>(QString::number(IDC_BR_SHOW_PASSWORD));
    QLineEdit* pw = Edit(d, IDC_BR_PASSWORD);
    EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
    box->click();
    EXPECT_EQ(pw->echoMode(), QLineEdit::Normal);
    box->click();
    EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
}

}  // namespace
