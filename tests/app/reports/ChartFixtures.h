#pragma once
// The report window of the reports dialog (729 x 295) filled the way the
// dialog fills it, for the render and animation tests.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "app/reports/ChartGeometry.h"
#include "app/reports/ChartPaint.h"
#include "app/reports/GraphObject.h"

namespace chart_fixtures {

constexpr int kWidth = 729;
constexpr int kHeight = 295;
constexpr charts::COLORREF kGradientStart = charts::Rgb(0, 125, 0);
constexpr charts::COLORREF kGradientEnd = charts::Rgb(196, 196, 0);

inline QColor Colour(charts::COLORREF c) {
    return QColor(charts::RedOf(c), charts::GreenOf(c), charts::BlueOf(c));
}

inline QColor PixelAt(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// The dialog's sequence up to the data: type, titles, gradient, colours.
inline std::unique_ptr<CGraphObject> MakeReportWindow(int type) {
    auto w = std::make_unique<CGraphObject>();
    w->Create(QRect(0, 0, kWidth, kHeight), nullptr, 1001);
    w->SetGraphType(type);
    w->ClearGraph();
    w->SetGraphTitle("Pain by time of day");
    w->SetGraphSubtitle("1 March to 31 March");
    w->SetGraphFillType(charts::kFillGradient);
    w->SetGraphGradientColors(kGradientStart, kGradientEnd);
    w->SetGraphTitleShadow(0);
    w->SetGraphSubtitleShadow(0);
    w->SetGraphSubtitleColor(charts::Rgb(196, 196, 196));
    w->SetGraphTextColor(charts::Rgb(255, 255, 255));
    return w;
}

// Rows from top to bottom and columns from left to right holding pixels of
// colour `ink` inside r; empty when there are none.
inline QRect InkBounds(const QImage& image, const QRect& r, QColor ink) {
    int left = INT_MAX, right = INT_MIN, top = INT_MAX, bottom = INT_MIN;
    const QRect area = r.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixelColor(x, y) != ink)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return left == INT_MAX ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// Pixels of `area` where the ink of colour `ink` differs from what `text`
// leaves in that colour when drawn in `font` with its reference point at
// (x, y): 0 when the image spells exactly that text there.
inline int InkMismatch(const QImage& image, const QRect& area, QColor ink, const QFont& font, int x, int y,
                       charts::TextAlign align, const QString& text) {
    QImage expected(image.size(), QImage::Format_ARGB32);
    expected.fill(Qt::transparent);
    {
        QPainter p(&expected);
        charts::PrepareChartPainter(p);
        p.setFont(font);
        p.setPen(ink);
        charts::DrawTextAt(p, x, y, text, align);
    }
    int differ = 0;
    const QRect r = area.intersected(image.rect());
    for (int py = r.top(); py <= r.bottom(); ++py) {
        for (int px = r.left(); px <= r.right(); ++px)
            differ += (image.pixelColor(px, py) == ink) != (expected.pixelColor(px, py) == ink);
    }
    return differ;
}

// What the pixels under the horizontal axis say about the segment labels the
// graph reports: label ink (colour `ink`) right of the vertical axis lies
// only inside the reported boxes, every box holds some, lies between the two
// axes' ends (inside the chart) and keeps apart from the next, and its ink is
// centred on the box's x within `tolerance` pixels. Gives the tallest
// label's ink height.
inline int ExpectLabelsWhereReported(const QImage& image, const charts::PlotRect& plot,
                                     const std::vector<charts::SegmentLabelBox>& labels, QColor ink,
                                     int tolerance = 3) {
    const charts::AxesGeometry axes = charts::Axes(plot);
    int tallest = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
        const charts::Rect& b = labels[i].box;
        SCOPED_TRACE(testing::Message() << "label of segment " << labels[i].segment);
        EXPECT_GT(b.left, axes.origin.x);
        EXPECT_LE(b.right, axes.horizontalEnd.x);
        EXPECT_LE(b.bottom, image.height());
        if (i > 0) {
            EXPECT_LT(labels[i - 1].box.right, b.left);
        }
        const QRect text = InkBounds(image, QRect(b.left, b.top, b.Width(), b.Height()), ink);
        EXPECT_FALSE(text.isEmpty());
        if (text.isEmpty())
            continue;
        EXPECT_NEAR((text.left() + text.right()) / 2.0, labels[i].centreX, tolerance);
        tallest = std::max(tallest, text.height());
    }
    for (int y = axes.origin.y + 2; y < image.height(); ++y) {
        for (int x = axes.origin.x + 1; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != ink)
                continue;
            const bool inside = std::any_of(labels.begin(), labels.end(), [&](const charts::SegmentLabelBox& l) {
                return x >= l.box.left && x < l.box.right && y >= l.box.top && y < l.box.bottom;
            });
            EXPECT_TRUE(inside) << "label ink outside every box at " << x << "," << y;
            if (!inside)
                return tallest;
        }
    }
    return tallest;
}

} // namespace chart_fixtures
