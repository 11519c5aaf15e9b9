#pragma once
// The one way a file the user names is written whole: beside the file it
// replaces, as "<name>.part-XXXXXX", and renamed over it only once complete,
// so a failure leaves the old file as it was. A symbolic link is followed
// (a dangling one to the file it names), and a device or a FIFO is written
// as it stands, never replaced or removed.
//
// One permission rule: the new file keeps the mode (and, where the process
// may give it, the owner) of the file it replaces; a file that did not exist
// gets what open() gives under the umask. Either way no bit outside the
// writer's limit: a copy of private data is no more readable than its source.
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

// The permission bits a copy of the file at source may have at most: the
// owner's all, the group's and others' only as source has them (all, when
// source cannot be read).
mode_t ReadersOf(const std::string& source);

class PartFile {
public:
    PartFile() = default;
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Opens for writing where path lands. 0, else an errno: EISDIR for a
    // folder, ENODEV for a device or a FIFO when inPlace is false, ENXIO for
    // a FIFO nobody reads.
    int Open(const std::string& path, mode_t limit = 07777, bool inPlace = true);
    int Fd() const { return m_fd; }
    // Where path lands, its links followed.
    const std::string& Target() const { return m_target; }
    // The part file's name; empty while writing a device or a FIFO.
    const std::string& Path() const { return m_part; }
    bool InPlace() const { return m_fd >= 0 && m_part.empty(); }
    // 0, else the errno of the write that failed.
    int Write(const void* data, std::size_t size);
    // Puts the written file in the target's place (a device or a FIFO is
    // only closed). 0, else an errno; the target is then as it was.
    int Commit();
    // Closes and removes the part file; the target is left alone.
    void Discard();

    // Removes what writers that did not finish left beside target: its part
    // files, and anything named after one, that no running writer holds.
    static void RemoveLeftovers(const std::string& target);

private:
    int m_fd = -1;
    std::string m_target;
    std::string m_part;
};

} // namespace platform
