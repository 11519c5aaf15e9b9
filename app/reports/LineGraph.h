#pragma once
// One thick polyline per series across the segments, over the bar graph's
// axes, axis numbers, segment labels and legend.
#include <QFont>

#include <vector>

#include "app/reports/ChartGeometry.h"
#include "app/reports/SeriesModel.h"

class QImage;
class QPainter;

class C2DLineGraph : public CSeriesModel {
public:
    C2DLineGraph(int x, int y, int cx, int cy);
    virtual ~C2DLineGraph() = default;

    void SetWindowSize(int cx, int cy) { m_szWindow = {cx, cy}; }
    void SetTextColor(charts::COLORREF colour) { m_crText = colour; }

    void Draw(QImage& surface);
    void DrawLegend(QImage& surface) const;

    // A trace needs at least one step: with fewer than two segments, or more
    // segments than progress units, the graph refuses and stays static.
    bool SetAnimation(int on, int kind);
    void StepAnimation();
    int GetAnimationPercent() const { return m_nAnimPercent; }

    bool IsAnimating() const { return m_bAnimOn == 1; }
    bool IsHolding() const { return m_bHolding != 0; }
    int HoldTicks() const { return m_nHoldTicks; }
    int AnimationStep() const { return m_nAnimStep; }
    int TraceSegment() const { return m_nTraceSegment; }
    int SeriesTraced() const { return m_nSeriesTraced; }
    const std::vector<charts::Point>& TracePoints() const { return m_tracePoints; }
    const charts::PlotRect& Plot() const { return m_plot; }
    charts::SeriesLayout Layout() const;

private:
    void ResetTracePoints();
    void DrawSeries(QPainter& p, const charts::SeriesLayout& layout, const Series& series) const;
    void TraceSeries(QPainter& p, const charts::SeriesLayout& layout, const Series& series);
    void Hold(bool* restart);

    charts::COLORREF m_crLegendText = charts::Rgb(0, 0, 0);
    charts::COLORREF m_crLegendBack = charts::Rgb(255, 255, 255);
    charts::COLORREF m_crText = charts::Rgb(0, 0, 0);
    int m_nAnimStep = 0;
    std::vector<charts::Point> m_tracePoints;  // one per series present
    int m_bHolding = 0;
    int m_nHoldTicks = 0;
    int m_nSeriesTraced = 0;
    int m_nTraceSegment = 0;
    int m_nAnimKind = 0;
    int m_nAnimPercent = 0;
    int m_bAnimOn = 0;
    QFont m_axisFont;
    QFont m_legendFont;
    charts::Size m_szWindow;
    charts::PlotRect m_plot;
};
