// The connection pool against nginx, judged by nginx's own access log
// ($server_addr $connection $connection_requests $status $request): reuse,
// least-recently-used eviction over eleven loopback hosts, reconnecting
// after "Connection: close" and after nginx's keep-alive time-out.
#include <gtest/gtest.h>

#include <chrono>
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
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

class ConnPool : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        options.UseIEProxy = 0;
    }

    void Get(const std::string& host, const char* connectionField = nullptr) {
        HttpRequest request;
        if (connectionField != nullptr)
            request.setHeader("Connection", connectionField);
        HttpResult result;
        DataBuffer body;
        Logger log;
        ASSERT_TRUE(pool.synchronousRequest(options, host.c_str(), tls ? nginx.tlsPort : nginx.httpPort, tls, request,
                                            result, body, log, nullptr, false))
            << host;
        EXPECT_EQ(result.responseHeader.getStatusCode(), 200u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.getData()), body.getSize()), "hello\n");
    }

    std::vector<std::string> PoolHosts() const {
        std::vector<std::string> hosts;
        for (int i = 0; i < pool.getCount(); ++i)
            hosts.push_back(pool.clientAt(i)->recordedHost().getString());
        return hosts;
    }

    HttpControl options;
    HttpConnPool pool;
    grvtest::NginxPeer nginx;
    bool tls = false;
};

std::string Host(int n) {
    return "127.0.0." + std::to_string(n);
}

} // namespace

TEST_F(ConnPool, ElevenHostsEvictTheLeastRecentlyUsed) {
    grvtest::NginxOptions opts;
    opts.loopbackHosts = 11;
    nginx = peers.StartNginx(opts);
    for (int n = 1; n <= 10; ++n)
        Get(Host(n));
    Get(Host(1)); // most recent again
    Get(Host(11));
    std::vector<std::string> want;
    for (int n = 3; n <= 10; ++n)
        want.push_back(Host(n));
    want.push_back(Host(1));
    want.push_back(Host(11));
    EXPECT_EQ(PoolHosts(), want);
    Get(Host(2)); // evicted: a new connection, and 127.0.0.3 goes
    Get(Host(1));

    const std::vector<grvtest::NginxAccessLine> lines = grvtest::NginxAccessLog(nginx, 14);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[10].serverAddr, Host(1));
    EXPECT_EQ(lines[10].connection, lines[0].connection);
    EXPECT_EQ(lines[10].requests, 2);
    EXPECT_EQ(lines[12].serverAddr, Host(2));
    EXPECT_NE(lines[12].connection, lines[1].connection);
    EXPECT_EQ(lines[12].requests, 1);
    EXPECT_EQ(lines[13].connection, lines[0].connection);
    EXPECT_EQ(lines[13].requests, 3);
    EXPECT_EQ(pool.getCount(), 10);
}

// Plain and over TLS 1.0: the same connections, as nginx counts them.
TEST_F(ConnPool, ReconnectsAfterCloseAndAfterTheKeepAliveTimeOut) {
    peers.TrustCertificate();
    grvtest::NginxOptions opts;
    opts.keepaliveTimeoutSec = 1;
    nginx = peers.StartNginx(opts);
    for (bool overTls : {false, true}) {
        SCOPED_TRACE(overTls ? "TLS" : "plain");
        tls = overTls;
        Get("127.0.0.1");
        Get("127.0.0.1");
        Get("127.0.0.1", "close"); // nginx answers "Connection: close"
        Get("127.0.0.1");
        std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // nginx drops the idle connection
        Get("127.0.0.1");
        Get("127.0.0.1");
    }

    const std::vector<grvtest::NginxAccessLine> all = grvtest::NginxAccessLog(nginx, 12);
    ASSERT_EQ(all.size(), 12u);
    for (std::size_t half = 0; half < 2; ++half) {
        const std::vector<grvtest::NginxAccessLine> lines(all.begin() + 6 * half, all.begin() + 6 * half + 6);
        const long expectedRequests[] = {1, 2, 3, 1, 1, 2};
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].requests, expectedRequests[i]) << half << " " << i;
        EXPECT_EQ(lines[2].connection, lines[0].connection);
        EXPECT_NE(lines[3].connection, lines[2].connection);
        EXPECT_NE(lines[4].connection, lines[3].connection);
    }
    EXPECT_EQ(pool.getCount(), 2); // one connection for each port
}
