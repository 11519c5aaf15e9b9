#include "app/shell/JournalFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "app/store/JournalDb.h"
#include "archive/ZipArchive.h"
#include "archive/ZipWriter.h"
#include "platform/File.h"
#include "platform/PartFile.h"
#include "platform/QuietWrite.h"

namespace grv {

namespace {

// Two of the files SQLite keeps beside a journal, by what it adds to its name.
constexpr const char* kRollbackJournal = platform::kDatabaseSideSuffixes[0];
constexpr const char* kWriteAheadLog = platform::kDatabaseSideSuffixes[1];
// What a rollback journal SQLite would play back into its database starts
// with; a finished one is empty or has these bytes zeroed.
constexpr unsigned char kHotJournalMagic[] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
// Where an earlier restore set the old journal aside ("<name>.part-XXXXXX.old")
// before it put the restored one in its place: a kill in between left only that.
constexpr const char* kSetAsidePart = ".part-";
constexpr const char* kAsideSuffix = ".old";

// The bytes SQLite's locks take: those of the database file (the pending,
// reserved and shared bytes at 1 GiB), and the -shm byte every connection
// to a journal in WAL mode holds while it is open.
constexpr off_t kDbLockStart = 0x40000000;
constexpr off_t kDbLockLength = 512;
constexpr off_t kShmLockStart = 120;
constexpr off_t kShmLockLength = 9;

// Whether the file system holding path has no room left for another block,
// as after a write that failed because the disk is full.
bool NoRoomLeft(const std::string& path) {
    struct statvfs fs{};
    if (::statvfs(path.c_str(), &fs) != 0)
        return false;
    return fs.f_bavail == 0 || fs.f_bfree == 0;
}

// Whether another process holds a lock on the bytes of the file at path.
bool LockedByAnother(const std::string& path, off_t start, off_t length) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe{};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = start;
    probe.l_len = length;
    const bool locked = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool HoldsBytes(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Whether the rollback journal at path is one SQLite would play back.
bool IsHotJournal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno != ENOENT;
    unsigned char head[sizeof kHotJournalMagic] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof head) && std::memcmp(head, kHotJournalMagic, sizeof head) == 0;
}

// Whether another process has the file at path open: a program that keeps a
// journal open in rollback mode holds no lock between its transactions.
bool OpenInAnotherProcess(const std::string& path) {
    struct stat file;
    if (::stat(path.c_str(), &file) != 0)
        return false;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    const std::string self = std::to_string(::getpid());
    bool found = false;
    while (const dirent* process = found ? nullptr : ::readdir(proc)) {
        const std::string pid = process->d_name;
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string fdFolder = "/proc/" + pid + "/fd/";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (!fds)
            continue;
        while (const dirent* fd = found ? nullptr : ::readdir(fds)) {
            struct stat st;
            found = fd->d_name[0] != '.' && ::stat((fdFolder + fd->d_name).c_str(), &st) == 0 &&
                    st.st_dev == file.st_dev && st.st_ino == file.st_ino;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

// Whether another program holds the journal at path through SQLite, or has
// it open at all.
bool HeldByAnother(const std::string& path) {
    return LockedByAnother(path, kDbLockStart, kDbLockLength) ||
           LockedByAnother(path + "-shm", kShmLockStart, kShmLockLength) || OpenInAnotherProcess(path);
}

// What a part file that could not be opened or put in place at path makes
// of a backup.
BackupOutcome OpenFailure(int error, const std::string& path, int* refusal) {
    if (platform::IsDiskFull(error))
        return BackupOutcome::DiskFull;
    if (!platform::RefusalReason(error, path))
        return BackupOutcome::Failed;
    if (refusal)
        *refusal = error;
    return BackupOutcome::Refused;
}

// The archive written from image, the journal's file or its copy.
BackupOutcome WriteArchive(const std::string& archive, const std::string& image, const std::string& nameInArchive,
                           const std::string& password, mode_t readers, int* refusal) {
    platform::PartFile out;
    const int opened = out.Open(archive, readers);
    if (opened != 0)
        return OpenFailure(opened, archive, refusal);
    int fd = out.Fd();
    // A FIFO whose reader leaves fails the backup, as any write error does.
    const platform::WriteSignalsAsErrors quiet;
    ZipHandle* zip = createZipWriter(&fd, 0, archive::kZipOutputHandle, password.c_str());
    ZipResult added = ZipResult::BadArguments;
    ZipResult closed = ZipResult::BadArguments;
    if (zip) {
        added = addZipEntry(zip, nameInArchive.c_str(), image.c_str(), 0, archive::kZipSourceFileName);
        // Closed on every road: it writes the central directory and frees the handle.
        closed = CloseZipWriter(zip);
    }
    // Asked while the unfinished archive still takes its room.
    const bool full = !out.InPlace() && NoRoomLeft(out.Path());
    if (added != ZipResult::Ok || closed != ZipResult::Ok)
        return full ? BackupOutcome::DiskFull : BackupOutcome::Failed;
    const int committed = out.Commit();
    if (committed == 0)
        return BackupOutcome::Done;
    // A name another account took, or a folder moved, while it was written.
    return full ? BackupOutcome::DiskFull : OpenFailure(committed, archive, refusal);
}

} // namespace

BackupOutcome WriteJournalBackup(const std::string& journal, const std::string& archive,
                                 const std::string& nameInArchive, const std::string& password,
                                 const std::function<bool()>& replace, int* refusal) {
    struct stat source;
    if (::stat(journal.c_str(), &source) != 0 || !S_ISREG(source.st_mode))
        return BackupOutcome::Failed;
    const std::string landing = platform::FollowLinks(archive.c_str());
    struct stat st;
    const bool exists = ::stat(landing.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return BackupOutcome::Failed;
    const bool special = exists && !S_ISREG(st.st_mode);
    // Where a journal in WAL mode is copied: beside the archive, whose folder
    // is written anyway; a device's or a FIFO's folder is no place for it.
    const std::string name = journal.substr(journal.rfind('/') + 1);
    platform::PartFile copy;
    const int made = copy.Open(special ? platform::GetTempPath() + name : landing, platform::ReadersOf(journal), false);
    if (made != 0)
        return OpenFailure(made, archive, refusal);

    BackupOutcome outcome = BackupOutcome::Failed;
    // SQLite and the archive reach the copy by its descriptor: its folder may
    // be one others write, where they could put their own file at its path.
    // Without /proc to name it, the copy is made in a private folder.
    std::string imagePath = platform::DescriptorPath(copy.Fd());
    platform::PrivateFolder spare;
    int own = -1;
    if (!platform::DescriptorPathLeadsTo(copy.Fd()) && (own = spare.MakeFile(name, imagePath)) < 0)
        return platform::IsDiskFull(errno) ? BackupOutcome::DiskFull : BackupOutcome::Failed;
    const int imageFd = own >= 0 ? own : copy.Fd();
    const auto read = CJournalDb::WithDatabaseImage(journal, imagePath, [&](const std::string& image) {
        if (image != journal) {
            // The entry is what the journal itself would give: its times, and
            // its owner's bits, all of the mode an entry keeps. The copy stays
            // its writer's alone meanwhile.
            const struct timespec times[2] = {source.st_atim, source.st_mtim};
            ::fchmod(imageFd, source.st_mode & S_IRWXU);
            ::futimens(imageFd, times);
        }
        if (exists && !special && !replace()) {
            outcome = BackupOutcome::Declined;
            return;
        }
        // What a backup onto this archive that was stopped left goes now.
        platform::PartFile::RemoveLeftovers(landing);
        outcome = WriteArchive(archive, image, nameInArchive, password, platform::ReadersOf(journal), refusal);
    });
    if (own >= 0)
        ::close(own);
    switch (read) {
    case CJournalDb::ImageResult::Ok: return outcome;
    case CJournalDb::ImageResult::Busy: return BackupOutcome::Busy;
    case CJournalDb::ImageResult::Damaged: return BackupOutcome::Damaged;
    case CJournalDb::ImageResult::NoRoom: return BackupOutcome::DiskFull;
    case CJournalDb::ImageResult::Failed: break;
    }
    return BackupOutcome::Failed;
}

JournalTarget CheckJournalTarget(const std::string& target) {
    const std::string journal = platform::FollowLinks(target.c_str());
    if (HeldByAnother(journal))
        return JournalTarget::InUse;
    // SQLite takes such a file for that database's own, and an entry still
    // in its write-ahead log would go with it.
    if (platform::DatabaseTargetOf(journal, std::string()) == platform::DatabaseTarget::SideFile)
        return JournalTarget::SideFile;
    if (!CJournalDb::ForeignSideFile(journal).empty())
        return JournalTarget::ForeignSides;
    const std::size_t slash = journal.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : journal.substr(0, slash + 1);
    if (journal.size() - folder.size() + std::strlen(kRollbackJournal) > platform::LongestName(folder))
        return JournalTarget::NameTooLong;
    for (const char* suffix : platform::kDatabaseSideSuffixes) {
        struct stat st;
        if (::lstat((journal + suffix).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return JournalTarget::Blocked;
    }
    return JournalTarget::Free;
}

int ReplaceJournal(platform::PartFile& part) {
    const std::string target = part.Target();
    // On the disk first, so that the last look at who holds the old journal
    // comes right before the rename.
    if (::fsync(part.Fd()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    // What stands there now is judged by the rule the part was opened by
    // before SQLite is let near it: another account may have taken the name.
    if (const int refusal = part.Refusal())
        return refusal;
    if (Exists(target)) {
        // Another program may have opened it since it was first asked, while
        // the user was: its side files are its own, and what it writes after
        // the rename would go to a file no name leads to.
        if (HeldByAnother(target))
            return kJournalInUse;
        // SQLite settles what a program that stopped left beside the old
        // journal, so that the old journal is whole by itself until the
        // restored one takes its name in one step; side files SQLite would
        // still act on are never parted from their journal.
        if (HoldsBytes(target + kRollbackJournal) || HoldsBytes(target + kWriteAheadLog)) {
            CJournalDb::SettleSideFiles(target);
            if (IsHotJournal(target + kRollbackJournal) || HoldsBytes(target + kWriteAheadLog))
                return EBUSY;
        }
        platform::KillPoint("sides-settled");
        if (HeldByAnother(target))
            return kJournalInUse;
        // What is left of them now means nothing to SQLite, and would to the
        // restored journal.
        for (const char* suffix : platform::kDatabaseSideSuffixes) {
            if (::unlink((target + suffix).c_str()) != 0 && errno != ENOENT)
                return errno;
        }
        platform::KillPoint("sides-removed");
        if (HeldByAnother(target))
            return kJournalInUse;
    }
    return part.Commit();
}

std::string FindSetAsideJournal(const std::string& journal) {
    if (Exists(journal))
        return {};
    const std::size_t slash = journal.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : journal.substr(0, slash + 1);
    const std::string prefix = journal.substr(slash + 1) + kSetAsidePart;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return {};
    std::string newest;
    struct timespec newestTime{};
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::size_t end = std::strlen(kAsideSuffix);
        if (name.size() <= prefix.size() + end || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - end, end, kAsideSuffix) != 0)
            continue;
        struct stat st;
        const std::string path = (slash == std::string::npos ? std::string() : folder) + name;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (newest.empty() || st.st_mtim.tv_sec > newestTime.tv_sec ||
            (st.st_mtim.tv_sec == newestTime.tv_sec && st.st_mtim.tv_nsec > newestTime.tv_nsec)) {
            newest = path;
            newestTime = st.st_mtim;
        }
    }
    ::closedir(dir);
    return newest;
}

std::vector<std::string> SetAsideSideFiles(const std::string& aside) {
    std::vector<std::string> sides;
    for (const char* suffix : {kRollbackJournal, kWriteAheadLog}) {
        if (HoldsBytes(aside + suffix))
            sides.push_back(aside + suffix);
    }
    return sides;
}

} // namespace grv
