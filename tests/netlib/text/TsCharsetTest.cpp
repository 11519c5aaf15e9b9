#include <gtest/gtest.h>

#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/text/TsCharset.h"
#include "platform/CodePage.h"

using namespace tessik;

namespace {

struct AnsiPage {
    explicit AnsiPage(unsigned page) { platform::SetAnsiCodePageOverride(page); }
    ~AnsiPage() { platform::SetAnsiCodePageOverride(0); }
};

TEST(TsCharset, SetByName) {
    struct Case {
        const char* name;
        int page;
        const char* canonical;
    } cases[] = {
        {"default", 0, ""},
        {"x-user-defined", 0, ""},
        {"Default", 0, ""}, // not the keyword: looked up, and unknown
        {"utf-8", 65001, "utf-8"},
        {"  UTF_8 ", 65001, "utf-8"},
        {"csISOLatin1", 28591, "iso-8859-1"},
        {"cp437", 437, "ibm437"},
        {"ANSI", 65001, "utf-8"},
        {"oem", 437, "ibm437"},
        {"no-such-charset", 0, ""},
    };
    for (const auto& c : cases) {
        _tsCharset cs;
        cs.setByName("windows-1252");
        ASSERT_EQ(cs.getCodePage(), 1252);
        cs.setByName(c.name);
        EXPECT_EQ(cs.getCodePage(), c.page) << c.name;
        EXPECT_STREQ(cs.getName(), c.canonical) << c.name;
    }
}

TEST(TsCharset, AnsiFollowsTheProcessPage) {
    AnsiPage page(1252);
    _tsCharset cs;
    cs.setByName("Ansi");
    EXPECT_EQ(cs.getCodePage(), 1252);
    EXPECT_STREQ(cs.getName(), "windows-1252");
}

TEST(TsCharset, NullNameChangesNothingAndUnknownPageClears) {
    _tsCharset cs;
    cs.setByCodePage(932);
    EXPECT_STREQ(cs.getName(), "shift_jis");
    cs.setByName(nullptr);
    EXPECT_EQ(cs.getCodePage(), 932);
    _tsCharset copy;
    copy.copyFrom(cs);
    EXPECT_EQ(copy.getCodePage(), 932);
    EXPECT_STREQ(copy.getName(), "shift_jis");
    cs.setByCodePage(12345);
    EXPECT_EQ(cs.getCodePage(), 0);
    EXPECT_STREQ(cs.getName(), "");
    copy.clear();
    EXPECT_EQ(copy.getCodePage(), 0);
    EXPECT_STREQ(copy.getName(), "");
}

TEST(TsCharset, TextValueConvertsToTheHoldersPage) {
    XString x;
    x.setFromUtf8("\xE2\x82\xAC"
                  "1"); // euro sign, then "1"
    _tsCharset cs;
    cs.setByName("utf-16be");
    DataBuffer out;
    ASSERT_TRUE(x.getConverted(cs, out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.getData()), out.getSize()), std::string("\x20\xAC\x00\x31", 4));
    ASSERT_TRUE(x.getConvertedWithBom(cs, out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.getData()), out.getSize()),
              std::string("\xFE\xFF\x20\xAC\x00\x31", 6));
}

} // namespace
