#pragma once
// Chart geometry: every position and size is a fraction of the window or the
// plot, computed in floating point and truncated toward zero term by term, so
// a sum of two truncated terms is never truncated again. Pure functions, no Qt.
#include <cstdint>

namespace charts {

// 0x00BBGGRR, the colour word the reports keep their series colours in.
using COLORREF = std::uint32_t;

constexpr COLORREF Rgb(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xff) | ((g & 0xff) << 8) | ((b & 0xff) << 16));
}
constexpr int RedOf(COLORREF c) {
    return static_cast<int>(c & 0xff);
}
constexpr int GreenOf(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xff);
}
constexpr int BlueOf(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xff);
}

// Series colour number `index` (1-based); outside the table the index itself.
COLORREF GetChartColor(int index);

enum GraphType { kNoGraph = -1, kBarGraph = 0, kPieGraph = 1, kLineGraph = 2 };
enum FillType { kFillSolid = 10, kFillGradient = 11 };
enum GradientMode { kGradientHorizontal = 0, kGradientVertical = 1 };

enum AnimationKind {
    kPieSweep = 10,
    kPieSliceFade = 11,
    kBarGrowAll = 20,
    kBarGrowSegments = 21,
    kBarGrowSeries = 22,
    kBarFadeSegments = 25,
    kBarFadeSeries = 26,
    kLineTraceAll = 30,
    kLineTraceSeries = 31,
};

constexpr int kMinWindowSide = 200;
constexpr int kHoldTicks = 21; // ticks a finished picture is held before it restarts
constexpr int kMaxLabelFontHeight = 30;

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};
struct Size {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const Size&, const Size&) = default;
};
// Right and bottom are exclusive, as for the rectangles the drawing calls take.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};
struct PlotRect {
    Point origin; // X, Y
    Size size;    // W, H
    friend bool operator==(const PlotRect&, const PlotRect&) = default;
};

inline int Trunc(double v) {
    return static_cast<int>(v);
}
inline int Part(int size, double fraction) {
    return Trunc(size * fraction);
}

// ---- chart window -------------------------------------------------------

// The window is never smaller than 200 by 200; the top-left corner stays.
Rect AdjustWindowRect(Rect requested);

struct FontSize {
    int height = 0;
    int width = 0; // 0: the face's own width
};
FontSize TitleFontSize(Size window);
FontSize SubtitleFontSize(Size window);

// The plot rectangle a graph of `type` is built with; false for unknown types.
bool GraphPlotRect(int type, Size window, PlotRect* plot);
// The part of the drawing surface a solid background refills on each paint
// (empty for unknown types).
Rect PaintPlotRect(int type, Size window);
// What a finished animation step clears, whatever the graph type.
Rect FinishedStepClearRect(Size window);

struct TitleLayout {
    Point titleShadow;
    Point title;
    Point subtitleShadow;
    Point subtitle;
};
TitleLayout TitlePositions(Size window, bool gradient);

// ---- axes and series layout of the bar and line graphs ---------------------

struct AxesGeometry {
    Point origin; // (x0, y0)
    Point horizontalEnd;
    Point horizontalArrowUp;
    Point horizontalArrowDown;
    Point verticalTop;
    Point verticalArrowLeft;
    Point verticalArrowRight;
};
AxesGeometry Axes(const PlotRect& plot);

struct SeriesLayout {
    int L = 0;      // axis run the groups (or the line's points) use
    int G = 0;      // gap between groups (bar graph only)
    int g = 0;      // gap between bars of a group (bar graph only)
    int F = 0;      // segment label font height, never above the axis numbers
    int B = 0;      // group width (bar graph only)
    int w = 0;      // bar width (bar graph only)
    int x0 = 0;     // vertical axis
    int y0 = 0;     // horizontal axis
    int startX = 0; // left edge of the first group
    int yb = 0;     // bar baseline
    int zeroY = 0;  // line graph: height of the value 0
    int K = 0;      // height of the largest value
    int n = 0;      // line graph: segments sharing L from startX
};
// n segments and s series, both at least 1. `wideStart` puts the first group
// at x0 + 4g even for one segment (the animated bar kinds do this).
SeriesLayout BarLayout(const PlotRect& plot, int n, int s, bool wideStart = false);
// The line graph's points share the whole horizontal axis up to its arrow
// head: n equal shares (L from startX), a point in the middle of each.
SeriesLayout LineLayout(const PlotRect& plot, int n, int s);

// Axis numbers: M, M / 2 and 0, right-aligned at `x`.
struct AxisNumbers {
    int x = 0;
    int yMax = 0;
    int yHalf = 0;
    int yZero = 0;
    double half = 0;
};
AxisNumbers AxisNumberLayout(const PlotRect& plot, const SeriesLayout& layout, double maxValue);

// Heights of the axis-number and legend fonts of the bar and line graphs.
inline int AxisFontHeight(const PlotRect& plot) {
    return Part(plot.size.cy, 0.1);
}
inline int LegendFontHeight(const PlotRect& plot) {
    return Part(plot.size.cy, 0.075);
}

// Centre-top point of a segment label centred at x.
Point SegmentLabelPoint(const PlotRect& plot, const SeriesLayout& layout, int centreX);
// Where a bar group's label is centred: the middle of the group that starts
// at groupX.
inline int BarLabelCentre(const SeriesLayout& layout, int s, int groupX) {
    return groupX + (s * layout.g + layout.B) / 2;
}
// From the start of one bar group to the next: s bars, the gaps between them, G.
inline int GroupPitch(const SeriesLayout& layout, int s) {
    return s * layout.w + (s - 1) * layout.g + layout.G;
}
// Height of a bar of value v under the largest value M (0 when M is 0).
int BarHeight(double v, double maxValue, const SeriesLayout& layout);
// The grown part of a bar of full height h at animation progress P.
inline int GrownHeight(int h, int percent) {
    return h * percent / 100;
}
// Where the line of a series passes over segment k (1-based); the x is
// also where that segment's label is centred.
Point LinePoint(const SeriesLayout& layout, int k, double v, double maxValue);
int LinePointX(const SeriesLayout& layout, int k);
// End of a trace that has covered `fraction` of the piece from `from` to `to`.
Point TracePartialPoint(Point from, Point to, double fraction);

// ---- legends --------------------------------------------------------------

struct LegendShape {
    double boxLeft;
    double boxRight;
    double rowLeft;
    double swatchTop;
    double swatchWidth;
};
constexpr LegendShape kSeriesLegend{0.95, 1.25, 0.97, 0.03, 0.05};
constexpr LegendShape kPieLegend{1.1, 1.75, 1.15, 0.05, 0.1};

struct LegendLayout {
    Rect box;
    Point firstRow;
    int swatchTop = 0;    // below the row point
    int swatchBottom = 0; // below the row point
    int swatchWidth = 0;
    int textOffset = 0; // right of the row point
};
LegendLayout Legend(const PlotRect& plot, const LegendShape& shape, int rows, int rowHeight);

// ---- pie ------------------------------------------------------------------

constexpr double kTwoPi = 6.283185307179586;
// Point of the pie's ellipse at angle a (counter-clockwise from three o'clock).
Point PieEndPoint(const PlotRect& plot, double angle);
// The same for the animation, rounded instead of truncated.
Point PieSweepPoint(const PlotRect& plot, double angle);
Point PieStartPoint(const PlotRect& plot);
// Sweep angle of the pie animation at progress P of slices totalling `totalPercent`.
double PieSweepAngle(int percent, int totalPercent);

} // namespace charts
