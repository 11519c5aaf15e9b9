#include "app/store/JournalDb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

#include "app/store/JournalSchema.h"
#include "app/store/JournalTypes.h"
#include "app/store/SqlText.h"
#include "app/store/Statement.h"
#include "app/store/StoreTexts.h"
#include "platform/ByteOrder.h"
#include "platform/Cp1252Text.h"
#include "platform/File.h"
#include "platform/PartFile.h"
#include "platform/Paths.h"

namespace {

// Why a journal with another account's side file beside it is not read: the
// way out is a folder only the user writes, unless it is in one already.
std::string ForeignSideReason(const std::string& journal, const std::string& side) {
    return platform::FolderOnlyYouWrite(journal) ? SqlFormat(kReasonForeignSideFileInOwnFolder, side.c_str())
                                                 : SqlFormat(kReasonForeignSideFile, side.c_str());
}

constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
constexpr int kCreateFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
// How long a read of the whole database waits for another program's write.
constexpr int kImageBusyMs = 2000;
// How long a save waits for another window's or program's short write or
// backup before it says the journal is locked (python's sqlite3 waits as
// long).
constexpr int kJournalBusyMs = 5000;

// Whether what stands at path is a file of neither this process's user nor
// owner, the journal's.
bool IsForeign(const char* path, uid_t owner) {
    struct stat st;
    return ::lstat(path, &st) == 0 && st.st_uid != ::geteuid() && st.st_uid != owner;
}

// The owner of the journal at path; this process's user when it is not there.
uid_t OwnerOf(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 ? st.st_uid : ::geteuid();
}

// The file system every connection of the journal's goes through: the one
// SQLite would use (the system's, or whatever a test put in its place), but
// a rollback journal or a write-ahead log of another account's is never
// opened: SQLite would play it back into the journal, or write the
// journal's pages into it. Refused at each opening, since SQLite looks for
// a hot journal at every read, not only when the journal opens. (SQLite
// itself gives what it makes there, as root, the journal's owner.)
constexpr const char* kOwnSidesVfs = "grv-own-sides";
// Room for a file of the file system beneath: the system's needs far less.
constexpr int kFileRoom = 4096;

// A name for a file open in this process (platform::DescriptorPath): kept
// as it is, and followed, to that file alone. SQLite would follow it back
// to a path another account may have changed since, and opens every file
// with O_NOFOLLOW, which the kernel refuses such a name.
bool IsDescriptorPath(const char* name) {
    return std::strncmp(name, platform::kDescriptorFolder, std::strlen(platform::kDescriptorFolder)) == 0;
}
using OpenCall = int (*)(const char*, int, int);
OpenCall g_systemOpen = nullptr;
int OpenDescriptors(const char* name, int flags, int mode) {
    return g_systemOpen(name, IsDescriptorPath(name) ? flags & ~O_NOFOLLOW : flags, mode);
}

sqlite3_vfs* Beneath() {
    sqlite3_vfs* current = sqlite3_vfs_find(nullptr);
    return current && std::strcmp(current->zName, kOwnSidesVfs) != 0 ? current : sqlite3_vfs_find("unix");
}

int OpenOwnSides(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    sqlite3_vfs* beneath = Beneath();
    file->pMethods = nullptr;
    const bool side = name && (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL)) != 0;
    const uid_t owner = side ? OwnerOf(sqlite3_filename_database(name)) : ::geteuid();
    if (beneath->szOsFile > kFileRoom || (side && IsForeign(name, owner)))
        return SQLITE_CANTOPEN;
    const int opened = beneath->xOpen(beneath, name, file, flags, outFlags);
    // One another account made in the moment between is closed unread.
    if (opened == SQLITE_OK && side && IsForeign(name, owner)) {
        file->pMethods->xClose(file);
        file->pMethods = nullptr;
        return SQLITE_CANTOPEN;
    }
    return opened;
}

// Registered once, beside the system's, for the journal's connections alone.
const char* OwnSidesVfs() {
    static sqlite3_vfs vfs{};
    static std::once_flag registered;
    std::call_once(registered, [] {
        sqlite3_vfs* unix = sqlite3_vfs_find("unix");
        g_systemOpen = reinterpret_cast<OpenCall>(unix->xGetSystemCall(unix, "open"));
        unix->xSetSystemCall(unix, "open", reinterpret_cast<sqlite3_syscall_ptr>(OpenDescriptors));
        vfs = *unix;
        vfs.iVersion = 3;
        vfs.szOsFile = kFileRoom;
        vfs.zName = kOwnSidesVfs;
        vfs.pAppData = nullptr;
        vfs.xOpen = OpenOwnSides;
        vfs.xDelete = [](sqlite3_vfs*, const char* name, int sync) {
            return Beneath()->xDelete(Beneath(), name, sync);
        };
        vfs.xAccess = [](sqlite3_vfs*, const char* name, int flags, int* out) {
            return Beneath()->xAccess(Beneath(), name, flags, out);
        };
        vfs.xFullPathname = [](sqlite3_vfs*, const char* name, int n, char* out) {
            const std::size_t length = std::strlen(name);
            if (!IsDescriptorPath(name))
                return Beneath()->xFullPathname(Beneath(), name, n, out);
            if (length >= static_cast<std::size_t>(n))
                return SQLITE_CANTOPEN;
            std::memcpy(out, name, length + 1);
            return SQLITE_OK;
        };
        vfs.xDlOpen = [](sqlite3_vfs*, const char* name) { return Beneath()->xDlOpen(Beneath(), name); };
        vfs.xDlError = [](sqlite3_vfs*, int n, char* out) { Beneath()->xDlError(Beneath(), n, out); };
        vfs.xDlSym = [](sqlite3_vfs*, void* lib, const char* symbol) {
            return Beneath()->xDlSym(Beneath(), lib, symbol);
        };
        vfs.xDlClose = [](sqlite3_vfs*, void* lib) { Beneath()->xDlClose(Beneath(), lib); };
        vfs.xRandomness = [](sqlite3_vfs*, int n, char* out) { return Beneath()->xRandomness(Beneath(), n, out); };
        vfs.xSleep = [](sqlite3_vfs*, int micros) { return Beneath()->xSleep(Beneath(), micros); };
        vfs.xCurrentTime = [](sqlite3_vfs*, double* now) { return Beneath()->xCurrentTime(Beneath(), now); };
        vfs.xGetLastError = [](sqlite3_vfs*, int n, char* out) { return Beneath()->xGetLastError(Beneath(), n, out); };
        vfs.xCurrentTimeInt64 = [](sqlite3_vfs*, sqlite3_int64* now) {
            return Beneath()->xCurrentTimeInt64(Beneath(), now);
        };
        vfs.xSetSystemCall = nullptr;
        vfs.xGetSystemCall = nullptr;
        vfs.xNextSystemCall = nullptr;
        sqlite3_vfs_register(&vfs, 0);
    });
    return kOwnSidesVfs;
}

// The name SQLite opens path by as a file read-only and alone: no side file
// beside it is looked for (immutable), its own bytes are what it reads.
std::string AloneUri(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            constexpr char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[static_cast<unsigned char>(c) >> 4];
            uri += kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

constexpr const char* kResultCodeTexts[] = {
    nullptr,
    " SQL error or missing database ",
    " Internal logic error in SQLite ",
    " Access permission denied ",
    " Callback routine requested an abort ",
    " The database file is locked ",
    " A table in the database is locked ",
    " A malloc() failed ",
    " Attempt to write a readonly database ",
    " Operation terminated by sqlite3_interrupt()",
    " Some kind of disk I/O error occurred ",
    " The database disk image is malformed ",
    " NOT USED. Table or record not found ",
    " Insertion failed because database is full ",
    " Unable to open the database file ",
    " Database lock protocol error ",
    " Database is empty ",
    " The database schema changed ",
    " String or BLOB exceeds size limit ",
    " Abort due to constraint violation ",
    " Data type mismatch ",
    " Library used incorrectly ",
    " Uses OS features not supported on host ",
    " Authorization denied ",
    " Auxiliary database format error ",
    " 2nd parameter to sqlite3_bind out of range ",
    " File opened that is not a database file ",
};

// The columns of every table the application reads or writes, as the
// creation statements make them; read from a journal built in memory so
// the schema has one home.
using TableColumns = std::vector<std::pair<std::string, std::vector<std::string>>>;

std::vector<std::string> ColumnsOf(sqlite3* db, const std::string& table, int* code) {
    std::vector<std::string> columns;
    sqlite3_stmt* st = nullptr;
    const std::string sql = "PRAGMA table_info([" + table + "])";
    int r = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    if (r == SQLITE_OK) {
        while ((r = sqlite3_step(st)) == SQLITE_ROW) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
            if (name)
                columns.emplace_back(name);
        }
    }
    sqlite3_finalize(st);
    *code = r == SQLITE_DONE ? SQLITE_OK : r;
    return columns;
}

const TableColumns& JournalColumns() {
    static const TableColumns tables = [] {
        TableColumns out;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            for (const SchemaStatement& table : JournalSchemaStatements()) {
                sqlite3_exec(db, table.sql.c_str(), nullptr, nullptr, nullptr);
                // Nothing reads or writes prefs: a journal may do without it.
                if (table.table == "prefs")
                    continue;
                int code = SQLITE_OK;
                out.emplace_back(table.table, ColumnsOf(db, table.table, &code));
            }
        }
        sqlite3_close(db);
        return out;
    }();
    return tables;
}

// At most the first bytes of a statement, cut between two UTF-8 characters.
std::string StatementStart(const std::string& sql) {
    if (sql.size() <= kShownStatementBytes)
        return sql;
    size_t end = kShownStatementBytes;
    while (end > 0 && (static_cast<unsigned char>(sql[end]) & 0xC0) == 0x80)
        --end;
    return sql.substr(0, end) + kStatementCut;
}

bool IsOnlyBlanks(const char* text) {
    for (; text && *text; ++text) {
        if (*text != ' ' && (*text < '\t' || *text > '\r'))
            return false;
    }
    return true;
}

// Whether the system refuses writes to the file now, or to its folder (where
// the rollback journal goes). A journal made read-only (immutable, or its
// file system remounted read-only) while open fails its next write with no
// reason left behind: SQLite's own error number is gone by then.
bool RefusesWrites(const std::string& path) {
    auto refused = [](const std::string& p) {
        return ::access(p.c_str(), W_OK) != 0 && (errno == EACCES || errno == EPERM || errno == EROFS);
    };
    const size_t slash = path.rfind(platform::kPathSeparator);
    return refused(path) || (slash != std::string::npos && refused(path.substr(0, slash == 0 ? 1 : slash)));
}

// The copy of a journal in WAL mode is written page by page through a
// small cache, with nothing to roll back: it is thrown away if it fails.
constexpr const char* kImageCopySettings =
    "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -2048;";
// Where the database header keeps the schema cookie (big-endian).
constexpr off_t kSchemaCookieOffset = 40;

CJournalDb::ImageResult ImageResultOf(sqlite3* db, int code = SQLITE_OK) {
    if (code == SQLITE_OK || code == SQLITE_ERROR)
        code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return CJournalDb::ImageResult::Busy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    // A hot journal: a program stopped while saving, and a reader may not
    // roll its changes back.
    case SQLITE_READONLY: return CJournalDb::ImageResult::Damaged;
    case SQLITE_FULL: return CJournalDb::ImageResult::NoRoom;
    case SQLITE_IOERR: {
        const int error = db ? sqlite3_system_errno(db) : 0;
        return platform::IsDiskFull(error) ? CJournalDb::ImageResult::NoRoom : CJournalDb::ImageResult::Failed;
    }
    default: return CJournalDb::ImageResult::Failed;
    }
}

bool WriteSchemaCookie(const std::string& path, int cookie) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char bytes[4];
    platform::StoreBe32(bytes, static_cast<std::uint32_t>(cookie));
    const bool written = ::pwrite(fd, bytes, sizeof bytes, kSchemaCookieOffset) == static_cast<ssize_t>(sizeof bytes);
    return ::close(fd) == 0 && written;
}

} // namespace

std::string CJournalDb::Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    if (!text)
        return {};
    const int bytes = sqlite3_column_bytes(m_stmt, column);
    return platform::Utf8OrCp1252ToUtf8(std::string_view(text, static_cast<size_t>(bytes)));
}

int CJournalDb::Statement::Int(int column) const {
    const sqlite3_int64 value = sqlite3_column_int64(m_stmt, column);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int CJournalDb::Statement::Index(const char* name) const {
    const int count = ColumnCount();
    for (int i = 0; i < count; ++i) {
        const char* column = sqlite3_column_name(m_stmt, i);
        if (column && std::strcmp(column, name) == 0)
            return i;
    }
    return -1;
}

CJournalDb::CJournalDb() = default;

CJournalDb::~CJournalDb() {
    ReleaseConnection();
}

void CJournalDb::SetFileName(std::string name) {
    m_fileName = std::move(name);
}
std::string CJournalDb::GetFileName() const {
    return m_fileName;
}
void CJournalDb::SetFolder(std::string folder) {
    m_folder = std::move(folder);
}
std::string CJournalDb::GetFolder() const {
    return m_folder;
}

std::string CJournalDb::GetFullPath() const {
    return m_folder + platform::kPathSeparator + m_fileName;
}

bool CJournalDb::IsOpen() const {
    return m_open;
}
std::string CJournalDb::GetLastErrorText() const {
    return m_lastError;
}

std::string CJournalDb::GetResultCodeText(int code) {
    constexpr int kLastTabled = static_cast<int>(std::size(kResultCodeTexts)) - 1;
    if (code >= 1 && code <= kLastTabled)
        return kResultCodeTexts[code];
    if (code == SQLITE_ROW)
        return " sqlite3_step() has another row ready ";
    if (code == SQLITE_DONE)
        return " sqlite3_step() has finished executing ";
    return kUnknownDbError;
}

CJournalDb::ImageResult CJournalDb::WithDatabaseImage(const std::string& path, const std::string& copyPath,
                                                      const std::function<void(const std::string&)>& use) {
    sqlite3* source = nullptr;
    sqlite3* copy = nullptr;
    struct Closer {
        sqlite3*& a;
        sqlite3*& b;
        ~Closer() {
            sqlite3_close_v2(b);
            sqlite3_close_v2(a);
        }
    } closer{source, copy};
    if (sqlite3_open_v2(path.c_str(), &source, SQLITE_OPEN_READONLY, OwnSidesVfs()) != SQLITE_OK)
        return ImageResultOf(source);
    sqlite3_busy_timeout(source, kImageBusyMs);
    // One read transaction: the schema cookie and the pages are of one moment,
    // and in rollback mode no other program writes the file until it ends.
    int schemaVersion = 0;
    bool wal = false;
    {
        Statement version, mode;
        if (sqlite3_exec(source, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(source, "PRAGMA schema_version", -1, version.Out(), nullptr) != SQLITE_OK ||
            version.Step() != SQLITE_ROW ||
            sqlite3_prepare_v2(source, "PRAGMA journal_mode", -1, mode.Out(), nullptr) != SQLITE_OK ||
            mode.Step() != SQLITE_ROW)
            return ImageResultOf(source);
        schemaVersion = version.Int(0);
        wal = mode.Text(0) == "wal";
    }
    if (!wal) {
        use(path);
        return ImageResult::Ok;
    }
    // The online backup reads through SQLite, so what is still in the -wal
    // is read as well; the copy keeps only a page cache's worth in memory.
    if (sqlite3_open_v2(copyPath.c_str(), &copy, SQLITE_OPEN_READWRITE, OwnSidesVfs()) != SQLITE_OK ||
        sqlite3_exec(copy, kImageCopySettings, nullptr, nullptr, nullptr) != SQLITE_OK)
        return ImageResultOf(copy);
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source, "main");
    if (!backup)
        return ImageResultOf(copy);
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    // Either side's failure is told on the copy's connection.
    if (stepped != SQLITE_DONE || finished != SQLITE_OK)
        return ImageResultOf(copy, stepped != SQLITE_DONE ? stepped : finished);
    if (sqlite3_close(copy) != SQLITE_OK)
        return ImageResult::Failed;
    copy = nullptr;
    // The backup counts the copy's own schema change in its cookie; the
    // journal's goes back into the copy's header.
    if (!WriteSchemaCookie(copyPath, schemaVersion))
        return ImageResult::Failed;
    use(copyPath);
    return ImageResult::Ok;
}

bool CJournalDb::SettleSideFiles(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, OwnSidesVfs()) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, kImageBusyMs);
    // The first read rolls a hot journal back; the checkpoint writes a
    // -wal's frames into the file, and the last connection's close removes
    // the -wal and the -shm.
    const bool read = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK &&
                      sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) == SQLITE_OK;
    return sqlite3_close(db) == SQLITE_OK && read;
}

void CJournalDb::ReleaseConnection() {
    // close_v2 releases the handle even if a statement were still pending.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool CJournalDb::Open(int create) {
    if (m_db)
        Close();
    const std::string path = GetFullPath();
    if (create) {
        m_lastError = SqlFormat(kErrCreatingDb, path.c_str());
        m_open = CreateSchema();
        if (m_open)
            return true;
        m_lastError += "\n\n";
        m_lastError += SqlFormat(kErrFatalCreate, path.c_str());
        return false;
    }
    if (const std::string side = ForeignSideFile(path); !side.empty()) {
        const std::string reason = ForeignSideReason(path, side);
        m_lastError = SqlFormat(kErrCantReadJournal, path.c_str(), reason.c_str());
        m_open = false;
        return false;
    }
    const int r = sqlite3_open_v2(path.c_str(), &m_db, kOpenFlags, OwnSidesVfs());
    if (r == SQLITE_OK)
        sqlite3_busy_timeout(m_db, kJournalBusyMs);
    if (r == SQLITE_OK && ChecksAsJournal()) {
        m_open = true;
        return true;
    }
    if (r == SQLITE_OK) {
        ReleaseConnection();
        m_open = false;
        return false;
    }
    m_lastError = GetResultCodeText(r);
    ReleaseConnection();
    m_open = false;
    return false;
}

bool CJournalDb::CheckAlone() {
    if (m_db)
        Close();
    const int r =
        sqlite3_open_v2(AloneUri(GetFullPath()).c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, OwnSidesVfs());
    const bool journal = r == SQLITE_OK && ChecksAsJournal();
    if (r != SQLITE_OK)
        m_lastError = GetResultCodeText(r);
    ReleaseConnection();
    m_open = false;
    return journal;
}

bool CJournalDb::ChecksAsJournal() {
    return HoldsJournalTables() && ReadsWhole();
}

std::string CJournalDb::ForeignSideFile(const std::string& path) {
    const uid_t owner = OwnerOf(path.c_str());
    for (const char* suffix : platform::kDatabaseSideSuffixes) {
        if (IsForeign((path + suffix).c_str(), owner))
            return path + suffix;
    }
    return {};
}

bool CJournalDb::HoldsJournalTables() {
    const std::string path = GetFullPath();
    int code = SQLITE_OK;
    {
        // SQLite takes an empty file for an empty database.
        Statement st;
        code = sqlite3_prepare_v2(m_db, "PRAGMA page_count", -1, st.Out(), nullptr);
        if (code == SQLITE_OK)
            code = st.Step();
        if (code == SQLITE_ROW && st.Int(0) == 0) {
            m_lastError = SqlFormat(kErrNotJournal, path.c_str(), kNotJournalEmpty);
            return false;
        }
    }
    for (const auto& [table, wanted] : JournalColumns()) {
        if (code != SQLITE_OK && code != SQLITE_ROW)
            break;
        const std::vector<std::string> have = ColumnsOf(m_db, table, &code);
        if (code != SQLITE_OK)
            break;
        if (have.empty()) {
            const std::string what = SqlFormat(kNotJournalNoTable, table.c_str());
            m_lastError = SqlFormat(kErrNotJournal, path.c_str(), what.c_str());
            return false;
        }
        for (const std::string& column : wanted) {
            if (std::find(have.begin(), have.end(), column) != have.end())
                continue;
            const std::string what = SqlFormat(kNotJournalNoColumn, table.c_str(), column.c_str());
            m_lastError = SqlFormat(kErrNotJournal, path.c_str(), what.c_str());
            return false;
        }
    }
    if (code == SQLITE_OK || code == SQLITE_ROW)
        return true;
    if ((code & 0xff) == SQLITE_NOTADB) {
        m_lastError = SqlFormat(kErrNotJournal, path.c_str(), kNotJournalNotDatabase);
    } else {
        m_lastError = SqlFormat(kErrCantReadJournal, path.c_str(), FailureReason(code).c_str());
    }
    return false;
}

bool CJournalDb::ReadsWhole() {
    const std::string path = GetFullPath();
    auto damaged = [&] {
        m_lastError = SqlFormat(kErrCantReadJournal, path.c_str(), kReasonDamaged);
        return false;
    };
    auto failed = [&](int code) {
        if ((code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB)
            return damaged();
        m_lastError = SqlFormat(kErrCantReadJournal, path.c_str(), FailureReason(code).c_str());
        return false;
    };
    // SQLite's own check of every page's structure; it says "ok" alone
    // when it found nothing.
    {
        Statement st;
        int code = sqlite3_prepare_v2(m_db, "PRAGMA quick_check", -1, st.Out(), nullptr);
        if (code != SQLITE_OK)
            return failed(code);
        std::vector<std::string> found;
        while ((code = st.Step()) == SQLITE_ROW)
            found.push_back(st.Text(0));
        if (code != SQLITE_DONE)
            return failed(code);
        if (found != std::vector<std::string>{"ok"})
            return damaged();
    }
    // The check passes records whose contents cannot be read; stepping
    // through every row of every table reads each column, so no list
    // fails or comes up short later.
    for (const auto& table : JournalColumns()) {
        Statement st;
        int code = sqlite3_prepare_v2(m_db, ("SELECT * FROM [" + table.first + "]").c_str(), -1, st.Out(), nullptr);
        if (code != SQLITE_OK)
            return failed(code);
        while ((code = st.Step()) == SQLITE_ROW) {
        }
        if (code != SQLITE_DONE)
            return failed(code);
    }
    return true;
}

std::string CJournalDb::FailureReason(int code) const {
    // The system's own refusal tells a write that was not allowed from a
    // disk that failed.
    const int systemError = m_db ? sqlite3_system_errno(m_db) : 0;
    const bool refused =
        systemError == EACCES || systemError == EPERM || systemError == EROFS || RefusesWrites(GetFullPath());
    // Whatever SQLite made of it, a side file another account put there is
    // why it could not go on.
    if (const std::string side = ForeignSideFile(GetFullPath()); !side.empty())
        return ForeignSideReason(GetFullPath(), side);
    switch (code & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return kReasonCannotWrite;
    case SQLITE_FULL: return kReasonDiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kReasonLocked;
    case SQLITE_IOERR:
        if (refused)
            return kReasonCannotWrite;
        return platform::IsDiskFull(systemError) ? kReasonDiskFull : kReasonDiskError;
    case SQLITE_CANTOPEN: return refused ? kReasonCannotWrite : kReasonNoAccess;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return kReasonDamaged;
    default: break;
    }
    if (!m_db)
        return kReasonNotOpen;
    // The connection's own message when it is about this failure.
    const char* message = sqlite3_errcode(m_db) == code ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
    return SqlFormat(kReasonOther, message ? message : "");
}

bool CJournalDb::ReadsAsDatabase() {
    Statement st;
    if (!Prepare("SELECT count(*) FROM sqlite_master", st))
        return false;
    const int r = st.Step();
    if (r == SQLITE_ROW)
        return true;
    SetStepError(r);
    return false;
}

bool CJournalDb::CreateSchema() {
    const std::string path = GetFullPath();
    // Made exclusively, so a create request can never write into a journal
    // (or any other file) that is already there.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_lastError = SqlFormat(errno == EEXIST ? kErrCreateOverExisting : kErrCantCreateDb, path.c_str());
        return false;
    }
    ::close(fd);
    // What this call made is removed again when it fails, so the user can retry.
    auto fail = [&](std::string text) {
        m_lastError = std::move(text);
        ReleaseConnection();
        ::unlink(path.c_str());
        return false;
    };
    if (sqlite3_open_v2(path.c_str(), &m_db, kCreateFlags, OwnSidesVfs()) != SQLITE_OK) {
        return fail(SqlFormat(kErrCantCreateDb, path.c_str()));
    }
    sqlite3_busy_timeout(m_db, kJournalBusyMs);
    for (const SchemaStatement& table : JournalSchemaStatements()) {
        if (Execute(table.sql) != SQLITE_OK) {
            return fail(SqlFormat(table.failure.c_str(), path.c_str()));
        }
    }
    return true;
}

bool CJournalDb::Close() {
    if (!m_db) {
        m_open = false;
        return true;
    }
    if (sqlite3_close(m_db) == SQLITE_OK) {
        m_db = nullptr;
        m_open = false;
        return true;
    }
    m_lastError = SqlFormat(kErrCantCloseDb, GetFullPath().c_str());
    // The handle is released anyway and the flag follows it, so no caller
    // goes on using a journal that has no connection.
    ReleaseConnection();
    m_open = false;
    return false;
}

bool CJournalDb::Prepare(const std::string& sql, Statement& st) {
    const int r = m_db ? sqlite3_prepare_v2(m_db, sql.c_str(), -1, st.Out(), nullptr) : SQLITE_MISUSE;
    if (r == SQLITE_OK && st.Get())
        return true;
    // An empty statement prepares to nothing; for a query that is an error.
    const int code = r == SQLITE_OK ? SQLITE_MISUSE : r;
    m_lastError = SqlFormat(kErrPrepare, code, GetResultCodeText(code).c_str());
    return false;
}

void CJournalDb::SetStepError(int code) {
    m_lastError = SqlFormat(kErrStep, code, sqlite3_errmsg(m_db));
}

int CJournalDb::Execute(const std::string& sql) {
    if (!m_db)
        return SQLITE_MISUSE;
    Statement st;
    const char* tail = nullptr;
    const int r = sqlite3_prepare_v2(m_db, sql.c_str(), -1, st.Out(), &tail);
    if (r != SQLITE_OK)
        return r;
    // One statement per call: text smuggled in after it is never run.
    if (!IsOnlyBlanks(tail))
        return SQLITE_ERROR;
    if (!st.Get())
        return SQLITE_OK;
    int step;
    while ((step = st.Step()) == SQLITE_ROW) {
    }
    return step == SQLITE_DONE ? SQLITE_OK : step;
}

bool CJournalDb::Write(const std::string& sql, const char* failure) {
    const int r = Execute(sql);
    if (r == SQLITE_OK)
        return true;
    m_lastError = SqlFormat(failure, GetFullPath().c_str(), StatementStart(sql).c_str());
    m_lastError += SqlFormat(kErrReason, FailureReason(r).c_str());
    return false;
}

int CJournalDb::LastInsertId() const {
    // Ids are 32-bit throughout the journal; the low half is the id.
    return static_cast<int>(static_cast<uint32_t>(sqlite3_last_insert_rowid(m_db)));
}
