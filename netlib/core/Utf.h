#pragma once
// UTF-8, UTF-16LE and UTF-32 codecs. UTF-16 is little-endian, UTF-32 in host
// (little-endian) order; byte-order marks are the caller's business.
#include <cstdint>

class DataBuffer;

// True when the 1 to 4 bytes are one well-formed UTF-8 sequence (encoded
// surrogates included).
bool isLegalUtf8(const unsigned char* p, int length);
// One UTF-16 unit from a sequence of at most 3 bytes: bytes used, -1 when
// ill-formed (4-byte leads included), -2 when truncated.
int decodeUtf8Char(const unsigned char* p, unsigned int available, std::uint16_t& unit);

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
