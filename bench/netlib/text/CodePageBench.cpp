// Conversion speed of the engine beside glibc's iconv on the same 16 MiB:
// UTF-8 to page 1252 and Shift_JIS (page 932) to UTF-8.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/text/TextServices.h"

namespace {

constexpr size_t kSize = 16u << 20;

// Latin-1 prose with accents and euro signs, all of it in page 1252.
const std::string& westernUtf8() {
    static const std::string text = [] {
        const std::string line = "Schmerz am Morgen: Kn\xC3\xA9" "e steif, Caf\xC3\xA9 und Ibuprof\xC3\xA8n, "
                                 "Kosten 4,20 \xE2\x82\xAC \xE2\x80\x94 besser \xC3\xBC" "ber Nacht.\n";
        std::string s;
        while (s.size() < kSize) s += line;
        s.resize(kSize - kSize % line.size());
        return s;
    }();
    return text;
}

// Japanese text with kana, kanji, ASCII and half-width katakana.
const std::string& shiftJis() {
    static const std::string text = [] {
        tessik::installTextServices();
        const std::string utf8 = "今日の痛みは少し軽い。朝に散歩をして、薬を飲んだ。Level 3/10 ｶﾀｶﾅ\r\n";
        DataBuffer sj;
        EncodingConvert ec;
        ec.convert(65001, 932, utf8.data(), static_cast<unsigned>(utf8.size()), sj);
        std::string line(reinterpret_cast<const char*>(sj.getData()), sj.getSize());
        std::string s;
        while (s.size() + line.size() <= kSize) s += line;
        return s;
    }();
    return text;
}

void ours(benchmark::State& state, int from, int to, const std::string& in) {
    tessik::installTextServices();
    for (auto _ : state) {
        DataBuffer out;
        EncodingConvert ec;
        bool ok = ec.convert(from, to, in.data(), static_cast<unsigned>(in.size()), out);
        if (!ok || out.getSize() == 0) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void viaIconv(benchmark::State& state, const char* from, const char* to, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    std::vector<char> out(in.size() * 2 + 16);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char* dst = out.data();
        size_t dstLeft = out.size();
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) state.SkipWithError("iconv failed");
        benchmark::DoNotOptimize(out.data());
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void Utf8ToCp1252_Engine(benchmark::State& s) { ours(s, 65001, 1252, westernUtf8()); }
void Utf8ToCp1252_Iconv(benchmark::State& s) { viaIconv(s, "UTF-8", "CP1252", westernUtf8()); }
void ShiftJisToUtf8_Engine(benchmark::State& s) { ours(s, 932, 65001, shiftJis()); }
void ShiftJisToUtf8_Iconv(benchmark::State& s) { viaIconv(s, "CP932", "UTF-8", shiftJis()); }

BENCHMARK(Utf8ToCp1252_Engine)->Unit(benchmark::kMillisecond);
BENCHMARK(Utf8ToCp1252_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(ShiftJisToUtf8_Engine)->Unit(benchmark::kMillisecond);
BENCHMARK(ShiftJisToUtf8_Iconv)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
