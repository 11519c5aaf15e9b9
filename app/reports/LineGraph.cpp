#include "app/reports/LineGraph.h"

#include <QImage>
#include <QPainter>

#include <algorithm>

#include "app/reports/ChartPaint.h"

using namespace charts;

namespace {

constexpr int kLinePenWidth = 3;
// A series of one point has no line to show it: a dot, wider than a line.
constexpr int kPointRadius = kLinePenWidth + 1;

void DrawPiece(QPainter& p, Point from, Point to, COLORREF colour) {
    p.save();
    p.setPen(QPen(ToQColor(colour), kLinePenWidth));
    DrawLine(p, from, to);
    p.restore();
}

void DrawDot(QPainter& p, Point at, COLORREF colour) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(ToQColor(colour));
    p.drawEllipse(QPoint(at.x, at.y), kPointRadius, kPointRadius);
    p.restore();
}

} // namespace

C2DLineGraph::C2DLineGraph(int x, int y, int cx, int cy) : CSeriesGraph(x, y, cx, cy) {}

SeriesLayout C2DLineGraph::Layout() const {
    return LineLayout(m_plot, m_nSegments, m_nSeries);
}

void C2DLineGraph::DrawSeries(QPainter& p, const SeriesLayout& l, const Series& series) const {
    const double most = MaxValue();
    if (m_nSegments == 1)
        DrawDot(p, LinePoint(l, 1, series.values[0], most), series.colour);
    for (int k = 1; k < m_nSegments; ++k) {
        DrawPiece(p, LinePoint(l, k, series.values[k - 1], most), LinePoint(l, k + 1, series.values[k], most),
                  series.colour);
    }
}

void C2DLineGraph::TraceSeries(QPainter& p, const SeriesLayout& l, const Series& series) {
    const double most = MaxValue();
    const int reached = std::clamp(m_nTraceSegment, 0, m_nSegments - 1) + 1;
    for (int k = 1; k < reached; ++k) {
        DrawPiece(p, LinePoint(l, k, series.values[k - 1], most), LinePoint(l, k + 1, series.values[k], most),
                  series.colour);
    }
    Point& trace = m_tracePoints[series.index - 1];
    trace = LinePoint(l, reached, series.values[reached - 1], most);
    if (reached >= m_nSegments)
        return;
    const double fraction =
        std::clamp((m_nAnimPercent - m_nTraceSegment * m_nAnimStep) / static_cast<double>(m_nAnimStep), 0.0, 1.0);
    const Point to = LinePoint(l, reached + 1, series.values[reached], most);
    const Point end = TracePartialPoint(trace, to, fraction);
    DrawPiece(p, trace, end, series.colour);
}

void C2DLineGraph::Draw(QImage& surface) {
    QPainter p(&surface);
    PrepareChartPainter(p);
    DrawAxes(p, m_plot);
    m_labelBoxes.clear();
    if (m_bAnimOn != 0 && m_bAnimOn != 1)
        return;
    const bool tracing = m_bAnimOn == 1;
    if (tracing && m_nAnimKind != kLineTraceAll && m_nAnimKind != kLineTraceSeries)
        return;
    if (m_nSegments < 1 || m_nSeries < 1)
        return;
    const SeriesLayout l = Layout();
    DrawAxisNumbers(p, m_plot, l, MaxValue(), m_axisFont, m_crText);
    // Each label under its own point.
    std::vector<int> centres;
    for (int k = 1; k <= m_nSegments; ++k)
        centres.push_back(LinePointX(l, k));
    // Each step's texts hold one per segment.
    const auto& steps = LabelSteps();
    const bool timeAxis = !steps.empty() && std::all_of(steps.begin(), steps.end(), [&](const auto& step) {
        return step.size() == static_cast<size_t>(m_nSegments);
    });
    if (timeAxis) {
        DrawLabelSteps(p, l, centres);
    } else {
        DrawSegmentLabels(p, l, centres, [](int) { return true; });
    }
    // One point is not traced: there is no line to it.
    if (!tracing || m_nSegments == 1) {
        for (const Series& series : SeriesList())
            DrawSeries(p, l, series);
        return;
    }
    // Series may have come or gone since the animation started.
    if (m_tracePoints.size() != SeriesList().size())
        ResetTracePoints();
    for (const Series& series : SeriesList()) {
        if (m_nAnimKind == kLineTraceAll || series.index == m_nSeriesTraced + 1) {
            TraceSeries(p, l, series);
        } else if (series.index <= m_nSeriesTraced) {
            DrawSeries(p, l, series);
        }
    }
}

void C2DLineGraph::ResetTracePoints() {
    m_tracePoints.assign(SeriesList().size(), Point{});
    if (m_nSegments < 1 || m_nSeries < 1)
        return;
    const SeriesLayout l = Layout();
    const double most = MaxValue();
    for (const Series& series : SeriesList()) {
        m_tracePoints[series.index - 1] = LinePoint(l, 1, series.values[0], most);
    }
}

bool C2DLineGraph::SetAnimation(int on, int kind) {
    StartAnimation(on, kind);
    if (on != 1 || (kind != kLineTraceAll && kind != kLineTraceSeries))
        return true;
    const int step = m_nSegments > 0 ? 100 / m_nSegments : 0;
    if (m_nSegments < 2 || step == 0) {
        m_bAnimOn = 0;
        m_nAnimStep = 0;
        return false;
    }
    m_nTraceSegment = 0;
    if (kind == kLineTraceSeries)
        m_nSeriesTraced = 0;
    m_nAnimStep = step;
    ResetTracePoints();
    return true;
}

void C2DLineGraph::StepAnimation() {
    if (m_bAnimOn != 1 || m_nAnimStep <= 0)
        return;
    if (m_nAnimKind != kLineTraceAll && m_nAnimKind != kLineTraceSeries)
        return;
    const int e = m_nAnimStep;
    const int lastSegment = std::max(m_nSegments - 1, 0);
    if (m_nAnimPercent >= (m_nTraceSegment + 1) * e && m_nTraceSegment < lastSegment) {
        ++m_nTraceSegment;
    }
    if (m_nAnimPercent >= lastSegment * e) {
        bool restart = false;
        if (m_nAnimKind == kLineTraceAll) {
            restart = HoldFinished();
        } else {
            if (!m_bHolding) {
                m_nTraceSegment = 0;
                ++m_nSeriesTraced;
            }
            if (m_nSeriesTraced >= m_nSeries) {
                restart = HoldFinished();
            } else {
                m_nAnimPercent = 0;
            }
        }
        if (restart) {
            m_nAnimPercent = 0;
            m_nTraceSegment = 0;
            m_nSeriesTraced = 0;
            ResetTracePoints();
        }
    }
    if (!m_bHolding)
        m_nAnimPercent += m_nAnimKind == kLineTraceAll ? 1 : 2;
}
