#pragma once
// UTF-7 (code page 65000), reached only through UTF-16LE.
namespace tessik {

class DataBuffer;

// Appends the UTF-7 form of the UTF-16LE units; an odd last byte is ignored,
// a leading U+FEFF dropped. Always true.
bool utf16ToUtf7(const DataBuffer& in, DataBuffer& out);

// Appends the UTF-16LE units of the UTF-7 bytes. False when the input broke
// a rule (8-bit byte, non-zero leftover bits, an empty run); everything that
// could be decoded is written all the same.
bool utf7ToUtf16(const DataBuffer& in, DataBuffer& out);

} // namespace tessik
