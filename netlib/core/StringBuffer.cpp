#include "netlib/core/StringBuffer.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/Int64Util.h"
#include "netlib/core/Md5.h"
#include "netlib/core/Memory.h"
#include "netlib/core/XmlChars.h"
#include "platform/ByteOrder.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

// Where a buffer points when it could not allocate anything; never written
// except for a zero at its first byte, which is never needed.
char g_sharedEmpty[1] = {0};

constexpr std::int64_t kMaxCapacity = INT_MAX;
constexpr int kGrowByLimit = 500000;
// The growth step of a buffer that took over a byte buffer's block.
constexpr int kTakenOverGrowBy = 1024;
// What a destroyed buffer's pointer and counts are overwritten with.
constexpr unsigned char kDeadFill = 0xDD;
// Output and input blocks of the hex routines.
constexpr int kHexOutBlock = 255;
constexpr unsigned kHexInBlock = 500;

bool isSpaceTab(char c) {
    return c == ' ' || c == '\t';
}
bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

// ---------------------------------------------------------------- lifecycle

void StringBuffer::initFromBytes(const char* bytes, std::int64_t n, int growBy) {
    m_magic = kAliveMarker;
    m_kind = 0;
    m_length = 0;
    m_growBy = growBy;
    // An empty text takes no block, as a new buffer does not.
    m_data =
        (n > 0 && n + 1 <= kMaxCapacity) ? static_cast<char*>(memAlloc(static_cast<std::uint64_t>(n + 1))) : nullptr;
    if (!m_data) {
        m_data = g_sharedEmpty;
        m_capacity = 1;
        return;
    }
    m_capacity = static_cast<int>(n + 1);
    if (n > 0 && bytes)
        std::memcpy(m_data, bytes, static_cast<std::size_t>(n));
    m_length = static_cast<int>(n);
    m_data[n] = 0;
}

// No block until the first byte arrives: most buffers of a request's objects
// are never written, and allocating for each cost more than the request.
StringBuffer::StringBuffer()
    : m_magic(kAliveMarker), m_kind(0), m_data(g_sharedEmpty), m_capacity(1), m_length(0), m_growBy(kDefaultCapacity) {}

StringBuffer::StringBuffer(const char* text) {
    initFromBytes(text, text ? static_cast<std::int64_t>(std::strlen(text)) : 0, kDefaultGrowBy);
}

StringBuffer::StringBuffer(const StringBuffer& other) : TessikObject(other) {
    other.check("StringBuffer");
    initFromBytes(other.m_data, other.m_length, kDefaultGrowBy);
    m_kind = other.m_kind;
}

StringBuffer::StringBuffer(const char* bytes, unsigned int length, unsigned int growBy) {
    int gb = (growBy == 0 || growBy > static_cast<unsigned>(INT_MAX)) ? kDefaultGrowBy : static_cast<int>(growBy);
    initFromBytes(bytes, bytes ? static_cast<std::int64_t>(length) : 0, gb);
}

StringBuffer::StringBuffer(unsigned int initialSize) : m_magic(kAliveMarker), m_kind(0), m_length(0) {
    std::int64_t size = initialSize == 0 ? kDefaultGrowBy : initialSize;
    m_growBy = size > kMaxCapacity ? kDefaultGrowBy : static_cast<int>(size);
    m_data = size <= kMaxCapacity ? static_cast<char*>(memAlloc(static_cast<std::uint64_t>(size))) : nullptr;
    if (!m_data) {
        m_data = g_sharedEmpty;
        m_capacity = 1;
        return;
    }
    m_capacity = static_cast<int>(size);
    m_data[0] = 0;
}

StringBuffer::~StringBuffer() {
    m_magic = 0;
    releaseBlock();
    std::memset(static_cast<void*>(&m_data), kDeadFill, sizeof m_data);
    m_capacity = m_length = m_growBy = static_cast<int>(0x01010101u * kDeadFill);
}

StringBuffer& StringBuffer::operator=(const StringBuffer& other) {
    if (this != &other)
        setSb(other);
    return *this;
}

void StringBuffer::check(const char* op) const {
    if (m_magic != kAliveMarker)
        fatalBadObject("StringBuffer", op);
}

void StringBuffer::releaseBlock() {
    if (m_data != g_sharedEmpty)
        memFree(m_data);
}

void StringBuffer::setLength(int n) {
    m_length = n;
    if (m_data != g_sharedEmpty)
        m_data[n] = 0;
}

// ---------------------------------------------------------------- growth

// Past the largest step a buffer grows by half its text again, so that
// filling it costs amortised constant time per byte however large it gets.
std::int64_t StringBuffer::grownCapacity(std::int64_t stepped, std::int64_t n) const {
    if (m_length < kGrowByLimit)
        return stepped;
    const std::int64_t geometric = static_cast<std::int64_t>(m_length) + m_length / 2 + n + 1;
    return std::max(stepped, std::min(geometric, kMaxCapacity));
}

// Moves the text to a block of newCapacity bytes; the old block is freed, or
// resized in place where the heap can.
bool StringBuffer::moveToBlock(std::int64_t newCapacity) {
    char* block;
    if (m_data == g_sharedEmpty) {
        block = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(newCapacity)));
        if (!block)
            return false;
        std::memcpy(block, m_data, static_cast<std::size_t>(m_length));
    } else {
        block = static_cast<char*>(memResize(m_data, static_cast<std::uint64_t>(newCapacity)));
        if (!block)
            return false;
    }
    block[m_length] = 0;
    m_data = block;
    m_capacity = static_cast<int>(newCapacity);
    return true;
}

bool StringBuffer::growTo(std::int64_t newCapacity, bool adjustGrowBy) {
    if (newCapacity > kMaxCapacity || newCapacity <= m_length)
        return false;
    if (!moveToBlock(newCapacity))
        return false;
    if (adjustGrowBy && m_growBy < m_capacity && m_growBy < kGrowByLimit) {
        m_growBy = m_capacity / 2;
        if (m_growBy > kGrowByLimit)
            m_growBy = kGrowByLimit;
    }
    return true;
}

bool StringBuffer::ensureRoomFor(std::int64_t n) {
    if (static_cast<std::int64_t>(m_length) + n < m_capacity)
        return true;
    return growTo(grownCapacity(static_cast<std::int64_t>(m_growBy) + m_length + n + 1, n), true);
}

bool StringBuffer::ensureRoomForOneByte() {
    if (m_length + 1 < m_capacity)
        return true;
    return growTo(grownCapacity(static_cast<std::int64_t>(m_growBy) + m_length + 1, 1), true);
}

void StringBuffer::append(const char* text) {
    check("append");
    if (!text || !*text)
        return;
    const std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(INT_MAX)) {
        m_appendFailed = true;
        return;
    }
    appendImpl(text, static_cast<int>(n), 1);
}

void StringBuffer::appendBytes(const void* bytes, int count) {
    check("appendBytes");
    if (!bytes || count <= 0)
        return;
    appendImpl(bytes, count, 0);
}

// `slack` is the extra byte most growth paths add beyond growBy + length + n.
void StringBuffer::appendImpl(const void* bytes, int count, int slack) {
    const char* src = static_cast<const char*>(bytes);
    // The bytes may lie inside this buffer: keep the old block until copied.
    char* oldBlock = nullptr;
    if (static_cast<std::int64_t>(m_length) + count >= m_capacity) {
        std::int64_t newCap = grownCapacity(static_cast<std::int64_t>(m_growBy) + m_length + count + slack, count);
        if (newCap > kMaxCapacity) {
            m_appendFailed = true;
            return;
        }
        if (src >= m_data && src < m_data + m_capacity) {
            char* block = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(newCap)));
            if (!block) {
                m_appendFailed = true;
                return;
            }
            std::memcpy(block, m_data, static_cast<std::size_t>(m_length));
            if (m_data != g_sharedEmpty)
                oldBlock = m_data;
            m_data = block;
            m_capacity = static_cast<int>(newCap);
        } else if (!moveToBlock(newCap)) {
            m_appendFailed = true;
            return;
        }
        if (m_growBy < m_capacity && m_growBy < kGrowByLimit) {
            m_growBy = m_capacity / 2;
            if (m_growBy > kGrowByLimit)
                m_growBy = kGrowByLimit;
        }
    }
    std::memmove(m_data + m_length, src, static_cast<std::size_t>(count));
    setLength(m_length + count);
    if (oldBlock)
        memFree(oldBlock);
}

void StringBuffer::appendChar(char c) {
    check("appendChar");
    if (!ensureRoomForOneByte()) {
        m_appendFailed = true;
        return;
    }
    m_data[m_length] = c;
    setLength(m_length + 1);
}

void StringBuffer::appendCharRepeated(char c, int count) {
    check("appendCharRepeated");
    for (int i = 0; i < count; ++i) {
        if (!ensureRoomForOneByte()) {
            m_appendFailed = true;
            return;
        }
        m_data[m_length] = c;
        setLength(m_length + 1);
    }
}

void StringBuffer::appendSb(const StringBuffer& other) {
    check("appendSb");
    other.check("appendSb");
    if (other.m_appendFailed)
        m_appendFailed = true;
    if (other.m_length > 0)
        appendImpl(other.m_data, other.m_length, 1);
}

void StringBuffer::appendDb(const DataBuffer& db) {
    check("appendDb");
    if (db.getSize() > static_cast<unsigned>(INT_MAX)) {
        m_appendFailed = true;
        return;
    }
    if (db.getSize() > 0)
        appendImpl(db.getData(), static_cast<int>(db.getSize()), 1);
}

void StringBuffer::appendInt(int value) {
    appendInt64(value);
}

void StringBuffer::appendUint32(unsigned int value) {
    char buf[32];
    int64ToText(value, buf, 10, false);
    append(buf);
}

void StringBuffer::appendInt64(std::int64_t value) {
    check("appendInt64");
    appendInt64Decimal(value, *this);
}

void StringBuffer::prepend(const char* text) {
    check("prepend");
    if (!text || !*text)
        return;
    std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(INT_MAX))
        return;
    std::int64_t need = static_cast<std::int64_t>(m_length) + static_cast<std::int64_t>(n);
    if (need >= m_capacity) {
        std::int64_t newCap = static_cast<std::int64_t>(m_growBy) + need + 1;
        if (newCap > kMaxCapacity)
            return;
        char* block = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(newCap)));
        if (!block)
            return;
        std::memcpy(block, text, n);
        std::memcpy(block + n, m_data, static_cast<std::size_t>(m_length));
        block[need] = 0;
        releaseBlock();
        m_data = block;
        m_capacity = static_cast<int>(newCap);
        m_length = static_cast<int>(need);
        return;
    }
    // Room in place; the text may point into this buffer, so copy it aside first.
    char* tmp = static_cast<char*>(memAlloc(n));
    if (!tmp)
        return;
    std::memcpy(tmp, text, n);
    std::memmove(m_data + n, m_data, static_cast<std::size_t>(m_length));
    std::memcpy(m_data, tmp, n);
    memFree(tmp);
    setLength(static_cast<int>(need));
}

void StringBuffer::prependZeroIfOddLength() {
    check("prependZeroIfOddLength");
    if (m_length % 2 == 1)
        prepend("0");
}

bool StringBuffer::reserveExtra(int n) {
    check("reserveExtra");
    if (n <= 0)
        return true;
    return ensureRoomFor(n);
}

void StringBuffer::shrinkToFit() {
    check("shrinkToFit");
    if (m_capacity <= m_length + 4)
        return;
    char* block = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(m_length) + 1));
    if (!block)
        return;
    std::memcpy(block, m_data, static_cast<std::size_t>(m_length) + 1);
    releaseBlock();
    m_data = block;
    m_capacity = m_length + 1;
}

char* StringBuffer::takeData(int* lengthOut) {
    check("takeData");
    char* taken = m_data;
    int len = m_length;
    if (taken == g_sharedEmpty) {
        taken = static_cast<char*>(memAlloc(1));
        if (taken)
            taken[0] = 0;
        len = 0;
    }
    if (lengthOut)
        *lengthOut = taken ? len : 0;
    m_data = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(m_growBy)));
    m_capacity = m_growBy;
    m_length = 0;
    if (!m_data) {
        m_data = g_sharedEmpty;
        m_capacity = 1;
    } else {
        m_data[0] = 0;
    }
    return taken;
}

void StringBuffer::takeFromDb(DataBuffer& db) {
    check("takeFromDb");
    clear();
    std::uint32_t size = db.getSize();
    if (size < 2)
        return;
    if (db.m_borrowed || db.m_capacity > static_cast<std::uint32_t>(INT_MAX)) {
        // Memory we may not own (or cannot describe): copy instead of adopting.
        appendBytes(db.m_data, static_cast<int>(std::min<std::uint32_t>(size - 1, INT_MAX)));
        db.m_size = 0;
        return;
    }
    releaseBlock();
    m_data = reinterpret_cast<char*>(db.m_data);
    m_capacity = static_cast<int>(db.m_capacity);
    m_length = static_cast<int>(size - 1);
    m_data[m_length] = 0;
    m_growBy = kTakenOverGrowBy;
    db.m_data = nullptr;
    db.m_size = db.m_capacity = 0;
    db.m_borrowed = false;
}

// ---------------------------------------------------------------- setting

void StringBuffer::clear() {
    check("clear");
    setLength(0);
    m_appendFailed = false;
}

void StringBuffer::secureClear() {
    check("secureClear");
    if (m_length > 0)
        secureWipe(m_data, static_cast<std::size_t>(m_length));
    setLength(0);
}

void StringBuffer::setString(const char* text) {
    check("setString");
    m_appendFailed = false;
    if (!text || !*text) {
        setLength(0);
        return;
    }
    std::size_t n = std::strlen(text);
    if (text >= m_data && text < m_data + m_capacity) {
        // Part of our own text: move it to the front.
        std::memmove(m_data, text, n);
        setLength(static_cast<int>(n));
        return;
    }
    setLength(0);
    if (n > static_cast<std::size_t>(INT_MAX)) {
        m_appendFailed = true;
        n = INT_MAX;
    }
    appendImpl(text, static_cast<int>(n), 1);
}

void StringBuffer::setSb(const StringBuffer& other) {
    check("setSb");
    other.check("setSb");
    // Set to itself, the text and its record stay as they are.
    if (&other == this)
        return;
    m_appendFailed = false;
    setLength(0);
    if (other.m_length > 0)
        appendImpl(other.m_data, other.m_length, 1);
}

void StringBuffer::setStringKind(int kind) {
    check("setStringKind");
    m_kind = static_cast<std::uint8_t>((kind >= 0 && kind <= 2) ? kind : 0);
}

// ---------------------------------------------------------------- trimming and edits

void StringBuffer::trimSpacesAndTabs() {
    check("trimSpacesAndTabs");
    int end = m_length;
    while (end > 0 && isSpaceTab(m_data[end - 1]))
        --end;
    int start = 0;
    while (start < end && isSpaceTab(m_data[start]))
        ++start;
    if (start > 0)
        std::memmove(m_data, m_data + start, static_cast<std::size_t>(end - start));
    setLength(end - start);
}

void StringBuffer::trimWhitespace() {
    check("trimWhitespace");
    int end = m_length;
    while (end > 0 && isWhite(m_data[end - 1]))
        --end;
    int start = 0;
    while (start < end && isWhite(m_data[start]))
        ++start;
    if (start > 0)
        std::memmove(m_data, m_data + start, static_cast<std::size_t>(end - start));
    setLength(end - start);
}

void StringBuffer::collapseWhitespace() {
    check("collapseWhitespace");
    int w = 0;
    for (int r = 0; r < m_length; ++r) {
        char c = m_data[r];
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
        if (c == ' ' && w > 0 && m_data[w - 1] == ' ')
            continue;
        m_data[w++] = c;
    }
    setLength(w);
}

void StringBuffer::chopAtSubstring(const char* sub, bool keepSubstring) {
    check("chopAtSubstring");
    if (!sub || !*sub)
        return;
    const char* at = std::strstr(m_data, sub);
    if (!at)
        return;
    int cut = static_cast<int>(at - m_data);
    if (keepSubstring)
        cut += static_cast<int>(std::strlen(sub));
    setLength(cut);
}

void StringBuffer::chopAtFirstChar(char c) {
    check("chopAtFirstChar");
    const void* at = std::memchr(m_data, static_cast<unsigned char>(c), static_cast<std::size_t>(m_length));
    if (at)
        setLength(static_cast<int>(static_cast<const char*>(at) - m_data));
}

void StringBuffer::chopAtLastChar(char c) {
    check("chopAtLastChar");
    for (int i = m_length - 1; i >= 0; --i) {
        if (m_data[i] == c) {
            setLength(i);
            return;
        }
    }
}

void StringBuffer::shorten(int n) {
    check("shorten");
    if (n <= 0)
        return;
    setLength(n >= m_length ? 0 : m_length - n);
}

void StringBuffer::removeChunk(int index, int n) {
    check("removeChunk");
    if (index < 0 || n <= 0 || index >= m_length)
        return;
    if (static_cast<std::int64_t>(index) + n > m_length)
        return;
    std::memmove(m_data + index, m_data + index + n, static_cast<std::size_t>(m_length - index - n));
    setLength(m_length - n);
}

void StringBuffer::removeChar(char c) {
    removeCharFrom(c, 0);
}

void StringBuffer::removeCharFrom(char c, int startIndex) {
    check("removeCharFrom");
    if (startIndex < 0)
        startIndex = 0;
    if (startIndex >= m_length)
        return;
    int w = startIndex;
    for (int r = startIndex; r < m_length; ++r)
        if (m_data[r] != c)
            m_data[w++] = m_data[r];
    setLength(w);
}

// A name's ASCII characters of its own (netlib/core/XmlChars.h) and every
// byte of 0x80 and above: a character beyond ASCII is never dropped.
void StringBuffer::keepXmlNameChars() {
    check("keepXmlNameChars");
    int w = 0;
    for (int r = 0; r < m_length; ++r) {
        const auto c = static_cast<unsigned char>(m_data[r]);
        if (c >= 0x80 || xmlchars::isNameChar(c))
            m_data[w++] = m_data[r];
    }
    setLength(w);
}

void StringBuffer::replaceChar(char from, char to) {
    check("replaceChar");
    for (int i = 0; i < m_length; ++i)
        if (m_data[i] == from)
            m_data[i] = to;
}

void StringBuffer::replaceAnyOfFiveChars(const char* fiveChars, char replacement) {
    check("replaceAnyOfFiveChars");
    if (!fiveChars)
        return;
    int n = 0;
    while (n < 5 && fiveChars[n])
        ++n;
    for (int i = 0; i < m_length; ++i)
        for (int k = 0; k < n; ++k)
            if (m_data[i] == fiveChars[k]) {
                m_data[i] = replacement;
                break;
            }
}

bool StringBuffer::replaceFirst(const char* find, const char* replacement) {
    check("replaceFirst");
    if (!find || !*find)
        return false;
    const char* at = std::strstr(m_data, find);
    if (!at)
        return false;
    if (!replacement)
        return true;
    int pos = static_cast<int>(at - m_data);
    int flen = static_cast<int>(std::strlen(find));
    std::int64_t rlen = static_cast<std::int64_t>(std::strlen(replacement));
    std::int64_t newLen = static_cast<std::int64_t>(m_length) - flen + rlen;
    // The replacement may point into this buffer: build the result aside.
    char* block;
    std::int64_t newCap = m_capacity;
    if (newLen >= m_capacity)
        newCap = static_cast<std::int64_t>(m_growBy) + newLen + 1;
    if (newCap > kMaxCapacity)
        return false;
    block = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(newCap)));
    if (!block)
        return false;
    std::memcpy(block, m_data, static_cast<std::size_t>(pos));
    std::memcpy(block + pos, replacement, static_cast<std::size_t>(rlen));
    std::memcpy(block + pos + rlen, m_data + pos + flen, static_cast<std::size_t>(m_length - pos - flen));
    block[newLen] = 0;
    releaseBlock();
    m_data = block;
    m_capacity = static_cast<int>(newCap);
    m_length = static_cast<int>(newLen);
    return true;
}

int StringBuffer::replaceAll(const char* find, const char* replacement) {
    check("replaceAll");
    if (!find || !*find)
        return 0;
    std::size_t flen = std::strlen(find);
    std::size_t rlen = replacement ? std::strlen(replacement) : 0;
    int count = 0;
    for (const char* p = std::strstr(m_data, find); p; p = std::strstr(p + flen, find))
        ++count;
    if (count == 0)
        return 0;
    std::int64_t newLen =
        static_cast<std::int64_t>(m_length) +
        static_cast<std::int64_t>(count) * (static_cast<std::int64_t>(rlen) - static_cast<std::int64_t>(flen));
    std::int64_t newCap = m_capacity;
    if (newLen >= m_capacity)
        newCap = static_cast<std::int64_t>(m_growBy) + newLen + 1;
    if (newCap > kMaxCapacity)
        return 0;
    char* block = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(newCap)));
    if (!block)
        return 0;
    char* w = block;
    const char* r = m_data;
    const char* end = m_data + m_length;
    for (const char* p = std::strstr(r, find); p; p = std::strstr(r, find)) {
        std::memcpy(w, r, static_cast<std::size_t>(p - r));
        w += p - r;
        if (rlen)
            std::memcpy(w, replacement, rlen);
        w += rlen;
        r = p + flen;
    }
    std::memcpy(w, r, static_cast<std::size_t>(end - r));
    block[newLen] = 0;
    releaseBlock();
    m_data = block;
    m_capacity = static_cast<int>(newCap);
    m_length = static_cast<int>(newLen);
    return count;
}

void StringBuffer::toCRLF() {
    check("toCRLF");
    removeChar('\r');
    replaceAll("\n", "\r\n");
}

void StringBuffer::toLF() {
    check("toLF");
    replaceAll("\r\n", "\n");
}

void StringBuffer::encodeXmlEntities() {
    check("encodeXmlEntities");
    replaceAll("&", "&amp;");
    replaceAll("<", "&lt;");
    replaceAll(">", "&gt;");
    replaceAll("\"", "&quot;");
}

// Latin-1 case pairs only: the multiplication and division signs have no case,
// and neither sharp s nor y-diaeresis has a partner inside the byte range.
void StringBuffer::toLowerCase() {
    check("toLowerCase");
    for (int i = 0; i < m_length; ++i) {
        unsigned char c = static_cast<unsigned char>(m_data[i]);
        if (c >= 'A' && c <= 'Z')
            m_data[i] = static_cast<char>(c + 32);
        else if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
            m_data[i] = static_cast<char>(c + 0x20);
    }
}

void StringBuffer::toLowerCaseAscii() {
    check("toLowerCaseAscii");
    for (int i = 0; i < m_length; ++i)
        m_data[i] = asciiToLower(m_data[i]);
}

void StringBuffer::toUpperCase() {
    check("toUpperCase");
    for (int i = 0; i < m_length; ++i) {
        unsigned char c = static_cast<unsigned char>(m_data[i]);
        if (c >= 'a' && c <= 'z')
            m_data[i] = static_cast<char>(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            m_data[i] = static_cast<char>(c - 0x20);
    }
}

// ---------------------------------------------------------------- queries

char StringBuffer::charAt(int index) const {
    check("charAt");
    return (index < 0 || index >= m_length) ? 0 : m_data[index];
}

char StringBuffer::lastChar() const {
    check("lastChar");
    return m_length > 0 ? m_data[m_length - 1] : 0;
}

bool StringBuffer::containsChar(char c) const {
    check("containsChar");
    return std::memchr(m_data, static_cast<unsigned char>(c), static_cast<std::size_t>(m_length)) != nullptr;
}

int StringBuffer::countChar(char c) const {
    check("countChar");
    int n = 0;
    for (int i = 0; i < m_length; ++i)
        if (m_data[i] == c)
            ++n;
    return n;
}

bool StringBuffer::containsSubstring(const char* sub) const {
    check("containsSubstring");
    return sub && std::strstr(m_data, sub) != nullptr;
}

bool StringBuffer::containsSubstringNoCase(const char* sub) const {
    check("containsSubstringNoCase");
    return findSubstringNoCase(m_data, sub) != nullptr;
}

bool StringBuffer::beginsWith(const char* prefix) const {
    check("beginsWith");
    if (!prefix)
        return false;
    std::size_t n = std::strlen(prefix);
    return n <= static_cast<std::size_t>(m_length) && std::memcmp(m_data, prefix, n) == 0;
}

bool StringBuffer::beginsWithNoCase(const char* prefix) const {
    check("beginsWithNoCase");
    if (!prefix)
        return false;
    std::size_t n = std::strlen(prefix);
    return n <= static_cast<std::size_t>(m_length) && asciiCompareNoCase(m_data, prefix, n) == 0;
}

bool StringBuffer::endsWith(const char* suffix) const {
    check("endsWith");
    if (!suffix)
        return false;
    std::size_t n = std::strlen(suffix);
    return n <= static_cast<std::size_t>(m_length) && std::memcmp(m_data + m_length - n, suffix, n) == 0;
}

bool StringBuffer::equals(const char* text) const {
    check("equals");
    if (!text)
        return m_length == 0;
    std::size_t n = std::strlen(text);
    return n == static_cast<std::size_t>(m_length) && std::memcmp(m_data, text, n) == 0;
}

bool StringBuffer::equalsNoCase(const char* text) const {
    check("equalsNoCase");
    if (!text)
        return m_length == 0;
    std::size_t n = std::strlen(text);
    return n == static_cast<std::size_t>(m_length) && asciiCompareNoCase(m_data, text, n) == 0;
}

bool StringBuffer::equalsSb(const StringBuffer& other) const {
    check("equalsSb");
    other.check("equalsSb");
    return m_length == other.m_length && std::memcmp(m_data, other.m_data, static_cast<std::size_t>(m_length)) == 0;
}

bool StringBuffer::equalsNoCaseSb(const StringBuffer& other) const {
    check("equalsNoCaseSb");
    other.check("equalsNoCaseSb");
    return m_length == other.m_length &&
           asciiCompareNoCase(m_data, other.m_data, static_cast<std::size_t>(m_length)) == 0;
}

int StringBuffer::compare(const char* text) const {
    check("compare");
    int r = std::strcmp(m_data, text ? text : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool StringBuffer::is7bit(int n) const {
    check("is7bit");
    int limit = (n <= 0 || n > m_length) ? m_length : n;
    for (int i = 0; i < limit; ++i)
        if (static_cast<unsigned char>(m_data[i]) >= 0x80)
            return false;
    return true;
}

int StringBuffer::intValue() const {
    check("intValue");
    if (m_length == 0)
        return 0;
    char* end = nullptr;
    long long v = std::strtoll(m_data, &end, 10);
    if (end == m_data)
        return 0;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

bool StringBuffer::getParamValue(const char* name, StringBuffer& valueOut) const {
    check("getParamValue");
    valueOut.clear();
    if (!name)
        return false;
    StringBuffer key(name);
    key.trimWhitespace();
    key.appendChar('=');
    const char* at = std::strstr(m_data, key.getString());
    if (!at)
        return false;
    const char* v = at + key.getSize();
    const char* semi = std::strchr(v, ';');
    std::size_t n = semi ? static_cast<std::size_t>(semi - v) : std::strlen(v);
    valueOut.appendBytes(v, static_cast<int>(n));
    return true;
}

bool StringBuffer::parseNameValue(StringBuffer& nameOut, StringBuffer& valueOut) const {
    check("parseNameValue");
    nameOut.clear();
    valueOut.clear();
    const char* p = m_data;
    while (isWhite(*p))
        ++p;
    const char* eq = std::strchr(p, '=');
    if (!eq)
        return false;
    nameOut.appendBytes(p, static_cast<int>(eq - p));
    nameOut.trimWhitespace();
    const char* v = eq + 1;
    while (isWhite(*v))
        ++v;
    if (*v == '"')
        ++v;
    valueOut.append(v);
    valueOut.trimWhitespace();
    if (valueOut.lastChar() == '"')
        valueOut.shorten(1);
    return true;
}

// ---------------------------------------------------------------- splitting

bool StringBuffer::split(ExtPtrArray& out, char separator, bool quotes, bool escapes) const {
    check("split");
    if (m_length == 0)
        return true;
    StringBuffer* piece = new (std::nothrow) StringBuffer();
    if (!piece)
        return false;
    bool escapePending = false;
    bool inQuotes = false;
    for (int i = 0; i < m_length; ++i) {
        char c = m_data[i];
        if (escapes) {
            if (escapePending) {
                piece->appendChar(c);
                escapePending = false;
                continue;
            }
            if (c == '\\') {
                piece->appendChar(c);
                escapePending = true;
                continue;
            }
        }
        if (quotes) {
            if (c == '"') {
                piece->appendChar(c);
                inQuotes = !inQuotes;
                continue;
            }
            if (inQuotes) {
                piece->appendChar(c);
                continue;
            }
        }
        if (c == separator) {
            piece->shrinkToFit();
            if (!out.appendPtr(piece)) {
                delete piece;
                return false;
            }
            piece = new (std::nothrow) StringBuffer();
            if (!piece)
                return false;
            continue;
        }
        piece->appendChar(c);
    }
    piece->shrinkToFit();
    if (!out.appendPtr(piece)) {
        delete piece;
        return false;
    }
    return true;
}

bool StringBuffer::splitOnSubstring(const StringBuffer& separator, ExtPtrArray& out, int maxPieces) const {
    check("splitOnSubstring");
    separator.check("splitOnSubstring");
    int slen = separator.getSize();
    if (slen == 0)
        return true; // no separator to split on: no pieces
    StringBuffer copy(*this);
    const char* text = copy.getString();
    int n = copy.getSize();
    const char* sep = separator.getString();
    int taken = 0;
    int i = 0;
    while (i < n) {
        if (n - i >= slen && std::memcmp(text + i, sep, static_cast<std::size_t>(slen)) == 0) {
            i += slen;
            continue;
        }
        int j = i;
        while (j < n && !(n - j >= slen && std::memcmp(text + j, sep, static_cast<std::size_t>(slen)) == 0))
            ++j;
        StringBuffer* piece = new (std::nothrow) StringBuffer(text + i, static_cast<unsigned>(j - i), 0);
        if (!piece)
            return false;
        if (!out.appendPtr(piece)) {
            delete piece;
            return false;
        }
        ++taken;
        i = j;
        if (maxPieces != 0 && taken >= maxPieces)
            break;
    }
    return true;
}

// ---------------------------------------------------------------- hex

namespace {
enum class HexLayout { Plain, Spaced, Grouped };

// Hex digits gathered in a small block and appended a block at a time.
void appendHexLayout(StringBuffer& sb, const void* bytes, int count, const char* digits, HexLayout layout) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    char block[kHexOutBlock];
    int fill = 0;
    for (int i = 0; i < count; ++i) {
        block[fill++] = digits[p[i] >> 4];
        block[fill++] = digits[p[i] & 15];
        if (layout == HexLayout::Spaced) {
            block[fill++] = ' ';
        } else if (layout == HexLayout::Grouped) {
            // A space after every second byte, a line feed after the sixteenth.
            int inLine = i % 16 + 1;
            if (inLine == 16)
                block[fill++] = '\n';
            else if (inLine % 2 == 0)
                block[fill++] = ' ';
        }
        if (fill + 3 > static_cast<int>(sizeof block)) {
            sb.appendBytes(block, fill);
            fill = 0;
        }
    }
    if (fill)
        sb.appendBytes(block, fill);
}
} // namespace

void StringBuffer::appendHex(const void* bytes, int count) {
    check("appendHex");
    if (bytes && count > 0)
        appendHexLayout(*this, bytes, count, "0123456789ABCDEF", HexLayout::Plain);
}

void StringBuffer::appendHexDump(const void* bytes, int count) {
    check("appendHexDump");
    if (bytes && count > 0)
        appendHexLayout(*this, bytes, count, "0123456789abcdef", HexLayout::Spaced);
}

void StringBuffer::appendHexGrouped(const void* bytes, int count) {
    check("appendHexGrouped");
    if (bytes && count > 0)
        appendHexLayout(*this, bytes, count, "0123456789ABCDEF", HexLayout::Grouped);
}

void StringBuffer::decodeHex(DataBuffer& out) const {
    check("decodeHex");
    decodeHexBytes(m_data, static_cast<unsigned>(m_length), out);
}

void StringBuffer::appendWindowsErrorText(DWORD code) {
    check("appendWindowsErrorText");
    StringBuffer text(platform::WinErrorText(code).c_str());
    text.trimWhitespace();
    appendSb(text);
}

void StringBuffer::appendLastError() {
    appendWindowsErrorText(platform::GetLastError());
}

// ---------------------------------------------------------------- scramble

void StringBuffer::scrambleBytes() {
    check("scrambleBytes");
    if (m_length < 2)
        return;
    std::uint32_t n = static_cast<std::uint32_t>(m_length);
    std::uint32_t* perm = static_cast<std::uint32_t*>(memAlloc(static_cast<std::uint64_t>(n) * 4));
    if (!perm)
        return;
    std::uint64_t sum = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        perm[i] = i;
        sum += static_cast<unsigned char>(m_data[i]);
    }
    std::uint64_t product = static_cast<std::uint64_t>(n) * sum;
    unsigned char le[8];
    platform::StoreLe64(le, product);
    unsigned char digest[16];
    Md5 md5;
    md5.digestBytes(le, 8, digest);
    std::uint64_t j = 0;
    unsigned k = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t t = perm[i];
        j = (j + digest[k] + t) % n;
        perm[i] = perm[j];
        perm[j] = t;
        k = (k + 1) % 16;
    }
    for (std::uint32_t i = n; i-- > 0;) {
        char c = m_data[i];
        m_data[i] = m_data[perm[i]];
        m_data[perm[i]] = c;
    }
    memFree(perm);
}

// ---------------------------------------------------------------- free functions

namespace {
int hexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    // Not validated, as callers have always relied on.
    if (c < ':' || c >= 0x80)
        return c - 48;
    return c - 55;
}
} // namespace

void decodeHexBytes(const char* text, unsigned int count, DataBuffer& out) {
    if (!text || count == 0)
        return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    unsigned char block[kHexInBlock];
    unsigned fill = 0;
    unsigned i = 0;
    if (count % 2 == 1) {
        block[fill++] = static_cast<unsigned char>(hexDigitValue(p[0]) & 0xFF);
        i = 1;
    }
    for (; i + 1 < count; i += 2) {
        int v = hexDigitValue(p[i]) * 16 + hexDigitValue(p[i + 1]);
        block[fill++] = static_cast<unsigned char>(v & 0xFF);
        if (fill == sizeof block) {
            out.append(block, fill);
            fill = 0;
        }
    }
    if (fill)
        out.append(block, fill);
}

} // namespace tessik
