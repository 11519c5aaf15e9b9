#include "netlib/streams/Output.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "netlib/core/FileSys.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/StreamConstants.h"

namespace tessik {

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

} // namespace

bool blockByteCount(std::uint64_t size, std::uint32_t count, std::uint64_t& bytes) {
    if (count != 0 && size > UINT64_MAX / count)
        return false;
    bytes = size * count;
    return true;
}

// ---------------------------------------------------------------- Output

Output::~Output() = default;

std::uint32_t Output::writeBytes(const void*, std::uint32_t, std::uint32_t count, ProgressMonitor*, LogBase&) {
    return count;
}

std::uint32_t Output::writeBytes64(const void*, std::uint64_t, std::uint32_t count, ProgressMonitor*, LogBase&) {
    return count;
}

bool Output::seekToEnd(LogBase&) {
    return true;
}

bool Output::seekTo(std::int64_t, LogBase&) {
    return true;
}

std::int64_t Output::getPosition64() {
    return 0;
}

bool Output::resetOutput(LogBase&) {
    return true;
}

void Output::getDescription(StringBuffer& out) {
    out.setString("unknown");
}

bool Output::copyToDb(DataBuffer&) {
    return false;
}

DataBuffer* Output::getDataBuffer() {
    return nullptr;
}

bool Output::isHalted() {
    return false;
}

bool Output::ensureCapacity(std::uint32_t) {
    return true;
}

std::uint32_t Output::writeBytesNoProgress(const void* data, std::uint32_t size, std::uint32_t count, LogBase& log) {
    return writeBytes(data, size, count, nullptr, log);
}

bool Output::writeSb(const StringBuffer& sb, ProgressMonitor* monitor, LogBase& log) {
    if (sb.getSize() <= 0)
        return true;
    return writeBytes(sb.getString(), static_cast<std::uint32_t>(sb.getSize()), 1, monitor, log) != 0;
}

bool Output::writeDb(const DataBuffer& db, ProgressMonitor* monitor, LogBase& log) {
    if (db.getSize() == 0)
        return true;
    return writeBytes(db.getData(), db.getSize(), 1, monitor, log) != 0;
}

// ---------------------------------------------------------------- OutputDataBuffer

OutputDataBuffer::OutputDataBuffer(DataBuffer* target)
    : m_target(target), m_idx(target ? target->getSize() : 0), m_halted(false), m_rerouteLimit(0), m_reroute(nullptr),
      m_rerouteFailed(false) {}

OutputDataBuffer::~OutputDataBuffer() {
    if (m_reroute) {
        // The spill file keeps what went into it.
        LogNull log;
        m_reroute->commit(log);
    }
    delete m_reroute;
    m_target = nullptr;
}

void OutputDataBuffer::setReroute(std::uint32_t limit, const char* utf8Path) {
    m_rerouteLimit = limit;
    m_reroutePath = utf8Path ? utf8Path : "";
}

// The 64-bit element size is the one write path, so no size is cut to its
// low word on the way.
std::uint32_t OutputDataBuffer::writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                           ProgressMonitor* monitor, LogBase& log) {
    return writeBytes64(data, size, count, monitor, log);
}

std::uint32_t OutputDataBuffer::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                             ProgressMonitor* monitor, LogBase& log) {
    if (!data || size == 0 || count == 0)
        return 0;
    if (m_reroute)
        return m_reroute->writeBytes64(data, size, count, monitor, log);
    if (m_halted || !m_target)
        return 0;

    std::uint64_t n = 0;
    if (!blockByteCount(size, count, n)) {
        log.logError(stream_msg::kBlockOverflow);
        m_halted = true;
        return 0;
    }
    std::uint64_t needed = m_idx + n + kOutputGrowthHeadroom;
    if (shouldReroute(needed)) {
        if (!rerouteToFile(log))
            return 0;
        if (m_reroute)
            return m_reroute->writeBytes64(data, size, count, monitor, log);
    }
    if (m_idx + n > kMax32) {
        log.logError(stream_msg::kBlockTooLarge);
        log.logDataInt64("m_idx", m_idx);
        log.logDataInt64("numBytes", static_cast<std::int64_t>(n));
        m_halted = true;
        return 0;
    }

    // Growing moves the block, so bytes taken from the target itself are
    // copied out first.
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const unsigned char* block = m_target->getData();
    DataBuffer ownCopy;
    if (block && bytes >= block && bytes < block + m_target->getCapacity()) {
        if (!ownCopy.append(bytes, static_cast<std::uint32_t>(n))) {
            m_halted = true;
            return 0;
        }
        bytes = ownCopy.getData();
    }
    if (!growFor(needed, static_cast<std::uint32_t>(size), count, log))
        return 0;
    storeAtIndex(bytes, static_cast<std::uint32_t>(n));
    return count;
}

bool OutputDataBuffer::shouldReroute(std::uint64_t needed) {
    return m_rerouteLimit != 0 && !m_reroutePath.empty() && !m_rerouteFailed && needed > m_rerouteLimit;
}

// A file made here that could not take the whole content is deleted, never
// left behind without its head; one that was there is left emptied.
bool OutputDataBuffer::rerouteToFile(LogBase& log) {
    log.logInfo(stream_msg::kRerouting);
    log.logDataInt64("rerouteSize", m_rerouteLimit);
    OutputFile* file = new (std::nothrow) OutputFile();
    if (!file || !file->createInPlace(m_reroutePath.c_str(), log)) {
        delete file;
        m_rerouteFailed = true;
        return true;
    }
    std::uint32_t held = m_target->getSize();
    bool ok = held == 0 || file->writeBytes(m_target->getData(), held, 1, nullptr, log) == 1;
    if (ok && m_idx != held)
        ok = file->seekTo(m_idx, log);
    if (!ok) {
        log.logError(stream_msg::kRerouteFailed);
        file->closeRemovingMade();
        delete file;
        m_rerouteFailed = true;
        m_halted = true;
        return false;
    }
    m_target->clear();
    m_target->reallocate(kReroutedBlockSize);
    m_reroute = file;
    return true;
}

bool OutputDataBuffer::growFor(std::uint64_t needed, std::uint32_t size, std::uint32_t count, LogBase& log) {
    // A borrowed block belongs to someone else: it is copied before any write.
    if (m_target->getCapacity() >= needed && !m_target->isBorrowed())
        return true;
    std::uint64_t want = std::min(needed + needed / 2, kMax32);
    want = std::max<std::uint64_t>(want, m_target->getCapacity());
    if (m_target->reallocate(static_cast<std::uint32_t>(want)))
        return true;
    log.logError(stream_msg::kOutputAllocFailed);
    log.logDataInt64("ensureSz0", static_cast<std::int64_t>(needed));
    log.logDataInt64("ensureSz", static_cast<std::int64_t>(want));
    log.logDataInt64("m_idx", m_idx);
    log.logDataInt64("size", size);
    log.logDataInt64("count", count);
    m_halted = true;
    return false;
}

// The block already holds m_idx + n bytes; a gap before the index reads as zeros.
void OutputDataBuffer::storeAtIndex(const unsigned char* bytes, std::uint32_t n) {
    unsigned char* base = m_target->getData();
    std::uint32_t held = m_target->getSize();
    if (m_idx > held)
        std::memset(base + held, 0, m_idx - held);
    std::memmove(base + m_idx, bytes, n);
    m_idx += n;
    if (m_idx > held)
        m_target->setSize(m_idx);
}

bool OutputDataBuffer::seekToEnd(LogBase& log) {
    if (m_reroute)
        return m_reroute->seekToEnd(log);
    if (!m_target)
        return false;
    m_idx = m_target->getSize();
    return true;
}

bool OutputDataBuffer::seekTo(std::int64_t position, LogBase& log) {
    if (m_reroute)
        return m_reroute->seekTo(position, log);
    if (m_halted || !m_target || position < 0 || static_cast<std::uint64_t>(position) > kMax32)
        return false;
    std::uint64_t wanted = static_cast<std::uint64_t>(position);
    if (wanted >= m_target->getSize()) {
        if (wanted + 1 > kMax32 || !m_target->ensureCapacity(static_cast<std::uint32_t>(wanted + 1)))
            return false;
    }
    m_idx = static_cast<std::uint32_t>(wanted);
    return true;
}

std::int64_t OutputDataBuffer::getPosition64() {
    if (m_reroute)
        return m_reroute->getPosition64();
    return m_target ? m_idx : 0;
}

bool OutputDataBuffer::resetOutput(LogBase& log) {
    if (m_reroute)
        return m_reroute->resetOutput(log);
    m_idx = 0;
    if (m_target)
        m_target->clear();
    return true;
}

void OutputDataBuffer::getDescription(StringBuffer& out) {
    out.setString("memory");
}

bool OutputDataBuffer::copyToDb(DataBuffer& out) {
    if (!m_target)
        return false;
    return out.appendDb(*m_target);
}

bool OutputDataBuffer::ensureCapacity(std::uint32_t n) {
    if (!m_target)
        return true;
    return m_target->ensureCapacity(n);
}

} // namespace tessik
