#pragma once
// Codes taken from python's codecs where the library's code-page tables
// have others (scripts/codepages/codec_codes.py writes them).

#include <cstdint>

namespace tessik {

// A character python's codec of a page's own names (cp932, cp950) writes
// as the code of another, which it reads back instead.
struct CodecOneWay {
    int page;
    std::uint32_t character;
    // What the code reads back as, and the page writes as that code.
    std::uint32_t twin;
};

const CodecOneWay* codecOneWayBegin();
const CodecOneWay* codecOneWayEnd();

// A byte python's codec of a page's own names reads standing alone as a
// character (private use, a C1 control) the Encoding Standard's decoders
// refuse there: page 932's 0x80, 0xA0 and 0xFD-0xFF.
struct CodecLoneByte {
    int page;
    unsigned char byte;
    std::uint32_t character;
};

const CodecLoneByte* codecLoneBytesBegin();
const CodecLoneByte* codecLoneBytesEnd();

// A character page 950 has at one of ETEN's codes (0xC6A1 to 0xC8FE: kana
// and Cyrillic), with the code a browser's Big5 encoder writes for it.
struct Big5Letter {
    std::uint32_t character;
    std::uint16_t code;
};

// Ordered by character.
const Big5Letter* big5LettersBegin();
const Big5Letter* big5LettersEnd();

} // namespace tessik
