#include "app/reports/SeriesGraph.h"

#include <QImage>
#include <QPainter>

#include <vector>

#include "app/reports/ChartPaint.h"

using namespace charts;

CSeriesGraph::CSeriesGraph(int x, int y, int cx, int cy)
    : m_axisFont(MakeChartFont(QStringLiteral("Arial"), AxisFontHeight({{x, y}, {cx, cy}}))),
      m_legendFont(MakeChartFont(ChartFace(), LegendFontHeight({{x, y}, {cx, cy}}))), m_plot{{x, y}, {cx, cy}} {}

void CSeriesGraph::DrawSegmentLabels(QPainter& p, const SeriesLayout& layout, const std::vector<int>& centres,
                                     const std::function<bool(int)>& shown) const {
    // Under the horizontal axis, from the vertical one to the axis' end.
    const AxesGeometry axes = Axes(m_plot);
    const std::vector<QString> texts =
        FitSegmentLabels(m_plot, layout, centres, axes.origin.x, axes.horizontalEnd.x, Segments());
    for (size_t i = 0; i < texts.size(); ++i) {
        const int segment = static_cast<int>(i) + 1;
        if (!texts[i].isEmpty() && shown(segment))
            m_labelBoxes.push_back(DrawSegmentLabel(p, m_plot, layout, segment, centres[i], texts[i], m_crText));
    }
}

void CSeriesGraph::DrawLabelSteps(QPainter& p, const SeriesLayout& layout, const std::vector<int>& centres) const {
    SeriesLayout readable = layout;
    readable.F = AxisFontHeight(m_plot);
    const AxesGeometry axes = Axes(m_plot);
    std::vector<QString> texts;
    for (const std::vector<QString>& step : LabelSteps()) {
        texts = ReadableLabels(m_plot, readable, centres, axes.origin.x, axes.horizontalEnd.x, step);
        if (texts == step)
            break;
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].isEmpty()) {
            m_labelBoxes.push_back(
                DrawSegmentLabel(p, m_plot, readable, static_cast<int>(i) + 1, centres[i], texts[i], m_crText));
        }
    }
}

void CSeriesGraph::DrawLegend(QImage& surface) const {
    std::vector<LegendRow> rows;
    for (const Series& series : SeriesList())
        rows.push_back({series.name, series.colour});
    QPainter p(&surface);
    PrepareChartPainter(p);
    DrawLegendBox(p, m_plot, kSeriesLegend, m_legendFont, rows, m_crLegendText, m_crLegendBack);
}

void CSeriesGraph::StartAnimation(int on, int kind) {
    m_bAnimOn = on;
    m_nAnimKind = kind;
    m_nAnimPercent = 0;
    m_nHoldTicks = 0;
    m_bHolding = 0;
}

bool CSeriesGraph::HoldFinished() {
    if (m_nHoldTicks < kHoldTicks) {
        m_bHolding = 1;
        ++m_nHoldTicks;
        return false;
    }
    m_nHoldTicks = 0;
    m_bHolding = 0;
    return true;
}
