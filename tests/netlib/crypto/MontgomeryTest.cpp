// Modular exponentiation by Montgomery multiplication against LibTomMath's
// mp_exptmod, on every arithmetic the processor has, over generated
// moduli, bases and exponents; and the byte forms of big numbers against
// LibTomMath's own.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/Montgomery.h"
#include "netlib/crypto/MpInt.h"

using namespace tessik;

namespace {

using montgomery::Engine;

// A number of exactly `bits` bits (its top bit set), or zero.
void randomBits(std::mt19937_64& rng, int bits, mp_int* out) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>((bits + 7) / 8));
    for (auto& b : bytes)
        b = static_cast<unsigned char>(rng());
    if (bits % 8 != 0)
        bytes[0] &= static_cast<unsigned char>((1u << (bits % 8)) - 1);
    if (bits > 0)
        bytes[0] |= static_cast<unsigned char>(bits % 8 != 0 ? 1u << (bits % 8 - 1) : 0x80u);
    ASSERT_EQ(mp_from_ubin(out, bytes.data(), bytes.size()), MP_OKAY);
}

std::string hexOf(const mp_int* x) {
    char text[8192];
    if (mp_to_radix(x, text, sizeof text, nullptr, 16) != MP_OKAY)
        return "?";
    return text;
}

std::vector<Engine> engines() {
    std::vector<Engine> all = {Engine::kPortable};
    if (montgomery::engineSupported(Engine::kIfma))
        all.push_back(Engine::kIfma);
    return all;
}

enum class Base { kRandom, kZero, kOne, kModulusLess1, kAboveModulus, kNegative };
enum class Exponent { kZero, kOne, kTwo, kF4, kRandom, kLonger };

// Moduli from two limbs up past the multiply-add's reach (3326 bits), at the
// limb and digit boundaries around the key sizes; every kind of base and
// exponent on each, public and secret.
TEST(MontgomeryExptmod, EveryArithmeticMatchesLibTomMath) {
    std::mt19937_64 rng(65537);
    const int sizes[] = {65,   127,  128,  129,  200,  511,  512,  520,  768,  1023, 1024,
                         1025, 1040, 1536, 2047, 2048, 2049, 2078, 3072, 3326, 3327, 4096};
    const Base bases[] = {Base::kRandom,       Base::kZero,         Base::kOne,
                          Base::kModulusLess1, Base::kAboveModulus, Base::kNegative};
    const Exponent exponents[] = {Exponent::kZero, Exponent::kOne,    Exponent::kTwo,
                                  Exponent::kF4,   Exponent::kRandom, Exponent::kLonger};
    mp_int n, b, e, want, got;
    ASSERT_EQ(mp_init_multi(&n, &b, &e, &want, &got, nullptr), MP_OKAY);
    int compared = 0;
    for (int bits : sizes) {
        randomBits(rng, bits, &n);
        n.dp[0] |= 1; // odd
        for (Base base : bases) {
            const Exponent exponent = exponents[rng() % std::size(exponents)];
            switch (base) {
            case Base::kRandom: randomBits(rng, bits - 1, &b); break;
            case Base::kZero: mp_zero(&b); break;
            case Base::kOne: mp_set(&b, 1); break;
            case Base::kModulusLess1: ASSERT_EQ(mp_sub_d(&n, 1, &b), MP_OKAY); break;
            case Base::kAboveModulus: randomBits(rng, bits + 9, &b); break;
            case Base::kNegative:
                randomBits(rng, bits - 3, &b);
                ASSERT_EQ(mp_neg(&b, &b), MP_OKAY);
                break;
            }
            switch (exponent) {
            case Exponent::kZero: mp_zero(&e); break;
            case Exponent::kOne: mp_set(&e, 1); break;
            case Exponent::kTwo: mp_set(&e, 2); break;
            case Exponent::kF4: mp_set_u32(&e, 65537); break;
            case Exponent::kRandom: randomBits(rng, bits, &e); break;
            case Exponent::kLonger: randomBits(rng, bits + 70, &e); break;
            }
            ASSERT_EQ(mp_exptmod(&b, &e, &n, &want), MP_OKAY);
            for (Engine engine : engines())
                for (bool secret : {false, true}) {
                    ASSERT_EQ(montgomery::exptmodWith(engine, &b, &e, &n, secret, &got), MP_OKAY);
                    EXPECT_EQ(hexOf(&got), hexOf(&want)) << bits << " bits, base " << static_cast<int>(base)
                                                         << ", exponent " << static_cast<int>(exponent) << ", engine "
                                                         << static_cast<int>(engine) << ", secret " << secret;
                    ++compared;
                }
        }
    }
    EXPECT_GE(compared, static_cast<int>(std::size(sizes) * std::size(bases) * 2));
    mp_clear_multi(&n, &b, &e, &want, &got, nullptr);
}

// Operands whose limbs are all ones make every product and every column sum
// as large as it gets, so each carry of the column sums is taken: moduli of
// all ones (or all ones but a low limb of 1) at the sizes with an arithmetic
// of their own, bases just below them, and the exponents RSA uses.
TEST(MontgomeryExptmod, CarriesAtTheirLargestMatchLibTomMath) {
    std::mt19937_64 rng(7);
    const int sizes[] = {128, 1024, 1088, 2048, 3072};
    enum class Modulus { kAllOnes, kLowLimbOne };
    mp_int n, b, e, want, got;
    ASSERT_EQ(mp_init_multi(&n, &b, &e, &want, &got, nullptr), MP_OKAY);
    for (int bits : sizes)
        for (Modulus modulus : {Modulus::kAllOnes, Modulus::kLowLimbOne}) {
            ASSERT_EQ(mp_2expt(&n, bits), MP_OKAY);
            ASSERT_EQ(mp_sub_d(&n, 1, &n), MP_OKAY);
            if (modulus == Modulus::kLowLimbOne) {
                // n - (2^64 - 2): the low 64 bits become 1, the rest stay ones.
                mp_int low;
                ASSERT_EQ(mp_init(&low), MP_OKAY);
                ASSERT_EQ(mp_2expt(&low, 64), MP_OKAY);
                ASSERT_EQ(mp_sub_d(&low, 2, &low), MP_OKAY);
                ASSERT_EQ(mp_sub(&n, &low, &n), MP_OKAY);
                mp_clear(&low);
            }
            for (int below : {1, 2}) {
                ASSERT_EQ(mp_sub_d(&n, static_cast<mp_digit>(below), &b), MP_OKAY);
                for (bool longExponent : {false, true}) {
                    if (longExponent)
                        randomBits(rng, bits, &e);
                    else
                        mp_set_u32(&e, 65537);
                    ASSERT_EQ(mp_exptmod(&b, &e, &n, &want), MP_OKAY);
                    for (Engine engine : engines())
                        for (bool secret : {false, true}) {
                            ASSERT_EQ(montgomery::exptmodWith(engine, &b, &e, &n, secret, &got), MP_OKAY);
                            EXPECT_EQ(hexOf(&got), hexOf(&want))
                                << bits << " bits, modulus " << static_cast<int>(modulus) << ", base n - " << below
                                << ", long exponent " << longExponent << ", engine " << static_cast<int>(engine)
                                << ", secret " << secret;
                        }
                }
            }
        }
    mp_clear_multi(&n, &b, &e, &want, &got, nullptr);
}

// R^2 of a public modulus is kept from one exponentiation to the next: it
// serves that modulus again and no other, whether one shares its low limbs,
// is one limb longer, or comes between.
TEST(MontgomeryExptmod, KeptConstantsServeTheirModulusOnly) {
    std::mt19937_64 rng(3);
    mp_int a, b, longer, base, e, want, got;
    ASSERT_EQ(mp_init_multi(&a, &b, &longer, &base, &e, &want, &got, nullptr), MP_OKAY);
    randomBits(rng, 2048, &a);
    a.dp[0] |= 1;
    randomBits(rng, 2048, &b);
    b.dp[0] |= 1;
    // a with one more limb above it: the same low limbs.
    ASSERT_EQ(mp_2expt(&longer, 2048 + 60), MP_OKAY);
    ASSERT_EQ(mp_add(&longer, &a, &longer), MP_OKAY);
    const mp_int* order[] = {&a, &a, &b, &a, &longer, &a, &b, &b};
    mp_set_u32(&e, 65537);
    for (Engine engine : engines())
        for (std::size_t i = 0; i < std::size(order); ++i) {
            randomBits(rng, 2000, &base);
            ASSERT_EQ(mp_exptmod(&base, &e, order[i], &want), MP_OKAY);
            ASSERT_EQ(montgomery::exptmodWith(engine, &base, &e, order[i], false, &got), MP_OKAY);
            EXPECT_EQ(hexOf(&got), hexOf(&want)) << "turn " << i << ", engine " << static_cast<int>(engine);
        }
    mp_clear_multi(&a, &b, &longer, &base, &e, &want, &got, nullptr);
}

// The two halves of a private key side by side, as signing runs them: moduli
// of one length (together on the multiply-add), of lengths one digit apart,
// and one that the arithmetic leaves to mp_exptmod.
TEST(MontgomeryExptmod, PairsMatchLibTomMath) {
    std::mt19937_64 rng(2);
    struct Sizes {
        int first, second;
        bool evenSecond;
    } sizes[] = {{512, 512, false},   {1024, 1024, false}, {1024, 1020, false}, {1024, 1080, false},
                 {1536, 1536, false}, {2048, 2048, false}, {1024, 1024, true}};
    mp_int n1, n2, b, e1, e2, want1, want2, got1, got2;
    ASSERT_EQ(mp_init_multi(&n1, &n2, &b, &e1, &e2, &want1, &want2, &got1, &got2, nullptr), MP_OKAY);
    for (const Sizes& s : sizes) {
        for (bool allowed : {false, true}) {
            montgomery::setIfmaAllowed(allowed);
            randomBits(rng, s.first, &n1);
            randomBits(rng, s.second, &n2);
            n1.dp[0] |= 1;
            n2.dp[0] = s.evenSecond ? n2.dp[0] & ~mp_digit{1} : n2.dp[0] | 1;
            randomBits(rng, s.first + s.second, &b);
            randomBits(rng, s.first - 1, &e1);
            randomBits(rng, s.second - 5, &e2);
            ASSERT_EQ(mp_exptmod(&b, &e1, &n1, &want1), MP_OKAY);
            ASSERT_EQ(mp_exptmod(&b, &e2, &n2, &want2), MP_OKAY);
            ASSERT_EQ(montgomeryExptmodPair(&b, &e1, &n1, &b, &e2, &n2, &got1, &got2), MP_OKAY);
            EXPECT_EQ(hexOf(&got1), hexOf(&want1)) << s.first << "/" << s.second << " allowed " << allowed;
            EXPECT_EQ(hexOf(&got2), hexOf(&want2)) << s.first << "/" << s.second << " allowed " << allowed;
        }
    }
    montgomery::setIfmaAllowed(true);
    mp_clear_multi(&n1, &n2, &b, &e1, &e2, &want1, &want2, &got1, &got2, nullptr);
}

// What the arithmetic leaves to mp_exptmod comes back as mp_exptmod has it,
// its errors among them.
TEST(MontgomeryExptmod, OutsideItsReachAsLibTomMath) {
    struct Case {
        const char* what;
        long long base, exponent, modulus;
    } cases[] = {
        {"even modulus", 7, 100, 1000},     {"one-limb modulus", 7, 100, 1000003},
        {"negative exponent", 3, -1, 1009}, {"negative exponent, no inverse", 6, -1, 9},
        {"modulus one", 5, 3, 1},           {"zero modulus", 5, 3, 0},
    };
    mp_int b, e, n, want, got;
    ASSERT_EQ(mp_init_multi(&b, &e, &n, &want, &got, nullptr), MP_OKAY);
    for (const Case& c : cases) {
        mp_set_i64(&b, c.base);
        mp_set_i64(&e, c.exponent);
        mp_set_i64(&n, c.modulus);
        const mp_err wantErr = mp_exptmod(&b, &e, &n, &want);
        for (Engine engine : engines()) {
            const mp_err gotErr = montgomery::exptmodWith(engine, &b, &e, &n, true, &got);
            EXPECT_EQ(gotErr, wantErr) << c.what;
            if (wantErr == MP_OKAY && gotErr == MP_OKAY) {
                EXPECT_EQ(hexOf(&got), hexOf(&want)) << c.what;
            }
        }
    }
    mp_clear_multi(&b, &e, &n, &want, &got, nullptr);
}

// The byte forms against mp_from_ubin and mp_to_ubin: every length up past
// several digit boundaries, with leading zero bytes.
TEST(MpIntBytes, ReadAndWriteMatchLibTomMath) {
    std::mt19937 rng(60);
    for (std::size_t length = 0; length < 300; ++length) {
        std::vector<unsigned char> bytes(length);
        for (auto& c : bytes)
            c = static_cast<unsigned char>(rng());
        if (length > 0 && length % 3 == 0)
            bytes[0] = 0;
        if (length > 1 && length % 5 == 0)
            bytes[1] = 0;
        MpInt ours;
        ASSERT_TRUE(ours.setBytes(bytes.data(), static_cast<unsigned int>(length)));
        mp_int theirs;
        ASSERT_EQ(mp_init(&theirs), MP_OKAY);
        if (length > 0) {
            ASSERT_EQ(mp_from_ubin(&theirs, bytes.data(), length), MP_OKAY);
        }
        EXPECT_EQ(hexOf(ours), hexOf(&theirs)) << length;
        DataBuffer written;
        ASSERT_TRUE(mpToUnsignedBin(ours, written));
        std::vector<unsigned char> expected(mp_ubin_size(&theirs));
        std::size_t count = 0;
        if (!mp_iszero(&theirs)) {
            ASSERT_EQ(mp_to_ubin(&theirs, expected.data(), expected.size(), &count), MP_OKAY);
        }
        expected.resize(count);
        EXPECT_EQ(std::vector<unsigned char>(written.getData(), written.getData() + written.getSize()), expected)
            << length;
        mp_clear(&theirs);
    }
}

} // namespace
