// Pixel probes on the report window's 729 x 295 render: gradient ends, series
// colours inside bars, lines and slices, black axes and the legend box.
#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>

#include "ChartFixtures.h"
#include "app/reports/BarGraph.h"
#include "app/reports/ChartPaint.h"
#include "app/reports/LineGraph.h"
#include "app/reports/PieGraph.h"

using namespace charts;
using namespace chart_fixtures;

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

// CI can keep the renders for the docs: GRV_CHART_SAMPLES=<folder>.
void KeepSample(const QImage& image, const char* name) {
    const QByteArray dir = qgetenv("GRV_CHART_SAMPLES");
    if (dir.isEmpty())
        return;
    ASSERT_TRUE(image.save(QDir(QString::fromLocal8Bit(dir)).filePath(name)));
}

void ExpectGradientEnds(const QImage& image) {
    for (int x : {0, 700, kWidth - 1}) {
        EXPECT_EQ(PixelAt(image, x, 0), Colour(kGradientStart)) << x;
        EXPECT_EQ(PixelAt(image, x, kHeight - 1), Colour(kGradientEnd)) << x;
    }
    // Strictly between the ends in the middle.
    const QColor mid = PixelAt(image, 700, kHeight / 2);
    EXPECT_GT(mid.red(), 0);
    EXPECT_LT(mid.red(), 196);
}

// The legend box: black outline, white inside, one swatch per row.
void ExpectLegend(const QImage& image, const PlotRect& plot, const LegendShape& shape, const QFont& font,
                  const std::vector<COLORREF>& colours) {
    const int r = QFontMetrics(font).height();
    const LegendLayout l = Legend(plot, shape, static_cast<int>(colours.size()), r);
    const int midY = (l.box.top + l.box.bottom) / 2;
    EXPECT_EQ(PixelAt(image, l.box.left, midY), kBlack);
    EXPECT_EQ(PixelAt(image, l.box.right - 1, midY), kBlack);
    EXPECT_EQ(PixelAt(image, (l.box.left + l.box.right) / 2, l.box.top), kBlack);
    EXPECT_EQ(PixelAt(image, l.box.right - 3, midY), kWhite);
    Point row = l.firstRow;
    for (COLORREF c : colours) {
        EXPECT_EQ(PixelAt(image, row.x + l.swatchWidth / 2, row.y + (l.swatchTop + l.swatchBottom) / 2), Colour(c));
        row.y += r;
    }
}

TEST(BarRender, ReportWindowShowsGradientBarsAxesAndLegend) {
    auto w = MakeReportWindow(kBarGraph);
    const char* segments[] = {"Morning", "Afternoon", "Evening"};
    for (const char* s : segments)
        w->Add2DBarGraphSegment(s);
    w->Add2DBarGraphSeries("Worst", GetChartColor(3));
    w->Add2DBarGraphSeries("Average", GetChartColor(9));
    const int values[2][3] = {{8, 4, 6}, {5, 2, 3}};
    for (int j = 0; j < 2; ++j) {
        for (int k = 0; k < 3; ++k)
            w->Set2DBarGraphValue(k + 1, j + 1, values[j][k]);
    }
    w->SetGraphAnimation(0, 31);
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    KeepSample(image, "chart-bar.png");

    ExpectGradientEnds(image);
    // Worked by hand: group 1 starts at 124, bars 42 wide with a gap of 3, the
    // baseline at 241; "Worst" 8 of 8 reaches 117 up, "Average" 5 of 8 73 up.
    EXPECT_EQ(PixelAt(image, 145, 130), Colour(GetChartColor(3)));
    EXPECT_EQ(PixelAt(image, 190, 175), Colour(GetChartColor(9)));
    EXPECT_NE(PixelAt(image, 190, 160), Colour(GetChartColor(9))); // above its top at 168
    EXPECT_EQ(PixelAt(image, 124, 200), kBlack);                   // outline of the first bar

    const C2DBarGraph& bar = *w->BarGraph();
    const SeriesLayout l = bar.Layout();
    int x = l.startX;
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 2; ++j) {
            const int h = BarHeight(values[j][k], 8, l);
            EXPECT_EQ(PixelAt(image, x + l.w / 2, l.yb - h / 2), Colour(GetChartColor(j ? 9 : 3)))
                << "segment " << k + 1 << " series " << j + 1;
            x += j == 0 ? l.w + l.g : l.w;
        }
        x += l.G;
    }

    // Axes in black: the vertical one at x0 = 112 from 110 to 242, the
    // horizontal one at y0 = 242 out to x = 510.
    EXPECT_EQ(PixelAt(image, 112, 200), kBlack);
    EXPECT_EQ(PixelAt(image, 112, 111), kBlack);
    EXPECT_EQ(PixelAt(image, 118, 242), kBlack);
    EXPECT_EQ(PixelAt(image, 480, 242), kBlack);
    EXPECT_EQ(PixelAt(image, 505, 242), kBlack);
    EXPECT_NE(PixelAt(image, 520, 242), kBlack);

    ExpectLegend(image, bar.Plot(), kSeriesLegend, MakeChartFont(ChartFace(), 11),
                 {GetChartColor(3), GetChartColor(9)});
}

TEST(BarRender, NegativeValueHangsBelowTheBaselineAndZeroIsFlat) {
    auto w = MakeReportWindow(kBarGraph);
    w->Add2DBarGraphSegment("A");
    w->Add2DBarGraphSeries("S", GetChartColor(5));
    w->Add2DBarGraphSeries("T", GetChartColor(7));
    w->Set2DBarGraphValue(1, 1, -4);
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    const SeriesLayout l = w->BarGraph()->Layout();
    // M = 0 (no value above 0): every bar is flat on the baseline.
    EXPECT_EQ(PixelAt(image, l.startX + l.w / 2, l.yb), kBlack);
    EXPECT_NE(PixelAt(image, l.startX + l.w / 2, l.yb + 3), Colour(GetChartColor(5)));
    w->Set2DBarGraphValue(1, 2, 4);
    w->ComposeFrame();
    EXPECT_EQ(PixelAt(w->DrawSurface(), l.startX + l.w / 2, l.yb + 20), Colour(GetChartColor(5)));
}

TEST(BarRender, GraphWithoutSeriesShowsOnlyTheAxes) {
    auto w = MakeReportWindow(kBarGraph);
    w->Add2DBarGraphSegment("A");
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    EXPECT_EQ(PixelAt(image, 112, 200), kBlack);
    // No bar at the group start and the gradient shows through.
    const QColor inPlot = PixelAt(image, 200, 200);
    EXPECT_EQ(inPlot, PixelAt(image, 700, 200));
}

TEST(LineRender, ReportWindowShowsEachSeriesAlongItsLine) {
    auto w = MakeReportWindow(kLineGraph);
    for (const char* s : {"Week 1", "Week 2", "Week 3", "Week 4"})
        w->Add2DLineGraphSegment(s);
    w->Add2DLineGraphSeries("Worst", GetChartColor(3));
    w->Add2DLineGraphSeries("Least", GetChartColor(5));
    const int values[2][4] = {{2, 6, 4, 8}, {1, 2, 1, 3}};
    for (int j = 0; j < 2; ++j) {
        for (int k = 0; k < 4; ++k)
            w->Set2DLineGraphValue(k + 1, j + 1, values[j][k]);
    }
    w->SetGraphAnimation(0, 31);
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    KeepSample(image, "chart-line.png");

    ExpectGradientEnds(image);
    const SeriesLayout l = w->LineGraph()->Layout();
    // The axis from x0 112 to its arrow head at 499, a point in the middle of each quarter.
    ASSERT_EQ(l.startX, 112);
    ASSERT_EQ(l.L, 387);
    // By hand: "Worst" from (160, 239 - 29) to (257, 239 - 87); its middle.
    EXPECT_EQ(PixelAt(image, 208, 181), Colour(GetChartColor(3)));
    for (int j = 0; j < 2; ++j) {
        for (int k = 1; k < 4; ++k) {
            const Point a = LinePoint(l, k, values[j][k - 1], 8);
            const Point b = LinePoint(l, k + 1, values[j][k], 8);
            EXPECT_EQ(PixelAt(image, (a.x + b.x) / 2, (a.y + b.y) / 2), Colour(GetChartColor(j ? 5 : 3)))
                << "series " << j + 1 << " piece " << k;
        }
    }
    EXPECT_EQ(PixelAt(image, 112, 200), kBlack);
    EXPECT_EQ(PixelAt(image, 116, 242), kBlack);
    ExpectLegend(image, w->LineGraph()->Plot(), kSeriesLegend, MakeChartFont(ChartFace(), 11),
                 {GetChartColor(3), GetChartColor(5)});
}

// A series of one point (a month's entries over a quarter) was drawn as
// bare axes, with no scale: a line needs two points. It is a dot at its
// value's height, over its label, on the scale of its value.
TEST(LineRender, OneSegmentDrawsItsPointOnItsScale) {
    auto w = MakeReportWindow(kLineGraph);
    w->Add2DLineGraphSegment("Only");
    w->Add2DLineGraphSeries("S", GetChartColor(3));
    w->Set2DLineGraphValue(1, 1, 5);
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    const C2DLineGraph& graph = *w->LineGraph();
    const SeriesLayout l = graph.Layout();
    const Point at = LinePoint(l, 1, 5, 5);
    const QRect dot = InkBounds(image, QRect(36, 103, 474, 147), Colour(GetChartColor(3)));
    ASSERT_FALSE(dot.isEmpty());
    EXPECT_NEAR(dot.center().x(), at.x, 1);
    EXPECT_NEAR(dot.center().y(), at.y, 1);
    EXPECT_LE(dot.width(), 10);
    // 5 at the top of the scale, 0 at its foot.
    const AxisNumbers numbers = AxisNumberLayout(graph.Plot(), l, 5);
    const int cell = QFontMetrics(graph.AxisFont()).height();
    const int left = Axes(graph.Plot()).origin.x - 2;
    for (const auto& [text, top] : {std::pair{"5", numbers.yMax}, std::pair{"0", numbers.yZero}}) {
        EXPECT_EQ(InkMismatch(image, QRect(0, top, left, cell), QColor(Qt::white), graph.AxisFont(), numbers.x, top,
                              TextAlign::RightTop, QString::fromLatin1(text)),
                  0)
            << text;
    }
    EXPECT_EQ(PixelAt(image, 112, 200), kBlack);
}

// Segment labels were drawn over each other (a week of pain entries labels
// every entry with its timestamp). On the render: every label pixel (white)
// under the horizontal axis lies in one box, no two boxes meet, each box
// holds ink (so the window's text colour reaches both graphs).
TEST(SegmentLabels, LabelsThatWouldOverlapAreElidedOrThinned) {
    const QStringList sideEffects = {"Appet", "Constip", "Insomn", "Itch",  "Nausea",
                                     "Night", "Sweat",   "Think",  "Tired", "Vomit"};
    const struct {
        const char* name;
        int type;
        int segments;
        const char* format; // %1: the segment's number, else a side effect's name
        bool allShown;
    } cases[] = {
        {"40 timestamps", kLineGraph, 40, "2026-03-02 %1:00:00", false},
        {"12 months", kLineGraph, 12, "%1", true},
        {"10 side effects, 3 series", kBarGraph, 10, nullptr, true},
        {"15 long bar labels", kBarGraph, 15, "Constipation %1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto w = MakeReportWindow(c.type);
        for (int k = 1; k <= c.segments; ++k) {
            const QString label = c.format ? QString(c.format).arg(k, 2, 10, QChar('0')) : sideEffects[k - 1];
            if (c.type == kLineGraph) {
                w->Add2DLineGraphSegment(label);
            } else {
                w->Add2DBarGraphSegment(label);
            }
        }
        if (c.type == kBarGraph) {
            w->Add2DBarGraphSeries("Min", GetChartColor(4));
            w->Add2DBarGraphSeries("Avg", GetChartColor(5));
        }
        if (c.type == kLineGraph) {
            w->Add2DLineGraphSeries("Max", GetChartColor(3));
            for (int k = 1; k <= c.segments; ++k)
                w->Set2DLineGraphValue(k, 1, k % 7);
        } else {
            w->Add2DBarGraphSeries("Max", GetChartColor(3));
            for (int k = 1; k <= c.segments; ++k)
                w->Set2DBarGraphValue(k, 1, k % 7);
        }
        w->ComposeFrame();
        const QImage& image = w->DrawSurface();
        const std::vector<SegmentLabelBox>& labels =
            c.type == kLineGraph ? w->LineGraph()->LabelBoxes() : w->BarGraph()->LabelBoxes();
        ASSERT_GE(labels.size(), 2u);
        if (c.allShown) {
            EXPECT_EQ(labels.size(), static_cast<size_t>(c.segments));
        } else {
            EXPECT_LT(labels.size(), static_cast<size_t>(c.segments));
        }
        // Each label under its own point (line) or group (bars).
        const SeriesLayout l = c.type == kLineGraph ? w->LineGraph()->Layout() : w->BarGraph()->Layout();
        for (const SegmentLabelBox& label : labels) {
            const int k = label.segment;
            EXPECT_EQ(label.centreX, c.type == kLineGraph
                                         ? LinePointX(l, k)
                                         : BarLabelCentre(l, 3, l.startX + (k - 1) * GroupPitch(l, 3)));
        }
        ExpectLabelsWhereReported(image, c.type == kLineGraph ? w->LineGraph()->Plot() : w->BarGraph()->Plot(), labels,
                                  kWhite);
        if (c.segments == 40)
            KeepSample(image, "chart-labels-thinned.png");
    }
}

// A point inside the slice spanning percent `from` to `to`, 0.6 of the way out.
QPoint InsideSlice(const PlotRect& plot, int from, int to) {
    const double a = (from + to) / 2.0 / 100.0 * kTwoPi;
    const double cx = plot.origin.x + plot.size.cx / 2.0;
    const double cy = plot.origin.y + plot.size.cy / 2.0;
    return QPoint(static_cast<int>(cx + std::cos(a) * 0.6 * plot.size.cx / 2),
                  static_cast<int>(cy - std::sin(a) * 0.6 * plot.size.cy / 2));
}

TEST(PieRender, ReportWindowShowsEverySliceInItsColour) {
    auto w = MakeReportWindow(kPieGraph);
    w->Add2DPieGraphSlice(50, GetChartColor(3), "Rest");
    w->Add2DPieGraphSlice(30, GetChartColor(7), "Exercise");
    w->Add2DPieGraphSlice(20, GetChartColor(9), "Medication");
    w->SetGraphAnimation(0, 10);
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    KeepSample(image, "chart-pie.png");

    ExpectGradientEnds(image);
    const PlotRect& plot = w->PieGraph()->Plot();
    ASSERT_EQ(plot, (PlotRect{{36, 103}, {364, 147}}));
    EXPECT_EQ(PixelAt(image, 218, 132), Colour(GetChartColor(3))); // straight up, in "Rest"
    EXPECT_EQ(PixelAt(image, InsideSlice(plot, 0, 50).x(), InsideSlice(plot, 0, 50).y()), Colour(GetChartColor(3)));
    EXPECT_EQ(PixelAt(image, InsideSlice(plot, 50, 80).x(), InsideSlice(plot, 50, 80).y()), Colour(GetChartColor(7)));
    EXPECT_EQ(PixelAt(image, InsideSlice(plot, 80, 100).x(), InsideSlice(plot, 80, 100).y()), Colour(GetChartColor(9)));
    // The edge between "Rest" and "Exercise" runs from the centre to nine o'clock.
    EXPECT_EQ(PixelAt(image, 150, 176), kBlack);
    // Outside the ellipse the gradient shows.
    EXPECT_EQ(PixelAt(image, 40, 106), PixelAt(image, 700, 106));
    ExpectLegend(image, plot, kPieLegend, MakeChartFont(ChartFace(), 11),
                 {GetChartColor(3), GetChartColor(7), GetChartColor(9)});
}

TEST(PieRender, SlicesPastTheWholeCircleLieOverTheFirstOnes) {
    auto w = MakeReportWindow(kPieGraph);
    w->Add2DPieGraphSlice(60, GetChartColor(3), "A");
    w->Add2DPieGraphSlice(0, GetChartColor(5), "Nothing");
    w->Add2DPieGraphSlice(60, GetChartColor(7), "B");
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    const PlotRect& plot = w->PieGraph()->Plot();
    const QPoint wrapped = InsideSlice(plot, 0, 10);
    const QPoint first = InsideSlice(plot, 30, 50);
    EXPECT_EQ(PixelAt(image, wrapped.x(), wrapped.y()), Colour(GetChartColor(7)));
    EXPECT_EQ(PixelAt(image, first.x(), first.y()), Colour(GetChartColor(3)));
    int zeroSlice = 0;
    for (int y = plot.origin.y; y < plot.origin.y + plot.size.cy; ++y) {
        for (int x = plot.origin.x; x < plot.origin.x + plot.size.cx; ++x) {
            zeroSlice += PixelAt(image, x, y) == Colour(GetChartColor(5));
        }
    }
    EXPECT_EQ(zeroSlice, 0);
    EXPECT_EQ(w->PieGraph()->TotalPercent(), 120);
}

TEST(PieRender, EmptyPieDrawsOnlyItsLegendBox) {
    auto w = MakeReportWindow(kPieGraph);
    w->ComposeFrame();
    const QImage& image = w->DrawSurface();
    EXPECT_EQ(PixelAt(image, 218, 176), PixelAt(image, 700, 176));
    const QFont font = MakeChartFont(ChartFace(), 11);
    const LegendLayout l = Legend(w->PieGraph()->Plot(), kPieLegend, 0, QFontMetrics(font).height());
    EXPECT_EQ(l.box.top, 176);
    EXPECT_EQ(PixelAt(image, l.box.left, l.box.top), kBlack);
    EXPECT_EQ(PixelAt(image, l.box.right - 1, l.box.bottom - 1), kBlack);
}

TEST(PieRender, LegendRowText) {
    EXPECT_EQ(C2DPieGraph::LegendText({40, 0, "Rest"}), "(40%)  Rest");
    EXPECT_EQ(C2DPieGraph::LegendText({5, 0, "%1 odd"}), "(5%)  %1 odd");
}

} // namespace
