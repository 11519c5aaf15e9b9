// The main window's Backup and Restore commands.
#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgBkupRstr.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::GetPrompter;

bool CGRVDlg::CloseJournalAsDatabaseClose() {
    OnDatabaseClose();
    return !m_db.IsOpen();
}

namespace {

QString JournalFolder(const CJournalDb& db) {
    return db.IsOpen() ? QString::fromStdString(db.GetFolder()) : QString();
}

} // namespace

void CGRVDlg::OnBackup() {
    CGRVDlgBkupRstr dlg(CGRVDlgBkupRstr::kModeBackup, this);
    dlg.m_pDb = &m_db;
    dlg.m_strJournalFolder = JournalFolder(m_db);
    bool closed = false;
    // The journal's file must not be in use while it is read.
    if (m_db.IsOpen() && GetPrompter().AskYesNo(this, QString::fromLatin1(kBackupCurrentQuestion),
                                                QString::fromLatin1(kBackupCurrentTitle))) {
        dlg.m_strSourceFolder = QString::fromStdString(m_db.GetFolder());
        if (!dlg.m_strSourceFolder.endsWith(QLatin1Char('/')))
            dlg.m_strSourceFolder += '/';
        dlg.m_strSourceFile = QString::fromStdString(m_db.GetFileName());
        m_db.Close();
        closed = true;
    }
    dlg.exec();
    if (!closed)
        return;
    if (m_db.Open(0)) {
        setWindowTitle(QString::fromLatin1(kCaptionWithFile).arg(QString::fromStdString(m_db.GetFileName())));
        RefreshEntryList();
        RefreshTrend();
        return;
    }
    GetPrompter().Tell(this, QString::fromLatin1(kDbOpenFailed).arg(QString::fromStdString(m_db.GetLastErrorText())),
                       QString::fromLatin1(kReopenFailedTitle));
    // No journal is open now: the window must not go on showing one.
    CloseJournalAsDatabaseClose();
}

void CGRVDlg::OnRestore() {
    CGRVDlgBkupRstr dlg(CGRVDlgBkupRstr::kModeRestore, this);
    dlg.m_pDb = &m_db;
    dlg.m_strJournalFolder = JournalFolder(m_db);
    dlg.m_closeOpenJournal = [this] { return CloseJournalAsDatabaseClose(); };
    if (dlg.exec() == IDOK)
        GetPrompter().Tell(this, QString::fromLatin1(kRestoreDoneText), QString::fromLatin1(kRestoreDoneTitle));
}
