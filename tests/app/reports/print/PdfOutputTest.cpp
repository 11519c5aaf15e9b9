// Pages printed to PDF at 600 dpi on A4 and Letter, judged by poppler:
// pdftotext finds each text where the page computed it, pdfinfo counts the
// pages and names the document, pdftoppm finds the fills and rules.
#include <gtest/gtest.h>

#include <QFile>
#include <QPrinter>
#include <cmath>

#include "PrintTestSupport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintJob.h"
#include "app/reports/print/PrintRegion.h"
#include "app/reports/print/PrintTable.h"

using namespace printtest;

namespace {

constexpr int kDpi = 600;
constexpr double kPointsPerPixel = 72.0 / kDpi;
constexpr double kTolerance = 1.0;  // points

struct Paper {
    const char* name;
    QPageSize::PageSizeId id;
};

// A page as the printouts make one: half-inch margins on the printable area.
PrintRect PageRect(const PrintRect& area) {
    return {kDpi / 2, kDpi / 2, area.right - kDpi / 2, area.bottom - kDpi / 2};
}

double Pt(int pixels) { return pixels * kPointsPerPixel; }

// A report-like page: a heading, a table with three heading lines whose rows
// hold "r<row>c<col>", a framed column of black cells, and a foot.
struct ReportLayout {
    static constexpr int kColumns = 6;
    static const double kWidths[kColumns];
    static const char* const kHeadings[kColumns];

    static void Print(CPage& page, int firstRow, int rows) {
        page.SetFont("Ariel");
        page.Print(0.0, 0.0, 0x81, 24, "%s", "Pain vs. Time");
        PrintTableHeader header;
        header.pointSize = 7;
        header.penWidth = 1;
        header.linesPerRow = 1;
        header.unitsInches = 1;
        header.equalWidths = 0;
        header.headingLines = 3;
        header.top = 0.5;
        header.left = 0.5;
        header.right = 7.5;
        header.columns = kColumns;
        header.rows = rows;
        for (int c = 0; c < kColumns; ++c)
            header.column[c].Set(kWidths[c], kHeadings[c], c == 4 ? print::kFillBlack : 0);
        page.Table(&header);
        for (int k = 0; k < rows; ++k)
            for (int c = 0; c < kColumns; ++c)
                page.PrintCell(&header, k, c, 9, 0x80, "r%dc%d", firstRow + k, c);
        page.Print(10.0, 1.0, 0x80, 8, "%s", "Printed by Gorvane");
    }
};
const double ReportLayout::kWidths[kColumns] = {1.1, 0.4, 0.4, 0.4, 0.4, 4.0};
const char* const ReportLayout::kHeadings[kColumns] = {"\nDate", "Pain\nMax", "Pain\nAvg",
                                                       "Pain\nMin", "Pain\nCur", "\nSubject"};

class PdfOutput : public ::testing::TestWithParam<Paper> {
protected:
    QString PrintReport(int totalRows, const QString& docName) {
        const QString file = TempPath(QString("%1-%2.pdf").arg(GetParam().name).arg(totalRows));
        QPrinter printer(QPrinter::HighResolution);
        SetUpPdfPrinter(printer, file, GetParam().id);
        PrintJob job(&printer);
        EXPECT_GT(job.StartDoc(docName), 0);
        area = job.DrawingRect();
        const int pages = std::max(1, (totalRows + 59) / 60);
        for (int p = 0; p < pages; ++p) {
            EXPECT_GT(job.StartPage(), 0);
            CPage page(PageRect(area), job.Dc(), print::kMapText);
            const int rows = std::min(60, totalRows - p * 60);
            ReportLayout::Print(page, p * 60, rows);
            EXPECT_GT(job.EndPage(), 0);
        }
        EXPECT_GT(job.EndDoc(), 0);
        return file;
    }

    PrintRect area;
};

TEST_P(PdfOutput, PrintableAreaHoldsTheSevenAndAHalfInchLayout) {
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, TempPath("area.pdf"), GetParam().id);
    PrintJob job(&printer);
    ASSERT_GT(job.StartDoc("area"), 0);
    const PrintRect rect = PageRect(job.DrawingRect());
    CPage page(rect, job.Dc(), print::kMapText);
    EXPECT_EQ(page.LogPixelsX(), kDpi);
    EXPECT_EQ(page.LogPixelsY(), kDpi);
    EXPECT_GE(page.SetRightMargin(0), page.ConvertToUnits(7.5, print::kHorizontal));
    EXPECT_GE(page.SetBottomMargin(0), page.ConvertToUnits(10.0, print::kVertical));
    EXPECT_EQ(page.State().offset, 0);
    EXPECT_NE(page.CreateRegion(1.0, 0.75, 10.0, 7.5, 0), nullptr);
    job.EndDoc();
}

TEST_P(PdfOutput, TextsStandWhereThePageComputedThem) {
    const QString pdf = PrintReport(3, "Pain vs. Time");
    const std::vector<PdfWord> words = PdfWords(pdf, 1);
    ASSERT_FALSE(words.empty());
    const double rightEdge = Pt(area.right - kDpi / 2);

    PdfWord heading;
    ASSERT_TRUE(FindLine(words, "Pain vs. Time", &heading));
    EXPECT_NEAR((heading.xMin + heading.xMax) / 2, rightEdge / 2, kTolerance);
    EXPECT_NEAR(heading.yMin, 0.0, 2.0);  // top of the glyph box at row 0
    EXPECT_GT(heading.yMax - heading.yMin, 20.0);  // 24 points

    PdfWord foot;
    ASSERT_TRUE(FindLine(words, "Printed by Gorvane", &foot));
    EXPECT_NEAR((foot.xMin + foot.xMax) / 2, (72.0 + rightEdge) / 2, kTolerance);
    EXPECT_NEAR(foot.yMin, 720.0, 2.0);

    // Cells: centred in their inset rectangle, vertically centred in the row.
    const int rowHeight = static_cast<int>(7 / 72.0 * kDpi * 1.5);
    const int band = 3 * static_cast<int>(7 / 72.0 * kDpi);
    const int firstRowTop = 300 + band;
    int columnLeft = 300;
    for (int c = 0; c < ReportLayout::kColumns; ++c) {
        int width = static_cast<int>(ReportLayout::kWidths[c] * kDpi);
        if (c == ReportLayout::kColumns - 1) width = 4500 - columnLeft;  // fitted to the right
        for (int r = 0; r < 3; ++r) {
            PdfWord cell;
            const QString text = QString("r%1c%2").arg(r).arg(c);
            ASSERT_TRUE(FindLine(words, text, &cell)) << text.toStdString();
            const int top = firstRowTop + r * rowHeight;
            EXPECT_NEAR((cell.xMin + cell.xMax) / 2, Pt(columnLeft + width / 2), kTolerance)
                << text.toStdString();
            EXPECT_NEAR((cell.yMin + cell.yMax) / 2, Pt(top + rowHeight / 2), kTolerance)
                << text.toStdString();
        }
        columnLeft += width;
    }

    // Two-line headings: "Max" sits one line below "Pain"; "Date" one below the top line.
    PdfWord pain, max, date;
    ASSERT_TRUE(FindLine(words, "Max", &max));
    ASSERT_TRUE(FindLine(words, "Date", &date));
    ASSERT_TRUE(FindLine(words, "Pain", &pain, Pt(300) - kTolerance));
    EXPECT_NEAR(max.yMin - pain.yMin, max.yMax - max.yMin, 1.5);
    EXPECT_NEAR(date.yMin, max.yMin, kTolerance);
    EXPECT_GT(pain.yMin, Pt(300) - kTolerance);
}

TEST_P(PdfOutput, PageCountsAndDocumentName) {
    const struct {
        int rows;
        int pages;
    } cases[] = {{1, 1}, {60, 1}, {61, 2}, {120, 2}};
    for (const auto& c : cases) {
        const QString pdf = PrintReport(c.rows, "Pain vs. Actions");
        EXPECT_EQ(PdfInfo(pdf, "Pages").toInt(), c.pages) << c.rows;
        EXPECT_EQ(PdfInfo(pdf, "Title"), "Pain vs. Actions");
        if (c.rows == 61) {
            // The last row stands alone in data row 0 of the second page.
            const std::vector<PdfWord> second = PdfWords(pdf, 2);
            PdfWord cell;
            EXPECT_TRUE(FindLine(second, "r60c0", &cell));
            EXPECT_FALSE(FindLine(second, "r59c0", &cell));
            EXPECT_FALSE(FindLine(PdfWords(pdf, 1), "r60c0", &cell));
        }
    }
}

TEST_P(PdfOutput, FillsAndRulesAreOnThePaper) {
    const QString pdf = PrintReport(3, "rules");
    const int rowHeight = static_cast<int>(7 / 72.0 * kDpi * 1.5);
    const int band = 3 * static_cast<int>(7 / 72.0 * kDpi);
    const int firstRowTop = 300 + band;
    // Probe a crop holding the table's first rows at 600 dpi.
    const int cropX = 250, cropY = 250, cropW = 4400, cropH = band + 3 * rowHeight + 150;
    const PdfCrop crop(pdf, 1, kDpi, cropX, cropY, cropW, cropH);
    ASSERT_FALSE(crop.IsNull());
    // The black column (column 4) is filled between its rules.
    const int col4 = 300 + 660 + 3 * 240;
    EXPECT_TRUE(crop.Dark(col4 + 60, firstRowTop + rowHeight + 10));
    // Left of the table and inside an unfilled cell away from its text: paper.
    EXPECT_FALSE(crop.Dark(280, firstRowTop + 20));
    EXPECT_FALSE(crop.Dark(300 + 20, firstRowTop + rowHeight / 2));
    // Row rules under every row, the frame's left and right edges, a column rule.
    for (int r = 0; r <= 3; ++r) EXPECT_TRUE(crop.DarkNear(2000, firstRowTop + r * rowHeight)) << r;
    EXPECT_TRUE(crop.DarkNear(300, firstRowTop + rowHeight / 2));
    EXPECT_TRUE(crop.DarkNear(4500, firstRowTop + rowHeight / 2));
    EXPECT_TRUE(crop.DarkNear(300 + 660, firstRowTop + rowHeight / 2));
    // The heading band's top edge.
    EXPECT_TRUE(crop.DarkNear(2000, 300));
}

TEST_P(PdfOutput, RegionFillAndWhiteCaptionOnBlack) {
    const QString file = TempPath(QString("%1-region.pdf").arg(GetParam().name));
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, file, GetParam().id);
    PrintJob job(&printer);
    ASSERT_GT(job.StartDoc("region"), 0);
    ASSERT_GT(job.StartPage(), 0);
    {
        CPage page(PageRect(job.DrawingRect()), job.Dc(), print::kMapText);
        CPrintRegion* gray = page.CreateRegion(1.0, 1.0, 2.0, 3.0, print::kFillLightGray);
        ASSERT_NE(gray, nullptr);
        gray->DrawBorder();
        page.PrintInRegion(gray, 0.1, 0.1, 0, 12, "%s", "Inside the gray");
        CPrintRegion* black = page.CreateRegion(3.0, 1.0, 4.0, 3.0, print::kFillBlack);
        ASSERT_NE(black, nullptr);
        black->SetTitle("Black Caption", 10, 0x91, print::kFillBlack);
    }
    job.EndPage();
    job.EndDoc();

    const std::vector<PdfWord> words = PdfWords(file, 1);
    PdfWord text;
    ASSERT_TRUE(FindLine(words, "Inside the gray", &text));
    EXPECT_NEAR(text.xMin, Pt(601 + 60), kTolerance);  // content column + 0.1 inch
    ASSERT_TRUE(FindLine(words, "Black Caption", &text));

    const QImage crop = RenderPdf(file, 1, kDpi, 0, 0, 2000, 2500);
    ASSERT_FALSE(crop.isNull());
    EXPECT_EQ(qGray(crop.pixel(1500, 1150)), 192);  // light gray fill
    EXPECT_EQ(qGray(crop.pixel(1700, 2350)), 0);    // black fill below the caption
    // The caption's letters are white on black: some white inside its glyph box.
    int white = 0;
    for (int y = static_cast<int>(text.yMin / kPointsPerPixel);
         y < static_cast<int>(text.yMax / kPointsPerPixel); ++y)
        for (int x = static_cast<int>(text.xMin / kPointsPerPixel);
             x < static_cast<int>(text.xMax / kPointsPerPixel); ++x)
            white += qGray(crop.pixel(x, y)) > 200;
    EXPECT_GT(white, 100);
}

INSTANTIATE_TEST_SUITE_P(Papers, PdfOutput,
                         ::testing::Values(Paper{"A4", QPageSize::A4},
                                           Paper{"Letter", QPageSize::Letter}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

TEST(PrintJobRun, PagesOnlyInsideADocument) {
    const QString file = TempPath("job.pdf");
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, file, QPageSize::A4);
    PrintJob job(&printer);
    EXPECT_EQ(job.StartPage(), 0);
    EXPECT_EQ(job.EndDoc(), 0);
    ASSERT_GT(job.StartDoc("three"), 0);
    EXPECT_EQ(job.StartDoc("again"), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_GT(job.StartPage(), 0);
        EXPECT_EQ(job.StartPage(), 0);  // already in a page
        EXPECT_GT(job.EndPage(), 0);
    }
    EXPECT_GT(job.EndDoc(), 0);
    EXPECT_EQ(PdfInfo(file, "Pages").toInt(), 3);
    EXPECT_EQ(PdfInfo(file, "Title"), "three");
}

TEST(PrintJobRun, AbortedDocumentLeavesNoFile) {
    const QString file = TempPath("aborted.pdf");
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, file, QPageSize::Letter);
    {
        PrintJob job(&printer);
        ASSERT_GT(job.StartDoc("aborted"), 0);
        ASSERT_GT(job.StartPage(), 0);
        // Ends without EndDoc: the job is aborted.
    }
    EXPECT_FALSE(QFile::exists(file));
}

TEST(PrintJobRun, SmallestMarginsWidenThePrintableArea) {
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, TempPath("margins.pdf"), QPageSize::A4);
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    EXPECT_LT(printer.width(), 4500);
    UseSmallestMargins(&printer);
    EXPECT_NEAR(printer.width(), 4960, 2);  // 210 mm at 600 dpi, from whole points
    EXPECT_GE(printer.height(), 7015);
}

}  // namespace
