// Certificate contexts, key containers, providers and stores over the
// platform stand-in, judged by openssl: private keys against
// `openssl rsa -traditional -outform DER`, usages and alternative names
// against `openssl x509 -ext`, serials against `openssl x509 -serial`.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/StringPair.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/CryptoAlg.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/CryptoSP.h"
#include "netlib/pki/KeyContainer.h"
#include "netlib/pki/MsCertificate.h"
#include "platform/CertStore.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using pkitest::bytesOf;
using pkitest::logText;
using pkitest::openssl;
using pkitest::PkiRoots;

namespace {

using PrivateKeys = PkiRoots;

TEST_F(PrivateKeys, BlobToDerEqualsOpensslTraditionalDer) {
    struct Case {
        std::vector<std::string> genrsa;
    } cases[] = {{{"2048"}}, {{"1024"}}, {{"-3", "1024"}}, {{"3072"}}, {{"512"}}, {{"512"}}, {{"512"}}};
    int n = 0;
    for (const auto& c : cases) {
        std::string pem = m_work.File("k" + std::to_string(n++) + ".pem");
        std::vector<std::string> args{"genrsa", "-out", pem};
        args.insert(args.end(), c.genrsa.begin(), c.genrsa.end());
        openssl(args);
        std::string blob = openssl({"rsa", "-in", pem, "-outform", "MSBLOB"});
        std::string want = openssl({"rsa", "-in", pem, "-traditional", "-outform", "DER"});
        DataBuffer der;
        LogNull log;
        ASSERT_TRUE(KeyContainer::blobToDer(reinterpret_cast<const unsigned char*>(blob.data()),
                                            static_cast<unsigned int>(blob.size()), der, log));
        EXPECT_EQ(bytesOf(der), want) << pem;
        EXPECT_FALSE(KeyContainer::blobToDer(reinterpret_cast<const unsigned char*>(blob.data()),
                                             static_cast<unsigned int>(blob.size() - 1), der, log));
    }
}

TEST_F(PrivateKeys, ExportThroughTheCertificatesKeyContainer) {
    struct Case {
        const char* name;
        DWORD flags;
        bool exportable;
    } cases[] = {{"user", 0, true}, {"machine", platform::CRYPT_MACHINE_KEYSET, true}, {"locked", 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A fixed serial: a random one may start with a sign byte.
        std::string pem = makeCert(c.name, {"-subj", std::string("/CN=") + c.name, "-set_serial", "0x5EED01"});
        std::string base = addToStore(pem, platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY");
        std::string want = importKey(c.name, std::string("box-") + c.name, c.flags, c.exportable);
        ASSERT_TRUE(grvtest::WriteFile(base + platform::kKeyProvSuffix,
                                       std::string("container=box-") + c.name +
                                           "\ntype=1\nflags=" + std::to_string(c.flags) + "\nkeyspec=1\n"));
        std::unique_ptr<CertificateStore> store(CertificateStore::openCurrentUserMyStore(true, nullptr));
        ASSERT_TRUE(store);
        std::string serial = openssl({"x509", "-in", pem, "-noout", "-serial"});
        serial = serial.substr(serial.find('=') + 1);
        serial.erase(serial.find_last_not_of("\r\n") + 1);
        ASSERT_EQ(serial, "5EED01");
        Logger log;
        std::unique_ptr<MsCertificate> cert(store->FindCertBySerialAndIssuerCN(serial.c_str(), c.name, log, true));
        ASSERT_TRUE(cert) << logText(log);
        EXPECT_TRUE(cert->hasPrivateKey(log));
        EXPECT_TRUE(cert->checkPrivateKey(log));
        bool machine = !c.flags;
        EXPECT_TRUE(cert->isMachineKeyset(machine, log));
        EXPECT_EQ(machine, c.flags != 0);
        DataBuffer der;
        bool inaccessible = true;
        EXPECT_EQ(cert->exportPrivateKeyDer(false, der, inaccessible, log), c.exportable);
        EXPECT_EQ(inaccessible, !c.exportable);
        if (c.exportable) {
            EXPECT_EQ(bytesOf(der), want);
        } else {
            EXPECT_EQ(der.getSize(), 0u);
            std::string text = logText(log);
            for (const char* line :
                 {keycontainer_msg::kNotExportable, keycontainer_msg::kReinstall, keycontainer_msg::kMarkExportable})
                EXPECT_NE(text.find(line), std::string::npos) << line;
        }
        EXPECT_TRUE(cert->exportPrivateKeyDer(true, der, inaccessible, log));
        EXPECT_TRUE(inaccessible);
        EXPECT_EQ(der.getSize(), 0u);
        std::unique_ptr<MsCertificate> copy(cert->clone());
        DataBuffer a, b;
        EXPECT_TRUE(cert->getDer(a, &log));
        EXPECT_TRUE(copy->getDer(b, &log));
        EXPECT_EQ(bytesOf(a), bytesOf(b));
        EXPECT_EQ(bytesOf(a), openssl({"x509", "-in", pem, "-outform", "DER"}));
    }
}

TEST_F(PrivateKeys, TheContainerKeyMustBeTheCertificatesKey) {
    // "own" has its key; "other" names a container holding own's key; the EC
    // certificate names one too, but its key is of another kind.
    makeCert("own", {"-subj", "/CN=own", "-set_serial", "0x11"});
    makeCert("other", {"-subj", "/CN=other", "-set_serial", "0x12"});
    addWithKey("own", platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "own-box", 0, true);
    std::string otherBase = addToStore(m_work.File("other.crt"), platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY");
    ASSERT_TRUE(grvtest::WriteFile(otherBase + platform::kKeyProvSuffix, "container=own-box\ntype=1\nkeyspec=1\n"));
    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
             m_work.File("ec.key"), "-out", m_work.File("ec.crt"), "-subj", "/CN=ec", "-set_serial", "0x13"});
    std::string ecBase = addToStore(m_work.File("ec.crt"), platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY");
    ASSERT_TRUE(grvtest::WriteFile(ecBase + platform::kKeyProvSuffix, "container=own-box\ntype=1\nkeyspec=1\n"));

    // The public half the comparison reads is the blob openssl writes.
    platform::HCRYPTPROV prov = 0;
    platform::HCRYPTKEY key = 0;
    ASSERT_TRUE(platform::CryptAcquireContextA(&prov, "own-box", nullptr, platform::PROV_RSA_FULL, 0));
    ASSERT_TRUE(platform::CryptGetUserKey(prov, platform::AT_KEYEXCHANGE, &key));
    DWORD size = 0;
    ASSERT_TRUE(platform::CryptExportKey(key, 0, platform::PUBLICKEYBLOB, 0, nullptr, &size));
    std::string blob(size, '\0');
    ASSERT_TRUE(
        platform::CryptExportKey(key, 0, platform::PUBLICKEYBLOB, 0, reinterpret_cast<BYTE*>(blob.data()), &size));
    EXPECT_EQ(blob, openssl({"rsa", "-in", m_work.File("own.key"), "-pubout", "-outform", "MSBLOB"}));
    platform::CryptDestroyKey(key);
    platform::CryptReleaseContext(prov, 0);

    std::unique_ptr<CertificateStore> store(CertificateStore::openCurrentUserMyStore(true, nullptr));
    ASSERT_TRUE(store);
    struct Case {
        const char* serial;
        const char* cn;
        bool matches;
    } cases[] = {{"11", "own", true}, {"12", "other", false}, {"13", "ec", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cn);
        Logger log;
        std::unique_ptr<MsCertificate> cert(store->FindCertBySerialAndIssuerCN(c.serial, c.cn, log, false));
        ASSERT_TRUE(cert);
        EXPECT_EQ(cert->hasPrivateKey(log), c.matches);
        EXPECT_EQ(cert->checkPrivateKey(log), c.matches);
        // Without the comparison the container opens all the same.
        platform::HCRYPTPROV any = 0;
        DWORD spec = 0;
        EXPECT_TRUE(cert->acquirePrivateKey(&any, &spec, log));
        platform::CryptReleaseContext(any, 0);
        if (!c.matches) {
            EXPECT_NE(logText(log).find(mscert_msg::kCannotAcquire), std::string::npos);
            EXPECT_NE(logText(log).find("80090015"), std::string::npos) << logText(log);
        }
    }
}

TEST_F(PrivateKeys, KeyProviderLookupFailsOnceAndForAll) {
    std::string pem = makeCert("nokey", {"-subj", "/CN=nokey"});
    std::string der = openssl({"x509", "-in", pem, "-outform", "DER"});
    Logger log;
    std::unique_ptr<MsCertificate> cert(MsCertificate::createFromBinary(
        reinterpret_cast<const unsigned char*>(der.data()), static_cast<unsigned int>(der.size()), log));
    ASSERT_TRUE(cert);
    EXPECT_FALSE(cert->hasPrivateKey(log));
    StringBuffer name;
    EXPECT_FALSE(cert->getKeyContainerName(name, log));
    EXPECT_EQ(logText(log).find(mscert_msg::kNoKeyProvInfo), std::string::npos);
    EXPECT_FALSE(cert->getKeyContainerName(name, log));
    EXPECT_NE(logText(log).find(mscert_msg::kNoKeyProvInfo), std::string::npos);
    DataBuffer out;
    bool inaccessible = false;
    EXPECT_FALSE(cert->exportPrivateKeyDer(false, out, inaccessible, log));
    EXPECT_NE(logText(log).find(mscert_msg::kNoKeyContainer), std::string::npos);
    cert->setPrivateKeyDer(reinterpret_cast<const unsigned char*>("\x30\x00"), 2);
    EXPECT_TRUE(cert->hasPrivateKey(log));
    EXPECT_TRUE(cert->exportPrivateKeyDer(false, out, inaccessible, log));
    EXPECT_EQ(bytesOf(out), std::string("\x30\x00", 2));
    EXPECT_EQ(MsCertificate::createFromBinary(reinterpret_cast<const unsigned char*>("\x04\x00"), 2, log), nullptr);
    EXPECT_NE(logText(log).find(mscert_msg::kCreateFromBinary), std::string::npos);
}

using CertificateContexts = PkiRoots;

// openssl's words for the usages, in our flags' order.
std::string ourUsages(MsCertificate& c) {
    std::vector<std::pair<bool, const char*>> flags{{c.m_digitalSignature, "Digital Signature"},
                                                    {c.m_nonRepudiation, "Non Repudiation"},
                                                    {c.m_keyEncipherment, "Key Encipherment"},
                                                    {c.m_dataEncipherment, "Data Encipherment"},
                                                    {c.m_keyCertSign, "Certificate Sign"},
                                                    {c.m_crlSign, "CRL Sign"},
                                                    {c.m_serverAuth, "TLS Web Server Authentication"},
                                                    {c.m_clientAuth, "TLS Web Client Authentication"},
                                                    {c.m_codeSigning, "Code Signing"},
                                                    {c.m_emailProtection, "E-mail Protection"},
                                                    {c.m_timeStamping, "Time Stamping"}};
    std::string out;
    for (const auto& f : flags)
        if (f.first)
            out += std::string(f.second) + ";";
    return out;
}

// The same words from `openssl x509 -ext`, keeping only those we hold.
std::string opensslUsages(const std::string& pem, std::string& lastEmail, bool& hasEku) {
    std::string text = openssl({"x509", "-in", pem, "-noout", "-ext", "keyUsage,extendedKeyUsage,subjectAltName"});
    static const char* kWords[] = {"Digital Signature",
                                   "Non Repudiation",
                                   "Key Encipherment",
                                   "Data Encipherment",
                                   "Certificate Sign",
                                   "CRL Sign",
                                   "TLS Web Server Authentication",
                                   "TLS Web Client Authentication",
                                   "Code Signing",
                                   "E-mail Protection",
                                   "Time Stamping"};
    std::string out;
    for (const char* w : kWords)
        if (text.find(w) != std::string::npos)
            out += std::string(w) + ";";
    hasEku = text.find("X509v3 Extended Key Usage") != std::string::npos;
    lastEmail.clear();
    for (std::size_t at = text.find("email:"); at != std::string::npos; at = text.find("email:", at + 1)) {
        std::size_t end = text.find_first_of(",\n", at);
        lastEmail = text.substr(at + 6, end - at - 6);
    }
    return out;
}

TEST_F(CertificateContexts, UsagesAndAlternativeNamesAgreeWithOpenssl) {
    std::vector<std::vector<std::string>> cases{
        {"-addext", "keyUsage=digitalSignature,keyEncipherment", "-addext", "extendedKeyUsage=serverAuth,clientAuth",
         "-addext", "subjectAltName=DNS:a.example,email:first@example.org,email:second@example.org"},
        {"-addext", "keyUsage=nonRepudiation,dataEncipherment,keyCertSign,cRLSign", "-addext",
         "extendedKeyUsage=codeSigning,emailProtection,timeStamping,OCSPSigning"},
        {"-addext", "keyUsage=keyAgreement", "-addext", "subjectAltName=email:only@example.net"},
        {"-addext", "extendedKeyUsage=ipsecIKE"},
    };
    int n = 0;
    for (const auto& ext : cases) {
        std::vector<std::string> args{"-subj", "/CN=usage" + std::to_string(n)};
        args.insert(args.end(), ext.begin(), ext.end());
        std::string pem = makeCert("usage" + std::to_string(n++), args);
        std::string der = openssl({"x509", "-in", pem, "-outform", "DER"});
        LogNull log;
        std::unique_ptr<MsCertificate> cert(MsCertificate::createFromBinary(
            reinterpret_cast<const unsigned char*>(der.data()), static_cast<unsigned int>(der.size()), log));
        ASSERT_TRUE(cert);
        std::string email;
        bool hasEku = false;
        EXPECT_EQ(ourUsages(*cert), opensslUsages(pem, email, hasEku)) << pem;
        EXPECT_EQ(cert->m_hasExtKeyUsage, hasEku);
        EXPECT_EQ(std::string(cert->emailAddress()), email);
    }
}

TEST_F(CertificateContexts, NamePartsAndSerialText) {
    std::string pem =
        makeCert("names", {"-subj", "/C=DE/O=Acme, Inc./OU=Unit/CN=Name Here", "-set_serial", "0x00ff0102"});
    std::string der = openssl({"x509", "-in", pem, "-outform", "DER"});
    LogNull log;
    std::unique_ptr<MsCertificate> cert(MsCertificate::createFromBinary(
        reinterpret_cast<const unsigned char*>(der.data()), static_cast<unsigned int>(der.size()), log));
    ASSERT_TRUE(cert);
    StringBuffer hex;
    MsCertificate::serialToHex(cert->context(), hex);
    EXPECT_STREQ(hex.getString(), "00ff0102"); // the DER content, leading 00 kept
    std::string parts;
    for (int i = 0; i < cert->subjectParts().getCount(); ++i) {
        auto* p = static_cast<StringPair*>(cert->subjectParts().elementAt(i));
        parts += std::string(p->getKey()) + "=" + p->getValue() + "|";
    }
    EXPECT_EQ(parts, "C=DE|O=\"Acme, Inc.\"|OU=Unit|CN=Name Here|");
    EXPECT_EQ(cert->issuerParts().getCount(), cert->subjectParts().getCount());
}

using Stores = PkiRoots;

TEST_F(Stores, FindBySerialIssuerAndKeyIdentifier) {
    std::string a = makeCert("alpha", {"-subj", "/CN=Alpha Issuer", "-set_serial", "0x1234"});
    std::string b = makeCert("beta", {"-subj", "/O=Org/CN=Beta", "-set_serial", "0xABCD"});
    addToStore(a, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
    addToStore(b, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
    std::unique_ptr<CertificateStore> store(CertificateStore::openLocalMachineCaStore(true, nullptr));
    ASSERT_TRUE(store);
    StringBuffer where;
    store->describe(where);
    EXPECT_STREQ(where.getString(), "(registry) HKEY_LOCAL_MACHINE/[CA Local Machine Certificate Store]");
    struct Case {
        const char* serial;
        const char* cn;
        std::string wantPem;
    } cases[] = {
        {"1234", "Alpha Issuer", a}, {"00abcd", "Beta", b},
        {"00ABCD", "Beta", b},       {"abcd", "Beta", ""}, // the sign byte belongs to the serial
        {"1234", "Alpha", ""},                             // a prefix of the CN is no match
        {"1234", "Beta", ""},        {"9999", "Beta", ""},
    };
    for (const auto& c : cases) {
        LogNull log;
        std::unique_ptr<MsCertificate> found(store->FindCertBySerialAndIssuerCN(c.serial, c.cn, log, false));
        ASSERT_EQ(found != nullptr, !c.wantPem.empty()) << c.serial << " " << c.cn;
        if (!found)
            continue;
        DataBuffer der;
        found->getDer(der, &log);
        EXPECT_EQ(bytesOf(der), openssl({"x509", "-in", c.wantPem, "-outform", "DER"}));
    }
    // The subject key identifier openssl printed, as base64.
    std::string ski = openssl({"x509", "-in", b, "-noout", "-ext", "subjectKeyIdentifier"});
    std::string hex;
    for (char ch : ski.substr(ski.find('\n') + 1))
        if (std::isxdigit(static_cast<unsigned char>(ch)))
            hex += ch;
    grvtest::RunResult b64 =
        grvtest::Python("import base64,sys; print(base64.b64encode(bytes.fromhex(sys.argv[1])).decode())", {hex});
    ASSERT_TRUE(b64.Ok()) << b64.err;
    b64.out.erase(b64.out.find_last_not_of("\n") + 1);
    LogNull log;
    std::unique_ptr<MsCertificate> bySki(store->findCertBySubjectKeyId(b64.out.c_str(), log));
    ASSERT_TRUE(bySki);
    XString subject;
    bySki->getSubjectText(subject, log);
    EXPECT_STREQ(subject.getUtf8(), "O=Org, CN=Beta");
    EXPECT_FALSE(store->findCertBySubjectKeyId("AAAA", log));

    EXPECT_FALSE(CertificateStore::openCurrentUserRegistryStore("Software/Nowhere", true, nullptr));
    std::unique_ptr<CertificateStore> root(CertificateStore::openLocalMachineRootStore(true, nullptr));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->place().m_kind, kStoreLocalMachineSystem);
}

using Providers = PkiRoots;

TEST_F(Providers, TypesByNameAndTheRetryPaths) {
    struct Case {
        const char* name;
        std::uint32_t type;
    } cases[] = {
        {nullptr, 1},
        {"microsoft enhanced rsa and aes cryptographic provider", 24},
        {"Microsoft RSA SChannel Cryptographic Provider", 12},
        {"Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider", 75},
        {"Microsoft Exchange Cryptographic Provider v1.0", 5},
        {"gemplus gemsafe card csp v1.0", 1}, // exact only: falls through to the default
        {"Some Fortezza Card", 4},
        {"my schannel", 12},
        {"Another AES thing", 24},
        {"Unheard Of", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CryptoSP::providerTypeByName(c.name), c.type) << (c.name ? c.name : "(null)");

    Logger log;
    // The container is missing: NTE_BAD_KEYSET, then a retry that makes it.
    std::unique_ptr<CryptoSP> sp(
        CryptoSP::AcquireCSP(" Microsoft Enhanced Cryptographic Provider v1.0 ", " fresh ", false, false, log));
    ASSERT_TRUE(sp) << logText(log);
    EXPECT_NE(logText(log).find(cryptosp_msg::kRetryNewKeyset), std::string::npos);
    EXPECT_STREQ(sp->containerName(), "fresh");
    EXPECT_TRUE(platform::KeyContainerExists("fresh", 0));
    std::unique_ptr<CryptoAlg> alg(sp->findFirstEncryptionAlgorithm());
    ASSERT_TRUE(alg);
    EXPECT_STREQ(alg->getStringMemberChars(), "RC2");
    EXPECT_EQ(alg->getKeyBits(), 128u);

    // A verify context names no container, even when one is given.
    std::unique_ptr<CryptoSP> verify(CryptoSP::AcquireCSP(nullptr, "ignored", true, false, log));
    ASSERT_TRUE(verify);
    EXPECT_STREQ(verify->containerName(), "");
    EXPECT_FALSE(platform::KeyContainerExists("ignored", 0));

    std::unique_ptr<CryptoSP> def(CryptoSP::AcquireDefaultCSP(false, false, log));
    ASSERT_TRUE(def) << logText(log);
    EXPECT_STREQ(def->containerName(), platform::kDefaultKeyContainer);
    EXPECT_EQ(def->impType(), platform::CRYPT_IMPL_SOFTWARE);
    std::unique_ptr<CryptoSP> machine(CryptoSP::AcquireDefaultCSP(true, true, log));
    ASSERT_TRUE(machine);
    std::unique_ptr<CryptoSP> any(CryptoSP::acquireCspAnyKeyset("Unknown Provider", "x", false, log));
    EXPECT_FALSE(any);
}

} // namespace
