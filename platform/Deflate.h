#pragma once
// The one raw-deflate compressor (RFC 1951) of the tree, driven by both the
// backup writer and the library's streams: lazy or greedy LZ77 matching over
// hash chains in a 64 KiB window, blocks stored or coded with fixed or
// dynamic Huffman trees. It is a caller-driven stream in the zlib manner: the
// owner points `io` at input and output memory and steps it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace platform {

// The owner's view of the stream, read and written between steps.
struct DeflateIo {
    const std::uint8_t* nextIn = nullptr;
    std::uint32_t availIn = 0;
    std::uint64_t totalIn = 0;
    std::uint8_t* nextOut = nullptr;
    std::uint32_t availOut = 0;
    std::uint64_t totalOut = 0;
    // With keepChecksum, every byte the compressor reads goes into the
    // RFC 1950 checksum.
    bool keepChecksum = false;
    std::uint32_t checksum = 1;
};

class DeflateEngine {
public:
    // zlib's flush ranks: a step may raise the flush mode, never lower it.
    enum class Flush { kNone = 0, kFull = 3, kFinish = 4 };
    enum class Result {
        kOk,          // progress, or more output room is wanted
        kStreamEnd,   // a finish is complete and all of its output is out
        kBufError,    // nothing could be done (no input, no room)
        kStreamError, // misuse: null pointers, or input after a finish began
    };

    static constexpr int kDefaultLevel = 6;
    static constexpr int kMaxLevel = 9;
    // A block ends by the time it has gathered one symbol less than this;
    // the lazy levels end theirs at half of it, which codes better.
    static constexpr unsigned kBlockItems = 16384;

    // Null when memory runs out; everything the compressor needs is
    // allocated here. A level outside 0 to 9 counts as 6.
    static std::unique_ptr<DeflateEngine> create(DeflateIo& io, int level);
    ~DeflateEngine();
    DeflateEngine(const DeflateEngine&) = delete;
    DeflateEngine& operator=(const DeflateEngine&) = delete;

    // Starts a new stream at `level`, match parameters included.
    void reset(int level);
    // Changes the routine (stored, fast, lazy) and the block-size heuristic
    // only; the match parameters stay those the stream was started with.
    void setLevel(int level);
    int level() const { return m_level; }

    Result deflate(Flush flush);
    // A finish has begun: only finish steps are accepted from now on.
    bool finishing() const { return m_finishing; }
    std::size_t pending() const { return m_pendingEnd - m_pendingStart; }
    // The last step ended its block on a full flush; what remains is only
    // the pending output.
    bool fullFlushWritten() const { return m_fullFlushWritten; }
    // Moves what fits of the pending output to io.nextOut.
    void flushPending();

private:
    enum class Outcome { kNeedMore, kBlockDone, kFinishStarted, kFinishDone };

    explicit DeflateEngine(DeflateIo& io);
    bool allocate();
    void loadParameters(int level);

    // Whether a matching routine may go on: a full match of lookahead is
    // kept while input lasts, and without a flush the routine waits for it.
    enum class Lookahead { kReady, kNeedInput, kExhausted };
    Lookahead topUpLookahead(Flush flush);
    Outcome runRoutine(Flush flush);
    Outcome deflateStored(Flush flush);
    Outcome deflateFast(Flush flush);
    Outcome deflateSlow(Flush flush);
    // One greedy step near the end of the input; many while a full
    // lookahead lasts. True when the block is full.
    template <bool kThree>
    bool greedyStep();
    template <bool kThree>
    bool greedyRun();
    // Lazy matching while a full lookahead lasts.
    enum class RunEnd { kLookahead, kBlockFull, kOutputFull };
    RunEnd lazyRun();
    struct RunState;
    void fillWindow();
    std::uint32_t readInput(std::uint8_t* buffer, std::uint32_t room);
    // The longest match at m_strStart longer than m_prevLength, from the
    // chain starting at curMatch. The lazy routine also hops between chains
    // and falls back on the latest string of the same three bytes.
    template <bool kHop, bool kThree>
    unsigned longestMatch(unsigned curMatch, unsigned nearest3);
    void clearHash();
    // Links the string at `pos` into the chain of its first four bytes and
    // returns the previous chain head (0: none). Chains of four bytes hold
    // few strings that cannot be extended past three; for matches of three,
    // the lazy routine also notes each string as the latest of its first
    // three bytes, leaving the previous one in m_nearest3. Multiplicative
    // hashes spread the strings over every bucket, so chains hold few
    // strangers.
    template <bool kThree>
    std::uint32_t insertString(unsigned pos) {
        std::uint32_t bytes;
        std::memcpy(&bytes, m_window + pos, sizeof bytes);
        std::uint32_t hash = (bytes * kHashMultiplier) >> (32 - kHashBits);
        std::uint32_t head = m_head[hash];
        m_prev[pos & kWMask] = static_cast<std::uint16_t>(head);
        m_head[hash] = static_cast<std::uint16_t>(pos);
        if (kThree) {
            std::uint32_t hash3 = ((bytes & kThreeBytes) * kHashMultiplier) >> (32 - kHash3Bits);
            m_nearest3 = m_head3[hash3];
            m_head3[hash3] = static_cast<std::uint16_t>(pos);
        }
        return head;
    }
    // Fetches the chain heads of the string at `pos` ahead of its insert.
    template <bool kThree>
    void prefetchHeads(unsigned pos) const {
        std::uint32_t bytes;
        std::memcpy(&bytes, m_window + pos, sizeof bytes);
        __builtin_prefetch(&m_head[(bytes * kHashMultiplier) >> (32 - kHashBits)]);
        if (kThree)
            __builtin_prefetch(&m_head3[((bytes & kThreeBytes) * kHashMultiplier) >> (32 - kHash3Bits)]);
    }
    // Whether a string at `pos` may be matched from `from`.
    static bool Reachable(unsigned pos, unsigned from) {
        return pos != 0 && from - pos <= static_cast<unsigned>(kMaxDist);
    }
    bool reachable(unsigned pos) const { return Reachable(pos, m_strStart); }
    // Ends the block gathered since m_blockStart and flushes what fits.
    void flushBlockOnly(bool last);

    // Symbols and blocks.
    struct Tree;
    struct TreeDesc;
    void initBlock();
    bool tallyLiteral(unsigned c);
    bool tallyMatch(unsigned distance, unsigned lengthMinus3);
    bool blockWouldEndEarly() const;
    void flushBlock(const std::uint8_t* stored, std::uint64_t storedLength, bool last);
    void storedBlock(const std::uint8_t* data, std::uint64_t length, bool last);
    void buildTree(TreeDesc& desc);
    void genBitlen(TreeDesc& desc);
    void genCodes(Tree& tree, int maxCode);
    void scanTree(Tree& tree, int maxCode);
    void sendTree(const Tree& tree, int maxCode);
    int buildBlTree();
    void sendAllTrees(int lcodes, int dcodes, int blcodes);
    void compressBlock(const std::uint16_t* lcode, const std::uint8_t* llen, const std::uint16_t* dcode,
                       const std::uint8_t* dlen);
    void pqDownHeap(int k);

    // Bit output into the pending buffer, least significant bit first.
    void sendBits(std::uint64_t value, int length) {
        m_bitBuf |= value << m_bitCount;
        m_bitCount += length;
        if (m_bitCount >= 32)
            putWord();
    }
    void putWord();
    void putByte(std::uint8_t b) { m_pending[m_pendingEnd++] = b; }
    void alignToByte();

public:
    static constexpr int kWSize = 32768;
    static constexpr int kMinMatch = 3;
    static constexpr int kMaxMatch = 258;
    static constexpr int kMinLookahead = kMaxMatch + kMinMatch + 1;
    // The farthest a match reaches back.
    static constexpr int kMaxDist = kWSize - kMinLookahead;

private:
    static constexpr int kWMask = kWSize - 1;
    static constexpr int kWindowSize = 2 * kWSize;
    // The match compare reads whole words and may look a little past 258.
    static constexpr int kWindowPad = 16;
    static constexpr int kHashBits = 16;
    static constexpr int kHashSize = 1 << kHashBits;
    static constexpr int kHash3Bits = 16;
    static constexpr int kHash3Size = 1 << kHash3Bits;
    static constexpr std::uint32_t kThreeBytes = 0x00FFFFFF; // little-endian load
    static constexpr std::uint32_t kHashMultiplier = 0x9E3779B1u;
    // A match of 3 farther back than this costs more than its literals.
    static constexpr unsigned kTooFar = 4096;

    static constexpr int kLiterals = 256;
    static constexpr int kLengthCodes = 29;
    static constexpr int kLCodes = kLiterals + 1 + kLengthCodes;
    static constexpr int kDCodes = 30;
    static constexpr int kBLCodes = 19;
    static constexpr int kHeapSize = 2 * kLCodes + 1;
    static constexpr int kMaxBits = 15;
    static constexpr int kEndBlock = 256;

    struct Tree {
        std::uint32_t freq[kHeapSize];
        std::uint16_t code[kHeapSize];
        std::uint8_t len[kHeapSize + 1];
        std::uint16_t dad[kHeapSize];
    };
    struct TreeDesc {
        Tree* tree;
        const std::uint8_t* staticLen; // null for the bit-length tree
        const std::uint8_t* extraBits;
        int extraBase;
        int elems;
        int maxLength;
        int maxCode;
    };

    DeflateIo& m_io;
    int m_level = kDefaultLevel;
    bool m_finishing = false;
    bool m_fullFlushWritten = false;
    int m_lastFlush = 0;

    // Matching.
    std::unique_ptr<std::uint8_t[]> m_windowBlock;
    std::uint8_t* m_window = nullptr;
    std::unique_ptr<std::uint16_t[]> m_prev;
    std::unique_ptr<std::uint16_t[]> m_head;
    std::unique_ptr<std::uint16_t[]> m_head3;
    unsigned m_nearest3 = 0;
    long m_blockStart = 0;
    unsigned m_strStart = 0;
    unsigned m_lookahead = 0;
    unsigned m_matchStart = 0;
    unsigned m_matchLength = 0;
    unsigned m_prevLength = 0;
    unsigned m_prevMatch = 0;
    bool m_matchAvailable = false;
    unsigned m_maxChain = 0;
    unsigned m_goodMatch = 0;
    unsigned m_maxLazy = 0;
    unsigned m_niceMatch = 0;

    // The symbols of the current block: literal or length - 3, and the
    // distance (0 for a literal).
    std::unique_ptr<std::uint8_t[]> m_lBuf;
    std::unique_ptr<std::uint16_t[]> m_dBuf;
    unsigned m_lastLit = 0;
    unsigned m_blockLimit = kBlockItems - 1;
    unsigned m_matches = 0;

    // Output not yet handed to the owner; sized for the largest block.
    std::unique_ptr<std::uint8_t[]> m_pending;
    std::size_t m_pendingSize = 0;
    std::size_t m_pendingStart = 0;
    std::size_t m_pendingEnd = 0;
    std::uint64_t m_bitBuf = 0;
    int m_bitCount = 0;

    Tree m_dynL;
    Tree m_dynD;
    Tree m_blTree;
    TreeDesc m_lDesc;
    TreeDesc m_dDesc;
    TreeDesc m_blDesc;
    std::uint16_t m_blCount[kMaxBits + 1];
    // The heap proper, and the nodes in the order they left it.
    std::uint64_t m_heapEntries[kHeapSize];
    int m_heap[kHeapSize];
    int m_heapLen = 0;
    int m_heapMax = 0;
    std::uint64_t m_optLen = 0;
    std::uint64_t m_staticLen = 0;
};

} // namespace platform
