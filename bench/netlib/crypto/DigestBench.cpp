// Digest throughput beside OpenSSL's libcrypto, on the same 16 KiB blocks:
// both on the code they pick by the processor's features (OpenSSL's with
// every extension it finds), the medians of turns taken in alternation, and
// ours on its portable block functions too. Then HMAC over one 100 MB
// message: its speed beside OpenSSL's HMAC and beside our own digest, and the
// peak memory it adds to the message it reads.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/Md5.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/crypto/Sha2.h"
#include "netlib/crypto/ShaCompress.h"

using namespace tessik;

namespace {

constexpr std::size_t kBlockBytes = 16 * 1024;

using Digest = std::function<void(const unsigned char*, std::size_t)>;

const std::vector<unsigned char>& block() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> v(kBlockBytes);
        std::mt19937 rng(16);
        for (auto& b : v)
            b = static_cast<unsigned char>(rng());
        return v;
    }();
    return data;
}

Digest ours(const std::string& name) {
    if (name == "MD5")
        return [](const unsigned char* p, std::size_t n) {
            unsigned char d[16];
            Md5().digestBytes(p, static_cast<std::uint32_t>(n), d);
            benchmark::DoNotOptimize(d);
        };
    if (name == "SHA-1")
        return [](const unsigned char* p, std::size_t n) {
            DataBuffer out;
            Sha1().digestBytes(p, static_cast<std::uint32_t>(n), out);
            benchmark::DoNotOptimize(out.getData());
        };
    return [name](const unsigned char* p, std::size_t n) {
        DataBuffer out;
        if (name == "SHA-256")
            Sha2::digestSha256(p, static_cast<std::uint32_t>(n), out);
        else
            Sha2::digestSha512(p, static_cast<std::uint32_t>(n), out);
        benchmark::DoNotOptimize(out.getData());
    };
}

// The portable block functions alone (none for MD5, which has only those).
Digest oursPortable(const std::string& name) {
    if (name == "SHA-1")
        return [](const unsigned char* p, std::size_t n) {
            std::uint32_t s[5] = {};
            shacompress::sha1Portable(s, p, n / 64);
            benchmark::DoNotOptimize(s);
        };
    if (name == "SHA-256")
        return [](const unsigned char* p, std::size_t n) {
            std::uint32_t s[8] = {};
            shacompress::sha256Portable(s, p, n / 64);
            benchmark::DoNotOptimize(s);
        };
    if (name == "SHA-512")
        return [](const unsigned char* p, std::size_t n) {
            std::uint64_t s[8] = {};
            shacompress::sha512Portable(s, p, n / 128);
            benchmark::DoNotOptimize(s);
        };
    return nullptr;
}

Digest openssl(const std::string& name) {
    const EVP_MD* md = name == "MD5"       ? EVP_md5()
                       : name == "SHA-1"   ? EVP_sha1()
                       : name == "SHA-256" ? EVP_sha256()
                                           : EVP_sha512();
    return [md](const unsigned char* p, std::size_t n) {
        unsigned char d[EVP_MAX_MD_SIZE];
        unsigned len = 0;
        EVP_Digest(p, n, d, &len, md, nullptr);
        benchmark::DoNotOptimize(d);
    };
}

void run(benchmark::State& state, Digest digest) {
    for (auto _ : state)
        digest(block().data(), block().size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block().size()));
}

// MB/s (10^6 bytes) of the fastest of many runs: on a shared machine the
// best run is the one least disturbed.
double megabytesPerSecond(const Digest& digest) {
    using Clock = std::chrono::steady_clock;
    const int kRuns = benchsupport::smokeRun() ? 3 : 2000;
    double best = 1e9;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        digest(block().data(), block().size());
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return kBlockBytes / 1e6 / best;
}

const char* const kNames[] = {"MD5", "SHA-1", "SHA-256", "SHA-512"};

constexpr std::size_t kHmacMessageBytes = 100'000'000;
constexpr unsigned char kHmacKey[] = "a key of thirty-two bytes, fixed";

// The process's peak resident memory since the last reset, in MB (VmHWM).
double peakMegabytes() {
    return static_cast<double>(benchsupport::statusKb("VmHWM")) / 1024.0;
}

void printHmac() {
    const std::size_t size = benchsupport::inputSize(kHmacMessageBytes);
    std::vector<unsigned char> message(size);
    for (std::size_t i = 0; i < size; ++i)
        message[i] = static_cast<unsigned char>(i * 131 + (i >> 13));
    struct Hash {
        const char* name;
        int id;
        const char* openssl;
    };
    std::printf("HMAC over one %zu MB message, MB/s, medians of %d turns\n", size / 1'000'000, benchsupport::kTurns);
    for (const Hash& h : {Hash{"MD5", kHashMd5, "MD5"}, Hash{"SHA-1", kHashSha1, "SHA1"},
                          Hash{"SHA-256", kHashSha256, "SHA256"}, Hash{"SHA-512", kHashSha512, "SHA512"}}) {
        auto ours = [&] {
            DataBuffer mac;
            Hmac().doHmac(message.data(), static_cast<std::uint32_t>(size), kHmacKey, 32, h.id, mac);
            benchmark::DoNotOptimize(mac.getData());
        };
        benchsupport::resetPeak();
        const double before = peakMegabytes();
        ours();
        const double added = peakMegabytes() - before;
        auto digest = [&] {
            DataBuffer d;
            hashBytes(message.data(), static_cast<std::uint32_t>(size), h.id, d);
            benchmark::DoNotOptimize(d.getData());
        };
        auto theirs = [&] {
            unsigned char mac[EVP_MAX_MD_SIZE];
            std::size_t length = 0;
            EVP_Q_mac(nullptr, "HMAC", nullptr, h.openssl, nullptr, kHmacKey, 32, message.data(), size, mac, sizeof mac,
                      &length);
            benchmark::DoNotOptimize(mac);
        };
        const benchsupport::Beside peer =
            benchsupport::medianBeside([&] { return benchsupport::megabytesPerSecond(size, ours); },
                                       [&] { return benchsupport::megabytesPerSecond(size, theirs); });
        const benchsupport::Beside own =
            benchsupport::medianBeside([&] { return benchsupport::megabytesPerSecond(size, ours); },
                                       [&] { return benchsupport::megabytesPerSecond(size, digest); });
        std::printf("HMAC-%-8s ours %6.0f  OpenSSL %6.0f  ratio %.2f  our %-7s %6.0f  HMAC/digest %.2f  "
                    "peak memory added %.1f MB\n",
                    h.name, peer.ours, peer.theirs, peer.ratio, h.name, own.theirs, own.ratio, added);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    for (const char* name : kNames) {
        benchmark::RegisterBenchmark((std::string("Ours/") + name).c_str(), run, ours(name));
        if (Digest portable = oursPortable(name))
            benchmark::RegisterBenchmark((std::string("OursPortable/") + name).c_str(), run, portable);
        benchmark::RegisterBenchmark((std::string("OpenSSL/") + name).c_str(), run, openssl(name));
    }
    benchsupport::runRegistered(argc, argv);

    std::printf("MB/s on 16 KiB blocks, medians of %d turns (SHA instructions here: %s; SHA-512 schedule on vector "
                "registers: %s)\n",
                benchsupport::kTurns, shacompress::hardwareAvailable() ? "yes" : "no",
                shacompress::sha512VectorAvailable() ? "yes" : "no");
    for (const char* name : kNames) {
        const Digest mine = ours(name), theirs = openssl(name), portable = oursPortable(name);
        const benchsupport::Beside b = benchsupport::medianBeside([&] { return megabytesPerSecond(mine); },
                                                                  [&] { return megabytesPerSecond(theirs); });
        std::printf("%-8s ours %7.0f  OpenSSL %7.0f  ratio %5.2f", name, b.ours, b.theirs, b.ratio);
        if (portable)
            std::printf("  ours portable %7.0f", megabytesPerSecond(portable));
        std::printf("\n");
    }
    printHmac();
    return 0;
}
