#include "platform/PartFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/File.h"

namespace platform {

namespace {

constexpr const char* kPartTag = ".part-";
// mkostemp's unique part, and the characters it draws them from.
constexpr const char* kUniquePattern = "XXXXXX";
constexpr std::size_t kUniqueLength = 6;

struct Split {
    std::string folder; // with its trailing separator, empty for the current one
    std::string name;
};

Split SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool IsUniqueChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether a writer holds the part file at path (its lock is taken at once
// and kept until the file is renamed or removed).
bool HeldByAWriter(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace

mode_t ReadersOf(const std::string& source) {
    struct stat st;
    if (::stat(source.c_str(), &st) != 0)
        return 07777;
    return 07700 | (st.st_mode & 0077);
}

PartFile::~PartFile() {
    Discard();
}

int PartFile::Open(const std::string& path, mode_t limit, bool inPlace) {
    Discard();
    m_target = FollowLinks(path.c_str());
    struct stat st;
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return EISDIR;
    if (exists && !S_ISREG(st.st_mode)) {
        if (!inPlace)
            return ENODEV;
        // Not blocking on a FIFO nobody reads: that would hang for good.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return errno;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
        return 0;
    }
    const Split where = SplitPath(m_target);
    std::string part = where.folder + where.name + kPartTag + kUniquePattern;
    const int fd = ::mkostemp(part.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    m_fd = fd;
    m_part = part;
    // Taken before anything is written, so a later cleanup passes it by.
    ::flock(fd, LOCK_EX);
    if (!CopyPermissions(fd, m_target.c_str(), limit)) {
        const int error = errno ? errno : EACCES;
        Discard();
        return error;
    }
    return 0;
}

int PartFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int PartFile::Commit() {
    if (m_fd < 0)
        return EBADF;
    int error = 0;
    if (!m_part.empty()) {
        // The data is on the disk before the name points at it.
        if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
            error = errno;
        // Renamed while still held, so no cleanup takes it in between.
        if (error == 0)
            error = RenameOverRegularFile(m_part, m_target);
        if (error != 0) {
            Discard();
            return error;
        }
        m_part.clear();
    }
    if (::close(m_fd) != 0)
        error = errno;
    m_fd = -1;
    return error;
}

void PartFile::Discard() {
    if (!m_part.empty())
        ::unlink(m_part.c_str());
    m_part.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void PartFile::RemoveLeftovers(const std::string& target) {
    const Split where = SplitPath(FollowLinks(target.c_str()));
    const std::string prefix = where.name + kPartTag;
    DIR* dir = ::opendir(where.folder.empty() ? "." : where.folder.c_str());
    if (!dir)
        return;
    const uid_t me = ::geteuid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < prefix.size() + kUniqueLength || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        bool unique = true;
        for (std::size_t i = prefix.size(); i < prefix.size() + kUniqueLength; ++i)
            unique = unique && IsUniqueChar(name[i]);
        const std::string path = where.folder + name;
        struct stat st;
        if (!unique || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || st.st_uid != me)
            continue;
        // What is named after a part file goes with it, once nobody holds it.
        if (!HeldByAWriter(where.folder + name.substr(0, prefix.size() + kUniqueLength)))
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}

} // namespace platform
