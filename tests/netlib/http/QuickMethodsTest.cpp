// The component's URL methods against real peers: downloads, resumes and
// gzip-in-place from nginx judged by sha256 of python's hashlib, uploads
// kept whole by the capture server and judged by python (gzip.decompress,
// hashlib.md5), PUT into nginx's DAV folder, and XML-RPC against python's
// SimpleXMLRPCServer, its answer read back by xmlrpc.client.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpClient.h"
#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using grvtest::X;

std::string sha256(const std::string& path) {
    grvtest::RunResult r =
        grvtest::Python("import hashlib,sys; print(hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest())", {path});
    return r.Ok() ? r.out : "unreadable: " + r.err;
}

using QuickMethods = grvtest::ComponentPeerTest;

} // namespace

TEST_F(QuickMethods, DownloadsResumesAndGzipInPlaceMatchNginxFiles) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    const std::string bigPath = nginx.docRoot + "/big.txt";
    const std::string big = grvtest::ReadFile(bigPath);
    const std::string want = sha256(bigPath);
    grvtest::TempDir dir;
    XString url, path;

    // nginx sends big.txt gzip-compressed; the file is un-gzipped in place.
    // The URL's surrounding blanks do not count.
    const std::string whole = dir.File("whole.txt");
    ASSERT_TRUE(http.Download(X(url, " \t" + base + "/big.txt \r\n"), X(path, whole), false, nullptr, log()))
        << logText();
    EXPECT_EQ(sha256(whole), want);
    EXPECT_NE(logText().find("Download was compressed."), std::string::npos);

    // A resume from the first 1000 bytes, asked with and without gzip.
    for (std::uint8_t gzip : {0, 1}) {
        SCOPED_TRACE(gzip);
        http.options().AllowGzip = gzip;
        const std::string part = dir.File("part" + std::to_string(gzip) + ".txt");
        ASSERT_TRUE(grvtest::WriteFile(part, big.substr(0, 1000)));
        ASSERT_TRUE(http.ResumeDownload(X(url, base + "/big.txt"), X(path, part), false, nullptr, log())) << logText();
        EXPECT_EQ(sha256(part), want);
        // The resume point served that call only: a download after it gets
        // the whole file.
        EXPECT_EQ(http.options().ResumePoint, 0);
        const std::string after = dir.File("after" + std::to_string(gzip) + ".txt");
        ASSERT_TRUE(http.Download(X(url, base + "/big.txt"), X(path, after), false, nullptr, log()));
        EXPECT_EQ(sha256(after), want);
    }
    http.options().AllowGzip = 1;

    // A 404 fails and leaves no file.
    const std::string missing = dir.File("missing.txt");
    EXPECT_FALSE(http.Download(X(url, base + "/missing"), X(path, missing), false, nullptr, log()));
    EXPECT_FALSE(grvtest::FileExists(missing));
    EXPECT_EQ(http.lastResult().responseHeader.getStatusCode(), 404u);
}

TEST_F(QuickMethods, DownloadAppendUnGzipsOnlyWhatItAppended) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    grvtest::TempDir dir;
    XString url, path;
    // nginx answers both gzip-compressed; the earlier bytes stay as they were.
    const std::string appended = dir.File("appended.txt");
    ASSERT_TRUE(grvtest::WriteFile(appended, "kept\n"));
    ASSERT_TRUE(http.DownloadAppend(X(url, base + "/"), X(path, appended), false, nullptr, log())) << logText();
    ASSERT_TRUE(http.DownloadAppend(X(url, base + "/big.txt"), X(path, appended), false, nullptr, log()));
    EXPECT_TRUE(grvtest::ReadFile(appended) == "kept\nhello\n" + grvtest::ReadFile(nginx.docRoot + "/big.txt"));
    // Appending to a file that is not there makes it.
    const std::string fresh = dir.File("fresh.txt");
    ASSERT_TRUE(http.DownloadAppend(X(url, base + "/"), X(path, fresh), false, nullptr, log()));
    EXPECT_EQ(grvtest::ReadFile(fresh), "hello\n");
}

namespace {

// Answers each connection with a gzip body made by python's gzip module, as
// its mode in args says: "bomb" (64 MiB of zeros, about 64 KiB packed) or
// "entries" (50 short lines).
constexpr const char* kScriptGzipBodies = R"PY(
import gzip
s = listen()
bodies = {'bomb': gzip.compress(bytes(64 << 20), 9), 'entries': gzip.compress(b'journal entry\n' * 50)}
for mode in args:
    c, a = s.accept()
    recv_head(c)
    body = bodies[mode]
    c.sendall(b'HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nConnection: close\r\n'
              b'Content-Length: %d\r\n\r\n' % len(body) + body)
    c.close()
)PY";

} // namespace

// MaxResponseSize bounds what a downloaded gzip body unpacks to, appended or
// whole; the un-gzipping goes through the file a piece at a time.
TEST_F(QuickMethods, DownloadedGzipUnpacksWithinTheSizeLimit) {
    std::string entries;
    for (int i = 0; i < 50; ++i)
        entries += "journal entry\n";
    struct Case {
        const char* mode;
        bool append;
        std::uint64_t limit;
        bool ok;
    };
    const Case cases[] = {
        {"bomb", false, 1 << 20, false},
        {"bomb", true, 1 << 20, false},
        {"entries", false, entries.size(), true},
        {"entries", true, entries.size(), true},
        {"entries", true, entries.size() - 1, false},
    };
    std::vector<std::string> modes;
    for (const Case& c : cases)
        modes.push_back(c.mode);
    grvtest::ScriptPeer server(kScriptGzipBodies, modes);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/f";
    grvtest::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + (c.append ? " appended" : " whole") + " limit " + std::to_string(c.limit));
        const std::string local = dir.File("got" + std::to_string(n++) + ".txt");
        ASSERT_TRUE(grvtest::WriteFile(local, "kept\n"));
        http.options().MaxResponseSize = c.limit;
        XString u, path;
        const bool ok = c.append ? http.DownloadAppend(X(u, url), X(path, local), false, nullptr, log())
                                 : http.Download(X(u, url), X(path, local), false, nullptr, log());
        EXPECT_EQ(ok, c.ok) << logText();
        const std::string got = grvtest::ReadFile(local);
        if (c.ok) {
            EXPECT_EQ(got, (c.append ? "kept\n" : "") + entries);
        } else {
            EXPECT_NE(logText().find(http_body::kMsgDecodedTooLarge), std::string::npos) << logText();
            // What was there before the call is still there, and nothing
            // past the limit was written.
            EXPECT_LE(got.size(), c.limit);
            if (c.append) {
                EXPECT_EQ(got.substr(0, 5), "kept\n");
            }
        }
    }
    server.Finish();
}

namespace {

// Answers the requests in the order of args, printing each request line.
// An arg's first letter says what becomes of the connection: 'K' keeps it
// for the next request, 'C' closes it after the answer that follows, and
// 'D' closes it on the request without answering.
constexpr const char* kScriptAnswerSteps = R"PY(
s = listen()
c = None
for step in args:
    if c is None:
        c, a = s.accept()
    req = recv_head(c)
    if b'\r\n\r\n' not in req:
        raise SystemExit('connection closed before the request for: ' + step[:20])
    print(req.split(b'\r\n')[0].decode(), flush=True)
    if step[0] != 'D':
        c.sendall(step[1:].encode())
    if step[0] != 'K':
        c.close()
        c = None
)PY";

std::string Step(char mode, const std::string& status, const std::string& body, const std::string& fields = "") {
    return mode + ("HTTP/1.1 " + status + "\r\n" + fields + "Content-Length: " + std::to_string(body.size()) + "\r\n" +
                   (mode == 'K' ? "" : "Connection: close\r\n") + "\r\n" + body);
}

} // namespace

// An appending download keeps what the file held before whatever the road
// took: a redirect, a 503 repeated, a kept-alive connection the server had
// dropped. Only the last answer's body follows the earlier bytes, however
// long the bodies before it were.
TEST_F(QuickMethods, AppendedDownloadsKeepEarlierBytesAcrossRedirectsAndRetries) {
    const std::string padding(300, '#');
    struct Case {
        const char* name;
        bool resume;
        std::vector<std::string> paths;
        std::vector<std::string> steps;
        std::string file;
        std::string requests;
    };
    const Case cases[] = {
        {"redirect",
         false,
         {"/a"},
         {Step('C', "302 Found", padding, "Location: /b\r\n"), Step('C', "200 OK", "two\n")},
         "kept\ntwo\n",
         "GET /a HTTP/1.1\nGET /b HTTP/1.1\n"},
        {"resume redirect",
         true,
         {"/a"},
         {Step('C', "302 Found", padding, "Location: /b\r\n"),
          Step('C', "206 Partial Content", "rest\n", "Content-Range: bytes 5-9/10\r\n")},
         "kept\nrest\n",
         "GET /a HTTP/1.1\nGET /b HTTP/1.1\n"},
        {"503 again",
         false,
         {"/a"},
         {Step('C', "503 Service Unavailable", padding), Step('C', "200 OK", "two\n")},
         "kept\ntwo\n",
         "GET /a HTTP/1.1\nGET /a HTTP/1.1\n"},
        {"dropped connection",
         false,
         {"/a", "/b"},
         {Step('K', "200 OK", "one\n"), "D", Step('C', "200 OK", "two\n")},
         "kept\none\ntwo\n",
         "GET /a HTTP/1.1\nGET /b HTTP/1.1\nGET /b HTTP/1.1\n"},
    };
    http.options().UnavailableRetryCount = 1;
    http.options().UnavailableRetryWaitMs = 0;
    grvtest::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        grvtest::ScriptPeer server(kScriptAnswerSteps, c.steps);
        const std::string base = "http://127.0.0.1:" + std::to_string(server.port);
        const std::string local = dir.File("appended" + std::to_string(n++) + ".txt");
        ASSERT_TRUE(grvtest::WriteFile(local, "kept\n"));
        for (const std::string& p : c.paths) {
            XString u, path;
            const bool ok = c.resume ? http.ResumeDownload(X(u, base + p), X(path, local), false, nullptr, log())
                                     : http.DownloadAppend(X(u, base + p), X(path, local), false, nullptr, log());
            EXPECT_TRUE(ok) << logText();
        }
        EXPECT_EQ(server.Finish(), c.requests);
        EXPECT_EQ(grvtest::ReadFile(local), c.file) << logText();
    }
}

TEST_F(QuickMethods, DownloadAfterAHeadOrAPostIsAGet) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    grvtest::TempDir dir;
    XString url, path;
    std::unique_ptr<ClsHttpResponse> head(http.GetHead(X(url, base + "/"), false, nullptr, log()));
    ASSERT_NE(head, nullptr);
    ASSERT_TRUE(http.Download(X(url, base + "/"), X(path, dir.File("a.html")), false, nullptr, log()));
    EXPECT_EQ(grvtest::ReadFile(dir.File("a.html")), "hello\n");
    ClsHttpRequest post;
    std::unique_ptr<ClsHttpResponse> posted(http.PostUrlEncoded(X(url, base + "/early"), post, false, nullptr, log()));
    ASSERT_NE(posted, nullptr);
    ASSERT_TRUE(http.ResumeDownload(X(url, base + "/"), X(path, dir.File("b.html")), false, nullptr, log()));
    EXPECT_EQ(grvtest::ReadFile(dir.File("b.html")), "hello\n");
}

TEST_F(QuickMethods, ResumeFromAServerThatIgnoresTheRangeGivesTheWholeFile) {
    grvtest::ScriptPeer whole(grvtest::kScriptIgnoresRange, {"whole one"});
    grvtest::TempDir dir;
    const std::string local = dir.File("partial.txt");
    ASSERT_TRUE(grvtest::WriteFile(local, "wh!"));
    XString url, path;
    ASSERT_TRUE(http.ResumeDownload(X(url, "http://127.0.0.1:" + std::to_string(whole.port) + "/f"), X(path, local),
                                    false, nullptr, log()))
        << logText();
    EXPECT_EQ(grvtest::ReadFile(local), "whole one");
    EXPECT_EQ(whole.Finish(), "Range: bytes=3-\n");
    EXPECT_EQ(http.options().ResumePoint, 0);
}

TEST_F(QuickMethods, FetchesIntoMemoryTextResponsesAndHeads) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    const std::string big = grvtest::ReadFile(nginx.docRoot + "/big.txt");
    XString url, text;
    DataBuffer bytes;

    ASSERT_TRUE(http.QuickGet(X(url, base + "/big.txt"), bytes, false, nullptr, log()));
    EXPECT_EQ(authtest::text(bytes), big);
    EXPECT_STREQ(http.options().HttpMethod.getString(), "GET");
    // A 404 fails with its page stored.
    EXPECT_FALSE(http.QuickGet(X(url, base + "/missing"), bytes, false, nullptr, log()));
    EXPECT_NE(authtest::text(bytes).find("404 Not Found"), std::string::npos);

    ASSERT_TRUE(http.QuickGetStr(X(url, base + "/"), text, false, nullptr, log()));
    EXPECT_STREQ(text.getUtf8(), "hello\n");
    EXPECT_NE(logText().find("NumUtf8Bytes: 6"), std::string::npos) << logText();

    std::unique_ptr<ClsHttpResponse> obj(http.QuickGetObj(X(url, base + "/big.txt"), false, nullptr, log()));
    ASSERT_NE(obj, nullptr) << logText();
    EXPECT_EQ(obj->getStatusCode(), 200u);
    obj->BodyStr(text);
    EXPECT_EQ(std::string(text.getUtf8()), big);
    EXPECT_EQ(http.options().HttpMethod.getSize(), 0);

    std::unique_ptr<ClsHttpResponse> head(http.GetHead(X(url, base + "/big.txt"), false, nullptr, log()));
    ASSERT_NE(head, nullptr) << logText();
    EXPECT_EQ(head->getStatusCode(), 200u);
    EXPECT_EQ(head->getBody().getSize(), 0u);
    EXPECT_STREQ(head->getDomain().getString(), "127.0.0.1");
    EXPECT_TRUE(http.lastResult().requestHeaderText.beginsWith("HEAD /big.txt HTTP/1.1\r\n"))
        << http.lastResult().requestHeaderText.getString();

    // Nothing listens: the exchange fails and no response is made.
    const grvtest::ClosedLoopbackPort nothingListens;
    const std::string closed = "http://127.0.0.1:" + std::to_string(nothingListens.port()) + "/";
    EXPECT_EQ(http.QuickGetObj(X(url, closed), false, nullptr, log()), nullptr);
    EXPECT_NE(logText().find("Failed."), std::string::npos);
}

namespace {

// Reads a captured request: its start line, the fields that matter here and
// what its body is, un-gzipped when it says gzip, with the MD5 checked
// against the body as it was before compression.
constexpr const char* kUploadJudge = R"PY(
import base64, gzip, hashlib, sys
raw = open(sys.argv[1], 'rb').read()
head, _, body = raw.partition(b'\r\n\r\n')
lines = head.decode('latin-1').split('\r\n')
fields = {}
hosts = 0
for l in lines[1:]:
    k, _, v = l.partition(':')
    fields[k.strip().lower()] = v.strip()
    hosts += k.strip().lower() == 'host'
coding = fields.get('content-encoding', '')
plain = gzip.decompress(body) if coding == 'gzip' else body
md5 = fields.get('content-md5')
verdict = [lines[0], 'type=' + fields.get('content-type', '-'), 'coding=' + (coding or '-'),
           'hosts=%d' % hosts, 'host=' + fields.get('host', '-')]
if md5 is not None:
    verdict.append('md5 ' + ('ok' if md5 == base64.b64encode(hashlib.md5(plain).digest()).decode() else 'bad'))
verdict.append('body=' + plain.decode('latin-1'))
print(' | '.join(verdict))
)PY";

} // namespace

TEST_F(QuickMethods, UploadsCarryTheirBodyDigestAndRealGzip) {
    const int port = peers.StartCaptureServer("HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                                              "Content-Length: 5\r\n\r\nr\xe9ply");
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const std::string hostPort = "127.0.0.1:" + std::to_string(port);
    struct Case {
        const char* method;
        const char* path;
        std::string body;
        bool md5;
        bool gzip;
        const char* hostField; // an extra "HOST" field in the options, or null
        std::string want;
    };
    const std::string text(300, 'a');
    const Case cases[] = {
        {"PostBinary", "/up?x=1", "journal bytes", false, false, nullptr,
         "POST /up?x=1 HTTP/1.1 | type=application/octet-stream | coding=- | hosts=1 | host=" + hostPort +
             " | body=journal bytes"},
        {"PutBinary", "/put", text, true, true, nullptr,
         "PUT /put HTTP/1.1 | type=application/octet-stream | coding=gzip | hosts=1 | host=" + hostPort +
             " | md5 ok | body=" + text},
        {"PostBinary", "/gz", "abc", true, true, nullptr,
         "POST /gz HTTP/1.1 | type=application/octet-stream | coding=gzip | hosts=1 | host=" + hostPort +
             " | md5 ok | body=abc"},
        // An empty body goes out without a body and without a coding.
        {"PutBinary", "/empty", "", false, true, nullptr,
         "PUT /empty HTTP/1.1 | type=application/octet-stream | coding=- | hosts=1 | host=" + hostPort + " | body="},
        // The options' own Host field stands in for the generated one.
        {"PutText", "/text", "caf\xc3\xa9", true, false, "virtual.example",
         "PUT /text HTTP/1.1 | type=text/plain | coding=- | hosts=1 | host=virtual.example | md5 ok | "
         "body=caf\xc3\xa9"},
    };
    std::size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        http.options().extraHeaders.clear();
        if (c.hostField != nullptr)
            http.options().extraHeaders.replaceField("HOST", c.hostField, false);
        XString url, type, reply, body, charset;
        X(url, base + c.path);
        bool ok;
        if (std::string(c.method) == "PutText") {
            ok = http.PutText(url, X(body, c.body), X(charset, "iso-8859-1"), X(type, "text/plain"), c.md5, c.gzip,
                              reply, false, nullptr, log());
        } else {
            DataBuffer bytes;
            bytes.append(c.body.data(), static_cast<unsigned int>(c.body.size()));
            X(type, "application/octet-stream");
            ok = std::string(c.method) == "PutBinary"
                     ? http.PutBinary(url, bytes, type, c.md5, c.gzip, reply, false, nullptr, log())
                     : http.PostBinary(url, bytes, type, c.md5, c.gzip, reply, false, nullptr, log());
        }
        ASSERT_TRUE(ok) << logText();
        // The reply is read in its declared charset.
        EXPECT_STREQ(reply.getUtf8(), "r\xc3\xa9ply");
        const std::vector<std::string> seen = peers.CapturedRequests(port, ++n);
        ASSERT_EQ(seen.size(), n);
        const grvtest::RunResult judged =
            grvtest::Python(kUploadJudge, {peers.PeerFolder(port) + "/request-" + std::to_string(n) + ".bin"});
        EXPECT_EQ(judged.out, c.want + "\n") << judged.err;
    }
}

TEST_F(QuickMethods, UploadAnsweredWithAnErrorStillSucceedsAndTextThatCannotBeConvertedFails) {
    const int port = peers.StartCaptureServer("HTTP/1.1 500 Oops\r\nContent-Length: 4\r\n\r\nsad!");
    XString url, type, reply, body, charset;
    X(url, "http://127.0.0.1:" + std::to_string(port) + "/x");
    DataBuffer bytes;
    bytes.append("1", 1);
    EXPECT_TRUE(http.PostBinary(url, bytes, X(type, "text/plain"), false, false, reply, false, nullptr, log()));
    EXPECT_EQ(http.lastResult().responseHeader.getStatusCode(), 500u);
    EXPECT_STREQ(reply.getUtf8(), "sad!");
    // The euro sign has no place in US-ASCII: nothing is sent.
    EXPECT_FALSE(http.PutText(url, X(body, "\xe2\x82\xac"), X(charset, "us-ascii"), type, false, false, reply, false,
                              nullptr, log()));
    EXPECT_NE(logText().find(cls_msg::kConversionFailed), std::string::npos) << logText();
    EXPECT_EQ(peers.CapturedRequests(port).size(), 1u);
}

TEST_F(QuickMethods, BodylessPutAndDeleteServeOneCall) {
    const int port = peers.StartCaptureServer(std::vector<std::string>{
        "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nput", "HTTP/1.1 404 Gone\r\nContent-Length: 4\r\n\r\ngone"});
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    XString url, out;
    ASSERT_TRUE(http.QuickPutStr(X(url, base + "/p"), out, false, nullptr, log())) << logText();
    EXPECT_STREQ(out.getUtf8(), "put");
    EXPECT_EQ(http.options().HttpMethod.getSize(), 0);
    // A 404 fails; its reply is still there.
    EXPECT_FALSE(http.QuickDeleteStr(X(url, base + "/d"), out, false, nullptr, log()));
    EXPECT_STREQ(out.getUtf8(), "gone");
    EXPECT_EQ(http.options().HttpMethod.getSize(), 0);
    const std::vector<std::string> seen = peers.CapturedRequests(port, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].substr(0, seen[0].find("\r\n")), "PUT /p HTTP/1.1");
    EXPECT_EQ(seen[1].substr(0, seen[1].find("\r\n")), "DELETE /d HTTP/1.1");
}

TEST_F(QuickMethods, FormXmlAndMimePostsGoOutAsBuilt) {
    const int port = peers.StartCaptureServer();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    XString url, xml, charset, mime;

    ClsHttpRequest form;
    form.AddParam("ac", "Report");
    std::unique_ptr<ClsHttpResponse> r1(http.PostUrlEncoded(X(url, base + "/form?ud=1"), form, false, nullptr, log()));
    ASSERT_NE(r1, nullptr) << logText();
    EXPECT_EQ(authtest::text(r1->getBody()), "ok");

    std::unique_ptr<ClsHttpResponse> r2(http.PostXml(X(url, base + "/xml"), X(xml, "<a>\xc3\xa9</a>"),
                                                     X(charset, "iso-8859-1"), false, nullptr, log()));
    ASSERT_NE(r2, nullptr) << logText();

    std::unique_ptr<ClsHttpResponse> r3(
        http.PostMime(X(url, base + "/mime"), X(mime, "Content-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello"),
                      false, nullptr, log()));
    ASSERT_NE(r3, nullptr) << logText();
    EXPECT_EQ(r3->getStatusCode(), 200u);

    const std::vector<std::string> seen = peers.CapturedRequests(port, 3);
    ASSERT_EQ(seen.size(), 3u);
    auto body = [](const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); };
    EXPECT_EQ(seen[0].substr(0, seen[0].find("\r\n")), "POST /form HTTP/1.1");
    EXPECT_EQ(body(seen[0]), "ac=Report&ud=1");
    EXPECT_EQ(seen[1].substr(0, seen[1].find("\r\n")), "POST /xml HTTP/1.1");
    EXPECT_NE(seen[1].find("Content-Type: text/xml; charset=iso-8859-1\r\n"), std::string::npos) << seen[1];
    EXPECT_EQ(body(seen[1]), "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\xe9</a>");
    EXPECT_EQ(seen[2].substr(0, seen[2].find("\r\n")), "POST /mime HTTP/1.1");
    EXPECT_EQ(body(seen[2]), "hello");
}

TEST_F(QuickMethods, XmlRpcAgainstPythonsServer) {
    grvtest::ScriptPeer server(R"PY(
from xmlrpc.server import SimpleXMLRPCServer
srv = SimpleXMLRPCServer(('127.0.0.1', 0), logRequests=False)
srv.register_function(lambda text, n: text.upper() * n, 'shout')
with open(sys.argv[1] + '.tmp', 'w') as f:
    f.write(str(srv.server_address[1]))
os.rename(sys.argv[1] + '.tmp', sys.argv[1])
srv.handle_request()
srv.handle_request()
)PY");
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port) + "/RPC2";
    struct Case {
        std::string call;
        std::string want; // the answer as xmlrpc.client.loads reads it
    };
    const Case cases[] = {
        // Sent in the encoding its declaration names.
        {"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><methodCall><methodName>shout</methodName><params>"
         "<param><value><string>caf\xc3\xa9</string></value></param><param><value><int>2</int></value></param>"
         "</params></methodCall>",
         "(('CAF\xc3\x89"
         "CAF\xc3\x89',), None)"},
        {"<?xml version=\"1.0\"?><methodCall><methodName>nosuch</methodName><params/></methodCall>",
         "Fault 1: <class 'Exception'>:method \"nosuch\" is not supported"},
    };
    for (const Case& c : cases) {
        XString u, call, out;
        ASSERT_TRUE(http.XmlRpc(X(u, url), X(call, c.call), out, false, nullptr, log())) << logText();
        const grvtest::RunResult judged =
            grvtest::Python("import sys, xmlrpc.client\n"
                            "try:\n    print(xmlrpc.client.loads(sys.stdin.read()))\n"
                            "except xmlrpc.client.Fault as f:\n    print(f'Fault {f.faultCode}: {f.faultString}')",
                            {}, out.getUtf8());
        EXPECT_EQ(judged.out, c.want + "\n") << judged.err << out.getUtf8();
    }
    server.Finish();
}

namespace {

// Records every request as "VERB target length sha256-prefix" ("-" for no
// body), each connection on a thread of its own. "/s/<code>" answers that
// status to /new; "/x/<n>" a 302 to the location args[n]; "/quit" ends it;
// anything else is a 200. A body is read by its Content-Length only: a verb
// sent without one shows as length 0.
constexpr const char* kScriptRecordingPeer = R"PY(
import hashlib, threading
s = listen(backlog=16)
lock = threading.Lock()
done = threading.Event()
def serve(c):
    buf = b''
    while True:
        while b'\r\n\r\n' not in buf:
            b = c.recv(65536)
            if not b:
                c.close()
                return
            buf += b
        head, buf = buf.split(b'\r\n\r\n', 1)
        lines = head.split(b'\r\n')
        verb, target = lines[0].split(b' ')[0:2]
        fields = dict((l.split(b':', 1)[0].strip().lower(), l.split(b':', 1)[1].strip()) for l in lines[1:] if b':' in l)
        n = int(fields.get(b'content-length', b'0'))
        while len(buf) < n:
            b = c.recv(65536)
            if not b:
                break
            buf += b
        body, buf = buf[:n], buf[n:]
        path = target.decode('latin-1')
        with lock:
            print(verb.decode(), path, len(body), hashlib.sha256(body).hexdigest()[:16] if body else '-', flush=True)
        if path == '/quit':
            c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok')
            c.close()
            done.set()
            return
        if path.startswith('/s/'):
            c.sendall(b'HTTP/1.1 %s Moved\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n' % path[3:6].encode())
        elif path.startswith('/x/'):
            location = args[int(path[3:])].encode()
            c.sendall(b'HTTP/1.1 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n\r\n' % location)
        elif verb == b'HEAD':
            c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n')
        else:
            c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok')
s.settimeout(0.2)
while not done.is_set():
    try:
        c, a = s.accept()
    except socket.timeout:
        continue
    c.settimeout(20)
    threading.Thread(target=serve, args=(c,), daemon=True).start()
)PY";

const char* const kOtherSchemes[] = {"file:///etc/passwd", "ftp://127.0.0.1/x", "data:text/plain,hi",
                                     "javascript:alert(1)", "mailto:a@b.test"};

std::string sha16(const std::string& bytes) {
    grvtest::TempDir dir;
    const std::string file = dir.File("body");
    grvtest::WriteFile(file, bytes);
    grvtest::RunResult r = grvtest::Python(
        "import hashlib,sys; print(hashlib.sha256(open(sys.argv[1],'rb').read()).hexdigest()[:16], end='')", {file});
    return r.out;
}

} // namespace

// PUT and POST on every body road answered 301, 302, 303, 307 and 308. A
// 302 to a POST is followed with a GET; a PUT (a verb that carries a body)
// is not followed, since the redirect's road cannot send its body again,
// and the caller gets the 302, as it gets the other four. No request ever
// carries PUT or POST without its whole body. curl -L on the same table
// (-T, --data-binary) sends PUT again with its body on 301, 302, 307 and
// 308 and as a GET on 303; POST as a GET on 301, 302 and 303, again with
// its body on 307 and 308.
TEST_F(QuickMethods, UploadsAnsweredWithRedirectsNeverSendTheirVerbWithoutTheBody) {
    std::vector<std::string> schemes(std::begin(kOtherSchemes), std::end(kOtherSchemes));
    grvtest::ScriptPeer peer(kScriptRecordingPeer, schemes);
    const std::string base = "http://127.0.0.1:" + std::to_string(peer.port);
    std::string payload;
    for (int i = 0; payload.size() < 100000; ++i)
        payload += "entry " + std::to_string(i) + "\n";
    const std::string xml = "<?xml version=\"1.0\"?><methodCall><methodName>m</methodName></methodCall>";
    struct Road {
        const char* name;
        const char* verb;
        std::string body;
    };
    const Road roads[] = {{"PutBinary", "PUT", payload},
                          {"PostBinary", "POST", payload},
                          {"PutText", "PUT", payload},
                          {"XmlRpc", "POST", xml},
                          {"XmlRpcPut", "PUT", xml}};
    std::string got, want;
    for (const Road& r : roads) {
        for (int code : {301, 302, 303, 307, 308}) {
            XString url, reply, type, text, charset;
            X(url, base + "/s/" + std::to_string(code));
            X(type, "text/plain");
            DataBuffer bytes;
            grvtest::SetBytes(bytes, r.body);
            const std::string name = r.name;
            bool ok = false;
            if (name == "PutBinary" || name == "PostBinary")
                ok = std::invoke(name == "PutBinary" ? &ClsHttp::PutBinary : &ClsHttp::PostBinary, http, url, bytes,
                                 type, false, false, reply, false, nullptr, log());
            else if (name == "PutText")
                ok = http.PutText(url, X(text, r.body), X(charset, "utf-8"), type, false, false, reply, false, nullptr,
                                  log());
            else
                ok = std::invoke(name == "XmlRpc" ? &ClsHttp::XmlRpc : &ClsHttp::XmlRpcPut, http, url, X(text, r.body),
                                 reply, false, nullptr, log());
            got += name + " " + std::to_string(code) + ": " + (ok ? "ok " : "failed ") +
                   std::to_string(http.lastResult().responseHeader.getStatusCode()) + "\n";
            const bool followed = code == 302 && std::string(r.verb) == "POST";
            // No answer here is XML, which XML-RPC fails.
            const bool xmlRpc = name.rfind("XmlRpc", 0) == 0;
            want += name + " " + std::to_string(code) + ": " + (xmlRpc ? "failed " : "ok ") +
                    (followed ? "200" : std::to_string(code)) + "\n";
        }
    }
    XString url, reply;
    http.QuickGetStr(X(url, base + "/quit"), reply, false, nullptr, log());
    EXPECT_EQ(got, want);
    std::string recorded, wantRecorded;
    for (const Road& r : roads) {
        for (int code : {301, 302, 303, 307, 308}) {
            wantRecorded += std::string(r.verb) + " /s/" + std::to_string(code) + " " + std::to_string(r.body.size()) +
                            " " + sha16(r.body) + "\n";
            if (code == 302 && std::string(r.verb) == "POST")
                wantRecorded += "GET /new 0 -\n";
        }
    }
    wantRecorded += "GET /quit 0 -\n";
    EXPECT_EQ(peer.Finish(), wantRecorded);
}

// A redirect to a scheme other than http and https fails the call on the
// GET road, the body road and the component's request, and nothing is
// requested after the redirect. GetHead sends each query as QuickGet does,
// byte for byte.
TEST_F(QuickMethods, RedirectsToOtherSchemesFailAndHeadsKeepTheirQuery) {
    std::vector<std::string> schemes(std::begin(kOtherSchemes), std::end(kOtherSchemes));
    grvtest::ScriptPeer peer(kScriptRecordingPeer, schemes);
    const std::string base = "http://127.0.0.1:" + std::to_string(peer.port);
    std::string want;
    for (std::size_t i = 0; i < schemes.size(); ++i) {
        const std::string path = "/x/" + std::to_string(i);
        SCOPED_TRACE(schemes[i]);
        XString url, reply, type;
        X(url, base + path);
        EXPECT_FALSE(http.QuickGetStr(url, reply, false, nullptr, log()));
        EXPECT_NE(logText().find(http_redirect::kMsgSchemeRefused), std::string::npos) << logText();
        DataBuffer bytes;
        grvtest::SetBytes(bytes, "pain 4");
        EXPECT_FALSE(http.PostBinary(url, bytes, X(type, "text/plain"), false, false, reply, false, nullptr, log()));
        EXPECT_NE(logText().find(http_redirect::kMsgSchemeRefused), std::string::npos) << logText();
        ClsHttpRequest request;
        request.setPath(path.c_str());
        std::unique_ptr<ClsHttpResponse> r(http.SynchronousRequest("127.0.0.1", peer.port, false, request, nullptr));
        EXPECT_EQ(r, nullptr);
        want += "GET " + path + " 0 -\nPOST " + path + " 6 " + sha16("pain 4") + "\nGET " + path + " 0 -\n";
    }
    const char* const queries[] = {"?a=%00b&c=d", "?flag", "?%41%42", "?a=1&a=2&", "?x=a+b%2B", "?q=%zz&&r=", "?=v"};
    for (const char* q : queries) {
        XString url, reply;
        X(url, base + "/h" + q);
        EXPECT_TRUE(http.QuickGetStr(url, reply, false, nullptr, log())) << logText();
        std::unique_ptr<ClsHttpResponse> head(http.GetHead(url, false, nullptr, log()));
        EXPECT_NE(head, nullptr) << logText();
        want += std::string("GET /h") + q + " 0 -\nHEAD /h" + q + " 0 -\n";
    }
    XString url, reply;
    http.QuickGetStr(X(url, base + "/quit"), reply, false, nullptr, log());
    EXPECT_EQ(peer.Finish(), want + "GET /quit 0 -\n");
}
