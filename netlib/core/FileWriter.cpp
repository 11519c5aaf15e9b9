#include "netlib/core/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "platform/File.h"
#include "platform/QuietWrite.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

// How often an open tries a name that keeps appearing and vanishing.
constexpr int kOpenAttempts = 4;
// A shared append's bytes that nothing is known to follow.
constexpr std::int64_t kNoSharedEnd = -1;
// Another writer's bytes came between two of this one's.
constexpr std::int64_t kSharedEndLost = -2;

} // namespace

FileWriter::~FileWriter() {
    discard();
}

bool FileWriter::fail(int error, LogBase* log) {
    m_error = error;
    platform::SetLastErrorFromErrno(error);
    if (log == nullptr)
        return false;
    struct stat st;
    const bool fifo = ::stat(m_path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    if (error == ENXIO && fifo)
        log->logError(filesys_msg::kNobodyReadsPipe);
    else if (error == EPIPE)
        log->logError(filesys_msg::kPipeReaderLeft);
    else if (const char* why = platform::RefusalReason(error, m_path))
        log->logError(why);
    log->logData("filename", m_path.c_str());
    log->logWindowsError(platform::GetLastError());
    return false;
}

bool FileWriter::open(const char* utf8Path, Mode mode, LogBase* log) {
    discard();
    m_error = 0;
    m_start = 0;
    m_sharedEnd = kNoSharedEnd;
    m_shared = mode == Mode::AppendShared;
    m_path = writePathUtf8(utf8Path);
    if (m_path.empty())
        return fail(ENOENT, log);
    // Why a file that stands may not be written.
    auto refused = [&](int refusal) {
        if (log && platform::MayUseInSharedFolder(platform::FollowLinks(m_path.c_str())))
            log->logError(filesys_msg::kReadOnlyFile);
        return fail(refusal, log);
    };
    if (mode == Mode::Replace || mode == Mode::ReplaceRegular) {
        // The part judges what stands at the path as a write would judge it,
        // a device or a FIFO written in place too; asked again here only to
        // word a refusal.
        m_part.SetDurability(platform::Durability::Unsynced);
        const int error = m_part.Open(m_path, 07777, mode == Mode::Replace);
        if (error != 0) {
            if (const int refusal = error == EACCES ? platform::WriteRefusal(m_path) : 0)
                return refused(refusal);
            return fail(error, log);
        }
        m_created = m_part.Created();
        m_regular = !m_part.InPlace();
        // What a writer killed midway left beside the file.
        m_part.RemoveLeftovers();
        return true;
    }
    struct stat st;
    bool existed = ::stat(m_path.c_str(), &st) == 0;
    // Links are followed where the kernel would follow them, as a replace
    // follows them, whatever this machine's sysctl says.
    const std::string target = platform::FollowLinks(m_path.c_str());
    const int shared = m_shared ? O_APPEND : 0;
    int access = O_RDWR | shared;
    // The file is this open's only where the kernel made it for it: one
    // another program makes after the look above is theirs.
    // A file found is opened without O_CREAT: gone again before the open,
    // the name is tried as free once more, so that a file made then is the
    // kernel's answer too. The last try creates as open(O_CREAT) would.
    m_created = false;
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        const bool last = attempt == kOpenAttempts;
        if (!existed) {
            m_fd = platform::OpenFollowed(target, access | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
            m_created = m_fd >= 0;
            if (m_created)
                break;
            if (errno != EEXIST)
                return fail(errno, log);
            existed = ::stat(m_path.c_str(), &st) == 0;
            if (!existed && !last)
                continue;
        }
        if (existed && S_ISDIR(st.st_mode))
            return fail(EISDIR, log);
        if (const int refusal = existed ? platform::WriteRefusal(m_path) : 0)
            return refused(refusal);
        // Not blocking on a FIFO nobody reads (ENXIO), and never opened for
        // reading too, which would make it its own reader; a regular file
        // is, so that it can be read back.
        access = (!existed || S_ISREG(st.st_mode) ? O_RDWR : O_WRONLY) | shared;
        const int create = existed && !last ? 0 : O_CREAT;
        m_fd = platform::OpenFollowed(target, access | create | O_NONBLOCK | O_CLOEXEC, 0666);
        if (m_fd >= 0 || errno != ENOENT || create != 0)
            break;
        existed = false;
    }
    m_regular = m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    if (m_fd >= 0 && !m_regular && (access & O_ACCMODE) == O_RDWR) {
        ::close(m_fd);
        m_fd = platform::OpenFollowed(target, O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0);
    }
    if (m_fd < 0)
        return fail(errno, log);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    if (m_regular) {
        m_start = static_cast<std::int64_t>(st.st_size);
        if (::lseek(m_fd, 0, SEEK_END) < 0) {
            const int error = errno;
            discard();
            return fail(error, log);
        }
    }
    return true;
}

bool FileWriter::write(const void* data, std::uint64_t size, std::uint64_t* written, LogBase* log) {
    std::size_t done = 0;
    const int error = isOpen() ? platform::WriteQuietly(fd(), data, static_cast<std::size_t>(size), &done) : EBADF;
    if (written)
        *written = done;
    if (m_shared && m_regular && done != 0)
        noteSharedWrite(static_cast<std::int64_t>(done));
    return error == 0 || fail(error, log);
}

void FileWriter::noteSharedWrite(std::int64_t done) {
    // Each write landed where the file then ended and left the position
    // after its bytes; another writer's bytes between two of this one's
    // leave nothing this one may cut.
    const off_t end = ::lseek(fd(), 0, SEEK_CUR);
    const std::int64_t began = static_cast<std::int64_t>(end) - done;
    if (m_sharedEnd == kNoSharedEnd)
        m_start = began;
    const bool follows = m_sharedEnd == kNoSharedEnd || m_sharedEnd == began;
    m_sharedEnd = end >= 0 && follows ? static_cast<std::int64_t>(end) : kSharedEndLost;
}

bool FileWriter::cutAt(std::int64_t size, LogBase* log) {
    if (!isOpen())
        return fail(EBADF, log);
    if (!m_regular)
        return true;
    if (m_shared)
        return fail(ESPIPE, log);
    if (::ftruncate(fd(), size) != 0)
        return fail(errno, log);
    if (size < m_start)
        m_start = size;
    return true;
}

bool FileWriter::commit(LogBase* log) {
    if (m_part.Fd() >= 0) {
        const int error = m_part.Commit();
        return error == 0 || fail(error, log);
    }
    if (m_fd < 0)
        return fail(EBADF, log);
    const int closed = ::close(m_fd);
    m_fd = -1;
    return closed == 0 || errno == EINTR || fail(errno, log);
}

int FileWriter::discardMade() {
    // A part goes with discard(); an opened file only by this rule.
    const int error = !m_created || !m_regular || m_fd < 0 ? 0 : platform::RemoveMadeFile(m_fd, m_path);
    discard();
    return error;
}

void FileWriter::discard() {
    m_part.Discard();
    if (m_fd < 0)
        return;
    // What this append added goes; what was there stays, and so does what
    // another writer of a shared file added after it.
    struct stat st;
    if (m_regular && ::fstat(m_fd, &st) == 0 &&
        (m_shared ? m_sharedEnd >= 0 && st.st_size == m_sharedEnd : st.st_size != m_start))
        (void)::ftruncate(m_fd, m_start);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace tessik
