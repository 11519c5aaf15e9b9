// NTLM over HTTP against apache2 with mod_auth_gssapi and gss-ntlmssp
// (connection-bound, NTLM only): the request road through the pool and the
// GET road, with the own NTLM messages (explicit credentials) and with the
// security packages (the logged-on user's credentials from the user file);
// and a request that goes out with NTLM on to a server that needs none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/WinUtil.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/pki/SecurityPackage.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using authtest::canned;
using authtest::logText;
using authtest::text;

// A SOCKS5 server (no authentication) that alone knows the name asked for:
// it takes args[1] connections, relays each to 127.0.0.1 port args[0], and
// prints the names it was asked for.
constexpr const char* kSocksRelay = R"PY(
import select, struct, threading
s = listen()
def relay(c):
    greeting = recv_exact(c, 2)
    recv_exact(c, greeting[1])
    c.sendall(b'\x05\x00')
    head = recv_exact(c, 4)
    name = recv_exact(c, recv_exact(c, 1)[0]).decode() if head[3] == 3 else socket.inet_ntoa(recv_exact(c, 4))
    port = struct.unpack('>H', recv_exact(c, 2))[0]
    print('CONNECT %s:%d' % (name, port), flush=True)
    u = socket.create_connection(('127.0.0.1', int(args[0])))
    c.sendall(b'\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00')
    while True:
        ready = select.select([c, u], [], [], 20)[0]
        data = ready and ready[0].recv(65536)
        if not data:
            break
        (u if ready[0] is c else c).sendall(data)
    c.close()
    u.close()
workers = []
for i in range(int(args[1])):
    workers.append(threading.Thread(target=relay, args=(s.accept()[0],)))
    workers[-1].start()
for w in workers:
    w.join()
)PY";

class NtlmExchange : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        unsetenv(sspi::kNtlmUserFileVariable);
        options.UseIEProxy = 0;
    }
    void TearDown() override { unsetenv(sspi::kNtlmUserFileVariable); }

    // apache's NTLM accounts: the peers' user, and the logged-on user for the
    // default credentials, whose line the client's user file holds too.
    grvtest::ApachePeer startApache() {
        StringBuffer me;
        getUserNameSb(me);
        m_me = me.getString();
        grvtest::ApacheOptions o;
        // The acceptor takes NTLMv1 and NTLM2 session responses too, which
        // the own messages send by default.
        o.env = {"LM_COMPAT_LEVEL=2"};
        o.ntlmUsers = {std::string(grvtest::kPeerNtlmDomain) + ":" + m_me + ":" + kMyPassword};
        grvtest::ApachePeer apache = peers.StartApache(o);
        m_userFile = m_dir.File("ntlm-users");
        grvtest::WriteFile(m_userFile, std::string(grvtest::kPeerNtlmDomain) + ":" + m_me + ":" + kMyPassword + "\n");
        return apache;
    }
    void useDefaultCredentials() { setenv(sspi::kNtlmUserFileVariable, m_userFile.c_str(), 1); }

    bool request(const char* verb, int port, const char* path, std::string& body, std::uint32_t& status, Logger& log) {
        return authtest::poolRequest(options, "127.0.0.1", port, verb, path, body, status, log);
    }

    static constexpr const char* kMyPassword = "Mine-5678";
    HttpControl options;
    grvtest::TempDir m_dir;
    std::string m_me;
    std::string m_userFile;
};

TEST_F(NtlmExchange, RequestRoadReachesApache) {
    const grvtest::ApachePeer apache = startApache();
    struct Case {
        const char* name;
        const char* verb;
        const char* login;
        const char* password;
        const char* domain;
        bool defaults;
    };
    const Case cases[] = {
        {"own messages, GET", "GET", grvtest::kPeerUser, grvtest::kPeerPassword, grvtest::kPeerNtlmDomain, false},
        {"own messages, domain in the login", "GET", "GRVTEST\\grvuser", grvtest::kPeerPassword, "", false},
        {"own messages, POST", "POST", grvtest::kPeerUser, grvtest::kPeerPassword, grvtest::kPeerNtlmDomain, false},
        {"security package, default credentials", "GET", "", "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        options.NTLMAuth = 0;
        options.Login.setFromUtf8(c.login);
        options.Password.setFromUtf8(c.password);
        options.LoginDomain.setFromUtf8(c.domain);
        if (c.defaults)
            useDefaultCredentials();
        std::string body;
        std::uint32_t status = 0;
        Logger log;
        EXPECT_TRUE(request(c.verb, apache.port, "/ntlm/", body, status, log)) << logText(log);
        EXPECT_EQ(status, 200u) << logText(log);
        EXPECT_EQ(body, "ntlm-ok\n");
        EXPECT_EQ(options.NTLMAuth, 1);
        // The detailed log names the password's tag, never the password.
        const std::string logged = logText(log);
        EXPECT_EQ(logged.find(c.defaults ? kMyPassword : c.password), std::string::npos);
        if (c.defaults) {
            EXPECT_NE(logged.find(std::string("ntlmAuthenticatePostPasswordQP: ") + http_auth::kHiddenPassword),
                      std::string::npos)
                << logged;
        }
    }
}

TEST_F(NtlmExchange, RequestRoadOverTlsReachesApache) {
    peers.TrustCertificate();
    // apache's TLS side speaks what the TLS client does: TLS 1.0, AES128-SHA.
    const int tlsPort = grvtest::FreeLoopbackPort();
    const std::string modules = "/usr/lib/apache2/modules/";
    grvtest::ApacheOptions o;
    o.env = {"LM_COMPAT_LEVEL=2"};
    o.config = {
        "LoadModule socache_shmcb_module " + modules + "mod_socache_shmcb.so",
        "LoadModule ssl_module " + modules + "mod_ssl.so",
        "Listen 127.0.0.1:" + std::to_string(tlsPort),
        "<VirtualHost 127.0.0.1:" + std::to_string(tlsPort) + ">",
        "  SSLEngine on",
        "  SSLProtocol TLSv1",
        "  SSLCipherSuite AES128-SHA:@SECLEVEL=0",
        "  SSLCertificateFile " + peers.Certificate(),
        "  SSLCertificateKeyFile " + peers.CertificateKey(),
        "</VirtualHost>",
    };
    peers.StartApache(o);
    options.Login.setFromUtf8("GRVTEST\\grvuser");
    options.Password.setFromUtf8(grvtest::kPeerPassword);
    for (const char* verb : {"GET", "POST"}) {
        SCOPED_TRACE(verb);
        options.NTLMAuth = 0;
        HttpRequest r;
        r.setVerb(verb);
        r.setPath("/ntlm/");
        HttpConnPool pool;
        HttpResult result;
        DataBuffer got;
        Logger log;
        EXPECT_TRUE(pool.synchronousRequest(options, "127.0.0.1", tlsPort, true, r, result, got, log, nullptr, false))
            << logText(log);
        EXPECT_EQ(result.responseHeader.getStatusCode(), 200u) << logText(log);
        EXPECT_EQ(text(got), "ntlm-ok\n");
    }
}

// The last case goes through a SOCKS5 relay that alone knows the origin's
// name: every leg of the handshake goes the way its request went, on its
// one connection.
TEST_F(NtlmExchange, GetRoadReachesApache) {
    const grvtest::ApachePeer apache = startApache();
    struct Case {
        const char* name;
        const char* login;
        const char* password;
        bool ok;
        const char* line;
        bool socks;
    };
    const Case cases[] = {
        {"own messages", "GRVTEST/grvuser", grvtest::kPeerPassword, true, "NtlmChallenge2", false},
        {"security package, default credentials", "", "", true, "NtlmLogin: default", false},
        {"wrong password", "GRVTEST/grvuser", "wrong", false, "SendFinalResponseStatus: 401", false},
        {"own messages through SOCKS", "GRVTEST/grvuser", grvtest::kPeerPassword, true, "NtlmChallenge2", true},
    };
    useDefaultCredentials();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        constexpr int kRelayed = 1;
        std::unique_ptr<grvtest::ScriptPeer> relay;
        if (c.socks) {
            relay = std::make_unique<grvtest::ScriptPeer>(
                kSocksRelay, std::vector<std::string>{std::to_string(apache.port), std::to_string(kRelayed)});
            options.setSocksVersion(kSocks5Version);
            options.setSocksHostname("127.0.0.1");
            options.setSocksPort(relay->port);
        }
        const std::string url = std::string("http://") + (c.socks ? "origin.invalid" : "127.0.0.1") + ":" +
                                std::to_string(apache.port) + "/ntlm/";
        options.NTLMAuth = 1;
        options.Login.setFromUtf8(c.login);
        options.Password.setFromUtf8(c.password);
        {
            HttpConnPool pool;
            DataBuffer got;
            HttpResult result;
            Logger log;
            EXPECT_EQ(pool.quickRequest(url.c_str(), options, got, result, log, nullptr, false), c.ok) << logText(log);
            EXPECT_NE(logText(log).find(c.line), std::string::npos) << logText(log);
            if (c.ok) {
                EXPECT_EQ(result.responseHeader.getStatusCode(), 200u);
                EXPECT_EQ(text(got), "ntlm-ok\n");
            }
        }
        // The stand-in "default" credentials do not stay behind.
        EXPECT_STREQ(options.Login.getUtf8(), c.login);
        EXPECT_STREQ(options.Password.getUtf8(), c.password);
        if (c.socks) {
            EXPECT_EQ(relay->Finish(), "CONNECT origin.invalid:" + std::to_string(apache.port) + "\n");
            options.setSocksVersion(0);
        }
    }
}

TEST_F(NtlmExchange, WrongPasswordOnTheRequestRoadEndsWithThe401) {
    const grvtest::ApachePeer apache = startApache();
    options.Login.setFromUtf8(grvtest::kPeerUser);
    options.Password.setFromUtf8("wrong");
    options.LoginDomain.setFromUtf8(grvtest::kPeerNtlmDomain);
    std::string body;
    std::uint32_t status = 0;
    Logger log;
    EXPECT_TRUE(request("GET", apache.port, "/ntlm/", body, status, log)) << logText(log);
    EXPECT_EQ(status, 401u);
}

TEST_F(NtlmExchange, PostToAServerWithoutAuthenticationRunsOnce) {
    const int port = peers.StartCaptureServer();
    options.NTLMAuth = 1;
    options.Login.setFromUtf8(grvtest::kPeerUser);
    options.Password.setFromUtf8(grvtest::kPeerPassword);
    options.LoginDomain.setFromUtf8(grvtest::kPeerNtlmDomain);
    std::string body;
    std::uint32_t status = 0;
    Logger log;
    EXPECT_TRUE(request("POST", port, "/form?entry=7", body, status, log)) << logText(log);
    EXPECT_EQ(status, 200u);
    EXPECT_NE(logText(log).find(http_auth::kMsgNotRequired), std::string::npos);
    const std::vector<std::string> seen = peers.CapturedRequests(port, 2);
    ASSERT_EQ(seen.size(), 2u);
    // The authentication leg: same path, no query, no body.
    EXPECT_EQ(seen[0].substr(0, 21), "POST /form HTTP/1.1\r\n");
    EXPECT_NE(seen[0].find("\r\nContent-Length: 0\r\n"), std::string::npos) << seen[0];
    EXPECT_NE(seen[0].find("\r\nAuthorization: NTLM TlRMTVNTUAAB"), std::string::npos) << seen[0];
    EXPECT_EQ(seen[0].find("entry="), std::string::npos) << seen[0];
    EXPECT_EQ(seen[0].substr(seen[0].size() - 4), "\r\n\r\n");
    // The request itself, once, and without a token that would open the
    // handshake again.
    EXPECT_EQ(seen[1].substr(0, 29), "POST /form?entry=7 HTTP/1.1\r\n");
    EXPECT_EQ(seen[1].find("Authorization"), std::string::npos) << seen[1];
    EXPECT_EQ(seen[1].substr(seen[1].size() - 12), "entry=pain+4");
}

TEST_F(NtlmExchange, ScriptedAnswersToTheLegs) {
    const std::string offer = canned("401 Unauthorized", "WWW-Authenticate: NTLM\r\n", "");
    const std::string challenge = canned(
        "401 Unauthorized", std::string("WWW-Authenticate:   NTLM    ") + authtest::kNtlmChallenge + "  \r\n", "");
    struct Case {
        const char* name;
        bool ntlmAuth;
        const char* login;
        std::vector<std::string> script;
        bool ok;
        std::uint32_t status;
        std::size_t requests;
        std::vector<const char*> lines;
    };
    const Case cases[] = {
        {"first leg answered 200",
         true,
         "grvuser",
         {offer, canned("200 OK", "", "open")},
         true,
         200,
         2,
         {http_auth::kMsgGetLegAccepted}},
        {"final GET answered 302",
         true,
         "grvuser",
         {offer, challenge, canned("302 Found", "Location: /elsewhere\r\n", "")},
         false,
         302,
         3,
         {"SendFinalResponseStatus: 302", "NtlmChallenge2: TlRMTVNTUAAC"}},
        {"final GET answered 200 after a spaced challenge",
         true,
         "grvuser",
         {offer, challenge, canned("200 OK", "", "in")},
         true,
         200,
         3,
         {"NtlmChallenge2: TlRMTVNTUAAC"}},
        {"first leg answered 500",
         true,
         "grvuser",
         {offer, canned("500 Oops", "", "")},
         false,
         500,
         2,
         {"exchangePackageGetResponseStatus: 500", "Failed at TYPE1 message in NTLM GET."}},
        {"NTLM offered while off, no login",
         false,
         "",
         {offer},
         false,
         401,
         1,
         {"Cannot authenticate.  Login and/or password not provided."}},
        {"NTLM offered while off, no Digest", false, "grvuser", {offer}, false, 401, 1, {"Try Basic authentication?"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int port = peers.StartCaptureServer(c.script);
        options.NTLMAuth = c.ntlmAuth ? 1 : 0;
        options.Login.setFromUtf8(c.login);
        options.Password.setFromUtf8(grvtest::kPeerPassword);
        HttpConnPool pool;
        DataBuffer got;
        HttpResult result;
        Logger log;
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/page";
        EXPECT_EQ(pool.quickRequest(url.c_str(), options, got, result, log, nullptr, false), c.ok);
        EXPECT_EQ(result.responseHeader.getStatusCode(), c.status);
        for (const char* line : c.lines)
            EXPECT_NE(logText(log).find(line), std::string::npos) << line << "\n" << logText(log);
        const std::vector<std::string> seen = peers.CapturedRequests(port, c.requests);
        ASSERT_EQ(seen.size(), c.requests);
        const char* const tokens[] = {"", "Authorization: NTLM TlRMTVNTUAAB", "Authorization: NTLM TlRMTVNTUAAD"};
        for (std::size_t i = 1; i < seen.size(); ++i) {
            EXPECT_NE(seen[i].find(tokens[i]), std::string::npos) << seen[i];
        }
        peers.Stop(port);
    }
}

TEST(NtlmLogin, SplitIntoUserAndDomain) {
    struct Case {
        const char* login;
        const char* loginDomain;
        const char* user;
        const char* domain;
    };
    const Case cases[] = {
        {"", "", "default", ""},
        {"  ", "D", "default", "D"},
        {"dom/user", "", "user", "dom"},
        {"dom\\user", "", "user", "dom"},
        {"dom\\user", " OTHER ", "user", "OTHER"},
        {"user", "", "user", ""},
        {"dom\\", "", "default", "dom"},
        {"a/b/c", "", "b\\c", "a"},
    };
    for (const Case& c : cases) {
        HttpControl options;
        options.Login.setFromUtf8(c.login);
        options.LoginDomain.setFromUtf8(c.loginDomain);
        XString user, domain;
        Logger log;
        EXPECT_TRUE(HttpClient::splitNtlmLogin(options, user, domain, log));
        EXPECT_STREQ(user.getUtf8(), c.user) << c.login;
        EXPECT_STREQ(domain.getUtf8(), c.domain) << c.login;
    }
}

} // namespace
