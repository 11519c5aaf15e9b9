// The system store search over temporary user and machine roots: the order
// of the eight stores, every certificate that bears the name found (a copy
// without a key hides none with one), and private keys as openssl wrote them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/SystemCerts.h"
#include "platform/CertStore.h"
#include "platform/CryptProv.h"

using namespace tessik;
using pkitest::bytesOf;
using pkitest::logText;
using pkitest::openssl;

namespace {

constexpr DWORD kUser = platform::CERT_SYSTEM_STORE_CURRENT_USER;
constexpr DWORD kMachine = platform::CERT_SYSTEM_STORE_LOCAL_MACHINE;

class SystemStores : public pkitest::PkiRoots {
protected:
    // A copy of the certificate in a store, system or address book.
    void put(const std::string& name, DWORD location, const char* store) {
        std::string pem = m_work.File(name + ".crt");
        if (std::string(store) != "AddressBook") {
            addToStore(pem, location, store);
            return;
        }
        std::string folder = platform::CertStoreFolder(platform::CERT_STORE_PROV_REG, location, kAddressBookPath);
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(grvtest::WriteFile(folder + "/" + name + "-" + std::to_string(++m_copies) + ".crt",
                                       grvtest::ReadFile(pem)));
    }
    // How a message names the certificate: its issuer and serial.
    CertificateId idOf(const std::string& name) {
        std::unique_ptr<CertificateFields> fields =
            readCertificateFields(pkitest::certificateDer(m_work.File(name + ".crt")));
        CertificateId id;
        EXPECT_TRUE(fields) << name;
        if (fields) {
            id.issuer = fields->issuer;
            id.serial = fields->serial;
        }
        return id;
    }
    // The certificates of the search, as DER.
    std::vector<std::string> search(SystemCerts& stores, const CertificateId& id, bool needKey, bool skipKeyAccess,
                                    bool& inaccessible, Logger& log, bool verbose) {
        std::vector<std::unique_ptr<Certificate>> found;
        stores.searchStoresById(id, needKey, skipKeyAccess, inaccessible, found, log, verbose);
        std::vector<std::string> ders;
        for (const auto& cert : found) {
            DataBuffer der;
            EXPECT_TRUE(cert->getDer(der, log));
            ders.push_back(bytesOf(der));
        }
        return ders;
    }
    int m_copies = 0;
};

TEST_F(SystemStores, SearchOrderIsMyAddressBookCaRootUserBeforeMachine) {
    struct Place {
        DWORD location;
        const char* store;
        const char* name;
    };
    const Place order[] = {
        {kUser, "MY", "MY current-user"},
        {kMachine, "MY", "MY local-machine"},
        {kUser, "AddressBook", "AddressBook current-user"},
        {kMachine, "AddressBook", "AddressBook local-machine"},
        {kUser, "CA", "CA current-user"},
        {kMachine, "CA", "CA local-machine"},
        {kUser, "ROOT", "ROOT current-user"},
        {kMachine, "ROOT", "ROOT local-machine"},
    };
    // One certificate per store, each also in every store after it: the
    // search for the n-th finds it in its own store, after n "No match" lines.
    for (int n = 0; n < 8; ++n) {
        std::string name = "c" + std::to_string(n);
        makeCert(name, {"-subj", "/CN=" + name, "-set_serial", std::to_string(100 + n)});
        for (int at = n; at < 8; ++at)
            put(name, order[at].location, order[at].store);
    }
    SystemCerts stores;
    for (int n = 0; n < 8; ++n) {
        SCOPED_TRACE(order[n].name);
        std::string name = "c" + std::to_string(n);
        Logger log;
        bool inaccessible = true;
        std::vector<std::string> found = search(stores, idOf(name), false, true, inaccessible, log, true);
        // Its own store's copy first, then one in each store after it.
        ASSERT_EQ(found.size(), static_cast<std::size_t>(8 - n)) << logText(log);
        EXPECT_EQ(found[0], pkitest::certificateDer(m_work.File(name + ".crt")));
        EXPECT_FALSE(inaccessible);
        std::string text = logText(log);
        EXPECT_NE(text.find(std::string("Found match in ") + order[n].name + " certificate store."), std::string::npos)
            << text;
        for (int before = 0; before < 8; ++before) {
            bool said = text.find(std::string("No match found in ") + order[before].name + " certificate store.") !=
                        std::string::npos;
            EXPECT_EQ(said, before < n) << order[before].name;
        }
    }
    // Another issuer of the same serial is another certificate.
    makeCert("c9", {"-subj", "/CN=c9", "-set_serial", "100"});
    Logger log;
    bool inaccessible = false;
    CertificateId other = idOf("c9");
    EXPECT_TRUE(search(stores, other, false, true, inaccessible, log, true).empty());
    EXPECT_NE(logText(log).find("No match found in ROOT local-machine certificate store."), std::string::npos);
}

TEST_F(SystemStores, AKeylessCopyDoesNotHideOneWithAKey) {
    // In MY current-user without a key, in MY local-machine with one.
    makeCert("both", {"-subj", "/CN=both", "-set_serial", "0x42"});
    put("both", kUser, "MY");
    std::string want = addWithKey("both", kMachine, "MY", "both-box", platform::CRYPT_MACHINE_KEYSET, true);
    SystemCerts stores;
    struct Case {
        bool needKey;
        bool verbose;
        std::size_t found;
    } cases[] = {{true, true, 1}, {true, false, 1}, {false, true, 2}, {false, false, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.needKey ? "need key" : "no key needed") + (c.verbose ? ", verbose" : ""));
        Logger log;
        bool inaccessible = true;
        std::vector<std::unique_ptr<Certificate>> found;
        stores.searchStoresById(idOf("both"), c.needKey, false, inaccessible, found, log, c.verbose);
        ASSERT_EQ(found.size(), c.found);
        std::string text = logText(log);
        EXPECT_EQ(text.find(systemcerts_msg::kNoKeyAvailable) != std::string::npos, c.needKey);
        EXPECT_EQ(text.find("SearchRegistryCertificateStores") != std::string::npos, c.verbose);
        EXPECT_EQ(text.find("Found match in MY local-machine") != std::string::npos, c.verbose);
        EXPECT_EQ(text.find("Found match in MY current-user") != std::string::npos, c.verbose && !c.needKey);
        // The copy with the key comes last, and only it has one.
        EXPECT_TRUE(found.back()->hasStoredPrivateKey());
        if (c.found == 2) {
            EXPECT_FALSE(found.front()->hasStoredPrivateKey());
        }
    }
    Logger log;
    bool inaccessible = false;
    std::vector<std::unique_ptr<Certificate>> found;
    stores.searchStoresById(idOf("both"), true, false, inaccessible, found, log, true);
    ASSERT_EQ(found.size(), 1u);
    DataBuffer key, cert;
    ASSERT_TRUE(stores.privateKeyOf(*found[0], key, &cert, inaccessible, log)) << logText(log);
    EXPECT_EQ(bytesOf(key), want);
    EXPECT_EQ(bytesOf(cert), pkitest::certificateDer(m_work.File("both.crt")));
}

TEST_F(SystemStores, PrivateKeysBySubjectKeyIdAndLockedKeys) {
    makeCert("open", {"-subj", "/CN=open", "-set_serial", "0x51"});
    makeCert("locked", {"-subj", "/CN=locked", "-set_serial", "0x52"});
    std::string want = addWithKey("open", kUser, "MY", "open-box", 0, true);
    addWithKey("locked", kUser, "MY", "locked-box", 0, false);
    auto keyIdOf = [&](const std::string& name) {
        LogNull quiet;
        std::string der = pkitest::certificateDer(m_work.File(name + ".crt"));
        std::unique_ptr<Certificate> c(Certificate::createFromBytes(
            reinterpret_cast<const unsigned char*>(der.data()), static_cast<std::uint32_t>(der.size()), quiet, false));
        DataBuffer id;
        EXPECT_TRUE(c && c->getSubjectKeyId(id, quiet));
        std::string hex = pkitest::toHex(id);
        grvtest::RunResult b64 =
            grvtest::Python("import base64,sys; print(base64.b64encode(bytes.fromhex(sys.argv[1])).decode())", {hex});
        EXPECT_TRUE(b64.Ok()) << b64.err;
        return b64.out.substr(0, b64.out.find('\n'));
    };
    SystemCerts search;
    Logger log;
    DataBuffer key, cert;
    bool inaccessible = true;
    ASSERT_TRUE(search.findPrivateKeyBySubjectKeyId(keyIdOf("open").c_str(), key, &cert, inaccessible, log, true))
        << logText(log);
    EXPECT_EQ(bytesOf(key), want);
    EXPECT_FALSE(inaccessible);
    EXPECT_EQ(bytesOf(cert), pkitest::certificateDer(m_work.File("open.crt")));

    // A key that may not be exported: false, even with the certificate asked for.
    EXPECT_FALSE(search.findPrivateKeyBySubjectKeyId(keyIdOf("locked").c_str(), key, &cert, inaccessible, log, true));
    EXPECT_TRUE(inaccessible);
    EXPECT_EQ(key.getSize(), 0u);
    EXPECT_NE(logText(log).find(systemcerts_msg::kNoKeyAccessible), std::string::npos);
    std::vector<std::unique_ptr<Certificate>> found;
    search.searchStoresById(idOf("locked"), true, false, inaccessible, found, log, false);
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(inaccessible);
    // Skipping key access finds the certificate and says the key is out of reach.
    search.searchStoresById(idOf("locked"), true, true, inaccessible, found, log, false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(inaccessible);
    EXPECT_FALSE(found[0]->hasStoredPrivateKey());
}

} // namespace
