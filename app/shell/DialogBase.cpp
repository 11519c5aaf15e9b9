#include "app/shell/DialogBase.h"

#include "app/shell/DetailTexts.h"
#include "platform/ui/Seams.h"

void CDialogBase::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
    if (visible && isVisible())
        OnShowWindow();
}

void CDialogBase::TellNoJournal() {
    platform::ui::GetPrompter().Tell(this, QString::fromLatin1(grv::kNeedOpenDb));
}

void CDialogBase::TellStoreError(const CJournalDb& db) {
    platform::ui::GetPrompter().Tell(this, QString::fromStdString(db.GetLastErrorText()));
}
