#include "platform/PartFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/CryptProv.h"
#include "platform/File.h"
#include "platform/FolderIndex.h"
#include "platform/QuietWrite.h"

namespace platform {

namespace {

// A part file is ".<name>.part-XXXXXX": hidden, and told from any name a
// user gives by its leading dot and exact shape.
constexpr const char* kPartLead = ".";
constexpr const char* kPartTag = ".part-";
// A part's unique tail: six letters or digits, drawn at random.
constexpr std::size_t kUniqueLength = 6;
constexpr const char kUniqueChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// How many unique tails are tried before a folder counts as full of parts.
constexpr int kNameAttempts = 100;
// A part stays its writer's alone until it has the name and its
// permissions.
constexpr mode_t kPrivatePart = 0600;
// A part a cleanup took between its making and its lock is made again.
constexpr int kPartAttempts = 8;
// How often a commit looks at its target again when it changed in between.
constexpr int kCommitAttempts = 8;
// A part may be a journal copied through SQLite, which keeps side files
// beside it.
constexpr std::size_t kLongestSideSuffix = std::char_traits<char>::length(kDatabaseSideSuffixes[0]);
// The reasons RefusalReason gives.
constexpr const char* kPlantedText = "another account put it in a folder others share, where it is not written";
constexpr const char* kGivenAwayText = "it belongs to another account or group, and replacing it would give it away";
constexpr const char* kOtherNamesText = "it has other names (hard links), which replacing it would part it from";
constexpr const char* kNameTakenText =
    "another account's file took its name while it was written, and was left as that account made it";
constexpr const char* kFolderMovedText =
    "its folder was moved away or replaced while it was written, so nothing was put there";
constexpr const char* kFoundMovedText =
    "the file it replaces was moved away while it was written, and with no /proc mounted its permissions could not "
    "be read, so nothing was put there";
constexpr const char* kPartRemovedText =
    "another program removed or replaced the file it was being written to, so nothing was put there";
constexpr const char* kNoNewNamesText =
    "its folder lets you change it but not add a file beside it, which replacing it safely needs";

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

// The target's name as its part files carry it: cut, at a character's
// start, so that a part and any side file SQLite adds to it fit the folder.
std::string PartStem(const std::string& name, std::size_t nameMax) {
    const std::size_t added = std::strlen(kPartLead) + std::strlen(kPartTag) + kUniqueLength + kLongestSideSuffix;
    if (nameMax <= added)
        return std::string();
    std::size_t keep = std::min(name.size(), nameMax - added);
    // UTF-8 continuation bytes are 10xxxxxx.
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep);
}

// What the part names of a target of that name start with, in a folder
// that holds names of nameMax bytes.
std::string PartPrefix(const std::string& name, std::size_t nameMax) {
    return kPartLead + PartStem(name, nameMax) + kPartTag;
}

bool MatchesPart(const std::string& prefix, const std::string& entry) {
    if (entry.size() < prefix.size() + kUniqueLength || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < prefix.size() + kUniqueLength; ++i) {
        if (!IsUniqueChar(entry[i]))
            return false;
    }
    const std::string tail = entry.substr(prefix.size() + kUniqueLength);
    if (tail.empty())
        return true;
    for (const char* suffix : kDatabaseSideSuffixes) {
        if (tail == suffix)
            return true;
    }
    return false;
}

// What a name RemoveSameIn sets a file aside under ends with, which no part
// or side file of SQLite's does: ".<name>.part-XXXXXX.aside".
constexpr const char* kAsideTail = ".aside";
static_assert(std::char_traits<char>::length(kAsideTail) <= kLongestSideSuffix);

// Whether entry is a name a file was set aside under, and its length less
// its drawn tail and kAsideTail in stem.
bool IsAsideName(const std::string& entry, std::size_t& stem) {
    const std::size_t tail = std::strlen(kPartTag) + kUniqueLength + std::strlen(kAsideTail);
    if (entry.size() <= tail || !entry.ends_with(kAsideTail) ||
        entry.compare(entry.size() - tail, std::strlen(kPartTag), kPartTag) != 0)
        return false;
    stem = entry.size() - std::strlen(kAsideTail) - kUniqueLength;
    for (std::size_t i = stem; i < stem + kUniqueLength; ++i) {
        if (!IsUniqueChar(entry[i]))
            return false;
    }
    return true;
}

// What the names a file at name is set aside under start with: a set-aside
// file's own, its tail drawn again, so that it stays one of the same
// target's; else a part's of name.
std::string AsidePrefix(const std::string& name, std::size_t nameMax) {
    std::size_t stem = 0;
    return IsAsideName(name, stem) ? name.substr(0, stem) : PartPrefix(name, nameMax);
}

// What the set-aside names of the parts whose names start with prefix start
// with, in a folder that holds names of nameMax bytes.
std::string PartsAsideLead(const std::string& prefix, std::size_t nameMax) {
    return kPartLead + PartStem(prefix, nameMax);
}

// Whether entry, found to start with PartsAsideLead(prefix), is a name a
// part whose name starts with prefix was set aside under (its name cut
// where the folder's limit cuts it).
bool MatchesPartAside(const std::string& prefix, const std::string& entry) {
    std::size_t stem = 0;
    if (!IsAsideName(entry, stem))
        return false;
    const std::string part =
        entry.substr(std::strlen(kPartLead), stem - std::strlen(kPartLead) - std::strlen(kPartTag));
    if (part.size() > prefix.size() + kUniqueLength)
        return false;
    for (std::size_t i = prefix.size(); i < part.size(); ++i) {
        if (!IsUniqueChar(part[i]))
            return false;
    }
    return part.compare(0, std::min(part.size(), prefix.size()), prefix, 0, std::min(part.size(), prefix.size())) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The mark a part carries from its making: a digest of the part itself (its
// device, inode and birth, so no copy of it matches, not one that took its
// inode number once it was gone) and of what its target's part names start
// with, so that a cleanup takes only its own target's: a part killed once it
// took a name of a part's shape, still marked, is another target's file.
// A file no writer made has none; one that moved to another inode matches
// none. Whether its maker still runs is its
// lock's to tell, which needs nothing of /proc. A digest fits in the inode
// where the file system keeps small attributes there (ext4): one that
// takes a block of its own costs a write several times over.
constexpr const char* kMarkAttribute = "user.gorvane.writer";
// Room for a mark.
constexpr std::size_t kMarkRoom = 64;
// FNV-1a, 64 bits: the digest a mark holds.
constexpr std::uint64_t kDigestBasis = 14695981039346656037ull;
constexpr std::uint64_t kDigestPrime = 1099511628211ull;

std::string DigestOf(const std::string& text) {
    std::uint64_t digest = kDigestBasis;
    for (const char c : text)
        digest = (digest ^ static_cast<unsigned char>(c)) * kDigestPrime;
    char hex[2 * sizeof digest + 1];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
    return hex;
}

// The mark of the file open at fd as a part whose name starts with prefix:
// a digest of its device, inode and birth, and prefix; empty where the file
// system tells no birth (an inode number alone is soon another file's).
std::string MarkOf(int fd, const std::string& prefix) {
    struct statx st;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &st) != 0 || !(st.stx_mask & STATX_BTIME))
        return std::string();
    return DigestOf(std::to_string(::makedev(st.stx_dev_major, st.stx_dev_minor)) + " " + std::to_string(st.stx_ino) +
                    " " + std::to_string(st.stx_btime.tv_sec) + "." + std::to_string(st.stx_btime.tv_nsec) + " " +
                    prefix);
}

// Marks the part open at fd, just made, as a writer's of a part whose name
// starts with prefix.
void MarkPart(int fd, const std::string& prefix) {
    const std::string mark = MarkOf(fd, prefix);
    // A file system that keeps no such attribute leaves the part unmarked,
    // and so never taken by a cleanup.
    if (!mark.empty())
        ::fsetxattr(fd, kMarkAttribute, mark.data(), mark.size(), XATTR_CREATE);
}

// Whether the file open at fd carries the mark a writer set on it as it
// made that very file, a part whose name starts with prefix.
bool MarkedAsMade(int fd, const std::string& prefix) {
    char text[kMarkRoom];
    const ssize_t n = ::fgetxattr(fd, kMarkAttribute, text, sizeof text);
    const std::string mark = n > 0 ? MarkOf(fd, prefix) : std::string();
    return !mark.empty() && mark == std::string(text, static_cast<std::size_t>(n));
}

// Removes the part name in the folder open at folder, a regular file of one
// name (fstatat found it as st), when it carries the mark a writer of a part
// whose name starts with prefix set on it and no writer holds it: a writer
// locks its part from its making until it is renamed or removed, and the
// lock goes with its process, so a free lock proves the writer gone. A mark holds the part's device, so a part seen
// through another mount (a FUSE view, where that lock does not show) never
// matches. The lock is held while removing, so a writer that made it a
// moment ago finds, once it has the lock, that its part lost its name and
// makes another.
void RemoveIfLeftover(int folder, const std::string& name, const struct stat& st, const std::string& prefix) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened;
    if (::fstat(fd, &opened) == 0 && SameFile(opened, st) && S_ISREG(opened.st_mode) && opened.st_nlink == 1 &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && MarkedAsMade(fd, prefix))
        (void)RemoveSameIn(folder, name, opened);
    ::close(fd);
}

// A part name: prefix and a random tail. False, errno set, when no random
// bytes could be had.
bool DrawPartName(const std::string& prefix, std::string& part) {
    std::uint8_t random[kUniqueLength];
    if (!SystemRandomBytes(random, sizeof random))
        return false;
    part = prefix;
    for (const std::uint8_t byte : random)
        part += kUniqueChars[byte % (sizeof kUniqueChars - 1)];
    return true;
}

// Makes a part named prefix and a random tail in the folder open at folder,
// as open(O_CREAT | O_EXCL) makes a file asked for mode. Its descriptor,
// else -1 with errno set.
int MakePart(int folder, const std::string& prefix, mode_t mode, std::string& part) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!DrawPartName(prefix, part))
            return -1;
        const int fd = ::openat(folder, part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0)
            MarkPart(fd, prefix);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EAGAIN;
    return -1;
}

// Reads off the part at fd, just made as open(O_CREAT) makes a new file
// there, what the kernel gave it (the umask, or the folder's default ACL):
// what the new file is to get, with nothing else made to ask nor the umask
// read. Then makes it its writer's alone, before anything is written to it.
// An ACL's named entries go with its mask, which the mode's group bits are.
bool TakeMadePermissions(int fd, Permissions& made) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !MadePermissions(fd, st, made))
        return false;
    if (((st.st_mode & ~kPrivatePart & 0777) == 0 && made.acl.empty()) || ::fchmod(fd, kPrivatePart) == 0)
        return true;
    // A file system that keeps modes of its own (a FAT stick; through FUSE,
    // one that has no call for it) refuses the change: the part holds what
    // the new file gets there anyway.
    return errno == EPERM || errno == ENOTSUP || errno == ENOSYS;
}

// What open(O_CREAT) asks for a new file, before the umask or a default ACL.
constexpr mode_t kNewFileRequest = 0666;

// A part made first with no name (O_TMPFILE), asked for mode; for a name
// that was free, asked for what open(O_CREAT) asks, its permissions taken
// (made). Nobody can open a file with no name. -1, errno set, where the
// file system makes no such file.
int MakeUnnamedPart(int folder, mode_t mode, Permissions* made) {
    const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0 && made != nullptr && !TakeMadePermissions(fd, *made)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Links the unnamed part at fd under a part name in the folder open at
// folder, by its descriptor where the kernel lets this process (root, or
// Linux 6.10 on), else by the kernel's name for it: fd, else -1, errno set
// and fd closed, where neither can be linked (no /proc).
int NamePart(int fd, int folder, const std::string& prefix, std::string& part) {
    const std::string unnamed = DescriptorPath(fd);
    // Marked and locked before it has a name, so it never stands there
    // unmarked, nor for a moment unlocked.
    MarkPart(fd, prefix);
    ::flock(fd, LOCK_EX | LOCK_NB);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!DrawPartName(prefix, part))
            break;
        int linked = ::linkat(fd, "", folder, part.c_str(), AT_EMPTY_PATH);
        if (linked != 0 && errno == ENOENT)
            linked = ::linkat(AT_FDCWD, unnamed.c_str(), folder, part.c_str(), AT_SYMLINK_FOLLOW);
        if (linked == 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

// What open(O_CREAT) gives a new file in the folder open at folder (made),
// where no file can be made there without a name: read off a file made so
// by a part's name, marked as a part, and removed at once. The part itself
// is then made private: no other account can open it and hold its lock.
bool ProbeMadePermissions(int folder, const std::string& prefix, mode_t limit, Permissions& made) {
    std::string probe;
    const int fd = MakePart(folder, prefix, kNewFileRequest & limit, probe);
    if (fd < 0)
        return false;
    struct stat st;
    const bool read = ::fstat(fd, &st) == 0 && MadePermissions(fd, st, made);
    const int error = errno;
    if (::fstat(fd, &st) == 0)
        (void)RemoveSameIn(folder, probe, st);
    ::close(fd);
    errno = error;
    return read;
}

// Whether the part at fd may take the owner and group of the file it will
// replace (target): a replace that cannot would give that file away. Its
// writer's again right after; one killed in between is left as the
// target's owner's, which a cleanup beside that target takes too.
bool MayKeepOwner(int fd, const struct stat& own, const struct stat& target) {
    if (own.st_uid == target.st_uid && own.st_gid == target.st_gid)
        return true;
    if (::fchown(fd, target.st_uid, target.st_gid) != 0)
        return false;
    KillPoint("owner-probed");
    return ::fchown(fd, own.st_uid, own.st_gid) == 0;
}

// Whether a name in a folder may be a part file of some target there.
bool LooksLikePart(const std::string& name) {
    return name.compare(0, std::strlen(kPartLead), kPartLead) == 0 && name.find(kPartTag) != std::string::npos;
}

// Every part name the process has seen, by folder: a cleanup looks up its
// target's, never reading the whole folder again.
FolderIndex& PartNames() {
    static FolderIndex names(LooksLikePart);
    return names;
}

// The step a test has a writer end at, when one installed it.
std::atomic<KillHook> g_killHook{nullptr};

// Whether the regular file at target may be written, in a folder that
// takes no new name from this user: a part cannot be made beside it.
bool TakesNoNewNames(const std::string& target) {
    struct stat st;
    const std::string folder = SplitPath(target).folder;
    return ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 &&
           ::faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0;
}

// Why what lstat found at name in a folder (stat found that as folder,
// open at folderFd) may not be replaced by a part: EACCES for what another
// account planted in a shared folder (whatever its kind, nor followed, for
// a link) or a file the process may not write (as open() judges, and no
// owner write bit, which binds root too), ELOOP for a link, EISDIR for a
// folder, ENODEV for a device or a FIFO, EMLINK for a file with other
// names, which the rename would part it from; 0 when it may.
int Judge(int folderFd, const struct stat& folder, const std::string& name, const struct stat& st) {
    if (!MayUseInFolder(st.st_uid, folder))
        return EACCES;
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (const int refusal = WriteRefusalOf(folderFd, name, st))
        return refusal;
    if (!S_ISREG(st.st_mode))
        return ENODEV;
    return st.st_nlink > 1 ? EMLINK : 0;
}

// What every database SQLite writes starts with.
constexpr char kDatabaseHeader[] = "SQLite format 3";

// Whether SQLite takes the regular file at path (links followed) for a
// database: one that starts as every database does, or an empty one, which
// it takes for a new one. Another file beside a name is no database whose
// side file that name could be.
bool ReadsAsDatabase(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    char head[sizeof kDatabaseHeader] = {};
    const bool database = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                          (st.st_size == 0 || (::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
                                               std::memcmp(head, kDatabaseHeader, sizeof head) == 0));
    ::close(fd);
    return database;
}

} // namespace

mode_t ReadersOf(const std::string& source) {
    struct stat st;
    if (::stat(source.c_str(), &st) != 0)
        return 07777;
    return 07700 | (st.st_mode & 0077);
}

DatabaseTarget DatabaseTargetOf(const std::string& path, const std::string& database) {
    if (!database.empty() && IsSameFile(path, database))
        return DatabaseTarget::Database;
    const Split at = SplitPath(FollowLinks(path.c_str()));
    const std::string folder = at.folder.empty() ? "." : at.folder;
    const Split own = SplitPath(database.empty() ? std::string() : FollowLinks(database.c_str()));
    for (const char* suffix : kDatabaseSideSuffixes) {
        const std::size_t length = std::strlen(suffix);
        if (at.name.size() <= length || at.name.compare(at.name.size() - length, length, suffix) != 0)
            continue;
        const std::string stem = at.name.substr(0, at.name.size() - length);
        // The database's own, there yet or not; or one of any database that
        // stands beside it, which SQLite would take it for.
        if (!database.empty() && stem == own.name && IsSameFile(folder, own.folder.empty() ? "." : own.folder))
            return DatabaseTarget::SideFile;
        if (ReadsAsDatabase(at.folder + stem))
            return DatabaseTarget::SideFile;
    }
    return DatabaseTarget::None;
}

const char* RefusalReason(int error, const std::string& path) {
    if (error == kFolderMoved)
        return kFolderMovedText;
    if (error == kPartRemoved)
        return kPartRemovedText;
    if (error == kFoundMoved)
        return kFoundMovedText;
    if (error == kNameTaken)
        return kNameTakenText;
    const std::string target = error == EACCES ? FollowLinks(path.c_str()) : std::string();
    if (error == EACCES && !MayUseInSharedFolder(target))
        return kPlantedText;
    if (error == EACCES && TakesNoNewNames(target))
        return kNoNewNamesText;
    // Only a file of another account or group can be given away; a new
    // name refused so is the file system's own refusal.
    struct stat st;
    if (error == EPERM && ::lstat(FollowLinks(path.c_str()).c_str(), &st) == 0 &&
        (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
        return kGivenAwayText;
    return error == EMLINK ? kOtherNamesText : nullptr;
}

void SetKillHook(KillHook hook) {
    g_killHook.store(hook);
}

void KillPoint(const char* step) {
    if (const KillHook hook = g_killHook.load())
        hook(step);
}

PartFile::~PartFile() {
    Discard();
}

int PartFile::Open(const std::string& path, mode_t limit, bool inPlace) {
    Discard();
    m_target = FollowLinks(path.c_str());
    const Split where = SplitPath(m_target);
    // Everything from here on is done in the folder found now, whatever
    // later takes its place at its path.
    const int folder = ::open(where.folder.empty() ? "." : where.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat folderStat;
    if (folder < 0 || ::fstat(folder, &folderStat) != 0) {
        const int error = errno;
        if (folder >= 0)
            ::close(folder);
        return error;
    }
    m_folderFd = folder;
    m_folderStat = folderStat;
    m_folder = where.folder;
    m_name = where.name;
    // The file found is held from now on, not its name: what it has when
    // the part takes its place is what the part gets (PutInPlace).
    struct stat st;
    m_foundFd = ::openat(folder, m_name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    const bool exists = m_foundFd >= 0 && ::fstat(m_foundFd, &st) == 0;
    if (!exists && errno != ENOENT) {
        const int error = errno;
        Discard();
        return error;
    }
    const int refusal = exists ? Judge(folder, folderStat, m_name, st) : 0;
    if (refusal != 0 && (refusal != ENODEV || !inPlace)) {
        Discard();
        return refusal;
    }
    // Held open for reading too where it may be, so that its ACL is read
    // through the descriptor, not the kernel's name for it under /proc.
    if (exists && S_ISREG(st.st_mode)) {
        int readable = ::openat(folder, m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat opened;
        if (readable >= 0 && ::fstat(readable, &opened) == 0 && SameFile(opened, st))
            std::swap(m_foundFd, readable);
        if (readable >= 0)
            ::close(readable);
    }
    const long longest = ::fpathconf(folder, _PC_NAME_MAX);
    const std::size_t nameMax = longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX;
    if (m_name.size() > nameMax) {
        Discard();
        return ENAMETOOLONG;
    }
    // What stopped writers left beside it is known by this (RemoveLeftovers).
    m_prefix = PartPrefix(m_name, nameMax);
    if (refusal == ENODEV) {
        // Not blocking on a FIFO nobody reads: that would hang for good.
        m_fd = ::openat(folder, m_name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (m_fd < 0) {
            const int error = errno;
            Discard();
            return error;
        }
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
        return 0;
    }
    m_limit = limit;
    m_nameMax = nameMax;
    // Locked before anything is written, and never waited for: a lock not
    // had at once is another's (a cleanup took the part between its making
    // and its lock, and removes it), and another part is made.
    for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
        std::string part;
        // Made with no name first wherever the file system makes one, and
        // marked and locked before it has one; else by its part name,
        // private, marked at once. A free name's part gets what the kernel
        // gives a new file there: read off the nameless part, or off a file
        // made by name for the purpose. The part stays its writer's alone
        // until it is done.
        const int unnamed =
            MakeUnnamedPart(folder, exists ? kPrivatePart : kNewFileRequest & limit, exists ? nullptr : &m_permissions);
        int fd = unnamed >= 0 ? NamePart(unnamed, folder, m_prefix, part) : -1;
        if (fd < 0 && (exists || unnamed >= 0 || ProbeMadePermissions(folder, m_prefix, limit, m_permissions)))
            fd = MakePart(folder, m_prefix, kPrivatePart, part);
        if (fd < 0) {
            const int error = errno;
            Discard();
            return error;
        }
        KillPoint("part-made");
        struct stat made, named;
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (locked && ::fstat(fd, &made) == 0 && ::fstatat(folder, part.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(made, named)) {
            if (exists && !MayKeepOwner(fd, made, st)) {
                (void)RemoveSameIn(folder, part, made);
                ::close(fd);
                Discard();
                return EPERM;
            }
            m_fd = fd;
            m_partName = part;
            m_part = where.folder + part;
            m_partStat = made;
            m_created = !exists;
            m_foundDevice = exists ? st.st_dev : 0;
            m_foundInode = exists ? st.st_ino : 0;
            KillPoint("part-opened");
            return 0;
        }
        if (!locked && ::fstat(fd, &made) == 0)
            (void)RemoveSameIn(folder, part, made);
        ::close(fd);
    }
    Discard();
    return EAGAIN;
}

int PartFile::Write(const void* data, std::size_t size) {
    return WriteQuietly(m_fd, data, size);
}

int PartFile::Refusal() const {
    struct stat st;
    if (m_folderFd < 0)
        return 0;
    if (!FolderInPlace())
        return kFolderMoved;
    return ::fstatat(m_folderFd, m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? CommitRefusal(st) : 0;
}

int PartFile::CommitRefusal(const struct stat& st) const {
    // Another account's file that is not the one Open found took the name
    // while the part was written, in whatever folder: open() would have
    // held the name from the start, so it is neither given the bytes nor
    // replaced.
    const bool found = m_foundInode != 0 && st.st_dev == m_foundDevice && st.st_ino == m_foundInode;
    if (!found && st.st_uid != ::geteuid())
        return kNameTaken;
    // Anything but a regular file is not renamed over, for whatever reason.
    const int refusal = Judge(m_folderFd, m_folderStat, m_name, st);
    return refusal == ELOOP || refusal == EISDIR || refusal == ENODEV ? EACCES : refusal;
}

bool PartFile::FolderInPlace() const {
    struct stat st;
    return ::stat(m_folder.empty() ? "." : m_folder.c_str(), &st) == 0 && SameFile(st, m_folderStat);
}

int PartFile::Commit() {
    if (m_fd < 0)
        return EBADF;
    int error = 0;
    if (!m_part.empty()) {
        error = PutInPlace();
        if (error != 0) {
            Discard();
            return error;
        }
        m_part.clear();
        m_partName.clear();
        KillPoint("part-renamed");
        // The file at the name is no part: its mark, on until the rename so
        // that a kill before it leaves a part the next write proves its own,
        // goes now (a kill in between leaves it on a name no cleanup takes).
        ::fremovexattr(m_fd, kMarkAttribute);
        // A rename is on the disk once its folder is.
        if (m_durability == Durability::Synced) {
            const int folder = ::openat(m_folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder >= 0) {
                ::fsync(folder);
                ::close(folder);
            }
        }
    }
    if (::close(m_fd) != 0)
        error = errno;
    m_fd = -1;
    Discard();
    return error;
}

int PartFile::PutInPlace() {
    // The part takes its final permissions before the name: read now from
    // the file the open found, so that what its owner changed on it while
    // the part was written stands; a new file's were the kernel's. One that
    // cannot be given fails the write while the name still holds the old.
    Permissions given = m_permissions;
    struct stat own;
    if ((m_foundFd >= 0 && !PermissionsOf(m_foundFd, m_folder + m_name, m_limit, given)) || ::fstat(m_fd, &own) != 0)
        return errno == ESTALE ? kFoundMoved : errno;
    if (const int error = GivePermissions(m_fd, own, given))
        return error;
    KillPoint("permissions-given");
    // The data is on the disk before the name points at it.
    if (m_durability == Durability::Synced && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    KillPoint("part-synced");
    // What stands at the name is judged as Open judged it, just before the
    // rename, synced or not: a second name, a link or another account's
    // file made since is neither given the part's bytes nor renamed over.
    // Looked at again when the name was taken between the look and the
    // rename. Renamed while still held, so no cleanup takes it in between.
    for (int attempt = 0; attempt < kCommitAttempts; ++attempt) {
        struct stat st;
        const bool present = ::fstatat(m_folderFd, m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (const int refusal = present ? CommitRefusal(st) : 0)
            return refusal;
        // The part's name must still lead to the part, and the folder the
        // open found must still stand at its path: moved away, it would take
        // the content somewhere the caller did not name.
        struct stat part;
        if (::fstatat(m_folderFd, m_partName.c_str(), &part, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(part, m_partStat))
            return kPartRemoved;
        if (!FolderInPlace())
            return kFolderMoved;
        KillPoint("part-checked");
        const int renamed = RenameFileIn(m_folderFd, m_partName, m_name, present);
        if (renamed != EEXIST || present)
            return renamed;
    }
    return EAGAIN;
}

void PartFile::Discard() {
    m_created = false;
    m_foundInode = 0;
    // Removed from the folder it was made in, and only while its name still
    // leads to it.
    if (!m_partName.empty() && m_folderFd >= 0)
        (void)RemoveSameIn(m_folderFd, m_partName, m_partStat);
    m_part.clear();
    m_partName.clear();
    m_prefix.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = -1;
    if (m_foundFd >= 0)
        ::close(m_foundFd);
    m_foundFd = -1;
    m_permissions = {};
}

namespace {

// RemoveMadeFile for the name in the folder open at folder.
int RemoveMadeIn(int folder, const std::string& name, const struct stat& made) {
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!SameFile(st, made))
        return kNameTaken;
    KillPoint(kMadeFileFound);
    return RemoveSameIn(folder, name, made);
}

} // namespace

int RemoveSameIn(int folder, const std::string& name, const struct stat& made) {
    struct stat st;
    // A name that leads elsewhere is not touched.
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!SameFile(st, made))
        return kNameTaken;
    const long longest = ::fpathconf(folder, _PC_NAME_MAX);
    const std::string prefix = AsidePrefix(name, longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX);
    // A name nothing holds, taken in one step: a no-replace rename's
    // fallback (a link, then an unlink of the name) would leave a moment in
    // which the unlink could take another file that took the name. What a
    // kill leaves there may be a file another moved onto the name a moment
    // before: a cleanup takes it only as it takes a part, by its mark.
    std::string aside;
    int attempts = 0;
    do {
        if (++attempts > kNameAttempts)
            return EEXIST;
        if (!DrawPartName(prefix, aside))
            return errno;
        aside += kAsideTail;
    } while (::fstatat(folder, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT);
    if (const int error = RenameFileIn(folder, name, aside, true))
        return error;
    KillPoint(kMadeFileAside);
    if (::fstatat(folder, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(st, made))
        return ::unlinkat(folder, aside.c_str(), 0) == 0 ? 0 : errno;
    // Another file took the name between the look and the rename: it goes
    // back, unless the name is taken again.
    (void)RenameFileIn(folder, aside, name, false);
    return kNameTaken;
}

int RemoveMadeFile(int fd, const std::string& path) {
    struct stat made;
    if (fd < 0 || ::fstat(fd, &made) != 0)
        return EBADF;
    const Split where = SplitPath(FollowLinks(path.c_str()));
    const int folder = ::open(where.folder.empty() ? "." : where.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return errno;
    const int error = RemoveMadeIn(folder, where.name, made);
    ::close(folder);
    return error;
}

bool PartFile::IsPartName(const std::string& target, const std::string& entryName) {
    const Split where = SplitPath(target);
    return MatchesPart(PartPrefix(where.name, LongestName(where.folder)), entryName);
}

void PartFile::RemoveLeftovers(const std::string& target) {
    const Split where = SplitPath(FollowLinks(target.c_str()));
    const std::size_t nameMax = LongestName(where.folder);
    RemoveLeftoversIn(where.folder, PartPrefix(where.name, nameMax), nameMax, std::string());
}

void PartFile::RemoveLeftovers() const {
    if (m_fd >= 0 && !m_prefix.empty())
        RemoveLeftoversIn(m_folder, m_prefix, m_nameMax, m_partName);
}

void PartFile::RemoveLeftoversIn(const std::string& folder, const std::string& prefix, std::size_t nameMax,
                                 const std::string& own) {
    int folderFd = -1;
    // Its parts (side files carry no mark), and those a killed removal left
    // set aside.
    std::vector<std::string> names;
    for (std::string& name : PartNames().NamesStartingWith(folder, prefix)) {
        if (MatchesPart(prefix, name) && name.size() == prefix.size() + kUniqueLength)
            names.push_back(std::move(name));
    }
    for (std::string& name : PartNames().NamesStartingWith(folder, PartsAsideLead(prefix, nameMax))) {
        if (MatchesPartAside(prefix, name))
            names.push_back(std::move(name));
    }
    for (const std::string& name : names) {
        // The caller's own part is held, and needs no look.
        if (name == own)
            continue;
        if (folderFd < 0 &&
            (folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) < 0)
            return;
        struct stat st;
        if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            RemoveIfLeftover(folderFd, name, st, prefix);
    }
    if (folderFd >= 0)
        ::close(folderFd);
}

} // namespace platform
