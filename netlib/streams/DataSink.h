#pragma once
// Byte sinks with a writable capacity: the end of a data pipeline, and the
// ring buffer every pipeline stage is fed through. A writer sends no more
// than getWritableCapacity offers and keeps the rest for a later pass.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/streams/Output.h"

namespace tessik {

// What the sinks without a bound of their own offer.
constexpr std::uint32_t kUnboundedSinkCapacity = 999999999;
constexpr std::uint32_t kBufferSinkCapacity = 0x7FFFFFFF;

class DataSink {
public:
    DataSink();
    DataSink(const DataSink&) = delete;
    DataSink& operator=(const DataSink&) = delete;
    virtual ~DataSink();

    virtual bool writeBytes(const void* data, std::uint32_t length, LogBase* log);
    virtual std::uint64_t getNumBytesWritten64();
    // Bytes accepted but not yet passed on.
    virtual std::uint64_t getNumBytesHeld64();
    // False (count untouched) when the sink cannot say.
    virtual bool getWritableCapacity(std::uint32_t* count);

    // The stage feeding this sink has delivered its last byte.
    void setInputFinished() { m_inputFinished = true; }
    bool isInputFinished() const { return m_inputFinished; }
    void setMonitor(ProgressMonitor* monitor) { m_monitor = monitor; }
    void setCrcWhileWriting(bool on) { m_crcWhileWriting = on; }
    std::uint32_t getSinkCrc() const { return m_crc.endStream(); }
    bool isAborted() const;

protected:
    void crcIfOn(const void* data, std::uint32_t length);
    // Progress without an abort check.
    void reportProgress(std::uint32_t length);

    std::uint64_t m_bytesWritten;
    bool m_inputFinished;
    ProgressMonitor* m_monitor;
    bool m_crcWhileWriting;
    ZipCRC m_crc;
};

// Into an Output the caller owns. After a short write the sink is failed and
// lets go of the output.
class FileDataSink : public DataSink {
public:
    FileDataSink();
    ~FileDataSink() override;

    void setOutput(Output* output) { m_output = output; }
    bool isFailed() const { return m_failed; }

    bool writeBytes(const void* data, std::uint32_t length, LogBase* log) override;
    bool getWritableCapacity(std::uint32_t* count) override;

private:
    Output* m_output;
    bool m_failed;
};

// Appends to a DataBuffer the caller owns; it does not count what it took.
class DataBufferSink : public DataSink {
public:
    explicit DataBufferSink(DataBuffer* target = nullptr);
    ~DataBufferSink() override;

    void setTarget(DataBuffer* target) { m_target = target; }

    // False when the buffer could not grow to take the bytes.
    bool writeBytes(const void* data, std::uint32_t length, LogBase* log) override;
    bool getWritableCapacity(std::uint32_t* count) override;

private:
    DataBuffer* m_target;
};

// Counts and forgets.
class NullDataSink : public DataSink {
public:
    NullDataSink();
    ~NullDataSink() override;

    bool writeBytes(const void* data, std::uint32_t length, LogBase* log) override;
    bool getWritableCapacity(std::uint32_t* count) override;
};

// A ring buffer of fixed capacity.
class StreamingBuffer {
public:
    StreamingBuffer();
    StreamingBuffer(const StreamingBuffer&) = delete;
    StreamingBuffer& operator=(const StreamingBuffer&) = delete;
    virtual ~StreamingBuffer();

    // Empties the ring and makes it n bytes; false when they cannot be had
    // (the ring then holds nothing and has no room).
    bool setCapacity(std::uint32_t n);
    // Stores what fits and returns the count.
    std::uint32_t write(const void* data, std::uint32_t n);
    // The held bytes as at most two pieces, oldest first; lengths 0 when absent.
    void getReadRegions(unsigned char** first, std::uint32_t* firstLength, unsigned char** second,
                        std::uint32_t* secondLength) const;
    void consume(std::uint32_t n);

    std::uint32_t getCapacity() const { return m_capacity; }
    std::uint32_t getFreeRoom() const { return m_free; }
    std::uint32_t getHeld() const { return m_held; }

private:
    unsigned char* m_block;
    std::uint32_t m_capacity;
    std::uint32_t m_free;
    std::uint32_t m_writeIndex;
    std::uint32_t m_held;
    std::uint32_t m_readIndex;
};

// Holds what it is given in its ring until a reader consumes it.
class MemoryDataSink : public DataSink {
public:
    MemoryDataSink();
    ~MemoryDataSink() override;

    // True only when all of the bytes were stored.
    bool writeBytes(const void* data, std::uint32_t length, LogBase* log) override;
    std::uint64_t getNumBytesHeld64() override;
    bool getWritableCapacity(std::uint32_t* count) override;

    StreamingBuffer& ring() { return m_ring; }

protected:
    StreamingBuffer m_ring;
};

} // namespace tessik
