// The animation state machines: progress per tick, hold ticks and restarts
// per kind, written out by hand from the kinds' rules.
#include <gtest/gtest.h>

#include <QImage>

#include <vector>

#include "ChartFixtures.h"
#include "app/reports/BarGraph.h"
#include "app/reports/LineGraph.h"
#include "app/reports/PieGraph.h"

using namespace charts;
using namespace chart_fixtures;

namespace {

std::vector<int> Ramp(int from, int to, int step) {
    std::vector<int> v;
    for (int p = from; p <= to; p += step)
        v.push_back(p);
    return v;
}

std::vector<int> Repeat(int value, int count) {
    return std::vector<int>(count, value);
}

std::vector<int> Join(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> v;
    for (const auto& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// Progress after each of `ticks` steps, the first one the window's own.
template <class Graph>
std::vector<int> Ticks(Graph& graph, int kind, size_t ticks) {
    std::vector<int> seen;
    EXPECT_TRUE(graph.SetAnimation(1, kind));
    while (seen.size() < ticks) {
        graph.StepAnimation();
        seen.push_back(graph.GetAnimationPercent());
    }
    return seen;
}

template <class Graph>
void Fill(Graph& g, int segments, int series) {
    for (int k = 1; k <= segments; ++k)
        g.AddSegment(QString::number(k));
    for (int j = 1; j <= series; ++j)
        g.AddSeries(QString::number(j), GetChartColor(j + 2));
    for (int j = 1; j <= series; ++j) {
        for (int k = 1; k <= segments; ++k)
            g.SetValue(k, j, (j * 3 + k * 5) % 9 + 1);
    }
}

// Each growing or fading part takes 50 ticks of two percent.
std::vector<int> Parts(int n) {
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v = Join({v, Ramp(2, 100, 2)});
    return v;
}

TEST(BarAnimation, ProgressPerTickHoldAndRestartPerKind) {
    const struct {
        int kind, segments, series;
        std::vector<int> expected;
    } cases[] = {
        {kBarGrowAll, 3, 2, Join({Ramp(1, 100, 1), Repeat(100, 21), {1, 2}})},
        {kBarGrowSegments, 3, 2, Join({Parts(3), Repeat(100, 20), {2, 4}})},
        {kBarGrowSeries, 2, 4, Join({Parts(4), Repeat(100, 20), {2, 4}})},
        {kBarGrowSegments, 1, 1, Join({Parts(1), Repeat(100, 20), {2, 4}})},
        {kBarFadeSegments, 3, 2, Parts(4)}, // fading kinds cycle without holding
        {kBarFadeSeries, 2, 2, Parts(3)},
    };
    for (const auto& c : cases) {
        C2DBarGraph g(36, 103, 510, 147);
        Fill(g, c.segments, c.series);
        EXPECT_EQ(Ticks(g, c.kind, c.expected.size()), c.expected) << c.kind;
    }
}

TEST(BarAnimation, GrowingSegmentsCountsFinishedSegments) {
    C2DBarGraph g(36, 103, 510, 147);
    Fill(g, 3, 2);
    g.SetAnimation(1, kBarGrowSegments);
    std::vector<int> done;
    for (int tick = 0; tick < 171; ++tick) {
        g.StepAnimation();
        if (tick % 50 == 0 || tick == 169 || tick == 170)
            done.push_back(g.CompletedParts());
    }
    // Ticks 0, 50, 100, 150, 169 and 170: one more segment each 50 ticks, the
    // held picture shows all three, and the restart begins from none.
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2, 3, 3, 0}));
}

TEST(BarAnimation, EveryKindDrawsThroughAWholeCycle) {
    for (int kind : {int{kBarGrowAll}, int{kBarGrowSegments}, int{kBarGrowSeries}, int{kBarFadeSegments},
                     int{kBarFadeSeries}, 27}) {
        C2DBarGraph g(36, 103, 510, 147);
        g.SetWindowSize(kWidth, kHeight);
        Fill(g, 2, 2);
        g.SetAnimation(1, kind);
        QImage surface(kWidth, kHeight, QImage::Format_RGB32);
        for (int tick = 0; tick < 160; ++tick) {
            g.StepAnimation();
            surface.fill(Qt::white);
            g.Draw(surface);
        }
        // The vertical axis is always there.
        EXPECT_EQ(surface.pixelColor(112, 200), QColor(Qt::black)) << kind;
    }
}

TEST(BarAnimation, GrowingBarReachesHalfHeightAtFiftyPercent) {
    C2DBarGraph g(36, 103, 510, 147);
    g.AddSegment("A");
    g.AddSeries("S", GetChartColor(3));
    g.SetValue(1, 1, 10);
    g.SetAnimation(1, kBarGrowAll);
    for (int i = 0; i < 50; ++i)
        g.StepAnimation();
    ASSERT_EQ(g.GetAnimationPercent(), 50);
    QImage surface(kWidth, kHeight, QImage::Format_RGB32);
    surface.fill(Qt::white);
    g.Draw(surface);
    const SeriesLayout l = g.Layout();
    const int h = GrownHeight(BarHeight(10, 10, l), 50); // 117 * 50 / 100 = 58
    ASSERT_EQ(h, 58);
    const int mid = l.startX + l.w / 2;
    EXPECT_EQ(surface.pixelColor(mid, l.yb - h + 2), Colour(GetChartColor(3)));
    EXPECT_EQ(surface.pixelColor(mid, l.yb - h - 2), QColor(Qt::white));
}

TEST(BarAnimation, FadingSegmentIsBlendedWithWhatLiesBeneath) {
    C2DBarGraph g(36, 103, 510, 147);
    g.SetWindowSize(kWidth, kHeight);
    g.AddSegment("A");
    g.AddSegment("B");
    g.AddSeries("S", Rgb(0, 0, 200));
    g.SetValue(1, 1, 10);
    g.SetValue(2, 1, 10);
    g.SetAnimation(1, kBarFadeSegments);
    for (int i = 0; i < 25; ++i)
        g.StepAnimation();
    ASSERT_EQ(g.GetAnimationPercent(), 50);
    QImage surface(kWidth, kHeight, QImage::Format_RGB32);
    surface.fill(Qt::white);
    g.Draw(surface);
    const SeriesLayout l = g.Layout();
    const QColor half = surface.pixelColor(l.startX + l.w / 2, l.yb - 30);
    // Alpha 50 * 255 / 100 = 127 over white: about half way to (0, 0, 200).
    EXPECT_NEAR(half.red(), 128, 2);
    EXPECT_NEAR(half.blue(), 228, 2);
    // The second segment has not begun.
    EXPECT_EQ(surface.pixelColor(l.startX + l.B + l.G + l.w / 2, l.yb - 30), QColor(Qt::white));
}

TEST(LineAnimation, ProgressPerTickHoldAndRestartPerKind) {
    const struct {
        int kind, segments;
        std::vector<int> expected;
    } cases[] = {
        // Step 100 / 4 = 25; the trace is complete at (4 - 1) * 25 = 75.
        {kLineTraceAll, 4, Join({Ramp(1, 75, 1), Repeat(75, 21), {1, 2}})},
        // Step 33: each series is traced from 2 to 66.
        {kLineTraceSeries, 3, Join({Ramp(2, 66, 2), Ramp(2, 66, 2), Repeat(66, 21), {2, 4}})},
    };
    for (const auto& c : cases) {
        C2DLineGraph g(36, 103, 510, 147);
        Fill(g, c.segments, 2);
        EXPECT_EQ(Ticks(g, c.kind, c.expected.size()), c.expected) << c.kind;
    }
}

TEST(LineAnimation, AnimationWithZeroStepsIsRefused) {
    for (int segments : {0, 1, 101}) {
        C2DLineGraph g(36, 103, 510, 147);
        Fill(g, segments, segments ? 1 : 0);
        for (int kind : {kLineTraceAll, kLineTraceSeries}) {
            EXPECT_FALSE(g.SetAnimation(1, kind)) << segments;
            EXPECT_FALSE(g.IsAnimating());
            g.StepAnimation();
            EXPECT_EQ(g.GetAnimationPercent(), 0);
            QImage surface(kWidth, kHeight, QImage::Format_RGB32);
            g.Draw(surface);
        }
    }
    C2DLineGraph hundred(36, 103, 510, 147);
    Fill(hundred, 100, 1);
    EXPECT_TRUE(hundred.SetAnimation(1, kLineTraceAll));
    EXPECT_EQ(hundred.AnimationStep(), 1);
}

TEST(LineAnimation, TracePointStoreFollowsTheSeriesPresent) {
    C2DLineGraph g(36, 103, 510, 147);
    Fill(g, 3, 1);
    ASSERT_TRUE(g.SetAnimation(1, kLineTraceAll));
    EXPECT_EQ(g.TracePoints().size(), 1u);
    // A series added after the animation started is traced too, not read past the store.
    g.AddSeries("late", GetChartColor(5));
    g.SetValue(1, 2, 9);
    g.SetValue(2, 2, 9);
    g.SetValue(3, 2, 9);
    for (int i = 0; i < 40; ++i)
        g.StepAnimation();
    QImage surface(kWidth, kHeight, QImage::Format_RGB32);
    surface.fill(Qt::white);
    g.Draw(surface);
    ASSERT_EQ(g.TracePoints().size(), 2u);
    const SeriesLayout l = g.Layout();
    const Point a = LinePoint(l, 1, 9, 9);
    EXPECT_EQ(surface.pixelColor(a.x + 10, a.y), Colour(GetChartColor(5)));
    g.Clear();
    g.Draw(surface);
    EXPECT_TRUE(g.TracePoints().size() <= 2u);
}

TEST(LineAnimation, HeldTraceShowsEveryPieceInFull) {
    for (int kind : {kLineTraceAll, kLineTraceSeries}) {
        C2DLineGraph g(36, 103, 510, 147);
        Fill(g, 3, 2);
        g.SetAnimation(1, kind);
        QImage surface(kWidth, kHeight, QImage::Format_RGB32);
        while (!g.IsHolding()) {
            g.StepAnimation();
            surface.fill(Qt::white);
            g.Draw(surface); // every stage, including the last segment
        }
        const SeriesLayout l = g.Layout();
        for (int j = 1; j <= 2; ++j) {
            const Point a = LinePoint(l, 2, g.Value(2, j), g.MaxValue());
            const Point b = LinePoint(l, 3, g.Value(3, j), g.MaxValue());
            EXPECT_EQ(surface.pixelColor((a.x + b.x) / 2, (a.y + b.y) / 2), Colour(GetChartColor(j + 2)))
                << kind << " series " << j;
        }
    }
}

TEST(LineAnimation, TraceSeriesHidesSeriesNotYetBegun) {
    C2DLineGraph g(36, 103, 510, 147);
    g.AddSegment("a");
    g.AddSegment("b");
    g.AddSeries("low", GetChartColor(3));
    g.AddSeries("high", GetChartColor(5));
    g.SetValue(1, 1, 1);
    g.SetValue(2, 1, 1);
    g.SetValue(1, 2, 8);
    g.SetValue(2, 2, 8);
    g.SetAnimation(1, kLineTraceSeries);
    for (int i = 0; i < 20; ++i)
        g.StepAnimation(); // P = 40 of 50
    QImage surface(kWidth, kHeight, QImage::Format_RGB32);
    surface.fill(Qt::white);
    g.Draw(surface);
    const SeriesLayout l = g.Layout();
    const Point low = LinePoint(l, 1, 1, 8);
    const Point high = LinePoint(l, 1, 8, 8);
    EXPECT_EQ(surface.pixelColor(low.x + 5, low.y), Colour(GetChartColor(3)));
    EXPECT_EQ(surface.pixelColor(high.x + 5, high.y), QColor(Qt::white));
    // 40 of 50: the trace has covered four fifths of the piece, no more.
    const Point end = LinePoint(l, 2, 1, 8);
    const int reached = low.x + (end.x - low.x) * 4 / 5;
    EXPECT_EQ(surface.pixelColor(reached - 3, low.y), Colour(GetChartColor(3)));
    EXPECT_EQ(surface.pixelColor(reached + 5, low.y), QColor(Qt::white));
}

TEST(PieAnimation, SweepDrawsSlicesUpToItsAngle) {
    C2DPieGraph g(36, 103, 364, 147);
    g.AddSlice(50, GetChartColor(3), "a");
    g.AddSlice(50, GetChartColor(7), "b");
    g.SetAnimation(1, kPieSweep);
    for (int i = 0; i < 75; ++i)
        g.StepAnimation();
    EXPECT_DOUBLE_EQ(g.SweepAngle(), 0.75 * kTwoPi);
    QImage surface(kWidth, kHeight, QImage::Format_RGB32);
    surface.fill(Qt::white);
    g.Draw(surface);
    EXPECT_EQ(g.SweepPoint(), PieSweepPoint(g.Plot(), 0.75 * kTwoPi));
    EXPECT_EQ(surface.pixelColor(218, 130), Colour(GetChartColor(3))); // first half, done
    EXPECT_EQ(surface.pixelColor(150, 200), Colour(GetChartColor(7))); // swept part of the second
    EXPECT_EQ(surface.pixelColor(300, 200), QColor(Qt::white));        // not yet swept
}

TEST(PieAnimation, SweepToOneHundredAndOneSliceFadeOneSliceEveryFiftyTicks) {
    C2DPieGraph sweep(36, 103, 364, 147);
    sweep.AddSlice(50, GetChartColor(3), "a");
    sweep.AddSlice(50, GetChartColor(7), "b");
    const auto swept = Join({Ramp(1, 101, 1), {1, 2}});
    EXPECT_EQ(Ticks(sweep, kPieSweep, swept.size()), swept);

    C2DPieGraph g(36, 103, 364, 147);
    for (int i = 0; i < 3; ++i)
        g.AddSlice(30, GetChartColor(i + 3), "s");
    const auto expected = Join({Parts(3), {2}});
    g.SetAnimation(1, kPieSliceFade);
    std::vector<int> seen, shown;
    for (size_t i = 0; i < expected.size(); ++i) {
        g.StepAnimation();
        seen.push_back(g.GetAnimationPercent());
        if (i % 50 == 0)
            shown.push_back(g.SlicesShown());
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 0}));
}

TEST(PieAnimation, EmptyPieAnimatesWithoutDrawing) {
    C2DPieGraph g(36, 103, 364, 147);
    for (int kind : {kPieSweep, kPieSliceFade}) {
        EXPECT_TRUE(g.SetAnimation(1, kind));
        QImage surface(kWidth, kHeight, QImage::Format_RGB32);
        surface.fill(Qt::white);
        for (int i = 0; i < 120; ++i) {
            g.StepAnimation();
            g.Draw(surface);
        }
        EXPECT_EQ(surface.pixelColor(218, 176), QColor(Qt::white));
    }
}

} // namespace
