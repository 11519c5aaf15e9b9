#pragma once
// Owning holder of a LibTomMath integer whose digits are wiped before they are
// freed, and the byte forms big numbers travel in.
#include <tommath.h>

namespace tessik {

class DataBuffer;

class MpInt {
public:
    MpInt();
    ~MpInt();
    MpInt(const MpInt&) = delete;
    MpInt& operator=(const MpInt&) = delete;

    mp_int* get() { return &m_value; }
    const mp_int* get() const { return &m_value; }
    operator mp_int*() { return &m_value; }
    operator const mp_int*() const { return &m_value; }

    // Big-endian unsigned bytes; false when the library refuses them.
    bool setBytes(const unsigned char* bytes, unsigned int n);
    // Zero, its old digits wiped.
    void wipe();

private:
    mp_int m_value;
};

// Appends the magnitude most significant byte first, without leading zeros
// (zero appends nothing).
bool mpToUnsignedBin(const mp_int* m, DataBuffer& out);
// mp_ubin_size: bit count / 8, rounded up.
unsigned int mpByteSize(const mp_int* m);
// SSH mpint: 4-byte length floor(bits / 8) + 1, then that many bytes.
bool sshWriteMpint(const mp_int* m, DataBuffer& out);

} // namespace tessik
