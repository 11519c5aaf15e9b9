#pragma once
// Files and directories in the shape of the Win32 calls the library is
// written against, over POSIX. Paths are UTF-8 with '\' taken as '/'.
// Failures set the thread's last error to the Windows code.
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTime.h"
#include "platform/WinTypes.h"

namespace platform {

// A handle is the file descriptor.
using HANDLE = long;
constexpr HANDLE INVALID_HANDLE_VALUE = -1;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;

constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// Sharing is kept between opens through whole-file advisory locks: a handle
// opened without sharing holds an exclusive lock, any other a shared one, so
// a conflicting open fails with ERROR_SHARING_VIOLATION as it would there.
// A file without its owner write bit is read-only: opening it for writing
// fails with ERROR_ACCESS_DENIED even for root. FILE_FLAG_BACKUP_SEMANTICS
// opens a directory. Security attributes and templates are not used.
HANDLE CreateFile(const char* path, DWORD access, DWORD shareMode, DWORD disposition, DWORD flagsAndAttributes);
BOOL CloseHandle(HANDLE h);
BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read);
BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written);
// The low word of the new position; INVALID_SET_FILE_POINTER with the last
// error set on failure (the last error is cleared on success, since a valid
// position may have the same low word).
DWORD SetFilePointer(HANDLE h, LONG distanceLow, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE h, DWORD* sizeHigh);
BOOL GetFileTime(HANDLE h, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);

DWORD GetFileAttributes(const char* path);
// Only the read-only bit changes anything.
BOOL SetFileAttributes(const char* path, DWORD attributes);
BOOL DeleteFile(const char* path);
BOOL CreateDirectory(const char* path);
// Creates an empty file readable and writable by its owner only, refusing an
// existing name and symbolic links (ERROR_FILE_EXISTS), so the name is ours
// once this succeeds.
BOOL CreateNewPrivateFile(const char* path);

// What stands at a path, symbolic links followed.
enum class PathKind { Absent, Regular, Directory, Other };
PathKind GetPathKind(const char* path);
// Whether the handle is open on a regular file (not a device or a pipe).
bool IsRegularHandle(HANDLE h);
// Waits, as every reader of a FIFO does, until the FIFO the handle reads
// (opened without waiting, see CreateFile) has had a writer: until then a
// read finds an end of file that is not the input's. At once for anything
// else. False when the wait failed.
bool WaitForWriter(HANDLE h);
// Whether the kernel's rules for shared folders, at their strictest and read
// together (fs.protected_symlinks, _fifos and _regular), let this process
// follow or write what stands at path, whatever the sysctls say on this
// machine and whoever the process is, root included: not a link, FIFO,
// regular file or device in a sticky folder others may write (/tmp) that is
// owned by neither the process's user nor the folder's owner. True when
// nothing stands there.
bool MayUseInSharedFolder(const std::string& path);
// Where a write through path lands: the symbolic links of its last part
// followed, relative ones from the link's folder (also to a target that does
// not exist yet); the path itself when it is no link. A link
// MayUseInSharedFolder refuses (or one past the kernel's 40 hops) is where
// it stops, a folder's on the way too: the answer is then still a link,
// which no writer may replace or write through.
std::string FollowLinks(const char* path);
// Opens target, FollowLinks' answer for a path, never through a link: one
// it stopped at is refused, EACCES when it is planted in a shared folder;
// so is what the open found there when the rule refuses it as a write
// target (OpenedRefusal). The descriptor, else -1 with errno set.
int OpenFollowed(const std::string& target, int flags, mode_t mode);
// Why the file open at fd, found at path, may not be written by the rule
// for shared folders (MayUseInSharedFolder's, asked of what was opened, not
// of what stood at the name before): EACCES when another account planted
// it there; 0 otherwise. Its mode is not judged: a read-only file is
// refused before it is opened (WriteRefusal).
int OpenedRefusal(int fd, const std::string& path);
// The same rule asked of a file of owner in the folder stat found as folder.
bool MayUseInFolder(uid_t owner, const struct stat& folder);
// Whether the folder the file at path stands in is the process user's and
// neither its group nor others may write it (an ACL's named entries go with
// the group bits, its mask).
bool FolderOnlyYouWrite(const std::string& path);
// Cuts a regular file at the handle's position.
BOOL SetEndOfFile(HANDLE h);
// What a writer gives the file that takes a name: its owner, group,
// permission bits and access ACL (in the kernel's form; empty for none).
struct Permissions {
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    std::vector<char> acl;
    // Whether the file they are given to may have an ACL of its own (made
    // under a folder's default ACL) that acl's being empty takes away.
    bool ownAcl = true;
};
// Those the file open at found (O_PATH will do) has now, for a copy no bit
// of which goes outside limit (to a named user either, nor in the ACL): the
// setuid and setgid bits go as a write by this process would take them
// away. Its ACL is read through name, a path that led to found, only where
// no /proc is mounted and only while it still leads there. False, errno
// set, when they cannot be read (ESTALE: it left that name).
bool PermissionsOf(int found, const std::string& name, mode_t limit, Permissions& out);
// Those open(O_CREAT) gave made, a file this process just made as a new
// file, asked for what the new file is to get, which fstat found as
// madeStat.
bool MadePermissions(int made, const struct stat& madeStat, Permissions& out);
// Gives the file open at fd, which fstat found as own, the permissions: 0,
// else the errno (EPERM where the process may not give it that owner or
// group).
int GivePermissions(int fd, const struct stat& own, const Permissions& given);
// The process's umask, read without changing it (077 where the kernel does
// not say).
mode_t CurrentUmask();
// The permission bits open() gives a new file asked for 0666.
mode_t NewFileMode();
// Why the existing file at path may not be written: EACCES when it is
// read-only (no owner write bit, which binds root too), the kernel would
// refuse this process a write, or another account planted it (or a link on
// the way) in a shared folder (MayUseInSharedFolder); 0 when it may, or
// when nothing is there.
int WriteRefusal(const std::string& path);
// The part of that rule asked of what stat found at name in the folder open
// at folder (AT_FDCWD: name is a path), once the shared-folder rule was
// asked: read-only, or refused a write by the kernel.
int WriteRefusalOf(int folder, const std::string& name, const struct stat& st);
// Whether a and b name one file, links followed; false when either is not
// there.
bool IsSameFile(const std::string& a, const std::string& b);
// The longest name, in bytes, the folder holds (the current one when empty).
std::size_t LongestName(const std::string& folder);
// Whether a write failed for want of room (a full disk or quota).
bool IsDiskFull(int error);
// Renames from to to, both names in the folder open at folder: over what
// stands there when replace is true, else only where nothing does (EEXIST).
// 0, else the errno.
int RenameFileIn(int folder, const std::string& from, const std::string& to, bool replace);

// The absolute path with "." and ".." resolved and repeated separators
// collapsed; empty (and the last error set) when the current directory is
// unknown or the path is empty.
std::string GetFullPathName(std::string_view path);
std::string GetCurrentDirectory();
// TMPDIR, else /tmp, with a trailing '/'.
std::string GetTempPath();
// What the kernel names the file open at fd by: a name that leads to that
// file alone, whatever is done meanwhile to the path it was opened by, for
// a library that opens files only by name.
inline constexpr const char* kDescriptorFolder = "/proc/self/fd/";
std::string DescriptorPath(int fd);
// Whether DescriptorPath(fd) leads to the file open at fd: not where no
// /proc is mounted (a chroot, a container, a build sandbox).
bool DescriptorPathLeadsTo(int fd);
// Where such a library is handed a file by name when DescriptorPath will
// not do: a folder only this process's user may enter (0700), made under
// GetTempPath() at the first file, and removed with its files by Remove or
// when it goes.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder() { Remove(); }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    // A new empty file of name in it, private, open for reading and
    // writing: its descriptor (the caller's to close) and its path; else
    // -1, errno set.
    int MakeFile(const std::string& name, std::string& path);
    void Remove();

private:
    std::string m_path;
    // The files made, each removed only while its name still leads to it.
    struct Made {
        std::string name;
        struct stat st;
    };
    std::vector<Made> m_files;
};
// Copies the bytes of the file open at from, all of them from its start,
// to the end of the one open at to: 0, else the errno.
int CopyFileBytes(int from, int to);

} // namespace platform
