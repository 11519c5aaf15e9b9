#pragma once
// UTF-8, UTF-16LE and UTF-32 codecs. UTF-16 is little-endian, UTF-32 in host
// (little-endian) order; byte-order marks are the caller's business.
#include <cstdint>
#include <cstring>

namespace tessik {

class DataBuffer;

// True when the 1 to 4 bytes are one well-formed UTF-8 sequence (encoded
// surrogates included).
bool isLegalUtf8(const unsigned char* p, int length);
// The well-formed UTF-8 character at p (n bytes there): its length, 1 to 4,
// and its code point; 0 when the bytes do not start one (overlong forms,
// encoded surrogates and values past U+10FFFF included).
int utf8ScalarAt(const unsigned char* p, unsigned int n, std::uint32_t& cp);
// Appends the bytes with what is not a well-formed UTF-8 character (as
// utf8ScalarAt has them) replaced by U+FFFD, one for each error of the
// Encoding Standard's decoder (a cut character is one); the count of
// U+FFFD written.
std::uint64_t appendUtf8Replacing(const unsigned char* p, unsigned int n, DataBuffer& out);
// Appends UTF-16 (either byte order) as UTF-8 the way the Encoding
// Standard decodes it: the unit 0 kept, a lone surrogate and an odd last
// byte each U+FFFD; the count of replacements.
std::uint64_t appendUtf16AsUtf8Replacing(const unsigned char* p, unsigned int n, bool bigEndian, DataBuffer& out);
// The same for UTF-32: a value that is no scalar value and a cut last unit
// each U+FFFD.
std::uint64_t appendUtf32AsUtf8Replacing(const unsigned char* p, unsigned int n, bool bigEndian, DataBuffer& out);
// One UTF-16 unit from a sequence of at most 3 bytes: bytes used, -1 when
// ill-formed (4-byte leads included), -2 when truncated.
// Inline: the converters call it for every character.
inline int decodeUtf8Char(const unsigned char* p, unsigned int available, std::uint16_t& unit) {
    if (available == 0)
        return -2;
    unsigned char lead = p[0];
    if (lead < 0x80) {
        unit = lead;
        return 1;
    }
    if (lead < 0xC2 || lead >= 0xF0)
        return -1;
    if (lead < 0xE0) {
        if (available < 2)
            return -2;
        if (p[1] < 0x80 || p[1] > 0xBF)
            return -1;
        unit = static_cast<std::uint16_t>(((lead & 0x1F) << 6) | (p[1] & 0x3F));
        return 2;
    }
    if (available < 3)
        return -2;
    if (p[1] < 0x80 || p[1] > 0xBF || p[2] < 0x80 || p[2] > 0xBF)
        return -1;
    if (lead == 0xE0 && p[1] < 0xA0)
        return -1;
    unit = static_cast<std::uint16_t>(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    return 3;
}

// UTF-8 from p[i] up to at least p[stop] (a sequence may end three bytes
// beyond) as UTF-16 units handed to sink.unit(u): characters beyond the Basic
// Multilingual Plane become surrogate pairs, ill-formed bytes are skipped one
// at a time and counted in `skipped`. With `asciiWords`, runs of eight ASCII
// bytes go to sink.ascii8(word) at once.
template <class Sink>
void decodeUtf8Units(const unsigned char* p, unsigned int n, unsigned int& i, unsigned int stop, bool asciiWords,
                     Sink& sink, std::uint64_t& skipped) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    constexpr unsigned int kWord = 8;
    while (i < stop) {
        if (asciiWords && p[i] < 0x80) {
            while (stop - i >= kWord) {
                std::uint64_t v;
                std::memcpy(&v, p + i, kWord);
                if (v & kHighBits)
                    break;
                sink.ascii8(v);
                i += kWord;
            }
            if (i >= stop)
                break;
        }
        const unsigned char b = p[i];
        if (b < 0x80) {
            sink.unit(b);
            ++i;
            continue;
        }
        if (b >= 0xF0 && n - i >= 4 && isLegalUtf8(p + i, 4)) {
            std::uint32_t v = (static_cast<std::uint32_t>(b & 0x07) << 18) | ((p[i + 1] & 0x3Fu) << 12) |
                              ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
            v -= 0x10000;
            sink.unit(static_cast<std::uint16_t>(0xD800 | (v >> 10)));
            sink.unit(static_cast<std::uint16_t>(0xDC00 | (v & 0x3FF)));
            i += 4;
            continue;
        }
        std::uint16_t unit = 0;
        const int used = decodeUtf8Char(p + i, n - i, unit);
        if (used > 0) {
            sink.unit(unit);
            i += static_cast<unsigned int>(used);
        } else {
            ++skipped;
            ++i;
        }
    }
}

// UTF-8 to UTF-16LE; ill-formed bytes are skipped one at a time (and noted as
// dropped input), characters beyond the Basic Multilingual Plane become
// surrogate pairs. Always true.
bool utf8ToUtf16(const unsigned char* bytes, unsigned int count, DataBuffer& out);
// UTF-16LE to UTF-8; surrogate pairs become 4-byte sequences, lone surrogates
// are encoded by themselves, the unit 0 is dropped (and noted). False for an
// odd count.
bool utf16ToUtf8(const unsigned char* bytes, unsigned int count, DataBuffer& out);

bool utf8ToUtf32LE(const DataBuffer& in, DataBuffer& out);
bool utf8ToUtf32BE(const DataBuffer& in, DataBuffer& out);
bool utf32ToUtf8(const DataBuffer& in, DataBuffer& out);

} // namespace tessik
