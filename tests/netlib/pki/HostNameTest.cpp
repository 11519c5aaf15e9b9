// Whether a certificate names a host, judged on a table of certificates and
// hosts by python's ssl as its connections check them: each pair is a
// handshake in memory with the certificate as the only trust anchor and the
// host as the name to check (wildcards only as the whole left-most label
// over two labels or more, IP hosts only against IP alternative names, the
// common name only without DNS alternative names). Where the two part: a
// common name of one label names no host here, as openssl's name
// constraints pass it by; python's check matches it.
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

// argv[1]: the key of every certificate. One line out per "path host" in:
// "match", "mismatch", or what else stopped the handshake.
constexpr const char* kJudge = R"PY(
import ssl, sys
key = sys.argv[1]
def verdict(path, host):
    server = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    server.set_ciphers("DEFAULT:@SECLEVEL=0")
    server.load_cert_chain(path, key)
    client = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    client.set_ciphers("DEFAULT:@SECLEVEL=0")
    client.load_verify_locations(path)
    to_server, to_client = ssl.MemoryBIO(), ssl.MemoryBIO()
    try:
        c = client.wrap_bio(to_client, to_server, server_hostname=host)
    except ValueError:
        return "mismatch"  # a host python will not even ask for
    s = server.wrap_bio(to_server, to_client, server_side=True)
    done = set()
    for _ in range(8):
        for side in (c, s):
            if side in done:
                continue
            try:
                side.do_handshake()
                done.add(side)
            except ssl.SSLWantReadError:
                pass
            except ssl.SSLCertVerificationError as e:
                # 62: host name mismatch, 64: IP address mismatch.
                return "mismatch" if e.verify_code in (62, 64) else "error " + e.verify_message
        if c in done:
            return "match"
    return "no end"
for line in sys.stdin.read().splitlines():
    print(verdict(*line.split(" ", 1)))
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
        // A wildcard over a single label names no host.
        {"/CN=grv", "DNS:*.com"},
        {"/CN=grv", "DNS:*.localhost"},
        {"/CN=*.localhost", ""},
        {"/CN=grv", "DNS:localhost,DNS:*.grv.test"},
        // An address in the common name never names an address host.
        {"/CN=::1", ""},
        {"/CN=127.0.0.1", "DNS:other.grv.test"},
        {"/CN=localhost", ""},
    };
    const char* hosts[] = {"www.grv.test", "WWW.Grv.Test", "grv.test",    "a.b.grv.test", "other.grv.test",
                           "wx.grv.test",  "127.0.0.1",    "127.0.0.2",   "::1",          ".grv.test",
                           "example.com",  "localhost",    "a.localhost", "grv"};
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
    const grvtest::RunResult judged = grvtest::RunProgram({"/usr/bin/python3", "-c", kJudge, key}, options);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::istringstream verdicts(judged.out);
    int matches = 0, parted = 0;
    for (std::size_t i = 0; i < std::size(certs); ++i) {
        const bool noDnsAltName = std::string(certs[i].altNames).find("DNS:") == std::string::npos;
        platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
            platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(ders[i].data()), DWORD(ders[i].size()));
        std::unique_ptr<CertificateFields> fields = readCertificateFields(context);
        platform::CertFreeCertificateContext(context);
        ASSERT_TRUE(fields);
        for (const char* host : hosts) {
            std::string want;
            ASSERT_TRUE(std::getline(verdicts, want));
            ASSERT_TRUE(want == "match" || want == "mismatch") << want;
            const bool ours = certificateNamesHost(*fields, host);
            const bool oneLabelCommonName = noDnsAltName && std::string(host).find_first_of(".:") == std::string::npos;
            matches += ours;
            parted += want == "match" && oneLabelCommonName;
            EXPECT_EQ(ours, want == "match" && !oneLabelCommonName)
                << certs[i].subject << " " << certs[i].altNames << " for " << host;
        }
    }
    // The table holds both answers in numbers.
    EXPECT_GT(matches, 15);
    EXPECT_EQ(parted, 2);
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
