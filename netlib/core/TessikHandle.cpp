#include "netlib/core/TessikHandle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

std::atomic<std::uint64_t> g_writeCalls{0};

void logErr(LogBase* log, const char* text) {
    if (log)
        log->logError(text);
}

void logLastErrorLine(LogBase* log) {
    if (!log)
        return;
    tessik::StringBuffer sb;
    sb.appendLastError();
    log->logError(sb.getString());
}

} // namespace

TessikHandle::TessikHandle() : m_handle(platform::INVALID_HANDLE_VALUE), m_stream(nullptr) {}

TessikHandle::~TessikHandle() {
    close();
}

void TessikHandle::close() {
    if (m_handle != platform::INVALID_HANDLE_VALUE) {
        platform::CloseHandle(m_handle);
        m_handle = platform::INVALID_HANDLE_VALUE;
    }
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
}

bool TessikHandle::isOpen() const {
    return m_handle != platform::INVALID_HANDLE_VALUE || m_stream != nullptr;
}

void TessikHandle::takeFrom(TessikHandle& other) {
    if (&other == this)
        return;
    close();
    m_handle = other.m_handle;
    m_stream = other.m_stream;
    other.m_handle = platform::INVALID_HANDLE_VALUE;
    other.m_stream = nullptr;
}

void TessikHandle::attachHandle(platform::HANDLE h) {
    close();
    m_handle = h;
}

void TessikHandle::attachStdioStream(FILE* stream) {
    close();
    m_stream = stream;
}

// A position whose low word is all ones is told from a failure by the last
// error, which the system call clears on success.
bool TessikHandle::seekHandle(std::int64_t distance, DWORD method, std::int64_t* newPosition) {
    LONG high = static_cast<LONG>(static_cast<std::uint64_t>(distance) >> 32);
    platform::SetLastError(platform::ERROR_SUCCESS);
    DWORD low =
        platform::SetFilePointer(m_handle, static_cast<LONG>(static_cast<std::uint32_t>(distance)), &high, method);
    if (low == platform::INVALID_SET_FILE_POINTER && platform::GetLastError() != platform::ERROR_SUCCESS)
        return false;
    if (newPosition)
        *newPosition = static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low);
    return true;
}

bool TessikHandle::seekToEnd(LogBase* log) {
    if (m_handle != platform::INVALID_HANDLE_VALUE) {
        if (seekHandle(0, platform::FILE_END, nullptr))
            return true;
        DWORD err = platform::GetLastError();
        logErr(log, "Failed to SetFilePointer to end of file.");
        if (log)
            log->logWindowsError(err);
        return false;
    }
    if (m_stream) {
        if (::fseeko(m_stream, 0, SEEK_END) == 0)
            return true;
        logErr(log, "Failed to fseek to end of file");
        return false;
    }
    return false;
}

// Moves by `distance` from the start or the current place; the stream path
// takes the whole 64-bit value, not only its low word.
bool TessikHandle::seekLogged(std::int64_t distance, bool fromStart, LogBase* log) {
    if (m_handle != platform::INVALID_HANDLE_VALUE) {
        if (seekHandle(distance, fromStart ? platform::FILE_BEGIN : platform::FILE_CURRENT, nullptr))
            return true;
        DWORD err = platform::GetLastError();
        logErr(log, fromStart ? "Failed to SetFilePointer to absolute file position"
                              : "Failed to SetFilePointer to relative file position");
        if (log) {
            log->logWindowsError(err);
            log->logDataInt64("position", distance);
        }
        return false;
    }
    if (m_stream) {
        if (::fseeko(m_stream, static_cast<off_t>(distance), fromStart ? SEEK_SET : SEEK_CUR) == 0)
            return true;
        logErr(log,
               fromStart ? "Failed to fseek to absolute file position" : "Failed to fseek to relative file position");
        if (log)
            log->logDataInt64("position", distance);
        return false;
    }
    return false;
}

bool TessikHandle::seekAbsolute64(std::int64_t position, LogBase* log) {
    return seekLogged(position, true, log);
}

bool TessikHandle::seekRelative64(std::int64_t offset, LogBase* log) {
    return seekLogged(offset, false, log);
}

std::int64_t TessikHandle::getPosition64(LogBase* log) {
    if (m_handle != platform::INVALID_HANDLE_VALUE) {
        std::int64_t pos = -1;
        if (seekHandle(0, platform::FILE_CURRENT, &pos))
            return pos;
        DWORD err = platform::GetLastError();
        logErr(log, "Failed to get file position (2)");
        if (log)
            log->logWindowsError(err);
        return -1;
    }
    if (m_stream)
        return static_cast<std::int64_t>(::ftello(m_stream));
    return -1;
}

std::int64_t TessikHandle::handleSize() {
    DWORD high = 0;
    platform::SetLastError(platform::ERROR_SUCCESS);
    DWORD low = platform::GetFileSize(m_handle, &high);
    if (low == platform::INVALID_FILE_SIZE && platform::GetLastError() != platform::ERROR_SUCCESS)
        return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

std::int64_t TessikHandle::streamSize() {
    struct stat st;
    // Buffered writes not yet flushed belong to the size too.
    std::fflush(m_stream);
    if (::fstat(::fileno(m_stream), &st) != 0) {
        platform::SetLastErrorFromErrno(errno);
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::int32_t TessikHandle::getFileSize32(LogBase* log) {
    std::int64_t size = getFileSize64(nullptr);
    if (!isOpen())
        return -1;
    if (size < 0 || size > INT32_MAX) {
        if (size > INT32_MAX)
            platform::SetLastError(platform::ERROR_NOT_SUPPORTED);
        logLastErrorLine(log);
        logErr(log, "Failed to get file size (32)");
        return -1;
    }
    return static_cast<std::int32_t>(size);
}

std::int64_t TessikHandle::getFileSize64(LogBase* log) {
    std::int64_t size = -1;
    if (m_handle != platform::INVALID_HANDLE_VALUE)
        size = handleSize();
    else if (m_stream)
        size = streamSize();
    else
        return -1;
    if (size < 0) {
        logLastErrorLine(log);
        logErr(log, "Failed to get file size (64)");
    }
    return size;
}

bool TessikHandle::readBytes(void* buffer, std::uint32_t count, std::uint32_t* bytesRead, bool* endOfFile,
                             LogBase* log) {
    if (bytesRead)
        *bytesRead = 0;
    if (endOfFile)
        *endOfFile = false;
    if (!buffer || count == 0) {
        logErr(log, "NULL buf or bufSize");
        return false;
    }
    if (m_handle != platform::INVALID_HANDLE_VALUE) {
        DWORD got = 0;
        if (platform::ReadFile(m_handle, buffer, count, &got)) {
            if (bytesRead)
                *bytesRead = got;
            if (got == 0 && endOfFile)
                *endOfFile = true;
            return true;
        }
        DWORD err = platform::GetLastError();
        if (bytesRead)
            *bytesRead = got;
        if (err == platform::ERROR_HANDLE_EOF) {
            if (endOfFile)
                *endOfFile = true;
            return true;
        }
        if (log)
            log->logWindowsError(err);
        return false;
    }
    if (m_stream) {
        std::size_t got = std::fread(buffer, 1, count, m_stream);
        if (bytesRead)
            *bytesRead = static_cast<std::uint32_t>(got);
        if (got == count)
            return true;
        if (std::ferror(m_stream))
            return false;
        if (endOfFile)
            *endOfFile = true;
        return true;
    }
    return false;
}

bool TessikHandle::writeBytes64(const void* bytes, std::uint32_t countLow, std::uint32_t countHigh,
                                std::uint64_t* written, LogBase* log) {
    if (!isOpen()) {
        logErr(log, "Failed to write because file is not open.");
        return false;
    }
    if (written)
        *written = 0;
    std::uint64_t count = (static_cast<std::uint64_t>(countHigh) << 32) | countLow;
    if (count == 0)
        return true;
    if (!bytes)
        return false;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    std::uint64_t done = 0;
    while (done < count) {
        std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, kWritePiece));
        g_writeCalls.fetch_add(1, std::memory_order_relaxed);
        if (m_handle != platform::INVALID_HANDLE_VALUE) {
            DWORD n = 0;
            if (!platform::WriteFile(m_handle, p + done, piece, &n) || n != piece) {
                if (log) {
                    tessik::StringBuffer sb;
                    sb.appendLastError();
                    log->logData("WriteFileError", sb.getString());
                }
                if (written)
                    *written = done + n;
                return false;
            }
        } else if (std::fwrite(p + done, piece, 1, m_stream) != 1) {
            logErr(log, "fwrite failed.");
            return false;
        }
        done += piece;
        if (written)
            *written = done;
    }
    return true;
}

bool TessikHandle::getFileTimes(platform::FILETIME* creation, platform::FILETIME* lastAccess,
                                platform::FILETIME* lastWrite) {
    if (m_handle == platform::INVALID_HANDLE_VALUE)
        return false;
    return platform::GetFileTime(m_handle, creation, lastAccess, lastWrite) != FALSE;
}

std::uint64_t TessikHandle::writeCallCountForTest() {
    return g_writeCalls.load();
}

WindowsVersion::WindowsVersion() : m_major(10), m_minor(0) {}

WindowsVersion::~WindowsVersion() = default;

} // namespace tessik
