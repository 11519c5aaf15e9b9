#include "tests/support/TestSupport.h"

#include "platform/CryptProv.h"
#include "platform/PartFile.h"
#include "platform/QuietWrite.h"
#include "platform/WinTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace grvtest {

namespace fs = std::filesystem;

std::string TempRoot() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

std::string SharedTempRoot() {
    const char* base = std::getenv("GRV_SHARED_TMP");
    return base && *base ? base : "/tmp";
}

TempDir::TempDir(std::string_view prefix, std::string_view parent) {
    std::string pattern = (parent.empty() ? TempRoot() : std::string(parent)) + "/" + std::string(prefix) + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    m_path = pattern;
}

TempDir::~TempDir() {
    if (!m_keep)
        RemoveTree(m_path);
}

std::string TempDir::File(std::string_view name) const {
    return m_path + "/" + std::string(name);
}

namespace {

// Directories first get owner rights, so a test that took them away cannot
// keep its leftovers from being listed and removed.
void OpenUp(const fs::path& dir) {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            OpenUp(it->path());
    }
}

} // namespace

void RemoveTree(const std::string& path) {
    if (path.empty())
        return;
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec)))
        OpenUp(path);
    fs::remove_all(path, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::vector<std::string>> ReadTable(const std::string& path, const std::string& separator) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string>& row = rows.emplace_back();
        for (std::size_t at = 0;;) {
            const std::size_t next = line.find(separator, at);
            row.push_back(line.substr(at, next - at));
            if (next == std::string::npos)
                break;
            at = next + separator.size();
        }
    }
    return rows;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, const Bytes& content) {
    return WriteFile(path, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

const char* TargetKindName(TargetKind kind) {
    switch (kind) {
    case TargetKind::Absent: return "absent";
    case TargetKind::Regular: return "regular file";
    case TargetKind::Link: return "link to a file";
    case TargetKind::DanglingLink: return "link to nothing";
    case TargetKind::Fifo: return "FIFO with a reader";
    case TargetKind::PrivateDevice: return "private device";
    case TargetKind::ReadOnly: return "read-only file";
    case TargetKind::HardLink: return "file with a second name";
    case TargetKind::FifoNoReader: return "FIFO nobody reads";
    case TargetKind::FifoReaderLeaves: return "FIFO whose reader leaves";
    case TargetKind::AclFile: return "file with an ACL";
    case TargetKind::PlantedFifo: return "FIFO another account planted";
    case TargetKind::PlantedFile: return "file another account planted";
    case TargetKind::UnderDefaultAcl: return "absent, under a default ACL";
    }
    return "?";
}

namespace {

// /dev/null's device numbers.
constexpr unsigned kNullMajor = 1;
constexpr unsigned kNullMinor = 3;

// The kernel's form of an access ACL: a version, then entries of a tag, the
// permission bits and an id (none for the tags that name no one).
constexpr const char* kAccessAclAttribute = "system.posix_acl_access";
constexpr std::uint32_t kAclVersion = 2;
constexpr std::uint32_t kAclNoId = 0xFFFFFFFF;
constexpr std::uint16_t kAclUserObj = 0x01, kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08, kAclMask = 0x10,
                        kAclOther = 0x20;
constexpr std::uint16_t kAclRead = 4, kAclWrite = 2, kAclExecute = 1, kAclNothing = 0;
constexpr std::uint16_t kAclReadWrite = kAclRead | kAclWrite;
struct AclTag {
    std::uint16_t tag;
    const char* name;
    bool named;
};
constexpr AclTag kAclTags[] = {{kAclUserObj, "u", false}, {kAclUser, "u", true},  {kAclGroupObj, "g", false},
                               {kAclGroup, "g", true},    {kAclMask, "m", false}, {kAclOther, "o", false}};
constexpr std::size_t kAclHeaderSize = 4;
constexpr std::size_t kAclEntrySize = 8;

// Where a folder's default ACL is kept: what a file made in it takes.
constexpr const char* kDefaultAclAttribute = "system.posix_acl_default";
// A sticky folder anyone may write, as /tmp is; a planted file's mode.
constexpr mode_t kSharedFolderMode = 01777;
constexpr mode_t kPlantedFileMode = 0644;

// An entry of an ACL in the kernel's form.
struct AclEntry {
    std::uint16_t tag;
    std::uint16_t perm;
    std::uint32_t id;
};

// Sets the ACL of path kept at attribute to entries.
template <std::size_t N>
bool SetAcl(const std::string& path, const char* attribute, const AclEntry (&entries)[N]) {
    std::string value(kAclHeaderSize, '\0');
    const auto put = [&value](std::size_t at, std::uint32_t v, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i)
            value[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(0, kAclVersion, 4);
    for (const AclEntry& e : entries) {
        const std::size_t at = value.size();
        value.resize(at + kAclEntrySize);
        put(at, e.tag, 2);
        put(at + 2, e.perm, 2);
        put(at + 4, e.id, 4);
    }
    return ::setxattr(path.c_str(), attribute, value.data(), value.size(), 0) == 0;
}

// owner rw-, nobody rw-, the owning group ---, mask rw-, others ---; as the
// access ACL of path, or as its default one.
bool SetAclTargetAcl(const std::string& path, const char* attribute = kAccessAclAttribute) {
    const AclEntry entries[] = {{kAclUserObj, kAclReadWrite, kAclNoId},
                                {kAclUser, kAclReadWrite, kAclNamedUser},
                                {kAclGroupObj, kAclNothing, kAclNoId},
                                {kAclMask, kAclReadWrite, kAclNoId},
                                {kAclOther, kAclNothing, kAclNoId}};
    return SetAcl(path, attribute, entries);
}

} // namespace

bool SetGroupDefaultAcl(const std::string& folder) {
    const AclEntry entries[] = {{kAclUserObj, kAclReadWrite, kAclNoId},
                                {kAclGroupObj, kAclReadWrite, kAclNoId},
                                {kAclOther, kAclRead, kAclNoId}};
    return SetAcl(folder, kDefaultAclAttribute, entries);
}

bool SetAccessAcl(const std::string& path, const std::string& text) {
    std::string value(kAclHeaderSize, '\0');
    const auto put = [&value](std::size_t at, std::uint32_t v, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i)
            value[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(0, kAclVersion, 4);
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = std::min(text.find(',', from), text.size());
        const std::string entry = text.substr(from, end - from);
        from = end + 1;
        const std::size_t colon = entry.find(':'), second = entry.rfind(':');
        if (colon == std::string::npos || second == colon || entry.size() != second + 4)
            return false;
        const std::string name = entry.substr(0, colon), id = entry.substr(colon + 1, second - colon - 1);
        const auto known = std::find_if(std::begin(kAclTags), std::end(kAclTags),
                                        [&](const AclTag& t) { return name == t.name && t.named == !id.empty(); });
        if (known == std::end(kAclTags))
            return false;
        const std::string perms = entry.substr(second + 1);
        const std::size_t at = value.size();
        value.resize(at + kAclEntrySize);
        put(at, known->tag, 2);
        put(at + 2,
            (perms[0] == 'r' ? kAclRead : 0) | (perms[1] == 'w' ? kAclWrite : 0) | (perms[2] == 'x' ? kAclExecute : 0),
            2);
        put(at + 4, id.empty() ? kAclNoId : static_cast<std::uint32_t>(std::stoul(id)), 4);
    }
    return ::setxattr(path.c_str(), kAccessAclAttribute, value.data(), value.size(), 0) == 0;
}

std::string AccessAcl(const std::string& path) {
    char value[512];
    const ssize_t size = ::getxattr(path.c_str(), kAccessAclAttribute, value, sizeof value);
    if (size < static_cast<ssize_t>(kAclHeaderSize))
        return {};
    const auto get = [&value](std::size_t at, std::size_t bytes) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(value[at + i])) << (8 * i);
        return v;
    };
    std::string text;
    for (std::size_t at = kAclHeaderSize; at + kAclEntrySize <= static_cast<std::size_t>(size); at += kAclEntrySize) {
        const std::uint32_t tag = get(at, 2), perm = get(at + 2, 2), id = get(at + 4, 4);
        const auto known =
            std::find_if(std::begin(kAclTags), std::end(kAclTags), [tag](const AclTag& t) { return t.tag == tag; });
        text += text.empty() ? "" : ",";
        text += known == std::end(kAclTags) ? "?" : known->name;
        text += ":" + (known != std::end(kAclTags) && known->named ? std::to_string(id) : std::string()) + ":";
        text += perm & kAclRead ? 'r' : '-';
        text += perm & kAclWrite ? 'w' : '-';
        text += perm & kAclExecute ? 'x' : '-';
    }
    return text;
}

namespace {

// The folder a target of kind stands in, made inside folder where the kind
// needs one of its own.
std::string FolderFor(const std::string& folder, TargetKind kind) {
    const bool planted = kind == TargetKind::PlantedFifo || kind == TargetKind::PlantedFile;
    if (!planted && kind != TargetKind::UnderDefaultAcl)
        return folder;
    const std::string own = folder + (planted ? "/shared" : "/acl");
    ::mkdir(own.c_str(), 0700);
    if (planted)
        ::chmod(own.c_str(), kSharedFolderMode);
    else
        SetAclTargetAcl(own, kDefaultAclAttribute);
    return own;
}

} // namespace

WriteTarget::WriteTarget(const std::string& folder, const std::string& name, TargetKind kind, const std::string& old)
    : m_path(FolderFor(folder, kind) + "/" + name) {
    const char* step = nullptr;
    const auto failed = [&](const char* what) {
        step = what;
        m_error = errno ? errno : EIO;
    };
    switch (kind) {
    case TargetKind::Absent: break;
    case TargetKind::Regular:
        if (!WriteFile(m_path, old))
            failed("write");
        break;
    case TargetKind::Link:
        if (!WriteFile(m_path + ".target", old))
            failed("write");
        else if (::symlink((name + ".target").c_str(), m_path.c_str()) != 0)
            failed("symlink");
        break;
    case TargetKind::DanglingLink:
        if (::symlink((name + ".target").c_str(), m_path.c_str()) != 0)
            m_error = errno;
        break;
    case TargetKind::Fifo:
        if (::mkfifo(m_path.c_str(), 0600) != 0)
            failed("mkfifo");
        else if ((m_reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
            failed("open");
        break;
    case TargetKind::ReadOnly:
        if (!WriteFile(m_path, old) || ::chmod(m_path.c_str(), 0444) != 0)
            failed("write");
        break;
    case TargetKind::HardLink:
        if (!WriteFile(m_path, old) || ::link(m_path.c_str(), (m_path + ".target").c_str()) != 0)
            failed("link");
        break;
    case TargetKind::FifoNoReader:
        if (::mkfifo(m_path.c_str(), 0600) != 0)
            failed("mkfifo");
        break;
    case TargetKind::FifoReaderLeaves: {
        constexpr int kOnePage = 4096;
        int reader = -1;
        if (::mkfifo(m_path.c_str(), 0600) != 0 || ::pipe2(m_stopLeaver, O_CLOEXEC) != 0)
            failed("mkfifo");
        else if ((reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
            failed("open");
        else if (::fcntl(reader, F_SETPIPE_SZ, kOnePage) < 0)
            failed("F_SETPIPE_SZ");
        if (reader >= 0) {
            m_leaver = std::thread([reader, stop = m_stopLeaver[0]] {
                pollfd wait[2] = {{reader, POLLIN, 0}, {stop, POLLIN, 0}};
                while (::poll(wait, 2, -1) < 0 && errno == EINTR) {
                }
                ::close(reader);
            });
        }
        break;
    }
    case TargetKind::PlantedFifo:
        if (::mkfifo(m_path.c_str(), 0600) != 0 || ::chown(m_path.c_str(), kNobodyId, kNobodyId) != 0)
            failed("mkfifo");
        else if ((m_reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
            failed("open");
        break;
    case TargetKind::PlantedFile:
        if (!WriteFile(m_path, old) || ::chmod(m_path.c_str(), kPlantedFileMode) != 0 ||
            ::chown(m_path.c_str(), kNobodyId, kNobodyId) != 0)
            failed("write");
        break;
    case TargetKind::UnderDefaultAcl:
        if (::getxattr(m_path.substr(0, m_path.rfind('/')).c_str(), kDefaultAclAttribute, nullptr, 0) <= 0)
            failed("setxattr");
        break;
    case TargetKind::AclFile:
        if (!WriteFile(m_path, old) || ::chmod(m_path.c_str(), 0600) != 0)
            failed("write");
        else if (!SetAclTargetAcl(m_path))
            failed("setxattr");
        break;
    case TargetKind::PrivateDevice: {
        // Made, opened and written as the code under test will: a folder
        // mounted nodev lets mknod pass and refuses the open.
        int fd = -1;
        if (::mknod(m_path.c_str(), S_IFCHR | 0600, makedev(kNullMajor, kNullMinor)) != 0)
            failed("mknod");
        else if ((fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC)) < 0)
            failed("open");
        else if (::write(fd, "x", 1) != 1)
            failed("write");
        if (fd >= 0)
            ::close(fd);
        break;
    }
    }
    if (step) {
        ADD_FAILURE() << "cannot make the " << TargetKindName(kind) << " at " << m_path << ": " << step << ": "
                      << std::strerror(m_error) << " (errno " << m_error << ")";
    }
}

WriteTarget::~WriteTarget() {
    if (m_reader >= 0)
        ::close(m_reader);
    if (m_leaver.joinable()) {
        const ssize_t ignored = ::write(m_stopLeaver[1], "x", 1);
        (void)ignored;
        m_leaver.join();
    }
    for (int fd : m_stopLeaver) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::string WriteTarget::Describe() {
    return DescribePath(m_path);
}

std::string WriteTarget::DescribePath(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return "absent";
    if (S_ISREG(st.st_mode))
        return "file:" + ReadFile(path);
    if (S_ISLNK(st.st_mode)) {
        char to[PATH_MAX] = {};
        const ssize_t n = ::readlink(path.c_str(), to, sizeof to - 1);
        const std::string target(to, n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::string folder = path.substr(0, path.find_last_of('/') + 1);
        return "link(" + target + ")->" + DescribePath(target[0] == '/' ? target : folder + target);
    }
    if (S_ISFIFO(st.st_mode)) {
        char chunk[4096];
        for (ssize_t n; m_reader >= 0 && (n = ::read(m_reader, chunk, sizeof chunk)) > 0;)
            m_read.append(chunk, static_cast<std::size_t>(n));
        return "fifo:" + m_read;
    }
    if (S_ISCHR(st.st_mode))
        return "device(" + std::to_string(major(st.st_rdev)) + "," + std::to_string(minor(st.st_rdev)) + ")";
    return "other";
}

namespace {

constexpr std::size_t kPipeChunk = 65536;

struct Pipe {
    int fd[2] = {-1, -1};
    bool Open() { return ::pipe2(fd, O_CLOEXEC) == 0; }
    void Close(int end) {
        if (fd[end] >= 0)
            ::close(fd[end]);
        fd[end] = -1;
    }
    ~Pipe() {
        Close(0);
        Close(1);
    }
};

} // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult result;
    if (argv.empty()) {
        result.err = "RunProgram: no program";
        return result;
    }
    Pipe in, out, err;
    if (!in.Open() || !out.Open() || !err.Open()) {
        result.err = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.fd[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, options.mergeStderr ? out.fd[1] : err.fd[1], STDERR_FILENO);
    if (!options.workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The given pairs replace inherited ones of the same name.
    std::vector<std::string> envText = options.env;
    for (char** e = environ; *e; ++e) {
        const std::string_view pair(*e);
        const std::string_view name = pair.substr(0, pair.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : options.env)
            replaced = replaced || given.rfind(name, 0) == 0;
        if (!replaced)
            envText.emplace_back(pair);
    }
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = "cannot run " + argv[0] + ": " + std::strerror(rc);
        return result;
    }
    in.Close(0);
    out.Close(1);
    err.Close(1);
    if (options.input.empty())
        in.Close(1);
    else
        ::fcntl(in.fd[1], F_SETFL, O_NONBLOCK);

    // A child that stops reading must not stall us with a full pipe.
    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);

    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    std::size_t written = 0;
    std::array<char, kPipeChunk> buf;
    while (out.fd[0] >= 0 || err.fd[0] >= 0 || in.fd[1] >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        std::array<pollfd, 3> fds = {pollfd{out.fd[0], POLLIN, 0}, pollfd{err.fd[0], POLLIN, 0},
                                     pollfd{in.fd[1], POLLOUT, 0}};
        const int n = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t got = ::read(fds[i].fd, buf.data(), buf.size());
            if (got > 0) {
                (i == 0 ? result.out : result.err).append(buf.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                (i == 0 ? out : err).Close(0);
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            const ssize_t put = ::write(in.fd[1], options.input.data() + written, options.input.size() - written);
            if (put > 0)
                written += static_cast<std::size_t>(put);
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size())
                in.Close(1);
        }
    }
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    ::sigaction(SIGPIPE, &old, nullptr);
    if (WIFEXITED(wstatus) && !result.timedOut)
        result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        result.signal = WTERMSIG(wstatus);
    return result;
}

RunResult RunPeer(const std::vector<std::string>& argv, const std::string& input) {
    RunOptions options;
    options.input = input;
    options.mergeStderr = true;
    return RunProgram(argv, options);
}

RunResult SqliteCli(const std::string& file, const std::string& sql) {
    return RunPeer({"sqlite3", "-batch", "-bail", file, sql});
}

RunResult Python(const std::string& script, const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv = {"/usr/bin/python3", "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.input = input;
    return RunProgram(argv, options);
}

int ReleaseNumber(std::string_view text) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!digit(text[i]) || (i > 0 && digit(text[i - 1])))
            continue;
        std::size_t dot = i;
        while (dot < text.size() && digit(text[dot]))
            ++dot;
        if (dot + 1 >= text.size() || text[dot] != '.' || !digit(text[dot + 1]))
            continue;
        std::size_t end = dot + 1;
        while (end < text.size() && digit(text[end]))
            ++end;
        return std::stoi(std::string(text.substr(i, dot - i))) * 100 +
               std::stoi(std::string(text.substr(dot + 1, end - dot - 1)));
    }
    return 0;
}

int PeerVersion(const std::string& program) {
    static std::mutex lock;
    static std::map<std::string, int> known;
    std::lock_guard<std::mutex> guard(lock);
    const auto it = known.find(program);
    if (it != known.end())
        return it->second;
    return known[program] = ReleaseNumber(RunPeer({program, "--version"}).out);
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

Bytes TextLike(std::size_t size, std::uint32_t seed) {
    static const char* const kWords[] = {"pain ",  "level ", "morning ", "ibuprofen ", "walked ",
                                         "slept ", "badly ", "the ",     "and ",       "headache ",
                                         "knee\n", "7 ",     "2026-01-", "mood, ",     "tired. "};
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(size);
    while (b.size() < size) {
        const char* w = kWords[rng() % std::size(kWords)];
        for (const char* p = w; *p && b.size() < size; ++p)
            b.push_back(static_cast<std::uint8_t>(*p));
    }
    return b;
}

std::string ToHex(const unsigned char* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        s += kDigits[data[i] >> 4];
        s += kDigits[data[i] & 0xF];
    }
    return s;
}

std::string ToHex(std::string_view data) {
    return ToHex(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

std::string FromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

bool InflateRaw(const Bytes& compressed, Bytes* out) {
    constexpr int kRawWindowBits = -15;
    out->clear();
    z_stream zs{};
    if (inflateInit2(&zs, kRawWindowBits) != Z_OK)
        return false;
    zs.next_in = const_cast<Bytef*>(compressed.data());
    zs.avail_in = static_cast<uInt>(compressed.size());
    std::vector<std::uint8_t> buf(kPipeChunk);
    int rc;
    do {
        zs.next_out = buf.data();
        zs.avail_out = static_cast<uInt>(buf.size());
        rc = inflate(&zs, Z_NO_FLUSH);
        out->insert(out->end(), buf.data(), buf.data() + (buf.size() - zs.avail_out));
    } while (rc == Z_OK);
    const bool ok = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return ok;
}

bool RerunCurrentTestAsNobody(const std::vector<std::string>& env, const std::string& workDir) {
    if (::geteuid() != 0)
        return false;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    EXPECT_GT(n, 0);
    if (n <= 0)
        return true;
    exe[n] = '\0';
    RunOptions options;
    options.mergeStderr = true;
    options.env = env;
    options.workDir = workDir;
    const std::string id = std::to_string(kNobodyId);
    const RunResult run =
        RunProgram({"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", exe, filter}, options);
    EXPECT_EQ(run.status, 0) << run.out;
    // The child must really have run the body, not skipped it.
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("SKIPPED"), std::string::npos) << run.out;
    return true;
}

std::string MakeJournalDatabase(const std::string& path) {
    const std::string sql = "CREATE TABLE entry(id INTEGER PRIMARY KEY, ts TEXT, subject TEXT, worst INT, avg INT,"
                            " low INT, cur INT, journal TEXT);"
                            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 3000)"
                            " INSERT INTO entry SELECT i, printf('2026-%02d-%02d %02d:%02d:00', i%12+1, i%28+1,"
                            " i%24, i%60), 'Entry ' || i, i%11, (i*7)%11, (i*3)%11, (i*5)%11,"
                            " 'Slept ' || (i%9) || ' hours; knee pain after walking ' || (i%5) || ' km.' FROM n;";
    return RunProgram({"sqlite3", path, sql}).Ok() ? path : std::string();
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    m_hadPrevious = old != nullptr;
    if (old)
        m_previous = old;
    setenv("TZ", zone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (m_hadPrevious)
        setenv("TZ", m_previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

ScopedClock::ScopedClock(int year, int month, int day, int hour, int minute, int second) {
    const std::int64_t days = platform::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    m_unixMs = (days * 86400 + hour * 3600 + minute * 60 + second) * 1000;
    platform::SetClockOverrideForTest(m_unixMs);
}

ScopedClock::ScopedClock(std::int64_t unixSeconds) : m_unixMs(unixSeconds * 1000) {
    platform::SetClockOverrideForTest(m_unixMs);
}

ScopedClock::~ScopedClock() {
    platform::SetClockOverrideForTest(0);
}

void ScopedClock::Advance(std::int64_t seconds) {
    m_unixMs += seconds * 1000;
    platform::SetClockOverrideForTest(m_unixMs);
}

bool RerunAsNobodyInHomeOfItsOwn(const std::vector<std::string>& extra) {
    if (::geteuid() != 0)
        return false;
    TempDir root("grv-nobody", SharedTempRoot());
    EXPECT_EQ(::chmod(root.Path().c_str(), 0755), 0);
    std::vector<std::string> env = extra;
    const std::pair<const char*, const char*> places[] = {{"HOME", "home"},
                                                          {"XDG_CONFIG_HOME", "config"},
                                                          {"XDG_DATA_HOME", "data"},
                                                          {"XDG_CACHE_HOME", "cache"},
                                                          {"XDG_RUNTIME_DIR", "run"},
                                                          {"TMPDIR", "tmp"},
                                                          {"GRV_SHARED_TMP", "shared"}};
    for (const auto& [name, folder] : places) {
        const std::string path = root.File(folder);
        // The shared one is for the peers' service accounts to read.
        EXPECT_EQ(::mkdir(path.c_str(), std::string(folder) == "shared" ? 0755 : 0700), 0) << path;
        EXPECT_EQ(::chown(path.c_str(), kNobodyId, kNobodyId), 0) << path;
        env.push_back(std::string(name) + "=" + path);
    }
    return RerunCurrentTestAsNobody(env, root.Path());
}

namespace {

// The name another account takes, and how many of root's files a run as
// nobody took it with so far.
std::string g_takenName;
const char* g_takenAt = "";
int g_takersUsed = 0;
constexpr mode_t kTakersMode = 0666;

void TakeName(const char* step) {
    if (std::strcmp(step, g_takenAt) != 0 || g_takenName.empty())
        return;
    const std::string name = g_takenName;
    g_takenName.clear();
    if (::geteuid() != 0) {
        const char* stock = std::getenv(kTakersStockVariable);
        const std::string file = std::string(stock ? stock : "") + "/" + std::to_string(g_takersUsed++);
        EXPECT_EQ(::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE), 0) << name;
        return;
    }
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTakersMode);
    EXPECT_GE(fd, 0) << name;
    const std::size_t size = std::strlen(kTakersBytes);
    EXPECT_TRUE(fd >= 0 && ::write(fd, kTakersBytes, size) == static_cast<ssize_t>(size) &&
                ::fchown(fd, kNobodyId, kNobodyId) == 0 && ::fchmod(fd, kTakersMode) == 0);
    ::close(fd);
}

} // namespace

std::string MakeTakersStock(const std::string& folder, int count) {
    EXPECT_EQ(::chmod(folder.c_str(), 0777), 0);
    for (int i = 0; i < count; ++i) {
        const std::string file = folder + "/" + std::to_string(i);
        EXPECT_TRUE(WriteFile(file, kTakersBytes));
        EXPECT_EQ(::chmod(file.c_str(), kTakersMode), 0);
    }
    return std::string(kTakersStockVariable) + "=" + folder;
}

void ChangeAsOwner(const std::string& path, const OwnersChange& change) {
    if (std::strcmp(change.change, "chmod") == 0) {
        EXPECT_EQ(::chmod(path.c_str(), static_cast<mode_t>(std::stoul(change.arg, nullptr, 8))), 0) << path;
    } else if (std::strcmp(change.change, "chown") == 0) {
        const auto id = static_cast<uid_t>(std::stoul(change.arg));
        EXPECT_EQ(::chown(path.c_str(), id, id), 0) << path;
    } else {
        EXPECT_TRUE(SetAccessAcl(path, change.arg)) << path;
    }
}

namespace {

std::string g_ownersFile;
const OwnersChange* g_ownersChange = nullptr;
int g_ownersPart = 0;

void ChangeOwnersFile(const char* step) {
    if (std::strcmp(step, "part-opened") == 0 && g_ownersChange != nullptr && --g_ownersPart == 0)
        ChangeAsOwner(g_ownersFile, *g_ownersChange);
}

} // namespace

OwnerChangesAsItWrites::OwnerChangesAsItWrites(const std::string& path, const OwnersChange& change, int part) {
    g_ownersFile = path;
    g_ownersPart = part;
    g_ownersChange = &change;
    platform::SetKillHook(ChangeOwnersFile);
}

OwnerChangesAsItWrites::~OwnerChangesAsItWrites() {
    platform::SetKillHook(nullptr);
    g_ownersChange = nullptr;
}

NameTaker::NameTaker(const std::string& name, const char* step) {
    g_takenName = name;
    g_takenAt = step;
    platform::SetKillHook(TakeName);
}

NameTaker::~NameTaker() {
    platform::SetKillHook(nullptr);
    g_takenName.clear();
}

void FeedFifo(const std::string& fifo, const std::string& data, bool writerFirst, const std::function<void()>& read) {
    constexpr auto kGiveUp = std::chrono::seconds(10);
    constexpr auto kRetry = std::chrono::milliseconds(5);
    std::thread writer([&] {
        if (!writerFirst)
            std::this_thread::sleep_for(kFifoHeadStart);
        const auto until = std::chrono::steady_clock::now() + kGiveUp;
        int fd;
        while ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(kRetry);
        if (fd < 0)
            return;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        // A reader that leaves is a failed write, never a signal.
        platform::WriteQuietly(fd, data.data(), data.size());
        ::close(fd);
    });
    if (writerFirst)
        std::this_thread::sleep_for(kFifoHeadStart);
    read();
    writer.join();
}

std::string PythonReadOfFifo(const std::string& fifo, const std::string& data, bool writerFirst) {
    RunResult python;
    FeedFifo(fifo, data, writerFirst,
             [&] { python = Python("import sys; sys.stdout.buffer.write(open(sys.argv[1], 'rb').read())", {fifo}); });
    return python.Ok() ? python.out : "python failed: " + python.err;
}

void InstallKillAt() {
    platform::SetKillHook([](const char* step) {
        const char* at = std::getenv(kKillAtVariable);
        if (at != nullptr && std::strcmp(at, step) == 0)
            ::kill(::getpid(), SIGKILL);
    });
}

std::vector<std::string> WithoutProc(const std::vector<std::string>& program, bool ours) {
    std::vector<std::string> argv = {
        "unshare",
        "-m",
        "--propagation",
        "private",
        "sh",
        "-c",
        ours ? "\"$@\" & child=$!\n"
               "while [ ! -e \"$GRV_READY_FILE\" ] && kill -0 $child 2>/dev/null; do sleep 0.05; done\n"
               "mount -t tmpfs none /proc; wait $child"
             : "mount -t tmpfs none /proc && exec \"$@\"",
        "sh"};
    argv.insert(argv.end(), program.begin(), program.end());
    return argv;
}

bool AwaitProcHidden() {
    constexpr auto kLongest = std::chrono::seconds(10);
    const char* ready = std::getenv(kProcHiddenVariable);
    if (ready == nullptr || !WriteFile(ready, ""))
        return false;
    const auto until = std::chrono::steady_clock::now() + kLongest;
    while (std::filesystem::exists("/proc/self") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !std::filesystem::exists("/proc/self");
}

std::string LeaveKilledPart(const std::string& target, const std::string& bytes, const char* step) {
    const std::filesystem::path at(target);
    const std::string prefix = "." + at.filename().string() + ".part-";
    const auto parts = [&] {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(at.parent_path())) {
            if (entry.path().filename().string().starts_with(prefix))
                found.insert(entry.path().string());
        }
        return found;
    };
    const std::set<std::string> before = parts();
    static const char* killAt;
    killAt = step;
    const pid_t child = ::fork();
    if (child == 0) {
        platform::SetKillHook([](const char* reached) {
            if (std::strcmp(reached, killAt) == 0)
                ::kill(::getpid(), SIGKILL);
        });
        // Never destroyed: the kill ends it first.
        auto* part = new platform::PartFile;
        if (part->Open(target) == 0) {
            part->Write(bytes.data(), bytes.size());
            platform::KillPoint("written");
            part->Commit();
        }
        ::_exit(1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
        return {};
    std::set<std::string> left = parts();
    for (const std::string& was : before)
        left.erase(was);
    return left.size() == 1 ? *left.begin() : std::string();
}

FileSizeLimit::FileSizeLimit(std::uint64_t limit, bool signalIgnored) {
    rlimit r{};
    ::getrlimit(RLIMIT_FSIZE, &r);
    m_savedSoft = r.rlim_cur;
    m_savedHard = r.rlim_max;
    m_oldHandler = signalIgnored ? ::signal(SIGXFSZ, SIG_IGN) : ::signal(SIGXFSZ, SIG_DFL);
    r.rlim_cur = static_cast<rlim_t>(limit);
    ::setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit r{};
    r.rlim_cur = static_cast<rlim_t>(m_savedSoft);
    r.rlim_max = static_cast<rlim_t>(m_savedHard);
    ::setrlimit(RLIMIT_FSIZE, &r);
    ::signal(SIGXFSZ, m_oldHandler);
}

namespace {

// The library keeps machine-wide certificate stores and key containers under
// the machine crypto root; a test must never reach the machine's own, so
// every test program runs with one inside its temporary folder. The library
// makes it when a test first stores something there: a rerun as another
// user, who may not write that folder, starts all the same. A fixture that
// sets its own puts this one back when it ends.
class MachineRootEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_root = TempRoot() + "/machine-crypto." + std::to_string(::getpid());
        platform::SetMachineCryptoRoot(m_root);
    }
    void TearDown() override {
        platform::SetMachineCryptoRoot("");
        RemoveTree(m_root);
    }

private:
    std::string m_root;
};

[[maybe_unused]] ::testing::Environment* const kMachineRootEnvironment =
    ::testing::AddGlobalTestEnvironment(new MachineRootEnvironment);

} // namespace

} // namespace grvtest
