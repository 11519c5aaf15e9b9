#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <thread>
#include <vector>

#include "FileTestSupport.h"
#include "netlib/core/CStringUtil.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/Int64Util.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/StringPair.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/WideCase.h"

using namespace tessik;

namespace {

int g_destroyed = 0;
struct Counted : TessikObject {
    ~Counted() override { ++g_destroyed; }
};

TEST(TessikObject, CopiesTakeANewSerial) {
    StringBuffer b;
    StringBuffer copy(b);
    EXPECT_GT(copy.getSerial(), b.getSerial());
}

// Also run under ThreadSanitizer (build with -DGRV_TSAN=ON).
TEST(TessikObject, SerialsAreUniqueAcrossThreads) {
    constexpr int kThreads = 8, kPerThread = 5000;
    std::vector<std::vector<std::uint64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&seen, t] {
            seen[t].reserve(kPerThread);
            for (int i = 0; i < kPerThread; ++i) {
                TessikInt obj(i);
                seen[t].push_back(obj.getSerial());
            }
        });
    for (auto& th : threads)
        th.join();
    std::set<std::uint64_t> all;
    for (const auto& v : seen)
        all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kPerThread));
}

TEST(ExtPtrArray, InsertSetRemove) {
    TessikInt v0(0), v1(1), v2(2), v3(3);
    ExtPtrArray a;
    a.setAt(3, &v3);
    EXPECT_EQ(a.getCount(), 4);
    EXPECT_EQ(a.elementAt(0), nullptr);
    EXPECT_EQ(a.elementAt(2), nullptr);
    EXPECT_EQ(a.elementAt(3), &v3);
    a.setAt(-1, &v0);
    EXPECT_EQ(a.getCount(), 4);

    ExtPtrArray b;
    b.insertAt(-7, &v1);
    b.insertAt(-7, &v0);
    b.insertAt(99, &v3);
    b.insertAt(2, &v2);
    ASSERT_EQ(b.getCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(static_cast<TessikInt*>(b.elementAt(i))->value, i);
    EXPECT_EQ(b.elementAt(4), nullptr);
    EXPECT_EQ(b.elementAt(-1), nullptr);
    EXPECT_EQ(b.lastElement(), &v3);
    EXPECT_EQ(b.removeAt(3), &v3);
    EXPECT_EQ(b.getCount(), 3);
    EXPECT_EQ(b.removeAt(0), &v0);
    EXPECT_EQ(b.elementAt(0), &v1);
    EXPECT_EQ(b.removeAt(5), nullptr);
    EXPECT_EQ(b.popLast(), &v2);
    b.removeAll();
    EXPECT_EQ(b.getCount(), 0);
    EXPECT_EQ(b.popLast(), nullptr);

    ExtPtrArray empty;
    EXPECT_EQ(empty.elementAt(0), nullptr);
    EXPECT_EQ(empty.lastElement(), nullptr);
    EXPECT_EQ(empty.popLast(), nullptr);
    EXPECT_EQ(empty.getCapacity(), 5); // popLast makes sure slots exist
}

TEST(ExtPtrArray, OwnershipAndFailures) {
    g_destroyed = 0;
    {
        ExtPtrArray owning;
        owning.setOwnsObjects(true);
        owning.appendPtr(new Counted);
        owning.appendPtr(nullptr);
        owning.appendPtr(new Counted);
        TessikObject* kept = owning.removeAt(0);
        delete kept;
        EXPECT_EQ(g_destroyed, 1);
    }
    EXPECT_EQ(g_destroyed, 2);
    {
        ExtPtrArray notOwning;
        Counted c;
        notOwning.appendPtr(&c);
    }
    EXPECT_EQ(g_destroyed, 3); // only the stack object itself

    TessikInt x(1);
    ExtPtrArray failing;
    tessik::testing::failAllocationAfter(0);
    EXPECT_EQ(failing.appendPtr(&x), nullptr);
    EXPECT_EQ(failing.getCount(), 0);
    EXPECT_EQ(failing.getCapacity(), 0);
    tessik::testing::failAllocationAfter(-1);
    for (int i = 0; i < 5; ++i)
        failing.appendPtr(&x);
    tessik::testing::failAllocationAfter(0);
    failing.insertAt(0, nullptr);
    tessik::testing::failAllocationAfter(0);
    failing.setAt(9, nullptr);
    EXPECT_EQ(failing.getCount(), 5);
    tessik::testing::failAllocationAfter(-1);
    EXPECT_EQ(failing.elementAt(0), &x);

    ExtPtrArray lazy;
    tessik::testing::failAllocationAfter(0);
    lazy.ensureInitialStorage();
    EXPECT_EQ(lazy.getCapacity(), 0);
    tessik::testing::failAllocationAfter(-1);
    lazy.ensureInitialStorage();
    EXPECT_EQ(lazy.getCapacity(), 5);
    lazy.ensureInitialStorage();
    EXPECT_EQ(lazy.getCapacity(), 5);
}

TEST(ExtPtrArray, LogsStringElements) {
    RecordingLog log;
    ExtPtrArray a;
    a.setOwnsObjects(true);
    a.appendPtr(new StringBuffer("one"));
    a.appendPtr(nullptr);
    a.appendPtr(new StringBuffer("two"));
    a.logStringElements("item", log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"D:item=one", "D:item=two"}));
}

TEST(ExtIntArray, GrowsAndRemoves) {
    ExtIntArray a;
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(a.append(i * 2));
    EXPECT_EQ(a.elementAt(299), 598);
    EXPECT_EQ(a.elementAt(300), 0);
    EXPECT_EQ(a.elementAt(-1), 0);
    a.removeAt(0);
    EXPECT_EQ(a.getCount(), 299);
    EXPECT_EQ(a.elementAt(0), 2);
    a.removeAt(299);
    EXPECT_EQ(a.getCount(), 299);

    ExtIntArray small(0, 1);
    for (int i = 0; i < 5; ++i)
        small.append(i);
    EXPECT_EQ(small.getCount(), 5);
    EXPECT_EQ(small.elementAt(4), 4);
}

TEST(StringPair, KeysAndValues) {
    StringPair empty("", nullptr);
    EXPECT_STREQ(empty.getKey(), "");
    StringBuffer* k = empty.getKeyBuf();
    ASSERT_NE(k, nullptr);
    k->append("name");
    EXPECT_STREQ(empty.getKey(), "name");

    StringPair full("Host", "example.test");
    EXPECT_STREQ(full.getKey(), "Host");
    EXPECT_STREQ(full.getValueBuf()->getString(), "example.test");
}

TEST(WideCase, MapsSingleUnits) {
    struct Case {
        std::uint16_t in, lower, upper;
    } cases[] = {
        {0, 0, 0},
        {'A', 'a', 'A'},
        {'z', 'z', 'Z'},
        {'1', '1', '1'},
        {0x00C9, 0x00E9, 0x00C9},
        {0x00E9, 0x00E9, 0x00C9},
        {0x00D7, 0x00D7, 0x00D7},
        {0x00F7, 0x00F7, 0x00F7},
        {0x00A9, 0x00A9, 0x00A9},
        {0x00DF, 0x00DF, 0x00DF}, // sharp s: no simple uppercase
        {0x00FF, 0x00FF, 0x0178}, // y-diaeresis: uppercase outside Latin-1
        {0x0178, 0x00FF, 0x0178},
        {0x0130, 0x0069, 0x0130},
        {0x00B5, 0x00B5, 0x039C},
        {0x1F80, 0x1F80, 0x1F88},
        {0x0410, 0x0430, 0x0410},
        {0x0430, 0x0430, 0x0410},
        {0xFF21, 0xFF41, 0xFF21},
        {0xFF5A, 0xFF5A, 0xFF3A},
        {0x4E2D, 0x4E2D, 0x4E2D},
        {0xD800, 0xD800, 0xD800},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wideToLower(c.in), c.lower) << std::hex << c.in;
        EXPECT_EQ(wideToUpper(c.in), c.upper) << std::hex << c.in;
    }
}

TEST(CStringUtil, FindSubstringNoCase) {
    const char* text = "x-content-type: a";
    EXPECT_EQ(findSubstringNoCase(text, "Content-Type"), text + 2);
    EXPECT_EQ(findSubstringNoCase(text, ""), nullptr);
    EXPECT_EQ(findSubstringNoCase("", "a"), nullptr);
    EXPECT_EQ(findSubstringNoCase(nullptr, "a"), nullptr);
    EXPECT_EQ(findSubstringNoCase(text, nullptr), nullptr);
    EXPECT_EQ(findSubstringNoCase(text, "type: b"), nullptr);
    EXPECT_STREQ(findSubstringNoCase("\xE9t\xC9", "\xC9"), "\xC9"); // only ASCII letters fold
}

TEST(CStringUtil, WildcardMatch) {
    struct Case {
        const char* text;
        const char* pattern;
        bool cs;
        bool want;
    } cases[] = {
        {"index.html", "*.HTML", false, true},
        {"index.html", "*.HTML", true, false},
        {"abc", "a*b*c", true, true},
        {"abc", "a*d", true, false},
        {"", "**", true, true},
        {"", "", true, true},
        {"", "a*", true, false},
        {"abc", "", true, false},
        {"abc", "ab", true, false},
        {"abc", "*b", true, false},
        {"aXbXc", "a*X*c", true, true},
        {"ab", "a*b*b", true, false},
        {"abcbc", "a**bc", true, true},
        {"abc", nullptr, true, false},
        {nullptr, "*", true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wildcardMatch(c.text, c.pattern, c.cs), c.want)
            << (c.text ? c.text : "(null)") << " ~ " << (c.pattern ? c.pattern : "(null)");
}

TEST(Int64Util, HalvesAndText) {
    EXPECT_EQ(clampToUint32(4294967296LL), 4294967295u);
    EXPECT_EQ(clampToUint32(12345), 12345u);
    EXPECT_FALSE(isOver32Bits(4294967295LL));
    EXPECT_TRUE(isOver32Bits(4294967296LL));
    EXPECT_TRUE(isOver32Bits(-1));
    std::uint32_t lo = 0, hi = 0;
    splitInt64(0x0123456789ABCDEFLL, lo, hi);
    EXPECT_EQ(makeInt64(lo, hi), 0x0123456789ABCDEFLL);

    struct Parse {
        const char* text;
        long long want;
    } parses[] = {{"  -42", -42}, {"+7", 7}, {"abc", 0}, {"", 0}, {"9223372036854775807", LLONG_MAX}, {nullptr, 0}};
    for (const auto& p : parses)
        EXPECT_EQ(parseInt64(p.text), p.want);

    struct Text {
        unsigned long long v;
        unsigned radix;
        bool neg;
        const char* want;
    } texts[] = {
        {255, 16, false, "ff"}, {35, 36, false, "z"}, {0, 10, false, "0"}, {5, 2, false, "101"}, {7, 10, true, "-7"}};
    for (const auto& t : texts) {
        char buf[72];
        int64ToText(t.neg ? static_cast<unsigned long long>(-static_cast<long long>(t.v)) : t.v, buf, t.radix, t.neg);
        EXPECT_STREQ(buf, t.want);
    }
    StringBuffer sb;
    appendInt64Decimal(-9223372036854775807LL, sb);
    EXPECT_STREQ(sb.getString(), "-9223372036854775807");
}

} // namespace
