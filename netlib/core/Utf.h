#pragma once
// UTF-8, UTF-16LE and UTF-32 codecs. UTF-16 is little-endian, UTF-32 in host
// (little-endian) order; byte-order marks are the caller's business.
#include <cstdint>

namespace tessik {

class DataBuffer;

// True when the 1 to 4 bytes are one well-formed UTF-8 sequence (encoded
// surrogates included).
bool isLegalUtf8(const unsigned char* p, int length);
// One UTF-16 unit from a sequence of at most 3 bytes: bytes used, -1 when
// ill-formed (4-byte leads included), -2 when truncated.
// Inline: the converters call it for every character.
inline int decodeUtf8Char(const unsigned char* p, unsigned int available, std::uint16_t& unit) {
    if (available == 0) return -2;
    unsigned char lead = p[0];
    if (lead < 0x80) {
        unit = lead;
        return 1;
    }
    if (lead < 0xC2 || lead >= 0xF0) return -1;
    if (lead < 0xE0) {
        if (available < 2) return -2;
        if (p[1] < 0x80 || p[1] > 0xBF) return -1;
        unit = static_cast<std::uint16_t>(((lead & 0x1F) << 6) | (p[1] & 0x3F));
        return 2;
    }
    if (available < 3) return -2;
    if (p[1] < 0x80 || p[1] > 0xBF || p[2] < 0x80 || p[2] > 0xBF) return -1;
    if (lead == 0xE0 && p[1] < 0xA0) return -1;
    unit = static_cast<std::uint16_t>(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    return 3;
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

}  // namespace tessik
