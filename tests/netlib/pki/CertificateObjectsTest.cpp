// Certificate objects, certificate-pool entries and the certificate
// repository. Fields are judged by python's cryptography over the published
// certificates, private keys by openssl, repository entries are made by
// python's zlib and openssl enc.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/CryptoServices.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/CertRepository.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/ClsCert.h"
#include "netlib/pki/MsCertificate.h"
#include "platform/CertStore.h"

using namespace tessik;
using pkitest::bytesOf;
using pkitest::logText;
using pkitest::openssl;

namespace {

constexpr const char* kVectorsDir = "/usr/lib/python3/dist-packages/cryptography_vectors/x509";

std::unique_ptr<Certificate> fromDer(const std::string& der, LogBase& log) {
    return std::unique_ptr<Certificate>(Certificate::createFromBytes(
        reinterpret_cast<const unsigned char*>(der.data()), static_cast<std::uint32_t>(der.size()), log, false));
}

// One line per certificate python reads: path, serial as DER content hex,
// issuer DER hex, issuer CN, subject key identifier hex ("?" when python
// refuses the extensions), PKCS#1 key hex.
const char* kPythonFields = R"(
import sys
from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID
for path in sys.argv[1:]:
    data = open(path, 'rb').read()
    try:
        c = x509.load_der_x509_certificate(data)
    except Exception:
        try:
            c = x509.load_pem_x509_certificate(data)
        except Exception:
            continue
    try:
        n = c.serial_number
        length = (n.bit_length() + 8) // 8 if n >= 0 else ((-n - 1).bit_length() + 8) // 8
        serial = n.to_bytes(max(length, 1), 'big', signed=True).hex().upper()
        issuer = c.issuer.public_bytes().hex()
        cns = c.issuer.get_attributes_for_oid(NameOID.COMMON_NAME)
        cn = cns[0].value if cns and isinstance(cns[0].value, str) else '-'
        try:
            extensions = c.extensions
        except Exception:
            extensions = None
        try:
            ski = extensions.get_extension_for_class(x509.SubjectKeyIdentifier).value.digest.hex()
        except Exception:
            ski = '-' if extensions is not None else '?'
        k = c.public_key()
        key = k.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1).hex() \
            if isinstance(k, rsa.RSAPublicKey) else '-'
    except Exception:
        continue
    print('\t'.join([path, serial, issuer, cn.replace('\t', ' ').replace('\n', ' '), ski, key]))
)";

TEST(CertificateObjects, FieldsAgreeWithPythonCryptography) {
    std::vector<std::string> files = pkitest::certificateFiles(kVectorsDir);
    ASSERT_GT(files.size(), 100u);
    grvtest::RunResult judged = grvtest::Python(kPythonFields, files);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::istringstream in(judged.out);
    int compared = 0, withKeyId = 0, withRsaKey = 0;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string part; std::getline(fields, part, '\t');)
            f.push_back(part);
        ASSERT_EQ(f.size(), 6u) << line;
        const std::string& path = f[0];
        SCOPED_TRACE(path);
        std::string der = pkitest::certificateDer(path);
        if (der.empty())
            continue;
        Logger log;
        std::unique_ptr<Certificate> cert = fromDer(der, log);
        ASSERT_TRUE(cert) << logText(log);
        ++compared;
        XString serial;
        ASSERT_TRUE(cert->getSerialNumber(serial, log));
        EXPECT_EQ(serial.getUtf8(), f[1]);
        std::unique_ptr<Asn1> issuer(cert->getIssuerAsn1(log));
        ASSERT_TRUE(issuer);
        DataBuffer issuerDer;
        ASSERT_TRUE(issuer->encodeDer(issuerDer, false, nullptr, log));
        EXPECT_EQ(pkitest::toHex(issuerDer), f[2]);
        XString cn;
        if (f[3] != "-" && f[3].find('"') == std::string::npos) {
            EXPECT_TRUE(cert->getIssuerPart("CN", cn, log));
            EXPECT_EQ(cn.getUtf8(), f[3]);
        }
        DataBuffer keyId;
        if (f[4] != "?") {
            EXPECT_EQ(cert->getSubjectKeyId(keyId, log), f[4] != "-");
        }
        if (f[4] != "-" && f[4] != "?") {
            EXPECT_EQ(pkitest::toHex(keyId), f[4]);
            ++withKeyId;
        }
        if (f[5] != "-") {
            DataBuffer key;
            ASSERT_TRUE(cert->getPublicKeyDer(key, log));
            EXPECT_EQ(pkitest::toHex(key), f[5]);
            ++withRsaKey;
        }
        DataBuffer back;
        EXPECT_TRUE(cert->getDer(back, log));
        EXPECT_EQ(bytesOf(back), der);
    }
    EXPECT_GT(compared, 100);
    EXPECT_GT(withKeyId, 50);
    EXPECT_GT(withRsaKey, 50);
}

TEST(CertificateObjects, WhatIsNoCertificateGivesNull) {
    const std::string cases[] = {"", std::string("\x30\x00", 2), "not DER at all", std::string("\x30\x82\x01", 3)};
    for (const auto& bytes : cases) {
        LogNull log;
        EXPECT_FALSE(fromDer(bytes, log)) << grvtest::ToHex(bytes);
    }
}

using CertificateKeys = pkitest::PkiRoots;

TEST_F(CertificateKeys, IssuerPartsNamesAndBags) {
    std::string pem =
        makeCert("parts", {"-subj", "/C=US/ST=Oregon/L=Salem/O=Acme, Inc/OU=Ops/CN=host/emailAddress=a@b.c",
                           "-set_serial", "0x01AB"});
    std::string der = pkitest::certificateDer(pem);
    Logger log;
    std::unique_ptr<Certificate> cert = fromDer(der, log);
    ASSERT_TRUE(cert);
    const std::pair<const char*, const char*> parts[] = {{"CN", "host"},     {"C", "US"},   {"L", "Salem"},
                                                         {"O", "Acme, Inc"}, {"OU", "Ops"}, {"S", "Oregon"},
                                                         {"E", "a@b.c"}};
    for (const auto& [name, want] : parts) {
        XString out;
        EXPECT_TRUE(cert->getIssuerPart(name, out, log)) << name;
        EXPECT_STREQ(out.getUtf8(), want) << name;
    }
    XString out;
    out.setFromUtf8("stale");
    EXPECT_FALSE(cert->getIssuerPart("ST", out, log));
    EXPECT_STREQ(out.getUtf8(), "");
    EXPECT_FALSE(cert->getIssuerPart(nullptr, out, log));
    EXPECT_NE(logText(log).find(cert_msg::kUnrecognizedIssuerPart), std::string::npos);
    cert->getSubjectDN(out, log);
    EXPECT_STREQ(out.getUtf8(), "US, Oregon, Salem, \"Acme, Inc\", Ops, host, a@b.c");

    // A bag loads its first certificate; the DER kept is the bag's.
    std::string other = makeCert("other", {"-subj", "/CN=other"});
    std::string bag = openssl({"crl2pkcs7", "-nocrl", "-certfile", pem, "-certfile", other, "-outform", "DER"});
    std::unique_ptr<Certificate> fromBag = fromDer(bag, log);
    ASSERT_TRUE(fromBag);
    XString serial;
    fromBag->getSerialNumber(serial, log);
    EXPECT_STREQ(serial.getUtf8(), "01AB");
}

TEST_F(CertificateKeys, PrivateKeyFromTheStoreOrGivenOrNone) {
    makeCert("keyed", {"-subj", "/CN=keyed", "-set_serial", "0x77"});
    std::string want =
        addWithKey("keyed", platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "keyed-box", 0, /*exportable=*/true);
    makeCert("locked", {"-subj", "/CN=locked", "-set_serial", "0x78"});
    addWithKey("locked", platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "locked-box", 0, /*exportable=*/false);
    std::unique_ptr<CertificateStore> store(CertificateStore::openCurrentUserMyStore(true, nullptr));
    ASSERT_TRUE(store);

    struct Case {
        const char* serial;
        const char* cn;
        bool skipKeyAccess;
        bool keyStored;
        bool keyUnavailable;
    } cases[] = {
        {"77", "keyed", false, true, false},
        {"77", "keyed", true, false, true},
        {"78", "locked", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cn) + (c.skipKeyAccess ? " skipping" : ""));
        Logger log;
        MsCertificate* found = store->FindCertBySerialAndIssuerCN(c.serial, c.cn, log, false);
        ASSERT_TRUE(found);
        std::unique_ptr<Certificate> cert(Certificate::createFromMsCertificate(found, c.skipKeyAccess, log));
        ASSERT_TRUE(cert);
        EXPECT_EQ(cert->hasStoredPrivateKey(), c.keyStored);
        EXPECT_EQ(cert->keyUnavailable(), c.keyUnavailable);
        DataBuffer key;
        bool unavailable = false;
        bool got = cert->getPrivateKeyDer(key, unavailable, true, log);
        // Skipping only defers: asked for, the key comes through the platform.
        EXPECT_EQ(got, std::string(c.cn) == "keyed") << logText(log);
        if (got)
            EXPECT_EQ(bytesOf(key), want);
        else
            EXPECT_TRUE(unavailable);
        std::unique_ptr<Certificate> copy(cert->clone());
        DataBuffer a, b;
        cert->getDer(a, log);
        copy->getDer(b, log);
        EXPECT_EQ(bytesOf(a), bytesOf(b));
        EXPECT_EQ(copy->hasStoredPrivateKey(), got);
    }

    // From bytes there is no key container: the platform road fails.
    std::string der = pkitest::certificateDer(m_work.File("keyed.crt"));
    Logger log;
    std::unique_ptr<Certificate> bare = fromDer(der, log);
    ASSERT_TRUE(bare);
    DataBuffer key;
    bool unavailable = true;
    EXPECT_FALSE(bare->getPrivateKeyDerAnySpec(key, unavailable, log));
    EXPECT_NE(logText(log).find(cert_msg::kViaCryptoApi), std::string::npos);
    EXPECT_EQ(key.getSize(), 0u);
    // A key given to the object travels to the context made later.
    DataBuffer given;
    given.append(want.data(), static_cast<unsigned int>(want.size()));
    bare->setPrivateKeyDer(given);
    MsCertificate* ms = bare->getMsCertificate(log);
    ASSERT_TRUE(ms);
    EXPECT_TRUE(ms->hasPrivateKey(log));
    EXPECT_TRUE(bare->getPrivateKeyDer(key, unavailable, false, log));
    EXPECT_EQ(bytesOf(key), want);

    // Adopted contexts: a null one gives null, a real one a certificate.
    EXPECT_FALSE(createCertFromMsContext(nullptr, true, log));
    platform::PCCERT_CONTEXT context = platform::CertCreateCertificateContext(
        platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
    std::unique_ptr<Certificate> adopted(createCertFromMsContext(context, true, log));
    ASSERT_TRUE(adopted);
    DataBuffer back;
    adopted->getDer(back, log);
    EXPECT_EQ(bytesOf(back), der);
}

TEST_F(CertificateKeys, PoolEntriesAndPublicObjects) {
    std::string der = pkitest::certificateDer(makeCert("pool", {"-subj", "/CN=pool entry"}));
    DataBuffer certDer, keyDer;
    certDer.append(der.data(), static_cast<unsigned int>(der.size()));
    keyDer.append("\x30\x03\x02\x01\x00", 5);

    XCert empty;
    DataBuffer out;
    EXPECT_EQ(empty.getX509(), nullptr);
    empty.getCertDer(out);
    EXPECT_EQ(out.getSize(), 0u);

    // The three places a pool entry finds its certificate.
    auto byDer = std::make_unique<XCert>();
    byDer->setCertDer(certDer);
    byDer->setPrivateKeyDer(keyDer);
    auto byCertificate = std::make_unique<XCert>();
    LogNull log;
    byCertificate->setCertificate(fromDer(der, log).release());
    for (XCert* entry : {byDer.get(), byCertificate.get()}) {
        TessikX509* x509 = entry->getX509();
        ASSERT_TRUE(x509);
        EXPECT_EQ(entry->getX509(), x509);
        XString cn;
        EXPECT_TRUE(x509->getSubjectCN(cn, log));
        EXPECT_STREQ(cn.getUtf8(), "pool entry");
        entry->getCertDer(out);
        EXPECT_EQ(bytesOf(out), der);
    }

    ExtPtrArray source, destination;
    source.setOwnsObjects(true);
    destination.setOwnsObjects(true);
    source.appendPtr(byDer.release());
    source.appendPtr(nullptr);
    source.appendPtr(byCertificate.release());
    destination.appendPtr(new XCert);
    copyXCertArray(&source, &destination);
    ASSERT_EQ(destination.getCount(), 2);
    static_cast<XCert*>(destination.elementAt(0))->getPrivateKeyDer(out);
    EXPECT_EQ(bytesOf(out), bytesOf(keyDer));
    static_cast<XCert*>(destination.elementAt(1))->getCertDer(out);
    EXPECT_EQ(bytesOf(out), der);
    copyXCertArray(&destination, &destination);
    EXPECT_EQ(destination.getCount(), 2);
    copyXCertArray(nullptr, &destination);
    EXPECT_EQ(destination.getCount(), 2);

    // A cloning public object copies; an adopting one takes over.
    Certificate* original = fromDer(der, log).release();
    {
        ClsCert copied(original, &destination, true);
        ASSERT_TRUE(copied.getCertificate());
        EXPECT_NE(copied.getCertificate(), original);
        EXPECT_EQ(copied.getXCerts().getCount(), 2);
        EXPECT_EQ(destination.getCount(), 2);
    }
    ClsCert adopted(original, &destination, false);
    EXPECT_EQ(adopted.getCertificate(), original);
    EXPECT_EQ(adopted.getXCerts().getCount(), 2);
    EXPECT_EQ(destination.getCount(), 0);
}

TEST(CertRepositoryLookups, EntriesMadeByZlibAndOpensslReadBack) {
    installCryptoServices();
    grvtest::TempDir dir("repo");
    std::string der = pkitest::openssl({"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", dir.File("k.pem"),
                                        "-subj", "/CN=Repo", "-outform", "DER"});
    std::string key = pkitest::openssl({"rsa", "-in", dir.File("k.pem"), "-traditional", "-outform", "DER"});
    ASSERT_TRUE(grvtest::WriteFile(dir.File("cert.der"), der));
    grvtest::RunResult compressed =
        grvtest::Python("import base64,sys,zlib\n"
                        "c = zlib.compressobj(9, zlib.DEFLATED, -15)\n"
                        "d = c.compress(open(sys.argv[1], 'rb').read()) + c.flush()\n"
                        "print('<entry><compressedDer>' + base64.b64encode(d).decode() + '</compressedDer></entry>')\n",
                        {dir.File("cert.der")});
    ASSERT_TRUE(compressed.Ok()) << compressed.err;

    // Keys: AES-128-CBC under the scrambled password's key, zero IV, the DER
    // padded once before openssl pads it again.
    const char* password = "repository secret";
    StringBuffer scrambled(password);
    scrambled.scrambleBytes();
    DataBuffer aesKey;
    keyFromPassword(scrambled.getString(), aesKey);
    std::string padded = key + std::string(16 - key.size() % 16, static_cast<char>(16 - key.size() % 16));
    grvtest::RunOptions feed;
    feed.input = padded;
    grvtest::RunResult encrypted =
        grvtest::RunProgram({"openssl", "enc", "-aes-128-cbc", "-a", "-A", "-K", grvtest::ToHex(aesKey.getData(), 16),
                             "-iv", std::string(32, '0')},
                            feed);
    ASSERT_TRUE(encrypted.Ok()) << encrypted.err;

    CertRepository repo;
    repo.insertCertEntry("AB12:Repo", compressed.out.c_str());
    repo.insertCertEntry("SubjectKeyId:c2tp", compressed.out.c_str());
    repo.insertKeyEntry("AB12:Repo", encrypted.out.c_str());
    repo.insertKeyEntry("SubjectKeyId:c2tp", encrypted.out.c_str());
    repo.insertKeyEntry("EMPTY:Repo", "");
    repo.setKeyPassword(password);

    struct Case {
        const char* serial;
        const char* cn;
        bool found;
    } cases[] = {{"AB12", "Repo", true},
                 {"00AB12", "Repo", true},
                 {"0000AB12", "Repo", false},
                 {"AB12", "repo", false},
                 {"EMPTY", "Repo", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.serial) + ":" + c.cn);
        Logger log;
        DataBuffer out;
        if (std::string(c.serial) != "EMPTY") {
            EXPECT_EQ(repo.findCertDer(c.serial, c.cn, out, log, true), c.found);
            EXPECT_EQ(bytesOf(out), c.found ? der : "");
        }
        EXPECT_EQ(repo.findPrivateKey(c.serial, c.cn, out, log, true), c.found);
        EXPECT_EQ(bytesOf(out), c.found ? key : "");
        EXPECT_NE(logText(log).find(c.found ? certrepo_msg::kKeyFound : certrepo_msg::kKeyNotFound), std::string::npos);
    }
    Logger log;
    DataBuffer out;
    EXPECT_TRUE(repo.findCertDerBySubjectKeyId("c2tp", out, log, false));
    EXPECT_EQ(bytesOf(out), der);
    EXPECT_TRUE(repo.findPrivateKeyBySubjectId("c2tp", out, log, false));
    EXPECT_EQ(bytesOf(out), key);
    EXPECT_FALSE(repo.findPrivateKeyBySubjectId("other", out, log, true));
    EXPECT_NE(logText(log).find(certrepo_msg::kKeyNotFoundBySubjectId), std::string::npos);
    repo.setKeyPassword("wrong");
    EXPECT_FALSE(repo.findPrivateKey("AB12", "Repo", out, log, false));
    EXPECT_EQ(out.getSize(), 0u);
}

} // namespace
