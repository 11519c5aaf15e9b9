#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace grvtest {
namespace {

RunOptions Fed(const std::string& input) {
    RunOptions o;
    o.input = input;
    return o;
}

RunOptions In(const std::string& folder) {
    RunOptions o;
    o.workDir = folder;
    return o;
}

RunOptions Merged() {
    RunOptions o;
    o.mergeStderr = true;
    return o;
}

RunOptions WithEnv(const std::string& pair) {
    RunOptions o;
    o.env = {pair};
    return o;
}

TEST(RunProgram, PassesArgumentsAndStreamsUntouched) {
    // Nothing a shell would interpret may be interpreted.
    const std::string odd = "a 'b' \"c\" $HOME `x` ; | > *";
    const std::string big(3 * 1024 * 1024 + 7, 'z'); // more than any pipe holds
    struct Case {
        std::vector<std::string> argv;
        RunOptions options;
        int status;
        std::string out, err;
    } cases[] = {
        {{"printf", "%s", odd}, {}, 0, odd, ""},
        {{"cat"}, Fed(big), 0, big, ""},
        {{"false"}, {}, 1, "", ""},
        {{"pwd"}, In("/usr/share"), 0, "/usr/share\n", ""},
        {{"/usr/bin/python3", "-c", "import sys; sys.stdout.write('o'); sys.stderr.write('e'); sys.exit(3)"},
         {},
         3,
         "o",
         "e"},
        {{"/usr/bin/python3", "-c", "import sys; print('o', flush=True); print('e', file=sys.stderr)"},
         Merged(),
         0,
         "o\ne\n",
         ""},
        {{"/usr/bin/python3", "-c", "import os; print(os.environ['TZ'])"}, WithEnv("TZ=seen"), 0, "seen\n", ""},
    };
    for (const Case& c : cases) {
        const RunResult r = RunProgram(c.argv, c.options);
        EXPECT_EQ(r.status, c.status) << c.argv[0] << ": " << r.err;
        EXPECT_TRUE(r.out == c.out) << c.argv[0] << " out: " << r.out.substr(0, 80);
        EXPECT_EQ(r.err, c.err) << c.argv[0];
        EXPECT_FALSE(r.timedOut);
    }
}

TEST(RunProgram, ReportsWhatItCouldNotFinish) {
    const RunResult missing = RunProgram({"/nonexistent/grv-peer"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_NE(missing.err.find("cannot run /nonexistent/grv-peer"), std::string::npos) << missing.err;

    RunOptions quick;
    quick.timeout = std::chrono::milliseconds(200);
    const auto start = std::chrono::steady_clock::now();
    const RunResult hung = RunProgram({"sleep", "30"}, quick);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(hung.timedOut);
    EXPECT_EQ(hung.status, -1);
    EXPECT_EQ(hung.signal, SIGKILL);
    EXPECT_FALSE(hung.Ok());
}

TEST(TempDir, LivesUnderTmpdirAndLeavesNothing) {
    std::string path;
    {
        TempDir dir("probe");
        path = dir.Path();
        EXPECT_EQ(path.rfind(TempRoot() + "/probe.", 0), 0u) << path;
        ASSERT_TRUE(std::filesystem::create_directories(dir.File("locked/inner")));
        ASSERT_TRUE(WriteFile(dir.File("locked/inner/f"), std::string("x")));
        ASSERT_EQ(::chmod(dir.File("locked/inner").c_str(), 0), 0);
        ASSERT_EQ(::chmod(dir.File("locked").c_str(), 0500), 0);
        EXPECT_TRUE(FileExists(dir.File("locked")));
    }
    EXPECT_FALSE(FileExists(path));
}

TEST(WaitFor, SeesWhatAPeerWritesLateAndReportsWhatItLastSaw) {
    TempDir dir;
    const std::string log = dir.File("access.log");
    // A peer that writes its second line a while after the first.
    std::thread peer([&] {
        WriteFile(log, std::string("first\n"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WriteFile(log, std::string("first\nsecond\n"));
    });
    auto lines = [](std::size_t n) {
        return [n](const std::string& text) { return std::size_t(std::count(text.begin(), text.end(), '\n')) >= n; };
    };
    const auto read = [&] { return ReadFile(log); };
    const Awaited<std::string> both = WaitFor(read, lines(2));
    peer.join();
    EXPECT_TRUE(both.met);
    EXPECT_EQ(both.seen, "first\nsecond\n");

    const auto start = std::chrono::steady_clock::now();
    const Awaited<std::string> never = WaitFor(read, lines(3), std::chrono::milliseconds(200));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_FALSE(never.met);
    EXPECT_EQ(never.seen, "first\nsecond\n");
}

TEST(Fixtures, JournalDatabaseAndDeflateJudge) {
    TempDir dir;
    const std::string db = dir.File("journal.db");
    ASSERT_EQ(MakeJournalDatabase(db), db);
    EXPECT_EQ(SqliteCli(db, "SELECT count(*), max(id) FROM entry;").out, "3000|3000\n");

    // zlib's own raw deflate must come back whole; a cut stream must not.
    const Bytes text = TextLike(50000, 7);
    Bytes packed(compressBound(text.size()));
    z_stream zs{};
    ASSERT_EQ(deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    zs.next_in = const_cast<Bytef*>(text.data());
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = packed.data();
    zs.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    Bytes back;
    EXPECT_TRUE(InflateRaw(packed, &back));
    EXPECT_EQ(back, text);
    packed.pop_back();
    EXPECT_FALSE(InflateRaw(packed, &back));
    EXPECT_EQ(ToHex("\x01\xab"), "01ab");
}

} // namespace
} // namespace grvtest
