// The TLS client handshake and data against servers nobody here wrote:
// openssl s_server with each AES suite (the master secret it logs is ours)
// and gnutls-serv with 3DES and RC4.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/transport/TlsEndpoint.h"
#include "netlib/transport/TlsProtocol.h"
#include "tests/netlib/transport/TlsTestSupport.h"
#include "tests/support/LoopbackPeers.h"

namespace {

using namespace tessik;
using namespace tlstest;

constexpr const char* kGet = "GET / HTTP/1.0\r\n\r\n";

struct Session {
    TlsEndpoint endpoint;
    TlsProtocol protocol;
    SocketReadParams params;
    Logger log;

    bool Connect(int port) {
        bool dnsFailed = false;
        endpoint.getSocket()->setReadTimeoutMs(10000);
        return endpoint.getSocket()->connectSocket("127.0.0.1", port, 0, log, &dnsFailed, nullptr);
    }
    bool Handshake(const ExtPtrArray* credentials = nullptr) {
        return protocol.startClientHandshake(endpoint, params, credentials, log, false);
    }
    // Sends the request and reads until the server closes.
    std::string Get(const std::string& request = kGet) {
        if (!protocol.sendApplicationData(reinterpret_cast<const unsigned char*>(request.data()),
                                          std::uint32_t(request.size()), endpoint, params, log, false))
            return "send failed";
        DataBuffer body;
        while (protocol.readApplicationData(endpoint, params, body, log, false)) {
        }
        return std::string(reinterpret_cast<const char*>(body.getData()), body.getSize());
    }
};

// "CLIENT_RANDOM <client random> <master secret>" lines, lower-case hex.
std::string KeyLogLine(const TlsProtocol& p) {
    return "CLIENT_RANDOM " + Hex(p.clientHello()->random) + " " + Hex(p.masterSecret());
}

TEST(TlsKeyDerivation, MasterSecretAndKeyBlockEqualTheReferenceUnderBothVersions) {
    std::mt19937 rng(6101);
    std::string json = "[";
    std::vector<std::string> ours;
    for (int i = 0; i < 20; ++i) {
        const std::uint32_t minor = i % 2;
        const Bytes pre = RandomBytes(rng, 48), client = RandomBytes(rng, 32), server = RandomBytes(rng, 32);
        Bytes seed = client, reversed = server;
        seed.insert(seed.end(), server.begin(), server.end());
        reversed.insert(reversed.end(), client.begin(), client.end());
        unsigned char master[48], block[256];
        if (minor == kSsl30Minor) {
            ssl3Expand(pre.data(), 48, seed.data(), 64, master, sizeof master);
            ssl3Expand(master, 48, reversed.data(), 64, block, sizeof block);
        } else {
            ASSERT_TRUE(tlsPrf(pre.data(), 48, "master secret", seed.data(), 64, master, sizeof master));
            ASSERT_TRUE(tlsPrf(master, 48, "key expansion", reversed.data(), 64, block, sizeof block));
        }
        ours.push_back(Hex(master, sizeof master) + " " + Hex(block, sizeof block));
        json += std::string(i ? "," : "") + "{\"minor\":" + std::to_string(minor) + ",\"premaster\":\"" + Hex(pre) +
                "\",\"client_random\":\"" + Hex(client) + "\",\"server_random\":\"" + Hex(server) + "\"}";
    }
    EXPECT_EQ(ours, Reference("keys", json + "]"));
}

TEST(TlsKeyDerivation, PrfInputOver108BytesProducesNothing) {
    const Bytes secret(48, 7), seed(108, 1);
    unsigned char out[12] = {};
    // "master secret" is 13 bytes: 95 bytes of seed fill the 108.
    EXPECT_TRUE(tlsPrf(secret.data(), 48, "master secret", seed.data(), 95, out, sizeof out));
    EXPECT_NE(Hex(out, sizeof out), std::string(24, '0'));
    unsigned char untouched[12] = {};
    EXPECT_FALSE(tlsPrf(secret.data(), 48, "master secret", seed.data(), 96, untouched, sizeof untouched));
    EXPECT_EQ(Hex(untouched, sizeof untouched), std::string(24, '0'));
}

class TlsHandshakeTest : public grvtest::LoopbackPeerTest {};

TEST_F(TlsHandshakeTest, EachAesSuiteAgainstOpensslWithItsMasterSecret) {
    for (auto [cipher, suite] :
         {std::pair<const char*, int>{"AES256-SHA", kTlsRsaAes256Sha}, {"AES128-SHA", kTlsRsaAes128Sha}}) {
        grvtest::TempDir dir;
        grvtest::OpensslServerOptions options;
        options.ciphers = std::string(cipher) + ":@SECLEVEL=0";
        options.extraArgs = {"-keylogfile", dir.File("keys.log")};
        const int port = peers.StartOpensslServer(options);
        Session s;
        ASSERT_TRUE(s.Connect(port)) << LogText(s.log);
        ASSERT_TRUE(s.Handshake()) << LogText(s.log);
        EXPECT_EQ(s.protocol.serverHello()->cipherSuite, suite);
        const std::string page = s.Get();
        EXPECT_NE(page.find("HTTP/1.0 200 ok"), std::string::npos) << page.substr(0, 200) << LogText(s.log);
        EXPECT_NE(page.find(std::string("Cipher is ") + cipher), std::string::npos) << page.substr(0, 2000);
        const std::string line = KeyLogLine(s.protocol);
        const auto keys = grvtest::WaitFor([&] { return grvtest::ReadFile(dir.File("keys.log")); },
                                           [&](const std::string& log) { return log.find(line) != std::string::npos; });
        EXPECT_TRUE(keys.met) << "wanted " << line << "\nlogged:\n" << keys.seen;
        peers.Stop(port);
    }
}

TEST_F(TlsHandshakeTest, TripleDesAndRc4AgainstGnutls) {
    for (auto [priority, suite] : {std::pair<const char*, int>{grvtest::kGnutls3des, kTlsRsa3desSha},
                                   {grvtest::kGnutlsRc4Sha, kTlsRsaRc4Sha},
                                   {grvtest::kGnutlsRc4Md5, kTlsRsaRc4Md5}}) {
        const int port = peers.StartGnutlsServer(priority);
        Session s;
        ASSERT_TRUE(s.Connect(port)) << LogText(s.log);
        ASSERT_TRUE(s.Handshake()) << LogText(s.log);
        EXPECT_EQ(s.protocol.serverHello()->cipherSuite, suite);
        const std::string page = s.Get();
        EXPECT_NE(page.find("HTTP/1.0 200 OK"), std::string::npos) << page.substr(0, 200) << LogText(s.log);
        peers.Stop(port);
    }
}

} // namespace
