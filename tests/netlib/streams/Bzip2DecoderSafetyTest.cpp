// Hostile streams: every count and index the decoder reads is checked, each
// with the error the format names for it. Streams are built field by field.
#include "Bzip2TestSupport.h"
#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/Bzip2Internal.h"
#include "netlib/streams/TessikBzip2.h"

#include <gtest/gtest.h>

#include <random>

using namespace tessik;

using namespace bz2test;

namespace {

bool peerDecodes(const Bytes& z, const Bytes& expect) {
    int status = 0;
    const Bytes out = bzip2Tool({"-dc"}, z, status);
    return status == 0 && out == expect;
}

TEST(Bzip2HandMade, TheHandMadeStreamIsValid) {
    // Guards the builder: the reference tool and the engine both accept it.
    Bytes z = streamOf(blockForA());
    EXPECT_TRUE(peerDecodes(z, Bytes{'a'}));
    Bytes out;
    EXPECT_EQ(decodeAll(z, &out, 1 << 20), bz2::kStreamEnd);
    EXPECT_EQ(out, Bytes{'a'});
}

TEST(Bzip2HandMade, SelectorCountBeyondTheLimitIsClampedNotOverrun) {
    // The selector count field allows 32767; the format never needs more
    // than 18002. The extra selectors are read and dropped.
    BlockSpec b = blockForA();
    b.nSelectors = 32767;
    b.selectorMtf.assign(32767, 1);
    Bytes out;
    EXPECT_EQ(decodeAll(streamOf(b), &out, 1 << 20), bz2::kStreamEnd);
    EXPECT_EQ(out, Bytes{'a'});
    EXPECT_TRUE(peerDecodes(streamOf(b), Bytes{'a'}));
}

TEST(Bzip2HandMade, FieldErrors) {
    struct Case {
        const char* what;
        void (*edit)(BlockSpec&);
        int expect;
    } cases[] = {
        {"origin pointer past the block size", [](BlockSpec& b) { b.origPtr = 100011; }, bz2::kOrigPtrHigh},
        {"origin pointer past the decoded block", [](BlockSpec& b) { b.origPtr = 1; }, bz2::kOrigPtrPastBlock},
        {"no byte in use", [](BlockSpec& b) { b.used.clear(); }, bz2::kNoBytesUsed},
        {"one table", [](BlockSpec& b) { b.nGroups = 1; }, bz2::kGroupCount},
        {"seven tables", [](BlockSpec& b) { b.nGroups = 7; }, bz2::kGroupCount},
        {"no selectors", [](BlockSpec& b) { b.nSelectors = 0; }, bz2::kNoSelectors},
        {"selector beyond the tables", [](BlockSpec& b) { b.selectorMtf = {2}; }, bz2::kSelectorValue},
        {"code length 0", [](BlockSpec& b) { b.rawLengthStart = {0}; }, bz2::kCodeLength},
        {"code length 21", [](BlockSpec& b) { b.rawLengthStart = {21}; }, bz2::kCodeLength},
        {"more symbols than selectors",
         [](BlockSpec& b) {
             b.used = {'a', 'b'};
             b.lengths = {{2, 2, 2, 2}, {2, 2, 2, 2}};
             b.symbols.assign(60, 2);
             b.symbols.push_back(3);
         },
         bz2::kSelectorRange},
        {"oversubscribed code", [](BlockSpec& b) { b.lengths = {{1, 1, 1}, {1, 2, 2}}; }, bz2::kBadCode},
    };
    for (const Case& c : cases) {
        BlockSpec b = blockForA();
        c.edit(b);
        Bytes out;
        EXPECT_EQ(decodeAll(streamOf(b), &out, 1 << 20), c.expect) << c.what;
    }
}

TEST(Bzip2HandMade, UnusedCodeOfAnIncompleteTableIsInvalid) {
    // Lengths {2,2,2}: code 11 is no symbol. The stream ends in it.
    BlockSpec b = blockForA();
    b.lengths = {{2, 2, 2}, {2, 2, 2}};
    BitWriter w;
    writeHeader(w, 1);
    b.symbols = {0};
    writeBlock(w, b);
    for (int i = 0; i < 16; i++)
        w.put(2, 3);
    Bytes out;
    EXPECT_EQ(decodeAll(w.finish(), &out, 1 << 20), bz2::kBadCode);
}

TEST(Bzip2HandMade, RunsAndSymbolsPastTheBlockSizeAreRefused) {
    // RUNB digits double the run each time: 17 of them pass 100,000.
    BlockSpec run = blockForA();
    run.nSelectors = 1;
    run.symbols.assign(17, 1);
    run.symbols.push_back(2);
    Bytes out;
    EXPECT_EQ(decodeAll(streamOf(run), &out, 1 << 20), bz2::kRunTooLong);

    // 16 RUNB make 131070 - past a 100,000 block once it is flushed, as
    // two runs that each fit but together pass it.
    BlockSpec two = blockForA();
    two.used = {'a', 'b'};
    two.lengths = {{2, 2, 2, 2}, {2, 2, 2, 2}};
    two.symbols.assign(15, 1); // 65534 'a'
    two.symbols.push_back(2);  // 'b'
    two.symbols.insert(two.symbols.end(), 15, 1);
    two.symbols.push_back(3);
    two.nSelectors = 1;
    EXPECT_EQ(decodeAll(streamOf(two), &out, 1 << 20), bz2::kRunPastBlock);

    // 100,001 single symbols into a block of 100,000.
    BlockSpec many = blockForA();
    many.used = {'a', 'b'};
    many.lengths = {{2, 2, 2, 2}, {2, 2, 2, 2}};
    many.symbols.assign(100001, 2);
    many.symbols.push_back(3);
    many.nSelectors = 2002;
    EXPECT_EQ(decodeAll(streamOf(many), &out, 1 << 20), bz2::kSymbolPastBlock);
}

TEST(Bzip2HandMade, RandomisedBlocksMatchTheReferenceTool) {
    // The compressor never writes them; a test-only switch does, so the
    // decoder's path for old streams is checked against the reference.
    Bytes in;
    std::mt19937 rng(21);
    for (int i = 0; i < 30000; i++)
        in.insert(in.end(), 1 + rng() % 6, static_cast<std::uint8_t>(rng() % 3 * 2));
    bz2::Stream s;
    ASSERT_EQ(bz2::compressInit(&s, 1, 0, 30), bz2::kOk);
    bz2::setRandomisedForTesting(&s);
    Bytes z(in.size() * 2);
    s.nextIn = in.data();
    s.availIn = static_cast<std::uint32_t>(in.size());
    s.nextOut = z.data();
    s.availOut = static_cast<std::uint32_t>(z.size());
    ASSERT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kStreamEnd);
    z.resize(s.totalOutLo32);
    bz2::compressEnd(&s);

    EXPECT_TRUE(peerDecodes(z, in));
    Bytes out;
    ASSERT_EQ(decodeAll(z, &out, in.size()), bz2::kStreamEnd);
    EXPECT_EQ(out, in);
}

TEST(Bzip2HandMade, CorruptedStreamsNeverOverrunOrCrash) {
    Bytes in;
    std::mt19937 rng(8);
    for (int i = 0; i < 20000; i++)
        in.insert(in.end(), 1 + rng() % 5, static_cast<std::uint8_t>('a' + rng() % 20));
    TessikBzip2 bz;
    Bytes z(in.size() * 2);
    unsigned int zlen = static_cast<unsigned int>(z.size());
    ASSERT_TRUE(bz.compressBuffer(z.data(), &zlen, in.data(), static_cast<unsigned int>(in.size()), 1));
    z.resize(zlen);
    for (int trial = 0; trial < 300; trial++) {
        Bytes bad = z;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; f++)
            bad[4 + rng() % (bad.size() - 4)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        Bytes out(in.size() + 32, 0xEE);
        unsigned int len = static_cast<unsigned int>(in.size());
        bool ok = bz.decompressBuffer(out.data(), &len, bad.data(), static_cast<unsigned int>(bad.size()));
        for (std::size_t i = in.size(); i < out.size(); i++)
            ASSERT_EQ(out[i], 0xEE);
        if (ok) { // a flip the CRCs cannot see must still give the input
            out.resize(len);
            EXPECT_EQ(out, in);
        }
    }
}

} // namespace
