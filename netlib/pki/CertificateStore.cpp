#include "netlib/pki/CertificateStore.h"

#include <cstring>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {

constexpr const char* kCurrentUserRoot = "HKEY_CURRENT_USER";
constexpr const char* kLocalMachineRoot = "HKEY_LOCAL_MACHINE";

enum class PlaceSetter { CurrentUserSystem, LocalMachineSystem, RegistryCurrentUser, RegistryLocalMachine };

CertificateStore* openStore(DWORD provider, DWORD location, const char* name, bool readOnly, LogBase* log,
                            PlaceSetter setter) {
    DWORD flags = location | (readOnly ? platform::CERT_STORE_READONLY_FLAG : 0);
    platform::HCERTSTORE handle = platform::CertOpenStore(provider, flags, name);
    if (!handle) {
        // A registry key that cannot be opened is no error worth a line.
        if (log && provider != platform::CERT_STORE_PROV_REG)
            log->logLastError();
        return nullptr;
    }
    auto* store = new CertificateStore(handle);
    CertStorePlace& place = const_cast<CertStorePlace&>(store->place());
    switch (setter) {
    case PlaceSetter::CurrentUserSystem: place.setCurrentUserSystem(); break;
    case PlaceSetter::LocalMachineSystem: place.setLocalMachineSystem(); break;
    case PlaceSetter::RegistryCurrentUser: place.setRegistryCurrentUser(name); break;
    case PlaceSetter::RegistryLocalMachine: place.setRegistryLocalMachine(name); break;
    }
    return store;
}

} // namespace

CertStorePlace::~CertStorePlace() = default;

void CertStorePlace::setCurrentUserSystem() {
    m_kind = kStoreCurrentUserSystem;
    m_location = kLocationCurrentUser;
    m_path.clear();
}

void CertStorePlace::setLocalMachineSystem() {
    m_kind = kStoreLocalMachineSystem;
    m_location = kLocationLocalMachine;
    m_path.clear();
}

void CertStorePlace::setRegistryCurrentUser(const char* path) {
    m_kind = kStoreRegistry;
    m_location = kLocationCurrentUser;
    m_path.setString(path ? path : "");
}

void CertStorePlace::setRegistryLocalMachine(const char* path) {
    m_kind = kStoreRegistry;
    m_location = kLocationLocalMachine;
    m_path.setString(path ? path : "");
}

CertificateStore::CertificateStore(platform::HCERTSTORE handle) : m_handle(handle), m_registry(true) {}

CertificateStore::~CertificateStore() {
    if (m_handle)
        platform::CertCloseStore(m_handle, platform::CERT_CLOSE_STORE_CHECK_FLAG);
}

#define GRV_SYSTEM_OPENER(fn, storeName, location, labelText, rootText, setter)                                        \
    CertificateStore* CertificateStore::fn(bool readOnly, LogBase* log) {                                              \
        CertificateStore* s =                                                                                          \
            openStore(platform::CERT_STORE_PROV_SYSTEM_W, location, storeName, readOnly, log, setter);                 \
        if (s) {                                                                                                       \
            s->m_label.setString(labelText);                                                                           \
            s->m_rootName.setString(rootText);                                                                         \
        }                                                                                                              \
        return s;                                                                                                      \
    }

GRV_SYSTEM_OPENER(openCurrentUserMyStore, "MY", platform::CERT_SYSTEM_STORE_CURRENT_USER,
                  "[Current User Certificate Store]", kCurrentUserRoot, PlaceSetter::CurrentUserSystem)
GRV_SYSTEM_OPENER(openLocalMachineMyStore, "MY", platform::CERT_SYSTEM_STORE_LOCAL_MACHINE,
                  "[Local Machine Certificate Store]", kLocalMachineRoot, PlaceSetter::LocalMachineSystem)
GRV_SYSTEM_OPENER(openCurrentUserCaStore, "CA", platform::CERT_SYSTEM_STORE_CURRENT_USER,
                  "[CA Current User Certificate Store]", kCurrentUserRoot, PlaceSetter::CurrentUserSystem)
GRV_SYSTEM_OPENER(openLocalMachineCaStore, "CA", platform::CERT_SYSTEM_STORE_LOCAL_MACHINE,
                  "[CA Local Machine Certificate Store]", kLocalMachineRoot, PlaceSetter::LocalMachineSystem)
GRV_SYSTEM_OPENER(openCurrentUserRootStore, "ROOT", platform::CERT_SYSTEM_STORE_CURRENT_USER,
                  certstore_msg::kCurrentUserRootLabel, kCurrentUserRoot, PlaceSetter::CurrentUserSystem)
GRV_SYSTEM_OPENER(openLocalMachineRootStore, "ROOT", platform::CERT_SYSTEM_STORE_LOCAL_MACHINE,
                  "[ROOT Local Machine Certificate Store]", kLocalMachineRoot, PlaceSetter::LocalMachineSystem)

#undef GRV_SYSTEM_OPENER

CertificateStore* CertificateStore::openCurrentUserRegistryStore(const char* path, bool readOnly, LogBase* log) {
    CertificateStore* s = openStore(platform::CERT_STORE_PROV_REG, platform::CERT_SYSTEM_STORE_CURRENT_USER, path,
                                    readOnly, log, PlaceSetter::RegistryCurrentUser);
    if (s) {
        s->m_label.setString(path);
        s->m_rootName.setString(kCurrentUserRoot);
    }
    return s;
}

CertificateStore* CertificateStore::openLocalMachineRegistryStore(const char* path, bool readOnly, LogBase* log) {
    CertificateStore* s = openStore(platform::CERT_STORE_PROV_REG, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, path,
                                    readOnly, log, PlaceSetter::RegistryLocalMachine);
    if (s) {
        s->m_label.setString(path);
        s->m_rootName.setString(kLocalMachineRoot);
    }
    return s;
}

void CertificateStore::describe(StringBuffer& out) const {
    out.append("(registry) ");
    out.append(m_rootName.getString());
    out.append("/");
    out.append(m_label.getString());
}

MsCertificate* CertificateStore::FindCertBySerialAndIssuerCN(const char* serial, const char* issuerCN, LogBase& log,
                                                             bool verbose) {
    if (!m_handle)
        return nullptr;
    LogNull quiet;
    LogBase& vlog = verbose ? log : quiet;
    LogContext ctx(vlog, "FindCertBySerialAndIssuerCN");
    StringBuffer where;
    describe(where);
    vlog.logData("CertStoreLocation", where.getString());
    StringBuffer wanted("CN=");
    wanted.append(issuerCN ? issuerCN : "");
    wanted.append(",");
    vlog.logData("serialNumberToFind", serial ? serial : "");
    vlog.logData("stringToFind", wanted.getString());
    vlog.logInfo("----");
    StringBuffer hex;
    for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(m_handle, nullptr); c;
         c = platform::CertEnumCertificatesInStore(m_handle, c)) {
        MsCertificate::serialToHex(c, hex);
        vlog.logData("serialNumber", hex.getString());
        if (!hex.equalsNoCase(serial ? serial : ""))
            continue;
        vlog.logInfo(certstore_msg::kFoundSerial);
        XString issuer;
        MsCertificate::issuerNameText(c, issuer);
        issuer.appendUtf8(",");
        vlog.logData("IssuerX500", issuer.getUtf8());
        if (!issuer.getUtf8Sb().containsSubstring(wanted.getString()))
            continue;
        vlog.logInfo(certstore_msg::kFoundMatch);
        return new MsCertificate(c, quiet);
    }
    vlog.logInfo(certstore_msg::kNoMatch);
    return nullptr;
}

MsCertificate* CertificateStore::findCertBySubjectKeyId(const char* subjectKeyId, LogBase& log) {
    if (!m_handle) {
        log.logError(certstore_msg::kNoStore);
        return nullptr;
    }
    DataBuffer wanted;
    const char* text = subjectKeyId ? subjectKeyId : "";
    ContentCoding::decodeBase64(text, static_cast<unsigned int>(std::strlen(text)), wanted);
    DataBuffer ski;
    for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(m_handle, nullptr); c;
         c = platform::CertEnumCertificatesInStore(m_handle, c)) {
        MsCertificate::getKeyIdentifiers(c, ski);
        if (ski.getSize() == wanted.getSize() && ski.equalsBytes(wanted.getData(), wanted.getSize())) {
            LogNull quiet;
            return new MsCertificate(c, quiet);
        }
    }
    return nullptr;
}

} // namespace tessik
