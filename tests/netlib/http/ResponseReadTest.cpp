// One exchange on a connection: a scripted python server answers with the
// exact bytes of each case (sent in pieces where the split matters), and
// nginx serves real pages, kept alive and gzip-chunked.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// args: "tls" with a certificate and key file (TLS 1.0, AES128-SHA), or
// "plain" and two empty ones; the response hex; how the server ends:
// "close" (an orderly close), "reset" (RST), "silent" (silence, then close)
// or "keep" (reading until the client closes); then the offsets to cut the
// response at (under TLS each piece goes out in records of its own).
constexpr const char* kScriptAnswer = R"PY(
import ssl, struct
s = listen()
c, a = s.accept()
if args[0] == 'tls':
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1
    ctx.set_ciphers('AES128-SHA:@SECLEVEL=0')
    ctx.load_cert_chain(args[1], args[2])
    c = ctx.wrap_socket(c, server_side=True)
args = args[3:]
if b'\r\n\r\n' not in recv_head(c):
    sys.exit(0)
resp = bytes.fromhex(args[0])
cuts = [0] + [int(x) for x in args[2:]] + [len(resp)]
for i in range(len(cuts) - 1):
    c.sendall(resp[cuts[i]:cuts[i + 1]])
    if len(cuts) > 2:
        time.sleep(0.05)
if args[1] == 'reset':
    time.sleep(0.1)
    c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
elif args[1] == 'silent':
    time.sleep(3)
elif args[1] == 'keep':
    c.settimeout(10)
    try:
        recv_all(c)
    except OSError:
        pass
c.close()
)PY";

// A request of the verb; a POST carries a one-field form.
void prepare(HttpRequest& request, const char* verb) {
    request.setVerb(verb);
    if (std::string(verb) == "POST")
        request.addParam("k", "v");
}

// One request on a fresh connection to 127.0.0.1:port; whether the
// connection was still open afterwards goes to connectedAfter.
bool exchangeOnce(int port, HttpControl& options, HttpRequest& request, HttpResult& result, DataBuffer& body,
                  bool* connectedAfter = nullptr, bool tls = false) {
    Logger log;
    HttpClient client;
    bool fresh = false;
    EXPECT_TRUE(client.httpConnect(options, "127.0.0.1", port, tls, log, nullptr, fresh));
    const bool ok =
        client.synchronousRequest(options, "127.0.0.1", port, tls, request, result, body, log, nullptr, false);
    if (connectedAfter != nullptr)
        *connectedAfter = client.isConnected(tls);
    return ok;
}

using authtest::logText;
// The body as text.
const auto& str = authtest::text;

class ResponseRead : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override { installTextServices(); }
};

} // namespace

TEST_F(ResponseRead, FramingCasesAgainstAScriptedServer) {
    peers.TrustCertificate();
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
    for (bool tls : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (tls ? " (TLS)" : ""));
            std::vector<std::string> args = {tls ? "tls" : "plain", tls ? peers.Certificate() : "",
                                             tls ? peers.CertificateKey() : "", grvtest::ToHex(c.response),
                                             c.keepOpen ? "keep" : "close"};
            for (int cut : c.cuts)
                args.push_back(std::to_string(cut));
            grvtest::ScriptPeer server(kScriptAnswer, args);
            HttpControl options;
            options.UseIEProxy = 0;
            options.MaxResponseSize = c.maxSize;
            options.ReadTimeoutSec = 5;
            HttpRequest request;
            prepare(request, c.verb);
            HttpResult result;
            DataBuffer body;
            bool connectedAfter = false;
            EXPECT_EQ(exchangeOnce(server.port, options, request, result, body, &connectedAfter, tls), c.ok);
            if (c.ok) {
                EXPECT_EQ(result.responseHeader.getStatusCode(), c.status);
                EXPECT_EQ(str(body), c.body);
            }
            EXPECT_EQ(connectedAfter, c.connectedAfter);
            server.Finish();
        }
}

TEST_F(ResponseRead, NginxKeepsTheConnectionAndSendsGzipChunks) {
    peers.TrustCertificate();
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpControl options;
    options.UseIEProxy = 0;
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
    // The same over plain HTTP and over TLS 1.0 with AES128-SHA.
    for (auto [port, tls] : {std::pair<int, bool>{nginx.httpPort, false}, {nginx.tlsPort, true}}) {
        HttpClient client;
        Logger log;
        bool fresh = false;
        int connects = 0;
        for (const Step& s : steps) {
            SCOPED_TRACE(std::string(s.path) + (tls ? " (TLS)" : ""));
            ASSERT_TRUE(client.httpConnect(options, "127.0.0.1", port, tls, log, nullptr, fresh)) << logText(log);
            connects += fresh ? 1 : 0;
            HttpRequest request;
            request.setPath(s.path);
            if (s.acceptEncoding != nullptr)
                request.setHeader("Accept-Encoding", s.acceptEncoding);
            HttpResult result;
            DataBuffer body;
            ASSERT_TRUE(
                client.synchronousRequest(options, "127.0.0.1", port, tls, request, result, body, log, nullptr, false));
            const grvtest::RunResult judged = grvtest::Python(
                "import sys, gzip\nprint('same' if " + s.judge + " else 'differs')", {nginx.docRoot}, str(body));
            EXPECT_EQ(judged.out + judged.err, "same\n");
            StringBuffer host;
            EXPECT_TRUE(request.getHeader("Host", host));
            EXPECT_EQ(std::string(host.getString()), "127.0.0.1:" + std::to_string(port));
        }
        EXPECT_EQ(connects, 1); // every request after the first went on the kept-alive connection
    }
    EXPECT_GT(big.size(), 0u);
}

TEST_F(ResponseRead, AnAnswerBeforeTheBodyIsSentIsTheResponse) {
    // The server refuses after the head and closes while the body is still
    // going out: the send fails, and what arrived meanwhile is the answer.
    constexpr const char* kRefuse = R"PY(
import socket as so
s = listen()
c, a = s.accept()
recv_head(c)
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

namespace {

// python's http.client on the same bytes, fed from memory, each case's end
// played as the socket would: args are triples of hex, end and verb. The
// outcome of each case ends with a line "--".
constexpr const char* kJudgeHttpClient = R"PY(
import http.client, io, socket, sys
args = sys.argv[1:]
for i in range(0, len(args), 3):
    data, end, verb = bytes.fromhex(args[i]), args[i + 1], args[i + 2]
    class Raw(io.RawIOBase):
        pos = 0
        def readable(self): return True
        def readinto(self, b):
            if self.pos >= len(data):
                if end == 'reset': raise ConnectionResetError()
                if end == 'silent': raise socket.timeout()
                return 0
            n = min(len(b), len(data) - self.pos)
            b[:n] = data[self.pos:self.pos + n]
            self.pos += n
            return n
    class Sock:
        def makefile(self, mode): return io.BufferedReader(Raw())
    r = http.client.HTTPResponse(Sock(), method=verb)
    try:
        r.begin()
        body = r.read()
        print(r.status)
        for k, v in r.getheaders():
            print(k + ': ' + v.replace('\r\n', '').strip())
        print('body: ' + body.hex())
    except Exception:
        print('refused')
    print('--')
)PY";

enum class Judge {
    kPython, // http.client on the same bytes
    kCurl,   // curl against the same server: status and body
    kRfc,    // both take it, but the length grammar (1*DIGIT, one value) refuses it
};

struct Outcome {
    std::string full;  // status, fields and body, or "refused"
    std::string brief; // status and body, or "refused"
};

Outcome ours(const std::string& response, const std::string& end, const std::string& verb) {
    grvtest::ScriptPeer server(kScriptAnswer, {"plain", "", "", grvtest::ToHex(response), end});
    HttpControl options;
    options.UseIEProxy = 0;
    options.ReadTimeoutSec = 1;
    HttpRequest request;
    request.setVerb(verb.c_str());
    HttpResult result;
    DataBuffer body;
    const bool ok = exchangeOnce(server.port, options, request, result, body);
    server.Finish();
    if (!ok)
        return {"refused\n", "refused\n"};
    const HttpResponseHeader& head = result.responseHeader;
    const std::string status = std::to_string(head.getStatusCode()) + "\n";
    const std::string bodyLine = "body: " + grvtest::ToHex(str(body)) + "\n";
    std::string fields;
    for (int i = 0; i < head.getFields().getCount(); ++i) {
        StringBuffer name, value;
        head.getFields().getNameAt(i, name);
        head.getFields().getValueAt(i, value);
        fields += std::string(name.getString()) + ": " + value.getString() + "\n";
    }
    return {status + fields + bodyLine, status + bodyLine};
}

std::string curlBrief(const std::string& response) {
    grvtest::ScriptPeer server(kScriptAnswer, {"plain", "", "", grvtest::ToHex(response), "close"});
    const std::string bodyFile = server.Folder() + "/body";
    const grvtest::RunResult curl = grvtest::RunProgram({"curl", "-s", "-m", "5", "-o", bodyFile, "-w", "%{http_code}",
                                                         "http://127.0.0.1:" + std::to_string(server.port) + "/"});
    server.Finish();
    if (!curl.Ok())
        return "refused\n";
    return curl.out + "\nbody: " + grvtest::ToHex(grvtest::ReadFile(bodyFile)) + "\n";
}

} // namespace

TEST_F(ResponseRead, HostileAnswersAsHttpClientAndCurlReadThem) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string response;
        const char* end;
        const char* verb;
        Judge judge;
    };
    const std::string chunkedLf = "HTTP/1.1 200 OK\nTransfer-Encoding: chunked\n\n3\nabc\n0\n\n";
    const Case cases[] = {
        {"LF-only head", "HTTP/1.1 200 OK\nContent-Length: 5\nX-Y: z\n\nhelloEXTRA", "close", "GET", Judge::kPython},
        {"mixed line ends", "HTTP/1.1 200 OK\r\nA: 1\nContent-Length: 2\r\n\nok", "close", "GET", Judge::kPython},
        {"LF-only chunked body", chunkedLf, "close", "GET", Judge::kCurl},
        {"NUL in a field value", "HTTP/1.1 200 OK\r\nX-A: a\0b\r\nContent-Length: 2\r\n\r\nok"s, "close", "GET",
         Judge::kCurl},
        {"NUL in the reason", "HTTP/1.1 200 O\0K\r\nContent-Length: 2\r\n\r\nok"s, "close", "GET", Judge::kCurl},
        {"length with a sign", "HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello", "close", "GET", Judge::kRfc},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nhello", "close", "GET", Judge::kCurl},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nhello", "close", "GET", Judge::kCurl},
        {"empty length", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\nhello", "close", "GET", Judge::kCurl},
        {"folded length", "HTTP/1.1 200 OK\r\nContent-Length:\r\n 5\r\n\r\nhello", "close", "GET", Judge::kCurl},
        {"one length twice in a field", "HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\nhello", "close", "GET",
         Judge::kPython},
        {"one length in two fields", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\nhello", "close",
         "GET", Judge::kPython},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", "close", "GET",
         Judge::kRfc},
        {"reason phrase saying 100 Continue", "HTTP/1.1 200 100 Continue\r\nContent-Length: 2\r\n\r\nok", "close",
         "GET", Judge::kPython},
        {"100 Continue, then the answer",
         "HTTP/1.1 100 Continue\r\nX-I: 1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "close", "GET",
         Judge::kPython},
        {"103 Early Hints, then the answer",
         "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "close",
         "GET", Judge::kCurl},
        {"body until an orderly close", "HTTP/1.1 200 OK\r\nX: y\r\n\r\nabcdef", "close", "GET", Judge::kPython},
        {"body until a reset", "HTTP/1.1 200 OK\r\n\r\nabcdef", "reset", "GET", Judge::kPython},
        {"body until silence", "HTTP/1.1 200 OK\r\n\r\nabcdef", "silent", "GET", Judge::kPython},
        {"length cut by a reset", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "reset", "GET", Judge::kPython},
        {"chunks with extensions and trailers",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n0\r\nT: 1\r\n\r\n", "close", "GET",
         Judge::kPython},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n", "close",
         "GET", Judge::kPython},
        {"HEAD with a length", "HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n", "close", "HEAD", Judge::kPython},
        {"no reason phrase", "HTTP/1.1 204\r\nX: y\r\n\r\n", "close", "GET", Judge::kPython},
        {"not HTTP", "ICY 200 OK\r\nContent-Length: 2\r\n\r\nok", "close", "GET", Judge::kPython},
        {"two-digit status", "HTTP/1.1 20 OK\r\nContent-Length: 2\r\n\r\nok", "close", "GET", Judge::kPython},
        {"silence before any head", "", "silent", "GET", Judge::kPython},
    };
    std::vector<std::string> pythonArgs;
    for (const Case& c : cases)
        if (c.judge == Judge::kPython)
            pythonArgs.insert(pythonArgs.end(), {grvtest::ToHex(c.response), c.end, c.verb});
    const grvtest::RunResult python = grvtest::Python(kJudgeHttpClient, pythonArgs);
    ASSERT_TRUE(python.Ok()) << python.err;
    std::istringstream verdicts(python.out);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome got = ours(c.response, c.end, c.verb);
        switch (c.judge) {
        case Judge::kPython: {
            std::string want, line;
            while (std::getline(verdicts, line) && line != "--")
                want += line + "\n";
            EXPECT_EQ(got.full, want);
            break;
        }
        case Judge::kCurl: EXPECT_EQ(got.brief, curlBrief(c.response)); break;
        case Judge::kRfc: EXPECT_EQ(got.full, "refused\n"); break;
        }
    }
}

namespace {

// One connection per mode in args; each answers GETs and POSTs with "ok"
// (kept alive) until its mode says otherwise, and prints the request lines
// it read, one line per connection:
// - "answer1": answers the first request, then closes at once;
// - "drop2": answers the first request, reads the second and closes;
// - "silent": reads one request and never answers;
// - "answer": answers everything until the client closes.
// A connection beyond those (a request sent again) is "extra": read, never
// answered.
constexpr const char* kScriptModes = R"PY(
s = listen()
modes = list(args)
while True:
    if modes:
        mode = modes.pop(0)
    else:
        mode = 'extra'
        s.settimeout(1)
    try:
        c, a = s.accept()
    except OSError:
        break
    c.settimeout(5)
    buf = b''
    lines = []
    try:
        while True:
            while b'\r\n\r\n' not in buf:
                b = c.recv(65536)
                if not b:
                    raise EOFError
                buf += b
            head, buf = buf.split(b'\r\n\r\n', 1)
            length = 0
            for line in head.split(b'\r\n')[1:]:
                k, _, v = line.partition(b':')
                if k.strip().lower() == b'content-length':
                    length = int(v)
            while len(buf) < length:
                buf += c.recv(65536)
            buf = buf[length:]
            lines.append(head.split(b'\r\n')[0].split(b' ')[0].decode())
            if mode in ('silent', 'extra') or (mode == 'drop2' and len(lines) == 2):
                if mode == 'silent':
                    time.sleep(3)
                break
            c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok')
            if mode == 'answer1':
                break
    except (EOFError, OSError):
        pass
    c.close()
    print(mode + ' ' + ' '.join(lines), flush=True)
)PY";

} // namespace

TEST_F(ResponseRead, OnlyWhatCannotHappenTwiceIsSentAgain) {
    struct Step {
        const char* verb;
        bool ok;
        bool waitForClose; // until the pool's connection sees the server's close
    };
    struct Case {
        const char* name;
        std::vector<std::string> modes;
        std::vector<Step> steps;
        std::string seen; // what the server printed
    };
    const Case cases[] = {
        {"no answer costs one time-out and one request", {"silent"}, {{"GET", false, false}}, "silent GET\n"},
        {"a GET on a connection dropped at once goes out again",
         {"drop2", "answer"},
         {{"GET", true, false}, {"GET", true, false}},
         "drop2 GET GET\nanswer GET\n"},
        {"a POST on a connection dropped at once does not",
         {"drop2"},
         {{"GET", true, false}, {"POST", false, false}},
         "drop2 GET POST\n"},
        {"a connection closed while idle is not used",
         {"answer1", "answer"},
         {{"GET", true, false}, {"POST", true, true}},
         "answer1 GET\nanswer POST\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        grvtest::ScriptPeer server(kScriptModes, c.modes);
        HttpControl options;
        options.UseIEProxy = 0;
        options.ReadTimeoutSec = 1;
        HttpConnPool pool;
        for (const Step& step : c.steps) {
            if (step.waitForClose) {
                grvtest::WaitFor([&] { return pool.clientAt(0)->connection().socket().idleInputPending(); },
                                 [](bool v) { return v; });
            }
            HttpRequest request;
            prepare(request, step.verb);
            HttpResult result;
            DataBuffer body;
            Logger log;
            EXPECT_EQ(pool.synchronousRequest(options, "127.0.0.1", server.port, false, request, result, body, log,
                                              nullptr, false),
                      step.ok)
                << step.verb;
        }
        // The pool's connection goes, so the server's last one ends.
        LogNull quiet;
        pool.clientAt(0)->closeAfterSendFailure(quiet);
        EXPECT_EQ(server.Finish(), c.seen);
    }
}

TEST_F(ResponseRead, NginxAnswersEarlyAndStoresEmptyBodies) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpControl options;
    options.UseIEProxy = 0;
    options.ReadTimeoutSec = 5;
    HttpConnPool pool;
    struct Step {
        const char* verb;
        const char* path;
        std::size_t bodySize;
        std::uint32_t status;
        const char* answer;
    };
    // nginx answers /early before it has read the body, and goes on reading
    // it afterwards; the empty PUT must say "Content-Length: 0" to be taken.
    const Step steps[] = {
        {"POST", "/early", 10u << 20, 200, "early\n"},
        {"POST", "/early", 1u << 20, 200, "early\n"},
        {"PUT", "/dav/empty.txt", 0, 201, nullptr},
        {"GET", "/dav/empty.txt", 0, 200, ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.verb) + " " + s.path);
        HttpRequest request;
        request.setVerb(s.verb);
        request.setPath(s.path);
        if (s.bodySize != 0) {
            DataBuffer big;
            big.appendCharRepeated('p', s.bodySize);
            request.setAltBody(big);
        }
        HttpResult result;
        DataBuffer body;
        Logger log;
        ASSERT_TRUE(pool.synchronousRequest(options, "127.0.0.1", nginx.httpPort, false, request, result, body, log,
                                            nullptr, false));
        EXPECT_EQ(result.responseHeader.getStatusCode(), s.status);
        if (s.answer != nullptr) {
            EXPECT_EQ(str(body), s.answer);
        }
    }
    EXPECT_TRUE(grvtest::WaitFor([&] { return grvtest::FileExists(nginx.docRoot + "/dav/empty.txt"); },
                                 [](bool there) { return there; })
                    .met);
    EXPECT_EQ(grvtest::ReadFile(nginx.docRoot + "/dav/empty.txt"), "");
    EXPECT_EQ(grvtest::NginxAccessRequests(nginx, 4),
              (std::vector<std::string>{"200 POST /early HTTP/1.1", "200 POST /early HTTP/1.1",
                                        "201 PUT /dav/empty.txt HTTP/1.1", "200 GET /dav/empty.txt HTTP/1.1"}));
}

TEST_F(ResponseRead, NginxOverTlsKeepsTheConnectionAndFramesBodies) {
    peers.TrustCertificate();
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string big = grvtest::ReadFile(nginx.docRoot + "/big.txt");
    HttpControl options;
    options.UseIEProxy = 0;
    options.ReadTimeoutSec = 5;
    HttpConnPool pool;
    struct Step {
        const char* path;
        const char* acceptEncoding;
        std::uint64_t maxSize;
        bool ok;
        std::string body;
    };
    // nginx sends big.txt gzip-compressed in chunks when asked; the limit
    // holds for the chunks over TLS as over plain connections.
    const Step steps[] = {
        {"/", nullptr, 0, true, "hello\n"},    {"/big.txt", "gzip", 0, true, big},
        {"/big.txt", nullptr, 0, true, big},   {"/nocontent", nullptr, 0, true, ""},
        {"/big.txt", "gzip", 1000, false, ""}, {"/", nullptr, 0, true, "hello\n"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.path) + " limit " + std::to_string(s.maxSize));
        options.MaxResponseSize = s.maxSize;
        HttpRequest request;
        request.setPath(s.path);
        if (s.acceptEncoding != nullptr)
            request.setHeader("Accept-Encoding", s.acceptEncoding);
        HttpResult result;
        DataBuffer body;
        Logger log;
        EXPECT_EQ(pool.synchronousRequest(options, "127.0.0.1", nginx.tlsPort, true, request, result, body, log,
                                          nullptr, false),
                  s.ok);
        if (s.ok) {
            EXPECT_TRUE(str(body) == s.body) << body.getSize() << " bytes";
        }
    }
    // The requests per connection: the first four
    // went on one connection, the limit ended it, the last opened another.
    std::vector<long> counts;
    for (const grvtest::NginxAccessLine& line : grvtest::NginxAccessLog(nginx, 6))
        counts.push_back(line.requests);
    EXPECT_EQ(counts, (std::vector<long>{1, 2, 3, 4, 5, 1}));
}
