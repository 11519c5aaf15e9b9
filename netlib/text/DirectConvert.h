#pragma once
#include <cstdint>

// One pass between UTF-8 and the table pages, and between two table pages,
// through the direct-indexed tables: the same bytes, result and dropped
// input as the conversion through UTF-16.

namespace tessik {

class DataBuffer;

// The result of the conversion, or -1 when the pair of pages is not
// converted this way.
int convertDirect(int fromPage, int toPage, const unsigned char* bytes, unsigned int count, DataBuffer& out);
// UTF-8 to a table page, each character written only as a code the page's
// decoder reads back as that character: false (output unfinished) at the
// first that has none; -1 for a page whose tables do not fit the form.
int convertUtf8Exactly(int toPage, const unsigned char* utf8, unsigned int count, DataBuffer& out);

// A table page's bytes to UTF-8 in one pass, each byte the page does not
// map U+FFFD (counted in `replaced`), the unit 0 kept; false, with nothing
// written, for a page the direct tables do not decode to UTF-8.
bool decodeDirectToUtf8Replacing(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out,
                                 std::uint64_t& replaced);

} // namespace tessik
