#include "netlib/streams/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "netlib/core/LogBase.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/streams/StreamConstants.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

bool logSystemError(LogBase& log) {
    platform::SetLastErrorFromErrno(errno);
    log.logLastError();
    return false;
}

} // namespace

OutputFile::OutputFile() : m_sizeReached(0), m_position(0) {}

OutputFile::~OutputFile() = default;

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
    const bool ok = m_file.write(data, total, &written, &log);
    // A short write still moved the file: the position follows it.
    m_position += static_cast<std::int64_t>(written);
    if (m_position > m_sizeReached)
        m_sizeReached = m_position;
    if (!ok) {
        log.logError(stream_msg::kShortWrite);
        return 0;
    }
    return count;
}

bool OutputFile::seekToEnd(LogBase& log) {
    if (m_file.isRegular() && ::lseek(m_file.fd(), 0, SEEK_END) < 0)
        return logSystemError(log);
    m_position = m_sizeReached;
    return true;
}

bool OutputFile::seekTo(std::int64_t position, LogBase& log) {
    if (!m_file.isOpen() || ::lseek(m_file.fd(), position, SEEK_SET) < 0)
        return logSystemError(log);
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

bool OutputFile::truncateAtPosition(LogBase& log) {
    if (!m_file.cutAt(m_position, &log))
        return false;
    if (m_file.isRegular())
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

bool OutputFile::open(const char* utf8Path, FileWriter::Mode mode, LogBase& log) {
    m_file.discard();
    m_position = 0;
    m_sizeReached = 0;
    if (!utf8Path)
        return false;
    m_path.setString(utf8Path);
    if (!m_file.open(utf8Path, mode, &log)) {
        if (m_file.error() == ENODEV)
            log.logError(stream_msg::kNotRegularFile);
        return false;
    }
    // A pipe has no end to find: what is appended starts at 0.
    m_position = m_file.startSize();
    m_sizeReached = m_position;
    return true;
}

bool OutputFile::createFile(const char* utf8Path, LogBase& log) {
    return open(utf8Path, FileWriter::Mode::Replace, log);
}

bool OutputFile::createReplacement(const char* utf8Path, LogBase& log) {
    return open(utf8Path, FileWriter::Mode::ReplaceRegular, log);
}

bool OutputFile::openForAppend(const char* utf8Path, LogBase& log) {
    return open(utf8Path, FileWriter::Mode::Append, log);
}

bool OutputFile::createInPlace(const char* utf8Path, LogBase& log) {
    if (open(utf8Path, FileWriter::Mode::Append, log) && resetOutput(log))
        return true;
    m_file.discard();
    return false;
}

bool OutputFile::readBack(TessikHandle& into, LogBase& log) {
    if (!m_file.isRegular())
        return false;
    // The part file is locked against other openers: a second descriptor of
    // the same open file reads it.
    const int fd = ::fcntl(m_file.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return logSystemError(log);
    into.attachHandle(fd);
    return into.seekAbsolute64(0, &log);
}

bool OutputFile::commit(LogBase& log) {
    return m_file.commit(&log);
}

} // namespace tessik
