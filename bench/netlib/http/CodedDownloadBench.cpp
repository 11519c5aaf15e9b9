// Coded answers beside libcurl (decoding every coding it is sent), each side
// in a fresh process of its own, both fetching the same answers from one
// loopback server: the peak memory of a 512 MiB gzip body downloaded into a
// FIFO a reader drains, and of a "gzip, gzip" body whose middle layer is
// 512 MiB downloaded into a file and a FIFO, should not grow with the body
// (a bounded window, as libcurl's); and the CPU
// time of a 30 MB body coded gzip, downloaded into a file and fetched into
// memory (QuickGet), should stay near libcurl's. 64 KB in CI's smoke run.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr std::size_t kPiece = 1 << 20;

// The bodies, packed by python's gzip module, of SIZE bytes of content:
// "random" bytes, which packing cannot shrink (the packed body is as large
// as the content); "stored-twice" zeros packed without compression, then
// packed again, so that the layer between the two codings is as large as
// the content and the body on the wire small; "text" of a few hundred
// words, which packs about as well as a web page does.
constexpr const char* kScriptPacked = R"PY(
import gzip, io, os, random, sys
kind, size = sys.argv[1], int(sys.argv[2])
random.seed(1)
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(7)) for _ in range(300)]
out = io.BytesIO()
with gzip.GzipFile(fileobj=out, mode='wb', mtime=0, compresslevel={'random': 1, 'stored-twice': 0}.get(kind, 6)) as z:
    left = size
    while left:
        n = min(left, 1 << 20)
        if kind == 'random':
            piece = os.urandom(n)
        elif kind == 'text':
            piece = ' '.join(random.choice(words) for _ in range(n // 8 + 1)).encode()[:n]
        else:
            piece = bytes(n)
        z.write(piece)
        left -= n
data = out.getvalue()
if kind == 'stored-twice':
    data = gzip.compress(data, mtime=0)
sys.stdout.buffer.write(data)
)PY";

std::string packed(const char* kind, std::size_t size) {
    const grvtest::RunResult r = grvtest::Python(kScriptPacked, {kind, std::to_string(size)});
    if (!r.Ok())
        throw std::runtime_error("python: " + r.err);
    return r.out;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    constexpr double kMicro = 1e-6;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * kMicro;
}

std::string answer(const std::string& codings, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Encoding: " + codings +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

int downloadOurs(const std::string& how, const std::string& url, const std::string& path) {
    ClsHttp http;
    http.options().UseIEProxy = 0;
    XString u, p;
    u.setFromUtf8(url.c_str());
    p.setFromUtf8(path.c_str());
    bool ok;
    if (how == "memory") {
        DataBuffer body;
        ok = http.QuickGet(u, body, false, nullptr, http.getLog()) && body.getSize() != 0;
    } else {
        ok = http.Download(u, p, false, nullptr, http.getLog());
    }
    if (!ok) {
        XString text;
        http.getLastErrorText(text, false);
        std::fprintf(stderr, "%s\n", text.getUtf8());
    }
    return ok ? 0 : 1;
}

std::size_t toFile(char* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<FILE*>(file)) * size;
}

std::size_t toString(char* data, std::size_t size, std::size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

int downloadCurl(const std::string& how, const std::string& url, const std::string& path) {
    FILE* out = how == "memory" ? nullptr : std::fopen(path.c_str(), "wb");
    if (how != "memory" && out == nullptr)
        return 1;
    std::string held;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // Every coding libcurl knows, as --compressed asks.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, how == "memory" ? toString : toFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, how == "memory" ? static_cast<void*>(&held) : out);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK)
        std::fprintf(stderr, "curl: %s\n", curl_easy_strerror(rc));
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    if (out != nullptr)
        std::fclose(out);
    return rc == CURLE_OK ? 0 : 1;
}

// A child: one fetch, then its peak and its CPU seconds on stdout.
int child(int argc, char** argv) {
    if (argc != 5)
        return 1;
    const std::string who = argv[1];
    const int rc = who == "--ours" ? downloadOurs(argv[2], argv[3], argv[4]) : downloadCurl(argv[2], argv[3], argv[4]);
    std::printf("%ld %.3f\n", benchsupport::ownPeakKb(), cpuSeconds());
    return rc;
}

// Answers every connection on a loopback port with the answer its path
// names, then closes it.
class Server {
public:
    explicit Server(std::vector<std::string> answers) : m_answers(std::move(answers)) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&at), len) != 0 || listen(m_fd, SOMAXCONN) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&at), &len) != 0)
            throw std::runtime_error("no loopback port");
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~Server() {
        shutdown(m_fd, SHUT_RDWR);
        close(m_fd);
        m_thread.join();
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    std::string url(std::size_t answer) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/" + std::to_string(answer);
    }

private:
    void serve() {
        for (;;) {
            const int c = accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(c, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            const std::size_t slash = request.find('/');
            const std::size_t which =
                slash == std::string::npos ? 0 : std::strtoul(request.c_str() + slash + 1, nullptr, 10);
            const std::string& reply = m_answers[which < m_answers.size() ? which : 0];
            for (std::size_t sent = 0; sent < reply.size();) {
                const ssize_t n = send(c, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            close(c);
        }
    }

    std::vector<std::string> m_answers;
    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
};

struct Figures {
    long peakKb = -1;
    double cpu = 0;
};

// One side in a child process; into a FIFO, a thread of this process drains it.
Figures fetch(const std::string& who, const std::string& how, const std::string& url, const std::string& path,
              bool fifo) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::filesystem::remove(path);
    std::thread reader;
    if (fifo) {
        mkfifo(path.c_str(), S_IRUSR | S_IWUSR);
        reader = std::thread([path] {
            FILE* in = std::fopen(path.c_str(), "rb");
            std::vector<char> room(kPiece);
            while (in != nullptr && std::fread(room.data(), 1, room.size(), in) != 0) {
            }
            if (in != nullptr)
                std::fclose(in);
        });
    }
    const grvtest::RunResult r = grvtest::RunProgram({self, who, how, url, path});
    if (reader.joinable())
        reader.join();
    std::filesystem::remove(path);
    Figures f;
    if (!r.Ok() || std::sscanf(r.out.c_str(), "%ld %lf", &f.peakKb, &f.cpu) != 2)
        std::fprintf(stderr, "%s %s failed: %s\n", who.c_str(), how.c_str(), r.err.c_str());
    return f;
}

void printPeaks(const std::string& what, const Figures& ours, const Figures& curl) {
    constexpr double kKbPerMb = 1024.0;
    std::printf("%-44s ours %8.1f MB  libcurl %8.1f MB  ratio %5.2fx\n", what.c_str(), ours.peakKb / kKbPerMb,
                curl.peakKb / kKbPerMb, curl.peakKb > 0 ? double(ours.peakKb) / double(curl.peakKb) : 0.0);
    std::fflush(stdout);
}

void printCpu(const std::string& what, const Figures& ours, const Figures& curl) {
    std::printf("%-44s ours %6.2f s  libcurl %6.2f s  ratio %5.2fx\n", what.c_str(), ours.cpu, curl.cpu,
                curl.cpu > 0 ? ours.cpu / curl.cpu : 0.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]).rfind("--", 0) == 0 && std::string(argv[1]).rfind("--benchmark", 0) != 0)
        return child(argc, argv);

    const std::size_t big = benchsupport::inputSize(std::size_t(512) << 20, 64u << 10);
    const std::size_t text = benchsupport::inputSize(std::size_t(30) << 20, 64u << 10);
    const Server server({answer("gzip", packed("random", big)), answer("gzip, gzip", packed("stored-twice", big)),
                         answer("gzip", packed("text", text))});
    grvtest::TempDir work{"coded"};
    const auto named = [](std::size_t n) {
        return n >= (1u << 20) ? std::to_string(n >> 20) + " MB" : std::to_string(n >> 10) + " KB";
    };
    const std::string size = named(big);

    const auto both = [&](const std::string& how, std::size_t which, bool fifo) {
        return std::pair{fetch("--ours", how, server.url(which), work.File("ours"), fifo),
                         fetch("--curl", how, server.url(which), work.File("curl"), fifo)};
    };
    const auto [oursFifo, curlFifo] = both("file", 0, true);
    printPeaks(size + " gzip into a FIFO, peak RSS", oursFifo, curlFifo);
    const auto [oursTwice, curlTwice] = both("file", 1, false);
    printPeaks(size + " \"gzip, gzip\" into a file, peak RSS", oursTwice, curlTwice);
    const auto [oursTwiceFifo, curlTwiceFifo] = both("file", 1, true);
    printPeaks(size + " \"gzip, gzip\" into a FIFO, peak RSS", oursTwiceFifo, curlTwiceFifo);

    const std::string textSize = named(text);
    std::vector<double> file, fileCurl, memory, memoryCurl;
    Figures oursMemory, curlMemory;
    for (int turn = 0; turn < (benchsupport::smokeRun() ? 1 : benchsupport::kTurns); ++turn) {
        const auto [oursFile, curlFile] = both("file", 2, false);
        std::tie(oursMemory, curlMemory) = both("memory", 2, false);
        file.push_back(oursFile.cpu);
        fileCurl.push_back(curlFile.cpu);
        memory.push_back(oursMemory.cpu);
        memoryCurl.push_back(curlMemory.cpu);
    }
    printCpu(textSize + " text coded gzip, Download, CPU", Figures{-1, benchsupport::median(file)},
             Figures{-1, benchsupport::median(fileCurl)});
    printCpu(textSize + " text coded gzip, QuickGet, CPU", Figures{-1, benchsupport::median(memory)},
             Figures{-1, benchsupport::median(memoryCurl)});
    printPeaks(textSize + " text coded gzip, QuickGet, peak RSS", oursMemory, curlMemory);
    return 0;
}
