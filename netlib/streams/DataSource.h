#pragma once
// The library's chunked byte source, over memory the caller owns or over a
// file handle (owned or lent). A source keeps a running CRC-32 and a count
// of the bytes it delivered, and may report each chunk to a monitor.
//
// Reads deliver 0 to `size` bytes. The read that meets the end delivers 0:
// a file source then answers true (and true again later), a memory source
// false; the strict read answers false in both. Loop until endOfStream.
#include <cstdint>

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/streams/Output.h"

namespace tessik {

class DataSource {
public:
    DataSource();
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    virtual ~DataSource();
    virtual bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log);
    virtual bool readChunkStrict(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log);
    virtual bool endOfStream();
    virtual bool seekAbsolute64(std::int64_t position, LogBase* log);
    virtual bool seekRelative64(std::int64_t offset, LogBase* log);
    virtual std::int64_t getPosition64();
    virtual void rewind();
    // Moves to just past the next 4 bytes that read (little-endian) as
    // `value`; `skipped` counts the bytes passed over before them.
    virtual bool scanForUint32(std::uint32_t value, std::uint64_t* skipped, LogBase* log);
    virtual bool skipBytes64(std::uint64_t count, ProgressMonitor* monitor, LogBase* log);

    // readChunk reporting to `monitor` for this one read (the source's own
    // monitor when null).
    bool readChunkMonitored(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, ProgressMonitor* monitor,
                            LogBase* log);
    bool copyToOutput(Output& output, ProgressMonitor* monitor, LogBase* log);
    // One readChunk of size x count bytes: the bytes read, 0 when it failed.
    std::uint32_t readBlock(void* buffer, std::uint32_t size, std::uint32_t count, LogBase* log);
    std::uint64_t getNumBytesRead64() const { return m_bytesRead; }
    void setMonitor(ProgressMonitor* monitor) { m_monitor = monitor; }
    ProgressMonitor* getMonitor() const { return m_monitor; }
    void setCrcWhileReading(bool on) { m_crcWhileReading = on; }
    std::uint32_t getCrc32() const { return m_crc.endStream(); }

    // Caller-owned statistics: every read adds to *counter, and with a start
    // tick and *rate also set, the rate since then in bytes per second.
    void setStatistics(std::uint64_t* counter, DWORD startTick, std::uint32_t* bytesPerSecond);

protected:
    void countStatistics(std::uint32_t n);
    // Adds n to the monitor; true when it asks to stop (logged).
    bool monitorAborts(std::uint32_t n, LogBase* log);

    ZipCRC m_crc;
    std::uint64_t m_bytesRead;
    ProgressMonitor* m_monitor;
    bool m_crcWhileReading;
    std::uint64_t* m_statCounter;
    DWORD m_statStartTick;
    std::uint32_t* m_statRate;
};

// Over a block the caller owns and keeps alive while the source reads it.
class MemoryDataSource : public DataSource {
public:
    MemoryDataSource();
    ~MemoryDataSource() override;

    // With computeCrc, the whole block goes through the CRC now and reads
    // leave it alone.
    void setData(const void* data, std::uint64_t size, bool computeCrc);

    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override;
    bool readChunkStrict(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override;
    bool endOfStream() override { return m_position >= m_size; }
    bool seekAbsolute64(std::int64_t position, LogBase* log) override;
    bool seekRelative64(std::int64_t offset, LogBase* log) override;
    std::int64_t getPosition64() override { return static_cast<std::int64_t>(m_position); }
    void rewind() override { m_position = 0; }
    bool scanForUint32(std::uint32_t value, std::uint64_t* skipped, LogBase* log) override;
    bool skipBytes64(std::uint64_t count, ProgressMonitor* monitor, LogBase* log) override;

private:
    const unsigned char* m_data;
    std::uint64_t m_size;
    std::uint64_t m_position;
};

// Exactly length bytes of another source, as a length said before them
// promised: a source that ends sooner fails the read that meets its end,
// and endedThere says whether nothing came after them. changed is logged
// either way.
class ExactLengthSource : public DataSource {
public:
    ExactLengthSource(DataSource& source, std::uint64_t length, const char* changed)
        : m_source(source), m_left(length), m_changed(changed) {}

    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override;
    bool endOfStream() override { return m_left == 0; }
    bool endedThere(LogBase* log);

private:
    bool changed(LogBase* log) const;

    DataSource& m_source;
    std::uint64_t m_left;
    const char* m_changed;
};

// Over a TessikHandle. At the end of the data it lets go of the handle
// (deleting it when owned) and cannot be rewound.
class FileDataSource : public DataSource {
public:
    FileDataSource();
    ~FileDataSource() override;

    // A source that owns the opened handle; null when the file cannot be
    // opened for shared reading.
    static FileDataSource* openForRead(const char* utf8Path, LogBase* log);
    // Lends a handle: the source never closes it.
    void setHandle(TessikHandle* handle);
    std::int64_t getFileSize64(LogBase* log);

    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override;
    bool readChunkStrict(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override;
    bool endOfStream() override { return m_handle == nullptr; }
    bool seekAbsolute64(std::int64_t position, LogBase* log) override;
    // A lent handle is never moved backwards relatively.
    bool seekRelative64(std::int64_t offset, LogBase* log) override;
    std::int64_t getPosition64() override;
    void rewind() override;
    bool scanForUint32(std::uint32_t value, std::uint64_t* skipped, LogBase* log) override;
    bool skipBytes64(std::uint64_t count, ProgressMonitor* monitor, LogBase* log) override;

private:
    bool read(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, bool strict, LogBase* log);
    void releaseHandle();

    bool m_owned;
    TessikHandle* m_handle;
    StringBuffer m_path;
};

} // namespace tessik
