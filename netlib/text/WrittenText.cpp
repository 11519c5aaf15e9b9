#include "netlib/text/WrittenText.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Utf.h"
#include "netlib/text/CharsetNames.h"
#include "netlib/text/CodePageTables.h"
#include "netlib/text/CodecCodes.h"
#include "netlib/text/Iso2022.h"
#include "netlib/text/NamedRepertoire.h"
#include "platform/CodePage.h"

namespace tessik {
namespace {

constexpr int kUtf8Page = static_cast<int>(platform::kCodePageUtf8);
constexpr int kUtf16LePage = 1200, kUtf16BePage = 1201, kUtf32LePage = 65005, kUtf32BePage = 65006;
constexpr std::uint32_t kPrivateUseFirst = 0xE000, kPrivateUseLast = 0xF8FF;
constexpr std::uint32_t kMinusSign = 0x2212, kFullWidthHyphenMinus = 0xFF0D;
constexpr std::uint32_t kHalfWidthKatakanaFirst = 0xFF61, kHalfWidthKatakanaLast = 0xFF9F;
constexpr std::size_t kHalfWidthKatakanaCount = kHalfWidthKatakanaLast - kHalfWidthKatakanaFirst + 1;
constexpr unsigned char kHalfWidthKatakanaLead = 0xEF;
// Page 932's byte of U+FF61.
constexpr unsigned char kHalfWidthKatakanaByte = 0xA1;
constexpr std::uint32_t kShiftOut = 0x0E, kShiftIn = 0x0F, kEscape = 0x1B;
constexpr unsigned char kSingleShift3 = 0x8F, kHighBit = 0x80;
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kToRoman[] = {0x1B, '(', 'J'}, kToAscii[] = {0x1B, '(', 'B'};
// Page 950's last box drawing code, which a browser's Big5 reads as U+FFED.
constexpr unsigned kBig5LastBox = 0xF9FE;

bool isEncoding(const char* encoding, const char* name) {
    return std::strcmp(encoding, name) == 0;
}

// UTF-8 text in a page. The converter takes a leading U+FEFF for a
// byte-order mark and drops it; here it is the text's own first character,
// so a mark goes before it for the converter to drop.
bool convertText(EncodingConvert& conv, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (n < sizeof kUtf8Mark || std::memcmp(utf8, kUtf8Mark, sizeof kUtf8Mark) != 0)
        return conv.convert(kUtf8Page, page, utf8, n, out);
    DataBuffer marked;
    return marked.append(kUtf8Mark, sizeof kUtf8Mark) && marked.append(utf8, n) &&
           conv.convert(kUtf8Page, page, marked.getData(), marked.getSize(), out);
}

// The text in a table page, appended, every character as a code the page
// reads back as it, so that nothing need be read back: 1; 0 where one has
// no such code, -1 for a page not written so (the output as it was then).
// UTF-16 and UTF-32 are left to the reading back: their converter takes a
// leading U+FEFF for a mark; ISO-2022-JP and GB18030 are no table pages.
int writeExactly(int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (page == kUtf16LePage || page == kUtf16BePage || page == kUtf32LePage || page == kUtf32BePage ||
        (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage) || page == kGb18030Page)
        return -1;
    const unsigned int start = out.getSize();
    EncodingConvert conv;
    const int exact = conv.encodeUtf8Exactly(page, utf8, n, out);
    if (exact != 1)
        out.shorten(out.getSize() - start);
    return exact;
}

// The full-width forms of the half-width katakana, by page 932's table.
struct FullWidthKatakana {
    std::array<DataBuffer, kHalfWidthKatakanaCount> forms;

    FullWidthKatakana() {
        for (std::size_t i = 0; i < kHalfWidthKatakanaCount; ++i) {
            unsigned char first = static_cast<unsigned char>(kHalfWidthKatakanaByte + i);
            unsigned char second = 0;
            Japanese().halfWidthKatakanaToFullWidth(nullptr, 0, first, second, Japanese::kFormShiftJis);
            const unsigned char pair[2] = {first, second};
            std::uint64_t replaced = 0;
            EncodingConvert conv;
            if (!conv.decodeToUtf8(kShiftJisPage, pair, sizeof pair, forms[i], replaced) || replaced != 0)
                forms[i].clear();
        }
    }
};

// Made once: a long text of katakana asks for each many times.
bool appendFullWidthKatakana(std::uint32_t cp, DataBuffer& out) {
    static const FullWidthKatakana katakana;
    const DataBuffer& form = katakana.forms[cp - kHalfWidthKatakanaFirst];
    return form.getSize() != 0 && out.appendDb(form);
}

// The characters a browser's encoder looks up for the text, as its steps
// before the lookup have them: U+2212 as U+FF0D under the Japanese
// encodings, the yen sign and overline as the bytes of '\\' and '~' under
// Shift_JIS and EUC-JP (JIS X 0201's), half-width katakana as full-width
// under ISO-2022-JP. False
// for a character it never writes: private use (under GBK, whose table
// has some, the name's own codes decide), and the shifts and escape
// under ISO-2022-JP.
bool browserInput(const char* encoding, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    const bool iso2022 = isEncoding(encoding, "iso-2022-jp");
    const bool japanese = iso2022 || isEncoding(encoding, "shift_jis") || isEncoding(encoding, "euc-jp");
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0 || (cp >= kPrivateUseFirst && cp <= kPrivateUseLast))
            return false;
        if (japanese && cp == kMinusSign) {
            out.appendCharUtf8(kFullWidthHyphenMinus);
        } else if (japanese && !iso2022 && jisRomanByte(cp) != 0) {
            out.appendChar(static_cast<unsigned char>(jisRomanByte(cp)));
        } else if (iso2022 && (cp == kShiftOut || cp == kShiftIn || cp == kEscape)) {
            return false;
        } else if (iso2022 && cp >= kHalfWidthKatakanaFirst && cp <= kHalfWidthKatakanaLast) {
            if (!appendFullWidthKatakana(cp, out))
                return false;
        } else {
            out.append(utf8 + i, static_cast<unsigned int>(length));
        }
        i += static_cast<unsigned int>(length);
    }
    return true;
}

// Whether a browser's decoder reads the page's codes as the page does:
// EUC-JP's browsers write no JIS X 0212, and Big5's read ETEN's letters
// otherwise.
bool browserReadsAsPage(const char* encoding, const unsigned char* p, unsigned int n) {
    if (isEncoding(encoding, "euc-jp"))
        return n == 0 || std::memchr(p, kSingleShift3, n) == nullptr;
    if (!isEncoding(encoding, "big5"))
        return true;
    for (unsigned int i = 0; i < n; ++i) {
        if (p[i] < kHighBit)
            continue;
        if (i + 1 >= n)
            return false;
        const unsigned code = (static_cast<unsigned>(p[i]) << 8) | p[i + 1];
        if (big5EtenLetter(code) || code == kBig5LastBox)
            return false;
        ++i;
    }
    return true;
}

// The codes of an encoding as a browser's encoder writes them, by the
// library's table of the page that reads that encoding.
bool writeBrowserPiece(const char* encoding, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    DataBuffer input, bytes, back;
    if (!browserInput(encoding, utf8, n, input))
        return false;
    const int exact = writeExactly(page, input.getData(), input.getSize(), bytes);
    if (exact >= 0)
        return exact == 1 && browserReadsAsPage(encoding, bytes.getData(), bytes.getSize()) && out.appendDb(bytes);
    EncodingConvert conv;
    std::uint64_t replaced = 0;
    if (!convertText(conv, page, input.getData(), input.getSize(), bytes) || conv.getDroppedCount() != 0 ||
        !browserReadsAsPage(encoding, bytes.getData(), bytes.getSize()) ||
        !conv.decodeToUtf8(page, bytes.getData(), bytes.getSize(), back, replaced) || replaced != 0 ||
        !back.equalsDb(input))
        return false;
    return out.appendDb(bytes);
}

const Big5Letter* big5Letter(std::uint32_t cp) {
    const Big5Letter* end = big5LettersEnd();
    // Most text (every hanzi) lies beyond the letters.
    if (big5LettersBegin() == end || cp < big5LettersBegin()->character || cp > (end - 1)->character)
        return nullptr;
    const Big5Letter* at = std::lower_bound(big5LettersBegin(), end, cp,
                                            [](const Big5Letter& l, std::uint32_t c) { return l.character < c; });
    return at != end && at->character == cp ? at : nullptr;
}

// Big5's text with ETEN's letters in the codes a browser's encoder writes
// for them (HKSCS's, which the page has not), the rest piece by piece.
bool writeBig5Text(int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    unsigned int piece = 0;
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0)
            return false;
        const Big5Letter* letter = big5Letter(cp);
        i += static_cast<unsigned int>(length);
        if (letter == nullptr)
            continue;
        const unsigned int start = i - static_cast<unsigned int>(length);
        if (start > piece && !writeBrowserPiece("big5", page, utf8 + piece, start - piece, out))
            return false;
        out.appendChar(static_cast<unsigned char>(letter->code >> 8));
        out.appendChar(static_cast<unsigned char>(letter->code & 0xFF));
        piece = i;
    }
    return piece == n || writeBrowserPiece("big5", page, utf8 + piece, n - piece, out);
}

// The codes of the label's encoding as a browser's encoder writes them.
// UTF-16's labels are left to the name's page: a browser sends such a form
// as UTF-8.
bool writeBrowserText(const char* label, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    const char* encoding = webEncodingName(label);
    const int page = encoding ? static_cast<int>(webEncodingCodePage(encoding)) : 0;
    if (page == 0 || page == kUtf8Page || page == kUtf16LePage || page == kUtf16BePage)
        return false;
    if (isEncoding(encoding, "big5"))
        return writeBig5Text(page, utf8, n, out);
    return writeBrowserPiece(encoding, page, utf8, n, out);
}

bool endsWithAsciiEscape(const DataBuffer& out, unsigned int start) {
    return out.getSize() - start >= sizeof kToAscii &&
           std::memcmp(out.getData() + out.getSize() - sizeof kToAscii, kToAscii, sizeof kToAscii) == 0;
}

// The text with the yen sign and the overline as '\\' and '~', as the JIS
// names' codecs write them where the pages have no code for them.
void withJisRomanBytes(const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0) {
            out.append(utf8 + i, n - i);
            return;
        }
        if (jisRomanByte(cp) != 0)
            out.appendChar(static_cast<unsigned char>(jisRomanByte(cp)));
        else
            out.append(utf8 + i, static_cast<unsigned int>(length));
        i += static_cast<unsigned int>(length);
    }
}

// The text in the codes python's codec of the name writes, appended; the
// output unfinished where it writes none.
bool writeNamedText(const char* label, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    const unsigned int start = out.getSize();
    if (writeExactlyAsNamed(label, page, utf8, n, out))
        return true;
    EncodingConvert conv;
    if (convertText(conv, page, utf8, n, out) && conv.getDroppedCount() == 0 &&
        writtenAsNamed(label, page, out.getData() + start, out.getSize() - start, utf8, n))
        return true;
    if (!holdsJisRoman(utf8, n))
        return false;
    out.shorten(out.getSize() - start);
    DataBuffer roman;
    withJisRomanBytes(utf8, n, roman);
    EncodingConvert again;
    return convertText(again, page, roman.getData(), roman.getSize(), out) && again.getDroppedCount() == 0 &&
           writtenAsNamed(label, page, out.getData() + start, out.getSize() - start, utf8, n);
}

// ISO-2022-JP writes the yen sign and the overline as JIS X 0201 Roman's
// '\\' and '~' behind ESC ( J, which the pages' writers have not: the text
// goes in pieces, each run of the two behind that escape, the rest by
// `write`. A browser keeps a run going over ASCII but '\\' and '~' (and
// the shifts and escape it never writes); python's codec goes back to
// ASCII at once. A piece's closing ESC ( B gives way to the escape after it.
template <typename Write>
bool writeJisRomanRuns(const unsigned char* utf8, unsigned int n, bool browser, Write write, DataBuffer& out) {
    const unsigned int start = out.getSize();
    bool roman = false;
    unsigned int piece = 0;
    for (unsigned int i = 0; i <= n;) {
        std::uint32_t cp = 0;
        const int length = i < n ? utf8ScalarAt(utf8 + i, n - i, cp) : 0;
        if (i < n && length <= 0)
            return false;
        if (i < n && jisRomanByte(cp) == 0) {
            i += static_cast<unsigned int>(length);
            continue;
        }
        if (i > piece) {
            DataBuffer text;
            if (!write(utf8 + piece, i - piece, text))
                return false;
            if (roman && (text.getSize() == 0 || text.getData()[0] != kEscape))
                out.append(kToAscii, sizeof kToAscii);
            roman = false;
            out.appendDb(text);
        }
        if (i == n)
            break;
        if (!roman) {
            if (endsWithAsciiEscape(out, start))
                out.shorten(sizeof kToAscii);
            out.append(kToRoman, sizeof kToRoman);
            roman = true;
        }
        for (int run = length; i < n && run > 0; run = i < n ? utf8ScalarAt(utf8 + i, n - i, cp) : 0) {
            const char byte = jisRomanByte(cp);
            const bool ascii = browser && cp < kHighBit && cp != '\\' && cp != '~' && cp != kShiftOut &&
                               cp != kShiftIn && cp != kEscape;
            if (byte == 0 && !ascii)
                break;
            out.appendChar(byte != 0 ? static_cast<unsigned char>(byte) : static_cast<unsigned char>(cp));
            i += static_cast<unsigned int>(run);
        }
        piece = i;
    }
    if (roman)
        out.append(kToAscii, sizeof kToAscii);
    return true;
}

} // namespace

bool writeExactlyAsNamed(const char* name, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (page == kUtf8Page)
        return out.append(utf8, n);
    const unsigned int start = out.getSize();
    if (writeExactly(page, utf8, n, out) != 1)
        return false;
    if (bytesWithinNamedCharset(name, out.getData() + start, out.getSize() - start))
        return true;
    out.shorten(out.getSize() - start);
    return false;
}

bool withFullWidthKatakana(const char* name, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    // Half-width katakana's UTF-8 begins with 0xEF, which most text lacks.
    if (n == 0 || std::memchr(utf8, kHalfWidthKatakanaLead, n) == nullptr)
        return false;
    const char* encoding = webEncodingName(name);
    if (encoding == nullptr || !isEncoding(encoding, "iso-2022-jp"))
        return false;
    bool any = false;
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0)
            return false;
        if (cp >= kHalfWidthKatakanaFirst && cp <= kHalfWidthKatakanaLast) {
            if (!appendFullWidthKatakana(cp, out))
                return false;
            any = true;
        } else {
            out.append(utf8 + i, static_cast<unsigned int>(length));
        }
        i += static_cast<unsigned int>(length);
    }
    return any;
}

bool holdsJisRoman(const unsigned char* utf8, unsigned int n) {
    for (unsigned int i = 0; i < n;) {
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0)
            return false;
        if (jisRomanByte(cp) != 0)
            return true;
        i += static_cast<unsigned int>(length);
    }
    return false;
}

bool writtenAsNamed(const char* name, int page, const unsigned char* bytes, unsigned int count,
                    const unsigned char* utf8, unsigned int n) {
    // Null bytes ask another question of the repertoire.
    static constexpr unsigned char kNoBytes[1] = {0};
    if (bytes == nullptr || count == 0)
        bytes = kNoBytes;
    if (!bytesWithinNamedCodec(name, bytes, count))
        return false;
    DataBuffer back;
    std::uint64_t replaced = 0;
    EncodingConvert conv;
    if (!conv.decodeToUtf8(page, bytes, count, back, replaced))
        return bytesWithinNamedCharset(name, bytes, count);
    DataBuffer text;
    text.append(utf8, n);
    readAsNamedStandard(name, back, text);
    return replaced == 0 && back.equalsDb(text);
}

bool writeJisRomanAsNamed(const char* name, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (page < kIso2022JpFirstPage || page > kIso2022JpLastPage || !holdsJisRoman(utf8, n))
        return false;
    auto namedPiece = [name, page](const unsigned char* p, unsigned int k, DataBuffer& o) {
        return writeNamedText(name, page, p, k, o);
    };
    return writeJisRomanRuns(utf8, n, false, namedPiece, out);
}

bool writeFormText(const char* label, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (page == 0 || page == kUtf8Page)
        return out.append(utf8, n);
    const unsigned int start = out.getSize();
    if (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage && holdsJisRoman(utf8, n)) {
        auto browserPiece = [label](const unsigned char* p, unsigned int k, DataBuffer& o) {
            return writeBrowserText(label, p, k, o);
        };
        if (writeJisRomanRuns(utf8, n, true, browserPiece, out))
            return true;
        out.shorten(out.getSize() - start);
        return writeJisRomanAsNamed(label, page, utf8, n, out);
    }
    return writeBrowserText(label, utf8, n, out) || writeNamedText(label, page, utf8, n, out);
}

} // namespace tessik
