// Handlers of commands the main window does not offer yet. Their commands
// are disabled (CGRVDlg::kRoutes), so none of these runs from a menu, the
// toolbar or the tray until it is written and its route marked built.
#include "app/shell/GRVDlg.h"

void CGRVDlg::OnDeleteEntry() {}
void CGRVDlg::OnToolbarMedicineCabinet() {}
void CGRVDlg::OnMedicineCabinet() {}
void CGRVDlg::OnActionDetails() {}
void CGRVDlg::OnMoodDetails() {}
void CGRVDlg::OnMedicineDetails() {}
void CGRVDlg::OnSideEffectDetails() {}
void CGRVDlg::OnQuestionDetails() {}
void CGRVDlg::OnNewPainScore() {}
void CGRVDlg::OnEditEntryText() {}
void CGRVDlg::OnDetailsActions() {}
void CGRVDlg::OnDetailsJournal() {}
void CGRVDlg::OnDetailsMedicines() {}
void CGRVDlg::OnDetailsMood() {}
void CGRVDlg::OnDetailsSideEffects() {}
void CGRVDlg::OnDetailsQuestions() {}
void CGRVDlg::OnBackup() {}
void CGRVDlg::OnRestore() {}

bool CGRVDlg::RunFirstTimeWizard(QString&, QString&) { return false; }
