#pragma once
// The one way a file the user names is written whole: beside the file it
// replaces, as a hidden part file (see IsPartName), and renamed over it only
// once complete and on the disk, so a failure or a kill leaves the old file
// as it was. A symbolic link is followed where the kernel would follow it (a
// dangling one to the file it names), and a device or a FIFO is written as
// it stands, never replaced or removed. Refused, not written: whatever
// another account planted in a shared folder (MayUseInSharedFolder, for
// every kind of target and for root too), a file the process may not write
// (as open() judges), one with other names (hard links), and one whose
// owner or group the process could not give the new file: the rename would
// give it away, and writing it in place would leave it cut short by a kill.
//
// One permission rule: the new file gets the owner, group, mode and ACL the
// file its open found has at the commit (held since the open, so what its
// owner changed meanwhile stands); a file that did not exist then is made
// as open(O_CREAT) makes it there (the umask, or the folder's default ACL,
// read off the part as the kernel made it, with or without O_TMPFILE).
// Either way no bit outside the writer's limit: a copy of private data is
// no more readable than its source. What stands at the name later lends it
// nothing. The part is its writer's alone from its making (made without a
// name, or by name private), its lock never waited for, and takes its
// final permissions before the name, so the name holds the old file with
// its own or the new content with its final ones at every moment; a
// permission that cannot be given fails the write before anything is
// replaced. The commit works in the folder the open found, by its
// descriptor: a folder moved or replaced since fails it, and the part goes
// from where it is. The limit is applied to the ACL as to the mode, and the
// part's bits beyond its final ones go before its owner, group and ACL are
// given, so it never grants a reader more than its final state. No /proc
// is needed to replace: the found file's ACL is read through its
// descriptor, or its name in that folder checked to lead to it. A part a
// writer leaves behind (killed) is removed by a later write only by the
// mark it carries (RemoveLeftovers).
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "platform/File.h"

namespace platform {

// The permission bits a copy of the file at source may have at most: the
// owner's all, the group's and others' only as source has them (all, when
// source cannot be read).
mode_t ReadersOf(const std::string& source);

// What SQLite adds to a database's name for the files it keeps beside it,
// the longest first.
inline constexpr const char* kDatabaseSideSuffixes[] = {"-journal", "-wal", "-shm"};
// What a write to path (links followed) would land on that SQLite keeps for
// a database: the database at database itself, one of the side files SQLite
// keeps beside it (there yet or not), or a side file of any database that
// stands beside path (a file of its name less the suffix that SQLite takes
// for a database: one it wrote, or an empty one), which SQLite would take
// for that database's own. The one rule every writer of
// a file the user names asks; database may be empty.
enum class DatabaseTarget { None, Database, SideFile };
DatabaseTarget DatabaseTargetOf(const std::string& path, const std::string& database);

// What a commit fails with when the folder its open found no longer stands
// at its path (moved away, another put in its place), or the part's name
// no longer leads to the part: nothing is put there, and the part goes.
inline constexpr int kFolderMoved = ESTALE;
// What a commit fails with when the part is no longer at its name (another
// program removed or replaced it): nothing is put at the target.
inline constexpr int kPartRemoved = EIDRM;
// What a commit fails with where no /proc is mounted, the file the open
// found cannot be read, and it left its name: its ACL cannot be read.
inline constexpr int kFoundMoved = EREMCHG;
// What a commit fails with when another account's file, not the one the
// open found, took the name since: it is neither replaced nor given the
// bytes.
inline constexpr int kNameTaken = EEXIST;

// Why Open or Commit refused path with error, in words for the user, where
// the system's own text would not say (planted in a shared folder, an owner
// or group that cannot be kept, other names, a folder that takes no new file
// beside one the user may write, a folder moved while it was written); null
// otherwise.
const char* RefusalReason(int error, const std::string& path);

// Whether a commit puts the file on the disk before it takes the name. The
// library's writers (tessik::FileWriter) only rename, as other programs'
// writers of a user's file do: a kill still leaves it whole, old or new, and
// it costs no syncs; the application's own files are synced.
enum class Durability { Synced, Unsynced };

class PartFile {
public:
    PartFile() = default;
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Opens for writing where path lands. 0, else an errno: EISDIR for a
    // folder, ENODEV for a device or a FIFO when inPlace is false, ENXIO for
    // a FIFO nobody reads, EACCES for a file the process may not write or
    // what another account planted in a shared folder, EMLINK for a file
    // with other names, EPERM for one whose owner or group could not be
    // kept, ENAMETOOLONG for a name the folder cannot hold.
    int Open(const std::string& path, mode_t limit = 07777, bool inPlace = true);
    // Synced unless set otherwise; kept from one Open to the next.
    void SetDurability(Durability durability) { m_durability = durability; }
    int Fd() const { return m_fd; }
    // Where path lands, its links followed.
    const std::string& Target() const { return m_target; }
    // The part file's name; empty while writing a device or a FIFO.
    const std::string& Path() const { return m_part; }
    bool InPlace() const { return m_fd >= 0 && m_part.empty(); }
    // 0, else the errno of the write that failed (EPIPE when a FIFO's reader
    // left: never a signal, see WriteQuietly).
    int Write(const void* data, std::size_t size);
    // Puts the written file in the target's place (a device or a FIFO is
    // only closed): given its permissions, its data synced to the disk, then
    // renamed over the target in one step. 0, else an errno; the target is
    // then as it was.
    // A name another account took since the open fails it (kNameTaken), a
    // folder moved since fails it (kFolderMoved), and the part goes.
    int Commit();
    // Why what stands at Target() now may not be renamed over, by the rule
    // Open judged it by (kNameTaken for another account's new file, EACCES
    // for anything but a regular file, kFolderMoved when the folder moved);
    // 0 when it may, or when nothing stands there.
    int Refusal() const;
    // Whether nothing stood at the target when Open looked.
    bool Created() const { return m_created; }
    // Closes and removes the part file; the target is left alone.
    void Discard();

    // The one part-name scheme: whether entryName, a name in the folder of
    // target, is a part file of target (".<name>.part-XXXXXX", the name cut
    // to what the folder holds, XXXXXX six letters or digits), or a side
    // file SQLite keeps beside one (-journal, -wal, -shm after it). Nothing
    // else is, whatever it looks like.
    static bool IsPartName(const std::string& target, const std::string& entryName);
    // Removes what writers that did not finish left beside target: a part
    // file goes only when it carries the mark its writer set as it made
    // it (a digest of that very file's device, inode and birth) and no
    // writer holds it (a writer locks its part while it lives, and the lock
    // goes with its process). The mark is on from before the part holds
    // anything until after it took the target's name; so is a part's set
    // aside by a removal killed before its unlink, which goes the same way. Nothing else goes, whatever its name, owner
    // or mode: a file of the part's shape that no writer marked (a user's,
    // a copy of a part, one made where the file system keeps no such mark
    // or tells no birth), a part seen through another mount (its device
    // differs, and a lock may not show there), a side file. It goes by
    // RemoveSameIn, so only that very file.
    static void RemoveLeftovers(const std::string& target);
    // The same beside the target of an open part, as its open found it.
    void RemoveLeftovers() const;

private:
    // Those in folder whose names start with prefix, but for own, and those
    // set aside from such names (the folder holds names of nameMax bytes).
    static void RemoveLeftoversIn(const std::string& folder, const std::string& prefix, std::size_t nameMax,
                                  const std::string& own);
    // Gives the part its permissions, syncs it and renames it to the target.
    int PutInPlace();
    // Why a commit may not rename over what lstat found at the target (st).
    int CommitRefusal(const struct stat& st) const;
    // Whether the folder Open found still stands at its path.
    bool FolderInPlace() const;

    int m_fd = -1;
    Durability m_durability = Durability::Synced;
    std::string m_target;
    std::string m_part;
    // The folder Open found (its path, with its separator), open, as it was
    // then; the target's and the part's names in it, and what part names
    // there start with.
    std::string m_folder;
    int m_folderFd = -1;
    struct stat m_folderStat{};
    std::string m_name;
    std::string m_partName;
    std::string m_prefix;
    std::size_t m_nameMax = 0;
    // The part as it was made.
    struct stat m_partStat{};
    // What a new file gets, settled by Open; and the file Open found,
    // whose permissions a replace gives at the commit, within m_limit.
    Permissions m_permissions;
    int m_foundFd = -1;
    mode_t m_limit = 07777;
    bool m_created = false;
    // The file Open found at the target, when there was one.
    dev_t m_foundDevice = 0;
    ino_t m_foundInode = 0;
};

// Removes the file a call made and holds open at fd from path, links
// followed as Open follows them, only while path leads to that very file
// (device and inode): it is renamed aside to a name in its folder that no
// cleanup of parts takes, through the folder's descriptor, found there to
// be the file again, and only then unlinked; a file that took the name in
// between goes back to it (a kill in between leaves it aside, kept).
// Whatever else path leads to stays. 0 when removed, kNameTaken when path
// leads elsewhere, else an errno.
int RemoveMadeFile(int fd, const std::string& path);
// The same for name in the folder open at folder, the file made being the
// one whose device and inode made holds: the one way a file is removed
// that a writer made (a failed download's, a killed writer's part, a
// discarded part, a private copy). What is set aside from a part's name
// stays one of that target's, which a cleanup takes by the part's mark.
int RemoveSameIn(int folder, const std::string& name, const struct stat& made);
// The step RemoveMadeFile passes once it found the name leads to the file,
// before it sets it aside (see KillPoint).
inline constexpr const char* kMadeFileFound = "made-file-found";
// The step it passes once the name's file is set aside, before it looks at
// it again.
inline constexpr const char* kMadeFileAside = "made-file-aside";

// For the tests that kill a writer between its file steps: a writer passing
// step calls the hook a test installed (none by default, so no other program
// ever stops there or reads anything to decide it).
using KillHook = void (*)(const char* step);
// The steps of a part's, in the order a replace passes them: made (named
// and marked), its owner tried on it, opened, given its permissions,
// synced, its name and folder checked, renamed (its mark still on).
inline constexpr const char* kPartKillPoints[] = {"part-made",   "owner-probed", "part-opened", "permissions-given",
                                                  "part-synced", "part-checked", "part-renamed"};
void SetKillHook(KillHook hook);
void KillPoint(const char* step);

} // namespace platform
