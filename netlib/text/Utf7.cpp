#include "netlib/text/Utf7.h"

#include <cstdint>
#include <mutex>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
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

// Collects output bytes and hands them to the buffer in runs.
class ByteRun {
public:
    explicit ByteRun(DataBuffer& out) : out_(out) {}
    ~ByteRun() { flush(); }
    void put(unsigned char c) {
        block_[fill_++] = c;
        if (fill_ == sizeof block_)
            flush();
    }
    void putUnit(std::uint16_t u) {
        unsigned char le[2];
        platform::StoreLe16(le, u);
        put(le[0]);
        put(le[1]);
    }
    void flush() {
        if (fill_)
            out_.append(block_, fill_);
        fill_ = 0;
    }

private:
    DataBuffer& out_;
    unsigned char block_[1024];
    unsigned int fill_ = 0;
};

} // namespace

bool utf16ToUtf7(const DataBuffer& in, DataBuffer& out) {
    const Utf7Tables& t = initUtf7Tables();
    const unsigned char* p = in.getData();
    unsigned int units = in.getSize() / 2;
    unsigned int i = 0;
    if (units && platform::LoadLe16(p) == 0xFEFF)
        i = 1;

    ByteRun run(out);
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
    ByteRun run(out);
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

} // namespace tessik
