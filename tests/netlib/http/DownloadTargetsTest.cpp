// What the download roads do to the path they are given, answered 200 and
// 404 by python's http.server (which ignores ranges, so a resume gets the
// whole file): an existing file keeps its bytes on an error answer, a link
// stays a link and its target gets the body, a FIFO and a device stay what
// they were, and nothing is left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using grvtest::TargetKind;
using grvtest::X;

constexpr unsigned int kTaskLimitMs = 30000;
constexpr const char* kOld = "old bytes\n";
constexpr const char* kBody = "new body\n";

// python's own file server over args[0], until "/quit" (or 20 idle seconds).
constexpr const char* kScriptFileServer = R"PY(
import functools, http.server
s = listen()
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *a):
        pass
    def do_GET(self):
        if self.path == '/quit':
            self.server.done = True
            self.send_response(204)
            self.end_headers()
            return
        super().do_GET()
srv = http.server.HTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=args[0]), bind_and_activate=False)
srv.socket.close()
srv.socket = s
srv.timeout = 20
srv.done = False
def idle():
    srv.done = True
srv.handle_timeout = idle
while not srv.done:
    srv.handle_request()
)PY";

enum class Road { Download, Append, Resume, BackgroundDownload };

const char* RoadName(Road road) {
    switch (road) {
    case Road::Download: return "Download";
    case Road::Append: return "DownloadAppend";
    case Road::Resume: return "ResumeDownload";
    case Road::BackgroundDownload: return "background Download";
    }
    return "?";
}

// What the path should hold afterwards.
std::string Expected(Road road, bool found, TargetKind kind) {
    const std::string old = kOld;
    const std::string body = kBody;
    switch (kind) {
    case TargetKind::Absent: return found ? "file:" + body : "absent";
    case TargetKind::Regular:
    case TargetKind::Link: {
        // The server sends the whole file to a resume, which replaces the
        // part that was there.
        const std::string content = !found ? old : road == Road::Append ? old + body : body;
        return (kind == TargetKind::Link ? "link(t.target)->file:" : "file:") + content;
    }
    case TargetKind::DanglingLink: return "link(t.target)->" + (found ? "file:" + body : std::string("absent"));
    case TargetKind::Fifo: return "fifo:" + (found ? body : std::string());
    case TargetKind::PrivateDevice: return "device(1,3)";
    }
    return "?";
}

class DownloadTargets : public grvtest::ComponentPeerTest {
protected:
    bool Run(Road road, const std::string& url, const std::string& local) {
        XString u, path;
        switch (road) {
        case Road::Download: return http.Download(X(u, url), X(path, local), false, nullptr, log());
        case Road::Append: return http.DownloadAppend(X(u, url), X(path, local), false, nullptr, log());
        case Road::Resume: return http.ResumeDownload(X(u, url), X(path, local), false, nullptr, log());
        case Road::BackgroundDownload: {
            const bool queued = http.queueBackgroundTask(BgMethod::Download, "Download", [&](ClsBgTask& t) {
                t.pushStringArg(X(u, url));
                t.pushStringArg(X(path, local));
            });
            return queued && http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult();
        }
        }
        return false;
    }

    // Every road, answered 200 and 404, into each kind of target.
    void RunTable(const std::vector<TargetKind>& kinds) {
        // Made once before the server starts, which would wait for its quit.
        // The runner leaves the device test out where mknod is refused.
        grvtest::TempDir probe;
        for (TargetKind kind : kinds)
            ASSERT_EQ(grvtest::WriteTarget(probe.Path(), grvtest::TargetKindName(kind), kind, kOld).Error(), 0);
        grvtest::TempDir served;
        ASSERT_TRUE(grvtest::WriteFile(served.File("page.txt"), kBody));
        grvtest::ScriptPeer server(kScriptFileServer, {served.Path()});
        const std::string base = "http://127.0.0.1:" + std::to_string(server.port);
        grvtest::TempDir dir;
        int n = 0;
        for (Road road : {Road::Download, Road::Append, Road::Resume, Road::BackgroundDownload})
            for (bool found : {true, false})
                for (TargetKind kind : kinds) {
                    const std::string label =
                        std::string(RoadName(road)) + (found ? " 200 " : " 404 ") + grvtest::TargetKindName(kind);
                    SCOPED_TRACE(label);
                    const std::string folder = dir.File("case" + std::to_string(n++));
                    std::filesystem::create_directory(folder);
                    grvtest::WriteTarget target(folder, "t", kind, kOld);
                    ASSERT_EQ(target.Error(), 0);
                    const bool ok = Run(road, base + (found ? "/page.txt" : "/missing.txt"), target.Path());
                    EXPECT_EQ(ok, found) << logText();
                    EXPECT_EQ(target.Describe(), Expected(road, found, kind)) << logText();
                    // Nothing of the call's own stays beside the target.
                    std::vector<std::string> names;
                    for (const auto& entry : std::filesystem::directory_iterator(folder))
                        names.push_back(entry.path().filename().string());
                    std::erase_if(names, [](const std::string& s) { return s == "t" || s == "t.target"; });
                    EXPECT_TRUE(names.empty()) << names.front();
                }
        XString u;
        DataBuffer ignored;
        http.QuickGet(X(u, base + "/quit"), ignored, false, nullptr, log());
        server.Finish();
    }
};

} // namespace

TEST_F(DownloadTargets, ErrorAnswersLeaveFilesLinksAndPipesAsTheyWere) {
    RunTable({TargetKind::Absent, TargetKind::Regular, TargetKind::Link, TargetKind::Fifo});
}

TEST_F(DownloadTargets, DownloadsIntoAPrivateDeviceLeaveItADevice) {
    RunTable({TargetKind::PrivateDevice});
}

// A download that fails before its first body byte (nothing listens) leaves
// the path as it was, whatever stood there.
TEST_F(DownloadTargets, FailureBeforeTheBodyLeavesThePathAsItWas) {
    const grvtest::ClosedLoopbackPort nothingListens;
    const std::string url = "http://127.0.0.1:" + std::to_string(nothingListens.port()) + "/page.txt";
    grvtest::TempDir dir;
    int n = 0;
    for (Road road : {Road::Download, Road::Append, Road::Resume})
        for (TargetKind kind : {TargetKind::Absent, TargetKind::Regular, TargetKind::Link, TargetKind::Fifo}) {
            SCOPED_TRACE(std::string(RoadName(road)) + " into " + grvtest::TargetKindName(kind));
            const std::string folder = dir.File("case" + std::to_string(n++));
            std::filesystem::create_directory(folder);
            grvtest::WriteTarget target(folder, "t", kind, kOld);
            ASSERT_EQ(target.Error(), 0);
            EXPECT_FALSE(Run(road, url, target.Path()));
            EXPECT_EQ(target.Describe(), Expected(road, false, kind)) << logText();
        }
}
