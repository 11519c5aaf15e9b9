#include "app/reports/ChartPaint.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cassert>
#include <optional>
#include <set>
#include <utility>

namespace charts {

QColor ToQColor(COLORREF c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

QString ChartFace() {
    return QGuiApplication::font().family();
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

QString AxisNumberText(double value) {
    // Values carry one decimal, so their half carries two at most.
    QString text = QString::number(value, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

void DrawAxisNumbers(QPainter& p, const PlotRect& plot, const SeriesLayout& layout, double maxValue, const QFont& font,
                     COLORREF colour) {
    const AxisNumbers n = AxisNumberLayout(plot, layout, maxValue);
    p.save();
    p.setFont(font);
    p.setPen(ToQColor(colour));
    if (maxValue > 0) {
        DrawTextAt(p, n.x, n.yMax, AxisNumberText(maxValue), TextAlign::RightTop);
        DrawTextAt(p, n.x, n.yHalf, AxisNumberText(n.half), TextAlign::RightTop);
    }
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

// Labels closer than half a character read as one.
int LabelGap(const QFontMetrics& fm) {
    return std::max(kMinLabelGap, fm.averageCharWidth() / 2);
}

// A label centred on its x has twice the room on its narrower side.
int LabelRoom(int centre, int left, int right) {
    return 2 * std::min(centre - left, right - centre) - 2 * kMinLabelGap;
}

} // namespace

SegmentLabelBox DrawSegmentLabel(QPainter& p, const PlotRect& plot, const SeriesLayout& layout, int segment,
                                 int centreX, const QString& label, COLORREF colour) {
    const Point at = SegmentLabelPoint(plot, layout, centreX);
    p.save();
    p.setFont(SegmentLabelFont(layout));
    p.setPen(ToQColor(colour));
    DrawTextAt(p, at.x, at.y, label, TextAlign::CentreTop);
    const QFont font = p.font();
    const Rect box = CentredTextBox(QFontMetrics(font), at, label);
    p.restore();
    return {segment, centreX, box, label, font};
}

std::vector<QString> FitSegmentLabels(const PlotRect& plot, const SeriesLayout& layout, const std::vector<int>& centres,
                                      int left, int right, const std::vector<QString>& labels) {
    assert(centres.size() == labels.size());
    const size_t n = labels.size();
    const QFontMetrics fm(SegmentLabelFont(layout));
    const int gap = LabelGap(fm);
    std::vector<int> room(n);
    for (size_t k = 0; k < n; ++k)
        room[k] = LabelRoom(centres[k], left, right);
    const auto fitsRoom = [&](size_t k, const QString& text) { return fm.horizontalAdvance(text) <= room[k]; };
    // Every label shown lies within the room and keeps apart from the last.
    const auto fit = [&](const std::vector<QString>& shown) {
        std::optional<Rect> previous;
        for (size_t k = 0; k < n; ++k) {
            if (shown[k].isEmpty())
                continue;
            const Rect box = CentredTextBox(fm, SegmentLabelPoint(plot, layout, centres[k]), shown[k]);
            if (!fitsRoom(k, shown[k]) || (previous && previous->right + gap > box.left))
                return false;
            previous = box;
        }
        return true;
    };
    if (fit(labels))
        return labels;
    // Cut short, to the distance between segments and to the room, while
    // every label keeps enough to be read and told apart from the others.
    const int pitch = n > 1 ? centres[1] - centres[0] : right - left;
    std::vector<QString> elided;
    for (size_t k = 0; k < n; ++k) {
        elided.push_back(fm.elidedText(labels[k], Qt::ElideRight, std::min(pitch - gap, room[k])));
        const QString& e = elided.back();
        if (e != labels[k] && e.size() - 1 < kMinElidedChars)
            break;
    }
    const auto distinct = [](const std::vector<QString>& texts) {
        return std::set<QString>(texts.begin(), texts.end()).size();
    };
    if (elided.size() == n && distinct(elided) == distinct(labels) && fit(elided))
        return elided;
    // Else whole labels on every stride-th segment (a week of entries
    // labelled by timestamp), from whichever segment shows the most; a label
    // without room for its whole text is left out.
    for (size_t stride = 2; stride <= std::max<size_t>(n, 2); ++stride) {
        std::vector<QString> best;
        size_t bestCount = 0;
        for (size_t offset = 0; offset < stride; ++offset) {
            std::vector<QString> thinned(n);
            size_t count = 0;
            for (size_t k = offset; k < n; k += stride) {
                if (fitsRoom(k, labels[k])) {
                    thinned[k] = labels[k];
                    ++count;
                }
            }
            if (count > bestCount && fit(thinned)) {
                best = std::move(thinned);
                bestCount = count;
            }
        }
        if (bestCount > 0)
            return best;
    }
    // No whole label fits anywhere: each cut to its own room, every other one.
    std::vector<QString> cut(n);
    for (size_t k = 0; k < n; k += 2)
        cut[k] = room[k] > 0 ? fm.elidedText(labels[k], Qt::ElideRight, room[k]) : QString();
    return cut;
}

std::vector<QString> ReadableLabels(const PlotRect& plot, const SeriesLayout& layout, const std::vector<int>& centres,
                                    int left, int right, const std::vector<QString>& labels) {
    assert(centres.size() == labels.size());
    const QFontMetrics fm(SegmentLabelFont(layout));
    const int gap = LabelGap(fm);
    std::vector<QString> shown(labels.size());
    std::optional<Rect> previous;
    for (size_t k = 0; k < labels.size(); ++k) {
        if (labels[k].isEmpty() || fm.horizontalAdvance(labels[k]) > LabelRoom(centres[k], left, right))
            continue;
        const Rect box = CentredTextBox(fm, SegmentLabelPoint(plot, layout, centres[k]), labels[k]);
        if (previous && previous->right + gap > box.left)
            continue;
        shown[k] = labels[k];
        previous = box;
    }
    return shown;
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
