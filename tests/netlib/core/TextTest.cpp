#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/Utf.h"
#include "netlib/core/XString.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

using Bytes = std::vector<unsigned char>;

namespace {

Bytes bytes(const DataBuffer& db) {
    return Bytes(db.getData(), db.getData() + db.getSize());
}

Bytes convert(int from, int to, const Bytes& in, bool* ok = nullptr) {
    DataBuffer out;
    EncodingConvert ec;
    bool r = ec.convert(from, to, in.data(), static_cast<unsigned>(in.size()), out);
    if (ok)
        *ok = r;
    return bytes(out);
}

TEST(Utf, Conversions) {
    struct Case {
        const char* name;
        int from, to;
        Bytes in, want;
        bool ok;
    } cases[] = {
        {"4-byte to utf32le", 65001, 65005, {0xF0, 0x9F, 0x98, 0x80}, {0x00, 0xF6, 0x01, 0x00}, true},
        {"overlong E0 80 AF", 65001, 1200, {0xE0, 0x80, 0xAF}, {}, true},
        {"encoded surrogate to utf32be", 65001, 65006, {0xED, 0xA0, 0x80}, {0x00, 0x00, 0xD8, 0x00}, true},
        {"truncated to utf32", 65001, 65005, {0xE2, 0x82}, {}, false},
        {"pair to utf8", 1200, 65001, {0x00, 0xD8, 0x00, 0xDC}, {0xF0, 0x90, 0x80, 0x80}, true},
        {"lone high surrogate", 1200, 65001, {0x00, 0xD8, 0x41, 0x00}, {0xED, 0xA0, 0x80, 0x41}, true},
        {"lone low surrogate", 1200, 65001, {0x00, 0xDC}, {0xED, 0xB0, 0x80}, true},
        {"unit 0 dropped", 1200, 65001, {0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, {0x41, 0x42}, true},
        {"odd count", 1200, 65001, {0x41, 0x00, 0x42}, {0x41}, false},
        {"only bom", 65001, 1200, {0xEF, 0xBB, 0xBF}, {}, true},
        {"to utf16be", 65001, 1201, {'A', 0xC3, 0xA9}, {0x00, 'A', 0x00, 0xE9}, true},
        {"utf16be to utf8", 1201, 65001, {0x00, 'A', 0x20, 0xAC}, {'A', 0xE2, 0x82, 0xAC}, true},
        {"utf32 big value", 65005, 65001, {0x00, 0x00, 0x30, 0x00}, {0xEF, 0xBF, 0xBD}, true},
        {"utf32 beyond unicode", 65005, 65001, {0x00, 0x00, 0x11, 0x00}, {0xF4, 0x90, 0x80, 0x80}, true},
        {"utf32be", 65006, 65001, {0x00, 0x00, 0x00, 'A', 0x00, 0x01, 0xF6, 0x00}, {'A', 0xF0, 0x9F, 0x98, 0x80}, true},
        {"utf32 short", 65005, 65001, {0x41, 0x00}, {}, true},
        {"same page copies", 65001, 65001, {0xEF, 0xBB, 0xBF, 0xFF}, {0xEF, 0xBB, 0xBF, 0xFF}, true},
        {"page 0 copies", 0, 1200, {0x01, 0x02}, {0x01, 0x02}, true},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(convert(c.from, c.to, c.in, &ok), c.want) << c.name;
        EXPECT_EQ(ok, c.ok) << c.name;
    }
}

// The code-page engine lives above this library; these tests also run with it.
TEST(Utf, TablePageNeedsTheEngine) {
    bool ok = false;
    Bytes out = convert(1252, 1200, {0x41}, &ok);
    if (EncodingConvert::isSupportedPage(1252)) {
        EXPECT_EQ(out, (Bytes{0x41, 0}));
        EXPECT_TRUE(ok);
    } else {
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(ok);
    }
}

// A program that installed nothing (these tests, where the core's own run)
// reads documents in the encodings the core decodes itself, under the
// names they declare, as expat reads them, and as it does with the engine:
// each was refused as declaring "a charset the library has no decoder
// for", "utf-8" too.
TEST(Utf, DocumentsInTheCoresOwnEncodingsLoadWithoutTheEngine) {
    const grvtest::TempDir dir;
    const auto made = grvtest::Python(R"(
import codecs, os, sys, xml.parsers.expat
rows = [('utf-8', 'utf-8', 'caf\u00e9 \u65e5'), ('UTF-8', 'utf-8', '\U0001f600'), ('Utf-8', 'utf-8', 'a'),
        ('us-ascii', 'ascii', 'pain'), ('ascii', 'ascii', 'x'), ('utf-16', 'utf-16', 'caf\u00e9'),
        ('UTF-16', 'utf-16-be', '\u65e5'), ('utf-16le', 'utf-16-le', '<\u00e9>')]
for i, (name, codec, text) in enumerate(rows):
    doc = '<?xml version="1.0" encoding="%s"?><r>%s</r>' % (name, text.replace('<', '&lt;').replace('>', '&gt;'))
    data = doc.encode(codec)
    if codec == 'utf-16-be':
        data = codecs.BOM_UTF16_BE + doc.encode(codec)
    open(os.path.join(sys.argv[1], str(i)), 'wb').write(data)
    got = []
    p = xml.parsers.expat.ParserCreate()
    p.CharacterDataHandler = got.append
    p.Parse(data, True)
    print(i, ''.join(got).encode('utf-8').hex())
)",
                                      {dir.Path()});
    ASSERT_TRUE(made.Ok()) << made.err;
    std::istringstream rows(made.out);
    int count = 0;
    for (std::string file, want; rows >> file >> want; ++count) {
        ClsXml xml;
        ASSERT_TRUE(xml.LoadXmlFile(dir.File(file).c_str(), false)) << file;
        StringBuffer text;
        xml.getContentSb(text);
        EXPECT_EQ(grvtest::ToHex(text.getString()), want) << file;
    }
    EXPECT_EQ(count, 8);
}

TEST(Utf, LegalSequencesAndSingleUnits) {
    struct Legal {
        Bytes b;
        bool want;
    } legal[] = {
        {{0xF4, 0x90, 0x80, 0x80}, false},
        {{0xF5, 0x80, 0x80, 0x80}, false},
        {{0xF4, 0x41, 0x80, 0x80}, false},
        {{0xC1, 0xBF}, false},
        {{0xF0, 0x90, 0x80, 0x80}, true},
        {{0xED, 0xA0, 0x80}, true},
        {{0x41}, true},
        {{0x80}, false},
        {{0xE0, 0x9F, 0x80}, false},
        {{0xF0, 0x8F, 0x80, 0x80}, false},
    };
    for (const auto& l : legal)
        EXPECT_EQ(isLegalUtf8(l.b.data(), static_cast<int>(l.b.size())), l.want) << int(l.b[0]);
    EXPECT_FALSE(isLegalUtf8(reinterpret_cast<const unsigned char*>("abcde"), 5));

    struct Dec {
        Bytes b;
        int used;
        std::uint16_t unit;
    } decs[] = {
        {{0x41}, 1, 0x41},           {{0xC3, 0xA9}, 2, 0xE9}, {{0xE2, 0x82, 0xAC}, 3, 0x20AC},   {{0xC3}, -2, 0},
        {{0xE2, 0x82}, -2, 0},       {{0xC0, 0x80}, -1, 0},   {{0xF0, 0x9F, 0x98, 0x80}, -1, 0}, {{0xC3, 0x41}, -1, 0},
        {{0xE0, 0x80, 0x80}, -1, 0},
    };
    for (const auto& d : decs) {
        std::uint16_t u = 0;
        EXPECT_EQ(decodeUtf8Char(d.b.data(), static_cast<unsigned>(d.b.size()), u), d.used);
        if (d.used > 0) {
            EXPECT_EQ(u, d.unit);
        }
    }
}

// Python's codecs are the judge: strict for well-formed text (characters
// beyond the BMP become a surrogate pair, not nothing), "ignore" where our
// skipping of ill-formed bytes coincides with it, "surrogatepass" for encoded
// surrogates.
TEST(Utf, AgreesWithPythonCodecs) {
    struct Sample {
        Bytes utf8;
        const char* errors;
    } samples[] = {
        {{'p', 'l', 'a', 'i', 'n'}, "strict"},
        {{0xEF, 0xBB, 0xBF, 'b', 'o', 'm'}, "strict"},
        {{0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xE4, 0xB8, 0xAD}, "strict"},
        {{0xF0, 0x9F, 0x98, 0x80, 0xF0, 0x90, 0x8D, 0x88, 'x'}, "strict"},
        {{0xF4, 0x8F, 0xBF, 0xBF}, "strict"},
        {{'a', 0xFF, 'b', 0xFE}, "ignore"},
        {{'a', 0xC0, 0xAF, 'b'}, "ignore"},
        {{'a', 0xE2, 0x82}, "ignore"},
        {{0xE2, 0x82, 'z', 0x80, 0xBF}, "ignore"},
        {{0xF5, 0x80, 0x80, 0x80, 'q'}, "ignore"},
        {{'s', 0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}, "surrogatepass"},
    };
    std::string input;
    for (const auto& s : samples)
        input += std::string(s.errors) + " " + grvtest::ToHex(s.utf8.data(), s.utf8.size()) + "\n";
    const auto peer =
        grvtest::Python("import sys\n"
                        "for l in sys.stdin:\n"
                        "  e, h = l.split()\n"
                        "  b = bytes.fromhex(h)\n"
                        "  if b.startswith(b'\\xef\\xbb\\xbf'): b = b[3:]\n"
                        "  t = b.decode('utf-8', e)\n"
                        "  u16 = t.encode('utf-16-le', 'surrogatepass')\n"
                        "  back = u16.decode('utf-16-le', 'surrogatepass').encode('utf-8', 'surrogatepass')\n"
                        "  print(u16.hex(), back.hex(), t.encode('utf-32-le', 'surrogatepass').hex())",
                        {}, input);
    ASSERT_EQ(peer.status, 0) << peer.err;
    std::istringstream lines(peer.out);
    for (const auto& s : samples) {
        std::string w16, w8, w32;
        ASSERT_TRUE(lines >> w16 >> w8 >> w32);
        Bytes u16 = convert(65001, 1200, s.utf8);
        EXPECT_EQ(grvtest::ToHex(u16.data(), u16.size()), w16) << s.errors;
        Bytes back = convert(1200, 65001, u16);
        EXPECT_EQ(grvtest::ToHex(back.data(), back.size()), w8) << s.errors;
        if (std::string(s.errors) == "strict") {
            Bytes u32 = convert(65001, 65005, s.utf8);
            EXPECT_EQ(grvtest::ToHex(u32.data(), u32.size()), w32);
        }
        // The same through the text value's lazy forms.
        XString x;
        x.setFromUtf8Bytes(reinterpret_cast<const char*>(s.utf8.data()), static_cast<unsigned>(s.utf8.size()));
        x.getUtf16();
        const DataBuffer& f16 = x.getUtf16Db();
        EXPECT_EQ(grvtest::ToHex(f16.getData(), f16.getSize() - 2), w16);
        XString y;
        y.setFromUtf16Chars(reinterpret_cast<const std::uint16_t*>(u16.data()), static_cast<unsigned>(u16.size() / 2));
        EXPECT_EQ(
            grvtest::ToHex(reinterpret_cast<const unsigned char*>(y.getUtf8()), static_cast<size_t>(y.getSizeUtf8())),
            w8);
    }
}

TEST(Utf, Utf16WithByteOrderMarksAgreesWithPython) {
    const Bytes samples[] = {
        {0xFF, 0xFE, 'h', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE},
        {0xFE, 0xFF, 0, 'h', 0, 0xE9, 0xD8, 0x3D, 0xDE, 0x00},
        {0xFF, 0xFE},
    };
    std::string input;
    for (const auto& b : samples)
        input += grvtest::ToHex(b.data(), b.size()) + "\n";
    const auto peer = grvtest::Python(
        "import sys\n"
        "for l in sys.stdin: print(bytes.fromhex(l.strip()).decode('utf-16').encode('utf-8').hex() or '-')",
        {}, input);
    ASSERT_EQ(peer.status, 0) << peer.err;
    std::istringstream lines(peer.out);
    for (const auto& b : samples) {
        std::string want;
        ASSERT_TRUE(lines >> want);
        if (want == "-")
            want.clear();
        for (int page : {1200, 1201}) { // the mark decides, whatever the page said
            Bytes got = convert(page, 65001, b);
            EXPECT_EQ(grvtest::ToHex(got.data(), got.size()), want) << page;
        }
    }
}

TEST(Utf, PreambleAndBigInputsAcrossStagingBlocks) {
    DataBuffer out;
    EncodingConvert ec;
    EXPECT_TRUE(ec.convertWithPreamble(65001, 1200, "A", 1, out));
    EXPECT_EQ(bytes(out), (Bytes{0xFF, 0xFE, 'A', 0}));
    out.clear();
    ec.convertWithPreamble(1200, 1201, "A\0", 2, out);
    EXPECT_EQ(bytes(out), (Bytes{0xFE, 0xFF, 0, 'A'}));
    out.clear();
    ec.convertWithPreamble(1200, 0, "A\0", 2, out);
    EXPECT_EQ(bytes(out), (Bytes{0xFF, 0xFE, 'A', 0}));

    std::string big;
    for (int i = 0; i < 3000; ++i)
        big += "\xC3\xA9\xF0\x9F\x98\x80z";
    Bytes in(big.begin(), big.end());
    Bytes u16 = convert(65001, 1200, in);
    EXPECT_EQ(u16.size(), 3000u * 8);
    EXPECT_EQ(convert(1200, 65001, u16), in);
    Bytes u32 = convert(65001, 65006, in);
    EXPECT_EQ(u32.size(), 3000u * 12);
    EXPECT_EQ(convert(65006, 65001, u32), in);
}

TEST(XString, FormsAgree) {
    XString x;
    EXPECT_STREQ(x.getUtf8(), "");
    EXPECT_EQ(x.getUtf16()[0], 0);
    x.setFromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(x.getSizeUtf8(), 10);
    EXPECT_EQ(x.getSizeUtf16(), 14); // 5 units + a surrogate pair
    EXPECT_EQ(x.getNumChars(), 7);
    const std::uint16_t* w = x.getUtf16();
    EXPECT_EQ(w[7], 0);
    XString back;
    back.setFromUtf16(w);
    EXPECT_STREQ(back.getUtf8(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    if (platform::GetACP() == 65001) {
        EXPECT_STREQ(back.getAnsi(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
        EXPECT_TRUE(back.isAnsiExact());
    } else { // 1252: the emoji has no byte there
        EXPECT_STREQ(back.getAnsi(), "caf\xE9 ");
        EXPECT_FALSE(back.isAnsiExact());
    }

    XString a;
    a.setFromAnsi("\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(a.getNumChars(), 5); // ANSI byte length while the ANSI form is valid
    EXPECT_EQ(a.getAnsiState(), 1);
}

TEST(XString, AppendsAndEdits) {
    XString x;
    const std::uint16_t ab[] = {'a', 'b', 0};
    const std::uint16_t cd[] = {'c', 'd', 0};
    x.setFromUtf16(ab);
    x.appendUtf16(cd);
    x.appendUtf8("\xEF\xBB\xBF"
                 "e");
    x.appendAnsi("f");
    x.appendAnsiBytes("gh", 1);
    x.appendUtf8Bytes("ij", 2);
    x.appendInt(-12);
    EXPECT_STREQ(x.getUtf8(), "abcdefgij-12");

    XString other;
    other.setFromUtf16(ab);
    x.appendX(other);
    x.appendX(x);
    EXPECT_STREQ(x.getUtf8(), "abcdefgij-12ababcdefgij-12ab");

    XString t;
    t.setFromUtf8(" \t\xC3\x89t\xC3\xA9 \r\n");
    t.trimWhitespace();
    EXPECT_STREQ(t.getUtf8(), "\xC3\x89t\xC3\xA9");
    t.toLowerCase();
    EXPECT_STREQ(t.getUtf8(), "\xC3\xA9t\xC3\xA9");

    XString r;
    r.setFromUtf8("a.b.c");
    r.replaceChar('.', '/');
    r.chopAtFirstChar('/');
    EXPECT_STREQ(r.getUtf8(), "a");
    EXPECT_EQ(r.getSizeUtf16(), 2); // the other forms follow the edit

    XString cs;
    EXPECT_TRUE(cs.appendFromCharset("x\xC3\xA9", nullptr));
    EXPECT_TRUE(cs.appendFromCharset("y", "  "));
    EXPECT_STREQ(cs.getUtf8(), "x\xC3\xA9y");
}

TEST(XString, Comparisons) {
    XString x;
    x.setFromUtf8("abc");
    EXPECT_EQ(x.indexOfUtf8("x"), -1);
    EXPECT_EQ(x.indexOfUtf8(nullptr), -1);
    XString y;
    y.setFromUtf8("\xF0\x9F\x98\x80\xC3\xA9z");
    EXPECT_EQ(y.indexOfUtf8("z"), 3); // counted in UTF-16 units
    EXPECT_TRUE(x.equalsUtf8("\xEF\xBB\xBF"
                             "abc"));
    EXPECT_TRUE(XString().equalsUtf8(nullptr));
    XString e;
    e.setFromUtf8("\xC3\x89T\xC3\x89");
    EXPECT_TRUE(e.equalsNoCaseUtf8("\xC3\xA9t\xC3\xA9"));
    EXPECT_FALSE(e.equalsNoCaseUtf8("\xC3\xA9t"));
    EXPECT_FALSE(x.beginsWithUtf8(nullptr));
    EXPECT_FALSE(x.containsSubstringUtf8(nullptr));
}

TEST(XString, CopyAndConvertOut) {
    XString x;
    x.setFromUtf8("h\xC3\xA9");
    x.getUtf16();
    XString y;
    y.copyFromX(x);
    DataBuffer out;
    out.appendStr("old");
    EXPECT_TRUE(y.getConvertedToCodePage(1201, false, out));
    EXPECT_EQ(bytes(out), (Bytes{0, 'h', 0, 0xE9}));
    EXPECT_TRUE(y.getConvertedToCodePage(65001, true, out));
    EXPECT_EQ(bytes(out), (Bytes{0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9}));
    XString empty;
    empty.getUtf16();
    EXPECT_TRUE(empty.getConvertedToCodePage(1200, false, out));
    EXPECT_EQ(out.getSize(), 0u);
}

TEST(XString, SecureClearLeavesNoBytes) {
    XString x;
    x.setFromUtf8("topsecretvalue");
    x.getUtf16();
    x.getAnsi();
    x.secureClear();
    auto holdsSecret = [](const void* p, size_t n) {
        std::string s(static_cast<const char*>(p), n);
        return s.find("secret") != std::string::npos || s.find(std::string("s\0e\0c", 5)) != std::string::npos;
    };
    // Every byte of the storage each form now holds, not only the text's length.
    const DataBuffer& w = x.getUtf16Db();
    EXPECT_FALSE(holdsSecret(w.getData(), w.getCapacity()));
    StringBuffer& u = x.getUtf8SbAsIs();
    EXPECT_FALSE(holdsSecret(u.getString(), static_cast<size_t>(u.getCapacity())));
    EXPECT_STREQ(x.getUtf8(), "");
}

TEST(StringBufferConvert, InPlaceConversions) {
    StringBuffer sb("caf\xC3\xA9");
    EXPECT_TRUE(sb.convertEncoding(65001, 1201));
    EXPECT_EQ(sb.getSize(), 8);
    EXPECT_TRUE(sb.convertEncoding(1201, 65001));
    EXPECT_STREQ(sb.getString(), "caf\xC3\xA9");
    EXPECT_TRUE(sb.utf8ToAnsi());
    EXPECT_STREQ(sb.getString(), platform::GetACP() == 65001 ? "caf\xC3\xA9" : "caf\xE9");
    StringBuffer ascii("plain");
    EXPECT_TRUE(ascii.convertEncoding(437, 65001)); // 7-bit: untouched, even without tables
    EXPECT_STREQ(ascii.getString(), "plain");

    StringBuffer r("a\xC3\xA9"
                   "b\xC3\xA9");
    r.replaceCharUtf8(0xE9, 0x20AC);
    EXPECT_STREQ(r.getString(), "a\xE2\x82\xAC"
                                "b\xE2\x82\xAC");
    r.replaceCharUtf8('q', 'z');
    EXPECT_STREQ(r.getString(), "a\xE2\x82\xAC"
                                "b\xE2\x82\xAC");
    StringBuffer plain("a+b");
    plain.replaceCharUtf8('+', 0xE9);
    EXPECT_STREQ(plain.getString(), "a\xC3\xA9"
                                    "b");
}

TEST(DataBufferConvert, DecodeCharsetToX) {
    XString x;
    x.setFromUtf8("stale");
    // Without a charset table engine the name is unknown: page 0 copies the bytes as UTF-16.
    DataBuffer u16;
    u16.appendExact("h\0i\0", 4);
    EXPECT_TRUE(u16.decodeCharsetToX("default", x));
    EXPECT_STREQ(x.getUtf8(), "hi");
}

} // namespace
