#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <utility>

#include "ShellTestSupport.h"
#include "app/reports/EntryPrintout.h"
#include "app/reports/ReportExport.h"
#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgBkupRstr.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/store/JournalDb.h"
#include "archive/ZipArchive.h"
#include "platform/ByteOrder.h"
#include "platform/PartFile.h"
#include "tests/app/reports/print/PrintTestSupport.h"

using namespace grv;
using platform::ui::Answer;
using platform::ui::FileMode;

namespace {

// Where a test rerun as nobody reads the shell fixtures: the source tree may
// lie where nobody cannot go (a clone in /root), so root copies them for it.
constexpr char kShellDataVariable[] = "GRV_SHELL_DATA";

QString ShellData() {
    const char* copy = std::getenv(kShellDataVariable);
    return copy ? QString::fromUtf8(copy) : QStringLiteral(GRV_TEST_DATA_DIR "/shell");
}

QString Fixture(const char* name) {
    return ShellData() + "/" + name;
}

std::string ShellTable(const char* name) {
    return Fixture(name).toStdString();
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

quint32 Le32(const QByteArray& b, qsizetype at) {
    (void)b.at(at + 3); // out of range asserts
    return platform::LoadLe32(b.constData() + at);
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
            if (!dlg)
                return;
            ran = true;
            act(*dlg);
            ended = !dlg->isVisible();
            if (!ended)
                dlg->reject();
        });
        EXPECT_TRUE(win.OnCommand(command));
        EXPECT_TRUE(ran);
        return ended;
    }

    static QLineEdit* Edit(CGRVDlgBkupRstr& d, int id) { return d.findChild<QLineEdit*>(QString::number(id)); }
    static QPushButton* Button(CGRVDlgBkupRstr& d, int id) { return d.findChild<QPushButton*>(QString::number(id)); }
    // Types the paths and the password and presses the action button.
    static void Run(CGRVDlgBkupRstr& d, const QString& source, const QString& target, const QString& password) {
        Edit(d, IDC_BR_SOURCE)->setText(source);
        d.OnKillFocusSource();
        Edit(d, IDC_BR_TARGET)->setText(target);
        d.OnKillFocusTarget();
        Edit(d, IDC_BR_PASSWORD)->setText(password);
        Button(d, IDC_BR_ACTION)->click();
    }
    // Restores source into target with password; true when the dialog ended.
    bool Restore(CGRVDlg& win, const QString& source, const QString& target, const QString& password) {
        return RunDialog(win, ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) { Run(d, source, target, password); });
    }
    // No leftover of a failed or finished write may stay in the folder.
    QStringList Leftovers() const {
        return QDir(tmp.path()).entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden);
    }
    std::vector<QString> Titles() const {
        std::vector<QString> titles;
        for (const auto& p : prompter->Prompts())
            titles.push_back(p.title);
        return titles;
    }

    // The question before an existing target is replaced, and before the
    // journal that is open is.
    QString Replace(const QString& name) const { return QString::fromLatin1(kReplaceQuestion).arg(Path(name)); }
    QString ReplaceOpen(const QString& name) const {
        return QString::fromLatin1(kReplaceOpenJournalQuestion).arg(Path(name));
    }
    // Backs the journal up onto each kind of target.
    void BackupOnto(std::initializer_list<grvtest::TargetKind> kinds);
    // Restores a backup onto a target of that kind.
    void RestoreOnto(grvtest::TargetKind kind);
    QByteArray Sha256(const QString& name) const {
        QByteArray out;
        EXPECT_EQ(RunProgram("sha256sum", {Path(name)}, &out), 0);
        return out.left(64);
    }

    // The fixture journal with random bytes no archive shrinks, more than
    // the small disk holds.
    void MakeLargeJournal(const QString& name) {
        ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path(name)));
        QFile::setPermissions(Path(name), QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_EQ(RunProgram("sqlite3", {Path(name), "INSERT INTO entry(ts, sbj, entry) SELECT '2026-03-03 08:00:00', "
                                                     "'Noise', hex(randomblob(4000)) FROM generate_series(1, 40);"}),
                  0);
    }
    // A 64 KiB tmpfs, unmounted when the test ends. Only root runs the tests
    // that mount one (tests/run-common.sh leaves them out for others).
    void MountSmallDisk(QString* disk) {
        *disk = Path("small-disk");
        ASSERT_TRUE(QDir().mkpath(*disk));
        // tests/run-common.sh leaves these tests out where a tmpfs cannot be mounted.
        ASSERT_EQ(RunProgram("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", *disk}), 0) << "cannot mount a tmpfs";
        mounted = *disk;
    }
    void TearDown() override {
        if (!mounted.isEmpty())
            RunProgram("umount", {mounted});
        ShellTest::TearDown();
    }

    grvtest::QtTempDir tmp;
    QString mounted;
};

// A progress that would show at once, and how long a message stays up.
constexpr int kProgressDelay = 0;
constexpr int kProgressWait = 300;

QString Text(const char* text) {
    return QString::fromLatin1(text);
}

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
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{Text(kBackupCurrentQuestion), Text(kOperationComplete)}));
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
    ASSERT_EQ(RunProgram("unzip", QStringList{"-p"} + pw + QStringList{archive, "pain.grv"}, &extracted), 0);
    ASSERT_TRUE(WriteBytes(Path("unzipped.grv"), extracted));
    EXPECT_EQ(RunProgram("cmp", {Path("unzipped.grv"), Path("pain.grv")}), 0);
    EXPECT_EQ(Bytes(Path("pain.grv")), journal) << "the backup leaves the journal as it was";

    const QByteArray script = "import sys, zipfile\n"
                              "z = zipfile.ZipFile(sys.argv[1])\n"
                              "pw = sys.argv[3].encode() or None\n"
                              "assert z.namelist() == ['pain.grv'], z.namelist()\n"
                              "z.setpassword(pw)\n"
                              "assert z.testzip() is None\n"
                              "assert z.read('pain.grv') == open(sys.argv[2], 'rb').read()\n";
    EXPECT_EQ(RunProgram("/usr/bin/python3",
                         {"-c", QString::fromUtf8(script), archive, Path("pain.grv"), QString::fromUtf8(password)}),
              0);
    EXPECT_EQ(RunProgram("7z", {"t", "-p" + QString::fromUtf8(password), archive}), 0);
}

INSTANTIATE_TEST_SUITE_P(Passwords, BackupPeerTest,
                         ::testing::Values(PeerCase{"Plain", ""}, PeerCase{"Password", "correct horse 42"}),
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
    // Replace old.grz: asked once the journal was read, so only for the
    // second try.
    for (Answer a : {Answer::Ok, Answer::Yes})
        prompter->Queue(a);
    bool ended = RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, Path("missing.grv"), Path("old.grz"), "");
        EXPECT_TRUE(d.isVisible()) << "the dialog stays open after a failure";
        EXPECT_EQ(Bytes(Path("old.grz")), "last week's backup");
        EXPECT_TRUE(Leftovers().isEmpty());
        // Corrected, the same dialog succeeds, and takes away what a backup
        // that was stopped left, and only that.
        ASSERT_FALSE(grvtest::LeaveKilledPart(Path("old.grz").toStdString(), "a stopped backup's").empty());
        ASSERT_TRUE(WriteBytes(Path("old.grz.part-backup"), "the user's own"));
        Run(d, Path("pain.grv"), Path("old.grz"), "");
    });
    EXPECT_TRUE(ended);
    EXPECT_EQ(Bytes(Path("old.grz.part-backup")), "the user's own");
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{Text(kBackupFailed), Replace("old.grz"), Text(kOperationComplete)}));
    EXPECT_EQ(Titles()[0], Text(kBackupErrorTitle));
    EXPECT_EQ(RunProgram("unzip", {"-t", Path("old.grz")}), 0);
    EXPECT_TRUE(Leftovers().isEmpty());
}

// A backup onto a link goes to the file the link names (one to nothing
// makes it); a FIFO or a device takes the archive as it stands and stays
// what it was. Only a file there is asked about: the question once came
// about a FIFO, and a link to nothing was replaced by a file of its own.
void BackupRestoreTest::BackupOnto(std::initializer_list<grvtest::TargetKind> kinds) {
    using grvtest::TargetKind;
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    int n = 0;
    for (TargetKind kind : kinds) {
        SCOPED_TRACE(grvtest::TargetKindName(kind));
        const std::string name = "week" + std::to_string(n++) + ".grz";
        grvtest::WriteTarget target(tmp.path().toStdString(), name, kind, "last week's backup");
        ASSERT_EQ(target.Error(), 0);
        CGRVDlg win;
        prompter->Clear();
        prompter->Queue(Answer::Yes);
        EXPECT_TRUE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
            Run(d, Path("pain.grv"), Path(QString::fromStdString(name)), "");
        }));
        std::vector<QString> told{Text(kOperationComplete)};
        // The question names the file that would be replaced.
        if (kind == TargetKind::Link)
            told.insert(told.begin(), Replace(QString::fromStdString(name + ".target")));
        EXPECT_EQ(prompter->Texts(), told);
        const std::string described = target.Describe();
        const std::string zipStart = "PK\x03\x04";
        if (kind == TargetKind::Link || kind == TargetKind::DanglingLink) {
            EXPECT_EQ(described.substr(0, described.find(':') + 5), "link(" + name + ".target)->file:" + zipStart);
            EXPECT_EQ(RunProgram("unzip", {"-t", Path(QString::fromStdString(name + ".target"))}), 0);
        } else {
            EXPECT_EQ(described.substr(0, kind == TargetKind::Fifo ? 9 : std::string::npos),
                      kind == TargetKind::Fifo ? "fifo:" + zipStart : std::string("device(1,3)"));
        }
        EXPECT_TRUE(Leftovers().isEmpty());
    }
}

TEST_F(BackupRestoreTest, BackupOntoALinkOrAPipeKeepsWhatIsThere) {
    BackupOnto({grvtest::TargetKind::Link, grvtest::TargetKind::DanglingLink, grvtest::TargetKind::Fifo});
}

TEST_F(BackupRestoreTest, BackupOntoAPrivateDeviceLeavesItADevice) {
    BackupOnto({grvtest::TargetKind::PrivateDevice});
}

struct BackupFailure {
    const char* name;
    const char* target; // under the test folder
    const char* message;
};

class BackupFailureTest : public BackupRestoreTest, public ::testing::WithParamInterface<BackupFailure> {};

TEST_P(BackupFailureTest, FailureNeverReportsComplete) {
    const BackupFailure c = GetParam();
    CGRVDlg win;
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    ASSERT_TRUE(WriteBytes(Path("file"), "a file, not a folder"));
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, Path("pain.grv"), QString::fromUtf8(c.target).isEmpty() ? QString() : Path(c.target), "pw");
    }));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(c.message)});
    EXPECT_EQ(Bytes(Path("pain.grv")), Bytes(Fixture("journal.grv")));
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Targets, BackupFailureTest,
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
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP,
                           [&](CGRVDlgBkupRstr& d) { Run(d, Path("other.grv"), Path("pain.grv"), ""); }));
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{Text(kBackupCurrentQuestion), Text(kTargetIsOpenJournal)}));
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
    EXPECT_EQ(prompter->Prompts()[1].text, Text(kDbOpenFailed).arg(" Unable to open the database file "));
    EXPECT_EQ(Titles()[1], Text(kReopenFailedTitle));
    EXPECT_EQ(win.Db().IsOpen(), 0);
    EXPECT_FALSE(QFile::exists(Path("pain.grv"))) << "a reopen never creates a journal";
}

// --- Restore ------------------------------------------------------------------

class RestoreFixtureTest : public BackupRestoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RestoreFixtureTest, RestoreGivesByteIdenticalJournal) {
    CGRVDlg win;
    const QString archive = Fixture(GetParam());
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) {
        EXPECT_EQ(Button(d, IDC_BR_ACTION)->text(), "Restore");
        Run(d, archive, Path("restored.grv"), "right");
    }));
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{Text(kOperationComplete), Text(kRestoreDoneText)}));
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
                         ::testing::Values("zip-stored.grz", "zip-deflated.grz", "7z-stored.grz", "7z-deflated.grz"),
                         [](const auto& info) {
                             QString n = QString::fromLatin1(info.param);
                             return n.left(n.indexOf('.')).remove('-').toStdString();
                         });

TEST_P(RestoreFixtureTest, RestoreWithWrongPasswordKeepsExistingFile) {
    CGRVDlg win;
    const QString archive = Fixture(GetParam());
    EXPECT_FALSE(Restore(win, archive, Path("fresh.grv"), "wrong"));
    ASSERT_TRUE(WriteBytes(Path("kept.grv"), "an older journal"));
    // Refused before the replace question: nothing is asked.
    EXPECT_FALSE(Restore(win, archive, Path("kept.grv"), "wrong"));
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{Text(kWrongPassword), Text(kWrongPassword)}));
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

class RestoreBrokenTest : public BackupRestoreTest, public ::testing::WithParamInterface<BrokenCase> {};

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
    ::testing::Values(BrokenCase{"Truncated", Fixture("truncated.grz"), kRestoreCannotOpen},
                      BrokenCase{"NotAZip", Fixture("not-a-zip.grz"), kRestoreCannotOpen},
                      BrokenCase{"Missing", Fixture("no-such.grz"), kRestoreCannotOpen},
                      BrokenCase{"NoEntries", Fixture("empty.grz"), kRestoreEmpty},
                      BrokenCase{"CorruptStored", QStringLiteral(GRV_TEST_DATA_DIR "/archive/corrupt-stored.zip"),
                                 kRestoreDamaged},
                      BrokenCase{"CorruptDeflated", QStringLiteral(GRV_TEST_DATA_DIR "/archive/corrupt-deflated.zip"),
                                 kRestoreDamaged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupRestoreTest, RestoreToUnwritableTargetShowsError) {
    CGRVDlg win;
    ASSERT_TRUE(WriteBytes(Path("file"), "a file, not a folder"));
    EXPECT_FALSE(Restore(win, Fixture("zip-deflated.grz"), Path("file/restored.grv"), "right"));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kRestoreCannotWrite)});
    EXPECT_EQ(Bytes(Path("file")), "a file, not a folder");
}

// A journal is a regular file: a FIFO or a device at the target is refused
// before anything is asked, and stays what it was. A link to nothing makes
// the file it names (it was replaced by a file of its own).
void BackupRestoreTest::RestoreOnto(grvtest::TargetKind kind) {
    grvtest::WriteTarget target(tmp.path().toStdString(), "restored.grv", kind, "");
    ASSERT_EQ(target.Error(), 0);
    CGRVDlg win;
    if (kind == grvtest::TargetKind::DanglingLink) {
        EXPECT_TRUE(Restore(win, Fixture("zip-deflated.grz"), Path("restored.grv"), "right"));
        EXPECT_EQ(target.Describe(), "link(restored.grv.target)->file:" + Bytes(Fixture("journal.grv")).toStdString());
        EXPECT_TRUE(Leftovers().isEmpty());
        return;
    }
    EXPECT_FALSE(Restore(win, Fixture("zip-deflated.grz"), Path("restored.grv"), "right"));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kRestoreCannotWrite)});
    EXPECT_EQ(target.Describe(), kind == grvtest::TargetKind::Fifo ? "fifo:" : "device(1,3)");
    EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(BackupRestoreTest, RestoreOntoAPipeIsRefusedAndThePipeStays) {
    RestoreOnto(grvtest::TargetKind::Fifo);
}

TEST_F(BackupRestoreTest, RestoreOntoALinkToNothingMakesTheFileItNames) {
    RestoreOnto(grvtest::TargetKind::DanglingLink);
}

TEST_F(BackupRestoreTest, RestoreOntoAPrivateDeviceIsRefusedAndTheDeviceStays) {
    RestoreOnto(grvtest::TargetKind::PrivateDevice);
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

TEST_F(BackupRestoreTest, RestoreOntoOpenJournalClosesItOnceRestored) {
    CGRVDlg win;
    // An empty new journal is open; the backup holds three entries.
    win.Db().SetFolder(tmp.path().toStdString());
    win.Db().SetFileName("pain.grv");
    ASSERT_EQ(win.Db().Open(1), 1);
    win.setWindowTitle("Gorvane - pain.grv");
    prompter->Queue(Answer::Yes);
    EXPECT_TRUE(Restore(win, Fixture("zip-stored.grz"), Path("pain.grv"), "right"));
    EXPECT_EQ(win.Db().IsOpen(), 0);
    EXPECT_EQ(win.windowTitle(), "Gorvane");
    EXPECT_EQ(RunProgram("cmp", {Path("pain.grv"), Fixture("journal.grv")}), 0);
    EXPECT_EQ(prompter->Texts(),
              (std::vector<QString>{ReplaceOpen("pain.grv"), Text(kOperationComplete), Text(kRestoreDoneText)}));
    EXPECT_TRUE(Leftovers().isEmpty());
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
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_BACKUP,
                          [&](CGRVDlgBkupRstr& d) { Run(d, Path("pain.grv"), Path("b.grz"), password); }));
    // A wrong password passes the one-byte check once in 256; Python's
    // reader picks one that fails it.
    QByteArray wrong;
    const QByteArray script = "import sys, zipfile\n"
                              "z = zipfile.ZipFile(sys.argv[1])\n"
                              "for i in range(1000):\n"
                              "    try:\n"
                              "        z.read('pain.grv', pwd=b'wrong%d' % i)\n"
                              "    except RuntimeError:\n"
                              "        print('wrong%d' % i, end='')\n"
                              "        break\n"
                              "    except Exception:\n"
                              "        pass\n";
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", QString::fromUtf8(script), Path("b.grz")}, &wrong), 0);
    ASSERT_FALSE(wrong.isEmpty());
    prompter->Clear();
    EXPECT_FALSE(Restore(win, Path("b.grz"), Path("r.grv"), QString::fromLatin1(wrong)));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kWrongPassword)});
    EXPECT_FALSE(QFile::exists(Path("r.grv")));
    EXPECT_TRUE(Restore(win, Path("b.grz"), Path("r.grv"), password));
    EXPECT_EQ(Bytes(Path("r.grv")), Bytes(Path("pain.grv")));
}

// --- Replacing, failing and folders --------------------------------------------

enum class Road { Typed, Browsed };

struct ReplaceCase {
    const char* name;
    int mode;
    Road road;
    Answer answer; // to the dialog's own question, when it asks
};

class ReplaceTest : public BackupRestoreTest, public ::testing::WithParamInterface<ReplaceCase> {};

// A password-protected backup was once silently replaced by a plain one.
TEST_P(ReplaceTest, ExistingTargetIsReplacedOnlyWhenTheUserAgrees) {
    const ReplaceCase c = GetParam();
    const bool backup = c.mode == CGRVDlgBkupRstr::kModeBackup;
    CGRVDlg win;
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    const QString target = backup ? QStringLiteral("week1.grz") : QStringLiteral("kept.grv");
    ASSERT_TRUE(backup ? QFile::copy(Fixture("zip-deflated.grz"), Path(target))
                       : WriteBytes(Path(target), "an older journal"));
    const QByteArray before = Sha256(target);
    prompter->Queue(c.answer);
    if (c.road == Road::Browsed)
        files->Queue(Path(target));
    const bool ended = RunDialog(win, backup ? ID_DATABASE_BACKUP : ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) {
        Edit(d, IDC_BR_SOURCE)->setText(backup ? Path("pain.grv") : Fixture("zip-deflated.grz"));
        if (c.road == Road::Browsed) {
            Button(d, IDC_BR_BROWSE_TARGET)->click();
        } else {
            Edit(d, IDC_BR_TARGET)->setText(Path(target));
        }
        Edit(d, IDC_BR_PASSWORD)->setText(backup ? "" : "right");
        Button(d, IDC_BR_ACTION)->click();
    });
    // Typed or browsed, the dialog asks when it is about to replace the
    // target, with No for Enter; the chooser leaves the question to it.
    const bool replaced = c.answer == Answer::Yes;
    std::vector<QString> texts{Replace(target)};
    if (replaced)
        texts.push_back(Text(kOperationComplete));
    if (replaced && !backup)
        texts.push_back(Text(kRestoreDoneText));
    EXPECT_EQ(prompter->Texts(), texts);
    EXPECT_EQ(Titles()[0], Text(kReplaceTitle));
    EXPECT_EQ(prompter->Prompts()[0].defaultButton, Answer::No);
    if (c.road == Road::Browsed) {
        ASSERT_EQ(files->Requests().size(), 1u);
        EXPECT_FALSE(files->Requests()[0].confirmOverwrite);
    }
    EXPECT_EQ(ended, replaced);
    EXPECT_EQ(Sha256(target) == before, !replaced);
    if (replaced && backup) {
        QByteArray info;
        ASSERT_EQ(RunProgram("zipinfo", {"-v", Path(target)}, &info), 0);
        EXPECT_TRUE(info.contains("file security status:                           not encrypted"));
    }
    if (replaced && !backup) {
        EXPECT_EQ(RunProgram("cmp", {Path(target), Fixture("journal.grv")}), 0);
    }
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ReplaceTest,
    ::testing::Values(ReplaceCase{"BackupTypedNo", CGRVDlgBkupRstr::kModeBackup, Road::Typed, Answer::No},
                      ReplaceCase{"BackupTypedYes", CGRVDlgBkupRstr::kModeBackup, Road::Typed, Answer::Yes},
                      ReplaceCase{"BackupBrowsedNo", CGRVDlgBkupRstr::kModeBackup, Road::Browsed, Answer::No},
                      ReplaceCase{"BackupBrowsedYes", CGRVDlgBkupRstr::kModeBackup, Road::Browsed, Answer::Yes},
                      ReplaceCase{"RestoreTypedNo", CGRVDlgBkupRstr::kModeRestore, Road::Typed, Answer::No},
                      ReplaceCase{"RestoreTypedYes", CGRVDlgBkupRstr::kModeRestore, Road::Typed, Answer::Yes},
                      ReplaceCase{"RestoreBrowsedNo", CGRVDlgBkupRstr::kModeRestore, Road::Browsed, Answer::No},
                      ReplaceCase{"RestoreBrowsedYes", CGRVDlgBkupRstr::kModeRestore, Road::Browsed, Answer::Yes}),
    [](const auto& info) { return std::string(info.param.name); });

// The chooser the user really meets: it starts in the journal's folder with
// an empty name box and filters by the pattern. It does not ask before
// replacing: the dialog does, when it is about to replace the file.
TEST_F(BackupRestoreTest, RealTargetChooserStartsInTheJournalsFolderAndLeavesTheQuestionToTheDialog) {
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    ASSERT_TRUE(QFile::copy(Fixture("zip-deflated.grz"), Path("week1.grz")));
    platform::ui::ScopedSeams real({nullptr, std::make_shared<platform::ui::QtFileChooser>(), nullptr, nullptr});
    prompter->Queue(Answer::No); // not the current journal
    prompter->Queue(Answer::No); // keep week1.grz
    QString folder, nameBox;
    QStringList filters;
    bool confirms = true;
    RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        QTimer::singleShot(0, [&] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(chooser, nullptr);
            folder = chooser->directory().absolutePath();
            nameBox = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            filters = chooser->nameFilters();
            confirms = !chooser->testOption(QFileDialog::DontConfirmOverwrite);
            chooser->selectFile(Path("week1.grz"));
            QMetaObject::invokeMethod(chooser, "accept");
        });
        Button(d, IDC_BR_BROWSE_TARGET)->click();
        EXPECT_EQ(Edit(d, IDC_BR_TARGET)->text(), Path("week1.grz"));
        Edit(d, IDC_BR_SOURCE)->setText(Path("pain.grv"));
        Button(d, IDC_BR_ACTION)->click();
        EXPECT_TRUE(d.isVisible());
    });
    EXPECT_EQ(folder, tmp.path());
    EXPECT_EQ(nameBox, "");
    EXPECT_EQ(filters, QStringList{"Gorvane DB (*.grz)"});
    EXPECT_FALSE(confirms);
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{Text(kBackupCurrentQuestion), Replace("week1.grz")}));
    EXPECT_EQ(Bytes(Path("week1.grz")), Bytes(Fixture("zip-deflated.grz")));
}

// The question before a restore replaces the open journal, as the user meets
// it in a real message box. Enter answered Yes and replaced the journal; one
// answer was remembered, so a later restore in the same dialog replaced it
// without asking; and the question did not say that the target is the
// journal open now. Every press that can restore asks, says so, and Enter
// keeps the journal; a wrong password is refused before any question.
TEST_F(BackupRestoreTest, EveryRestoreOntoTheOpenJournalAsksWithNoForEnter) {
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    const QByteArray before = Sha256("pain.grv");
    platform::ui::ScopedSeams real({std::make_shared<platform::ui::QtPrompter>(), nullptr, nullptr, nullptr});
    // How each box is answered, in order: a click on a button, or Enter.
    enum class Press { No, Ok, Enter };
    std::deque<Press> presses = {Press::Ok, Press::No, Press::Enter};
    QStringList seen;
    QList<bool> defaultIsNo;
    QTimer boxes;
    boxes.setInterval(0);
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || presses.empty())
            return;
        seen << box->text();
        defaultIsNo << (box->defaultButton() && box->defaultButton() == box->button(QMessageBox::No));
        const Press press = presses.front();
        presses.pop_front();
        if (press == Press::Enter)
            QTest::keyClick(box, Qt::Key_Return);
        else
            box->button(press == Press::No ? QMessageBox::No : QMessageBox::Ok)->click();
    });
    boxes.start();
    const bool ended = RunDialog(win, ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) {
        for (const char* password : {"wrong", "right", "right"})
            Run(d, Fixture("zip-deflated.grz"), Path("pain.grv"), password);
    });
    boxes.stop();
    EXPECT_FALSE(ended);
    EXPECT_EQ(seen, QStringList({Text(kWrongPassword), ReplaceOpen("pain.grv"), ReplaceOpen("pain.grv")}));
    EXPECT_EQ(defaultIsNo, QList<bool>({false, true, true}));
    EXPECT_TRUE(presses.empty());
    EXPECT_EQ(Sha256("pain.grv"), before);
    EXPECT_EQ(win.Db().IsOpen(), 1);
    EXPECT_TRUE(Leftovers().isEmpty());
}

struct StartCase {
    const char* name;
    bool journalOpen;
    bool documents;
};

class ChooserStartTest : public BackupRestoreTest, public ::testing::WithParamInterface<StartCase> {
protected:
    void TearDown() override {
        QDir(Documents()).removeRecursively();
        BackupRestoreTest::TearDown();
    }
    static QString Documents() { return QDir::homePath() + "/Documents"; }
};

// Never the process's working folder: the journal's, else Documents, else home.
TEST_P(ChooserStartTest, EveryChooserStartsInTheJournalsFolderElseDocumentsElseHome) {
    const StartCase c = GetParam();
    CGRVDlg win;
    if (c.journalOpen) {
        ASSERT_TRUE(QDir().mkpath(Path("journals")));
        ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("journals/pain.grv")));
        win.Db().SetFolder(Path("journals").toStdString());
        win.Db().SetFileName("pain.grv");
        ASSERT_EQ(win.Db().Open(0), 1);
    }
    if (c.documents) {
        ASSERT_TRUE(QDir().mkpath(Documents()));
    }
    auto browseBoth = [](CGRVDlgBkupRstr& d) {
        d.OnBrowseSource();
        d.OnBrowseTarget();
    };
    RunDialog(win, ID_DATABASE_BACKUP, browseBoth); // "backup the current journal?" No
    RunDialog(win, ID_DATABASE_RESTORE, browseBoth);
    win.OnCommand(ID_DATABASE_NEW);
    win.OnCommand(ID_DATABASE_OPEN);
    const QString expected = c.journalOpen ? Path("journals") : c.documents ? Documents() : QDir::homePath();
    ASSERT_EQ(files->Requests().size(), 6u);
    for (const auto& r : files->Requests())
        EXPECT_EQ(r.initialPath, expected) << r.filter.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Folders, ChooserStartTest,
                         ::testing::Values(StartCase{"Journal", true, true}, StartCase{"Documents", false, true},
                                           StartCase{"Home", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Archives with folder entries, a flipped directory bit, damage, a NUL in a
// name, names that would reach outside or name no file, entries that
// overlap, deflate data padded inside its size, end records that count
// fewer entries than there are, a central record repeated byte for byte
// and one whose extra field is said to be shorter than it is: a restore
// writes the journal or says why not, and never leaves a folder where the
// journal should be.
class FolderArchiveTest : public BackupRestoreTest, public ::testing::WithParamInterface<const char*> {
protected:
    // Our own backup of the fixture journal under the given name, unencrypted.
    QString OwnBackup(const QString& name, const char* entryName = "journal.grv") {
        const QString zip = Path(name);
        ZipHandle* h = CreateZipArchive(QFile::encodeName(zip).constData(), nullptr);
        EXPECT_EQ(AddFileToZipArchive(h, entryName, QFile::encodeName(Fixture("journal.grv")).constData()),
                  ZipResult::Ok);
        EXPECT_EQ(CloseZipWriter(h), ZipResult::Ok);
        return zip;
    }
    // Changes the archive's bytes in place.
    void Patch(const QString& zip, const std::function<void(QByteArray&)>& change) {
        QByteArray b = Bytes(zip);
        change(b);
        ASSERT_TRUE(WriteBytes(zip, b));
    }
    static constexpr qsizetype kEndRecordSize = 22;
    static qsizetype CentralHeader(const QByteArray& b) { return Le32(b, b.size() - kEndRecordSize + 16); }

    static bool Restores(const QString& kind) {
        return kind == "ZipR" || kind == "Flipped" || kind == "NulName" || kind == "TrickyNames" || kind == "Padded" ||
               kind == "CountOf0xFFFFOver65536" || kind == "CountBelowRecords" || kind == "RecordCopied" ||
               kind == "ExtraShortened";
    }
    static QString Outcome(const QString& kind) {
        if (Restores(kind))
            return Text(kOperationComplete);
        if (kind == "FoldersOnly")
            return Text(kRestoreEmpty);
        return Text(kind == "WrongPassword" ? kWrongPassword : kRestoreDamaged);
    }
    QString Make(const QString& kind) {
        if (kind == "WrongPassword")
            return Fixture("zip-deflated.grz");
        if (kind == "ZipR" || kind == "FoldersOnly") {
            const QString folder = Path("backups");
            EXPECT_TRUE(QDir().mkpath(folder));
            if (kind == "ZipR") {
                EXPECT_TRUE(QFile::copy(Fixture("journal.grv"), folder + "/journal.grv"));
            }
            EXPECT_EQ(RunProgram("zip", {"-q", "-r", Path("r.grz"), folder}), 0);
            return Path("r.grz");
        }
        if (kind == "TrickyNames") {
            // Names unzip and python clean or pass over, each on a note, and
            // the journal last.
            const char* script = "import sys, zipfile\n"
                                 "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                 "    for n in ['../x', 'x/..', 'a' + chr(0) + 'b', 'L' * 300, '..']:\n"
                                 "        i = zipfile.ZipInfo('n', (2026, 3, 1, 0, 0, 0))\n"
                                 "        i.filename = n\n"
                                 "        z.writestr(i, 'Dear diary, my knee hurts.')\n"
                                 "    z.write(sys.argv[2], 'journal.grv')\n";
            EXPECT_EQ(RunProgram("/usr/bin/python3", {"-c", script, Path("tricky.grz"), Fixture("journal.grv")}), 0);
            return Path("tricky.grz");
        }
        if (kind == "CountOf0xFFFFOver65536" || kind == "CountBelowRecords" || kind == "JournalRecordSpoiled" ||
            kind == "JournalRecordSwallowed" || kind == "UnsignedJournalRecordSwallowed" ||
            kind == "JournalRecordCopiedFirst" || kind == "JournalRecordSwallowedBeforeSlack") {
            // An older journal just before the journal, under an end record
            // that counts fewer entries than the directory holds; or the
            // journal's record spoiled, or swallowed by the comment of the
            // older one's, under a count that leaves it out, or its
            // signature lost there too under the count of all three; or
            // the journal's record repeated before the others, or swallowed
            // but for a few bytes left as if slack.
            const QString older = Path("older.grv");
            EXPECT_TRUE(QFile::copy(Fixture("journal.grv"), older));
            QFile::setPermissions(older, QFile::ReadOwner | QFile::WriteOwner);
            EXPECT_EQ(RunProgram("sqlite3", {older, "DELETE FROM entry WHERE id > 1"}), 0);
            const bool many = kind == "CountOf0xFFFFOver65536";
            QStringList args = {QStringLiteral(GRV_SOURCE_DIR "/tests/peers/count_zip.py"),
                                many ? "65536" : "3",
                                many ? "65535"
                                : kind == "UnsignedJournalRecordSwallowed" || kind == "JournalRecordCopiedFirst" ? "3"
                                                                                                                 : "2",
                                Path("counted.grz"),
                                older,
                                Fixture("journal.grv")};
            if (kind == "JournalRecordSpoiled")
                args << "--spoil" << "2";
            if (kind == "JournalRecordSwallowed" || kind == "UnsignedJournalRecordSwallowed")
                args << "--stretch" << "1";
            if (kind == "UnsignedJournalRecordSwallowed")
                args << "--spoil" << "2";
            if (kind == "JournalRecordCopiedFirst")
                args << "--copy" << "2:0";
            if (kind == "JournalRecordSwallowedBeforeSlack")
                args << "--stretch" << "1:30";
            // Folders cost the restore no extraction.
            if (many)
                args << "--folders";
            EXPECT_EQ(RunProgram("/usr/bin/python3", args), 0);
            return Path("counted.grz");
        }
        const QString zip = OwnBackup("own.grz", kind == "NulName" ? "journal.grv_" : "journal.grv");
        if (kind == "FullOverlap" || kind == "QuotedOverlap" || kind == "Padded") {
            // Read whole, each overlapped entry would inflate the journal once
            // more; bytes after the journal's deflate data overlap nothing.
            const QString mode = kind == "FullOverlap" ? "full" : kind == "QuotedOverlap" ? "quoted" : "padded";
            EXPECT_EQ(RunProgram("/usr/bin/python3",
                                 {QStringLiteral(GRV_SOURCE_DIR "/tests/peers/overlap_zip.py"), mode, zip, zip}),
                      0);
            return zip;
        }
        Patch(zip, [&](QByteArray& b) {
            const qsizetype central = CentralHeader(b);
            const qsizetype end = b.size() - kEndRecordSize;
            if (kind == "RecordCopied") {
                // The journal's record once more after it, the count still 1.
                b.insert(end, b.mid(central, end - central));
                platform::StoreLe32(b.data() + b.size() - kEndRecordSize + 12, 2 * (end - central));
                return;
            }
            if (kind == "ExtraShortened") {
                // Its extra field said to be empty: its bytes stay behind it.
                platform::StoreLe16(b.data() + central + 30, 0);
                return;
            }
            if (kind == "NulName") {
                b[30 + 11] = '\0';
                b[central + 46 + 11] = '\0';
                return;
            }
            b[central + 38] = static_cast<char>(b[central + 38] | kZipAttrDirectory);
            if (kind == "FlippedDamaged")
                b[30 + 11 + 17 + 100] = static_cast<char>(b[30 + 11 + 17 + 100] ^ 0x55);
        });
        return zip;
    }
};

TEST_P(FolderArchiveTest, RestoreWritesTheJournalOrSaysWhy) {
    const QString kind = QString::fromLatin1(GetParam());
    CGRVDlg win;
    const QString archive = Make(kind);
    const bool good = Restores(kind);
    EXPECT_EQ(Restore(win, archive, Path("restored.grv"), "wrong"), good);
    EXPECT_EQ(prompter->Texts().at(0), Outcome(kind));
    const QFileInfo restored(Path("restored.grv"));
    EXPECT_FALSE(restored.isDir()) << "a folder stands where the journal should be";
    EXPECT_EQ(restored.exists(), good);
    if (good) {
        EXPECT_EQ(RunProgram("cmp", {Path("restored.grv"), Fixture("journal.grv")}), 0);
    }
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Archives, FolderArchiveTest,
                         ::testing::Values("ZipR", "FoldersOnly", "Flipped", "FlippedDamaged", "NulName", "TrickyNames",
                                           "FullOverlap", "QuotedOverlap", "Padded", "WrongPassword",
                                           "CountOf0xFFFFOver65536", "CountBelowRecords", "JournalRecordSpoiled",
                                           "JournalRecordSwallowed", "UnsignedJournalRecordSwallowed", "RecordCopied",
                                           "ExtraShortened", "JournalRecordCopiedFirst",
                                           "JournalRecordSwallowedBeforeSlack"));

// The journal that is open stays open and untouched when the restore fails.
class FailingArchiveTest : public FolderArchiveTest {};

TEST_P(FailingArchiveTest, FailedRestoreOntoTheOpenJournalLeavesItOpenAndUntouched) {
    const QString kind = QString::fromLatin1(GetParam());
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    const QByteArray before = Sha256("pain.grv");
    // Refused before the question whether to replace the journal.
    EXPECT_FALSE(Restore(win, Make(kind), Path("pain.grv"), "wrong"));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Outcome(kind)});
    EXPECT_EQ(win.Db().IsOpen(), 1);
    EXPECT_EQ(win.windowTitle(), "Gorvane - pain.grv");
    EXPECT_EQ(Sha256("pain.grv"), before);
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Archives, FailingArchiveTest,
                         ::testing::Values("FoldersOnly", "FlippedDamaged", "FullOverlap", "QuotedOverlap",
                                           "WrongPassword", "JournalRecordSpoiled", "JournalRecordSwallowed",
                                           "UnsignedJournalRecordSwallowed"));

// Peers show the name as it was written, not as DOS code-page mojibake.
TEST_F(BackupRestoreTest, BackupOfNonAsciiJournalNameIsFlaggedUtf8) {
    const QString name = QString::fromUtf8("J\xc3\xbcrgen.grv");
    CGRVDlg win;
    OpenJournal(win, name);
    prompter->Queue(Answer::Yes);
    EXPECT_TRUE(
        RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) { Run(d, Path(name), Path("j.grz"), "pw"); }));
    QByteArray out;
    ASSERT_EQ(RunProgram("/usr/bin/python3",
                         {"-c",
                          "import sys, zipfile\n"
                          "i = zipfile.ZipFile(sys.argv[1]).infolist()[0]\n"
                          "print(i.flag_bits & 0x800, i.filename)",
                          Path("j.grz")},
                         &out),
              0);
    EXPECT_EQ(QString::fromUtf8(out), "2048 " + name + "\n");
    ASSERT_EQ(RunProgram("zipinfo", {"-1", Path("j.grz")}, &out), 0);
    EXPECT_EQ(QString::fromUtf8(out), name + "\n");
    ASSERT_EQ(RunProgram("unzip", {"-p", "-P", "pw", Path("j.grz"), name}, &out), 0);
    EXPECT_TRUE(out == Bytes(Path(name))) << "unzip finds the entry by its name";
    prompter->Clear();
    EXPECT_TRUE(Restore(win, Path("j.grz"), Path("back.grv"), "pw"));
    EXPECT_EQ(RunProgram("cmp", {Path("back.grv"), Path(name)}), 0);
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
                         ::testing::Values(TypedPath{"C:\\Backups\\week1.grz", "C:/Backups/", "week1.grz"},
                                           TypedPath{"/home/ann/week1.grz", "/home/ann/", "week1.grz"},
                                           TypedPath{"week1.grz", "", "week1.grz"},
                                           TypedPath{"/backups/", "/backups/", ""}, TypedPath{"", "", ""}));

struct BrowseCase {
    int mode;
    bool source;
    FileMode fileMode;
    const char* filter;
    const char* suffix;
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
    // No journal, no Documents folder: home, with an empty name box.
    EXPECT_EQ(r.initialPath, QDir::homePath());
    EXPECT_EQ(r.filter, c.filter);
    EXPECT_EQ(r.defaultSuffix, c.suffix);
    EXPECT_FALSE(r.confirmOverwrite) << "the dialog asks when it replaces a file";
    EXPECT_EQ(folder, "/data/backups/");
    EXPECT_EQ(fileName, "pain.grz");
    EXPECT_EQ(Edit(d, c.source ? IDC_BR_SOURCE : IDC_BR_TARGET)->text(), "/data/backups/pain.grz");
    EXPECT_TRUE(prompter->Texts().empty());

    browse(); // cancelled
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kNoFileSelected)});
    EXPECT_EQ(Titles()[0], Text(kNoFileSelectedTitle));
    EXPECT_EQ(folder, "/data/backups/");
    EXPECT_EQ(fileName, "pain.grz");
}

INSTANTIATE_TEST_SUITE_P(
    Choosers, BrowseTest,
    ::testing::Values(BrowseCase{CGRVDlgBkupRstr::kModeBackup, true, FileMode::Open, kDbFilter, "grv"},
                      BrowseCase{CGRVDlgBkupRstr::kModeBackup, false, FileMode::Save, kArchiveFilter, "grz"},
                      BrowseCase{CGRVDlgBkupRstr::kModeRestore, true, FileMode::Open, kArchiveFilter, "grz"},
                      BrowseCase{CGRVDlgBkupRstr::kModeRestore, false, FileMode::Save, kDbFilter, "grv"}));

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

// --- What the user is told, and what a restore puts in the journal's place --

// Restore mode showed the backup texts ("Select the file that you wish to
// backup", "Password for Encryption") and backup mode the restore target's.
TEST_F(BackupRestoreTest, EachModeShowsItsOwnTexts) {
    const struct {
        int command;
        QStringList texts; // details, source, target, security, password, action
    } cases[] = {
        {ID_DATABASE_BACKUP,
         {"Backup Database Details", "Select the file that you wish to backup.",
          "Browse for the folder where you want to save the backup file to.",
          "To make your backup more secure, use a password to encrypt it.  You must use the same password when you "
          "restore a previous backup, so don't forget it.",
          "Password for Encryption:", "Backup"}},
        {ID_DATABASE_RESTORE,
         {"Restore Database Details", "Select the backup file that you wish to restore.",
          "Browse for the folder where you want to restore the database file to.",
          "If the backup was made with a password, enter that same password to restore it.",
          "Password for Decryption:", "Restore"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        CGRVDlg win;
        QStringList shown;
        RunDialog(win, c.command, [&](CGRVDlgBkupRstr& d) {
            auto label = [&](const QString& name) {
                auto* l = d.findChild<QLabel*>(name);
                return l ? l->text() : QString("(no label %1)").arg(name);
            };
            auto* group = d.findChild<QGroupBox*>(QString::number(IDC_BR_DETAILS_GROUP));
            shown << (group ? group->title() : QString()) << label(QString::number(IDC_BR_SOURCE_TEXT))
                  << label(QString::number(IDC_BR_TARGET_TEXT)) << label(QString::number(IDC_BR_SECURITY_TEXT))
                  << label("passwordText") << Button(d, IDC_BR_ACTION)->text();
        });
        EXPECT_EQ(shown, c.texts);
    }
}

// An archive whose entry was a text file, an empty file, another program's
// database or a damaged journal replaced the open journal and was reported
// complete. Each is refused by the check Open makes, before anything is
// replaced: the journal stays open and byte for byte as it was.
TEST_F(BackupRestoreTest, BackupHoldingNoJournalIsRefusedAndTheJournalKept) {
    QByteArray damaged = Bytes(Fixture("journal.grv"));
    // The entry table's page (3): its cells point past the page's end.
    damaged.replace(2 * 4096 + 8, 8, QByteArray(8, '\xff'));
    ASSERT_TRUE(WriteBytes(Path("damaged.bin"), damaged));
    ASSERT_TRUE(WriteBytes(Path("text.bin"), QByteArray("Dear diary, my knee hurts.\n").repeated(40)));
    ASSERT_TRUE(WriteBytes(Path("empty.bin"), QByteArray()));
    ASSERT_EQ(RunProgram("sqlite3", {Path("other.bin"), "CREATE TABLE notes(x); INSERT INTO notes VALUES('hi');"}), 0);
    const char* script = "import sys, zipfile\n"
                         "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                         "    z.write(sys.argv[2], 'pain.grv')\n";
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    const QByteArray before = Bytes(Path("pain.grv"));
    for (const char* payload : {"text.bin", "empty.bin", "other.bin", "damaged.bin"}) {
        SCOPED_TRACE(payload);
        const QString archive = Path(QString(payload) + ".grz");
        ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", script, archive, Path(payload)}), 0);
        prompter->Clear();
        EXPECT_FALSE(Restore(win, archive, Path("pain.grv"), ""));
        EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kRestoreNoJournal)});
        EXPECT_EQ(Bytes(Path("pain.grv")), before);
        EXPECT_EQ(win.Db().IsOpen(), 1);
        EXPECT_TRUE(Leftovers().isEmpty());
        // Nor does a new file appear where none was.
        prompter->Clear();
        EXPECT_FALSE(Restore(win, archive, Path("fresh.grv"), ""));
        EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kRestoreNoJournal)});
        EXPECT_FALSE(QFile::exists(Path("fresh.grv")));
    }
    QByteArray verdict;
    EXPECT_EQ(
        RunProgram("sqlite3", {Path("pain.grv"), "PRAGMA integrity_check; SELECT count(*) FROM entry;"}, &verdict), 0);
    EXPECT_EQ(verdict, "ok\n3\n");
}

// A backup of 10,000 entries froze the window with no sign of life. The
// progress shows, and the application goes on handling its events (a timer
// fires) while the entries are extracted; the journal is restored whole.
// 2,000 entries keep the test short; the progress shows at once here.
TEST_F(BackupRestoreTest, LongRestoreShowsProgressAndKeepsThePaintingGoing) {
    const char* script = "import sys, zipfile\n"
                         "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                         "    for i in range(1999):\n"
                         "        z.writestr('notes/%d.txt' % i, 'n')\n"
                         "    z.write(sys.argv[2], 'pain.grv')\n";
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", script, Path("many.grz"), Fixture("journal.grv")}), 0);
    QByteArray listing;
    ASSERT_EQ(
        RunProgram("/usr/bin/python3",
                   {"-c", "import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))", Path("many.grz")},
                   &listing),
        0);
    ASSERT_EQ(listing.trimmed(), "2000");

    CGRVDlg win;
    bool restoring = false;
    int ticks = 0, largestShown = -1;
    QTimer tick;
    tick.setInterval(20);
    CGRVDlgBkupRstr* running = nullptr;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!restoring || !running)
            return;
        ++ticks;
        auto* progress = running->findChild<QProgressDialog*>();
        if (progress && progress->isVisible()) {
            EXPECT_EQ(progress->maximum(), 2000);
            largestShown = std::max(largestShown, progress->value());
        }
    });
    tick.start();
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) {
        running = &d;
        d.m_nProgressDelayMs = 0;
        restoring = true;
        Run(d, Path("many.grz"), Path("restored.grv"), "");
        restoring = false;
    }));
    EXPECT_GT(ticks, 0) << "no event was handled while restoring";
    EXPECT_GT(largestShown, 0) << "no progress was shown";
    EXPECT_EQ(RunProgram("cmp", {Path("restored.grv"), Fixture("journal.grv")}), 0);
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{Text(kOperationComplete), Text(kRestoreDoneText)}));
}

// A backup onto a full disk said only that there was a problem. It says the
// disk is full, and leaves nothing on it. The disk is a small tmpfs.
TEST_F(BackupRestoreTest, BackupOntoAFullDiskSaysTheDiskIsFull) {
    ASSERT_NO_FATAL_FAILURE(MakeLargeJournal("pain.grv"));
    QString disk;
    ASSERT_NO_FATAL_FAILURE(MountSmallDisk(&disk));
    CGRVDlg win;
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP,
                           [&](CGRVDlgBkupRstr& d) { Run(d, Path("pain.grv"), disk + "/week1.grz", ""); }));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kBackupDiskFull)});
    EXPECT_EQ(Titles()[0], Text(kBackupErrorTitle));
    EXPECT_TRUE(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    // The same backup where there is room is whole.
    prompter->Clear();
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_BACKUP,
                          [&](CGRVDlgBkupRstr& d) { Run(d, Path("pain.grv"), Path("week1.grz"), ""); }));
    EXPECT_EQ(RunProgram("unzip", {"-t", Path("week1.grz")}), 0);
}

// --- A journal in WAL mode ---------------------------------------------------

// Another program's connection that keeps the journal in WAL mode, with its
// latest entries still in the -wal file while it stays open.
class OtherProgram {
public:
    explicit OtherProgram(const QString& path) { sqlite3_open(QFile::encodeName(path).constData(), &db_); }
    ~OtherProgram() { sqlite3_close(db_); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

private:
    sqlite3* db_ = nullptr;
};

enum class BackupRoad { OpenJournal, ChosenByPath };

struct WalCase {
    const char* name;
    BackupRoad road;
};

class WalBackupTest : public BackupRestoreTest, public ::testing::WithParamInterface<WalCase> {};

// A journal another program switched to WAL mode backed up as the entries
// its main file held, without those still in the -wal, and said "Complete".
// The backup holds every committed entry, on both roads, as the sqlite3
// shell reads them.
TEST_P(WalBackupTest, BackupHoldsTheEntriesStillInTheWal) {
    const WalCase c = GetParam();
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    QFile::setPermissions(Path("pain.grv"), QFile::ReadOwner | QFile::WriteOwner);
    OtherProgram other(Path("pain.grv"));
    ASSERT_EQ(other.Exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"), SQLITE_OK);
    for (int i = 1; i <= 5; ++i) {
        const QByteArray insert = QStringLiteral("INSERT INTO entry(ts, sbj, entry, wpl, apl, lpl, cpl) VALUES "
                                                 "('2026-04-0%1 09:00:00', 'Late %1', 'still in the wal', 6, 5, 4, %1)")
                                      .arg(i)
                                      .toUtf8();
        ASSERT_EQ(other.Exec(insert.constData()), SQLITE_OK);
    }
    const QString query =
        QStringLiteral("PRAGMA integrity_check; SELECT count(*), group_concat(sbj || ':' || cpl, ',') FROM entry;");
    QByteArray live, mainFileAlone;
    ASSERT_EQ(RunProgram("sqlite3", {Path("pain.grv"), query}, &live), 0);
    ASSERT_TRUE(QFile::copy(Path("pain.grv"), Path("main-file-alone.grv")));
    ASSERT_EQ(RunProgram("sqlite3", {Path("main-file-alone.grv"), query}, &mainFileAlone), 0);
    ASSERT_TRUE(live.startsWith("ok\n8|")) << live.toStdString();
    ASSERT_TRUE(mainFileAlone.startsWith("ok\n3|")) << "the new entries are only in the -wal";

    CGRVDlg win;
    if (c.road == BackupRoad::OpenJournal) {
        win.Db().SetFolder(tmp.path().toStdString());
        win.Db().SetFileName("pain.grv");
        ASSERT_EQ(win.Db().Open(0), 1);
        prompter->Queue(Answer::Yes); // back up the journal that is open
    }
    EXPECT_TRUE(RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) {
        Run(d, c.road == BackupRoad::OpenJournal ? Edit(d, IDC_BR_SOURCE)->text() : Path("pain.grv"), Path("week1.grz"),
            "");
    }));
    EXPECT_EQ(prompter->Texts().back(), Text(kOperationComplete));
    EXPECT_GT(QFileInfo(Path("pain.grv-wal")).size(), 0) << "the other program's -wal is left as it was";

    QByteArray extracted, restored;
    ASSERT_EQ(RunProgram("unzip", {"-p", Path("week1.grz"), "pain.grv"}, &extracted), 0);
    ASSERT_TRUE(WriteBytes(Path("unzipped.grv"), extracted));
    ASSERT_EQ(RunProgram("sqlite3", {Path("unzipped.grv"), query}, &restored), 0);
    EXPECT_EQ(restored, live);
}

INSTANTIATE_TEST_SUITE_P(Roads, WalBackupTest,
                         ::testing::Values(WalCase{"OpenJournal", BackupRoad::OpenJournal},
                                           WalCase{"ChosenByPath", BackupRoad::ChosenByPath}),
                         [](const auto& info) { return std::string(info.param.name); });

// What SQLite cannot read whole is not backed up: a journal another program
// holds locked, a file that is no database, a truncated journal. The user is
// told the true reason (it once said "another program may be using it" for
// each) before being asked to replace the older backup, which stays as it
// was.
TEST_F(BackupRestoreTest, JournalThatCannotBeReadWholeIsNotBackedUp) {
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("locked.grv")));
    QFile::setPermissions(Path("locked.grv"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(WriteBytes(Path("notes.grv"), QByteArray("Dear diary, my knee hurts.\n").repeated(200)));
    const QByteArray journal = Bytes(Fixture("journal.grv"));
    ASSERT_TRUE(WriteBytes(Path("truncated.grv"), journal.left(journal.size() / 2)));
    OtherProgram other(Path("locked.grv"));
    ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE; INSERT INTO entry(ts, sbj) VALUES ('2026-04-01 09:00:00', 'Half');"),
              SQLITE_OK);
    ASSERT_TRUE(WriteBytes(Path("week1.grz"), "last week's backup"));
    CGRVDlg win;
    const std::pair<const char*, const char*> cases[] = {{"locked.grv", kBackupJournalBusy},
                                                         {"notes.grv", kBackupJournalDamaged},
                                                         {"truncated.grv", kBackupJournalDamaged}};
    for (const auto& [source, message] : cases) {
        SCOPED_TRACE(source);
        prompter->Clear();
        EXPECT_FALSE(RunDialog(win, ID_DATABASE_BACKUP,
                               [&](CGRVDlgBkupRstr& d) { Run(d, Path(source), Path("week1.grz"), ""); }));
        EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(message)});
        EXPECT_EQ(Titles()[0], Text(kBackupErrorTitle));
        EXPECT_EQ(Bytes(Path("week1.grz")), "last week's backup");
        EXPECT_TRUE(Leftovers().isEmpty());
    }
    ASSERT_EQ(other.Exec("ROLLBACK"), SQLITE_OK);
}

// --- Restores that cannot go ahead ---------------------------------------------

struct RefusedCase {
    const char* name;
    const char* message;
};

class RefusedRestoreTest : public BackupRestoreTest, public ::testing::WithParamInterface<RefusedCase> {
protected:
    // An archive of the kind named, made by the peers.
    QString Make(const QString& kind) {
        const QString zip = Path(kind + ".grz");
        if (kind == "WrongPassword")
            return Fixture("zip-deflated.grz");
        if (kind == "Aes") {
            EXPECT_EQ(RunProgram("7z", {"a", "-tzip", "-mem=AES256", "-pright", zip, Fixture("journal.grv")}), 0);
            return zip;
        }
        const char* script = "import sys, zipfile\n"
                             "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                             "    z.writestr(sys.argv[2], open(sys.argv[3], 'rb').read())\n";
        const bool overlapped = kind == "Overlapped";
        if (!overlapped) {
            EXPECT_TRUE(WriteBytes(Path("notes.txt"), QByteArray("Dear diary, my knee hurts.\n").repeated(40)));
        }
        EXPECT_EQ(RunProgram("/usr/bin/python3",
                             {"-c", script, zip, "pain.grv", overlapped ? Fixture("journal.grv") : Path("notes.txt")}),
                  0);
        if (overlapped) {
            EXPECT_EQ(RunProgram("/usr/bin/python3",
                                 {QStringLiteral(GRV_SOURCE_DIR "/tests/peers/overlap_zip.py"), "quoted", zip, zip}),
                      0);
        }
        return zip;
    }
};

// A wrong password, an AES archive and an archive holding no journal had the
// user confirm the loss of the open journal's newer entries before being
// refused, and the wrong password's message was covered by a progress
// window. Each is refused first, as a backup whose entries overlap is, in a
// real message box: nothing is asked, no progress shows, and the journal
// stays open and byte for byte as it was.
TEST_P(RefusedRestoreTest, RefusedBeforeTheReplaceQuestionWithNoProgressWindow) {
    const RefusedCase c = GetParam();
    CGRVDlg win;
    OpenJournal(win, QStringLiteral("pain.grv"));
    const QByteArray before = Sha256("pain.grv");
    const QString archive = Make(QString::fromLatin1(c.name));
    platform::ui::ScopedSeams real({std::make_shared<platform::ui::QtPrompter>(), nullptr, nullptr, nullptr});
    QStringList seen;
    bool progressOverBox = false;
    QElapsedTimer boxUp;
    QTimer boxes;
    boxes.setInterval(10);
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QProgressDialog*>(w) && w->isVisible() && boxUp.isValid())
                progressOverBox = true;
        }
        if (!box || !box->isVisible())
            return;
        if (!boxUp.isValid()) {
            seen << box->text();
            boxUp.start();
        }
        // Long enough for a progress window still waiting to show.
        if (boxUp.elapsed() > kProgressWait) {
            boxUp.invalidate();
            box->button(box->buttons().contains(box->button(QMessageBox::Ok)) ? QMessageBox::Ok : QMessageBox::No)
                ->click();
        }
    });
    boxes.start();
    EXPECT_FALSE(RunDialog(win, ID_DATABASE_RESTORE, [&](CGRVDlgBkupRstr& d) {
        d.m_nProgressDelayMs = kProgressDelay;
        Run(d, archive, Path("pain.grv"), c.message == kWrongPassword ? "wrong" : "right");
    }));
    boxes.stop();
    EXPECT_EQ(seen, QStringList{Text(c.message)});
    EXPECT_FALSE(progressOverBox) << "a progress window covered the message";
    EXPECT_EQ(Sha256("pain.grv"), before);
    EXPECT_EQ(win.Db().IsOpen(), 1);
    EXPECT_TRUE(Leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Archives, RefusedRestoreTest,
                         ::testing::Values(RefusedCase{"WrongPassword", kWrongPassword},
                                           RefusedCase{"Aes", kRestoreUnreadableEncryption},
                                           RefusedCase{"NoJournal", kRestoreNoJournal},
                                           RefusedCase{"Overlapped", kRestoreDamaged}),
                         [](const auto& info) { return std::string(info.param.name); });

// A restore onto a full disk said the database could not be written where
// the user chose. It says the disk is full, and leaves nothing on it.
TEST_F(BackupRestoreTest, RestoreOntoAFullDiskSaysTheDiskIsFull) {
    ASSERT_NO_FATAL_FAILURE(MakeLargeJournal("pain.grv"));
    ASSERT_EQ(RunProgram("zip", {"-q", "-j", Path("big.grz"), Path("pain.grv")}), 0);
    QString disk;
    ASSERT_NO_FATAL_FAILURE(MountSmallDisk(&disk));
    CGRVDlg win;
    EXPECT_FALSE(Restore(win, Path("big.grz"), disk + "/pain.grv", ""));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>{Text(kRestoreDiskFull)});
    EXPECT_EQ(Titles()[0], Text(kBackupErrorTitle));
    EXPECT_TRUE(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    // The same restore where there is room is whole.
    prompter->Clear();
    EXPECT_TRUE(Restore(win, Path("big.grz"), Path("restored.grv"), ""));
    EXPECT_EQ(RunProgram("cmp", {Path("restored.grv"), Path("pain.grv")}), 0);
}

// --- What stands beside the journal a restore replaces ---------------------

// Every file in the test folder and what it holds (a folder by its name).
std::map<QString, QByteArray> FolderContents(const QString& folder) {
    std::map<QString, QByteArray> contents;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        contents[f.fileName()] = f.isDir() ? QByteArray("folder") : Bytes(f.filePath());
    return contents;
}

// Left by another program (the peers python3 and sqlite3) beside the journal
// pain.grv: a hot -journal of a save it never finished, a -wal holding
// committed entries, a -shm alone, or nothing; a folder where a side file
// goes; a program that keeps the journal open in WAL mode, or in rollback
// mode (as a second window does: it holds no lock between transactions),
// from before the restore or from while the user is asked about replacing.
struct SideFileCase {
    const char* name;
    const char* script; // python3, the journal's path in sys.argv[1]
    const char* held;   // what the sqlite3 shell that keeps the journal open meanwhile ran first
    const char* refusal;
    bool whileAsked = false;
};

// Answers as the scripted prompter does, once act has run at the first
// question: what another program does while the user reads it.
class ActingPrompter : public platform::ui::Prompter {
public:
    ActingPrompter(std::shared_ptr<platform::ui::Prompter> answers, std::function<void()> act)
        : m_answers(std::move(answers)), m_act(std::move(act)) {}
    Answer Ask(QWidget* parent, const platform::ui::Prompt& prompt) override {
        if (prompt.buttons == platform::ui::Buttons::YesNo && m_act)
            std::exchange(m_act, nullptr)();
        return m_answers->Ask(parent, prompt);
    }

private:
    std::shared_ptr<platform::ui::Prompter> m_answers;
    std::function<void()> m_act;
};

void PrintTo(const SideFileCase& c, std::ostream* os) {
    *os << c.name;
}

class RestoreSideFilesTest : public BackupRestoreTest, public ::testing::WithParamInterface<SideFileCase> {};

// A restore renamed the backup over the journal and left its side files: a
// hot -journal was rolled into the restored journal at its next opening (a
// malformed image, or rows of the replaced journal), a -wal's entries were
// merged into it. A journal another program opened while the user was
// asked was replaced under it: what that program wrote next went to a file
// no name leads to. What opens afterwards is the backup, as the sqlite3
// shell reads it, or the restore is refused, every file stays byte for
// byte and what the holder writes next is in the journal.
// Parts a stopped restore left are removed by the next one.
TEST_P(RestoreSideFilesTest, WhatOpensAfterwardsIsTheBackupOrNothingIsTouched) {
    const SideFileCase c = GetParam();
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
    QFile::setPermissions(Path("pain.grv"), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_EQ(
        RunProgram("sqlite3", {Path("pain.grv"), "INSERT INTO entry(ts, sbj, entry) SELECT '2026-03-03 08:00:00', "
                                                 "'Newer', hex(randomblob(2000)) FROM generate_series(1, 300);"}),
        0);
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", c.script, Path("pain.grv")}), 0);
    const std::string stopped = grvtest::LeaveKilledPart(Path("pain.grv").toStdString(), std::string(100000, 'j'));
    ASSERT_FALSE(stopped.empty());
    ASSERT_TRUE(WriteBytes(Path("pain.grv.part-Copy01 of my journal.grv"), "the user's own"));
    QProcess other;
    auto hold = [&] {
        other.start("sqlite3", {Path("pain.grv")});
        ASSERT_TRUE(other.waitForStarted());
        other.write(QByteArray(c.held) + "; SELECT count(*) FROM entry; SELECT 'held';\n");
        while (!other.readAllStandardOutput().contains("held"))
            ASSERT_TRUE(other.waitForReadyRead(5000));
    };
    if (c.held && !c.whileAsked)
        hold();
    const platform::ui::ScopedSeams asking(
        {c.whileAsked ? std::make_shared<ActingPrompter>(prompter, hold) : nullptr, nullptr, nullptr, nullptr});
    const auto before = FolderContents(tmp.path());
    const QString query =
        QStringLiteral("PRAGMA integrity_check; SELECT count(*), group_concat(sbj || ':' || cpl, ',') FROM entry;");
    QByteArray backup, restored;
    ASSERT_EQ(RunProgram("unzip", {"-P", "right", "-p", Fixture("zip-deflated.grz"), "journal.grv"}, &backup), 0);
    grvtest::QtTempDir judge;
    ASSERT_TRUE(WriteBytes(judge.filePath("held.grv"), backup));
    ASSERT_EQ(RunProgram("sqlite3", {judge.filePath("held.grv"), query}, &backup), 0);

    CGRVDlg win;
    prompter->Queue(Answer::Yes);
    const bool restoredIt = Restore(win, Fixture("zip-deflated.grz"), Path("pain.grv"), "right");
    auto after = FolderContents(tmp.path());
    // What the held shell writes afterwards reaches the journal at the name.
    if (c.held)
        other.write("INSERT INTO entry(ts, sbj, cpl) VALUES ('2026-05-01 09:00:00', 'Held', 1);\n");
    other.closeWriteChannel();
    other.waitForFinished();
    if (c.refusal) {
        EXPECT_FALSE(restoredIt);
        std::vector<QString> told{Text(c.refusal)};
        if (c.whileAsked)
            told.insert(told.begin(), Replace("pain.grv"));
        EXPECT_EQ(prompter->Texts(), told);
        auto was = before;
        // The held shell's own -shm may change under it; one that came while
        // the user was asked made its -wal and -shm, and the answer let the
        // stopped restore's parts go. Nothing else may change.
        const std::string part = stopped.substr(stopped.rfind('/') + 1);
        for (const char* own : {"pain.grv-shm", "pain.grv-wal", part.c_str()}) {
            if (c.held && (c.whileAsked || std::strcmp(own, "pain.grv-shm") == 0)) {
                after.erase(QString::fromLatin1(own));
                was.erase(QString::fromLatin1(own));
            }
        }
        EXPECT_TRUE(after == was);
        if (!c.held)
            return;
        QByteArray held;
        EXPECT_EQ(RunProgram("sqlite3",
                             {Path("pain.grv"), "PRAGMA integrity_check; SELECT count(*) FROM entry WHERE "
                                                "sbj = 'Held';"},
                             &held),
                  0);
        EXPECT_EQ(held, "ok\n1\n");
        return;
    }
    EXPECT_TRUE(restoredIt);
    ASSERT_EQ(RunProgram("sqlite3", {Path("pain.grv"), query}, &restored), 0);
    EXPECT_EQ(restored, backup);
    EXPECT_TRUE(backup.startsWith("ok\n3|")) << backup.toStdString();
    for (const char* side : {"pain.grv-journal", "pain.grv-wal", "pain.grv-shm"})
        EXPECT_FALSE(QFileInfo::exists(Path(side))) << side;
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
    EXPECT_EQ(Bytes(Path("pain.grv.part-Copy01 of my journal.grv")), "the user's own");
}

constexpr char kCrashedSave[] = "import os, sqlite3, sys\n"
                                "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                "c.execute('PRAGMA cache_size=2')\n"
                                "c.execute('BEGIN')\n"
                                "c.execute(\"UPDATE entry SET entry = hex(randomblob(1900)), sbj = 'Half saved'\")\n"
                                "assert os.path.getsize(sys.argv[1] + '-journal') > 0\n"
                                "os._exit(0)\n";
constexpr char kWalFrames[] =
    "import os, sqlite3, sys\n"
    "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
    "c.execute('PRAGMA journal_mode=WAL')\n"
    "c.execute('PRAGMA wal_autocheckpoint=0')\n"
    "for i in range(5):\n"
    "    c.execute(\"INSERT INTO entry(ts, sbj, cpl) VALUES ('2026-04-01 09:00:00', 'Stale', 9)\")\n"
    "assert os.path.getsize(sys.argv[1] + '-wal') > 0\n"
    "os._exit(0)\n";
constexpr char kWalMode[] = "import sqlite3, sys\n"
                            "sqlite3.connect(sys.argv[1]).execute('PRAGMA journal_mode=WAL').fetchall()\n";
constexpr char kShmAlone[] = "import sys\nopen(sys.argv[1] + '-shm', 'wb').write(bytes(32768))\n";
constexpr char kNothing[] = "pass\n";
constexpr char kFolder[] = "import os, sys\nos.mkdir(sys.argv[1] + '-journal')\n";

INSTANTIATE_TEST_SUITE_P(
    SideFiles, RestoreSideFilesTest,
    ::testing::Values(
        SideFileCase{"HotJournal", kCrashedSave, nullptr, nullptr},
        SideFileCase{"WalWithFrames", kWalFrames, nullptr, nullptr},
        SideFileCase{"ShmAlone", kShmAlone, nullptr, nullptr}, SideFileCase{"None", kNothing, nullptr, nullptr},
        SideFileCase{"FolderForTheJournalFile", kFolder, nullptr, kRestoreTargetBlocked},
        SideFileCase{"OpenInAnotherProgram", kNothing, "PRAGMA journal_mode=WAL", kRestoreTargetInUse},
        SideFileCase{"OpenInAnotherWindow", kNothing, "PRAGMA journal_mode", kRestoreTargetInUse},
        SideFileCase{"OpenedInAnotherProgramWhileAsked", kWalMode, "PRAGMA journal_mode", kRestoreTargetInUse, true},
        SideFileCase{"OpenedInAnotherWindowWhileAsked", kNothing, "PRAGMA journal_mode", kRestoreTargetInUse, true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Who may read what a backup, a restore and an export write -------------

// A journal made private (chmod 600) came back 0644 from a restore, its
// backup was 0644 too, readable by every account; an export kept the mode
// of the file it replaced. Under umask 022 each writer keeps the mode of
// what it replaces and is no more readable than its source, as stat reads.
TEST_F(BackupRestoreTest, WritersKeepAPrivateFilePrivate) {
    const mode_t saved = ::umask(022);
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("private.grv")));
    ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("shared.grv")));
    ASSERT_TRUE(QFile::copy(Fixture("zip-deflated.grz"), Path("private.grz")));
    ASSERT_TRUE(WriteBytes(Path("old.grz"), "last week's backup"));
    ASSERT_TRUE(WriteBytes(Path("old.csv"), "last week's report"));
    const std::pair<const char*, int> modes[] = {
        {"private.grv", 0600}, {"shared.grv", 0644}, {"private.grz", 0600}, {"old.grz", 0644}, {"old.csv", 0600}};
    for (const auto& [name, mode] : modes)
        ASSERT_EQ(::chmod(QFile::encodeName(Path(name)).constData(), static_cast<mode_t>(mode)), 0);
    auto backup = [&](const char* journal, const char* archive) {
        CGRVDlg win;
        prompter->Queue(Answer::Yes);
        return RunDialog(win, ID_DATABASE_BACKUP,
                         [&](CGRVDlgBkupRstr& d) { Run(d, Path(journal), Path(archive), ""); });
    };
    auto restore = [&](const char* archive, const char* journal) {
        CGRVDlg win;
        prompter->Queue(Answer::Yes);
        return Restore(win, Path(archive), Path(journal), "right");
    };
    const struct {
        const char* name;
        std::function<bool()> write;
        const char* written;
        const char* mode;
    } cases[] = {
        {"backup of a private journal", [&] { return backup("private.grv", "new.grz"); }, "new.grz", "600\n"},
        {"backup over a shared archive", [&] { return backup("private.grv", "old.grz"); }, "old.grz", "600\n"},
        {"backup of a shared journal", [&] { return backup("shared.grv", "shared.grz"); }, "shared.grz", "644\n"},
        {"restore over a private journal", [&] { return restore("shared.grz", "private.grv"); }, "private.grv",
         "600\n"},
        {"restore of a private backup", [&] { return restore("private.grz", "new.grv"); }, "new.grv", "600\n"},
        {"export over a private report",
         [&] { return reports::WriteReportFile(QFile::encodeName(Path("old.csv")).toStdString(), "a,b\r\n") == 0; },
         "old.csv", "600\n"},
        {"export of a new report",
         [&] { return reports::WriteReportFile(QFile::encodeName(Path("new.csv")).toStdString(), "a,b\r\n") == 0; },
         "new.csv", "644\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.write());
        QByteArray mode;
        EXPECT_EQ(RunProgram("stat", {"-c", "%a", Path(c.written)}, &mode), 0);
        EXPECT_EQ(mode, c.mode);
        EXPECT_TRUE(Leftovers().isEmpty());
    }
    ::umask(saved);
}

} // namespace

// --- Every writer of a file the user names, over every kind of target -------

// Where root made the team folder's files a writer run as nobody writes.
constexpr char kTeamFolderVariable[] = "GRV_TEAM_FOLDER";

// The application's writers, each on the road the user's command takes,
// from the private journal pain.grv (and its backup pain.grz) the fixture
// WriterTable makes.
class WriterTableTest : public BackupRestoreTest {
protected:
    void MakeSources() {
        // More than a FIFO whose reader leaves holds (a page), less than one
        // whose reader waits does (64 KiB).
        ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("pain.grv")));
        QFile::setPermissions(Path("pain.grv"), QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_EQ(RunProgram("sqlite3", {Path("pain.grv"), "INSERT INTO entry(ts, sbj, entry) SELECT '2026-03-03 "
                                                           "08:00:00', 'Noise', hex(randomblob(2000)) FROM "
                                                           "generate_series(1, 5);"}),
                  0);
        ASSERT_TRUE(QFile::copy(Fixture("zip-deflated.grz"), Path("pain.grz")));
        QFile::setPermissions(Path("pain.grz"), QFile::ReadOwner | QFile::WriteOwner);
    }
    // True when the writer said it succeeded. A SIGPIPE ends the test
    // executable: the writers must not rely on its being ignored.
    bool Write(const std::string& writer, const QString& path) {
        CGRVDlg win;
        prompter->Clear();
        prompter->Queue(Answer::Yes);
        CJournalDb db;
        db.SetFolder(tmp.path().toStdString());
        db.SetFileName("pain.grv");
        EXPECT_EQ(db.Open(0), 1);
        CEntry entry;
        EXPECT_TRUE(db.LoadEntry("1", entry));
        QPrinter printer(QPrinter::HighResolution);
        printtest::SetUpPdfPrinter(printer, path, QPageSize::A4);
        struct DefaultSigpipe {
            void (*old)(int) = std::signal(SIGPIPE, SIG_DFL);
            ~DefaultSigpipe() { std::signal(SIGPIPE, old); }
        } sigpipe;
        if (writer == "backup")
            return RunDialog(win, ID_DATABASE_BACKUP, [&](CGRVDlgBkupRstr& d) { Run(d, Path(backedUp), path, ""); });
        if (writer == "restore")
            return Restore(win, Path("pain.grz"), path, "right");
        if (writer == "export")
            return reports::WriteReportFile(QFile::encodeName(path).toStdString(), Csv(),
                                            reports::ReadersOfJournal(&db), reports::JournalOf(&db)) == 0;
        EXPECT_EQ(writer, "print");
        return CEntryPrintout(&db, entry, "1 March 2026", "08:00").Print(printer) == 1;
    }
    // Whether bytes are the writer's whole output, as its peer reads them.
    bool IsWholeOutput(const std::string& writer, const std::string& bytes) {
        const QString judged = judge.filePath(QString::fromStdString(writer));
        EXPECT_TRUE(WriteBytes(judged, QByteArray::fromStdString(bytes)));
        if (writer == "backup")
            return RunProgram("unzip", {"-t", judged}) == 0;
        if (writer == "restore")
            return QByteArray::fromStdString(bytes) == Bytes(Fixture("journal.grv"));
        if (writer == "export")
            return bytes == Csv();
        return printtest::PdfInfo(judged, "Pages") == "1";
    }
    static std::string Csv() { return std::string(20000, 'r') + "\r\n"; }
    // The rows whose target is of the kind named, or those of no kind named.
    void RunTable(const char* only);
    // The rows of its own kinds (IsOwnersRow) whose target names only.
    void RunOwnersRows(const char* only);
    grvtest::QtTempDir judge;
    // The journal a backup is made of.
    QString backedUp = "pain.grv";
};

std::string ModeAt(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return "-";
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string acl = grvtest::AccessAcl(path);
    // The owner and group, where they are not the writer's.
    const std::string owner = st.st_uid == ::geteuid() && st.st_gid == ::getegid()
                                  ? std::string()
                                  : " owner " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
    return (acl.empty() ? octal : octal + (" acl " + acl)) + owner;
}

// Where nobody reads the shell fixtures in a rerun: root copies them there.
void CopyFixturesFor(const grvtest::TempDir& data) {
    ASSERT_EQ(::chmod(data.Path().c_str(), 0755), 0);
    for (const QFileInfo& fixture : QDir(ShellData()).entryInfoList(QDir::Files)) {
        const QString copy = QString::fromStdString(data.File(fixture.fileName().toStdString()));
        ASSERT_TRUE(QFile::copy(fixture.filePath(), copy)) << fixture.filePath().toStdString();
        ASSERT_TRUE(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }
}

// A target that is nothing yet, until another account takes its name:
// just after the writer's open, or just before its rename.
constexpr char kTaken[] = "a name ";
constexpr char kTakenBeforeRename[] = "before the rename";
constexpr char kNotSticky[] = "not sticky";
// A side file SQLite keeps beside the journal: its name is the journal's
// and what follows this.
constexpr char kSideFile[] = "the journal's ";
// The same of another journal beside it (other.grv), in WAL mode with
// entries in its -wal.
constexpr char kOtherSideFile[] = "another journal's ";
// The same beside a file that is no database (notes.txt), and beside an
// empty one, which SQLite takes for a new database.
constexpr char kTextSideFile[] = "a text file's ";
constexpr char kEmptySideFile[] = "an empty file's ";
// The writer's own file, setuid and setgid, its group allowed to run it.
constexpr char kSetIds[] = "setuid";
constexpr mode_t kSetIdsMode = 06755;

// Or the folder it is written in moved away by another account just before
// the rename, and its own put in its place, holding a file of the part's
// name (what the writer's part is called is found in the folder); or, for a
// backup of a journal in WAL mode, as soon as the copy SQLite writes of it
// is made there. What it planted keeps its bytes.
constexpr char kSwapped[] = "swapping its folder";
constexpr char kAsItIsCopied[] = "as a journal in WAL mode is copied";
std::string g_swappedName;
const char* g_swapStep = "part-synced";
std::vector<std::string> g_swapPlants;
// Whether the folder put in its place holds files of the parts' names.
bool g_plantsParts = true;
std::string PlantedBytes() {
    return std::strcmp(g_swapStep, "part-opened") == 0 ? std::string() : grvtest::kTakersBytes;
}

void SwapFolder(const char* step) {
    const QFileInfo named(QString::fromStdString(g_swappedName));
    const QString folder = named.absolutePath();
    QStringList parts =
        QDir(folder).entryList({"." + named.fileName() + ".part-*"}, QDir::Files | QDir::Hidden | QDir::System);
    parts.removeAll("." + named.fileName() + ".part-Kil1ed");
    if (std::strcmp(step, g_swapStep) != 0 || g_swappedName.empty() || parts.isEmpty())
        return;
    g_swappedName.clear();
    const std::string theirs = folder.toStdString();
    EXPECT_EQ(::rename(theirs.c_str(), (theirs + ".old").c_str()), 0);
    EXPECT_EQ(::mkdir(theirs.c_str(), 0755), 0);
    // A backup's copy of the journal has a part of that name too.
    for (const QString& part : g_plantsParts ? parts : QStringList()) {
        const std::string planted = theirs + "/" + part.toStdString();
        g_swapPlants.push_back(planted);
        // Empty where SQLite would take it for a database to write.
        EXPECT_TRUE(grvtest::WriteFile(planted, PlantedBytes()));
        EXPECT_EQ(::chown(planted.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
    }
    EXPECT_EQ(::chown(theirs.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
}

// Or, while it writes, a file of the writer's own moved onto the name just
// before the rename ("public<n>" beside it, 0644), or its folder swapped
// then as above (nothing planted), in a folder anyone may write that is not
// sticky or one a group may write (nobody's, for root); and a -journal
// planted beside the restore's part as soon as the part is made.
constexpr char kWhileItWrites[] = "while it writes";
constexpr char kGroupFolder[] = "a group's folder";
constexpr char kOwnMoved[] = "moved onto the name";
constexpr char kUnderUmask077[] = "umask 077";
constexpr char kPlantsBesidePart[] = "plants beside the part";
constexpr char kPublicBytes[] = "the user's public bytes";
constexpr mode_t kPublicMode = 0644;
constexpr mode_t kPrivateUmask = 077;
// Root's planted -journals a run as nobody takes (its own cannot be root's).
constexpr char kPlantsVariable[] = "GRV_PLANTS";
std::string g_movedName;

void MoveOwnFile(const char* step) {
    if (std::strcmp(step, "part-synced") != 0 || g_movedName.empty())
        return;
    const std::string named = std::exchange(g_movedName, std::string());
    const std::string folder = named.substr(0, named.rfind('/'));
    EXPECT_EQ(::rename((folder + "/public" + named.substr(folder.size() + 1)).c_str(), named.c_str()), 0);
}

// A hot rollback journal of the fixture journal cut to one entry: played
// back into a copy of the journal, it leaves that one entry (the sqlite3
// shell's count).
constexpr char kMakeHotJournal[] =
    "import os, shutil, sqlite3, sys\n"
    "x = sys.argv[3]\n"
    "shutil.copy(sys.argv[1], x)\n"
    "c = sqlite3.connect(x, isolation_level=None)\n"
    "c.execute('DELETE FROM entry WHERE id <> (SELECT min(id) FROM entry)')\n"
    "c.execute('VACUUM')\n"
    "c.execute('PRAGMA synchronous=OFF')\n"
    "c.execute('PRAGMA cache_size=1')\n"
    "c.execute('BEGIN')\n"
    "for (t,) in c.execute(\"SELECT name FROM sqlite_master WHERE type='table'\").fetchall():\n"
    "    c.execute('DELETE FROM \"%s\"' % t)\n"
    "c.execute('CREATE TABLE planted(a)')\n"
    "shutil.copy(x + '-journal', sys.argv[2])\n"
    "os._exit(0)\n";
// The -journal to plant beside the part of the name g_plant, the file it is
// copied from and its mode; taken from root's stock by nobody.
std::string g_plant;
std::string g_plantSource;
mode_t g_plantMode = 0;
int g_plantsUsed = 0;

void PlantBesidePart(const char* step) {
    if (std::strcmp(step, "part-opened") != 0 || g_plant.empty())
        return;
    const QFileInfo named(QString::fromStdString(std::exchange(g_plant, std::string())));
    QStringList parts =
        QDir(named.absolutePath()).entryList({"." + named.fileName() + ".part-*"}, QDir::Files | QDir::Hidden);
    parts.removeAll("." + named.fileName() + ".part-Kil1ed");
    ASSERT_EQ(parts.size(), 1);
    const std::string side = named.absolutePath().toStdString() + "/" + parts[0].toStdString() + "-journal";
    if (::geteuid() != 0) {
        const char* stock = std::getenv(kPlantsVariable);
        const std::string file = std::string(stock ? stock : "") + "/" + std::to_string(g_plantsUsed++);
        EXPECT_EQ(::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, side.c_str(), RENAME_NOREPLACE), 0) << side;
        return;
    }
    EXPECT_TRUE(QFile::copy(QString::fromStdString(g_plantSource), QString::fromStdString(side)));
    EXPECT_EQ(::chown(side.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
    EXPECT_EQ(::chmod(side.c_str(), g_plantMode), 0);
}

// The owner changing its file as the writer writes, the writer killed after
// a step, and a new name under a default ACL naming nobody: rows of their
// own (RunOwnersRows).
constexpr char kAsItWrites[] = "as it writes";
constexpr char kKilledAfter[] = "the writer killed after ";
// Then the next write killed in its cleanup, at the step named after it.
constexpr char kCleanupKilledAfter[] = ", its next write's cleanup killed after ";
constexpr char kNamingNobody[] = "new under a default ACL naming nobody";
constexpr char kOnBindfs[] = "on a bindfs mount";
constexpr char kKillWriterVariable[] = "GRV_KILL_WRITER";
// The kill rows' target as it was: nobody's, 640.
constexpr char kKilledOverMode[] = "640 owner 65534:65534";
// Or written from the journal kept private, which narrows that to 600.
constexpr char kFromPrivateJournal[] = "from a private journal";
constexpr char kPrivateJournalVariable[] = "GRV_PRIVATE_JOURNAL";
constexpr char kOlderBytes[] = "an older file";
// Or replaced in a mount namespace of its own where an empty folder hides
// /proc, as in a chroot or a container without it.
constexpr char kWithoutProc[] = "with no /proc mounted";
// Or backed up from a journal in WAL mode.
constexpr char kInWalMode[] = "from a journal in WAL mode";
constexpr char kInWalModeVariable[] = "GRV_IN_WAL_MODE";
constexpr char kWriteTargetVariable[] = "GRV_WRITE_TARGET";
// Or written through a bindfs view of its folder while another writer (a
// process of its own) writes it there directly and commits afterwards.
constexpr char kBesideAnother[] = "while another writer writes it directly";
constexpr char kAnothersBytes[] = "the other writer's bytes";
// Or, from the journal kept private, over a file whose ACL lets nobody and
// others read, replaced again and again while nobody reads every file of
// its name in the folder as it appears.
constexpr char kWatched[] = "watched by nobody";
constexpr int kWatchedWrites = 20;
constexpr char kWatcher[] = "import os, sys\n"
                            "folder, name, stop = sys.argv[1:4]\n"
                            "seen = opened = 0\n"
                            "while not os.path.exists(stop):\n"
                            "    for entry in os.listdir(folder):\n"
                            "        if name not in entry: continue\n"
                            "        try:\n"
                            "            with open(os.path.join(folder, entry), 'rb') as f:\n"
                            "                opened += 1\n"
                            "                seen += sys.argv[4].encode() in f.read()\n"
                            "        except OSError: pass\n"
                            "        if opened == 1: print('started', flush=True)\n"
                            "print(seen, 'read of', opened)\n";
// Or a new name each time, written through a bindfs view of a folder
// nobody may read, or with no /proc mounted, while nobody locks (shared)
// every file of its name that appears there as soon as it appears.
constexpr char kLockedByNobody[] = "while nobody locks each part";
constexpr int kLockedWrites = 5;
constexpr char kLocker[] = "import ctypes, fcntl, os, select, struct, sys\n"
                           "folder, name, stop = sys.argv[1:4]\n"
                           "libc = ctypes.CDLL(None, use_errno=True)\n"
                           "watch = libc.inotify_init1(os.O_NONBLOCK)\n"
                           "libc.inotify_add_watch(watch, folder.encode(), 0x100 | 0x80)\n"
                           "held, seen = [], 0\n"
                           "print('started', flush=True)\n"
                           "while not os.path.exists(stop):\n"
                           "    if not select.select([watch], [], [], 0.05)[0]: continue\n"
                           "    events = os.read(watch, 65536)\n"
                           "    while events:\n"
                           "        size = struct.unpack_from('iIII', events)[3]\n"
                           "        entry = events[16:16 + size].rstrip(b'\\0').decode()\n"
                           "        events = events[16 + size:]\n"
                           "        if name not in entry or '.part-' not in entry: continue\n"
                           "        seen += 1\n"
                           "        try:\n"
                           "            f = os.open(os.path.join(folder, entry), os.O_RDONLY | os.O_NONBLOCK)\n"
                           "            fcntl.flock(f, fcntl.LOCK_SH | fcntl.LOCK_NB)\n"
                           "            held.append(f)\n"
                           "        except OSError: pass\n"
                           "print(len(held), 'locked of', seen)\n";
bool IsOwnersRow(const std::string& kind) {
    return kind.find(kAsItWrites) != std::string::npos || kind.find(kKilledAfter) != std::string::npos ||
           kind.find(kNamingNobody) != std::string::npos || kind.find(kWithoutProc) != std::string::npos ||
           kind.find(kBesideAnother) != std::string::npos || kind.find(kWatched) != std::string::npos ||
           kind.find(kLockedByNobody) != std::string::npos;
}

// Another writer of target, in a child process: it opens a part, writes,
// says so on ready, and commits once told on go; its exit status is 0 when
// the commit succeeded.
pid_t WriteBeside(const std::string& target, int ready, int go) {
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    // Never destroyed: the child ends with _exit.
    auto* part = new platform::PartFile;
    char step = 'r';
    if (part->Open(target) != 0 || part->Write(kAnothersBytes, std::strlen(kAnothersBytes)) != 0 ||
        ::write(ready, &step, 1) != 1 || ::read(go, &step, 1) != 1)
        ::_exit(2);
    ::_exit(part->Commit() == 0 ? 0 : 1);
}
// The owner's change a row names.
struct RowsChange {
    const char* marker;
    grvtest::OwnersChange change;
};
constexpr RowsChange kOwnersChanges[] = {
    {"makes it 600", grvtest::kOwnerMakesItPrivate},
    {"takes nobody out", grvtest::kOwnerTakesNobodyOut},
    {"lets nobody read", grvtest::kOwnerLetsNobodyRead},
    {"gives it to nobody", grvtest::kOwnerGivesItToNobody},
};

// What the file at path grants beyond the final mode (the octal of a
// ModeAt): the bits of its mode, and any ACL, which a final mode with no
// ACL does not have; empty when nothing.
std::string ReadableBeyond(const std::string& path, const std::string& final) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    const mode_t allowed = static_cast<mode_t>(std::stoul(final.substr(0, final.find(' ')), nullptr, 8));
    const std::string acl = grvtest::AccessAcl(path);
    std::string beyond = (st.st_mode & 0777 & ~allowed) != 0 ? ModeAt(path) : std::string();
    if (!acl.empty() && final.find(" acl ") == std::string::npos)
        beyond += " acl " + acl;
    return beyond;
}

// The ACL's entry for others, or the mode's bits for them, of a ModeAt.
std::string OthersOf(const std::string& mode) {
    const std::size_t at = mode.find("o::");
    return at == std::string::npos ? mode.substr(2, 1) : mode.substr(at, 6);
}

// Who may read the writer's output afterwards in the files under folder
// that concern the row (relevant): "private" when no file holding it
// (holds) is open to another account by its mode, its owner or an ACL, or
// none holds it; "others" when one is; a part of the writer's left there is
// named.
std::string Readers(const std::string& folder, const std::function<bool(const std::string&)>& holds,
                    const std::function<bool(const std::string&)>& relevant) {
    std::string readers = "private", left;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat st;
        const std::string path = entry.path().string();
        if (!relevant(path) || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (entry.path().filename().string().find(".part-") != std::string::npos && st.st_uid == ::geteuid())
            left += " and a part";
        if (!holds(grvtest::ReadFile(path)))
            continue;
        if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0 || st.st_uid != ::geteuid() || !grvtest::AccessAcl(path).empty())
            readers = "others";
    }
    return readers + left;
}

// python's open(path, 'wb') under the same move after its open: who may
// read what it wrote afterwards, in folder.
std::string PythonReaders(const std::string& folder, const std::string& named, bool swapsFolder) {
    constexpr char kPythonBytes[] = "python's own bytes, written after the move";
    const grvtest::RunResult r =
        grvtest::Python("import os, sys\n"
                        "path, swap = sys.argv[1], sys.argv[2] == 'swap'\n"
                        "folder = os.path.dirname(path)\n"
                        "f = open(path, 'wb')\n"
                        "if swap: os.rename(folder, folder + '.old'); os.mkdir(folder)\n"
                        "else: os.rename(os.path.join(folder, 'public' + os.path.basename(path)), path)\n"
                        "f.write(sys.argv[3].encode())\n"
                        "f.close()\n",
                        {named, swapsFolder ? "swap" : "own", kPythonBytes});
    EXPECT_TRUE(r.Ok()) << r.err;
    return Readers(
        folder, [&](const std::string& bytes) { return bytes.find(kPythonBytes) != std::string::npos; },
        [](const std::string&) { return true; });
}

// The rows of tests/data/shell/writers.txt onto the kinds of target whose
// names hold only, or onto every kind a runner may make (nullptr).
void WriterTableTest::RunTable(const char* only) {
    const auto rows = grvtest::ReadTable(ShellTable("writers.txt"), " | ");
    ASSERT_EQ(rows.size(), 261u);
    int n = 0;
    for (const auto& row : rows) {
        const std::string &writer = row[0], &kindName = row[1], &afterwards = row[2];
        const bool apart =
            kindName == "private device" || kindName == "file with an ACL" ||
            kindName.find("planted") != std::string::npos || kindName.find("default ACL") != std::string::npos ||
            kindName.find("team folder") != std::string::npos || kindName.find(kTaken) != std::string::npos ||
            kindName.find(kSetIds) != std::string::npos || kindName.find(kWhileItWrites) != std::string::npos ||
            kindName.find(kPlantsBesidePart) != std::string::npos || IsOwnersRow(kindName);
        if (only ? kindName.find(only) == std::string::npos : apart)
            continue;
        SCOPED_TRACE(writer + " onto " + kindName);
        grvtest::TargetKind kind = grvtest::TargetKind::Absent;
        for (int k = 0; k <= static_cast<int>(grvtest::TargetKind::UnderDefaultAcl); ++k) {
            if (kindName == grvtest::TargetKindName(static_cast<grvtest::TargetKind>(k)))
                kind = static_cast<grvtest::TargetKind>(k);
        }
        const std::size_t bytes = kindName.find("-byte name");
        const bool longName = bytes != std::string::npos;
        std::string name = "out" + std::to_string(n++) + "." + writer;
        if (longName)
            name += std::string(std::stoul(kindName.substr(kindName.rfind(' ', bytes) + 1)) - name.size(), 'n');
        grvtest::WriteTarget target(tmp.path().toStdString(), name, kind, "an older file");
        ASSERT_EQ(target.Error(), 0);
        // The open journal the writers read from, by its name or a link.
        const bool journal = kindName.find("the journal") != std::string::npos;
        // Or a file root made in the team folder it names.
        const char* team = std::getenv(kTeamFolderVariable);
        const bool closed = kindName.find("takes no new file") != std::string::npos;
        // Or nothing yet, in a sticky folder anyone may write, until another
        // account takes the name while the writer writes.
        // Or in a folder anyone may write that is not sticky.
        const bool taken = kindName.find(kTaken) != std::string::npos;
        const bool sticky = kindName.find(kNotSticky) == std::string::npos;
        const QString sharedName = sticky ? "shared" : "open";
        const std::string shared = Path(sharedName).toStdString();
        if (taken && !QFileInfo::exists(Path(sharedName))) {
            ASSERT_EQ(::mkdir(shared.c_str(), sticky ? 01777 : 0777), 0);
            ASSERT_EQ(::chmod(shared.c_str(), sticky ? 01777 : 0777), 0);
        }
        const bool moves = kindName.find(kWhileItWrites) != std::string::npos;
        const bool ownMoved = moves && kindName.find(kOwnMoved) != std::string::npos;
        const bool plants = kindName.find(kPlantsBesidePart) != std::string::npos;
        // A folder others may write, not sticky: anyone's, or a group's.
        const bool grouped = kindName.find(kGroupFolder) != std::string::npos;
        const std::string open = Path(plants && !grouped ? "sticky" : grouped ? "group" : "open").toStdString();
        if ((moves || plants) && !QFileInfo::exists(QString::fromStdString(open))) {
            const mode_t folderMode = plants && !grouped ? 01777 : grouped ? 0775 : 0777;
            ASSERT_EQ(::mkdir(open.c_str(), folderMode), 0);
            ASSERT_EQ(::chmod(open.c_str(), folderMode), 0);
            if (grouped && ::geteuid() == 0) {
                ASSERT_EQ(::chown(open.c_str(), 0, grvtest::kNobodyId), 0);
            }
        }
        const bool swapped = kindName.find(kSwapped) != std::string::npos || (moves && !ownMoved);
        const std::string in = (moves ? open : shared) + "/in" + std::to_string(n);
        ASSERT_TRUE(!swapped || ::mkdir(in.c_str(), 0755) == 0);
        const std::string named = kindName.find("team folder") != std::string::npos
                                      ? std::string(team ? team : "") + (closed ? "/closed/" : "/") + name
                                  : swapped            ? in + "/" + name
                                  : ownMoved || plants ? open + "/" + name
                                  : taken              ? shared + "/" + name
                                  : kindName.starts_with(kOtherSideFile)
                                      ? Path("other.grv").toStdString() + kindName.substr(std::strlen(kOtherSideFile))
                                  : kindName.starts_with(kTextSideFile)
                                      ? Path("notes.txt").toStdString() + kindName.substr(std::strlen(kTextSideFile))
                                  : kindName.starts_with(kEmptySideFile)
                                      ? Path("empty").toStdString() + kindName.substr(std::strlen(kEmptySideFile))
                                  : !journal                         ? target.Path()
                                  : kindName == "the journal itself" ? Path("pain.grv").toStdString()
                                  : kindName.starts_with(kSideFile)
                                      ? Path("pain.grv").toStdString() + kindName.substr(std::strlen(kSideFile))
                                      : Path("journal-link").toStdString();
        const bool copied = kindName.find(kAsItIsCopied) != std::string::npos;
        backedUp = copied ? "other.grv" : "pain.grv";
        if ((copied || kindName.starts_with(kOtherSideFile)) && !QFileInfo::exists(Path("other.grv"))) {
            // A journal open to all (0644), whatever mode the checkout gave
            // the fixture: its -wal takes the journal's mode.
            ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("other.grv")));
            ASSERT_TRUE(QFile::setPermissions(Path("other.grv"), QFile::ReadOwner | QFile::WriteOwner |
                                                                     QFile::ReadGroup | QFile::ReadOther));
            ASSERT_TRUE(grvtest::Python(kWalFrames, {Path("other.grv").toStdString()}).Ok());
        }
        if (kindName.starts_with(kTextSideFile) || kindName.starts_with(kEmptySideFile)) {
            ASSERT_TRUE(WriteBytes(Path(kindName.starts_with(kTextSideFile) ? "notes.txt" : "empty"),
                                   kindName.starts_with(kTextSideFile) ? "some notes\n" : ""));
        }
        // The writer's own file with the bits a write takes away.
        if (kindName.find(kSetIds) != std::string::npos) {
            ASSERT_TRUE(grvtest::WriteFile(named, "an older file"));
            ASSERT_EQ(::chmod(named.c_str(), kSetIdsMode), 0);
        }
        // The writer's private file another account moves files around, and
        // the file of its own moved onto the name.
        const bool under077 = kindName.find(kUnderUmask077) != std::string::npos;
        if (moves && !under077) {
            ASSERT_TRUE(grvtest::WriteFile(named, "an older file"));
            ASSERT_EQ(::chmod(named.c_str(), 0600), 0);
        }
        const std::string publicFile = open + "/public" + name;
        if (ownMoved) {
            ASSERT_TRUE(grvtest::WriteFile(publicFile, kPublicBytes));
            ASSERT_EQ(::chmod(publicFile.c_str(), kPublicMode), 0);
        }
        if (kindName == "link to the journal" && !QFileInfo(Path("journal-link")).isSymLink()) {
            ASSERT_EQ(::symlink("pain.grv", named.c_str()), 0);
        }
        const std::string before = target.DescribePath(named);
        // Files of the user's beside the file the name leads to: one of a
        // part's shape, one that only looks like it. Neither carries the
        // mark of a writer that made it, so both stay.
        const bool link = kind == grvtest::TargetKind::Link || kind == grvtest::TargetKind::DanglingLink;
        const QString beside = QFileInfo(QString::fromStdString(named)).absolutePath() + "/";
        const QString stopped = beside + QString::fromStdString("." + name + (link ? ".target" : "") + ".part-Kil1ed");
        const QString users = beside + QString::fromStdString(name + ".part-backup");
        // None can be made in a folder that takes no new file.
        const bool leaves = !longName && !closed && !swapped && !kindName.starts_with(kTextSideFile);
        ASSERT_TRUE(!leaves || (WriteBytes(stopped, "left") && WriteBytes(users, "the user's")));
        std::optional<grvtest::NameTaker> taker;
        g_swappedName = swapped ? named : std::string();
        g_swapStep = copied ? "part-opened" : "part-synced";
        g_swapPlants.clear();
        g_plantsParts = !moves;
        g_movedName = ownMoved ? named : std::string();
        g_plant = plants ? named : std::string();
        g_plantMode = kindName.find("0644") != std::string::npos ? 0644 : 0666;
        if (swapped)
            platform::SetKillHook(SwapFolder);
        else if (ownMoved)
            platform::SetKillHook(MoveOwnFile);
        else if (plants)
            platform::SetKillHook(PlantBesidePart);
        else if (taken)
            taker.emplace(named,
                          kindName.find(kTakenBeforeRename) != std::string::npos ? "part-synced" : "part-opened");
        const mode_t savedMask = under077 ? ::umask(kPrivateUmask) : 0;
        const bool said = Write(writer, QString::fromStdString(named));
        if (under077)
            ::umask(savedMask);
        taker.reset();
        if (swapped || ownMoved || plants)
            platform::SetKillHook(nullptr);
        // The refusal says why, where the system's own text would not.
        if (closed && (writer == "backup" || writer == "restore")) {
            const std::vector<QString> told = prompter->Texts();
            EXPECT_TRUE(std::any_of(told.begin(), told.end(),
                                    [](const QString& t) { return t.contains("not add a file beside it"); }));
        }
        EXPECT_TRUE(!leaves || Bytes(users) == "the user's");
        for (const std::string& planted : g_swapPlants)
            EXPECT_TRUE(grvtest::ReadFile(planted) == PlantedBytes()) << planted << " holds another's bytes";
        EXPECT_TRUE(!leaves || Bytes(stopped) == "left");
        QFile::remove(stopped);
        QFile::remove(users);
        const std::string after = target.DescribePath(named);
        const bool replaced = afterwards == "new";
        EXPECT_EQ(said, row[3] == "yes");
        if (afterwards == "device") {
            EXPECT_EQ(after, "device(1,3)");
        } else if (afterwards == "theirs") {
            EXPECT_EQ(after, std::string("file:") + grvtest::kTakersBytes);
        } else if (afterwards == "unread") {
            // Nothing at the name in the folder put in its place.
            EXPECT_EQ(after, "absent");
        } else if (!replaced) {
            EXPECT_TRUE(after == before) << after.substr(0, 80);
        } else {
            // What the name leads to, and what it holds.
            const std::size_t at = after.find(kind == grvtest::TargetKind::Fifo ? "fifo:" : "file:");
            ASSERT_NE(at, std::string::npos) << after.substr(0, 80);
            EXPECT_EQ(after.substr(0, at), link ? "link(" + name + ".target)->" : "");
            EXPECT_TRUE(IsWholeOutput(writer, after.substr(at + 5)));
        }
        EXPECT_EQ(ModeAt(named), row[4]);
        EXPECT_TRUE(Leftovers().isEmpty());
        // What the other account put there is its own to remove.
        for (const QFileInfo& part :
             QDir(beside).entryInfoList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden | QDir::System)) {
            EXPECT_NE(part.ownerId(), ::geteuid()) << part.fileName().toStdString();
        }
        if (moves) {
            // Nobody else may read the new content anywhere, as nobody may
            // read what python's open() wrote under the same move.
            const auto holds = [&](const std::string& bytes) {
                return bytes != "an older file" && bytes != kPublicBytes && bytes != grvtest::kTakersBytes &&
                       IsWholeOutput(writer, bytes);
            };
            const auto relevant = [&](const std::string& path) {
                return swapped ? path.starts_with(in + "/") || path.starts_with(in + ".old/")
                               : path.find(name) != std::string::npos;
            };
            EXPECT_EQ(Readers(open, holds, relevant), "private");
            // python's own folder there, its file and the user's other one.
            const std::string python = open + "/python" + std::to_string(n);
            ASSERT_EQ(::mkdir(python.c_str(), 0777), 0);
            const std::string pythonNamed = (swapped ? python + "/in" : python) + "/" + name;
            ASSERT_TRUE(!swapped || ::mkdir((python + "/in").c_str(), 0755) == 0);
            if (!under077) {
                ASSERT_TRUE(grvtest::WriteFile(pythonNamed, "an older file"));
                ASSERT_EQ(::chmod(pythonNamed.c_str(), 0600), 0);
            }
            if (ownMoved) {
                ASSERT_TRUE(grvtest::WriteFile(python + "/public" + name, kPublicBytes));
                ASSERT_EQ(::chmod((python + "/public" + name).c_str(), kPublicMode), 0);
            }
            const mode_t pythonMask = under077 ? ::umask(kPrivateUmask) : 0;
            EXPECT_EQ(PythonReaders(python, pythonNamed, !ownMoved), "private");
            if (under077)
                ::umask(pythonMask);
        }
        if (plants) {
            // What the sqlite3 shell reads back is the backup's entries, as
            // from the journal python's zipfile takes out of it.
            const std::string extracted = open + "/python" + std::to_string(n) + ".grv";
            ASSERT_TRUE(grvtest::Python("import sys, zipfile\n"
                                        "z = zipfile.ZipFile(sys.argv[1])\n"
                                        "open(sys.argv[2], 'wb').write(z.read(z.namelist()[0], pwd=b'right'))\n",
                                        {Path("pain.grz").toStdString(), extracted})
                            .Ok());
            const grvtest::RunResult ours = grvtest::SqliteCli(named, "SELECT count(*) FROM entry;");
            const grvtest::RunResult python = grvtest::SqliteCli(extracted, "SELECT count(*) FROM entry;");
            EXPECT_EQ(ours.out, python.out);
            EXPECT_EQ(python.out, "3\n");
        }
    }
}

TEST_F(WriterTableTest, EveryWriterLeavesEveryTargetWholeOrAsItWas) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable(nullptr);
    ::umask(saved);
}

TEST_F(WriterTableTest, EveryWriterIntoAPrivateDevice) {
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable("private device");
}

TEST_F(WriterTableTest, EveryWriterOntoAFileWithAnAcl) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable("file with an ACL");
    ::umask(saved);
}

// The tests that need nobody: only a superuser runs them (tests/run-common.sh).
using AsNobody = WriterTableTest;

// Another account's file in a folder a team shares (root's, of the group
// nogroup the writer is in), and the writer's own file of a group it is
// not in (root): a replace can give neither file its owner and group back,
// so it is refused, and the file keeps its bytes, mode, owner and group.
// python's open(path, 'wb') writes both in place, where a stopped write
// leaves them cut short. Root makes the files, nobody writes them.
TEST_F(AsNobody, EveryWriterLeavesAFileWhoseOwnerOrGroupItCannotKeep) {
    if (::geteuid() == 0) {
        grvtest::TempDir team("grv-team", grvtest::SharedTempRoot());
        ASSERT_EQ(::chown(team.Path().c_str(), 0, grvtest::kNobodyId), 0);
        ASSERT_EQ(::chmod(team.Path().c_str(), 0775), 0);
        // Root's own folder in it, where nobody may write its file but add none.
        const std::string closed = team.File("closed");
        ASSERT_EQ(::mkdir(closed.c_str(), 0755), 0);
        const auto rows = grvtest::ReadTable(ShellTable("writers.txt"), " | ");
        int n = 0;
        for (const auto& row : rows) {
            if (row[1].find("team folder") == std::string::npos)
                continue;
            const std::string name = "out" + std::to_string(n++) + "." + row[0];
            if (row[1].find("takes no new file") != std::string::npos) {
                const std::string file = closed + "/" + name;
                ASSERT_TRUE(grvtest::WriteFile(file, "an older file"));
                ASSERT_EQ(::chown(file.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
                ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
                continue;
            }
            const std::string file = team.File(name);
            ASSERT_TRUE(grvtest::WriteFile(file, "an older file"));
            const bool others = row[1].find("another account") != std::string::npos;
            ASSERT_EQ(::chown(file.c_str(), others ? 0 : grvtest::kNobodyId, others ? grvtest::kNobodyId : 0), 0);
            ASSERT_EQ(::chmod(file.c_str(), 0664), 0);
        }
        ASSERT_GT(n, 0);
        grvtest::TempDir data("grv-shell-data", grvtest::SharedTempRoot());
        ASSERT_NO_FATAL_FAILURE(CopyFixturesFor(data));
        EXPECT_TRUE(RerunAsNobodyInHomeOfItsOwn({std::string(kTeamFolderVariable) + "=" + team.Path(),
                                                 std::string(kShellDataVariable) + "=" + data.Path()}));
        return;
    }
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable("team folder");
    ::umask(saved);
}

// What open() gives a new file there, within the journal's limit.
TEST_F(WriterTableTest, EveryWriterOfANewFileInAFolderWithAnAcl) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable("absent, under a default ACL");
    RunOwnersRows(kNamingNobody);
    ::umask(saved);
}

// A write by an ordinary user takes the setuid and setgid bits from a file
// (a cp or python's open() onto it): a replace of the writer's own file so
// leaves the new content without them. Nobody writes.
TEST_F(AsNobody, EveryWriterReplacingASetuidFileDropsItsSetuidAndSetgidBits) {
    if (::geteuid() == 0) {
        grvtest::TempDir data("grv-shell-data", grvtest::SharedTempRoot());
        ASSERT_NO_FATAL_FAILURE(CopyFixturesFor(data));
        EXPECT_TRUE(RerunAsNobodyInHomeOfItsOwn({std::string(kShellDataVariable) + "=" + data.Path()}));
        return;
    }
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable(kSetIds);
    ::umask(saved);
}

// Another account takes the name, in a sticky folder anyone may write,
// while the writer writes: its file is left as it made it, and the
// writer's output goes with its part. Root writes (nobody takes the name),
// then nobody writes (root takes it).
TEST_F(AsNobody, EveryWriterLeavesANameAnotherAccountTookWhileItWrote) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    const bool root = ::geteuid() == 0;
    RunTable(root ? "name nobody takes" : "name root takes");
    ::umask(saved);
    if (!root)
        return;
    grvtest::TempDir stock("grv-takers", grvtest::SharedTempRoot());
    const auto rows = grvtest::ReadTable(ShellTable("writers.txt"), " | ");
    const auto taken = std::count_if(
        rows.begin(), rows.end(), [](const auto& row) { return row[1].find("name root takes") != std::string::npos; });
    grvtest::TempDir data("grv-shell-data", grvtest::SharedTempRoot());
    ASSERT_NO_FATAL_FAILURE(CopyFixturesFor(data));
    EXPECT_TRUE(RerunAsNobodyInHomeOfItsOwn({grvtest::MakeTakersStock(stock.Path(), static_cast<int>(taken)),
                                             std::string(kShellDataVariable) + "=" + data.Path()}));
}

// Another account moves files while the writer writes, in a folder anyone
// may write that is not sticky or in a group's folder: the writer's folder
// moved away and another put in its place, or a file of the writer's own
// (0644) moved onto the name. No one else may read the new content
// afterwards, as no one may read what python's open(path, 'wb') wrote
// under the same move: the write into a moved folder fails and leaves no
// part, and the new content takes the mode its open found. And a -journal
// planted beside the restore's part (0666 or 0644) as soon as it is made is
// never read into the journal: the sqlite3 shell counts the backup's
// entries, as in the journal python's zipfile takes out of it. Root writes
// (nobody moves and plants, in a sticky folder), then nobody writes (root
// does, in a group's folder).
TEST_F(AsNobody, EveryWriterKeepsItsOutputFromWhomMovesFilesWhileItWrites) {
    const bool root = ::geteuid() == 0;
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    grvtest::TempDir work;
    g_plantSource = work.File("plant");
    if (root) {
        ASSERT_TRUE(grvtest::Python(kMakeHotJournal,
                                    {Fixture("journal.grv").toStdString(), g_plantSource, work.File("one-entry.grv")})
                        .Ok());
    }
    RunTable(kWhileItWrites);
    RunTable(root ? "nobody plants beside the part" : "root plants beside the part");
    ::umask(saved);
    if (!root)
        return;
    // Root's plants for nobody's run, one a row, in the rows' order.
    grvtest::TempDir stock("grv-plants", grvtest::SharedTempRoot());
    ASSERT_EQ(::chmod(stock.Path().c_str(), 0777), 0);
    int n = 0;
    for (const auto& row : grvtest::ReadTable(ShellTable("writers.txt"), " | ")) {
        if (row[1].find("root plants beside the part") == std::string::npos)
            continue;
        const std::string plant = stock.File(std::to_string(n++));
        ASSERT_TRUE(QFile::copy(QString::fromStdString(g_plantSource), QString::fromStdString(plant)));
        ASSERT_EQ(::chmod(plant.c_str(), row[1].find("0644") != std::string::npos ? 0644 : 0666), 0);
    }
    grvtest::TempDir data("grv-shell-data", grvtest::SharedTempRoot());
    ASSERT_NO_FATAL_FAILURE(CopyFixturesFor(data));
    EXPECT_TRUE(RerunAsNobodyInHomeOfItsOwn(
        {std::string(kPlantsVariable) + "=" + stock.Path(), std::string(kShellDataVariable) + "=" + data.Path()}));
}

// Needs a planter: nobody (tests/run-common.sh).
TEST_F(AsNobody, EveryWriterLeavesWhatAnotherAccountPlantedInASharedFolder) {
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunTable("another account planted");
}

// --- A restore killed at every step -----------------------------------------

constexpr char kKillTargetVariable[] = "GRV_KILL_TARGET";

// A restore renamed the journal and its side files aside before the
// restored one was on the disk: a kill in between left no journal at its
// name (10 of 24 kills), and split a hot -journal from its journal. Each row
// of tests/data/shell/restore-kills.txt runs the restore in a child (this
// test, with the kill step and the journal in its environment) that kills
// itself at the row's step.
TEST_F(BackupRestoreTest, KilledRestoreLeavesAWholeJournalAndARerunCompletes) {
    if (const char* journal = std::getenv(kKillTargetVariable)) {
        grvtest::InstallKillAt();
        CGRVDlg win;
        prompter->Queue(Answer::Yes);
        Restore(win, Fixture("zip-deflated.grz"), QString::fromUtf8(journal), "right");
        ADD_FAILURE() << "the restore was not killed at " << std::getenv(grvtest::kKillAtVariable);
        return;
    }
    const QString query =
        QStringLiteral("PRAGMA integrity_check; SELECT count(*), group_concat(sbj || ':' || cpl, ',') FROM entry;");
    grvtest::QtTempDir judge;
    auto read = [&](const QString& path) {
        QByteArray out;
        EXPECT_EQ(RunProgram("sqlite3", {path, query}, &out), 0);
        return out;
    };
    QByteArray restored;
    ASSERT_EQ(RunProgram("unzip", {"-P", "right", "-p", Fixture("zip-deflated.grz"), "journal.grv"}, &restored), 0);
    ASSERT_TRUE(WriteBytes(judge.filePath("restored.grv"), restored));
    restored = read(judge.filePath("restored.grv"));
    char exe[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const auto rows = grvtest::ReadTable(ShellTable("restore-kills.txt"), " | ");
    ASSERT_EQ(rows.size(), 14u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0] + ", killed after " + row[1]);
        const QString folder = Path(QString::fromStdString(row[1] + (row[0] == "WAL with frames" ? "-wal" : "")));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString journal = folder + "/pain.grv";
        ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), journal));
        QFile::setPermissions(journal, QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_EQ(RunProgram("sqlite3", {journal, "INSERT INTO entry(ts, sbj, entry) SELECT '2026-03-03 08:00:00', "
                                                  "'Newer', hex(randomblob(2000)) FROM generate_series(1, 300);"}),
                  0);
        ASSERT_EQ(
            RunProgram("/usr/bin/python3", {"-c", row[0] == "WAL with frames" ? kWalFrames : kCrashedSave, journal}),
            0);
        // The old journal as SQLite reads it, side files and all.
        const QString copy = judge.filePath(QFileInfo(folder).fileName());
        ASSERT_TRUE(QDir().mkpath(copy));
        for (const char* name : {"pain.grv", "pain.grv-journal", "pain.grv-wal"})
            QFile::copy(folder + "/" + name, copy + "/" + name);
        const QByteArray old = read(copy + "/pain.grv");
        ASSERT_TRUE(old.startsWith("ok\n")) << old.toStdString();
        ASSERT_NE(old, restored);

        grvtest::RunOptions options;
        options.mergeStderr = true;
        options.env = {std::string(grvtest::kKillAtVariable) + "=" + row[1],
                       std::string(kKillTargetVariable) + "=" + journal.toStdString()};
        const grvtest::RunResult child = grvtest::RunProgram(
            {exe, "--gtest_filter=BackupRestoreTest.KilledRestoreLeavesAWholeJournalAndARerunCompletes"}, options);
        EXPECT_EQ(child.signal, SIGKILL) << child.out;
        EXPECT_EQ(read(journal), row[2] == "old" ? old : restored);

        CGRVDlg win;
        prompter->Clear();
        prompter->Queue(Answer::Yes);
        EXPECT_TRUE(Restore(win, Fixture("zip-deflated.grz"), journal, "right"));
        EXPECT_EQ(read(journal), restored);
        const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_EQ(left, QStringList{"pain.grv"});
    }
}

// --- The owner's changes, kills and new names, beside python's open() -------

// The run of a child (this program) that writes named with writer where no
// /proc is mounted (EveryWriterReplacesAFileWithAnAclWithoutProc), from a
// journal in WAL mode or not.
grvtest::RunResult WriteWithoutProc(const char* exe, const std::string& writer, const std::string& named,
                                    bool inWalMode) {
    grvtest::RunOptions options;
    options.mergeStderr = true;
    // Its leak check reads /proc as the process ends.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    options.env = {std::string(kWriteTargetVariable) + "=" + named, std::string(kKillWriterVariable) + "=" + writer,
                   std::string(kInWalModeVariable) + "=" + (inWalMode ? "1" : ""),
                   std::string(grvtest::kProcHiddenVariable) + "=" + named + ".ready",
                   "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0"};
    const grvtest::RunResult child = grvtest::RunProgram(
        grvtest::WithoutProc({exe, "--gtest_filter=WriterTableTest.EveryWriterReplacesAFileWithAnAclWithoutProc"},
                             true),
        options);
    ::unlink((named + ".ready").c_str());
    return child;
}

void WriterTableTest::RunOwnersRows(const char* only) {
    // So that the limit hides nothing, the journal and the backup are open
    // to all.
    ASSERT_TRUE(QFile::setPermissions(Path("pain.grv"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    ASSERT_TRUE(QFile::setPermissions(Path("pain.grz"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    char exe[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    int n = 0;
    for (const auto& row : grvtest::ReadTable(ShellTable("writers.txt"), " | ")) {
        const std::string &writer = row[0], &kind = row[1];
        if (!IsOwnersRow(kind) || kind.find(only) == std::string::npos)
            continue;
        if ((kind.find(kLockedByNobody) == std::string::npos) !=
            (std::string(only).find(kLockedByNobody) == std::string::npos))
            continue;
        SCOPED_TRACE(writer + " onto " + kind);
        const std::string name = "owners" + std::to_string(n++) + "." + writer;
        if (kind.find(kLockedByNobody) != std::string::npos) {
            // nobody watches and locks where the writer writes: through the
            // view, which bindfs opens to all accounts as root mounts it.
            grvtest::TempDir shared("grv-locked", grvtest::SharedTempRoot());
            const std::string folder = shared.File("folder"), stop = shared.File("stop");
            const bool bound = kind.find(kOnBindfs) != std::string::npos;
            const std::string at = bound ? shared.File("view") : folder;
            for (const std::string& made : {shared.Path(), folder, at}) {
                ASSERT_TRUE(::mkdir(made.c_str(), 0755) == 0 || errno == EEXIST);
                ASSERT_EQ(::chmod(made.c_str(), 0755), 0);
            }
            ASSERT_TRUE(!bound || grvtest::RunProgram({"bindfs", folder, at}).Ok());
            QProcess locker;
            locker.start("setpriv",
                         {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c", kLocker,
                          QString::fromStdString(at), QString::fromStdString(name), QString::fromStdString(stop)});
            ASSERT_TRUE(locker.waitForStarted());
            QByteArray told;
            while (!told.contains("started\n") && locker.waitForReadyRead(10000))
                told += locker.readAllStandardOutput();
            ASSERT_TRUE(told.startsWith("started\n")) << locker.readAllStandardError().toStdString();
            for (int i = 0; i < kLockedWrites; ++i) {
                const std::string named = at + "/" + name + std::to_string(i);
                if (bound) {
                    EXPECT_EQ(Write(writer, QString::fromStdString(named)), row[3] == "yes");
                } else {
                    const grvtest::RunResult child = WriteWithoutProc(exe, writer, named, false);
                    EXPECT_EQ(child.status == 0, row[3] == "yes")
                        << child.out.substr(child.out.size() > 3000 ? child.out.size() - 3000 : 0);
                }
                EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(folder + "/" + name + std::to_string(i))));
                EXPECT_EQ(ModeAt(folder + "/" + name + std::to_string(i)), row[4]);
            }
            ASSERT_TRUE(grvtest::WriteFile(stop, ""));
            EXPECT_TRUE(locker.waitForFinished(10000));
            told += locker.readAllStandardOutput();
            std::printf("%s onto %s: nobody %s", writer.c_str(), kind.c_str(), told.mid(8).constData());
            EXPECT_TRUE(!bound || grvtest::RunProgram({"fusermount3", "-u", at}).Ok() ||
                        grvtest::RunProgram({"fusermount", "-u", at}).Ok());
            EXPECT_TRUE(QDir(QString::fromStdString(folder))
                            .entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden)
                            .isEmpty());
            continue;
        }
        if (kind.find(kWatched) != std::string::npos) {
            grvtest::TempDir shared("grv-watched", grvtest::SharedTempRoot());
            ASSERT_EQ(::chmod(shared.Path().c_str(), 0755), 0);
            const std::string named = shared.File(name), stop = shared.File("stop");
            for (const char* source : {"pain.grv", "pain.grz"})
                ASSERT_TRUE(QFile::setPermissions(Path(source), QFile::ReadOwner | QFile::WriteOwner));
            const auto readable = [&] {
                return grvtest::WriteFile(named, kOlderBytes) && ::chmod(named.c_str(), 0644) == 0 &&
                       grvtest::SetAccessAcl(named, "u::rw-,u:65534:r--,g::---,m::r--,o::r--");
            };
            ASSERT_TRUE(readable());
            QProcess watcher;
            watcher.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                                      kWatcher, QString::fromStdString(shared.Path()), QString::fromStdString(name),
                                      QString::fromStdString(stop), QString::fromStdString(Csv().substr(0, 64))});
            ASSERT_TRUE(watcher.waitForStarted());
            QByteArray told;
            while (!told.contains("started\n") && watcher.waitForReadyRead(10000))
                told += watcher.readAllStandardOutput();
            EXPECT_TRUE(told.startsWith("started\n")) << "nobody never read the file";
            for (int i = 0; i < kWatchedWrites; ++i) {
                EXPECT_TRUE(i == 0 || readable());
                EXPECT_EQ(Write(writer, QString::fromStdString(named)), row[3] == "yes");
            }
            ASSERT_TRUE(grvtest::WriteFile(stop, ""));
            EXPECT_TRUE(watcher.waitForFinished(10000));
            told += watcher.readAllStandardOutput();
            EXPECT_TRUE(told.contains("\n0 read of "))
                << told.toStdString() << watcher.readAllStandardError().toStdString();
            EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(named)));
            EXPECT_EQ(ModeAt(named), row[4]);
            for (const char* source : {"pain.grv", "pain.grz"}) {
                ASSERT_TRUE(QFile::setPermissions(Path(source), QFile::ReadOwner | QFile::WriteOwner |
                                                                    QFile::ReadGroup | QFile::ReadOther));
            }
            continue;
        }
        if (kind.find(kBesideAnother) != std::string::npos) {
            const std::string folder = Path(QString::fromStdString("direct" + name)).toStdString();
            const std::string view = Path(QString::fromStdString("view" + name)).toStdString();
            ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
            ASSERT_EQ(::mkdir(view.c_str(), 0700), 0);
            ASSERT_TRUE(grvtest::RunProgram({"bindfs", folder, view}).Ok());
            ASSERT_TRUE(grvtest::WriteFile(folder + "/" + name, kOlderBytes));
            ASSERT_EQ(::chmod((folder + "/" + name).c_str(), 0600), 0);
            int ready[2], go[2];
            ASSERT_EQ(::pipe(ready), 0);
            ASSERT_EQ(::pipe(go), 0);
            const pid_t other = WriteBeside(folder + "/" + name, ready[1], go[0]);
            char step = 0;
            EXPECT_EQ(::read(ready[0], &step, 1), 1);
            EXPECT_EQ(Write(writer, QString::fromStdString(view + "/" + name)), row[3] == "yes");
            EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(folder + "/" + name)));
            EXPECT_EQ(::write(go[1], &step, 1), 1);
            int status = -1;
            EXPECT_EQ(::waitpid(other, &status, 0), other);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other writer's commit failed";
            for (const int fd : {ready[0], ready[1], go[0], go[1]})
                ::close(fd);
            // The later save at the name, with the file's mode.
            EXPECT_EQ(grvtest::ReadFile(folder + "/" + name), row[2] == "later" ? kAnothersBytes : "");
            EXPECT_EQ(ModeAt(folder + "/" + name), row[4]);
            EXPECT_TRUE(grvtest::RunProgram({"fusermount3", "-u", view}).Ok() ||
                        grvtest::RunProgram({"fusermount", "-u", view}).Ok());
            EXPECT_TRUE(QDir(QString::fromStdString(folder))
                            .entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden)
                            .isEmpty());
            continue;
        }
        if (kind.find(kNamingNobody) != std::string::npos) {
            // A new name there, through a bindfs mount of the folder where
            // the row says, beside python's open() of another.
            grvtest::WriteTarget target(tmp.path().toStdString(), name, grvtest::TargetKind::UnderDefaultAcl, "");
            const std::string folder = target.Path().substr(0, target.Path().rfind('/'));
            const bool bound = kind.find(kOnBindfs) != std::string::npos;
            if (bound != (std::string(only).find(kOnBindfs) != std::string::npos))
                continue;
            const std::string at = bound ? Path(QString::fromStdString("bind" + name)).toStdString() : folder;
            ASSERT_TRUE(!bound || (::mkdir(at.c_str(), 0700) == 0 && grvtest::RunProgram({"bindfs", folder, at}).Ok()));
            const std::string named = at + "/" + name, python = at + "/python-" + name;
            EXPECT_EQ(Write(writer, QString::fromStdString(named)), row[3] == "yes");
            EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(named)));
            EXPECT_EQ(ModeAt(named), row[4]);
            const grvtest::RunResult py = grvtest::Python("import sys; open(sys.argv[1], 'wb').write(b'x')", {python});
            EXPECT_TRUE(py.Ok()) << py.err;
            EXPECT_EQ(OthersOf(ModeAt(named)), OthersOf(ModeAt(python))) << ModeAt(python);
            EXPECT_TRUE(QDir(QString::fromStdString(folder))
                            .entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden)
                            .isEmpty());
            // Debian 12's FUSE unmounts with fusermount, 13's with fusermount3.
            EXPECT_TRUE(!bound || grvtest::RunProgram({"fusermount3", "-u", at}).Ok() ||
                        grvtest::RunProgram({"fusermount", "-u", at}).Ok());
            continue;
        }
        const std::string named = Path(QString::fromStdString(name)).toStdString();
        const std::string python = Path(QString::fromStdString("python-" + name)).toStdString();
        const bool killed = kind.find(kKilledAfter) != std::string::npos;
        const bool acl = kind.find("with an ACL") != std::string::npos;
        if (kind.find(kWithoutProc) != std::string::npos) {
            for (const std::string& file : {named, python}) {
                ASSERT_TRUE(grvtest::WriteFile(file, kOlderBytes));
                ASSERT_EQ(::chmod(file.c_str(), 0660), 0);
                ASSERT_TRUE(grvtest::SetAccessAcl(file, "u::rw-,u:65534:rw-,g::---,m::rw-,o::---"));
            }
            const std::string before = ModeAt(python);
            const grvtest::RunResult child =
                WriteWithoutProc(exe, writer, named, kind.find(kInWalMode) != std::string::npos);
            EXPECT_EQ(child.status == 0, row[3] == "yes")
                << child.out.substr(child.out.size() > 3000 ? child.out.size() - 3000 : 0);
            EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(named)));
            EXPECT_EQ(ModeAt(named), row[4]);
            // python's open() writes there too, in place: its file keeps
            // its mode and ACL.
            const grvtest::RunResult py = grvtest::RunProgram(grvtest::WithoutProc(
                {"/usr/bin/python3", "-c", "import sys; open(sys.argv[1], 'wb').write(b'python')", python}, false));
            EXPECT_TRUE(py.Ok()) << py.err;
            EXPECT_EQ(grvtest::ReadFile(python), "python");
            EXPECT_EQ(ModeAt(python), before);
            EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
            continue;
        }
        for (const std::string& file : {named, python}) {
            ASSERT_TRUE(grvtest::WriteFile(file, kOlderBytes));
            ASSERT_EQ(::chmod(file.c_str(), killed                                     ? 0640
                                            : acl                                      ? 0660
                                            : kind.find(", 600,") != std::string::npos ? 0600
                                                                                       : 0644),
                      0);
            ASSERT_TRUE(!acl || grvtest::SetAccessAcl(file, "u::rw-,u:65534:rw-,g::---,m::rw-,o::---"));
            ASSERT_TRUE(!killed || ::chown(file.c_str(), grvtest::kNobodyId, grvtest::kNobodyId) == 0);
        }
        if (killed) {
            std::string step = kind.substr(kind.find(kKilledAfter) + std::strlen(kKilledAfter));
            const std::size_t cleanupAt = step.find(kCleanupKilledAfter);
            const std::string cleanupStep = cleanupAt == std::string::npos
                                                ? std::string()
                                                : step.substr(cleanupAt + std::strlen(kCleanupKilledAfter));
            step = step.substr(0, cleanupAt);
            const bool renamed = step == "part-renamed";
            // The journal private, so that the limit narrows nobody's 640.
            const bool narrowed = kind.find(kFromPrivateJournal) != std::string::npos;
            // nobody's own files of a part's shape, as a killed writer's part
            // given its owner could be: of the target's mode, or empty and
            // private.
            const std::string beside = Path("").toStdString() + "." + name + ".part-";
            const std::pair<std::string, mode_t> owners[] = {
                {beside + "backup", 0640}, {beside + "before-journal", 0640}, {beside + "2025v1", 0600}};
            for (const auto& [file, mode] : owners) {
                ASSERT_TRUE(grvtest::WriteFile(file, mode == 0600 ? "" : "nobody's own"));
                ASSERT_EQ(::chown(file.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
                ASSERT_EQ(::chmod(file.c_str(), mode), 0);
            }
            grvtest::RunOptions options;
            options.mergeStderr = true;
            options.env = {std::string(grvtest::kKillAtVariable) + "=" + step,
                           std::string(kKillTargetVariable) + "=" + named,
                           std::string(kKillWriterVariable) + "=" + writer};
            if (narrowed)
                options.env.push_back(std::string(kPrivateJournalVariable) + "=1");
            const grvtest::RunResult child = grvtest::RunProgram(
                {exe, "--gtest_filter=AsNobody.EveryWriterKilledAfterAnyStepLeavesTheFileWholeAndItsOwners"}, options);
            EXPECT_EQ(child.signal, SIGKILL) << child.out;
            if (!cleanupStep.empty()) {
                options.env[0] = std::string(grvtest::kKillAtVariable) + "=" + cleanupStep;
                const grvtest::RunResult cleanup = grvtest::RunProgram(
                    {exe, "--gtest_filter=AsNobody.EveryWriterKilledAfterAnyStepLeavesTheFileWholeAndItsOwners"},
                    options);
                EXPECT_EQ(cleanup.signal, SIGKILL) << cleanup.out;
                const QStringList aside = Leftovers().filter(QString::fromStdString("." + name + ".part-"));
                EXPECT_TRUE(aside.join(' ').contains(".aside")) << aside.join(' ').toStdString();
            }
            const grvtest::RunResult py = grvtest::Python(std::string(grvtest::kPythonAcl) + grvtest::kPythonKilled,
                                                          {python, renamed ? "whole" : "part"});
            EXPECT_EQ(py.signal, SIGKILL) << py.err;
            // Whole, old or new, where python's open() leaves what it wrote
            // so far; both with the file's owner, group and mode (the new
            // content's final one).
            const std::string bytes = grvtest::ReadFile(named);
            EXPECT_TRUE(row[2] == "old" ? bytes == kOlderBytes : IsWholeOutput(writer, bytes)) << bytes.substr(0, 40);
            EXPECT_EQ(grvtest::ReadFile(python), renamed ? "python wrote the rest" : "python wrote");
            EXPECT_EQ(ModeAt(named), row[2] == "old" ? kKilledOverMode : row[4]);
            EXPECT_EQ(ModeAt(python), kKilledOverMode);
            // What the kill left is no more readable than the new file.
            for (const QString& left : Leftovers().filter(QString::fromStdString("." + name + ".part-"))) {
                const std::string path = Path(left).toStdString();
                if (std::none_of(std::begin(owners), std::end(owners),
                                 [&](const auto& o) { return o.first == path; })) {
                    EXPECT_EQ(ReadableBeyond(path, row[4]), "") << path;
                }
            }
            // And goes with the next write; nobody's own files stay.
            const auto privately = [&](QFileDevice::Permissions readers) {
                for (const char* source : {"pain.grv", "pain.grz"})
                    ASSERT_TRUE(QFile::setPermissions(Path(source), readers));
            };
            if (narrowed)
                privately(QFile::ReadOwner | QFile::WriteOwner);
            EXPECT_TRUE(Write(writer, QString::fromStdString(named)));
            privately(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(named)));
            EXPECT_EQ(ModeAt(named), row[4]);
            for (const auto& [file, mode] : owners) {
                EXPECT_EQ(grvtest::ReadFile(file), mode == 0600 ? "" : "nobody's own") << file;
                EXPECT_EQ(::unlink(file.c_str()), 0) << file;
            }
            // Judged by the row's own name, so that each row has its verdict.
            const QStringList left = Leftovers().filter(QString::fromStdString("." + name + ".part-"));
            EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
            continue;
        }
        const auto listed = std::find_if(std::begin(kOwnersChanges), std::end(kOwnersChanges),
                                         [&](const RowsChange& c) { return kind.find(c.marker) != std::string::npos; });
        ASSERT_NE(listed, std::end(kOwnersChanges));
        const grvtest::OwnersChange* change = &listed->change;
        bool said = false;
        {
            // As soon as its part is open: for a restore, before its question.
            const grvtest::OwnerChangesAsItWrites owner(named, *change, writer == "backup" ? 2 : 1);
            said = Write(writer, QString::fromStdString(named));
        }
        EXPECT_EQ(said, row[3] == "yes");
        EXPECT_TRUE(IsWholeOutput(writer, grvtest::ReadFile(named)));
        EXPECT_EQ(ModeAt(named), row[4]);
        const grvtest::RunResult py = grvtest::Python(std::string(grvtest::kPythonAcl) + grvtest::kPythonOwnersChange,
                                                      {python, change->change, change->arg});
        EXPECT_TRUE(py.Ok()) << py.err;
        EXPECT_EQ(ModeAt(python), row[4]);
        EXPECT_TRUE(Leftovers().isEmpty());
    }
    EXPECT_GT(n, 0);
}

// The owner makes its file private, takes a reader out of its ACL or adds
// one, or (root) gives it to another account while a writer replaces it:
// the new content has what the owner left, as python's open(path, 'wb')
// writing in place does, never what the file had at the open.
TEST_F(AsNobody, EveryWriterKeepsWhatTheOwnerChangesAsItWritesWithAnAcl) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunOwnersRows(kAsItWrites);
    ::umask(saved);
}

// Root's writer killed (SIGKILL) right after each step it names, over
// nobody's file: the name holds the old file or the new content whole,
// nobody's with its mode, at every step; a later write leaves no part.
TEST_F(AsNobody, EveryWriterKilledAfterAnyStepLeavesTheFileWholeAndItsOwners) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    if (const char* target = std::getenv(kKillTargetVariable)) {
        ASSERT_TRUE(QFile::setPermissions(Path("pain.grv"),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        ASSERT_TRUE(QFile::setPermissions(Path("pain.grz"),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        if (std::getenv(kPrivateJournalVariable)) {
            for (const char* source : {"pain.grv", "pain.grz"})
                ASSERT_TRUE(QFile::setPermissions(Path(source), QFile::ReadOwner | QFile::WriteOwner));
        }
        grvtest::InstallKillAt();
        const char* writer = std::getenv(kKillWriterVariable);
        Write(writer ? writer : "", QString::fromStdString(target));
        ADD_FAILURE() << "the writer was not killed at " << std::getenv(grvtest::kKillAtVariable);
        return;
    }
    RunOwnersRows(kKilledAfter);
    ::umask(saved);
}

// A new name under a default ACL that names nobody and gives others
// nothing, through a bindfs mount, where no file can be made without a
// name: others get nothing, as from python's open() there and on ext4.
TEST_F(WriterTableTest, EveryWriterOfANewFileInAFolderWithAnAclOnBindfs) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunOwnersRows(kOnBindfs);
    ::umask(saved);
}

// An export from a private journal over a file whose ACL lets nobody and
// others read, replaced twenty times while nobody reads every file of its
// name as it appears: nobody never reads any of the export (a part once
// took that ACL before its mode was narrowed, and was read so).
TEST_F(AsNobody, AnExportOverAFileWhoseAclLetsOthersReadIsReadByNoneOfThem) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunOwnersRows(kWatched);
    ::umask(saved);
}

// A new name each time, written through a bindfs view or with no /proc
// mounted, where its part is made by its name, while nobody locks every
// file of its name as it appears: a part was open to all for a moment, and
// the writer waited on nobody's lock as long as nobody held it. Every save
// finishes, whole, with the mode a new file gets, and leaves no part.
TEST_F(AsNobody, EverySaveOfANewNameFinishesWhileNobodyLocksItsPartsOnBindfs) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunOwnersRows("on a bindfs mount, while nobody locks each part");
    ::umask(saved);
}

TEST_F(AsNobody, EverySaveOfANewNameFinishesWhileNobodyLocksItsPartsWithoutProc) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    RunOwnersRows("with no /proc mounted, while nobody locks each part");
    ::umask(saved);
}

// Every writer over the user's file with an ACL where no /proc is mounted
// (a chroot, a container, a build sandbox): replaced, its ACL read from the
// file the open found, as with /proc; python's open() writes there too.
// The writer runs in a child in a mount namespace of its own.
TEST_F(WriterTableTest, EveryWriterReplacesAFileWithAnAclWithoutProc) {
    const mode_t saved = ::umask(022);
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    if (const char* target = std::getenv(kWriteTargetVariable)) {
        // A journal in WAL mode, entries in its -wal, is backed up from a copy.
        if (const char* wal = std::getenv(kInWalModeVariable); wal && *wal) {
            ASSERT_TRUE(QFile::copy(Fixture("journal.grv"), Path("other.grv")));
            ASSERT_TRUE(grvtest::Python(kWalFrames, {Path("other.grv").toStdString()}).Ok());
            ASSERT_TRUE(QFile::setPermissions(Path("other.grv"), QFile::ReadOwner | QFile::WriteOwner |
                                                                     QFile::ReadGroup | QFile::ReadOther));
            backedUp = "other.grv";
        }
        ASSERT_TRUE(grvtest::AwaitProcHidden()) << "/proc is still there";
        for (const char* source : {"pain.grv", "pain.grz"}) {
            ASSERT_TRUE(QFile::setPermissions(Path(source), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                                QFile::ReadOther));
        }
        const char* writer = std::getenv(kKillWriterVariable);
        const bool said = Write(writer ? writer : "", QString::fromStdString(target));
        const std::vector<QString> told = prompter->Texts();
        EXPECT_TRUE(said) << (told.empty() ? std::string() : told.back().toStdString());
        ::umask(saved);
        return;
    }
    RunOwnersRows(kWithoutProc);
    ::umask(saved);
}

// --- Links another account planted ------------------------------------------

// Another account planted links to the user's files in /tmp: backup,
// restore, export and print replaced what they named, and a dangling one
// made a file where it pointed (tests/data/shell/links.txt). The planter is
// nobody, so only a superuser runs this (tests/run-common.sh).

TEST_F(AsNobody, LinksAreFollowedOnlyWhereTheKernelWouldFollowThem) {
    ASSERT_NO_FATAL_FAILURE(MakeSources());
    const QString shared = Path("shared"), private_ = Path("private");
    ASSERT_TRUE(QDir().mkpath(shared) && QDir().mkpath(private_));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(private_).constData(), 0700), 0);
    const auto rows = grvtest::ReadTable(ShellTable("links.txt"), " | ");
    ASSERT_EQ(rows.size(), 28u);
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0] + " through " + row[1]);
        const std::string number = std::to_string(n++);
        // A link to a folder, on the way to the file written in it.
        const bool onTheWay = row[1].find("on the way") != std::string::npos;
        const QString folder = Path(QString::fromStdString("folder" + number));
        ASSERT_TRUE(!onTheWay || QDir().mkpath(folder));
        const QString named = onTheWay ? folder + "/report" : Path(QString::fromStdString("named" + number));
        const bool dangling = row[1] == "planted, to nothing";
        if (!dangling) {
            ASSERT_TRUE(WriteBytes(named, "the user's own file"));
        }
        const QString link = (row[1].find("private") != std::string::npos ? private_ : shared) + "/link" +
                             QString::fromStdString(number);
        ASSERT_EQ(
            ::symlink(QFile::encodeName(onTheWay ? folder : named).constData(), QFile::encodeName(link).constData()),
            0);
        // Or the user's own link, in its private folder, to the planted one.
        const bool through = row[1].find("through one planted") != std::string::npos;
        const QString own = private_ + "/own" + QString::fromStdString(number);
        ASSERT_TRUE(!through ||
                    ::symlink(QFile::encodeName(link).constData(), QFile::encodeName(own).constData()) == 0);
        if (row[1].find("the user's own") == std::string::npos || through) {
            ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
        }
        const QString written = through ? own : link;
        const bool said = Write(row[0], onTheWay ? written + "/report" : written);
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        if (row[2] == "untouched") {
            EXPECT_FALSE(said);
            EXPECT_EQ(dangling ? QFileInfo::exists(named) : Bytes(named) != "the user's own file", false);
        } else {
            EXPECT_TRUE(said);
            EXPECT_TRUE(IsWholeOutput(row[0], Bytes(named).toStdString()));
        }
    }
    for (const QString& folder : {shared, private_})
        EXPECT_TRUE(QDir(folder).entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden).isEmpty());
}
