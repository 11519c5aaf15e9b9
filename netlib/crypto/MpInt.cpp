#include "netlib/crypto/MpInt.h"

#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

// 32 digits, as every key field starts.
constexpr int kInitialDigits = 32;

void wipeDigits(mp_int* m) {
    if (m->dp != nullptr && m->alloc > 0) {
        volatile mp_digit* p = m->dp;
        for (int i = 0; i < m->alloc; ++i)
            p[i] = 0;
    }
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
    return mp_from_ubin(&m_value, bytes, n) == MP_OKAY;
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
    size_t written = 0;
    if (mp_to_ubin(m, out.getData() + start, n, &written) != MP_OKAY || written != n) {
        out.shorten(n);
        return false;
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
