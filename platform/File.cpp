#include "platform/File.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/PartFile.h"
#include "platform/Paths.h"
#include "platform/QuietWrite.h"
#include "platform/WinErr.h"

namespace platform {

namespace {

BOOL fail(int err) {
    SetLastErrorFromErrno(err);
    return FALSE;
}

std::string parentOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Windows tells a missing file (2) from a missing folder on the way (3).
DWORD missingCode(const std::string& path) {
    struct stat st;
    std::string parent = parentOf(path);
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

DWORD pathError(int err, const std::string& path) {
    if (err == ENOENT)
        return missingCode(path);
    return WinErrorFromErrno(err);
}

// What a copy of a file's bytes reads at a time.
constexpr std::size_t kCopyChunk = 64 * 1024;

// Where the kernel keeps a file's access ACL (the named users and groups,
// and the mask the group bits then stand for).
constexpr const char* kAccessAclAttribute = "system.posix_acl_access";

// An access ACL as get (getxattr's shape, without the name) reads it: empty
// when there is none, or its file system keeps none.
template <class Get>
bool ReadAcl(Get get, std::vector<char>& acl) {
    acl.clear();
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0 && (errno == ENODATA || errno == ENOTSUP))
            return true;
        if (size < 0)
            return false;
        acl.resize(static_cast<std::size_t>(size));
        const ssize_t got = get(acl.data(), acl.size());
        if (got >= 0) {
            acl.resize(static_cast<std::size_t>(got));
            return true;
        }
        // It grew in between: asked again.
        if (errno != ERANGE)
            return false;
    }
}

// That of the file at path, links followed: a descriptor's kernel name
// leads to the file open there, also one opened only to be found (O_PATH),
// which takes no call of its own.
bool ReadAccessAcl(const std::string& path, std::vector<char>& acl) {
    return ReadAcl(
        [&](void* into, std::size_t size) { return ::getxattr(path.c_str(), kAccessAclAttribute, into, size); }, acl);
}

// That of the file open at fd.
bool ReadAccessAcl(int fd, std::vector<char>& acl) {
    return ReadAcl([&](void* into, std::size_t size) { return ::fgetxattr(fd, kAccessAclAttribute, into, size); }, acl);
}

// That of the file at found (fstat found it as st), which name led to: by
// the descriptor where it was opened for more than finding it (O_PATH
// takes no xattr call), else by the kernel's name for it, else, where no
// /proc is mounted, by name, read only while the name leads to that very
// file before and after.
bool ReadFoundAcl(int found, const struct stat& st, const std::string& name, std::vector<char>& acl) {
    if (ReadAccessAcl(found, acl))
        return true;
    if (errno != EBADF)
        return false;
    if (ReadAccessAcl(DescriptorPath(found), acl))
        return true;
    if (errno != ENOENT || name.empty())
        return false;
    const auto same = [&] {
        struct stat named;
        return ::lstat(name.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino;
    };
    const bool read =
        same() &&
        ReadAcl(
            [&](void* into, std::size_t size) { return ::lgetxattr(name.c_str(), kAccessAclAttribute, into, size); },
            acl) &&
        same();
    if (!read)
        errno = ESTALE;
    return read;
}

// The access ACL in the kernel's form: a version, then entries of a tag,
// the permissions and an id, little-endian.
constexpr std::size_t kAclHeader = 4;
constexpr std::size_t kAclEntry = 8;
constexpr unsigned kAclUserObj = 0x01;
constexpr unsigned kAclGroupObj = 0x04;
constexpr unsigned kAclMask = 0x10;
constexpr unsigned kAclOther = 0x20;

// Caps acl's entries by the permission bits of mode as chmod would: the
// owner's, the mask's (the owning group's where there is none, which there
// is only with no named entry) and others'.
void CapAcl(std::vector<char>& acl, mode_t mode) {
    const auto tagAt = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(acl[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(acl[at + 1])) << 8;
    };
    bool masked = false;
    for (std::size_t at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry)
        masked = masked || tagAt(at) == kAclMask;
    for (std::size_t at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry) {
        const unsigned tag = tagAt(at);
        const mode_t allowed = tag == kAclUserObj                                    ? (mode >> 6) & 07
                               : tag == kAclMask || (tag == kAclGroupObj && !masked) ? (mode >> 3) & 07
                               : tag == kAclOther                                    ? mode & 07
                                                                                     : 07;
        acl[at + 2] = static_cast<char>(static_cast<unsigned char>(acl[at + 2]) & allowed);
    }
}

// Windows answers an empty path with "path not found".
bool refusedEmpty(const char* path) {
    if (path && *path)
        return false;
    SetLastError(ERROR_PATH_NOT_FOUND);
    return true;
}

BOOL failPath(int err, const std::string& path) {
    SetLastError(pathError(err, path));
    return FALSE;
}

FILETIME fromTimespec(std::int64_t sec, std::uint32_t nsec) {
    const INT64 ticks = UnixTimeToFileTimeTicks(sec, nsec);
    return FileTimeFromTicks(ticks < 0 ? 0 : ticks);
}

// Whether a file owned by owner, standing at path, is one the kernel's
// rules for shared folders let this process follow or write (see
// MayUseInSharedFolder).
bool MayUseOwnedBy(uid_t owner, const std::string& path) {
    struct stat folder;
    if (owner == ::geteuid())
        return true;
    return ::stat(parentOf(path).c_str(), &folder) == 0 && MayUseInFolder(owner, folder);
}

// Whether the folder at path is reached through no link at all: the
// kernel's one answer spares a look at each folder of the way.
bool ReachedWithoutLinks(const std::string& folder) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
    if (fd < 0)
        return false;
    ::close(static_cast<int>(fd));
    return true;
}

// The kernel's own bound on links followed in one lookup.
constexpr int kMaxLinkHops = 40;

// The first folder on the way to path (not its last part) that is a link
// MayUseInSharedFolder refuses, the way on from each link the user may
// follow judged too; empty when there is none.
std::string RefusedFolderLink(std::string path) {
    char target[PATH_MAX];
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        if (ReachedWithoutLinks(parentOf(path)))
            return {};
        std::size_t slash = path.find('/', 1);
        struct stat st;
        while (slash != std::string::npos && !(::lstat(path.substr(0, slash).c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
            slash = path.find('/', slash + 1);
        if (slash == std::string::npos)
            return {};
        const std::string folder = path.substr(0, slash);
        if (!MayUseInSharedFolder(folder))
            return folder;
        // A link the user may follow can lead through one planted further on.
        const ssize_t n = ::readlink(folder.c_str(), target, sizeof target - 1);
        if (n <= 0)
            return {};
        std::string next(target, static_cast<std::size_t>(n));
        if (next[0] != '/')
            next = parentOf(folder) + "/" + next;
        path = next + path.substr(slash);
    }
    return {};
}

// Whether the process holds CAP_FSETID, which keeps the setuid and setgid
// bits of a file it writes.
bool KeepsSetIds() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    constexpr unsigned kBitsPerWord = 32;
    return ::syscall(SYS_capget, &header, data) == 0 &&
           (data[CAP_FSETID / kBitsPerWord].effective & (1u << (CAP_FSETID % kBitsPerWord))) != 0;
}

// What a write by this process takes from a file of mode, as the kernel
// takes it: the setuid bit, and the setgid bit where the group may execute
// (without that it marks a lock, not an identity).
mode_t TakenByWrite(mode_t mode) {
    if (KeepsSetIds())
        return 0;
    const mode_t setgid = (mode & (S_ISGID | S_IXGRP)) == (S_ISGID | S_IXGRP) ? S_ISGID : 0;
    return S_ISUID | setgid;
}

} // namespace

HANDLE CreateFile(const char* path, DWORD access, DWORD shareMode, DWORD disposition, DWORD flagsAndAttributes) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string p = NormalizeSeparators(path);
    bool wantWrite = (access & GENERIC_WRITE) != 0;
    bool wantRead = (access & GENERIC_READ) != 0 || !wantWrite;
    int flags = O_CLOEXEC;
    if (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) {
        flags |= O_RDONLY | O_DIRECTORY;
        if (disposition != OPEN_EXISTING) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
    } else {
        flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    }
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL | O_NOFOLLOW; break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING: break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    bool existed = ::stat(p.c_str(), &st) == 0;
    if (existed && wantWrite && !S_ISDIR(st.st_mode) && WriteRefusal(p) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && S_ISDIR(st.st_mode) && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Files are created without the owner write bit only when asked for the
    // read-only attribute; the umask decides the rest.
    mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    // Never waiting on a FIFO: a read opened so finds no writer at once
    // (end of file), a write finds nobody reading (ERROR_NOT_READY).
    // A write lands where the kernel's strictest rule lets a link lead, as
    // every other writer's does, whatever this machine's sysctls say.
    const bool followed = wantWrite && disposition != CREATE_NEW;
    int fd = followed ? OpenFollowed(FollowLinks(p.c_str()), flags | O_NONBLOCK, mode)
                      : ::open(p.c_str(), flags | O_NONBLOCK, mode);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (fd < 0) {
        if (errno == EEXIST)
            SetLastError(ERROR_FILE_EXISTS);
        else
            failPath(errno, p);
        return INVALID_HANDLE_VALUE;
    }
    // The lock is taken before truncating, so a refused open changes nothing.
    int lockOp = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::flock(fd, lockOp) != 0) {
        int err = errno;
        ::close(fd);
        SetLastError(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : WinErrorFromErrno(err));
        return INVALID_HANDLE_VALUE;
    }
    // As open()'s O_TRUNC: only a regular file is emptied; a device or a
    // pipe is written as it stands.
    struct stat opened;
    const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && regular && ::ftruncate(fd, 0) != 0) {
        int err = errno;
        ::close(fd);
        fail(err);
        return INVALID_HANDLE_VALUE;
    }
    // Windows reports an existing file opened by CREATE_ALWAYS / OPEN_ALWAYS.
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return fd;
}

BOOL CloseHandle(HANDLE h) {
    if (h < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (::close(static_cast<int>(h)) != 0 && errno != EINTR)
        return fail(errno);
    return TRUE;
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read) {
    if (read)
        *read = 0;
    DWORD done = 0;
    while (done < count) {
        ssize_t r = ::read(static_cast<int>(h), static_cast<char*>(buffer) + done, count - done);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (read)
                *read = done;
            return fail(errno);
        }
        if (r == 0)
            break;
        done += static_cast<DWORD>(r);
    }
    if (read)
        *read = done;
    return TRUE;
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written) {
    // A reader that left or a file-size limit is an error, never a signal
    // that ends the process.
    std::size_t done = 0;
    const int error = WriteQuietly(static_cast<int>(h), buffer, count, &done);
    if (written)
        *written = static_cast<DWORD>(done);
    return error == 0 ? TRUE : fail(error);
}

DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD method) {
    std::int64_t distance;
    if (distanceHigh)
        distance = static_cast<std::int64_t>((static_cast<UINT64>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                             static_cast<DWORD>(distanceLow));
    else
        distance = distanceLow;
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t pos = ::lseek(static_cast<int>(h), static_cast<off_t>(distance), whence);
    if (pos < 0) {
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : WinErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(static_cast<UINT64>(pos) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<UINT64>(pos) & 0xFFFFFFFFu);
}

DWORD GetFileSize(HANDLE h, DWORD* sizeHigh) {
    struct stat st;
    if (::fstat(static_cast<int>(h), &st) != 0) {
        fail(errno);
        return INVALID_FILE_SIZE;
    }
    UINT64 size = static_cast<UINT64>(st.st_size);
    if (sizeHigh)
        *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL GetFileTime(HANDLE h, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    struct statx sx;
    if (::statx(static_cast<int>(h), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return fail(errno);
    FILETIME write = fromTimespec(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    if (lastWrite)
        *lastWrite = write;
    if (lastAccess)
        *lastAccess = fromTimespec(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    if (creation)
        *creation = (sx.stx_mask & STATX_BTIME) ? fromTimespec(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : write;
    return TRUE;
}

DWORD GetFileAttributes(const char* path) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string p = NormalizeSeparators(path);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
        failPath(errno, p);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attrs = 0;
    if (S_ISDIR(st.st_mode))
        attrs |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(st.st_mode & S_IWUSR))
        attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs ? attrs : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributes(const char* path, DWORD attributes) {
    if (refusedEmpty(path))
        return FALSE;
    std::string p = NormalizeSeparators(path);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0)
        return failPath(errno, p);
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    if (mode != (st.st_mode & 07777) && ::chmod(p.c_str(), mode) != 0)
        return failPath(errno, p);
    return TRUE;
}

BOOL DeleteFile(const char* path) {
    if (refusedEmpty(path))
        return FALSE;
    std::string p = NormalizeSeparators(path);
    if (::unlink(p.c_str()) != 0) {
        // Deleting a folder as a file is refused as it is there.
        if (errno == EISDIR) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return failPath(errno, p);
    }
    return TRUE;
}

BOOL CreateDirectory(const char* path) {
    if (refusedEmpty(path))
        return FALSE;
    std::string p = NormalizeSeparators(path);
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (::mkdir(p.c_str(), 0777) != 0) {
        if (errno == ENOENT) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        return failPath(errno, p);
    }
    return TRUE;
}

BOOL CreateNewPrivateFile(const char* path) {
    if (refusedEmpty(path))
        return FALSE;
    std::string p = NormalizeSeparators(path);
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) {
            SetLastError(ERROR_FILE_EXISTS);
            return FALSE;
        }
        return failPath(errno, p);
    }
    ::close(fd);
    return TRUE;
}

PathKind GetPathKind(const char* path) {
    if (!path || !*path)
        return PathKind::Absent;
    struct stat st;
    if (::stat(NormalizeSeparators(path).c_str(), &st) != 0)
        return PathKind::Absent;
    if (S_ISREG(st.st_mode))
        return PathKind::Regular;
    return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
}

bool IsRegularHandle(HANDLE h) {
    struct stat st;
    return h >= 0 && ::fstat(static_cast<int>(h), &st) == 0 && S_ISREG(st.st_mode);
}

bool WaitForWriter(HANDLE h) {
    struct stat st;
    if (h < 0 || ::fstat(static_cast<int>(h), &st) != 0 || !S_ISFIFO(st.st_mode))
        return true;
    // A FIFO opened for reading with no writer yet polls readable only once
    // one has written, or hung up after coming.
    pollfd wait = {static_cast<int>(h), POLLIN, 0};
    int ready;
    while ((ready = ::poll(&wait, 1, -1)) < 0 && errno == EINTR) {
    }
    return ready > 0;
}

int WriteRefusal(const std::string& path) {
    // Where a write through path lands, or the link it stops at.
    if (!MayUseInSharedFolder(FollowLinks(path.c_str())))
        return EACCES;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? WriteRefusalOf(AT_FDCWD, path, st) : 0;
}

int WriteRefusalOf(int folder, const std::string& name, const struct stat& st) {
    if ((st.st_mode & S_IWUSR) == 0)
        return EACCES;
    return ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

std::size_t LongestName(const std::string& folder) {
    const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? static_cast<std::size_t>(max) : NAME_MAX;
}

bool MayUseInSharedFolder(const std::string& path) {
    struct stat target;
    return ::lstat(path.c_str(), &target) != 0 || MayUseOwnedBy(target.st_uid, path);
}

int OpenedRefusal(int fd, const std::string& path) {
    struct stat opened;
    if (::fstat(fd, &opened) != 0)
        return errno;
    return MayUseOwnedBy(opened.st_uid, path) ? 0 : EACCES;
}

bool MayUseInFolder(uid_t owner, const struct stat& folder) {
    // A sticky folder others may write: where any of them may plant a name,
    // but not remove another's. The kernel's strictest rules count a folder
    // only its group may write too.
    constexpr mode_t kOthersWrite = S_IWOTH | S_IWGRP;
    if (owner == ::geteuid())
        return true;
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & kOthersWrite) != 0;
    return !shared || folder.st_uid == owner;
}

bool FolderOnlyYouWrite(const std::string& path) {
    struct stat folder;
    return ::stat(parentOf(path).c_str(), &folder) == 0 && folder.st_uid == ::geteuid() &&
           (folder.st_mode & (S_IWOTH | S_IWGRP)) == 0;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return !a.empty() && !b.empty() && ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string FollowLinks(const char* path) {
    std::string p = NormalizeSeparators(path ? path : "");
    char target[PATH_MAX];
    for (int hop = 0; hop < kMaxLinkHops && !p.empty(); ++hop) {
        // A folder's link on the way is followed by the kernel as a last
        // part's would be, so refused alike.
        if (std::string refused = RefusedFolderLink(p); !refused.empty())
            return refused;
        // Asked first, as most names are no link; whose link it is counts
        // before it is followed.
        const ssize_t n = ::readlink(p.c_str(), target, sizeof target - 1);
        if (n <= 0 || !MayUseInSharedFolder(p))
            break;
        std::string next(target, static_cast<std::size_t>(n));
        if (next[0] != '/')
            next = parentOf(p) + "/" + next;
        p = next;
    }
    return p;
}

int OpenFollowed(const std::string& target, int flags, mode_t mode) {
    const int fd = ::open(target.c_str(), flags | O_NOFOLLOW, mode);
    if (fd < 0 && errno == ELOOP && !MayUseInSharedFolder(target))
        errno = EACCES;
    // What stood there a moment before is not what counts: another account
    // may have planted the name since it was looked at.
    if (const int refusal = fd >= 0 ? OpenedRefusal(fd, target) : 0) {
        ::close(fd);
        errno = refusal;
        return -1;
    }
    return fd;
}

BOOL SetEndOfFile(HANDLE h) {
    const off_t here = ::lseek(static_cast<int>(h), 0, SEEK_CUR);
    if (here < 0 || ::ftruncate(static_cast<int>(h), here) != 0)
        return fail(errno);
    return TRUE;
}

mode_t CurrentUmask() {
    // Setting the mask to read it back would leave it 0 for a moment, and a
    // file another thread made then would be open to everyone. The kernel
    // reports it; where it cannot be read, files are kept to their owner.
    constexpr mode_t kPrivateMask = 077;
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return kPrivateMask;
    char line[256];
    unsigned mask = kPrivateMask;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "Umask: %o", &mask) == 1)
            break;
    }
    std::fclose(status);
    return static_cast<mode_t>(mask & 0777);
}

mode_t NewFileMode() {
    return 0666 & ~CurrentUmask();
}

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

bool PermissionsOf(int found, const std::string& name, mode_t limit, Permissions& out) {
    struct stat st;
    if (::fstat(found, &st) != 0)
        return false;
    out.uid = st.st_uid;
    out.gid = st.st_gid;
    const mode_t mode = st.st_mode & 07777;
    out.mode = mode & limit & ~TakenByWrite(mode);
    // Without its ACL the group bits (the ACL's mask) would go to the owning
    // group, which the ACL may have shut out, and the named users would lose
    // theirs. Its entries are capped as the mode is, so that giving it
    // grants no more than the mode given after it.
    if (!ReadFoundAcl(found, st, name, out.acl))
        return false;
    CapAcl(out.acl, out.mode);
    return true;
}

bool MadePermissions(int made, const struct stat& madeStat, Permissions& out) {
    out.uid = madeStat.st_uid;
    out.gid = madeStat.st_gid;
    out.mode = madeStat.st_mode & 07777;
    if (!ReadAccessAcl(made, out.acl))
        return false;
    out.ownAcl = !out.acl.empty();
    return true;
}

int GivePermissions(int fd, const struct stat& own, const Permissions& given) {
    // Every step leaves the file within what it is given: its bits beyond
    // that go first, then the owner and group, the ACL, the mode.
    const mode_t held = own.st_mode & 0777;
    if ((held & ~given.mode) != 0 && ::fchmod(fd, held & given.mode) != 0)
        return errno;
    if ((own.st_uid != given.uid || own.st_gid != given.gid) && ::fchown(fd, given.uid, given.gid) != 0)
        return errno;
    // A file made without an ACL (given.ownAcl false) has none to take away.
    if (given.acl.empty()
            ? given.ownAcl && ::fremovexattr(fd, kAccessAclAttribute) != 0 && errno != ENODATA && errno != ENOTSUP
            : ::fsetxattr(fd, kAccessAclAttribute, given.acl.data(), given.acl.size(), 0) != 0)
        return errno;
    // The bits it has already are not given again; an ACL's mask is.
    if (given.acl.empty() && (own.st_mode & 07777) == given.mode && own.st_uid == given.uid)
        return 0;
    return ::fchmod(fd, given.mode) == 0 ? 0 : errno;
}

int RenameFileIn(int folder, const std::string& from, const std::string& to, bool replace) {
    if (replace)
        return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    // A file system without the no-replace flag: a link and an unlink keep
    // what stands at to the same way.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return errno;
    if (::unlinkat(folder, from.c_str(), 0) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(folder, to.c_str(), 0);
    return error;
}

std::string GetCurrentDirectory() {
    std::vector<char> buf(4096);
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE || buf.size() > (1u << 20)) {
            fail(errno);
            return {};
        }
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

std::string GetFullPathName(std::string_view path) {
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    std::string p = NormalizeSeparators(path);
    if (p.front() != '/') {
        std::string cwd = GetCurrentDirectory();
        if (cwd.empty())
            return {};
        p = cwd + "/" + p;
    }
    std::vector<std::string> parts;
    std::string::size_type i = 0;
    while (i <= p.size()) {
        std::string::size_type j = p.find('/', i);
        if (j == std::string::npos)
            j = p.size();
        std::string part = p.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& part : parts)
        out += "/" + part;
    // A trailing separator names a folder; keep it as Windows does.
    if (out.empty() || p.back() == '/')
        out += "/";
    return out;
}

std::string DescriptorPath(int fd) {
    return kDescriptorFolder + std::to_string(fd);
}

bool DescriptorPathLeadsTo(int fd) {
    struct stat named, opened;
    return ::stat(DescriptorPath(fd).c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

int PrivateFolder::MakeFile(const std::string& name, std::string& path) {
    if (m_path.empty()) {
        std::string folder = GetTempPath() + "grv-XXXXXX";
        if (!::mkdtemp(folder.data()))
            return -1;
        m_path = folder;
    }
    path = m_path + "/" + name;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0)
        m_files.push_back({name, st});
    return fd;
}

void PrivateFolder::Remove() {
    const int folder = m_files.empty() ? -1 : ::open(m_path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    for (const Made& made : m_files) {
        if (folder >= 0)
            (void)RemoveSameIn(folder, made.name, made.st);
    }
    if (folder >= 0)
        ::close(folder);
    m_files.clear();
    if (!m_path.empty())
        ::rmdir(m_path.c_str());
    m_path.clear();
}

int CopyFileBytes(int from, int to) {
    std::vector<char> chunk(kCopyChunk);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(from, chunk.data(), chunk.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : 0;
        if (const int error = WriteQuietly(to, chunk.data(), static_cast<std::size_t>(n)))
            return error;
        at += n;
    }
}

std::string GetTempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string out = (dir && *dir) ? NormalizeSeparators(dir) : std::string("/tmp");
    if (out.back() != '/')
        out += '/';
    return out;
}

} // namespace platform
