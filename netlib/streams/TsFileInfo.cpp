#include "netlib/streams/TsFileInfo.h"

#include "netlib/core/FileSys.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/streams/StreamConstants.h"
#include "platform/File.h"

namespace tessik {

namespace {

bool storeLocal(const platform::FILETIME& utc, FileTimeValue& out) {
    FileTimeValue t;
    t.setFromFileTime(utc.dwLowDateTime, utc.dwHighDateTime);
    return t.toLocalFileTime(out);
}

} // namespace

tsFileInfo::tsFileInfo()
    : notFound(0), accessDenied(0), isDirectory(0), reserved(0), sizeLow(0), size(0), attributes(0), unused(0) {}

tsFileInfo::~tsFileInfo() = default;

void tsFileInfo::clearRecord() {
    notFound = 0;
    accessDenied = 0;
    lastWriteTime.clear();
    creationTime.clear();
    lastAccessTime.clear();
    attributes = 0;
    isDirectory = 0;
    sizeLow = 0;
    size = 0;
    path.clear();
    reserved = 0;
}

bool tsFileInfo::loadFileInfo(const char* utf8Path, LogBase* log) {
    clearRecord();
    if (!utf8Path)
        return false;
    XString p;
    p.setFromUtf8(utf8Path);
    return loadFileInfoX(p, log);
}

bool tsFileInfo::loadFileInfoX(XString& filePath, LogBase* log) {
    clearRecord();
    DWORD attrs = 0;
    DWORD winError = 0;
    if (!GetAttributes(filePath, attrs, winError, log) || attrs == platform::INVALID_FILE_ATTRIBUTES) {
        if (fileExistsUtf8(filePath.getUtf8(), nullptr))
            return false;
        notFound = 1;
        if (log)
            log->logError(stream_msg::kFileNotFound);
        return false;
    }
    attributes = attrs;
    isDirectory = (attrs & platform::FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    path.setString(filePath.getUtf8());

    // The open reports its error kind only into a log.
    LogNull quiet;
    LogBase& openLog = log ? *log : quiet;
    TessikHandle handle;
    int errorKind = kOpenNoError;
    bool opened = isDirectory ? openDirectoryHandle(handle, filePath, errorKind, &openLog)
                              : openFileForRead(handle, filePath, errorKind, &openLog);
    if (!opened) {
        if (errorKind == kOpenAccessDenied)
            accessDenied = 1;
        return false;
    }

    platform::FILETIME creation{}, access{}, write{};
    if (!handle.getFileTimes(&creation, &access, &write))
        return false;
    if (!storeLocal(creation, creationTime) || !storeLocal(access, lastAccessTime) || !storeLocal(write, lastWriteTime))
        return false;

    if (!isDirectory) {
        std::int64_t bytes = handle.getFileSize64(log);
        if (bytes < 0)
            return false;
        size = static_cast<std::uint64_t>(bytes);
        sizeLow = static_cast<std::uint32_t>(size);
    }
    return true;
}

} // namespace tessik
