// Certificates, names and object identifiers against openssl, and the ASN.1
// rendering of every certificate on the machine against Python's XML parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/DistinguishedName.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/TessikX509.h"
#include "netlib/text/ContentCoding.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using grvtest::RunProgram;
using grvtest::TempDir;

namespace {

constexpr const char* kVectorsDir = "/usr/lib/python3/dist-packages/cryptography_vectors/x509";

std::string logText(Logger& log) {
    StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

std::string openssl(const std::vector<std::string>& args, const std::string& input = {}) {
    std::vector<std::string> argv = {"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunOptions options;
    options.input = input;
    auto r = RunProgram(argv, options);
    return r.Ok() ? r.out : std::string();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// openssl's one-RDN-a-line names ("    2.5.4.3=value") in the form the
// certificate code writes them: first attribute of each RDN, short names.
std::string expectedDn(const std::vector<std::string>& rdnLines) {
    std::string out;
    for (std::string line : rdnLines) {
        if (line.find_first_not_of(' ') == std::string::npos)
            continue;
        line = line.substr(4);
        if (auto plus = line.find(" + "); plus != std::string::npos)
            line = line.substr(0, plus);
        auto eq = line.find('=');
        std::string oid = line.substr(0, eq), value = line.substr(eq + 1);
        if (!out.empty())
            out += ", ";
        const char* name = rdnAttributeName(oid.c_str());
        out += name ? std::string(name) : "OID." + oid;
        out += "=";
        out += value.find(',') != std::string::npos ? "\"" + value + "\"" : value;
    }
    return out;
}

// The serial as openssl prints it: a value, not two's-complement bytes.
std::string opensslSerial(std::string hex) {
    static const char kDigits[] = "0123456789ABCDEF";
    bool negative = !hex.empty() && hex[0] >= '8';
    if (negative) {
        // Negate: invert every digit, then add one.
        for (auto& c : hex)
            c = kDigits[15 - std::stoi(std::string(1, c), nullptr, 16)];
        for (auto it = hex.rbegin(); it != hex.rend(); ++it) {
            int v = std::stoi(std::string(1, *it), nullptr, 16) + 1;
            *it = kDigits[v & 15];
            if (v < 16)
                break;
        }
    }
    while (hex.size() >= 4 && hex.compare(0, 2, "00") == 0)
        hex.erase(0, 2);
    return (negative ? "-" : "") + hex;
}

// Names openssl prints as raw bytes of a BIT STRING attribute, not as text.
bool opensslGarblesNames(const std::string& path) {
    return path.find("scottishpower-bitstring-dn") != std::string::npos ||
           path.find("unique_identifier") != std::string::npos;
}

// The DER inside PEM lines.
std::string pemBody(const std::vector<std::string>& pem) {
    std::string b64;
    for (const auto& line : pem)
        if (line.rfind("-----", 0) != 0)
            b64 += line;
    DataBuffer der;
    ContentCoding::decodeBase64(b64.data(), static_cast<unsigned int>(b64.size()), der);
    return std::string(reinterpret_cast<const char*>(der.getData()), der.getSize());
}

struct CertFile {
    std::string path;
    std::string der;
};

std::vector<CertFile> corpus() {
    std::vector<CertFile> certs;
    for (const char* dir : {"/etc/ssl/certs", kVectorsDir})
        for (const auto& path : pkitest::certificateFiles(dir)) {
            std::string der = pkitest::certificateDer(path);
            if (!der.empty())
                certs.push_back({path, der});
        }
    return certs;
}

const std::vector<CertFile>& theCorpus() {
    static const std::vector<CertFile> certs = corpus();
    return certs;
}

// Extension (name, extnValue hex) pairs as openssl asn1parse lists them.
std::vector<std::pair<std::string, std::string>> opensslExtensions(const std::string& derPath) {
    std::vector<std::pair<std::string, std::string>> out;
    bool inExtensions = false;
    std::string pendingName;
    for (const auto& line : lines(openssl({"asn1parse", "-inform", "DER", "-in", derPath}))) {
        if (line.find("d=2") != std::string::npos && line.find("cont [ 3 ]") != std::string::npos) {
            inExtensions = true;
            continue;
        }
        if (!inExtensions)
            continue;
        if (line.find("d=1") != std::string::npos)
            break;
        if (line.find("d=4") == std::string::npos)
            continue;
        auto colon = line.find(':', line.find("prim:") + 5);
        if (line.find("OBJECT") != std::string::npos)
            pendingName = line.substr(colon + 1);
        if (line.find("OCTET STRING") != std::string::npos) {
            std::string hex = line.substr(line.find("[HEX DUMP]:") + 11);
            out.emplace_back(pendingName, hex);
        }
    }
    return out;
}

// openssl's OID for a long name (or the dotted text itself).
std::string oidOfName(const std::string& name) {
    static std::map<std::string, std::string> cache;
    if (name.find_first_not_of("0123456789.") == std::string::npos)
        return name;
    auto it = cache.find(name);
    if (it != cache.end())
        return it->second;
    std::string der = openssl({"asn1parse", "-genstr", "OID:" + name, "-noout", "-out", "/dev/stdout"});
    StringBuffer text;
    if (der.size() > 2)
        appendOidText(reinterpret_cast<const unsigned char*>(der.data()) + 2,
                      static_cast<std::uint32_t>(der.size() - 2), text);
    return cache[name] = text.getString();
}

std::string upperHex(const DataBuffer& db) {
    std::string hex = pkitest::toHex(db);
    for (auto& c : hex)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

TEST(CertificateCorpus, EveryCertificateRendersAndReEncodesByteForByte) {
    const auto& certs = theCorpus();
    ASSERT_GT(certs.size(), 500u);
    TempDir dir("pki");
    std::vector<std::string> judgeArgs;
    for (std::size_t i = 0; i < certs.size(); ++i) {
        SCOPED_TRACE(certs[i].path);
        DataBuffer der;
        der.append(certs[i].der.data(), static_cast<unsigned int>(certs[i].der.size()));
        Logger log;
        StringBuffer xml;
        ASSERT_TRUE(derToXml(der, xml, nullptr, log, false));
        EXPECT_EQ(logText(log).find("rror"), std::string::npos) << logText(log);
        for (bool deep : {true, false}) {
            ExtPtrArray list;
            list.setOwnsObjects(true);
            std::uint32_t consumed = 0;
            ASSERT_TRUE(decodeBer(der.getData(), der.getSize(), list, 0, deep, consumed, nullptr, log));
            ASSERT_EQ(list.getCount(), 1);
            DataBuffer again;
            ASSERT_TRUE(static_cast<Asn1*>(list.elementAt(0))->encodeDer(again, false, nullptr, log));
            EXPECT_TRUE(again.equalsDb(der));
        }
        std::string base = dir.File("c" + std::to_string(i));
        ASSERT_TRUE(grvtest::WriteFile(base + ".xml", std::string(xml.getString(), xml.getSize())));
        ASSERT_TRUE(grvtest::WriteFile(base + ".der", certs[i].der));
        judgeArgs.push_back(base + ".xml");
        judgeArgs.push_back(base + ".der");
    }
    std::string script = grvtest::ReadFile(std::string(GRV_TEST_DATA_DIR) + "/pki/asn_xml_to_der.py");
    auto judged = grvtest::Python(script, judgeArgs);
    EXPECT_EQ(judged.out, "checked " + std::to_string(certs.size()) + "\n") << judged.err;
}

TEST(CertificateCorpus, FieldsAgreeWithOpenssl) {
    const auto& certs = theCorpus();
    TempDir dir("pki");
    for (const auto& cert : certs) {
        SCOPED_TRACE(cert.path);
        std::string derPath = dir.File("cert.der");
        ASSERT_TRUE(grvtest::WriteFile(derPath, cert.der));
        TessikX509 x509;
        Logger log;
        ASSERT_TRUE(x509.loadFromBytes(reinterpret_cast<const unsigned char*>(cert.der.data()),
                                       static_cast<std::uint32_t>(cert.der.size()), log, false));

        // Serial, subject, issuer and public key in one openssl listing.
        std::vector<std::string> args = {"x509",
                                         "-inform",
                                         "DER",
                                         "-in",
                                         derPath,
                                         "-noout",
                                         "-serial",
                                         "-subject",
                                         "-issuer",
                                         "-nameopt",
                                         "sep_multiline,oid,utf8",
                                         "-pubkey"};
        auto out = lines(openssl(args));
        // Keys openssl cannot read (DSA with inherited parameters) end its listing.
        if (out.empty())
            args.pop_back(), out = lines(openssl(args));
        ASSERT_FALSE(out.empty());
        std::vector<std::string> subject, issuer, pem, *into = nullptr;
        for (std::size_t i = 1; i < out.size(); ++i) {
            if (out[i] == "subject=")
                into = &subject;
            else if (out[i] == "issuer=")
                into = &issuer;
            else if (out[i] == "-----BEGIN PUBLIC KEY-----")
                into = &pem;
            else if (into)
                into->push_back(out[i]);
        }
        XString serial, subjectText, issuerText;
        ASSERT_TRUE(x509.getSerialNumber(serial, log));
        x509.getDnText(true, true, subjectText, log);
        x509.getDnText(false, true, issuerText, log);
        std::string ours = "serial=" + opensslSerial(serial.getUtf8()) + "\nsubject=" + subjectText.getUtf8() +
                           "\nissuer=" + issuerText.getUtf8();
        std::string theirs = out[0] + "\nsubject=" + expectedDn(subject) + "\nissuer=" + expectedDn(issuer);
        if (opensslGarblesNames(cert.path)) {
            ours = ours.substr(0, ours.find('\n'));
            theirs = theirs.substr(0, theirs.find('\n'));
        }
        EXPECT_EQ(ours, theirs);

        // The public key ends openssl's SubjectPublicKeyInfo, when openssl
        // kept that as the certificate has it.
        std::string spki = pemBody(pem);
        DataBuffer key;
        if (!spki.empty() && cert.der.find(spki) != std::string::npos) {
            ASSERT_TRUE(x509.getPublicKeyDer(key, log));
            std::string bits(reinterpret_cast<const char*>(key.getData()), key.getSize());
            ASSERT_GT(spki.size(), bits.size());
            EXPECT_EQ(spki.substr(spki.size() - bits.size() - 1), std::string(1, '\0') + bits);
        }

        // Every extension openssl lists, with its value.
        std::string theirExt, ourExt;
        for (const auto& [name, hex] : opensslExtensions(derPath)) {
            theirExt += name + "=" + hex + "\n";
            DataBuffer value;
            x509.getExtensionValue(oidOfName(name).c_str(), value, log);
            ourExt += name + "=" + upperHex(value) + "\n";
        }
        EXPECT_EQ(ourExt, theirExt);

        // The names re-encode to the DER they came from.
        for (bool isSubject : {true, false}) {
            Asn1* name = x509.getNameAsn1(isSubject, log);
            ASSERT_NE(name, nullptr);
            DataBuffer nameDer;
            ASSERT_TRUE(name->encodeDer(nameDer, false, nullptr, log));
            std::string nameBytes(reinterpret_cast<const char*>(nameDer.getData()), nameDer.getSize());
            EXPECT_NE(cert.der.find(nameBytes), std::string::npos) << (isSubject ? "subject" : "issuer");
            delete name;
        }
    }
}

struct MadeCert {
    std::string subject;
    std::vector<std::string> extraArgs;
    std::string dnText; // subject with names, as the certificate code writes it
    std::string cn;
};

std::string makeCert(const TempDir& dir, const std::string& name, const std::string& subject,
                     const std::vector<std::string>& extra, bool der = true) {
    std::string cnf = dir.File("m.cnf");
    grvtest::WriteFile(cnf, "[req]\nstring_mask=default\n");
    std::vector<std::string> args = {"openssl",
                                     "req",
                                     "-x509",
                                     "-newkey",
                                     "rsa:2048",
                                     "-nodes",
                                     "-utf8",
                                     "-config",
                                     cnf,
                                     "-subj",
                                     subject,
                                     "-keyout",
                                     dir.File(name + ".key"),
                                     "-out",
                                     dir.File(name + ".pem")};
    args.insert(args.end(), extra.begin(), extra.end());
    grvtest::RunOptions quiet;
    EXPECT_TRUE(RunProgram(args, quiet).Ok());
    if (!der)
        return dir.File(name + ".pem");
    return pkitest::certificateDer(dir.File(name + ".pem"));
}

TEST(Certificate, BmpAndT61NamesLoad) {
    TempDir dir("pki");
    std::string der = makeCert(dir, "bmp", "/CN=\xce\xa9mega/O=AT&T <x>", {});
    std::string parse = openssl({"asn1parse", "-inform", "DER"}, der);
    EXPECT_NE(parse.find("BMPSTRING"), std::string::npos);
    EXPECT_NE(parse.find("T61STRING         :AT&T <x>"), std::string::npos);
    TessikX509 cert;
    Logger log;
    ASSERT_TRUE(cert.loadFromBytes(reinterpret_cast<const unsigned char*>(der.data()),
                                   static_cast<std::uint32_t>(der.size()), log, false));
    XString cn, org, dn;
    ASSERT_TRUE(cert.getSubjectCN(cn, log));
    ASSERT_TRUE(cert.getIssuerO(org, log));
    ASSERT_TRUE(cert.getDnText(true, true, dn, log));
    EXPECT_STREQ(cn.getUtf8(), "\xce\xa9mega");
    EXPECT_STREQ(org.getUtf8(), "AT&T <x>");
    EXPECT_STREQ(dn.getUtf8(), "CN=\xce\xa9mega, O=AT&T <x>");
    EXPECT_NE(logText(log).find("bmpStr"), std::string::npos);
    DataBuffer certDer;
    certDer.append(der.data(), static_cast<unsigned int>(der.size()));
    StringBuffer xml;
    ASSERT_TRUE(derToXml(certDer, xml, nullptr, log, false));
    EXPECT_NE(std::string(xml.getString()).find("<t61>AT&amp;T &lt;x&gt;</t61>"), std::string::npos);
}

TEST(Certificate, NamesSerialsAndBags) {
    TempDir dir("pki");
    std::string first = makeCert(dir, "a", "/C=US/O=Acme, Inc/initials=odd/CN=host", {"-set_serial", "0xABC"}, false);
    std::string second =
        makeCert(dir, "b", "/CN=second", {"-set_serial", "193", "-addext", "basicConstraints=critical,CA:TRUE"}, false);
    std::string bag = openssl({"crl2pkcs7", "-nocrl", "-certfile", first, "-certfile", second, "-outform", "DER"});
    ASSERT_FALSE(bag.empty());
    TessikX509 cert;
    Logger log;
    ASSERT_TRUE(cert.loadFromBytes(reinterpret_cast<const unsigned char*>(bag.data()),
                                   static_cast<std::uint32_t>(bag.size()), log, true));
    EXPECT_NE(logText(log).find(x509_msg::kLoadingP7b), std::string::npos);
    EXPECT_NE(logText(log).find("1.2.840.113549.1.7.2 (PKCS7 SignedData)"), std::string::npos);
    XString dn, serial, asIs;
    cert.getDnText(true, true, dn, log);
    EXPECT_STREQ(dn.getUtf8(), "C=US, O=\"Acme, Inc\", OID.2.5.4.43=odd, CN=host");
    ASSERT_TRUE(cert.getSerialNumber(serial, log));
    ASSERT_TRUE(cert.getSerialNumberAsIs(asIs, log));
    EXPECT_STREQ(serial.getUtf8(), "0ABC");
    EXPECT_STREQ(asIs.getUtf8(), "0ABC");
    EXPECT_TRUE(cert.matchesIssuerCnAndSerial("host", "abc", log));
    EXPECT_FALSE(cert.matchesIssuerCnAndSerial("other", "ABC", log));
    DataBuffer kept;
    cert.getDer(kept);
    EXPECT_EQ(kept.getSize(), bag.size());

    std::string secondDer = pkitest::certificateDer(second);
    TessikX509 c2;
    ASSERT_TRUE(c2.loadFromBytes(reinterpret_cast<const unsigned char*>(secondDer.data()),
                                 static_cast<std::uint32_t>(secondDer.size()), log, false));
    serial.clear();
    c2.getSerialNumber(serial, log);
    EXPECT_STREQ(serial.getUtf8(), "00C1");
    StringBuffer extXml;
    EXPECT_TRUE(c2.getExtensionXml("2.5.29.19", extXml, log, false));
    EXPECT_STREQ(extXml.getString(), "<sequence><bool>1</bool></sequence>");
    DataBuffer none;
    EXPECT_FALSE(c2.getExtensionValue("1.2.3", none, log));
}

// Python's cryptography makes certificates whose names hold a NUL (a UTF-8
// common name, an IA5 e-mail address) beside ones that differ only by it or
// hold a backslash: every text form writes the NUL as \00 and the backslash as
// \\, as python's RFC 4514 form does, so no two of these names read alike.
TEST(DistinguishedNameText, NulInANameIsKeptEscaped) {
    const char* script = R"(
import datetime
from cryptography import x509
from cryptography.x509.oid import NameOID
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
key = ec.generate_private_key(ec.SECP256R1())
for cn, mail in (('null.python.org\x00example.org', 'a\x00b@c'), ('null.python.orgexample.org', 'ab@c'),
                 ('null.python.org\\00example.org', 'a\\00b@c')):
    attrs = [x509.NameAttribute(NameOID.COMMON_NAME, cn), x509.NameAttribute(NameOID.EMAIL_ADDRESS, mail)]
    name = x509.Name(attrs)
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
            .serial_number(1).not_valid_before(datetime.datetime(2020, 1, 1))
            .not_valid_after(datetime.datetime(2030, 1, 1)).sign(key, hashes.SHA256()))
    escaped = [a.rfc4514_string().split('=', 1)[1] for a in attrs]
    print(cert.public_bytes(serialization.Encoding.DER).hex(), name.public_bytes().hex(), *escaped)
)";
    auto run = grvtest::Python(script);
    ASSERT_TRUE(run.Ok()) << run.err;
    std::istringstream lines(run.out);
    std::vector<std::string> texts;
    for (std::string certHex, nameHex, cn, mail; lines >> certHex >> nameHex >> cn >> mail;) {
        SCOPED_TRACE(cn);
        const auto der = pkitest::fromHex(certHex);
        TessikX509 cert;
        Logger log;
        ASSERT_TRUE(cert.loadFromBytes(der->getData(), der->getSize(), log, false));
        XString ourCn, ourMail, dn;
        ASSERT_TRUE(cert.getSubjectCN(ourCn, log));
        ASSERT_TRUE(cert.getSubjectAttr(oid::kEmail, ourMail, log));
        ASSERT_TRUE(cert.getDnText(true, true, dn, log));
        EXPECT_EQ(ourCn.getUtf8(), cn);
        EXPECT_EQ(ourMail.getUtf8(), mail);
        EXPECT_EQ(std::string(dn.getUtf8()), "CN=" + cn + ", E=" + mail);
        DistinguishedName name;
        XString text;
        ASSERT_TRUE(name.loadDer(*pkitest::fromHex(nameHex), log));
        ASSERT_TRUE(name.getDnString(text, log));
        EXPECT_STREQ(text.getUtf8(), dn.getUtf8());
        texts.push_back(dn.getUtf8());
    }
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0], texts[1]);
    EXPECT_NE(texts[0], texts[2]);
}

TEST(DistinguishedNameText, NamesAndTable) {
    struct Case {
        const char* der;
        const char* before;
        bool ok;
        const char* text;
        const char* logged;
    } cases[] = {
        {"301c310b3009060355040613025553310d300b060355040a130441636d65", "", true, "C=US, O=Acme", ""},
        {"301c310b3009060355040613025553310d300b060355040a130441636d65", "X", true, "X, C=US, O=Acme", ""},
        {"3000", "", false, "", x509_msg::kEmptyDn},
        {"300b3009060355040613025553", "", false, "", x509_msg::kExpectedSet},
        {"30053103020101", "", false, "", x509_msg::kExpectedSequence},
        {"3007310530030201 01", "", false, "", x509_msg::kExpectedOid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.der);
        std::string hex = c.der;
        hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
        DistinguishedName dn;
        Logger log;
        dn.loadDer(*pkitest::fromHex(hex), log);
        XString out;
        out.appendUtf8(c.before);
        EXPECT_EQ(dn.getDnString(out, log), c.ok);
        if (c.ok) {
            EXPECT_STREQ(out.getUtf8(), c.text);
        }
        if (*c.logged) {
            EXPECT_NE(logText(log).find(c.logged), std::string::npos) << logText(log);
        }
    }
    _tsStringTable table;
    table.appendBytes("AB", 2);
    table.appendBytes("CDE", 3);
    table.appendBytes("\0X", 2);
    table.appendBytes(nullptr, 4);
    EXPECT_EQ(table.getCount(), 2u);
    EXPECT_EQ(table.getOffset(1), 2);
    EXPECT_EQ(table.getLength(1), 3);
    EXPECT_STREQ(table.getTexts().getString(), "ABCDE");
}

TEST(ObjectIdentifiers, ConvertAsOpensslShowsThem) {
    const char* oids[] = {"2.5.4.3",
                          "1.2.840.113549",
                          "1.2.840.113549.1.1.11",
                          "0.9.2342.19200300.100.1.25",
                          "2.999",
                          "2.999.1234567",
                          "1.3.6.1.4.1.99999.1.2.3",
                          "1.39.4294967295",
                          "2.16.840.1.101.3.4.2.1",
                          "0.0",
                          "2.47.127.128.16383.16384.2097151.2097152"};
    for (const char* text : oids) {
        SCOPED_TRACE(text);
        std::string want =
            openssl({"asn1parse", "-genstr", std::string("OID:") + text, "-noout", "-out", "/dev/stdout"});
        ASSERT_FALSE(want.empty());
        Asn1* node = Asn1::newOid(text);
        ASSERT_NE(node, nullptr);
        DataBuffer der;
        Logger log;
        ASSERT_TRUE(node->encodeDer(der, false, nullptr, log));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(der.getData()), der.getSize()), want);
        delete node;
        // Back to text: openssl shows dotted text for OIDs it has no name for,
        // and the same name again for the text we read.
        StringBuffer xml;
        ASSERT_TRUE(derToXml(der, xml, nullptr, log, false));
        std::string ours = std::string(xml.getString());
        ours = ours.substr(5, ours.size() - 11);
        std::string shown = openssl({"asn1parse", "-inform", "DER"}, want);
        std::string again = openssl({"asn1parse", "-genstr", "OID:" + ours});
        EXPECT_EQ(again, shown);
    }
}

} // namespace

namespace {

// Where the item at `at` ends (header and content), for DER with definite
// lengths.
std::size_t itemEnd(const std::string& der, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(der[i]); };
    std::size_t pos = at + 1, length = byte(pos++);
    if (length & 0x80) {
        std::size_t count = length & 0x7F;
        length = 0;
        while (count--)
            length = (length << 8) | byte(pos++);
    }
    return pos + length;
}

// The certificate with the two-byte long-form length at `at` moved by delta.
std::string withLength(std::string der, std::size_t at, int delta) {
    int length = (static_cast<unsigned char>(der[at + 2]) << 8 | static_cast<unsigned char>(der[at + 3])) + delta;
    der[at + 2] = static_cast<char>(length >> 8);
    der[at + 3] = static_cast<char>(length & 0xFF);
    return der;
}

std::string withByte(std::string der, std::size_t at, unsigned char value) {
    der[at] = static_cast<char>(value);
    return der;
}

// Each certificate file: "ok SERIAL PKCS1KEY" or "refused".
constexpr const char* kCryptographyVerdicts = R"(
import sys
from cryptography import x509
from cryptography.hazmat.primitives import serialization
for path in sys.argv[1:]:
    try:
        c = x509.load_der_x509_certificate(open(path, 'rb').read())
        key = c.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1)
        print('ok', format(c.serial_number, 'X'), key.hex())
    except Exception:
        print('refused')
)";

std::string withoutLeadingZeros(std::string hex) {
    std::size_t first = hex.find_first_not_of('0');
    return first == std::string::npos ? "0" : hex.substr(first);
}

} // namespace

// One certificate and its minimal malformations, each with its verdict
// pinned, so that no point release of a peer moves it. Python's cryptography,
// a DER reader, seconds the DER rows, and what it reads the loader loads
// with the same serial and public key; `openssl asn1parse` seconds the one
// BER row, an indefinite length, which the loader reads as it does.
TEST(CertificateLoader, GivesThePinnedVerdictsWhichTheReferencesSecond) {
    TempDir dir("certrows");
    auto made = RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", dir.File("k.pem"),
                            "-subj", "/O=Gorvane Test/CN=rows", "-set_serial", "0x0A11CE", "-days", "2", "-outform",
                            "DER", "-out", dir.File("c.der")});
    ASSERT_TRUE(made.Ok()) << made.err;
    const std::string der = grvtest::ReadFile(dir.File("c.der"));
    ASSERT_EQ(der.substr(0, 2), std::string("\x30\x82")) << "a certificate of 256 bytes or more";
    constexpr std::size_t kTbs = 4, kVersion = 8;
    const std::size_t serial = itemEnd(der, kVersion);
    // tbsCertificate's children: the last one is the extensions.
    std::size_t extensions = serial;
    for (std::size_t at = serial; at < itemEnd(der, kTbs); at = itemEnd(der, at))
        extensions = at;
    ASSERT_EQ(static_cast<unsigned char>(der[extensions]), 0xA3);
    const std::size_t extensionList = extensions + (static_cast<unsigned char>(der[extensions + 1]) & 0x80 ? 3 : 2);

    // tbsCertificate's length with a leading zero byte: BER, not DER.
    std::string longerTbs = withLength(der, 0, 1);
    longerTbs.insert(kTbs + 2, 1, '\0');
    longerTbs[kTbs + 1] = '\x83';

    struct Row {
        const char* name;
        std::string bytes;
        bool loads;
        bool ber; // asn1parse seconds the row, else cryptography
    };
    const std::vector<Row> rows = {
        {"clean", der, true, false},
        {"NULL after it", der + std::string("\x05\x00", 2), false, false},
        {"a zero byte after it", der + std::string(1, '\0'), false, false},
        {"end-of-contents after it", der + std::string(2, '\0'), false, false},
        {"cut by one byte", der.substr(0, der.size() - 1), false, false},
        {"stray byte inside", withLength(der, 0, 1) + "\x05", false, false},
        {"NULL inside after the signature", withLength(der, 0, 2) + std::string("\x05\x00", 2), false, false},
        {"tbsCertificate one byte short", withLength(der, kTbs, -1), false, false},
        {"serial one byte longer", withByte(der, serial + 1, static_cast<unsigned char>(der[serial + 1] + 1)), false,
         false},
        {"serial an OCTET STRING", withByte(der, serial, 0x04), false, false},
        {"extensions a SET", withByte(der, extensionList, 0x31), false, false},
        {"tbsCertificate's length in more bytes than it needs", longerTbs, false, false},
        {"indefinite length", "\x30\x80" + der.substr(4) + std::string(2, '\0'), true, true},
    };
    std::vector<std::string> files;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        files.push_back(dir.File("row" + std::to_string(i) + ".der"));
        ASSERT_TRUE(grvtest::WriteFile(files.back(), rows[i].bytes));
    }
    auto judged = grvtest::Python(kCryptographyVerdicts, files);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::vector<std::string> verdicts = lines(judged.out);
    ASSERT_EQ(verdicts.size(), rows.size()) << judged.out;

    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        std::istringstream fields(verdicts[i]);
        std::string word, pySerial, pyKey;
        fields >> word >> pySerial >> pyKey;
        const bool pyReads = word == "ok";
        if (rows[i].ber) {
            EXPECT_EQ(RunProgram({"openssl", "asn1parse", "-inform", "DER", "-in", files[i]}).Ok(), rows[i].loads);
        } else {
            EXPECT_EQ(pyReads, rows[i].loads) << "cryptography parts from the verdict";
        }

        TessikX509 cert;
        Logger log;
        const bool loaded = cert.loadFromBytes(reinterpret_cast<const unsigned char*>(rows[i].bytes.data()),
                                               static_cast<std::uint32_t>(rows[i].bytes.size()), log, false);
        EXPECT_EQ(loaded, rows[i].loads) << logText(log);
        if (!loaded) {
            EXPECT_FALSE(logText(log).empty()) << "a refusal says why";
            continue;
        }
        if (!pyReads)
            continue;
        XString ours;
        LogNull quiet;
        ASSERT_TRUE(cert.getSerialNumber(ours, quiet));
        EXPECT_EQ(withoutLeadingZeros(ours.getUtf8()), withoutLeadingZeros(pySerial));
        DataBuffer key;
        ASSERT_TRUE(cert.getPublicKeyDer(key, quiet));
        EXPECT_EQ(pkitest::toHex(key), pyKey);
    }
}
