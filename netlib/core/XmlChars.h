#pragma once
// The characters and names XML 1.0 allows, and the escaping the writer puts
// every text through, so that whatever a tree holds is written as XML that
// any reader takes.
#include <cstdint>

namespace tessik {

class StringBuffer;

namespace xmlchars {

// The replacement character, written for bytes and characters XML cannot
// carry.
constexpr const char* kReplacementUtf8 = "\xEF\xBF\xBD";
constexpr std::uint32_t kReplacementChar = 0xFFFD;
// Bytes and characters from here on are beyond ASCII.
constexpr std::uint32_t kAsciiEnd = 0x80;

// ASCII name characters, by byte: kStartsName may start a name, kInName may
// stand in one.
constexpr std::uint8_t kStartsName = 1;
constexpr std::uint8_t kInName = 2;
struct AsciiNameTable {
    std::uint8_t bits[kAsciiEnd] = {};
    constexpr AsciiNameTable() {
        for (std::uint32_t c = 0; c < kAsciiEnd; ++c) {
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            const bool start = letter || c == '_' || c == ':';
            const bool inside = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
            bits[c] = static_cast<std::uint8_t>((start ? kStartsName : 0) | (inside ? kInName : 0));
        }
    }
    constexpr std::uint8_t operator[](std::uint32_t c) const { return bits[c]; }
};
inline constexpr AsciiNameTable kAsciiNameBits;

// XML 1.0's Char production.
bool isChar(std::uint32_t c);
// Name characters as XML 1.0's fifth edition has them, beyond the Basic
// Multilingual Plane too; the earlier editions allow none it does not.
// ':' is one, as XML 1.0 has it.
bool isNameStart(std::uint32_t c);
bool isNameChar(std::uint32_t c);

// Length (1 to 4) of the well-formed UTF-8 character at p, n bytes being
// there, with its code point in cp; 0 when the bytes do not start one
// (overlong forms, encoded surrogates and values past U+10FFFF included).
int utf8CharAt(const char* p, int n, std::uint32_t& cp);

bool isName(const char* p, int n);
// Whether every byte of 0x80 and above in the n bytes at p belongs to a
// well-formed UTF-8 name character: no edition of XML allows the others in
// a name, and mending a name never drops nor renames them.
bool nonAsciiAreNameChars(const char* p, int n);
// Mends the ASCII of a name: keeps its ASCII name characters, and puts "A"
// in front when it starts with a name character a name cannot start with.
// Every byte of 0x80 and above stays.
void mendName(StringBuffer& name);
// Appends the name, mended when it is not one already (an empty result
// stays empty); false when what was appended is still no name, for a
// character beyond ASCII that no name holds.
bool appendName(const char* p, int n, StringBuffer& out);

enum class TextKind {
    Content,   // element text: <, >, &, quotes as entities, CR as &#13;
    Attribute, // a double-quoted value: tab, LF and CR as references too
    Cdata,     // inside a CDATA section: a CR closes and reopens it around &#13;
};
// Appends the text escaped for its place. Invalid UTF-8 and characters XML
// cannot carry become U+FFFD; with `edgeRefs`, a blank, tab or LF at either
// end of the text is written as a reference, so that a reader that trims
// or drops whitespace-only text reads back what was written.
void appendEscaped(const char* p, int n, TextKind kind, bool edgeRefs, StringBuffer& out);

} // namespace xmlchars
} // namespace tessik
