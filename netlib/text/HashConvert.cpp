#include "netlib/text/HashConvert.h"

#include <cstring>

namespace tessik {

HashConvert::~HashConvert() = default;
UnicodeLookup::~UnicodeLookup() = default;

void HashConvert::setBucketCount(unsigned int n) {
    clear();
    m_buckets.resize(n);
}

void HashConvert::clear() {
    m_maxKeyLength = 0;
    m_buckets.clear();
    m_buckets.shrink_to_fit();
}

unsigned int HashConvert::bucketOf(const unsigned char* key, unsigned int keyLength) const {
    std::uint32_t v = 0;
    for (unsigned int i = 0; i < keyLength && i < 4; ++i)
        v |= static_cast<std::uint32_t>(key[i]) << (8 * i);
    return v % static_cast<std::uint32_t>(m_buckets.size());
}

void HashConvert::insert(const unsigned char* key, unsigned int keyLength, const unsigned char* value,
                         unsigned int valueLength) {
    if (m_buckets.empty() || keyLength == 0 || keyLength > 255 || valueLength > 255)
        return;
    if (keyLength > m_maxKeyLength)
        m_maxKeyLength = keyLength;
    std::vector<unsigned char>& b = m_buckets[bucketOf(key, keyLength)];
    if (!b.empty())
        b.pop_back();
    b.push_back(static_cast<unsigned char>(keyLength));
    b.insert(b.end(), key, key + keyLength);
    b.push_back(static_cast<unsigned char>(valueLength));
    b.insert(b.end(), value, value + valueLength);
    b.push_back(0);
}

const unsigned char* HashConvert::find(const unsigned char* key, unsigned int keyLength,
                                       unsigned int& valueLength) const {
    valueLength = 0;
    if (m_buckets.empty() || keyLength == 0)
        return nullptr;
    const std::vector<unsigned char>& b = m_buckets[bucketOf(key, keyLength)];
    const unsigned char* p = b.data();
    const unsigned char* end = p + b.size();
    while (p < end && *p != 0) {
        unsigned int kl = p[0];
        const unsigned char* v = p + 1 + kl;
        unsigned int vl = *v;
        if (kl == keyLength && std::memcmp(p + 1, key, kl) == 0) {
            valueLength = vl;
            return v + 1;
        }
        p = v + 1 + vl;
    }
    return nullptr;
}

void HashConvert::lookup(const unsigned char* key, unsigned int keyLength, unsigned char* value,
                         unsigned int& valueLength) const {
    const unsigned char* v = find(key, keyLength, valueLength);
    if (v)
        std::memcpy(value, v, valueLength);
}

void HashConvert::removeKey(const unsigned char* key, unsigned int keyLength) {
    if (m_buckets.empty() || keyLength == 0)
        return;
    std::vector<unsigned char>& b = m_buckets[bucketOf(key, keyLength)];
    std::vector<unsigned char> kept;
    const unsigned char* p = b.data();
    const unsigned char* end = p + b.size();
    while (p < end && *p != 0) {
        unsigned int kl = p[0];
        const unsigned char* next = p + 2 + kl + p[1 + kl];
        if (!(kl == keyLength && std::memcmp(p + 1, key, kl) == 0))
            kept.insert(kept.end(), p, next);
        p = next;
    }
    if (!kept.empty())
        kept.push_back(0);
    b.swap(kept);
}

void HashConvert::buildInverse(HashConvert& target) const {
    forEachEntry([&target](const unsigned char* key, unsigned int keyLength, const unsigned char* value,
                           unsigned int valueLength) { target.insert(value, valueLength, key, keyLength); });
}

unsigned int HashConvert::bucketSize(unsigned int bucket) const {
    if (bucket >= m_buckets.size())
        return 0;
    return static_cast<unsigned int>(m_buckets[bucket].size());
}

} // namespace tessik
