#include "netlib/text/Utf7.h"

#include <cstdint>
#include <mutex>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/text/ByteStaging.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

struct Utf7Tables {
    char alphabet[64];
    signed char value[128]; // -1 outside the alphabet
    bool shifted[128];      // true: must go inside a base64 run
};

const Utf7Tables& initUtf7Tables() {
    static Utf7Tables t;
    static std::once_flag once;
    std::call_once(once, [] {
        const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 128; ++i) {
            t.value[i] = -1;
            bool alnum = (i >= 'A' && i <= 'Z') || (i >= 'a' && i <= 'z') || (i >= '0' && i <= '9');
            bool direct = alnum || i == '\'' || i == '(' || i == ')' || i == ',' || i == '-' || i == '.' || i == '/' ||
                          i == ':' || i == '?' || i == ' ' || i == '\t' || i == '\r' || i == '\n';
            t.shifted[i] = !direct;
        }
        for (int i = 0; i < 64; ++i) {
            t.alphabet[i] = a[i];
            t.value[static_cast<unsigned char>(a[i])] = static_cast<signed char>(i);
        }
    });
    return t;
}

} // namespace

bool utf16ToUtf7(const DataBuffer& in, DataBuffer& out) {
    const Utf7Tables& t = initUtf7Tables();
    const unsigned char* p = in.getData();
    unsigned int units = in.getSize() / 2;
    unsigned int i = 0;
    if (units && platform::LoadLe16(p) == 0xFEFF)
        i = 1;

    ByteStaging<1024> run(out);
    bool inRun = false;
    std::uint32_t bits = 0;
    int bitCount = 0;
    auto closeRun = [&] {
        if (bitCount > 0)
            run.put(static_cast<unsigned char>(t.alphabet[(bits << (6 - bitCount)) & 0x3F]));
        run.put('-');
        inRun = false;
        bits = 0;
        bitCount = 0;
    };
    for (; i < units; ++i) {
        std::uint16_t u = platform::LoadLe16(p + 2 * i);
        if (u < 0x80 && !t.shifted[u]) {
            if (inRun)
                closeRun();
            run.put(static_cast<unsigned char>(u));
            continue;
        }
        if (u == '+' && !inRun) {
            run.put('+');
            run.put('-');
            continue;
        }
        if (!inRun) {
            run.put('+');
            inRun = true;
        }
        bits = (bits << 16) | u;
        bitCount += 16;
        while (bitCount >= 6) {
            bitCount -= 6;
            run.put(static_cast<unsigned char>(t.alphabet[(bits >> bitCount) & 0x3F]));
        }
        bits &= (1u << bitCount) - 1;
    }
    if (inRun)
        closeRun();
    return true;
}

bool utf7ToUtf16(const DataBuffer& in, DataBuffer& out) {
    const Utf7Tables& t = initUtf7Tables();
    const unsigned char* p = in.getData();
    unsigned int n = in.getSize();
    ByteStaging<1024> run(out);
    bool ok = true;

    unsigned int i = 0;
    while (i < n) {
        unsigned char c = p[i++];
        if (c != '+') {
            // An 8-bit byte has no place in UTF-7; it goes through as Latin-1.
            if (c >= 0x80) {
                ok = false;
                noteDroppedInput(1);
            }
            if (c != 0)
                run.putUnit(c);
            else
                noteDroppedInput(1);
            continue;
        }
        // A run: 6 bits per alphabet character, a unit per 16 bits.
        std::uint32_t bits = 0;
        int bitCount = 0;
        bool sawAlphabet = false;
        bool wroteUnit = false;
        const unsigned int runStart = i;
        while (i < n && p[i] < 0x80 && t.value[p[i]] >= 0) {
            bits = (bits << 6) | static_cast<std::uint32_t>(t.value[p[i]]);
            bitCount += 6;
            sawAlphabet = true;
            if (bitCount >= 16) {
                bitCount -= 16;
                run.putUnit(static_cast<std::uint16_t>(bits >> bitCount));
                wroteUnit = true;
            }
            bits &= (1u << bitCount) - 1;
            ++i;
        }
        if (bits != 0)
            ok = false;
        bool plusMinus = !sawAlphabet && i < n && p[i] == '-';
        if (plusMinus) {
            run.putUnit('+');
        } else if (!wroteUnit) {
            // A run that makes no unit is lost, its '+' included.
            ok = false;
            noteDroppedInput(i - runStart + 1);
        } else if (bits != 0) {
            noteDroppedInput(1); // the character holding the bits left over
        }
        if (i < n && (p[i] == '-' || p[i] == '+'))
            ++i;
    }
    return ok;
}

namespace {

constexpr unsigned int kUnitBits = 16;
constexpr unsigned int kBase64Bits = 6;
constexpr unsigned char kAsciiEnd = 0x80;

bool isHighSurrogate(unsigned int u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLowSurrogate(unsigned int u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

void utf7ToUtf16Replacing(const unsigned char* p, unsigned int n, DataBuffer& outBuffer, std::uint64_t& replaced) {
    const Utf7Tables& t = initUtf7Tables();
    ByteStaging<1024> out(outBuffer);
    const UnmappedInput unmapped{&replaced};
    const auto base64 = [&t](unsigned char c) { return c < kAsciiEnd && t.value[c] >= 0; };
    bool inShift = false;
    std::uint32_t bits = 0;
    unsigned int bitCount = 0;
    unsigned int surrogate = 0;
    unsigned int i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (inShift && base64(c)) {
            bits = (bits << kBase64Bits) | static_cast<std::uint32_t>(t.value[c]);
            bitCount += kBase64Bits;
            ++i;
            if (bitCount < kUnitBits)
                continue;
            bitCount -= kUnitBits;
            const unsigned int unit = (bits >> bitCount) & 0xFFFF;
            bits &= (1u << bitCount) - 1;
            if (surrogate != 0) {
                out.putUnit(surrogate);
                const bool pair = isLowSurrogate(unit);
                surrogate = 0;
                if (pair) {
                    out.putUnit(unit);
                    continue;
                }
            }
            if (isHighSurrogate(unit))
                surrogate = unit;
            else
                out.putUnit(unit);
            continue;
        }
        if (inShift) {
            // The byte that ends a run; a character cut short or bits left
            // set take it into their one error.
            inShift = false;
            if (bitCount >= kBase64Bits || (bitCount > 0 && bits != 0)) {
                unmapped.take(out, 1);
                ++i;
                continue;
            }
            if (surrogate != 0 && c < kAsciiEnd && c != '+')
                out.putUnit(surrogate);
            surrogate = 0;
            if (c == '-')
                ++i;
            continue;
        }
        ++i;
        if (c == '+') {
            if (i < n && p[i] == '-') {
                out.putUnit('+');
                ++i;
            } else if (i < n && !base64(p[i])) {
                // "+" before a byte no run begins with: one error, both bytes.
                unmapped.take(out, 2);
                ++i;
            } else {
                inShift = true;
                bits = 0;
                bitCount = 0;
                surrogate = 0;
            }
        } else if (c < kAsciiEnd) {
            out.putUnit(c);
        } else {
            unmapped.take(out, 1);
        }
    }
    if (inShift && (surrogate != 0 || bitCount >= kBase64Bits || (bitCount > 0 && bits != 0)))
        unmapped.take(out, 1);
}

} // namespace tessik
