#include "app/reports/SeriesGraph.h"

#include <QImage>
#include <QPainter>

#include <vector>

#include "app/reports/ChartPaint.h"

using namespace charts;

CSeriesGraph::CSeriesGraph(int x, int y, int cx, int cy, const QString& legendFamily)
    : m_axisFont(MakeChartFont(QStringLiteral("Arial"), Part(cy, 0.1))),
      m_legendFont(MakeChartFont(legendFamily, Part(cy, 0.075))), m_plot{{x, y}, {cx, cy}} {}

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
