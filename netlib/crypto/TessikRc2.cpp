#include "netlib/crypto/TessikRc2.h"

#include <cstring>

#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kBlock = kDesBlockSize;
constexpr unsigned int kExpanded = 128;
constexpr unsigned int kDefaultKeyBytes = 16;
constexpr unsigned int kDefaultEffectiveBits = 128;

// RFC 2268's PITABLE, a permutation of 0..255 from the digits of pi.
constexpr std::uint8_t kPiTable[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d, 0xc6, 0x7e, 0x37,
    0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2, 0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3,
    0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32, 0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0,
    0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82, 0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14,
    0xa7, 0x8c, 0xf1, 0xdc, 0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6,
    0x26, 0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03, 0xf8, 0x11,
    0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7, 0x08, 0xe8, 0xea, 0xde, 0x80,
    0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a, 0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74,
    0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec, 0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf,
    0x50, 0xa1, 0xf4, 0x70, 0x39, 0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55,
    0x97, 0x31, 0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9, 0xd3,
    0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9, 0x0d, 0x38, 0x34, 0x1b,
    0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e, 0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c,
    0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad};

std::uint16_t rol16(std::uint16_t x, int s) {
    return static_cast<std::uint16_t>((x << s) | (x >> (16 - s)));
}
std::uint16_t ror16(std::uint16_t x, int s) {
    return static_cast<std::uint16_t>((x >> s) | (x << (16 - s)));
}

constexpr int kShift[4] = {1, 2, 3, 5};

} // namespace

TessikRc2::TessikRc2()
    : ChainedBlockCipher({kBlock, kBlock, true, SwapOrder::kBeforeUnpadding}), m_key{}, m_keyLength(kDefaultKeyBytes),
      m_effectiveBits(kDefaultEffectiveBits), m_ecb(false) {}

TessikRc2::~TessikRc2() {
    std::memset(m_key, 0, sizeof m_key);
}

void TessikRc2::setKey(const DataBuffer& key, unsigned int keyBytes, unsigned int effectiveBits) {
    unsigned int n = keyBytes > kRc2MaxKeyBytes ? kRc2MaxKeyBytes : keyBytes;
    if (n == 0)
        n = 1;
    if (effectiveBits == 0 || effectiveBits > kRc2MaxEffectiveBits)
        effectiveBits = kRc2MaxEffectiveBits;
    m_keyLength = n;
    m_effectiveBits = effectiveBits;
    unsigned char bytes[kRc2MaxKeyBytes] = {};
    if (key.getSize() > 0)
        std::memcpy(bytes, key.getData(), key.getSize() < n ? key.getSize() : n);
    expandKey(bytes, n, effectiveBits);
    std::memset(bytes, 0, sizeof bytes);
}

void TessikRc2::setIv(const DataBuffer& iv) {
    if (iv.getSize() >= kBlock)
        std::memcpy(m_iv, iv.getData(), kBlock);
}

void TessikRc2::expandKey(const unsigned char* key, unsigned int n, unsigned int bits) {
    unsigned char l[kExpanded];
    std::memcpy(l, key, n);
    for (unsigned int i = n; i < kExpanded; ++i)
        l[i] = kPiTable[(l[i - 1] + l[i - n]) & 0xFF];
    const unsigned int t8 = (bits + 7) / 8;
    const unsigned int tm = 0xFFu >> ((8 - bits % 8) % 8);
    l[kExpanded - t8] = kPiTable[l[kExpanded - t8] & tm];
    for (int i = static_cast<int>(kExpanded - 1 - t8); i >= 0; --i)
        l[i] = kPiTable[l[i + 1] ^ l[i + t8]];
    for (int i = 0; i < kKeyWords; ++i)
        m_key[i] = platform::LoadLe16(l + 2 * i);
    std::memset(l, 0, sizeof l);
}

void TessikRc2::encryptBlock(const unsigned char in[8], unsigned char out[8]) const {
    std::uint16_t r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = platform::LoadLe16(in + 2 * i);
    int j = 0;
    for (int round = 0; round < 16; ++round) {
        for (int i = 0; i < 4; ++i) {
            const std::uint16_t mix = static_cast<std::uint16_t>(r[i] + m_key[j++] + (r[(i + 3) & 3] & r[(i + 2) & 3]) +
                                                                 (~r[(i + 3) & 3] & r[(i + 1) & 3]));
            r[i] = rol16(mix, kShift[i]);
        }
        if (round == 4 || round == 10) // mashing after the fifth and the eleventh mixing round
            for (int i = 0; i < 4; ++i)
                r[i] = static_cast<std::uint16_t>(r[i] + m_key[r[(i + 3) & 3] & 63]);
    }
    for (int i = 0; i < 4; ++i)
        platform::StoreLe16(out + 2 * i, r[i]);
}

void TessikRc2::decryptBlock(const unsigned char in[8], unsigned char out[8]) const {
    std::uint16_t r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = platform::LoadLe16(in + 2 * i);
    int j = kKeyWords - 1;
    for (int round = 15; round >= 0; --round) {
        for (int i = 3; i >= 0; --i) {
            r[i] = ror16(r[i], kShift[i]);
            r[i] = static_cast<std::uint16_t>(r[i] - m_key[j--] - (r[(i + 3) & 3] & r[(i + 2) & 3]) -
                                              (~r[(i + 3) & 3] & r[(i + 1) & 3]));
        }
        if (round == 5 || round == 11) // the inverse mash before the sixth and the twelfth
            for (int i = 3; i >= 0; --i)
                r[i] = static_cast<std::uint16_t>(r[i] - m_key[r[(i + 3) & 3] & 63]);
    }
    for (int i = 0; i < 4; ++i)
        platform::StoreLe16(out + 2 * i, r[i]);
}

void TessikRc2::runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const {
    encrypt ? encryptBlock(in, out) : decryptBlock(in, out);
}

void TessikRc2::encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out, std::size_t blocks) const {
    encryptChained<kBlock>(iv, in, out, blocks,
                           [this](const unsigned char* from, unsigned char* to) { encryptBlock(from, to); });
}

ChainedBlockCipher::Chaining TessikRc2::chaining() const {
    return m_ecb ? Chaining::kEcb : Chaining::kCbc;
}

} // namespace tessik
