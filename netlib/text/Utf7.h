#pragma once
// UTF-7 (code page 65000), reached only through UTF-16LE.
#include <cstdint>

namespace tessik {

class DataBuffer;

// Appends the UTF-7 form of the UTF-16LE units; an odd last byte is ignored,
// a leading U+FEFF dropped. Always true.
bool utf16ToUtf7(const DataBuffer& in, DataBuffer& out);

// Appends the UTF-16LE units of the UTF-7 bytes. False when the input broke
// a rule (8-bit byte, non-zero leftover bits, an empty run); everything that
// could be decoded is written all the same. Lossy: bytes from outside are
// read by utf7ToUtf16Replacing.
bool utf7ToUtf16(const DataBuffer& in, DataBuffer& out);

// Appends the UTF-16LE units of the UTF-7 bytes as python's codec reads
// them with errors='replace': each error is one U+FFFD (counted in
// `replaced`), the unit 0 stays, and a high surrogate left alone is written
// as it is for the caller's UTF-8 step to replace.
void utf7ToUtf16Replacing(const unsigned char* bytes, unsigned int count, DataBuffer& out, std::uint64_t& replaced);

} // namespace tessik
