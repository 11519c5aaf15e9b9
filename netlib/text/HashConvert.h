#pragma once
// The in-memory code-page tables: a hash map of short byte strings (keys of
// 1 to 4 bytes, values of 1 or 2 bytes) and the 256-entry lookup of a
// single-byte page.
#include <cstdint>
#include <vector>

namespace tessik {

class HashConvert {
public:
    HashConvert() = default;
    virtual ~HashConvert();
    HashConvert(const HashConvert&) = delete;
    HashConvert& operator=(const HashConvert&) = delete;

    // Frees everything, then makes n empty buckets.
    void setBucketCount(unsigned int n);
    // Appends after the entries of the key's bucket, so an earlier entry with
    // the same key shadows this one. Ignored while there are no buckets.
    void insert(const unsigned char* key, unsigned int keyLength, const unsigned char* value, unsigned int valueLength);
    // Copies the first matching value into `value` (room for 255 bytes);
    // valueLength becomes 0 when nothing matches.
    void lookup(const unsigned char* key, unsigned int keyLength, unsigned char* value,
                unsigned int& valueLength) const;
    // The value of a key, or null; `valueLength` set as by lookup.
    const unsigned char* find(const unsigned char* key, unsigned int keyLength, unsigned int& valueLength) const;
    void removeKey(const unsigned char* key, unsigned int keyLength);
    // Inserts value -> key for every entry, buckets and entries in order.
    void buildInverse(HashConvert& target) const;
    // Calls visit(key, keyLength, value, valueLength) for every entry,
    // buckets and entries in order.
    template <class Visit>
    void forEachEntry(Visit visit) const {
        for (const std::vector<unsigned char>& b : m_buckets) {
            const unsigned char* p = b.data();
            const unsigned char* end = p + b.size();
            while (p < end && *p != 0) {
                const unsigned int kl = p[0];
                const unsigned char* v = p + 1 + kl;
                visit(p + 1, kl, v + 1, static_cast<unsigned int>(*v));
                p = v + 1 + *v;
            }
        }
    }
    // Length of a bucket's block including its ending 0; 0 for none.
    unsigned int bucketSize(unsigned int bucket) const;
    void clear();
    unsigned int bucketCount() const { return static_cast<unsigned int>(m_buckets.size()); }
    // The longest key inserted since the buckets were made.
    unsigned int maxKeyLength() const { return m_maxKeyLength; }

    bool asciiCompatible = false;

private:
    unsigned int bucketOf(const unsigned char* key, unsigned int keyLength) const;

    // Each block: key length, key, value length, value, ..., ended by 0.
    std::vector<std::vector<unsigned char>> m_buckets;
    unsigned int m_maxKeyLength = 0;
};

class UnicodeLookup {
public:
    UnicodeLookup() = default;
    virtual ~UnicodeLookup();
    // Entry b: the UTF-16 unit of byte b, 0 when the byte has no character.
    std::uint16_t units[256] = {};
};

} // namespace tessik
