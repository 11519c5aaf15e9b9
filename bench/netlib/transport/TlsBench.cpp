// The TLS client against openssl s_server on loopback (TLS 1.0,
// AES128-SHA): full handshakes per second beside `openssl s_time -new`, and
// bulk download MB/s of one large file beside `openssl s_client`.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/transport/SChannelTessik.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSuite = "AES128-SHA:@SECLEVEL=0";
constexpr const char* kBulkFile = "bulk.bin";
constexpr unsigned kTimeoutMs = 30000;

struct Server {
    grvtest::LoopbackPeers peers;
    int port = 0;
    std::size_t bulkBytes = benchsupport::inputSize(64u << 20, 64u << 10);
    Server() {
        grvtest::OpensslServerOptions options;
        options.ciphers = kSuite;
        options.extraArgs = {"-WWW"};
        port = peers.StartOpensslServer(options);
        grvtest::WriteFile(peers.PeerFolder(port) + "/" + kBulkFile, grvtest::RandomBytes(bulkBytes, 1));
    }
};

Server& server() {
    static Server s;
    return s;
}

bool connect(SChannelTessik& channel, LogBase& log) {
    channel.setHostname("127.0.0.1");
    channel.setPort(unsigned(server().port));
    channel.setReadTimeoutSec(kTimeoutMs / 1000);
    bool dnsFailed = false;
    return channel.EstablishChannel(log, &dnsFailed, kTimeoutMs, 0, nullptr, nullptr);
}

// One full handshake, then close_notify.
bool handshake() {
    SChannelTessik channel;
    LogNull log;
    const bool ok = connect(channel, log);
    channel.sendCloseNotify(true, 0, kTimeoutMs, log, nullptr);
    return ok;
}

// GET of the bulk file; the bytes received.
std::size_t download() {
    SChannelTessik channel;
    LogNull log;
    if (!connect(channel, log))
        return 0;
    const std::string request = std::string("GET /") + kBulkFile + " HTTP/1.0\r\n\r\n";
    channel.sendBytes(reinterpret_cast<const unsigned char*>(request.data()), unsigned(request.size()), 0, kTimeoutMs,
                      log, nullptr);
    std::size_t total = 0;
    DataBuffer piece;
    while (channel.receiveBytes(piece, 0, kTimeoutMs, log, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0))
        total += piece.getSize();
    return total;
}

void BM_TlsHandshake(benchmark::State& state) {
    for (auto _ : state) {
        if (!handshake()) {
            state.SkipWithError("handshake failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TlsBulkDownload(benchmark::State& state) {
    for (auto _ : state) {
        if (download() < server().bulkBytes) {
            state.SkipWithError("download failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * server().bulkBytes));
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Handshakes per second of ours over `span` seconds.
double ourHandshakeRate(double span) {
    int count = 0;
    const auto start = Clock::now();
    while (seconds(Clock::now() - start) < span && handshake())
        ++count;
    return count / seconds(Clock::now() - start);
}

// s_time -new: its own count over the wall time of the run.
double opensslHandshakeRate(int span) {
    const auto start = Clock::now();
    grvtest::RunResult r =
        grvtest::RunPeer({"openssl", "s_time", "-connect", "127.0.0.1:" + std::to_string(server().port), "-new",
                          "-tls1", "-cipher", kSuite, "-time", std::to_string(span)});
    const double elapsed = seconds(Clock::now() - start);
    const std::size_t at = r.out.find(" connections in ");
    if (at == std::string::npos)
        return 0;
    const std::size_t begin = r.out.rfind('\n', at) + 1;
    return std::stod(r.out.substr(begin, at - begin)) / elapsed;
}

// s_client fetching the same file; stdout carries the bytes.
std::size_t opensslDownload() {
    grvtest::RunResult r =
        grvtest::RunPeer({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(server().port), "-tls1",
                          "-cipher", kSuite, "-quiet"},
                         std::string("GET /") + kBulkFile + " HTTP/1.0\r\n\r\n");
    return r.out.size();
}

} // namespace

BENCHMARK(BM_TlsHandshake)->UseRealTime();
BENCHMARK(BM_TlsBulkDownload)->UseRealTime()->Unit(benchmark::kMillisecond);

// A figure from a short download would be no figure at all.
void requireWhole(std::size_t got, const char* who) {
    if (got < server().bulkBytes) {
        std::fprintf(stderr, "%s received %zu of %zu bytes\n", who, got, server().bulkBytes);
        std::abort();
    }
}

int main(int argc, char** argv) {
    server(); // started and its file written before anything is timed
    benchsupport::runRegistered(argc, argv);

    const double span = benchsupport::smokeRun() ? 0.2 : 3.0;
    double ours = 0, theirs = 0;
    for (int turn = 0; turn < (benchsupport::smokeRun() ? 1 : 3); ++turn) {
        ours = std::max(ours, ourHandshakeRate(span));
        theirs = std::max(theirs, opensslHandshakeRate(benchsupport::smokeRun() ? 1 : 3));
    }
    std::printf("%-40s ours %8.0f /s    %-18s %8.0f /s    ratio %5.2fx\n", "TLS 1.0 AES128-SHA handshakes", ours,
                "openssl s_time", theirs, theirs > 0 ? ours / theirs : 0.0);
    benchsupport::printBeside(
        "TLS 1.0 AES128-SHA bulk download", server().bulkBytes, [] { requireWhole(download(), "ours"); },
        "openssl s_client", [] { requireWhole(opensslDownload(), "openssl s_client"); });
    return 0;
}
