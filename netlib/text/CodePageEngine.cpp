#include "netlib/text/CodePageEngine.h"

#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Utf.h"
#include "netlib/text/ByteStaging.h"
#include "netlib/text/CharsetNames.h"
#include "netlib/text/CodePageTables.h"
#include "netlib/text/CodecCodes.h"
#include "netlib/text/DirectConvert.h"
#include "netlib/text/Gb18030.h"
#include "netlib/text/HashConvert.h"
#include "netlib/text/Iso2022.h"
#include "netlib/text/NamedRepertoire.h"
#include "netlib/text/Utf7.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

using Staging = ByteStaging<512>;

constexpr unsigned int kC1First = 0x80, kC1Last = 0x9F, kPrivateUseFirst = 0xE000, kPrivateUseLast = 0xF8FF;

bool singleByteToUtf16(const UnicodeLookup& lookup, const unsigned char* p, unsigned int n, DataBuffer& out,
                       UnmappedInput unmapped) {
    Staging s(out);
    bool ok = true;
    for (unsigned int i = 0; i < n; ++i) {
        if (p[i] == 0) {
            s.putUnit(0);
            continue;
        }
        unsigned int u = lookup.units[p[i]];
        if (u == 0) {
            ok = unmapped.take(s, 1) && ok;
        } else {
            s.putUnit(u);
        }
    }
    return ok;
}

bool multiByteToUtf16(int page, const HashConvert& table, const unsigned char* p, unsigned int n, DataBuffer& out,
                      UnmappedInput unmapped) {
    Staging s(out);
    bool ok = true;
    unsigned int longest = table.maxKeyLength() < 4 ? table.maxKeyLength() : 4;
    unsigned int i = 0;
    while (i < n) {
        unsigned int left = n - i, length = 0;
        const unsigned char* v = nullptr;
        unsigned int used = 0;
        // Longer codes first; a table without them is not asked for them.
        for (unsigned int k = 2; k <= longest && k <= left && !v; ++k) {
            v = table.find(p + i, k, length);
            used = k;
        }
        if (v) {
            s.put(v, length);
            i += used;
            continue;
        }
        unsigned char c = p[i++];
        if (c == 0 || (c < 0x80 && table.asciiCompatible)) {
            s.putUnit(c);
            continue;
        }
        v = table.find(&c, 1, length);
        // Read as the Standard reads it only where replacing: the lossy
        // conversion keeps the page's own mapping.
        if (v && unmapped.replaced && length == 2 &&
            !isStandardLoneByte(page, c, static_cast<unsigned int>(v[0] | (v[1] << 8))))
            v = nullptr;
        if (v)
            s.put(v, length);
        else
            ok = unmapped.take(s, 1) && ok;
    }
    return ok;
}

bool utf16ToMultiByte(const HashConvert& table, const unsigned char* p, unsigned int n, DataBuffer& out) {
    n &= ~1u;
    if (n == 0)
        return false;
    Staging s(out);
    bool ok = true;
    for (unsigned int i = 0; i < n; i += 2) {
        unsigned int u = platform::LoadLe16(p + i);
        if (u < 0x80 && table.asciiCompatible) {
            s.put(static_cast<unsigned char>(u));
            continue;
        }
        unsigned int length = 0;
        const unsigned char* v = table.find(p + i, 2, length);
        if (v) {
            s.put(v, length);
        } else if (u == 0) {
            s.put(0);
        } else {
            ok = false;
            noteDroppedInput(2);
        }
    }
    return ok;
}

bool isVisualRunByte(unsigned char c) {
    return c == 0x81 || c == 0x8C || c == 0x93 || c == 0x98 || c == 0x9B || (c >= 0xA0 && c <= 0xA4) ||
           (c >= 0xA6 && c <= 0xAB) || (c >= 0xAD && c <= 0xBA) || (c >= 0xBC && c <= 0xBE) || c == 0xC0 ||
           (c >= 0xDB && c <= 0xDF) || (c >= 0xFB && c <= 0xFD);
}

unsigned char remapVisual(unsigned char c) {
    if ((c >= 0xA0 && c <= 0xBA && c != 0xA5 && c != 0xAC) || (c >= 0xBC && c <= 0xBE) || (c >= 0xDB && c <= 0xDF) ||
        (c >= 0xFB && c <= 0xFD))
        return static_cast<unsigned char>(c - 0x80);
    if (c == 0x81)
        return 0xA0;
    return c;
}

// Pages converted through a table page, and how.
int frontEnd(int page, const unsigned char* p, unsigned int n, DataBuffer& out) {
    switch (page) {
    case 50220:
    case 50221:
    case 50222: {
        Japanese j;
        j.iso2022JpToShiftJis(p, n, out);
        return 932;
    }
    case 50225: {
        Korean k;
        k.iso2022KrToEucKr(p, n, out);
        return 949;
    }
    case 10004: arabicVisualToLogical(p, n, out); return 10004;
    default: return 0;
    }
}

int backEndPage(int page) {
    if (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage)
        return kShiftJisPage;
    if (page == kIso2022KrPage)
        return kUhcPage;
    return 0;
}

void backEnd(int page, const unsigned char* p, unsigned int n, DataBuffer& out) {
    if (page == kIso2022KrPage) {
        Korean k;
        k.eucKrToIso2022Kr(p, n, out);
    } else {
        Japanese j;
        j.shiftJisToIso2022Jp(p, n, out);
    }
}

bool supportsPage(int page) {
    return isTablePage(page) || backEndPage(page) != 0;
}

int charsetName(const char* name) {
    return static_cast<int>(charsetNameToCodePage(name));
}

// The replacing decoders: UTF-7 and the ISO-2022 forms as their own state
// machines, the table pages in one pass where their direct tables allow.
bool pageToUtf8Replacing(int page, const unsigned char* p, unsigned int n, DataBuffer& out, std::uint64_t& replaced) {
    DataBuffer utf16;
    if (page == kUtf7Page)
        utf7ToUtf16Replacing(p, n, utf16, replaced);
    else if (page >= kIso2022JpFirstPage && page <= kIso2022JpLastPage)
        iso2022JpToUtf16Replacing(p, n, utf16, replaced);
    else if (page == kIso2022KrPage)
        iso2022KrToUtf16Replacing(p, n, utf16, replaced);
    else if (decodeDirectToUtf8Replacing(page, p, n, out, replaced))
        return true;
    else if (!tablePageToUtf16Replacing(page, p, n, utf16, replaced))
        return false;
    replaced += appendUtf16AsUtf8Replacing(utf16.getData(), utf16.getSize(), false, out);
    return true;
}

const CodePageEngine kEngine = {tablePageToUtf16,
                                utf16ToTablePage,
                                charsetName,
                                supportsPage,
                                frontEnd,
                                backEndPage,
                                backEnd,
                                utf7ToUtf16,
                                utf16ToUtf7,
                                convertDirect,
                                pageToUtf8Replacing,
                                convertUtf8Exactly,
                                bytesWithinNamedCharset};

} // namespace

bool isStandardLoneByte(int page, unsigned char c, unsigned int unit) {
    if (c < kC1First || !isMultiByteTablePage(page))
        return true;
    if (unit >= kPrivateUseFirst && unit <= kPrivateUseLast)
        return false;
    if (unit >= kC1First && unit <= kC1Last)
        return page == kShiftJisPage && c == kC1First && unit == kC1First;
    return true;
}

bool isReadLoneByte(int page, unsigned char c, unsigned int unit) {
    if (isStandardLoneByte(page, c, unit))
        return true;
    for (const CodecLoneByte* b = codecLoneBytesBegin(); b != codecLoneBytesEnd(); ++b)
        if (b->page == page && b->byte == c && b->character == unit)
            return true;
    return false;
}

bool isCodeReadOtherwise(int page, unsigned int code) {
    static constexpr unsigned int kGbkReadOtherwise[] = {0xA2E3, 0xA3A0, 0xA8BC, 0xA8BF};
    if (page != kGbkPage)
        return false;
    for (const unsigned int c : kGbkReadOtherwise)
        if (c == code)
            return true;
    return false;
}

void installCodePageEngine() {
    EncodingConvert::installEngine(&kEngine);
}

void arabicVisualToLogical(const unsigned char* p, unsigned int n, DataBuffer& outBuffer) {
    if (!p || !n)
        return;
    DataBuffer copy;
    copy.append(p, n);
    unsigned char* b = copy.getData();
    unsigned int runStart = 0;
    bool inRun = false;
    auto reverse = [&](unsigned int from, unsigned int to) {
        while (to - from >= 2) {
            unsigned char t = b[from];
            b[from++] = b[--to];
            b[to] = t;
        }
    };
    for (unsigned int i = 0; i < n; ++i) {
        bool run = isVisualRunByte(b[i]);
        if (inRun && !run) {
            reverse(runStart, i);
            inRun = false;
        } else if (!inRun && run) {
            runStart = i;
            inRun = true;
        }
        b[i] = remapVisual(b[i]);
    }
    if (inRun)
        reverse(runStart, n);
    outBuffer.append(b, n);
}

namespace {

bool decodeTablePage(int page, const unsigned char* p, unsigned int n, DataBuffer& out, UnmappedInput unmapped) {
    if (isSingleByteTablePage(page)) {
        if (!p || !n)
            return true;
        return singleByteToUtf16(*singleByteToUnicodeTable(page), p, n, out, unmapped);
    }
    if (isMultiByteTablePage(page)) {
        if (!p || !n)
            return true;
        if (page == kGb18030Page)
            return gb18030ToUtf16(*multiByteToUnicodeTable(page), p, n, out, unmapped);
        return multiByteToUtf16(page, *multiByteToUnicodeTable(page), p, n, out, unmapped);
    }
    return false;
}

} // namespace

bool tablePageToUtf16(int page, const unsigned char* p, unsigned int n, DataBuffer& out) {
    return decodeTablePage(page, p, n, out, UnmappedInput{});
}

bool tablePageToUtf16Replacing(int page, const unsigned char* p, unsigned int n, DataBuffer& out,
                               std::uint64_t& replaced) {
    return decodeTablePage(page, p, n, out, UnmappedInput{&replaced});
}

bool utf16ToTablePage(int page, const unsigned char* p, unsigned int n, DataBuffer& out) {
    const HashConvert* table = isTablePage(page) ? fromUnicodeTable(page) : nullptr;
    if (!table)
        return false;
    if (!p || !n)
        return true;
    if (page == kGb18030Page)
        return utf16ToGb18030(*table, p, n, out);
    if (page != 28596 && page != 1256)
        return utf16ToMultiByte(*table, p, n, out);
    // Arabic-Indic digits are written as ASCII digits on these pages.
    DataBuffer copy;
    copy.append(p, n);
    unsigned char* b = copy.getData();
    for (unsigned int i = 0; i + 1 < n; i += 2) {
        unsigned int u = platform::LoadLe16(b + i);
        if ((u >= 0x660 && u <= 0x669) || (u >= 0x6F0 && u <= 0x6F9)) {
            b[i] = static_cast<unsigned char>('0' + (u & 0xF));
            b[i + 1] = 0;
        }
    }
    return utf16ToMultiByte(*table, b, n, out);
}

} // namespace tessik
