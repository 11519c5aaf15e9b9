// Induced suffix sorting against plain comparison sorting, and the block
// sort's path for repetitive blocks that are not periodic.
#include "netlib/streams/SuffixArray.h"
#include "Bzip2TestSupport.h"
#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/TessikBzip2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>

using namespace tessik;

using namespace bz2test;

namespace {

std::vector<std::int32_t> naiveSuffixArray(const Bytes& t) {
    std::vector<std::int32_t> sa(t.size());
    std::iota(sa.begin(), sa.end(), 0);
    std::sort(sa.begin(), sa.end(), [&](std::int32_t a, std::int32_t b) {
        return std::lexicographical_compare(t.begin() + a, t.end(), t.begin() + b, t.end());
    });
    return sa;
}

TEST(SuffixArray, MatchesComparisonSortOnSmallAlphabets) {
    std::mt19937 rng(17);
    for (int alphabet : {1, 2, 3, 4, 26, 256}) {
        for (int trial = 0; trial < 40; trial++) {
            Bytes t(1 + rng() % 300);
            for (auto& c : t)
                c = static_cast<std::uint8_t>(alphabet == 256 ? rng() : 'a' + rng() % alphabet);
            std::vector<std::int32_t> sa(t.size());
            ASSERT_TRUE(bz2::buildSuffixArray(t.data(), sa.data(), static_cast<std::int32_t>(t.size())));
            ASSERT_EQ(sa, naiveSuffixArray(t)) << "alphabet " << alphabet << " trial " << trial;
        }
    }
}

TEST(SuffixArray, RepeatsAndRunsNeedDeepRecursion) {
    const std::string cases[] = {"mississippi",
                                 "aaaaaaaaab",
                                 "baaaaaaaaa",
                                 "abababababa",
                                 "abcabcabcabcabd",
                                 "zyxzyxzyxwzyx",
                                 std::string(500, 'q') + "p"};
    for (const std::string& c : cases) {
        Bytes t(c.begin(), c.end());
        std::vector<std::int32_t> sa(t.size());
        ASSERT_TRUE(bz2::buildSuffixArray(t.data(), sa.data(), static_cast<std::int32_t>(t.size())));
        EXPECT_EQ(sa, naiveSuffixArray(t)) << c;
    }
}

// Compresses at block size 9 beside the reference tool and decodes back.
void expectSameAsReference(const Bytes& in) {
    int status = 0;
    const Bytes reference = bzip2Tool({"-9", "-c"}, in, status);
    ASSERT_EQ(status, 0);
    Bytes ours = compressBytes(in, 9);
    EXPECT_EQ(ours, reference);
    Bytes back;
    ASSERT_EQ(decodeAll(ours, &back, in.size()), bz2::kStreamEnd);
    EXPECT_EQ(back, in);
}

TEST(Bzip2BlockSort, RepetitiveBlocksThatAreNotPeriodicMatchTheReference) {
    // Long repeats exhaust the main sort's budget; one differing byte keeps
    // the block from being periodic. The stream must equal the reference
    // tool's and decode back.
    struct Case {
        const char* name;
        std::string unit;
        std::size_t copies;
        std::string tail;
    } cases[] = {
        {"short unit", "abc", 20000, "d"},
        {"long unit", "2024-05-01 pain 4, walked 20 minutes\n", 1500, "x"},
        {"unit with runs", "aaaaabbbbbbbbbbbc", 4000, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes in;
        for (std::size_t i = 0; i < c.copies; i++)
            in.insert(in.end(), c.unit.begin(), c.unit.end());
        in.insert(in.end(), c.tail.begin(), c.tail.end());
        expectSameAsReference(in);
    }
}

TEST(Bzip2BlockSort, BlockOfOneByteValueKeepsTheReferenceOrigin) {
    // Runs of 255 bytes FB are coded as FB FB FB FB and the count FB: the
    // block holds one byte value, every rotation equals every other, and
    // the origin pointer depends on how ties are ordered.
    expectSameAsReference(Bytes(600000, 0xFB));
    Bytes mixed(600000, 0xFB);
    mixed.push_back('a');
    expectSameAsReference(mixed);
}

} // namespace
