// The socket layer's Linux differences: refusals come from SO_ERROR, a send to
// a reset peer is an error rather than SIGPIPE, waits time out, and the test
// resolver hook answers every lookup.
#include "platform/Winsock.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/WinErr.h"

namespace {

using namespace platform;

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A listening socket on a free loopback port.
struct Listener {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    Listener() {
        sockaddr_in addr = loopback(0);
        socklen_t len = sizeof addr;
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        listen(fd, 4);
        port = ntohs(addr.sin_port);
    }
    ~Listener() { close(fd); }
};

SOCKET connectTo(int port, DWORD* code) {
    SOCKET s = SocketOpen(WS_AF_INET);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_TRUE(SocketSetNonBlocking(s, true));
    sockaddr_in addr = loopback(port);
    *code = SocketConnectStart(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (*code == WSAEWOULDBLOCK) {
        EXPECT_EQ(SocketWait(s, WaitFor::Write, 5000), WaitResult::Ready);
        *code = SocketConnectResult(s);
    }
    return s;
}

TEST(Winsock, RefusedConnectIsReportedThroughSoError) {
    int port = 0;
    {
        Listener closed; // its port is free again once it goes
        port = closed.port;
    }
    DWORD code = 0;
    SOCKET s = connectTo(port, &code);
    EXPECT_EQ(code, WSAECONNREFUSED);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(WSAECONNREFUSED));
    SocketClose(s);
}

TEST(Winsock, SendToAResetPeerFailsWithoutSigpipe) {
    Listener listener;
    DWORD code = 1;
    SOCKET s = connectTo(listener.port, &code);
    ASSERT_EQ(code, 0u);
    int peer = accept(listener.fd, nullptr, nullptr);
    linger hard{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(peer); // sends a reset
    ASSERT_EQ(SocketWait(s, WaitFor::Read, 5000), WaitResult::Ready);
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    long sent = 0;
    for (int i = 0; i < 100 && sent >= 0; ++i) {
        sent = SocketSend(s, buf, sizeof buf);
    }
    EXPECT_EQ(sent, -1);
    EXPECT_EQ(GetLastError(), WSAECONNRESET);
    SocketClose(s);
}

TEST(Winsock, WaitTimesOutAndReceiveSeesOrderlyClose) {
    Listener listener;
    DWORD code = 1;
    SOCKET s = connectTo(listener.port, &code);
    ASSERT_EQ(code, 0u);
    int peer = accept(listener.fd, nullptr, nullptr);
    char buf[8];
    EXPECT_EQ(SocketRecv(s, buf, sizeof buf), -1);
    EXPECT_EQ(GetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(SocketWait(s, WaitFor::Read, 30), WaitResult::TimedOut);
    ASSERT_EQ(write(peer, "hi", 2), 2);
    close(peer);
    ASSERT_EQ(SocketWait(s, WaitFor::Read, 5000), WaitResult::Ready);
    EXPECT_EQ(SocketRecv(s, buf, sizeof buf), 2);
    EXPECT_EQ(SocketRecv(s, buf, sizeof buf), 0);
    SocketClose(s);
}

TEST(Winsock, ResolverHookAnswersBothLookups) {
    SetResolverHook([](const std::string& host) { return host == "peer.example" ? "127.0.0.1" : ""; });
    std::vector<std::uint32_t> v4;
    ASSERT_TRUE(LookupIpv4("peer.example", &v4));
    EXPECT_EQ(v4, std::vector<std::uint32_t>{htonl(INADDR_LOOPBACK)});
    EXPECT_FALSE(LookupIpv4("other.example", &v4));
    EXPECT_EQ(GetLastError(), WSAHOST_NOT_FOUND);
    addrinfo* list = nullptr;
    EXPECT_EQ(GetAddrInfo("peer.example", "80", nullptr, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_port), 80);
    FreeAddrInfo(list);
    SetResolverHook({});
    EXPECT_EQ(InetAddr("255.255.255.255"), INADDR_NONE);
    EXPECT_EQ(InetAddr("1.2.3.4"), htonl(0x01020304));
}

} // namespace
