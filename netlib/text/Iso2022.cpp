#include "netlib/text/Iso2022.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/text/ByteStaging.h"
#include "netlib/text/CodePageTables.h"
#include "netlib/text/HashConvert.h"

namespace tessik {
namespace {

constexpr unsigned char ESC = 0x1B, SO = 0x0E, SI = 0x0F;

using Staging = ByteStaging<200>;

// The bytes of a two-byte set's codes, and of the katakana set.
constexpr unsigned char kCodeFirst = 0x21, kCodeLast = 0x7E, kKatakanaLast = 0x5F;
constexpr unsigned int kKatakanaBase = 0xFF61;
constexpr unsigned char kYenByte = 0x5C, kOverlineByte = 0x7E;
constexpr unsigned int kYenSign = 0xA5, kOverline = 0x203E;

// A two-byte code of a table page as its character, else U+FFFD.
void putPair(const HashConvert& table, unsigned char a, unsigned char b, Staging& out, UnmappedInput unmapped) {
    const unsigned char key[2] = {a, b};
    unsigned int length = 0;
    const unsigned char* v = table.find(key, 2, length);
    if (v)
        out.put(v, length);
    else
        unmapped.take(out, 2);
}

// Page 932 codes of the full-width forms of half-width katakana A1-DF.
const unsigned short kFullWidthKatakana[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385,
    0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E, 0x8350, 0x8352,
    0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384,
    0x8386, 0x8388, 0x8389, 0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B};

// Page 932 lead and trail as a JIS row and cell.
void shiftJisToJis(unsigned char lead, unsigned char trail, unsigned char& j1, unsigned char& j2) {
    j1 = static_cast<unsigned char>(((lead >= 0xA0 ? lead - 0xB0 : lead - 0x70) * 2) - (trail < 0x9F ? 1 : 0));
    if (trail <= 0x7F)
        j2 = static_cast<unsigned char>(trail - 0x1F);
    else if (trail < 0x9F)
        j2 = static_cast<unsigned char>(trail - 0x20);
    else
        j2 = static_cast<unsigned char>(trail - 0x7E);
}

// A JIS row and cell as a page 932 code; rows 0x79 to 0x7C are IBM's
// extensions, which page 932 holds elsewhere.
void jisToShiftJis(const unsigned char* extension, unsigned char j1, unsigned char j2, unsigned char& s1,
                   unsigned char& s2) {
    const unsigned int index = (j1 - 0x79u) * 94u + ((j2 - 0x21u) & 0xFFu);
    if (j1 >= 0x79 && j1 <= 0x7C && index < 503 && (extension[2 * index] || extension[2 * index + 1])) {
        s1 = extension[2 * index];
        s2 = extension[2 * index + 1];
        return;
    }
    s1 = static_cast<unsigned char>(((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0));
    if (j1 & 1)
        s2 = static_cast<unsigned char>(j2 <= 0x5F ? j2 + 0x1F : j2 + 0x20);
    else
        s2 = static_cast<unsigned char>(j2 + 0x7E);
}

class KanjiWriter {
public:
    explicit KanjiWriter(Staging& out) : m_out(out) {}
    void enter() {
        if (!m_on)
            escape('$');
        m_on = true;
    }
    void leave() {
        if (m_on)
            escape('(');
        m_on = false;
    }
    void pair(unsigned char j1, unsigned char j2) {
        enter();
        m_out.put(j1, j2);
    }
    bool on() const { return m_on; }

private:
    void escape(unsigned char set) {
        m_out.put(ESC, set);
        m_out.put('B');
    }

    Staging& m_out;
    bool m_on = false;
};

} // namespace

Korean::~Korean() = default;
Japanese::~Japanese() = default;

void Korean::iso2022KrToEucKr(const unsigned char* p, unsigned int n, DataBuffer& outBuffer) {
    if (!p || !n)
        return;
    Staging out(outBuffer);
    bool doubleByte = false;
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c == ESC) {
            if (n - i >= 4 && p[i + 1] == '$' && p[i + 2] == ')' && p[i + 3] == 'C') {
                i += 3;
                doubleByte = false;
            }
        } else if (c == SO) {
            doubleByte = true;
        } else if (c == SI) {
            doubleByte = false;
        } else if (doubleByte) {
            if (i + 1 >= n)
                return;
            out.put(static_cast<unsigned char>(c + 0x80), static_cast<unsigned char>(p[i + 1] + 0x80));
            ++i;
        } else {
            out.put(c);
        }
    }
}

void Korean::eucKrToIso2022Kr(const unsigned char* p, unsigned int n, DataBuffer& outBuffer) {
    if (!p || !n)
        return;
    Staging out(outBuffer);
    out.put(ESC, '$');
    out.put(')', 'C');
    bool shifted = false;
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c < 0x80) {
            if (shifted)
                out.put(SI);
            shifted = false;
            out.put(c);
            continue;
        }
        if (i + 1 >= n)
            return;
        if (!shifted)
            out.put(SO);
        shifted = true;
        out.put(static_cast<unsigned char>(c - 0x80), static_cast<unsigned char>(p[i + 1] - 0x80));
        ++i;
    }
}

void Japanese::iso2022JpToShiftJis(const unsigned char* p, unsigned int n, DataBuffer& outBuffer) {
    if (!p || !n)
        return;
    Staging out(outBuffer);
    enum { Ascii, Kanji, Katakana } state = Ascii;
    const unsigned char* extension = jisExtensionTable();
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c == ESC) {
            if (i + 1 >= n)
                return;
            unsigned char a = p[i + 1];
            if (a != '$' && a != '(') {
                ++i;
                continue;
            }
            if (i + 2 >= n)
                return;
            unsigned char b = p[i + 2];
            if (a == '$' && (b == '@' || b == 'B'))
                state = Kanji;
            if (a == '(' && (b == 'B' || b == 'J'))
                state = Ascii;
            if (a == '(' && b == 'I')
                state = Katakana;
            i += 2;
            continue;
        }
        if (c == '\r' || c == '\n') {
            if (state == Kanji)
                state = Ascii;
            out.put(c);
            continue;
        }
        if (state == Ascii) {
            out.put(c);
        } else if (state == Katakana) {
            out.put(static_cast<unsigned char>(c + 0x80));
        } else {
            if (i + 1 >= n)
                return;
            unsigned char s1, s2;
            jisToShiftJis(extension, c, p[++i], s1, s2);
            out.put(s1, s2);
        }
    }
}

namespace {

// The JIS row and cell of an IBM extension code (leads FA-FC); false when
// the trail is outside the area.
bool extensionToJis(unsigned char lead, unsigned char t, unsigned char& row, unsigned char& cell) {
    struct Range {
        unsigned char lead, lo, hi, row;
        int add;
    };
    static const Range ranges[] = {{0xFA, 0x40, 0x49, 0x7C, 0x31},  {0xFA, 0x55, 0x57, 0x7C, 0x27},
                                   {0xFA, 0x5C, 0x7E, 0x79, -0x3B}, {0xFA, 0x80, 0xBA, 0x79, -0x3C},
                                   {0xFA, 0xBB, 0xFC, 0x7A, -0x9A}, {0xFB, 0x40, 0x5B, 0x7A, 0x23},
                                   {0xFB, 0x5C, 0x7E, 0x7B, -0x3B}, {0xFB, 0x80, 0xBA, 0x7B, -0x3C},
                                   {0xFB, 0xBB, 0xFC, 0x7C, -0x9A}, {0xFC, 0x40, 0x4B, 0x7C, 0x23}};
    for (const Range& r : ranges) {
        if (r.lead == lead && t >= r.lo && t <= r.hi) {
            row = r.row;
            cell = static_cast<unsigned char>(t + r.add);
            return true;
        }
    }
    return false;
}

} // namespace

void Japanese::shiftJisToIso2022Jp(const unsigned char* p, unsigned int n, DataBuffer& outBuffer) {
    if (!p || !n)
        return;
    Staging out(outBuffer);
    KanjiWriter kanji(out);
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c == '\r' || c == '\n') {
            kanji.leave();
            out.put(c);
            continue;
        }
        if (c >= 0xFA && c <= 0xFC) {
            if (i + 1 >= n)
                break;
            unsigned char row, cell;
            if (extensionToJis(c, p[i + 1], row, cell)) {
                kanji.pair(row, cell);
                ++i;
                continue;
            }
            ++i; // the trail is dropped and the lead handled on its own
        } else if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF)) {
            if (i + 1 >= n)
                break;
            unsigned char t = p[++i];
            if (t >= 0x40 && t <= 0xFC) {
                unsigned char j1, j2;
                shiftJisToJis(c, t, j1, j2);
                kanji.pair(j1, j2);
            } else {
                out.put(c, t);
            }
            continue;
        } else if (c >= 0xA1 && c <= 0xDF) {
            unsigned char first = c, second = 0;
            i += halfWidthKatakanaToFullWidth(p + i + 1, n - i - 1, first, second, kFormShiftJis);
            unsigned char j1, j2;
            shiftJisToJis(first, second, j1, j2);
            kanji.pair(j1, j2);
            continue;
        }
        if (!kanji.on()) {
            out.put(c);
        } else if (c < 0x81) {
            kanji.leave();
            out.put(c);
        } else {
            if (i + 1 >= n)
                break;
            unsigned char j1, j2;
            shiftJisToJis(c, p[++i], j1, j2);
            out.put(j1, j2);
        }
    }
    kanji.leave();
}

unsigned int Japanese::halfWidthKatakanaToFullWidth(const unsigned char* following, unsigned int count,
                                                    unsigned char& first, unsigned char& second, int form) {
    unsigned char letter = first;
    if (letter < 0xA1 || letter > 0xDF)
        return 0;
    unsigned short code = kFullWidthKatakana[letter - 0xA1];
    first = static_cast<unsigned char>(code >> 8);
    second = static_cast<unsigned char>(code);
    unsigned char mark = 0;
    unsigned int markLength = form == kFormEucJp ? 2 : 1;
    if (following && count >= markLength && (form != kFormEucJp || following[0] == 0x8E))
        mark = following[markLength - 1];
    if (mark == 0xDE && ((letter >= 0xB6 && letter <= 0xC4) || (letter >= 0xCA && letter <= 0xCE) || letter == 0xB3)) {
        if (first == 0x83 && second == 0x45) {
            second = 0x94;
        } else if ((second >= 0x4A && second <= 0x67) || (second >= 0x6E && second <= 0x7A)) {
            second = static_cast<unsigned char>(second + 1);
        }
        return markLength;
    }
    if (mark == 0xDF && letter >= 0xCA && letter <= 0xCE) {
        if (second >= 0x6E && second <= 0x7A)
            second = static_cast<unsigned char>(second + 2);
        return markLength;
    }
    return 0;
}

void iso2022JpToUtf16Replacing(const unsigned char* p, unsigned int n, DataBuffer& outBuffer, std::uint64_t& replaced) {
    const HashConvert* table = multiByteToUnicodeTable(kShiftJisPage);
    if (!p || !n || !table)
        return;
    const unsigned char* extension = jisExtensionTable();
    Staging out(outBuffer);
    const UnmappedInput unmapped{&replaced};
    enum class Set { Ascii, Roman, Katakana, Kanji };
    Set set = Set::Ascii;
    // Set when the last thing read was an escape sequence: two in a row
    // are an error, so that nothing can hide between them.
    bool escaped = false;
    unsigned int i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c == ESC) {
            const unsigned char a = i + 1 < n ? p[i + 1] : 0;
            const unsigned char b = i + 2 < n ? p[i + 2] : 0;
            Set next = set;
            bool known = true;
            if (a == '(' && b == 'B')
                next = Set::Ascii;
            else if (a == '(' && b == 'J')
                next = Set::Roman;
            else if (a == '(' && b == 'I')
                next = Set::Katakana;
            else if (a == '$' && (b == '@' || b == 'B'))
                next = Set::Kanji;
            else
                known = false;
            if (!known) {
                // Only the escape byte is the error; what follows is read
                // in the set in force.
                unmapped.take(out, 1);
                escaped = false;
                ++i;
                continue;
            }
            if (escaped)
                unmapped.take(out, 3);
            escaped = true;
            set = next;
            i += 3;
            continue;
        }
        escaped = false;
        switch (set) {
        case Set::Ascii:
        case Set::Roman:
            if (c >= 0x80 || c == SO || c == SI)
                unmapped.take(out, 1);
            else if (set == Set::Roman && c == kYenByte)
                out.putUnit(kYenSign);
            else if (set == Set::Roman && c == kOverlineByte)
                out.putUnit(kOverline);
            else
                out.putUnit(c);
            ++i;
            break;
        case Set::Katakana:
            if (c >= kCodeFirst && c <= kKatakanaLast)
                out.putUnit(kKatakanaBase + c - kCodeFirst);
            else
                unmapped.take(out, 1);
            ++i;
            break;
        case Set::Kanji: {
            if (c < kCodeFirst || c > kCodeLast) {
                unmapped.take(out, 1);
                ++i;
                break;
            }
            // A lead byte at the end or before an escape is one error; with
            // a byte no code has after it, the two are.
            if (i + 1 >= n || p[i + 1] == ESC) {
                unmapped.take(out, 1);
                ++i;
                break;
            }
            if (p[i + 1] < kCodeFirst || p[i + 1] > kCodeLast) {
                unmapped.take(out, 2);
                i += 2;
                break;
            }
            unsigned char s1, s2;
            jisToShiftJis(extension, c, p[i + 1], s1, s2);
            putPair(*table, s1, s2, out, unmapped);
            i += 2;
            break;
        }
        }
    }
}

void iso2022KrToUtf16Replacing(const unsigned char* p, unsigned int n, DataBuffer& outBuffer, std::uint64_t& replaced) {
    const HashConvert* table = multiByteToUnicodeTable(kUhcPage);
    if (!p || !n || !table)
        return;
    Staging out(outBuffer);
    const UnmappedInput unmapped{&replaced};
    constexpr unsigned int kDesignator = 4;
    bool doubleByte = false;
    unsigned int i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c == ESC) {
            if (n - i >= kDesignator && p[i + 1] == '$' && p[i + 2] == ')' && p[i + 3] == 'C') {
                i += kDesignator;
            } else {
                unmapped.take(out, 1);
                ++i;
            }
            continue;
        }
        if (c == SO || c == SI) {
            doubleByte = c == SO;
            ++i;
            continue;
        }
        // A CR or LF inside a two-byte run is an error that leaves the run
        // on, as ISO-2022-JP's is: ending the run there would read the
        // rest of its text as ASCII, markup included.
        if (c >= 0x80) {
            unmapped.take(out, 1);
            ++i;
        } else if (!doubleByte) {
            out.putUnit(c);
            ++i;
        } else if (c < kCodeFirst || c > kCodeLast || i + 1 >= n || p[i + 1] < kCodeFirst || p[i + 1] > kCodeLast) {
            // A byte no code has, or a code cut short: only this byte.
            unmapped.take(out, 1);
            ++i;
        } else {
            putPair(*table, static_cast<unsigned char>(c | 0x80), static_cast<unsigned char>(p[i + 1] | 0x80), out,
                    unmapped);
            i += 2;
        }
    }
}

} // namespace tessik
