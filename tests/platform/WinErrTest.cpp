#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "platform/WinErr.h"

namespace {

using namespace platform;

TEST(WinErr, ErrnoMapsToTheCodesTheLibraryTests) {
    struct Case { int err; DWORD code; };
    const Case cases[] = {
        {0, ERROR_SUCCESS},          {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ERROR_PATH_NOT_FOUND}, {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED}, {EROFS, ERROR_ACCESS_DENIED},
        {ENXIO, ERROR_NOT_READY},    {EBUSY, ERROR_SHARING_VIOLATION},
        {EEXIST, ERROR_ALREADY_EXISTS}, {ENOSPC, ERROR_DISK_FULL},
        {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE}, {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
        {EISDIR, ERROR_DIRECTORY},   {EINVAL, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) EXPECT_EQ(WinErrorFromErrno(c.err), c.code) << c.err;
}

TEST(WinErr, SocketErrnoMapsToWinsockCodes) {
    EXPECT_EQ(WsaErrorFromErrno(ECONNREFUSED), 10061u);
    EXPECT_EQ(WsaErrorFromErrno(EAGAIN), 10035u);
    EXPECT_EQ(WsaErrorFromErrno(ETIMEDOUT), 10060u);
    EXPECT_EQ(WsaErrorFromErrno(ECONNRESET), 10054u);
    EXPECT_EQ(WsaErrorFromErrno(EINPROGRESS), 10036u);
}

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
    EXPECT_EQ(WinErrorText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
    EXPECT_EQ(WinErrorText(ERROR_ACCESS_DENIED), "Access is denied.");
    EXPECT_EQ(WinErrorText(WSAECONNREFUSED),
              "No connection could be made because the target machine actively refused it.");
    EXPECT_EQ(WinErrorText(424242), "Unknown error 424242.");
}

}  // namespace
