// The component's background task: methods queued with their arguments run
// on a thread of their own against nginx and keep their results; a missing
// argument or an unknown method fails the task; a call while a task is
// queued is refused; and a component destroyed while its task runs waits
// for it (run under AddressSanitizer and ThreadSanitizer, -DGRV_TSAN=ON).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"

using namespace tessik;

namespace {

using grvtest::X;

constexpr unsigned int kTaskLimitMs = 30000;
// Tells of the request by the file args[0], and answers only once the gate
// file args[1] exists.
constexpr const char* kGatedAnswer = R"PY(
s = listen()
c, a = s.accept()
recv_head(c)
open(args[0], 'w').close()
for _ in range(2000):
    if os.path.exists(args[1]):
        break
    time.sleep(0.01)
c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nlate')
c.close()
)PY";

// That peer, with its files in a folder of its own.
struct GatedPeer {
    grvtest::TempDir dir;
    std::string got = dir.File("got");
    std::string gate = dir.File("gate");
    grvtest::ScriptPeer peer{kGatedAnswer, {got, gate}};
};

class BackgroundTask : public grvtest::ComponentPeerTest {
protected:
    std::string taskLog() {
        XString text;
        http.backgroundTaskLog(text);
        return text.getUtf8();
    }
};

} // namespace

TEST_F(BackgroundTask, QueuedSynchronousRequestDeliversItsResponse) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    http.setUseBackgroundThread(true);
    ClsHttpRequest request;
    request.setPath("/big.txt");
    EXPECT_EQ(http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, request, nullptr), nullptr);
    EXPECT_NE(logText().find(bg_msg::kStarted), std::string::npos) << logText();
    ASSERT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
    EXPECT_TRUE(http.backgroundTaskFinished());
    EXPECT_TRUE(http.backgroundTaskResult());
    std::unique_ptr<ClsHttpResponse> response(http.takeLastResponse());
    ASSERT_NE(response, nullptr) << taskLog();
    EXPECT_EQ(response->getStatusCode(), 200u);
    EXPECT_TRUE(authtest::text(response->getBody()) == grvtest::ReadFile(nginx.docRoot + "/big.txt"));
    const std::string log = taskLog();
    EXPECT_NE(log.find("SynchronousRequest"), std::string::npos) << log;
    EXPECT_NE(log.find(cls_msg::kSuccess), std::string::npos) << log;
    // Collected once: the component keeps no copy.
    EXPECT_EQ(http.takeLastResponse(), nullptr);
}

TEST_F(BackgroundTask, QueuedMethodsKeepTheirResults) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    const std::string big = grvtest::ReadFile(nginx.docRoot + "/big.txt");
    grvtest::TempDir dir;
    XString url, path, type;
    DataBuffer body;
    grvtest::SetBytes(body, "stored by a task");
    struct Case {
        BgMethod method;
        const char* name;
        std::function<void(ClsBgTask&)> push;
        std::function<void()> check;
    };
    const Case cases[] = {
        {BgMethod::QuickGet, "QuickGet", [&](ClsBgTask& t) { t.pushStringArg(X(url, "  " + base + "/big.txt ")); },
         [&] {
             DataBuffer bytes;
             http.backgroundBytesResult(bytes);
             EXPECT_TRUE(authtest::text(bytes) == big);
         }},
        {BgMethod::Download, "Download",
         [&](ClsBgTask& t) {
             t.pushStringArg(X(url, base + "/big.txt"));
             t.pushStringArg(X(path, dir.File("big.txt")));
         },
         [&] { EXPECT_TRUE(grvtest::ReadFile(dir.File("big.txt")) == big) << taskLog(); }},
        {BgMethod::PutBinary, "PutBinary",
         [&](ClsBgTask& t) {
             t.pushStringArg(X(url, base + "/dav/task.txt"));
             t.pushBytesArg(body);
             t.pushStringArg(X(type, "text/plain"));
             t.pushBoolArg(true);
             t.pushBoolArg(false);
         },
         [&] {
             // nginx's 201 answer has no text.
             XString reply;
             http.backgroundStringResult(reply);
             EXPECT_EQ(reply.getSizeUtf8(), 0);
             const auto stored = grvtest::WaitFor([&] { return grvtest::ReadFile(nginx.docRoot + "/dav/task.txt"); },
                                                  [](const std::string& s) { return !s.empty(); });
             EXPECT_EQ(stored.seen, "stored by a task");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(http.queueBackgroundTask(c.method, c.name, c.push)) << logText();
        ASSERT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
        EXPECT_TRUE(http.backgroundTaskResult()) << taskLog();
        // The task's log is the method's.
        EXPECT_NE(taskLog().find(std::string(c.name) + ":"), std::string::npos) << taskLog();
        if (c.method == BgMethod::Download) {
            EXPECT_NE(taskLog().find("backgroundThread: 1"), std::string::npos) << taskLog();
        }
        c.check();
    }
}

TEST_F(BackgroundTask, MissingArgumentsAndUnknownMethodsFailTheTask) {
    XString url;
    struct Case {
        int number;
        const char* name;
        int args; // how many text arguments are queued
    };
    const Case cases[] = {
        {static_cast<int>(BgMethod::QuickGet), "QuickGet", 0},
        {static_cast<int>(BgMethod::Download), "Download", 1},
        {static_cast<int>(BgMethod::S3UploadString), "S3_UploadString", 4},
        {0, "none", 1},
        {static_cast<int>(BgMethod::S3UploadString) + 1, "none", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        ASSERT_TRUE(http.queueBackgroundTask(static_cast<BgMethod>(c.number), c.name, [&](ClsBgTask& t) {
            for (int i = 0; i < c.args; ++i)
                t.pushStringArg(X(url, "http://127.0.0.1:1/"));
        }));
        ASSERT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
        EXPECT_TRUE(http.backgroundTaskFinished());
        EXPECT_FALSE(http.backgroundTaskResult());
        // The worker never ran: its frame is not in the task's log.
        EXPECT_EQ(taskLog().find(std::string(c.name) + ":"), std::string::npos) << taskLog();
    }
    EXPECT_EQ(ClsHttp::backgroundThreadProc(nullptr), 0);
}

TEST_F(BackgroundTask, ACallWhileATaskIsQueuedIsRefused) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    http.setUseBackgroundThread(true);
    ClsHttpRequest request;
    {
        // Holding the component's lock keeps the task queued, not running.
        CritSecExitor hold(http);
        EXPECT_EQ(http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, request, nullptr), nullptr);
        EXPECT_TRUE(http.backgroundTaskBusy());
        EXPECT_FALSE(http.backgroundTaskFinished());
        EXPECT_EQ(http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, request, nullptr), nullptr);
        EXPECT_NE(logText().find(bg_msg::kBusy), std::string::npos) << logText();
        XString url;
        EXPECT_FALSE(http.queueBackgroundTask(BgMethod::QuickGet, "QuickGet",
                                              [&](ClsBgTask& t) { t.pushStringArg(X(url, "http://127.0.0.1/")); }));
    }
    ASSERT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
    std::unique_ptr<ClsHttpResponse> response(http.takeLastResponse());
    ASSERT_NE(response, nullptr) << taskLog();
    EXPECT_EQ(authtest::text(response->getBody()), "hello\n");
    // Idle again: the next call runs.
    http.setUseBackgroundThread(false);
    std::unique_ptr<ClsHttpResponse> direct(
        http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, request, nullptr));
    ASSERT_NE(direct, nullptr) << logText();
}

// While a task runs (its server holds the answer back), a second task and
// a queued SynchronousRequest are refused at once, the refusal logged: were
// they kept waiting for the component, the gate would open only once the
// server gave up, and they would queue. (A request method waits for the
// task: the background table's "wait" rows.)
TEST(BackgroundTaskLife, ACallWhileATaskRunsIsRefusedAtOnce) {
    installTextServices();
    GatedPeer gated;
    grvtest::ScriptPeer& slow = gated.peer;
    const std::string& got = gated.got;
    const std::string& gate = gated.gate;
    ClsHttp http;
    http.options().UseIEProxy = 0;
    http.setUseBackgroundThread(true);
    ClsHttpRequest request;
    EXPECT_EQ(http.SynchronousRequest("127.0.0.1", slow.port, false, request, nullptr), nullptr);
    grvtest::WaitFor([&] { return grvtest::FileExists(got); }, [](bool seen) { return seen; });
    XString url;
    EXPECT_FALSE(http.queueBackgroundTask(BgMethod::QuickGet, "QuickGet",
                                          [&](ClsBgTask& t) { t.pushStringArg(X(url, "http://127.0.0.1/")); }));
    EXPECT_EQ(http.SynchronousRequest("127.0.0.1", slow.port, false, request, nullptr), nullptr);
    EXPECT_NE(authtest::logText(http.getLog()).find(bg_msg::kBusy), std::string::npos);
    EXPECT_TRUE(http.backgroundTaskBusy());
    ASSERT_TRUE(grvtest::WriteFile(gate, ""));
    ASSERT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
    EXPECT_TRUE(http.backgroundTaskResult());
    std::unique_ptr<ClsHttpResponse> response(http.takeLastResponse());
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(authtest::text(response->getBody()), "late");
    slow.Finish();
}

TEST(BackgroundTaskLife, DestroyingAComponentWaitsForItsTask) {
    installTextServices();
    GatedPeer gated;
    grvtest::ScriptPeer& slow = gated.peer;
    const std::string& got = gated.got;
    const std::string& gate = gated.gate;
    auto http = std::make_unique<ClsHttp>();
    http->options().UseIEProxy = 0;
    http->setUseBackgroundThread(true);
    ClsHttpRequest request;
    EXPECT_EQ(http->SynchronousRequest("127.0.0.1", slow.port, false, request, nullptr), nullptr);

    std::atomic<bool> released{false};
    std::thread opener([&] {
        // The task has sent its request and waits for the answer.
        grvtest::WaitFor([&] { return grvtest::FileExists(got); }, [](bool seen) { return seen; });
        released = true;
        grvtest::WriteFile(gate, "");
    });
    http.reset();
    // Gone only after the task had its answer, which came after the gate.
    EXPECT_TRUE(released.load());
    opener.join();
    slow.Finish();
}
