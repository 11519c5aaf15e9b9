#pragma once
// The code-page engine behind EncodingConvert: the table pages, the ISO-2022
// forms, UTF-7 and Arabic visual order. installTextServices() (TextServices.h)
// installs it; calling installCodePageEngine() again is harmless.

#include <cstdint>

namespace tessik {

class DataBuffer;

void installCodePageEngine();

// Table page <-> UTF-16LE. Unmappable bytes or units are skipped and make
// the result false; a page without tables gives false and writes nothing.
bool tablePageToUtf16(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out);
bool utf16ToTablePage(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out);
// Table page to UTF-16LE with U+FFFD for each byte the page does not map,
// counted in `replaced`; false for a page without tables.
bool tablePageToUtf16Replacing(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out,
                               std::uint64_t& replaced);

// Page 10004 text in visual order to logical order, appended to `out`.
void arabicVisualToLogical(const unsigned char* bytes, unsigned int count, DataBuffer& out);

} // namespace tessik
