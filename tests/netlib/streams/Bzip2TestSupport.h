#pragma once
// Helpers shared by the bzip2 tests: a bit writer for hand-made streams, an
// independent CRC, corpus data and running the reference tools.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace bz2test {

using Bytes = std::vector<std::uint8_t>;

// CRC-32 of the format, computed bit by bit (independent of the engine's).
std::uint32_t slowCrc(const Bytes& data);

class BitWriter {
public:
    void put(int bits, std::uint32_t value);
    void putByte(std::uint8_t b) { put(8, b); }
    Bytes finish();

private:
    Bytes m_out;
    std::uint64_t m_acc = 0;
    int m_live = 0;
};

// One block written field by field, so tests can break any field.
struct BlockSpec {
    std::uint32_t crc = 0;
    bool randomised = false;
    std::uint32_t origPtr = 0;
    std::vector<std::uint8_t> used; // byte values marked in use
    int nGroups = 2;
    std::uint32_t nSelectors = 1;
    std::vector<int> selectorMtf;          // missing entries are 0
    std::vector<std::vector<int>> lengths; // nGroups tables of code lengths
    std::vector<int> symbols;              // coded with the selected tables
    std::vector<int> rawLengthStart;       // overrides the 5-bit start per table
};

void writeHeader(BitWriter& w, int blockSize);
void writeBlock(BitWriter& w, const BlockSpec& b);
void writeEnd(BitWriter& w, std::uint32_t combinedCrc);

// The block for the single byte 'a' (symbols RUNA, EOB).
BlockSpec blockForA();
Bytes streamOf(const BlockSpec& b, int blockSize = 1);

// Whole-buffer compression that must succeed.
Bytes compressBytes(const Bytes& in, int blockSize);
// Decodes through the engine into `room` bytes; returns the engine's result.
int decodeAll(const Bytes& z, Bytes* out, std::size_t room);

// The reference bzip2 tool with args, from `input` on stdin to what it
// writes on stdout; its exit status in `status`.
Bytes bzip2Tool(const std::vector<std::string>& args, const Bytes& input, int& status);

// Corpus entries: name and contents.
struct CorpusFile {
    std::string name;
    Bytes data;
};
// Built on first use (the database through the shared journal fixture).
const std::vector<CorpusFile>& corpus();
inline constexpr const char* kCorpusNames[] = {"empty",  "text",       "binary",  "database",
                                               "random", "repetitive", "periodic"};

} // namespace bz2test
