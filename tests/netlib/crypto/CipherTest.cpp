#include <gtest/gtest.h>
#include <sys/mman.h>

#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CryptoTestSupport.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/AesHardware.h"
#include "netlib/crypto/CipherNames.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TessikArc4.h"
#include "netlib/crypto/TessikDes.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::Bytes;
using cryptotest::hex;
using cryptotest::kFailed;
using cryptotest::str;
using cryptotest::unhex;

namespace {

grvtest::RunResult runWithInput(const std::vector<std::string>& argv, const std::string& input) {
    grvtest::RunOptions options;
    options.input = input;
    return grvtest::RunProgram(argv, options);
}

struct CipherSetup {
    int cipher;    // kCipherAes or kCipherDes
    int bits;      // key length
    unsigned mode; // the cipher's own mode number
};

std::unique_ptr<RijndaelContext> aes(const CipherSetup& s, const std::string& key, const std::string& iv,
                                     unsigned scheme) {
    auto ctx = std::make_unique<RijndaelContext>();
    ctx->setKeyLength(s.bits);
    ctx->setKeyBytes(key.data(), static_cast<unsigned int>(key.size()));
    ctx->setIvBytes(iv.data(), static_cast<unsigned int>(iv.size()));
    ctx->setPaddingScheme(scheme);
    s.mode == kAesModeEcb ? ctx->setModeEcb() : ctx->setModeCbc();
    return ctx;
}

std::unique_ptr<TessikDes> des(const CipherSetup& s, const std::string& key, const std::string& iv, unsigned scheme) {
    auto ctx = std::make_unique<TessikDes>();
    LogNull log;
    ctx->setKey(Bytes(key), static_cast<unsigned int>(s.bits), log);
    ctx->setIv(Bytes(iv));
    ctx->setPaddingScheme(scheme);
    ctx->setCipherMode(s.mode);
    return ctx;
}

// Whole-buffer encryption or decryption by a fresh cipher object.
std::string crypt(bool encrypt, const CipherSetup& s, const std::string& key, const std::string& iv,
                  const std::string& data, unsigned scheme) {
    LogNull log;
    Bytes in(data);
    std::unique_ptr<DataBuffer> out;
    if (s.cipher == kCipherAes) {
        auto ctx = aes(s, key, iv, scheme);
        out.reset(encrypt ? ctx->encryptDbNew(in, log) : ctx->decryptDbNew(in, log));
    } else {
        auto ctx = des(s, key, iv, scheme);
        out.reset(encrypt ? ctx->encryptDbNew(in, log) : ctx->decryptDbNew(in, log));
    }
    EXPECT_EQ(in.getSize(), data.size()) << "the input is given back as it came";
    return str(out.get());
}

// The chunk entry points on the data cut at `cuts`, as the crypt component
// drives them.
std::string chunked(bool encrypt, const CipherSetup& s, const std::string& key, const std::string& iv,
                    const std::string& data, const std::vector<std::size_t>& cuts, unsigned scheme) {
    if (s.cipher == kCipherAes)
        return cryptotest::chunkedRun(*aes(s, key, iv, scheme), encrypt, data, cuts);
    return cryptotest::chunkedRun(*des(s, key, iv, scheme), encrypt, data, cuts);
}

class AesBothPaths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { setAesHardwareAllowed(GetParam()); }
    void TearDown() override { setAesHardwareAllowed(true); }
};

TEST_P(AesBothPaths, Fips197AppendixC) {
    auto records = cryptotest::readRecords("aes-fips197-appendix-c.txt", "CIPHERTEXT");
    ASSERT_EQ(records.size(), 3u);
    for (auto& r : records) {
        const std::string key = unhex(r["KEY"]);
        CipherSetup s{kCipherAes, static_cast<int>(key.size() * 8), kAesModeEcb};
        EXPECT_EQ(hex(crypt(true, s, key, "", unhex(r["PLAINTEXT"]), kPadZeros).data(), 16), r["CIPHERTEXT"]);
        EXPECT_EQ(hex(crypt(false, s, key, "", unhex(r["CIPHERTEXT"]), kPadZeros).data(), 16), r["PLAINTEXT"]);
    }
}

TEST_P(AesBothPaths, CavpKnownAnswerAndMultiblock) {
    int files = 0, cases = 0;
    for (std::string mode : {"ECB", "CBC"})
        for (std::string kind : {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"})
            for (std::string bits : {"128", "192", "256"}) {
                auto records = cryptotest::readCavp(
                    cryptotest::cipherVectorPath("AES/" + mode + "/" + mode + kind + bits + ".rsp"));
                files += !records.empty();
                for (auto& r : records) {
                    CipherSetup s{kCipherAes, std::stoi(bits), mode == "ECB" ? kAesModeEcb : kAesModeCbc};
                    const std::string key = unhex(r["KEY"]), iv = unhex(r["IV"]);
                    const std::string p = unhex(r["PLAINTEXT"]), c = unhex(r["CIPHERTEXT"]);
                    if (r["section"] == "ENCRYPT")
                        EXPECT_EQ(hex(crypt(true, s, key, iv, p, kPadZeros)), hex(c)) << mode << kind << bits;
                    else
                        EXPECT_EQ(hex(crypt(false, s, key, iv, c, kPadZeros)), hex(p)) << mode << kind << bits;
                    ++cases;
                }
            }
    EXPECT_EQ(files, 30);
    EXPECT_GT(cases, 2000);
}

TEST_P(AesBothPaths, CounterModeIsEcbOfLittleEndianCounters) {
    std::mt19937 rng(7);
    for (int bits : {128, 192, 256}) {
        const std::string key = cryptotest::randomBytes(rng, bits / 8);
        const std::string data = cryptotest::randomBytes(rng, 256 * 16 + 37);
        RijndaelContext ctx;
        ctx.setKeyLength(bits);
        ctx.setKeyBytes(key.data(), static_cast<unsigned int>(key.size()));
        ctx.setModeCtr();
        ctx.makeKeyCtr();
        unsigned char counter[16] = {}, stream[16];
        unsigned int pos = 16;
        std::string work = data;
        auto xorFrom = [&](std::size_t at, std::size_t n) {
            ctx.ctrXor(reinterpret_cast<unsigned char*>(&work[at]), static_cast<unsigned int>(n), counter, stream,
                       &pos);
        };
        xorFrom(0, 16);
        EXPECT_EQ(hex(counter, 16), "01000000000000000000000000000000");
        xorFrom(16, 255 * 16);
        EXPECT_EQ(hex(counter, 16), "00010000000000000000000000000000");
        for (std::size_t at = 256 * 16; at < work.size();) {
            std::size_t n = std::min<std::size_t>(rng() % 10, work.size() - at);
            xorFrom(at, n);
            at += n;
        }
        // The counters, encrypted in ECB by openssl, are the keystream.
        std::string counters;
        for (std::uint64_t i = 1; counters.size() < data.size(); ++i)
            for (int b = 0; b < 16; ++b)
                counters += static_cast<char>(b < 8 ? (i >> (8 * b)) & 0xFF : 0);
        auto ecb = runWithInput(
            {"openssl", "enc", "-aes-" + std::to_string(bits) + "-ecb", "-nopad", "-K", hex(key.data(), key.size())},
            counters);
        ASSERT_TRUE(ecb.Ok()) << ecb.err;
        std::string expect = data;
        for (std::size_t i = 0; i < expect.size(); ++i)
            expect[i] = static_cast<char>(expect[i] ^ ecb.out[i]);
        EXPECT_EQ(hex(work), hex(expect)) << bits;
    }
}

// The instruction path only where the processor has it; the tables always.
std::vector<bool> aesPaths() {
    return aesHardwarePresent() ? std::vector<bool>{false, true} : std::vector<bool>{false};
}

INSTANTIATE_TEST_SUITE_P(Paths, AesBothPaths, ::testing::ValuesIn(aesPaths()),
                         [](const auto& info) { return info.param ? "Instructions" : "Tables"; });

// CBC decryption at every width the processor has (blocks one, two or four
// to a register), against ECB decryption on the instructions with the chain
// applied here: runs shorter and longer than a group, ragged tails, the
// chaining value left for the next call, and in place.
class AesCbcWidths : public ::testing::TestWithParam<aesni::CbcWidth> {};

TEST_P(AesCbcWidths, MatchesEcbWithTheChain) {
    const aesni::CbcWidth width = GetParam();
    std::mt19937 rng(16);
    for (int rounds : {10, 12, 14}) {
        const std::string keys = cryptotest::randomBytes(rng, 16 * (rounds + 1));
        const auto* k = reinterpret_cast<const unsigned char*>(keys.data());
        for (std::size_t blocks : {1u, 7u, 8u, 9u, 16u, 17u, 31u, 32u, 33u, 64u, 100u, 1027u}) {
            const std::string iv = cryptotest::randomBytes(rng, 16);
            const std::string c = cryptotest::randomBytes(rng, 16 * blocks);
            std::string want(c.size(), '\0');
            aesni::decryptEcb(k, rounds, reinterpret_cast<const unsigned char*>(c.data()),
                              reinterpret_cast<unsigned char*>(want.data()), blocks);
            for (std::size_t i = 0; i < want.size(); ++i)
                want[i] = static_cast<char>(want[i] ^ (i < 16 ? iv[i] : c[i - 16]));
            const std::string where = "rounds " + std::to_string(rounds) + ", blocks " + std::to_string(blocks) +
                                      ", width " + std::to_string(static_cast<int>(width));
            std::string chain = iv, out(c.size(), '\0');
            aesni::decryptCbcAt(width, k, rounds, reinterpret_cast<unsigned char*>(chain.data()),
                                reinterpret_cast<const unsigned char*>(c.data()),
                                reinterpret_cast<unsigned char*>(out.data()), blocks);
            EXPECT_EQ(hex(out), hex(want)) << where;
            EXPECT_EQ(hex(chain), hex(c.substr(c.size() - 16))) << where;
            std::string inPlace = c;
            chain = iv;
            auto* p = reinterpret_cast<unsigned char*>(inPlace.data());
            aesni::decryptCbcAt(width, k, rounds, reinterpret_cast<unsigned char*>(chain.data()), p, p, blocks);
            EXPECT_EQ(hex(inPlace), hex(want)) << where << ", in place";
        }
    }
}

// Only the widths this processor has; none where it has no AES instructions.
std::vector<aesni::CbcWidth> cbcWidths() {
    std::vector<aesni::CbcWidth> widths;
    for (auto width : {aesni::CbcWidth::kOne, aesni::CbcWidth::kTwo, aesni::CbcWidth::kFour})
        if (aesni::cbcWidthSupported(width))
            widths.push_back(width);
    return widths;
}

INSTANTIATE_TEST_SUITE_P(Present, AesCbcWidths, ::testing::ValuesIn(cbcWidths()),
                         [](const auto& info) { return "Blocks" + std::to_string(static_cast<int>(info.param)); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(AesCbcWidths);

TEST(DesVectors, CavpTdesEcbCbcCfb64) {
    const std::vector<std::pair<std::string, unsigned>> groups = {
        {"ECB/TECB", kDesModeEcb}, {"CBC/TCBC", kDesModeCbc}, {"CFB/TCFB64", kDesModeCfb}};
    int files = 0, cases = 0;
    for (auto& [prefix, mode] : groups)
        for (std::string kind : {"MMT1", "MMT2", "MMT3", "invperm", "permop", "subtab", "varkey", "vartext"}) {
            auto records = cryptotest::readCavp(cryptotest::cipherVectorPath("3DES/" + prefix + kind + ".rsp"));
            files += !records.empty();
            for (auto& r : records) {
                std::string key;
                int bits;
                if (r.count("KEYs")) { // one key thrice: single DES
                    key = unhex(r["KEYs"]);
                    bits = kDesSingleBits;
                } else if (r["KEY1"] == r["KEY3"] && r["KEY1"] != r["KEY2"]) {
                    key = unhex(r["KEY1"] + r["KEY2"]);
                    bits = kDesTwoKeyBits;
                } else {
                    key = unhex(r["KEY1"] + r["KEY2"] + r["KEY3"]);
                    bits = kDesThreeKeyBits;
                }
                CipherSetup s{kCipherDes, bits, mode};
                const std::string iv = unhex(r["IV"]), p = unhex(r["PLAINTEXT"]), c = unhex(r["CIPHERTEXT"]);
                if (r["section"] == "ENCRYPT")
                    EXPECT_EQ(hex(crypt(true, s, key, iv, p, kPadZeros)), hex(c)) << prefix << kind;
                else
                    EXPECT_EQ(hex(crypt(false, s, key, iv, c, kPadZeros)), hex(p)) << prefix << kind;
                ++cases;
            }
        }
    EXPECT_EQ(files, 24);
    EXPECT_GT(cases, 1500);
}

TEST(DesVectors, KeyLengthChoosesTheVariant) {
    const std::string k1 = unhex("0123456789abcdef"), k2 = unhex("fedcba9876543210"), block = "8 bytes!";
    const std::string single = crypt(true, {kCipherDes, 56, kDesModeEcb}, k1, "", block, kPadZeros);
    // Two-key EDE with K1 = K2 is single DES; 64 and 111 bits are single DES.
    EXPECT_EQ(crypt(true, {kCipherDes, 128, kDesModeEcb}, k1 + k1, "", block, kPadZeros), single);
    EXPECT_EQ(crypt(true, {kCipherDes, 111, kDesModeEcb}, k1 + k2, "", block, kPadZeros), single);
    EXPECT_NE(crypt(true, {kCipherDes, 112, kDesModeEcb}, k1 + k2, "", block, kPadZeros), single);
    // A short key is zero-extended, and the caller's key keeps its length.
    Bytes shortKey("abcde");
    TessikDes d;
    LogNull log;
    d.setKey(shortKey, 56, log);
    EXPECT_EQ(shortKey.getSize(), 5u);
    EXPECT_EQ(d.getKeyLength(), kDesSingleBits);
    EXPECT_EQ(crypt(true, {kCipherDes, 56, kDesModeEcb}, std::string("abcde\0\0\0", 8), "", block, kPadZeros),
              crypt(true, {kCipherDes, 56, kDesModeEcb}, "abcde", "", block, kPadZeros));
    // Whole-buffer CBC calls on one object continue the chain.
    auto cbc = des({kCipherDes, 168, kDesModeCbc}, k1 + k2 + k1, "", kPadPkcs5);
    Bytes in("same input");
    std::unique_ptr<DataBuffer> a(cbc->encryptDbNew(in, log)), b(cbc->encryptDbNew(in, log));
    EXPECT_NE(str(a.get()), str(b.get()));
}

struct PeerCase {
    const char* name; // openssl enc cipher
    CipherSetup setup;
    bool legacy;
};

const PeerCase kPeerCases[] = {
    {"aes-128-ecb", {kCipherAes, 128, kAesModeEcb}, false},  {"aes-192-ecb", {kCipherAes, 192, kAesModeEcb}, false},
    {"aes-256-ecb", {kCipherAes, 256, kAesModeEcb}, false},  {"aes-128-cbc", {kCipherAes, 128, kAesModeCbc}, false},
    {"aes-192-cbc", {kCipherAes, 192, kAesModeCbc}, false},  {"aes-256-cbc", {kCipherAes, 256, kAesModeCbc}, false},
    {"des-ecb", {kCipherDes, 56, kDesModeEcb}, true},        {"des-cbc", {kCipherDes, 56, kDesModeCbc}, true},
    {"des-cfb", {kCipherDes, 56, kDesModeCfb}, true},        {"des-ede-ecb", {kCipherDes, 112, kDesModeEcb}, false},
    {"des-ede-cbc", {kCipherDes, 112, kDesModeCbc}, false},  {"des-ede-cfb", {kCipherDes, 112, kDesModeCfb}, false},
    {"des-ede3-ecb", {kCipherDes, 168, kDesModeEcb}, false}, {"des-ede3-cbc", {kCipherDes, 168, kDesModeCbc}, false},
    {"des-ede3-cfb", {kCipherDes, 168, kDesModeCfb}, false},
};

std::string openssl(const PeerCase& c, bool encrypt, const std::string& key, const std::string& iv,
                    const std::string& data, bool* ok) {
    std::vector<std::string> argv = {
        "openssl", "enc", "-" + std::string(c.name), encrypt ? "-e" : "-d", "-K", hex(key.data(), key.size())};
    if (c.setup.mode != kAesModeEcb || c.setup.cipher == kCipherDes) {
        if (!(c.setup.cipher == kCipherDes && c.setup.mode == kDesModeEcb))
            argv.insert(argv.end(), {"-iv", hex(iv.data(), iv.size())});
    }
    if (c.legacy)
        argv.insert(argv.end(), {"-provider", "legacy", "-provider", "default"});
    auto run = runWithInput(argv, data);
    *ok = run.Ok();
    EXPECT_TRUE(run.Ok()) << c.name << ": " << run.err;
    return run.out;
}

// Whole-buffer output against openssl enc both ways, and chunked output
// against whole-buffer output on random splits.
TEST(CipherPeers, OpensslEncBothWaysAndChunksAgree) {
    std::mt19937 rng(36);
    for (const auto& c : kPeerCases) {
        const bool aesCipher = c.setup.cipher == kCipherAes;
        const unsigned block = aesCipher ? 16 : 8;
        for (std::size_t length : {1u, 15u, 16u, 17u, 64u, 1000u, 4099u}) {
            // openssl's CFB is a stream mode without padding: whole blocks there.
            const bool cfb = !aesCipher && c.setup.mode == kDesModeCfb;
            if (cfb)
                length = (length + 7) / 8 * 8;
            const unsigned scheme = cfb ? kPadZeros : kPadPkcs5;
            const std::string key = cryptotest::randomBytes(rng, c.setup.bits == 56 ? 8 : c.setup.bits / 8);
            const std::string iv = cryptotest::randomBytes(rng, block);
            const std::string data = cryptotest::randomBytes(rng, length);
            bool ok = false;
            const std::string theirs = openssl(c, true, key, iv, data, &ok);
            ASSERT_TRUE(ok);
            const std::string ours = crypt(true, c.setup, key, iv, data, scheme);
            EXPECT_EQ(hex(ours), hex(theirs)) << c.name << " " << length;
            EXPECT_EQ(hex(crypt(false, c.setup, key, iv, theirs, scheme)), hex(data)) << c.name << " " << length;
            EXPECT_EQ(hex(openssl(c, false, key, iv, ours, &ok)), hex(data)) << c.name << " " << length;

            std::vector<std::size_t> cuts;
            for (std::size_t at = rng() % 40; at < length; at += 1 + rng() % 300)
                cuts.push_back(at);
            if (cuts.empty())
                cuts.push_back(length); // a first chunk, then an empty last one
            EXPECT_EQ(hex(chunked(true, c.setup, key, iv, data, cuts, scheme)), hex(ours)) << c.name << " " << length;
            std::vector<std::size_t> back;
            for (std::size_t at = rng() % 40; at < ours.size(); at += 1 + rng() % 300)
                back.push_back(at);
            if (back.empty())
                back.push_back(ours.size());
            EXPECT_EQ(hex(chunked(false, c.setup, key, iv, ours, back, scheme)), hex(data)) << c.name << " " << length;
        }
    }
}

// An input so long that its output and the padding room would pass what a
// buffer can count fails, and none of it is read: the input is address space
// no byte of which may be touched.
TEST(CipherFailures, OutputPastABuffersCountFails) {
    constexpr std::size_t kInput = std::numeric_limits<unsigned int>::max() - 15; // whole blocks
    void* space = ::mmap(nullptr, kInput, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(space, MAP_FAILED);
    DataBuffer in;
    in.borrowData(space, static_cast<unsigned int>(kInput));
    const std::string key = unhex("000102030405060708090a0b0c0d0e0f");
    Logger log;
    const std::unique_ptr<DataBuffer> aesOut(
        aes(CipherSetup{kCipherAes, 128, kAesModeEcb}, key, "", kPadZeros)->decryptDbNew(in, log));
    TessikArc4 rc4;
    rc4.keySetup(reinterpret_cast<const unsigned char*>(key.data()), static_cast<unsigned int>(key.size()));
    const std::unique_ptr<DataBuffer> rc4Out(rc4.transformDbNew(in));
    ::munmap(space, kInput);
    EXPECT_EQ(aesOut, nullptr);
    EXPECT_EQ(rc4Out, nullptr);
    StringBuffer text;
    log.getLogText(text);
    EXPECT_TRUE(text.containsSubstring(cipher_msg::kNoMemory)) << text.getString();
}

// Bad padding, a wrong length and a truncated input fail, with the reason in
// the log and the caller's buffer untouched.
TEST(CipherFailures, BadPaddingAndTruncatedInputFail) {
    struct Case {
        const char* lastBlock; // hex of the decrypted last block
        unsigned scheme;
    } cases[] = {
        {"00112233445566778899aabbccddee00", kPadPkcs5},       // count 0
        {"00112233445566778899aabbccddee11", kPadPkcs5},       // count above the block
        {"00112233445566778899aabbccdd0303", kPadPkcs5},       // pad bytes differ
        {"00112233445566778899aabbccddeeff", kPadRandomCount}, // count above the block
        {"00112233445566778899aabbccddee00", kPadRandomCount}, // count 0
    };
    const std::string key = unhex("000102030405060708090a0b0c0d0e0f");
    for (const auto& c : cases) {
        const std::string plain = std::string(16, 'x') + unhex(c.lastBlock);
        for (CipherSetup s : {CipherSetup{kCipherAes, 128, kAesModeCbc}, CipherSetup{kCipherDes, 112, kDesModeCbc}}) {
            std::string cipherText = crypt(true, s, key, "", plain, kPadZeros);
            Logger log;
            Bytes in(cipherText);
            std::unique_ptr<DataBuffer> out;
            if (s.cipher == kCipherAes)
                out.reset(aes(s, key, "", c.scheme)->decryptDbNew(in, log));
            else
                out.reset(des(s, key, "", c.scheme)->decryptDbNew(in, log));
            EXPECT_EQ(out, nullptr) << c.lastBlock;
            StringBuffer text;
            log.getLogText(text);
            EXPECT_TRUE(text.containsSubstring(DataBuffer::kInvalidPaddingMessage)) << text.getString();
            EXPECT_EQ(chunked(false, s, key, "", cipherText, {5, 20}, c.scheme), kFailed);
        }
    }
    // Not a whole number of blocks, through every decrypting road.
    for (CipherSetup s : {CipherSetup{kCipherAes, 128, kAesModeCbc}, CipherSetup{kCipherDes, 112, kDesModeCbc},
                          CipherSetup{kCipherDes, 112, kDesModeCfb}}) {
        const std::string good = crypt(true, s, key, "", "some text", kPadPkcs5);
        for (std::size_t cut : {1u, 3u})
            EXPECT_EQ(crypt(false, s, key, "", good.substr(0, good.size() - cut), kPadPkcs5), kFailed);
        EXPECT_EQ(crypt(true, s, key, "", "odd", 9), kFailed) << "scheme 9 pads nothing";
    }
    // decryptDb reports, and leaves the caller's buffer alone on failure.
    RijndaelContext ctx;
    ctx.setKeyLength(128);
    ctx.setKeyBytes(key.data(), 16);
    Bytes in(std::string(20, 'c')), out("kept");
    LogNull log;
    EXPECT_FALSE(ctx.decryptDb(in, out, log));
    EXPECT_EQ(str(&out), "kept");
}

TEST(AesUsers, KeyLengthsAndPasswordKeyedDecryption) {
    const std::pair<int, int> lengths[] = {{0, 128},   {-5, 128},  {128, 128}, {129, 192},
                                           {192, 192}, {193, 256}, {1024, 256}};
    for (auto [given, used] : lengths)
        EXPECT_EQ(RijndaelContext().setKeyLength(given), used) << given;
    // Short keys are zero-extended, long ones cut.
    const std::string ten = "0123456789", forty(40, 'k');
    EXPECT_EQ(crypt(true, {kCipherAes, 128, kAesModeEcb}, ten, "", "block", kPadPkcs5),
              crypt(true, {kCipherAes, 128, kAesModeEcb}, ten + std::string(6, '\0'), "", "block", kPadPkcs5));
    EXPECT_EQ(crypt(true, {kCipherAes, 256, kAesModeEcb}, forty, "", "block", kPadPkcs5),
              crypt(true, {kCipherAes, 256, kAesModeEcb}, forty.substr(0, 32), "", "block", kPadPkcs5));

    // Stored private keys: openssl's AES-128-CBC (zero IV) over data already
    // padded once, under the password key.
    DataBuffer key;
    keyFromPassword("hunter2", key);
    const std::string data = "-----private key bytes-----";
    std::string padded = data + std::string(16 - data.size() % 16, static_cast<char>(16 - data.size() % 16));
    auto run = runWithInput(
        {"openssl", "enc", "-aes-128-cbc", "-K", hex(key.getData(), 16), "-iv", std::string(32, '0')}, padded);
    ASSERT_TRUE(run.Ok()) << run.err;
    LogNull log;
    Bytes out("stale");
    EXPECT_TRUE(
        symmetricDecryptBytes(128, "hunter2", run.out.data(), static_cast<unsigned int>(run.out.size()), out, log));
    EXPECT_EQ(str(&out), data);
    EXPECT_TRUE(symmetricDecryptBytes(128, "hunter2", run.out.data(), 0, out, log));
    EXPECT_EQ(out.getSize(), 0u);

    // Password-protected content: AES-128-CBC, zero IV, one layer of padding.
    AesCrypt holder;
    holder.setPassword("hunter2");
    Bytes in(run.out), plain("stale");
    ASSERT_TRUE(holder.decryptDb(in, plain));
    EXPECT_EQ(str(&plain), padded.substr(0, 32));
    AesCrypt wrong;
    wrong.setPassword("hunter3");
    Bytes kept("kept");
    EXPECT_FALSE(wrong.decryptDb(in, kept)) << "a wrong key shows as bad padding";
    EXPECT_EQ(str(&kept), "kept");

    // The byte swap on decryption reverses every 4-byte group before unpadding.
    auto swapped = aes({kCipherAes, 128, kAesModeEcb}, ten, "", kPadZeros);
    swapped->setByteSwapOnDecrypt(true);
    Bytes cipherText(crypt(true, {kCipherAes, 128, kAesModeEcb}, ten, "", "ABCDEFGHIJKLMNOP", kPadZeros));
    std::unique_ptr<DataBuffer> back(swapped->decryptDbNew(cipherText, log));
    EXPECT_EQ(str(back.get()), "DCBAHGFELKJIPONM");
}

TEST(CipherFramework, PasswordKeyMatchesPythonMd5) {
    DataBuffer k;
    keyFromPassword("", k);
    EXPECT_EQ(hex(k), "d41d8cd98f00b204e9800998ecf8427ed41d8cd98f00b204e9800998ecf8427e");
    for (const char* password : {"secret", "pässwörd with spaces"}) {
        keyFromPassword(password, k);
        auto py =
            grvtest::Python("import hashlib,base64,sys; p=sys.argv[1].encode();"
                            "sys.stdout.write(hashlib.md5(p).hexdigest()+hashlib.md5(base64.b64encode(p)).hexdigest())",
                            {password});
        EXPECT_EQ(hex(k), py.out) << password;
    }
}

} // namespace
