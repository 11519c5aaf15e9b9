// The TLS channel: SSL 3.0, renegotiation and the faults a server can
// commit, against the python reference server written from the RFCs (no
// SSL 3.0 server exists here); client certificates against openssl
// s_server; proxies that refuse CONNECT; a SOCKS connect handed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/ChainEngine.h"
#include "netlib/streams/DataSource.h"
#include "netlib/transport/ClsSocksClient.h"
#include "netlib/transport/LoggedSocket2.h"
#include "netlib/transport/SChannelTessik.h"
#include "netlib/transport/TlsEndpoint.h"
#include "netlib/transport/TlsProtocol.h"
#include "netlib/transport/TunnelChannel.h"
#include "platform/CertStore.h"
#include "platform/CryptProv.h"
#include "platform/WinTime.h"
#include "platform/Winsock.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/netlib/transport/TlsTestSupport.h"
#include "tests/support/LoopbackPeers.h"

namespace {

using namespace tessik;
using namespace tlstest;
using grvtest::ScriptPeer;

constexpr unsigned kTimeoutMs = 10000;

std::string ServeScript() {
    return "sys.path.insert(0, '" + std::string(GRV_SOURCE_DIR) +
           "/tests/peers')\nimport tls_reference_server\ntls_reference_server.serve(listen(), args)\n";
}

// Certificates made by openssl for one test: a CA, a server and a client
// certificate it signed, and a client certificate it did not sign.
struct TestPki {
    grvtest::TempDir dir{"pki"};
    std::string File(const std::string& name) const { return dir.File(name); }

    TestPki() {
        Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", File("ca.key"), "-out",
             File("ca.pem"), "-days", "3650", "-subj", "/CN=Gorvane Test CA", "-addext",
             "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
        Run({"openssl", "x509", "-in", File("ca.pem"), "-outform", "DER", "-out", File("ca.der")});
        Issue("server", "/CN=localhost", true);
        Issue("client", "/CN=grvuser", true);
        Issue("rogue", "/CN=grvuser", false);
        // The client's key made one of a composite factor (three primes
        // written as two), certified by the CA all the same.
        Run({"/usr/bin/python3", std::string(GRV_SOURCE_DIR) + "/tests/peers/rsa_key_variants.py", File("client.key")});
        std::filesystem::copy_file(File("client.key.composite-q.der"), File("composite.key.der"));
        Run({"openssl", "rsa", "-inform", "DER", "-in", File("composite.key.der"), "-pubout", "-out",
             File("composite.pub")});
        Run({"openssl", "x509", "-req", "-in", File("client.csr"), "-CA", File("ca.pem"), "-CAkey", File("ca.key"),
             "-CAcreateserial", "-force_pubkey", File("composite.pub"), "-out", File("composite.pem"), "-days",
             "3650"});
        Run({"openssl", "x509", "-in", File("composite.pem"), "-outform", "DER", "-out", File("composite.der")});
    }
    void Issue(const std::string& name, const std::string& subject, bool byCa) {
        if (byCa) {
            // The server's names are the loopback's, as the channel checks them.
            Run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", File(name + ".key"), "-out",
                 File(name + ".csr"), "-subj", subject, "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"});
            Run({"openssl", "x509", "-req", "-in", File(name + ".csr"), "-CA", File("ca.pem"), "-CAkey", File("ca.key"),
                 "-CAcreateserial", "-out", File(name + ".pem"), "-days", "3650", "-copy_extensions", "copy"});
        } else {
            Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", File(name + ".key"), "-out",
                 File(name + ".pem"), "-days", "3650", "-subj", subject});
        }
        Run({"openssl", "x509", "-in", File(name + ".pem"), "-outform", "DER", "-out", File(name + ".der")});
        Run({"openssl", "rsa", "-in", File(name + ".key"), "-traditional", "-outform", "DER", "-out",
             File(name + ".key.der")});
    }
    static void Run(const std::vector<std::string>& argv) {
        grvtest::RunResult r = grvtest::RunPeer(argv);
        if (!r.Ok())
            throw std::runtime_error(argv[1] + " failed: " + r.out);
    }
    // A one-entry list of client certificates.
    void ClientCert(const std::string& name, ExtPtrArray& out) const {
        out.setOwnsObjects(true);
        auto* entry = new XCert();
        Bytes der = grvtest::ReadBytes(File(name + ".der")), key = grvtest::ReadBytes(File(name + ".key.der"));
        DataBuffer d, k;
        d.append(der.data(), std::uint32_t(der.size()));
        k.append(key.data(), std::uint32_t(key.size()));
        entry->setCertDer(d);
        entry->setPrivateKeyDer(k);
        out.appendPtr(entry);
    }
};

struct Channel {
    SChannelTessik channel;
    Logger log;

    explicit Channel(int port, const char* version = "tls1") {
        channel.setHostname("127.0.0.1");
        channel.setPort(unsigned(port));
        channel.setSslProtocol(version);
        channel.setReadTimeoutSec(kTimeoutMs / 1000);
    }
    bool Establish(const ExtPtrArray* certs = nullptr) {
        bool dnsFailed = false;
        return channel.EstablishChannel(log, &dnsFailed, kTimeoutMs, 0, nullptr, certs);
    }
    bool Send(const std::string& data) {
        return channel.sendBytes(reinterpret_cast<const unsigned char*>(data.data()), unsigned(data.size()), 0,
                                 kTimeoutMs, log, nullptr);
    }
    // Reads until n bytes have come or a read fails.
    std::string Receive(std::size_t n) {
        std::string got;
        DataBuffer piece;
        while (got.size() < n && channel.receiveBytes(piece, 0, kTimeoutMs, log, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr, nullptr, 1)) {
            got.append(reinterpret_cast<const char*>(piece.getData()), piece.getSize());
        }
        return got;
    }
    std::string Log() { return LogText(log); }
};

struct ReferenceServer {
    TestPki& pki;
    ScriptPeer peer;
    ReferenceServer(TestPki& p, std::vector<std::string> flags)
        : pki(p), peer(ServeScript(), WithKeys(p, std::move(flags))) {}
    static std::vector<std::string> WithKeys(TestPki& p, std::vector<std::string> flags) {
        flags.insert(flags.begin(), {"cert=" + p.File("server.pem"), "key=" + p.File("server.key")});
        return flags;
    }
};

TestPki& Pki() {
    static TestPki pki;
    return pki;
}

TEST(SChannelSettings, SslProtocolTextsSelectTheVersion) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {" ssl30 ", kSsl30Minor}, {"SSL 3.0", kSsl30Minor}, {"Ssl3.0", kSsl30Minor},
        {"tls1", kTls10Minor},    {"", kTls10Minor},        {"tls 1.0", kTls10Minor},
    };
    for (auto [text, minor] : cases) {
        SChannelTessik channel;
        channel.setSslProtocol(text);
        EXPECT_EQ(channel.getSslMinorVersion(), minor) << "'" << text << "'";
    }
}

TEST(SChannelSettings, NothingToSendOrCloseNeedsNoConnection) {
    SChannelTessik channel;
    Logger log;
    EXPECT_TRUE(channel.sendBytes(nullptr, 0, 0, 1000, log, nullptr));
    EXPECT_TRUE(channel.sendCloseNotify(true, 0, 1000, log, nullptr));
    EXPECT_FALSE(channel.isConnected());
}

// What the reference server printed, and what our side logged, for each
// way a server can answer.
TEST(SChannelReferenceServer, HandshakesAndTheFaultsOfServers) {
    struct Case {
        const char* name;
        std::vector<std::string> flags;
        const char* version;
        bool established;
        const char* ourLog;    // expected in our log, or null
        const char* serverLog; // expected in the server's output, or null
    };
    const Case cases[] = {
        {"SSL 3.0", {"ssl3"}, "ssl30", true, nullptr, "handshake 3.0 0035"},
        {"SSL 3.0 offered, answered with it", {}, "ssl30", true, nullptr, "client offers 3.0"},
        {"Certificate sent twice: the second counts", {"dup-cert"}, "tls1", true, nullptr, "client finished ok"},
        // RSA key exchange has none: refused at once with unexpected_message.
        {"ServerKeyExchange",
         {"key-exchange"},
         "tls1",
         false,
         tlsmsg::kUnexpectedServerKeyExchange,
         "alert 020a\nclosed"},
        {"wrong server Finished", {"bad-finished"}, "tls1", false, tlsmsg::kInvalidVerifyData, nullptr},
        {"ServerHelloDone for the Finished", {"done-for-finished"}, "tls1", false, tlsmsg::kExpectedFinished, nullptr},
        // Refused at the ServerHello with illegal_parameter, before any key exchange.
        {"suite outside the five", {"suite=0x0009"}, "tls1", false, tlsmsg::kSuiteNotOffered, "alert 022f\nclosed"},
        {"version above the one offered",
         {"version=3.2"},
         "tls1",
         false,
         tlsmsg::kVersionNotOffered,
         "alert 022f\nclosed"},
        {"SSL 3.0 offered, TLS answered",
         {"version=3.1"},
         "ssl30",
         false,
         tlsmsg::kVersionNotOffered,
         "alert 022f\nclosed"},
        {"CertificateRequest without client certificates",
         {"cert-request"},
         "tls1",
         true,
         nullptr,
         "client certificates 0"},
    };
    for (const Case& c : cases) {
        ReferenceServer server(Pki(), c.flags);
        Channel ch(server.peer.port, c.version);
        const bool established = ch.Establish();
        EXPECT_EQ(established, c.established) << c.name << "\n" << ch.Log();
        if (established) {
            EXPECT_TRUE(ch.Send("ping")) << c.name;
            EXPECT_EQ(ch.Receive(4), "ping") << c.name << ch.Log();
            EXPECT_TRUE(ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr));
        }
        const std::string out = server.peer.Finish();
        if (c.ourLog != nullptr) {
            EXPECT_NE(ch.Log().find(c.ourLog), std::string::npos) << c.name << "\n" << ch.Log();
        }
        if (c.serverLog != nullptr) {
            EXPECT_NE(out.find(c.serverLog), std::string::npos) << c.name << "\n" << out;
        }
        EXPECT_EQ(out.find("WRONG"), std::string::npos) << c.name << "\n" << out;
        EXPECT_EQ(out.find("Traceback"), std::string::npos) << c.name << "\n" << out;
        EXPECT_FALSE(!established && ch.channel.isConnected()) << c.name << ": a failed handshake leaves no socket";
    }
}

// The master secret the reference server derived is ours, under both versions.
TEST(SChannelReferenceServer, MasterSecretEqualsTheReferenceUnderBothVersions) {
    for (const char* version : {"ssl30", "tls1"}) {
        ReferenceServer server(Pki(), {std::string(version) == "ssl30" ? "ssl3" : "version=3.1"});
        Channel ch(server.peer.port, version);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        const std::string master = Hex(ch.channel.protocol().masterSecret());
        ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr);
        const std::string out = server.peer.Finish();
        EXPECT_NE(out.find("master " + master), std::string::npos) << version << "\n" << out;
    }
}

TEST(SChannelReferenceServer, LargeWritesGoOutAsFullRecordsWithConsecutiveSequenceNumbers) {
    ReferenceServer server(Pki(), {});
    Channel ch(server.peer.port);
    ASSERT_TRUE(ch.Establish()) << ch.Log();
    const std::string data(16385, 'z');
    ASSERT_TRUE(ch.Send(data));
    EXPECT_EQ(ch.Receive(data.size()), data);
    ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr);
    const std::string out = server.peer.Finish();
    // The server's read sequence restarts at 0 after the client Finished (1).
    EXPECT_NE(out.find("record 23 16384 1\nrecord 23 1 2\n"), std::string::npos) << out;
}

TEST(SChannelReferenceServer, HelloRequestStartsANewHandshakeAndTheReadGoesOn) {
    for (const char* version : {"ssl30", "tls1"}) {
        ReferenceServer server(Pki(), {"renegotiate", std::string(version) == "ssl30" ? "ssl3" : "version=3.1"});
        Channel ch(server.peer.port, version);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        const std::string master = Hex(ch.channel.protocol().masterSecret());
        ASSERT_TRUE(ch.Send("after renegotiation"));
        EXPECT_EQ(ch.Receive(19), "after renegotiation") << ch.Log();
        EXPECT_NE(Hex(ch.channel.protocol().masterSecret()), master) << "new keys";
        EXPECT_NE(ch.Log().find("Need to re-negotiate the security parameters."), std::string::npos);
        ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr);
        const std::string out = server.peer.Finish();
        EXPECT_NE(out.find("renegotiated"), std::string::npos) << out;
        EXPECT_EQ(out.find("WRONG"), std::string::npos) << out;
    }
}

TEST(SChannelReferenceServer, AlertsFromTheServer) {
    {
        // A warning is logged and passed over.
        ReferenceServer server(Pki(), {"warning-alert"});
        Channel ch(server.peer.port);
        ch.channel.setVerboseLogging(true);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        ASSERT_TRUE(ch.Send("hello"));
        EXPECT_EQ(ch.Receive(5), "hello") << ch.Log();
        EXPECT_NE(ch.Log().find("no renegotiation"), std::string::npos) << ch.Log();
        ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr);
        server.peer.Finish();
    }
    {
        // A fatal one fails the read, drops the keys and the connection.
        ReferenceServer server(Pki(), {"fatal-alert"});
        Channel ch(server.peer.port);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        ASSERT_TRUE(ch.Send("hello"));
        EXPECT_EQ(ch.Receive(5), "");
        EXPECT_NE(ch.Log().find(tlsmsg::kClosingOnFatal), std::string::npos) << ch.Log();
        EXPECT_EQ(ch.channel.protocol().lastAlertDescription(), 40u);
        EXPECT_FALSE(ch.channel.protocol().readParams()->encrypting);
        EXPECT_FALSE(ch.channel.isConnected());
        server.peer.Finish();
    }
}

// Input that breaks a length rule ends the connection with a fatal alert:
// decode_error for a ServerHello with extensions, record_overflow for a
// record announced too long.
TEST(SChannelReferenceServer, BadLengthsEndTheConnectionWithAnAlert) {
    {
        ReferenceServer server(Pki(), {"extension"});
        Channel ch(server.peer.port);
        EXPECT_FALSE(ch.Establish());
        EXPECT_NE(ch.Log().find(tlsmsg::kServerHelloLong), std::string::npos) << ch.Log();
        const std::string out = server.peer.Finish();
        EXPECT_NE(out.find("alert 0232"), std::string::npos) << out;
    }
    {
        ReferenceServer server(Pki(), {"oversize-record"});
        Channel ch(server.peer.port);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        ASSERT_TRUE(ch.Send("hello"));
        EXPECT_EQ(ch.Receive(5), "");
        EXPECT_NE(ch.Log().find(tlsmsg::kRecordTooLong), std::string::npos) << ch.Log();
        EXPECT_FALSE(ch.channel.isConnected());
        const std::string out = server.peer.Finish();
        EXPECT_NE(out.find("alert 0216"), std::string::npos) << out;
    }
}

TEST(SChannelReferenceServer, ClientCertificateVerifiesUnderBothVersions) {
    for (const char* version : {"ssl30", "tls1"}) {
        ReferenceServer server(Pki(), {"cert-request", std::string(version) == "ssl30" ? "ssl3" : "version=3.1"});
        Channel ch(server.peer.port, version);
        ExtPtrArray certs;
        Pki().ClientCert("client", certs);
        ASSERT_TRUE(ch.Establish(&certs)) << ch.Log();
        ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr);
        const std::string out = server.peer.Finish();
        EXPECT_NE(out.find("client certificates 1\n"), std::string::npos) << out;
        EXPECT_NE(out.find("certificate verify ok"), std::string::npos) << version << "\n" << out;
    }
}

class SChannelPeerTest : public grvtest::LoopbackPeerTest {};

TEST_F(SChannelPeerTest, ClientCertificateAgainstOpensslThatRequiresOne) {
    grvtest::OpensslServerOptions options;
    options.cert = Pki().File("server.pem");
    options.key = Pki().File("server.key");
    options.extraArgs = {"-Verify", "1", "-CAfile", Pki().File("ca.pem"), "-verify_return_error"};
    const int port = peers.StartOpensslServer(options);
    struct Case {
        const char* cert; // null: none
        bool accepted;
        const char* clientFault = nullptr; // the client's own log names it
    };
    // A key of a composite factor signs wrongly: its signature never
    // leaves, and the failure is the client's.
    for (const Case& c : {Case{"client", true}, Case{"rogue", false}, Case{nullptr, false},
                          Case{"composite", false, rsa_msg::kResultNotUndone}}) {
        Channel ch(port);
        ExtPtrArray certs;
        if (c.cert != nullptr)
            Pki().ClientCert(c.cert, certs);
        bool ok = ch.Establish(&certs);
        std::string page;
        if (ok) {
            ch.Send("GET / HTTP/1.0\r\n\r\n");
            page = ch.Receive(1 << 20);
        }
        const std::string who = c.cert != nullptr ? c.cert : "none";
        EXPECT_EQ(ok && page.find("HTTP/1.0 200 ok") != std::string::npos, c.accepted) << who << "\n" << ch.Log();
        if (c.clientFault) {
            EXPECT_FALSE(ok);
            EXPECT_NE(ch.Log().find(c.clientFault), std::string::npos) << ch.Log();
        }
        if (c.accepted) {
            EXPECT_NE(page.find("Client certificate"), std::string::npos) << page.substr(0, 3000);
        }
    }
}

TEST_F(SChannelPeerTest, ProxyRefusingConnectFailsAtOnceWithReason102) {
    // A proxy that answers 407 and then keeps the connection open: the old
    // read-until-close would wait out the idle time-out and then handshake
    // with the proxy's body.
    ScriptPeer holding(R"PY(
s = listen()
c, a = s.accept()
head = b''
while not head.endswith(b'\r\n\r\n'):
    head += c.recv(1)
c.sendall(b'HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 5\r\n\r\nnope!')
print(head.decode().splitlines()[0])
c.settimeout(30)
print('client closed' if c.recv(1) == b'' else 'more bytes')
)PY");
    const int squid = peers.StartSquid();
    for (int proxyPort : {holding.port, squid}) {
        Channel ch(443);
        ch.channel.setHostname("localhost");
        ch.channel.setHttpProxy("127.0.0.1", unsigned(proxyPort));
        ch.channel.setUseHttpProxy(true);
        ch.channel.setReadTimeoutSec(60);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(ch.Establish());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "no wait for the proxy";
        EXPECT_EQ(ch.channel.getFailureReason(), unsigned(kSChannelFailProxy));
        EXPECT_NE(ch.Log().find(schannel_msg::kProxyRefused), std::string::npos) << ch.Log();
        EXPECT_NE(ch.Log().find("407"), std::string::npos) << ch.Log();
        EXPECT_FALSE(ch.channel.isConnected());
    }
    EXPECT_EQ(holding.Finish(), "CONNECT localhost:443 HTTP/1.0\nclient closed\n");
}

// A proxy whose answer never ends its head, and one that closes without a
// word: each fails at once with reason 102 and says which.
TEST(SChannelProxy, AnswersWithoutAHeadEndFail) {
    struct Case {
        const char* name;
        const char* answer; // python bytes sent after the request, then the proxy waits
        const char* said;
    } cases[] = {
        {"endless head", "b'HTTP/1.1 200 OK\\r\\nX-Filler: ' + b'y' * 40000", schannel_msg::kProxyHeadTooLong},
        {"closed at once", "None", schannel_msg::kNoProxyAnswer},
    };
    for (const Case& c : cases) {
        ScriptPeer proxy(std::string(R"PY(
s = listen()
c, a = s.accept()
head = b''
while not head.endswith(b'\r\n\r\n'):
    head += c.recv(1)
answer = )PY") + c.answer +
                         R"PY(
if answer is None:
    c.close()
else:
    try:
        c.sendall(answer)
        c.settimeout(30)
        c.recv(1)
    except OSError:
        pass
print(head.decode().splitlines()[0])
)PY");
        Channel ch(443);
        ch.channel.setHostname("localhost");
        ch.channel.setHttpProxy("127.0.0.1", unsigned(proxy.port));
        ch.channel.setUseHttpProxy(true);
        ch.channel.setReadTimeoutSec(60);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(ch.Establish()) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.name;
        EXPECT_EQ(ch.channel.getFailureReason(), unsigned(kSChannelFailProxy)) << c.name;
        EXPECT_NE(ch.Log().find(c.said), std::string::npos) << c.name << "\n" << ch.Log();
        EXPECT_FALSE(ch.channel.isConnected()) << c.name;
        EXPECT_EQ(proxy.Finish(), "CONNECT localhost:443 HTTP/1.0\n") << c.name;
    }
}

TEST_F(SChannelPeerTest, ThroughAProxyThatSaysYesTheHandshakeReachesTheServer) {
    const int server = peers.StartOpensslServer();
    // Answers 200 and relays both ways until either side closes.
    ScriptPeer relay(R"PY(
import threading
s = listen()
c, a = s.accept()
head = b''
while not head.endswith(b'\r\n\r\n'):
    head += c.recv(1)
print(head.decode().splitlines()[0])
u = socket.create_connection(('127.0.0.1', int(args[0])))
c.sendall(b'HTTP/1.1 200 Connection established\r\n\r\n')
def pump(a, b):
    try:
        while True:
            d = a.recv(65536)
            if not d:
                break
            b.sendall(d)
        b.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
t = threading.Thread(target=pump, args=(u, c))
t.start()
pump(c, u)
t.join()
)PY",
                     {std::to_string(server)});
    Channel ch(server);
    ch.channel.setHttpProxy("127.0.0.1", unsigned(relay.port));
    ch.channel.setUseHttpProxy(true);
    ASSERT_TRUE(ch.Establish()) << ch.Log();
    ASSERT_TRUE(ch.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_NE(ch.Receive(1 << 20).find("HTTP/1.0 200 ok"), std::string::npos) << ch.Log();
    ch.channel.closeChannel(ch.log);
    EXPECT_EQ(relay.Finish(), "CONNECT 127.0.0.1:" + std::to_string(server) + " HTTP/1.0\n");
}

// A download's log has as many lines for 2 MB as for 16 KB: nothing is
// logged per record unless the log is verbose, so memory stays flat. The
// handshake's RSA encryption of the pre-master secret logs one line more
// when its random padding gives a result with a leading zero byte (one
// handshake in 128 to 256, whatever the size), so that line is not counted.
TEST_F(SChannelPeerTest, ADownloadsLogDoesNotGrowWithItsSize) {
    grvtest::OpensslServerOptions options;
    options.extraArgs = {"-WWW"};
    const int port = peers.StartOpensslServer(options);
    std::vector<std::size_t> lines;
    for (std::size_t size : {std::size_t(16) << 10, std::size_t(2) << 20}) {
        const std::string name = "zeros" + std::to_string(size);
        ASSERT_TRUE(grvtest::WriteFile(peers.PeerFolder(port) + "/" + name, std::string(size, '\0')));
        Channel ch(port);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        ASSERT_TRUE(ch.Send("GET /" + name + " HTTP/1.0\r\n\r\n"));
        const std::string page = ch.Receive(size + 1000);
        ASSERT_GT(page.size(), size) << ch.Log();
        std::istringstream log(ch.Log());
        std::size_t counted = 0;
        for (std::string line; std::getline(log, line);)
            counted += line.find(rsa_msg::kZeroExtended) == std::string::npos;
        lines.push_back(counted);
    }
    EXPECT_EQ(lines[0], lines[1]);
}

// The traffic log of a TLS session holds the plaintext both ways, under one
// header per change of direction, in memory and in the file alike.
TEST_F(SChannelPeerTest, LoggedSocketRecordsTheTlsPlaintextBothWays) {
    const int port = peers.StartOpensslServer();
    grvtest::TempDir dir;
    LoggedSocket2 ls;
    ls.setKeepInMemory(true);
    ls.setLogToFile(true);
    ls.setSessionLogPath(dir.File("session.log").c_str());
    SChannelTessik& ch = *ls.tlsChannel();
    ch.setHostname("127.0.0.1");
    ch.setPort(unsigned(port));
    Logger log;
    bool dnsFailed = false;
    ASSERT_TRUE(ch.EstablishChannel(log, &dnsFailed, kTimeoutMs, 0, nullptr, nullptr)) << LogText(log);
    const std::string line = "GET / HTTP/1.0\r\n", end = "\r\n";
    for (const std::string& part : {line, end})
        ASSERT_TRUE(ls.tlsSendBytes(reinterpret_cast<const unsigned char*>(part.data()), unsigned(part.size()), 0,
                                    kTimeoutMs, log, nullptr));
    std::string response;
    DataBuffer piece;
    bool timedOut, aborted, fatal, ended, closed;
    while (ls.tlsReceiveBytes(piece, 0, kTimeoutMs, log, nullptr, &timedOut, &aborted, &fatal, &ended, &closed, 1))
        response.append(reinterpret_cast<const char*>(piece.getData()), piece.getSize());
    EXPECT_NE(response.find("HTTP/1.0 200 ok"), std::string::npos) << LogText(log);
    EXPECT_FALSE(timedOut || aborted || fatal);
    const std::string expected = std::string(kTrafficSendingHeader) + line + end + kTrafficReceivedHeader + response;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ls.memoryLog().getData()), ls.memoryLog().getSize()), expected);
    EXPECT_EQ(grvtest::ReadFile(dir.File("session.log")), expected);
}

TEST(SChannelReferenceServer, LoggedSocketStreamsASourceOverTls) {
    ReferenceServer server(Pki(), {});
    const grvtest::Bytes data = grvtest::RandomBytes(100000, 68);
    LoggedSocket2 ls;
    ls.setKeepInMemory(true);
    SChannelTessik& ch = *ls.tlsChannel();
    ch.setHostname("127.0.0.1");
    ch.setPort(unsigned(server.peer.port));
    Logger log;
    bool dnsFailed = false;
    ASSERT_TRUE(ch.EstablishChannel(log, &dnsFailed, kTimeoutMs, 0, nullptr, nullptr)) << LogText(log);
    MemoryDataSource source;
    source.setData(data.data(), data.size(), false);
    std::uint64_t total = 0;
    ASSERT_TRUE(
        ls.SendOnSocketFromSource(source, 30000, 0, kTimeoutMs, log, nullptr, nullptr, false, nullptr, &total, nullptr))
        << LogText(log);
    EXPECT_EQ(total, data.size());
    std::string echoed;
    DataBuffer piece;
    bool timedOut, aborted, fatal, ended, closed;
    while (echoed.size() < data.size() &&
           ls.tlsReceiveBytes(piece, 0, kTimeoutMs, log, nullptr, &timedOut, &aborted, &fatal, &ended, &closed, 1))
        echoed.append(reinterpret_cast<const char*>(piece.getData()), piece.getSize());
    const std::string sent(data.begin(), data.end());
    EXPECT_EQ(echoed, sent);
    EXPECT_TRUE(ls.sendCloseNotify(true, 0, kTimeoutMs, log, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ls.memoryLog().getData()), ls.memoryLog().getSize()),
              std::string(kTrafficSendingHeader) + sent + kTrafficReceivedHeader + sent);
    EXPECT_NE(server.peer.Finish().find("alert 0100"), std::string::npos) << "close_notify reached the server";
}

// A tunnel whose carrier is a TLS channel: bytes, waits and the close go
// through the channel.
TEST_F(SChannelPeerTest, TunnelChannelRunsOverTheTlsChannel) {
    const int port = peers.StartOpensslServer();
    Channel ch(port);
    ASSERT_TRUE(ch.Establish()) << ch.Log();
    TunnelChannel tunnel;
    tunnel.setTlsChannel(&ch.channel);
    tunnel.setTlsInUse(true);
    Logger log;
    EXPECT_TRUE(tunnel.isConnected(log, false));
    EXPECT_EQ(tunnel.getSocket(), ch.channel.getSocket());
    DataBuffer request;
    request.appendStr("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(tunnel.sendBytes(request, 4096, 0, kTimeoutMs, log, nullptr)) << LogText(log);
    std::string page;
    bool timedOut = false, aborted = false, socketError = false, closed = false;
    while (tunnel.waitForData(0, kTimeoutMs, nullptr, &socketError, &aborted, &timedOut, log)) {
        DataBuffer piece;
        if (!tunnel.receiveBytes(piece, 4096, 0, kTimeoutMs, log, nullptr, &timedOut, &aborted, &socketError, &closed,
                                 false))
            break;
        page.append(reinterpret_cast<const char*>(piece.getData()), piece.getSize());
    }
    EXPECT_NE(page.find("HTTP/1.0 200 ok"), std::string::npos) << LogText(log);
    EXPECT_EQ(tunnel.bytesReceived(), page.size());
    tunnel.close(true, 0, kTimeoutMs, log, nullptr);
    EXPECT_FALSE(ch.channel.isConnected());
}

// The TLS protocol over a tunnel channel (its plain carrier here): records
// are read in exact counts out of larger pieces, the rest waiting in the
// endpoint's push-back buffer. The channel's idle time-out 0 is none, and
// leaves the handshake no less time.
TEST_F(SChannelPeerTest, TlsRunsThroughATunnelChannel) {
    const int port = peers.StartOpensslServer();
    TlsEndpoint endpoint;
    auto tunnel = std::make_unique<TunnelChannel>();
    tunnel->setIdleTimeoutMs(0);
    Logger log;
    ASSERT_TRUE(tunnel->getSocket()->connectSocket("127.0.0.1", port, 0, log, nullptr, nullptr));
    endpoint.setChannel(std::move(tunnel));
    TlsProtocol protocol;
    SocketReadParams params;
    ASSERT_TRUE(protocol.startClientHandshake(endpoint, params, nullptr, log, false)) << LogText(log);
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_TRUE(protocol.sendApplicationData(reinterpret_cast<const unsigned char*>(request.data()),
                                             std::uint32_t(request.size()), endpoint, params, log, false));
    DataBuffer page;
    while (protocol.readApplicationData(endpoint, params, page, log, false)) {
    }
    EXPECT_NE(std::string(reinterpret_cast<const char*>(page.getData()), page.getSize()).find("HTTP/1.0 200 ok"),
              std::string::npos)
        << LogText(log);
    endpoint.close(log);
    EXPECT_FALSE(endpoint.isConnected());
}

TEST(TlsEndpointChannel, AShortReadKeepsTheRestForTheNext) {
    ScriptPeer peer(R"PY(
s = listen()
c, a = s.accept()
c.sendall(bytes(range(100)))
c.close()
)PY");
    TlsEndpoint endpoint;
    auto tunnel = std::make_unique<TunnelChannel>();
    Logger log;
    ASSERT_TRUE(tunnel->getSocket()->connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
    endpoint.setChannel(std::move(tunnel));
    peer.Finish(); // everything sent and the connection closed
    SocketReadParams params;
    DataBuffer first, rest, more;
    ASSERT_TRUE(endpoint.readBytes(5, first, params, log)) << LogText(log);
    EXPECT_EQ(Hex(first), "0001020304");
    EXPECT_EQ(endpoint.pushedBack(), 95u);
    ASSERT_TRUE(endpoint.readBytes(95, rest, params, log)) << LogText(log);
    EXPECT_EQ(rest.getSize(), 95u);
    EXPECT_EQ(rest.getLastByte(), 99);
    EXPECT_FALSE(endpoint.readBytes(1, more, params, log));
    EXPECT_TRUE(params.flags.closedByPeer);
}

// Server certificate checks over a machine ROOT store of the test's own.
class SChannelVerification : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        m_oldMachine = platform::MachineCryptoRoot();
        platform::SetMachineCryptoRoot(m_machine.Path());
    }
    void TearDown() override {
        platform::SetClockOverrideForTest(0);
        platform::SetMachineCryptoRoot(m_oldMachine);
        platform::SetResolverHook({});
    }
    // The certificate in the machine ROOT store, named by its thumbprint.
    void TrustInMachineRoot(const std::string& derFile) {
        const std::string der = grvtest::ReadFile(derFile);
        ASSERT_FALSE(der.empty()) << derFile;
        DataBuffer sha1;
        hashBytes(der.data(), std::uint32_t(der.size()), kHashSha1, sha1);
        const std::string folder = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                             platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(grvtest::WriteFile(folder + "/" + Hex(sha1) + ".cer", der));
    }
    int ServerSignedByTheCa() {
        grvtest::OpensslServerOptions options;
        options.cert = Pki().File("server.pem");
        options.key = Pki().File("server.key");
        return peers.StartOpensslServer(options);
    }
    grvtest::TempDir m_machine{"machine"};
    std::string m_oldMachine;
};

TEST_F(SChannelVerification, AChainUnderTheTestCaPassesOnceTheCaIsARoot) {
    const int port = ServerSignedByTheCa();
    {
        Channel ch(port);
        ch.channel.setRequireServerVerification(true);
        EXPECT_FALSE(ch.Establish());
        EXPECT_EQ(ch.channel.getFailureReason(), unsigned(kSChannelFailVerify));
        EXPECT_NE(ch.Log().find(schannel_msg::kUntrustedRoot), std::string::npos) << ch.Log();
        EXPECT_FALSE(ch.channel.isConnected());
    }
    TrustInMachineRoot(Pki().File("ca.der"));
    Channel ch(port);
    ch.channel.setRequireServerVerification(true);
    ASSERT_TRUE(ch.Establish()) << ch.Log();
    EXPECT_TRUE(ch.channel.isServerCertVerified());
    EXPECT_NE(ch.Log().find(schannel_msg::kVerified), std::string::npos) << ch.Log();
    ASSERT_TRUE(ch.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_NE(ch.Receive(1 << 20).find("HTTP/1.0 200 ok"), std::string::npos);
}

// The trust stores are read once and shared by later connections while
// they stay unchanged: trusting or no longer trusting the CA must count
// from the next connection on, as `openssl verify` over the same ROOT store
// judges. The CA's first trust is left to settle, so that the connection
// after it is judged against a shared reading, not a fresh one.
TEST_F(SChannelVerification, TrustGivenOrTakenCountsOnTheNextConnection) {
    const int port = ServerSignedByTheCa();
    const std::string rootFolder = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                             platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    const auto settle = std::chrono::milliseconds(kStoresSettledAfterMs + 200);
    struct Step {
        const char* name;
        std::function<void()> change;
    };
    const Step steps[] = {
        {"nothing trusted", [] {}},
        {"the CA trusted",
         [&] {
             TrustInMachineRoot(Pki().File("ca.der"));
             std::this_thread::sleep_for(settle);
         }},
        {"the CA taken out", [&] { std::filesystem::remove_all(rootFolder); }},
        {"the CA trusted again", [&] { TrustInMachineRoot(Pki().File("ca.der")); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        std::vector<std::string> verify{"openssl", "verify", "-no-CAfile", "-no-CApath", "-no-CAstore"};
        if (std::filesystem::exists(rootFolder) && !std::filesystem::is_empty(rootFolder))
            verify.insert(verify.end(), {"-CAfile", Pki().File("ca.pem")});
        verify.push_back(Pki().File("server.pem"));
        const grvtest::RunResult judged = grvtest::RunPeer(verify);
        Channel ch(port);
        ch.channel.setRequireServerVerification(true);
        const bool established = ch.Establish();
        EXPECT_EQ(established, judged.Ok()) << judged.out << judged.err << ch.Log();
        EXPECT_EQ(ch.channel.isServerCertVerified(), established);
        if (!established) {
            EXPECT_NE(ch.Log().find(schannel_msg::kUntrustedRoot), std::string::npos) << ch.Log();
        }
    }
}

TEST_F(SChannelVerification, RefusalsNameTheirReason) {
    TrustInMachineRoot(Pki().File("ca.der"));
    const int signedPort = ServerSignedByTheCa();
    const int selfSignedPort = peers.StartOpensslServer();
    // Ten years and a day on, the CA's server certificate has expired.
    const std::int64_t later = (std::chrono::system_clock::now() + std::chrono::hours(24 * 3660)).time_since_epoch() /
                               std::chrono::milliseconds(1);
    struct Case {
        const char* name;
        int port;
        std::int64_t now;
        bool required;
        const char* reason; // null: established
        const char* host = "127.0.0.1";
    };
    // A day before the certificates were made.
    const std::int64_t earlier =
        (std::chrono::system_clock::now() - std::chrono::hours(24)).time_since_epoch() / std::chrono::milliseconds(1);
    const Case cases[] = {
        {"self-signed server", selfSignedPort, 0, true, schannel_msg::kUntrustedRoot},
        {"self-signed server, no check asked for", selfSignedPort, 0, false, nullptr},
        {"expired server certificate", signedPort, later, true, schannel_msg::kExpired},
        {"expired, no check asked for", signedPort, later, false, nullptr},
        {"not yet valid", signedPort, earlier, true, schannel_msg::kNotYetValid},
        {"another host's certificate", signedPort, 0, true, schannel_msg::kNameMismatch, "other.grv.test"},
        {"another host's, no check asked for", signedPort, 0, false, nullptr, "other.grv.test"},
        {"the host by its name", signedPort, 0, true, nullptr, "localhost"},
    };
    // A name that is not the certificate's, for the loopback.
    platform::SetResolverHook(
        [](const std::string& host) { return host == "other.grv.test" ? std::string("127.0.0.1") : std::string(); });
    for (const Case& c : cases) {
        platform::SetClockOverrideForTest(c.now);
        Channel ch(c.port);
        ch.channel.setHostname(c.host);
        ch.channel.setRequireServerVerification(c.required);
        const bool established = ch.Establish();
        EXPECT_EQ(established, c.reason == nullptr) << c.name << "\n" << ch.Log();
        EXPECT_EQ(ch.channel.isServerCertVerified(), established && c.required) << c.name;
        EXPECT_NE(ch.channel.getServerCertificate(), nullptr) << c.name;
        if (c.reason != nullptr) {
            EXPECT_EQ(ch.channel.getFailureReason(), unsigned(kSChannelFailVerify)) << c.name;
            EXPECT_NE(ch.Log().find(c.reason), std::string::npos) << c.name << "\n" << ch.Log();
            EXPECT_NE(ch.Log().find(schannel_msg::kVerificationFailed), std::string::npos) << c.name;
            EXPECT_FALSE(ch.channel.isConnected()) << c.name;
        }
    }
}

// A server that asks for a new handshake may show another certificate in
// it: it passes the same checks as the first, and a refusal fails the read
// that ran into it with reason 105, handing on nothing.
TEST_F(SChannelVerification, ACertificateShownInARenegotiationIsCheckedAgain) {
    TrustInMachineRoot(Pki().File("ca.der"));
    struct Case {
        const char* name;
        const char* second; // the certificate of the new handshake
        const char* reason; // null: the read goes on
    } cases[] = {
        {"the same certificate", "server", nullptr},
        {"another the CA signed for the host", "client", nullptr},
        {"a self-signed one", "rogue", schannel_msg::kUntrustedRoot},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string second = c.second;
        ReferenceServer server(
            Pki(), {"renegotiate", "cert2=" + Pki().File(second + ".pem"), "key2=" + Pki().File(second + ".key")});
        Channel ch(server.peer.port);
        ch.channel.setRequireServerVerification(true);
        ASSERT_TRUE(ch.Establish()) << ch.Log();
        ASSERT_TRUE(ch.Send("after renegotiation"));
        const std::string got = ch.Receive(19);
        EXPECT_NE(ch.Log().find("Need to re-negotiate the security parameters."), std::string::npos) << ch.Log();
        if (c.reason == nullptr) {
            EXPECT_EQ(got, "after renegotiation") << ch.Log();
            EXPECT_TRUE(ch.channel.isServerCertVerified());
            ch.channel.sendCloseNotify(true, 0, kTimeoutMs, ch.log, nullptr);
        } else {
            EXPECT_EQ(got, "");
            EXPECT_NE(ch.Log().find(c.reason), std::string::npos) << ch.Log();
            EXPECT_EQ(ch.channel.getFailureReason(), unsigned(kSChannelFailVerify));
            EXPECT_FALSE(ch.channel.isServerCertVerified());
            EXPECT_FALSE(ch.channel.isConnected());
        }
        const std::string out = server.peer.Finish();
        EXPECT_NE(out.find("renegotiated"), std::string::npos) << out;
    }
}

TEST_F(SChannelPeerTest, SocksConnectionIsHandedToTheChannel) {
    const int server = peers.StartOpensslServer();
    const int socks = peers.StartMicrosocks(false);
    ClsSocksClient settings;
    settings.setSocksHostname("127.0.0.1");
    settings.setSocksPort(socks);
    TessikSocket socket;
    Logger log;
    int reason = 0;
    ASSERT_TRUE(
        socket.socks5Connect("127.0.0.1", server, nullptr, 0, kTimeoutMs, log, nullptr, nullptr, &reason, settings))
        << LogText(log);
    Channel ch(server);
    ASSERT_TRUE(ch.channel.EstablishChannel2(socket, ch.log, kTimeoutMs, 0, nullptr, nullptr)) << ch.Log();
    EXPECT_TRUE(socket.isInvalidSocket()) << "the channel took the handle";
    ASSERT_TRUE(ch.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_NE(ch.Receive(1 << 20).find("HTTP/1.0 200 ok"), std::string::npos) << ch.Log();
}

} // namespace
