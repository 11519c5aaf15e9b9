#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netlib/core/WinUtil.h"
#include "platform/WinErr.h"

using namespace tessik;

namespace {

// The registry and message wrappers pass straight through to platform/, whose
// tests cover them; the provider is checked for the context it leaves open.
TEST(WinWrappers, BaseProviderGivesRandomBytes) {
    int before = platform::CryptOpenContextCount();
    platform::HCRYPTPROV prov = acquireBaseCryptProvider();
    ASSERT_NE(prov, 0u);
    EXPECT_EQ(platform::CryptOpenContextCount(), before + 1);
    BYTE a[32] = {}, b[32] = {};
    ASSERT_TRUE(platform::CryptGenRandom(prov, sizeof a, a));
    ASSERT_TRUE(platform::CryptGenRandom(prov, sizeof b, b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    EXPECT_TRUE(platform::CryptReleaseContext(prov, 0));
    platform::HCRYPTPROV other = 5;
    EXPECT_FALSE(cryptAcquireContext(&other, "container", platform::kBaseCryptProvider, platform::PROV_RSA_FULL, 0));
    EXPECT_EQ(other, 0u);
}

} // namespace
