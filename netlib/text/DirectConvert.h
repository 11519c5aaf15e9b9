#pragma once
// One pass between UTF-8 and the table pages, and between two table pages,
// through the direct-indexed tables: the same bytes, result and dropped
// input as the conversion through UTF-16.

namespace tessik {

class DataBuffer;

// The result of the conversion, or -1 when the pair of pages is not
// converted this way.
int convertDirect(int fromPage, int toPage, const unsigned char* bytes, unsigned int count, DataBuffer& out);

} // namespace tessik
