// The text codings at 1, 10 and 100 MB, whose speed should not depend on
// the size, and quoted-printable decoding beside python's binascii on the
// same text (python times only its own decoding, in a child process).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/text/UrlCoding.h"

using namespace tessik;

namespace {

constexpr std::size_t kMegabyte = 1000000;
constexpr std::size_t kSizesMb[] = {1, 10, 100};

// Journal prose in UTF-8 with accents, digits and punctuation, to about n bytes.
std::string prose(std::size_t n) {
    static const char* words[] = {"Schmerz",
                                  "am",
                                  "Morgen",
                                  "Kn\xC3\xA9"
                                  "e",
                                  "steif",
                                  "Caf\xC3\xA9",
                                  "douleur",
                                  "apr\xC3\xA8s",
                                  "m\xC3\xA9"
                                  "decin",
                                  "3/10",
                                  "=",
                                  "besser",
                                  "\xC3\xBC"
                                  "ber",
                                  "Nacht.",
                                  "4,20 \xE2\x82\xAC",
                                  "(Ibuprofen)",
                                  "repos;",
                                  "2x"};
    std::mt19937 rng(5);
    std::string s;
    s.reserve(n + 32);
    while (s.size() < n) {
        s += words[rng() % std::size(words)];
        s += rng() % 13 == 0 ? "\r\n" : " ";
    }
    s.resize(n);
    return s;
}

std::string asString(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<std::size_t>(sb.getSize()));
}

std::string qpText(const std::string& raw) {
    ContentCoding cc;
    StringBuffer sb;
    cc.encodeQuotedPrintable(raw.data(), static_cast<unsigned>(raw.size()), sb);
    return asString(sb);
}

std::string base64Text(const std::string& raw) {
    StringBuffer sb;
    ContentCoding::encodeBase64NoCrlf(raw.data(), static_cast<unsigned>(raw.size()), sb);
    return asString(sb);
}

std::string urlText(const std::string& raw) {
    StringBuffer sb;
    urlEncodeBytes(raw.data(), static_cast<unsigned>(raw.size()), sb);
    return asString(sb);
}

std::string hexText(const std::string& raw) {
    StringBuffer sb;
    encodeHexBytes(raw.data(), static_cast<unsigned>(raw.size()), sb);
    return asString(sb);
}

struct Coding {
    const char* name;
    // The input of the coding made from raw prose.
    std::function<std::string(const std::string&)> input;
    std::function<void(const std::string&)> run;
};

const std::vector<Coding>& codings() {
    static const std::vector<Coding> all = {
        {"base64 encode", [](const std::string& r) { return r; },
         [](const std::string& in) {
             StringBuffer out;
             ContentCoding::encodeBase64NoCrlf(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getString());
         }},
        {"base64 decode", base64Text,
         [](const std::string& in) {
             DataBuffer out;
             ContentCoding::decodeBase64(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getData());
         }},
        {"quoted-printable encode", [](const std::string& r) { return r; },
         [](const std::string& in) {
             ContentCoding cc;
             StringBuffer out;
             cc.encodeQuotedPrintable(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getString());
         }},
        {"quoted-printable decode", qpText,
         [](const std::string& in) {
             DataBuffer out;
             ContentCoding::decodeQuotedPrintable(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getData());
         }},
        {"URL encode", [](const std::string& r) { return r; },
         [](const std::string& in) {
             StringBuffer out;
             urlEncodeBytes(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getString());
         }},
        {"URL decode", urlText,
         [](const std::string& in) {
             StringBuffer text(in.c_str());
             DataBuffer out;
             urlDecode(text, out);
             benchmark::DoNotOptimize(out.getData());
         }},
        {"hex encode", [](const std::string& r) { return r; },
         [](const std::string& in) {
             StringBuffer out;
             encodeHexBytes(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getString());
         }},
        {"hex decode", hexText,
         [](const std::string& in) {
             DataBuffer out;
             decodeHexBytes(in.data(), static_cast<unsigned>(in.size()), out);
             benchmark::DoNotOptimize(out.getData());
         }},
    };
    return all;
}

void BM_Coding(benchmark::State& state, const Coding& c) {
    const std::string in = c.input(prose(benchsupport::inputSize(kMegabyte)));
    for (auto _ : state)
        c.run(in);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

// python's binascii.a2b_qp on the file: its best MB/s over a few runs.
double pythonQpDecode(const std::string& file, std::size_t bytes) {
    const std::string cmd = "/usr/bin/python3 -c 'import binascii, sys, time\n"
                            "d = open(sys.argv[1], \"rb\").read()\n"
                            "ts = []\n"
                            "for _ in range(3):\n"
                            "    t = time.perf_counter(); binascii.a2b_qp(d); ts.append(time.perf_counter() - t)\n"
                            "print(min(ts))' '" +
                            file + "'";
    FILE* f = popen(cmd.c_str(), "r");
    if (!f)
        return 0;
    double seconds = 0;
    if (std::fscanf(f, "%lf", &seconds) != 1)
        seconds = 0;
    pclose(f);
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

} // namespace

int main(int argc, char** argv) {
    benchsupport::keepFreedMemory();
    for (const Coding& c : codings())
        benchmark::RegisterBenchmark(c.name, BM_Coding, c)->Unit(benchmark::kMillisecond);
    benchsupport::runRegistered(argc, argv);

    const std::string qp = qpText(prose(benchsupport::inputSize(10 * kMegabyte)));
    const std::string file = benchsupport::tempPath("bench-codings-qp.txt");
    std::ofstream(file, std::ios::binary).write(qp.data(), static_cast<std::streamsize>(qp.size()));
    double ours = 0, python = 0;
    for (int turn = 0; turn < (benchsupport::smokeRun() ? 1 : 3); ++turn) {
        ours = std::max(ours, benchsupport::megabytesPerSecond(qp.size(), [&] { codings()[3].run(qp); }));
        python = std::max(python, pythonQpDecode(file, qp.size()));
    }
    std::remove(file.c_str());
    std::printf("\n%-40s ours %8.0f MB/s  %-18s %8.0f MB/s  ratio %5.2fx\n", "quoted-printable decode, 10 MB", ours,
                "python binascii", python, python > 0 ? ours / python : 0.0);

    std::printf("\nEach coding by input size, into a new buffer each time (MB/s of input; the spread should stay\n"
                "within 20 %%):\n");
    for (const Coding& c : codings()) {
        std::vector<std::string> inputs;
        for (std::size_t megabytes : kSizesMb)
            inputs.push_back(c.input(prose(benchsupport::inputSize(megabytes * kMegabyte, megabytes * 1024))));
        benchsupport::printBySize(c.name, kSizesMb, benchsupport::bestByInput(inputs, c.run));
    }
    return 0;
}
