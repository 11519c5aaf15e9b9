// Cipher throughput beside OpenSSL's libcrypto (the legacy ciphers through its
// legacy provider): encryption and decryption of 16 KiB chunks, each call
// continuing the chain or keystream as record encryption does, the medians
// of turns taken in alternation. Ours runs AES on the AES instructions where
// present (CBC decryption on their widest vector form, and then the loop
// alone at each width the processor has) and on the table code. Twofish
// and the older Blowfish have no peer there.
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

#include "bench/BenchSupport.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/AesHardware.h"
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
constexpr unsigned int kLegacyKeyBytes = 16;

using Run = std::function<void()>;

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
        k.append(kKey, kLegacyKeyBytes);
    return k;
}

// A cipher with the framework's chunk calls, keyed and run through its first
// chunk; each call then encrypts (or decrypts) one next chunk.
template <class Cipher>
Run chunks(std::shared_ptr<Cipher> c, bool encrypt) {
    auto carried = std::make_shared<DataBuffer>();
    auto ivArea = std::make_shared<std::vector<unsigned char>>(16);
    LogNull log;
    if (encrypt)
        delete c->encryptFirstChunk(chunk(), *carried, log);
    else
        delete c->decryptFirstChunk(chunk(), ivArea->data(), log);
    return [c, carried, ivArea, encrypt] {
        LogNull quiet;
        std::unique_ptr<DataBuffer> out(encrypt ? c->encryptNextChunk(chunk(), *carried, quiet)
                                                : c->decryptNextChunk(chunk(), ivArea->data(), quiet));
        benchmark::DoNotOptimize(out->getData());
    };
}

Run oursAes(int bits, bool instructions, bool encrypt) {
    auto ctx = std::make_shared<RijndaelContext>();
    ctx->setKeyLength(bits);
    ctx->setKeyBytes(kKey, static_cast<unsigned int>(bits / 8));
    ctx->setModeCbc();
    Run run = chunks(ctx, encrypt);
    return [run, instructions] {
        setAesHardwareAllowed(instructions);
        run();
        setAesHardwareAllowed(true);
    };
}

Run oursTripleDes(bool encrypt) {
    auto des = std::make_shared<TessikDes>();
    DataBuffer k;
    k.append(kKey, 24);
    LogNull log;
    des->setKey(k, kDesThreeKeyBits, log);
    des->setCipherMode(kDesModeCbc);
    return chunks(des, encrypt);
}

Run oursRc2(bool encrypt) {
    auto c = std::make_shared<TessikRc2>();
    c->setKey(key(), kLegacyKeyBytes, kLegacyKeyBytes * 8);
    return chunks(c, encrypt);
}

Run oursBlowfish2(bool encrypt) {
    auto c = std::make_shared<Blowfish2>();
    c->setKey(key());
    c->setModeCbc();
    return chunks(c, encrypt);
}

Run oursTwofish(bool encrypt) {
    auto c = std::make_shared<TwoFish>();
    c->setKeyLength(kLegacyKeyBytes * 8);
    c->setKey(key());
    return chunks(c, encrypt);
}

Run oursBlowfish(bool encrypt) {
    auto c = std::make_shared<Blowfish>();
    c->setKey(key());
    return chunks(c, encrypt);
}

Run oursRc4(bool) {
    auto c = std::make_shared<TessikArc4>();
    c->setKey(key(), kLegacyKeyBytes);
    return [c] {
        std::unique_ptr<DataBuffer> out(c->transformDbNew(chunk()));
        benchmark::DoNotOptimize(out->getData());
    };
}

Run evp(const EVP_CIPHER* cipher, unsigned int keyBytes, bool encrypt) {
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex2(ctx.get(), cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr);
    if (keyBytes)
        EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(keyBytes));
    EVP_CipherInit_ex2(ctx.get(), nullptr, kKey, kIv, encrypt ? 1 : 0, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    auto out = std::make_shared<std::vector<unsigned char>>(kChunkBytes + 32);
    return [ctx, out] {
        int len = 0;
        EVP_CipherUpdate(ctx.get(), out->data(), &len, chunk().getData(), static_cast<int>(kChunkBytes));
        benchmark::DoNotOptimize(out->data());
    };
}

Run openssl(const EVP_CIPHER* cipher, bool encrypt) {
    return evp(cipher, 0, encrypt);
}

// A legacy-provider cipher, keyed with the 16-byte key.
Run opensslLegacy(const char* name, bool encrypt) {
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
    std::shared_ptr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr), EVP_CIPHER_free);
    if (!cipher)
        return nullptr;
    Run run = evp(cipher.get(), kLegacyKeyBytes, encrypt);
    return [cipher, run] { run(); };
}

// CBC decryption of one chunk at one register width, the loop alone (no
// framework around it), on a schedule of random round keys: what a
// processor with only that width gets.
Run aesCbcAtWidth(aesni::CbcWidth width, int rounds) {
    auto keys = std::make_shared<std::vector<unsigned char>>(16 * (rounds + 1));
    std::mt19937 rng(rounds);
    for (auto& b : *keys)
        b = static_cast<unsigned char>(rng());
    auto iv = std::make_shared<std::vector<unsigned char>>(16);
    auto out = std::make_shared<std::vector<unsigned char>>(kChunkBytes);
    return [=] {
        aesni::decryptCbcAt(width, keys->data(), rounds, iv->data(), chunk().getData(), out->data(), kChunkBytes / 16);
        benchmark::DoNotOptimize(out->data());
    };
}

void run(benchmark::State& state, Run work) {
    for (auto _ : state)
        work();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunkBytes));
}

// MB/s (10^6 bytes) of the fastest of many runs: on a shared machine the
// best run is the one least disturbed.
double megabytesPerSecond(const Run& work) {
    using Clock = std::chrono::steady_clock;
    const int runs = benchsupport::smokeRun() ? 3 : 1000;
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return kChunkBytes / 1e6 / best;
}

// One direction of one cipher: ours, ours on the AES tables, the peer.
struct Side {
    Run ours;
    Run oursTables;
    Run theirs;
};

struct Row {
    const char* name;
    Side encrypt;
    Side decrypt;
};

template <class Make>
Row row(const char* name, Make make) {
    return {name, make(true), make(false)};
}

// Ours beside the peer: the medians of turns taken in alternation.
void printSide(const Side& s) {
    if (s.theirs) {
        const benchsupport::Beside b = benchsupport::medianBeside([&] { return megabytesPerSecond(s.ours); },
                                                                  [&] { return megabytesPerSecond(s.theirs); });
        std::printf("  ours %6.0f", b.ours);
        if (s.oursTables)
            std::printf(" tables %5.0f", megabytesPerSecond(s.oursTables));
        else
            std::printf("  %11s", "");
        std::printf(" OpenSSL %6.0f ratio %4.2f", b.theirs, b.ratio);
    } else {
        std::printf("  ours %6.0f  %11s  %26s", megabytesPerSecond(s.ours), "", "");
    }
}

} // namespace

int main(int argc, char** argv) {
    auto aes = [](int bits, const EVP_CIPHER* peer) {
        return [bits, peer](bool encrypt) {
            return Side{oursAes(bits, true, encrypt), oursAes(bits, false, encrypt), openssl(peer, encrypt)};
        };
    };
    std::vector<Row> rows = {
        row("AES-128-CBC", aes(128, EVP_aes_128_cbc())),
        row("AES-256-CBC", aes(256, EVP_aes_256_cbc())),
        row("3DES-CBC", [](bool e) { return Side{oursTripleDes(e), nullptr, openssl(EVP_des_ede3_cbc(), e)}; }),
        row("RC2-CBC", [](bool e) { return Side{oursRc2(e), nullptr, opensslLegacy("RC2-CBC", e)}; }),
        row("RC4", [](bool e) { return Side{oursRc4(e), nullptr, opensslLegacy("RC4", e)}; }),
        row("BF-CBC", [](bool e) { return Side{oursBlowfish2(e), nullptr, opensslLegacy("BF-CBC", e)}; }),
        row("Blowfish-ECB", [](bool e) { return Side{oursBlowfish(e), nullptr, nullptr}; }),
        row("Twofish-CBC", [](bool e) { return Side{oursTwofish(e), nullptr, nullptr}; }),
    };
    for (const Row& r : rows)
        for (const auto& [direction, side] : {std::pair{"Encrypt", &r.encrypt}, {"Decrypt", &r.decrypt}}) {
            const std::string name = std::string("/") + direction + "/" + r.name;
            benchmark::RegisterBenchmark(("Ours" + name).c_str(), run, side->ours);
            if (side->oursTables)
                benchmark::RegisterBenchmark(("OursTables" + name).c_str(), run, side->oursTables);
            if (side->theirs)
                benchmark::RegisterBenchmark(("OpenSSL" + name).c_str(), run, side->theirs);
        }
    benchsupport::runRegistered(argc, argv);

    const int width = aesni::cbcWidthSupported(aesni::CbcWidth::kFour)  ? 4
                      : aesni::cbcWidthSupported(aesni::CbcWidth::kTwo) ? 2
                                                                        : 1;
    std::printf("MB/s, 16 KiB chunks, medians of %d turns (AES instructions here: %s; CBC decryption %d block%s to a "
                "register)\n",
                benchsupport::kTurns, aesHardwarePresent() ? "yes" : "no", width, width > 1 ? "s" : "");
    std::printf("%-12s  %-51s  %s\n", "", "encryption", "decryption");
    for (const Row& r : rows) {
        std::printf("%-12s", r.name);
        printSide(r.encrypt);
        std::printf(" |");
        printSide(r.decrypt);
        std::printf("\n");
    }
    // Each narrower width beside the peer, as processors without the wider
    // vector forms run it.
    const std::pair<const char*, int> aesSizes[] = {{"AES-128-CBC", 10}, {"AES-256-CBC", 14}};
    for (const auto& [name, rounds] : aesSizes) {
        const Run peer = openssl(rounds == 10 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), false);
        std::printf("%s decryption by width, the loop alone:", name);
        for (auto width : {aesni::CbcWidth::kFour, aesni::CbcWidth::kTwo, aesni::CbcWidth::kOne}) {
            if (!aesni::cbcWidthSupported(width))
                continue;
            const Run ours = aesCbcAtWidth(width, rounds);
            const benchsupport::Beside b = benchsupport::medianBeside([&] { return megabytesPerSecond(ours); },
                                                                      [&] { return megabytesPerSecond(peer); });
            std::printf("  %d: %6.0f (ratio %4.2f)", static_cast<int>(width), b.ours, b.ratio);
        }
        std::printf("\n");
    }
    return 0;
}
