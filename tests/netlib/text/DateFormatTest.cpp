#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "TextTestSupport.h"
#include "netlib/text/DateParser.h"

using namespace tessik;

namespace {

std::string ours(const char* format, const std::tm& t, std::size_t room = 256) {
    std::string buf(room, '\x7f');
    char* end = tessik::formatDateTime(format, t, buf.data(), buf.data() + room);
    return std::string(buf.data(), end);
}

std::string glibc(const char* format, const std::tm& t) {
    char buf[256];
    const std::size_t n = std::strftime(buf, sizeof buf, format, &t);
    return std::string(buf, n);
}

// Times from 1000 to 9999 in several zones, broken down by the C library.
std::vector<std::tm> sampleTimes(const char* zone) {
    texttest::ScopedTimeZone tz(zone);
    std::mt19937_64 rng(0x5eed);
    // 1000-01-01 to 9999-12-31 in Unix seconds.
    std::uniform_int_distribution<long long> anySecond(-30610224000LL, 253402300799LL);
    std::vector<std::tm> times;
    for (int i = 0; i < 400; ++i) {
        const std::time_t t = static_cast<std::time_t>(anySecond(rng));
        std::tm broken{};
        if (i % 2)
            localtime_r(&t, &broken);
        else
            gmtime_r(&t, &broken);
        times.push_back(broken);
    }
    // Year ends, where the ISO 8601 week year and the week counts turn.
    for (int year : {2004, 2005, 2008, 2009, 2010, 2015, 2016, 2020, 2021, 2027}) {
        for (int mday : {1, 2, 3, 4, 28, 29, 30, 31}) {
            for (int mon : {0, 11}) {
                std::tm broken{};
                broken.tm_year = year - 1900;
                broken.tm_mon = mon;
                broken.tm_mday = mday;
                broken.tm_hour = (mday * 5) % 24;
                broken.tm_isdst = -1;
                mktime(&broken);
                times.push_back(broken);
            }
        }
    }
    return times;
}

} // namespace

// Every directive the C library also knows, one at a time, in the C locale.
TEST(FormatDateTime, AgreesWithStrftimeDirectiveByDirective) {
    const char* const directives[] = {
        "%a", "%A", "%b", "%h", "%B", "%C", "%c", "%D", "%x", "%d", "%e", "%F", "%G",
        "%g", "%H", "%I", "%j", "%k", "%l", "%M", "%m", "%n", "%R", "%S", "%s", "%T",
        "%X", "%t", "%U", "%u", "%V", "%W", "%w", "%Y", "%y", "%z", "%%",
    };
    for (const char* zone : {"UTC", "America/Los_Angeles", "Asia/Kolkata", "Australia/Lord_Howe"}) {
        SCOPED_TRACE(zone);
        const auto times = sampleTimes(zone);
        texttest::ScopedTimeZone tz(zone);
        for (const std::tm& t : times) {
            for (const char* d : directives) {
                ASSERT_EQ(ours(d, t), glibc(d, t)) << d << " at " << glibc("%Y-%m-%d %H:%M:%S %z", t);
            }
            const char* mixed = "<%Y/%j %H.%M.%S%z| %c |%a, %d %b %Y %H:%M:%S %z>";
            ASSERT_EQ(ours(mixed, t), glibc(mixed, t));
        }
    }
}

// The offsets of zones in and out of daylight time are judged by strftime
// above; a western offset under an hour keeps its sign.
TEST(FormatDateTime, WesternOffsetUnderAnHourKeepsItsSign) {
    std::tm westHalfHour{};
    westHalfHour.tm_gmtoff = -1800;
    EXPECT_EQ(ours("%z", westHalfHour), "-0030");
}

TEST(FormatDateTime, OwnDirectives) {
    std::tm t{};
    t.tm_year = 112;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 0;
    t.tm_min = 30;
    t.tm_wday = 4;
    EXPECT_EQ(ours("%I %p", t), "12 am");
    t.tm_hour = 13;
    EXPECT_EQ(ours("%r", t), "01:30:00 pm");
    EXPECT_EQ(ours("%v", t), " 5-Jan-2012");
    EXPECT_EQ(ours("%+", t), "Thu, 05 Jan 2012 13:30:00 +0000");
    EXPECT_EQ(ours("%Z", t), "?");
    EXPECT_EQ(ours("%Q%%", t), "Q%");
    EXPECT_EQ(ours("100%", t), "100%");
    t.tm_year = -1900 + 7;
    EXPECT_EQ(ours("%Y %C %y", t), "0007 00 07");
}

TEST(FormatDateTime, NamesOutOfRangePrintAQuestionMark) {
    std::tm t{};
    t.tm_wday = 7;
    t.tm_mon = 12;
    EXPECT_EQ(ours("%a %A %b %B %h", t), "? ? ? ? ?");
    t.tm_wday = -1;
    t.tm_mon = -1;
    EXPECT_EQ(ours("%a|%b", t), "?|?");
}

TEST(FormatDateTime, OutputStopsAtTheEnd) {
    std::tm t{};
    t.tm_year = 112;
    t.tm_mon = 8;
    t.tm_wday = 3;
    t.tm_mday = 12;
    EXPECT_EQ(ours("%A %Y", t, 4), "Wedn");
    EXPECT_EQ(ours("ab%Y", t, 4), "ab20");
    EXPECT_EQ(ours("abcdef", t, 3), "abc");
    EXPECT_EQ(ours("%d%d%d", t, 5), "12121");
    EXPECT_EQ(ours("%B", t, 0), "");
    // Nothing beyond the end is touched.
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    char* end = tessik::formatDateTime("%c", t, buf, buf + 4);
    EXPECT_EQ(end, buf + 4);
    EXPECT_EQ(std::string(buf, 8), "Wed xxxx");
}

TEST(FormatDateTime, DayOfWeekFromDate) {
    // Every day of four centuries against the C library.
    texttest::ScopedTimeZone tz("UTC");
    for (long long day = -25567; day < 146097 - 25567; day += 1) {
        const std::time_t t = static_cast<std::time_t>(day * 86400);
        std::tm b{};
        gmtime_r(&t, &b);
        ASSERT_EQ(tessik::dayOfWeekFromDate(b.tm_year + 1900, b.tm_mon + 1, b.tm_mday), b.tm_wday)
            << b.tm_year + 1900 << "-" << b.tm_mon + 1 << "-" << b.tm_mday;
    }
}
