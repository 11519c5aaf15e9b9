#pragma once
// Grouped vertical bars: one group per segment, one bar per series, with the
// axes, axis numbers, segment labels and a legend naming the series.
#include <functional>

#include "app/reports/ChartGeometry.h"
#include "app/reports/SeriesGraph.h"

class QImage;
class QPainter;

class C2DBarGraph : public CSeriesGraph {
public:
    C2DBarGraph(int x, int y, int cx, int cy);
    virtual ~C2DBarGraph() = default;

    void Draw(QImage& surface) const;

    // Always accepted; the return value matches the other graphs.
    bool SetAnimation(int on, int kind);
    void StepAnimation();

    // Segments or series already complete in the current kind.
    int CompletedParts() const;
    charts::SeriesLayout Layout() const;

private:
    enum class Show { Hidden, Full, Grown };
    using ShowFn = std::function<Show(int segment, int series)>;
    using LabelFn = std::function<bool(int segment)>;

    void DrawGroups(QPainter& p, const charts::SeriesLayout& layout, const ShowFn& show, const LabelFn& label) const;
    void DrawAnimated(QPainter& p, const QImage& surface) const;
    void StepGrowing(int& shown, int count);
    void StepFading(int& shown, int count);

    int m_nHighlightSeries = 0;
    int m_nHighlightSegment = 0;
    int m_nSeriesShown = 0;
    int m_nSegmentsShown = 0;
};
