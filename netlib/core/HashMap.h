#pragma once
// String-keyed table: buckets of doubly linked lists of named, owned objects.
#include <cstdint>

#include "netlib/core/TessikObject.h"

namespace tessik {

class StringBuffer;

class TS_ListItem {
public:
    explicit TS_ListItem(TessikObject* object) : m_object(object), m_previous(nullptr), m_next(nullptr) {}
    virtual ~TS_ListItem();

    TS_ListItem(const TS_ListItem&) = delete;
    TS_ListItem& operator=(const TS_ListItem&) = delete;

    TessikObject* getObject() const { return m_object; }
    // Previous is the next older item, next the next newer one.
    TS_ListItem* getPrevious() const { return m_previous; }
    TS_ListItem* getNext() const { return m_next; }

private:
    friend class TS_List;
    TessikObject* m_object;
    TS_ListItem* m_previous;
    TS_ListItem* m_next;
};

// Owns its items, and through them their objects.
class TS_List {
public:
    TS_List() : m_count(0), m_newest(nullptr), m_oldest(nullptr) {}
    virtual ~TS_List();

    TS_List(const TS_List&) = delete;
    TS_List& operator=(const TS_List&) = delete;

    // Takes the object; it is deleted at once when no item can be made for it.
    void appendObject(TessikObject* object);
    // The item must be one of this list's; it is deleted with its object.
    void removeItem(TS_ListItem* item);

    int getCount() const { return m_count; }
    TS_ListItem* getNewest() const { return m_newest; }
    TS_ListItem* getOldest() const { return m_oldest; }

private:
    int m_count;
    TS_ListItem* m_newest;
    TS_ListItem* m_oldest;
};

class NamedObject : public TessikObject {
public:
    NamedObject(const char* name, TessikObject* value);
    // Keeps every byte of the name, zero bytes included.
    NamedObject(const tessik::StringBuffer& name, TessikObject* value);
    ~NamedObject() override;

    NamedObject(const NamedObject&) = delete;
    NamedObject& operator=(const NamedObject&) = delete;

    const char* getKey() const;
    // Null when the copy of the name could not be made.
    const tessik::StringBuffer* getNameBuf() const { return m_name; }
    TessikObject* getValue() const { return m_value; }
    void setValue(TessikObject* value);

private:
    tessik::StringBuffer* m_name;
    TessikObject* m_value;
};

// Keys are compared byte for byte. Values are owned from insertion on.
class HashMap {
public:
    explicit HashMap(std::uint32_t bucketCount);
    virtual ~HashMap();

    HashMap(const HashMap&) = delete;
    HashMap& operator=(const HashMap&) = delete;

    NamedObject* findEntry(const tessik::StringBuffer& key, std::uint32_t* bucketIndex) const;
    TessikObject* lookupSb(const tessik::StringBuffer& key) const;
    bool containsKey(const char* key) const;

    void insertSb(const tessik::StringBuffer& key, TessikObject* value);
    void insertString(const char* key, const char* value);
    void addKey(const char* key);
    // False too when the key holds something other than text (a set member).
    bool lookupString(const char* key, tessik::StringBuffer& valueOut) const;

    void removeSb(const tessik::StringBuffer& key);
    void remove(const char* key);

    std::uint32_t getBucketCount() const { return m_bucketCount; }
    // Null when the buckets could not be allocated or the index is out of range.
    const TS_List* getBucket(std::uint32_t index) const;

    // CRC-32 of the MD5 of the key's bytes; the bucket is this modulo the count.
    static std::uint32_t keyHash(const tessik::StringBuffer& key);

private:
    TS_ListItem* findItem(const tessik::StringBuffer& key, std::uint32_t* bucketIndex) const;

    std::uint32_t m_bucketCount;
    TS_List* m_buckets;
};

} // namespace tessik
