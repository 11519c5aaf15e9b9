// The engine on its own: the stream format's edge cases, resumable decoding
// and the action sequence of the compressor.
#include "netlib/streams/Bzip2Engine.h"
#include "Bzip2TestSupport.h"
#include "netlib/streams/Bzip2Internal.h"
#include "netlib/streams/TessikBzip2.h"

#include <gtest/gtest.h>

#include <random>

using namespace tessik;

using namespace bz2test;

namespace {

// Input with no runs at all: every byte differs from the one before.
Bytes noRuns(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; i++)
        b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 251);
    return b;
}

// Counts the block magic at any bit offset of a stream.
int countBlocks(const Bytes& z) {
    const std::uint64_t magic = 0x314159265359ull;
    int found = 0;
    std::uint64_t window = 0;
    for (std::size_t bit = 0; bit < z.size() * 8; bit++) {
        window = ((window << 1) | ((z[bit / 8] >> (7 - bit % 8)) & 1u)) & 0xffffffffffffull;
        if (bit >= 47 && window == magic)
            found++;
    }
    return found;
}

// All input with the run action first, then the finish: how the reference
// tool feeds its library.
Bytes compressRunThenFinish(const Bytes& in, int blockSize) {
    bz2::Stream s;
    EXPECT_EQ(bz2::compressInit(&s, blockSize, 0, 30), bz2::kOk);
    Bytes out(in.size() * 2 + 1000);
    s.nextIn = in.data();
    s.availIn = static_cast<std::uint32_t>(in.size());
    s.nextOut = out.data();
    s.availOut = static_cast<std::uint32_t>(out.size());
    EXPECT_EQ(bz2::compress(&s, bz2::kRun), bz2::kRunOk);
    EXPECT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kStreamEnd);
    out.resize(s.totalOutLo32);
    bz2::compressEnd(&s);
    return out;
}

TEST(Bzip2Format, FullBlockClosesAndTheNextInputStartsASecondBlock) {
    // Without runs every byte but the pending last one is in the block.
    // nblockMax + 1 bytes fill the block; given all at once with the finish
    // action the pending byte joins it, fed with the run action first it
    // starts a second block. One byte more makes two blocks either way.
    const std::size_t nblockMax = 100000 - 19;
    struct Case {
        std::size_t extra;
        int blocksAtOnce;
        int blocksRunFirst;
    } cases[] = {{0, 1, 1}, {1, 1, 2}, {2, 2, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra);
        Bytes in = noRuns(nblockMax + c.extra);
        Bytes once = compressBytes(in, 1);
        Bytes runFirst = compressRunThenFinish(in, 1);
        EXPECT_EQ(countBlocks(once), c.blocksAtOnce);
        EXPECT_EQ(countBlocks(runFirst), c.blocksRunFirst);

        // The reference tool cuts its blocks at the same place.
        int status = 0;
        EXPECT_EQ(bzip2Tool({"-1", "-c"}, in, status), runFirst);
        ASSERT_EQ(status, 0);

        // The combined CRC covers every block.
        for (const Bytes* z : {&once, &runFirst}) {
            Bytes out;
            ASSERT_EQ(decodeAll(*z, &out, in.size()), bz2::kStreamEnd);
            EXPECT_EQ(out, in);
            Bytes bad = *z;
            bad.back() ^= 0x80; // the top bit of the last byte is a CRC bit
            EXPECT_EQ(decodeAll(bad, &out, in.size()), bz2::kStreamCrcError);
        }
    }
}

TEST(Bzip2Format, LongRunsRoundTrip) {
    // Runs of 1..600 equal bytes, split at 255 by the first stage, and a
    // million equal bytes in one block.
    Bytes runs;
    std::mt19937 rng(3);
    for (int i = 0; i < 400; i++)
        runs.insert(runs.end(), 1 + rng() % 600, static_cast<std::uint8_t>(rng() % 4));
    const Bytes same(1000000, 0x41);
    for (const Bytes* in : std::initializer_list<const Bytes*>{&runs, &same})
        for (int bs : {1, 9}) {
            Bytes out;
            ASSERT_EQ(decodeAll(compressBytes(*in, bs), &out, in->size()), bz2::kStreamEnd);
            EXPECT_EQ(out, *in);
        }
}

TEST(Bzip2Format, DamagedFieldsAreNamed) {
    const Bytes z = compressBytes(Bytes{'h', 'e', 'l', 'l', 'o'}, 1);
    const Bytes empty = compressBytes({}, 1);
    struct Case {
        const Bytes* stream;
        std::size_t offset;
        std::uint8_t value; // written there; 0 flips the top bit
        int expect;
    } cases[] = {
        {&z, 0, 'b', bz2::kHeaderB},
        {&z, 1, 'z', bz2::kHeaderZ},
        {&z, 2, 'H', bz2::kHeaderH},
        {&z, 3, '0', bz2::kHeaderBlockSize},
        {&z, 4, 0x32, bz2::kBlockMagic1},
        {&z, 5, 0x42, bz2::kBlockMagic2},
        {&z, 9, 0x58, bz2::kBlockMagic6},
        {&z, 10, 0, bz2::kBlockCrcError},            // first byte of the stored block CRC
        {&z, z.size() - 1, 0, bz2::kStreamCrcError}, // its low bits may be padding
        {&empty, 5, 0x72 ^ 0x10, bz2::kEndMagic2},
        {&empty, 6, 0x45 ^ 0x10, bz2::kEndMagic3},
        {&empty, 7, 0x38 ^ 0x10, bz2::kEndMagic4},
        {&empty, 8, 0x50 ^ 0x10, bz2::kEndMagic5},
        {&empty, 9, 0x90 ^ 0x10, bz2::kEndMagic6},
    };
    for (const Case& c : cases) {
        Bytes bad = *c.stream;
        bad[c.offset] = c.value ? c.value : bad[c.offset] ^ 0x80;
        Bytes out;
        EXPECT_EQ(decodeAll(bad, &out, 100), c.expect) << c.offset;
    }
}

TEST(Bzip2Buffers, DestinationOneByteTooSmallFails) {
    Bytes in = noRuns(5000);
    Bytes z = compressBytes(in, 1);
    TessikBzip2 bz;
    Bytes out(z.size());
    unsigned int len = static_cast<unsigned int>(z.size() - 1);
    EXPECT_FALSE(bz.compressBuffer(out.data(), &len, in.data(), 5000, 1));
    len = static_cast<unsigned int>(z.size());
    EXPECT_TRUE(bz.compressBuffer(out.data(), &len, in.data(), 5000, 1));
    EXPECT_EQ(len, z.size());
    EXPECT_EQ(out, z);
}

TEST(Bzip2Buffers, BadArgumentsAreRefused) {
    TessikBzip2 bz;
    std::uint8_t buf[64] = {};
    unsigned int len = sizeof buf;
    EXPECT_FALSE(bz.compressBuffer(buf, &len, buf, 4, 0));
    EXPECT_FALSE(bz.compressBuffer(buf, &len, buf, 4, 10));
    EXPECT_FALSE(bz.compressBuffer(nullptr, &len, buf, 4, 1));
    EXPECT_FALSE(bz.compressBuffer(buf, nullptr, buf, 4, 1));
    EXPECT_FALSE(bz.compressBuffer(buf, &len, nullptr, 4, 1));
    EXPECT_FALSE(bz.decompressBuffer(nullptr, &len, buf, 4));
    EXPECT_FALSE(bz.decompressBuffer(buf, nullptr, buf, 4));
    EXPECT_FALSE(bz.decompressBuffer(buf, &len, nullptr, 4));
}

TEST(Bzip2Buffers, DecoderNeverWritesPastTheAllowance) {
    Bytes in(20000, 'q');
    in[100] = 'r';
    Bytes z = compressBytes(in, 1);
    TessikBzip2 bz;
    for (unsigned int room : {0u, 1u, 100u, 19999u}) {
        Bytes out(room + 64, 0xEE);
        unsigned int len = room;
        EXPECT_FALSE(bz.decompressBuffer(out.data(), &len, z.data(), static_cast<unsigned int>(z.size())));
        EXPECT_EQ(len, 0u);
        for (std::size_t i = room; i < out.size(); i++)
            ASSERT_EQ(out[i], 0xEE) << "room " << room << " byte " << i;
    }
    Bytes out(20000);
    unsigned int len = 20000;
    EXPECT_TRUE(bz.decompressBuffer(out.data(), &len, z.data(), static_cast<unsigned int>(z.size())));
    EXPECT_EQ(out, in);
}

TEST(Bzip2Buffers, TruncatedStreamsFail) {
    Bytes in = noRuns(3000);
    Bytes z = compressBytes(in, 1);
    TessikBzip2 bz;
    Bytes out(4000);
    for (std::size_t cut = 0; cut < z.size(); cut++) {
        unsigned int len = 4000;
        ASSERT_FALSE(bz.decompressBuffer(out.data(), &len, z.data(), static_cast<unsigned int>(cut))) << cut;
        ASSERT_EQ(len, 0u);
    }
}

TEST(Bzip2Streaming, DecoderResumesAtEveryByteOfInputAndOutput) {
    Bytes in;
    std::mt19937 rng(11);
    for (int i = 0; i < 6000; i++)
        in.insert(in.end(), 1 + rng() % 9, static_cast<std::uint8_t>('a' + rng() % 5));
    Bytes z = compressBytes(in, 1);

    bz2::Stream s;
    ASSERT_EQ(bz2::decompressInit(&s), bz2::kOk);
    Bytes out(in.size() + 1);
    std::size_t inPos = 0, outPos = 0;
    int r = bz2::kOk;
    // One byte of input and three of room at a time.
    while (r == bz2::kOk) {
        s.nextIn = z.data() + inPos;
        s.availIn = inPos < z.size() ? 1 : 0;
        s.nextOut = out.data() + outPos;
        s.availOut = static_cast<std::uint32_t>(std::min<std::size_t>(3, out.size() - outPos));
        r = bz2::decompress(&s);
        inPos += (inPos < z.size() ? 1 : 0) - s.availIn;
        outPos = s.totalOutLo32;
        ASSERT_LE(inPos, z.size());
        if (r == bz2::kOk && inPos == z.size() && s.availOut > 0)
            break; // starved: a failure, reported below
    }
    EXPECT_EQ(r, bz2::kStreamEnd);
    EXPECT_EQ(s.totalInLo32, z.size());
    out.resize(outPos);
    EXPECT_EQ(out, in);
    bz2::decompressEnd(&s);
}

TEST(Bzip2Streaming, CompressorInSmallStepsWritesTheSameStream) {
    Bytes in;
    std::mt19937 rng(5);
    for (int i = 0; i < 250000; i++)
        in.push_back(static_cast<std::uint8_t>("abcdefgh"[rng() % 8]));
    Bytes whole = compressBytes(in, 1);

    bz2::Stream s;
    ASSERT_EQ(bz2::compressInit(&s, 1, 0, 0), bz2::kOk);
    Bytes out(whole.size() + 100);
    std::size_t inPos = 0;
    while (inPos < in.size()) {
        std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(777, in.size() - inPos));
        s.nextIn = in.data() + inPos;
        s.availIn = chunk;
        s.nextOut = out.data() + s.totalOutLo32;
        s.availOut = static_cast<std::uint32_t>(out.size() - s.totalOutLo32);
        ASSERT_EQ(bz2::compress(&s, bz2::kRun), bz2::kRunOk);
        inPos += chunk - s.availIn;
    }
    int r;
    do {
        s.nextOut = out.data() + s.totalOutLo32;
        s.availOut = std::min<std::uint32_t>(5, static_cast<std::uint32_t>(out.size() - s.totalOutLo32));
        r = bz2::compress(&s, bz2::kFinish);
    } while (r == bz2::kFinishOk);
    EXPECT_EQ(r, bz2::kStreamEnd);
    out.resize(s.totalOutLo32);
    EXPECT_EQ(out, whole);
    EXPECT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kSequenceError);
    EXPECT_EQ(bz2::compressEnd(&s), bz2::kOk);
}

TEST(Bzip2Streaming, FlushEndsTheBlockAndTheStreamStillDecodes) {
    Bytes a(3000, 'a'), b = noRuns(4000);
    bz2::Stream s;
    ASSERT_EQ(bz2::compressInit(&s, 2, 0, 30), bz2::kOk);
    Bytes out(20000);
    s.nextOut = out.data();
    s.availOut = static_cast<std::uint32_t>(out.size());
    s.nextIn = a.data();
    s.availIn = static_cast<std::uint32_t>(a.size());
    int r;
    do
        r = bz2::compress(&s, bz2::kFlush);
    while (r == bz2::kFlushOk);
    EXPECT_EQ(r, bz2::kRunOk);
    s.nextIn = b.data();
    s.availIn = static_cast<std::uint32_t>(b.size());
    EXPECT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kStreamEnd);
    out.resize(s.totalOutLo32);
    bz2::compressEnd(&s);
    EXPECT_EQ(countBlocks(out), 2);

    Bytes expect = a;
    expect.insert(expect.end(), b.begin(), b.end());
    Bytes got;
    ASSERT_EQ(decodeAll(out, &got, expect.size()), bz2::kStreamEnd);
    EXPECT_EQ(got, expect);
}

TEST(Bzip2Streaming, InputChangedDuringAFlushIsASequenceError) {
    Bytes in = noRuns(5000);
    Bytes out(10000);
    bz2::Stream s;
    ASSERT_EQ(bz2::compressInit(&s, 1, 0, 30), bz2::kOk);
    s.nextIn = in.data();
    s.availIn = 5000;
    s.nextOut = out.data();
    s.availOut = 0; // no room: the flush stays pending
    EXPECT_EQ(bz2::compress(&s, bz2::kRun), bz2::kRunOk);
    s.availIn = 100;
    s.nextIn = in.data();
    EXPECT_EQ(bz2::compress(&s, bz2::kFlush), bz2::kFlushOk);
    s.availIn = 50;
    EXPECT_EQ(bz2::compress(&s, bz2::kFlush), bz2::kSequenceError);
    EXPECT_EQ(bz2::compressEnd(&s), bz2::kOk);
}

TEST(Bzip2Streaming, ActionSequenceErrors) {
    Bytes in(100, 'z');
    Bytes out(1000);
    bz2::Stream s;
    ASSERT_EQ(bz2::compressInit(&s, 1, 0, 30), bz2::kOk);
    s.nextIn = in.data();
    s.availIn = 100;
    s.nextOut = out.data();
    s.availOut = 1; // too little room: the finish stays pending
    EXPECT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kFinishOk);
    EXPECT_EQ(bz2::compress(&s, bz2::kRun), bz2::kSequenceError);
    EXPECT_EQ(bz2::compress(&s, bz2::kFlush), bz2::kSequenceError);
    EXPECT_EQ(bz2::compress(&s, 7), bz2::kSequenceError);
    s.availOut = 999;
    EXPECT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kStreamEnd);
    EXPECT_EQ(bz2::compress(&s, bz2::kRun), bz2::kSequenceError);
    EXPECT_EQ(bz2::compressEnd(&s), bz2::kOk);
}

TEST(Bzip2Streaming, InitParametersAndForeignStreams) {
    bz2::Stream s;
    EXPECT_EQ(bz2::compressInit(nullptr, 1, 0, 30), bz2::kParamError);
    EXPECT_EQ(bz2::compressInit(&s, 0, 0, 30), bz2::kParamError);
    EXPECT_EQ(bz2::compressInit(&s, 10, 0, 30), bz2::kParamError);
    EXPECT_EQ(bz2::compressInit(&s, 1, 0, 251), bz2::kParamError);
    EXPECT_EQ(bz2::compressInit(&s, 1, 0, 250), bz2::kOk);
    // A compressor's stream is not the decoder's, and a copied record is
    // not the stream the state belongs to.
    EXPECT_EQ(bz2::decompressEnd(&s), bz2::kParamError);
    EXPECT_EQ(bz2::decompress(&s), bz2::kParamError);
    bz2::Stream copy = s;
    EXPECT_EQ(bz2::compressEnd(&copy), bz2::kParamError);
    EXPECT_EQ(bz2::compressEnd(&s), bz2::kOk);
    EXPECT_EQ(bz2::compressEnd(&s), bz2::kParamError);

    ASSERT_EQ(bz2::decompressInit(&s), bz2::kOk);
    EXPECT_EQ(bz2::compressEnd(&s), bz2::kParamError);
    EXPECT_EQ(bz2::compress(&s, bz2::kRun), bz2::kParamError);
    EXPECT_EQ(bz2::decompressEnd(&s), bz2::kOk);
}

TEST(Bzip2Streaming, WorkFactorsGiveTheSameStream) {
    // The work factor only moves the point where the fallback sort takes
    // over; the sorted order, and so the stream, is the same.
    Bytes in;
    for (int i = 0; i < 40; i++) {
        Bytes chunk = noRuns(3000);
        in.insert(in.end(), chunk.begin(), chunk.end());
    }
    Bytes reference;
    for (int wf : {1, 30, 250}) {
        bz2::Stream s;
        ASSERT_EQ(bz2::compressInit(&s, 2, 0, wf), bz2::kOk);
        Bytes out(in.size() * 2);
        s.nextIn = in.data();
        s.availIn = static_cast<std::uint32_t>(in.size());
        s.nextOut = out.data();
        s.availOut = static_cast<std::uint32_t>(out.size());
        ASSERT_EQ(bz2::compress(&s, bz2::kFinish), bz2::kStreamEnd);
        out.resize(s.totalOutLo32);
        bz2::compressEnd(&s);
        if (reference.empty())
            reference = out;
        EXPECT_EQ(out, reference) << "work factor " << wf;
    }
}

} // namespace
