#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CryptoTestSupport.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::hex;
using cryptotest::randomBytes;
using cryptotest::unhex;

namespace {

std::string mac(int id, const std::string& key, const std::string& msg) {
    DataBuffer out;
    out.append("stale", 5);
    Hmac().doHmac(msg.data(), static_cast<std::uint32_t>(msg.size()), key.data(), static_cast<int>(key.size()), id,
                  out);
    return hex(out);
}

TEST(HmacVectors, Rfc2202AndRfc4231) {
    const std::pair<const char*, int> files[] = {{"hmac-rfc2202-md5.txt", kHashMd5},
                                                 {"hmac-rfc2202-sha1.txt", kHashSha1},
                                                 {"hmac-rfc4231-sha256.txt", kHashSha256},
                                                 {"hmac-rfc4231-sha384.txt", kHashSha384},
                                                 {"hmac-rfc4231-sha512.txt", kHashSha512}};
    for (auto [file, id] : files) {
        auto records = cryptotest::readRecords(file, "MD");
        ASSERT_GE(records.size(), 6u) << file;
        for (auto& r : records)
            EXPECT_EQ(mac(id, unhex(r["Key"]), unhex(r["Msg"])), r["MD"]) << file << " key " << r["Key"];
    }
}

// Keys on both sides of each block size, against python's hmac, one run for all.
TEST(HmacPeers, RandomKeysAndMessagesMatchPython) {
    const std::size_t keyLengths[] = {0, 1, 20, 63, 64, 65, 100, 127, 128, 129, 131, 300};
    std::mt19937 rng(2104);
    std::string input;
    std::vector<std::string> ours;
    for (int id : {kHashMd5, kHashSha1, kHashSha256, kHashSha384, kHashSha512}) {
        StringBuffer name;
        hashIdToName(id, name);
        for (std::size_t keyLength : keyLengths) {
            std::string key = randomBytes(rng, keyLength);
            std::string msg = randomBytes(rng, rng() % 600);
            input += std::string(name.getString()) + " " + hex(key.data(), key.size()) + " " +
                     hex(msg.data(), msg.size()) + "\n";
            ours.push_back(mac(id, key, msg));
        }
    }
    const auto judged = grvtest::Python("import sys,hmac\n"
                                        "for l in sys.stdin:\n"
                                        "  h,k,m=(l.split(' ')+[''])[:3]\n"
                                        "  print(hmac.new(bytes.fromhex(k),bytes.fromhex(m.strip()),h).hexdigest())",
                                        {}, input);
    ASSERT_EQ(judged.status, 0) << judged.err;
    std::istringstream out(judged.out);
    std::string want;
    for (const std::string& got : ours) {
        ASSERT_TRUE(std::getline(out, want));
        EXPECT_EQ(got, want);
    }
}

// HMAC under "md4" took SHA-1 digests with a 16-byte length: now it is HMAC-MD4.
TEST(HmacPeers, HmacMd4MatchesOpenssl) {
    std::mt19937 rng(1320);
    for (std::size_t keyLength : {0u, 16u, 64u, 65u, 200u}) {
        std::string key = randomBytes(rng, keyLength);
        std::string msg = randomBytes(rng, 1 + rng() % 300);
        grvtest::RunOptions feed;
        feed.input = msg;
        const auto run = grvtest::RunProgram(
            {"openssl", "mac", "-provider", "legacy", "-provider", "default", "-digest", "MD4", "-macopt",
             "hexkey:" + (key.empty() ? std::string("00") : hex(key.data(), key.size())), "HMAC"},
            feed);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string& out = run.out;
        // A one-byte zero key pads to the same block as the empty key.
        std::string want = out.substr(0, out.find_first_of("\r\n"));
        for (char& c : want)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(mac(kHashMd4, key, msg), want) << keyLength;
    }
}

TEST(HmacEdges, ConveniencesEmptyAndNegativeKeys) {
    const std::string key = "key", msg = "The quick brown fox jumps over the lazy dog";
    unsigned char m5[16] = {}, m1[20] = {};
    Hmac h;
    h.hmacMd5(key.data(), 3, msg.data(), static_cast<std::uint32_t>(msg.size()), m5);
    h.hmacSha1(key.data(), 3, msg.data(), static_cast<std::uint32_t>(msg.size()), m1);
    EXPECT_EQ(hex(m5, 16), mac(kHashMd5, key, msg));
    EXPECT_EQ(hex(m1, 20), mac(kHashSha1, key, msg));
    h.hmacMd5(key.data(), 3, msg.data(), 3, nullptr); // computes and writes nothing
    h.hmacSha1(key.data(), 3, msg.data(), 3, nullptr);
    // A negative key length counts as an empty key rather than a huge copy.
    DataBuffer out;
    h.doHmac(msg.data(), static_cast<std::uint32_t>(msg.size()), key.data(), -5, kHashSha256, out);
    EXPECT_EQ(hex(out), mac(kHashSha256, "", msg));
    EXPECT_EQ(mac(kHashSha1, "", ""), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

} // namespace
