// Key exchange against paramiko: group exchange with SHA-1 and SHA-256, zlib
// both ways and a payload that inflates past the cap. (sshd's fixed groups
// are in SshChannelPeerTest.cpp, with the other sshd tests.)
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
