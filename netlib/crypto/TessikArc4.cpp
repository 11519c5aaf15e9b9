#include "netlib/crypto/TessikArc4.h"

#include <cstring>

namespace tessik {

namespace {
constexpr unsigned int kDefaultKeyBytes = 16;
constexpr unsigned int kStateSize = 256;
} // namespace

TessikArc4::TessikArc4() : m_state{}, m_i(0), m_j(0), m_keyLength(kDefaultKeyBytes) {}

TessikArc4::~TessikArc4() {
    std::memset(m_state, 0, sizeof m_state);
}

void TessikArc4::setKey(const DataBuffer& key, unsigned int keyBytes) {
    unsigned int n = keyBytes > kArc4MaxKeyBytes ? kArc4MaxKeyBytes : keyBytes;
    if (n == 0)
        n = 1;
    m_keyLength = n;
    unsigned char bytes[kArc4MaxKeyBytes] = {};
    if (key.getSize() > 0)
        std::memcpy(bytes, key.getData(), key.getSize() < n ? key.getSize() : n);
    keySetup(bytes, n);
    std::memset(bytes, 0, sizeof bytes);
}

void TessikArc4::keySetup(const unsigned char* key, unsigned int n) {
    m_i = m_j = 0;
    for (unsigned int k = 0; k < kStateSize; ++k)
        m_state[k] = k;
    std::uint32_t j = 0;
    for (unsigned int k = 0; k < kStateSize; ++k) {
        j = (j + m_state[k] + key[k % n]) & 0xFF;
        const std::uint32_t t = m_state[k];
        m_state[k] = m_state[j];
        m_state[j] = t;
    }
}

void TessikArc4::crypt(const unsigned char* in, unsigned char* out, unsigned int n) {
    std::uint32_t i = m_i, j = m_j;
    std::uint32_t* s = m_state;
    for (unsigned int k = 0; k < n; ++k) {
        i = (i + 1) & 0xFF;
        const std::uint32_t si = s[i];
        j = (j + si) & 0xFF;
        const std::uint32_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        out[k] = static_cast<unsigned char>(in[k] ^ s[(si + sj) & 0xFF]);
    }
    m_i = i;
    m_j = j;
}

DataBuffer* TessikArc4::transformDbNew(const DataBuffer& in) {
    auto* out = new DataBuffer(in.getSize());
    if (in.getSize() == 0)
        return out;
    out->appendCharRepeated(0, in.getSize());
    crypt(in.getData(), out->getData(), in.getSize());
    return out;
}

void TessikArc4::discard1536() {
    unsigned char scratch[kArc4DropBytes] = {};
    crypt(scratch, scratch, kArc4DropBytes);
}

} // namespace tessik
