#include "netlib/streams/InflateState2.h"

#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "netlib/streams/StreamConstants.h"
#include "platform/ByteOrder.h"

namespace tessik {

// The word-wide bit refill reads the input little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// ---- Window layout: history, flush area, and room for one match past it.
constexpr std::size_t kHistory = InflateState2::kWindowSize;
constexpr std::size_t kFlushArea = 4 * kHistory;
constexpr std::size_t kMaxMatch = 258;
constexpr std::size_t kWord = 8;
constexpr std::size_t kCopyOvershoot = 4 * kWord;
constexpr std::size_t kWindowBytes = kHistory + kFlushArea + kMaxMatch + kCopyOvershoot;
// Output leaves in pieces no larger than the window.
constexpr std::uint32_t kMaxWritePiece = InflateState2::kWindowSize;

// ---- Decode table entries: value << 16 | kind << 12 | extra << 8 | length.
// The length counts the code's bits and a base's extra bits behind them, so
// that one shift takes both. For a sub-table link the value is the
// sub-table's start, the extra field its index bits and the length the main
// table's.
enum Kind : std::uint32_t { kInvalid = 0, kLiteral = 1, kBase = 2, kEndOfBlock = 4, kSubTable = 8 };
constexpr std::uint32_t entry(std::uint32_t value, Kind kind, std::uint32_t extra, std::uint32_t length) {
    return value << 16 | static_cast<std::uint32_t>(kind) << 12 | extra << 8 | length;
}
inline Kind kindOf(std::uint32_t e) {
    return static_cast<Kind>((e >> 12) & 0xF);
}
inline unsigned extraOf(std::uint32_t e) {
    return (e >> 8) & 0xF;
}
inline unsigned lengthOf(std::uint32_t e) {
    return e & 0xFF;
}
// The code's own bits, without a base's extra bits (not for links).
inline unsigned codeBitsOf(std::uint32_t e) {
    return lengthOf(e) - extraOf(e);
}
// Literal/length entries of literals also carry the top bit, so that the
// decoding loop tells them by the sign alone.
constexpr std::uint32_t kLiteralFlag = 1u << 31;
inline bool isLiteral(std::uint32_t e) {
    return static_cast<std::int32_t>(e) < 0;
}
// The kinds are single bits: one test each.
inline bool isKind(std::uint32_t e, Kind kind) {
    return (e & static_cast<std::uint32_t>(kind) << 12) != 0;
}

constexpr int kLitSymbols = 288;
constexpr int kDistSymbols = 32;
constexpr int kCodeLenSymbols = 19;
constexpr int kEndBlockSymbol = 256;
constexpr int kMaxCodeLength = 15;
constexpr int kLitBits = 11;
constexpr int kDistBits = 8;
constexpr int kCodeLenBits = 7;
// Room for the main table and the worst sub-tables of any code, complete or not.
constexpr std::size_t kLitEntries = (1u << kLitBits) + kLitSymbols * (1u << (kMaxCodeLength - kLitBits));
constexpr std::size_t kDistEntries = (1u << kDistBits) + kDistSymbols * (1u << (kMaxCodeLength - kDistBits));
constexpr std::size_t kCodeLenEntries = 1u << kCodeLenBits;

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                         33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kCodeLenOrder[kCodeLenSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

// Symbols 286 and 287, and distances 30 and 31, have codes but no meaning.
std::uint32_t litEntryOf(int symbol) {
    if (symbol < kEndBlockSymbol)
        return entry(static_cast<std::uint32_t>(symbol), kLiteral, 0, 0) | kLiteralFlag;
    if (symbol == kEndBlockSymbol)
        return entry(0, kEndOfBlock, 0, 0);
    int code = symbol - kEndBlockSymbol - 1;
    if (code >= 29)
        return entry(0, kInvalid, 0, 0);
    return entry(kLengthBase[code], kBase, kLengthExtra[code], 0);
}
std::uint32_t distEntryOf(int symbol) {
    if (symbol >= 30)
        return entry(0, kInvalid, 0, 0);
    return entry(kDistBase[symbol], kBase, kDistExtra[symbol], 0);
}
std::uint32_t codeLenEntryOf(int symbol) {
    return entry(static_cast<std::uint32_t>(symbol), kLiteral, 0, 0);
}

unsigned reverseBits(unsigned code, int length) {
    unsigned r = 0;
    for (; length > 0; --length, code >>= 1)
        r = (r << 1) | (code & 1);
    return r;
}

// kSingleCode: one code of length 1, which leaves half the room unused.
enum BuildResult { kComplete = 0, kIncomplete = 1, kOverSubscribed = 2, kNoRoom = 3, kSingleCode = 4 };

// Canonical Huffman decode table: codes up to mainBits long index the main
// table directly, longer ones through sub-tables; unused slots are invalid.
// No lengths at all give a table of invalid entries.
BuildResult buildTable(const std::uint8_t* lens, int n, int mainBits, std::uint32_t* table, std::size_t capacity,
                       std::uint32_t (*entryOf)(int)) {
    int count[kMaxCodeLength + 1] = {};
    for (int s = 0; s < n; ++s)
        ++count[lens[s]];
    count[0] = 0;
    int maxLen = 0;
    int left = 1;
    for (int l = 1; l <= kMaxCodeLength; ++l) {
        left = (left << 1) - count[l];
        if (left < 0)
            return kOverSubscribed;
        if (count[l])
            maxLen = l;
    }
    const std::size_t mainSize = std::size_t{1} << mainBits;
    const std::uint32_t invalid = entry(0, kInvalid, 0, 0);
    // A complete code fills every slot by itself.
    const bool complete = left == 0;
    if (!complete)
        for (std::size_t i = 0; i < mainSize; ++i)
            table[i] = invalid;
    if (maxLen == 0)
        return kComplete;

    int offsets[kMaxCodeLength + 2] = {};
    for (int l = 1; l <= kMaxCodeLength; ++l)
        offsets[l + 1] = offsets[l] + count[l];
    std::uint16_t sorted[kLitSymbols];
    for (int s = 0; s < n; ++s)
        if (lens[s])
            sorted[offsets[lens[s]]++] = static_cast<std::uint16_t>(s);

    int remaining[kMaxCodeLength + 1];
    std::memcpy(remaining, count, sizeof remaining);
    std::size_t end = mainSize;
    unsigned code = 0;
    int next = 0;
    unsigned subPrefix = ~0u;
    std::size_t subStart = 0;
    int subBits = 0;
    for (int l = 1; l <= maxLen; ++l) {
        code <<= 1;
        for (int k = 0; k < count[l]; ++k, ++code) {
            int symbol = sorted[next++];
            unsigned rev = reverseBits(code, l);
            std::uint32_t e = entryOf(symbol);
            if (l <= mainBits) {
                for (std::size_t i = rev; i < mainSize; i += std::size_t{1} << l)
                    table[i] = e | (static_cast<std::uint32_t>(l) + extraOf(e));
            } else {
                unsigned prefix = rev & static_cast<unsigned>(mainSize - 1);
                if (prefix != subPrefix) {
                    // Large enough for the codes that share this prefix.
                    subPrefix = prefix;
                    subStart = end;
                    subBits = l - mainBits;
                    int used = remaining[l];
                    while (used < (1 << subBits) && mainBits + subBits < maxLen) {
                        ++subBits;
                        used = (used << 1) + remaining[mainBits + subBits];
                    }
                    if (end + (std::size_t{1} << subBits) > capacity)
                        return kNoRoom;
                    if (!complete)
                        for (std::size_t i = 0; i < (std::size_t{1} << subBits); ++i)
                            table[subStart + i] = invalid;
                    end += std::size_t{1} << subBits;
                    table[prefix] = entry(static_cast<std::uint32_t>(subStart), kSubTable,
                                          static_cast<std::uint32_t>(subBits), static_cast<std::uint32_t>(mainBits));
                }
                int subLen = l - mainBits;
                for (std::size_t i = rev >> mainBits; i < (std::size_t{1} << subBits); i += std::size_t{1} << subLen)
                    table[subStart + i] = e | (static_cast<std::uint32_t>(subLen) + extraOf(e));
            }
            --remaining[l];
        }
    }
    if (left == 0)
        return kComplete;
    return maxLen == 1 ? kSingleCode : kIncomplete;
}

// As zlib has it: a code may leave room unused only when it is a single
// code of length 1 (or no code at all), and the code-length code never.
bool acceptable(BuildResult result, bool codeLengthCode) {
    return result == kComplete || (result == kSingleCode && !codeLengthCode);
}

} // namespace

struct InflateState2::Tables {
    std::uint32_t lit[kLitEntries];
    std::uint32_t dist[kDistEntries];
    std::uint32_t codeLen[kCodeLenEntries];
    std::uint8_t lens[kLitSymbols + kDistSymbols];
    // The tables of the block being decoded: the fixed ones or these.
    const std::uint32_t* litTable = nullptr;
    const std::uint32_t* distTable = nullptr;
};

namespace {

struct FixedTables {
    std::uint32_t lit[1u << kLitBits];
    std::uint32_t dist[1u << kDistBits];
    FixedTables() {
        std::uint8_t lens[kLitSymbols];
        for (int s = 0; s < kLitSymbols; ++s)
            lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        buildTable(lens, kLitSymbols, kLitBits, lit, sizeof lit / sizeof lit[0], litEntryOf);
        // 30 codes of 5 bits leave room unused: accepted, as the format says.
        std::uint8_t dlens[30];
        std::memset(dlens, 5, sizeof dlens);
        buildTable(dlens, 30, kDistBits, dist, sizeof dist / sizeof dist[0], distEntryOf);
    }
};

const FixedTables& fixedTables() {
    static const FixedTables tables;
    return tables;
}

} // namespace

// Bits are taken least significant first. Bits of `buf` above `count` are
// either zero or the right next bits of the input, so a refill may OR a
// byte in again.
struct InflateState2::Reader {
    const unsigned char* start;
    const unsigned char* in;
    const unsigned char* end;
    std::uint64_t buf = 0;
    unsigned count = 0;

    // Loads bytes until n bits are held; false when the input runs out first.
    bool need(unsigned n) {
        while (count < n) {
            if (in == end)
                return false;
            buf |= static_cast<std::uint64_t>(*in++) << count;
            count += 8;
        }
        return true;
    }
    // At least 56 bits; the caller guarantees 8 readable bytes at `in`.
    void refillFast() {
        buf |= platform::LoadLe64(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
    }
    std::uint32_t peek(unsigned n) const { return static_cast<std::uint32_t>(buf & ((std::uint64_t{1} << n) - 1)); }
    void drop(unsigned n) {
        buf >>= n;
        count -= n;
    }
    std::uint64_t bitPos() const { return static_cast<std::uint64_t>(in - start) * 8 - count; }
};

InflateState2::InflateState2()
    : m_state(kNeedBlock), m_lastBlock(false), m_storedRemaining(0), m_driver(Driver::kBuffer), m_verbose(false),
      m_fault(Fault::kNone), m_faultState(kNeedBlock), m_log(nullptr), m_out(nullptr), m_validStart(nullptr),
      m_flushed(nullptr), m_totalOut(0), m_sink(nullptr), m_output(nullptr) {
    fixedTables();
    allocate();
    beginStream();
}

namespace {

// The window and tables the thread's last inflater left. A short body's
// inflate would otherwise take 160 KiB fresh from the kernel and fault its
// pages in each time, costing more than the body's decoding; one inflater
// inside another allocates its own, and one that outlives its thread's
// spare (destroyed as the thread ends) frees its own.
thread_local bool t_spareGone = false;

struct SpareBuffers {
    std::unique_ptr<unsigned char[]> window;
    std::unique_ptr<InflateState2::Tables> tables;
    ~SpareBuffers() { t_spareGone = true; }
};

SpareBuffers* spareBuffers() {
    thread_local SpareBuffers spare;
    return t_spareGone ? nullptr : &spare;
}

} // namespace

InflateState2::~InflateState2() {
    SpareBuffers* spare = spareBuffers();
    if (spare == nullptr)
        return;
    if (!spare->window)
        spare->window = std::move(m_window);
    if (!spare->tables)
        spare->tables = std::move(m_tables);
}

bool InflateState2::allocate() {
    SpareBuffers* spare = spareBuffers();
    if (!m_window)
        m_window = spare != nullptr && spare->window
                       ? std::move(spare->window)
                       : std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[kWindowBytes]);
    if (!m_tables) {
        m_tables = spare != nullptr && spare->tables ? std::move(spare->tables)
                                                     : std::unique_ptr<Tables>(new (std::nothrow) Tables);
        if (m_tables) {
            m_tables->litTable = nullptr;
            m_tables->distTable = nullptr;
        }
    }
    return m_window && m_tables;
}

void InflateState2::beginStream() {
    m_state = kNeedBlock;
    m_lastBlock = false;
    m_storedRemaining = 0;
    m_fault = Fault::kNone;
    m_totalOut = 0;
    m_out = m_validStart = m_flushed = m_window ? m_window.get() + kHistory : nullptr;
}

void InflateState2::setSink(DataSink* sink) {
    m_sink = sink;
}

// ---------------------------------------------------------------- output

bool InflateState2::writeOut(const unsigned char* data, std::uint32_t n) {
    LogNull silent;
    if (m_driver == Driver::kChunk)
        return m_output != nullptr && m_output->writeBytesNoProgress(data, n, 1, m_log ? *m_log : silent) == 1;
    std::uint32_t capacity = 0;
    if (m_sink == nullptr || !m_sink->getWritableCapacity(&capacity) || capacity < n ||
        !m_sink->writeBytes(data, n, m_log))
        return false;
    if (m_driver == Driver::kSource && m_sink->isAborted()) {
        m_fault = Fault::kAborted;
        return false;
    }
    return true;
}

bool InflateState2::flushWindow() {
    while (m_flushed < m_out) {
        std::size_t left = static_cast<std::size_t>(m_out - m_flushed);
        std::uint32_t n = left < kMaxWritePiece ? static_cast<std::uint32_t>(left) : kMaxWritePiece;
        if (!writeOut(m_flushed, n))
            return false;
        m_flushed += n;
        m_totalOut += n;
    }
    return true;
}

bool InflateState2::makeRoom() {
    unsigned char* areaEnd = m_window.get() + kHistory + kFlushArea;
    if (m_out < areaEnd)
        return true;
    if (!flushWindow())
        return false;
    // Keep the last 32 KiB as history and start the area again behind it.
    unsigned char* from = m_out - kHistory;
    std::memmove(m_window.get(), from, kHistory);
    std::ptrdiff_t shift = from - m_window.get();
    m_validStart = m_validStart - m_window.get() > shift ? m_validStart - shift : m_window.get();
    m_out = m_flushed = m_window.get() + kHistory;
    return true;
}

// ---------------------------------------------------------------- decoding

InflateState2::Run InflateState2::fail(Fault fault) {
    if (m_fault == Fault::kNone) {
        m_fault = fault;
        if (const char* reason = reasonFor(fault); reason && m_log)
            m_log->logError(reason);
    }
    m_faultState = m_state;
    return Run::kFailed;
}

InflateState2::Run InflateState2::endOfInput(bool final, Fault fault) {
    return final ? fail(fault) : Run::kNeedInput;
}

InflateState2::Run InflateState2::decode(const unsigned char* data, std::size_t size, unsigned bitOffset, bool final,
                                         std::uint64_t& usedBits) {
    Reader r{data, data, data + size};
    if (bitOffset) {
        r.need(8);
        r.drop(bitOffset);
    }
    Run run = Run::kContinue;
    while (run == Run::kContinue) {
        if (m_state == kNeedBlock && m_lastBlock) {
            run = Run::kFinished;
            break;
        }
        logState(m_log);
        switch (m_state) {
        case kNeedBlock: run = blockHeader(r, final); break;
        case kStoredData: run = storedData(r, final); break;
        case kFixedData:
        case kDynamicData: run = blockData(r, final); break;
        default: run = fail(Fault::kNoMemory); break;
        }
    }
    usedBits = r.bitPos();
    return run;
}

InflateState2::Run InflateState2::blockHeader(Reader& r, bool final) {
    // A header is taken whole or not at all: short of input, the reader and
    // the state go back to the header's first bit.
    const Reader start = r;
    auto takeBack = [&](Fault fault) {
        r = start;
        m_state = kNeedBlock;
        m_lastBlock = false;
        return endOfInput(final, fault);
    };
    // Nothing left at a block boundary: the stream stops between blocks.
    if (!r.need(3))
        return takeBack(Fault::kEndInBlockType);
    m_lastBlock = r.peek(1);
    unsigned type = r.peek(3) >> 1;
    r.drop(3);
    switch (type) {
    case 0: {
        m_state = kStoredSetup;
        r.drop(r.count & 7);
        if (!r.need(32))
            return takeBack(Fault::kEndInStoredHeader);
        std::uint32_t len = r.peek(16);
        std::uint32_t nlen = (r.peek(32) >> 16);
        if (len != (~nlen & 0xFFFF))
            return fail(Fault::kStoredLengthMismatch);
        r.drop(32);
        m_storedRemaining = len;
        m_state = len ? kStoredData : kNeedBlock;
        return Run::kContinue;
    }
    case 1:
        m_state = kFixedSetup;
        m_tables->litTable = fixedTables().lit;
        m_tables->distTable = fixedTables().dist;
        m_state = kFixedData;
        return Run::kContinue;
    case 2: {
        m_state = kDynamicSetup;
        Run run = dynamicHeader(r, final);
        return run == Run::kNeedInput ? takeBack(Fault::kEndInDynamicHeader) : run;
    }
    default: return fail(Fault::kBadBlockType);
    }
}

InflateState2::Run InflateState2::dynamicHeader(Reader& r, bool final) {
    constexpr int kLitCountBase = 257;
    constexpr int kCodeLenCountBase = 4;
    constexpr int kRepeatPrevious = 16;
    constexpr int kRepeatZeros = 17;
    Tables& t = *m_tables;
    if (!r.need(14))
        return endOfInput(final, Fault::kEndInDynamicHeader);
    int nlit = static_cast<int>(r.peek(5)) + kLitCountBase;
    int ndist = static_cast<int>(r.peek(10) >> 5) + 1;
    int ncode = static_cast<int>(r.peek(14) >> 10) + kCodeLenCountBase;
    r.drop(14);
    // Length symbols 286 and 287, and distances 30 and 31, are never used.
    if (nlit > kLitSymbols - 2 || ndist > kDistSymbols - 2)
        return fail(Fault::kTooManySymbols);

    std::uint8_t codeLens[kCodeLenSymbols] = {};
    for (int i = 0; i < ncode; ++i) {
        if (!r.need(3))
            return endOfInput(final, Fault::kEndInDynamicHeader);
        codeLens[kCodeLenOrder[i]] = static_cast<std::uint8_t>(r.peek(3));
        r.drop(3);
    }
    if (!acceptable(buildTable(codeLens, kCodeLenSymbols, kCodeLenBits, t.codeLen, kCodeLenEntries, codeLenEntryOf),
                    true))
        return fail(Fault::kBadCodeLengthCode);

    // Literal/length and distance code lengths, run-length coded.
    const int total = nlit + ndist;
    int i = 0;
    while (i < total) {
        r.need(kCodeLenBits);
        std::uint32_t e = t.codeLen[r.peek(kCodeLenBits)];
        if (kindOf(e) == kInvalid)
            return fail(Fault::kBadCodeLengthCode);
        if (lengthOf(e) > r.count)
            return endOfInput(final, Fault::kEndInDynamicHeader);
        r.drop(lengthOf(e));
        int symbol = static_cast<int>(e >> 16);
        if (symbol < kRepeatPrevious) {
            t.lens[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        int extraBits = symbol == kRepeatPrevious ? 2 : symbol == kRepeatZeros ? 3 : 7;
        int base = symbol == kRepeatPrevious ? 3 : symbol == kRepeatZeros ? 3 : 11;
        if (!r.need(static_cast<unsigned>(extraBits)))
            return endOfInput(final, Fault::kEndInDynamicHeader);
        int repeat = base + static_cast<int>(r.peek(static_cast<unsigned>(extraBits)));
        r.drop(static_cast<unsigned>(extraBits));
        if (symbol == kRepeatPrevious && i == 0)
            return fail(Fault::kRepeatOverrun);
        if (i + repeat > total)
            return fail(Fault::kRepeatOverrun);
        std::uint8_t value = symbol == kRepeatPrevious ? t.lens[i - 1] : 0;
        std::memset(t.lens + i, value, static_cast<std::size_t>(repeat));
        i += repeat;
    }
    // Without a code for the end of the block the block could never end.
    if (t.lens[kEndBlockSymbol] == 0)
        return fail(Fault::kNoEndOfBlockCode);
    if (!acceptable(buildTable(t.lens, nlit, kLitBits, t.lit, kLitEntries, litEntryOf), false))
        return fail(Fault::kBadLiteralTable);
    if (!acceptable(buildTable(t.lens + nlit, ndist, kDistBits, t.dist, kDistEntries, distEntryOf), false))
        return fail(Fault::kBadDistanceTable);
    t.litTable = t.lit;
    t.distTable = t.dist;
    m_state = kDynamicData;
    return Run::kContinue;
}

InflateState2::Run InflateState2::storedData(Reader& r, bool final) {
    while (m_storedRemaining > 0) {
        if (!makeRoom())
            return fail(Fault::kOutputRefused);
        std::size_t room = static_cast<std::size_t>(m_window.get() + kHistory + kFlushArea - m_out);
        // Whole bytes already in the bit buffer come first.
        while (r.count >= 8 && m_storedRemaining > 0 && room > 0) {
            *m_out++ = static_cast<unsigned char>(r.buf);
            r.drop(8);
            --m_storedRemaining;
            --room;
        }
        if (r.count == 0 && m_storedRemaining > 0 && room > 0) {
            std::size_t n = static_cast<std::size_t>(r.end - r.in);
            if (n > m_storedRemaining)
                n = m_storedRemaining;
            if (n > room)
                n = room;
            std::memcpy(m_out, r.in, n);
            r.in += n;
            r.buf = 0; // the bits it held belonged to the bytes just copied
            m_out += n;
            m_storedRemaining -= static_cast<std::uint32_t>(n);
            if (m_storedRemaining > 0 && r.in == r.end)
                return endOfInput(final, Fault::kEndInStoredData);
        }
    }
    m_state = kNeedBlock;
    return Run::kContinue;
}

InflateState2::Run InflateState2::blockData(Reader& r, bool final) {
    // The two refills of a round read at most 15 bytes past its start.
    constexpr std::size_t kFastInput = 16;
    const std::uint32_t* lit = m_tables->litTable;
    const std::uint32_t* dist = m_tables->distTable;
    const std::uint32_t litMask = (1u << kLitBits) - 1;
    const std::uint32_t distMask = (1u << kDistBits) - 1;
    unsigned char* const areaEnd = m_window.get() + kHistory + kFlushArea;

    for (;;) {
        if (!makeRoom())
            return fail(Fault::kOutputRefused);
        unsigned char* out = m_out;

        // Fast loop: enough input for any symbol, room for any match. The
        // reader lives in locals here: byte stores through `out` could
        // otherwise alias it and force reloads.
        const unsigned char* in = r.in;
        const unsigned char* const inFastEnd = r.end - kFastInput;
        std::uint64_t buf = r.buf;
        unsigned count = r.count;
        const unsigned char* const validStart = m_validStart;
        Fault fault = Fault::kNone;
        auto drop = [&buf, &count](unsigned n) {
            buf >>= n;
            count -= n;
        };
        auto bitsOf = [&buf](unsigned n) { return static_cast<std::uint32_t>(buf & ((std::uint64_t{1} << n) - 1)); };
        auto extraBits = [](std::uint64_t held, std::uint32_t e) {
            return static_cast<std::uint32_t>(held >> codeBitsOf(e)) & ((1u << extraOf(e)) - 1);
        };
        auto refill = [&in, &buf, &count]() {
            buf |= platform::LoadLe64(in) << count;
            in += (63 - count) >> 3;
            count |= 56;
        };
        auto emit = [&out, &drop](std::uint32_t e) {
            drop(lengthOf(e));
            *out++ = static_cast<unsigned char>(e >> 16);
        };
        // Each round starts with the entry of its first symbol looked up,
        // and its refill brings at least 56 bits. A refill only adds bits
        // above those held, so a lookup made before it stays good and the
        // two overlap: every lookup is made as soon as its bits are there.
        // A literal takes at most 15 bits, a length 20, a distance 28; a
        // match refills again between the two. The lookup for the next
        // round is made before a match is copied, so that they overlap too.
        std::uint32_t e = 0;
        if (in <= inFastEnd && out < areaEnd) {
            refill();
            e = lit[buf & litMask];
        }
        while (in <= inFastEnd && out < areaEnd) {
            refill();
            if (isLiteral(e)) {
                // Up to three literals a round (3 x 15 bits), which leaves
                // the bits of the next lookup.
                emit(e);
                e = lit[buf & litMask];
                if (isLiteral(e)) {
                    emit(e);
                    e = lit[buf & litMask];
                    if (isLiteral(e)) {
                        emit(e);
                        e = lit[buf & litMask];
                    }
                }
                continue;
            }
            if (isKind(e, kSubTable)) {
                drop(kLitBits);
                e = lit[(e >> 16) + bitsOf(extraOf(e))];
                if (isLiteral(e)) {
                    emit(e);
                    e = lit[buf & litMask];
                    continue;
                }
            }
            // A base's code and extra bits leave together; the extra bits
            // are read from what the buffer held, off the lookups' path.
            std::uint64_t held = buf;
            drop(lengthOf(e));
            if (!isKind(e, kBase)) {
                if (isKind(e, kEndOfBlock)) {
                    m_state = kNeedBlock;
                    break;
                }
                fault = Fault::kInvalidLiteral;
                break;
            }
            const unsigned length = (e >> 16) + extraBits(held, e);
            e = dist[buf & distMask];
            refill();
            if (isKind(e, kSubTable)) {
                drop(kDistBits);
                e = dist[(e >> 16) + bitsOf(extraOf(e))];
            }
            held = buf;
            drop(lengthOf(e));
            if (!isKind(e, kBase)) {
                fault = Fault::kInvalidDistance;
                break;
            }
            const std::size_t d = (e >> 16) + extraBits(held, e);
            if (d > static_cast<std::size_t>(out - validStart)) {
                fault = Fault::kTooFarBack;
                break;
            }
            e = lit[buf & litMask];
            const unsigned char* src = out - d;
            unsigned char* stop = out + length;
            // The copies may run a little past the match (kCopyOvershoot
            // bytes at the most), into room the window keeps for it.
            if (d >= 2 * kWord) {
                // Two blocks cover most matches without a branch.
                std::memcpy(out, src, 2 * kWord);
                std::memcpy(out + 2 * kWord, src + 2 * kWord, 2 * kWord);
                out += 4 * kWord;
                src += 4 * kWord;
                while (out < stop) {
                    std::memcpy(out, src, 2 * kWord);
                    out += 2 * kWord;
                    src += 2 * kWord;
                }
            } else if (d >= kWord) {
                std::memcpy(out, src, kWord);
                std::memcpy(out + kWord, src + kWord, kWord);
                out += 2 * kWord;
                src += 2 * kWord;
                while (out < stop) {
                    std::memcpy(out, src, kWord);
                    out += kWord;
                    src += kWord;
                }
            } else if (d == 1) {
                const std::uint64_t run = 0x0101010101010101ull * *src;
                do {
                    std::memcpy(out, &run, kWord);
                    out += kWord;
                } while (out < stop);
            } else {
                // Each word stored is right in its first d bytes, and the
                // next one starts there.
                do {
                    platform::StoreLe64(out, platform::LoadLe64(src));
                    out += d;
                    src += d;
                } while (out < stop);
            }
            out = stop;
        }
        r.in = in;
        r.buf = buf;
        r.count = count;
        m_out = out;
        if (fault != Fault::kNone)
            return fail(fault);
        if (m_state == kNeedBlock)
            return Run::kContinue;
        if (out >= areaEnd)
            continue;

        // Near the end of the input: one symbol at a time, checked, and
        // taken back whole when the input runs out inside it.
        const Reader start = r;
        auto lookup = [&r](const std::uint32_t* table, unsigned bits, std::uint32_t& e) {
            r.need(bits);
            e = table[r.peek(bits)];
            if (kindOf(e) == kSubTable) {
                if (r.count < bits)
                    return false;
                r.drop(bits);
                r.need(extraOf(e));
                e = table[(e >> 16) + r.peek(extraOf(e))];
            }
            if (codeBitsOf(e) > r.count)
                return false;
            r.drop(codeBitsOf(e));
            return true;
        };
        if (!lookup(lit, kLitBits, e)) {
            r = start;
            return endOfInput(final, Fault::kEndInData);
        }
        Kind kind = kindOf(e);
        if (kind == kLiteral) {
            *m_out++ = static_cast<unsigned char>(e >> 16);
            continue;
        }
        if (kind == kEndOfBlock) {
            m_state = kNeedBlock;
            return Run::kContinue;
        }
        if (kind != kBase)
            return fail(Fault::kInvalidLiteral);
        unsigned length = e >> 16;
        if (!r.need(extraOf(e))) {
            r = start;
            return endOfInput(final, Fault::kEndInData);
        }
        length += r.peek(extraOf(e));
        r.drop(extraOf(e));
        if (!lookup(dist, kDistBits, e)) {
            r = start;
            return endOfInput(final, Fault::kEndInData);
        }
        if (kindOf(e) != kBase)
            return fail(Fault::kInvalidDistance);
        std::size_t d = e >> 16;
        if (!r.need(extraOf(e))) {
            r = start;
            return endOfInput(final, Fault::kEndInData);
        }
        d += r.peek(extraOf(e));
        r.drop(extraOf(e));
        if (d > static_cast<std::size_t>(m_out - m_validStart))
            return fail(Fault::kTooFarBack);
        const unsigned char* src = m_out - d;
        for (unsigned k = 0; k < length; ++k)
            *m_out++ = *src++;
    }
}

// ---------------------------------------------------------------- codes and logs

int InflateState2::codeFor(Fault fault) const {
    const bool chunk = m_driver == Driver::kChunk;
    const bool fixed = m_faultState == kFixedData;
    const bool stored = m_faultState == kStoredData;
    switch (fault) {
    case Fault::kNone: return chunk ? inflate_code::kChunkDone : inflate_code::kSourceSuccess;
    case Fault::kEndInBlockType: return 1;
    case Fault::kBadBlockType: return 3;
    case Fault::kEndInStoredHeader: return 4;
    case Fault::kStoredLengthMismatch: return chunk ? 6 : 5;
    case Fault::kEndInDynamicHeader: return chunk ? 8 : 7;
    case Fault::kBadCodeLengthCode: return chunk ? 13 : 12;
    case Fault::kRepeatOverrun: return chunk ? 17 : 15;
    case Fault::kTooManySymbols:
    case Fault::kBadLiteralTable:
    case Fault::kNoEndOfBlockCode:
    case Fault::kBadDistanceTable: return chunk ? 22 : 20;
    case Fault::kEndInStoredData: return chunk ? 23 : 21;
    case Fault::kOutputRefused:
        if (m_faultState == kNeedBlock)
            return chunk ? 52 : 47;
        return stored ? (chunk ? 24 : 22) : fixed ? (chunk ? 26 : 24) : (chunk ? 30 : 36);
    case Fault::kEndInData: return fixed ? (chunk ? 25 : 23) : (chunk ? 41 : 35);
    case Fault::kInvalidLiteral: return fixed ? (chunk ? 27 : 25) : (chunk ? 40 : 37);
    case Fault::kInvalidDistance: return fixed ? (chunk ? 32 : 30) : (chunk ? 43 : 42);
    case Fault::kTooFarBack: return inflate_code::kTooFarBack;
    case Fault::kAborted: return inflate_code::kAborted;
    case Fault::kNoMemory: return chunk ? 50 : 46;
    }
    return 0;
}

const char* InflateState2::reasonFor(Fault fault) {
    switch (fault) {
    case Fault::kBadBlockType: return "invalid block type";
    case Fault::kStoredLengthMismatch: return "invalid stored block lengths";
    case Fault::kTooManySymbols: return "too many length or distance symbols";
    case Fault::kBadCodeLengthCode: return "invalid code lengths set";
    case Fault::kRepeatOverrun: return "invalid bit length repeat";
    case Fault::kBadLiteralTable: return "invalid literal/lengths set";
    case Fault::kNoEndOfBlockCode: return "invalid code -- missing end-of-block";
    case Fault::kBadDistanceTable: return "invalid distances set";
    case Fault::kInvalidLiteral: return "invalid literal/length code";
    case Fault::kInvalidDistance: return "invalid distance code";
    case Fault::kTooFarBack: return "invalid distance too far back";
    default: return nullptr;
    }
}

void InflateState2::logState(LogBase* log) const {
    if (!m_verbose || log == nullptr)
        return;
    if (m_driver == Driver::kBuffer) {
        log->logDataLong("m_state", m_state);
        return;
    }
    switch (m_state) {
    case kNeedBlock: log->logInfo("State: -1, Need block type."); break;
    case kStoredData: log->logInfo("State: 10, need stored data"); break;
    case kFixedData: log->logInfo("State: 11, need fixed data"); break;
    case kDynamicData: log->logInfo("State: 12, need dynamic data"); break;
    default: log->logInfo("State: unknown."); break;
    }
}

// ---------------------------------------------------------------- buffer driver

bool InflateState2::inflateDataB(const unsigned char* data, std::uint32_t size, LogBase& log, bool verbose,
                                 std::uint32_t* consumed) {
    m_driver = Driver::kBuffer;
    m_verbose = verbose;
    m_log = &log;
    if (verbose)
        log.enterContext("inflateDataB", true);
    bool ok = false;
    if (data == nullptr || size == 0) {
        if (verbose)
            log.logInfo(stream_msg::kNoDataToInflate);
    } else if (!allocate()) {
        log.logError(stream_msg::kInflateNoMemory);
    } else {
        beginStream();
        std::uint64_t used = 0;
        Run run = decode(data, size, 0, true, used);
        if (run == Run::kFinished)
            ok = flushWindow();
        else
            flushWindow(); // what was decoded before the fault is kept
        if (ok && consumed)
            *consumed = static_cast<std::uint32_t>((used + 7) / 8);
        int code = ok ? 0 : codeFor(m_fault == Fault::kNone ? Fault::kOutputRefused : m_fault);
        if (code == 1 || code == 2) {
            log.logData("return", code == 1 ? "return_1" : "return_2");
        } else if (code == 3) {
            log.logInfo("inflateBuffer_blockType");
            log.logData("return", "return_3");
        }
    }
    if (verbose)
        log.leaveContext();
    m_log = nullptr;
    return ok;
}

// ---------------------------------------------------------------- source driver

bool InflateState2::inflator(DataSource* source, std::uint32_t* bytesLeftOver, LogBase& log, bool verbose) {
    constexpr std::uint32_t kMargin = 4000;
    if (bytesLeftOver)
        *bytesLeftOver = 0;
    m_driver = Driver::kSource;
    m_verbose = verbose;
    m_log = &log;
    if (verbose)
        log.enterContext("inflator", true);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kSourceChunk + kMargin]);
    int code = 0;
    bool ok = false;
    if (!buffer || !allocate() || source == nullptr) {
        log.logError(stream_msg::kInflateSourceInternal);
    } else {
        beginStream();
        if (verbose)
            log.logInfo("inflateDataC");
        std::uint32_t fill = 0;
        std::uint32_t start = 0; // first byte not yet used
        unsigned bitOffset = 0;
        bool sourceEnded = false;
        Run run = Run::kNeedInput;
        while (run == Run::kNeedInput) {
            // Move what is unused to the front and read behind it; only a
            // failed read, a read of nothing or the source's own end ends it.
            if (!sourceEnded) {
                std::uint32_t tail = fill - start;
                std::memmove(buffer.get(), buffer.get() + start, tail);
                fill = tail;
                start = 0;
                if (verbose)
                    log.logInfo("Refilling source buffer...");
                std::uint32_t got = 0;
                bool read = source->readChunk(buffer.get() + fill, kSourceChunk - fill, &got, &log);
                fill += got;
                if (!read || got == 0 || source->endOfStream())
                    sourceEnded = true;
            }
            std::uint64_t used = 0;
            run = decode(buffer.get() + start, fill - start, bitOffset, sourceEnded, used);
            start += static_cast<std::uint32_t>(used / 8);
            bitOffset = static_cast<unsigned>(used % 8);
            if (run == Run::kNeedInput && sourceEnded)
                run = fail(Fault::kEndInData);
        }
        if (run == Run::kFinished) {
            std::uint32_t consumed = start + (bitOffset ? 1 : 0);
            if (!flushWindow()) {
                m_faultState = kNeedBlock;
                run = fail(m_fault == Fault::kAborted ? Fault::kAborted : Fault::kOutputRefused);
            } else if (bytesLeftOver) {
                *bytesLeftOver = fill - consumed;
            }
        } else {
            flushWindow();
        }
        ok = run == Run::kFinished;
        code = codeFor(ok ? Fault::kNone : m_fault);
        if (verbose) {
            log.logDataLong("returnedFromLoc", code);
            log.logDataLong("nSrcBuf", static_cast<int>(fill));
            log.logDataLong("numConsumed", static_cast<int>(start));
        }
        if (!ok) {
            log.logError(stream_msg::kInflateSourceFailed);
            log.logDataLong("InflateErrorCode", code);
            if (code == inflate_code::kAborted)
                log.logError(stream_msg::kInflateAbortedByCallback);
        }
    }
    if (verbose)
        log.leaveContext();
    m_log = nullptr;
    return ok;
}

// ---------------------------------------------------------------- chunk driver

bool InflateState2::reset(int) {
    m_queue.reset();
    m_sink = nullptr;
    beginStream();
    return true;
}

int InflateState2::inflateChunk(const unsigned char* data, std::uint32_t size, bool final, Output& out, bool& finished,
                                LogBase& log, int& code, std::uint32_t lookahead) {
    finished = false;
    m_driver = Driver::kChunk;
    m_verbose = false;
    m_output = &out;
    m_log = &log;
    struct Done {
        InflateState2* self;
        ~Done() { self->m_log = nullptr; }
    } done{this};

    if ((data == nullptr || size == 0) && !final) {
        code = inflate_code::kChunkNoData;
        return 1;
    }
    if (!allocate()) {
        code = codeFor(Fault::kNoMemory);
        return 0;
    }
    if (data && size && !m_queue.append(data, size)) {
        log.logError(stream_msg::kInflateNoMemory);
        code = codeFor(Fault::kNoMemory);
        return 0;
    }
    if (m_state == kNeedBlock && m_lastBlock) {
        finished = true;
        code = inflate_code::kChunkDone;
        return 1;
    }
    if (!final && lookahead && !m_queue.hasBytes(lookahead)) {
        code = inflate_code::kChunkBelowLookahead;
        return 1;
    }
    if (m_queue.bytesQueued() == 0 && m_state == kNeedBlock) {
        code = inflate_code::kChunkEmpty;
        return 1;
    }

    std::uint64_t used = 0;
    Run run = decode(m_queue.front(), m_queue.bytesQueued(), m_queue.bitOffset(), final, used);
    m_queue.consumeBits(used - m_queue.bitOffset());
    if (run == Run::kFailed) {
        flushWindow();
        code = codeFor(m_fault);
        return 0;
    }
    if (!flushWindow()) {
        m_faultState = kNeedBlock;
        fail(Fault::kOutputRefused);
        code = codeFor(Fault::kOutputRefused);
        return 0;
    }
    if (run == Run::kFinished) {
        finished = true;
        code = inflate_code::kChunkDone;
    } else if (m_state == kNeedBlock) {
        code = lookahead ? inflate_code::kChunkBelowLookahead : inflate_code::kChunkBetweenBlocks;
    } else {
        code = inflate_code::kChunkMidBlock;
    }
    return 1;
}

std::uint32_t InflateState2::bytesAfterStream(const unsigned char** at) const {
    const std::uint32_t partial = m_queue.bitOffset() != 0 ? 1 : 0;
    const std::uint32_t queued = m_queue.bytesQueued();
    *at = m_queue.front() + partial;
    return queued > partial ? queued - partial : 0;
}

int InflateState2::inflateDataBuffer(const DataBuffer& in, bool final, Output& out, bool& finished, LogBase& log,
                                     int& code) {
    return inflateChunk(in.getData(), in.getSize(), final, out, finished, log, code, kBufferLookahead);
}

} // namespace tessik
