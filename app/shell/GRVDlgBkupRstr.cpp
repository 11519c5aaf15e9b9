#include "app/shell/GRVDlgBkupRstr.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/JournalFiles.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "archive/ZipArchive.h"
#include "archive/ZipReader.h"
#include "archive/ZipTime.h"
#include "platform/File.h"
#include "platform/PartFile.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::FileMode;
using platform::ui::FileRequest;
using platform::ui::GetFileChooser;
using platform::ui::GetPrompter;

namespace grv {

void SplitPath(const QString& path, QString& folder, QString& fileName) {
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    folder = p.left(slash + 1);
    fileName = p.mid(slash + 1);
}

bool IsSameFile(const QString& a, const QString& b) {
    return platform::IsSameFile(QFile::encodeName(a).toStdString(), QFile::encodeName(b).toStdString());
}

} // namespace grv

namespace {

QString IdName(int id) {
    return QString::number(id);
}

QString Absolute(const QString& folder, const QString& fileName) {
    if (fileName.isEmpty())
        return {};
    // Relative paths would otherwise follow whatever folder is current.
    return QFileInfo(folder + fileName).absoluteFilePath();
}

// The failures of a restore, in the user's words.
const char* RestoreFailure(ZipResult r) {
    switch (r) {
    case ZipResult::WrongPassword: return kWrongPassword;
    case ZipResult::UnsupportedEncryption: return kRestoreUnreadableEncryption;
    case ZipResult::DiskFull: return kRestoreDiskFull;
    case ZipResult::CannotOpen:
    case ZipResult::WriteError: return kRestoreCannotWrite;
    default: return kRestoreDamaged;
    }
}

// The folders made for a target that did not have one yet; removed again,
// while empty, unless the restore that needed them succeeded.
class CreatedFolders {
public:
    explicit CreatedFolders(const QString& folder) {
        for (QString f = QDir::cleanPath(folder); !f.isEmpty() && !QFileInfo::exists(f);) {
            m_folders.prepend(f);
            const QString up = QFileInfo(f).path();
            if (up == f)
                break;
            f = up;
        }
        QDir().mkpath(folder);
    }
    ~CreatedFolders() {
        for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it)
            QDir().rmdir(*it);
    }
    CreatedFolders(const CreatedFolders&) = delete;
    CreatedFolders& operator=(const CreatedFolders&) = delete;
    void Keep() { m_folders.clear(); }

private:
    QStringList m_folders; // outermost first
};

} // namespace

CGRVDlgBkupRstr::CGRVDlgBkupRstr(int mode, QWidget* parent) : QDialog(parent), m_nMode(mode) {
    setObjectName(IdName(IDD_BKUP_RSTR));
    setWindowTitle(QString::fromLatin1(kBackupCaption));
    auto* top = new QVBoxLayout(this);

    auto* details = new QGroupBox(this);
    m_ctlDetailsGroup = details;
    details->setObjectName(IdName(IDC_BR_DETAILS_GROUP));
    auto* grid = new QGridLayout(details);
    auto addPathRow = [&](int row, int textId, QLabel*& label, int editId, int buttonId, QLineEdit*& edit) {
        label = new QLabel(details);
        label->setObjectName(IdName(textId));
        label->setWordWrap(true);
        grid->addWidget(label, row, 0, 1, 2);
        edit = new QLineEdit(details);
        edit->setObjectName(IdName(editId));
        edit->installEventFilter(this);
        grid->addWidget(edit, row + 1, 0);
        auto* browse = new QPushButton(QStringLiteral("Browse"), details);
        browse->setObjectName(IdName(buttonId));
        browse->setAutoDefault(false);
        grid->addWidget(browse, row + 1, 1);
        return browse;
    };
    QPushButton* browseSource =
        addPathRow(0, IDC_BR_SOURCE_TEXT, m_ctlSourceText, IDC_BR_SOURCE, IDC_BR_BROWSE_SOURCE, m_ctlSource);
    QPushButton* browseTarget =
        addPathRow(2, IDC_BR_TARGET_TEXT, m_ctlTargetText, IDC_BR_TARGET, IDC_BR_BROWSE_TARGET, m_ctlTarget);
    top->addWidget(details);

    auto* security = new QGroupBox(QStringLiteral("Security Details"), this);
    security->setObjectName(IdName(IDC_BR_SECURITY_GROUP));
    auto* secBox = new QVBoxLayout(security);
    auto* secText = new QLabel(security);
    m_ctlSecurityText = secText;
    secText->setObjectName(IdName(IDC_BR_SECURITY_TEXT));
    secText->setWordWrap(true);
    secBox->addWidget(secText);
    auto* pwRow = new QHBoxLayout;
    m_ctlPasswordText = new QLabel(security);
    m_ctlPasswordText->setObjectName(QStringLiteral("passwordText"));
    pwRow->addWidget(m_ctlPasswordText);
    m_ctlPassword = new QLineEdit(security);
    m_ctlPassword->setObjectName(IdName(IDC_BR_PASSWORD));
    m_ctlPassword->setEchoMode(QLineEdit::Password);
    pwRow->addWidget(m_ctlPassword, 1);
    m_ctlShowPassword = new QCheckBox(QStringLiteral("Show Password"), security);
    m_ctlShowPassword->setObjectName(IdName(IDC_BR_SHOW_PASSWORD));
    pwRow->addWidget(m_ctlShowPassword);
    secBox->addLayout(pwRow);
    top->addWidget(security);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_btnAction = new QPushButton(QString::fromLatin1(kBackupButton), this);
    m_btnAction->setObjectName(IdName(IDC_BR_ACTION));
    m_btnAction->setAutoDefault(false);
    buttons->addWidget(m_btnAction);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(IdName(IDOK));
    ok->hide();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(IdName(IDCANCEL));
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
    top->addLayout(buttons);

    connect(browseSource, &QPushButton::clicked, this, &CGRVDlgBkupRstr::OnBrowseSource);
    connect(browseTarget, &QPushButton::clicked, this, &CGRVDlgBkupRstr::OnBrowseTarget);
    connect(m_btnAction, &QPushButton::clicked, this, &CGRVDlgBkupRstr::OnBackupRestore);
    connect(m_ctlShowPassword, &QCheckBox::clicked, this, &CGRVDlgBkupRstr::OnShowPassword);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    ShowModeTexts();
}

void CGRVDlgBkupRstr::ShowModeTexts() {
    const ModeTexts& texts = m_nMode == kModeBackup ? kBackupModeTexts : kRestoreModeTexts;
    m_ctlDetailsGroup->setTitle(QString::fromLatin1(texts.details));
    m_ctlSourceText->setText(QString::fromLatin1(texts.source));
    m_ctlTargetText->setText(QString::fromLatin1(texts.target));
    m_ctlSecurityText->setText(QString::fromLatin1(texts.security));
    m_ctlPasswordText->setText(QString::fromLatin1(texts.password));
    m_btnAction->setText(QString::fromLatin1(texts.action));
}

void CGRVDlgBkupRstr::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnShowWindow();
}

bool CGRVDlgBkupRstr::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_ctlSource)
            OnKillFocusSource();
        if (watched == m_ctlTarget)
            OnKillFocusTarget();
    }
    return QDialog::eventFilter(watched, event);
}

void CGRVDlgBkupRstr::OnShowWindow() {
    // The mode may have been set after the dialog was made.
    ShowModeTexts();
    if (m_nMode == kModeBackup)
        m_ctlSource->setText(m_strSourceFolder + m_strSourceFile);
}

void CGRVDlgBkupRstr::OnBrowseSource() {
    Browse(true);
}
void CGRVDlgBkupRstr::OnBrowseTarget() {
    Browse(false);
}

void CGRVDlgBkupRstr::Browse(bool source) {
    const bool backup = m_nMode == kModeBackup;
    // The source is the journal when backing up and the archive when
    // restoring; the target the other one.
    const bool journal = source == backup;
    FileRequest request;
    request.mode = source ? FileMode::Open : FileMode::Save;
    // The pattern is the filter's; the name box starts empty.
    request.initialPath = platform::ui::ChooserStartFolder({m_strJournalFolder});
    request.filter = QString::fromLatin1(journal ? kDbFilter : kArchiveFilter);
    request.defaultSuffix = journal ? QStringLiteral("grv") : QStringLiteral("grz");
    // Nothing is replaced while browsing: the dialog asks when it is about
    // to replace the target, which may by then be the open journal.
    request.confirmOverwrite = false;
    const QString chosen = GetFileChooser().Choose(nullptr, request);
    if (chosen.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kNoFileSelected), QString::fromLatin1(kNoFileSelectedTitle));
        return;
    }
    QString& folder = source ? m_strSourceFolder : m_strTargetFolder;
    QString& fileName = source ? m_strSourceFile : m_strTargetFile;
    SplitPath(chosen, folder, fileName);
    (source ? m_ctlSource : m_ctlTarget)->setText(folder + fileName);
}

void CGRVDlgBkupRstr::TakePath(QLineEdit* edit, QString& folder, QString& fileName) {
    SplitPath(edit->text(), folder, fileName);
}

void CGRVDlgBkupRstr::OnKillFocusSource() {
    TakePath(m_ctlSource, m_strSourceFolder, m_strSourceFile);
}

void CGRVDlgBkupRstr::OnKillFocusTarget() {
    TakePath(m_ctlTarget, m_strTargetFolder, m_strTargetFile);
}

void CGRVDlgBkupRstr::OnShowPassword() {
    m_ctlPassword->setEchoMode(m_ctlShowPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
    m_ctlPassword->update();
}

QString CGRVDlgBkupRstr::SourcePath() const {
    return Absolute(m_strSourceFolder, m_strSourceFile);
}
QString CGRVDlgBkupRstr::TargetPath() const {
    return Absolute(m_strTargetFolder, m_strTargetFile);
}

bool CGRVDlgBkupRstr::IsOpenJournal(const QString& path) const {
    return m_pDb && m_pDb->IsOpen() && IsSameFile(path, QString::fromStdString(m_pDb->GetFullPath()));
}

bool CGRVDlgBkupRstr::ConfirmReplace(const QString& target) {
    if (!QFileInfo::exists(target))
        return true;
    const char* question = IsOpenJournal(target) ? kReplaceOpenJournalQuestion : kReplaceQuestion;
    return GetPrompter().AskYesNo(this, QString::fromLatin1(question).arg(target), QString::fromLatin1(kReplaceTitle),
                                  platform::ui::Icon::Warning, platform::ui::Answer::No);
}

void CGRVDlgBkupRstr::ShowError(const char* text, const char* title) {
    GetPrompter().Tell(this, QString::fromLatin1(text), QString::fromLatin1(title));
}

void CGRVDlgBkupRstr::ShowRefusal(const char* text, const char* plain, int error, const std::string& path) {
    const char* why = platform::RefusalReason(error, path);
    if (!why) {
        ShowError(plain, kBackupErrorTitle);
        return;
    }
    GetPrompter().Tell(this, QString::fromLatin1(text).arg(QString::fromLatin1(why)),
                       QString::fromLatin1(kBackupErrorTitle));
}

void CGRVDlgBkupRstr::OnBackupRestore() {
    // What the edits show is what runs, typed or browsed.
    OnKillFocusSource();
    OnKillFocusTarget();
    // Passwords are taken as their UTF-8 bytes.
    const QByteArray password = m_ctlPassword->text().toUtf8();
    const bool finished = m_nMode == kModeBackup ? RunBackup(password) : RunRestore(password);
    if (!finished)
        return;
    GetPrompter().Tell(this, QString::fromLatin1(kOperationComplete), QString::fromLatin1(kOperationCompleteTitle));
    done(IDOK);
}

bool CGRVDlgBkupRstr::RunBackup(const QByteArray& password) {
    const QString source = SourcePath();
    const QString target = TargetPath();
    if (source.isEmpty() || target.isEmpty()) {
        ShowError(kBackupFailed, kBackupErrorTitle);
        return false;
    }
    // The archive replaces its target, so it must never land on the journal,
    // nor on a side file SQLite keeps beside any database.
    const std::string named = QFile::encodeName(target).toStdString();
    const platform::DatabaseTarget onto = platform::DatabaseTargetOf(named, QFile::encodeName(source).toStdString());
    if (onto != platform::DatabaseTarget::None) {
        ShowError(onto == platform::DatabaseTarget::Database ? kSameFile : kBackupOntoSideFile, kBackupErrorTitle);
        return false;
    }
    if (m_pDb && m_pDb->IsOpen() &&
        platform::DatabaseTargetOf(named, m_pDb->GetFullPath()) == platform::DatabaseTarget::Database) {
        ShowError(kTargetIsOpenJournal, kBackupErrorTitle);
        return false;
    }
    // What SQLite reads, not the file's bytes: a journal another program
    // keeps in WAL mode holds its latest entries in its -wal file. Read
    // before the user is asked about replacing an older backup, which is
    // named as the file a link there leads to.
    const std::string archive = QFile::encodeName(target).toStdString();
    const QString landing = QFile::decodeName(platform::FollowLinks(archive.c_str()).c_str());
    int refusal = 0;
    const BackupOutcome outcome = WriteJournalBackup(
        QFile::encodeName(source).toStdString(), archive, m_strSourceFile.toUtf8().toStdString(),
        password.toStdString(), [&] { return ConfirmReplace(landing); }, &refusal);
    switch (outcome) {
    case BackupOutcome::Done: return true;
    case BackupOutcome::Declined: return false;
    case BackupOutcome::Busy: ShowError(kBackupJournalBusy, kBackupErrorTitle); return false;
    case BackupOutcome::Damaged: ShowError(kBackupJournalDamaged, kBackupErrorTitle); return false;
    case BackupOutcome::DiskFull: ShowError(kBackupDiskFull, kBackupErrorTitle); return false;
    case BackupOutcome::Refused: ShowRefusal(kBackupRefused, kBackupFailed, refusal, archive); return false;
    case BackupOutcome::Failed: break;
    }
    ShowError(kBackupFailed, kBackupErrorTitle);
    return false;
}

const char* CGRVDlgBkupRstr::ExtractJournal(ZipHandle* zip, int count, platform::PartFile& part) {
    bool wrote = false;
    ZipEntryInfo record;
    ZipEntryInfo written;
    // A backup of many entries takes a while: the progress shows, and the
    // windows go on painting between the entries. It is gone before any
    // failure is told.
    QProgressDialog progress(QString::fromLatin1(kRestoreProgress), QString(), 0, count, this);
    progress.setObjectName(QStringLiteral("restoreProgress"));
    progress.setWindowTitle(QString::fromLatin1(kBackupCaption));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(m_nProgressDelayMs);
    progress.setAutoClose(false);
    // Every file entry goes to the one journal file; folders are no journal.
    for (int i = 0; i < count; ++i) {
        progress.setValue(i);
        // Painting, not input: a second press of Restore must not start a
        // restore inside this one before the progress blocks the dialog.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        // The restore names the journal itself: an entry's own name, even
        // one that names no file, is never used.
        const ZipResult listed = GetZipArchiveEntry(zip, i, &record);
        if (listed != ZipResult::Ok && listed != ZipResult::NameUnusable)
            return listed == ZipResult::UnsupportedEncryption ? kRestoreUnreadableEncryption : kRestoreDamaged;
        if (record.attributes & kZipAttrDirectory)
            continue;
        // Each entry replaces what the one before wrote.
        int fd = part.Fd();
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
            return kRestoreCannotWrite;
        const ZipResult extracted = extractZipEntry(zip, i, &fd, 0, archive::kZipTargetHandle);
        if (extracted != ZipResult::Ok)
            return RestoreFailure(extracted);
        written = record;
        wrote = true;
    }
    if (!wrote)
        return kRestoreEmpty;
    // The journal gets its modification time back.
    const struct timespec times[2] = {archive::ToTimespec(written.accessTime),
                                      archive::ToTimespec(written.lastWriteTime)};
    ::futimens(part.Fd(), times);
    return nullptr;
}

bool CGRVDlgBkupRstr::RunRestore(const QByteArray& password) {
    const QString source = SourcePath();
    const QString asked = TargetPath();
    ZipHandle* zip =
        source.isEmpty() ? nullptr : OpenZipArchive(QFile::encodeName(source).constData(), password.constData());
    if (!zip) {
        // Entries that overlap are a damaged backup, not a file of another kind.
        const bool damaged = !source.isEmpty() && LastZipReaderResult() == ZipResult::Corrupt;
        ShowError(damaged ? kRestoreDamaged : kRestoreCannotOpen, kBackupErrorTitle);
        return false;
    }
    // The reader handle is closed on every road out.
    struct Closer {
        ZipHandle* zip;
        ~Closer() { CloseZipReader(zip); }
    } closer{zip};
    if (asked.isEmpty()) {
        ShowError(kRestoreCannotWrite, kBackupErrorTitle);
        return false;
    }
    if (IsSameFile(source, asked)) {
        ShowError(kSameFile, kBackupErrorTitle);
        return false;
    }
    ZipEntryInfo record;
    if (GetZipArchiveEntry(zip, -1, &record) != ZipResult::Ok) {
        ShowError(kRestoreDamaged, kBackupErrorTitle);
        return false;
    }
    const int count = record.index;
    if (count <= 0) {
        ShowError(kRestoreEmpty, kBackupErrorTitle);
        return false;
    }
    // A link is followed, a dangling one too, so the file it names is what
    // gets replaced or made.
    const QString target = QFile::decodeName(platform::FollowLinks(QFile::encodeName(asked).constData()).c_str());
    // A journal is a regular file: a device or a pipe there is refused, never
    // replaced by the renamed journal.
    struct stat st;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        ShowError(kRestoreCannotWrite, kBackupErrorTitle);
        return false;
    }
    // The open journal is this program's own, closed once the user agrees.
    const JournalTarget state =
        IsOpenJournal(target) ? JournalTarget::Free : CheckJournalTarget(QFile::encodeName(target).toStdString());
    if (state != JournalTarget::Free) {
        ShowError(state == JournalTarget::InUse         ? kRestoreTargetInUse
                  : state == JournalTarget::NameTooLong ? kRestoreNameTooLong
                  : state == JournalTarget::SideFile    ? kRestoreOntoSideFile
                  : state == JournalTarget::ForeignSides
                      ? (platform::FolderOnlyYouWrite(platform::FollowLinks(QFile::encodeName(target).constData()))
                             ? kRestoreForeignSideFileInOwnFolder
                             : kRestoreForeignSideFile)
                      : kRestoreTargetBlocked,
                  kBackupErrorTitle);
        return false;
    }

    // The journal is written beside the target first: a wrong password, a
    // damaged backup or a full disk leaves the target, open or not, as it
    // was, and the user is asked about replacing it only once the restore
    // can go ahead. It is no more readable than the backup, or than the
    // journal it replaces.
    CreatedFolders folders(QFileInfo(target).absolutePath());
    platform::PartFile part;
    const std::string restored = QFile::encodeName(target).toStdString();
    if (const int error = part.Open(restored, platform::ReadersOf(QFile::encodeName(source).toStdString()), false)) {
        ShowRefusal(kRestoreRefused, kRestoreCannotWrite, error, restored);
        return false;
    }
    if (const char* failure = ExtractJournal(zip, count, part)) {
        ShowError(failure, failure == kWrongPassword ? kWrongPasswordTitle : kBackupErrorTitle);
        return false;
    }
    // What the backup held must open as a journal, by the same check Open
    // makes, before anything is replaced by it: the part read alone, never
    // with a side file another account put beside it. A folder moved away
    // meanwhile is what failed, not the backup.
    {
        // Read by its descriptor: what stands at its path may be another's;
        // without /proc to name that, a copy in a private folder.
        std::string alone = platform::DescriptorPath(part.Fd());
        platform::PrivateFolder spare;
        if (!platform::DescriptorPathLeadsTo(part.Fd())) {
            const int copy = spare.MakeFile("journal", alone);
            const int error = copy < 0 ? errno : platform::CopyFileBytes(part.Fd(), copy);
            if (copy >= 0)
                ::close(copy);
            if (error != 0) {
                ShowError(platform::IsDiskFull(error) ? kRestoreDiskFull : kRestoreCannotWrite, kBackupErrorTitle);
                return false;
            }
        }
        CJournalDb check;
        check.SetFolder(alone.substr(0, alone.rfind('/')));
        check.SetFileName(alone.substr(alone.rfind('/') + 1));
        const bool journal = check.CheckAlone();
        if (part.Refusal() == platform::kFolderMoved) {
            ShowRefusal(kRestoreRefused, kRestoreCannotWrite, platform::kFolderMoved, restored);
            return false;
        }
        if (!journal) {
            ShowError(kRestoreNoJournal, kBackupErrorTitle);
            return false;
        }
    }
    platform::KillPoint("part-written");
    if (!ConfirmReplace(target))
        return false;
    if (IsOpenJournal(target) && !(m_closeOpenJournal && m_closeOpenJournal())) {
        ShowError(kRestoreCloseFailed, kBackupErrorTitle);
        return false;
    }
    // What an earlier restore that was stopped left here goes now.
    part.RemoveLeftovers();
    platform::KillPoint("leftovers-removed");
    if (const int error = ReplaceJournal(part)) {
        if (error == kJournalInUse || error == EBUSY || platform::IsDiskFull(error))
            ShowError(error == kJournalInUse ? kRestoreTargetInUse
                      : error == EBUSY       ? kRestoreTargetUnsettled
                                             : kRestoreDiskFull,
                      kBackupErrorTitle);
        else
            ShowRefusal(kRestoreRefused, kRestoreCannotWrite, error, restored);
        return false;
    }
    folders.Keep();
    return true;
}
