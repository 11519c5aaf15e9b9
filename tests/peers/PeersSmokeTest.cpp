// Every loopback peer starts, answers a client that speaks its legacy
// settings, and is gone after the test.
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace grvtest {
namespace {

std::string Url(int port, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Credentials() {
    return std::string(kPeerUser) + ":" + kPeerPassword;
}

// Where a peer puts what a test does not read: a file in the test's own
// folder, never the machine's /dev/null.
std::string Discarded(const std::string& name) {
    return TempRoot() + "/discarded-" + name;
}

// curl's body (stdout only) and its exit status.
RunResult Curl(std::vector<std::string> args) {
    args.insert(args.begin(), {"curl", "-sS", "--max-time", "20"});
    return RunProgram(args);
}

std::vector<std::string> SshOptions(const SshPeer& peer) {
    return {"ssh",
            "-p",
            std::to_string(peer.port),
            "-i",
            peer.clientKey,
            "-o",
            "BatchMode=yes",
            "-o",
            "StrictHostKeyChecking=no",
            "-o",
            "UserKnownHostsFile=" + Discarded("known_hosts"),
            "-o",
            "HostKeyAlgorithms=ssh-rsa",
            "-o",
            "ConnectTimeout=20"};
}

TEST_F(LoopbackPeerTest, NginxServesPlainGzipChunkedBasicAndTls10) {
    NginxPeer nginx = peers.StartNginx();
    EXPECT_EQ(Curl({Url(nginx.httpPort, "/")}).out, "hello\n");
    RunResult big = Curl({"--compressed", "-D", "/dev/stderr", Url(nginx.httpPort, "/big.txt")});
    EXPECT_EQ(big.out, ReadFile(nginx.docRoot + "/big.txt"));
    EXPECT_NE(big.err.find("Content-Encoding: gzip"), std::string::npos) << big.err;
    EXPECT_NE(big.err.find("Transfer-Encoding: chunked"), std::string::npos) << big.err;
    EXPECT_NE(Curl({"-o", Discarded("body"), "-w", "%{http_code}", Url(nginx.httpPort, "/basic/")}).out, "200");
    EXPECT_EQ(Curl({"-u", Credentials(), Url(nginx.httpPort, "/basic/")}).out, "basic-ok\n");
    RunResult tls = RunPeer({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(nginx.tlsPort), "-tls1",
                             "-cipher", "AES128-SHA:@SECLEVEL=0"});
    EXPECT_NE(tls.out.find("Protocol  : TLSv1\n"), std::string::npos) << tls.out;
    EXPECT_NE(tls.out.find("Cipher    : AES128-SHA\n"), std::string::npos) << tls.out;
}

TEST_F(LoopbackPeerTest, ApacheAnswersDigestAndNtlm) {
    ApachePeer apache = peers.StartApache();
    EXPECT_EQ(Curl({"--digest", "-u", Credentials(), Url(apache.port, "/digest/")}).out, "digest-ok\n");
    EXPECT_EQ(Curl({"-o", Discarded("body"), "-w", "%{http_code}", "--digest", "-u", std::string(kPeerUser) + ":wrong",
                    Url(apache.port, "/digest/")})
                  .out,
              "401");
    RunOptions legacyMd4;
    legacyMd4.env = {"OPENSSL_CONF=" + std::string(GRV_SOURCE_DIR) + "/tests/peers/openssl-legacy.cnf"};
    const std::string script = std::string(GRV_SOURCE_DIR) + "/tests/peers/ntlm_get.py";
    for (auto [password, expected] : {std::pair{kPeerPassword, "200\nntlm-ok\n"}, std::pair{"wrong", "401\n"}}) {
        RunResult ntlm = RunProgram({"/usr/bin/python3", script, "127.0.0.1", std::to_string(apache.port), "/ntlm/",
                                     kPeerNtlmDomain, kPeerUser, password},
                                    legacyMd4);
        EXPECT_EQ(ntlm.out.substr(0, std::string(expected).size()), expected) << ntlm.out << ntlm.err;
    }
}

TEST_F(LoopbackPeerTest, ProxiesNeedBasicAuthAndTunnel) {
    int target = peers.StartCaptureServer();
    for (int proxy : {peers.StartSquid(), peers.StartTinyproxy()}) {
        std::string via = "http://127.0.0.1:" + std::to_string(proxy);
        EXPECT_EQ(Curl({"-x", via, "-U", Credentials(), Url(target, "/plain")}).out, "ok");
        EXPECT_EQ(Curl({"-p", "-x", via, "-U", Credentials(), Url(target, "/tunnel")}).out, "ok");
        EXPECT_EQ(Curl({"-o", Discarded("body"), "-w", "%{http_code}", "-x", via, Url(target, "/")}).out, "407");
    }
    std::vector<std::string> seen = peers.CapturedRequests(target, 4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].substr(0, 16), "GET /tunnel HTTP");
}

std::string SocksVia(const std::string& scheme, const std::string& user, int port) {
    return scheme + "://" + user + "127.0.0.1:" + std::to_string(port);
}

TEST_F(LoopbackPeerTest, SocksPeersRelayWithUsernameMethod) {
    int target = peers.StartCaptureServer();
    int microsocks = peers.StartMicrosocks();
    std::string withPassword = std::string(":") + kPeerPassword + "@";
    EXPECT_EQ(Curl({"-x", SocksVia("socks5", kPeerUser + withPassword, microsocks), Url(target, "/")}).out, "ok");
    EXPECT_NE(Curl({"-x", SocksVia("socks5", "", microsocks), Url(target, "/")}).status, 0);
    EXPECT_EQ(peers.CapturedRequests(target, 1).size(), 1u);
}

// A peer of its own: a release without dante leaves this test out.
TEST_F(LoopbackPeerTest, DanteRelaysWithUsernameMethod) {
    int target = peers.StartCaptureServer();
    int dante = peers.StartDante();
    std::string withPassword = std::string(":") + kPeerPassword + "@";
    EXPECT_EQ(Curl({"-x", SocksVia("socks5", peers.DanteUser() + withPassword, dante), Url(target, "/")}).out, "ok");
    EXPECT_NE(Curl({"-x", SocksVia("socks5", peers.DanteUser() + ":wrong@", dante), Url(target, "/")}).status, 0);
    EXPECT_EQ(Curl({"-x", SocksVia("socks4", "", dante), Url(target, "/")}).out, "ok");
    EXPECT_EQ(peers.CapturedRequests(target, 2).size(), 2u);
}

// Each proxy asked for "localhost" reaches the server on 127.0.0.1 alone,
// whatever the machine's hosts file lists first (scripts/test runs this
// once more with Debian's, where it is ::1).
TEST_F(LoopbackPeerTest, EveryProxyTakesLocalhostToTheLoopback) {
    const int target = peers.StartCaptureServer();
    const std::string url = "http://localhost:" + std::to_string(target) + "/";
    const std::string squid = "http://" + Credentials() + "@127.0.0.1:" + std::to_string(peers.StartSquid());
    const struct {
        const char* name;
        std::string proxy;
        bool tunnel;
    } rows[] = {
        {"squid", squid, false},
        {"squid, tunnelled", squid, true},
        {"tinyproxy", "http://" + Credentials() + "@127.0.0.1:" + std::to_string(peers.StartTinyproxy()), false},
        {"microsocks", "socks5h://127.0.0.1:" + std::to_string(peers.StartMicrosocks(false)), false},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"-x", row.proxy, url};
        if (row.tunnel)
            args.insert(args.begin(), "-p");
        const RunResult got = Curl(args);
        EXPECT_EQ(got.out, "ok") << row.name << ": " << got.err;
    }
}

// dante as the others above, a test of its own: a release without dante
// leaves it out.
TEST_F(LoopbackPeerTest, DanteTakesLocalhostToTheLoopback) {
    const int target = peers.StartCaptureServer();
    const std::string url = "http://localhost:" + std::to_string(target) + "/";
    const int dante = peers.StartDante();
    const RunResult got = Curl(
        {"-x", "socks5h://" + peers.DanteUser() + ":" + kPeerPassword + "@127.0.0.1:" + std::to_string(dante), url});
    EXPECT_EQ(got.out, "ok") << got.err;
}

TEST_F(LoopbackPeerTest, OpensslServerSpeaksTls10) {
    int port = peers.StartOpensslServer();
    RunResult tls = RunPeer({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-tls1", "-cipher",
                             "AES128-SHA:@SECLEVEL=0"});
    EXPECT_NE(tls.out.find("Cipher    : AES128-SHA\n"), std::string::npos) << tls.out;
}

TEST_F(LoopbackPeerTest, GnutlsServerSpeaksTls10With3desAndRc4) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {kGnutls3des, "(TLS1.0-X.509)-(RSA)-(3DES-CBC)-(SHA1)"},
        {kGnutlsRc4Sha, "(TLS1.0-X.509)-(RSA)-(ARCFOUR-128)-(SHA1)"},
        {kGnutlsRc4Md5, "(TLS1.0-X.509)-(RSA)-(ARCFOUR-128)-(MD5)"},
    };
    for (auto [priority, description] : cases) {
        int port = peers.StartGnutlsServer(priority);
        RunResult tls =
            RunPeer({"gnutls-cli", "--insecure", "--priority", priority, "-p", std::to_string(port), "127.0.0.1"});
        EXPECT_NE(tls.out.find(description), std::string::npos) << tls.out;
        // Bound to 127.0.0.1 alone: another loopback address and IPv6 find nothing.
        RunResult elsewhere = Python("import socket, sys\n"
                                     "for family, host in ((socket.AF_INET, '127.0.0.2'), (socket.AF_INET6, '::1')):\n"
                                     "    s = socket.socket(family)\n"
                                     "    print(host, s.connect_ex((host, int(sys.argv[1]))) != 0)\n",
                                     {std::to_string(port)});
        EXPECT_EQ(elsewhere.out, "127.0.0.2 True\n::1 True\n") << elsewhere.err;
        peers.Stop(port);
    }
}

TEST_F(LoopbackPeerTest, SshdTakesSha1KexAndCbc) {
    SshPeer sshd = peers.StartSshd();
    std::vector<std::string> ssh = SshOptions(sshd);
    ssh.insert(ssh.end(), {"-o", "KexAlgorithms=diffie-hellman-group14-sha1", "-o", "Ciphers=aes128-cbc",
                           sshd.user + "@127.0.0.1", "echo", "reached"});
    RunResult r = RunPeer(ssh);
    EXPECT_NE(r.out.find("reached\n"), std::string::npos) << r.out;
}

TEST_F(LoopbackPeerTest, ParamikoServerTakesGroupExchangeAndZlib) {
    SshPeer paramiko = peers.StartParamikoServer();
    std::vector<std::string> ssh = SshOptions(paramiko);
    ssh.insert(ssh.end(), {"-v", "-o", "KexAlgorithms=diffie-hellman-group-exchange-sha1", "-o", "Compression=yes",
                           paramiko.user + "@127.0.0.1", "hello"});
    RunResult r = RunPeer(ssh);
    EXPECT_NE(r.out.find("exec: hello\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("compression: zlib"), std::string::npos) << r.out;
}

TEST_F(LoopbackPeerTest, S3rverStoresAndReturnsSignedObjects) {
    int port = peers.StartS3rver();
    RunResult list = Python("import botocore.session, sys\n"
                            "s = botocore.session.get_session().create_client('s3', region_name='us-east-1',"
                            " endpoint_url=sys.argv[1], aws_access_key_id=sys.argv[2],"
                            " aws_secret_access_key=sys.argv[3])\n"
                            "s.put_object(Bucket=sys.argv[4], Key='k.txt', Body=b'stored')\n"
                            "print(s.get_object(Bucket=sys.argv[4], Key='k.txt')['Body'].read().decode())",
                            {"http://127.0.0.1:" + std::to_string(port), kS3AccessKey, kS3SecretKey, kS3Bucket});
    EXPECT_EQ(list.out, "stored\n") << list.err;
}

TEST_F(LoopbackPeerTest, CaptureServerKeepsRequestsWhole) {
    int port = peers.StartCaptureServer("HTTP/1.1 201 Created\r\nContent-Length: 4\r\n\r\nmade");
    EXPECT_EQ(Curl({"-d", "a=1&b=2", Url(port, "/form")}).out, "made");
    EXPECT_EQ(Curl({"-H", "Transfer-Encoding: chunked", "-d", "zzz", Url(port, "/chunks")}).out, "made");
    std::vector<std::string> seen = peers.CapturedRequests(port, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].substr(0, 15), "POST /form HTTP");
    EXPECT_TRUE(EndsWith(seen[0], "\r\n\r\na=1&b=2")) << seen[0];
    EXPECT_TRUE(EndsWith(seen[1], "\r\n\r\n3\r\nzzz\r\n0\r\n\r\n")) << seen[1];
}

TEST(LoopbackPeers, NoPeerSurvivesItsOwner) {
    int port = 0;
    std::string folder;
    {
        LoopbackPeers peers;
        folder = peers.Folder();
        port = peers.StartMicrosocks();
    }
    EXPECT_FALSE(FileExists(folder));
    EXPECT_FALSE(LoopbackAccepts(port));
}

// A squid killed outright (a test past its time-out) leaves its shared memory
// files in /dev/shm; the runners' clean-up (tests/run-common.sh) removes
// them by the start of their names its folder gives, never by a start that
// could name another's files.
TEST(LoopbackPeers, KilledSquidsSharedMemoryGoesWithTheRunFolder) {
    LoopbackPeers peers;
    const int port = peers.StartSquid();
    const std::string folder = peers.PeerFolder(port);
    const std::string start = ReadFile(folder + "/peer.shm");
    auto left = [&] {
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
            files += entry.path().filename().string().rfind(start, 0) == 0;
        }
        return files;
    };
    ASSERT_GT(left(), 0) << "squid made no shared memory named " << start;
    // Killed outright, then reaped, as after a test that died: its group
    // has ended, its folder stays.
    const std::string group = ReadFile(folder + "/peer.pgid");
    ASSERT_EQ(kill(-std::stoi(group), SIGKILL), 0);
    peers.Stop(port);

    struct Case {
        const char* name;
        std::string written;
        bool group; // its folder names the squid's process group, ended
        bool removed;
    } cases[] = {
        {"a pattern", "grvsquid*-", true, false},
        {"a path", "../shm/" + start, true, false},
        {"no dash closing the name", start.substr(0, start.size() - 1), true, false},
        {"nothing", "", true, false},
        {"no group known to have ended", start, false, false},
        {"the squid's own", start, true, true},
    };
    int serial = 0;
    for (const Case& c : cases) {
        const std::string run = TempRoot() + "/run-" + std::to_string(++serial);
        std::filesystem::create_directories(run + "/squid");
        ASSERT_TRUE(WriteFile(run + "/squid/peer.shm", c.written));
        if (c.group) {
            ASSERT_TRUE(WriteFile(run + "/squid/peer.pgid", group));
        }
        const RunResult r = RunProgram({"bash", "-c", "set -euo pipefail; . \"$1\"; remove_run_folder \"$2\"", "bash",
                                        std::string(GRV_SOURCE_DIR) + "/tests/run-common.sh", run});
        EXPECT_TRUE(r.Ok()) << c.name << ": " << r.err;
        EXPECT_FALSE(FileExists(run)) << c.name;
        EXPECT_EQ(left() == 0, c.removed) << c.name;
    }
}

// The peers' packages are listed once (scripts/packages/): the machine
// installs every one its release has, the Debian 13 stage's root every one
// that some line does not mark as the machine's alone.
TEST(PeerPackages, TheRootTakesWhatNoLineKeepsForTheMachine) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> files;
        const char* list; // machine or root
        const char* release;
        int status;
        std::string out;
    } cases[] = {
        {"a build tool", {{"base.txt", "cmake  [machine]\npython3\n"}}, "root", "13", 0, "python3\n"},
        {"the machine takes it", {{"base.txt", "cmake  [machine]\npython3\n"}}, "machine", "12", 0, "cmake\npython3\n"},
        {"a judge's elsewhere",
         {{"a.txt", "libicu-dev [machine]\n"}, {"b.txt", "libicu-dev\n"}},
         "root",
         "13",
         0,
         "libicu-dev\n"},
        {"several on a line, a mark in a comment",
         {{"a.txt", "# [machine]\ncurl python3  # not [machine]\ngit [machine]  # why\n"}},
         "root",
         "13",
         0,
         "curl\npython3\n"},
        {"gone from Debian 13", {{"a.txt", "dante-server [machine]\nzip\n"}}, "machine", "13", 0, "zip\n"},
        {"gone from testing", {{"a.txt", "dante-server [machine]\nzip\n"}}, "machine", "", 0, "zip\n"},
        {"still in Debian 12", {{"a.txt", "dante-server\nzip\n"}}, "machine", "12.9", 0, "dante-server\nzip\n"},
        {"a mark misspelt", {{"a.txt", "cmake [machne]\nzip\n"}}, "root", "13", 1, ""},
        {"a mark before a package", {{"a.txt", "[machine] cmake\n"}}, "machine", "13", 1, ""},
    };
    int serial = 0;
    for (const Case& c : cases) {
        const std::string dir = TempRoot() + "/lists-" + std::to_string(++serial);
        std::filesystem::create_directories(dir + "/packages");
        std::filesystem::create_symlink(std::string(GRV_SOURCE_DIR) + "/scripts/package-list", dir + "/package-list");
        for (const auto& [name, text] : c.files) {
            ASSERT_TRUE(WriteFile(dir + "/packages/" + name, text));
        }
        const RunResult r = RunProgram({dir + "/package-list", c.list, c.release});
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.name;
    }
}

// scripts/setup on a checkout of its own whose one package the machine
// lacks, as root, in a mount namespace where a folder of the test's stands
// for /usr/sbin, which gets setup's policy-rc.d while apt runs. The machine's
// apt-get runs, its configuration, state and cache in the test's folder,
// where it knows that package as installed: it has nothing to do but take
// its locks and say what it does not find.
class SetUpScript : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"/checkout/scripts/packages", "/checkout/scripts/s3rver/node_modules", "/sbin",
                                   "/state/lists/partial", "/cache/archives/partial", "/dpkg", "/log"}) {
            std::filesystem::create_directories(m_dir + folder);
        }
        for (const char* folder : {"/apt.conf.d", "/preferences.d", "/sources.list.d"}) {
            std::filesystem::create_directories(m_aptEtc + folder);
        }
        for (const char* script : {"setup", "package-list"}) {
            std::filesystem::create_symlink(std::string(GRV_SOURCE_DIR) + "/scripts/" + script,
                                            m_dir + "/checkout/scripts/" + script);
        }
        // The node packages are there: setup leaves npm alone.
        ASSERT_TRUE(WriteFile(m_dir + "/checkout/scripts/s3rver/package-lock.json", "{}\n"));
        ASSERT_TRUE(WriteFile(m_dir + "/checkout/scripts/s3rver/node_modules/.grv-installed-from", "{}\n"));
        ASSERT_TRUE(WriteFile(m_aptEtc + "/sources.list", ""));
        ASSERT_TRUE(WriteFile(m_dir + "/dpkg/status", "Package: grv-probe\nStatus: install ok installed\nVersion: 1\n"
                                                      "Architecture: all\nMaintainer: nobody <nobody@invalid>\n"
                                                      "Description: a package the machine lacks\n"));
    }
    // apt's configuration, all of it the test's; timeout "" sets no
    // DPkg::Lock::Timeout.
    std::string AptConfig(const std::string& timeout) {
        const std::string file = m_dir + "/apt.conf";
        std::string text = "Dir::Etc \"" + m_aptEtc + "/\";\nDir::State \"" + m_dir + "/state/\";\n" +
                           "Dir::State::status \"" + m_dir + "/dpkg/status\";\nDir::Cache \"" + m_dir +
                           "/cache/\";\nDir::Log \"" + m_dir + "/log/\";\n";
        if (!timeout.empty()) {
            text += "DPkg::Lock::Timeout \"" + timeout + "\";\n";
        }
        EXPECT_TRUE(WriteFile(file, text));
        return file;
    }
    const std::string m_dir = TempRoot() + "/setup-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // apt's configuration folder, the test's own.
    const std::string m_aptEtc = m_dir + "/apt-config";
};

// Another apt or dpkg holding a lock apt needs (this process, here): setup
// waits for it as long as DPkg::Lock::Timeout says, else some minutes,
// says so once with apt's message naming the holder, and gives up with
// apt's own messages; a failure no lock causes ends it at once.
TEST_F(SetUpScript, WaitsForTheLockAnotherAptHolds) {
    const std::string lists = m_dir + "/state/lists/lock";
    const std::string frontend = m_dir + "/dpkg/lock-frontend";
    const std::string archives = m_dir + "/cache/archives/lock";
    std::string self = ReadFile("/proc/self/comm");
    self.erase(self.find_last_not_of('\n') + 1);
    auto heldBy = [&](const std::string& lock) {
        return "E: Could not get lock " + lock + ". It is held by process " + std::to_string(getpid()) + " (" + self +
               ")\n";
    };
    const std::string installing = "setup: installing grv-probe\n";
    auto waiting = [&](const std::string& wait, const std::string& lock) {
        return "setup: waiting up to " + wait + " s for apt's lock: " + heldBy(lock);
    };
    struct Case {
        const char* name;
        std::string package;
        std::string lock; // held by this process, none where empty
        bool letGo;       // once setup says it waits
        bool folder;      // the lock a folder apt cannot open, held by no one
        bool readOnly;    // dpkg's folder, where apt takes no lock
        std::string timeout;
        int status;
        std::string out;
    } cases[] = {
        {"the package lists' (update), let go", "grv-probe", lists, true, false, false, "", 0,
         installing + waiting("900", lists)},
        {"dpkg's (install), let go", "grv-probe", frontend, true, false, false, "", 0,
         installing + waiting("900", frontend)},
        {"the downloads' (install), let go", "grv-probe", archives, true, false, false, "", 0,
         installing + waiting("900", archives)},
        {"held past DPkg::Lock::Timeout", "grv-probe", lists, false, false, false, "1", 100,
         installing + waiting("1", lists) + heldBy(lists) + "E: Unable to lock directory " + m_dir + "/state/lists/\n"},
        {"DPkg::Lock::Timeout 0, as apt-get has it", "grv-probe", frontend, false, false, false, "0", 100,
         installing + heldBy(frontend) + "E: Unable to acquire the dpkg frontend lock (" + frontend +
             "), is another process using it?\n"},
        {"no lock held, a package apt lacks", "grv-nowhere", "", false, false, false, "", 100,
         "setup: installing grv-nowhere\nE: Unable to locate package grv-nowhere\n"},
        // apt's message names the lock's path, yet no one holds it.
        {"dpkg's a folder (install)", "grv-probe", frontend, false, true, false, "30", 100,
         installing + "E: Could not open lock file " + frontend + " - open (21: Is a directory)\n" +
             "E: Unable to acquire the dpkg frontend lock (" + frontend + "), are you root?\n"},
        {"dpkg's folder read-only, a package apt lacks", "grv-nowhere", "", false, false, true, "30", 100,
         "setup: installing grv-nowhere\nW: Not using locking for read only lock file " + frontend +
             "\nW: Not using locking for read only lock file " + m_dir + "/dpkg/lock\n" +
             "E: Unable to locate package grv-nowhere\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFile(m_dir + "/checkout/scripts/packages/a.txt", c.package + "\n"));
        const std::string out = m_dir + "/setup.out";
        std::filesystem::remove(out);
        int fd = -1;
        if (c.folder) {
            std::filesystem::remove(c.lock);
            ASSERT_TRUE(std::filesystem::create_directory(c.lock)) << c.name;
        } else if (!c.lock.empty()) {
            fd = open(c.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
            ASSERT_GE(fd, 0) << c.name;
            struct flock lock{};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            ASSERT_EQ(fcntl(fd, F_SETLK, &lock), 0) << c.name;
        }
        RunOptions options;
        options.env = {"APT_CONFIG=" + AptConfig(c.timeout), "LC_ALL=C.UTF-8", "LANGUAGE="};
        auto run = std::async(std::launch::async, [&] {
            return RunProgram(
                {"unshare", "--mount", "--propagation", "private", "bash", "-c",
                 "mount --bind \"$1\" /usr/sbin && { [ -z \"$4\" ] || mount --bind -o ro \"$4\" \"$4\"; } && "
                 "exec \"$2\" >\"$3\" 2>&1",
                 "bash", m_dir + "/sbin", m_dir + "/checkout/scripts/setup", out, c.readOnly ? m_dir + "/dpkg" : ""},
                options);
        });
        if (c.letGo) {
            EXPECT_TRUE(
                WaitFor([&] { return FileExists(out) ? ReadFile(out) : ""; },
                        [](const std::string& text) { return text.find("setup: waiting") != std::string::npos; },
                        std::chrono::minutes(1))
                    .met)
                << c.name;
            // While it waits, no service a package brings may start.
            EXPECT_EQ(ReadFile(m_dir + "/sbin/policy-rc.d"), "#!/bin/sh\nexit 101\n") << c.name;
            close(fd);
            fd = -1;
        }
        const RunResult r = run.get();
        if (fd >= 0) {
            close(fd);
        }
        if (c.folder) {
            std::filesystem::remove(c.lock);
        }
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
        EXPECT_EQ(ReadFile(out), c.out) << c.name;
        // The policy went with setup, as it does on the machine.
        EXPECT_TRUE(std::filesystem::is_empty(m_dir + "/sbin")) << c.name;
    }
}

// The Debian 13 stage (scripts/test-debian13-peers) on a checkout of its
// own: a root made by a stand-in for debootstrap (a shell, env and awk, as
// the stage calls them there, and the root's cmake and ctest, which say what
// they were asked), from the mirror that stand-in apt sources name, and a
// build whose one test a machine's ctest runs.
constexpr const char* kFakeDebootstrap = R"(#!/bin/bash
set -euo pipefail
here=$(dirname "$0")
new=$3
echo "$*" >>"$here/calls"
echo "${http_proxy:-}" >"$here/proxy"
# What the stage hands it, less what every shell sets.
env | awk -F= '$1 != "PWD" && $1 != "SHLVL" && $1 != "_"' >"$here/debootstrap.env"
[[ ! -e $here/fail ]] || exit 1
mkdir -p "$new"/{usr/bin,usr/sbin,usr/lib,usr/lib64,etc/apt,etc/ssl/certs,dev,proc,sys,tmp}
for link in bin sbin lib lib64; do ln -s "usr/$link" "$new/$link"; done
for program in bash env mawk; do
  path=$(command -v "$program")
  for file in "$path" $(ldd "$path" | awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }'); do
    mkdir -p "$new${file%/*}"
    cp -L "$file" "$new$file"
  done
done
ln -s bash "$new/usr/bin/sh"
ln -s mawk "$new/usr/bin/awk"
echo 13.2 >"$new/etc/debian_version"
echo "deb $4 trixie main" >"$new/etc/apt/sources.list"
# As apt reads a mirror in a folder: from within the root.
cat >"$new/usr/bin/apt-get" <<'EOF'
#!/bin/bash
env | awk -F= '$1 != "PWD" && $1 != "SHLVL" && $1 != "_"' >/apt-get.env
# As the packages' scripts fail there, making a temporary file.
if [[ -n ${TMPDIR:-} && ! -d $TMPDIR ]]; then
  echo "mktemp: failed to create file via template '$TMPDIR/tmp.XXXXXXXXXX': No such file or directory" >&2
  exit 1
fi
read -r _ uri _ </etc/apt/sources.list
[[ $uri != file:* || -f ${uri#file:}/dists/trixie/Release ]]
EOF
printf '#!/bin/sh\nexit 0\n' >"$new/usr/bin/cmake"
printf '#!/bin/sh\ncase " $* " in\n*" -N "*) echo "  Test #1: fake_qt_tests" ;;\n*) echo "the root ctest: $*" ;;\nesac\n' >"$new/usr/bin/ctest"
chmod 755 "$new"/usr/bin/{apt-get,cmake,ctest}
mount -t proc proc "$new/proc"
if [[ -e $here/hang ]]; then
  touch "$here/mounted"
  sleep 600
fi
umount "$new/proc"
)";

class Debian13Stage : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string source = GRV_SOURCE_DIR;
        for (const char* folder : {"/bin", "/checkout/scripts/packages", "/checkout/tests",
                                   "/checkout/build-ci/tests/archive", "/apt/sources.list.d", "/mirror/dists/trixie"}) {
            std::filesystem::create_directories(m_dir + folder);
        }
        std::filesystem::create_symlink(source + "/scripts/test-debian13-peers",
                                        m_dir + "/checkout/scripts/test-debian13-peers");
        std::filesystem::create_symlink(source + "/scripts/package-list", m_dir + "/checkout/scripts/package-list");
        std::filesystem::create_symlink(source + "/tests/run-common.sh", m_dir + "/checkout/tests/run-common.sh");
        ASSERT_TRUE(WriteFile(m_dir + "/checkout/scripts/packages/a.txt", "zip\ncmake  [machine]\n"));
        ASSERT_TRUE(WriteFile(m_dir + "/checkout/build-ci/tests/archive/archive_tests", ""));
        std::filesystem::permissions(m_dir + "/checkout/build-ci/tests/archive/archive_tests",
                                     std::filesystem::perms::owner_all);
        ASSERT_TRUE(WriteFile(m_dir + "/checkout/build-ci/CTestTestfile.cmake",
                              "add_test(peer_judged \"/bin/sh\" \"-c\" \"echo judged by a peer\")\n"));
        ASSERT_TRUE(WriteFile(m_dir + "/bin/debootstrap", kFakeDebootstrap));
        std::filesystem::permissions(m_dir + "/bin/debootstrap", std::filesystem::perms::owner_all);
        ASSERT_TRUE(WriteFile(m_dir + "/mirror/dists/trixie/Release", "Suite: trixie\n"));
        ASSERT_TRUE(WriteFile(m_dir + "/apt.conf", "Dir::Etc::sourcelist \"" + m_dir + "/apt/sources.list\";\n" +
                                                       "Dir::Etc::sourceparts \"" + m_dir +
                                                       "/apt/sources.list.d\";\n"));
        Sources("deb " + m_mirror + " trixie main\n", "");
    }
    void TearDown() override {
        // A mount the stage failed to clear goes, or the folder could not.
        RunProgram({"umount", "-l", m_dir + "/cache/root.new/proc"});
    }
    void Sources(const std::string& list, const std::string& deb822) {
        ASSERT_TRUE(WriteFile(m_dir + "/apt/sources.list", list));
        ASSERT_TRUE(WriteFile(m_dir + "/apt/sources.list.d/debian.sources", deb822));
    }
    // The stage in a process group of its own, the group's number; its
    // output goes into out, then its exit status into out.status, renamed
    // there once written so that the file is never seen empty.
    // The caller's variables given replace the test's.
    pid_t Start(const std::string& out, const std::vector<std::string>& env = {}) {
        std::filesystem::remove(m_dir + "/" + out + ".status");
        RunOptions options;
        options.env = {"PATH=" + m_dir + "/bin:" + getenv("PATH"), "APT_CONFIG=" + m_dir + "/apt.conf",
                       "GRV_PEERS_CACHE=" + m_dir + "/cache", "GRV_JOBS=2",
                       // The proxies are apt's alone, whatever the runner's.
                       "http_proxy=", "https_proxy=", "no_proxy=", "NO_PROXY="};
        for (const std::string& given : env) {
            const std::string name = given.substr(0, given.find('=') + 1);
            std::erase_if(options.env, [&](const std::string& pair) { return pair.rfind(name, 0) == 0; });
            options.env.push_back(given);
        }
        const RunResult r = RunProgram({"bash", "-c",
                                        "setsid bash -c '\"$1\"; echo $? >\"$2.part\"; mv \"$2.part\" \"$2.status\"' "
                                        "bash \"$@\" >\"$2\" 2>&1 & echo $!",
                                        "bash", m_dir + "/checkout/scripts/test-debian13-peers", m_dir + "/" + out},
                                       options);
        return std::stoi(r.out);
    }
    // Its exit status, -1 where it was still running after the limit (then
    // its group is killed).
    int Reap(pid_t group, const std::string& out) {
        const std::string status = m_dir + "/" + out + ".status";
        if (!WaitFor([&] { return FileExists(status); }, [](bool seen) { return seen; }, std::chrono::minutes(3)).met) {
            kill(-group, SIGKILL);
            return -1;
        }
        return std::stoi(ReadFile(status));
    }
    int Run(const std::string& out, const std::vector<std::string>& env = {}) { return Reap(Start(out, env), out); }
    // Kills the run's group once the mark is there, and waits for its end.
    void KillWhen(pid_t group, const std::string& mark, const std::string& out) {
        const auto there =
            WaitFor([&] { return FileExists(mark); }, [](bool seen) { return seen; }, std::chrono::minutes(2));
        kill(-group, SIGKILL);
        ASSERT_TRUE(there.met) << Output(out);
        ASSERT_TRUE(WaitFor([&] { return kill(-group, 0) == 0; }, [](bool alive) { return !alive; }).met);
    }
    std::string Output(const std::string& out) { return ReadFile(m_dir + "/" + out); }
    // What is mounted under a folder of the test's, as this process sees it.
    std::string MountsInCache(const std::string& folder = "/cache/") {
        std::string found;
        for (const std::vector<std::string>& row : ReadTable("/proc/self/mountinfo", " ")) {
            if (row.size() > 4 && row[4].rfind(m_dir + folder, 0) == 0) {
                found += row[4] + "\n";
            }
        }
        return found;
    }
    std::string Calls() { return FileExists(m_dir + "/bin/calls") ? ReadFile(m_dir + "/bin/calls") : ""; }
    // debootstrap's call that makes the root from a mirror.
    std::string MadeFrom(const std::string& mirror) {
        return "--variant=minbase trixie " + m_dir + "/cache/root.new " + mirror + "\n";
    }
    // A run that made or took the root and ran both builds' tests.
    void ExpectPassed(const std::string& out) {
        const std::string text = Output(out);
        EXPECT_NE(text.find("100% tests passed, 0 tests failed out of 1"), std::string::npos) << text;
        EXPECT_NE(text.find("the root ctest: --test-dir "), std::string::npos) << text;
        EXPECT_NE(text.find(" -L qt\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("left out, as it"), std::string::npos) << text;
        EXPECT_TRUE(FileExists(m_dir + "/cache/root/.grv-peers"));
        EXPECT_FALSE(FileExists(m_dir + "/cache/root.new"));
    }
    const std::string m_dir = TempRoot() + "/stage-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string m_mirror = "file:" + m_dir + "/mirror";
};

// A run killed while debootstrap has proc mounted leaves no mount; a maker
// outside a namespace of its own (an earlier stage) left one. Either way the
// next run clears root.new, makes the root and passes.
TEST_F(Debian13Stage, AKilledMakerLeavesNothingTheNextRunTripsOn) {
    ASSERT_TRUE(WriteFile(m_dir + "/bin/hang", ""));
    ASSERT_NO_FATAL_FAILURE(KillWhen(Start("killed.out"), m_dir + "/bin/mounted", "killed.out"));
    EXPECT_TRUE(FileExists(m_dir + "/cache/root.new/usr/bin/ctest"));
    EXPECT_EQ(MountsInCache(), "");
    std::filesystem::remove(m_dir + "/bin/hang");
    EXPECT_EQ(Run("after-kill.out"), 0) << Output("after-kill.out");
    ExpectPassed("after-kill.out");

    // As the stage once left it: root.new with proc mounted in this namespace.
    std::filesystem::remove_all(m_dir + "/cache/root");
    std::filesystem::create_directories(m_dir + "/cache/root.new/proc");
    ASSERT_TRUE(RunProgram({"mount", "-t", "proc", "proc", m_dir + "/cache/root.new/proc"}).Ok());
    ASSERT_NE(MountsInCache(), "");
    EXPECT_EQ(Run("after-mount.out"), 0) << Output("after-mount.out");
    ExpectPassed("after-mount.out");
    EXPECT_EQ(MountsInCache(), "");
    EXPECT_EQ(Calls(), MadeFrom(m_mirror) + MadeFrom(m_mirror) + MadeFrom(m_mirror));
}

// Where apt reaches its mirror through a proxy (a caching one, say), the
// stage reaches it through that proxy too: its check, debootstrap and the
// root's apt. An nginx serves the mirror's files to a proxy's requests.
TEST_F(Debian13Stage, TheMirrorIsReachedThroughAptsProxy) {
    LoopbackPeers peers;
    const NginxPeer nginx = peers.StartNginx();
    ASSERT_TRUE(std::filesystem::create_directories(nginx.docRoot + "/debian/dists/trixie"));
    ASSERT_TRUE(WriteFile(nginx.docRoot + "/debian/dists/trixie/Release", "Suite: trixie\n"));
    const std::string proxy = "http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/";
    ASSERT_TRUE(
        WriteFile(m_dir + "/apt.conf", ReadFile(m_dir + "/apt.conf") + "Acquire::http::Proxy \"" + proxy + "\";\n"));
    Sources("deb http://deb.invalid/debian trixie main\n", "");
    ASSERT_TRUE(WriteFile(m_dir + "/bin/fail", ""));
    EXPECT_EQ(Run("proxy.out"), 0) << Output("proxy.out");
    EXPECT_EQ(Calls(), MadeFrom("http://deb.invalid/debian")) << Output("proxy.out");
    EXPECT_EQ(FileExists(m_dir + "/bin/proxy") ? ReadFile(m_dir + "/bin/proxy") : "", proxy + "\n");
}

// The cache named through a link (or a relative path): a mount a maker
// outside a namespace of its own left there is found and cleared.
TEST_F(Debian13Stage, AMountLeftIsFoundThroughALinkToTheCache) {
    std::filesystem::create_directories(m_dir + "/elsewhere/root.new/proc");
    std::filesystem::create_directory_symlink("elsewhere", m_dir + "/cache");
    ASSERT_TRUE(RunProgram({"mount", "-t", "proc", "proc", m_dir + "/elsewhere/root.new/proc"}).Ok());
    EXPECT_EQ(Run("after-mount.out"), 0) << Output("after-mount.out");
    ExpectPassed("after-mount.out");
    EXPECT_EQ(MountsInCache("/elsewhere/"), "");
    RunProgram({"umount", "-l", m_dir + "/elsewhere/root.new/proc"});
}

// An rm that removes part of the root the stage removes, as a removal killed
// midway leaves it, and stalls there; it does every other removal.
constexpr const char* kStallingRm = R"(#!/bin/bash
here=$(dirname "$0")
if [[ $# == 2 && $1 == -rf && $2 == */cache/root && -e $here/stall ]]; then
  /bin/rm -rf "$2/usr/bin"
  touch "$here/removing"
  sleep 600
fi
exec /bin/rm "$@"
)";

// A run that remakes the root for a changed list, killed while it removes
// the old root, leaves nothing a run with the old list takes for its root.
TEST_F(Debian13Stage, ARootKilledInItsRemovalIsMadeAgain) {
    const std::string list = m_dir + "/checkout/scripts/packages/a.txt";
    ASSERT_EQ(Run("first.out"), 0) << Output("first.out");
    ASSERT_TRUE(WriteFile(m_dir + "/bin/rm", kStallingRm));
    std::filesystem::permissions(m_dir + "/bin/rm", std::filesystem::perms::owner_all);
    ASSERT_TRUE(WriteFile(m_dir + "/bin/stall", ""));
    const std::string before = ReadFile(list);
    ASSERT_TRUE(WriteFile(list, before + "unzip\n"));
    ASSERT_NO_FATAL_FAILURE(KillWhen(Start("killed.out"), m_dir + "/bin/removing", "killed.out"));
    std::filesystem::remove(m_dir + "/bin/stall");
    ASSERT_TRUE(WriteFile(list, before));
    EXPECT_EQ(Run("after.out"), 0) << Output("after.out");
    ExpectPassed("after.out");
    EXPECT_EQ(Calls(), MadeFrom(m_mirror) + MadeFrom(m_mirror) + MadeFrom(m_mirror));
}

// The root is made in a clean environment, whatever the caller's: a TMPDIR
// the root lacks failed the packages' scripts there (the root's apt-get
// fails as they did). Of the caller's variables only the proxies reach
// debootstrap and the root's apt; the stage's own TMPDIR is the caller's.
TEST_F(Debian13Stage, TheRootIsMadeWhateverTheCallersEnvironment) {
    const std::string tmp = m_dir + "/caller-tmp";
    std::filesystem::create_directories(tmp);
    const std::string path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    const std::string proxy = "http_proxy=http://127.0.0.1:9/";
    EXPECT_EQ(Run("caller.out", {"TMPDIR=" + tmp, "LANG=C.UTF-8", "GRV_CALLERS=1", proxy, "no_proxy=localhost"}), 0)
        << Output("caller.out");
    ExpectPassed("caller.out");
    auto lines = [](const std::string& file) {
        std::istringstream in(ReadFile(file));
        std::vector<std::string> found;
        for (std::string line; std::getline(in, line);) {
            found.push_back(line);
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ(lines(m_dir + "/bin/debootstrap.env"), (Lines{path, proxy, "no_proxy=localhost"}));
    EXPECT_EQ(lines(m_dir + "/cache/root/apt-get.env"),
              (Lines{"DEBIAN_FRONTEND=noninteractive", path, proxy, "no_proxy=localhost"}));
    EXPECT_EQ(Calls(), MadeFrom(m_mirror));
    // Nothing of the run's is left in the caller's TMPDIR.
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

// Two runs started together on no root: one makes it, the other waits and
// takes it, and both judge.
TEST_F(Debian13Stage, TwoRunsAtOnceBothJudge) {
    const pid_t first = Start("first.out");
    const pid_t second = Start("second.out");
    EXPECT_EQ(Reap(first, "first.out"), 0) << Output("first.out");
    EXPECT_EQ(Reap(second, "second.out"), 0) << Output("second.out");
    ExpectPassed("first.out");
    ExpectPassed("second.out");
    EXPECT_EQ(Calls(), MadeFrom(m_mirror));
}

// The mirror is the first the apt sources name that serves the suite: a
// commented or disabled source is none, and where none serves, the stage is
// left out and says why.
TEST_F(Debian13Stage, TheMirrorIsOneTheAptSourcesName) {
    const std::string& mirror = m_mirror;
    const std::string nowhere = "file:" + m_dir + "/nowhere";
    struct Case {
        const char* name;
        std::string list;
        std::string deb822;
        std::string taken; // empty where none is
        std::string said;
    } cases[] = {
        {"one line, options",
         "# deb " + nowhere + " trixie main\ndeb [arch=amd64 trusted=yes] " + mirror + " trixie main\n", "", mirror,
         "could not be made"},
        {"deb822 after one that serves no trixie", "deb " + nowhere + " trixie main\n",
         "Types: deb\nURIs: " + mirror + "\nSuites: trixie\nComponents: main\n", mirror, "could not be made"},
        {"deb822 disabled, source packages only", "deb-src " + mirror + " trixie main\n",
         "Types: deb\nEnabled: no\nURIs: " + mirror + "\nSuites: trixie\n", "",
         "left out, as this machine's apt sources name no mirror of Debian"},
        {"deb822, a URI on a line of its own", "",
         "Types: deb\nURIs: " + nowhere + "\n " + mirror + "\nSuites: trixie\n", mirror, "could not be made"},
        {"deb822 disabled as apt reads false", "", "Types: deb\nEnabled: false\nURIs: " + mirror + "\nSuites: trixie\n",
         "", "left out, as this machine's apt sources name no mirror of Debian"},
        {"an option list left open", "deb [arch=amd64 " + mirror + " trixie main\n", "", "",
         "left out, as this machine's apt sources name no mirror of Debian"},
        {"none serves trixie", "deb " + nowhere + " trixie main\n", "", "",
         "left out, as no mirror this machine's apt sources name (" + nowhere + ") serves Debian 13 (trixie)"},
    };
    ASSERT_TRUE(WriteFile(m_dir + "/bin/fail", ""));
    for (const Case& c : cases) {
        Sources(c.list, c.deb822);
        std::filesystem::remove(m_dir + "/bin/calls");
        EXPECT_EQ(Run("mirror.out"), 0) << c.name;
        const std::string text = Output("mirror.out");
        EXPECT_NE(text.find(c.said), std::string::npos) << c.name << ": " << text;
        EXPECT_EQ(Calls(), c.taken.empty() ? "" : MadeFrom(c.taken)) << c.name;
        EXPECT_FALSE(FileExists(m_dir + "/cache/root.new")) << c.name;
    }
}

// A peer program that is not installed is named with the package to install.
TEST(LoopbackPeers, MissingProgramIsNamedWithItsPackage) {
    EXPECT_EQ(InstalledProgram({"/usr/bin/openssl", "openssl"}), "/usr/bin/openssl");
    try {
        InstalledProgram({"/usr/sbin/grv-no-such-daemon", "grv-daemon-package"});
        ADD_FAILURE() << "a missing program was taken";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "grv-no-such-daemon is not installed (/usr/sbin/grv-no-such-daemon): install the "
                               "Debian package grv-daemon-package");
    }
}

// A peer counts as up only when the socket that answers is its own, so the
// holder of each port must be named right: nobody, this process, or the peer.
TEST(LoopbackPeers, ListenersAreNamedByProcessAndGroup) {
    LoopbackPeers peers;
    const int socks = peers.StartMicrosocks();
    const ClosedLoopbackPort closed;

    const int own = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(own, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(own, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(own, 1), 0);
    ASSERT_EQ(getsockname(own, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int ownPort = ntohs(addr.sin_port);

    struct Case {
        const char* name;
        int port;
        std::string expected; // "pid group first-argument" per listener
    } cases[] = {
        {"bound, not listening", closed.port(), ""},
        {"this process, on every address", ownPort,
         std::to_string(getpid()) + " " + std::to_string(getpgrp()) + " " + ReadFile("/proc/self/cmdline").c_str()},
        {"the peer", socks, "group leader /usr/bin/microsocks"},
    };
    for (const Case& c : cases) {
        std::string seen;
        for (const LoopbackListener& l : LoopbackListeners(c.port)) {
            const std::string first = l.command.substr(0, l.command.find(' '));
            seen += l.pid == l.processGroup && l.pid != getpid()
                        ? "group leader " + first
                        : std::to_string(l.pid) + " " + std::to_string(l.processGroup) + " " + first;
        }
        EXPECT_EQ(seen, c.expected) << c.name;
    }
    close(own);
}

} // namespace
} // namespace grvtest
