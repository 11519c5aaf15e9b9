#pragma once
// One opened certificate store and where it lives, with the searches the
// system store search makes in it.
#include <cstdint>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "platform/CertStore.h"

namespace tessik {

class LogBase;
class MsCertificate;

namespace certstore_msg {
constexpr const char* kNoStore = "No certificate store opened.";
constexpr const char* kFoundSerial = "Found certificate with matching serial number!";
constexpr const char* kFoundMatch = "Found matching certificate.";
constexpr const char* kNoMatch = "Did not find matching certificate.";
constexpr const char* kCurrentUserRootLabel = "[ROOT Current User Certificate Store]";
} // namespace certstore_msg

// The registry path of the address-book stores.
constexpr const char* kAddressBookPath = "Software/Microsoft/SystemCertificates/AddressBook";

enum CertStoreKind : std::uint32_t {
    kStoreCurrentUserSystem = 1,
    kStoreLocalMachineSystem = 2,
    kStoreRegistry = 4,
};

enum CertStoreLocation : std::uint32_t {
    kLocationCurrentUser = 1,
    kLocationLocalMachine = 2,
};

class CertStorePlace : public TessikObject {
public:
    CertStorePlace() = default;
    ~CertStorePlace() override;

    void setCurrentUserSystem();
    void setLocalMachineSystem();
    void setRegistryCurrentUser(const char* path);
    void setRegistryLocalMachine(const char* path);

    std::uint32_t m_kind = 0;
    std::uint32_t m_location = 0;
    StringBuffer m_path;
};

class CertificateStore : public TessikObject {
public:
    explicit CertificateStore(platform::HCERTSTORE handle);
    ~CertificateStore() override;
    CertificateStore(const CertificateStore&) = delete;
    CertificateStore& operator=(const CertificateStore&) = delete;

    static CertificateStore* openCurrentUserMyStore(bool readOnly, LogBase* log);
    static CertificateStore* openLocalMachineMyStore(bool readOnly, LogBase* log);
    static CertificateStore* openCurrentUserCaStore(bool readOnly, LogBase* log);
    static CertificateStore* openLocalMachineCaStore(bool readOnly, LogBase* log);
    static CertificateStore* openCurrentUserRootStore(bool readOnly, LogBase* log);
    static CertificateStore* openLocalMachineRootStore(bool readOnly, LogBase* log);
    static CertificateStore* openCurrentUserRegistryStore(const char* path, bool readOnly, LogBase* log);
    static CertificateStore* openLocalMachineRegistryStore(const char* path, bool readOnly, LogBase* log);

    MsCertificate* FindCertBySerialAndIssuerCN(const char* serial, const char* issuerCN, LogBase& log, bool verbose);
    MsCertificate* findCertBySubjectKeyId(const char* subjectKeyId, LogBase& log);
    void describe(StringBuffer& out) const;

    platform::HCERTSTORE handle() const { return m_handle; }
    const CertStorePlace& place() const { return m_place; }
    const char* label() const { return m_label.getString(); }
    bool isRegistry() const { return m_registry; }

private:
    platform::HCERTSTORE m_handle = nullptr;
    bool m_registry = false;
    StringBuffer m_label;
    StringBuffer m_rootName;
    CertStorePlace m_place;
};

} // namespace tessik
