// The crypt component's public-key and password roads, judged by openssl:
// what it encrypts to a certificate `openssl smime -decrypt` and `openssl
// cms -decrypt` read; `openssl smime -encrypt` messages it decrypts with a
// stored key, exportable or not (then through the message calls); PBES1
// and PBES2 data from `openssl pkcs8` opens through it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ClsCert.h"
#include "netlib/pki/CryptMessages.h"
#include "netlib/pki/CryptPublicKey.h"
#include "netlib/pki/MsMessages.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/SystemCerts.h"
#include "platform/CertStore.h"

using namespace tessik;
using pkitest::bufferOf;
using pkitest::bytesOf;
using pkitest::logText;
using pkitest::openssl;
using pkitest::runOpenssl;

namespace {

Certificate* certificateOf(const std::string& pem) {
    std::string der = pkitest::certificateDer(pem);
    LogNull quiet;
    return Certificate::createFromBytes(reinterpret_cast<const unsigned char*>(der.data()),
                                        static_cast<std::uint32_t>(der.size()), quiet, false);
}

class CryptPublicKey : public pkitest::PkiRoots {
protected:
    void SetUp() override {
        PkiRoots::SetUp();
        installPkiServices();
        makeCert("alice", {"-subj", "/O=Gorvane Test/CN=alice", "-set_serial", "0x0A11CE"});
        m_message = "A secret worth sealing, and then some: " + std::string(200, 's');
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("message.txt"), m_message));
    }
    std::string sealedForAlice(const char* cipher = "-aes256") {
        return openssl({"smime", "-encrypt", cipher, "-binary", "-outform", "DER", "-in", m_work.File("message.txt"),
                        m_work.File("alice.crt")});
    }
    // The component decrypting as its users do: the public method.
    bool decrypt(ClsCrypt& crypt, const std::string& input, std::string& out) {
        DataBuffer result;
        bool ok = crypt.Decrypt(*bufferOf(input), result);
        out = bytesOf(result);
        return ok;
    }
    std::string lastLog(ClsCrypt& crypt) { return logText(crypt.getLog()); }
    std::string m_message;
};

TEST_F(CryptPublicKey, EncryptsToCertificatesForOpenssl) {
    makeCert("bob", {"-subj", "/CN=bob", "-set_serial", "0xB0B0"});
    addToStore(m_work.File("alice.crt"), platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
    struct Case {
        const char* settings;
        int contentAlgorithm; // 0: the default, RC2
        int keyBits;
        const char* asn1Name;
    } cases[] = {{"default", 0, 128, "rc2-cbc"}, {"aes-256", 2, 256, "aes-256-cbc"}, {"3des", 7, 192, "des-ede3-cbc"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        ClsCrypt crypt;
        crypt.setCryptAlgorithm("pki");
        ASSERT_EQ(crypt.getAlgorithmId(), kCipherPki);
        if (c.contentAlgorithm) {
            crypt.setPkcs7ContentEncAlgId(c.contentAlgorithm);
            crypt.setKeyLength(c.keyBits);
        }
        // Alice's certificate as the stores give it, bob's from bytes.
        SystemCerts stores;
        bool inaccessible = false;
        LogNull quiet;
        std::unique_ptr<CertificateFields> aliceFields =
            readCertificateFields(pkitest::certificateDer(m_work.File("alice.crt")));
        ASSERT_TRUE(aliceFields);
        CertificateId aliceId;
        aliceId.issuer = aliceFields->issuer;
        aliceId.serial = aliceFields->serial;
        std::vector<std::unique_ptr<Certificate>> found;
        stores.searchStoresById(aliceId, false, true, inaccessible, found, quiet, false);
        ASSERT_EQ(found.size(), 1u);
        addCryptEncryptCertificate(crypt, found[0].release());
        addCryptEncryptCertificate(crypt, certificateOf(m_work.File("bob.crt")));
        Logger log;
        DataBuffer sealed;
        ASSERT_TRUE(crypt.encryptBytesToDb(*bufferOf(m_message), sealed, nullptr, log, false)) << logText(log);
        EXPECT_STREQ(crypt.lastCertSubject().getUtf8(), "Gorvane Test, alice");
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("sealed.p7"), bytesOf(sealed)));
        EXPECT_NE(runOpenssl({"asn1parse", "-inform", "DER", "-in", m_work.File("sealed.p7")}).out.find(c.asn1Name),
                  std::string::npos);
        for (const char* tool : {"smime", "cms"})
            for (const char* who : {"alice", "bob"}) {
                grvtest::RunResult r =
                    runOpenssl({tool, "-decrypt", "-binary", "-inform", "DER", "-in", m_work.File("sealed.p7"),
                                "-recip", m_work.File(std::string(who) + ".crt"), "-inkey",
                                m_work.File(std::string(who) + ".key"), "-provider", "legacy", "-provider", "default"});
                EXPECT_TRUE(r.Ok()) << tool << " " << who << r.err;
                EXPECT_EQ(r.out, m_message) << tool << " " << who;
            }
    }
    ClsCrypt none;
    none.setCryptAlgorithm("pki");
    Logger log;
    DataBuffer sealed;
    EXPECT_FALSE(none.encryptBytesToDb(*bufferOf(m_message), sealed, nullptr, log, false));
    EXPECT_NE(logText(log).find(cryptpk_msg::kNoEncryptCerts), std::string::npos);
}

// An empty message still travels in an envelope whose content is one
// padding block; openssl opens it to nothing, and so does the component.
TEST_F(CryptPublicKey, EnvelopesAnEmptyMessageForOpenssl) {
    std::string keyDer = openssl({"rsa", "-in", m_work.File("alice.key"), "-traditional", "-outform", "DER"});
    struct Case {
        int contentAlgorithm; // 0: the default, RC2
        int keyBits;
    } cases[] = {{0, 128}, {2, 128}, {2, 256}, {7, 192}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.contentAlgorithm) + "/" + std::to_string(c.keyBits));
        ClsCrypt crypt;
        crypt.setCryptAlgorithm("pki");
        if (c.contentAlgorithm) {
            crypt.setPkcs7ContentEncAlgId(c.contentAlgorithm);
            crypt.setKeyLength(c.keyBits);
        }
        addCryptEncryptCertificate(crypt, certificateOf(m_work.File("alice.crt")));
        Logger log;
        DataBuffer nothing, sealed;
        ASSERT_TRUE(crypt.encryptBytesToDb(nothing, sealed, nullptr, log, false)) << logText(log);
        ASSERT_TRUE(grvtest::WriteFile(m_work.File("empty.p7"), bytesOf(sealed)));
        for (const char* tool : {"cms", "smime"}) {
            grvtest::RunResult r =
                runOpenssl({tool, "-decrypt", "-binary", "-inform", "DER", "-in", m_work.File("empty.p7"), "-recip",
                            m_work.File("alice.crt"), "-inkey", m_work.File("alice.key"), "-provider", "legacy",
                            "-provider", "default"});
            EXPECT_TRUE(r.Ok()) << tool << " " << r.err;
            EXPECT_EQ(r.out, "") << tool;
        }
        ClsCrypt opener;
        opener.setCryptAlgorithm("pki");
        setCryptDecryptCertificate(opener, new ClsCert(certificateOf(m_work.File("alice.crt")), nullptr, false));
        opener.privateKey().append(keyDer.data(), static_cast<unsigned int>(keyDer.size()));
        std::string plain = "not yet opened";
        EXPECT_TRUE(decrypt(opener, bytesOf(sealed), plain)) << lastLog(opener);
        EXPECT_EQ(plain, "");
    }
}

TEST_F(CryptPublicKey, DecryptsWithAStoredKeyExportableOrNot) {
    struct Case {
        bool exportable;
        const char* cipher;
    } cases[] = {{true, "-aes256"}, {false, "-aes256"}, {true, "-des3"}, {false, "-aes128"}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exportable ? "exportable " : "locked ") + c.cipher);
        // A fresh user root each time: only this case's key is in the store.
        grvtest::TempDir user("user" + std::to_string(n++));
        setenv("XDG_DATA_HOME", user.Path().c_str(), 1);
        addWithKey("alice", platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "alice-box", 0, c.exportable);
        ClsCrypt crypt;
        crypt.setCryptAlgorithm("pki");
        std::string plain;
        EXPECT_TRUE(decrypt(crypt, sealedForAlice(c.cipher), plain)) << lastLog(crypt);
        EXPECT_EQ(plain, m_message);
        EXPECT_EQ(lastLog(crypt).find(cryptpk_msg::kViaCryptoApi) != std::string::npos, !c.exportable);
        ClsCert* used = lastCryptDecryptCertificate(crypt);
        ASSERT_TRUE(used);
        DataBuffer der;
        LogNull quiet;
        ASSERT_TRUE(used->getCertificate()->getDer(der, quiet));
        EXPECT_EQ(bytesOf(der), pkitest::certificateDer(m_work.File("alice.crt")));
        EXPECT_STREQ(crypt.lastCertSubject().getUtf8(), "Gorvane Test, alice");
        setenv("XDG_DATA_HOME", m_user.Path().c_str(), 1);
    }
    // Nobody holds the key, and bytes that are no PKCS#7.
    ClsCrypt crypt;
    crypt.setCryptAlgorithm("pki");
    std::string plain;
    EXPECT_FALSE(decrypt(crypt, sealedForAlice(), plain));
    EXPECT_NE(lastLog(crypt).find(cryptpk_msg::kUnenvelopeFailed), std::string::npos);
    EXPECT_FALSE(decrypt(crypt, "certainly not DER", plain));
    EXPECT_NE(lastLog(crypt).find(cryptpk_msg::kNotPkcs7), std::string::npos);
}

TEST_F(CryptPublicKey, DecryptsWithAGivenCertificateAndKey) {
    std::string keyDer = openssl({"rsa", "-in", m_work.File("alice.key"), "-traditional", "-outform", "DER"});
    struct Case {
        bool keyOnCertificate;
        bool keyOnComponent;
        bool opens;
    } cases[] = {{true, false, true}, {false, true, true}, {false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.keyOnCertificate) + std::to_string(c.keyOnComponent));
        Certificate* cert = certificateOf(m_work.File("alice.crt"));
        if (c.keyOnCertificate)
            cert->setPrivateKeyDer(*bufferOf(keyDer));
        ClsCrypt crypt;
        crypt.setCryptAlgorithm("pki");
        setCryptDecryptCertificate(crypt, new ClsCert(cert, nullptr, false));
        if (c.keyOnComponent)
            crypt.privateKey().append(keyDer.data(), static_cast<unsigned int>(keyDer.size()));
        std::string plain;
        EXPECT_EQ(decrypt(crypt, sealedForAlice("-des3"), plain), c.opens) << lastLog(crypt);
        if (c.opens) {
            EXPECT_EQ(plain, m_message);
            ASSERT_TRUE(lastCryptDecryptCertificate(crypt));
            EXPECT_NE(lastCryptDecryptCertificate(crypt)->getCertificate(), cert);
        } else {
            EXPECT_NE(lastLog(crypt).find(cryptpk_msg::kNoPrivateKey), std::string::npos);
        }
    }
}

TEST_F(CryptPublicKey, MessageCallsOpenWhatTheLibraryCannotExport) {
    addWithKey("alice", platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", "alice-box", 0, false);
    std::string sealed = sealedForAlice("-aes128");
    // The low-level road alone, which the message call stands before.
    Logger log;
    DataBuffer plain;
    ASSERT_TRUE(msDecryptLowLevel(*bufferOf(sealed), plain, log)) << logText(log);
    EXPECT_EQ(bytesOf(plain), m_message);
    EXPECT_NE(logText(log).find("1.2.840.113549.1.7.1"), std::string::npos);

    // A content type written as an empty OID is no encoding at all: the
    // envelope is refused, as openssl refuses it.
    LogNull quiet;
    std::unique_ptr<Asn1> root(decodeBerFirst(reinterpret_cast<const unsigned char*>(sealed.data()),
                                              static_cast<std::uint32_t>(sealed.size()), nullptr, quiet));
    Asn1* enveloped = root->getChild(1)->getChild(0);
    Asn1* type = enveloped->getChild(enveloped->getNumChildren() - 1)->getChild(0);
    ASSERT_TRUE(type->isOid());
    type->setContent(nullptr, 0);
    DataBuffer untyped;
    ASSERT_TRUE(root->encodeDer(untyped, false, nullptr, quiet));
    Logger empty;
    EXPECT_FALSE(msDecryptLowLevel(untyped, plain, empty));
    EXPECT_EQ(plain.getSize(), 0u);
    const std::vector<std::string> opensslOpens{"cms", "-decrypt", "-inform",
                                                "DER", "-inkey",   m_work.File("alice.key")};
    EXPECT_TRUE(runOpenssl(opensslOpens, sealed).Ok());
    EXPECT_FALSE(runOpenssl(opensslOpens, bytesOf(untyped)).Ok());

    // Both roads together, with the certificate that decrypted.
    Certificate* recipient = nullptr;
    Logger both;
    ASSERT_TRUE(msDecrypt1(*bufferOf(sealed), plain, &recipient, both)) << logText(both);
    std::unique_ptr<Certificate> owned(recipient);
    EXPECT_EQ(bytesOf(plain), m_message);
    ASSERT_TRUE(owned);
    XString subject;
    owned->getSubjectDN(subject, quiet);
    EXPECT_STREQ(subject.getUtf8(), "Gorvane Test, alice");

    // A signed message is no envelope on either road.
    std::string signedDer =
        openssl({"smime", "-sign", "-nodetach", "-binary", "-outform", "DER", "-in", m_work.File("message.txt"),
                 "-signer", m_work.File("alice.crt"), "-inkey", m_work.File("alice.key")});
    Logger wrongKind;
    EXPECT_FALSE(msDecrypt1(*bufferOf(signedDer), plain, nullptr, wrongKind));
    EXPECT_NE(logText(wrongKind).find(msmessage_msg::kNotEnveloped), std::string::npos);
    EXPECT_NE(logText(wrongKind).find(msmessage_msg::kDecryptFailed1), std::string::npos);
}

TEST_F(CryptPublicKey, AProviderOnlyTheMessageCallsServeEncryptsThroughThem) {
    ClsCrypt crypt;
    crypt.setCryptAlgorithm("pki");
    crypt.cryptoSettings().m_providerName.setString("Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider");
    addCryptEncryptCertificate(crypt, certificateOf(m_work.File("alice.crt")));
    Logger log;
    DataBuffer sealed;
    ASSERT_TRUE(crypt.encryptBytesToDb(*bufferOf(m_message), sealed, nullptr, log, false)) << logText(log);
    std::string text = logText(log);
    for (const char* line : {cryptpk_msg::kMustUseMsCrypto, msmessage_msg::kNoCsp, "msEncryptCerts", "cert_subject"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // The provider's first encryption algorithm: RC2 with a 128-bit key.
    ASSERT_TRUE(grvtest::WriteFile(m_work.File("sealed.p7"), bytesOf(sealed)));
    std::string parsed = runOpenssl({"asn1parse", "-inform", "DER", "-in", m_work.File("sealed.p7")}).out;
    EXPECT_NE(parsed.find("rc2-cbc"), std::string::npos);
    EXPECT_NE(parsed.find("INTEGER           :3A"), std::string::npos) << parsed;
    grvtest::RunResult r = runOpenssl({"smime", "-decrypt", "-binary", "-inform", "DER", "-in",
                                       m_work.File("sealed.p7"), "-recip", m_work.File("alice.crt"), "-inkey",
                                       m_work.File("alice.key"), "-provider", "legacy", "-provider", "default"});
    EXPECT_TRUE(r.Ok()) << r.err;
    EXPECT_EQ(r.out, m_message);

    DataBuffer out;
    ExtPtrArray none;
    Logger empty;
    EXPECT_FALSE(msEncrypt(crypt.cryptoSettings(), nullptr, 0, none, out, empty));
    EXPECT_NE(logText(empty).find(msmessage_msg::kNothingToEncrypt), std::string::npos);
}

// The salt, iteration count, IV and ciphertext of an EncryptedPrivateKeyInfo.
struct Pkcs8Parts {
    std::string salt, iv, ciphertext;
    int iterations = 0;
};

Pkcs8Parts pkcs8Parts(const std::string& der, bool v2) {
    LogNull quiet;
    std::unique_ptr<Asn1> root(decodeBerFirst(reinterpret_cast<const unsigned char*>(der.data()),
                                              static_cast<std::uint32_t>(der.size()), nullptr, quiet));
    Pkcs8Parts parts;
    // The content of a node (getContent appends, so each into a fresh buffer).
    auto content = [](const Asn1* node, bool unsignedInteger) {
        DataBuffer b;
        if (unsignedInteger)
            node->getUnsignedContent(b);
        else
            node->getContent(b);
        return bytesOf(b);
    };
    parts.ciphertext = content(root->getChild(1), false);
    const Asn1* params = root->getChild(0)->getChild(1);
    const Asn1* kdf = v2 ? params->getChild(0)->getChild(1) : params;
    parts.salt = content(kdf->getChild(0), false);
    for (unsigned char byte : content(kdf->getChild(1), true))
        parts.iterations = parts.iterations << 8 | byte;
    if (v2)
        parts.iv = content(params->getChild(1)->getChild(1), false);
    return parts;
}

TEST(CryptPasswordRoads, OpensslPkcs8DataOpensThroughTheComponent) {
    grvtest::RunResult key = runOpenssl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"});
    ASSERT_TRUE(key.Ok()) << key.err;
    std::string plain = runOpenssl({"pkcs8", "-topk8", "-nocrypt", "-outform", "DER"}, key.out).out;
    struct Case {
        std::vector<std::string> args;
        const char* algorithm;
        const char* cipher;
        const char* hash;
        int keyBits;
    } cases[] = {
        {{"-v2", "aes-256-cbc", "-v2prf", "hmacWithSHA256"}, "pbes2", "aes", "sha256", 256},
        {{"-v2", "des3", "-v2prf", "hmacWithSHA1"}, "pbes2", "3des", "sha1", 192},
        {{"-v1", "PBE-MD5-DES", "-provider", "legacy", "-provider", "default"}, "pbes1", "des", "md5", 64},
        {{"-v1", "PBE-SHA1-RC2-64", "-provider", "legacy", "-provider", "default"}, "pbes1", "rc2", "sha1", 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> args{"pkcs8", "-topk8", "-outform", "DER", "-passout", "pass:s3cret", "-iter", "900"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        grvtest::RunResult sealed = runOpenssl(args, key.out);
        ASSERT_TRUE(sealed.Ok()) << sealed.err;
        const bool v2 = std::string(c.algorithm) == "pbes2";
        Pkcs8Parts parts = pkcs8Parts(sealed.out, v2);
        EXPECT_EQ(parts.iterations, 900);
        for (const char* password : {"s3cret", "wrong"}) {
            ClsCrypt crypt;
            crypt.setCryptAlgorithm(c.algorithm);
            crypt.setPassword(password);
            crypt.setSalt(*bufferOf(parts.salt));
            crypt.setIterationCount(parts.iterations);
            crypt.setPbesAlgorithm(c.cipher);
            crypt.setHashAlgorithm(c.hash);
            crypt.setKeyLength(c.keyBits);
            crypt.setRc2EffectiveKeyLength(c.keyBits);
            crypt.setIV(*bufferOf(parts.iv));
            DataBuffer out;
            bool ok = crypt.Decrypt(*bufferOf(parts.ciphertext), out);
            if (std::string(password) == "s3cret") {
                EXPECT_TRUE(ok) << logText(crypt.getLog());
                EXPECT_EQ(bytesOf(out), plain);
                // And back: the component's encryption is openssl's ciphertext.
                Logger log;
                DataBuffer again;
                ASSERT_TRUE(crypt.encryptBytesToDb(*bufferOf(plain), again, nullptr, log, false));
                EXPECT_EQ(bytesOf(again), parts.ciphertext);
            } else {
                EXPECT_NE(ok ? bytesOf(out) : "", plain);
            }
        }
    }
}

} // namespace
