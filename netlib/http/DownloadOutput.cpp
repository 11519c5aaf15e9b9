#include "netlib/http/DownloadOutput.h"

#include <cstdint>
#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpResponseHeader.h"
#include "platform/File.h"
#include "platform/PartFile.h"
#include "platform/WinErr.h"

namespace tessik {

DownloadOutput::DownloadOutput(const char* utf8Path, bool append, bool resume, const HttpResult& answer,
                               std::uint64_t maxSize)
    : m_path(utf8Path != nullptr ? utf8Path : ""), m_append(append || resume), m_resume(resume), m_result(answer),
      m_answer(answer.responseHeader), m_maxSize(maxSize) {}

DownloadOutput::~DownloadOutput() = default;

bool DownloadOutput::prepare(LogBase& log) {
    const platform::PathKind kind = pathKindUtf8(m_path.getString());
    if (m_path.getSize() == 0 || kind == platform::PathKind::Directory) {
        log.logError(http_msg::kDownloadPathNotAFile);
        log.logData("localPath", m_path.getString());
        return false;
    }
    m_existed = kind != platform::PathKind::Absent;
    m_start = 0;
    if (m_append && kind == platform::PathKind::Regular) {
        bool sized = false;
        m_start = getFileSize64Utf8(m_path.getString(), &log, sized);
        if (!sized)
            return false;
    }
    m_position = m_start;
    m_reached = m_start;
    return true;
}

Output* DownloadOutput::sinkFor(std::uint32_t status, std::int64_t& offset, LogBase& log) {
    // Part of another stretch of the file, or of no known one, is not what
    // the file lacks.
    if (status == http_status::kPartialContent && !m_answer.contentRangeBeginsAt(m_rangeFrom)) {
        log.logError(http_msg::kDownloadRangeMismatch);
        return nullptr;
    }
    // A server that ignores the range sends the whole file: it is written
    // aside, to replace the part there once it is complete.
    m_whole = m_resume && m_start != 0 && status == http_status::kOk;
    if (m_whole) {
        if (!m_replacement.isOpen() && !m_replacement.createReplacement(m_path.getString(), log))
            return nullptr;
        offset = m_position - m_start;
        return &m_replacement;
    }
    if (!m_directOpen) {
        m_directOpen =
            m_append ? m_direct.openForAppend(m_path.getString(), log) : m_direct.createFile(m_path.getString(), log);
        if (!m_directOpen)
            return nullptr;
        // Appended after what the file holds now: another writer may have
        // made it or added to it since the call looked.
        if (m_append)
            m_shift = m_direct.getPosition64() - m_start;
    }
    offset = m_position + m_shift;
    if (!m_direct.isRegularFile() && m_result.bodyCoded)
        return streamFor(log);
    return &m_direct;
}

Output* DownloadOutput::streamFor(LogBase& log) {
    const bool keep = keepsPacked();
    // A member kept packed is written as it came, which the limit already
    // caps: the content it holds is only checked, never written.
    if (m_decoder == nullptr)
        m_decoder = std::make_unique<ContentDecoder>(m_answer, keep ? m_nowhere : m_direct, keep ? 0 : m_maxSize, log);
    if (keep)
        return &m_checkedCopy;
    return m_decoder.get();
}

std::uint32_t DownloadOutput::CheckedCopy::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                                        ProgressMonitor* monitor, LogBase& log) {
    const std::uint32_t n = m_owner.m_direct.writeBytes64(data, size, count, monitor, log);
    return n == count ? m_owner.m_decoder->writeBytes64(data, size, count, monitor, log) : 0;
}

std::int64_t DownloadOutput::CheckedCopy::getPosition64() {
    return m_owner.m_direct.getPosition64();
}

bool DownloadOutput::keepsPacked() const {
    const auto endsWith = [this](const char* tail) {
        const auto n = static_cast<int>(std::strlen(tail));
        return m_path.getSize() >= n &&
               asciiCompareNoCase(m_path.getString() + m_path.getSize() - n, tail, static_cast<unsigned long>(n)) == 0;
    };
    return codedAsGzipOnly(m_answer) && (endsWith(".gz") || endsWith(".tgz"));
}

bool DownloadOutput::endStream(LogBase& log) {
    // An empty body is nothing to undo.
    if (m_decoder == nullptr || m_decoder->getPosition64() == 0)
        return true;
    return m_decoder->finish(log);
}

std::uint32_t DownloadOutput::writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                         ProgressMonitor* monitor, LogBase& log) {
    return writeBytes64(data, size, count, monitor, log);
}

std::uint32_t DownloadOutput::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                           ProgressMonitor* monitor, LogBase& log) {
    // The body of a redirect, a challenge or an error is not the download;
    // bytes whose status is not known yet cannot be judged at all.
    const std::uint32_t status = m_answer.getStatusCode();
    if (status == 0) {
        log.logError(http_msg::kBodyBeforeStatus);
        return 0;
    }
    if (!http_status::fetched(status))
        return count;
    std::int64_t offset = 0;
    Output* sink = sinkFor(status, offset, log);
    if (sink == nullptr || (sink->getPosition64() != offset && !sink->seekTo(offset, log)))
        return 0;
    const std::uint32_t written = sink->writeBytes64(data, size, count, monitor, log);
    m_position += sink->getPosition64() - offset;
    if (m_position > m_reached)
        m_reached = m_position;
    return written;
}

bool DownloadOutput::seekToEnd(LogBase&) {
    m_position = m_reached;
    return true;
}

bool DownloadOutput::seekTo(std::int64_t position, LogBase& log) {
    // What was there before this call is never written over.
    if (position < m_start) {
        log.logError(http_msg::kDownloadSeekBeforeStart);
        return false;
    }
    m_position = position;
    return true;
}

bool DownloadOutput::resetOutput(LogBase& log) {
    return seekTo(m_start, log);
}

void DownloadOutput::getDescription(StringBuffer& out) {
    out.setString("download: ");
    out.appendSb(m_path);
}

bool DownloadOutput::complete(LogBase& log) {
    std::int64_t offset = 0;
    Output* sink = sinkFor(m_answer.getStatusCode(), offset, log);
    if (sink == nullptr)
        return false;
    OutputFile& file = written();
    // An earlier answer may have run past where the last one ended; a
    // device or a FIFO has nothing to cut (what went there is gone).
    return !file.isRegularFile() || file.getSizeReached() <= offset ||
           ((file.getPosition64() == offset || file.seekTo(offset, log)) && file.truncateAtPosition(log));
}

Output* DownloadOutput::rewriteBeside(LogBase& log) {
    OutputFile& file = written();
    if (!file.isRegularFile() || !file.writesBeside() || !file.resetOutput(log))
        return nullptr;
    m_position = 0;
    return &file;
}

const std::string& DownloadOutput::writtenPath() const {
    return written().writtenPath();
}

bool DownloadOutput::commit(LogBase& log) {
    if (!m_whole)
        return m_direct.commit(log);
    m_direct.close();
    return m_replacement.commit(log);
}

void DownloadOutput::discard() {
    m_replacement.close();
    m_direct.close();
}

void DownloadOutput::discardFailed(LogBase& log) {
    m_replacement.close();
    // Only the file this call made, and only while the name leads to it.
    const int error = m_direct.closeRemovingMade();
    if (error == 0)
        return;
    if (error == platform::kNameTaken) {
        log.logInfo(http_msg::kMadeFileLeft);
        return;
    }
    log.logInfo(http_msg::kMadeFileNotRemoved);
    platform::SetLastErrorFromErrno(error);
    log.logLastError();
}

void DownloadOutput::keepWhatLanded(LogBase& log) {
    // Nothing landed in a file the call made: nothing to go on from.
    if (bytesInFile() == 0) {
        discardFailed(log);
        return;
    }
    m_replacement.close();
    if (m_append && m_direct.isOpen())
        m_direct.commit(log);
    m_direct.close();
}

bool DownloadOutput::isRegularFile() const {
    return written().isRegularFile();
}

std::int64_t DownloadOutput::bytesInFile() const {
    return isRegularFile() ? written().getSizeReached() : m_position;
}

} // namespace tessik
