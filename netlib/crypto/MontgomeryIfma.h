#pragma once
// Almost-Montgomery multiplication on the processor's 52-bit multiply-add
// (AVX-512 IFMA), in a file built for those instructions: only entered
// after engineSupported(Engine::kIfma) said yes. Numbers are K digits of 52
// bits, one to a 64-bit word, in whole 512-bit registers of eight words (the
// words past K zero). With R = 2^(52 K) and a modulus m below R / 4, a product of two
// numbers below 2m comes back below 2m, congruent to a b / R mod m.
#include <cstddef>
#include <cstdint>

namespace tessik::montgomery {

using Limb = std::uint64_t;

namespace ifma {

constexpr unsigned kDigitBits = 52;
constexpr std::size_t kWordsPerRegister = 8;
// Up to eight registers of digits: moduli up to 3326 bits.
constexpr std::size_t kMaxRegisters = 8;
constexpr std::size_t kMaxDigits = kWordsPerRegister * kMaxRegisters;

// The words a number of `digits` digits takes: whole registers.
constexpr std::size_t wordsFor(std::size_t digits) {
    return (digits + kWordsPerRegister - 1) / kWordsPerRegister * kWordsPerRegister;
}

struct Modulus {
    const Limb* m;      // wordsFor(digits) words, 64-byte aligned
    std::size_t digits; // K, 2 to kMaxDigits
    Limb k0;            // -m^-1 mod 2^52
};

// r = a b / R mod m, below 2m, its digits below 2^52; r may be a or b. All
// three 64-byte aligned.
void multiply(Limb* r, const Limb* a, const Limb* b, const Modulus& m);

// Two products at once, for moduli of the same digit count.
void multiplyPair(Limb* r1, const Limb* a1, const Limb* b1, const Modulus& m1, Limb* r2, const Limb* a2, const Limb* b2,
                  const Modulus& m2);

// out = entry `index` of a table of `entries` numbers of `words` words (a
// multiple of eight), every entry read whatever the index. All 64-byte
// aligned.
void select(Limb* out, const Limb* table, std::size_t entries, std::size_t words, std::size_t index);

} // namespace ifma

} // namespace tessik::montgomery
