#pragma once
// A file at a path the user names, written the way every such writer here
// writes it: a regular file (the one a link names, too) is written beside
// and renamed over only once all of it is on the disk, so a failure leaves
// the old file as it was and nothing of its own; a device or a FIFO is
// written as it stands, never read back or removed. Qt-free.
#include <cstddef>
#include <string>

namespace reports {

class FileWriter {
public:
    FileWriter() = default;
    // An unfinished part file goes with it.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Each returns 0, or the system's error number of what failed (ENOSPC:
    // the disk is full, EFBIG: past the size limit).
    int Open(const std::string& path);
    int Write(const char* data, std::size_t size);
    // Puts what was written in place; without it nothing replaces the file.
    int Commit();
    // Forgets what was written.
    void Discard();

private:
    int m_fd = -1;
    std::string m_part; // empty when the target is written as it stands
    std::string m_target;
};

// Whether a write failed for want of room (the disk, or the user's quota).
bool IsDiskFull(int error);

} // namespace reports
