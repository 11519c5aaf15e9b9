#pragma once
// What every test folder shares: a private temporary folder, running a peer
// program without a shell, reading and writing whole files, and the data and
// file fixtures several suites build from.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace grvtest {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the test's TMPDIR (or under `parent`), removed with
// everything in it (read-only leftovers included) when the object goes.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "grv", std::string_view parent = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Leaves the folder in place, for a look at what a test wrote.
    void Keep() { m_keep = true; }
    // A name inside the folder.
    std::string File(std::string_view name) const;

private:
    std::string m_path;
    bool m_keep = false;
};

// While alive, files may grow to `limit` bytes: a write past it fails short
// (SIGXFSZ ignored), as on a full disk. With signalIgnored false the signal
// keeps the process's own disposition, which ends it: for code that must
// hold the signal back itself.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t limit, bool signalIgnored = true);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    std::uint64_t m_savedSoft = 0;
    std::uint64_t m_savedHard = 0;
    void (*m_oldHandler)(int) = nullptr;
};

// What a call that writes a file the caller names may find at the path.
enum class TargetKind {
    Absent,
    Regular,
    Link,
    DanglingLink,
    Fifo,
    PrivateDevice,
    ReadOnly,
    HardLink,
    FifoNoReader,
    FifoReaderLeaves,
    AclFile,
    PlantedFifo,
    PlantedFile,
    UnderDefaultAcl
};
const char* TargetKindName(TargetKind kind);

// One such thing made at folder/name: a regular file holding `old`, a link
// to one (named name + ".target", beside it), a link to that name with
// nothing there, a FIFO held open by a
// non-blocking reader of the test's own that keeps what is written, or a
// character device with /dev/null's numbers (1, 3), private to the folder;
// a regular file made read-only (0444), one with a second name (name +
// ".target", a hard link), a FIFO nobody reads, or one whose reader leaves
// as soon as the first bytes come (its pipe holds one page, so a writer of
// more meets the broken pipe); a regular file whose access ACL (see
// AccessAcl) lets nobody (kAclNamedUser) read and write it and shuts its
// owning group out, its mode 0660 the ACL's. Planted ones stand in a
// sticky folder anyone may write (folder/shared, 01777, the test user's),
// put there by nobody (kNobodyId): a FIFO with a reader as above, or a file
// holding `old`, mode 0644. The one under a default ACL is nothing yet, in
// a folder (folder/acl) whose default ACL is the AclFile target's.
class WriteTarget {
public:
    WriteTarget(const std::string& folder, const std::string& name, TargetKind kind, const std::string& old);
    ~WriteTarget();
    WriteTarget(const WriteTarget&) = delete;
    WriteTarget& operator=(const WriteTarget&) = delete;

    // 0, else the errno of what failed (EPERM: no device nodes here, EACCES:
    // a folder mounted nodev); a failure is also reported, with its cause.
    int Error() const { return m_error; }
    const std::string& Path() const { return m_path; }
    // What stands at the path now, whole: "absent", "file:<bytes>",
    // "link(<target>)-><what the target is>", "fifo:<bytes read so far>",
    // "device(1,3)", or "other".
    std::string Describe();
    // The same of another path (what this target's FIFO read, for one).
    std::string DescribePath(const std::string& path);

private:
    std::string m_path;
    int m_reader = -1;
    std::string m_read;
    int m_error = 0;
    std::thread m_leaver;
    int m_stopLeaver[2] = {-1, -1};
};

// The test's TMPDIR (the runner gives each test executable its own).
std::string TempRoot();
// A folder other users can reach, for what the peers' service accounts or
// nobody must read (the test's TMPDIR is closed to them): the runner's
// shared folder (GRV_SHARED_TMP), removed with the run, else /tmp.
std::string SharedTempRoot();
// Removes a folder tree, making read-only parts writable first.
void RemoveTree(const std::string& path);

// The named user of the AclFile target's ACL.
inline constexpr unsigned kAclNamedUser = 65534;
// Gives folder a default ACL that names no one: the owning group rw-,
// others r--, which a new file there takes for its mode, whatever the umask.
bool SetGroupDefaultAcl(const std::string& folder);
// The access ACL of the file at path, as "u::rw-,u:65534:rw-,g::---,m::rw-,
// o::---"; empty when it has none.
std::string AccessAcl(const std::string& path);
// Gives the file at path the access ACL text says, in AccessAcl's form, as
// setfacl --set does (a minimal one is the mode alone).
bool SetAccessAcl(const std::string& path, const std::string& text);
// A change the owner of a file makes to it: chmod (arg the mode, in
// octal), chown (arg the id, for the owner and the group) or acl (as
// setfacl --set, arg in AccessAcl's form).
struct OwnersChange {
    const char* change;
    const char* arg;
};
inline constexpr OwnersChange kOwnerMakesItPrivate{"chmod", "600"};
// Over the AclFile target's ACL, as setfacl -x u:65534 leaves it.
inline constexpr OwnersChange kOwnerTakesNobodyOut{"acl", "u::rw-,g::---,o::---"};
// Over a 0600 file, as setfacl -m u:65534:r leaves it.
inline constexpr OwnersChange kOwnerLetsNobodyRead{"acl", "u::rw-,u:65534:r--,g::---,m::r--,o::---"};
inline constexpr OwnersChange kOwnerGivesItToNobody{"chown", "65534"};
void ChangeAsOwner(const std::string& path, const OwnersChange& change);
// The owner makes change to the file at path as soon as the part-th part a
// writer makes is open (platform::KillPoint "part-opened"; a backup opens a
// copy of the journal's first), while this lives.
class OwnerChangesAsItWrites {
public:
    OwnerChangesAsItWrites(const std::string& path, const OwnersChange& change, int part = 1);
    ~OwnerChangesAsItWrites();
    OwnerChangesAsItWrites(const OwnerChangesAsItWrites&) = delete;
    OwnerChangesAsItWrites& operator=(const OwnerChangesAsItWrites&) = delete;
};
// python's open(path, 'wb') of its own file (argv[1]) with the owner's
// change (argv[2], argv[3]) made in place between two writes.
inline constexpr char kPythonOwnersChange[] = "path, change, arg = sys.argv[1:4]\n"
                                              "f = open(path, 'wb')\n"
                                              "f.write(b'python wrote'); f.flush()\n"
                                              "if change == 'chmod': os.chmod(path, int(arg, 8))\n"
                                              "elif change == 'chown': os.chown(path, int(arg), int(arg))\n"
                                              "else: os.setxattr(path, 'system.posix_acl_access', acl(arg))\n"
                                              "f.write(b' the rest'); f.close()\n";
// python's open(path, 'wb') of its own file (argv[1]) killed (SIGKILL) at
// a writer's step: before its rename once it wrote a part ("part" in
// argv[2]), after it once it closed the file ("whole").
inline constexpr char kPythonKilled[] = "path, whole = sys.argv[1], sys.argv[2] == 'whole'\n"
                                        "f = open(path, 'wb')\n"
                                        "f.write(b'python wrote'); f.flush()\n"
                                        "if whole: f.write(b' the rest'); f.close()\n"
                                        "os.kill(os.getpid(), signal.SIGKILL)\n";
// python's own making of one (acl(text), in AccessAcl's form, the bytes the
// kernel takes), with the modules the scripts that use it import.
inline constexpr char kPythonAcl[] =
    "import os, signal, struct, sys\n"
    "def acl(text):\n"
    "    tags = {'u': (1, 2), 'g': (4, 8), 'm': (16, 16), 'o': (32, 32)}\n"
    "    out = struct.pack('<I', 2)\n"
    "    for e in text.split(','):\n"
    "        t, i, p = e.split(':')\n"
    "        perm = 4 * (p[0] == 'r') | 2 * (p[1] == 'w') | (p[2] == 'x')\n"
    "        out += struct.pack('<HHI', tags[t][1 if i else 0], perm, int(i) if i else 0xFFFFFFFF)\n"
    "    return out\n";

std::string ReadFile(const std::string& path);
Bytes ReadBytes(const std::string& path);
bool WriteFile(const std::string& path, std::string_view content);
bool WriteFile(const std::string& path, const Bytes& content);
// Whether something (a link included) stands at path.
bool FileExists(const std::string& path);
// The rows of a table file: each line not blank and not starting with '#',
// split at every separator.
std::vector<std::vector<std::string>> ReadTable(const std::string& path, const std::string& separator);

// How long a test waits for a peer's output, and how often it looks again.
inline constexpr std::chrono::seconds kPeerOutputLimit{30};
inline constexpr std::chrono::milliseconds kPeerOutputPoll{20};

// The last reading of a wait, and whether it was what the wait was for.
template <class T>
struct Awaited {
    T seen{};
    bool met = false;
};

// A peer may write its access log line, stored file or captured stream after
// its answer is out, so a test that judges what a peer wrote reads it with
// read() again and again until done(reading) holds or limit passes, and
// fails with the last reading rather than with the first.
template <class Read, class Done>
auto WaitFor(Read read, Done done, std::chrono::milliseconds limit = kPeerOutputLimit) {
    Awaited<decltype(read())> result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        result.seen = read();
        result.met = done(result.seen);
        if (result.met || std::chrono::steady_clock::now() >= deadline)
            return result;
        std::this_thread::sleep_for(kPeerOutputPoll);
    }
}

struct RunOptions {
    std::string input;        // fed to the program's stdin, then closed
    bool mergeStderr = false; // stderr goes into out, in order
    std::chrono::milliseconds timeout{std::chrono::minutes(2)};
    std::vector<std::string> env; // extra NAME=value pairs
    std::string workDir;          // where it starts; ours when empty
};

struct RunResult {
    int status = -1;       // exit status; -1 when it could not start or was killed
    int signal = 0;        // the signal that ended it, if one did
    bool timedOut = false; // killed for running past the timeout
    std::string out;
    std::string err; // also says why it could not start
    bool Ok() const { return status == 0; }
};

// Runs argv[0] (searched on PATH) with argv, no shell in between.
RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// RunProgram with stderr folded into out, as a peer's verdict is read whole.
RunResult RunPeer(const std::vector<std::string>& argv, const std::string& input = {});

// The sqlite3 shell on file, in list mode ('|' between columns); stderr
// follows stdout.
RunResult SqliteCli(const std::string& file, const std::string& sql);
// /usr/bin/python3 -c script args...
RunResult Python(const std::string& script, const std::vector<std::string>& args = {}, const std::string& input = {});

// The first "MAJOR.MINOR" in text as major * 100 + minor ("curl 8.14.1"
// is 814), 0 where it holds none.
int ReleaseNumber(std::string_view text);
// A peer's release as its --version says it (python3 3.11 is 311), for the
// rows its releases answer differently; asked once a program.
int PeerVersion(const std::string& program);

// Runs read, a reader of the FIFO at fifo, while another thread writes data
// into it and closes it: the writer there kFifoHeadStart before read starts,
// or as long after. A writer nobody comes to gives up after ten seconds.
inline constexpr std::chrono::milliseconds kFifoHeadStart{200};
void FeedFifo(const std::string& fifo, const std::string& data, bool writerFirst, const std::function<void()>& read);
// What python's read() of the FIFO gets, fed so.
std::string PythonReadOfFifo(const std::string& fifo, const std::string& data, bool writerFirst);

// Deterministic filler: random bytes, and text that reads like a journal.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes TextLike(std::size_t size, std::uint32_t seed);
std::string ToHex(const unsigned char* data, std::size_t size);
std::string ToHex(std::string_view data);
// Pairs of hexadecimal digits back to their bytes.
std::string FromHex(std::string_view hex);

// Inflates raw deflate data (window bits -15); false when zlib refuses it or
// the stream does not end exactly where the data does.
bool InflateRaw(const Bytes& compressed, Bytes* out);

// Sets TZ for the scope (tzset included) and restores the previous value.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::string m_previous;
    bool m_hadPrevious;
};

// Pins the platform clock for the scope to a UTC calendar time.
class ScopedClock {
public:
    ScopedClock(int year, int month, int day, int hour, int minute, int second);
    explicit ScopedClock(std::int64_t unixSeconds);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
    // Moves the pinned clock on.
    void Advance(std::int64_t seconds);
    // The pinned instant in Unix seconds.
    std::int64_t UnixTime() const { return m_unixMs / 1000; }

private:
    std::int64_t m_unixMs;
};

// The user the privilege-dropped runs take.
constexpr unsigned kNobodyId = 65534;

// For tests that need the kernel's permission checks, which do not bind the
// superuser: when this process is root, runs the current test again in a
// child under setpriv as nobody, with env added to ours and in workDir
// (empty: ours), expects it to pass, and returns true (the caller returns).
// In that child, and when not root to begin with, returns false and the
// body runs.
bool RerunCurrentTestAsNobody(const std::vector<std::string>& env = {}, const std::string& workDir = {});
// The same, in a home and temporary folders (HOME, XDG_*, TMPDIR,
// GRV_SHARED_TMP) of nobody's own: the runner's are closed to other users.
bool RerunAsNobodyInHomeOfItsOwn(const std::vector<std::string>& env = {});

// Another account takes a name while a write to it runs: at a step of the
// part's (platform::KillPoint: just after its open, or just before its
// rename; its name tells a watcher which name to take), a file of that
// account's holding kTakersBytes, mode 0666, appears at the name, made only
// if the name is free, as that account could. The account
// is nobody for root; for nobody it is root, whose files the root that
// reran the test made beforehand (MakeTakersStock, named by
// kTakersStockVariable in the run's environment).
inline constexpr const char* kTakersBytes = "another account's bytes\n";
inline constexpr const char* kTakersStockVariable = "GRV_TAKERS_STOCK";
// Made by root: count such files of its own, in folder (which nobody may
// write, but which is not sticky, so nobody may move them out); the
// environment entry that names them to the rerun.
std::string MakeTakersStock(const std::string& folder, int count);
class NameTaker {
public:
    NameTaker(const std::string& name, const char* step);
    ~NameTaker();
    NameTaker(const NameTaker&) = delete;
    NameTaker& operator=(const NameTaker&) = delete;
};

// The environment variable a test kills its child writer through, and the
// hook that child installs: it ends at once, as kill -9 would, at the step
// the variable names.
inline constexpr const char* kKillAtVariable = "GRV_KILL_AT";
void InstallKillAt();

// argv that runs program where an empty tmpfs hides /proc, in a mount
// namespace of its own: from its start, or, for a test program of ours
// (whose sanitizers read their options through /proc as it starts), once
// it called AwaitProcHidden. The environment names the file it makes then.
inline constexpr const char* kProcHiddenVariable = "GRV_READY_FILE";
std::vector<std::string> WithoutProc(const std::vector<std::string>& program, bool ours);
// In such a program: true once /proc is hidden.
bool AwaitProcHidden();

// What a writer of target killed (SIGKILL) at step leaves beside it: a
// child process opens a part for it, writes bytes and commits, and is
// killed at step ("written": once the bytes are). The part's path, empty
// when the child left none or was not killed.
std::string LeaveKilledPart(const std::string& target, const std::string& bytes, const char* step = "written");

// A journal-sized SQLite database at path (3000 entry rows), built by the
// sqlite3 shell; path, or "" when the shell failed.
std::string MakeJournalDatabase(const std::string& path);

} // namespace grvtest
