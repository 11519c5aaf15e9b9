// Key exchange against paramiko: group exchange with SHA-1 and SHA-256, zlib
// both ways and a payload that inflates past the cap; against sshd with
// OpenSSH's own default key exchanges, whose log shows what we offered; and
// servers that refuse the exchange, each refusal taken at once. (sshd's
// fixed groups are in SshChannelPeerTest.cpp, with the other sshd tests.)
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/transport/SshConstants.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/netlib/transport/SshTestSession.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace grvtest {
namespace {

using namespace tessik;

TEST_F(LoopbackPeerTest, ParamikoRunsGroupExchangeWithSha1AndSha256) {
    for (auto [kex, id] : {std::pair{"diffie-hellman-group-exchange-sha1", kSshKexGexSha1},
                           std::pair{"diffie-hellman-group-exchange-sha256", kSshKexGexSha256}}) {
        SCOPED_TRACE(kex);
        SshPeer paramiko = peers.StartParamikoServer({"--kex", kex});
        SshTestSession session;
        ASSERT_TRUE(session.RunPassword(paramiko.port, paramiko.user, kPeerPassword, "hello")) << session.failure;
        EXPECT_EQ(session.transport.kex().kexAlg, id);
        std::string out, err;
        ASSERT_TRUE(session.ReadToClose(out, err)) << session.failure;
        EXPECT_EQ(out, "exec: hello\n");
        peers.Stop(paramiko.port);
    }
}

TEST_F(LoopbackPeerTest, ParamikoCompressesBothWaysAndAZlibBombFails) {
    SshPeer paramiko = peers.StartParamikoServer();
    {
        SshTestSession session;
        session.transport.kex().allowCompression = true;
        ASSERT_TRUE(session.RunPassword(paramiko.port, paramiko.user, kPeerPassword, "sink 200000")) << session.failure;
        EXPECT_EQ(session.transport.outgoing().compressionId, kSshCompressZlib);
        EXPECT_EQ(session.transport.incoming().compressionId, kSshCompressZlib);
        DataBuffer input;
        input.appendCharRepeated('z', 200000);
        ASSERT_TRUE(session.transport.sendChannelData(session.channel, input, session.serverMaxPacket, nullptr,
                                                      session.log, false))
            << session.failure;
        std::string out, err;
        ASSERT_TRUE(session.ReadToClose(out, err)) << session.failure;
        EXPECT_EQ(out, "got 200000\n");
        EXPECT_EQ(session.channel.exitStatus, 0u);
    }
    SshTestSession bombed;
    bombed.transport.kex().allowCompression = true;
    ASSERT_TRUE(bombed.RunPassword(paramiko.port, paramiko.user, kPeerPassword, "zlib-bomb")) << bombed.failure;
    std::string out, err;
    EXPECT_FALSE(bombed.ReadToClose(out, err));
    EXPECT_NE(bombed.failure.find(kSshMsgInflateTooLarge), std::string::npos) << bombed.failure;
    EXPECT_FALSE(bombed.transport.getSocket().isConnected());
}

// The lists sshd's log says the client proposed ("debug2: ciphers ctos:
// ..."), by name.
std::vector<std::pair<std::string, std::string>> ClientProposal(const std::string& sshdLog) {
    std::vector<std::pair<std::string, std::string>> lists;
    std::istringstream in(sshdLog);
    bool inProposal = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find("peer client KEXINIT proposal") != std::string::npos) {
            inProposal = true;
            continue;
        }
        const std::size_t at = line.find("debug2: ");
        const std::size_t colon = line.find(": ", at + 8);
        if (!inProposal || at == std::string::npos || colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 2);
        value = value.substr(0, value.find(" [preauth]"));
        lists.emplace_back(line.substr(at + 8, colon - at - 8), value);
        if (lists.back().first == "languages stoc")
            break;
    }
    return lists;
}

// OpenSSH's default key exchanges with group exchange with SHA-256 (among
// the defaults until OpenSSH 10, which leaves every finite-field group out),
// group 14 and the legacy ciphers and MACs added: the client takes group
// exchange and asks for its group in the form OpenSSH understands; cat
// echoes a megabyte back byte for byte; and what sshd read from our KEXINIT
// offers neither cipher nor MAC "none".
TEST_F(LoopbackPeerTest, SshdWithOpensshDefaultKeyExchangesRunsCatByteExact) {
    SshPeer sshd = peers.StartSshd({"KexAlgorithms +diffie-hellman-group-exchange-sha256,diffie-hellman-group14-sha1",
                                    "Ciphers +aes256-cbc,aes128-cbc", "MACs +hmac-sha1,hmac-md5",
                                    "PubkeyAcceptedAlgorithms +ssh-rsa", "LogLevel DEBUG2"});
    SshTestSession s;
    ASSERT_TRUE(s.Connect(sshd.port, true) && s.RequestUserauth() && s.LoginRsaKey(sshd.user, sshd.rsaClientKey) &&
                s.OpenSession() && s.Exec("cat"))
        << s.failure;
    EXPECT_EQ(s.transport.kex().kexAlg, kSshKexGexSha256);
    const Bytes input = RandomBytes(1000000, 79);
    DataBuffer data;
    data.append(input.data(), static_cast<std::uint32_t>(input.size()));
    ASSERT_TRUE(s.transport.sendChannelData(s.channel, data, s.serverMaxPacket, nullptr, s.log, false)) << s.failure;
    ASSERT_TRUE(s.transport.sendChannelEof(s.channel, nullptr, s.log, false));
    std::string out, err;
    ASSERT_TRUE(s.ReadToClose(out, err)) << s.failure;
    // (err holds sshd's own debug lines at this log level.)
    EXPECT_TRUE(out == std::string(input.begin(), input.end())) << out.size() << " bytes came back";

    const auto lists = ClientProposal(ReadFile(sshd.folder + "/output.log"));
    ASSERT_EQ(lists.size(), 10u) << ReadFile(sshd.folder + "/output.log");
    std::string proposal;
    for (const auto& [name, value] : lists)
        proposal += name + ": " + value + "\n";
    EXPECT_EQ(proposal, std::string("KEX algorithms: ") + kSshNamesKex +
                            "\nhost key algorithms: " + kSshNamesHostKeyRsaFirst +
                            "\nciphers ctos: " + kSshNamesCiphers + "\nciphers stoc: " + kSshNamesCiphers +
                            "\nMACs ctos: hmac-sha1,hmac-md5\nMACs stoc: hmac-sha1,hmac-md5\ncompression ctos: none\n"
                            "compression stoc: none\nlanguages ctos: \nlanguages stoc: \n");
    for (const auto& [name, value] : lists) {
        if (name.starts_with("ciphers") || name.starts_with("MACs")) {
            EXPECT_EQ(("," + value + ",").find(",none,"), std::string::npos) << name << ": " << value;
        }
    }
}

// A server that speaks plain SSH up to its KEXINIT (args[0] its key
// exchange list), reads ours, then refuses as args[1] says: "disconnect"
// with a reason, "unimplemented" for the message that follows ours (printing
// its number and sizes), or "close". It prints what it read.
constexpr const char* kRefusingServer = R"PY(
c, a = listen().accept()
c.sendall(b'SSH-2.0-Refusing_1.0\r\n')
line = b''
while not line.endswith(b'\n'):
    line += c.recv(1)
def read_packet():
    h = recv_exact(c, 5)
    body = recv_exact(c, int.from_bytes(h[:4], 'big') - 1)
    return body[:len(body) - h[4]]
def packet(payload):
    pad = 8 - (len(payload) + 5) % 8
    pad += 8 if pad < 4 else 0
    return (len(payload) + 1 + pad).to_bytes(4, 'big') + bytes([pad]) + payload + bytes(pad)
def name_list(text):
    return len(text).to_bytes(4, 'big') + text.encode()
lists = [args[0], 'ssh-rsa', 'aes128-cbc', 'aes128-cbc', 'hmac-sha1', 'hmac-sha1', 'none', 'none', '', '']
c.sendall(packet(bytes([20]) + bytes(16) + b''.join(name_list(l) for l in lists) + bytes(5)))
try:
    print('got %d' % read_packet()[0])
    if args[1] == 'disconnect':
        c.sendall(packet(bytes([1]) + (3).to_bytes(4, 'big') + name_list('no agreement here, try elsewhere') +
                         name_list('en')))
    elif args[1] == 'unimplemented':
        p = read_packet()
        print('got %d %s' % (p[0], ' '.join(str(int.from_bytes(p[i:i + 4], 'big')) for i in range(1, len(p), 4))))
        c.sendall(packet(bytes([3]) + (3).to_bytes(4, 'big')))
    else:
        c.close()
    c.settimeout(30)
    while c.recv(4096):
        pass
except (EOFError, OSError):
    pass
print('closed')
)PY";

TEST_F(LoopbackPeerTest, ARefusedKeyExchangeFailsAtOnceWithTheServersReason) {
    struct Case {
        const char* name;
        bool sshd;
        std::vector<std::string> how; // sshd options, or the script's two arguments
        const char* said;             // in our log
        const char* serverSaw;        // the script's output, whole
    } cases[] = {
        {"sshd offering no key exchange of ours",
         true,
         {"KexAlgorithms curve25519-sha256"},
         "Unable to agree upon key exchange algorithm.",
         nullptr},
        {"sshd offering no MAC of ours",
         true,
         {"MACs hmac-sha2-256"},
         "Unable to agree upon server-to-client MAC algorithm.",
         nullptr},
        {"sshd offering no cipher of ours",
         true,
         {"Ciphers aes128-ctr"},
         "Unable to agree upon server-to-client encryption algorithm.",
         nullptr},
        {"a DISCONNECT after our KEXINIT",
         false,
         {"diffie-hellman-group14-sha1", "disconnect"},
         "no agreement here, try elsewhere",
         "got 20\nclosed\n"},
        // The request names the smallest, preferred and largest group (message 34).
        {"UNIMPLEMENTED for our group request",
         false,
         {"diffie-hellman-group-exchange-sha256", "unimplemented"},
         kSshMsgKexUnimplemented,
         "got 20\ngot 34 1024 1024 8192\nclosed\n"},
        {"the connection closed after its KEXINIT",
         false,
         {"diffie-hellman-group14-sha1", "close"},
         "Failed to read packet from SSH server.",
         "got 20\nclosed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ScriptPeer> script;
        int port = 0;
        if (c.sshd) {
            port = peers.StartSshd(c.how).port;
        } else {
            script = std::make_unique<ScriptPeer>(kRefusingServer, c.how);
            port = script->port;
        }
        SshTestSession s;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(s.Connect(port, true));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0) << "the idle time-out is 20 s";
        EXPECT_NE(s.failure.find(c.said), std::string::npos) << s.failure;
        s.transport.getSocket().closeSocket();
        if (script) {
            EXPECT_EQ(script->Finish(), c.serverSaw);
        } else {
            peers.Stop(port);
        }
    }
}

} // namespace
} // namespace grvtest
