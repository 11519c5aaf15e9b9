// XML parse throughput beside libxml2's, on the same 30 MB document (records
// with attributes, escaped text, CDATA and nesting, like the library's cookie
// and ASN.1 files).
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"

using namespace tessik;

namespace {

constexpr size_t kFullDocumentSize = 30u * 1000 * 1000;

const std::string& document() {
    static const std::string doc = [] {
        std::mt19937 rng(31);
        std::string d = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<cookies>\n";
        for (int i = 0; d.size() < benchsupport::inputSize(kFullDocumentSize); ++i) {
            d += "  <cookie key=\"session" + std::to_string(i) + "\" domain=\".example.com\" path=\"/\" v=\"" +
                 std::to_string(rng()) + "\">\n";
            d += "    <name>id&amp;" + std::to_string(rng() % 1000) + "</name>\n";
            d += "    <value>" + std::string(20 + rng() % 60, static_cast<char>('a' + rng() % 26)) +
                 " &lt;x&gt;</value>\n";
            d += "    <expire><![CDATA[Tue, 01 Jan 2030 00:00:00 GMT]]></expire>\n";
            d += "    <flags secure=\"yes\"><httpOnly/></flags>\n  </cookie>\n";
        }
        d += "</cookies>\n";
        return d;
    }();
    return doc;
}

void parseOurs(const StringBuffer& text) {
    TreeNode* root = nullptr;
    parseXmlText(text, nullptr, nullptr, &root, true);
    benchmark::DoNotOptimize(root);
    if (root)
        root->deleteTree();
}

void parseLibxml2(const std::string& text) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "bench.xml", nullptr,
                                  XML_PARSE_NOBLANKS | XML_PARSE_HUGE);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
}

void BM_ParseXml(benchmark::State& state) {
    const StringBuffer text(document().c_str());
    for (auto _ : state)
        parseOurs(text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.getSize());
}

void BM_libxml2_xmlReadMemory(benchmark::State& state) {
    for (auto _ : state)
        parseLibxml2(document());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document().size()));
}

template <typename F>
double megabytesPerSecond(F parse) {
    using Clock = std::chrono::steady_clock;
    int rounds = 0;
    const auto start = Clock::now();
    do {
        parse();
        ++rounds;
    } while (!benchsupport::smokeRun() && Clock::now() - start < std::chrono::seconds(2));
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    return rounds * static_cast<double>(document().size()) / 1e6 / secs;
}

} // namespace

BENCHMARK(BM_ParseXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libxml2_xmlReadMemory)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const StringBuffer text(document().c_str());
    const double ours = megabytesPerSecond([&] { parseOurs(text); });
    const double libxml2 = megabytesPerSecond([] { parseLibxml2(document()); });
    std::printf("XML parse of %.1f MB: parseXml %.0f MB/s, libxml2 xmlReadMemory %.0f MB/s\n", document().size() / 1e6,
                ours, libxml2);
    xmlCleanupParser();
    return 0;
}
