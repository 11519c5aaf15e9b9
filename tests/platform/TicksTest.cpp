#include <gtest/gtest.h>

#include "platform/Ticks.h"

namespace {

TEST(Ticks, SleepAdvancesTheMonotonicCount) {
    UINT64 before = platform::GetTickCount64();
    DWORD before32 = platform::GetTickCount();
    platform::Sleep(30);
    UINT64 after = platform::GetTickCount64();
    EXPECT_GE(after - before, 30u);
    // The 32-bit count is the low half of the 64-bit one, so differences
    // stay right across its wrap.
    EXPECT_GE(static_cast<DWORD>(platform::GetTickCount() - before32), 30u);
    EXPECT_EQ(static_cast<DWORD>(after), static_cast<DWORD>(after & 0xffffffffu));
}

} // namespace
