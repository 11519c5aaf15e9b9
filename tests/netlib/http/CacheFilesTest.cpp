// The ".dat" files of ClsCache2 and the ".caf" bucket files of HttpCache, as
// the python reader of tests/peers/cache_files.py (written from the format
// description) sees them: paths, headers, CRCs and bzip2 blobs, whole; the
// readers of both agree on generated and damaged files; the lock table lets
// threads share the files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/ClsCache2.h"
#include "netlib/http/HttpCache.h"
#include "tests/netlib/http/CacheTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cachetest::Reader;

namespace {

constexpr const char* kName = "http://www.example.com/page.html";
// The UTC hour every bucket test runs at, and its stamp.
constexpr const char* kStamp = "0c070f0c"; // 2012 + 0x30, July, 15, 12
constexpr const char* kNothingCrc = "ed94b74b";
// The size of an entry (a PDF file, stored as it is) that does not fit.
constexpr std::size_t kPastTheLimit = 4096;

SysTimeValue localDate(int y, int mo, int d, int h, int mi, int s) {
    SysTimeValue t;
    t.year = static_cast<std::uint16_t>(y);
    t.month = static_cast<std::uint16_t>(mo);
    t.day = static_cast<std::uint16_t>(d);
    t.hour = static_cast<std::uint16_t>(h);
    t.minute = static_cast<std::uint16_t>(mi);
    t.second = static_cast<std::uint16_t>(s);
    t.isLocal = 1;
    return t;
}

// A buffer holding a text's bytes.
struct Data : DataBuffer {
    explicit Data(const std::string& s = {}) { append(s.data(), static_cast<unsigned int>(s.size())); }
};

class CacheFiles : public ::testing::Test {
protected:
    std::string root(int i) const { return dir.Path() + "/root" + std::to_string(i); }
    // The cache over root 0 keeps a response under kName, expiring
    // 2012-07-15 12:00 local time; the path of its file.
    std::string storeResponse(ClsCache2& cache, const std::string& head, const std::string& body, const char* etag) {
        EXPECT_TRUE(cache.AddRoot(root(0).c_str()));
        Logger log;
        DataBuffer data;
        cachetest::CachedResponse(head, body, data);
        EXPECT_TRUE(cache.SaveToCache2(kName, localDate(2012, 7, 15, 12, 0, 0), etag, data, log));
        StringBuffer path;
        EXPECT_TRUE(cache.GetFilename(kName, path));
        return path.getString();
    }
    grvtest::TempDir dir;
};

TEST_F(CacheFiles, DatFilesAsThePythonReaderSeesThem) {
    struct Case {
        int roots;
        int levels;
        const char* name;
        const char* etag;
        bool expires;
        std::string body;
    };
    const Case cases[] = {
        {1, 0, kName, "", false, "hello\n"},
        // Five ETag bytes: the header is 25 bytes and the data starts there.
        {2, 1, "http://a.example/x?q=1", "\"abc\"", true, "a body"},
        {2, 2, "http://b.example/", "W/\"weak-tag\"", true, ""},
        {3, 2, "http://c.example/\xc3\xa9t\xc3\xa9", "e", true, std::string("\xff\x00\x01", 3)},
        // Any other depth counts as none.
        {1, 7, kName, "", true, "seven"},
    };
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " levels " + std::to_string(c.levels));
        ClsCache2 cache;
        std::vector<std::string> args{"datpath", std::to_string(c.levels), c.name};
        for (int i = 0; i < c.roots; ++i) {
            ASSERT_TRUE(cache.AddRoot(root(i).c_str()));
            args.push_back(root(i));
        }
        cache.setLevels(c.levels);
        const std::string& body = c.body;
        DataBuffer data;
        cachetest::CachedResponse(head, body, data);
        Logger log;
        const SysTimeValue expiry = c.expires ? localDate(2012, 7, 15, 12, 34, 56) : SysTimeValue();
        ASSERT_TRUE(cache.SaveToCache2(c.name, expiry, c.etag, data, log)) << authtest::logText(log);
        StringBuffer path;
        ASSERT_TRUE(cache.GetFilename(c.name, path));
        EXPECT_EQ(Reader(args), path.getString());
        const std::string want = "header=" + std::to_string(20 + std::strlen(c.etag)) +
                                 " version=1 reserved=0000 expiry=" + (c.expires ? "2012-07-15 12:34:56" : "none") +
                                 " etag=" + c.etag + " data=" + std::to_string(data.getSize()) +
                                 " head=" + grvtest::ToHex(head) + " body=" + grvtest::ToHex(body);
        EXPECT_EQ(Reader({"dat", path.getString()}), want);
    }
}

TEST_F(CacheFiles, FetchGivesBackTheEntryAndItsExpiry) {
    grvtest::ScopedTimeZone zone("Europe/Berlin");
    grvtest::ScopedClock clock(2012, 7, 15, 10, 0, 0); // 12:00 in Berlin
    ClsCache2 cache;
    ASSERT_TRUE(cache.AddRoot(root(0).c_str()));
    Logger log;
    DataBuffer data, back;
    cachetest::CachedResponse("HTTP/1.1 200 OK\r\n", "fetched body", data);
    StringBuffer etag;
    EXPECT_FALSE(cache.getLastEtag(etag));
    EXPECT_FALSE(cache.fetchEntry(kName, back, log)); // no file yet: a quiet miss
    ASSERT_TRUE(cache.SaveToCache2(kName, localDate(2012, 7, 15, 12, 1, 0), "\"v1\"", data, log));
    ASSERT_TRUE(cache.fetchEntry(kName, back, log)) << authtest::logText(log);
    EXPECT_TRUE(back.equalsDb(data));
    ASSERT_TRUE(cache.getLastEtag(etag));
    EXPECT_STREQ(etag.getString(), "\"v1\"");
    SysTimeValue expiry;
    ASSERT_TRUE(cache.getLastExpiration(expiry));
    StringBuffer text;
    expiry.getRfc822String(text);
    EXPECT_STREQ(text.getString(), "Sun, 15 Jul 2012 12:01:00 +0200");
    EXPECT_FALSE(cache.isLastFetchExpired());
    clock.Advance(60);
    EXPECT_TRUE(cache.isLastFetchExpired()); // not later than now
    // Without an expiry an entry never expires.
    ASSERT_TRUE(cache.SaveToCache2(kName, SysTimeValue(), "", data, log));
    ASSERT_TRUE(cache.fetchEntry(kName, back, log));
    ASSERT_TRUE(cache.getLastExpiration(expiry));
    EXPECT_EQ(expiry.year, 0);
    EXPECT_FALSE(cache.isLastFetchExpired());
    EXPECT_TRUE(cache.isCached(kName));
    EXPECT_FALSE(cache.isCached("http://www.example.com/other"));
}

TEST_F(CacheFiles, WithoutRootsEveryOperationSaysSo) {
    ClsCache2 cache;
    EXPECT_FALSE(cache.AddRoot(""));
    Logger log;
    Data data("x");
    StringBuffer path;
    EXPECT_FALSE(cache.GetFilename(kName, path));
    EXPECT_NE(authtest::logText(cache.getLog()).find(cache_msg::kNoRoots), std::string::npos);
    EXPECT_FALSE(cache.SaveToCache2(kName, SysTimeValue(), "", data, log));
    EXPECT_FALSE(cache.fetchEntry(kName, data, log));
    EXPECT_FALSE(cache.updateExpiration(kName, SysTimeValue(), log));
    EXPECT_FALSE(cache.isCached(kName));
    const std::string text = authtest::logText(log);
    std::size_t count = 0;
    for (std::size_t at = text.find(cache_msg::kNoRoots); at != std::string::npos;
         at = text.find(cache_msg::kNoRoots, at + 1))
        ++count;
    EXPECT_EQ(count, 3u) << text;
}

TEST_F(CacheFiles, UpdatingTheExpiryRewritesOnlyTheExpiry) {
    ClsCache2 cache;
    const std::string file = storeResponse(cache, "HTTP/1.1 200 OK\r\n", "kept", "\"t\"");
    const StringBuffer path(file.c_str());
    Logger log;
    DataBuffer data;
    const std::string before = Reader({"dat", file});
    ASSERT_TRUE(cache.updateExpiration(kName, localDate(2013, 1, 2, 3, 4, 5), log)) << authtest::logText(log);
    std::string want = before;
    want.replace(want.find("2012-07-15 12:00:00"), 19, "2013-01-02 03:04:05");
    EXPECT_EQ(Reader({"dat", path.getString()}), want);

    // A foreign file at the path is left alone; a missing one is not made.
    const std::string foreign = "not a cache file at all";
    ASSERT_TRUE(grvtest::WriteFile(path.getString(), foreign));
    Logger refused;
    EXPECT_FALSE(cache.updateExpiration(kName, localDate(2013, 1, 2, 3, 4, 5), refused));
    EXPECT_NE(authtest::logText(refused).find(cache_msg::kNotCacheFile), std::string::npos);
    EXPECT_EQ(grvtest::ReadFile(path.getString()), foreign);
    EXPECT_FALSE(cache.fetchEntry(kName, data, refused));
    EXPECT_NE(authtest::logText(refused).find(cache_msg::kLoadFailed), std::string::npos);
    ASSERT_EQ(std::remove(path.getString()), 0);
    EXPECT_FALSE(cache.updateExpiration(kName, localDate(2013, 1, 2, 3, 4, 5), refused));
    EXPECT_NE(authtest::logText(refused).find(cache_msg::kOpenFailed), std::string::npos);
    EXPECT_FALSE(grvtest::FileExists(path.getString()));
}

TEST_F(CacheFiles, AnEtagTooLongForTheReaderIsNotStored) {
    ClsCache2 cache;
    ASSERT_TRUE(cache.AddRoot(root(0).c_str()));
    Logger log;
    Data data("x");
    const std::string longest(cache_fmt::kDatMaxHeader - cache_fmt::kDatFixedHeader, 'e');
    ASSERT_TRUE(cache.SaveToCache2(kName, SysTimeValue(), longest.c_str(), data, log));
    DataBuffer back;
    ASSERT_TRUE(cache.fetchEntry(kName, back, log));
    StringBuffer etag;
    cache.getLastEtag(etag);
    EXPECT_EQ(etag.getString(), longest);
    EXPECT_FALSE(cache.SaveToCache2(kName, SysTimeValue(), (longest + "e").c_str(), data, log));
    EXPECT_NE(authtest::logText(log).find(cache_msg::kEtagTooLong), std::string::npos);
}

TEST_F(CacheFiles, BucketFilesAsThePythonReaderSeesThem) {
    grvtest::ScopedClock clock(2012, 7, 15, 12, 34, 56);
    const std::string path = dir.File("a/b/1.caf");
    CacheFile file;
    Logger log;
    const Data first("first data"), second("%PDF-1.4 raw"), none;
    struct Append {
        const char* key;
        const char* head;
        const DataBuffer* data;
        bool isNew;
        std::uint8_t extraA, flags, extraB;
        const char* tag;
    };
    const Append appends[] = {
        {"http://a.example/", "HTTP/1.1 200 OK\r\nX: 1\r\n", &first, false, 0, 2, 0, "Nothing"},
        // Pictures and PDF files are stored as they are, whatever the case.
        {"http://a.example/doc.PDF", "", &second, false, 7, 2, 9, ""},
        // A new entry counts 1 and has no validated stamp.
        {"dns://bad.example", "", &none, true, 0, 0, 0, ""},
    };
    for (const Append& a : appends) {
        CacheEntryFields f;
        f.key = a.key;
        f.headerText = a.head;
        f.data = a.data;
        f.isNew = a.isNew;
        f.extraA = a.extraA;
        f.flags = a.flags;
        f.extraB = a.extraB;
        f.tag = a.tag;
        ASSERT_TRUE(file.appendEntry(path.c_str(), f, log)) << authtest::logText(log);
    }
    const std::string zero = "00000000";
    const std::vector<std::string> want = {
        "capacity=10 count=3 unused-zero=1 first=88 contiguous=1",
        std::string("key=http://a.example/ crc-ok=1 count=0 flags=2 extra=0,0 tag=") + kNothingCrc +
            " created=" + kStamp + " validated=" + kStamp + " head=" + grvtest::ToHex("HTTP/1.1 200 OK\r\nX: 1\r\n") +
            " data=" + grvtest::ToHex("first data"),
        std::string("key=http://a.example/doc.PDF crc-ok=1 count=0 flags=0 extra=7,9 tag=") + zero +
            " created=" + kStamp + " validated=" + kStamp + " head= data=" + grvtest::ToHex("%PDF-1.4 raw"),
        std::string("key=dns://bad.example crc-ok=1 count=1 flags=2 extra=0,0 tag=") + zero + " created=" + kStamp +
            " validated=" + zero + " head= data=",
    };
    EXPECT_EQ(cachetest::Lines(Reader({"caf", path})), want);

    // An entry the file-size limit has no room for fails, never ending the
    // process by its signal, and the bucket reads as it did.
    {
        const Data big(std::string(kPastTheLimit, 'b'));
        CacheEntryFields f;
        f.key = "http://a.example/big.pdf";
        f.headerText = "";
        f.data = &big;
        const grvtest::FileSizeLimit limit(grvtest::ReadFile(path).size() + kPastTheLimit / 2, false);
        EXPECT_FALSE(file.appendEntry(path.c_str(), f, log));
    }
    EXPECT_EQ(cachetest::Lines(Reader({"caf", path})), want);

    // Each entry is read back by its key; the new one exists without content.
    for (const Append& a : appends) {
        SCOPED_TRACE(a.key);
        bool withoutContent = false;
        CacheEntryInfo info;
        std::unique_ptr<CacheEntry> entry(file.loadEntry(path.c_str(), a.key, withoutContent, info, log));
        EXPECT_EQ(withoutContent, a.isNew);
        ASSERT_EQ(entry == nullptr, a.isNew);
        if (entry != nullptr) {
            EXPECT_STREQ(entry->headerText().getString(), a.head);
            EXPECT_TRUE(entry->data().equalsDb(*a.data));
        }
    }
}

TEST_F(CacheFiles, TheEleventhEntryStartsTheBucketOver) {
    grvtest::ScopedClock clock(2012, 7, 15, 12, 0, 0);
    const std::string path = dir.File("bucket.caf");
    CacheFile file;
    Logger log;
    for (int i = 1; i <= 11; ++i) {
        const std::string key = "k" + std::to_string(i);
        const Data data("data of " + key);
        CacheEntryFields f;
        f.key = key.c_str();
        f.headerText = "";
        f.data = &data;
        ASSERT_TRUE(file.appendEntry(path.c_str(), f, log));
        const std::vector<std::string> lines = cachetest::Lines(Reader({"caf", path}));
        ASSERT_FALSE(lines.empty());
        const int count = i <= 10 ? i : 1;
        EXPECT_EQ(lines[0], "capacity=10 count=" + std::to_string(count) + " unused-zero=1 first=88 contiguous=1");
        EXPECT_EQ(lines.back().substr(0, 4 + key.size()), "key=" + key);
    }
    bool withoutContent = false;
    CacheEntryInfo info;
    std::unique_ptr<CacheEntry> gone(file.loadEntry(path.c_str(), "k1", withoutContent, info, log));
    EXPECT_EQ(gone, nullptr);
    std::unique_ptr<CacheEntry> last(file.loadEntry(path.c_str(), "k11", withoutContent, info, log));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(authtest::text(last->data()), "data of k11");
}

// Starting a bucket over deleted its path first, so a link there became a
// file of its own and a device a regular file. It writes as open() does: the
// file a link names (also one not there yet) holds the one entry, as the
// python reader sees it, and a device stays a device.
void ReplaceBucketOn(const std::string& folder, std::initializer_list<grvtest::TargetKind> kinds) {
    using grvtest::TargetKind;
    grvtest::ScopedClock clock(2012, 7, 15, 12, 0, 0);
    int n = 0;
    for (TargetKind kind : kinds) {
        SCOPED_TRACE(grvtest::TargetKindName(kind));
        grvtest::WriteTarget target(folder, "bucket" + std::to_string(n++) + ".caf", kind, "old");
        ASSERT_EQ(target.Error(), 0);
        CacheFile file;
        Logger log;
        const Data data("fresh");
        CacheEntryFields f;
        f.key = "k";
        f.headerText = "";
        f.data = &data;
        EXPECT_TRUE(file.replaceEntry(target.Path().c_str(), f, log));
        const std::string described = target.Describe();
        if (kind == TargetKind::PrivateDevice) {
            EXPECT_EQ(described, "device(1,3)");
            continue;
        }
        EXPECT_EQ(described.substr(0, 5), kind == TargetKind::Regular ? "file:" : "link(");
        const std::vector<std::string> lines = cachetest::Lines(Reader({"caf", target.Path()}));
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "capacity=10 count=1 unused-zero=1 first=88 contiguous=1");
        EXPECT_EQ(lines[1].substr(0, 6), "key=k ");
    }
}

TEST_F(CacheFiles, ReplacingABucketWritesThroughALinkAsOpenDoes) {
    ReplaceBucketOn(dir.Path(),
                    {grvtest::TargetKind::Regular, grvtest::TargetKind::Link, grvtest::TargetKind::DanglingLink});
}

TEST_F(CacheFiles, ReplacingABucketOnAPrivateDeviceLeavesItADevice) {
    ReplaceBucketOn(dir.Path(), {grvtest::TargetKind::PrivateDevice});
}

TEST_F(CacheFiles, EntriesAreFoundByTheirKeyNotByItsCrcAlone) {
    // Two keys with one CRC-32 (0x4ddb0c25) in one bucket.
    const std::string path = dir.File("collide.caf");
    CacheFile file;
    Logger log;
    const Data plum("plum data"), buck("buck data");
    CacheEntryFields f;
    f.key = "plumless";
    f.headerText = "";
    f.data = &plum;
    ASSERT_TRUE(file.appendEntry(path.c_str(), f, log));
    bool withoutContent = false;
    CacheEntryInfo info;
    std::uint32_t offset = 0;
    EXPECT_FALSE(file.findEntryInfoInFile(path.c_str(), "buckeroo", offset, info, log));
    EXPECT_EQ(file.loadEntry(path.c_str(), "buckeroo", withoutContent, info, log), nullptr);
    f.key = "buckeroo";
    f.data = &buck;
    ASSERT_TRUE(file.appendEntry(path.c_str(), f, log));
    for (const char* key : {"plumless", "buckeroo"}) {
        std::unique_ptr<CacheEntry> entry(file.loadEntry(path.c_str(), key, withoutContent, info, log));
        ASSERT_NE(entry, nullptr) << key;
        EXPECT_STREQ(entry->key().getString(), key);
        EXPECT_EQ(authtest::text(entry->data()), key[0] == 'p' ? "plum data" : "buck data");
    }
}

TEST_F(CacheFiles, BucketPathsAndDomainEntries) {
    HttpCache cache;
    Logger log;
    StringBuffer path;
    bool negative = true;
    // Without a root nothing works.
    EXPECT_FALSE(cache.getBucketPath("dns://example.com", path));
    EXPECT_FALSE(cache.isDomainNegative("example.com", negative, log));
    EXPECT_FALSE(negative);
    cache.setDomainInvalid("example.com", log);
    EXPECT_FALSE(cache.addRoot(""));

    // A root gets its separator; the path is the reader's.
    ASSERT_TRUE(cache.addRoot(root(0).c_str()));
    ASSERT_TRUE(cache.addRoot((root(1) + "/").c_str()));
    for (const char* key : {"dns://example.com", "http://www.example.com/", "k"}) {
        ASSERT_TRUE(cache.getBucketPath(key, path));
        EXPECT_EQ(Reader({"cafpath", key, root(0) + "/", root(1) + "/"}), path.getString());
    }

    struct Step {
        const char* action; // "invalid", "valid" or "" (look only)
        const char* host;
        bool found, negative;
    };
    const Step steps[] = {
        {"", "Example.COM", false, false},     {"invalid", "Example.COM", true, true},
        {"", "example.com", true, true},       {"invalid", "example.com", true, true},
        {"valid", "example.com", true, false}, {"invalid", "example.com", true, false},
        {"valid", "example.com", true, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.action) + " " + s.host);
        if (std::string(s.action) == "invalid")
            cache.setDomainInvalid(s.host, log);
        else if (std::string(s.action) == "valid")
            cache.setDomainValid(s.host, log);
        EXPECT_EQ(cache.isDomainNegative(s.host, negative, log), s.found);
        EXPECT_EQ(negative, s.negative);
    }
    ASSERT_TRUE(cache.getBucketPath("dns://example.com", path));
    const std::vector<std::string> lines = cachetest::Lines(Reader({"caf", path.getString()}));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "capacity=10 count=1 unused-zero=1 first=88 contiguous=1");
}

// Damaged files, mutated from good ones: every lookup finds what the python
// reader finds (a miss, a negative entry, a damaged entry, or the entry
// with its fields, head text and data).
std::string ourLookup(const std::string& path, const std::string& key) {
    CacheFile file;
    LogNull log;
    std::uint32_t offset = 0;
    CacheEntryInfo info;
    if (!file.findEntryInfoInFile(path.c_str(), key.c_str(), offset, info, log))
        return "miss";
    bool withoutContent = false;
    std::unique_ptr<CacheEntry> e(file.loadEntry(path.c_str(), key.c_str(), withoutContent, info, log));
    if (withoutContent)
        return "negative";
    if (e == nullptr)
        return "damaged";
    char head[160];
    std::snprintf(head, sizeof head,
                  "entry count=%d flags=%d extra=%d,%d tag=%08x created=%s validated=%s head=", e->count(), e->flags(),
                  e->extraA(), e->extraB(), e->tagCrc(), grvtest::ToHex(e->created(), 4).c_str(),
                  grvtest::ToHex(e->validated(), 4).c_str());
    return head + grvtest::ToHex(e->headerText().getString()) + " data=" + grvtest::ToHex(authtest::text(e->data()));
}

void mutate(std::mt19937& rng, std::string& b) {
    auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
    const std::uint32_t edges[] = {0,
                                   1,
                                   2,
                                   7,
                                   8,
                                   10,
                                   11,
                                   32,
                                   88,
                                   1024,
                                   1025,
                                   0x7FFFFFFF,
                                   0xFFFFFFFF,
                                   static_cast<std::uint32_t>(b.size()),
                                   static_cast<std::uint32_t>(b.size() + 1)};
    switch (rng() % 6) {
    case 0: // a byte anywhere
        if (!b.empty())
            b[pick(b.size())] = static_cast<char>(rng());
        break;
    case 1: // a bit in the directory or the first entry's head
        if (b.size() > 120)
            b[pick(120)] ^= static_cast<char>(1u << (rng() % 8));
        break;
    case 2: { // a count, offset or length at a 4-byte boundary near the start
        const std::size_t at = pick(std::min<std::size_t>(b.size(), 200) / 4) * 4;
        if (at + 4 <= b.size()) {
            unsigned char v[4];
            platform::StoreLe32(v, edges[pick(std::size(edges))]);
            std::memcpy(&b[at], v, 4);
        }
        break;
    }
    case 3: // cut short
        b.resize(pick(b.size() + 1));
        break;
    case 4: // something after the end
        b.append(pick(40), static_cast<char>(rng()));
        break;
    default: // a byte inside a packed part
        if (b.size() > 140)
            b[120 + pick(b.size() - 120)] ^= static_cast<char>(rng() | 1);
        break;
    }
}

TEST_F(CacheFiles, DamagedBucketFilesReadAsThePythonReaderReadsThem) {
    grvtest::ScopedClock clock(2012, 7, 15, 12, 0, 0);
    const std::string base = dir.File("base.caf");
    CacheFile file;
    Logger log;
    const Data text(std::string(300, 'a') + "tail"), pdf("%PDF raw bytes"), none;
    const std::vector<std::string> keys = {"plumless", "buckeroo", "http://x.example/a.pdf", "dns://neg.example",
                                           "absent"};
    const DataBuffer* datas[] = {&text, &none, &pdf, &none};
    for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
        CacheEntryFields f;
        f.key = keys[i].c_str();
        f.headerText = i == 0 ? "HTTP/1.1 200 OK\r\n" : "";
        f.data = datas[i];
        f.isNew = keys[i].rfind("dns://", 0) == 0;
        f.flags = cache_fmt::kFlagCompressed;
        f.tag = "Nothing";
        ASSERT_TRUE(file.appendEntry(base.c_str(), f, log));
    }
    const std::string good = grvtest::ReadFile(base);
    std::mt19937 rng(20120715);
    constexpr int kFiles = 400;
    std::vector<std::string> paths;
    std::string ours;
    for (int n = 0; n < kFiles; ++n) {
        std::string b = good;
        const int rounds = 1 + static_cast<int>(rng() % 3);
        for (int r = 0; r < rounds; ++r)
            mutate(rng, b);
        paths.push_back(dir.File("m" + std::to_string(n) + ".caf"));
        ASSERT_TRUE(grvtest::WriteFile(paths.back(), b));
        for (const std::string& key : keys)
            ours += ourLookup(paths.back(), key) + "\n";
    }
    std::vector<std::string> args{"lookup-caf", keys[0]};
    for (std::size_t i = 1; i < keys.size(); ++i)
        args[1] += "\n" + keys[i];
    args.insert(args.end(), paths.begin(), paths.end());
    const std::vector<std::string> theirs = cachetest::Lines(Reader(args));
    const std::vector<std::string> mine = cachetest::Lines(ours.substr(0, ours.size() - 1));
    ASSERT_EQ(mine.size(), theirs.size());
    int entries = 0;
    for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i], theirs[i]) << "file " << paths[i / keys.size()] << " key " << keys[i % keys.size()];
        entries += mine[i].rfind("entry", 0) == 0 ? 1 : 0;
    }
    // The mutations leave many files readable, and damage many.
    EXPECT_GT(entries, kFiles / 2);
}

TEST_F(CacheFiles, DamagedDatFilesReadAsThePythonReaderReadsThem) {
    ClsCache2 cache;
    const StringBuffer path(
        storeResponse(cache, "HTTP/1.1 200 OK\r\nETag: \"e\"\r\n", "the cached body", "\"etag\"").c_str());
    const std::string good = grvtest::ReadFile(path.getString());
    std::mt19937 rng(1899);
    constexpr int kFiles = 300;
    std::vector<std::string> copies;
    std::string ours;
    for (int n = 0; n < kFiles; ++n) {
        std::string b = good;
        mutate(rng, b);
        constexpr std::size_t kResponseAt = 20 + 6;    // behind the header and its 6-byte ETag
        if (n % 3 == 0 && b.size() >= kResponseAt + 4) // the response's own offset
            std::memcpy(&b[kResponseAt], &b[rng() % (b.size() - 4)], 4);
        ASSERT_TRUE(grvtest::WriteFile(path.getString(), b));
        copies.push_back(dir.File("m" + std::to_string(n) + ".dat"));
        ASSERT_TRUE(grvtest::WriteFile(copies.back(), b));
        LogNull quiet;
        DataBuffer back;
        if (!cache.fetchEntry(kName, back, quiet)) {
            ours += "invalid\n";
            continue;
        }
        StringBuffer etag;
        cache.getLastEtag(etag);
        SysTimeValue expiry;
        cache.getLastExpiration(expiry);
        char when[64] = "none";
        if (expiry.year != 0)
            std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", expiry.year, expiry.month, expiry.day,
                          expiry.hour, expiry.minute, expiry.second);
        ours += "ok etag=" + grvtest::ToHex(etag.getString()) + " expiry=" + when +
                " data=" + grvtest::ToHex(authtest::text(back));
        const std::string cached = authtest::text(back);
        const std::int32_t k = cached.size() >= 4 ? static_cast<std::int32_t>(platform::LoadLe32(cached.data())) : 0;
        if (cached.size() > 20 && k >= 4 && static_cast<std::size_t>(k) <= cached.size())
            ours += " head=" + grvtest::ToHex(cached.substr(4, k - 4)) + " body=" + grvtest::ToHex(cached.substr(k));
        else
            ours += " response=none";
        ours += "\n";
    }
    std::vector<std::string> args{"lookup-dat"};
    args.insert(args.end(), copies.begin(), copies.end());
    const std::vector<std::string> theirs = cachetest::Lines(Reader(args));
    const std::vector<std::string> mine = cachetest::Lines(ours.substr(0, ours.size() - 1));
    ASSERT_EQ(mine.size(), theirs.size());
    for (std::size_t i = 0; i < mine.size(); ++i)
        EXPECT_EQ(mine[i], theirs[i]) << copies[i];
}

// Threads share the cache files: whatever a thread reads is one whole entry
// some thread wrote, never a mix, and nobody waits past the lock's limit.
TEST(CacheConcurrency, ThreadsShareTheCacheFiles) {
    grvtest::TempDir dir;
    constexpr int kThreads = 6;
    constexpr int kRounds = 25;
    const std::vector<std::string> names = {"http://shared.example/a", "http://shared.example/b"};
    ClsCache2 shared;
    ASSERT_TRUE(shared.AddRoot(dir.Path().c_str()));
    std::atomic<int> torn{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ClsCache2 own;
            own.AddRoot(dir.Path().c_str());
            HttpCache buckets;
            buckets.addRoot(dir.Path().c_str());
            // Each thread's data: its number repeated, a length of its own.
            const std::string mine(100 + 37 * t, static_cast<char>('A' + t));
            DataBuffer data;
            data.append(mine.data(), static_cast<unsigned int>(mine.size()));
            for (int r = 0; r < kRounds; ++r) {
                LogNull log;
                ClsCache2& cache = (r % 2 == 0) ? own : shared;
                const std::string& name = names[r % names.size()];
                if (!cache.SaveToCache2(name.c_str(), SysTimeValue(), "", data, log))
                    ++failed;
                DataBuffer back;
                if (cache.fetchEntry(name.c_str(), back, log)) {
                    const std::string got = authtest::text(back);
                    const char c = got.empty() ? 'A' : got[0];
                    if (got != std::string(100 + 37 * (c - 'A'), c))
                        ++torn;
                }
                SysTimeValue when;
                when.setCurrentLocal();
                cache.updateExpiration(name.c_str(), when, log);
                CacheEntryFields f;
                f.key = name.c_str();
                f.headerText = "head";
                f.data = &data;
                if (r % 3 == 0 ? !buckets.replaceEntry(f, log) : !buckets.appendEntry(f, log))
                    ++failed;
                bool withoutContent = false;
                CacheEntryInfo info;
                std::unique_ptr<CacheEntry> e(buckets.getEntry(name.c_str(), withoutContent, info, log));
                if (e != nullptr) {
                    const std::string got = authtest::text(e->data());
                    const char c = got.empty() ? 'A' : got[0];
                    if (got != std::string(100 + 37 * (c - 'A'), c))
                        ++torn;
                }
                bool negative = false;
                buckets.setDomainInvalid("shared.example", log);
                buckets.isDomainNegative("shared.example", negative, log);
                buckets.setDomainValid("shared.example", log);
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(failed.load(), 0);
}

// Another thread holds a cache file from construction until Release().
class HeldElsewhere {
public:
    explicit HeldElsewhere(const char* path) : m_path(path) {
        m_thread = std::thread([this] {
            LogNull quiet;
            CacheFileLock lock(m_path, true, quiet);
            m_holding = true;
            while (!m_release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        while (!m_holding)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~HeldElsewhere() { Release(); }
    void Release() {
        m_release = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    StringBuffer m_path;
    std::atomic<bool> m_holding{false}, m_release{false};
    std::thread m_thread;
};

TEST(CacheConcurrency, AWaiterHoldsNoLockWhileItWaits) {
    const StringBuffer busy("/cache/busy.dat"), other("/cache/other.dat");
    HeldElsewhere holder(busy.getString());
    std::atomic<bool> waiterGotIt{false};
    std::thread waiter([&] {
        LogNull log;
        CacheFileLock lock(busy, true, log);
        waiterGotIt = lock.held();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the waiter is waiting now
    {
        // Another file is free at once, however long the waiter waits.
        LogNull log;
        CacheFileLock lock(other, true, log);
        EXPECT_TRUE(lock.held());
    }
    holder.Release();
    waiter.join();
    EXPECT_TRUE(waiterGotIt);
}

TEST(CacheConcurrency, AFileHeldTooLongIsReported) {
    const StringBuffer busy("/cache/held-long.dat");
    HeldElsewhere holder(busy.getString());
    Logger log;
    {
        CacheFileLock lock(busy, true, log);
        EXPECT_FALSE(lock.held());
    }
    holder.Release();
    const std::string text = authtest::logText(log);
    EXPECT_NE(text.find(cache_msg::kFileLocked), std::string::npos);
    EXPECT_NE(text.find("/cache/held-long.dat"), std::string::npos);
}

} // namespace
