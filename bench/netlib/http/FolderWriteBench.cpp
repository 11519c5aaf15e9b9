// What a file written whole costs beside libcurl writing the same bytes,
// both from one nginx on loopback, turns taken in alternation:
//  - 1,000 downloads of 4 KiB into an empty folder and into one of 20,000
//    files, and 2,000 spread in turn over 80 empty folders and over 80
//    folders of 2,000 files each, on a tmpfs where there is one and again on
//    the disk users' folders are on (/var/tmp, else the home folder), where
//    a sync would cost what it costs there (goal: within 1.5x of libcurl's
//    time, i.e. a ratio of at least 0.67, on either, and the same time per
//    download however full the folders);
//  - a cookie session of 200 sites saved to a folder, beside libcurl with
//    its cookie jar stored after each response, as ours stores each
//    response's cookies before the call returns (goal: a ratio of at least
//    1.0); and, for what it costs to have them stored at all, beside
//    libcurl writing its jar once, when the session ends. Both in the same
//    memory folder as the downloads.
// Ratios are ours over libcurl's rate: above 1, ours is faster.
#include <curl/curl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/text/TextServices.h"
#include "platform/Winsock.h"
#include "tests/support/LoopbackPeers.h"

using namespace tessik;

namespace {

constexpr int kTurns = 5;
constexpr std::size_t kBodyBytes = 4096;
constexpr int kDownloads = 1000;
constexpr int kCrowd = 20000;
constexpr int kSpreadFolders = 80;
constexpr int kSpreadDownloads = 2000;
constexpr int kSpreadCrowd = 2000;
constexpr int kSites = 200;

using Curl = std::unique_ptr<CURL, void (*)(CURL*)>;

std::size_t discard(char*, std::size_t size, std::size_t n, void*) {
    return size * n;
}

// Seconds one call of work takes.
template <class Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

constexpr const char* kMemoryFolder = "/dev/shm";
// Where users' folders are: a disk, not a memory folder.
constexpr const char* kDiskFolders[] = {"/var/tmp", "HOME"};

bool OnMemory(const std::string& folder) {
    struct statfs fs;
    return ::statfs(folder.c_str(), &fs) != 0 || fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

// A folder on the disk users' folders are on; empty when none is.
std::string DiskFolder() {
    for (const char* place : kDiskFolders) {
        const char* home = std::getenv("HOME");
        const std::string folder = std::string(place) == "HOME" ? (home ? home : "") : place;
        if (!folder.empty() && std::filesystem::is_directory(folder) && ::access(folder.c_str(), W_OK) == 0 &&
            !OnMemory(folder))
            return folder;
    }
    return std::string();
}

// An empty folder, or one of count files, under base.
std::string freshFolder(const std::string& base, const std::string& name, int count) {
    const std::string folder = base + "/" + name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i)
        std::ofstream(folder + "/crowd" + std::to_string(i) + ".txt") << i;
    return folder;
}

void printRates(const std::string& what, const benchsupport::Beside& b, const char* unit) {
    std::printf("%-50s ours %8.0f %s  libcurl %8.0f %s  ratio %5.2fx\n", what.c_str(), b.ours, unit, b.theirs, unit,
                b.ratio);
    std::fflush(stdout);
}

} // namespace

int main() {
    installTextServices();
    curl_global_init(CURL_GLOBAL_ALL);
    grvtest::LoopbackPeers peers;
    grvtest::NginxOptions options;
    options.serverLines = {"location = /cookie { add_header Set-Cookie \"id=$host; Path=/; Max-Age=86400\";",
                           "  add_header Set-Cookie \"theme=dark; Path=/\"; return 200 \"ok\\n\"; }"};
    const grvtest::NginxPeer nginx = peers.StartNginx(options);
    std::ofstream(nginx.docRoot + "/4k.bin", std::ios::binary) << std::string(kBodyBytes, 'd');
    const std::string plain = "http://127.0.0.1:" + std::to_string(nginx.httpPort);
    const bool smoke = benchsupport::smokeRun();
    const int downloads = smoke ? 5 : kDownloads;
    bool allOk = true;

    // ---- Downloads into an empty folder and into a crowded one, and spread
    // over many folders, empty and crowded: in memory and on the disk.
    const std::string url = plain + "/4k.bin";
    const std::string memory =
        std::filesystem::is_directory(kMemoryFolder) ? kMemoryFolder : benchsupport::tempPath(".");
    const std::string disk = DiskFolder();
    Curl curl(curl_easy_init(), curl_easy_cleanup);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    // Asked as ours asks, gzip accepted, and unpacked as ours unpacks it.
    curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "");
    ClsHttp http;
    http.options().UseIEProxy = 0;
    XString source;
    source.setFromUtf8(url.c_str());
    struct Row {
        const char* what;
        int folders;
        int crowd;
        int downloads;
    };
    const Row rows[] = {
        {"1,000 downloads of 4 KiB, folder of 0 files", 1, 0, downloads},
        {"1,000 downloads of 4 KiB, folder of 20000 files", 1, smoke ? 50 : kCrowd, downloads},
        {"2,000 downloads, 80 folders of 0 files", smoke ? 3 : kSpreadFolders, 0, smoke ? 6 : kSpreadDownloads},
        {"2,000 downloads, 80 folders of 2000 files", smoke ? 3 : kSpreadFolders, smoke ? 20 : kSpreadCrowd,
         smoke ? 6 : kSpreadDownloads},
    };
    for (const std::string& base : {memory, disk}) {
        if (base.empty()) {
            std::printf("no disk folder (/var/tmp, $HOME) off a memory file system: disk rows left out\n");
            continue;
        }
        const char* where = base == memory ? "memory" : "disk";
        double perDownload[std::size(rows)] = {};
        int slot = 0;
        for (const Row& row : rows) {
            const std::string top = base + "/grv-folder-bench-" + std::to_string(::getpid());
            std::vector<std::string> folders;
            for (int f = 0; f < row.folders; ++f)
                folders.push_back(freshFolder(top, std::to_string(f), row.crowd));
            auto name = [&](const char* who, int i) {
                return folders[static_cast<std::size_t>(i) % folders.size()] + "/" + who + std::to_string(i) + ".bin";
            };
            auto ours = [&] {
                for (int i = 0; i < row.downloads; ++i) {
                    XString to;
                    to.setFromUtf8(name("ours", i).c_str());
                    allOk = http.Download(source, to, false, nullptr, http.getLog()) && allOk;
                }
            };
            auto theirs = [&] {
                for (int i = 0; i < row.downloads; ++i) {
                    std::FILE* file = std::fopen(name("curl", i).c_str(), "wb");
                    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file);
                    long status = 0;
                    allOk = file != nullptr && curl_easy_perform(curl.get()) == CURLE_OK &&
                            curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
                            status == 200 && allOk;
                    if (file != nullptr)
                        allOk = std::fclose(file) == 0 && allOk;
                }
            };
            const benchsupport::Beside b =
                benchsupport::medianBeside([&] { return row.downloads / secondsOf(ours); },
                                           [&] { return row.downloads / secondsOf(theirs); }, kTurns);
            printRates(std::string(row.what) + ", " + where, b, "dl/s");
            perDownload[slot++] = b.ours > 0 ? 1000.0 / b.ours : 0;
            allOk = allOk && b.ours > 0 && b.theirs > 0;
            std::filesystem::remove_all(top);
        }
        std::printf("  ours per download, %-6s %.3f ms empty, %.3f ms crowded, %.3f ms 80 empty, %.3f ms 80 crowded\n",
                    where, perDownload[0], perDownload[1], perDownload[2], perDownload[3]);
    }

    // ---- A cookie session of 200 sites, each its own base domain, all this
    // machine.
    platform::SetResolverHook([](const std::string&) { return std::string("127.0.0.1"); });
    const int sites = smoke ? 3 : kSites;
    auto siteUrl = [&](int n) {
        return "http://site" + std::to_string(n) + ".test:" + std::to_string(nginx.httpPort) + "/cookie";
    };
    // Each turn saves into a folder of its own, made before the clock starts,
    // so that no turn is charged for clearing the one before.
    const std::string cookieBase = memory + "/grv-cookie-bench-" + std::to_string(::getpid());
    int turn = 0;
    std::string folder;
    auto session = [&](auto&& work) {
        folder = freshFolder(cookieBase, std::to_string(turn++), 0);
        return sites / secondsOf(work);
    };
    auto oursSession = [&] {
        ClsHttp http;
        http.options().UseIEProxy = 0;
        http.options().CookieDir.setString(folder.c_str());
        http.options().SaveCookies = 1;
        for (int n = 0; n < sites; ++n) {
            Logger log;
            HttpResult result;
            DataBuffer body;
            allOk = http.pool().quickRequest(siteUrl(n).c_str(), http.options(), body, result, log, nullptr, false) &&
                    allOk;
        }
    };
    auto theirsSession = [&](bool storeEachResponse) {
        Curl curl(curl_easy_init(), curl_easy_cleanup);
        curl_slist* toLoopback = curl_slist_append(nullptr, "::127.0.0.1:");
        curl_easy_setopt(curl.get(), CURLOPT_CONNECT_TO, toLoopback);
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard);
        curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(curl.get(), CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(curl.get(), CURLOPT_COOKIEJAR, (folder + "/cookies.txt").c_str());
        for (int n = 0; n < sites; ++n) {
            curl_easy_setopt(curl.get(), CURLOPT_URL, siteUrl(n).c_str());
            allOk = curl_easy_perform(curl.get()) == CURLE_OK && allOk;
            if (storeEachResponse)
                curl_easy_setopt(curl.get(), CURLOPT_COOKIELIST, "FLUSH");
        }
        curl.reset(); // writes the jar
        curl_slist_free_all(toLoopback);
    };
    for (const bool storeEachResponse : {true, false}) {
        const benchsupport::Beside b =
            benchsupport::medianBeside([&] { return session(oursSession); },
                                       [&] { return session([&] { theirsSession(storeEachResponse); }); }, kTurns);
        printRates(storeEachResponse ? "cookie session of 200 sites, jar per response"
                                     : "cookie session of 200 sites, jar at the end",
                   b, "req/s");
        allOk = allOk && b.ours > 0 && b.theirs > 0;
    }
    std::filesystem::remove_all(cookieBase);
    platform::SetResolverHook({});
    curl_global_cleanup();
    return allOk ? 0 : 1;
}
