#include "netlib/streams/OutputFile.h"

#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/streams/StreamConstants.h"

namespace tessik {

OutputFile::OutputFile() : m_sizeReached(0), m_position(0) {}

OutputFile::~OutputFile() {
    m_handle.close();
}

std::uint32_t OutputFile::writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                     ProgressMonitor* monitor, LogBase& log) {
    return writeBytes64(data, size, count, monitor, log);
}

std::uint32_t OutputFile::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                       ProgressMonitor* monitor, LogBase& log) {
    if (!data || size == 0 || count == 0)
        return 0;
    std::uint64_t total = 0;
    if (!blockByteCount(size, count, total) || total > static_cast<std::uint64_t>(INT64_MAX - m_position)) {
        log.logError(stream_msg::kBlockOverflow);
        return 0;
    }
    if (monitor && monitor->consumeProgress(static_cast<std::int64_t>(total), nullptr)) {
        log.logInfo(stream_msg::kAborted);
        return 0;
    }
    std::uint64_t written = 0;
    bool ok = m_handle.writeBytes64(data, total, &written, &log);
    // A short write still moved the file: the position follows it.
    m_position += static_cast<std::int64_t>(written);
    if (m_position > m_sizeReached)
        m_sizeReached = m_position;
    if (!ok || written != total) {
        if (ok)
            log.logError(stream_msg::kShortWrite);
        return 0;
    }
    return count;
}

bool OutputFile::seekToEnd(LogBase& log) {
    m_position = m_sizeReached;
    return m_handle.seekToEnd(&log);
}

bool OutputFile::seekTo(std::int64_t position, LogBase& log) {
    if (!m_handle.seekAbsolute64(position, &log))
        return false;
    m_position = position;
    return true;
}

bool OutputFile::resetOutput(LogBase& log) {
    if (m_position == 0 && m_sizeReached == 0)
        return true;
    StringBuffer path;
    path.setSb(m_path);
    return createFile(path.getString(), log);
}

void OutputFile::getDescription(StringBuffer& out) {
    out.setString("file");
    if (m_path.getSize() > 0) {
        out.append(": ");
        out.appendSb(m_path);
    }
}

bool OutputFile::createFile(const char* utf8Path, LogBase& log) {
    m_handle.close();
    if (!utf8Path)
        return false;
    // Opening keeps an existing file's bytes, so one that stays would leave
    // its old tail behind what is written.
    if (!deleteFileUtf8(utf8Path, &log))
        return false;
    m_path.setString(utf8Path);
    XString path;
    path.setFromUtf8(utf8Path);
    int errorKind = 0;
    if (!openFileReadWrite(m_handle, path, true, errorKind, &log))
        return false;
    m_position = 0;
    m_sizeReached = 0;
    return true;
}

bool OutputFile::openForAppend(const char* utf8Path, LogBase& log) {
    m_handle.close();
    if (!utf8Path)
        return false;
    m_path.setString(utf8Path);
    XString path;
    path.setFromUtf8(utf8Path);
    int errorKind = 0;
    if (!openFileForAppend(m_handle, path, errorKind, &log))
        return false;
    std::int64_t end = m_handle.getPosition64(&log);
    if (end < 0) {
        m_handle.close();
        return false;
    }
    m_position = end;
    m_sizeReached = end;
    return true;
}

} // namespace tessik
