// The reports dialog's Print button over real journals, printed to PDF at
// 600 dpi on A4 and Letter and judged by poppler: pdftotext finds every
// text where the layout puts it, pdfinfo counts the pages and names the
// document, pdftoppm finds the rules of the tables.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QPushButton>
#include <memory>

#include "app/reports/GRVDlgReports.h"
#include "app/reports/ReportPrint.h"
#include "app/reports/ReportQueries.h"
#include "app/reports/print/PrintJob.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Scripted.h"
#include "tests/app/reports/print/PrintTestSupport.h"
#include "tests/support/JournalFixture.h"

using namespace reports;
using namespace reports_texts;
using namespace printtest;
using platform::ui::ScopedSeams;
using platform::ui::ScriptedPrinterChooser;
using platform::ui::ScriptedPrompter;

namespace {

constexpr int kDpi = 600;
constexpr double kTolerance = 1.0; // points
double Pt(int pixels) {
    return pixels * 72.0 / kDpi;
}
int Px(double inches) {
    return static_cast<int>(inches * kDpi);
}

const std::string kDataDir = std::string(GRV_TEST_DATA_DIR) + "/reports";
// Whole days: the fixture's entries at 1 and 31 March midnight lie outside.
const QDateTime kMarchFrom(QDate(2026, 3, 2), QTime(0, 0, 0));
const QDateTime kMarchTo(QDate(2026, 3, 30), QTime(0, 0, 0));

struct Paper {
    const char* name;
    QPageSize::PageSizeId id;
};

class ReportPrintTest : public ::testing::TestWithParam<Paper>, protected grvtest::Journal {
protected:
    void SetUp() override {
        OpenJournal();
        m_dlg = std::make_unique<CGRVDlgReports>();
        m_dlg->m_pDb = &m_db;
        const QPageSize::PageSizeId paper = GetParam().id;
        m_printers->SetUp([paper](QPrinter& printer) {
            printer.setResolution(kDpi);
            printer.setPageSize(QPageSize(paper));
            printer.setPageOrientation(QPageLayout::Portrait);
        });
    }

    void Sql(const std::string& sql) {
        const auto cli = grvtest::SqliteCli(JournalPath(), sql);
        ASSERT_EQ(cli.status, 0) << cli.out;
    }

    void LoadFixture() { Sql(".read " + kDataDir + "/fixture.sql"); }

    // Entries "Row <first>" ... one minute apart inside March.
    void AddRows(int count, int first = 0) {
        Sql("WITH RECURSIVE n(i) AS (SELECT " + std::to_string(first) +
            " UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " + std::to_string(first + count) +
            ") INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry, del) SELECT "
            "printf('2026-03-02 %02d:%02d:00', i / 60, i % 60), 9, 6, 2, 5, 'Row ' || i, '', 0 "
            "FROM n;");
    }

    void ChooseKind(int kind) {
        QComboBox* combo = m_dlg->ReportTypeCombo();
        combo->setCurrentIndex(-1); // so that choosing the kind shown counts too
        combo->setCurrentIndex(combo->findText(QString::fromLatin1(KindInfo(kind).comboText)));
    }

    // Presses Print for the kind (chosen in the combo unless it is -1).
    QString PrintKind(int kind, const QString& name) {
        if (kind >= 0)
            ChooseKind(kind);
        m_dlg->FromPicker()->setDateTime(kMarchFrom);
        m_dlg->ToPicker()->setDateTime(kMarchTo);
        const QString pdf = TempPath(QString("%1-%2.pdf").arg(GetParam().name, name));
        m_printers->Queue(pdf);
        m_dlg->findChild<QPushButton*>("1031")->click();
        return pdf;
    }

    // The right edge of the page's print area in pixels: the paper less
    // half an inch (the PDF printer has no margins).
    int RightEdge() const { return qRound(QPageSize(GetParam().id).sizePoints().width() / 72.0 * kDpi) - kDpi / 2; }

    std::shared_ptr<ScriptedPrompter> m_prompter = std::make_shared<ScriptedPrompter>();
    std::shared_ptr<ScriptedPrinterChooser> m_printers = std::make_shared<ScriptedPrinterChooser>();
    ScopedSeams m_seams{{m_prompter, nullptr, m_printers, nullptr}};
    std::unique_ptr<CGRVDlgReports> m_dlg;
};

TEST_P(ReportPrintTest, PageCountsFollowTheRowsAndTheKindNamesTheDocument) {
    const struct {
        int rows;
        int pages;
    } cases[] = {{1, 1}, {60, 1}, {61, 2}, {120, 2}};
    int added = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        AddRows(c.rows - added, added);
        added = c.rows;
        const QString timePdf = PrintKind(kPainVsTime, QString("time-%1").arg(c.rows));
        EXPECT_EQ(m_dlg->m_nPageCount, c.pages);
        EXPECT_EQ(PdfInfo(timePdf, "Pages").toInt(), c.pages);
        EXPECT_EQ(PdfInfo(timePdf, "Title"), "Pain vs. Time");

        // Every row once, 60 to a page.
        for (int p = 1; p <= c.pages; ++p) {
            const std::vector<PdfWord> words = PdfWords(timePdf, p);
            int found = 0;
            for (int r = (p - 1) * 60; r < std::min(c.rows, p * 60); ++r) {
                PdfWord cell;
                ASSERT_TRUE(FindLine(words, QString("Row %1").arg(r), &cell)) << r;
                ++found;
            }
            EXPECT_EQ(found, std::min(60, c.rows - (p - 1) * 60));
            PdfWord other;
            EXPECT_FALSE(FindLine(words, QString("Row %1").arg(p * 60), &other));
        }
    }
    EXPECT_TRUE(m_prompter->Prompts().empty());
    // The dialog offers a PDF file, named after the report.
    for (const platform::ui::PrintRequest& r : m_printers->Requests()) {
        EXPECT_EQ(r.docName, "Pain vs. Time");
        EXPECT_TRUE(r.printToFile);
        EXPECT_EQ(r.fileFolder, QString::fromStdString(m_dir.Path())) << "the journal's folder";
        EXPECT_FALSE(r.pageRange || r.selection);
    }
}

TEST_P(ReportPrintTest, TextsStandWhereTheLayoutPutsThem) {
    AddRows(3);
    Sql("UPDATE entry SET sbj = 'Up 50%d or %s' WHERE sbj = 'Row 1';");
    const QString pdf = PrintKind(kPainVsTime, "positions");
    const std::vector<PdfWord> words = PdfWords(pdf, 1);
    ASSERT_FALSE(words.empty());
    const int right = RightEdge();

    // Rows count from the page's origin half an inch below the top.
    PdfWord heading;
    ASSERT_TRUE(FindLine(words, "Pain vs. Time", &heading));
    EXPECT_NEAR((heading.xMin + heading.xMax) / 2, Pt(right) / 2, kTolerance);
    EXPECT_NEAR(heading.yMin, Pt(Px(0.5)), 2.0);

    // The foot at row 10 where the paper has room for it (A4); on Letter it
    // moves up to stay inside the bottom margin.
    PdfWord foot;
    ASSERT_TRUE(FindLine(words, kPrintFootNotice, &foot));
    EXPECT_NEAR((foot.xMin + foot.xMax) / 2, (Pt(Px(1.0)) + Pt(right)) / 2, kTolerance);
    const double paperHeight = QPageSize(GetParam().id).sizePoints().height();
    if (paperHeight > Pt(Px(11.5))) {
        EXPECT_NEAR(foot.yMin, Pt(Px(10.5)), 2.0);
    }
    EXPECT_LE(foot.yMax, paperHeight - Pt(Px(0.5)));

    // Columns: 1.1 inch, four of 0.4, and the subject up to 7.5 inches.
    const int rowHeight = static_cast<int>(7 / 72.0 * kDpi * 1.5);
    const int band = 3 * static_cast<int>(7 / 72.0 * kDpi);
    const int firstRowTop = Px(1.0) + band;
    const int lefts[] = {300, 960, 1200, 1440, 1680, 1920, 4500};
    const char* const values[] = {"2026-03-02 00:00:00", "9", "6", "2", "5", "Row 0"};
    double previousY = -1.0;
    for (int c = 0; c < 6; ++c) {
        PdfWord cell;
        ASSERT_TRUE(FindLine(words, values[c], &cell, previousY)) << values[c];
        const double cy = Pt(firstRowTop + rowHeight / 2);
        EXPECT_NEAR((cell.yMin + cell.yMax) / 2, cy, kTolerance) << values[c];
        if (c == 5) {
            EXPECT_NEAR(cell.xMin, Pt(lefts[c] + 2), kTolerance); // not centred
        } else {
            EXPECT_NEAR((cell.xMin + cell.xMax) / 2, Pt((lefts[c] + lefts[c + 1]) / 2), kTolerance) << values[c];
        }
        previousY = cell.yMin - 2;
    }
    // A percent sign in a text is printed, not taken as a format.
    PdfWord literal;
    ASSERT_TRUE(FindLine(words, "Up 50%d or %s", &literal));
    EXPECT_NEAR((literal.yMin + literal.yMax) / 2, Pt(firstRowTop + rowHeight + rowHeight / 2), kTolerance);

    // Headings that begin with a line break stand on the second and third lines.
    const int line = static_cast<int>(7 / 72.0 * kDpi);
    PdfWord date, subject, pain;
    ASSERT_TRUE(FindLine(words, "Date", &date));
    ASSERT_TRUE(FindLine(words, "Subject", &subject));
    ASSERT_TRUE(FindLine(words, "Pain", &pain, Pt(Px(1.0)) - kTolerance));
    EXPECT_NEAR(date.yMin, subject.yMin, 0.1);
    EXPECT_GT(date.yMin, pain.yMin + Pt(line) / 2);
    EXPECT_LT(date.yMax, Pt(Px(1.0) + band) + kTolerance);
}

TEST_P(ReportPrintTest, EveryKindPrintsItsColumnsAndNoMore) {
    LoadFixture();
    const struct {
        int kind;
        const char* heading;
        std::vector<QString> columnWords;
        QString firstCell;     // text 0 of the first detail row
        QString beyondColumns; // a text of the row past the last column, if any
    } cases[] = {
        {kPainVsActions, "Pain vs. Actions", {"Inc/Dec", "Duration", "Minutes", "Category"}, "Stretching", "Morning"},
        {kPainVsMedications, "Pain vs. Medicines", {"Quantity", "Dosage"}, "Ibuprofen", "Morning"},
        {kPainVsLife, "Pain vs. Life", {"Relati", "onship", "Concen", "tration"}, "", ""},
        {kSideEffectsOverTime, "Pain vs. Side Effects", {"Appe", "tite", "Vomit"}, "", ""},
        {kMedicinesVsSideEffects, "Medicines vs. Side Effects", {"Qty", "Vomit"}, "Ibuprofen", ""},
        {kPainVsTime, "Pain vs. Time", {"Subject"}, "Morning", ""},
    };
    double timeHeading = 0.0;
    double medicineHeading = 0.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.heading);
        const QString pdf = PrintKind(c.kind, QString("kind%1").arg(c.kind));
        EXPECT_EQ(PdfInfo(pdf, "Pages").toInt(), 1);
        const std::vector<PdfWord> words = PdfWords(pdf, 1);
        PdfWord w;
        ASSERT_TRUE(FindLine(words, c.heading, &w));
        (c.kind == kMedicinesVsSideEffects ? medicineHeading : timeHeading) = w.yMax - w.yMin;
        for (const QString& word : c.columnWords)
            EXPECT_TRUE(FindLine(words, word, &w)) << word.toStdString();
        if (!c.firstCell.isEmpty()) {
            EXPECT_TRUE(FindLine(words, c.firstCell, &w));
        }
        if (!c.beyondColumns.isEmpty()) {
            EXPECT_FALSE(FindLine(words, c.beyondColumns, &w));
        }
        // Every detail row's first text is on the page.
        for (const ReportRow& row : m_dlg->m_detailRows) {
            const QString first = QString::fromStdString(row[0]).split(' ').first();
            EXPECT_TRUE(FindLine(words, first, &w)) << row[0];
        }
    }
    // The medicines heading is 20 points, the others 24.
    EXPECT_NEAR(medicineHeading / timeHeading, 20.0 / 24.0, 0.03);
}

TEST_P(ReportPrintTest, RulesFrameEveryRowOfTheTable) {
    AddRows(3);
    const QString pdf = PrintKind(kPainVsTime, "rules");
    const int rowHeight = static_cast<int>(7 / 72.0 * kDpi * 1.5);
    const int band = 3 * static_cast<int>(7 / 72.0 * kDpi);
    const int firstRowTop = 600 + band;
    const int cropX = 250, cropY = 550, cropW = 4400, cropH = band + 3 * rowHeight + 150;
    const PdfCrop crop(pdf, 1, kDpi, cropX, cropY, cropW, cropH);
    ASSERT_FALSE(crop.IsNull());
    for (int r = 0; r <= 3; ++r)
        EXPECT_TRUE(crop.DarkNear(3000, firstRowTop + r * rowHeight)) << r;
    EXPECT_TRUE(crop.DarkNear(3000, 600)); // the heading band's top edge
    for (int x : {300, 960, 1200, 1440, 1680, 1920, 4500})
        EXPECT_TRUE(crop.DarkNear(x, firstRowTop + rowHeight / 2)) << x;
    // Paper outside the table and inside an empty stretch of a cell.
    EXPECT_FALSE(crop.Dark(280, firstRowTop + 20));
    EXPECT_FALSE(crop.Dark(4400, firstRowTop + rowHeight / 2));
    EXPECT_FALSE(crop.DarkNear(3000, firstRowTop + 3 * rowHeight + 60));
}

// The heading touched the paper's top edge (row 0 of the printable area, which
// on a PDF is the paper), where a printer cuts it. Everything on a full page,
// every word as pdftotext -bbox finds it and every rule pdftoppm draws, lies
// inside the printable area less the half-inch margins.
TEST_P(ReportPrintTest, EveryTextAndRuleStaysInsideTheMargins) {
    AddRows(kPrintRowsPerPage);
    const QString pdf = PrintKind(kPainVsTime, "margins");
    const QSizeF paper = QPageSize(GetParam().id).sizePoints();
    const double margin = Pt(Px(0.5));
    const std::vector<PdfWord> words = PdfWords(pdf, 1);
    ASSERT_GT(words.size(), 6u * kPrintRowsPerPage);
    PdfWord heading;
    ASSERT_TRUE(FindLine(words, "Pain vs. Time", &heading));
    EXPECT_GE(heading.yMin, margin - 0.5);
    for (const PdfWord& w : words) {
        SCOPED_TRACE(w.text.toStdString());
        EXPECT_GE(w.xMin, margin - 0.5);
        EXPECT_GE(w.yMin, margin - 0.5);
        EXPECT_LE(w.xMax, paper.width() - margin + 0.5);
        EXPECT_LE(w.yMax, paper.height() - margin + 0.5);
    }
    // No ink in the margins: the paper rendered whole at 100 dpi.
    constexpr int kViewDpi = 100;
    const int width = static_cast<int>(paper.width() / 72.0 * kViewDpi);
    const int height = static_cast<int>(paper.height() / 72.0 * kViewDpi);
    const PdfCrop page(pdf, 1, kViewDpi, 0, 0, width, height);
    ASSERT_FALSE(page.IsNull());
    const int m = kViewDpi / 2 - 1;
    int inked = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inMargin = x < m || y < m || x >= width - m || y >= height - m;
            inked += inMargin && page.Dark(x, y);
        }
    }
    EXPECT_EQ(inked, 0);
}

TEST_P(ReportPrintTest, KindNotChosenGivesAnUnnamedDocument) {
    AddRows(2);
    const QString pdf = PrintKind(-1, "unnamed");
    EXPECT_EQ(PdfInfo(pdf, "Pages").toInt(), 1);
    EXPECT_EQ(PdfInfo(pdf, "Title"), "");
}

INSTANTIATE_TEST_SUITE_P(Papers, ReportPrintTest,
                         ::testing::Values(Paper{"A4", QPageSize::A4}, Paper{"Letter", QPageSize::Letter}),
                         [](const auto& info) { return std::string(info.param.name); });

class ReportPrintRefusalTest : public ReportPrintTest {};

// An empty journal: the user is told there is nothing to print (it was the
// chart's "not enough data to graph", then "Error Processing Your Request").
TEST_P(ReportPrintRefusalTest, NothingToPrintIsSaidAndNoPrinterAskedFor) {
    const QString pdf = PrintKind(kPainVsTime, "failed");
    EXPECT_EQ(m_printers->Calls(), 0u);
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(m_prompter->Texts(), std::vector<QString>{kNothingToPrintMessage});
    // A report that fails otherwise still says the request failed.
    m_dlg->ToPicker()->setDateTime(kMarchFrom.addDays(-1));
    m_prompter->Clear();
    m_dlg->OnBnClickedPrint();
    EXPECT_EQ(m_prompter->Texts(), (std::vector<QString>{kReversedTimesMessage, kRequestFailedMessage}));
    EXPECT_EQ(m_printers->Calls(), 0u);
}

TEST_P(ReportPrintRefusalTest, CancelledPrinterChoiceEndsQuietly) {
    AddRows(2);
    ChooseKind(kPainVsTime);
    m_dlg->FromPicker()->setDateTime(kMarchFrom);
    m_dlg->ToPicker()->setDateTime(kMarchTo);
    m_printers->Queue("");
    m_dlg->OnBnClickedPrint();
    EXPECT_EQ(m_printers->Calls(), 1u);
    EXPECT_TRUE(m_prompter->Prompts().empty());
    EXPECT_EQ(m_dlg->m_nPageCount, 0);
}

// A job that could not start said nothing; now the user is told why.
TEST_P(ReportPrintRefusalTest, UnwritableOutputPrintsNoPageAndSaysWhy) {
    AddRows(2);
    const QString missing = TempPath("no-such-folder/out.pdf");
    m_printers->Queue(missing);
    ChooseKind(kPainVsTime);
    m_dlg->FromPicker()->setDateTime(kMarchFrom);
    m_dlg->ToPicker()->setDateTime(kMarchTo);
    m_dlg->OnBnClickedPrint();
    EXPECT_EQ(m_dlg->m_nPageCount, 0); // the document never started
    EXPECT_FALSE(QFile::exists(missing));
    ASSERT_EQ(m_prompter->Prompts().size(), 1u);
    EXPECT_EQ(m_prompter->Prompts()[0].text,
              PrintFailedMessage(QString(print_texts::kFileNotWritable).arg(missing, "No such file or directory")));
    EXPECT_EQ(m_prompter->Prompts()[0].title, kRequestFailedTitle);
}

INSTANTIATE_TEST_SUITE_P(Papers, ReportPrintRefusalTest, ::testing::Values(Paper{"A4", QPageSize::A4}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
