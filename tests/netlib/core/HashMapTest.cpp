#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/HashMap.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// A value that knows how many of its kind are alive, to see what was deleted.
struct Tracked : TessikObject {
    explicit Tracked(int id) : id(id) { ++live; }
    ~Tracked() override { --live; }
    int id;
    static int live;
};
int Tracked::live = 0;

StringBuffer sb(const std::string& s) {
    return StringBuffer(s.data(), static_cast<unsigned>(s.size()), 0u);
}

std::string str(const StringBuffer& b) {
    return std::string(b.getString(), static_cast<size_t>(b.getSize()));
}

class ListTest : public ::testing::Test {
protected:
    void SetUp() override { Tracked::live = 0; }
    void TearDown() override { EXPECT_EQ(Tracked::live, 0); }
};

TEST_F(ListTest, NamedObjectOwnsNameAndValue) {
    std::string source = "Set-Cookie";
    {
        NamedObject entry(source.c_str(), new Tracked(1));
        source[0] = 'X';
        EXPECT_STREQ(entry.getKey(), "Set-Cookie");

        TessikObject* held = entry.getValue();
        entry.setValue(held);
        EXPECT_EQ(Tracked::live, 1);
        entry.setValue(new Tracked(2));
        EXPECT_EQ(Tracked::live, 1);
        EXPECT_EQ(static_cast<Tracked*>(entry.getValue())->id, 2);
        entry.setValue(nullptr);
        EXPECT_EQ(Tracked::live, 0);
        entry.setValue(new Tracked(3));
    }
    NamedObject unnamed(static_cast<const char*>(nullptr), nullptr);
    EXPECT_STREQ(unnamed.getKey(), "");

    NamedObject withZero(sb(std::string("a\0b", 3)), nullptr);
    ASSERT_NE(withZero.getNameBuf(), nullptr);
    EXPECT_EQ(str(*withZero.getNameBuf()), std::string("a\0b", 3));
}

class MapTest : public ListTest {};

TEST_F(MapTest, SecondInsertReplacesValueInPlace) {
    HashMap m(1);
    m.insertSb(sb("a"), new Tracked(1));
    m.insertSb(sb("b"), new Tracked(2));
    m.insertSb(sb("c"), new Tracked(3));
    m.insertSb(sb("a"), new Tracked(4));
    EXPECT_EQ(Tracked::live, 3);
    const TS_List* bucket = m.getBucket(0);
    ASSERT_EQ(bucket->getCount(), 3);
    // "a" keeps its place as the oldest entry.
    auto* oldest = static_cast<NamedObject*>(bucket->getOldest()->getObject());
    EXPECT_STREQ(oldest->getKey(), "a");
    EXPECT_EQ(static_cast<Tracked*>(oldest->getValue())->id, 4);
    EXPECT_EQ(static_cast<Tracked*>(m.lookupSb(sb("a")))->id, 4);
}

// The oracle run below covers text values and set members; here null names
// and a set member read as text, which once misread the object.
TEST_F(MapTest, NullNamesAndSetMembersReadAsText) {
    HashMap m(13);
    m.insertString(nullptr, "x");
    m.addKey(nullptr);
    m.remove(nullptr);
    StringBuffer out("stale");
    EXPECT_FALSE(m.lookupString(nullptr, out));
    EXPECT_FALSE(m.containsKey(nullptr));
    m.addKey("member");
    out.setString("stale");
    EXPECT_FALSE(m.lookupString("member", out));
    EXPECT_EQ(out.getSize(), 0);
    m.insertString("member", "now text");
    EXPECT_TRUE(m.lookupString("member", out));
    EXPECT_STREQ(out.getString(), "now text");
}

TEST_F(MapTest, DestructionDeletesEveryValue) {
    {
        HashMap m(3);
        for (int i = 0; i < 40; ++i)
            m.insertSb(sb("key" + std::to_string(i)), new Tracked(i));
        m.insertSb(sb("null value"), nullptr);
        EXPECT_EQ(Tracked::live, 40);
        EXPECT_TRUE(m.containsKey("null value"));
        EXPECT_EQ(m.lookupSb(sb("null value")), nullptr);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST_F(MapTest, FailedAllocationsStoreNothingAndLoseNothing) {
    tessik::testing::failAllocationAfter(0);
    HashMap none(10);
    tessik::testing::failAllocationAfter(-1);
    EXPECT_EQ(none.getBucketCount(), 10u);
    EXPECT_EQ(none.getBucket(0), nullptr);
    none.insertSb(sb("a"), new Tracked(1));
    none.insertString("b", "text");
    none.addKey("c");
    EXPECT_EQ(Tracked::live, 0);
    std::uint32_t index = 99;
    EXPECT_EQ(none.findEntry(sb("a"), &index), nullptr);
    EXPECT_EQ(index, HashMap::keyHash(sb("a")) % 10);
    EXPECT_FALSE(none.containsKey("b"));
    none.remove("c");

    // An entry whose name could not be copied would sit under the wrong key.
    HashMap one(1);
    StringBuffer referer = sb("Referer");
    auto* value = new Tracked(2);
    tessik::testing::failAllocationAfter(0);
    one.insertSb(referer, value);
    tessik::testing::failAllocationAfter(-1);
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_EQ(one.getBucket(0)->getCount(), 0);
    EXPECT_FALSE(one.containsKey("Referer"));
    EXPECT_FALSE(one.containsKey(""));
    one.insertSb(sb("Referer"), new Tracked(3));
    EXPECT_TRUE(one.containsKey("Referer"));
}

// The bucket of a key is CRC-32 of MD5 of its bytes, modulo the count, as
// python's zlib and hashlib compute them.
TEST(HashMapPeer, BucketIndexesMatchPython) {
    std::vector<std::string> keys = {"",
                                     "a",
                                     "Cookie",
                                     "cookie",
                                     "www.example.com",
                                     "Schmerz-\xC3\x9C"
                                     "bersicht",
                                     std::string("a\0b", 3)};
    std::mt19937 rng(122);
    for (int i = 0; i < 300; ++i) {
        std::string k(rng() % 80, '\0');
        for (auto& c : k)
            c = static_cast<char>(rng());
        keys.push_back(k);
    }
    const std::vector<std::uint32_t> counts = {1, 7, 100, 4096, 65521, 1000003};

    const std::string script = "import sys, zlib, hashlib\n"
                               "counts = [int(c) for c in sys.argv[1:]]\n"
                               "for line in sys.stdin.read().split('\\n'):\n"
                               "    if not line.startswith('k'):\n"
                               "        continue\n"
                               "    c = zlib.crc32(hashlib.md5(bytes.fromhex(line[1:])).digest())\n"
                               "    print(c, *[c % n for n in counts])\n";
    std::string input;
    std::vector<std::string> args;
    for (const auto& k : keys)
        input += "k" + grvtest::ToHex(reinterpret_cast<const unsigned char*>(k.data()), k.size()) + "\n";
    for (auto n : counts)
        args.push_back(std::to_string(n));
    const auto peer = grvtest::Python(script, args, input);
    ASSERT_EQ(peer.status, 0) << peer.err;
    std::istringstream lines(peer.out);

    std::vector<HashMap*> maps;
    for (auto n : counts)
        maps.push_back(new HashMap(n));
    size_t checked = 0;
    for (const auto& k : keys) {
        std::uint64_t crc = 0;
        ASSERT_TRUE(lines >> crc);
        StringBuffer key = sb(k);
        EXPECT_EQ(HashMap::keyHash(key), crc);
        for (size_t i = 0; i < counts.size(); ++i) {
            std::uint32_t want = 0, got = 0xFFFFFFFFu;
            ASSERT_TRUE(lines >> want);
            maps[i]->findEntry(key, &got);
            EXPECT_EQ(got, want) << "count " << counts[i];
            ++checked;
        }
    }
    EXPECT_EQ(checked, keys.size() * counts.size());
    for (auto* m : maps)
        delete m;
}

// A long random run of insertions, look-ups and removals against std::map;
// with one bucket every position of the bucket's list is removed from.
TEST(HashMapOracle, AgreesWithStdMap) {
    struct Value {
        bool text;
        std::string s;
    };
    std::vector<std::string> universe = {"", "Host", "host", "HOST", std::string("Ho\0st", 5), "\xFF\xFE"};
    for (int i = 0; i < 60; ++i)
        universe.push_back("k" + std::to_string(i));

    std::mt19937 rng(5122);
    for (std::uint32_t buckets : {1u, 7u, 0u}) {
        HashMap m(buckets);
        const std::uint32_t count = m.getBucketCount();
        std::map<std::string, Value> oracle;

        auto verifyAll = [&] {
            size_t total = 0;
            for (std::uint32_t b = 0; b < count; ++b) {
                const TS_List* list = m.getBucket(b);
                ASSERT_NE(list, nullptr);
                int n = 0;
                const TS_ListItem* newer = nullptr;
                for (TS_ListItem* i = list->getNewest(); i; i = i->getPrevious(), ++n) {
                    ASSERT_EQ(i->getNext(), newer);
                    newer = i;
                    auto* e = static_cast<NamedObject*>(i->getObject());
                    std::string k = str(*e->getNameBuf());
                    ASSERT_EQ(HashMap::keyHash(*e->getNameBuf()) % count, b);
                    ASSERT_TRUE(oracle.count(k)) << k;
                }
                ASSERT_EQ(newer, list->getOldest());
                ASSERT_EQ(n, list->getCount());
                total += static_cast<size_t>(n);
            }
            ASSERT_EQ(total, oracle.size());
        };

        for (int step = 0; step < 8000; ++step) {
            const std::string& k = universe[rng() % universe.size()];
            const bool plain = k.find('\0') == std::string::npos;
            StringBuffer key = sb(k);
            std::string v = "v" + std::to_string(rng() % 1000);
            switch (rng() % 8) {
            case 0:
                if (plain) {
                    m.insertString(k.c_str(), v.c_str());
                    oracle[k] = {true, v};
                }
                break;
            case 1:
                m.insertSb(key, new StringBuffer(v.c_str()));
                oracle[k] = {true, v};
                break;
            case 2:
                if (plain) {
                    m.addKey(k.c_str());
                    oracle[k] = {false, ""};
                }
                break;
            case 3:
                if (plain)
                    m.remove(k.c_str());
                else
                    m.removeSb(key);
                oracle.erase(k);
                break;
            case 4:
                m.removeSb(key);
                oracle.erase(k);
                break;
            default: {
                auto it = oracle.find(k);
                NamedObject* e = m.findEntry(key, nullptr);
                ASSERT_EQ(e != nullptr, it != oracle.end()) << k;
                if (plain) {
                    ASSERT_EQ(m.containsKey(k.c_str()), it != oracle.end());
                }
                if (!e)
                    break;
                ASSERT_EQ(str(*e->getNameBuf()), k);
                auto* value = dynamic_cast<StringBuffer*>(m.lookupSb(key));
                ASSERT_EQ(value != nullptr, it->second.text);
                if (value) {
                    ASSERT_EQ(str(*value), it->second.s);
                }
                if (plain) {
                    StringBuffer out;
                    ASSERT_EQ(m.lookupString(k.c_str(), out), it->second.text);
                    ASSERT_EQ(str(out), it->second.s);
                }
            }
            }
            if (step % 400 == 0) {
                ASSERT_NO_FATAL_FAILURE(verifyAll());
            }
        }
        ASSERT_NO_FATAL_FAILURE(verifyAll());
    }
}

} // namespace
