#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/Cp1252Text.h"

namespace {

using platform::Cp1252ToUtf8;
using platform::IsValidUtf8;
using platform::Utf8OrCp1252ToUtf8;

// What python's cp1252 codec makes of the bytes, as UTF-8.
std::string PythonCp1252(const std::string& hex, int* status) {
    const std::string command = "/usr/bin/python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(\"" + hex +
                                "\").decode(\"cp1252\").encode(\"utf-8\"))'";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    *status = pclose(pipe);
    return out;
}

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
    std::string hex;
    for (int b = 1; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue;
        bytes += static_cast<char>(b);
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
    }
    int status = -1;
    const std::string expected = PythonCp1252(hex, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(Cp1252ToUtf8(bytes), expected);
}

TEST(Cp1252Text, UndefinedCp1252BytesBecomeControlCharacters) {
    EXPECT_EQ(Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(Cp1252Text, OnlyInvalidTextIsConverted) {
    EXPECT_EQ(Utf8OrCp1252ToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(Utf8OrCp1252ToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
}

} // namespace
