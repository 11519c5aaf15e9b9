// The system store search over temporary user and machine roots: the order
// of the eight stores, the rule that the first match ends the search, and
// private keys as openssl wrote them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PkiTestSupport.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Certificate.h"
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
    SystemCerts search;
    for (int n = 0; n < 8; ++n) {
        SCOPED_TRACE(order[n].name);
        std::string name = "c" + std::to_string(n);
        char serial[8];
        std::snprintf(serial, sizeof serial, "%02x", 100 + n);
        Logger log;
        bool inaccessible = true;
        std::unique_ptr<Certificate> found(
            search.searchStoresBySerialAndIssuer(serial, name.c_str(), false, true, inaccessible, log, true));
        ASSERT_TRUE(found) << logText(log);
        EXPECT_FALSE(inaccessible);
        std::string text = logText(log);
        EXPECT_NE(text.find(std::string("Found match in ") + order[n].name + " certificate store."), std::string::npos)
            << text;
        for (int before = 0; before < 8; ++before) {
            bool said = text.find(std::string("No match found in ") + order[before].name + " certificate store.") !=
                        std::string::npos;
            EXPECT_EQ(said, before < n) << order[before].name;
        }
        DataBuffer der;
        EXPECT_TRUE(search.findCertBySerialAndIssuer(serial, name.c_str(), der, log, false));
        EXPECT_EQ(bytesOf(der), pkitest::certificateDer(m_work.File(name + ".crt")));
    }
    Logger log;
    DataBuffer der;
    EXPECT_FALSE(search.findCertBySerialAndIssuer("99", "nobody", der, log, true));
    EXPECT_NE(logText(log).find("No match found in ROOT local-machine certificate store."), std::string::npos);
}

TEST_F(SystemStores, TheFirstMatchDecidesEvenWithoutAKey) {
    // In MY current-user without a key, in MY local-machine with one.
    makeCert("both", {"-subj", "/CN=both", "-set_serial", "0x42"});
    put("both", kUser, "MY");
    std::string want = addWithKey("both", kMachine, "MY", "both-box", platform::CRYPT_MACHINE_KEYSET, true);
    SystemCerts search;
    struct Case {
        bool needKey;
        bool verbose;
        bool found;
    } cases[] = {{true, true, false}, {true, false, false}, {false, true, true}, {false, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.needKey ? "need key" : "no key needed") + (c.verbose ? ", verbose" : ""));
        Logger log;
        bool inaccessible = true;
        std::unique_ptr<Certificate> found(
            search.searchStoresBySerialAndIssuer("42", "both", c.needKey, false, inaccessible, log, c.verbose));
        EXPECT_EQ(found != nullptr, c.found);
        std::string text = logText(log);
        EXPECT_EQ(text.find(systemcerts_msg::kNoKeyAvailable) != std::string::npos, c.needKey);
        EXPECT_EQ(text.find("SearchRegistryCertificateStores") != std::string::npos, c.verbose);
        EXPECT_EQ(text.find("Found match in") != std::string::npos, c.verbose && c.found);
        if (found) {
            EXPECT_FALSE(found->hasStoredPrivateKey());
        }
    }
    DataBuffer key;
    bool inaccessible = false;
    Logger log;
    EXPECT_FALSE(search.findPrivateKeyBySerialAndIssuer("42", "both", key, nullptr, inaccessible, log, false));
    // Without the key-less copy the machine's answers.
    std::filesystem::remove_all(platform::CertStoreFolder(platform::CERT_STORE_PROV_SYSTEM_W, kUser, "MY"));
    SystemCerts fresh;
    DataBuffer cert;
    ASSERT_TRUE(fresh.findPrivateKeyBySerialAndIssuer("42", "both", key, &cert, inaccessible, log, true))
        << logText(log);
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
    EXPECT_FALSE(search.findPrivateKeyBySerialAndIssuer("52", "locked", key, &cert, inaccessible, log, false));
    // Skipping key access finds the certificate and says the key is out of reach.
    std::unique_ptr<Certificate> skipped(
        search.searchStoresBySerialAndIssuer("52", "locked", true, true, inaccessible, log, false));
    ASSERT_TRUE(skipped);
    EXPECT_TRUE(inaccessible);
    EXPECT_FALSE(skipped->hasStoredPrivateKey());
}

} // namespace
