// The series model shared by the bar and line graphs (its messages reach
// the user through the chart window: GraphObjectTest).
#include <gtest/gtest.h>

#include <QStringList>

#include "app/reports/SeriesModel.h"

namespace {

struct Recorder {
    QStringList messages;
    ChartMessageSink Sink() {
        return [this](const QString& text) { messages << text; };
    }
};

TEST(SeriesModel, SegmentAddedLaterGivesEverySeriesItsOwnZero) {
    Recorder r;
    CSeriesModel m;
    m.SetMessageSink(r.Sink());
    m.AddSegment("Mon");
    m.AddSeries("Worst", 1);
    m.AddSeries("Least", 2);
    m.AddSegment("Tue");
    ASSERT_EQ(m.SegmentCount(), 2);
    ASSERT_EQ(m.SeriesCount(), 2);
    m.SetValue(2, 1, 7);
    EXPECT_EQ(m.Value(2, 1), 7);
    EXPECT_EQ(m.Value(2, 2), 0);
    EXPECT_EQ(m.Value(1, 1), 0);
    for (const auto& s : m.SeriesList())
        EXPECT_EQ(s.values.size(), 2u);
    EXPECT_EQ(m.SeriesList()[1].index, 2);
    EXPECT_EQ(m.SeriesList()[1].name, "Least");
    EXPECT_EQ(m.Segments(), (std::vector<QString>{"Mon", "Tue"}));
    EXPECT_TRUE(r.messages.isEmpty());
}

TEST(SeriesModel, OutOfBoundsValuesTellWhichIndexAndChangeNothing) {
    struct Case {
        int segment;
        int series;
        const char* message;
    } cases[] = {
        {0, 1, "Segments index is out of bounds..."}, {2, 1, "Segments index is out of bounds..."},
        {1, 0, "Series index is out of bounds..."},   {1, 2, "Series index is out of bounds..."},
        {0, 0, "Segments index is out of bounds..."}, // the segment is tested first
    };
    for (const Case& c : cases) {
        Recorder r;
        CSeriesModel m;
        m.SetMessageSink(r.Sink());
        m.AddSegment("only");
        m.AddSeries("one", 3);
        m.SetValue(c.segment, c.series, 5);
        EXPECT_EQ(r.messages, QStringList{c.message}) << c.segment << "," << c.series;
        EXPECT_EQ(m.Value(1, 1), 0);
    }
}

TEST(SeriesModel, MaximumIsNeverBelowZero) {
    CSeriesModel m;
    EXPECT_EQ(m.MaxValue(), 0);
    m.AddSegment("a");
    m.AddSegment("b");
    m.AddSeries("s", 0);
    m.SetValue(1, 1, -3);
    EXPECT_EQ(m.MaxValue(), 0);
    m.SetValue(2, 1, 9);
    EXPECT_EQ(m.MaxValue(), 9);
}

TEST(SeriesModel, ClearEmptiesAndIndicesStartAgain) {
    CSeriesModel m;
    m.AddSegment("a");
    m.AddSeries("s", 0);
    m.Clear();
    EXPECT_EQ(m.SegmentCount(), 0);
    EXPECT_EQ(m.SeriesCount(), 0);
    EXPECT_TRUE(m.SeriesList().empty());
    m.AddSegment("b");
    m.AddSeries("t", 0);
    EXPECT_EQ(m.SeriesList().front().index, 1);
}

} // namespace
