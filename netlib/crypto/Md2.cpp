#include "netlib/crypto/Md2.h"

#include <algorithm>
#include <cstring>

namespace tessik {

namespace {

constexpr int kPasses = 18;

// RFC 1319's permutation of 0..255, built from the digits of pi.
constexpr unsigned char kPiSubst[256] = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,   243, 192, 199,
    115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212, 224, 22,  103, 66,  111, 24,
    138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160, 251, 245, 142, 187, 47,  238, 122, 169, 104,
    121, 145, 21,  178, 7,   63,  148, 194, 16,  137, 11,  34,  95,  33,  128, 127, 93,  154, 90,  144, 50,  39,
    53,  62,  204, 231, 191, 247, 151, 3,   255, 25,  48,  179, 72,  165, 181, 209, 215, 94,  146, 42,  172, 86,
    170, 198, 79,  184, 56,  210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,
    100, 113, 135, 32,  134, 91,  207, 101, 230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246, 28,  70,
    97,  105, 52,  64,  126, 15,  85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249, 206, 186, 197, 234, 38,
    44,  83,  13,  110, 133, 40,  132, 9,   211, 223, 205, 244, 65,  129, 77,  82,  106, 220, 55,  200, 108, 193,
    171, 250, 36,  225, 123, 8,   12,  189, 177, 74,  120, 136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254,
    59,  0,   29,  57,  242, 239, 183, 14,  102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,  49,  68,
    80,  180, 143, 237, 31,  26,  219, 153, 141, 51,  159, 17,  131, 20};

} // namespace

void Md2::initialize() {
    std::memset(m_checksum, 0, sizeof m_checksum);
    std::memset(m_state, 0, sizeof m_state);
    std::memset(m_block, 0, sizeof m_block);
    m_fill = 0;
}

void Md2::transform() {
    for (unsigned i = 0; i < kBlockSize; ++i) {
        m_state[kBlockSize + i] = m_block[i];
        m_state[2 * kBlockSize + i] = m_block[i] ^ m_state[i];
    }
    unsigned t = 0;
    for (int j = 0; j < kPasses; ++j) {
        for (unsigned char& x : m_state)
            t = x ^= kPiSubst[t];
        t = (t + j) & 0xFF;
    }
}

void Md2::updateChecksum() {
    unsigned char last = m_checksum[kBlockSize - 1];
    for (unsigned i = 0; i < kBlockSize; ++i)
        last = m_checksum[i] ^= kPiSubst[m_block[i] ^ last];
}

void Md2::update(const void* data, std::uint32_t length) {
    if (!data || length == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        std::uint32_t n = std::min(kBlockSize - m_fill, length);
        std::memcpy(m_block + m_fill, p, n);
        m_fill += n;
        p += n;
        length -= n;
        if (m_fill == kBlockSize) {
            transform();
            updateChecksum();
            m_fill = 0;
        }
    }
}

void Md2::final(DataBuffer& out) {
    const unsigned char pad = static_cast<unsigned char>(kBlockSize - m_fill);
    std::memset(m_block + m_fill, pad, pad);
    transform();
    updateChecksum();
    std::memcpy(m_block, m_checksum, kBlockSize);
    transform();
    out.append(m_state, kDigestSize);
}

void Md2::digestDb(const DataBuffer& bytes, DataBuffer& out) {
    digestBytes(bytes.getData(), bytes.getSize(), out);
}

void Md2::digestBytes(const void* data, std::uint32_t length, DataBuffer& out) {
    initialize();
    update(data, length);
    final(out);
}

} // namespace tessik
