// The TLS channel's check of the server certificate, over the chain
// verdicts: openssl s_server presents a certificate a test CA signed, and
// the channel accepts it only while that CA sits in the machine's ROOT
// store and the clock is inside the certificate's validity.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/transport/SChannelTessik.h"
#include "platform/CertStore.h"
#include "platform/CryptProv.h"
#include "platform/WinTime.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace tessik;

constexpr unsigned kTimeoutMs = 10000;
constexpr std::int64_t kDaySeconds = 86400;

void RunOpenssl(const std::vector<std::string>& argv) {
    grvtest::RunResult r = grvtest::RunProgram(argv);
    ASSERT_TRUE(r.Ok()) << argv[1] << ": " << r.err;
}

std::string LogText(Logger& log) {
    StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

class ServerVerification : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", m_user.Path().c_str(), 1);
        platform::SetMachineCryptoRoot(m_machine.Path());
    }
    void TearDown() override {
        platform::SetClockOverrideForTest(0);
        platform::SetMachineCryptoRoot("");
    }
    std::string File(const std::string& name) const { return m_work.File(name); }
    grvtest::TempDir m_user{"user"}, m_machine{"machine"}, m_work{"work"};
};

TEST_F(ServerVerification, TrustedRootAndValidityDecide) {
    RunOpenssl({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", File("ca.key"), "-out",
                File("ca.pem"), "-days", "3650", "-subj", "/CN=Verification Test CA", "-addext",
                "basicConstraints=critical,CA:TRUE"});
    RunOpenssl({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", File("server.key"), "-out",
                File("server.csr"), "-subj", "/CN=localhost"});
    RunOpenssl({"openssl", "x509", "-req", "-in", File("server.csr"), "-CA", File("ca.pem"), "-CAkey", File("ca.key"),
                "-set_serial", "9", "-days", "30", "-out", File("server.pem")});
    grvtest::OpensslServerOptions options;
    options.cert = File("server.pem");
    options.key = File("server.key");
    const int port = peers.StartOpensslServer(options);
    const std::string root = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                       platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");

    struct Case {
        const char* name;
        bool caTrusted;
        std::int64_t daysAhead;
        bool established;
        const char* logged;
    } cases[] = {
        {"trusted and in time", true, 0, true, schannel_msg::kVerified},
        {"untrusted", false, 0, false, schannel_msg::kUntrustedRoot},
        {"expired", true, 40, false, schannel_msg::kExpired},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root);
        if (c.caTrusted) {
            std::filesystem::create_directories(root);
            ASSERT_TRUE(grvtest::WriteFile(root + "/test-ca.pem", grvtest::ReadFile(File("ca.pem"))));
        }
        platform::SetClockOverrideForTest(
            c.daysAhead ? (platform::CurrentUnixTimeMs() / 1000 + c.daysAhead * kDaySeconds) * 1000 : 0);
        SChannelTessik channel;
        channel.setHostname("127.0.0.1");
        channel.setPort(static_cast<unsigned>(port));
        channel.setSslProtocol("tls1");
        channel.setReadTimeoutSec(kTimeoutMs / 1000);
        channel.setRequireServerVerification(true);
        Logger log;
        bool dnsFailed = false;
        EXPECT_EQ(channel.EstablishChannel(log, &dnsFailed, kTimeoutMs, 0, nullptr, nullptr), c.established)
            << LogText(log);
        EXPECT_NE(LogText(log).find(c.logged), std::string::npos) << LogText(log);
        platform::SetClockOverrideForTest(0);
    }
}

} // namespace
