#include "netlib/text/CharsetNames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "TextTestSupport.h"
#include "netlib/core/StringBuffer.h"
#include "platform/CodePage.h"

using namespace tessik;

namespace {

struct CharsetLists {
    std::map<std::uint32_t, std::string> canonical; // page -> name
    std::map<std::string, std::uint32_t> aliases;   // name -> page
};

// charsets.txt holds the published lists: "page N name" and "alias N name"
// (a name may hold a blank).
const CharsetLists& lists() {
    static const CharsetLists loaded = [] {
        CharsetLists l;
        for (const std::string& line : texttest::readDataLines("charsets.txt")) {
            std::istringstream in(line);
            std::string kind;
            std::uint32_t page = 0;
            in >> kind >> page;
            std::string name;
            std::getline(in >> std::ws, name);
            if (kind == "page")
                l.canonical[page] = name;
            else
                l.aliases[name] = page;
        }
        return l;
    }();
    return loaded;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string underscored(std::string s) {
    for (char& c : s) {
        if (c == '-')
            c = '_';
    }
    return s;
}

std::string nameOf(std::uint32_t page, bool* found = nullptr) {
    tessik::StringBuffer out;
    out.append("stale");
    const bool ok = codePageToCharsetName(page, out);
    if (found)
        *found = ok;
    return out.getString();
}

} // namespace

TEST(CharsetNames, ListsHaveTheirPublishedSizes) {
    EXPECT_EQ(lists().canonical.size(), 140u);
    EXPECT_EQ(lists().aliases.size(), 413u);
}

TEST(CharsetNames, EveryAliasGivesItsPageInAnySpelling) {
    for (const auto& [name, page] : lists().aliases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(charsetNameToCodePage(name.c_str()), page);
        EXPECT_EQ(charsetNameToCodePage(upper(name).c_str()), page);
        EXPECT_EQ(charsetNameToCodePage(underscored(upper(name)).c_str()), page);
        EXPECT_EQ(charsetNameToCodePage((" \t" + name + "\r\n ").c_str()), page);
        EXPECT_TRUE(isKnownCharset(name.c_str()));
    }
}

TEST(CharsetNames, NoPrefixOrExtensionOfAnAliasMatches) {
    const auto& aliases = lists().aliases;
    for (const auto& [name, page] : aliases) {
        SCOPED_TRACE(name);
        const std::string longer = name + "x";
        const std::string shorter = name.substr(0, name.size() - 1);
        if (!aliases.count(longer)) {
            EXPECT_EQ(charsetNameToCodePage(longer.c_str()), 0u);
        }
        if (!aliases.count(shorter)) {
            EXPECT_EQ(charsetNameToCodePage(shorter.c_str()), 0u);
        }
    }
}

TEST(CharsetNames, EveryPageGivesItsCanonicalNameAndOthersNone) {
    const auto& canonical = lists().canonical;
    for (std::uint32_t page = 0; page <= 70000; ++page) {
        bool found = false;
        const std::string name = nameOf(page, &found);
        const auto it = canonical.find(page);
        if (it == canonical.end()) {
            ASSERT_FALSE(found) << page;
            ASSERT_EQ(name, "") << page;
        } else {
            ASSERT_TRUE(found) << page;
            ASSERT_EQ(name, it->second) << page;
        }
    }
    EXPECT_EQ(nameOf(0xFFFFFFFFu), "");
}

// Every listed alias is tried above in several spellings (the two lists are
// not inverses: a page's name may lead to another page); here near misses.
TEST(CharsetNames, NearMissesGiveZero) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"UTF8", 65001},           {"cp12520", 0}, {"windows-1259", 0}, {"windows-125", 0},
        {"iso-8859-8  visual", 0}, {"utf-8;", 0},  {"l0", 0},           {"iso8859-10", 0},
    };
    for (const auto& [name, page] : cases)
        EXPECT_EQ(charsetNameToCodePage(name), page) << name;
}

TEST(CharsetNames, ShortAndMissingNamesGiveZero) {
    EXPECT_EQ(charsetNameToCodePage(nullptr), 0u);
    EXPECT_FALSE(isKnownCharset(nullptr));
    for (const char* name : {"", "   ", "\t\r\n", "a", "ab", " ab ", "us", "l6", "l9", "xyz"}) {
        EXPECT_EQ(charsetNameToCodePage(name), 0u) << "'" << name << "'";
        EXPECT_FALSE(isKnownCharset(name)) << "'" << name << "'";
    }
}

TEST(CharsetNames, AnsiGivesTheProcessCodePageOfTheMoment) {
    EXPECT_EQ(charsetNameToCodePage("ansi"), platform::GetACP());
    platform::SetAnsiCodePageOverride(1252);
    EXPECT_EQ(charsetNameToCodePage(" ANSI "), 1252u);
    EXPECT_TRUE(isKnownCharset("Ansi"));
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(charsetNameToCodePage("ansi"), 65001u);
}
