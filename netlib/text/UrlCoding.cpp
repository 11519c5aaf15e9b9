#include "netlib/text/UrlCoding.h"

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isPlain(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

} // namespace

void urlEncodeBytes(const void* bytes, unsigned int n, StringBuffer& out) {
    if (!bytes || n == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    char block[2048];
    unsigned int fill = 0;
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (isPlain(c)) {
            block[fill++] = static_cast<char>(c);
        } else if (c == ' ') {
            block[fill++] = '+';
        } else {
            block[fill++] = '%';
            block[fill++] = kHex[c >> 4];
            block[fill++] = kHex[c & 15];
        }
        if (fill + 3 > sizeof block) {
            out.appendBytes(block, static_cast<int>(fill));
            fill = 0;
        }
    }
    if (fill)
        out.appendBytes(block, static_cast<int>(fill));
}

void appendPercentEscape(unsigned char c, StringBuffer& out) {
    const char escape[] = {'%', kHex[c >> 4], kHex[c & 15]};
    out.appendBytes(escape, static_cast<int>(sizeof escape));
}

void urlEncodeDb(const DataBuffer& in, StringBuffer& out) {
    urlEncodeBytes(in.getData(), in.getSize(), out);
}

namespace {

// Hex digit values, -1 for every other byte.
struct HexDigits {
    signed char value[256];
    HexDigits() {
        for (int c = 0; c < 256; ++c)
            value[c] = static_cast<signed char>(hexValue(static_cast<unsigned char>(c)));
    }
};

const HexDigits& hexDigits() {
    static const HexDigits digits;
    return digits;
}

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;
constexpr std::size_t kWord = 8;
constexpr std::size_t kBlock = 8 * kWord;

// One bit for each byte of w that equals c, lowest byte first: the byte
// compare by word arithmetic, then its top bits gathered into one byte.
inline std::uint64_t bitsEqual(std::uint64_t w, unsigned char c) {
    const std::uint64_t x = w ^ (kOnes * c);
    const std::uint64_t zero = ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
    return ((zero >> 7) * 0x0102040810204080ull) >> 56;
}

// One special byte ('+' or '%') at p, whose two followers are readable;
// returns the input's next position. Which of the three cases it is does
// not follow a pattern in real text, so it is worked out by arithmetic, with
// no branch to guess.
inline const unsigned char* decodeSpecial(const unsigned char* p, unsigned char*& w, const signed char* hex) {
    const int hi = hex[p[1]], lo = hex[p[2]];
    const unsigned escape = *p == '%';
    const unsigned valid = escape & ~(static_cast<unsigned>(hi | lo) >> 31);
    const unsigned decoded = static_cast<unsigned>(hi << 4 | lo) & 0xFF;
    const unsigned plain = ' ' + escape * ('%' - ' ');
    *w++ = static_cast<unsigned char>(plain ^ ((plain ^ decoded) & (0u - valid)));
    return p + 1 + 2 * valid;
}

// Decodes from p up to end into w, stopping early at a '%' cut off by the
// end; returns where the output ends. The output has room for the input's
// bytes and a word more.
unsigned char* decodeInto(const unsigned char* p, const unsigned char* end, unsigned char* w) {
    const signed char* hex = hexDigits().value;
    // Blocks of 64 bytes, while a word read from their last byte stays in
    // the input: first where the special bytes are, then the plain runs
    // between them copied a word at a time.
    for (const unsigned char* block = p; end - block >= static_cast<std::ptrdiff_t>(kBlock + kWord); block += kBlock) {
        std::uint64_t special = 0;
        for (std::size_t k = 0; k < kBlock; k += kWord) {
            const std::uint64_t word = platform::LoadLe64(block + k);
            special |= (bitsEqual(word, '+') | bitsEqual(word, '%')) << k;
        }
        while (special) {
            const unsigned char* at = block + std::countr_zero(special);
            special &= special - 1;
            const auto run = static_cast<std::size_t>(at - p);
            std::size_t k = 0;
            do {
                platform::StoreLe64(w + k, platform::LoadLe64(p + k));
                k += kWord;
            } while (k < run);
            w += run;
            p = decodeSpecial(at, w, hex);
        }
    }
    // The rest a byte at a time.
    while (p < end) {
        const unsigned char c = *p;
        if (c != '+' && c != '%') {
            *w++ = c;
            ++p;
        } else if (end - p >= 3) {
            p = decodeSpecial(p, w, hex);
        } else if (c == '+') {
            *w++ = ' ';
            ++p;
        } else {
            break;
        }
    }
    return w;
}

} // namespace

void urlDecode(const StringBuffer& text, DataBuffer& out) {
    // The text ends at its first NUL.
    const auto* p = reinterpret_cast<const unsigned char*>(text.getString());
    const auto size = static_cast<std::size_t>(text.getSize());
    if (!p || size == 0)
        return;
    const auto* nul = static_cast<const unsigned char*>(std::memchr(p, 0, size));
    const unsigned char* end = nul ? nul : p + size;
    const auto n = static_cast<unsigned int>(end - p);
    if (n == 0)
        return;
    // Decoding only shrinks: written straight into the buffer's room.
    const unsigned int had = out.getSize();
    if (static_cast<std::uint64_t>(had) + n + kWord > UINT32_MAX || !out.ensureCapacity(had + n + kWord))
        return;
    unsigned char* w = decodeInto(p, end, out.getData() + had);
    out.setSize(static_cast<unsigned int>(w - out.getData()));
}

} // namespace tessik
