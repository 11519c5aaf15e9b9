#include "netlib/crypto/MpInt.h"

#include <cstddef>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Memory.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

// 32 digits, as every key field starts.
constexpr int kInitialDigits = 32;

void wipeDigits(mp_int* m) {
    if (m->dp != nullptr && m->alloc > 0)
        secureWipe(m->dp, static_cast<std::size_t>(m->alloc) * sizeof(mp_digit));
}

} // namespace

MpInt::MpInt() {
    if (mp_init_size(&m_value, kInitialDigits) != MP_OKAY)
        std::memset(&m_value, 0, sizeof m_value);
}

MpInt::~MpInt() {
    wipeDigits(&m_value);
    if (m_value.dp != nullptr)
        mp_clear(&m_value);
}

bool MpInt::setBytes(const unsigned char* bytes, unsigned int n) {
    wipe();
    if (m_value.dp == nullptr)
        return false;
    if (n == 0 || bytes == nullptr)
        return true;
    // Straight into the digits: LibTomMath's own reading shifts the whole
    // number once per byte.
    const int digits = static_cast<int>((std::size_t{n} * 8 + MP_DIGIT_BIT - 1) / MP_DIGIT_BIT);
    if (mp_grow(&m_value, digits) != MP_OKAY)
        return false;
    for (unsigned int i = 0; i < n; ++i) {
        const std::size_t bit = std::size_t{i} * 8;
        const mp_digit byte = bytes[n - 1 - i];
        const std::size_t d = bit / MP_DIGIT_BIT, shift = bit % MP_DIGIT_BIT;
        m_value.dp[d] |= (byte << shift) & MP_MASK;
        if (shift + 8 > MP_DIGIT_BIT)
            m_value.dp[d + 1] |= byte >> (MP_DIGIT_BIT - shift);
    }
    m_value.used = digits;
    mp_clamp(&m_value);
    return true;
}

void MpInt::wipe() {
    wipeDigits(&m_value);
    if (m_value.dp != nullptr)
        mp_zero(&m_value);
}

unsigned int mpByteSize(const mp_int* m) {
    return static_cast<unsigned int>(mp_ubin_size(m));
}

bool mpToUnsignedBin(const mp_int* m, DataBuffer& out) {
    unsigned int n = mpByteSize(m);
    if (mp_iszero(m) || n == 0)
        return true;
    unsigned int start = out.getSize();
    if (!out.appendCharRepeated(0, n))
        return false;
    // Straight from the digits, as setBytes reads them.
    unsigned char* p = out.getData() + start;
    for (unsigned int i = 0; i < n; ++i) {
        const std::size_t bit = std::size_t{i} * 8;
        const std::size_t d = bit / MP_DIGIT_BIT, shift = bit % MP_DIGIT_BIT;
        mp_digit v = m->dp[d] >> shift;
        if (shift + 8 > MP_DIGIT_BIT && static_cast<int>(d) + 1 < m->used)
            v |= m->dp[d + 1] << (MP_DIGIT_BIT - shift);
        p[n - 1 - i] = static_cast<unsigned char>(v);
    }
    return true;
}

bool sshWriteMpint(const mp_int* m, DataBuffer& out) {
    unsigned int bits = static_cast<unsigned int>(mp_count_bits(m));
    unsigned int length = bits / 8 + 1;
    unsigned char header[4];
    platform::StoreBe32(header, length);
    out.append(header, sizeof header);
    unsigned int body = mpByteSize(m);
    if (mp_iszero(m))
        body = 0;
    out.appendCharRepeated(0, length - body);
    return mpToUnsignedBin(m, out);
}

} // namespace tessik
