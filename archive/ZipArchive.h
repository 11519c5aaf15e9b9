#pragma once
// The backup archive's public face: eight plain functions over an opaque
// handle. Nothing here throws or prints; every outcome is a ZipResult (or a
// null handle) and the last result of each side is kept per thread.
#include <cstddef>
#include <cstdint>

// Result codes. Several contain the bits of others (0x700 holds 0x200 and
// 0x400 and so on), so they are values: compare with ==, never test bits.
enum class ZipResult : std::uint32_t {
    Ok = 0,
    CannotOpen = 0x200,
    NoMemory = 0x300,
    WriteError = 0x400,
    MoreData = 0x600,
    Corrupt = 0x700,
    ReadError = 0x800,
    WrongPassword = 0x1000,
    BadArguments = 0x10000,
    OutputTooSmall = 0x30000,
    PreviousError = 0x40000,
    AlreadyFinished = 0x50000,
    WrongHandleKind = 0x80000,
    NotReady = 0x1000000,
    SeekImpossible = 0x2000000,
    EntryUnfinished = 0x4000000,
    DecompressError = 0x5000000,
    // Encrypted in a way this reader does not decrypt (AES).
    UnsupportedEncryption = 0x6000000,
    // The disk the entry was being extracted onto is full.
    DiskFull = 0x7000000,
    // The entry's name gives no file name: nothing is left of it once
    // cleaned, it is longer than a record holds, or it is flagged UTF-8 and
    // is not. The record is filled but for the name; the entry extracts to a
    // target the caller names, and one that names targets after entries
    // passes over it, as unzip does.
    NameUnusable = 0x8000000,
};

constexpr std::uint32_t ZipResultValue(ZipResult r) {
    return static_cast<std::uint32_t>(r);
}

// Names in the archive and in entry records fit MAX_PATH with their zero.
constexpr std::size_t kZipMaxPath = 260;

// A FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, as two words.
struct ZipFileTime {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

// Windows attribute bits of an entry record.
constexpr std::uint32_t kZipAttrReadOnly = 0x01;
constexpr std::uint32_t kZipAttrHidden = 0x02;
constexpr std::uint32_t kZipAttrSystem = 0x04;
constexpr std::uint32_t kZipAttrDirectory = 0x10;
constexpr std::uint32_t kZipAttrArchive = 0x20;

struct ZipEntryInfo {
    // The entry's position, or the entry count when asked for with -1.
    std::int32_t index = 0;
    char name[kZipMaxPath] = {};
    std::uint32_t attributes = 0;
    ZipFileTime accessTime;
    ZipFileTime creationTime;
    ZipFileTime lastWriteTime;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
};

enum class ZipHandleKind : std::uint32_t { Reader = 1, Writer = 2 };

struct ZipHandle {
    ZipHandleKind kind;
    void* object; // the ZipReader or ZipWriter behind the handle
};

// Writing. An empty or null password means no encryption.
ZipHandle* CreateZipArchive(const char* fileName, const char* password);
ZipResult AddFileToZipArchive(ZipHandle* handle, const char* nameInArchive, const char* sourcePath);
ZipResult CloseZipWriter(ZipHandle* handle);

// Reading.
ZipHandle* OpenZipArchive(const char* fileName, const char* password);
ZipResult GetZipArchiveEntry(ZipHandle* handle, int index, ZipEntryInfo* record);
ZipResult ExtractZipEntryToFile(ZipHandle* handle, int index, const char* targetPath);
ZipResult CloseZipReader(ZipHandle* handle);

bool IsZipReaderHandle(const ZipHandle* handle);

// The reason behind the last call of each side (also after a null handle).
ZipResult LastZipReaderResult();
ZipResult LastZipWriterResult();
