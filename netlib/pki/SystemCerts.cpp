#include "netlib/pki/SystemCerts.h"

#include <memory>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/MsCertificate.h"

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

struct SystemCerts::Query {
    const char* serial = nullptr;
    const char* issuerCN = nullptr;
    const char* subjectKeyId = nullptr;
};

SystemCerts::SystemCerts() = default;
SystemCerts::~SystemCerts() = default;

CertificateStore* SystemCerts::storeAt(int index, LogBase& log) {
    if (!m_stores[index])
        m_stores[index].reset(kSlots[index].open(log));
    return m_stores[index].get();
}

Certificate* SystemCerts::searchStores(const Query& query, bool needPrivateKey, bool skipKeyAccess,
                                       bool& keyInaccessible, LogBase& log, bool verbose) {
    keyInaccessible = false;
    if (verbose) {
        log.enterContext("SearchRegistryCertificateStores", true);
        if (query.subjectKeyId) {
            log.logData("subjectKeyId", query.subjectKeyId);
        } else {
            log.logData("certSerialNumber", query.serial);
            log.logData("certIssuerCN", query.issuerCN);
        }
        log.logDataLong("needPrivateKey", needPrivateKey ? 1 : 0);
    }
    Certificate* result = nullptr;
    for (int i = 0; i < kStoreCount; ++i) {
        // Each pair opens just before its first visit.
        if (i % 2 == 0) {
            storeAt(i, log);
            storeAt(i + 1, log);
        }
        CertificateStore* store = m_stores[i].get();
        if (!store)
            continue;
        MsCertificate* match = query.subjectKeyId
                                   ? store->findCertBySubjectKeyId(query.subjectKeyId, log)
                                   : store->FindCertBySerialAndIssuerCN(query.serial, query.issuerCN, log, verbose);
        if (!match) {
            if (verbose)
                log.logInfo((std::string("No match found in ") + kSlots[i].name + " certificate store.").c_str());
            continue;
        }
        bool usable = !needPrivateKey;
        if (needPrivateKey) {
            if (!match->hasPrivateKey(log)) {
                log.logError(systemcerts_msg::kNoKeyAvailable);
            } else {
                match->logKeyProviderInfo(log);
                DataBuffer scratch;
                usable = match->exportPrivateKeyDer(skipKeyAccess, scratch, keyInaccessible, log);
                scratch.secureClear();
                if (!usable)
                    log.logInfo(systemcerts_msg::kNoKeyAccessible);
            }
        }
        if (usable) {
            if (verbose)
                log.logInfo((std::string("Found match in ") + kSlots[i].name + " certificate store.").c_str());
            result = Certificate::createFromMsCertificate(match, skipKeyAccess, log);
        } else {
            delete match;
        }
        // A match ends the search, usable or not.
        break;
    }
    if (verbose)
        log.leaveContext();
    return result;
}

Certificate* SystemCerts::searchStoresBySerialAndIssuer(const char* serial, const char* issuerCN, bool needPrivateKey,
                                                        bool skipKeyAccess, bool& keyInaccessible, LogBase& log,
                                                        bool verbose) {
    Query query;
    query.serial = serial ? serial : "";
    query.issuerCN = issuerCN ? issuerCN : "";
    return searchStores(query, needPrivateKey, skipKeyAccess, keyInaccessible, log, verbose);
}

Certificate* SystemCerts::searchStoresBySubjectKeyId(const char* subjectKeyId, bool needPrivateKey, bool skipKeyAccess,
                                                     bool& keyInaccessible, LogBase& log, bool verbose) {
    Query query;
    query.subjectKeyId = subjectKeyId ? subjectKeyId : "";
    return searchStores(query, needPrivateKey, skipKeyAccess, keyInaccessible, log, verbose);
}

bool SystemCerts::privateKeyOf(Certificate* found, DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible,
                               LogBase& log) {
    if (!found)
        return false;
    bool ok = found->getPrivateKeyDerAnySpec(keyDer, keyInaccessible, log);
    if (!ok) {
        log.logError(systemcerts_msg::kNoPrivateKey);
    } else if (certDer) {
        certDer->clear();
        ok = found->getDer(*certDer, log);
    }
    delete found;
    return ok;
}

bool SystemCerts::findPrivateKeyBySerialAndIssuer(const char* serial, const char* issuerCN, DataBuffer& keyDer,
                                                  DataBuffer* certDer, bool& keyInaccessible, LogBase& log,
                                                  bool verbose) {
    keyInaccessible = false;
    keyDer.clear();
    Certificate* found = searchStoresBySerialAndIssuer(serial, issuerCN, true, false, keyInaccessible, log, verbose);
    return privateKeyOf(found, keyDer, certDer, keyInaccessible, log);
}

bool SystemCerts::findPrivateKeyBySubjectKeyId(const char* subjectKeyId, DataBuffer& keyDer, DataBuffer* certDer,
                                               bool& keyInaccessible, LogBase& log, bool verbose) {
    keyInaccessible = false;
    keyDer.clear();
    Certificate* found = searchStoresBySubjectKeyId(subjectKeyId, true, false, keyInaccessible, log, verbose);
    return privateKeyOf(found, keyDer, certDer, keyInaccessible, log);
}

bool SystemCerts::findFirstPrivateKey(DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible, LogBase& log) {
    keyInaccessible = false;
    keyDer.clear();
    LogNull quiet;
    for (int i = 0; i < kStoreCount; ++i) {
        CertificateStore* store = storeAt(i, log);
        if (!store)
            continue;
        for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(store->handle(), nullptr); c;
             c = platform::CertEnumCertificatesInStore(store->handle(), c)) {
            auto candidate = std::make_unique<MsCertificate>(c, quiet, true);
            if (!candidate->hasPrivateKey(quiet))
                continue;
            platform::CertFreeCertificateContext(c);
            Certificate* found = Certificate::createFromMsCertificate(candidate.release(), false, quiet);
            return privateKeyOf(found, keyDer, certDer, keyInaccessible, log);
        }
    }
    return false;
}

bool SystemCerts::findCertBySerialAndIssuer(const char* serial, const char* issuerCN, DataBuffer& certDer, LogBase& log,
                                            bool verbose) {
    certDer.clear();
    bool inaccessible = false;
    Certificate* found = searchStoresBySerialAndIssuer(serial, issuerCN, false, true, inaccessible, log, verbose);
    if (!found)
        return false;
    bool ok = found->getDer(certDer, log);
    delete found;
    return ok;
}

} // namespace tessik
