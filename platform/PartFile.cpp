#include "platform/PartFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

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
// A part replacing a file stays its writer's alone until its commit gives
// it the file's permissions.
constexpr mode_t kPrivatePart = 0600;
// What open() asks for a new file, before the umask or a default ACL.
constexpr mode_t kNewFileRequest = 0666;
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

// Whether fd is still the file at path, not one a cleanup took away.
bool StillNamed(int fd, const std::string& path) {
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// Whether fd's file lost its last name: renamed into place, then replaced by
// a later writer of the same name. A file a swapped folder kept from the
// rename still has its name there.
bool ReplacedSince(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && st.st_nlink == 0;
}

// Removes file, a leftover of the part file at part, unless a writer holds
// that part (its lock is taken as soon as it is made and kept until it is
// renamed or removed). The part's lock is held while removing, so a writer
// that made it a moment ago finds, once it has the lock, that its part
// lost its name and makes another. A part that cannot be opened to tell
// counts as held; one that is gone leaves its side file behind no writer.
void RemoveUnlessHeld(const std::string& part, const std::string& file) {
    const int fd = ::open(part.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            ::unlink(file.c_str());
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, part))
        ::unlink(file.c_str());
    ::close(fd);
}

// Makes a part named prefix and a random tail, as open(O_CREAT | O_EXCL)
// makes a file asked for mode: the umask or the folder's default ACL then
// give it what open() gives any new file there. Its descriptor, else -1
// with errno set.
int MakePart(const std::string& prefix, mode_t mode, std::string& part) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::uint8_t random[kUniqueLength];
        if (!SystemRandomBytes(random, sizeof random))
            return -1;
        part = prefix;
        for (const std::uint8_t byte : random)
            part += kUniqueChars[byte % (sizeof kUniqueChars - 1)];
        const int fd = ::open(part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Whether the part at fd may take the owner and group of the file it will
// replace (target): a replace that cannot would give that file away. The
// part stays its writer's until then, so that a cleanup of the writer's own
// parts still knows it.
bool MayKeepOwner(int fd, const struct stat& target) {
    struct stat own;
    if (::fstat(fd, &own) != 0)
        return false;
    if (own.st_uid == target.st_uid && own.st_gid == target.st_gid)
        return true;
    return ::fchown(fd, target.st_uid, target.st_gid) == 0 && ::fchown(fd, own.st_uid, own.st_gid) == 0;
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

// A rename is on the disk once its folder is.
void SyncFolderOf(const std::string& path) {
    const Split where = SplitPath(path);
    const int fd = ::open(where.folder.empty() ? "." : where.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Whether the regular file at target may be written, in a folder that
// takes no new name from this user: a part cannot be made beside it.
bool TakesNoNewNames(const std::string& target) {
    struct stat st;
    const std::string folder = SplitPath(target).folder;
    return ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 &&
           ::faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0;
}

// Why what lstat found at target (st) may not be replaced by a part: EACCES
// for what another account planted in a shared folder (whatever its kind,
// nor followed, for a link) or a file the process may not write (as open()
// judges), ELOOP for a link, EISDIR for a folder, ENODEV for a device or a
// FIFO, EMLINK for a file with other names, which the rename would part it
// from; 0 when it may.
int Judge(const std::string& target, const struct stat& st) {
    if (!MayUseInSharedFolder(target))
        return EACCES;
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return ENODEV;
    if (const int refusal = WriteRefusalOf(target, st))
        return refusal;
    return st.st_nlink > 1 ? EMLINK : 0;
}

// Why a commit may not rename over what lstat found at target (st): Judge's
// reasons, anything but a regular file being EACCES.
int RenameRefusal(const std::string& target, const struct stat& st) {
    const int refusal = Judge(target, st);
    return refusal == ELOOP || refusal == EISDIR || refusal == ENODEV ? EACCES : refusal;
}

// The same file, or still none: what a commit judged is what it renames over.
bool SameAsJudged(bool present, const struct stat& st, bool wasPresent, const struct stat& judged) {
    return present == wasPresent && (!present || (st.st_dev == judged.st_dev && st.st_ino == judged.st_ino));
}

} // namespace

mode_t ReadersOf(const std::string& source) {
    struct stat st;
    if (::stat(source.c_str(), &st) != 0)
        return 07777;
    return 07700 | (st.st_mode & 0077);
}

bool IsDatabaseOrSideFile(const std::string& path, const std::string& database) {
    if (database.empty())
        return false;
    if (IsSameFile(path, database))
        return true;
    const Split at = SplitPath(FollowLinks(path.c_str()));
    const Split side = SplitPath(FollowLinks(database.c_str()));
    if (at.name.compare(0, side.name.size(), side.name) != 0 ||
        !IsSameFile(at.folder.empty() ? "." : at.folder, side.folder.empty() ? "." : side.folder))
        return false;
    for (const char* suffix : kDatabaseSideSuffixes) {
        if (at.name == side.name + suffix)
            return true;
    }
    return false;
}

const char* RefusalReason(int error, const std::string& path) {
    const std::string target = error == EACCES ? FollowLinks(path.c_str()) : std::string();
    if (error == EACCES && !MayUseInSharedFolder(target))
        return kPlantedText;
    if (error == EACCES && TakesNoNewNames(target))
        return kNoNewNamesText;
    if (error == EPERM)
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
    m_limit = limit;
    m_target = FollowLinks(path.c_str());
    struct stat st;
    const bool exists = ::lstat(m_target.c_str(), &st) == 0;
    if (const int refusal = exists ? Judge(m_target, st) : 0) {
        if (refusal != ENODEV || !inPlace)
            return refusal;
        // Not blocking on a FIFO nobody reads: that would hang for good.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (m_fd < 0)
            return errno;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
        return 0;
    }
    const Split where = SplitPath(m_target);
    const std::size_t nameMax = LongestName(where.folder);
    if (where.name.size() > nameMax)
        return ENAMETOOLONG;
    const std::string prefix = where.folder + PartPrefix(where.name, nameMax);
    // Locked before anything is written, so a cleanup passes it by; one that
    // took it between its making and its lock leaves it nameless.
    for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
        std::string part;
        const int fd = MakePart(prefix, exists ? kPrivatePart : kNewFileRequest & limit, part);
        if (fd < 0)
            return errno;
        if (::flock(fd, LOCK_EX) == 0 && StillNamed(fd, part)) {
            if (exists && !MayKeepOwner(fd, st)) {
                ::unlink(part.c_str());
                ::close(fd);
                return EPERM;
            }
            m_fd = fd;
            m_part = part;
            m_created = !exists;
            m_foundDevice = exists ? st.st_dev : 0;
            m_foundInode = exists ? st.st_ino : 0;
            KillPoint("part-opened");
            return 0;
        }
        ::close(fd);
    }
    return EAGAIN;
}

int PartFile::Write(const void* data, std::size_t size) {
    return WriteQuietly(m_fd, data, size);
}

int PartFile::Refusal() const {
    struct stat st;
    return ::lstat(m_target.c_str(), &st) == 0 ? CommitRefusal(st) : 0;
}

int PartFile::CommitRefusal(const struct stat& st) const {
    // Another account's file that is not the one Open found took the name
    // while the part was written, in whatever folder: open() would have
    // held the name from the start, so it is neither given the bytes nor
    // replaced.
    const bool found = m_foundInode != 0 && st.st_dev == m_foundDevice && st.st_ino == m_foundInode;
    if (!found && st.st_uid != ::geteuid())
        return EACCES;
    return RenameRefusal(m_target, st);
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
        KillPoint("part-renamed");
        if (m_durability == Durability::Synced)
            SyncFolderOf(m_target);
    }
    if (::close(m_fd) != 0)
        error = errno;
    m_fd = -1;
    return error;
}

int PartFile::PutInPlace() {
    // What stands at the name is judged as Open judged it, at each look: a
    // name another account took while the part was written is neither
    // given the part's bytes nor renamed over. Looked at again when it
    // changed between the looks.
    for (int attempt = 0; attempt < kCommitAttempts; ++attempt) {
        struct stat judged;
        const bool wasPresent = ::lstat(m_target.c_str(), &judged) == 0;
        if (const int refusal = wasPresent ? CommitRefusal(judged) : 0)
            return refusal;
        // Given only now: until then the part stays its writer's to read,
        // so that a cleanup can tell it is held whatever mode it gets. A new
        // file has had what open() gives since it was made.
        if ((wasPresent || !m_created) &&
            !CopyPermissions(m_fd, m_target.c_str(), wasPresent ? &judged : nullptr, m_limit))
            return errno ? errno : EACCES;
        // The data is on the disk before the name points at it.
        if (m_durability == Durability::Synced && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
            return errno;
        KillPoint("part-synced");
        // Judged again just before the rename, synced or not, so that a
        // second name, a link or another account's file made since is not
        // renamed over. Renamed while still held, so no cleanup takes it in
        // between.
        struct stat st;
        const bool present = ::lstat(m_target.c_str(), &st) == 0;
        if (const int refusal = present ? CommitRefusal(st) : 0)
            return refusal;
        if (!SameAsJudged(present, st, wasPresent, judged))
            continue;
        // A folder of the way swapped since the open would have the rename
        // take another file than the part for the written one.
        if (!StillNamed(m_fd, m_part))
            return ENOENT;
        const int renamed = RenameFile(m_part, m_target, present);
        if (renamed == 0 && !StillNamed(m_fd, m_target) && !ReplacedSince(m_fd))
            return ENOENT;
        if (renamed != EEXIST || present)
            return renamed;
    }
    return EAGAIN;
}

void PartFile::Discard() {
    m_created = false;
    m_foundInode = 0;
    if (!m_part.empty())
        ::unlink(m_part.c_str());
    m_part.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool PartFile::IsPartName(const std::string& target, const std::string& entryName) {
    const Split where = SplitPath(target);
    return MatchesPart(PartPrefix(where.name, LongestName(where.folder)), entryName);
}

void PartFile::RemoveLeftovers(const std::string& target) {
    const Split where = SplitPath(FollowLinks(target.c_str()));
    const std::string prefix = PartPrefix(where.name, LongestName(where.folder));
    const uid_t me = ::geteuid();
    for (const std::string& name : PartNames().NamesStartingWith(where.folder, prefix)) {
        if (!MatchesPart(prefix, name))
            continue;
        const std::string path = where.folder + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != me)
            continue;
        // A side file goes with its part, once nobody holds that.
        RemoveUnlessHeld(where.folder + name.substr(0, prefix.size() + kUniqueLength), path);
    }
}

} // namespace platform
