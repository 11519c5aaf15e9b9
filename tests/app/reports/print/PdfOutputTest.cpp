// Pages printed to PDF at 600 dpi on A4 and Letter, judged by poppler:
// pdftotext finds texts where the page put them, pdfinfo counts the pages
// and names the document, pdftoppm finds the fills.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QPrinter>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "PrintTestSupport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintJob.h"
#include "app/reports/print/PrintRegion.h"
#include "app/reports/print/PrintTable.h"
#include "tests/support/TestSupport.h"

using namespace printtest;

namespace {

constexpr int kDpi = 600;
constexpr double kPointsPerPixel = 72.0 / kDpi;
constexpr double kTolerance = 1.0; // points

struct Paper {
    const char* name;
    QPageSize::PageSizeId id;
};

// A page as the printouts make one: half-inch margins on the printable area.
PrintRect PageRect(const PrintRect& area) {
    return {kDpi / 2, kDpi / 2, area.right - kDpi / 2, area.bottom - kDpi / 2};
}

double Pt(int pixels) {
    return pixels * kPointsPerPixel;
}

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
const char* const ReportLayout::kHeadings[kColumns] = {"\nDate",    "Pain\nMax", "Pain\nAvg",
                                                       "Pain\nMin", "Pain\nCur", "\nSubject"};

class PdfOutput : public ::testing::TestWithParam<Paper> {
protected:
    QString PrintReport(int rows, const QString& docName) {
        const QString file = TempPath(QString("%1-%2.pdf").arg(GetParam().name).arg(rows));
        QPrinter printer(QPrinter::HighResolution);
        SetUpPdfPrinter(printer, file, GetParam().id);
        PrintJob job(&printer);
        EXPECT_GT(job.StartDoc(docName), 0);
        area = job.DrawingRect();
        EXPECT_GT(job.StartPage(), 0);
        {
            CPage page(PageRect(area), job.Dc(), print::kMapText);
            ReportLayout::Print(page, 0, rows);
        }
        EXPECT_GT(job.EndPage(), 0);
        EXPECT_GT(job.EndDoc(), 0);
        return file;
    }

    PrintRect area;
};

// Where texts stand, page counts and the rules of every row are judged on
// the real report printouts (ReportPrintTest); here, a filled column.
TEST_P(PdfOutput, FilledCellsAreBlackBetweenTheirRules) {
    const QString pdf = PrintReport(3, "rules");
    const int rowHeight = static_cast<int>(7 / 72.0 * kDpi * 1.5);
    const int firstRowTop = 300 + 3 * static_cast<int>(7 / 72.0 * kDpi);
    const PdfCrop crop(pdf, 1, kDpi, 250, 250, 4400, 1000);
    ASSERT_FALSE(crop.IsNull());
    const int col4 = 300 + 660 + 3 * 240;
    EXPECT_TRUE(crop.Dark(col4 + 60, firstRowTop + rowHeight + 10));
    EXPECT_FALSE(crop.Dark(col4 - 60, firstRowTop + rowHeight + 10));
    EXPECT_TRUE(crop.DarkNear(300 + 660, firstRowTop + rowHeight / 2));
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
    EXPECT_NEAR(text.xMin, Pt(601 + 60), kTolerance); // content column + 0.1 inch
    ASSERT_TRUE(FindLine(words, "Black Caption", &text));

    const QImage crop = RenderPdf(file, 1, kDpi, 0, 0, 2000, 2500);
    ASSERT_FALSE(crop.isNull());
    EXPECT_EQ(qGray(crop.pixel(1500, 1150)), 192); // light gray fill
    EXPECT_EQ(qGray(crop.pixel(1700, 2350)), 0);   // black fill below the caption
    // The caption's letters are white on black: some white inside its glyph box.
    int white = 0;
    for (int y = static_cast<int>(text.yMin / kPointsPerPixel); y < static_cast<int>(text.yMax / kPointsPerPixel); ++y)
        for (int x = static_cast<int>(text.xMin / kPointsPerPixel); x < static_cast<int>(text.xMax / kPointsPerPixel);
             ++x)
            white += qGray(crop.pixel(x, y)) > 200;
    EXPECT_GT(white, 100);
}

INSTANTIATE_TEST_SUITE_P(Papers, PdfOutput,
                         ::testing::Values(Paper{"A4", QPageSize::A4}, Paper{"Letter", QPageSize::Letter}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

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
        EXPECT_EQ(job.StartPage(), 0); // already in a page
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

// Printing to a file writes the path as every writer of one does. Each row
// prints a page to a kind of target, or aborts it, with room to spare, on a
// full disk or past the file size limit. A whole print leaves a PDF where
// the path leads (the file, the link's target, what the FIFO's reader got)
// that pdfinfo reads as one page with its title, and a device a device; an
// aborted or failed one leaves the target as it was, mode included, says
// why, and leaves no file of its own. Printing into a FIFO once hung for
// good reading it back: a print that hangs ends the run, named.
enum class Room { Enough, FullDisk, SizeLimit };
struct PrintCase {
    grvtest::TargetKind kind;
    bool abort = false;
    Room room = Room::Enough;
    bool dangling = false; // an Absent target named by a link
};

constexpr unsigned kPrintSeconds = 60;
constexpr std::uint64_t kSmallLimit = 4096;
constexpr char kTitle[] = "a whole page";
constexpr size_t kShown = 40;
char g_hungPrint[256];

// Past the limit the run ends, naming the print that hung.
class HangGuard {
public:
    explicit HangGuard(const std::string& what) {
        std::snprintf(g_hungPrint, sizeof g_hungPrint, "printing hung: %s\n", what.c_str());
        std::signal(SIGALRM, [](int) {
            const ssize_t ignored = ::write(2, g_hungPrint, std::strlen(g_hungPrint));
            (void)ignored;
            std::_Exit(1);
        });
        ::alarm(kPrintSeconds);
    }
    ~HangGuard() { ::alarm(0); }
};

// Prints the page, or starts it and aborts; FailureReason says why it failed.
int PrintOnePage(PrintJob& job, bool abort) {
    if (job.StartDoc(kTitle) <= 0 || job.StartPage() <= 0)
        return 0;
    {
        CPage page(PageRect(job.DrawingRect()), job.Dc(), print::kMapText);
        page.Print(0.0, 0.0, 0x80, 12, "%s", "Printed by Gorvane");
    }
    if (job.EndPage() <= 0)
        return 0;
    if (abort) {
        job.AbortDoc();
        return 0;
    }
    return job.EndDoc();
}

std::string ModeOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? std::to_string(st.st_mode & 07777) : "none";
}

void RunPrintTable(const std::string& folder, const std::vector<PrintCase>& rows) {
    using grvtest::TargetKind;
    int n = 0;
    for (const PrintCase& row : rows) {
        const std::string name = "out" + std::to_string(n++) + ".pdf";
        const std::string trace = std::string(grvtest::TargetKindName(row.kind)) +
                                  (row.dangling ? " behind a link" : "") + (row.abort ? ", aborted" : "") +
                                  (row.room == Room::FullDisk    ? ", full disk"
                                   : row.room == Room::SizeLimit ? ", size limit"
                                                                 : "");
        SCOPED_TRACE(trace);
        grvtest::WriteTarget target(folder, name, row.kind, "an older document");
        ASSERT_EQ(target.Error(), 0);
        if (row.dangling) {
            ASSERT_EQ(::symlink((name + ".target").c_str(), target.Path().c_str()), 0);
        }
        if (row.kind == TargetKind::Regular || row.kind == TargetKind::Link) {
            ASSERT_EQ(::chmod(target.Path().c_str(), 0600), 0);
        }
        const std::string before = target.Describe();
        const std::string mode = ModeOf(target.Path());
        QPrinter printer(QPrinter::HighResolution);
        const QString path = QString::fromStdString(target.Path());
        SetUpPdfPrinter(printer, path, QPageSize::A4);
        PrintJob job(&printer);
        int printed;
        {
            HangGuard guard(trace);
            std::optional<grvtest::FileSizeLimit> limit;
            if (row.room == Room::SizeLimit)
                limit.emplace(kSmallLimit);
            printed = PrintOnePage(job, row.abort);
        }
        const std::string after = target.Describe();
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
        }
        if (row.kind != TargetKind::Absent) {
            EXPECT_EQ(ModeOf(target.Path()), mode);
        }
        if (row.abort || row.room != Room::Enough) {
            EXPECT_EQ(printed, 0);
            EXPECT_TRUE(after == before) << "now " << after.substr(0, kShown) << "... (" << after.size() << " bytes)";
            const QString why = row.abort ? QString()
                                : row.room == Room::FullDisk
                                    ? QString(print_texts::kFileDiskFull).arg(path)
                                    : QString(print_texts::kFileNotWritable).arg(path, "File too large");
            EXPECT_EQ(job.FailureReason(), why);
            continue;
        }
        EXPECT_EQ(printed, 1) << job.FailureReason().toStdString();
        if (row.kind == TargetKind::PrivateDevice) {
            EXPECT_EQ(after, "device(1,3)");
            continue;
        }
        const size_t pdf = after.find("%PDF-");
        ASSERT_NE(pdf, std::string::npos) << after.substr(0, 80);
        const std::string want = row.kind == TargetKind::Link || row.dangling ? "link(" + name + ".target)->file:"
                                 : row.kind == TargetKind::Fifo               ? "fifo:"
                                                                              : "file:";
        EXPECT_EQ(after.substr(0, pdf), want);
        const QString judged = TempPath("judged.pdf");
        ASSERT_TRUE(grvtest::WriteFile(judged.toStdString(), std::string_view(after).substr(pdf)));
        EXPECT_EQ(PdfInfo(judged, "Pages"), "1");
        EXPECT_EQ(PdfInfo(judged, "Title"), kTitle);
    }
}

// Every row of a kind: printed, aborted.
std::vector<PrintCase> PrintedAndAborted(std::initializer_list<grvtest::TargetKind> kinds) {
    std::vector<PrintCase> rows;
    for (grvtest::TargetKind kind : kinds)
        for (bool abort : {false, true})
            rows.push_back({kind, abort});
    return rows;
}

TEST(PrintToFile, EveryTargetIsWrittenAsEveryWriterWritesIt) {
    using grvtest::TargetKind;
    grvtest::TempDir dir;
    std::vector<PrintCase> rows =
        PrintedAndAborted({TargetKind::Absent, TargetKind::Regular, TargetKind::Link, TargetKind::Fifo});
    rows.push_back({TargetKind::Absent, false, Room::SizeLimit});
    rows.push_back({TargetKind::Regular, false, Room::SizeLimit});
    rows.push_back({TargetKind::Absent, false, Room::Enough, true});
    RunPrintTable(dir.Path(), rows);
}

TEST(PrintToFile, IntoAPrivateDeviceLeavesItADevice) {
    grvtest::TempDir dir;
    RunPrintTable(dir.Path(), PrintedAndAborted({grvtest::TargetKind::PrivateDevice}));
}

// The disk is a small tmpfs, filled before the prints.
TEST(PrintToFile, OntoAFullDiskKeepsTheOlderFileAndSaysSo) {
    grvtest::TempDir dir;
    const std::string disk = dir.File("small-disk");
    ASSERT_TRUE(std::filesystem::create_directory(disk));
    // tests/run-common.sh leaves this test out where a tmpfs cannot be mounted.
    ASSERT_TRUE(grvtest::RunProgram({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", disk}).Ok());
    struct Unmount {
        std::string disk;
        ~Unmount() { grvtest::RunProgram({"umount", disk}); }
    } unmount{disk};
    ASSERT_FALSE(grvtest::WriteFile(disk + "/filler", std::string(128 * 1024, 'f'))) << "the disk is full now";
    RunPrintTable(disk, {{grvtest::TargetKind::Absent, false, Room::FullDisk},
                         {grvtest::TargetKind::Regular, false, Room::FullDisk}});
}

TEST(PrintJobRun, SmallestMarginsWidenThePrintableArea) {
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdfPrinter(printer, TempPath("margins.pdf"), QPageSize::A4);
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    EXPECT_LT(printer.width(), 4500);
    UseSmallestMargins(&printer);
    EXPECT_NEAR(printer.width(), 4960, 2); // 210 mm at 600 dpi, from whole points
    EXPECT_GE(printer.height(), 7015);
}

} // namespace
