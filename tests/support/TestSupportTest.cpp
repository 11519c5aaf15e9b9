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

// The runners leave nothing behind, however a run ends: their folders go, and
// so do the peers of a test that crashed before it could stop them.
TEST(Runners, LeaveNothingBehindHoweverTheRunEnds) {
    const std::string tests = std::string(GRV_SOURCE_DIR) + "/tests/";
    TempDir scripts("scripts");
    const std::string peerPid = scripts.File("peer.pid");
    const std::string fuzzerPid = scripts.File("fuzzer.pid");
    // A "peer" in a process group of its own, named where LoopbackPeers
    // names its peers', then a crash.
    const std::string crashWithPeer =
        "d=$GRV_SHARED_TMP/grv-peers.x/p-1; mkdir -p $d; setsid sleep 60 >/dev/null 2>&1 & p=$!; "
        "until [ \"$(cut -d' ' -f5 /proc/$p/stat)\" = $p ]; do sleep 0.01; done; "
        "echo $p > $d/peer.pgid; echo $p > " +
        peerPid + "; kill -SEGV $$";
    // Fuzzers that leave a file in their scratch folder, then fail or run on.
    const std::string failing = scripts.File("failing-fuzzer");
    const std::string endless = scripts.File("endless-fuzzer");
    ASSERT_TRUE(WriteFile(failing, std::string("#!/bin/sh\ntouch found\nexit 1\n")));
    ASSERT_TRUE(WriteFile(endless, "#!/bin/sh\ntouch found\necho $$ > " + fuzzerPid + "\nexec sleep 60\n"));
    ASSERT_EQ(::chmod(failing.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(endless.c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        int status;
        std::string pidFile; // a process the run started, gone after it
    } cases[] = {
        {"test crashes with a peer running",
         {tests + "run-test.sh", "/bin/sh", "-c", crashWithPeer},
         128 + SIGSEGV,
         peerPid},
        {"fuzzer fails", {tests + "run-fuzzer.sh", failing, scripts.File("corpus")}, 1, ""},
        {"fuzzer stopped",
         {"timeout", "-s", "TERM", "2", tests + "run-fuzzer.sh", endless, scripts.Path()},
         124,
         fuzzerPid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir runs("runs");
        RunOptions options;
        options.env = {"TMPDIR=" + runs.Path()};
        options.mergeStderr = true;
        const RunResult r = RunProgram(c.argv, options);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_EQ(RunPeer({"find", runs.Path(), "-mindepth", "1"}).out, "");
        if (!c.pidFile.empty()) {
            const std::string pid = ReadFile(c.pidFile);
            ASSERT_FALSE(pid.empty());
            // Gone, or dead and waiting for whoever adopted it to reap it.
            const std::string stat = "/proc/" + pid.substr(0, pid.find('\n')) + "/stat";
            const auto gone = [&] {
                const std::string text = ReadFile(stat);
                return text.empty() || text.find(") Z ") != std::string::npos;
            };
            EXPECT_TRUE(WaitFor(gone, [](bool g) { return g; }).met) << ReadFile(stat);
        }
    }
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
