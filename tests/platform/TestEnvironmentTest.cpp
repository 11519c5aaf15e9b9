// Every test executable runs in a private home with a pinned time zone;
// later Qt tests rely on this, so it is checked once here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

TEST(TestEnvironment, HomeAndXdgArePrivateAndTimeZoneIsPinned) {
    const std::string home = env("HOME");
    ASSERT_FALSE(home.empty());
    EXPECT_NE(home.find("grv-test."), std::string::npos) << home;
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"}) {
        EXPECT_EQ(env(v).rfind(home.substr(0, home.size() - 5), 0), 0u) << v << "=" << env(v);
    }
    EXPECT_FALSE(env("TZ").empty());
    EXPECT_EQ(env("QT_QPA_PLATFORM"), "offscreen");
}

} // namespace
