#pragma once
// One certificate context of the platform's certificate services: its DER,
// its names as X.500 text and name/value parts, the key-usage and
// extended-key-usage flags, the e-mail address of the subject alternative
// name, the key-provider property, and its private key as PKCS#1 DER.
#include <cstdint>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "platform/CertStore.h"

namespace tessik {

class Asn1;
class LogBase;
struct CertificateExtensionFacts;
struct CertificateFields;

namespace mscert_msg {
constexpr const char* kCreateFromBinary = "createFromBinary: ";
constexpr const char* kNoContext = "Failed to get DER encoded certificate: no cert context found";
constexpr const char* kNoEncoded = "Failed to get DER encoded certificate: no encoded data found within cert context";
constexpr const char* kNoKeyProvInfo = "No key provider info is available.";
constexpr const char* kFetchingKeyProv = "Fetching key provider info...";
constexpr const char* kKeyProvFailed = "CertGetCertificateContextProperty - CERT_KEY_PROV_INFO_PROP_ID failed.";
constexpr const char* kKeyProvFailed2 = "CertGetCertificateContextProperty - CERT_KEY_PROV_INFO_PROP_ID (2) failed.";
constexpr const char* kKeyProvNotAvailable = "MsCertificate key provider info not available.";
constexpr const char* kCannotAcquire = "Cannot acquire private key via CryptoAPI";
constexpr const char* kNoCertContext = "No certificate context";
constexpr const char* kNoKeyContainer = "Failed to open key container for certificate.";
constexpr const char* kInitValidity = "Initializing certificate validity info...";
constexpr const char* kSkippingKeyAccess =
    "Skipping private key access to avoid chance of interactive security dialog from appearing...";
} // namespace mscert_msg

// A string's content; written constructed (BER), its segments joined, as
// openssl reads them. False for segments nested too deep.
bool joinedContent(const Asn1* node, std::string& out, int depth = 0);
// The items of a SEQUENCE OF or SET OF, as openssl reads one: written
// primitive too, its content the items (holder keeps those decoded). False
// for content that does not decode.
bool listItems(const Asn1& node, ExtPtrArray& holder, std::vector<const Asn1*>& out);

// Who asks for the key-provider information (logged as "calledFrom").
enum KeyProvCaller : int {
    kFromExportPrivateKeyDer = 1,
    kFromGetKeyContainerName = 2,
    kFromIsMachineKeyset = 4,
    kFromLogKeyProviderInfo = 7,
};

class MsCertificate {
public:
    // Takes ownership of the context without duplicating it.
    MsCertificate(platform::PCCERT_CONTEXT context, LogBase& log);
    // Keeps a duplicate of the context.
    MsCertificate(platform::PCCERT_CONTEXT context, LogBase& log, bool duplicate);
    virtual ~MsCertificate();
    MsCertificate(const MsCertificate&) = delete;
    MsCertificate& operator=(const MsCertificate&) = delete;

    static MsCertificate* createFromBinary(const unsigned char* bytes, unsigned int length, LogBase& log);
    MsCertificate* clone();
    void setPrivateKeyDer(const unsigned char* bytes, unsigned int length);

    bool getDer(DataBuffer& out, LogBase* log);
    static void serialToHex(platform::PCCERT_CONTEXT context, StringBuffer& out);
    // subject false: the issuer name.
    static void nameBlobToText(platform::PCCERT_CONTEXT context, bool subject, XString& out);
    static void issuerNameText(platform::PCCERT_CONTEXT context, XString& out);
    void getSubjectText(XString& out, LogBase& log);
    // The subject key identifier's content, its segments joined (empty when
    // it has none, or one that is no OCTET STRING).
    static void getKeyIdentifiers(platform::PCCERT_CONTEXT context, DataBuffer& subjectKeyId);
    // Basic constraints, key usage, subjectAltName and the common names.
    static void getExtensionFacts(platform::PCCERT_CONTEXT context, CertificateExtensionFacts& out);
    // The same from a certificate already decoded (null: nothing found);
    // fields, when given, receives every field of the authority key
    // identifier and whether the subject key identifier can be read.
    static void getKeyIdentifiers(const Asn1* cert, DataBuffer& subjectKeyId, CertificateFields* fields = nullptr);
    static void getExtensionFacts(const Asn1* cert, CertificateExtensionFacts& out);

    // The chain verdicts, worked out once by the chain engine and kept.
    bool isSignatureValid(LogBase& log);
    bool isRootTrusted(LogBase& log);
    bool isExpired(LogBase& log);

    bool getKeyProviderInfo(int calledFrom, LogBase& log);
    bool getKeyContainerName(StringBuffer& out, LogBase& log);
    bool isMachineKeyset(bool& out, LogBase& log);
    void logKeyProviderInfo(LogBase& log);
    bool hasPrivateKey(LogBase& log);
    bool checkPrivateKey(LogBase& log);
    bool acquirePrivateKey(platform::HCRYPTPROV* provider, DWORD* keySpec, LogBase& log);
    bool exportPrivateKeyDer(bool skipKeyAccess, DataBuffer& out, bool& keyInaccessible, LogBase& log);

    platform::PCCERT_CONTEXT context() const { return m_context; }
    const char* emailAddress() { return m_email.getUtf8(); }
    ExtPtrArray& issuerParts() { return m_issuerParts; }
    ExtPtrArray& subjectParts() { return m_subjectParts; }
    void setForKeyExchange(bool on) { m_forKeyExchange = on; }
    bool forKeyExchange() const { return m_forKeyExchange; }

    // Key usage.
    bool m_digitalSignature = false;
    bool m_nonRepudiation = false;
    bool m_keyEncipherment = false;
    bool m_dataEncipherment = false;
    bool m_keyCertSign = false;
    bool m_crlSign = false;
    // Extended key usage.
    bool m_hasExtKeyUsage = false;
    bool m_emailProtection = false;
    bool m_serverAuth = false;
    bool m_clientAuth = false;
    bool m_codeSigning = false;
    bool m_timeStamping = false;

private:
    void parseNames(LogBase& log);
    void parseExtensions();
    void checkChain(LogBase& log);

    platform::PCCERT_CONTEXT m_context = nullptr;
    DataBuffer m_privateKeyDer;
    XString m_issuerText;
    XString m_subjectText;
    XString m_email;
    ExtPtrArray m_issuerParts;
    ExtPtrArray m_subjectParts;

    bool m_keyProvLoaded = false;
    bool m_keyProvUnavailable = false;
    StringBuffer m_containerName;
    StringBuffer m_providerName;
    std::uint32_t m_providerType = 0;
    bool m_machineKeyset = false;
    bool m_silent = false;

    bool m_chainChecked = false;
    bool m_signatureValid = false;
    bool m_rootTrusted = false;
    bool m_expired = false;

    bool m_forKeyExchange = true;
};

} // namespace tessik
