// SOCKS 4 and 5 through microsocks and dante to nginx, the messages byte by
// byte, replies no real proxy sends (from a scripted one), and the traffic
// log of the logging socket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/ClsSocksClient.h"
#include "netlib/transport/LoggedSocket2.h"
#include "netlib/transport/TessikSocket.h"
#include "netlib/transport/WinsockLoader.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace tessik;
using grvtest::ScriptPeer;

constexpr unsigned kTimeoutMs = 5000;

std::string logText(Logger& log) {
    StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

std::string bytesOf(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

TEST(SocksMessages, FieldsLongerThanAByteAreRefusedNotCut) {
    const std::string longName(256, 'n');
    const std::string fits(255, 'n');
    DataBuffer db;
    EXPECT_FALSE(buildSocks5PasswordRequest(StringBuffer(longName.c_str()), StringBuffer("pw"), db));
    EXPECT_FALSE(buildSocks5PasswordRequest(StringBuffer("user"), StringBuffer(longName.c_str()), db));
    EXPECT_EQ(db.getSize(), 0u);
    EXPECT_FALSE(buildSocks5ConnectRequest(longName.c_str(), nullptr, 80, db));
    ASSERT_TRUE(buildSocks5ConnectRequest(fits.c_str(), nullptr, 80, db));
    EXPECT_EQ(db.getSize(), 4u + 1u + 255u + 2u);

    // Refused before a byte reaches the proxy: nothing listens there.
    ClsSocksClient settings;
    settings.setSocksHostname("127.0.0.1");
    const grvtest::ClosedLoopbackPort nothingListens;
    settings.setSocksPort(nothingListens.port());
    settings.setSocksUsername(longName.c_str());
    settings.setSocksPassword("pw");
    TessikSocket socket;
    Logger log;
    int reason = -1;
    EXPECT_FALSE(
        socket.socks5Connect("127.0.0.1", 80, nullptr, 0, kTimeoutMs, log, nullptr, nullptr, &reason, settings));
    EXPECT_NE(logText(log).find(kMsgSocks5FieldTooLong), std::string::npos);
    EXPECT_EQ(reason, -1) << "no connect was tried";
    EXPECT_FALSE(
        socket.socks5Connect(longName.c_str(), 80, nullptr, 0, kTimeoutMs, log, nullptr, nullptr, &reason, settings));
    EXPECT_NE(logText(log).find(kMsgSocks5TargetTooLong), std::string::npos);
}

// A proxy that records each request as hex and answers as its mode says:
// SOCKS4 modes begin "4", the others speak SOCKS5.
constexpr const char* kScriptedProxy = R"PY(
s = listen()
for mode in args:
    c, a = s.accept()
    if mode.startswith('4'):
        got = recv_exact(c, 8)
        while not got.endswith(b'\0'):
            got += recv_exact(c, 1)
        if mode == '4deny':
            c.sendall(bytes([0, 0x5b, 0, 0, 0, 0, 0, 0]))
        elif mode == '4version5':
            c.sendall(bytes([5, 0x5a, 0, 0, 0, 0, 0, 0]))
    else:
        got = recv_exact(c, 2)
        got += recv_exact(c, got[1])
        if mode == 'method4':
            c.sendall(b'\x04\x00')
        else:
            c.sendall(b'\x05\x00')
            head = recv_exact(c, 4)
            got += head
            if head[3] == 1:
                got += recv_exact(c, 4)
            elif head[3] == 4:
                got += recv_exact(c, 16)
            else:
                n = recv_exact(c, 1)
                got += n + recv_exact(c, n[0])
            got += recv_exact(c, 2)
            if mode == 'ipv6':
                c.sendall(b'\x05\x00\x00\x04' + bytes(15) + b'\x01\x1f\x90' + b'after')
            elif mode == 'connect4':
                c.sendall(b'\x04\x00\x00\x01' + bytes(6))
            else:
                c.sendall(b'\x05\x00\x00\x03\x0dproxy.example\x1f\x90' + b'after')
    print(got.hex(), flush=True)
    # Holds on until the client lets go, so a socket left open shows.
    c.settimeout(10)
    try:
        while c.recv(1):
            pass
    except OSError:
        pass
    c.close()
)PY";

TEST(SocksClient, ScriptedProxyRepliesAndWhatGoesOut) {
    struct Case {
        const char* mode;
        int version;
        const char* target;
        unsigned timeoutMs;
        const char* message; // null: the connect succeeds and "after" follows
        const char* sent;    // what the proxy received, in hex
    };
    const Case cases[] = {
        {"ipv6", 5, "10.0.0.1", kTimeoutMs, nullptr, "050100050100010a0000011f90"},
        {"name", 5, "named.example", kTimeoutMs, nullptr, "050100050100030d6e616d65642e6578616d706c651f90"},
        // An IPv6 literal goes as an address (RFC 1928 ATYP 4), its zone left here.
        {"ipv6", 5, "::1", kTimeoutMs, nullptr, "05010005010004000000000000000000000000000000011f90"},
        {"ipv6", 5, "fe80::1%lo", kTimeoutMs, nullptr, "05010005010004fe8000000000000000000000000000011f90"},
        {"method4", 5, "10.0.0.1", kTimeoutMs, kMsgSocks5BadVersion, "050100"},
        {"connect4", 5, "10.0.0.1", kTimeoutMs, kMsgSocks5BadVersion, "050100050100010a0000011f90"},
        {"4deny", 4, "127.0.0.1", kTimeoutMs, kMsgSocks4Denied, "040100507f0000016772767573657200"},
        {"4version5", 4, "127.0.0.1", kTimeoutMs, kMsgSocks4BadVersion, "040100507f0000016772767573657200"},
        {"4silent", 4, "127.0.0.1", 500, kMsgReadTimeout, "040100507f0000016772767573657200"},
    };
    std::vector<std::string> modes;
    for (const Case& c : cases)
        modes.push_back(c.mode);
    ScriptPeer proxy(kScriptedProxy, modes);
    ClsSocksClient settings;
    settings.setSocksHostname("127.0.0.1");
    settings.setSocksPort(proxy.port);
    settings.setSocksUsername("grvuser"); // no password: no authentication offered
    std::string sent;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Logger log;
        int reason = 0;
        TessikSocket socket;
        const bool ok = c.version == 4 ? socket.socks4Connect(c.target, 80, nullptr, 0, c.timeoutMs, log, nullptr,
                                                              nullptr, &reason, settings)
                                       : socket.socks5Connect(c.target, 8080, nullptr, 0, c.timeoutMs, log, nullptr,
                                                              nullptr, &reason, settings);
        EXPECT_EQ(ok, c.message == nullptr) << logText(log);
        if (c.message != nullptr) {
            EXPECT_NE(logText(log).find(c.message), std::string::npos) << logText(log);
            EXPECT_TRUE(socket.isInvalidSocket()) << "a failed handshake leaves no socket to the proxy";
        } else {
            unsigned char after[5];
            unsigned got = 0;
            SocketFlags flags;
            ASSERT_TRUE(socket.readN(after, sizeof after, 0, log, nullptr, &got, flags));
            EXPECT_EQ(std::string(reinterpret_cast<char*>(after), got), "after") << "the bound address was read whole";
        }
        sent += std::string(c.sent) + "\n";
    }
    EXPECT_EQ(proxy.Finish(), sent);
}

class SocksPeers : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        nginx = peers.StartNginx();
        grvtest::RunResult page =
            grvtest::RunPeer({"curl", "-s", "http://127.0.0.1:" + std::to_string(nginx.httpPort) + "/"});
        ASSERT_TRUE(page.Ok());
        expectedBody = page.out;
    }

    // GET / on nginx through the proxy; the whole response.
    std::string Get(int version, int proxyPort, const std::string& user, const std::string& password, Logger& log,
                    LoggedSocket2& ls) {
        ClsSocksClient settings;
        settings.setSocksHostname("127.0.0.1");
        settings.setSocksPort(proxyPort);
        settings.setSocksVersion(version);
        settings.setSocksUsername(user.c_str());
        settings.setSocksPassword(password.c_str());
        int reason = 0;
        bool dnsFailed = false;
        bool ok = version == 4 ? ls.socket().socks4Connect("127.0.0.1", nginx.httpPort, nullptr, 0, kTimeoutMs, log,
                                                           &dnsFailed, nullptr, &reason, settings)
                               : ls.socket().socks5Connect("127.0.0.1", nginx.httpPort, nullptr, 0, kTimeoutMs, log,
                                                           &dnsFailed, nullptr, &reason, settings);
        if (!ok) {
            return "connect failed";
        }
        ls.sendBytesSb(StringBuffer("GET / HTTP/1.0\r\n"), 0, 0, log, nullptr);
        ls.sendBytesSb(StringBuffer("Host: 127.0.0.1\r\n\r\n"), 0, 0, log, nullptr);
        ls.sendBytes(nullptr, 0, 0, 0, log, nullptr); // no bytes, and the same direction: no header
        DataBuffer response;
        OutputDataBuffer out(&response);
        bool closed = false;
        ls.receiveUntilClosed(4096, 0, nullptr, nullptr, out, log, &closed);
        return bytesOf(response);
    }

    struct ProxyCase {
        const char* name;
        int version;
        int port;
        std::string user;
        std::string password;
    };

    // Each case fetches the page; the username method is chosen only with a password.
    void GetThroughEach(const std::vector<ProxyCase>& cases) {
        for (const ProxyCase& c : cases) {
            SCOPED_TRACE(c.name);
            Logger log;
            LoggedSocket2 ls;
            std::string response = Get(c.version, c.port, c.user, c.password, log, ls);
            EXPECT_EQ(response.substr(0, 9), "HTTP/1.1 ") << logText(log);
            EXPECT_EQ(Body(response), expectedBody);
            const bool asked = logText(log).find("selected username/password") != std::string::npos;
            EXPECT_EQ(asked, !c.password.empty());
        }
    }

    static std::string Body(const std::string& response) {
        std::size_t end = response.find("\r\n\r\n");
        return end == std::string::npos ? response : response.substr(end + 4);
    }

    grvtest::NginxPeer nginx;
    std::string expectedBody;
};

TEST_F(SocksPeers, GetThroughEveryProxyReturnsThePage) {
    const int microsocks = peers.StartMicrosocks();
    const int microsocksOpen = peers.StartMicrosocks(false);
    GetThroughEach({
        {"microsocks with credentials", 5, microsocks, grvtest::kPeerUser, grvtest::kPeerPassword},
        {"microsocks without", 5, microsocksOpen, "", ""},
    });
}

// A peer of its own: a release without dante leaves this test out.
TEST_F(SocksPeers, GetThroughDanteReturnsThePage) {
    const int dante = peers.StartDante();
    GetThroughEach({
        {"dante SOCKS4", 4, dante, "", ""},
        {"dante SOCKS5 username", 5, dante, peers.DanteUser(), grvtest::kPeerPassword},
        {"dante SOCKS5 without", 5, dante, "", ""},
    });
}

TEST_F(SocksPeers, DanteRefusalsGiveTheirCodes) {
    const int dante = peers.StartDante();
    const grvtest::ClosedLoopbackPort closed;
    const int closedPort = closed.port();
    struct Case {
        int version;
        const char* target;
        int port;
        std::string password;
        const char* text;
        const char* code;
    };
    const Case cases[] = {
        {4, "127.0.0.1", closedPort, "", kMsgSocks4Denied, "resultCode: 91"},
        {5, "127.0.0.1", closedPort, "", kMsgSocks5Rejected, "status: 5"},
        {5, "192.0.2.1", 80, "", kMsgSocks5Rejected, "status: 2"},
        {5, "127.0.0.1", 80, "Wrong-Pw-9876", kMsgSocks5PasswordRejected, "username: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ClsSocksClient settings;
        settings.setSocksHostname("127.0.0.1");
        settings.setSocksPort(dante);
        settings.setSocksUsername(c.password.empty() ? "" : peers.DanteUser().c_str());
        settings.setSocksPassword(c.password.c_str());
        TessikSocket socket;
        Logger log;
        int reason = 0;
        bool ok = c.version == 4 ? socket.socks4Connect(c.target, c.port, nullptr, 0, kTimeoutMs, log, nullptr, nullptr,
                                                        &reason, settings)
                                 : socket.socks5Connect(c.target, c.port, nullptr, 0, kTimeoutMs, log, nullptr, nullptr,
                                                        &reason, settings);
        EXPECT_FALSE(ok);
        const std::string text = logText(log);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_NE(text.find(c.code), std::string::npos) << text;
        if (!c.password.empty()) {
            EXPECT_EQ(text.find(c.password), std::string::npos) << "the password stays out of the log";
        }
    }
}

TEST_F(SocksPeers, TrafficLogHasItsLayoutInMemoryAndInTheFile) {
    const int microsocks = peers.StartMicrosocks(false);
    grvtest::TempDir dir;
    const std::string file = dir.File("traffic.log");
    Logger log;
    LoggedSocket2 ls;
    ls.setKeepInMemory(true);
    ls.setLogToFile(true);
    ls.setSessionLogPath(file.c_str());
    const std::string response = Get(5, microsocks, "", "", log, ls);
    ASSERT_EQ(Body(response), expectedBody);
    // The server has closed: this send fails, but its header comes first.
    DataBuffer drained;
    EXPECT_FALSE(ls.sendBytesDuplex(reinterpret_cast<const unsigned char*>("x"), 1, 1, 1, 1, 0, log, nullptr, drained));
    const std::string expected = std::string(kTrafficSendingHeader) + "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" +
                                 kTrafficReceivedHeader + response + kTrafficSendingHeader;
    EXPECT_EQ(bytesOf(ls.memoryLog()), expected);
    EXPECT_EQ(grvtest::ReadFile(file), expected);
}

TEST(LoggedSocket, SendsFromASourceAndFailsWithoutAConnection) {
    const grvtest::Bytes data = grvtest::RandomBytes(100000, 48);
    grvtest::TempDir dir;
    const std::string file = dir.File("got.bin");
    ScriptPeer peer(grvtest::kScriptSaveUpload, {file});
    Logger log;
    LoggedSocket2 ls;
    ls.setKeepInMemory(true);
    MemoryDataSource source;
    source.setData(data.data(), data.size(), false);
    unsigned rate = 0;
    std::uint64_t total = 0;
    DataBuffer last;
    EXPECT_FALSE(ls.SendOnSocketFromSource(source, 100, 0, 0, log, nullptr, nullptr, false, &rate, &total, &last));
    EXPECT_NE(logText(log).find(kMsgSendFromSourceFailed), std::string::npos);
    source.rewind();
    ASSERT_TRUE(ls.socket().connectSocket("127.0.0.1", peer.port, 0, log, nullptr, nullptr));
    ASSERT_TRUE(ls.SendOnSocketFromSource(source, 100, 0, 0, log, nullptr, nullptr, false, &rate, &total, &last));
    EXPECT_EQ(total, data.size());
    EXPECT_EQ(bytesOf(last), std::string(data.end() - 16, data.end()));
    MemoryDataSource empty;
    EXPECT_TRUE(ls.SendOnSocketFromSource(empty, 0, 0, 0, log, nullptr, nullptr, false, &rate, &total, &last));
    ls.closeSocket();
    peer.Finish();
    EXPECT_TRUE(grvtest::ReadBytes(file) == data);
    // The failed send wrote nothing, so the header still comes with the first bytes.
    EXPECT_TRUE(bytesOf(ls.memoryLog()) == kTrafficSendingHeader + std::string(data.begin(), data.end()));
}

} // namespace
