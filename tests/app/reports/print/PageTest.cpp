// The page: units, edges, the print state, the text families and check
// boxes, judged through the calls it hands its printer component.
#include <gtest/gtest.h>

#include <QPrinter>
#include <cstring>

#include "PrintTestSupport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintJob.h"
#include "app/reports/print/PrintRegion.h"

using namespace printtest;

namespace {

TEST(PageUnits, MappingModesAndConversions) {
    RecordedPage text; // MM_TEXT, 600 dpi
    EXPECT_EQ(text.page.ConvertToUnits(1.0, print::kHorizontal), 600);
    EXPECT_EQ(text.page.ConvertToUnits(0.0, print::kHorizontal), 0);
    EXPECT_EQ(text.page.ConvertToUnits(-2.0, print::kVertical), 0);
    EXPECT_EQ(text.page.ConvertToInches(0, print::kVertical), 0.0);
    EXPECT_DOUBLE_EQ(text.page.ConvertToInches(900, print::kVertical), 1.5);
    EXPECT_EQ(text.page.ConvertToUnits(0.0999, print::kVertical), 59); // truncated
    EXPECT_DOUBLE_EQ(text.page.PageWidthInches(), 8.0);
    EXPECT_DOUBLE_EQ(text.page.PageHeightInches(), 10.5);

    RecordedPage other(4); // an unknown mode works as MM_TEXT
    EXPECT_EQ(other.page.MapMode(), print::kMapText);
    EXPECT_EQ(other.page.State().pageWidth, 4800);

    // Anisotropic: 1000 x 1000 units whatever the paper; 8.0 inches wide.
    RecordedPage aniso(print::kMapAnisotropic, {0, 0, 4800, 6000});
    EXPECT_EQ(aniso.page.State().pageWidth, 1000);
    EXPECT_EQ(aniso.page.State().pageHeight, 1000);
    EXPECT_EQ(aniso.page.ConvertToUnits(1.0, print::kHorizontal), 125);
    EXPECT_EQ(aniso.page.ConvertToUnits(1.0, print::kVertical), 100);
    EXPECT_DOUBLE_EQ(aniso.page.ConvertToInches(125, print::kHorizontal), 1.0);
    double top = 1.0, left = 2.0, bottom = 3.0, right = 4.0;
    aniso.page.ConvertArea(top, left, bottom, right);
    EXPECT_EQ(top, 100);
    EXPECT_EQ(left, 250);
    EXPECT_EQ(bottom, 300);
    EXPECT_EQ(right, 500);
}

TEST(PageUnits, CentringOffsetOnWidePaper) {
    // Portrait: wider than 8.0 inches centres an 8.0-inch layout.
    RecordedPage wide(1, {0, 0, 5100, 6600});
    EXPECT_EQ(wide.page.State().offset, wide.page.ConvertToUnits(0.5, print::kHorizontal) / 2);
    RecordedPage narrow(1, {0, 0, 4800, 6600});
    EXPECT_EQ(narrow.page.State().offset, 0);

    // Landscape: 10.8 inches gets none; 11 inches centres a 10.5-inch layout.
    const struct {
        double widthInches;
        int offset;
    } cases[] = {{10.8, 0}, {11.0, 150}};
    for (const auto& c : cases) {
        QPrinter printer(QPrinter::HighResolution);
        SetUpPdfPrinter(printer, TempPath("landscape.pdf"), QPageSize::Letter);
        printer.setPageSize(QPageSize(QSizeF(8.0, c.widthInches), QPageSize::Inch));
        printer.setPageOrientation(QPageLayout::Landscape);
        PrintJob job(&printer);
        ASSERT_GT(job.StartDoc("landscape"), 0);
        CPage page(job.DrawingRect(), job.Dc(), print::kMapText);
        EXPECT_EQ(page.Orientation(), print::kLandscape);
        EXPECT_EQ(page.State().offset, c.offset) << c.widthInches;
        job.EndDoc();
    }
}

TEST(PageEdges, MarginSettersReturnTheOldEdge) {
    RecordedPage p;
    EXPECT_EQ(p.page.SetRightMargin(0), 4800);
    EXPECT_EQ(p.page.SetRightMargin(0), 4800); // 0 changes nothing
    EXPECT_EQ(p.page.SetRightMargin(3000), 4800);
    EXPECT_EQ(p.page.SetRightMargin(-1), 3000); // back to the page width
    EXPECT_EQ(p.page.SetRightMargin(0), 4800);
    EXPECT_DOUBLE_EQ(p.page.SetBottomMargin(9.0), 10.5);
    EXPECT_EQ(p.page.SetBottomMargin(0), 5400);
    EXPECT_DOUBLE_EQ(p.page.SetBottomMargin(-1.0), 9.0);
    EXPECT_EQ(p.page.SetBottomMargin(0), 6300);
}

TEST(PageText, TextBeyondTheEdgesIsSkipped) {
    RecordedPage p;
    EXPECT_EQ(p.page.Print(100, 4801, "%s", "right of the edge"), 100);
    EXPECT_EQ(p.page.Print(6301, 100, "%s", "below the edge"), 6301);
    EXPECT_TRUE(p.Outputs().empty());
    p.page.PrintInRect(100, 4801, 200, 5000, 0, 10, "outside");
    p.page.PrintInRect(6301, 100, 6400, 500, 0, 10, "outside");
    EXPECT_TRUE(p.Outputs().empty());
}

TEST(PageText, PrintReturnsTheRowBelowAndTheNextColumn) {
    RecordedPage p;
    const int below = p.page.Print(600, 300, 0x200, 10, "%s", "First");
    const Call first = p.Outputs().at(0);
    EXPECT_EQ(Area(first.state), (Sides{300, 600, 4800, 6300}));
    EXPECT_EQ(below, first.state.lastRect.bottom);
    EXPECT_GT(below, 600);
    EXPECT_EQ(p.page.GetNextColumn(false, false), first.state.lastEndColumn);
    EXPECT_EQ(p.page.GetNextColumn(false, true), first.state.lastEndColumn + p.page.Metrics().maxCharWidth);
    EXPECT_GT(p.page.Metrics().maxCharWidth, 0);

    // Column -1 goes on along the same row where the last text ended.
    p.page.PrintText("Second", -1, 0xffff, 0);
    const Call second = p.Outputs().at(1);
    EXPECT_EQ(second.state.left, first.state.lastEndColumn);
    EXPECT_EQ(second.state.top, 600);

    // The in/out column forms give back where the text ended.
    int column = 300;
    p.page.Print(1200, &column, 0x200, 10, "%s", "Third");
    EXPECT_EQ(column, p.Outputs().at(2).state.lastEndColumn);
    double inches = 0.5;
    p.page.Print(2.5, &inches, 0x200, 10, "%s", "Fourth");
    EXPECT_DOUBLE_EQ(inches, p.page.ConvertToInches(p.Outputs().at(3).state.lastEndColumn, print::kHorizontal));
    // An empty text draws nothing and stays on its row.
    EXPECT_EQ(p.page.Print(3000, 300, "%s", ""), 3000);
    EXPECT_EQ(p.Outputs().size(), 4u);
}

TEST(PageText, LineSpacingAddsToTheRowBelow) {
    RecordedPage p;
    EXPECT_DOUBLE_EQ(p.page.SetLineSpacing(1.5), 1.0);
    EXPECT_DOUBLE_EQ(p.page.SetLineSpacing(0.0), 1.5); // kept
    const int below = p.page.Print(600, 300, 0x200, 10, "%s", "Spaced");
    EXPECT_EQ(below, p.Outputs().at(0).state.lastRect.bottom + 41); // trunc(83 x 0.5)
    const double inches = p.page.Print(2.0, 0.5, 0x200, 10, "%s", "Spaced");
    EXPECT_DOUBLE_EQ(inches, p.page.ConvertToInches(p.Outputs().at(1).state.lastRect.bottom + 41, print::kVertical));
}

TEST(PageText, FlagsAndSizePersistExceptInRegions) {
    RecordedPage p;
    p.page.Print(600, 300, 0x81, 14, "%s", "Heading");
    EXPECT_EQ(p.page.State().flags, 0x81);
    EXPECT_EQ(p.page.State().pointSize, 14);
    p.page.Print(900, 300, 0xffff, 0, "%s", "Kept");
    EXPECT_EQ(p.Outputs().at(1).state.flags, 0x81);
    EXPECT_EQ(p.Outputs().at(1).state.pointSize, 14);
    p.page.Print(1200, 300, "%s", "Current");
    EXPECT_EQ(p.Outputs().at(2).state.flags, 0x81);

    CPrintRegion* region = p.page.CreateRegion(1800, 300, 3000, 3000, 0);
    ASSERT_NE(region, nullptr);
    p.page.SetFontSize(10);
    p.page.Print(1500, 300, 0x200, 10, "%s", "Reset");
    p.page.PrintInRegion(region, 0, 0, 0x81, 20, "%s", "In region");
    EXPECT_EQ(p.Outputs().back().state.flags, 0x81);
    EXPECT_EQ(p.page.State().flags, 0x200);
    EXPECT_EQ(p.page.State().pointSize, 10);
}

TEST(PageText, FormattedTextsAreCappedAndDecoded) {
    RecordedPage p;
    const std::string longText(6000, 'x');
    p.page.Print(600, 300, 0, 10, "%s", longText.c_str());
    EXPECT_EQ(p.Outputs().at(0).state.text.size(), CPage::kFormatChars - 1);
    // A cut never leaves half a character behind.
    const std::string accents = std::string(5118, 'y') + "\xc3\xa9\xc3\xa9";
    p.page.Print(600, 300, 0, 10, "%s", accents.c_str());
    EXPECT_EQ(p.Outputs().at(1).state.text, QString(5118, 'y'));
    // Bytes that are not UTF-8 are read as cp1252.
    p.page.Print(600, 300, 0, 10, "%s", "caf\xe9 \x80");
    EXPECT_EQ(p.Outputs().at(2).state.text, QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));
}

TEST(PageText, RectanglesKeepTheStateAndSetTheNextColumn) {
    RecordedPage p;
    p.page.Print(600, 300, 0x200, 10, "%s", "Before");
    p.page.PrintInRect(1000, 500, 1500, 2500, 0x10, 12, "Framed %d");
    const Call framed = p.Outputs().at(1);
    EXPECT_EQ(Area(framed.state), (Sides{500, 1000, 2500, 1500}));
    EXPECT_EQ(framed.state.text, "Framed %d"); // a text, not a format
    EXPECT_EQ(p.page.GetNextColumn(false, false), framed.state.lastEndColumn);
    EXPECT_EQ(p.page.State().flags, 0x200);
    EXPECT_EQ(p.page.State().top, 600);
    EXPECT_EQ(p.page.SavedStates(), 0u);
    p.page.PrintInRect(1.0, 1.0, 2.0, 3.0, 0, 10, "Inches");
    EXPECT_EQ(p.Outputs().at(2).state.left, 600);
    EXPECT_EQ(p.Outputs().at(2).state.bottom, 1200);
}

const char* CallbackText(std::uint32_t data) {
    static std::string text;
    text = "data " + std::to_string(data);
    return text.c_str();
}

TEST(PageText, CallbackFormsNeedACallback) {
    RecordedPage p;
    CPrintRegion* region = p.page.CreateRegion(1800, 300, 3000, 3000, 0);
    EXPECT_EQ(p.page.PrintData(600, 300, 7u), 0);
    EXPECT_EQ(p.page.PrintData(1.0, 0.5, 0x200, 10, 7u), 0.0);
    EXPECT_EQ(p.page.PrintDataInRegion(region, 0, 0, 0, 10, 7u), 0);
    p.page.PrintDataInRect(100, 100, 500, 500, 0, 10, 7u);
    p.page.PrintDataInRegionRect(region, 0, 0, 100, 100, 0, 10, 7u);
    EXPECT_TRUE(p.Outputs().empty());

    p.page.SetTextCallback(&CallbackText);
    EXPECT_GT(p.page.PrintData(600, 300, 42u), 600);
    EXPECT_EQ(p.Outputs().at(0).state.text, "data 42");
    p.page.PrintDataInRect(100, 100, 500, 500, 0, 10, 43u);
    EXPECT_EQ(p.Outputs().at(1).state.text, "data 43");
}

TEST(PageState, SavedStatesNestBeyondTen) {
    RecordedPage p;
    for (int i = 0; i < 50; ++i) {
        p.page.SetFontSize(i + 1);
        p.page.SaveState();
    }
    EXPECT_EQ(p.page.SavedStates(), 50u);
    for (int i = 50; i > 0; --i) {
        p.page.RestoreState();
        EXPECT_EQ(p.page.State().pointSize, i);
    }
    p.page.RestoreState(); // empty: nothing happens
    EXPECT_EQ(p.page.State().pointSize, 1);
}

TEST(PageState, SetFontReturnsAValueOfItsOwn) {
    RecordedPage a, b;
    const std::string first = a.page.SetFont("Ariel");
    const std::string second = b.page.SetFont("Courier");
    EXPECT_EQ(first, print::kDefaultFace);
    EXPECT_EQ(second, print::kDefaultFace);
    EXPECT_EQ(a.page.SetFont(nullptr), "Ariel");
    EXPECT_EQ(first, print::kDefaultFace); // not overwritten by later calls
    a.page.SetFont(std::string(60, 'F').c_str());
    EXPECT_EQ(a.page.State().faceName.size(), print::kMaxFaceNameChars);
}

TEST(PageDrawing, LinesAndBoxesKeepTheState) {
    RecordedPage p;
    p.page.Line(100, 200, 300, 400, 3, print::kDashed);
    p.page.Box(1.0, 1.0, 2.0, 2.0, 2, print::kFillGray, 0xffff);
    const auto lines = CallsOf(p.calls, Call::Line);
    const auto boxes = CallsOf(p.calls, Call::Box);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(lines[0].state.lineStyle, print::kDashed);
    EXPECT_EQ(lines[0].penWidth, 3);
    EXPECT_EQ(lines[0].state.left, 200);
    EXPECT_EQ(lines[0].state.bottom, 300);
    EXPECT_EQ(boxes[0].state.fillCode, print::kFillGray);
    EXPECT_EQ(boxes[0].state.lineStyle, print::kSolid); // 0xffff keeps it
    EXPECT_EQ(boxes[0].state.right, 1200);
    EXPECT_EQ(p.page.State().fillCode, 0);
    EXPECT_EQ(p.page.State().lineStyle, print::kSolid);
    EXPECT_EQ(p.page.State().right, 4800);
}

TEST(PageCheckBox, LabelFirstThenSquareAndCross) {
    RecordedPage p;
    p.page.CheckBox("Done 100%d %s", true, 600, 300, 10, true, 1, 0, 0x200);
    const auto outputs = p.Outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].state.text, "Done 100%d %s"); // printed as it is
    const int w = p.page.ConvertToUnits(10 / 72.0, print::kHorizontal);
    const int h = p.page.ConvertToUnits(10 / 72.0, print::kVertical);
    const int c = outputs[0].state.lastEndColumn + p.page.Metrics().maxCharWidth;
    const auto boxes = CallsOf(p.calls, Call::Box);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Area(boxes[0].state), (Sides{c, 600, c + w, 600 + h}));
    EXPECT_EQ(boxes[0].state.fillCode, 0);
    const auto lines = CallsOf(p.calls, Call::Line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].state.top, 600);
    EXPECT_EQ(lines[0].state.bottom, 600 + h);
    EXPECT_EQ(lines[1].state.top, 600 + h);
    EXPECT_EQ(lines[1].state.bottom, 600);
    EXPECT_EQ(p.page.State().flags, print::kDefaultFlags);
    EXPECT_EQ(p.page.SavedStates(), 0u);
}

TEST(PageCheckBox, BoxFirstFilledWhenTicked) {
    RecordedPage p;
    p.page.CheckBox("Label", true, 600, 300, 10, false, 1, print::kFillBlack, 0x200);
    const int w = p.page.ConvertToUnits(10 / 72.0, print::kHorizontal);
    EXPECT_EQ(p.Outputs().at(0).state.left, 300 + 2 * w);
    const auto boxes = CallsOf(p.calls, Call::Box);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].state.left, 300);
    EXPECT_EQ(boxes[1].state.fillCode, print::kFillBlack);
    EXPECT_TRUE(CallsOf(p.calls, Call::Line).empty());

    RecordedPage unticked;
    unticked.page.CheckBox("Label", false, 600, 300, 10, false, 1, 0, 0x200);
    EXPECT_EQ(CallsOf(unticked.calls, Call::Box).size(), 1u);
    EXPECT_TRUE(CallsOf(unticked.calls, Call::Line).empty());
}

TEST(PageRegions, OperationsOnAMissingRegionDoNothing) {
    RecordedPage p;
    CPrintRegion* none = p.page.CreateRegion(100.0, 100.0, 200.0, 200.0, 0); // off the page
    ASSERT_EQ(none, nullptr);
    EXPECT_EQ(p.page.PrintInRegion(none, 0, 0, 0, 10, "%s", "x"), 0);
    EXPECT_EQ(p.page.PrintInRegion(none, 0.1, 0.1, 0, 10, "%s", "x"), 0.0);
    p.page.PrintInRegionRect(none, 0, 0, 10, 10, 0, 10, "x");
    p.page.LineInRegion(none, 0, 0, 10, 10, 1, 0);
    p.page.BoxInRegion(none, 0.0, 0.0, 1.0, 1.0, 1, 0, 0);
    p.page.CheckBoxInRegion(none, "x", true, 0, 0, 10, true, 1, 0, 0);
    EXPECT_EQ(p.page.CreateRegionScaled(none, 0.25, 0.1, 4.6, 3.4, 0), nullptr);
    EXPECT_TRUE(p.calls.empty());
}

TEST(PageRegions, RegionTextIsRelativeAndInkFollowsTheFill) {
    RecordedPage p;
    CPrintRegion* dark = p.page.CreateRegion(1000, 400, 2000, 3000, print::kFillDarkGray);
    ASSERT_NE(dark, nullptr);
    const int below = p.page.PrintInRegion(dark, 60, 60, 0x200, 10, "%s", "White");
    const Call out = p.Outputs().at(0);
    EXPECT_EQ(Area(out.state), (Sides{401 + 60, 1001 + 60, 3000, 2000}));
    EXPECT_EQ(below, out.state.lastRect.bottom - 1001);
    EXPECT_EQ(out.textColor, QColor(255, 255, 255));
    EXPECT_EQ(out.bkMode, print::kTransparent);
    // Put back afterwards.
    EXPECT_EQ(p.canvas.Dc()->GetTextColor(), QColor(Qt::black));
    EXPECT_EQ(p.canvas.Dc()->GetBkMode(), print::kOpaque);

    // Rectangles, lines and boxes are offset by the content origin and cut
    // to the region's right and bottom.
    p.page.PrintInRegionRect(dark, 100, 100, 5000, 5000, 0, 10, "Cut");
    const Call cut = p.Outputs().at(1);
    EXPECT_EQ(Area(cut.state), (Sides{501, 1101, 3000, 2000}));
    p.page.LineInRegion(dark, 0, 0, 5000, 5000, 1, 0);
    const Call line = CallsOf(p.calls, Call::Line).at(0);
    EXPECT_EQ(line.state.left, 401);
    EXPECT_EQ(line.state.bottom, 2000);
    EXPECT_EQ(line.state.right, 3000);
}

} // namespace
