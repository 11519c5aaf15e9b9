// XML parse throughput beside libxml2's xmlReadMemory on the same documents
// of 1, 10 and 100 MB (records with attributes, escaped text, CDATA and
// nesting, like the library's cookie and ASN.1 files), freeing the tree
// included; and the peak memory of the 100 MB parse on each side, each
// measured in a child process of its own.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <sys/resource.h>

#include <cstdio>
#include <random>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"

using namespace tessik;

namespace {

constexpr std::size_t kMegabyte = 1000 * 1000;
constexpr std::size_t kSizes[] = {1, 10, 100};
constexpr std::size_t kMemorySize = 100;

std::string makeDocument(std::size_t size) {
    std::mt19937 rng(31);
    std::string d = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<cookies>\n";
    d.reserve(size + 1000);
    for (int i = 0; d.size() < size; ++i) {
        d += "  <cookie key=\"session" + std::to_string(i) + "\" domain=\".example.com\" path=\"/\" v=\"" +
             std::to_string(rng()) + "\">\n";
        d += "    <name>id&amp;" + std::to_string(rng() % 1000) + "</name>\n";
        d += "    <value>" + std::string(20 + rng() % 60, static_cast<char>('a' + rng() % 26)) + " &lt;x&gt;</value>\n";
        d += "    <expire><![CDATA[Tue, 01 Jan 2030 00:00:00 GMT]]></expire>\n";
        d += "    <flags secure=\"yes\"><httpOnly/></flags>\n  </cookie>\n";
    }
    d += "</cookies>\n";
    return d;
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

long maxResidentKb() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_maxrss;
}

// The growth of the peak resident size that one parse (and its freeing)
// causes, in a child process with the document already built; -1 when the
// child fails.
template <class Parse>
double peakMegabytes(const std::string& doc, Parse parse) {
    const long grown = benchsupport::inChild([&] {
        const StringBuffer text(doc.c_str());
        const long before = maxResidentKb();
        parse(doc, text);
        return maxResidentKb() - before;
    });
    return grown >= 0 ? grown / 1000.0 : -1;
}

void BM_ParseXml(benchmark::State& state) {
    const std::string doc = makeDocument(benchsupport::inputSize(static_cast<std::size_t>(state.range(0)) * kMegabyte));
    const StringBuffer text(doc.c_str());
    for (auto _ : state)
        parseOurs(text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.getSize());
}

void BM_libxml2_xmlReadMemory(benchmark::State& state) {
    const std::string doc = makeDocument(benchsupport::inputSize(static_cast<std::size_t>(state.range(0)) * kMegabyte));
    for (auto _ : state)
        parseLibxml2(doc);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

} // namespace

BENCHMARK(BM_ParseXml)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libxml2_xmlReadMemory)->Arg(10)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Memory first, while the process has not yet freed memory the parses
    // could take again without the peak growing.
    double ours = 0, theirs = 0;
    {
        const std::string doc = makeDocument(benchsupport::inputSize(kMemorySize * kMegabyte));
        ours = peakMegabytes(doc, [](const std::string&, const StringBuffer& text) { parseOurs(text); });
        theirs = peakMegabytes(doc, [](const std::string& d, const StringBuffer&) { parseLibxml2(d); });
    }
    benchsupport::runRegistered(argc, argv);

    std::printf("\nXML parse and free beside libxml2 xmlReadMemory:\n");
    for (std::size_t megabytes : kSizes) {
        const std::string doc = makeDocument(benchsupport::inputSize(megabytes * kMegabyte));
        const StringBuffer text(doc.c_str());
        benchsupport::printBeside(
            "parseXml, " + std::to_string(megabytes) + " MB document", doc.size(), [&] { parseOurs(text); }, "libxml2",
            [&] { parseLibxml2(doc); });
    }
    std::printf("Peak memory of the %zu MB parse (growth of the resident peak): ours %.0f MB, libxml2 %.0f MB\n",
                kMemorySize, ours, theirs);
    xmlCleanupParser();
    return 0;
}
