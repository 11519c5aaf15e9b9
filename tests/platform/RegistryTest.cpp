#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/CryptProv.h"
#include "platform/FormatMessage.h"
#include "platform/Registry.h"
#include "platform/WinErr.h"

namespace {

using namespace platform;

class ProxyEnv : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* n : kNames)
            ::unsetenv(n);
        RegResetForTest();
    }
    void TearDown() override {
        for (const char* n : kNames)
            ::unsetenv(n);
    }
    static std::string text(HKEY key, const char* name, LONG* rc = nullptr) {
        char buf[256];
        DWORD size = sizeof buf, type = 0;
        LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
        if (rc)
            *rc = r;
        if (r != 0)
            return "<" + std::to_string(r) + ">";
        EXPECT_EQ(type, REG_SZ);
        EXPECT_EQ(buf[size - 1], '\0');
        return std::string(buf);
    }
    static DWORD dword(HKEY key, const char* name) {
        DWORD v = 99, size = 4, type = 0;
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), 0);
        EXPECT_EQ(type, REG_DWORD);
        return v;
    }
    static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                             "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
};

TEST_F(ProxyEnv, SettingsFollowTheEnvironment) {
    struct Case {
        const char* http;
        const char* httpsUpper;
        const char* noProxy;
        DWORD enable;
        const char* server;
        const char* override;
    } cases[] = {
        {nullptr, nullptr, nullptr, 0, "<2>", "<2>"},
        {"http://proxy.lan:3128/", nullptr, nullptr, 1, "http=proxy.lan:3128", "<2>"},
        {"http://u:pw@p:8080", "https://sp:443", "localhost,.example.com, 10.0.0.1", 1,
         "http=u:pw@p:8080;https=https://sp:443", "localhost,.example.com, 10.0.0.1"},
        {"http://u;a=b:p;https=x@p:8080/", nullptr, nullptr, 1, "http=u%3Ba%3Db:p%3Bhttps%3Dx@p:8080", "<2>"},
        {nullptr, "sp:8443", "*", 1, "https=sp:8443", "*"},
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.http)
            ::setenv("http_proxy", c.http, 1);
        if (c.httpsUpper)
            ::setenv("HTTPS_PROXY", c.httpsUpper, 1);
        if (c.noProxy)
            ::setenv("no_proxy", c.noProxy, 1);
        HKEY k = 0;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, &k), 0);
        EXPECT_EQ(dword(k, "ProxyEnable"), c.enable);
        EXPECT_EQ(text(k, "ProxyServer"), c.server);
        EXPECT_EQ(text(k, "proxyoverride"), c.override);
        EXPECT_EQ(RegCloseKey(k), 0);
    }
}

TEST_F(ProxyEnv, CreatedKeysKeepTheirValues) {
    HKEY k = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Bravenor\\Test", 0, KEY_READ, &k),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Bravenor\\Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              &disp),
              0);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    const char value[] = "hello";
    ASSERT_EQ(RegSetValueExA(k, "Greeting", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value), 0);
    RegCloseKey(k);

    HKEY parent = 0, child = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\BRAVENOR", 0, KEY_READ, &parent), 0);
    ASSERT_EQ(RegOpenKeyExA(parent, "test", 0, KEY_READ, &child), 0);
    EXPECT_EQ(text(child, "GREETING"), "hello");
    char small[3];
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(child, "Greeting", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 6u);
    LONG rc = 0;
    text(child, "Missing", &rc);
    EXPECT_EQ(rc, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Bravenor\\Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              &disp),
              0);
    EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
    RegCloseKey(k);
    RegCloseKey(child);
    RegCloseKey(parent);
    EXPECT_EQ(RegCloseKey(parent), static_cast<LONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegQueryValueExA(parent, "x", nullptr, nullptr, nullptr, &size), static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST(CryptProvider, AcquireChecksNamesTypesFlagsAndContainers) {
    struct Case {
        const char* container;
        const char* provider;
        DWORD type, flags;
        bool ok;
        DWORD error;
    } cases[] = {
        {nullptr, kBaseCryptProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, true, 0},
        {nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET, true, 0},
        {nullptr, kBaseCryptProvider, PROV_RSA_FULL, 0, false, NTE_BAD_KEYSET},
        {"mine", kBaseCryptProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, false, NTE_BAD_KEYSET},
        {nullptr, "Some Other Provider", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, false, NTE_KEYSET_NOT_DEF},
        {nullptr, kBaseCryptProvider, 99, CRYPT_VERIFYCONTEXT, false, NTE_BAD_PROV_TYPE},
        {nullptr, kBaseCryptProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | 0x4, false, NTE_BAD_FLAGS},
    };
    for (const auto& c : cases) {
        HCRYPTPROV p = 77;
        EXPECT_EQ(CryptAcquireContextA(&p, c.container, c.provider, c.type, c.flags) != FALSE, c.ok);
        if (c.ok) {
            EXPECT_NE(p, 0u);
            EXPECT_TRUE(CryptReleaseContext(p, 0));
        } else {
            EXPECT_EQ(p, 0u);
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

TEST(CryptProvider, RandomBytesNeedAnOpenContext) {
    HCRYPTPROV p = 0;
    ASSERT_TRUE(CryptAcquireContextA(&p, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    BYTE a[64] = {}, b[64] = {};
    ASSERT_TRUE(CryptGenRandom(p, sizeof a, a));
    ASSERT_TRUE(CryptGenRandom(p, sizeof b, b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    ASSERT_TRUE(CryptReleaseContext(p, 0));
    EXPECT_FALSE(CryptGenRandom(p, sizeof a, a));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptReleaseContext(p, 0));
}

TEST(SystemMessages, TextOfAnErrorCode) {
    char buf[200];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED,
                             0, buf, sizeof buf, nullptr);
    EXPECT_EQ(std::string(buf, n), "Access is denied.\r\n");
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buf, 5, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char* block = nullptr;
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND, 0,
                       reinterpret_cast<char*>(&block), 0, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(block, n), "The system cannot find the file specified.\r\n");
    LocalFree(block);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "x", 0, 0, buf, sizeof buf, nullptr), 0u);
}

} // namespace
