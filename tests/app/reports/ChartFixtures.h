#pragma once
// The report window of the reports dialog (729 x 295) filled the way the
// dialog fills it, for the render and animation tests.
#include <QColor>
#include <QImage>
#include <QRect>

#include <memory>

#include "app/reports/ChartGeometry.h"
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

} // namespace chart_fixtures
