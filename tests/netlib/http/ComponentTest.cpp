// The HTTP component and the pool's quick drivers against real servers:
// nginx (statuses, redirects, Basic, downloads, interim answers), apache2
// and scripted servers for Digest (MD5-sess as curl answers it), with the
// Digest arithmetic judged by RFC 2617's example and python's hashlib.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string str(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

std::string logText(ClsBase& c) {
    XString x;
    c.getLastErrorText(x, false);
    return x.getUtf8();
}

class HttpComponent : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        http.options().UseIEProxy = 0;
    }

    // GET path; the status and body, or "failed".
    std::string Get(int port, const std::string& path, bool tls = false) {
        ClsHttpRequest request;
        request.setPath(path.c_str());
        std::unique_ptr<ClsHttpResponse> response(http.SynchronousRequest("127.0.0.1", port, tls, request, nullptr));
        if (response == nullptr)
            return "failed";
        return std::to_string(response->getStatusCode()) + " " + str(response->getBody());
    }

    ClsHttp http;
};

} // namespace

TEST_F(HttpComponent, StatusesRedirectsAndCredentialsAgainstNginx) {
    peers.TrustCertificate();
    grvtest::NginxOptions opts;
    opts.loopbackHosts = 2;
    opts.serverLines = {"location = /down { return 302 http://127.0.0.1:{httpPort}/whoami; }"};
    const grvtest::NginxPeer nginx = peers.StartNginx(opts);
    struct Case {
        const char* path;
        bool login;
        bool follow;
        std::string want; // status and body; the status alone for nginx's own pages
        bool tls = false;
    };
    const std::string basic = "Basic Z3J2dXNlcjpQdy0xMjM0"; // grvuser:Pw-1234
    const Case cases[] = {
        {"/", false, true, "200 hello\n"},
        {"/nocontent", false, true, "204 "},
        {"/empty404", false, true, "404 "},
        {"/moved", false, true, "200 hello\n"},
        {"/moved", false, false, "302"},
        {"/moved301", false, true, "301"},
        {"/basic/", true, true, "200 basic-ok\n"},
        {"/basic/", false, true, "401"},
        // Credentials follow a redirect on the same host, never to another.
        {"/to-whoami", true, true, "200 [" + basic + "]\n"},
        {"/elsewhere", true, true, "200 []\n"},
        // Nor from https down to plain http on the same host.
        {"/to-whoami", true, true, "200 [" + basic + "]\n", true},
        {"/down", true, true, "200 []\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.login ? " with login" : "") + (c.follow ? "" : " not following") +
                     (c.tls ? " over TLS" : ""));
        http.options().Login.setFromUtf8(c.login ? grvtest::kPeerUser : "");
        http.options().Password.setFromUtf8(c.login ? grvtest::kPeerPassword : "");
        http.options().FollowRedirects = c.follow ? 1 : 0;
        const std::string got = c.tls ? Get(nginx.tlsPort, c.path, true) : Get(nginx.httpPort, c.path);
        EXPECT_EQ(got.substr(0, c.want.size()), c.want) << logText(http);
        // The options keep their own credentials whatever the redirect did.
        EXPECT_STREQ(http.options().Login.getUtf8(), c.login ? grvtest::kPeerUser : "");
    }
}

// Authorization and Cookie fields the caller put among the extra fields
// follow a redirect to the same scheme, host and port only, on the GET road
// and on a POST's redirect; curl withholds them the same way.
TEST_F(HttpComponent, CallerCredentialFieldsStayWithTheirOrigin) {
    peers.TrustCertificate();
    const int other = peers.StartCaptureServer();
    grvtest::NginxOptions opts;
    opts.loopbackHosts = 2;
    opts.serverLines = {
        "location = /same { return 302 /final; }",
        "location = /host { return 302 http://127.0.0.2:{httpPort}/final; }",
        "location = /port { return 302 http://127.0.0.1:" + std::to_string(other) + "/final; }",
        "location = /down { return 302 http://127.0.0.1:{httpPort}/final; }",
        "location = /final { return 200 \"[$http_authorization][$http_cookie]\"; }",
    };
    const grvtest::NginxPeer nginx = peers.StartNginx(opts);
    http.options().extraHeaders.setField("Authorization", "Bearer t0k");
    http.options().extraHeaders.setField("Cookie", "c=1");
    struct Case {
        const char* path;
        bool tls;
    };
    const Case cases[] = {{"/same", false}, {"/same", true}, {"/host", false}, {"/port", false}, {"/down", true}};
    std::string got, want;
    for (const Case& c : cases) {
        for (bool post : {false, true}) {
            const std::string url = std::string(c.tls ? "https" : "http") +
                                    "://127.0.0.1:" + std::to_string(c.tls ? nginx.tlsPort : nginx.httpPort) + c.path;
            XString x, reply, type;
            x.setFromUtf8(url.c_str());
            type.setFromUtf8("text/plain");
            DataBuffer body;
            body.append("pain 4", 6);
            const bool ok = post ? http.PostBinary(x, body, type, false, false, reply, false, nullptr, http.getLog())
                                 : http.QuickGetStr(x, reply, false, nullptr, http.getLog());
            std::string seen = reply.getUtf8();
            if (std::string(c.path) == "/port") {
                // The capture peer shows what it got.
                const std::string request = peers.CapturedRequests(other).back();
                auto field = [&](const std::string& name) {
                    const std::size_t at = request.find("\r\n" + name + ": ");
                    return at == std::string::npos ? std::string()
                                                   : request.substr(at + name.size() + 4, request.find("\r\n", at + 2) -
                                                                                              at - name.size() - 4);
                };
                seen = "[" + field("Authorization") + "][" + field("Cookie") + "]";
            }
            got += std::string(post ? "POST " : "GET ") + url.substr(0, url.find(':')) + c.path + " " +
                   (ok ? "" : "failed ") + seen + "\n";
            const bool same = std::string(c.path) == "/same";
            want += std::string(post ? "POST " : "GET ") + url.substr(0, url.find(':')) + c.path + " " +
                    (same ? "[Bearer t0k][c=1]" : "[][]") + "\n";
        }
    }
    EXPECT_EQ(got, want) << logText(http);
    // The options keep them for the next call.
    EXPECT_TRUE(http.options().extraHeaders.hasField("Authorization"));
    EXPECT_TRUE(http.options().extraHeaders.hasField("Cookie"));
}

TEST_F(HttpComponent, InterimAnswersAndNotModifiedAgainstNginx) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpConnPool& pool = http.pool();
    HttpControl& options = http.options();
    Logger log;
    // nginx answers "Expect: 100-continue" with 100 Continue even when the
    // body came along at once.
    HttpRequest put;
    put.setVerb("PUT");
    put.setPath("/dav/continued.txt");
    put.setHeader("Expect", "100-continue");
    DataBuffer content;
    content.append("stored", 6);
    put.setAltBody(content);
    HttpResult result;
    DataBuffer body;
    ASSERT_TRUE(
        pool.synchronousRequest(options, "127.0.0.1", nginx.httpPort, false, put, result, body, log, nullptr, false));
    EXPECT_EQ(result.responseHeader.getStatusCode(), 201u);
    StringBuffer text;
    log.getLogText(text);
    EXPECT_NE(std::string(text.getString()).find("Discarding 100 Continue response header.."), std::string::npos);
    EXPECT_EQ(grvtest::WaitFor([&] { return grvtest::ReadFile(nginx.docRoot + "/dav/continued.txt"); },
                               [](const std::string& text) { return text == "stored"; })
                  .seen,
              "stored");

    HttpRequest get;
    ASSERT_TRUE(
        pool.synchronousRequest(options, "127.0.0.1", nginx.httpPort, false, get, result, body, log, nullptr, false));
    StringBuffer etag;
    ASSERT_TRUE(result.responseHeader.getField("ETag", etag));
    HttpRequest conditional;
    conditional.setHeader("If-None-Match", etag.getString());
    ASSERT_TRUE(pool.synchronousRequest(options, "127.0.0.1", nginx.httpPort, false, conditional, result, body, log,
                                        nullptr, false));
    EXPECT_EQ(result.responseHeader.getStatusCode(), 304u);
    EXPECT_EQ(body.getSize(), 0u);
    EXPECT_EQ(pool.getCount(), 1);
}

namespace {

// A Digest server that checks each answer with hashlib, for `turns`
// connections: "old" is RFC 2069's day (its challenge offers no qop, python's
// urllib answers in that form), "sess" asks for MD5-sess with qop auth, whose
// session key is H(hex H(user:realm:password) ":" nonce ":" cnonce) as RFC
// 7616 (3.4.2) and curl have it. Prints "ok" or "bad" for each answer.
constexpr const char* kScriptDigestServer = R"PY(
import hashlib, re
s = listen()
mode, user, password, turns = args[0], args[1], args[2], int(args[3])
h = lambda t: hashlib.md5(t.encode()).hexdigest()
challenge = {'old': 'realm="old", nonce="n0nce"',
             'sess': 'realm="sess", nonce="n0nce", qop="auth", algorithm=MD5-sess'}[mode]
for turn in range(turns):
    c, a = s.accept()
    req = recv_head(c)
    head = req.decode()
    m = re.search(r'Authorization: Digest (.*)\r\n', head)
    if not m:
        c.sendall(b'HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest ' + challenge.encode() +
                  b'\r\nConnection: close\r\nContent-Length: 0\r\n\r\n')
        c.close()
        continue
    f = dict((k, v1 or v2) for k, v1, v2 in re.findall(r'(\w+)=(?:"([^"]*)"|([^,\s]*))', m.group(1)))
    ha2 = h('GET:' + f['uri'])
    if mode == 'old':
        want = h(':'.join([h(user + ':old:' + password), 'n0nce', ha2]))
        ok = f['response'] == want and 'qop' not in f and 'nc' not in f
    else:
        ha1 = h(':'.join([h(user + ':sess:' + password), 'n0nce', f['cnonce']]))
        want = h(':'.join([ha1, 'n0nce', f['nc'], f['cnonce'], 'auth', ha2]))
        ok = f['response'] == want and f.get('algorithm') == 'MD5-sess' and f.get('qop') == 'auth'
    print('ok' if ok else 'bad', flush=True)
    c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\ndigest-ok\n' if ok else
              b'HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n')
    c.close()
)PY";

} // namespace

TEST_F(HttpComponent, DigestAgainstApacheAndScriptedServersCurlAgreesWith) {
    const grvtest::ApachePeer apache = peers.StartApache();
    grvtest::ScriptPeer old(kScriptDigestServer, {"old", grvtest::kPeerUser, grvtest::kPeerPassword, "2"});
    // curl answers the MD5-sess server first: the server's arithmetic is
    // the one a peer nobody here wrote uses.
    grvtest::ScriptPeer sess(kScriptDigestServer, {"sess", grvtest::kPeerUser, grvtest::kPeerPassword, "4"});
    const grvtest::RunResult curl = grvtest::RunProgram({"curl", "-s", "-m", "10", "--digest", "-u",
                                                         std::string(grvtest::kPeerUser) + ":" + grvtest::kPeerPassword,
                                                         "http://127.0.0.1:" + std::to_string(sess.port) + "/sess/"});
    EXPECT_EQ(curl.out, "digest-ok\n") << curl.err;
    struct Case {
        int port;
        const char* path;
        bool digest;
        const char* want;
    };
    const Case cases[] = {
        {apache.port, "/digest/", true, "200 digest-ok\n"},
        {old.port, "/old/", true, "200 digest-ok\n"},
        {sess.port, "/sess/", true, "200 digest-ok\n"},
        {apache.port, "/digest/", false, "401"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.digest ? " with Digest" : " without"));
        ClsHttp component;
        component.options().UseIEProxy = 0;
        component.options().Login.setFromUtf8(grvtest::kPeerUser);
        component.options().Password.setFromUtf8(grvtest::kPeerPassword);
        component.options().DigestAuth = c.digest ? 1 : 0;
        ClsHttpRequest request;
        request.setPath(c.path);
        std::unique_ptr<ClsHttpResponse> response(
            component.SynchronousRequest("127.0.0.1", c.port, false, request, nullptr));
        ASSERT_NE(response, nullptr) << logText(component);
        const std::string got = std::to_string(response->getStatusCode()) + " " + str(response->getBody());
        EXPECT_EQ(got.substr(0, std::string(c.want).size()), c.want) << logText(component);
    }
    EXPECT_EQ(old.Finish(), "ok\n");
    EXPECT_EQ(sess.Finish(), "ok\nok\n"); // curl's answer, then ours
}

TEST_F(HttpComponent, QuickDriversAgainstNginx) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpConnPool& pool = http.pool();
    HttpControl& options = http.options();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    const std::string big = grvtest::ReadFile(nginx.docRoot + "/big.txt");
    grvtest::TempDir dir;
    Logger log;
    HttpResult result;
    DataBuffer body;

    // nginx sends big.txt gzip-compressed and chunked.
    ASSERT_TRUE(pool.quickRequest((base + "/big.txt").c_str(), options, body, result, log, nullptr, false));
    EXPECT_EQ(str(body), big);
    XString text;
    ASSERT_TRUE(pool.quickGetText((base + "/").c_str(), options, text, result, log, nullptr, false));
    EXPECT_STREQ(text.getUtf8(), "hello\n");

    // Credentials in the URL serve that call only.
    const std::string withLogin = "http://" + std::string(grvtest::kPeerUser) + ":" + grvtest::kPeerPassword +
                                  "@127.0.0.1:" + std::to_string(nginx.httpPort) + "/basic/";
    ASSERT_TRUE(pool.quickRequest(withLogin.c_str(), options, body, result, log, nullptr, false));
    EXPECT_EQ(str(body), "basic-ok\n");
    EXPECT_EQ(options.Login.getSizeUtf8(), 0);
    EXPECT_EQ(options.Password.getSizeUtf8(), 0);
    // Without them the 401 stands, and the GET road says it cannot answer.
    EXPECT_FALSE(pool.quickRequest((base + "/basic/").c_str(), options, body, result, log, nullptr, false));
    EXPECT_EQ(result.responseHeader.getStatusCode(), 401u);

    struct Download {
        const char* name;
        const char* path;
        bool resumeFrom1000;
        bool ok;
        const char* want; // "big" (the file), "gzip" (its gzip form) or "none" (no file left)
    };
    const Download downloads[] = {
        {"big.txt", "/big.txt", false, true, "big"},
        {"big.txt.gz", "/big.txt", false, true, "gzip"},
        {"missing.txt", "/missing", false, true, "none"},
        {"resumed.txt", "/big.txt", true, true, "big"},
    };
    for (const Download& d : downloads) {
        SCOPED_TRACE(d.name);
        const std::string local = dir.File(d.name);
        options.AllowGzip = d.resumeFrom1000 ? 0 : 1;
        bool ok;
        if (d.resumeFrom1000) {
            ASSERT_TRUE(grvtest::WriteFile(local, big.substr(0, 1000)));
            ok = pool.resumeDownload((base + d.path).c_str(), options, local.c_str(), result, log, nullptr, false);
        } else {
            ok = pool.downloadToFile((base + d.path).c_str(), options, local.c_str(), false, result, log, nullptr,
                                     false);
        }
        EXPECT_EQ(ok, d.ok);
        const std::string want = d.want;
        if (want == "none") {
            EXPECT_FALSE(grvtest::FileExists(local));
        } else if (want == "big") {
            const std::string got = grvtest::ReadFile(local);
            EXPECT_TRUE(got == big) << got.size() << " bytes of " << big.size() << "; status "
                                    << result.responseHeader.getStatusCode();
        } else {
            const grvtest::RunResult judged = grvtest::Python(
                "import gzip,sys; print(gzip.open(sys.argv[1]).read() == open(sys.argv[2], 'rb').read())",
                {local, nginx.docRoot + "/big.txt"});
            EXPECT_EQ(judged.out, "True\n") << judged.err;
        }
    }
    EXPECT_EQ(options.ResumePoint, 0);
    options.AllowGzip = 1;

    // A server that ignores the range sends all of it: that replaces the
    // part already there instead of following it.
    {
        grvtest::ScriptPeer whole(grvtest::kScriptIgnoresRange, {"whole"});
        const std::string local = dir.File("whole.txt");
        ASSERT_TRUE(grvtest::WriteFile(local, "wh"));
        const std::string url = "http://127.0.0.1:" + std::to_string(whole.port) + "/whole.txt";
        EXPECT_TRUE(pool.resumeDownload(url.c_str(), options, local.c_str(), result, log, nullptr, false));
        EXPECT_EQ(grvtest::ReadFile(local), "whole");
        EXPECT_EQ(whole.Finish(), "Range: bytes=2-\n");
    }

    // A MIME text goes out with its own fields; the host is added.
    StringBuffer mime("Content-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello");
    ASSERT_TRUE(pool.postMime((base + "/early").c_str(), options, mime, result, body, log, nullptr, false));
    EXPECT_EQ(result.responseHeader.getStatusCode(), 200u);
    EXPECT_EQ(str(body), "early\n");
}

namespace {

// RFC 2617, section 3.5: the inputs and the response of the example.
struct Rfc2617Example {
    std::string user, realm, password, nonce, cnonce, nc, qop, method, uri, response;
};

Rfc2617Example readExample() {
    Rfc2617Example e;
    std::ifstream in(std::string(GRV_TEST_DATA_DIR) + "/http/rfc2617-digest.txt");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        for (auto [name, field] : {std::pair{"username", &e.user},
                                   {"realm", &e.realm},
                                   {"password", &e.password},
                                   {"nonce", &e.nonce},
                                   {"cnonce", &e.cnonce},
                                   {"nc", &e.nc},
                                   {"qop", &e.qop},
                                   {"method", &e.method},
                                   {"uri", &e.uri},
                                   {"response", &e.response}})
            if (key == name)
                *field = value;
    }
    return e;
}

// python's hashlib recomputes the response of each line from its own
// fields and the password; prints "ok" or what differs.
constexpr const char* kJudgeDigest = R"PY(
import hashlib, re, sys
password = sys.argv[1]
method, uri = 'GET', '/dir/index.html'
for line in sys.stdin.read().split('\n'):
    if not line:
        continue
    f = dict((m.group(1), m.group(2) if m.group(2) is not None else m.group(3))
             for m in re.finditer(r'(\w+)=(?:"((?:[^"\\]|\\.)*)"|([^,\s]*))', line.split(' ', 2)[2]))
    for k in f:
        f[k] = re.sub(r'\\(.)', r'\1', f[k])
    h = lambda s: hashlib.md5(s.encode()).hexdigest()
    ha1 = h(f['username'] + ':' + f['realm'] + ':' + password)
    if f['algorithm'].lower() == 'md5-sess':
        ha1 = h(ha1 + ':' + f['nonce'] + ':' + f['cnonce'])
    ha2 = h(method + ':' + uri)
    if 'qop' in f:
        want = h(':'.join([ha1, f['nonce'], f['nc'], f['cnonce'], f['qop'], ha2]))
    else:
        want = h(':'.join([ha1, f['nonce'], ha2]))
    print('ok' if want == f['response'] else 'differs: ' + line)
)PY";

} // namespace

TEST(Digest, Rfc2617ExampleAndChallengesJudgedByHashlib) {
    const Rfc2617Example e = readExample();
    ASSERT_FALSE(e.response.empty());
    char ha1[http_auth::kDigestHexSize];
    char response[http_auth::kDigestHexSize];
    digestCalcHa1("MD5", e.user.c_str(), e.realm.c_str(), e.password.c_str(), e.nonce.c_str(), e.cnonce.c_str(), ha1);
    digestCalcResponse(ha1, e.nonce.c_str(), e.nc.c_str(), e.cnonce.c_str(), e.qop.c_str(), e.method.c_str(),
                       e.uri.c_str(), "", response);
    EXPECT_EQ(std::string(response), e.response);

    struct Case {
        const char* challenge;
        const char* login;
        bool ok;
        std::vector<std::string> parts; // in the line, in this order
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {"Digest realm=\"r\", nonce=\"n1\", qop=\"auth,auth-int\", opaque=\"o\"",
         "Mufasa",
         true,
         {"username=\"Mufasa\"", "realm=\"r\"", "nonce=\"n1\"", "uri=\"/dir/index.html\"", "algorithm=MD5", "qop=auth,",
          "nc=00000001", "cnonce=\"", "opaque=\"o\""},
         {}},
        {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n2\"",
         "Mufasa",
         true,
         {"algorithm=MD5", "response=\""},
         {"qop", "nc=", "cnonce"}},
        {"Digest realm=\"r\", nonce=\"n3\", algorithm=MD5-sess, qop=auth", "Mufasa", true, {"algorithm=MD5-sess"}, {}},
        {"Digest realm=\"with \\\"quotes\\\"\", nonce=\"n4\", qop=auth",
         "a\"b\\c",
         true,
         {"username=\"a\\\"b\\\\c\"", "realm=\"with \\\"quotes\\\"\""},
         {}},
        {"Digest realm=\"r\", nonce=\"n5\", qop=\"auth-int\"", "Mufasa", false, {}, {}},
        {"Digest realm=\"r\", nonce=\"n6\", algorithm=SHA-256", "Mufasa", false, {}, {}},
    };
    std::string lines;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.challenge);
        StringBuffer line;
        LogNull log;
        EXPECT_EQ(HttpDigestAuth(c.login, "Circle Of Life", "GET", "/dir/index.html", c.challenge, line, log), c.ok);
        if (!c.ok)
            continue;
        const std::string text = line.getString();
        EXPECT_EQ(text.rfind("Authorization: Digest ", 0), 0u);
        std::size_t at = 0;
        for (const std::string& part : c.parts) {
            const std::size_t found = text.find(part, at);
            EXPECT_NE(found, std::string::npos) << part << " in " << text;
            at = found == std::string::npos ? at : found;
        }
        for (const std::string& part : c.absent)
            EXPECT_EQ(text.find(part), std::string::npos) << part << " in " << text;
        lines += text + "\n";
    }
    const grvtest::RunResult judged = grvtest::Python(kJudgeDigest, {"Circle Of Life"}, lines);
    EXPECT_EQ(judged.out, "ok\nok\nok\nok\n") << judged.err;
}
