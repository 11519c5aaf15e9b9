#pragma once
// Segments (the categories along the horizontal axis) and series (named,
// coloured rows with one value per segment), shared by the bar and line graphs.
#include <QString>

#include <functional>
#include <vector>

#include "app/reports/ChartGeometry.h"

// Shows one of the data-entry messages below to the user (an OK-only box with
// the application's title). The application connects it to its prompter.
using ChartMessageSink = std::function<void(const QString& text)>;

namespace charts {

inline const QString kNoSegmentsMessage = QStringLiteral("No graph segments...");
inline const QString kSegmentOutOfBoundsMessage = QStringLiteral("Segments index is out of bounds...");
inline const QString kSeriesOutOfBoundsMessage = QStringLiteral("Series index is out of bounds...");

} // namespace charts

class CSeriesModel {
public:
    struct Series {
        int index = 0; // 1-based, never reused
        charts::COLORREF colour = 0;
        QString name;
        std::vector<double> values; // one per segment, in segment order
    };

    void SetMessageSink(ChartMessageSink sink) { m_sink = std::move(sink); }

    void AddSegment(const QString& label);
    void AddSeries(const QString& name, charts::COLORREF colour);
    void SetValue(int segment, int series, double value);
    void Clear();

    int SegmentCount() const { return m_nSegments; }
    int SeriesCount() const { return m_nSeries; }
    const std::vector<QString>& Segments() const { return m_segments; }
    const std::vector<Series>& SeriesList() const { return m_series; }
    // Labels of a time axis, in place of the segments' own: one list per
    // step (days, weeks, months, years), finest first, each with a text per
    // segment (empty: no label there). The graph shows the finest step whose
    // every label can be read.
    void SetLabelSteps(std::vector<std::vector<QString>> steps) { m_labelSteps = std::move(steps); }
    const std::vector<std::vector<QString>>& LabelSteps() const { return m_labelSteps; }

    double Value(int segment, int series) const; // 0 outside the counts
    // The largest value, but at least 0.
    double MaxValue() const;

protected:
    int m_nSeries = 0;
    int m_nSegments = 0;

private:
    void Tell(const QString& text) const;

    std::vector<QString> m_segments;
    std::vector<Series> m_series;
    std::vector<std::vector<QString>> m_labelSteps;
    ChartMessageSink m_sink;
};
