#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"

using namespace tessik;

namespace {

std::string str(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

std::vector<std::string> pieces(ExtPtrArray& a) {
    std::vector<std::string> out;
    for (int i = 0; i < a.getCount(); ++i)
        out.push_back(str(*static_cast<StringBuffer*>(a.elementAt(i))));
    return out;
}

TEST(StringBufferGrowth, ConstructorsTakeWhatTheyAreGiven) {
    const std::pair<StringBuffer, const char*> cases[] = {
        {StringBuffer(), ""},
        {StringBuffer("abc"), "abc"},
        {StringBuffer(static_cast<const char*>(nullptr)), ""},
        {StringBuffer("xyz", 2u, 0u), "xy"},
        {StringBuffer("xyz", 3u, 17u), "xyz"},
        {StringBuffer(0u), ""},
    };
    for (const auto& [sb, want] : cases) {
        EXPECT_EQ(str(sb), want);
        EXPECT_EQ(sb.getString()[sb.getSize()], '\0');
    }
    StringBuffer large;
    std::string chunk(400000, 'y');
    for (int i = 0; i < 8; ++i)
        large.appendBytes(chunk.data(), static_cast<int>(chunk.size()));
    EXPECT_EQ(large.getSize(), 8 * 400000);
    EXPECT_EQ(large.getString()[large.getSize()], '\0');
}

TEST(StringBufferGrowth, OwnTextSurvivesReallocation) {
    StringBuffer sb("world");
    sb.prepend("hello ");
    sb.prepend(sb.getPtrAt(6));
    EXPECT_EQ(str(sb), "worldhello world");
    sb.append(sb.getString());
    sb.setString(sb.getPtrAt(16));
    EXPECT_EQ(str(sb), "worldhello world");
}

TEST(StringBufferGrowth, FailedGrowthKeepsTheText) {
    StringBuffer sb("keep");
    tessik::testing::failAllocationAfter(0);
    sb.append(" more text that needs room");
    EXPECT_EQ(str(sb), "keep");
    tessik::testing::failAllocationAfter(0);
    EXPECT_FALSE(sb.reserveExtra(100));
    EXPECT_EQ(str(sb), "keep");
    tessik::testing::failAllocationAfter(0);
    EXPECT_EQ(sb.replaceAll("e", "EEEEEEEE"), 0);
    EXPECT_EQ(str(sb), "keep");
    tessik::testing::failAllocationAfter(-1);
    // Past the signed 32-bit limit: refused without touching the heap.
    static const char kByte = 'z';
    sb.appendBytes(&kByte, INT_MAX);
    EXPECT_EQ(str(sb), "keep");
    EXPECT_FALSE(sb.reserveExtra(INT_MAX));
    EXPECT_TRUE(sb.reserveExtra(1000));
    EXPECT_GE(sb.getCapacity(), 1005);
}

// Every append that cannot take its bytes (the heap refuses the block, or
// the text would pass the signed 32-bit limit) is recorded, so that a text
// built of many appends can tell it is incomplete; clearing forgets it, and
// appending an incomplete text makes the whole incomplete.
TEST(StringBufferGrowth, AnAppendThatCannotGrowIsRecorded) {
    static const char kByte = 'z';
    const std::string room(300, 'r');
    const StringBuffer part(room.c_str());
    DataBuffer bytes;
    ASSERT_TRUE(bytes.append(room.data(), static_cast<unsigned int>(room.size())));
    const struct {
        const char* what;
        bool heapRefuses;
        void (*append)(StringBuffer&, const StringBuffer&, const DataBuffer&);
    } cases[] = {
        {"append", true, [](StringBuffer& sb, const StringBuffer& p, const DataBuffer&) { sb.append(p.getString()); }},
        {"appendBytes", true,
         [](StringBuffer& sb, const StringBuffer& p, const DataBuffer&) { sb.appendBytes(p.getString(), 300); }},
        {"appendChar", true,
         [](StringBuffer& sb, const StringBuffer&, const DataBuffer&) {
             for (int i = 0; i < 300; ++i)
                 sb.appendChar('c');
         }},
        {"appendCharRepeated", true,
         [](StringBuffer& sb, const StringBuffer&, const DataBuffer&) { sb.appendCharRepeated('c', 300); }},
        {"appendSb", true, [](StringBuffer& sb, const StringBuffer& p, const DataBuffer&) { sb.appendSb(p); }},
        {"appendDb", true, [](StringBuffer& sb, const StringBuffer&, const DataBuffer& db) { sb.appendDb(db); }},
        {"past 2 GiB", false,
         [](StringBuffer& sb, const StringBuffer&, const DataBuffer&) { sb.appendBytes(&kByte, INT_MAX); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StringBuffer sb("keep");
        StringBuffer whole("whole ");
        EXPECT_FALSE(sb.appendFailed());
        if (c.heapRefuses)
            tessik::testing::failAllocationAfter(0);
        c.append(sb, part, bytes);
        tessik::testing::failAllocationAfter(-1);
        EXPECT_TRUE(sb.appendFailed());
        EXPECT_LT(sb.getSize(), 4 + 300);
        whole.appendSb(sb);
        EXPECT_TRUE(whole.appendFailed());
        sb.clear();
        EXPECT_FALSE(sb.appendFailed());
        sb.append("again");
        EXPECT_FALSE(sb.appendFailed());
        whole.setString("set");
        EXPECT_FALSE(whole.appendFailed());
    }
}

TEST(StringBufferGrowth, AllocationFailureFallsBackToSharedEmpty) {
    tessik::testing::failAllocationAfter(0);
    StringBuffer small("abc");
    EXPECT_EQ(small.getSize(), 0);
    EXPECT_STREQ(small.getString(), "");
    small.append("later"); // grows out of the shared empty text
    EXPECT_EQ(str(small), "later");

    StringBuffer unwritten; // holds no block until its first byte
    tessik::testing::failAllocationAfter(0);
    unwritten.append("lost");
    EXPECT_TRUE(unwritten.appendFailed());
    EXPECT_STREQ(unwritten.getString(), "");
    unwritten.append("ok");
    EXPECT_EQ(str(unwritten), "ok");
}

// A buffer nothing was written to yet shares one empty text: every operation
// must leave that alone and give what the same steps give on std::string.
TEST(StringBufferGrowth, FirstWritesToAnUnwrittenBuffer) {
    struct Case {
        const char* what;
        void (*apply)(StringBuffer&);
        std::string want;
    };
    const Case cases[] = {
        {"appendChar", [](StringBuffer& b) { b.appendChar('x'); }, "x"},
        {"appendCharRepeated", [](StringBuffer& b) { b.appendCharRepeated('-', 300); }, std::string(300, '-')},
        {"appendInt", [](StringBuffer& b) { b.appendInt(INT_MIN); }, std::to_string(INT_MIN)},
        {"prepend", [](StringBuffer& b) { b.prepend("ab"); }, "ab"},
        {"prependZeroIfOddLength", [](StringBuffer& b) { b.prependZeroIfOddLength(); }, ""},
        {"setString", [](StringBuffer& b) { b.setString("set"); }, "set"},
        {"appendSb of empty", [](StringBuffer& b) { b.appendSb(StringBuffer()); }, ""},
        {"trim, collapse, case",
         [](StringBuffer& b) {
             b.trimWhitespace();
             b.collapseWhitespace();
             b.toLowerCase();
             b.toUpperCase();
             b.toCRLF();
             b.toLF();
             b.encodeXmlEntities();
         },
         ""},
        {"replace and remove",
         [](StringBuffer& b) {
             b.replaceAll("a", "b");
             b.replaceFirst("a", "b");
             b.replaceChar('a', 'b');
             b.removeChar('a');
             b.shorten(0);
             b.chopAtFirstChar('a');
         },
         ""},
        {"reserveExtra then append",
         [](StringBuffer& b) {
             b.reserveExtra(10);
             b.append("0123456789");
         },
         "0123456789"},
        {"shrinkToFit then append",
         [](StringBuffer& b) {
             b.shrinkToFit();
             b.append("s");
         },
         "s"},
        {"secureClear then appendHex",
         [](StringBuffer& b) {
             b.secureClear();
             b.appendHex("\x01\xff", 2);
         },
         "01FF"},
        {"copy of it, appended",
         [](StringBuffer& b) {
             StringBuffer copy(b);
             copy.append("c");
             b.setSb(copy);
         },
         "c"},
    };
    for (const Case& c : cases) {
        StringBuffer b;
        c.apply(b);
        EXPECT_EQ(str(b), c.want) << c.what;
        EXPECT_EQ(b.getString()[b.getSize()], '\0') << c.what;
        EXPECT_FALSE(b.appendFailed()) << c.what;
        StringBuffer fresh;
        EXPECT_STREQ(fresh.getString(), "") << "after " << c.what;
    }
    StringBuffer b;
    int len = -1;
    char* taken = b.takeData(&len);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_STREQ(taken, "");
    tessik::memFree(taken);
}

TEST(StringBufferAdopt, TakeDataHandsOverTheBlock) {
    StringBuffer sb("payload");
    int len = -1;
    char* block = sb.takeData(&len);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(len, 7);
    EXPECT_STREQ(block, "payload");
    tessik::memFree(block);
    EXPECT_EQ(sb.getSize(), 0);
    EXPECT_EQ(sb.getCapacity(), 200);
    sb.append("again");
    EXPECT_EQ(str(sb), "again");
}

TEST(StringBufferAdopt, TakeFromDbAdoptsTheBlock) {
    DataBuffer db;
    db.appendStr("hello");
    db.appendChar(0);
    unsigned char* block = db.getData();
    StringBuffer sb("old");
    sb.takeFromDb(db);
    EXPECT_EQ(str(sb), "hello");
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(sb.getString()), block);
    EXPECT_EQ(sb.getGrowBy(), 1024);
    EXPECT_EQ(db.getSize(), 0u);
    EXPECT_EQ(db.getData(), nullptr);

    DataBuffer one;
    one.appendChar('x');
    sb.takeFromDb(one);
    EXPECT_EQ(sb.getSize(), 0);
    EXPECT_EQ(one.getSize(), 1u);

    // Borrowed memory is copied, never adopted.
    const char text[] = "borrowed";
    DataBuffer borrowed;
    borrowed.borrowData(text, sizeof text);
    sb.takeFromDb(borrowed);
    EXPECT_EQ(str(sb), "borrowed");
    EXPECT_NE(sb.getString(), text);
}

TEST(StringBufferDecimal, AppendsNumbers) {
    struct Case {
        long long value;
        int kind; // 0 int, 1 uint32, 2 int64
        const char* want;
    } cases[] = {
        {INT_MIN, 0, "-2147483648"},
        {4294967295LL, 1, "4294967295"},
        {LLONG_MIN, 2, "-9223372036854775808"},
        {LLONG_MAX, 2, "9223372036854775807"},
    };
    for (const auto& c : cases) {
        StringBuffer sb("n=");
        if (c.kind == 0)
            sb.appendInt(static_cast<int>(c.value));
        if (c.kind == 1)
            sb.appendUint32(static_cast<unsigned>(c.value));
        if (c.kind == 2)
            sb.appendInt64(c.value);
        EXPECT_EQ(str(sb), std::string("n=") + c.want);
    }
    struct Parse {
        const char* text;
        int want;
    } parses[] = {{"", 0}, {"abc", 0}, {"  -17xyz", -17}, {"123", 123}, {"+5", 5}};
    for (const auto& p : parses)
        EXPECT_EQ(StringBuffer(p.text).intValue(), p.want) << p.text;
}

TEST(StringBufferTrim, TrimsAndCuts) {
    struct Case {
        const char* name;
        const char* in;
        void (*op)(StringBuffer&);
        const char* want;
    } cases[] = {
        {"spaces+tabs", " \t ab c\t ", [](StringBuffer& s) { s.trimSpacesAndTabs(); }, "ab c"},
        {"spaces+tabs keeps CR", "\r ab \n", [](StringBuffer& s) { s.trimSpacesAndTabs(); }, "\r ab \n"},
        {"whitespace only", " \t\r\n ", [](StringBuffer& s) { s.trimWhitespace(); }, ""},
        {"collapse", "a \r\n\tb   c", [](StringBuffer& s) { s.collapseWhitespace(); }, "a b c"},
        {"chop substring", "key=value", [](StringBuffer& s) { s.chopAtSubstring("=", false); }, "key"},
        {"chop keep", "key=value", [](StringBuffer& s) { s.chopAtSubstring("=v", true); }, "key=v"},
        {"chop empty", "key", [](StringBuffer& s) { s.chopAtSubstring("", false); }, "key"},
        {"chop last", "a/b/c", [](StringBuffer& s) { s.chopAtLastChar('/'); }, "a/b"},
        {"shorten past", "abc", [](StringBuffer& s) { s.shorten(10); }, ""},
        {"remove chunk to end", "abcdef", [](StringBuffer& s) { s.removeChunk(3, 3); }, "abc"},
        {"remove chunk past", "abcdef", [](StringBuffer& s) { s.removeChunk(3, 4); }, "abcdef"},
        {"remove chunk index", "abc", [](StringBuffer& s) { s.removeChunk(3, 0); }, "abc"},
        {"remove char from", "a-b-c", [](StringBuffer& s) { s.removeCharFrom('-', 2); }, "a-bc"},
        // '!' is no name character; bytes beyond ASCII all stay, U+00D7 and a
        // stray continuation byte too, for the writer to refuse.
        {"xml name chars", "a b<c>.d-e_f:g!h\xC3\xA9\xC3\x97\x80", [](StringBuffer& s) { s.keepXmlNameChars(); },
         "abc.d-e_f:gh\xC3\xA9\xC3\x97\x80"},
        {"to CRLF", "a\r\nb\nc\r", [](StringBuffer& s) { s.toCRLF(); }, "a\r\nb\r\nc"},
        {"to LF", "a\r\nb\r\rc", [](StringBuffer& s) { s.toLF(); }, "a\nb\r\rc"},
        {"entities", "<a href=\"x\">&</a>", [](StringBuffer& s) { s.encodeXmlEntities(); },
         "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
        {"zero if odd", "abc", [](StringBuffer& s) { s.prependZeroIfOddLength(); }, "0abc"},
        {"five chars", "a<b>c&d\"e'f", [](StringBuffer& s) { s.replaceAnyOfFiveChars("<>&\"'", '_'); }, "a_b_c_d_e_f"},
        {"secure clear", "secret", [](StringBuffer& s) { s.secureClear(); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StringBuffer sb(c.in);
        c.op(sb);
        EXPECT_EQ(str(sb), c.want);
        EXPECT_EQ(sb.getString()[sb.getSize()], '\0');
    }
}

TEST(StringBufferReplace, ReplaceFirstAndAll) {
    struct Case {
        const char* text;
        const char* find;
        const char* repl;
        int count;
        const char* want;
    } all[] = {
        {"aaa", "a", "aa", 3, "aaaaaa"}, {"a-b-c", "-", nullptr, 2, "abc"}, {"abc", "x", "y", 0, "abc"},
        {"abc", "", "y", 0, "abc"},      {"abab", "ab", "ba", 2, "baba"},   {"xyz", "xyz", "123456", 1, "123456"},
    };
    for (const auto& c : all) {
        StringBuffer sb(c.text);
        EXPECT_EQ(sb.replaceAll(c.find, c.repl), c.count) << c.text;
        EXPECT_EQ(str(sb), c.want) << c.text;
    }
    struct First {
        const char* text;
        const char* find;
        const char* repl;
        bool ok;
        const char* want;
    } first[] = {
        {"a-b-c", "-", "+", true, "a+b-c"},
        {"a-b-c", "-", nullptr, true, "a-b-c"},
        {"a-b-c", "", "+", false, "a-b-c"},
        {"a-b-c", nullptr, "+", false, "a-b-c"},
        {"abc", "b", "much longer text than before", true, "amuch longer text than beforec"},
    };
    for (const auto& c : first) {
        StringBuffer sb(c.text);
        EXPECT_EQ(sb.replaceFirst(c.find, c.repl), c.ok) << c.text;
        EXPECT_EQ(str(sb), c.want) << c.text;
    }
}

TEST(StringBufferCase, ByteRulesLeaveSignsAndUnpairedLettersAlone) {
    struct Case {
        unsigned char in, lower, upper;
    } cases[] = {
        {'A', 'a', 'A'},    {'z', 'z', 'Z'},    {0xC9, 0xE9, 0xC9}, {0xE9, 0xE9, 0xC9}, {0xD7, 0xD7, 0xD7},
        {0xF7, 0xF7, 0xF7}, {0xDF, 0xDF, 0xDF}, {0xFF, 0xFF, 0xFF}, {0xB5, 0xB5, 0xB5}, {0xC0, 0xE0, 0xC0},
        {0xDE, 0xFE, 0xDE}, {0xFE, 0xFE, 0xDE}, {'1', '1', '1'},
    };
    for (const auto& c : cases) {
        char in[2] = {static_cast<char>(c.in), 0};
        StringBuffer lo(in), up(in);
        lo.toLowerCase();
        up.toUpperCase();
        EXPECT_EQ(static_cast<unsigned char>(lo.charAt(0)), c.lower) << int(c.in);
        EXPECT_EQ(static_cast<unsigned char>(up.charAt(0)), c.upper) << int(c.in);
    }
}

TEST(StringBufferQuery, NullsBoundsAndUnsignedBytes) {
    StringBuffer sb("Content-Type");
    EXPECT_TRUE(sb.beginsWith(""));
    EXPECT_FALSE(sb.beginsWith(nullptr));
    EXPECT_FALSE(sb.beginsWith("content"));
    EXPECT_TRUE(sb.beginsWithNoCase("content-t"));
    EXPECT_FALSE(sb.endsWith(nullptr));
    EXPECT_FALSE(sb.endsWith("XContent-Type"));
    EXPECT_TRUE(StringBuffer().equals(nullptr));
    EXPECT_FALSE(sb.equals(nullptr));
    EXPECT_FALSE(sb.containsSubstring(nullptr));
    EXPECT_TRUE(sb.containsSubstringNoCase("NT-t"));
    EXPECT_EQ(StringBuffer("\xE0").compare("a"), 1);
    EXPECT_EQ(sb.charAt(-1), 0);
    EXPECT_EQ(sb.charAt(12), 0);
    EXPECT_EQ(StringBuffer().lastChar(), 0);
    EXPECT_TRUE(StringBuffer("abc\x80").is7bit(3));
    EXPECT_FALSE(StringBuffer("abc\x80").is7bit(0));
}

TEST(StringBufferQuery, ParamsAndNameValue) {
    StringBuffer hdr("text/html; charset=utf-8; q=1");
    StringBuffer v("junk");
    EXPECT_TRUE(hdr.getParamValue(" charset ", v));
    EXPECT_EQ(str(v), "utf-8");
    EXPECT_TRUE(hdr.getParamValue("q", v));
    EXPECT_EQ(str(v), "1");
    EXPECT_FALSE(hdr.getParamValue("boundary", v));
    EXPECT_EQ(v.getSize(), 0);

    StringBuffer name, value;
    EXPECT_TRUE(StringBuffer("  realm =  \"my realm\" ").parseNameValue(name, value));
    EXPECT_EQ(str(name), "realm");
    EXPECT_EQ(str(value), "my realm");
    EXPECT_FALSE(StringBuffer("novalue").parseNameValue(name, value));
}

TEST(StringBufferSplit, SplitsWithQuotesAndEscapes) {
    struct Case {
        const char* text;
        char sep;
        bool quotes, escapes;
        std::vector<std::string> want;
    } cases[] = {
        {"a,\"b,c\",d\\,e,", ',', true, true, {"a", "\"b,c\"", "d\\,e", ""}},
        {"a,\"b,c\",d\\,e,", ',', false, false, {"a", "\"b", "c\"", "d\\", "e", ""}},
        {"", ',', true, true, {}},
        {"CN=x\\=y,O=\"a=b\"", '=', true, true, {"CN", "x\\=y,O", "\"a=b\""}},
    };
    for (const auto& c : cases) {
        ExtPtrArray out;
        out.setOwnsObjects(true);
        EXPECT_TRUE(StringBuffer(c.text).split(out, c.sep, c.quotes, c.escapes));
        EXPECT_EQ(pieces(out), c.want) << c.text;
    }
}

TEST(StringBufferSplit, SplitsOnSubstring) {
    struct Case {
        const char* text;
        const char* sep;
        int max;
        std::vector<std::string> want;
    } cases[] = {
        {"--a----b--", "--", 0, {"a", "b"}},
        {"a--b--c", "--", 2, {"a", "b"}},
        {"a\r\nb\r\n\r\nc", "\r\n", 0, {"a", "b", "c"}},
        {"abc", "", 0, {}},
        {"abc", "x", 0, {"abc"}},
    };
    for (const auto& c : cases) {
        ExtPtrArray out;
        out.setOwnsObjects(true);
        StringBuffer(c.text).splitOnSubstring(StringBuffer(c.sep), out, c.max);
        EXPECT_EQ(pieces(out), c.want) << c.text;
    }
}

TEST(StringBufferHex, EncodesAndDecodes) {
    const unsigned char bytes[] = {0x00, 0x01, 0xAB, 0xFF};
    StringBuffer hex, dump;
    hex.appendHex(bytes, 4);
    dump.appendHexDump(bytes, 4);
    EXPECT_EQ(str(hex), "0001ABFF");
    EXPECT_EQ(str(dump), "00 01 ab ff ");

    unsigned char seq[34];
    for (int i = 0; i < 34; ++i)
        seq[i] = static_cast<unsigned char>(i);
    struct Grouped {
        int n;
        const char* want;
    } grouped[] = {
        {2, "0001 "},
        {17, "0001 0203 0405 0607 0809 0A0B 0C0D 0E0F\n10"},
        {16, "0001 0203 0405 0607 0809 0A0B 0C0D 0E0F\n"},
        {33, "0001 0203 0405 0607 0809 0A0B 0C0D 0E0F\n1011 1213 1415 1617 1819 1A1B 1C1D 1E1F\n20"},
    };
    for (const auto& g : grouped) {
        StringBuffer sb;
        sb.appendHexGrouped(seq, g.n);
        EXPECT_EQ(str(sb), g.want) << g.n;
    }

    struct Decode {
        const char* text;
        std::vector<unsigned char> want;
    } decodes[] = {
        {"abc", {0x0A, 0xBC}},
        {"0001abFF", {0x00, 0x01, 0xAB, 0xFF}},
    };
    for (const auto& d : decodes) {
        DataBuffer out;
        StringBuffer(d.text).decodeHex(out);
        std::vector<unsigned char> got(out.getData(), out.getData() + out.getSize());
        EXPECT_EQ(got, d.want) << d.text;
    }
    // Longer than one 500-byte collection block.
    std::string longHex;
    for (int i = 0; i < 1234; ++i)
        longHex += "5a";
    DataBuffer out;
    StringBuffer(longHex.c_str()).decodeHex(out);
    ASSERT_EQ(out.getSize(), 1234u);
    EXPECT_EQ(out.getData()[1233], 0x5A);
}

TEST(StringBufferMagic, OverwrittenMarkerIsFatal) {
    EXPECT_DEATH(
        {
            // Overwrite the marker the way a stray write would.
            StringBuffer sb("x");
            auto* raw = reinterpret_cast<unsigned char*>(&sb);
            for (size_t i = sizeof(TessikObject); i < sizeof sb; ++i)
                if (raw[i] == StringBuffer::kAliveMarker) {
                    raw[i] = 0;
                    break;
                }
            sb.appendChar('y');
        },
        "StringBuffer::appendChar");
}

} // namespace
