#pragma once
// The library's only road to the file system. Paths arrive as an XString or
// a UTF-8 / ANSI C string; '\' is taken as '/'. Functions never throw; they
// report by their result and explain in the optional log.
#include <cstdint>
#include <string>

#include "platform/File.h"
#include "platform/WinTypes.h"

namespace tessik {

class ExtPtrArray;
class LogBase;
class TessikHandle;
class XString;
class StringBuffer;

// Error kind of a failed open.
enum FileOpenError : int {
    kOpenNoError = 0,
    kOpenAccessDenied = 1, // Windows error 5
    kOpenPathNotFound = 2, // Windows error 3
    kOpenOtherError = 3,
};

// Texts callers and tests rely on.
namespace filesys_msg {
constexpr const char* kEmptyAttrPath = "GetAttributes: filename is empty";
constexpr const char* kCannotEnsureDir = "Cannot ensure directory existence";
constexpr const char* kNoFilePath = "No filePath";
constexpr const char* kOpenFailedAnsi = "Failed to open file (2)";
constexpr const char* kOpenFailedWide = "Failed to open file (3)";
constexpr const char* kWriteFailedCreate = "Failed to write complete file (7)";
constexpr const char* kWriteFailedWrite = "Failed to write complete file (1)";
constexpr const char* kAppendFailed = "Failed to write complete file (2)";
constexpr const char* kHeaderWriteFailed = "Failed to write header";
constexpr const char* kDataAfterHeaderFailed = "Failed to write file data after header.";
constexpr const char* kNotADirectory = "Path exists but is not a directory";
constexpr const char* kTempNameFailed = "Failed to create a temporary file";
constexpr const char* kNobodyReadsPipe = "Nobody reads the pipe";
constexpr const char* kPipeReaderLeft = "The reader of the pipe went away";
constexpr const char* kReadOnlyFile = "The file is read-only";
} // namespace filesys_msg

// Paths
void getFullPathName(XString& path, XString& out);
void getFullPathFilePart(XString& path, XString& out);
void getCurrentDirectory(XString& out);
void getTempPath(XString& out);
// Long-path prefixes do not exist here: the long form is the full path.
void toLongPathForm(XString& path, XString& out);
void joinDirAndFileName(XString& dir, XString& fileName, XString& out);

// Attributes, existence, deletion
bool GetAttributes(XString& path, DWORD& attributes, DWORD& winError, LogBase* log);
bool fileExistsUtf8(const char* path, LogBase* log);
bool fileExistsAnsi(const char* path, LogBase* log);
bool setFileAttributesSanitized(XString& path, DWORD attributes);
// A file that is already gone counts as deleted.
bool deleteFile(XString& path, LogBase* log);
bool deleteFileUtf8(const char* path, LogBase* log);
bool deleteFileAnsi(const char* path, LogBase* log);
// What a write through the path would meet (links followed).
platform::PathKind pathKindUtf8(const char* path);

// Directories
bool createDirectory(XString& path, LogBase* log);
bool createDirectoryIfMissing(const char* utf8Path, bool& created, LogBase* log);
// Each directory created goes into `created` (when given) as a new
// tessik::StringBuffer: its path followed by "D". The caller owns them.
bool ensureDirectoryTree(const char* utf8Path, ExtPtrArray* created, LogBase* log);
bool ensureParentDirectory(const char* utf8FilePath, tessik::StringBuffer& work, LogBase* log);
TessikHandle* openDirectoryForRead(XString& path, int& errorKind, LogBase* log);
bool openDirectoryHandle(TessikHandle& handle, XString& path, int& errorKind, LogBase* log);

// The path a write through utf8Path opens: '\' taken as '/', and the
// characters the Windows file system refuses as '_'.
std::string writePathUtf8(const char* utf8Path);

// Opening files
platform::HANDLE createFileAnsiRaw(const char* path, DWORD access, DWORD shareMode, const void* security,
                                   DWORD disposition, DWORD flagsAndAttributes, platform::HANDLE templateFile);
TessikHandle* createFileAnsi(int callSite, const char* ansiPath, DWORD access, DWORD shareMode, const void* security,
                             DWORD disposition, DWORD flagsAndAttributes, platform::HANDLE templateFile,
                             DWORD& winError, LogBase* log);
TessikHandle* createFileWide(int callSite, const std::uint16_t* path, DWORD access, DWORD shareMode,
                             const void* security, DWORD disposition, DWORD flagsAndAttributes,
                             platform::HANDLE templateFile, DWORD& winError, LogBase* log);
TessikHandle* openFile(XString& path, bool read, bool write, bool exclusive, bool hidden, bool append, int& errorKind,
                       LogBase* log);
TessikHandle* openFileForReadPtr(XString& path, int& errorKind, LogBase* log);
bool openFileForRead(TessikHandle& handle, XString& path, int& errorKind, LogBase* log);
// An existing regular file for reading and writing in place (C's "rb+"),
// shared with other readers and writers: false, and nothing created, when
// there is none (a device or a FIFO is none: it has no place to update).
bool openExistingForUpdate(TessikHandle& handle, const char* utf8Path, LogBase* log);

// Sizes and whole files
std::int64_t getFileSize64(XString& path, LogBase* log, bool& ok);
std::int64_t getFileSize64Utf8(const char* path, LogBase* log, bool& ok);
std::uint32_t getFileSize32Utf8(const char* path, LogBase* log, bool& ok);
// Replaced as FileWriter replaces: whole, old or new, after a kill.
bool writeWholeFile(XString& path, const void* bytes, std::uint64_t count, LogBase* log);
bool writeWholeFileUtf8(const char* path, const void* bytes, std::uint64_t count, LogBase* log);
bool writeWholeFileAnsi(const char* path, const void* bytes, std::uint64_t count, LogBase* log);
bool appendToFile(XString& path, const void* bytes, std::uint64_t count, LogBase* log);
bool writeWholeFileWithHeader(XString& path, const void* header, std::uint32_t headerCount, const void* data,
                              std::uint64_t dataCount, LogBase* log);
bool writeFileWithHeaderAnsi(const char* path, const void* header, std::uint32_t headerCount, const void* data,
                             std::uint64_t dataCount, LogBase* log);

// Temporary names. The name returned is already created (empty, private to
// the user), so no other process can take it between choosing and opening.
void appendRandomNameChars(tessik::StringBuffer& out);
bool makeTempFileName(XString& baseName, XString& dir, XString& outPath, LogBase* log);
bool getTempFilename(const char* utf8BaseName, tessik::StringBuffer& out, LogBase* log);
bool getTempFilenameInDir(const char* utf8BaseName, const char* utf8Dir, tessik::StringBuffer& out, LogBase* log);

} // namespace tessik
