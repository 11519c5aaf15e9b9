// Handlers of commands the main window does not offer yet. Their commands
// are disabled (CGRVDlg::kRoutes), so none of these runs from a menu, the
// toolbar or the tray until it is written and its route marked built.
#include "app/shell/GRVDlg.h"

void CGRVDlg::OnBackup() {}
void CGRVDlg::OnRestore() {}

bool CGRVDlg::RunFirstTimeWizard(QString&, QString&) { return false; }
