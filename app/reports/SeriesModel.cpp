#include "app/reports/SeriesModel.h"

#include <QtGlobal>

#include <algorithm>

void CSeriesModel::Tell(const QString& text) const {
    if (m_sink) {
        m_sink(text);
    } else {
        qWarning("%s", qUtf8Printable(text));
    }
}

void CSeriesModel::AddSegment(const QString& label) {
    ++m_nSegments;
    m_segments.push_back(label);
    for (Series& series : m_series)
        series.values.push_back(0.0);
}

void CSeriesModel::AddSeries(const QString& name, charts::COLORREF colour) {
    if (m_nSegments <= 0) {
        Tell(charts::kNoSegmentsMessage);
        return;
    }
    ++m_nSeries;
    m_series.push_back(Series{m_nSeries, colour, name, std::vector<double>(m_nSegments, 0.0)});
}

void CSeriesModel::SetValue(int segment, int series, double value) {
    if (segment < 1 || segment > m_nSegments) {
        Tell(charts::kSegmentOutOfBoundsMessage);
        return;
    }
    if (series < 1 || series > m_nSeries) {
        Tell(charts::kSeriesOutOfBoundsMessage);
        return;
    }
    m_series[series - 1].values[segment - 1] = value;
}

void CSeriesModel::Clear() {
    m_segments.clear();
    m_series.clear();
    m_labelSteps.clear();
    m_nSegments = 0;
    m_nSeries = 0;
}

double CSeriesModel::Value(int segment, int series) const {
    if (segment < 1 || segment > m_nSegments || series < 1 || series > m_nSeries)
        return 0;
    return m_series[series - 1].values[segment - 1];
}

double CSeriesModel::MaxValue() const {
    double most = 0;
    for (const Series& series : m_series) {
        for (double v : series.values)
            most = std::max(most, v);
    }
    return most;
}
