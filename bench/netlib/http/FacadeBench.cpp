// The HTTP component as an application drives it, beside libcurl on the same
// nginx, turns taken in alternation:
//  - small PUTs (9 and 1,000 bytes) on a kept-alive connection (goal: within
//    1.2x of libcurl's time, i.e. a ratio of at least 0.83);
//  - a 100 MB PUT from memory and from a file: MB/s and the peak memory the
//    request adds (goal: at least 1.0x libcurl, under 16 MB added);
//  - 10,000 small GETs through the facade, plain and over TLS (goal: 1.1x).
// Ratios are ours over libcurl's rate: above 1, ours is faster.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/TsHttp.h"
#include "netlib/text/TextServices.h"
#include "tests/support/LoopbackPeers.h"

using namespace tessik;

namespace {

// Loopback figures swing by a tenth from turn to turn with the server's own
// work; the median of seven steadies the ratio.
constexpr int kTurns = 7;

using Curl = std::unique_ptr<CURL, void (*)(CURL*)>;

std::size_t discard(char*, std::size_t size, std::size_t n, void*) {
    return size * n;
}

std::size_t readFile(char* to, std::size_t size, std::size_t n, void* file) {
    return std::fread(to, size, n, static_cast<std::FILE*>(file));
}

// A handle as its users keep one: reused, answers thrown away, no
// "Expect: 100-continue" wait (ours sends none either). nginx's TLS port
// speaks TLS 1.0; both sides check its certificate against the peers' own.
Curl newCurl(curl_slist* noExpect, const std::string& certificate) {
    Curl c(curl_easy_init(), curl_easy_cleanup);
    curl_easy_setopt(c.get(), CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(c.get(), CURLOPT_HTTPHEADER, noExpect);
    curl_easy_setopt(c.get(), CURLOPT_SSL_CIPHER_LIST, "AES128-SHA:@SECLEVEL=0");
    curl_easy_setopt(c.get(), CURLOPT_CAINFO, certificate.c_str());
    return c;
}

bool curlOk(CURL* c) {
    long status = 0;
    return curl_easy_perform(c) == CURLE_OK && curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
           status < 400;
}

// The peak resident memory one call of work adds, in MB: the high-water mark
// is reset first (Linux 4.0 on), then read after it.
template <class Work>
double addedPeakMb(Work&& work) {
    benchsupport::resetPeak();
    const long before = benchsupport::statusKb("VmRSS");
    work();
    return static_cast<double>(benchsupport::statusKb("VmHWM") - before) / 1024.0;
}

// Requests per second of `one` over `count` requests; 0 when one failed.
template <class One>
double requestsPerSecond(int count, One&& one) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        if (!one())
            return 0;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return count / std::max(seconds, 1e-9);
}

void printRates(const char* what, const benchsupport::Beside& b, const char* unit) {
    std::printf("%-44s ours %9.0f %s  libcurl %9.0f %s  ratio %5.2fx\n", what, b.ours, unit, b.theirs, unit, b.ratio);
    std::fflush(stdout);
}

} // namespace

int main() {
    installTextServices();
    curl_global_init(CURL_GLOBAL_ALL);
    // The peers' certificate goes into a user store of the run's own, not
    // into the user's.
    const std::string data = benchsupport::tempPath("grv-facade-bench-data");
    std::filesystem::create_directories(data);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    grvtest::LoopbackPeers peers;
    peers.TrustCertificate();
    const std::string certificate = peers.Certificate();
    // Small bodies go to a sink that answers once it has the head, so that
    // the figure is the client's and not nginx's file writing; big ones are
    // stored, so that every byte is read.
    grvtest::NginxOptions options;
    options.serverLines = {"location = /sink { client_max_body_size 0; return 204; }"};
    const grvtest::NginxPeer nginx = peers.StartNginx(options);
    const std::string plain = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    const std::string tls = "https://127.0.0.1:" + std::to_string(nginx.tlsPort);
    curl_slist* noExpect = curl_slist_append(nullptr, "Expect:");
    bool allOk = true;
    const bool smoke = benchsupport::smokeRun();

    // ---- Small PUTs on a kept-alive connection.
    for (std::size_t size : {std::size_t{9}, std::size_t{1000}}) {
        const std::string url = plain + "/sink";
        const std::string bytes(size, 'p');
        ClsHttp http;
        http.options().UseIEProxy = 0;
        DataBuffer body;
        body.append(bytes.data(), static_cast<unsigned int>(bytes.size()));
        XString target, type, reply;
        target.setFromUtf8(url.c_str());
        type.setFromUtf8("application/octet-stream");
        auto ours = [&] {
            return http.PutBinary(target, body, type, false, false, reply, false, nullptr, http.getLog());
        };
        Curl curl = newCurl(noExpect, certificate);
        curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, bytes.data());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(bytes.size()));
        auto theirs = [&] { return curlOk(curl.get()); };
        const int count = smoke ? 3 : 2000;
        const benchsupport::Beside b = benchsupport::medianBeside(
            [&] { return requestsPerSecond(count, ours); }, [&] { return requestsPerSecond(count, theirs); }, kTurns);
        printRates(("kept-alive PUT of " + std::to_string(size) + " bytes, nginx").c_str(), b, "req/s");
        allOk = allOk && b.ours > 0 && b.theirs > 0;
    }

    // ---- A big PUT from memory and from a file.
    const std::size_t big = benchsupport::inputSize(100u * 1000 * 1000);
    const std::string bigUrl = plain + "/dav/big.bin";
    DataBuffer bigBody;
    {
        std::string filler(1 << 20, '\0');
        for (std::size_t i = 0; i < filler.size(); ++i)
            filler[i] = static_cast<char>(i * 131 + (i >> 9));
        for (std::size_t done = 0; done < big;) {
            const std::size_t n = std::min(filler.size(), big - done);
            bigBody.append(filler.data(), static_cast<unsigned int>(n));
            done += n;
        }
    }
    const std::string bigFile = benchsupport::tempPath("grv-facade-bench-put.bin");
    {
        std::ofstream out(bigFile, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bigBody.getData()), static_cast<std::streamsize>(big));
    }
    ClsHttp http;
    http.options().UseIEProxy = 0;
    XString bigTarget, type, reply;
    bigTarget.setFromUtf8(bigUrl.c_str());
    type.setFromUtf8("application/octet-stream");
    auto oursFromMemory = [&] {
        allOk = http.PutBinary(bigTarget, bigBody, type, false, false, reply, false, nullptr, http.getLog()) && allOk;
    };
    Curl curl = newCurl(noExpect, certificate);
    auto theirsFromMemory = [&] {
        curl_easy_setopt(curl.get(), CURLOPT_URL, bigUrl.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, bigBody.getData());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(big));
        allOk = curlOk(curl.get()) && allOk;
    };
    auto oursFromFile = [&] {
        ClsHttpRequest request;
        request.setPutVerb();
        request.setPath("/dav/big.bin");
        request.request().setBodyFilePath(bigFile.c_str());
        std::unique_ptr<ClsHttpResponse> response(
            http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, request, nullptr));
        allOk = response != nullptr && allOk;
    };
    auto theirsFromFile = [&] {
        std::FILE* file = std::fopen(bigFile.c_str(), "rb");
        curl_easy_setopt(curl.get(), CURLOPT_URL, bigUrl.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, readFile);
        curl_easy_setopt(curl.get(), CURLOPT_READDATA, file);
        curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(big));
        allOk = file != nullptr && curlOk(curl.get()) && allOk;
        if (file != nullptr)
            std::fclose(file);
    };
    // The first call of each side pays for its connection and first buffers:
    // the memory is read on a later one.
    auto measureBig = [&](const char* what, auto&& ours, auto&& theirs) {
        ours();
        theirs();
        const double oursMb = addedPeakMb(ours);
        const double theirsMb = addedPeakMb(theirs);
        const benchsupport::Beside b =
            benchsupport::medianBeside([&] { return benchsupport::megabytesPerSecond(big, ours); },
                                       [&] { return benchsupport::megabytesPerSecond(big, theirs); }, kTurns);
        printRates(what, b, "MB/s ");
        std::printf("%-44s ours %9.1f MB     libcurl %9.1f MB\n", "  peak memory the request adds", oursMb, theirsMb);
        std::fflush(stdout);
    };
    measureBig("PUT of 100 MB from memory, nginx", oursFromMemory, theirsFromMemory);
    measureBig("PUT of 100 MB from a file, nginx", oursFromFile, theirsFromFile);
    std::remove(bigFile.c_str());
    bigBody.clear();

    // ---- Small GETs through the facade, plain and over TLS.
    for (bool overTls : {false, true}) {
        TsHttp facade;
        facade.impl().options().UseIEProxy = 0;
        TsHttpRequest request;
        request.SetFromUrl("/");
        const int port = overTls ? nginx.tlsPort : nginx.httpPort;
        auto ours = [&] {
            std::unique_ptr<TsHttpResponse> r(facade.SynchronousRequest("127.0.0.1", port, overTls, request));
            return r != nullptr && r->impl().getBody().getSize() != 0;
        };
        Curl get = newCurl(noExpect, certificate);
        curl_easy_setopt(get.get(), CURLOPT_URL, ((overTls ? tls : plain) + "/").c_str());
        auto theirs = [&] { return curlOk(get.get()); };
        const int count = smoke ? 10 : 10000;
        const benchsupport::Beside b = benchsupport::medianBeside(
            [&] { return requestsPerSecond(count, ours); }, [&] { return requestsPerSecond(count, theirs); }, kTurns);
        printRates(overTls ? "10,000 GETs of 6 bytes through the facade, TLS" : "10,000 GETs of 6 bytes, facade", b,
                   "req/s");
        allOk = allOk && b.ours > 0 && b.theirs > 0;
    }
    curl_slist_free_all(noExpect);
    curl_global_cleanup();
    return allOk ? 0 : 1;
}
