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

    // Opens the path for writing as open() does: an existing regular file
    // is emptied, a device or a pipe is written as it stands, and a symbolic
    // link is followed to its target; nothing is deleted. Opened for reading
    // and writing without sharing; the position starts at 0.
    bool createFile(const char* utf8Path, LogBase& log);
    // Opens or creates the file and positions at its end, which becomes the
    // position and the size reached (0 for a pipe, which has no end).
    bool openForAppend(const char* utf8Path, LogBase& log);
    void close() { m_handle.close(); }
    std::int64_t getSizeReached() const { return m_sizeReached; }
    // Whether the last open made the file, and whether it is a regular one.
    bool createdFile() const { return m_created; }
    bool isRegularFile() const { return m_regular; }
    // Cuts a regular file at the position, so nothing written past it stays.
    bool truncateAtPosition(LogBase& log);
    // The permissions of the file at the path (or of a new file, when none).
    bool takePermissionsOf(const char* utf8Path);

private:
    std::int64_t m_sizeReached;
    std::int64_t m_position;
    StringBuffer m_path;
    TessikHandle m_handle;
    bool m_created = false;
    bool m_regular = false;

    bool open(const char* utf8Path, bool append, LogBase& log);
};

// A new content for a regular file the caller names: written to a private
// temporary file beside the file's target (links followed) and moved over it
// by commit(), so the file stays as it was until all of it is there. The
// temporary file goes when the object does, unless committed.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Fails, creating nothing, when the path holds anything but a regular
    // file or nothing.
    bool open(const char* utf8Path, LogBase& log);
    OutputFile& output() { return m_out; }
    bool isOpen() const { return m_temp.getSize() != 0; }
    // The new file takes the old one's permissions and place.
    bool commit(LogBase& log);
    void discard();

private:
    OutputFile m_out;
    StringBuffer m_target;
    StringBuffer m_temp;
};

} // namespace tessik
