// Certificates whose names or content break X.690 or Unicode in ways a
// lenient reader takes as other text or other values. Python's cryptography
// judges each one whole: what it refuses is refused by both readers, and a
// name it reads is read as the same text. A string written in segments is
// judged by openssl instead, which joins them where cryptography's DER-only
// reader refuses.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/TessikX509.h"

using namespace tessik;
using pkitest::fromHex;
using pkitest::runOpenssl;

namespace {

// Bytes of a hex text.
std::string bin(const std::string& hex) {
    return pkitest::bytesOf(*fromHex(hex));
}

// One DER item (lengths below 64 KB).
std::string der(unsigned char tag, const std::string& content) {
    constexpr std::size_t kShortMax = 0x7F, kOneByteMax = 0xFF;
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (n > kOneByteMax)
        out += {'\x82', static_cast<char>(n >> 8), static_cast<char>(n & kOneByteMax)};
    else if (n > kShortMax)
        out += {'\x81', static_cast<char>(n)};
    else
        out += static_cast<char>(n);
    return out + content;
}

constexpr unsigned char kSequence = 0x30, kSet = 0x31, kUtf8 = 0x0C, kPrintable = 0x13, kUtcTime = 0x17,
                        kUniversalString = 0x1C, kBmp = 0x1E, kOctets = 0x04, kExplicit0 = 0xA0;

// A P-256 public key, any will do: nobody verifies these signatures.
const char* const kSpki = "3059301306072a8648ce3d020106082a8648ce3d03010703420004c0094a9ee24368f9b1e52de0482a81e9e071"
                          "c682bed01220ca73859bfd2b47fedd8dec9e9f3ea3db4b238de95951f464a39ac26bc06cfffabea0a31075cab"
                          "c39";
const char* const kOidCommonName = "0603550403";
const char* const kSha256WithRsa = "06092a864886f70d01010b";

// A certificate's parts, each a whole DER item, the defaults well formed.
struct Parts {
    std::string cn = der(kUtf8, "victim.example"); // the subject CN's value
    std::string serial = bin("020105");
    std::string sigOid = bin(kSha256WithRsa);
    std::string params = bin("0500");
    std::string signature = bin("03020000");
    std::string extraRdn; // a second attribute pair, or none
};

std::string certificate(const Parts& p) {
    const std::string algorithm = der(kSequence, p.sigOid + p.params);
    std::string subject = der(kSet, der(kSequence, bin(kOidCommonName) + p.cn));
    if (!p.extraRdn.empty())
        subject += der(kSet, p.extraRdn);
    const std::string issuer = der(kSequence, der(kSet, der(kSequence, bin(kOidCommonName) + der(kUtf8, "Issuer"))));
    const std::string validity = der(kSequence, der(kUtcTime, "250101000000Z") + der(kUtcTime, "350101000000Z"));
    const std::string tbs = der(kSequence, der(kExplicit0, bin("020102")) + p.serial + algorithm + issuer + validity +
                                               der(kSequence, subject) + bin(kSpki));
    return der(kSequence, tbs + algorithm + p.signature);
}

// cryptography's reading of each certificate (one hex per line): "read "
// and the hex of the subject's common names joined, written as the library
// writes name text (a NUL as \00 and a backslash doubled), or "refused".
const char* const kCryptographyJudge = R"PY(
import sys, warnings
warnings.simplefilter("ignore")
from cryptography import x509
for line in sys.stdin:
    try:
        c = x509.load_der_x509_certificate(bytes.fromhex(line.strip()))
        c.serial_number, c.signature_algorithm_oid, c.signature, c.extensions, c.public_key()
        c.issuer.rfc4514_string(), c.subject.rfc4514_string()
        names = c.subject.get_attributes_for_oid(x509.NameOID.COMMON_NAME)
        text = "".join(a.value for a in names).replace("\\", "\\\\").replace("\0", "\\00")
        print("read " + text.encode().hex())
    except Exception:
        print("refused")
)PY";

std::vector<std::string> cryptographyVerdicts(const std::vector<std::string>& certs) {
    std::string input;
    for (const std::string& c : certs)
        input += grvtest::ToHex(c) + "\n";
    const grvtest::RunResult r = grvtest::Python(kCryptographyJudge, {}, input);
    EXPECT_TRUE(r.Ok()) << r.err;
    std::vector<std::string> out;
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t eol = r.out.find('\n', at);
        out.push_back(r.out.substr(at, eol - at));
        at = eol == std::string::npos ? r.out.size() : eol + 1;
    }
    return out;
}

// openssl's reading, in the same form.
std::string opensslVerdict(const std::string& cert) {
    const grvtest::RunResult r =
        runOpenssl({"x509", "-inform", "DER", "-noout", "-subject", "-nameopt", "utf8,sname"}, cert);
    const std::size_t cn = r.out.find("CN=");
    if (!r.Ok() || cn == std::string::npos)
        return "refused";
    std::string text = r.out.substr(cn + 3);
    text.erase(text.find_last_not_of("\r\n") + 1);
    return "read " + grvtest::ToHex(text);
}

// The certificate reader's verdict in the same form.
std::string ourVerdict(const std::string& cert) {
    LogNull quiet;
    std::unique_ptr<Certificate> c(Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(cert.data()),
                                                                static_cast<std::uint32_t>(cert.size()), quiet, false));
    if (!c)
        return "refused";
    XString cn;
    c->x509().getSubjectCN(cn, quiet);
    return "read " + grvtest::ToHex(std::string(cn.getUtf8(), cn.getSizeUtf8()));
}

// Whether the BER reader takes the certificate in.
bool berReads(const std::string& cert) {
    LogNull quiet;
    std::unique_ptr<Asn1> root(decodeBerFirst(reinterpret_cast<const unsigned char*>(cert.data()),
                                              static_cast<std::uint32_t>(cert.size()), nullptr, quiet));
    return root != nullptr;
}

struct Row {
    const char* what;
    Parts parts;
    // Judged by openssl: strings in segments, and what the packaged
    // cryptography leaves unparsed (algorithm parameters).
    bool byOpenssl = false;
};

Parts withCn(unsigned char tag, const std::string& value) {
    Parts p;
    p.cn = der(tag, value);
    return p;
}

Parts withCnItem(const std::string& item) {
    Parts p;
    p.cn = item;
    return p;
}

std::vector<Row> rows() {
    std::vector<Row> r;
    auto add = [&](const char* what, Parts parts, bool byOpenssl = false) { r.push_back({what, parts, byOpenssl}); };
    add("well formed", Parts());
    // Name strings.
    add("overlong UTF-8 dots", withCn(kUtf8, "www\xC0\xAE"
                                             "bank\xC0\xAE"
                                             "example"));
    add("lone continuation byte", withCn(kUtf8, "a\x80"
                                                "b"));
    add("continuation bytes only", withCn(kUtf8, "\x80\x80"));
    add("encoded surrogate", withCn(kUtf8, "a\xED\xA0\x80"));
    add("beyond U+10FFFF", withCn(kUtf8, "\xF4\x90\x80\x80"));
    add("cut inside a character", withCn(kUtf8, "ab\xE2\x82"));
    add("two, three and four bytes", withCn(kUtf8, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    add("empty UTF8String", withCn(kUtf8, ""));
    add("UTF8String with a NUL and a backslash", withCn(kUtf8, std::string("a\0b\\c", 5)));
    add("BMPString with a NUL and a backslash", withCn(kBmp, bin("00410000005c0042")));
    add("UniversalString with a NUL", withCn(kUniversalString, bin("000000410000000000000042")));
    add("BMPString", withCn(kBmp, bin("00410042")));
    add("BMPString of odd length", withCn(kBmp, bin("0041004200")));
    add("BMPString lone high surrogate", withCn(kBmp, bin("0041d800")));
    add("BMPString lone low surrogate", withCn(kBmp, bin("dc000041")));
    add("BMPString surrogate pair", withCn(kBmp, bin("d83dde00")));
    add("UniversalString", withCn(kUniversalString, bin("0000004100000042")));
    add("UniversalString of six bytes", withCn(kUniversalString, bin("000000410000")));
    add("UniversalString past U+10FFFF", withCn(kUniversalString, bin("00110000")));
    add("UniversalString surrogate", withCn(kUniversalString, bin("0000d800")));
    add("PrintableString", withCn(kPrintable, "victim.example"));
    // Segments, as openssl joins them.
    const std::string victim = der(kOctets, "victim."), example = der(kOctets, "example");
    add("segments, indefinite", withCnItem(bin("2c80") + victim + example + bin("0000")), true);
    add("segments, definite", withCnItem(der(0x2C, victim + example)), true);
    add("segments of the string's own type", withCnItem(der(0x2C, der(kUtf8, "victim.") + der(kUtf8, "example"))),
        true);
    add("a character across segments", withCnItem(der(0x2C, der(kOctets, "caf\xC3") + der(kOctets, "\xA9"))), true);
    add("PrintableString segments", withCnItem(der(0x33, victim + example)), true);
    add("nested segments", withCnItem(der(0x2C, der(0x24, victim) + example)), true);
    add("overlong form across segments",
        withCnItem(der(0x2C, der(kOctets, "www\xC0") + der(kOctets, "\xAE"
                                                                    "bank"))),
        true);
    // Content-level encodings.
    Parts p;
    p.serial = bin("02020005");
    add("INTEGER with a leading zero octet", p);
    p.serial = bin("0202ff80");
    add("INTEGER with a leading FF octet", p);
    p.serial = bin("02020080");
    add("INTEGER whose zero octet is needed", p);
    p.serial = bin("0202ff7f");
    add("negative INTEGER whose FF octet is needed", p);
    p.serial = bin("2203020105");
    add("constructed INTEGER", p);
    p = Parts();
    p.signature = bin("03020800");
    add("BIT STRING with 8 unused bits", p);
    p.signature = bin("030107");
    add("BIT STRING of unused bits and no octet", p);
    p.signature = bin("0300");
    add("BIT STRING without its unused-bits octet", p);
    p = Parts();
    p.params = bin("050100");
    add("NULL with content", p, true);
    p.params = bin("2500");
    add("constructed NULL", p, true);
    p = Parts();
    p.extraRdn = der(kSequence, bin("0600") + der(kUtf8, "x"));
    add("empty OID", p);
    p.extraRdn = der(kSequence, bin("0603550406") + der(kPrintable, "NZ"));
    add("a second attribute", p);
    p = Parts();
    p.sigOid = bin("06032a0304");
    p.params = bin("bf1f00");
    add("high tag number", p);
    p.params = bin("bf801f00");
    add("high tag number after a zero septet", p);
    return r;
}

} // namespace

TEST(StrictContent, MalformedNamesAndContentGetTheReferenceVerdict) {
    const std::vector<Row> table = rows();
    std::vector<std::string> certs;
    for (const Row& row : table)
        certs.push_back(certificate(row.parts));
    const std::vector<std::string> judged = cryptographyVerdicts(certs);
    ASSERT_EQ(judged.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(table[i].what);
        const std::string reference = table[i].byOpenssl ? opensslVerdict(certs[i]) : judged[i];
        EXPECT_EQ(ourVerdict(certs[i]), reference) << grvtest::ToHex(certs[i]);
        // The BER reader keeps segments as they stand and leaves names to
        // the certificate reader; everything else it judges alike.
        constexpr unsigned char kConstructed = 0x20;
        if (!(static_cast<unsigned char>(table[i].parts.cn[0]) & kConstructed)) {
            EXPECT_EQ(berReads(certs[i]), reference != "refused");
        }
    }
}

// Random common names of each string type, weighted to the bytes where
// UTF-8, UTF-16 and UTF-32 go wrong, judged by cryptography.
TEST(StrictContent, GeneratedNameStringsReadAsCryptographyReadsThem) {
    constexpr int kPerType = 150;
    constexpr std::size_t kMaxLength = 9;
    std::mt19937 random(87);
    const std::string interesting = bin("00 41 2e 7f 80 8f bf c0 c1 c2 c3 df e0 ed ee ef f0 f4 f5 ff d8 dc 10 11");
    std::vector<std::string> certs;
    for (unsigned char tag : {kUtf8, kBmp, kUniversalString}) {
        for (int k = 0; k < kPerType; ++k) {
            std::string value(random() % kMaxLength, '\0');
            for (char& c : value)
                c = random() % 2 ? interesting[random() % interesting.size()] : static_cast<char>(random());
            certs.push_back(certificate(withCn(tag, value)));
        }
    }
    const std::vector<std::string> judged = cryptographyVerdicts(certs);
    ASSERT_EQ(judged.size(), certs.size());
    int refused = 0;
    for (std::size_t i = 0; i < certs.size(); ++i) {
        EXPECT_EQ(ourVerdict(certs[i]), judged[i]) << grvtest::ToHex(certs[i]);
        refused += judged[i] == "refused";
    }
    // Both verdicts were put to the test.
    EXPECT_GT(refused, kPerType / 2);
    EXPECT_LT(refused, static_cast<int>(certs.size()) - kPerType / 2);
}

// Random serial numbers (INTEGER content of one to three octets, weighted to
// the sign octets) and signature BIT STRINGs (any unused-bits octet over zero
// bits), judged by cryptography.
TEST(StrictContent, GeneratedIntegersAndBitStringsGetCryptographysVerdict) {
    constexpr int kEach = 120;
    constexpr unsigned int kMaxOctets = 3, kUnusedRange = 10;
    std::mt19937 random(5280);
    const std::string signOctets = bin("00 01 7f 80 ff");
    std::vector<std::string> certs;
    for (int k = 0; k < kEach; ++k) {
        Parts p;
        std::string value(1 + random() % kMaxOctets, '\0');
        for (char& c : value)
            c = random() % 3 ? signOctets[random() % signOctets.size()] : static_cast<char>(random());
        p.serial = der(0x02, value);
        certs.push_back(certificate(p));
    }
    for (int k = 0; k < kEach; ++k) {
        Parts p;
        std::string value(1 + random() % 2, '\0');
        value[0] = static_cast<char>(random() % kUnusedRange);
        p.signature = der(0x03, value);
        certs.push_back(certificate(p));
    }
    const std::vector<std::string> judged = cryptographyVerdicts(certs);
    ASSERT_EQ(judged.size(), certs.size());
    int refused = 0;
    for (std::size_t i = 0; i < certs.size(); ++i) {
        EXPECT_EQ(ourVerdict(certs[i]), judged[i]) << grvtest::ToHex(certs[i]);
        EXPECT_EQ(berReads(certs[i]), judged[i] != "refused") << grvtest::ToHex(certs[i]);
        refused += judged[i] == "refused";
    }
    EXPECT_GT(refused, kEach / 4);
    EXPECT_LT(refused, static_cast<int>(certs.size()) - kEach / 4);
}
