// A form's value and a body's text written under a charset label, at 40
// bytes, 1 KB and 1 MB, beside python's urlencode and its codec's encode of
// the same text; one answer of 21,000 Set-Cookie fields read and stored
// beside the same answer read alone; and plain answers beside Secure cookies
// of their names, kept at long paths or many, read and stored beside the
// same answers read alone.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

namespace {

struct Label {
    const char* name;
    // A run of ordinary text in the label's script (UTF-8).
    const char* text;
};

constexpr Label kLabels[] = {
    {"utf-8", "\xe7\x97\x9b\xe3\x81\xbf pain \xe8\xa8\x98\xe9\x8c\xb2 "},
    {"shift_jis", "\xe4\xbb\x8a\xe6\x97\xa5\xe3\x81\xaf\xe9\xa0\xad\xe7\x97\x9b 10\xe6\x99\x82 "},
    {"iso-2022-jp", "\xe4\xbb\x8a\xe6\x97\xa5\xe3\x81\xaf\xe9\xa0\xad\xe7\x97\x9b 10\xe6\x99\x82 "},
    {"windows-1252", "caf\xc3\xa9 na\xc3\xafve \xe2\x80\x93 \xe2\x80\x9cpain\xe2\x80\x9d "},
    {"euc-kr", "\xeb\x91\x90\xed\x86\xb5 \xec\x9d\xbc\xea\xb8\xb0 pain "},
    {"gbk", "\xe4\xbb\x8a\xe5\xa4\xa9\xe5\xa4\xb4\xe7\x97\x9b 10\xe6\x97\xb6 pain "},
};

constexpr std::size_t kSizes[] = {40, 1024, 1024 * 1024};
constexpr int kCookieFields = 21000;
constexpr std::size_t kLongPath = 1000000;
constexpr int kKeptPaths = 1000;
constexpr int kBesideFields = 5000;

// Whole runs of the label's text up to about `bytes` of UTF-8 (at least one).
std::string textOf(const Label& label, std::size_t bytes) {
    const std::string run = label.text;
    std::string text = run;
    while (text.size() + run.size() <= bytes)
        text += run;
    return text;
}

std::string sizeName(std::size_t bytes) {
    return bytes >= 1024 * 1024 ? std::to_string(bytes / (1024 * 1024)) + " MB"
           : bytes >= 1024      ? std::to_string(bytes / 1024) + " KB"
                                : std::to_string(bytes) + " B";
}

// MB/s python gives for each "form"/"body" line of `jobs` ("KIND LABEL
// HEX"): urllib.parse.urlencode of the value, or the codec's encode.
std::vector<double> pythonRates(const std::string& jobs) {
    const std::string file = benchsupport::tempPath("grv-form-text-bench.txt");
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr || std::fwrite(jobs.data(), 1, jobs.size(), out) != jobs.size() || std::fclose(out) != 0)
        return {};
    const std::string command =
        "python3 -c \"import sys, time, urllib.parse\n"
        "for line in open(sys.argv[1]):\n"
        "    kind, label, text = line.split()\n"
        "    text = bytes.fromhex(text).decode()\n"
        "    work = (lambda: urllib.parse.urlencode({'v': text}, encoding=label)) if kind == 'form' "
        "else (lambda: text.encode(label))\n"
        "    best = 0\n"
        "    for _ in range(" +
        std::string(benchsupport::smokeRun() ? "1" : "3") +
        "):\n"
        "        calls, start = 0, time.perf_counter()\n"
        "        while True:\n"
        "            work(); calls += 1\n"
        "            spent = time.perf_counter() - start\n"
        "            if spent >= " +
        std::string(benchsupport::smokeRun() ? "0" : "0.25") +
        ": break\n"
        "        best = max(best, calls * len(text.encode()) / 1e6 / spent)\n"
        "    print(best)\n\" " +
        file;
    std::vector<double> rates;
    std::FILE* python = popen(command.c_str(), "r");
    for (double rate = 0; python != nullptr && std::fscanf(python, "%lf", &rate) == 1;)
        rates.push_back(rate);
    if (python != nullptr)
        pclose(python);
    std::remove(file.c_str());
    return rates;
}

std::string hexOf(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : s) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

void formsAndBodies() {
    std::string jobs;
    struct Case {
        std::string what, label, text;
        bool form;
    };
    std::vector<Case> cases;
    for (const Label& label : kLabels)
        for (const std::size_t size : kSizes)
            for (const bool form : {true, false}) {
                if (benchsupport::smokeRun() && size > 1024)
                    continue;
                const std::string text = textOf(label, size);
                cases.push_back({std::string(form ? "form " : "body ") + label.name + " " + sizeName(size), label.name,
                                 text, form});
                jobs += std::string(form ? "form " : "body ") + label.name + " " + hexOf(text) + "\n";
            }
    const std::vector<double> python = pythonRates(jobs);
    ClsHttp http;
    LogNull log;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        bool ok = true;
        double ours = 0;
        if (c.form) {
            HttpRequestData data;
            data.addParam("v", c.text.c_str(), false);
            ours = benchsupport::megabytesPerSecond(c.text.size(), [&] {
                StringBuffer encoded;
                ok = data.textFitsCharset(c.label.c_str(), true, false) && ok;
                data.urlEncodeParams(encoded, c.label.c_str());
            });
        } else {
            XString text;
            text.setFromUtf8(c.text.c_str());
            ours = benchsupport::megabytesPerSecond(c.text.size(), [&] {
                DataBuffer out;
                ok = http.convertToNamedCharset(c.label.c_str(), text, out, false, log) && ok;
            });
        }
        std::printf("%-28s ours %8.1f MB/s  python %-10s %8.1f MB/s%s\n", c.what.c_str(), ours,
                    c.form ? "urlencode" : "encode", i < python.size() ? python[i] : 0.0, ok ? "" : "  (refused)");
        std::fflush(stdout);
    }
}

// One answer of many Set-Cookie fields: read alone, and read and stored.
void manyCookies() {
    const int fields = benchsupport::smokeRun() ? 200 : kCookieFields;
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < fields; ++i)
        head += "Set-Cookie: c" + std::to_string(i) + "=" + std::to_string(i) + "; Path=/\r\n";
    head += "\r\n";
    LogNull log;
    const double read = benchsupport::megabytesPerSecond(head.size(), [&] {
        HttpResponseHeader parsed;
        parsed.parse(head.c_str(), log);
    });
    const double stored = benchsupport::megabytesPerSecond(head.size(), [&] {
        HttpResponseHeader parsed;
        parsed.parse(head.c_str(), log);
        HttpControl options;
        options.CookieDir.setString("memory");
        HttpClient::storeSetCookies(parsed, options, "www.shop.test", "/", false, 0, log, nullptr);
    });
    std::printf("%d Set-Cookie fields (%zu KB): read %8.1f ms  read and stored %8.1f ms\n", fields, head.size() / 1024,
                read > 0 ? head.size() / read / 1e3 : 0.0, stored > 0 ? head.size() / stored / 1e3 : 0.0);
    std::fflush(stdout);
}

double cpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The least CPU time of a few runs of `work`, in ms, each after its own
// `setup`: the figure a busy machine changes least.
template <class Setup, class Work>
double bestCpuMs(Setup&& setup, Work&& work) {
    double best = -1;
    for (int round = 0; round < (benchsupport::smokeRun() ? 1 : 3); ++round) {
        setup();
        const double start = cpuMs();
        work();
        const double ms = cpuMs() - start;
        best = best < 0 ? ms : std::min(best, ms);
    }
    return best;
}

std::string answerOf(const std::string& fields) {
    return "HTTP/1.1 200 OK\r\n" + fields + "\r\n";
}

// A plain answer of `fields` after one over TLS of `secureFields`, in one
// memory store: the plain one read alone, and read and stored.
void plainBesideSecure(const char* what, const std::string& secureFields, const std::string& fields) {
    const std::string secure = answerOf(secureFields), plain = answerOf(fields);
    LogNull log;
    auto options = std::make_unique<HttpControl>();
    const auto keepSecure = [&] {
        options = std::make_unique<HttpControl>();
        options->CookieDir.setString("memory");
        HttpResponseHeader parsed;
        parsed.parse(secure.c_str(), log);
        HttpClient::storeSetCookies(parsed, *options, "www.shop.test", "/", true, 0, log, nullptr);
    };
    const double read = bestCpuMs([] {},
                                  [&] {
                                      HttpResponseHeader parsed;
                                      parsed.parse(plain.c_str(), log);
                                  });
    const double stored = bestCpuMs(keepSecure, [&] {
        HttpResponseHeader parsed;
        parsed.parse(plain.c_str(), log);
        HttpClient::storeSetCookies(parsed, *options, "www.shop.test", "/", false, 0, log, nullptr);
    });
    std::printf("%s (%zu KB): read %8.1f ms  read and stored %8.1f ms CPU\n", what, plain.size() / 1024, read, stored);
    std::fflush(stdout);
}

void plainBesideSecureCookies() {
    const std::string path(benchsupport::smokeRun() ? 2000 : kLongPath, '/');
    plainBesideSecure("a plain sid on a path of 1,000,000 '/' beside a Secure one kept there",
                      "Set-Cookie: sid=1; Secure; Path=" + path + "\r\n", "Set-Cookie: sid=2; Path=" + path + "\r\n");
    // Paths that share ever longer beginnings with the plain one's and hold
    // none of it.
    const int kept = benchsupport::smokeRun() ? 20 : kKeptPaths;
    std::string secureFields, steps;
    for (int i = 1; i <= kept; ++i) {
        steps += "/a";
        secureFields += "Set-Cookie: sid=" + std::to_string(i) + "; Secure; Path=" + steps + "/b\r\n";
    }
    std::string deep;
    while (deep.size() < path.size())
        deep += "/a";
    plainBesideSecure("a plain sid on 500,000 '/a' beside 1,000 Secure ones at 1 to 1,000 '/a' and '/b'", secureFields,
                      "Set-Cookie: sid=0; Path=" + deep + "\r\n");
    const int fields = benchsupport::smokeRun() ? 100 : kBesideFields;
    std::string others, named, plain, plainNamed;
    for (int i = 0; i < fields; ++i) {
        const std::string n = std::to_string(i);
        others += "Set-Cookie: s" + n + "=" + n + "; Secure; Path=/p" + n + "\r\n";
        named += "Set-Cookie: sid=" + n + "; Secure; Path=/p" + n + "\r\n";
        plain += "Set-Cookie: c" + n + "=" + n + "; Path=/\r\n";
        plainNamed += "Set-Cookie: sid=" + n + "; Path=/q" + n + "\r\n";
    }
    plainBesideSecure("5,000 plain fields beside 5,000 Secure ones of other names", others, plain);
    plainBesideSecure("5,000 plain sid beside 5,000 Secure ones, each under a path of its own", named, plainNamed);
}

} // namespace

int main() {
    benchsupport::keepFreedMemory();
    installTextServices();
    formsAndBodies();
    manyCookies();
    plainBesideSecureCookies();
    return 0;
}
