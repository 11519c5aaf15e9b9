// The primitives the archive and the library share: CRC-32, the system random
// source and the FILETIME arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/Crc32.h"
#include "platform/CryptProv.h"
#include "platform/WinTime.h"

namespace {

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
