#include <gtest/gtest.h>

#include <string>

#include "app/store/StoredText.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(StoredText, Utf8IsRecognised) {
    struct Case { std::string text; bool valid; };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"\xE9", false},                      // cp1252 e-acute
        {"\xC3", false},                      // cut short
        {"\xC0\xAF", false},                  // overlong
        {"\xE0\x80\xAF", false},              // overlong
        {"\xED\xA0\x80", false},              // surrogate
        {"\xF4\x90\x80\x80", false},          // beyond U+10FFFF
        {"\xC3\xA9\x80", false},              // stray continuation
        {std::string("a\0b", 3), true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

TEST(StoredText, Cp1252MatchesPythonCodec) {
    // Every byte the code page defines, judged by python's codec.
    std::string bytes;
    std::string hex;
    for (int b = 1; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
        bytes += static_cast<char>(b);
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
    }
    const auto expected = grvtest::Python(
        "import sys; sys.stdout.buffer.write(bytes.fromhex(sys.argv[1]).decode('cp1252').encode('utf-8'))", {hex});
    ASSERT_EQ(expected.status, 0) << expected.err;
    EXPECT_EQ(Cp1252ToUtf8(bytes), expected.out);
}

TEST(StoredText, UndefinedCp1252BytesBecomeControlCharacters) {
    EXPECT_EQ(Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(StoredText, OnlyInvalidTextIsConverted) {
    EXPECT_EQ(StoredTextToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(StoredTextToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
}

}  // namespace
