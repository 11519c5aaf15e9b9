#pragma once
// The reports dialog: a report kind and a date range, the kind's detail rows
// in a list and its summary rows as a chart. The journal is lent by the
// main window; the dialog never opens or closes it.
#include <QDateTime>
#include <QDialog>
#include <QRect>
#include <QString>
#include <cstdint>

#include "app/store/JournalTypes.h"

class CGraphObject;
class CJournalDb;
class CPage;
class DeviceContext;
struct PrintInfo;
class QComboBox;
class QDateTimeEdit;
class QFrame;
class QPushButton;
class QTreeWidget;

namespace reports_texts {

inline const QString kSameTimesTitle = QStringLiteral("Date/Time Issue");
inline const QString kReversedTimesMessage =
    QStringLiteral("Your end date is older then your beginning date.  Please choose beginning time older then "
                   "end time.");
inline const QString kTooLittleDataMessage =
    QStringLiteral("There does not appear to be enough data to graph.  Are you sure you have made enough "
                   "entries for the time span you are trying to report on?");
// Export and Print of a report without rows say so in place of the
// chart's message and the generic failure.
inline const QString kNothingToExportMessage =
    QStringLiteral("There is nothing to export: the journal holds no entries for this report in the time span "
                   "you chose.");
inline const QString kNothingToPrintMessage =
    QStringLiteral("There is nothing to print: the journal holds no entries for this report in the time span "
                   "you chose.");
inline const QString kRequestFailedMessage = QStringLiteral("Error Processing Your Request");
inline const QString kRequestFailedTitle = QStringLiteral("Error");
inline const QString kNoFileMessage =
    QStringLiteral("It appears that you canceled instead of picking a file name.  No data will be exported.  "
                   "Please try again if this is a mistake.");
inline const QString kNoFileTitle = QStringLiteral("Gorvane - No File Selected");
// %1 the file, %2 the system's reason.
inline const QString kWriteFailedMessage =
    QStringLiteral("The report could not be written to %1 (%2).  No data was exported.");
// %1 the file.
inline const QString kExportDiskFullMessage =
    QStringLiteral("The disk where %1 was to be written is full, so no data was exported.  Please make room there "
                   "or choose another place, and try again.");
inline const QString kWriteFailedTitle = QStringLiteral("Gorvane - Export Failed");
inline const QString kExportFilter = QStringLiteral("CSV Files (*.csv)|*.csv|All Files (*.*)|*.*||");
inline const QString kExportSuffix = QStringLiteral("csv");
inline const QString kExportTitle = QStringLiteral("Gorvane - Export");
// %1 the file written.
inline const QString kExportedMessage = QStringLiteral("The report was exported to %1");
inline const QString kExportReplaceQuestion = QStringLiteral("%1 already exists.\nDo you want to replace it?");

} // namespace reports_texts

class CGRVDlgReports : public QDialog {
    Q_OBJECT

public:
    static constexpr int kRowsPerPage = 60;
    static constexpr int kChartControlId = 1104;

    explicit CGRVDlgReports(QWidget* parent = nullptr);
    ~CGRVDlgReports() override;

    // Shows noRows, and sets m_bNoRows, when the span holds too little to report.
    int RunReport(const QString& noRows = reports_texts::kTooLittleDataMessage);
    int BuildQueries();
    int LoadReportRows(const QString& noRows = reports_texts::kTooLittleDataMessage);
    int SetupListColumns();
    int FillResultList();
    int SetupChart();
    int AddChartSegments();
    int AddChartSeries();
    int SetChartValues();

    void OnCbnSelchangeReportType();
    void OnDtnDatetimechangeFrom();
    void OnDtnDatetimechangeTo();
    void OnBnClickedCreate();
    void OnBnClickedExport();
    void OnBnClickedPrint();

    void BeginPrinting(DeviceContext* dc, PrintInfo* info);
    void PrintPage(DeviceContext* dc, PrintInfo* info);
    void PrintActionsPage(CPage* page, int pageNumber);
    void PrintMedicinesPage(CPage* page, int pageNumber);
    void PrintLifePage(CPage* page, int pageNumber);
    void PrintSideEffectsPage(CPage* page, int pageNumber);
    void PrintMedicineSideEffectsPage(CPage* page, int pageNumber);
    void PrintPainTimePage(CPage* page, int pageNumber);

    CJournalDb* m_pDb = nullptr;
    QRect m_rcGraph;
    int m_nPageCount = 0;
    int m_nRowsPerPage = kRowsPerPage;
    int m_nLastPageRows = 0;
    int m_nNextPrintRow = 0;
    CGraphObject* m_pGraph = nullptr;
    QDateTime m_dtFrom;
    QDateTime m_dtTo;
    qint64 m_spanRange = 0; // seconds, To minus From, for the pain-versus-time kind
    int m_nReportType = 5;
    QString m_strReportType;
    std::string m_strSummarySql;
    std::string m_strDetailSql;
    int m_nSummaryCols = 0;
    int m_nDetailCols = 0;
    int m_nSummaryRowCount = 0;
    int m_nDetailRowCount = 0;
    ReportRows m_summaryRows;
    ReportRows m_detailRows;
    bool m_bNoRows = false; // the last run found too little to report

    QComboBox* ReportTypeCombo() const { return m_ctlReportType; }
    QDateTimeEdit* FromPicker() const { return m_ctlFrom; }
    QDateTimeEdit* ToPicker() const { return m_ctlTo; }
    QTreeWidget* ResultList() const { return m_ctlResultList; }

private:
    void BuildControls();
    void OnInitDialog();
    // Moves the pickers' values into the members (true) or back (false).
    void UpdateData(bool fromControls);
    // A sorted drop-down: every text goes in at its alphabetical place.
    void AddSortedComboItem(const QString& text);
    // The kind's graph takes bars, else lines.
    bool IsBarChart() const;
    void AddSegment(const QString& label);
    void AddSeries(const QString& name, std::uint32_t colour);
    void SetValue(int segment, int series, double value);
    // The layout of kind: the page's share of the detail rows.
    void PrintKindPage(CPage* page, int pageNumber, int kind);

    QComboBox* m_ctlReportType = nullptr;
    QDateTimeEdit* m_ctlFrom = nullptr;
    QDateTimeEdit* m_ctlTo = nullptr;
    QFrame* m_ctlChartFrame = nullptr;
    QTreeWidget* m_ctlResultList = nullptr;
    QPushButton* m_btnCreate = nullptr;
    QPushButton* m_btnExport = nullptr;
    QPushButton* m_btnPrint = nullptr;
};
