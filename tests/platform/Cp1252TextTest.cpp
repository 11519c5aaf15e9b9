#include <gtest/gtest.h>

#include <string>

#include "platform/Cp1252Text.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::Cp1252ToUtf8;
using platform::IsValidUtf8;
using platform::Utf8OrCp1252ToUtf8;

TEST(Cp1252Text, Utf8IsRecognised) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"\xE9", false},             // cp1252 e-acute
        {"\xC3", false},             // cut short
        {"\xC0\xAF", false},         // overlong
        {"\xE0\x80\xAF", false},     // overlong
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // beyond U+10FFFF
        {"\xC3\xA9\x80", false},     // stray continuation
        {std::string("a\0b", 3), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

TEST(Cp1252Text, Cp1252MatchesPythonCodec) {
    // Every byte the code page defines, judged by python's codec.
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
            bytes += static_cast<char>(b);
    const auto python = grvtest::Python(
        "import sys; sys.stdout.buffer.write(sys.stdin.buffer.read().decode('cp1252').encode())", {}, bytes);
    ASSERT_TRUE(python.Ok()) << python.err;
    EXPECT_EQ(Cp1252ToUtf8(bytes), python.out);
}

TEST(Cp1252Text, UndefinedCp1252BytesBecomeControlCharacters) {
    EXPECT_EQ(Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(Cp1252Text, OnlyInvalidTextIsConverted) {
    EXPECT_EQ(Utf8OrCp1252ToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(Utf8OrCp1252ToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
}

} // namespace
