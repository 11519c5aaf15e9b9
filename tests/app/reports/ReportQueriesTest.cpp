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

// The time axis' labels against python's calendar: across a change of
// year (whose days before the first Monday SQLite counts as week 00) and a
// leap day, each step labels the first time of each day, week (by its
// Monday), month (January by its year) and year, and nothing else.
TEST(ReportRange, TimeLabelStepsFollowTheCalendar) {
    const char* script = "import sys,datetime\n"
                         "days=[datetime.date.fromisoformat(a) for a in sys.argv[1:]]\n"
                         "keys=[lambda d:d, lambda d:d-datetime.timedelta(d.weekday()), lambda d:(d.year,d.month),"
                         " lambda d:d.year]\n"
                         "texts=[lambda d:d.strftime('%b ')+str(d.day),"
                         " lambda d:(lambda m:m.strftime('%b ')+str(m.day))(d-datetime.timedelta(d.weekday())),"
                         " lambda d:str(d.year) if d.month==1 else d.strftime('%b'), lambda d:str(d.year)]\n"
                         "for key,text in zip(keys,texts):\n"
                         "  last=None; out=[]\n"
                         "  for d in days:\n"
                         "    out.append('' if key(d)==last else text(d)); last=key(d)\n"
                         "  print('|'.join(out))\n";
    const struct {
        const char* name;
        TimeGrouping grouping;
        std::vector<JournalDateTime> times;
    } cases[] = {
        {"entries of a week across the new year",
         TimeGrouping::Plain,
         {At(2025, 12, 28, 9), At(2025, 12, 28, 21), At(2025, 12, 29, 8), At(2025, 12, 31, 23, 59, 59), At(2026, 1, 1),
          At(2026, 1, 3, 12), At(2026, 1, 4, 18), At(2026, 1, 5, 7)}},
        {"weeks around a leap day",
         TimeGrouping::Weekly,
         {At(2024, 2, 13), At(2024, 2, 22), At(2024, 2, 29, 10), At(2024, 3, 3), At(2024, 3, 4), At(2024, 3, 13)}},
        {"months over three years",
         TimeGrouping::Monthly,
         {At(2023, 11, 30), At(2023, 12, 1), At(2024, 1, 31), At(2024, 2, 1), At(2025, 1, 15), At(2025, 12, 2),
          At(2026, 1, 1)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args;
        for (const JournalDateTime& t : c.times)
            args.push_back(MakeTimestampText(t).substr(0, 10));
        const auto python = grvtest::Python(script, args);
        ASSERT_EQ(python.status, 0) << python.err;
        // Python's lines are days, weeks, months, years; the grouping keeps the coarser ones.
        std::vector<std::string> lines;
        for (size_t start = 0; start < python.out.size();) {
            const size_t end = python.out.find('\n', start);
            lines.push_back(python.out.substr(start, end - start));
            start = end + 1;
        }
        ASSERT_EQ(lines.size(), 4u);
        const size_t skip = c.grouping == TimeGrouping::Plain ? 0 : c.grouping == TimeGrouping::Weekly ? 1 : 2;
        const std::vector<std::vector<std::string>> steps = TimeLabelSteps(c.grouping, c.times);
        ASSERT_EQ(steps.size(), 4 - skip);
        for (size_t k = 0; k < steps.size(); ++k) {
            std::string joined;
            for (size_t i = 0; i < steps[k].size(); ++i)
                joined += (i ? "|" : "") + steps[k][i];
            EXPECT_EQ(joined, lines[k + skip]) << "step " << k;
        }
    }
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
    // A disk that is full: opening works, writing does not.
    {
        grvtest::FileSizeLimit full(4096);
        EXPECT_FALSE(WriteReportFile(dir.File("full.csv"), std::string(100000, 'x'), error));
    }
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
