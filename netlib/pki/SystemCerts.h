#pragma once
// Finds a certificate, and usually its private key, in the user's and the
// machine's certificate stores, by serial number and issuer common name or
// by subject key identifier. The stores open on first need and stay open.
#include <memory>

#include "netlib/core/TessikObject.h"

namespace tessik {

class Certificate;
class CertificateStore;
class DataBuffer;
class LogBase;
class MsCertificate;

namespace systemcerts_msg {
constexpr const char* kNoKeyAvailable = "Found matching certificate, but no private key is available.";
constexpr const char* kNoKeyAccessible = "Found matching certificate, but no private key accessible.";
constexpr const char* kNoPrivateKey = "No private key available";
} // namespace systemcerts_msg

class SystemCerts : public TessikObject {
public:
    SystemCerts();
    ~SystemCerts() override;
    SystemCerts(const SystemCerts&) = delete;
    SystemCerts& operator=(const SystemCerts&) = delete;

    Certificate* searchStoresBySerialAndIssuer(const char* serial, const char* issuerCN, bool needPrivateKey,
                                               bool skipKeyAccess, bool& keyInaccessible, LogBase& log, bool verbose);
    // subjectKeyId: base64 text.
    Certificate* searchStoresBySubjectKeyId(const char* subjectKeyId, bool needPrivateKey, bool skipKeyAccess,
                                            bool& keyInaccessible, LogBase& log, bool verbose);
    bool findPrivateKeyBySerialAndIssuer(const char* serial, const char* issuerCN, DataBuffer& keyDer,
                                         DataBuffer* certDer, bool& keyInaccessible, LogBase& log, bool verbose);
    bool findPrivateKeyBySubjectKeyId(const char* subjectKeyId, DataBuffer& keyDer, DataBuffer* certDer,
                                      bool& keyInaccessible, LogBase& log, bool verbose);
    bool findCertBySerialAndIssuer(const char* serial, const char* issuerCN, DataBuffer& certDer, LogBase& log,
                                   bool verbose);
    // The first certificate, in store order, whose private key can be had:
    // the last resort of a recipient named only by a key identifier that no
    // certificate carries.
    bool findFirstPrivateKey(DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible, LogBase& log);

    // The eight stores in search order.
    static constexpr int kStoreCount = 8;

private:
    struct Query;
    Certificate* searchStores(const Query& query, bool needPrivateKey, bool skipKeyAccess, bool& keyInaccessible,
                              LogBase& log, bool verbose);
    bool privateKeyOf(Certificate* found, DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible, LogBase& log);
    CertificateStore* storeAt(int index, LogBase& log);

    std::unique_ptr<CertificateStore> m_stores[kStoreCount];
};

} // namespace tessik
