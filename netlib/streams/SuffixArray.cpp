// Induced sorting: classify suffixes as S or L, sort the leftmost-S ones by
// recursion on the string of their names, then induce every other suffix
// from them in two passes. The end of the text acts as a smallest sentinel
// that is never stored.
#include "netlib/streams/SuffixArray.h"

#include <new>
#include <vector>

namespace tessik::bz2 {
namespace {

template <typename Sym>
class Sorter {
public:
    Sorter(const Sym* s, std::int32_t* sa, std::int32_t n, std::int32_t k) : m_s(s), m_sa(sa), m_n(n), m_k(k) {}

    void run();

private:
    bool isS(std::int32_t i) const { return m_type[i] != 0; }
    bool isLms(std::int32_t i) const { return i > 0 && isS(i) && !isS(i - 1); }
    void bucketEnds(bool ends);
    void induce();
    bool sameLms(std::int32_t a, std::int32_t b) const;

    const Sym* m_s;
    std::int32_t* m_sa;
    std::int32_t m_n;
    std::int32_t m_k;
    std::vector<std::uint8_t> m_type;
    std::vector<std::int32_t> m_count;
    std::vector<std::int32_t> m_bucket;
};

template <typename Sym>
void Sorter<Sym>::bucketEnds(bool ends) {
    std::int32_t sum = 0;
    for (std::int32_t c = 0; c < m_k; c++) {
        sum += m_count[c];
        m_bucket[c] = ends ? sum : sum - m_count[c];
    }
}

template <typename Sym>
void Sorter<Sym>::induce() {
    const Sym* s = m_s;
    std::int32_t* sa = m_sa;
    // L-type suffixes, left to right; the last suffix is L (it is greater
    // than the empty sentinel) and comes first.
    bucketEnds(false);
    sa[m_bucket[s[m_n - 1]]++] = m_n - 1;
    for (std::int32_t i = 0; i < m_n; i++) {
        std::int32_t j = sa[i] - 1;
        if (sa[i] > 0 && !isS(j))
            sa[m_bucket[s[j]]++] = j;
    }
    // S-type suffixes, right to left.
    bucketEnds(true);
    for (std::int32_t i = m_n - 1; i >= 0; i--) {
        std::int32_t j = sa[i] - 1;
        if (sa[i] > 0 && isS(j))
            sa[--m_bucket[s[j]]] = j;
    }
}

template <typename Sym>
bool Sorter<Sym>::sameLms(std::int32_t a, std::int32_t b) const {
    for (std::int32_t d = 0;; d++) {
        if (a + d == m_n || b + d == m_n)
            return false;
        if (m_s[a + d] != m_s[b + d] || isS(a + d) != isS(b + d))
            return false;
        if (d > 0 && (isLms(a + d) || isLms(b + d)))
            return isLms(a + d) && isLms(b + d);
    }
}

template <typename Sym>
void Sorter<Sym>::run() {
    const std::int32_t n = m_n;
    std::int32_t* sa = m_sa;
    if (n == 1) {
        sa[0] = 0;
        return;
    }
    m_type.assign(static_cast<std::size_t>(n), 0);
    m_count.assign(static_cast<std::size_t>(m_k), 0);
    m_bucket.assign(static_cast<std::size_t>(m_k), 0);
    for (std::int32_t i = 0; i < n; i++)
        m_count[m_s[i]]++;
    for (std::int32_t i = n - 2; i >= 0; i--)
        m_type[i] = (m_s[i] < m_s[i + 1] || (m_s[i] == m_s[i + 1] && m_type[i + 1])) ? 1 : 0;

    // Leftmost-S suffixes at the ends of their buckets, then induce: this
    // sorts the LMS substrings.
    for (std::int32_t i = 0; i < n; i++)
        sa[i] = -1;
    bucketEnds(true);
    for (std::int32_t i = 1; i < n; i++)
        if (isLms(i))
            sa[--m_bucket[m_s[i]]] = i;
    induce();

    std::int32_t n1 = 0;
    for (std::int32_t i = 0; i < n; i++)
        if (isLms(sa[i]))
            sa[n1++] = sa[i];

    // Name the LMS substrings; equal substrings share a name.
    for (std::int32_t i = n1; i < n; i++)
        sa[i] = -1;
    std::int32_t names = 0, prev = -1;
    for (std::int32_t i = 0; i < n1; i++) {
        std::int32_t pos = sa[i];
        if (prev < 0 || !sameLms(pos, prev)) {
            names++;
            prev = pos;
        }
        sa[n1 + pos / 2] = names - 1;
    }
    for (std::int32_t i = n - 1, j = n - 1; i >= n1; i--)
        if (sa[i] >= 0)
            sa[j--] = sa[i];

    std::int32_t* s1 = sa + n - n1;
    if (names < n1) {
        Sorter<std::int32_t> sub(s1, sa, n1, names);
        sub.run();
    } else {
        for (std::int32_t i = 0; i < n1; i++)
            sa[s1[i]] = i;
    }

    // Sorted LMS suffixes back to text positions, placed at bucket ends in
    // order, then induce the rest.
    for (std::int32_t i = 1, j = 0; i < n; i++)
        if (isLms(i))
            s1[j++] = i;
    for (std::int32_t i = 0; i < n1; i++)
        sa[i] = s1[sa[i]];
    for (std::int32_t i = n1; i < n; i++)
        sa[i] = -1;
    bucketEnds(true);
    for (std::int32_t i = n1 - 1; i >= 0; i--) {
        std::int32_t j = sa[i];
        sa[i] = -1;
        sa[--m_bucket[m_s[j]]] = j;
    }
    induce();
}

} // namespace

bool buildSuffixArray(const std::uint8_t* text, std::int32_t* sa, std::int32_t n) {
    if (n <= 0)
        return true;
    try {
        Sorter<std::uint8_t> sorter(text, sa, n, 256);
        sorter.run();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace tessik::bz2
