#include "netlib/core/Utf.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

int trailingBytes(unsigned char lead) {
    if (lead < 0xC0)
        return 0;
    if (lead < 0xE0)
        return 1;
    if (lead < 0xF0)
        return 2;
    if (lead < 0xF8)
        return 3;
    if (lead < 0xFC)
        return 4;
    return 5;
}

constexpr std::uint32_t kOffsets[4] = {0x00000000u, 0x00003080u, 0x000E2080u, 0x03C82080u};

// Output gathered in small blocks rather than byte by byte.
class Stager {
public:
    explicit Stager(DataBuffer& out) : m_out(out) {}
    ~Stager() { flush(); }
    void put(unsigned char b) {
        if (m_fill == sizeof m_block)
            flush();
        m_block[m_fill++] = b;
    }
    void unit16(std::uint16_t u) {
        unsigned char le[2];
        platform::StoreLe16(le, u);
        putBytes(le, sizeof le);
    }
    void putBytes(const unsigned char* p, unsigned n) {
        for (unsigned i = 0; i < n; ++i)
            put(p[i]);
    }
    void flush() {
        if (m_fill)
            m_out.append(m_block, m_fill);
        m_fill = 0;
    }

private:
    DataBuffer& m_out;
    unsigned char m_block[512];
    unsigned m_fill = 0;
};

void putUtf8(Stager& s, std::uint32_t v) {
    if (v < 0x80) {
        s.put(static_cast<unsigned char>(v));
    } else if (v < 0x800) {
        s.put(static_cast<unsigned char>(0xC0 | (v >> 6)));
        s.put(static_cast<unsigned char>(0x80 | (v & 0x3F)));
    } else if (v < 0x10000) {
        s.put(static_cast<unsigned char>(0xE0 | (v >> 12)));
        s.put(static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)));
        s.put(static_cast<unsigned char>(0x80 | (v & 0x3F)));
    } else if (v < 0x200000) {
        s.put(static_cast<unsigned char>(0xF0 | (v >> 18)));
        s.put(static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F)));
        s.put(static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)));
        s.put(static_cast<unsigned char>(0x80 | (v & 0x3F)));
    } else {
        s.put(0xEF);
        s.put(0xBF);
        s.put(0xBD);
    }
}

bool utf8ToUtf32(const DataBuffer& in, DataBuffer& out, bool bigEndian) {
    const unsigned char* p = in.getData();
    unsigned int n = in.getSize();
    Stager s(out);
    unsigned int i = 0;
    while (i < n) {
        int t = trailingBytes(p[i]);
        if (static_cast<unsigned>(t) >= n - i || !isLegalUtf8(p + i, t + 1))
            return false;
        std::uint32_t v = 0;
        for (int k = 0; k <= t; ++k) {
            v += p[i + k];
            if (k < t)
                v <<= 6;
        }
        v -= kOffsets[t];
        if (v >= 0x80000000u)
            v = 0xFFFD;
        unsigned char word[4];
        bigEndian ? platform::StoreBe32(word, v) : platform::StoreLe32(word, v);
        s.putBytes(word, sizeof word);
        i += static_cast<unsigned>(t) + 1;
    }
    return true;
}

} // namespace

bool isLegalUtf8(const unsigned char* p, int length) {
    if (!p || length < 1 || length > 4)
        return false;
    if (length >= 4 && (p[3] < 0x80 || p[3] > 0xBF))
        return false;
    if (length >= 3 && (p[2] < 0x80 || p[2] > 0xBF))
        return false;
    if (length >= 2) {
        unsigned char a = p[1];
        if (a > 0xBF)
            return false;
        switch (p[0]) {
        case 0xE0:
            if (a < 0xA0)
                return false;
            break;
        case 0xF0:
            if (a < 0x90)
                return false;
            break;
        case 0xF4:
            if (a > 0x8F || a < 0x80)
                return false;
            break;
        default:
            if (a < 0x80)
                return false;
        }
    }
    if (p[0] >= 0x80 && p[0] < 0xC2)
        return false;
    if (p[0] > 0xF4)
        return false;
    // The lead must announce exactly this many bytes.
    return trailingBytes(p[0]) + 1 == length;
}

int utf8ScalarAt(const unsigned char* p, unsigned int n, std::uint32_t& cp) {
    if (n == 0)
        return 0;
    if (p[0] < 0x80) {
        cp = p[0];
        return 1;
    }
    const int len = trailingBytes(p[0]) + 1;
    if (len < 2 || len > 4 || static_cast<unsigned int>(len) > n || !isLegalUtf8(p, len))
        return 0;
    static constexpr unsigned char kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
    std::uint32_t v = p[0] & kLeadMask[len];
    for (int k = 1; k < len; ++k)
        v = (v << 6) | (p[k] & 0x3Fu);
    if (v >= 0xD800 && v <= 0xDFFF)
        return 0;
    cp = v;
    return len;
}

namespace {

// The bytes one error of the Encoding Standard's UTF-8 decoder takes where
// no character starts at p: a lead and the continuation bytes that could
// still have made one (the second byte's range narrowed after E0, ED, F0
// and F4), so that a cut character is one U+FFFD, not one a byte.
unsigned int utf8ErrorLength(const unsigned char* p, unsigned int n) {
    const unsigned char lead = p[0];
    unsigned int needed = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    unsigned int used = 1;
    while (needed > 0 && used < n && p[used] >= low && p[used] <= high) {
        ++used;
        --needed;
        low = 0x80;
        high = 0xBF;
    }
    return used;
}

} // namespace

std::uint64_t appendUtf8Replacing(const unsigned char* p, unsigned int n, DataBuffer& out) {
    static constexpr unsigned char kReplacement[] = {0xEF, 0xBF, 0xBD};
    std::uint64_t replaced = 0;
    unsigned int from = 0;
    for (unsigned int i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const int used = utf8ScalarAt(p + i, n - i, cp);
        if (used > 0) {
            i += static_cast<unsigned int>(used);
            continue;
        }
        out.append(p + from, i - from);
        out.append(kReplacement, sizeof kReplacement);
        ++replaced;
        i += utf8ErrorLength(p + i, n - i);
        from = i;
    }
    out.append(p + from, n - from);
    return replaced;
}

namespace {

constexpr std::uint32_t kReplacementChar = 0xFFFD;
constexpr std::uint32_t kLeadFirst = 0xD800, kLeadLast = 0xDBFF, kTrailFirst = 0xDC00, kTrailLast = 0xDFFF;
constexpr std::uint32_t kMaxScalar = 0x10FFFF;

std::uint32_t loadUnit16(const unsigned char* p, bool bigEndian) {
    return bigEndian ? platform::LoadBe16(p) : platform::LoadLe16(p);
}

} // namespace

std::uint64_t appendUtf16AsUtf8Replacing(const unsigned char* p, unsigned int n, bool bigEndian, DataBuffer& out) {
    std::uint64_t replaced = 0;
    const unsigned int units = n / 2;
    out.ensureCapacity(out.getSize() + units + units / 2 + 4);
    Stager s(out);
    for (unsigned int i = 0; i < units; ++i) {
        const std::uint32_t u = loadUnit16(p + 2 * i, bigEndian);
        if (u < kLeadFirst || u > kTrailLast) {
            putUtf8(s, u);
            continue;
        }
        if (u <= kLeadLast && i + 1 < units) {
            const std::uint32_t lo = loadUnit16(p + 2 * i + 2, bigEndian);
            if (lo >= kTrailFirst && lo <= kTrailLast) {
                putUtf8(s, 0x10000 + ((u - kLeadFirst) << 10) + (lo - kTrailFirst));
                ++i;
                continue;
            }
        }
        putUtf8(s, kReplacementChar);
        ++replaced;
        // A lead surrogate and an odd byte that end the text are one error.
        if (u <= kLeadLast && i + 1 == units && n % 2 != 0)
            return replaced;
    }
    if (n % 2 != 0) {
        putUtf8(s, kReplacementChar);
        ++replaced;
    }
    return replaced;
}

std::uint64_t appendUtf32AsUtf8Replacing(const unsigned char* p, unsigned int n, bool bigEndian, DataBuffer& out) {
    std::uint64_t replaced = 0;
    Stager s(out);
    for (unsigned int i = 0; i + 4 <= n; i += 4) {
        const std::uint32_t v = bigEndian ? platform::LoadBe32(p + i) : platform::LoadLe32(p + i);
        if (v > kMaxScalar || (v >= kLeadFirst && v <= kTrailLast)) {
            putUtf8(s, kReplacementChar);
            ++replaced;
        } else {
            putUtf8(s, v);
        }
    }
    if (n % 4 != 0) {
        putUtf8(s, kReplacementChar);
        ++replaced;
    }
    return replaced;
}

bool utf8ToUtf16(const unsigned char* bytes, unsigned int count, DataBuffer& out) {
    if (!bytes || count == 0)
        return true;
    struct Units {
        Stager& s;
        void unit(std::uint16_t u) { s.unit16(u); }
        void ascii8(std::uint64_t) {}
    };
    Stager s(out);
    Units units{s};
    std::uint64_t skipped = 0;
    unsigned int i = 0;
    decodeUtf8Units(bytes, count, i, count, false, units, skipped);
    if (skipped)
        tessik::noteDroppedInput(skipped);
    return true;
}

bool utf16ToUtf8(const unsigned char* bytes, unsigned int count, DataBuffer& out) {
    if (!bytes || count == 0)
        return true;
    bool ok = (count % 2) == 0;
    if (!ok)
        tessik::noteDroppedInput(1);
    unsigned int units = count / 2;
    Stager s(out);
    for (unsigned int i = 0; i < units; ++i) {
        std::uint16_t u = platform::LoadLe16(bytes + 2 * i);
        if (u == 0) {
            tessik::noteDroppedInput(2);
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            std::uint16_t lo = platform::LoadLe16(bytes + 2 * i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                putUtf8(s, 0x10000 + ((static_cast<std::uint32_t>(u - 0xD800) << 10) | (lo - 0xDC00u)));
                ++i;
                continue;
            }
        }
        putUtf8(s, u);
    }
    return ok;
}

bool utf8ToUtf32LE(const DataBuffer& in, DataBuffer& out) {
    return utf8ToUtf32(in, out, false);
}
bool utf8ToUtf32BE(const DataBuffer& in, DataBuffer& out) {
    return utf8ToUtf32(in, out, true);
}

bool utf32ToUtf8(const DataBuffer& in, DataBuffer& out) {
    unsigned int n = in.getSize();
    if (n == 0)
        return true;
    if (n < 4)
        return false;
    const unsigned char* p = in.getData();
    Stager s(out);
    for (unsigned int i = 0; i + 4 <= n; i += 4) {
        putUtf8(s, platform::LoadLe32(p + i));
    }
    return true;
}

} // namespace tessik
