// The inflater judged against zlib: streams zlib makes with every level,
// strategy and flush mode decode through all three drivers, however the
// input arrives; cut, corrupt and crafted streams fail cleanly, as zlib's
// own verdict on the same bytes says they should.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <random>

#include "netlib/streams/InflateState2.h"
#include "netlib/streams/StreamConstants.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/netlib/streams/Bzip2TestSupport.h"
#include "tests/netlib/streams/ZlibPeer.h"

using namespace tessik;
using zpeer::Bytes;

namespace {

// Collects what reaches it and remembers the largest single write.
class CollectingSink : public NullDataSink {
public:
    bool writeBytes(const void* data, std::uint32_t length, LogBase* log) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + length);
        largestWrite = std::max(largestWrite, length);
        return NullDataSink::writeBytes(data, length, log);
    }
    Bytes bytes;
    std::uint32_t largestWrite = 0;
};

class CollectingOutput : public Output {
public:
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor*,
                             LogBase&) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + static_cast<std::size_t>(size) * count);
        return count;
    }
    Bytes bytes;
};

// A source that hands out at most `piece` bytes a read, as a socket does.
class TricklingSource : public MemoryDataSource {
public:
    TricklingSource(const Bytes& data, std::uint32_t piece) : m_piece(piece) {
        setData(data.data(), data.size(), false);
    }
    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override {
        return MemoryDataSource::readChunk(buffer, std::min(size, m_piece), bytesRead, log);
    }

private:
    std::uint32_t m_piece;
};

struct Decoded {
    bool ok;
    Bytes bytes;
    int code = 0;
    std::uint32_t leftOver = 0;
    std::uint32_t largestWrite = 0;
};

Decoded viaBuffer(const Bytes& z, RecordingLog* logged = nullptr) {
    CollectingSink sink;
    InflateState2 inflater;
    inflater.setSink(&sink);
    RecordingLog log;
    bool ok = inflater.inflateDataB(z.data(), static_cast<std::uint32_t>(z.size()), log, false);
    if (logged)
        *logged = log;
    return {ok, sink.bytes};
}

Decoded viaSource(const Bytes& z, std::uint32_t piece = UINT32_MAX) {
    TricklingSource source(z, piece);
    CollectingSink sink;
    InflateState2 inflater;
    inflater.setSink(&sink);
    RecordingLog log;
    std::uint32_t leftOver = 0;
    bool ok = inflater.inflator(&source, &leftOver, log, false);
    Decoded d{ok, sink.bytes, 0, leftOver, sink.largestWrite};
    for (const std::string& line : log.lines)
        if (line.rfind("L:InflateErrorCode=", 0) == 0)
            d.code = std::stoi(line.substr(19));
    return d;
}

// Chunks of the given sizes (cycled), the last one marked final when asked.
Decoded viaChunks(const Bytes& z, const std::vector<std::size_t>& sizes, bool markFinal, bool* finished = nullptr) {
    InflateState2 inflater;
    inflater.reset(InflateState2::kWindowSize);
    CollectingOutput out;
    LogNull log;
    bool done = false;
    int code = 0;
    int result = 1;
    std::size_t at = 0, k = 0;
    do {
        std::size_t n = std::min(sizes[k++ % sizes.size()], z.size() - at);
        bool last = at + n == z.size();
        result = inflater.inflateChunk(z.data() + at, static_cast<std::uint32_t>(n), markFinal && last, out, done, log,
                                       code, 0);
        at += n;
    } while (result == 1 && at < z.size());
    if (finished)
        *finished = done;
    return {result == 1, out.bytes, code};
}

const std::vector<bz2test::CorpusFile>& files() {
    return bz2test::corpus();
}

TEST(Inflate, ZlibStreamsOfEveryLevelAndStrategyDecodeThroughAllThreeDrivers) {
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    std::mt19937 rng(7);
    for (const auto& f : files()) {
        for (int level : {0, 1, 6, 9}) {
            for (int strategy : strategies) {
                SCOPED_TRACE(f.name + " level " + std::to_string(level) + " strategy " + std::to_string(strategy));
                Bytes z = zpeer::deflate(f.data, level, strategy, false);
                Decoded b = viaBuffer(z);
                EXPECT_TRUE(b.ok);
                EXPECT_TRUE(b.bytes == f.data);
                Decoded s = viaSource(z, 1 + rng() % 5000);
                EXPECT_TRUE(s.ok);
                EXPECT_TRUE(s.bytes == f.data);
                bool finished = false;
                Decoded c = viaChunks(z, {1 + rng() % 3000, 1 + rng() % 7, 1 + rng() % 70000}, false, &finished);
                EXPECT_TRUE(c.ok && finished);
                EXPECT_EQ(c.code, inflate_code::kChunkDone);
                EXPECT_TRUE(c.bytes == f.data);
            }
        }
    }
}

TEST(Inflate, RepeatsAtEveryShortDistanceAndOfEveryLengthDecode) {
    // For each period, runs of it from 3 bytes to past the longest match,
    // each behind fresh noise: zlib codes them as matches at that distance.
    std::mt19937 rng(11);
    Bytes data;
    for (std::size_t period = 1; period <= 40; ++period) {
        for (std::size_t run : {3u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 100u, 258u, 600u}) {
            Bytes unit(period);
            for (auto& b : unit)
                b = static_cast<std::uint8_t>(rng());
            for (std::size_t k = 0; k < period + run; ++k)
                data.push_back(unit[k % period]);
            for (int k = 0; k < 5; ++k)
                data.push_back(static_cast<std::uint8_t>(rng()));
        }
    }
    for (int level : {1, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        Decoded b = viaBuffer(zpeer::deflate(data, level, Z_DEFAULT_STRATEGY, false));
        EXPECT_TRUE(b.ok);
        EXPECT_TRUE(b.bytes == data);
    }
}

TEST(Inflate, EveryFlushModeDecodesAndOneByteAtATimeToo) {
    const Bytes& text = files()[1].data;
    const int flushes[] = {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK};
    for (int flush : flushes) {
        std::vector<zpeer::Piece> pieces;
        for (std::size_t at = 0; at + 9000 < text.size(); at += 9000)
            pieces.push_back({9000, flush});
        Bytes z = zpeer::deflate(text, 6, Z_DEFAULT_STRATEGY, false, pieces);
        SCOPED_TRACE("flush " + std::to_string(flush));
        EXPECT_TRUE(viaBuffer(z).bytes == text);
        bool finished = false;
        Decoded one = viaChunks(z, {1}, true, &finished);
        EXPECT_TRUE(one.ok && finished);
        EXPECT_TRUE(one.bytes == text);
    }
}

TEST(Inflate, ShortReadsAreNotTheEndAndBytesAfterTheFinalBlockAreLeftOver) {
    const Bytes& data = files()[3].data;
    Bytes z = zpeer::deflate(data, 9, Z_DEFAULT_STRATEGY, false);
    z.insert(z.end(), {'t', 'a', 'i', 'l'});
    for (std::uint32_t piece : {1u, 7u, 4096u, UINT32_MAX}) {
        Decoded d = viaSource(z, piece);
        EXPECT_TRUE(d.ok && d.bytes == data) << piece;
        EXPECT_EQ(d.leftOver, piece == UINT32_MAX ? 4u : d.leftOver) << piece;
    }
}

TEST(Inflate, LongOutputLeavesInWindowSizedPiecesAndLargeSourcesRefill) {
    // Over 4,000,000 bytes of fixed-Huffman input: the source driver refills
    // inside a block; no write to the sink exceeds 32 KiB.
    Bytes noise(4400000);
    std::mt19937 rng(3);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng() & 0x3F);
    Bytes z = zpeer::deflate(noise, 6, Z_FIXED, false);
    ASSERT_GT(z.size(), 4000000u);
    Decoded d = viaSource(z);
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.bytes == noise);
    EXPECT_LE(d.largestWrite, static_cast<std::uint32_t>(InflateState2::kWindowSize));
    EXPECT_EQ(d.leftOver, 0u);
}

// Truncated and corrupted streams: every driver refuses what zlib refuses.
TEST(Inflate, CutOrCorruptStreamsFailInEveryDriver) {
    const Bytes& data = files()[3].data;
    Bytes whole = zpeer::deflate(data, 6, Z_DEFAULT_STRATEGY, false);
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        Bytes z = whole;
        std::string what;
        if (round % 2 == 0) {
            z.resize(1 + rng() % (whole.size() - 1));
            what = "cut at " + std::to_string(z.size());
        } else {
            std::size_t at = rng() % z.size();
            z[at] ^= static_cast<std::uint8_t>(1 + rng() % 255);
            what = "byte " + std::to_string(at) + " changed";
        }
        const zpeer::Verdict zlib = zpeer::judge(z);
        const bool zlibOk = zlib.complete;
        const Bytes& judged = zlib.out;
        SCOPED_TRACE(what + (zlibOk ? ", zlib accepts" : ", zlib refuses: " + zlib.refusal));
        Decoded b = viaBuffer(z), s = viaSource(z, 999);
        bool finished = false;
        Decoded c = viaChunks(z, {777}, true, &finished);
        // The three drivers agree; what zlib accepts, they decode alike; what
        // it refuses, they refuse; a cut stream nobody accepts.
        EXPECT_EQ(s.ok, b.ok);
        EXPECT_EQ(c.ok && finished, b.ok);
        EXPECT_TRUE(s.bytes == b.bytes && c.bytes == b.bytes);
        if (zlibOk) {
            EXPECT_TRUE(b.ok);
            EXPECT_TRUE(b.bytes == judged);
        }
        if (!zlib.refusal.empty()) {
            EXPECT_FALSE(b.ok);
        }
        if (round % 2 == 0) {
            EXPECT_FALSE(b.ok);
        }
    }
}

// Deflate bits, least significant first, for hand-made blocks.
class DeflateBits {
public:
    void put(std::uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i, ++m_bits) {
            if (m_bits % 8 == 0)
                m_out.push_back(0);
            m_out.back() |= static_cast<std::uint8_t>(((value >> i) & 1) << (m_bits % 8));
        }
    }
    // A Huffman code, most significant bit first.
    void code(std::uint32_t code, int bits) {
        for (int i = bits - 1; i >= 0; --i)
            put((code >> i) & 1, 1);
    }
    const Bytes& bytes() const { return m_out; }

private:
    Bytes m_out;
    int m_bits = 0;
};

// A final dynamic block: `nlit` literal/length and `ndist` distance code
// lengths, all of them 8 bits... except that symbols past 256 take 9 bits
// and the tail of both lists may be left at 0 so the codes stay complete.
// Lengths are sent plainly (code-length symbols 0-15 with a flat 5-bit code).
struct DynamicBlock {
    std::vector<int> litLens;
    std::vector<int> distLens;
};

void writeHeader(DeflateBits& w, const DynamicBlock& b) {
    w.put(1, 1); // final
    w.put(2, 2); // dynamic
    w.put(static_cast<std::uint32_t>(b.litLens.size() - 257), 5);
    w.put(static_cast<std::uint32_t>(b.distLens.size() - 1), 5);
    w.put(19 - 4, 4);
    // Code-length code: symbols 0-15 get 4 bits, 16-18 none: complete.
    const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (int sym : order)
        w.put(sym < 16 ? 4 : 0, 3);
    for (int len : b.litLens)
        w.code(static_cast<std::uint32_t>(len), 4);
    for (int len : b.distLens)
        w.code(static_cast<std::uint32_t>(len), 4);
}

// Canonical codes for a list of lengths.
std::vector<std::uint32_t> canonical(const std::vector<int>& lens) {
    int count[16] = {}, next[16] = {};
    for (int l : lens)
        if (l)
            ++count[l];
    int code = 0;
    for (int l = 1; l < 16; ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    std::vector<std::uint32_t> codes(lens.size());
    for (std::size_t s = 0; s < lens.size(); ++s)
        if (lens[s])
            codes[s] = static_cast<std::uint32_t>(next[lens[s]]++);
    return codes;
}

// 286 literal/length codes (226 of 8 bits, 60 of 9: complete) and 30
// distance codes (2 of 4 bits, 28 of 5): the widest header zlib takes.
DynamicBlock widestBlock() {
    DynamicBlock b{std::vector<int>(286, 8), std::vector<int>(30, 5)};
    for (int s = 226; s < 286; ++s)
        b.litLens[s] = 9;
    b.distLens[0] = b.distLens[1] = 4;
    return b;
}

TEST(Inflate, TheWidestHeaderZlibTakesDecodesThroughAllThreeDrivers) {
    DynamicBlock b = widestBlock();
    auto lit = canonical(b.litLens), dist = canonical(b.distLens);
    DeflateBits w;
    writeHeader(w, b);
    auto send = [&](int symbol) { w.code(lit[symbol], b.litLens[symbol]); };
    send('a');
    send('b');
    send(257);                      // length 3
    w.code(dist[1], b.distLens[1]); // distance 2
    send(285);                      // length 258
    w.code(dist[1], b.distLens[1]); // distance 2
    send(256);
    const Bytes z = w.bytes();
    const zpeer::Verdict zlib = zpeer::judge(z);
    ASSERT_TRUE(zlib.complete) << zlib.refusal;
    ASSERT_EQ(zlib.out.size(), 2u + 3u + 258u);
    Decoded s = viaSource(z);
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(s.bytes, zlib.out);
    Decoded ch = viaChunks(z, {3}, true);
    EXPECT_TRUE(ch.ok);
    EXPECT_EQ(ch.code, inflate_code::kChunkDone);
    EXPECT_EQ(ch.bytes, zlib.out);
    EXPECT_EQ(viaBuffer(z).bytes, zlib.out);
}

// Streams zlib refuses, judged on the same bytes by zlib in this process:
// they are refused too, with zlib's words in the log; those it takes are
// decoded to its bytes. An incomplete distance code, a code-length code of
// one 1-bit code and headers wider than 286 and 30 codes were taken.
TEST(Inflate, RefusesWhatZlibRefusesWithZlibsReason) {
    struct Case {
        const char* what;
        Bytes stream;
    };
    std::vector<Case> cases;
    cases.push_back({"incomplete distance code, fuzzed",
                     {0x05, 0xc1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x40, 0xa0, 0xad, 0xf8, 0xff, 0x41, 0xd8}});
    auto block = [](std::vector<int> litLens, std::vector<int> distLens, const std::vector<int>& symbols) {
        DynamicBlock b{std::move(litLens), std::move(distLens)};
        DeflateBits w;
        writeHeader(w, b);
        auto lit = canonical(b.litLens);
        for (int s : symbols)
            w.code(lit[static_cast<std::size_t>(s)], b.litLens[static_cast<std::size_t>(s)]);
        return w.bytes();
    };
    // 'a', 'b', the end of the block and length 3, of 2 bits each.
    std::vector<int> lits(258, 0);
    lits['a'] = lits['b'] = lits[256] = lits[257] = 2;
    cases.push_back({"one distance code of 2 bits", block(lits, {2}, {'a', 'b', 256})});
    cases.push_back({"distance codes of 1 and 2 bits", block(lits, {1, 2}, {'a', 'b', 256})});
    cases.push_back({"one distance code of 1 bit", block(lits, {1}, {'a', 'b', 256})});
    cases.push_back({"no distance code at all", block(lits, {0}, {'a', 'b', 256})});
    cases.push_back({"distance codes of 1 and 2 bits, unused", block(lits, {1, 2, 0}, {'b', 'b', 256})});
    {
        std::vector<int> wide(287, 0);
        wide['a'] = wide[256] = 1;
        cases.push_back({"287 literal/length codes", block(wide, {1}, {'a', 256})});
        wide.push_back(0);
        cases.push_back({"288 literal/length codes", block(wide, {1}, {'a', 256})});
        wide.resize(286);
        cases.push_back({"286 literal/length codes", block(wide, {1}, {'a', 256})});
        cases.push_back({"31 distance codes", block(wide, std::vector<int>(31, 5), {'a', 256})});
        cases.push_back({"32 distance codes", block(wide, std::vector<int>(32, 5), {'a', 256})});
        cases.push_back({"30 distance codes", block(wide, std::vector<int>(30, 5), {'a', 256})});
    }
    {
        std::vector<int> incomplete(257, 0);
        incomplete['a'] = 2;
        incomplete[256] = 2;
        cases.push_back({"incomplete literal/length code", block(incomplete, {1}, {'a', 256})});
        incomplete[256] = 0;
        incomplete['b'] = 1;
        cases.push_back({"no end-of-block code", block(incomplete, {1}, {'a'})});
    }
    {
        // The code-length code: symbol 0 alone, 1 bit; then zero lengths.
        DeflateBits w;
        w.put(1, 1), w.put(2, 2), w.put(0, 5), w.put(0, 5), w.put(0, 4);
        w.put(0, 3), w.put(0, 3), w.put(0, 3), w.put(1, 3); // 16, 17, 18, 0
        for (int i = 0; i < 300; ++i)
            w.put(0, 1);
        cases.push_back({"code-length code of one 1-bit code", w.bytes()});
    }
    int refused = 0;
    for (const Case& c : cases) {
        const zpeer::Verdict zlib = zpeer::judge(c.stream);
        SCOPED_TRACE(std::string(c.what) + (zlib.complete ? ", zlib accepts" : ", zlib: " + zlib.refusal));
        ASSERT_TRUE(zlib.complete || !zlib.refusal.empty());
        RecordingLog log;
        Decoded b = viaBuffer(c.stream, &log);
        Decoded s = viaSource(c.stream);
        Decoded ch = viaChunks(c.stream, {2}, true);
        EXPECT_EQ(b.ok, zlib.complete);
        EXPECT_EQ(s.ok, zlib.complete);
        EXPECT_EQ(ch.ok, zlib.complete);
        if (zlib.complete) {
            EXPECT_EQ(b.bytes, zlib.out);
            EXPECT_EQ(s.bytes, zlib.out);
            EXPECT_EQ(ch.bytes, zlib.out);
            continue;
        }
        ++refused;
        EXPECT_TRUE(log.has("E:" + zlib.refusal)) << log.all();
    }
    EXPECT_EQ(refused, 12);
}

TEST(Inflate, CraftedHeadersThatBreakTheRulesAreRefused) {
    struct Case {
        const char* what;
        Bytes stream;
        int sourceCode, chunkCode;
    };
    std::vector<Case> cases;
    {
        // A run of repeated zeros that passes HLIT + HDIST.
        DeflateBits w;
        w.put(1, 1), w.put(2, 2), w.put(0, 5), w.put(0, 5), w.put(19 - 4, 4);
        const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (int sym : order)
            w.put(sym == 18 || sym == 8 || sym == 1 ? 2 : 0, 3); // 3 codes of 2 bits: incomplete...
        cases.push_back({"incomplete code-length code", w.bytes(), 12, 13});
    }
    {
        DeflateBits w;
        w.put(1, 1), w.put(2, 2), w.put(0, 5), w.put(0, 5), w.put(19 - 4, 4);
        const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        // Symbols 18, 8, 1 and 0 of 2 bits: complete.
        for (int sym : order)
            w.put(sym == 18 || sym == 8 || sym == 1 || sym == 0 ? 2 : 0, 3);
        // Canonical order of the 2-bit codes: 0, 1, 8, 18 -> 00, 01, 10, 11.
        w.code(3, 2), w.put(138 - 11, 7); // 138 zeros ...
        w.code(3, 2), w.put(138 - 11, 7); // ... 276 in all, past 257 + 1
        cases.push_back({"repeat run past HLIT + HDIST", w.bytes(), 15, 17});
    }
    {
        // Literal/length code over-subscribed: 288 codes of 8 bits.
        DynamicBlock b{std::vector<int>(288, 8), std::vector<int>(1, 1)};
        DeflateBits w;
        writeHeader(w, b);
        cases.push_back({"over-subscribed literal code", w.bytes(), 20, 22});
    }
    {
        // No code for the end of the block.
        DynamicBlock b{std::vector<int>(257, 9), std::vector<int>(1, 1)};
        b.litLens[256] = 0;
        DeflateBits w;
        writeHeader(w, b);
        cases.push_back({"no end-of-block code", w.bytes(), 20, 22});
    }
    cases.push_back({"block type 3", {0x07, 0x00}, 3, 3});
    cases.push_back({"stored length and its complement disagree", {0x01, 0x05, 0x00, 0xFA, 0xFE}, 5, 6});
    {
        // A fixed block whose first symbol copies from distance 1: before
        // any output, too far back.
        DeflateBits w;
        w.put(1, 1), w.put(1, 2);
        w.code(0x01, 7); // length 3
        w.code(0, 5);    // distance 1
        w.code(0, 7);    // end of block
        cases.push_back(
            {"distance before the first byte", w.bytes(), inflate_code::kTooFarBack, inflate_code::kTooFarBack});
    }
    {
        // One literal, then distance 2: still too far back.
        DeflateBits w;
        w.put(1, 1), w.put(1, 2);
        w.code(0x30 + 'x', 8);
        w.code(0x01, 7), w.code(1, 5);
        w.code(0, 7);
        cases.push_back({"distance 2 after one byte", w.bytes(), inflate_code::kTooFarBack, inflate_code::kTooFarBack});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes judged;
        bool complete = false;
        EXPECT_FALSE(zpeer::inflate(c.stream, &judged, false, &complete) && complete) << "zlib accepts it";
        Decoded s = viaSource(c.stream);
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.code, c.sourceCode);
        Decoded ch = viaChunks(c.stream, {1}, true);
        EXPECT_FALSE(ch.ok);
        EXPECT_EQ(ch.code, c.chunkCode);
        EXPECT_FALSE(viaBuffer(c.stream).ok);
    }
}

TEST(Inflate, SmallEdgeStreams) {
    // An empty stored final block: nothing out, complete.
    Decoded empty = viaBuffer({0x01, 0x00, 0x00, 0xFF, 0xFF});
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.bytes.empty());
    // A distance code of a single 1-bit code is accepted.
    DynamicBlock b{std::vector<int>(257, 0), std::vector<int>{1}};
    b.litLens['a'] = 1;
    b.litLens[256] = 2;
    b.litLens.push_back(2); // 257: length 3
    DeflateBits w;
    writeHeader(w, b);
    auto lit = canonical(b.litLens);
    w.code(lit['a'], 1), w.code(lit[257], 2), w.code(0, 1), w.code(lit[256], 2);
    Decoded one = viaBuffer(w.bytes());
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.bytes, Bytes(4, 'a'));
}

TEST(InflateChunks, EndsBetweenBlocksAndEmptyChunksReportTheirCodes) {
    const Bytes& text = files()[1].data;
    Bytes z = zpeer::deflate(text, 6, Z_DEFAULT_STRATEGY, false, {{text.size() / 2, Z_FULL_FLUSH}});
    // Cut right after the flush marker: a stream that stops between blocks.
    Bytes marker = {0x00, 0x00, 0xFF, 0xFF};
    auto at = std::search(z.begin(), z.end(), marker.begin(), marker.end());
    ASSERT_NE(at, z.end());
    Bytes half(z.begin(), at + 4);
    struct Case {
        std::uint32_t lookahead;
        bool final;
        int result, code;
    } cases[] = {{0, false, 1, inflate_code::kChunkBetweenBlocks}, {4096, true, 0, 1}};
    for (const Case& c : cases) {
        InflateState2 inflater;
        inflater.reset(InflateState2::kWindowSize);
        CollectingOutput out;
        LogNull log;
        bool finished = true;
        int code = 0;
        EXPECT_EQ(inflater.inflateChunk(half.data(), static_cast<std::uint32_t>(half.size()), c.final, out, finished,
                                        log, code, c.lookahead),
                  c.result);
        EXPECT_EQ(code, c.code);
        EXPECT_FALSE(finished);
        EXPECT_TRUE(Bytes(out.bytes.begin(), out.bytes.end()) == Bytes(text.begin(), text.begin() + text.size() / 2));
    }
    InflateState2 inflater;
    inflater.reset(InflateState2::kWindowSize);
    CollectingOutput out;
    LogNull log;
    bool finished = true;
    int code = 0;
    EXPECT_EQ(inflater.inflateChunk(nullptr, 0, true, out, finished, log, code, 0), 1);
    EXPECT_EQ(code, inflate_code::kChunkEmpty);
    EXPECT_FALSE(finished);
    EXPECT_EQ(inflater.inflateChunk(nullptr, 0, false, out, finished, log, code, 0), 1);
    EXPECT_EQ(code, inflate_code::kChunkNoData);
}

TEST(InflateChunks, AStoredBlockCutInAFinalChunkFails) {
    Bytes data(10000, 'q');
    Bytes z = zpeer::deflate(data, 0, Z_DEFAULT_STRATEGY, false);
    z.resize(5000);
    Decoded c = viaChunks(z, {z.size()}, true);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.code, 23);
    Decoded open = viaChunks(z, {z.size()}, false);
    EXPECT_TRUE(open.ok) << "not final: it waits for the rest";
    EXPECT_EQ(open.code, inflate_code::kChunkMidBlock);
}

class AbortingMonitor : public ProgressEvent {
public:
    void AbortCheck(bool* abort) override { *abort = true; }
    void HeartbeatCheck(unsigned int, bool* abort) override { *abort = true; }
};

TEST(Inflate, AbortAfterAWindowWriteStopsTheSourceDriver) {
    Bytes z = zpeer::deflate(files()[5].data, 6, Z_DEFAULT_STRATEGY, false); // 300 KB of 'x'
    AbortingMonitor events;
    ProgressMonitor monitor(&events, 0, [] {
        static DWORD ticks = 0;
        return ticks += 1000;
    });
    monitor.setDefaultHeartbeatMs(1);
    TricklingSource source(z, UINT32_MAX);
    CollectingSink sink;
    sink.setMonitor(&monitor);
    InflateState2 inflater;
    inflater.setSink(&sink);
    RecordingLog log;
    std::uint32_t leftOver = 0;
    EXPECT_FALSE(inflater.inflator(&source, &leftOver, log, false));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kInflateAbortedByCallback)) << log.all();
    EXPECT_TRUE(log.has("L:InflateErrorCode=67812")) << log.all();
    EXPECT_LT(sink.bytes.size(), files()[5].data.size()) << "it stops at a window write, not at the end";
}

} // namespace
