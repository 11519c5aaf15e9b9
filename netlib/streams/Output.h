#pragma once
// The library's byte output, and the memory output over a caller's
// DataBuffer that moves itself to a file once its content passes a limit.
// Writes are fwrite-like: element size and count in, elements written out,
// and any failure gives 0: there are no partial results.
#include <cstdint>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"

namespace tessik {

class OutputFile;

// The base discards what it is given and reports every element written.
class Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    virtual std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                     ProgressMonitor* monitor, LogBase& log);
    virtual std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count,
                                       ProgressMonitor* monitor, LogBase& log);
    virtual ~Output();
    virtual bool seekToEnd(LogBase& log);
    virtual bool seekTo(std::int64_t position, LogBase& log);
    virtual std::int64_t getPosition64();
    virtual bool resetOutput(LogBase& log);
    virtual void getDescription(StringBuffer& out);
    // Appends the bytes the output holds; false when it holds none to give.
    virtual bool copyToDb(DataBuffer& out);
    virtual DataBuffer* getDataBuffer();
    virtual bool isHalted();
    virtual bool ensureCapacity(std::uint32_t n);

    std::uint32_t writeBytesNoProgress(const void* data, std::uint32_t size, std::uint32_t count, LogBase& log);
    // The whole text or buffer as one element; empty succeeds unwritten.
    bool writeSb(const StringBuffer& sb, ProgressMonitor* monitor, LogBase& log);
    bool writeDb(const DataBuffer& db, ProgressMonitor* monitor, LogBase& log);
};

// size x count in 64 bits; false when the product does not fit.
bool blockByteCount(std::uint64_t size, std::uint32_t count, std::uint64_t& bytes);

// Writes into a DataBuffer it does not own, at a write index, so it can seek
// and overwrite. Its position is that absolute index into the buffer: over a
// buffer that already holds bytes it starts at their end, not at 0.
class OutputDataBuffer : public Output {
public:
    explicit OutputDataBuffer(DataBuffer* target);
    ~OutputDataBuffer() override;

    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    bool seekToEnd(LogBase& log) override;
    bool seekTo(std::int64_t position, LogBase& log) override;
    std::int64_t getPosition64() override;
    bool resetOutput(LogBase& log) override;
    void getDescription(StringBuffer& out) override;
    bool copyToDb(DataBuffer& out) override;
    DataBuffer* getDataBuffer() override { return m_target; }
    bool isHalted() override { return m_halted; }
    bool ensureCapacity(std::uint32_t n) override;

    // Once a write would take the content past `limit` bytes (0: never), the
    // content moves to a file at `utf8Path` (replaced if it exists) and every
    // later write goes there.
    void setReroute(std::uint32_t limit, const char* utf8Path);
    bool isRerouted() const { return m_reroute != nullptr; }

private:
    bool shouldReroute(std::uint64_t needed);
    // False when the file could not take the content; the output is then halted.
    bool rerouteToFile(LogBase& log);
    bool growFor(std::uint64_t needed, std::uint32_t size, std::uint32_t count, LogBase& log);
    void storeAtIndex(const unsigned char* bytes, std::uint32_t n);

    DataBuffer* m_target;
    std::uint32_t m_idx;
    bool m_halted;
    std::uint32_t m_rerouteLimit;
    // Plain bytes: every response body gets an output, few ever reroute.
    std::string m_reroutePath;
    OutputFile* m_reroute;
    bool m_rerouteFailed;
};

} // namespace tessik
