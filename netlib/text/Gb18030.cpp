#include "netlib/text/Gb18030.h"

#include <algorithm>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/text/ByteStaging.h"
#include "netlib/text/CodePageTableText.h"
#include "netlib/text/HashConvert.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

using cptext::Gb18030Run;
using cptext::kGb18030RunCount;
using cptext::kGb18030Runs;

// Four-byte codes: b1 and b3 from 0x81 to 0xFE, b2 and b4 the digits 0x30 to 0x39.
constexpr unsigned char kLeadFirst = 0x81;
constexpr unsigned char kLeadLast = 0xFE;
constexpr unsigned char kDigitFirst = 0x30;
constexpr unsigned char kDigitLast = 0x39;
constexpr long kDigitSpan = 10;
constexpr long kLeadSpan = 126;
// Linear indexes 0 to 39419 (81 30 81 30 to 84 31 A4 39) are the BMP.
constexpr long kBmpCodes = 39420;
// The supplementary planes start at 90 30 81 30.
constexpr long kSupplementaryStart = (0x90 - kLeadFirst) * kDigitSpan * kLeadSpan * kDigitSpan;
constexpr unsigned long kFirstSupplementary = 0x10000;
constexpr unsigned long kLastCodePoint = 0x10FFFF;
constexpr unsigned int kFourBytes = 4;

bool isLead(unsigned char c) {
    return c >= kLeadFirst && c <= kLeadLast;
}
bool isDigit(unsigned char c) {
    return c >= kDigitFirst && c <= kDigitLast;
}
bool isHighSurrogate(unsigned int u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(unsigned int u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

long linearIndex(const unsigned char* p) {
    return (((p[0] - kLeadFirst) * kDigitSpan + (p[1] - kDigitFirst)) * kLeadSpan + (p[2] - kLeadFirst)) * kDigitSpan +
           (p[3] - kDigitFirst);
}

void putFourBytes(long linear, ByteStaging<512>& s) {
    unsigned char b[4];
    b[3] = static_cast<unsigned char>(kDigitFirst + linear % kDigitSpan);
    linear /= kDigitSpan;
    b[2] = static_cast<unsigned char>(kLeadFirst + linear % kLeadSpan);
    linear /= kLeadSpan;
    b[1] = static_cast<unsigned char>(kDigitFirst + linear % kDigitSpan);
    b[0] = static_cast<unsigned char>(kLeadFirst + linear / kDigitSpan);
    s.put(b, kFourBytes);
}

long runEnd(int r) {
    return r + 1 < kGb18030RunCount ? kGb18030Runs[r + 1].first : kBmpCodes;
}

// The code point of a four-byte code, 0 when it names none.
unsigned long fromLinear(long linear) {
    if (linear < kBmpCodes) {
        const Gb18030Run* end = kGb18030Runs + kGb18030RunCount;
        const Gb18030Run* r =
            std::upper_bound(kGb18030Runs, end, linear, [](long v, const Gb18030Run& run) { return v < run.first; });
        return r == kGb18030Runs ? 0 : r[-1].codePoint + static_cast<unsigned long>(linear - r[-1].first);
    }
    if (linear < kSupplementaryStart)
        return 0;
    const unsigned long cp = kFirstSupplementary + static_cast<unsigned long>(linear - kSupplementaryStart);
    return cp <= kLastCodePoint ? cp : 0;
}

// The linear index of a BMP code point without a shorter code, -1 when none.
long bmpLinear(unsigned int cp) {
    for (int r = 0; r < kGb18030RunCount; ++r) {
        const Gb18030Run& run = kGb18030Runs[r];
        if (cp >= run.codePoint && cp - run.codePoint < static_cast<unsigned long>(runEnd(r) - run.first))
            return run.first + static_cast<long>(cp - run.codePoint);
    }
    return -1;
}

} // namespace

bool gb18030ToUtf16(const HashConvert& table, const unsigned char* p, unsigned int n, DataBuffer& out,
                    UnmappedInput unmapped) {
    ByteStaging<512> s(out);
    bool ok = true;
    unsigned int i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            s.putUnit(c);
            ++i;
            continue;
        }
        if (isLead(c) && i + 1 < n && isDigit(p[i + 1])) {
            // A digit after a lead byte starts a four-byte code; an incomplete
            // one loses its lead byte only.
            if (i + 3 >= n || !isLead(p[i + 2]) || !isDigit(p[i + 3])) {
                ok = unmapped.take(s, 1) && ok;
                ++i;
                continue;
            }
            const unsigned long cp = fromLinear(linearIndex(p + i));
            if (cp == 0) {
                ok = unmapped.take(s, kFourBytes) && ok;
            } else if (cp < kFirstSupplementary) {
                s.putUnit(cp);
            } else {
                s.putUnit(0xD800 + ((cp - kFirstSupplementary) >> 10));
                s.putUnit(0xDC00 + ((cp - kFirstSupplementary) & 0x3FF));
            }
            i += kFourBytes;
            continue;
        }
        unsigned int length = 0;
        const unsigned char* v = i + 1 < n ? table.find(p + i, 2, length) : nullptr;
        if (v) {
            s.put(v, length);
            i += 2;
            continue;
        }
        v = table.find(p + i, 1, length);
        if (v)
            s.put(v, length);
        else
            ok = unmapped.take(s, 1) && ok;
        ++i;
    }
    return ok;
}

bool utf16ToGb18030(const HashConvert& table, const unsigned char* p, unsigned int n, DataBuffer& out) {
    n &= ~1u;
    if (n == 0)
        return false;
    ByteStaging<512> s(out);
    bool ok = true;
    for (unsigned int i = 0; i < n; i += 2) {
        const unsigned int u = platform::LoadLe16(p + i);
        if (u < 0x80) {
            s.put(static_cast<unsigned char>(u));
            continue;
        }
        unsigned int length = 0;
        const unsigned char* v = table.find(p + i, 2, length);
        if (v) {
            s.put(v, length);
            continue;
        }
        if (isHighSurrogate(u) && i + 3 < n && isLowSurrogate(platform::LoadLe16(p + i + 2))) {
            const unsigned int low = platform::LoadLe16(p + i + 2);
            const long offset = static_cast<long>(((u - 0xD800) << 10) + (low - 0xDC00));
            putFourBytes(kSupplementaryStart + offset, s);
            i += 2;
            continue;
        }
        const long linear = isHighSurrogate(u) || isLowSurrogate(u) ? -1 : bmpLinear(u);
        if (linear >= 0) {
            putFourBytes(linear, s);
        } else {
            ok = false;
            noteDroppedInput(2);
        }
    }
    return ok;
}

} // namespace tessik
