#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CryptoTestSupport.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::Bytes;
using cryptotest::hex;
using cryptotest::kFailed;
using cryptotest::str;

namespace {

grvtest::RunOptions withInput(const std::string& data) {
    grvtest::RunOptions options;
    options.input = data;
    return options;
}

struct CipherSetup {
    const char* name; // the component's algorithm name
    int keyBits;
    int mode;
    const char* peer; // openssl enc cipher
    bool legacy;
    unsigned ivBytes; // 0: no IV
};

const CipherSetup kSetups[] = {
    {"aes", 128, kCipherModeCbc, "aes-128-cbc", false, 16},
    {"aes", 192, kCipherModeCbc, "aes-192-cbc", false, 16},
    {"aes", 256, kCipherModeCbc, "aes-256-cbc", false, 16},
    {"aes", 256, kCipherModeEcb, "aes-256-ecb", false, 0},
    {"des", 64, kCipherModeCbc, "des-cbc", true, 8},
    {"des", 64, kCipherModeEcb, "des-ecb", true, 0},
    {"3des", 192, kCipherModeCbc, "des-ede3-cbc", false, 8},
    {"rc2", 128, kCipherModeCbc, "rc2-cbc", true, 8},
    {"rc4", 128, kCipherModeCbc, "rc4", true, 0},
    {"blowfish2", 128, kCipherModeCbc, "bf-cbc", true, 8},
    {"blowfish2", 128, kCipherModeEcb, "bf-ecb", true, 0},
    {"aes", 128, kCipherModeEcb, "aes-128-ecb", false, 0},
    {"aes", 192, kCipherModeEcb, "aes-192-ecb", false, 0},
    {"des", 64, kCipherModeCfb, "des-cfb", true, 8},
    {"3des", 128, kCipherModeEcb, "des-ede", false, 0},
    {"3des", 128, kCipherModeCbc, "des-ede-cbc", false, 8},
    {"3des", 128, kCipherModeCfb, "des-ede-cfb", false, 8},
    {"3des", 192, kCipherModeEcb, "des-ede3", false, 0},
    {"3des", 192, kCipherModeCfb, "des-ede3-cfb", false, 8},
    {"rc2", 128, kCipherModeEcb, "rc2-ecb", true, 0},
    {"rc2", 40, kCipherModeCbc, "rc2-40-cbc", true, 8},
    {"rc2", 64, kCipherModeCbc, "rc2-64-cbc", true, 8},
    {"rc4", 40, kCipherModeCbc, "rc4-40", true, 0},
    {"blowfish2", 128, kCipherModeCfb, "bf-cfb", true, 8},
};

// openssl's CFB is a stream mode without padding: those setups are judged on
// whole blocks, under a padding scheme that adds nothing to them.
bool cfb(const CipherSetup& s) {
    return s.mode == kCipherModeCfb;
}

std::unique_ptr<ClsCrypt> make(const CipherSetup& s, const std::string& key, const std::string& iv,
                               int padding = kPadPkcs5) {
    auto c = std::make_unique<ClsCrypt>();
    c->setCryptAlgorithm(s.name);
    c->setKeyLength(s.keyBits);
    c->setCipherMode(s.mode);
    c->setPaddingScheme(cfb(s) && padding == kPadPkcs5 ? static_cast<int>(kPadZeros) : padding);
    c->setRc2EffectiveKeyLength(s.keyBits);
    c->setSecretKey(Bytes(key));
    if (!iv.empty())
        c->setIV(Bytes(iv));
    return c;
}

std::string peer(const CipherSetup& s, bool encrypt, const std::string& key, const std::string& iv,
                 const std::string& data, bool pad = true) {
    std::vector<std::string> argv = {"openssl", "enc",   "-" + std::string(s.peer), encrypt ? "-e" : "-d",
                                     "-K",      hex(key)};
    if (!iv.empty())
        argv.insert(argv.end(), {"-iv", hex(iv)});
    if (!pad)
        argv.push_back("-nopad");
    if (s.legacy)
        argv.insert(argv.end(), {"-provider", "legacy", "-provider", "default"});
    auto run = grvtest::RunProgram(argv, withInput(data));
    EXPECT_EQ(run.status, 0) << s.peer << ": " << run.err;
    return run.out;
}

std::string encrypt(ClsCrypt& c, const std::string& data) {
    LogNull log;
    Bytes in(data), out("stale");
    return c.encryptBytesToDb(in, out, nullptr, log, false) ? str(&out) : kFailed;
}

std::string decrypt(ClsCrypt& c, const std::string& data) {
    LogNull log;
    Bytes in(data), out("stale");
    return c.decryptBytesToDb(in, out, log) ? str(&out) : kFailed;
}

// Whole buffers both ways through the component against openssl enc, every
// cipher and mode both offer.
TEST(CryptOperationsPeers, WholeBuffersMatchOpensslEnc) {
    std::mt19937 rng(8141);
    for (const CipherSetup& s : kSetups) {
        const std::string key = cryptotest::randomBytes(rng, static_cast<std::size_t>(s.keyBits / 8));
        const std::string iv = cryptotest::randomBytes(rng, s.ivBytes);
        for (std::size_t n : {1u, 15u, 16u, 17u, 1000u}) {
            const std::string data = cryptotest::randomBytes(rng, cfb(s) ? (n + 7) / 8 * 8 : n);
            auto c = make(s, key, iv);
            const std::string ours = encrypt(*c, data);
            EXPECT_EQ(hex(ours), hex(peer(s, true, key, iv, data))) << s.peer << " " << n;
            EXPECT_EQ(decrypt(*c, peer(s, true, key, iv, data)), data) << s.peer << " " << n;
        }
    }
}

// TLS-style records: first-chunk on for the first, last-chunk off throughout;
// the chaining value runs on, so the records joined are one CBC stream.
TEST(CryptOperationsChunks, RecordsChainLikeOneCbcStream) {
    std::mt19937 rng(5246);
    for (const CipherSetup& s : kSetups) {
        if (s.ivBytes == 0 && std::string(s.name) != "rc4")
            continue;
        const std::string key = cryptotest::randomBytes(rng, static_cast<std::size_t>(s.keyBits / 8));
        const std::string iv = cryptotest::randomBytes(rng, s.ivBytes);
        auto enc = make(s, key, iv, kPadZeros), dec = make(s, key, iv, kPadZeros);
        enc->setLastChunk(false);
        dec->setLastChunk(false);
        std::string all, joined, plain;
        for (int record = 0; record < 5; ++record) {
            const std::string data = cryptotest::randomBytes(rng, 16 * (1 + rng() % 6));
            enc->setFirstChunk(record == 0);
            dec->setFirstChunk(record == 0);
            const std::string ct = encrypt(*enc, data);
            ASSERT_EQ(ct.size(), data.size()) << s.peer;
            plain += decrypt(*dec, ct);
            all += data;
            joined += ct;
        }
        EXPECT_EQ(hex(joined), hex(peer(s, true, key, iv, all, false))) << s.peer;
        EXPECT_EQ(plain, all) << s.peer;
    }
}

// Runs over uneven pieces: first, middles and a last with padding equal the
// whole-buffer result, and the caller's buffers are left as they were.
TEST(CryptOperationsChunks, UnevenRunsEqualWholeBuffers) {
    const std::vector<std::vector<std::size_t>> runs = {{5, 20, 7}, {10, 6}, {16, 16, 0}, {3, 0, 40, 1}, {64, 8}};
    std::mt19937 rng(2398);
    for (const CipherSetup& s : kSetups) {
        if (cfb(s))
            continue; // uneven lengths: openssl's CFB pads nothing
        const std::string key = cryptotest::randomBytes(rng, static_cast<std::size_t>(s.keyBits / 8));
        const std::string iv = cryptotest::randomBytes(rng, s.ivBytes);
        for (const auto& sizes : runs) {
            auto c = make(s, key, iv);
            LogNull log;
            std::string all, out;
            for (std::size_t i = 0; i < sizes.size(); ++i) {
                const std::string data = cryptotest::randomBytes(rng, sizes[i]);
                c->setFirstChunk(i == 0);
                c->setLastChunk(i + 1 == sizes.size());
                Bytes in(data);
                std::unique_ptr<DataBuffer> r(c->encryptBuffer(in, nullptr, log, false));
                ASSERT_TRUE(r) << s.peer;
                EXPECT_EQ(str(&in), data);
                out += str(r.get());
                all += data;
            }
            EXPECT_EQ(hex(out), hex(peer(s, true, key, iv, all))) << s.peer << " run of " << sizes.size();
            // A new run after the end encrypts only its own bytes.
            c->setFirstChunk(false);
            c->setLastChunk(true);
            EXPECT_EQ(hex(encrypt(*c, "fresh")), hex(peer(s, true, key, iv, "fresh"))) << s.peer;
        }
    }
}

// The calls of a chunked run cut at `cuts` (empty calls, an empty last one
// among them), joined.
std::string chunkedRun(ClsCrypt& c, bool encrypt, const std::string& data, const std::vector<std::size_t>& cuts) {
    LogNull log;
    std::string out;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t to = i == cuts.size() ? data.size() : cuts[i];
        c.setFirstChunk(i == 0);
        c.setLastChunk(i == cuts.size());
        Bytes in(data.substr(from, to - from));
        std::unique_ptr<DataBuffer> r(encrypt ? c.encryptBuffer(in, nullptr, log, false) : c.decryptBuffer(in, log));
        if (!r)
            return kFailed;
        out += str(r.get());
        from = to;
    }
    return out;
}

// Every cut into two calls and, for short inputs, into three: a chunked run
// gives exactly what one whole buffer gives, under every cipher and padding,
// an empty last call included (16 bytes of AES-CBC in one chunk and an empty
// last call are 32 bytes, as in one piece).
TEST(CryptOperationsChunks, EveryCutEqualsTheWholeBuffer) {
    struct Cipher {
        const char* name;
        int keyBits, mode;
    };
    const Cipher ciphers[] = {
        {"aes", 128, kCipherModeCbc},  {"aes", 256, kCipherModeEcb},       {"des", 64, kCipherModeCfb},
        {"3des", 192, kCipherModeCbc}, {"rc2", 128, kCipherModeCbc},       {"rc4", 128, 0},
        {"blowfish", 128, 0},          {"blowfish2", 128, kCipherModeCfb}, {"twofish", 256, kCipherModeCbc}};
    std::mt19937 rng(66);
    int runs = 0;
    for (const Cipher& cipher : ciphers) {
        const CipherSetup s{cipher.name, cipher.keyBits, cipher.mode, "", false, 16};
        const std::string key = cryptotest::randomBytes(rng, 32), iv = cryptotest::randomBytes(rng, 16);
        for (int scheme : {kPadPkcs5, kPadRandomCount, kPadRandom, kPadZeros, kPadSpaces}) {
            // Random padding differs between runs: the lengths are compared, and the
            // plaintext read back.
            const bool random = scheme == kPadRandomCount || scheme == kPadRandom;
            for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u}) {
                const std::string data = cryptotest::randomBytes(rng, n);
                const std::string whole = encrypt(*make(s, key, iv, scheme), data);
                ASSERT_NE(whole, kFailed) << cipher.name;
                std::vector<std::vector<std::size_t>> cuts;
                for (std::size_t a = 0; a <= n; ++a) {
                    cuts.push_back({a});
                    for (std::size_t b = a; n <= 17 && b <= n; ++b)
                        cuts.push_back({a, b});
                }
                for (const auto& cut : cuts) {
                    auto c = make(s, key, iv, scheme);
                    const std::string ours = chunkedRun(*c, true, data, cut);
                    if (random) {
                        ASSERT_EQ(ours.size(), whole.size()) << cipher.name << " scheme " << scheme << " n " << n;
                        const std::string back = decrypt(*make(s, key, iv, kPadZeros), ours);
                        ASSERT_EQ(hex(back.substr(0, n)), hex(data)) << cipher.name << " scheme " << scheme;
                    } else {
                        ASSERT_EQ(hex(ours), hex(whole))
                            << cipher.name << " scheme " << scheme << " n " << n << " cut at " << cut[0];
                    }
                    // Decryption of the whole buffer's output, cut the same way
                    // (within its own length).
                    std::vector<std::size_t> back;
                    for (std::size_t at : cut)
                        back.push_back(std::min(at, whole.size()));
                    const std::string expect = decrypt(*make(s, key, iv, scheme), whole);
                    ASSERT_EQ(hex(chunkedRun(*make(s, key, iv, scheme), false, whole, back)), hex(expect))
                        << cipher.name << " scheme " << scheme << " n " << n << " cut at " << cut[0];
                    ++runs;
                }
            }
        }
    }
    EXPECT_GT(runs, 10000);
    // The case as first reported: 16 bytes of 'A', one chunk, an empty last call.
    auto aes = make({"aes", 128, kCipherModeCbc, "", false, 16}, std::string(16, 'k'), std::string(16, 'i'));
    EXPECT_EQ(chunkedRun(*aes, true, std::string(16, 'A'), {16}).size(), 32u);
}

TEST(CryptOperationsFailures, BadInputFailsAndNoneAndChunkLimits) {
    const CipherSetup& aes = kSetups[0];
    auto c = make(aes, std::string(16, 'k'), std::string(16, 'i'));
    EXPECT_EQ(decrypt(*c, std::string(15, 'x')), kFailed); // not whole blocks
    EXPECT_EQ(decrypt(*c, std::string(16, 1)), kFailed);   // padding that does not check
    ClsCrypt noKey;
    EXPECT_EQ(encrypt(noKey, "abc"), kFailed);
    ClsCrypt none;
    none.setCryptAlgorithm("none");
    EXPECT_EQ(encrypt(none, "plain"), "plain");
    ClsCrypt pki;
    pki.setAlgorithmId(kCipherPki);
    pki.setFirstChunk(true);
    pki.setLastChunk(false);
    EXPECT_EQ(encrypt(pki, "abc"), kFailed);
    EXPECT_EQ(decrypt(pki, "abc"), kFailed);
}

TEST(CryptOperationsHmac, MatchesOpensslMacAndLeavesOnlyTheMac) {
    std::mt19937 rng(2104);
    for (const char* hash : {"sha1", "md5", "sha256", "sha384", "sha512"}) {
        const std::string key = cryptotest::randomBytes(rng, 1 + rng() % 100);
        const std::string data = cryptotest::randomBytes(rng, rng() % 500);
        ClsCrypt c;
        c.setHashAlgorithm(hash);
        c.SetHmacKeyBytes(Bytes(key));
        Bytes out("stale bytes before");
        ASSERT_TRUE(c.HmacBytes(Bytes(data), out));
        auto run = grvtest::RunProgram(
            {"openssl", "mac", "-digest", hash, "-macopt", "hexkey:" + hex(key), "-binary", "HMAC"}, withInput(data));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(hex(out), hex(run.out)) << hash;
    }
}

// Empties at the end only after a read that returned nothing.
class LateEndSource : public MemoryDataSource {
public:
    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* n, LogBase* log) override {
        if (MemoryDataSource::endOfStream()) {
            *n = 0;
            m_ended = true;
            return true;
        }
        return MemoryDataSource::readChunk(buffer, size, n, log);
    }
    bool endOfStream() override { return m_ended; }

private:
    bool m_ended = false;
};

class FailingOutput : public Output {
public:
    std::uint32_t writeBytes(const void*, std::uint32_t, std::uint32_t, ProgressMonitor*, LogBase&) override {
        return 0;
    }
};

TEST(CryptOperationsSource, SourcesOfAnyEndingEncryptLikeOneBuffer) {
    std::mt19937 rng(6400);
    const CipherSetup& s = kSetups[2];
    const std::string key = cryptotest::randomBytes(rng, 32), iv = cryptotest::randomBytes(rng, 16);
    for (std::size_t n : {0u, 100u, 64000u, 128000u, 150000u}) {
        const std::string data = cryptotest::randomBytes(rng, n);
        const std::string want = n ? peer(s, true, key, iv, data) : "";
        for (bool late : {false, true}) {
            auto c = make(s, key, iv);
            std::unique_ptr<MemoryDataSource> src(late ? new LateEndSource() : new MemoryDataSource());
            src->setData(data.data(), data.size(), false);
            DataBuffer got;
            OutputDataBuffer out(&got);
            LogNull log;
            ASSERT_TRUE(c->encryptSourceToOutput(*src, out, nullptr, log)) << n;
            EXPECT_EQ(hex(got), hex(want)) << n << (late ? " late end" : "");
        }
    }
    auto c = make(s, key, iv);
    const std::string data(70000, 'z');
    MemoryDataSource src;
    src.setData(data.data(), data.size(), false);
    FailingOutput sink;
    LogNull log;
    EXPECT_FALSE(c->encryptSourceToOutput(src, sink, nullptr, log));
}

} // namespace
