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
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <functional>
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
// Whole days: the fixture's entries at 1 and 31 March midnight lie outside.
const QDateTime kMarchFrom(QDate(2026, 3, 2), QTime(0, 0, 0));
const QDateTime kMarchTo(QDate(2026, 3, 30), QTime(0, 0, 0));

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
            EXPECT_FALSE(AnyTextContains(*rows, "At the very")); // the days just outside
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

TEST_F(ReportsDialogTest, ReversedDaysStopWithTheirMessage) {
    SetRange(kMarchTo, kMarchFrom);
    EXPECT_EQ(m_dlg->RunReport(), 0);
    SetRange(kMarchFrom, kMarchFrom.addDays(-1));
    EXPECT_EQ(m_dlg->RunReport(), 0);
    EXPECT_EQ(m_prompter->Texts(), (std::vector<QString>{kReversedTimesMessage, kReversedTimesMessage}));
    for (const auto& p : m_prompter->Prompts())
        EXPECT_EQ(p.title, "Date/Time Issue");
    EXPECT_TRUE(m_dlg->m_strDetailSql.empty()) << "nothing ran";
    EXPECT_TRUE(m_dlg->m_pGraph->isHidden());
}

// From and To took the time of day of the moment Create was pressed: at
// 12:30 a range from 10 May left out an entry of 10 May 09:15, and Create
// right after opening (today to today) said the times were the same. From
// is the start of its day, To the end of its own, whatever time the pickers
// hold; the rows are judged by sqlite3's own date().
TEST_F(ReportsDialogTest, RangeIsWholeDaysWhateverTheTimeOfDay) {
    const QDate today = QDate::currentDate();
    const auto at = [](const QDate& d, const char* time) { return d.toString(Qt::ISODate).toStdString() + " " + time; };
    std::string sql = "INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry, del) VALUES ";
    for (const std::string& ts :
         {std::string("2026-05-09 23:59:59"), std::string("2026-05-10 00:00:00"), std::string("2026-05-10 09:15:00"),
          std::string("2026-05-12 23:59:59"), std::string("2026-05-13 00:00:00"), at(today.addDays(-1), "23:59:59"),
          at(today, "00:00:00"), at(today, "23:59:59"), at(today.addDays(1), "00:00:00")}) {
        sql += "('" + ts + "', 5, 4, 3, 2, 'edge', '', 0),";
    }
    sql.back() = ';';
    Cli(sql);
    const QTime lunch(12, 30, 0);
    const struct {
        const char* name;
        QDate from, to;
        QTime fromTime, toTime;
        size_t rows;
    } cases[] = {
        {"after lunch, two days", QDate(2026, 5, 10), QDate(2026, 5, 12), lunch, lunch, 3},
        {"one day, From later in the day than To", QDate(2026, 5, 10), QDate(2026, 5, 10), QTime(18, 0), QTime(8, 0),
         2},
        {"the last second and the next midnight", QDate(2026, 5, 12), QDate(2026, 5, 13), QTime(23, 0), QTime(0, 30),
         2},
        {"today to today, as the dialog opens", QDate(), QDate(), QTime(), QTime(), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_prompter->Clear();
        if (c.from.isValid()) {
            ChooseKind(kPainVsTime);
            SetRange(QDateTime(c.from, c.fromTime), QDateTime(c.to, c.toTime));
        } else {
            m_dlg = std::make_unique<CGRVDlgReports>();
            m_dlg->m_pDb = &m_db;
        }
        m_dlg->findChild<QPushButton*>("1032")->click();
        EXPECT_TRUE(m_prompter->Prompts().empty()) << m_prompter->Texts().front().toStdString();
        const QDate from = c.from.isValid() ? c.from : today;
        const QDate to = c.to.isValid() ? c.to : today;
        const ReportRows expected = CliRows("select ts from entry where del=0 and date(ts) between '" +
                                                from.toString(Qt::ISODate).toStdString() + "' and '" +
                                                to.toString(Qt::ISODate).toStdString() + "' order by ts",
                                            1);
        EXPECT_EQ(expected.size(), c.rows);
        ASSERT_EQ(m_dlg->m_detailRows.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(m_dlg->m_detailRows[i][0], expected[i][0]);
        EXPECT_EQ(m_dlg->ResultList()->topLevelItemCount(), static_cast<int>(expected.size()));
    }
}

TEST_F(ReportsDialogTest, PainTimeSpanChoosesTheSummaryAtExactBoundaries) {
    // Spans are wall-clock days from From's first second to To's last one:
    // the range crosses the change to summer time, and the pickers' times
    // of day play no part.
    const QDateTime from(kMarchFrom.date(), QTime(15, 0));
    struct Case {
        int days;
        int summaryCols;
    } cases[] = {{6, 6}, {7, 7}, {69, 7}, {70, 8}, {120, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.days);
        m_prompter->Clear();
        Run(kPainVsTime, from, QDateTime(from.date().addDays(c.days), QTime(9, 0)));
        EXPECT_EQ(m_dlg->m_nSummaryCols, c.summaryCols);
        EXPECT_EQ(m_dlg->m_nDetailCols, 6);
        EXPECT_EQ(m_dlg->m_spanRange, c.days * 86400 + 86399);
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
    // Week 9: worst 7 and 8 average 7.5, plotted as the report lists it.
    EXPECT_EQ(weekly.Value(1, 1), 7.5);

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
        // The action's or medicine's name, not its record's id.
        const size_t label = kind == kPainVsTime ? 0 : 6;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(chart.Segments()[i].toStdString(), rows[i][label]);
            for (int k = 1; k <= 4; ++k) {
                EXPECT_EQ(chart.Value(static_cast<int>(i) + 1, k), std::stod(rows[i][k]));
            }
        }
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(chart.SeriesList()[k].name, painNames[k]);
            EXPECT_EQ(chart.SeriesList()[k].colour, painColours[k]);
        }
    }
    // Stretching: worst 7 and 6 average 6.5, plotted as 6.5.
    ASSERT_EQ(Run(kPainVsActions), 1);
    EXPECT_EQ(Chart().Segments(), (std::vector<QString>{"Stretching", "Walk, long", "Reading"}));
    EXPECT_EQ(Chart().Value(1, 1), 6.5);
    ASSERT_EQ(Run(kPainVsMedications), 1);
    EXPECT_EQ(Chart().Segments(), (std::vector<QString>{"Ibuprofen", "Tramadol"}));
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
    // Min, average, max of each aspect over entries 1 and 3.
    const double expected[8][3] = {{4, 5.5, 7}, {6, 7, 8},   {3, 6, 9},   {5, 5.5, 6},
                                   {2, 2.5, 3}, {4, 5.5, 7}, {5, 6.5, 8}, {6, 7.5, 9}};
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
    // Tiredness 5, 8, 7: min 5, average 6.7, max 8.
    EXPECT_EQ(side.Value(9, 1), 5);
    EXPECT_EQ(side.Value(9, 2), 6.7);
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
    const double ibuprofen[10] = {3, 2.5, 1.5, 0.5, 4.5, 0.5, 0.5, 2.5, 6, 0.5};
    const double tramadol[10] = {6, 8, 0, 2, 3, 4, 1, 6, 8, 2};
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
    } cases[] = {{kPainVsTime, 12, nullptr}, // its pictures come from the time axis' test
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
    // A week of entries, one a day, is labelled by day: every day shows.
    ASSERT_EQ(Run(kPainVsTime, QDateTime(QDate(2026, 3, 1), QTime(0, 0)), QDateTime(QDate(2026, 3, 7), QTime(0, 0))),
              1);
    m_dlg->m_pGraph->ComposeFrame();
    EXPECT_EQ(m_dlg->m_pGraph->LineGraph()->LabelBoxes().size(), 7u);
    EXPECT_TRUE(m_prompter->Prompts().empty());
}

// Pain vs. Time over a week and over a year, judged on the rendered chart.
// Over a week its two timestamps were about three times the size of every
// other text, the first began left of the vertical axis and the last ran past
// the horizontal one, and the legend was set in a serif face. Now the
// labels' ink is within 1.6 times the legend text's height, each label lies
// between the axes' ends, centred on its point, and the legend is in the
// application's face; the labels are no taller than the axis numbers.
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
        EXPECT_LE(labelHeight, 1.6 * legendInk.height()) << "legend ink " << legendInk.height();
        EXPECT_GE(labelHeight * 1.5, legendInk.height()) << "label ink " << labelHeight;
        EXPECT_LE(labelHeight, QFontMetrics(graph.AxisFont()).height());
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

// Rows of `image` in column x holding `ink` within the plot, as a span.
std::pair<int, int> InkRowsAt(const QImage& image, int x, int top, int bottom, QColor ink) {
    int first = -1, last = -1;
    for (int y = top; y <= bottom; ++y) {
        if (image.pixelColor(x, y) != ink)
            continue;
        if (first < 0)
            first = y;
        last = y;
    }
    return {first, last};
}

const QColor kSeriesInk[] = {QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 0, 255), QColor(128, 128, 128)};

// The charts cut every value to a whole number: "Pain Avg" 4.5 was drawn at
// 4 under "Pain Cur" and vanished, Max 7.5 at 7, and the axis read "3" at
// the height of 3.5. Judged on the rendered chart: each line passes its
// point at the height of the value sqlite3 gives for the report's summary
// statement, each axis number spells the value at its height, and the
// points of Pain vs. Actions and Medications are labelled with the names
// (they were labelled with record ids).
TEST_F(ReportsDialogTest, ChartsDrawTheListedValuesOnTheirScaleAndNameTheirPoints) {
    Cli("INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry, del) VALUES "
        "('2026-05-04 09:00:00', 8, 5, 2, 4, 'w1', '', 0), ('2026-05-06 09:00:00', 7, 4, 1, 4, 'w1', '', 0),"
        "('2026-05-11 09:00:00', 7, 5, 2, 4, 'w2', '', 0), ('2026-05-12 09:00:00', 8, 5, 2, 4, 'w2', '', 0),"
        "('2026-05-13 09:00:00', 7, 5, 3, 5, 'w2', '', 0), ('2026-05-14 09:00:00', 8, 4, 2, 4, 'w2', '', 0),"
        "('2026-05-15 09:00:00', 7, 5, 2, 4, 'w2', '', 0),"
        "('2026-05-18 09:00:00', 6, 6, 3, 5, 'w3', '', 0), ('2026-05-20 09:00:00', 7, 5, 2, 5, 'w3', '', 0);"
        "INSERT INTO entry_actions (eid, name, cat, plmod, durmin, ref, del) SELECT id, CASE sbj WHEN 'w1' THEN "
        "'Swimming' WHEN 'w2' THEN 'Yoga' ELSE 'Physiotherapy' END, 'Exercise', 0, 30, '', 0 FROM entry "
        "WHERE sbj LIKE 'w_';"
        "INSERT INTO entry_meds (eid, mid, name, quantity, override, dosage, desc, del) SELECT id, 1, CASE sbj "
        "WHEN 'w1' THEN 'Naproxen' WHEN 'w2' THEN 'Paracetamol' ELSE 'Codeine' END, 1, 0, '1 tablet', '', 0 "
        "FROM entry WHERE sbj LIKE 'w_';");
    const QDateTime from(QDate(2026, 5, 4), QTime(12, 0));
    const QDateTime to(QDate(2026, 5, 24), QTime(12, 0));
    // Over 70 days or more a month is one point: one month's entries over
    // 91 days made one, which the line graph drew as bare axes.
    const QDateTime quarterFrom(QDate(2026, 4, 1), QTime(12, 0));
    const QDateTime quarterTo(quarterFrom.date().addDays(91), QTime(12, 0));
    const struct {
        int kind;
        int nameColumn; // -1: labelled by time
        QDateTime from, to;
        size_t points;
    } cases[] = {{kPainVsTime, -1, from, to, 3},
                 {kPainVsActions, 6, from, to, 3},
                 {kPainVsMedications, 6, from, to, 3},
                 {kPainVsTime, -1, quarterFrom, quarterTo, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(KindInfo(c.kind).comboText + std::string(" over ") + std::to_string(c.from.daysTo(c.to)) +
                     " days");
        ChooseKind(c.kind);
        SetRange(c.from, c.to);
        m_dlg->findChild<QPushButton*>("1032")->click();
        ASSERT_TRUE(m_prompter->Prompts().empty());
        const ReportRows rows = CliRows(m_dlg->m_strSummarySql, m_dlg->m_nSummaryCols);
        ASSERT_EQ(rows.size(), c.points);
        double most = 0;
        for (const ReportRow& row : rows) {
            for (int k = 1; k <= 4; ++k)
                most = std::max(most, std::stod(row[k]));
        }
        m_dlg->m_pGraph->ComposeFrame();
        const QImage& image = m_dlg->m_pGraph->DrawSurface();
        const C2DLineGraph& graph = *m_dlg->m_pGraph->LineGraph();
        const charts::SeriesLayout l = graph.Layout();
        const charts::AxesGeometry axes = charts::Axes(graph.Plot());
        const auto heightOf = [&](double v) { return l.zeroY - v / most * l.K; };

        for (size_t i = 0; i < rows.size(); ++i) {
            const int x = charts::LinePointX(l, static_cast<int>(i) + 1);
            for (int k = 1; k <= 4; ++k) {
                const double y = heightOf(std::stod(rows[i][k]));
                const auto [top, bottom] = InkRowsAt(image, x, axes.verticalTop.y, axes.origin.y, kSeriesInk[k - 1]);
                EXPECT_TRUE(top >= 0 && top <= y + 0.5 && bottom >= y - 0.5)
                    << "point " << i + 1 << " series " << k << ": value " << rows[i][k] << " belongs at " << y
                    << ", ink rows " << top << ".." << bottom;
            }
        }

        // M, M / 2 and 0, each written beside its own height.
        const charts::AxisNumbers numbers = charts::AxisNumberLayout(graph.Plot(), l, most);
        const struct {
            double value;
            int top;
        } scale[] = {{most, numbers.yMax}, {most / 2, numbers.yHalf}, {0, numbers.yZero}};
        const int cell = QFontMetrics(graph.AxisFont()).height();
        for (const auto& n : scale) {
            const QString text = QString::number(n.value);
            SCOPED_TRACE(text.toStdString());
            const QRect band(0, n.top, axes.origin.x - 2, cell);
            EXPECT_EQ(chart_fixtures::InkMismatch(image, band, Qt::white, graph.AxisFont(), numbers.x, n.top,
                                                  charts::TextAlign::RightTop, text),
                      0);
            const QRect ink = chart_fixtures::InkBounds(image, band, Qt::white);
            EXPECT_NEAR((ink.top() + ink.bottom()) / 2.0, heightOf(n.value), 5);
        }

        if (c.nameColumn < 0)
            continue;
        const std::vector<charts::SegmentLabelBox>& labels = graph.LabelBoxes();
        ASSERT_EQ(labels.size(), rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const QString name = QString::fromStdString(rows[i][static_cast<size_t>(c.nameColumn)]);
            const charts::Rect& b = labels[i].box;
            EXPECT_EQ(chart_fixtures::InkMismatch(image, QRect(b.left, b.top, b.Width(), b.Height()), Qt::white,
                                                  labels[i].font, labels[i].centreX, b.top,
                                                  charts::TextAlign::CentreTop, name),
                      0)
                << name.toStdString();
        }
        chart_fixtures::ExpectLabelsWhereReported(image, graph.Plot(), labels, Qt::white);
    }
}

// Five years of monthly points were labelled with month numbers in a font
// two pixels high (a row of dots) and their lines stopped at 85 % of the
// axis. The time axis is labelled by days, weeks, months or years, the
// finest whose every label can be read, each at the first point of its day
// (week, month, year); the lines run the whole axis.
TEST_F(ReportsYearTest, TimeAxisIsLabelledByAReadableStepAndTheLinesSpanIt) {
    // Four and a half more years before the fixture's, an entry every third day.
    Cli("WITH RECURSIVE d(i) AS (SELECT 0 UNION ALL SELECT i + 3 FROM d WHERE i + 3 < 1644) "
        "INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry, del) "
        "SELECT datetime('2021-06-01 10:00:00', '+' || i || ' days'), min(10, 5 + abs(6 - (i / 30) % 12) / 2 + i % 2), "
        "3 + abs(6 - (i / 30) % 12) / 2, (i / 365) % 3, 2 + abs(6 - (i / 30) % 12) / 3 + i % 3, 'early', '', 0 FROM "
        "d;");
    const QLocale c = QLocale::c();
    const auto day = [&](const QDate& d) { return c.toString(d, "MMM d"); };
    const auto month = [&](const QDate& d) {
        return d.month() == 1 ? QString::number(d.year()) : c.toString(d, "MMM");
    };
    const auto year = [&](const QDate& d) { return QString::number(d.year()); };
    const struct {
        const char* name;
        QDate from, to;
        size_t stamp; // the summary's timestamp text
        std::function<QString(const QDate&)> label;
        const char* file;
    } cases[] = {
        {"week", QDate(2026, 3, 1), QDate(2026, 3, 7), 0, day, "report-pain-vs-time-week.png"},
        {"year", QDate(2025, 12, 1), QDate(2026, 11, 30), 6, month, "report-pain-vs-time-year.png"},
        {"five years", QDate(2021, 6, 1), QDate(2026, 5, 31), 6, year, "report-pain-vs-time-five-years.png"},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        ChooseKind(kPainVsTime);
        SetRange(QDateTime(cs.from, QTime(0, 0)), QDateTime(cs.to, QTime(0, 0)));
        m_dlg->findChild<QPushButton*>("1032")->click();
        ASSERT_TRUE(m_prompter->Prompts().empty());
        m_dlg->m_pGraph->ComposeFrame();
        KeepScreenshot(cs.file);
        const QImage& image = m_dlg->m_pGraph->DrawSurface();
        const C2DLineGraph& graph = *m_dlg->m_pGraph->LineGraph();
        const charts::AxesGeometry axes = charts::Axes(graph.Plot());

        // Where a label belongs: the first point of each day (month, year).
        const ReportRows rows = CliRows(m_dlg->m_strSummarySql, m_dlg->m_nSummaryCols);
        std::vector<std::pair<int, QString>> expected;
        for (size_t i = 0; i < rows.size(); ++i) {
            const QDate d = QDate::fromString(QString::fromStdString(rows[i][cs.stamp].substr(0, 10)), Qt::ISODate);
            const QString text = cs.label(d);
            if (expected.empty() || expected.back().second != text)
                expected.emplace_back(static_cast<int>(i) + 1, text);
        }
        const std::vector<charts::SegmentLabelBox>& labels = graph.LabelBoxes();
        ASSERT_FALSE(labels.empty());
        // The first point's label may not fit between it and the vertical axis.
        const int firstX = charts::LinePointX(graph.Layout(), 1);
        if (labels.front().segment != 1 &&
            QFontMetrics(labels.front().font).horizontalAdvance(expected.front().second) / 2 > firstX - axes.origin.x) {
            expected.erase(expected.begin());
        }
        ASSERT_EQ(labels.size(), expected.size());
        const QRect zero = chart_fixtures::InkBounds(image, QRect(0, axes.origin.y - 20, axes.origin.x - 2, 30),
                                                     Qt::white); // the axis' "0"
        for (size_t i = 0; i < labels.size(); ++i) {
            SCOPED_TRACE(expected[i].second.toStdString());
            EXPECT_EQ(labels[i].segment, expected[i].first);
            const charts::Rect& b = labels[i].box;
            const QRect box(b.left, b.top, b.Width(), b.Height());
            EXPECT_EQ(chart_fixtures::InkMismatch(image, box, Qt::white, labels[i].font, labels[i].centreX, b.top,
                                                  charts::TextAlign::CentreTop, expected[i].second),
                      0);
            // Readable: as tall as the axis numbers.
            EXPECT_GE(chart_fixtures::InkBounds(image, box, Qt::white).height(), zero.height() - 1);
        }
        chart_fixtures::ExpectLabelsWhereReported(image, graph.Plot(), labels, Qt::white);

        // The lines: from the first point's share of the axis to the last's.
        const int run = axes.horizontalArrowUp.x - axes.origin.x;
        const int share = run / static_cast<int>(rows.size());
        int left = image.width(), right = -1;
        for (int x = axes.origin.x + 1; x < axes.horizontalEnd.x; ++x) {
            for (const QColor& ink : kSeriesInk) {
                if (InkRowsAt(image, x, axes.verticalTop.y, axes.origin.y - 1, ink).first >= 0) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        EXPECT_LE(left, axes.origin.x + share);
        EXPECT_GE(right, axes.horizontalArrowUp.x - share);
    }
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
    SetRange(kMarchTo, kMarchFrom);
    m_dlg->OnBnClickedExport();
    EXPECT_EQ(m_prompter->Texts(), (std::vector<QString>{kReversedTimesMessage, kRequestFailedMessage}));
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

// An export onto a full disk left a 0-byte file behind and gave only the
// system's words. It says the disk is full and leaves nothing there; an
// older export of the same name is kept as it was. The disk is a small
// tmpfs, filled before the export.
TEST_F(ReportsExportTest, ExportOntoAFullDiskSaysTheDiskIsFull) {
    const std::string disk = m_dir.File("small-disk");
    ASSERT_TRUE(std::filesystem::create_directory(disk));
    // Only root runs this test (tests/run-common.sh leaves it out for others).
    ASSERT_TRUE(grvtest::RunProgram({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk}).Ok())
        << "cannot mount a tmpfs";
    struct Unmount {
        std::string disk;
        ~Unmount() { grvtest::RunProgram({"umount", disk}); }
    } unmount{disk};
    ASSERT_TRUE(grvtest::WriteFile(disk + "/old.csv", "last month's export"));
    ASSERT_FALSE(grvtest::WriteFile(disk + "/filler", std::string(128 * 1024, 'f'))) << "the disk is full now";
    ChooseKind(kPainVsTime);
    SetRange(kMarchFrom, kMarchTo);
    for (const char* name : {"new.csv", "old.csv"}) {
        SCOPED_TRACE(name);
        const QString target = QString::fromStdString(disk + "/" + name);
        m_files->Queue(target);
        m_prompter->Clear();
        m_dlg->OnBnClickedExport();
        ASSERT_EQ(m_prompter->Prompts().size(), 1u);
        EXPECT_EQ(m_prompter->Prompts()[0].text, kExportDiskFullMessage.arg(target));
        EXPECT_EQ(m_prompter->Prompts()[0].title, kWriteFailedTitle);
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(disk))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"filler", "old.csv"}));
        EXPECT_EQ(ReadFile(disk + "/old.csv"), "last month's export");
    }
}

} // namespace
