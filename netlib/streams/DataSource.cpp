#include "netlib/streams/DataSource.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/streams/StreamConstants.h"
#include "platform/ByteOrder.h"
#include "platform/File.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr std::uint32_t kSignatureSize = 4;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

void logError(LogBase* log, const char* text) {
    if (log)
        log->logError(text);
}

} // namespace

// ---------------------------------------------------------------- DataSource

DataSource::DataSource()
    : m_bytesRead(0), m_monitor(nullptr), m_crcWhileReading(true), m_statCounter(nullptr), m_statStartTick(0),
      m_statRate(nullptr) {
    m_crc.beginStream();
}

DataSource::~DataSource() = default;

bool DataSource::readChunk(void*, std::uint32_t, std::uint32_t* bytesRead, LogBase*) {
    if (bytesRead)
        *bytesRead = 0;
    return false;
}

bool DataSource::readChunkStrict(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) {
    return DataSource::readChunk(buffer, size, bytesRead, log);
}

bool DataSource::endOfStream() {
    return true;
}

bool DataSource::seekAbsolute64(std::int64_t, LogBase*) {
    return false;
}

bool DataSource::seekRelative64(std::int64_t, LogBase*) {
    return false;
}

std::int64_t DataSource::getPosition64() {
    return 0;
}

void DataSource::rewind() {}

bool DataSource::scanForUint32(std::uint32_t, std::uint64_t* skipped, LogBase*) {
    if (skipped)
        *skipped = 0;
    return false;
}

// A short read that is not the end (a source fed in pieces) keeps going.
bool DataSource::skipBytes64(std::uint64_t count, ProgressMonitor*, LogBase* log) {
    if (count == 0)
        return true;
    DataBuffer buffer;
    if (!buffer.ensureCapacity(kCopyChunkSize))
        return false;
    while (count > 0) {
        if (endOfStream())
            return true;
        std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kCopyChunkSize));
        std::uint32_t got = 0;
        if (!readChunk(buffer.getData(), want, &got, log))
            return false;
        count -= got;
        if (got < want && (got == 0 || endOfStream()))
            return endOfStream();
    }
    return true;
}

bool DataSource::readChunkMonitored(void* buffer, std::uint32_t size, std::uint32_t* bytesRead,
                                    ProgressMonitor* monitor, LogBase* log) {
    ProgressMonitor* own = m_monitor;
    if (monitor)
        m_monitor = monitor;
    bool ok = readChunk(buffer, size, bytesRead, log);
    m_monitor = own;
    return ok;
}

// A false read is the end only when the source says so; otherwise it is a
// failure (an abort, a read error) and the copy is incomplete.
bool DataSource::copyToOutput(Output& output, ProgressMonitor* monitor, LogBase* log) {
    DataBuffer buffer;
    if (!buffer.ensureCapacity(kCopyChunkSize))
        return false;
    LogNull quiet;
    LogBase& lg = log ? *log : quiet;
    while (!endOfStream()) {
        std::uint32_t got = 0;
        if (!readChunk(buffer.getData(), kCopyChunkSize, &got, &lg))
            return got == 0 && endOfStream();
        if (got == 0)
            return endOfStream();
        std::uint32_t written = output.writeBytesNoProgress(buffer.getData(), 1, got, lg);
        if (monitor && monitor->consumeProgress(written, nullptr)) {
            lg.logError(stream_msg::kCopyAborted);
            return false;
        }
        if (written < got) {
            lg.logError(stream_msg::kCopyWriteFailed);
            return false;
        }
    }
    return true;
}

std::uint32_t DataSource::readBlock(void* buffer, std::uint32_t size, std::uint32_t count, LogBase* log) {
    std::uint64_t total = static_cast<std::uint64_t>(size) * count;
    if (total > kMax32)
        return 0;
    std::uint32_t got = 0;
    if (!readChunk(buffer, static_cast<std::uint32_t>(total), &got, log))
        return 0;
    return got;
}

void DataSource::setStatistics(std::uint64_t* counter, DWORD startTick, std::uint32_t* bytesPerSecond) {
    m_statCounter = counter;
    m_statStartTick = startTick;
    m_statRate = bytesPerSecond;
}

void DataSource::countStatistics(std::uint32_t n) {
    if (!m_statCounter)
        return;
    *m_statCounter += n;
    if (!m_statRate || m_statStartTick == 0)
        return;
    DWORD now = platform::GetTickCount();
    if (now > m_statStartTick)
        *m_statRate = static_cast<std::uint32_t>(*m_statCounter * 1000 / (now - m_statStartTick));
}

bool DataSource::monitorAborts(std::uint32_t n, LogBase* log) {
    if (!m_monitor || !m_monitor->consumeProgress(n, nullptr))
        return false;
    if (log)
        log->logInfo(stream_msg::kReadAborted);
    return true;
}

// ---------------------------------------------------------------- MemoryDataSource

MemoryDataSource::MemoryDataSource() : m_data(nullptr), m_size(0), m_position(0) {}

MemoryDataSource::~MemoryDataSource() = default;

void MemoryDataSource::setData(const void* data, std::uint64_t size, bool computeCrc) {
    m_data = static_cast<const unsigned char*>(data);
    m_size = data ? size : 0;
    m_position = 0;
    if (!computeCrc)
        return;
    for (std::uint64_t done = 0; done < m_size;) {
        std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_size - done, kMax32));
        m_crc.moreData(m_data + done, piece);
        done += piece;
    }
}

bool MemoryDataSource::readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) {
    if (bytesRead)
        *bytesRead = 0;
    if (!buffer)
        return false;
    // Asked for its own whole block: hand it over without copying, once.
    if (buffer == m_data && size == m_size) {
        if (m_position != 0)
            return false;
        if (bytesRead)
            *bytesRead = size;
        countStatistics(size);
        m_bytesRead += size;
        m_position = m_size;
        return !monitorAborts(size, log);
    }
    std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, m_size - m_position));
    if (bytesRead)
        *bytesRead = n;
    countStatistics(n);
    if (n == 0)
        return false;
    std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    m_bytesRead += n;
    return !monitorAborts(n, log);
}

bool MemoryDataSource::readChunkStrict(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) {
    return readChunk(buffer, size, bytesRead, log);
}

bool MemoryDataSource::seekAbsolute64(std::int64_t position, LogBase*) {
    m_position = position < 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(position), m_size);
    return true;
}

bool MemoryDataSource::seekRelative64(std::int64_t offset, LogBase*) {
    if (offset < 0) {
        std::uint64_t back =
            offset == INT64_MIN ? static_cast<std::uint64_t>(INT64_MAX) + 1 : static_cast<std::uint64_t>(-offset);
        m_position = back >= m_position ? 0 : m_position - back;
    } else {
        m_position += std::min<std::uint64_t>(static_cast<std::uint64_t>(offset), m_size - m_position);
    }
    return true;
}

bool MemoryDataSource::scanForUint32(std::uint32_t value, std::uint64_t* skipped, LogBase*) {
    if (skipped)
        *skipped = 0;
    while (m_size - m_position >= kSignatureSize) {
        if (platform::LoadLe32(m_data + m_position) == value) {
            m_position += kSignatureSize;
            return true;
        }
        ++m_position;
        if (skipped)
            ++*skipped;
    }
    return false;
}

bool MemoryDataSource::skipBytes64(std::uint64_t count, ProgressMonitor*, LogBase* log) {
    if (count > static_cast<std::uint64_t>(INT64_MAX))
        count = INT64_MAX;
    return seekRelative64(static_cast<std::int64_t>(count), log);
}

// ---------------------------------------------------------------- ExactLengthSource

bool ExactLengthSource::readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) {
    *bytesRead = 0;
    if (m_left == 0)
        return true;
    std::uint32_t got = 0;
    if (!m_source.readChunk(buffer, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, m_left)), &got, log))
        return false;
    if (got == 0)
        return changed(log);
    m_left -= got;
    *bytesRead = got;
    return true;
}

bool ExactLengthSource::endedThere(LogBase* log) {
    unsigned char extra = 0;
    std::uint32_t got = 0;
    return m_source.readChunk(&extra, 1, &got, log) && (got == 0 || changed(log));
}

bool ExactLengthSource::changed(LogBase* log) const {
    if (log)
        log->logError(m_changed);
    return false;
}

// ---------------------------------------------------------------- FileDataSource

FileDataSource::FileDataSource() : m_owned(false), m_handle(nullptr) {}

FileDataSource::~FileDataSource() {
    releaseHandle();
}

void FileDataSource::releaseHandle() {
    if (m_owned)
        delete m_handle;
    m_handle = nullptr;
}

FileDataSource* FileDataSource::openForRead(const char* utf8Path, LogBase* log) {
    if (!utf8Path)
        return nullptr;
    XString path;
    path.setFromUtf8(utf8Path);
    int errorKind = kOpenNoError;
    TessikHandle* handle = openFileForReadPtr(path, errorKind, log);
    if (!handle)
        return nullptr;
    // An input is read to its end: a FIFO's starts once its writer came.
    if (!platform::WaitForWriter(handle->getHandle())) {
        delete handle;
        return nullptr;
    }
    FileDataSource* source = new (std::nothrow) FileDataSource();
    if (!source) {
        delete handle;
        return nullptr;
    }
    source->m_handle = handle;
    source->m_owned = true;
    source->m_path.setString(utf8Path);
    return source;
}

void FileDataSource::setHandle(TessikHandle* handle) {
    if (m_owned && m_handle != handle)
        delete m_handle;
    m_handle = handle;
    m_owned = false;
}

std::int64_t FileDataSource::getFileSize64(LogBase* log) {
    return m_handle ? m_handle->getFileSize64(log) : -1;
}

bool FileDataSource::readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) {
    return read(buffer, size, bytesRead, false, log);
}

bool FileDataSource::readChunkStrict(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) {
    return read(buffer, size, bytesRead, true, log);
}

// Only a clean read of nothing is the end; a failed read keeps the handle,
// so endOfStream stays false and the failure cannot pass for the end.
bool FileDataSource::read(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, bool strict, LogBase* log) {
    if (bytesRead)
        *bytesRead = 0;
    if (size == 0) {
        logError(log, stream_msg::kZeroSizeBuffer);
        return false;
    }
    if (!buffer) {
        logError(log, stream_msg::kNullBuffer);
        return false;
    }
    if (!m_handle)
        return !strict;
    std::uint32_t got = 0;
    bool endOfFile = false;
    if (!m_handle->readBytes(buffer, size, &got, &endOfFile, log))
        return false;
    if (got == 0) {
        releaseHandle();
        return !strict;
    }
    if (m_crcWhileReading)
        m_crc.moreData(buffer, got);
    countStatistics(got);
    bool aborted = monitorAborts(got, log);
    if (bytesRead)
        *bytesRead = got;
    m_bytesRead += got;
    return !aborted;
}

bool FileDataSource::seekAbsolute64(std::int64_t position, LogBase* log) {
    return m_handle && m_handle->seekAbsolute64(position, log);
}

bool FileDataSource::seekRelative64(std::int64_t offset, LogBase* log) {
    if (!m_owned && offset < 0) {
        logError(log, stream_msg::kNoRelativeSeekLent);
        return false;
    }
    if (!m_handle) {
        logError(log, stream_msg::kRelativeSeekClosed);
        return false;
    }
    if (!m_handle->seekRelative64(offset, log)) {
        logError(log, stream_msg::kRelativeSeekFailed);
        return false;
    }
    return m_handle->getPosition64(log) >= 0;
}

std::int64_t FileDataSource::getPosition64() {
    return m_handle ? m_handle->getPosition64(nullptr) : -1;
}

void FileDataSource::rewind() {
    seekAbsolute64(0, nullptr);
}

// Positions are taken absolutely, so a lent handle (which never moves back
// relatively) ends up exactly past the match, or past every window tested.
bool FileDataSource::scanForUint32(std::uint32_t value, std::uint64_t* skipped, LogBase* log) {
    if (skipped)
        *skipped = 0;
    if (!m_handle)
        return false;
    std::int64_t start = m_handle->getPosition64(log);
    if (start < 0)
        return false;
    DataBuffer block;
    if (!block.ensureCapacity(kCopyChunkSize))
        return false;
    unsigned char* buf = block.getData();

    std::int64_t bufStart = start; // file offset of buf[0]
    std::uint32_t held = 0;
    std::uint32_t at = 0;
    for (;;) {
        std::uint32_t got = 0;
        bool endOfFile = false;
        if (!m_handle->readBytes(buf + held, kCopyChunkSize - held, &got, &endOfFile, log))
            return false;
        held += got;
        for (; at + kSignatureSize <= held; ++at) {
            if (platform::LoadLe32(buf + at) != value)
                continue;
            std::int64_t match = bufStart + at;
            if (skipped)
                *skipped = static_cast<std::uint64_t>(match - start);
            return m_handle->seekAbsolute64(match + kSignatureSize, log);
        }
        if (got == 0)
            break;
        // Keep the unscanned tail, too short for a window, for the next fill.
        std::memmove(buf, buf + at, held - at);
        bufStart += at;
        held -= at;
        at = 0;
    }
    if (skipped)
        *skipped = static_cast<std::uint64_t>(bufStart + at - start);
    m_handle->seekAbsolute64(bufStart + at, log);
    return false;
}

bool FileDataSource::skipBytes64(std::uint64_t count, ProgressMonitor*, LogBase* log) {
    if (count > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    return seekRelative64(static_cast<std::int64_t>(count), log);
}

} // namespace tessik
