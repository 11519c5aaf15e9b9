#include "netlib/core/XmlChars.h"

#include <algorithm>
#include <iterator>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/Utf.h"

namespace tessik::xmlchars {

namespace {

constexpr std::uint32_t kBmpEnd = 0x10000;
constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;
constexpr char kMendPrefix = 'A';

// XML 1.0's name characters beyond ASCII as its fifth edition has them
// (NameStartChar, and NameChar's further ranges merged in): they hold every
// character the earlier editions' tables allow, so a character outside
// them is one no edition allows. But for U+FFFD: a decoder writes it for
// bytes it could not read, which no reader takes in a name.
constexpr std::uint32_t kNameStartRanges[][2] = {
    {0xC0, 0xD6},     {0xD8, 0xF6},     {0xF8, 0x2FF},    {0x370, 0x37D},   {0x37F, 0x1FFF},  {0x200C, 0x200D},
    {0x2070, 0x218F}, {0x2C00, 0x2FEF}, {0x3001, 0xD7FF}, {0xF900, 0xFDCF}, {0xFDF0, 0xFFFC}, {0x10000, 0xEFFFF},
};
constexpr std::uint32_t kNameRanges[][2] = {
    {0xB7, 0xB7},     {0xC0, 0xD6},     {0xD8, 0xF6},       {0xF8, 0x37D},    {0x37F, 0x1FFF},
    {0x200C, 0x200D}, {0x203F, 0x2040}, {0x2070, 0x218F},   {0x2C00, 0x2FEF}, {0x3001, 0xD7FF},
    {0xF900, 0xFDCF}, {0xFDF0, 0xFFFC}, {0x10000, 0xEFFFF},
};
// Most names beyond ASCII are CJK: their block is tried first.
constexpr std::uint32_t kCjkFirst = 0x3001;
constexpr std::uint32_t kCjkLast = 0xD7FF;

template <std::size_t N>
bool inRanges(const std::uint32_t (&ranges)[N][2], std::uint32_t c) {
    if (c >= kCjkFirst && c <= kCjkLast)
        return true;
    // The first range whose end is not below c.
    const auto* it = std::lower_bound(std::begin(ranges), std::end(ranges), c,
                                      [](const std::uint32_t(&r)[2], std::uint32_t v) { return r[1] < v; });
    return it != std::end(ranges) && (*it)[0] <= c;
}

const char* referenceFor(char c) {
    switch (c) {
    case ' ': return "&#32;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    default: return nullptr;
    }
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

bool isChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= kBmpEnd && c <= kMaxCodePoint);
}

bool isNameStart(std::uint32_t c) {
    if (c < kAsciiEnd)
        return (kAsciiNameBits[c] & kStartsName) != 0;
    return inRanges(kNameStartRanges, c);
}

bool isNameChar(std::uint32_t c) {
    if (c < kAsciiEnd)
        return (kAsciiNameBits[c] & kInName) != 0;
    return inRanges(kNameRanges, c);
}

int utf8CharAt(const char* p, int n, std::uint32_t& cp) {
    if (n <= 0)
        return 0;
    return utf8ScalarAt(reinterpret_cast<const unsigned char*>(p), static_cast<unsigned int>(n), cp);
}

bool isName(const char* p, int n) {
    if (n <= 0)
        return false;
    // Most names are ASCII: one table read a byte.
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    int ascii = 0;
    if (u[0] < kAsciiEnd) {
        if (!(kAsciiNameBits[u[0]] & kStartsName))
            return false;
        for (ascii = 1; ascii < n && u[ascii] < kAsciiEnd; ++ascii)
            if (!(kAsciiNameBits[u[ascii]] & kInName))
                return false;
        if (ascii == n)
            return true;
    }
    for (int i = ascii; i < n;) {
        std::uint32_t c = static_cast<unsigned char>(p[i]);
        int len = 1;
        if (c >= kAsciiEnd && (len = utf8CharAt(p + i, n - i, c)) == 0)
            return false;
        if (!(i == 0 ? isNameStart(c) : isNameChar(c)))
            return false;
        i += len;
    }
    return true;
}

bool nonAsciiAreNameChars(const char* p, int n) {
    for (int i = 0; i < n;) {
        std::uint32_t c = static_cast<unsigned char>(p[i]);
        if (c < kAsciiEnd) {
            ++i;
            continue;
        }
        const int len = utf8CharAt(p + i, n - i, c);
        if (len == 0 || !isNameChar(c))
            return false;
        i += len;
    }
    return true;
}

void mendName(StringBuffer& name) {
    if (isName(name.getString(), name.getSize()))
        return;
    name.keepXmlNameChars();
    if (name.getSize() == 0)
        return;
    std::uint32_t first = static_cast<unsigned char>(name.getString()[0]);
    if (first >= kAsciiEnd && utf8CharAt(name.getString(), name.getSize(), first) == 0)
        return;
    if (isNameChar(first) && !isNameStart(first)) {
        const char prefix[] = {kMendPrefix, '\0'};
        name.prepend(prefix);
    }
}

bool appendName(const char* p, int n, StringBuffer& out) {
    if (isName(p, n)) {
        out.appendBytes(p, n);
        return true;
    }
    StringBuffer mended;
    mended.appendBytes(p, n);
    mendName(mended);
    out.appendSb(mended);
    if (mended.appendFailed())
        out.markAppendFailed();
    return nonAsciiAreNameChars(mended.getString(), mended.getSize());
}

void appendEscaped(const char* p, int n, TextKind kind, bool edgeRefs, StringBuffer& out) {
    if (!p || n <= 0)
        return;
    const bool attr = kind == TextKind::Attribute;
    const bool cdata = kind == TextKind::Cdata;
    int from = 0;
    auto flushTo = [&](int i) {
        out.appendBytes(p + from, i - from);
        from = i;
    };
    for (int i = 0; i < n;) {
        const char c = p[i];
        const auto b = static_cast<unsigned char>(c);
        const char* rep = nullptr;
        int used = 1;
        if (edgeRefs && !cdata && (i == 0 || i == n - 1) && isSpace(c) && c != '\r') {
            rep = referenceFor(c);
        } else if (b >= kAsciiEnd) {
            std::uint32_t cp = 0;
            used = utf8CharAt(p + i, n - i, cp);
            if (used == 0) {
                used = 1;
                rep = kReplacementUtf8;
            } else if (!isChar(cp)) {
                rep = kReplacementUtf8;
            }
        } else if (cdata) {
            if (c == '\r')
                rep = "]]>&#13;<![CDATA[";
            else if (b < 0x20 && c != '\t' && c != '\n')
                rep = kReplacementUtf8;
        } else {
            switch (c) {
            case '<': rep = "&lt;"; break;
            case '>': rep = "&gt;"; break;
            case '&': rep = "&amp;"; break;
            case '"': rep = "&quot;"; break;
            case '\'': rep = "&apos;"; break;
            case '\r': rep = "&#13;"; break;
            // A reader turns these into blanks in a value unless they are references.
            case '\t': rep = attr ? "&#9;" : nullptr; break;
            case '\n': rep = attr ? "&#10;" : nullptr; break;
            default:
                if (b < 0x20)
                    rep = kReplacementUtf8;
            }
        }
        if (rep) {
            flushTo(i);
            out.append(rep);
            from = i + used;
        }
        i += used;
    }
    flushTo(n);
}

} // namespace tessik::xmlchars
