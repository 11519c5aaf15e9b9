// Permission checks only mean something when the kernel makes them: these
// tests run their bodies as nobody (see reranAsNobody) on files root made.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "FileTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/XString.h"

using namespace tessik;

namespace {

class AsNobody : public ::testing::Test {
protected:
    void SetUp() override {
        if (isNobodyRun()) {
            dir = sharedFolderFromRoot() + "/";
            return;
        }
        // tests/run-test.sh leaves these out for a runner that cannot act as
        // another user.
        ASSERT_EQ(::geteuid(), 0u) << "only root can prepare files of another user";
        // The test's own temp folder is closed to other users.
        sharedDir.emplace("grv-perm", grvtest::SharedTempRoot());
        shared = sharedDir->Path();
        dir = shared + "/";
        ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
        makeDir("locked", 0755, 0);
        makeFile("locked/secret.txt", "secret", 0600, 0);
        makeFile("locked/public.txt", "public", 0644, 0);
        makeFile("locked/ro.txt", "ro", 0444, 0);
        makeDir("closed", 0700, 0);
        makeFile("closed/f.txt", "f", 0644, 0);
        makeDir("mine", 0755, kNobodyId);
        makeFile("mine/ro.txt", "old", 0444, kNobodyId);
    }
    bool delegated() { return reranAsNobody(shared); }

    void makeDir(const std::string& name, mode_t mode, unsigned owner) {
        ASSERT_EQ(::mkdir((dir + name).c_str(), mode), 0);
        ASSERT_EQ(::chmod((dir + name).c_str(), mode), 0);
        ASSERT_EQ(::chown((dir + name).c_str(), owner, owner), 0);
    }
    void makeFile(const std::string& name, const std::string& content, mode_t mode, unsigned owner) {
        {
            std::ofstream f(dir + name, std::ios::binary);
            f << content;
        }
        ASSERT_EQ(::chmod((dir + name).c_str(), mode), 0);
        ASSERT_EQ(::chown((dir + name).c_str(), owner, owner), 0);
    }
    std::string contents(const std::string& name) { return grvtest::ReadFile(dir + name); }
    mode_t modeOf(const std::string& name) {
        struct stat st;
        EXPECT_EQ(::stat((dir + name).c_str(), &st), 0);
        return st.st_mode & 07777;
    }

    std::optional<grvtest::TempDir> sharedDir;
    std::string shared;
    std::string dir;
};

TEST_F(AsNobody, ReadingAnotherUsersFileIsAccessDenied) {
    if (delegated())
        return;
    ASSERT_NE(::geteuid(), 0u);
    for (const char* name : {"locked/secret.txt", "closed/f.txt"}) {
        SCOPED_TRACE(name);
        XPath p(dir + name);
        int kind = kOpenNoError;
        RecordingLog log;
        EXPECT_EQ(openFileForReadPtr(p, kind, &log), nullptr);
        EXPECT_EQ(kind, kOpenAccessDenied);
        EXPECT_TRUE(log.has("E:Failed to open file (2)")) << log.all();
        EXPECT_EQ(log.data("osErrorInfo"), "Access is denied.");
        DataBuffer db;
        EXPECT_FALSE(db.loadFileUtf8((dir + name).c_str(), nullptr));
        bool ok = true;
        getFileSize64(p, nullptr, ok);
        EXPECT_FALSE(ok);
    }
    // A file that cannot be reached is not a file that is missing.
    EXPECT_TRUE(fileExistsUtf8((dir + "closed/f.txt").c_str(), nullptr));
    bool ok = false;
    EXPECT_EQ(getFileSize64Utf8((dir + "locked/public.txt").c_str(), nullptr, ok), 6);
    EXPECT_TRUE(ok);
}

TEST_F(AsNobody, WritingWithoutPermissionChangesNothing) {
    if (delegated())
        return;
    RecordingLog log;
    XPath fresh(dir + "locked/new.txt");
    EXPECT_FALSE(writeWholeFile(fresh, "x", 1, &log));
    EXPECT_TRUE(log.has("E:Failed to write complete file (7)")) << log.all();
    EXPECT_EQ(log.data("filename"), dir + "locked/new.txt");
    EXPECT_NE(::access((dir + "locked/new.txt").c_str(), F_OK), 0);

    XPath pub(dir + "locked/public.txt");
    EXPECT_FALSE(appendToFile(pub, "more", 4, nullptr));
    EXPECT_FALSE(writeWholeFile(pub, "over", 4, nullptr));
    EXPECT_FALSE(writeWholeFileWithHeader(pub, "h", 1, "d", 1, nullptr));
    EXPECT_EQ(contents("locked/public.txt"), "public");
}

TEST_F(AsNobody, ReadOnlyFileOfAnotherUserStaysReadOnly) {
    if (delegated())
        return;
    XPath p(dir + "locked/ro.txt");
    int kind = kOpenNoError;
    RecordingLog log;
    EXPECT_EQ(openFile(p, false, true, true, false, false, kind, &log), nullptr);
    EXPECT_EQ(kind, kOpenAccessDenied);
    EXPECT_EQ(contents("locked/ro.txt"), "ro");
    EXPECT_EQ(modeOf("locked/ro.txt"), 0444u);
}

// What open(), python and cp refuse: the owner made the file read-only.
TEST_F(AsNobody, OwnReadOnlyFileIsNotReplaced) {
    if (delegated())
        return;
    XPath p(dir + "mine/ro.txt");
    RecordingLog log;
    EXPECT_FALSE(writeWholeFile(p, "new", 3, &log));
    EXPECT_TRUE(log.has(std::string("E:") + filesys_msg::kReadOnlyFile)) << log.all();
    EXPECT_FALSE(appendToFile(p, "new", 3, nullptr));
    EXPECT_EQ(contents("mine/ro.txt"), "old");
    EXPECT_EQ(modeOf("mine/ro.txt"), 0444u);
}

TEST_F(AsNobody, DirectoryTreeStopsWhereWritingIsRefused) {
    if (delegated())
        return;
    ExtPtrArray created;
    created.setOwnsObjects(true);
    RecordingLog log;
    EXPECT_FALSE(ensureDirectoryTree((dir + "locked/a/b").c_str(), &created, &log));
    EXPECT_TRUE(log.has("E:Cannot ensure directory existence")) << log.all();
    EXPECT_EQ(log.data("path"), dir + "locked/a");
    EXPECT_EQ(created.getCount(), 0);
    EXPECT_TRUE(ensureDirectoryTree((dir + "mine/a/b").c_str(), &created, nullptr));
    EXPECT_EQ(created.getCount(), 2);
}

TEST_F(AsNobody, TempNameInAFolderWithoutPermission) {
    if (delegated())
        return;
    XPath base("t"), d(dir + "locked"), out("stale");
    RecordingLog log;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(makeTempFileName(base, d, out, &log));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_STREQ(out.getUtf8(), "");
    EXPECT_EQ(log.data("WindowsError"), "Access is denied.");
    tessik::StringBuffer sb;
    ASSERT_TRUE(getTempFilenameInDir("t", (dir + "mine").c_str(), sb, nullptr));
}

TEST_F(AsNobody, DeletingWithoutPermission) {
    if (delegated())
        return;
    RecordingLog log;
    EXPECT_FALSE(deleteFileUtf8((dir + "locked/public.txt").c_str(), &log));
    EXPECT_EQ(log.data("failedToDeleteFilepath"), dir + "locked/public.txt");
    EXPECT_EQ(log.data("WindowsError"), "Access is denied.");
    EXPECT_EQ(contents("locked/public.txt"), "public");
    EXPECT_TRUE(deleteFileUtf8((dir + "locked/none.txt").c_str(), nullptr));
}

} // namespace
