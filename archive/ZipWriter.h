#pragma once
// Writes a zip archive one entry at a time to a file, an open file
// descriptor or a block of memory. Entries come from a file, a descriptor
// (a pipe too), memory, or nothing for a folder; they are stored or deflated
// and, with a password, encrypted with traditional zip encryption.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ZipArchive.h"
#include "archive/ZipCrypto.h"
#include "archive/ZipFormat.h"

namespace archive {

class ZipDeflater;

// Outputs: a pointer to an open file descriptor (int), a file name, or a
// memory block (null: the writer maps one of the given size itself).
enum ZipOutputKind : int { kZipOutputHandle = 1, kZipOutputFileName = 2, kZipOutputMemory = 3 };
// Sources: a pointer to an open file descriptor (int), a file name, a
// memory block, or none for a folder.
enum ZipSourceKind : int { kZipSourceHandle = 1, kZipSourceFileName = 2, kZipSourceMemory = 3, kZipSourceFolder = 4 };

constexpr std::size_t kZipIoBufferSize = 16384;

class ZipWriter {
public:
    ZipWriter(const char* password, ZipRandomSource random);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    ZipResult openOutput(const void* target, std::uint64_t size, int kind);
    ZipResult addEntry(const char* name, const void* source, std::uint64_t length, int kind);
    // Writes the central directory and end record once and lets the output go.
    ZipResult finish();

    ZipResult error() const { return error_; }

private:
    struct Record {
        std::uint16_t centralFlags = 0;
        std::uint16_t localFlags = 0;
        std::uint16_t method = 0;
        std::uint32_t dosDateTime = 0;
        std::uint32_t crc = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t uncompressedSize = 0;
        std::uint32_t externalAttributes = 0;
        std::uint32_t localHeaderOffset = 0;
        std::uint32_t mtime = 0, atime = 0, ctime = 0; // low words of Unix seconds
        std::string name;
    };
    struct Source {
        int fd = -1;
        bool owned = false;
        const std::uint8_t* memory = nullptr;
        std::uint64_t memoryLength = 0;
        std::uint64_t memoryPos = 0;
        std::uint32_t externalAttributes = 0;
        std::int64_t atime = 0, mtime = 0, ctime = 0;
        std::uint32_t dosDateTime = 0;
        bool sizeKnown = false;
        std::uint64_t size = 0;
        std::uint64_t bytesRead = 0;
        std::uint32_t crc = 0;
        bool readFailed = false;
        bool tooLarge = false;
    };

    ZipResult openSource(const void* source, std::uint64_t length, int kind);
    ZipResult sourceInfoFromFd(int fd);
    void sourceTimesNow();
    void closeSource();
    long readSource(std::uint8_t* buffer, std::size_t length);
    bool storeEntry(std::uint64_t* dataLength);
    bool deflateEntry(Record& record, std::uint64_t* dataLength);
    std::size_t writeOutput(const std::uint8_t* data, std::size_t count);
    ZipResult rewriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count);
    std::vector<std::uint8_t> localHeader(const Record& r) const;
    ZipResult writeCentralDirectory();
    void releaseOutput();

    std::string password_;
    bool hasPassword_ = false;
    ZipRandomSource random_;

    int fd_ = -1;
    bool ownsFd_ = false;
    std::uint8_t* memory_ = nullptr;
    bool mapped_ = false;
    std::uint64_t memoryPos_ = 0;
    std::uint64_t capacity_ = 0;
    bool seekable_ = false;
    bool outputOpen_ = false;
    std::uint64_t baseOffset_ = 0;

    ZipResult error_ = ZipResult::Ok;
    std::uint64_t offset_ = 0;
    bool finished_ = false;
    bool encrypting_ = false;
    ZipKeys keys_{};
    std::vector<std::uint8_t> scratch_;
    std::vector<Record> entries_;
    std::unique_ptr<ZipDeflater> deflater_;
    Source source_;
    std::uint8_t io_[kZipIoBufferSize];
};

} // namespace archive

// The writer's own interface beyond the eight functions: any output and
// source kind, and (for tests) the source of the encryption headers'
// random bytes.
ZipHandle* createZipWriter(const void* target, std::uint64_t size, int kind, const char* password,
                           archive::ZipRandomSource random = {});
ZipResult addZipEntry(ZipHandle* handle, const char* nameInArchive, const void* source, std::uint64_t length, int kind);
