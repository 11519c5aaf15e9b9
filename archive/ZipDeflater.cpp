#include "archive/ZipDeflater.h"

#include <cassert>
#include <cstring>

namespace archive {
namespace {

constexpr int kLengthCodes = 29;
constexpr int kDCodes = 30;
constexpr int kBLCodes = 19;
constexpr int kStaticLCodes = 288;  // the fixed tree also codes 286 and 287
constexpr int kRep3To6 = 16;
constexpr int kRepZ3To10 = 17;
constexpr int kRepZ11To138 = 18;
constexpr int kStoredBlock = 0;
constexpr int kStaticTrees = 1;
constexpr int kDynTrees = 2;
constexpr std::size_t kMaxStored = 65535;

// Central-flag bits announcing the compression level.
constexpr std::uint16_t kFlagMaximum = 0x2;
constexpr std::uint16_t kFlagFast = 0x4;

constexpr std::uint8_t kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kExtraBLBits[kBLCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kBLOrder[kBLCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

struct LevelParams {
  std::uint16_t good, lazy, nice, chain;
};
// Index by level; 8 is what the writer uses.
constexpr LevelParams kLevels[9] = {
    {0, 0, 0, 0},       {4, 4, 8, 4},       {4, 5, 16, 8},     {4, 6, 32, 32},    {4, 4, 16, 16},
    {8, 16, 32, 32},    {8, 16, 128, 128},  {8, 32, 128, 256}, {32, 128, 258, 1024},
};

unsigned ReverseBits(unsigned code, int length) {
  unsigned r = 0;
  for (; length > 0; --length, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

// Length and distance code tables and the two fixed trees, built once.
struct StaticTables {
  std::uint8_t lengthCode[256];
  std::uint8_t distCode[512];
  std::uint16_t baseLength[kLengthCodes];
  std::uint16_t baseDist[kDCodes];
  std::uint16_t lcode[kStaticLCodes];
  std::uint16_t llen[kStaticLCodes];
  std::uint16_t dcode[kDCodes];
  std::uint16_t dlen[kDCodes];

  StaticTables() {
    int length = 0;
    int code = 0;
    for (; code < kLengthCodes - 1; ++code) {
      baseLength[code] = static_cast<std::uint16_t>(length);
      for (int n = 0; n < (1 << kExtraLBits[code]); ++n)
        lengthCode[length++] = static_cast<std::uint8_t>(code);
    }
    assert(length == 256);
    // Length 258 has a code of its own; it overwrites the last of code 27.
    lengthCode[length - 1] = static_cast<std::uint8_t>(code);
    baseLength[code] = 0;

    int dist = 0;
    for (code = 0; code < 16; ++code) {
      baseDist[code] = static_cast<std::uint16_t>(dist);
      for (int n = 0; n < (1 << kExtraDBits[code]); ++n)
        distCode[dist++] = static_cast<std::uint8_t>(code);
    }
    assert(dist == 256);
    dist >>= 7;
    for (; code < kDCodes; ++code) {
      baseDist[code] = static_cast<std::uint16_t>(dist << 7);
      for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n)
        distCode[256 + dist++] = static_cast<std::uint8_t>(code);
    }
    assert(dist == 256);

    std::uint16_t count[16] = {};
    for (int n = 0; n < kStaticLCodes; ++n) {
      llen[n] = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
      ++count[llen[n]];
    }
    unsigned next[16] = {};
    unsigned c = 0;
    for (int bits = 1; bits <= 15; ++bits) {
      c = (c + count[bits - 1]) << 1;
      next[bits] = c;
    }
    for (int n = 0; n < kStaticLCodes; ++n)
      lcode[n] = static_cast<std::uint16_t>(ReverseBits(next[llen[n]]++, llen[n]));
    for (int n = 0; n < kDCodes; ++n) {
      dlen[n] = 5;
      dcode[n] = static_cast<std::uint16_t>(ReverseBits(n, 5));
    }
  }

  unsigned dCode(unsigned dist) const {
    return dist < 256 ? distCode[dist] : distCode[256 + (dist >> 7)];
  }
};

const StaticTables& Static() {
  static const StaticTables tables;
  return tables;
}

}  // namespace

ZipDeflater::ZipDeflater() {
  std::memset(window_, 0, sizeof window_);
  const StaticTables& st = Static();
  lDesc_ = {&dynL_, st.llen, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits, 0};
  dDesc_ = {&dynD_, st.dlen, kExtraDBits, 0, kDCodes, kMaxBits, 0};
  blDesc_ = {&blTree_, nullptr, kExtraBLBits, 0, kBLCodes, kMaxBLBits, 0};
}

std::uint64_t ZipDeflater::compress(const ReadFn& read, const FlushFn& flush,
                                    std::uint8_t* outBuffer, std::size_t outSize, int level,
                                    std::uint16_t* centralFlags) {
  assert(outSize >= 64);
  read_ = &read;
  flush_ = &flush;
  out_ = outBuffer;
  outSize_ = outSize;
  outCount_ = 0;
  outTotal_ = 0;
  bitBuf_ = 0;
  bitCount_ = 0;
  error_ = nullptr;
  flushFailed_ = false;

  if (level < kMinLevel || level > kMaxLevel) {
    error_ = kDeflateBadLevel;
    return 0;
  }
  level_ = level;
  const LevelParams& p = kLevels[level];
  goodMatch_ = p.good;
  maxLazy_ = p.lazy;
  niceMatch_ = p.nice;
  maxChain_ = p.chain;
  if (centralFlags) *centralFlags |= level >= 8 ? kFlagMaximum : level < 3 ? kFlagFast : 0;

  std::memset(head_, 0, sizeof head_);
  std::memset(prev_, 0, sizeof prev_);
  initBlock();
  strStart_ = 0;
  blockStart_ = 0;
  lookahead_ = 0;
  matchStart_ = 0;
  prevMatch_ = 0;
  prevLength_ = kMinMatch - 1;
  eof_ = false;
  insH_ = 0;

  long n = (*read_)(window_, kWindowSize);
  if (n <= 0) {
    eof_ = true;
  } else {
    lookahead_ = static_cast<unsigned>(n);
    while (lookahead_ < kMinLookahead && !eof_) fillWindow();
    insH_ = window_[0];
    insH_ = ((insH_ << kHashShift) ^ window_[1]) & kHashMask;
  }

  runLazy();
  flushBlock(true);
  alignToByte();
  flushOutput();
  if (flushFailed_) error_ = kDeflateFlushFailed;
  return outTotal_;
}

void ZipDeflater::fillWindow() {
  unsigned more = kWindowSize - lookahead_ - strStart_;
  if (strStart_ >= kWSize + kMaxDist) {
    std::memcpy(window_, window_ + kWSize, kWSize);
    matchStart_ -= kWSize;
    strStart_ -= kWSize;
    blockStart_ -= kWSize;
    for (auto& h : head_) h = h >= kWSize ? static_cast<std::uint16_t>(h - kWSize) : 0;
    for (auto& h : prev_) h = h >= kWSize ? static_cast<std::uint16_t>(h - kWSize) : 0;
    more += kWSize;
  }
  assert(more >= 2);
  if (eof_ || flushFailed_) {
    eof_ = true;
    return;
  }
  long n = (*read_)(window_ + strStart_ + lookahead_, more);
  if (n <= 0)
    eof_ = true;
  else
    lookahead_ += static_cast<unsigned>(n);
}

std::uint32_t ZipDeflater::insertString(unsigned pos) {
  insH_ = ((insH_ << kHashShift) ^ window_[pos + kMinMatch - 1]) & kHashMask;
  std::uint32_t head = head_[insH_];
  prev_[pos & kWMask] = static_cast<std::uint16_t>(head);
  head_[insH_] = static_cast<std::uint16_t>(pos);
  return head;
}

unsigned ZipDeflater::longestMatch(unsigned curMatch) {
  assert(strStart_ <= kWindowSize - kMinLookahead);
  unsigned chain = maxChain_;
  const std::uint8_t* scan = window_ + strStart_;
  unsigned bestLen = prevLength_;
  unsigned nice = niceMatch_ < lookahead_ ? niceMatch_ : lookahead_;
  unsigned limit = strStart_ > static_cast<unsigned>(kMaxDist) ? strStart_ - kMaxDist : 0;
  if (prevLength_ >= goodMatch_) chain >>= 2;
  auto load16 = [](const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  };
  const std::uint16_t start = load16(scan);
  std::uint16_t end = load16(scan + bestLen - 1);

  do {
    assert(curMatch < strStart_);
    const std::uint8_t* match = window_ + curMatch;
    // Only a candidate that could beat the best so far is compared in full.
    if (load16(match + bestLen - 1) != end || load16(match) != start) continue;
    // The first two bytes agree; compare the rest a word at a time.
    unsigned len = 2;
    while (len < kMaxMatch) {
      std::uint64_t a, b;
      std::memcpy(&a, scan + len, 8);
      std::memcpy(&b, match + len, 8);
      std::uint64_t diff = a ^ b;
      if (diff) {
        len += static_cast<unsigned>(__builtin_ctzll(diff)) / 8;
        break;
      }
      len += 8;
    }
    if (len > kMaxMatch) len = kMaxMatch;
    if (len > bestLen) {
      matchStart_ = curMatch;
      bestLen = len;
      if (len >= nice) break;
      end = load16(scan + bestLen - 1);
    }
  } while ((curMatch = prev_[curMatch & kWMask]) > limit && --chain != 0);
  return bestLen;
}

void ZipDeflater::runLazy() {
  bool matchAvailable = false;
  unsigned matchLength = kMinMatch - 1;

  while (lookahead_ != 0 && !flushFailed_) {
    std::uint32_t hashHead = insertString(strStart_);
    prevLength_ = matchLength;
    prevMatch_ = matchStart_;
    matchLength = kMinMatch - 1;

    if (hashHead != 0 && prevLength_ < maxLazy_ && strStart_ - hashHead <= kMaxDist) {
      matchLength = longestMatch(hashHead);
      if (matchLength > lookahead_) matchLength = lookahead_;
      if (matchLength == kMinMatch && strStart_ - matchStart_ > kTooFar) matchLength = kMinMatch - 1;
    }

    if (prevLength_ >= kMinMatch && matchLength <= prevLength_) {
      bool flush = tally(strStart_ - 1 - prevMatch_, prevLength_ - kMinMatch);
      // The match's strings all go into the hash chains.
      lookahead_ -= prevLength_ - 1;
      unsigned left = prevLength_ - 2;
      do {
        ++strStart_;
        insertString(strStart_);
      } while (--left != 0);
      matchAvailable = false;
      matchLength = kMinMatch - 1;
      ++strStart_;
      if (flush) {
        flushBlock(false);
        blockStart_ = strStart_;
      }
    } else if (matchAvailable) {
      if (tally(0, window_[strStart_ - 1])) {
        flushBlock(false);
        blockStart_ = strStart_;
      }
      ++strStart_;
      --lookahead_;
    } else {
      matchAvailable = true;
      ++strStart_;
      --lookahead_;
    }
    // Also at the end of input: the window must still slide to keep room
    // for a full-length compare ahead of the string start.
    if (lookahead_ < kMinLookahead) {
      do fillWindow();
      while (lookahead_ < kMinLookahead && !eof_);
    }
  }
  if (matchAvailable) tally(0, window_[strStart_ - 1]);
}

void ZipDeflater::initBlock() {
  for (int n = 0; n < kLCodes; ++n) dynL_.freq[n] = 0;
  for (int n = 0; n < kDCodes; ++n) dynD_.freq[n] = 0;
  for (int n = 0; n < kBLCodes; ++n) blTree_.freq[n] = 0;
  dynL_.freq[kEndBlock] = 1;
  optLen_ = staticLen_ = 0;
  lastLit_ = matches_ = 0;
}

bool ZipDeflater::tally(unsigned dist, unsigned lc) {
  const StaticTables& st = Static();
  lBuf_[lastLit_] = static_cast<std::uint8_t>(lc);
  dBuf_[lastLit_] = static_cast<std::uint16_t>(dist);
  ++lastLit_;
  if (dist == 0) {
    ++dynL_.freq[lc];
  } else {
    ++matches_;
    --dist;
    assert(dist < static_cast<unsigned>(kMaxDist) && lc <= kMaxMatch - kMinMatch);
    ++dynL_.freq[st.lengthCode[lc] + kLiterals + 1];
    ++dynD_.freq[st.dCode(dist)];
  }
  // Every 4096 items: end the block early when it already compresses well
  // and is mostly literals, so the next trees can adapt.
  if ((lastLit_ & 0xFFF) == 0 && level_ > 2) {
    std::uint64_t outLength = static_cast<std::uint64_t>(lastLit_) * 8;
    std::uint64_t inLength = static_cast<std::uint64_t>(strStart_ - blockStart_);
    for (int d = 0; d < kDCodes; ++d) outLength += dynD_.freq[d] * (5u + kExtraDBits[d]);
    outLength >>= 3;
    if (matches_ < lastLit_ / 2 && outLength < inLength / 2) return true;
  }
  return lastLit_ == kLitBufSize - 1 || matches_ == kDistBufSize;
}

void ZipDeflater::pqDownHeap(const Tree& tree, int k) {
  int v = heap_[k];
  auto smaller = [&](int n, int m) {
    return tree.freq[n] < tree.freq[m] || (tree.freq[n] == tree.freq[m] && depth_[n] <= depth_[m]);
  };
  int j = k << 1;
  while (j <= heapLen_) {
    if (j < heapLen_ && smaller(heap_[j + 1], heap_[j])) ++j;
    if (smaller(v, heap_[j])) break;
    heap_[k] = heap_[j];
    k = j;
    j <<= 1;
  }
  heap_[k] = v;
}

void ZipDeflater::buildTree(TreeDesc& desc) {
  Tree& tree = *desc.tree;
  int elems = desc.elems;
  int maxCode = -1;
  heapLen_ = 0;
  heapMax_ = kHeapSize;
  for (int n = 0; n < elems; ++n) {
    if (tree.freq[n] != 0) {
      heap_[++heapLen_] = maxCode = n;
      depth_[n] = 0;
    } else {
      tree.len[n] = 0;
    }
  }
  // A code needs at least two symbols; force one or two in.
  while (heapLen_ < 2) {
    int node = heap_[++heapLen_] = maxCode < 2 ? ++maxCode : 0;
    tree.freq[node] = 1;
    depth_[node] = 0;
    --optLen_;
    if (desc.staticLen) staticLen_ -= desc.staticLen[node];
  }
  desc.maxCode = maxCode;

  for (int n = heapLen_ / 2; n >= 1; --n) pqDownHeap(tree, n);

  int node = elems;
  do {
    int n = heap_[1];
    heap_[1] = heap_[heapLen_--];
    pqDownHeap(tree, 1);
    int m = heap_[1];
    heap_[--heapMax_] = n;
    heap_[--heapMax_] = m;
    tree.freq[node] = tree.freq[n] + tree.freq[m];
    depth_[node] = static_cast<std::uint8_t>((depth_[n] >= depth_[m] ? depth_[n] : depth_[m]) + 1);
    tree.dad[n] = tree.dad[m] = static_cast<std::uint16_t>(node);
    heap_[1] = node++;
    pqDownHeap(tree, 1);
  } while (heapLen_ >= 2);
  heap_[--heapMax_] = heap_[1];

  genBitlen(desc);
  genCodes(tree, maxCode);
}

void ZipDeflater::genBitlen(TreeDesc& desc) {
  Tree& tree = *desc.tree;
  const int maxLength = desc.maxLength;
  for (auto& c : blCount_) c = 0;

  // Depths from the root down, in heap order; clip at the maximum length.
  tree.len[heap_[heapMax_]] = 0;
  int overflow = 0;
  int h;
  for (h = heapMax_ + 1; h < kHeapSize; ++h) {
    int n = heap_[h];
    int bits = tree.len[tree.dad[n]] + 1;
    if (bits > maxLength) {
      bits = maxLength;
      ++overflow;
    }
    tree.len[n] = static_cast<std::uint16_t>(bits);
    if (n > desc.maxCode) continue;  // not a leaf
    ++blCount_[bits];
    int xbits = n >= desc.extraBase ? desc.extraBits[n - desc.extraBase] : 0;
    std::uint64_t f = tree.freq[n];
    optLen_ += f * static_cast<std::uint64_t>(bits + xbits);
    if (desc.staticLen) staticLen_ += f * static_cast<std::uint64_t>(desc.staticLen[n] + xbits);
  }
  if (overflow == 0) return;

  // Move leaves down from the clipped depth until the code is complete again.
  do {
    int bits = maxLength - 1;
    while (blCount_[bits] == 0) --bits;
    --blCount_[bits];
    blCount_[bits + 1] += 2;
    --blCount_[maxLength];
    overflow -= 2;
  } while (overflow > 0);

  // Hand the lengths out again, longest to the least frequent leaves.
  h = kHeapSize;
  for (int bits = maxLength; bits != 0; --bits) {
    int n = blCount_[bits];
    while (n != 0) {
      int m = heap_[--h];
      if (m > desc.maxCode) continue;
      if (tree.len[m] != bits) {
        optLen_ += (static_cast<std::int64_t>(bits) - tree.len[m]) * static_cast<std::int64_t>(tree.freq[m]);
        tree.len[m] = static_cast<std::uint16_t>(bits);
      }
      --n;
    }
  }
}

void ZipDeflater::genCodes(Tree& tree, int maxCode) {
  unsigned next[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + blCount_[bits - 1]) << 1;
    next[bits] = code;
  }
  assert(code + blCount_[kMaxBits] - 1 == (1u << kMaxBits) - 1 || maxCode < 1);
  for (int n = 0; n <= maxCode; ++n) {
    int len = tree.len[n];
    if (len == 0) continue;
    tree.code[n] = static_cast<std::uint16_t>(ReverseBits(next[len]++, len));
  }
}

// Walks a tree's code lengths as the run-length code of RFC 1951 sends them,
// handing each bit-length symbol (with its repeat bits) to `emit`.
template <class Emit>
void WalkCodeLengths(const std::uint16_t* len, int maxCode, Emit emit) {
  int prevLen = -1;
  int nextLen = len[0];
  int count = 0;
  int maxCount = nextLen == 0 ? 138 : 7;
  int minCount = nextLen == 0 ? 3 : 4;
  for (int n = 0; n <= maxCode; ++n) {
    int curLen = nextLen;
    nextLen = len[n + 1];
    if (++count < maxCount && curLen == nextLen) continue;
    if (count < minCount) {
      do emit(curLen, 0, 0);
      while (--count != 0);
    } else if (curLen != 0) {
      if (curLen != prevLen) {
        emit(curLen, 0, 0);
        --count;
      }
      assert(count >= 3 && count <= 6);
      emit(kRep3To6, count - 3, 2);
    } else if (count <= 10) {
      emit(kRepZ3To10, count - 3, 3);
    } else {
      emit(kRepZ11To138, count - 11, 7);
    }
    count = 0;
    prevLen = curLen;
    if (nextLen == 0) {
      maxCount = 138, minCount = 3;
    } else if (curLen == nextLen) {
      maxCount = 6, minCount = 3;
    } else {
      maxCount = 7, minCount = 4;
    }
  }
}

void ZipDeflater::scanTree(Tree& tree, int maxCode) {
  tree.len[maxCode + 1] = 0xFFFF;  // guard: no run continues past the last code
  WalkCodeLengths(tree.len, maxCode, [this](int symbol, int, int) { ++blTree_.freq[symbol]; });
}

void ZipDeflater::sendTree(const Tree& tree, int maxCode) {
  // scanTree left its guard behind maxCode.
  WalkCodeLengths(tree.len, maxCode, [this](int symbol, int extra, int bits) {
    sendBits(blTree_.code[symbol], blTree_.len[symbol]);
    if (bits) sendBits(static_cast<std::uint32_t>(extra), bits);
  });
}

int ZipDeflater::buildBlTree() {
  scanTree(dynL_, lDesc_.maxCode);
  scanTree(dynD_, dDesc_.maxCode);
  buildTree(blDesc_);
  int maxIndex;
  for (maxIndex = kBLCodes - 1; maxIndex >= 3; --maxIndex)
    if (blTree_.len[kBLOrder[maxIndex]] != 0) break;
  optLen_ += 3 * (static_cast<std::uint64_t>(maxIndex) + 1) + 5 + 5 + 4;
  return maxIndex;
}

void ZipDeflater::sendAllTrees(int lcodes, int dcodes, int blcodes) {
  assert(lcodes >= 257 && dcodes >= 1 && blcodes >= 4);
  assert(lcodes <= kLCodes && dcodes <= kDCodes && blcodes <= kBLCodes);
  sendBits(lcodes - 257, 5);
  sendBits(dcodes - 1, 5);
  sendBits(blcodes - 4, 4);
  for (int rank = 0; rank < blcodes; ++rank) sendBits(blTree_.len[kBLOrder[rank]], 3);
  sendTree(dynL_, lcodes - 1);
  sendTree(dynD_, dcodes - 1);
}

void ZipDeflater::compressBlock(const std::uint16_t* lcode, const std::uint16_t* llen,
                                const std::uint16_t* dcode, const std::uint16_t* dlen) {
  const StaticTables& st = Static();
  for (unsigned i = 0; i < lastLit_; ++i) {
    unsigned dist = dBuf_[i];
    unsigned lc = lBuf_[i];
    if (dist == 0) {
      sendBits(lcode[lc], llen[lc]);
      continue;
    }
    unsigned code = st.lengthCode[lc];
    sendBits(lcode[code + kLiterals + 1], llen[code + kLiterals + 1]);
    if (int extra = kExtraLBits[code]) sendBits(lc - st.baseLength[code], extra);
    --dist;
    code = st.dCode(dist);
    assert(code < kDCodes);
    sendBits(dcode[code], dlen[code]);
    if (int extra = kExtraDBits[code]) sendBits(dist - st.baseDist[code], extra);
  }
  sendBits(lcode[kEndBlock], llen[kEndBlock]);
}

void ZipDeflater::flushBlock(bool last) {
  const StaticTables& st = Static();
  buildTree(lDesc_);
  buildTree(dDesc_);
  int maxBlIndex = buildBlTree();

  std::uint64_t optBytes = (optLen_ + 3 + 7) >> 3;
  std::uint64_t staticBytes = (staticLen_ + 3 + 7) >> 3;
  std::uint64_t storedLen = static_cast<std::uint64_t>(static_cast<long>(strStart_) - blockStart_);
  if (staticBytes <= optBytes) optBytes = staticBytes;

  if (storedLen + 4 <= optBytes && blockStart_ >= 0) {
    storedBlock(window_ + blockStart_, storedLen, last);
  } else if (staticBytes == optBytes) {
    sendBits((kStaticTrees << 1) + (last ? 1 : 0), 3);
    compressBlock(st.lcode, st.llen, st.dcode, st.dlen);
  } else {
    sendBits((kDynTrees << 1) + (last ? 1 : 0), 3);
    sendAllTrees(lDesc_.maxCode + 1, dDesc_.maxCode + 1, maxBlIndex + 1);
    compressBlock(dynL_.code, dynL_.len, dynD_.code, dynD_.len);
  }
  initBlock();
}

void ZipDeflater::storedBlock(const std::uint8_t* data, std::size_t length, bool last) {
  // A stored block holds at most 65535 bytes; longer input takes several.
  do {
    std::size_t n = length < kMaxStored ? length : kMaxStored;
    bool final = last && n == length;
    sendBits((kStoredBlock << 1) + (final ? 1 : 0), 3);
    alignToByte();
    putByte(static_cast<std::uint8_t>(n));
    putByte(static_cast<std::uint8_t>(n >> 8));
    putByte(static_cast<std::uint8_t>(~n));
    putByte(static_cast<std::uint8_t>(~n >> 8));
    writeDirect(data, n);
    data += n;
    length -= n;
  } while (length > 0);
}

void ZipDeflater::putWord() {
  if (outSize_ - outCount_ < 4) flushOutput();
  std::uint32_t w = static_cast<std::uint32_t>(bitBuf_);
  out_[outCount_++] = static_cast<std::uint8_t>(w);
  out_[outCount_++] = static_cast<std::uint8_t>(w >> 8);
  out_[outCount_++] = static_cast<std::uint8_t>(w >> 16);
  out_[outCount_++] = static_cast<std::uint8_t>(w >> 24);
  outTotal_ += 4;
  bitBuf_ >>= 32;
  bitCount_ -= 32;
}

void ZipDeflater::putByte(std::uint8_t b) {
  if (outCount_ == outSize_) flushOutput();
  out_[outCount_++] = b;
  ++outTotal_;
}

void ZipDeflater::alignToByte() {
  while (bitCount_ > 0) {
    putByte(static_cast<std::uint8_t>(bitBuf_));
    bitBuf_ >>= 8;
    bitCount_ -= 8;
  }
  bitBuf_ = 0;
  bitCount_ = 0;
  flushOutput();
}

void ZipDeflater::flushOutput() {
  // After one failed write nothing more goes out, and the buffer is reused
  // from its start so it is never written past.
  if (outCount_ > 0 && !flushFailed_ && !(*flush_)(out_, outCount_)) flushFailed_ = true;
  outCount_ = 0;
}

void ZipDeflater::writeDirect(const std::uint8_t* data, std::size_t length) {
  flushOutput();
  if (length > 0 && !flushFailed_ && !(*flush_)(data, length)) flushFailed_ = true;
  outTotal_ += length;
}

}  // namespace archive
