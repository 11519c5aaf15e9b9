// The engine's use of the response caches: how long a response stays fresh
// (under two time zones, on an injected clock), what is stored and what is
// not, lookups, nginx's 304 to an ETag revalidation, max-age on the GET
// road, the bucket cache's store and its "dns://" entries for hosts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/CacheTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cachetest::LogText;
using cachetest::Reader;

namespace {

constexpr const char* kUrl = "http://cache.example/page";
constexpr std::int64_t kDay = 86400;

std::string fields(const SysTimeValue& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// A result whose head is the status line and the fields given.
void parseHead(HttpResult& result, const std::string& status, const std::string& headerFields) {
    LogNull quiet;
    const std::string head = status + "\r\n" + headerFields + (headerFields.empty() ? "" : "\r\n") + "\r\n";
    result.responseHeader.parse(head.c_str(), quiet);
}

TEST(CacheExpiry, FromTheResponseFieldsTheSameInstantInEveryZone) {
    struct Case {
        const char* fields;
        std::int64_t seconds; // from now
        std::uint32_t defaultMinutes = 10080;
        std::uint32_t algorithm = 1;
        std::uint32_t lmPercent = 25;
    };
    // Now is 2012-07-15 10:00:00 UTC.
    const Case cases[] = {
        {"Cache-Control: public, max-age=60", 60},
        {"Cache-Control: no-transform, max-age=3600, must-revalidate", 3600},
        {"Cache-Control: private, MAX-AGE = \"120\"", 120},
        {"Cache-Control: ext=\"a, max-age=5\", max-age=90", 90},
        {"Cache-Control: public\r\nCache-Control: max-age=30", 30},
        {"Expires: Sun, 15 Jul 2012 11:00:00 GMT", 3600},
        {"Expires: Sun, 15 Jul 2012 12:00:00 +0100", 3600},
        // max-age wins over Expires.
        {"Expires: Sun, 15 Jul 2012 11:00:00 GMT\r\nCache-Control: max-age=60", 60},
        // An Expires that is no date is already past.
        {"Expires: -1\r\nLast-Modified: Sun, 15 Jul 2012 06:00:00 GMT", 0},
        {"Last-Modified: Sun, 15 Jul 2012 06:00:00 GMT", 3600},
        {"Last-Modified: Sun, 15 Jul 2012 06:00:00 GMT", 7200, 10080, 1, 50},
        {"Last-Modified: Sun, 15 Jul 2012 06:00:00 GMT", 7 * kDay, 10080, 0},
        {"Last-Modified: Sun, 15 Jul 2012 12:00:00 GMT", 7 * kDay},
        {"Cache-Control: max-age=abc", 7 * kDay},
        {"", 7 * kDay},
        {"", 600, 5},
        {"", 600, 0},
        {"", 3 * 3600, 180},
    };
    for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
        grvtest::ScopedTimeZone tz(zone);
        grvtest::ScopedClock clock(2012, 7, 15, 10, 0, 0);
        std::vector<std::string> args{"local-of", zone};
        std::vector<std::string> ours;
        for (const Case& c : cases) {
            HttpControl options;
            options.cacheControl.defaultFreshPeriod = c.defaultMinutes;
            options.cacheControl.freshnessAlgorithm = c.algorithm;
            options.cacheControl.lmFactor = c.lmPercent;
            HttpResult result;
            parseHead(result, "HTTP/1.1 200 OK", c.fields);
            SysTimeValue expiry;
            HttpClient::computeCacheExpiry(options, result.responseHeader, expiry);
            EXPECT_EQ(expiry.isLocal, 1);
            ours.push_back(fields(expiry));
            args.push_back(std::to_string(clock.UnixTime() + c.seconds));
        }
        const std::vector<std::string> theirs = cachetest::Lines(Reader(args));
        ASSERT_EQ(theirs.size(), ours.size());
        for (std::size_t i = 0; i < ours.size(); ++i)
            EXPECT_EQ(ours[i], theirs[i]) << zone << ": " << cases[i].fields;
    }
}

class ResponseStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(options.cache.AddRoot(dir.Path().c_str())); }

    // Stores a response with the head given; whether it was stored, and
    // the log.
    bool store(const std::string& status, const std::string& headerFields, std::string* logText = nullptr,
               const std::string& body = "the body") {
        HttpResult result;
        parseHead(result, status, headerFields);
        DataBuffer data;
        data.append(body.data(), static_cast<unsigned int>(body.size()));
        Logger log;
        LogNull quiet;
        options.cache.updateExpiration(kUrl, SysTimeValue(), quiet); // nothing there yet
        const std::string before = grvtest::FileExists(path()) ? grvtest::ReadFile(path()) : "";
        HttpClient::updateCacheFromResponse(options, result, data, kUrl, log);
        if (logText != nullptr)
            *logText = LogText(log);
        const bool stored = grvtest::FileExists(path()) && grvtest::ReadFile(path()) != before;
        std::remove(path().c_str());
        return stored;
    }

    // Looks kUrl up: what the output got; the log goes to logText.
    // What an expired lookup leaves for a revalidation.
    struct Expired {
        bool expired = false;
        StringBuffer etag, lastModified;
    };
    std::string lookup(HttpResult& result, Expired& reval, std::string& logText, bool toFile = false) {
        DataBuffer got;
        OutputDataBuffer memory(&got);
        Output discard; // holds nothing, as a file output
        Logger log;
        HttpClient::lookupCache(kUrl, options, toFile ? discard : static_cast<Output&>(memory), result, reval.expired,
                                reval.etag, reval.lastModified, log);
        logText = LogText(log);
        return cachetest::Text(got);
    }

    std::string path() {
        StringBuffer p;
        options.cache.resourceToFilename(kUrl, p);
        return p.getString();
    }

    grvtest::TempDir dir;
    HttpControl options;
};

TEST_F(ResponseStore, CacheControlIsReadDirectiveByDirective) {
    struct Case {
        const char* status;
        const char* fields;
        bool stored;
        const char* says; // in the log, or nothing
        bool ignoreNoCache = false;
    };
    const char* directive = cache_msg::kNotStoredDirective;
    const Case cases[] = {
        {"HTTP/1.1 200 OK", "Content-Type: text/plain", true, cache_msg::kUpdated},
        {"HTTP/1.1 200 OK", "Cache-Control: no-store", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: public, no-store", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: no-cache, no-store", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: No-Cache", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: Private, Max-Age=0", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: public,max-age=0", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: s-maxage=0", false, directive},
        {"HTTP/1.1 200 OK", "Cache-Control: private", true, cache_msg::kUpdated},
        {"HTTP/1.1 200 OK", "Cache-Control: ext=\"a, no-store\"", true, cache_msg::kUpdated},
        {"HTTP/1.1 200 OK", "Pragma: no-cache", false, cache_msg::kNotStoredPragma},
        {"HTTP/1.1 200 OK", "Expires: 0", false, cache_msg::kNotStoredExpires0},
        {"HTTP/1.1 200 OK", "Expires: -1", false, cache_msg::kNotStoredExpires0},
        {"HTTP/1.1 200 OK", "Expires: -1\r\nCache-Control: max-age=60", true, cache_msg::kUpdated},
        {"HTTP/1.1 200 OK", "Cache-Control: no-cache\r\nPragma: no-cache\r\nExpires: 0", true, cache_msg::kUpdated,
         true},
        // no-store is kept nowhere, whatever the settings say.
        {"HTTP/1.1 200 OK", "Cache-Control: no-store", false, directive, true},
        {"HTTP/1.1 304 Not Modified", "", false, cache_msg::kNotStoredStatus},
        {"HTTP/1.1 404 Not Found", "", false, "statusCode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.status) + " / " + c.fields);
        options.cacheControl.ignoreNoCache = c.ignoreNoCache ? 1 : 0;
        std::string log;
        EXPECT_EQ(store(c.status, c.fields, &log), c.stored);
        EXPECT_TRUE(contains(log, c.says)) << log;
        // A 304 is not stored, and not reported as a status either.
        if (std::string(c.status).find("304") != std::string::npos) {
            EXPECT_FALSE(contains(log, "statusCode")) << log;
        }
    }
}

TEST_F(ResponseStore, NothingIsStoredWithoutUpdateCacheOrARoot) {
    options.cacheControl.updateCache = 0;
    std::string log;
    EXPECT_FALSE(store("HTTP/1.1 200 OK", "", &log));
    Logger empty;
    EXPECT_EQ(log, LogText(empty));
    HttpControl rootless;
    HttpResult result;
    parseHead(result, "HTTP/1.1 200 OK", "");
    DataBuffer body;
    Logger quietLog;
    HttpClient::updateCacheFromResponse(rootless, result, body, kUrl, quietLog);
    EXPECT_FALSE(contains(LogText(quietLog), cache_msg::kNotUpdated)) << LogText(quietLog);
    EXPECT_FALSE(contains(LogText(quietLog), cache_msg::kNoRoots)) << LogText(quietLog);
}

TEST_F(ResponseStore, StoredResponsesAreFoundFreshThenExpired) {
    grvtest::ScopedTimeZone tz("America/New_York");
    grvtest::ScopedClock clock(2012, 7, 15, 10, 0, 0);
    HttpResult stored;
    parseHead(stored, "HTTP/1.1 200 OK",
              "ETag: \"abc\"\r\nLast-Modified: Sun, 15 Jul 2012 06:00:00 GMT\r\nCache-Control: max-age=60");
    // Bodies shorter than the body offset itself are answers too.
    for (const std::string& body : {std::string("the cached body"), std::string(""), std::string("ok")}) {
        SCOPED_TRACE("body '" + body + "'");
        DataBuffer data;
        data.append(body.data(), static_cast<unsigned int>(body.size()));
        Logger log;
        HttpClient::updateCacheFromResponse(options, stored, data, kUrl, log);
        ASSERT_TRUE(contains(LogText(log), cache_msg::kUpdated)) << LogText(log);
        // The python reader sees the whole head and body, and the expiry in
        // local time.
        const std::string line = Reader({"dat", path()});
        EXPECT_TRUE(contains(line, "expiry=2012-07-15 06:01:00 etag=\"abc\"")) << line;
        EXPECT_TRUE(contains(line, (" body=" + grvtest::ToHex(body)).c_str())) << line;

        HttpResult result;
        Expired reval;
        std::string lookupLog;
        EXPECT_EQ(lookup(result, reval, lookupLog), body);
        EXPECT_EQ(result.cacheState, 1u);
        EXPECT_FALSE(reval.expired);
        EXPECT_EQ(result.responseHeader.getStatusCode(), 200u);
        StringBuffer etag;
        result.responseHeader.getField("ETag", etag);
        EXPECT_STREQ(etag.getString(), "\"abc\"");
        EXPECT_TRUE(contains(lookupLog, cache_msg::kHit));

        clock.Advance(60);
        HttpResult expired;
        std::string expiredLog;
        EXPECT_EQ(lookup(expired, reval, expiredLog), body);
        EXPECT_EQ(expired.cacheState, 1u);
        EXPECT_TRUE(reval.expired);
        EXPECT_STREQ(reval.etag.getString(), "\"abc\"");
        EXPECT_STREQ(reval.lastModified.getString(), "Sun, 15 Jul 2012 06:00:00 GMT");
        // A file output could not give an expired copy back: a miss.
        HttpResult toFile;
        Expired none;
        std::string fileLog;
        lookup(toFile, none, fileLog, true);
        EXPECT_EQ(toFile.cacheState, 0u);
        EXPECT_FALSE(none.expired);
        clock.Advance(-60);
        EXPECT_TRUE(contains(expiredLog, cache_msg::kExpired));
        EXPECT_TRUE(contains(expiredLog, "ExpiredEtag"));
    }
}

TEST_F(ResponseStore, DamagedOrShortEntriesAreMisses) {
    struct Case {
        std::string data; // the cached data, behind a good file header
        const char* says; // nothing, or the error
    };
    DataBuffer good;
    cachetest::CachedResponse("HTTP/1.1 200 OK\r\n", "body", good);
    const std::string whole = cachetest::Text(good);
    std::string beyond = whole, negative = whole, inside = whole, noHead = whole;
    platform::StoreLe32(&beyond[0], static_cast<std::uint32_t>(whole.size() + 1));
    platform::StoreLe32(&negative[0], 0xFFFFFFF0u);
    platform::StoreLe32(&inside[0], 3);
    noHead.replace(4, 8, "GARBAGE!");
    const Case cases[] = {
        {whole.substr(0, 20), ""},         {std::string(20, 'x'), ""},      {beyond, cache_msg::kBadOffset},
        {negative, cache_msg::kBadOffset}, {inside, cache_msg::kBadOffset}, {noHead, cache_msg::kBadCachedHead},
    };
    for (const Case& c : cases) {
        DataBuffer data;
        data.append(c.data.data(), static_cast<unsigned int>(c.data.size()));
        Logger log;
        ASSERT_TRUE(options.cache.SaveToCache2(kUrl, SysTimeValue(), "", data, log));
        HttpResult result;
        Expired reval;
        std::string text;
        EXPECT_EQ(lookup(result, reval, text), "");
        EXPECT_EQ(result.cacheState, 0u);
        if (*c.says == '\0')
            EXPECT_FALSE(contains(text, "rror")) << text;
        else
            EXPECT_TRUE(contains(text, c.says)) << text;
    }
}

// A bucket entry that can no longer be read is replaced by the next answer,
// not left in front of it for every lookup to stop at.
TEST_F(ResponseStore, ADamagedBucketEntryIsReplacedByTheNextAnswer) {
    ASSERT_TRUE(options.bucketCache.addRoot(dir.Path().c_str()));
    options.useBucketCache = 1;
    StringBuffer caf;
    ASSERT_TRUE(options.bucketCache.getBucketPath(kUrl, caf));
    Logger log;
    const auto storeBody = [&](const std::string& body) {
        HttpResult result;
        parseHead(result, "HTTP/1.1 200 OK", "");
        DataBuffer data;
        data.append(body.data(), static_cast<unsigned int>(body.size()));
        HttpClient::storeInBucketCache(options, result, data, kUrl, log);
    };
    storeBody("first body");
    // The data CRC of the only entry.
    std::string bytes = grvtest::ReadFile(caf.getString());
    ASSERT_GT(bytes.size(), cache_fmt::kCafFirstEntry + 8u);
    bytes[cache_fmt::kCafFirstEntry + 4] ^= 0x55;
    ASSERT_TRUE(grvtest::WriteFile(caf.getString(), bytes));
    EXPECT_FALSE(HttpClient::isUrlCached(kUrl, options, log));

    storeBody("second body");
    bool withoutContent = false;
    CacheEntryInfo info;
    std::unique_ptr<CacheEntry> entry(options.bucketCache.getEntry(kUrl, withoutContent, info, log));
    ASSERT_NE(entry, nullptr) << LogText(log);
    EXPECT_EQ(cachetest::Text(entry->data()), "second body");
    EXPECT_EQ(cachetest::Lines(Reader({"caf", caf.getString()}))[0],
              "capacity=10 count=1 unused-zero=1 first=88 contiguous=1");
}

// nginx's access log: "status request" per line, once count lines are in.
std::vector<std::string> accessLog(const grvtest::NginxPeer& nginx, std::size_t count) {
    const auto text = grvtest::WaitFor(
        [&] { return grvtest::ReadFile(nginx.accessLog); },
        [&](const std::string& t) { return static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n')) >= count; });
    EXPECT_TRUE(text.met) << text.seen;
    std::vector<std::string> lines;
    std::istringstream in(text.seen);
    std::string addr, connection, requests, rest;
    while (in >> addr >> connection >> requests && std::getline(in, rest))
        lines.push_back(rest.substr(1));
    return lines;
}

class CachedGets : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        http.options().UseIEProxy = 0;
    }

    // GET url on the pool: the body, or "failed".
    std::string Get(const std::string& url, HttpResult& result, Logger& log) {
        DataBuffer body;
        if (!http.pool().quickRequest(url.c_str(), http.options(), body, result, log, nullptr, false))
            return "failed";
        return cachetest::Text(body);
    }

    grvtest::TempDir dir;
    ClsHttp http;
};

TEST_F(CachedGets, NginxAnswersTheEtagRevalidationWith304) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpControl& options = http.options();
    ASSERT_TRUE(options.cache.AddRoot(dir.Path().c_str()));
    const std::string file = nginx.docRoot + "/cached.txt";
    ASSERT_TRUE(grvtest::WriteFile(file, "version one\n"));
    // Modified four hours ago: fresh for an hour by the Last-Modified rule.
    const std::int64_t now = std::time(nullptr);
    const utimbuf times{static_cast<time_t>(now - 4 * 3600), static_cast<time_t>(now - 4 * 3600)};
    ASSERT_EQ(utime(file.c_str(), &times), 0);
    grvtest::ScopedTimeZone tz("Europe/Berlin");
    grvtest::ScopedClock clock(now);
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/cached.txt";
    StringBuffer datPath;
    ASSERT_TRUE(options.cache.GetFilename(url.c_str(), datPath));
    auto expiryOf = [&] {
        const std::string line = Reader({"dat", datPath.getString()});
        const std::size_t at = line.find("expiry=");
        return at == std::string::npos ? line : line.substr(at + 7, 19);
    };
    auto localIn = [&](std::int64_t seconds) {
        return Reader({"local-of", "Europe/Berlin", std::to_string(now + seconds)});
    };

    HttpResult result;
    Logger log;
    EXPECT_EQ(Get(url, result, log), "version one\n") << LogText(log);
    EXPECT_FALSE(result.fromCache);
    StringBuffer etag;
    ASSERT_TRUE(result.responseHeader.getField("ETag", etag));
    EXPECT_EQ(expiryOf(), localIn(3600));
    EXPECT_TRUE(contains(Reader({"dat", datPath.getString()}), (std::string("etag=") + etag.getString()).c_str()));

    // Fresh: answered without asking.
    HttpResult second;
    EXPECT_EQ(Get(url, second, log), "version one\n");
    EXPECT_TRUE(second.fromCache);
    EXPECT_EQ(second.responseHeader.getStatusCode(), 200u);

    // Two hours on it has expired: the server says 304 to its ETag, the
    // kept body comes back with a new expiry (now six hours old: 1.5 hours).
    clock.Advance(2 * 3600);
    HttpResult third;
    Logger revalidation;
    EXPECT_EQ(Get(url, third, revalidation), "version one\n") << LogText(revalidation);
    EXPECT_TRUE(third.fromCache);
    EXPECT_EQ(third.responseHeader.getStatusCode(), 200u);
    EXPECT_TRUE(
        contains(third.requestHeaderText.getString(), (std::string("If-None-Match: ") + etag.getString()).c_str()))
        << third.requestHeaderText.getString();
    EXPECT_TRUE(contains(LogText(revalidation), cache_msg::kUpdatingExpiration));
    EXPECT_EQ(expiryOf(), localIn(2 * 3600 + 6 * 3600 / 4));

    // Changed on the server: expired again, the new version comes and is kept.
    ASSERT_TRUE(grvtest::WriteFile(file, "version two, longer\n"));
    clock.Advance(2 * 3600);
    HttpResult fourth;
    EXPECT_EQ(Get(url, fourth, log), "version two, longer\n");
    EXPECT_FALSE(fourth.fromCache);
    HttpResult fifth;
    EXPECT_EQ(Get(url, fifth, log), "version two, longer\n");
    EXPECT_TRUE(fifth.fromCache);

    const std::vector<std::string> lines = accessLog(nginx, 3);
    const std::vector<std::string> want = {"200 GET /cached.txt HTTP/1.1", "304 GET /cached.txt HTTP/1.1",
                                           "200 GET /cached.txt HTTP/1.1"};
    EXPECT_EQ(lines, want);
}

TEST_F(CachedGets, MaxAgeSixtyIsFreshForSixtySecondsAndOnlyForAWholeGet) {
    const int port = peers.StartCaptureServer(
        "HTTP/1.1 200 OK\r\nCache-Control: public, max-age=60\r\nETag: \"v1\"\r\nContent-Length: 6\r\n\r\nfresh\n");
    HttpControl& options = http.options();
    ASSERT_TRUE(options.cache.AddRoot(dir.Path().c_str()));
    grvtest::ScopedClock clock(2012, 7, 15, 10, 0, 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/item";
    Logger log;
    HttpResult result;
    EXPECT_EQ(Get(url, result, log), "fresh\n") << LogText(log);
    clock.Advance(59);
    EXPECT_EQ(Get(url, result, log), "fresh\n");
    EXPECT_TRUE(result.fromCache);
    EXPECT_EQ(peers.CapturedRequests(port).size(), 1u);
    clock.Advance(1);
    EXPECT_EQ(Get(url, result, log), "fresh\n");
    EXPECT_FALSE(result.fromCache); // the server answered 200 again
    std::vector<std::string> requests = peers.CapturedRequests(port, 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(contains(requests[0], "If-None-Match"));
    EXPECT_TRUE(contains(requests[1], "If-None-Match: \"v1\"\r\n")) << requests[1];

    // A fresh copy answers a GET only: another method goes to the server.
    options.HttpMethod.setString("HEAD");
    EXPECT_NE(Get(url, result, log), "failed");
    options.HttpMethod.setString("GET");
    // So does a GET for a part (a resumed download).
    options.ResumePoint = 3;
    Get(url, result, log);
    options.ResumePoint = 0;
    requests = peers.CapturedRequests(port, 4);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].substr(0, 10), "HEAD /item");
    EXPECT_TRUE(contains(requests[3], "Range: bytes=3-\r\n")) << requests[3];
}

TEST_F(CachedGets, TheBucketCacheKeepsResponsesAndHosts) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpControl& options = http.options();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    Logger log;
    HttpResult result;

    // Without a root nothing reaches it, and nothing is cached.
    options.useBucketCache = 1;
    EXPECT_EQ(Get(base + "/", result, log), "hello\n");
    EXPECT_FALSE(HttpClient::isUrlCached((base + "/").c_str(), options, log));

    ASSERT_TRUE(options.bucketCache.addRoot(dir.Path().c_str()));
    grvtest::ScopedClock clock(std::time(nullptr));
    for (const char* path : {"/", "/empty404"}) {
        const std::string url = base + path;
        SCOPED_TRACE(url);
        Get(url, result, log);
        EXPECT_TRUE(HttpClient::isUrlCached(url.c_str(), options, log));
        StringBuffer caf;
        ASSERT_TRUE(options.bucketCache.getBucketPath(url.c_str(), caf));
        const std::vector<std::string> lines = cachetest::Lines(Reader({"caf", caf.getString()}));
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "capacity=10 count=1 unused-zero=1 first=88 contiguous=1");
        const std::string status = path[1] == '\0' ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
        EXPECT_TRUE(contains(lines[1], (" count=0 flags=2 extra=0,0 tag=ed94b74b ")));
        EXPECT_TRUE(contains(lines[1], (" head=" + grvtest::ToHex(status)).c_str())) << lines[1];
        // Served from it the second time.
        HttpResult again;
        Get(url, again, log);
        EXPECT_TRUE(again.fromCache);
        EXPECT_EQ(again.responseHeader.getStatusCode(), path[1] == '\0' ? 200u : 404u);
    }
    // A redirect is kept too, and followed when it answers from the cache.
    HttpResult moved;
    EXPECT_EQ(Get(base + "/moved", moved, log), "hello\n");
    EXPECT_TRUE(HttpClient::isUrlCached((base + "/moved").c_str(), options, log));
    HttpResult movedAgain;
    EXPECT_EQ(Get(base + "/moved", movedAgain, log), "hello\n");
    EXPECT_TRUE(movedAgain.fromCache);
    EXPECT_EQ(movedAgain.responseHeader.getStatusCode(), 200u);
    // Before the root, then once each: the redirect's own target came from
    // the cache already.
    const std::vector<std::string> lines = accessLog(nginx, 4);
    const std::vector<std::string> want = {"200 GET / HTTP/1.1", "200 GET / HTTP/1.1", "404 GET /empty404 HTTP/1.1",
                                           "302 GET /moved HTTP/1.1"};
    EXPECT_EQ(lines, want);

    // Statuses from 200 to 499 are stored, none else.
    for (const int status : {199, 200, 302, 404, 499, 500, 503}) {
        const std::string url = base + "/status/" + std::to_string(status);
        HttpResult answer;
        parseHead(answer, "HTTP/1.1 " + std::to_string(status) + " X", "");
        DataBuffer body;
        HttpClient::storeInBucketCache(options, answer, body, url.c_str(), log);
        EXPECT_EQ(HttpClient::isUrlCached(url.c_str(), options, log), status >= 200 && status <= 499) << status;
    }

    // A failed response is a negative entry: reported on lookup, replaced
    // by the next good answer.
    const std::string failing = base + "/";
    HttpResult failed;
    parseHead(failed, "HTTP/1.1 200 OK", "X-Failed: yes");
    HttpClient().recordFailedResponse(failing.c_str(), options, failed.responseHeader, nullptr, log);
    Logger negativeLog;
    HttpResult afterFailure;
    EXPECT_EQ(Get(failing, afterFailure, negativeLog), "hello\n");
    EXPECT_TRUE(contains(LogText(negativeLog), cache_msg::kNegativeEntry));
    EXPECT_FALSE(afterFailure.fromCache);
    HttpResult served;
    EXPECT_EQ(Get(failing, served, log), "hello\n");
    EXPECT_TRUE(served.fromCache);
}

TEST_F(CachedGets, HostsWhoseNameFailedAreRefusedUntilTheyResolve) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    HttpControl& options = http.options();
    options.useBucketCache = 1;
    options.ConnectTimeoutSec = 5;
    ASSERT_TRUE(options.bucketCache.addRoot(dir.Path().c_str()));
    Logger log;
    HttpResult result;
    bool negative = false;

    // A name that does not resolve gets a negative entry, and is refused.
    const char* nowhere = "grv-no-such-host.invalid";
    EXPECT_EQ(Get(std::string("http://") + nowhere + "/", result, log), "failed");
    EXPECT_TRUE(options.bucketCache.isDomainNegative(nowhere, negative, log));
    EXPECT_TRUE(negative);
    Logger refused;
    EXPECT_EQ(Get(std::string("http://") + nowhere + "/", result, refused), "failed");
    EXPECT_TRUE(contains(LogText(refused), cache_msg::kDomainInvalid)) << LogText(refused);
    EXPECT_FALSE(contains(LogText(refused), "Domain name lookup failed")) << LogText(refused);

    // A connect that fails although the name resolved clears the mark.
    options.bucketCache.setDomainInvalid("localhost", log);
    options.cacheControl.checkDomainCache = 0;
    const grvtest::ClosedLoopbackPort nothingListens;
    EXPECT_EQ(Get("http://localhost:" + std::to_string(nothingListens.port()) + "/", result, log), "failed");
    EXPECT_TRUE(options.bucketCache.isDomainNegative("localhost", negative, log));
    EXPECT_FALSE(negative);

    // So does a good connect to a host marked invalid.
    options.bucketCache.setDomainInvalid("127.0.0.1", log);
    EXPECT_EQ(Get("http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/", result, log), "hello\n");
    EXPECT_TRUE(options.bucketCache.isDomainNegative("127.0.0.1", negative, log));
    EXPECT_FALSE(negative);

    // With the bucket cache off, nothing is written there at all.
    grvtest::TempDir other;
    HttpControl plain;
    plain.UseIEProxy = 0;
    ASSERT_TRUE(plain.bucketCache.addRoot(other.Path().c_str()));
    ASSERT_TRUE(plain.cache.AddRoot(other.Path().c_str()));
    DataBuffer body;
    HttpResult plainResult;
    ASSERT_TRUE(http.pool().quickRequest(("http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/").c_str(), plain,
                                         body, plainResult, log, nullptr, false));
    EXPECT_FALSE(plain.bucketCache.isDomainNegative("127.0.0.1", negative, log));
    const grvtest::RunResult found = grvtest::RunProgram({"find", other.Path(), "-type", "f"});
    EXPECT_FALSE(contains(found.out, ".caf")) << found.out;
    EXPECT_TRUE(contains(found.out, ".dat")) << found.out;
}

} // namespace

namespace {

// Components on threads of their own (as the usage reports run) share one
// cache folder: every GET gets the page whole, from the server or a cache.
TEST(CacheConcurrency, ComponentsOnThreadsShareOneCacheFolder) {
    installTextServices();
    grvtest::LoopbackPeers peers;
    const grvtest::NginxPeer nginx = peers.StartNginx();
    grvtest::TempDir dir;
    const std::string page = "http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/big.txt";
    const std::string big = grvtest::ReadFile(nginx.docRoot + "/big.txt");
    constexpr int kThreads = 4;
    constexpr int kGets = 6;
    std::atomic<int> wrong{0}, cached{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ClsHttp http;
            http.options().UseIEProxy = 0;
            http.options().useBucketCache = t % 2;
            http.options().cache.AddRoot(dir.Path().c_str());
            http.options().bucketCache.addRoot(dir.Path().c_str());
            for (int i = 0; i < kGets; ++i) {
                DataBuffer body;
                HttpResult result;
                LogNull log;
                if (!http.pool().quickRequest(page.c_str(), http.options(), body, result, log, nullptr, false) ||
                    cachetest::Text(body) != big)
                    ++wrong;
                cached += result.fromCache;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(cached.load(), 0);
}

} // namespace
