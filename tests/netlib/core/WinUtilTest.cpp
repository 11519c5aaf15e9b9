#include <gtest/gtest.h>

#include <string>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/WinUtil.h"
#include "platform/Identity.h"
#include "platform/WinErr.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string firstLine(const std::string& s) {
    return s.substr(0, s.find('\n'));
}

TEST(WinUtil, NamesMatchTheSystemTools) {
    const auto id = grvtest::RunProgram({"id", "-un"});
    ASSERT_EQ(id.status, 0) << id.err;
    std::string user = firstLine(id.out);
    tessik::StringBuffer sb("u=");
    getUserNameSb(sb);
    EXPECT_EQ(std::string(sb.getString()), "u=" + user);

    std::string host = firstLine(grvtest::RunProgram({"hostname"}).out);
    tessik::StringBuffer hb;
    getComputerNameSb(hb);
    EXPECT_EQ(std::string(hb.getString()), host.substr(0, host.find('.')));
}

TEST(WinUtil, SmallBuffersReportTheNeededSize) {
    char tiny[1];
    DWORD size = sizeof tiny;
    EXPECT_FALSE(platform::GetUserNameA(tiny, &size));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(size, 1u);
    char name[256];
    DWORD needed = size;
    EXPECT_TRUE(platform::GetUserNameA(name, &size));
    EXPECT_EQ(size, needed); // counts the NUL
    size = 0;
    EXPECT_FALSE(platform::GetComputerNameA(nullptr, &size));
}

} // namespace
