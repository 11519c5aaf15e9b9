#include "netlib/streams/DataSink.h"

#include <cstdlib>
#include <cstring>

namespace tessik {

// ---------------------------------------------------------------- DataSink

DataSink::DataSink() : m_bytesWritten(0), m_inputFinished(false), m_monitor(nullptr), m_crcWhileWriting(false) {
    m_crc.beginStream();
}

DataSink::~DataSink() = default;

bool DataSink::writeBytes(const void*, std::uint32_t, LogBase*) {
    return false;
}

std::uint64_t DataSink::getNumBytesWritten64() {
    return m_bytesWritten;
}

std::uint64_t DataSink::getNumBytesHeld64() {
    return 0;
}

bool DataSink::getWritableCapacity(std::uint32_t*) {
    return false;
}

bool DataSink::isAborted() const {
    return m_monitor != nullptr && m_monitor->abortCheckDefault();
}

void DataSink::crcIfOn(const void* data, std::uint32_t length) {
    if (m_crcWhileWriting)
        m_crc.moreData(data, length);
}

void DataSink::reportProgress(std::uint32_t length) {
    if (m_monitor != nullptr)
        m_monitor->consumeProgressNoAbort(length);
}

// ---------------------------------------------------------------- FileDataSink

FileDataSink::FileDataSink() : m_output(nullptr), m_failed(false) {}

FileDataSink::~FileDataSink() = default;

bool FileDataSink::writeBytes(const void* data, std::uint32_t length, LogBase* log) {
    if (m_output == nullptr)
        return false;
    if (length == 0)
        return true;
    if (data == nullptr)
        return false;
    crcIfOn(data, length);
    LogNull silent;
    if (m_output->writeBytesNoProgress(data, 1, length, log ? *log : silent) != length) {
        m_failed = true;
        m_output = nullptr;
        return false;
    }
    reportProgress(length);
    m_bytesWritten += length;
    return true;
}

bool FileDataSink::getWritableCapacity(std::uint32_t* count) {
    *count = kUnboundedSinkCapacity;
    return true;
}

// ---------------------------------------------------------------- DataBufferSink

DataBufferSink::DataBufferSink(DataBuffer* target) : m_target(target) {}

DataBufferSink::~DataBufferSink() = default;

bool DataBufferSink::writeBytes(const void* data, std::uint32_t length, LogBase*) {
    if (m_target == nullptr)
        return false;
    crcIfOn(data, length);
    return m_target->append(data, length);
}

bool DataBufferSink::getWritableCapacity(std::uint32_t* count) {
    *count = kBufferSinkCapacity;
    return true;
}

// ---------------------------------------------------------------- NullDataSink

NullDataSink::NullDataSink() = default;

NullDataSink::~NullDataSink() = default;

bool NullDataSink::writeBytes(const void* data, std::uint32_t length, LogBase*) {
    if (data == nullptr || length == 0)
        return true;
    crcIfOn(data, length);
    m_bytesWritten += length;
    reportProgress(length);
    return true;
}

bool NullDataSink::getWritableCapacity(std::uint32_t* count) {
    *count = kUnboundedSinkCapacity;
    return true;
}

// ---------------------------------------------------------------- StreamingBuffer

StreamingBuffer::StreamingBuffer()
    : m_block(nullptr), m_capacity(0), m_free(0), m_writeIndex(0), m_held(0), m_readIndex(0) {}

StreamingBuffer::~StreamingBuffer() {
    std::free(m_block);
}

bool StreamingBuffer::setCapacity(std::uint32_t n) {
    std::free(m_block);
    m_block = nullptr;
    m_capacity = m_free = m_writeIndex = m_held = m_readIndex = 0;
    if (n == 0)
        return true;
    m_block = static_cast<unsigned char*>(std::malloc(n));
    if (m_block == nullptr)
        return false;
    m_capacity = m_free = n;
    return true;
}

std::uint32_t StreamingBuffer::write(const void* data, std::uint32_t n) {
    std::uint32_t count = n < m_free ? n : m_free;
    if (count == 0)
        return 0;
    if (m_held == 0)
        m_writeIndex = m_readIndex = 0;
    const auto* from = static_cast<const unsigned char*>(data);
    std::uint32_t toEnd = m_capacity - m_writeIndex;
    std::uint32_t first = count < toEnd ? count : toEnd;
    std::memcpy(m_block + m_writeIndex, from, first);
    if (count > first)
        std::memcpy(m_block, from + first, count - first);
    m_writeIndex += count;
    if (m_writeIndex >= m_capacity)
        m_writeIndex -= m_capacity;
    m_held += count;
    m_free -= count;
    return count;
}

void StreamingBuffer::getReadRegions(unsigned char** first, std::uint32_t* firstLength, unsigned char** second,
                                     std::uint32_t* secondLength) const {
    *first = *second = nullptr;
    *firstLength = *secondLength = 0;
    if (m_held == 0)
        return;
    std::uint32_t toEnd = m_capacity - m_readIndex;
    *first = m_block + m_readIndex;
    *firstLength = m_held < toEnd ? m_held : toEnd;
    if (m_held > toEnd) {
        *second = m_block;
        *secondLength = m_held - toEnd;
    }
}

void StreamingBuffer::consume(std::uint32_t n) {
    std::uint32_t count = n < m_held ? n : m_held;
    m_readIndex += count;
    if (m_readIndex >= m_capacity)
        m_readIndex -= m_capacity;
    m_held -= count;
    m_free += count;
}

// ---------------------------------------------------------------- MemoryDataSink

MemoryDataSink::MemoryDataSink() = default;

MemoryDataSink::~MemoryDataSink() = default;

bool MemoryDataSink::writeBytes(const void* data, std::uint32_t length, LogBase*) {
    if (data == nullptr || length == 0)
        return true;
    // Only what was stored counts: the writer offers the rest again later.
    std::uint32_t stored = m_ring.write(data, length);
    crcIfOn(data, stored);
    m_bytesWritten += stored;
    reportProgress(stored);
    return stored == length;
}

std::uint64_t MemoryDataSink::getNumBytesHeld64() {
    return m_ring.getHeld();
}

bool MemoryDataSink::getWritableCapacity(std::uint32_t* count) {
    *count = m_ring.getFreeRoom();
    return *count > 0;
}

} // namespace tessik
