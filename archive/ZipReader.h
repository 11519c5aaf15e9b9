#pragma once
// The object behind a reader handle: lists entries as ZipEntryInfo records
// with cleaned names, attributes and times, and extracts them to files,
// descriptors or memory.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ZipArchive.h"
#include "archive/ZipReaderCore.h"

namespace archive {

// Extraction targets: a pointer to an int descriptor, a path, a memory block.
enum ZipTargetKind : int { kZipTargetHandle = 1, kZipTargetFileName = 2, kZipTargetMemory = 3 };

// Cleans a stored name for listing: it ends at a NUL, as in python's zipfile
// and unzip; drive letters, leading separators and everything up to a
// "/../" are dropped (the old rules), then empty, "." and ".." parts go, so
// that no name reaches outside the folder it is extracted into, and '\'
// becomes '/'. What is left may be empty.
std::string CleanEntryName(const std::string& stored);

// Windows attribute bits from the central record's host and attributes.
std::uint32_t EntryAttributes(std::uint16_t versionMadeBy, std::uint32_t externalAttributes);

class ZipReader {
public:
    explicit ZipReader(const char* password);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    ZipResult open(const void* source, std::uint64_t length, int kind);
    ZipResult getEntry(int index, ZipEntryInfo* record);
    ZipResult extract(int index, const void* target, std::uint64_t length, int kind);
    ZipResult close();

    const std::string& rootFolder() const { return root_; }

private:
    bool positionOn(int index);
    void closeOpenEntry();
    ZipResult extractToMemory(int index, std::uint8_t* target, std::uint64_t length);
    ZipResult extractToFile(const ZipEntryInfo& record, const std::string& target);
    ZipResult extractToHandle(int fd);
    ZipResult copyEntry(int fd);
    std::string resolve(const std::string& path) const;

    std::unique_ptr<ZipArchiveCore> core_;
    int openIndex_ = -1;
    ZipEntryInfo last_{};
    int lastIndex_ = -1;
    ZipResult lastResult_ = ZipResult::Ok;
    std::string password_;
    bool hasPassword_ = false;
    std::vector<std::uint8_t> buffer_;
    std::string root_;
};

} // namespace archive

// The reader's own interface beyond the four functions: other source and
// target kinds (see ZipByteSourceKind and ZipTargetKind).
ZipHandle* openZipReader(const void* source, std::uint64_t length, int kind, const char* password);
ZipResult extractZipEntry(ZipHandle* handle, int index, const void* target, std::uint64_t length, int kind);
