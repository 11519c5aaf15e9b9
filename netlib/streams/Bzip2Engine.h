#pragma once
// The bzip2 engine: a stream record with input and output windows, a
// compressor driven by run/flush/finish actions and a decoder that can stop
// and resume at any byte of input or output. Reached through TessikBzip2.
#include <cstdint>

namespace tessik::bz2 {

enum Action : int { kRun = 0, kFlush = 1, kFinish = 2 };

// Engine results. Negative values below -3 name the format error found.
enum Result : int {
    kOk = 0,
    kRunOk = 1,
    kFlushOk = 2,
    kFinishOk = 3,
    kStreamEnd = 4,
    kSequenceError = -1,
    kParamError = -2,
    kMemError = -3,
    kBlockCrcError = -10,
    kStreamCrcError = -11,
    kSelectorRange = -12,
    kCodeTooLong = -13,
    kBadCode = -14,
    kBlockMagic1 = -15,
    kBlockMagic2 = -16,
    kBlockMagic3 = -17,
    kBlockMagic4 = -18,
    kBlockMagic5 = -20,
    kBlockMagic6 = -21,
    kOrigPtrLow = -22,
    kOrigPtrHigh = -23,
    kNoBytesUsed = -24,
    kGroupCount = -25,
    kNoSelectors = -26,
    kSelectorValue = -27,
    kCodeLength = -28,
    kRunTooLong = -29,
    kRunPastBlock = -30,
    kSymbolPastBlock = -31,
    kOrigPtrPastBlock = -32,
    kEndMagic2 = -33,
    kEndMagic3 = -34,
    kEndMagic4 = -35,
    kEndMagic5 = -36,
    kEndMagic6 = -37,
    kHeaderB = -50,
    kHeaderZ = -51,
    kHeaderH = -52,
    kHeaderBlockSize = -53,
};

struct Stream {
    const std::uint8_t* nextIn = nullptr;
    std::uint32_t availIn = 0;
    std::uint32_t totalInLo32 = 0;
    std::uint32_t totalInHi32 = 0;

    std::uint8_t* nextOut = nullptr;
    std::uint32_t availOut = 0;
    std::uint32_t totalOutLo32 = 0;
    std::uint32_t totalOutHi32 = 0;

    void* state = nullptr;
};

// Format limits.
constexpr int kMaxGroups = 6;
constexpr int kMinGroups = 2;
constexpr int kGroupSize = 50;
constexpr int kMaxAlphaSize = 258;
constexpr int kMaxCodeLen = 20;
constexpr int kMaxSelectors = 2 + (900000 / kGroupSize);
constexpr std::uint32_t kBlockUnit = 100000;
constexpr int kRunA = 0;
constexpr int kRunB = 1;

constexpr int kDefaultWorkFactor = 30;
constexpr int kMaxWorkFactor = 250;

int compressInit(Stream* strm, int blockSize100k, int verbosity, int workFactor);
int compress(Stream* strm, int action);
int compressEnd(Stream* strm);

int decompressInit(Stream* strm);
int decompress(Stream* strm);
int decompressEnd(Stream* strm);
// After kStreamEnd, for input given as one block: the decoder reads ahead
// into its bit buffer, so nextIn may lie past the stream's end. Moves nextIn
// back to the byte after the stream (once) and returns how far.
std::uint32_t decompressUnread(Stream* strm);
// Starts decoding a new stream on the same record, windows and totals
// running on (concatenated streams are read one after another).
int decompressRestart(Stream* strm);
// The result of input that does not begin as a stream does.
inline bool isStreamMagicError(int result) {
    return result == kHeaderB || result == kHeaderZ || result == kHeaderH || result == kHeaderBlockSize;
}

} // namespace tessik::bz2
