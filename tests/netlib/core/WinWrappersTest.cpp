#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/WinUtil.h"
#include "platform/FormatMessage.h"
#include "platform/WinErr.h"

using namespace tessik;

namespace {

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

TEST(WinWrappers, RegistryCallsReachTheProxySettings) {
    ::setenv("http_proxy", "http://127.0.0.1:3128", 1);
    platform::HKEY key = 0;
    ASSERT_EQ(regOpenKey(platform::HKEY_CURRENT_USER, platform::kInternetSettingsKey, 0, platform::KEY_READ, &key), 0);
    char server[64];
    DWORD size = sizeof server;
    EXPECT_EQ(platform::RegQueryValueExA(key, "ProxyServer", nullptr, nullptr, reinterpret_cast<BYTE*>(server), &size),
              0);
    EXPECT_STREQ(server, "http=127.0.0.1:3128");
    platform::RegCloseKey(key);
    ::unsetenv("http_proxy");

    DWORD disposition = 0;
    ASSERT_EQ(regCreateKey(platform::HKEY_CURRENT_USER, "Software\\Bravenor\\Wrappers", 0, nullptr, 0,
                           platform::KEY_ALL_ACCESS, nullptr, &key, &disposition),
              0);
    EXPECT_EQ(disposition, platform::REG_CREATED_NEW_KEY);
    platform::RegCloseKey(key);
}

TEST(WinWrappers, FormatMessagePassesThrough) {
    char buf[128];
    DWORD n = formatMessage(platform::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, platform::ERROR_SHARING_VIOLATION, 0, buf,
                            sizeof buf, nullptr);
    EXPECT_EQ(std::string(buf, n),
              "The process cannot access the file because it is being used by another process.\r\n");
}

}  // namespace
