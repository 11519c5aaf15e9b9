// Burrows-Wheeler block sorting: the rotations of a block in sorted order.
//
// The main sort radix-sorts on the first two bytes, sorts each small bucket by
// a multikey quicksort on 8-byte keys and derives the rest of each first-byte
// bucket from the sorted order of the buckets finished before it. It gives up
// when its comparison budget runs out (repetitive data) or when two rotations
// are equal (a periodic block); the fallback sort, which doubles the compared
// length each pass, then sorts the block. Equal rotations keep the order the
// fallback sort leaves them in, which decides the origin pointer written.
#include "netlib/streams/Bzip2Internal.h"
#include "netlib/streams/SuffixArray.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace tessik::bz2 {
namespace {

// ---- fallback sort --------------------------------------------------------

class BucketBits {
public:
    explicit BucketBits(std::uint32_t* words) : m_w(words) {}
    void set(std::int32_t i) { m_w[i >> 5] |= 1u << (i & 31); }
    void clear(std::int32_t i) { m_w[i >> 5] &= ~(1u << (i & 31)); }
    bool isSet(std::int32_t i) const { return (m_w[i >> 5] >> (i & 31)) & 1u; }
    bool aligned(std::int32_t i) const { return (i & 31) == 0; }
    std::uint32_t word(std::int32_t i) const { return m_w[i >> 5]; }

private:
    std::uint32_t* m_w;
};

constexpr std::int32_t kFallbackSmall = 10;
constexpr int kFallbackStack = 100;

void fallbackInsertionSort(std::uint32_t* fmap, const std::uint32_t* eclass, std::int32_t lo, std::int32_t hi) {
    if (lo == hi)
        return;
    if (hi - lo > 3) {
        for (std::int32_t i = hi - 4; i >= lo; i--) {
            std::uint32_t tmp = fmap[i];
            std::uint32_t key = eclass[tmp];
            std::int32_t j = i + 4;
            for (; j <= hi && key > eclass[fmap[j]]; j += 4)
                fmap[j - 4] = fmap[j];
            fmap[j - 4] = tmp;
        }
    }
    for (std::int32_t i = hi - 1; i >= lo; i--) {
        std::uint32_t tmp = fmap[i];
        std::uint32_t key = eclass[tmp];
        std::int32_t j = i + 1;
        for (; j <= hi && key > eclass[fmap[j]]; j++)
            fmap[j - 1] = fmap[j];
        fmap[j - 1] = tmp;
    }
}

void swapRuns(std::uint32_t* fmap, std::int32_t a, std::int32_t b, std::int32_t n) {
    for (; n > 0; n--, a++, b++)
        std::swap(fmap[a], fmap[b]);
}

void fallbackQuickSort(std::uint32_t* fmap, const std::uint32_t* eclass, std::int32_t loSt, std::int32_t hiSt) {
    std::int32_t stackLo[kFallbackStack];
    std::int32_t stackHi[kFallbackStack];
    int sp = 0;
    std::uint32_t r = 0;
    stackLo[sp] = loSt;
    stackHi[sp] = hiSt;
    sp++;

    while (sp > 0) {
        sp--;
        std::int32_t lo = stackLo[sp];
        std::int32_t hi = stackHi[sp];
        if (hi - lo < kFallbackSmall) {
            fallbackInsertionSort(fmap, eclass, lo, hi);
            continue;
        }
        // A cheap pseudo-random pivot keeps crafted input from forcing the
        // worst case.
        r = ((r * 7621) + 1) % 32768;
        std::uint32_t med;
        switch (r % 3) {
        case 0: med = eclass[fmap[lo]]; break;
        case 1: med = eclass[fmap[(lo + hi) >> 1]]; break;
        default: med = eclass[fmap[hi]]; break;
        }

        std::int32_t unLo = lo, ltLo = lo, unHi = hi, gtHi = hi;
        for (;;) {
            while (unLo <= unHi) {
                std::uint32_t v = eclass[fmap[unLo]];
                if (v == med) {
                    std::swap(fmap[unLo], fmap[ltLo]);
                    ltLo++;
                    unLo++;
                    continue;
                }
                if (v > med)
                    break;
                unLo++;
            }
            while (unLo <= unHi) {
                std::uint32_t v = eclass[fmap[unHi]];
                if (v == med) {
                    std::swap(fmap[unHi], fmap[gtHi]);
                    gtHi--;
                    unHi--;
                    continue;
                }
                if (v < med)
                    break;
                unHi--;
            }
            if (unLo > unHi)
                break;
            std::swap(fmap[unLo], fmap[unHi]);
            unLo++;
            unHi--;
        }
        if (gtHi < ltLo)
            continue; // all equal to the pivot

        std::int32_t n = std::min(ltLo - lo, unLo - ltLo);
        swapRuns(fmap, lo, unLo - n, n);
        std::int32_t m = std::min(hi - gtHi, gtHi - unHi);
        swapRuns(fmap, unLo, hi - m + 1, m);

        n = lo + unLo - ltLo - 1;
        m = hi - (gtHi - unHi) + 1;
        // Smaller part on top keeps the stack within its bound.
        if (n - lo > hi - m) {
            stackLo[sp] = lo;
            stackHi[sp] = n;
            sp++;
            stackLo[sp] = m;
            stackHi[sp] = hi;
            sp++;
        } else {
            stackLo[sp] = m;
            stackHi[sp] = hi;
            sp++;
            stackLo[sp] = lo;
            stackHi[sp] = n;
            sp++;
        }
    }
}

void fallbackSort(const std::uint8_t* block, std::int32_t nblock, std::uint32_t* fmap, std::uint32_t* eclass,
                  std::uint32_t* bitWords) {
    std::int32_t ftab[257];
    std::fill(std::begin(ftab), std::end(ftab), 0);
    for (std::int32_t i = 0; i < nblock; i++)
        ftab[block[i]]++;
    for (int i = 1; i < 257; i++)
        ftab[i] += ftab[i - 1];
    for (std::int32_t i = 0; i < nblock; i++) {
        std::int32_t k = --ftab[block[i]];
        fmap[k] = static_cast<std::uint32_t>(i);
    }

    const std::int32_t nWords = 2 + nblock / 32;
    std::fill(bitWords, bitWords + nWords + 2, 0u);
    BucketBits bh(bitWords);
    for (int i = 0; i < 256; i++)
        bh.set(ftab[i]);
    // Sentinels past the end stop the bucket scans.
    for (int i = 0; i < 32; i++) {
        bh.set(nblock + 2 * i);
        bh.clear(nblock + 2 * i + 1);
    }

    for (std::int32_t h = 1;; h *= 2) {
        std::int32_t j = 0;
        for (std::int32_t i = 0; i < nblock; i++) {
            if (bh.isSet(i))
                j = i;
            std::int32_t k = static_cast<std::int32_t>(fmap[i]) - h;
            if (k < 0)
                k += nblock;
            eclass[k] = static_cast<std::uint32_t>(j);
        }

        std::int32_t notDone = 0;
        std::int32_t r = -1;
        for (;;) {
            // Next bucket of two or more: a set bit followed by a clear one.
            std::int32_t k = r + 1;
            while (bh.isSet(k) && !bh.aligned(k))
                k++;
            if (bh.isSet(k)) {
                while (bh.word(k) == 0xffffffffu)
                    k += 32;
                while (bh.isSet(k))
                    k++;
            }
            std::int32_t l = k - 1;
            if (l >= nblock)
                break;
            while (!bh.isSet(k) && !bh.aligned(k))
                k++;
            if (!bh.isSet(k)) {
                while (bh.word(k) == 0)
                    k += 32;
                while (!bh.isSet(k))
                    k++;
            }
            r = k - 1;
            if (r >= nblock)
                break;

            if (r > l) {
                notDone += r - l + 1;
                fallbackQuickSort(fmap, eclass, l, r);
                std::int64_t prev = -1;
                for (std::int32_t i = l; i <= r; i++) {
                    std::int64_t cls = eclass[fmap[i]];
                    if (cls != prev) {
                        bh.set(i);
                        prev = cls;
                    }
                }
            }
        }
        if (h > nblock / 2 || notDone == 0)
            break;
    }
}

// ---- main sort ------------------------------------------------------------

inline std::uint64_t loadKey(const std::uint8_t* p) {
    return platform::LoadBe64(p);
}

constexpr std::uint32_t kSmallRange = 16;

class MainSorter {
public:
    MainSorter(const std::uint8_t* doubled, std::uint32_t n, std::uint32_t* ptr, std::int64_t budget)
        : m_blk(doubled), m_n(n), m_ptr(ptr), m_budget(budget) {}

    bool run(std::uint32_t* ftab);

private:
    void sortRange(std::uint32_t* a, std::uint32_t count, std::uint32_t depth);
    bool lessFrom(std::uint32_t x, std::uint32_t y, std::uint32_t depth);
    void insertionSort(std::uint32_t* a, std::uint32_t count, std::uint32_t depth);

    struct Range {
        std::uint32_t* a;
        std::uint32_t count;
        std::uint32_t depth;
    };

    const std::uint8_t* m_blk;
    std::uint32_t m_n;
    std::uint32_t* m_ptr;
    std::int64_t m_budget;
    bool m_failed = false;
    std::vector<Range> m_stack;
};

bool MainSorter::lessFrom(std::uint32_t x, std::uint32_t y, std::uint32_t depth) {
    for (std::uint32_t d = depth; d < m_n; d += 8) {
        std::uint64_t kx = loadKey(m_blk + x + d);
        std::uint64_t ky = loadKey(m_blk + y + d);
        if (kx != ky)
            return kx < ky;
        m_budget--;
    }
    m_failed = true; // equal rotations: a periodic block
    return false;
}

void MainSorter::insertionSort(std::uint32_t* a, std::uint32_t count, std::uint32_t depth) {
    for (std::uint32_t i = 1; i < count && !m_failed; i++) {
        std::uint32_t v = a[i];
        std::uint32_t j = i;
        while (j > 0 && lessFrom(v, a[j - 1], depth)) {
            a[j] = a[j - 1];
            j--;
        }
        a[j] = v;
    }
}

void MainSorter::sortRange(std::uint32_t* a0, std::uint32_t count0, std::uint32_t depth0) {
    m_stack.clear();
    m_stack.push_back({a0, count0, depth0});
    while (!m_stack.empty()) {
        if (m_budget < 0 || m_failed)
            return;
        Range rg = m_stack.back();
        m_stack.pop_back();
        std::uint32_t* a = rg.a;
        std::uint32_t count = rg.count;
        std::uint32_t depth = rg.depth;
        if (count < 2)
            continue;
        if (depth >= m_n) {
            m_failed = true;
            return;
        }
        if (count < kSmallRange) {
            insertionSort(a, count, depth);
            m_budget -= count;
            continue;
        }
        const std::uint8_t* base = m_blk + depth;
        std::uint64_t k1 = loadKey(base + a[0]);
        std::uint64_t k2 = loadKey(base + a[count / 2]);
        std::uint64_t k3 = loadKey(base + a[count - 1]);
        std::uint64_t pivot = std::max(std::min(k1, k2), std::min(std::max(k1, k2), k3));

        std::uint32_t lt = 0, i = 0, gt = count;
        while (i < gt) {
            std::uint64_t k = loadKey(base + a[i]);
            if (k < pivot)
                std::swap(a[lt++], a[i++]);
            else if (k > pivot)
                std::swap(a[i], a[--gt]);
            else
                i++;
        }
        m_budget -= count;
        m_stack.push_back({a, lt, depth});
        m_stack.push_back({a + gt, count - gt, depth});
        m_stack.push_back({a + lt, gt - lt, depth + 8});
    }
}

bool MainSorter::run(std::uint32_t* ftab) {
    const std::uint32_t n = m_n;
    std::fill(ftab, ftab + 65537, 0u);
    for (std::uint32_t i = 0; i < n; i++)
        ftab[(m_blk[i] << 8) | m_blk[i + 1]]++;
    // ftab[b] becomes the start of bucket b; ftab[65536] = n.
    std::uint32_t sum = 0;
    for (std::uint32_t b = 0; b < 65537; b++) {
        std::uint32_t c = ftab[b];
        ftab[b] = sum;
        sum += c;
    }
    {
        std::vector<std::uint32_t> next(ftab, ftab + 65536);
        for (std::uint32_t i = 0; i < n; i++)
            m_ptr[next[(m_blk[i] << 8) | m_blk[i + 1]]++] = i;
    }

    // Smallest first-byte buckets first: the larger ones are then mostly
    // filled by copying rather than sorted.
    std::array<int, 256> order;
    for (int i = 0; i < 256; i++)
        order[i] = i;
    auto bigSize = [&](int c) { return ftab[(c + 1) << 8] - ftab[c << 8]; };
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return bigSize(x) < bigSize(y); });

    std::vector<std::uint8_t> sorted(65536, 0);
    std::array<bool, 256> bigDone{};
    std::array<std::uint32_t, 256> copyStart, copyEnd;

    for (int oi = 0; oi < 256; oi++) {
        const int ss = order[oi];
        for (int j = 0; j < 256; j++) {
            if (j == ss)
                continue;
            std::uint32_t sb = (static_cast<std::uint32_t>(ss) << 8) + j;
            if (!sorted[sb]) {
                std::uint32_t lo = ftab[sb], hi = ftab[sb + 1];
                if (hi - lo > 1)
                    sortRange(m_ptr + lo, hi - lo, 2);
                if (m_failed || m_budget < 0)
                    return false;
                sorted[sb] = 1;
            }
        }

        // Every rotation "c ss ..." follows from a rotation "ss ..." one
        // position later, so scanning bucket ss in order fills bucket (c, ss).
        for (int j = 0; j < 256; j++) {
            copyStart[j] = ftab[(j << 8) + ss];
            copyEnd[j] = ftab[(j << 8) + ss + 1]; // one past the end
        }
        const std::uint32_t bigLo = ftab[ss << 8];
        const std::uint32_t bigHi = ftab[(ss + 1) << 8];
        for (std::uint32_t j = bigLo; j < copyStart[ss]; j++) {
            std::uint32_t k = m_ptr[j] == 0 ? n - 1 : m_ptr[j] - 1;
            std::uint8_t c1 = m_blk[k];
            if (!bigDone[c1])
                m_ptr[copyStart[c1]++] = k;
        }
        for (std::uint32_t j = bigHi; j-- > copyEnd[ss];) {
            std::uint32_t k = m_ptr[j] == 0 ? n - 1 : m_ptr[j] - 1;
            std::uint8_t c1 = m_blk[k];
            if (!bigDone[c1])
                m_ptr[--copyEnd[c1]] = k;
        }
        // Rotations made of ss alone follow from nothing: only a block of one
        // byte value has them, and its order is the fallback sort's.
        for (int j = 0; j < 256; j++)
            if (!bigDone[j] && copyStart[j] != copyEnd[j])
                return false;
        for (int j = 0; j < 256; j++)
            sorted[(j << 8) + ss] = 1;
        bigDone[ss] = true;
    }
    return true;
}

// A block that equals one of its own rotations (a word repeated): its equal
// rotations must keep the fallback sort's order.
bool isPeriodic(const std::uint8_t* block, std::uint32_t n, std::uint32_t* border) {
    border[0] = 0;
    for (std::uint32_t i = 1; i < n; i++) {
        std::uint32_t k = border[i - 1];
        while (k > 0 && block[i] != block[k])
            k = border[k - 1];
        if (block[i] == block[k])
            k++;
        border[i] = k;
    }
    std::uint32_t period = n - border[n - 1];
    return period < n && n % period == 0;
}

} // namespace

std::int64_t blockSort(const std::uint8_t* block, std::uint32_t n, std::uint32_t* ptr, SortScratch& scratch,
                       int workFactor) {
    constexpr std::uint32_t kFallbackBelow = 10000;
    std::uint32_t* work = scratch.work.data();
    bool done = false;
    if (n >= kFallbackBelow) {
        std::uint8_t* doubled = scratch.doubled.data();
        std::memcpy(doubled, block, n);
        std::memcpy(doubled + n, block, n);
        std::memset(doubled + 2 * n, 0, 8);
        int wf = std::clamp(workFactor, 1, 100);
        std::int64_t budget = static_cast<std::int64_t>(n) * ((wf - 1) / 3) * 2;
        MainSorter sorter(doubled, n, ptr, budget);
        done = sorter.run(work);

        if (!done && !isPeriodic(block, n, work)) {
            // Repetitive but not periodic: every rotation differs within n
            // bytes, so the order of the suffixes of the doubled block that
            // start in its first half is the order of the rotations.
            if (!scratch.suffixes.allocate(2 * static_cast<std::size_t>(n)))
                return -1;
            std::int32_t* sa = scratch.suffixes.data();
            if (!buildSuffixArray(doubled, sa, static_cast<std::int32_t>(2 * n)))
                return -1;
            std::uint32_t k = 0;
            for (std::uint32_t i = 0; i < 2 * n; i++)
                if (static_cast<std::uint32_t>(sa[i]) < n)
                    ptr[k++] = static_cast<std::uint32_t>(sa[i]);
            done = true;
        }
    }
    if (!done) {
        // The bit table follows the equivalence classes in `work`.
        fallbackSort(block, static_cast<std::int32_t>(n), ptr, work, work + n);
    }
    for (std::uint32_t i = 0; i < n; i++)
        if (ptr[i] == 0)
            return i;
    return 0;
}

} // namespace tessik::bz2
