// Name resolution: the retry sequence, the threaded route and its cache, the
// test resolver hook, and lookups abandoned by their callers.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/core/Progress.h"
#include "netlib/transport/DnsCache.h"
#include "netlib/transport/HostnameResolve.h"
#include "platform/Winsock.h"

namespace {

// The core's types are moving into tessik; this finds them either way.
using namespace tessik;

using namespace std::chrono_literals;
using tessik::StringBuffer;

constexpr unsigned kHeartbeatMs = 20;

std::string logText(Logger& log) {
    StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Resolver : public ::testing::Test {
protected:
    void SetUp() override {
        tessik::dnsCacheResetForTests();
        platform::SetResolverHook([this](const std::string& host) {
            std::lock_guard<std::mutex> hold(lock);
            asked.push_back(host);
            if (delay.count() > 0) {
                std::this_thread::sleep_for(delay);
            }
            auto it = names.find(host);
            return it == names.end() ? std::string() : it->second;
        });
    }
    void TearDown() override { platform::SetResolverHook({}); }

    std::vector<std::string> askedNames() {
        std::lock_guard<std::mutex> hold(lock);
        return asked;
    }

    // Four-argument result of resolveHostIpv4 as text.
    std::string ipv4(const char* host, unsigned heartbeat, ProgressMonitor* pm, Logger& log, unsigned timeout = 0) {
        StringBuffer ip;
        std::uint32_t address = 0;
        bool aborted = false;
        bool timedOut = false;
        bool ok = tessik::resolveHostIpv4(host, timeout, heartbeat, log, pm, ip, &address, &aborted, &timedOut);
        return ok ? ip.getString() : std::string("failed");
    }

    std::mutex lock;
    std::vector<std::string> asked;
    std::map<std::string, std::string> names;
    std::chrono::milliseconds delay{0};
};

TEST_F(Resolver, RetriesCleanedAndThenWithWwwOnlyForOneDot) {
    names = {{"www.foo.example", "127.0.0.1"}};
    struct Case {
        const char* host;
        std::vector<std::string> asked;
        const char* result;
    };
    const Case cases[] = {
        {"Foo.Example ", {"Foo.Example", "foo.example", "www.foo.example"}, "127.0.0.1"},
        {"foo.example", {"foo.example", "www.foo.example"}, "127.0.0.1"},
        {"A.b.Example\t", {"A.b.Example", "a.b.example"}, "failed"},
        // The first lookup drops scheme and path; the cleaning only deletes bytes.
        {"http://foo.example/x", {"foo.example", "httpfoo.examplex", "www.httpfoo.examplex"}, "failed"},
    };
    for (const Case& c : cases) {
        asked.clear();
        Logger log;
        EXPECT_EQ(ipv4(c.host, 0, nullptr, log), c.result) << c.host;
        EXPECT_EQ(askedNames(), c.asked) << c.host;
    }
}

TEST_F(Resolver, HookMapsNamedHostsToLoopbackOnEveryRoute) {
    names = {{"bucket.store.example", "127.0.0.1"}, {"v6.example", "::1"}};
    ProgressMonitor pm(nullptr, 0);
    Logger direct, threaded;
    EXPECT_EQ(ipv4("bucket.store.example", 0, nullptr, direct), "127.0.0.1");
    EXPECT_EQ(ipv4("bucket.store.example", kHeartbeatMs, &pm, threaded), "127.0.0.1");

    for (unsigned heartbeat : {0u, kHeartbeatMs}) {
        tessik::HostnameResolveIpv6* r = new tessik::HostnameResolveIpv6;
        r->addRef();
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        bool aborted = false, timedOut = false;
        Logger log;
        ASSERT_TRUE(r->resolve("v6.example", 443, 0, heartbeat, log, &pm, &hints, &list, &aborted, &timedOut));
        r->release();
        ASSERT_NE(tessik::findAddrInfoIpv6(list), nullptr);
        EXPECT_EQ(tessik::findAddrInfoIpv4(list), nullptr);
        Logger listing;
        tessik::logAddrInfoList(list, listing);
        EXPECT_TRUE(contains(logText(listing), "ai_family: 23")) << logText(listing);
        platform::FreeAddrInfo(list);
    }
}

TEST_F(Resolver, ThreadedLookupOfLocalhostFillsThenHitsTheCache) {
    platform::SetResolverHook({}); // the machine's own resolver: "localhost" only
    ProgressMonitor pm(nullptr, 0);
    Logger first, second;
    EXPECT_EQ(ipv4("localhost", kHeartbeatMs, &pm, first), "127.0.0.1");
    EXPECT_FALSE(contains(logText(first), "dnsCacheHit")) << logText(first);
    EXPECT_EQ(ipv4("localhost", kHeartbeatMs, &pm, second), "127.0.0.1");
    EXPECT_TRUE(contains(logText(second), "dnsCacheHit")) << logText(second);
}

TEST_F(Resolver, HeartbeatZeroOrNoMonitorSkipsTheCache) {
    names = {{"cached.example", "127.0.0.1"}};
    tessik::dnsCacheInsert("cached.example", "10.9.8.7");
    ProgressMonitor pm(nullptr, 0);
    Logger direct, noMonitor, threaded;
    EXPECT_EQ(ipv4("cached.example", 0, &pm, direct), "127.0.0.1");
    EXPECT_EQ(ipv4("cached.example", kHeartbeatMs, nullptr, noMonitor), "127.0.0.1");
    EXPECT_FALSE(contains(logText(direct) + logText(noMonitor), "dnsCacheLookup"));
    EXPECT_EQ(ipv4("cached.example", kHeartbeatMs, &pm, threaded), "10.9.8.7");
}

TEST_F(Resolver, CacheRollsOverEvery800NamesAndForgetsAfterTwo) {
    auto name = [](int i) { return "n" + std::to_string(i) + ".example"; };
    for (int i = 0; i <= 2 * tessik::kDnsCacheRollover; ++i) {
        tessik::dnsCacheInsert(name(i).c_str(), "10.0.0.1");
        StringBuffer out;
        if (i == tessik::kDnsCacheRollover) {
            EXPECT_TRUE(tessik::dnsCacheLookup(name(0).c_str(), out)) << "one rollover old";
        }
    }
    StringBuffer out;
    EXPECT_FALSE(tessik::dnsCacheLookup(name(0).c_str(), out)) << "two rollovers old";
    EXPECT_TRUE(tessik::dnsCacheLookup(name(tessik::kDnsCacheRollover).c_str(), out));
    EXPECT_TRUE(tessik::dnsCacheLookup("192.0.2.7", out));
    EXPECT_STREQ(out.getString(), "192.0.2.7");
}

TEST_F(Resolver, TextLookupsForSocks4) {
    names = {{"svc.example", "127.0.0.1"}};
    struct Case {
        const char* host;
        bool numericAllowed;
        const char* result;
        const char* logged;
    };
    const Case cases[] = {
        {nullptr, false, "", "DNS lookup failed; hostname is NULL"},
        {"  ", false, "", "DNS lookup failed; hostname is empty"},
        {"LocalHost", false, "127.0.0.1", ""},
        {"10.0.0.1", false, "", tessik::kMsgIpPassedToDns},
        {" 10.0.0.1 ", true, "10.0.0.1", ""},
        {"svc.example", true, "127.0.0.1", ""},
        {"nowhere.example", false, "", tessik::kMsgDnsFailed},
    };
    for (const Case& c : cases) {
        Logger log;
        XString out;
        bool aborted = false, timedOut = false;
        bool ok = c.numericAllowed ? tessik::dnsLookupOrNumeric(c.host, 0, 0, log, nullptr, out, &aborted, &timedOut)
                                   : tessik::dnsLookupToIp(c.host, 0, 0, log, nullptr, out, &aborted, &timedOut);
        EXPECT_EQ(ok, *c.result != '\0') << (c.host ? c.host : "(null)");
        EXPECT_STREQ(out.getUtf8(), c.result);
        EXPECT_TRUE(contains(logText(log), c.logged)) << logText(log);
    }
}

TEST_F(Resolver, Ipv6LiteralsKeepTheirColonsOnTheAddressInfoRoute) {
    platform::SetResolverHook({});
    for (const char* host : {"::1", "[::1]:8443", "http://[::1]/path"}) {
        tessik::HostnameResolveIpv6* r = new tessik::HostnameResolveIpv6;
        r->addRef();
        addrinfo* list = nullptr;
        bool aborted = false, timedOut = false;
        Logger log;
        EXPECT_TRUE(r->resolve(host, 80, 0, 0, log, nullptr, nullptr, &list, &aborted, &timedOut)) << logText(log);
        r->release();
        EXPECT_NE(tessik::findAddrInfoIpv6(list), nullptr) << host;
        platform::FreeAddrInfo(list);
    }
    Logger log;
    EXPECT_EQ(ipv4("http:///only-a-path", 0, nullptr, log), "failed");
    EXPECT_TRUE(contains(logText(log), tessik::kMsgInvalidHostname));
}

class AbortAtOnce : public ProgressEvent {
public:
    void HeartbeatCheck(unsigned int, bool* abort) override { *abort = true; }
};

bool allLookupsEnded() {
    for (int i = 0; i < 500 && tessik::RefCountedObject::liveObjects() != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return tessik::RefCountedObject::liveObjects() == 0;
}

TEST_F(Resolver, AbandonedLookupsEndOnTheirOwnAndLeakNothing) {
    names = {{"slow.example", "127.0.0.1"}, {"www.slow.example", "127.0.0.1"}};
    delay = 300ms;
    ProgressMonitor patient(nullptr, 0);
    Logger timeoutLog;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ipv4("slow.example", 1, &patient, timeoutLog, 50), "failed");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_TRUE(contains(logText(timeoutLog), tessik::kMsgDnsTimedOut)) << logText(timeoutLog);

    AbortAtOnce sink;
    ProgressMonitor aborting(&sink, 0);
    Logger abortLog;
    EXPECT_EQ(ipv4("slow.example", 1, &aborting, abortLog), "failed");
    EXPECT_TRUE(contains(logText(abortLog), tessik::kMsgDnsAborted)) << logText(abortLog);

    tessik::HostnameResolveIpv6* r = new tessik::HostnameResolveIpv6;
    r->addRef();
    addrinfo* list = nullptr;
    bool aborted = false, timedOut = false;
    Logger log;
    EXPECT_FALSE(r->resolve("slow.example", 80, 30, 1, log, &patient, nullptr, &list, &aborted, &timedOut));
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(list, nullptr);
    r->release();
    // The workers finish after their callers left; the last release frees
    // each lookup, and its answer with it.
    EXPECT_TRUE(allLookupsEnded());
    StringBuffer cached;
    EXPECT_FALSE(tessik::dnsCacheLookup("slow.example", cached)) << "an abandoned answer is not cached";
}

} // namespace
