#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::vector<unsigned char> bytes(const DataBuffer& db) {
    return std::vector<unsigned char>(db.getData(), db.getData() + db.getSize());
}

void fill(DataBuffer& db, unsigned n, unsigned char v = 0x11) {
    std::vector<unsigned char> tmp(n, v);
    ASSERT_TRUE(db.appendExact(tmp.data(), n));
}

// How much room a buffer takes is its own business (and tuned for speed);
// what it holds is checked here.
TEST(DataBufferGrowth, AppendsKeepEveryByte) {
    DataBuffer db;
    fill(db, 60000);
    std::vector<unsigned char> more(200000, 0x22);
    ASSERT_TRUE(db.append(more.data(), 200000));
    ASSERT_TRUE(db.appendCharRepeated('x', 0));
    EXPECT_EQ(db.getSize(), 260000u);
    EXPECT_EQ(db.getData()[59999], 0x11);
    EXPECT_EQ(db.getLastByte(), 0x22);
    DataBuffer u;
    EXPECT_EQ(u.appendCharUtf8(0x20AC), 3);
    EXPECT_EQ(bytes(u), (std::vector<unsigned char>{0xE2, 0x82, 0xAC}));
    EXPECT_TRUE(u.append(nullptr, 5));
    EXPECT_EQ(u.getSize(), 3u);
}

TEST(DataBufferGrowth, FailedGrowthKeepsContents) {
    DataBuffer db;
    db.appendStr("precious");
    unsigned cap = db.getCapacity();
    std::vector<unsigned char> big(cap + 1, 0x33);
    tessik::testing::failAllocationAfter(0);
    EXPECT_FALSE(db.append(big.data(), static_cast<unsigned>(big.size())));
    EXPECT_EQ(bytes(db), (std::vector<unsigned char>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    tessik::testing::failAllocationAfter(0);
    EXPECT_FALSE(db.reallocate(100000));
    EXPECT_EQ(db.getSize(), 8u);
    EXPECT_EQ(db.getCapacity(), cap);
    tessik::testing::failAllocationAfter(-1);
    // Beyond 32 bits: refused before any allocation, contents kept.
    EXPECT_FALSE(db.append(big.data(), 0xFFFFFFFFu));
    EXPECT_FALSE(db.appendCharRepeated('z', 0xFFFFFFFFu));
    EXPECT_EQ(db.getSize(), 8u);
    EXPECT_TRUE(db.appendChar('!'));
    EXPECT_EQ(db.getLastByte(), '!');
}

TEST(DataBufferGrowth, AppendFromItself) {
    DataBuffer db;
    db.appendExact("abcd", 4);
    ASSERT_TRUE(db.append(db.getData() + 1, 3));
    EXPECT_EQ(bytes(db), (std::vector<unsigned char>{'a', 'b', 'c', 'd', 'b', 'c', 'd'}));
}

TEST(DataBufferOwnership, AdoptBorrowTakeDetach) {
    auto* block = static_cast<unsigned char*>(tessik::memAlloc(4));
    std::memcpy(block, "wxyz", 4);
    DataBuffer db(block, 4);
    EXPECT_EQ(db.getCapacity(), 4u);
    EXPECT_FALSE(db.isBorrowed());

    unsigned char local[3] = {1, 2, 3};
    db.borrowData(local, 3); // frees the adopted block
    EXPECT_TRUE(db.isBorrowed());
    EXPECT_EQ(db.getData(), local);
    ASSERT_TRUE(db.appendChar(4)); // growing copies out of the borrowed memory
    EXPECT_FALSE(db.isBorrowed());
    EXPECT_NE(db.getData(), local);
    EXPECT_EQ(bytes(db), (std::vector<unsigned char>{1, 2, 3, 4}));
    EXPECT_EQ(local[2], 3);

    DataBuffer other;
    other.takeFrom(db);
    EXPECT_EQ(db.getSize(), 0u);
    EXPECT_EQ(db.getData(), nullptr);
    EXPECT_EQ(other.getSize(), 4u);

    other.takeFromOrEmpty(nullptr);
    EXPECT_EQ(other.getSize(), 0u);
    EXPECT_NE(other.getData(), nullptr);

    void* taken = other.takeData();
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(other.getData(), nullptr);
    tessik::memFree(taken);

    // A borrowed buffer's takeData hands over a copy the caller may free.
    DataBuffer b2;
    b2.borrowData(local, 3);
    void* copy = b2.takeData();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, static_cast<void*>(local));
    EXPECT_EQ(std::memcmp(copy, local, 3), 0);
    tessik::memFree(copy);
}

TEST(DataBufferPadding, SchemesAddAndRemove) {
    struct Case {
        int scheme, block;
        unsigned size;
        unsigned added;
        int value; // -1: random/unchecked
    } cases[] = {
        {0, 8, 8, 8, 8},   {0, 8, 5, 3, 3},     {0, 16, 0, 16, 16},  {0, 7, 5, 11, 11},
        {1, 8, 5, 3, -1},  {1, 16, 16, 16, -1}, {2, 16, 17, 15, -1}, {2, 16, 32, 0, -1},
        {3, 16, 32, 0, 0}, {3, 16, 20, 12, 0},  {4, 8, 3, 5, 0x20},  {9, 16, 3, 0, 0},
    };
    for (const auto& c : cases) {
        DataBuffer db;
        db.appendCharRepeated(0xEE, c.size);
        EXPECT_TRUE(db.appendPadding(c.scheme, c.block));
        ASSERT_EQ(db.getSize(), c.size + c.added) << c.scheme << "/" << c.size;
        if (c.value >= 0) {
            for (unsigned i = c.size; i < db.getSize(); ++i)
                EXPECT_EQ(db.getData()[i], c.value);
        }
        if (c.scheme == 1) {
            EXPECT_EQ(db.getLastByte(), c.added);
        }
        if (c.scheme <= 1) {
            EXPECT_TRUE(db.removePadding(c.scheme));
            EXPECT_EQ(db.getSize(), c.size);
        }
    }
    DataBuffer odd;
    odd.appendCharRepeated(200, 3);
    odd.removePadding(0); // claims more than it holds
    EXPECT_EQ(odd.getSize(), 0u);
    DataBuffer empty;
    EXPECT_TRUE(empty.removePadding(0));
}

// The checked removal: the count must lie in 1..block and within the data,
// and scheme 0's pad bytes must all equal it; a refusal changes nothing.
TEST(DataBufferPadding, CheckedRemovalRefusesBadPadding) {
    struct Pad {
        std::string data;
        int scheme, block;
        bool ok;
        unsigned left;
    } pads[] = {
        {"ABC\3\3", 0, 8, false, 5},
        {"ABC\3\3\3\3", 0, 8, true, 4},
        {std::string(8, '\x08'), 0, 8, true, 0},
        {std::string(10, '\x09'), 0, 8, false, 10},
        {std::string(11, '\x09'), 0, 12, true, 2},
        {std::string("A\0", 2), 0, 16, false, 2},
        {"A\xff\x02", 1, 16, true, 1},
        {"A\x03", 1, 16, false, 2},
        {"A\xff", 3, 16, true, 2},
        {"", 0, 16, true, 0},
    };
    for (const auto& p : pads) {
        DataBuffer db;
        db.append(p.data.data(), static_cast<unsigned>(p.data.size()));
        LogNull log;
        EXPECT_EQ(db.removePadding(p.scheme, p.block, log), p.ok) << p.data;
        EXPECT_EQ(db.getSize(), p.left) << p.data;
    }
}

TEST(DataBufferEdit, InPlaceEdits) {
    struct Case {
        const char* name;
        std::vector<unsigned char> in;
        void (*op)(DataBuffer&);
        std::vector<unsigned char> want;
    } cases[] = {
        {"swap32", {1, 2, 3, 4, 5, 6, 7}, [](DataBuffer& d) { d.byteSwap32(); }, {4, 3, 2, 1, 7, 6, 5}},
        {"swap32 tail 2", {1, 2, 3, 4, 5, 6}, [](DataBuffer& d) { d.byteSwap32(); }, {4, 3, 2, 1, 6, 5}},
        {"reverse", {1, 2, 3}, [](DataBuffer& d) { d.reverseBytes(); }, {3, 2, 1}},
        {"reverse one", {1}, [](DataBuffer& d) { d.reverseBytes(); }, {1}},
        {"chunk past end", {1, 2, 3, 4, 5}, [](DataBuffer& d) { d.removeChunk(2, 100); }, {1, 2}},
        {"chunk middle", {1, 2, 3, 4, 5}, [](DataBuffer& d) { d.removeChunk(1, 2); }, {1, 4, 5}},
        {"chunk negative", {1, 2, 3}, [](DataBuffer& d) { d.removeChunk(-1, 2); }, {1, 2, 3}},
        {"chunk at end", {1, 2, 3}, [](DataBuffer& d) { d.removeChunk(3, 1); }, {1, 2, 3}},
        {"front", {1, 2, 3}, [](DataBuffer& d) { d.removeFront(2); }, {3}},
        {"front all", {1, 2, 3}, [](DataBuffer& d) { d.removeFront(9); }, {}},
        {"shorten", {1, 2, 3}, [](DataBuffer& d) { d.shorten(5); }, {}},
        {"replace", {1, 2, 1}, [](DataBuffer& d) { d.replaceChar(1, 7); }, {7, 2, 7}},
        {"chop wide", {'a', 0, 'b', 0, 'c', 0}, [](DataBuffer& d) { d.chopAtWideChar('b'); }, {'a', 0, 0, 0}},
        {"chop wide none", {'a', 0, 'b'}, [](DataBuffer& d) { d.chopAtWideChar('x'); }, {'a', 0}},
        {"replace wide", {'a', 0, 'b', 0}, [](DataBuffer& d) { d.replaceWideChar('b', 0x20AC); }, {'a', 0, 0xAC, 0x20}},
        {"lower wide",
         {'A', 0, 0xC9, 0, 0x30, 0x01, 0xD7, 0},
         [](DataBuffer& d) { d.toLowerCaseWide(); },
         {'a', 0, 0xE9, 0, 'i', 0, 0xD7, 0}},
        {"upper wide",
         {'a', 0, 0xFF, 0, 0xDF, 0},
         [](DataBuffer& d) { d.toUpperCaseWide(); },
         {'A', 0, 0x78, 0x01, 0xDF, 0}},
    };
    for (const auto& c : cases) {
        DataBuffer db;
        db.append(c.in.data(), static_cast<unsigned>(c.in.size()));
        c.op(db);
        EXPECT_EQ(bytes(db), c.want) << c.name;
    }
}

TEST(DataBufferQuery, XorFindAndCompare) {
    DataBuffer a, b, x;
    a.appendCharRepeated(0x0F, 3);
    b.appendCharRepeated(0xF0, 3);
    ASSERT_TRUE(x.setXorOf(a, b));
    EXPECT_EQ(bytes(x), std::vector<unsigned char>(3, 0xFF));
    b.appendChar(0);
    EXPECT_FALSE(x.setXorOf(a, b));
    EXPECT_EQ(bytes(x), std::vector<unsigned char>(3, 0xFF));
    DataBuffer e1, e2;
    EXPECT_TRUE(x.setXorOf(e1, e2));
    EXPECT_EQ(x.getSize(), 0u);

    DataBuffer hay;
    hay.appendStr("hello world");
    bool found = false;
    EXPECT_EQ(hay.findBytes("world", 5, found), 6u);
    EXPECT_TRUE(found);
    EXPECT_EQ(hay.findBytes("worlds", 6, found), 0u);
    EXPECT_FALSE(found);
    EXPECT_EQ(hay.findBytesPtr("hello world!", 12), nullptr);
    EXPECT_EQ(DataBuffer().findBytesPtr("a", 1), nullptr);
    EXPECT_EQ(hay.getDataAt(11), nullptr);
    EXPECT_FALSE(e1.equalsBytes(nullptr, 1));
}

TEST(DataBufferEncode, HexAndNamedEncodings) {
    DataBuffer db;
    db.appendExact("\x01\xAB\xFF", 3);
    StringBuffer hex;
    db.encodeHexToSb(hex);
    EXPECT_STREQ(hex.getString(), "01ABFF");
    StringBuffer named("x");
    db.encodeToSb(" HEX ", named);
    EXPECT_STREQ(named.getString(), "x01ABFF");
    StringBuffer unknown("gone");
    db.encodeToSb("rot13", unknown);
    EXPECT_EQ(unknown.getSize(), 0);

    DataBuffer dec;
    EXPECT_TRUE(dec.appendEncoded("  0aBc  ", "hexidecimal"));
    EXPECT_EQ(bytes(dec), (std::vector<unsigned char>{0x0A, 0xBC}));
    EXPECT_TRUE(dec.appendEncoded("zz", "nonsense"));
    EXPECT_EQ(dec.getSize(), 2u);

    DataBuffer wide;
    const std::uint16_t w[] = {'h', 'i', 0};
    wide.appendWideStr(w);
    EXPECT_EQ(bytes(wide), (std::vector<unsigned char>{'h', 0, 'i', 0, 0, 0}));
    wide.appendWideStr(nullptr);
    EXPECT_EQ(wide.getSize(), 8u);
}

TEST(DataBufferEncode, ExtractXmlEncoding) {
    struct Case {
        const char* text;
        bool ok;
        const char* want;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>", true, "utf-8"},
        {"<?xml version='1.0' encoding =\r\n 'ISO-8859-1'?>", true, "ISO-8859-1"},
        // Read by the declaration's grammar, where it stands: the start.
        {"<?xml version='1.0' ENCODING='ISO-8859-1'?>", false, ""},
        {" <?xml version='1.0' encoding='ISO-8859-1'?>", false, ""},
        {"<r><!-- <?xml version='1.0' encoding='utf-7'?> --></r>", false, ""},
        {"<?xml version=\"1.0\"?>", false, ""},
        {"<?xml encoding=\"utf-8", false, ""},
        {"<?xml encoding=\"\"?>", false, ""},
    };
    for (const auto& c : cases) {
        StringBuffer out("junk");
        EXPECT_EQ(extractXmlEncoding(c.text, out), c.ok) << c.text;
        EXPECT_STREQ(out.getString(), c.want) << c.text;
    }
}

class DataBufferFiles : public ::testing::Test {
protected:
    std::string path(const char* name) { return m_dir.File(name); }
    void write(const std::string& p, const std::vector<unsigned char>& content) {
        ASSERT_TRUE(grvtest::WriteFile(p, content));
    }
    grvtest::TempDir m_dir;
};

TEST_F(DataBufferFiles, LoadsWholeFiles) {
    std::vector<unsigned char> content(70000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>(i * 7);
    std::string p = path("whole.bin");
    write(p, content);
    DataBuffer db;
    db.appendStr("old");
    RecordingLog log;
    ASSERT_TRUE(db.loadFileAnsi(p.c_str(), &log));
    EXPECT_EQ(bytes(db), content);

    std::string empty = path("empty.bin");
    write(empty, {});
    EXPECT_TRUE(db.loadFileAnsi(empty.c_str(), &log));
    EXPECT_EQ(db.getSize(), 0u);

    EXPECT_FALSE(db.loadFileAnsi(path("missing.bin").c_str(), &log));
    EXPECT_EQ(db.getSize(), 0u);
}

TEST_F(DataBufferFiles, LoadsHeaderAndBody) {
    struct Case {
        const char* name;
        std::vector<unsigned char> file;
        unsigned maxN;
        bool ok;
        std::vector<unsigned char> header, body;
        std::vector<std::string> logged;
    } cases[] = {
        {"good", {7, 0, 0, 0, 'h', 'd', 'r', 'b', 'o', 'd', 'y'}, 100, true, {'h', 'd', 'r'}, {'b', 'o', 'd', 'y'}, {}},
        {"no body", {6, 0, 0, 0, 'h', 'd'}, 100, true, {'h', 'd'}, {}, {}},
        {"too small", {1, 2, 3}, 100, false, {}, {}, {"E:File is empty or too small"}},
        {"N of 4", {4, 0, 0, 0, 'x'}, 100, false, {}, {}, {"E:Invalid header size", "D:filename=*"}},
        {"N over max", {50, 0, 0, 0, 'x'}, 10, false, {}, {}, {"E:Invalid header size", "D:filename=*"}},
        {"short header", {9, 0, 0, 0, 'x'}, 100, false, {}, {}, {"E:Failed to read the entire header", "D:filename=*"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string p = path("hdr.bin");
        write(p, c.file);
        DataBuffer body, header;
        body.appendStr("stale");
        header.appendStr("stale");
        RecordingLog log;
        EXPECT_EQ(body.loadFileWithHeader(p.c_str(), header, c.maxN, &log), c.ok);
        if (c.ok || c.logged.front() == "E:File is empty or too small") {
            EXPECT_EQ(bytes(header), c.header);
            EXPECT_EQ(bytes(body), c.body);
        }
        ASSERT_EQ(log.lines.size(), c.logged.size());
        for (size_t i = 0; i < c.logged.size(); ++i) {
            if (c.logged[i] == "D:filename=*")
                EXPECT_EQ(log.lines[i], "D:filename=" + p);
            else
                EXPECT_EQ(log.lines[i], c.logged[i]);
        }
    }
}

TEST(DataBufferMagic, OverwrittenMarkerIsFatal) {
    EXPECT_DEATH(
        {
            DataBuffer db;
            auto* raw = reinterpret_cast<unsigned char*>(&db);
            for (size_t i = sizeof(TessikObject); i < sizeof db; ++i)
                if (raw[i] == DataBuffer::kAliveMarker) {
                    raw[i] = 0;
                    break;
                }
            db.appendChar('y');
        },
        "DataBuffer::appendChar");
}

} // namespace
