// Keep-alive GET requests per second against nginx on loopback: the
// connection pool beside libcurl on its default path, reusing one easy
// handle as its users do; the medians of turns taken in alternation and the
// median of the turns' ratios. Goal: 1.2x curl.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"
#include "tests/support/LoopbackPeers.h"

using namespace tessik;

namespace {

std::size_t collect(char* data, std::size_t size, std::size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

// Requests per second of `one` (false: a failed request) over a stretch of
// at least a quarter of a second; 0 when a request failed.
template <class One>
double requestsPerSecond(One&& one) {
    using Clock = std::chrono::steady_clock;
    const auto minimum = benchsupport::smokeRun() ? std::chrono::milliseconds(0) : std::chrono::milliseconds(250);
    long long count = 0;
    const auto start = Clock::now();
    Clock::duration spent{};
    do {
        if (!one())
            return 0;
        ++count;
        spent = Clock::now() - start;
    } while (spent < minimum);
    return static_cast<double>(count) / std::max(std::chrono::duration<double>(spent).count(), 1e-9);
}

} // namespace

int main() {
    installTextServices();
    grvtest::LoopbackPeers peers;
    const grvtest::NginxPeer nginx = peers.StartNginx();

    HttpControl options;
    options.UseIEProxy = 0;
    HttpConnPool pool;
    LogNull log;
    auto ours = [&] {
        HttpRequest request;
        HttpResult result;
        DataBuffer body;
        return pool.synchronousRequest(options, "127.0.0.1", nginx.httpPort, false, request, result, body, log, nullptr,
                                       false) &&
               body.getSize() != 0;
    };

    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/";
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    auto theirs = [&] {
        body.clear();
        return curl_easy_perform(curl.get()) == CURLE_OK && !body.empty();
    };

    const benchsupport::Beside b =
        benchsupport::medianBeside([&] { return requestsPerSecond(ours); }, [&] { return requestsPerSecond(theirs); });
    std::printf("%-40s ours %8.0f req/s  %-10s %8.0f req/s  ratio %5.2fx  (medians of %d turns)\n",
                "keep-alive GET of 6 bytes, nginx", b.ours, "libcurl", b.theirs, b.ratio,
                benchsupport::smokeRun() ? 1 : benchsupport::kTurns);
    return b.ours > 0 && b.theirs > 0 ? 0 : 1;
}
