#include <gtest/gtest.h>

#include "platform/Paths.h"

namespace {

TEST(Paths, BackslashesBecomeSlashes) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"C:\\Users\\me\\journal.grv", "C:/Users/me/journal.grv"},
        {"/already/unix", "/already/unix"},
        {"mixed\\and/both\\", "mixed/and/both/"},
        {"\\\\server\\share", "//server/share"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::NormalizeSeparators(c.in), c.out) << c.in;
}

} // namespace
