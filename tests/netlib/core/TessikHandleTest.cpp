#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "FileTestSupport.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/XString.h"

using namespace tessik;

namespace {

constexpr std::int64_t kFiveGiB = 5LL << 30;

class Handle : public TempTree {
protected:
    // A new file open for reading and writing.
    void create(TessikHandle& h, const std::string& name) {
        XPath p(path(name));
        int kind = 0;
        TessikHandle* opened = openFile(p, true, true, true, false, false, kind, nullptr);
        ASSERT_NE(opened, nullptr);
        h.takeFrom(*opened);
        delete opened;
    }
};

TEST_F(Handle, LargeWritesGoOutInPieces) {
    TessikHandle h;
    create(h, "big.bin");
    std::vector<unsigned char> data(25000000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i % 251);
    std::uint64_t before = TessikHandle::writeCallCountForTest();
    std::uint64_t written = 0;
    ASSERT_TRUE(h.writeBytes64(data.data(), data.size(), &written, nullptr));
    EXPECT_EQ(TessikHandle::writeCallCountForTest() - before, 3u);
    EXPECT_EQ(written, 25000000u);
    h.close();
    EXPECT_EQ(grvtest::ReadBytes(path("big.bin")), data);
}

TEST_F(Handle, ReadingAtTheEnd) {
    put("r.txt", "abc");
    TessikHandle h;
    XPath p(path("r.txt"));
    int kind = 0;
    ASSERT_TRUE(openFileForRead(h, p, kind, nullptr));
    char buf[10];
    std::uint32_t n = 0;
    bool eof = false;
    ASSERT_TRUE(h.readBytes(buf, sizeof buf, &n, &eof, nullptr));
    EXPECT_EQ(n, 3u);
    ASSERT_TRUE(h.readBytes(buf, sizeof buf, &n, &eof, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(eof);
    RecordingLog log;
    EXPECT_FALSE(h.readBytes(buf, 0, &n, &eof, &log));
    EXPECT_FALSE(eof);
    EXPECT_FALSE(h.readBytes(nullptr, 5, &n, &eof, &log));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"E:NULL buf or bufSize", "E:NULL buf or bufSize"}));
}

TEST_F(Handle, TakeFromLeavesTheSourceEmpty) {
    TessikHandle a;
    create(a, "t.txt");
    {
        TessikHandle b;
        b.takeFrom(a);
        EXPECT_FALSE(a.isOpen());
        EXPECT_TRUE(b.isOpen());
        a.takeFrom(b);
    }
    // b's destructor had nothing to close: a still writes.
    EXPECT_TRUE(a.writeBytes64("ok", 2, nullptr, nullptr));
    a.close();
    EXPECT_EQ(get("t.txt"), "ok");
}

TEST(HandleClosed, AnswersFailureWithoutLogging) {
    TessikHandle h;
    RecordingLog log;
    EXPECT_FALSE(h.isOpen());
    EXPECT_EQ(h.getPosition64(&log), -1);
    EXPECT_EQ(h.getFileSize64(&log), -1);
    EXPECT_FALSE(h.seekRelative64(1, &log));
    platform::FILETIME ft;
    EXPECT_FALSE(h.getFileTimes(&ft, &ft, &ft));
    EXPECT_TRUE(log.lines.empty()) << log.all();
    EXPECT_FALSE(h.writeBytes64("x", 1, nullptr, &log));
    EXPECT_EQ(log.lines, std::vector<std::string>{"E:Failed to write because file is not open."});
}

TEST_F(Handle, PositionsBeyondFourGiBOnASparseFile) {
    TessikHandle h;
    create(h, "sparse.bin");
    RecordingLog log;
    ASSERT_TRUE(h.seekAbsolute64(kFiveGiB, &log));
    ASSERT_TRUE(h.writeBytes64("tail", 4, nullptr, &log));
    EXPECT_EQ(h.getPosition64(&log), kFiveGiB + 4);
    EXPECT_EQ(h.getFileSize64(&log), kFiveGiB + 4);
    ASSERT_TRUE(h.seekRelative64(-kFiveGiB, &log));
    EXPECT_EQ(h.getPosition64(&log), 4);
    ASSERT_TRUE(h.seekToEnd(&log));
    EXPECT_EQ(h.getPosition64(&log), kFiveGiB + 4);
    // A position whose low word is all ones is a position, not a failure.
    const std::int64_t allOnes = 0x1FFFFFFFFLL;
    ASSERT_TRUE(h.seekAbsolute64(allOnes, &log));
    EXPECT_EQ(h.getPosition64(&log), allOnes);
    ASSERT_TRUE(h.seekAbsolute64(kFiveGiB, &log));
    char buf[8];
    std::uint32_t n = 0;
    bool eof = false;
    ASSERT_TRUE(h.readBytes(buf, sizeof buf, &n, &eof, &log));
    EXPECT_EQ(std::string(buf, n), "tail");
    EXPECT_TRUE(log.lines.empty()) << log.all();

    // Too big for the 32-bit query: a failure, not a wrong size.
    EXPECT_EQ(h.getFileSize32(&log), -1);
    EXPECT_TRUE(log.has("E:Failed to get file size (32)")) << log.all();
    RecordingLog seekLog;
    EXPECT_FALSE(h.seekAbsolute64(-5, &seekLog));
    EXPECT_TRUE(seekLog.has("E:Failed to SetFilePointer to absolute file position")) << seekLog.all();
    EXPECT_TRUE(seekLog.has("Q:position=-5"));
    h.close();
    // python3 sees the same file.
    EXPECT_EQ(python3Line("import os,sys; print(os.path.getsize(sys.argv[1]))", path("sparse.bin")),
              std::to_string(kFiveGiB + 4));
}

TEST_F(Handle, StdioStreamsSeekTheWholePosition) {
    FILE* f = std::fopen(path("stream.bin").c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    TessikHandle h;
    h.attachStdioStream(f);
    EXPECT_TRUE(h.isOpen());
    RecordingLog log;
    ASSERT_TRUE(h.seekAbsolute64(kFiveGiB, &log));
    ASSERT_TRUE(h.writeBytes64("end", 3, nullptr, &log));
    EXPECT_EQ(h.getFileSize64(&log), kFiveGiB + 3);
    EXPECT_EQ(h.getPosition64(&log), kFiveGiB + 3);
    ASSERT_TRUE(h.seekRelative64(-3, &log));
    char buf[8];
    std::uint32_t n = 0;
    bool eof = false;
    ASSERT_TRUE(h.readBytes(buf, sizeof buf, &n, &eof, &log));
    EXPECT_EQ(std::string(buf, n), "end");
    EXPECT_TRUE(eof);
    ASSERT_TRUE(h.seekToEnd(&log));
    EXPECT_FALSE(h.seekRelative64(-2 * kFiveGiB, &log));
    EXPECT_TRUE(log.has("E:Failed to fseek to relative file position")) << log.all();
}

TEST_F(Handle, FileTimes) {
    TessikHandle h;
    create(h, "times.txt");
    platform::FILETIME created{}, accessed{}, written{};
    ASSERT_TRUE(h.getFileTimes(&created, &accessed, &written));
    auto seconds = [](const platform::FILETIME& ft) {
        return platform::FileTimeTicksToUnixTime(platform::FileTimeToTicks(ft));
    };
    std::int64_t now = std::time(nullptr);
    EXPECT_LE(std::abs(seconds(written) - now), 5);
    EXPECT_LE(std::abs(seconds(created) - now), 5);
    EXPECT_LE(seconds(created), seconds(written));
}

} // namespace
