// The printer component on an image: what it writes back about a text,
// framed texts over each fill, brushes, pens and the centring offset.
#include <gtest/gtest.h>

#include "PrintTestSupport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/Printer.h"

using namespace printtest;

namespace {

constexpr int kDpi = 100;

PrintState StateOn(ImageCanvas& canvas, const QString& text, PrintRect r, int flags = 0x200) {
    PrintState s;
    s.dc = canvas.Dc();
    s.text = text;
    s.left = r.left;
    s.top = r.top;
    s.right = r.right;
    s.bottom = r.bottom;
    s.flags = flags;
    s.pageWidth = 800;
    s.pageHeight = 600;
    return s;
}

int CountPixels(ImageCanvas& canvas, PrintRect r, int minGray, int maxGray) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) {
            const int g = qGray(canvas.Pixel(x, y));
            n += g >= minGray && g <= maxGray;
        }
    return n;
}

TEST(PrinterText, TextWithoutRightAndBottomTakesItsOwnSize) {
    ImageCanvas canvas(800, 600, kDpi);
    TextMetrics metrics;
    PrintState s = StateOn(canvas, "Measured", {100, 50, 0, 0});
    s.offset = 30;
    s.metrics = &metrics;
    CPrinter printer;
    EXPECT_EQ(printer.OutputText(&s, 1.5), 15);
    EXPECT_EQ(s.lastRect.left, 100); // page coordinates, without the offset
    EXPECT_EQ(s.lastRect.top, 50);
    EXPECT_GT(s.lastRect.right, 100 + 40);
    EXPECT_EQ(s.lastEndColumn, s.lastRect.right);
    EXPECT_EQ(s.lastHeight, s.lastRect.bottom - s.lastRect.top);
    EXPECT_NEAR(s.lastHeight, 10 * kDpi / 72.0 * 1.15, 3);
    EXPECT_GT(metrics.maxCharWidth, 0);
    // Drawn shifted right by the offset.
    EXPECT_EQ(CountPixels(canvas, {100, 50, 130, 50 + s.lastHeight}, 0, 100), 0);
    EXPECT_GT(CountPixels(canvas, {130, 50, s.lastRect.right + 30, 50 + s.lastHeight}, 0, 100), 20);
}

TEST(PrinterText, EmptyTextDrawsNothing) {
    ImageCanvas canvas(100, 100, kDpi);
    PrintState s = StateOn(canvas, "", {0, 0, 100, 100});
    s.pointSize = 9;
    s.lastEndColumn = 77;
    CPrinter printer;
    EXPECT_EQ(printer.OutputText(&s, 1.0), 18);
    EXPECT_EQ(s.lastEndColumn, 77);
    EXPECT_EQ(CountPixels(canvas, {0, 0, 100, 100}, 0, 254), 0);
}

TEST(PrinterText, WordWrapAndCentring) {
    ImageCanvas canvas(800, 600, kDpi);
    CPrinter printer;
    PrintState wrapped = StateOn(canvas, "one two three four five six seven", {0, 0, 120, 600}, 0);
    printer.OutputText(&wrapped, 1.0);
    PrintState oneLine = StateOn(canvas, "one", {0, 0, 120, 600}, 0);
    printer.MeasureText(&oneLine, 1.0);
    EXPECT_GE(wrapped.lastHeight, 2 * oneLine.lastHeight); // several lines
    EXPECT_LE(wrapped.lastRect.right, 120);
    PrintState single = StateOn(canvas, "one two three four five six seven", {0, 300, 120, 600});
    printer.OutputText(&single, 1.0);
    EXPECT_LT(single.lastHeight, 20);
    // Centred: the ink sits around the middle, the measured rectangle at the left.
    PrintState centred = StateOn(canvas, "Mid", {400, 100, 800, 130}, 0x280);
    printer.OutputText(&centred, 1.0);
    EXPECT_EQ(centred.lastRect.left, 400);
    EXPECT_EQ(CountPixels(canvas, {400, 100, 560, 130}, 0, 100), 0);
    EXPECT_GT(CountPixels(canvas, {570, 100, 630, 130}, 0, 100), 10);
}

TEST(PrinterText, RightEdgeIsLoweredToThePageWidth) {
    ImageCanvas canvas(800, 600, kDpi);
    CPrinter printer;
    PrintState s = StateOn(canvas, "Right", {0, 0, 2000, 100}, 0x240);
    s.pageWidth = 500;
    printer.OutputText(&s, 1.0);
    EXPECT_EQ(CountPixels(canvas, {500, 0, 800, 100}, 0, 100), 0);
    EXPECT_GT(CountPixels(canvas, {440, 0, 500, 40}, 0, 100), 10);
}

TEST(PrinterText, FramedTextOverEachFill) {
    const struct {
        int fill;
        int fillGray;         // the rectangle's colour
        bool whiteInk;        // text drawn white
        bool whiteBehindText; // opaque background boxes behind the text
    } cases[] = {
        {print::kFillBlack, 0, true, false},
        {print::kFillDarkGray, 64, true, false},
        {print::kFillLightGray, 192, false, false},
        {print::kFillGray, 128, false, true},
    };
    for (const auto& c : cases) {
        ImageCanvas canvas(400, 200, kDpi);
        PrintState s = StateOn(canvas, "WWWW", {10, 10, 390, 190}, 0x210);
        s.fillCode = c.fill;
        s.pointSize = 24;
        CPrinter printer;
        printer.OutputText(&s, 1.0);
        // The device context is as it was.
        EXPECT_EQ(canvas.Dc()->GetTextColor(), QColor(Qt::black));
        EXPECT_EQ(canvas.Dc()->GetBkMode(), print::kOpaque);
        EXPECT_EQ(qGray(canvas.Pixel(300, 150)), c.fillGray) << c.fill;
        EXPECT_TRUE(canvas.IsDark(10, 100)) << c.fill;                     // the frame
        const PrintRect text{12, 12, s.lastRect.right, s.lastRect.bottom}; // inside the frame
        const int white = CountPixels(canvas, text, 250, 255);
        const int black = CountPixels(canvas, text, 0, 5);
        EXPECT_EQ(white > 20, c.whiteInk || c.whiteBehindText) << c.fill;
        if (!c.whiteInk && !c.whiteBehindText) {
            EXPECT_EQ(white, 0) << c.fill;
        }
        if (c.fill != print::kFillBlack) {
            EXPECT_EQ(black > 20, !c.whiteInk) << c.fill;
        }
    }
}

TEST(PrinterText, AngleTurnsOneTextOnly) {
    ImageCanvas canvas(400, 400, kDpi);
    CPrinter printer;
    printer.m_nTextAngle = 900;
    PrintState s = StateOn(canvas, "Upwards text", {200, 300, 0, 0});
    printer.OutputText(&s, 1.0);
    EXPECT_EQ(printer.m_nTextAngle, 0);
    EXPECT_GT(CountPixels(canvas, {195, 200, 225, 300}, 0, 100), 20); // above the start
    EXPECT_EQ(CountPixels(canvas, {230, 300, 400, 330}, 0, 100), 0);  // not to the right
}

TEST(PrinterDrawing, BrushesOfTheFillCodes) {
    const struct {
        int fill;
        int gray;
    } cases[] = {{1, 128}, {2, 192}, {4, 64}, {8, 0}, {3, 128}, {12, 64}, {0, 255}, {16, 255}};
    for (const auto& c : cases) {
        ImageCanvas canvas(100, 100, kDpi);
        PrintState s = StateOn(canvas, "", {10, 10, 50, 50});
        s.fillCode = c.fill;
        CPrinter printer;
        printer.FillArea(&s);
        EXPECT_EQ(qGray(canvas.Pixel(30, 30)), c.gray) << c.fill;
        EXPECT_EQ(qGray(canvas.Pixel(50, 30)), 255) << c.fill; // right edge excluded
    }
}

TEST(PrinterDrawing, LinesAndBoxesWithPensAndOffset) {
    ImageCanvas canvas(300, 300, kDpi);
    CPrinter printer;
    PrintState line = StateOn(canvas, "", {10, 20, 200, 20});
    line.offset = 5;
    printer.DrawLine(&line, 1);
    PrintState dashed = StateOn(canvas, "", {10, 60, 200, 60});
    dashed.lineStyle = print::kDashed;
    printer.DrawLine(&dashed, 1);
    canvas.Dc()->SetTextColor(QColor(255, 0, 0));
    PrintState box = StateOn(canvas, "", {100, 100, 200, 200});
    box.fillCode = print::kFillLightGray;
    printer.DrawBox(&box, 3);

    EXPECT_FALSE(canvas.IsDark(12, 20));
    EXPECT_TRUE(canvas.IsDark(16, 20));
    EXPECT_TRUE(canvas.IsDark(204, 20));
    int gaps = 0;
    for (int x = 12; x < 198; ++x)
        gaps += !canvas.IsDark(x, 60);
    EXPECT_GT(gaps, 20);
    EXPECT_EQ(canvas.Pixel(100, 150), qRgb(255, 0, 0)); // pen in the text colour
    EXPECT_EQ(qGray(canvas.Pixel(150, 150)), 192);
}

} // namespace

namespace {

// On an anisotropic page the text goes through the window-to-viewport
// mapping and comes back in page units.
TEST(PrinterText, AnisotropicPageMapsBothWays) {
    ImageCanvas canvas(800, 600, kDpi);
    std::vector<Call> calls;
    CPage page({0, 0, 800, 600}, canvas.Dc(), print::kMapAnisotropic, std::make_unique<RecordingPrinter>(&calls));
    const int below = page.Print(500, 250, 0x200, 20, "%s", "Mapped");
    const Call out = CallsOf(calls, Call::Output).at(0);
    // 20 points at 100 dpi: about 32 device pixels high, 53 page units.
    EXPECT_NEAR(out.state.lastHeight, 32 * 1000 / 600, 4);
    EXPECT_EQ(below, out.state.lastRect.bottom);
    EXPECT_EQ(out.state.lastRect.top, 500);
    // A box of page units lands on the mapped device pixels.
    page.Box(900, 900, 1000, 1000, 0, print::kFillBlack, 0);
    EXPECT_TRUE(canvas.IsDark(760, 570));
    // Ink right of device x 200 and below device y 300, none above or left.
    EXPECT_GT(CountPixels(canvas, {200, 300, 260, 330}, 0, 100), 20);
    EXPECT_EQ(CountPixels(canvas, {0, 0, 199, 600}, 0, 100), 0);
    EXPECT_EQ(CountPixels(canvas, {0, 0, 800, 299}, 0, 100), 0);
}

} // namespace
