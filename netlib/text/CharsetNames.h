#pragma once
// Charset names and aliases to Windows code pages, and each page's one
// canonical name. The two tables are not inverses of each other. Beside
// them, the labels browsers take, which mean other pages at times.
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

// What readers of a name take, beside what the page it maps to holds.
enum class NameRepertoire : std::uint8_t {
    Page,      // the page's own
    Gb2312,    // GB 2312, which page 936 extends
    JisX0208,  // JIS X 0208 (and X 0212 behind EUC-JP's SS3), which pages 932 and 51932 extend
    KsX1001,   // KS X 1001, which page 949 (that ISO-2022-KR is written through) and 51949 (with C1) extend
    Big5,      // Big5, which page 950 extends (the euro, ETEN's box drawing)
    Big5Hkscs, // Big5-HKSCS: Big5's codes its readers take as Big5's
    Tis620,    // TIS-620, which page 874 extends
    Iso8859,   // an ISO 8859 part, which a Windows page extends in 0x80-0x9F
    Ucs2,      // UCS-2, the Basic Multilingual Plane, which UTF-16 extends by its surrogate pairs
    Beyond,    // more than the page decodes (ISO-2022-JP-2's other sets): written as ISO-2022-JP, never read
};
// The repertoire of a name as charsetNameToCodePage reads it; Page for an
// unknown one.
NameRepertoire charsetNameRepertoire(const char* name);

// The canonical name of a page, or nullptr.
const char* canonicalCharsetName(std::uint32_t codePage);

// A label as browsers read it (the WHATWG Encoding Standard's table): the
// name of the encoding it stands for ("windows-1252" for "latin1" and
// "us-ascii", "replacement" for "iso-2022-kr"), or nullptr for a label
// browsers do not know ("utf-7", "ebcdic-cp-us"). ASCII white space around
// it is ignored and letters compared in lower case; nothing else is folded.
const char* webEncodingName(const char* label);
// The code page that decodes an encoding webEncodingName names; 0 for
// "replacement" and "x-user-defined", which have decoders of their own,
// and for the few this library has no table for.
std::uint32_t webEncodingCodePage(const char* encoding);

} // namespace tessik
