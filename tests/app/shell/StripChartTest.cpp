#include <gtest/gtest.h>

#include <QImage>
#include <vector>

#include "app/shell/OScopeCtrl.h"

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGrid = qRgb(192, 192, 255);
const QRgb kBlack = qRgb(0, 0, 0);

// The chart as the main window sets it up, at a fixed size.
class StripChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        chart.resize(400, 115);
        chart.SetRange(0.0, 10.0, 1);
        chart.SetYUnits("Pain");
        chart.SetXUnits("Time");
        chart.SetGridColor(QColor(192, 192, 255));
        chart.SetPlotColor(QColor(255, 0, 0));
    }

    // Rows of column x that hold the trace colour.
    static std::vector<int> RedRows(const QImage& img, int x) {
        std::vector<int> rows;
        for (int y = 0; y < img.height(); ++y)
            if (img.pixel(x, y) == kRed)
                rows.push_back(y);
        return rows;
    }
    static int CountRed(const QImage& img, const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (img.valid(x, y) && img.pixel(x, y) == kRed)
                    ++n;
        return n;
    }
    // Where the newest point's segment ends.
    int NewestX() const { return chart.PlotRect().left() + chart.PlotRect().width() - 2; }

    COScopeCtrl chart;
};

TEST_F(StripChartTest, GridFrameAndLeftMarginOfTheMainWindowsRange) {
    const QImage img = chart.Composite();
    const QRect plot = chart.PlotRect();
    // "10.0" and "0.0" need 6 characters of 6 pixels.
    EXPECT_EQ(plot.left(), 36);
    EXPECT_EQ(plot.top(), 10);
    EXPECT_EQ(plot.left() + plot.width(), 400 - 10);
    EXPECT_EQ(plot.top() + plot.height(), 115 - 25);
    // The frame lies one pixel outside on the right and bottom.
    const int right = plot.left() + plot.width() + 1;
    const int bottom = plot.top() + plot.height() + 1;
    EXPECT_EQ(img.pixel(plot.left(), plot.top()), kGrid);
    EXPECT_EQ(img.pixel(right, (plot.top() + bottom) / 2), kGrid);
    EXPECT_EQ(img.pixel((plot.left() + right) / 2, bottom), kGrid);
    // Dotted grid every 4 pixels on the middle line, black between.
    const int mid = (plot.top() + plot.top() + plot.height()) / 2;
    EXPECT_EQ(img.pixel(plot.left() + 8, mid), kGrid);
    EXPECT_EQ(img.pixel(plot.left() + 9, mid), kBlack);
    EXPECT_EQ(img.pixel(plot.left() + 10, mid), kBlack);
    // Some of the labels are drawn left of and below the plot.
    int labelPixels = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < plot.left() - 2; ++x)
            if (img.pixel(x, y) != kBlack)
                ++labelPixels;
    EXPECT_GT(labelPixels, 20);
    EXPECT_EQ(CountRed(img, img.rect()), 0);
}

TEST_F(StripChartTest, NewestValueEndsAtTheRightEdge) {
    chart.AppendPoint(2.0);
    chart.AppendPoint(8.0);
    const QImage img = chart.Composite();
    const std::vector<int> atRight = RedRows(img, NewestX());
    ASSERT_FALSE(atRight.empty());
    EXPECT_NEAR(atRight.front(), chart.ValueToY(8.0), 1);
    // Further left the older value 2.
    const std::vector<int> older = RedRows(img, NewestX() - chart.Shift() - 4);
    ASSERT_FALSE(older.empty());
    EXPECT_NEAR(older.back(), chart.ValueToY(2.0), 1);
}

TEST_F(StripChartTest, AppendPointAnswersTheValueCurrentBefore) {
    EXPECT_EQ(chart.AppendPoint(3.0), 0.0);
    EXPECT_EQ(chart.AppendPoint(7.5), 3.0);
    EXPECT_EQ(chart.AppendPoint(1.0), 7.5);
}

TEST_F(StripChartTest, ResetEmptiesThePlotAndForgetsThePreviousValue) {
    chart.AppendPoint(9.0);
    chart.AppendPoint(9.0);
    chart.Reset();
    EXPECT_EQ(CountRed(chart.Composite(), chart.rect()), 0);
    chart.AppendPoint(5.0);
    const QImage img = chart.Composite();
    // One flat segment at 5: nothing rises from the value drawn before.
    const QRect plot = chart.PlotRect();
    const int y5 = chart.ValueToY(5.0);
    EXPECT_GT(CountRed(img, QRect(plot.left(), y5, plot.width(), 1)), 2);
    EXPECT_EQ(CountRed(img, QRect(plot.left(), plot.top(), plot.width(), y5 - plot.top() - 1)), 0);
    EXPECT_EQ(CountRed(img, QRect(plot.left(), y5 + 2, plot.width(), plot.height())), 0);
}

TEST_F(StripChartTest, ValuesOutsideTheRangeLeaveNoTraceBeyondThePlot) {
    chart.AppendPoint(5.0);
    chart.AppendPoint(15.0);
    chart.AppendPoint(-4.0);
    const QImage img = chart.Composite();
    const QRect plot = chart.PlotRect();
    EXPECT_EQ(CountRed(img, QRect(0, 0, img.width(), plot.top())), 0);
    EXPECT_EQ(CountRed(img, QRect(0, plot.top() + plot.height() + 1, img.width(), 40)), 0);
    EXPECT_GT(CountRed(img, plot), 0);
}

TEST_F(StripChartTest, EachValueScrollsTheTraceLeftByTheShift) {
    chart.AppendPoint(10.0); // a rise at the right edge ...
    for (int i = 0; i < 5; ++i)
        chart.AppendPoint(0.0);
    const QImage img = chart.Composite();
    // ... that moved five shifts to the left: the top of the plot is red there.
    const int x = NewestX() - 5 * chart.Shift();
    const std::vector<int> rows = RedRows(img, x);
    ASSERT_FALSE(rows.empty());
    EXPECT_LE(rows.front(), chart.ValueToY(10.0) + 1);
}

TEST_F(StripChartTest, AResizeKeepsTheTraceAndDrawsAgainAtTheNewSize) {
    chart.AppendPoint(4.0);
    chart.AppendPoint(6.0);
    chart.resize(300, 115);
    chart.setAttribute(Qt::WA_DontShowOnScreen);
    chart.show();
    const QImage img = chart.Composite();
    EXPECT_EQ(img.size(), QSize(300, 115));
    const std::vector<int> rows = RedRows(img, NewestX());
    ASSERT_FALSE(rows.empty());
    EXPECT_NEAR(rows.front(), chart.ValueToY(6.0), 1);
}

TEST_F(StripChartTest, LinesAreNotAntialiased) {
    for (double v : {1.0, 9.0, 3.0, 7.0, 2.0})
        chart.AppendPoint(v);
    const QImage img = chart.Composite();
    const QRect plot = chart.PlotRect();
    for (int y = plot.top(); y < plot.top() + plot.height(); ++y)
        for (int x = plot.left(); x < plot.left() + plot.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            ASSERT_TRUE(c == kRed || c == kBlack || c == kGrid || c == (kRed | kGrid))
                << x << "," << y << " " << std::hex << c;
        }
}

} // namespace
