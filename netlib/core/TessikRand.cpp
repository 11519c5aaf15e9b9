#include "netlib/core/TessikRand.h"

#include <cstdlib>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "platform/CryptProv.h"

namespace tessik {

bool cryptGenRandomBytes(int count, unsigned char* buffer) {
    if (count < 0 || !buffer)
        return false;
    return platform::SystemRandomBytes(buffer, static_cast<std::size_t>(count));
}

namespace {
// The system generator does not fail once initialised; should it ever, stop
// rather than hand out predictable bytes.
void mustFill(unsigned char* p, int n) {
    if (!cryptGenRandomBytes(n, p))
        std::abort();
}
} // namespace

TessikRand::~TessikRand() = default;

std::uint32_t TessikRand::randomUint32() {
    unsigned char b[4];
    mustFill(b, 4);
    std::uint32_t v;
    std::memcpy(&v, b, 4);
    return v;
}

bool TessikRand::randomBytes(int n, DataBuffer& out) {
    if (n <= 0)
        return true;
    unsigned char block[256];
    while (n > 0) {
        int k = n < static_cast<int>(sizeof block) ? n : static_cast<int>(sizeof block);
        mustFill(block, k);
        if (!out.append(block, static_cast<unsigned>(k)))
            return false;
        n -= k;
    }
    return true;
}

bool TessikRand::randomNonZeroBytes(int n, DataBuffer& out) {
    if (n < 1)
        return true;
    unsigned char block[256];
    while (n > 0) {
        int k = n < static_cast<int>(sizeof block) ? n : static_cast<int>(sizeof block);
        mustFill(block, k);
        // Redraw zero bytes one at a time: uniform over 1..255.
        for (int i = 0; i < k; ++i)
            while (block[i] == 0)
                mustFill(&block[i], 1);
        if (!out.append(block, static_cast<unsigned>(k)))
            return false;
        n -= k;
    }
    return true;
}

std::uint32_t TessikRand::randomIntRange(std::uint32_t low, std::uint32_t high) {
    if (low == high)
        return low;
    if (high < low) {
        std::uint32_t t = low;
        low = high;
        high = t;
    }
    std::uint32_t span = high - low;
    // Unbiased draw below span: reject the uneven top of the 32-bit range.
    std::uint32_t limit = static_cast<std::uint32_t>(0x100000000ull - (0x100000000ull % span));
    std::uint32_t r;
    do {
        r = randomUint32();
    } while (limit != 0 && r >= limit);
    return low + r % span;
}

void TessikRand::reseed(std::uint32_t seed) {
    std::srand(seed);
}

} // namespace tessik
