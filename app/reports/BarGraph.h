#pragma once
// Grouped vertical bars: one group per segment, one bar per series, with the
// axes, axis numbers, segment labels and a legend naming the series.
#include <QFont>

#include <functional>

#include "app/reports/ChartGeometry.h"
#include "app/reports/SeriesModel.h"

class QImage;
class QPainter;

class C2DBarGraph : public CSeriesModel {
public:
    C2DBarGraph(int x, int y, int cx, int cy);
    virtual ~C2DBarGraph() = default;

    void SetWindowSize(int cx, int cy) { m_szWindow = {cx, cy}; }
    void SetTextColor(charts::COLORREF colour) { m_crText = colour; }

    void Draw(QImage& surface) const;
    void DrawLegend(QImage& surface) const;

    // Always accepted; the return value matches the other graphs.
    bool SetAnimation(int on, int kind);
    void StepAnimation();
    int GetAnimationPercent() const { return m_nAnimPercent; }

    bool IsAnimating() const { return m_bAnimOn == 1; }
    bool IsHolding() const { return m_bHolding != 0; }
    int HoldTicks() const { return m_nHoldTicks; }
    // Segments or series already complete in the current kind.
    int CompletedParts() const;
    const charts::PlotRect& Plot() const { return m_plot; }
    charts::SeriesLayout Layout() const;

private:
    enum class Show { Hidden, Full, Grown };
    using ShowFn = std::function<Show(int segment, int series)>;
    using LabelFn = std::function<bool(int segment)>;

    void DrawGroups(QPainter& p, const charts::SeriesLayout& layout, const ShowFn& show,
                    const LabelFn& label) const;
    void DrawAnimated(QPainter& p, const QImage& surface) const;
    void StepGrowing(int& shown, int count);
    void StepFading(int& shown, int count);

    charts::COLORREF m_crLegendText = charts::Rgb(0, 0, 0);
    charts::COLORREF m_crLegendBack = charts::Rgb(255, 255, 255);
    charts::COLORREF m_crText = charts::Rgb(0, 0, 0);
    int m_nHighlightSeries = 0;
    int m_nHighlightSegment = 0;
    int m_bHolding = 0;
    int m_nHoldTicks = 0;
    int m_nSeriesShown = 0;
    int m_nSegmentsShown = 0;
    int m_nAnimKind = 0;
    int m_nAnimPercent = 0;
    int m_bAnimOn = 0;
    QFont m_axisFont;
    QFont m_legendFont;
    charts::Size m_szWindow;
    charts::PlotRect m_plot;
};
