// What the download roads do to the path they are given, answered 200 and
// 404 by python's http.server (which ignores ranges, so a resume gets the
// whole file): an existing file keeps its bytes on an error answer, a link
// stays a link and its target gets the body, a FIFO and a device stay what
// they were, and nothing is left behind. And what they return for the
// answers of the outcome table, beside what curl does with them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Logger.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/crypto/PasswordEncryption.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/ClsCache2.h"
#include "netlib/http/ClsHttpResponse.h"
#include "netlib/http/HttpCache.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/streams/Gzip.h"
#include "netlib/text/DateTimeValue.h"
#include "platform/ByteOrder.h"
#include "platform/PartFile.h"
#include "platform/Winsock.h"

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
        if self.path == '/packed':
            body = open(args[0] + '/page.gz', 'rb').read()
            self.send_response(200)
            self.send_header('Content-Encoding', 'gzip')
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
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
    case TargetKind::ReadOnly:
    case TargetKind::HardLink:
    case TargetKind::FifoNoReader:
    case TargetKind::FifoReaderLeaves:
    case TargetKind::AclFile:
    case TargetKind::PlantedFifo:
    case TargetKind::PlantedFile:
    case TargetKind::UnderDefaultAcl: break; // no rows of this table
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

constexpr auto kReaderPoll = std::chrono::milliseconds(10);

// A reader of a FIFO on a thread of its own: it reads all that comes, or
// leaves after its first byte.
class FifoReader {
public:
    FifoReader(const std::string& path, bool leaves) : m_leaves(leaves) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        m_thread = std::thread([this] { Run(); });
    }
    ~FifoReader() { Finish(); }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;
    bool Ok() const { return m_fd >= 0 || m_left; }
    // Stops once nothing more comes: what it read.
    const std::string& Finish() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_read;
    }

private:
    void Run() {
        char chunk[4096];
        while (m_fd >= 0) {
            pollfd p = {m_fd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(kReaderPoll.count()));
            const ssize_t n = ::read(m_fd, chunk, m_leaves ? 1 : sizeof chunk);
            if (n > 0)
                m_read.append(chunk, static_cast<std::size_t>(n));
            if ((n > 0 && m_leaves) || (n <= 0 && m_stop)) {
                ::close(m_fd);
                m_fd = -1;
                m_left = true;
            } else if (n == 0) {
                // No writer now: the end-of-file answer comes at once.
                std::this_thread::sleep_for(kReaderPoll);
            }
        }
    }

    int m_fd = -1;
    bool m_leaves;
    std::atomic<bool> m_stop{false};
    bool m_left = false;
    std::string m_read;
    std::thread m_thread;
};

// The table's "\xHH" escapes as the bytes they stand for.
std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 4 <= text.size()) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// "gzip-of=N" as python's gzip member of N zero bytes, made once each.
std::string Expanded(const std::string& text) {
    static std::map<std::string, std::string> members;
    constexpr std::string_view kMember = "gzip-of=";
    const std::size_t at = text.find(kMember);
    if (at == std::string::npos)
        return text;
    const std::size_t end = text.find_first_not_of("0123456789", at + kMember.size());
    const std::string count = text.substr(at + kMember.size(), end - at - kMember.size());
    if (!members.contains(count)) {
        const grvtest::RunResult r = grvtest::Python(
            "import gzip, sys\nsys.stdout.buffer.write(gzip.compress(bytes(int(sys.argv[1])), mtime=0))", {count});
        EXPECT_EQ(r.status, 0) << r.err;
        members[count] = r.out;
    }
    return text.substr(0, at) + members[count] + (end == std::string::npos ? "" : text.substr(end));
}

// An answer of the outcome table: "STATUS Name=value ... body=text", '_'
// standing for a space and "\xHH" for a byte; "103,200 ..." sends a 103
// head before the 200; "cut=N" leaves the body N bytes short of its
// Content-Length and closes.
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
            body = Expanded(Unescaped(value));
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
constexpr const char* kStored = "stored ";
constexpr const char* kBucketFollowed = "bucket-followed ";
constexpr const char* kAsked = "asked=";
constexpr const char* kLimit = "limit=";
constexpr const char* kFifo = "fifo";
// The "file before" of the rows where the owner acts on the name meanwhile.
constexpr const char* kOwnerActs = "owner-";
// The "file before" of the rows where another writer makes the file while
// the call waits for its answer, or adds to the file the name held.
constexpr const char* kOtherWrites = "other-writes-in-the-wait";
constexpr const char* kOtherGrows = "other-grows-in-the-wait";

// Keeps an answer in the disk cache or the bucket cache as the library kept
// it before bodies were kept unpacked: its head whole, its body as it came.
bool StoreAsBefore(ClsHttp& http, bool bucket, const std::string& url, const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n") + 4;
    const std::string head = answer.substr(0, end);
    DataBuffer body;
    body.append(answer.data() + end, static_cast<unsigned int>(answer.size() - end));
    if (bucket) {
        CacheEntryFields fields;
        fields.key = url.c_str();
        fields.headerText = head.c_str();
        fields.data = &body;
        fields.flags = cache_fmt::kFlagCompressed;
        fields.tag = cache_fmt::kBucketTag;
        return http.options().bucketCache.appendEntry(fields, http.getLog());
    }
    unsigned char bodyAt[4];
    platform::StoreLe32(bodyAt, cache_fmt::kCachedHeadOffset + static_cast<std::uint32_t>(head.size()));
    DataBuffer data;
    data.append(bodyAt, sizeof bodyAt);
    data.append(head.data(), static_cast<unsigned int>(head.size()));
    data.appendDb(body);
    SysTimeValue expiry;
    expiry.setCurrentUtc();
    expiry.addDays(1);
    return http.options().cache.SaveToCache2(url.c_str(), expiry, "", data, http.getLog());
}

// The curl column of a row, its status the one curl gave where the row
// names one per curl release ("22,0 abcdef"); where the file differs too,
// the column names the verdict of the releases from one on after the
// older ones' ("0 page, from 8.0: 61 -").
constexpr std::string_view kFromRelease = ", from ";
std::string CurlVerdict(const std::string& column, int status) {
    std::string verdict = column;
    if (const std::size_t from = column.find(kFromRelease); from != std::string::npos) {
        const std::size_t colon = column.find(": ", from);
        const int release = grvtest::ReleaseNumber(column.substr(from, colon - from));
        verdict = grvtest::PeerVersion("curl") >= release ? column.substr(colon + 2) : column.substr(0, from);
    }
    const std::size_t space = verdict.find(' ');
    std::istringstream statuses(verdict.substr(0, space));
    for (std::string one; std::getline(statuses, one, ',');)
        if (one == std::to_string(status))
            return one + verdict.substr(space);
    return verdict;
}

// The peer's reading of bytes in a charset named by args[1]: python's codec
// of that name, ISO-2022-JP by the Encoding Standard's decoder (args[0]
// holds it), U+FFFD for what does not decode, a zero byte as a blank;
// "refused" for a name python has no codec for.
constexpr const char* kScriptNamedCharset = R"PY(
import codecs, sys
sys.path.insert(0, sys.argv[1])
from iso2022jp_standard import decode as iso2022jp
data = sys.stdin.buffer.read()
try:
    codec = codecs.lookup(sys.argv[2])
except LookupError:
    print("refused", end="")
    sys.exit(0)
text = iso2022jp(data) if codec.name == "iso2022_jp" else codecs.decode(data, codec.name, "replace")
sys.stdout.buffer.write(text.replace("\0", " ").encode("utf-8"))
)PY";

// The file's bytes, "-" when there is none; a FIFO's what its reader read.
std::string Holding(const std::string& path, FifoReader* reader = nullptr) {
    if (reader != nullptr)
        return "fifo:" + reader->Finish();
    if (!grvtest::FileExists(path))
        return "-";
    const std::string bytes = grvtest::ReadFile(path);
    return bytes.empty() ? "(empty)" : bytes;
}

// The object-storage roads reach "BUCKET.<service>" through the resolver hook.
constexpr const char* kS3Service = "s3.test";
constexpr const char* kS3Bucket = "bkt";

struct S3Names {
    S3Names() {
        platform::SetResolverHook([](const std::string& host) {
            return host == std::string(kS3Bucket) + "." + kS3Service || host == "127.0.0.1" ? "127.0.0.1" : "";
        });
    }
    ~S3Names() { platform::SetResolverHook({}); }
    S3Names(const S3Names&) = delete;
    S3Names& operator=(const S3Names&) = delete;
};

// What the object-storage writes send, and the file S3_UploadFile sends it from.
constexpr const char* kS3Upload = "page";

// A write of the object or bucket: "s3-upload-" S3_UploadBytes,
// S3_UploadString and S3_UploadFile, and the last run as a background task;
// "s3-delete" S3_DeleteObject, "s3-delete-bucket" S3_DeleteBucket and
// "s3-delete-background" the first run as a background task.
bool S3Write(ClsHttp& http, const std::string& road, XString& bucket, XString& object, const std::string& upload) {
    XString type, charset, text, path;
    X(type, "text/plain");
    X(path, upload);
    const auto background = [&](BgMethod method, const char* name, bool withBody) {
        return http.queueBackgroundTask(method, name,
                                        [&](ClsBgTask& t) {
                                            t.pushStringArg(bucket);
                                            t.pushStringArg(object);
                                            if (withBody) {
                                                t.pushStringArg(type);
                                                t.pushStringArg(path);
                                            }
                                        }) &&
               http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult();
    };
    if (road == "s3-upload-bytes") {
        DataBuffer bytes;
        bytes.append(kS3Upload, static_cast<unsigned int>(std::strlen(kS3Upload)));
        return http.S3_UploadBytes(bucket, object, type, bytes, nullptr, http.getLog());
    }
    if (road == "s3-upload-string")
        return http.S3_UploadString(bucket, object, type, X(charset, "utf-8"), X(text, kS3Upload), nullptr,
                                    http.getLog());
    if (road == "s3-upload-file")
        return http.S3_UploadFile(bucket, object, type, path, nullptr, http.getLog());
    if (road == "s3-upload-background")
        return background(BgMethod::S3UploadFile, "S3_UploadFile", true);
    if (road == "s3-delete")
        return http.S3_DeleteObject(bucket, object, nullptr, http.getLog());
    if (road == "s3-delete-bucket")
        return http.S3_DeleteBucket(bucket, nullptr, http.getLog());
    return background(BgMethod::S3DeleteObject, "S3_DeleteObject", false);
}

bool IsS3Write(const std::string& road) {
    return road.starts_with("s3-upload") || road.starts_with("s3-delete");
}

// S3_DownloadFile directly or as a background task, or S3_DownloadBytes,
// S3_ListBucketObjects and S3_DownloadString under charset (their "file" is
// what they returned), or a write (S3Write) sending the file upload.
bool S3Road(ClsHttp& http, const std::string& road, int port, const std::string& local, const std::string& bytesTo,
            const std::string& charset, const std::string& upload) {
    http.setS3ServiceHost((std::string(kS3Service) + ":" + std::to_string(port)).c_str());
    http.setS3Keys("AKIDEXAMPLE", "secret");
    XString bucket, object, path;
    X(bucket, kS3Bucket);
    X(object, "page");
    X(path, local);
    if (IsS3Write(road))
        return S3Write(http, road, bucket, object, upload);
    if (road == "s3-bytes") {
        DataBuffer bytes;
        return http.S3_DownloadBytes(bucket, object, bytes, nullptr, http.getLog()) &&
               grvtest::WriteFile(bytesTo,
                                  std::string(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize()));
    }
    if (road == "s3-string") {
        XString name, text;
        return http.S3_DownloadString(bucket, object, X(name, charset), text, nullptr, http.getLog()) &&
               grvtest::WriteFile(bytesTo, text.getUtf8());
    }
    if (road == "s3-list") {
        XString listing;
        return http.S3_ListBucketObjects(bucket, listing, nullptr, http.getLog()) &&
               grvtest::WriteFile(bytesTo, listing.getUtf8());
    }
    if (road == "s3")
        return http.S3_DownloadFile(bucket, object, path, nullptr, http.getLog());
    const bool queued = http.queueBackgroundTask(BgMethod::S3DownloadFile, "S3_DownloadFile", [&](ClsBgTask& t) {
        t.pushStringArg(bucket);
        t.pushStringArg(object);
        t.pushStringArg(path);
    });
    return queued && http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult();
}

// The request-object roads that hand back a response: PostUrlEncoded, PostXml,
// and SynchronousRequest of a GET or a form POST, directly or run as a
// background task. Null when the call failed.
std::unique_ptr<ClsHttpResponse> ResponseRoad(ClsHttp& http, const std::string& road, const std::string& url) {
    XString u, xml, charset;
    X(u, url);
    ClsHttpRequest request;
    if (road == "post-form") {
        request.AddParam("a", "1");
        return std::unique_ptr<ClsHttpResponse>(http.PostUrlEncoded(u, request, false, nullptr, http.getLog()));
    }
    if (road == "post-xml")
        return std::unique_ptr<ClsHttpResponse>(
            http.PostXml(u, X(xml, "<a/>"), X(charset, "utf-8"), false, nullptr, http.getLog()));
    request.setPath("/page");
    if (road == "sync-post") {
        request.UsePostUrlEncoded();
        request.AddParam("a", "1");
    }
    const std::string port = url.substr(url.rfind(':') + 1, url.find('/', url.rfind(':')) - url.rfind(':') - 1);
    if (road != "sync-background")
        return std::unique_ptr<ClsHttpResponse>(
            http.SynchronousRequest("127.0.0.1", std::stoi(port), false, request, nullptr));
    http.setUseBackgroundThread(true);
    http.SynchronousRequest("127.0.0.1", std::stoi(port), false, request, nullptr);
    const bool ok = http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult();
    http.setUseBackgroundThread(false);
    std::unique_ptr<ClsHttpResponse> answer(http.takeLastResponse());
    return ok ? std::move(answer) : nullptr;
}

// The roads that hand the body back in memory, by the row's name: what they
// returned goes to `to`. curl asks with the same verb.
bool MemoryRoad(ClsHttp& http, const std::string& road, const std::string& url, const std::string& to) {
    XString u, text;
    X(u, url);
    DataBuffer bytes;
    bool ok = false;
    if (road == "post-form" || road == "post-xml" || road.starts_with("sync")) {
        const std::unique_ptr<ClsHttpResponse> answer = ResponseRoad(http, road, url);
        ok = answer != nullptr;
        if (ok)
            bytes.appendDb(answer->getBody());
    } else if (road == "post-background") {
        XString type;
        DataBuffer sent;
        sent.append("x", 1);
        X(type, "text/plain");
        ok = http.queueBackgroundTask(BgMethod::PostBinary, "PostBinary",
                                      [&](ClsBgTask& t) {
                                          t.pushStringArg(u);
                                          t.pushBytesArg(sent);
                                          t.pushStringArg(type);
                                          t.pushBoolArg(false);
                                          t.pushBoolArg(false);
                                      }) &&
             http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult();
        http.backgroundStringResult(text);
    } else if (road == "post-mime" || road == "post-mime-background") {
        XString mime;
        X(mime, "Content-Type: text/plain\r\n\r\nx");
        std::unique_ptr<ClsHttpResponse> answer;
        if (road == "post-mime") {
            answer.reset(http.PostMime(u, mime, false, nullptr, http.getLog()));
        } else if (http.queueBackgroundTask(BgMethod::PostMime, "PostMime",
                                            [&](ClsBgTask& t) {
                                                t.pushStringArg(u);
                                                t.pushStringArg(mime);
                                            }) &&
                   http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult()) {
            answer.reset(http.takeLastResponse());
        }
        ok = answer != nullptr;
        if (ok)
            bytes.appendDb(answer->getBody());
    } else if (road == "quick") {
        ok = http.QuickGetStr(u, text, false, nullptr, http.getLog());
    } else if (road == "quick-bytes") {
        ok = http.QuickGet(u, bytes, false, nullptr, http.getLog());
    } else if (road == "quick-background") {
        ok = http.queueBackgroundTask(BgMethod::QuickGet, "QuickGet", [&](ClsBgTask& t) { t.pushStringArg(u); }) &&
             http.waitForBackgroundTask(kTaskLimitMs) && http.backgroundTaskResult();
        http.backgroundBytesResult(bytes);
    } else if (road == "quick-obj") {
        const std::unique_ptr<ClsHttpResponse> answer(http.QuickGetObj(u, false, nullptr, http.getLog()));
        ok = answer != nullptr;
        if (ok)
            bytes.appendDb(answer->getBody());
    } else if (road == "post" || road == "put") {
        XString type;
        DataBuffer sent;
        sent.append("x", 1);
        X(type, "text/plain");
        ok = road == "post" ? http.PostBinary(u, sent, type, false, false, text, false, nullptr, http.getLog())
                            : http.PutBinary(u, sent, type, false, false, text, false, nullptr, http.getLog());
    } else if (road == "delete") {
        ok = http.QuickDeleteStr(u, text, false, nullptr, http.getLog());
    } else if (road == "quick-put") {
        ok = http.QuickPutStr(u, text, false, nullptr, http.getLog());
    }
    const std::string got = text.getSizeUtf8() != 0
                                ? std::string(text.getUtf8())
                                : std::string(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
    return ok && grvtest::WriteFile(to, got);
}

const std::map<std::string, std::vector<std::string>> kCurlVerbs = {
    {"post", {"--data-binary", "x"}},
    {"post-background", {"--data-binary", "x"}},
    {"post-mime", {"-H", "Content-Type: text/plain", "--data-binary", "x"}},
    {"post-mime-background", {"-H", "Content-Type: text/plain", "--data-binary", "x"}},
    {"post-form", {"-d", "a=1"}},
    {"sync-post", {"-d", "a=1"}},
    {"post-xml", {"--data-binary", "<a/>"}},
    {"put", {"-X", "PUT", "--data-binary", "x"}},
    {"delete", {"-X", "DELETE"}},
    {"quick-put", {"-X", "PUT"}}};

} // namespace

// A download returns true only when the file holds what the server sent for
// the URL: a 206 continues the file only where it ends, a GET follows 303,
// 307 and 308 as it follows 301 and 302, a redirect it does not follow and
// a 101, any other 1xx, 3xx, 4xx or 5xx as the last answer and a body cut
// short fail the call, and an answer kept in either cache (fetched first by
// QuickGetStr, the server gone before the download) is written as it came,
// one kept by older versions with its codings undone; a coding the caller
// asked for is handed over as it came; QuickGetStr by the same rule, and S3_DownloadString, whose text is what
// python's codec of the charset it names reads from curl's bytes. Each row
// beside curl's exit status and file.
TEST_F(DownloadTargets, DownloadsSucceedOnlyWhenTheFileHoldsWhatTheServerSent) {
    const auto rows = grvtest::ReadTable(std::string(GRV_TEST_DATA_DIR) + "/http/download-outcomes.txt", " | ");
    ASSERT_EQ(rows.size(), 514u);
    const S3Names names;
    grvtest::TempDir dir;
    const std::string upload = dir.File("upload");
    ASSERT_TRUE(grvtest::WriteFile(upload, kS3Upload));
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 6u);
        if (row[2].starts_with(kOwnerActs) || row[2] == kOtherWrites || row[2] == kOtherGrows)
            continue;
        // "asked=CODINGS " first: the caller sends its own Accept-Encoding,
        // and so does curl, without --compressed.
        std::string asked, answerText = row[3];
        if (answerText.starts_with(kAsked)) {
            asked = answerText.substr(std::strlen(kAsked), answerText.find(' ') - std::strlen(kAsked));
            std::replace(asked.begin(), asked.end(), '_', ' ');
            answerText.erase(0, answerText.find(' ') + 1);
        }
        // "limit=N " next: MaxResponseSize N, and curl --max-filesize N.
        std::string limit;
        if (answerText.starts_with(kLimit)) {
            limit = answerText.substr(std::strlen(kLimit), answerText.find(' ') - std::strlen(kLimit));
            answerText.erase(0, answerText.find(' ') + 1);
        }
        const bool stored = answerText.starts_with(kStored);
        const bool bucketOnly = answerText.starts_with(kBucketFollowed);
        const bool cached = stored || bucketOnly || answerText.starts_with(kCached);
        std::vector<std::string> script;
        std::istringstream answers(cached ? answerText.substr(answerText.find(' ') + 1) : answerText);
        for (std::string answer; std::getline(answers, answer, ';');)
            script.push_back(Answer(answer));
        // "download.EXT" and "resume.EXT" download into a name ending so.
        const std::size_t dot = row[0].find('.');
        const bool named = dot != std::string::npos;
        const std::string roadName = row[0].substr(0, dot);
        const Road road = roadName == "resume" ? Road::Resume : roadName == "append" ? Road::Append : Road::Download;
        // The text roads hand back the body: "file" is what they returned;
        // S3_DownloadString's "file before" is the charset it names.
        const bool s3String = row[0] == "s3-string";
        const bool s3 = row[0].starts_with("s3");
        const bool memory = !s3 && road == Road::Download && row[0] != "download" && !named;
        const bool quick = memory || (s3 && row[0] != "s3" && row[0] != "s3-background" && !IsS3Write(row[0]));
        // "unfollowed": following is on, but the road does not follow this
        // answer (a request object follows a 302 alone); curl without -L.
        const bool follow = row[1] != "off";
        const std::string suffix = named ? row[0].substr(dot) : "";
        const std::string ours = dir.File("ours" + suffix), judged = dir.File("curl" + suffix);
        for (const bool bucket : {false, true}) {
            if ((bucket && !cached) || (!bucket && bucketOnly))
                continue;
            SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2] + ": " + row[3] + (bucket ? " (bucket cache)" : ""));
            for (const std::string& path : {ours, judged}) {
                std::filesystem::remove(path);
                if (row[2] == kFifo) {
                    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                } else if (row[2] != "-" && !s3String) {
                    ASSERT_TRUE(grvtest::WriteFile(path, Unescaped(row[2])));
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
                // A body that is not whole in its coding is not kept.
                XString u, text;
                if (stored) {
                    ASSERT_TRUE(StoreAsBefore(fresh, bucket, url, script.front()));
                } else {
                    // "bucket-followed": fetched following its redirects.
                    fresh.options().FollowRedirects = follow || bucketOnly ? 1 : 0;
                    fresh.QuickGetStr(X(u, url), text, false, nullptr, fresh.getLog());
                    fresh.options().FollowRedirects = follow ? 1 : 0;
                }
                peers.Stop(port);
            }
            if (!asked.empty())
                fresh.options().extraHeaders.setField("Accept-Encoding", asked.c_str());
            if (!limit.empty())
                fresh.options().MaxResponseSize = std::stoul(limit);
            const std::unique_ptr<FifoReader> reader(row[2] == kFifo ? new FifoReader(ours, false) : nullptr);
            XString u, path, text;
            const bool ok =
                s3                     ? S3Road(fresh, row[0], port, ours, ours, row[2], upload)
                : memory               ? MemoryRoad(fresh, row[0], url, ours)
                : road == Road::Resume ? fresh.ResumeDownload(X(u, url), X(path, ours), false, nullptr, fresh.getLog())
                : road == Road::Append ? fresh.DownloadAppend(X(u, url), X(path, ours), false, nullptr, fresh.getLog())
                                       : fresh.Download(X(u, url), X(path, ours), false, nullptr, fresh.getLog());
            XString why;
            fresh.getLastErrorText(why, false);
            EXPECT_EQ(std::string(ok ? "true " : "false ") + Holding(ours, reader.get()), Expanded(Unescaped(row[4])))
                << why.getUtf8();
            if (!cached)
                peers.Stop(port);
        }

        SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2] + ": " + row[3] + " (curl)");
        const int port = peers.StartCaptureServer(script);
        std::vector<std::string> curl = {"curl", "-sf", "http://127.0.0.1:" + std::to_string(port) + "/page"};
        // Into a gzip file's name under a limit curl keeps the member as it
        // came, unasked to unpack it, as the name keeps it here.
        if (!limit.empty())
            curl.insert(curl.end(), {"--max-filesize", limit});
        if (asked.empty() && (limit.empty() || !named))
            curl.push_back("--compressed");
        else
            curl.insert(curl.end(), {"-H", "Accept-Encoding: " + asked});
        if (kCurlVerbs.contains(row[0]))
            curl.insert(curl.end(), kCurlVerbs.at(row[0]).begin(), kCurlVerbs.at(row[0]).end());
        if (row[1] == "on")
            curl.push_back("-L");
        if (road == Road::Resume)
            curl.insert(curl.end(), {"-C", "-"});
        if (IsS3Write(row[0]))
            curl.insert(curl.end(), {"-o", "/dev/null"});
        if (row[0].starts_with("s3-upload"))
            curl.insert(curl.end(), {"-T", upload});
        if (row[0].starts_with("s3-delete"))
            curl.insert(curl.end(), {"-X", "DELETE"});
        if (road != Road::Append && !quick && !IsS3Write(row[0]))
            curl.insert(curl.end(), {"-o", judged});
        const std::unique_ptr<FifoReader> curlReader(row[2] == kFifo ? new FifoReader(judged, false) : nullptr);
        const grvtest::RunResult r = grvtest::RunProgram(curl);
        if (road == Road::Append) {
            ASSERT_TRUE(grvtest::WriteFile(judged, Holding(judged) + r.out));
        } else if (s3String && r.status == 0) {
            const grvtest::RunResult text =
                grvtest::Python(kScriptNamedCharset, {std::string(GRV_TEST_DATA_DIR) + "/text", row[2]}, r.out);
            ASSERT_EQ(text.status, 0) << text.err;
            if (text.out != "refused") {
                ASSERT_TRUE(grvtest::WriteFile(judged, text.out));
            }
        } else if (quick && r.status == 0) {
            ASSERT_TRUE(grvtest::WriteFile(judged, r.out));
        }
        EXPECT_EQ(std::to_string(r.status) + " " + Holding(judged, curlReader.get()),
                  Expanded(Unescaped(CurlVerdict(row[5], r.status))))
            << r.err;
        peers.Stop(port);
    }
}

// The owner acts once the call has made the file at args[4] (or, through
// the owner's link there, the file args[2] it leads to): args[1] says how
// ("owner-moves-onto": the file args[3] is moved onto the name;
// "owner-moves-onto-at-removal": nothing here, see MoveOwnersFileOnto; else
// the link is pointed at that file). Then the answer args[0] (hex) is sent
// whole, its last byte only after the owner acted.
constexpr const char* kScriptOwnerActs = R"PY(
s = listen()
c, a = s.accept()
recv_head(c)
answer = bytes.fromhex(args[0])
c.sendall(answer[:-1])
for _ in range(1000):
    if os.path.exists(args[2]):
        break
    time.sleep(0.01)
if args[1] == 'owner-moves-onto-at-removal':
    pass
elif args[1] == 'owner-moves-onto':
    os.rename(args[3], args[4])
else:
    os.unlink(args[4])
    os.symlink(args[3], args[4])
c.sendall(answer[-1:])
c.close()
)PY";

// The owner's file and the name it is moved onto when a call is about to
// take away the file it made there.
std::string g_ownersFile, g_ownersName;
void MoveOwnersFileOnto(const char* step) {
    if (std::strcmp(step, platform::kMadeFileFound) == 0)
        ::rename(g_ownersFile.c_str(), g_ownersName.c_str());
}
// The same, and the call is killed once it has set the name's file aside.
void MoveOwnersFileOntoThenDie(const char* step) {
    MoveOwnersFileOnto(step);
    if (std::strcmp(step, platform::kMadeFileAside) == 0)
        ::_exit(0);
}

// DownloadAppend or ResumeDownload of url into name on a component of its
// own, called or run as a background task; redirects are not followed.
bool AppendOrResume(const std::string& url, const std::string& name, bool resume, bool background) {
    ClsHttp fresh;
    fresh.options().UseIEProxy = 0;
    fresh.options().FollowRedirects = 0;
    XString u, path;
    X(u, url);
    X(path, name);
    if (!background)
        return resume ? fresh.ResumeDownload(u, path, false, nullptr, fresh.getLog())
                      : fresh.DownloadAppend(u, path, false, nullptr, fresh.getLog());
    return fresh.queueBackgroundTask(resume ? BgMethod::ResumeDownload : BgMethod::DownloadAppend,
                                     resume ? "ResumeDownload" : "DownloadAppend",
                                     [&](ClsBgTask& t) {
                                         t.pushStringArg(u);
                                         t.pushStringArg(path);
                                     }) &&
           fresh.waitForBackgroundTask(kTaskLimitMs) && fresh.backgroundTaskResult();
}

// Whether a file in folder holds text.
bool FolderHolds(const std::string& folder, const std::string& text) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file() && grvtest::ReadFile(entry.path().string()) == text)
            return true;
    }
    return false;
}

// A failed append or resume onto a name that held no file removes only the
// file it made, and only while the name leads to it: the owner's file moved
// onto the name, or the file the owner's link there was pointed at while
// the call ran, stays, as it does under curl (the outcome table's "owner-"
// rows).
TEST_F(DownloadTargets, AFailedAppendOrResumeKeepsWhatTheOwnerPutAtTheName) {
    constexpr const char* kOwnerText = "kept";
    std::size_t count = 0;
    grvtest::TempDir dir;
    for (const std::vector<std::string>& row :
         grvtest::ReadTable(std::string(GRV_TEST_DATA_DIR) + "/http/download-outcomes.txt", " | ")) {
        if (!row[2].starts_with(kOwnerActs))
            continue;
        ++count;
        const bool background = row[0].ends_with("-background");
        const bool resume = row[0].starts_with("resume");
        const bool link = row[2] == "owner-repoints-link";
        const bool killed = row[2] == "owner-moves-onto-killed-aside";
        const bool atRemoval = row[2] == "owner-moves-onto-at-removal" || killed;
        std::string hex;
        for (const unsigned char c : Answer(row[3]))
            hex += "0123456789abcdef"[c >> 4] + std::string(1, "0123456789abcdef"[c & 0xf]);
        for (const bool curl : {false, true}) {
            SCOPED_TRACE(row[0] + " " + row[2] + (curl ? " (curl)" : ""));
            const std::string folder = dir.File("case" + std::to_string(count) + (curl ? "c" : "o"));
            std::filesystem::create_directory(folder);
            const std::string name = folder + "/t", owner = folder + "/owner", made = folder + "/t.target";
            ASSERT_TRUE(grvtest::WriteFile(owner, kOwnerText));
            if (link)
                std::filesystem::create_symlink("t.target", name);
            grvtest::ScriptPeer server(kScriptOwnerActs, {hex,
                                                          curl && atRemoval ? "owner-moves-onto"
                                                          : atRemoval       ? "owner-moves-onto-at-removal"
                                                                            : row[2],
                                                          link ? made : name, owner, name});
            g_ownersFile = owner;
            g_ownersName = name;
            platform::SetKillHook(atRemoval && !curl ? MoveOwnersFileOnto : nullptr);
            const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/page";
            std::string verdict;
            if (killed && !curl) {
                // Killed while it held the owner's file aside: what it left
                // is judged once a later write's cleanup ran beside the name.
                const pid_t child = ::fork();
                if (child == 0) {
                    platform::SetKillHook(MoveOwnersFileOntoThenDie);
                    ClsHttp fresh;
                    fresh.options().UseIEProxy = 0;
                    XString u, path;
                    X(u, url);
                    X(path, name);
                    (void)(resume ? fresh.ResumeDownload(u, path, false, nullptr, fresh.getLog())
                                  : fresh.DownloadAppend(u, path, false, nullptr, fresh.getLog()));
                    ::_exit(1);
                }
                int status = 0;
                ASSERT_GT(child, 0);
                ASSERT_EQ(::waitpid(child, &status, 0), child);
                platform::PartFile::RemoveLeftovers(name);
                verdict = std::string(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "killed " : "not killed ") +
                          (FolderHolds(folder, kOwnerText) ? "kept" : "lost");
            } else if (!curl) {
                verdict = AppendOrResume(url, name, resume, background) ? "true " : "false ";
            } else {
                // An append is the shell's >>, opened before curl runs.
                const grvtest::RunResult r =
                    resume
                        ? grvtest::RunProgram({"curl", "-sf", "--compressed", "-C", "-", "-o", name, url})
                        : grvtest::RunProgram({"sh", "-c", "exec curl -sf --compressed \"$1\" >> \"$0\"", name, url});
                verdict = std::to_string(r.status) + " ";
            }
            platform::SetKillHook(nullptr);
            server.Finish();
            if (!killed || curl)
                verdict += (std::filesystem::is_symlink(name) ? "link->" : "") + Holding(name);
            EXPECT_EQ(verdict, row[curl ? 5 : 4]);
        }
    }
    EXPECT_EQ(count, 14u);
}

namespace {

// Another writer makes the file args[1] with args[2] once the request came,
// then the answer args[0] (hex) goes out.
constexpr const char* kScriptOtherWrites = R"PY(
s = listen()
c, a = s.accept()
recv_head(c)
with open(args[1], 'ab') as f:
    f.write(args[2].encode())
c.sendall(bytes.fromhex(args[0]))
c.close()
)PY";

// The reference: the body of a whole 2xx answer (a gzip one unpacked)
// appended by open(..., 'ab') as it came; exit status 1, nothing written,
// for anything else.
constexpr const char* kScriptAppendAsPython = R"PY(
import gzip, http.client, sys
c = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]))
c.request('GET', '/page')
r = c.getresponse()
try:
    body = r.read()
    if r.getheader('Content-Encoding') == 'gzip':
        body = gzip.decompress(body)
except Exception:
    sys.exit(1)
if not 200 <= r.status < 300:
    sys.exit(1)
with open(sys.argv[2], 'ab') as f:
    f.write(body)
)PY";

} // namespace

// An append or a resume onto a name that held no file, made meanwhile by
// another writer while the call waited for its answer, or onto a file
// another writer added to meanwhile, goes after that writer's bytes, and a
// failure leaves them as they are: beside python's open(..., 'ab') (the
// outcome table's "other-writes-in-the-wait" and "other-grows-in-the-wait"
// rows).
TEST_F(DownloadTargets, AnAppendGoesAfterWhatAnotherWroteInTheWait) {
    constexpr const char* kTheirs = "theirs:";
    constexpr const char* kMine = "mine:";
    std::size_t count = 0;
    grvtest::TempDir dir;
    for (const std::vector<std::string>& row :
         grvtest::ReadTable(std::string(GRV_TEST_DATA_DIR) + "/http/download-outcomes.txt", " | ")) {
        if (row[2] != kOtherWrites && row[2] != kOtherGrows)
            continue;
        ++count;
        const bool background = row[0].ends_with("-background");
        const bool resume = row[0].starts_with("resume");
        for (const bool python : {false, true}) {
            SCOPED_TRACE(row[0] + " " + row[3] + (python ? " (python)" : ""));
            const std::string name = dir.File("w" + std::to_string(count) + (python ? "p" : "o"));
            if (row[2] == kOtherGrows) {
                ASSERT_TRUE(grvtest::WriteFile(name, kMine));
            }
            grvtest::ScriptPeer server(kScriptOtherWrites, {grvtest::ToHex(Answer(row[3])), name, kTheirs});
            std::string verdict;
            if (python) {
                const grvtest::RunResult r =
                    grvtest::Python(kScriptAppendAsPython, {std::to_string(server.port), name});
                verdict = std::to_string(r.status) + " ";
            } else {
                const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/page";
                verdict = AppendOrResume(url, name, resume, background) ? "true " : "false ";
            }
            server.Finish();
            EXPECT_EQ(verdict + Holding(name), row[python ? 5 : 4]);
        }
    }
    EXPECT_EQ(count, 26u);
}

// ---------------------------------------------------------------- every writer of a named file

namespace {

// Past a pipe's buffer, so a reader that leaves after its first byte meets
// the writer mid-way; past the full disk's room.
constexpr std::size_t kNewSize = 256 * 1024;
constexpr const char* kFullDiskSize = "size=64k";
// How long python's open() is given before it counts as waiting for good.
constexpr auto kBlocksAfter = std::chrono::seconds(1);
constexpr const char* kCacheName = "http://cache.test/page";
// A file-size limit this far past the older bytes: room for a small
// document, not for the new content.
constexpr std::size_t kSizeLimitRoom = 4096;
// The mode of the file-acl target: its ACL's mask stands for the group.
constexpr mode_t kAclTargetMode = 0660;
// How many times each of two writers writes the same file at once.
constexpr int kRunsEach = 20;
// Absent in a sticky folder anyone may write, until another account takes
// the name while the writer writes (grvtest::NameTaker): just after the
// writer's open, or just before its rename.
constexpr const char* kTakenAfterOpen = "taken-after-open";
constexpr const char* kTakenBeforeRename = "taken-before-rename";
// The same before the rename in a folder anyone may write that is not sticky.
constexpr const char* kTakenNotSticky = "taken-not-sticky";
bool IsTaken(const std::string& kind) {
    return kind == kTakenAfterOpen || kind == kTakenBeforeRename || kind == kTakenNotSticky;
}
constexpr mode_t kTakersMode = 0666;
// Another account moves files while the writer writes, just before its
// rename, in a folder anyone may write that is not sticky (or in a team
// folder, -team: its group may write it): the target's folder moved away
// and another put in its place, or a file of the writer's own (0644) moved
// onto the name, over the writer's 0600 file, or where nothing stood under
// umask 077 (-new). Judged by who may read the new content afterwards.
constexpr const char* kMovingKinds[] = {"folder-swapped", "folder-swapped-team", "own-file-moved",
                                        "own-file-moved-team", "own-file-moved-new"};
bool IsMoving(const std::string& kind) {
    return std::find(std::begin(kMovingKinds), std::end(kMovingKinds), kind) != std::end(kMovingKinds);
}
bool IsSwap(const std::string& kind) {
    return kind.starts_with("folder-swapped");
}
// Absent, in a folder whose default ACL names no one.
constexpr const char* kUnderGroupAcl = "new-under-group-acl";
// The new-under-acl folder written through a bindfs mount of it, where no
// file can be made without a name.
constexpr const char* kUnderAclOnBindfs = "new-under-acl-bindfs";
// The owner changes its file as the writer writes, as soon as the part is
// open: makes it 600 (from 644), takes nobody out of the file-acl target's
// ACL, lets nobody read in one (over 600), or (root) gives it to nobody
// (644). What it has afterwards, the new content is to have.
struct OwnersRow {
    const char* kind;
    mode_t from;
    grvtest::OwnersChange change;
    mode_t mode;
    const char* acl;
};
constexpr OwnersRow kOwnersRows[] = {
    {"owner-chmod-600", 0644, grvtest::kOwnerMakesItPrivate, 0600, ""},
    {"owner-acl-out", 0660, grvtest::kOwnerTakesNobodyOut, 0600, ""},
    {"owner-acl-in", 0600, grvtest::kOwnerLetsNobodyRead, 0640, "u::rw-,u:65534:r--,g::---,m::r--,o::---"},
    {"owner-chown", 0644, grvtest::kOwnerGivesItToNobody, 0644, ""},
};
const OwnersRow* OwnersRowOf(const std::string& kind) {
    const auto row = std::find_if(std::begin(kOwnersRows), std::end(kOwnersRows),
                                  [&](const OwnersRow& r) { return kind == r.kind; });
    return row == std::end(kOwnersRows) ? nullptr : row;
}
// Nobody's file (640) the writer, root, is killed (SIGKILL) over right
// after the step that follows this in the kind's name.
constexpr const char* kKilledAfter = "killed-";
// file-acl, written in a child where an empty tmpfs hides /proc.
constexpr const char* kAclWithoutProc = "file-acl-no-proc";
constexpr const char* kWriteTargetVariable = "GRV_WRITE_TARGET";
// What that child prints before the writer's result.
constexpr const char* kResultLead = "writer said: ";
constexpr mode_t kKilledFileMode = 0640;
bool IsKilled(const std::string& kind) {
    return kind.starts_with(kKilledAfter);
}
// Where the killed child writes, and with which writer.
constexpr char kKillTargetVariable[] = "GRV_KILL_TARGET";
constexpr char kKillWriterVariable[] = "GRV_KILL_WRITER";
// The writer's own file moved onto the name.
constexpr const char* kPublicName = "public";
constexpr const char* kPublicBytes = "the user's public bytes\n";
constexpr mode_t kPublicMode = 0644;
constexpr mode_t kPrivateMask = 077;
constexpr mode_t kOpenFolderMode = 0777;
constexpr mode_t kTeamFolderMode = 0775;
// How much of the new content marks a file as holding it.
constexpr std::size_t kContentMark = 64;

// The writers table. Nobody, run again from a clone it may not enter (one
// under /root), reads the copy root leaves it in the shared folder.
constexpr char kWritersTableVariable[] = "GRV_WRITERS_TABLE";
constexpr mode_t kSharedTableMode = 0644;

std::string WritersTable() {
    const char* copy = std::getenv(kWritersTableVariable);
    return copy != nullptr ? copy : std::string(GRV_TEST_DATA_DIR) + "/http/file-writers.txt";
}

// The kinds of target that are a regular file holding older bytes.
bool HoldsOlderBytes(const std::string& kind) {
    return kind == "file-0600" || kind == "file-0444" || kind == "link" || kind == "full-disk" ||
           kind == "size-limit" || kind == "two-writers" || kind == "planted-link" || kind == "hard-link" ||
           kind == "named-again" || (IsMoving(kind) && kind != "own-file-moved-new") || IsKilled(kind) ||
           (OwnersRowOf(kind) != nullptr && kind != "owner-acl-out");
}

// The target whose folder or name another account moves at the step before
// the rename.
std::string g_moved;

void MoveBeforeRename(const char* step) {
    if (std::strcmp(step, "part-synced") != 0 || g_moved.empty())
        return;
    const std::string path = std::exchange(g_moved, std::string());
    const std::string folder = path.substr(0, path.rfind('/'));
    if (std::filesystem::exists(folder + "/" + kPublicName)) {
        EXPECT_EQ(::rename((folder + "/" + kPublicName).c_str(), path.c_str()), 0);
        return;
    }
    EXPECT_EQ(::rename(folder.c_str(), (folder + ".moved").c_str()), 0);
    EXPECT_EQ(::mkdir(folder.c_str(), kOpenFolderMode), 0);
    if (::geteuid() == 0) {
        EXPECT_EQ(::chown(folder.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
    }
}

// The file a writer's step before its rename gives a second name.
std::string g_nameAgain;

void NameAgainBeforeRename(const char* step) {
    if (std::strcmp(step, "part-synced") == 0)
        ::link(g_nameAgain.c_str(), (g_nameAgain + ".target").c_str());
}

// Two threads run call kRunsEach times each, at once: what every call said,
// when all said the same.
std::string TwoAtOnce(const std::function<std::string()>& call) {
    std::vector<std::string> said[2];
    std::thread other([&] {
        for (int i = 0; i < kRunsEach; ++i)
            said[1].push_back(call());
    });
    for (int i = 0; i < kRunsEach; ++i)
        said[0].push_back(call());
    other.join();
    for (const auto& one : said) {
        if (std::count(one.begin(), one.end(), said[0][0]) != kRunsEach)
            return "differently";
    }
    return said[0][0];
}

std::string NewContent() {
    std::string text;
    for (int i = 0; text.size() < kNewSize; ++i)
        text += "line " + std::to_string(i) + " of the new content\n";
    return text;
}

// One target of the table made at folder/name, and what stands there after.
class Target {
public:
    Target(const std::string& folder, const std::string& name, const std::string& kind, const std::string& old)
        : m_folder(FolderOf(folder, kind)), m_path(m_folder + "/" + name), m_kind(kind), m_old(old) {
        std::filesystem::create_directories(folder);
        if (kind == "full-disk") {
            m_mounted = grvtest::RunProgram({"mount", "-t", "tmpfs", "-o", kFullDiskSize, "tmpfs", folder}).Ok();
            EXPECT_TRUE(m_mounted) << "tests/run-common.sh runs this only where a tmpfs can be mounted";
        }
        const bool planted = kind == "planted-link" || kind == "planted-dangling-link";
        const bool linked = kind == "link" || kind == "dangling-link" || planted;
        const std::string landing = linked ? m_path + ".target" : m_path;
        const OwnersRow* owners = OwnersRowOf(kind);
        if (HoldsOlderBytes(kind)) {
            EXPECT_TRUE(grvtest::WriteFile(landing, old));
            m_mode = kind == "file-0444" ? 0444 : IsKilled(kind) ? kKilledFileMode : owners ? owners->from : 0600;
            ::chmod(landing.c_str(), m_mode);
        }
        if (IsKilled(kind)) {
            EXPECT_EQ(::chown(landing.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
        }
        if (linked) {
            EXPECT_EQ(::symlink((name + ".target").c_str(), m_path.c_str()), 0);
        }
        if (kind == "hard-link") {
            EXPECT_EQ(::link(m_path.c_str(), (m_path + ".target").c_str()), 0);
        }
        if (kind == "named-again") {
            g_nameAgain = m_path;
            platform::SetKillHook(NameAgainBeforeRename);
        }
        if (IsTaken(kind))
            m_taker =
                std::make_unique<grvtest::NameTaker>(m_path, kind == kTakenAfterOpen ? "part-opened" : "part-synced");
        if (IsMoving(kind)) {
            if (!IsSwap(kind)) {
                const std::string mine = m_folder + "/" + kPublicName;
                EXPECT_TRUE(grvtest::WriteFile(mine, kPublicBytes));
                EXPECT_EQ(::chmod(mine.c_str(), kPublicMode), 0);
            }
            if (kind == "own-file-moved-new")
                m_umask = ::umask(kPrivateMask);
            g_moved = m_path;
            platform::SetKillHook(MoveBeforeRename);
        }
        if (planted) {
            EXPECT_EQ(::lchown(m_path.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
        }
        if (kind == "full-disk") {
            // Every block taken: not one more byte fits.
            const std::string filler = folder + "/filler";
            const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            const std::string block(4096, 'f');
            while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
            }
            ::close(fd);
        }
        if (kind.compare(0, 5, "fifo-") == 0) {
            EXPECT_EQ(::mkfifo(m_path.c_str(), 0600), 0);
            if (kind != "fifo-none") {
                m_reader = std::make_unique<FifoReader>(m_path, kind == "fifo-leaves");
                EXPECT_TRUE(m_reader->Ok());
            }
        }
        const bool acl = kind == "file-acl" || kind == kAclWithoutProc;
        if (kind == "device" || acl || kind == "owner-acl-out") {
            m_device = std::make_unique<grvtest::WriteTarget>(
                folder, name, kind == "device" ? grvtest::TargetKind::PrivateDevice : grvtest::TargetKind::AclFile,
                old);
            EXPECT_EQ(m_device->Error(), 0);
        }
        if (acl) {
            m_mode = kAclTargetMode;
            m_acl = grvtest::AccessAcl(m_path);
        }
        if (kind == "planted-fifo") {
            EXPECT_EQ(::mkfifo(m_path.c_str(), 0600), 0);
            EXPECT_EQ(::chown(m_path.c_str(), grvtest::kNobodyId, grvtest::kNobodyId), 0);
            m_reader = std::make_unique<FifoReader>(m_path, false);
        }
        if (kind == "planted-file" || kind == "new-under-acl") {
            m_device = std::make_unique<grvtest::WriteTarget>(
                folder, name,
                kind == "planted-file" ? grvtest::TargetKind::PlantedFile : grvtest::TargetKind::UnderDefaultAcl, old);
            EXPECT_EQ(m_device->Error(), 0);
        }
        // A default ACL that names no one and gives the owning group rw- and
        // others r--: a new file's group bits are then the ACL's, whatever
        // the umask takes away.
        if (kind == kUnderGroupAcl) {
            EXPECT_TRUE(grvtest::SetGroupDefaultAcl(m_folder));
        }
        // What python's open() makes there, as this process's user.
        if (kind == "new-under-acl" || kind == kUnderGroupAcl || kind == kUnderAclOnBindfs) {
            const std::string probe = m_folder + "/python-made";
            EXPECT_TRUE(grvtest::Python("import sys; open(sys.argv[1], 'wb').close()", {probe}).Ok());
            struct stat st;
            EXPECT_EQ(::stat(probe.c_str(), &st), 0);
            m_mode = st.st_mode & 07777;
            m_acl = grvtest::AccessAcl(probe);
            ::unlink(probe.c_str());
        }
        struct stat st;
        if (::stat(m_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            m_uid = st.st_uid;
            m_gid = st.st_gid;
        }
        // What the owner leaves it, changed as the writer writes.
        if (owners != nullptr) {
            m_mode = owners->mode;
            m_acl = owners->acl;
            if (std::strcmp(owners->change.change, "chown") == 0)
                m_uid = m_gid = grvtest::kNobodyId;
            m_owner = std::make_unique<grvtest::OwnerChangesAsItWrites>(m_path, owners->change);
        }
    }
    ~Target() {
        if (m_kind == "named-again" || IsMoving(m_kind))
            platform::SetKillHook(nullptr);
        g_moved.clear();
        if (m_umask != kNoUmask)
            ::umask(m_umask);
        m_reader.reset();
        m_owner.reset();
        if (m_mounted)
            grvtest::RunProgram({"umount", m_folder});
        // Debian 12's FUSE unmounts with fusermount, 13's with fusermount3.
        if (m_kind == kUnderAclOnBindfs && !grvtest::RunProgram({"fusermount3", "-u", m_folder}).Ok()) {
            EXPECT_TRUE(grvtest::RunProgram({"fusermount", "-u", m_folder}).Ok());
        }
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    const std::string& Path() const { return m_path; }

    // new, old (bytes, mode and ACL as before, or still nothing), fifo-all,
    // fifo-nothing, fifo (a part came, or the reader left), device,
    // cut-short (neither), or what else stands there; and what else the
    // folder holds.
    std::string Judge(const std::string& fresh) {
        if (IsMoving(m_kind))
            return Readers(fresh);
        std::string verdict = JudgePath(fresh);
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            const std::string name = entry.path().filename().string();
            if (m_folder + "/" + name != m_path && m_folder + "/" + name != m_path + ".target" && name != "filler")
                verdict += " and " + name;
        }
        return verdict;
    }

    const std::string& Folder() const { return m_folder; }
    // What stands at the name alone.
    std::string JudgeName(const std::string& fresh) { return JudgePath(fresh); }

private:
    // Where a target of kind stands: a sticky folder anyone may write for
    // what another account planted, one with a default ACL, else folder.
    static std::string FolderOf(const std::string& folder, const std::string& kind) {
        if (IsMoving(kind) || kind == kTakenNotSticky) {
            // A folder anyone may write that is not sticky, or one the other
            // account's group (nobody's, for root) may write; the target
            // stands in a folder of its own in it where that folder moves.
            const bool team = kind.ends_with("-team");
            const std::string open = folder + (team ? "/team" : "/open");
            std::filesystem::create_directories(open);
            EXPECT_EQ(::chmod(open.c_str(), team ? kTeamFolderMode : kOpenFolderMode), 0);
            if (team && ::geteuid() == 0) {
                EXPECT_EQ(::chown(open.c_str(), 0, grvtest::kNobodyId), 0);
            }
            if (!IsSwap(kind))
                return open;
            std::filesystem::create_directories(open + "/in");
            return open + "/in";
        }
        const bool shared = kind.starts_with("planted-") || IsTaken(kind);
        if (shared && kind != "planted-file") {
            std::filesystem::create_directories(folder + "/shared");
            EXPECT_EQ(::chmod((folder + "/shared").c_str(), 01777), 0);
        }
        if (kind == kUnderGroupAcl) {
            std::filesystem::create_directories(folder + "/group-acl");
            return folder + "/group-acl";
        }
        if (kind == kUnderAclOnBindfs) {
            std::filesystem::create_directories(folder);
            const grvtest::WriteTarget acl(folder, "t", grvtest::TargetKind::UnderDefaultAcl, "");
            const std::string bound = folder + "/bound";
            std::filesystem::create_directories(bound);
            EXPECT_TRUE(grvtest::RunProgram({"bindfs", folder + "/acl", bound}).Ok())
                << "tests/run-common.sh runs this only where bindfs can mount";
            return bound;
        }
        return shared ? folder + "/shared" : kind == "new-under-acl" ? folder + "/acl" : folder;
    }

    // Who may read the new content afterwards, anywhere in the folder the
    // moves were made in: "private" when no file holding it is open to
    // another account (by its mode, its owner or an ACL), or none holds it;
    // "others" when one is. A part left there is named.
    std::string Readers(const std::string& fresh) {
        const std::string mark = fresh.substr(0, kContentMark);
        const std::string scanned = IsSwap(m_kind) ? m_folder.substr(0, m_folder.rfind('/')) : m_folder;
        std::string readers = "private", left;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(scanned)) {
            struct stat st;
            const std::string path = entry.path().string();
            if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            if (entry.path().filename().string().find(".part-") != std::string::npos)
                left += " and a part";
            if (grvtest::ReadFile(path).find(mark) == std::string::npos)
                continue;
            constexpr mode_t kOthersRead = S_IRGRP | S_IROTH;
            if ((st.st_mode & kOthersRead) != 0 || st.st_uid != ::geteuid() || !grvtest::AccessAcl(path).empty())
                readers = "others";
        }
        return readers + left;
    }

    std::string JudgePath(const std::string& fresh) {
        struct stat st;
        if (::lstat(m_path.c_str(), &st) != 0)
            return m_kind == "absent" || m_kind == "new-under-acl" || m_kind == kUnderGroupAcl ||
                           m_kind == kUnderAclOnBindfs || IsTaken(m_kind)
                       ? "old"
                       : "gone";
        std::string landing = m_path;
        if (S_ISLNK(st.st_mode)) {
            if (m_kind != "link" && m_kind != "dangling-link" && m_kind != "planted-link" &&
                m_kind != "planted-dangling-link")
                return "a link";
            landing += ".target";
            if (::stat(landing.c_str(), &st) != 0)
                return m_kind.ends_with("dangling-link") ? "old" : "a dangling link";
        }
        if (S_ISFIFO(st.st_mode)) {
            const std::string read = m_reader ? m_reader->Finish() : "";
            return read == fresh ? "fifo-all" : read.empty() ? "fifo-nothing" : "fifo";
        }
        if (S_ISCHR(st.st_mode))
            return "device";
        if (!S_ISREG(st.st_mode))
            return "something else";
        // Both names still one file, whatever it holds.
        const bool named =
            m_kind == "hard-link" || (m_kind == "named-again" && grvtest::FileExists(landing + ".target"));
        if (named && st.st_nlink != 2)
            return "parted from its other name";
        const std::string bytes = grvtest::ReadFile(landing);
        // The other account's file as it made it: its owner's, read by whom
        // it chose, holding its bytes alone.
        if (bytes == grvtest::kTakersBytes && st.st_uid != ::geteuid() && (st.st_mode & 07777) == kTakersMode)
            return "theirs";
        // A file that was there keeps its owner and group; a new one is the
        // writer's, as open() makes it.
        const bool ownerKept = m_uid == kNoOwner ? st.st_uid == ::geteuid() && st.st_gid == ::getegid()
                                                 : st.st_uid == m_uid && st.st_gid == m_gid;
        const bool modeKept =
            (m_mode == 0 || (st.st_mode & 07777) == m_mode) && grvtest::AccessAcl(landing) == m_acl && ownerKept;
        if (bytes == fresh && modeKept)
            return "new";
        if (bytes == m_old && modeKept && m_kind != "absent")
            return "old";
        // The writer's bytes, but another account's file.
        if (bytes == fresh && !ownerKept)
            return "given away";
        // The writer's bytes, but not the mode or ACL the file has.
        if (bytes == fresh)
            return "new, other permissions";
        return "cut-short";
    }

    std::string m_folder;
    std::string m_path;
    std::string m_kind;
    std::string m_old;
    mode_t m_mode = 0;
    static constexpr uid_t kNoOwner = static_cast<uid_t>(-1);
    uid_t m_uid = kNoOwner;
    gid_t m_gid = static_cast<gid_t>(-1);
    // The access ACL, kept with the mode.
    std::string m_acl;
    bool m_mounted = false;
    static constexpr mode_t kNoUmask = static_cast<mode_t>(-1);
    mode_t m_umask = kNoUmask;
    std::unique_ptr<FifoReader> m_reader;
    std::unique_ptr<grvtest::WriteTarget> m_device;
    std::unique_ptr<grvtest::NameTaker> m_taker;
    std::unique_ptr<grvtest::OwnerChangesAsItWrites> m_owner;
};

// A writer of the table: the name it writes in its folder, whether it adds
// to what is there, and the call ("true"/"false", or "-" for one that
// returns nothing).
struct Writer {
    std::string name;
    bool appends = false;
    std::function<std::string(const std::string& folder, const std::string& path)> run;
};

} // namespace

class FileWriters : public grvtest::ComponentPeerTest {
protected:
    void SetUp() override {
        ComponentPeerTest::SetUp();
        m_new = NewContent();
        ASSERT_TRUE(grvtest::WriteFile(m_served.File("page.txt"), m_new));
        ASSERT_TRUE(grvtest::WriteFile(m_source.File("plain"), m_new));
        const grvtest::RunResult gz = grvtest::Python(
            "import gzip, sys; open(sys.argv[2], 'wb').write(gzip.compress(open(sys.argv[1], 'rb').read()))",
            {m_source.File("plain"), m_source.File("gzipped")});
        ASSERT_TRUE(gz.Ok()) << gz.err;
        m_gzipped = grvtest::ReadFile(m_source.File("gzipped"));
        ASSERT_TRUE(grvtest::WriteFile(m_served.File("page.gz"), m_gzipped));
        m_server = std::make_unique<grvtest::ScriptPeer>(kScriptFileServer, std::vector<std::string>{m_served.Path()});
        m_url = "http://127.0.0.1:" + std::to_string(m_server->port) + "/page.txt";
    }
    void TearDown() override {
        XString u;
        DataBuffer ignored;
        http.QuickGet(X(u, m_url.substr(0, m_url.rfind('/')) + "/quit"), ignored, false, nullptr, log());
        m_server->Finish();
    }

    static std::string Said(bool ok) { return ok ? "true" : "false"; }

    std::vector<Writer> Writers() {
        const auto download = [this](Road road) {
            return [this, road](const std::string&, const std::string& path) {
                XString u, p;
                X(u, m_url);
                X(p, path);
                return Said(road == Road::Download ? http.Download(u, p, false, nullptr, log())
                            : road == Road::Append ? http.DownloadAppend(u, p, false, nullptr, log())
                                                   : http.ResumeDownload(u, p, false, nullptr, log()));
            };
        };
        const std::string fresh = m_new;
        return {
            {"download", false, download(Road::Download)},
            {"append", true, download(Road::Append)},
            {"download-gzip", false,
             [this](const std::string&, const std::string& path) {
                 XString u, p;
                 X(u, m_url.substr(0, m_url.rfind('/')) + "/packed");
                 return Said(http.Download(u, X(p, path), false, nullptr, log()));
             }},
            // python's server answers a range with the whole file, which
            // replaces the part there.
            {"resume", false, download(Road::Resume)},
            {"savexml", false,
             [fresh](const std::string&, const std::string& path) {
                 ClsXml xml;
                 xml.setTag("doc");
                 xml.setContent(fresh.c_str());
                 return Said(xml.SaveXml(path.c_str()));
             }},
            {"cookies", false,
             [fresh](const std::string& folder, const std::string&) {
                 HttpControl options;
                 options.CookieDir.setString(folder.c_str());
                 HttpResponseHeader head;
                 Logger log;
                 head.parse("HTTP/1.1 200 OK\r\nSet-Cookie: a=b; Domain=shop.test; Path=/\r\n\r\n", log);
                 // What it returns says whether the answer set cookies.
                 HttpClient::storeSetCookies(head, options, "www.shop.test", "/", false, 0, log, nullptr);
                 return std::string("-");
             }},
            {"cache-entry", false,
             [fresh](const std::string& folder, const std::string&) {
                 ClsCache2 cache;
                 cache.AddRoot(folder.c_str());
                 cache.setLevels(0);
                 DataBuffer data;
                 grvtest::SetBytes(data, fresh);
                 SysTimeValue expiry;
                 Logger log;
                 return Said(cache.SaveToCache2(kCacheName, expiry, "tag", data, log));
             }},
            {"cache-bucket", false,
             [fresh](const std::string&, const std::string& path) {
                 // The entry holds the time it was made.
                 grvtest::ScopedClock clock(2012, 7, 15, 12, 0, 0);
                 DataBuffer data;
                 grvtest::SetBytes(data, fresh);
                 CacheEntryFields fields;
                 fields.key = "k";
                 fields.headerText = "";
                 fields.data = &data;
                 Logger log;
                 return Said(CacheFile().replaceEntry(path.c_str(), fields, log));
             }},
            {"encrypt", false,
             [this](const std::string&, const std::string& path) {
                 LogNull log;
                 return Said(encryptFileWithPassword(kPasswordAes, 256, "pass word", m_source.File("plain").c_str(),
                                                     path.c_str(), nullptr, log));
             }},
            {"log-xml", false,
             [fresh](const std::string&, const std::string& path) {
                 Logger log;
                 log.logData("content", fresh.c_str());
                 return Said(log.saveLogXml(path.c_str()));
             }},
            {"whole-file", false,
             [fresh](const std::string&, const std::string& path) {
                 return Said(writeWholeFileUtf8(path.c_str(), fresh.data(), fresh.size(), nullptr));
             }},
            {"append-file", true,
             [fresh](const std::string&, const std::string& path) {
                 XString p;
                 return Said(appendToFile(X(p, path), fresh.data(), fresh.size(), nullptr));
             }},
            {"session-log", true,
             [fresh](const std::string&, const std::string& path) {
                 Logger log;
                 log.setSessionLogPath(path.c_str());
                 log.logData("content", fresh.c_str());
                 return std::string("-");
             }},
            {"ungzip", false,
             [](const std::string&, const std::string& path) {
                 LogNull log;
                 return Said(Gzip::unGzipFile(path.c_str(), log));
             }},
        };
    }

    // The name a writer writes in a folder: the cookie and cache writers
    // choose it themselves.
    static std::string NameIn(const Writer& writer, const std::string& folder) {
        if (writer.name == "cookies")
            return "shop_test.xml";
        if (writer.name != "cache-entry")
            return "t";
        ClsCache2 cache;
        cache.AddRoot(folder.c_str());
        cache.setLevels(0);
        StringBuffer path;
        cache.resourceToFilename(kCacheName, path);
        return path.getString() + std::string(path.getString()).rfind('/') + 1;
    }

    // What python's open() (mode 'wb', or 'ab' for a writer that adds) does
    // to the same kind of target, judged alike.
    std::string Python(const std::string& kind, bool appends) {
        const std::string key = kind + (appends ? " ab" : " wb");
        if (m_python.count(key) == 0) {
            grvtest::TempDir dir;
            Target target(dir.File("python"), "t", kind, kOld);
            grvtest::RunOptions options;
            options.timeout = kBlocksAfter;
            // Under the same file-size limit, or twice at once, as ours.
            const std::string limit = kind == "size-limit" ? std::to_string(std::strlen(kOld) + kSizeLimitRoom) : "0";
            const int runs = kind == "two-writers" ? kRunsEach : 1;
            const grvtest::RunResult r = grvtest::RunProgram(
                {"/usr/bin/python3", "-c",
                 std::string(grvtest::kPythonAcl) +
                     "import resource, threading\n"
                     "path, mode, data, limit, runs = sys.argv[1], sys.argv[2], open(sys.argv[3], 'rb').read(), "
                     "int(sys.argv[4]), int(sys.argv[5])\n"
                     "move = sys.argv[6]\n"
                     "if limit: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, "
                     "resource.getrlimit(resource.RLIMIT_FSIZE)[1]))\n"
                     "def take():\n"
                     "    if os.fork() == 0:\n"
                     "        os.geteuid() == 0 and os.setuid(65534)\n"
                     "        try: os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))\n"
                     "        except OSError: os._exit(0)\n"
                     "        os._exit(1)\n"
                     "    os.wait()\n"
                     "def moved(f):\n"
                     "    folder = os.path.dirname(path)\n"
                     "    if move == 'take': take()\n"
                     "    if move == 'swap': os.rename(folder, folder + '.moved'); os.mkdir(folder)\n"
                     "    if move == 'own': os.rename(os.path.join(folder, 'public'), path)\n"
                     "    how, _, arg = move.partition(' ')\n"
                     "    if how == 'chmod': os.chmod(path, int(arg, 8))\n"
                     "    if how == 'chown': os.chown(path, int(arg), int(arg))\n"
                     "    if how == 'acl': os.setxattr(path, 'system.posix_acl_access', acl(arg))\n"
                     "    if how == 'kill': f.write(data[:len(data) // 2] if arg == 'part' else data); f.flush()\n"
                     "    if how == 'kill': os.kill(os.getpid(), signal.SIGKILL)\n"
                     "def run():\n"
                     "    for _ in range(runs):\n"
                     "        f = open(path, mode)\n"
                     "        moved(f)\n"
                     "        f.write(data)\n"
                     "        f.close()\n"
                     "others = [threading.Thread(target=run) for _ in range(runs > 1)]\n"
                     "[t.start() for t in others]\n"
                     "run()\n"
                     "[t.join() for t in others]\n",
                 target.Path(), appends ? "ab" : "wb", m_source.File("plain"), limit, std::to_string(runs),
                 IsTaken(kind)    ? "take"
                 : IsSwap(kind)   ? "swap"
                 : IsMoving(kind) ? "own"
                 : OwnersRowOf(kind)
                     ? std::string(OwnersRowOf(kind)->change.change) + " " + OwnersRowOf(kind)->change.arg
                 : kind == "killed-part-renamed" ? "kill whole"
                 : IsKilled(kind)                ? "kill part"
                                                 : "-"},
                options);
            m_python[key] = r.timedOut ? "blocks" : target.Judge(Wanted(kind, appends, kOld, m_new));
        }
        return m_python[key];
    }

    // What stands at a target of kind once a writer wrote made into it: an
    // appending one adds to the older bytes of a regular file.
    static std::string Wanted(const std::string& kind, bool appends, const std::string& old, const std::string& made) {
        if (!appends || (kind != "file-0600" && kind != "file-acl" && kind != kAclWithoutProc && kind != "link" &&
                         kind != "size-limit" && kind != "two-writers" && kind != "hard-link" && kind != "named-again"))
            return made;
        std::string want = old;
        for (int i = 0; i < (kind == "two-writers" ? 2 * kRunsEach : 1); ++i)
            want += made;
        return want;
    }

    // Runs the table's rows whose target is one of kinds.
    void RunRows(const std::set<std::string>& kinds) {
        const auto rows = grvtest::ReadTable(WritersTable(), " | ");
        ASSERT_EQ(rows.size(), 434u);
        const std::vector<Writer> writers = Writers();
        // What each writer makes of an absent path, for those whose bytes
        // are their own format.
        std::map<std::string, std::string> fresh;
        for (const Writer& writer : writers) {
            grvtest::TempDir reference;
            const std::string name = NameIn(writer, reference.Path());
            writer.run(reference.Path(), reference.File(name));
            fresh[writer.name] = grvtest::ReadFile(reference.File(name));
        }
        int n = 0, run = 0;
        for (const std::vector<std::string>& row : rows) {
            ASSERT_EQ(row.size(), 4u);
            if (kinds.count(row[1]) == 0)
                continue;
            SCOPED_TRACE(row[0] + " into " + row[1]);
            const auto writer =
                std::find_if(writers.begin(), writers.end(), [&](const Writer& w) { return w.name == row[0]; });
            ASSERT_NE(writer, writers.end());
            const bool unzips = writer->name == "ungzip";
            const std::string folder = m_cases.File("case" + std::to_string(n++));
            std::filesystem::create_directory(folder);
            const std::string old = unzips ? m_gzipped : kOld;
            // The writers whose bytes are known are judged by them.
            if (kKnownBytes.count(writer->name) != 0) {
                EXPECT_EQ(fresh[writer->name], m_new) << "the writer's own bytes on an absent path";
            }
            const std::string made = unzips ? m_new : fresh[writer->name];
            std::string ours;
            {
                Target target(folder, NameIn(*writer, folder), row[1], old);
                const auto run = [&] { return writer->run(target.Folder(), target.Path()); };
                // A writer that lets SIGXFSZ through ends the test.
                std::optional<grvtest::FileSizeLimit> limit;
                if (row[1] == "size-limit")
                    limit.emplace(old.size() + kSizeLimitRoom, false);
                // Killed in a child at the step; then written again here.
                if (IsKilled(row[1])) {
                    ours = Killed(row[0], row[1], target.Path());
                    ours += " " + target.JudgeName(made) + " then ";
                }
                ours += row[1] == "two-writers"     ? TwoAtOnce(run)
                        : row[1] == kAclWithoutProc ? WithoutProc(row[0], target.Path())
                                                    : run();
                ours += " " + target.Judge(Wanted(row[1], writer->appends, old, made));
            }
            EXPECT_EQ(ours, row[2]) << logText();
            if (row[3] != "-") {
                EXPECT_EQ(Python(row[1], writer->appends), row[3]);
            }
            ++run;
        }
        EXPECT_GT(run, 0);
    }

    // The writer run in a child (this test) that kills itself (SIGKILL)
    // right after the step kind names: "killed", else what the child said.
    static std::string Killed(const std::string& writer, const std::string& kind, const std::string& path) {
        char exe[PATH_MAX] = {};
        EXPECT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
        grvtest::RunOptions options;
        options.mergeStderr = true;
        options.env = {std::string(grvtest::kKillAtVariable) + "=" + kind.substr(std::strlen(kKilledAfter)),
                       std::string(kKillTargetVariable) + "=" + path, std::string(kKillWriterVariable) + "=" + writer};
        const grvtest::RunResult child = grvtest::RunProgram(
            {exe, "--gtest_filter=AsNobody.EveryWriterKilledAfterAnyStepLeavesTheFileWholeAndItsOwners"}, options);
        return child.signal == SIGKILL ? "killed" : "not killed: " + child.out;
    }

    // The writer run in a child (this test) where /proc is hidden: what it
    // said, else what the child printed.
    static std::string WithoutProc(const std::string& writer, const std::string& path) {
        char exe[PATH_MAX] = {};
        EXPECT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
        grvtest::RunOptions options;
        options.mergeStderr = true;
        // Its leak check reads /proc as the process ends.
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        options.env = {std::string(kWriteTargetVariable) + "=" + path, std::string(kKillWriterVariable) + "=" + writer,
                       std::string(grvtest::kProcHiddenVariable) + "=" + path + ".ready",
                       "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0"};
        const grvtest::RunResult child = grvtest::RunProgram(
            grvtest::WithoutProc({exe, "--gtest_filter=FileWriters.EveryWriterOntoAFileWithAnAclWithoutProc"}, true),
            options);
        ::unlink((path + ".ready").c_str());
        const std::size_t at = child.out.find(kResultLead);
        return child.status == 0 && at != std::string::npos
                   ? child.out.substr(at + std::strlen(kResultLead),
                                      child.out.find('\n', at) - at - std::strlen(kResultLead))
                   : "failed: " + child.out;
    }

    // In that child: the writer the parent named, onto its path, once /proc
    // is hidden.
    void WriteWithoutProc() {
        ASSERT_TRUE(grvtest::AwaitProcHidden()) << "/proc is still there";
        const std::string path = std::getenv(kWriteTargetVariable);
        const char* name = std::getenv(kKillWriterVariable);
        for (const Writer& writer : Writers()) {
            if (name != nullptr && writer.name == name)
                std::printf("%s%s\n", kResultLead, writer.run(path.substr(0, path.rfind('/')), path).c_str());
        }
    }

    // In that child: the writer the parent named, onto its path.
    void WriteUntilKilled() {
        grvtest::InstallKillAt();
        const std::string path = std::getenv(kKillTargetVariable);
        const char* name = std::getenv(kKillWriterVariable);
        for (const Writer& writer : Writers()) {
            if (name != nullptr && writer.name == name)
                writer.run(path.substr(0, path.rfind('/')), path);
        }
        ADD_FAILURE() << "the writer was not killed at " << std::getenv(grvtest::kKillAtVariable);
    }

    // The rows of kinds as this process's user; as root, then again as
    // nobody, root's files (MakeTakersStock) taking the names for it.
    void RunRowsThenAsNobody(const std::set<std::string>& kinds) {
        RunRows(kinds);
        if (::geteuid() != 0)
            return;
        const auto rows = grvtest::ReadTable(WritersTable(), " | ");
        const auto taken = std::count_if(rows.begin(), rows.end(),
                                         [&](const auto& row) { return IsTaken(row[1]) && kinds.count(row[1]) != 0; });
        grvtest::TempDir stock("grv-takers", grvtest::SharedTempRoot());
        const std::string takers = grvtest::MakeTakersStock(stock.Path(), static_cast<int>(taken));
        const std::string table = stock.File("file-writers.txt");
        std::filesystem::copy_file(WritersTable(), table);
        ASSERT_EQ(::chmod(table.c_str(), kSharedTableMode), 0);
        EXPECT_TRUE(grvtest::RerunAsNobodyInHomeOfItsOwn({takers, std::string(kWritersTableVariable) + "=" + table}));
    }

    static constexpr const char* kOld = "old bytes\n";
    inline static const std::set<std::string> kKnownBytes = {"download", "download-gzip", "append",
                                                             "resume",   "whole-file",    "append-file"};
    std::string m_new, m_gzipped, m_url;
    grvtest::TempDir m_served, m_source, m_cases;
    std::unique_ptr<grvtest::ScriptPeer> m_server;
    std::map<std::string, std::string> m_python;
};

// Every writer of a file the caller names keeps one rule, whatever stands at
// the name: the new content takes the name's place whole (a link's target
// for a link), a FIFO gets it as it stands and one nobody reads fails at
// once, a reader that leaves is a failure the process outlives, and a file
// its owner made read-only is not written.
TEST_F(FileWriters, EveryWriterLeavesEveryTargetAsTheRuleSays) {
    RunRows({"absent", "file-0600", "file-0444", "link", "dangling-link", "hard-link", "named-again", "fifo-reader",
             "fifo-none", "fifo-leaves"});
}

// Where no /proc is mounted (a chroot, a container, a build sandbox) every
// writer replaces a file with an ACL as where it is, reading the ACL from
// the file its open found.
TEST_F(FileWriters, EveryWriterOntoAFileWithAnAclWithoutProc) {
    if (std::getenv(kWriteTargetVariable) != nullptr)
        return WriteWithoutProc();
    RunRows({kAclWithoutProc});
}

TEST_F(FileWriters, EveryWriterIntoAPrivateDeviceLeavesItADevice) {
    RunRows({"device"});
}

// Apart from the rest: not every file system keeps an ACL.
TEST_F(FileWriters, EveryWriterOntoAFileWithAnAclKeepsIt) {
    RunRows({"file-acl"});
}

// A new file under a folder's default ACL is what python's open() makes
// there: not one bit more for others.
TEST_F(FileWriters, EveryWriterOfANewFileInAFolderWithAnAclMakesItAsOpenDoes) {
    RunRows({"new-under-acl", kUnderGroupAcl});
}

// Whatever another account put in a sticky folder anyone may write is not
// written, whatever this machine's sysctls say: the rows are judged by what
// stands there afterwards (owner, mode and bytes), not beside python, whose
// open() follows those sysctls. Needs a planter: nobody.
using AsNobody = FileWriters;
TEST_F(AsNobody, EveryWriterLeavesWhatAnotherAccountPlantedInASharedFolder) {
    RunRows({"planted-fifo", "planted-file", "planted-link", "planted-dangling-link"});
}

// Another account takes the name in a sticky folder anyone may write while
// the write runs, after its open: a writer that did not take the name with
// its open fails and leaves that account's file as it made it (owner, mode,
// bytes), and its own bytes go with its part, never to that account; one
// that did (an append) is like python's open(), which takes the name with
// its first byte, so that the other account's create fails. As root, the
// other account nobody; then as nobody, the other account root.
TEST_F(AsNobody, EveryWriterLeavesANameAnotherAccountTookWhileItWrote) {
    RunRowsThenAsNobody({kTakenAfterOpen, kTakenBeforeRename});
}

// Another account moves files while the write runs, just before its rename,
// in a folder anyone may write that is not sticky, or in a team folder:
// its own file takes the name, the target's folder is moved away and
// another put in its place, or a file of the writer's own (0644) is moved
// onto the name. No writer gives another account the new content: its
// file is left as it made it, the write into a moved folder fails and
// leaves no part, and the new content takes the mode of what the open
// found, never of what was moved there. python's open(path, 'wb') is
// judged beside it under the same moves. As root, the other account
// nobody; then as nobody, the other account root.
TEST_F(AsNobody, EveryWriterKeepsTheNewContentFromWhomMovesFilesWhileItWrites) {
    std::set<std::string> kinds(std::begin(kMovingKinds), std::end(kMovingKinds));
    kinds.insert(kTakenNotSticky);
    RunRowsThenAsNobody(kinds);
}

// The owner makes its file private, takes a reader out of its ACL or lets
// one in while the write runs: the new content has what the owner left, as
// what python's open(path, 'wb') wrote in place under the same change.
TEST_F(FileWriters, EveryWriterKeepsWhatTheOwnerChangesAsItWritesWithAnAcl) {
    RunRows({"owner-chmod-600", "owner-acl-out", "owner-acl-in"});
}

// Root, the owner, gives the file to nobody while the write runs: the new
// content is nobody's, as what python's open() wrote in place is.
TEST_F(AsNobody, EveryWriterKeepsTheOwnerRootGaveTheFileAsItWrites) {
    RunRows({"owner-chown"});
}

// Root's writer killed right after each step it names, over nobody's 640
// file: the name holds the old file or the new content, nobody's with its
// mode, where python's open() killed at the same place leaves it cut
// short; the next write leaves no part beside it.
TEST_F(AsNobody, EveryWriterKilledAfterAnyStepLeavesTheFileWholeAndItsOwners) {
    if (std::getenv(kKillTargetVariable) != nullptr)
        return WriteUntilKilled();
    std::set<std::string> kinds;
    for (const char* step : platform::kPartKillPoints)
        kinds.insert(kKilledAfter + std::string(step));
    RunRows(kinds);
}

// A new file under a default ACL, through a bindfs mount where no file can
// be made without a name: what python's open() makes there.
TEST_F(FileWriters, EveryWriterOfANewFileInAFolderWithAnAclOnBindfs) {
    RunRows({kUnderAclOnBindfs});
}

TEST_F(FileWriters, EveryWriterOntoAFullDiskKeepsTheOlderFile) {
    RunRows({"full-disk"});
}

// A file-size limit is a failure that leaves the older file, never a signal
// that ends the process; two writers of one file at once each leave it whole
// (and appends keep every byte both added).
TEST_F(FileWriters, EveryWriterUnderASizeLimitOrBesideAnotherLeavesAWholeFile) {
    RunRows({"size-limit", "two-writers"});
}
