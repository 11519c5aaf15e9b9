#pragma once
// Byte-level transforms between the 7-bit ISO-2022 forms and the double-byte
// pages they are converted through: ISO-2022-KR and page 949, ISO-2022-JP and
// page 932. Malformed input is handled, never reported; output is appended.

#include <cstdint>

namespace tessik {

class DataBuffer;

// ISO-2022-JP to UTF-16LE as the Encoding Standard decodes it: an escape
// sequence it does not have, a byte its current set lacks (a line feed in a
// two-byte run, an 8-bit byte) and a two-byte code without a character each
// give U+FFFD, counted in `replaced`, and no byte after them is swallowed.
void iso2022JpToUtf16Replacing(const unsigned char* bytes, unsigned int count, DataBuffer& out,
                               std::uint64_t& replaced);
// ISO-2022-KR (RFC 1557) to UTF-16LE the same way: the designator is
// skipped wherever it stands, and any other escape, an 8-bit byte, a line
// end inside a two-byte run (which stays on) and a two-byte code without a
// character each give U+FFFD.
void iso2022KrToUtf16Replacing(const unsigned char* bytes, unsigned int count, DataBuffer& out,
                               std::uint64_t& replaced);

class Korean {
public:
    virtual ~Korean();
    void iso2022KrToEucKr(const unsigned char* bytes, unsigned int count, DataBuffer& out);
    void eucKrToIso2022Kr(const unsigned char* bytes, unsigned int count, DataBuffer& out);
};

class Japanese {
public:
    // Input forms of halfWidthKatakanaToFullWidth: a mark is the next byte
    // (page 932) or the next two bytes 0x8E and the mark (EUC-JP).
    static constexpr int kFormShiftJis = 5;
    static constexpr int kFormEucJp = 4;

    virtual ~Japanese();
    // Lossy (what it does not read is dropped): the conversion front end
    // for text a caller converts. The library's readers of text from outside
    // (response heads, encoded words, bodies) use the replacing decoder.
    void iso2022JpToShiftJis(const unsigned char* bytes, unsigned int count, DataBuffer& out);
    void shiftJisToIso2022Jp(const unsigned char* bytes, unsigned int count, DataBuffer& out);
    // `first` holds the letter (0xA1-0xDF) on entry and the page 932 lead
    // byte of its full-width form on return; returns the mark bytes consumed.
    unsigned int halfWidthKatakanaToFullWidth(const unsigned char* following, unsigned int count, unsigned char& first,
                                              unsigned char& second, int form);
};

} // namespace tessik
