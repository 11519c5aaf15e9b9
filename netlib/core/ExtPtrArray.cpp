#include "netlib/core/ExtPtrArray.h"

#include <algorithm>
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

namespace {
constexpr int kPtrGrowLimit = 100000;
constexpr int kIntGrowLimit = 500000;
} // namespace

ExtPtrArray::ExtPtrArray() : m_growBy(5), m_capacity(0), m_count(0), m_items(nullptr), m_ownsObjects(false) {}

ExtPtrArray::ExtPtrArray(int initialCapacity, int growBy)
    : m_growBy(growBy < 1 ? 5 : growBy), m_capacity(0), m_count(0), m_items(nullptr), m_ownsObjects(false) {
    int cap = initialCapacity < 1 ? 5 : initialCapacity;
    m_items = static_cast<TessikObject**>(memAllocZeroed(static_cast<std::uint64_t>(cap) * sizeof(TessikObject*)));
    if (m_items)
        m_capacity = cap;
}

ExtPtrArray::~ExtPtrArray() {
    if (m_ownsObjects)
        removeAllObjects();
    memFree(m_items);
}

void ExtPtrArray::ensureInitialStorage() {
    if (m_items)
        return;
    m_items = static_cast<TessikObject**>(memAllocZeroed(5 * sizeof(TessikObject*)));
    if (m_items)
        m_capacity = 5;
}

// Makes room for newCount elements; the array is unchanged when it fails.
bool ExtPtrArray::growToHold(int newCount) {
    ensureInitialStorage();
    if (!m_items)
        return false;
    if (newCount <= m_capacity)
        return true;
    std::int64_t newCap = static_cast<std::int64_t>(m_capacity) + m_growBy;
    if (newCap < static_cast<std::int64_t>(newCount) + 1)
        newCap = static_cast<std::int64_t>(newCount) + 1;
    if (newCap > 0x7FFFFFFF)
        return false;
    TessikObject** block =
        static_cast<TessikObject**>(memAllocZeroed(static_cast<std::uint64_t>(newCap) * sizeof(TessikObject*)));
    if (!block)
        return false;
    std::memcpy(block, m_items, static_cast<std::size_t>(m_count) * sizeof(TessikObject*));
    memFree(m_items);
    m_items = block;
    m_capacity = static_cast<int>(newCap);
    if (m_growBy < kPtrGrowLimit)
        m_growBy = std::min(m_capacity, kPtrGrowLimit);
    return true;
}

TessikObject* ExtPtrArray::appendPtr(TessikObject* p) {
    if (m_count == 0x7FFFFFFF || !growToHold(m_count + 1))
        return nullptr;
    m_items[m_count++] = p;
    return p;
}

void ExtPtrArray::insertAt(int index, TessikObject* p) {
    if (m_count == 0x7FFFFFFF || !growToHold(m_count + 1))
        return;
    index = std::clamp(index, 0, m_count);
    std::memmove(m_items + index + 1, m_items + index,
                 static_cast<std::size_t>(m_count - index) * sizeof(TessikObject*));
    m_items[index] = p;
    ++m_count;
}

void ExtPtrArray::setAt(int index, TessikObject* p) {
    if (index < 0 || index == 0x7FFFFFFF)
        return;
    if (index >= m_count) {
        if (!growToHold(index + 1))
            return;
        for (int i = m_count; i < index; ++i)
            m_items[i] = nullptr;
        m_count = index + 1;
    }
    m_items[index] = p;
}

TessikObject* ExtPtrArray::elementAt(int index) const {
    if (!m_items || index < 0 || index >= m_count)
        return nullptr;
    return m_items[index];
}

TessikObject* ExtPtrArray::lastElement() const {
    return m_count > 0 ? m_items[m_count - 1] : nullptr;
}

TessikObject* ExtPtrArray::removeAt(int index) {
    if (!m_items || index < 0 || index >= m_count)
        return nullptr;
    TessikObject* p = m_items[index];
    std::memmove(m_items + index, m_items + index + 1,
                 static_cast<std::size_t>(m_count - index - 1) * sizeof(TessikObject*));
    --m_count;
    m_items[m_count] = nullptr;
    return p;
}

TessikObject* ExtPtrArray::popLast() {
    ensureInitialStorage();
    if (m_count == 0)
        return nullptr;
    TessikObject* p = m_items[--m_count];
    m_items[m_count] = nullptr;
    return p;
}

void ExtPtrArray::removeAll() {
    m_count = 0;
}

void ExtPtrArray::removeAllObjects() {
    // Elements may be reached again from destructors; take each out first.
    for (int i = 0; i < m_count; ++i) {
        TessikObject* p = m_items[i];
        m_items[i] = nullptr;
        delete p;
    }
    m_count = 0;
}

void ExtPtrArray::logStringElements(const char* tag, LogBase& log) const {
    for (int i = 0; i < m_count; ++i) {
        auto* sb = static_cast<tessik::StringBuffer*>(m_items[i]);
        if (sb)
            log.logData(tag, sb->getString());
    }
}

// ---------------------------------------------------------------- ExtIntArray

ExtIntArray::ExtIntArray() : m_growBy(200), m_capacity(0), m_count(0) {
    m_items = static_cast<int*>(memAllocZeroed(80 * sizeof(int)));
    if (m_items)
        m_capacity = 80;
}

ExtIntArray::ExtIntArray(int initialCapacity, int growBy)
    : m_growBy(growBy < 1 ? 1 : growBy), m_capacity(0), m_count(0) {
    int cap = initialCapacity < 1 ? 2 : initialCapacity;
    m_items = static_cast<int*>(memAllocZeroed(static_cast<std::uint64_t>(cap) * sizeof(int)));
    if (m_items)
        m_capacity = cap;
}

ExtIntArray::~ExtIntArray() {
    memFree(m_items);
}

bool ExtIntArray::append(int value) {
    if (m_count == 0x7FFFFFFF)
        return false;
    if (m_count + 1 > m_capacity) {
        std::int64_t newCap = static_cast<std::int64_t>(m_capacity) + m_growBy;
        if (newCap < static_cast<std::int64_t>(m_count) + 1)
            newCap = static_cast<std::int64_t>(m_count) + 1;
        if (newCap > 0x7FFFFFFF)
            return false;
        int* block = static_cast<int*>(memAllocZeroed(static_cast<std::uint64_t>(newCap) * sizeof(int)));
        if (!block)
            return false;
        if (m_count)
            std::memcpy(block, m_items, static_cast<std::size_t>(m_count) * sizeof(int));
        memFree(m_items);
        m_items = block;
        m_capacity = static_cast<int>(newCap);
        if (m_growBy < kIntGrowLimit)
            m_growBy = std::min(m_capacity, kIntGrowLimit);
    }
    m_items[m_count++] = value;
    return true;
}

int ExtIntArray::elementAt(int index) const {
    return (index < 0 || index >= m_count) ? 0 : m_items[index];
}

void ExtIntArray::removeAt(int index) {
    if (index < 0 || index >= m_count)
        return;
    std::memmove(m_items + index, m_items + index + 1, static_cast<std::size_t>(m_count - index - 1) * sizeof(int));
    --m_count;
}

} // namespace tessik
