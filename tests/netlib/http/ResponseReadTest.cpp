// One exchange on a connection: a scripted python server answers with the
// exact bytes of each case (sent in pieces where the split matters), and
// nginx serves real pages, kept alive and gzip-chunked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// args: response hex, "close" or "keep", then the offsets to cut it at.
constexpr const char* kScriptAnswer = R"PY(
s = listen()
c, a = s.accept()
req = b''
while b'\r\n\r\n' not in req:
    b = c.recv(65536)
    if not b:
        sys.exit(0)
    req += b
resp = bytes.fromhex(args[0])
cuts = [0] + [int(x) for x in args[2:]] + [len(resp)]
for i in range(len(cuts) - 1):
    c.sendall(resp[cuts[i]:cuts[i + 1]])
    time.sleep(0.05)
if args[1] == 'keep':
    c.settimeout(10)
    try:
        recv_all(c)
    except OSError:
        pass
c.close()
)PY";

std::string str(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

class ResponseRead : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override { installTextServices(); }
};

} // namespace

TEST_F(ResponseRead, FramingCasesAgainstAScriptedServer) {
    struct Case {
        const char* name;
        std::string response;
        bool keepOpen;
        std::vector<int> cuts;
        const char* verb;
        std::uint64_t maxSize;
        bool ok;
        std::uint32_t status;
        std::string body;
        bool connectedAfter;
    };
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                "5;a=b\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n";
    const Case cases[] = {
        {"chunked, extensions, trailers, last chunk split",
         chunked,
         true,
         {60, 75, 88, 90},
         "GET",
         0,
         true,
         200,
         "hello world",
         true},
        {"204 without length does not wait",
         "HTTP/1.1 204 No Content\r\n\r\n",
         true,
         {},
         "GET",
         0,
         true,
         204,
         "",
         true},
        {"304 ignores its length",
         "HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n\r\n",
         true,
         {},
         "GET",
         0,
         true,
         304,
         "",
         true},
        {"empty 404", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", true, {}, "GET", 0, true, 404, "", true},
        {"unframed 500 read until close",
         "HTTP/1.1 500 Oops\r\n\r\noops",
         false,
         {},
         "GET",
         0,
         true,
         500,
         "oops",
         false},
        {"unframed 302 skipped",
         "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\nmoved",
         true,
         {},
         "GET",
         0,
         true,
         302,
         "",
         false},
        {"100 Continue skipped",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         true,
         {25},
         "POST",
         0,
         true,
         200,
         "ok",
         true},
        {"100 Continue and the answer in one read",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         true,
         {},
         "POST",
         0,
         true,
         200,
         "ok",
         true},
        {"bytes after the body end the connection",
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokJUNK",
         true,
         {},
         "GET",
         0,
         true,
         200,
         "ok",
         false},
        {"Connection: close",
         "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 3\r\n\r\nabc",
         false,
         {},
         "GET",
         0,
         true,
         200,
         "abc",
         false},
        {"HEAD stops after the head",
         "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n",
         true,
         {},
         "HEAD",
         0,
         true,
         200,
         "",
         true},
        {"length past the limit",
         "HTTP/1.1 200 OK\r\nContent-Length: 1001\r\n\r\n" + std::string(1001, 'x'),
         false,
         {},
         "GET",
         1000,
         false,
         200,
         "",
         false},
        {"chunks past the limit",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3e8\r\n" + std::string(1000, 'y') +
             "\r\n1\r\nz\r\n0\r\n\r\n",
         false,
         {},
         "GET",
         1000,
         false,
         200,
         "",
         false},
        {"unframed 200 past the limit",
         "HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, 'w'),
         false,
         {},
         "GET",
         1000,
         false,
         200,
         "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {grvtest::ToHex(c.response), c.keepOpen ? "keep" : "close"};
        for (int cut : c.cuts)
            args.push_back(std::to_string(cut));
        grvtest::ScriptPeer server(kScriptAnswer, args);
        HttpControl options;
        options.UseIEProxy = 0;
        options.MaxResponseSize = c.maxSize;
        options.ReadTimeoutSec = 5;
        HttpRequest request;
        request.setVerb(c.verb);
        if (std::string(c.verb) == "POST")
            request.addParam("k", "v");
        HttpResult result;
        DataBuffer body;
        Logger log;
        {
            HttpClient client;
            bool fresh = false;
            ASSERT_TRUE(client.httpConnect(options, "127.0.0.1", server.port, false, log, nullptr, fresh));
            EXPECT_EQ(client.synchronousRequest(options, "127.0.0.1", server.port, false, request, result, body, log,
                                                nullptr, false),
                      c.ok);
            if (c.ok) {
                EXPECT_EQ(result.responseHeader.getStatusCode(), c.status);
                EXPECT_EQ(str(body), c.body);
            }
            EXPECT_EQ(client.isConnected(false), c.connectedAfter);
        }
        server.Finish();
    }
}

TEST_F(ResponseRead, NginxKeepsTheConnectionAndSendsGzipChunks) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpControl options;
    options.UseIEProxy = 0;
    HttpClient client;
    Logger log;
    bool fresh = false;
    struct Step {
        const char* path;
        const char* acceptEncoding;
        std::string judge; // python over the body bytes; prints "same"
    };
    const std::string big = grvtest::ReadFile(nginx.docRoot + "/big.txt");
    const Step steps[] = {
        {"/", nullptr, "sys.stdin.buffer.read() == open(sys.argv[1] + '/index.html', 'rb').read()"},
        {"/big.txt", nullptr, "sys.stdin.buffer.read() == open(sys.argv[1] + '/big.txt', 'rb').read()"},
        // nginx sends it gzipped in chunks; the library's gzip reader unzips it.
        {"/big.txt", "gzip", "sys.stdin.buffer.read() == open(sys.argv[1] + '/big.txt', 'rb').read()"},
        {"/missing", nullptr, "b'404' in sys.stdin.buffer.read()"},
    };
    int connects = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.path);
        ASSERT_TRUE(client.httpConnect(options, "127.0.0.1", nginx.httpPort, false, log, nullptr, fresh));
        connects += fresh ? 1 : 0;
        HttpRequest request;
        request.setPath(s.path);
        if (s.acceptEncoding != nullptr)
            request.setHeader("Accept-Encoding", s.acceptEncoding);
        HttpResult result;
        DataBuffer body;
        ASSERT_TRUE(client.synchronousRequest(options, "127.0.0.1", nginx.httpPort, false, request, result, body, log,
                                              nullptr, false));
        const grvtest::RunResult judged = grvtest::Python(
            "import sys, gzip\nprint('same' if " + s.judge + " else 'differs')", {nginx.docRoot}, str(body));
        EXPECT_EQ(judged.out + judged.err, "same\n");
        StringBuffer host;
        EXPECT_TRUE(request.getHeader("Host", host));
        EXPECT_EQ(std::string(host.getString()), "127.0.0.1:" + std::to_string(nginx.httpPort));
    }
    EXPECT_EQ(connects, 1); // every request after the first went on the kept-alive connection
    EXPECT_GT(big.size(), 0u);
}

TEST_F(ResponseRead, AnAnswerBeforeTheBodyIsSentIsTheResponse) {
    // The server refuses after the head and closes while the body is still
    // going out: the send fails, and what arrived meanwhile is the answer.
    constexpr const char* kRefuse = R"PY(
import socket as so
s = listen()
c, a = s.accept()
req = b''
while b'\r\n\r\n' not in req:
    req += c.recv(65536)
c.sendall(b'HTTP/1.1 413 Payload Too Large\r\nContent-Length: 8\r\nConnection: close\r\n\r\ntoo big!')
time.sleep(0.3)
c.setsockopt(so.SOL_SOCKET, so.SO_LINGER, bytes(8))
c.close()
)PY";
    grvtest::ScriptPeer server(kRefuse);
    HttpControl options;
    options.UseIEProxy = 0;
    options.ReadTimeoutSec = 5;
    HttpRequest request;
    request.setVerb("PUT");
    DataBuffer big;
    big.appendCharRepeated('b', 64u * 1024 * 1024);
    request.setAltBody(big);
    HttpResult result;
    DataBuffer body;
    Logger log;
    HttpClient client;
    bool fresh = false;
    ASSERT_TRUE(client.httpConnect(options, "127.0.0.1", server.port, false, log, nullptr, fresh));
    EXPECT_TRUE(client.synchronousRequest(options, "127.0.0.1", server.port, false, request, result, body, log, nullptr,
                                          false));
    EXPECT_EQ(result.responseHeader.getStatusCode(), 413u);
    EXPECT_EQ(str(body), "too big!");
    EXPECT_FALSE(client.isConnected(false));
    server.Finish();
}
