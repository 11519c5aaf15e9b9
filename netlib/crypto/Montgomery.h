#pragma once
// Modular exponentiation for odd moduli by Montgomery multiplication on
// 64-bit limbs, and on the processor's 52-bit multiply-add (AVX-512 IFMA)
// where it has one: the RSA operations' arithmetic, beside LibTomMath's
// integers they start and end in.
#include <cstddef>
#include <cstdint>

#include <tommath.h>

namespace tessik {

// result = base^exponent mod modulus, the value mp_exptmod gives. With
// secret, neither the time nor the memory touched depends on the
// exponent's bits beyond its length. What this arithmetic does not cover
// (an even or one-limb modulus, a negative exponent, a base not below the
// modulus, more than 16384 bits) goes to mp_exptmod.
mp_err montgomeryExptmod(const mp_int* base, const mp_int* exponent, const mp_int* modulus, bool secret,
                         mp_int* result);

// The two exponentiations of an RSA private key by the Chinese remainder
// theorem, side by side where the processor lends itself to it.
mp_err montgomeryExptmodPair(const mp_int* base1, const mp_int* exponent1, const mp_int* modulus1, const mp_int* base2,
                             const mp_int* exponent2, const mp_int* modulus2, mp_int* result1, mp_int* result2);

namespace montgomery {

// Which arithmetic runs: the portable 64-bit limbs, or the 52-bit
// multiply-add. Every one the processor has stays callable, for the tests.
enum class Engine { kPortable, kIfma };
bool engineSupported(Engine engine);
mp_err exptmodWith(Engine engine, const mp_int* base, const mp_int* exponent, const mp_int* modulus, bool secret,
                   mp_int* result);

// The multiply-add is used where the processor has it unless switched off
// (the portable arithmetic is the fallback and stays testable, and
// measurable).
void setIfmaAllowed(bool allowed);
bool ifmaInUse();

} // namespace montgomery

} // namespace tessik
