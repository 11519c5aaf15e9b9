#pragma once
// The one way the library writes a file the caller names. A new content goes
// beside the file (platform::PartFile's part names, links followed) and takes
// its place on commit(), so a failure leaves the old file as it was. It is
// renamed, not synced, as other programs' writers of a user's file do: a
// kill leaves the old file or the new one whole, a power cut may lose the
// last writes (only the application's own files pay the syncs); a device
// or a FIFO is written as it stands; an append adds at the end and a failure
// cuts the file back to where it ended. Either way a FIFO nobody reads fails
// at once, a reader that leaves is a failure (never a signal that ends the
// process), and a file without its owner's write bit is not written.
#include <cstdint>
#include <string>

#include "platform/PartFile.h"

namespace tessik {

class LogBase;

class FileWriter {
public:
    enum class Mode {
        Replace,
        // As Replace, but a device or a FIFO is refused: for a content that
        // is read back, or made from the file's own bytes.
        ReplaceRegular,
        // Adds at the end, seeking as the caller asks.
        Append,
        // Adds where the file ends at each write (O_APPEND), so that writers
        // sharing a file (logs) never write over one another; no seeking.
        AppendShared,
    };

    FileWriter() = default;
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // False (the reason logged, the errno in error()) when the path cannot
    // be written; nothing is then made or changed.
    bool open(const char* utf8Path, Mode mode, LogBase* log);
    bool isOpen() const { return fd() >= 0; }
    int fd() const { return m_part.Fd() >= 0 ? m_part.Fd() : m_fd; }
    // Whether the bytes go into a regular file (which can seek and be read
    // back), and whether this open made it (O_EXCL said so).
    bool isRegular() const { return m_regular; }
    bool createdFile() const { return m_created; }
    // Where the bytes are until commit(): the part file, else the path.
    const std::string& writtenPath() const { return m_part.Path().empty() ? m_path : m_part.Path(); }
    // Whether the bytes go beside the path, which keeps its old content
    // until commit().
    bool writesBeside() const { return !m_part.Path().empty(); }
    // The size an appended file had when opened (0 for anything else).
    std::int64_t startSize() const { return m_start; }
    // Writes at the descriptor's position. *written (when given) is what went
    // out, also on failure.
    bool write(const void* data, std::uint64_t size, std::uint64_t* written, LogBase* log);
    // Cuts a regular file at size; what an append cuts from the old content
    // stays cut (discard() then brings back no more than size bytes).
    bool cutAt(std::int64_t size, LogBase* log);
    // Puts what was written in place and closes.
    bool commit(LogBase* log);
    // Closes leaving the path as it was before open().
    void discard();
    // The same, and a file this open made goes too, while the path still
    // leads to it (platform::RemoveMadeFile): 0, or why it was left
    // (platform::kNameTaken when the path leads elsewhere).
    int discardMade();
    int error() const { return m_error; }

private:
    bool fail(int error, LogBase* log);
    void noteSharedWrite(std::int64_t done);

    platform::PartFile m_part;
    int m_fd = -1;
    std::string m_path;
    std::int64_t m_start = 0;
    // Where a shared append's bytes end, while nothing is known to follow
    // them (-1: none written).
    std::int64_t m_sharedEnd = -1;
    bool m_shared = false;
    bool m_regular = false;
    bool m_created = false;
    int m_error = 0;
};

} // namespace tessik
