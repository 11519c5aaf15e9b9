#include "netlib/streams/MemoryData.h"

#include "netlib/core/Memory.h"
#include "netlib/streams/StreamConstants.h"

namespace tessik {

MemoryData::MemoryData()
    : m_isFile(false), m_ownsData(true), m_data(nullptr), m_dataLength(0), m_windowOffset(0), m_windowSize(0) {}

MemoryData::~MemoryData() {
    releaseBlock();
}

void MemoryData::releaseBlock() {
    if (m_ownsData && m_data)
        memFree(const_cast<unsigned char*>(m_data));
    m_data = nullptr;
}

void MemoryData::setData(const void* data, std::uint32_t length) {
    // An owned block that is being replaced would otherwise be lost.
    if (data != m_data)
        releaseBlock();
    m_data = static_cast<const unsigned char*>(data);
    m_dataLength = length;
    m_isFile = false;
}

bool MemoryData::openFile(const char* utf8Path, LogBase& log) {
    if (!m_file.open(utf8Path, log))
        return false;
    m_isFile = true;
    m_path.setString(utf8Path);
    m_window.clear();
    m_windowOffset = 0;
    m_windowSize = 0;
    return true;
}

const unsigned char* MemoryData::getMemData(std::uint32_t offset, std::uint32_t size, LogBase& log) {
    return getMemData64(offset, size, log);
}

const unsigned char* MemoryData::getMemData64(std::int64_t offset, std::uint32_t size, LogBase& log) {
    if (!m_isFile) {
        if (offset < 0 || offset >= static_cast<std::int64_t>(m_dataLength)) {
            log.logError(stream_msg::kBeyondDataLength);
            log.logDataInt64("addr64", offset);
            log.logDataInt64("dataLen", m_dataLength);
            return nullptr;
        }
        if (size > m_dataLength - static_cast<std::uint32_t>(offset)) {
            log.logError(stream_msg::kNotEnoughRemaining);
            return nullptr;
        }
        return m_data + offset;
    }

    if (m_window.getData() && m_windowOffset == offset && m_windowSize >= size)
        return m_window.getData();
    if (!m_file.read(offset, size, m_window, log)) {
        m_windowSize = 0;
        return nullptr;
    }
    m_windowOffset = offset;
    m_windowSize = size;
    return m_window.getData();
}

void MemoryData::clear() {
    if (m_isFile)
        m_file.close();
    if (m_ownsData && m_data) {
        releaseBlock();
        m_ownsData = false;
    }
    m_data = nullptr;
    m_window.clear();
    m_windowOffset = 0;
    m_windowSize = 0;
    m_dataLength = 0;
}

} // namespace tessik
