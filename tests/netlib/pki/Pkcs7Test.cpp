// PKCS#7 messages against openssl: signed messages `openssl smime -sign`
// made verify (and fail once tampered with), envelopes `openssl smime
// -encrypt` made open, ours open with `openssl smime -decrypt` and `openssl
// cms -decrypt`, certificates equal `openssl pkcs7 -print_certs`, and the
// EncryptedData of a published PKCS#12 file decrypts.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/CryptoServices.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ClsCert.h"
#include "netlib/pki/CryptPublicKey.h"
#include "netlib/pki/MsMessages.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/Pkcs7EncryptedData.h"
#include "netlib/pki/Pkcs7EnvelopedData.h"
#include "netlib/pki/Pkcs7SignedData.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/SystemCerts.h"
#include "netlib/pki/TessikX509.h"
#include "netlib/streams/DataSource.h"
#include "platform/CertStore.h"

using namespace tessik;
using pkitest::bufferOf;
using pkitest::bytesOf;
using pkitest::logText;
using pkitest::openssl;
using pkitest::runOpenssl;

namespace {

constexpr const char* kVectors = "/usr/lib/python3/dist-packages/cryptography_vectors";

// The certificates `openssl pkcs7 -print_certs` finds, as DER.
std::vector<std::string> opensslCerts(const std::string& file, const char* form) {
    grvtest::RunResult r = runOpenssl({"pkcs7", "-inform", form, "-in", file, "-print_certs"});
    std::vector<std::string> ders;
    platform::PemCertificatesToDer(r.out, ders);
    return ders;
}

std::vector<std::string> ourCerts(const Pkcs7& p7) {
    std::vector<std::string> out;
    for (int i = 0; i < p7.certificates().getCount(); ++i)
        out.push_back(bytesOf(*static_cast<const DataBuffer*>(p7.certificates().elementAt(i))));
    return out;
}

class Pkcs7Messages : public pkitest::PkiRoots {
protected:
    void SetUp() override {
        PkiRoots::SetUp();
        installPkiServices();
        for (const char* who : {"alice", "bob"})
            makeCert(who, {"-subj", std::string("/O=Gorvane Test/CN=") + who, "-set_serial",
                           who[0] == 'a' ? "0x0A11CE" : "0xB0B0"});
        m_message = "Subject: a test\r\n\r\nThe body of a signed or sealed message.\r\n" + std::string(300, 'x');
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("message.txt"), m_message));
    }
    std::string crt(const char* who) { return m_work.File(std::string(who) + ".crt"); }
    std::string key(const char* who) { return m_work.File(std::string(who) + ".key"); }
    std::string keyDer(const char* who) { return openssl({"rsa", "-in", key(who), "-traditional", "-outform", "DER"}); }
    // The certificate of a recipient.
    CertificateFields fields(const char* who) {
        std::unique_ptr<CertificateFields> read = readCertificateFields(pkitest::certificateDer(crt(who)));
        EXPECT_TRUE(read) << who;
        return read ? *read : CertificateFields();
    }

    // "probe" (O=Real, CN=Probe CA, serial 5), its key under the name
    // O=Evil ("probe-evil"), and keys of their own under its serial and
    // common name ("decoy", O=Evil) and its whole name ("twin"); DER beside.
    void makeProbes() {
        makeCert("probe", {"-subj", "/O=Real/CN=Probe CA", "-set_serial", "5"});
        makeCert("decoy", {"-subj", "/O=Evil/CN=Probe CA", "-set_serial", "5"});
        makeCert("twin", {"-subj", "/O=Real/CN=Probe CA", "-set_serial", "5"});
        openssl({"req", "-x509", "-key", key("probe"), "-subj", "/O=Evil/CN=Probe CA", "-set_serial", "5", "-days",
                 "30", "-out", crt("probe-evil")});
        EXPECT_TRUE(grvtest::WriteFile(key("probe-evil"), grvtest::ReadFile(key("probe"))));
        for (const char* who : {"probe", "decoy", "twin", "probe-evil"})
            EXPECT_TRUE(grvtest::WriteFile(m_work.File(std::string(who) + ".der"), pkitest::certificateDer(crt(who))));
    }

    // signers: the certificates of the signers that verified, as DER.
    bool open(const std::string& der, DataBuffer& out, Logger& log, std::vector<std::string>* signers = nullptr,
              bool verbose = true) {
        Pkcs7 p7;
        if (!p7.loadPkcs7Der(*bufferOf(der), nullptr, log, verbose))
            return false;
        SystemCerts stores;
        DataBuffer certDer;
        bool keyLocated = false;
        const bool opened = p7.openContent(stores, out, certDer, keyLocated, log, verbose);
        for (int i = 0; signers && p7.signedData() && i < p7.signedData()->signerCerts.getCount(); ++i) {
            DataBuffer signer;
            static_cast<const TessikX509*>(p7.signedData()->signerCerts.elementAt(i))->getDer(signer);
            signers->push_back(bytesOf(signer));
        }
        return opened;
    }

    std::string m_message;
};

TEST_F(Pkcs7Messages, OpensslSignedMessagesVerifyAndTamperingFails) {
    struct Case {
        const char* md;
        bool attributes;
        bool twoSigners;
    } cases[] = {{"sha1", true, false},    {"sha256", true, false}, {"sha512", true, false}, {"md5", true, false},
                 {"sha384", false, false}, {"sha1", false, false},  {"sha256", true, true},  {"sha512", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.md) + (c.attributes ? " with attributes" : " without") +
                     (c.twoSigners ? ", two signers" : ""));
        std::vector<std::string> args{
            "smime", "-sign", "-nodetach", "-binary",    "-outform", "DER",       "-in", m_work.File("message.txt"),
            "-md",   c.md,    "-signer",   crt("alice"), "-inkey",   key("alice")};
        if (c.twoSigners)
            args.insert(args.end(), {"-signer", crt("bob"), "-inkey", key("bob")});
        if (!c.attributes)
            args.push_back("-noattr");
        std::string signedDer = openssl(args);
        ASSERT_FALSE(signedDer.empty());
        Logger log;
        DataBuffer out;
        EXPECT_TRUE(open(signedDer, out, log)) << logText(log);
        EXPECT_EQ(bytesOf(out), m_message);
        EXPECT_NE(logText(log).find(signeddata_msg::kVerified), std::string::npos);

        // The signers' certificates are the ones openssl lists.
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("signed.p7"), signedDer));
        Pkcs7 p7;
        ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(signedDer), nullptr, log, false));
        EXPECT_EQ(ourCerts(p7), opensslCerts(m_work.File("signed.p7"), "DER"));
        EXPECT_EQ(p7.authAttrDers().getCount(), c.twoSigners ? 2 : 1);

        // One changed byte in the content, then one in the last signature.
        std::string tampered = signedDer;
        std::size_t at = tampered.find("The body");
        ASSERT_NE(at, std::string::npos);
        tampered[at] ^= 0x20;
        Logger bad;
        EXPECT_FALSE(open(tampered, out, bad));
        // Caught by the message digest when there is one, else by the signature.
        EXPECT_NE(logText(bad).find(c.attributes ? "message digest does not match" : signeddata_msg::kNotVerified),
                  std::string::npos);
        tampered = signedDer;
        tampered[tampered.size() - 5] ^= 0x01;
        Logger badSig;
        // With two signers the first one holding is not enough.
        EXPECT_FALSE(open(tampered, out, badSig)) << logText(badSig);
        EXPECT_NE(logText(badSig).find(signeddata_msg::kSignatureMismatch), std::string::npos);
        EXPECT_EQ(out.getSize(), 0u);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("tampered.p7"), tampered));
        EXPECT_FALSE(
            runOpenssl({"smime", "-verify", "-noverify", "-inform", "DER", "-in", m_work.File("tampered.p7")}).Ok());
    }
}

TEST_F(Pkcs7Messages, CertificatesAreTakenOnlyFromTheCertificatesField) {
    // Bags of certificates, one of CRLs only, and the published bundles.
    std::string crl = std::string(kVectors) + "/x509/custom/crl_empty.pem";
    std::string bagFile = m_work.File("bag.p7b"), crlFile = m_work.File("crl.p7b");
    ASSERT_TRUE(grvtest::WriteFile(bagFile, openssl({"crl2pkcs7", "-nocrl", "-certfile", crt("alice"), "-certfile",
                                                     crt("bob"), "-outform", "DER"})));
    ASSERT_TRUE(grvtest::WriteFile(crlFile, openssl({"crl2pkcs7", "-in", crl, "-outform", "DER"})));
    struct Case {
        std::string file;
        const char* form;
        std::size_t count;
    } cases[] = {{bagFile, "DER", 2},
                 {crlFile, "DER", 0},
                 {std::string(kVectors) + "/pkcs7/amazon-roots.der", "DER", 2},
                 {std::string(kVectors) + "/pkcs7/isrg.pem", "PEM", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string der = std::string(c.form) == "PEM" ? openssl({"pkcs7", "-in", c.file, "-outform", "DER"})
                                                       : grvtest::ReadFile(c.file);
        Pkcs7 p7;
        Logger log;
        ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(der), nullptr, log, true)) << logText(log);
        EXPECT_EQ(p7.contentType(), kPkcs7Signed);
        std::vector<std::string> ours = ourCerts(p7);
        EXPECT_EQ(ours.size(), c.count);
        EXPECT_EQ(ours, opensslCerts(c.file, c.form));
    }
}

// Signs the file at `path` with the key at `keyFile`; gives the signature.
using Signer = std::function<std::string(const std::string& path, const std::string& keyFile)>;

std::string signSha256(const std::string& path, const std::string& keyFile) {
    return openssl({"dgst", "-sha256", "-sign", keyFile, path});
}

// A SignedData over `content` whose one signer signs `attributes` (a SET of
// attributes) with alice's key under SHA-256 (as `sign` makes the signature).
std::string signedDataWith(const std::string& content, std::unique_ptr<Asn1> attributes, const std::string& certDer,
                           const std::string& keyFile, grvtest::TempDir& work, const Signer& sign = signSha256) {
    LogNull log;
    DataBuffer attrDer;
    attributes->encodeDer(attrDer, false, nullptr, log);
    EXPECT_TRUE(grvtest::WriteFile(work.File("attrs.der"), bytesOf(attrDer)));
    std::string signature = sign(work.File("attrs.der"), keyFile);
    // In the SignerInfo the attributes carry [0] IMPLICIT instead of SET.
    attributes->tagClass = 2;
    attributes->tag = 0;
    attributes->primitive = 0;
    auto algorithm = [](const char* oid) {
        Asn1* seq = Asn1::newSequence();
        seq->appendChild(Asn1::newOid(oid));
        seq->appendChild(Asn1::newNull());
        return seq;
    };
    std::unique_ptr<Certificate> cert(
        Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(certDer.data()),
                                     static_cast<std::uint32_t>(certDer.size()), log, false));
    Asn1* issuerAndSerial = buildIssuerAndSerialAsn(*cert, log);
    Asn1* signer = Asn1::newSequence();
    signer->appendChild(Asn1::newInteger(1));
    signer->appendChild(issuerAndSerial);
    signer->appendChild(algorithm("2.16.840.1.101.3.4.2.1"));
    signer->appendChild(attributes.release());
    signer->appendChild(algorithm("1.2.840.113549.1.1.1"));
    signer->appendChild(Asn1::newOctetString(reinterpret_cast<const unsigned char*>(signature.data()),
                                             static_cast<std::uint32_t>(signature.size())));
    Asn1* signers = Asn1::newSet();
    signers->appendChild(signer);
    Asn1* digests = Asn1::newSet();
    digests->appendChild(algorithm("2.16.840.1.101.3.4.2.1"));
    Asn1* inner = Asn1::newSequence();
    inner->appendChild(Asn1::newOid(pkcs7_oid::kData));
    Asn1* wrapped = Asn1::newContextConstructed(0);
    wrapped->appendChild(Asn1::newOctetString(reinterpret_cast<const unsigned char*>(content.data()),
                                              static_cast<std::uint32_t>(content.size())));
    inner->appendChild(wrapped);
    Asn1* certs = Asn1::newContextConstructed(0);
    std::unique_ptr<Asn1> certNode(decodeBerFirst(reinterpret_cast<const unsigned char*>(certDer.data()),
                                                  static_cast<std::uint32_t>(certDer.size()), nullptr, log));
    certs->appendChild(certNode.release());
    Asn1* sd = Asn1::newSequence();
    sd->appendChild(Asn1::newInteger(1));
    sd->appendChild(digests);
    sd->appendChild(inner);
    sd->appendChild(certs);
    sd->appendChild(signers);
    std::unique_ptr<Asn1> root(Asn1::newSequence());
    root->appendChild(Asn1::newOid(pkcs7_oid::kSignedData));
    Asn1* explicit0 = Asn1::newContextConstructed(0);
    explicit0->appendChild(sd);
    root->appendChild(explicit0);
    DataBuffer der;
    root->encodeDer(der, false, nullptr, log);
    return bytesOf(der);
}

Asn1* attribute(const char* oid, Asn1* value) {
    Asn1* a = Asn1::newSequence();
    a->appendChild(Asn1::newOid(oid));
    Asn1* set = Asn1::newSet();
    set->appendChild(value);
    a->appendChild(set);
    return a;
}

TEST_F(Pkcs7Messages, SignedAttributesWithoutAMessageDigestBindNothing) {
    std::string certDer = pkitest::certificateDer(crt("alice"));
    const std::string content = "content the signer never saw";
    // Attributes the key really signed, but without a message digest.
    std::unique_ptr<Asn1> attrs(Asn1::newSet());
    attrs->appendChild(attribute("1.2.840.113549.1.9.3", Asn1::newOid(pkcs7_oid::kData)));
    std::string forged = signedDataWith(content, std::move(attrs), certDer, key("alice"), m_work);
    Logger log;
    DataBuffer out;
    EXPECT_FALSE(open(forged, out, log));
    EXPECT_NE(logText(log).find(signeddata_msg::kEmptyMessageDigest), std::string::npos);
    EXPECT_NE(logText(log).find(signeddata_msg::kNotVerified), std::string::npos);
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("forged.p7"), forged));
    EXPECT_FALSE(runOpenssl({"smime", "-verify", "-noverify", "-inform", "DER", "-in", m_work.File("forged.p7")}).Ok());

    // The same construction with the right digest verifies, here and in openssl.
    DataBuffer digest;
    hashBytes(content.data(), static_cast<std::uint32_t>(content.size()), kHashSha256, digest);
    std::unique_ptr<Asn1> good(Asn1::newSet());
    good->appendChild(attribute("1.2.840.113549.1.9.3", Asn1::newOid(pkcs7_oid::kData)));
    good->appendChild(attribute("1.2.840.113549.1.9.4", Asn1::newOctetString(digest.getData(), digest.getSize())));
    std::string honest = signedDataWith(content, std::move(good), certDer, key("alice"), m_work);
    Logger ok;
    EXPECT_TRUE(open(honest, out, ok)) << logText(ok);
    EXPECT_EQ(bytesOf(out), content);
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("honest.p7"), honest));
    EXPECT_TRUE(runOpenssl({"smime", "-verify", "-noverify", "-inform", "DER", "-in", m_work.File("honest.p7")}).Ok());

    // The right digest, but no content type: openssl refuses the attributes.
    std::unique_ptr<Asn1> untyped(Asn1::newSet());
    untyped->appendChild(attribute("1.2.840.113549.1.9.4", Asn1::newOctetString(digest.getData(), digest.getSize())));
    std::string bare = signedDataWith(content, std::move(untyped), certDer, key("alice"), m_work);
    Logger noType;
    EXPECT_FALSE(open(bare, out, noType));
    EXPECT_NE(logText(noType).find(signeddata_msg::kNoContentType), std::string::npos);
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("bare.p7"), bare));
    EXPECT_FALSE(runOpenssl({"cms", "-verify", "-noverify", "-inform", "DER", "-in", m_work.File("bare.p7")}).Ok());
}

// The signature must hold exactly the DigestInfo of the signed attributes'
// SHA-256 digest: a bare digest, one under another digest's name, one with
// bytes after it or with parameters other than NULL do not verify, here as
// in openssl (each block is signed raw with PKCS#1 type 1 padding).
TEST_F(Pkcs7Messages, OnlyTheExpectedDigestInfoVerifies) {
    std::string certDer = pkitest::certificateDer(crt("alice"));
    const std::string content = "content under a crafted signature";
    DataBuffer digest;
    hashBytes(content.data(), static_cast<std::uint32_t>(content.size()), kHashSha256, digest);
    const std::string sha256Alg = "300d06096086480165030402010500", sha1Alg = "300906052b0e03021a0500";
    struct Case {
        const char* name;
        std::function<std::string(const std::string& hash)> block; // hex of what is signed
        bool verifies;
    } cases[] = {
        {"the DigestInfo", [&](const std::string& h) { return "3031" + sha256Alg + "0420" + h; }, true},
        {"a bare digest", [](const std::string& h) { return h; }, false},
        {"SHA-1 named over the SHA-256 digest", [&](const std::string& h) { return "302d" + sha1Alg + "0420" + h; },
         false},
        {"bytes after the DigestInfo", [&](const std::string& h) { return "3031" + sha256Alg + "0420" + h + "00"; },
         false},
        {"parameters that are no NULL",
         [&](const std::string& h) { return "3033300f0609608648016503040201040200000420" + h; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Asn1> attrs(Asn1::newSet());
        attrs->appendChild(attribute("1.2.840.113549.1.9.3", Asn1::newOid(pkcs7_oid::kData)));
        attrs->appendChild(attribute("1.2.840.113549.1.9.4", Asn1::newOctetString(digest.getData(), digest.getSize())));
        Signer raw = [&](const std::string& path, const std::string& keyFile) {
            DataBuffer hash;
            const std::string signedBytes = grvtest::ReadFile(path);
            hashBytes(signedBytes.data(), static_cast<std::uint32_t>(signedBytes.size()), kHashSha256, hash);
            std::string block = bytesOf(*pkitest::fromHex(c.block(pkitest::toHex(hash))));
            EXPECT_TRUE(grvtest::WriteFile(m_work.File("block.bin"), block));
            return openssl({"pkeyutl", "-sign", "-inkey", keyFile, "-in", m_work.File("block.bin")});
        };
        std::string message = signedDataWith(content, std::move(attrs), certDer, key("alice"), m_work, raw);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("crafted.p7"), message));
        const bool judged =
            runOpenssl({"smime", "-verify", "-noverify", "-inform", "DER", "-in", m_work.File("crafted.p7")}).Ok();
        EXPECT_EQ(judged, c.verifies) << "openssl";
        Logger log;
        DataBuffer out;
        EXPECT_EQ(open(message, out, log), c.verifies) << logText(log);
        if (!c.verifies) {
            EXPECT_NE(logText(log).find(signeddata_msg::kSignatureMismatch), std::string::npos) << logText(log);
        }
    }
}

TEST_F(Pkcs7Messages, OpensslEnvelopesOpenWithAGivenKeyOrFromTheStores) {
    struct Case {
        const char* cipher;
        bool legacy;
    } cases[] = {{"-aes128", false}, {"-aes192", false}, {"-aes256", false}, {"-des3", false},
                 {"-rc2-128", true}, {"-rc2-40", true},  {"-des", true}};
    std::string aliceKey = addWithKey("alice", platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "alice-box", 0, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cipher);
        std::vector<std::string> args{"smime",    "-encrypt", c.cipher, "-binary",
                                      "-outform", "DER",      "-in",    m_work.File("message.txt")};
        if (c.legacy)
            args.insert(args.end(), {"-provider", "legacy", "-provider", "default"});
        args.insert(args.end(), {crt("bob"), crt("alice")});
        std::string envelope = openssl(args);
        ASSERT_FALSE(envelope.empty());
        // With bob's key given.
        Pkcs7 p7;
        Logger log;
        ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(envelope), nullptr, log, true)) << logText(log);
        DataBuffer out;
        EXPECT_TRUE(p7.unEnvelope(fields("bob"), *bufferOf(keyDer("bob")), out, log, true)) << logText(log);
        EXPECT_EQ(bytesOf(out), m_message);
        // Alice's from the stores.
        SystemCerts stores;
        DataBuffer plain, certDer;
        bool keyLocated = true;
        EXPECT_TRUE(p7.openContent(stores, plain, certDer, keyLocated, log, true)) << logText(log);
        EXPECT_EQ(bytesOf(plain), m_message);
        EXPECT_EQ(bytesOf(certDer), pkitest::certificateDer(crt("alice")));
        EXPECT_FALSE(keyLocated);
        // A key that is not a recipient's.
        DataBuffer none;
        CertificateFields wrong = fields("bob");
        wrong.serial = fields("alice").serial;
        EXPECT_FALSE(p7.unEnvelope(wrong, *bufferOf(keyDer("bob")), none, log, false));
        EXPECT_NE(logText(log).find(enveloped_msg::kNoMatchingRecipient), std::string::npos);
    }
    EXPECT_EQ(aliceKey, keyDer("alice"));
}

TEST_F(Pkcs7Messages, RecipientsNamedByKeyIdentifier) {
    // openssl cms -keyid names alice (after bob, or alone) by her subject key
    // identifier; a store's certificate without one falls back on its key,
    // tried for each recipient, a few at most.
    std::string envelope = openssl({"cms", "-encrypt", "-keyid", "-aes128", "-binary", "-outform", "DER", "-in",
                                    m_work.File("message.txt"), crt("alice")});
    const std::string afterBob = openssl({"cms", "-encrypt", "-keyid", "-aes128", "-binary", "-outform", "DER", "-in",
                                          m_work.File("message.txt"), crt("bob"), crt("alice")});
    struct Case {
        const std::string& envelope;
        const char* stored;
        bool fallback;
    } cases[] = {
        {envelope, "alice", false}, {envelope, "noski", true}, {afterBob, "alice", false}, {afterBob, "noski", true}};
    // The same key under a certificate without the extension.
    openssl({"req", "-x509", "-new", "-key", key("alice"), "-subj", "/CN=alice again", "-addext",
             "subjectKeyIdentifier=none", "-addext", "authorityKeyIdentifier=none", "-set_serial", "0x77", "-out",
             crt("noski")});
    ASSERT_TRUE(grvtest::WriteFile(key("noski"), grvtest::ReadFile(key("alice"))));
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        grvtest::TempDir user("user" + std::to_string(n++));
        setenv("XDG_DATA_HOME", user.Path().c_str(), 1);
        addWithKey(c.stored, platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "box", 0, true);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("envelope.p7"), c.envelope));
        // openssl is shown the recipient by alice's certificate (noski's key is
        // hers): from OpenSSL 3.2 on, a key tried on another's recipient
        // decrypts to a random content key (implicit rejection), so trying
        // every recipient, as 3.0 did, stops at bob's.
        const grvtest::RunResult judged =
            runOpenssl({"cms", "-decrypt", "-binary", "-inform", "DER", "-in", m_work.File("envelope.p7"), "-recip",
                        crt("alice"), "-inkey", key(c.stored)});
        EXPECT_EQ(judged.out, m_message) << judged.err;
        Pkcs7 p7;
        Logger log;
        ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(c.envelope), nullptr, log, true)) << logText(log);
        SystemCerts stores;
        DataBuffer plain, certDer;
        bool keyLocated = true;
        EXPECT_EQ(p7.openContent(stores, plain, certDer, keyLocated, log, true), judged.Ok()) << logText(log);
        EXPECT_EQ(bytesOf(plain), judged.out);
        EXPECT_EQ(bytesOf(certDer), pkitest::certificateDer(crt(c.stored)));
        EXPECT_EQ(logText(log).find(enveloped_msg::kFirstAvailableCert) != std::string::npos, c.fallback);
        setenv("XDG_DATA_HOME", m_user.Path().c_str(), 1);
    }
    // With no key at all there is nothing to fall back on.
    Pkcs7 p7;
    Logger log;
    ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(envelope), nullptr, log, false));
    SystemCerts stores;
    DataBuffer plain, certDer;
    bool keyLocated = true;
    EXPECT_FALSE(p7.openContent(stores, plain, certDer, keyLocated, log, false));
    EXPECT_NE(logText(log).find(enveloped_msg::kNoKeyFound), std::string::npos);
}

// argv[1] in, argv[2] out, a SignedData of one signer with certificates:
// argv[3] "certs" puts the certificates of the DER files after it there in
// that order; "padserial" writes the signer's serial with a needless leading
// zero octet; "printable" its issuer's UTF8Strings as PrintableStrings;
// "uppercase" its issuer's values in capitals; "version" its version the one
// of the other form of signer (3 beside an issuer and serial, 1 beside a key
// identifier); "segkeyid" its key identifier in two segments; "key" the
// RSA key of the certificate it carries (its signature left as it was) odd
// numbers of argv[4] bits for n and argv[5] bits for e, or e equal to n
// when argv[5] is "n", and the signer's signature a number of n's length;
// "negative" its n written without the zero octet its top bit needs;
// "many" argv[4] certificates of the signer's issuer and serial, keys of
// odd numbers of 3,072 bits for n and 3,070 for e, before its own, and
// argv[5] copies of the signer, their signatures "broken" or "sound" as
// argv[6] says; "strangers" argv[4] signers naming a certificate nobody
// has in place of its own; "deep" an unsigned attribute of the signer whose
// value nests argv[4] empty SEQUENCEs; "digests" its digest algorithms
// written as a SEQUENCE or left out, as argv[4] ("sequence", "absent")
// says; "swap" its signer infos in the other order. Or an EnvelopedData of
// one recipient: "recipients" argv[4] recipient infos of it, those before
// the last with their encrypted keys "broken" or "sound", or naming "others"
// by serial, as argv[5] says; or with argv[5] "uppercase" the issuer's
// values of the last recipient info in capitals.
constexpr const char* kRewriteSigned = R"PY(
import copy, random, sys
def odd(bits): return 1 << (bits - 1) | random.getrandbits(bits - 1) | 1
def number(x): return [0x02, x.to_bytes(x.bit_length() // 8 + 1, "big")]
def flip(octets): return octets[:-1] + bytes([octets[-1] ^ 1])
def parse(data, at=0):
    tag, first = data[at], data[at + 1]
    count = first & 0x7F if first > 0x80 else 0
    size = first if first < 0x80 else int.from_bytes(data[at + 2:at + 2 + count], "big")
    at += 2 + count
    if not tag & 0x20:
        return [tag, data[at:at + size]], at + size
    kids, end = [], at + size
    while at < end:
        kid, at = parse(data, at)
        kids.append(kid)
    return [tag, kids], at
def encode(node):
    body = node[1] if isinstance(node[1], bytes) else b"".join(encode(k) for k in node[1])
    n, width = len(body), (len(body).bit_length() + 7) // 8
    return bytes([node[0]]) + (bytes([n]) if n < 0x80 else bytes([0x80 | width]) + n.to_bytes(width, "big")) + body
root = parse(open(sys.argv[1], "rb").read())[0]
signed = root[1][1][1][0][1]
signer = signed[-1][1][0][1]
if sys.argv[3] == "certs":
    signed[3] = [0xA0, [parse(open(f, "rb").read())[0] for f in sys.argv[4:]]]
elif sys.argv[3] == "padserial":
    signer[1][1][1][1] = b"\0" + signer[1][1][1][1]
elif sys.argv[3] == "printable":
    for rdn in signer[1][1][0][1]:
        for value in rdn[1]:
            value[1][1][0] = 0x13 if value[1][1][0] == 0x0C else value[1][1][0]
elif sys.argv[3] == "uppercase":
    for rdn in signer[1][1][0][1]:
        for value in rdn[1]:
            value[1][1][1] = value[1][1][1].upper()
elif sys.argv[3] == "version":
    signer[0][1] = b"\x03" if signer[1][0] == 0x30 else b"\x01"
elif sys.argv[3] == "key":
    n = odd(int(sys.argv[4]))
    e = n if sys.argv[5] == "n" else odd(int(sys.argv[5]))
    signed[3][1][0][1][0][1][6][1][1][1] = b"\0" + encode([0x30, [number(n), number(e)]])
    signer[-1][1] = (n >> 1).to_bytes((n.bit_length() + 7) // 8, "big")
elif sys.argv[3] == "negative":
    bits = signed[3][1][0][1][0][1][6][1][1]
    key = parse(bits[1][1:])[0]
    key[1][0][1] = key[1][0][1].lstrip(b"\0")
    bits[1] = b"\0" + encode(key)
elif sys.argv[3] == "many":
    impostors = []
    for k in range(int(sys.argv[4])):
        impostors.append(copy.deepcopy(signed[3][1][0]))
        impostors[-1][1][0][1][6][1][1][1] = b"\0" + encode([0x30, [number(odd(3072)), number(odd(3070))]])
    signed[3][1] = impostors + signed[3][1]
    if sys.argv[6] == "broken":
        signer[-1][1] = flip(signer[-1][1])
    signed[-1][1] = [[0x30, copy.deepcopy(signer)] for k in range(int(sys.argv[5]))]
elif sys.argv[3] == "recipients" and sys.argv[5] == "uppercase":
    for rdn in signed[1][1][-1][1][1][1][0][1]:
        for value in rdn[1]:
            value[1][1][1] = value[1][1][1].upper()
elif sys.argv[3] == "recipients":
    copies = [copy.deepcopy(signed[1][1][0]) for k in range(int(sys.argv[4]) - 1)]
    for k, info in enumerate(copies):
        if sys.argv[5] == "broken":
            info[1][-1][1] = flip(info[1][-1][1])
        elif sys.argv[5] == "others":
            info[1][1][1][1][1] = (0x10000 + k).to_bytes(3, "big")
    signed[1][1] = copies + signed[1][1]
elif sys.argv[3] == "deep":
    nest = [0x30, b""]
    for k in range(int(sys.argv[4]) - 1):
        nest = [0x30, [nest]]
    signer.append([0xA1, [[0x30, [[0x06, b"\x2a\x03\x04"], [0x31, [nest]]]]]])
elif sys.argv[3] == "digests":
    if sys.argv[4] == "absent":
        del signed[1]
    else:
        signed[1][0] = 0x30
elif sys.argv[3] == "swap":
    signed[-1][1].reverse()
elif sys.argv[3] == "lists":
    # The fields between the content and the signer infos: "c" the
    # certificates, "N:T" N empty fields [T], "=HEX" a field as written;
    # "^HEX" the signer infos retagged.
    fields = []
    for part in sys.argv[4].split(","):
        if part.startswith("^"):
            signed[-1][0] = int(part[1:], 16)
            continue
        count, tag = part.split(":") if ":" in part else (1, None)
        if part.startswith("="):
            fields.append(parse(bytes.fromhex(part[1:]))[0])
        else:
            fields += [signed[3]] if tag is None else [[0xA0 | int(tag), []] for k in range(int(count))]
    signed[3:-1] = fields
elif sys.argv[3] == "strangers":
    stranger = [signer[0], copy.deepcopy(signer[1]), signer[2], signer[-2], [0x04, b"\0" * 4]]
    stranger[1][1][1][1] = b"\x7e\xe1"
    signed[-1][1] = [[0x30, stranger] for k in range(int(sys.argv[4]))]
else:
    key = signer[1][1]
    signer[1] = [0xA0, [[0x04, key[:4]], [0x04, key[4:]]]]
open(sys.argv[2], "wb").write(encode(root))
)PY";

// A recipient is the certificate its whole issuer name and serial (or its
// key identifier) name: envelopes `openssl cms -encrypt` made for probe,
// alone, after a decoy of its serial and common name, or by key identifier,
// or beside a recipient of another kind (a shared key, a password, an EC
// key agreement), opened with a certificate and key given or from the stores
// (by the library and by the message calls), beside `openssl cms -decrypt
// -recip` with the same certificate and key; and 1,500 recipient infos
// naming it, only the first opened, or naming others before it, with a key
// given or found; and its issuer named in capitals.
TEST_F(Pkcs7Messages, RecipientsAreTheCertificatesTheirWholeNameNames) {
    makeProbes();
    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key("ec"),
             "-subj", "/CN=agreeing", "-days", "30", "-out", crt("ec")});
    const std::vector<std::string> sharedKey{"-secretkey", "000102030405060708090a0b0c0d0e0f", "-secretkeyid", "0102"};
    const std::vector<std::string> password{"-pwri_password", "a password"};
    const std::vector<std::string> agreeing{"-recip", crt("ec")};
    const std::vector<std::string> none;
    struct Case {
        std::vector<std::string> recipients;
        bool keyId;
        const std::vector<std::string>& other;
        const char* holder;
        bool fromStores;
        bool opens;
        const char* copies = nullptr; // recipient infos of the first recipient
        const char* before = "";      // the encrypted keys before its last
    } cases[] = {
        {{"probe"}, false, none, "probe", false, true},
        {{"probe"}, false, none, "probe", true, true},
        {{"probe"}, false, none, "probe-evil", false, false},
        {{"probe"}, false, none, "probe-evil", true, false},
        {{"decoy", "probe"}, false, none, "probe", false, true},
        {{"decoy", "probe"}, false, none, "probe", true, true},
        {{"probe"}, true, none, "probe", false, true},
        {{"probe"}, true, none, "probe", true, true},
        {{"decoy", "probe"}, true, none, "probe", true, true},
        {{"probe"}, false, sharedKey, "probe", false, true},
        {{"probe"}, false, sharedKey, "probe", true, true},
        {{"probe"}, true, password, "probe", false, true},
        {{"probe"}, false, password, "probe", true, true},
        {{"probe"}, false, agreeing, "probe", false, true},
        {{"probe"}, true, agreeing, "probe", true, true},
        {{}, false, sharedKey, "probe", true, false},
        // Only the first recipient info that names the certificate is opened.
        {{"probe"}, false, none, "probe", false, true, "1500", "sound"},
        {{"probe"}, false, none, "probe", true, true, "1500", "sound"},
        {{"probe"}, false, none, "probe", false, false, "1500", "broken"},
        {{"probe"}, false, none, "probe", true, false, "1500", "broken"},
        {{"probe"}, false, none, "probe", false, true, "1500", "others"},
        {{"probe"}, false, none, "probe", true, true, "1500", "others"},
        // Its issuer named in capitals: names compare as on a chain.
        {{"probe"}, false, none, "probe", false, true, "1", "uppercase"},
        {{"probe"}, false, none, "probe", true, true, "1", "uppercase"},
        {{"decoy", "probe"}, false, none, "probe", true, true, "1", "uppercase"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(n) + ": " + c.holder + (c.fromStores ? " from the stores" : " given"));
        std::vector<std::string> args{"cms",      "-encrypt", "-aes128", "-binary",
                                      "-outform", "DER",      "-in",     m_work.File("message.txt")};
        if (c.keyId)
            args.push_back("-keyid");
        for (const std::string& who : c.recipients)
            args.insert(args.end(), {"-recip", crt(who.c_str())});
        args.insert(args.end(), c.other.begin(), c.other.end());
        std::string envelope = openssl(args);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("envelope.p7"), envelope));
        if (c.copies) {
            const grvtest::RunResult copied =
                grvtest::RunProgram({"/usr/bin/python3", "-c", kRewriteSigned, m_work.File("envelope.p7"),
                                     m_work.File("envelope.p7"), "recipients", c.copies, c.before});
            ASSERT_TRUE(copied.Ok()) << copied.err;
            envelope = grvtest::ReadFile(m_work.File("envelope.p7"));
        }
        // Without -debug_decrypt, openssl answers a recipient its key does
        // not open with a random content key, so a refusal would pass one
        // time in 256, when the garbage ends in sound padding.
        const grvtest::RunResult judged =
            runOpenssl({"cms", "-decrypt", "-debug_decrypt", "-binary", "-inform", "DER", "-in",
                        m_work.File("envelope.p7"), "-recip", crt(c.holder), "-inkey", key(c.holder)});
        EXPECT_EQ(judged.Ok(), c.opens) << judged.err;
        Pkcs7 p7;
        Logger log;
        ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(envelope), nullptr, log, true)) << logText(log);
        DataBuffer out;
        bool opened = false;
        if (c.fromStores) {
            grvtest::TempDir user("stores" + std::to_string(n));
            setenv("XDG_DATA_HOME", user.Path().c_str(), 1);
            addWithKey(c.holder, platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "box", 0, true);
            SystemCerts stores;
            DataBuffer certDer;
            bool keyLocated = true;
            std::uint64_t keysBefore = rsaExptmodCount(kRsaPrivate);
            opened = p7.openContent(stores, out, certDer, keyLocated, log, true);
            EXPECT_LE(rsaExptmodCount(kRsaPrivate) - keysBefore, std::uint64_t(kMaxEnvelopeKeyTries));
            EXPECT_EQ(bytesOf(certDer), opened ? pkitest::certificateDer(crt(c.holder)) : std::string());
            // The message calls, from the same store.
            DataBuffer called;
            Certificate* recipient = nullptr;
            Logger callLog;
            keysBefore = rsaExptmodCount(kRsaPrivate);
            EXPECT_EQ(msDecrypt1(*bufferOf(envelope), called, &recipient, callLog), judged.Ok()) << logText(callLog);
            // The size asked first, then the content: two openings.
            EXPECT_LE(rsaExptmodCount(kRsaPrivate) - keysBefore, std::uint64_t(2 * kMaxEnvelopeKeyTries));
            std::unique_ptr<Certificate> owned(recipient);
            EXPECT_EQ(bytesOf(called), judged.Ok() ? m_message : std::string());
            setenv("XDG_DATA_HOME", m_user.Path().c_str(), 1);
        } else {
            const std::uint64_t keysBefore = rsaExptmodCount(kRsaPrivate);
            opened = p7.unEnvelope(fields(c.holder), *bufferOf(keyDer(c.holder)), out, log, false);
            EXPECT_LE(rsaExptmodCount(kRsaPrivate) - keysBefore, 1u);
        }
        EXPECT_EQ(opened, judged.Ok()) << logText(log);
        EXPECT_EQ(bytesOf(out), judged.Ok() ? m_message : std::string());
        ++n;
    }
}

TEST_F(Pkcs7Messages, OurEnvelopesOpenInOpenssl) {
    ExtPtrArray recipients;
    recipients.setOwnsObjects(true);
    for (const char* who : {"alice", "bob"}) {
        std::string der = pkitest::certificateDer(crt(who));
        LogNull quiet;
        recipients.appendPtr(Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(der.data()),
                                                          static_cast<std::uint32_t>(der.size()), quiet, false));
    }
    struct Case {
        int algorithm;
        int keyBits;
        bool legacy;
    } cases[] = {{8, 128, true},  {8, 40, true}, {2, 128, false}, {2, 192, false}, {2, 256, false},
                 {7, 192, false}, {7, 40, true}, {8, 64, true},   {9, 128, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.algorithm) + "/" + std::to_string(c.keyBits));
        MemoryDataSource source;
        source.setData(m_message.data(), m_message.size(), false);
        DataBuffer envelope;
        Logger log;
        ASSERT_TRUE(createPkcs7Enveloped(source, c.algorithm, c.keyBits, recipients, envelope, log, false))
            << logText(log);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("ours.p7"), bytesOf(envelope)));
        for (const char* tool : {"smime", "cms"})
            for (const char* who : {"alice", "bob"}) {
                std::vector<std::string> args{
                    tool,     "-decrypt", "-binary", "-inform", "DER", "-in", m_work.File("ours.p7"),
                    "-recip", crt(who),   "-inkey",  key(who)};
                if (c.legacy)
                    args.insert(args.end(), {"-provider", "legacy", "-provider", "default"});
                grvtest::RunResult r = runOpenssl(args);
                EXPECT_TRUE(r.Ok()) << tool << " " << who << ": " << r.err;
                EXPECT_EQ(r.out, m_message) << tool << " " << who;
            }
        // And it opens here too.
        Pkcs7 p7;
        ASSERT_TRUE(p7.loadPkcs7Der(envelope, nullptr, log, false));
        DataBuffer out;
        EXPECT_TRUE(p7.unEnvelope(fields("alice"), *bufferOf(keyDer("alice")), out, log, false)) << logText(log);
        EXPECT_EQ(bytesOf(out), m_message);
    }
    MemoryDataSource source;
    source.setData(m_message.data(), m_message.size(), false);
    DataBuffer envelope;
    Logger log;
    EXPECT_FALSE(createPkcs7Enveloped(source, 6, 128, recipients, envelope, log, false));
    EXPECT_NE(logText(log).find(enveloped_msg::kUnsupportedAlgorithm), std::string::npos);
    EXPECT_EQ(envelope.getSize(), 0u);
}

TEST_F(Pkcs7Messages, AFiveByteDesKeyStillOpens) {
    // Content under single DES with a 5-byte key (zero-extended to 8 by
    // openssl enc), the key RSA-encrypted by openssl for bob.
    const std::string keyHex = "0123456789", ivHex = "1122334455667788";
    grvtest::RunResult content = runOpenssl({"enc", "-des-cbc", "-provider", "legacy", "-provider", "default", "-K",
                                             keyHex + "000000", "-iv", ivHex, "-in", m_work.File("message.txt")});
    ASSERT_TRUE(content.Ok()) << content.err;
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("k5"), std::string("\x01\x23\x45\x67\x89", 5)));
    openssl({"x509", "-in", crt("bob"), "-pubkey", "-noout", "-out", m_work.File("bob.pub")});
    std::string wrappedKey =
        openssl({"pkeyutl", "-encrypt", "-pubin", "-inkey", m_work.File("bob.pub"), "-in", m_work.File("k5")});
    std::string bobDer = pkitest::certificateDer(crt("bob"));
    LogNull quiet;
    std::unique_ptr<Certificate> bob(Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(bobDer.data()),
                                                                  static_cast<std::uint32_t>(bobDer.size()), quiet,
                                                                  false));
    Asn1* recipient = Asn1::newSequence();
    recipient->appendChild(Asn1::newInteger(0));
    recipient->appendChild(buildIssuerAndSerialAsn(*bob, quiet));
    Asn1* rsa = Asn1::newSequence();
    rsa->appendChild(Asn1::newOid("1.2.840.113549.1.1.1"));
    rsa->appendChild(Asn1::newNull());
    recipient->appendChild(rsa);
    recipient->appendChild(Asn1::newOctetString(reinterpret_cast<const unsigned char*>(wrappedKey.data()),
                                                static_cast<std::uint32_t>(wrappedKey.size())));
    Asn1* recipients = Asn1::newSet();
    recipients->appendChild(recipient);
    Asn1* algorithm = Asn1::newSequence();
    algorithm->appendChild(Asn1::newOid("1.3.14.3.2.7"));
    std::unique_ptr<DataBuffer> iv = pkitest::fromHex(ivHex);
    algorithm->appendChild(Asn1::newOctetString(iv->getData(), iv->getSize()));
    Asn1* info = Asn1::newSequence();
    info->appendChild(Asn1::newOid(pkcs7_oid::kData));
    info->appendChild(algorithm);
    info->appendChild(Asn1::newContextPrimitive(0, bufferOf(content.out).release()));
    Asn1* enveloped = Asn1::newSequence();
    enveloped->appendChild(Asn1::newInteger(0));
    enveloped->appendChild(recipients);
    enveloped->appendChild(info);
    std::unique_ptr<Asn1> root(Asn1::newSequence());
    root->appendChild(Asn1::newOid(pkcs7_oid::kEnvelopedData));
    Asn1* wrapper = Asn1::newContextConstructed(0);
    wrapper->appendChild(enveloped);
    root->appendChild(wrapper);
    DataBuffer der;
    ASSERT_TRUE(root->encodeDer(der, false, nullptr, quiet));

    Pkcs7 p7;
    Logger log;
    ASSERT_TRUE(p7.loadPkcs7Der(der, nullptr, log, false)) << logText(log);
    DataBuffer out;
    EXPECT_TRUE(p7.unEnvelope(fields("bob"), *bufferOf(keyDer("bob")), out, log, false)) << logText(log);
    EXPECT_EQ(bytesOf(out), m_message);
}

// An empty message, enveloped by openssl and by us under a stream cipher and
// block ciphers, opens to nothing on both sides; under a block cipher an
// encrypted content of no bytes at all lacks even its padding block, and both
// sides refuse it.
TEST_F(Pkcs7Messages, EmptyEnvelopesOpenToNothingBothWays) {
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("empty.txt"), ""));
    std::string aliceDer = pkitest::certificateDer(crt("alice"));
    LogNull quiet;
    ExtPtrArray recipients;
    recipients.setOwnsObjects(true);
    recipients.appendPtr(Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(aliceDer.data()),
                                                      static_cast<std::uint32_t>(aliceDer.size()), quiet, false));
    const std::vector<std::string> legacy{"-provider", "legacy", "-provider", "default"};
    // Opens an envelope with alice's key: our bytes and openssl's (nullopt
    // when a side refuses).
    auto openBoth = [&](const std::string& envelope, std::string& ours, std::string& theirs, std::string& why) {
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("envelope.p7"), envelope));
        std::vector<std::string> args{
            "cms", "-decrypt", "-binary", "-inform", "DER", "-in", m_work.File("envelope.p7"), "-inkey", key("alice")};
        args.insert(args.end(), legacy.begin(), legacy.end());
        grvtest::RunResult r = runOpenssl(args);
        theirs = r.Ok() ? r.out : "refused";
        why = r.err;
        Pkcs7 p7;
        Logger log;
        DataBuffer out;
        ours = p7.loadPkcs7Der(*bufferOf(envelope), nullptr, log, false) &&
                       p7.unEnvelope(fields("alice"), *bufferOf(keyDer("alice")), out, log, false)
                   ? bytesOf(out)
                   : "refused";
        why += logText(log);
    };
    struct Case {
        const char* opensslCipher;
        int algorithm;
        int keyBits;
    } cases[] = {{"-rc4", kCipherRc4, 128},
                 {"-aes128", kCipherAes, 128},
                 {"-aes256", kCipherAes, 256},
                 {"-des3", kCipherDes, 192}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opensslCipher);
        std::vector<std::string> args{"cms",      "-encrypt", c.opensslCipher, "-binary",
                                      "-outform", "DER",      "-in",           m_work.File("empty.txt")};
        args.insert(args.end(), legacy.begin(), legacy.end());
        args.push_back(crt("alice"));
        const std::string theirEnvelope = openssl(args);
        MemoryDataSource source;
        source.setData("", 0, false);
        DataBuffer ourEnvelope;
        Logger log;
        ASSERT_TRUE(createPkcs7Enveloped(source, c.algorithm, c.keyBits, recipients, ourEnvelope, log, false))
            << logText(log);
        for (const std::string& envelope : {theirEnvelope, bytesOf(ourEnvelope)}) {
            std::string ours, theirs, why;
            openBoth(envelope, ours, theirs, why);
            EXPECT_EQ(theirs, "") << why;
            EXPECT_EQ(ours, "") << why;
        }
        // The same envelope with its encrypted content emptied.
        std::unique_ptr<Asn1> root(decodeBerFirst(reinterpret_cast<const unsigned char*>(theirEnvelope.data()),
                                                  static_cast<std::uint32_t>(theirEnvelope.size()), nullptr, quiet));
        ASSERT_TRUE(root);
        Asn1* info = root->getChild(1)->getChild(0)->getChild(2);
        ASSERT_TRUE(info && info->getNumChildren() == 3);
        info->getChild(2)->setContent(nullptr, 0);
        DataBuffer emptied;
        ASSERT_TRUE(root->encodeDer(emptied, false, nullptr, quiet));
        std::string ours, theirs, why;
        openBoth(bytesOf(emptied), ours, theirs, why);
        EXPECT_EQ(ours, theirs) << why;
        if (c.algorithm != kCipherRc4) {
            EXPECT_EQ(ours, "refused");
            EXPECT_NE(why.find(enveloped_msg::kWrongFinalBlockLength), std::string::npos) << why;
        }
    }
}

// argv[1] in, argv[2] out: the message with every definite length but zero
// written in five octets (0x84 and four), save in what argv[3] keeps as it
// stands: "uncovered" keeps the SignedData's certificates and the signed
// attributes, "attributes" the certificates, "certificates" the attributes,
// "all" nothing.
constexpr const char* kLongLengths = R"PY(
import sys
data, mode = open(sys.argv[1], "rb").read(), sys.argv[3]
def item(at, depth):
    start, tag, first = at, data[at], data[at + 1]
    count = first & 0x7F if first > 0x80 else 0
    end = None if first == 0x80 else at + 2 + count + (first if first < 0x80 else int.from_bytes(data[at + 2:at + 2 + count], "big"))
    at += 2 + count
    body = b""
    if tag & 0x20:
        while data[at:at + 2] != b"\0\0" if end is None else at < end:
            part, at = item(at, depth + 1)
            body += part
    else:
        body = data[at:end]
    at = at + 2 if end is None else end
    # Under SignedData (depth 2) its certificates [0]; in a SignerInfo (depth 4) the signed attributes [0].
    if tag == 0xA0 and (depth, mode) in ((3, "uncovered"), (3, "attributes"), (5, "uncovered"), (5, "certificates")):
        return data[start:at], at
    if end is None:
        return bytes([tag, 0x80]) + body + b"\0\0", at
    # openssl 3.0 before 3.0.22 refuses a long-form zero length ending its range.
    return (bytes([tag, 0x84]) + len(body).to_bytes(4, "big") if body else bytes([tag, 0])) + body, at
open(sys.argv[2], "wb").write(item(0, 0)[0])
)PY";

// argv: a string type's name in python's cryptography, a folder: writes
// there named.crt and named.key, a self-signed certificate whose common name
// (its issuer's too) is of that type.
constexpr const char* kNamedSigner = R"PY(
import datetime, sys
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.name import _ASN1Type
key = rsa.generate_private_key(public_exponent=65537, key_size=1024)
name = x509.Name([x509.NameAttribute(x509.NameOID.COMMON_NAME, "named signer", _ASN1Type[sys.argv[1]])])
now = datetime.datetime.now(datetime.timezone.utc)
cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key()).serial_number(77)
        .not_valid_before(now).not_valid_after(now + datetime.timedelta(days=2)).sign(key, hashes.SHA256()))
open(sys.argv[2] + "/named.crt", "wb").write(cert.public_bytes(serialization.Encoding.PEM))
open(sys.argv[2] + "/named.key", "wb").write(key.private_bytes(serialization.Encoding.PEM,
    serialization.PrivateFormat.TraditionalOpenSSL, serialization.NoEncryption()))
)PY";

// Signed messages in BER: `openssl cms -sign`'s DER and its streamed form
// (indefinite lengths), each also with lengths written longer than they need
// around what the signatures cover, in the signed attributes, in the
// signer's certificate, or everywhere, and one with a signed attribute then
// changed; a second signer added (sound, with its signature broken, or
// without its certificate, or so before the first); content of a
// time-stamp token's type; a signer whose issuer is named in a T61String,
// BMPString or UniversalString, found by that name, its common name read by
// its type; a signer named by its key
// identifier; a detached signature, of the message or of nothing, given no
// content; a signer "CN=Probe CA, O=Real" with only a certificate of its serial
// and key issued by "O=Evil", or with one of its serial and another key listed
// before its own, issued by "O=Evil" or by its own issuer's name (the
// first of those is the one checked, as openssl takes it); 30 or 600
// certificates of the signer's issuer and serial, keys dear to check,
// before its own, and 30 copies of the signer, or 600 of it badly signed,
// each signer checked once at most; a serial with a needless leading zero
// octet, one whose top bit needs a zero octet; an issuer written in capitals; a
// version that tells the other form of signer; a signer's certificate whose RSA
// numbers are each just inside or outside a bound (n of 16,385 bits, e of a
// million bits, e of 64 and 65 bits beside n of 4,096, e equal to n), refused
// before any arithmetic, its bound in the log, or whose n is written as a
// negative INTEGER; thousands of signers naming a certificate nobody has; an
// unsigned attribute nested to the deepest level a message is read to, and
// one level past it; digest algorithms in a SEQUENCE, or left out; list
// fields between the content and the signer infos: an empty CRLs field after
// the certificates, or one written primitive, empty (openssl reads it) or
// not; the certificates twice, an empty one before them, CRLs twice or
// before the certificates, a field [2], 5,000 CRLs fields or 5,000 fields
// [2] (each refused at once, as openssl refuses all but the first two); a
// CRLs field written primitive over a whole CRL, which openssl reads as the
// list, or over a CRL and a stray octet; the signer infos tagged as a CRLs
// field or as a SEQUENCE.
// `openssl cms -verify` judges each, and names the signers that verified.
// What a signature covers must stand as DER here: openssl takes a
// certificate written otherwise.
TEST_F(Pkcs7Messages, BerSignedMessagesGetOpensslsVerdict) {
    const char* const kNamedIssuerRead = "issuerCN: named signer";
    enum Change {
        kNone,
        kTamperedTime,
        kSecondSigner,
        kBrokenSecondSigner,
        kUncertifiedSecondSigner,
        kTimeStamp,
        kT61Issuer,
        kBmpIssuer,
        kUniversalIssuer,
        kKeyIdSigner,
        kDetached,
        kDetachedEmpty,
        kOnlyAnotherIssuersCertificate,
        kAnotherIssuersKeyFirst,
        kSameIssuerOtherKeyFirst,
        kPaddedSerial,
        kPrintableIssuer,
        kKeyIdInSegments,
        kTopBitSerial,
        kNegativeSerial,
        kUpperCaseIssuer,
        kOtherVersionIssuer,
        kOtherVersionKeyId,
        kModulusTooLarge,
        kExponentOfAMillionBits,
        kExponentOf64Bits,
        kExponentOf65Bits,
        kExponentIsModulus,
        kThirtyCertificatesThirtySigners,
        kSixHundredCertificates,
        kSixHundredBrokenSigners,
        kNegativeModulus,
        kStrangers5000,
        kStrangers20000,
        kStrangers60000,
        kNestedAttribute88,
        kNestedAttribute89,
        kDigestAlgorithmsInASequence,
        kNoDigestAlgorithms,
        kUncertifiedFirstSigner,
        kEmptyCrls,
        kEmptyPrimitiveCrls,
        kPrimitiveCrls,
        kTwoCertificateFields,
        kEmptyCertificatesFirst,
        kTwoCrlFields,
        kCrlsBeforeCertificates,
        kAnotherListField,
        kCrlFields5000,
        kOtherFields5000,
        kPrimitiveCrlList,
        kPrimitiveCrlListTrailing,
        kSignerInfosAsCrls,
        kSignerInfosAsSequence
    };
    struct Case {
        bool stream;
        const char* lengths; // "as signed", or what kLongLengths keeps
        Change change;
        bool opensslVerifies;
        bool verifies;
        const char* logged = nullptr; // a refusal the log must hold
    } cases[] = {
        {false, "as signed", kNone, true, true},
        {true, "as signed", kNone, true, true},
        {false, "uncovered", kNone, true, true},
        {true, "uncovered", kNone, true, true},
        {false, "attributes", kNone, false, false},
        {true, "all", kNone, false, false},
        {false, "certificates", kNone, true, false},
        {true, "uncovered", kTamperedTime, false, false},
        {false, "as signed", kSecondSigner, true, true},
        {false, "uncovered", kSecondSigner, true, true},
        {false, "as signed", kBrokenSecondSigner, false, false},
        {false, "as signed", kUncertifiedSecondSigner, false, false},
        {false, "as signed", kTimeStamp, true, true},
        {true, "uncovered", kTimeStamp, true, true},
        {false, "as signed", kT61Issuer, true, true, kNamedIssuerRead},
        {false, "as signed", kBmpIssuer, true, true, kNamedIssuerRead},
        {true, "as signed", kUniversalIssuer, true, true, kNamedIssuerRead},
        {false, "as signed", kKeyIdSigner, true, true},
        {true, "as signed", kKeyIdSigner, true, true},
        {false, "as signed", kDetached, false, false},
        {false, "as signed", kDetachedEmpty, false, false},
        {false, "as signed", kOnlyAnotherIssuersCertificate, false, false},
        {false, "as signed", kAnotherIssuersKeyFirst, true, true},
        // The first certificate of the signer's issuer and serial is the one
        // checked, as openssl takes it.
        {false, "as signed", kSameIssuerOtherKeyFirst, false, false, signeddata_msg::kSignatureMismatch},
        {false, "as signed", kPaddedSerial, false, false},
        // Names are compared as on a chain: the UTF8String and the
        // PrintableString of the same text are one name.
        {false, "as signed", kPrintableIssuer, true, true},
        {false, "as signed", kKeyIdInSegments, true, true},
        {false, "as signed", kTopBitSerial, true, true},
        {false, "as signed", kNegativeSerial, true, true},
        // As the string type above: the comparison ignores case.
        {false, "as signed", kUpperCaseIssuer, true, true},
        // The signer is read by its form, not by the version beside it.
        {false, "as signed", kOtherVersionIssuer, true, true},
        {false, "as signed", kOtherVersionKeyId, true, true},
        {false, "as signed", kModulusTooLarge, false, false, rsa_msg::kModulusTooLarge},
        {false, "as signed", kExponentOfAMillionBits, false, false, rsa_msg::kExponentNotBelowModulus},
        // Inside the bounds, the made-up key is used, and fails the signature.
        {false, "as signed", kExponentOf64Bits, false, false, signeddata_msg::kSignatureMismatch},
        {false, "as signed", kExponentOf65Bits, false, false, rsa_msg::kExponentTooLarge},
        {false, "as signed", kExponentIsModulus, false, false, rsa_msg::kExponentNotBelowModulus},
        // Certificates of the signer's issuer and serial before its own: the
        // first is the one checked, and the first signer that fails ends it.
        {false, "as signed", kThirtyCertificatesThirtySigners, false, false, signeddata_msg::kSignatureMismatch},
        {false, "as signed", kSixHundredCertificates, false, false, signeddata_msg::kSignatureMismatch},
        {false, "as signed", kSixHundredBrokenSigners, false, false, signeddata_msg::kSignatureMismatch},
        // openssl reads the magnitude of a modulus written as a negative
        // INTEGER; no modulus is negative, and here it is refused.
        {false, "as signed", kNegativeModulus, true, false, rsa_msg::kNegativeNumber},
        // Minimal signers naming a certificate nobody has, thousands of them:
        // the first refuses the message on every road that reads one.
        {false, "as signed", kStrangers5000, false, false, signeddata_msg::kNoMatchingCert},
        {false, "as signed", kStrangers20000, false, false, signeddata_msg::kNoMatchingCert},
        {false, "as signed", kStrangers60000, false, false, signeddata_msg::kNoMatchingCert},
        // An unsigned attribute nesting empty SEQUENCEs down to the 96th
        // level below the message, then to the 97th, which no reading of a
        // message goes to (openssl reads the attribute's value whole).
        {false, "as signed", kNestedAttribute88, true, true},
        {false, "as signed", kNestedAttribute89, true, false, asn_msg::kTooDeep},
        // The digest algorithms are a SET, the first of the SignedData's:
        // none is taken from the signer infos after them.
        {false, "as signed", kDigestAlgorithmsInASequence, false, false},
        {false, "as signed", kNoDigestAlgorithms, false, false},
        // The signer without its certificate before the one with it: refused
        // at the first, before any signature is checked.
        {false, "as signed", kUncertifiedFirstSigner, false, false, signeddata_msg::kNoMatchingCert},
        {false, "as signed", kEmptyCrls, true, true},
        {false, "as signed", kEmptyPrimitiveCrls, true, true},
        {false, "as signed", kPrimitiveCrls, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kTwoCertificateFields, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kEmptyCertificatesFirst, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kTwoCrlFields, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kCrlsBeforeCertificates, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kAnotherListField, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kCrlFields5000, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kOtherFields5000, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kPrimitiveCrlList, true, true},
        {false, "as signed", kPrimitiveCrlListTrailing, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kSignerInfosAsCrls, false, false, pkcs7_msg::kListFieldsOutOfOrder},
        {false, "as signed", kSignerInfosAsSequence, false, false, pkcs7_msg::kListFieldsOutOfOrder},
    };
    // A CRL of an empty issuer dated 2026 (a reading checks no CRL's
    // signature), written primitive as the CRLs field: alone, and with an
    // octet after it.
    const std::string crl = "3035"
                            "3020300d06092a864886f70d01010b05003000170d3236303130313030303030305a"
                            "300d06092a864886f70d01010b0500"
                            "03020000";
    const std::string primitiveCrl = "c,=8137" + crl, primitiveCrlTrailing = "c,=8138" + crl + "00";
    // The list fields between the content and the signer infos (kRewriteSigned's "lists"), by row.
    const std::map<Change, const char*> listFields = {{kEmptyCrls, "c,1:1"},
                                                      {kEmptyPrimitiveCrls, "c,=8100"},
                                                      {kPrimitiveCrls, "c,=810100"},
                                                      {kTwoCertificateFields, "c,c"},
                                                      {kEmptyCertificatesFirst, "1:0,c"},
                                                      {kTwoCrlFields, "c,1:1,1:1"},
                                                      {kCrlsBeforeCertificates, "1:1,c"},
                                                      {kAnotherListField, "c,1:2"},
                                                      {kCrlFields5000, "c,5000:1"},
                                                      {kOtherFields5000, "c,1:1,5000:2"},
                                                      {kPrimitiveCrlList, primitiveCrl.c_str()},
                                                      {kPrimitiveCrlListTrailing, primitiveCrlTrailing.c_str()},
                                                      {kSignerInfosAsCrls, "c,^a1"},
                                                      {kSignerInfosAsSequence, "c,^30"}};
    const std::map<Change, const char*> strangers = {
        {kStrangers5000, "5000"}, {kStrangers20000, "20000"}, {kStrangers60000, "60000"}};
    // The certificates before the signer's own, the copies of the signer,
    // and whether their signatures are broken, by row.
    struct Many {
        const char* certificates;
        const char* signers;
        const char* signatures;
    };
    const std::map<Change, Many> many = {{kThirtyCertificatesThirtySigners, {"30", "30", "sound"}},
                                         {kSixHundredCertificates, {"600", "1", "sound"}},
                                         {kSixHundredBrokenSigners, {"0", "600", "broken"}}};
    // The bits of n and of e written into the certificate, by row.
    const std::map<Change, std::pair<const char*, const char*>> keyNumbers = {
        {kModulusTooLarge, {"16385", "17"}},
        {kExponentOfAMillionBits, {"16384", "1000000"}},
        {kExponentOf64Bits, {"4096", "64"}},
        {kExponentOf65Bits, {"4096", "65"}},
        {kExponentIsModulus, {"2048", "n"}}};
    makeProbes();
    makeCert("topbit", {"-subj", "/O=Real/CN=Top Bit", "-set_serial", "0x8F00AA"});
    makeCert("negative", {"-subj", "/O=Real/CN=Negative", "-set_serial", "-5"});
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("empty.txt"), ""));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stream ? "streamed, " : "") + c.lengths + ", change " + std::to_string(c.change));
        const char* signer = "alice";
        if (c.change >= kT61Issuer && c.change <= kUniversalIssuer) {
            const char* types[] = {"T61String", "BMPString", "UniversalString"};
            const grvtest::RunResult made = grvtest::RunProgram(
                {"/usr/bin/python3", "-c", kNamedSigner, types[c.change - kT61Issuer], m_work.Path()});
            ASSERT_TRUE(made.Ok()) << made.err;
            signer = "named";
        }
        if (c.change >= kOnlyAnotherIssuersCertificate && c.change <= kKeyIdInSegments)
            signer = "probe";
        if (c.change == kTopBitSerial || c.change == kNegativeSerial)
            signer = c.change == kTopBitSerial ? "topbit" : "negative";
        const bool detached = c.change == kDetached || c.change == kDetachedEmpty;
        std::vector<std::string> args{"cms",
                                      "-sign",
                                      "-binary",
                                      "-outform",
                                      "DER",
                                      "-in",
                                      m_work.File(c.change == kDetachedEmpty ? "empty.txt" : "message.txt"),
                                      "-signer",
                                      crt(signer),
                                      "-inkey",
                                      key(signer),
                                      "-out",
                                      m_work.File("signed.p7")};
        if (!detached)
            args.push_back("-nodetach");
        if (c.stream)
            args.push_back("-stream");
        if (c.change == kTimeStamp)
            args.insert(args.end(), {"-econtent_type", "1.2.840.113549.1.9.16.1.4"});
        if (c.change == kKeyIdSigner || c.change == kKeyIdInSegments || c.change == kOtherVersionKeyId)
            args.push_back("-keyid");
        openssl(args);
        const bool uncertified = c.change == kUncertifiedSecondSigner || c.change == kUncertifiedFirstSigner;
        if (c.change == kSecondSigner || c.change == kBrokenSecondSigner || uncertified) {
            std::vector<std::string> resign{
                "cms", "-resign", "-binary",  "-inform", "DER",      "-in",  m_work.File("signed.p7"), "-outform",
                "DER", "-signer", crt("bob"), "-inkey",  key("bob"), "-out", m_work.File("signed.p7")};
            if (uncertified)
                resign.push_back("-nocerts");
            openssl(resign);
        }
        // The certificates the message carries, in order.
        std::vector<std::string> carried;
        if (c.change == kOnlyAnotherIssuersCertificate)
            carried = {"probe-evil"};
        else if (c.change == kAnotherIssuersKeyFirst)
            carried = {"decoy", "probe"};
        else if (c.change == kSameIssuerOtherKeyFirst)
            carried = {"twin", "probe"};
        const char* rewriting = !carried.empty()                                                    ? "certs"
                                : c.change == kPaddedSerial                                         ? "padserial"
                                : c.change == kPrintableIssuer                                      ? "printable"
                                : c.change == kKeyIdInSegments                                      ? "segkeyid"
                                : c.change == kUpperCaseIssuer                                      ? "uppercase"
                                : c.change == kOtherVersionIssuer || c.change == kOtherVersionKeyId ? "version"
                                                                                                    : nullptr;
        const auto numbers = keyNumbers.find(c.change);
        if (numbers != keyNumbers.end())
            rewriting = "key";
        const auto copies = many.find(c.change);
        if (copies != many.end())
            rewriting = "many";
        if (c.change == kNegativeModulus)
            rewriting = "negative";
        if (c.change == kUncertifiedFirstSigner)
            rewriting = "swap";
        const char* rewriteArg = c.change == kNestedAttribute88             ? "88"
                                 : c.change == kNestedAttribute89           ? "89"
                                 : c.change == kDigestAlgorithmsInASequence ? "sequence"
                                 : c.change == kNoDigestAlgorithms          ? "absent"
                                                                            : nullptr;
        if (rewriteArg)
            rewriting = c.change <= kNestedAttribute89 ? "deep" : "digests";
        const auto count = strangers.find(c.change);
        if (count != strangers.end())
            rewriting = "strangers";
        const auto lists = listFields.find(c.change);
        if (lists != listFields.end()) {
            rewriting = "lists";
            rewriteArg = lists->second;
        }
        if (rewriting) {
            std::vector<std::string> rewrite{"/usr/bin/python3",       "-c",
                                             kRewriteSigned,           m_work.File("signed.p7"),
                                             m_work.File("signed.p7"), rewriting};
            for (const std::string& who : carried)
                rewrite.push_back(m_work.File(who + ".der"));
            if (numbers != keyNumbers.end())
                rewrite.insert(rewrite.end(), {numbers->second.first, numbers->second.second});
            if (copies != many.end())
                rewrite.insert(rewrite.end(),
                               {copies->second.certificates, copies->second.signers, copies->second.signatures});
            if (count != strangers.end())
                rewrite.push_back(count->second);
            if (rewriteArg)
                rewrite.push_back(rewriteArg);
            const grvtest::RunResult rewritten = grvtest::RunProgram(rewrite);
            ASSERT_TRUE(rewritten.Ok()) << rewritten.err;
        }
        if (std::string(c.lengths) != "as signed") {
            const grvtest::RunResult longer =
                grvtest::RunProgram({"/usr/bin/python3", "-c", kLongLengths, m_work.File("signed.p7"),
                                     m_work.File("signed.p7"), c.lengths});
            ASSERT_TRUE(longer.Ok()) << longer.err;
        }
        std::string message = grvtest::ReadFile(m_work.File("signed.p7"));
        ASSERT_EQ(message.substr(0, 2) == "\x30\x80", c.stream);
        if (c.change == kTamperedTime) {
            // The last digit of the signing time, the last UTCTime (13 octets).
            const std::size_t at = message.rfind("\x17\x0d");
            ASSERT_NE(at, std::string::npos);
            message[at + 2 + 11] ^= 0x01;
        } else if (c.change == kBrokenSecondSigner) {
            // A byte of the last signature, the added signer's.
            message[message.size() - 5] ^= 0x01;
        }
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("signed.p7"), message));
        std::filesystem::remove(m_work.File("signers.pem"));
        std::vector<std::string> verify{"cms",       "-verify",
                                        "-noverify", "-binary",
                                        "-inform",   "DER",
                                        "-in",       m_work.File("signed.p7"),
                                        "-signer",   m_work.File("signers.pem")};
        const grvtest::RunResult judged = runOpenssl(verify);
        EXPECT_EQ(judged.Ok(), c.opensslVerifies) << judged.err;
        Logger log;
        DataBuffer out;
        std::vector<std::string> signers, opensslSigners;
        const std::uint64_t checksBefore = rsaExptmodCount(kRsaPublic);
        // Thousands of signers are read without a verbose log.
        EXPECT_EQ(open(message, out, log, &signers, count == strangers.end()), c.verifies) << logText(log);
        // One check for each signer that verified; a refused message stops
        // at its first signer, or at a broken second after a sound one.
        EXPECT_LE(rsaExptmodCount(kRsaPublic) - checksBefore, c.verifies ? signers.size() : 2u);
        if (c.logged) {
            EXPECT_NE(logText(log).find(c.logged), std::string::npos) << logText(log);
        }
        EXPECT_EQ(bytesOf(out), c.verifies ? judged.out : std::string());
        // Only signers that verified, the ones openssl names.
        platform::PemCertificatesToDer(grvtest::ReadFile(m_work.File("signers.pem")), opensslSigners);
        if (c.verifies || !c.opensslVerifies) {
            EXPECT_EQ(signers, opensslSigners);
        }
        EXPECT_EQ(signers.size(), c.verifies ? (c.change == kSecondSigner ? 2u : 1u) : 0u);
        // The other roads that read a message, each through the one reading
        // of the library's verification (Pkcs7::loadPkcs7Der), are shown the
        // fewest signers: the crypt component's public-key decryption, given
        // a recipient's certificate and key or searching the stores, and the
        // message calls (whole and low-level).
        if (c.change != kStrangers5000)
            continue;
        for (const bool given : {false, true}) {
            ClsCrypt crypt;
            crypt.setCryptAlgorithm("pki");
            if (given) {
                const std::string certBytes = pkitest::certificateDer(crt("alice")), keyBytes = keyDer("alice");
                LogNull quiet;
                setCryptDecryptCertificate(
                    crypt, new ClsCert(
                               Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(certBytes.data()),
                                                            static_cast<std::uint32_t>(certBytes.size()), quiet, false),
                               nullptr, false));
                crypt.privateKey().append(keyBytes.data(), static_cast<unsigned int>(keyBytes.size()));
            }
            DataBuffer decrypted;
            EXPECT_FALSE(crypt.Decrypt(*bufferOf(message), decrypted)) << given;
        }
        DataBuffer called;
        Logger callLog;
        EXPECT_FALSE(msDecrypt1(*bufferOf(message), called, nullptr, callLog)) << logText(callLog);
        EXPECT_EQ(rsaExptmodCount(kRsaPublic), checksBefore);
    }
}

TEST_F(Pkcs7Messages, MutatedMessagesGetOpensslsVerdict) {
    // One byte changed at a time, at seeded random places, where both sides
    // judge the same things: in a signed message the content, the signed
    // attributes and the signature (elsewhere we are stricter on content
    // types and signature algorithms, and compare a signer's issuer name as
    // DER where openssl compares a canonical form); in an envelope the
    // encrypted content and its algorithm.
    std::string signedDer = openssl({"smime", "-sign", "-nodetach", "-binary", "-outform", "DER", "-in",
                                     m_work.File("message.txt"), "-signer", crt("alice"), "-inkey", key("alice")});
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    {
        LogNull quiet;
        std::unique_ptr<Asn1> root(decodeBerFirst(reinterpret_cast<const unsigned char*>(signedDer.data()),
                                                  static_cast<std::uint32_t>(signedDer.size()), nullptr, quiet));
        const Asn1* sd = root->getChild(1)->getChild(0);
        const Asn1* signer = sd->getChild(sd->getNumChildren() - 1)->getChild(0);
        for (const Asn1* part : {signer->getChild(3), signer->getChild(5)}) {
            DataBuffer der;
            part->encodeDer(der, false, nullptr, quiet);
            spans.emplace_back(signedDer.find(bytesOf(der)), der.getSize());
        }
        spans.emplace_back(signedDer.find(m_message), m_message.size());
        for (const auto& span : spans)
            ASSERT_NE(span.first, std::string::npos);
    }
    std::string envelope = openssl(
        {"smime", "-encrypt", "-aes128", "-binary", "-outform", "DER", "-in", m_work.File("message.txt"), crt("bob")});
    Pkcs7 parsed;
    Logger parseLog;
    ASSERT_TRUE(parsed.loadPkcs7Der(*bufferOf(envelope), nullptr, parseLog, false));
    const std::size_t contentSize = 2 + 2 + 11 + 2 + 16 + 2 + 2 + m_message.size() + 16 - m_message.size() % 16;
    ASSERT_LT(contentSize, envelope.size());
    const std::size_t contentAt = envelope.size() - contentSize;

    std::mt19937 random(20240611);
    int signedCompared = 0, envelopesCompared = 0, signedRefused = 0, envelopesRefused = 0;
    for (int round = 0; round < 120; ++round) {
        bool sign = round % 2 == 0;
        std::string message = sign ? signedDer : envelope;
        std::size_t at = 0;
        if (sign) {
            const auto& span = spans[random() % spans.size()];
            at = span.first + random() % span.second;
        } else {
            at = contentAt + random() % contentSize;
        }
        message[at] = static_cast<char>(message[at] ^ (1 + random() % 255));
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("mutated.p7"), message));
        DataBuffer out;
        Logger log;
        bool ours = false;
        grvtest::RunResult judged;
        if (sign) {
            ours = open(message, out, log);
            judged = runOpenssl(
                {"smime", "-verify", "-noverify", "-binary", "-inform", "DER", "-in", m_work.File("mutated.p7")});
            ++signedCompared;
            signedRefused += judged.Ok() ? 0 : 1;
        } else {
            Pkcs7 p7;
            ours = p7.loadPkcs7Der(*bufferOf(message), nullptr, log, false) &&
                   p7.unEnvelope(fields("bob"), *bufferOf(keyDer("bob")), out, log, false);
            judged = runOpenssl({"smime", "-decrypt", "-binary", "-inform", "DER", "-in", m_work.File("mutated.p7"),
                                 "-recip", crt("bob"), "-inkey", key("bob")});
            ++envelopesCompared;
            envelopesRefused += judged.Ok() ? 0 : 1;
        }
        EXPECT_EQ(ours, judged.Ok()) << (sign ? "signed" : "enveloped") << " byte " << at << "\n"
                                     << judged.err << logText(log);
        if (ours && judged.Ok()) {
            EXPECT_EQ(bytesOf(out), judged.out) << "byte " << at;
        }
    }
    EXPECT_EQ(signedCompared, 60);
    EXPECT_EQ(envelopesCompared, 60);
    // Every signed change is caught; changed ciphertext mostly decrypts to
    // changed text, unless the padding breaks.
    EXPECT_EQ(signedRefused, 60);
    EXPECT_GT(envelopesRefused, 0);
    EXPECT_LT(envelopesRefused, 60);
}

// The ContentInfos of a PKCS#12 file's authenticated safe, as DER.
std::vector<std::string> authSafeContentInfos(const std::string& pfx) {
    LogNull log;
    std::unique_ptr<Asn1> root(decodeBerFirst(reinterpret_cast<const unsigned char*>(pfx.data()),
                                              static_cast<std::uint32_t>(pfx.size()), nullptr, log));
    std::vector<std::string> out;
    const Asn1* authSafe = root ? root->getChild(1) : nullptr;
    const Asn1* explicit0 = authSafe ? authSafe->getChild(1) : nullptr;
    const Asn1* octets = explicit0 ? explicit0->getChild(0) : nullptr;
    if (!octets)
        return out;
    DataBuffer safe;
    octets->getContent(safe);
    std::unique_ptr<Asn1> infos(decodeBerFirst(safe.getData(), safe.getSize(), nullptr, log));
    for (int i = 0; infos && i < infos->getNumChildren(); ++i) {
        DataBuffer der;
        infos->getChild(i)->encodeDer(der, false, nullptr, log);
        out.push_back(bytesOf(der));
    }
    return out;
}

// The certificates of the cert bags in a SafeContents.
std::vector<std::string> certBags(const DataBuffer& safeContents) {
    LogNull log;
    std::unique_ptr<Asn1> bags(decodeBerFirst(safeContents.getData(), safeContents.getSize(), nullptr, log));
    std::vector<std::string> out;
    for (int i = 0; bags && i < bags->getNumChildren(); ++i) {
        const Asn1* bag = bags->getChild(i);
        StringBuffer oid;
        bag->getChild(0)->getOidString(oid);
        if (!oid.equals("1.2.840.113549.1.12.10.1.3"))
            continue;
        const Asn1* certBag = bag->getChild(1)->getChild(0);
        DataBuffer cert;
        certBag->getChild(1)->getChild(0)->getContent(cert);
        out.push_back(bytesOf(cert));
    }
    return out;
}

TEST(Pkcs7EncryptedData, PublishedPkcs12SafeDecryptsWithItsPasswordOnly) {
    installCryptoServices();
    const std::string file = std::string(kVectors) + "/pkcs12/cert-rc2-key-3des.p12";
    std::vector<std::string> infos = authSafeContentInfos(grvtest::ReadFile(file));
    ASSERT_EQ(infos.size(), 2u);
    std::string encrypted;
    for (const auto& der : infos)
        if (der.find("\x2a\x86\x48\x86\xf7\x0d\x01\x07\x06") != std::string::npos)
            encrypted = der;
    ASSERT_FALSE(encrypted.empty());
    Pkcs7 p7;
    Logger log;
    ASSERT_TRUE(p7.loadPkcs7Der(*bufferOf(encrypted), "cryptography", log, true)) << logText(log);
    ASSERT_EQ(p7.contentType(), kPkcs7Encrypted);
    grvtest::RunResult judged = runOpenssl({"pkcs12", "-in", file, "-nokeys", "-passin", "pass:cryptography",
                                            "-provider", "legacy", "-provider", "default"});
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::vector<std::string> want;
    platform::PemCertificatesToDer(judged.out, want);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(certBags(p7.encryptedData()->content), want);

    Logger wrong;
    EXPECT_FALSE(p7.loadPkcs7Der(*bufferOf(encrypted), "not it", wrong, false));
    EXPECT_EQ(p7.contentType(), kPkcs7None);
    EXPECT_NE(logText(wrong).find("PKCS12 decryption failed (SHA1 and 40-bit RC2)"), std::string::npos)
        << logText(wrong);
}

// Data messages with one structural fault each, beside the BER forms that
// stay readable (lengths in more octets than they need among them: PKCS#7
// is BER). Each row's verdict and content are X.690's, pinned here; `openssl
// cms -data_out` seconds the rows all its 3.0 releases (3.0.17, 3.0.20,
// 3.0.22) agree on.
TEST(Pkcs7Loading, MalformedDataGetsX690sVerdictWhichOpensslSeconds) {
    const std::string oid = "06092a864886f70d010701";
    auto data = [&](const std::string& octets) {
        std::string explicit0 = "a0" + grvtest::ToHex(std::string(1, static_cast<char>(octets.size() / 2))) + octets;
        std::string body = oid + explicit0;
        return "30" + grvtest::ToHex(std::string(1, static_cast<char>(body.size() / 2))) + body;
    };
    const std::string abc = "ABC", none;
    const struct {
        const char* name;
        std::string hex;
        const std::string* content; // null when the message is refused
        bool seconded;
    } rows[] = {
        {"clean", data("0403414243"), &abc, true},
        {"octets running past their [0]", "301206092a864886f70d010701a0050404414243", nullptr, true},
        {"[0] running past the message", "301206092a864886f70d010701a0060403414243", nullptr, true},
        {"NULL after the [0]", "301406092a864886f70d010701a00504034142430500", nullptr, true},
        {"octets cut short", "301106092a864886f70d010701a00504034142", nullptr, true},
        {"a segment running past its string", data("2480040241420402430000"), nullptr, true},
        {"BER indefinite lengths", "308006092a864886f70d010701a080040341424300000000", &abc, true},
        {"BER constructed string", data("2480040241420401430000"), &abc, true},
        {"a length below 128 in the long form", data("048103414243"), &abc, true},
        {"the message's length in the long form", "30811206092a864886f70d010701a0050403414243", &abc, true},
        {"a length with a leading zero byte", data("04820003414243"), &abc, true},
        // 3.0.22 reads it, the releases before it refuse it.
        {"a zero length in the long form ending its [0]", data("04820000"), &none, false},
    };
    grvtest::TempDir dir("p7rows");
    int seconded = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto der = pkitest::fromHex(row.hex);
        Pkcs7 p7;
        Logger log;
        const bool ours = p7.loadPkcs7Der(*der, nullptr, log, false);
        ASSERT_EQ(ours, row.content != nullptr) << logText(log);
        if (ours) {
            EXPECT_EQ(bytesOf(p7.data()->content), *row.content);
        } else {
            EXPECT_FALSE(logText(log).empty()) << "a refusal says why";
        }
        if (!row.seconded)
            continue;
        ASSERT_TRUE(grvtest::WriteFile(dir.File("row.p7"), bytesOf(*der)));
        grvtest::RunResult judged = runOpenssl({"cms", "-data_out", "-inform", "DER", "-in", dir.File("row.p7")});
        EXPECT_EQ(judged.Ok(), ours) << openssl({"version"}) << " parts from the releases before it\n" << judged.err;
        if (judged.Ok() && ours) {
            EXPECT_EQ(judged.out, *row.content);
        }
        ++seconded;
    }
    EXPECT_GT(seconded, 0);
}

TEST(Pkcs7Loading, TypesDataAndUnexpectedOids) {
    struct Case {
        const char* hex;
        bool loads;
        int type;
        const char* logged;
    } cases[] = {
        // Data holding "hi", then with an INTEGER in place of the octets.
        {"301106092a864886f70d010701a004040268 69", true, 1, "dataSize"},
        {"301106092a864886f70d010701a004020268 69", false, 0, pkcs7_msg::kDataOctets},
        {"300b06092a864886f70d010704", false, 0, nullptr},
        {"300b06092a864886f70d010705", false, 0, nullptr},
        {"300b06092a864886f70d010709", false, 0, "UnexpectedOid"},
        {"3003020101", false, 0, pkcs7_msg::kNoOid},
        {"3103020101", false, 0, pkcs7_msg::kNotSequence},
    };
    for (const auto& c : cases) {
        std::string hex;
        for (const char* p = c.hex; *p; ++p)
            if (*p != ' ')
                hex += *p;
        SCOPED_TRACE(hex);
        Pkcs7 p7;
        Logger log;
        EXPECT_EQ(p7.loadPkcs7Der(*pkitest::fromHex(hex), nullptr, log, false), c.loads) << logText(log);
        EXPECT_EQ(p7.contentType(), c.type);
        if (c.logged) {
            EXPECT_NE(logText(log).find(c.logged), std::string::npos) << logText(log);
        }
        if (c.type == kPkcs7Data) {
            EXPECT_EQ(bytesOf(p7.data()->content), "hi");
        }
    }
}

} // namespace
