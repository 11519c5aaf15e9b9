#include "netlib/crypto/TessikArc4.h"

#include <cstring>

#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

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
    // Eight bytes of keystream gather in a word and meet the input as one.
    // The eight i's are known at the start, and j runs on unmasked, its low
    // byte taken where it is used: the one chain from step to step is a
    // single addition.
    constexpr unsigned int kGroup = 8;
    unsigned int k = 0;
    std::uint32_t jRun = j;
    for (; k + kGroup <= n; k += kGroup) {
        std::uint64_t stream = 0;
#pragma GCC unroll 8
        for (unsigned int b = 0; b < kGroup; ++b) {
            const std::uint32_t at = (i + 1 + b) & 0xFF;
            const std::uint32_t si = s[at];
            jRun += si;
            const std::uint32_t sj = s[jRun & 0xFF];
            s[at] = sj;
            s[jRun & 0xFF] = si;
            stream |= std::uint64_t{s[(si + sj) & 0xFF]} << (8 * b);
        }
        i = (i + kGroup) & 0xFF;
        platform::StoreLe64(out + k, platform::LoadLe64(in + k) ^ stream);
    }
    j = jRun & 0xFF;
    for (; k < n; ++k) {
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
    DataBuffer* out = newCipherOutput(in.getSize());
    if (out && in.getSize() != 0)
        crypt(in.getData(), out->getData(), in.getSize());
    return out;
}

void TessikArc4::discard1536() {
    unsigned char scratch[kArc4DropBytes] = {};
    crypt(scratch, scratch, kArc4DropBytes);
}

} // namespace tessik
