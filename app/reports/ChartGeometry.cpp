#include "app/reports/ChartGeometry.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <iterator>

namespace charts {

namespace {

constexpr COLORREF kChartColors[] = {
    Rgb(0, 128, 128), Rgb(0, 0, 0),     Rgb(0, 0, 255),     Rgb(0, 255, 255),   Rgb(255, 0, 255),
    Rgb(255, 215, 0), Rgb(0, 128, 0),   Rgb(0, 0, 128),     Rgb(255, 165, 0),   Rgb(255, 192, 203),
    Rgb(128, 0, 128), Rgb(0, 255, 255), Rgb(238, 130, 238), Rgb(255, 255, 255),
};

// Label fonts are sized as if one segment were two, so a lone label is not
// huge; and never above the axis numbers, so that few segments (a week of
// entries) do not get labels three times the size of every other text.
int LabelSegments(int n) {
    return n == 1 ? 2 : n;
}

SeriesLayout CommonLayout(const PlotRect& plot, int L, int n) {
    SeriesLayout l;
    const int W = plot.size.cx;
    const int H = plot.size.cy;
    l.L = L;
    l.G = Trunc(L / (n * 4.0));
    l.x0 = Part(W, 0.15) + plot.origin.x;
    l.y0 = Part(H, 0.95) + plot.origin.y;
    l.yb = l.y0 - Part(H, 0.01);
    l.K = Part(H, 0.8);
    return l;
}

int GroupWidth(const SeriesLayout& l, int n, int s) {
    return Trunc((l.L - (n - 1) * l.G + (s - 1) * n * l.g) / static_cast<double>(n));
}

} // namespace

COLORREF GetChartColor(int index) {
    if (index >= 1 && index <= static_cast<int>(std::size(kChartColors))) {
        return kChartColors[index - 1];
    }
    return static_cast<COLORREF>(index);
}

Rect AdjustWindowRect(Rect r) {
    if (r.Width() < kMinWindowSide)
        r.right = r.left + kMinWindowSide;
    if (r.Height() < kMinWindowSide)
        r.bottom = r.top + kMinWindowSide;
    return r;
}

FontSize TitleFontSize(Size window) {
    return {Part(window.cy, 0.1), Part(window.cx, 0.02)};
}

FontSize SubtitleFontSize(Size window) {
    return {Part(window.cy, 0.05), Part(window.cx, 0.01)};
}

bool GraphPlotRect(int type, Size window, PlotRect* plot) {
    double width = 0;
    switch (type) {
    case kBarGraph:
    case kLineGraph: width = 0.7; break;
    case kPieGraph: width = 0.5; break;
    default: return false;
    }
    plot->origin = {Part(window.cx, 0.05), Part(window.cy, 0.35)};
    plot->size = {Part(window.cx, width), Part(window.cy, 0.5)};
    return true;
}

Rect PaintPlotRect(int type, Size window) {
    double fraction = 0;
    switch (type) {
    case kBarGraph:
    case kLineGraph: fraction = 0.6; break;
    case kPieGraph: fraction = 0.5; break;
    default: return {};
    }
    const int left = Part(window.cx, 0.05);
    const int top = Part(window.cy, 0.35);
    return {left, top, left + Part(window.cx, fraction), top + Part(window.cy, fraction)};
}

Rect FinishedStepClearRect(Size window) {
    return PaintPlotRect(kPieGraph, window);
}

TitleLayout TitlePositions(Size window, bool gradient) {
    const int w = window.cx;
    const int h = window.cy;
    TitleLayout t;
    t.titleShadow = {Part(w, 0.065), Part(h, 0.037)};
    t.title = {Part(w, 0.05), Part(h, 0.025)};
    if (gradient) {
        t.subtitleShadow = {Part(w, 0.06), Part(h, 0.11)};
        t.subtitle = {Part(w, 0.05), Part(h, 0.11)};
    } else {
        t.subtitleShadow = {Part(w, 0.06), Part(h, 0.208)};
        t.subtitle = {Part(w, 0.05), Part(h, 0.2)};
    }
    return t;
}

AxesGeometry Axes(const PlotRect& plot) {
    const int X = plot.origin.x;
    const int Y = plot.origin.y;
    const int W = plot.size.cx;
    const int H = plot.size.cy;
    AxesGeometry a;
    a.origin = {Part(W, 0.15) + X, Part(H, 0.95) + Y};
    // The horizontal axis ends at W from the surface's left edge, not at X + W.
    a.horizontalEnd = {W, a.origin.y};
    a.horizontalArrowUp = {Part(W, 0.98), a.origin.y - Part(H, 0.02)};
    a.horizontalArrowDown = {Part(W, 0.98), a.origin.y + Part(H, 0.02)};
    a.verticalTop = {a.origin.x, Part(H, 0.05) + Y};
    a.verticalArrowLeft = {a.origin.x - Part(W, 0.015), Part(H, 0.085) + Y};
    a.verticalArrowRight = {a.origin.x + Part(W, 0.015), Part(H, 0.085) + Y};
    return a;
}

SeriesLayout BarLayout(const PlotRect& plot, int n, int s, bool wideStart) {
    assert(n >= 1 && s >= 1);
    SeriesLayout l = CommonLayout(plot, Part(plot.size.cx, 0.6), n);
    l.g = Trunc(l.G / 8.0 + 0.5);
    l.F = std::min(
        {Trunc(static_cast<double>(l.L) / LabelSegments(n) * 0.38 + 0.5), kMaxLabelFontHeight, AxisFontHeight(plot)});
    l.B = GroupWidth(l, n, s);
    l.w = Trunc((l.B - (s - 1) * l.g) / static_cast<double>(s));
    l.startX = l.x0 + ((n == 1 && !wideStart) ? 2 * l.g : 4 * l.g);
    l.zeroY = l.yb;
    return l;
}

SeriesLayout LineLayout(const PlotRect& plot, int n, [[maybe_unused]] int s) {
    assert(n >= 1 && s >= 1);
    SeriesLayout l = CommonLayout(plot, Part(plot.size.cx, 0.65), n);
    l.F = std::min(
        {Trunc(static_cast<double>(l.L) / LabelSegments(n) * 0.38 + 0.25), kMaxLabelFontHeight, AxisFontHeight(plot)});
    // Labels keep the font of 0.65 W; the points take the whole axis up to
    // the arrow head, each in the middle of its own share.
    const AxesGeometry axes = Axes(plot);
    l.startX = axes.origin.x;
    l.L = std::max(axes.horizontalArrowUp.x - axes.origin.x, 0);
    l.n = n;
    l.zeroY = Part(plot.size.cy, 0.93) + plot.origin.y;
    return l;
}

AxisNumbers AxisNumberLayout(const PlotRect& plot, const SeriesLayout& layout, double maxValue) {
    const int H = plot.size.cy;
    AxisNumbers a;
    a.x = layout.x0 - Part(plot.size.cx, 0.02);
    a.yMax = layout.yb - Part(H, 0.85);
    a.yHalf = layout.yb - Part(H, 0.45);
    a.yZero = layout.yb - Part(H, 0.05);
    a.half = maxValue / 2.0;
    return a;
}

Point SegmentLabelPoint(const PlotRect& plot, const SeriesLayout& layout, int centreX) {
    return {centreX, layout.y0 + Part(plot.size.cy, 0.01)};
}

int BarHeight(double v, double maxValue, const SeriesLayout& layout) {
    if (maxValue <= 0)
        return 0;
    return Trunc(v / maxValue * layout.K);
}

int LinePointX(const SeriesLayout& layout, int k) {
    return layout.startX + Trunc((k - 0.5) * layout.L / std::max(layout.n, 1));
}

Point LinePoint(const SeriesLayout& layout, int k, double v, double maxValue) {
    return {LinePointX(layout, k), layout.zeroY - BarHeight(v, maxValue, layout)};
}

Point TracePartialPoint(Point from, Point to, double fraction) {
    const float dx = static_cast<float>(to.x - from.x);
    const float dy = static_cast<float>(to.y - from.y);
    const float length = std::sqrt(std::pow(dx, 2.0f) + std::pow(dy, 2.0f));
    const double d = length * fraction;
    const double a = std::atan2(dy, dx);
    return {from.x + Trunc(std::cos(a) * d), from.y + Trunc(std::sin(a) * d)};
}

LegendLayout Legend(const PlotRect& plot, const LegendShape& shape, int rows, int rowHeight) {
    const int X = plot.origin.x;
    const int Y = plot.origin.y;
    const int W = plot.size.cx;
    const int H = plot.size.cy;
    const int t = (H - rows * rowHeight) / 2;
    LegendLayout l;
    l.box = {Part(W, shape.boxLeft) + X, Y + t, Part(W, shape.boxRight) + X, Y + Trunc((rows + 0.5) * rowHeight + t)};
    l.firstRow = {Part(W, shape.rowLeft) + X, Y + Part(H, 0.014) + t};
    l.swatchTop = Part(H, shape.swatchTop) / 2;
    l.swatchBottom = Part(H, 0.075);
    l.swatchWidth = Part(W, shape.swatchWidth);
    l.textOffset = l.swatchWidth + Part(W, 0.01);
    return l;
}

Point PieEndPoint(const PlotRect& plot, double angle) {
    const int halfW = plot.size.cx / 2;
    const int halfH = plot.size.cy / 2;
    return {plot.origin.x + halfW + Trunc(std::cos(angle) * halfW),
            plot.origin.y + halfH - Trunc(std::sin(angle) * halfH)};
}

Point PieSweepPoint(const PlotRect& plot, double angle) {
    const double halfW = plot.size.cx / 2.0;
    const double halfH = plot.size.cy / 2.0;
    return {plot.origin.x + Trunc(halfW + std::cos(angle) * halfW + 0.5),
            plot.origin.y + Trunc(halfH - std::sin(angle) * halfH + 0.5)};
}

Point PieStartPoint(const PlotRect& plot) {
    return {plot.origin.x + plot.size.cx, plot.origin.y + plot.size.cy / 2};
}

double PieSweepAngle(int percent, int totalPercent) {
    return percent * (totalPercent / 100.0 * kTwoPi) / 100.0;
}

} // namespace charts
