#include "netlib/core/FileSys.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/FileWriter.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/TessikRand.h"
#include "netlib/core/XString.h"
#include "platform/Paths.h"
#include "platform/Ticks.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

// Windows paths shorter than this go through the ANSI calls.
constexpr std::size_t kMaxPath = 260;
constexpr int kShareRetries = 3;
constexpr DWORD kShareRetryMs = 50;
constexpr int kTempNameTries = 200;

void logErr(LogBase* log, const char* text) {
    if (log)
        log->logError(text);
}
void logStr(LogBase* log, const char* tag, const char* value) {
    if (log)
        log->logData(tag, value);
}

std::string pathOf(XString& path) {
    return platform::NormalizeSeparators(path.getUtf8());
}

bool isNotFound(DWORD err) {
    return err == platform::ERROR_FILE_NOT_FOUND || err == platform::ERROR_PATH_NOT_FOUND ||
           err == platform::ERROR_NOT_READY;
}

int errorKindOf(DWORD err) {
    if (err == platform::ERROR_ACCESS_DENIED)
        return kOpenAccessDenied;
    if (err == platform::ERROR_PATH_NOT_FOUND)
        return kOpenPathNotFound;
    return kOpenOtherError;
}

std::string trimmed(const std::string& s) {
    std::string::size_type b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    std::string::size_type e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Characters the Windows file system refuses become "_"; a colon early in
// the path is kept, since it is taken for a drive or scheme colon.
std::string sanitizedName(std::string p) {
    std::string::size_type colon = p.find(':');
    if (colon != std::string::npos && colon != 0) {
        for (std::string::size_type i = 0; i < p.size(); ++i)
            if (p[i] == ':' && (colon >= 8 || i != colon))
                p[i] = '_';
    }
    for (char& c : p)
        if (c == '|' || c == '*' || c == '<' || c == '>' || c == '"')
            c = '_';
    return p;
}

void systemMessage(DWORD err, StringBuffer& out) {
    out.appendWindowsErrorText(err);
}

// The system call behind both create functions, with the sharing retries.
platform::HANDLE openWithRetries(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition, DWORD flags,
                                 bool widenShare, DWORD& winError) {
    winError = 0;
    platform::HANDLE h = platform::CreateFile(path.c_str(), access, shareMode, disposition, flags);
    for (int retry = 0; h == platform::INVALID_HANDLE_VALUE && retry < kShareRetries; ++retry) {
        if (platform::GetLastError() != platform::ERROR_SHARING_VIOLATION)
            break;
        platform::Sleep(kShareRetryMs);
        if (widenShare && shareMode == platform::FILE_SHARE_READ)
            shareMode = platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;
        h = platform::CreateFile(path.c_str(), access, shareMode, disposition, flags);
    }
    if (h == platform::INVALID_HANDLE_VALUE)
        winError = platform::GetLastError();
    return h;
}

TessikHandle* wrap(platform::HANDLE h) {
    TessikHandle* t = new TessikHandle();
    t->attachHandle(h);
    return t;
}

// The ANSI call unless the path is long or the ANSI page cannot hold it.
bool useAnsiCall(XString& path) {
    return path.getSizeUtf8() < static_cast<int>(kMaxPath) && path.isAnsiExact();
}

TessikHandle* createFileFor(XString& path, DWORD access, DWORD share, DWORD disposition, DWORD flags, DWORD& winError,
                            LogBase* log) {
    if (useAnsiCall(path))
        return createFileAnsi(0, path.getAnsi(), access, share, nullptr, disposition, flags,
                              platform::INVALID_HANDLE_VALUE, winError, log);
    return createFileWide(0, path.getUtf16(), access, share, nullptr, disposition, flags,
                          platform::INVALID_HANDLE_VALUE, winError, log);
}

bool fileExistsImpl(XString& path, LogBase* log) {
    if (path.getSizeUtf8() == 0)
        return false;
    // Which of the two kinds of "not found" it is matters only to a log:
    // not asked of the parent folder otherwise.
    if (log == nullptr) {
        struct stat st;
        return ::stat(pathOf(path).c_str(), &st) == 0 ||
               (errno != ENOENT && !isNotFound(platform::WinErrorFromErrno(errno)));
    }
    DWORD attrs = 0, err = 0;
    if (GetAttributes(path, attrs, err, nullptr))
        return true;
    if (isNotFound(err)) {
        if (log)
            log->logWindowsError(err);
        return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------- paths

void getFullPathName(XString& path, XString& out) {
    std::string full = platform::GetFullPathName(pathOf(path));
    if (full.empty()) {
        if (&out != &path)
            out.copyFromX(path);
        return;
    }
    out.setFromUtf8(full.c_str());
}

void getFullPathFilePart(XString& path, XString& out) {
    std::string full = platform::GetFullPathName(pathOf(path));
    std::string::size_type slash = full.find_last_of('/');
    out.setFromUtf8(slash == std::string::npos ? "" : full.c_str() + slash + 1);
}

void getCurrentDirectory(XString& out) {
    out.setFromUtf8(platform::GetCurrentDirectory().c_str());
}

void getTempPath(XString& out) {
    out.setFromUtf8(platform::GetTempPath().c_str());
}

void toLongPathForm(XString& path, XString& out) {
    getFullPathName(path, out);
}

void joinDirAndFileName(XString& dir, XString& fileName, XString& out) {
    std::string d = platform::NormalizeSeparators(trimmed(dir.getUtf8()));
    XString part;
    getFullPathFilePart(fileName, part);
    if (d.empty()) {
        out.copyFromX(part);
        return;
    }
    if (d.back() != '/')
        d += '/';
    d += part.getUtf8();
    out.setFromUtf8(d.c_str());
}

// ---------------------------------------------------------------- attributes

bool GetAttributes(XString& path, DWORD& attributes, DWORD& winError, LogBase* log) {
    attributes = platform::INVALID_FILE_ATTRIBUTES;
    winError = 0;
    if (path.getSizeUtf8() == 0) {
        winError = platform::ERROR_PATH_NOT_FOUND;
        logErr(log, filesys_msg::kEmptyAttrPath);
        return false;
    }
    attributes = platform::GetFileAttributes(pathOf(path).c_str());
    if (attributes == platform::INVALID_FILE_ATTRIBUTES) {
        winError = platform::GetLastError();
        return false;
    }
    return true;
}

bool fileExistsUtf8(const char* path, LogBase* log) {
    if (!path || !*path)
        return false;
    XString p;
    p.setFromUtf8(path);
    return fileExistsImpl(p, log);
}

bool fileExistsAnsi(const char* path, LogBase* log) {
    if (!path || !*path)
        return false;
    XString p;
    p.setFromAnsi(path);
    return fileExistsImpl(p, log);
}

bool setFileAttributesSanitized(XString& path, DWORD attributes) {
    std::string p = sanitizedName(pathOf(path));
    return platform::SetFileAttributes(p.c_str(), attributes) != FALSE;
}

bool deleteFile(XString& path, LogBase* log) {
    std::string p = pathOf(path);
    if (platform::DeleteFile(p.c_str()))
        return true;
    DWORD err = platform::GetLastError();
    if (err == platform::ERROR_FILE_NOT_FOUND)
        return true;
    if (log) {
        log->logWindowsError(err);
        log->logData("failedToDeleteFilepath", p.c_str());
    }
    return false;
}

bool deleteFileUtf8(const char* path, LogBase* log) {
    XString p;
    p.setFromUtf8(path);
    return deleteFile(p, log);
}

bool deleteFileAnsi(const char* path, LogBase* log) {
    XString p;
    p.setFromAnsi(path);
    return deleteFile(p, log);
}

platform::PathKind pathKindUtf8(const char* path) {
    return platform::GetPathKind(path);
}

// ---------------------------------------------------------------- directories

bool createDirectory(XString& path, LogBase* log) {
    XString longForm;
    toLongPathForm(path, longForm);
    if (platform::CreateDirectory(pathOf(longForm).c_str()))
        return true;
    if (log) {
        StringBuffer msg;
        systemMessage(platform::GetLastError(), msg);
        log->logData("errorMsg", msg.getString());
    }
    return false;
}

bool createDirectoryIfMissing(const char* utf8Path, bool& created, LogBase* log) {
    created = false;
    if (!utf8Path || !*utf8Path || std::string(utf8Path) == ".")
        return true;
    XString p;
    p.setFromUtf8(utf8Path);
    DWORD attrs = 0, err = 0;
    if (GetAttributes(p, attrs, err, nullptr)) {
        // A file in the way is no directory, whatever the name says.
        if (attrs & platform::FILE_ATTRIBUTE_DIRECTORY)
            return true;
        logErr(log, filesys_msg::kNotADirectory);
        return false;
    }
    if (!createDirectory(p, log))
        return false;
    created = true;
    return true;
}

bool ensureDirectoryTree(const char* utf8Path, ExtPtrArray* createdList, LogBase* log) {
    if (!utf8Path)
        return true;
    std::string path = platform::NormalizeSeparators(trimmed(utf8Path));
    if (path.empty())
        return true;

    auto make = [&](const std::string& prefix) {
        bool created = false;
        if (!createDirectoryIfMissing(prefix.c_str(), created, log)) {
            logErr(log, filesys_msg::kCannotEnsureDir);
            logStr(log, "path", prefix.c_str());
            return false;
        }
        if (created && createdList) {
            StringBuffer* sb = new StringBuffer(prefix.c_str());
            sb->appendChar('D');
            if (!createdList->appendPtr(sb))
                delete sb;
        }
        return true;
    };

    bool created = false;
    if (createDirectoryIfMissing(path.c_str(), created, nullptr)) {
        if (created && createdList) {
            StringBuffer* sb = new StringBuffer(path.c_str());
            sb->appendChar('D');
            if (!createdList->appendPtr(sb))
                delete sb;
        }
        return true;
    }
    std::string::size_type i = 0;
    while (i < path.size() && path[i] == '/')
        ++i;
    for (std::string::size_type slash = path.find('/', i); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (path[slash - 1] == '/')
            continue;
        if (!make(path.substr(0, slash)))
            return false;
    }
    return make(path);
}

bool ensureParentDirectory(const char* utf8FilePath, StringBuffer& work, LogBase* log) {
    if (!utf8FilePath) {
        logErr(log, filesys_msg::kNoFilePath);
        return false;
    }
    work.setString(utf8FilePath);
    work.replaceChar('\\', '/');
    work.trimWhitespace();
    std::string p = work.getString();
    std::string::size_type slash = p.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    work.shorten(static_cast<int>(p.size() - slash));
    if (work.getSize() == 0)
        return true;
    return ensureDirectoryTree(work.getString(), nullptr, log);
}

TessikHandle* openDirectoryForRead(XString& path, int& errorKind, LogBase* log) {
    platform::HANDLE h = platform::CreateFile(pathOf(path).c_str(), platform::GENERIC_READ, platform::FILE_SHARE_READ,
                                              platform::OPEN_EXISTING, platform::FILE_FLAG_BACKUP_SEMANTICS);
    if (h == platform::INVALID_HANDLE_VALUE) {
        DWORD err = platform::GetLastError();
        if (log) {
            errorKind = errorKindOf(err);
            log->logHex("WindowsError", err);
        }
        return nullptr;
    }
    return wrap(h);
}

bool openDirectoryHandle(TessikHandle& handle, XString& path, int& errorKind, LogBase* log) {
    TessikHandle* h = openDirectoryForRead(path, errorKind, log);
    if (!h)
        return false;
    handle.takeFrom(*h);
    delete h;
    return true;
}

// ---------------------------------------------------------------- opening files

platform::HANDLE createFileAnsiRaw(const char* path, DWORD access, DWORD shareMode, const void*, DWORD disposition,
                                   DWORD flagsAndAttributes, platform::HANDLE) {
    if (!path) {
        platform::SetLastError(platform::ERROR_PATH_NOT_FOUND);
        return platform::INVALID_HANDLE_VALUE;
    }
    XString p;
    p.setFromAnsi(path);
    return platform::CreateFile(p.getUtf8(), access, shareMode, disposition, flagsAndAttributes);
}

TessikHandle* createFileAnsi(int, const char* ansiPath, DWORD access, DWORD shareMode, const void*, DWORD disposition,
                             DWORD flagsAndAttributes, platform::HANDLE, DWORD& winError, LogBase* log) {
    XString p;
    p.setFromAnsi(ansiPath ? ansiPath : "");
    platform::HANDLE h = openWithRetries(pathOf(p), access, shareMode, disposition, flagsAndAttributes, true, winError);
    if (h != platform::INVALID_HANDLE_VALUE)
        return wrap(h);
    if (log) {
        StringBuffer msg;
        systemMessage(winError, msg);
        XString cwd;
        getCurrentDirectory(cwd);
        log->logError(filesys_msg::kOpenFailedAnsi);
        log->logDataAnsi("filename", ansiPath ? ansiPath : "");
        log->logData("currentWorkingDirectory", cwd.getUtf8());
        log->logData("osErrorInfo", msg.getString());
    }
    platform::SetLastError(winError);
    return nullptr;
}

TessikHandle* createFileWide(int, const std::uint16_t* path, DWORD access, DWORD shareMode, const void*,
                             DWORD disposition, DWORD flagsAndAttributes, platform::HANDLE, DWORD& winError,
                             LogBase* log) {
    XString p;
    p.setFromUtf16(path);
    platform::HANDLE h =
        openWithRetries(pathOf(p), access, shareMode, disposition, flagsAndAttributes, false, winError);
    if (h != platform::INVALID_HANDLE_VALUE)
        return wrap(h);
    if (log) {
        StringBuffer msg;
        systemMessage(winError, msg);
        log->logError(filesys_msg::kOpenFailedWide);
        log->logData("utf8Filename", p.getUtf8());
        log->logData("osErrorInfo", msg.getString());
    }
    platform::SetLastError(winError);
    return nullptr;
}

std::string writePathUtf8(const char* utf8Path) {
    return sanitizedName(platform::NormalizeSeparators(utf8Path ? utf8Path : ""));
}

TessikHandle* openFile(XString& path, bool read, bool write, bool exclusive, bool hidden, bool append, int& errorKind,
                       LogBase* log) {
    std::string clean = sanitizedName(pathOf(path));
    if (clean.empty())
        return nullptr;
    XString p;
    p.setFromUtf8(clean.c_str());

    DWORD access, disposition, share;
    if (read && !write) {
        access = platform::GENERIC_READ;
        disposition = platform::OPEN_EXISTING;
        share = exclusive ? 0 : platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;
    } else if (read && write) {
        access = platform::GENERIC_READ | platform::GENERIC_WRITE;
        disposition = platform::OPEN_ALWAYS;
        share = exclusive ? 0 : platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;
    } else {
        access = platform::GENERIC_WRITE;
        disposition = platform::CREATE_ALWAYS;
        share = 0;
    }
    DWORD flags = hidden ? platform::FILE_ATTRIBUTE_HIDDEN : platform::FILE_ATTRIBUTE_NORMAL;

    DWORD err = 0;
    TessikHandle* h = createFileFor(p, access, share, disposition, flags, err, log);
    if (!h) {
        if (log) {
            errorKind = errorKindOf(err);
            log->logData("Filename", p.getUtf8());
        }
        platform::SetLastError(err);
        return nullptr;
    }
    // A pipe has no end to go to, and is no failure to report. Each write
    // lands where the file then ends, so that appenders sharing it never
    // write over one another's bytes.
    if (append) {
        const int fd = static_cast<int>(h->getHandle());
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
        h->seekToEnd(platform::IsRegularHandle(h->getHandle()) ? log : nullptr);
    }
    return h;
}

TessikHandle* openFileForReadPtr(XString& path, int& errorKind, LogBase* log) {
    return openFile(path, true, false, false, false, false, errorKind, log);
}

static bool moveInto(TessikHandle* opened, TessikHandle& handle) {
    if (!opened)
        return false;
    handle.takeFrom(*opened);
    delete opened;
    return true;
}

bool openFileForRead(TessikHandle& handle, XString& path, int& errorKind, LogBase* log) {
    return moveInto(openFile(path, true, false, false, false, false, errorKind, log), handle);
}

bool openExistingForUpdate(TessikHandle& handle, const char* utf8Path, LogBase* log) {
    if (!utf8Path)
        return false;
    const std::string clean = writePathUtf8(utf8Path);
    // A FIFO opened so would be its own reader, and a read of it would wait
    // for good.
    if (clean.empty() || platform::GetPathKind(clean.c_str()) != platform::PathKind::Regular)
        return false;
    XString p;
    p.setFromUtf8(clean.c_str());
    DWORD err = 0;
    if (!moveInto(createFileFor(p, platform::GENERIC_READ | platform::GENERIC_WRITE,
                                platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, platform::OPEN_EXISTING,
                                platform::FILE_ATTRIBUTE_NORMAL, err, log),
                  handle))
        return false;
    if (platform::IsRegularHandle(handle.getHandle()))
        return true;
    handle.close();
    return false;
}

// ---------------------------------------------------------------- sizes and whole files

std::int64_t getFileSize64(XString& path, LogBase* log, bool& ok) {
    ok = false;
    int kind = 0;
    TessikHandle h;
    if (!openFileForRead(h, path, kind, log))
        return 0;
    std::int64_t size = h.getFileSize64(log);
    if (size < 0)
        return 0;
    ok = true;
    return size;
}

std::int64_t getFileSize64Utf8(const char* path, LogBase* log, bool& ok) {
    XString p;
    p.setFromUtf8(path);
    return getFileSize64(p, log, ok);
}

std::uint32_t getFileSize32Utf8(const char* path, LogBase* log, bool& ok) {
    ok = false;
    XString p;
    p.setFromUtf8(path);
    int kind = 0;
    TessikHandle h;
    if (!openFileForRead(h, p, kind, log))
        return 0;
    std::int32_t size = h.getFileSize32(log);
    if (size < 0)
        return 0;
    ok = true;
    return static_cast<std::uint32_t>(size);
}

bool writeWholeFile(XString& path, const void* bytes, std::uint64_t count, LogBase* log) {
    if (path.getSizeUtf8() == 0)
        return false;
    FileWriter file;
    if (!file.open(path.getUtf8(), FileWriter::Mode::Replace, log)) {
        logStr(log, "filename", path.getUtf8());
        logErr(log, filesys_msg::kWriteFailedCreate);
        return false;
    }
    if (count && !file.write(bytes, count, nullptr, log)) {
        logStr(log, "filename", path.getUtf8());
        logErr(log, filesys_msg::kWriteFailedWrite);
        return false;
    }
    return file.commit(log);
}

bool writeWholeFileUtf8(const char* path, const void* bytes, std::uint64_t count, LogBase* log) {
    XString p;
    p.setFromUtf8(path);
    return writeWholeFile(p, bytes, count, log);
}

bool writeWholeFileAnsi(const char* path, const void* bytes, std::uint64_t count, LogBase* log) {
    XString p;
    p.setFromAnsi(path);
    return writeWholeFile(p, bytes, count, log);
}

bool appendToFile(XString& path, const void* bytes, std::uint64_t count, LogBase* log) {
    if (count == 0)
        return true;
    FileWriter file;
    if (!file.open(path.getUtf8(), FileWriter::Mode::AppendShared, log))
        return false;
    if (!file.write(bytes, count, nullptr, log)) {
        logStr(log, "filename", path.getUtf8());
        logErr(log, filesys_msg::kAppendFailed);
        return false;
    }
    return file.commit(log);
}

bool writeWholeFileWithHeader(XString& path, const void* header, std::uint32_t headerCount, const void* data,
                              std::uint64_t dataCount, LogBase* log) {
    if (path.getSizeUtf8() == 0)
        return false;
    FileWriter file;
    if (!file.open(path.getUtf8(), FileWriter::Mode::Replace, log))
        return false;
    if (header && headerCount && !file.write(header, headerCount, nullptr, log)) {
        logErr(log, filesys_msg::kHeaderWriteFailed);
        return false;
    }
    if (data && dataCount && !file.write(data, dataCount, nullptr, log)) {
        logErr(log, filesys_msg::kDataAfterHeaderFailed);
        return false;
    }
    return file.commit(log);
}

bool writeFileWithHeaderAnsi(const char* path, const void* header, std::uint32_t headerCount, const void* data,
                             std::uint64_t dataCount, LogBase* log) {
    XString p;
    p.setFromAnsi(path);
    return writeWholeFileWithHeader(p, header, headerCount, data, dataCount, log);
}

// ---------------------------------------------------------------- temporary names

void appendRandomNameChars(StringBuffer& out) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int i = 0; i < 4; ++i)
        out.appendChar(kChars[TessikRand::randomIntRange(0, 36)]);
}

bool makeTempFileName(XString& baseName, XString& dir, XString& outPath, LogBase* log) {
    std::string base = baseName.getUtf8();
    if (base.empty())
        base.push_back('x'); // push_back: GCC 12 misreads operator= here (-Wrestrict)
    if (base.find('.') == std::string::npos)
        base += ".tmp";
    std::string::size_type dot = base.find_last_of('.');
    std::string stem = base.substr(0, dot);
    std::string ext = base.substr(dot);
    std::string d = pathOf(dir);
    if (!d.empty() && d.back() != '/')
        d += '/';
    XString dirX;
    dirX.setFromUtf8(d.c_str());

    for (int attempt = 0; attempt <= kTempNameTries; ++attempt) {
        StringBuffer name(stem.c_str());
        name.appendChar('_');
        appendRandomNameChars(name);
        name.append(ext.c_str());
        XString nameX, candidate;
        nameX.setFromUtf8(name.getString());
        if (attempt == 0) {
            joinDirAndFileName(dirX, nameX, candidate);
        } else {
            std::string c = d + name.getString();
            candidate.setFromUtf8(c.c_str());
        }
        // Created here, so the name is ours: nobody can slip a file or a
        // link under it between this check and the caller's open.
        if (platform::CreateNewPrivateFile(pathOf(candidate).c_str())) {
            outPath.setFromUtf8(pathOf(candidate).c_str());
            return true;
        }
        DWORD err = platform::GetLastError();
        if (err != platform::ERROR_FILE_EXISTS) {
            logErr(log, filesys_msg::kTempNameFailed);
            logStr(log, "path", candidate.getUtf8());
            if (log)
                log->logWindowsError(err);
            break;
        }
    }
    outPath.clear();
    return false;
}

bool getTempFilename(const char* utf8BaseName, StringBuffer& out, LogBase* log) {
    XString base, dir, path;
    base.setFromUtf8(utf8BaseName ? utf8BaseName : "");
    getTempPath(dir);
    if (!makeTempFileName(base, dir, path, log))
        return false;
    out.append(path.getUtf8());
    return true;
}

bool getTempFilenameInDir(const char* utf8BaseName, const char* utf8Dir, StringBuffer& out, LogBase* log) {
    XString base, dir, path;
    base.setFromUtf8(utf8BaseName ? utf8BaseName : "");
    dir.setFromUtf8(utf8Dir ? utf8Dir : "");
    if (!makeTempFileName(base, dir, path, log))
        return false;
    out.append(path.getUtf8());
    return true;
}

} // namespace tessik
