// The Database commands of the main window: New, Open and Close.
#include <QDir>
#include <QFileInfo>
#include <QTreeWidget>
#include <vector>

#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/OScopeCtrl.h"
#include "app/shell/Profile.h"
#include "app/shell/ShellTexts.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::FileMode;
using platform::ui::FileRequest;
using platform::ui::GetFileChooser;
using platform::ui::GetPrompter;

namespace {

struct ChosenFile {
    QString folder;
    QString fileName;
};

// The chosen path as folder and file name, remembered as the last file
// chosen whatever becomes of it.
ChosenFile TakeChosenPath(const QString& path) {
    const QFileInfo info(path);
    ChosenFile chosen{QDir::cleanPath(info.absolutePath()), info.fileName()};
    WriteProfileString(kSectionMru, kLastFile, chosen.fileName);
    WriteProfileString(kSectionMru, kLastPath, chosen.folder);
    return chosen;
}

FileRequest DatabaseRequest(FileMode mode, const char* filter, const CJournalDb& db) {
    FileRequest request;
    request.mode = mode;
    request.initialPath = platform::ui::ChooserStartFolder(
        {db.IsOpen() ? QString::fromStdString(db.GetFolder()) : QString(), GetProfileString(kSectionMru, kLastPath)});
    request.filter = QString::fromLatin1(filter);
    request.defaultSuffix = QStringLiteral("grv");
    // New never writes over a file: the store refuses and says so.
    request.confirmOverwrite = false;
    return request;
}

} // namespace

bool CGRVDlg::SwitchJournal(const QString& folder, const QString& fileName, int create) {
    const QString failure = QString::fromLatin1(create ? kDbCreateFailed : kDbOpenFailed);
    const QString title = create ? QString::fromLatin1(kTitleGorvane) : QString();
    {
        CJournalDb probe;
        probe.SetFolder(folder.toStdString());
        probe.SetFileName(fileName.toStdString());
        if (!probe.Open(create) || !probe.ReadsAsDatabase()) {
            GetPrompter().Tell(this, failure.arg(QString::fromStdString(probe.GetLastErrorText())), title);
            return false;
        }
        probe.Close();
    }
    m_db.Close();
    m_db.SetFolder(folder.toStdString());
    m_db.SetFileName(fileName.toStdString());
    if (m_db.Open(0))
        return true;
    GetPrompter().Tell(this, failure.arg(QString::fromStdString(m_db.GetLastErrorText())), title);
    ShowNoJournal();
    return false;
}

void CGRVDlg::ShowOpenedJournal() {
    setWindowTitle(QString::fromLatin1(kCaptionWithFile).arg(QString::fromStdString(m_db.GetFileName())));
    // Nothing of the journal before may be saved into this one.
    ResetEntryRecords();
    ClearForm(1);
    RefreshEntryList();
    RefreshTrend();
}

void CGRVDlg::ShowNoJournal() {
    m_wndGraph->Reset();
    m_ctlEntryList->clear();
    setWindowTitle(QString::fromLatin1(kAppCaption));
    ResetEntryRecords();
    ClearForm(0);
}

void CGRVDlg::OnDatabaseNew() {
    const QString path = GetFileChooser().Choose(this, DatabaseRequest(FileMode::Save, kDbFilter, m_db));
    if (path.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kDbNewCancelled), QString::fromLatin1(kDbNewCancelledTitle));
        return;
    }
    const ChosenFile chosen = TakeChosenPath(path);
    if (chosen.fileName.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kDbNoName), QString::fromLatin1(kTitleGorvane));
        return;
    }
    if (!SwitchJournal(chosen.folder, chosen.fileName, 1))
        return;
    ShowOpenedJournal();
    GetPrompter().Tell(this, QString::fromLatin1(kDbCreated), QString::fromLatin1(kTitleGorvane));
}

void CGRVDlg::OnDatabaseOpen() {
    // The journal open now stays open until another one is chosen.
    const QString path = GetFileChooser().Choose(this, DatabaseRequest(FileMode::Open, kDbOpenFilter, m_db));
    if (path.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kDbOpenCancelled), QString::fromLatin1(kTitleGorvane));
        return;
    }
    const ChosenFile chosen = TakeChosenPath(path);
    if (chosen.fileName.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kDbNoName), QString::fromLatin1(kTitleGorvane));
        return;
    }
    if (SwitchJournal(chosen.folder, chosen.fileName, 0))
        ShowOpenedJournal();
}

void CGRVDlg::OnDatabaseClose() {
    if (!m_db.Close()) {
        GetPrompter().Tell(this, QString::fromStdString(m_db.GetLastErrorText()), QString::fromLatin1(kTitleGorvane));
        // The store lets go of a journal it could not close cleanly.
        if (m_db.IsOpen())
            return;
    }
    ShowNoJournal();
}
