#include "app/shell/DialogBase.h"

void CDialogBase::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
    if (visible && isVisible()) OnShowWindow();
}
