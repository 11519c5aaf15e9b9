// RSA-2048 signing (PKCS#1 v1.5 block type 1 over a SHA-256 DigestInfo) and
// verification (public exponentiation and unpadding) beside OpenSSL's
// libcrypto on the same key, both on the code they pick by the processor's
// features; the summary prints the medians of turns taken in alternation,
// ours also on its portable arithmetic, and whether the two signatures are
// the same bytes.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/Montgomery.h"
#include "netlib/crypto/Rsa.h"

using namespace tessik;

namespace {

constexpr unsigned int kModulusBits = 2048;
// A SHA-256 DigestInfo with a fixed digest.
const std::vector<unsigned char> kDigestInfo = [] {
    std::vector<unsigned char> info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    for (unsigned char i = 0; i < 32; ++i)
        info.push_back(i);
    return info;
}();

struct Keys {
    EVP_PKEY* peer = nullptr;
    RsaKey ours;
    Keys() {
        peer = EVP_RSA_gen(kModulusBits);
        const std::pair<const char*, MpInt*> fields[] = {
            {OSSL_PKEY_PARAM_RSA_N, &ours.n},          {OSSL_PKEY_PARAM_RSA_E, &ours.e},
            {OSSL_PKEY_PARAM_RSA_D, &ours.d},          {OSSL_PKEY_PARAM_RSA_FACTOR1, &ours.p},
            {OSSL_PKEY_PARAM_RSA_FACTOR2, &ours.q},    {OSSL_PKEY_PARAM_RSA_EXPONENT1, &ours.dP},
            {OSSL_PKEY_PARAM_RSA_EXPONENT2, &ours.dQ}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &ours.qInv}};
        for (const auto& [name, slot] : fields) {
            BIGNUM* bn = nullptr;
            if (peer == nullptr || !EVP_PKEY_get_bn_param(peer, name, &bn)) {
                std::fprintf(stderr, "no RSA key from libcrypto\n");
                std::abort();
            }
            std::vector<unsigned char> bytes(BN_num_bytes(bn));
            BN_bn2bin(bn, bytes.data());
            slot->setBytes(bytes.data(), static_cast<unsigned int>(bytes.size()));
            BN_clear_free(bn);
        }
        ours.keyType = kRsaPrivate;
    }
    ~Keys() { EVP_PKEY_free(peer); }
};

Keys& keys() {
    static Keys k;
    return k;
}

std::vector<unsigned char> peerSign() {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(keys().peer, nullptr);
    std::vector<unsigned char> sig(kModulusBits / 8);
    size_t sigLen = sig.size();
    if (EVP_PKEY_sign_init(ctx) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_sign(ctx, sig.data(), &sigLen, kDigestInfo.data(), kDigestInfo.size()) <= 0)
        std::abort();
    EVP_PKEY_CTX_free(ctx);
    return sig;
}

void BM_Sign_Ours(benchmark::State& state) {
    LogNull log;
    DataBuffer sig;
    for (auto _ : state) {
        if (!SignSslSig(kDigestInfo.data(), static_cast<std::uint32_t>(kDigestInfo.size()), keys().ours, sig, log))
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(sig.getData());
    }
}

void BM_Sign_OpenSSL(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(peerSign());
}

void BM_Verify_Ours(benchmark::State& state) {
    const std::vector<unsigned char> sig = peerSign();
    LogNull log;
    DataBuffer recovered;
    for (auto _ : state) {
        if (!UnsignRsa(sig.data(), static_cast<std::uint32_t>(sig.size()), keys().ours, recovered, log) ||
            recovered.getSize() != kDigestInfo.size())
            state.SkipWithError("verify failed");
    }
}

// Ours on the portable arithmetic, as on a processor without the multiply-add.
void BM_Sign_OursPortable(benchmark::State& state) {
    montgomery::setIfmaAllowed(false);
    BM_Sign_Ours(state);
    montgomery::setIfmaAllowed(true);
}

void BM_Verify_OursPortable(benchmark::State& state) {
    montgomery::setIfmaAllowed(false);
    BM_Verify_Ours(state);
    montgomery::setIfmaAllowed(true);
}

void BM_Verify_OpenSSL(benchmark::State& state) {
    const std::vector<unsigned char> sig = peerSign();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(keys().peer, nullptr);
    EVP_PKEY_verify_recover_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    std::vector<unsigned char> out(kModulusBits / 8);
    for (auto _ : state) {
        size_t outLen = out.size();
        if (EVP_PKEY_verify_recover(ctx, out.data(), &outLen, sig.data(), sig.size()) <= 0 ||
            outLen != kDigestInfo.size())
            state.SkipWithError("verify failed");
    }
    EVP_PKEY_CTX_free(ctx);
}

// Operations a second: the best of a few short runs.
template <class Op>
double opsPerSecond(Op&& op) {
    using Clock = std::chrono::steady_clock;
    const int runs = benchsupport::smokeRun() ? 1 : 3;
    const int ops = benchsupport::smokeRun() ? 1 : 100;
    double best = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < ops; ++i)
            op();
        const double seconds = std::max(std::chrono::duration<double>(Clock::now() - start).count(), 1e-9);
        best = std::max(best, ops / seconds);
    }
    return best;
}

void oursSign() {
    LogNull log;
    DataBuffer sig;
    if (!SignSslSig(kDigestInfo.data(), static_cast<std::uint32_t>(kDigestInfo.size()), keys().ours, sig, log))
        std::abort();
    benchmark::DoNotOptimize(sig.getData());
}

void oursVerify(const std::vector<unsigned char>& sig) {
    LogNull log;
    DataBuffer recovered;
    if (!UnsignRsa(sig.data(), static_cast<std::uint32_t>(sig.size()), keys().ours, recovered, log) ||
        recovered.getSize() != kDigestInfo.size())
        std::abort();
}

struct PeerVerify {
    EVP_PKEY_CTX* ctx;
    std::vector<unsigned char> out;
    PeerVerify() : ctx(EVP_PKEY_CTX_new(keys().peer, nullptr)), out(kModulusBits / 8) {
        EVP_PKEY_verify_recover_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    }
    ~PeerVerify() { EVP_PKEY_CTX_free(ctx); }
    void operator()(const std::vector<unsigned char>& sig) {
        size_t outLen = out.size();
        if (EVP_PKEY_verify_recover(ctx, out.data(), &outLen, sig.data(), sig.size()) <= 0 ||
            outLen != kDigestInfo.size())
            std::abort();
    }
};

void printSummary() {
    const std::vector<unsigned char> sig = peerSign();
    LogNull log;
    DataBuffer ours;
    const bool same =
        SignSslSig(kDigestInfo.data(), static_cast<std::uint32_t>(kDigestInfo.size()), keys().ours, ours, log) &&
        ours.getSize() == sig.size() && std::equal(sig.begin(), sig.end(), ours.getData());
    PeerVerify peerVerify;
    std::printf("RSA-%u, operations a second, medians of %d turns (52-bit multiply-add here: %s; signatures "
                "identical: %s)\n",
                kModulusBits, benchsupport::kTurns, montgomery::ifmaInUse() ? "yes" : "no", same ? "yes" : "NO");
    struct Row {
        const char* name;
        std::function<void()> ours, theirs;
    } rows[] = {{"sign", oursSign, [] { benchmark::DoNotOptimize(peerSign()); }},
                {"verify", [&] { oursVerify(sig); }, [&] { peerVerify(sig); }}};
    for (const Row& row : rows) {
        const benchsupport::Beside b = benchsupport::medianBeside([&] { return opsPerSecond(row.ours); },
                                                                  [&] { return opsPerSecond(row.theirs); });
        montgomery::setIfmaAllowed(false);
        const double portable = opsPerSecond(row.ours);
        montgomery::setIfmaAllowed(true);
        std::printf("%-7s ours %8.0f  OpenSSL %8.0f  ratio %5.2f  ours portable %8.0f\n", row.name, b.ours, b.theirs,
                    b.ratio, portable);
    }
}

} // namespace

BENCHMARK(BM_Sign_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sign_OursPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sign_OpenSSL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify_OursPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify_OpenSSL)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchsupport::runRegistered(argc, argv);
    printSummary();
    return 0;
}
