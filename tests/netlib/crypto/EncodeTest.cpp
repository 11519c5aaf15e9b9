#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsEncode.h"
#include "netlib/crypto/Uu.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

struct Bytes : DataBuffer {
    explicit Bytes(const std::string& s) { append(s.data(), static_cast<unsigned int>(s.size())); }
    std::string str() const { return std::string(reinterpret_cast<const char*>(getData()), getSize()); }
};

std::string encode(int mode, const std::string& data) {
    ClsEncode enc;
    enc.setEncodingMode(mode);
    XString out;
    out.setFromUtf8("stale");
    enc.encodeBytes(Bytes(data), out, false);
    return out.getUtf8();
}

std::string decode(int mode, const std::string& text) {
    ClsEncode enc;
    enc.setEncodingMode(mode);
    XString in;
    in.setFromUtf8Bytes(text.data(), static_cast<unsigned int>(text.size()));
    Bytes out("");
    enc.decodeToBytes(in, out, false);
    return out.str();
}

std::string uuencode(const std::string& data, const char* mode = "", const char* name = "") {
    StringBuffer sb;
    Uu::uuencode(Bytes(data), mode, name, sb);
    return sb.getString();
}

TEST(EncodingModes, EncodeLikePythonAndRoundTrip) {
    const std::vector<std::string> samples = {
        "", "a", "\xfb\xff", std::string("\0\x01\x02 +/=%&", 10),
        std::string(reinterpret_cast<const char*>(grvtest::RandomBytes(1000, 36).data()), 1000)};
    const std::pair<int, const char*> judged[] = {
        {kEncodeBase64, "base64.b64encode(d).decode()"},
        {kEncodeHex, "d.hex().upper()"},
        {kEncodeBase32, "base64.b32encode(d).decode()"},
        {kEncodeModBase64, "base64.urlsafe_b64encode(d).decode()"},
    };
    for (const auto& data : samples) {
        for (auto [mode, expr] : judged) {
            auto py = grvtest::Python(
                std::string("import base64,sys; d=sys.stdin.buffer.read(); sys.stdout.write(") + expr + ")", {}, data);
            ASSERT_TRUE(py.Ok()) << py.err;
            EXPECT_EQ(encode(mode, data), py.out) << mode;
        }
        for (int mode : {kEncodeBase64, kEncodeQp, kEncodeHex, kEncodeUrl, kEncodeBase32, kEncodeUu, kEncodeModBase64})
            EXPECT_EQ(grvtest::ToHex(decode(mode, encode(mode, data))), grvtest::ToHex(data)) << mode;
    }
    // The ANSI mode carries text (the ANSI code page is UTF-8 here).
    EXPECT_EQ(decode(kEncodeAnsi, encode(kEncodeAnsi, "Grüße, 日本")), "Grüße, 日本");
    // White space around the text is trimmed before decoding.
    EXPECT_EQ(decode(kEncodeHex, " \r\n4142\t"), "AB");
    EXPECT_EQ(decode(kEncodeModBase64, "-_8=\r\n"), "\xfb\xff");
}

// Texts that start (and some that end) with white space or a line break:
// python's quopri reads our encoding back to the same bytes, and so do we.
TEST(EncodingModes, QuotedPrintableKeepsWhiteSpaceAtBothEnds) {
    std::mt19937 rng(2045);
    const std::string alphabet = "abc XYZ\t=.\r\n\xe9\xff";
    const std::string starts[] = {" ", "\t", "  \t", "\r\n", " \r\n"};
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
        std::string t = starts[rng() % std::size(starts)];
        for (std::size_t n = rng() % 120; n > 0; --n)
            t += alphabet[rng() % alphabet.size()];
        if (i % 3 == 0)
            t += i % 2 ? "\r\n" : " ";
        texts.push_back(t);
    }
    std::string encoded;
    for (const std::string& t : texts)
        encoded += grvtest::ToHex(encode(kEncodeQp, t)) + "\n";
    auto py = grvtest::Python("import quopri,sys\n"
                              "for line in sys.stdin.read().split():\n"
                              "    print(quopri.decodestring(bytes.fromhex(line)).hex())\n",
                              {}, encoded);
    ASSERT_TRUE(py.Ok()) << py.err;
    std::istringstream decoded(py.out);
    for (const std::string& t : texts) {
        std::string theirs;
        std::getline(decoded, theirs);
        EXPECT_EQ(theirs, grvtest::ToHex(t)) << "python on our encoding of " << grvtest::ToHex(t);
        EXPECT_EQ(grvtest::ToHex(decode(kEncodeQp, encode(kEncodeQp, t))), grvtest::ToHex(t));
    }
}

TEST(EncodingModes, AppendRulesAndSilentModes) {
    // Base64 decoding appends whatever the flag says; hex replaces unless told.
    struct Case {
        int mode;
        const char* text;
        bool append;
        const char* expect;
    } cases[] = {
        {kEncodeBase64, "QUI=", false, "oldAB"}, {kEncodeQp, "A=42", false, "oldAB"}, {kEncodeHex, "4142", false, "AB"},
        {kEncodeHex, "4142", true, "oldAB"},     {kEncodeHtml, "4142", false, "old"}, {9, "QUI=", false, "old"},
    };
    for (const auto& c : cases) {
        ClsEncode enc;
        enc.setEncodingMode(c.mode);
        XString in;
        in.setFromUtf8(c.text);
        Bytes out("old");
        enc.decodeToBytes(in, out, c.append);
        EXPECT_EQ(out.str(), c.expect) << c.mode << " " << c.text;
    }
    // Modes that produce nothing leave the text alone; append adds.
    ClsEncode enc;
    XString out;
    out.setFromUtf8("keep");
    enc.setEncodingMode(kEncodeHtml);
    enc.encodeBytes(Bytes("x"), out, false);
    EXPECT_STREQ(out.getUtf8(), "keep");
    enc.setEncodingMode(kEncodeHex);
    enc.encodeBytes(Bytes("x"), out, true);
    EXPECT_STREQ(out.getUtf8(), "keep78");
}

TEST(Uuencode, ExactTextOfSmallInputs) {
    const std::string tail = "`\r\nend\r\n";
    EXPECT_EQ(uuencode("abc"), "begin 644 file.dat\r\n#86)C\r\n" + tail);
    EXPECT_EQ(uuencode(std::string(3, '\0')), "begin 644 file.dat\r\n# ```\r\n" + tail);
    EXPECT_EQ(uuencode("a"), "begin 644 file.dat\r\n!80``\r\n" + tail);
    EXPECT_EQ(uuencode("abc", " 600 ", " x y "), "begin 600 x y\r\n#86)C\r\n" + tail);
    EXPECT_EQ(uuencode(""), "");
}

TEST(Uuencode, BeginLinesAndMalformedText) {
    struct Case {
        const char* text;
        bool ok;
        const char* mode;
        const char* name;
        const char* data;
    } cases[] = {
        {"junk\nbegin 0755 my file.txt\n#86)C\n`\nend\n", true, "755", "my file.txt", "abc"},
        {"begin 644\n#86)C\nend", true, "644", "", "abc"},
        {"BEGIN 644 x\n#86)C\n`\nend\n", false, "", "", ""},
        {"begin xyz name\n#86)C\n", false, "", "", ""},
        {"no begin at all\n", false, "", "", ""},
        {"begin 644 f\n", true, "644", "f", ""},
        // The length says 45 bytes, the line holds a few: the rest reads as zeros.
        {"begin 644 f\nM86)C\n`\nend\n", true, "644", "f", nullptr},
        {"begin 644 f\r\n#86)C\r\nend\r\n", true, "644", "f", "abc"},
    };
    for (const auto& c : cases) {
        Bytes out("");
        StringBuffer mode("stale"), name("stale");
        EXPECT_EQ(Uu::uudecode(c.text, out, mode, name), c.ok) << c.text;
        EXPECT_STREQ(mode.getString(), c.mode) << c.text;
        EXPECT_STREQ(name.getString(), c.name) << c.text;
        if (c.data)
            EXPECT_EQ(out.str(), c.data) << c.text;
        else
            EXPECT_EQ(out.getSize(), 45u);
    }
    // The component keeps mode and name of what it decoded.
    ClsEncode enc;
    enc.setEncodingMode(kEncodeUu);
    XString in;
    in.setFromUtf8("begin 0600 notes.txt\n#86)C\n`\nend\n");
    Bytes out("old");
    enc.decodeToBytes(in, out, false);
    EXPECT_EQ(out.str(), "abc");
    EXPECT_STREQ(enc.getUuMode().getString(), "600");
    EXPECT_STREQ(enc.getUuFilename().getUtf8(), "notes.txt");
}

TEST(Uuencode, SharutilsReadsOursAndWeReadTheirs) {
    grvtest::TempDir dir;
    for (std::size_t size : {1u, 44u, 45u, 46u, 90u, 1000u, 4099u}) {
        const auto raw = grvtest::RandomBytes(size, static_cast<std::uint32_t>(size));
        const std::string data(raw.begin(), raw.end());
        const std::string decoded = dir.File("decoded");
        grvtest::RunOptions options;
        options.input = uuencode(data, "600", "peer.bin");
        auto run = grvtest::RunProgram({"uudecode", "-o", decoded}, options);
        ASSERT_TRUE(run.Ok()) << run.err;
        EXPECT_EQ(grvtest::ToHex(grvtest::ReadFile(decoded)), grvtest::ToHex(data)) << size;

        const std::string file = dir.File("plain");
        grvtest::WriteFile(file, data);
        auto theirs = grvtest::RunProgram({"uuencode", file, "their name.bin"});
        ASSERT_TRUE(theirs.Ok()) << theirs.err;
        Bytes out("");
        StringBuffer mode, name;
        EXPECT_TRUE(Uu::uudecode(theirs.out.c_str(), out, mode, name));
        EXPECT_EQ(grvtest::ToHex(out.str()), grvtest::ToHex(data)) << size;
        EXPECT_STREQ(name.getString(), "their name.bin");
    }
}

} // namespace
