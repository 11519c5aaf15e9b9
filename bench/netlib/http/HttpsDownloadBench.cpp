// A large https download to a file: the HTTP component's Download beside
// libcurl, each in a fresh process of its own, both fetching the same file
// from the same openssl s_server on loopback (TLS 1.0, AES128-SHA). Each
// side's CPU time (user and system) should be no more than libcurl's, and its
// peak memory should not grow with the transfer, so the two peaks should be
// close. 1 GB; 64 KB in CI's smoke run.
#include <curl/curl.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/pki/CryptPublicKey.h"
#include "netlib/text/TextServices.h"
#include "platform/CertStore.h"
#include "platform/CryptProv.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr const char* kSuite = "AES128-SHA:@SECLEVEL=0";
constexpr const char* kFileName = "large.bin";

double seconds(const timeval& t) {
    constexpr double kMicro = 1e-6;
    return double(t.tv_sec) + double(t.tv_usec) * kMicro;
}

std::uintmax_t fileSize(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

// The component trusts the test CA as a root of a machine store of its own,
// as a user trusts theirs.
int downloadOurs(const std::string& url, const std::string& path, const std::string& machineRoot,
                 const std::string& caDer) {
    platform::SetMachineCryptoRoot(machineRoot);
    const std::string folder = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                         platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(caDer, folder + "/test-ca.cer", std::filesystem::copy_options::overwrite_existing);
    installPkiServices();
    ClsHttp http;
    http.options().UseIEProxy = 0;
    XString u, p;
    u.setFromUtf8(url.c_str());
    p.setFromUtf8(path.c_str());
    if (!http.Download(u, p, false, nullptr, http.getLog())) {
        XString text;
        http.getLastErrorText(text, false);
        std::fprintf(stderr, "%s\n", text.getUtf8());
        return 1;
    }
    return 0;
}

std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

int downloadCurl(const std::string& url, const std::string& path, const std::string& caPem) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return 1;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, caPem.c_str());
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_0) | long(CURL_SSLVERSION_MAX_TLSv1_0));
    curl_easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, kSuite);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, out);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK)
        std::fprintf(stderr, "curl: %s\n", curl_easy_strerror(rc));
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    std::fclose(out);
    return rc == CURLE_OK ? 0 : 1;
}

// A child: one download, then its peak and its user and system CPU seconds
// on stdout.
int child(int argc, char** argv) {
    const std::string who = argv[1];
    int rc = 1;
    if (who == "--ours" && argc == 6)
        rc = downloadOurs(argv[2], argv[3], argv[4], argv[5]);
    else if (who == "--curl" && argc == 5)
        rc = downloadCurl(argv[2], argv[3], argv[4]);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld %.3f %.3f\n", benchsupport::ownPeakKb(), seconds(usage.ru_utime), seconds(usage.ru_stime));
    return rc;
}

void run(const std::vector<std::string>& argv) {
    const grvtest::RunResult r = grvtest::RunPeer(argv);
    if (!r.Ok())
        throw std::runtime_error(argv[1] + " failed: " + r.err + r.out);
}

// A CA, and a certificate it issued for 127.0.0.1.
struct Pki {
    grvtest::TempDir dir{"pki"};
    Pki() {
        run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir.File("ca.key"), "-out",
             dir.File("ca.pem"), "-days", "30", "-subj", "/CN=Gorvane Bench CA", "-addext",
             "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
        run({"openssl", "x509", "-in", dir.File("ca.pem"), "-outform", "DER", "-out", dir.File("ca.der")});
        run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", dir.File("server.key"), "-out",
             dir.File("server.csr"), "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        run({"openssl", "x509", "-req", "-in", dir.File("server.csr"), "-CA", dir.File("ca.pem"), "-CAkey",
             dir.File("ca.key"), "-CAcreateserial", "-copy_extensions", "copy", "-out", dir.File("server.pem"), "-days",
             "30"});
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]).rfind("--", 0) == 0 && std::string(argv[1]).rfind("--benchmark", 0) != 0)
        return child(argc, argv);

    const std::size_t bytes = benchsupport::inputSize(std::size_t(1) << 30, 64u << 10);
    Pki pki;
    grvtest::LoopbackPeers peers;
    grvtest::OpensslServerOptions options;
    options.ciphers = kSuite;
    options.cert = pki.dir.File("server.pem");
    options.key = pki.dir.File("server.key");
    options.extraArgs = {"-WWW"};
    const int port = peers.StartOpensslServer(options);
    // A sparse file: served as zeros, never written out.
    const std::string served = peers.PeerFolder(port) + "/" + kFileName;
    std::ofstream(served).close();
    std::filesystem::resize_file(served, bytes);
    const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/" + kFileName;
    grvtest::TempDir work{"rss"};
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");

    struct Side {
        const char* name;
        std::vector<std::string> argv;
        std::string file;
        long peakKb = -1;
        double userSeconds = 0;
        double systemSeconds = 0;
    };
    Side sides[] = {
        {"ours (HTTP component)",
         {self, "--ours", url, work.File("ours.bin"), work.File("machine"), pki.dir.File("ca.der")},
         work.File("ours.bin")},
        {"libcurl", {self, "--curl", url, work.File("curl.bin"), pki.dir.File("ca.pem")}, work.File("curl.bin")},
    };
    for (Side& side : sides) {
        const grvtest::RunResult r = grvtest::RunProgram(side.argv);
        // The served file comes after the 200's head line and type field.
        if (!r.Ok() || fileSize(side.file) < bytes) {
            std::fprintf(stderr, "%s: download failed (%ju of %zu bytes)\n%s\n", side.name, fileSize(side.file), bytes,
                         r.err.c_str());
            return 1;
        }
        if (std::sscanf(r.out.c_str(), "%ld %lf %lf", &side.peakKb, &side.userSeconds, &side.systemSeconds) != 3) {
            std::fprintf(stderr, "%s: no figures in \"%s\"\n", side.name, r.out.c_str());
            return 1;
        }
        std::filesystem::remove(side.file);
    }
    const double mb = 1024.0;
    const std::string size =
        bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB" : std::to_string(bytes >> 10) + " KB";
    std::printf("%-40s ours %8.1f MB  %-18s %8.1f MB  ratio %5.2fx\n",
                (size + " TLS download to a file, peak RSS").c_str(), sides[0].peakKb / mb, sides[1].name,
                sides[1].peakKb / mb, sides[1].peakKb > 0 ? double(sides[0].peakKb) / double(sides[1].peakKb) : 0.0);
    const double ours = sides[0].userSeconds + sides[0].systemSeconds;
    const double theirs = sides[1].userSeconds + sides[1].systemSeconds;
    std::printf("%-40s ours %6.2f s (user %.2f, sys %.2f)  %s %6.2f s (user %.2f, sys %.2f)  ratio %5.2fx\n",
                (size + " TLS download to a file, CPU").c_str(), ours, sides[0].userSeconds, sides[0].systemSeconds,
                sides[1].name, theirs, sides[1].userSeconds, sides[1].systemSeconds, theirs > 0 ? ours / theirs : 0.0);
    return 0;
}
