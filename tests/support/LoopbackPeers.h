#pragma once
// Reference servers for the network tests. Each peer runs in the foreground
// on a free port of 127.0.0.1 with a configuration generated into the peers'
// private folder, is waited for until it accepts connections, and is stopped
// by its process id (with its whole process group) when the owner goes.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace grvtest {

// Credentials every peer that asks for them accepts.
inline constexpr const char* kPeerUser = "grvuser";
inline constexpr const char* kPeerPassword = "Pw-1234";
inline constexpr const char* kPeerNtlmDomain = "GRVTEST";

// s3rver's fixed credentials and the bucket it starts with.
inline constexpr const char* kS3AccessKey = "S3RVER";
inline constexpr const char* kS3SecretKey = "S3RVER";
inline constexpr const char* kS3Bucket = "grv-bucket";

// Cipher list of the legacy TLS peers.
inline constexpr const char* kOpensslLegacyCiphers = "AES256-SHA:AES128-SHA:@SECLEVEL=0";
// Priority strings of the other toolkit's TLS peer: TLS 1.0, RSA key exchange.
inline constexpr const char* kGnutls3des = "NONE:+VERS-TLS1.0:+RSA:+3DES-CBC:+SHA1:+COMP-NULL:+SIGN-ALL:%COMPAT";
inline constexpr const char* kGnutlsRc4Sha = "NONE:+VERS-TLS1.0:+RSA:+ARCFOUR-128:+SHA1:+COMP-NULL:+SIGN-ALL:%COMPAT";
inline constexpr const char* kGnutlsRc4Md5 = "NONE:+VERS-TLS1.0:+RSA:+ARCFOUR-128:+MD5:+COMP-NULL:+SIGN-ALL:%COMPAT";

// nginx: "/" serves index.html ("hello\n"), "/big.txt" a text that goes out
// gzip-compressed and chunked to clients that accept gzip, "/basic/" needs
// Basic authentication, "/early" answers "early\n" at once whatever the
// request carries, "/dav/" stores what is PUT there (docRoot/dav),
// "/nocontent" answers 204 and "/empty404" an empty 404; "/moved" and
// "/moved301" redirect to "/" (302, 301), "/to-whoami" to "/whoami" and
// "/elsewhere" to "/whoami" on 127.0.0.2, which echoes the Authorization
// field in brackets. The TLS port speaks TLS 1.0 with AES128-SHA only.
// The access log has one line per request: "$server_addr $connection
// $connection_requests $status $request".
struct NginxPeer {
    int httpPort = 0;
    int tlsPort = 0;
    std::string docRoot;
    std::string accessLog;
};
// More than one loopback host listens on httpPort (127.0.0.1 up to
// 127.0.0.N, each its own listen line); a keep-alive time-out other than
// nginx's own when not 0; more lines for the server block (a test's own
// locations), on both ports, where "{httpPort}" and "{tlsPort}" stand for
// the ports nginx listens on.
struct NginxOptions {
    int loopbackHosts = 1;
    int keepaliveTimeoutSec = 0;
    std::vector<std::string> serverLines;
};

// A throwaway Kerberos realm kKdcRealm: an MIT KDC on a free port of
// 127.0.0.1 (TCP and UDP) with its database in the peers' folder, holding
// kPeerUser (password kPeerPassword) and HTTP/localhost, whose key is in
// keytab. Clients find it through KRB5_CONFIG=krb5Conf.
inline constexpr const char* kKdcRealm = "GORVANE.TEST";
struct KdcPeer {
    int port = 0;
    std::string krb5Conf;
    std::string keytab;
};

// openssl s_server's certificate (the peers' own self-signed one when
// empty), cipher list and any further arguments (-Verify, -keylogfile ...).
struct OpensslServerOptions {
    std::string ciphers = kOpensslLegacyCiphers;
    std::string cert;
    std::string key;
    std::vector<std::string> extraArgs;
};

// apache2: "/digest/" needs Digest authentication (realm kApacheDigestRealm),
// "/ntlm/" NTLM (domain kPeerNtlmDomain), "/negotiate/" (when asked for)
// Negotiate; each answers with one line of text.
inline constexpr const char* kApacheDigestRealm = "Gorvane digest";
struct ApachePeer {
    int port = 0;
};
// More NTLM accounts ("DOMAIN:USER:PASSWORD" lines), variables for apache's
// environment, and configuration lines added at the end. With a realm,
// "/negotiate/" needs Negotiate (Kerberos) against it.
struct ApacheOptions {
    std::vector<std::string> ntlmUsers;
    std::vector<std::string> env;
    std::vector<std::string> config;
    const KdcPeer* kerberos = nullptr;
};

// An SSH server and the client key it accepts for user.
struct SshPeer {
    int port = 0;
    std::string user;
    std::string clientKey;    // private key file (ed25519, no passphrase)
    std::string rsaClientKey; // the same user's RSA key, PEM "RSA PRIVATE KEY"
    std::string folder;       // holds the host keys: host_rsa.pub, host_dsa.pub (sshd, where asked)
};

class LoopbackPeers {
public:
    LoopbackPeers();
    ~LoopbackPeers();
    LoopbackPeers(const LoopbackPeers&) = delete;
    LoopbackPeers& operator=(const LoopbackPeers&) = delete;

    const std::string& Folder() const { return m_folder; }
    // A self-signed certificate for "localhost", 127.0.0.1 and ::1 and its
    // key (PEM), made on first use and served by every TLS peer: the test
    // CA.
    std::string Certificate();
    std::string CertificateKey();
    // Places the test CA in the current user's ROOT store (under the test's
    // private home), so that https requests to the peers verify; it leaves
    // the store when the peers go.
    void TrustCertificate();
    // One more DNS name (a wildcard too) for that certificate; only before
    // it is made.
    void AddCertificateName(const std::string& dnsName);

    // Each Start... returns once the peer accepts connections; a peer that
    // cannot start throws std::runtime_error with the end of its log.
    NginxPeer StartNginx(const NginxOptions& options = {});
    ApachePeer StartApache(const ApacheOptions& options = {});
    // HTTP proxies with Basic proxy authentication; CONNECT to any port,
    // or for squid, when sslPort is given, to that port only (its SSL_ports).
    int StartSquid(int sslPort = 0);
    int StartTinyproxy();
    // SOCKS5 with the username method, or with no authentication at all.
    int StartMicrosocks(bool requireCredentials = true);
    // SOCKS4 and SOCKS5; SOCKS5 checks user name and password by the
    // username method against accounts of its own (DanteUser(),
    // kPeerPassword), not the machine's.
    int StartDante();
    std::string DanteUser() const { return kPeerUser; }
    // openssl s_server with -tls1 and -www (a status page for GET).
    int StartOpensslServer(const std::string& ciphers = kOpensslLegacyCiphers);
    int StartOpensslServer(const OpensslServerOptions& options);
    // gnutls-serv (-a, --http) with a priority string, on 127.0.0.1 only.
    int StartGnutlsServer(const std::string& priority);
    // OpenSSH with an RSA host key (and a DSA one when asked: OpenSSH 10
    // has none, so such a test is left out there, tests/run-common.sh) and
    // SHA-1 era algorithms only, running as the user who runs the test, who
    // logs in by key. Each option is passed as "-o option" and wins over the
    // configuration.
    enum class SshdHostKeys { Rsa, RsaAndDsa };
    SshPeer StartSshd(const std::vector<std::string>& options = {}, SshdHostKeys hostKeys = SshdHostKeys::Rsa);
    // paramiko: group exchange and zlib; password kPeerPassword or the key.
    // args go to paramiko_server.py ("--kex", "--window").
    SshPeer StartParamikoServer(const std::vector<std::string>& args = {});
    // s3rver (object storage) with the empty bucket kS3Bucket; path-style
    // requests, and "<bucket>.s3.amazonaws.com" hosts; signatures checked
    // against kS3AccessKey / kS3SecretKey unless checkSignatures is off.
    // s3rver 3.7.1 leaves the date out of the signature-version-2 string it
    // checks for an Authorization field, so a correct version-2 signature
    // fails there: tests of such clients turn the check off and judge the
    // signatures by other peers.
    int StartS3rver(bool checkSignatures = true);
    KdcPeer StartKdc();
    // kinit of kPeerUser into the credentials cache ccache ("FILE:path").
    void Kinit(const KdcPeer& kdc, const std::string& ccache);
    // Keeps each request whole as CapturedRequests; answers every one with
    // response (a default 200 "ok" when empty).
    int StartCaptureServer(const std::string& response = {});
    // Request N gets responses[N-1] (counted over all connections); the last
    // one answers every request after it. With alsoIpv6 it listens on the
    // IPv6 loopback ::1 too, on the same port; with tls a connection that
    // opens with a TLS handshake gets one, with the peers' certificate.
    int StartCaptureServer(const std::vector<std::string>& responses, bool alsoIpv6 = false, bool tls = false);
    // The requests kept so far; with a count, once that many are kept (or
    // the wait for them gave up: the test then sees fewer).
    std::vector<std::string> CapturedRequests(int port) const;
    std::vector<std::string> CapturedRequests(int port, std::size_t count) const;

    // The working folder of the peer listening on port ("" for none):
    // openssl s_server -WWW serves the files in it.
    std::string PeerFolder(int port) const;

    // Stops the peer listening on port (all its ports go with it).
    void Stop(int port);

private:
    struct Running {
        std::string name;
        pid_t pid = 0;
        std::vector<int> ports;
        std::string log;
        std::string folder;
    };

    std::string MakeFolder(const std::string& name);
    void Launch(Running peer, const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    void StopPeer(Running& peer);
    std::string WriteConfig(const std::string& folder, const std::string& name, const std::string& text);
    void MakeClientKey(SshPeer* peer);
    std::string HtpasswdFile();
    std::string LoopbackHostsFile();
    std::vector<std::string> LoopbackHostsEnv();

    std::string m_folder;
    std::vector<Running> m_running;
    int m_serial = 0;
    std::string m_trusted;
    std::string m_certificateNames;
};

// nginx writes a request's log line after its answer: the lines of its
// access log once there are count of them (fewer when the wait gave up).
std::vector<std::string> NginxAccessLines(const NginxPeer& nginx, std::size_t count);
// One of those lines taken apart.
struct NginxAccessLine {
    std::string serverAddr;
    long connection = 0; // nginx's serial number of the connection
    long requests = 0;   // the request's number on its connection
    std::string rest;    // "$status $request"
};
std::vector<NginxAccessLine> NginxAccessLog(const NginxPeer& nginx, std::size_t count);
// Just the "$status $request" of each line.
std::vector<std::string> NginxAccessRequests(const NginxPeer& nginx, std::size_t count);

// A peer's program at the path its Debian package installs it to.
struct DebianProgram {
    const char* path;
    const char* package;
};
// The program's path; a program that is not there fails the start with its
// name and the package that brings it.
std::string InstalledProgram(const DebianProgram& program);

// Ports of 127.0.0.1 that were free a moment ago, all different; no other
// test process is offered them before the peer this one starts on them
// listens.
int FreeLoopbackPort();
std::vector<int> FreeLoopbackPorts(std::size_t count);
// A port of 127.0.0.1 that refuses connections for as long as this lives:
// it stays bound without listening, so no other process can start listening
// on it while a test counts on the refusal.
class ClosedLoopbackPort {
public:
    ClosedLoopbackPort();
    ~ClosedLoopbackPort();
    ClosedLoopbackPort(const ClosedLoopbackPort&) = delete;
    ClosedLoopbackPort& operator=(const ClosedLoopbackPort&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};
// Whether something accepts TCP connections on 127.0.0.1:port.
bool LoopbackAccepts(int port);
// The processes holding a socket that takes connections to 127.0.0.1:port
// (one listening there or on every address), as far as /proc shows them.
struct LoopbackListener {
    pid_t pid = 0;
    pid_t processGroup = 0;
    std::string command; // its arguments, space-separated
};
std::vector<LoopbackListener> LoopbackListeners(int port);

// Fixture for tests that talk to peers: every peer stops at TearDown.
class LoopbackPeerTest : public ::testing::Test {
protected:
    LoopbackPeers peers;
};

} // namespace grvtest
