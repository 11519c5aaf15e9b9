// Key exchange against real servers: OpenSSH's sshd over every fixed group,
// host key, cipher and MAC it is configured with, paramiko over group
// exchange and zlib. ssh-keyscan and ssh-keygen judge the fingerprint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlib/transport/SshConstants.h"
#include "tests/netlib/transport/SshTestSession.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace grvtest {
namespace {

using namespace tessik;

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

TEST_F(LoopbackPeerTest, SshdAgreesOnEveryFixedGroupHostKeyCipherAndMac) {
    struct Algorithm {
        const char* name;
        int id;
    };
    const Algorithm kexes[] = {{"diffie-hellman-group1-sha1", kSshKexGroup1},
                               {"diffie-hellman-group14-sha1", kSshKexGroup14}};
    const Algorithm hostKeys[] = {{"ssh-rsa", kSshHostKeyRsa}, {"ssh-dss", kSshHostKeyDss}};
    const Algorithm ciphers[] = {
        {"aes256-cbc", kSshCipherAes256}, {"aes128-cbc", kSshCipherAes128}, {"3des-cbc", kSshCipher3des}};
    const Algorithm macs[] = {{"hmac-sha1", kSshMacSha1}, {"hmac-md5", kSshMacMd5}};
    for (const Algorithm& kex : kexes) {
        for (const Algorithm& hostKey : hostKeys) {
            for (const Algorithm& cipher : ciphers) {
                for (const Algorithm& mac : macs) {
                    SCOPED_TRACE(std::string(kex.name) + " " + hostKey.name + " " + cipher.name + " " + mac.name);
                    SshPeer sshd = peers.StartSshd(
                        {std::string("KexAlgorithms ") + kex.name, std::string("HostKeyAlgorithms ") + hostKey.name,
                         std::string("Ciphers ") + cipher.name, std::string("MACs ") + mac.name});
                    SshTestSession session;
                    session.transport.kex().preferRsa = hostKey.id == kSshHostKeyRsa;
                    ASSERT_TRUE(session.Connect(sshd.port, true) && session.RequestUserauth()) << session.failure;
                    const SshKeyExchange& k = session.transport.kex();
                    EXPECT_EQ(k.kexAlg, kex.id);
                    EXPECT_EQ(k.hostKeyAlg, hostKey.id);
                    EXPECT_EQ(session.transport.outgoing().cipherId, cipher.id);
                    EXPECT_EQ(session.transport.incoming().cipherId, cipher.id);
                    EXPECT_EQ(session.transport.outgoing().macId, mac.id);
                    EXPECT_EQ(session.transport.incoming().macId, mac.id);
                    const std::string keyFile =
                        sshd.folder + (hostKey.id == kSshHostKeyRsa ? "/host_rsa.pub" : "/host_dsa.pub");
                    const std::string expected = KeygenFingerprint(keyFile, hostKey.name);
                    EXPECT_EQ(std::string(session.transport.hostKeyFingerprint().getString()), expected);
                    peers.Stop(sshd.port);
                }
            }
        }
    }
}

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

} // namespace
} // namespace grvtest
