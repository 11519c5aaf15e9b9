// Conversion speed of the engine beside glibc's iconv on the same text:
// UTF-8 to windows-1252 and to Shift_JIS, Shift_JIS and GB2312 to UTF-8;
// then the engine's own speed at 1, 10 and 100 MB, which should not change.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

namespace {

constexpr std::size_t kMegabyte = 1000000;
constexpr int kUtf8 = 65001;
constexpr std::size_t kSizesMb[] = {1, 10, 100};

// Journal prose in German and French, all of it in page 1252.
const char kWestern[] =
    "Schmerz am Morgen: Kn\xC3\xA9"
    "e steif, Caf\xC3\xA9 und Ibuprof\xC3\xA8n, Kosten 4,20 \xE2\x82\xAC \xE2\x80\x94 besser \xC3\xBC"
    "ber Nacht.\nLa douleur a diminu\xC3\xA9 apr\xC3\xA8s la promenade; le m\xC3\xA9"
    "decin conseille \xC2\xAB repos \xC2\xBB et 2\xC3\x97 par jour.\n";
// Japanese with kana, kanji, ASCII and half-width katakana.
const char kJapanese[] = "今日の痛みは少し軽い。朝に散歩をして、薬を飲んだ。Level 3/10 ｶﾀｶﾅ\r\n"
                         "夜はよく眠れなかったが、昼過ぎには頭痛が治まった。医者の予約は来週の火曜日。\r\n";
// Simplified Chinese, all of it in GB2312.
const char kChinese[] = "今天的疼痛比昨天轻一些。早上散步以后吃了药，晚上睡得不好。疼痛等级：三级。\r\n"
                        "医生说要多休息，每天两次。下周二再去医院复查。\r\n";

// The UTF-8 text repeated to about `size` bytes, in page `page`.
std::string textIn(const char* utf8, int page, std::size_t size) {
    std::string line = utf8;
    if (page != kUtf8) {
        DataBuffer converted;
        EncodingConvert ec;
        ec.convert(kUtf8, page, line.data(), static_cast<unsigned>(line.size()), converted);
        line.assign(reinterpret_cast<const char*>(converted.getData()), converted.getSize());
    }
    std::string s;
    s.reserve(size + line.size());
    while (s.size() + line.size() <= std::max(size, line.size()))
        s += line;
    return s;
}

struct Case {
    const char* name;
    const char* text;
    int from, to;
    const char* iconvFrom;
    const char* iconvTo;
};
const Case kCases[] = {
    {"UTF-8 -> windows-1252", kWestern, kUtf8, 1252, "UTF-8", "WINDOWS-1252"},
    {"UTF-8 -> Shift_JIS", kJapanese, kUtf8, 932, "UTF-8", "CP932"},
    {"Shift_JIS -> UTF-8", kJapanese, 932, kUtf8, "CP932", "UTF-8"},
    {"GB2312 -> UTF-8", kChinese, 936, kUtf8, "GB2312", "UTF-8"},
};

std::size_t convertOurs(const Case& c, const std::string& in) {
    DataBuffer out;
    EncodingConvert ec;
    ec.convert(c.from, c.to, in.data(), static_cast<unsigned>(in.size()), out);
    benchmark::DoNotOptimize(out.getData());
    return out.getSize();
}

// iconv into a buffer made once, as a program using it would.
class IconvPeer {
public:
    IconvPeer(const Case& c, std::size_t inSize) : m_cd(iconv_open(c.iconvTo, c.iconvFrom)), m_out(inSize * 2 + 16) {}
    ~IconvPeer() {
        if (ok())
            iconv_close(m_cd);
    }
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    std::size_t convert(const std::string& in) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = m_out.data();
        std::size_t dstLeft = m_out.size();
        iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
        benchmark::DoNotOptimize(m_out.data());
        return m_out.size() - dstLeft;
    }

private:
    iconv_t m_cd;
    std::vector<char> m_out;
};

void BM_Engine(benchmark::State& state, const Case& c) {
    const std::string in = textIn(c.text, c.from, benchsupport::inputSize(kMegabyte));
    for (auto _ : state)
        if (convertOurs(c, in) == 0)
            state.SkipWithError("conversion failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void BM_Iconv(benchmark::State& state, const Case& c) {
    const std::string in = textIn(c.text, c.from, benchsupport::inputSize(kMegabyte));
    IconvPeer peer(c, in.size());
    if (!peer.ok()) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    for (auto _ : state)
        peer.convert(in);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

} // namespace

int main(int argc, char** argv) {
    tessik::installTextServices();
    benchsupport::keepFreedMemory();
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("Engine ") + c.name).c_str(), BM_Engine, c)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("iconv ") + c.name).c_str(), BM_Iconv, c)
            ->Unit(benchmark::kMillisecond);
    }
    benchsupport::runRegistered(argc, argv);

    std::printf("\nCode-page conversion beside iconv, %s of text each:\n",
                benchsupport::smokeRun() ? "a few KB" : "about 10 MB");
    for (const Case& c : kCases) {
        const std::string in = textIn(c.text, c.from, benchsupport::inputSize(10 * kMegabyte));
        IconvPeer peer(c, in.size());
        if (!peer.ok() || convertOurs(c, in) != peer.convert(in)) {
            std::printf("%s: iconv disagrees on the output size\n", c.name);
            return 1;
        }
        benchsupport::printBeside(c.name, in.size(), [&] { convertOurs(c, in); }, "iconv", [&] { peer.convert(in); });
    }

    std::printf("\nThe engine's speed by input size, into a new buffer each time (MB/s; the spread should stay\n"
                "within 20 %%):\n");
    for (const Case& c : kCases) {
        std::vector<std::string> inputs;
        for (std::size_t megabytes : kSizesMb)
            inputs.push_back(textIn(c.text, c.from, benchsupport::inputSize(megabytes * kMegabyte, megabytes * 1024)));
        const std::vector<double> rates =
            benchsupport::bestByInput(inputs, [&](const std::string& in) { convertOurs(c, in); });
        benchsupport::printBySize(c.name, kSizesMb, rates);
    }
    return 0;
}
