#include "netlib/http/HttpCache.h"

#include <cstring>
#include <memory>

#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/http/CacheConstants.h"
#include "netlib/http/ClsCache2.h"
#include "netlib/streams/Output.h"
#include "netlib/streams/TessikBzip2.h"
#include "netlib/text/DateTimeValue.h"
#include "platform/ByteOrder.h"

namespace tessik {

using namespace cache_fmt;

namespace {

constexpr int kMd5Size = 16;
constexpr int kBucketWordOffset = 3;
constexpr std::uint32_t kStampYearByte = 0xFF;

std::uint32_t crcOf(const void* data, std::uint32_t size) {
    return ZipCRC::crc32WithBinaryFlag(data, size, nullptr);
}

std::uint32_t crcOfText(const char* text) {
    return text != nullptr ? crcOf(text, static_cast<std::uint32_t>(std::strlen(text))) : 0;
}

// The text of a zero-terminated field: up to its first zero byte.
void textOf(const unsigned char* p, std::uint32_t n, StringBuffer& out) {
    out.clear();
    const void* zero = p != nullptr ? std::memchr(p, 0, n) : nullptr;
    const std::uint32_t length =
        zero != nullptr ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(zero) - p) : n;
    out.appendBytes(p, static_cast<int>(length));
}

// A packed part unpacks to exactly the length its blob states.
bool unpack(const unsigned char* p, std::uint32_t n, DataBuffer& out) {
    out.clear();
    if (n < kBzip2BlobHeaderSize || platform::LoadLe32(p) != kBzip2BlobMagic)
        return false;
    DataBuffer blob;
    blob.borrowData(p, n);
    return TessikBzip2().decompressMemory(blob, out) && out.getSize() == platform::LoadLe32(p + 4);
}

bool pack(const DataBuffer& in, DataBuffer& out) {
    return TessikBzip2().compressMemory(in, out);
}

// Whole reads and writes at a position of an open file.
bool writeAt(TessikHandle& file, std::uint64_t position, const void* bytes, std::uint32_t n) {
    std::uint64_t written = 0;
    return file.seekAbsolute64(static_cast<std::int64_t>(position), nullptr) &&
           file.writeBytes64(bytes, n, &written, nullptr) && written == n;
}

bool readAll(TessikHandle& file, void* into, std::uint32_t n) {
    std::uint32_t got = 0;
    bool atEnd = false;
    return file.readBytes(into, n, &got, &atEnd, nullptr) && got == n;
}

} // namespace

// ---------------------------------------------------------------- BucketView

BucketView::BucketView() : m_size(0) {
    m_data.setOwnsData(false);
}

void BucketView::setMemory(const unsigned char* data, std::uint32_t size) {
    m_data.clear();
    m_data.setOwnsData(false);
    m_data.setData(data, size);
    m_size = data != nullptr ? size : 0;
}

bool BucketView::openFile(const char* utf8Path, LogBase& log) {
    m_data.clear();
    m_size = 0;
    bool ok = false;
    const std::int64_t size = getFileSize64Utf8(utf8Path, nullptr, ok);
    if (!ok || size < 0 || !m_data.openFile(utf8Path, log))
        return false;
    m_size = static_cast<std::uint64_t>(size);
    return true;
}

const unsigned char* BucketView::get(std::uint64_t offset, std::uint32_t size, LogBase& log) {
    if (offset > m_size || size > m_size - offset)
        return nullptr;
    return m_data.getMemData64(static_cast<std::int64_t>(offset), size, log);
}

// ---------------------------------------------------------------- CacheFileDir

CacheFileDir::CacheFileDir() : m_slots(nullptr), m_capacity(0), m_count(0) {}

CacheFileDir::~CacheFileDir() {
    delete[] m_slots;
}

bool CacheFileDir::setHead(const unsigned char* head) {
    delete[] m_slots;
    m_slots = nullptr;
    m_capacity = platform::LoadLe32(head);
    m_count = platform::LoadLe32(head + 4);
    return m_count <= m_capacity && m_capacity <= kCafMaxSlots;
}

bool CacheFileDir::readSlots(const unsigned char* slots) {
    if (m_count == 0)
        return true;
    m_slots = new UintPair[m_count];
    for (std::uint32_t i = 0; i < m_count; ++i) {
        m_slots[i].first = platform::LoadLe32(slots + i * kCafSlotSize);
        m_slots[i].second = platform::LoadLe32(slots + i * kCafSlotSize + 4);
    }
    return true;
}

bool CacheFileDir::readFromStream(TessikHandle& file) {
    unsigned char head[kCafDirHead];
    if (!file.seekAbsolute64(0, nullptr) || !readAll(file, head, kCafDirHead) || !setHead(head))
        return false;
    DataBuffer slots;
    if (m_count != 0 &&
        (!slots.ensureCapacity(m_count * kCafSlotSize) || !readAll(file, slots.getData(), m_count * kCafSlotSize)))
        return false;
    return readSlots(slots.getData());
}

bool CacheFileDir::readFromMemory(BucketView& view, LogBase& log) {
    const unsigned char* head = view.get(0, kCafDirHead, log);
    if (head == nullptr || !setHead(head))
        return false;
    if (m_count == 0)
        return true;
    const unsigned char* slots = view.get(kCafDirHead, m_count * kCafSlotSize, log);
    return slots != nullptr && readSlots(slots);
}

// ---------------------------------------------------------------- CacheEntry

CacheEntry::CacheEntry()
    : m_keyCrc(0), m_tagCrc(0), m_created{}, m_validated{}, m_count(0), m_flags(0), m_extraA(0), m_extraB(0),
      m_dataCrc(0) {}

CacheEntry::~CacheEntry() = default;

void CacheEntry::setKey(const char* key) {
    m_key.setString(key != nullptr ? key : "");
    m_keyCrc = crcOfText(key);
}

void CacheEntry::setHeaderText(const char* text) {
    m_headerText.setString(text != nullptr ? text : "");
}

bool CacheEntry::setData(const DataBuffer& data) {
    m_data.clear();
    m_dataCrc = crcOf(data.getData(), data.getSize());
    return m_data.appendDb(data);
}

void CacheEntry::setTag(const char* tag) {
    m_tagCrc = crcOfText(tag);
}

void CacheEntry::setStamps(bool isNew) {
    SysTimeValue now;
    now.setCurrentUtc();
    const std::uint8_t stamp[kStampSize] = {static_cast<std::uint8_t>((now.year + kStampYearBias) & kStampYearByte),
                                            static_cast<std::uint8_t>(now.month), static_cast<std::uint8_t>(now.day),
                                            static_cast<std::uint8_t>(now.hour)};
    std::memcpy(m_created, stamp, kStampSize);
    if (isNew)
        std::memset(m_validated, 0, kStampSize);
    else
        std::memcpy(m_validated, stamp, kStampSize);
}

bool CacheEntry::writeTo(DataBuffer& out, LogBase&) {
    // Pictures and PDF files are packed already.
    const bool raw = m_key.containsSubstringNoCase(".gif") || m_key.containsSubstringNoCase(".pdf");
    DataBuffer stored;
    if (raw) {
        m_flags = static_cast<std::uint8_t>(m_flags & ~kFlagCompressed);
        if (!stored.appendDb(m_data))
            return false;
    } else {
        m_flags = static_cast<std::uint8_t>(m_flags | kFlagCompressed);
        if (!pack(m_data, stored))
            return false;
    }
    DataBuffer text, packedText;
    if (!text.append(m_headerText.getString(), static_cast<unsigned int>(m_headerText.getSize()) + 1) ||
        !pack(text, packedText))
        return false;

    unsigned char head[kEntryHead];
    platform::StoreLe32(head, m_tagCrc);
    platform::StoreLe32(head + 4, m_dataCrc);
    head[8] = m_count;
    head[9] = m_flags;
    head[10] = m_extraA;
    head[11] = m_extraB;
    std::memcpy(head + 12, m_created, kStampSize);
    std::memcpy(head + 16, m_validated, kStampSize);
    platform::StoreLe32(head + kEntryKeyLengthOffset, static_cast<std::uint32_t>(m_key.getSize()) + 1);
    platform::StoreLe32(head + 24, packedText.getSize());
    platform::StoreLe32(head + 28, stored.getSize());
    return out.append(head, kEntryHead) &&
           out.append(m_key.getString(), static_cast<unsigned int>(m_key.getSize()) + 1) && out.appendDb(packedText) &&
           out.appendDb(stored);
}

bool CacheEntry::loadFrom(BucketView& view, std::uint64_t offset, LogBase& log) {
    const unsigned char* head = view.get(offset, kEntryHead, log);
    if (head == nullptr)
        return false;
    m_tagCrc = platform::LoadLe32(head);
    m_dataCrc = platform::LoadLe32(head + 4);
    m_count = head[8];
    m_flags = head[9];
    m_extraA = head[10];
    m_extraB = head[11];
    std::memcpy(m_created, head + 12, kStampSize);
    std::memcpy(m_validated, head + 16, kStampSize);
    const std::uint32_t keyLength = platform::LoadLe32(head + kEntryKeyLengthOffset);
    const std::uint32_t textLength = platform::LoadLe32(head + 24);
    const std::uint32_t dataLength = platform::LoadLe32(head + 28);
    const std::uint64_t keyAt = offset + kEntryHead;
    const std::uint64_t textAt = keyAt + keyLength;
    const std::uint64_t dataAt = textAt + textLength;
    if (dataAt + dataLength > view.size())
        return false;

    const unsigned char* p = keyLength != 0 ? view.get(keyAt, keyLength, log) : nullptr;
    if (keyLength != 0 && p == nullptr)
        return false;
    textOf(p, keyLength, m_key);
    m_keyCrc = crcOf(m_key.getString(), static_cast<std::uint32_t>(m_key.getSize()));

    m_headerText.clear();
    if (textLength != 0) {
        DataBuffer text;
        p = view.get(textAt, textLength, log);
        if (p == nullptr || !unpack(p, textLength, text))
            return false;
        textOf(text.getData(), text.getSize(), m_headerText);
    }

    m_data.clear();
    if (dataLength != 0) {
        p = view.get(dataAt, dataLength, log);
        if (p == nullptr)
            return false;
        if ((m_flags & kFlagCompressed) != 0 ? !unpack(p, dataLength, m_data) : !m_data.append(p, dataLength))
            return false;
    }
    return crcOf(m_data.getData(), m_data.getSize()) == m_dataCrc;
}

bool CacheEntry::writeDataTo(Output& out, LogBase& log) const {
    return m_data.getSize() == 0 || out.writeDb(m_data, nullptr, log);
}

// ---------------------------------------------------------------- CacheFile

bool CacheFile::findEntryInfo(BucketView& view, const char* key, std::uint32_t& offset, CacheEntryInfo& info,
                              LogBase& log) {
    offset = 0;
    info = CacheEntryInfo();
    CacheFileDir dir;
    if (key == nullptr || !dir.readFromMemory(view, log) || dir.count() == 0)
        return false;
    const std::uint32_t crc = crcOfText(key);
    const std::size_t keyLength = std::strlen(key);
    for (int i = 0; i < static_cast<int>(dir.count()); ++i) {
        if (dir.keyCrc(i) != crc)
            continue;
        const std::uint32_t at = dir.offset(i);
        const unsigned char* head = view.get(at, kEntryHead, log);
        if (head == nullptr)
            continue;
        CacheEntryInfo found;
        found.tagCrc = platform::LoadLe32(head);
        found.dataCrc = platform::LoadLe32(head + 4);
        found.count = head[8];
        found.flags = head[9];
        found.extraA = head[10];
        found.extraB = head[11];
        std::memcpy(found.created, head + 12, kStampSize);
        std::memcpy(found.validated, head + 16, kStampSize);
        const std::uint32_t storedLength = platform::LoadLe32(head + kEntryKeyLengthOffset);
        // The stored key, not its CRC alone, says whose entry this is.
        if (storedLength <= keyLength)
            continue;
        const unsigned char* stored =
            view.get(static_cast<std::uint64_t>(at) + kEntryHead, static_cast<std::uint32_t>(keyLength + 1), log);
        if (stored == nullptr || std::memcmp(stored, key, keyLength) != 0 || stored[keyLength] != 0)
            continue;
        offset = at;
        info = found;
        return true;
    }
    return false;
}

bool CacheFile::findEntryInfoInFile(const char* path, const char* key, std::uint32_t& offset, CacheEntryInfo& info,
                                    LogBase& log) {
    CacheFileLock lock(StringBuffer(path), true, log);
    BucketView view;
    return lock.held() && view.openFile(path, log) && findEntryInfo(view, key, offset, info, log);
}

CacheEntry* CacheFile::loadEntry(const char* path, const char* key, bool& existsWithoutContent, CacheEntryInfo& info,
                                 LogBase& log) {
    existsWithoutContent = false;
    CacheFileLock lock(StringBuffer(path), true, log);
    BucketView view;
    std::uint32_t offset = 0;
    if (!lock.held() || !view.openFile(path, log) || !findEntryInfo(view, key, offset, info, log))
        return nullptr;
    if (info.validated[kStampDay] == 0) {
        existsWithoutContent = true;
        return nullptr;
    }
    auto entry = std::make_unique<CacheEntry>();
    if (!entry->loadFrom(view, offset, log))
        return nullptr;
    return entry.release();
}

void CacheFile::fill(CacheEntry& entry, const CacheEntryFields& fields) {
    entry.setStamps(fields.isNew);
    if (fields.data != nullptr)
        entry.setData(*fields.data);
    entry.setKey(fields.key);
    entry.setHeaderText(fields.headerText);
    entry.setTag(fields.tag);
    entry.setExtraA(fields.extraA);
    entry.setFlags(fields.flags);
    entry.setExtraB(fields.extraB);
}

bool CacheFile::appendEntry(const char* path, const CacheEntryFields& fields, LogBase& log) {
    CacheEntry entry;
    fill(entry, fields);
    entry.setCount(fields.isNew ? 1 : 0);
    CacheFileLock lock(StringBuffer(path), true, log);
    return lock.held() && writeEntry(path, entry, log);
}

bool CacheFile::replaceEntry(const char* path, const CacheEntryFields& fields, LogBase& log) {
    CacheEntry entry;
    fill(entry, fields);
    entry.setCount(0);
    if (fields.isNew)
        entry.incrementCount();
    CacheFileLock lock(StringBuffer(path), true, log);
    return lock.held() && writeEntry(path, entry, log, true);
}

bool CacheFile::writeEntry(const char* path, CacheEntry& entry, LogBase& log, bool startOver) {
    DataBuffer record;
    if (!entry.writeTo(record, log))
        return false;
    TessikHandle file;
    CacheFileDir dir;
    // A directory that cannot be read starts over, like a full one: what it
    // pointed at could not be found anyway. A new bucket takes the old one's
    // place whole, through a link as open() would go.
    if (startOver || !openExistingForUpdate(file, path, nullptr) || !dir.readFromStream(file) ||
        dir.count() >= dir.capacity()) {
        file.close();
        StringBuffer work;
        if (!ensureParentDirectory(path, work, &log))
            return false;
        DataBuffer bucket;
        unsigned char head[kCafFirstEntry] = {};
        platform::StoreLe32(head, kCafCapacity);
        platform::StoreLe32(head + 4, 1);
        platform::StoreLe32(head + kCafDirHead, kCafFirstEntry);
        platform::StoreLe32(head + kCafDirHead + 4, entry.keyCrc());
        return bucket.append(head, kCafFirstEntry) && bucket.appendDb(record) &&
               writeWholeFileUtf8(path, bucket.getData(), bucket.getSize(), &log);
    }
    if (!file.seekToEnd(nullptr))
        return false;
    const std::int64_t end = file.getPosition64(nullptr);
    if (end < 0 || static_cast<std::uint64_t>(end) + record.getSize() > UINT32_MAX)
        return false;
    const auto at = static_cast<std::uint32_t>(end);
    unsigned char slot[kCafSlotSize];
    platform::StoreLe32(slot, at);
    platform::StoreLe32(slot + 4, entry.keyCrc());
    unsigned char count[4];
    platform::StoreLe32(count, dir.count() + 1);
    // The entry, then its slot, then the count that makes the slot count:
    // a write cut short leaves the directory as it was, and the file is cut
    // back to its old end.
    if (writeAt(file, at, record.getData(), record.getSize()) &&
        writeAt(file, kCafDirHead + static_cast<std::uint64_t>(dir.count()) * kCafSlotSize, slot, kCafSlotSize) &&
        writeAt(file, 4, count, sizeof count))
        return true;
    if (file.seekAbsolute64(end, nullptr))
        platform::SetEndOfFile(file.getHandle());
    return false;
}

// ---------------------------------------------------------------- HttpCache

HttpCache::HttpCache() : m_bucketCount(kDefaultBucketCount) {
    m_roots.setOwnsObjects(true);
}

HttpCache::~HttpCache() = default;

bool HttpCache::addRoot(const char* utf8Dir) {
    if (utf8Dir == nullptr || *utf8Dir == '\0')
        return false;
    auto* root = new StringBuffer(utf8Dir);
    root->replaceChar('\\', '/');
    if (root->lastChar() != '/')
        root->appendChar('/');
    if (m_roots.appendPtr(root) == nullptr) {
        delete root;
        return false;
    }
    return true;
}

bool HttpCache::getBucketPath(const char* key, StringBuffer& path) const {
    path.clear();
    unsigned char d[kMd5Size];
    const StringBuffer* root = cacheRootOf(m_roots, key, d);
    if (root == nullptr)
        return false;
    path.setSb(*root);
    path.appendUint32(d[1]);
    path.appendChar('/');
    path.appendUint32(d[2]);
    path.appendChar('/');
    path.appendUint32(platform::LoadLe32(d + kBucketWordOffset) % m_bucketCount);
    path.append(kCafExtension);
    return true;
}

bool HttpCache::findEntryInfo(const char* key, std::uint32_t& offset, CacheEntryInfo& info, LogBase& log) {
    StringBuffer path;
    return getBucketPath(key, path) && CacheFile().findEntryInfoInFile(path.getString(), key, offset, info, log);
}

CacheEntry* HttpCache::getEntry(const char* key, bool& existsWithoutContent, CacheEntryInfo& info, LogBase& log) {
    existsWithoutContent = false;
    StringBuffer path;
    if (!getBucketPath(key, path))
        return nullptr;
    return CacheFile().loadEntry(path.getString(), key, existsWithoutContent, info, log);
}

bool HttpCache::appendEntry(const CacheEntryFields& fields, LogBase& log) {
    StringBuffer path;
    return getBucketPath(fields.key, path) && CacheFile().appendEntry(path.getString(), fields, log);
}

bool HttpCache::replaceEntry(const CacheEntryFields& fields, LogBase& log) {
    StringBuffer path;
    return getBucketPath(fields.key, path) && CacheFile().replaceEntry(path.getString(), fields, log);
}

void HttpCache::domainKey(const char* host, StringBuffer& key) {
    key.setString(kDomainKeyPrefix);
    StringBuffer name(host != nullptr ? host : "");
    name.toLowerCaseAscii();
    key.appendSb(name);
}

bool HttpCache::isDomainNegative(const char* host, bool& negative, LogBase& log) {
    negative = false;
    StringBuffer key;
    domainKey(host, key);
    std::uint32_t offset = 0;
    CacheEntryInfo info;
    if (!findEntryInfo(key.getString(), offset, info, log))
        return false;
    negative = info.count != 0;
    return true;
}

void HttpCache::setDomainInvalid(const char* host, LogBase& log) {
    StringBuffer key;
    domainKey(host, key);
    CacheEntryFields fields;
    fields.key = key.getString();
    fields.isNew = true;
    bool negative = false;
    if (!isDomainNegative(host, negative, log))
        appendEntry(fields, log);
    else if (negative)
        replaceEntry(fields, log);
}

void HttpCache::setDomainValid(const char* host, LogBase& log) {
    bool negative = false;
    if (!isDomainNegative(host, negative, log) || !negative)
        return;
    StringBuffer key;
    domainKey(host, key);
    CacheEntryFields fields;
    fields.key = key.getString();
    replaceEntry(fields, log);
}

} // namespace tessik
