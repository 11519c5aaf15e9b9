#pragma once
// Whether bytes a vendor page wrote under a standard's name are that
// standard's: "gb2312" written through page 936 must not hold GBK's codes,
// "shift_jis" through 932 not NEC's row 13, for readers of the name
// (iconv, python's codecs) take only the standard.

namespace tessik {

// True when every code of the bytes, written in the page the name maps to,
// is one the standard the name stands for has, read by its readers as the
// page reads it (always, for a name that is its page's own); false for a
// name of more than its page decodes.
bool bytesWithinNamedCharset(const char* name, const unsigned char* bytes, unsigned int count);

} // namespace tessik
