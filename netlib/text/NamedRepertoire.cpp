#include "netlib/text/NamedRepertoire.h"

#include <cstdint>
#include <cstring>
#include <iterator>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Utf.h"
#include "netlib/text/CharsetNames.h"
#include "netlib/text/CodePageTables.h"
#include "netlib/text/CodecCodes.h"
#include "netlib/text/DirectTables.h"
#include "netlib/text/HashConvert.h"

namespace tessik {
namespace {

constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;
constexpr unsigned char kHighBit = 0x80;
// EUC: a 94 x 94 set's bytes, its single shift to JIS X 0201 kana and to X 0212.
constexpr unsigned char kEucFirst = 0xA1;
constexpr unsigned char kEucLast = 0xFE;
constexpr unsigned char kSingleShift2 = 0x8E;
constexpr unsigned char kSingleShift3 = 0x8F;
constexpr unsigned char kKanaFirst = 0xA1;
constexpr unsigned char kKanaLast = 0xDF;
// A 94 x 94 set's bytes in 7-bit form.
constexpr unsigned char kSet94First = 0x21;
constexpr unsigned char kSet94Last = 0x7E;
// Page 936's one lone byte above ASCII that goes out.
constexpr unsigned char kGbkLoneEuro = 0x80;
// GB 2312's last row in EUC form.
constexpr unsigned char kGb2312LastLead = 0xF7;
// TIS-620 leaves 0xA0 unassigned, as every ISO 8859 part leaves 0x80-0x9F.
constexpr unsigned char kTis620Last = 0xA0;
constexpr unsigned char kC1Last = 0x9F;
// A UTF-16 unit's high byte that begins a surrogate (0xD800-0xDFFF).
constexpr unsigned char kSurrogateMask = 0xF8;
constexpr unsigned char kSurrogateBits = 0xD8;
constexpr int kUtf16BePage = 1201;
// JIS X 0201 Roman's yen sign and overline, which the JIS codecs write as
// the bytes of '\\' and '~' and read back as those.
constexpr std::uint32_t kYenSign = 0xA5, kOverline = 0x203E;

struct Cell {
    unsigned row, cell;
};
// JIS X 0208 cells whose character the vendor pages read otherwise than
// the standard's readers, with the standard's character and the vendor's.
struct ReadOtherwise {
    Cell cell;
    std::uint16_t standard, vendor;
};
constexpr ReadOtherwise kJisCellsReadOtherwise[] = {{{1, 33}, 0x301C, 0xFF5E}, {{1, 34}, 0x2016, 0x2225},
                                                    {{1, 61}, 0x2212, 0xFF0D}, {{1, 81}, 0x00A2, 0xFFE0},
                                                    {{1, 82}, 0x00A3, 0xFFE1}, {{2, 44}, 0x00AC, 0xFFE2}};

// With `codecCells` the cells read otherwise count as the standard's:
// the caller then reads them as the standard does (readAsNamedStandard).
bool jisX0208Cell(unsigned row, unsigned cell, bool codecCells) {
    // Rows 9 to 15 (NEC's row 13) and beyond 84 (IBM's and the users') are
    // the vendors'.
    if (!((row >= 1 && row <= 8) || (row >= 16 && row <= 84)))
        return false;
    if (codecCells)
        return true;
    for (const ReadOtherwise& c : kJisCellsReadOtherwise)
        if (c.cell.row == row && c.cell.cell == cell)
            return false;
    return true;
}

// Page 950 codes beyond Big5 (the euro, ETEN's kana, Cyrillic and box
// drawing, which iconv reads as private use) and those Big5's readers take
// as other characters (U+2027 where they read U+2022).
struct CodeRange {
    unsigned first, last;
};
constexpr CodeRange kBig5Otherwise[] = {{0xA145, 0xA145}, {0xA14E, 0xA14E}, {0xA1C2, 0xA1C2}, {0xA1E3, 0xA1E3},
                                        {0xA1F2, 0xA1F3}, {0xA241, 0xA242}, {0xA244, 0xA244}, {0xA246, 0xA247},
                                        {0xA3E1, 0xA3E1}, {0xC6A1, 0xC8FE}, {0xF9D6, 0xF9FE}};
// ETEN's kana and Cyrillic among them, which python's codec reads as page
// 950 does.
constexpr CodeRange kBig5EtenLetters = {0xC6A1, 0xC8FE};
// Big5 codes HKSCS's readers take otherwise: iconv refuses these, which
// python reads as page 950 does.
constexpr CodeRange kBig5HkscsOtherwise[] = {
    {0xA15A, 0xA15A}, {0xA1C3, 0xA1C3}, {0xA1C5, 0xA1C5}, {0xA1FE, 0xA1FE}, {0xA240, 0xA240}};
constexpr unsigned char kBig5FirstLead = 0x81;

// JIS X 0212's cell the vendor's EUC-JP reads as U+FFE4 and its readers as U+00A6.
constexpr Cell kJisX0212CellsReadOtherwise[] = {{2, 35}};

bool jisX0212Cell(unsigned row, unsigned cell) {
    if (!(row == 2 || row == 6 || row == 7 || (row >= 9 && row <= 11) || (row >= 16 && row <= 77)))
        return false;
    for (const Cell& c : kJisX0212CellsReadOtherwise)
        if (c.row == row && c.cell == cell)
            return false;
    return true;
}

bool inRange(unsigned char b, unsigned char first, unsigned char last) {
    return b >= first && b <= last;
}

bool shiftJisWithin(const unsigned char* p, unsigned int n, bool codecCells) {
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b < kHighBit || inRange(b, kKanaFirst, kKanaLast))
            continue;
        if (i + 1 >= n || !(inRange(b, 0x81, 0x9F) || inRange(b, 0xE0, 0xEF)))
            return false;
        const unsigned char t = p[++i];
        const unsigned pair = b <= 0x9F ? b - 0x81u : b - 0xC1u;
        const bool evenRow = t >= 0x9F;
        const unsigned row = pair * 2 + (evenRow ? 2 : 1);
        const unsigned cell = evenRow ? t - 0x9Fu + 1 : t - 0x40u + 1 - (t > 0x7F ? 1 : 0);
        if (!jisX0208Cell(row, cell, codecCells))
            return false;
    }
    return true;
}

bool eucJpWithin(const unsigned char* p, unsigned int n, bool codecCells) {
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b < kHighBit)
            continue;
        if (b == kSingleShift2) {
            if (i + 1 >= n || !inRange(p[++i], kKanaFirst, kKanaLast))
                return false;
        } else if (b == kSingleShift3) {
            if (i + 2 >= n || !jisX0212Cell(p[i + 1] - 0xA0u, p[i + 2] - 0xA0u))
                return false;
            i += 2;
        } else if (!inRange(b, kEucFirst, kEucLast) || i + 1 >= n ||
                   !jisX0208Cell(b - 0xA0u, static_cast<unsigned>(p[++i]) - 0xA0u, codecCells)) {
            return false;
        }
    }
    return true;
}

// ISO-2022-JP has ASCII, JIS X 0201 Roman and JIS X 0208, and a two-byte
// run holds only pairs.
bool iso2022JpWithin(const unsigned char* p, unsigned int n, bool codecCells) {
    bool twoByte = false;
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b == kEscape) {
            if (i + 2 >= n)
                return false;
            const unsigned char a = p[i + 1], c = p[i + 2];
            if (a == '(' && (c == 'B' || c == 'J'))
                twoByte = false;
            else if (a == '$' && (c == '@' || c == 'B'))
                twoByte = true;
            else
                return false;
            i += 2;
            continue;
        }
        if (b >= kHighBit || b == kShiftOut || b == kShiftIn)
            return false;
        if (!twoByte)
            continue;
        if (!inRange(b, kSet94First, kSet94Last) || i + 1 >= n || !inRange(p[i + 1], kSet94First, kSet94Last) ||
            !jisX0208Cell(b - 0x20u, p[i + 1] - 0x20u, codecCells))
            return false;
        ++i;
    }
    return true;
}

// Whether a pair reads the same in the standard's page as in the vendor's:
// one array read apiece where both pages have direct tables, so that the
// check costs what the save's own conversion does.
class SamePairs {
public:
    SamePairs(int standardPage, int vendorPage) : m_standardPage(standardPage), m_vendorPage(vendorPage) {
        const DirectDecodeTable* s = directDecodeTable(standardPage);
        const DirectDecodeTable* v = directDecodeTable(vendorPage);
        if (s && v && s->usable && v->usable && !s->pairs.empty() && !v->pairs.empty()) {
            m_standard = s;
            m_vendor = v;
        }
    }

    bool operator()(unsigned char lead, unsigned char trail) const {
        if (m_standard) {
            const unsigned i = (static_cast<unsigned>(lead) << 8) | trail;
            return m_standard->pairs[i] != DirectDecodeTable::kNone && m_standard->pairs[i] == m_vendor->pairs[i];
        }
        const HashConvert* standard = multiByteToUnicodeTable(m_standardPage);
        const HashConvert* vendor = multiByteToUnicodeTable(m_vendorPage);
        if (!standard || !vendor)
            return false;
        const unsigned char key[2] = {lead, trail};
        unsigned int standardLength = 0, vendorLength = 0;
        const unsigned char* s = standard->find(key, 2, standardLength);
        const unsigned char* v = vendor->find(key, 2, vendorLength);
        return s && v && standardLength == vendorLength && std::memcmp(s, v, standardLength) == 0;
    }

private:
    int m_standardPage, m_vendorPage;
    const DirectDecodeTable* m_standard = nullptr;
    const DirectDecodeTable* m_vendor = nullptr;
};

bool gb2312Within(const unsigned char* p, unsigned int n) {
    const SamePairs samePair(kEucCnPage, kGbkPage);
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b < kHighBit)
            continue;
        if (!inRange(b, kEucFirst, kGb2312LastLead) || i + 1 >= n || !inRange(p[i + 1], kEucFirst, kEucLast) ||
            !samePair(b, p[i + 1]))
            return false;
        ++i;
    }
    return true;
}

bool inAny(unsigned code, const CodeRange* first, const CodeRange* last) {
    for (const CodeRange* r = first; r != last; ++r)
        if (code >= r->first && code <= r->last)
            return true;
    return false;
}

// Page 936's codes GBK's readers take otherwise, which the exact writer
// never writes: only text written otherwise is looked at.
bool gbkWithin(const unsigned char* p, unsigned int n) {
    for (unsigned int i = 0; i + 1 < n; ++i) {
        if (p[i] < kHighBit)
            continue;
        if (isCodeReadOtherwise(kGbkPage, (static_cast<unsigned>(p[i]) << 8) | p[i + 1]))
            return false;
        // A lone byte (the euro's 0x80) has no trail byte.
        i += p[i] != kGbkLoneEuro;
    }
    return true;
}

bool big5Within(const unsigned char* p, unsigned int n, bool hkscs, bool etenLetters) {
    for (unsigned int i = 0; i < n; ++i) {
        if (p[i] < kHighBit)
            continue;
        if (p[i] < kBig5FirstLead || i + 1 >= n)
            return false;
        const unsigned code = (static_cast<unsigned>(p[i]) << 8) | p[i + 1];
        if (etenLetters && big5EtenLetter(code)) {
            ++i;
            continue;
        }
        if (inAny(code, std::begin(kBig5Otherwise), std::end(kBig5Otherwise)) ||
            (hkscs && inAny(code, std::begin(kBig5HkscsOtherwise), std::end(kBig5HkscsOtherwise))))
            return false;
        ++i;
    }
    return true;
}

// KS X 1001 in EUC form, of page 949's codes. EUC-KR's readers take the
// Hangul filler as the start of an eight-byte composed syllable.
constexpr unsigned char kHangulFiller[] = {0xA4, 0xD4};

bool eucKrWithin(const unsigned char* p, unsigned int n) {
    const SamePairs samePair(kEucKrPage, kUhcPage);
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b < kHighBit)
            continue;
        if (!inRange(b, kEucFirst, kEucLast) || i + 1 >= n || !samePair(b, p[i + 1]) ||
            (b == kHangulFiller[0] && p[i + 1] == kHangulFiller[1]))
            return false;
        ++i;
    }
    return true;
}

// ISO-2022-KR: ASCII, and KS X 1001 between shift-out and shift-in.
bool iso2022KrWithin(const unsigned char* p, unsigned int n) {
    const SamePairs samePair(kEucKrPage, kUhcPage);
    bool shifted = false;
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b >= kHighBit)
            return false;
        if (b == kShiftOut || b == kShiftIn) {
            shifted = b == kShiftOut;
            continue;
        }
        if (!shifted)
            continue;
        // A shifted run holds pairs only: a control byte there is what is
        // left of a UHC code.
        if (!inRange(b, kSet94First, kSet94Last) || i + 1 >= n || !inRange(p[i + 1], kSet94First, kSet94Last) ||
            !samePair(static_cast<unsigned char>(b | kHighBit), static_cast<unsigned char>(p[i + 1] | kHighBit)))
            return false;
        ++i;
    }
    return true;
}

bool noByteIn(const unsigned char* p, unsigned int n, unsigned char first, unsigned char last) {
    for (unsigned int i = 0; i < n; ++i)
        if (inRange(p[i], first, last))
            return false;
    return true;
}

// No surrogate: UCS-2 has no character beyond the Basic Multilingual Plane.
bool ucs2Within(int page, const unsigned char* p, unsigned int n) {
    const unsigned int high = page == kUtf16BePage ? 0 : 1;
    for (unsigned int i = 0; i + 1 < n; i += 2)
        if ((p[i + high] & kSurrogateMask) == kSurrogateBits)
            return false;
    return true;
}

bool jisWithin(int page, const unsigned char* p, unsigned int n, bool codecCells) {
    if (page == kShiftJisPage)
        return shiftJisWithin(p, n, codecCells);
    if (page == kEucJpPage)
        return eucJpWithin(p, n, codecCells);
    if (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage)
        return iso2022JpWithin(p, n, codecCells);
    return false;
}

// The UTF-8 text with each character `rewrite` takes written as it
// writes it; the text stays as it is where it is not well-formed.
template <typename Rewrite>
void rewriteScalars(DataBuffer& utf8, Rewrite rewrite) {
    DataBuffer out;
    const unsigned char* p = utf8.getData();
    const unsigned int n = utf8.getSize();
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(p + i, n - i, cp);
        if (length <= 0)
            return;
        if (!rewrite(cp, out))
            out.append(p + i, static_cast<unsigned int>(length));
        i += static_cast<unsigned int>(length);
    }
    utf8.takeFrom(out);
}

bool within(const char* name, const unsigned char* bytes, unsigned int count, bool codecCells) {
    const int page = static_cast<int>(charsetNameToCodePage(name));
    if (!bytes)
        count = 0;
    switch (charsetNameRepertoire(name)) {
    case NameRepertoire::Page: return !codecCells || page != kGbkPage || gbkWithin(bytes, count);
    case NameRepertoire::Gb2312: return page == kGbkPage && gb2312Within(bytes, count);
    case NameRepertoire::JisX0208: return jisWithin(page, bytes, count, codecCells);
    case NameRepertoire::KsX1001:
        // EUC-KR's own page maps 0x80-0x9F to C1 controls, which its readers refuse.
        return page == kUhcPage || page == kEucKrPage ? eucKrWithin(bytes, count) : iso2022KrWithin(bytes, count);
    case NameRepertoire::Big5: return page == kBig5Page && big5Within(bytes, count, false, codecCells);
    case NameRepertoire::Big5Hkscs: return page == kBig5Page && big5Within(bytes, count, true, false);
    case NameRepertoire::Tis620: return noByteIn(bytes, count, kHighBit, kTis620Last);
    case NameRepertoire::Iso8859: return noByteIn(bytes, count, kHighBit, kC1Last);
    case NameRepertoire::Ucs2: return ucs2Within(page, bytes, count);
    case NameRepertoire::Beyond:
        // Written as its ISO-2022-JP subset, as python's codec writes that;
        // asked of no bytes (whether it is read whole), it is not.
        return bytes != nullptr && jisWithin(page, bytes, count, codecCells);
    }
    return false;
}

} // namespace

bool bytesWithinNamedCharset(const char* name, const unsigned char* bytes, unsigned int count) {
    return within(name, bytes, count, false);
}

bool bytesWithinNamedCodec(const char* name, const unsigned char* bytes, unsigned int count) {
    return within(name, bytes, count, true);
}

bool holdsCodecOneWay(int page, const unsigned char* utf8, unsigned int n) {
    bool any = false;
    for (const CodecOneWay* c = codecOneWayBegin(); c != codecOneWayEnd() && !any; ++c)
        any = c->page == page;
    if (!any)
        return false;
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0)
            return false;
        for (const CodecOneWay* c = codecOneWayBegin(); c != codecOneWayEnd(); ++c)
            if (c->page == page && c->character == cp)
                return true;
        i += static_cast<unsigned int>(length);
    }
    return false;
}

bool big5EtenLetter(unsigned code) {
    return code >= kBig5EtenLetters.first && code <= kBig5EtenLetters.last;
}

char jisRomanByte(std::uint32_t cp) {
    return cp == kYenSign ? '\\' : (cp == kOverline ? '~' : 0);
}

void readAsNamedStandard(const char* name, DataBuffer& read, DataBuffer& text) {
    const NameRepertoire repertoire = charsetNameRepertoire(name);
    const int page = static_cast<int>(charsetNameToCodePage(name));
    if (repertoire == NameRepertoire::Page && holdsCodecOneWay(page, text.getData(), text.getSize())) {
        rewriteScalars(text, [page](std::uint32_t cp, DataBuffer& out) {
            for (const CodecOneWay* c = codecOneWayBegin(); c != codecOneWayEnd(); ++c)
                if (c->page == page && c->character == cp)
                    return out.appendCharUtf8(c->twin) > 0;
            return false;
        });
        return;
    }
    if (repertoire != NameRepertoire::JisX0208 && repertoire != NameRepertoire::Beyond)
        return;
    rewriteScalars(read, [](std::uint32_t cp, DataBuffer& out) {
        for (const ReadOtherwise& c : kJisCellsReadOtherwise)
            if (c.vendor == cp)
                return out.appendCharUtf8(c.standard) > 0;
        return false;
    });
    rewriteScalars(text, [](std::uint32_t cp, DataBuffer& out) {
        const char roman = jisRomanByte(cp);
        return roman != 0 && out.appendChar(static_cast<unsigned char>(roman));
    });
}

} // namespace tessik
