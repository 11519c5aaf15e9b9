#include "netlib/crypto/Montgomery.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "netlib/core/Memory.h"
#include "netlib/crypto/MontgomeryIfma.h"

namespace tessik {

namespace {

using montgomery::Limb;

constexpr std::size_t kLimbBits = 64;
constexpr std::size_t kMaxLimbs = 16384 / kLimbBits;

// ---- Limb vectors and the conversions to and from LibTomMath

// LibTomMath's digits regrouped in 64-bit limbs and back, straight from and
// to its digit array: its own byte and word conversions shift the whole
// number once per byte.
bool toLimbs(const mp_int* x, std::size_t limbs, Limb* out) {
    std::fill(out, out + limbs, Limb{0});
    for (int i = 0; i < x->used; ++i) {
        const std::size_t bit = static_cast<std::size_t>(i) * MP_DIGIT_BIT, j = bit / kLimbBits, s = bit % kLimbBits;
        const Limb d = x->dp[i];
        if (d == 0)
            continue;
        if (j >= limbs)
            return false;
        out[j] |= d << s;
        if (s + MP_DIGIT_BIT > kLimbBits) {
            if (j + 1 >= limbs)
                return (d >> (kLimbBits - s)) == 0;
            out[j + 1] |= d >> (kLimbBits - s);
        }
    }
    return true;
}

mp_err fromLimbs(const Limb* x, std::size_t limbs, mp_int* out) {
    const int digits = static_cast<int>((kLimbBits * limbs + MP_DIGIT_BIT - 1) / MP_DIGIT_BIT);
    if (const mp_err err = mp_grow(out, digits); err != MP_OKAY)
        return err;
    for (int i = 0; i < digits; ++i) {
        const std::size_t bit = static_cast<std::size_t>(i) * MP_DIGIT_BIT, j = bit / kLimbBits, s = bit % kLimbBits;
        Limb d = x[j] >> s;
        if (s + MP_DIGIT_BIT > kLimbBits && j + 1 < limbs)
            d |= x[j + 1] << (kLimbBits - s);
        out->dp[i] = d & MP_MASK;
    }
    for (int i = digits; i < out->alloc; ++i)
        out->dp[i] = 0;
    out->used = digits;
    out->sign = MP_ZPOS;
    mp_clamp(out);
    return MP_OKAY;
}

// Wipes limbs that held secrets before they go.
void wipe(std::vector<Limb>& v) {
    secureWipe(v.data(), v.size() * sizeof(Limb));
}

// ---- The portable arithmetic: N limbs of 64 bits, R = 2^(64 N)

// -n^-1 mod 2^64 by Newton's iteration (each step doubles the bits right).
Limb negativeInverse(Limb n0) {
    Limb x = n0; // right to 3 bits for odd n0
    for (int i = 0; i < 5; ++i)
        x *= 2 - n0 * x;
    return 0 - x;
}

#ifndef __SIZEOF_INT128__
// a b as two limbs, where the compiler has no 128-bit type: the high one
// returned, the low one in lo.
inline Limb multiplyWide(Limb a, Limb b, Limb& lo) {
    constexpr unsigned kHalf = kLimbBits / 2;
    constexpr Limb kLowHalf = (Limb{1} << kHalf) - 1;
    const Limb a0 = a & kLowHalf, a1 = a >> kHalf, b0 = b & kLowHalf, b1 = b >> kHalf;
    const Limb p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const Limb middle = (p00 >> kHalf) + (p01 & kLowHalf) + (p10 & kLowHalf);
    lo = (middle << kHalf) | (p00 & kLowHalf);
    return p11 + (p01 >> kHalf) + (p10 >> kHalf) + (middle >> kHalf);
}
#endif

// r = t - n when the (N + 1)-limb t (top its last limb) is not below n,
// else t; the same work either way. d is scratch of N limbs.
void subtractIfNotBelow(Limb* r, const Limb* t, Limb top, const Limb* n, std::size_t limbs, Limb* d) {
    Limb borrow = 0;
    for (std::size_t j = 0; j < limbs; ++j) {
        const Limb x = t[j], y = n[j];
        d[j] = x - y - borrow;
        borrow = static_cast<Limb>(x < y) | static_cast<Limb>(x == y && borrow != 0);
    }
    const Limb keep = Limb{0} - static_cast<Limb>(top < borrow);
    for (std::size_t j = 0; j < limbs; ++j)
        r[j] = (t[j] & keep) | (d[j] & ~keep);
}

// A three-limb column sum of products, kept as three limbs (the compilers
// keep these in registers, where a 128-bit member spills). A product joins
// the low two as one 128-bit sum, which compiles to an add-with-carry pair,
// its carry out going to the third.
struct Column {
    Limb c0 = 0, c1 = 0, c2 = 0;

    void add(Limb a, Limb b) {
#ifdef __SIZEOF_INT128__
        using Wide = unsigned __int128;
        const Wide p = static_cast<Wide>(a) * b;
        const Wide s = ((static_cast<Wide>(c1) << kLimbBits) | c0) + p;
        c2 += s < p;
        c0 = static_cast<Limb>(s);
        c1 = static_cast<Limb>(s >> kLimbBits);
#else
        Limb lo;
        Limb hi = multiplyWide(a, b, lo);
        c0 += lo;
        hi += c0 < lo;
        c1 += hi;
        c2 += c1 < hi;
#endif
    }
    void add(const Column& o) {
        c0 += o.c0;
        const Limb carry0 = c0 < o.c0;
        c1 += carry0;
        const Limb carry1 = c1 < carry0;
        c1 += o.c1;
        c2 += o.c2 + carry1 + (c1 < o.c1);
    }
    void twice() {
        c2 = (c2 << 1) | (c1 >> (kLimbBits - 1));
        c1 = (c1 << 1) | (c0 >> (kLimbBits - 1));
        c0 <<= 1;
    }
    // The low limb leaves; the rest moves down.
    Limb shift() {
        const Limb low = c0;
        c0 = c1;
        c1 = c2;
        c2 = 0;
        return low;
    }
};

// col += the products x[i] y[k - i], i in [from, to). With Whole the bounds
// are known at compile time and the loop unrolls whole; otherwise it runs
// four terms a turn: an unrolled loop of unknown length is entered through
// a chain of tests of its remainder, which costs more than the products of
// a short column.
template <bool Whole>
[[gnu::always_inline]] inline void addProducts(Column& col, const Limb* x, const Limb* y, std::size_t from,
                                               std::size_t to, std::size_t k) {
    if constexpr (Whole) {
#pragma GCC unroll 32
        for (std::size_t i = from; i < to; ++i)
            col.add(x[i], y[k - i]);
    } else {
        constexpr std::size_t kTurn = 4;
        std::size_t i = from;
        for (; i + kTurn <= to; i += kTurn) {
            col.add(x[i], y[k - i]);
            col.add(x[i + 1], y[k - i - 1]);
            col.add(x[i + 2], y[k - i - 2]);
            col.add(x[i + 3], y[k - i - 3]);
        }
#pragma GCC unroll 1
        for (; i < to; ++i)
            col.add(x[i], y[k - i]);
    }
}

// Column k of a product, terms i in [from, to).
template <bool Whole>
struct Product {
    const Limb* a;
    const Limb* b;
    [[gnu::always_inline]] void operator()(Column& col, std::size_t from, std::size_t to, std::size_t k) const {
        addProducts<Whole>(col, a, b, from, to, k);
    }
};

// Column k of a square: each cross product once, doubled.
template <bool Whole>
struct Square {
    const Limb* a;
    [[gnu::always_inline]] void operator()(Column& col, std::size_t from, std::size_t to, std::size_t k) const {
        const std::size_t half = (k + 1) / 2;
        Column cross;
        addProducts<Whole>(cross, a, a, from, half, k);
        cross.twice();
        col.add(cross);
        if (k % 2 == 0 && k / 2 < to)
            col.add(a[k / 2], a[k / 2]);
    }
};

// The limb count: fixed at compile time (the loops then unroll whole), or
// N = 0 for one known at run time.
template <std::size_t N>
struct LimbCount {
    explicit LimbCount(std::size_t) {}
    static constexpr std::size_t value() { return N; }
};
template <>
struct LimbCount<0> {
    explicit LimbCount(std::size_t limbs) : m_limbs(limbs) {}
    std::size_t value() const { return m_limbs; }
    std::size_t m_limbs;
};

// The column sums run through the product and the reduction at once
// (product scanning): the partial result stays in three registers rather
// than going through memory for every product.
template <std::size_t FixedLimbs>
class Portable {
public:
    explicit Portable(std::size_t limbs) : m_count(limbs), m_scratch(2 * limbs + 1) {}
    // The scratch held the reduction's multipliers, which follow from the
    // secret operands.
    ~Portable() { wipe(m_scratch); }
    Portable(const Portable&) = delete;
    Portable& operator=(const Portable&) = delete;

    std::size_t limbs() const { return m_count.value(); }

    // r = a b / R mod n (a, b below n; r may be either).
    void mul(Limb* r, const Limb* a, const Limb* b, const Limb* n, Limb n0) { run(r, n, n0, Product<kWhole>{a, b}); }

    // r = a^2 / R mod n: each cross product once, doubled.
    void sqr(Limb* r, const Limb* a, const Limb* n, Limb n0) { run(r, n, n0, Square<kWhole>{a}); }

private:
    static constexpr bool kWhole = FixedLimbs != 0;

    // Column k of the product; the reduction's multiples m_i of n join it.
    template <class Terms>
    [[gnu::always_inline]] void column(Column& col, std::size_t k, const Limb* n, Limb n0, Limb* m, Limb* t,
                                       const Terms& product) {
        const std::size_t N = m_count.value();
        const std::size_t from = k < N ? 0 : k - N + 1, to = k < N ? k + 1 : N;
        product(col, from, to, k);
        addProducts<kWhole>(col, m, n, from, k < N ? k : to, k);
        if (k < N) {
            m[k] = col.c0 * n0;
            col.add(m[k], n[0]);
            col.shift();
        } else {
            t[k - N] = col.shift();
        }
    }

    template <class Terms, std::size_t... K>
    [[gnu::always_inline]] void columns(Column& col, const Limb* n, Limb n0, Limb* m, Limb* t, const Terms& product,
                                        std::index_sequence<K...>) {
        (column(col, K, n, n0, m, t, product), ...);
    }

    template <class Terms>
    void run(Limb* r, const Limb* n, Limb n0, const Terms& product) {
        const std::size_t N = m_count.value();
        Limb* m = m_scratch.data();
        Limb* t = m + N;
        Column col;
        if constexpr (FixedLimbs != 0) {
            columns(col, n, n0, m, t, product, std::make_index_sequence<2 * FixedLimbs - 1>());
        } else {
            for (std::size_t k = 0; k < 2 * N - 1; ++k)
                column(col, k, n, n0, m, t, product);
        }
        t[N - 1] = col.shift();
        subtractIfNotBelow(r, t, col.c0, n, N, m);
    }

    LimbCount<FixedLimbs> m_count;
    std::vector<Limb> m_scratch;
};

// ---- A modulus and its Montgomery constants

struct Modulus {
    const mp_int* value = nullptr;
    std::size_t limbs = 0;
    std::size_t bits = 0;
    std::vector<Limb> n;
    Limb n0 = 0;
};

// 2^t mod n in N limbs. 2^t is at most a few limbs longer than n: the
// division's quotient is short, and so is its work.
bool powerOfTwoMod(const mp_int* n, std::size_t t, std::size_t limbs, Limb* out) {
    mp_int p;
    if (mp_init(&p) != MP_OKAY)
        return false;
    const bool ok =
        mp_2expt(&p, static_cast<int>(t)) == MP_OKAY && mp_mod(&p, n, &p) == MP_OKAY && toLimbs(&p, limbs, out);
    mp_clear(&p);
    return ok;
}

// R^2 mod n (R = 2^rBits) is the form of 2^d squared s times, d 2^s =
// rBits: the form of 2^d is 2^(rBits + d) mod n, from a division whose
// quotient is d bits long. The fewer the squarings the longer the division:
// an arithmetic sets how many it takes (up to five), by how fast it squares.
bool startOfR2(const mp_int* n, std::size_t rBits, std::size_t limbs, Limb* out, std::size_t mostSquarings,
               std::size_t& squarings) {
    squarings = 0;
    while (squarings < mostSquarings && (rBits >> (squarings + 1)) << (squarings + 1) == rBits)
        ++squarings;
    return powerOfTwoMod(n, rBits + (rBits >> squarings), limbs, out);
}

bool setModulus(const mp_int* n, Modulus& m) {
    if (mp_isneg(n) || !mp_isodd(n))
        return false;
    m.bits = static_cast<std::size_t>(mp_count_bits(n));
    m.limbs = (m.bits + kLimbBits - 1) / kLimbBits;
    if (m.limbs < 2 || m.limbs > kMaxLimbs)
        return false;
    m.value = n;
    m.n.assign(m.limbs, 0);
    if (!toLimbs(n, m.limbs, m.n.data()))
        return false;
    m.n0 = negativeInverse(m.n[0]);
    return true;
}

// ---- The forms numbers take between the conversions

// Which R a form's constants are for: 2^64 per limb, or 2^52 per digit.
enum class RKind { kLimbs, kDigits };

// R^2 mod n of the last public modulus this thread raised to a power, for
// each R. A public key is used again and again (each signature it checks,
// each chain it stands in), and R^2 costs a long division and a squaring:
// about a tenth of checking an RSA signature. The moduli of private keys
// never go in.
struct KnownR2 {
    struct Entry {
        std::vector<Limb> n, rr;
    } entries[2];

    const Limb* find(RKind k, const Modulus& m) const {
        const Entry& e = entries[static_cast<int>(k)];
        return e.n == m.n && !e.rr.empty() ? e.rr.data() : nullptr;
    }
    void keep(RKind k, const Modulus& m, const Limb* r, std::size_t words) {
        Entry& e = entries[static_cast<int>(k)];
        e.n = m.n;
        e.rr.assign(r, r + words);
    }
};

KnownR2& knownR2() {
    thread_local KnownR2 known;
    return known;
}

// out = entry `index` of a table of `entries` numbers of `words` words,
// every entry read whatever the index.
void selectEntry(Limb* out, const Limb* table, std::size_t entries, std::size_t words, std::size_t index) {
    std::fill(out, out + words, Limb{0});
    for (std::size_t k = 0; k < entries; ++k, table += words) {
        const Limb mask = Limb{0} - static_cast<Limb>(k == index);
        for (std::size_t j = 0; j < words; ++j)
            out[j] |= table[j] & mask;
    }
}

// Words kept 64-byte aligned, wiped when they go.
class Words {
public:
    explicit Words(std::size_t n) : m_n(n), m_p(new(std::align_val_t{kAlign}) Limb[n]()) {}
    ~Words() {
        secureWipe(m_p, m_n * sizeof(Limb));
        ::operator delete[](m_p, std::align_val_t{kAlign});
    }
    Words(const Words&) = delete;
    Words& operator=(const Words&) = delete;
    Limb* data() { return m_p; }
    const Limb* data() const { return m_p; }
    Limb& operator[](std::size_t i) { return m_p[i]; }

private:
    static constexpr std::size_t kAlign = 64;
    std::size_t m_n;
    Limb* m_p;
};

// The portable arithmetic's form: x R mod n in N limbs.
template <std::size_t FixedLimbs>
class PortableForm {
    static constexpr std::size_t kSquaringsToR2 = 1;

public:
    static constexpr RKind kR = RKind::kLimbs;

    // knownRr: R^2 mod n from an earlier form of the same modulus, or null.
    PortableForm(const Modulus& m, const Limb* knownRr) : m_mod(m), m_arith(m.limbs), m_one(m.limbs), m_rr(m.limbs) {
        m_one[0] = 1;
        if (knownRr != nullptr) {
            std::copy(knownRr, knownRr + m.limbs, m_rr.begin());
            m_ok = true;
            return;
        }
        std::size_t squarings = 0;
        m_ok = startOfR2(m.value, kLimbBits * m.limbs, m.limbs, m_rr.data(), kSquaringsToR2, squarings);
        for (std::size_t i = 0; i < squarings; ++i)
            sqr(m_rr.data(), m_rr.data());
    }

    bool ok() const { return m_ok; }
    std::size_t words() const { return m_mod.limbs; }
    const Limb* rr() const { return m_rr.data(); }
    void toForm(Limb* out, const Limb* x) { mul(out, x, m_rr.data()); }
    void one(Limb* out) { toForm(out, m_one.data()); }
    void mul(Limb* r, const Limb* a, const Limb* b) { m_arith.mul(r, a, b, m_mod.n.data(), m_mod.n0); }
    void sqr(Limb* r, const Limb* a) { m_arith.sqr(r, a, m_mod.n.data(), m_mod.n0); }
    void fromForm(Limb* out, const Limb* x) { mul(out, x, m_one.data()); }
    // x times a number out of the form: a product out of it.
    void mulToPlain(Limb* out, const Limb* x, const Limb* plain) { mul(out, x, plain); }
    void select(Limb* out, const Limb* table, std::size_t entries, std::size_t index) {
        selectEntry(out, table, entries, words(), index);
    }
    template <std::size_t P>
    static void mulAll(PortableForm* const (&forms)[P], const std::array<Limb*, P>& r, const std::array<Limb*, P>& a,
                       const std::array<Limb*, P>& b) {
        for (std::size_t j = 0; j < P; ++j)
            a[j] == b[j] ? forms[j]->sqr(r[j], a[j]) : forms[j]->mul(r[j], a[j], b[j]);
    }

private:
    const Modulus& m_mod;
    Portable<FixedLimbs> m_arith;
    std::vector<Limb> m_one, m_rr;
    bool m_ok;
};

// The 52-bit multiply-add's form: K digits of 52 bits, x R' below 2n
// (R' = 2^(52 K), K the fewest digits with 4n below R').
class IfmaForm {
    static constexpr std::size_t kSquaringsToR2 = 5;

public:
    static bool fits(const Modulus& m) { return digitsFor(m.bits) <= montgomery::ifma::kMaxDigits; }

    static constexpr RKind kR = RKind::kDigits;

    // knownRr: R'^2 mod n from an earlier form of the same modulus, or null.
    IfmaForm(const Modulus& m, const Limb* knownRr)
        : m_mod(m), m_digits(digitsFor(m.bits)), m_words(montgomery::ifma::wordsFor(m_digits)), m_n(m_words),
          m_rr(m_words), m_one(m_words), m_t(m_words), m_limbs(m.limbs) {
        toDigits(m.n.data(), m_n.data());
        m_one[0] = 1;
        m_oneLimbs.assign(m_limbs, 0);
        m_oneLimbs[0] = 1;
        m_ifma = {m_n.data(), m_digits, m.n0 & kDigitMask};
        if (knownRr != nullptr) {
            std::copy(knownRr, knownRr + m_words, m_rr.data());
            m_ok = true;
            return;
        }
        // The form of 2^d is below n, in as many limbs as K digits fill.
        const std::size_t limbs = (montgomery::ifma::kDigitBits * m_digits + kLimbBits - 1) / kLimbBits;
        std::vector<Limb> start(limbs);
        std::size_t squarings = 0;
        m_ok =
            startOfR2(m.value, montgomery::ifma::kDigitBits * m_digits, limbs, start.data(), kSquaringsToR2, squarings);
        toDigits(start.data(), m_rr.data(), limbs);
        for (std::size_t i = 0; i < squarings; ++i)
            sqr(m_rr.data(), m_rr.data());
    }

    bool ok() const { return m_ok; }
    std::size_t words() const { return m_words; }
    const Limb* rr() const { return m_rr.data(); }
    void toForm(Limb* out, const Limb* x) {
        toDigits(x, m_t.data());
        montgomery::ifma::multiply(out, m_t.data(), m_rr.data(), m_ifma);
    }
    void one(Limb* out) { montgomery::ifma::multiply(out, m_one.data(), m_rr.data(), m_ifma); }
    void mul(Limb* r, const Limb* a, const Limb* b) { montgomery::ifma::multiply(r, a, b, m_ifma); }
    void sqr(Limb* r, const Limb* a) { montgomery::ifma::multiply(r, a, a, m_ifma); }
    void select(Limb* out, const Limb* table, std::size_t entries, std::size_t index) {
        montgomery::ifma::select(out, table, entries, m_words, index);
    }
    // Two products go side by side.
    template <std::size_t P>
    static void mulAll(IfmaForm* const (&forms)[P], const std::array<Limb*, P>& r, const std::array<Limb*, P>& a,
                       const std::array<Limb*, P>& b) {
        if constexpr (P == 2)
            montgomery::ifma::multiplyPair(r[0], a[0], b[0], forms[0]->m_ifma, r[1], a[1], b[1], forms[1]->m_ifma);
        else
            for (std::size_t j = 0; j < P; ++j)
                forms[j]->mul(r[j], a[j], b[j]);
    }
    std::size_t digits() const { return m_digits; }
    // Out of the form, then below n.
    void fromForm(Limb* out, const Limb* x) { mulToPlain(out, x, m_oneLimbs.data()); }
    // x times a number out of the form: a product out of it, then below n.
    void mulToPlain(Limb* out, const Limb* x, const Limb* plain) {
        toDigits(plain, m_t.data());
        montgomery::ifma::multiply(m_t.data(), x, m_t.data(), m_ifma);
        std::vector<Limb> limbs(m_limbs + 1), scratch(m_limbs);
        fromDigits(m_t.data(), limbs.data(), m_limbs + 1);
        subtractIfNotBelow(out, limbs.data(), limbs[m_limbs], m_mod.n.data(), m_limbs, scratch.data());
    }

private:
    static constexpr Limb kDigitMask = (Limb{1} << montgomery::ifma::kDigitBits) - 1;

    static std::size_t digitsFor(std::size_t bits) {
        return (bits + 2 + montgomery::ifma::kDigitBits - 1) / montgomery::ifma::kDigitBits;
    }
    // The limbs' bits regrouped in 52-bit digits, and back.
    void toDigits(const Limb* x, Limb* digits) const { toDigits(x, digits, m_limbs); }
    void toDigits(const Limb* x, Limb* digits, std::size_t limbs) const {
        for (std::size_t d = 0; d < m_words; ++d) {
            const std::size_t bit = d * montgomery::ifma::kDigitBits, j = bit / kLimbBits, s = bit % kLimbBits;
            Limb v = j < limbs ? x[j] >> s : 0;
            if (s != 0 && j + 1 < limbs)
                v |= x[j + 1] << (kLimbBits - s);
            digits[d] = d < m_digits ? v & kDigitMask : 0;
        }
    }
    void fromDigits(const Limb* digits, Limb* x, std::size_t limbs) const {
        std::fill(x, x + limbs, Limb{0});
        for (std::size_t d = 0; d < m_digits; ++d) {
            const std::size_t bit = d * montgomery::ifma::kDigitBits, j = bit / kLimbBits, s = bit % kLimbBits;
            if (j < limbs)
                x[j] |= digits[d] << s;
            if (s != 0 && j + 1 < limbs)
                x[j + 1] |= digits[d] >> (kLimbBits - s);
        }
    }

    const Modulus& m_mod;
    std::size_t m_digits, m_words;
    Words m_n, m_rr, m_one, m_t;
    std::size_t m_limbs;
    std::vector<Limb> m_oneLimbs;
    montgomery::ifma::Modulus m_ifma{};
    bool m_ok = false;
};

// ---- Exponentiation

// The exponent's bit i (0 beyond its end).
Limb bitAt(const std::vector<Limb>& e, std::size_t i) {
    return i / kLimbBits < e.size() ? (e[i / kLimbBits] >> (i % kLimbBits)) & 1 : 0;
}

// Bits [from, from + w) of the exponent.
Limb windowAt(const std::vector<Limb>& e, std::size_t from, std::size_t w) {
    Limb v = 0;
    for (std::size_t k = w; k-- > 0;)
        v = (v << 1) | bitAt(e, from + k);
    return v;
}

std::size_t windowBits(std::size_t exponentBits) {
    return exponentBits > 768 ? 5 : exponentBits > 256 ? 4 : exponentBits > 32 ? 3 : 1;
}

// x = base^e mod n in a form's arithmetic: fixed windows over a table of
// the base's powers. A secret exponent reads every table entry for each
// window, whichever it uses, and multiplies by the form of 1 for a window
// of zeros. A public one starts from its top window's entry, and where it
// is odd and taken a bit at a time, ends with a product by the base itself,
// which leaves the form at once. P exponentiations run the same schedule
// at once (eBits the longest exponent's length), each in its own form,
// their products side by side where the form can.
template <class Form, std::size_t P>
void exptmodIn(Form* const (&forms)[P], const Limb* const (&bases)[P], const std::vector<Limb>* const (&exps)[P],
               std::size_t eBits, bool secret, Limb* const (&x)[P]) {
    const std::size_t W = forms[0]->words();
    const std::size_t w = windowBits(eBits);
    const std::size_t entries = std::size_t{1} << w;
    const std::size_t windows = (eBits + w - 1) / w;
    const bool skipTop = !secret && windows > 0;
    const bool endOnBase = !secret && P == 1 && w == 1 && windows > 1 && bitAt(*exps[0], 0) != 0;
    std::vector<std::unique_ptr<Words>> tables, accs, picks;
    Limb* t[P] = {};
    Limb* acc[P] = {};
    Limb* pick[P] = {};
    for (std::size_t j = 0; j < P; ++j) {
        tables.push_back(std::make_unique<Words>(entries * W));
        accs.push_back(std::make_unique<Words>(W));
        picks.push_back(std::make_unique<Words>(W));
        t[j] = tables[j]->data();
        acc[j] = accs[j]->data();
        pick[j] = picks[j]->data();
        if (!skipTop)
            forms[j]->one(t[j]);
        forms[j]->toForm(t[j] + W, bases[j]);
    }
    auto offset = [](Limb* const(&v)[P], std::size_t by) {
        std::array<Limb*, P> r;
        for (std::size_t j = 0; j < P; ++j)
            r[j] = v[j] + by;
        return r;
    };
    for (std::size_t k = 2; k < entries; ++k)
        Form::mulAll(forms, offset(t, k * W), offset(t, (k - 1) * W), offset(t, W));
    for (std::size_t j = 0; j < P; ++j) {
        const Limb* start = t[j] + (skipTop ? windowAt(*exps[j], (windows - 1) * w, w) * W : 0);
        std::copy(start, start + W, acc[j]);
    }
    const auto accAt = offset(acc, 0);
    for (std::size_t i = windows; i-- > 0;) {
        if (i + 1 == windows && skipTop)
            continue;
        for (std::size_t k = 0; k < w; ++k)
            Form::mulAll(forms, accAt, accAt, accAt);
        if (i == 0 && endOnBase) {
            forms[0]->mulToPlain(x[0], acc[0], bases[0]);
            return;
        }
        std::array<Limb*, P> factor;
        bool any = false;
        for (std::size_t j = 0; j < P; ++j) {
            const Limb v = windowAt(*exps[j], i * w, w);
            any |= v != 0;
            if (secret) {
                forms[j]->select(pick[j], t[j], entries, v);
                factor[j] = pick[j];
            } else {
                factor[j] = t[j] + v * W;
            }
        }
        if (secret || any)
            Form::mulAll(forms, accAt, accAt, factor);
    }
    for (std::size_t j = 0; j < P; ++j)
        forms[j]->fromForm(x[j], acc[j]);
}

// One exponentiation's inputs in limbs, or why they are not.
struct Job {
    Modulus m;
    std::vector<Limb> e, b, x;
    std::size_t eBits = 0;
    bool ours = false; // false: mp_exptmod's to do

    mp_err prepare(const mp_int* base, const mp_int* exponent, const mp_int* modulus) {
        if (mp_isneg(exponent) || !setModulus(modulus, m))
            return MP_OKAY;
        eBits = static_cast<std::size_t>(mp_count_bits(exponent));
        e.assign((eBits + kLimbBits - 1) / kLimbBits + 1, 0);
        b.assign(m.limbs, 0);
        x.assign(m.limbs, 0);
        if (!toLimbs(exponent, e.size(), e.data()))
            return MP_MEM;
        if (mp_isneg(base) || mp_cmp(base, modulus) != MP_LT) {
            mp_int reduced;
            mp_err err = mp_init(&reduced);
            if (err == MP_OKAY)
                err = mp_mod(base, modulus, &reduced);
            if (err == MP_OKAY && !toLimbs(&reduced, m.limbs, b.data()))
                err = MP_MEM;
            mp_clear(&reduced);
            if (err != MP_OKAY)
                return err;
        } else if (!toLimbs(base, m.limbs, b.data())) {
            return MP_MEM;
        }
        ours = true;
        return MP_OKAY;
    }
    mp_err finish(mp_int* result) {
        const mp_err err = fromLimbs(x.data(), m.limbs, result);
        wipe(e);
        wipe(b);
        wipe(x);
        return err;
    }
};

template <class Form>
bool runOne(Job& job, bool secret) {
    const Limb* known = secret ? nullptr : knownR2().find(Form::kR, job.m);
    Form form(job.m, known);
    if (!form.ok())
        return false;
    if (!secret && known == nullptr)
        knownR2().keep(Form::kR, job.m, form.rr(), form.words());
    Form* forms[] = {&form};
    const Limb* bases[] = {job.b.data()};
    const std::vector<Limb>* exps[] = {&job.e};
    Limb* x[] = {job.x.data()};
    exptmodIn(forms, bases, exps, job.eBits, secret, x);
    return true;
}

bool runOn(montgomery::Engine engine, Job& job, bool secret) {
    if (engine == montgomery::Engine::kIfma && montgomery::engineSupported(engine) && IfmaForm::fits(job.m))
        return runOne<IfmaForm>(job, secret);
    if (job.m.limbs == 16)
        return runOne<PortableForm<16>>(job, secret);
    return runOne<PortableForm<0>>(job, secret);
}

} // namespace

namespace montgomery {

bool engineSupported(Engine engine) {
    if (engine == Engine::kIfma) {
#if defined(__x86_64__)
        static const bool ifma = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
        return ifma;
#else
        return false;
#endif
    }
    return true;
}

namespace {
std::atomic<bool> g_ifmaAllowed{true};
} // namespace

void setIfmaAllowed(bool allowed) {
    g_ifmaAllowed.store(allowed);
}

bool ifmaInUse() {
    return g_ifmaAllowed.load(std::memory_order_relaxed) && engineSupported(Engine::kIfma);
}

mp_err exptmodWith(Engine engine, const mp_int* base, const mp_int* exponent, const mp_int* modulus, bool secret,
                   mp_int* result) {
    // Everything is 0 modulo 1, x^0 too, which the fallback below gives as 1.
    if (mp_cmp_d(modulus, 1) == MP_EQ) {
        mp_zero(result);
        return MP_OKAY;
    }
    Job job;
    if (const mp_err err = job.prepare(base, exponent, modulus); err != MP_OKAY)
        return err;
    if (!job.ours)
        return mp_exptmod(base, exponent, modulus, result);
    if (!runOn(engine, job, secret))
        return MP_MEM;
    return job.finish(result);
}

} // namespace montgomery

mp_err montgomeryExptmod(const mp_int* base, const mp_int* exponent, const mp_int* modulus, bool secret,
                         mp_int* result) {
    using montgomery::Engine;
    return montgomery::exptmodWith(montgomery::ifmaInUse() ? Engine::kIfma : Engine::kPortable, base, exponent, modulus,
                                   secret, result);
}

mp_err montgomeryExptmodPair(const mp_int* base1, const mp_int* exponent1, const mp_int* modulus1, const mp_int* base2,
                             const mp_int* exponent2, const mp_int* modulus2, mp_int* result1, mp_int* result2) {
    Job one, two;
    if (montgomery::ifmaInUse() && one.prepare(base1, exponent1, modulus1) == MP_OKAY &&
        two.prepare(base2, exponent2, modulus2) == MP_OKAY && one.ours && two.ours && IfmaForm::fits(one.m) &&
        IfmaForm::fits(two.m)) {
        IfmaForm f1(one.m, nullptr), f2(two.m, nullptr);
        if (f1.ok() && f2.ok() && f1.digits() == f2.digits()) {
            IfmaForm* forms[] = {&f1, &f2};
            const Limb* bases[] = {one.b.data(), two.b.data()};
            const std::vector<Limb>* exps[] = {&one.e, &two.e};
            Limb* x[] = {one.x.data(), two.x.data()};
            exptmodIn(forms, bases, exps, std::max(one.eBits, two.eBits), true, x);
            const mp_err err = one.finish(result1);
            return err != MP_OKAY ? err : two.finish(result2);
        }
    }
    const mp_err err = montgomeryExptmod(base1, exponent1, modulus1, true, result1);
    return err != MP_OKAY ? err : montgomeryExptmod(base2, exponent2, modulus2, true, result2);
}

} // namespace tessik
