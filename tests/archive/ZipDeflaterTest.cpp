// The compressor is judged by zlib: everything it writes must inflate, as
// raw deflate, back to the input.
#include "archive/ZipDeflater.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/archive/ArchiveTestSupport.h"

namespace {

using archive::ZipDeflater;
using grvtest::Bytes;

struct Compressed {
    Bytes data;
    std::uint64_t reported = 0;
    const char* error = nullptr;
    std::uint16_t flags = 0;
    std::size_t flushCalls = 0;
};

// Feeds the input in pieces of at most `readPiece` bytes, as a pipe would.
Compressed Deflate(ZipDeflater& d, const Bytes& input, std::size_t readPiece = SIZE_MAX, std::size_t outSize = 16384,
                   int level = 8) {
    Compressed c;
    std::size_t pos = 0;
    ZipDeflater::ReadFn read = [&](std::uint8_t* buf, std::size_t len) -> long {
        std::size_t n = std::min({len, input.size() - pos, readPiece});
        if (n)
            std::memcpy(buf, input.data() + pos, n);
        pos += n;
        return static_cast<long>(n);
    };
    ZipDeflater::FlushFn flush = [&](const std::uint8_t* p, std::size_t n) {
        EXPECT_LE(n, 65535u + outSize);
        c.data.insert(c.data.end(), p, p + n);
        ++c.flushCalls;
        return true;
    };
    Bytes out(outSize);
    c.reported = d.compress(read, flush, out.data(), out.size(), level, &c.flags);
    c.error = d.error();
    EXPECT_EQ(pos, input.size()) << "the compressor must read its input to the end";
    return c;
}

void ExpectRoundTrip(ZipDeflater& d, const Bytes& input, const std::string& what, std::size_t readPiece = SIZE_MAX,
                     std::size_t outSize = 16384) {
    Compressed c = Deflate(d, input, readPiece, outSize);
    ASSERT_EQ(c.error, nullptr) << what;
    EXPECT_EQ(c.reported, c.data.size()) << what;
    Bytes back;
    ASSERT_TRUE(grvtest::InflateRaw(c.data, &back)) << what << ": zlib refused the stream";
    ASSERT_EQ(back.size(), input.size()) << what;
    EXPECT_TRUE(back == input) << what << ": inflated bytes differ";
}

Bytes Mixed(std::size_t size, std::uint32_t seed) {
    // Text with bursts of noise, so blocks change type along the way.
    Bytes b = grvtest::TextLike(size, seed);
    Bytes noise = grvtest::RandomBytes(size / 8 + 4096, seed + 1);
    for (std::size_t i = 0; i + 2000 < size; i += 9000)
        std::memcpy(b.data() + i, noise.data() + (i / 8) % (noise.size() - 2000), 2000);
    return b;
}

TEST(ZipDeflater, CorpusOfRealFilesRoundTripsThroughZlib) {
    grvtest::TempDir dir;
    struct Case {
        std::string name;
        Bytes data;
    } cases[] = {
        {"license text", grvtest::ReadBytes("/usr/share/common-licenses/GPL-3")},
        {"binary", grvtest::ReadBytes("/usr/bin/bash")},
        {"journal database", grvtest::ReadBytes(grvtest::MakeJournalDatabase(dir.File("journal.grv")))},
        {"random", grvtest::RandomBytes(300000, 1)},
        {"zeros", Bytes(1 << 20, 0)},
        {"empty", Bytes()},
        {"one byte", Bytes{0x41}},
        {"two bytes", Bytes{0x41, 0x41}},
    };
    ZipDeflater d;
    for (const auto& c : cases) {
        ASSERT_TRUE(c.name == "empty" || !c.data.empty()) << c.name << " could not be read";
        ExpectRoundTrip(d, c.data, c.name);
    }
}

TEST(ZipDeflater, SizesAroundWindowEdgesRoundTrip) {
    // 32 KiB is the match window, 64 KiB the buffer, 65,274 where it slides.
    ZipDeflater d;
    for (std::size_t base : {32768u, 65536u, 65274u, 65274u + 32768u, 131072u}) {
        for (int delta : {-2, -1, 0, 1, 2}) {
            std::size_t size = base + delta;
            ExpectRoundTrip(d, Mixed(size, static_cast<std::uint32_t>(size)), "mixed " + std::to_string(size));
            ExpectRoundTrip(d, grvtest::RandomBytes(size, static_cast<std::uint32_t>(size)),
                            "random " + std::to_string(size));
        }
    }
}

TEST(ZipDeflater, ShortReadsAndSmallOutputBufferStillRoundTrip) {
    // Pieces smaller than the lookahead, and an output buffer that fills often.
    ZipDeflater d;
    Bytes text = Mixed(200000, 7);
    ExpectRoundTrip(d, text, "reads of 100", 100);
    ExpectRoundTrip(d, text, "reads of 1", 1);
    ExpectRoundTrip(d, text, "output of 64", SIZE_MAX, 64);
    ExpectRoundTrip(d, grvtest::RandomBytes(150000, 3), "random, output 64", 777, 64);
}

TEST(ZipDeflater, LongRepeatsUseMaximalMatches) {
    ZipDeflater d;
    Bytes data;
    Bytes unit = grvtest::RandomBytes(300, 9);
    for (int i = 0; i < 4000; ++i)
        data.insert(data.end(), unit.begin(), unit.end());
    Compressed c = Deflate(d, data);
    Bytes back;
    ASSERT_TRUE(grvtest::InflateRaw(c.data, &back));
    EXPECT_EQ(back, data);
    // 1.2 MB of a 300-byte unit: matches of 258 bytes at 300 bytes' distance.
    EXPECT_LT(c.data.size(), 10000u);
}

TEST(ZipDeflater, EmptyInputIsOneFixedBlock) {
    ZipDeflater d;
    Compressed c = Deflate(d, Bytes());
    EXPECT_EQ(c.data, (Bytes{0x03, 0x00}));
    EXPECT_EQ(c.reported, 2u);
}

TEST(ZipDeflater, IncompressibleDataIsStoredWithSmallOverhead) {
    ZipDeflater d;
    Bytes data = grvtest::RandomBytes(200000, 5);
    Compressed c = Deflate(d, data);
    // Each stored block costs 5 bytes and holds at most 65,535 bytes; blocks
    // end at least every 32,767 items here, so count generously.
    std::size_t blocks = data.size() / 4096 + 1;
    EXPECT_LE(c.data.size(), data.size() + 5 * blocks);
    EXPECT_GE(c.data.size(), data.size());
    // The first block is stored: its type bits are 00.
    ASSERT_FALSE(c.data.empty());
    EXPECT_EQ((c.data[0] >> 1) & 3, 0);
}

TEST(ZipDeflater, LevelBitsAndBadLevel) {
    ZipDeflater d;
    Bytes text = grvtest::TextLike(5000, 2);
    EXPECT_EQ(Deflate(d, text, SIZE_MAX, 16384, 8).flags, 0x2);
    EXPECT_EQ(Deflate(d, text, SIZE_MAX, 16384, 5).flags, 0x0);
    EXPECT_EQ(Deflate(d, text, SIZE_MAX, 16384, 1).flags, 0x4);
    for (int level : {1, 3, 4, 6}) {
        Compressed c = Deflate(d, text, SIZE_MAX, 16384, level);
        Bytes back;
        ASSERT_TRUE(grvtest::InflateRaw(c.data, &back)) << "level " << level;
        EXPECT_EQ(back, text) << "level " << level;
    }
    std::uint16_t flags = 0;
    Bytes out(1024);
    ZipDeflater::ReadFn read = [](std::uint8_t*, std::size_t) -> long { return 0; };
    ZipDeflater::FlushFn flush = [](const std::uint8_t*, std::size_t) { return true; };
    d.compress(read, flush, out.data(), out.size(), 9, &flags);
    EXPECT_STREQ(d.error(), archive::kDeflateBadLevel);
}

TEST(ZipDeflater, FailedFlushIsStickyAndStaysInsideTheBuffer) {
    ZipDeflater d;
    Bytes data = Mixed(400000, 11);
    std::size_t calls = 0;
    std::size_t pos = 0;
    ZipDeflater::ReadFn read = [&](std::uint8_t* buf, std::size_t len) -> long {
        std::size_t n = std::min(len, data.size() - pos);
        std::memcpy(buf, data.data() + pos, n);
        pos += n;
        return static_cast<long>(n);
    };
    ZipDeflater::FlushFn flush = [&](const std::uint8_t*, std::size_t) {
        ++calls;
        return false;
    };
    // The buffer sits inside a larger block whose tail must stay untouched.
    Bytes block(4096 + 64, 0xEE);
    d.compress(read, flush, block.data(), 4096, 8, nullptr);
    EXPECT_STREQ(d.error(), archive::kDeflateFlushFailed);
    EXPECT_EQ(calls, 1u) << "no write is tried after the first failure";
    for (std::size_t i = 4096; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xEE) << i;
    EXPECT_LT(pos, data.size()) << "reading stops once output can't be written";

    // The next entry starts clean.
    ExpectRoundTrip(d, Mixed(5000, 1), "after a failure");
}

} // namespace
