// What the download roads do to the path they are given, answered 200 and
// 404 by python's http.server (which ignores ranges, so a resume gets the
// whole file): an existing file keeps its bytes on an error answer, a link
// stays a link and its target gets the body, a FIFO and a device stay what
// they were, and nothing is left behind. And what they return for the
// answers of the outcome table, beside what curl does with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>
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

namespace {

// An answer of the outcome table: "STATUS Name=value ... body=text", '_'
// standing for a space; "103,200 ..." sends a 103 head before the 200;
// "cut=N" leaves the body N bytes short of its Content-Length and closes.
std::string Answer(const std::string& row) {
    std::istringstream words(row);
    std::string status, word, fields, body, interim;
    words >> status;
    for (std::size_t comma; (comma = status.find(',')) != std::string::npos; status.erase(0, comma + 1))
        interim += "HTTP/1.1 " + status.substr(0, comma) + " Interim\r\n\r\n";
    std::size_t cut = 0;
    while (words >> word) {
        const std::size_t eq = word.find('=');
        std::string value = word.substr(eq + 1);
        std::replace(value.begin(), value.end(), '_', ' ');
        if (word.compare(0, eq, "body") == 0)
            body = value;
        else if (word.compare(0, eq, "cut") == 0)
            cut = std::stoul(value);
        else
            fields += word.substr(0, eq) + ": " + value + "\r\n";
    }
    if (cut != 0)
        fields += "Connection: close\r\n";
    const std::string whole = authtest::canned((status + " Answer").c_str(), fields, body + std::string(cut, '-'));
    return interim + whole.substr(0, whole.size() - cut);
}

constexpr const char* kCached = "cached ";

// The file's bytes, "-" when there is none.
std::string Holding(const std::string& path) {
    return grvtest::FileExists(path) ? grvtest::ReadFile(path) : "-";
}

} // namespace

// A download returns true only when the file holds what the server sent for
// the URL: a 206 continues the file only where it ends, a GET follows 303,
// 307 and 308 as it follows 301 and 302, a redirect it does not follow and
// a 101, any other 1xx, 3xx, 4xx or 5xx as the last answer and a body cut
// short fail the call, and an answer kept in either cache (fetched first by
// QuickGetStr, the server gone before the download) is written as it came;
// QuickGetStr by the same rule. Each row beside curl's exit status and file.
TEST_F(DownloadTargets, DownloadsSucceedOnlyWhenTheFileHoldsWhatTheServerSent) {
    const auto rows = grvtest::ReadTable(std::string(GRV_TEST_DATA_DIR) + "/http/download-outcomes.txt", " | ");
    ASSERT_EQ(rows.size(), 63u);
    grvtest::TempDir dir;
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 6u);
        const bool cached = row[3].starts_with(kCached);
        std::vector<std::string> script;
        std::istringstream answers(row[3].substr(cached ? std::strlen(kCached) : 0));
        for (std::string answer; std::getline(answers, answer, ';');)
            script.push_back(Answer(answer));
        const Road road = row[0] == "resume" ? Road::Resume : row[0] == "append" ? Road::Append : Road::Download;
        // The text road hands back the body: "file" is what it returned.
        const bool quick = row[0] == "quick";
        const bool follow = row[1] == "on";
        const std::string ours = dir.File("ours"), judged = dir.File("curl");
        for (const bool bucket : {false, true}) {
            if (bucket && !cached)
                continue;
            SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2] + ": " + row[3] + (bucket ? " (bucket cache)" : ""));
            for (const std::string& path : {ours, judged}) {
                std::filesystem::remove(path);
                if (row[2] != "-") {
                    ASSERT_TRUE(grvtest::WriteFile(path, row[2]));
                }
            }
            ClsHttp fresh;
            fresh.options().UseIEProxy = 0;
            fresh.options().FollowRedirects = follow ? 1 : 0;
            const int port = peers.StartCaptureServer(script);
            const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/page";
            if (cached) {
                const std::string root = dir.File(bucket ? "buckets" : "entries");
                std::filesystem::remove_all(root);
                std::filesystem::create_directories(root);
                fresh.options().useBucketCache = bucket ? 1 : 0;
                ASSERT_TRUE(bucket ? fresh.options().bucketCache.addRoot(root.c_str())
                                   : fresh.options().cache.AddRoot(root.c_str()));
                XString u, text;
                ASSERT_TRUE(fresh.QuickGetStr(X(u, url), text, false, nullptr, fresh.getLog()));
                peers.Stop(port);
            }
            XString u, path, text;
            const bool ok =
                quick ? fresh.QuickGetStr(X(u, url), text, false, nullptr, fresh.getLog()) &&
                            grvtest::WriteFile(ours, text.getUtf8())
                : road == Road::Resume ? fresh.ResumeDownload(X(u, url), X(path, ours), false, nullptr, fresh.getLog())
                : road == Road::Append ? fresh.DownloadAppend(X(u, url), X(path, ours), false, nullptr, fresh.getLog())
                                       : fresh.Download(X(u, url), X(path, ours), false, nullptr, fresh.getLog());
            XString why;
            fresh.getLastErrorText(why, false);
            EXPECT_EQ(std::string(ok ? "true " : "false ") + Holding(ours), row[4]) << why.getUtf8();
            if (!cached)
                peers.Stop(port);
        }

        const int port = peers.StartCaptureServer(script);
        std::vector<std::string> curl = {"curl", "-sf", "http://127.0.0.1:" + std::to_string(port) + "/page"};
        if (follow)
            curl.push_back("-L");
        if (road == Road::Resume)
            curl.insert(curl.end(), {"-C", "-"});
        if (road != Road::Append && !quick)
            curl.insert(curl.end(), {"-o", judged});
        const grvtest::RunResult r = grvtest::RunProgram(curl);
        if (road == Road::Append) {
            ASSERT_TRUE(grvtest::WriteFile(judged, Holding(judged) + r.out));
        } else if (quick && r.status == 0) {
            ASSERT_TRUE(grvtest::WriteFile(judged, r.out));
        }
        EXPECT_EQ(std::to_string(r.status) + " " + Holding(judged), row[5]) << r.err;
        peers.Stop(port);
    }
}
