// The chart window: creation, surfaces, backgrounds and titles, data routing,
// messages and the animation timer.
#include <gtest/gtest.h>

#include <QStringList>
#include <QTest>

#include "ChartFixtures.h"
#include "app/reports/BarGraph.h"
#include "app/reports/LineGraph.h"
#include "app/reports/PieGraph.h"

using namespace charts;
using namespace chart_fixtures;

namespace {

// Pixels of `colour` in the title band above the plot.
int TitlePixels(const QImage& image, QColor colour) {
    int n = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 400; ++x)
            n += image.pixelColor(x, y) == colour;
    }
    return n;
}

TEST(GraphObject, SmallRectangleMakesATwoHundredSquareWindow) {
    QWidget parent;
    CGraphObject w;
    EXPECT_TRUE(w.Create(QRect(15, 25, 150, 120), &parent, 1050));
    EXPECT_EQ(w.WindowSize(), (Size{200, 200}));
    EXPECT_EQ(w.WindowOrigin(), (Point{15, 25}));
    EXPECT_EQ(w.geometry(), QRect(15, 25, 200, 200));
    EXPECT_EQ(w.parentWidget(), &parent);
    EXPECT_EQ(w.objectName(), "1050");
    EXPECT_EQ(w.GraphType(), kNoGraph);
    EXPECT_FALSE(w.HasSurfaces());
    parent.show();
    EXPECT_FALSE(w.isVisible());
    w.show();
    EXPECT_TRUE(w.isVisible());
}

TEST(GraphObject, NothingIsDrawnBeforeTheSurfacesExist) {
    CGraphObject plain;
    plain.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    plain.SetGraphType(kPieGraph); // the default gradient, dark to light blue
    EXPECT_EQ(plain.BackSurface().pixelColor(100, 0), QColor(0, 0, 64));
    EXPECT_EQ(plain.BackSurface().pixelColor(100, kHeight - 1), QColor(0, 0, 216));

    CGraphObject w;
    w.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    w.SetGraphGradientColors(Rgb(1, 2, 3), Rgb(4, 5, 6)); // only stored
    w.ComposeFrame();
    EXPECT_TRUE(w.DrawSurface().isNull());
    w.SetGraphType(kBarGraph);
    ASSERT_TRUE(w.HasSurfaces());
    EXPECT_EQ(w.DrawSurface().size(), QSize(kWidth, kHeight));
    EXPECT_EQ(w.BackSurface().pixelColor(5, 0), QColor(1, 2, 3));
    EXPECT_EQ(w.BackSurface().pixelColor(5, kHeight - 1), QColor(4, 5, 6));
}

TEST(GraphObject, GraphTypeChoosesTheGraphAndReplacesTheOldOne) {
    CGraphObject w;
    w.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    w.SetGraphType(kBarGraph);
    ASSERT_NE(w.BarGraph(), nullptr);
    EXPECT_EQ(w.BarGraph()->Plot(), (PlotRect{{36, 103}, {510, 147}}));
    w.SetGraphType(kLineGraph);
    EXPECT_EQ(w.BarGraph(), nullptr);
    ASSERT_NE(w.LineGraph(), nullptr);
    w.SetGraphType(kPieGraph);
    ASSERT_NE(w.PieGraph(), nullptr);
    EXPECT_EQ(w.PieGraph()->Plot(), (PlotRect{{36, 103}, {364, 147}}));
    w.SetGraphType(4);
    EXPECT_EQ(w.PieGraph(), nullptr);
    EXPECT_TRUE(w.HasSurfaces());
    // An unknown type still shows background and titles.
    w.SetGraphFillType(kFillGradient);
    w.ComposeFrame();
    EXPECT_GT(TitlePixels(w.DrawSurface(), Qt::black), 100);
    EXPECT_EQ(w.DrawSurface().pixelColor(5, 0), QColor(0, 0, 64));
}

TEST(GraphObject, DataCallsReachOnlyTheirOwnKindOfGraph) {
    auto w = MakeReportWindow(kBarGraph);
    w->Add2DLineGraphSegment("ignored");
    w->Add2DPieGraphSlice(10, 0, "ignored");
    w->Add2DBarGraphSegment("a");
    w->Add2DBarGraphSeries("s", 1);
    w->Set2DBarGraphValue(1, 1, 4);
    EXPECT_EQ(w->BarGraph()->SegmentCount(), 1);
    EXPECT_EQ(w->BarGraph()->Value(1, 1), 4);
    w->ClearGraph();
    EXPECT_EQ(w->BarGraph()->SegmentCount(), 0);
    EXPECT_EQ(w->BarGraph()->SeriesCount(), 0);
}

TEST(GraphObject, DataEntryMessagesGoThroughTheSink) {
    QStringList told;
    CGraphObject w;
    w.SetMessageSink([&](const QString& text) { told << text; });
    w.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    w.SetGraphType(kLineGraph);
    w.Add2DLineGraphSeries("early", 1);
    w.Add2DLineGraphSegment("a");
    w.Add2DLineGraphSeries("s", 1);
    w.Set2DLineGraphValue(0, 1, 5);
    w.Set2DLineGraphValue(1, 0, 5);
    w.SetGraphType(kBarGraph);
    w.Add2DBarGraphSeries("early", 1);
    EXPECT_EQ(told, (QStringList{"No graph segments...", "Segments index is out of bounds...",
                                 "Series index is out of bounds...", "No graph segments..."}));
}

TEST(GraphObject, SolidBackgroundDrawsTitlesOnlyAfterAnEraseOrATitleChange) {
    CGraphObject w;
    w.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    w.SetGraphType(kBarGraph);
    w.SetGraphFillType(kFillSolid);
    ASSERT_TRUE(w.NeedsFullRedraw());
    w.ComposeFrame();
    EXPECT_FALSE(w.NeedsFullRedraw());
    const int drawn = TitlePixels(w.DrawSurface(), Qt::black);
    EXPECT_GT(drawn, 100);
    // Solid: outside the plot the white background stays white.
    EXPECT_EQ(w.DrawSurface().pixelColor(720, 0), QColor(Qt::white));
    // Left in place on the next paint, not drawn again.
    w.ComposeFrame();
    EXPECT_EQ(TitlePixels(w.DrawSurface(), Qt::black), drawn);
    EXPECT_FALSE(w.NeedsFullRedraw());
    // A new title asks for the whole frame again, without the old title's traces.
    w.SetGraphTitle("");
    EXPECT_TRUE(w.NeedsFullRedraw());
    w.SetGraphSubtitle("");
    w.ComposeFrame();
    EXPECT_EQ(TitlePixels(w.DrawSurface(), Qt::black), 0);
}

TEST(GraphObject, ShowingTheWindowErasesAndRedrawsTitles) {
    CGraphObject w;
    w.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    w.SetGraphType(kBarGraph);
    w.ComposeFrame();
    ASSERT_FALSE(w.NeedsFullRedraw());
    w.show();
    EXPECT_TRUE(w.NeedsFullRedraw());
    const QImage shown = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(TitlePixels(shown, Qt::black), 100);
    EXPECT_FALSE(w.NeedsFullRedraw());
}

TEST(GraphObject, PaintCopiesTheComposedFrameToTheWindow) {
    auto w = MakeReportWindow(kBarGraph);
    w->Add2DBarGraphSegment("a");
    w->Add2DBarGraphSeries("s", GetChartColor(3));
    w->Set2DBarGraphValue(1, 1, 3);
    const QImage shown = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(kWidth, kHeight));
    EXPECT_EQ(shown, w->DrawSurface().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(shown.pixelColor(700, 0), Colour(kGradientStart));
}

TEST(GraphObject, GradientBackgroundDrawsTitlesOnEveryPaint) {
    auto w = MakeReportWindow(kLineGraph);
    w->SetGraphTitleShadow(1);
    w->SetGraphSubtitleShadow(1);
    w->ComposeFrame();
    const int black = TitlePixels(w->DrawSurface(), Qt::black);
    const int grey = TitlePixels(w->DrawSurface(), QColor(128, 128, 128));
    const int subtitle = TitlePixels(w->DrawSurface(), QColor(196, 196, 196));
    EXPECT_GT(black, 100);
    EXPECT_GT(grey, 100);
    EXPECT_GT(subtitle, 20);
    w->ComposeFrame();
    EXPECT_EQ(TitlePixels(w->DrawSurface(), Qt::black), black);
    EXPECT_EQ(TitlePixels(w->DrawSurface(), QColor(128, 128, 128)), grey);
    w->SetGraphTitleShadow(2); // only 1 turns it on
    w->SetGraphSubtitleShadow(0);
    w->ComposeFrame();
    EXPECT_EQ(TitlePixels(w->DrawSurface(), QColor(128, 128, 128)), 0);
}

TEST(GraphObject, AnimationSwitchStartsAndStopsTheFiftyMillisecondTimer) {
    auto w = MakeReportWindow(kBarGraph);
    w->Add2DBarGraphSegment("a");
    w->Add2DBarGraphSeries("s", GetChartColor(3));
    w->Set2DBarGraphValue(1, 1, 3);
    EXPECT_FALSE(w->AnimationTimer().isActive());
    w->SetGraphAnimation(1, kBarGrowAll);
    EXPECT_TRUE(w->IsAnimating());
    EXPECT_TRUE(w->AnimationTimer().isActive());
    EXPECT_EQ(w->AnimationTimer().interval(), 50);
    EXPECT_EQ(w->GetAnimationPercent(), 1); // advanced once at the switch
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->GetAnimationPercent() >= 4; }, 3000));
    w->SetGraphAnimation(0, kBarGrowAll);
    EXPECT_FALSE(w->IsAnimating());
    EXPECT_FALSE(w->AnimationTimer().isActive());
    EXPECT_EQ(w->GetAnimationPercent(), 0);
    w->SetGraphAnimation(2, kBarGrowAll); // anything but 1 is off
    EXPECT_FALSE(w->AnimationTimer().isActive());
}

TEST(GraphObject, RefusedAnimationLeavesTheTimerOff) {
    auto w = MakeReportWindow(kLineGraph);
    w->Add2DLineGraphSegment("only");
    w->Add2DLineGraphSeries("s", 1);
    w->SetGraphAnimation(1, kLineTraceAll);
    EXPECT_FALSE(w->IsAnimating());
    EXPECT_FALSE(w->AnimationTimer().isActive());
    w->Add2DLineGraphSegment("second");
    w->SetGraphAnimation(1, kLineTraceAll);
    EXPECT_TRUE(w->AnimationTimer().isActive());

    CGraphObject none;
    none.Create(QRect(0, 0, 300, 300), nullptr, 2);
    none.SetGraphType(3);
    none.SetGraphAnimation(1, kBarGrowAll);
    EXPECT_FALSE(none.AnimationTimer().isActive());
    none.OnTimer(); // no graph: nothing to step
}

TEST(GraphObject, TimerTickStepsTheGraphAndClearsAfterAFinishedStep) {
    CGraphObject w;
    w.Create(QRect(0, 0, kWidth, kHeight), nullptr, 1);
    w.SetGraphType(kBarGraph);
    w.Add2DBarGraphSegment("a");
    w.Add2DBarGraphSeries("s", GetChartColor(3));
    w.Set2DBarGraphValue(1, 1, 3);
    w.SetGraphAnimation(1, kBarGrowAll);
    w.SetGraphAnimation(1, kBarGrowAll); // restarting resets the progress
    ASSERT_EQ(w.GetAnimationPercent(), 1);
    for (int i = 0; i < 98; ++i)
        w.OnTimer();
    EXPECT_EQ(w.GetAnimationPercent(), 99);
    w.ComposeFrame();
    const SeriesLayout l = w.BarGraph()->Layout();
    const QPoint inBar(l.startX + l.w / 2, l.yb - 20);
    ASSERT_EQ(w.DrawSurface().pixelColor(inBar), Colour(GetChartColor(3)));
    w.OnTimer(); // reaches 100: the plot area is cleared to the background
    EXPECT_EQ(w.GetAnimationPercent(), 100);
    EXPECT_FALSE(w.NeedsFullRedraw());
    EXPECT_EQ(w.DrawSurface().pixelColor(inBar), QColor(Qt::white));
    w.SetGraphAnimation(0, 0);
}

} // namespace
