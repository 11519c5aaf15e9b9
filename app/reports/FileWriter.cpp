#include "app/reports/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/File.h"

namespace reports {

namespace {

// The unfinished file beside the one it becomes (mkstemp's pattern).
constexpr const char* kPartSuffix = ".part-XXXXXX";
constexpr mode_t kNewFileMode = 0666;

// 0, or the error number of close(); EIO when it set none.
int CloseError(int fd) {
    return ::close(fd) == 0 ? 0 : errno ? errno : EIO;
}

} // namespace

FileWriter::~FileWriter() {
    Discard();
}

int FileWriter::Open(const std::string& path) {
    Discard();
    // The file a link names is the one written, also one not made yet.
    m_target = platform::FollowLinks(path.c_str());
    struct stat st {};
    const bool existed = ::stat(m_target.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))
        return EISDIR;
    if (existed && !S_ISREG(st.st_mode)) {
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return m_fd < 0 ? errno : 0;
    }
    const size_t slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : m_target.substr(0, slash + 1);
    m_part = folder + "." + m_target.substr(slash + 1) + kPartSuffix;
    m_fd = ::mkstemp(m_part.data());
    if (m_fd < 0) {
        m_part.clear();
        return errno;
    }
    ::fchmod(m_fd, existed ? st.st_mode & 07777 : kNewFileMode & ~platform::CurrentUmask());
    return 0;
}

int FileWriter::Write(const char* data, std::size_t size) {
    if (m_fd < 0)
        return EBADF;
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int FileWriter::Commit() {
    if (m_fd < 0)
        return EBADF;
    // A device or pipe may not sync; what it took is all it will take.
    int error = ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
    const int closed = CloseError(m_fd);
    m_fd = -1;
    if (error == 0)
        error = closed;
    if (error == 0 && !m_part.empty() && ::rename(m_part.c_str(), m_target.c_str()) != 0)
        error = errno;
    if (error == 0)
        m_part.clear();
    Discard();
    return error;
}

void FileWriter::Discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_part.empty())
        ::unlink(m_part.c_str());
    m_part.clear();
}

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

} // namespace reports
