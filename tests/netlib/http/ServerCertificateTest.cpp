// Whom an https request talks to: openssl s_server shows certificates made
// for this test (expired, not yet valid, self-signed, for another host,
// badly signed, issued by an end entity, made a CA or named by an OID past
// 2^32, outside name constraints, for other key purposes, with a key usage
// that allows no key exchange, with an unknown
// critical or a repeated extension, signed under another algorithm than
// they name, sent after 20, 100 or 180 certificates of their issuer's name
// badly signed; a chain of three, a wildcard, an IP address, a leaf naming
// its issuer by issuer and serial or by a name written otherwise, an older
// certificate of its issuer's name sent first or kept in a CA store, one
// with an extension that cannot be read, and the controls of those
// faults), directly, through squid's CONNECT and over SOCKS5. The test's CA
// is in the user's ROOT store; every refusal fails the request with reason
// 105 and a log line naming the check, curl fetches what is fetched
// directly and refuses what is refused, and with verification turned off
// every server answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/text/TextServices.h"
#include "netlib/transport/SChannelTessik.h"
#include "platform/CertStore.h"
#include "platform/Winsock.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/netlib/pki/CommonNameRows.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr const char* kWildcardHost = "www.grv.test";

// A link of a chain make_chains.py writes (root first).
struct Link {
    std::string json;
};
const Link kCa{R"({"bc":"ca","ku":"sign"})"};
const Link kNotCa{R"({"bc":"notca"})"};
Link Leaf(const std::string& san, const char* more = "") {
    return {R"({"bc":"notca","san":[)" + san + "]" + more + "}"};
}
const std::string kLocal = R"("DNS:localhost","IP:127.0.0.1")";
Link Ca(const std::string& more) {
    return {R"({"bc":"ca","ku":"sign")" + more + "}"};
}
// An older certificate of the CA's name written in another form, sent
// before it.
Link Decoy(const char* form, const std::string& more) {
    return Ca(std::string(R"(,"older":"sent","olderform":)") + form + more);
}
const std::string kUnknownCritical = R"(,"ext":[{"oid":"1.3.6.1.4.1.55555.1","value":"0500","critical":true}])";
const std::string kUnknownNotCritical = R"(,"ext":[{"oid":"1.3.6.1.4.1.55555.1","value":"0500"}])";

struct Server {
    const char* name;
    std::vector<Link> chain;
    bool trustRoot;
    const char* host;
    const char* refusal;           // null: verified
    bool viaProxies;               // proxies resolve names themselves: loopback names only
    const char* olderIn = nullptr; // "user" or "machine": the CA store that holds older.pem
};

enum class Route { kDirect, kSquid, kSocks };

// No row judges time: a handshake over a loaded machine's peers may take
// long, and only a peer that never answers should fail a row.
constexpr std::uint32_t kPatientSec = 120;

class ServerCertificates : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        http.options().ConnectTimeoutSec = kPatientSec;
        http.options().ReadTimeoutSec = kPatientSec;
        // Every name of the test's own domain is the loopback.
        platform::SetResolverHook([](const std::string& host) {
            const std::string domain = ".test";
            const bool ours =
                host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0;
            return ours ? std::string("127.0.0.1") : std::string();
        });
    }
    void TearDown() override {
        platform::SetResolverHook({});
        for (const std::string& file : m_trusted)
            std::filesystem::remove(file);
    }

    // Writes the chains; the roots of those that trust it go to the user's
    // ROOT store.
    void MakeChains(const std::vector<Server>& servers) {
        std::string json = "[";
        for (const Server& s : servers) {
            json += json.size() > 1 ? ",[" : "[";
            for (std::size_t j = 0; j < s.chain.size(); ++j)
                json += (j ? "," : "") + s.chain[j].json;
            json += "]";
        }
        grvtest::RunOptions input;
        input.input = json + "]";
        grvtest::RunResult made = grvtest::RunProgram(
            {"/usr/bin/python3", std::string(GRV_SOURCE_DIR) + "/tests/peers/make_chains.py", m_dir.Path()}, input);
        ASSERT_TRUE(made.Ok()) << made.err;
        const std::string root = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                           platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        std::filesystem::create_directories(root);
        for (std::size_t i = 0; i < servers.size(); ++i)
            if (servers[i].trustRoot) {
                m_trusted.push_back(root + "/test-ca-" + std::to_string(i) + ".pem");
                std::filesystem::copy_file(Folder(i) + "c0.pem", m_trusted.back(),
                                           std::filesystem::copy_options::overwrite_existing);
            }
    }
    std::string Folder(std::size_t i) const { return m_dir.File(std::to_string(i)) + "/"; }

    // s_server with the chain's last link, sending the links between too.
    int Serve(std::size_t i, const Server& s) {
        grvtest::OpensslServerOptions options;
        const std::string leaf = Folder(i) + "c" + std::to_string(s.chain.size() - 1);
        options.cert = leaf + ".pem";
        options.key = leaf + ".key";
        if (s.chain.size() > 2)
            options.extraArgs = {"-cert_chain", Folder(i) + "untrusted.pem"};
        return peers.StartOpensslServer(options);
    }

    // Whether curl fetches the server's page, trusting the chain's root
    // when the row's store does (and the system's roots otherwise), at the
    // server's ciphers, whose security level admits the chains' keys.
    bool CurlVerifies(std::size_t i, const Server& s, int port) {
        const std::string where = std::string(s.host) + ":" + std::to_string(port);
        std::vector<std::string> argv{"curl",      "-s",
                                      "-o",        "/dev/null",
                                      "--ciphers", grvtest::kOpensslLegacyCiphers,
                                      "--resolve", where + ":127.0.0.1"};
        if (s.trustRoot)
            argv.insert(argv.end(), {"--cacert", Folder(i) + "c0.pem"});
        argv.push_back("https://" + where + "/");
        return grvtest::RunProgram(argv).Ok();
    }

    // GET / over https; "200" or the log of the failure.
    std::string Get(const char* host, int port, bool& failed) {
        ClsHttpRequest request;
        request.setPath("/");
        std::unique_ptr<ClsHttpResponse> response(http.SynchronousRequest(host, port, true, request, nullptr));
        failed = response == nullptr;
        return failed ? authtest::logText(http.getLog()) : std::to_string(response->getStatusCode());
    }

    // curlJudges: curl fetches what is fetched directly and refuses what is
    // refused (the common-name rows part from it on purpose).
    void RunTable(const std::vector<Server>& servers, Route route, bool curlJudges = false) {
        MakeChains(servers);
        HttpControl& options = http.options();
        options.UseIEProxy = 0;
        if (route == Route::kSquid) {
            options.ProxyDomain.setString("127.0.0.1");
            options.ProxyPort = static_cast<std::uint32_t>(peers.StartSquid());
            options.ProxyLogin.setFromUtf8(grvtest::kPeerUser);
            options.ProxyPassword.setFromUtf8(grvtest::kPeerPassword);
        } else if (route == Route::kSocks) {
            options.setSocksVersion(5);
            options.setSocksHostname("127.0.0.1");
            options.setSocksPort(peers.StartMicrosocks(false));
        }
        const std::string reason = std::string(http_conn::kTlsFailReasonTag) + ": 105";
        for (std::size_t i = 0; i < servers.size(); ++i) {
            const Server& s = servers[i];
            if (route != Route::kDirect && !s.viaProxies)
                continue;
            SCOPED_TRACE(s.name);
            const int port = Serve(i, s);
            std::string olderFile;
            if (s.olderIn) {
                const std::string store = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                                    std::string(s.olderIn) == "machine"
                                                                        ? platform::CERT_SYSTEM_STORE_LOCAL_MACHINE
                                                                        : platform::CERT_SYSTEM_STORE_CURRENT_USER,
                                                                    "CA");
                std::filesystem::create_directories(store);
                olderFile = store + "/older.pem";
                std::filesystem::copy_file(Folder(i) + "older.pem", olderFile,
                                           std::filesystem::copy_options::overwrite_existing);
            }
            http.options().AcceptAnyServerCert = 0;
            bool failed = false;
            std::string got = Get(s.host, port, failed);
            if (curlJudges && route == Route::kDirect) {
                EXPECT_EQ(CurlVerifies(i, s, port), s.refusal == nullptr);
            }
            if (s.refusal == nullptr) {
                EXPECT_EQ(got, "200");
            } else {
                EXPECT_TRUE(failed) << got;
                EXPECT_NE(got.find(s.refusal), std::string::npos) << got;
                EXPECT_NE(got.find(reason), std::string::npos) << got;
                EXPECT_EQ(got.find("Establishing SSL tunnel through proxy") != std::string::npos,
                          route == Route::kSquid);
                EXPECT_EQ(got.find("SOCKS5") != std::string::npos, route == Route::kSocks);
            }
            http.options().AcceptAnyServerCert = 1;
            EXPECT_EQ(Get(s.host, port, failed), "200") << "with verification off";
            peers.Stop(port);
            if (!olderFile.empty())
                std::filesystem::remove(olderFile);
        }
    }

    static std::vector<Server> Table() {
        return {
            {"expired", {kCa, Leaf(kLocal, R"(,"time":"expired")")}, true, "127.0.0.1", schannel_msg::kExpired, true},
            {"not yet valid",
             {kCa, Leaf(kLocal, R"(,"time":"future")")},
             true,
             "127.0.0.1",
             schannel_msg::kNotYetValid,
             true},
            {"self-signed",
             {Link{R"({"bc":"ca","san":[)" + kLocal + "]}"}},
             false,
             "localhost",
             schannel_msg::kUntrustedRoot,
             true},
            {"for another host",
             {kCa, Leaf(R"("DNS:other.grv.test")")},
             true,
             "127.0.0.1",
             schannel_msg::kNameMismatch,
             true},
            {"wrong signature",
             {kCa, Leaf(kLocal, R"(,"badsig":true)")},
             true,
             "127.0.0.1",
             schannel_msg::kBadSignature,
             true},
            {"issued by an end entity",
             {kCa, kNotCa, Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kIssuerNotACa,
             true},
            {"root not in the store", {kCa, Leaf(kLocal)}, false, "127.0.0.1", schannel_msg::kUntrustedRoot, true},
            {"chain of three sent by the server", {kCa, kCa, Leaf(kLocal)}, true, "localhost", nullptr, true},
            {"wildcard", {kCa, Leaf(R"("DNS:*.grv.test")")}, true, kWildcardHost, nullptr, false},
            {"IP address", {kCa, Leaf(R"("IP:127.0.0.1")")}, true, "127.0.0.1", nullptr, true},
            {"an end entity made a CA by an OID past 2^32",
             {kCa, Link{R"({"bc":"none","ext":[{"oid":"2.5.29.4294967315","value":"30030101ff"}]})"}, Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kIssuerNotACa,
             true},
            {"only name under an OID past 2^32",
             {kCa, Link{R"({"bc":"notca","name":{"oid":"2.5.4.4294967299","value":"localhost"}})"}},
             true,
             "localhost",
             schannel_msg::kNameMismatch,
             true},
            {"outside the permitted names",
             {kCa, Ca(R"(,"nc":{"permitted":["DNS:allowed.example"]})"), Leaf(kLocal)},
             true,
             "localhost",
             schannel_msg::kOutsideNameConstraints,
             true},
            {"inside the excluded names",
             {kCa, Ca(R"(,"nc":{"excluded":["DNS:localhost"]})"), Leaf(kLocal)},
             true,
             "localhost",
             schannel_msg::kOutsideNameConstraints,
             true},
            {"outside the permitted addresses",
             {kCa, Ca(R"(,"nc":{"permitted":["IP:10.0.0.0/8"]})"), Leaf(R"("IP:127.0.0.1")")},
             true,
             "127.0.0.1",
             schannel_msg::kOutsideNameConstraints,
             true},
            {"inside the permitted names and addresses",
             {kCa, Ca(R"(,"nc":{"permitted":["DNS:localhost","IP:127.0.0.0/8"]})"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             true},
            {"leaf for client authentication only",
             {kCa, Leaf(kLocal, R"(,"eku":["clientAuth"])")},
             true,
             "127.0.0.1",
             schannel_msg::kNotForServers,
             true},
            {"intermediate for client authentication only",
             {kCa, Ca(R"(,"eku":["clientAuth"])"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kNotForServers,
             true},
            {"leaf for server authentication",
             {kCa, Ca(R"(,"eku":["serverAuth","clientAuth"])"), Leaf(kLocal, R"(,"eku":["serverAuth"])")},
             true,
             "127.0.0.1",
             nullptr,
             true},
            {"unknown critical extension on the leaf",
             {kCa, Leaf(kLocal, kUnknownCritical.c_str())},
             true,
             "127.0.0.1",
             schannel_msg::kBadExtension,
             true},
            {"unknown critical extension on the intermediate",
             {kCa, Ca(kUnknownCritical), Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kBadExtension,
             true},
            {"the same extension not critical",
             {kCa, Ca(kUnknownNotCritical), Leaf(kLocal, kUnknownNotCritical.c_str())},
             true,
             "127.0.0.1",
             nullptr,
             true},
            {"intermediate with cA false, then true",
             {kCa, Link{R"({"bc":"notca","ext":[{"oid":"2.5.29.19","critical":true,"value":"30030101ff"}]})"},
              Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kBadExtension,
             true},
            // The second names the loopback: DNS:localhost, IP:127.0.0.1.
            {"leaf with two subjectAltNames",
             {kCa, Leaf(R"("DNS:other.grv.test")",
                        R"(,"ext":[{"oid":"2.5.29.17","value":"301182096c6f63616c686f737487047f000001"}])")},
             true,
             "127.0.0.1",
             schannel_msg::kBadExtension,
             true},
            {"leaf whose key usage allows no TLS key exchange",
             {kCa, Leaf(kLocal, R"(,"ku":["keyCertSign","nonRepudiation"])")},
             true,
             "127.0.0.1",
             schannel_msg::kKeyNotForServers,
             true},
            {"leaf signed under another algorithm than it names",
             {kCa, Leaf(kLocal, R"(,"outeralg":"sha512")")},
             true,
             "127.0.0.1",
             schannel_msg::kBadSignature,
             true},
            // Sent before the leaf's issuer: badly signed certificates of its
            // name and key identifier, keys dear to check.
            {"20 impostors of the leaf's issuer",
             {kCa, Ca(R"(,"impostors":20)"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kBadSignature,
             false},
            {"100 impostors of the leaf's issuer",
             {kCa, Ca(R"(,"impostors":100)"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kBadSignature,
             false},
            {"180 impostors of the leaf's issuer",
             {kCa, Ca(R"(,"impostors":180)"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kBadSignature,
             false},
            // An older certificate of the intermediate's name (another key
            // and serial, no key identifier) sent before it or kept in a CA
            // store: the fields the leaf names its issuer by pick.
            {"issuer named by issuer and serial, an older one sent first",
             {kCa, Ca(R"(,"older":"sent")"), Leaf(kLocal, R"(,"akid":["issuer","serial"])")},
             true,
             "127.0.0.1",
             nullptr,
             true},
            {"issuer named by key id, issuer and serial, an older one sent first",
             {kCa, Ca(R"(,"older":"sent")"), Leaf(kLocal, R"(,"akid":["keyid","issuer","serial"])")},
             true,
             "127.0.0.1",
             nullptr,
             true},
            {"issuer named by key id only, an older one sent first",
             {kCa, Ca(R"(,"older":"sent")"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             schannel_msg::kBadSignature,
             true},
            {"an older one in the user's CA store",
             {kCa, Ca(R"(,"older":"apart")"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             true,
             "user"},
            {"an older one in the machine's CA store",
             {kCa, Ca(R"(,"older":"apart")"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             true,
             "machine"},
            {"issuer name a PrintableString in capitals with spaces doubled",
             {kCa, kCa, Leaf(kLocal, R"(,"issuerform":{"tag":19,"upper":true,"space":"  "})")},
             true,
             "127.0.0.1",
             nullptr,
             true},
            // openssl takes a certificate with an extension it cannot read
            // for no one's issuer, and finds no issuer for one.
            {"an older one with an extended key usage that cannot be read sent first",
             {kCa, Ca(R"(,"older":"sent","olderext":[{"oid":"2.5.29.37","value":"06032b0601"}])"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             true},
            {"leaf whose name constraints cannot be read",
             {kCa, Leaf(kLocal, R"(,"ext":[{"oid":"2.5.29.30","critical":true,"value":"04020000"}])")},
             true,
             "127.0.0.1",
             schannel_msg::kBadExtension,
             true},
            // An older one of the intermediate's name in another case or
            // string type, sent first, with an extension or a key openssl
            // cannot read: passed over.
            {"an older one in capitals with CRL distribution points that cannot be read sent first",
             {kCa, Decoy(R"({"upper":true})", R"(,"olderext":[{"oid":"2.5.29.31","value":"04020000"}])"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"an older one as a PrintableString with CRL distribution points twice sent first",
             {kCa,
              Decoy(R"({"tag":19})", R"(,"olderext":[{"oid":"2.5.29.31","value":"30093007a005a003860178"},)"
                                     R"({"oid":"2.5.29.31","value":"30093007a005a003860178"}])"),
              Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"an older one as a BMPString with a Netscape type that cannot be read sent first",
             {kCa, Decoy(R"({"tag":30})", R"(,"olderext":[{"oid":"2.16.840.1.113730.1.1","value":"03020800"}])"),
              Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"an older one in capitals with a proxyCertInfo that cannot be read sent first",
             {kCa, Decoy(R"({"upper":true})", R"(,"olderext":[{"oid":"1.3.6.1.5.5.7.1.14","value":"04020000"}])"),
              Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"an older one in capitals with address blocks that cannot be read sent first",
             {kCa, Decoy(R"({"upper":true})", R"(,"olderext":[{"oid":"1.3.6.1.5.5.7.1.7","value":"04020000"}])"),
              Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"an older one in capitals with AS identifiers that cannot be read sent first",
             {kCa, Decoy(R"({"upper":true})", R"(,"olderext":[{"oid":"1.3.6.1.5.5.7.1.8","value":"04020000"}])"),
              Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"an older one in capitals whose RSA key is a SET sent first",
             {kCa, Decoy(R"({"upper":true})", R"(,"olderkey":"set")"), Leaf(kLocal)},
             true,
             "127.0.0.1",
             nullptr,
             false},
            {"intermediate with CRL distribution points that cannot be read, named in capitals",
             {kCa, Ca(R"(,"ext":[{"oid":"2.5.29.31","value":"04020000"}])"),
              Leaf(kLocal, R"(,"issuerform":{"upper":true})")},
             true,
             "127.0.0.1",
             schannel_msg::kBadExtension,
             false},
            {"leaf whose Netscape type allows an SSL client only",
             {kCa, Leaf(kLocal, R"(,"ext":[{"oid":"2.16.840.1.113730.1.1","value":"03020780"}])")},
             true,
             "127.0.0.1",
             schannel_msg::kKeyNotForServers,
             false},
        };
    }

    grvtest::TempDir m_dir{"chains"};
    std::vector<std::string> m_trusted;
    ClsHttp http;
};

} // namespace

TEST_F(ServerCertificates, EachCheckRefusesItsServerDirectly) {
    RunTable(Table(), Route::kDirect, true);
}

TEST_F(ServerCertificates, EachCheckRefusesItsServerThroughSquid) {
    RunTable(Table(), Route::kSquid);
}

TEST_F(ServerCertificates, EachCheckRefusesItsServerOverSocks) {
    RunTable(Table(), Route::kSocks);
}

// The common-name leaves the chain engine's table judges beside openssl,
// each served by s_server and asked for the host its name spells: a name
// outside the constraints is refused for them, a name of other than host
// characters, of one label or of a type that is no text for naming no host,
// whatever the constraints. A host no URL may name is refused before any
// connection, and a leaf openssl cannot read no s_server shows, so only the
// chain engine's table meets those.
TEST_F(ServerCertificates, ACommonNameIsJudgedByTheConstraintsOrNamesNoHost) {
    const std::vector<pkitest::CommonNameRow> rows = pkitest::commonNameRows();
    std::vector<Server> servers;
    using pkitest::NameRefusal;
    for (const pkitest::CommonNameRow& row : rows) {
        StringBuffer host;
        int port = 0;
        if (!TessikUrl::readHostPort(row.host.c_str(), host, port) || row.unreadable)
            continue;
        const char* refusal = row.refusal == NameRefusal::kNoHost               ? schannel_msg::kNameMismatch
                              : row.refusal == NameRefusal::kOutsideConstraints ? schannel_msg::kOutsideNameConstraints
                              : row.refusal == NameRefusal::kBadExtension       ? schannel_msg::kBadExtension
                                                                                : nullptr;
        servers.push_back({row.host.c_str(),
                           {kCa, Ca(row.caMore), Link{R"({"bc":"notca")" + row.leafMore + "}"}},
                           true,
                           row.host.c_str(),
                           refusal,
                           false});
    }
    RunTable(servers, Route::kDirect);
}

// A redirect's target is checked under its own name: nginx's certificate
// names the loopback, not other.grv.test.
TEST_F(ServerCertificates, ARedirectIsCheckedForTheHostItGoesTo) {
    peers.TrustCertificate();
    grvtest::NginxOptions opts;
    opts.serverLines = {"location = /to-other { return 302 https://" + std::string(kWildcardHost) + ":{tlsPort}/; }",
                        "location = /to-local { return 302 https://localhost:{tlsPort}/; }"};
    const grvtest::NginxPeer nginx = peers.StartNginx(opts);
    struct Case {
        const char* path;
        bool refused;
    } cases[] = {{"/to-local", false}, {"/to-other", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string url = "https://127.0.0.1:" + std::to_string(nginx.tlsPort) + c.path;
        Logger log;
        HttpResult result;
        DataBuffer body;
        const bool ok = http.pool().quickRequest(url.c_str(), http.options(), body, result, log, nullptr, false);
        const std::string text = authtest::logText(log);
        EXPECT_EQ(ok, !c.refused) << text;
        EXPECT_EQ(text.find(schannel_msg::kNameMismatch) != std::string::npos, c.refused) << text;
        if (!c.refused) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.getData()), body.getSize()), "hello\n");
        }
    }
    // Both first hops reached nginx; only the local target did.
    EXPECT_EQ(
        grvtest::NginxAccessRequests(nginx, 3),
        (std::vector<std::string>{"302 GET /to-local HTTP/1.1", "200 GET / HTTP/1.1", "302 GET /to-other HTTP/1.1"}));
}

// nginx keeps the connection of a request made without the check; the next
// request, with it, does not ride on that connection.
TEST_F(ServerCertificates, AnUncheckedConnectionIsNotReusedOnceTheCheckIsOn) {
    const grvtest::NginxPeer nginx = peers.StartNginx();
    http.options().UseIEProxy = 0;
    struct Step {
        bool acceptAny;
        bool trusted;
        bool ok;
    } steps[] = {{true, false, true}, {false, false, false}, {true, false, true}, {false, true, true}};
    for (const Step& step : steps) {
        if (step.trusted)
            peers.TrustCertificate();
        http.options().AcceptAnyServerCert = step.acceptAny ? 1 : 0;
        bool failed = false;
        const std::string got = Get("127.0.0.1", nginx.tlsPort, failed);
        EXPECT_EQ(!failed, step.ok) << got;
        if (!step.ok) {
            EXPECT_NE(got.find(schannel_msg::kUntrustedRoot), std::string::npos) << got;
            EXPECT_NE(got.find(http_conn::kMsgUnverifiedConnection), std::string::npos) << got;
        }
    }
    // Three connections: the second request's was refused before any request.
    const std::vector<grvtest::NginxAccessLine> lines = grvtest::NginxAccessLog(nginx, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].connection, lines[1].connection);
    EXPECT_NE(lines[1].connection, lines[2].connection);
}
