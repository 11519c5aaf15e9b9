// The reports dialog's Print button: the report's detail rows as ruled
// tables, one page per 60 rows.
#include <QPrinter>

#include "app/reports/GRVDlgReports.h"
#include "app/reports/ReportExport.h"
#include "app/reports/ReportPrint.h"
#include "app/reports/ReportQueries.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintJob.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace reports;
using namespace reports_texts;

void CGRVDlgReports::OnBnClickedPrint() {
    m_nPageCount = 0;
    if (!RunReport(kNothingToPrintMessage)) {
        if (!m_bNoRows)
            platform::ui::GetPrompter().Tell(this, kRequestFailedMessage, kRequestFailedTitle);
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    platform::ui::PrintRequest request;
    request.docName = m_strReportType;
    request.fileFolder = platform::ui::ChooserStartFolder(
        {m_pDb && m_pDb->IsOpen() ? QString::fromStdString(m_pDb->GetFolder()) : QString()});
    if (!platform::ui::GetPrinterChooser().Choose(this, printer, request))
        return;
    UseSmallestMargins(&printer);
    PrintJob job(&printer, ReadersOfJournal(m_pDb), JournalOf(m_pDb));
    PrintInfo info;
    const int printed = RunPrintJob(
        job, m_strReportType, info, [this](DeviceContext* dc, PrintInfo* i) { BeginPrinting(dc, i); },
        [this](DeviceContext* dc, PrintInfo* i) { PrintPage(dc, i); });
    if (!printed)
        platform::ui::GetPrompter().Tell(this, PrintFailedMessage(job.FailureReason()), kRequestFailedTitle);
}

void CGRVDlgReports::BeginPrinting(DeviceContext* dc, PrintInfo* info) {
    const int rows = static_cast<int>(m_detailRows.size());
    m_nPageCount = PrintPageCount(rows);
    info->minPage = 1;
    info->maxPage = m_nPageCount;
    m_nLastPageRows = rows % m_nRowsPerPage;
    m_nNextPrintRow = 0;
    info->drawRect = WithHalfInchMargins(info->drawRect, dc);
}

void CGRVDlgReports::PrintPage(DeviceContext* dc, PrintInfo* info) {
    if (info->curPage > m_nPageCount)
        return;
    CPage page(info->drawRect, dc, print::kMapText);
    switch (m_nReportType) {
    case kPainVsActions: PrintActionsPage(&page, info->curPage); break;
    case kPainVsMedications: PrintMedicinesPage(&page, info->curPage); break;
    case kPainVsLife: PrintLifePage(&page, info->curPage); break;
    case kSideEffectsOverTime: PrintSideEffectsPage(&page, info->curPage); break;
    case kMedicinesVsSideEffects: PrintMedicineSideEffectsPage(&page, info->curPage); break;
    default: PrintPainTimePage(&page, info->curPage); break;
    }
}

void CGRVDlgReports::PrintKindPage(CPage* page, int pageNumber, int kind) {
    const int rows = RowsOnPrintPage(pageNumber, m_nPageCount, m_nLastPageRows);
    m_nNextPrintRow = PrintReportPage(*page, PrintLayoutOf(kind), m_detailRows, m_nNextPrintRow, rows);
}

void CGRVDlgReports::PrintActionsPage(CPage* page, int pageNumber) {
    PrintKindPage(page, pageNumber, kPainVsActions);
}

void CGRVDlgReports::PrintMedicinesPage(CPage* page, int pageNumber) {
    PrintKindPage(page, pageNumber, kPainVsMedications);
}

void CGRVDlgReports::PrintLifePage(CPage* page, int pageNumber) {
    PrintKindPage(page, pageNumber, kPainVsLife);
}

void CGRVDlgReports::PrintSideEffectsPage(CPage* page, int pageNumber) {
    PrintKindPage(page, pageNumber, kSideEffectsOverTime);
}

void CGRVDlgReports::PrintMedicineSideEffectsPage(CPage* page, int pageNumber) {
    PrintKindPage(page, pageNumber, kMedicinesVsSideEffects);
}

void CGRVDlgReports::PrintPainTimePage(CPage* page, int pageNumber) {
    PrintKindPage(page, pageNumber, kPainVsTime);
}
