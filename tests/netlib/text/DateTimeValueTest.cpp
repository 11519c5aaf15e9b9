#include "netlib/text/DateTimeValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "TextTestSupport.h"
#include "platform/WinTime.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

struct OleVector {
    int year, month, day, hour, minute, second;
    double ole;
    long long fileTime; // -1 before 1601
    int weekday, yearDay;
};

std::vector<OleVector> oleVectors() {
    std::vector<OleVector> v;
    for (const std::string& line : texttest::readDataLines("ole-vectors.tsv")) {
        std::istringstream in(line);
        OleVector o{};
        in >> o.year >> o.month >> o.day >> o.hour >> o.minute >> o.second >> o.ole >> o.fileTime >> o.weekday >>
            o.yearDay;
        if (in)
            v.push_back(o);
    }
    return v;
}

// "Y-M-D h:m:s weekday yearday", for whole-row comparisons.
std::string row(int y, int mo, int d, int h, int mi, int s, int weekday, int yearDay) {
    std::ostringstream out;
    out << y << "-" << mo << "-" << d << " " << h << ":" << mi << ":" << s << " " << weekday << " " << yearDay;
    return out.str();
}

SysTimeValue record(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    SysTimeValue v;
    v.year = static_cast<std::uint16_t>(year);
    v.month = static_cast<std::uint16_t>(month);
    v.day = static_cast<std::uint16_t>(day);
    v.hour = static_cast<std::uint16_t>(hour);
    v.minute = static_cast<std::uint16_t>(minute);
    v.second = static_cast<std::uint16_t>(second);
    return v;
}

} // namespace

TEST(OleDate, FieldsAndOleDatesAgreeWithPythonDatetime) {
    const auto vectors = oleVectors();
    ASSERT_GT(vectors.size(), 300u);
    for (const OleVector& o : vectors) {
        SCOPED_TRACE(::testing::Message() << o.year << "-" << o.month << "-" << o.day << " " << o.hour << ":"
                                          << o.minute << ":" << o.second);
        double ole = 0;
        ASSERT_TRUE(tessik::oleDateFromFields(o.year, o.month, o.day, o.hour, o.minute, o.second, ole));
        EXPECT_DOUBLE_EQ(ole, o.ole);

        // Within half a second either way the fields come back the same.
        for (double nudge : {0.0, 0.4 / 86400, -0.4 / 86400}) {
            OleDateFields f;
            const double probe = o.ole + (o.ole < 0 ? -nudge : nudge);
            if (probe > tessik::kMaxOleDate || probe < tessik::kMinOleDate)
                continue;
            ASSERT_TRUE(tessik::fieldsFromOleDate(probe, f));
            EXPECT_EQ(row(f.year, f.month, f.day, f.hour, f.minute, f.second, f.dayOfWeek - 1, f.dayOfYear),
                      row(o.year, o.month, o.day, o.hour, o.minute, o.second, o.weekday, o.yearDay));
        }
    }
}

TEST(OleDate, FileTimesAgreeWithPythonDatetime) {
    for (const OleVector& o : oleVectors()) {
        SCOPED_TRACE(::testing::Message() << o.year << "-" << o.month << "-" << o.day);
        FileTimeValue ft;
        ft.setFromFileTime(7, 7);
        const bool ok = record(o.year, o.month, o.day, o.hour, o.minute, o.second).toFileTime(ft);
        if (o.fileTime < 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(ft.ticks(), 0u);
        } else {
            EXPECT_TRUE(ok);
            EXPECT_EQ(ft.ticks(), static_cast<std::uint64_t>(o.fileTime));
        }
    }
}

TEST(OleDate, FileTimesComeBackAsTheSameFields) {
    for (const OleVector& o : oleVectors()) {
        if (o.fileTime < 0)
            continue;
        const platform::FILETIME ft{static_cast<DWORD>(o.fileTime), static_cast<DWORD>(o.fileTime >> 32)};
        platform::SYSTEMTIME st{};
        ASSERT_TRUE(platform::FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(row(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek, st.wMilliseconds),
                  row(o.year, o.month, o.day, o.hour, o.minute, o.second, o.weekday, 0));
    }
}

TEST(OleDate, InvalidFieldsGiveTwoPointZero) {
    struct Case {
        int year, month, day;
    };
    for (const Case& c : {Case{1900, 2, 29}, Case{2013, 2, 29}, Case{2012, 0, 1}, Case{2012, 13, 1}, Case{2012, 4, 31},
                          Case{2012, 1, 0}, Case{10000, 1, 1}, Case{0, 0, 0}}) {
        double ole = -5;
        EXPECT_FALSE(tessik::oleDateFromFields(c.year, c.month, c.day, 0, 0, 0, ole));
        EXPECT_EQ(ole, 2.0);
        EXPECT_EQ(record(c.year, c.month, c.day).toOleDate(), 2.0);
    }
    EXPECT_EQ(tessik::daysInMonth(2000, 13), 0);
}

TEST(OleDate, OutOfRangeClockFieldsCountAsZero) {
    EXPECT_EQ(record(2000, 2, 29, 24).toOleDate(), record(2000, 2, 29, 0).toOleDate());
    EXPECT_EQ(record(2000, 2, 29, 5, 60, 61).toOleDate(), record(2000, 2, 29, 5).toOleDate());
}

TEST(OleDate, RoundsToTheNearestSecond) {
    SysTimeValue v;
    v.setFromOleDate(36585.99999999);
    EXPECT_EQ(texttest::describe(v), "2000-03-01 00:00:00 3");
    v.setFromOleDate(-1.25);
    EXPECT_EQ(texttest::describe(v), "1899-12-29 06:00:00 5");
    // -0.25 and 0.25 both name 06:00 of day 0.
    v.setFromOleDate(-0.25);
    EXPECT_EQ(texttest::describe(v), "1899-12-30 06:00:00 6");
}

TEST(OleDate, RangeEndsAndOutside) {
    OleDateFields f;
    ASSERT_TRUE(tessik::fieldsFromOleDate(2958465.0, f));
    EXPECT_EQ(f.year * 10000 + f.month * 100 + f.day, 99991231);
    ASSERT_TRUE(tessik::fieldsFromOleDate(-657434.0, f));
    EXPECT_EQ(f.year * 10000 + f.month * 100 + f.day, 1000101);
    EXPECT_FALSE(tessik::fieldsFromOleDate(2958466.0, f));
    EXPECT_FALSE(tessik::fieldsFromOleDate(-657435.0, f));
    EXPECT_FALSE(tessik::fieldsFromOleDate(std::numeric_limits<double>::quiet_NaN(), f));
    EXPECT_FALSE(tessik::fieldsFromOleDate(std::numeric_limits<double>::infinity(), f));
}

TEST(OleDate, OutOfRangeTakesTheCurrentUtcTime) {
    texttest::ScopedClock clock(2012, 7, 4, 15, 30, 45);
    SysTimeValue v;
    v.isLocal = 1;
    v.setFromOleDate(2958466.0);
    EXPECT_EQ(texttest::describe(v), "2012-07-04 15:30:45 3");
    EXPECT_EQ(v.isLocal, 0);
}

TEST(OleDate, SetFromOleDateKeepsIsLocalAndClearsMilliseconds) {
    SysTimeValue v = record(2000, 1, 1);
    v.isLocal = 1;
    v.milliseconds = 500;
    v.setFromOleDate(36585.5);
    EXPECT_EQ(v.isLocal, 1);
    EXPECT_EQ(v.milliseconds, 0);
    EXPECT_EQ(v.dayOfWeek, 2); // 2000-02-29, a Tuesday
}

TEST(SysTime, AddDays) {
    SysTimeValue v = record(2012, 2, 28, 13, 14, 15);
    v.milliseconds = 999;
    v.addDays(1);
    EXPECT_EQ(texttest::describe(v), "2012-02-29 13:14:15 3");
    EXPECT_EQ(v.milliseconds, 0);
    v.addDays(-60);
    EXPECT_EQ(texttest::describe(v), "2011-12-31 13:14:15 6");

    // An invalid record counts from 1900-01-01.
    SysTimeValue bad = record(2013, 2, 29);
    bad.addDays(3);
    EXPECT_EQ(texttest::describe(bad), "1900-01-04 00:00:00 4");
}

// Python's datetime + timedelta judges every move, most of them across
// 1899-12-30, where the OLE fraction changes direction.
TEST(SysTime, AddDaysAcrossDayZeroKeepsTheTimeOfDay) {
    const int starts[][6] = {
        {1899, 12, 30, 0, 30, 0}, {1899, 12, 30, 23, 59, 59}, {1899, 12, 29, 6, 0, 0}, {1899, 12, 31, 12, 0, 1},
        {1899, 12, 28, 0, 0, 0},  {1900, 1, 1, 18, 45, 0},    {1899, 11, 30, 1, 2, 3}, {1800, 3, 1, 0, 10, 0},
    };
    const int moves[] = {-400, -3, -2, -1, 1, 2, 3, 400};
    std::string input, got;
    for (const auto& s : starts) {
        for (int n : moves) {
            input += std::to_string(s[0]) + " " + std::to_string(s[1]) + " " + std::to_string(s[2]) + " " +
                     std::to_string(s[3]) + " " + std::to_string(s[4]) + " " + std::to_string(s[5]) + " " +
                     std::to_string(n) + "\n";
            SysTimeValue v = record(s[0], s[1], s[2], s[3], s[4], s[5]);
            v.addDays(n);
            got += texttest::describe(v) + "\n";
        }
    }
    const auto want =
        grvtest::Python("import sys,datetime as d\n"
                        "for l in sys.stdin:\n"
                        "  y,m,D,h,M,s,n=map(int,l.split()); t=d.datetime(y,m,D,h,M,s)+d.timedelta(days=n)\n"
                        "  print(t.strftime('%Y-%m-%d %H:%M:%S'), t.isoweekday()%7)",
                        {}, input);
    ASSERT_EQ(want.status, 0) << want.err;
    EXPECT_EQ(got, want.out);
}

TEST(SysTime, IsInRangeIncludesBothEndsAtTwoOClock) {
    EXPECT_TRUE(record(2012, 3, 11, 2).isInRange(3, 11, 2012, 11, 3, 2012));
    EXPECT_FALSE(record(2012, 3, 11, 1, 59, 59).isInRange(3, 11, 2012, 11, 3, 2012));
    EXPECT_TRUE(record(2012, 11, 3, 2).isInRange(3, 11, 2012, 11, 3, 2012));
    EXPECT_FALSE(record(2012, 11, 3, 2, 0, 1).isInRange(3, 11, 2012, 11, 3, 2012));
}

TEST(SysTime, CurrentTimesFollowTheClockAndZone) {
    texttest::ScopedTimeZone zone("Asia/Kolkata");
    texttest::ScopedClock clock(2012, 12, 31, 20, 0, 5);
    SysTimeValue utc, local;
    utc.isLocal = 1;
    utc.setCurrentUtc();
    local.setCurrentLocal();
    EXPECT_EQ(utc.isLocal, 0);
    EXPECT_EQ(texttest::describe(utc), "2012-12-31 20:00:05 1");
    EXPECT_EQ(local.isLocal, 1);
    EXPECT_EQ(texttest::describe(local), "2013-01-01 01:30:05 2");
}

TEST(FileTime, LocalFileTimeUsesTheOffsetOfThatInstant) {
    texttest::ScopedTimeZone zone("America/Los_Angeles");
    texttest::ScopedClock clock(2012, 7, 15, 12, 0, 0); // summer now
    FileTimeValue winter, summer, local;
    ASSERT_TRUE(record(2012, 1, 15, 12).toFileTime(winter));
    ASSERT_TRUE(record(2012, 7, 15, 12).toFileTime(summer));
    constexpr std::uint64_t kHour = 36000000000ULL;
    ASSERT_TRUE(winter.toLocalFileTime(local));
    EXPECT_EQ(winter.ticks() - local.ticks(), 8 * kHour);
    ASSERT_TRUE(summer.toLocalFileTime(local));
    EXPECT_EQ(summer.ticks() - local.ticks(), 7 * kHour);
}

TEST(FileTime, ClearAndWords) {
    FileTimeValue ft;
    ft.setFromFileTime(0x89ABCDEFu, 0x01234567u);
    EXPECT_EQ(ft.ticks(), 0x0123456789ABCDEFULL);
    SysTimeValue zero;
    EXPECT_FALSE(zero.toFileTime(ft));
    EXPECT_EQ(ft.ticks(), 0u);

    // Milliseconds count; isLocal does not.
    SysTimeValue v = record(1601, 1, 1);
    v.milliseconds = 250;
    v.isLocal = 1;
    ASSERT_TRUE(v.toFileTime(ft));
    EXPECT_EQ(ft.ticks(), 2500000u);
    v.milliseconds = 1000;
    EXPECT_FALSE(v.toFileTime(ft));
}

TEST(DaylightSavingShift, ComparesTheClockWithTheGivenDate) {
    {
        texttest::ScopedTimeZone zone("America/New_York");
        texttest::ScopedClock clock(2012, 7, 15, 12, 0, 0);
        EXPECT_EQ(tessik::daylightSavingShift(2012, 1, 15, 10), -1);
        EXPECT_EQ(tessik::daylightSavingShift(2012, 7, 4, 10), 0);
        EXPECT_EQ(tessik::daylightSavingShift(2005, 7, 4, 10), -1);
        EXPECT_EQ(tessik::daylightSavingShift(2016, 7, 4, 10), -1);
        EXPECT_EQ(tessik::daylightSavingShift(2006, 4, 2, 2), 0);
        EXPECT_EQ(tessik::daylightSavingShift(2006, 4, 2, 1), -1);
    }
    {
        texttest::ScopedTimeZone zone("America/New_York");
        texttest::ScopedClock clock(2012, 1, 15, 12, 0, 0);
        EXPECT_EQ(tessik::daylightSavingShift(2012, 7, 4, 10), 1);
        EXPECT_EQ(tessik::daylightSavingShift(2010, 11, 6, 2), 1);
        EXPECT_EQ(tessik::daylightSavingShift(2010, 11, 7, 2), 0);
        EXPECT_EQ(tessik::daylightSavingShift(2012, 1, 4, 10), 0);
    }
    {
        // Outside the table's years nothing is daylight time.
        texttest::ScopedClock clock(2026, 7, 15, 12, 0, 0);
        EXPECT_EQ(tessik::daylightSavingShift(2026, 1, 4, 10), 0);
        EXPECT_EQ(tessik::daylightSavingShift(2012, 7, 4, 10), 1);
    }
}
