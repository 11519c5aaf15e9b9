#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "platform/WinErr.h"

namespace {

using namespace platform;

// Real failures, not the mapping table restated.
TEST(WinErr, RealFailuresSetLastError) {
    ASSERT_EQ(::open("/nonexistent-dir-for-grv/file", O_RDONLY), -1);
    EXPECT_EQ(SetLastErrorFromErrno(errno), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // A file used as a folder is a bad path, not a missing file.
    ASSERT_EQ(::open("/proc/self/status/x", O_RDONLY), -1);
    EXPECT_EQ(SetLastErrorFromErrno(errno), ERROR_PATH_NOT_FOUND);
}

TEST(WinErr, LastErrorIsPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOther = 12345;
    std::thread t([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_DISK_FULL);
    });
    t.join();
    EXPECT_EQ(seenByOther, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(WinErr, TextsNameTheFailure) {
    EXPECT_EQ(WinErrorText(WSAECONNREFUSED),
              "No connection could be made because the target machine actively refused it.");
    EXPECT_EQ(WinErrorText(424242), "Unknown error 424242.");
}

} // namespace
