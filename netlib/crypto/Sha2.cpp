#include "netlib/crypto/Sha2.h"

#include <cassert>
#include <cstring>
#include <new>

#include "netlib/crypto/ShaCompress.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

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

// Completes a partial block, compresses whole blocks straight from the
// input and keeps the rest.
template <class Compress>
void absorb(unsigned char* block, std::uint32_t size, std::uint32_t index, const unsigned char* p, std::uint32_t length,
            Compress compress) {
    if (index != 0) {
        std::uint32_t room = size - index;
        if (length < room) {
            std::memcpy(block + index, p, length);
            return;
        }
        std::memcpy(block + index, p, room);
        compress(block, 1);
        p += room;
        length -= room;
    }
    std::uint32_t blocks = length / size;
    compress(p, blocks);
    std::memcpy(block, p + blocks * size, length % size);
}

// The marker and zeros up to the length field, which the caller fills.
template <class Compress>
void pad(unsigned char* block, std::uint32_t size, std::uint32_t fill, std::uint32_t lengthField, Compress compress) {
    block[fill++] = kPadMarker;
    if (size - fill < lengthField) {
        std::memset(block + fill, 0, size - fill);
        compress(block, 1);
        fill = 0;
    }
    std::memset(block + fill, 0, size - lengthField - fill);
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
    absorb(m_block, kBlock256, index, p, length,
           [this](const unsigned char* d, std::size_t n) { shacompress::sha256(m_h256, d, n); });
}

void Sha2::update512(const unsigned char* p, std::uint32_t length) {
    std::uint32_t index = static_cast<std::uint32_t>((m_bits512Low >> 3) % kBlock512);
    std::uint64_t before = m_bits512Low;
    m_bits512Low += std::uint64_t{length} << 3;
    if (m_bits512Low < before)
        ++m_bits512High;
    absorb(m_block, kBlock512, index, p, length,
           [this](const unsigned char* d, std::size_t n) { shacompress::sha512(m_h512, d, n); });
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
    pad(m_block, kBlock256, (m_bitsLow >> 3) % kBlock256, kLengthField256,
        [this](const unsigned char* d, std::size_t n) { shacompress::sha256(m_h256, d, n); });
    platform::StoreBe32(m_block + kBlock256 - 8, m_bitsHigh);
    platform::StoreBe32(m_block + kBlock256 - 4, m_bitsLow);
    shacompress::sha256(m_h256, m_block, 1);
    for (int i = 0; i < 8; ++i)
        platform::StoreBe32(digest + 4 * i, m_h256[i]);
}

void Sha2::final512(unsigned char* digest, unsigned words) {
    pad(m_block, kBlock512, static_cast<std::uint32_t>((m_bits512Low >> 3) % kBlock512), kLengthField512,
        [this](const unsigned char* d, std::size_t n) { shacompress::sha512(m_h512, d, n); });
    platform::StoreBe64(m_block + kBlock512 - 16, m_bits512High);
    platform::StoreBe64(m_block + kBlock512 - 8, m_bits512Low);
    shacompress::sha512(m_h512, m_block, 1);
    for (unsigned i = 0; i < words; ++i)
        platform::StoreBe64(digest + 8 * i, m_h512[i]);
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
