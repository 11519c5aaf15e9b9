#pragma once
// The reader's bytes: an open file descriptor, a file opened by name, or a
// block of memory, behind one seek/read interface.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/ZipArchive.h"

namespace archive {

enum ZipByteSourceKind : int { kZipInputHandle = 1, kZipInputFileName = 2, kZipInputMemory = 3 };

enum ZipSeekOrigin : int { kZipSeekStart = 0, kZipSeekCurrent = 1, kZipSeekEnd = 2 };

// Results of seek besides 0; the numbers a seek failure reports.
constexpr int kZipSeekBadOrigin = 19;
constexpr int kZipSeekImpossible = 29;

class ZipByteSource {
public:
    // `source` points to an int descriptor (kind 1), is a file name (kind 2) or
    // a memory block of `length` bytes (kind 3).
    static ZipResult open(const void* source, std::uint64_t length, int kind, std::unique_ptr<ZipByteSource>* out);
    ~ZipByteSource();
    ZipByteSource(const ZipByteSource&) = delete;
    ZipByteSource& operator=(const ZipByteSource&) = delete;

    bool seekable() const { return seekable_; }
    std::uint64_t baseOffset() const { return base_; }
    void clearBaseOffset() { base_ = 0; }

    std::uint64_t tell() const;
    // 0 on success; kZipSeekBadOrigin, kZipSeekImpossible or -1 otherwise.
    int seek(std::int64_t offset, int origin);
    // Reads `count` items of `size` bytes; returns the whole items read.
    std::size_t read(void* buffer, std::size_t size, std::size_t count);
    bool error() const { return error_; }

private:
    ZipByteSource() = default;

    int fd_ = -1;
    bool owned_ = false;
    bool seekable_ = false;
    bool error_ = false;
    std::uint64_t base_ = 0;
    const std::uint8_t* memory_ = nullptr;
    std::uint64_t length_ = 0;
    std::uint64_t pos_ = 0;
};

} // namespace archive
