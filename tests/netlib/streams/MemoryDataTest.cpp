// Bounds-checked views over a memory block and over a file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netlib/core/Memory.h"
#include "netlib/streams/MemoryData.h"
#include "netlib/streams/StreamConstants.h"
#include "tests/netlib/core/FileTestSupport.h"

using namespace tessik;

namespace {

std::string bytesAt(const unsigned char* p, std::size_t n) {
    return p ? std::string(reinterpret_cast<const char*>(p), n) : "<null>";
}

TEST(MemoryData, MemoryRequestsStayInsideTheBlock) {
    static const char kTen[] = "0123456789";
    struct Case {
        std::int64_t offset;
        std::uint32_t size;
        const char* got; // the bytes, or the error logged
    } cases[] = {
        {8, 2, "89"},
        {0, 10, "0123456789"},
        {9, 0, ""},
        {10, 0, stream_msg::kBeyondDataLength},
        {-1, 1, stream_msg::kBeyondDataLength},
        {8, 3, stream_msg::kNotEnoughRemaining},
        {0, 0xFFFFFFFFu, stream_msg::kNotEnoughRemaining},
    };
    MemoryData view;
    view.setOwnsData(false);
    view.setData(kTen, 10);
    for (const Case& c : cases) {
        RecordingLog log;
        const unsigned char* p = view.getMemData64(c.offset, c.size, log);
        if (p) {
            EXPECT_EQ(p, reinterpret_cast<const unsigned char*>(kTen) + c.offset);
            EXPECT_EQ(bytesAt(p, c.size), c.got) << c.offset << "+" << c.size;
        } else {
            EXPECT_EQ(log.lines.at(0), std::string("E:") + c.got) << c.offset << "+" << c.size;
        }
    }
    RecordingLog log;
    EXPECT_EQ(view.getMemData64(12, 1, log), nullptr);
    EXPECT_EQ(log.all(), std::string("E:") + stream_msg::kBeyondDataLength + "\nQ:addr64=12\nQ:dataLen=10\n");
}

TEST(MemoryData, OwnedBlocksAreFreedWhenReplacedOrCleared) {
    MemoryData view;
    for (int i = 0; i < 3; ++i) {
        auto* block = static_cast<char*>(memAlloc(4));
        std::memcpy(block, "abcd", 4);
        view.setData(block, 4);
    }
    RecordingLog log;
    EXPECT_EQ(bytesAt(view.getMemData(1, 2, log), 2), "bc");
    view.clear();
    EXPECT_EQ(view.getMemData(0, 1, log), nullptr);
}

class MemoryDataFile : public TempTree {};

TEST_F(MemoryDataFile, ReadsRangesAndKeepsTheLastWindow) {
    grvtest::Bytes content = grvtest::RandomBytes(5000, 7);
    std::string file = path("data.bin");
    ASSERT_TRUE(grvtest::WriteFile(file, content));
    std::string whole(content.begin(), content.end());

    MemoryData view;
    RecordingLog log;
    ASSERT_TRUE(view.openFile(file.c_str(), log));
    EXPECT_TRUE(view.isFile());
    EXPECT_EQ(bytesAt(view.getMemData64(4000, 1000, log), 1000), whole.substr(4000, 1000));
    EXPECT_EQ(bytesAt(view.getMemData64(100, 50, log), 50), whole.substr(100, 50));

    // The same offset again, no larger: served from the window, not the file.
    ASSERT_TRUE(grvtest::WriteFile(file, std::string(5000, 'x')));
    EXPECT_EQ(bytesAt(view.getMemData64(100, 20, log), 20), whole.substr(100, 20));
    EXPECT_EQ(bytesAt(view.getMemData64(100, 60, log), 60), std::string(60, 'x'));
    EXPECT_TRUE(log.lines.empty()) << log.all();

    struct Past {
        std::int64_t offset;
        std::uint32_t size;
    } past[] = {{4990, 11}, {5001, 0}, {0, 0xFFFFFFFFu}};
    for (const Past& p : past) {
        RecordingLog refused;
        EXPECT_EQ(view.getMemData64(p.offset, p.size, refused), nullptr) << p.offset;
        EXPECT_TRUE(refused.has(std::string("E:") + stream_msg::kFileAccessShortRead)) << refused.all();
    }

    view.clear();
    EXPECT_FALSE(view.openFile("", log));
    EXPECT_FALSE(view.openFile(path("missing").c_str(), log));
}

} // namespace
