#pragma once
// Pieces shared by the bzip2 compressor and decoder (not part of the
// library's interface).
#include "netlib/streams/Bzip2Engine.h"

#include <array>
#include <cstdint>

namespace bz2 {

// Base of the compressor's and the decoder's state, so that each end
// function can tell whether a stream is its own.
struct EngineState {
    enum Kind { kCompressor = 1, kDecoder = 2 };
    EngineState(Kind k, Stream* s) : kind(k), strm(s) {}
    virtual ~EngineState() = default;
    Kind kind;
    Stream* strm;
};

// Sets the randomised flag on the blocks a compressor writes (and randomises
// them), so that the decoder's path for old streams can be tested.
void setRandomisedForTesting(Stream* strm);

// CRC-32 of the format: polynomial 04C11DB7, most significant bit first.
constexpr std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; i++) {
        std::uint32_t c = i << 24;
        for (int k = 0; k < 8; k++)
            c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
        t[i] = c;
    }
    return t;
}
inline constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

inline std::uint32_t crcUpdate(std::uint32_t crc, std::uint8_t byte)
{
    return (crc << 8) ^ kCrcTable[(crc >> 24) ^ byte];
}

// Gaps between flipped bytes in the (old) randomised blocks.
extern const std::uint16_t kRandNums[512];

// Sorts the rotations of block[0..n) into ptr. `work` holds n + 64 words of
// scratch; `doubled` holds 2n + 8 bytes. Returns the origin pointer.
std::uint32_t blockSort(const std::uint8_t* block, std::uint32_t n, std::uint32_t* ptr,
                        std::uint32_t* work, std::uint8_t* doubled, int workFactor);

// Code lengths (1..maxLen) for `alphaSize` symbols with the given
// frequencies; zero frequencies count as 1 so every symbol gets a code.
void makeCodeLengths(std::uint8_t* len, const std::int32_t* freq, int alphaSize, int maxLen);

}  // namespace bz2
