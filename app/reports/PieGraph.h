#pragma once
// A pie of slices, each a share of the whole circle in percent, with a legend
// listing every slice with its percentage and label.
#include <QFont>
#include <QString>

#include <vector>

#include "app/reports/ChartGeometry.h"

class QImage;
class QPainter;

class C2DPieGraph {
public:
    struct Slice {
        int percent = 0;
        charts::COLORREF colour = 0;
        QString label;
    };

    C2DPieGraph(int x, int y, int cx, int cy);
    virtual ~C2DPieGraph() = default;

    void SetWindowSize(int cx, int cy) { m_szWindow = {cx, cy}; }
    void Clear();
    // Appends a slice; a negative share is refused.
    bool AddSlice(int percent, charts::COLORREF colour, const QString& label);

    void Draw(QImage& surface);
    void DrawLegend(QImage& surface) const;

    bool SetAnimation(int on, int kind);
    void StepAnimation();
    int GetAnimationPercent() const { return m_nAnimPercent; }

    bool IsAnimating() const { return m_bAnimOn == 1; }
    int SliceCount() const { return m_nSlices; }
    int TotalPercent() const { return m_nTotalPercent; }
    int SlicesShown() const { return m_nSliceShown; }
    double SweepAngle() const { return m_dSweepAngle; }
    charts::Point SweepPoint() const { return m_ptSweep; }
    const charts::PlotRect& Plot() const { return m_plot; }

    // Legend row text of a slice: "(40%)  Rest".
    static QString LegendText(const Slice& slice);

private:
    void DrawSector(QPainter& p, double from, double to, charts::COLORREF colour) const;
    void DrawSweep(QPainter& p);
    void DrawSliceFade(QPainter& p, const QImage& surface) const;

    charts::COLORREF m_crLegendText = charts::Rgb(0, 0, 0);
    charts::COLORREF m_crLegendBack = charts::Rgb(255, 255, 255);
    charts::Size m_szWindow;
    int m_nSliceShown = 0;
    int m_nAnimKind = 0;
    QFont m_legendFont;
    charts::Point m_ptSweep;
    int m_nSweptPercent = 0;
    double m_dSweepAngle = 0.0;
    int m_nAnimPercent = 0;
    int m_nTotalPercent = 0;
    int m_bAnimOn = 0;
    charts::PlotRect m_plot;
    int m_nSlices = 0;
    std::vector<Slice> m_slices;
};
