// Chain verdicts (signature valid, root trusted, expired) judged by
// `openssl verify -attime` at the same pinned time: NIST PKITS paths, a real
// chain from the published vectors, and a test CA in a temporary machine
// ROOT store; whether issuers are CAs, and what else a TLS server's chain
// must hold, judged by `openssl verify` on generated chains and on PKITS'
// basic constraints and key usage paths.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CommonNameRows.h"
#include "PkiTestSupport.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ChainEngine.h"
#include "netlib/pki/MsCertificate.h"
#include "platform/CertStore.h"
#include "platform/WinTime.h"

using namespace tessik;
using pkitest::logText;
using pkitest::openssl;

namespace {

constexpr const char* kVectors = "/usr/lib/python3/dist-packages/cryptography_vectors/x509";
constexpr const char* kPkits = "/usr/lib/python3/dist-packages/cryptography_vectors/x509/PKITS_data/certs";
constexpr std::int64_t kMid2020 = 1590969600; // 2020-06-01, inside the PKITS anchor's validity
// What openssl verify says of a certificate file it finds none in: its first
// line reads "Could not read" in OpenSSL 3.0 and "Could not find" in 3.5,
// the store's reason is the same in both.
constexpr const char* kOpensslReadNoCertificate = "STORE routines:ossl_store_handle_load_result:unsupported";

struct Verdicts {
    bool signatureValid = false;
    bool rootTrusted = false;
    bool expired = false;
    bool operator==(const Verdicts& o) const {
        return signatureValid == o.signatureValid && rootTrusted == o.rootTrusted && expired == o.expired;
    }
};

std::ostream& operator<<(std::ostream& out, const Verdicts& v) {
    return out << "{signature " << (v.signatureValid ? "valid" : "INVALID") << ", root "
               << (v.rootTrusted ? "trusted" : "UNTRUSTED") << ", " << (v.expired ? "EXPIRED" : "in time") << "}";
}

// What openssl's "error N at D depth" lines say, in our three verdicts.
Verdicts fromOpenssl(const std::string& output) {
    static const std::set<int> kTime{9, 10}, kSignature{7}, kTrust{2, 18, 19, 20, 21};
    Verdicts v{true, true, false};
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::size_t at = line.find("error ");
        if (at == std::string::npos || line.find(" depth lookup") == std::string::npos)
            continue;
        int code = std::atoi(line.c_str() + at + 6);
        v.expired = v.expired || kTime.count(code);
        v.signatureValid = v.signatureValid && !kSignature.count(code);
        v.rootTrusted = v.rootTrusted && !kTrust.count(code);
    }
    return v;
}

std::string runVerify(std::vector<std::string> args) {
    args.insert(args.begin(), "verify");
    grvtest::RunOptions options;
    options.mergeStderr = true;
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return grvtest::RunProgram(argv, options).out;
}

std::string pemOfDer(const std::string& der) {
    grvtest::RunOptions options;
    options.input = der;
    return grvtest::RunProgram({"openssl", "x509", "-inform", "DER"}, options).out;
}

Verdicts ourVerdicts(const std::string& der, Logger& log) {
    std::unique_ptr<Certificate> cert(Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(der.data()),
                                                                   static_cast<std::uint32_t>(der.size()), log, false));
    EXPECT_TRUE(cert);
    if (!cert)
        return {};
    return {cert->isSignatureVerified(log), cert->hasTrustedRoot(log), cert->isExpired(log)};
}

class ChainVerdicts : public pkitest::PkiRoots {
protected:
    void TearDown() override {
        platform::SetClockOverrideForTest(0);
        PkiRoots::TearDown();
    }
    // Places DER in a store folder, named by its SHA-1; returns the file.
    std::string place(const std::string& der, DWORD location, const char* store) {
        DataBuffer sha1;
        hashBytes(der.data(), static_cast<std::uint32_t>(der.size()), kHashSha1, sha1);
        std::string folder = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W, location, store);
        std::filesystem::create_directories(folder);
        std::string file = folder + "/" + pkitest::toHex(sha1) + ".cer";
        EXPECT_TRUE(grvtest::WriteFile(file, der));
        return file;
    }
    static std::string pkits(const std::string& name) {
        return grvtest::ReadFile(std::string(kPkits) + "/" + name + ".crt");
    }
    void pin(std::int64_t unixTime) { platform::SetClockOverrideForTest(unixTime * 1000); }
};

TEST_F(ChainVerdicts, PkitsPathsAgreeWithOpensslVerify) {
    pin(kMid2020);
    const std::string anchor = pkits("TrustAnchorRootCertificate");
    std::string anchorFile = place(anchor, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    std::string anchorPem = m_work.File("anchor.pem"), poolPem = m_work.File("pool.pem");
    ASSERT_TRUE(grvtest::WriteFile(anchorPem, pemOfDer(anchor)));
    std::string pool, goodCaFile;
    for (const auto& entry : std::filesystem::directory_iterator(kPkits)) {
        std::string name = entry.path().stem().string();
        if (name.size() < 6 || name.compare(name.size() - 6, 6, "CACert") != 0)
            continue;
        std::string der = grvtest::ReadFile(entry.path().string());
        std::string file = place(der, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
        if (name == "GoodCACert")
            goodCaFile = file;
        pool += pemOfDer(der);
    }
    ASSERT_TRUE(grvtest::WriteFile(poolPem, pool));
    ASSERT_FALSE(goodCaFile.empty());

    enum Setup { kAll, kWithoutGoodCa, kAnchorUntrusted };
    struct Case {
        const char* ee;
        Setup setup;
        Verdicts want;
    } cases[] = {
        {"ValidCertificatePathTest1EE", kAll, {true, true, false}},
        {"InvalidCASignatureTest2EE", kAll, {false, true, false}},
        {"InvalidEESignatureTest3EE", kAll, {false, true, false}},
        // Two CAs of one name, old and new key: the key ids and signatures pick.
        {"ValidBasicSelfIssuedOldWithNewTest1EE", kAll, {true, true, false}},
        {"ValidBasicSelfIssuedNewWithOldTest3EE", kAll, {true, true, false}},
        {"ValidBasicSelfIssuedNewWithOldTest4EE", kAll, {true, true, false}},
        {"InvalidCAnotBeforeDateTest1EE", kAll, {true, true, true}},
        {"InvalidEEnotBeforeDateTest2EE", kAll, {true, true, true}},
        {"Validpre2000UTCnotBeforeDateTest3EE", kAll, {true, true, false}},
        {"ValidGeneralizedTimenotBeforeDateTest4EE", kAll, {true, true, false}},
        {"InvalidCAnotAfterDateTest5EE", kAll, {true, true, true}},
        {"InvalidEEnotAfterDateTest6EE", kAll, {true, true, true}},
        {"Invalidpre2000UTCEEnotAfterDateTest7EE", kAll, {true, true, true}},
        {"ValidGeneralizedTimenotAfterDateTest8EE", kAll, {true, true, false}},
        {"InvalidNameChainingTest1EE", kAll, {true, false, false}},
        {"InvalidNameChainingOrderTest2EE", kAll, {true, false, false}},
        // Issuer names that differ from their CA's subject only in case,
        // spacing or string type.
        {"ValidNameChainingWhitespaceTest3EE", kAll, {true, true, false}},
        {"ValidNameChainingWhitespaceTest4EE", kAll, {true, true, false}},
        {"ValidNameChainingCapitalizationTest5EE", kAll, {true, true, false}},
        {"ValidRolloverfromPrintableStringtoUTF8StringTest10EE", kAll, {true, true, false}},
        {"ValidUTF8StringCaseInsensitiveMatchTest11EE", kAll, {true, true, false}},
        {"ValidCertificatePathTest1EE", kWithoutGoodCa, {true, false, false}},
        {"ValidCertificatePathTest1EE", kAnchorUntrusted, {true, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ee) + " setup " + std::to_string(c.setup));
        std::string ee = pkits(c.ee), eePem = m_work.File("ee.pem");
        ASSERT_TRUE(grvtest::WriteFile(eePem, pemOfDer(ee)));
        std::vector<std::string> args{"-attime", std::to_string(kMid2020), "-show_chain"};
        if (c.setup == kWithoutGoodCa) {
            std::filesystem::remove(goodCaFile);
            std::string rest = pool;
            std::string good = pemOfDer(pkits("GoodCACert"));
            rest.erase(rest.find(good), good.size());
            ASSERT_TRUE(grvtest::WriteFile(m_work.File("rest.pem"), rest));
            args.insert(args.end(), {"-CAfile", anchorPem, "-untrusted", m_work.File("rest.pem")});
        } else if (c.setup == kAnchorUntrusted) {
            std::filesystem::remove(anchorFile);
            place(anchor, platform::CERT_SYSTEM_STORE_CURRENT_USER, "CA");
            args.insert(args.end(),
                        {"-no-CAfile", "-no-CApath", "-no-CAstore", "-untrusted", poolPem, "-untrusted", anchorPem});
        } else {
            args.insert(args.end(), {"-CAfile", anchorPem, "-untrusted", poolPem});
        }
        args.push_back(eePem);
        std::string judged = runVerify(args);
        Logger log;
        Verdicts ours = ourVerdicts(ee, log);
        EXPECT_EQ(ours, fromOpenssl(judged)) << judged << logText(log);
        EXPECT_EQ(ours, c.want);
    }
}

// openssl's "C = US, O = x" next to our "C=US, O=x".
std::string withoutSpacedEquals(std::string text) {
    for (std::size_t at; (at = text.find(" = ")) != std::string::npos;)
        text.replace(at, 3, "=");
    return text;
}

TEST_F(ChainVerdicts, ThePathBuiltIsTheOneOpensslShows) {
    pin(kMid2020);
    std::string anchor = pkits("TrustAnchorRootCertificate");
    place(anchor, platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    std::string pool;
    for (const char* ca : {"BasicSelfIssuedNewKeyCACert", "BasicSelfIssuedNewKeyOldWithNewCACert",
                           "BasicSelfIssuedOldKeyCACert", "BasicSelfIssuedOldKeyNewWithOldCACert", "GoodCACert"}) {
        place(pkits(ca), platform::CERT_SYSTEM_STORE_CURRENT_USER, ca[0] == 'G' ? "MY" : "CA");
        pool += pemOfDer(pkits(ca));
    }
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("pool.pem"), pool));
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("anchor.pem"), pemOfDer(anchor)));
    for (const char* ee : {"ValidBasicSelfIssuedOldWithNewTest1EE", "ValidBasicSelfIssuedNewWithOldTest3EE",
                           "ValidBasicSelfIssuedNewWithOldTest4EE", "ValidCertificatePathTest1EE"}) {
        SCOPED_TRACE(ee);
        std::string der = pkits(ee);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("ee.pem"), pemOfDer(der)));
        std::string judged =
            runVerify({"-attime", std::to_string(kMid2020), "-show_chain", "-CAfile", m_work.File("anchor.pem"),
                       "-untrusted", m_work.File("pool.pem"), m_work.File("ee.pem")});
        std::vector<std::string> want;
        std::istringstream in(judged);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("depth=", 0) == 0) {
                std::string name = line.substr(line.find(": ") + 2);
                want.push_back(withoutSpacedEquals(name.substr(0, name.find(" (untrusted)"))));
            }
        ASSERT_FALSE(want.empty()) << judged;

        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof(config);
        HCERTCHAINENGINE engine = nullptr;
        ASSERT_TRUE(CertCreateCertificateChainEngine(&config, &engine));
        platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
            platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        ASSERT_TRUE(CertGetCertificateChain(engine, context, nullptr, nullptr, nullptr, 0, nullptr, &chain));
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, CERT_TRUST_NO_ERROR);
        std::vector<std::string> got;
        for (DWORD i = 0; i < chain->cElement; ++i) {
            XString subject;
            MsCertificate::nameBlobToText(chain->rgpElement[i], true, subject);
            got.push_back(subject.getUtf8());
        }
        EXPECT_EQ(got, want);
        CertFreeCertificateChain(chain);
        platform::CertFreeCertificateContext(context);
        CertFreeCertificateChainEngine(engine);
    }
}

TEST_F(ChainVerdicts, RealChainInsideAndAfterItsValidity) {
    // www.cryptography.io, issued by RapidSSL SHA256 CA - G3 (valid to 2022),
    // whose GeoTrust root the system bundle does not hold; the leaf expired
    // in November 2018.
    std::string pem = grvtest::ReadFile(std::string(kVectors) + "/cryptography.io.chain.pem");
    std::vector<std::string> ders;
    ASSERT_TRUE(platform::PemCertificatesToDer(pem, ders));
    ASSERT_EQ(ders.size(), 2u);
    place(ders[1], platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
    std::string leafPem = m_work.File("leaf.pem"), caPem = m_work.File("ca.pem");
    ASSERT_TRUE(grvtest::WriteFile(leafPem, pemOfDer(ders[0])));
    ASSERT_TRUE(grvtest::WriteFile(caPem, pemOfDer(ders[1])));
    struct Case {
        std::int64_t at;
        Verdicts want;
    } cases[] = {{1451606400, {true, false, false}}, {1546300800, {true, false, true}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at);
        pin(c.at);
        std::string when = std::to_string(c.at);
        // Trust from the full verification; times and signatures from the one
        // that anchors at the intermediate.
        Verdicts trust = fromOpenssl(runVerify({"-attime", when, "-untrusted", caPem, leafPem}));
        Verdicts rest = fromOpenssl(runVerify({"-attime", when, "-partial_chain", "-CAfile", caPem, leafPem}));
        Verdicts judged{rest.signatureValid, trust.rootTrusted, rest.expired};
        Logger log;
        Verdicts ours = ourVerdicts(ders[0], log);
        EXPECT_EQ(ours, judged) << logText(log);
        EXPECT_EQ(ours, c.want);
    }
}

TEST_F(ChainVerdicts, TestCaInTheMachineRootStore) {
    pin(0);
    std::string caKey = m_work.File("ca.key"), caPem = m_work.File("ca.pem");
    openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", caKey, "-out", caPem, "-days", "30", "-subj",
             "/O=Gorvane Test/CN=Test Root", "-addext", "basicConstraints=critical,CA:TRUE"});
    std::string leafKey = m_work.File("leaf.key"), csr = m_work.File("leaf.csr"), leafPem = m_work.File("leaf.pem");
    openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", leafKey, "-out", csr, "-subj", "/CN=leaf"});
    for (const char* digest : {"-sha256", "-sha1", "-sha512", "-sha384", "-md5"}) {
        SCOPED_TRACE(digest);
        openssl({"x509", "-req", "-in", csr, "-CA", caPem, "-CAkey", caKey, "-set_serial", "7", "-days", "10", digest,
                 "-out", leafPem});
        std::string leaf = pkitest::certificateDer(leafPem);
        std::string caFile = place(pkitest::certificateDer(caPem), platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
        Logger log;
        std::unique_ptr<Certificate> cert(Certificate::createFromBytes(
            reinterpret_cast<const unsigned char*>(leaf.data()), static_cast<std::uint32_t>(leaf.size()), log, false));
        ASSERT_TRUE(cert);
        EXPECT_TRUE(cert->hasTrustedRoot(log)) << logText(log);
        EXPECT_TRUE(cert->isSignatureVerified(log));
        EXPECT_FALSE(cert->isExpired(log));
        EXPECT_NE(logText(log).find(mscert_msg::kInitValidity), std::string::npos);
        // The verdicts are worked out once: taking the CA away changes nothing
        // for this object, only for a new one.
        std::filesystem::remove(caFile);
        EXPECT_TRUE(cert->hasTrustedRoot(log));
        Logger again;
        Verdicts without = ourVerdicts(leaf, again);
        EXPECT_EQ(without, (Verdicts{true, false, false}));
        EXPECT_EQ(without, fromOpenssl(runVerify({"-no-CAfile", "-no-CApath", "-no-CAstore", leafPem})));
        // Thirty days on the leaf has expired; the CA has not.
        pin(platform::CurrentUnixTimeMs() / 1000 + 20 * 86400);
        place(pkitest::certificateDer(caPem), platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        Logger later;
        EXPECT_EQ(ourVerdicts(leaf, later), (Verdicts{true, true, true}));
        std::filesystem::remove_all(platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W,
                                                              platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT"));
        pin(0);
    }
}

TEST_F(ChainVerdicts, UnverifiableAlgorithmsFailClosed) {
    pin(0);
    place(pkits("TrustAnchorRootCertificate"), platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    place(pkits("DSACACert"), platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
    // An ECDSA CA in the ROOT store and a leaf it signed.
    std::string ecKey = m_work.File("ec.key"), ecPem = m_work.File("ec.pem");
    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", ecKey, "-out",
             ecPem, "-days", "3650", "-subj", "/CN=EC Root", "-set_serial", "1"});
    place(pkitest::certificateDer(ecPem), platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    std::string csr = m_work.File("ec-leaf.csr"), leafPem = m_work.File("ec-leaf.pem");
    openssl({"req", "-new", "-newkey", "rsa:1024", "-nodes", "-keyout", m_work.File("ec-leaf.key"), "-out", csr,
             "-subj", "/CN=EC Leaf"});
    openssl({"x509", "-req", "-in", csr, "-CA", ecPem, "-CAkey", ecKey, "-set_serial", "2", "-days", "3650", "-out",
             leafPem});
    struct Case {
        std::string der;
        Verdicts want;
    } cases[] = {
        // openssl: OK. We cannot check DSA, so the signature counts as bad.
        {pkits("ValidDSASignaturesTest4EE"), {false, true, false}},
        {pkitest::certificateDer(leafPem), {false, true, false}},
    };
    for (const auto& c : cases) {
        Logger log;
        EXPECT_EQ(ourVerdicts(c.der, log), c.want);
        EXPECT_NE(logText(log).find(chain_msg::kUnsupportedSignature), std::string::npos) << logText(log);
    }
    // Bytes that make a context but no certificate: every verdict fails.
    platform::PCCERT_CONTEXT junk = platform::CertCreateCertificateContext(
        platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>("\x30\x00"), 2);
    ASSERT_TRUE(junk);
    Logger log;
    MsCertificate ms(junk, log);
    EXPECT_FALSE(ms.isSignatureValid(log));
    EXPECT_FALSE(ms.isRootTrusted(log));
    EXPECT_TRUE(ms.isExpired(log));
    EXPECT_NE(logText(log).find(chain_msg::kUnreadableCertificate), std::string::npos);
}

} // namespace

namespace {

// A link of a generated chain, as make_chains.py reads it.
struct Link {
    const char* bc = "ca"; // "ca", "notca", "none"
    int pathlen = -1;
    const char* ku = "none"; // "sign", "nosign", "none"
    const char* time = "ok"; // "ok", "expired", "future"
    std::string more = {};   // further fields, as JSON: ,"eku":["clientAuth"]
};

std::string chainsJson(const std::vector<std::vector<Link>>& chains) {
    std::string json = "[";
    for (const auto& links : chains) {
        json += json.size() > 1 ? ",[" : "[";
        for (std::size_t j = 0; j < links.size(); ++j) {
            const Link& l = links[j];
            json += std::string(j ? "," : "") + "{\"bc\":\"" + l.bc + "\",\"ku\":\"" + l.ku + "\",\"time\":\"" +
                    l.time + "\"" + (l.pathlen >= 0 ? ",\"pathlen\":" + std::to_string(l.pathlen) : "") + l.more + "}";
        }
        json += "]";
    }
    return json + "]";
}

// The engine's status for a leaf with the certificates a server sent along
// (an additional memory store); elements receives the path's length.
DWORD chainStatus(const std::string& leaf, const std::vector<std::string>& sentDers, DWORD& elements, Logger& log,
                  const CERT_CHAIN_PARA* para = nullptr) {
    platform::HCERTSTORE sent = platform::CertOpenStore(platform::CERT_STORE_PROV_MEMORY, 0, nullptr);
    EXPECT_TRUE(sent);
    for (const std::string& der : sentDers)
        EXPECT_TRUE(platform::CertAddEncodedCertificateToStore(
            sent, platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()),
            platform::CERT_STORE_ADD_ALWAYS, nullptr));
    platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
        platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(leaf.data()), DWORD(leaf.size()));
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof(config);
    HCERTCHAINENGINE engine = nullptr;
    EXPECT_TRUE(CertCreateCertificateChainEngine(&config, &engine));
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD status = ~DWORD(0);
    elements = 0;
    if (CertGetCertificateChain(engine, context, nullptr, sent, para, 0, nullptr, &chain, &log)) {
        status = chain->TrustStatus.dwErrorStatus;
        elements = chain->cElement;
    }
    CertFreeCertificateChain(chain);
    CertFreeCertificateChainEngine(engine);
    platform::CertFreeCertificateContext(context);
    platform::CertCloseStore(sent, 0);
    return status;
}

std::string makeChains(const std::vector<std::vector<Link>>& chains, const std::string& out) {
    grvtest::RunOptions input;
    input.input = chainsJson(chains);
    return grvtest::RunProgram({"/usr/bin/python3", std::string(GRV_SOURCE_DIR) + "/tests/peers/make_chains.py", out},
                               input)
        .err;
}

} // namespace

namespace {

// Certificates openssl cannot read too (an OID padded with 0x80).
std::vector<std::string> pemDers(const std::string& file) {
    std::vector<std::string> out;
    platform::PemCertificatesToDer(grvtest::ReadFile(file), out);
    return out;
}

struct ServerVerdict {
    bool openssl = false;
    bool ours = false;
    std::string why;
};

class ServerChains : public ChainVerdicts {
protected:
    // Chain i of makeChains, of links certificates, judged for a TLS server
    // (and the host, when there is one) by `openssl verify -purpose
    // sslserver -CAfile root -untrusted links` and by the engine with the
    // root in the user's ROOT store and the links sent along; an older
    // certificate written apart goes to the CA store named, where openssl,
    // given the server's list, does not look. For any use: openssl without
    // a purpose, and the certificate's own verdicts with the links in the
    // user's CA store.
    ServerVerdict judge(std::size_t i, std::size_t links, const std::string& host, const char* olderIn = nullptr,
                        bool anyUse = false) {
        const std::string dir = m_work.File(std::to_string(i)) + "/";
        const std::string leafPem = dir + "c" + std::to_string(links - 1) + ".pem";
        std::vector<std::string> args{"-CAfile", dir + "c0.pem"};
        if (!anyUse)
            args.insert(args.begin(), {"-purpose", "sslserver"});
        if (links > 2)
            args.insert(args.end(), {"-untrusted", dir + "untrusted.pem"});
        if (!host.empty())
            args.insert(args.end(),
                        {std::isdigit(static_cast<unsigned char>(host[0])) ? "-verify_ip" : "-verify_hostname", host});
        args.push_back(leafPem);
        ServerVerdict v;
        v.why = runVerify(args);
        v.openssl = v.why.find(leafPem + ": OK") != std::string::npos;

        const std::string rootFile =
            place(pkitest::certificateDer(dir + "c0.pem"), platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        std::string olderFile;
        if (olderIn)
            olderFile = place(pkitest::certificateDer(dir + "older.pem"),
                              std::string(olderIn) == "machine" ? platform::CERT_SYSTEM_STORE_LOCAL_MACHINE
                                                                : platform::CERT_SYSTEM_STORE_CURRENT_USER,
                              "CA");
        const std::vector<std::string> sent = pemDers(dir + "untrusted.pem"), leaf = pemDers(leafPem);
        EXPECT_GE(sent.size(), links - 2);
        EXPECT_EQ(leaf.size(), 1u);
        if (anyUse) {
            std::vector<std::string> placed;
            for (const std::string& der : sent)
                placed.push_back(place(der, platform::CERT_SYSTEM_STORE_CURRENT_USER, "CA"));
            Logger log;
            const Verdicts got = ourVerdicts(leaf.at(0), log);
            v.ours = got == Verdicts{true, true, false};
            v.why += logText(log);
            for (const std::string& file : placed)
                std::filesystem::remove(file);
            std::filesystem::remove(rootFile);
            return v;
        }
        char serverAuth[] = "1.3.6.1.5.5.7.3.1";
        char* usages[] = {serverAuth};
        CERT_CHAIN_PARA para{sizeof(CERT_CHAIN_PARA), {USAGE_MATCH_TYPE_AND, {1, usages}}};
        Logger log;
        DWORD elements = 0;
        const std::uint64_t checksBefore = rsaExptmodCount(kRsaPublic);
        const DWORD status = leaf.empty() ? ~DWORD(0) : chainStatus(leaf[0], sent, elements, log, &para);
        EXPECT_LE(rsaExptmodCount(kRsaPublic) - checksBefore, std::uint64_t(kMaxSignatureChecks));
        bool named = true;
        if (!host.empty() && !leaf.empty()) {
            platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
                platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(leaf[0].data()), DWORD(leaf[0].size()));
            std::unique_ptr<CertificateFields> fields = readCertificateFields(context);
            platform::CertFreeCertificateContext(context);
            named = fields && certificateNamesHost(*fields, host);
        }
        // A leaf whose issuer is not found stands alone.
        EXPECT_EQ(elements, DWORD(status & CERT_TRUST_IS_PARTIAL_CHAIN ? 1 : links)) << logText(log);
        v.ours = status == CERT_TRUST_NO_ERROR && named;
        std::ostringstream why;
        why << "status " << std::hex << status << " named " << named << "\n" << v.why << logText(log);
        v.why = why.str();
        std::filesystem::remove(rootFile);
        if (!olderFile.empty())
            std::filesystem::remove(olderFile);
        return v;
    }
};

} // namespace

// Chains judged for a TLS server: issuers that are, or are not, CAs, path
// lengths and times; OIDs past 2^32 or padded with 0x80 in extensions and
// names; name constraints; extended key usages; unknown critical and
// repeated extensions; a signature algorithm outside the signed part that
// differs from the one inside; an intermediate whose key is out of bounds.
// The root is in the user's ROOT store, the links between in an additional
// store as a TLS server sends them; `openssl verify -purpose sslserver
// -CAfile root -untrusted links`, with the host where a row names one,
// judges each.
TEST_F(ServerChains, AreJudgedAsOpensslJudgesThem) {
    const Link ca, leaf{"notca"}, notCa{"notca"}, noBc{"none"}, noBcSigns{"none", -1, "sign"};
    const Link signs{"ca", -1, "sign"}, noSign{"ca", -1, "nosign"};
    const Link len0{"ca", 0}, len1{"ca", 1}, len2{"ca", 2};
    const Link expired{"ca", -1, "none", "expired"}, future{"ca", -1, "none", "future"};
    const Link leafExpired{"notca", -1, "none", "expired"}, leafFuture{"notca", -1, "none", "future"};
    auto withCa = [](const std::string& more) { return Link{"ca", -1, "none", "ok", more}; };
    auto withLeaf = [](const std::string& more) { return Link{"notca", -1, "none", "ok", more}; };
    // An end entity whose only basic constraints, cA TRUE, sit under an OID
    // that wraps to basicConstraints' at 32 bits, or pads it with 0x80.
    const Link wrappedCa{"none", -1, "none", "ok", R"(,"ext":[{"oid":"2.5.29.4294967315","value":"30030101ff"}])"};
    const Link paddedCa{"none", -1, "none", "ok", R"(,"ext":[{"oid":"hex:551d8013","value":"30030101ff"}])"};
    auto named = [&](const char* oid) {
        return withLeaf(std::string(R"(,"name":{"oid":")") + oid + R"(","value":"victim.example"})");
    };
    auto constrained = [&](const char* nc) { return withCa(std::string(R"(,"nc":)") + nc); };
    const char* kAllowed = R"({"permitted":["DNS:allowed.example"]})";
    auto san = [&](const char* names) { return withLeaf(std::string(R"(,"san":[)") + names + "]"); };
    auto eku = [](const Link& base, const char* usages) {
        Link l = base;
        l.more = std::string(R"(,"eku":[)") + usages + "]";
        return l;
    };
    auto unknown = [](const Link& base, bool critical) {
        Link l = base;
        l.more = std::string(R"(,"ext":[{"oid":"1.3.6.1.4.1.55555.1","value":"0500","critical":)") +
                 (critical ? "true" : "false") + "}]";
        return l;
    };
    // A second basicConstraints, critical: cA TRUE after a false one, or
    // empty (cA FALSE) after a true one.
    const Link falseThenTrue{"notca", -1, "none", "ok",
                             R"(,"ext":[{"oid":"2.5.29.19","critical":true,"value":"30030101ff"}])"};
    const Link trueThenFalse = withCa(R"(,"ext":[{"oid":"2.5.29.19","critical":true,"value":"3000"}])");
    // A second subjectAltName naming the loopback (DNS:localhost, IP:127.0.0.1).
    const Link twoAltNames =
        withLeaf(R"(,"san":["DNS:other.grv.test"],)"
                 R"("ext":[{"oid":"2.5.29.17","value":"301182096c6f63616c686f737487047f000001"}])");
    const Link leafOuterSha512 = withLeaf(R"(,"outeralg":"sha512")"), caOuterSha512 = withCa(R"(,"outeralg":"sha512")");
    // A key usage of the named bits (the later "ku" stands).
    auto usages = [](const Link& base, const char* bits) {
        Link l = base;
        l.more = std::string(R"(,"ku":[)") + bits + "]";
        return l;
    };
    // An older certificate of the intermediate's name, another key and
    // serial number, no key identifier: sent before it, or in a CA store.
    const Link olderSent = withCa(R"(,"older":"sent")"), olderApart = withCa(R"(,"older":"apart")");
    const Link olderOtherIssuer = withCa(R"(,"older":"sent","oldername":"other")");
    const Link byIssuerAndSerial = withLeaf(R"(,"akid":["issuer","serial"])");
    const Link byAllThree = withLeaf(R"(,"akid":["keyid","issuer","serial"])");
    // A common name whose value is a SEQUENCE holding "x"; an extended key
    // usage that is an OID alone.
    const char* kSequenceName = R"(,"name":{"oid":"2.5.4.3","der":"30030c0178"})";
    const char* kUnreadableEku = R"([{"oid":"2.5.29.37","value":"06032b0601"})";
    // The issuer's name under another string tag, case or spacing.
    auto issuerWritten = [](const Link& base, const char* form) {
        Link l = base;
        l.more += std::string(R"(,"issuerform":)") + form;
        return l;
    };
    auto ext = [](const char* oid, const char* value) {
        return std::string(R"({"oid":")") + oid + R"(","value":")" + value + R"("})";
    };
    // An older certificate of the intermediate's subject written in another
    // form, with more extensions.
    auto decoy = [&](const char* form, const std::string& exts) {
        return withCa(std::string(R"(,"older":"sent","olderform":)") + form + R"(,"olderext":[)" + exts + "]");
    };
    // An OCTET STRING where a SEQUENCE belongs; a point named by a URI; a
    // point named relative to its CRL issuer by a UTF8String that is no
    // UTF-8.
    const char* kBadValue = "04020000";
    const char* kCrlPoint = "30093007a005a003860178";
    struct Case {
        const char* name;
        std::vector<Link> links;
        bool trusted;                  // root to leaf all as they should be
        const char* host = "";         // when set, the leaf must name it too
        const char* olderIn = nullptr; // "user" or "machine": older.pem's CA store
        bool anyUse = false;           // judged for no use: the certificate's own verdicts
    } cases[] = {
        {"root and leaf", {ca, leaf}, true},
        {"one intermediate", {ca, ca, leaf}, true},
        {"two intermediates", {ca, ca, ca, leaf}, true},
        {"leaf issued by an end entity", {ca, notCa, leaf}, false},
        {"end entity between CAs", {ca, ca, notCa, leaf}, false},
        {"intermediate without basic constraints", {ca, noBc, leaf}, false},
        {"intermediate with only a signing key usage", {ca, noBcSigns, leaf}, false},
        {"root without basic constraints", {noBc, leaf}, false},
        {"root with only a signing key usage", {noBcSigns, leaf}, true},
        {"root that is no CA", {notCa, leaf}, false},
        {"key usage allows signing", {signs, signs, leaf}, true},
        {"intermediate key usage without signing", {ca, noSign, leaf}, false},
        {"root key usage without signing", {noSign, ca, leaf}, false},
        {"path length 0 over an intermediate", {len0, ca, leaf}, false},
        {"path length 1 over an intermediate", {len1, ca, leaf}, true},
        {"path length 1 over two", {len1, ca, ca, leaf}, false},
        {"path length 2 over two", {len2, ca, ca, leaf}, true},
        {"intermediate path length 0 over another", {ca, len0, ca, leaf}, false},
        {"path length 0 right above the leaf", {ca, len0, leaf}, true},
        {"expired leaf", {ca, ca, leafExpired}, false},
        {"expired intermediate", {ca, expired, leaf}, false},
        {"expired root", {expired, ca, leaf}, false},
        {"leaf not yet valid", {ca, leafFuture}, false},
        {"intermediate not yet valid", {ca, ca, future, leaf}, false},
        {"root not yet valid", {future, leaf}, false},
        {"leaf that says it is a CA", {ca, ca, len0}, true},
        {"end entity made a CA by an OID past 2^32", {ca, wrappedCa, leaf}, false},
        {"end entity made a CA by an OID padded with 0x80", {ca, paddedCa, leaf}, false},
        {"only name under an OID past 2^32", {ca, named("2.5.4.4294967299")}, false, "victim.example"},
        {"only name under a padded OID", {ca, named("hex:55048003")}, false, "victim.example"},
        {"only name a common name", {ca, named("2.5.4.3")}, true, "victim.example"},
        {"name outside the permitted DNS names", {ca, constrained(kAllowed), san(R"("DNS:victim.example")")}, false},
        {"name inside the permitted DNS names", {ca, constrained(kAllowed), san(R"("DNS:www.allowed.example")")}, true},
        {"common name outside the permitted DNS names",
         {ca, constrained(kAllowed), named("2.5.4.3")},
         false,
         "victim.example"},
        {"the root's own permitted DNS names", {constrained(kAllowed), san(R"("DNS:victim.example")")}, false},
        {"name inside the excluded DNS names",
         {ca, constrained(R"({"excluded":["DNS:localhost"]})"), san(R"("DNS:localhost")")},
         false},
        {"name outside the excluded DNS names",
         {ca, constrained(R"({"excluded":["DNS:localhost"]})"), san(R"("DNS:victim.example")")},
         true},
        {"address outside the permitted range",
         {ca, constrained(R"({"permitted":["IP:10.0.0.0/8"]})"), san(R"("IP:127.0.0.1")")},
         false},
        {"address inside the permitted range",
         {ca, constrained(R"({"permitted":["IP:127.0.0.0/8"]})"), san(R"("IP:127.0.0.1")")},
         true},
        {"address inside the excluded range",
         {ca, constrained(R"({"excluded":["IP:127.0.0.0/8"]})"), san(R"("IP:127.0.0.1")")},
         false},
        {"leaf for client authentication only", {ca, ca, eku(leaf, R"("clientAuth")")}, false},
        {"intermediate for client authentication only", {ca, eku(ca, R"("clientAuth")"), leaf}, false},
        {"leaf for server authentication", {ca, ca, eku(leaf, R"("serverAuth")")}, true},
        {"intermediate for both", {ca, eku(ca, R"("clientAuth","serverAuth")"), leaf}, true},
        {"unknown critical extension on the leaf", {ca, unknown(leaf, true)}, false},
        {"unknown critical extension on an intermediate", {ca, unknown(ca, true), leaf}, false},
        {"the same extension not critical", {ca, unknown(ca, false), unknown(leaf, false)}, true},
        {"intermediate with cA false, then true", {ca, falseThenTrue, leaf}, false},
        {"intermediate with cA true, then false", {ca, trueThenFalse, leaf}, false},
        {"leaf with two subjectAltNames", {ca, twoAltNames}, false, "127.0.0.1"},
        {"leaf with one subjectAltName", {ca, san(R"("DNS:localhost","IP:127.0.0.1")")}, true, "127.0.0.1"},
        {"leaf signed under another algorithm than it names", {ca, leafOuterSha512}, false},
        {"intermediate signed under another algorithm than it names", {ca, caOuterSha512, leaf}, false},
        {"leaf key usage certificate signing only", {ca, usages(leaf, R"("keyCertSign")")}, false},
        {"leaf key usage without a TLS bit", {ca, ca, usages(leaf, R"("nonRepudiation","dataEncipherment")")}, false},
        {"leaf key usage digital signature", {ca, usages(leaf, R"("digitalSignature")")}, true},
        {"leaf key usage key encipherment", {ca, usages(leaf, R"("keyEncipherment","cRLSign")")}, true},
        {"leaf key usage key agreement", {ca, usages(leaf, R"("keyAgreement")")}, true},
        {"intermediate key usage certificate signing only", {ca, usages(ca, R"("keyCertSign")"), leaf}, true},
        {"intermediate key of a 16,385-bit modulus", {ca, withCa(R"(,"pubkey":[16385,17])"), leaf}, false},
        {"intermediate key of a 65-bit exponent", {ca, withCa(R"(,"pubkey":[4096,65])"), leaf}, false},
        // Sent before the leaf's issuer, badly signed certificates of its
        // name and key identifier, keys dear to check: openssl takes the
        // first and fails its signature, however few.
        {"one impostor of the leaf's issuer", {ca, withCa(R"(,"impostors":1)"), leaf}, false},
        {"an impostor of the leaf's issuer that is no CA",
         {ca, withCa(R"(,"impostors":1,"impostorbc":"notca")"), leaf},
         false},
        {"an impostor of the leaf's issuer without key identifier",
         {ca, withCa(R"(,"impostors":1,"impostorski":false)"), leaf},
         false},
        {"7 impostors of the leaf's issuer", {ca, withCa(R"(,"impostors":7)"), leaf}, false},
        {"20 impostors of the leaf's issuer", {ca, withCa(R"(,"impostors":20)"), leaf}, false},
        {"100 impostors of the leaf's issuer", {ca, withCa(R"(,"impostors":100)"), leaf}, false},
        {"180 impostors of the leaf's issuer", {ca, withCa(R"(,"impostors":180)"), leaf}, false},
        // The authority key identifier names the issuer by every field it
        // holds; one that differs in any leaves the candidate out.
        {"issuer named by issuer and serial, an older one sent first", {ca, olderSent, byIssuerAndSerial}, true},
        {"issuer named by key id, issuer and serial, an older one sent first", {ca, olderSent, byAllThree}, true},
        {"issuer named by key id only, an older one sent first", {ca, olderSent, leaf}, false},
        {"issuer named by issuer and serial, one of its serial from another issuer sent first",
         {ca, olderOtherIssuer, byIssuerAndSerial},
         true},
        {"20 impostors without key identifier, the issuer named by issuer and serial",
         {ca, withCa(R"(,"impostors":20,"impostorski":false)"), byIssuerAndSerial},
         true},
        {"an older one in the user's CA store, the intermediate sent", {ca, olderApart, leaf}, true, "", "user"},
        {"an older one in the machine's CA store, the intermediate sent", {ca, olderApart, leaf}, true, "", "machine"},
        // Names compare as openssl compares them.
        {"issuer name a PrintableString", {ca, ca, issuerWritten(leaf, R"({"tag":19})")}, true},
        {"issuer name a BMPString", {ca, ca, issuerWritten(leaf, R"({"tag":30})")}, true},
        {"issuer name in capitals", {ca, ca, issuerWritten(leaf, R"({"upper":true})")}, true},
        {"issuer name with spaces doubled and around it", {ca, ca, issuerWritten(leaf, R"({"space":"  "})")}, true},
        {"issuer name with tabs for spaces", {ca, ca, issuerWritten(leaf, R"({"tag":22,"space":"\t"})")}, true},
        {"root's name in capitals as a T61String", {ca, issuerWritten(ca, R"({"tag":20,"upper":true})"), leaf}, true},
        {"issuer name a NumericString", {ca, ca, issuerWritten(leaf, R"({"tag":18})")}, false},
        {"issuer name without its spaces", {ca, ca, issuerWritten(leaf, R"({"space":""})")}, false},
        // A value of another type is compared as written: a SEQUENCE in DER
        // matches only itself, not the same written with an indefinite
        // length, which matches only itself.
        {"issuer name a SEQUENCE as its issuer's",
         {ca, withCa(kSequenceName), issuerWritten(leaf, R"({"der":"30030c0178"})")},
         true},
        {"issuer name a SEQUENCE of indefinite length",
         {ca, withCa(kSequenceName), issuerWritten(leaf, R"({"der":"30800c01780000"})")},
         false},
        {"issuer name a SEQUENCE of indefinite length as its issuer's",
         {ca, withCa(R"(,"name":{"oid":"2.5.4.3","der":"30800c01780000"})"),
          issuerWritten(leaf, R"({"der":"30800c01780000"})")},
         true},
        // openssl takes a certificate with an extension it cannot read for
        // no one's issuer, and finds no issuer for one.
        {"an older one with an extended key usage that cannot be read sent first",
         {ca, withCa(std::string(R"(,"older":"sent","olderext":)") + kUnreadableEku + "]"), leaf},
         true},
        {"an older one whose key usage allows nothing sent first",
         {ca, withCa(R"(,"older":"sent","olderext":[{"oid":"2.5.29.15","critical":true,"value":"03020700"}])"), leaf},
         true},
        {"an older one whose alternative names cannot be read sent first",
         {ca, withCa(R"(,"older":"sent","olderext":[{"oid":"2.5.29.17","value":"04020000"}])"), leaf},
         true},
        {"an older one with an extended key usage that cannot be read in the user's CA store",
         {ca, withCa(std::string(R"(,"older":"apart","olderext":)") + kUnreadableEku + "]"), leaf},
         true,
         "",
         "user"},
        {"leaf whose name constraints cannot be read",
         {ca, withLeaf(R"(,"ext":[{"oid":"2.5.29.30","critical":true,"value":"04020000"}])")},
         false},
        {"leaf with an extended key usage that cannot be read, for any use",
         {ca, withLeaf(std::string(R"(,"ext":)") + kUnreadableEku + "]")},
         false,
         "",
         nullptr,
         true},
        {"intermediate with an extended key usage that cannot be read, for any use",
         {ca, withCa(std::string(R"(,"ext":)") + kUnreadableEku + "]"), leaf},
         false,
         "",
         nullptr,
         true},
        {"leaf whose key usage allows nothing, for any use", {ca, usages(leaf, "")}, false, "", nullptr, true},
        // A certificate of the intermediate's name in another case or
        // string type, another key and no key identifier, sent before it:
        // openssl passes it over when it cannot read one of its extensions
        // or its key, and takes it (and fails its signature) when it can.
        {"an older one in capitals sent first", {ca, decoy(R"({"upper":true})", ""), leaf}, false},
        {"an older one in capitals with CRL distribution points that cannot be read sent first",
         {ca, decoy(R"({"upper":true})", ext("2.5.29.31", kBadValue)), leaf},
         true},
        {"an older one as a PrintableString with CRL distribution points twice sent first",
         {ca, decoy(R"({"tag":19})", ext("2.5.29.31", kCrlPoint) + "," + ext("2.5.29.31", kCrlPoint)), leaf},
         true},
        {"an older one as a BMPString with a Netscape type of 8 unused bits sent first",
         {ca, decoy(R"({"tag":30})", ext("2.16.840.1.113730.1.1", "03020800")), leaf},
         true},
        // Unused bits and no octet: no type, which openssl reads.
        {"an older one in capitals with a Netscape type of no octet sent first",
         {ca, decoy(R"({"upper":true})", ext("2.16.840.1.113730.1.1", "030107")), leaf},
         false},
        {"intermediate with a Netscape type of no octet, named in capitals",
         {ca, withCa(R"(,"ext":[)" + ext("2.16.840.1.113730.1.1", "030107") + "]"),
          issuerWritten(leaf, R"({"upper":true})")},
         true},
        {"an older one in capitals with a proxyCertInfo that cannot be read sent first",
         {ca, decoy(R"({"upper":true})", ext("1.3.6.1.5.5.7.1.14", kBadValue)), leaf},
         true},
        {"an older one as a UTF8String in capitals with address blocks that cannot be read sent first",
         {ca, decoy(R"({"tag":12,"upper":true})", ext("1.3.6.1.5.5.7.1.7", kBadValue)), leaf},
         true},
        {"an older one in capitals with AS identifiers that cannot be read sent first",
         {ca, decoy(R"({"upper":true})", ext("1.3.6.1.5.5.7.1.8", kBadValue)), leaf},
         true},
        {"an older one in capitals whose RSA key is a SET sent first",
         {ca, withCa(R"(,"older":"sent","olderform":{"upper":true},"olderkey":"set")"), leaf},
         true},
        {"an older one in capitals whose key is a BIT STRING of no bits sent first",
         {ca, withCa(R"(,"older":"sent","olderform":{"upper":true},"olderkey":"empty")"), leaf},
         true},
        {"intermediate with CRL distribution points that cannot be read, named in capitals",
         {ca, withCa(R"(,"ext":[)" + ext("2.5.29.31", kBadValue) + "]"), issuerWritten(leaf, R"({"upper":true})")},
         false},
        // openssl reads a SEQUENCE OF written primitive as its items.
        {"intermediate with CRL distribution points written primitive, named in capitals",
         {ca, withCa(R"(,"ext":[)" + ext("2.5.29.31", "10093007a005a003860178") + "]"),
          issuerWritten(leaf, R"({"upper":true})")},
         true},
        {"intermediate with CRL distribution points, named in capitals",
         {ca, withCa(R"(,"ext":[)" + ext("2.5.29.31", kCrlPoint) + "]"), issuerWritten(leaf, R"({"upper":true})")},
         true},
        {"leaf whose Netscape type allows an SSL client only",
         {ca, withLeaf(R"(,"ext":[)" + ext("2.16.840.1.113730.1.1", "03020780") + "]")},
         false},
        {"leaf whose Netscape type allows an SSL server",
         {ca, withLeaf(R"(,"ext":[)" + ext("2.16.840.1.113730.1.1", "03020640") + "]")},
         true},
        {"one intermediate, for any use", {ca, ca, leaf}, true, "", nullptr, true},
    };
    std::vector<std::vector<Link>> chains;
    for (const Case& c : cases)
        chains.push_back(c.links);
    ASSERT_EQ(makeChains(chains, m_work.Path()), "");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const ServerVerdict v = judge(i, cases[i].links.size(), cases[i].host, cases[i].olderIn, cases[i].anyUse);
        EXPECT_EQ(v.ours, v.openssl) << v.why;
        EXPECT_EQ(v.openssl, cases[i].trusted) << v.why;
    }
}

// A leaf named only by a common name, under DNS name constraints: a name of
// letters, digits, '-', '.' and '_' both sides judge by the constraints; a
// wildcard the constraints judge here and openssl's pass by; a name of any
// other byte, or of one label, openssl's constraints pass by and its host
// check matches, while here it names no host. A name under each string
// type and tag, and alternative names written constructed, both sides read
// alike.
TEST_F(ServerChains, ACommonNameNamesAHostOnlyWhereTheConstraintsJudgeIt) {
    const std::vector<pkitest::CommonNameRow> rows = pkitest::commonNameRows();
    std::vector<std::vector<Link>> chains;
    for (const pkitest::CommonNameRow& row : rows)
        chains.push_back(
            {Link{}, Link{"ca", -1, "none", "ok", row.caMore}, Link{"notca", -1, "none", "ok", row.leafMore}});
    ASSERT_EQ(makeChains(chains, m_work.Path()), "");
    int parted = 0, trusted = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].host);
        const ServerVerdict v = judge(i, 3, rows[i].host);
        EXPECT_EQ(v.ours, v.openssl && rows[i].plainName) << v.why;
        EXPECT_EQ(v.why.find(kOpensslReadNoCertificate) != std::string::npos, rows[i].unreadable) << v.why;
        EXPECT_EQ(v.ours, rows[i].refusal == pkitest::NameRefusal::kNone) << v.why;
        parted += v.openssl && !v.ours;
        trusted += v.ours;
    }
    // Both answers, and both kinds of row, in numbers.
    EXPECT_EQ(trusted, 13);
    EXPECT_GT(parted, 60);
}

// Where this engine parts from openssl on purpose: anyExtendedKeyUsage
// allows every purpose (openssl's sslserver purpose refuses it); a critical
// policy extension is not understood (openssl, asked for no policy check,
// passes it by); a name
// constraint of a form not judged here fails the chain (openssl judges
// e-mail constraints only against e-mail names); a wildcard that reaches an
// excluded name is refused (openssl compares the text only). Each row holds
// openssl's verdict as well, so a change on either side shows.
TEST_F(ChainVerdicts, WhereTheEngineReadsConstraintsAndUsagesOtherwise) {
    auto link = [](const char* bc, const std::string& more) { return Link{bc, -1, "none", "ok", more}; };
    const Link ca;
    struct Case {
        const char* name;
        std::vector<Link> links;
        DWORD want;
        bool opensslTrusts;
    } cases[] = {
        {"leaf for any usage", {ca, link("notca", R"(,"eku":["any"])")}, CERT_TRUST_NO_ERROR, false},
        {"intermediate for any usage",
         {ca, link("ca", R"(,"eku":["any"])"), link("notca", "")},
         CERT_TRUST_NO_ERROR,
         false},
        {"e-mail constraint over a DNS name",
         {ca, link("ca", R"(,"nc":{"permitted":["email:grv.test"]})"), link("notca", R"(,"san":["DNS:localhost"])")},
         CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT,
         true},
        {"wildcard reaching an excluded name",
         {ca, link("ca", R"(,"nc":{"excluded":["DNS:secret.corp.example"]})"),
          link("notca", R"(,"san":["DNS:*.corp.example"])")},
         CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT,
         true},
        // requireExplicitPolicy 0: policies are not processed here.
        {"critical policy constraints on an intermediate",
         {ca, link("ca", R"(,"ext":[{"oid":"2.5.29.36","value":"3003800100","critical":true}])"), link("notca", "")},
         CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT,
         true},
        {"wildcard inside the permitted names",
         {ca, link("ca", R"(,"nc":{"permitted":["DNS:corp.example"]})"),
          link("notca", R"(,"san":["DNS:*.corp.example"])")},
         CERT_TRUST_NO_ERROR,
         true},
    };
    std::vector<std::vector<Link>> chains;
    for (const Case& c : cases)
        chains.push_back(c.links);
    ASSERT_EQ(makeChains(chains, m_work.Path()), "");
    char serverAuth[] = "1.3.6.1.5.5.7.3.1";
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA para{sizeof(CERT_CHAIN_PARA), {USAGE_MATCH_TYPE_AND, {1, usages}}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string dir = m_work.File(std::to_string(i)) + "/";
        const std::string leafPem = dir + "c" + std::to_string(c.links.size() - 1) + ".pem";
        std::vector<std::string> args{"-purpose", "sslserver", "-CAfile", dir + "c0.pem"};
        if (c.links.size() > 2)
            args.insert(args.end(), {"-untrusted", dir + "untrusted.pem"});
        args.push_back(leafPem);
        const std::string judged = runVerify(args);
        EXPECT_EQ(judged.find(leafPem + ": OK") != std::string::npos, c.opensslTrusts) << judged;
        const std::string rootFile =
            place(pkitest::certificateDer(dir + "c0.pem"), platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        std::vector<std::string> links;
        platform::PemCertificatesToDer(grvtest::ReadFile(dir + "untrusted.pem"), links);
        Logger log;
        DWORD elements = 0;
        EXPECT_EQ(chainStatus(pkitest::certificateDer(leafPem), links, elements, log, &para), c.want) << logText(log);
        std::filesystem::remove(rootFile);
    }
}

// The server's own certificates are candidates only: without them the
// chain stops short, and a certificate they hold is never trusted for being
// sent.
TEST_F(ChainVerdicts, SentCertificatesCompleteAChainButAreNeverTrusted) {
    ASSERT_EQ(makeChains({{Link{}, Link{}, Link{"notca"}}}, m_work.Path()), "");
    const std::string dir = m_work.File("0") + "/";
    auto der = [&](int j) { return pkitest::certificateDer(dir + "c" + std::to_string(j) + ".pem"); };
    struct Case {
        const char* name;
        bool rootInStore;
        std::vector<int> sent;
        DWORD want;
    } cases[] = {
        {"intermediate sent", true, {1}, CERT_TRUST_NO_ERROR},
        {"intermediate and root sent", true, {1, 0}, CERT_TRUST_NO_ERROR},
        {"nothing sent", true, {}, CERT_TRUST_IS_PARTIAL_CHAIN},
        {"root only sent, not in a store", false, {1, 0}, CERT_TRUST_IS_UNTRUSTED_ROOT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string rootFile;
        if (c.rootInStore)
            rootFile = place(der(0), platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        std::vector<std::string> sent;
        for (int j : c.sent)
            sent.push_back(der(j));
        Logger log;
        DWORD elements = 0;
        EXPECT_EQ(chainStatus(der(2), sent, elements, log), c.want) << logText(log);
        if (!rootFile.empty())
            std::filesystem::remove(rootFile);
    }
}

// NIST PKITS' basic constraints and key usage paths (its sections 4.6 and
// 4.7): every CA of the set in the machine CA store, the anchor in ROOT,
// judged beside `openssl verify` and beside the set's own Valid/Invalid
// names. The two cRLSign paths are invalid only for their CRLs, which
// neither side reads here.
TEST_F(ChainVerdicts, PkitsBasicConstraintsAndKeyUsagePaths) {
    pin(kMid2020);
    place(pkits("TrustAnchorRootCertificate"), platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    std::string pool;
    std::vector<std::string> ees;
    for (const auto& entry : std::filesystem::directory_iterator(kPkits)) {
        const std::string name = entry.path().stem().string();
        const bool ee = name.size() > 2 && name.compare(name.size() - 2, 2, "EE") == 0;
        const bool section =
            name.find("asicConstraints") != std::string::npos || name.find("cAFalse") != std::string::npos ||
            name.find("pathLenConstraint") != std::string::npos || name.find("keyUsage") != std::string::npos;
        if (!section)
            continue;
        if (ee) {
            ees.push_back(name);
            continue;
        }
        const std::string der = grvtest::ReadFile(entry.path().string());
        place(der, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
        pool += pemOfDer(der);
    }
    ASSERT_GE(ees.size(), 20u);
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("pool.pem"), pool));
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("anchor.pem"), pemOfDer(pkits("TrustAnchorRootCertificate"))));
    for (const std::string& ee : ees) {
        SCOPED_TRACE(ee);
        const std::string der = pkits(ee);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("ee.pem"), pemOfDer(der)));
        const std::string judged = runVerify({"-attime", std::to_string(kMid2020), "-CAfile", m_work.File("anchor.pem"),
                                              "-untrusted", m_work.File("pool.pem"), m_work.File("ee.pem")});
        const bool opensslTrusts = judged.find(": OK") != std::string::npos;
        Logger log;
        DWORD elements = 0;
        const DWORD status = chainStatus(der, {}, elements, log);
        EXPECT_EQ(status == CERT_TRUST_NO_ERROR, opensslTrusts) << std::hex << status << "\n" << judged << logText(log);
        if (ee.find("cRLSignFalse") == std::string::npos) {
            EXPECT_EQ(opensslTrusts, ee.rfind("Valid", 0) == 0) << judged;
        }
    }
}

namespace {

// Past the time after which the engines share what they read of the stores.
void waitUntilStoresSettle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStoresSettledAfterMs + 200));
}

} // namespace

// Engines share the stores they read while nothing in them changes; every
// change must count for the next engine as it would for a fresh process.
// Each step changes the stores, then a new engine judges a three-link chain
// (the intermediate sent along) beside `openssl verify` over the ROOT
// certificates the step leaves. A step that wrote a file waits for the
// stores to settle before its engine when the next step's change is to be
// judged against a shared reading rather than a fresh one.
TEST_F(ChainVerdicts, StoreChangesCountForTheNextEngine) {
    ASSERT_EQ(makeChains({{Link{}, Link{}, Link{"notca"}}, {Link{}, Link{"notca"}}}, m_work.Path()), "");
    auto file = [&](int chain, int link) {
        return m_work.File(std::to_string(chain)) + "/c" + std::to_string(link) + ".pem";
    };
    const std::string root = pkitest::certificateDer(file(0, 0)), otherRoot = pkitest::certificateDer(file(1, 0));
    const std::string intermediate = pkitest::certificateDer(file(0, 1)), leaf = pkitest::certificateDer(file(0, 2));
    const DWORD kUser = platform::CERT_SYSTEM_STORE_CURRENT_USER, kMachine = platform::CERT_SYSTEM_STORE_LOCAL_MACHINE;
    grvtest::TempDir otherUser{"other-user"};
    std::string userRootFile, machineRootFile;
    const std::string userData = m_user.Path();
    struct Step {
        const char* name;
        std::function<void()> change;
        bool settle;
    };
    const Step steps[] = {
        {"nothing trusted", [] {}, false},
        {"root into the user's ROOT", [&] { userRootFile = place(root, kUser, "ROOT"); }, true},
        {"root taken out", [&] { std::filesystem::remove(userRootFile); }, false},
        {"root only among the CAs", [&] { place(root, kUser, "CA"); }, false},
        {"root into the machine's ROOT", [&] { machineRootFile = place(root, kMachine, "ROOT"); }, true},
        {"root's file rewritten with another root",
         [&] { ASSERT_TRUE(grvtest::WriteFile(machineRootFile, otherRoot)); }, true},
        {"root's file back", [&] { ASSERT_TRUE(grvtest::WriteFile(machineRootFile, root)); }, true},
        {"another user, whose ROOT lacks it",
         [&] {
             std::filesystem::remove(machineRootFile);
             userRootFile = place(root, kUser, "ROOT");
             setenv("XDG_DATA_HOME", otherUser.Path().c_str(), 1);
         },
         true},
        {"the first user again", [&] { setenv("XDG_DATA_HOME", userData.c_str(), 1); }, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        if (step.settle)
            waitUntilStoresSettle();
        // openssl's trust: whatever certificates the ROOT folders now hold.
        std::string trusted;
        for (DWORD location : {kUser, kMachine}) {
            std::error_code ec;
            const std::string folder = platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W, location, "ROOT");
            for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
                trusted += pemOfDer(grvtest::ReadFile(entry.path().string()));
        }
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("trusted.pem"), trusted));
        std::vector<std::string> args{"-no-CAfile", "-no-CApath", "-no-CAstore", "-untrusted", file(0, 1)};
        if (!trusted.empty())
            args.insert(args.end(), {"-CAfile", m_work.File("trusted.pem")});
        args.push_back(file(0, 2));
        const std::string judged = runVerify(args);
        Logger log;
        DWORD elements = 0;
        const DWORD status = chainStatus(leaf, {intermediate}, elements, log);
        EXPECT_EQ(status == CERT_TRUST_NO_ERROR, judged.find(": OK") != std::string::npos) << std::hex << status << "\n"
                                                                                           << judged << logText(log);
    }
}

// Engines made and used on several threads at once while the root comes and
// goes: each verdict is one the stores allowed at some moment, and the last
// state of the stores is the one judged once they stay still.
TEST_F(ChainVerdicts, EnginesOnSeveralThreadsWhileTheRootComesAndGoes) {
    ASSERT_EQ(makeChains({{Link{}, Link{"notca"}}}, m_work.Path()), "");
    const std::string root = pkitest::certificateDer(m_work.File("0") + "/c0.pem");
    const std::string leaf = pkitest::certificateDer(m_work.File("0") + "/c1.pem");
    constexpr int kThreads = 4, kFlips = 6;
    std::atomic<bool> stop{false};
    std::atomic<int> judged{0};
    std::vector<std::thread> threads;
    std::vector<std::vector<DWORD>> seen(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!stop) {
                Logger log;
                DWORD elements = 0;
                seen[t].push_back(chainStatus(leaf, {}, elements, log));
                ++judged;
            }
        });
    std::string rootFile;
    for (int flip = 0; flip < kFlips; ++flip) {
        const int before = judged;
        if (rootFile.empty())
            rootFile = place(root, platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        else
            std::filesystem::remove(std::exchange(rootFile, std::string()));
        while (judged < before + kThreads)
            std::this_thread::yield();
    }
    stop = true;
    for (std::thread& t : threads)
        t.join();
    for (int t = 0; t < kThreads; ++t)
        for (DWORD status : seen[t])
            EXPECT_TRUE(status == CERT_TRUST_NO_ERROR || status == CERT_TRUST_IS_PARTIAL_CHAIN) << std::hex << status;
    // An even number of flips left the root out.
    Logger log;
    DWORD elements = 0;
    EXPECT_EQ(chainStatus(leaf, {}, elements, log), CERT_TRUST_IS_PARTIAL_CHAIN);
}
