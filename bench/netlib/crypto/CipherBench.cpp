// Cipher throughput beside OpenSSL's libcrypto (the legacy ciphers through its
// legacy provider): encryption of 16 KiB chunks, each call continuing the
// chain or keystream as record encryption does. Ours runs AES on the AES
// instructions where present and on the table code. Twofish and the older
// Blowfish have no peer there.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/Blowfish.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TessikArc4.h"
#include "netlib/crypto/TessikDes.h"
#include "netlib/crypto/TessikRc2.h"
#include "netlib/crypto/TwoFish.h"

using namespace tessik;

namespace {

constexpr std::size_t kChunkBytes = 16 * 1024;
constexpr unsigned char kKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                    17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
constexpr unsigned char kIv[16] = {};

using Encrypt = std::function<void()>;

const DataBuffer& chunk() {
    static const std::unique_ptr<DataBuffer> data = [] {
        auto db = std::make_unique<DataBuffer>();
        std::mt19937 rng(16);
        for (std::size_t i = 0; i < kChunkBytes; ++i)
            db->appendChar(static_cast<unsigned char>(rng()));
        return db;
    }();
    return *data;
}

Encrypt oursAes(int bits, bool instructions) {
    auto ctx = std::make_shared<RijndaelContext>();
    ctx->setKeyLength(bits);
    ctx->setKeyBytes(kKey, static_cast<unsigned int>(bits / 8));
    ctx->setModeCbc();
    auto carried = std::make_shared<DataBuffer>();
    carried->append(kIv, sizeof kIv);
    LogNull log;
    delete ctx->encryptFirstChunk(chunk(), log); // keys the context
    return [ctx, carried, instructions] {
        setAesHardwareAllowed(instructions);
        LogNull quiet;
        std::unique_ptr<DataBuffer> out(ctx->encryptNextChunk(chunk(), *carried, quiet));
        carried->clear();
        carried->append(out->getData() + out->getSize() - kAesBlockSize, kAesBlockSize);
        benchmark::DoNotOptimize(out->getData());
        setAesHardwareAllowed(true);
    };
}

Encrypt oursTripleDes() {
    auto des = std::make_shared<TessikDes>();
    DataBuffer key;
    key.append(kKey, 24);
    LogNull log;
    des->setKey(key, kDesThreeKeyBits, log);
    des->setCipherMode(kDesModeCbc);
    auto carried = std::make_shared<DataBuffer>();
    delete des->encryptFirstChunk(chunk(), *carried, log);
    return [des, carried] {
        LogNull quiet;
        std::unique_ptr<DataBuffer> out(des->encryptNextChunk(chunk(), *carried, quiet));
        benchmark::DoNotOptimize(out->getData());
    };
}

constexpr unsigned int kLegacyKeyBytes = 16;

const DataBuffer& key() {
    static DataBuffer k;
    if (k.getSize() == 0)
        k.append(kKey, kLegacyKeyBytes);
    return k;
}

// A cipher with the framework's chunk calls, keyed and run through its first
// chunk; each call then encrypts one next chunk.
template <class Cipher>
Encrypt chunks(std::shared_ptr<Cipher> c) {
    auto carried = std::make_shared<DataBuffer>();
    LogNull log;
    delete c->encryptFirstChunk(chunk(), *carried, log);
    return [c, carried] {
        LogNull quiet;
        std::unique_ptr<DataBuffer> out(c->encryptNextChunk(chunk(), *carried, quiet));
        benchmark::DoNotOptimize(out->getData());
    };
}

Encrypt oursRc2() {
    auto c = std::make_shared<TessikRc2>();
    c->setKey(key(), kLegacyKeyBytes, kLegacyKeyBytes * 8);
    return chunks(c);
}

Encrypt oursBlowfish2() {
    auto c = std::make_shared<Blowfish2>();
    c->setKey(key());
    c->setModeCbc();
    return chunks(c);
}

Encrypt oursTwofish() {
    auto c = std::make_shared<TwoFish>();
    c->setKeyLength(kLegacyKeyBytes * 8);
    c->setKey(key());
    return chunks(c);
}

Encrypt oursBlowfish() {
    auto c = std::make_shared<Blowfish>();
    c->setKey(key());
    LogNull log;
    delete c->encryptFirstChunk(chunk(), log);
    return [c] {
        LogNull quiet;
        std::unique_ptr<DataBuffer> out(c->encryptNextChunk(chunk(), quiet));
        benchmark::DoNotOptimize(out->getData());
    };
}

Encrypt oursRc4() {
    auto c = std::make_shared<TessikArc4>();
    c->setKey(key(), kLegacyKeyBytes);
    return [c] {
        std::unique_ptr<DataBuffer> out(c->transformDbNew(chunk()));
        benchmark::DoNotOptimize(out->getData());
    };
}

Encrypt openssl(const EVP_CIPHER* cipher) {
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, kKey, kIv);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    auto out = std::make_shared<std::vector<unsigned char>>(kChunkBytes + 32);
    return [ctx, out] {
        int len = 0;
        EVP_EncryptUpdate(ctx.get(), out->data(), &len, chunk().getData(), static_cast<int>(kChunkBytes));
        benchmark::DoNotOptimize(out->data());
    };
}

// A legacy-provider cipher, keyed with the 16-byte key.
Encrypt opensslLegacy(const char* name) {
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
    std::shared_ptr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr), EVP_CIPHER_free);
    if (!cipher)
        return nullptr;
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_set_key_length(ctx.get(), kLegacyKeyBytes);
    EVP_EncryptInit_ex2(ctx.get(), nullptr, kKey, kIv, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    auto out = std::make_shared<std::vector<unsigned char>>(kChunkBytes + 32);
    return [cipher, ctx, out] {
        int len = 0;
        EVP_EncryptUpdate(ctx.get(), out->data(), &len, chunk().getData(), static_cast<int>(kChunkBytes));
        benchmark::DoNotOptimize(out->data());
    };
}

void run(benchmark::State& state, Encrypt encrypt) {
    for (auto _ : state)
        encrypt();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunkBytes));
}

// MB/s (10^6 bytes) of the fastest of many runs: on a shared machine the
// best run is the one least disturbed.
double megabytesPerSecond(const Encrypt& encrypt) {
    using Clock = std::chrono::steady_clock;
    constexpr int kRuns = 1000;
    double best = 1e9;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        encrypt();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return kChunkBytes / 1e6 / best;
}

struct Row {
    const char* name;
    Encrypt ours;
    Encrypt oursTables;
    Encrypt theirs;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows = {
        {"AES-128-CBC", oursAes(128, true), oursAes(128, false), openssl(EVP_aes_128_cbc())},
        {"AES-256-CBC", oursAes(256, true), oursAes(256, false), openssl(EVP_aes_256_cbc())},
        {"3DES-CBC", oursTripleDes(), nullptr, openssl(EVP_des_ede3_cbc())},
        {"RC2-CBC", oursRc2(), nullptr, opensslLegacy("RC2-CBC")},
        {"RC4", oursRc4(), nullptr, opensslLegacy("RC4")},
        {"BF-CBC", oursBlowfish2(), nullptr, opensslLegacy("BF-CBC")},
        {"Blowfish-ECB", oursBlowfish(), nullptr, nullptr},
        {"Twofish-CBC", oursTwofish(), nullptr, nullptr},
    };
    for (const Row& r : rows) {
        benchmark::RegisterBenchmark((std::string("Ours/") + r.name).c_str(), run, r.ours);
        if (r.oursTables)
            benchmark::RegisterBenchmark((std::string("OursTables/") + r.name).c_str(), run, r.oursTables);
        if (r.theirs)
            benchmark::RegisterBenchmark((std::string("OpenSSL/") + r.name).c_str(), run, r.theirs);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("MB/s, encryption of 16 KiB chunks (AES instructions here: %s)\n", aesHardwarePresent() ? "yes" : "no");
    for (const Row& r : rows) {
        const double mine = megabytesPerSecond(r.ours);
        std::printf("%-12s ours %7.0f", r.name, mine);
        if (r.oursTables)
            std::printf("  tables %7.0f", megabytesPerSecond(r.oursTables));
        else
            std::printf("  %14s", "");
        if (r.theirs) {
            const double theirs = megabytesPerSecond(r.theirs);
            std::printf("  OpenSSL %7.0f  ratio %.2f", theirs, mine / theirs);
        }
        std::printf("\n");
    }
    return 0;
}
