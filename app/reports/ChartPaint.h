#pragma once
// Drawing helpers shared by the graphs: the rectangle, line and text calls
// the chart geometry is written for, on a QPainter with antialiasing off.
#include <QColor>
#include <QFont>
#include <QString>

#include <functional>
#include <vector>

#include "app/reports/ChartGeometry.h"

class QImage;
class QPainter;

namespace charts {

QColor ToQColor(COLORREF c);

// The application's own face, which the legends are written in.
QString ChartFace();

// A font whose cell (ascent plus descent) is `height` pixels and whose average
// character is `width` pixels wide (0: the face's own). Text is not smoothed.
QFont MakeChartFont(const QString& family, int height, int width = 0);

// Plain painting: black one-pixel pen, no brush, no smoothing.
void PrepareChartPainter(QPainter& p);

enum class TextAlign { LeftTop, RightTop, CentreTop };
// Draws `text` with its reference point at (x, y); the background stays.
void DrawTextAt(QPainter& p, int x, int y, const QString& text, TextAlign align = TextAlign::LeftTop);
// Height of one text row in the painter's font.
int TextRowHeight(const QPainter& p);

void FillArea(QPainter& p, const Rect& r, QColor colour);
// Fills `r` with `fill` and outlines it with the current pen; right and bottom
// are exclusive. A rectangle of no height is a flat outline.
void DrawOutlinedRect(QPainter& p, Rect r, QColor fill);
void DrawLine(QPainter& p, Point from, Point to);

void DrawAxes(QPainter& p, const PlotRect& plot);
// An axis number as the scale holds it: 7.5 reads "7.5", 3.75 "3.75", 4 "4".
QString AxisNumberText(double value);
// M, M / 2 and 0 up the vertical axis; when every value is 0 the "0" is
// written once.
void DrawAxisNumbers(QPainter& p, const PlotRect& plot, const SeriesLayout& layout, double maxValue, const QFont& font,
                     COLORREF colour);

// A segment label as drawn: which segment (1-based), the x it is centred
// on and the box its text covers.
struct SegmentLabelBox {
    int segment = 0;
    int centreX = 0;
    Rect box;
    QString text;
    QFont font;
};
// Draws the label centred at centreX under the horizontal axis.
SegmentLabelBox DrawSegmentLabel(QPainter& p, const PlotRect& plot, const SeriesLayout& layout, int segment,
                                 int centreX, const QString& label, COLORREF colour);
// The label each segment shows, centred at its x in `centres`, so that every
// label lies between left and right (the vertical axis and the end of the
// horizontal one) and no two labels meet: the labels as they are when they
// fit; else cut short with an ellipsis to the distance between segments when
// every one keeps a few characters; else whole labels on every n-th segment
// (a week of entries labelled by timestamp) and empty texts between.
std::vector<QString> FitSegmentLabels(const PlotRect& plot, const SeriesLayout& layout, const std::vector<int>& centres,
                                      int left, int right, const std::vector<QString>& labels);

// Of `labels` (an empty text: none at that segment), those that can be read
// whole, from the left: each lies between left and right and keeps clear of
// the one before it; the others come back empty.
std::vector<QString> ReadableLabels(const PlotRect& plot, const SeriesLayout& layout, const std::vector<int>& centres,
                                    int left, int right, const std::vector<QString>& labels);

struct LegendRow {
    QString text;
    COLORREF colour = 0;
};
void DrawLegendBox(QPainter& p, const PlotRect& plot, const LegendShape& shape, const QFont& font,
                   const std::vector<LegendRow>& rows, COLORREF textColour, COLORREF backColour);

// Blends what `draw` paints (in surface coordinates) into the plot rectangle
// of `surface` with constant alpha percent * 255 / 100; pixels that come out
// in the colour found at the plot origin are left as they were.
void FadeIn(QPainter& p, const QImage& surface, const PlotRect& plot, int percent,
            const std::function<void(QPainter&)>& draw);

} // namespace charts
