// Conversions through the code-page engine, the ISO-2022 transforms and
// their agreement with python3 and iconv.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/Utf.h"
#include "netlib/core/XString.h"
#include "netlib/text/CodePageEngine.h"
#include "netlib/text/Iso2022.h"
#include "netlib/text/TextServices.h"
#include "platform/ByteOrder.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using Bytes = std::vector<unsigned char>;

// Plain mappings are judged page by page against references in
// CodePageTablesTest; the rows here are what lies between pages and around them.
using Engine = ::testing::Test;

// The core converts the UTF family on its own; the rest arrives with the
// text services, and installing them twice changes nothing.
TEST(EngineInstall, OnlyTheTextServicesBringTablePages) {
    EncodingConvert::installEngine(nullptr);
    EXPECT_FALSE(EncodingConvert::isSupportedPage(1252));
    EXPECT_TRUE(EncodingConvert::isSupportedPage(65001));
    tessik::installTextServices();
    tessik::installTextServices();
    EXPECT_TRUE(EncodingConvert::isSupportedPage(1252));
    EXPECT_TRUE(EncodingConvert::isSupportedPage(50225));
    EXPECT_FALSE(EncodingConvert::isSupportedPage(12345));
    EXPECT_TRUE(EncodingConvert::isSupportedPage(65000));
    EXPECT_EQ(EncodingConvert::charsetToCodePage("iso-2022-jp"), 50220);
}

Bytes convert(int from, int to, const Bytes& in, bool* ok = nullptr) {
    DataBuffer out;
    EncodingConvert ec;
    bool r = ec.convert(from, to, in.data(), static_cast<unsigned>(in.size()), out);
    if (ok)
        *ok = r;
    return Bytes(out.getData(), out.getData() + out.getSize());
}

Bytes str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
constexpr unsigned char ESC = 0x1B;

TEST_F(Engine, TablePageConversions) {
    struct Case {
        const char* name;
        int from, to;
        Bytes in, want;
        bool ok;
    } cases[] = {
        {"byte the page lacks, to utf8", 1252, 65001, {'a', 0x81, 'b'}, {'a', 'b'}, true},
        {"byte the page lacks, to utf16", 1252, 1200, {0x81}, {}, false},
        {"unmappable unit", 1200, 1252, {'a', 0, 0x00, 0x30, 'b', 0}, {'a', 'b'}, false},
        {"Arabic-Indic digit on 28596", 1200, 28596, {0x63, 0x06}, {0x33}, true},
        {"extended digit on 1256", 1200, 1256, {0xF5, 0x06}, {0x35}, true},
        {"visual order 10004", 10004, 1200, {0xB1, 0xB2, 0xB3}, {'3', 0, '2', 0, '1', 0}, true},
        {"visual run closed by a space", 10004, 65001, {0xB1, 0xB2, ' ', 0xB3}, {'2', '1', ' ', '3'}, true},
        {"shift_jis lone lead", 932, 1200, {'A', 0x88}, {'A', 0}, false},
        {"byte 0 passes", 37, 1200, {0x00, 0xC1}, {0, 0, 'A', 0}, true},
        {"utf16 to utf16be odd byte", 1200, 1201, {0x41, 0x00, 0x42}, {0x00, 0x41}, true},
        {"949 to ISO-2022-KR",
         949,
         50225,
         {0xB0, 0xA1, 0x41},
         {ESC, '$', ')', 'C', 0x0E, 0x30, 0x21, 0x0F, 0x41},
         true},
        {"949 ending double", 949, 50225, {0xB0, 0xA1}, {ESC, '$', ')', 'C', 0x0E, 0x30, 0x21}, true},
        {"50221 alike", 50221, 932, {ESC, '$', 'B', 0x30, 0x21, ESC, '(', 'B', 0x41}, {0x88, 0x9F, 0x41}, true},
        {"932 to 50222", 932, 50222, {0x88, 0x9F, 0x41}, {ESC, '$', 'B', 0x30, 0x21, ESC, '(', 'B', 0x41}, true},
        {"katakana set", 50220, 932, {ESC, '(', 'I', 0x31}, {0xB1}, true},
        {"half-width to full-width", 932, 50220, {0xB1}, {ESC, '$', 'B', 0x25, 0x22, ESC, '(', 'B'}, true},
        {"voiced mark combines", 932, 50220, {0xB6, 0xDE}, {ESC, '$', 'B', 0x25, 0x2C, ESC, '(', 'B'}, true},
        {"voiced mark alone", 932, 50220, {0xB1, 0xDE}, {ESC, '$', 'B', 0x25, 0x22, 0x21, 0x2B, ESC, '(', 'B'}, true},
        {"IBM extension FA40", 932, 50220, {0xFA, 0x40}, {ESC, '$', 'B', 0x7C, 0x71, ESC, '(', 'B'}, true},
        {"IBM extension FC4B", 932, 50220, {0xFC, 0x4B}, {ESC, '$', 'B', 0x7C, 0x6E, ESC, '(', 'B'}, true},
        {"extension row back", 50220, 932, {ESC, '$', 'B', 0x79, 0x21}, {0xFA, 0x5C}, true},
        {"kanji around CR LF",
         932,
         50220,
         {0x88, 0x9F, '\r', '\n', 0x88, 0x9F},
         {ESC, '$', 'B', 0x30, 0x21, ESC, '(', 'B', '\r', '\n', ESC, '$', 'B', 0x30, 0x21, ESC, '(', 'B'},
         true},
        {"empty ISO-2022 result", 50220, 65001, {ESC, '$', 'B'}, {}, true},
        {"UTF-7 to 1252", 65000, 1252, str("+AKM-1 +IKw-"), {0xA3, '1', ' ', 0x80}, true},
        {"UTF-7 to ISO-2022-JP",
         65000,
         50220,
         str("+ZeVnLIqe-"),
         {ESC, '$', 'B', 0x46, 0x7C, 0x4B, 0x5C, 0x38, 0x6C, ESC, '(', 'B'},
         true},
        // Unsupported pages: false and nothing written, whichever side.
        {"unsupported source", 12345, 1200, {'a'}, {}, false},
        {"unsupported destination", 1252, 12345, {'a'}, {}, false},
        {"unsupported to table page", 12345, 1252, {'a'}, {}, false},
        {"same unsupported page copies", 12345, 12345, {'a'}, {'a'}, true},
        {"page 0 copies", 0, 1252, {0xFF, 0xFE}, {0xFF, 0xFE}, true},
        {"destination 0 copies", 1252, 0, {0x80}, {0x80}, true},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(convert(c.from, c.to, c.in, &ok), c.want) << c.name;
        EXPECT_EQ(ok, c.ok) << c.name;
    }
}

TEST_F(Engine, CharsetNamesAndAnsi) {
    DataBuffer out;
    EncodingConvert ec;
    EXPECT_FALSE(ec.convertBetweenCharsetNames("no-such-charset", "utf-8", "a", 1, out));
    EXPECT_FALSE(ec.convertFromCharsetName("no-such-charset", 65001, "a", 1, out));
    EXPECT_FALSE(ec.convertToCharsetName(65001, "no-such-charset", "a", 1, out));
    EXPECT_EQ(out.getSize(), 0u);
    EXPECT_TRUE(ec.convertToCharsetName(65001, "shift_jis", "\xE4\xBA\x9C", 3, out));
    EXPECT_TRUE(out.equalsBytes("\x88\x9F", 2));
    out.clear();
    EXPECT_TRUE(ec.convertWithPreamble(1252, 1200, "\xE9", 1, out));
    EXPECT_TRUE(out.equalsBytes("\xFF\xFE\xE9\x00", 4));
    out.clear();
    EXPECT_FALSE(ec.convertWithPreamble(12345, 65001, "a", 1, out)); // no mark for a text never written
    EXPECT_EQ(out.getSize(), 0u);
}

// The buffers' and text value's conversions reach the table pages.
TEST_F(Engine, CoreOperationsThroughTheEngine) {
    DataBuffer sjis;
    sjis.append("\x93\xFA\x96\x7B", 4); // 日本
    XString x;
    EXPECT_TRUE(sjis.decodeCharsetToX("Shift_JIS", x));
    EXPECT_STREQ(x.getUtf8(), "\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_TRUE(sjis.decodeCharsetToX("no-such-charset", x)); // page 0: the bytes as UTF-16
    EXPECT_EQ(x.getSizeUtf16(), 4);

    tessik::StringBuffer sb("\xD0\x9F\xD1\x80\xD0\xB8"); // При
    EXPECT_TRUE(sb.convertEncoding(65001, 1251));
    EXPECT_STREQ(sb.getString(), "\xCF\xF0\xE8");
    EXPECT_FALSE(sb.convertEncoding(1251, 12345));

    XString y;
    y.setFromUtf8("caf\xC3\xA9 \xE2\x82\xAC");
    DataBuffer out;
    EXPECT_TRUE(y.getConvertedToCodePage(1252, false, out));
    EXPECT_TRUE(out.equalsBytes("caf\xE9 \x80", 6));
    out.clear();
    EXPECT_FALSE(y.getConvertedToCodePage(37, false, out)); // EBCDIC without the euro sign
    EXPECT_TRUE(out.equalsBytes("\x83\x81\x86\x51\x40", 5));
    EXPECT_TRUE(y.appendFromCharset(" \xE4", "iso-8859-1"));
    EXPECT_STREQ(y.getUtf8(), "caf\xC3\xA9 \xE2\x82\xAC \xC3\xA4");
}

// Letters alone are judged by python below; here the sound marks that join them.
TEST_F(Engine, KatakanaMarksAndForms) {
    tessik::Japanese j;
    struct Case {
        unsigned char letter;
        Bytes following;
        int form;
        unsigned consumed;
        unsigned char first, second;
    } cases[] = {
        {0xB3, {0xDE}, 5, 1, 0x83, 0x94},       // U -> VU
        {0xCA, {0xDF}, 5, 1, 0x83, 0x70},       // HA -> PA
        {0xCA, {0xDE}, 5, 1, 0x83, 0x6F},       // HA -> BA
        {0xC4, {0x8E, 0xDE}, 4, 2, 0x83, 0x68}, // TO -> DO, EUC-JP form
        {0xB1, {0xDF}, 5, 0, 0x83, 0x41},       // A takes no mark
    };
    for (const auto& c : cases) {
        unsigned char first = c.letter, second = 0;
        unsigned n = j.halfWidthKatakanaToFullWidth(c.following.data(), static_cast<unsigned>(c.following.size()),
                                                    first, second, c.form);
        EXPECT_EQ(n, c.consumed) << int(c.letter);
        EXPECT_EQ(first, c.first) << int(c.letter);
        EXPECT_EQ(second, c.second) << int(c.letter);
    }
}

// Every half-width katakana letter becomes the full-width letter python3's
// NFKC normalisation gives, as page 932 writes it (the sound marks as the
// spacing marks, which NFKC gives in their combining forms).
TEST_F(Engine, HalfWidthTableAgreesWithPython) {
    const auto peer =
        grvtest::Python("import unicodedata,sys;"
                        "f=lambda s:s.replace(chr(0x3099),chr(0x309B)).replace(chr(0x309A),chr(0x309C));"
                        "sys.stdout.write(''.join(f(unicodedata.normalize('NFKC',bytes([b]).decode('cp932')))"
                        ".encode('cp932').hex() for b in range(0xA1,0xE0)))");
    ASSERT_EQ(peer.status, 0) << peer.err;
    const std::string& hex = peer.out;
    ASSERT_EQ(hex.size(), 63u * 4);
    tessik::Japanese j;
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        unsigned char first = static_cast<unsigned char>(b), second = 0;
        j.halfWidthKatakanaToFullWidth(nullptr, 0, first, second, 5);
        unsigned want = static_cast<unsigned>(std::stoul(hex.substr((b - 0xA1) * 4, 4), nullptr, 16));
        EXPECT_EQ((first << 8) | second, want) << std::hex << b;
    }
}

const char* kJapanese = "Gorvane 日本語のテキスト、カタカナ。\r\n漢字かな交じり文 ＡＢＣ ABC\n";
const char* kKorean = "한국어 텍스트 ABC 가나다\r\n둘째 줄";

std::string utf8Of(int page, const std::string& bytes) {
    Bytes b = convert(page, 65001, str(bytes));
    return std::string(b.begin(), b.end());
}

std::string fromUtf8(int page, const std::string& text, bool* ok = nullptr) {
    Bytes b = convert(65001, page, str(text), ok);
    return std::string(b.begin(), b.end());
}

TEST_F(Engine, Iso2022CrossDecodesWithPythonAndIconv) {
    struct Case {
        int page;
        const char* text;
        const char* python;
        const char* iconv;
    } cases[] = {
        {50220, kJapanese, "iso2022_jp", "ISO-2022-JP"},
        {50222, "日本語 ABC\n", "iso2022_jp", "ISO-2022-JP"},
        {50225, kKorean, "iso2022_kr", "ISO-2022-KR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.python);
        bool ok = false;
        std::string ours = fromUtf8(c.page, c.text, &ok);
        EXPECT_TRUE(ok);
        // python3 decodes ours and encodes the text for us to decode.
        const std::string recode = "import sys;sys.stdout.buffer.write(sys.stdin.buffer.read().decode(sys.argv[1])"
                                   ".encode(sys.argv[2]))";
        auto peer = grvtest::Python(recode, {c.python, "utf-8"}, ours);
        EXPECT_EQ(peer.status, 0) << peer.err;
        EXPECT_EQ(peer.out, c.text);
        peer = grvtest::Python(recode, {"utf-8", c.python}, c.text);
        EXPECT_EQ(peer.status, 0) << peer.err;
        EXPECT_EQ(utf8Of(c.page, peer.out), c.text);
        peer = grvtest::RunPeer({"iconv", "-f", c.iconv, "-t", "UTF-8"}, ours);
        EXPECT_EQ(peer.status, 0) << peer.out;
        EXPECT_EQ(peer.out, c.text);
        peer = grvtest::RunPeer({"iconv", "-f", "UTF-8", "-t", c.iconv}, c.text);
        EXPECT_EQ(peer.status, 0) << peer.out;
        EXPECT_EQ(utf8Of(c.page, peer.out), c.text);
    }
}

} // namespace

namespace {

std::string hexOf(const Bytes& b) {
    return grvtest::ToHex(b.data(), b.size());
}

Bytes utf16Of(unsigned long cp) {
    Bytes units(cp < 0x10000 ? 2 : 4);
    if (cp < 0x10000) {
        platform::StoreLe16(units.data(), static_cast<std::uint16_t>(cp));
    } else {
        const unsigned long v = cp - 0x10000;
        platform::StoreLe16(units.data(), static_cast<std::uint16_t>(0xD800 + (v >> 10)));
        platform::StoreLe16(units.data() + 2, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
    }
    return units;
}

} // namespace

// "gb18030" is GB18030, four-byte codes included: every BMP character and a
// spread of supplementary ones are written as python's codec or glibc's iconv
// writes them (they follow different editions of the standard, so either
// decides), and every four-byte code is read as one of them reads it.
TEST_F(Engine, Gb18030AgreesWithPythonOrIconv) {
    EXPECT_EQ(EncodingConvert::charsetToCodePage("gb18030"), 54936);
    DataBuffer text;
    EncodingConvert ec;
    const std::string mixed = "\xD6\xD0\xCE\xC4\x95\x32\x82\x36"; // 中文𠀀
    EXPECT_TRUE(ec.convertFromCharsetName("gb18030", 65001, mixed.data(), 8, text));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.getData()), text.getSize()),
              "\xE4\xB8\xAD\xE6\x96\x87\xF0\xA0\x80\x80");

    std::string script = "import sys; sys.path.insert(0, '" GRV_SOURCE_DIR "/scripts/codepages'); import sources\n"
                         "iv = sources.Iconv('GB18030', 'UTF-32LE'); ivd = sources.Iconv('UTF-32LE', 'GB18030')\n"
                         "def py(f):\n"
                         "  try: return f().hex()\n"
                         "  except UnicodeError: return '-'\n"
                         "for l in sys.stdin:\n"
                         "  k, v = l.split()\n"
                         "  if k == 'E': c = chr(int(v, 16)); r = (py(lambda: c.encode('gb18030')), "
                         "(iv.run(c.encode('utf-32-le')) or b'').hex() or '-')\n"
                         "  else: b = bytes.fromhex(v); r = (py(lambda: b.decode('gb18030').encode('utf-16-le')), "
                         "(ivd.run(b) or b'').decode('utf-32-le').encode('utf-16-le').hex() or '-')\n"
                         "  print(*r)";
    std::vector<unsigned long> points;
    for (unsigned long cp = 0x80; cp < 0x10000; ++cp) {
        if (cp < 0xD800 || cp > 0xDFFF)
            points.push_back(cp);
    }
    for (unsigned long cp = 0x10000; cp <= 0x10FFFF; cp += 0x1357)
        points.push_back(cp);
    points.push_back(0x10FFFF);
    std::vector<Bytes> codes;
    for (long i = 0; i < 39420 + 10; ++i) { // the BMP codes and a few past them
        codes.push_back({static_cast<unsigned char>(0x81 + i / 12600), static_cast<unsigned char>(0x30 + i / 1260 % 10),
                         static_cast<unsigned char>(0x81 + i / 10 % 126), static_cast<unsigned char>(0x30 + i % 10)});
    }
    for (const Bytes& c : std::vector<Bytes>{
             {0x90, 0x30, 0x81, 0x30}, {0xE3, 0x32, 0x9A, 0x35}, {0xE3, 0x32, 0x9A, 0x36}, {0x85, 0x30, 0x81, 0x30}})
        codes.push_back(c);
    std::string input;
    char line[32];
    for (unsigned long cp : points) {
        std::snprintf(line, sizeof line, "E %lx\n", cp);
        input += line;
    }
    for (const Bytes& c : codes)
        input += "D " + hexOf(c) + "\n";
    const auto judged = grvtest::Python(script, {}, input);
    ASSERT_EQ(judged.status, 0) << judged.err;
    std::istringstream peers(judged.out);

    int mismatches = 0;
    auto judge = [&](const std::string& what, const std::string& ours) {
        std::string py, iv;
        peers >> py >> iv;
        if (ours == py || ours == iv)
            return;
        if (++mismatches <= 5)
            ADD_FAILURE() << what << ": ours " << ours << ", python " << py << ", iconv " << iv;
    };
    // The engine itself: a converter from 1200 would take U+FEFF for a byte-order mark.
    auto engine = [](bool (*f)(int, const unsigned char*, unsigned int, DataBuffer&), const Bytes& in) {
        DataBuffer out;
        const bool ok = f(54936, in.data(), static_cast<unsigned>(in.size()), out);
        return ok ? hexOf(Bytes(out.getData(), out.getData() + out.getSize())) : std::string("-");
    };
    for (unsigned long cp : points)
        judge("U+" + hexOf(utf16Of(cp)), engine(tessik::utf16ToTablePage, utf16Of(cp)));
    for (const Bytes& c : codes)
        judge(hexOf(c), engine(tessik::tablePageToUtf16, c));
    EXPECT_EQ(mismatches, 0);
}

// Lost input is counted, not hidden: python's decoders, with an error handler
// that drops and counts, write the same text and count the same bytes for
// ill-formed UTF-8 and for the bytes page 1252 lacks (dropped on the way to
// UTF-8, where the conversion still reports success).
TEST_F(Engine, DroppedInputIsCountedAsPythonCountsIt) {
    std::mt19937 rng(27);
    const Bytes utf8Alphabet = {'a',  ' ',  0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x80, 0xBF, 0xF0,
                                0x9F, 0x98, 0xC0, 0xE0, 0xA0, 0xF4, 0x90, 0xF8, 0xFF};
    const Bytes cp1252Alphabet = {'a', 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0x80, 0xE9, 0x9F};
    struct Sample {
        int page;
        Bytes bytes;
    };
    std::vector<Sample> samples;
    for (int i = 0; i < 200; ++i) {
        const Bytes& alphabet = i % 2 ? cp1252Alphabet : utf8Alphabet;
        Bytes b(1 + rng() % 24);
        for (auto& c : b)
            c = alphabet[rng() % alphabet.size()];
        samples.push_back({i % 2 ? 1252 : 65001, b});
    }
    std::string input;
    for (const Sample& s : samples)
        input += (s.page == 65001 ? "utf-8 " : "cp1252 ") + hexOf(s.bytes) + "\n";
    const auto judged = grvtest::Python("import sys, codecs\n"
                                        "n = [0]\n"
                                        "def count(e):\n"
                                        "  n[0] += e.end - e.start\n"
                                        "  return ('', e.end)\n"
                                        "codecs.register_error('count', count)\n"
                                        "for l in sys.stdin:\n"
                                        "  enc, data = l.split(); n[0] = 0\n"
                                        "  text = bytes.fromhex(data).decode(enc, 'count')\n"
                                        "  print((text.encode('utf-16-le') if enc == 'utf-8' else "
                                        "text.encode('utf-8')).hex() or '-', n[0])",
                                        {}, input);
    ASSERT_EQ(judged.status, 0) << judged.err;
    std::istringstream peers(judged.out);
    for (const Sample& s : samples) {
        std::string text;
        std::uint64_t dropped = 0;
        peers >> text >> dropped;
        EncodingConvert ec;
        DataBuffer out;
        EXPECT_TRUE(ec.convert(s.page, s.page == 65001 ? 1200 : 65001, s.bytes.data(),
                               static_cast<unsigned>(s.bytes.size()), out));
        const Bytes ours(out.getData(), out.getData() + out.getSize());
        EXPECT_EQ(ours.empty() ? "-" : hexOf(ours), text) << s.page << " " << hexOf(s.bytes);
        EXPECT_EQ(ec.getDroppedCount(), dropped) << s.page << " " << hexOf(s.bytes);
    }
}

// The readers' decoder on generated input, each sample judged whole: the
// Encoding Standard's ISO-2022-JP decoder (tests/data/text), python's
// UTF-16, single-byte and multi-byte codecs with U+FFFD for errors. Escapes
// the variant lacks were swallowed with what followed, a line feed left a
// two-byte run, 8-bit bytes, U+0000 and an odd last byte of UTF-16
// vanished; lone bytes of Shift_JIS, EUC-JP and GBK read as private-use
// characters and C1 controls.
TEST_F(Engine, ReadersDecodeGeneratedInputAsTheReferenceDoes) {
    std::mt19937 rng(108);
    struct Family {
        int page;
        const char* judge;
        Bytes alphabet;
    } families[] = {
        {50220, "standard", {0x1B, 0x1B, '$',  '(',  'B',  '@',  'J',  'I',  'A', 'N',  '!', '0',
                             '_',  0x7E, 0x5C, 0x0A, 0x0E, 0x84, 0xFC, 0x00, 'a', 0x21, 0x30}},
        {1200, "utf-16-le", {0x00, 0x00, 'a', 0xD8, 0xDC, 0xD0, 0x3C}},
        {1201, "utf-16-be", {0x00, 0x00, 'a', 0xD8, 0xDC, 0xD0, 0x3C}},
        {1251, "cp1251", {0x00, 'a', 0x98, 0xC1, 0x80, '<'}},
        {20866, "koi8-r", {0x00, 'a', 0xC1, 0xFF, '<'}},
        // Lone bytes the multi-byte pages' tables gave private-use
        // characters or C1 controls.
        {932, "shift_jis", {0x00, 'a', 0xA0, 0xB1, 0xFD, 0xFE, 0xFF, '<'}},
        {51932, "euc_jp", {0x00, 'a', 0x81, 0x8D, 0x90, 0x9F, 0xFF, '<'}},
        {936, "gbk", {0x00, 'a', 0xFF, '<'}},
    };
    struct Sample {
        const Family* family;
        Bytes bytes;
    };
    std::vector<Sample> samples;
    std::string input;
    for (int i = 0; i < 2000; ++i) {
        const Family& f = families[i % std::size(families)];
        Bytes b(1 + rng() % 20);
        for (auto& c : b)
            c = f.alphabet[rng() % f.alphabet.size()];
        samples.push_back({&f, b});
        input += std::string(f.judge) + " " + hexOf(b) + "\n";
    }
    const auto judged = grvtest::Python("import sys\n"
                                        "sys.path.insert(0, sys.argv[1])\n"
                                        "from iso2022jp_standard import decode\n"
                                        "for l in sys.stdin:\n"
                                        "  enc, data = l.split()\n"
                                        "  data = bytes.fromhex(data)\n"
                                        "  text = decode(data) if enc == 'standard' else data.decode(enc, 'replace')\n"
                                        "  print(text.encode('utf-8').hex() or '-')",
                                        {std::string(GRV_TEST_DATA_DIR) + "/text"}, input);
    ASSERT_EQ(judged.status, 0) << judged.err;
    std::istringstream peers(judged.out);
    int wrong = 0;
    for (const Sample& s : samples) {
        std::string want;
        peers >> want;
        EncodingConvert ec;
        DataBuffer out;
        std::uint64_t replaced = 0;
        EXPECT_TRUE(
            ec.decodeToUtf8(s.family->page, s.bytes.data(), static_cast<unsigned>(s.bytes.size()), out, replaced));
        const Bytes ours(out.getData(), out.getData() + out.getSize());
        if ((ours.empty() ? "-" : hexOf(ours)) != want && ++wrong <= 10)
            ADD_FAILURE() << s.family->judge << " " << hexOf(s.bytes) << " gives " << hexOf(ours) << ", not " << want;
    }
    EXPECT_EQ(wrong, 0);
}

// What python has no like for: the unit 0 that UTF-8 text does not carry,
// units a page lacks, UTF-7 that does not decode. The output stays as it was;
// the count and the verbose log tell.
TEST_F(Engine, DroppedInputIsCountedAndLogged) {
    struct Case {
        const char* name;
        int from, to;
        Bytes in, want;
        std::uint64_t dropped;
    } cases[] = {
        {"unit 0 to utf8", 1200, 65001, {'a', 0, 0, 0, 'b', 0}, {'a', 'b'}, 2},
        {"odd last byte", 1200, 65001, {'a', 0, 'b'}, {'a'}, 1},
        {"unit 1252 lacks", 1200, 1252, {'a', 0, 0x00, 0x30, 'b', 0}, {'a', 'b'}, 2},
        {"utf8 character 1252 lacks", 65001, 1252, {0xE3, 0x80, 0x80, 'x'}, {'x'}, 2},
        {"utf7 8-bit byte", 65000, 1200, {'a', 0xE9}, {'a', 0, 0xE9, 0}, 1},
        {"utf7 run making no unit", 65000, 65001, {'a', '+', 'A', 'A', '-', 'b'}, {'a', 'b'}, 3},
        {"utf7 bits left over", 65000, 1200, {'+', 'A', 'G', 'E', 'B', '-'}, {'a', 0}, 1},
        {"utf7 nul byte", 65000, 1200, {'a', 0, 'b'}, {'a', 0, 'b', 0}, 1},
        {"gb18030 code past the BMP codes", 54936, 1200, {0x84, 0x31, 0xA5, 0x30, 'x'}, {'x', 0}, 4},
        {"nothing lost", 65001, 1252, {0xE2, 0x82, 0xAC}, {0x80}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EncodingConvert ec;
        Logger log;
        ec.setVerboseLog(&log);
        DataBuffer out;
        ec.convert(c.from, c.to, c.in.data(), static_cast<unsigned>(c.in.size()), out);
        EXPECT_EQ(Bytes(out.getData(), out.getData() + out.getSize()), c.want);
        EXPECT_EQ(ec.getDroppedCount(), c.dropped);
        tessik::StringBuffer text;
        log.getLogText(text);
        const std::string logged = text.getString();
        if (c.dropped == 0) {
            EXPECT_EQ(logged.find("numBytesDropped"), std::string::npos) << logged;
        } else {
            EXPECT_NE(logged.find("numBytesDropped: " + std::to_string(c.dropped)), std::string::npos) << logged;
        }
    }
}

namespace {

// Text for a page: valid characters of the page, stray bytes, zeros and
// (from UTF-8) characters beyond the Basic Multilingual Plane.
Bytes mixedInput(int from, std::mt19937& rng, std::size_t size) {
    Bytes out;
    std::uniform_int_distribution<int> pick(0, 99);
    while (out.size() < size) {
        int k = pick(rng);
        if (k < 40) {
            out.push_back(static_cast<unsigned char>(0x20 + rng() % 0x5F));
        } else if (k < 42) {
            out.push_back(0);
        } else if (from == 65001 && k < 90) {
            // A code point of any plane, surrogates included, as UTF-8.
            std::uint32_t v = k < 60   ? 0x80 + rng() % 0x780
                              : k < 85 ? 0x800 + rng() % 0xF800
                                       : 0x10000 + rng() % 0x100000;
            if (v < 0x800) {
                out.insert(out.end(),
                           {static_cast<unsigned char>(0xC0 | v >> 6), static_cast<unsigned char>(0x80 | (v & 0x3F))});
            } else if (v < 0x10000) {
                out.insert(out.end(), {static_cast<unsigned char>(0xE0 | v >> 12),
                                       static_cast<unsigned char>(0x80 | (v >> 6 & 0x3F)),
                                       static_cast<unsigned char>(0x80 | (v & 0x3F))});
            } else {
                out.insert(out.end(), {static_cast<unsigned char>(0xF0 | v >> 18),
                                       static_cast<unsigned char>(0x80 | (v >> 12 & 0x3F)),
                                       static_cast<unsigned char>(0x80 | (v >> 6 & 0x3F)),
                                       static_cast<unsigned char>(0x80 | (v & 0x3F))});
            }
        } else {
            out.push_back(static_cast<unsigned char>(rng()));
        }
    }
    return out;
}

struct Outcome {
    Bytes bytes;
    bool result;
    std::uint64_t dropped;
};

// The road through UTF-16, step by step.
Outcome throughUtf16(int from, int to, const Bytes& in) {
    EncodingConvert first, second;
    DataBuffer utf16, out;
    first.convert(from, 1200, in.data(), static_cast<unsigned>(in.size()), utf16);
    Outcome o{{}, true, first.getDroppedCount()};
    if (to == 65001) {
        for (unsigned i = 0; i + 1 < utf16.getSize(); i += 2)
            if (utf16.getData()[i] == 0 && utf16.getData()[i + 1] == 0)
                o.dropped += 2;
        tessik::utf16ToUtf8(utf16.getData(), utf16.getSize(), out);
    } else {
        o.result = second.utf16ToCodePage(to, utf16.getData(), utf16.getSize(), out);
        o.dropped += second.getDroppedCount();
    }
    o.bytes.assign(out.getData(), out.getData() + out.getSize());
    return o;
}

// Every conversion taken in one pass gives the bytes, result and dropped
// count of the road through UTF-16, across the boundaries of its rounds.
TEST_F(Engine, OnePassMatchesTheRoadThroughUtf16) {
    const int pages[] = {932, 936, 949, 950, 1361, 10001, 51932, 51936, 51949, 1252, 1251, 437, 37, 10004, 28596};
    const struct {
        int from, to;
    } crossings[] = {{932, 51932}, {936, 950}, {1252, 437}, {37, 1252}, {949, 1361}};
    std::vector<std::pair<int, int>> pairs;
    for (int page : pages) {
        pairs.push_back({65001, page});
        pairs.push_back({page, 65001});
    }
    for (const auto& c : crossings)
        pairs.push_back({c.from, c.to});
    std::mt19937 rng(28);
    for (const auto& [from, to] : pairs) {
        for (std::size_t size : {1u, 7u, 200000u}) {
            Bytes in = mixedInput(from, rng, size);
            const Outcome want = throughUtf16(from, to, in);
            EncodingConvert ec;
            DataBuffer out;
            out.append("kept", 4);
            const bool result = ec.convert(from, to, in.data(), static_cast<unsigned>(in.size()), out);
            ASSERT_EQ(Bytes(out.getData() + 4, out.getData() + out.getSize()), want.bytes)
                << from << "->" << to << " " << size;
            EXPECT_EQ(result, want.result) << from << "->" << to << " " << size;
            EXPECT_EQ(ec.getDroppedCount(), want.dropped) << from << "->" << to << " " << size;
        }
    }
}

} // namespace
