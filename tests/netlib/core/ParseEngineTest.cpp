#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/core/StringBuffer.h"

using namespace tessik;

namespace {

// A capture run from a given cursor: what it takes and where it leaves the cursor.
struct CaptureCase {
    const char* name;
    const char* text;
    unsigned start;
    std::function<void(ParseEngine&, StringBuffer&)> run;
    const char* taken;
    unsigned cursorAfter;
};

TEST(ParseEngine, CapturesStopAtTheirDelimiter) {
    const std::vector<CaptureCase> cases = {
        {"to char", "key=value;rest", 0, [](ParseEngine& p, StringBuffer& o) { p.captureToChar(';', o); }, "key=value",
         9},
        {"to char absent", "no delimiter", 3, [](ParseEngine& p, StringBuffer& o) { p.captureToChar(';', o); },
         "delimiter", 12},
        {"to char on it", ";x", 0, [](ParseEngine& p, StringBuffer& o) { p.captureToChar(';', o); }, "", 0},
        {"any of 7 padded", "tag attr/>", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf7(" \t\r\n/>>", o); }, "tag", 3},
        {"any of 7 slash", "br/>", 0, [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf7(" \t\r\n/>>", o); }, "br",
         2},
        {"any of 5", "name\t= v", 0, [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf5(" \t\r\n=", o); }, "name",
         4},
        {"any of 2", "abc'def\"", 1, [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf2("\"'", o); }, "bc", 3},
        {"any of 2 none", "abcdef", 1, [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf2("\"'", o); }, "bcdef",
         6},
        // A zero byte in the set never reaches past the end of the text.
        {"any of 2 with zero", "abc", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf2(std::string(2, '\0').c_str(), o); }, "abc", 3},
        {"unescaped quote", R"(say \"hi\" now" tail)", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOfUnescaped("\"", o); }, R"(say \"hi\" now)", 14},
        {"unescaped at start", R"(x\"y)", 2,
         [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOfUnescaped("\"", o); }, "", 2},
        {"unescaped empty set", "abc", 0, [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOfUnescaped("", o); }, "",
         0},
        {"unescaped null set", "abc", 0, [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOfUnescaped(nullptr, o); },
         "", 0},
        {"outside apostrophes", "a='x>y' b>c", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToCharOutsideQuotes('>', o); }, "a='x>y' b", 9},
        {"outside double quotes", "a=\"x>y\">", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToCharOutsideQuotes('>', o); }, "a=\"x>y\"", 7},
        // An apostrophe inside a double-quoted run does not open a run.
        {"mixed quotes", "a=\"it's\">z'", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToCharOutsideQuotes('>', o); }, "a=\"it's\"", 8},
        {"only inside quotes", "a='x>y", 0,
         [](ParseEngine& p, StringBuffer& o) { p.captureToCharOutsideQuotes('>', o); }, "a='x", 4},
        {"nowhere", "a='xy'", 1, [](ParseEngine& p, StringBuffer& o) { p.captureToCharOutsideQuotes('>', o); }, "='xy'",
         6},
    };
    for (const auto& c : cases) {
        ParseEngine p;
        p.setString(c.text);
        p.setCursor(c.start);
        StringBuffer out("pre:");
        c.run(p, out);
        EXPECT_EQ(std::string(out.getString()), std::string("pre:") + c.taken) << c.name;
        EXPECT_EQ(p.getCursor(), c.cursorAfter) << c.name;
    }
}

TEST(ParseEngine, CaptureToAnyOfCountsWhatItTakes) {
    ParseEngine p;
    p.setString("abc def");
    StringBuffer out;
    EXPECT_EQ(p.captureToAnyOf(" \t\r\n", out), 3);
    EXPECT_STREQ(out.getString(), "abc");
    EXPECT_EQ(p.getCursor(), 3u);
    EXPECT_EQ(p.currentChar(), ' ');

    EXPECT_EQ(p.captureToAnyOf(nullptr, out), 0);
    EXPECT_EQ(p.captureToAnyOf("", out), 0);
    EXPECT_EQ(p.getCursor(), 3u);

    p.skipChars(' ', ' ', ' ', ' ');
    EXPECT_EQ(p.captureToAnyOf(";", out), 3);
    EXPECT_STREQ(out.getString(), "abcdef");
    EXPECT_EQ(p.getCursor(), 7u);
}

TEST(ParseEngine, CaptureBalancedTakesThroughTheMatchingClose) {
    const char* doctype = "<!DOCTYPE a [<!ELEMENT a (#PCDATA)><!ENTITY e \"<x>\">]> <a/>";
    ParseEngine p;
    p.setString(doctype);
    p.setCursor(1); // past the opening "<", so depth 1
    StringBuffer out;
    EXPECT_TRUE(p.captureBalanced('<', '>', 1, out));
    EXPECT_STREQ(out.getString(), "!DOCTYPE a [<!ELEMENT a (#PCDATA)><!ENTITY e \"<x>\">]>");
    EXPECT_EQ(p.currentChar(), ' ');

    StringBuffer none;
    EXPECT_TRUE(p.captureBalanced('<', '>', 0, none));
    EXPECT_EQ(none.getSize(), 0);
    EXPECT_EQ(p.getCursor(), 54u);

    ParseEngine open;
    open.setString("a<b<c>");
    StringBuffer partial;
    EXPECT_FALSE(open.captureBalanced('<', '>', 1, partial));
    EXPECT_STREQ(partial.getString(), "a<b<c>");
    EXPECT_EQ(open.getCursor(), 6u);
}

TEST(ParseEngine, SeeksMoveOnlyWhenTheyFind) {
    ParseEngine p;
    p.setString("<p>Hello <META charset=x> World</p>");

    EXPECT_TRUE(p.seekSubstringNoCase("<meta"));
    EXPECT_EQ(p.getCursor(), 9u);
    EXPECT_FALSE(p.seekSubstringNoCase("<script"));
    EXPECT_EQ(p.getCursor(), 9u);

    EXPECT_TRUE(p.seekPastSubstring("charset="));
    EXPECT_EQ(p.currentChar(), 'x');
    EXPECT_FALSE(p.seekPastSubstring("CHARSET=")); // case matters here
    EXPECT_FALSE(p.seekPastSubstring(""));
    EXPECT_FALSE(p.seekPastSubstring(nullptr));
    EXPECT_EQ(p.currentChar(), 'x');

    StringBuffer out;
    EXPECT_TRUE(p.captureThroughSubstringNoCase("world", out));
    EXPECT_STREQ(out.getString(), "x> World");
    EXPECT_STREQ(p.atCursor(), "</p>");
    EXPECT_FALSE(p.captureThroughSubstringNoCase("World", out));
    EXPECT_STREQ(out.getString(), "x> World");
    EXPECT_STREQ(p.atCursor(), "</p>");

    p.seekChar('>');
    EXPECT_EQ(p.currentChar(), '>');
    p.seekChar('>'); // already on it
    EXPECT_EQ(p.currentChar(), '>');
    p.seekChar('#');
    EXPECT_EQ(p.getCursor(), 35u);
}

TEST(ParseEngine, SeekCharBefore) {
    struct Case {
        const char* text;
        bool result;
        unsigned cursor;
    };
    const Case cases[] = {
        {"ab<c>", false, 2}, // the stop byte comes first
        {"ab>c<", true, 2},
        {"abc", true, 3}, // end of text counts as found
        {"", true, 0},
    };
    for (const auto& c : cases) {
        ParseEngine p;
        p.setString(c.text);
        EXPECT_EQ(p.seekCharBefore('>', '<'), c.result) << c.text;
        EXPECT_EQ(p.getCursor(), c.cursor) << c.text;
    }
}

TEST(ParseEngine, SkipCharsStopsAtOtherBytesAndTheEnd) {
    ParseEngine p;
    p.setString(" \t\r\n x");
    p.skipChars(' ', '\t', '\r', '\n');
    EXPECT_EQ(p.getCursor(), 5u);
    p.setString("   ");
    p.skipChars(' ', '\0', '\0', '\0');
    EXPECT_EQ(p.getCursor(), 3u);
}

TEST(ParseEngine, EmptyTextTakesNothing) {
    const std::vector<std::function<void(ParseEngine&, StringBuffer&)>> ops = {
        [](ParseEngine& p, StringBuffer&) { p.skipChars('a', 'b', 'c', 'd'); },
        [](ParseEngine& p, StringBuffer&) { p.seekChar('x'); },
        [](ParseEngine& p, StringBuffer&) { p.seekCharBefore('x', 'y'); },
        [](ParseEngine& p, StringBuffer&) { p.seekSubstringNoCase("x"); },
        [](ParseEngine& p, StringBuffer&) { p.seekPastSubstring("x"); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToChar('x', o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf("xy", o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf7("abcdefg", o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf5("abcde", o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOf2("ab", o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToAnyOfUnescaped("a", o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureToCharOutsideQuotes('>', o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureBalanced('<', '>', 1, o); },
        [](ParseEngine& p, StringBuffer& o) { p.captureThroughSubstringNoCase("x", o); },
    };
    for (size_t i = 0; i < ops.size(); ++i) {
        for (int form = 0; form < 3; ++form) {
            DataBuffer none;
            ParseEngine fromBytes(none);
            ParseEngine fresh;
            ParseEngine fromNull;
            fromNull.setString(nullptr);
            ParseEngine& p = form == 0 ? fresh : form == 1 ? fromBytes : fromNull;
            StringBuffer out;
            ops[i](p, out);
            EXPECT_EQ(p.getCursor(), 0u) << "op " << i << " form " << form;
            EXPECT_EQ(out.getSize(), 0) << "op " << i << " form " << form;
        }
    }
}

TEST(ParseEngine, TextChangesKeepTheScannerConsistent) {
    DataBuffer bytes;
    bytes.append("ab\0cd", 5);
    ParseEngine p(bytes);
    StringBuffer out;
    p.captureToChar('d', out); // the zero byte ends the text
    EXPECT_STREQ(out.getString(), "ab");
    EXPECT_EQ(p.getCursor(), 2u);
    p.appendString("ef");
    p.setCursor(4); // never past the zero byte
    EXPECT_EQ(p.getCursor(), 2u);

    ParseEngine grow;
    grow.setString("head ");
    grow.seekChar(' ');
    // Enough appended that the buffer has to move its storage.
    std::string tail(5000, 'x');
    tail += ";";
    grow.appendString(tail.c_str());
    grow.appendString(nullptr);
    EXPECT_EQ(grow.getCursor(), 4u);
    StringBuffer taken;
    grow.skipChars(' ', ' ', ' ', ' ');
    grow.captureToChar(';', taken);
    EXPECT_EQ(taken.getSize(), 5000);
    EXPECT_EQ(grow.currentChar(), ';');

    grow.setString("new");
    EXPECT_EQ(grow.getCursor(), 0u);
    grow.setCursor(99); // clamped to the end
    EXPECT_EQ(grow.getCursor(), 3u);
}

} // namespace
