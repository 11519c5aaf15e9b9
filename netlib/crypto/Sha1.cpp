#include "netlib/crypto/Sha1.h"

#include <algorithm>
#include <cstring>

#include "netlib/crypto/ShaCompress.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {
constexpr std::uint32_t kInitial[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
constexpr unsigned kLengthOffset = Sha1::kBlockSize - 8;
constexpr unsigned kBlockBits = Sha1::kBlockSize * 8;
} // namespace

Sha1::Sha1() : m_bitCount(0), m_h{}, m_fill(0), m_block{} {}

Sha1::~Sha1() = default;

void Sha1::initialize() {
    std::memcpy(m_h, kInitial, sizeof m_h);
    m_bitCount = 0;
    m_fill = 0;
}

void Sha1::update(const void* data, std::uint32_t length) {
    if (!data || length == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        if (m_fill != 0 || length < kBlockSize) {
            std::uint32_t n = std::min(kBlockSize - m_fill, length);
            std::memcpy(m_block + m_fill, p, n);
            m_fill += n;
            p += n;
            length -= n;
            if (m_fill == kBlockSize) {
                shacompress::sha1(m_h, m_block, 1);
                m_bitCount += kBlockBits;
                m_fill = 0;
            }
        } else {
            std::uint32_t blocks = length / kBlockSize;
            shacompress::sha1(m_h, p, blocks);
            m_bitCount += std::uint64_t{blocks} * kBlockBits;
            p += blocks * kBlockSize;
            length -= blocks * kBlockSize;
        }
    }
}

void Sha1::final(unsigned char* digest) {
    if (!digest)
        return;
    m_bitCount += 8u * m_fill;
    m_block[m_fill++] = 0x80;
    if (m_fill > kLengthOffset) {
        std::memset(m_block + m_fill, 0, kBlockSize - m_fill);
        shacompress::sha1(m_h, m_block, 1);
        m_fill = 0;
    }
    std::memset(m_block + m_fill, 0, kLengthOffset - m_fill);
    platform::StoreBe64(m_block + kLengthOffset, m_bitCount);
    shacompress::sha1(m_h, m_block, 1);
    for (int i = 0; i < 5; ++i)
        platform::StoreBe32(digest + 4 * i, m_h[i]);
}

void Sha1::copyState(const Sha1& other) {
    m_bitCount = other.m_bitCount;
    std::memcpy(m_h, other.m_h, sizeof m_h);
    m_fill = other.m_fill;
    std::memcpy(m_block, other.m_block, sizeof m_block);
}

void Sha1::digestBytes(const void* data, std::uint32_t length, DataBuffer& out) {
    unsigned char digest[kDigestSize];
    initialize();
    update(data, length);
    final(digest);
    out.append(digest, kDigestSize);
}

void Sha1::digestDb(const DataBuffer& bytes, DataBuffer& out) {
    digestBytes(bytes.getData(), bytes.getSize(), out);
}

} // namespace tessik
