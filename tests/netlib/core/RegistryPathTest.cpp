// Opening registry keys by '/'-separated paths in the registry stand-in; the
// access a key was opened with shows in whether it takes a value.
#include <gtest/gtest.h>

#include "netlib/core/RegistryPath.h"
#include "platform/WinErr.h"

using namespace tessik;

namespace {

LONG setValue(platform::HKEY key) {
    const BYTE one[] = {'1', 0};
    return platform::RegSetValueExA(key, "Probe", 0, platform::REG_SZ, one, sizeof one);
}

class RegistryPath : public ::testing::Test {
protected:
    void SetUp() override {
        platform::RegResetForTest();
        platform::HKEY k = 0;
        ASSERT_EQ(platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, "Software\\Gorvane\\Test\\Deep", 0, nullptr, 0,
                                            platform::KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  0);
        platform::RegCloseKey(k);
    }
};

TEST_F(RegistryPath, OpensLevelByLevelWritableOnlyWhenAsked) {
    struct Case {
        const char* path;
        bool readOnly;
        LONG setResult;
    } cases[] = {
        {"Software/Gorvane/Test", true, platform::ERROR_ACCESS_DENIED},
        {"Software/Gorvane/Test", false, platform::ERROR_SUCCESS},
        {"Software//Gorvane/Test/Deep", true, platform::ERROR_ACCESS_DENIED},
        {"/Software/Gorvane//Test/Deep", false, platform::ERROR_SUCCESS},
        // A trailing '/' names no level: the last named one is still writable.
        {"Software/Gorvane/Test/", false, platform::ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        platform::HKEY key = regOpenKeyPathCurrentUser(c.path, c.readOnly);
        ASSERT_NE(key, 0u) << c.path;
        EXPECT_EQ(setValue(key), c.setResult) << c.path;
        regCloseKeyUnlessPredefined(key);
        // Closed: a second close finds no such handle.
        EXPECT_EQ(platform::RegCloseKey(key), static_cast<LONG>(platform::ERROR_INVALID_HANDLE)) << c.path;
    }
}

TEST_F(RegistryPath, ReachesTheProxySettingsAndRefusesMissingLevels) {
    platform::HKEY settings =
        regOpenKeyPathCurrentUser("/Software/Microsoft/Windows/CurrentVersion/Internet Settings", true);
    ASSERT_NE(settings, 0u);
    DWORD enabled = 7, size = sizeof enabled;
    EXPECT_EQ(
        platform::RegQueryValueExA(settings, "ProxyEnable", nullptr, nullptr, reinterpret_cast<BYTE*>(&enabled), &size),
        0);
    regCloseKeyUnlessPredefined(settings);

    EXPECT_EQ(regOpenKeyPathCurrentUser("Software/Gorvane/Missing", true), 0u);
    EXPECT_EQ(regOpenKeyPathLocalMachine("Software/Gorvane/Test", true), 0u);
    EXPECT_EQ(regOpenKeyPathCurrentUser(nullptr, true), 0u);
    EXPECT_EQ(regOpenKeyPathCurrentUser("", true), 0u);
    // No named level at all: the root itself, which is never closed.
    EXPECT_EQ(regOpenKeyPathCurrentUser("//", false), platform::HKEY_CURRENT_USER);
    regCloseKeyUnlessPredefined(platform::HKEY_CURRENT_USER);
    platform::HKEY software = regOpenKeyPathCurrentUser("Software", true);
    EXPECT_NE(software, 0u);
    regCloseKeyUnlessPredefined(software);
}

} // namespace
