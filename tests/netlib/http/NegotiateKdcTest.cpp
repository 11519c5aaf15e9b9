// Negotiate (SPNEGO with Kerberos) against apache2 with mod_auth_gssapi, its
// tickets from a throwaway MIT KDC on loopback: the request road and the GET
// road, with a password and with the credentials cache of kinit, and the
// refusals of a wrong password, of a host the realm does not know and of a
// 403 that answers the token with none. This executable is its own CI stage
// (ctest label "kdc").
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/pki/MsSspi.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using authtest::logText;
using authtest::text;

class NegotiateKdc : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        // An ordinary user's login PATH on Debian: no /usr/sbin, where the
        // realm's programs live.
        const char* path = getenv("PATH");
        savedPath = path != nullptr ? path : "";
        setenv("PATH", kUserLoginPath, 1);
        kdc = peers.StartKdc();
        // A folder the server cannot search: it answers 403, and no token,
        // to whatever asks below it (the Negotiate token included).
        mkdir(closed().c_str(), kOpenFolder);
        mkdir((closed() + "/inner").c_str(), kOpenFolder);
        chmod(closed().c_str(), kShutFolder);
        grvtest::ApacheOptions o;
        o.kerberos = &kdc;
        o.config = {"LoadModule alias_module /usr/lib/apache2/modules/mod_alias.so",
                    std::string("Alias ") + kShutPath + " " + closed() + "/inner/"};
        apache = peers.StartApache(o);
        setenv("KRB5_CONFIG", kdc.krb5Conf.c_str(), 1);
        cache = "FILE:" + dir.File("ccache");
        setenv("KRB5CCNAME", cache.c_str(), 1);
        unsetenv(sspi::kNtlmUserFileVariable);
        options.UseIEProxy = 0;
    }
    void TearDown() override {
        setenv("PATH", savedPath.c_str(), 1);
        unsetenv("KRB5_CONFIG");
        unsetenv("KRB5CCNAME");
        chmod(closed().c_str(), kOpenFolder);
    }

    std::string closed() const { return dir.File("closed"); }

    void credentials(const char* login, const char* password) {
        options.Login.setFromUtf8(login);
        options.Password.setFromUtf8(password);
    }

    bool request(const char* host, const char* verb, std::string& body, std::uint32_t& status, Logger& log,
                 const char* path = "/negotiate/") {
        return authtest::poolRequest(options, host, apache.port, verb, path, body, status, log);
    }

    static constexpr mode_t kOpenFolder = 0700;
    static constexpr mode_t kShutFolder = 0;
    static constexpr const char* kShutPath = "/shut/";
    static constexpr const char* kUserLoginPath = "/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games";
    std::string savedPath;
    grvtest::KdcPeer kdc;
    grvtest::ApachePeer apache;
    grvtest::TempDir dir;
    std::string cache;
    HttpControl options;
};

TEST_F(NegotiateKdc, RequestRoadAuthenticates) {
    struct Case {
        const char* name;
        const char* verb;
        bool kinit;
        const char* login;
        const char* password;
    };
    const Case cases[] = {
        {"password, GET", "GET", false, grvtest::kPeerUser, grvtest::kPeerPassword},
        {"password and realm, POST", "POST", false, "grvuser@GORVANE.TEST", grvtest::kPeerPassword},
        {"credentials cache, GET", "GET", true, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kinit)
            peers.Kinit(kdc, cache);
        credentials(c.login, c.password);
        options.NegotiateAuth = 1;
        std::string body;
        std::uint32_t status = 0;
        Logger log;
        EXPECT_TRUE(request("localhost", c.verb, body, status, log)) << logText(log);
        EXPECT_EQ(status, 200u) << logText(log);
        EXPECT_EQ(body, "negotiate-ok\n");
        EXPECT_NE(logText(log).find("gssTarget: HTTP@localhost"), std::string::npos);
    }
}

TEST_F(NegotiateKdc, GetRoadAuthenticates) {
    const std::string url = "http://localhost:" + std::to_string(apache.port) + "/negotiate/";
    for (bool kinit : {false, true}) {
        SCOPED_TRACE(kinit ? "credentials cache" : "password");
        if (kinit) {
            peers.Kinit(kdc, cache);
            credentials("", "");
        } else {
            credentials(grvtest::kPeerUser, grvtest::kPeerPassword);
        }
        HttpConnPool pool;
        DataBuffer got;
        HttpResult result;
        Logger log;
        EXPECT_TRUE(pool.quickRequest(url.c_str(), options, got, result, log, nullptr, false)) << logText(log);
        EXPECT_EQ(result.responseHeader.getStatusCode(), 200u);
        EXPECT_EQ(text(got), "negotiate-ok\n");
        EXPECT_NE(logText(log).find(http_auth::kMsgGetLegAccepted), std::string::npos);
        EXPECT_EQ(options.NegotiateAuth, 1);
    }
}

TEST_F(NegotiateKdc, RefusalsEndCleanly) {
    struct Case {
        const char* name;
        const char* host;
        const char* password;
        const char* line;
    };
    const Case cases[] = {
        {"wrong password", "localhost", "wrong", sspi::kMsgAcquireFailed},
        {"host the realm does not know", "127.0.0.1", grvtest::kPeerPassword, sspi::kMsgFirstPackage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        credentials(grvtest::kPeerUser, c.password);
        options.NegotiateAuth = 1;
        std::string body;
        std::uint32_t status = 0;
        Logger log;
        EXPECT_FALSE(request(c.host, "GET", body, status, log));
        EXPECT_NE(logText(log).find(c.line), std::string::npos) << logText(log);
    }
}

// The server answers the first token with a refusal that carries no token:
// the context under way is not handed an empty one, and the answer is the
// server's, as curl gets it.
TEST_F(NegotiateKdc, RefusalWithoutTokenIsTheAnswer) {
    const char* const verbs[] = {"GET", "POST"};
    peers.Kinit(kdc, cache);
    const std::string url = "http://localhost:" + std::to_string(apache.port) + kShutPath;
    for (const char* verb : verbs) {
        SCOPED_TRACE(verb);
        grvtest::RunOptions o;
        o.env = {"KRB5_CONFIG=" + kdc.krb5Conf, "KRB5CCNAME=" + cache};
        const grvtest::RunResult curl = grvtest::RunProgram({"curl", "-s", "-m", "10", "--negotiate", "-u", ":", "-X",
                                                             verb, "-o", "/dev/null", "-w", "%{http_code}", url},
                                                            o);
        ASSERT_EQ(curl.out, "403") << curl.err;
        credentials(grvtest::kPeerUser, grvtest::kPeerPassword);
        options.NegotiateAuth = 1;
        std::string body;
        std::uint32_t status = 0;
        Logger log;
        request("localhost", verb, body, status, log, kShutPath);
        EXPECT_EQ(std::to_string(status), curl.out) << logText(log);
        EXPECT_NE(logText(log).find("gssTarget: HTTP@localhost"), std::string::npos);
    }
}

} // namespace
