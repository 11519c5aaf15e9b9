#include "netlib/crypto/WordBignum.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Memory.h"
#include "netlib/crypto/MpInt.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr std::uint32_t kWordBits = 32;
constexpr std::uint32_t kSsh1MaxBits = 0xFFFF;

WordBignum allocate(std::uint32_t words) {
    WordBignum x = new std::uint32_t[words + 1]();
    x[0] = words;
    return x;
}

std::uint32_t bytesOfBits(std::uint32_t bits) {
    return (bits + 7) / 8;
}

// Big-endian magnitude without leading zeros.
void magnitude(const std::uint32_t* x, DataBuffer& out) {
    std::uint32_t n = bytesOfBits(wordBignumBitLength(x));
    for (std::uint32_t i = n; i > 0; --i)
        out.appendChar(wordBignumGetByte(x, i - 1));
}

} // namespace

void wordBignumFree(WordBignum x) {
    if (x == nullptr)
        return;
    secureWipe(x, (static_cast<std::size_t>(x[0]) + 1) * sizeof(std::uint32_t));
    delete[] x;
}

WordBignum wordBignumFromBytes(const unsigned char* bytes, std::uint32_t n) {
    if (bytes == nullptr)
        return nullptr;
    std::uint32_t words = (n + 3) / 4;
    WordBignum x = allocate(words);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t fromLow = n - 1 - i;
        x[1 + fromLow / 4] |= static_cast<std::uint32_t>(bytes[i]) << (8 * (fromLow % 4));
    }
    while (x[0] >= 2 && x[x[0]] == 0)
        --x[0];
    return x;
}

WordBignum wordBignumCopy(const std::uint32_t* x) {
    if (x == nullptr)
        return allocate(0);
    WordBignum copy = allocate(x[0]);
    for (std::uint32_t i = 1; i <= x[0]; ++i)
        copy[i] = x[i];
    return copy;
}

std::uint32_t wordBignumBitLength(const std::uint32_t* x) {
    if (x == nullptr)
        return 0;
    for (std::uint32_t i = x[0]; i >= 1; --i) {
        if (x[i] != 0) {
            std::uint32_t bits = 0;
            for (std::uint32_t w = x[i]; w != 0; w >>= 1)
                ++bits;
            return (i - 1) * kWordBits + bits;
        }
    }
    return 0;
}

int wordBignumCompare(const std::uint32_t* a, const std::uint32_t* b) {
    if (a == nullptr || b == nullptr)
        return 0;
    std::uint32_t words = a[0] > b[0] ? a[0] : b[0];
    for (std::uint32_t i = words; i >= 1; --i) {
        std::uint32_t wa = i <= a[0] ? a[i] : 0;
        std::uint32_t wb = i <= b[0] ? b[i] : 0;
        if (wa != wb)
            return wa < wb ? -1 : 1;
    }
    return 0;
}

unsigned char wordBignumGetByte(const std::uint32_t* x, std::uint32_t i) {
    if (x == nullptr || i / 4 >= x[0])
        return 0;
    return static_cast<unsigned char>(x[1 + i / 4] >> (8 * (i % 4)));
}

void wordBignumSetBit(std::uint32_t* x, std::uint32_t i, bool bit) {
    if (x == nullptr || i / kWordBits >= x[0])
        return;
    std::uint32_t mask = 1u << (i % kWordBits);
    if (bit)
        x[1 + i / kWordBits] |= mask;
    else
        x[1 + i / kWordBits] &= ~mask;
}

WordBignum wordBignumPowerOfTwo(std::uint32_t n) {
    WordBignum x = allocate(n / kWordBits + 1);
    wordBignumSetBit(x, n, true);
    return x;
}

WordBignum wordBignumBitMask(const std::uint32_t* x) {
    WordBignum mask = allocate(x != nullptr ? x[0] : 0);
    std::uint32_t bits = wordBignumBitLength(x);
    for (std::uint32_t i = 0; i < bits; ++i)
        wordBignumSetBit(mask, i, true);
    return mask;
}

WordBignum wordBignumShiftRight(const std::uint32_t* x, std::uint32_t n) {
    std::uint32_t bits = wordBignumBitLength(x);
    std::uint32_t words = bits > n ? (bits - n + kWordBits - 1) / kWordBits : 0;
    WordBignum result = allocate(words);
    if (n == 0 || n >= kWordBits)
        return result;
    for (std::uint32_t i = 1; i <= words; ++i) {
        std::uint32_t low = x[i] >> n;
        std::uint32_t high = i + 1 <= x[0] ? x[i + 1] << (kWordBits - n) : 0;
        result[i] = low | high;
    }
    return result;
}

std::uint32_t wordBignumSsh1Size(const std::uint32_t* x) {
    return 2 + bytesOfBits(wordBignumBitLength(x));
}

std::uint32_t wordBignumToSsh1Bytes(const std::uint32_t* x, DataBuffer& out) {
    if (x == nullptr)
        return 0;
    std::uint32_t bits = wordBignumBitLength(x);
    if (bits > kSsh1MaxBits)
        return 0;
    unsigned char be[2];
    platform::StoreBe16(be, static_cast<std::uint16_t>(bits));
    out.append(be, sizeof be);
    magnitude(x, out);
    return 2 + bytesOfBits(bits);
}

int wordBignumFromSsh1Bytes(const unsigned char* buffer, std::uint32_t length, WordBignum* result) {
    if (buffer == nullptr || length < 2)
        return -1;
    std::uint32_t bits = platform::LoadBe16(buffer);
    std::uint32_t size = 2 + bytesOfBits(bits);
    if (length < size)
        return -1;
    if (result != nullptr)
        *result = wordBignumFromBytes(buffer + 2, size - 2);
    return static_cast<int>(size);
}

void wordBignumToMpintBytes(const std::uint32_t* x, DataBuffer& out) {
    std::uint32_t bits = wordBignumBitLength(x);
    if (bits == 0)
        return;
    if (bits % 8 == 0)
        out.appendChar(0);
    magnitude(x, out);
}

void wordBignumToMpInt(const std::uint32_t* x, mp_int* m) {
    if (x == nullptr)
        return;
    DataBuffer bytes;
    magnitude(x, bytes);
    if (bytes.getSize() == 0)
        mp_zero(m);
    else if (mp_from_ubin(m, bytes.getData(), bytes.getSize()) != MP_OKAY)
        mp_zero(m);
    bytes.secureClear();
}

WordBignum wordBignumFromMpInt(const mp_int* m) {
    DataBuffer bytes;
    if (!mpToUnsignedBin(m, bytes) || bytes.getSize() == 0)
        return nullptr;
    WordBignum x = wordBignumFromBytes(bytes.getData(), bytes.getSize());
    bytes.secureClear();
    return x;
}

} // namespace tessik
