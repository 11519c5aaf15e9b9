#pragma once
// Finds certificates, and usually their private keys, in the user's and the
// machine's certificate stores, by issuer name and serial number or by
// subject key identifier. The stores open on first need and stay open.
#include <memory>
#include <vector>

#include "netlib/core/TessikObject.h"

namespace tessik {

class Certificate;
class CertificateStore;
class DataBuffer;
class LogBase;
class MsCertificate;
struct CertificateId;

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

    // Every certificate of the stores that the id names, in search order
    // (the caller owns them): a message's signer or recipient may be named
    // by more than one. needPrivateKey: only those whose private key can be
    // had (skipKeyAccess: without trying it); keyInaccessible tells that a
    // key was there but could not be exported.
    void searchStoresById(const CertificateId& id, bool needPrivateKey, bool skipKeyAccess, bool& keyInaccessible,
                          std::vector<std::unique_ptr<Certificate>>& out, LogBase& log, bool verbose);
    // subjectKeyId: base64 text. The first certificate it names.
    Certificate* searchStoresBySubjectKeyId(const char* subjectKeyId, bool needPrivateKey, bool skipKeyAccess,
                                            bool& keyInaccessible, LogBase& log, bool verbose);
    bool findPrivateKeyBySubjectKeyId(const char* subjectKeyId, DataBuffer& keyDer, DataBuffer* certDer,
                                      bool& keyInaccessible, LogBase& log, bool verbose);
    // The private key (and the DER) of a certificate found.
    bool privateKeyOf(Certificate& found, DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible, LogBase& log);
    // Every certificate of the stores that has a private key, in store
    // order (the caller owns them): read once, however many recipients a
    // message names.
    void certificatesWithKeys(std::vector<std::unique_ptr<Certificate>>& out, LogBase& log);
    // The first certificate, in store order, whose private key can be had:
    // the last resort of a recipient named only by a key identifier that no
    // certificate carries.
    bool findFirstPrivateKey(DataBuffer& keyDer, DataBuffer* certDer, bool& keyInaccessible, LogBase& log);

    // The eight stores in search order.
    static constexpr int kStoreCount = 8;

private:
    CertificateStore* storeAt(int index, LogBase& log);

    std::unique_ptr<CertificateStore> m_stores[kStoreCount];
};

} // namespace tessik
