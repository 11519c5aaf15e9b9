#include "netlib/crypto/Sha2.h"

#include <cassert>
#include <cstring>
#include <new>

#include "netlib/crypto/ShaCompress.h"

namespace tessik {

namespace {

using shacompress::loadBe64;
using shacompress::storeBe32;
using shacompress::storeBe64;

constexpr std::uint32_t kBlock256 = 64;
constexpr std::uint32_t kBlock512 = 128;
constexpr std::uint32_t kLengthField256 = 8;
constexpr std::uint32_t kLengthField512 = 16;
constexpr unsigned kSha384Words = 6;
constexpr unsigned kSha512Words = 8;
constexpr unsigned char kPadMarker = 0x80;

constexpr std::uint32_t kInitial256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr std::uint64_t kInitial384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                          0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                          0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
constexpr std::uint64_t kInitial512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                          0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                          0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

constexpr std::uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

inline std::uint64_t rotr64(std::uint64_t x, int n) {
    return (x >> n) | (x << (64 - n));
}

inline void sha512Step(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t& d, std::uint64_t e,
                       std::uint64_t f, std::uint64_t g, std::uint64_t& h, std::uint64_t kw) {
    std::uint64_t t1 = h + (rotr64(e, 14) ^ rotr64(e, 18) ^ rotr64(e, 41)) + (g ^ (e & (f ^ g))) + kw;
    std::uint64_t t2 = (rotr64(a, 28) ^ rotr64(a, 34) ^ rotr64(a, 39)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

void sha512Compress(std::uint64_t state[8], const unsigned char* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kBlock512) {
        std::uint64_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = loadBe64(data + 8 * i);
        for (int i = 16; i < 80; ++i) {
            std::uint64_t s0 = rotr64(w[i - 15], 1) ^ rotr64(w[i - 15], 8) ^ (w[i - 15] >> 7);
            std::uint64_t s1 = rotr64(w[i - 2], 19) ^ rotr64(w[i - 2], 61) ^ (w[i - 2] >> 6);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 80; i += 8) {
            sha512Step(a, b, c, d, e, f, g, h, kK512[i] + w[i]);
            sha512Step(h, a, b, c, d, e, f, g, kK512[i + 1] + w[i + 1]);
            sha512Step(g, h, a, b, c, d, e, f, kK512[i + 2] + w[i + 2]);
            sha512Step(f, g, h, a, b, c, d, e, kK512[i + 3] + w[i + 3]);
            sha512Step(e, f, g, h, a, b, c, d, kK512[i + 4] + w[i + 4]);
            sha512Step(d, e, f, g, h, a, b, c, kK512[i + 5] + w[i + 5]);
            sha512Step(c, d, e, f, g, h, a, b, kK512[i + 6] + w[i + 6]);
            sha512Step(b, c, d, e, f, g, h, a, kK512[i + 7] + w[i + 7]);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

} // namespace

Sha2::Sha2(Type type)
    : m_type(type), m_h256{}, m_bitsLow(0), m_bitsHigh(0), m_block{}, m_h512{}, m_bits512Low(0), m_bits512High(0) {
    initialize();
}

Sha2* Sha2::create(Type type) {
    return new (std::nothrow) Sha2(type);
}
Sha2* Sha2::newSha256() {
    return create(kSha256);
}
Sha2* Sha2::newSha384() {
    return create(kSha384);
}
Sha2* Sha2::newSha512() {
    return create(kSha512);
}

void Sha2::initialize() {
    switch (m_type) {
    case kSha256:
        std::memcpy(m_h256, kInitial256, sizeof m_h256);
        m_bitsLow = m_bitsHigh = 0;
        break;
    case kSha384:
    case kSha512:
        std::memcpy(m_h512, m_type == kSha384 ? kInitial384 : kInitial512, sizeof m_h512);
        m_bits512Low = m_bits512High = 0;
        break;
    default: break;
    }
}

void Sha2::update(const void* data, std::uint32_t length) {
    if (!data || length == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (m_type == kSha256)
        update256(p, length);
    else if (m_type == kSha384 || m_type == kSha512)
        update512(p, length);
}

void Sha2::update256(const unsigned char* p, std::uint32_t length) {
    std::uint32_t index = (m_bitsLow >> 3) % kBlock256;
    std::uint32_t before = m_bitsLow;
    m_bitsLow += length << 3;
    if (m_bitsLow < before)
        ++m_bitsHigh;
    m_bitsHigh += length >> 29;
    if (index != 0) {
        std::uint32_t room = kBlock256 - index;
        if (length < room) {
            std::memcpy(m_block + index, p, length);
            return;
        }
        std::memcpy(m_block + index, p, room);
        shacompress::sha256(m_h256, m_block, 1);
        p += room;
        length -= room;
    }
    std::uint32_t blocks = length / kBlock256;
    shacompress::sha256(m_h256, p, blocks);
    std::memcpy(m_block, p + blocks * kBlock256, length % kBlock256);
}

void Sha2::update512(const unsigned char* p, std::uint32_t length) {
    std::uint32_t index = static_cast<std::uint32_t>((m_bits512Low >> 3) % kBlock512);
    std::uint64_t before = m_bits512Low;
    m_bits512Low += std::uint64_t{length} << 3;
    if (m_bits512Low < before)
        ++m_bits512High;
    if (index != 0) {
        std::uint32_t room = kBlock512 - index;
        if (length < room) {
            std::memcpy(m_block + index, p, length);
            return;
        }
        std::memcpy(m_block + index, p, room);
        sha512Compress(m_h512, m_block, 1);
        p += room;
        length -= room;
    }
    std::uint32_t blocks = length / kBlock512;
    sha512Compress(m_h512, p, blocks);
    std::memcpy(m_block, p + blocks * kBlock512, length % kBlock512);
}

void Sha2::final(unsigned char* digest) {
    assert(digest);
    if (m_type == kSha256)
        final256(digest);
    else if (m_type == kSha384)
        final512(digest, kSha384Words);
    else if (m_type == kSha512)
        final512(digest, kSha512Words);
    initialize();
}

void Sha2::final256(unsigned char* digest) {
    std::uint32_t fill = (m_bitsLow >> 3) % kBlock256;
    m_block[fill++] = kPadMarker;
    if (kBlock256 - fill < kLengthField256) {
        std::memset(m_block + fill, 0, kBlock256 - fill);
        shacompress::sha256(m_h256, m_block, 1);
        fill = 0;
    }
    std::memset(m_block + fill, 0, kBlock256 - kLengthField256 - fill);
    storeBe32(m_block + kBlock256 - 8, m_bitsHigh);
    storeBe32(m_block + kBlock256 - 4, m_bitsLow);
    shacompress::sha256(m_h256, m_block, 1);
    for (int i = 0; i < 8; ++i)
        storeBe32(digest + 4 * i, m_h256[i]);
}

void Sha2::final512(unsigned char* digest, unsigned words) {
    std::uint32_t fill = static_cast<std::uint32_t>((m_bits512Low >> 3) % kBlock512);
    m_block[fill++] = kPadMarker;
    if (kBlock512 - fill < kLengthField512) {
        std::memset(m_block + fill, 0, kBlock512 - fill);
        sha512Compress(m_h512, m_block, 1);
        fill = 0;
    }
    std::memset(m_block + fill, 0, kBlock512 - kLengthField512 - fill);
    storeBe64(m_block + kBlock512 - 16, m_bits512High);
    storeBe64(m_block + kBlock512 - 8, m_bits512Low);
    sha512Compress(m_h512, m_block, 1);
    for (unsigned i = 0; i < words; ++i)
        storeBe64(digest + 8 * i, m_h512[i]);
}

void Sha2::digest(Type type, const void* data, std::uint32_t length, DataBuffer& out) {
    constexpr unsigned kDigestSize[] = {0, 32, 48, 64};
    unsigned char digest[64];
    Sha2 ctx(type);
    ctx.update(data, length);
    ctx.final(digest);
    out.append(digest, kDigestSize[type]);
}

void Sha2::digestSha256(const void* data, std::uint32_t length, DataBuffer& out) {
    digest(kSha256, data, length, out);
}
void Sha2::digestSha384(const void* data, std::uint32_t length, DataBuffer& out) {
    digest(kSha384, data, length, out);
}
void Sha2::digestSha512(const void* data, std::uint32_t length, DataBuffer& out) {
    digest(kSha512, data, length, out);
}
void Sha2::digestSha256Db(const DataBuffer& bytes, DataBuffer& out) {
    digest(kSha256, bytes.getData(), bytes.getSize(), out);
}
void Sha2::digestSha384Db(const DataBuffer& bytes, DataBuffer& out) {
    digest(kSha384, bytes.getData(), bytes.getSize(), out);
}
void Sha2::digestSha512Db(const DataBuffer& bytes, DataBuffer& out) {
    digest(kSha512, bytes.getData(), bytes.getSize(), out);
}

} // namespace tessik
