#include "netlib/text/ContentCoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TextTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

using Bytes = std::string;

namespace {

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char, FreeBlock>;

std::string str(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<std::size_t>(sb.getSize()));
}
std::string str(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

std::string base64Lines(const std::string& in, int lineLength = 76) {
    ContentCoding cc;
    cc.setLineLength(lineLength);
    StringBuffer out;
    cc.encodeBase64(in.data(), static_cast<unsigned int>(in.size()), out);
    return str(out);
}

std::string base64Plain(const std::string& in) {
    StringBuffer out;
    ContentCoding::encodeBase64NoCrlf(in.data(), static_cast<unsigned int>(in.size()), out);
    return str(out);
}

// Decodes from an exact-size heap copy, so reading past the text is caught.
std::string base64Decoded(const std::string& text) {
    std::vector<char> exact(text.begin(), text.end());
    unsigned int len = 99;
    Block p(ContentCoding::decodeBase64Ptr(exact.data(), static_cast<unsigned int>(exact.size()), &len));
    if (!p)
        return text.empty() && len == 0 ? "" : "<null>"; // empty text gives no block
    return std::string(reinterpret_cast<const char*>(p.get()), len);
}

std::string base32Decoded(const std::string& text) {
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    DataBuffer out;
    EXPECT_TRUE(ContentCoding::decodeBase32(exact.get(), static_cast<unsigned int>(text.size()), out));
    return str(out);
}

std::string qpEncoded(const std::string& in, int lineLength = 76) {
    ContentCoding cc;
    cc.setLineLength(lineLength);
    StringBuffer out;
    cc.encodeQuotedPrintable(in.data(), static_cast<unsigned int>(in.size()), out);
    return str(out);
}

std::string qpDecoded(const std::string& text) {
    std::vector<char> exact(text.begin(), text.end());
    unsigned int len = 0;
    Block p(ContentCoding::decodeQuotedPrintablePtr(exact.data(), static_cast<unsigned int>(exact.size()), &len));
    return p ? std::string(reinterpret_cast<const char*>(p.get()), len) : "<null>";
}

std::string qEncoded(const std::string& in, bool commas = false) {
    unsigned int len = 0;
    Block p(reinterpret_cast<unsigned char*>(
        commas ? ContentCoding::encodeQCommasPtr(in.data(), static_cast<unsigned int>(in.size()), &len)
               : ContentCoding::encodeQPtr(in.data(), static_cast<unsigned int>(in.size()), &len)));
    return p ? std::string(reinterpret_cast<const char*>(p.get()), len) : "<null>";
}

std::string qDecoded(const std::string& text) {
    std::vector<char> exact(text.begin(), text.end());
    unsigned int len = 0;
    Block p(reinterpret_cast<unsigned char*>(
        ContentCoding::decodeQPtr(exact.data(), static_cast<int>(exact.size()), &len)));
    if (!p)
        return "<null>";
    EXPECT_EQ(p.get()[len], 0);
    return std::string(reinterpret_cast<const char*>(p.get()), len);
}

// Latin-1 bytes as UTF-8, as python's codec reads them.
std::string latin1AsUtf8(const std::string& bytes) {
    std::string utf8;
    for (const unsigned char c : bytes) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::string wordsToUtf8(const std::string& text) {
    StringBuffer sb;
    sb.appendBytes(text.data(), static_cast<int>(text.size()));
    ContentCoding::decodeEncodedWordsToUtf8(sb);
    EXPECT_EQ(sb.getStringKind(), 2);
    return str(sb);
}

std::vector<std::string> linesOf(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t e; (e = s.find("\r\n", at)) != std::string::npos; at = e + 2)
        lines.push_back(s.substr(at, e - at));
    lines.push_back(s.substr(at));
    return lines;
}

} // namespace

// ---------------------------------------------------------------- base64

// Python judges the 76-character lines and the tails (see the peer test);
// here only other line lengths and the allocating form.
TEST(Base64Encode, OtherLineLengthsAndAllocatedCopy) {
    for (int requested : {4, 11}) {
        std::vector<std::string> l = linesOf(base64Lines(std::string(30, 'y'), requested));
        ASSERT_EQ(l.size(), 5u) << requested; // 40 characters: 12 + 12 + 12 + 4
        EXPECT_EQ(l[0].size(), 12u);
        EXPECT_EQ(l[3].size(), 4u);
    }
    ContentCoding cc;
    cc.setLineLength(-5);
    EXPECT_EQ(cc.getLineLength(), 10);

    const unsigned char in[] = {0xFB, 0xFF, 0xBF, 0xFE};
    unsigned int len = 7;
    Block p(reinterpret_cast<unsigned char*>(ContentCoding::encodeBase64Ptr(in, sizeof in, &len)));
    ASSERT_TRUE(p);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.get())), "+/+//g==");
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(ContentCoding::encodeBase64Ptr(nullptr, 3, &len), nullptr);
    EXPECT_EQ(len, 0u);
}

TEST(Base64Decode, SkipsWhitespaceAndForeignCharactersAndStopsAtPad) {
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"QUJD\r\nREVG", "ABCDEF"},
        {" Q U\tJ D ", "ABC"},
        {"QUJD=REVG", "ABC"},
        {"QQ", "A"},
        {"QUI", "AB"},
        {"Q", ""},
        {"QU*JD", "ABC"},        // below '+'
        {"QU{JD", "ABC"},        // above 'z'
        {"QU.J:D", "ABC"},       // inside the range, outside the alphabet
        {"QU\xC3\xA9JD", "ABC"}, // 8-bit bytes
        {"-_-_", ""},            // URL-safe letters are not standard base64
    };
    for (const Case& c : cases)
        EXPECT_EQ(base64Decoded(c.in), c.out) << c.in;

    std::string withNul("QUJD\0REVG", 9);
    EXPECT_EQ(base64Decoded(withNul), "ABC");
}

TEST(Base64Decode, EmptyMissingArgumentsAndNoMemory) {
    unsigned int len = 5;
    bool ok = false;
    EXPECT_EQ(ContentCoding::decodeBase64Checked("", 0, &len, &ok), nullptr);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ContentCoding::decodeBase64Ptr("QUJD", 4, nullptr), nullptr);

    DataBuffer db;
    db.append("old", 3);
    EXPECT_TRUE(ContentCoding::decodeBase64("REVG", 4, db));
    EXPECT_EQ(str(db), "DEF"); // replaced, not appended

    StringBuffer sb("x");
    ContentCoding::decodeBase64ToSb(sb, "QUJD");
    EXPECT_STREQ(sb.getString(), "xABC");

    tessik::testing::failAllocationAfter(0);
    EXPECT_FALSE(ContentCoding::decodeBase64("REVG", 4, db));
    tessik::testing::failAllocationAfter(-1);
    EXPECT_EQ(str(db), "DEF");
}

TEST(Base64Peers, EqualsPythonByteForByte) {
    std::mt19937 rng(3);
    std::vector<Bytes> inputs;
    for (std::size_t n : {0, 1, 2, 3, 56, 57, 58, 114, 171, 1000})
        inputs.push_back(texttest::randomText(rng, n));
    for (int i = 0; i < 60; ++i)
        inputs.push_back(texttest::randomText(rng, rng() % 400));

    std::vector<Bytes> lines =
        texttest::pythonEach("out = base64.encodebytes(data).replace(b'\\n', b'\\r\\n')", inputs);
    std::vector<Bytes> plain = texttest::pythonEach("out = base64.b64encode(data)", inputs);
    std::vector<Bytes> url = texttest::pythonEach("out = base64.urlsafe_b64encode(data)", inputs);
    ASSERT_EQ(lines.size(), inputs.size());
    ASSERT_EQ(plain.size(), inputs.size());
    ASSERT_EQ(url.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::string in = inputs[i];
        EXPECT_EQ(base64Lines(in), lines[i]) << i;
        EXPECT_EQ(base64Plain(in), plain[i]) << i;
        StringBuffer u;
        ContentCoding::encodeBase64Url(in.data(), static_cast<unsigned int>(in.size()), u);
        EXPECT_EQ(str(u), url[i]) << i;
        EXPECT_EQ(base64Decoded(lines[i]), in) << i;
        EXPECT_EQ(base64Decoded(plain[i]), in) << i;
    }
}

// ---------------------------------------------------------------- base32

// Each text sits in an exact-size block, so a read past it is caught; missing
// pads count as padding, and bytes outside the alphabet (0xCD has the low bits
// of 'M') are skipped.
TEST(Base32, DecodesLooseText) {
    const std::pair<const char*, const char*> cases[] = {
        {"mfrgg===", "abc"},
        {"MFRGG", "abc"},
        {"ME", "a"},
        {"MFRGGZDFMY", "abcdef"},
        {"M", ""},
        {"MFRG\r\nGZDF", "abcde"},
        {"MF RG-GZ.DF", "abcde"},
        {"01890189", ""},
        {"\xCD"
         "ME======",
         "a"},
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(base32Decoded(text), bytes) << text;
}

TEST(Base32, EqualsPython) {
    std::mt19937 rng(5);
    std::vector<Bytes> inputs;
    for (int i = 0; i < 80; ++i)
        inputs.push_back(texttest::randomText(rng, rng() % 64));
    std::vector<Bytes> enc = texttest::pythonEach("out = base64.b32encode(data)", inputs);
    ASSERT_EQ(enc.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        StringBuffer ours;
        ContentCoding::encodeBase32(inputs[i].data(), static_cast<unsigned int>(inputs[i].size()), ours);
        EXPECT_EQ(str(ours), enc[i]) << i;
        EXPECT_EQ(base32Decoded(enc[i]), inputs[i]) << i;
    }
}

// ---------------------------------------------------------------- quoted-printable

TEST(QuotedPrintableEncode, LineStartsSpacesAndEscapes) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {".x", "=2Ex"},
        {"a\r\n.b", "a\r\n=2Eb"},
        {"From me", "=46rom me"},
        {"Fro", "Fro"},
        {"From", "From"},
        {"a \r\nb", "a=20\r\nb"},
        {"a\t", "a=09"},
        {"a b", "a b"},
        {"a\nb", "a=0Ab"},
        {"a\rb", "a=0Db"},
        {"a=b", "a=3Db"},
        {std::string("\0\xE9\x7F", 3), "=00=E9=7F"},
        // Not "=FFFFFFE9", which decoders read as one sign-extended byte.
        {"\xFF"
         "FFFFE9",
         "=FF=46FFFE9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qpEncoded(c.in), c.out) << c.in;
        EXPECT_EQ(qpDecoded(c.out), c.in) << c.out;
    }
}

TEST(QuotedPrintableEncode, NoLineLongerThanTheLimit) {
    std::mt19937 rng(9);
    for (int round = 0; round < 50; ++round) {
        Bytes in = texttest::randomText(rng, 300, round % 2 ? "ab =\xE9\t.\r\n" : "");
        for (const std::string& line : linesOf(qpEncoded(in)))
            EXPECT_LE(line.size(), 76u);
    }
    for (const std::string& line : linesOf(qpEncoded(std::string(100, '\xFF'), 20)))
        EXPECT_LE(line.size(), 20u);
}

TEST(QuotedPrintableDecode, SoftBreaksEscapesAndTrailingSpace) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"a=\r\nb", "ab"},     {"a=3Db", "a=b"},       {"a=3db", "a=b"},   {"a=ZZ", "a=ZZ"},
        {"a=3", "a=3"},        {"x  \r\ny", "x\r\ny"}, {"x\ny", "x\r\ny"}, {"=FFFFFFE9", "\xE9"},
        {"=ffFFFFE9", "\xE9"}, {"=FF", "\xFF"},        {"last=", "last"},  {"a\r\n", "a\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qpDecoded(c.in), c.out) << c.in;
}

TEST(QuotedPrintableDecode, EightBitBytesAtLineEndAreKept) {
    // U+00E0 in UTF-8 ends in 0xA0, which is a space only without its high bit.
    EXPECT_EQ(qpDecoded("voil\xC3\xA0\r\nx"), "voil\xC3\xA0\r\nx");
    // 0xBD is not '='.
    EXPECT_EQ(qpDecoded("\xBD"
                        "41"),
              "\xBD"
              "41");
}

TEST(QuotedPrintableDecode, BareLineFeedsGrowToLineBreaks) {
    // The one input that decodes longer than itself: every byte a line feed.
    std::string breaks;
    for (int i = 0; i < 5000; ++i)
        breaks += "\r\n";
    EXPECT_EQ(qpDecoded(std::string(5000, '\n')), breaks);
    EXPECT_EQ(qpDecoded("=\n\n"), "\r\n");
}

TEST(QuotedPrintableDecode, EmptyInputAndStopAtNul) {
    DataBuffer db;
    db.append("old", 3);
    EXPECT_FALSE(ContentCoding::decodeQuotedPrintable("", 0, db));
    EXPECT_FALSE(ContentCoding::decodeQuotedPrintable(nullptr, 3, db));
    EXPECT_TRUE(ContentCoding::decodeQuotedPrintable("a=3Db", 5, db));
    EXPECT_EQ(str(db), "a=b");
    EXPECT_EQ(qpDecoded(std::string("ab\0cd", 5)), "ab");
}

TEST(QuotedPrintablePeers, CrossDecodeWithPythonQuopri) {
    std::mt19937 rng(13);
    std::vector<Bytes> inputs;
    for (int i = 0; i < 80; ++i) {
        // CR only before LF: quopri takes a lone LF as a line end too.
        std::string s = texttest::randomText(rng, rng() % 300, i % 3 ? "" : "aB .=\t\xE9\n");
        std::string t;
        for (char c : s) {
            if (c == '\r')
                continue;
            if (c == '\n')
                t += "\r\n";
            else
                t += c;
        }
        if (i % 5 == 0)
            t = "From here\r\n.dot\r\n" + t + " ";
        inputs.push_back(t);
    }
    std::vector<Bytes> ours;
    for (const Bytes& b : inputs)
        ours.push_back(qpEncoded(b));
    std::vector<Bytes> byPython = texttest::pythonEach("out = quopri.decodestring(data)", ours);
    std::vector<Bytes> pythonEncoded = texttest::pythonEach("out = quopri.encodestring(data)", inputs);
    ASSERT_EQ(byPython.size(), inputs.size());
    ASSERT_EQ(pythonEncoded.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(byPython[i], inputs[i]) << i;
        EXPECT_EQ(qpDecoded(pythonEncoded[i]), inputs[i]) << i;
        EXPECT_EQ(qpDecoded(ours[i]), inputs[i]) << i;
    }
}

// ---------------------------------------------------------------- Q encoding

TEST(QEncoding, EncodeAndDecode) {
    EXPECT_EQ(qEncoded("a b?"), "a_b=3F");
    EXPECT_EQ(qEncoded("x=_\xE9,"), "x=3D=5F=E9,");
    EXPECT_EQ(qEncoded("a,b", true), "a=2Cb");
    EXPECT_EQ(qEncoded(""), "<null>");

    EXPECT_EQ(qDecoded("a_b=3F"), "a b?");
    EXPECT_EQ(qDecoded("=e9=E9"), "\xE9\xE9");
    EXPECT_EQ(qDecoded("a=4"), "a=4");
    EXPECT_EQ(qDecoded("a?b\x01\x85"
                       "c d\xA0"),
              "abc d\xA0");
    EXPECT_EQ(qDecoded(""), "<null>");
    unsigned int len = 0;
    Block p(reinterpret_cast<unsigned char*>(ContentCoding::decodeQPtr("ab_c", 0, &len)));
    ASSERT_TRUE(p);
    EXPECT_EQ(len, 4u);
    EXPECT_STREQ(reinterpret_cast<const char*>(p.get()), "ab c");
}

// ---------------------------------------------------------------- encoded words

TEST(EncodedWords, SingleWordsAndAutomaticChoice) {
    ContentCoding cc;
    StringBuffer out;
    cc.encodeEncodedWordAuto("\xA4\xA4", 2, "BIG5", out);
    EXPECT_STREQ(out.getString(), "=?BIG5?B?pKQ=?=");

    out.clear();
    cc.encodeEncodedWordAuto("=?x?q?y?=", 9, "utf-8", out);
    EXPECT_STREQ(out.getString(), "=?x?q?y?=");

    out.clear();
    cc.setEscapeCommas(true);
    cc.encodeQEncodedWord("a,b", 3, nullptr, out);
    EXPECT_STREQ(out.getString(), "=?utf-8?Q?a=2Cb?=");

    out.clear();
    ContentCoding::encodeBEncodedWord("abc", 3, nullptr, out);
    ContentCoding::encodeBEncodedWord(nullptr, 3, "utf-8", out);
    EXPECT_EQ(out.getSize(), 0);
}

// Folding and splitting are judged by python in the peer tests below; plain
// ASCII needs no B word and blanks are never encoded.
TEST(EncodedWords, PlainTextStaysPlain) {
    ContentCoding cc;
    StringBuffer plain;
    cc.encodeBEncodedWords("hello", 5, 65001, "utf-8", plain);
    cc.encodeQEncodedWords(" \t", 2, 65001, "utf-8", plain);
    EXPECT_STREQ(plain.getString(), "hello \t");
    StringBuffer iso;
    cc.encodeBEncodedWords("\x1b$B", 3, 50220, "iso-2022-jp", iso);
    EXPECT_STREQ(iso.getString(), "=?iso-2022-jp?B?GyRC?=");
}

TEST(EncodedWords, DecodeFormsAndCharsets) {
    EXPECT_EQ(wordsToUtf8("=?UTF-8?b?Y2Fmw6k=?="), "caf\xC3\xA9");
    // "8bit" names no charset: the word stays as written, as email.header keeps it.
    EXPECT_EQ(wordsToUtf8("=?8bit?q?x?="), "=?8bit?q?x?=");
    EXPECT_EQ(wordsToUtf8("a =?utf-8?q?"
                          "?= b"),
              "a  b"); // empty word

    StringBuffer names("=?utf-8?q?Doe=2C_Jane?=, bob");
    bool replaced = false;
    ContentCoding::decodeEncodedWordsProtectCommas(names, replaced);
    EXPECT_STREQ(names.getString(), "Doe_COMMA_ Jane, bob");
    EXPECT_TRUE(replaced);
    StringBuffer none("=?utf-8?q?Jane?=, bob");
    ContentCoding::decodeEncodedWordsProtectCommas(none, replaced);
    EXPECT_FALSE(replaced);
}

TEST(EncodedWords, WhitespaceBetweenAdjacentWordsIsDropped) {
    EXPECT_EQ(wordsToUtf8("=?utf-8?q?a?= =?utf-8?q?b?="), "ab");
    EXPECT_EQ(wordsToUtf8("=?utf-8?q?a?=\r\n\t=?utf-8?q?b?="), "ab");
    EXPECT_EQ(wordsToUtf8("=?utf-8?q?a?= x =?utf-8?q?b?="), "a x b");
    EXPECT_EQ(wordsToUtf8("=?utf-8?q?a_?= =?utf-8?q?b?="), "a b");
}

TEST(EncodedWords, MalformedEncodedWordKeepsRestOfText) {
    EXPECT_EQ(wordsToUtf8("Hello =?utf-8?Q?abc"), "Hello =?utf-8?Q?abc");
    EXPECT_EQ(wordsToUtf8("=?utf-8?q?ok?= then =?broken"), "ok then =?broken");
    EXPECT_EQ(wordsToUtf8("a =?utf-8?Q b =?utf-8?q?c?="), "a =?utf-8?Q b c");
    EXPECT_EQ(wordsToUtf8("x=?"), "x=?");
    EXPECT_EQ(wordsToUtf8("=?utf-8?q?"), "=?utf-8?q?");

    // Many openings without a close are one pass, not one scan each.
    std::string open;
    for (int i = 0; i < 100000; ++i)
        open += "=?x?q?a";
    EXPECT_EQ(wordsToUtf8(open), open);
}

TEST(EncodedWords, OtherCharsetsConvertThroughTheEngine) {
    EXPECT_EQ(wordsToUtf8("=?ISO-8859-1?Q?caf=E9?="), "caf\xC3\xA9");
    ContentCoding cc;
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += "caf\xE9 cr\xE8me ";
    StringBuffer words;
    cc.encodeQEncodedWords(text.data(), static_cast<unsigned int>(text.size()), 28591, "iso-8859-1", words);

    EXPECT_NE(str(words).find("\r\n\t"), std::string::npos);
    EXPECT_EQ(wordsToUtf8(str(words)), latin1AsUtf8(text));
    // A word in a charset nobody knows, or without a decoder, stays as
    // written; a byte its charset lacks is U+FFFD, as python's codec with
    // errors="replace" reads it, never dropped.
    EXPECT_EQ(wordsToUtf8("=?x-unknown?q?caf=E9?= =?x-unknown?b?/w==?="),
              "=?x-unknown?q?caf=E9?= =?x-unknown?b?/w==?=");
    EXPECT_EQ(wordsToUtf8("=?us-ascii?q?caf=E9?="), "caf\xEF\xBF\xBD");
    EncodingConvert::installEngine(nullptr);
    EXPECT_EQ(wordsToUtf8("=?iso-8859-1?q?caf=E9?="), "=?iso-8859-1?q?caf=E9?=");
    tessik::installTextServices();
    EXPECT_EQ(wordsToUtf8("=?iso-8859-1?q?caf=E9?="), "caf\xC3\xA9");
}

TEST(EncodedWordsPeers, CrossDecodeWithPythonEmailHeader) {
    std::mt19937 rng(17);
    const std::vector<std::string> pieces = {
        "a", "Z", " ", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "?", "=", "_", ",", "\xF0\x9F\x98\x80", "word", "\t"};
    std::vector<std::string> texts;
    for (int i = 0; i < 60; ++i) {
        std::string t;
        std::size_t n = 1 + rng() % 40;
        for (std::size_t k = 0; k < n; ++k)
            t += pieces[rng() % pieces.size()];
        texts.push_back(t);
    }
    std::vector<Bytes> ours;
    ContentCoding cc;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        StringBuffer w;
        unsigned int n = static_cast<unsigned int>(t.size());
        if (i % 3 == 0)
            cc.encodeBEncodedWords(t.data(), n, 65001, "utf-8", w);
        else if (i % 3 == 1)
            cc.encodeQEncodedWords(t.data(), n, 65001, "utf-8", w);
        else
            cc.encodeEncodedWordAuto(t.data(), n, "utf-8", w);
        ours.push_back(str(w));
    }
    std::vector<Bytes> byPython = texttest::pythonEach(
        "out = str(email.header.make_header(email.header.decode_header(data.decode('ascii')))).encode('utf-8')", ours);
    ASSERT_EQ(byPython.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        // Python drops the white space of text that needed no word.
        if (texts[i].find_first_not_of(" \t") == std::string::npos)
            continue;
        EXPECT_EQ(byPython[i], texts[i]) << ours[i];
    }

    std::vector<Bytes> inputs;
    for (const std::string& t : texts)
        inputs.push_back(t);
    std::vector<Bytes> pyB = texttest::pythonEach(
        "out = email.header.Header(data.decode('utf-8'), 'utf-8', maxlinelen=40).encode().encode('ascii')", inputs);
    ASSERT_EQ(pyB.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(wordsToUtf8(pyB[i]), texts[i]);

    // Q words in another charset, read back as that charset.
    std::vector<Bytes> latin;
    for (int i = 0; i < 30; ++i)
        latin.push_back(texttest::randomText(rng, 1 + rng() % 90, "ab ?=_,.\xE9\xFC\t"));
    std::vector<Bytes> pyQ = texttest::pythonEach(
        "out = email.header.Header(data.decode('latin-1'), 'iso-8859-1').encode().encode('ascii')", latin);
    ASSERT_EQ(pyQ.size(), latin.size());
    for (std::size_t i = 0; i < latin.size(); ++i) {
        EXPECT_EQ(wordsToUtf8(pyQ[i]), latin1AsUtf8(latin[i])) << pyQ[i];
    }
}

// RFC 2047 allows 75 characters per word; longer text becomes several words,
// each of whole characters, and python's email package reads them back.
TEST(EncodedWordsPeers, LongWordsAreSplitWithinSeventyFiveCharacters) {
    enum Form { kB, kQ, kAuto };
    struct Case {
        Form form;
        std::string utf8; // the text; converted to the page first
        int page;
        const char* charset;
    };
    auto times = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i)
            r += s;
        return r;
    };
    const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC", chinese = "\xE4\xB8\xAD\xE6\x96\x87";
    const Case cases[] = {
        {kQ, times("x", 200), 65001, "utf-8"},
        {kB, times("s\xC3\xBC", 80), 65001, "utf-8"},
        {kB, times("\xC3\xA9", 30), 65001, "utf-8"}, // 60 bytes: short, yet too long for one word
        {kQ, times(nihon, 50), 65001, "utf-8"},
        {kB, times("\xF0\x9F\x98\x80", 40), 65001, "utf-8"},
        {kB, times(nihon + " ", 40), 65001, "utf-8"},
        {kB, times(nihon, 40), 50220, "iso-2022-jp"},
        {kQ, times("caf\xC3\xA9", 40), 28591, "iso-8859-1"},
        {kAuto, times(chinese, 40), 950, "big5"},
        {kAuto, times(nihon, 40), 932, "shift_jis"},
        {kAuto, times("\xC3\xA9", 100), 28591, "iso-8859-1"},
        {kAuto, times("ab" + nihon, 60), 65001, "utf-8"},
    };
    ContentCoding cc;
    std::vector<Bytes> ours;
    for (const Case& c : cases) {
        DataBuffer text;
        EncodingConvert conv;
        ASSERT_TRUE(conv.convert(65001, c.page, c.utf8.data(), static_cast<unsigned>(c.utf8.size()), text));
        StringBuffer w;
        if (c.form == kB)
            cc.encodeBEncodedWords(text.getData(), text.getSize(), c.page, c.charset, w);
        else if (c.form == kQ)
            cc.encodeQEncodedWords(text.getData(), text.getSize(), c.page, c.charset, w);
        else
            cc.encodeEncodedWordAuto(text.getData(), text.getSize(), c.charset, w);
        const std::string words = str(w);
        for (std::size_t at = words.find("=?"); at != std::string::npos; at = words.find("=?", at + 2)) {
            const std::size_t end = words.find("?=", words.find('?', words.find('?', at + 2) + 1) + 1);
            ASSERT_NE(end, std::string::npos) << words;
            EXPECT_LE(end + 2 - at, 75u) << c.charset << ": " << words.substr(at, end + 2 - at);
            at = end;
        }
        ours.push_back(words);
    }
    std::vector<Bytes> byPython = texttest::pythonEach(
        "out = str(email.header.make_header(email.header.decode_header(data.decode('ascii')))).encode('utf-8')", ours);
    ASSERT_EQ(byPython.size(), std::size(cases));
    for (std::size_t i = 0; i < byPython.size(); ++i)
        EXPECT_EQ(byPython[i], cases[i].utf8) << ours[i];
}
