// The in-memory tables, their loading, every stored page against the
// reference its generator read (python3 codecs, iconv, ICU, npm codepage),
// against independent judges, and against properties no reference is needed for.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/CodePageEngine.h"
#include "netlib/text/CodePageTableText.h"
#include "netlib/text/CodePageTables.h"
#include "netlib/text/DirectTables.h"
#include "netlib/text/HashConvert.h"
#include "platform/ByteOrder.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using Bytes = std::vector<unsigned char>;

// The one page whose table holds three-byte codes.
constexpr int kEucJpPage = 51932;

Bytes valueOf(const HashConvert& h, const Bytes& key) {
    unsigned char v[255];
    unsigned int n = 0;
    h.lookup(key.data(), static_cast<unsigned>(key.size()), v, n);
    return Bytes(v, v + n);
}

// The hash tables behind the pages (shadowing, removal, inverses) are judged
// through every page below.
TEST(CodePageTables, LoadsStoredFormsAndOverrides) {
    // 'x' marker: plain base64 of "am" + records 0x41->U+0041, 0x80->U+20AC, end, end.
    // Bytes: 61 6D | 41 41 00 | 3F 6B 20 | 00 | 00 00
    const char* plain = "xYW1BQQA/ayAAAAA=";
    HashConvert to;
    to.setBucketCount(283);
    ASSERT_TRUE(tessik::loadTableText(plain, to, tessik::TableDirection::ToUnicode));
    EXPECT_TRUE(to.asciiCompatible);
    EXPECT_EQ(valueOf(to, {0x80}), (Bytes{0xAC, 0x20}));
    tessik::UnicodeLookup lookup;
    tessik::fillSingleByteLookup(to, lookup);
    EXPECT_EQ(lookup.units[0x80], 0x20AC);
    EXPECT_EQ(lookup.units[0x81], 0);

    // Override table: remove U+20AC, then U+00E9 -> 0x82, then U+3000 -> 81 40.
    // "-d" AC 20 00 00 | 82 E9 00 | 00 | 81 40 00 30 | 00 00
    const char* overrides = "xLWSsIAAAgukAAIFAADAAAA==";
    HashConvert from;
    from.setBucketCount(269);
    ASSERT_TRUE(tessik::loadTableText(plain, from, tessik::TableDirection::FromUnicode));
    EXPECT_EQ(valueOf(from, {0xAC, 0x20}), (Bytes{0x80}));
    ASSERT_TRUE(tessik::loadTableText(overrides, from, tessik::TableDirection::FromUnicode));
    EXPECT_FALSE(from.asciiCompatible);
    EXPECT_TRUE(valueOf(from, {0xAC, 0x20}).empty());
    EXPECT_EQ(valueOf(from, {0xE9, 0x00}), (Bytes{0x82}));
    EXPECT_EQ(valueOf(from, {0x00, 0x30}), (Bytes{0x81, 0x40}));
    HashConvert ignored;
    ignored.setBucketCount(7);
    ASSERT_TRUE(tessik::loadTableText(overrides, ignored, tessik::TableDirection::ToUnicode));
    EXPECT_TRUE(valueOf(ignored, {0x82}).empty());
    EXPECT_FALSE(tessik::loadTableText("", ignored, tessik::TableDirection::ToUnicode));
}

TEST(CodePageTables, BuiltOnceAndShared) {
    const tessik::UnicodeLookup* a = tessik::singleByteToUnicodeTable(1252);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(tessik::singleByteToUnicodeTable(1252), a);
    EXPECT_EQ(tessik::fromUnicodeTable(12345), nullptr);
    EXPECT_EQ(tessik::multiByteToUnicodeTable(1252), nullptr);
    tessik::StringBuffer text;
    EXPECT_FALSE(tessik::appendTableText(12345, text));
    EXPECT_TRUE(tessik::appendTableText(932, text));
    EXPECT_GT(text.getSize(), 1000); // many blocks, assembled in order
}

// Eight threads meet on the first use of one table; under -DGRV_TSAN=ON
// ThreadSanitizer checks that none sees it half built.
TEST(CodePageTables, FirstUseRace) {
    std::vector<const void*> seen(8);
    std::vector<int> units(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &seen, &units] {
            const HashConvert* h = tessik::multiByteToUnicodeTable(950);
            seen[t] = h;
            unsigned int n = 0;
            const unsigned char key[2] = {0xA4, 0x40}; // 一
            const unsigned char* v = h->find(key, 2, n);
            units[t] = n == 2 ? platform::LoadLe16(v) : -1;
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(seen[t], seen[0]);
        EXPECT_EQ(units[t], 0x4E00);
    }
}

// The direct forms: built once from the hashed tables, racing first users
// included, and where a page does not fit the form it says so.
TEST(CodePageTables, DirectFormsBuiltOnceAndFaithful) {
    std::vector<const tessik::DirectDecodeTable*> decoders(8);
    std::vector<const tessik::DirectEncodeTable*> encoders(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &decoders, &encoders] {
            decoders[t] = tessik::directDecodeTable(949);
            encoders[t] = tessik::directEncodeTable(949);
        });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(decoders[t], decoders[0]);
        EXPECT_EQ(encoders[t], encoders[0]);
    }
    const tessik::DirectDecodeTable& dec = *decoders[0];
    const tessik::DirectEncodeTable& enc = *encoders[0];
    ASSERT_TRUE(dec.usable && enc.usable);
    EXPECT_TRUE(dec.asciiTransparent && enc.asciiTransparent);
    // Every code the hashed table knows reads the same from the direct one.
    const HashConvert& hashed = *tessik::multiByteToUnicodeTable(949);
    int pairs = 0;
    for (unsigned code = 0x8100; code <= 0xFEFF; ++code) {
        unsigned char key[2];
        platform::StoreBe16(key, static_cast<std::uint16_t>(code));
        unsigned int n = 0;
        const unsigned char* v = hashed.find(key, 2, n);
        const int want = v ? platform::LoadLe16(v) : tessik::DirectDecodeTable::kNone;
        ASSERT_EQ(dec.pairs[code], want) << std::hex << code;
        pairs += v != nullptr;
    }
    EXPECT_GT(pairs, 8000);

    // EUC-JP's three-byte codes read the same from the direct form too.
    const tessik::DirectDecodeTable& euc = *tessik::directDecodeTable(kEucJpPage);
    ASSERT_TRUE(euc.usable);
    ASSERT_EQ(euc.tripleLead, 0x8F);
    const HashConvert& eucHashed = *tessik::multiByteToUnicodeTable(kEucJpPage);
    int triples = 0;
    for (unsigned rest = 0; rest <= 0xFFFF; ++rest) {
        const unsigned char key[3] = {0x8F, static_cast<unsigned char>(rest >> 8), static_cast<unsigned char>(rest)};
        unsigned int n = 0;
        const unsigned char* v = eucHashed.find(key, 3, n);
        const int want = v ? v[0] | (v[1] << 8) : tessik::DirectDecodeTable::kNone;
        ASSERT_EQ(euc.triples[rest], want) << std::hex << rest;
        triples += v != nullptr;
    }
    EXPECT_GT(triples, 7000);
    EXPECT_EQ(tessik::directDecodeTable(12345), nullptr);
    EXPECT_EQ(tessik::directEncodeTable(12345), nullptr);
}

std::string hexOf(const unsigned char* p, unsigned n) {
    std::string s;
    char b[3];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", p[i]);
        s += b;
    }
    return s;
}

Bytes fromHex(const std::string& h) {
    Bytes b;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
}

struct Reference {
    std::map<Bytes, unsigned> decode;
    std::map<unsigned, std::string> encode;
    std::set<unsigned> unjudged; // code points the source writes differently from release to release
};

// Runs the reference dumper once for all pages.
const std::map<int, Reference>& references(std::vector<std::string>& skipped) {
    static std::map<int, Reference> refs;
    static std::vector<std::string> skips;
    static bool done = false;
    if (!done) {
        done = true;
        const auto dump = grvtest::RunProgram({"/usr/bin/python3", GRV_SOURCE_DIR "/scripts/codepages/reference.py"});
        if (dump.status == 0) {
            std::istringstream f(dump.out);
            std::string kind, a, b;
            Reference* cur = nullptr;
            std::string line;
            while (std::getline(f, line)) {
                std::istringstream ls(line);
                ls >> kind >> a;
                if (kind == "P") {
                    cur = &refs[std::stoi(a)];
                } else if (kind == "S") {
                    skips.push_back(line);
                } else if (cur && kind == "D") {
                    ls >> b;
                    cur->decode[fromHex(a)] = static_cast<unsigned>(std::stoul(b, nullptr, 16));
                } else if (cur && kind == "E") {
                    ls >> b;
                    cur->encode[static_cast<unsigned>(std::stoul(a, nullptr, 16))] = b;
                } else if (cur && kind == "U") {
                    cur->unjudged.insert(static_cast<unsigned>(std::stoul(a, nullptr, 16)));
                }
            }
        }
    }
    skipped = skips;
    return refs;
}

// Deliberate differences: "PAGE encode U+XXXX ours=.. ref=.." and
// "PAGE longer-codes-not-kept N".
struct Differences {
    std::map<std::pair<int, unsigned>, std::pair<std::string, std::string>> encode;
    std::map<int, int> longerCodes;
    std::set<std::pair<int, Bytes>> roundTrip;
    std::map<std::pair<int, Bytes>, unsigned> judged; // our code point, 0 for none
};

Differences differences() {
    Differences d;
    std::ifstream f(GRV_SOURCE_DIR "/scripts/codepages/differences.txt");
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream ls(line);
        int page;
        std::string what;
        ls >> page >> what;
        if (what == "encode") {
            std::string cp, ours, ref;
            ls >> cp >> ours >> ref;
            auto strip = [](std::string s) {
                s = s.substr(s.find('=') + 1);
                return s == "none" ? std::string() : s;
            };
            d.encode[{page, static_cast<unsigned>(std::stoul(cp.substr(2), nullptr, 16))}] = {strip(ours), strip(ref)};
        } else if (what == "longer-codes-not-kept") {
            ls >> d.longerCodes[page];
        } else if (what == "roundtrip") {
            std::string code;
            ls >> code;
            d.roundTrip.insert({page, fromHex(code)});
        } else if (what == "judged") {
            std::string code, ours;
            ls >> code >> ours;
            d.judged[{page, fromHex(code)}] = ours == "ours=none" ? 0 : std::stoul(ours.substr(7), nullptr, 16);
        }
    }
    return d;
}

TEST(CodePageTables, EveryPageMatchesItsReference) {
    std::vector<std::string> skipped;
    const auto& refs = references(skipped);
    EXPECT_TRUE(skipped.empty()) << skipped.front();
    ASSERT_EQ(refs.size(), 104u) << "the reference dumper did not run";
    Differences diffs = differences();
    std::set<std::pair<int, unsigned>> usedDiffs;
    DataBuffer out;
    for (const auto& [page, ref] : refs) {
        SCOPED_TRACE(page);
        // Decoding: every code the reference decodes, and every single byte.
        int decodeMismatches = 0;
        for (unsigned b = 1; b < 256; ++b) {
            unsigned char c = static_cast<unsigned char>(b);
            out.clear();
            bool ok = tessik::tablePageToUtf16(page, &c, 1, out);
            auto it = ref.decode.find(Bytes{c});
            unsigned want = it == ref.decode.end() ? 0 : it->second;
            unsigned got = out.getSize() == 2 ? platform::LoadLe16(out.getData()) : 0;
            bool isLead = tessik::isMultiByteTablePage(page) && want == 0;
            if (isLead)
                continue; // a lone lead byte
            if (got != want || ok != (want != 0))
                ++decodeMismatches;
        }
        for (const auto& [code, cp] : ref.decode) {
            if (code.size() < 2)
                continue;
            out.clear();
            tessik::tablePageToUtf16(page, code.data(), static_cast<unsigned>(code.size()), out);
            if (out.getSize() != 2 || platform::LoadLe16(out.getData()) != cp) {
                ++decodeMismatches;
                ADD_FAILURE() << "decode " << hexOf(code.data(), static_cast<unsigned>(code.size()));
            }
        }
        EXPECT_EQ(decodeMismatches, 0);

        // Encoding: every BMP code point.
        int encodeMismatches = 0, longer = 0;
        for (unsigned cp = 1; cp < 0x10000; ++cp) {
            if ((cp >= 0xD800 && cp <= 0xDFFF) || ref.unjudged.count(cp))
                continue;
            unsigned char unit[2];
            platform::StoreLe16(unit, static_cast<std::uint16_t>(cp));
            out.clear();
            tessik::utf16ToTablePage(page, unit, 2, out);
            std::string got = hexOf(out.getData(), out.getSize());
            auto it = ref.encode.find(cp);
            std::string want = it == ref.encode.end() ? "" : it->second;
            if (got == want)
                continue;
            auto d = diffs.encode.find({page, cp});
            if (d != diffs.encode.end() && d->second.first == got && d->second.second == want) {
                usedDiffs.insert(d->first);
                continue;
            }
            if (got.empty() && want.size() > 4) {
                ++longer;
                continue;
            }
            if (++encodeMismatches < 5) {
                ADD_FAILURE() << "encode U+" << std::hex << cp << " got " << got << " want " << want;
            }
        }
        EXPECT_EQ(encodeMismatches, 0);
        EXPECT_EQ(longer, diffs.longerCodes.count(page) ? diffs.longerCodes[page] : 0);
    }
    EXPECT_EQ(usedDiffs.size(), diffs.encode.size()) << "a listed difference no longer occurs";
}

// Every code of a page as the generator reads them: the single bytes, for a
// multi-byte page every lead from 0x80 with every trail from 0x21, and for
// EUC-JP the three-byte codes 8F A1-FE A1-FE.
std::vector<Bytes> candidateCodes(int page) {
    std::vector<Bytes> codes;
    for (unsigned b = 1; b < 256; ++b)
        codes.push_back({static_cast<unsigned char>(b)});
    if (tessik::isMultiByteTablePage(page)) {
        for (unsigned lead = 0x80; lead < 256; ++lead)
            for (unsigned trail = 0x21; trail < 256; ++trail)
                codes.push_back({static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)});
    }
    if (page == kEucJpPage) {
        for (unsigned second = 0xA1; second <= 0xFE; ++second)
            for (unsigned third = 0xA1; third <= 0xFE; ++third)
                codes.push_back({0x8F, static_cast<unsigned char>(second), static_cast<unsigned char>(third)});
    }
    return codes;
}

// The one BMP character a code decodes to, 0 when it is refused or is not one.
unsigned decodeOne(int page, const Bytes& code) {
    DataBuffer out;
    bool ok = tessik::tablePageToUtf16(page, code.data(), static_cast<unsigned>(code.size()), out);
    return ok && out.getSize() == 2 ? platform::LoadLe16(out.getData()) : 0;
}

Bytes encodeOne(int page, unsigned cp) {
    unsigned char unit[2];
    platform::StoreLe16(unit, static_cast<std::uint16_t>(cp));
    DataBuffer out;
    tessik::utf16ToTablePage(page, unit, 2, out);
    return Bytes(out.getData(), out.getData() + out.getSize());
}

// page -> each judge's decoding (code -> code point), from judges.py.
using JudgeMaps = std::map<int, std::vector<std::map<Bytes, unsigned>>>;

JudgeMaps judgeMaps() {
    JudgeMaps judges;
    const auto run = grvtest::RunProgram({"/usr/bin/python3", GRV_SOURCE_DIR "/scripts/codepages/judges.py"});
    if (!run.Ok())
        return judges;
    std::istringstream f(run.out);
    std::string line, kind, a, b;
    std::map<Bytes, unsigned>* cur = nullptr;
    while (std::getline(f, line)) {
        std::istringstream ls(line);
        ls >> kind >> a >> b;
        if (kind == "J") {
            auto& list = judges[std::stoi(a)];
            list.emplace_back();
            cur = &list.back();
        } else if (cur && kind == "D") {
            (*cur)[fromHex(a)] = static_cast<unsigned>(std::stoul(b, nullptr, 16));
        }
    }
    return judges;
}

// The tables are judged by converters other than the one each was made from
// (python3 codecs, glibc iconv, ICU): a code on which every judge of its page
// disagrees must be a listed difference.
TEST(CodePageTables, EveryCodeAgreesWithAnIndependentJudge) {
    const JudgeMaps judges = judgeMaps();
    ASSERT_EQ(judges.size(), 94u) << "the judges did not run";
    Differences diffs = differences();
    std::set<std::pair<int, Bytes>> used;
    for (const auto& [page, maps] : judges) {
        SCOPED_TRACE(page);
        int mismatches = 0;
        for (const Bytes& code : candidateCodes(page)) {
            const unsigned ours = decodeOne(page, code);
            bool agrees = false;
            for (const auto& m : maps) {
                auto it = m.find(code);
                agrees = agrees || (it == m.end() ? 0 : it->second) == ours;
            }
            if (agrees)
                continue;
            auto listed = diffs.judged.find({page, code});
            if (listed != diffs.judged.end() && listed->second == ours) {
                used.insert(listed->first);
                continue;
            }
            if (++mismatches <= 5)
                ADD_FAILURE() << "code " << hexOf(code.data(), static_cast<unsigned>(code.size())) << " gives U+"
                              << std::hex << ours;
        }
        EXPECT_EQ(mismatches, 0);
    }
    EXPECT_EQ(used.size(), diffs.judged.size()) << "a listed difference no longer occurs";
}

// Reference-free: every code that decodes is written back as itself (a
// two-byte code whose character other codes share, as one of them), and
// every page keeps bytes 1 to 3 as SOH, STX and ETX, as ASCII and EBCDIC do.
TEST(CodePageTables, EveryCodeThatDecodesEncodesBackToItself) {
    Differences diffs = differences();
    std::set<std::pair<int, Bytes>> used;
    int pages = 0;
    for (const tessik::cptext::PageText* t = tessik::cptext::kPageTexts; t->page; ++t, ++pages) {
        const int page = t->page;
        SCOPED_TRACE(page);
        for (unsigned b = 1; b <= 3; ++b)
            EXPECT_EQ(decodeOne(page, {static_cast<unsigned char>(b)}), b);
        std::map<Bytes, unsigned> decoded;
        std::map<unsigned, int> sharing;
        for (const Bytes& code : candidateCodes(page)) {
            if (unsigned cp = decodeOne(page, code)) {
                decoded[code] = cp;
                ++sharing[cp];
            }
        }
        int failures = 0;
        for (const auto& [code, cp] : decoded) {
            const Bytes back = encodeOne(page, cp);
            if (back == code)
                continue;
            if (code.size() >= 2 && sharing[cp] > 1 && decodeOne(page, back) == cp)
                continue;
            if (diffs.roundTrip.count({page, code})) {
                used.insert({page, code});
                continue;
            }
            if (++failures <= 5)
                ADD_FAILURE() << hexOf(code.data(), static_cast<unsigned>(code.size())) << " -> U+" << std::hex << cp
                              << " -> " << hexOf(back.data(), static_cast<unsigned>(back.size()));
        }
        EXPECT_EQ(failures, 0);
    }
    EXPECT_EQ(pages, 104);
    EXPECT_EQ(used.size(), diffs.roundTrip.size()) << "a listed difference no longer occurs";
}

} // namespace
