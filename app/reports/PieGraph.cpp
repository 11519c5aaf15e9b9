#include "app/reports/PieGraph.h"

#include <QImage>
#include <QPainter>

#include <cmath>

#include "app/reports/ChartPaint.h"

using namespace charts;

namespace {

// Qt measures arcs in sixteenths of a degree.
int Sixteenths(double radians) {
    return static_cast<int>(std::lround(radians * 180.0 / 3.141592653589793 * 16.0));
}

double SliceAngle(int percent) {
    return percent / 100.0 * kTwoPi;
}

} // namespace

C2DPieGraph::C2DPieGraph(int x, int y, int cx, int cy)
    : m_legendFont(MakeChartFont(ChartFace(), Part(cy, 0.075))), m_plot{{x, y}, {cx, cy}} {
    m_ptSweep = PieStartPoint(m_plot);
}

void C2DPieGraph::Clear() {
    m_slices.clear();
    m_nSlices = 0;
    m_nTotalPercent = 0;
}

bool C2DPieGraph::AddSlice(int percent, COLORREF colour, const QString& label) {
    if (percent < 0)
        return false;
    m_slices.push_back({percent, colour, label});
    ++m_nSlices;
    m_nTotalPercent += percent;
    return true;
}

QString C2DPieGraph::LegendText(const Slice& slice) {
    return QStringLiteral("(%1%2)  %3").arg(QString::number(slice.percent), QStringLiteral("%"), slice.label);
}

void C2DPieGraph::DrawSector(QPainter& p, double from, double to, COLORREF colour) const {
    const int start = Sixteenths(from);
    const int span = Sixteenths(to) - start;
    if (span <= 0)
        return;
    p.save();
    p.setBrush(ToQColor(colour));
    p.drawPie(m_plot.origin.x, m_plot.origin.y, m_plot.size.cx - 1, m_plot.size.cy - 1, start, span);
    p.restore();
}

void C2DPieGraph::Draw(QImage& surface) {
    QPainter p(&surface);
    PrepareChartPainter(p);
    if (m_bAnimOn == 1) {
        if (m_nAnimKind == kPieSweep)
            DrawSweep(p);
        if (m_nAnimKind == kPieSliceFade)
            DrawSliceFade(p, surface);
        return;
    }
    int before = 0;
    for (const Slice& slice : m_slices) {
        // Past the full circle the slices lie over the first ones again.
        DrawSector(p, SliceAngle(before), SliceAngle(before + slice.percent), slice.colour);
        before += slice.percent;
    }
}

void C2DPieGraph::DrawSweep(QPainter& p) {
    int before = 0;
    m_nSweptPercent = 0;
    for (const Slice& slice : m_slices) {
        const double from = SliceAngle(before);
        const double to = SliceAngle(before + slice.percent);
        if (to <= m_dSweepAngle) {
            DrawSector(p, from, to, slice.colour);
            before += slice.percent;
            m_nSweptPercent = before;
            continue;
        }
        m_ptSweep = PieSweepPoint(m_plot, m_dSweepAngle);
        if (m_ptSweep != PieSweepPoint(m_plot, from))
            DrawSector(p, from, m_dSweepAngle, slice.colour);
        return;
    }
}

void C2DPieGraph::DrawSliceFade(QPainter& p, const QImage& surface) const {
    int before = 0;
    for (int i = 0; i < m_nSlices && i <= m_nSliceShown; ++i) {
        const Slice& slice = m_slices[i];
        const double from = SliceAngle(before);
        const double to = SliceAngle(before + slice.percent);
        if (i < m_nSliceShown) {
            DrawSector(p, from, to, slice.colour);
        } else {
            FadeIn(p, surface, m_plot, m_nAnimPercent, [&](QPainter& fp) { DrawSector(fp, from, to, slice.colour); });
        }
        before += slice.percent;
    }
}

void C2DPieGraph::DrawLegend(QImage& surface) const {
    std::vector<LegendRow> rows;
    for (const Slice& slice : m_slices)
        rows.push_back({LegendText(slice), slice.colour});
    QPainter p(&surface);
    PrepareChartPainter(p);
    DrawLegendBox(p, m_plot, kPieLegend, m_legendFont, rows, m_crLegendText, m_crLegendBack);
}

bool C2DPieGraph::SetAnimation(int on, int kind) {
    m_bAnimOn = on;
    m_nAnimKind = kind;
    m_nAnimPercent = 0;
    m_ptSweep = PieStartPoint(m_plot);
    if (on == 1 && kind == kPieSweep) {
        m_dSweepAngle = 0.0;
        m_nSweptPercent = 0;
    }
    if (on == 1 && kind == kPieSliceFade)
        m_nSliceShown = 0;
    return true;
}

void C2DPieGraph::StepAnimation() {
    if (m_bAnimOn != 1)
        return;
    if (m_nAnimKind == kPieSweep) {
        if (m_nSweptPercent > m_nTotalPercent || m_nAnimPercent >= 101) {
            m_nSweptPercent = 0;
            m_nAnimPercent = 0;
            m_ptSweep = PieStartPoint(m_plot);
        }
        ++m_nAnimPercent;
        m_dSweepAngle = PieSweepAngle(m_nAnimPercent, m_nTotalPercent);
    } else if (m_nAnimKind == kPieSliceFade) {
        if (m_nAnimPercent >= 100) {
            m_nAnimPercent = 0;
            if (++m_nSliceShown >= m_nSlices) {
                m_nSliceShown = 0;
                m_ptSweep = PieStartPoint(m_plot);
            }
        }
        m_nAnimPercent += 2;
    }
}
