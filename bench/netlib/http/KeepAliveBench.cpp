// Keep-alive GET requests per second against nginx on loopback: the
// connection pool beside libcurl reusing one easy handle. Goal: 1.2x curl.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <memory>
#include <string>

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

struct Server {
    grvtest::LoopbackPeers peers;
    grvtest::NginxPeer nginx;
    Server() : nginx(peers.StartNginx()) {}
};

Server& server() {
    static Server s;
    return s;
}

std::size_t collect(char* data, std::size_t size, std::size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

void BM_PoolKeepAliveGet(benchmark::State& state) {
    installTextServices();
    const int port = server().nginx.httpPort;
    HttpControl options;
    options.UseIEProxy = 0;
    HttpConnPool pool;
    LogNull log;
    for (auto _ : state) {
        HttpRequest request;
        HttpResult result;
        DataBuffer body;
        if (!pool.synchronousRequest(options, "127.0.0.1", port, false, request, result, body, log, nullptr, false) ||
            body.getSize() == 0) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CurlKeepAliveGet(benchmark::State& state) {
    const std::string url = "http://127.0.0.1:" + std::to_string(server().nginx.httpPort) + "/";
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(curl.get()) != CURLE_OK || body.empty()) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_PoolKeepAliveGet)->UseRealTime();
BENCHMARK(BM_CurlKeepAliveGet)->UseRealTime();
BENCHMARK_MAIN();
