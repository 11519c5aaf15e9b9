#pragma once
// What the bar and line graphs share beyond their data: plot rectangle,
// colours, fonts, the legend naming the series and the hold at the end of an
// animation.
#include <QFont>
#include <functional>
#include <vector>

#include "app/reports/ChartGeometry.h"
#include "app/reports/ChartPaint.h"
#include "app/reports/SeriesModel.h"

class QImage;
class QPainter;

class CSeriesGraph : public CSeriesModel {
public:
    CSeriesGraph(int x, int y, int cx, int cy);
    virtual ~CSeriesGraph() = default;

    void SetWindowSize(int cx, int cy) { m_szWindow = {cx, cy}; }
    void SetTextColor(charts::COLORREF colour) { m_crText = colour; }
    void DrawLegend(QImage& surface) const;

    int GetAnimationPercent() const { return m_nAnimPercent; }
    bool IsAnimating() const { return m_bAnimOn == 1; }
    bool IsHolding() const { return m_bHolding != 0; }
    int HoldTicks() const { return m_nHoldTicks; }
    const charts::PlotRect& Plot() const { return m_plot; }
    const QFont& LegendFont() const { return m_legendFont; }
    const QFont& AxisFont() const { return m_axisFont; }
    // The segment labels the last Draw wrote, left to right.
    const std::vector<charts::SegmentLabelBox>& LabelBoxes() const { return m_labelBoxes; }

protected:
    void StartAnimation(int on, int kind);
    // Counts one tick of holding the finished picture; true once it has been
    // held long enough and the animation starts over (hold cleared).
    bool HoldFinished();

    charts::COLORREF m_crLegendText = charts::Rgb(0, 0, 0);
    charts::COLORREF m_crLegendBack = charts::Rgb(255, 255, 255);
    charts::COLORREF m_crText = charts::Rgb(0, 0, 0);
    int m_bHolding = 0;
    int m_nHoldTicks = 0;
    int m_nAnimKind = 0;
    int m_nAnimPercent = 0;
    int m_bAnimOn = 0;
    QFont m_axisFont;
    QFont m_legendFont;
    charts::Size m_szWindow;
    charts::PlotRect m_plot;
    // Writes the segment labels that fit, each centred at its x.
    void DrawSegmentLabels(QPainter& p, const charts::SeriesLayout& layout, const std::vector<int>& centres,
                           const std::function<bool(int)>& shown) const;
    // The time axis: the finest of LabelSteps() whose every label can be
    // read, else what can be read of the coarsest, as tall as the axis numbers.
    void DrawLabelSteps(QPainter& p, const charts::SeriesLayout& layout, const std::vector<int>& centres) const;

    mutable std::vector<charts::SegmentLabelBox> m_labelBoxes;
};
