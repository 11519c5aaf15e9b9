// Our deflate judged by zlib and python3's zlib: at every level, whatever the
// input and however it is fed, the stream inflates back to exactly the input.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <random>

#include "netlib/streams/StreamConstants.h"
#include "netlib/streams/ZeeStream.h"
#include "platform/ByteOrder.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/netlib/streams/Bzip2TestSupport.h"
#include "tests/netlib/streams/ZlibPeer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using zpeer::Bytes;
using zpeer::randomBytes;

namespace {

// Compresses `in` fed `feed` bytes at a time with `room` bytes of output per
// step, finishing at the end.
Bytes ourDeflate(const Bytes& in, int level, std::size_t feed = SIZE_MAX, std::size_t room = 1 << 16) {
    ZeeStream z(level, false);
    z.setLevel(level);
    EXPECT_TRUE(z.isReady());
    Bytes out, buf(room);
    std::size_t at = 0;
    for (bool finished = false; !finished;) {
        if (z.availIn == 0 && at < in.size()) {
            std::size_t n = std::min(feed, in.size() - at);
            z.nextIn = in.data() + at;
            z.availIn = static_cast<std::uint32_t>(n);
            at += n;
        }
        z.nextOut = buf.data();
        z.availOut = static_cast<std::uint32_t>(room);
        bool ok = z.deflate(at == in.size(), finished);
        out.insert(out.end(), buf.data(), buf.data() + (room - z.availOut));
        if (!ok) {
            ADD_FAILURE() << "deflate step failed";
            break;
        }
    }
    return out;
}

const std::vector<bz2test::CorpusFile>& realFiles() {
    static const std::vector<bz2test::CorpusFile> files = [] {
        std::vector<bz2test::CorpusFile> c = bz2test::corpus();
        c.push_back({"license", grvtest::ReadBytes("/usr/share/common-licenses/GPL-3")});
        c.push_back({"one byte", {0x41}});
        return c;
    }();
    return files;
}

TEST(ZeeStream, EveryLevelInflatesWithZlibToTheInputOverACorpus) {
    for (int level = 0; level <= 9; ++level) {
        for (const auto& f : realFiles()) {
            SCOPED_TRACE(f.name + " at level " + std::to_string(level));
            Bytes back;
            bool complete = false;
            ASSERT_TRUE(zpeer::inflate(ourDeflate(f.data, level), &back, false, &complete));
            EXPECT_TRUE(complete);
            EXPECT_TRUE(back == f.data);
        }
    }
}

TEST(ZeeStream, PythonZlibInflatesEveryLevel) {
    // One file per level, all judged by one python run.
    grvtest::TempDir temp("zee-python");
    const std::string& dir = temp.Path();
    const Bytes& text = realFiles()[1].data;
    for (int level = 0; level <= 9; ++level)
        ASSERT_TRUE(grvtest::WriteFile(dir + "/" + std::to_string(level) + ".raw", ourDeflate(text, level, 7777, 999)));
    ASSERT_TRUE(grvtest::WriteFile(dir + "/plain", text));
    std::string verdict = python3Line(
        "import sys,zlib; d=sys.argv[1]; p=open(d+'/plain','rb').read(); "
        "print(sum(zlib.decompressobj(-15).decompress(open(d+'/%d.raw'%l,'rb').read())==p for l in range(10)))",
        dir);
    EXPECT_EQ(verdict, "10");
}

TEST(ZeeStream, ByteAtATimeInputTinyOutputRoomAndSizesAroundTheWindowEdgesRoundTrip) {
    struct Case {
        std::size_t size;
        int level;
        std::size_t feed, room;
    };
    std::vector<Case> cases;
    for (int level : {0, 1, 6, 9})
        for (auto [feed, room] : {std::pair<std::size_t, std::size_t>{1, 1 << 16}, {SIZE_MAX, 1}, {333, 7}})
            cases.push_back({40000, level, feed, room});
    // 32 KiB is the match window, 64 KiB the buffer, 65,274 where it slides.
    for (std::size_t base : {32768u, 65274u, 65536u, 65536u + 32768u})
        for (int delta : {-1, 0, 1})
            cases.push_back({base + delta, 6, SIZE_MAX, 1 << 16});
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + " level " + std::to_string(c.level) + " feed " +
                     std::to_string(c.feed) + " room " + std::to_string(c.room));
        Bytes data = realFiles()[2].data; // a program, repeated
        while (data.size() < c.size)
            data.insert(data.end(), data.begin(), data.end());
        data.resize(c.size);
        Bytes back;
        ASSERT_TRUE(zpeer::inflate(ourDeflate(data, c.level, c.feed, c.room), &back));
        EXPECT_TRUE(back == data);
    }
}

TEST(ZeeStream, CompressesAsWellAsZlibAtEachLevel) {
    const Bytes& text = realFiles()[1].data;
    for (int level : {1, 6, 8, 9}) {
        double ours = static_cast<double>(ourDeflate(text, level).size());
        double theirs = static_cast<double>(zpeer::deflate(text, level, Z_DEFAULT_STRATEGY, false).size());
        EXPECT_LT(ours, theirs * 1.01) << "level " << level;
    }
}

TEST(ZeeStream, EdgeCases) {
    Bytes text = realFiles()[1].data;
    EXPECT_EQ(ourDeflate(text, -1), ourDeflate(text, 6));
    EXPECT_EQ(ourDeflate(text, 10), ourDeflate(text, 6));

    // Level 0: stored blocks only, none over 65,535 bytes.
    Bytes noise = randomBytes(200000, 4);
    Bytes stored = ourDeflate(noise, 0);
    std::size_t at = 0, total = 0;
    bool last = false;
    while (!last && at + 5 <= stored.size()) {
        last = stored[at] & 1;
        ASSERT_EQ(stored[at] >> 1, 0) << "block at " << at << " is not stored";
        std::size_t len = platform::LoadLe16(&stored[at + 1]);
        ASSERT_EQ(len ^ 0xFFFF, platform::LoadLe16(&stored[at + 3]));
        total += len;
        at += 5 + len;
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(at, stored.size());
    EXPECT_EQ(total, noise.size());

    // Incompressible input costs at most a few bytes a block at any level.
    for (int level : {1, 6, 9})
        EXPECT_LE(ourDeflate(noise, level).size(), noise.size() + 5 * (noise.size() / 4096 + 1));
}

TEST(ZeeStream, KeptChecksumIsZlibsAdler32) {
    const Bytes& data = realFiles()[3].data;
    ZeeStream z(6, true);
    Bytes out(data.size() + 1000);
    z.nextIn = data.data();
    z.availIn = static_cast<std::uint32_t>(data.size());
    z.nextOut = out.data();
    z.availOut = static_cast<std::uint32_t>(out.size());
    bool finished = false;
    ASSERT_TRUE(z.deflate(true, finished));
    EXPECT_TRUE(finished);
    EXPECT_EQ(z.checksum, adler32(1, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(z.status, ZeeStream::kStatusFinishing);
    EXPECT_FALSE(z.deflate(false, finished)) << "only finish steps after a finish";
}

// Flushed chunks, as the zlib wrapper sends them: run with `room` bytes of
// output per call until the chunk's flush completes.
Bytes flushedChunk(ZeeStream& z, const Bytes& chunk, std::size_t room, LogBase& log) {
    Bytes out, buf(room);
    z.nextIn = chunk.data();
    z.availIn = static_cast<std::uint32_t>(chunk.size());
    do {
        z.nextOut = buf.data();
        z.availOut = static_cast<std::uint32_t>(room);
        EXPECT_TRUE(z.deflateFlushedChunk(log));
        out.insert(out.end(), buf.data(), buf.data() + (room - z.availOut));
    } while (z.availIn != 0 || z.chunkFlushPending());
    return out;
}

TEST(ZeeStream, FlushedChunksAreStoredBelow64BytesAndEachEndsOnAFullFlush) {
    LogNull log;
    ZeeStream z(6, false);
    Bytes tail = {0x00, 0x00, 0xFF, 0xFF};
    Bytes small(63, 'a');
    Bytes c1 = flushedChunk(z, small, 1000, log);
    // A stored block of the 63 bytes, then an empty one.
    Bytes expect = {0x00, 63, 0, static_cast<std::uint8_t>(~63), 0xFF};
    expect.insert(expect.end(), small.begin(), small.end());
    expect.push_back(0x00);
    expect.insert(expect.end(), tail.begin(), tail.end());
    EXPECT_EQ(c1, expect);

    Bytes c2 = flushedChunk(z, Bytes(64, 'a'), 1000, log);
    ASSERT_GE(c2.size(), 4u);
    EXPECT_NE((c2[0] >> 1) & 3, 0) << "64 bytes take the fast routine, not a stored block";
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), c2.end() - 4));

    // A chunk far larger than the output room continues call after call,
    // and a room of one byte ends when the flush is out, not before or after.
    Bytes big = randomBytes(120000, 8);
    Bytes c3 = flushedChunk(z, big, 1000, log);
    Bytes c4 = flushedChunk(z, small, 1, log);
    EXPECT_EQ(c4, expect);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), c3.end() - 4));

    Bytes stream = c1, back;
    stream.insert(stream.end(), c2.begin(), c2.end());
    stream.insert(stream.end(), c3.begin(), c3.end());
    stream.insert(stream.end(), c4.begin(), c4.end());
    bool complete = true;
    ASSERT_TRUE(zpeer::inflate(stream, &back, false, &complete));
    EXPECT_FALSE(complete) << "flushed chunks never end the stream";
    Bytes all = small;
    all.insert(all.end(), 64, 'a');
    all.insert(all.end(), big.begin(), big.end());
    all.insert(all.end(), small.begin(), small.end());
    EXPECT_TRUE(back == all);
}

TEST(ZeeStream, FlushedChunkRefusesPendingOutputOfAnUnflushedStep) {
    ZeeStream z(6, false);
    Bytes data = randomBytes(100000, 2), out(10);
    z.nextIn = data.data();
    z.availIn = static_cast<std::uint32_t>(data.size());
    z.nextOut = out.data();
    z.availOut = static_cast<std::uint32_t>(out.size());
    bool finished = false;
    ASSERT_TRUE(z.deflate(false, finished)); // leaves output pending
    z.nextOut = out.data();
    z.availOut = static_cast<std::uint32_t>(out.size());
    RecordingLog log;
    EXPECT_FALSE(z.deflateFlushedChunk(log));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kUnexpectedPendingZlib)) << log.all();
}

} // namespace
