// XML parse throughput beside libxml2's xmlReadMemory on the same documents
// of 1, 10 and 100 MB (records with attributes, escaped text, CDATA and
// nesting, like the library's cookie and ASN.1 files) and of 10 MB made
// mostly of names, CJK or ASCII, freeing the tree included; and the peak
// memory of the 100 MB parse on each side, each measured in a child process
// of its own. Beside them, SaveXml of a 30 MB tree in windows-1252 and
// libxml2's xmlSaveFileEnc of the same tree, with the peak memory each save
// adds; and saves of a small document (a few records, as an application
// keeps its settings) in a folder of 20,000 files, where each of ours marks
// and unmarks the part it writes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/ClsXml.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

namespace {

constexpr std::size_t kMegabyte = 1000 * 1000;
constexpr std::size_t kSizes[] = {1, 10, 100};
constexpr std::size_t kMemorySize = 100;
constexpr std::size_t kNamesSize = 10;
constexpr std::size_t kSaveSize = 30;
constexpr char kSaveCharset[] = "windows-1252";
constexpr std::size_t kSmallSave = 1000;
constexpr int kCrowd = 20000;
constexpr int kSmokeCrowd = 20;

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

// The document with text windows-1252 has beyond ASCII in every record,
// declared in that charset (for SaveXml) or in UTF-8 (for libxml2, which
// takes the save's charset as an argument).
std::string makeLatinDocument(std::size_t size, const char* declared) {
    std::string d = makeDocument(size);
    const std::string from = "encoding=\"utf-8\"";
    d.replace(d.find(from), from.size(), std::string("encoding=\"") + declared + "\"");
    std::string out;
    out.reserve(d.size() + d.size() / 8);
    const std::string name = "<name>";
    std::size_t at = 0;
    for (std::size_t next; (next = d.find(name, at)) != std::string::npos; at = next + name.size())
        out.append(d, at, next + name.size() - at).append("caf\xc3\xa9 \xe2\x82\xac\xe2\x80\x9c ");
    out.append(d, at, std::string::npos);
    return out;
}

// A document made mostly of names: records of short elements and
// attributes, their names CJK (ideographs and kana, which every edition of
// XML 1.0 allows, so that any reader is timed reading them) or ASCII ones
// of the same count.
struct NameSet {
    const char* record;
    const char* fields[6];
    const char* attributes[3];
};
constexpr NameSet kCjkNames = {
    "\xe8\xa8\x98\xe9\x8c\xb2",
    {"\xe6\xb0\x8f\xe5\x90\x8d", "\xe4\xbd\x8f\xe6\x89\x80", "\xe9\x9b\xbb\xe8\xa9\xb1\xe7\x95\xaa\xe5\x8f\xb7",
     "\xe4\xbb\xae\xe5\x90\x8d", "\xe5\xba\x97\xe5\x90\x8d", "\xe3\x81\x97\xe3\x82\x81\xe5\x88\x87\xe3\x82\x8a"},
    {"\xe7\x95\xaa\xe5\x8f\xb7", "\xe7\xa8\xae\xe9\xa1\x9e", "\xe7\x8a\xb6\xe6\x85\x8b"},
};
constexpr NameSet kAsciiNames = {
    "record", {"fullName", "address", "phoneNumber", "kana", "shopName", "deadline"}, {"number", "kind", "state"}};

std::string makeNamesDocument(std::size_t size, const NameSet& names) {
    std::string d = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<r>\n";
    d.reserve(size + 1000);
    for (int i = 0; d.size() < size; ++i) {
        d += std::string("  <") + names.record;
        for (const char* a : names.attributes)
            d += std::string(" ") + a + "=\"" + std::to_string(i % 97) + "\"";
        d += ">\n";
        for (const char* f : names.fields)
            d += std::string("    <") + f + " " + names.attributes[0] + "=\"1\">" + std::to_string(i % 13) + "</" + f +
                 ">\n";
        d += std::string("  </") + names.record + ">\n";
    }
    d += "</r>\n";
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

void saveOurs(ClsXml& xml, const std::string& path) {
    if (!xml.SaveXml(path.c_str()))
        std::fprintf(stderr, "SaveXml failed\n");
}

// Flushed to the disk as SaveXml's writer flushes what it wrote.
void saveLibxml2(xmlDocPtr doc, const std::string& path) {
    if (xmlSaveFileEnc(path.c_str(), doc, kSaveCharset) < 0)
        std::fprintf(stderr, "xmlSaveFileEnc failed\n");
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// The growth of the peak resident size that one parse (and its freeing)
// causes, in a child process with the document already built; -1 when the
// child fails.
template <class Parse>
double peakMegabytes(const std::string& doc, Parse parse) {
    const long grown = benchsupport::inChild([&] {
        const StringBuffer text(doc.c_str());
        const long before = benchsupport::ownPeakKb();
        parse(doc, text);
        return benchsupport::ownPeakKb() - before;
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
    installTextServices();
    // Memory first, while the process has not yet freed memory the parses
    // could take again without the peak growing.
    double ours = 0, theirs = 0;
    {
        const std::string doc = makeDocument(benchsupport::inputSize(kMemorySize * kMegabyte));
        ours = peakMegabytes(doc, [](const std::string&, const StringBuffer& text) { parseOurs(text); });
        theirs = peakMegabytes(doc, [](const std::string& d, const StringBuffer&) { parseLibxml2(d); });
    }
    // Each save's trees are built before the child that saves is made.
    const std::string ourPath = benchsupport::tempPath("bench-savexml-ours.xml");
    const std::string theirPath = benchsupport::tempPath("bench-savexml-libxml2.xml");
    const std::size_t saveSize = benchsupport::inputSize(kSaveSize * kMegabyte);
    ClsXml tree;
    tree.LoadXml(makeLatinDocument(saveSize, kSaveCharset).c_str(), true);
    const std::string utf8Doc = makeLatinDocument(saveSize, "utf-8");
    xmlDocPtr libxml2Tree = xmlReadMemory(utf8Doc.data(), static_cast<int>(utf8Doc.size()), "bench.xml", nullptr,
                                          XML_PARSE_NOBLANKS | XML_PARSE_HUGE);
    const double oursSave =
        peakMegabytes(std::string(), [&](const std::string&, const StringBuffer&) { saveOurs(tree, ourPath); });
    const double theirsSave = peakMegabytes(
        std::string(), [&](const std::string&, const StringBuffer&) { saveLibxml2(libxml2Tree, theirPath); });
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
    for (const auto& [kind, names] : {std::pair{"CJK", &kCjkNames}, std::pair{"ASCII", &kAsciiNames}}) {
        const std::string doc = makeNamesDocument(benchsupport::inputSize(kNamesSize * kMegabyte), *names);
        const StringBuffer text(doc.c_str());
        benchsupport::printBeside(
            "parseXml, " + std::to_string(kNamesSize) + " MB of " + kind + " names", doc.size(),
            [&] { parseOurs(text); }, "libxml2", [&] { parseLibxml2(doc); });
    }

    std::printf("\nSaveXml beside libxml2 xmlSaveFileEnc, both in %s:\n", kSaveCharset);
    benchsupport::printBeside(
        "SaveXml, " + std::to_string(kSaveSize) + " MB document", utf8Doc.size(), [&] { saveOurs(tree, ourPath); },
        "libxml2", [&] { saveLibxml2(libxml2Tree, theirPath); });
    std::printf("Peak memory the %zu MB save adds: ours %.0f MB, libxml2 %.0f MB\n", kSaveSize, oursSave, theirsSave);

    const int crowd = benchsupport::smokeRun() ? kSmokeCrowd : kCrowd;
    const std::filesystem::path folder = benchsupport::tempPath("bench-savexml-crowd");
    std::filesystem::create_directory(folder);
    for (int i = 0; i < crowd; ++i)
        std::ofstream(folder / ("crowd" + std::to_string(i)));
    ClsXml small;
    small.LoadXml(makeLatinDocument(kSmallSave, kSaveCharset).c_str(), true);
    const std::string smallUtf8 = makeLatinDocument(kSmallSave, "utf-8");
    xmlDocPtr smallLibxml2 =
        xmlReadMemory(smallUtf8.data(), static_cast<int>(smallUtf8.size()), "bench.xml", nullptr, XML_PARSE_NOBLANKS);
    benchsupport::printBeside(
        "SaveXml, small, beside " + std::to_string(crowd) + " files", smallUtf8.size(),
        [&] { saveOurs(small, folder / "ours.xml"); }, "libxml2",
        [&] { saveLibxml2(smallLibxml2, folder / "libxml2.xml"); });
    xmlFreeDoc(smallLibxml2);
    std::filesystem::remove_all(folder);
    xmlFreeDoc(libxml2Tree);
    std::remove(ourPath.c_str());
    std::remove(theirPath.c_str());
    xmlCleanupParser();
    return 0;
}
