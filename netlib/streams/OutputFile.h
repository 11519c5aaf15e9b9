#pragma once
// The file implementation of Output: writes through one open handle and
// keeps the position and the highest position written.
#include <cstdint>

#include "netlib/core/TessikHandle.h"
#include "netlib/streams/Output.h"

namespace tessik {

class OutputFile : public Output {
public:
    OutputFile();
    ~OutputFile() override;

    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    bool seekToEnd(LogBase& log) override;
    bool seekTo(std::int64_t position, LogBase& log) override;
    std::int64_t getPosition64() override { return m_position; }
    bool resetOutput(LogBase& log) override;
    void getDescription(StringBuffer& out) override;

    // Replaces any file at the path with a new empty one, opened for reading
    // and writing without sharing; the position starts at 0.
    bool createFile(const char* utf8Path, LogBase& log);
    // Opens or creates the file and positions at its end, which becomes the
    // position and the size reached.
    bool openForAppend(const char* utf8Path, LogBase& log);
    void close() { m_handle.close(); }
    std::int64_t getSizeReached() const { return m_sizeReached; }

private:
    std::int64_t m_sizeReached;
    std::int64_t m_position;
    StringBuffer m_path;
    TessikHandle m_handle;
};

} // namespace tessik
