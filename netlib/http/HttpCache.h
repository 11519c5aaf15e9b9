#pragma once
// The bucket cache: small records kept in ".caf" bucket files of up to ten
// entries each (a directory of entry offsets and key CRCs, then the entries:
// a key, a bzip2-packed header text and the data). The HTTP engine keeps
// responses in it under their URL, and host names whose lookup failed under
// "dns://" + host.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/http/PairTable.h"
#include "netlib/streams/MemoryData.h"

namespace tessik {

class LogBase;
class Output;
class TessikHandle;

// The first 20 bytes of an entry record, as a directory lookup gives them.
struct CacheEntryInfo {
    std::uint32_t tagCrc = 0;
    std::uint8_t created[4] = {};
    std::uint8_t validated[4] = {};
    std::uint8_t count = 0;
    std::uint8_t flags = 0;
    std::uint8_t extraA = 0;
    std::uint8_t extraB = 0;
    std::uint32_t dataCrc = 0;
};

// What is stored under a key.
struct CacheEntryFields {
    const char* key = nullptr;
    const char* headerText = nullptr;
    const DataBuffer* data = nullptr;
    bool isNew = false;
    std::uint8_t extraA = 0;
    std::uint8_t flags = 0;
    std::uint8_t extraB = 0;
    const char* tag = nullptr;
};

// The bytes of one bucket file, in memory or read from the file, whose size
// is known first: no range beyond it is ever asked for, so no length read
// from the file sizes an allocation.
class BucketView {
public:
    BucketView();
    BucketView(const BucketView&) = delete;
    BucketView& operator=(const BucketView&) = delete;

    // Borrows the block.
    void setMemory(const unsigned char* data, std::uint32_t size);
    bool openFile(const char* utf8Path, LogBase& log);
    std::uint64_t size() const { return m_size; }
    // The range's bytes, valid until the next call; null when it is not all
    // there.
    const unsigned char* get(std::uint64_t offset, std::uint32_t size, LogBase& log);

private:
    MemoryData m_data;
    std::uint64_t m_size;
};

// The directory at the start of a bucket file.
class CacheFileDir {
public:
    CacheFileDir();
    virtual ~CacheFileDir();
    CacheFileDir(const CacheFileDir&) = delete;
    CacheFileDir& operator=(const CacheFileDir&) = delete;

    // False for a directory that cannot be: more slots in use than it has,
    // or more than this cache ever reads.
    bool readFromStream(TessikHandle& file);
    bool readFromMemory(BucketView& view, LogBase& log);
    std::uint32_t capacity() const { return m_capacity; }
    std::uint32_t count() const { return m_count; }
    // 0 for an index out of range.
    std::uint32_t offset(int i) const { return getPairFirst(m_slots, m_count, i); }
    std::uint32_t keyCrc(int i) const { return getPairSecond(m_slots, m_count, i); }

private:
    bool readSlots(const unsigned char* slots);
    bool setHead(const unsigned char* head);

    UintPair* m_slots;
    std::uint32_t m_capacity;
    std::uint32_t m_count;
};

class CacheEntry {
public:
    CacheEntry();
    virtual ~CacheEntry();
    CacheEntry(const CacheEntry&) = delete;
    CacheEntry& operator=(const CacheEntry&) = delete;

    void setKey(const char* key);
    void setHeaderText(const char* text);
    bool setData(const DataBuffer& data);
    // Only the tag's CRC is kept.
    void setTag(const char* tag);
    void setFlags(std::uint8_t v) { m_flags = v; }
    void setExtraA(std::uint8_t v) { m_extraA = v; }
    void setExtraB(std::uint8_t v) { m_extraB = v; }
    void setCount(std::uint8_t v) { m_count = v; }
    void incrementCount() { ++m_count; }
    // Both stamps now (UTC), or, for a new entry, created now and validated
    // none.
    void setStamps(bool isNew);

    // Appends the record. Data whose key names a ".gif" or ".pdf" is stored
    // as it is, all else bzip2-packed.
    bool writeTo(DataBuffer& out, LogBase& log);
    // The record at offset: false when any part of it is missing or damaged
    // (a packed part that does not unpack to its stated length, data whose
    // CRC differs from the one stored).
    bool loadFrom(BucketView& view, std::uint64_t offset, LogBase& log);
    bool writeDataTo(Output& out, LogBase& log) const;

    const StringBuffer& key() const { return m_key; }
    const StringBuffer& headerText() const { return m_headerText; }
    const DataBuffer& data() const { return m_data; }
    std::uint32_t keyCrc() const { return m_keyCrc; }
    std::uint32_t tagCrc() const { return m_tagCrc; }
    std::uint32_t dataCrc() const { return m_dataCrc; }
    std::uint8_t count() const { return m_count; }
    std::uint8_t flags() const { return m_flags; }
    std::uint8_t extraA() const { return m_extraA; }
    std::uint8_t extraB() const { return m_extraB; }
    const std::uint8_t* created() const { return m_created; }
    const std::uint8_t* validated() const { return m_validated; }

private:
    std::uint32_t m_keyCrc;
    std::uint32_t m_tagCrc;
    StringBuffer m_key;
    StringBuffer m_headerText;
    DataBuffer m_data;
    std::uint8_t m_created[4];
    std::uint8_t m_validated[4];
    std::uint8_t m_count;
    std::uint8_t m_flags;
    std::uint8_t m_extraA;
    std::uint8_t m_extraB;
    std::uint32_t m_dataCrc;
};

// The operations on one bucket file. The entry of a key is the first one
// whose stored key is that key (the directory's CRC only narrows the search).
class CacheFile {
public:
    CacheFile() = default;
    virtual ~CacheFile() = default;

    bool findEntryInfo(BucketView& view, const char* key, std::uint32_t& offset, CacheEntryInfo& info, LogBase& log);
    bool findEntryInfoInFile(const char* path, const char* key, std::uint32_t& offset, CacheEntryInfo& info,
                             LogBase& log);
    // Null with existsWithoutContent set for an entry that was stored as
    // new (a negative one).
    CacheEntry* loadEntry(const char* path, const char* key, bool& existsWithoutContent, CacheEntryInfo& info,
                          LogBase& log);
    bool appendEntry(const char* path, const CacheEntryFields& fields, LogBase& log);
    // The bucket then holds only this entry.
    bool replaceEntry(const char* path, const CacheEntryFields& fields, LogBase& log);
    // Appends the entry to the bucket, or starts the bucket over with it.
    bool writeEntry(const char* path, CacheEntry& entry, LogBase& log, bool startOver = false);

private:
    void fill(CacheEntry& entry, const CacheEntryFields& fields);
};

class HttpCache {
public:
    HttpCache();
    virtual ~HttpCache();
    HttpCache(const HttpCache&) = delete;
    HttpCache& operator=(const HttpCache&) = delete;

    // A root folder; an empty text is refused and a '/' is added when the
    // text does not end in one.
    bool addRoot(const char* utf8Dir);
    int numRoots() const { return m_roots.getCount(); }

    bool getBucketPath(const char* key, StringBuffer& path) const;
    bool findEntryInfo(const char* key, std::uint32_t& offset, CacheEntryInfo& info, LogBase& log);
    // The caller owns the entry.
    CacheEntry* getEntry(const char* key, bool& existsWithoutContent, CacheEntryInfo& info, LogBase& log);
    bool appendEntry(const CacheEntryFields& fields, LogBase& log);
    bool replaceEntry(const CacheEntryFields& fields, LogBase& log);

    // Whether the host has a "dns://" entry; negative tells whether it marks
    // the host invalid.
    bool isDomainNegative(const char* host, bool& negative, LogBase& log);
    void setDomainValid(const char* host, LogBase& log);
    void setDomainInvalid(const char* host, LogBase& log);

private:
    static void domainKey(const char* host, StringBuffer& key);

    std::uint32_t m_bucketCount;
    ExtPtrArray m_roots;
};

} // namespace tessik
