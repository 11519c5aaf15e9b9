#pragma once
// The journal's files as backup and restore write them, Qt-free: a backup
// archive made from what SQLite reads, and a restored journal put in the
// place of the one there together with the side files SQLite keeps beside
// it. Every file is written through platform::PartFile.
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace platform {
class PartFile;
}

namespace grv {

enum class BackupOutcome { Done, Declined, Busy, Damaged, DiskFull, Refused, Failed };

// Writes the journal at journal, as SQLite reads it, into a zip archive at
// archive (a link followed, a device or a FIFO written as it stands, a file
// there replaced only once the archive is complete), as one entry named
// nameInArchive, encrypted with password unless it is empty. The archive is
// no more readable than the journal. replace is asked, once the journal was
// read, before a file at archive is replaced; it is never asked about a
// device or a FIFO. Memory stays bounded whatever the journal's size; a
// journal in WAL mode is copied through SQLite beside the archive first.
// Refused: the archive's place is one platform::PartFile refuses for a
// reason platform::RefusalReason tells, from the errno left in *refusal.
BackupOutcome WriteJournalBackup(const std::string& journal, const std::string& archive,
                                 const std::string& nameInArchive, const std::string& password,
                                 const std::function<bool()>& replace, int* refusal = nullptr);

enum class JournalTarget { Free, InUse, Blocked, NameTooLong, SideFile, ForeignSides };
// Whether the journal at target (links followed) may be replaced now: InUse
// while another program holds it through SQLite or has it open (another
// window on it included), Blocked when a folder stands where SQLite keeps
// one of its side files, NameTooLong when its folder cannot hold their
// names (SQLite could read such a journal but never write it), SideFile
// when it is named as a side file of a database that stands beside it,
// ForeignSides when another account's side file stands beside it
// (CJournalDb::ForeignSideFile), which SQLite would take for its own.
JournalTarget CheckJournalTarget(const std::string& target);

// Puts the journal written in part in the place of part.Target(), with none
// of the side files (-journal, -wal, -shm) of the journal it replaces: they
// would be rolled back or merged into it at its next opening. SQLite first
// settles them into the old journal (a hot -journal rolled back, a -wal
// written in), then the restored journal, on the disk, takes the name in one
// rename: at every moment one whole journal stands there, the old or the
// restored one. 0, else the errno (EBUSY: side files SQLite could not
// settle; kJournalInUse: another program holds or has the old journal open,
// as CheckJournalTarget finds), with the old journal at its name.
constexpr int kJournalInUse = ETXTBSY;
int ReplaceJournal(platform::PartFile& part);

// The copy of the journal at journal that an earlier version's restore set
// aside ("<name>.part-XXXXXX.old", the newest) and never put back, when the
// journal itself is missing; else empty.
std::string FindSetAsideJournal(const std::string& journal);
// The files SQLite kept beside the set-aside copy at aside that it would
// still act on (a -journal to roll back, a -wal of entries), set aside with
// it: renamed back without them, the copy is half-saved or misses entries.
std::vector<std::string> SetAsideSideFiles(const std::string& aside);

} // namespace grv
