#include "platform/Deflate.h"

#include <bit>
#include <cassert>
#include <cstring>
#include <new>

#include "platform/Adler32.h"
#include "platform/ByteOrder.h"

namespace platform {

// The hash and the word-wise match compare read the window little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

struct LevelParams {
    std::uint16_t good, lazy, nice, chain;
};
// Index by level: a match this good quarters the chain; the longest match
// still searched lazily (greedy levels: still inserted into the hash); stop
// at this length; the most chain entries examined.
constexpr LevelParams kLevels[DeflateEngine::kMaxLevel + 1] = {
    {0, 0, 0, 0},    {4, 4, 8, 4},      {4, 5, 16, 8},     {4, 6, 32, 32},       {4, 4, 16, 16},
    {8, 16, 32, 32}, {8, 16, 128, 128}, {8, 32, 128, 256}, {32, 128, 258, 1024}, {32, 258, 258, 4096},
};
constexpr int kLastGreedyLevel = 3;
// Greedy levels from here on also take matches of three.
constexpr int kFirstGreedyThreeLevel = 3;

// The worst a symbol codes to: length code and extra bits, distance code
// and extra bits (15 + 5 + 15 + 13 bits).
constexpr std::size_t kMaxSymbolBytes = 6;
// Room for tree headers, block trailers and the stored-block markers that a
// flush adds.
constexpr std::size_t kPendingSlack = 2048;
constexpr std::size_t kMaxStoredBlock = 0xFFFF;

int ClampLevel(int level) {
    return level < 0 || level > DeflateEngine::kMaxLevel ? DeflateEngine::kDefaultLevel : level;
}

} // namespace

DeflateEngine::DeflateEngine(DeflateIo& io) : m_io(io) {}

DeflateEngine::~DeflateEngine() = default;

std::unique_ptr<DeflateEngine> DeflateEngine::create(DeflateIo& io, int level) {
    std::unique_ptr<DeflateEngine> engine(new (std::nothrow) DeflateEngine(io));
    if (!engine || !engine->allocate())
        return nullptr;
    engine->reset(level);
    return engine;
}

bool DeflateEngine::allocate() {
    m_windowBlock.reset(new (std::nothrow) std::uint8_t[kWindowSize + kWindowPad]);
    m_prev.reset(new (std::nothrow) std::uint16_t[kWSize]);
    m_head.reset(new (std::nothrow) std::uint16_t[kHashSize]);
    m_head3.reset(new (std::nothrow) std::uint16_t[kHash3Size]);
    m_lBuf.reset(new (std::nothrow) std::uint8_t[kBlockItems]);
    m_dBuf.reset(new (std::nothrow) std::uint16_t[kBlockItems]);
    // A stored block of the level-0 routine or the worst coded block, each
    // behind a full word of bits carried over.
    std::size_t codedBlock = static_cast<std::size_t>(kBlockItems) * kMaxSymbolBytes;
    m_pendingSize = (codedBlock > kMaxStoredBlock ? codedBlock : kMaxStoredBlock) + kPendingSlack;
    m_pending.reset(new (std::nothrow) std::uint8_t[m_pendingSize]);
    if (!m_windowBlock || !m_prev || !m_head || !m_head3 || !m_lBuf || !m_dBuf || !m_pending)
        return false;
    m_window = m_windowBlock.get();
    // The match compare may read past the lookahead; those bytes are never
    // used, but they are always initialised.
    std::memset(m_window, 0, kWindowSize + kWindowPad);
    std::memset(m_prev.get(), 0, kWSize * sizeof(std::uint16_t));
    return true;
}

void DeflateEngine::loadParameters(int level) {
    const LevelParams& p = kLevels[level];
    m_goodMatch = p.good;
    m_maxLazy = p.lazy;
    m_niceMatch = p.nice;
    m_maxChain = p.chain;
}

void DeflateEngine::reset(int level) {
    setLevel(level);
    loadParameters(m_level);
    m_finishing = false;
    m_fullFlushWritten = false;
    m_lastFlush = static_cast<int>(Flush::kNone);
    clearHash();
    m_blockStart = 0;
    m_strStart = 0;
    m_lookahead = 0;
    m_matchStart = 0;
    m_matchLength = m_prevLength = kMinMatch - 1;
    m_prevMatch = 0;
    m_matchAvailable = false;
    m_pendingStart = m_pendingEnd = 0;
    m_bitBuf = 0;
    m_bitCount = 0;
    initBlock();
}

void DeflateEngine::setLevel(int level) {
    m_level = ClampLevel(level);
    m_blockLimit = (m_level <= kLastGreedyLevel ? kBlockItems : kBlockItems / 2) - 1;
}

void DeflateEngine::clearHash() {
    std::memset(m_head.get(), 0, kHashSize * sizeof(std::uint16_t));
    std::memset(m_head3.get(), 0, kHash3Size * sizeof(std::uint16_t));
}

void DeflateEngine::flushPending() {
    std::size_t n = pending();
    if (n > m_io.availOut)
        n = m_io.availOut;
    if (n == 0)
        return;
    std::memcpy(m_io.nextOut, m_pending.get() + m_pendingStart, n);
    m_io.nextOut += n;
    m_io.availOut -= static_cast<std::uint32_t>(n);
    m_io.totalOut += n;
    m_pendingStart += n;
    if (m_pendingStart == m_pendingEnd)
        m_pendingStart = m_pendingEnd = 0;
}

DeflateEngine::Result DeflateEngine::deflate(Flush flush) {
    if (m_io.nextOut == nullptr || (m_io.nextIn == nullptr && m_io.availIn != 0) ||
        (m_finishing && flush != Flush::kFinish))
        return Result::kStreamError;
    if (m_io.availOut == 0)
        return Result::kBufError;

    int oldFlush = m_lastFlush;
    m_lastFlush = static_cast<int>(flush);
    if (pending() != 0) {
        flushPending();
        if (m_io.availOut == 0) {
            // Called again with the same flush, the step must not be taken
            // for a repeat that has nothing to do.
            m_lastFlush = -1;
            return Result::kOk;
        }
    } else if (m_io.availIn == 0 && static_cast<int>(flush) <= oldFlush && flush != Flush::kFinish) {
        return Result::kBufError;
    }
    if (m_finishing && m_io.availIn != 0)
        return Result::kBufError;

    if (m_io.availIn != 0 || m_lookahead != 0 || (flush != Flush::kNone && !m_finishing)) {
        m_fullFlushWritten = false;
        Outcome outcome = runRoutine(flush);
        if (outcome == Outcome::kFinishStarted || outcome == Outcome::kFinishDone)
            m_finishing = true;
        if (outcome == Outcome::kNeedMore || outcome == Outcome::kFinishStarted) {
            if (m_io.availOut == 0)
                m_lastFlush = -1;
            return Result::kOk;
        }
        if (outcome == Outcome::kBlockDone) {
            if (flush == Flush::kFull) {
                // An empty stored block ends on a byte boundary, and a cleared
                // hash keeps what follows from reaching back.
                storedBlock(nullptr, 0, false);
                clearHash();
                m_fullFlushWritten = true;
            }
            flushPending();
            if (m_io.availOut == 0) {
                m_lastFlush = -1;
                return Result::kOk;
            }
        }
    }
    if (flush != Flush::kFinish)
        return Result::kOk;
    return pending() == 0 ? Result::kStreamEnd : Result::kOk;
}

DeflateEngine::Outcome DeflateEngine::runRoutine(Flush flush) {
    if (m_level == 0)
        return deflateStored(flush);
    if (m_level <= kLastGreedyLevel)
        return deflateFast(flush);
    return deflateSlow(flush);
}

std::uint32_t DeflateEngine::readInput(std::uint8_t* buffer, std::uint32_t room) {
    std::uint32_t n = m_io.availIn < room ? m_io.availIn : room;
    if (n == 0)
        return 0;
    std::memcpy(buffer, m_io.nextIn, n);
    if (m_io.keepChecksum)
        m_io.checksum = Adler32(m_io.checksum, buffer, n);
    m_io.nextIn += n;
    m_io.availIn -= n;
    m_io.totalIn += n;
    return n;
}

namespace {

// Positions move down with the window; those that fall out become 0 (none).
void slide(std::uint16_t* positions, int count) {
    for (int i = 0; i < count; ++i)
        positions[i] = positions[i] >= DeflateEngine::kWSize
                           ? static_cast<std::uint16_t>(positions[i] - DeflateEngine::kWSize)
                           : 0;
}

} // namespace

void DeflateEngine::fillWindow() {
    do {
        unsigned more = kWindowSize - m_lookahead - m_strStart;
        if (m_strStart >= static_cast<unsigned>(kWSize + kMaxDist)) {
            std::memcpy(m_window, m_window + kWSize, kWSize);
            m_matchStart -= kWSize;
            m_strStart -= kWSize;
            m_blockStart -= kWSize;
            slide(m_head.get(), kHashSize);
            slide(m_head3.get(), kHash3Size);
            slide(m_prev.get(), kWSize);
            more += kWSize;
        }
        if (m_io.availIn == 0)
            return;
        assert(more >= 2);
        m_lookahead += readInput(m_window + m_strStart + m_lookahead, more);
    } while (m_lookahead < static_cast<unsigned>(kMinLookahead) && m_io.availIn != 0);
}

template <bool kHop, bool kThree>
__attribute__((always_inline)) inline unsigned DeflateEngine::longestMatch(unsigned curMatch, unsigned nearest3) {
    assert(m_strStart <= static_cast<unsigned>(kWindowSize - kMinLookahead));
    unsigned chain = m_maxChain;
    const std::uint8_t* scan = m_window + m_strStart;
    unsigned bestLen = m_prevLength;
    unsigned nice = m_niceMatch < m_lookahead ? m_niceMatch : m_lookahead;
    unsigned limit = m_strStart > static_cast<unsigned>(kMaxDist) ? m_strStart - kMaxDist : 0;
    if (m_prevLength >= m_goodMatch)
        chain >>= 2;
    auto load32 = [](const std::uint8_t* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    // How far the bytes at `match` agree with those at scan, knowing the
    // first `known` do.
    auto extend = [scan](const std::uint8_t* match, unsigned known) {
        unsigned len = known;
        while (len < static_cast<unsigned>(kMaxMatch)) {
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
        return len < static_cast<unsigned>(kMaxMatch) ? len : static_cast<unsigned>(kMaxMatch);
    };
    // The chain holds strings of the same first four bytes, or strangers
    // sharing their hash. A candidate can only win when it agrees on the
    // four bytes ending at bestLen too.
    const std::uint32_t start = load32(scan);
    unsigned endAt = bestLen > 3 ? bestLen - 3 : 0;
    std::uint32_t end = load32(scan + endAt);
    const std::uint16_t* prev = m_prev.get();
    const std::uint8_t* window = m_window;
    // The chain walked may be that of the string `offset` bytes into the
    // candidates: curMatch is then a candidate's string plus offset.
    unsigned offset = 0;
    while (curMatch > limit + offset && chain != 0) {
        const unsigned candidate = curMatch - offset;
        assert(candidate < m_strStart);
        --chain;
        curMatch = prev[curMatch & kWMask];
        const std::uint8_t* match = window + candidate;
        if (load32(match + endAt) != end || load32(match) != start)
            continue;
        unsigned len = extend(match, 4);
        if (len <= bestLen)
            continue;
        m_matchStart = candidate;
        bestLen = len;
        if (len >= nice)
            break;
        endAt = bestLen - 3;
        end = load32(scan + endAt);
        if (kHop && candidate + bestLen - 3 <= m_strStart) {
            // A longer match agrees with this one on every four bytes inside
            // it, so it lies on each of their chains: go on along the one
            // whose next string reaches back farthest. A chain that ends
            // leaves nothing farther back.
            unsigned next = candidate;
            for (unsigned i = 0; i + 4 <= bestLen && next > limit; ++i) {
                unsigned pos = prev[(candidate + i) & kWMask];
                if (pos - i < next || pos < i) {
                    next = pos < i ? 0 : pos - i;
                    offset = i;
                }
            }
            curMatch = next + offset;
        }
    }
    // No string of four: the latest of the same three bytes, if any.
    if (kThree && bestLen < static_cast<unsigned>(kMinMatch) && nearest3 > limit) {
        assert(nearest3 < m_strStart);
        const std::uint8_t* match = window + nearest3;
        if (((load32(match) ^ start) & kThreeBytes) == 0) {
            m_matchStart = nearest3;
            bestLen = extend(match, 3);
        }
    }
    return bestLen <= m_lookahead ? bestLen : m_lookahead;
}

void DeflateEngine::flushBlockOnly(bool last) {
    const std::uint8_t* stored = m_blockStart >= 0 ? m_window + m_blockStart : nullptr;
    flushBlock(stored, static_cast<std::uint64_t>(static_cast<long>(m_strStart) - m_blockStart), last);
    m_blockStart = m_strStart;
    flushPending();
}

// Ends the block; with the output full, the routine stops and is run again
// once the owner has made room.
#define GRV_FLUSH_BLOCK(last)                                                                                          \
    do {                                                                                                               \
        flushBlockOnly(last);                                                                                          \
        if (m_io.availOut == 0)                                                                                        \
            return (last) ? Outcome::kFinishStarted : Outcome::kNeedMore;                                              \
    } while (0)

DeflateEngine::Outcome DeflateEngine::deflateStored(Flush flush) {
    // Blocks stay below 64 KiB and end before the window would slide past
    // their start.
    for (;;) {
        if (m_lookahead <= 1) {
            fillWindow();
            if (m_lookahead == 0 && flush == Flush::kNone)
                return Outcome::kNeedMore;
            if (m_lookahead == 0)
                break;
        }
        m_strStart += m_lookahead;
        m_lookahead = 0;
        long maxStart = m_blockStart + static_cast<long>(kMaxStoredBlock);
        if (static_cast<long>(m_strStart) >= maxStart) {
            m_lookahead = static_cast<unsigned>(static_cast<long>(m_strStart) - maxStart);
            m_strStart = static_cast<unsigned>(maxStart);
            GRV_FLUSH_BLOCK(false);
        }
        if (static_cast<long>(m_strStart) - m_blockStart >= kMaxDist)
            GRV_FLUSH_BLOCK(false);
    }
    bool last = flush == Flush::kFinish;
    // A flush with nothing gathered adds no empty block of its own.
    if (last || static_cast<long>(m_strStart) > m_blockStart)
        GRV_FLUSH_BLOCK(last);
    return last ? Outcome::kFinishDone : Outcome::kBlockDone;
}

DeflateEngine::Lookahead DeflateEngine::topUpLookahead(Flush flush) {
    if (m_lookahead >= static_cast<unsigned>(kMinLookahead))
        return Lookahead::kReady;
    fillWindow();
    if (m_lookahead < static_cast<unsigned>(kMinLookahead) && flush == Flush::kNone)
        return Lookahead::kNeedInput;
    return m_lookahead == 0 ? Lookahead::kExhausted : Lookahead::kReady;
}

DeflateEngine::Outcome DeflateEngine::deflateFast(Flush flush) {
    // Greedy matching has no previous match to beat.
    m_prevLength = kMinMatch - 1;
    for (;;) {
        Lookahead ahead = topUpLookahead(flush);
        if (ahead == Lookahead::kNeedInput)
            return Outcome::kNeedMore;
        if (ahead == Lookahead::kExhausted)
            break;
        // The fastest levels leave matches of three alone.
        bool full;
        if (m_level < kFirstGreedyThreeLevel)
            full = m_lookahead >= static_cast<unsigned>(kMinLookahead) ? greedyRun<false>() : greedyStep<false>();
        else
            full = m_lookahead >= static_cast<unsigned>(kMinLookahead) ? greedyRun<true>() : greedyStep<true>();
        if (full)
            GRV_FLUSH_BLOCK(false);
    }
    bool last = flush == Flush::kFinish;
    if (last || m_lastLit > 0)
        GRV_FLUSH_BLOCK(last);
    return last ? Outcome::kFinishDone : Outcome::kBlockDone;
}

template <bool kThree>
bool DeflateEngine::greedyStep() {
    std::uint32_t hashHead = 0;
    m_nearest3 = 0;
    if (m_lookahead >= static_cast<unsigned>(kMinMatch))
        hashHead = insertString<kThree>(m_strStart);
    unsigned length = 0;
    if (reachable(hashHead) || (kThree && reachable(m_nearest3)))
        length = longestMatch<false, kThree>(hashHead, m_nearest3);
    if (length < static_cast<unsigned>(kMinMatch)) {
        --m_lookahead;
        return tallyLiteral(m_window[m_strStart++]);
    }
    bool full = tallyMatch(m_strStart - m_matchStart, length - kMinMatch);
    m_lookahead -= length;
    if (length <= m_maxLazy && m_lookahead >= static_cast<unsigned>(kMinMatch)) {
        // Short matches: every string they cover goes into the hash.
        for (unsigned k = 1; k < length; ++k)
            insertString<kThree>(m_strStart + k);
    }
    m_strStart += length;
    return full;
}

DeflateEngine::Outcome DeflateEngine::deflateSlow(Flush flush) {
    for (;;) {
        Lookahead ahead = topUpLookahead(flush);
        if (ahead == Lookahead::kNeedInput)
            return Outcome::kNeedMore;
        if (ahead == Lookahead::kExhausted)
            break;
        if (m_lookahead >= static_cast<unsigned>(kMinLookahead)) {
            RunEnd end = lazyRun();
            if (end == RunEnd::kOutputFull)
                return Outcome::kNeedMore;
            if (end == RunEnd::kBlockFull)
                GRV_FLUSH_BLOCK(false);
            continue;
        }
        // Near the end of the input, one string at a time.
        std::uint32_t hashHead = 0;
        m_nearest3 = 0;
        if (m_lookahead >= static_cast<unsigned>(kMinMatch))
            hashHead = insertString<true>(m_strStart);
        m_prevLength = m_matchLength;
        m_prevMatch = m_matchStart;
        m_matchLength = kMinMatch - 1;
        if (m_prevLength < m_maxLazy && (reachable(hashHead) || reachable(m_nearest3))) {
            m_matchLength = longestMatch<true, true>(hashHead, m_nearest3);
            if (m_matchLength == static_cast<unsigned>(kMinMatch) && m_strStart - m_matchStart > kTooFar)
                m_matchLength = kMinMatch - 1;
        }
        // The match at the previous position wins unless this one is longer.
        if (m_prevLength >= static_cast<unsigned>(kMinMatch) && m_matchLength <= m_prevLength) {
            unsigned maxInsert = m_strStart + m_lookahead - kMinMatch;
            bool full = tallyMatch(m_strStart - 1 - m_prevMatch, m_prevLength - kMinMatch);
            m_lookahead -= m_prevLength - 1;
            m_prevLength -= 2;
            do {
                if (++m_strStart <= maxInsert)
                    insertString<true>(m_strStart);
            } while (--m_prevLength != 0);
            m_matchAvailable = false;
            m_matchLength = kMinMatch - 1;
            ++m_strStart;
            if (full)
                GRV_FLUSH_BLOCK(false);
        } else if (m_matchAvailable) {
            if (tallyLiteral(m_window[m_strStart - 1]))
                flushBlockOnly(false);
            ++m_strStart;
            --m_lookahead;
            if (m_io.availOut == 0)
                return Outcome::kNeedMore;
        } else {
            m_matchAvailable = true;
            ++m_strStart;
            --m_lookahead;
        }
    }
    if (m_matchAvailable) {
        tallyLiteral(m_window[m_strStart - 1]);
        m_matchAvailable = false;
    }
    bool last = flush == Flush::kFinish;
    if (last || m_lastLit > 0)
        GRV_FLUSH_BLOCK(last);
    return last ? Outcome::kFinishDone : Outcome::kBlockDone;
}

#undef GRV_FLUSH_BLOCK

// ---- Symbols, trees and block output ----

namespace {

constexpr int kLengthCodes = 29;
constexpr int kDCodes = 30;
constexpr int kBLCodes = 19;
constexpr int kStaticLCodes = 288; // the fixed tree also codes 286 and 287
constexpr int kRep3To6 = 16;
constexpr int kRepZ3To10 = 17;
constexpr int kRepZ11To138 = 18;
constexpr int kStoredBlockType = 0;
constexpr int kStaticTreesType = 1;
constexpr int kDynTreesType = 2;
constexpr int kMaxBLBits = 7;
constexpr std::uint8_t kLenGuard = 0xFF;
// Every this many symbols a block may end early when it codes well.
constexpr unsigned kEarlyEndInterval = 0x1000;
// This many literals in a row and the input looks incompressible.
constexpr unsigned kSkipAfterMisses = 256;
// A block with fewer than one match in this many symbols is mostly literals.
constexpr unsigned kMostlyLiterals = 16;
constexpr int kEarlyEndMinLevel = 3;

constexpr std::uint8_t kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kExtraBLBits[kBLCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr std::uint8_t kBLOrder[kBLCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned ReverseBits(unsigned code, int length) {
    unsigned r = 0;
    for (; length > 0; --length, code >>= 1)
        r = (r << 1) | (code & 1);
    return r;
}

// Length and distance code tables and the two fixed trees, built once.
struct StaticTables {
    std::uint8_t lengthCode[256];
    std::uint8_t distCode[512];
    std::uint16_t baseLength[kLengthCodes];
    std::uint16_t baseDist[kDCodes];
    std::uint16_t lcode[kStaticLCodes];
    std::uint8_t llen[kStaticLCodes];
    std::uint16_t dcode[kDCodes];
    std::uint8_t dlen[kDCodes];

    StaticTables() {
        int length = 0;
        int code = 0;
        for (; code < kLengthCodes - 1; ++code) {
            baseLength[code] = static_cast<std::uint16_t>(length);
            for (int n = 0; n < (1 << kExtraLBits[code]); ++n)
                lengthCode[length++] = static_cast<std::uint8_t>(code);
        }
        assert(length == 256);
        // Length 258 has a code of its own, without extra bits; it overwrites
        // the last of code 27.
        lengthCode[length - 1] = static_cast<std::uint8_t>(code);
        baseLength[code] = static_cast<std::uint16_t>(length - 1);

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

    unsigned dCode(unsigned dist) const { return dist < 256 ? distCode[dist] : distCode[256 + (dist >> 7)]; }
};

const StaticTables& Static() {
    static const StaticTables tables;
    return tables;
}

} // namespace

void DeflateEngine::initBlock() {
    const StaticTables& st = Static();
    m_lDesc = {&m_dynL, st.llen, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits, 0};
    m_dDesc = {&m_dynD, st.dlen, kExtraDBits, 0, kDCodes, kMaxBits, 0};
    m_blDesc = {&m_blTree, nullptr, kExtraBLBits, 0, kBLCodes, kMaxBLBits, 0};
    for (int n = 0; n < kLCodes; ++n)
        m_dynL.freq[n] = 0;
    for (int n = 0; n < kDCodes; ++n)
        m_dynD.freq[n] = 0;
    for (int n = 0; n < kBLCodes; ++n)
        m_blTree.freq[n] = 0;
    m_dynL.freq[kEndBlock] = 1;
    m_optLen = m_staticLen = 0;
    m_lastLit = m_matches = 0;
}

inline bool DeflateEngine::tallyLiteral(unsigned c) {
    m_lBuf[m_lastLit] = static_cast<std::uint8_t>(c);
    m_dBuf[m_lastLit] = 0;
    ++m_lastLit;
    ++m_dynL.freq[c];
    if ((m_lastLit & (kEarlyEndInterval - 1)) == 0 && blockWouldEndEarly())
        return true;
    return m_lastLit >= m_blockLimit;
}

inline bool DeflateEngine::tallyMatch(unsigned distance, unsigned lengthMinus3) {
    const StaticTables& st = Static();
    m_lBuf[m_lastLit] = static_cast<std::uint8_t>(lengthMinus3);
    m_dBuf[m_lastLit] = static_cast<std::uint16_t>(distance);
    ++m_lastLit;
    ++m_matches;
    assert(distance - 1 < static_cast<unsigned>(kMaxDist) && lengthMinus3 <= kMaxMatch - kMinMatch);
    ++m_dynL.freq[st.lengthCode[lengthMinus3] + kLiterals + 1];
    ++m_dynD.freq[st.dCode(distance - 1)];
    if ((m_lastLit & (kEarlyEndInterval - 1)) == 0 && blockWouldEndEarly())
        return true;
    return m_lastLit >= m_blockLimit;
}

// The run loops keep the hot state in locals: stores through the byte and
// symbol buffers would otherwise make every member a reload. Each string's
// chain heads are fetched one string ahead, so that its insert does not
// wait on them.
struct DeflateEngine::RunState {
    const StaticTables& st = Static();
    std::uint8_t* const lBuf;
    std::uint16_t* const dBuf;
    std::uint32_t* const lFreq;
    std::uint32_t* const dFreq;
    unsigned blockLimit;
    unsigned pos;
    unsigned lookahead;
    unsigned lastLit;
    unsigned matches;
    // Literals since the last match: past kSkipAfterMisses, the input
    // looks incompressible, and every other string is neither inserted nor
    // searched.
    unsigned misses = 0;

    explicit RunState(DeflateEngine& e)
        : lBuf(e.m_lBuf.get()), dBuf(e.m_dBuf.get()), lFreq(e.m_dynL.freq), dFreq(e.m_dynD.freq), pos(e.m_strStart),
          lookahead(e.m_lookahead) {
        restart(e);
    }
    bool skipping() const { return misses >= kSkipAfterMisses && (misses & 1) != 0; }
    // Tallies a symbol; true when the block may have to end here.
    bool literal(unsigned c) {
        lBuf[lastLit] = static_cast<std::uint8_t>(c);
        dBuf[lastLit] = 0;
        ++lFreq[c];
        ++misses;
        return ++lastLit >= blockLimit || (lastLit & (kEarlyEndInterval - 1)) == 0;
    }
    bool match(unsigned distance, unsigned lengthMinus3) {
        assert(distance - 1 < static_cast<unsigned>(kMaxDist) && lengthMinus3 <= kMaxMatch - kMinMatch);
        lBuf[lastLit] = static_cast<std::uint8_t>(lengthMinus3);
        dBuf[lastLit] = static_cast<std::uint16_t>(distance);
        ++matches;
        ++lFreq[st.lengthCode[lengthMinus3] + kLiterals + 1];
        ++dFreq[st.dCode(distance - 1)];
        misses = 0;
        return ++lastLit >= blockLimit || (lastLit & (kEarlyEndInterval - 1)) == 0;
    }
    // The block's count and limit, as the engine holds them (after a flush:
    // the new block's).
    void restart(const DeflateEngine& e) {
        lastLit = e.m_lastLit;
        matches = e.m_matches;
        blockLimit = e.m_blockLimit;
    }
    void store(DeflateEngine& e) const {
        e.m_strStart = pos;
        e.m_lookahead = lookahead;
        e.m_lastLit = lastLit;
        e.m_matches = matches;
    }
    // After literal() or match() returned true: whether the block ends.
    // A block of hardly anything but literals goes on to the whole buffer
    // all the same, as it will likely be stored.
    bool blockFull(DeflateEngine& e) {
        store(e);
        if (lastLit >= blockLimit) {
            if (blockLimit >= kBlockItems - 1 || matches * kMostlyLiterals >= lastLit)
                return true;
            blockLimit = kBlockItems - 1;
        }
        return e.blockWouldEndEarly();
    }
};

template <bool kThree>
bool DeflateEngine::greedyRun() {
    RunState r(*this);
    const std::uint8_t* const window = m_window;
    const unsigned maxInsert = m_maxLazy;
    bool full = false;
    while (r.lookahead >= static_cast<unsigned>(kMinLookahead) && !full) {
        if (r.skipping()) {
            full = r.literal(window[r.pos]) && r.blockFull(*this);
            ++r.pos;
            --r.lookahead;
            continue;
        }
        prefetchHeads<kThree>(r.pos + 1);
        const unsigned candidate = insertString<kThree>(r.pos);
        unsigned length = 0;
        if (Reachable(candidate, r.pos) || (kThree && Reachable(m_nearest3, r.pos))) {
            m_strStart = r.pos;
            m_lookahead = r.lookahead;
            length = longestMatch<false, kThree>(candidate, m_nearest3);
        }
        if (length < static_cast<unsigned>(kMinMatch)) {
            full = r.literal(window[r.pos]) && r.blockFull(*this);
            ++r.pos;
            --r.lookahead;
            continue;
        }
        const bool check = r.match(r.pos - m_matchStart, length - kMinMatch);
        if (length <= maxInsert) {
            // Short matches: every string they cover goes into the hash.
            for (unsigned k = 1; k < length; ++k)
                insertString<kThree>(r.pos + k);
        }
        r.pos += length;
        r.lookahead -= length;
        full = check && r.blockFull(*this);
    }
    r.store(*this);
    return full;
}

DeflateEngine::RunEnd DeflateEngine::lazyRun() {
    RunState r(*this);
    const std::uint8_t* const window = m_window;
    const unsigned maxLazy = m_maxLazy;
    unsigned matchLength = m_matchLength;
    unsigned matchStart = m_matchStart;
    bool pending = m_matchAvailable;
    RunEnd end = RunEnd::kLookahead;
    auto storeAll = [&] {
        r.store(*this);
        m_matchLength = matchLength;
        m_matchStart = matchStart;
        m_matchAvailable = pending;
    };
    while (r.lookahead >= static_cast<unsigned>(kMinLookahead)) {
        bool check;
        if (pending && matchLength < static_cast<unsigned>(kMinMatch) && r.skipping()) {
            // The string pending has no match; the next one is not looked
            // at and becomes the one pending.
            check = r.literal(window[r.pos - 1]);
        } else {
            prefetchHeads<true>(r.pos + 1);
            const unsigned candidate = insertString<true>(r.pos);
            const unsigned prevLength = matchLength;
            const unsigned prevMatch = matchStart;
            matchLength = kMinMatch - 1;
            if (prevLength < maxLazy && (Reachable(candidate, r.pos) || Reachable(m_nearest3, r.pos))) {
                m_strStart = r.pos;
                m_lookahead = r.lookahead;
                m_prevLength = prevLength;
                matchLength = longestMatch<true, true>(candidate, m_nearest3);
                matchStart = m_matchStart;
                if (matchLength == static_cast<unsigned>(kMinMatch) && r.pos - matchStart > kTooFar)
                    matchLength = kMinMatch - 1;
            }
            if (prevLength >= static_cast<unsigned>(kMinMatch) && matchLength <= prevLength) {
                // The match at the previous string wins: every string it
                // covers goes into the hash.
                check = r.match(r.pos - 1 - prevMatch, prevLength - kMinMatch);
                for (unsigned k = 1; k + 1 < prevLength; ++k)
                    insertString<true>(r.pos + k);
                r.pos += prevLength - 1;
                r.lookahead -= prevLength - 1;
                pending = false;
                matchLength = kMinMatch - 1;
                if (check && r.blockFull(*this)) {
                    end = RunEnd::kBlockFull;
                    break;
                }
                continue;
            }
            if (!pending) {
                pending = true;
                ++r.pos;
                --r.lookahead;
                continue;
            }
            check = r.literal(window[r.pos - 1]);
        }
        // The previous string went out as a literal; this one is pending.
        if (check && r.blockFull(*this)) {
            storeAll();
            flushBlockOnly(false);
            r.restart(*this);
            ++r.pos;
            --r.lookahead;
            if (m_io.availOut == 0) {
                end = RunEnd::kOutputFull;
                break;
            }
            continue;
        }
        ++r.pos;
        --r.lookahead;
    }
    storeAll();
    return end;
}

bool DeflateEngine::blockWouldEndEarly() const {
    // A block that is mostly literals and already codes to under half its
    // input ends here, so the next trees can adapt.
    if (m_level < kEarlyEndMinLevel)
        return false;
    std::uint64_t outLength = static_cast<std::uint64_t>(m_lastLit) * 8;
    std::uint64_t inLength = static_cast<std::uint64_t>(static_cast<long>(m_strStart) - m_blockStart);
    for (int d = 0; d < kDCodes; ++d)
        outLength += m_dynD.freq[d] * (5u + kExtraDBits[d]);
    outLength >>= 3;
    return m_matches < m_lastLit / 2 && outLength < inLength / 2;
}

namespace {

// A heap entry holds its node's frequency, depth and number, in that order
// from the top bit down: entries order as their nodes do, by frequency and
// then depth, once the number is shifted off, with no look-up in the tree.
constexpr int kNodeBits = 10;
constexpr int kDepthBits = 8;
constexpr std::uint64_t kNodeMask = (1u << kNodeBits) - 1;
constexpr std::uint64_t kDepthMask = (1u << kDepthBits) - 1;

std::uint64_t HeapEntry(std::uint64_t freq, unsigned depth, int node) {
    return (((freq << kDepthBits) | (depth & kDepthMask)) << kNodeBits) | static_cast<std::uint64_t>(node);
}
int EntryNode(std::uint64_t entry) {
    return static_cast<int>(entry & kNodeMask);
}
unsigned EntryDepth(std::uint64_t entry) {
    return static_cast<unsigned>((entry >> kNodeBits) & kDepthMask);
}
// Whether `a` comes out of the heap no later than `b`.
bool NoLater(std::uint64_t a, std::uint64_t b) {
    return a >> kNodeBits <= b >> kNodeBits;
}

} // namespace

void DeflateEngine::pqDownHeap(int k) {
    static_assert(kHeapSize <= static_cast<int>(kNodeMask) + 1);
    std::uint64_t v = m_heapEntries[k];
    int j = k << 1;
    while (j <= m_heapLen) {
        if (j < m_heapLen && NoLater(m_heapEntries[j + 1], m_heapEntries[j]))
            ++j;
        if (NoLater(v, m_heapEntries[j]))
            break;
        m_heapEntries[k] = m_heapEntries[j];
        k = j;
        j <<= 1;
    }
    m_heapEntries[k] = v;
}

void DeflateEngine::buildTree(TreeDesc& desc) {
    Tree& tree = *desc.tree;
    int elems = desc.elems;
    int maxCode = -1;
    m_heapLen = 0;
    m_heapMax = kHeapSize;
    for (int n = 0; n < elems; ++n) {
        if (tree.freq[n] != 0) {
            m_heapEntries[++m_heapLen] = HeapEntry(tree.freq[n], 0, n);
            maxCode = n;
        } else {
            tree.len[n] = 0;
        }
    }
    // A code needs at least two symbols; force one or two in.
    while (m_heapLen < 2) {
        int node = maxCode < 2 ? ++maxCode : 0;
        tree.freq[node] = 1;
        m_heapEntries[++m_heapLen] = HeapEntry(1, 0, node);
        --m_optLen;
        if (desc.staticLen)
            m_staticLen -= desc.staticLen[node];
    }
    desc.maxCode = maxCode;

    for (int n = m_heapLen / 2; n >= 1; --n)
        pqDownHeap(n);

    // The sorted nodes gather at the top of m_heap, for genBitlen.
    int node = elems;
    do {
        std::uint64_t first = m_heapEntries[1];
        m_heapEntries[1] = m_heapEntries[m_heapLen--];
        pqDownHeap(1);
        std::uint64_t second = m_heapEntries[1];
        int n = EntryNode(first);
        int m = EntryNode(second);
        m_heap[--m_heapMax] = n;
        m_heap[--m_heapMax] = m;
        tree.freq[node] = tree.freq[n] + tree.freq[m];
        unsigned depth = (EntryDepth(first) >= EntryDepth(second) ? EntryDepth(first) : EntryDepth(second)) + 1;
        tree.dad[n] = tree.dad[m] = static_cast<std::uint16_t>(node);
        m_heapEntries[1] = HeapEntry(tree.freq[node], depth, node);
        ++node;
        pqDownHeap(1);
    } while (m_heapLen >= 2);
    m_heap[--m_heapMax] = EntryNode(m_heapEntries[1]);

    genBitlen(desc);
    genCodes(tree, maxCode);
}

void DeflateEngine::genBitlen(TreeDesc& desc) {
    Tree& tree = *desc.tree;
    const int maxLength = desc.maxLength;
    for (auto& c : m_blCount)
        c = 0;

    // Depths from the root down, in heap order; clip at the maximum length.
    tree.len[m_heap[m_heapMax]] = 0;
    int overflow = 0;
    int h;
    for (h = m_heapMax + 1; h < kHeapSize; ++h) {
        int n = m_heap[h];
        int bits = tree.len[tree.dad[n]] + 1;
        if (bits > maxLength) {
            bits = maxLength;
            ++overflow;
        }
        tree.len[n] = static_cast<std::uint8_t>(bits);
        if (n > desc.maxCode)
            continue; // not a leaf
        ++m_blCount[bits];
        int xbits = n >= desc.extraBase ? desc.extraBits[n - desc.extraBase] : 0;
        std::uint64_t f = tree.freq[n];
        m_optLen += f * static_cast<std::uint64_t>(bits + xbits);
        if (desc.staticLen)
            m_staticLen += f * static_cast<std::uint64_t>(desc.staticLen[n] + xbits);
    }
    if (overflow == 0)
        return;

    // Move leaves down from the clipped depth until the code is complete again.
    do {
        int bits = maxLength - 1;
        while (m_blCount[bits] == 0)
            --bits;
        --m_blCount[bits];
        m_blCount[bits + 1] += 2;
        --m_blCount[maxLength];
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths out again, longest to the least frequent leaves.
    h = kHeapSize;
    for (int bits = maxLength; bits != 0; --bits) {
        int n = m_blCount[bits];
        while (n != 0) {
            int m = m_heap[--h];
            if (m > desc.maxCode)
                continue;
            if (tree.len[m] != bits) {
                m_optLen += (static_cast<std::int64_t>(bits) - tree.len[m]) * static_cast<std::int64_t>(tree.freq[m]);
                tree.len[m] = static_cast<std::uint8_t>(bits);
            }
            --n;
        }
    }
}

void DeflateEngine::genCodes(Tree& tree, int maxCode) {
    unsigned next[kMaxBits + 1];
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + m_blCount[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int n = 0; n <= maxCode; ++n) {
        int len = tree.len[n];
        if (len == 0)
            continue;
        tree.code[n] = static_cast<std::uint16_t>(ReverseBits(next[len]++, len));
    }
}

namespace {

// Walks a tree's code lengths as the run-length code of RFC 1951 sends them,
// handing each bit-length symbol (with its repeat bits) to `emit`.
template <class Emit>
void WalkCodeLengths(const std::uint8_t* len, int maxCode, Emit emit) {
    int prevLen = -1;
    int nextLen = len[0];
    int count = 0;
    int maxCount = nextLen == 0 ? 138 : 7;
    int minCount = nextLen == 0 ? 3 : 4;
    for (int n = 0; n <= maxCode; ++n) {
        int curLen = nextLen;
        nextLen = len[n + 1];
        if (++count < maxCount && curLen == nextLen)
            continue;
        if (count < minCount) {
            do
                emit(curLen, 0, 0);
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

} // namespace

void DeflateEngine::scanTree(Tree& tree, int maxCode) {
    tree.len[maxCode + 1] = kLenGuard; // no run continues past the last code
    WalkCodeLengths(tree.len, maxCode, [this](int symbol, int, int) { ++m_blTree.freq[symbol]; });
}

void DeflateEngine::sendTree(const Tree& tree, int maxCode) {
    // scanTree left its guard behind maxCode.
    WalkCodeLengths(tree.len, maxCode, [this](int symbol, int extra, int bits) {
        sendBits(m_blTree.code[symbol], m_blTree.len[symbol]);
        if (bits)
            sendBits(static_cast<std::uint32_t>(extra), bits);
    });
}

int DeflateEngine::buildBlTree() {
    scanTree(m_dynL, m_lDesc.maxCode);
    scanTree(m_dynD, m_dDesc.maxCode);
    buildTree(m_blDesc);
    int maxIndex;
    for (maxIndex = kBLCodes - 1; maxIndex >= 3; --maxIndex)
        if (m_blTree.len[kBLOrder[maxIndex]] != 0)
            break;
    m_optLen += 3 * (static_cast<std::uint64_t>(maxIndex) + 1) + 5 + 5 + 4;
    return maxIndex;
}

void DeflateEngine::sendAllTrees(int lcodes, int dcodes, int blcodes) {
    assert(lcodes >= 257 && dcodes >= 1 && blcodes >= 4);
    assert(lcodes <= kLCodes && dcodes <= kDCodes && blcodes <= kBLCodes);
    sendBits(lcodes - 257, 5);
    sendBits(dcodes - 1, 5);
    sendBits(blcodes - 4, 4);
    for (int rank = 0; rank < blcodes; ++rank)
        sendBits(m_blTree.len[kBLOrder[rank]], 3);
    sendTree(m_dynL, lcodes - 1);
    sendTree(m_dynD, dcodes - 1);
}

void DeflateEngine::compressBlock(const std::uint16_t* lcode, const std::uint8_t* llen, const std::uint16_t* dcode,
                                  const std::uint8_t* dlen) {
    const StaticTables& st = Static();
    const std::uint8_t* lBuf = m_lBuf.get();
    const std::uint16_t* dBuf = m_dBuf.get();
    // The bits live in locals here, and whole bytes leave eight at a time
    // after each symbol (at most 48 bits): stores through the byte pointer
    // would otherwise make every member a reload.
    std::uint64_t bitBuf = m_bitBuf;
    unsigned bitCount = static_cast<unsigned>(m_bitCount);
    std::uint8_t* out = m_pending.get() + m_pendingEnd;
    auto drain = [&] {
        assert(out + sizeof bitBuf <= m_pending.get() + m_pendingSize);
        platform::StoreLe64(out, bitBuf);
        out += bitCount >> 3;
        bitBuf >>= bitCount & ~7u;
        bitCount &= 7;
    };
    drain();
    for (unsigned i = 0, n = m_lastLit; i < n; ++i) {
        unsigned dist = dBuf[i];
        unsigned lc = lBuf[i];
        if (dist == 0) {
            bitBuf |= static_cast<std::uint64_t>(lcode[lc]) << bitCount;
            bitCount += llen[lc];
        } else {
            // Length code with its extra bits (at most 20 bits), then the
            // distance code with its extra bits (at most 28).
            unsigned code = st.lengthCode[lc];
            bitBuf |= static_cast<std::uint64_t>(lcode[code + kLiterals + 1]) << bitCount;
            bitCount += llen[code + kLiterals + 1];
            bitBuf |= static_cast<std::uint64_t>(lc - st.baseLength[code]) << bitCount;
            bitCount += kExtraLBits[code];
            --dist;
            code = st.dCode(dist);
            assert(code < static_cast<unsigned>(kDCodes));
            bitBuf |= static_cast<std::uint64_t>(dcode[code]) << bitCount;
            bitCount += dlen[code];
            bitBuf |= static_cast<std::uint64_t>(dist - st.baseDist[code]) << bitCount;
            bitCount += kExtraDBits[code];
        }
        drain();
    }
    m_bitBuf = bitBuf;
    m_bitCount = static_cast<int>(bitCount);
    m_pendingEnd = static_cast<std::size_t>(out - m_pending.get());
    sendBits(lcode[kEndBlock], llen[kEndBlock]);
}

void DeflateEngine::flushBlock(const std::uint8_t* stored, std::uint64_t storedLength, bool last) {
    const StaticTables& st = Static();
    std::uint64_t optBytes;
    std::uint64_t staticBytes;
    int maxBlIndex = 0;
    if (m_level > 0) {
        buildTree(m_lDesc);
        buildTree(m_dDesc);
        maxBlIndex = buildBlTree();
        optBytes = (m_optLen + 3 + 7) >> 3;
        staticBytes = (m_staticLen + 3 + 7) >> 3;
        if (staticBytes <= optBytes)
            optBytes = staticBytes;
    } else {
        optBytes = staticBytes = storedLength + 5;
    }

    if (storedLength + 4 <= optBytes && stored != nullptr) {
        storedBlock(stored, storedLength, last);
    } else if (staticBytes == optBytes) {
        sendBits((kStaticTreesType << 1) + (last ? 1 : 0), 3);
        compressBlock(st.lcode, st.llen, st.dcode, st.dlen);
    } else {
        sendBits((kDynTreesType << 1) + (last ? 1 : 0), 3);
        sendAllTrees(m_lDesc.maxCode + 1, m_dDesc.maxCode + 1, maxBlIndex + 1);
        compressBlock(m_dynL.code, m_dynL.len, m_dynD.code, m_dynD.len);
    }
    initBlock();
    if (last)
        alignToByte();
}

void DeflateEngine::storedBlock(const std::uint8_t* data, std::uint64_t length, bool last) {
    // A stored block holds at most 65535 bytes; longer input takes several.
    do {
        std::size_t n = length < kMaxStoredBlock ? static_cast<std::size_t>(length) : kMaxStoredBlock;
        bool final = last && n == length;
        sendBits((kStoredBlockType << 1) + (final ? 1 : 0), 3);
        alignToByte();
        // LEN and its complement NLEN, little-endian.
        assert(m_pendingEnd + 4 + n <= m_pendingSize);
        platform::StoreLe16(m_pending.get() + m_pendingEnd, static_cast<std::uint16_t>(n));
        platform::StoreLe16(m_pending.get() + m_pendingEnd + 2, static_cast<std::uint16_t>(~n));
        m_pendingEnd += 4;
        if (n)
            std::memcpy(m_pending.get() + m_pendingEnd, data, n);
        m_pendingEnd += n;
        data += n;
        length -= n;
    } while (length > 0);
}

void DeflateEngine::putWord() {
    assert(m_pendingEnd + 4 <= m_pendingSize);
    std::uint8_t* out = m_pending.get() + m_pendingEnd;
    platform::StoreLe32(out, static_cast<std::uint32_t>(m_bitBuf));
    m_pendingEnd += 4;
    m_bitBuf >>= 32;
    m_bitCount -= 32;
}

void DeflateEngine::alignToByte() {
    while (m_bitCount > 0) {
        putByte(static_cast<std::uint8_t>(m_bitBuf));
        m_bitBuf >>= 8;
        m_bitCount -= 8;
    }
    m_bitBuf = 0;
    m_bitCount = 0;
}

} // namespace platform
