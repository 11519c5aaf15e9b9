#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "app/store/JournalTypes.h"

namespace {

// The journal's tables are read through these by the detail lists' tests.
TEST(EntryTypes, CodesOutsideOneToSixNameNothing) {
    EXPECT_EQ(EntryTypeTableName(kEntryTypeSideEffects), "entry_sideff");
    EXPECT_EQ(EntryTypeDisplayName(kEntryTypeSideEffects), "Side Effects");
    for (int type : {0, 7, -1, INT_MIN}) {
        EXPECT_EQ(EntryTypeTableName(type), "") << type;
        EXPECT_EQ(EntryTypeDisplayName(type), "") << type;
    }
}

TEST(TimestampText, BuiltWithTwoDigitPartsAndPlainYear) {
    EXPECT_EQ(MakeTimestampText({2012, 3, 5, 7, 4, 9}), "2012-03-05 07:04:09");
    EXPECT_EQ(MakeTimestampText({2011, 12, 31, 23, 59, 0}), "2011-12-31 23:59:00");
    EXPECT_EQ(MakeTimestampText({999, 1, 2, 3, 4, 5}), "999-01-02 03:04:05");
}

// The C library's local time is the judge, summer time included.
TEST(TimestampText, ParsesToLocalTime) {
    for (const char* text : {"2024-03-05 09:07:30", "2024-07-01 12:00:00"}) {
        const auto t = ParseTimestampText(text);
        ASSERT_TRUE(t.has_value()) << text;
        std::tm tm{};
        char back[32];
        std::strftime(back, sizeof back, "%Y-%m-%d %H:%M:%S", localtime_r(&*t, &tm));
        EXPECT_STREQ(back, text);
    }
    EXPECT_EQ(*ParseTimestampText("2024-07-01 12:00:00") - *ParseTimestampText("2024-07-01 11:00:00"), 3600);
}

TEST(TimestampText, SeparatorsAreNotLookedAt) {
    const auto split = SplitTimestampText("2024/03/05T09.07.30");
    ASSERT_TRUE(split.has_value());
    EXPECT_EQ(split->year, 2024);
    EXPECT_EQ(split->day, 5);
    EXPECT_EQ(split->second, 30);
}

TEST(TimestampText, TextsWithoutAValidDateAreRefused) {
    for (const char* text :
         {"", "2024", "1899-12-31 00:00:00", "2024-13-01 00:00:00", "2024-00-01 00:00:00", "2024-01-32 00:00:00",
          "2024-01-01 24:00:00", "2024-01-01 00:60:00", "2024-01-01 00:00:60", "abcd-ef-gh ij:kl:mn"}) {
        EXPECT_FALSE(ParseTimestampText(text).has_value()) << text;
    }
}

TEST(TimestampText, ShortenedToMonthDayHourMinute) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"2024-03-05 09:07:30", "03-05 09:07"}, {"12345678", ""}, {"", ""}, {"123456789", "6"}, {"1234567890", "67"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShortenTimestampText(c.in), c.out) << c.in;
    EXPECT_EQ(ShortenTimestampText("2024-03-05 09:07:30").size(), 11u);
}

TEST(IdText, ConvertsLikeAtoi) {
    // atoi itself is the judge for every text it defines.
    for (const char* text : {"0", "12", "-3", "+7", "  42", "\t\n 9x", "12abc", "abc", "", "-", "--1", " - 1", "007",
                             "2147483647", "-2147483648", "3.9"}) {
        EXPECT_EQ(IdFromText(text), std::atoi(text)) << '"' << text << '"';
    }
    EXPECT_EQ(IdText(-1), "-1");
    EXPECT_EQ(IdText(123), "123");
    EXPECT_EQ(IdFromText(IdText(INT_MIN)), INT_MIN);
}

TEST(IdText, OutOfRangeNumbersAreClamped) {
    EXPECT_EQ(IdFromText("2147483648"), INT_MAX);
    EXPECT_EQ(IdFromText("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(IdFromText("-2147483649"), INT_MIN);
    EXPECT_EQ(IdFromText("-99999999999999999999999"), INT_MIN);
}

} // namespace
