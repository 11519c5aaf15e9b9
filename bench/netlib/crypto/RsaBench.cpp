// RSA-2048 signing (PKCS#1 v1.5 block type 1 over a SHA-256 DigestInfo) and
// verification (public exponentiation and unpadding) beside OpenSSL's
// libcrypto on the same key.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
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

} // namespace

BENCHMARK(BM_Sign_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sign_OpenSSL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Verify_OpenSSL)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
