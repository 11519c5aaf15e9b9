#include "netlib/core/DataBuffer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Memory.h"
#include "netlib/core/NamedCodingsHook.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/WideCase.h"
#include "netlib/core/XmlParser.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {
constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;
// Growth below the stepped sizes: at least this much, and this much spare
// room for appends of single bytes.
constexpr std::uint64_t kMinGrowStep = 20000;
constexpr std::uint64_t kByteAppendSlack = 10000;

// Never less than half the size again, so that filling a buffer costs
// amortised constant time per byte however large it gets.
std::uint64_t geometricFloor(std::uint64_t size, std::uint64_t n) {
    return std::max(size + size / 2, size + n);
}

// The stepped growth rule: big buffers grow by big steps, and beyond the
// biggest step by half their size.
std::uint64_t steppedCapacity(std::uint64_t size, std::uint64_t n) {
    static const std::uint64_t kSteps[] = {12000000, 8000000, 4000000, 3000000, 2000000, 1000000, 100000, 50000};
    for (std::uint64_t step : kSteps)
        if (n < step && size >= step)
            return std::max(size + step, geometricFloor(size, n));
    return std::max(size + std::max<std::uint64_t>(n, kMinGrowStep), geometricFloor(size, n));
}

std::atomic<const NamedCodings*> g_namedCodings{nullptr};

bool appendEncodedText(const char* name, const char* text, DataBuffer& out) {
    const NamedCodings* c = g_namedCodings.load();
    return c && c->decode && c->decode(name, text, out);
}

void encodeBytesToText(const char* name, const void* bytes, unsigned int n, StringBuffer& out) {
    const NamedCodings* c = g_namedCodings.load();
    if (c && c->encode)
        c->encode(name, bytes, n, out);
}
} // namespace

void installNamedCodings(const NamedCodings* codings) {
    g_namedCodings.store(codings);
}

DataBuffer::DataBuffer() : m_magic(kAliveMarker), m_borrowed(false), m_data(nullptr), m_size(0), m_capacity(0) {}

DataBuffer::DataBuffer(void* data, unsigned int size)
    : m_magic(kAliveMarker), m_borrowed(false), m_data(static_cast<unsigned char*>(data)), m_size(size),
      m_capacity(size) {
    if (!m_data)
        m_size = m_capacity = 0;
}

DataBuffer::DataBuffer(unsigned int capacity) : m_magic(kAliveMarker), m_borrowed(false), m_size(0) {
    m_data = static_cast<unsigned char*>(memAllocZeroed(capacity));
    m_capacity = m_data ? capacity : 0;
}

DataBuffer::~DataBuffer() {
    m_magic = 0;
    if (!m_borrowed)
        memFree(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
}

void DataBuffer::check(const char* op) const {
    if (m_magic != kAliveMarker)
        tessik::fatalBadObject("DataBuffer", op);
}

void DataBuffer::release() {
    if (!m_borrowed)
        memFree(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
    m_borrowed = false;
}

// ---------------------------------------------------------------- ownership

void DataBuffer::adoptData(void* data, unsigned int size) {
    check("adoptData");
    release();
    m_data = static_cast<unsigned char*>(data);
    m_size = m_capacity = m_data ? size : 0;
}

void DataBuffer::borrowData(const void* data, unsigned int size) {
    check("borrowData");
    release();
    if (!data)
        return;
    m_data = static_cast<unsigned char*>(const_cast<void*>(data));
    m_size = m_capacity = size;
    m_borrowed = true;
}

void DataBuffer::takeFrom(DataBuffer& other) {
    check("takeFrom");
    other.check("takeFrom");
    if (&other == this)
        return;
    release();
    m_data = other.m_data;
    m_size = other.m_size;
    m_capacity = other.m_capacity;
    m_borrowed = other.m_borrowed;
    other.m_data = nullptr;
    other.m_size = other.m_capacity = 0;
    other.m_borrowed = false;
}

void DataBuffer::takeFromOrEmpty(DataBuffer* other) {
    check("takeFromOrEmpty");
    if (other)
        takeFrom(*other);
    else
        m_size = 0;
}

void* DataBuffer::takeData() {
    check("takeData");
    void* p = m_data;
    if (m_borrowed && p) {
        // The caller will free what it gets: hand over a copy, never borrowed memory.
        p = memAlloc(m_size ? m_size : 1);
        if (p && m_size)
            std::memcpy(p, m_data, m_size);
    }
    m_data = nullptr;
    m_size = m_capacity = 0;
    m_borrowed = false;
    return p;
}

void DataBuffer::detachData() {
    check("detachData");
    m_data = nullptr;
    m_size = m_capacity = 0;
    m_borrowed = false;
}

void DataBuffer::clear() {
    check("clear");
    m_size = 0;
}

void DataBuffer::secureClear() {
    check("secureClear");
    secureWipe(m_data, m_size);
    m_size = 0;
}

void DataBuffer::setSize(unsigned int n) {
    check("setSize");
    m_size = std::min(n, m_capacity);
}

void DataBuffer::shorten(unsigned int n) {
    check("shorten");
    m_size -= std::min(n, m_size);
}

bool DataBuffer::ensureCapacity(unsigned int n) {
    check("ensureCapacity");
    if (m_capacity < n)
        reallocate(n);
    return m_data != nullptr;
}

void DataBuffer::shrinkToFit() {
    check("shrinkToFit");
    if (m_capacity > static_cast<std::uint64_t>(m_size) + 4)
        reallocate(m_size + 4);
}

// A failed reallocation keeps the buffer as it was: callers go on using it.
bool DataBuffer::reallocate(unsigned int n) {
    check("reallocate");
    if (n == 0) {
        release();
        return true;
    }
    std::uint32_t keep = std::min(m_size, n);
    unsigned char* block;
    if (m_data && !m_borrowed) {
        // In place where the heap can: large blocks move without copying.
        block = static_cast<unsigned char*>(memResize(m_data, n));
        if (!block)
            return false;
    } else {
        block = static_cast<unsigned char*>(memAlloc(n));
        if (!block)
            return false;
        if (keep)
            std::memcpy(block, m_data, keep);
    }
    m_data = block;
    m_size = keep;
    m_capacity = n;
    m_borrowed = false;
    return true;
}

bool DataBuffer::growFor(std::uint64_t needed, std::uint64_t newCapacity) {
    if (needed <= m_capacity)
        return true;
    if (needed > kMax32)
        return false;
    if (newCapacity > kMax32)
        newCapacity = kMax32;
    return reallocate(static_cast<unsigned int>(newCapacity));
}

// ---------------------------------------------------------------- appending

bool DataBuffer::append(const void* data, unsigned int n) {
    check("append");
    if (!data || n == 0)
        return true;
    std::uint64_t needed = static_cast<std::uint64_t>(m_size) + n;
    if (needed > m_capacity) {
        // The source may lie inside this buffer: keep it valid across the move.
        const unsigned char* src = static_cast<const unsigned char*>(data);
        bool inside = m_data && src >= m_data && src < m_data + m_capacity;
        std::size_t offset = inside ? static_cast<std::size_t>(src - m_data) : 0;
        if (inside) {
            if (needed > kMax32)
                return false;
            std::uint64_t cap = std::min(steppedCapacity(m_size, n), kMax32);
            unsigned char* block = static_cast<unsigned char*>(memAlloc(cap));
            if (!block)
                return false;
            std::memcpy(block, m_data, m_size);
            std::memcpy(block + m_size, m_data + offset, n);
            if (!m_borrowed)
                memFree(m_data);
            m_data = block;
            m_capacity = static_cast<std::uint32_t>(cap);
            m_borrowed = false;
            m_size += n;
            return true;
        }
        if (!growFor(needed, steppedCapacity(m_size, n)))
            return false;
    }
    std::memmove(m_data + m_size, data, n);
    m_size += n;
    return true;
}

bool DataBuffer::appendExact(const void* data, unsigned int n) {
    check("appendExact");
    if (!data || n == 0)
        return true;
    std::uint64_t needed = static_cast<std::uint64_t>(m_size) + n;
    if (m_data && static_cast<const unsigned char*>(data) >= m_data &&
        static_cast<const unsigned char*>(data) < m_data + m_capacity && needed > m_capacity)
        return append(data, n);
    if (!growFor(needed, needed))
        return false;
    std::memmove(m_data + m_size, data, n);
    m_size += n;
    return true;
}

bool DataBuffer::appendChar(unsigned char c) {
    check("appendChar");
    std::uint64_t needed = static_cast<std::uint64_t>(m_size) + 1;
    if (!growFor(needed, std::max(static_cast<std::uint64_t>(m_size) + kByteAppendSlack, geometricFloor(m_size, 1))))
        return false;
    m_data[m_size++] = c;
    return true;
}

bool DataBuffer::appendCharRepeated(unsigned char c, unsigned int n) {
    check("appendCharRepeated");
    if (n == 0)
        return true;
    std::uint64_t needed = static_cast<std::uint64_t>(m_size) + n;
    if (!growFor(needed, std::max(needed + kByteAppendSlack, geometricFloor(m_size, n))))
        return false;
    std::memset(m_data + m_size, c, n);
    m_size += n;
    return true;
}

int DataBuffer::appendCharUtf8(std::uint16_t unit) {
    check("appendCharUtf8");
    unsigned char b[3];
    int n;
    if (unit < 0x80) {
        b[0] = static_cast<unsigned char>(unit);
        n = 1;
    } else if (unit < 0x800) {
        b[0] = static_cast<unsigned char>(0xC0 | (unit >> 6));
        b[1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        n = 2;
    } else {
        b[0] = static_cast<unsigned char>(0xE0 | (unit >> 12));
        b[1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        n = 3;
    }
    std::uint64_t needed = static_cast<std::uint64_t>(m_size) + n;
    if (!growFor(needed, std::max(static_cast<std::uint64_t>(m_size) + kMinGrowStep, geometricFloor(m_size, 3))))
        return 0;
    std::memcpy(m_data + m_size, b, static_cast<std::size_t>(n));
    m_size += static_cast<std::uint32_t>(n);
    return n;
}

bool DataBuffer::appendStr(const char* text) {
    check("appendStr");
    if (!text)
        return true;
    std::size_t n = std::strlen(text);
    if (n > kMax32)
        return false;
    return append(text, static_cast<unsigned int>(n));
}

bool DataBuffer::appendWideStr(const std::uint16_t* text) {
    check("appendWideStr");
    static const unsigned char kZero[2] = {0, 0};
    if (!text)
        return append(kZero, 2);
    std::size_t n = 0;
    while (text[n])
        ++n;
    if ((n + 1) * 2 > kMax32)
        return false;
    return append(text, static_cast<unsigned int>((n + 1) * 2));
}

bool DataBuffer::appendSb(const StringBuffer& sb) {
    check("appendSb");
    if (sb.getSize() <= 0)
        return true;
    return append(sb.getString(), static_cast<unsigned int>(sb.getSize()));
}

bool DataBuffer::appendDb(const DataBuffer& other) {
    check("appendDb");
    other.check("appendDb");
    if (other.m_size == 0)
        return true;
    return append(other.m_data, other.m_size);
}

bool DataBuffer::appendDbRange(const DataBuffer& other, unsigned int offset, unsigned int n) {
    check("appendDbRange");
    other.check("appendDbRange");
    if (offset >= other.m_size)
        return true;
    unsigned int avail = other.m_size - offset;
    return append(other.m_data + offset, std::min(n, avail));
}

bool DataBuffer::appendPadding(int scheme, int blockSize) {
    check("appendPadding");
    unsigned int bs = blockSize == 8 ? 8 : 16;
    unsigned int r = m_size % bs;
    unsigned int pad = bs - r; // schemes 0 and 1: a whole block when r is 0
    unsigned char bytes[16];
    switch (scheme) {
    case 0: std::memset(bytes, static_cast<int>(pad), pad); return append(bytes, pad);
    case 1:
        for (unsigned int i = 0; i + 1 < pad; ++i)
            bytes[i] = static_cast<unsigned char>(std::rand() & 0xFF);
        bytes[pad - 1] = static_cast<unsigned char>(pad);
        return append(bytes, pad);
    case 2:
    case 3:
    case 4:
        if (r == 0)
            return true;
        for (unsigned int i = 0; i < pad; ++i)
            bytes[i] = scheme == 2 ? static_cast<unsigned char>(std::rand() & 0xFF) : (scheme == 3 ? 0 : 0x20);
        return append(bytes, pad);
    default: return true;
    }
}

bool DataBuffer::appendEncoded(const char* text, const char* encodingName) {
    check("appendEncoded");
    if (!text || !encodingName)
        return true;
    StringBuffer name(encodingName);
    name.trimWhitespace();
    if (name.equalsNoCase("hex") || name.equalsNoCase("hexidecimal")) {
        StringBuffer t(text);
        t.trimWhitespace();
        DataBuffer decoded;
        t.decodeHex(decoded);
        return appendDb(decoded);
    }
    if (name.equalsNoCase("base64") || name.equalsNoCase("base-64") || name.equalsNoCase("qp") ||
        name.equalsNoCase("quoted-printable") || name.equalsNoCase("url"))
        return appendEncodedText(name.getString(), text, *this);
    return true;
}

// ---------------------------------------------------------------- editing

void DataBuffer::replaceChar(unsigned char a, unsigned char b) {
    check("replaceChar");
    for (std::uint32_t i = 0; i < m_size; ++i)
        if (m_data[i] == a)
            m_data[i] = b;
}

void DataBuffer::reverseBytes() {
    check("reverseBytes");
    if (m_size < 2)
        return;
    std::reverse(m_data, m_data + m_size);
}

void DataBuffer::byteSwap32() {
    check("byteSwap32");
    std::uint32_t i = 0;
    for (; i + 4 <= m_size; i += 4) {
        std::swap(m_data[i], m_data[i + 3]);
        std::swap(m_data[i + 1], m_data[i + 2]);
    }
    std::uint32_t tail = m_size - i;
    if (tail == 2)
        std::swap(m_data[i], m_data[i + 1]);
    if (tail == 3)
        std::swap(m_data[i], m_data[i + 2]);
}

void DataBuffer::removeChunk(int offset, int n) {
    check("removeChunk");
    if (offset < 0 || n <= 0 || static_cast<std::uint32_t>(offset) >= m_size)
        return;
    std::uint64_t end = static_cast<std::uint64_t>(offset) + static_cast<std::uint64_t>(n);
    if (end >= m_size) {
        m_size = static_cast<std::uint32_t>(offset);
        return;
    }
    std::memmove(m_data + offset, m_data + end, m_size - end);
    m_size -= static_cast<std::uint32_t>(n);
}

void DataBuffer::removeFront(unsigned int n) {
    check("removeFront");
    if (n == 0)
        return;
    if (n >= m_size) {
        m_size = 0;
        return;
    }
    std::memmove(m_data, m_data + n, m_size - n);
    m_size -= n;
}

bool DataBuffer::removePadding(int scheme) {
    check("removePadding");
    if ((scheme == 0 || scheme == 1) && m_size > 0)
        m_size -= std::min<std::uint32_t>(m_data[m_size - 1], m_size);
    return true;
}

bool DataBuffer::removePadding(int scheme, int blockSize, LogBase& log) {
    check("removePadding");
    if ((scheme != 0 && scheme != 1) || m_size == 0)
        return true;
    const unsigned int bs = blockSize == 8 ? 8 : 16;
    const unsigned int v = m_data[m_size - 1];
    bool ok = v >= 1 && v <= bs && v <= m_size;
    // Scheme 1 pads with random bytes: only its count can be checked.
    for (unsigned int i = 1; ok && scheme == 0 && i < v; ++i)
        ok = m_data[m_size - 1 - i] == v;
    if (!ok) {
        log.logError(kInvalidPaddingMessage);
        return false;
    }
    m_size -= v;
    return true;
}

bool DataBuffer::setXorOf(const DataBuffer& a, const DataBuffer& b) {
    check("setXorOf");
    a.check("setXorOf");
    b.check("setXorOf");
    if (a.m_size != b.m_size)
        return false;
    unsigned int n = a.m_size;
    if (n == 0) {
        m_size = 0;
        return true;
    }
    unsigned char* block = static_cast<unsigned char*>(memAlloc(n));
    if (!block)
        return false;
    for (unsigned int i = 0; i < n; ++i)
        block[i] = a.m_data[i] ^ b.m_data[i];
    adoptData(block, n);
    return true;
}

void DataBuffer::chopAtWideChar(std::uint16_t unit) {
    check("chopAtWideChar");
    if (unit == 0)
        return;
    std::uint32_t units = m_size / 2;
    for (std::uint32_t i = 0; i < units; ++i) {
        std::uint16_t u = platform::LoadLe16(m_data + 2 * i);
        if (u == unit) {
            m_data[2 * i] = m_data[2 * i + 1] = 0;
            m_size = 2 * (i + 1);
            return;
        }
    }
    m_size = units * 2;
}

void DataBuffer::replaceWideChar(std::uint16_t a, std::uint16_t b) {
    check("replaceWideChar");
    if (a == 0 || b == 0)
        return;
    for (std::uint32_t i = 0; i + 1 < m_size; i += 2) {
        if (platform::LoadLe16(m_data + i) == a)
            platform::StoreLe16(m_data + i, b);
    }
}

void DataBuffer::toLowerCaseWide() {
    check("toLowerCaseWide");
    for (std::uint32_t i = 0; i + 1 < m_size; i += 2) {
        platform::StoreLe16(m_data + i, wideToLower(platform::LoadLe16(m_data + i)));
    }
}

void DataBuffer::toUpperCaseWide() {
    check("toUpperCaseWide");
    for (std::uint32_t i = 0; i + 1 < m_size; i += 2) {
        platform::StoreLe16(m_data + i, wideToUpper(platform::LoadLe16(m_data + i)));
    }
}

// ---------------------------------------------------------------- queries

unsigned char* DataBuffer::getDataAt(unsigned int i) const {
    check("getDataAt");
    return (m_size == 0 || i >= m_size) ? nullptr : m_data + i;
}

unsigned char DataBuffer::getFirstByte() const {
    check("getFirstByte");
    return m_size ? m_data[0] : 0;
}

unsigned char DataBuffer::getLastByte() const {
    check("getLastByte");
    return m_size ? m_data[m_size - 1] : 0;
}

bool DataBuffer::is7bit() const {
    check("is7bit");
    for (std::uint32_t i = 0; i < m_size; ++i)
        if (m_data[i] >= 0x80)
            return false;
    return true;
}

bool DataBuffer::equalsDb(const DataBuffer& other) const {
    check("equalsDb");
    other.check("equalsDb");
    return equalsBytes(other.m_data, other.m_size);
}

bool DataBuffer::equalsBytes(const void* data, unsigned int n) const {
    check("equalsBytes");
    if (n != m_size)
        return false;
    if (n == 0)
        return true;
    if (!data)
        return false;
    return std::memcmp(m_data, data, n) == 0;
}

unsigned int DataBuffer::findBytes(const void* pattern, unsigned int n, bool& found) const {
    unsigned char* p = findBytesPtr(pattern, n);
    found = p != nullptr;
    return p ? static_cast<unsigned int>(p - m_data) : 0;
}

unsigned char* DataBuffer::findBytesPtr(const void* pattern, unsigned int n) const {
    check("findBytesPtr");
    if (!pattern || n == 0 || m_size == 0 || n > m_size)
        return nullptr;
    const unsigned char* pat = static_cast<const unsigned char*>(pattern);
    for (std::uint32_t i = 0; i + n <= m_size; ++i)
        if (m_data[i] == pat[0] && std::memcmp(m_data + i, pat, n) == 0)
            return m_data + i;
    return nullptr;
}

// ---------------------------------------------------------------- encoding

void DataBuffer::encodeHexToSb(StringBuffer& out) const {
    check("encodeHexToSb");
    encodeHexBytes(m_data, m_size, out);
}

void DataBuffer::encodeToSb(const char* encodingName, StringBuffer& out) const {
    check("encodeToSb");
    encodeBytesToSb(encodingName, m_data, m_size, out);
}

void encodeHexBytes(const void* bytes, unsigned int n, StringBuffer& out) {
    // In pieces, so that a count beyond the text's signed limit is not cut.
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    while (p && n) {
        unsigned int chunk = std::min(n, 1u << 20);
        out.appendHex(p, static_cast<int>(chunk));
        p += chunk;
        n -= chunk;
    }
}

void encodeBytesToSb(const char* encodingName, const void* bytes, unsigned int n, StringBuffer& out) {
    StringBuffer name(encodingName);
    name.trimWhitespace();
    if (name.equalsNoCase("hex") || name.equalsNoCase("hexidecimal")) {
        encodeHexBytes(bytes, n, out);
    } else if (name.equalsNoCase("asc") || name.equalsNoCase("ansi")) {
        if (bytes && n)
            out.appendBytes(bytes, static_cast<int>(std::min<unsigned int>(n, 0x7FFFFFFF)));
    } else if (name.equalsNoCase("base64") || name.equalsNoCase("base-64") || name.equalsNoCase("qp") ||
               name.equalsNoCase("quoted-printable") || name.equalsNoCase("url")) {
        encodeBytesToText(name.getString(), bytes, n, out);
    } else {
        out.clear();
    }
}

bool extractXmlEncoding(const char* text, StringBuffer& out) {
    return declaredXmlEncoding(text, text ? static_cast<unsigned int>(std::strlen(text)) : 0, out);
}

} // namespace tessik
