#pragma once
// The writer's own raw-deflate compressor (RFC 1951): lazy LZ77 matching over
// hash chains in a 64 KiB window, blocks stored or coded with fixed or
// dynamic Huffman trees. Input is pulled and output pushed through callbacks
// so an entry of any size streams through one fixed allocation.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace archive {

// Texts of the compressor's error message.
inline constexpr const char* kDeflateBadLevel = "bad pack level";
inline constexpr const char* kDeflateFlushFailed = "output flush failed";

class ZipDeflater {
 public:
  // Fills the buffer from the entry's source: the count, or 0 / -1 at the end.
  using ReadFn = std::function<long(std::uint8_t* buffer, std::size_t length)>;
  // Writes bytes to the archive; false when they could not all be written.
  using FlushFn = std::function<bool(const std::uint8_t* data, std::size_t length)>;

  static constexpr int kMinLevel = 1;
  static constexpr int kMaxLevel = 8;

  ZipDeflater();
  ZipDeflater(const ZipDeflater&) = delete;
  ZipDeflater& operator=(const ZipDeflater&) = delete;

  // Compresses one entry: reads the source to its end and returns the number
  // of compressed bytes produced. `outBuffer` (at least 64 bytes) collects
  // output between flushes. `centralFlags`, when given, receives the level
  // bits. After a failed flush nothing more is written; error() tells why.
  std::uint64_t compress(const ReadFn& read, const FlushFn& flush, std::uint8_t* outBuffer,
                         std::size_t outSize, int level, std::uint16_t* centralFlags);

  // Null after a clean run, else the reason the output is not to be trusted.
  const char* error() const { return error_; }

 private:
  static constexpr int kWSize = 32768;
  static constexpr int kWMask = kWSize - 1;
  static constexpr int kWindowSize = 2 * kWSize;
  static constexpr int kMinMatch = 3;
  static constexpr int kMaxMatch = 258;
  static constexpr int kMinLookahead = kMaxMatch + kMinMatch + 1;
  static constexpr int kMaxDist = kWSize - kMinLookahead;
  static constexpr int kHashBits = 15;
  static constexpr int kHashSize = 1 << kHashBits;
  static constexpr int kHashMask = kHashSize - 1;
  static constexpr int kHashShift = 5;
  static constexpr int kTooFar = 4096;
  static constexpr int kLitBufSize = 32768;
  static constexpr int kDistBufSize = 32768;
  // The match compare reads whole words and may look a little past 258.
  static constexpr int kWindowPad = 16;

  static constexpr int kLiterals = 256;
  static constexpr int kLengthCodes = 29;
  static constexpr int kLCodes = kLiterals + 1 + kLengthCodes;
  static constexpr int kDCodes = 30;
  static constexpr int kBLCodes = 19;
  static constexpr int kHeapSize = 2 * kLCodes + 1;
  static constexpr int kMaxBits = 15;
  static constexpr int kMaxBLBits = 7;
  static constexpr int kEndBlock = 256;

  struct Tree {
    std::uint32_t freq[kHeapSize];
    std::uint16_t code[kHeapSize];
    std::uint16_t len[kHeapSize];
    std::uint16_t dad[kHeapSize];
  };
  struct TreeDesc {
    Tree* tree;
    const std::uint16_t* staticLen;  // null for the bit-length tree
    const std::uint8_t* extraBits;
    int extraBase;
    int elems;
    int maxLength;
    int maxCode;
  };

  // Matching.
  void fillWindow();
  std::uint32_t insertString(unsigned pos);
  unsigned longestMatch(unsigned curMatch);
  void runLazy();

  // Blocks and trees.
  void initBlock();
  bool tally(unsigned dist, unsigned lc);
  void flushBlock(bool last);
  void buildTree(TreeDesc& desc);
  void genBitlen(TreeDesc& desc);
  void genCodes(Tree& tree, int maxCode);
  void scanTree(Tree& tree, int maxCode);
  void sendTree(const Tree& tree, int maxCode);
  int buildBlTree();
  void sendAllTrees(int lcodes, int dcodes, int blcodes);
  void compressBlock(const std::uint16_t* lcode, const std::uint16_t* llen,
                     const std::uint16_t* dcode, const std::uint16_t* dlen);
  void storedBlock(const std::uint8_t* data, std::size_t length, bool last);
  void pqDownHeap(const Tree& tree, int k);

  // Bit output.
  void sendBits(std::uint32_t value, int length) {
    bitBuf_ |= static_cast<std::uint64_t>(value) << bitCount_;
    bitCount_ += length;
    if (bitCount_ >= 32) putWord();
  }
  void putWord();
  void putByte(std::uint8_t b);
  void alignToByte();
  void flushOutput();
  void writeDirect(const std::uint8_t* data, std::size_t length);

  // Callbacks and output of the current entry.
  const ReadFn* read_ = nullptr;
  const FlushFn* flush_ = nullptr;
  std::uint8_t* out_ = nullptr;
  std::size_t outSize_ = 0;
  std::size_t outCount_ = 0;
  std::uint64_t outTotal_ = 0;
  std::uint64_t bitBuf_ = 0;
  int bitCount_ = 0;
  const char* error_ = nullptr;
  bool flushFailed_ = false;

  // Matching state.
  alignas(8) std::uint8_t window_[kWindowSize + kWindowPad];
  std::uint16_t prev_[kWSize];
  std::uint16_t head_[kHashSize];
  std::uint32_t insH_ = 0;
  long blockStart_ = 0;
  unsigned strStart_ = 0;
  unsigned lookahead_ = 0;
  unsigned prevLength_ = 0;
  unsigned matchStart_ = 0;
  unsigned prevMatch_ = 0;
  bool eof_ = false;
  unsigned maxChain_ = 0;
  unsigned goodMatch_ = 0;
  unsigned maxLazy_ = 0;
  unsigned niceMatch_ = 0;
  int level_ = 0;

  // Buffered items of the current block: literal or length, and distance
  // (0 for a literal).
  std::uint8_t lBuf_[kLitBufSize];
  std::uint16_t dBuf_[kDistBufSize];
  unsigned lastLit_ = 0;
  unsigned matches_ = 0;

  Tree dynL_;
  Tree dynD_;
  Tree blTree_;
  TreeDesc lDesc_;
  TreeDesc dDesc_;
  TreeDesc blDesc_;
  std::uint16_t blCount_[kMaxBits + 1];
  int heap_[kHeapSize];
  int heapLen_ = 0;
  int heapMax_ = 0;
  std::uint8_t depth_[kHeapSize];
  std::uint64_t optLen_ = 0;
  std::uint64_t staticLen_ = 0;
};

}  // namespace archive
