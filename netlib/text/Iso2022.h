#pragma once
// Byte-level transforms between the 7-bit ISO-2022 forms and the double-byte
// pages they are converted through: ISO-2022-KR and page 949, ISO-2022-JP and
// page 932. Malformed input is handled, never reported; output is appended.

namespace tessik {

class DataBuffer;

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
    void iso2022JpToShiftJis(const unsigned char* bytes, unsigned int count, DataBuffer& out);
    void shiftJisToIso2022Jp(const unsigned char* bytes, unsigned int count, DataBuffer& out);
    // `first` holds the letter (0xA1-0xDF) on entry and the page 932 lead
    // byte of its full-width form on return; returns the mark bytes consumed.
    unsigned int halfWidthKatakanaToFullWidth(const unsigned char* following, unsigned int count, unsigned char& first,
                                              unsigned char& second, int form);
};

} // namespace tessik
