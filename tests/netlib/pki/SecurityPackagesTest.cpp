// The security-package interface: its package list, the statuses of one
// context step, the token loop against a scripted package and exchange, and
// the NTLM package's tokens judged by python (the NTLMv2 responses
// recomputed from the password) with explicit and default credentials.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/WinUtil.h"
#include "netlib/core/XString.h"
#include "netlib/pki/ClsNtlm.h"
#include "netlib/pki/MsSspi.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/pki/PkiTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using namespace tessik::sspi;

namespace {

std::string text(const DataBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

// What a scripted package was asked, and what it answers.
struct Script {
    std::vector<std::uint32_t> statuses; // one per step; the last repeats
    std::uint32_t acquireStatus = kSecEOk;
    // Seen:
    bool acquired = false;
    bool defaultIdentity = false;
    std::string domain, user, password;
    std::vector<std::string> inputs;
    int completes = 0;
    int deletes = 0;
};

class ScriptedPackage : public SecurityPackage {
public:
    explicit ScriptedPackage(Script& script) : m_script(script) {}
    const char* name() const override { return "Scripted"; }
    std::uint32_t maxToken() const override { return 64; }
    std::uint32_t acquireCredentials(Identity* identity, LogBase&) override {
        m_script.acquired = true;
        m_script.defaultIdentity = identity == nullptr;
        if (identity != nullptr) {
            m_script.domain = identity->domain.getUtf8();
            m_script.user = identity->user.getUtf8();
            m_script.password = identity->password.getUtf8();
        }
        return m_script.acquireStatus;
    }
    void freeCredentials() override {}
    std::uint32_t initializeContext(const StringBuffer&, std::uint32_t&, const DataBuffer& input, DataBuffer& output,
                                    LogBase&) override {
        m_script.inputs.push_back(text(input));
        const std::size_t step = m_script.inputs.size() - 1;
        output.appendStr(("T" + std::to_string(step)).c_str());
        return m_script.statuses[std::min(step, m_script.statuses.size() - 1)];
    }
    std::uint32_t completeAuthToken(DataBuffer& token) override {
        ++m_script.completes;
        token.appendStr("+done");
        return kSecEOk;
    }
    void deleteContext() override {
        ++m_script.deletes;
        m_script.inputs.clear();
    }

private:
    Script& m_script;
};

// Answers each token with the next reply ("R0", "R1" ... unless given);
// keeps what it was sent.
class FakeExchange : public PackageExchange {
public:
    bool NtlmExchangePackage(DataBuffer& reply, DataBuffer& token, LogBase&) override {
        sent.push_back(text(token));
        if (failExchange)
            return false;
        const std::size_t n = sent.size() - 1;
        reply.appendStr(n < replies.size() ? replies[n].c_str() : ("R" + std::to_string(n)).c_str());
        if (n < binaryReplies.size()) {
            reply.clear();
            reply.appendDb(*binaryReplies[n]);
        }
        return true;
    }
    bool NtlmFinal(DataBuffer& token, LogBase&) override {
        finalToken = text(token);
        ++finals;
        return finalResult;
    }

    std::vector<std::string> replies;
    std::vector<std::unique_ptr<DataBuffer>> binaryReplies;
    std::vector<std::string> sent;
    std::string finalToken;
    int finals = 0;
    bool finalResult = true;
    bool failExchange = false;
};

std::unique_ptr<MsSspi> scripted(Script& script) {
    std::vector<std::unique_ptr<SecurityPackage>> packages;
    packages.push_back(std::make_unique<ScriptedPackage>(script));
    return std::make_unique<MsSspi>(std::move(packages));
}

bool authenticate(MsSspi& sspi, const char* domain, const char* user, const char* password, Logger& log) {
    XString d, u, p;
    d.setFromUtf8(domain);
    u.setFromUtf8(user);
    p.setFromUtf8(password);
    return sspi.authenticate(0, d, u, p, log);
}

bool has(Logger& log, const std::string& line) {
    return pkitest::logText(log).find(line) != std::string::npos;
}

TEST(SecurityPackages, ListedAndFoundByNameIgnoringCase) {
    MsSspi sspi;
    const std::pair<const char*, int> cases[] = {{"NTLM", 0},     {"ntlm", 0},    {"negotiate", 1},
                                                 {"KERBEROS", 2}, {"Digest", -1}, {"", -1}};
    for (const auto& [name, index] : cases)
        EXPECT_EQ(sspi.findPackage(name), index) << name;
    Logger log;
    sspi.logPackages(log);
    const std::string listed = pkitest::logText(log);
    for (const char* name : {"NTLM", "Negotiate", "Kerberos"})
        EXPECT_NE(listed.find(name), std::string::npos) << listed;

    MsSspi none(std::vector<std::unique_ptr<SecurityPackage>>{});
    EXPECT_EQ(none.findPackage("NTLM"), -1);
    XString empty;
    Logger acquireLog;
    EXPECT_FALSE(none.acquireCredentials(0, empty, empty, empty, acquireLog));
    EXPECT_TRUE(has(acquireLog, kMsgAcquireRange));
    EXPECT_TRUE(has(acquireLog, "NumPackages"));
}

TEST(SecurityPackages, OneStepFollowsTheStatusTable) {
    struct Case {
        std::uint32_t status;
        bool result, done, authenticated;
        const char* token; // what token holds after the step ("old" = unchanged)
        const char* line;  // a log line the step writes, or ""
    };
    const Case cases[] = {
        {kSecEOk, true, true, true, "T0", ""},
        {kSecIContinueNeeded, true, false, false, "T0", ""},
        {kSecICompleteNeeded, true, true, true, "T0+done", "SEC_I_COMPLETE_NEEDED"},
        {kSecICompleteAndContinue, true, false, false, "T0+done", "SEC_I_COMPLETE_AND_CONTINUE"},
        {kSecELogonDenied, true, true, false, "T0", "LOGON_DENIED"},
        {kSecEInvalidToken, true, true, false, "old", ""},
        {kSecEInvalidHandle, false, true, false, "old", "SEC_E_INVALID_HANDLE"},
        {kSecETargetUnknown, false, true, false, "old", "SEC_E_TARGET_UNKNOWN"},
        {kSecEInternalError, false, true, false, "old", "SEC_E_INTERNAL_ERROR"},
        {kSecENoCredentials, false, true, false, "old", "SEC_E_NO_CREDENTIALS"},
        {kSecENoAuthenticatingAuthority, false, true, false, "old", "SEC_E_NO_AUTHENTICATING_AUTHORITY"},
        {0x80090321, false, true, false, "old", kMsgNotAuthenticated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        Script script;
        script.statuses = {c.status};
        auto sspi = scripted(script);
        DataBuffer token, input;
        token.appendStr("old");
        bool done = false, authenticated = true;
        Logger log;
        EXPECT_EQ(sspi->prepareOutboundPackage(0, token, input, done, authenticated, log), c.result);
        EXPECT_EQ(done, c.done);
        EXPECT_EQ(authenticated, c.authenticated);
        EXPECT_EQ(text(token), c.token);
        EXPECT_TRUE(has(log, c.line)) << pkitest::logText(log);
        if (!c.result) {
            EXPECT_TRUE(has(log, kMsgNotAuthenticated));
        }
    }
    Script script;
    script.statuses = {kSecEOk};
    auto sspi = scripted(script);
    DataBuffer token, input;
    bool done = false, authenticated = true;
    Logger log;
    EXPECT_FALSE(sspi->prepareOutboundPackage(3, token, input, done, authenticated, log));
    EXPECT_TRUE(done);
    EXPECT_TRUE(has(log, kMsgPrepareRange));
}

TEST(SecurityPackages, TokenLoopRunsUntilThePackageIsDone) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> statuses;
        bool failExchange;
        bool result;
        std::vector<std::string> sent;
        const char* finalToken; // "" = NtlmFinal not called
        const char* line;
    };
    const Case cases[] = {
        {"two legs", {kSecIContinueNeeded, kSecEOk}, false, true, {"T0"}, "T1", ""},
        {"complete and continue keeps looping",
         {kSecIContinueNeeded, kSecICompleteAndContinue, kSecEOk},
         false,
         true,
         {"T0", "T1+done"},
         "T2",
         ""},
        {"complete needed ends", {kSecIContinueNeeded, kSecICompleteNeeded}, false, true, {"T0"}, "T1+done", ""},
        {"done at once still exchanges the first token", {kSecEOk}, false, true, {"T0"}, "T1", ""},
        {"logon denied ends with its token",
         {kSecIContinueNeeded, kSecELogonDenied},
         false,
         true,
         {"T0"},
         "T1",
         "LOGON_DENIED"},
        {"exchange fails", {kSecIContinueNeeded}, true, false, {"T0"}, "", kMsgExchangeFailed},
        {"next step fails", {kSecIContinueNeeded, kSecEInternalError}, false, false, {"T0"}, "", kMsgNextPackage},
        {"first step fails", {kSecENoCredentials}, false, false, {}, "", kMsgFirstPackage},
        {"never done",
         {kSecIContinueNeeded},
         false,
         false,
         {"T0", "T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "T9"},
         "",
         kMsgTooManyRounds},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.statuses = c.statuses;
        auto sspi = scripted(script);
        FakeExchange exchange;
        exchange.failExchange = c.failExchange;
        sspi->setPackageExchange(&exchange);
        Logger log;
        EXPECT_EQ(authenticate(*sspi, "", "u", "p", log), c.result) << pkitest::logText(log);
        EXPECT_EQ(exchange.sent, c.sent);
        EXPECT_EQ(exchange.finalToken, c.finalToken);
        EXPECT_TRUE(has(log, c.line)) << pkitest::logText(log);
        // Each reply went back into the package.
        for (std::size_t i = 1; i < script.inputs.size(); ++i)
            EXPECT_EQ(script.inputs[i], "R" + std::to_string(i - 1));
    }
}

TEST(SecurityPackages, CredentialsAndContextsOfEachAuthentication) {
    Script script;
    script.statuses = {kSecIContinueNeeded, kSecEOk};
    auto sspi = scripted(script);
    Logger log;
    EXPECT_FALSE(authenticate(*sspi, "", "u", "p", log));
    EXPECT_TRUE(has(log, kMsgNoExchange));
    EXPECT_FALSE(script.acquired);

    FakeExchange exchange;
    sspi->setPackageExchange(&exchange);
    struct Case {
        const char* domain;
        const char* user;
        const char* password;
        bool defaultIdentity;
    };
    const Case cases[] = {
        {"", "default", "default", true},
        {"", "default", "secret", false},
        {"", "Default", "default", false},
        {"REALM", "user", "secret", false},
    };
    int authentications = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + ":" + c.password);
        Logger each;
        const int deletesBefore = script.deletes;
        EXPECT_TRUE(authenticate(*sspi, c.domain, c.user, c.password, each));
        EXPECT_EQ(script.defaultIdentity, c.defaultIdentity);
        EXPECT_EQ(has(each, kMsgDefaultCredentials), c.defaultIdentity);
        if (!c.defaultIdentity) {
            EXPECT_EQ(script.domain, c.domain);
            EXPECT_EQ(script.user, c.user);
            EXPECT_EQ(script.password, c.password);
        }
        // Every authentication after the first starts a context of its own.
        EXPECT_EQ(script.deletes - deletesBefore, authentications++ == 0 ? 0 : 1);
        EXPECT_EQ(script.inputs.front(), "");
    }

    script.acquireStatus = kSecENoCredentials;
    Logger refused;
    EXPECT_FALSE(authenticate(*sspi, "", "u", "p", refused));
    for (const char* line : {kMsgAcquireFailed, "SEC_E_NO_CREDENTIALS", kMsgCannotAcquire})
        EXPECT_TRUE(has(refused, line)) << pkitest::logText(refused);
    script.acquireStatus = 0x80090399;
    Logger unnamed;
    EXPECT_FALSE(authenticate(*sspi, "", "u", "p", unnamed));
    EXPECT_TRUE(has(unnamed, std::to_string(static_cast<int>(0x80090399u)))) << pkitest::logText(unnamed);
}

// Reads the AUTHENTICATE message (hex, argv[1]) and checks its NTLMv2
// responses against the password (argv[2]) and the server challenge
// (argv[3]); prints "domain user ok" or what failed.
constexpr const char* kNtlmV2Judge = R"PY(
import hashlib, hmac, struct, sys
m, password, server = bytes.fromhex(sys.argv[1]), sys.argv[2], bytes.fromhex(sys.argv[3])
def buf(at):
    n, _, off = struct.unpack("<HHI", m[at:at + 8])
    return m[off:off + n]
lm, nt, domain, user = buf(12), buf(20), buf(28).decode("utf-16-le"), buf(36).decode("utf-16-le")
nt_hash = hashlib.new("md4", password.encode("utf-16-le")).digest()
key = hmac.new(nt_hash, (user.upper() + domain).encode("utf-16-le"), "md5").digest()
proof, blob = nt[:16], nt[16:]
assert blob[:8] == bytes([1, 1, 0, 0, 0, 0, 0, 0]), "blob header"
assert proof == hmac.new(key, server + blob, "md5").digest(), "NT response"
client = blob[16:24]
assert lm == hmac.new(key, server + client, "md5").digest() + client, "LM response"
print(domain, user, "ok")
)PY";

class NtlmPackageLoop : public ::testing::Test {
protected:
    void SetUp() override {
        installTextServices();
        unsetenv(kNtlmUserFileVariable);
    }
    void TearDown() override { unsetenv(kNtlmUserFileVariable); }

    // The NTLMv2 challenge of MS-NLMP 4.2.4 answers the NEGOTIATE message.
    static constexpr const char* kChallenge =
        "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef0000000000000000240024004400000006007017"
        "0000000f53006500720076006500720002000c0044006f006d00610069006e0001000c0053006500720076006500720000000000";

    std::string judge(const std::string& type3Hex, const char* password) {
        grvtest::RunOptions legacy;
        legacy.env = {"OPENSSL_CONF=" + std::string(GRV_SOURCE_DIR) + "/tests/peers/openssl-legacy.cnf"};
        const grvtest::RunResult r = grvtest::RunProgram(
            {"/usr/bin/python3", "-c", kNtlmV2Judge, type3Hex, password, "0123456789abcdef"}, legacy);
        return r.out + r.err;
    }

    // Runs the loop with the NTLM package; the final token as hex.
    std::string run(const char* domain, const char* user, const char* password, bool expectOk, Logger& log) {
        MsSspi sspi;
        FakeExchange exchange;
        exchange.binaryReplies.push_back(pkitest::fromHex(kChallenge));
        sspi.setPackageExchange(&exchange);
        XString d, u, p;
        d.setFromUtf8(domain);
        u.setFromUtf8(user);
        p.setFromUtf8(password);
        EXPECT_EQ(sspi.authenticate(sspi.findPackage("NTLM"), d, u, p, log), expectOk) << pkitest::logText(log);
        if (!expectOk)
            return "";
        EXPECT_EQ(exchange.sent.size(), 1u);
        EXPECT_EQ(exchange.sent[0].substr(0, 12), std::string("NTLMSSP\0\1\0\0\0", 12));
        DataBuffer final;
        final.append(exchange.finalToken.data(), static_cast<unsigned int>(exchange.finalToken.size()));
        return pkitest::toHex(final);
    }
};

TEST_F(NtlmPackageLoop, ExplicitCredentialsAnswerTheChallenge) {
    Logger log;
    const std::string type3 = run("Domain", "User", "Password", true, log);
    EXPECT_EQ(judge(type3, "Password"), "Domain User ok\n");
}

TEST_F(NtlmPackageLoop, DefaultCredentialsComeFromTheUserFile) {
    StringBuffer me;
    getUserNameSb(me);
    grvtest::TempDir dir;
    const std::string file = dir.File("ntlm-users");
    grvtest::WriteFile(file, "# a comment line\nOTHER:someone:nope\nGRVTEST:" + std::string(me.getString()) +
                                 ":Pw:with:colons\r\n");
    {
        Logger log;
        run("", "default", "default", false, log);
        for (const char* line : {kMsgNoUserFile, "SEC_E_NO_CREDENTIALS", kMsgCannotAcquire})
            EXPECT_TRUE(has(log, line)) << line;
    }
    setenv(kNtlmUserFileVariable, file.c_str(), 1);
    {
        Logger log;
        const std::string type3 = run("", "default", "default", true, log);
        EXPECT_TRUE(has(log, kMsgDefaultCredentials));
        EXPECT_EQ(judge(type3, "Pw:with:colons"), "GRVTEST " + std::string(me.getString()) + " ok\n");
    }
    grvtest::WriteFile(file, "OTHER:someone:nope\n");
    {
        Logger log;
        run("", "default", "default", false, log);
        EXPECT_TRUE(has(log, kMsgNoUserFileEntry));
    }
    setenv(kNtlmUserFileVariable, dir.File("missing").c_str(), 1);
    {
        Logger log;
        run("", "default", "default", false, log);
        EXPECT_TRUE(has(log, kMsgUserFileUnreadable));
    }
}

TEST_F(NtlmPackageLoop, AChallengeThatDoesNotReadEndsUnauthenticated) {
    MsSspi sspi;
    FakeExchange exchange;
    exchange.replies = {"not a challenge"};
    exchange.finalResult = false;
    sspi.setPackageExchange(&exchange);
    XString d, u, p;
    u.setFromUtf8("User");
    p.setFromUtf8("Password");
    Logger log;
    EXPECT_FALSE(sspi.authenticate(0, d, u, p, log));
    EXPECT_TRUE(has(log, ntlm::kMsgType2TooShort)) << pkitest::logText(log);
    // The token was refused, so the last one sent is the one handed over.
    EXPECT_EQ(exchange.finalToken, exchange.sent[0]);
}

TEST(GssapiPackages, DefaultCredentialsWithoutACacheFailCleanly) {
    grvtest::TempDir dir;
    const std::string conf = dir.File("krb5.conf");
    grvtest::WriteFile(conf, "[libdefaults]\n  default_realm = GRV.INVALID\n");
    setenv("KRB5_CONFIG", conf.c_str(), 1);
    setenv("KRB5CCNAME", ("FILE:" + dir.File("no-cache")).c_str(), 1);
    unsetenv(kNtlmUserFileVariable);
    for (const char* name : {"Negotiate", "Kerberos"}) {
        SCOPED_TRACE(name);
        MsSspi sspi;
        FakeExchange exchange;
        sspi.setPackageExchange(&exchange);
        XString d, u, p;
        u.setFromUtf8("default");
        p.setFromUtf8("default");
        Logger log;
        EXPECT_FALSE(sspi.authenticate(sspi.findPackage(name), d, u, p, log));
        for (const char* line : {kMsgAcquireFailed, "SEC_E_NO_CREDENTIALS", kMsgCannotAcquire})
            EXPECT_TRUE(has(log, line)) << pkitest::logText(log);
        EXPECT_TRUE(exchange.sent.empty());
    }
    unsetenv("KRB5_CONFIG");
    unsetenv("KRB5CCNAME");
}

} // namespace
