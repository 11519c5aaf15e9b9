// What kept-alive requests ask of the system, as strace sees it: every
// connection is made with TCP_NODELAY (a request's head and body go out in
// separate writes, and without it the second waits for the server's delayed
// acknowledgement), the socket's blocking mode is set only while it
// connects, never again between or during requests, the account database is
// read at most once however many public methods run, and a body sent from
// the caller's bytes after the head bounds what the kernel holds unsent
// (TCP_NOTSENT_LOWAT), once per connection.
//
// The requests run in a child: this executable again, under strace, running
// the disabled test below, which the suite itself never runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr int kRounds = 5;
constexpr const char* kPortsVariable = "GRV_TRACED_NGINX";

// The child's body: kRounds of each road, on one component, so that each
// kept-alive connection carries several requests.
void runRequests(int httpPort, int tlsPort) {
    installTextServices();
    ClsHttp http;
    http.options().UseIEProxy = 0;
    const std::string plain = "http://127.0.0.1:" + std::to_string(httpPort);
    const std::string tls = "https://127.0.0.1:" + std::to_string(tlsPort);
    DataBuffer body;
    body.append(std::string(1000, 'p').data(), 1000);
    // Too large to join the head: it follows it from where it lies.
    const std::string large(3 * http_req::kInlineBodyBytes, 'q');
    DataBuffer largeBody;
    largeBody.append(large.data(), static_cast<unsigned int>(large.size()));
    for (int i = 0; i < kRounds; ++i) {
        Logger log;
        XString url, type, reply;
        DataBuffer got;
        url.setFromUtf8((plain + "/").c_str());
        EXPECT_TRUE(http.QuickGet(url, got, false, nullptr, log)) << authtest::logText(log);
        url.setFromUtf8((plain + "/dav/entry.txt").c_str());
        type.setFromUtf8("text/plain");
        EXPECT_TRUE(http.PutBinary(url, body, type, false, false, reply, false, nullptr, log))
            << authtest::logText(log);
        url.setFromUtf8((plain + "/dav/large.bin").c_str());
        EXPECT_TRUE(http.PutBinary(url, largeBody, type, false, false, reply, false, nullptr, log))
            << authtest::logText(log);
        url.setFromUtf8((tls + "/").c_str());
        EXPECT_TRUE(http.QuickGet(url, got, false, nullptr, log)) << authtest::logText(log);
        ClsHttpRequest request;
        request.setPath("/");
        std::unique_ptr<ClsHttpResponse> response(
            http.SynchronousRequest("127.0.0.1", tlsPort, true, request, nullptr));
        EXPECT_NE(response, nullptr);
    }
}

} // namespace

TEST(SocketCalls, DISABLED_TracedChild) {
    const char* ports = std::getenv(kPortsVariable);
    ASSERT_NE(ports, nullptr);
    int httpPort = 0, tlsPort = 0;
    std::istringstream(ports) >> httpPort >> tlsPort;
    runRequests(httpPort, tlsPort);
}

TEST(SocketCalls, NoDelayOnEveryConnectionAndNoModeChangesBetweenRequests) {
    grvtest::LoopbackPeers peers;
    // The child verifies nginx's certificate through the same home.
    peers.TrustCertificate();
    const grvtest::NginxPeer nginx = peers.StartNginx();
    grvtest::TempDir dir;
    const std::string trace = dir.File("trace");
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    grvtest::RunOptions options;
    // LeakSanitizer cannot run under a tracer.
    options.env = {std::string(kPortsVariable) + "=" + std::to_string(nginx.httpPort) + " " +
                       std::to_string(nginx.tlsPort),
                   "ASAN_OPTIONS=detect_leaks=0"};
    const grvtest::RunResult child =
        grvtest::RunProgram({"strace", "-f", "-qq", "-e", "trace=connect,setsockopt,fcntl,openat", "-o", trace, self,
                             "--gtest_also_run_disabled_tests", "--gtest_filter=SocketCalls.DISABLED_TracedChild"},
                            options);
    ASSERT_TRUE(child.Ok()) << child.out << child.err;
    ASSERT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;

    // Per traced line: connects to nginx, TCP_NODELAY set, mode changes and
    // opens of the account database, each by descriptor where it has one.
    const std::regex connect(R"(connect\((\d+), \{sa_family=AF_INET, sin_port=htons\((\d+)\))");
    const std::regex noDelay(R"(setsockopt\((\d+), SOL_TCP, TCP_NODELAY, \[1\], 4\) = 0)");
    const std::regex setMode(R"(fcntl\((\d+), F_SETFL, )");
    const std::regex unsentLimit(R"(setsockopt\((\d+), SOL_TCP, TCP_NOTSENT_LOWAT, \[(\d+)\], 4\) = 0)");
    std::set<std::string> noDelayFds, plainFds;
    int connects = 0, plainConnects = 0, connectsWithoutNoDelay = 0, modeChanges = 0, passwdOpens = 0;
    int unsentLimits = 0, unsentLimitsElsewhere = 0;
    std::istringstream lines(grvtest::ReadFile(trace));
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, noDelay)) {
            noDelayFds.insert(m[1]);
        } else if (std::regex_search(line, m, unsentLimit)) {
            if (plainFds.count(m[1]) != 0 && std::stoul(m[2]) == http_conn::kBodyUnsentBytes)
                ++unsentLimits;
            else
                ++unsentLimitsElsewhere;
        } else if (std::regex_search(line, m, connect)) {
            const int port = std::stoi(m[2]);
            if (port != nginx.httpPort && port != nginx.tlsPort)
                continue;
            ++connects;
            if (port == nginx.httpPort) {
                ++plainConnects;
                plainFds.insert(m[1]);
            } else {
                plainFds.erase(m[1]);
            }
            if (noDelayFds.count(m[1]) == 0)
                ++connectsWithoutNoDelay;
            // The next socket on this number sets it anew.
            noDelayFds.erase(m[1]);
        } else if (std::regex_search(line, m, setMode)) {
            ++modeChanges;
        } else if (line.find("\"/etc/passwd\"") != std::string::npos) {
            ++passwdOpens;
        }
    }
    // Kept alive: a connection or two per road, not one per request.
    EXPECT_GE(connects, 2);
    EXPECT_LE(connects, 2 * 4) << connects;
    EXPECT_EQ(connectsWithoutNoDelay, 0) << "of " << connects;
    // On and off around each connect, and nothing else.
    EXPECT_LE(modeChanges, 2 * connects);
    EXPECT_LE(passwdOpens, 1);
    // The bound on the plain connection that carried the large bodies, set
    // when first needed and kept: not once per request.
    EXPECT_GE(unsentLimits, 1);
    EXPECT_LE(unsentLimits, plainConnects) << "of " << plainConnects;
    EXPECT_EQ(unsentLimitsElsewhere, 0);
}
