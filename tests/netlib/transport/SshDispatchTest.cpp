// The read loop and the channel operations against a scripted server on a
// loopback socket that writes clear packets and reads what the client sends:
// return conditions, the queue, housekeeping answers, window upkeep and
// chunking by the server's window.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"
#include "netlib/transport/SshTransport.h"

namespace grvtest {
namespace {

using namespace tessik;

// The server end: packets out through a clear writer, packets in through a
// clear reader.
class ScriptedServer {
public:
    ScriptedServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~ScriptedServer() {
        if (m_conn >= 0)
            ::close(m_conn);
        ::close(m_listener);
    }
    bool Accept(SshTransport& t, LogBase& log) {
        bool dnsFailed = false;
        if (!t.getSocket().connectSocket("127.0.0.1", port, 0, log, &dnsFailed, nullptr))
            return false;
        m_conn = ::accept(m_listener, nullptr, nullptr);
        timeval tv{5, 0};
        ::setsockopt(m_conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        t.getSocket().setReadTimeoutMs(3000);
        return m_conn >= 0;
    }
    void Send(const std::string& payload) {
        DataBuffer p, wire;
        p.append(payload.data(), static_cast<unsigned int>(payload.size()));
        LogNull log;
        m_writer.seal(p, wire, nullptr, log, false);
        ::send(m_conn, wire.getData(), wire.getSize(), 0);
    }
    // The next payload the client sent, "" when none came.
    std::string Receive() {
        LogNull log;
        unsigned char byte;
        while (::recv(m_conn, &byte, 1, 0) == 1) {
            unsigned int consumed = 0;
            if (m_reader.feed(&byte, 1, consumed, log, false) == SshPacketReader::Step::kPacket)
                return std::string(reinterpret_cast<const char*>(m_reader.payload().getData()),
                                   m_reader.payload().getSize());
        }
        return {};
    }
    int port = 0;

private:
    int m_listener = -1;
    int m_conn = -1;
    SshPacketWriter m_writer;
    SshPacketReader m_reader;
};

std::string U32(std::uint32_t v) {
    DataBuffer d;
    sshAppendUint32(d, v);
    return std::string(reinterpret_cast<const char*>(d.getData()), 4);
}
std::string S(const std::string& s) {
    return U32(static_cast<std::uint32_t>(s.size())) + s;
}
std::string B(int b) {
    return std::string(1, static_cast<char>(b));
}
std::string Data(std::uint32_t channel, const std::string& d) {
    return B(kSshMsgChannelData) + U32(channel) + S(d);
}
std::string Extended(std::uint32_t channel, const std::string& d) {
    return B(kSshMsgChannelExtendedData) + U32(channel) + U32(1) + S(d);
}
std::string Str(const DataBuffer& d) {
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

struct Fixture {
    ScriptedServer server;
    SshTransport transport;
    Logger log;
    SshChannel channel;
    Fixture() {
        channel.clientChannelNum = 3;
        channel.serverChannelNum = 70;
        channel.initialWindow = channel.localWindow = 65536;
        channel.serverWindow = 1 << 20;
        transport.transcript().enable(0, true);
    }
    bool Read(int condition, DataBuffer& out, SshReadOutcome& outcome, bool withChannel = true) {
        return transport.readUntilCondition(condition, 3000, 0, withChannel ? &channel : nullptr, out, outcome, nullptr,
                                            log, false);
    }
    std::string LogText() {
        StringBuffer text;
        log.getLogText(text);
        return text.getString();
    }
};

TEST(SshReadLoop, ConditionsQueueAndHousekeeping) {
    Fixture f;
    ASSERT_TRUE(f.server.Accept(f.transport, f.log));
    // Data of another channel, a debug message, a global request that wants a
    // reply, then data of ours.
    f.server.Send(Data(9, "other"));
    f.server.Send(B(kSshMsgDebug) + B(0) + S("note") + S(""));
    f.server.Send(B(kSshMsgGlobalRequest) + S("hostkeys-00@openssh.com") + B(1));
    f.server.Send(Data(3, "ours"));
    DataBuffer out;
    SshReadOutcome o;
    ASSERT_TRUE(f.Read(kSshUntilChannelData, out, o));
    EXPECT_TRUE(o.conditionMet);
    EXPECT_EQ(Str(out), Data(3, "ours"));
    EXPECT_EQ(f.transport.queuedCount(), 1);
    EXPECT_EQ(f.server.Receive(), B(kSshMsgRequestFailure));

    // Condition 99: a message of another channel is both queued and returned.
    f.server.Send(Data(9, "again"));
    ASSERT_TRUE(f.Read(kSshUntilAnyMessage, out, o));
    EXPECT_EQ(Str(out), Data(9, "again"));
    EXPECT_EQ(f.transport.queuedCount(), 2);

    // An unlisted message ends the read with success and no condition met.
    f.server.Send(B(250) + "x");
    ASSERT_TRUE(f.Read(kSshUntilChannelData, out, o));
    EXPECT_FALSE(o.conditionMet);
    EXPECT_NE(f.LogText().find("Unknown(250)"), std::string::npos);

    // exit-status is kept in the channel; a keep-alive that wants a reply is
    // answered with IGNORE and CHANNEL_FAILURE naming the server's number.
    f.server.Send(B(kSshMsgChannelRequest) + U32(3) + S("exit-status") + B(0) + U32(42));
    f.server.Send(B(kSshMsgChannelRequest) + U32(3) + S("keepalive@openssh.com") + B(1));
    f.server.Send(B(kSshMsgChannelRequest) + U32(3) + S("keepalive@openssh.com") + B(0));
    f.server.Send(B(kSshMsgChannelEof) + U32(3));
    ASSERT_TRUE(f.Read(kSshUntilChannelData, out, o));
    EXPECT_TRUE(o.eof && f.channel.eofReceived);
    EXPECT_TRUE(f.channel.exitStatusReceived);
    EXPECT_EQ(f.channel.exitStatus, 42u);
    EXPECT_EQ(f.server.Receive(), B(kSshMsgIgnore) + S(""));
    EXPECT_EQ(f.server.Receive(), B(kSshMsgChannelFailure) + U32(70));

    // A CLOSE is answered once, here by the read loop; a DISCONNECT ends it
    // all and closes the socket.
    f.server.Send(B(kSshMsgChannelClose) + U32(3));
    ASSERT_TRUE(f.Read(kSshUntilChannelData, out, o));
    EXPECT_TRUE(o.close && f.channel.closeSent);
    EXPECT_EQ(f.server.Receive(), B(kSshMsgChannelClose) + U32(70));
    f.server.Send(B(kSshMsgDisconnect) + U32(11) + S("bye") + S("en"));
    EXPECT_FALSE(f.Read(kSshUntilChannelData, out, o));
    EXPECT_TRUE(o.disconnect && o.status.closedByPeer);
    EXPECT_EQ(std::string(f.transport.lastDisconnectText().getString()), "bye");
    EXPECT_FALSE(f.transport.getSocket().isConnected());
}

TEST(SshReadLoop, QueuedMessagesAreTakenFirst) {
    Fixture f;
    ASSERT_TRUE(f.server.Accept(f.transport, f.log));
    // Parked while the client reads without a channel.
    f.server.Send(Extended(3, "err"));
    f.server.Send(Data(3, "out"));
    f.server.Send(B(kSshMsgChannelClose) + U32(3));
    f.server.Send(B(kSshMsgServiceAccept) + S("ssh-userauth"));
    DataBuffer out;
    SshReadOutcome o;
    ASSERT_TRUE(f.Read(kSshUntilServiceAccept, out, o, false));
    EXPECT_EQ(o.msgType, kSshMsgServiceAccept);
    EXPECT_EQ(f.transport.queuedCount(), 3);
    EXPECT_TRUE(f.transport.hasQueuedChannelData(3));

    // skipExtended leaves the extended data queued, the data is returned.
    DataBuffer data, extended;
    ASSERT_TRUE(f.transport.readChannelData(f.channel, 0, true, false, true, 1000, data, extended, o, nullptr, f.log,
                                            false, kSshCalledFromTunnel, false));
    EXPECT_EQ(Str(data), "out");
    EXPECT_EQ(Str(extended), "");
    // Then the extended data; the walk answers the CLOSE it passes on the way.
    ASSERT_TRUE(f.transport.readChannelData(f.channel, 0, true, false, false, 1000, data, extended, o, nullptr, f.log,
                                            false, kSshCalledFromTunnel, false));
    EXPECT_EQ(Str(extended), "err");
    bool eof = false, close = false;
    EXPECT_TRUE(
        f.transport.takeQueuedChannelData(f.channel, false, false, data, extended, eof, close, nullptr, f.log, false));
    EXPECT_TRUE(close && f.channel.closeReceived && f.channel.closeSent);
    EXPECT_EQ(f.server.Receive(), B(kSshMsgChannelClose) + U32(70));
    EXPECT_EQ(f.transport.queuedCount(), 0);
    // Closing a channel the server closed sends nothing more.
    bool disconnected = false;
    EXPECT_TRUE(f.transport.closeChannel(f.channel, disconnected, nullptr, f.log, false));
    DataBuffer marker;
    marker.appendStr("marker");
    ASSERT_TRUE(f.transport.sendIgnore(marker, nullptr, f.log, false));
    EXPECT_EQ(f.server.Receive(), B(kSshMsgIgnore) + S("marker"));
}

TEST(SshChannelWindows, LocalWindowUpkeep) {
    struct Case {
        std::uint32_t window, read, after;
        std::string adjust; // what the client sends, "" for nothing
    } cases[] = {
        {40000, 7233, 65536, B(kSshMsgChannelWindowAdjust) + U32(70) + U32(32769)},
        {40000, 7231, 32769, ""},
    };
    for (const Case& c : cases) {
        Fixture f;
        ASSERT_TRUE(f.server.Accept(f.transport, f.log));
        f.channel.localWindow = c.window;
        f.server.Send(Data(3, std::string(c.read, 'd')));
        f.server.Send(B(kSshMsgIgnore) + S("end"));
        DataBuffer data, extended;
        SshReadOutcome o;
        ASSERT_TRUE(f.transport.readChannelData(f.channel, 0, false, false, false, 1000, data, extended, o, nullptr,
                                                f.log, false, kSshCalledFromTunnel, false));
        EXPECT_EQ(f.channel.localWindow, c.after) << c.read;
        // The adjust, if any, comes before a marker the client sends now.
        DataBuffer marker;
        marker.appendStr("marker");
        ASSERT_TRUE(f.transport.sendIgnore(marker, nullptr, f.log, false));
        const std::string first = f.server.Receive();
        EXPECT_EQ(first, c.adjust.empty() ? B(kSshMsgIgnore) + S("marker") : c.adjust) << c.read;
    }
}

TEST(SshChannelWindows, SendingFollowsPacketSizeAndServerWindow) {
    Fixture f;
    ASSERT_TRUE(f.server.Accept(f.transport, f.log));
    DataBuffer data;
    data.appendCharRepeated('s', 10000);
    ASSERT_TRUE(f.transport.sendChannelData(f.channel, data, 100, nullptr, f.log, false));
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 11; ++i)
        sizes.push_back(f.server.Receive().size() - 9);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{960, 960, 960, 960, 960, 960, 960, 960, 960, 960, 400}));

    // A window of 500 sends 500, then waits for WINDOW_ADJUST.
    f.channel.serverWindow = 500;
    f.server.Send(B(kSshMsgChannelWindowAdjust) + U32(3) + U32(600));
    DataBuffer thousand;
    thousand.appendCharRepeated('t', 1000);
    ASSERT_TRUE(f.transport.sendChannelData(f.channel, thousand, 32768, nullptr, f.log, false));
    EXPECT_EQ(f.server.Receive().size() - 9, 500u);
    EXPECT_EQ(f.server.Receive().size() - 9, 500u);
    EXPECT_EQ(f.channel.serverWindow, 100u);
}

} // namespace
} // namespace grvtest
