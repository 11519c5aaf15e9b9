#pragma once
// Growable arrays of object pointers and of 32-bit integers.
#include "netlib/core/TessikObject.h"

namespace tessik {

class LogBase;

class ExtPtrArray {
public:
    ExtPtrArray();
    ExtPtrArray(int initialCapacity, int growBy);
    virtual ~ExtPtrArray();

    ExtPtrArray(const ExtPtrArray&) = delete;
    ExtPtrArray& operator=(const ExtPtrArray&) = delete;

    // Set by the owner: the destructor then deletes every non-null element.
    void setOwnsObjects(bool owns) { m_ownsObjects = owns; }
    bool ownsObjects() const { return m_ownsObjects; }

    int getCount() const { return m_count; }
    int getCapacity() const { return m_capacity; }
    int getGrowBy() const { return m_growBy; }

    TessikObject* appendPtr(TessikObject* p); // p, or null when growth failed
    void insertAt(int index, TessikObject* p);
    void setAt(int index, TessikObject* p);
    TessikObject* elementAt(int index) const;
    TessikObject* lastElement() const;
    TessikObject* removeAt(int index);
    TessikObject* popLast();
    void removeAll();
    void removeAllObjects();
    void ensureInitialStorage();
    void logStringElements(const char* tag, LogBase& log) const;

private:
    bool growToHold(int newCount);

    int m_growBy;
    int m_capacity;
    int m_count;
    TessikObject** m_items;
    bool m_ownsObjects;
};

class ExtIntArray {
public:
    ExtIntArray();
    ExtIntArray(int initialCapacity, int growBy);
    virtual ~ExtIntArray();

    ExtIntArray(const ExtIntArray&) = delete;
    ExtIntArray& operator=(const ExtIntArray&) = delete;

    int getCount() const { return m_count; }
    int getCapacity() const { return m_capacity; }
    bool append(int value);
    int elementAt(int index) const;
    void removeAt(int index);

private:
    int m_growBy;
    int m_capacity;
    int m_count;
    int* m_items;
};

} // namespace tessik
