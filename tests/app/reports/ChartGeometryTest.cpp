// Chart geometry against hand-worked numbers: every fraction of a size is
// truncated toward zero on its own before terms are added.
#include <gtest/gtest.h>

#include <cmath>

#include "app/reports/ChartGeometry.h"

using namespace charts;

namespace {

constexpr Size kReportWindow{729, 295};
constexpr PlotRect kBarPlot{{36, 103}, {510, 147}};
constexpr PlotRect kPiePlot{{36, 103}, {364, 147}};

TEST(ChartColors, TableEntriesAndIndicesOutsideIt) {
    struct Case {
        int index;
        COLORREF colour;
    } cases[] = {
        {1, 0x808000},  {2, 0x000000},  {3, 0xFF0000}, {4, 0xFFFF00},  {5, 0xFF00FF},    {6, 0x00D7FF},
        {7, 0x008000},  {8, 0x800000},  {9, 0x00A5FF}, {10, 0xCBC0FF}, {11, 0x800080},   {12, 0xFFFF00},
        {13, 0xEE82EE}, {14, 0xFFFFFF}, {0, 0},        {15, 0x00000F}, {-1, 0xFFFFFFFF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetChartColor(c.index), c.colour) << c.index;
}

TEST(ChartWindowGeometry, FontsAreFractionsOfTheWindow) {
    EXPECT_EQ(TitleFontSize(kReportWindow).height, 29);
    EXPECT_EQ(TitleFontSize(kReportWindow).width, 14);
    EXPECT_EQ(SubtitleFontSize(kReportWindow).height, 14);
    EXPECT_EQ(SubtitleFontSize(kReportWindow).width, 7);
}

TEST(ChartWindowGeometry, PlotRectanglesPerGraphType) {
    PlotRect plot;
    ASSERT_TRUE(GraphPlotRect(kBarGraph, kReportWindow, &plot));
    EXPECT_EQ(plot, kBarPlot);
    ASSERT_TRUE(GraphPlotRect(kLineGraph, kReportWindow, &plot));
    EXPECT_EQ(plot, kBarPlot);
    ASSERT_TRUE(GraphPlotRect(kPieGraph, kReportWindow, &plot));
    EXPECT_EQ(plot, kPiePlot);
    EXPECT_FALSE(GraphPlotRect(3, kReportWindow, &plot));
    EXPECT_FALSE(GraphPlotRect(kNoGraph, kReportWindow, &plot));

    EXPECT_EQ(PaintPlotRect(kBarGraph, kReportWindow), (Rect{36, 103, 473, 280}));
    EXPECT_EQ(PaintPlotRect(kLineGraph, kReportWindow), (Rect{36, 103, 473, 280}));
    EXPECT_EQ(PaintPlotRect(kPieGraph, kReportWindow), (Rect{36, 103, 400, 250}));
    EXPECT_EQ(PaintPlotRect(7, kReportWindow), Rect{});
    EXPECT_EQ(FinishedStepClearRect(kReportWindow), (Rect{36, 103, 400, 250}));
}

TEST(ChartWindowGeometry, TitlePositionsForBothBackgrounds) {
    const TitleLayout g = TitlePositions(kReportWindow, true);
    EXPECT_EQ(g.titleShadow, (Point{47, 10}));
    EXPECT_EQ(g.title, (Point{36, 7}));
    EXPECT_EQ(g.subtitleShadow, (Point{43, 32}));
    EXPECT_EQ(g.subtitle, (Point{36, 32}));
    const TitleLayout s = TitlePositions(kReportWindow, false);
    EXPECT_EQ(s.title, (Point{36, 7}));
    EXPECT_EQ(s.subtitleShadow, (Point{43, 61}));
    EXPECT_EQ(s.subtitle, (Point{36, 59}));
}

TEST(BarGeometry, PlotWidthSevenHundredOneSegmentTwoSeries) {
    const SeriesLayout l = BarLayout({{0, 0}, {700, 200}}, 1, 2);
    EXPECT_EQ(l.L, 420);
    EXPECT_EQ(l.G, 105);
    EXPECT_EQ(l.g, 13);
    EXPECT_EQ(l.B, 433);
    EXPECT_EQ(l.w, 210);
    EXPECT_EQ(l.F, 20); // the axis numbers' height, 0.1 of 200
    // One segment starts at x0 + 2g unless an animated kind asks for 4g.
    EXPECT_EQ(l.startX, l.x0 + 26);
    EXPECT_EQ(BarLayout({{0, 0}, {700, 200}}, 1, 2, true).startX, l.x0 + 52);
}

// Segment labels were drawn up to three times the size of every other text
// of the chart: they are never taller than the axis numbers (0.1 of the plot
// height), and smaller when many segments share the axis.
TEST(BarGeometry, LabelFontUsesTwoSegmentsForOneAndNeverPassesTheAxisNumbers) {
    const struct {
        const char* name;
        SeriesLayout layout;
        int F;
    } cases[] = {
        // kBarPlot is 510 x 147, its axis numbers 14 high.
        {"bars, one segment sized like two (58.6)", BarLayout(kBarPlot, 1, 1), 14},
        {"bars, twelve segments: 306 / 12 * 0.38 + 0.5", BarLayout(kBarPlot, 12, 1), 10},
        {"bars, 100 x 100: 60 / 2 * 0.38 + 0.5 = 11.9", BarLayout({{0, 0}, {100, 100}}, 2, 1), 10},
        {"bars, 100 x 400: 60 / 2 * 0.38 + 0.5", BarLayout({{0, 0}, {100, 400}}, 2, 1), 11},
        // Lines add a quarter, not a half.
        {"lines, ten segments: 331 / 10 * 0.38 + 0.25", LineLayout(kBarPlot, 10, 1), 12},
        {"lines, a week of entries (six)", LineLayout(kBarPlot, 6, 4), 14},
        {"lines, 200 x 300: 130 / 4 * 0.38 + 0.25", LineLayout({{0, 0}, {200, 300}}, 4, 1), 12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.layout.F, c.F) << c.name;
}

TEST(BarGeometry, BarHeightsTruncateTowardZero) {
    const SeriesLayout l = BarLayout(kBarPlot, 3, 2);
    EXPECT_EQ(BarHeight(4, 8, l), 58); // 58.5
    EXPECT_EQ(BarHeight(8, 8, l), 117);
    EXPECT_EQ(BarHeight(-4, 8, l), -58); // downward, toward zero
    EXPECT_EQ(BarHeight(0, 8, l), 0);
    EXPECT_EQ(BarHeight(5, 0, l), 0); // no division when every value is 0
    EXPECT_EQ(GrownHeight(117, 50), 58);
    EXPECT_EQ(GrownHeight(-58, 50), -29);
}

TEST(AxisGeometry, AxesArrowsAndNumbers) {
    const AxesGeometry a = Axes(kBarPlot);
    EXPECT_EQ(a.origin, (Point{112, 242}));
    EXPECT_EQ(a.horizontalEnd, (Point{510, 242})); // W from the left edge, not X + W
    EXPECT_EQ(a.horizontalArrowUp, (Point{499, 240}));
    EXPECT_EQ(a.horizontalArrowDown, (Point{499, 244}));
    EXPECT_EQ(a.verticalTop, (Point{112, 110}));
    EXPECT_EQ(a.verticalArrowLeft, (Point{105, 115}));
    EXPECT_EQ(a.verticalArrowRight, (Point{119, 115}));

    const AxisNumbers n = AxisNumberLayout(kBarPlot, BarLayout(kBarPlot, 3, 2), 9);
    EXPECT_EQ(n.x, 102);
    EXPECT_EQ(n.yMax, 117);
    EXPECT_EQ(n.yHalf, 175);
    EXPECT_EQ(n.yZero, 234);
    EXPECT_EQ(n.half, 4.5); // the value at that height, not its integer part
}

TEST(LineGeometry, TwoSegmentsOneSeriesRisesFromFourToEight) {
    const SeriesLayout l = LineLayout(kBarPlot, 2, 1);
    // The lines stopped at 85 % of the axis: the points now share all of it
    // from the vertical axis (112) to the arrow head (499), one in the middle
    // of each half.
    EXPECT_EQ(l.startX, 112);
    EXPECT_EQ(l.L, 387);
    EXPECT_EQ(l.zeroY, 239);
    EXPECT_EQ(LinePoint(l, 1, 4, 8), (Point{208, 181}));     // 112 + 96.75
    EXPECT_EQ(LinePoint(l, 2, 8, 8), (Point{402, 122}));     // 112 + 290.25
    EXPECT_EQ(LinePoint(l, 2, 3, 0), (Point{402, 239}));     // M = 0: on the zero line
    EXPECT_EQ(LinePoint(l, 1, 4.5, 7.5), (Point{208, 169})); // 70.2 above, not 4 of 7
    const SeriesLayout sixty = LineLayout(kBarPlot, 60, 4);
    EXPECT_EQ(LinePointX(sixty, 1), 115);  // 112 + 3.2
    EXPECT_EQ(LinePointX(sixty, 60), 495); // 112 + 383.8

    // With H = 100 the rise is exactly 0.4 H to 0.8 H above the zero line.
    const SeriesLayout round = LineLayout({{0, 0}, {400, 100}}, 2, 1);
    EXPECT_EQ(round.zeroY - LinePoint(round, 1, 4, 8).y, 40);
    EXPECT_EQ(round.zeroY - LinePoint(round, 2, 8, 8).y, 80);
}

TEST(LineGeometry, TracePartialPointFollowsThePiece) {
    EXPECT_EQ(TracePartialPoint({0, 0}, {30, 40}, 0.41), (Point{12, 16}));   // 12.3, 16.4
    EXPECT_EQ(TracePartialPoint({0, 0}, {30, -40}, 0.41), (Point{12, -16})); // toward zero
    EXPECT_EQ(TracePartialPoint({10, 5}, {20, 5}, 0.35), (Point{13, 5}));
    EXPECT_EQ(TracePartialPoint({10, 5}, {20, 5}, 0.0), (Point{10, 5}));
    EXPECT_EQ(TracePartialPoint({7, 7}, {7, 7}, 0.5), (Point{7, 7}));
}

TEST(LegendGeometry, SeriesLegendBoxAndRows) {
    const LegendLayout l = Legend(kBarPlot, kSeriesLegend, 2, 12);
    EXPECT_EQ(l.box, (Rect{520, 164, 673, 194}));
    EXPECT_EQ(l.firstRow, (Point{530, 166}));
    EXPECT_EQ(l.swatchTop, 2);
    EXPECT_EQ(l.swatchBottom, 11);
    EXPECT_EQ(l.swatchWidth, 25);
    EXPECT_EQ(l.textOffset, 30);
}

TEST(LegendGeometry, EmptyPieLegendIsHalfARowHigh) {
    const LegendLayout l = Legend(kPiePlot, kPieLegend, 0, 13);
    // From (1.1 W + X, Y + H / 2) down to Y + H / 2 + r / 2, the sum truncated.
    EXPECT_EQ(l.box, (Rect{436, 176, 673, 182}));
    EXPECT_EQ(l.swatchWidth, 36);
    EXPECT_EQ(l.firstRow.x, 454);
}

TEST(PieGeometry, EndPointsTruncateEachProduct) {
    const double pi = kTwoPi / 2;
    EXPECT_EQ(PieStartPoint(kPiePlot), (Point{400, 176}));
    EXPECT_EQ(PieEndPoint(kPiePlot, 0), (Point{400, 176}));
    EXPECT_EQ(PieEndPoint(kPiePlot, pi / 2), (Point{218, 103}));
    EXPECT_EQ(PieEndPoint(kPiePlot, pi), (Point{36, 176}));
    EXPECT_EQ(PieEndPoint(kPiePlot, 3 * pi / 4), (Point{90, 125}));
    // The animation's points round: W / 2.0, H / 2.0 and 0.5 added.
    EXPECT_EQ(PieSweepPoint(kPiePlot, 3 * pi / 4), (Point{89, 125}));
    EXPECT_EQ(PieSweepPoint(kPiePlot, 0), (Point{400, 177}));
}

TEST(PieGeometry, SweepAngleCoversTheSlicesPresent) {
    const double pi = kTwoPi / 2;
    EXPECT_DOUBLE_EQ(PieSweepAngle(50, 100), pi);
    EXPECT_DOUBLE_EQ(PieSweepAngle(100, 60), 0.6 * kTwoPi);
    EXPECT_DOUBLE_EQ(PieSweepAngle(0, 100), 0);
    EXPECT_DOUBLE_EQ(PieSweepAngle(40, 0), 0);
}

} // namespace
