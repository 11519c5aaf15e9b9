// An XML answer of 30 MB read as text: QuickGetStr of a text/xml body from
// nginx on loopback, in UTF-8 and in windows-1252 (as its declaration says),
// beside `curl | iconv` on the same body: MB/s of the whole fetch and the
// peak resident memory one fetch adds, each side measured in a child process
// of its own. Goal: within 1.1x of the previous commit, time and memory.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/BenchSupport.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/text/TextServices.h"
#include "tests/support/LoopbackPeers.h"

using namespace tessik;

namespace {

constexpr std::size_t kBodyBytes = 30u * 1000 * 1000;

struct Body {
    const char* file;
    const char* charset; // as iconv names it
};
constexpr Body kBodies[] = {{"body-utf8.xml", "UTF-8"}, {"body-1252.xml", "WINDOWS-1252"}};

// Records with markup, references and, every few words, characters beyond
// ASCII: two bytes each in UTF-8, one in windows-1252.
std::string makeBody(bool utf8, std::size_t size) {
    const std::string accented = utf8 ? "caf\xc3\xa9 \xe2\x82\xac" : "caf\xe9 \x80";
    std::string d =
        std::string("<?xml version=\"1.0\" encoding=\"") + (utf8 ? "utf-8" : "windows-1252") + "\"?>\n<entries>\n";
    d.reserve(size + 200);
    for (int i = 0; d.size() < size; ++i)
        d += "  <entry id=\"" + std::to_string(i) + "\" when=\"2026-12-08\"><pain level=\"3\">" + accented +
             " &amp; aching knee, " + accented + "</pain><note>walked 2 km</note></entry>\n";
    d += "</entries>\n";
    return d;
}

} // namespace

int main() {
    installTextServices();
    grvtest::LoopbackPeers peers;
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/";
    const std::size_t size = benchsupport::inputSize(kBodyBytes);
    bool allOk = true;
    std::printf("QuickGetStr of a text/xml body beside curl | iconv, nginx on loopback:\n");
    for (const Body& b : kBodies) {
        const std::string body = makeBody(std::string(b.charset) == "UTF-8", size);
        std::ofstream(nginx.docRoot + "/" + b.file, std::ios::binary) << body;
        const std::string url = base + b.file;
        const std::string pipeline = "curl -s --fail '" + url + "' | iconv -f " + b.charset + " -t UTF-8 >/dev/null";
        auto ours = [&] {
            ClsHttp http;
            http.options().UseIEProxy = 0;
            XString target, out;
            target.setFromUtf8(url.c_str());
            const bool ok = http.QuickGetStr(target, out, false, nullptr, http.getLog()) && out.getSizeUtf8() > 0;
            allOk = allOk && ok;
            return ok;
        };
        auto theirs = [&] {
            const bool ok = std::system(pipeline.c_str()) == 0;
            allOk = allOk && ok;
            return ok;
        };
        benchsupport::printBeside(std::string("QuickGetStr, ") + b.charset, body.size(), ours, "curl | iconv", theirs);
        const double oursMb = benchsupport::childPeakMb(false, ours);
        const double theirsMb = benchsupport::childPeakMb(true, theirs);
        std::printf("  peak memory one fetch adds: ours %.0f MB, curl | iconv %.0f MB (largest program)\n", oursMb,
                    theirsMb);
        allOk = allOk && oursMb >= 0 && theirsMb >= 0;
    }
    return allOk ? 0 : 1;
}
