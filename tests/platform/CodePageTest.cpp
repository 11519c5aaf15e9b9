#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace {

TEST(CodePage, AnsiIsUtf8AndOemIs437) {
    EXPECT_EQ(platform::GetACP(), 65001u);
    EXPECT_EQ(platform::GetOEMCP(), 437u);
}

TEST(CodePage, OverrideSwitchesAndZeroRestores) {
    platform::SetAnsiCodePageOverride(1252);
    EXPECT_EQ(platform::GetACP(), 1252u);
    EXPECT_EQ(platform::GetOEMCP(), 437u);
    platform::SetAnsiCodePageOverride(0);
    EXPECT_EQ(platform::GetACP(), 65001u);
}

} // namespace
