#include "netlib/pki/SystemCerts.h"

#include <cstring>
#include <memory>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {

// The stores in the order they are searched.
struct StoreSlot {
    const char* name;
    CertificateStore* (*open)(LogBase& log);
};

constexpr StoreSlot kSlots[SystemCerts::kStoreCount] = {
    {"MY current-user", [](LogBase& log) { return CertificateStore::openCurrentUserMyStore(true, &log); }},
    {"MY local-machine", [](LogBase& log) { return CertificateStore::openLocalMachineMyStore(true, &log); }},
    {"AddressBook current-user",
     [](LogBase& log) { return CertificateStore::openCurrentUserRegistryStore(kAddressBookPath, true, &log); }},
    {"AddressBook local-machine",
     [](LogBase& log) { return CertificateStore::openLocalMachineRegistryStore(kAddressBookPath, true, &log); }},
    {"CA current-user", [](LogBase& log) { return CertificateStore::openCurrentUserCaStore(true, &log); }},
    {"CA local-machine", [](LogBase& log) { return CertificateStore::openLocalMachineCaStore(true, &log); }},
    {"ROOT current-user", [](LogBase& log) { return CertificateStore::openCurrentUserRootStore(true, &log); }},
    {"ROOT local-machine", [](LogBase& log) { return CertificateStore::openLocalMachineRootStore(true, &log); }},
};

} // namespace

SystemCerts::SystemCerts() = default;
SystemCerts::~SystemCerts() = default;

CertificateStore* SystemCerts::storeAt(int index, LogBase& log) {
    if (!m_stores[index])
        m_stores[index].reset(kSlots[index].open(log));
    return m_stores[index].get();
}

void SystemCerts::searchStoresById(const CertificateId& id, bool needPrivateKey, bool skipKeyAccess,
                                   bool& keyInaccessible, std::vector<std::unique_ptr<Certificate>>& out, LogBase& log,
                                   bool verbose) {
    keyInaccessible = false;
    if (verbose) {
        log.enterContext("SearchRegistryCertificateStores", true);
        if (id.byKeyId) {
            log.logDataHex("subjectKeyId", id.keyId.data(), static_cast<unsigned int>(id.keyId.size()));
        } else {
            log.logDataHex("certSerialNumber", id.serial.data(), static_cast<unsigned int>(id.serial.size()));
            log.logDataHex("certIssuer", id.issuer.data(), static_cast<unsigned int>(id.issuer.size()));
        }
        log.logDataLong("needPrivateKey", needPrivateKey ? 1 : 0);
    }
    LogNull quiet;
    for (int i = 0; i < kStoreCount; ++i) {
        // Each pair opens just before its first visit.
        if (i % 2 == 0) {
            storeAt(i, log);
            storeAt(i + 1, log);
        }
        CertificateStore* store = m_stores[i].get();
        if (!store)
            continue;
        bool matched = false;
        for (platform::PCCERT_CONTEXT c = nextCertificateWithId(store->handle(), id, nullptr); c;
             c = nextCertificateWithId(store->handle(), id, c)) {
            matched = true;
            auto match = std::make_unique<MsCertificate>(c, quiet, true);
            bool usable = !needPrivateKey;
            if (needPrivateKey) {
                if (!match->hasPrivateKey(log)) {
                    log.logError(systemcerts_msg::kNoKeyAvailable);
                } else {
                    match->logKeyProviderInfo(log);
                    DataBuffer scratch;
                    bool inaccessible = false;
                    usable = match->exportPrivateKeyDer(skipKeyAccess, scratch, inaccessible, log);
                    keyInaccessible = keyInaccessible || inaccessible;
                    scratch.secureClear();
                    if (!usable)
                        log.logInfo(systemcerts_msg::kNoKeyAccessible);
                }
            }
            if (!usable)
                continue;
            if (verbose)
                log.logInfo((std::string("Found match in ") + kSlots[i].name + " certificate store.").c_str());
            if (Certificate* found = Certificate::createFromMsCertificate(match.release(), skipKeyAccess, log))
                out.emplace_back(found);
        }
        if (!matched && verbose)
            log.logInfo((std::string("No match found in ") + kSlots[i].name + " certificate store.").c_str());
    }
    if (verbose)
        log.leaveContext();
}

Certificate* SystemCerts::searchStoresBySubjectKeyId(const char* subjectKeyId, bool needPrivateKey, bool skipKeyAccess,
                                                     bool& keyInaccessible, LogBase& log, bool verbose) {
    CertificateId id;
    id.byKeyId = true;
    const char* text = subjectKeyId ? subjectKeyId : "";
    DataBuffer bytes;
    ContentCoding::decodeBase64(text, static_cast<unsigned int>(std::strlen(text)), bytes);
    id.keyId.assign(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
    std::vector<std::unique_ptr<Certificate>> found;
    searchStoresById(id, needPrivateKey, skipKeyAccess, keyInaccessible, found, log, verbose);
    return found.empty() ? nullptr : found.front().release();
}

bool SystemCerts::privateKeyOf(Certificate& found, DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible,
                               LogBase& log) {
    keyDer.clear();
    bool ok = found.getPrivateKeyDerAnySpec(keyDer, keyInaccessible, log);
    if (!ok) {
        log.logError(systemcerts_msg::kNoPrivateKey);
    } else if (certDer) {
        certDer->clear();
        ok = found.getDer(*certDer, log);
    }
    return ok;
}

bool SystemCerts::findPrivateKeyBySubjectKeyId(const char* subjectKeyId, DataBuffer& keyDer, DataBuffer* certDer,
                                               bool& keyInaccessible, LogBase& log, bool verbose) {
    keyInaccessible = false;
    keyDer.clear();
    std::unique_ptr<Certificate> found(
        searchStoresBySubjectKeyId(subjectKeyId, true, false, keyInaccessible, log, verbose));
    return found && privateKeyOf(*found, keyDer, certDer, keyInaccessible, log);
}

namespace {

// Each certificate of the stores with a private key, in store order, until
// take says it has enough.
template <typename Open, typename Take>
void eachCertificateWithKey(Open open, Take take) {
    LogNull quiet;
    for (int i = 0; i < SystemCerts::kStoreCount; ++i) {
        CertificateStore* store = open(i);
        if (!store)
            continue;
        for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(store->handle(), nullptr); c;
             c = platform::CertEnumCertificatesInStore(store->handle(), c)) {
            auto candidate = std::make_unique<MsCertificate>(c, quiet, true);
            if (!candidate->hasPrivateKey(quiet))
                continue;
            std::unique_ptr<Certificate> found(Certificate::createFromMsCertificate(candidate.release(), false, quiet));
            if (found && !take(std::move(found))) {
                platform::CertFreeCertificateContext(c);
                return;
            }
        }
    }
}

} // namespace

void SystemCerts::certificatesWithKeys(std::vector<std::unique_ptr<Certificate>>& out, LogBase& log) {
    eachCertificateWithKey([&](int i) { return storeAt(i, log); },
                           [&](std::unique_ptr<Certificate> found) {
                               out.push_back(std::move(found));
                               return true;
                           });
}

bool SystemCerts::findFirstPrivateKey(DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible, LogBase& log) {
    keyInaccessible = false;
    keyDer.clear();
    std::unique_ptr<Certificate> first;
    eachCertificateWithKey([&](int i) { return storeAt(i, log); },
                           [&](std::unique_ptr<Certificate> found) {
                               first = std::move(found);
                               return false;
                           });
    return first && privateKeyOf(*first, keyDer, certDer, keyInaccessible, log);
}

} // namespace tessik
