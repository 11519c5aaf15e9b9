#include "app/reports/GRVDlgReports.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cstring>

#include "app/reports/ChartGeometry.h"
#include "app/reports/GraphObject.h"
#include "app/reports/ReportExport.h"
#include "app/reports/ReportQueries.h"
#include "app/reports/print/PrintJob.h"
#include "app/store/JournalDb.h"
#include "platform/File.h"
#include "platform/PartFile.h"
#include "platform/ui/Seams.h"

using namespace reports;
using namespace reports_texts;

namespace {

constexpr charts::COLORREF kRed = 0x0000FF;
constexpr charts::COLORREF kYellow = 0x00FFFF;
constexpr charts::COLORREF kBlue = 0xFF0000;
constexpr charts::COLORREF kGrey = 0x808080;
constexpr charts::COLORREF kGradientStart = 32000;
constexpr charts::COLORREF kGradientEnd = 50372;
constexpr charts::COLORREF kSubtitleColour = 0xC4C4C4;
constexpr charts::COLORREF kTextColour = 0xFFFFFF;

const char* const kLifeSegments[] = {"Act", "Mood", "Walk", "Work", "Relat", "Sleep", "Life", "Con"};
const char* const kSideEffectSegments[] = {"Appet", "Constip", "Insomn", "Itch",  "Nausea",
                                           "Night", "Sweat",   "Think",  "Tired", "Vomit"};

// The pickers show dates alone: From is the first second of its day and
// To the last second of its own.
QDateTime StartOfDay(const QDate& day) {
    return QDateTime(day, QTime(0, 0, 0));
}
QDateTime EndOfDay(const QDate& day) {
    return QDateTime(day, QTime(23, 59, 59));
}

JournalDateTime ToJournal(const QDateTime& t) {
    const QDate d = t.date();
    const QTime tm = t.time();
    return {d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second()};
}

QString FromStored(const std::string& text) {
    return QString::fromStdString(text);
}

// The number a report text starts with ("4.5", "7"), whatever the user's
// locale; 0 for an empty text (an aggregate over no records).
double ValueOf(const ReportRow& row, size_t index) {
    if (index >= row.size())
        return 0;
    const std::string& text = row[index];
    double value = 0;
    const char* first = text.data();
    while (first != text.data() + text.size() && *first == ' ')
        ++first;
    if (std::from_chars(first, text.data() + text.size(), value).ec != std::errc())
        return 0;
    return value;
}

QString TextOf(const ReportRow& row, size_t index) {
    return index < row.size() ? FromStored(row[index]) : QString();
}

} // namespace

CGRVDlgReports::CGRVDlgReports(QWidget* parent) : QDialog(parent), m_rcGraph(QPoint(11, 65), QPoint(739, 359)) {
    // Today to today: Create at once reports today.
    const QDate today = QDate::currentDate();
    m_dtFrom = StartOfDay(today);
    m_dtTo = EndOfDay(today);
    BuildControls();
    OnInitDialog();
}

CGRVDlgReports::~CGRVDlgReports() = default;

void CGRVDlgReports::BuildControls() {
    setObjectName(QStringLiteral("181"));
    setWindowTitle(QStringLiteral("Gorvane Reporting"));

    auto* details = new QGroupBox(QStringLiteral("Select Reporting Details"), this);
    auto* row = new QHBoxLayout(details);
    row->setContentsMargins(8, 2, 8, 2);
    row->addWidget(new QLabel(QStringLiteral("Report Type:"), details));
    m_ctlReportType = new QComboBox(details);
    m_ctlReportType->setObjectName(QStringLiteral("m_ctlReportType"));
    m_ctlReportType->setMinimumWidth(170);
    row->addWidget(m_ctlReportType);
    // The short date, but never with a two-digit year.
    QString shortDate = QLocale().dateFormat(QLocale::ShortFormat);
    if (!shortDate.contains(QLatin1String("yyyy"))) {
        shortDate.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    }
    auto makePicker = [&](const char* caption, const char* name) {
        row->addWidget(new QLabel(QString::fromLatin1(caption), details));
        auto* picker = new QDateTimeEdit(details);
        picker->setObjectName(QString::fromLatin1(name));
        picker->setDisplayFormat(shortDate);
        picker->setCalendarPopup(true);
        picker->setMinimumWidth(105);
        row->addWidget(picker);
        return picker;
    };
    m_ctlFrom = makePicker("From:", "m_ctlFrom");
    m_ctlTo = makePicker("To:", "m_ctlTo");
    auto makeButton = [&](const char* text, const char* name) {
        auto* b = new QPushButton(QString::fromLatin1(text), details);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        row->addWidget(b);
        return b;
    };
    m_btnCreate = makeButton("Create", "1032");
    m_btnExport = makeButton("Export", "1033");
    m_btnPrint = makeButton("Print", "1031");

    // The chart window is placed over this frame's area by its rectangle.
    m_ctlChartFrame = new QFrame(this);
    m_ctlChartFrame->setObjectName(QStringLiteral("1019"));
    m_ctlChartFrame->setFrameShape(QFrame::Box);
    m_ctlChartFrame->hide();

    m_ctlResultList = new QTreeWidget(this);
    m_ctlResultList->setObjectName(QStringLiteral("m_ctlResultList"));
    m_ctlResultList->setRootIsDecorated(false);
    m_ctlResultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_ctlResultList->setMinimumHeight(220);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(m_rcGraph.left(), 7, m_rcGraph.left(), 7);
    main->addWidget(details);
    main->addSpacing(m_rcGraph.height() + 12);
    main->addWidget(m_ctlResultList, 1);
    setMinimumWidth(m_rcGraph.right() + 1 + m_rcGraph.left());
    details->setFixedHeight(m_rcGraph.top() - 12);

    connect(m_btnCreate, &QPushButton::clicked, this, &CGRVDlgReports::OnBnClickedCreate);
    connect(m_btnExport, &QPushButton::clicked, this, &CGRVDlgReports::OnBnClickedExport);
    connect(m_btnPrint, &QPushButton::clicked, this, &CGRVDlgReports::OnBnClickedPrint);
    connect(m_ctlFrom, &QDateTimeEdit::dateTimeChanged, this, &CGRVDlgReports::OnDtnDatetimechangeFrom);
    connect(m_ctlTo, &QDateTimeEdit::dateTimeChanged, this, &CGRVDlgReports::OnDtnDatetimechangeTo);
}

void CGRVDlgReports::OnInitDialog() {
    UpdateData(false);
    m_pGraph = new CGraphObject();
    m_pGraph->Create(m_rcGraph, this, kChartControlId);
    m_pGraph->SetMessageSink([this](const QString& text) { platform::ui::GetPrompter().Tell(this, text); });
    for (const char* text : ComboTextsInAddOrder())
        AddSortedComboItem(QString::fromLatin1(text));
    m_nReportType = kPainVsTime;
    m_ctlReportType->setCurrentIndex(m_ctlReportType->findText(QString::fromLatin1(KindInfo(kPainVsTime).comboText)));
    // Connected after the first selection: only the user's choice names the kind.
    connect(m_ctlReportType, &QComboBox::currentIndexChanged, this, &CGRVDlgReports::OnCbnSelchangeReportType);
}

void CGRVDlgReports::AddSortedComboItem(const QString& text) {
    int at = 0;
    while (at < m_ctlReportType->count() &&
           QString::compare(m_ctlReportType->itemText(at), text, Qt::CaseInsensitive) < 0) {
        ++at;
    }
    m_ctlReportType->insertItem(at, text);
}

void CGRVDlgReports::UpdateData(bool fromControls) {
    QSignalBlocker blockFrom(m_ctlFrom);
    QSignalBlocker blockTo(m_ctlTo);
    if (fromControls) {
        m_dtFrom = StartOfDay(m_ctlFrom->date());
        m_dtTo = EndOfDay(m_ctlTo->date());
    } else {
        m_ctlFrom->setDateTime(m_dtFrom);
        m_ctlTo->setDateTime(m_dtTo);
    }
}

void CGRVDlgReports::OnCbnSelchangeReportType() {
    m_strReportType = m_ctlReportType->currentText();
    const int kind = KindFromComboText(m_strReportType.toStdString());
    if (kind >= 0)
        m_nReportType = kind;
}

void CGRVDlgReports::OnDtnDatetimechangeFrom() {
    m_dtFrom = StartOfDay(m_ctlFrom->date());
}
void CGRVDlgReports::OnDtnDatetimechangeTo() {
    m_dtTo = EndOfDay(m_ctlTo->date());
}

void CGRVDlgReports::OnBnClickedCreate() {
    RunReport();
}

int CGRVDlgReports::RunReport(const QString& noRows) {
    m_bNoRows = false;
    UpdateData(true);
    // A range of whole days: From and To on one day is that day.
    if (CompareDateTimes(ToJournal(m_dtFrom), ToJournal(m_dtTo)) > 0) {
        platform::ui::GetPrompter().Tell(this, kReversedTimesMessage, kSameTimesTitle);
        return 0;
    }
    if (!LoadReportRows(noRows))
        return 0;
    SetupListColumns();
    FillResultList();
    SetupChart();
    AddChartSegments();
    AddChartSeries();
    SetChartValues();
    return 1;
}

int CGRVDlgReports::BuildQueries() {
    m_strSummarySql.clear();
    m_strDetailSql.clear();
    UpdateData(true);
    const JournalDateTime from = ToJournal(m_dtFrom);
    const JournalDateTime to = ToJournal(m_dtTo);
    UpdateData(false);
    if (m_nReportType == kPainVsTime)
        m_spanRange = WallClockSpanSeconds(from, to);
    const ReportStatements s = BuildReportStatements(m_nReportType, from, to);
    m_strSummarySql = s.summary;
    m_strDetailSql = s.detail;
    m_nSummaryCols = s.summaryCols;
    m_nDetailCols = s.detailCols;
    return 1;
}

int CGRVDlgReports::LoadReportRows(const QString& noRows) {
    m_summaryRows.clear();
    m_detailRows.clear();
    BuildQueries();
    int ok = 0;
    if (m_pDb) {
        ok = m_pDb->QueryAllRows(m_strSummarySql, m_nSummaryCols, m_summaryRows);
        ok = m_pDb->QueryAllRows(m_strDetailSql, m_nDetailCols, m_detailRows) && ok;
    }
    m_nSummaryRowCount = static_cast<int>(m_summaryRows.size());
    m_nDetailRowCount = static_cast<int>(m_detailRows.size());
    if (!ok) {
        const QString error = m_pDb ? FromStored(m_pDb->GetLastErrorText()) : QString();
        platform::ui::GetPrompter().Tell(this, error);
        return 0;
    }
    if (m_summaryRows.empty() || m_detailRows.empty()) {
        m_bNoRows = true;
        platform::ui::GetPrompter().Tell(this, noRows);
        return 0;
    }
    return 1;
}

int CGRVDlgReports::SetupListColumns() {
    const std::vector<ListColumn>& columns = KindInfo(m_nReportType).listColumns;
    m_ctlResultList->setColumnCount(0);
    m_ctlResultList->setColumnCount(static_cast<int>(columns.size()));
    QTreeWidgetItem* header = m_ctlResultList->headerItem();
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
        header->setText(c, QString::fromLatin1(columns[static_cast<size_t>(c)].heading));
        header->setTextAlignment(c, Qt::AlignCenter);
    }
    // The given widths are a floor: a heading wider than its column would be clipped.
    for (int c = 0; c < static_cast<int>(columns.size()); ++c) {
        const int hint = m_ctlResultList->header()->sectionSizeHint(c);
        m_ctlResultList->setColumnWidth(c, std::max(columns[static_cast<size_t>(c)].width, hint));
    }
    m_ctlResultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    return 1;
}

int CGRVDlgReports::FillResultList() {
    m_ctlResultList->clear();
    const int shown = m_ctlResultList->columnCount();
    for (const ReportRow& row : m_detailRows) {
        auto* item = new QTreeWidgetItem();
        const int texts = std::min(shown, static_cast<int>(row.size()));
        for (int k = 0; k < texts; ++k) {
            item->setText(k, FromStored(row[static_cast<size_t>(k)]));
            item->setTextAlignment(k, Qt::AlignCenter);
        }
        m_ctlResultList->insertTopLevelItem(0, item);
    }
    // Nor are texts cut short: a timestamp is wider than its 120 pixels here.
    for (int c = 0; c < shown; ++c) {
        const int given = m_ctlResultList->columnWidth(c);
        m_ctlResultList->resizeColumnToContents(c);
        if (m_ctlResultList->columnWidth(c) < given)
            m_ctlResultList->setColumnWidth(c, given);
    }
    return 1;
}

int CGRVDlgReports::SetupChart() {
    const ReportKindInfo& info = KindInfo(m_nReportType);
    m_pGraph->show();
    m_pGraph->SetGraphType(info.graphType);
    m_pGraph->ClearGraph();
    m_pGraph->SetGraphTitle(QString::fromLatin1(info.chartTitle));
    m_pGraph->SetGraphSubtitle(QString::fromLatin1(info.chartSubtitle));
    m_pGraph->SetGraphFillType(charts::kFillGradient);
    m_pGraph->SetGraphGradientColors(kGradientStart, kGradientEnd);
    m_pGraph->SetGraphTitleShadow(0);
    m_pGraph->SetGraphSubtitleShadow(0);
    m_pGraph->SetGraphSubtitleColor(kSubtitleColour);
    m_pGraph->SetGraphTextColor(kTextColour);
    return 1;
}

bool CGRVDlgReports::IsBarChart() const {
    return KindInfo(m_nReportType).graphType == charts::kBarGraph;
}

void CGRVDlgReports::AddSegment(const QString& label) {
    if (IsBarChart()) {
        m_pGraph->Add2DBarGraphSegment(label);
    } else {
        m_pGraph->Add2DLineGraphSegment(label);
    }
}

void CGRVDlgReports::AddSeries(const QString& name, charts::COLORREF colour) {
    if (IsBarChart()) {
        m_pGraph->Add2DBarGraphSeries(name, colour);
    } else {
        m_pGraph->Add2DLineGraphSeries(name, colour);
    }
}

void CGRVDlgReports::SetValue(int segment, int series, double value) {
    if (IsBarChart()) {
        m_pGraph->Set2DBarGraphValue(segment, series, value);
    } else {
        m_pGraph->Set2DLineGraphValue(segment, series, value);
    }
}

int CGRVDlgReports::AddChartSegments() {
    switch (m_nReportType) {
    case kPainVsActions:
    case kPainVsMedications:
        // Text 5 is the record's id, text 6 the action's or medicine's name.
        for (const ReportRow& row : m_summaryRows)
            AddSegment(TextOf(row, 6));
        break;
    case kPainVsTime: {
        // The grouped summaries keep a timestamp of the group in text 6.
        const size_t stamp = m_nSummaryCols > 6 ? 6 : 0;
        std::vector<JournalDateTime> times;
        for (const ReportRow& row : m_summaryRows) {
            AddSegment(TextOf(row, 0));
            times.push_back(
                SplitTimestampText(stamp < row.size() ? row[stamp] : std::string()).value_or(JournalDateTime{}));
        }
        std::vector<std::vector<QString>> steps;
        for (const std::vector<std::string>& step : TimeLabelSteps(PainTimeGrouping(m_spanRange), times)) {
            steps.emplace_back();
            for (const std::string& text : step)
                steps.back().push_back(FromStored(text));
        }
        m_pGraph->Set2DLineGraphLabelSteps(std::move(steps));
        break;
    }
    case kPainVsLife:
        for (const char* label : kLifeSegments)
            AddSegment(QString::fromLatin1(label));
        break;
    default:
        for (const char* label : kSideEffectSegments)
            AddSegment(QString::fromLatin1(label));
        break;
    }
    return 1;
}

int CGRVDlgReports::AddChartSeries() {
    switch (m_nReportType) {
    case kPainVsActions:
    case kPainVsMedications:
    case kPainVsTime:
        AddSeries(QStringLiteral("Pain Max"), kRed);
        AddSeries(QStringLiteral("Pain Avg"), kYellow);
        AddSeries(QStringLiteral("Pain Min"), kBlue);
        AddSeries(QStringLiteral("Pain Cur"), kGrey);
        break;
    case kPainVsLife:
        AddSeries(QStringLiteral("Pain Min"), kBlue);
        AddSeries(QStringLiteral("Pain Avg"), kYellow);
        AddSeries(QStringLiteral("Pain Max"), kRed);
        break;
    case kSideEffectsOverTime:
        AddSeries(QStringLiteral("Min"), kYellow);
        AddSeries(QStringLiteral("Avg"), kBlue);
        AddSeries(QStringLiteral("Max"), kRed);
        break;
    case kMedicinesVsSideEffects: {
        const int series = std::min(kMaxMedicineSeries, m_nSummaryRowCount);
        for (int r = 1; r <= series; ++r) {
            const ReportRow& row = m_summaryRows[static_cast<size_t>(r - 1)];
            AddSeries(QStringLiteral("%1 %2").arg(TextOf(row, 0), TextOf(row, 1)), charts::GetChartColor(r));
        }
        break;
    }
    }
    return 1;
}

int CGRVDlgReports::SetChartValues() {
    switch (m_nReportType) {
    case kPainVsActions:
    case kPainVsMedications:
    case kPainVsTime:
        for (int i = 1; i <= m_nSummaryRowCount; ++i) {
            for (int k = 1; k <= 4; ++k) {
                SetValue(i, k, ValueOf(m_summaryRows[static_cast<size_t>(i - 1)], static_cast<size_t>(k)));
            }
        }
        break;
    case kPainVsLife:
    case kSideEffectsOverTime: {
        const int segments = m_nReportType == kPainVsLife ? 8 : 10;
        const ReportRow& row = m_summaryRows.front();
        for (int g = 1; g <= segments; ++g) {
            for (int s = 1; s <= 3; ++s)
                SetValue(g, s, ValueOf(row, static_cast<size_t>(3 * (g - 1) + s)));
        }
        break;
    }
    case kMedicinesVsSideEffects: {
        const int series = std::min(kMaxMedicineSeries, m_nSummaryRowCount);
        for (int r = 1; r <= series; ++r) {
            for (int j = 1; j <= 10; ++j) {
                SetValue(j, r, ValueOf(m_summaryRows[static_cast<size_t>(r - 1)], static_cast<size_t>(j + 3)));
            }
        }
        break;
    }
    }
    m_pGraph->SetGraphAnimation(0, charts::kLineTraceSeries);
    return 1;
}

void CGRVDlgReports::OnBnClickedExport() {
    platform::ui::Prompter& prompter = platform::ui::GetPrompter();
    if (!RunReport(kNothingToExportMessage)) {
        if (!m_bNoRows)
            prompter.Tell(this, kRequestFailedMessage, kRequestFailedTitle);
        return;
    }
    platform::ui::FileRequest request;
    request.mode = platform::ui::FileMode::Save;
    request.initialPath = platform::ui::ChooserStartFolder(
        {m_pDb && m_pDb->IsOpen() ? QString::fromStdString(m_pDb->GetFolder()) : QString()});
    request.filter = kExportFilter;
    request.defaultSuffix = kExportSuffix;
    request.confirmOverwrite = true;
    QString path = platform::ui::GetFileChooser().Choose(this, request);
    if (path.isEmpty()) {
        prompter.Tell(this, kNoFileMessage, kNoFileTitle);
        return;
    }
    // A chooser that did not add the suffix to a bare name: the file is
    // named as the chooser offered it, and a file of that name is replaced
    // only when the user agrees, as the chooser would have asked.
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QLatin1Char('.') + kExportSuffix;
        const QString landing = QFile::decodeName(platform::FollowLinks(QFile::encodeName(path).constData()).c_str());
        if (QFileInfo::exists(path) && !prompter.AskYesNo(this, kExportReplaceQuestion.arg(landing), kExportTitle,
                                                          platform::ui::Icon::Warning, platform::ui::Answer::No))
            return;
    }
    const std::string target = QFile::encodeName(path).toStdString();
    const int error = WriteReportFile(target, FormatReportCsv(m_nReportType, m_detailRows), ReadersOfJournal(m_pDb),
                                      JournalOf(m_pDb));
    if (error != 0) {
        const char* refused = platform::RefusalReason(error, target);
        const QString why = platform::IsDiskFull(error) ? kExportDiskFullMessage.arg(path)
                            : error == kOntoItsJournal  ? QString::fromLatin1(print_texts::kOntoItsJournal).arg(path)
                            : error == kOntoSideFile
                                ? QString::fromLatin1(print_texts::kOntoSideFile).arg(path)
                                : kWriteFailedMessage.arg(path, refused ? QString::fromLatin1(refused)
                                                                        : FromStored(std::strerror(error)));
        prompter.Tell(this, why, kWriteFailedTitle, platform::ui::Icon::Error);
        return;
    }
    prompter.Tell(this, kExportedMessage.arg(QDir::toNativeSeparators(path)), kExportTitle);
}
