#pragma once
// The library's process-wide source of random numbers. Every byte comes from
// the operating system's generator: the output feeds keys, padding, salts and
// Diffie-Hellman exponents.
#include <cstdint>

namespace tessik {

class DataBuffer;

// Fills `count` bytes from the system's cryptographic generator; false for a
// negative count, a null buffer or a failed call.
bool cryptGenRandomBytes(int count, unsigned char* buffer);

class TessikRand {
public:
    virtual ~TessikRand();

    static std::uint32_t randomUint32();
    static bool randomBytes(int n, DataBuffer& out);
    static bool randomNonZeroBytes(int n, DataBuffer& out);
    // From low up to, but not reaching, high (low when they are equal).
    static std::uint32_t randomIntRange(std::uint32_t low, std::uint32_t high);
    // Seeds the C runtime's rand, which a few legacy paddings still draw from.
    static void reseed(std::uint32_t seed);
};

} // namespace tessik
