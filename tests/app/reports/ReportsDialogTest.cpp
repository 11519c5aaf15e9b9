// The reports dialog over a fixture journal: its rows against the sqlite3
// shell running the same statements, its messages, its chart and its export
// against hand-written files and python's csv reader.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "ChartFixtures.h"
#include "app/reports/BarGraph.h"
#include "app/reports/GRVDlgReports.h"
#include "app/reports/GraphObject.h"
#include "app/reports/LineGraph.h"
#include "app/reports/ReportQueries.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Scripted.h"
#include "tests/support/JournalFixture.h"

using namespace reports;
using namespace reports_texts;
using grvtest::ReadFile;
using platform::ui::Answer;
using platform::ui::ScopedSeams;
using platform::ui::ScriptedFileChooser;
using platform::ui::ScriptedPrompter;

namespace {

const std::string kDataDir = std::string(GRV_TEST_DATA_DIR) + "/reports";
const QDateTime kMarchFrom(QDate(2026, 3, 1), QTime(0, 0, 0));
const QDateTime kMarchTo(QDate(2026, 3, 31), QTime(0, 0, 0));

// Rows written with unit and record separators, each padded to `columns`.
ReportRows SplitRecords(const std::string& out, int columns) {
    ReportRows rows;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\x1e', start);
        if (end == std::string::npos)
            end = out.size();
        ReportRow row;
        const std::string record = out.substr(start, end - start);
        size_t f = 0;
        while (true) {
            const size_t sep = record.find('\x1f', f);
            row.push_back(record.substr(f, sep == std::string::npos ? std::string::npos : sep - f));
            if (sep == std::string::npos)
                break;
            f = sep + 1;
        }
        while (static_cast<int>(row.size()) < columns)
            row.emplace_back();
        rows.push_back(row);
        start = end + 1;
    }
    return rows;
}

bool AnyTextContains(const ReportRows& rows, const std::string& part) {
    for (const ReportRow& row : rows) {
        for (const std::string& text : row) {
            if (text.find(part) != std::string::npos)
                return true;
        }
    }
    return false;
}

class ReportsDialogTest : public ::testing::Test, protected grvtest::Journal {
protected:
    void SetUp() override {
        OpenJournal();
        Cli(".read " + kDataDir + "/" + Fixture());
        m_dlg = std::make_unique<CGRVDlgReports>();
        m_dlg->m_pDb = &m_db;
    }
    virtual std::string Fixture() const { return "fixture.sql"; }

    std::string Cli(const std::string& sql) {
        const auto cli = grvtest::SqliteCli(JournalPath(), sql);
        EXPECT_EQ(cli.status, 0) << cli.out;
        return cli.out;
    }

    // The statement's rows as the sqlite3 shell gives them.
    ReportRows CliRows(const std::string& sql, int columns) {
        const auto cli = grvtest::RunProgram({"sqlite3", "-batch", "-bail", "-noheader", "-nullvalue", "", "-separator",
                                              "\x1f", "-newline", "\x1e", JournalPath(), sql});
        EXPECT_EQ(cli.status, 0) << cli.err;
        return SplitRecords(cli.out, columns);
    }

    void ChooseKind(int kind) {
        QComboBox* combo = m_dlg->ReportTypeCombo();
        combo->setCurrentIndex(combo->findText(QString::fromLatin1(KindInfo(kind).comboText)));
        ASSERT_EQ(m_dlg->m_nReportType, kind);
    }

    void SetRange(const QDateTime& from, const QDateTime& to) {
        m_dlg->FromPicker()->setDateTime(from);
        m_dlg->ToPicker()->setDateTime(to);
    }

    int Run(int kind, const QDateTime& from = kMarchFrom, const QDateTime& to = kMarchTo) {
        ChooseKind(kind);
        SetRange(from, to);
        return m_dlg->RunReport();
    }

    const CSeriesModel& Chart() const {
        const CGraphObject* g = m_dlg->m_pGraph;
        if (g->BarGraph())
            return *g->BarGraph();
        return *g->LineGraph();
    }

    std::shared_ptr<ScriptedPrompter> m_prompter = std::make_shared<ScriptedPrompter>();
    std::shared_ptr<ScriptedFileChooser> m_files = std::make_shared<ScriptedFileChooser>();
    ScopedSeams m_seams{{m_prompter, m_files, nullptr, nullptr}};
    std::unique_ptr<CGRVDlgReports> m_dlg;
};

TEST_F(ReportsDialogTest, RowsEqualTheShellsRowsForEveryKindWithoutDeletedRecords) {
    const int detailRows[] = {4, 3, 2, 3, 2, 4};
    for (int kind = 0; kind < kReportKindCount; ++kind) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(Run(kind), 1) << m_prompter->Texts().size();
        EXPECT_EQ(m_dlg->m_summaryRows, CliRows(m_dlg->m_strSummarySql, m_dlg->m_nSummaryCols));
        EXPECT_EQ(m_dlg->m_detailRows, CliRows(m_dlg->m_strDetailSql, m_dlg->m_nDetailCols));
        EXPECT_EQ(static_cast<int>(m_dlg->m_detailRows.size()), detailRows[kind]);
        EXPECT_EQ(m_dlg->m_nDetailRowCount, detailRows[kind]);
        EXPECT_EQ(m_dlg->m_nSummaryRowCount, static_cast<int>(m_dlg->m_summaryRows.size()));
        for (const ReportRows* rows : {&m_dlg->m_summaryRows, &m_dlg->m_detailRows}) {
            EXPECT_FALSE(AnyTextContains(*rows, "(gone)"));
            EXPECT_FALSE(AnyTextContains(*rows, "At the very")); // the range's own ends
            EXPECT_FALSE(AnyTextContains(*rows, "Before the range"));
        }
    }
    EXPECT_TRUE(m_prompter->Prompts().empty());
}

TEST_F(ReportsDialogTest, DeletedMoodAndSideEffectsLeaveTheAggregatesAlone) {
    ASSERT_EQ(Run(kPainVsLife), 1);
    ASSERT_EQ(m_dlg->m_summaryRows.size(), 1u);
    // Activity: 4 and 7 live; the deleted 10 and the deleted entry's 0 do not count.
    const ReportRow& life = m_dlg->m_summaryRows[0];
    EXPECT_EQ((std::vector<std::string>{life[1], life[2], life[3]}), (std::vector<std::string>{"4", "5.5", "7"}));
    ASSERT_EQ(Run(kSideEffectsOverTime), 1);
    const ReportRow& side = m_dlg->m_summaryRows[0];
    EXPECT_EQ((std::vector<std::string>{side[1], side[2], side[3]}), (std::vector<std::string>{"2", "4.0", "6"}));
}

TEST_F(ReportsDialogTest, ListShowsTheKindsColumnsNewestFirst) {
    ASSERT_EQ(Run(kPainVsMedications), 1);
    QTreeWidget* list = m_dlg->ResultList();
    ASSERT_EQ(list->columnCount(), 9);
    EXPECT_EQ(list->headerItem()->text(5), "Med ID");
    EXPECT_EQ(list->headerItem()->text(8), "Dosage");
    EXPECT_EQ(list->columnWidth(6), 240);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    const ReportRow& newest = m_dlg->m_detailRows.back();
    for (int c = 0; c < 9; ++c) {
        EXPECT_EQ(list->topLevelItem(0)->text(c).toStdString(), newest[static_cast<size_t>(c)]);
    }
    EXPECT_EQ(list->topLevelItem(2)->text(0), "2026-03-02 08:00:00");

    ASSERT_EQ(Run(kPainVsTime), 1);
    ASSERT_EQ(list->columnCount(), 6);
    EXPECT_EQ(list->headerItem()->text(5), "Subject");
    EXPECT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "2026-03-20 10:00:00");
}

// "Constipation" showed as "onstipatic" in its 60-pixel column, and dates
// as "2026-03-02 08:0...".
TEST_F(ReportsDialogTest, EveryHeadingAndTextFitsItsColumn) {
    QTreeWidget* list = m_dlg->ResultList();
    const QFontMetrics fm(list->header()->font());
    const int margins = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list->header());
    for (int kind = 0; kind < kReportKindCount; ++kind) {
        ASSERT_EQ(Run(kind), 1) << kind;
        const std::vector<ListColumn>& columns = KindInfo(kind).listColumns;
        for (int c = 0; c < list->columnCount(); ++c) {
            const QString heading = list->headerItem()->text(c);
            EXPECT_GE(list->columnWidth(c), fm.horizontalAdvance(heading) + margins) << kind << " " << c;
            EXPECT_GE(list->columnWidth(c), columns[static_cast<size_t>(c)].width) << kind << " " << c;
            for (int r = 0; r < list->topLevelItemCount(); ++r) {
                const QTreeWidgetItem* item = list->topLevelItem(r);
                EXPECT_GE(list->columnWidth(c), QFontMetrics(item->font(c)).horizontalAdvance(item->text(c)))
                    << kind << " " << c << " " << item->text(c).toStdString();
            }
        }
    }
}

TEST_F(ReportsDialogTest, EqualAndReversedTimesStopWithTheirMessages) {
    // Both pickers start at the same second.
    EXPECT_EQ(m_dlg->RunReport(), 0);
    SetRange(kMarchTo, kMarchFrom);
    EXPECT_EQ(m_dlg->RunReport(), 0);
    SetRange(kMarchFrom, kMarchFrom.addSecs(-1));
    EXPECT_EQ(m_dlg->RunReport(), 0);
    ASSERT_EQ(m_prompter->Prompts().size(), 3u);
    EXPECT_EQ(m_prompter->Prompts()[0].text, kSameTimesMessage);
    EXPECT_EQ(m_prompter->Prompts()[1].text, kReversedTimesMessage);
    EXPECT_EQ(m_prompter->Prompts()[2].text, kReversedTimesMessage);
    for (const auto& p : m_prompter->Prompts())
        EXPECT_EQ(p.title, "Date/Time Issue");
    EXPECT_TRUE(m_dlg->m_strDetailSql.empty()) << "nothing ran";
    EXPECT_TRUE(m_dlg->m_pGraph->isHidden());
}

TEST_F(ReportsDialogTest, RangeEndsAreExcludedToTheSecond) {
    const QDateTime e1(QDate(2026, 3, 2), QTime(8, 0, 0));
    ASSERT_EQ(Run(kPainVsTime, e1.addSecs(-1), e1.addSecs(1)), 1);
    ASSERT_EQ(m_dlg->m_detailRows.size(), 1u);
    EXPECT_EQ(m_dlg->m_detailRows[0][0], "2026-03-02 08:00:00");
    for (auto [from, to] : {std::pair{e1, e1.addSecs(1)}, std::pair{e1.addSecs(-1), e1}}) {
        m_prompter->Clear();
        EXPECT_EQ(Run(kPainVsTime, from, to), 0);
        EXPECT_EQ(m_prompter->Texts(), std::vector<QString>{kTooLittleDataMessage});
    }
}

TEST_F(ReportsDialogTest, PainTimeSpanChoosesTheSummaryAtExactBoundaries) {
    // Spans are wall-clock days: the range crosses the change to summer time.
    const QDateTime from = kMarchFrom;
    struct Case {
        int days;
        int seconds;
        int summaryCols;
    } cases[] = {
        {7, -3600, 6}, {7, -1, 6}, {7, 0, 7}, {70, -1, 7}, {70, 0, 8}, {120, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.days * 86400 + c.seconds);
        m_prompter->Clear();
        const QDateTime to = QDateTime(from.date().addDays(c.days), from.time()).addSecs(c.seconds);
        Run(kPainVsTime, from, to);
        EXPECT_EQ(m_dlg->m_nSummaryCols, c.summaryCols);
        EXPECT_EQ(m_dlg->m_nDetailCols, 6);
        EXPECT_EQ(m_dlg->m_spanRange, c.days * 86400 + c.seconds);
        EXPECT_EQ(m_dlg->m_summaryRows, CliRows(m_dlg->m_strSummarySql, m_dlg->m_nSummaryCols));
        EXPECT_FALSE(AnyTextContains(m_dlg->m_summaryRows, "(gone)"));
    }
}

TEST_F(ReportsDialogTest, WeeklyAndMonthlyGroupsAreLabelledAndSkipDeletedEntries) {
    ASSERT_EQ(Run(kPainVsTime), 1); // 30 days: weekly
    const CSeriesModel& weekly = Chart();
    EXPECT_EQ(weekly.Segments(), (std::vector<QString>{"2026-09", "2026-10", "2026-11"}));
    // Week 10 holds the deleted entry (all 10s) beside entry 3 (6, 4, 2, 3).
    EXPECT_EQ(weekly.Value(2, 1), 6);
    EXPECT_EQ(weekly.Value(2, 4), 3);
    // Week 9: worst 7 and 8 average 7.5, plotted as 7.
    EXPECT_EQ(weekly.Value(1, 1), 7);

    ASSERT_EQ(Run(kPainVsTime, QDateTime(QDate(2025, 12, 1), QTime(0, 0)), kMarchTo), 1);
    const CSeriesModel& monthly = Chart();
    EXPECT_EQ(monthly.Segments(), (std::vector<QString>{"02", "03"}));
    EXPECT_EQ(monthly.Value(1, 1), 3);
}

TEST_F(ReportsDialogTest, ChartFollowsTheSummaryRowsPerKind) {
    const charts::COLORREF painColours[] = {0x0000FF, 0x00FFFF, 0xFF0000, 0x808080};
    const char* painNames[] = {"Pain Max", "Pain Avg", "Pain Min", "Pain Cur"};
    for (int kind : {kPainVsActions, kPainVsMedications, kPainVsTime}) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(Run(kind), 1);
        EXPECT_NE(m_dlg->m_pGraph->LineGraph(), nullptr);
        const ReportRows rows = CliRows(m_dlg->m_strSummarySql, m_dlg->m_nSummaryCols);
        const CSeriesModel& chart = Chart();
        ASSERT_EQ(chart.SegmentCount(), static_cast<int>(rows.size()));
        ASSERT_EQ(chart.SeriesCount(), 4);
        const size_t label = kind == kPainVsTime ? 0 : 5;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(chart.Segments()[i].toStdString(), rows[i][label]);
            for (int k = 1; k <= 4; ++k) {
                EXPECT_EQ(chart.Value(static_cast<int>(i) + 1, k), std::atoi(rows[i][k].c_str()));
            }
        }
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(chart.SeriesList()[k].name, painNames[k]);
            EXPECT_EQ(chart.SeriesList()[k].colour, painColours[k]);
        }
    }
    // Stretching: worst 7 and 6 average 6.5, plotted as 6.
    ASSERT_EQ(Run(kPainVsActions), 1);
    const auto& segments = Chart().Segments();
    const auto stretching =
        std::find_if(segments.begin(), segments.end(), [](const QString& s) { return s == "1" || s == "4"; });
    ASSERT_NE(stretching, segments.end());
    EXPECT_EQ(Chart().Value(static_cast<int>(stretching - segments.begin()) + 1, 1), 6);
}

TEST_F(ReportsDialogTest, LifeAndSideEffectChartsAreBarsOfMinAvgMax) {
    ASSERT_EQ(Run(kPainVsLife), 1);
    ASSERT_NE(m_dlg->m_pGraph->BarGraph(), nullptr);
    const CSeriesModel& life = Chart();
    EXPECT_EQ(life.Segments(), (std::vector<QString>{"Act", "Mood", "Walk", "Work", "Relat", "Sleep", "Life", "Con"}));
    ASSERT_EQ(life.SeriesCount(), 3);
    EXPECT_EQ(life.SeriesList()[0].name, "Pain Min");
    EXPECT_EQ(life.SeriesList()[0].colour, 0xFF0000u);
    EXPECT_EQ(life.SeriesList()[2].name, "Pain Max");
    // Min, average (truncated), max of each aspect over entries 1 and 3.
    const int expected[8][3] = {{4, 5, 7}, {6, 7, 8}, {3, 6, 9}, {5, 5, 6}, {2, 2, 3}, {4, 5, 7}, {5, 6, 8}, {6, 7, 9}};
    for (int g = 0; g < 8; ++g) {
        for (int s = 0; s < 3; ++s)
            EXPECT_EQ(life.Value(g + 1, s + 1), expected[g][s]) << g << s;
    }

    ASSERT_EQ(Run(kSideEffectsOverTime), 1);
    const CSeriesModel& side = Chart();
    ASSERT_EQ(side.SegmentCount(), 10);
    EXPECT_EQ(side.Segments()[9], "Vomit");
    EXPECT_EQ(side.SeriesList()[0].name, "Min");
    EXPECT_EQ(side.SeriesList()[0].colour, 0x00FFFFu);
    EXPECT_EQ(side.SeriesList()[1].colour, 0xFF0000u);
    // Tiredness 5, 8, 7: min 5, average 6.7 plotted as 6, max 8.
    EXPECT_EQ(side.Value(9, 1), 5);
    EXPECT_EQ(side.Value(9, 2), 6);
    EXPECT_EQ(side.Value(9, 3), 8);
}

TEST_F(ReportsDialogTest, MedicineChartHasOneSeriesPerMedicineUpToFourteen) {
    ASSERT_EQ(Run(kMedicinesVsSideEffects), 1);
    const CSeriesModel& chart = Chart();
    ASSERT_EQ(chart.SegmentCount(), 10);
    ASSERT_EQ(chart.SeriesCount(), 2);
    EXPECT_EQ(chart.SeriesList()[0].name, "Ibuprofen 200mg");
    EXPECT_EQ(chart.SeriesList()[0].colour, charts::GetChartColor(1));
    EXPECT_EQ(chart.SeriesList()[1].name, "Tramadol 50mg");
    EXPECT_EQ(chart.SeriesList()[1].colour, charts::GetChartColor(2));
    const int ibuprofen[10] = {3, 2, 1, 0, 4, 0, 0, 2, 6, 0};
    const int tramadol[10] = {6, 8, 0, 2, 3, 4, 1, 6, 8, 2};
    for (int j = 0; j < 10; ++j) {
        EXPECT_EQ(chart.Value(j + 1, 1), ibuprofen[j]);
        EXPECT_EQ(chart.Value(j + 1, 2), tramadol[j]);
    }

    // The kind covers every date: a range holding no entry changes nothing.
    const ReportRows all = m_dlg->m_detailRows;
    ASSERT_EQ(Run(kMedicinesVsSideEffects, QDateTime(QDate(2020, 1, 1), QTime(0, 0)),
                  QDateTime(QDate(2020, 1, 2), QTime(0, 0))),
              1);
    EXPECT_EQ(m_dlg->m_detailRows, all);

    std::string more;
    for (int m = 0; m < 15; ++m) {
        more += "insert into medicine_cabinet (id, name, dos_size, dos_msr) values (" + std::to_string(100 + m) +
                ", 'Med" + std::to_string(10 + m) + "', 5, 'mg');";
        more += "insert into entry_sideff (eid, mid, appet) values (1, " + std::to_string(100 + m) + ", 1);";
    }
    Cli(more);
    ASSERT_EQ(Run(kMedicinesVsSideEffects), 1);
    EXPECT_EQ(m_dlg->m_detailRows.size(), 17u);
    EXPECT_EQ(m_dlg->ResultList()->topLevelItemCount(), 17);
    EXPECT_EQ(Chart().SeriesCount(), kMaxMedicineSeries);
    EXPECT_TRUE(m_prompter->Prompts().empty());
}

TEST_F(ReportsDialogTest, TooLittleDataAndFailingStatementsAreShown) {
    // Entry 2 alone: its mood record is deleted, the summary still gives a row.
    EXPECT_EQ(Run(kPainVsLife, QDateTime(QDate(2026, 3, 4), QTime(0, 0)), QDateTime(QDate(2026, 3, 6), QTime(0, 0))),
              0);
    EXPECT_EQ(m_dlg->m_nSummaryRowCount, 1);
    EXPECT_EQ(m_dlg->m_nDetailRowCount, 0);
    EXPECT_EQ(m_prompter->Texts(), std::vector<QString>{kTooLittleDataMessage});

    m_prompter->Clear();
    Cli("drop table entry_mood;");
    EXPECT_EQ(Run(kPainVsLife), 0);
    ASSERT_EQ(m_prompter->Prompts().size(), 1u);
    EXPECT_EQ(m_prompter->Prompts()[0].text.toStdString(), m_db.GetLastErrorText());
    EXPECT_FALSE(m_db.GetLastErrorText().empty());
}

// A year of entries charted by every kind; GRV_REPORT_SCREENSHOTS=<folder>
// keeps a picture of the dialog for each.
class ReportsYearTest : public ReportsDialogTest {
protected:
    std::string Fixture() const override { return "year.sql"; }
    void SetUp() override {
        ReportsDialogTest::SetUp();
        m_dlg->resize(1100, 820);
        m_dlg->show();
    }

    void KeepScreenshot(const QString& name) {
        const QByteArray dir = qgetenv("GRV_REPORT_SCREENSHOTS");
        if (dir.isEmpty())
            return;
        ASSERT_TRUE(m_dlg->grab().save(QString::fromLocal8Bit(dir) + "/" + name));
    }
};

TEST_F(ReportsYearTest, EveryKindChartsTheYearWithLabelsApart) {
    const QDateTime from(QDate(2025, 12, 1), QTime(0, 0));
    const QDateTime to(QDate(2026, 12, 1), QTime(0, 0));
    const struct {
        int kind;
        size_t segments;
        const char* file;
    } cases[] = {{kPainVsTime, 12, nullptr}, // its pictures come from the running application
                 {kPainVsActions, 4, "report-pain-vs-actions.png"},
                 {kPainVsMedications, 3, "report-pain-vs-medications.png"},
                 {kPainVsLife, 8, "report-pain-vs-life.png"},
                 {kSideEffectsOverTime, 10, "report-side-effects.png"},
                 {kMedicinesVsSideEffects, 10, "report-medicines-vs-side-effects.png"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_EQ(Run(c.kind, from, to), 1);
        m_dlg->m_pGraph->ComposeFrame();
        const CGraphObject* g = m_dlg->m_pGraph;
        const CSeriesGraph& graph = g->BarGraph() ? static_cast<const CSeriesGraph&>(*g->BarGraph())
                                                  : static_cast<const CSeriesGraph&>(*g->LineGraph());
        EXPECT_EQ(graph.Segments().size(), c.segments);
        const std::vector<charts::SegmentLabelBox>& boxes = graph.LabelBoxes();
        ASSERT_FALSE(boxes.empty());
        for (size_t i = 1; i < boxes.size(); ++i)
            EXPECT_LT(boxes[i - 1].box.right, boxes[i].box.left) << i;
        if (c.file)
            KeepScreenshot(c.file);
    }
    // A week of entries labels each with its timestamp: every few are shown.
    ASSERT_EQ(Run(kPainVsTime, QDateTime(QDate(2026, 3, 1), QTime(0, 0)), QDateTime(QDate(2026, 3, 7), QTime(0, 0))),
              1);
    m_dlg->m_pGraph->ComposeFrame();
    EXPECT_LT(m_dlg->m_pGraph->LineGraph()->LabelBoxes().size(), m_dlg->m_summaryRows.size());
    EXPECT_TRUE(m_prompter->Prompts().empty());
}

// Pain vs. Time over a week and over a year, judged on the rendered chart.
// Over a week its two timestamps were about three times the size of every
// other text, the first began left of the vertical axis and the last ran past
// the horizontal one, and the legend was set in a serif face. Now the
// labels' ink is within 1.5 times the legend text's height, each label lies
// between the axes' ends, centred on its point, and the legend is in the
// application's face.
TEST_F(ReportsYearTest, PainVsTimeLabelsMatchTheLegendAndStandUnderTheirPoints) {
    const struct {
        const char* name;
        QDateTime from, to;
        size_t fewestLabels;
    } spans[] = {
        {"week", QDateTime(QDate(2026, 3, 1), QTime(0, 0)), QDateTime(QDate(2026, 3, 7), QTime(0, 0)), 2},
        {"year", QDateTime(QDate(2025, 12, 1), QTime(0, 0)), QDateTime(QDate(2026, 12, 1), QTime(0, 0)), 12},
    };
    for (const auto& span : spans) {
        SCOPED_TRACE(span.name);
        ASSERT_EQ(Run(kPainVsTime, span.from, span.to), 1);
        m_dlg->m_pGraph->ComposeFrame();
        const QImage& image = m_dlg->m_pGraph->DrawSurface();
        const C2DLineGraph& graph = *m_dlg->m_pGraph->LineGraph();
        const charts::SeriesLayout layout = graph.Layout();
        const std::vector<charts::SegmentLabelBox>& labels = graph.LabelBoxes();
        EXPECT_GE(labels.size(), span.fewestLabels);
        for (const charts::SegmentLabelBox& label : labels)
            EXPECT_EQ(label.centreX, charts::LinePointX(layout, label.segment)) << label.segment;
        const int labelHeight = chart_fixtures::ExpectLabelsWhereReported(image, graph.Plot(), labels, Qt::white);

        // The legend's first row ("Pain Max"), right of its swatch, in black.
        const QFont& legendFont = graph.LegendFont();
        const int row = QFontMetrics(legendFont).height();
        const charts::LegendLayout legend = charts::Legend(graph.Plot(), charts::kSeriesLegend, 4, row);
        const QRect firstRow(legend.firstRow.x + legend.textOffset, legend.firstRow.y,
                             legend.box.right - 1 - (legend.firstRow.x + legend.textOffset), row);
        const QRect legendInk = chart_fixtures::InkBounds(image, firstRow, Qt::black);
        ASSERT_FALSE(legendInk.isEmpty());
        EXPECT_LE(labelHeight, 1.5 * legendInk.height()) << "legend ink " << legendInk.height();
        EXPECT_GE(labelHeight * 1.5, legendInk.height()) << "label ink " << labelHeight;
        EXPECT_EQ(QFontInfo(legendFont).family(), QFontInfo(QApplication::font()).family());
    }
}

// A chart whose values are all 0 labelled its vertical axis "0" three times.
TEST_F(ReportsDialogTest, FlatChartLabelsItsScaleOnce) {
    Cli("INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry, del) VALUES "
        "('2026-05-02 08:00:00', 0, 0, 0, 0, 'calm', '', 0), ('2026-05-03 08:00:00', 0, 0, 0, 0, 'calm', '', 0);");
    ASSERT_EQ(Run(kPainVsTime, QDateTime(QDate(2026, 5, 1), QTime(0, 0)), QDateTime(QDate(2026, 5, 7), QTime(0, 0))),
              1);
    m_dlg->m_pGraph->ComposeFrame();
    const QImage& image = m_dlg->m_pGraph->DrawSurface();
    const charts::AxesGeometry axes = charts::Axes(m_dlg->m_pGraph->LineGraph()->Plot());
    // Runs of rows with white ink left of the vertical axis, above the labels.
    int numbers = 0;
    bool inNumber = false;
    for (int y = axes.verticalTop.y; y < axes.origin.y + 8; ++y) {
        const bool ink = !chart_fixtures::InkBounds(image, QRect(0, y, axes.origin.x - 2, 1), Qt::white).isEmpty();
        numbers += ink && !inNumber;
        inNumber = ink;
    }
    EXPECT_EQ(numbers, 1);
}

class ReportsExportTest : public ReportsDialogTest {};

// Export over a span without entries said only "Error Processing Your
// Request" (after the chart's "not enough data to graph"): it says there is
// nothing to export and asks for no file.
TEST_F(ReportsExportTest, NothingToExportIsSaidAndNoFileAskedFor) {
    ChooseKind(kPainVsTime);
    SetRange(QDateTime(QDate(2027, 1, 1), QTime(0, 0)), QDateTime(QDate(2027, 2, 1), QTime(0, 0)));
    m_dlg->OnBnClickedExport();
    EXPECT_EQ(m_prompter->Texts(), std::vector<QString>{kNothingToExportMessage});
    EXPECT_TRUE(m_files->Requests().empty());
}

TEST_F(ReportsExportTest, ExportsEqualTheGoldenFilesAndParseAsCsv) {
    for (int kind = 0; kind < kReportKindCount; ++kind) {
        SCOPED_TRACE(kind);
        ChooseKind(kind);
        SetRange(kMarchFrom, kMarchTo);
        const std::string out = m_dir.File("kind" + std::to_string(kind) + ".csv");
        m_files->Queue(QString::fromStdString(out));
        m_prompter->Clear();
        m_dlg->OnBnClickedExport();
        // The user is told where the file went.
        EXPECT_EQ(m_prompter->Texts(), std::vector<QString>{kExportedMessage.arg(QString::fromStdString(out))});
        EXPECT_EQ(ReadFile(out), ReadFile(kDataDir + "/export-kind" + std::to_string(kind) + ".csv"));

        // python's csv reader gets back the title, two empty lines, the heading
        // and the dialog's rows, each with one field per heading name: the
        // empty texts the rows are padded with are not written.
        const char* script = "import csv,sys\n"
                             "rows=list(csv.reader(open(sys.argv[1],newline='',encoding='utf-8')))\n"
                             "sys.stdout.write('\\x1e'.join('\\x1f'.join(r) for r in rows))\n";
        const auto parsed = grvtest::Python(script, {out});
        ASSERT_EQ(parsed.status, 0) << parsed.err;
        ReportRows rows = SplitRecords(parsed.out, 0);
        const std::vector<const char*>& heads = KindInfo(kind).exportHeadings;
        ReportRows expected = {{KindInfo(kind).exportTitle}, {""}, {""}, ReportRow(heads.begin(), heads.end())};
        for (ReportRow row : m_dlg->m_detailRows) {
            ASSERT_GE(row.size(), heads.size());
            EXPECT_TRUE(std::all_of(row.begin() + heads.size(), row.end(), [](auto& t) { return t.empty(); }));
            row.resize(heads.size());
            expected.push_back(row);
        }
        EXPECT_EQ(rows, expected);
    }
    EXPECT_EQ(m_files->Requests().size(), 6u);
    EXPECT_TRUE(m_files->Requests()[0].confirmOverwrite);
}

// The chooser offered no kind of file and a name typed without a suffix was
// written as it stood, with no word of where. It offers CSV files, a bare
// name gets ".csv" (a file of that name is replaced only on Yes), and the
// user is told where the file went; python's csv reader reads it back.
TEST_F(ReportsExportTest, ChooserOffersCsvAndABareNameGetsTheSuffix) {
    ChooseKind(kPainVsTime);
    SetRange(kMarchFrom, kMarchTo);
    const struct {
        const char* typed;   // as the chooser hands it back
        const char* written; // the file that must hold the export
        bool existing;       // the suffixed file is there already
        Answer answer;       // to the question whether to replace it
    } cases[] = {
        {"report", "report.csv", false, Answer::No},
        {"march.csv", "march.csv", false, Answer::No},
        {"kept", "kept.csv", true, Answer::No},
        {"replaced", "replaced.csv", true, Answer::Yes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const std::string written = m_dir.File(c.written);
        if (c.existing) {
            ASSERT_TRUE(grvtest::WriteFile(written, "an older export"));
        }
        m_prompter->Clear();
        m_prompter->Queue(c.answer);
        m_files->Queue(QString::fromStdString(m_dir.File(c.typed)));
        m_dlg->OnBnClickedExport();
        const platform::ui::FileRequest& asked = m_files->Requests().back();
        EXPECT_TRUE(asked.filter.startsWith("CSV Files (*.csv)|*.csv|")) << asked.filter.toStdString();
        EXPECT_EQ(asked.defaultSuffix, "csv");
        const QString path = QString::fromStdString(written);
        std::vector<QString> told;
        if (c.existing)
            told.push_back(kExportReplaceQuestion.arg(path));
        if (!c.existing || c.answer == Answer::Yes)
            told.push_back(kExportedMessage.arg(path));
        EXPECT_EQ(m_prompter->Texts(), told);
        if (c.existing && c.answer == Answer::No) {
            EXPECT_EQ(ReadFile(written), "an older export");
            continue;
        }
        EXPECT_EQ(ReadFile(written), ReadFile(kDataDir + "/export-kind" + std::to_string(kPainVsTime) + ".csv"));
        if (std::string(c.typed) != c.written) {
            EXPECT_FALSE(grvtest::FileExists(m_dir.File(c.typed)));
        }
        const auto parsed = grvtest::Python("import csv,sys\n"
                                            "print(len(list(csv.reader(open(sys.argv[1],newline='')))))\n",
                                            {written});
        ASSERT_EQ(parsed.status, 0) << parsed.err;
        EXPECT_EQ(std::stoul(parsed.out), 4 + m_dlg->m_detailRows.size());
    }
}

TEST_F(ReportsExportTest, CancelledChooserWritesNothing) {
    ChooseKind(kPainVsTime);
    SetRange(kMarchFrom, kMarchTo);
    m_dlg->OnBnClickedExport();
    ASSERT_EQ(m_prompter->Prompts().size(), 1u);
    EXPECT_EQ(m_prompter->Prompts()[0].text, kNoFileMessage);
    EXPECT_EQ(m_prompter->Prompts()[0].title, kNoFileTitle);
}

TEST_F(ReportsExportTest, FailedReportAsksForNoFile) {
    m_dlg->OnBnClickedExport(); // equal times
    EXPECT_EQ(m_prompter->Texts(), (std::vector<QString>{kSameTimesMessage, kRequestFailedMessage}));
    EXPECT_EQ(m_prompter->Prompts()[1].title, kRequestFailedTitle);
    EXPECT_TRUE(m_files->Requests().empty());
}

TEST_F(ReportsExportTest, UnwritableFileIsReportedNotPassedOver) {
    ChooseKind(kPainVsTime);
    SetRange(kMarchFrom, kMarchTo);
    const QString missing = QString::fromStdString(m_dir.File("no-such-folder/out.csv"));
    m_files->Queue(missing);
    m_dlg->OnBnClickedExport();
    ASSERT_EQ(m_prompter->Prompts().size(), 1u);
    EXPECT_EQ(m_prompter->Prompts()[0].title, kWriteFailedTitle);
    EXPECT_TRUE(m_prompter->Prompts()[0].text.contains(missing));
    EXPECT_FALSE(grvtest::FileExists(missing.toStdString()));
}

} // namespace
