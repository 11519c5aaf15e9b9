// Report kinds, range arithmetic and the export file, without a journal or
// a window (the statements and the export's bytes are judged over a journal
// in ReportsDialogTest).
#include <gtest/gtest.h>

#include <string>

#include "app/reports/ReportExport.h"
#include "app/reports/ReportQueries.h"
#include "tests/support/TestSupport.h"

using namespace reports;

namespace {

JournalDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return {y, mo, d, h, mi, s};
}

TEST(ReportKinds, ComboTextsNameEachKindOnce) {
    for (int k = 0; k < kReportKindCount; ++k) {
        EXPECT_EQ(KindFromComboText(KindInfo(k).comboText), k);
    }
    EXPECT_EQ(KindFromComboText("Pain vs. time"), -1);
    EXPECT_EQ(KindFromComboText(""), -1);
    int seen = 0;
    for (const char* text : ComboTextsInAddOrder())
        seen |= 1 << KindFromComboText(text);
    EXPECT_EQ(seen, 0x3f);
}

TEST(ReportRange, PainTimeGroupingAtItsBoundaries) {
    struct Case {
        std::int64_t span;
        TimeGrouping grouping;
    } cases[] = {
        {1, TimeGrouping::Plain},
        {7 * kSecondsPerDay - 3600, TimeGrouping::Plain}, // 6 days 23 hours
        {7 * kSecondsPerDay - 1, TimeGrouping::Plain},
        {7 * kSecondsPerDay, TimeGrouping::Weekly},
        {70 * kSecondsPerDay - 1, TimeGrouping::Weekly},
        {70 * kSecondsPerDay, TimeGrouping::Monthly},
        {400 * kSecondsPerDay, TimeGrouping::Monthly},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PainTimeGrouping(c.span), c.grouping) << c.span;
}

TEST(ReportRange, SpanCountsWallClockDaysAcrossDaylightSaving) {
    // Berlin moves its clocks on 29 March 2026; a week is still seven days.
    EXPECT_EQ(WallClockSpanSeconds(At(2026, 3, 22, 12), At(2026, 3, 29, 12)), 7 * kSecondsPerDay);
    EXPECT_EQ(WallClockSpanSeconds(At(2025, 12, 31, 23, 59, 59), At(2026, 1, 1)), 1);
    EXPECT_EQ(WallClockSpanSeconds(At(2024, 2, 28), At(2024, 3, 1)), 2 * kSecondsPerDay);
    EXPECT_EQ(WallClockSpanSeconds(At(2026, 3, 10), At(2026, 3, 3)), -7 * kSecondsPerDay);
}

TEST(ReportRange, CompareOrdersByEveryField) {
    EXPECT_EQ(CompareDateTimes(At(2026, 3, 1, 8), At(2026, 3, 1, 8)), 0);
    EXPECT_EQ(CompareDateTimes(At(2026, 3, 1, 8, 0, 0), At(2026, 3, 1, 8, 0, 1)), -1);
    EXPECT_EQ(CompareDateTimes(At(2027, 1, 1), At(2026, 12, 31, 23, 59, 59)), 1);
}

TEST(ReportExportFile, UnwritableFilesAreReported) {
    grvtest::TempDir dir;
    std::string error;
    EXPECT_FALSE(WriteReportFile(dir.File("missing/out.csv"), "x", error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(WriteReportFile(dir.Path(), "x", error)) << "a folder is no file";
    EXPECT_FALSE(error.empty());
    error.clear();
    // The device that is always full: opening works, writing does not.
    EXPECT_FALSE(WriteReportFile("/dev/full", std::string(100000, 'x'), error));
    EXPECT_FALSE(error.empty());
}

TEST(ReportExportFile, ReplacesAnExistingFileWhole) {
    grvtest::TempDir dir;
    const std::string path = dir.File("out.csv");
    std::string error;
    ASSERT_TRUE(WriteReportFile(path, std::string(500, 'a'), error)) << error;
    ASSERT_TRUE(WriteReportFile(path, "short\r\n", error)) << error;
    EXPECT_EQ(grvtest::ReadFile(path), "short\r\n");
}

} // namespace
