#pragma once
// Whether bytes a vendor page wrote under a standard's name are that
// standard's: "gb2312" written through page 936 must not hold GBK's codes,
// "shift_jis" through 932 not NEC's row 13, for readers of the name
// (iconv, python's codecs) take only the standard.

#include <cstdint>

namespace tessik {

class DataBuffer;

// True when every code of the bytes, written in the page the name maps to,
// is one the standard the name stands for has, read by its readers as the
// page reads it (always, for a name that is its page's own); false for a
// name of more than its page decodes.
bool bytesWithinNamedCharset(const char* name, const unsigned char* bytes, unsigned int count);
// The same, with the codes python's codec of the name has that its other
// readers read otherwise than the vendor page counted as well (the JIS
// cells of U+301C, U+2016, U+2212, U+00A2, U+00A3 and U+00AC; ETEN's kana
// and Cyrillic under big5), and without page 936's codes its readers take
// otherwise (isCodeReadOtherwise) under that page's own names: the caller
// then reads the bytes back by readAsNamedStandard.
bool bytesWithinNamedCodec(const char* name, const unsigned char* bytes, unsigned int count);
// Text (UTF-8) `read` from a name's page as python's codec of the name
// reads the codes, and the `text` written as that codec's reading gives it
// back: under a JIS name the vendor's U+FF5E, U+2225, U+FF0D, U+FFE0,
// U+FFE1 and U+FFE2 read are the standard's characters of those cells, and
// the yen sign and overline of the text come back as '\\' and '~'; under
// a name of page 932 or 950 itself the characters its codec writes one way
// come back as what their codes read as.
void readAsNamedStandard(const char* name, DataBuffer& read, DataBuffer& text);
// Whether a text (UTF-8) holds a character python's codec of the page's own
// names writes one way (CodecCodes.h).
bool holdsCodecOneWay(int page, const unsigned char* utf8, unsigned int n);
// The byte JIS X 0201 Roman writes the yen sign and overline as ('\\' and
// '~'), which the JIS encoders write for them; 0 for another character.
char jisRomanByte(std::uint32_t cp);
// Whether a page 950 code is one of ETEN's kana and Cyrillic (0xC6A1 to
// 0xC8FE), where a browser's Big5 table has HKSCS's letters.
bool big5EtenLetter(unsigned code);

} // namespace tessik
