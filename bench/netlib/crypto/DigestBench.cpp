// Digest throughput beside OpenSSL's libcrypto, on the same 16 KiB blocks.
// OpenSSL picks its code by the processor's features; the summary also runs
// it with the SHA instructions masked (OPENSSL_ia32cap), in a child process,
// since libcrypto reads the mask once at start. Then HMAC over one 100 MB
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
constexpr const char* kChildFlag = "GRV_DIGEST_BENCH_OPENSSL_ONLY";
constexpr const char* kNoShaMask = ":~0x20000000"; // CPUID.7.EBX bit 29: SHA

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

// The block functions alone, without the processor's SHA instructions.
Digest oursPortable(const std::string& name) {
    if (name == "SHA-1")
        return [](const unsigned char* p, std::size_t n) {
            std::uint32_t s[5] = {};
            shacompress::sha1Portable(s, p, n / 64);
            benchmark::DoNotOptimize(s);
        };
    return [](const unsigned char* p, std::size_t n) {
        std::uint32_t s[8] = {};
        shacompress::sha256Portable(s, p, n / 64);
        benchmark::DoNotOptimize(s);
    };
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
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    double kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %lf kB", &kb) == 1)
            break;
    std::fclose(f);
    return kb / 1024.0;
}

// Starts the peak over from the memory in use now (Linux: clear_refs 5).
void resetPeak() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
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
    std::printf("HMAC over one %zu MB message, MB/s\n", size / 1'000'000);
    for (const Hash& h : {Hash{"MD5", kHashMd5, "MD5"}, Hash{"SHA-1", kHashSha1, "SHA1"},
                          Hash{"SHA-256", kHashSha256, "SHA256"}, Hash{"SHA-512", kHashSha512, "SHA512"}}) {
        auto ours = [&] {
            DataBuffer mac;
            Hmac().doHmac(message.data(), static_cast<std::uint32_t>(size), kHmacKey, 32, h.id, mac);
            benchmark::DoNotOptimize(mac.getData());
        };
        resetPeak();
        const double before = peakMegabytes();
        ours();
        const double added = peakMegabytes() - before;
        const double mine = benchsupport::megabytesPerSecond(size, ours);
        const double digest = benchsupport::megabytesPerSecond(size, [&] {
            DataBuffer d;
            hashBytes(message.data(), static_cast<std::uint32_t>(size), h.id, d);
            benchmark::DoNotOptimize(d.getData());
        });
        const double theirs = benchsupport::megabytesPerSecond(size, [&] {
            unsigned char mac[EVP_MAX_MD_SIZE];
            std::size_t length = 0;
            EVP_Q_mac(nullptr, "HMAC", nullptr, h.openssl, nullptr, kHmacKey, 32, message.data(), size, mac, sizeof mac,
                      &length);
            benchmark::DoNotOptimize(mac);
        });
        std::printf("HMAC-%-8s ours %6.0f  OpenSSL %6.0f  ratio %.2f  our %-7s %6.0f  HMAC/digest %.2f  "
                    "peak memory added %.1f MB\n",
                    h.name, mine, theirs, mine / theirs, h.name, digest, mine / digest, added);
        std::fflush(stdout);
    }
}

// OpenSSL's figures with the SHA instructions masked, one per line.
std::vector<double> opensslWithoutSha(const char* self) {
    std::string cmd = std::string(kChildFlag) + "=1 OPENSSL_ia32cap='" + kNoShaMask + "' '" + self + "'";
    std::vector<double> figures;
    if (FILE* f = popen(cmd.c_str(), "r")) {
        double v = 0;
        while (std::fscanf(f, "%lf", &v) == 1)
            figures.push_back(v);
        pclose(f);
    }
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv(kChildFlag)) {
        for (const char* name : kNames)
            std::printf("%.1f\n", megabytesPerSecond(openssl(name)));
        return 0;
    }
    for (const char* name : kNames) {
        benchmark::RegisterBenchmark((std::string("Ours/") + name).c_str(), run, ours(name));
        if (std::string(name) == "SHA-1" || std::string(name) == "SHA-256")
            benchmark::RegisterBenchmark((std::string("OursPortable/") + name).c_str(), run, oursPortable(name));
        benchmark::RegisterBenchmark((std::string("OpenSSL/") + name).c_str(), run, openssl(name));
    }
    benchsupport::runRegistered(argc, argv);

    const std::vector<double> masked = opensslWithoutSha(argv[0]);
    std::printf("MB/s on 16 KiB blocks (SHA instructions here: %s)\n", shacompress::hardwareAvailable() ? "yes" : "no");
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        const std::string name = kNames[i];
        const double mine = megabytesPerSecond(ours(name));
        const double theirs = megabytesPerSecond(openssl(name));
        const double theirsPlain = i < masked.size() ? masked[i] : 0;
        std::printf("%-8s ours %7.0f", name.c_str(), mine);
        if (name == "SHA-1" || name == "SHA-256") {
            const double portable = megabytesPerSecond(oursPortable(name));
            std::printf("  portable %7.0f", portable);
        } else {
            std::printf("  %16s", "");
        }
        std::printf("  OpenSSL %7.0f  OpenSSL without SHA instructions %7.0f\n", theirs, theirsPlain);
    }
    printHmac();
    return 0;
}
