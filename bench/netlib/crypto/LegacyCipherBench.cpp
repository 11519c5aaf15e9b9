// Legacy cipher throughput beside OpenSSL's libcrypto (its legacy provider):
// encryption of 16 KiB chunks, each call continuing the chain or keystream as
// chunked encryption does. Twofish and the older Blowfish have no peer there.
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
#include "netlib/crypto/TessikArc4.h"
#include "netlib/crypto/TessikRc2.h"
#include "netlib/crypto/TwoFish.h"

using namespace tessik;

namespace {

constexpr std::size_t kChunkBytes = 16 * 1024;
constexpr unsigned int kKeyBytes = 16;
constexpr unsigned char kKey[kKeyBytes] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
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

const DataBuffer& key() {
    static DataBuffer k;
    if (k.getSize() == 0)
        k.append(kKey, kKeyBytes);
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
    c->setKey(key(), kKeyBytes, kKeyBytes * 8);
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
    c->setKeyLength(kKeyBytes * 8);
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
    c->setKey(key(), kKeyBytes);
    return [c] {
        std::unique_ptr<DataBuffer> out(c->transformDbNew(chunk()));
        benchmark::DoNotOptimize(out->getData());
    };
}

Encrypt openssl(const char* name) {
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
    std::shared_ptr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr), EVP_CIPHER_free);
    if (!cipher)
        return nullptr;
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_set_key_length(ctx.get(), kKeyBytes);
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
    constexpr int kRuns = 500;
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
    Encrypt theirs;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows = {
        {"RC2-CBC", oursRc2(), openssl("RC2-CBC")},     {"RC4", oursRc4(), openssl("RC4")},
        {"BF-CBC", oursBlowfish2(), openssl("BF-CBC")}, {"Blowfish-old-ECB", oursBlowfish(), nullptr},
        {"Twofish-CBC", oursTwofish(), nullptr},
    };
    for (const Row& r : rows) {
        benchmark::RegisterBenchmark((std::string("Ours/") + r.name).c_str(), run, r.ours);
        if (r.theirs)
            benchmark::RegisterBenchmark((std::string("OpenSSL/") + r.name).c_str(), run, r.theirs);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("MB/s, encryption of 16 KiB chunks, 128-bit keys\n");
    for (const Row& r : rows) {
        const double mine = megabytesPerSecond(r.ours);
        std::printf("%-17s ours %7.0f", r.name, mine);
        if (r.theirs) {
            const double theirs = megabytesPerSecond(r.theirs);
            std::printf("  OpenSSL %7.0f  ratio %.2f", theirs, mine / theirs);
        }
        std::printf("\n");
    }
    return 0;
}
