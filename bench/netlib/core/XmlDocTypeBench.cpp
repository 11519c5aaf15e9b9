// A document whose internal subset is nearly all of it (declarations,
// comments and instructions, once with "<!DOCTYPE" inside their literals,
// comments and instructions and once without), read at 1 and 10 MB beside
// libxml2's xmlReadMemory: the DOCTYPE scan must stay linear, the 10 MB
// read within 15 times the 1 MB one.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"

using namespace tessik;

namespace {

constexpr std::size_t kMegabyte = 1000 * 1000;
constexpr std::size_t kSmall = 1;
constexpr std::size_t kLarge = 10;
constexpr double kMostGrowth = 15.0;
// libxml2 takes time quadratic in the count of attribute-list declarations
// (a minute for 10 MB of them): fewer keep its side of the figures short.
constexpr int kAttlistEvery = 16;
constexpr int kReadSeconds = 3;

std::string makeDocument(std::size_t size, bool nested) {
    const std::string inner = nested ? "<!DOCTYPE x [ ]>" : "plain words";
    std::string d =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"" + std::string(nested ? "<!DOCTYPE" : "r.dtd") + "\" [\n";
    d.reserve(size + 1000);
    for (int i = 0; d.size() < size; ++i) {
        const std::string n = std::to_string(i);
        d += "<!ELEMENT e" + n + " (#PCDATA|a|b)*>\n";
        if (i % kAttlistEvery == 0)
            d += "<!ATTLIST e" + n + " a CDATA \"x>y\" b CDATA '\"]>'>\n";
        d += "<!ENTITY g" + n + " \"value " + inner + "\">\n";
        d += "<!NOTATION n" + n + " SYSTEM \"n.bin\">\n";
        d += "<!-- a comment " + inner + " -->\n";
        d += "<?pi data " + inner + " ?>\n";
    }
    d += "]>\n<r a=\"1\">text<e0/></r>\n";
    return d;
}

// Whether the document loaded whole: its root and child read, its DOCTYPE kept.
bool parseOurs(const StringBuffer& text) {
    TreeNode* root = nullptr;
    parseXmlText(text, nullptr, nullptr, &root, true);
    benchmark::DoNotOptimize(root);
    if (!root)
        return false;
    const StringBuffer* docType = root->getDocument() ? root->getDocument()->getDocTypeText() : nullptr;
    const bool whole = root->getNumChildren() == 1 && docType && docType->getSize() > text.getSize() / 2;
    root->deleteTree();
    return whole;
}

bool parseLibxml2(const std::string& text) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "bench.xml", nullptr,
                                  XML_PARSE_HUGE | XML_PARSE_NONET);
    benchmark::DoNotOptimize(doc);
    const bool read = doc != nullptr;
    xmlFreeDoc(doc);
    return read;
}

void BM_ParseXmlLargeDocType(benchmark::State& state) {
    const std::string doc = makeDocument(benchsupport::inputSize(kLarge * kMegabyte), state.range(0) != 0);
    const StringBuffer text(doc.c_str());
    for (auto _ : state)
        parseOurs(text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.getSize());
}

void BM_libxml2_LargeDocType(benchmark::State& state) {
    const std::string doc = makeDocument(benchsupport::inputSize(kLarge * kMegabyte), state.range(0) != 0);
    for (auto _ : state)
        parseLibxml2(doc);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(doc.size()));
}

// Milliseconds of the fastest read of each document: one read of each in
// turn, for a few seconds and a few turns at the least, so that the shared
// machine's busy moments fall on both alike, and neither finds itself in
// the cache, as the small one would after a read of its own.
template <class Read>
std::vector<double> fastestReads(const std::vector<const void*>& documents, Read&& read) {
    using Clock = std::chrono::steady_clock;
    const bool smoke = benchsupport::smokeRun();
    const auto budget = smoke ? Clock::duration::zero() : std::chrono::seconds(kReadSeconds);
    std::vector<double> best(documents.size(), 0.0);
    const auto start = Clock::now();
    for (int turn = 0; turn < (smoke ? 1 : benchsupport::kTurns) || Clock::now() - start < budget; ++turn) {
        for (std::size_t k = 0; k < documents.size(); ++k) {
            const auto before = Clock::now();
            read(documents[k]);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
            best[k] = turn == 0 ? ms : std::min(best[k], ms);
        }
    }
    return best;
}

} // namespace

BENCHMARK(BM_ParseXmlLargeDocType)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libxml2_LargeDocType)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchsupport::keepFreedMemory();
    benchsupport::runRegistered(argc, argv);
    std::printf("\nA DOCTYPE's internal subset of %zu and %zu MB, read beside libxml2 xmlReadMemory (ms per read):\n",
                kSmall, kLarge);
    bool within = true;
    for (bool nested : {false, true}) {
        const std::string small = makeDocument(benchsupport::inputSize(kSmall * kMegabyte), nested);
        const std::string large = makeDocument(benchsupport::inputSize(kLarge * kMegabyte, 40960), nested);
        const StringBuffer smallText(small.c_str()), largeText(large.c_str());
        const bool loaded = parseOurs(smallText) && parseOurs(largeText);
        const bool theirsLoaded = parseLibxml2(small) && parseLibxml2(large);
        const auto ours = fastestReads({&smallText, &largeText},
                                       [](const void* d) { parseOurs(*static_cast<const StringBuffer*>(d)); });
        const auto theirs =
            fastestReads({&small, &large}, [](const void* d) { parseLibxml2(*static_cast<const std::string*>(d)); });
        const double ours1 = ours[0], ours10 = ours[1], theirs1 = theirs[0], theirs10 = theirs[1];
        const double growth = ours10 / ours1;
        within = within && loaded && growth <= kMostGrowth;
        std::printf("%-34s ours %8.2f / %8.2f ms (x%5.2f, %s)  libxml2 %8.2f / %8.2f ms (x%5.2f, %s)\n",
                    nested ? "with \"<!DOCTYPE\" inside" : "without \"<!DOCTYPE\" inside", ours1, ours10, growth,
                    loaded ? "loaded whole" : "NOT LOADED", theirs1, theirs10, theirs10 / theirs1,
                    theirsLoaded ? "read" : "REFUSED");
    }
    std::printf("10 MB within %.0fx of 1 MB, loaded whole: %s\n", kMostGrowth, within ? "yes" : "NO");
    xmlCleanupParser();
    return within || benchsupport::smokeRun() ? 0 : 1;
}
