// The TCP socket against loopback servers: every connect route, refusals
// and time-outs, idle time-outs and peer closes, bulk reads, throttling,
// aborts, and sockets opened from several threads at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/core/Progress.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/TessikSocket.h"
#include "platform/Winsock.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace tessik;
using grvtest::ScriptPeer;
using Clock = std::chrono::steady_clock;

// How long a test waits for a script peer's first bytes: long enough for a
// python start on a loaded machine.
constexpr unsigned int kPeerWaitMs = 20000;

std::string logText(Logger& log) {
    StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

std::string bytesOf(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

// Answers each connection with the address it came from, then closes.
constexpr const char* kTellPeerAddress = R"PY(
s = listen(args[0])
for i in range(int(args[1])):
    c, a = s.accept()
    c.sendall(a[0].encode())
    c.close()
)PY";

// Aborts at the first heartbeat, or once a percentage is reached.
class AbortingSink : public ProgressEvent {
public:
    explicit AbortingSink(int atPercent) : m_atPercent(atPercent) {}
    void HeartbeatCheck(unsigned int, bool* abort) override { *abort = m_atPercent == 0; }
    void AbortCheck(bool* abort) override { *abort = m_atPercent == 0; }
    void PercentDone(int percent, bool* abort) override { *abort = m_atPercent != 0 && percent >= m_atPercent; }

private:
    int m_atPercent;
};

TEST(TcpSocket, ConnectsByEveryRouteAndTheServerSeesTheSource) {
    platform::SetResolverHook(
        [](const std::string& host) { return host == "peer.test" ? std::string("127.0.0.1") : host; });
    struct Case {
        const char* listenOn;
        const char* host;
        const char* bindIp;
        bool threaded;
        const char* seen;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1", "", false, "127.0.0.1"},
        {"127.0.0.1", " LOCALHOST ", "", false, "127.0.0.1"},
        {"127.0.0.1", "http://127.0.0.1/", "", false, "127.0.0.1"},
        {"127.0.0.1", "peer.test", "", false, "127.0.0.1"},
        {"127.0.0.1", "peer.test", "", true, "127.0.0.1"},
        {"127.0.0.1", "127.0.0.1", "", true, "127.0.0.1"},
        {"127.0.0.1", "127.0.0.1", "127.0.0.2", false, "127.0.0.2"},
        {"::1", "::1", "", false, "::1"},
    };
    ScriptPeer peer4(kTellPeerAddress, {"127.0.0.1", "7"});
    ScriptPeer peer6(kTellPeerAddress, {"::1", "1"});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + (c.threaded ? " threaded" : ""));
        int port = std::string(c.listenOn) == "::1" ? peer6.port : peer4.port;
        TessikSocket socket;
        socket.setBindIp(c.bindIp);
        Logger log;
        AsyncProgressEvent sink;
        ProgressMonitor pm(&sink, 0);
        bool dnsFailed = false;
        ASSERT_TRUE(
            socket.connectSocket(c.host, port, c.threaded ? 50 : 0, log, &dnsFailed, c.threaded ? &pm : nullptr))
            << logText(log);
        EXPECT_TRUE(socket.isConnected());
        EXPECT_EQ(socket.getFailureReason(), 0);
        DataBuffer seen;
        bool closed = false;
        socket.receiveUntilClosed(seen, log, nullptr, &closed);
        EXPECT_TRUE(closed);
        EXPECT_EQ(bytesOf(seen), c.seen);
        EXPECT_FALSE(socket.isConnected());
    }
    platform::SetResolverHook({});
    peer4.Finish();
    peer6.Finish();
}

TEST(TcpSocket, RefusalsAndBadNamesFailWithTheirReasons) {
    platform::SetResolverHook([](const std::string&) { return std::string(); });
    struct Case {
        const char* host;
        const char* bindIp;
        int reason;
        const char* text;
    };
    const grvtest::ClosedLoopbackPort closed;
    const int closedPort = closed.port();
    const Case cases[] = {
        {"127.0.0.1", "", kSocketFailConnect, "WSAECONNREFUSED"},
        {"  ", "", kSocketFailNoHost, "Cannot connect, hostname is zero length"},
        {nullptr, "", kSocketFailNoHost, "Cannot connect, hostname is NULL"},
        {"no-such-host.test", "", kSocketFailDns, "Cannot get host by name.."},
        {"127.0.0.1", "192.0.2.77", kSocketFailNoSocket, kMsgBindFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host != nullptr ? c.host : "(null)");
        TessikSocket socket;
        socket.setConnectTimeoutMs(5000);
        socket.setBindIp(c.bindIp);
        Logger log;
        bool dnsFailed = false;
        auto t0 = Clock::now();
        EXPECT_FALSE(socket.connectSocket(c.host, closedPort, 0, log, &dnsFailed, nullptr));
        EXPECT_LT(msSince(t0), 1000) << "a refusal is final; nothing to wait for";
        EXPECT_EQ(socket.getFailureReason(), c.reason);
        EXPECT_NE(logText(log).find(c.text), std::string::npos) << logText(log);
        EXPECT_TRUE(socket.isInvalidSocket());
    }
    platform::SetResolverHook({});
}

TEST(TcpSocket, FullBacklogGivesTheConnectTimeoutAndAbortStopsTheWait) {
    // A listener that never accepts, its queue filled: further SYNs are dropped.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t size = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(f);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int port = ntohs(address.sin_port);

    struct Case {
        unsigned heartbeat;
        int abortAt; // -1: no monitor
        int reason;
        const char* text;
        long long minMs;
    };
    const Case cases[] = {
        {0, -1, kSocketFailConnect, kMsgConnectTimeout, 600},
        {50, 1, kSocketFailConnectTimeout, "timeout waiting for connect to complete;", 600},
        {50, 0, kSocketFailAborted, "socket operation aborted by application callback", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.abortAt);
        AbortingSink sink(c.abortAt);
        ProgressMonitor pm(&sink, 0);
        TessikSocket socket;
        socket.setConnectTimeoutMs(800);
        Logger log;
        bool dnsFailed = false;
        auto t0 = Clock::now();
        EXPECT_FALSE(
            socket.connectSocket("127.0.0.1", port, c.heartbeat, log, &dnsFailed, c.abortAt < 0 ? nullptr : &pm));
        long long ms = msSince(t0);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, 3000);
        EXPECT_EQ(socket.getFailureReason(), c.reason);
        EXPECT_NE(logText(log).find(c.text), std::string::npos) << logText(log);
    }
    for (int f : fillers) {
        ::close(f);
    }
    ::close(listener);
}

TEST(TcpSocket, IdleTimeoutPeerCloseAndBlankLines) {
    ScriptPeer peer(R"PY(
s = listen()
c, a = s.accept()          # silent until the client gives up and closes
c.sendall(b'abc')
recv_all(c)
c, a = s.accept()          # a short answer, then the end
c.sendall(b'abc')
c.close()
c, a = s.accept()          # a head ending in a blank line, and more
c.sendall(b'a\r\n\r\nrest')
recv_all(c)
)PY");
    Logger log;
    SocketFlags flags;
    unsigned got = 0;
    unsigned char buf[16];
    {
        TessikSocket socket;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        socket.setReadTimeoutMs(300);
        EXPECT_TRUE(socket.readN(buf, 3, 0, log, nullptr, &got, flags));
        auto t0 = Clock::now();
        EXPECT_FALSE(socket.readN(buf, 1, 0, log, nullptr, &got, flags));
        EXPECT_GE(msSince(t0), 250);
        EXPECT_TRUE(flags.timedOut);
        EXPECT_FALSE(flags.closedByPeer);
        EXPECT_TRUE(socket.isConnected());
        EXPECT_NE(logText(log).find(kMsgReadTimeout), std::string::npos);
    }
    {
        TessikSocket socket;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        EXPECT_FALSE(socket.readN(buf, 10, 0, log, nullptr, &got, flags));
        EXPECT_EQ(got, 3u);
        EXPECT_TRUE(flags.closedByPeer);
        EXPECT_FALSE(flags.timedOut);
        EXPECT_TRUE(socket.isInvalidSocket());
        EXPECT_NE(logText(log).find(kMsgClosedByServer), std::string::npos);
    }
    {
        TessikSocket socket;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        DataBuffer head;
        EXPECT_TRUE(socket.receiveUntilBlankLine(head, 0, log, nullptr));
        EXPECT_EQ(bytesOf(head), "a\r\n\r\n");
    }
    peer.Finish();
}

// A receive that waits by itself (no heartbeat: the socket's receive
// time-out) and one that waits in heartbeat slices both give up after the
// idle time-out, keep the connection, and take what comes after.
TEST(TcpSocket, ReceiveTimesOutAndThenTakesWhatComes) {
    ScriptPeer peer(R"PY(
s = listen()
for _ in range(2):
    c, a = s.accept()
    c.recv(1)                  # silent until the client says "go"
    c.sendall(b'abc')
    recv_all(c)
)PY");
    for (unsigned heartbeat : {0u, 100u}) {
        SCOPED_TRACE("heartbeat " + std::to_string(heartbeat));
        Logger log;
        TessikSocket socket;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        socket.setReadTimeoutMs(300);
        unsigned char buf[16];
        unsigned len = sizeof buf;
        SocketFlags flags;
        auto t0 = Clock::now();
        EXPECT_FALSE(socket.receiveBytes(buf, &len, heartbeat, log, nullptr, flags));
        EXPECT_GE(msSince(t0), 250);
        EXPECT_EQ(len, 0u);
        EXPECT_TRUE(flags.timedOut);
        EXPECT_FALSE(flags.socketError);
        EXPECT_TRUE(socket.isConnected());
        EXPECT_NE(logText(log).find(kMsgReadTimeout), std::string::npos) << logText(log);
        ASSERT_TRUE(socket.sendBytes(reinterpret_cast<const unsigned char*>("g"), 1, 0, 0, log, nullptr));
        std::string got;
        while (got.size() < 3) {
            len = sizeof buf;
            ASSERT_TRUE(socket.receiveBytes(buf, &len, heartbeat, log, nullptr, flags)) << logText(log);
            got.append(reinterpret_cast<const char*>(buf), len);
        }
        EXPECT_EQ(got, "abc");
    }
}

TEST(TcpSocket, BulkReadsAreByteExact) {
    grvtest::TempDir dir;
    const grvtest::Bytes data = grvtest::RandomBytes(5 * 1024 * 1024, 47);
    const std::string file = dir.File("five.bin");
    ASSERT_TRUE(grvtest::WriteFile(file, data));
    const std::string expected(data.begin(), data.end());
    ScriptPeer peer(R"PY(
s = listen()
body = open(args[0], 'rb').read()
for i in range(4):
    c, a = s.accept()
    c.sendall(body)
    c.close()
)PY",
                    {file});
    enum Way { kToOutput, kToOutput64, kUntilClosed, kToDataBuffer };
    for (Way way : {kToOutput, kToOutput64, kUntilClosed, kToDataBuffer}) {
        SCOPED_TRACE(way);
        TessikSocket socket;
        Logger log;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        DataBuffer got;
        OutputDataBuffer out(&got);
        SocketFlags flags;
        bool closed = false;
        bool ok = false;
        switch (way) {
        case kToOutput: ok = socket.readNToOutput(data.size(), out, 0, log, nullptr, nullptr, flags); break;
        case kToOutput64: ok = socket.readN64ToOutput(data.size(), out, 0, log, nullptr, nullptr, flags); break;
        case kUntilClosed:
            ok = socket.receiveUntilClosedToOutput(65536, 0, nullptr, nullptr, out, log, nullptr, &closed);
            EXPECT_TRUE(closed);
            break;
        case kToDataBuffer: {
            SocketReadParams params;
            ok = socket.readNToDataBuffer(data.size(), got, params, log);
            break;
        }
        }
        EXPECT_TRUE(ok) << logText(log);
        EXPECT_TRUE(bytesOf(got) == expected) << got.getSize() << " bytes";
    }
    peer.Finish();
}

TEST(TcpSocket, SendThrottleHoldsTenKilobytesPerSecond) {
    grvtest::TempDir dir;
    const std::string file = dir.File("got.bin");
    ScriptPeer peer(grvtest::kScriptSaveUpload, {file});
    const grvtest::Bytes data = grvtest::RandomBytes(30000, 10);
    TessikSocket socket;
    Logger log;
    ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
    socket.sendThrottle().setLimit(10000);
    // The throttle measures from the socket's start and lets a first burst
    // through until kMinElapsedMs have passed.
    std::this_thread::sleep_for(std::chrono::milliseconds(BandwidthThrottle::kMinElapsedMs + 50));
    auto t0 = Clock::now();
    ASSERT_TRUE(socket.sendBytes(data.data(), data.size(), 1000, 0, log, nullptr)) << logText(log);
    long long ms = msSince(t0);
    socket.closeSocket();
    peer.Finish();
    // 30000 bytes at 10000 per second: three seconds from the start.
    EXPECT_GE(ms, 2400);
    EXPECT_LE(ms, 3600);
    EXPECT_TRUE(grvtest::ReadBytes(file) == data);
}

TEST(TcpSocket, SendsDuplexAndAbortsThroughTheProgressEvent) {
    grvtest::TempDir dir;
    const std::string file = dir.File("got.bin");
    ScriptPeer peer(R"PY(
s = listen()
for i in range(2):
    c, a = s.accept()
    c.sendall(b'greeting')
    data = recv_all(c)
    open(args[0] + str(i), 'wb').write(data)
)PY",
                    {file});
    const grvtest::Bytes data = grvtest::RandomBytes(20 * 1024 * 1024, 11);
    Logger log;
    {
        TessikSocket socket;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        // The greeting must be there before the send starts, however slow the
        // peer is to write it on a loaded machine.
        bool closed = false;
        ASSERT_TRUE(socket.waitForData(kPeerWaitMs, false, nullptr, &closed, log)) << logText(log);
        DataBuffer received;
        EXPECT_TRUE(socket.sendBytesDuplex(data.data(), 300000, 800, 20, 32768, 0, log, nullptr, received));
        EXPECT_EQ(bytesOf(received), "greeting");
    }
    {
        AbortingSink sink(5);
        ProgressMonitor pm(&sink, data.size());
        TessikSocket socket;
        ASSERT_TRUE(socket.connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
        // Unread input would turn the close into a reset.
        bool closed = false;
        ASSERT_TRUE(socket.waitForData(kPeerWaitMs, false, nullptr, &closed, log)) << logText(log);
        unsigned char greeting[8];
        unsigned got = 0;
        SocketFlags flags;
        ASSERT_TRUE(socket.readN(greeting, sizeof greeting, 0, log, nullptr, &got, flags));
        EXPECT_FALSE(socket.sendBytes(data.data(), data.size(), 65536, 0, log, &pm));
        EXPECT_NE(logText(log).find(kMsgSendAborted), std::string::npos);
        EXPECT_EQ(socket.sendBytes(data.data(), 0, 0, 0, log, nullptr), true) << "nothing to send succeeds";
    }
    peer.Finish();
    const grvtest::Bytes first = grvtest::ReadBytes(file + "0");
    const grvtest::Bytes second = grvtest::ReadBytes(file + "1");
    EXPECT_TRUE(first == grvtest::Bytes(data.begin(), data.begin() + 300000));
    EXPECT_GT(second.size(), 0u);
    EXPECT_LT(second.size(), data.size() / 10);
}

TEST(TcpSocket, SocketsOpenedFromSeveralThreadsGetTheirOwnSerials) {
    constexpr int kThreads = 8;
    constexpr int kEach = 5;
    ScriptPeer peer(kTellPeerAddress, {"127.0.0.1", std::to_string(kThreads * kEach)});
    std::vector<std::thread> threads;
    std::vector<std::vector<std::uint32_t>> serials(kThreads);
    std::atomic<int> connected{0};
    platform::SetResolverHook(
        [](const std::string& host) { return host == "peer.test" ? std::string("127.0.0.1") : host; });
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                TessikSocket socket;
                Logger log;
                AsyncProgressEvent sink;
                ProgressMonitor pm(&sink, 0);
                serials[t].push_back(socket.getSerial());
                // Odd threads resolve the name on a worker, even ones on their own thread.
                bool threaded = t % 2 == 1;
                if (socket.connectSocket("peer.test", peer.port, threaded ? 50 : 0, log, nullptr,
                                         threaded ? &pm : nullptr)) {
                    DataBuffer seen;
                    bool closed = false;
                    socket.receiveUntilClosed(seen, log, nullptr, &closed);
                    connected += bytesOf(seen) == "127.0.0.1" ? 1 : 0;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    platform::SetResolverHook({});
    peer.Finish();
    std::set<std::uint32_t> all;
    for (const auto& s : serials) {
        all.insert(s.begin(), s.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(connected.load(), kThreads * kEach);
}

// A client that leaves before its request head is whole ends a script that
// waits for the head, rather than leaving it spinning on the closed socket
// until its time-out while the test waits for it.
TEST(ScriptPeer, AClientGoneBeforeItsHeadEndsTheScript) {
    ScriptPeer peer(grvtest::kScriptIgnoresRange, {"body"});
    ASSERT_TRUE(grvtest::LoopbackAccepts(peer.port)); // connects and closes at once
    EXPECT_EQ(peer.Finish().substr(0, 2), "-\n");
}

} // namespace
