// Key containers and certificate stores of the provider stand-in, judged by
// openssl: keys go in as `openssl rsa -outform MSBLOB` writes them and must
// come back byte for byte; stores give back the DER openssl makes of each
// certificate file, named by its `-fingerprint -sha1` thumbprint.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/CertStore.h"
#include "platform/CryptProv.h"
#include "platform/WinErr.h"
#include "tests/support/TestSupport.h"

using namespace platform;

namespace {

grvtest::Bytes openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunResult r = grvtest::RunProgram(argv);
    EXPECT_TRUE(r.Ok()) << r.err;
    return grvtest::Bytes(r.out.begin(), r.out.end());
}

std::string thumbprint(const std::string& certFile) {
    grvtest::Bytes out = openssl({"x509", "-in", certFile, "-noout", "-fingerprint", "-sha1"});
    std::string text(out.begin(), out.end()), hex;
    for (char ch : text.substr(text.find('=') + 1))
        if (std::isxdigit(static_cast<unsigned char>(ch)))
            hex += static_cast<char>(std::tolower(ch));
    return hex;
}

// A user and a machine root in temporary folders for the length of a test.
class CryptoRoots : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
        setenv("XDG_DATA_HOME", m_user.Path().c_str(), 1);
        m_oldMachine = MachineCryptoRoot();
        SetMachineCryptoRoot(m_machine.Path());
    }
    void TearDown() override {
        setenv("XDG_DATA_HOME", m_oldData.c_str(), 1);
        SetMachineCryptoRoot(m_oldMachine);
        EXPECT_EQ(CryptOpenContextCount(), 0);
        EXPECT_EQ(CryptOpenKeyCount(), 0);
        EXPECT_EQ(CertOpenContextCount(), 0);
    }
    // A fresh RSA key: its PEM file and its PRIVATEKEYBLOB.
    grvtest::Bytes newKeyBlob(const std::string& name, int bits) {
        std::string pem = m_work.File(name + ".pem");
        openssl({"genrsa", "-out", pem, std::to_string(bits)});
        return openssl({"rsa", "-in", pem, "-outform", "MSBLOB"});
    }
    grvtest::TempDir m_user{"user"}, m_machine{"machine"}, m_work{"work"};
    std::string m_oldMachine;
    std::string m_oldData;
};

using KeyContainers = CryptoRoots;

TEST_F(KeyContainers, KeysComeBackAsOpensslWroteThem) {
    struct Case {
        const char* container;
        DWORD flags;
        int bits;
        bool signature;
        bool exportable;
    } cases[] = {
        {"alpha", 0, 2048, false, true},
        {"beta", CRYPT_MACHINE_KEYSET, 1024, false, true},
        {"gamma", 0, 1024, true, true},
        {"delta", CRYPT_MACHINE_KEYSET, 1024, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.container);
        grvtest::Bytes blob = newKeyBlob(c.container, c.bits);
        if (c.signature)
            blob[5] = CALG_RSA_SIGN >> 8;
        HCRYPTPROV prov = 0;
        EXPECT_FALSE(CryptAcquireContextA(&prov, c.container, nullptr, PROV_RSA_FULL, c.flags));
        EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
        ASSERT_TRUE(CryptAcquireContextA(&prov, c.container, nullptr, PROV_RSA_FULL, c.flags | CRYPT_NEWKEYSET));
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0,
                                   c.exportable ? CRYPT_EXPORTABLE : 0, &key));
        ASSERT_TRUE(CryptDestroyKey(key));
        ASSERT_TRUE(CryptReleaseContext(prov, 0));
        EXPECT_TRUE(KeyContainerExists(c.container, c.flags));
        EXPECT_FALSE(KeyContainerExists(c.container, c.flags ^ CRYPT_MACHINE_KEYSET));

        HCRYPTPROV again = 0;
        EXPECT_FALSE(CryptAcquireContextA(&again, c.container, nullptr, PROV_RSA_FULL, c.flags | CRYPT_NEWKEYSET));
        EXPECT_EQ(GetLastError(), NTE_EXISTS);
        ASSERT_TRUE(CryptAcquireContextA(&again, c.container, kEnhancedCryptProvider, PROV_RSA_FULL, c.flags));
        DWORD other = c.signature ? AT_KEYEXCHANGE : AT_SIGNATURE;
        EXPECT_FALSE(CryptGetUserKey(again, other, &key));
        EXPECT_EQ(GetLastError(), NTE_NO_KEY);
        ASSERT_TRUE(CryptGetUserKey(again, c.signature ? AT_SIGNATURE : AT_KEYEXCHANGE, &key));
        DWORD size = 0;
        if (c.exportable) {
            ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
            grvtest::Bytes back(size);
            DWORD small = size - 1;
            EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, back.data(), &small));
            EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
            ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, back.data(), &size));
            EXPECT_EQ(back, blob);
        } else {
            EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
            EXPECT_EQ(GetLastError(), NTE_BAD_KEY_STATE);
        }
        // The public half comes out whether the key is exportable or not.
        ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
        grvtest::Bytes pub(size);
        ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, pub.data(), &size));
        grvtest::Bytes want =
            openssl({"rsa", "-in", m_work.File(std::string(c.container) + ".pem"), "-pubout", "-outform", "MSBLOB"});
        if (c.signature)
            want[5] = CALG_RSA_SIGN >> 8;
        EXPECT_EQ(pub, want);
        EXPECT_FALSE(CryptExportKey(key, 0, 1 /* SIMPLEBLOB */, 0, nullptr, &size));
        EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);
        EXPECT_TRUE(CryptDestroyKey(key));
        EXPECT_FALSE(CryptDestroyKey(key));
        EXPECT_TRUE(CryptReleaseContext(again, 0));
    }
}

// A private key is for its owner's eyes only, whatever the umask: the key
// file and its container folder give no one else any access.
TEST_F(KeyContainers, KeyFilesAreTheOwnersAlone) {
    const mode_t old = umask(0);
    struct Case {
        const char* container;
        DWORD flags;
        std::string root;
    } cases[] = {{"mine", 0, UserCryptoRoot()}, {"shared", CRYPT_MACHINE_KEYSET, MachineCryptoRoot()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.container);
        grvtest::Bytes blob = newKeyBlob(c.container, 1024);
        HCRYPTPROV prov = 0;
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptAcquireContextA(&prov, c.container, nullptr, PROV_RSA_FULL, c.flags | CRYPT_NEWKEYSET));
        ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key));
        CryptDestroyKey(key);
        CryptReleaseContext(prov, 0);
        const std::string folder = c.root + "/keys/" + c.container;
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            ++files;
            EXPECT_EQ(entry.status().permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
                << entry.path();
        }
        EXPECT_EQ(files, 2) << "the key and its not-exportable mark";
        EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_all);
    }
    umask(old);
}

TEST_F(KeyContainers, DamagedBlobsAndNamesAreRefused) {
    grvtest::Bytes blob = newKeyBlob("k", 1024);
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    std::vector<grvtest::Bytes> bad{grvtest::Bytes(blob.begin(), blob.end() - 1),
                                    grvtest::Bytes(blob.begin(), blob.begin() + 12)};
    bad.push_back(blob), bad.back()[0] = 6;     // public key blob
    bad.push_back(blob), bad.back()[8] = 'X';   // not "RSA2"
    bad.push_back(blob), bad.back()[5] = 0x66;  // not an RSA algorithm
    bad.push_back(blob), bad.back()[13] = 0x7F; // bit length beyond the data
    for (const auto& b : bad) {
        HCRYPTKEY key = 0;
        EXPECT_FALSE(CryptImportKey(prov, b.data(), static_cast<DWORD>(b.size()), 0, CRYPT_EXPORTABLE, &key));
        EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
    }
    EXPECT_TRUE(KeyContainerExists(kDefaultKeyContainer, 0));
    EXPECT_TRUE(CryptReleaseContext(prov, 0));
    for (const char* name : {"..", "a/b", "."}) {
        EXPECT_FALSE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET)) << name;
        EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
    }
}

TEST_F(KeyContainers, ProviderParametersAndAlgorithms) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, "box", kAesCryptProvider, PROV_RSA_AES, CRYPT_NEWKEYSET));
    char text[200];
    DWORD n = sizeof text;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(text), &n, 0));
    EXPECT_STREQ(text, "box");
    n = sizeof text;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_NAME, reinterpret_cast<BYTE*>(text), &n, 0));
    EXPECT_STREQ(text, kAesCryptProvider);
    std::vector<std::string> names;
    PROV_ENUMALGS alg;
    for (DWORD flag = CRYPT_FIRST;; flag = 0) {
        n = sizeof alg;
        if (!CryptGetProvParam(prov, PP_ENUMALGS, reinterpret_cast<BYTE*>(&alg), &n, flag))
            break;
        EXPECT_EQ(alg.dwNameLen, std::string(alg.szName).size() + 1);
        names.push_back(alg.szName);
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names.front(), "RC2");
    EXPECT_EQ(names.back(), "SHA-512");
    EXPECT_TRUE(CryptReleaseContext(prov, 0));

    std::vector<std::string> providers;
    DWORD type = 0;
    for (DWORD i = 0;; ++i) {
        n = sizeof text;
        if (!CryptEnumProvidersA(i, nullptr, 0, &type, text, &n))
            break;
        providers.push_back(text);
        HCRYPTPROV p = 0;
        EXPECT_TRUE(CryptAcquireContextA(&p, nullptr, text, type, CRYPT_VERIFYCONTEXT)) << text;
        EXPECT_TRUE(CryptReleaseContext(p, 0));
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(providers.size(), 4u);
}

using CertStores = CryptoRoots;

TEST_F(CertStores, FoldersOfDerAndPemFiles) {
    // Two certificates in the user's MY store (one DER, one PEM with a key
    // sidecar), one in the machine's CA store.
    struct Cert {
        const char* name;
        DWORD location;
        const char* store;
        bool pem;
        bool withKey;
    } certs[] = {
        {"one", CERT_SYSTEM_STORE_CURRENT_USER, "MY", false, false},
        {"two", CERT_SYSTEM_STORE_CURRENT_USER, "MY", true, true},
        {"three", CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA", true, false},
    };
    std::vector<grvtest::Bytes> ders;
    grvtest::Bytes keyBlob;
    for (const auto& c : certs) {
        std::string key = m_work.File(std::string(c.name) + ".key"), pem = m_work.File(std::string(c.name) + ".crt");
        openssl({"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", key, "-out", pem, "-subj",
                 std::string("/CN=") + c.name, "-days", "30"});
        ders.push_back(openssl({"x509", "-in", pem, "-outform", "DER"}));
        std::string folder = CertStoreFolder(CERT_STORE_PROV_SYSTEM_W, c.location, c.store);
        HCERTSTORE made = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, c.location, c.store);
        ASSERT_NE(made, nullptr);
        CertCloseStore(made, 0);
        std::string base = folder + "/" + thumbprint(pem);
        ASSERT_TRUE(c.pem ? grvtest::WriteFile(base + ".crt", grvtest::ReadFile(pem))
                          : grvtest::WriteFile(base + ".cer", ders.back()));
        if (c.withKey) {
            keyBlob = openssl({"rsa", "-in", key, "-outform", "MSBLOB"});
            HCRYPTPROV prov = 0;
            HCRYPTKEY k = 0;
            ASSERT_TRUE(CryptAcquireContextA(&prov, "twokey", nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
            ASSERT_TRUE(
                CryptImportKey(prov, keyBlob.data(), static_cast<DWORD>(keyBlob.size()), 0, CRYPT_EXPORTABLE, &k));
            CryptDestroyKey(k);
            CryptReleaseContext(prov, 0);
            ASSERT_TRUE(grvtest::WriteFile(base + kKeyProvSuffix, "container=twokey\ntype=1\nflags=0\nkeyspec=1\n"));
        }
    }
    auto contents = [](HCERTSTORE store) {
        std::vector<grvtest::Bytes> out;
        for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c;
             c = CertEnumCertificatesInStore(store, c))
            out.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
        EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
        return out;
    };
    HCERTSTORE my =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, "MY");
    ASSERT_NE(my, nullptr);
    std::vector<grvtest::Bytes> mine = contents(my);
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_TRUE((mine[0] == ders[0] && mine[1] == ders[1]) || (mine[0] == ders[1] && mine[1] == ders[0]));

    // The key-provider property leads to the key openssl wrote.
    int withKey = 0;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(my, nullptr); c; c = CertEnumCertificatesInStore(my, c)) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
            HCRYPTPROV none = 0;
            EXPECT_FALSE(CryptAcquireCertificatePrivateKey(c, 0, nullptr, &none, nullptr, nullptr));
            EXPECT_EQ(GetLastError(), CRYPT_E_NO_KEY_PROPERTY);
            continue;
        }
        ++withKey;
        std::vector<BYTE> buf(size);
        ASSERT_TRUE(CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buf.data(), &size));
        auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buf.data());
        EXPECT_STREQ(info->pwszContainerName, "twokey");
        EXPECT_EQ(info->dwKeySpec, AT_KEYEXCHANGE);
        HCRYPTPROV prov = 0;
        DWORD keyKind = 0;
        BOOL mustFree = FALSE;
        ASSERT_TRUE(CryptAcquireCertificatePrivateKey(c, 0, nullptr, &prov, &keyKind, &mustFree));
        EXPECT_TRUE(mustFree);
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptGetUserKey(prov, keyKind, &key));
        DWORD n = static_cast<DWORD>(keyBlob.size());
        grvtest::Bytes back(n);
        EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, back.data(), &n));
        EXPECT_EQ(back, keyBlob);
        CryptDestroyKey(key);
        CryptReleaseContext(prov, 0);
    }
    EXPECT_EQ(withKey, 1);
    EXPECT_TRUE(CertCloseStore(my, CERT_CLOSE_STORE_CHECK_FLAG));

    HCERTSTORE ca = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA");
    ASSERT_NE(ca, nullptr);
    EXPECT_EQ(contents(ca), std::vector<grvtest::Bytes>{ders[2]});
    CertCloseStore(ca, 0);
    HCERTSTORE userCa = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER, "CA");
    ASSERT_NE(userCa, nullptr);
    EXPECT_TRUE(contents(userCa).empty());
    CertCloseStore(userCa, 0);
}

TEST_F(CertStores, MachineRootHoldsTheSystemBundle) {
    grvtest::Bytes said = openssl({"storeutl", "-noout", "-certs", kSystemCaBundle});
    std::string text(said.begin(), said.end());
    std::size_t at = text.find("Total found: ");
    ASSERT_NE(at, std::string::npos) << text;
    int expected = std::atoi(text.c_str() + at + 13);
    ASSERT_GT(expected, 0);
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, "ROOT");
    ASSERT_NE(root, nullptr);
    int count = 0;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(root, nullptr); c; c = CertEnumCertificatesInStore(root, c))
        ++count;
    EXPECT_EQ(count, expected);
    CertCloseStore(root, 0);
    HCERTSTORE userRoot =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, "ROOT");
    ASSERT_NE(userRoot, nullptr);
    EXPECT_EQ(CertEnumCertificatesInStore(userRoot, nullptr), nullptr);
    CertCloseStore(userRoot, 0);
}

TEST(CertificateContexts, OnlyWholeDerSequencesAreTaken) {
    struct Case {
        std::string bytes;
        DWORD error;
    } cases[] = {
        {std::string("\x30\x03\x02\x01\x05", 5), 0},
        {std::string("\x30\x81\x03\x02\x01\x05", 6), 0},
        {std::string("\x30\x04\x02\x01\x05", 5), CRYPT_E_ASN1_EOD},
        {std::string("\x30\x02\x02\x01\x05", 5), CRYPT_E_ASN1_EOD},
        {std::string("\x30\x85\x01\x00\x00\x00\x00", 7), CRYPT_E_ASN1_EOD},
        {std::string("\x04\x01\x00", 3), CRYPT_E_ASN1_BADTAG},
    };
    for (const auto& c : cases) {
        PCCERT_CONTEXT ctx = CertCreateCertificateContext(
            X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(c.bytes.data()), static_cast<DWORD>(c.bytes.size()));
        EXPECT_EQ(ctx != nullptr, c.error == 0) << grvtest::ToHex(c.bytes);
        if (ctx)
            EXPECT_TRUE(CertFreeCertificateContext(ctx));
        else
            EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(CertStores, RegistryStoresNeedTheirFolder) {
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_REG, CERT_SYSTEM_STORE_CURRENT_USER, "Software/Certs"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    for (const char* bad : {"../x", "a//b", "/abs", ""}) {
        EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_REG, CERT_SYSTEM_STORE_CURRENT_USER, bad), nullptr) << bad;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    std::string folder = CertStoreFolder(CERT_STORE_PROV_REG, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Software/Certs");
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(grvtest::WriteFile(folder + "/junk.cer", "not a certificate"));
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_REG, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Software/Certs");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr), nullptr);
    EXPECT_TRUE(CertCloseStore(store, 0));
    EXPECT_FALSE(CertCloseStore(store, 0));
}

} // namespace
