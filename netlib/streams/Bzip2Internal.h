#pragma once
// Pieces shared by the bzip2 compressor and decoder (not part of the
// library's interface).
#include "netlib/streams/Bzip2Engine.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace tessik::bz2 {

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
constexpr std::array<std::uint32_t, 256> makeCrcTable() {
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

inline std::uint32_t crcUpdate(std::uint32_t crc, std::uint8_t byte) {
    return (crc << 8) ^ kCrcTable[(crc >> 24) ^ byte];
}

// Gaps between flipped bytes in the (old) randomised blocks.
extern const std::uint16_t kRandNums[512];

// An uninitialised heap array: the engine writes every element before it
// reads it, and zeroing megabytes per call costs more than compressing a
// small input takes.
template <typename T>
class RawArray {
public:
    bool allocate(std::size_t n) {
        if (n <= m_size)
            return true;
        m_data.reset(new (std::nothrow) T[n]);
        m_size = m_data ? n : 0;
        return m_data != nullptr;
    }
    T* data() { return m_data.get(); }
    const T* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    T& operator[](std::size_t i) { return m_data[i]; }

private:
    std::unique_ptr<T[]> m_data;
    std::size_t m_size = 0;
};

// Scratch memory of the block sort, kept by the compressor between blocks.
struct SortScratch {
    RawArray<std::uint32_t> work;    // n + n/32 + 64 words, at least 65,537
    RawArray<std::uint8_t> doubled;  // the block twice, and 8 bytes
    RawArray<std::int32_t> suffixes; // 2n entries, taken when first needed
};

// Sorts the rotations of block[0..n) into ptr; returns the origin pointer,
// or -1 when scratch memory could not be had.
std::int64_t blockSort(const std::uint8_t* block, std::uint32_t n, std::uint32_t* ptr, SortScratch& scratch,
                       int workFactor);

// Code lengths (1..maxLen) for `alphaSize` symbols with the given
// frequencies; zero frequencies count as 1 so every symbol gets a code.
void makeCodeLengths(std::uint8_t* len, const std::int32_t* freq, int alphaSize, int maxLen);

} // namespace tessik::bz2
