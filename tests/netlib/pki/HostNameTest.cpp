// Whether a certificate names a host, judged on a table of certificates and
// hosts by python's ssl.match_hostname (wildcards only as the whole
// left-most label, the common name only without DNS or IP alternative
// names).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/pki/CertificateFields.h"
#include "platform/CertStore.h"

using namespace tessik;

namespace {

constexpr const char* kJudge = R"PY(
import ssl, sys, warnings
warnings.simplefilter("ignore")
for line in sys.stdin.read().splitlines():
    path, host = line.split(" ", 1)
    try:
        ssl.match_hostname(ssl._ssl._test_decode_cert(path), host)
        print("match")
    except ssl.CertificateError:
        print("mismatch")
)PY";

TEST(CertificateHostNames, AgreeWithPythonOnATableOfNamesAndHosts) {
    grvtest::TempDir dir{"names"};
    const std::string key = dir.File("k.pem");
    pkitest::openssl({"genrsa", "-out", key, "1024"});
    struct Cert {
        const char* subject;
        const char* altNames; // empty: no subjectAltName
    } certs[] = {
        {"/CN=grv", "DNS:www.grv.test"},
        {"/CN=grv", "DNS:*.grv.test"},
        {"/CN=grv", "DNS:*.grv.test,DNS:grv.test"},
        {"/CN=grv", "IP:127.0.0.1,IP:::1"},
        {"/CN=www.grv.test", ""},
        {"/CN=*.grv.test", ""},
        {"/CN=www.grv.test", "DNS:other.grv.test"},
        {"/CN=www.grv.test", "email:a@grv.test"},
        {"/CN=www.grv.test", "IP:127.0.0.2"},
        {"/CN=grv", "DNS:w*.grv.test"},
        {"/CN=grv", "DNS:a.*.grv.test"},
        {"/CN=grv", "DNS:*"},
        {"/CN=grv", "DNS:*.test"},
        {"/CN=grv", "DNS:WWW.GRV.TEST"},
        {"/CN=127.0.0.1", ""},
        {"/CN=grv", "DNS:127.0.0.1"},
        {"/CN=grv", "DNS:other.grv.test,DNS:www.grv.test"},
    };
    const char* hosts[] = {"www.grv.test", "WWW.Grv.Test", "grv.test",  "a.b.grv.test", "other.grv.test",
                           "wx.grv.test",  "127.0.0.1",    "127.0.0.2", "::1",          ".grv.test"};
    std::string lines;
    std::vector<std::string> ders;
    for (std::size_t i = 0; i < std::size(certs); ++i) {
        const std::string pem = dir.File("c" + std::to_string(i) + ".pem");
        std::vector<std::string> args{"req", "-x509", "-key", key,     "-out",
                                      pem,   "-days", "2",    "-subj", certs[i].subject};
        if (*certs[i].altNames)
            args.insert(args.end(), {"-addext", std::string("subjectAltName=") + certs[i].altNames});
        pkitest::openssl(args);
        ders.push_back(pkitest::certificateDer(pem));
        for (const char* host : hosts)
            lines += pem + " " + host + "\n";
    }
    grvtest::RunOptions options;
    options.input = lines;
    const grvtest::RunResult judged = grvtest::RunProgram({"/usr/bin/python3", "-c", kJudge}, options);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::istringstream verdicts(judged.out);
    int matches = 0;
    for (std::size_t i = 0; i < std::size(certs); ++i) {
        platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
            platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(ders[i].data()), DWORD(ders[i].size()));
        std::unique_ptr<CertificateFields> fields = readCertificateFields(context);
        platform::CertFreeCertificateContext(context);
        ASSERT_TRUE(fields);
        for (const char* host : hosts) {
            std::string want;
            ASSERT_TRUE(std::getline(verdicts, want));
            const bool ours = certificateNamesHost(*fields, host);
            matches += ours;
            EXPECT_EQ(ours, want == "match") << certs[i].subject << " " << certs[i].altNames << " for " << host;
        }
    }
    // The table holds both answers in numbers.
    EXPECT_GT(matches, 15);
    EXPECT_LT(matches, int(std::size(certs) * std::size(hosts)) / 2);
}

TEST(CertificateHostNames, BracketedIpv6HostsAreAddresses) {
    grvtest::TempDir dir{"names"};
    const std::string pem = dir.File("c.pem");
    pkitest::openssl({"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", dir.File("k.pem"), "-out", pem,
                      "-days", "2", "-subj", "/CN=grv", "-addext", "subjectAltName=IP:::1"});
    const std::string der = pkitest::certificateDer(pem);
    platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
        platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()));
    std::unique_ptr<CertificateFields> fields = readCertificateFields(context);
    platform::CertFreeCertificateContext(context);
    ASSERT_TRUE(fields);
    EXPECT_TRUE(certificateNamesHost(*fields, "[::1]"));
    EXPECT_TRUE(certificateNamesHost(*fields, "0:0::1"));
    EXPECT_FALSE(certificateNamesHost(*fields, "[::2]"));
}

} // namespace
