#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/File.h"
#include "platform/WinErr.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace platform;

class PlatformFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder.emplace("pf");
        dir = folder->Path() + "/";
    }
    void TearDown() override { folder.reset(); }
    std::string put(const char* name, const std::string& content) {
        const std::string p = dir + name;
        EXPECT_TRUE(grvtest::WriteFile(p, content)) << p;
        return p;
    }
    std::optional<grvtest::TempDir> folder;
    std::string dir;
};

TEST_F(PlatformFile, MissingFileAndMissingFolderGiveTheirOwnCodes) {
    struct Case {
        std::string path;
        DWORD disposition;
        DWORD code;
    } cases[] = {
        {dir + "nothing.txt", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {dir + "nofolder/x.txt", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {dir + "nofolder/x.txt", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateFile(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, c.disposition, FILE_ATTRIBUTE_NORMAL),
                  INVALID_HANDLE_VALUE)
            << c.path;
        EXPECT_EQ(GetLastError(), c.code) << c.path;
    }
    EXPECT_EQ(GetFileAttributes((dir + "nofolder/x").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(PlatformFile, BackslashesAreSeparators) {
    put("a.txt", "abc");
    std::string win = dir;
    for (char& c : win)
        if (c == '/')
            c = '\\';
    HANDLE h = CreateFile((win + "a.txt").c_str(), GENERIC_READ, 3, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[8];
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n));
    EXPECT_EQ(std::string(buf, n), "abc");
    CloseHandle(h);
}

TEST_F(PlatformFile, SharingConflictsBetweenOpens) {
    std::string p = put("s.txt", "x");
    struct Case {
        DWORD firstShare, secondShare;
        bool secondOpens;
    } cases[] = {
        {3, 3, true}, {3, 0, false}, {0, 3, false}, {0, 0, false}, {1, 1, true},
    };
    for (const auto& c : cases) {
        HANDLE a = CreateFile(p.c_str(), GENERIC_READ, c.firstShare, OPEN_EXISTING, 0);
        ASSERT_NE(a, INVALID_HANDLE_VALUE);
        HANDLE b = CreateFile(p.c_str(), GENERIC_READ, c.secondShare, OPEN_EXISTING, 0);
        EXPECT_EQ(b != INVALID_HANDLE_VALUE, c.secondOpens) << c.firstShare << "/" << c.secondShare;
        if (b == INVALID_HANDLE_VALUE)
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        else
            CloseHandle(b);
        CloseHandle(a);
    }
}

TEST_F(PlatformFile, RefusedCreateAlwaysLeavesTheContents) {
    std::string p = put("keep.txt", "precious");
    HANDLE a = CreateFile(p.c_str(), GENERIC_READ, 0, OPEN_EXISTING, 0);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFile(p.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    DWORD high = 1;
    EXPECT_EQ(GetFileSize(a, &high), 8u);
    EXPECT_EQ(high, 0u);
    CloseHandle(a);
}

TEST_F(PlatformFile, ReadOnlyFileRefusesWritingEvenToRoot) {
    std::string p = put("ro.txt", "x");
    ASSERT_TRUE(SetFileAttributes(p.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributes(p.c_str()), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CreateFile(p.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE r = CreateFile(p.c_str(), GENERIC_READ, 3, OPEN_EXISTING, 0);
    EXPECT_NE(r, INVALID_HANDLE_VALUE);
    CloseHandle(r);
    EXPECT_EQ(GetFileAttributes(dir.c_str()), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(PlatformFile, PositionsBeyondFourGiBOnASparseFile) {
    std::string p = dir + "sparse.bin";
    HANDLE h = CreateFile(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // 5 GiB + 7: high word 1, low word 0x40000007.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 0x40000007, &high, FILE_BEGIN), 0x40000007u);
    EXPECT_EQ(high, 1);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "end", 3, &n));
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x4000000Au);
    EXPECT_EQ(sizeHigh, 1u);
    high = -2; // back by 5 GiB + 10, to the start
    EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0xBFFFFFF6u), &high, FILE_CURRENT), 0u);
    EXPECT_EQ(high, 0);
    high = -1;
    EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    CloseHandle(h);
}

TEST_F(PlatformFile, DeleteAndCreateDirectoryCodes) {
    EXPECT_FALSE(DeleteFile((dir + "gone").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFile(dir.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CreateDirectory((dir + "sub/").c_str()));
    EXPECT_FALSE(CreateDirectory((dir + "sub").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectory((dir + "x/y").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(PlatformFile, PrivateNewFileRefusesExistingNamesAndLinks) {
    std::string p = dir + "t.tmp";
    ASSERT_TRUE(CreateNewPrivateFile(p.c_str()));
    struct stat st;
    ASSERT_EQ(::lstat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(CreateNewPrivateFile(p.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    // A dangling link planted by someone else is not followed.
    std::string link = dir + "link.tmp", target = dir + "target";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(CreateNewPrivateFile(link.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_NE(::access(target.c_str(), F_OK), 0);
}

TEST(PlatformPath, FullPathName) {
    std::string cwd = GetCurrentDirectory();
    ASSERT_FALSE(cwd.empty());
    struct Case {
        std::string in, want;
    } cases[] = {
        {"/a/b/../c/./d.txt", "/a/c/d.txt"},
        {"\\a\\\\b\\c.txt", "/a/b/c.txt"},
        {"/a/b/", "/a/b/"},
        {"/..", "/"},
        {"rel/x.txt", (cwd == "/" ? "" : cwd) + "/rel/x.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetFullPathName(c.in), c.want) << c.in;
    EXPECT_EQ(GetFullPathName(""), "");
}

TEST(PlatformPath, TempPathEndsInSeparator) {
    std::string t = GetTempPath();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.back(), '/');
    const char* env = std::getenv("TMPDIR");
    if (env && *env) {
        EXPECT_EQ(t.rfind(env, 0), 0u);
    }
}

} // namespace
