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
// UTF-8's first bytes of U+E000-U+EFFF, of the yen sign (and the cent and
// pound signs), and of the minus sign and overline (U+2000-U+2FFF).
constexpr unsigned char kPrivateUseLead = 0xEE, kYenSignLead = 0xC2, kMinusSignLead = 0xE2;
// Page 932's lead bytes of JIS X 0208's rows 1-8, 16-62 and 63-84.
constexpr unsigned char kSjisRow1Lead = 0x81, kSjisRow8Lead = 0x84, kSjisRow16Lead = 0x88, kSjisRow62Lead = 0x9F,
                        kSjisRow63Lead = 0xE0, kSjisRow84Lead = 0xEA;
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
// leading U+FEFF for a mark; GB18030 is no table page, ISO-2022-JP is
// written through page 932.
int writeExactly(int page, const unsigned char* utf8, unsigned int n, DataBuffer& out);

// Whether page 932's codes lie in ASCII but the escape and shifts and in
// JIS X 0208's own rows, where the ISO-2022-JP writer's escapes read back
// as the same codes.
bool inJisX0208Rows(const unsigned char* p, unsigned int n) {
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < kHighBit) {
            if (c == kEscape || c == kShiftOut || c == kShiftIn)
                return false;
            continue;
        }
        const bool standardRows = (c >= kSjisRow1Lead && c <= kSjisRow8Lead) ||
                                  (c >= kSjisRow16Lead && c <= kSjisRow62Lead) ||
                                  (c >= kSjisRow63Lead && c <= kSjisRow84Lead);
        if (!standardRows || i + 1 >= n)
            return false;
        ++i;
    }
    return true;
}

// ISO-2022-JP is written through page 932: a text whose every character
// has a code there that reads back as it, all in JIS X 0208's own rows,
// reads back as itself. Anything else is left to the reading back (-1).
int writeIso2022JpExactly(const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    DataBuffer codes;
    if (writeExactly(kShiftJisPage, utf8, n, codes) != 1 || !inJisX0208Rows(codes.getData(), codes.getSize()))
        return -1;
    Japanese().shiftJisToIso2022Jp(codes.getData(), codes.getSize(), out);
    return 1;
}

int writeExactly(int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage)
        return writeIso2022JpExactly(utf8, n, out);
    if (page == kUtf16LePage || page == kUtf16BePage || page == kUtf32LePage || page == kUtf32BePage ||
        page == kGb18030Page)
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

// The bytes that begin a character one of browserInput's steps looks at.
struct StepBytes {
    std::array<bool, 256> looked{};

    StepBytes(bool japanese, bool iso2022) {
        looked[kPrivateUseLead] = looked[kHalfWidthKatakanaLead] = true;
        looked[kYenSignLead] = looked[kMinusSignLead] = japanese;
        looked[kShiftOut] = looked[kShiftIn] = looked[kEscape] = iso2022;
    }
};

// The characters a browser's encoder looks up for the text, as its steps
// before the lookup have them: U+2212 as U+FF0D under the Japanese
// encodings, the yen sign and overline as the bytes of '\\' and '~' under
// Shift_JIS and EUC-JP (JIS X 0201's), half-width katakana as full-width
// under ISO-2022-JP. `changed` false (nothing written) where no step
// changes the text, which is then looked up as it is. False for a
// character it never writes: private use (under GBK, whose table has some,
// the name's own codes decide), and the shifts and escape under
// ISO-2022-JP.
bool browserInput(const char* encoding, const unsigned char* utf8, unsigned int n, DataBuffer& out, bool& changed) {
    const bool iso2022 = isEncoding(encoding, "iso-2022-jp");
    const bool japanese = iso2022 || isEncoding(encoding, "shift_jis") || isEncoding(encoding, "euc-jp");
    changed = false;
    // Elsewhere only private use is looked at, which most text lacks.
    if (n == 0 || (!japanese && std::memchr(utf8, kPrivateUseLead, n) == nullptr &&
                   std::memchr(utf8, kHalfWidthKatakanaLead, n) == nullptr))
        return true;
    // Text not yet copied begins at `piece`: most text is copied never.
    unsigned int piece = 0;
    // Only these bytes begin a character a step looks at; the rest,
    // ill-formed or not, are left to the encoder, which refuses what is
    // not UTF-8.
    static const StepBytes kOther(false, false), kJapanese(true, false), kIso2022(true, true);
    const StepBytes& steps = iso2022 ? kIso2022 : japanese ? kJapanese : kOther;
    for (unsigned int i = 0; i < n;) {
        while (i < n && !steps.looked[utf8[i]])
            ++i;
        if (i == n)
            break;
        if (utf8[i] < kHighBit)
            return false;
        std::uint32_t cp = 0;
        const int length = utf8ScalarAt(utf8 + i, n - i, cp);
        if (length <= 0 || (cp >= kPrivateUseFirst && cp <= kPrivateUseLast))
            return false;
        const unsigned int next = i + static_cast<unsigned int>(length);
        const bool minus = japanese && cp == kMinusSign;
        const char roman = japanese && !iso2022 ? jisRomanByte(cp) : 0;
        const bool katakana = iso2022 && cp >= kHalfWidthKatakanaFirst && cp <= kHalfWidthKatakanaLast;
        if (!minus && roman == 0 && !katakana) {
            i = next;
            continue;
        }
        out.append(utf8 + piece, i - piece);
        if (minus)
            out.appendCharUtf8(kFullWidthHyphenMinus);
        else if (roman != 0)
            out.appendChar(static_cast<unsigned char>(roman));
        else if (!appendFullWidthKatakana(cp, out))
            return false;
        changed = true;
        piece = i = next;
    }
    if (changed)
        out.append(utf8 + piece, n - piece);
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
// library's table of the page that reads that encoding, appended; the
// output as it was where it writes none.
bool writeBrowserPiece(const char* encoding, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    DataBuffer stepped;
    bool changed = false;
    if (!browserInput(encoding, utf8, n, stepped, changed))
        return false;
    const unsigned char* input = changed ? stepped.getData() : utf8;
    const unsigned int count = changed ? stepped.getSize() : n;
    const unsigned int start = out.getSize();
    const int exact = writeExactly(page, input, count, out);
    if (exact == 1 && browserReadsAsPage(encoding, out.getData() + start, out.getSize() - start))
        return true;
    if (exact >= 0) {
        out.shorten(out.getSize() - start);
        return false;
    }
    EncodingConvert conv;
    DataBuffer back;
    std::uint64_t replaced = 0;
    if (convertText(conv, page, input, count, out) && conv.getDroppedCount() == 0 &&
        browserReadsAsPage(encoding, out.getData() + start, out.getSize() - start) &&
        conv.decodeToUtf8(page, out.getData() + start, out.getSize() - start, back, replaced) && replaced == 0 &&
        back.getSize() == count && (count == 0 || std::memcmp(back.getData(), input, count) == 0))
        return true;
    out.shorten(out.getSize() - start);
    return false;
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
bool writeBrowserText(const FormCharset& charset, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    if (charset.browserPage == 0)
        return false;
    if (isEncoding(charset.encoding, "big5"))
        return writeBig5Text(charset.browserPage, utf8, n, out);
    return writeBrowserPiece(charset.encoding, charset.browserPage, utf8, n, out);
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
    // Only the yen sign's and the overline's first bytes are read, which
    // most text lacks.
    for (const unsigned char lead : {kYenSignLead, kMinusSignLead}) {
        for (unsigned int i = 0; i < n;) {
            const void* at = std::memchr(utf8 + i, lead, n - i);
            if (at == nullptr)
                break;
            i = static_cast<unsigned int>(static_cast<const unsigned char*>(at) - utf8);
            std::uint32_t cp = 0;
            const int length = utf8ScalarAt(utf8 + i, n - i, cp);
            if (length <= 0)
                return false;
            if (jisRomanByte(cp) != 0)
                return true;
            i += static_cast<unsigned int>(length);
        }
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

FormCharset formCharset(const char* label, int page) {
    FormCharset charset;
    charset.label = label;
    charset.page = page;
    const char* encoding = webEncodingName(label);
    const int browserPage = encoding ? static_cast<int>(webEncodingCodePage(encoding)) : 0;
    if (browserPage != 0 && browserPage != kUtf8Page && browserPage != kUtf16LePage && browserPage != kUtf16BePage) {
        charset.encoding = encoding;
        charset.browserPage = browserPage;
    }
    return charset;
}

bool writeFormText(const FormCharset& charset, const unsigned char* utf8, unsigned int n, DataBuffer& out) {
    const int page = charset.page;
    if (page == 0 || page == kUtf8Page)
        return out.append(utf8, n);
    const unsigned int start = out.getSize();
    if (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage && holdsJisRoman(utf8, n)) {
        auto browserPiece = [&charset](const unsigned char* p, unsigned int k, DataBuffer& o) {
            return writeBrowserText(charset, p, k, o);
        };
        if (writeJisRomanRuns(utf8, n, true, browserPiece, out))
            return true;
        out.shorten(out.getSize() - start);
        return writeJisRomanAsNamed(charset.label, page, utf8, n, out);
    }
    if (writeBrowserText(charset, utf8, n, out))
        return true;
    // Big5's letters may have gone before a piece it does not write.
    out.shorten(out.getSize() - start);
    return writeNamedText(charset.label, page, utf8, n, out);
}

} // namespace tessik
