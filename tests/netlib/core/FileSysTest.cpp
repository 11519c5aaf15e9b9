#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "FileTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/XString.h"
#include "platform/WinErr.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string full(XString& path) {
    XString out;
    getFullPathName(path, out);
    return out.getUtf8();
}

std::vector<std::string> listed(ExtPtrArray& a) {
    std::vector<std::string> out;
    for (int i = 0; i < a.getCount(); ++i)
        out.push_back(static_cast<StringBuffer*>(a.elementAt(i))->getString());
    return out;
}

mode_t modeOf(const std::string& p) {
    struct stat st;
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

// ---------------------------------------------------------------- paths

TEST(FilePaths, LongFormIsTheFullPath) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    XPath rel("sub\\a.txt");
    XString out;
    toLongPathForm(rel, out);
    EXPECT_EQ(std::string(out.getUtf8()), std::string(cwd) + "/sub/a.txt");
    XPath abs("/srv/share/../share/a.txt");
    EXPECT_EQ(full(abs), "/srv/share/a.txt");
}

TEST(FilePaths, JoinDirAndFileName) {
    struct Case {
        const char* dir;
        const char* name;
        const char* want;
    } cases[] = {
        {"  /a/b  ", "c.txt", "/a/b/c.txt"},
        {"/a/b/", "x/y.txt", "/a/b/y.txt"},
        {"\\a\\b", "c", "/a/b/c"},
        {"", "/q/z.txt", "z.txt"},
        {"/a", "/q/", "/a/"},
    };
    for (const auto& c : cases) {
        XPath d(c.dir), n(c.name);
        XString out;
        joinDirAndFileName(d, n, out);
        EXPECT_STREQ(out.getUtf8(), c.want) << c.dir << " + " << c.name;
    }
}

// ---------------------------------------------------------------- directory trees

class FileTree : public TempTree {};

TEST_F(FileTree, EnsureDirectoryTreeCreatesAndListsEachLevel) {
    ASSERT_EQ(::mkdir(path("a").c_str(), 0755), 0);
    put("file", "x");
    struct Case {
        std::string path;
        bool ok;
        std::vector<std::string> created;
        std::string failedAt;
    } cases[] = {
        {dir + "a/b/c", true, {dir + "a/bD", dir + "a/b/cD"}, ""},
        {dir + "a/b/c", true, {}, ""},
        {dir + "a\\d\\\\e\\", true, {dir + "a/dD", dir + "a/d//eD"}, ""},
        {"  " + dir + "x  ", true, {dir + "xD"}, ""},
        {dir + "file/g/h", false, {}, dir + "file"},
        {"   ", true, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ExtPtrArray created;
        created.setOwnsObjects(true);
        RecordingLog log;
        EXPECT_EQ(ensureDirectoryTree(c.path.c_str(), &created, &log), c.ok) << log.all();
        EXPECT_EQ(listed(created), c.created);
        if (!c.ok) {
            EXPECT_TRUE(log.has("E:Cannot ensure directory existence")) << log.all();
            EXPECT_EQ(log.data("path"), c.failedAt);
        }
    }
    EXPECT_TRUE(exists("a/b/c"));
    EXPECT_TRUE(exists("a/d/e"));
    EXPECT_FALSE(exists("file/g"));
}

TEST_F(FileTree, EnsureParentDirectory) {
    StringBuffer work;
    RecordingLog log;
    EXPECT_FALSE(ensureParentDirectory(nullptr, work, &log));
    EXPECT_TRUE(log.has("E:No filePath"));
    EXPECT_TRUE(ensureParentDirectory("plain.txt", work, &log));
    EXPECT_TRUE(ensureParentDirectory("/top.txt", work, &log));
    std::string p = " " + dir + "p\\q/file.txt ";
    EXPECT_TRUE(ensureParentDirectory(p.c_str(), work, &log));
    EXPECT_TRUE(exists("p/q"));
    EXPECT_FALSE(exists("p/q/file.txt"));
    EXPECT_STREQ(work.getString(), (dir + "p/q").c_str());
}

TEST_F(FileTree, CreateDirectoryIfMissing) {
    struct Case {
        std::string path;
        bool ok, created;
    } cases[] = {
        {"", true, false},        {".", true, false},          {dir + "n", true, true},
        {dir + "n", true, false}, {dir + "m/n", false, false},
    };
    for (const auto& c : cases) {
        bool created = true;
        RecordingLog log;
        EXPECT_EQ(createDirectoryIfMissing(c.path.c_str(), created, &log), c.ok) << c.path;
        EXPECT_EQ(created, c.created) << c.path;
        if (!c.ok) {
            EXPECT_NE(log.data("errorMsg"), "<none>");
        }
    }
}

// ---------------------------------------------------------------- temporary names

TEST_F(FileTree, TempNamesAreReservedBeforeTheyAreReturned) {
    struct Case {
        const char* base;
        const char* pattern;
    } cases[] = {
        {"report", "report_[A-Z0-9]{4}\\.tmp"},
        {"", "x_[A-Z0-9]{4}\\.tmp"},
        {"a.b.c", "a\\.b_[A-Z0-9]{4}\\.c"},
        {"log.xml", "log_[A-Z0-9]{4}\\.xml"},
    };
    for (const auto& c : cases) {
        XPath base(c.base), d(dir);
        XString out;
        RecordingLog log;
        ASSERT_TRUE(makeTempFileName(base, d, out, &log)) << log.all();
        std::string p = out.getUtf8();
        EXPECT_TRUE(std::regex_match(p, std::regex(std::regex_replace(dir, std::regex("[.]"), "\\.") + c.pattern)))
            << p;
        // The name is taken: an empty file only its owner may touch.
        EXPECT_EQ(modeOf(p), 0600u) << p;
        EXPECT_EQ(get(p.substr(dir.size())), "");
    }
    // A folder given without its separator gets one.
    XPath base("r"), d(dir.substr(0, dir.size() - 1));
    XString out;
    ASSERT_TRUE(makeTempFileName(base, d, out, nullptr));
    EXPECT_EQ(std::string(out.getUtf8()).rfind(dir + "r_", 0), 0u);
}

TEST_F(FileTree, TempNamesNeverRepeat) {
    std::set<std::string> names;
    for (int i = 0; i < 300; ++i) {
        StringBuffer out;
        ASSERT_TRUE(getTempFilenameInDir("n", dir.c_str(), out, nullptr));
        EXPECT_TRUE(names.insert(out.getString()).second) << out.getString();
    }
}

TEST_F(FileTree, TempNameInAMissingFolderFailsAtOnce) {
    XPath base("r"), d(dir + "missing"), out("stale");
    RecordingLog log;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(makeTempFileName(base, d, out, &log));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_STREQ(out.getUtf8(), "");
    EXPECT_TRUE(log.has("E:Failed to create a temporary file")) << log.all();
}

TEST_F(FileTree, TempFilenameAppendsAndUsesTheTempFolder) {
    StringBuffer out("prefix:");
    ASSERT_TRUE(getTempFilename("t", out, nullptr));
    XString tmp;
    getTempPath(tmp);
    std::string got = out.getString();
    ASSERT_EQ(got.rfind(std::string("prefix:") + tmp.getUtf8() + "t_", 0), 0u) << got;
    std::remove(got.substr(7).c_str());
}

// ---------------------------------------------------------------- whole files

TEST_F(FileTree, WholeFileWriteReplacesTheContents) {
    XPath p(path("w.bin"));
    RecordingLog log;
    ASSERT_TRUE(writeWholeFile(p, "first version", 13, &log));
    ASSERT_TRUE(writeWholeFile(p, "second", 6, &log));
    EXPECT_EQ(get("w.bin"), "second");
    ASSERT_TRUE(writeWholeFileUtf8(path("empty.bin").c_str(), nullptr, 0, &log));
    EXPECT_TRUE(exists("empty.bin"));
    XString none;
    EXPECT_FALSE(writeWholeFile(none, "x", 1, &log));
    EXPECT_TRUE(log.lines.empty()) << log.all();

    XPath bad(path("nofolder/w.bin"));
    EXPECT_FALSE(writeWholeFile(bad, "x", 1, &log));
    EXPECT_EQ(log.data("filename"), path("nofolder/w.bin")) << log.all();
}

TEST_F(FileTree, AppendAddsAtTheEnd) {
    XPath p(path("log.txt"));
    ASSERT_TRUE(appendToFile(p, "one\n", 4, nullptr));
    ASSERT_TRUE(appendToFile(p, "two\n", 4, nullptr));
    EXPECT_EQ(get("log.txt"), "one\ntwo\n");
}

// The whole-file write and the append into each kind of target: as open()
// opens it, through a link, and into a FIFO or a device as it stands.
void WriteAndAppendInto(std::initializer_list<grvtest::TargetKind> kinds) {
    using grvtest::TargetKind;
    grvtest::TempDir dir;
    int n = 0;
    for (bool append : {false, true})
        for (TargetKind kind : kinds) {
            SCOPED_TRACE(std::string(append ? "appendToFile into " : "writeWholeFile into ") +
                         grvtest::TargetKindName(kind));
            const std::string folder = dir.File("case" + std::to_string(n++));
            ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
            grvtest::WriteTarget target(folder, "t", kind, "old\n");
            ASSERT_EQ(target.Error(), 0);
            XPath p(target.Path());
            EXPECT_TRUE(append ? appendToFile(p, "new\n", 4, nullptr) : writeWholeFile(p, "new\n", 4, nullptr));
            const bool regular = kind == TargetKind::Absent || kind == TargetKind::Regular || kind == TargetKind::Link;
            const std::string content = append && kind != TargetKind::Absent && regular ? "old\nnew\n" : "new\n";
            EXPECT_EQ(target.Describe(), kind == TargetKind::PrivateDevice ? "device(1,3)"
                                         : kind == TargetKind::Fifo        ? "fifo:" + content
                                         : kind == TargetKind::Link        ? "link(t.target)->file:" + content
                                                                           : "file:" + content);
        }
}

TEST(FileTargets, WholeFileWritesAndAppendsGoThroughLinksAndIntoPipes) {
    WriteAndAppendInto({grvtest::TargetKind::Absent, grvtest::TargetKind::Regular, grvtest::TargetKind::Link,
                        grvtest::TargetKind::Fifo});
}

TEST(FileTargets, WholeFileWritesAndAppendsIntoAPrivateDeviceLeaveItADevice) {
    WriteAndAppendInto({grvtest::TargetKind::PrivateDevice});
}

TEST_F(FileTree, HeaderFilesRoundTripAndMatchTheLayout) {
    XPath p(path("cache.bin"));
    const std::string header = "HDR-fields", body(70000, 'b');
    std::string n(4, '\0');
    std::uint32_t total = static_cast<std::uint32_t>(4 + header.size());
    for (int i = 0; i < 4; ++i)
        n[i] = static_cast<char>(total >> (8 * i));
    std::string head = n + header;
    ASSERT_TRUE(writeWholeFileWithHeader(p, head.data(), static_cast<std::uint32_t>(head.size()), body.data(),
                                         body.size(), nullptr));
    // python3 reads the layout independently.
    EXPECT_EQ(python3Line("import struct,sys; d=open(sys.argv[1],'rb').read(); n=struct.unpack('<I',d[:4])[0]; "
                          "print(n, d[4:n].decode(), len(d)-n, set(d[n:]) == {98})",
                          path("cache.bin")),
              "14 HDR-fields 70000 True");

    DataBuffer loadedHeader, loadedBody;
    ASSERT_TRUE(loadedBody.loadFileWithHeader(path("cache.bin").c_str(), loadedHeader, 1000, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(loadedHeader.getData()), loadedHeader.getSize()), header);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(loadedBody.getData()), loadedBody.getSize()), body);

    // The same bytes from a FIFO, its writer there first or the call first:
    // split where python's read() of it splits, where the header's read
    // found no writer yet and failed.
    const std::string fifo = path("cache.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool writerFirst : {true, false}) {
        SCOPED_TRACE(writerFirst ? "writer first" : "call first");
        const std::string python = grvtest::PythonReadOfFifo(fifo, head + body, writerFirst);
        ASSERT_EQ(python, head + body);
        bool ok = false;
        grvtest::FeedFifo(fifo, python, writerFirst,
                          [&] { ok = loadedBody.loadFileWithHeader(fifo.c_str(), loadedHeader, 1000, nullptr); });
        ASSERT_TRUE(ok);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(loadedHeader.getData()), loadedHeader.getSize()),
                  python.substr(4, total - 4));
        EXPECT_TRUE(std::string(reinterpret_cast<char*>(loadedBody.getData()), loadedBody.getSize()) ==
                    python.substr(total));
    }

    ASSERT_TRUE(writeFileWithHeaderAnsi(path("h2.bin").c_str(), nullptr, 0, "data", 4, nullptr));
    EXPECT_EQ(get("h2.bin"), "data");
    XString none;
    EXPECT_FALSE(writeWholeFileWithHeader(none, "h", 1, "d", 1, nullptr));
}

TEST_F(FileTree, DeletingAMissingFileSucceeds) {
    put("d.txt", "x");
    RecordingLog log;
    EXPECT_TRUE(deleteFileUtf8(path("d.txt").c_str(), &log));
    EXPECT_FALSE(exists("d.txt"));
    EXPECT_TRUE(deleteFileUtf8(path("d.txt").c_str(), &log));
    EXPECT_TRUE(deleteFileAnsi(path("never.txt").c_str(), &log));
    EXPECT_TRUE(log.lines.empty()) << log.all();
    // A missing folder is a different matter.
    EXPECT_FALSE(deleteFileUtf8(path("nofolder/x").c_str(), &log));
    EXPECT_EQ(log.data("failedToDeleteFilepath"), path("nofolder/x"));
    EXPECT_NE(log.data("WindowsError"), "<none>");
}

TEST_F(FileTree, NamesTheWindowsFileSystemRefusesAreSanitised) {
    XPath p(path("a:b|c*<d>\".txt"));
    int kind = 0;
    TessikHandle* h = openFile(p, false, true, false, false, false, kind, nullptr);
    ASSERT_NE(h, nullptr);
    delete h;
    EXPECT_TRUE(exists("a_b_c__d__.txt"));
    EXPECT_FALSE(exists("a:b|c*<d>\".txt"));
}

TEST_F(FileTree, OpenErrorKinds) {
    ASSERT_EQ(::mkdir(path("d").c_str(), 0755), 0);
    struct Case {
        std::string path;
        bool write;
        int kind;
    } cases[] = {
        {path("nofolder/x"), false, kOpenPathNotFound},
        {path("missing.txt"), false, kOpenOtherError},
        {path("d"), true, kOpenAccessDenied},
    };
    for (const auto& c : cases) {
        XPath p(c.path);
        int kind = kOpenNoError;
        RecordingLog log;
        EXPECT_EQ(openFile(p, true, c.write, false, false, false, kind, &log), nullptr) << c.path;
        EXPECT_EQ(kind, c.kind) << c.path;
        EXPECT_EQ(log.data("filename"), c.path) << log.all();
    }
    // Without a log the kind is left alone.
    XPath p(path("missing.txt"));
    int kind = 42;
    EXPECT_EQ(openFileForReadPtr(p, kind, nullptr), nullptr);
    EXPECT_EQ(kind, 42);
}

TEST_F(FileTree, LongPathsGoThroughTheWideCall) {
    std::string deep = dir;
    for (int i = 0; i < 6; ++i)
        deep += std::string(50, static_cast<char>('a' + i)) + "/";
    ASSERT_TRUE(ensureDirectoryTree(deep.c_str(), nullptr, nullptr));
    XPath p(deep + "missing.txt");
    int kind = 0;
    RecordingLog log;
    EXPECT_EQ(openFileForReadPtr(p, kind, &log), nullptr);
    EXPECT_TRUE(log.has("E:Failed to open file (3)")) << log.all();
    EXPECT_EQ(log.data("utf8Filename"), deep + "missing.txt");
    ASSERT_TRUE(writeWholeFile(p, "deep", 4, nullptr));
    bool ok = false;
    EXPECT_EQ(getFileSize64(p, nullptr, ok), 4);
    EXPECT_TRUE(ok);
    EXPECT_EQ(getFileSize32Utf8(path("none.bin").c_str(), nullptr, ok), 0u);
    EXPECT_FALSE(ok);
}

TEST_F(FileTree, OpenRetriesWhileAnotherProcessHoldsTheFile) {
    put("held.txt", "x");
    struct Case {
        double holdSeconds;
        bool opens;
        int minMs, maxMs;
    } cases[] = {
        {0.6, false, 150, 590},
        {0.08, true, 50, 1500},
    };
    for (const auto& c : cases) {
        std::remove(path("held.flag").c_str());
        std::atomic<bool> ended{false};
        std::thread holder([&] {
            grvtest::Python("import fcntl,sys,time; f=open(sys.argv[1],'rb'); "
                            "fcntl.flock(f, fcntl.LOCK_EX); open(sys.argv[2], 'w').close(); time.sleep(" +
                                std::to_string(c.holdSeconds) + ")",
                            {path("held.txt"), path("held.flag")});
            ended = true;
        });
        while (!exists("held.flag") && !ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!exists("held.flag")) {
            holder.join();
            FAIL() << "the holder never took the lock";
        }
        XPath p(path("held.txt"));
        int kind = 0;
        RecordingLog log;
        auto start = std::chrono::steady_clock::now();
        TessikHandle* h = openFileForReadPtr(p, kind, &log);
        auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(h != nullptr, c.opens) << log.all();
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
        if (!h) {
            EXPECT_EQ(platform::GetLastError(), platform::ERROR_SHARING_VIOLATION);
            EXPECT_EQ(kind, kOpenOtherError);
        }
        delete h;
        holder.join();
    }
}

// ---------------------------------------------------------------- attributes, moving, sizes

TEST_F(FileTree, ExistenceAndAttributes) {
    put("e.txt", "abc");
    RecordingLog log;
    EXPECT_TRUE(fileExistsAnsi(dir.c_str(), &log));
    EXPECT_FALSE(fileExistsUtf8(nullptr, &log));
    EXPECT_FALSE(fileExistsUtf8(path("nope").c_str(), &log));
    EXPECT_EQ(log.data("WindowsError"), "The system cannot find the file specified.");

    DWORD attrs = 0, err = 0;
    XPath missing(path("x/y"));
    EXPECT_FALSE(GetAttributes(missing, attrs, err, nullptr));
    EXPECT_EQ(err, platform::ERROR_PATH_NOT_FOUND);

    XPath e(path("e.txt"));
    ASSERT_TRUE(setFileAttributesSanitized(e, platform::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(modeOf(path("e.txt")) & 0222, 0u);
    ASSERT_TRUE(setFileAttributesSanitized(e, platform::FILE_ATTRIBUTE_NORMAL));
    EXPECT_NE(modeOf(path("e.txt")) & S_IWUSR, 0u);
}

TEST_F(FileTree, DirectoryHandles) {
    XPath d(dir), missing(path("nofolder/sub"));
    int kind = 0;
    TessikHandle h;
    RecordingLog log;
    EXPECT_TRUE(openDirectoryHandle(h, d, kind, nullptr));
    EXPECT_EQ(openDirectoryForRead(missing, kind, &log), nullptr); // the kind is set only with a log
    EXPECT_EQ(kind, kOpenPathNotFound);
}

TEST_F(FileTree, LoadersReadThroughTheHandle) {
    std::string name = "d\xC3\xA9j\xC3\xA0 vu.bin"; // UTF-8 name
    put(name, "contents");
    DataBuffer db;
    ASSERT_TRUE(db.loadFileUtf8(path(name).c_str(), nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(db.getData()), db.getSize()), "contents");
    XPath wide(path(name));
    ASSERT_TRUE(db.loadFileWide(wide.getUtf16(), nullptr));
    EXPECT_EQ(db.getSize(), 8u);
    EXPECT_FALSE(db.loadFileAnsi(nullptr, nullptr));
}

} // namespace
