#include "netlib/core/HashMap.h"

#include <new>

#include "netlib/core/Md5.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/ZipCRC.h"

namespace tessik {

TS_ListItem::~TS_ListItem() {
    delete m_object;
}

TS_List::~TS_List() {
    TS_ListItem* item = m_newest;
    while (item) {
        TS_ListItem* older = item->m_previous;
        delete item;
        item = older;
    }
    m_newest = m_oldest = nullptr;
    m_count = 0;
}

void TS_List::appendObject(TessikObject* object) {
    if (!object)
        return;
    auto* item = new (std::nothrow) TS_ListItem(object);
    if (!item) {
        delete object;
        return;
    }
    item->m_previous = m_newest;
    if (m_newest)
        m_newest->m_next = item;
    else
        m_oldest = item;
    m_newest = item;
    ++m_count;
}

void TS_List::removeItem(TS_ListItem* item) {
    if (!item || m_count == 0)
        return;
    if (item->m_previous)
        item->m_previous->m_next = item->m_next;
    else
        m_oldest = item->m_next;
    if (item->m_next)
        item->m_next->m_previous = item->m_previous;
    else
        m_newest = item->m_previous;
    --m_count;
    delete item;
}

namespace {

StringBuffer* copyName(const char* bytes, int length) {
    auto* name = new (std::nothrow) StringBuffer(bytes ? bytes : "", static_cast<unsigned int>(length), 0u);
    if (!name)
        return nullptr;
    // A copy that came out short would answer for another key.
    if (name->getSize() != length) {
        delete name;
        return nullptr;
    }
    name->shrinkToFit();
    return name;
}

int textLength(const char* text) {
    int n = 0;
    if (text)
        while (text[n])
            ++n;
    return n;
}

} // namespace

NamedObject::NamedObject(const char* name, TessikObject* value)
    : m_name(copyName(name, textLength(name))), m_value(value) {}

NamedObject::NamedObject(const StringBuffer& name, TessikObject* value)
    : m_name(copyName(name.getString(), name.getSize())), m_value(value) {}

NamedObject::~NamedObject() {
    delete m_name;
    delete m_value;
}

const char* NamedObject::getKey() const {
    return m_name ? m_name->getString() : "";
}

void NamedObject::setValue(TessikObject* value) {
    if (value == m_value)
        return;
    delete m_value;
    m_value = value;
}

// The bucket array comes from the library heap, which refuses sizes beyond
// 32 bits instead of trying them.
HashMap::HashMap(std::uint32_t bucketCount) : m_bucketCount(bucketCount ? bucketCount : 100u), m_buckets(nullptr) {
    void* block = tessik::memAlloc(static_cast<std::uint64_t>(m_bucketCount) * sizeof(TS_List));
    if (!block)
        return;
    m_buckets = static_cast<TS_List*>(block);
    for (std::uint32_t i = 0; i < m_bucketCount; ++i)
        new (&m_buckets[i]) TS_List();
}

HashMap::~HashMap() {
    if (m_buckets) {
        for (std::uint32_t i = 0; i < m_bucketCount; ++i)
            m_buckets[i].~TS_List();
        tessik::memFree(m_buckets);
    }
    m_buckets = nullptr;
    m_bucketCount = 0;
}

std::uint32_t HashMap::keyHash(const StringBuffer& key) {
    unsigned char digest[16];
    Md5 md5;
    md5.digestSb(key, digest);
    return ZipCRC::crc32WithBinaryFlag(digest, 16, nullptr);
}

const TS_List* HashMap::getBucket(std::uint32_t index) const {
    return m_buckets && index < m_bucketCount ? &m_buckets[index] : nullptr;
}

TS_ListItem* HashMap::findItem(const StringBuffer& key, std::uint32_t* bucketIndex) const {
    std::uint32_t index = keyHash(key) % m_bucketCount;
    if (bucketIndex)
        *bucketIndex = index;
    if (!m_buckets)
        return nullptr;
    for (TS_ListItem* item = m_buckets[index].getNewest(); item; item = item->getPrevious()) {
        auto* entry = static_cast<NamedObject*>(item->getObject());
        if (entry->getNameBuf() && entry->getNameBuf()->equalsSb(key))
            return item;
    }
    return nullptr;
}

NamedObject* HashMap::findEntry(const StringBuffer& key, std::uint32_t* bucketIndex) const {
    TS_ListItem* item = findItem(key, bucketIndex);
    return item ? static_cast<NamedObject*>(item->getObject()) : nullptr;
}

TessikObject* HashMap::lookupSb(const StringBuffer& key) const {
    NamedObject* entry = findEntry(key, nullptr);
    return entry ? entry->getValue() : nullptr;
}

bool HashMap::containsKey(const char* key) const {
    if (!key)
        return false;
    StringBuffer k(key);
    return findEntry(k, nullptr) != nullptr;
}

void HashMap::insertSb(const StringBuffer& key, TessikObject* value) {
    std::uint32_t index = 0;
    if (NamedObject* entry = findEntry(key, &index)) {
        entry->setValue(value);
        return;
    }
    if (!m_buckets) {
        delete value;
        return;
    }
    auto* entry = new (std::nothrow) NamedObject(key, value);
    if (!entry) {
        delete value;
        return;
    }
    if (!entry->getNameBuf()) {
        delete entry;
        return;
    }
    m_buckets[index].appendObject(entry);
}

void HashMap::insertString(const char* key, const char* value) {
    if (!key)
        return;
    auto* text = new (std::nothrow) StringBuffer(value ? value : "");
    if (!text)
        return;
    StringBuffer k(key);
    insertSb(k, text);
}

void HashMap::addKey(const char* key) {
    if (!key)
        return;
    auto* member = new (std::nothrow) TessikObject();
    if (!member)
        return;
    StringBuffer k(key);
    insertSb(k, member);
}

bool HashMap::lookupString(const char* key, StringBuffer& valueOut) const {
    valueOut.clear();
    if (!key)
        return false;
    StringBuffer k(key);
    NamedObject* entry = findEntry(k, nullptr);
    if (!entry)
        return false;
    const auto* text = dynamic_cast<const StringBuffer*>(entry->getValue());
    if (!text)
        return false;
    valueOut.appendSb(*text);
    return true;
}

void HashMap::removeSb(const StringBuffer& key) {
    std::uint32_t index = 0;
    if (TS_ListItem* item = findItem(key, &index))
        m_buckets[index].removeItem(item);
}

void HashMap::remove(const char* key) {
    if (!key)
        return;
    StringBuffer k(key);
    removeSb(k);
}

} // namespace tessik
