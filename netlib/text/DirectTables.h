#pragma once
// Direct-indexed forms of a page's hashed tables, derived once from them so
// that a conversion costs one array read per character. Each answers exactly
// what the hashed lookup of the converters answers; a page whose tables do
// not fit the form is marked unusable and keeps the hashed road.
#include <array>
#include <cstdint>
#include <vector>

namespace tessik {

class HashConvert;
class UnicodeLookup;

// Page bytes to UTF-16 units.
struct DirectDecodeTable {
    static constexpr std::uint16_t kNone = 0xFFFF;

    // A byte taken alone; kNone when it has no character (dropped).
    std::uint16_t single[256] = {};
    // Whether any two-byte code starts with the byte.
    bool leadsPair[256] = {};
    // Two-byte codes, indexed lead * 256 + trail; empty for a page without.
    std::vector<std::uint16_t> pairs;
    // Three-byte codes, all with the one lead byte `tripleLead` (EUC-JP's
    // 8F), indexed by their last two bytes; empty for a page without.
    unsigned char tripleLead = 0;
    std::vector<std::uint16_t> triples;
    bool usable = false;
    // Some character is a UTF-16 surrogate unit.
    bool yieldsSurrogates = false;
    // Bytes 0x01 to 0x7F stand for themselves and start no pair.
    bool asciiTransparent = false;

    // The same characters ready as UTF-8, for pages without surrogates:
    // 0 for none, else kUtf8Present, the length (0 to 3) at kUtf8LengthShift
    // and the bytes from the low byte up; the unit 0, which UTF-8 text does
    // not carry, is kUtf8Present | kUtf8ZeroUnit with no bytes.
    static constexpr std::uint32_t kUtf8Present = 0x80000000u;
    static constexpr std::uint32_t kUtf8ZeroUnit = 0x40000000u;
    static constexpr int kUtf8LengthShift = 24;
    std::uint32_t singleUtf8[256] = {};
    std::vector<std::uint32_t> pairsUtf8;
    std::vector<std::uint32_t> triplesUtf8;
};

// UTF-16 units to page bytes.
struct DirectEncodeTable {
    // 0: the unit has no code (dropped); else kPresent, the code's length
    // (0 to 2) at kLengthShift and its bytes from the low byte up.
    static constexpr std::uint32_t kPresent = 0x80000000u;
    static constexpr int kLengthShift = 24;
    // Beside kPresent: the page's decoder reads the code back as another
    // character (or, for a byte that may lead a longer code, may).
    static constexpr std::uint32_t kOneWay = 0x40000000u;

    std::vector<std::uint32_t> codes;
    bool usable = false;
    // Units 0x00 to 0x7F become the one byte of the same value.
    bool asciiTransparent = false;
    // The codes carry kOneWay where it holds (the page's decoding table fits
    // the direct form).
    bool oneWayMarked = false;
};

void buildDirectDecode(const UnicodeLookup& lookup, DirectDecodeTable& target);
void buildDirectDecode(const HashConvert& toUnicode, DirectDecodeTable& target);
void buildDirectEncode(const HashConvert& fromUnicode, DirectEncodeTable& target);
// Per byte, whether a reader of the page takes it standing alone as the
// decoding table has it.
using LoneByteReadings = std::array<bool, 256>;
// Marks the codes the page's own decoding reads back as another character.
void markOneWayCodes(const DirectDecodeTable& decode, const LoneByteReadings& readAlone, DirectEncodeTable& target);

} // namespace tessik
