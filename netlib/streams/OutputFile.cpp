#include "netlib/streams/OutputFile.h"

#include <string>

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
    if (!seekTo(0, log) || !truncateAtPosition(log))
        return false;
    m_sizeReached = 0;
    return true;
}

bool OutputFile::takePermissionsOf(const char* utf8Path) {
    return platform::CopyPermissions(m_handle.getHandle(), utf8Path) != FALSE;
}

bool OutputFile::truncateAtPosition(LogBase& log) {
    if (!m_regular)
        return true;
    if (!platform::SetEndOfFile(m_handle.getHandle())) {
        log.logLastError();
        return false;
    }
    m_sizeReached = m_position;
    return true;
}

void OutputFile::getDescription(StringBuffer& out) {
    out.setString("file");
    if (m_path.getSize() > 0) {
        out.append(": ");
        out.appendSb(m_path);
    }
}

bool OutputFile::open(const char* utf8Path, bool append, LogBase& log) {
    m_handle.close();
    m_created = false;
    m_regular = false;
    if (!utf8Path)
        return false;
    m_path.setString(utf8Path);
    const bool existed = pathKindUtf8(utf8Path) != platform::PathKind::Absent;
    XString path;
    path.setFromUtf8(utf8Path);
    int errorKind = 0;
    if (append ? !openFileForAppend(m_handle, path, errorKind, &log)
               : !openFileReadWrite(m_handle, path, true, errorKind, &log))
        return false;
    m_created = !existed;
    m_regular = platform::IsRegularHandle(m_handle.getHandle());
    // A pipe has no end to find: what is appended starts at 0.
    std::int64_t end = append && m_regular ? m_handle.getPosition64(&log) : 0;
    if (end < 0) {
        m_handle.close();
        return false;
    }
    m_position = end;
    m_sizeReached = end;
    return true;
}

bool OutputFile::createFile(const char* utf8Path, LogBase& log) {
    // The file is emptied only once it is open (and locked), as open()'s
    // O_TRUNC does; deleting it first would replace a device, a pipe or a
    // link with a new regular file.
    return open(utf8Path, false, log) && truncateAtPosition(log);
}

bool OutputFile::openForAppend(const char* utf8Path, LogBase& log) {
    return open(utf8Path, true, log);
}

// ---------------------------------------------------------------- replacement

ReplacementFile::~ReplacementFile() {
    discard();
}

bool ReplacementFile::open(const char* utf8Path, LogBase& log) {
    discard();
    if (!utf8Path)
        return false;
    followLinksUtf8(utf8Path, m_target);
    const platform::PathKind kind = pathKindUtf8(m_target.getString());
    if (kind != platform::PathKind::Absent && kind != platform::PathKind::Regular) {
        log.logError(stream_msg::kNotRegularFile);
        log.logData("path", utf8Path);
        return false;
    }
    std::string folder = m_target.getString();
    const std::string::size_type slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : folder.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? m_target.getString() : m_target.getString() + slash + 1;
    if (!getTempFilenameInDir(("." + name + ".part").c_str(), folder.c_str(), m_temp, &log)) {
        m_temp.clear();
        return false;
    }
    if (!m_out.createFile(m_temp.getString(), log)) {
        discard();
        return false;
    }
    return true;
}

bool ReplacementFile::commit(LogBase& log) {
    if (!isOpen())
        return false;
    // The temporary file was made private; the result is not.
    if (!m_out.takePermissionsOf(m_target.getString()))
        log.logLastError();
    m_out.close();
    if (!replaceRegularFileUtf8(m_temp.getString(), m_target.getString(), &log)) {
        discard();
        return false;
    }
    m_temp.clear();
    return true;
}

void ReplacementFile::discard() {
    m_out.close();
    if (m_temp.getSize() != 0)
        deleteFileUtf8(m_temp.getString(), nullptr);
    m_temp.clear();
}

} // namespace tessik
