#include "app/reports/ChartPaint.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

namespace charts {

QColor ToQColor(COLORREF c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

QFont MakeChartFont(const QString& family, int height, int width) {
    QFont font(family);
    font.setStyleStrategy(QFont::NoAntialias);
    height = std::max(1, height);
    font.setPixelSize(height);
    // The height is the whole cell, while a pixel size is the em alone.
    const int cell = QFontMetrics(font).height();
    if (cell > height)
        font.setPixelSize(std::max(1, height * height / cell));
    if (width > 0) {
        const int average = QFontMetrics(font).averageCharWidth();
        if (average > 0)
            font.setStretch(std::clamp(width * 100 / average, 1, 4000));
    }
    // Rounding in the face's metrics can still leave the cell a pixel or two high.
    for (int i = 0; i < 4 && QFontMetrics(font).height() > height && font.pixelSize() > 1; ++i) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}

void PrepareChartPainter(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
}

void DrawTextAt(QPainter& p, int x, int y, const QString& text, TextAlign align) {
    const QFontMetrics fm(p.font());
    const int advance = fm.horizontalAdvance(text);
    switch (align) {
    case TextAlign::LeftTop: break;
    case TextAlign::RightTop: x -= advance; break;
    case TextAlign::CentreTop: x -= advance / 2; break;
    }
    p.drawText(x, y + fm.ascent(), text);
}

int TextRowHeight(const QPainter& p) {
    return QFontMetrics(p.font()).height();
}

void FillArea(QPainter& p, const Rect& r, QColor colour) {
    const QRect area(QPoint(std::min(r.left, r.right), std::min(r.top, r.bottom)),
                     QSize(std::abs(r.Width()), std::abs(r.Height())));
    if (!area.isEmpty())
        p.fillRect(area, colour);
}

void DrawOutlinedRect(QPainter& p, Rect r, QColor fill) {
    if (r.right < r.left)
        std::swap(r.left, r.right);
    if (r.bottom < r.top)
        std::swap(r.top, r.bottom);
    const int w = std::max(r.Width() - 1, 0);
    const int h = std::max(r.Height() - 1, 0);
    if (w == 0 || h == 0) {
        p.drawLine(r.left, r.top, r.left + w, r.top + h);
        return;
    }
    const QBrush old = p.brush();
    p.setBrush(fill);
    p.drawRect(r.left, r.top, w, h);
    p.setBrush(old);
}

void DrawLine(QPainter& p, Point from, Point to) {
    p.drawLine(from.x, from.y, to.x, to.y);
}

void DrawAxes(QPainter& p, const PlotRect& plot) {
    const AxesGeometry a = Axes(plot);
    DrawLine(p, a.origin, a.horizontalEnd);
    DrawLine(p, a.horizontalEnd, a.horizontalArrowUp);
    DrawLine(p, a.horizontalEnd, a.horizontalArrowDown);
    DrawLine(p, a.origin, a.verticalTop);
    DrawLine(p, a.verticalTop, a.verticalArrowLeft);
    DrawLine(p, a.verticalTop, a.verticalArrowRight);
}

void DrawAxisNumbers(QPainter& p, const PlotRect& plot, const SeriesLayout& layout, int maxValue, const QFont& font,
                     COLORREF colour) {
    const AxisNumbers n = AxisNumberLayout(plot, layout, maxValue);
    p.save();
    p.setFont(font);
    p.setPen(ToQColor(colour));
    DrawTextAt(p, n.x, n.yMax, QString::number(maxValue), TextAlign::RightTop);
    DrawTextAt(p, n.x, n.yHalf, QString::number(n.half), TextAlign::RightTop);
    DrawTextAt(p, n.x, n.yZero, QStringLiteral("0"), TextAlign::RightTop);
    p.restore();
}

namespace {

constexpr int kMinLabelGap = 2;    // pixels kept clear between two segment labels, at least
constexpr int kMinElidedChars = 3; // an elided label keeps at least this many characters

QFont SegmentLabelFont(const SeriesLayout& layout) {
    return MakeChartFont(QStringLiteral("Arial"), layout.F);
}

// Where DrawTextAt puts a centred text, taking in ink that overhangs its advance.
Rect CentredTextBox(const QFontMetrics& fm, Point at, const QString& text) {
    const int left = at.x - fm.horizontalAdvance(text) / 2;
    const QRect ink = fm.boundingRect(text);
    return {std::min(left, left + ink.left()), at.y,
            std::max(left + fm.horizontalAdvance(text), left + ink.right() + 1), at.y + fm.height()};
}

} // namespace

Rect DrawSegmentLabel(QPainter& p, const PlotRect& plot, const SeriesLayout& layout, int s, int groupX,
                      const QString& label, COLORREF colour) {
    const Point at = SegmentLabelPoint(plot, layout, s, groupX);
    p.save();
    p.setFont(SegmentLabelFont(layout));
    p.setPen(ToQColor(colour));
    DrawTextAt(p, at.x, at.y, label, TextAlign::CentreTop);
    const Rect box = CentredTextBox(QFontMetrics(p.font()), at, label);
    p.restore();
    return box;
}

std::vector<QString> FitSegmentLabels(const PlotRect& plot, const SeriesLayout& layout, int s, int pitch,
                                      const std::vector<QString>& labels) {
    const QFontMetrics fm(SegmentLabelFont(layout));
    // Labels closer than half a character read as one.
    const int gap = std::max(kMinLabelGap, fm.averageCharWidth() / 2);
    auto apart = [&](const std::vector<QString>& shown) {
        std::optional<Rect> previous;
        int x = layout.startX;
        for (const QString& label : shown) {
            if (!label.isEmpty()) {
                const Rect box = CentredTextBox(fm, SegmentLabelPoint(plot, layout, s, x), label);
                if (previous && previous->right + gap > box.left)
                    return false;
                previous = box;
            }
            x += pitch;
        }
        return true;
    };
    if (apart(labels))
        return labels;
    // Cut to the distance between segments while every label keeps enough to
    // be read and told apart from the others.
    std::vector<QString> elided;
    for (const QString& label : labels) {
        elided.push_back(fm.elidedText(label, Qt::ElideRight, pitch - gap));
        const QString& e = elided.back();
        if (e != label && e.size() - 1 < kMinElidedChars)
            break;
    }
    const auto distinct = [](const std::vector<QString>& texts) {
        return std::set<QString>(texts.begin(), texts.end()).size();
    };
    if (elided.size() == labels.size() && distinct(elided) == distinct(labels) && apart(elided))
        return elided;
    // Else whole labels, every stride-th one.
    for (int stride = 2;; ++stride) {
        std::vector<QString> thinned(labels.size());
        for (size_t k = 0; k < labels.size(); k += static_cast<size_t>(stride))
            thinned[k] = labels[k];
        if (apart(thinned) || static_cast<size_t>(stride) >= labels.size())
            return thinned;
    }
}

void DrawLegendBox(QPainter& p, const PlotRect& plot, const LegendShape& shape, const QFont& font,
                   const std::vector<LegendRow>& rows, COLORREF textColour, COLORREF backColour) {
    p.save();
    p.setFont(font);
    const int rowHeight = TextRowHeight(p);
    const LegendLayout l = Legend(plot, shape, static_cast<int>(rows.size()), rowHeight);
    DrawOutlinedRect(p, l.box, ToQColor(backColour));
    Point row = l.firstRow;
    for (const LegendRow& r : rows) {
        FillArea(p, {row.x, row.y + l.swatchTop, row.x + l.swatchWidth, row.y + l.swatchBottom}, ToQColor(r.colour));
        p.setPen(ToQColor(textColour));
        DrawTextAt(p, row.x + l.textOffset, row.y, r.text);
        row.y += rowHeight;
    }
    p.restore();
}

void FadeIn(QPainter& p, const QImage& surface, const PlotRect& plot, int percent,
            const std::function<void(QPainter&)>& draw) {
    const QRect area(plot.origin.x, plot.origin.y, plot.size.cx, plot.size.cy);
    if (area.isEmpty())
        return;
    QImage layer = surface.copy(area);
    {
        QPainter lp(&layer);
        PrepareChartPainter(lp);
        lp.translate(-area.left(), -area.top());
        draw(lp);
    }
    QImage blended = surface.copy(area).convertToFormat(QImage::Format_ARGB32);
    {
        QPainter bp(&blended);
        bp.setOpacity((percent * 255 / 100) / 255.0);
        bp.drawImage(0, 0, layer);
    }
    const QRgb key = blended.pixel(0, 0);
    for (int y = 0; y < blended.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(blended.scanLine(y));
        for (int x = 0; x < blended.width(); ++x) {
            if (line[x] == key)
                line[x] = 0;
        }
    }
    p.drawImage(area.topLeft(), blended);
}

} // namespace charts
