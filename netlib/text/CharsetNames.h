#pragma once
// Charset names and aliases to Windows code pages, and each page's one
// canonical name. The two tables are not inverses of each other.
#include <cstdint>

namespace tessik {

class StringBuffer;

// Empties the output, then appends the page's canonical name; false (and an
// empty output) for a page without one.
bool codePageToCharsetName(std::uint32_t codePage, StringBuffer& out);

// Blanks around the name are ignored, letters compared in lower case and an
// underscore taken as a hyphen; "ansi" gives the process ANSI page. 0 for a
// null, unknown or shorter than three characters name.
std::uint32_t charsetNameToCodePage(const char* name);

bool isKnownCharset(const char* name);

// The canonical name of a page, or nullptr.
const char* canonicalCharsetName(std::uint32_t codePage);

} // namespace tessik
