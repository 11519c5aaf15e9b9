#include "app/shell/JournalFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/store/JournalDb.h"
#include "archive/ZipArchive.h"
#include "archive/ZipWriter.h"
#include "platform/File.h"
#include "platform/PartFile.h"

namespace grv {

namespace {

// The files SQLite keeps beside a journal, by what it adds to its name.
constexpr const char* kSideFileSuffixes[] = {"-journal", "-wal", "-shm"};
// The old journal, moved aside while a restored one takes its place, is
// named after the restored one's part file, so both go together.
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
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) != 0)
        return false;
    return fs.f_bavail == 0 || fs.f_bfree == 0;
}

// Whether another process holds a lock on the bytes of the file at path.
bool LockedByAnother(const std::string& path, off_t start, off_t length) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe {};
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

// The archive written from image, the journal's file or its copy.
BackupOutcome WriteArchive(const std::string& archive, const std::string& image, const std::string& nameInArchive,
                           const std::string& password, mode_t readers) {
    platform::PartFile out;
    const int opened = out.Open(archive, readers);
    if (opened != 0)
        return platform::IsDiskFull(opened) ? BackupOutcome::DiskFull : BackupOutcome::Failed;
    int fd = out.Fd();
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
    return platform::IsDiskFull(committed) || full ? BackupOutcome::DiskFull : BackupOutcome::Failed;
}

} // namespace

BackupOutcome WriteJournalBackup(const std::string& journal, const std::string& archive,
                                 const std::string& nameInArchive, const std::string& password,
                                 const std::function<bool()>& replace) {
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
        return platform::IsDiskFull(made) ? BackupOutcome::DiskFull : BackupOutcome::Failed;

    BackupOutcome outcome = BackupOutcome::Failed;
    const auto read = CJournalDb::WithDatabaseImage(journal, copy.Path(), [&](const std::string& image) {
        if (image != journal) {
            // The entry is what the journal itself would give.
            const struct timespec times[2] = {source.st_atim, source.st_mtim};
            ::fchmod(copy.Fd(), source.st_mode & 07777);
            ::futimens(copy.Fd(), times);
        }
        if (exists && !special && !replace()) {
            outcome = BackupOutcome::Declined;
            return;
        }
        // What a backup onto this archive that was stopped left goes now.
        platform::PartFile::RemoveLeftovers(landing);
        outcome = WriteArchive(archive, image, nameInArchive, password, platform::ReadersOf(journal));
    });
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
    if (LockedByAnother(journal, kDbLockStart, kDbLockLength) ||
        LockedByAnother(journal + "-shm", kShmLockStart, kShmLockLength))
        return JournalTarget::InUse;
    for (const char* suffix : kSideFileSuffixes) {
        struct stat st;
        if (::lstat((journal + suffix).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return JournalTarget::Blocked;
    }
    return JournalTarget::Free;
}

int ReplaceJournal(platform::PartFile& part) {
    const std::string target = part.Target();
    const std::string aside = part.Path() + kAsideSuffix;
    // What was moved, in order: the journal before its side files, so that
    // no moment sees it beside side files that are not its own.
    std::vector<std::pair<std::string, std::string>> moved;
    auto putBack = [&] {
        for (auto it = moved.rbegin(); it != moved.rend(); ++it)
            ::rename(it->second.c_str(), it->first.c_str());
    };
    std::vector<std::pair<std::string, std::string>> files = {{target, aside}};
    for (const char* suffix : kSideFileSuffixes)
        files.emplace_back(target + suffix, aside + suffix);
    for (const auto& [from, to] : files) {
        if (!Exists(from))
            continue;
        if (::rename(from.c_str(), to.c_str()) != 0) {
            const int error = errno;
            putBack();
            return error;
        }
        moved.emplace_back(from, to);
    }
    const int committed = part.Commit();
    if (committed != 0) {
        putBack();
        return committed;
    }
    for (const auto& file : moved)
        ::unlink(file.second.c_str());
    return 0;
}

} // namespace grv
