#pragma once
// The reader's core: finds the end record and central directory, walks the
// entries, checks local headers and reads entry data (stored or deflated
// through zlib's raw inflate), decrypting and checking the password and the
// CRC-32. Errors are negative numbers; the ZipReader turns them into results.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ZipByteSource.h"

namespace archive {

enum ZipCoreError : int {
    kCoreOk = 0,
    kCoreIo = -1,             // a read or seek failed
    kCoreEndOfList = -100,    // past the last entry, or no input buffer
    kCoreBadParameter = -102, // no open entry
    kCoreBadZip = -103,       // not a valid (or not a readable) zip archive
    kCoreNoMemory = -104,
    kCoreCrcMismatch = -105,
    kCoreWrongPassword = -106,
    kCoreUnsupportedEncryption = -107, // AES: read neither as stored nor deflated
    // Two entries share a local header, or one's header, name, extra field
    // and data reach past the next one's local header or into the central
    // directory: its data would be read again as another entry's.
    kCoreOverlap = -108,
};

struct ZipCentralRecord {
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskNumberStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
};

struct ZipLocalHeaderInfo {
    std::uint64_t extraPosition = 0; // relative: add bytesBefore() to seek
    std::uint16_t extraLength = 0;
    std::uint32_t nameAndExtraLength = 0;
};

// Where an entry's local header stands, as the central directory said at
// open, and where its data must end: at the next entry's local header or at
// the central directory, whichever comes first; and where its central
// record stands (relative), so that an entry is reached by its number.
struct ZipEntrySpan {
    std::uint32_t offset = 0;
    std::uint64_t limit = 0;
    std::uint64_t record = 0;
};

class ZipEntryStream;

class ZipArchiveCore {
public:
    // Null when no valid end record and central directory are found (error
    // kCoreBadZip), or when entries overlap (kCoreOverlap). The entries are
    // the central records between the directory's offset and its end, as
    // its size places it, whatever count the end record gives.
    static std::unique_ptr<ZipArchiveCore> open(std::unique_ptr<ZipByteSource> source, int* error = nullptr);
    ~ZipArchiveCore();
    ZipArchiveCore(const ZipArchiveCore&) = delete;
    ZipArchiveCore& operator=(const ZipArchiveCore&) = delete;

    int entryCount() const { return entryCount_; }
    std::uint64_t bytesBefore() const { return bytesBefore_; }
    ZipByteSource& source() { return *source_; }

    // The entry of that number, its record read where the open found it;
    // kCoreEndOfList for one the open could not reach.
    int goToEntry(int index);
    // The current central record and its whole stored name.
    int getCurrentEntryInfo(ZipCentralRecord* record, std::string* name) const;
    // The local header must agree with the central record (method, sizes
    // unless a descriptor follows, the name byte for byte) and its data end
    // within the entry's span.
    int checkLocalHeader(ZipLocalHeaderInfo* info);

    // Opens the current entry; an encrypted one has its header checked here,
    // before any data is read, also when the entry is empty.
    int openCurrentEntry(const char* password);
    // Bytes delivered, or a negative error; `end` tells the entry is complete.
    long readCurrentEntry(std::uint8_t* buffer, std::size_t length, bool* end);
    // 0, or kCoreCrcMismatch when all data was read and its CRC-32 differs.
    int closeCurrentEntry();
    bool entryOpen() const { return stream_ != nullptr; }

private:
    explicit ZipArchiveCore(std::unique_ptr<ZipByteSource> source);
    int readCentralRecord();
    int readAt(std::uint64_t position, void* buffer, std::size_t length);
    // Walks the central directory from its offset to its end, which sets
    // the entry count (a record's byte-for-byte copy is no entry); then
    // every record, once, in order of their local headers: the spans, or
    // kCoreOverlap (kCoreBadZip when no record reads).
    int mapEntries(std::uint64_t sourceSize, std::uint16_t endRecordCount);
    // Whether the central records at these (relative) positions are the
    // same bytes, name, extra field and comment too.
    bool sameRecord(std::uint64_t first, std::uint64_t second);
    // Whether a central record's signature stands between from and to, read
    // through the window.
    bool holdsRecordStart(std::uint64_t from, std::uint64_t to, std::vector<std::uint8_t>& window);
    int fillInput(ZipEntryStream& s);
    // kCoreOk once the deflate stream ended within the entry's data without
    // giving a byte more; `ended` when inflate said so.
    int finishInflate(ZipEntryStream& s, bool ended);

    std::unique_ptr<ZipByteSource> source_;
    int entryCount_ = 0;
    std::uint64_t bytesBefore_ = 0;
    std::uint64_t directoryOffset_ = 0;
    std::uint64_t directorySize_ = 0;
    int currentNumber_ = 0;
    std::uint64_t currentPosition_ = 0;
    bool currentValid_ = false;
    ZipCentralRecord current_;
    std::string currentName_;
    std::unique_ptr<ZipEntryStream> stream_;
    // By entry number, as far as the central directory could be walked.
    std::vector<ZipEntrySpan> spans_;
};

} // namespace archive
