#pragma once
// One thick polyline per series across the segments, over the bar graph's
// axes, axis numbers, segment labels and legend.
#include <vector>

#include "app/reports/ChartGeometry.h"
#include "app/reports/SeriesGraph.h"

class QImage;
class QPainter;

class C2DLineGraph : public CSeriesGraph {
public:
    C2DLineGraph(int x, int y, int cx, int cy);
    virtual ~C2DLineGraph() = default;

    void Draw(QImage& surface);

    // A trace needs at least one step: with fewer than two segments, or more
    // segments than progress units, the graph refuses and stays static.
    bool SetAnimation(int on, int kind);
    void StepAnimation();

    int AnimationStep() const { return m_nAnimStep; }
    int TraceSegment() const { return m_nTraceSegment; }
    int SeriesTraced() const { return m_nSeriesTraced; }
    const std::vector<charts::Point>& TracePoints() const { return m_tracePoints; }
    charts::SeriesLayout Layout() const;

private:
    void ResetTracePoints();
    void DrawSeries(QPainter& p, const charts::SeriesLayout& layout, const Series& series) const;
    void TraceSeries(QPainter& p, const charts::SeriesLayout& layout, const Series& series);

    int m_nAnimStep = 0;
    std::vector<charts::Point> m_tracePoints; // one per series present
    int m_nSeriesTraced = 0;
    int m_nTraceSegment = 0;
};
