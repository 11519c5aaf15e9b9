#include <gtest/gtest.h>

#include <string>

#include "app/store/SqlText.h"

namespace {

TEST(SqlText, EscapingDoublesSingleQuotesAndKeepsDoubleQuotes) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"it's a \"big\" day", "it''s a \"big\" day"},
        {"''", "''''"},
        {"\"\"\"", "\"\"\""},
        {"back\\slash\r\nline\ttab", "back\\slash\r\nline\ttab"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {std::string("cut\0here", 8), "cuthere"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeSqlText(c.in), c.out) << c.in;
}

TEST(SqlText, FormatsLikePrintf) {
    EXPECT_EQ(SqlFormat("%s=%d '%%%s%%'", "id", -1, "x"), "id=-1 '%x%'");
    EXPECT_EQ(SqlFormat("%s", ""), "");
    const std::string longText(10000, 'a');
    EXPECT_EQ(SqlFormat("[%s]", longText.c_str()), "[" + longText + "]");
}

TEST(SqlText, TrimsWhiteSpaceAtBothEnds) {
    EXPECT_EQ(TrimText(" \t\r\n x y \n"), "x y");
    EXPECT_EQ(TrimText("   "), "");
    EXPECT_EQ(TrimText("x"), "x");
}

} // namespace
