#include "tests/support/LoopbackPeers.h"

#include "platform/CertStore.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace grvtest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStartLimit = 30s;
constexpr auto kStopGrace = 5s;
constexpr auto kPollStep = 20ms;
constexpr std::size_t kLogTail = 4000;
constexpr mode_t kReachableByServices = 0755;
constexpr mode_t kReadableByServices = 0644;

// Each peer's folder names its process group here, so that the runners
// (tests/run-common.sh) stop the peers of a test that died before it could.
constexpr const char* kProcessGroupFile = "peer.pgid";
// A peer that keeps shared memory in /dev/shm names here the start of its
// files' names, which it removes itself when stopped, not when killed: the
// runners remove them after a test that died (tests/run-common.sh).
constexpr const char* kSharedMemoryFile = "peer.shm";

// The account names dante looks up through nss_wrapper: they need not exist.
constexpr const char* kDanteRunner = "grvpeers";
constexpr const char* kDanteUnprivileged = "nobody";
constexpr const char* kNssWrapperPreload = "LD_PRELOAD=libnss_wrapper.so";

std::string PeerScript(const std::string& name) {
    return std::string(GRV_SOURCE_DIR) + "/tests/peers/" + name;
}

bool IsRoot() {
    return geteuid() == 0;
}

std::string LogTail(const std::string& path) {
    std::string text = ReadFile(path);
    return text.size() > kLogTail ? text.substr(text.size() - kLogTail) : text;
}

// What a peer that did not come up said: its output, then the logs it keeps
// itself (error.log, cache.log, ...), where a service often puts the cause.
std::string StartFailureLogs(const std::string& folder, const std::string& output) {
    std::string text = LogTail(output);
    std::vector<std::filesystem::path> logs;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".log" && entry.path() != output) {
            logs.push_back(entry.path());
        }
    }
    std::sort(logs.begin(), logs.end());
    for (const auto& log : logs) {
        text += "\n" + log.filename().string() + ":\n" + LogTail(log.string());
    }
    return text;
}

// The names every TLS peer's certificate carries.
constexpr const char* kLoopbackNames = "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1";

void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

void Run(const std::vector<std::string>& argv) {
    RunResult r = RunPeer(argv);
    if (!r.Ok()) {
        Fail(argv[0] + " failed: " + r.out + r.err);
    }
}

// The realm's programs by their Debian paths: the administration tools live
// in /usr/sbin, which an ordinary user's PATH does not hold.
constexpr DebianProgram kKdbUtil{"/usr/sbin/kdb5_util", "krb5-kdc"};
constexpr DebianProgram kKadminLocal{"/usr/sbin/kadmin.local", "krb5-admin-server"};
constexpr DebianProgram kKrb5Kdc{"/usr/sbin/krb5kdc", "krb5-kdc"};
constexpr DebianProgram kKinit{"/usr/bin/kinit", "krb5-user"};

} // namespace

std::string InstalledProgram(const DebianProgram& program) {
    if (access(program.path, X_OK) != 0) {
        const std::string path = program.path;
        Fail(path.substr(path.rfind('/') + 1) + " is not installed (" + path + "): install the Debian package " +
             program.package);
    }
    return program.path;
}

bool LoopbackAccepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

namespace {

// Exited without reaping it, so its process group id stays taken until the
// stragglers are killed.
bool HasExited(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

} // namespace

std::vector<std::string> NginxAccessLines(const NginxPeer& nginx, std::size_t count) {
    const std::string text = WaitFor([&] { return ReadFile(nginx.accessLog); },
                                     [&](const std::string& t) {
                                         return static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n')) >= count;
                                     })
                                 .seen;
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        lines.push_back(text.substr(from, nl - from));
    }
    return lines;
}

std::vector<NginxAccessLine> NginxAccessLog(const NginxPeer& nginx, std::size_t count) {
    std::vector<NginxAccessLine> parsed;
    for (const std::string& line : NginxAccessLines(nginx, count)) {
        NginxAccessLine& fields = parsed.emplace_back();
        std::istringstream in(line);
        in >> fields.serverAddr >> fields.connection >> fields.requests;
        in.ignore(1);
        std::getline(in, fields.rest);
    }
    return parsed;
}

std::vector<std::string> NginxAccessRequests(const NginxPeer& nginx, std::size_t count) {
    std::vector<std::string> requests;
    for (NginxAccessLine& line : NginxAccessLog(nginx, count)) {
        requests.push_back(std::move(line.rest));
    }
    return requests;
}

namespace {
// A socket bound to a port of 127.0.0.1 the kernel chose, or -1 (errno set).
int BindAnyLoopbackPort(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int saved = errno;
        if (fd >= 0) {
            close(fd);
        }
        errno = saved;
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// Test executables run side by side, and a port one of them has chosen looks
// free to the others until its peer binds it: the two peers would then race
// for it, and the loser's test would talk to the winner. So each chosen port
// is claimed under an abstract socket name of its own until its peer listens
// (the kernel drops the name with the process), and a claimed port is passed
// over.
class PortClaims {
public:
    // Claims port for this process; false when another process holds it.
    bool Claim(int port) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return true; // nothing to claim with: the kernel's choice stands
        }
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string name = "grv-loopback-port-" + std::to_string(port);
        std::memcpy(addr.sun_path + 1, name.data(), name.size()); // sun_path[0] == 0: abstract
        const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
            close(fd);
            return errno != EADDRINUSE;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_claims[port] = fd;
        return true;
    }
    void Release(int port) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_claims.find(port);
        if (it != m_claims.end()) {
            close(it->second);
            m_claims.erase(it);
        }
    }

private:
    std::mutex m_mutex;
    std::map<int, int> m_claims;
};

PortClaims& Claims() {
    static PortClaims claims;
    return claims;
}

// The listening sockets (inodes) that take connections to 127.0.0.1:port.
std::vector<std::string> LoopbackListenerInodes(int port) {
    constexpr const char* kListen = "0A";
    const std::vector<std::string> answering = {"0100007F", "00000000", "00000000000000000000000000000000",
                                                "0000000000000000FFFF00000100007F"};
    std::vector<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const std::size_t colon = local.find(':');
            if (colon == std::string::npos || state != kListen ||
                std::stoi(local.substr(colon + 1), nullptr, 16) != port ||
                std::find(answering.begin(), answering.end(), local.substr(0, colon)) == answering.end()) {
                continue;
            }
            inodes.push_back(inode);
        }
    }
    return inodes;
}

// A process's group, from /proc/PID/stat (the fields after the name, which
// may itself hold spaces and parentheses); 0 when it cannot be read.
pid_t ProcessGroupOf(const std::string& pid) {
    const std::string stat = ReadFile("/proc/" + pid + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    long parent = 0, group = 0;
    rest >> state >> parent >> group;
    return static_cast<pid_t>(group);
}

} // namespace

std::vector<LoopbackListener> LoopbackListeners(int port) {
    std::vector<LoopbackListener> found;
    const std::vector<std::string> inodes = LoopbackListenerInodes(port);
    if (inodes.empty()) {
        return found;
    }
    std::vector<std::string> sockets;
    for (const std::string& inode : inodes) {
        sockets.push_back("socket:[" + inode + "]");
    }
    std::error_code ec;
    for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code fdError;
        for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
            if (!linkError && std::find(sockets.begin(), sockets.end(), target) != sockets.end()) {
                std::string command = ReadFile("/proc/" + pid + "/cmdline");
                std::replace(command.begin(), command.end(), '\0', ' ');
                while (!command.empty() && command.back() == ' ') {
                    command.pop_back();
                }
                found.push_back({static_cast<pid_t>(std::stol(pid)), ProcessGroupOf(pid), command});
                break;
            }
        }
    }
    return found;
}

std::vector<int> FreeLoopbackPorts(std::size_t count) {
    // Every socket stays bound until every port is chosen, so the ports
    // differ and a port another process has claimed is not offered again.
    std::vector<int> fds;
    std::vector<int> ports;
    std::string error;
    while (ports.size() < count && error.empty()) {
        int port = 0;
        const int fd = BindAnyLoopbackPort(port);
        if (fd < 0) {
            error = strerror(errno);
        } else {
            fds.push_back(fd);
            if (Claims().Claim(port)) {
                ports.push_back(port);
            }
        }
    }
    for (int fd : fds) {
        close(fd);
    }
    if (!error.empty()) {
        for (int port : ports) {
            Claims().Release(port);
        }
        Fail("no free port on 127.0.0.1: " + error);
    }
    return ports;
}

int FreeLoopbackPort() {
    return FreeLoopbackPorts(1)[0];
}

ClosedLoopbackPort::ClosedLoopbackPort() {
    m_fd = BindAnyLoopbackPort(m_port);
    if (m_fd < 0) {
        Fail("no port to hold closed on 127.0.0.1: " + std::string(strerror(errno)));
    }
}

ClosedLoopbackPort::~ClosedLoopbackPort() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

LoopbackPeers::LoopbackPeers() {
    // Peers that run as root drop to service accounts (www-data, proxy) which
    // must read their configuration, so their folder is world-traversable.
    std::string pattern = SharedTempRoot() + "/grv-peers.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("mkdtemp: " + std::string(strerror(errno)));
    }
    m_folder = pattern;
    chmod(m_folder.c_str(), kReachableByServices);
}

LoopbackPeers::~LoopbackPeers() {
    for (Running& peer : m_running) {
        StopPeer(peer);
    }
    m_running.clear();
    if (!m_trusted.empty())
        std::filesystem::remove(m_trusted);
    RemoveTree(m_folder);
}

std::string LoopbackPeers::MakeFolder(const std::string& name) {
    std::string folder = m_folder + "/" + name + "-" + std::to_string(++m_serial);
    mkdir(folder.c_str(), kReachableByServices);
    chmod(folder.c_str(), kReachableByServices);
    return folder;
}

std::string LoopbackPeers::WriteConfig(const std::string& folder, const std::string& name, const std::string& text) {
    std::string path = folder + "/" + name;
    if (!WriteFile(path, text)) {
        Fail("cannot write " + path);
    }
    return path;
}

std::string LoopbackPeers::Certificate() {
    std::string cert = m_folder + "/localhost.pem";
    if (!FileExists(cert)) {
        Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-days", "2",
             "-addext", std::string(kLoopbackNames) + m_certificateNames, "-keyout", m_folder + "/localhost.key",
             "-out", cert});
    }
    return cert;
}

void LoopbackPeers::AddCertificateName(const std::string& dnsName) {
    if (FileExists(m_folder + "/localhost.pem"))
        Fail("the peers' certificate is made already: name " + dnsName + " before its first use");
    m_certificateNames += ",DNS:" + dnsName;
}

void LoopbackPeers::TrustCertificate() {
    if (!m_trusted.empty())
        return;
    const std::string folder =
        platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    std::filesystem::create_directories(folder);
    RunResult print = RunPeer({"openssl", "x509", "-in", Certificate(), "-noout", "-fingerprint", "-sha1"});
    std::string thumbprint = print.out.substr(print.out.find('=') + 1);
    std::erase_if(thumbprint, [](char c) { return c == ':' || c == '\n'; });
    if (!print.Ok() || thumbprint.empty())
        Fail("no thumbprint of " + Certificate() + ": " + print.err);
    m_trusted = folder + "/" + thumbprint + ".pem";
    if (!WriteFile(m_trusted, ReadFile(Certificate())))
        Fail("cannot write " + m_trusted);
}

std::string LoopbackPeers::CertificateKey() {
    Certificate();
    return m_folder + "/localhost.key";
}

std::string LoopbackPeers::HtpasswdFile() {
    std::string path = m_folder + "/htpasswd";
    if (!FileExists(path)) {
        Run({"htpasswd", "-bc", path, kPeerUser, kPeerPassword});
        chmod(path.c_str(), kReadableByServices);
    }
    return path;
}

// The proxies look a name a test gives them up here, not in the machine's
// hosts file: "localhost" is 127.0.0.1, where every peer listens, even where
// the machine's file (Debian's own) gives ::1 first.
std::string LoopbackPeers::LoopbackHostsFile() {
    std::string path = m_folder + "/hosts";
    if (!FileExists(path)) {
        WriteConfig(m_folder, "hosts", "127.0.0.1 localhost\n");
        chmod(path.c_str(), kReadableByServices);
    }
    return path;
}

// For the peers that resolve through the C library: nss_wrapper hands them
// that file.
std::vector<std::string> LoopbackPeers::LoopbackHostsEnv() {
    return {kNssWrapperPreload, "NSS_WRAPPER_HOSTS=" + LoopbackHostsFile()};
}

void LoopbackPeers::Launch(Running peer, const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    peer.log = peer.folder + "/output.log";
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        envText.emplace_back(*e);
    }
    envText.insert(envText.end(), env.begin(), env.end());
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : envText) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, peer.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, kReadableByServices);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, peer.folder.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A group of its own, so the stop reaches the workers it forks.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    int rc = posix_spawnp(&peer.pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        Fail(peer.name + ": cannot start " + argv[0] + ": " + strerror(rc));
    }
    WriteFile(peer.folder + "/" + kProcessGroupFile, std::to_string(peer.pid));
    m_running.push_back(peer);
    Running& started = m_running.back();

    auto deadline = Clock::now() + kStartLimit;
    std::string why;
    for (int port : started.ports) {
        bool up = LoopbackAccepts(port);
        while (!up && !HasExited(started.pid) && Clock::now() <= deadline) {
            std::this_thread::sleep_for(kPollStep);
            up = LoopbackAccepts(port);
        }
        if (!up) {
            why = started.name + " did not come up on port " + std::to_string(port) + ":\n" +
                  StartFailureLogs(started.folder, started.log);
            break;
        }
        // Something answering is not enough: it must be this peer, not a
        // process that took the port first (the peer then fails to bind).
        // /proc hides the sockets of processes it may not show us (sshd makes
        // itself undumpable), so finding no holder at all is not held against
        // the peer.
        const std::vector<LoopbackListener> listeners = LoopbackListeners(port);
        const bool ours = std::any_of(listeners.begin(), listeners.end(),
                                      [&](const LoopbackListener& l) { return l.processGroup == started.pid; });
        if (!listeners.empty() && !ours) {
            why = started.name + ": port " + std::to_string(port) + " is taken by another process (pid " +
                  std::to_string(listeners.front().pid) + ", " + listeners.front().command + "):\n" +
                  StartFailureLogs(started.folder, started.log);
            break;
        }
    }
    for (int port : started.ports) {
        Claims().Release(port);
    }
    if (!why.empty()) {
        StopPeer(started);
        m_running.pop_back();
        Fail(why);
    }
}

void LoopbackPeers::StopPeer(Running& peer) {
    if (peer.pid == 0) {
        return;
    }
    kill(-peer.pid, SIGTERM);
    auto deadline = Clock::now() + kStopGrace;
    while (!HasExited(peer.pid) && Clock::now() < deadline) {
        std::this_thread::sleep_for(kPollStep);
    }
    // The leader is a zombie or still running: its id is still the group's.
    kill(-peer.pid, SIGKILL);
    waitpid(peer.pid, nullptr, 0);
    peer.pid = 0;
}

std::string LoopbackPeers::PeerFolder(int port) const {
    for (const Running& peer : m_running) {
        for (int p : peer.ports) {
            if (p == port) {
                return peer.folder;
            }
        }
    }
    return {};
}

void LoopbackPeers::Stop(int port) {
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        for (int p : it->ports) {
            if (p == port) {
                StopPeer(*it);
                m_running.erase(it);
                return;
            }
        }
    }
}

NginxPeer LoopbackPeers::StartNginx(const NginxOptions& options) {
    Running peer{"nginx", 0, FreeLoopbackPorts(2), {}, MakeFolder("nginx")};
    const std::string& dir = peer.folder;
    NginxPeer result{peer.ports[0], peer.ports[1], dir + "/www", dir + "/access.log"};
    std::string extraListen;
    for (int n = 2; n <= options.loopbackHosts; ++n) {
        extraListen += "    listen 127.0.0." + std::to_string(n) + ":" + std::to_string(result.httpPort) + ";\n";
    }
    std::string serverLines;
    for (std::string line : options.serverLines) {
        for (const auto& [name, port] : {std::pair<std::string, int>{"{httpPort}", result.httpPort},
                                         std::pair<std::string, int>{"{tlsPort}", result.tlsPort}}) {
            for (std::size_t at; (at = line.find(name)) != std::string::npos;) {
                line.replace(at, name.size(), std::to_string(port));
            }
        }
        serverLines += "    " + line + "\n";
    }
    std::string keepalive;
    if (options.keepaliveTimeoutSec != 0) {
        keepalive = "  keepalive_timeout " + std::to_string(options.keepaliveTimeoutSec) + "s;";
    }
    mkdir(result.docRoot.c_str(), kReachableByServices);
    mkdir((result.docRoot + "/basic").c_str(), kReachableByServices);
    mkdir((result.docRoot + "/dav").c_str(), kReachableByServices);
    WriteFile(result.docRoot + "/index.html", "hello\n");
    WriteFile(result.docRoot + "/empty-page", "");
    WriteFile(result.docRoot + "/basic/index.html", "basic-ok\n");
    std::string big;
    for (int i = 0; i < 2000; ++i) {
        big += "line " + std::to_string(i) + " of a text that compresses well\n";
    }
    WriteFile(result.docRoot + "/big.txt", big);
    std::string conf = WriteConfig(dir, "nginx.conf",
                                   Join({
                                       "pid " + dir + "/nginx.pid;",
                                       "error_log " + dir + "/error.log;",
                                       "events { worker_connections 64; }",
                                       "http {",
                                       "  log_format grv '$server_addr $connection $connection_requests $status "
                                       "$request';",
                                       "  access_log " + dir + "/access.log grv;",
                                       keepalive,
                                       "  client_body_temp_path " + dir + "/body;",
                                       "  proxy_temp_path " + dir + "/proxy;",
                                       "  fastcgi_temp_path " + dir + "/fastcgi;",
                                       "  uwsgi_temp_path " + dir + "/uwsgi;",
                                       "  scgi_temp_path " + dir + "/scgi;",
                                       "  types { text/html html; text/plain txt; }",
                                       "  gzip on; gzip_min_length 1; gzip_types text/plain;",
                                       "  chunked_transfer_encoding on;",
                                       "  server {",
                                       "    listen 127.0.0.1:" + std::to_string(result.httpPort) + ";",
                                       extraListen + "    listen 127.0.0.1:" + std::to_string(result.tlsPort) + " ssl;",
                                       "    ssl_certificate " + Certificate() + ";",
                                       "    ssl_certificate_key " + CertificateKey() + ";",
                                       "    ssl_protocols TLSv1;",
                                       "    ssl_ciphers AES128-SHA:@SECLEVEL=0;",
                                       "    root " + result.docRoot + ";",
                                       "    location /basic/ {",
                                       "      auth_basic \"Gorvane test\";",
                                       "      auth_basic_user_file " + HtpasswdFile() + ";",
                                       "    }",
                                       "    location = /early {",
                                       "      client_max_body_size 0;",
                                       "      return 200 \"early\\n\";",
                                       "    }",
                                       "    location /dav/ {",
                                       "      client_max_body_size 0;",
                                       "      dav_methods PUT DELETE;",
                                       "      create_full_put_path on;",
                                       "    }",
                                       "    location = /nocontent { return 204; }",
                                       "    location = /empty404 { error_page 404 /empty-page; return 404; }",
                                       "    location = /empty-page { internal; }",
                                       "    location = /moved { return 302 /; }",
                                       "    location = /moved301 { return 301 /; }",
                                       "    location = /to-whoami { return 302 /whoami; }",
                                       "    location = /elsewhere { return 302 http://127.0.0.2:$server_port/whoami; }",
                                       "    location = /whoami { return 200 \"[$http_authorization]\\n\"; }",
                                       serverLines + "  }",
                                       "}",
                                   }));
    // One process: nothing to hand over to workers running as nobody.
    Launch(peer, {"/usr/sbin/nginx", "-p", dir, "-c", conf, "-e", dir + "/error.log", "-g",
                  "daemon off; master_process off;"});
    return result;
}

ApachePeer LoopbackPeers::StartApache(const ApacheOptions& options) {
    Running peer{"apache2", 0, {FreeLoopbackPort()}, {}, MakeFolder("apache2")};
    const std::string& dir = peer.folder;
    std::string www = dir + "/www";
    for (const char* sub : {"", "/digest", "/ntlm", "/negotiate"}) {
        mkdir((www + sub).c_str(), kReachableByServices);
    }
    WriteFile(www + "/index.html", "hello\n");
    WriteFile(www + "/digest/index.html", "digest-ok\n");
    WriteFile(www + "/ntlm/index.html", "ntlm-ok\n");
    WriteFile(www + "/negotiate/index.html", "negotiate-ok\n");
    RunResult digest = Python("import hashlib,sys; u,r,p=sys.argv[1:4]; "
                              "print(f'{u}:{r}:' + hashlib.md5(f'{u}:{r}:{p}'.encode()).hexdigest())",
                              {kPeerUser, kApacheDigestRealm, kPeerPassword});
    if (!digest.Ok()) {
        Fail("htdigest line: " + digest.err);
    }
    std::string htdigest = WriteConfig(dir, "htdigest", digest.out);
    // gss-ntlmssp takes the accounts it accepts from this file.
    std::string accounts = std::string(kPeerNtlmDomain) + ":" + kPeerUser + ":" + kPeerPassword + "\n";
    for (const std::string& line : options.ntlmUsers) {
        accounts += line + "\n";
    }
    std::string ntlmUsers = WriteConfig(dir, "ntlm-users", accounts);
    const std::string modules = "/usr/lib/apache2/modules/";
    std::vector<std::string> lines = {
        "ServerRoot " + dir,
        "ServerName localhost",
        "Listen 127.0.0.1:" + std::to_string(peer.ports[0]),
        "PidFile " + dir + "/apache.pid",
        "ErrorLog " + dir + "/error.log",
        "DefaultRuntimeDir " + dir,
        "Mutex file:" + dir,
        "LoadModule mpm_event_module " + modules + "mod_mpm_event.so",
        "LoadModule authn_core_module " + modules + "mod_authn_core.so",
        "LoadModule authn_file_module " + modules + "mod_authn_file.so",
        "LoadModule authz_core_module " + modules + "mod_authz_core.so",
        "LoadModule authz_user_module " + modules + "mod_authz_user.so",
        "LoadModule auth_digest_module " + modules + "mod_auth_digest.so",
        "LoadModule auth_gssapi_module " + modules + "mod_auth_gssapi.so",
        "LoadModule dir_module " + modules + "mod_dir.so",
        "DocumentRoot " + www,
        "DirectoryIndex index.html",
        "<Directory />",
        "  AllowOverride None",
        "</Directory>",
        "<Location /digest/>",
        "  AuthType Digest",
        std::string("  AuthName \"") + kApacheDigestRealm + "\"",
        "  AuthDigestDomain /digest/",
        "  AuthUserFile " + htdigest,
        "  Require valid-user",
        "</Location>",
        "<Location /ntlm/>",
        "  AuthType GSSAPI",
        "  AuthName \"Gorvane NTLM\"",
        "  GssapiAllowedMech ntlmssp",
        // NTLM's three messages must stay on one connection.
        "  GssapiConnectionBound On",
        "  Require valid-user",
        "</Location>",
    };
    if (IsRoot()) {
        lines.insert(lines.begin() + 2, {"User www-data", "Group www-data"});
    }
    std::vector<std::string> env = {"NTLM_USER_FILE=" + ntlmUsers};
    if (options.kerberos != nullptr) {
        lines.insert(lines.end(), {
                                      "<Location /negotiate/>",
                                      "  AuthType GSSAPI",
                                      "  AuthName \"Gorvane Negotiate\"",
                                      "  GssapiCredStore keytab:" + options.kerberos->keytab,
                                      "  GssapiAllowedMech krb5",
                                      "  GssapiConnectionBound On",
                                      "  Require valid-user",
                                      "</Location>",
                                  });
        // No replay cache: the service account could not write one here.
        env.insert(env.end(), {"KRB5_CONFIG=" + options.kerberos->krb5Conf, "KRB5RCACHETYPE=none"});
    }
    lines.insert(lines.end(), options.config.begin(), options.config.end());
    std::string conf = WriteConfig(dir, "apache2.conf", Join(lines));
    env.insert(env.end(), options.env.begin(), options.env.end());
    Launch(peer, {"/usr/sbin/apache2", "-f", conf, "-DFOREGROUND"}, env);
    return {peer.ports[0]};
}

KdcPeer LoopbackPeers::StartKdc() {
    Running peer{"krb5kdc", 0, {FreeLoopbackPort()}, {}, MakeFolder("krb5kdc")};
    const std::string& dir = peer.folder;
    const std::string realm = kKdcRealm;
    const std::string listen = "127.0.0.1:" + std::to_string(peer.ports[0]);
    std::string kdcConf = WriteConfig(dir, "kdc.conf",
                                      Join({
                                          "[kdcdefaults]",
                                          "  kdc_listen = " + listen,
                                          "  kdc_tcp_listen = " + listen,
                                          "[realms]",
                                          "  " + realm + " = {",
                                          "    database_name = " + dir + "/principal",
                                          "    key_stash_file = " + dir + "/stash",
                                          "    acl_file = " + dir + "/kadm5.acl",
                                          "  }",
                                          "[logging]",
                                          "  kdc = FILE:" + dir + "/kdc.log",
                                      }));
    WriteConfig(dir, "kadm5.acl", "");
    // Names are taken as written (no DNS), over TCP.
    KdcPeer result;
    result.port = peer.ports[0];
    result.krb5Conf = WriteConfig(dir, "krb5.conf",
                                  Join({
                                      "[libdefaults]",
                                      "  default_realm = " + realm,
                                      "  dns_lookup_kdc = false",
                                      "  dns_lookup_realm = false",
                                      "  rdns = false",
                                      "  dns_canonicalize_hostname = false",
                                      "  udp_preference_limit = 1",
                                      "[realms]",
                                      "  " + realm + " = {",
                                      "    kdc = " + listen,
                                      "  }",
                                      "[domain_realm]",
                                      "  localhost = " + realm,
                                  }));
    result.keytab = dir + "/http.keytab";
    RunOptions admin;
    admin.env = {"KRB5_CONFIG=" + result.krb5Conf, "KRB5_KDC_PROFILE=" + kdcConf};
    const std::string kdbUtil = InstalledProgram(kKdbUtil);
    const std::string kadminLocal = InstalledProgram(kKadminLocal);
    const std::string kdc = InstalledProgram(kKrb5Kdc);
    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {kdbUtil, "-r", realm, "create", "-s", "-P", "grv-master-key"},
             {kadminLocal, "-r", realm, "-q", std::string("addprinc -pw ") + kPeerPassword + " " + kPeerUser},
             {kadminLocal, "-r", realm, "-q", "addprinc -randkey HTTP/localhost"},
             {kadminLocal, "-r", realm, "-q", "ktadd -k " + result.keytab + " HTTP/localhost"},
         }) {
        RunResult r = RunProgram(argv, admin);
        if (!r.Ok()) {
            Fail(argv[0] + " failed: " + r.out + r.err);
        }
    }
    chmod(result.keytab.c_str(), kReadableByServices);
    Launch(peer, {kdc, "-n", "-r", realm}, admin.env);
    return result;
}

void LoopbackPeers::Kinit(const KdcPeer& kdc, const std::string& ccache) {
    RunOptions o;
    o.input = std::string(kPeerPassword) + "\n";
    o.env = {"KRB5_CONFIG=" + kdc.krb5Conf, "KRB5CCNAME=" + ccache};
    RunResult r = RunProgram({InstalledProgram(kKinit), kPeerUser}, o);
    if (!r.Ok()) {
        Fail("kinit failed: " + r.out + r.err);
    }
}

int LoopbackPeers::StartSquid(int sslPort) {
    Running peer{"squid", 0, {FreeLoopbackPort()}, {}, MakeFolder("squid")};
    const std::string& dir = peer.folder;
    std::string connectPorts;
    if (sslPort != 0) {
        connectPorts = "acl SSL_ports port " + std::to_string(sslPort) +
                       "\nacl CONNECT method CONNECT\nhttp_access deny CONNECT !SSL_ports";
    }
    std::string conf = WriteConfig(dir, "squid.conf",
                                   Join({
                                       "http_port 127.0.0.1:" + std::to_string(peer.ports[0]),
                                       "pid_filename " + dir + "/squid.pid",
                                       "cache_log " + dir + "/cache.log",
                                       "access_log none",
                                       "cache deny all",
                                       "cache_mem 8 MB",
                                       "coredump_dir " + dir,
                                       "netdb_filename none",
                                       "pinger_enable off",
                                       "hosts_file " + LoopbackHostsFile(),
                                       "shutdown_lifetime 0 seconds",
                                       "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + HtpasswdFile(),
                                       "auth_param basic realm Gorvane proxy",
                                       connectPorts,
                                       "acl authed proxy_auth REQUIRED",
                                       "http_access allow authed",
                                       "http_access deny all",
                                   }));
    if (IsRoot()) {
        // Squid writes its logs as its service account.
        Run({"chown", "proxy", dir});
    }
    // Squid names its shared memory files after its service name (32
    // letters and digits at most), so two squids of the same name (two test
    // processes, or two users) cannot both start; its random part proves
    // the files of that name this test's.
    std::random_device random;
    std::ostringstream service;
    service << "grvsquid" << peer.ports[0] << std::hex << random() << random();
    WriteConfig(dir, kSharedMemoryFile, service.str() + "-");
    Launch(peer, {"/usr/sbin/squid", "-N", "-n", service.str(), "-f", conf});
    return peer.ports[0];
}

int LoopbackPeers::StartTinyproxy() {
    Running peer{"tinyproxy", 0, {FreeLoopbackPort()}, {}, MakeFolder("tinyproxy")};
    const std::string& dir = peer.folder;
    std::string conf = WriteConfig(dir, "tinyproxy.conf",
                                   Join({
                                       "Port " + std::to_string(peer.ports[0]),
                                       "Listen 127.0.0.1",
                                       "Timeout 30",
                                       "MaxClients 20",
                                       "PidFile \"" + dir + "/tinyproxy.pid\"",
                                       "LogLevel Info",
                                       "Allow 127.0.0.1",
                                       std::string("BasicAuth ") + kPeerUser + " " + kPeerPassword,
                                   }));
    Launch(peer, {"/usr/bin/tinyproxy", "-d", "-c", conf}, LoopbackHostsEnv());
    return peer.ports[0];
}

int LoopbackPeers::StartMicrosocks(bool requireCredentials) {
    Running peer{"microsocks", 0, {FreeLoopbackPort()}, {}, MakeFolder("microsocks")};
    std::vector<std::string> argv = {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(peer.ports[0])};
    if (requireCredentials) {
        argv.insert(argv.end(), {"-u", kPeerUser, "-P", kPeerPassword});
    }
    Launch(peer, argv, LoopbackHostsEnv());
    return peer.ports[0];
}

int LoopbackPeers::StartDante() {
    RunResult hash = RunPeer({"openssl", "passwd", "-6", kPeerPassword});
    if (!hash.Ok()) {
        Fail("openssl passwd: " + hash.out);
    }
    hash.out.erase(hash.out.find_last_not_of("\r\n") + 1);
    Running peer{"dante", 0, {FreeLoopbackPort()}, {}, MakeFolder("dante")};
    const std::string& dir = peer.folder;
    std::string conf =
        WriteConfig(dir, "sockd.conf",
                    Join({
                        "logoutput: " + dir + "/sockd.log",
                        "internal: 127.0.0.1 port = " + std::to_string(peer.ports[0]),
                        "external: 127.0.0.1",
                        // SOCKS4 has no methods: "none" lets it in, and so SOCKS5 clients
                        // that offer no credentials.
                        "socksmethod: username none",
                        "clientmethod: none",
                        std::string("user.privileged: ") + kDanteRunner,
                        std::string("user.unprivileged: ") + (IsRoot() ? kDanteUnprivileged : kDanteRunner),
                        "client pass {",
                        "  from: 127.0.0.0/8 to: 0.0.0.0/0",
                        "}",
                        "socks pass {",
                        "  from: 127.0.0.0/8 to: 127.0.0.0/8",
                        "  command: connect",
                        "  socksmethod: username",
                        "}",
                        "socks pass {",
                        "  from: 127.0.0.0/8 to: 127.0.0.0/8",
                        "  command: connect",
                        "  socksmethod: none",
                        "}",
                    }));
    // dante checks the username method's passwords against the accounts it
    // looks up; nss_wrapper hands it files of ours instead of the machine's,
    // so no account is added and no root is needed.
    const std::string ids = std::to_string(getuid()) + ":" + std::to_string(getgid());
    const std::string nobody = std::to_string(kNobodyId) + ":" + std::to_string(kNobodyId);
    std::string passwd = WriteConfig(dir, "passwd",
                                     Join({
                                         std::string(kDanteRunner) + ":x:" + ids + "::/nonexistent:/bin/false",
                                         std::string(kDanteUnprivileged) + ":x:" + nobody + "::/nonexistent:/bin/false",
                                         std::string(kPeerUser) + ":x:" + ids + "::/nonexistent:/bin/false",
                                     }));
    std::string group = WriteConfig(dir, "group",
                                    Join({
                                        std::string(kDanteRunner) + ":x:" + std::to_string(getgid()) + ":",
                                        std::string(kDanteUnprivileged) + ":x:" + std::to_string(kNobodyId) + ":",
                                    }));
    std::string shadow = WriteConfig(dir, "shadow", std::string(kPeerUser) + ":" + hash.out + ":19000:0:99999:7:::\n");
    std::vector<std::string> env = LoopbackHostsEnv();
    env.insert(env.end(),
               {"NSS_WRAPPER_PASSWD=" + passwd, "NSS_WRAPPER_GROUP=" + group, "NSS_WRAPPER_SHADOW=" + shadow});
    Launch(peer, {"/usr/sbin/danted", "-f", conf, "-p", dir + "/sockd.pid", "-N", "1"}, env);
    return peer.ports[0];
}

int LoopbackPeers::StartOpensslServer(const std::string& ciphers) {
    OpensslServerOptions options;
    options.ciphers = ciphers;
    return StartOpensslServer(options);
}

int LoopbackPeers::StartOpensslServer(const OpensslServerOptions& options) {
    Running peer{"openssl s_server", 0, {FreeLoopbackPort()}, {}, MakeFolder("s_server")};
    std::vector<std::string> argv = {"openssl",       "s_server",
                                     "-accept",       "127.0.0.1:" + std::to_string(peer.ports[0]),
                                     "-cert",         options.cert.empty() ? Certificate() : options.cert,
                                     "-key",          options.key.empty() ? CertificateKey() : options.key,
                                     "-tls1",         "-cipher",
                                     options.ciphers, "-www",
                                     "-quiet"};
    argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());
    Launch(peer, argv);
    return peer.ports[0];
}

int LoopbackPeers::StartGnutlsServer(const std::string& priority) {
    Running peer{"gnutls-serv", 0, {FreeLoopbackPort()}, {}, MakeFolder("gnutls-serv")};
    // It takes no listen address: the preloaded binder turns its binds to
    // every interface into binds to 127.0.0.1 (and refuses IPv6's).
    Launch(peer,
           {"/usr/bin/gnutls-serv", "-a", "--http", "--priority", priority, "-p", std::to_string(peer.ports[0]),
            "--x509certfile", Certificate(), "--x509keyfile", CertificateKey()},
           {std::string("LD_PRELOAD=") + GRV_LOOPBACK_BIND});
    return peer.ports[0];
}

void LoopbackPeers::MakeClientKey(SshPeer* peer) {
    peer->clientKey = m_folder + "/client_ed25519";
    if (!FileExists(peer->clientKey)) {
        Run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "grv-peers", "-f", peer->clientKey});
    }
    peer->rsaClientKey = m_folder + "/client_rsa";
    if (!FileExists(peer->rsaClientKey)) {
        Run({"ssh-keygen", "-q", "-t", "rsa", "-b", "2048", "-m", "PEM", "-N", "", "-C", "grv-peers", "-f",
             peer->rsaClientKey});
    }
}

SshPeer LoopbackPeers::StartSshd(const std::vector<std::string>& options, SshdHostKeys hostKeys) {
    // sshd runs as whoever runs the test and then lets only that user in.
    const passwd* self = getpwuid(geteuid());
    if (self == nullptr) {
        Fail("sshd logs in a user of the machine, and uid " + std::to_string(geteuid()) + " has no account");
    }
    Running peer{"sshd", 0, {FreeLoopbackPort()}, {}, MakeFolder("sshd")};
    const std::string& dir = peer.folder;
    SshPeer result{peer.ports[0], self->pw_name, {}, {}, peer.folder};
    MakeClientKey(&result);
    if (IsRoot()) {
        // The privilege separation directory; Debian makes it only at boot.
        mkdir("/run/sshd", kReachableByServices);
    }
    Run({"ssh-keygen", "-q", "-t", "rsa", "-b", "2048", "-N", "", "-f", dir + "/host_rsa"});
    std::vector<std::string> lines = {"ListenAddress 127.0.0.1:" + std::to_string(result.port),
                                      "HostKey " + dir + "/host_rsa"};
    if (hostKeys == SshdHostKeys::RsaAndDsa) {
        Run({"ssh-keygen", "-q", "-t", "dsa", "-N", "", "-f", dir + "/host_dsa"});
        lines.insert(lines.end(), {"HostKey " + dir + "/host_dsa", "HostKeyAlgorithms ssh-rsa,ssh-dss"});
    } else {
        lines.push_back("HostKeyAlgorithms ssh-rsa");
    }
    lines.insert(lines.end(), {
                                  "KexAlgorithms diffie-hellman-group14-sha1,diffie-hellman-group1-sha1",
                                  "Ciphers aes256-cbc,aes128-cbc,3des-cbc",
                                  "MACs hmac-sha1,hmac-md5",
                                  "UsePAM no",
                                  "PidFile " + dir + "/sshd.pid",
                                  "AuthorizedKeysFile " + result.clientKey + ".pub " + result.rsaClientKey + ".pub",
                                  // The key lives in the shared temporary tree, not in a home folder.
                                  "StrictModes no",
                                  "PermitRootLogin prohibit-password",
                                  "PasswordAuthentication no",
                              });
    const std::string conf = WriteConfig(dir, "sshd_config", Join(lines));
    std::vector<std::string> argv = {"/usr/sbin/sshd", "-D", "-e", "-f", conf};
    for (const std::string& option : options) {
        argv.push_back("-o");
        argv.push_back(option);
    }
    Launch(peer, argv);
    return result;
}

SshPeer LoopbackPeers::StartParamikoServer(const std::vector<std::string>& args) {
    Running peer{"paramiko", 0, {FreeLoopbackPort()}, {}, MakeFolder("paramiko")};
    const std::string& dir = peer.folder;
    SshPeer result{peer.ports[0], kPeerUser, {}, {}, peer.folder};
    MakeClientKey(&result);
    Run({"ssh-keygen", "-q", "-t", "rsa", "-b", "2048", "-m", "PEM", "-N", "", "-f", dir + "/host_rsa"});
    std::string publicKey = ReadFile(result.clientKey + ".pub");
    std::size_t start = publicKey.find(' ') + 1;
    std::string base64 = publicKey.substr(start, publicKey.find(' ', start) - start);
    std::vector<std::string> argv = {"/usr/bin/python3", PeerScript("paramiko_server.py"),
                                     "--port",           std::to_string(result.port),
                                     "--host-key",       dir + "/host_rsa",
                                     "--user",           kPeerUser,
                                     "--password",       kPeerPassword,
                                     "--authorized-key", base64};
    argv.insert(argv.end(), args.begin(), args.end());
    Launch(peer, argv);
    return result;
}

int LoopbackPeers::StartS3rver(bool checkSignatures) {
    // scripts/setup installs it, with the tree its lockfile pins, there.
    const std::string s3rver = std::string(GRV_SOURCE_DIR) + "/scripts/s3rver/node_modules/.bin/s3rver";
    if (!FileExists(s3rver)) {
        Fail(s3rver + " is missing: scripts/setup installs it");
    }
    Running peer{"s3rver", 0, {FreeLoopbackPort()}, {}, MakeFolder("s3rver")};
    mkdir((peer.folder + "/data").c_str(), kReachableByServices);
    std::vector<std::string> argv = {s3rver,      "-d", peer.folder + "/data",         "-a",
                                     "127.0.0.1", "-p", std::to_string(peer.ports[0]), "--no-vhost-buckets"};
    if (!checkSignatures)
        argv.push_back("--allow-mismatched-signatures");
    argv.insert(argv.end(), {"--configure-bucket", kS3Bucket});
    Launch(peer, argv);
    return peer.ports[0];
}

int LoopbackPeers::StartCaptureServer(const std::string& response) {
    return StartCaptureServer(response.empty() ? std::vector<std::string>{} : std::vector<std::string>{response});
}

int LoopbackPeers::StartCaptureServer(const std::vector<std::string>& responses, bool alsoIpv6, bool tls) {
    Running peer{"capture", 0, {FreeLoopbackPort()}, {}, MakeFolder("capture")};
    std::vector<std::string> argv = {
        "/usr/bin/python3", PeerScript("capture_server.py"), "--port", std::to_string(peer.ports[0]), "--dir",
        peer.folder};
    if (alsoIpv6) {
        argv.push_back("--also-ipv6");
    }
    if (tls) {
        argv.insert(argv.end(), {"--tls-cert", Certificate(), "--tls-key", CertificateKey()});
    }
    for (std::size_t i = 0; i < responses.size(); ++i) {
        argv.push_back("--response");
        argv.push_back(WriteConfig(peer.folder, "response-" + std::to_string(i + 1) + ".bin", responses[i]));
    }
    Launch(peer, argv);
    return peer.ports[0];
}

std::vector<std::string> LoopbackPeers::CapturedRequests(int port) const {
    std::vector<std::string> requests;
    for (const Running& peer : m_running) {
        if (peer.name == "capture" && peer.ports[0] == port) {
            for (int n = 1;; ++n) {
                std::string path = peer.folder + "/request-" + std::to_string(n) + ".bin";
                if (!FileExists(path)) {
                    break;
                }
                requests.push_back(ReadFile(path));
            }
        }
    }
    return requests;
}

std::vector<std::string> LoopbackPeers::CapturedRequests(int port, std::size_t count) const {
    return WaitFor([&] { return CapturedRequests(port); },
                   [&](const std::vector<std::string>& kept) { return kept.size() >= count; })
        .seen;
}

} // namespace grvtest
