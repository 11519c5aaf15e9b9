// Key exchange over sshd's every fixed group, host key, cipher and MAC, and
// channel data against real servers: OpenSSH's sshd (key login as its
// user, rekeying every 32 KiB, a keep-alive every second) and paramiko
// (password login, commands of its own in paramiko_server.py), and the
// tunnel channel over an SSH channel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlib/transport/SshConstants.h"
#include "netlib/transport/TunnelChannel.h"
#include "tests/netlib/transport/SshTestSession.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace grvtest {
namespace {

using namespace tessik;

const std::vector<std::string> kSshdOptions = {"PubkeyAcceptedAlgorithms +ssh-rsa", "RekeyLimit 32K",
                                               "ClientAliveInterval 1"};

// What paramiko_server.py's "emit N" writes.
std::string Pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char>(i % 256);
    return s;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class SshChannelPeers : public LoopbackPeerTest {
public:
    // A session on the peer running command, its transcript switched on.
    bool Run(SshTestSession& s, bool sshd, const std::string& command, std::uint32_t window = kSshTestWindow) {
        s.transport.transcript().enable(0, true);
        if (sshd) {
            if (m_sshd.port == 0)
                m_sshd = peers.StartSshd(kSshdOptions);
            return s.Connect(m_sshd.port, true) && s.RequestUserauth() &&
                   s.LoginRsaKey(m_sshd.user, m_sshd.rsaClientKey) && s.OpenSession(window) && s.Exec(command);
        }
        if (m_paramiko.port == 0)
            m_paramiko = peers.StartParamikoServer({"--window", "65536"});
        return s.Connect(m_paramiko.port, true) && s.RequestUserauth() &&
               s.LoginPassword(m_paramiko.user, kPeerPassword) && s.OpenSession(window) && s.Exec(command);
    }
    std::string Transcript(SshTestSession& s) { return s.transport.transcript().buffer(0).getString(); }

    void LargeOutput(bool onlySshd);
    void LargeInput(bool onlySshd);
    void StderrStatusAndClose(bool onlySshd);
    void KeepAlives(bool onlySshd);

    SshPeer m_sshd;
    SshPeer m_paramiko;
};

// paramiko's cases, and sshd's (sshd runs as the user who runs the test).
class SshChannelPeerTest : public SshChannelPeers {};
class SshdChannelPeerTest : public SshChannelPeers {};

void SshChannelPeers::LargeOutput(bool onlySshd) {
    const std::string letters = "0123456789abcdefghijklmnopqrstuvwxyz\n";
    std::string sshdExpected;
    while (sshdExpected.size() < 300000)
        sshdExpected += letters;
    sshdExpected.resize(300000);
    struct Case {
        bool sshd;
        std::string command;
        std::string expected;
    } cases[] = {
        {true, "yes 0123456789abcdefghijklmnopqrstuvwxyz | head -c 300000", sshdExpected},
        {false, "emit 300000", Pattern(300000)},
        {false, "rekey 300000", Pattern(300000)},
    };
    for (const Case& c : cases) {
        if (c.sshd != onlySshd)
            continue;
        SCOPED_TRACE(c.command);
        SshTestSession s;
        ASSERT_TRUE(Run(s, c.sshd, c.command, 65536)) << s.failure;
        std::string out, err;
        ASSERT_TRUE(s.ReadToClose(out, err)) << s.failure;
        EXPECT_TRUE(out == c.expected) << out.size();
        const std::string t = Transcript(s);
        EXPECT_GE(Count(t, "TRAN> WINDOW_ADJUST"), 4u);
        if (c.command != "emit 300000") {
            // The server re-keyed while the client was reading.
            EXPECT_GE(Count(t, "TRAN< KEXINIT"), 2u);
            EXPECT_GE(Count(t, "TRAN< NEWKEYS"), 2u);
        }
    }
}

void SshChannelPeers::LargeInput(bool onlySshd) {
    // sshd grants 2 MiB, paramiko here 64 KiB: each input is larger.
    for (auto [sshd, size, command] : {std::tuple{true, 3000000u, "wc -c"}, std::tuple{false, 300000u, "sink"}}) {
        if (sshd != onlySshd)
            continue;
        SCOPED_TRACE(command);
        SshTestSession s;
        const std::string full = sshd ? command : std::string(command) + " " + std::to_string(size);
        ASSERT_TRUE(Run(s, sshd, full)) << s.failure;
        ASSERT_LT(s.channel.serverWindow, size);
        DataBuffer input;
        input.appendCharRepeated('i', size);
        ASSERT_TRUE(s.transport.sendChannelData(s.channel, input, s.serverMaxPacket, nullptr, s.log, false))
            << s.failure;
        ASSERT_TRUE(s.transport.sendChannelEof(s.channel, nullptr, s.log, false));
        std::string out, err;
        ASSERT_TRUE(s.ReadToClose(out, err)) << s.failure;
        EXPECT_EQ(out, sshd ? std::to_string(size) + "\n" : "got " + std::to_string(size) + "\n");
        EXPECT_GE(Count(Transcript(s), "TRAN< CHANNEL_WINDOW_ADJUST"), 1u);
    }
}

void SshChannelPeers::StderrStatusAndClose(bool onlySshd) {
    struct Case {
        bool sshd;
        const char* command;
        std::string out, err;
        std::uint32_t status;
    } cases[] = {{true, "echo out; echo err >&2; exit 7", "out\n", "err\n", 7},
                 {false, "emit 10", Pattern(10), "to stderr\n", 3},
                 {false, "hello", "exec: hello\n", "", 0},
                 {false, "overrun 100", Pattern(100), "", 0}};
    for (const Case& c : cases) {
        if (c.sshd != onlySshd)
            continue;
        SCOPED_TRACE(c.command);
        SshTestSession s;
        ASSERT_TRUE(Run(s, c.sshd, c.command)) << s.failure;
        std::string out, err;
        ASSERT_TRUE(s.ReadToClose(out, err)) << s.failure;
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err);
        EXPECT_TRUE(s.channel.exitStatusReceived && s.channel.eofReceived && s.channel.closeReceived);
        EXPECT_EQ(s.channel.exitStatus, c.status);
        bool disconnected = false;
        EXPECT_TRUE(s.transport.closeChannel(s.channel, disconnected, nullptr, s.log, false));
        const std::string t = Transcript(s);
        EXPECT_EQ(Count(t, "TRAN> CHANNEL_CLOSE"), 1u) << t;
        EXPECT_EQ(Count(t, "TRAN> CHANNEL_EOF"), 0u) << t;
        // The read to the close starts once exec is answered: output and a
        // close that came ahead of the answer would leave it nothing to read.
        EXPECT_LT(t.find("TRAN< CHANNEL_SUCCESS"), t.find("TRAN< CHANNEL_DATA")) << t;
    }
}

void SshChannelPeers::KeepAlives(bool onlySshd) {
    // sshd asks every second and drops a client that misses three.
    for (auto [sshd, command, out] :
         {std::tuple{true, "sleep 5; echo done", "done\n"}, std::tuple{false, "keepalive", ""}}) {
        if (sshd != onlySshd)
            continue;
        SCOPED_TRACE(command);
        SshTestSession s;
        ASSERT_TRUE(Run(s, sshd, command)) << s.failure;
        std::string got, err;
        ASSERT_TRUE(s.ReadToClose(got, err)) << s.failure;
        EXPECT_EQ(got, out);
        const std::string t = Transcript(s);
        EXPECT_GE(Count(t, "TRAN* Request Type: keepalive@openssh.com"), 1u) << t;
        EXPECT_EQ(Count(t, "TRAN* Request Type: keepalive@openssh.com"), Count(t, "TRAN> CHANNEL_FAILURE")) << t;
    }
}

TEST_F(SshChannelPeerTest, ServerThatOverrunsTheWindowLeavesItAtZero) {
    SshTestSession s;
    ASSERT_TRUE(Run(s, false, "overrun 60000", 40000)) << s.failure;
    std::string out, err;
    ASSERT_TRUE(s.ReadToClose(out, err)) << s.failure;
    EXPECT_TRUE(out == Pattern(60000)) << out.size();
    // Clamped at 0 and topped up again, not wrapped round past 4 GiB.
    EXPECT_EQ(s.channel.localWindow, 40000u);
    EXPECT_GE(Count(Transcript(s), "TRAN> WINDOW_ADJUST"), 1u);
}

TEST_F(SshdChannelPeerTest, TunnelChannelCarriesBytesOverAnSshChannel) {
    SshTestSession s;
    ASSERT_TRUE(Run(s, true, "cat")) << s.failure;
    TunnelChannel tunnel;
    tunnel.attachSsh(&s.transport, std::make_unique<SshChannel>(s.channel));
    Logger log;
    EXPECT_TRUE(tunnel.isConnected(log, false));
    EXPECT_EQ(tunnel.getSocket(), &s.transport.getSocket());
    DataBuffer hello;
    hello.appendStr("through the tunnel\n");
    ASSERT_TRUE(tunnel.sendBytes(hello, s.serverMaxPacket, 0, 5000, log, nullptr));
    DataBuffer got;
    while (got.getSize() < hello.getSize()) {
        bool timedOut = false, aborted = false, socketError = false, closed = false;
        ASSERT_TRUE(
            tunnel.receiveBytes(got, 4096, 0, 10000, log, nullptr, &timedOut, &aborted, &socketError, &closed, false));
    }
    EXPECT_TRUE(got.equalsDb(hello));
    EXPECT_EQ(tunnel.bytesReceived(), hello.getSize());
    tunnel.close(true, 0, 5000, log, nullptr);
    StringBuffer text;
    log.getLogText(text);
    EXPECT_NE(std::string(text.getString()).find(kMsgClosingSshChannel), std::string::npos);
    EXPECT_EQ(tunnel.sshChannel(), nullptr);
    // Only the channel went: the transport still opens another.
    EXPECT_TRUE(s.transport.getSocket().isConnected());
    ASSERT_TRUE(s.OpenSession() && s.Exec("echo again")) << s.failure;
    std::string out, err;
    ASSERT_TRUE(s.ReadToClose(out, err)) << s.failure;
    EXPECT_EQ(out, "again\n");
}

// "ssh-rsa 2048 aa:bb:..." from ssh-keygen's "2048 MD5:aa:bb:... comment (RSA)".
std::string KeygenFingerprint(const std::string& publicKeyFile, const std::string& type) {
    RunResult r = RunProgram({"ssh-keygen", "-l", "-E", "md5", "-f", publicKeyFile});
    const std::string& out = r.out;
    std::size_t space = out.find(' ');
    std::size_t md5 = out.find("MD5:");
    if (space == std::string::npos || md5 == std::string::npos)
        return "ssh-keygen said: " + out + r.err;
    std::size_t end = out.find(' ', md5);
    return type + " " + out.substr(0, space) + " " + out.substr(md5 + 4, end - md5 - 4);
}

struct SshAlgorithm {
    const char* name;
    int id;
};

// Every fixed group, cipher and MAC with the one host key algorithm sshd is
// given; the fingerprint is ssh-keygen's of the key sshd wrote.
void AgreesOnEveryFixedGroupCipherAndMac(LoopbackPeers& peers, const SshAlgorithm& hostKey) {
    const SshAlgorithm kexes[] = {{"diffie-hellman-group1-sha1", kSshKexGroup1},
                                  {"diffie-hellman-group14-sha1", kSshKexGroup14}};
    const SshAlgorithm ciphers[] = {
        {"aes256-cbc", kSshCipherAes256}, {"aes128-cbc", kSshCipherAes128}, {"3des-cbc", kSshCipher3des}};
    const SshAlgorithm macs[] = {{"hmac-sha1", kSshMacSha1}, {"hmac-md5", kSshMacMd5}};
    const bool rsa = hostKey.id == kSshHostKeyRsa;
    for (const SshAlgorithm& kex : kexes) {
        for (const SshAlgorithm& cipher : ciphers) {
            for (const SshAlgorithm& mac : macs) {
                SCOPED_TRACE(std::string(kex.name) + " " + hostKey.name + " " + cipher.name + " " + mac.name);
                SshPeer sshd = peers.StartSshd(
                    {std::string("KexAlgorithms ") + kex.name, std::string("HostKeyAlgorithms ") + hostKey.name,
                     std::string("Ciphers ") + cipher.name, std::string("MACs ") + mac.name},
                    rsa ? LoopbackPeers::SshdHostKeys::Rsa : LoopbackPeers::SshdHostKeys::RsaAndDsa);
                SshTestSession session;
                session.transport.kex().preferRsa = rsa;
                ASSERT_TRUE(session.Connect(sshd.port, true) && session.RequestUserauth()) << session.failure;
                const SshKeyExchange& k = session.transport.kex();
                EXPECT_EQ(k.kexAlg, kex.id);
                EXPECT_EQ(k.hostKeyAlg, hostKey.id);
                EXPECT_EQ(session.transport.outgoing().cipherId, cipher.id);
                EXPECT_EQ(session.transport.incoming().cipherId, cipher.id);
                EXPECT_EQ(session.transport.outgoing().macId, mac.id);
                EXPECT_EQ(session.transport.incoming().macId, mac.id);
                const std::string keyFile = sshd.folder + (rsa ? "/host_rsa.pub" : "/host_dsa.pub");
                const std::string expected = KeygenFingerprint(keyFile, hostKey.name);
                EXPECT_EQ(std::string(session.transport.hostKeyFingerprint().getString()), expected);
                peers.Stop(sshd.port);
            }
        }
    }
}

TEST_F(SshdChannelPeerTest, SshdAgreesOnEveryFixedGroupHostKeyCipherAndMac) {
    AgreesOnEveryFixedGroupCipherAndMac(peers, {"ssh-rsa", kSshHostKeyRsa});
}

// OpenSSH 10 has no DSA: a runner whose OpenSSH lacks it leaves this out.
TEST_F(SshdChannelPeerTest, OpenSshDsaHostKeyAgreesOnEveryFixedGroupCipherAndMac) {
    AgreesOnEveryFixedGroupCipherAndMac(peers, {"ssh-dss", kSshHostKeyDss});
}

TEST_F(SshChannelPeerTest, ParamikoLargeOutputAdjustsTheWindowAndSurvivesRekeys) {
    LargeOutput(false);
}
TEST_F(SshdChannelPeerTest, SshdLargeOutputAdjustsTheWindowAndSurvivesRekeys) {
    LargeOutput(true);
}

TEST_F(SshChannelPeerTest, ParamikoLargeInputWaitsForTheServersWindow) {
    LargeInput(false);
}
TEST_F(SshdChannelPeerTest, SshdLargeInputWaitsForTheServersWindow) {
    LargeInput(true);
}

TEST_F(SshChannelPeerTest, ParamikoStderrExitStatusAndCloseAnsweredOnce) {
    StderrStatusAndClose(false);
}
TEST_F(SshdChannelPeerTest, SshdStderrExitStatusAndCloseAnsweredOnce) {
    StderrStatusAndClose(true);
}

TEST_F(SshChannelPeerTest, ParamikoKeepAlivesAreAnswered) {
    KeepAlives(false);
}
TEST_F(SshdChannelPeerTest, SshdKeepAlivesAreAnswered) {
    KeepAlives(true);
}

} // namespace
} // namespace grvtest
