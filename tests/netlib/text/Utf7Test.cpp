#include "netlib/text/Utf7.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TextTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "platform/ByteOrder.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

using Bytes = std::string;
using Units = std::vector<std::uint16_t>;

namespace {

Units operator+(Units a, const Units& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void fill(DataBuffer& db, const Units& u) {
    for (std::uint16_t x : u) {
        unsigned char b[2];
        platform::StoreLe16(b, x);
        db.append(b, 2);
    }
}

Units unitsOf(const DataBuffer& db) {
    Units u;
    for (unsigned int i = 0; i + 1 < db.getSize(); i += 2)
        u.push_back(platform::LoadLe16(db.getData() + i));
    return u;
}

Units asciiUnits(const std::string& s) {
    return Units(s.begin(), s.end());
}

std::string encode(const Units& u) {
    DataBuffer in;
    fill(in, u);
    DataBuffer out;
    EXPECT_TRUE(tessik::utf16ToUtf7(in, out));
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

Units decode(const std::string& s, bool& ok) {
    DataBuffer in;
    in.append(s.data(), static_cast<unsigned int>(s.size()));
    DataBuffer out;
    ok = tessik::utf7ToUtf16(in, out);
    EXPECT_EQ(in.getSize(), s.size());
    return unitsOf(out);
}

Bytes utf16le(const Units& u) {
    Bytes b;
    for (std::uint16_t x : u) {
        b.push_back(static_cast<char>(x & 0xFF));
        b.push_back(static_cast<char>(x >> 8));
    }
    return b;
}

// Text of every kind the encoder treats differently: direct characters,
// optional direct ones, '+', controls, Latin, CJK, surrogate pairs.
Units randomText(std::mt19937& rng) {
    static const Units pool = {'a', 'Z',  '7',  ' ',  '\t', '\r',   '\n',   '\'',   '(',   ',',
                               '-', '.',  '/',  ':',  '?',  '!',    '"',    '#',    '+',   '=',
                               '~', '\\', 0x01, 0x7F, 0xE9, 0x20AC, 0x65E5, 0xFFFD, 0x263A};
    Units u;
    std::size_t n = rng() % 24;
    for (std::size_t i = 0; i < n; ++i) {
        if (rng() % 8 == 0) {
            u.push_back(0xD83D);
            u.push_back(static_cast<std::uint16_t>(0xDE00 + rng() % 64));
        } else {
            u.push_back(pool[rng() % pool.size()]);
        }
    }
    return u;
}

} // namespace

TEST(Utf7Encode, PublishedAndEdgeCases) {
    struct Case {
        Units in;
        const char* out;
    } cases[] = {
        {asciiUnits("Hi Mom -") + Units{0x263A} + asciiUnits("-!"), "Hi Mom -+Jjo--+ACE-"},
        {asciiUnits("A+B"), "A+-B"},
        {{0x00A3, '1'}, "+AKM-1"},
        {{0x65E5, 0x672C, 0x8A9E}, "+ZeVnLIqe-"},
        {{0xFEFF, 'a'}, "a"},
        {{0xFEFF}, ""},
        {{}, ""},
        {asciiUnits("a b\r\n"), "a b\r\n"},
        {{'a', 0xE9}, "a+AOk-"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encode(c.in), c.out);
}

TEST(Utf7Encode, OddTrailingByteIgnoredAndInputKept) {
    DataBuffer in;
    in.append("a\0b", 3);
    DataBuffer out;
    EXPECT_TRUE(tessik::utf16ToUtf7(in, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()), "a");
    EXPECT_EQ(in.getSize(), 3u);
}

TEST(Utf7Decode, PublishedAndEdgeCases) {
    struct Case {
        std::string in;
        Units out;
        bool ok;
    } cases[] = {
        {"Hi Mom -+Jjo--+ACE-", asciiUnits("Hi Mom -") + Units{0x263A} + asciiUnits("-!"), true},
        {"+-", {'+'}, true},
        {"A+-B", asciiUnits("A+B"), true},
        {"+ZeVnLIqe-", {0x65E5, 0x672C, 0x8A9E}, true},
        {"+AGE", {'a'}, true},
        {"+AGF-", {'a'}, false},
        {"+!", {'!'}, false},
        {"++", {}, false},
        {"+", {}, false},
        {"", {}, true},
        {"a\xE9", {'a', 0xE9}, false},
        {std::string("a\0b", 3), {'a', 'b'}, true},
        {"+AKM-1", {0x00A3, '1'}, true},
        {"+AKM.", {0x00A3, '.'}, true},
    };
    for (const Case& c : cases) {
        bool ok = false;
        EXPECT_EQ(decode(c.in, ok), c.out) << c.in;
        EXPECT_EQ(ok, c.ok) << c.in;
    }
}

// Both ways with python and iconv: what we write decodes there, what they
// write decodes here.
TEST(Utf7Peers, RoundTripsWithPythonAndIconv) {
    std::mt19937 rng(7);
    std::vector<Units> texts;
    std::vector<Bytes> ours, utf16;
    for (int i = 0; i < 200; ++i) {
        texts.push_back(randomText(rng));
        ours.push_back(encode(texts.back()));
        utf16.push_back(utf16le(texts.back()));
    }
    const std::vector<Bytes> decoded =
        texttest::pythonEach("out = data.decode('utf-7').encode('utf-16-le', 'surrogatepass')", ours);
    const std::vector<Bytes> theirs =
        texttest::pythonEach("out = data.decode('utf-16-le', 'surrogatepass').encode('utf-7')", utf16);
    ASSERT_EQ(decoded.size(), texts.size());
    ASSERT_EQ(theirs.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(decoded[i], utf16[i]) << ours[i];
        bool ok = false;
        EXPECT_EQ(decode(theirs[i], ok), texts[i]) << theirs[i];
        EXPECT_TRUE(ok);
    }
    for (std::size_t i = 0; i < 20; ++i) {
        grvtest::RunOptions feed;
        feed.input = ours[i];
        const auto back = grvtest::RunProgram({"iconv", "-f", "UTF-7", "-t", "UTF-16LE"}, feed);
        ASSERT_TRUE(back.Ok()) << back.err;
        EXPECT_EQ(back.out, utf16[i]) << i;
        feed.input = utf16[i];
        const auto iconv = grvtest::RunProgram({"iconv", "-f", "UTF-16LE", "-t", "UTF-7"}, feed);
        ASSERT_TRUE(iconv.Ok()) << iconv.err;
        bool ok = false;
        EXPECT_EQ(decode(iconv.out, ok), texts[i]) << iconv.out;
        EXPECT_TRUE(ok);
    }
}
