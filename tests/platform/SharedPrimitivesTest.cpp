// The primitives the archive and the library share: CRC-32, the system random
// source, the FILETIME arithmetic and byte order.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Crc32.h"
#include "platform/CryptProv.h"
#include "platform/WinTime.h"

namespace {

// Every width and order at every alignment, judged against the bytes written
// out by shifts, the definition of each order.
TEST(ByteOrder, LoadsAndStoresAtAnyAlignment) {
    const std::uint64_t value = 0x0102030405060708ull;
    for (std::size_t at = 0; at < 8; ++at) {
        for (int bytes : {2, 4, 8}) {
            unsigned char big[16] = {}, little[16] = {};
            for (int i = 0; i < bytes; ++i) {
                big[at + i] = static_cast<unsigned char>(value >> (8 * (bytes - 1 - i)));
                little[at + i] = static_cast<unsigned char>(value >> (8 * i));
            }
            const std::uint64_t mask = bytes == 8 ? ~0ull : (1ull << (8 * bytes)) - 1;
            unsigned char outBig[16] = {}, outLittle[16] = {};
            std::uint64_t gotBig = 0, gotLittle = 0;
            switch (bytes) {
            case 2:
                gotBig = platform::LoadBe16(big + at), gotLittle = platform::LoadLe16(little + at);
                platform::StoreBe16(outBig + at, static_cast<std::uint16_t>(value));
                platform::StoreLe16(outLittle + at, static_cast<std::uint16_t>(value));
                break;
            case 4:
                gotBig = platform::LoadBe32(big + at), gotLittle = platform::LoadLe32(little + at);
                platform::StoreBe32(outBig + at, static_cast<std::uint32_t>(value));
                platform::StoreLe32(outLittle + at, static_cast<std::uint32_t>(value));
                break;
            default:
                gotBig = platform::LoadBe64(big + at), gotLittle = platform::LoadLe64(little + at);
                platform::StoreBe64(outBig + at, value);
                platform::StoreLe64(outLittle + at, value);
            }
            EXPECT_EQ(gotBig, value & mask) << bytes << "@" << at;
            EXPECT_EQ(gotLittle, value & mask) << bytes << "@" << at;
            EXPECT_EQ(0, std::memcmp(outBig, big, sizeof big)) << bytes << "@" << at;
            EXPECT_EQ(0, std::memcmp(outLittle, little, sizeof little)) << bytes << "@" << at;
        }
    }
}

TEST(Crc32, PiecesContinueWhereTheyStopped) {
    const char* check = "123456789"; // the catalogue's check value
    EXPECT_EQ(platform::Crc32(0, check, 9), 0xCBF43926u);
    for (std::size_t cut = 0; cut <= 9; ++cut)
        EXPECT_EQ(platform::Crc32(platform::Crc32(0, check, cut), check + cut, 9 - cut), 0xCBF43926u) << cut;
    std::uint32_t reg = platform::kCrc32Preset;
    for (int i = 0; i < 9; ++i)
        reg = platform::Crc32Step(reg, static_cast<std::uint8_t>(check[i]));
    EXPECT_EQ(~reg, 0xCBF43926u);
}

// Every length around the fold's block sizes, at every alignment, through
// the run-time path and the table path, plain and counting zip's binary
// bytes, against zlib and a plain count as the judges. The bytes are random
// in the first third, but for a run of binary bytes long enough to fill any
// counter kept by byte, and mostly text with every byte value sprinkled in
// the rest, so that the counts are neither all nor nothing.
TEST(Crc32, FoldedAndTablePathsAgreeWithZlib) {
    std::vector<unsigned char> data(70016 + 140032);
    std::uint32_t x = 0x2545F491u;
    for (std::size_t i = 0; i < data.size(); ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        data[i] = static_cast<unsigned char>(i < data.size() / 3 || x % 5 == 0 ? x >> 8 : ' ' + x % 95);
    }
    std::fill(data.begin() + 20000, data.begin() + 30000, 0xFF);
    std::vector<std::size_t> lengths = {65536, 65537, 69999, 200000};
    for (std::size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (std::size_t offset : {std::size_t{0}, std::size_t{5}, std::size_t{10}, std::size_t{15}, data.size() / 3 + 3}) {
        for (std::size_t n : lengths) {
            if (offset + n > data.size())
                continue;
            const unsigned char* p = data.data() + offset;
            const auto want = static_cast<std::uint32_t>(::crc32(0, p, static_cast<uInt>(n)));
            const auto binary =
                static_cast<std::uint64_t>(std::count_if(p, p + n, [](unsigned char b) { return b < 7 || b > 127; }));
            ASSERT_EQ(platform::Crc32(0, p, n), want) << n << "@" << offset;
            ASSERT_EQ(~platform::Crc32UpdateByTable(platform::kCrc32Preset, p, n), want) << n << "@" << offset;
            std::uint64_t folded = 1, byTable = 2;
            ASSERT_EQ(~platform::Crc32UpdateCountingBinary(platform::kCrc32Preset, p, n, folded), want);
            ASSERT_EQ(~platform::Crc32UpdateCountingBinaryByTable(platform::kCrc32Preset, p, n, byTable), want);
            ASSERT_EQ(folded, binary + 1) << n << "@" << offset;
            ASSERT_EQ(byTable, binary + 2) << n << "@" << offset;
        }
    }
    // Pieces of any size continue one another across both paths.
    const auto whole = static_cast<std::uint32_t>(::crc32(0, data.data(), static_cast<uInt>(data.size())));
    std::uint32_t reg = platform::kCrc32Preset;
    for (std::size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 997 + 1)
        reg = platform::Crc32Update(reg, data.data() + at, std::min(step, data.size() - at));
    EXPECT_EQ(~reg, whole);
}

TEST(SystemRandom, FillsEveryByteAndRefusesNoBuffer) {
    std::uint8_t a[4096] = {}, b[4096] = {};
    ASSERT_TRUE(platform::SystemRandomBytes(a, sizeof a));
    ASSERT_TRUE(platform::SystemRandomBytes(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    EXPECT_TRUE(platform::SystemRandomBytes(nullptr, 0));
    EXPECT_FALSE(platform::SystemRandomBytes(nullptr, 1));
}

TEST(FileTimeArithmetic, UnixSecondsBothWays) {
    const struct {
        std::int64_t unixSeconds, nanoseconds, ticks;
    } cases[] = {
        {0, 0, platform::kFileTimeUnixEpoch},
        {1, 500, platform::kFileTimeUnixEpoch + 10000005},
        {-11644473600, 0, 0}, // 1601-01-01
        {-1, 0, platform::kFileTimeUnixEpoch - 10000000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::UnixTimeToFileTimeTicks(c.unixSeconds, c.nanoseconds), c.ticks);
        EXPECT_EQ(platform::FileTimeTicksToUnixTime(c.ticks), c.unixSeconds);
        EXPECT_EQ(platform::FileTimeToTicks(platform::FileTimeFromTicks(c.ticks)), c.ticks);
    }
    // Half a second before the epoch is still in the second before it.
    EXPECT_EQ(platform::FileTimeTicksToUnixTime(platform::kFileTimeUnixEpoch - 5000000), -1);
}

} // namespace
