// What a file written whole costs beside libcurl writing the same bytes in
// place, both from one nginx on loopback, turns taken in alternation:
//  - 1,000 downloads of 4 KiB into an empty folder and into one of 20,000
//    files, and 2,000 spread in turn over 80 empty folders and over 80
//    folders of 2,000 files each, on a tmpfs where there is one, on the disk
//    users' folders are on (/var/tmp, else the home folder), and on an ext4
//    with its journal made for the run in a loop image (as root), where a
//    sync costs what it costs there (goal: within 1.5x of libcurl's time,
//    i.e. a ratio of at least 0.67, on either, and the same time per
//    download however full the folders);
//  - the empty and the crowded folder again where the process has no watch
//    for the folder: with every inotify instance of the user held, and after
//    8,192 folders written into (the most it watches); each in a child
//    process of its own, so that no other row loses its watch (goal: the
//    same time per download as with one);
//  - a cookie session of 200 sites saved to a folder, beside libcurl with
//    its cookie jar stored after each response, as ours stores each
//    response's cookies before the call returns (goal: a ratio of at least
//    1.0); and, for what it costs to have them stored at all, beside
//    libcurl writing its jar once, when the session ends. Both in the same
//    memory folder as the downloads.
// Ratios are ours over libcurl's rate: above 1, ours is faster. The smoke
// run CI makes writes only into the run's own folder (TMPDIR), and leaves
// out the rows that would take the user's inotify instances from the tests
// beside it, mount a file system, or make thousands of folders.
#include <curl/curl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <sys/wait.h>
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
#include "tests/support/TestSupport.h"

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
// The most folders the library watches at once.
constexpr int kWatchedFolders = 8192;
// Room for 80 folders of 2,000 files and the downloads, each file an inode.
constexpr const char* kExt4ImageSize = "2G";
constexpr const char* kExt4Inodes = "400000";

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

// A folder of the run's own under base, removed with what it holds when the
// run ends; empty when none can be made.
std::string OwnFolder(const std::string& base) {
    std::string name = base + "/grv-folder-bench-XXXXXX";
    return ::mkdtemp(name.data()) != nullptr ? name : std::string();
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
    std::printf("%-62s ours %8.0f %s  libcurl %8.0f %s  ratio %5.2fx\n", what.c_str(), b.ours, unit, b.theirs, unit,
                b.ratio);
    std::fflush(stdout);
}

struct Row {
    const char* what;
    int folders;
    int crowd;
    int downloads;
};

// Each row's downloads by ours and by libcurl into folders under base, in
// turns; the time per download of ours is printed for the rows together.
// False when a download failed.
bool DownloadRowsOrThrow(const std::string& url, const std::string& base, const std::string& where,
                         const std::vector<Row>& rows) {
    bool allOk = true;
    Curl curl(curl_easy_init(), curl_easy_cleanup);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    // Asked as ours asks, gzip accepted, and unpacked as ours unpacks it.
    curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "");
    ClsHttp http;
    http.options().UseIEProxy = 0;
    XString source;
    source.setFromUtf8(url.c_str());
    std::string times;
    for (const Row& row : rows) {
        const std::string top = base + "/rows";
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
                        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200 &&
                        allOk;
                if (file != nullptr)
                    allOk = std::fclose(file) == 0 && allOk;
            }
        };
        const benchsupport::Beside b = benchsupport::medianBeside(
            [&] { return row.downloads / secondsOf(ours); }, [&] { return row.downloads / secondsOf(theirs); }, kTurns);
        printRates(std::string(row.what) + ", " + where, b, "dl/s");
        char time[32];
        std::snprintf(time, sizeof time, "%s%.3f ms", times.empty() ? "" : ", ", b.ours > 0 ? 1000.0 / b.ours : 0);
        times += time;
        allOk = allOk && b.ours > 0 && b.theirs > 0;
        std::filesystem::remove_all(top);
    }
    std::printf("  ours per download, %s: %s\n", where.c_str(), times.c_str());
    std::fflush(stdout);
    return allOk;
}

// The same, a folder that cannot be made (a full disk) being a failed row
// rather than an end that leaves a mounted image behind.
bool DownloadRows(const std::string& url, const std::string& base, const std::string& where,
                  const std::vector<Row>& rows) {
    try {
        return DownloadRowsOrThrow(url, base, where, rows);
    } catch (const std::filesystem::filesystem_error& e) {
        std::printf("%s: %s\n", where.c_str(), e.what());
        return false;
    }
}

// Runs work in a child process of its own, so that what it does to the
// process (the inotify instances it holds, the folders it watches) stays
// there. False when it failed.
template <class Work>
bool InChild(Work&& work) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = work();
        std::fflush(stdout);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Every inotify instance this user may still make, held by this process
// until it ends: how a user's session with many watching programs leaves a
// new one none. The count held.
int HoldEveryInotifyInstance() {
    int held = 0;
    while (::inotify_init1(IN_CLOEXEC) >= 0)
        ++held;
    return held;
}

// An ext4 with its journal, in a loop image under base, mounted for the run
// (as root only): its mount point, or empty with why it could not be had.
struct Ext4 {
    std::string image, mountPoint, why;
    ~Ext4() {
        if (!mountPoint.empty()) {
            grvtest::RunProgram({"umount", mountPoint});
            ::rmdir(mountPoint.c_str());
        }
        if (!image.empty())
            ::unlink(image.c_str());
    }
};

void MountExt4(const std::string& base, Ext4& fs) {
    if (::geteuid() != 0) {
        fs.why = "mounting a loop image needs root";
        return;
    }
    fs.image = base + "/ext4.img";
    const std::string at = base + "/ext4";
    grvtest::RunResult made = grvtest::RunPeer({"truncate", "-s", kExt4ImageSize, fs.image});
    if (made.Ok())
        made = grvtest::RunPeer({"mkfs.ext4", "-q", "-F", "-O", "has_journal", "-N", kExt4Inodes, fs.image});
    if (made.Ok() && ::mkdir(at.c_str(), 0700) == 0) {
        made = grvtest::RunPeer({"mount", "-o", "loop", fs.image, at});
        if (made.Ok())
            fs.mountPoint = at;
        else
            ::rmdir(at.c_str());
    }
    if (fs.mountPoint.empty())
        fs.why = made.out.empty() ? "the image could not be made or mounted" : made.out;
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
    // over many folders, empty and crowded: in memory, on the disk, and on
    // an ext4 with its journal.
    const std::string url = plain + "/4k.bin";
    const std::vector<Row> rows = {
        {"1,000 downloads of 4 KiB, folder of 0 files", 1, 0, downloads},
        {"1,000 downloads of 4 KiB, folder of 20000 files", 1, smoke ? 50 : kCrowd, downloads},
        {"2,000 downloads, 80 folders of 0 files", smoke ? 3 : kSpreadFolders, 0, smoke ? 6 : kSpreadDownloads},
        {"2,000 downloads, 80 folders of 2000 files", smoke ? 3 : kSpreadFolders, smoke ? 20 : kSpreadCrowd,
         smoke ? 6 : kSpreadDownloads},
    };
    const std::string memory =
        smoke || !std::filesystem::is_directory(kMemoryFolder) ? benchsupport::tempPath(".") : kMemoryFolder;
    const std::string memoryFolder = OwnFolder(memory);
    const std::string disk = smoke ? std::string() : DiskFolder();
    const std::string diskFolder = disk.empty() ? std::string() : OwnFolder(disk);
    allOk = !memoryFolder.empty() && allOk;
    if (!memoryFolder.empty())
        allOk = DownloadRows(url, memoryFolder, smoke ? "run folder" : "memory", rows) && allOk;
    if (!smoke && diskFolder.empty())
        std::printf("no disk folder (/var/tmp, $HOME) off a memory file system: disk rows left out\n");
    if (!diskFolder.empty())
        allOk = DownloadRows(url, diskFolder, "disk", rows) && allOk;
    if (!smoke) {
        Ext4 ext4;
        MountExt4(diskFolder.empty() ? memoryFolder : diskFolder, ext4);
        if (ext4.mountPoint.empty())
            std::printf("journalled ext4 rows left out: %s\n", ext4.why.c_str());
        else
            allOk = DownloadRows(url, ext4.mountPoint, "ext4 with journal", rows) && allOk;
    }

    // ---- The empty and the crowded folder where no watch can be had.
    if (smoke) {
        std::printf("no-watch rows left out of a smoke run: they hold the user's inotify instances or watch "
                    "8,192 folders\n");
    } else if (!memoryFolder.empty()) {
        const std::vector<Row> crowded(rows.begin(), rows.begin() + 2);
        allOk =
            InChild([&] {
                const int held = HoldEveryInotifyInstance();
                return DownloadRows(url, memoryFolder,
                                    "memory, no inotify instance left (" + std::to_string(held) + " held)", crowded);
            }) &&
            allOk;
        allOk = InChild([&] {
                    ClsHttp http;
                    http.options().UseIEProxy = 0;
                    XString source;
                    source.setFromUtf8(url.c_str());
                    const std::string top = memoryFolder + "/watched";
                    bool ok = true;
                    for (int f = 0; f < kWatchedFolders; ++f) {
                        XString to;
                        to.setFromUtf8(freshFolder(top, std::to_string(f), 0).append("/one.bin").c_str());
                        ok = http.Download(source, to, false, nullptr, http.getLog()) && ok;
                    }
                    ok = DownloadRows(url, memoryFolder, "memory, after 8,192 folders watched", crowded) && ok;
                    std::filesystem::remove_all(top);
                    return ok;
                }) &&
                allOk;
    }
    for (const std::string& folder : {memoryFolder, diskFolder})
        if (!folder.empty())
            std::filesystem::remove_all(folder);

    // ---- A cookie session of 200 sites, each its own base domain, all this
    // machine.
    platform::SetResolverHook([](const std::string&) { return std::string("127.0.0.1"); });
    const int sites = smoke ? 3 : kSites;
    auto siteUrl = [&](int n) {
        return "http://site" + std::to_string(n) + ".test:" + std::to_string(nginx.httpPort) + "/cookie";
    };
    // Each turn saves into a folder of its own, made before the clock starts,
    // so that no turn is charged for clearing the one before.
    const std::string cookieBase = OwnFolder(memory);
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
