// Memory and file outputs, the reroute from memory to a file, and the file
// information record; files are judged by reading them back whole.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "netlib/streams/Gzip.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/StreamConstants.h"
#include "netlib/streams/TsFileInfo.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string held(const DataBuffer& db) {
    return std::string(reinterpret_cast<char*>(db.getData()), db.getSize());
}

std::string description(Output& out) {
    StringBuffer sb;
    out.getDescription(sb);
    return sb.getString();
}

} // namespace

TEST(OutputDataBuffer, WritesSeeksAndOverwritesAtItsIndex) {
    DataBuffer db;
    db.append("0123456789", 10);
    OutputDataBuffer out(&db);
    LogNull log;
    EXPECT_EQ(out.getPosition64(), 10);
    EXPECT_EQ(out.writeBytes("abcdefghijkl", 4, 3, nullptr, log), 3u);
    EXPECT_EQ(out.getPosition64(), 22);
    EXPECT_EQ(out.writeBytes("x", 1, 0, nullptr, log), 0u);
    ASSERT_TRUE(out.seekTo(5, log));
    EXPECT_EQ(out.writeBytesNoProgress("XY", 1, 2, log), 2u);
    EXPECT_EQ(held(db), "01234XY789abcdefghijkl");
    ASSERT_TRUE(out.seekTo(25, log));
    EXPECT_TRUE(out.writeSb(StringBuffer("!"), nullptr, log));
    EXPECT_EQ(held(db), "01234XY789abcdefghijkl" + std::string(3, '\0') + "!");
    EXPECT_FALSE(out.seekTo(0x100000000LL, log));
    EXPECT_FALSE(out.seekTo(-1, log));
}

TEST(OutputDataBuffer, BorrowedBlockIsCopiedNotOverwritten) {
    const char original[] = "borrowed";
    DataBuffer db;
    db.borrowData(original, 8);
    OutputDataBuffer out(&db);
    LogNull log;
    ASSERT_TRUE(out.seekTo(0, log));
    EXPECT_EQ(out.writeBytesNoProgress("B", 1, 1, log), 1u);
    EXPECT_EQ(held(db), "Borrowed");
    EXPECT_STREQ(original, "borrowed");
}

// Products in 64 bits: a block the 32-bit buffer cannot hold is refused
// whole, never cut to its low word.
TEST(OutputDataBuffer, BlockOver4GBOrOverflowingProductReturns0) {
    struct Case {
        std::uint64_t size;
        std::uint32_t count;
        bool use64;
    } cases[] = {
        {0x100000001ULL, 1, true},        // element size with a high word
        {0x10000, 0x10000, false},        // 2^32 exactly: low word 0
        {0x80000000ULL, 3, false},        // wraps to 2^31 in 32 bits
        {0x4000000000000000ULL, 8, true}, // overflows 64 bits
    };
    for (const Case& c : cases) {
        DataBuffer db;
        db.append("keep", 4);
        OutputDataBuffer out(&db);
        RecordingLog log;
        std::uint32_t r = c.use64 ? out.writeBytes64("data", c.size, c.count, nullptr, log)
                                  : out.writeBytes("data", static_cast<std::uint32_t>(c.size), c.count, nullptr, log);
        EXPECT_EQ(r, 0u) << c.size << " x " << c.count;
        EXPECT_TRUE(out.isHalted());
        EXPECT_EQ(held(db), "keep");
        EXPECT_EQ(out.writeBytesNoProgress("more", 1, 4, log), 0u);
    }
}

class RerouteTest : public TempTree {};

TEST_F(RerouteTest, MovesEverythingToTheFileWhenTheLimitIsPassed) {
    // needed = index + bytes + 8 against a limit of 100: 92 bytes stay, 93 move.
    struct Case {
        std::uint32_t first, second;
        bool moves;
    } cases[] = {{50, 42, false}, {50, 43, true}, {50, 60, true}, {0, 200, true}};
    for (const Case& c : cases) {
        DataBuffer db;
        OutputDataBuffer out(&db);
        out.setReroute(100, path("r.bin").c_str());
        LogNull log;
        std::string a(c.first, 'a'), b(c.second, 'b');
        if (c.first) {
            ASSERT_EQ(out.writeBytesNoProgress(a.data(), 1, c.first, log), c.first);
        }
        ASSERT_EQ(out.writeBytes64(b.data(), c.second, 1, nullptr, log), 1u);
        EXPECT_EQ(out.isRerouted(), c.moves) << c.second;
        EXPECT_EQ(out.getPosition64(), c.first + c.second);
        if (!c.moves) {
            EXPECT_EQ(held(db), a + b);
            EXPECT_FALSE(exists("r.bin"));
            continue;
        }
        EXPECT_EQ(db.getSize(), 0u);
        EXPECT_EQ(out.writeBytesNoProgress("z", 1, 1, log), 1u);
        EXPECT_EQ(get("r.bin"), a + b + "z");
    }
}

TEST_F(RerouteTest, KeepsAnEarlierSeekWhenMoving) {
    DataBuffer db;
    OutputDataBuffer out(&db);
    out.setReroute(64, path("s.bin").c_str());
    LogNull log;
    std::string big(60, 'b');
    ASSERT_EQ(out.writeBytesNoProgress("0123456789", 1, 10, log), 10u);
    ASSERT_TRUE(out.seekTo(4, log));
    ASSERT_EQ(out.writeBytesNoProgress(big.data(), 1, 60, log), 60u);
    EXPECT_EQ(get("s.bin"), "0123" + big);
}

TEST_F(RerouteTest, NeverReroutesWithoutAPathAndStaysInMemoryWhenTheFileCannotBeMade) {
    for (std::string target : {std::string(), path("no/such/dir/f.bin")}) {
        DataBuffer db;
        OutputDataBuffer out(&db);
        out.setReroute(10, target.c_str());
        LogNull log;
        EXPECT_EQ(out.writeBytesNoProgress("0123456789abcdef", 1, 16, log), 16u);
        EXPECT_FALSE(out.isRerouted());
        EXPECT_EQ(held(db), "0123456789abcdef");
    }
}

TEST_F(RerouteTest, FileThatCannotTakeTheContentIsDeletedAndTheOutputHalts) {
    DataBuffer db;
    OutputDataBuffer out(&db);
    out.setReroute(100, path("short.bin").c_str());
    RecordingLog log;
    std::string head(90, 'h');
    ASSERT_EQ(out.writeBytesNoProgress(head.data(), 1, 90, log), 90u);
    {
        grvtest::FileSizeLimit limit(64);
        EXPECT_EQ(out.writeBytesNoProgress("tail", 1, 4, log), 0u);
    }
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kRerouteFailed)) << log.all();
    EXPECT_FALSE(exists("short.bin"));
    EXPECT_TRUE(out.isHalted());
    EXPECT_EQ(held(db), head);
    EXPECT_EQ(out.writeBytesNoProgress("tail", 1, 4, log), 0u);
}

class OutputFileTest : public TempTree {};

TEST_F(OutputFileTest, WritesSeeksAppendsAndResets) {
    put("f.bin", "an old and longer content");
    OutputFile out;
    LogNull log;
    EXPECT_TRUE(out.resetOutput(log)); // nothing written: no file touched
    EXPECT_EQ(get("f.bin"), "an old and longer content");
    ASSERT_TRUE(out.createFile(path("f.bin").c_str(), log));
    EXPECT_EQ(out.writeBytes64("abc", 3, 0, nullptr, log), 0u);
    EXPECT_EQ(out.writeBytes("abcdef", 3, 2, nullptr, log), 2u);
    ASSERT_TRUE(out.seekTo(1, log));
    EXPECT_EQ(out.writeBytesNoProgress("X", 1, 1, log), 1u);
    EXPECT_EQ(out.getPosition64(), 2);
    ASSERT_TRUE(out.seekToEnd(log));
    EXPECT_EQ(out.writeBytesNoProgress("!", 1, 1, log), 1u);
    EXPECT_EQ(out.getPosition64(), 7);
    EXPECT_EQ(description(out), "file: " + path("f.bin"));
    // The old content stands until the new one is all there.
    EXPECT_EQ(get("f.bin"), "an old and longer content");
    ASSERT_TRUE(out.commit(log));
    EXPECT_EQ(get("f.bin"), "aXcdef!");

    ASSERT_TRUE(out.openForAppend(path("f.bin").c_str(), log));
    EXPECT_EQ(out.getPosition64(), 7);
    EXPECT_EQ(out.writeBytesNoProgress("+", 1, 1, log), 1u);
    EXPECT_EQ(get("f.bin"), "aXcdef!+");
    out.close(); // an append not committed is taken back
    EXPECT_EQ(get("f.bin"), "aXcdef!");
    ASSERT_TRUE(out.openForAppend(path("f.bin").c_str(), log));
    ASSERT_TRUE(out.resetOutput(log));
    EXPECT_EQ(out.getPosition64(), 0);
    EXPECT_EQ(out.writeBytesNoProgress("new", 1, 3, log), 3u);
    ASSERT_TRUE(out.commit(log));
    EXPECT_EQ(get("f.bin"), "new");
}

TEST_F(OutputFileTest, ReportsAbortOverflowAndShortWritesAs0) {
    OutputFile out;
    RecordingLog log;
    ASSERT_TRUE(out.createFile(path("g.bin").c_str(), log));
    AsyncProgressEvent sink;
    sink.setAbort(true);
    ProgressMonitor monitor(&sink, 100);
    EXPECT_EQ(out.writeBytes("0123456789", 1, 10, &monitor, log), 0u);
    EXPECT_TRUE(log.has(std::string("I:") + stream_msg::kAborted));
    EXPECT_EQ(out.writeBytes64("x", 0x4000000000000000ULL, 8, nullptr, log), 0u);
    std::string big(100, 'b');
    {
        grvtest::FileSizeLimit limit(40);
        EXPECT_EQ(out.writeBytesNoProgress(big.data(), 1, 100, log), 0u);
    }
    EXPECT_EQ(out.getPosition64(), 40); // the bytes that did land
    out.close();
    EXPECT_FALSE(exists("g.bin")); // a content that failed is no file
}

class TsFileInfoTest : public TempTree {};

TEST_F(TsFileInfoTest, ReadsSizeKindAndLocalTimesOrSaysNotFound) {
    put("info.txt", "twelve bytes");
    tsFileInfo info;
    RecordingLog log;
    ASSERT_TRUE(info.loadFileInfo(path("info.txt").c_str(), &log));
    EXPECT_EQ(info.size, 12u);
    // Local FILETIME of the modification time, as python computes it.
    std::string expected =
        python3Line("import os,sys,time; st=os.stat(sys.argv[1]); "
                    "print(st.st_mtime_ns//100 + time.localtime(st.st_mtime).tm_gmtoff*10**7 + 116444736000000000)",
                    path("info.txt"));
    EXPECT_EQ(std::to_string(info.lastWriteTime.ticks()), expected);

    ASSERT_TRUE(info.loadFileInfo(dir.c_str(), &log));
    EXPECT_EQ(info.isDirectory, 1);

    EXPECT_FALSE(info.loadFileInfo(path("missing").c_str(), &log));
    EXPECT_EQ(info.notFound, 1);
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kFileNotFound));
}

namespace {

constexpr const char* kOldBytes = "old bytes\n";
constexpr const char* kNewBytes = "new body\n";

enum class FileRoad { Create, Append, UnGzip };

// Each road that writes a path the caller names, into each kind of target:
// the file output as open() opens it, and the un-gzip in place, which
// replaces a regular file (through a link) and refuses anything else.
void RunFileRoads(const std::vector<grvtest::TargetKind>& kinds) {
    using grvtest::TargetKind;
    const grvtest::RunResult gz =
        grvtest::Python("import gzip, sys; sys.stdout.buffer.write(gzip.compress(sys.argv[1].encode()))", {kNewBytes});
    ASSERT_TRUE(gz.Ok()) << gz.err;
    grvtest::TempDir dir;
    int n = 0;
    for (FileRoad road : {FileRoad::Create, FileRoad::Append, FileRoad::UnGzip})
        for (TargetKind kind : kinds) {
            const char* roadName = road == FileRoad::Create   ? "createFile"
                                   : road == FileRoad::Append ? "openForAppend"
                                                              : "unGzipFile";
            SCOPED_TRACE(std::string(roadName) + " into " + grvtest::TargetKindName(kind));
            const std::string folder = dir.File("case" + std::to_string(n++));
            ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
            const std::string old = road == FileRoad::UnGzip ? gz.out : kOldBytes;
            grvtest::WriteTarget target(folder, "t", kind, old);
            ASSERT_EQ(target.Error(), 0);
            LogNull log;
            bool ok = false;
            if (road == FileRoad::UnGzip) {
                ok = Gzip::unGzipFile(target.Path().c_str(), log);
            } else {
                OutputFile out;
                ok = (road == FileRoad::Create ? out.createFile(target.Path().c_str(), log)
                                               : out.openForAppend(target.Path().c_str(), log)) &&
                     out.writeBytes(kNewBytes, 1, std::strlen(kNewBytes), nullptr, log) == std::strlen(kNewBytes) &&
                     out.commit(log);
            }
            // A regular file (or a link's target) holds what the road makes
            // of it; anything else stays what it was.
            const bool regular = kind == TargetKind::Regular || kind == TargetKind::Link;
            const bool refused = road == FileRoad::UnGzip && !regular;
            const std::string content =
                road == FileRoad::Append && regular ? kOldBytes + std::string(kNewBytes) : std::string(kNewBytes);
            const std::string want = kind == TargetKind::PrivateDevice ? "device(1,3)"
                                     : kind == TargetKind::Fifo        ? "fifo:" + (refused ? "" : content)
                                     : kind == TargetKind::Link        ? "link(t.target)->file:" + content
                                     : refused                         ? "absent"
                                                                       : "file:" + content;
            EXPECT_EQ(ok, !refused);
            EXPECT_EQ(target.Describe(), want);
            std::size_t entries = 0;
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                entries += entry.path().filename() != "t" && entry.path().filename() != "t.target";
            EXPECT_EQ(entries, 0u) << "nothing of the call's own stays beside the target";
        }
}

} // namespace

TEST(FileTargets, OutputsOpenAsOpenDoesAndUnGzipReplacesOnlyRegularFiles) {
    RunFileRoads({grvtest::TargetKind::Absent, grvtest::TargetKind::Regular, grvtest::TargetKind::Link,
                  grvtest::TargetKind::Fifo});
}

TEST(FileTargets, OutputsIntoAPrivateDeviceLeaveItADevice) {
    RunFileRoads({grvtest::TargetKind::PrivateDevice});
}
