#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "CryptoTestSupport.h"
#include "netlib/core/Md5.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Md2.h"
#include "netlib/crypto/Md4.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/crypto/Sha2.h"
#include "netlib/crypto/ShaCompress.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::hex;
using cryptotest::randomBytes;
using cryptotest::unhex;

namespace {

using Pieces = std::vector<std::string_view>;

std::string oneShot(int id, const std::string& msg) {
    DataBuffer out;
    hashBytes(msg.data(), static_cast<std::uint32_t>(msg.size()), id, out);
    return hex(out);
}

// A digest class driven through its incremental interface.
template <class Ctx, auto Make, int Id>
std::string incremental(const Pieces& pieces) {
    std::unique_ptr<Ctx> ctx(Make());
    if constexpr (requires { ctx->initialize(); })
        ctx->initialize();
    for (std::string_view p : pieces)
        ctx->update(p.data(), static_cast<std::uint32_t>(p.size()));
    DataBuffer out;
    if constexpr (std::is_same_v<Ctx, Md2>) {
        ctx->final(out);
    } else {
        unsigned char d[kMaxDigestSize];
        ctx->final(d);
        out.append(d, static_cast<unsigned>(hashDigestLength(Id)));
    }
    return hex(out);
}

template <class Ctx>
Ctx* make() {
    return new Ctx;
}

struct Algo {
    const char* name;
    int id;
    const char* peer;
    std::string (*pieces)(const Pieces&);
};

const Algo kAlgos[] = {
    {"SHA-1", kHashSha1, "openssl dgst -sha1 -r", incremental<Sha1, make<Sha1>, kHashSha1>},
    {"SHA-256", kHashSha256, "openssl dgst -sha256 -r", incremental<Sha2, Sha2::newSha256, kHashSha256>},
    {"SHA-384", kHashSha384, "openssl dgst -sha384 -r", incremental<Sha2, Sha2::newSha384, kHashSha384>},
    {"SHA-512", kHashSha512, "openssl dgst -sha512 -r", incremental<Sha2, Sha2::newSha512, kHashSha512>},
    {"MD2", kHashMd2, "nettle-hash -a md2", incremental<Md2, make<Md2>, kHashMd2>},
    {"MD4", kHashMd4, "openssl dgst -md4 -provider legacy -provider default -r", incremental<Md4, make<Md4>, kHashMd4>},
    {"MD5", kHashMd5, "openssl dgst -md5 -r", incremental<Md5, make<Md5>, kHashMd5>},
};

struct NistFiles {
    int id;
    const char* prefix;
};
constexpr NistFiles kNist[] = {
    {kHashSha1, "SHA1"}, {kHashSha256, "SHA256"}, {kHashSha384, "SHA384"}, {kHashSha512, "SHA512"}};

TEST(DigestVectors, NistShortAndLongMessages) {
    for (const NistFiles& f : kNist) {
        for (const char* kind : {"ShortMsg", "LongMsg"}) {
            auto records = cryptotest::readRecords(std::string(f.prefix) + kind + ".rsp", "MD");
            ASSERT_GE(records.size(), 64u) << f.prefix << kind;
            for (auto& r : records) {
                std::string msg = unhex(r["Msg"]).substr(0, std::stoul(r["Len"]) / 8);
                EXPECT_EQ(oneShot(f.id, msg), r["MD"]) << f.prefix << kind << " Len " << r["Len"];
            }
        }
    }
}

// SHAVS Monte Carlo: each digest hashes the three before it, 1000 times per checkpoint.
TEST(DigestVectors, NistMonteCarlo) {
    for (const NistFiles& f : kNist) {
        auto records = cryptotest::readRecords(std::string(f.prefix) + "Monte.rsp", "MD");
        ASSERT_EQ(records.size(), 100u) << f.prefix;
        std::string seed = unhex(records[0]["Seed"]);
        const std::size_t n = seed.size();
        DataBuffer md;
        for (auto& r : records) {
            std::string window = seed + seed + seed;
            for (int i = 3; i < 1003; ++i) {
                hashBytes(window.data(), static_cast<std::uint32_t>(window.size()), f.id, md);
                window.erase(0, n);
                window.append(reinterpret_cast<const char*>(md.getData()), n);
            }
            seed = window.substr(2 * n);
            ASSERT_EQ(hex(seed.data(), n), r["MD"]) << f.prefix << " COUNT " << r["COUNT"];
        }
    }
}

TEST(DigestVectors, RfcSuitesOfMd2AndMd4) {
    struct Suite {
        const char* file;
        int id;
    };
    for (Suite s : {Suite{"md2-rfc1319.txt", kHashMd2}, Suite{"md4-rfc1320.txt", kHashMd4}}) {
        auto suite = cryptotest::readQuotedSuite(s.file);
        ASSERT_EQ(suite.size(), 7u) << s.file;
        for (auto& [msg, want] : suite)
            EXPECT_EQ(oneShot(s.id, msg), want) << s.file << " \"" << msg << "\"";
    }
}

// Pieces straddling every block and padding boundary give the one-shot digest.
TEST(DigestIncremental, PiecesOfAnySizeGiveTheWholeDigest) {
    std::mt19937 rng(180);
    const std::vector<std::vector<std::size_t>> plans = {
        {1}, {15, 1}, {55, 1, 8}, {63}, {64}, {65}, {111, 17}, {127}, {128}, {129}, {1, 63, 64, 65, 7}};
    for (std::size_t len : {0u, 15u, 16u, 55u, 56u, 64u, 111u, 112u, 128u, 700u, 4099u}) {
        std::string msg = randomBytes(rng, len);
        for (const Algo& a : kAlgos) {
            std::string whole = oneShot(a.id, msg);
            EXPECT_EQ(a.pieces({msg}), whole) << a.name << " length " << len;
            for (const auto& plan : plans) {
                Pieces pieces;
                for (std::size_t pos = 0, k = 0; pos < len; pos += pieces.back().size())
                    pieces.push_back(std::string_view(msg).substr(pos, plan[k++ % plan.size()]));
                pieces.push_back(std::string_view()); // a zero-length update changes nothing
                ASSERT_EQ(a.pieces(pieces), whole) << a.name << " length " << len << " plan[0] " << plan[0];
                // The dispatch's running context, twice: its final starts it over.
                HashContext context(a.id);
                for (int round = 0; round < 2; ++round) {
                    for (std::string_view p : pieces)
                        context.update(p.data(), static_cast<std::uint32_t>(p.size()));
                    DataBuffer out;
                    context.final(out);
                    ASSERT_EQ(hex(out), whole) << a.name << " round " << round;
                }
            }
        }
    }
}

TEST(DigestIncremental, SnapshotsAndRestarts) {
    std::mt19937 rng(1);
    std::string msg = randomBytes(rng, 1000);
    // A copy of a running SHA-1 finishes the prefix while the source runs on.
    for (std::size_t cut : {0u, 1u, 63u, 64u, 100u, 999u}) {
        Sha1 running;
        running.initialize();
        running.update(msg.data(), static_cast<std::uint32_t>(cut));
        Sha1 copy;
        copy.copyState(running);
        unsigned char d[Sha1::kDigestSize];
        copy.final(d);
        EXPECT_EQ(hex(d, sizeof d), oneShot(kHashSha1, msg.substr(0, cut))) << cut;
        running.final(nullptr); // ignored: nothing is padded
        running.update(msg.data() + cut, static_cast<std::uint32_t>(msg.size() - cut));
        running.final(d);
        EXPECT_EQ(hex(d, sizeof d), oneShot(kHashSha1, msg)) << cut;
    }
    // SHA-2 starts over by itself after each final.
    std::unique_ptr<Sha2> ctx(Sha2::newSha384());
    unsigned char d[kSha384DigestSize];
    for (std::size_t len : {200u, 0u, 129u}) {
        ctx->update(msg.data(), static_cast<std::uint32_t>(len));
        ctx->final(d);
        EXPECT_EQ(hex(d, sizeof d), oneShot(kHashSha384, msg.substr(0, len))) << len;
    }
    // The one-shots append after what the output held.
    DataBuffer out;
    out.append("xy", 2);
    Sha1().digestBytes(nullptr, 0, out);
    Sha2::digestSha512Db(DataBuffer(), out);
    Md2().digestBytes(msg.data(), 0, out);
    EXPECT_EQ(hex(out), "7879" + oneShot(kHashSha1, "") + oneShot(kHashSha512, "") + oneShot(kHashMd2, ""));
}

TEST(DigestIncremental, Md4OfUtf16PasswordHashesLittleEndianUnits) {
    const std::u16string text = u"P\u00e4ssw\u00f6rd \u20ac\U0001d11e";
    std::string le;
    for (char16_t u : text)
        le += std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    XString x;
    x.setFromUtf8("P\xc3\xa4ssw\xc3\xb6rd \xe2\x82\xac\xf0\x9d\x84\x9e");
    XString empty;
    empty.setFromUtf8("");
    DataBuffer out;
    Md4().digestUtf16(x, out);
    Md4().digestUtf16(empty, out);
    EXPECT_EQ(hex(out), oneShot(kHashMd4, le) + "31d6cfe0d16ae931b73c59d7e0c089c0");
}

// Random messages of every length up to 1,000 bytes, one peer run per algorithm.
TEST(DigestPeers, EveryLengthUpTo1000) {
    std::mt19937 rng(2024);
    grvtest::TempDir dir;
    std::vector<std::string> messages, files;
    for (std::size_t len = 0; len <= 1000; ++len) {
        messages.push_back(randomBytes(rng, len));
        files.push_back(dir.File("msg-" + std::to_string(len)));
        ASSERT_TRUE(grvtest::WriteFile(files.back(), messages.back()));
    }
    for (const Algo& a : kAlgos) {
        std::vector<std::string> want = cryptotest::peerDigests(a.peer, files);
        ASSERT_EQ(want.size(), messages.size()) << a.peer;
        for (std::size_t i = 0; i < messages.size(); ++i)
            ASSERT_EQ(oneShot(a.id, messages[i]), want[i]) << a.name << " length " << i;
    }
}

TEST(DigestPeers, HundredMegabyteFileInUnevenPieces) {
    constexpr std::size_t kFileSize = 100u << 20;
    std::mt19937 rng(100);
    std::string big = randomBytes(rng, kFileSize);
    grvtest::TempDir dir;
    std::string file = dir.File("big.bin");
    ASSERT_TRUE(grvtest::WriteFile(file, big));
    Pieces pieces;
    for (std::size_t pos = 0, step = 1 << 20; pos < big.size(); pos += pieces.back().size(), step += 4099)
        pieces.push_back(std::string_view(big).substr(pos, step));
    for (const Algo& a : kAlgos) {
        std::vector<std::string> want = cryptotest::peerDigests(a.peer, {file});
        ASSERT_EQ(want.size(), 1u) << a.peer;
        EXPECT_EQ(a.pieces(pieces), want[0]) << a.name;
    }
}

// 513 MiB of zeros: the bit count passes 2^32, carrying into its next word.
TEST(DigestPeers, BitCountCarriesPast32Bits) {
    constexpr std::size_t kChunk = 1u << 20;
    constexpr int kChunks = 513;
    const std::string zeros(kChunk, '\0');
    const Pieces pieces(kChunks, zeros);
    const std::string allZeros(kChunk * kChunks, '\0');
    for (const Algo& a : kAlgos) {
        if (a.id == kHashMd2 || a.id == kHashMd5 || a.id == kHashSha384)
            continue; // MD2 counts no bits; MD5 and SHA-384 share MD4's and SHA-512's count
        std::vector<std::string> argv;
        std::istringstream words(a.peer);
        for (std::string word; words >> word;)
            argv.push_back(word);
        grvtest::RunOptions feed;
        feed.input = allZeros;
        const auto run = grvtest::RunProgram(argv, feed);
        ASSERT_EQ(run.status, 0) << a.peer << ": " << run.err;
        const std::string& want = run.out;
        EXPECT_EQ(a.pieces(pieces), want.substr(0, want.find(' '))) << a.name;
    }
}

// The portable block functions agree with the ones the digests run, which use
// the processor's SHA instructions where it has them.
TEST(ShaBlockFunctions, PortableMatchesDispatched) {
    std::mt19937 rng(7);
    for (std::size_t blocks : {1u, 2u, 3u, 17u}) {
        std::string data = randomBytes(rng, 64 * blocks);
        auto* p = reinterpret_cast<const unsigned char*>(data.data());
        std::uint32_t a[8], b[8];
        for (auto& w : a)
            w = static_cast<std::uint32_t>(rng());
        std::copy(a, a + 8, b);
        shacompress::sha1Portable(a, p, blocks);
        shacompress::sha1(b, p, blocks);
        EXPECT_TRUE(std::equal(a, a + 5, b)) << blocks;
        shacompress::sha256Portable(a, p, blocks);
        shacompress::sha256(b, p, blocks);
        EXPECT_TRUE(std::equal(a, a + 8, b)) << blocks;
    }
}

// SHA-512 with its schedule on vector registers against the portable code,
// from a short run (which it hands on) to long ones, whose last block takes
// its words from the one before.
using Sha512Block = void (*)(std::uint64_t state[8], const unsigned char* data, std::size_t blocks);
class Sha512Blocks : public ::testing::TestWithParam<Sha512Block> {};

TEST_P(Sha512Blocks, MatchPortable) {
    std::mt19937 rng(512);
    for (std::size_t blocks : {0u, 1u, 3u, 4u, 5u, 8u, 33u}) {
        std::string data = randomBytes(rng, 128 * blocks);
        auto* p = reinterpret_cast<const unsigned char*>(data.data());
        std::uint64_t a[8], b[8];
        for (auto& w : a)
            w = (std::uint64_t{rng()} << 32) | rng();
        std::copy(a, a + 8, b);
        shacompress::sha512Portable(a, p, blocks);
        GetParam()(b, p, blocks);
        EXPECT_TRUE(std::equal(a, a + 8, b)) << blocks;
    }
}

// Only where the processor has AVX and BMI2; the portable code alone elsewhere.
std::vector<Sha512Block> sha512Blocks() {
    return shacompress::sha512VectorAvailable() ? std::vector<Sha512Block>{shacompress::sha512Vector}
                                                : std::vector<Sha512Block>{};
}

INSTANTIATE_TEST_SUITE_P(Present, Sha512Blocks, ::testing::ValuesIn(sha512Blocks()),
                         [](const auto&) { return std::string("VectorSchedule"); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Sha512Blocks);

} // namespace
