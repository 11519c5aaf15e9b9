// Handlers of commands the main window does not offer yet. Their commands
// are disabled (CGRVDlg::kRoutes), so none of these runs from a menu, the
// toolbar or the tray until it is written and its route marked built.
#include "app/shell/GRVDlg.h"

void CGRVDlg::OnNewEntry() {}
void CGRVDlg::OnFindEntry() {}
void CGRVDlg::OnSaveEntry() {}
void CGRVDlg::OnCloseEntry() {}
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
void CGRVDlg::OnDatabaseNew() {}
void CGRVDlg::OnDatabaseOpen() {}
void CGRVDlg::OnDatabaseClose() {}
void CGRVDlg::OnBackup() {}
void CGRVDlg::OnRestore() {}
void CGRVDlg::OnFilePrint() {}
void CGRVDlg::ShowGraph() {}
void CGRVDlg::HideGraph() {}
void CGRVDlg::OnToggleGraph() {}
void CGRVDlg::OnTrendCurrent() {}
void CGRVDlg::OnTrendAverage() {}
void CGRVDlg::OnTrendLowest() {}
void CGRVDlg::OnTrendWorst() {}

// Called from the frame's own start-up; they do their part once written.
int CGRVDlg::RefreshTrend() { return 0; }
void CGRVDlg::InitEntryList() {}
void CGRVDlg::ClearForm(int) {}
void CGRVDlg::RefreshEntryList() {}
bool CGRVDlg::RunFirstTimeWizard(QString&, QString&) { return false; }
