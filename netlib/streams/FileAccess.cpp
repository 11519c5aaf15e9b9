#include "netlib/streams/FileAccess.h"

#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/streams/StreamConstants.h"

namespace tessik {

FileAccess::FileAccess() : m_position(0) {}

FileAccess::~FileAccess() = default;

bool FileAccess::open(const char* utf8Path, LogBase& log) {
    if (!utf8Path || !*utf8Path)
        return false;
    close();
    XString path;
    path.setFromUtf8(utf8Path);
    int errorKind = 0;
    return openFileForRead(m_handle, path, errorKind, &log);
}

void FileAccess::close() {
    m_handle.close();
    m_position = 0;
}

bool FileAccess::readFully(unsigned char* into, std::uint32_t size, LogBase& log) {
    std::uint32_t done = 0;
    while (done < size) {
        std::uint32_t got = 0;
        bool atEnd = false;
        if (!m_handle.readBytes(into + done, size - done, &got, &atEnd, &log))
            return false;
        done += got;
        m_position += got;
        if (got == 0 || atEnd)
            break;
    }
    if (done < size) {
        log.logError(stream_msg::kFileAccessShortRead);
        return false;
    }
    return true;
}

bool FileAccess::read(std::int64_t offset, std::uint32_t size, DataBuffer& out, LogBase& log) {
    if (!m_handle.isOpen())
        return false;
    if (m_position != offset) {
        if (!m_handle.seekAbsolute64(offset, &log))
            return false;
        m_position = offset;
    }
    out.clear();
    // A range past the end would fail after the read anyway; refusing it
    // first keeps a wild size from allocating gigabytes for nothing.
    std::int64_t fileSize = m_handle.getFileSize64(&log);
    if (fileSize < 0)
        return false;
    if (offset > fileSize || static_cast<std::int64_t>(size) > fileSize - offset) {
        log.logError(stream_msg::kFileAccessShortRead);
        return false;
    }
    // At least one byte, so even an empty range has somewhere to point.
    if (!out.ensureCapacity(size == 0 ? 1 : size) || !out.getData()) {
        log.logError(stream_msg::kFileAccessNoData);
        return false;
    }
    if (!readFully(out.getData(), size, log))
        return false;
    out.setSize(size);
    return true;
}

} // namespace tessik
