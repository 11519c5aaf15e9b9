#include "app/reports/BarGraph.h"

#include <QImage>
#include <QPainter>

#include "app/reports/ChartPaint.h"

using namespace charts;

C2DBarGraph::C2DBarGraph(int x, int y, int cx, int cy) : CSeriesGraph(x, y, cx, cy) {}

SeriesLayout C2DBarGraph::Layout() const {
    const bool wideStart = m_bAnimOn == 1 && (m_nAnimKind == kBarGrowSeries || m_nAnimKind == kBarFadeSegments ||
                                              m_nAnimKind == kBarFadeSeries);
    return BarLayout(m_plot, m_nSegments, m_nSeries, wideStart);
}

void C2DBarGraph::DrawGroups(QPainter& p, const SeriesLayout& l, const ShowFn& show, const LabelFn& label) const {
    const double most = MaxValue();
    std::vector<int> centres;
    for (int k = 0; k < m_nSegments; ++k)
        centres.push_back(BarLabelCentre(l, m_nSeries, l.startX + k * GroupPitch(l, m_nSeries)));
    m_labelBoxes.clear();
    DrawSegmentLabels(p, l, centres, label);
    int x = l.startX;
    for (int k = 1; k <= m_nSegments; ++k) {
        for (const Series& series : SeriesList()) {
            const Show how = show(k, series.index);
            if (how != Show::Hidden) {
                int h = BarHeight(series.values[k - 1], most, l);
                if (how == Show::Grown)
                    h = GrownHeight(h, m_nAnimPercent);
                DrawOutlinedRect(p, {x, l.yb - h, x + l.w, l.yb}, ToQColor(series.colour));
            }
            x += series.index < m_nSeries ? l.w + l.g : l.w;
        }
        x += l.G;
    }
}

void C2DBarGraph::Draw(QImage& surface) const {
    QPainter p(&surface);
    PrepareChartPainter(p);
    DrawAxes(p, m_plot);
    m_labelBoxes.clear();
    if (m_bAnimOn == 1) {
        DrawAnimated(p, surface);
        return;
    }
    if (m_bAnimOn != 0 || m_nSegments < 1 || m_nSeries < 1)
        return;
    const SeriesLayout l = Layout();
    DrawAxisNumbers(p, m_plot, l, MaxValue(), m_axisFont, m_crText);
    DrawGroups(p, l, [](int, int) { return Show::Full; }, [](int) { return true; });
}

void C2DBarGraph::DrawAnimated(QPainter& p, const QImage& surface) const {
    switch (m_nAnimKind) {
    case kBarGrowAll:
    case kBarGrowSegments:
    case kBarGrowSeries:
    case kBarFadeSegments:
    case kBarFadeSeries: break;
    default: return;
    }
    if (m_nSegments < 1 || m_nSeries < 1)
        return;
    const SeriesLayout l = Layout();
    DrawAxisNumbers(p, m_plot, l, MaxValue(), m_axisFont, m_crText);
    // Which part is complete, which one is growing or fading in; later ones stay hidden.
    auto stage = [](int part, int done) {
        return part <= done ? Show::Full : part == done + 1 ? Show::Grown : Show::Hidden;
    };
    auto all = [](int) { return true; };
    switch (m_nAnimKind) {
    case kBarGrowAll: DrawGroups(p, l, [](int, int) { return Show::Grown; }, all); break;
    case kBarGrowSegments:
        DrawGroups(
            p, l, [&](int k, int) { return stage(k, m_nSegmentsShown); },
            [&](int k) { return k <= m_nSegmentsShown + 1; });
        break;
    case kBarGrowSeries: DrawGroups(p, l, [&](int, int j) { return stage(j, m_nSeriesShown); }, all); break;
    case kBarFadeSegments: {
        const int done = m_nHighlightSegment;
        DrawGroups(
            p, l, [&](int k, int) { return k <= done ? Show::Full : Show::Hidden; }, [&](int k) { return k <= done; });
        FadeIn(p, surface, m_plot, m_nAnimPercent, [&](QPainter& fp) {
            DrawGroups(
                fp, l, [&](int k, int) { return k == done + 1 ? Show::Full : Show::Hidden; },
                [&](int k) { return k == done + 1; });
        });
        break;
    }
    case kBarFadeSeries: {
        const int done = m_nHighlightSeries;
        DrawGroups(p, l, [&](int, int j) { return j <= done ? Show::Full : Show::Hidden; }, all);
        FadeIn(p, surface, m_plot, m_nAnimPercent, [&](QPainter& fp) {
            DrawGroups(
                fp, l, [&](int, int j) { return j == done + 1 ? Show::Full : Show::Hidden; },
                [](int) { return false; });
        });
        break;
    }
    }
}

bool C2DBarGraph::SetAnimation(int on, int kind) {
    StartAnimation(on, kind);
    if (on == 1) {
        switch (kind) {
        case kBarGrowAll:
        case kBarGrowSegments: m_nSegmentsShown = 0; break;
        case kBarGrowSeries: m_nSeriesShown = 0; break;
        case kBarFadeSegments: m_nHighlightSegment = 0; break;
        case kBarFadeSeries: m_nHighlightSeries = 0; break;
        default: break;
        }
    }
    return true;
}

int C2DBarGraph::CompletedParts() const {
    switch (m_nAnimKind) {
    case kBarGrowSegments: return m_nSegmentsShown;
    case kBarGrowSeries: return m_nSeriesShown;
    case kBarFadeSegments: return m_nHighlightSegment;
    case kBarFadeSeries: return m_nHighlightSeries;
    default: return 0;
    }
}

void C2DBarGraph::StepGrowing(int& shown, int count) {
    if (m_nAnimPercent >= 100) {
        if (!m_bHolding)
            ++shown;
        if (shown >= count) {
            m_bHolding = 1;
            ++m_nHoldTicks;
        }
        // The tick that makes the hold more than 20 ticks long also restarts.
        if (!m_bHolding) {
            m_nAnimPercent = 0;
        } else if (m_nHoldTicks >= kHoldTicks) {
            m_bHolding = 0;
            m_nHoldTicks = 0;
            shown = 0;
            m_nAnimPercent = 0;
        }
    }
    if (!m_bHolding)
        m_nAnimPercent += 2;
}

void C2DBarGraph::StepFading(int& shown, int count) {
    if (m_nAnimPercent >= 100) {
        if (++shown >= count)
            shown = 0;
        m_nAnimPercent = 0;
    }
    m_nAnimPercent += 2;
}

void C2DBarGraph::StepAnimation() {
    if (m_bAnimOn != 1)
        return;
    switch (m_nAnimKind) {
    case kBarGrowAll:
        if (m_nAnimPercent >= 100 && HoldFinished())
            m_nAnimPercent = 0;
        if (!m_bHolding)
            ++m_nAnimPercent;
        break;
    case kBarGrowSegments: StepGrowing(m_nSegmentsShown, m_nSegments); break;
    case kBarGrowSeries: StepGrowing(m_nSeriesShown, m_nSeries); break;
    case kBarFadeSegments: StepFading(m_nHighlightSegment, m_nSegments); break;
    case kBarFadeSeries: StepFading(m_nHighlightSeries, m_nSeries); break;
    default: break;
    }
}
