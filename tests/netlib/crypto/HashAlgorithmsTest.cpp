#include <gtest/gtest.h>

#include <string>

#include "CryptoTestSupport.h"
#include "netlib/crypto/HashAlgorithms.h"

using namespace tessik;

namespace {

TEST(HashNames, BothParsers) {
    struct Row {
        const char* name;
        int lenient;
        int strict;
    };
    const Row rows[] = {
        {"", 1, 1},           {"SHA-1", 1, 1},   {"sha 1", 1, 1},        {"SHA1Digest", 1, 1},     {"hmac-sha1", 1, 1},
        {"SHA-256", 7, 7},    {"sha 256", 7, 1}, {"  SHA-512 \t", 3, 3}, {"sha512digest", 3, 1},   {"SHA384", 2, 2},
        {"MD-5", 5, 5},       {"md2", 4, 4},     {"MD4", 1, 8},          {"ripemd160", 1, 10},     {"RIPEMD-128", 1, 9},
        {"ripemd256", 4, 11}, // the lenient parser finds "md2" in it
        {"ripemd320", 1, 12}, {"haval", 1, 6},   {"gostr3411", 13, 13},  {"my Gost hash", 13, 13}, {"whirlpool", 1, 1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(hashNameToId(r.name), r.lenient) << '"' << r.name << '"';
        EXPECT_EQ(parseHashAlgorithmName(r.name), r.strict) << '"' << r.name << '"';
    }
}

TEST(HashNames, RenderedNamesParseBack) {
    for (int id = -1; id <= 14; ++id) {
        StringBuffer name;
        bool known = hashIdToName(id, name);
        EXPECT_EQ(known, id >= 1 && id <= 13) << id;
        EXPECT_EQ(parseHashAlgorithmName(name.getString()), known ? id : kHashSha1) << name.getString();
    }
    StringBuffer gost;
    hashIdToName(kHashGost, gost);
    EXPECT_STREQ(gost.getString(), "GOST R 34.11-94");
}

// Ids without digest code of their own hashed with SHA-1 while the length said
// 16, so HMAC and PBKDF2 under them were silently non-standard.
TEST(HashDispatch, HashBytesWritesExactlyDigestLengthForEveryId) {
    const std::string sha1Abc = "a9993e364706816aba3e25717850c26c9cd0d89d";
    for (int id = -2; id <= 15; ++id) {
        DataBuffer out;
        out.append("stale", 5);
        hashBytes("abc", 3, id, out);
        EXPECT_EQ(static_cast<int>(out.getSize()), hashDigestLength(id)) << id;
        bool ownCode = id == kHashSha256 || id == kHashSha384 || id == kHashSha512 || id == kHashMd2 ||
                       id == kHashMd4 || id == kHashMd5;
        if (!ownCode) {
            EXPECT_EQ(cryptotest::hex(out), sha1Abc) << id;
        }
    }
    DataBuffer md4;
    hashBytes("abc", 3, kHashMd4, md4);
    EXPECT_EQ(cryptotest::hex(md4), "a448017aaf21d8525fc10ae87aa6729d");
    DataBuffer md5;
    hashBytes(nullptr, 0, kHashMd5, md5);
    EXPECT_EQ(cryptotest::hex(md5), "d41d8cd98f00b204e9800998ecf8427e");
}

} // namespace
