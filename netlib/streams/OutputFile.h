#pragma once
// The file implementation of Output, over the library's one writer of a file
// the caller names (FileWriter): keeps the position and the highest position
// written. What is written counts only once commit() says so: closing or
// destroying the output before leaves the path as it was.
#include <cstdint>
#include <string>

#include "netlib/core/FileWriter.h"
#include "netlib/streams/Output.h"

namespace tessik {

class TessikHandle;

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

    // A new content for the path, put in its place by commit(); a device or
    // a FIFO is written as it stands (see FileWriter). The position starts
    // at 0.
    bool createFile(const char* utf8Path, LogBase& log);
    // The same for a content that replaces a regular file (or nothing)
    // only: anything else at the path is refused.
    bool createReplacement(const char* utf8Path, LogBase& log);
    // Opens or creates the file and positions at its end, which becomes the
    // position and the size reached (0 for a pipe, which has no end).
    bool openForAppend(const char* utf8Path, LogBase& log);
    // Opens the path to be written as it stands, emptied first: for a spill
    // file that has no end at which to commit. A FIFO nobody reads and a
    // read-only file are refused as by the other opens.
    bool createInPlace(const char* utf8Path, LogBase& log);
    bool commit(LogBase& log);
    // Leaves the path as it was before the open (unless committed).
    void close() { m_file.discard(); }
    // The same, and a file the open made goes, by FileWriter::discardMade
    // (0, or why it was left).
    int closeRemovingMade() { return m_file.discardMade(); }
    bool isOpen() const { return m_file.isOpen(); }
    std::int64_t getSizeReached() const { return m_sizeReached; }
    // Whether the last open made the file, and whether it is a regular one.
    bool createdFile() const { return m_file.createdFile(); }
    bool isRegularFile() const { return m_file.isRegular(); }
    // Where the bytes are until commit().
    const std::string& writtenPath() const { return m_file.writtenPath(); }
    bool writesBeside() const { return m_file.writesBeside(); }
    // A handle of its own that reads a regular file's bytes from the start,
    // also before commit(); nothing may be written after.
    bool readBack(TessikHandle& into, LogBase& log);
    // Cuts a regular file at the position, so nothing written past it stays.
    bool truncateAtPosition(LogBase& log);

private:
    bool open(const char* utf8Path, FileWriter::Mode mode, LogBase& log);

    std::int64_t m_sizeReached;
    std::int64_t m_position;
    StringBuffer m_path;
    FileWriter m_file;
};

} // namespace tessik
