// Memory and file sources: chunked reads to the end, copies to an output,
// and signature scans judged against the offsets zipinfo reports.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/FileSys.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/StreamConstants.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kEndRecordSig = 0x06054b50;

// Local header offsets in archive order, then the end record's offset.
std::vector<std::int64_t> zipinfoOffsets(const std::string& zip) {
    const auto listed = grvtest::RunProgram({"zipinfo", "-v", zip});
    std::istringstream out(listed.out);
    std::vector<std::int64_t> offsets;
    std::int64_t end = -1;
    for (std::string line; std::getline(out, line);) {
        const std::string local = "offset of local header from start of archive:";
        const std::string endRec = "Actual end-cent-dir record offset:";
        if (auto at = line.find(local); at != std::string::npos)
            offsets.push_back(std::stoll(line.substr(at + local.size())));
        if (auto at = line.find(endRec); at != std::string::npos)
            end = std::stoll(line.substr(at + endRec.size()));
    }
    EXPECT_EQ(listed.status, 0) << listed.err;
    offsets.push_back(end);
    return offsets;
}

// Every local header, then the end record, as the scan finds them.
std::vector<std::int64_t> scanOffsets(DataSource& src) {
    std::vector<std::int64_t> found;
    RecordingLog log;
    std::uint64_t skipped = 0;
    std::int64_t from = src.getPosition64();
    while (src.scanForUint32(kLocalHeaderSig, &skipped, &log)) {
        EXPECT_EQ(from + static_cast<std::int64_t>(skipped) + 4, src.getPosition64());
        from = src.getPosition64();
        found.push_back(from - 4);
    }
    EXPECT_TRUE(src.seekAbsolute64(0, &log));
    if (src.scanForUint32(kEndRecordSig, &skipped, &log))
        found.push_back(src.getPosition64() - 4);
    EXPECT_EQ(log.all(), "");
    return found;
}

} // namespace

TEST(MemoryDataSource, ReadsInChunksSeeksAndScans) {
    const char data[] = "0123456\x50\x4b\x03\x04xyz"; // signature at offset 7
    MemoryDataSource src;
    src.setData(data, 10, false);
    char buf[4];
    std::uint32_t n = 0;
    std::vector<std::uint32_t> sizes;
    while (src.readChunk(buf, sizeof buf, &n, nullptr))
        sizes.push_back(n);
    EXPECT_EQ(sizes, (std::vector<std::uint32_t>{4, 4, 2}));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(src.endOfStream());
    EXPECT_EQ(src.getNumBytesRead64(), 10u);

    src.rewind();
    EXPECT_TRUE(src.readChunk(const_cast<char*>(data), 10, &n, nullptr)); // own block: no copy
    EXPECT_EQ(n, 10u);
    EXPECT_FALSE(src.readChunk(const_cast<char*>(data), 10, &n, nullptr));

    ASSERT_TRUE(src.seekAbsolute64(3, nullptr));
    EXPECT_TRUE(src.seekRelative64(-5, nullptr));
    EXPECT_EQ(src.getPosition64(), 0);
    EXPECT_TRUE(src.seekAbsolute64(100, nullptr));
    EXPECT_EQ(src.getPosition64(), 10);

    src.setData(data, 14, false);
    std::uint64_t skipped = 0;
    EXPECT_TRUE(src.scanForUint32(kLocalHeaderSig, &skipped, nullptr));
    EXPECT_EQ(skipped, 7u);
    EXPECT_EQ(src.getPosition64(), 11);
    EXPECT_FALSE(src.scanForUint32(kLocalHeaderSig, &skipped, nullptr));

    MemoryDataSource empty;
    DataBuffer db;
    OutputDataBuffer out(&db);
    EXPECT_TRUE(empty.copyToOutput(out, nullptr, nullptr));
    EXPECT_EQ(db.getSize(), 0u);
}

class FileDataSourceTest : public TempTree {};

TEST_F(FileDataSourceTest, ReadsToTheEndAndCopiesWithItsCrc) {
    put("empty", "");
    FileDataSource* empty = FileDataSource::openForRead(path("empty").c_str(), nullptr);
    ASSERT_NE(empty, nullptr);
    char buf[8];
    std::uint32_t n = 7;
    EXPECT_TRUE(empty->readChunk(buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(empty->endOfStream());
    EXPECT_FALSE(empty->readChunkStrict(buf, sizeof buf, &n, nullptr));
    delete empty;

    std::string content;
    for (int i = 0; i < 45000; ++i)
        content += static_cast<char>(i * 7 + i / 251);
    put("data", content);
    FileDataSource* src = FileDataSource::openForRead(path("data").c_str(), nullptr);
    ASSERT_NE(src, nullptr);
    DataBuffer db;
    OutputDataBuffer out(&db);
    ASSERT_TRUE(src->copyToOutput(out, nullptr, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(db.getData()), db.getSize()), content);
    EXPECT_EQ(src->getNumBytesRead64(), content.size());
    EXPECT_EQ(std::to_string(src->getCrc32()),
              python3Line("import sys,zlib; print(zlib.crc32(open(sys.argv[1],'rb').read()))", path("data")));
    delete src;

    src = FileDataSource::openForRead(path("data").c_str(), nullptr);
    OutputDataBuffer broken(nullptr);
    RecordingLog log;
    EXPECT_FALSE(src->copyToOutput(broken, nullptr, &log));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kCopyWriteFailed));
    delete src;
    EXPECT_EQ(FileDataSource::openForRead(path("missing").c_str(), nullptr), nullptr);
}

class ScanTest : public TempTree {
protected:
    // An archive whose second local header straddles the 20,000-byte buffer.
    void makeArchive() {
        put("b.txt", "hello\n");
        put("c.bin", std::string(30000, 'y'));
        put("d.txt", "last\n");
        std::size_t first = 19000;
        for (int attempt = 0; attempt < 2; ++attempt) {
            put("a.bin", std::string(first, 'x'));
            std::remove(path("t.zip").c_str());
            grvtest::RunOptions inDir;
            inDir.workDir = dir;
            const auto zipped =
                grvtest::RunProgram({"zip", "-q", "-X", "-0", "t.zip", "a.bin", "b.txt", "c.bin", "d.txt"}, inDir);
            ASSERT_EQ(zipped.status, 0) << zipped.err;
            expected = zipinfoOffsets(path("t.zip"));
            ASSERT_EQ(expected.size(), 5u);
            first += kStraddle - expected[1];
        }
        ASSERT_EQ(expected[1], kStraddle);
    }
    // The scan after the first header starts past its 4 signature bytes.
    static constexpr std::int64_t kStraddle = 4 + kCopyChunkSize - 2;
    std::vector<std::int64_t> expected;
};

TEST_F(ScanTest, FindsZipSignaturesAtZipinfoOffsetsOnOwnedAndLentHandles) {
    makeArchive();
    FileDataSource* owned = FileDataSource::openForRead(path("t.zip").c_str(), nullptr);
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(scanOffsets(*owned), expected);
    delete owned;

    TessikHandle handle;
    int kind = 0;
    XPath zipPath(path("t.zip"));
    ASSERT_TRUE(openFileForRead(handle, zipPath, kind, nullptr));
    FileDataSource lent;
    lent.setHandle(&handle);
    EXPECT_EQ(scanOffsets(lent), expected);
    RecordingLog log;
    EXPECT_FALSE(lent.seekRelative64(-1, &log));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kNoRelativeSeekLent));
    EXPECT_TRUE(handle.isOpen());
}
