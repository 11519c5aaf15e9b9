#pragma once
// The library's certificate objects: a Certificate joins an X.509
// certificate with its platform context (made when first needed) and its
// private key; an XCert is a certificate-pool entry of certificate DER and
// private-key DER (the TLS client certificate).
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/pki/TessikX509.h"
#include "platform/CertStore.h"

namespace tessik {

class Asn1;
class ExtPtrArray;
class LogBase;
class MsCertificate;
class XString;

namespace cert_msg {
constexpr const char* kUnrecognizedIssuerPart = "Unrecognized certificate issuer part";
constexpr const char* kNotCertificate = "The bytes are not an X.509 certificate.";
constexpr const char* kViaCryptoApi = "Getting private key via Crypto API...";
constexpr const char* kForKeyExchange = "Getting private key for key exchange (i.e. encryption)";
constexpr const char* kForSigning = "Getting private key for signing";
} // namespace cert_msg

class Certificate : public TessikObject {
public:
    Certificate() = default;
    ~Certificate() override;
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    // DER or a PKCS#7 certificate bag; null when the bytes are no certificate.
    static Certificate* createFromBytes(const unsigned char* bytes, std::uint32_t n, LogBase& log, bool verbose);
    // Takes the platform certificate (also on failure); null when it has no
    // loadable DER.
    static Certificate* createFromMsCertificate(MsCertificate* msCert, bool skipKeyAccess, LogBase& log);
    Certificate* clone();

    bool ensureMsCertificate(LogBase& log);
    MsCertificate* getMsCertificate(LogBase& log);

    void getSubjectDN(XString& out, LogBase& log);
    // "CN", "C", "L", "O", "OU", "S" (state) and "E".
    bool getIssuerPart(const char* name, XString& out, LogBase& log);
    bool getSerialNumber(XString& out, LogBase& log);
    bool getDer(DataBuffer& out, LogBase& log);
    bool getPublicKeyDer(DataBuffer& out, LogBase& log);
    // The issuer name rebuilt for DER (caller owns it).
    Asn1* getIssuerAsn1(LogBase& log);
    bool getSubjectKeyId(DataBuffer& out, LogBase& log);

    // The chain verdicts of the platform context (made when needed): false
    // when there is none.
    bool isSignatureVerified(LogBase& log);
    bool hasTrustedRoot(LogBase& log);
    bool isExpired(LogBase& log);

    // The stored PKCS#1 key, else the one the platform exports.
    bool getPrivateKeyDer(DataBuffer& out, bool& keyUnavailable, bool keyExchange, LogBase& log);
    bool getPrivateKeyDerAnySpec(DataBuffer& out, bool& keyUnavailable, LogBase& log);
    bool exportPrivateKeyViaCryptoApi(bool& keyUnavailable, bool keyExchange, LogBase& log);
    void setPrivateKeyDer(const DataBuffer& der);
    bool hasStoredPrivateKey() const { return m_privateKeyDer.getSize() != 0; }
    bool keyUnavailable() const { return m_keyUnavailable; }

    TessikX509& x509() { return m_x509; }

private:
    MsCertificate* m_msCert = nullptr;
    TessikX509 m_x509;
    DataBuffer m_privateKeyDer;
    bool m_keyUnavailable = false;
};

// A new Certificate around a platform context it adopts; null for none.
Certificate* createCertFromMsContext(platform::PCCERT_CONTEXT context, bool skipKeyAccess, LogBase& log);

class XCert : public TessikObject {
public:
    XCert() = default;
    ~XCert() override;
    XCert(const XCert&) = delete;
    XCert& operator=(const XCert&) = delete;

    void setCertDer(const DataBuffer& der);
    void setPrivateKeyDer(const DataBuffer& der);
    // Takes the certificate.
    void setCertificate(Certificate* certificate);

    // Made on first use; null when the entry holds no certificate.
    TessikX509* getX509();
    void getCertDer(DataBuffer& out);
    void getPrivateKeyDer(DataBuffer& out) const;
    XCert* clone();

private:
    DataBuffer m_privateKeyDer;
    DataBuffer m_certDer;
    TessikX509* m_x509 = nullptr;
    Certificate* m_certificate = nullptr;
};

// Replaces the destination's entries by clones of the source's.
void copyXCertArray(const ExtPtrArray* source, ExtPtrArray* destination);

} // namespace tessik
