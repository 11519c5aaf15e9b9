#pragma once
// A PKCS#7 EnvelopedData with RSA key transport: read, opened with a
// recipient's private key, and written for a list of recipient certificates.
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/pki/AlgorithmIdentifier.h"
#include "netlib/pki/CertificateFields.h"

namespace tessik {

class Asn1;
class Certificate;
class ClsXml;
class DataSource;
class LogBase;
class SystemCerts;

namespace enveloped_msg {
constexpr const char* kNoKeyFound = "No certificate with private key found.";
constexpr const char* kNoSubjectKeyIdMatch = "No match was found for the SubjectKeyIdentifier.";
constexpr const char* kFirstAvailableCert = "Using the first available cert...";
constexpr const char* kUnsupportedKeyAlgorithm = "Unsupported public key algorithm";
constexpr const char* kNoMatchingRecipient = "No matching RecipientInfo found.";
constexpr const char* kKeyDecryptFailed = "Failed to decrypt symmetric key.";
constexpr const char* kSymmetricFailed = "Symmetric decryption failed.";
constexpr const char* kBadIv = "The content-encryption algorithm has no IV of the cipher's block size.";
constexpr const char* kIncomplete = "EncryptedContentInfo not complete.";
constexpr const char* kUnsupportedAlgorithm = "Unsupported PKCS7 encryption algorithm";
constexpr const char* kBuildFailed = "Failed to build PKCS7 enveloped.";
constexpr const char* kRecipientFailed = "Failed to build RecipientInfo ASN.1";
constexpr const char* kEncryptFailed = "Symmetric encryption of data failed.";
constexpr const char* kWrongFinalBlockLength = "Wrong final block length: a block cipher's content is empty.";
constexpr const char* kTooManyKeys = "The envelope names more of the keys found than are tried for one message.";
constexpr const char* kOtherRecipientKind = "Passing over a recipient that is not named by a certificate.";
} // namespace enveloped_msg

class IssuerAndSerialNumber {
public:
    virtual ~IssuerAndSerialNumber();
    bool loadXml(ClsXml* node, LogBase& log);

    StringBuffer xml;
    StringBuffer serialNumber;
    StringBuffer commonName;
    StringBuffer organization;
    StringBuffer country;
    StringBuffer state;
    StringBuffer locality;
};

class RecipientInfo : public TessikObject {
public:
    RecipientInfo(ClsXml& node, const ExtPtrArray* extList, LogBase& log, bool verbose, bool& ok);
    ~RecipientInfo() override;

    // The recipient's certificate as the message names it (read from the
    // DER by the message loader).
    CertificateId id;
    // For the log.
    IssuerAndSerialNumber issuerAndSerialNumber;
    // Base64 of the identifier of a version-2 recipient; empty otherwise.
    StringBuffer subjectKeyIdentifier;
    AlgorithmIdentifier keyEncryptionAlgorithm;
    DataBuffer encryptedKey;
    // Its place among all the message's recipient infos, other kinds too.
    int position = 0;
};

// A certificate that may open an envelope, and the way to its private key.
struct EnvelopeKey {
    std::string certDer;
    std::function<bool(DataBuffer& keyDer)> privateKey;
};
using EnvelopeKeyFinder = std::function<void(std::vector<EnvelopeKey>& out)>;

// Private operations one envelope may ask for when its keys are searched
// for rather than given.
constexpr int kMaxEnvelopeKeyTries = 4;

class Pkcs7_EnvelopedData {
public:
    Pkcs7_EnvelopedData();
    virtual ~Pkcs7_EnvelopedData();
    Pkcs7_EnvelopedData(const Pkcs7_EnvelopedData&) = delete;
    Pkcs7_EnvelopedData& operator=(const Pkcs7_EnvelopedData&) = delete;

    bool loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log, bool verbose);
    // Opened with the keys of the stores' certificates (openWithFoundKeys).
    bool UnEnvelope3(SystemCerts& systemCerts, DataBuffer& out, DataBuffer& certDerOut, bool& keyLocated, LogBase& log,
                     bool verbose);
    // Opened with the key of the certificate given, at recipientFor(it).
    bool UnEnvelope2(const CertificateFields& recipient, const DataBuffer& privateKeyDer, DataBuffer& out, LogBase& log,
                     bool verbose);
    // The recipient info a certificate opens: the first that names it, as
    // `openssl cms -decrypt -recip` takes it; null for none.
    const RecipientInfo* recipientFor(const CertificateFields& cert) const;
    // The recipient infos by the key of what each names (certificateIdKey),
    // the first for each; the first of them a certificate opens.
    using RecipientIndex = std::unordered_map<std::string, const RecipientInfo*>;
    RecipientIndex indexRecipients() const;
    static const RecipientInfo* recipientIn(const RecipientIndex& index, const CertificateFields& cert);
    // Opened with keys found: find gives the certificates that may open it
    // and the way to their keys, read once whatever the number of
    // recipients. Each certificate opens only recipientFor(it), those of
    // earlier recipient infos first, and each key used spends one of
    // keysLeft (kMaxEnvelopeKeyTries for one message). certDerOut: the
    // certificate that opened it.
    bool openWithFoundKeys(const EnvelopeKeyFinder& find, DataBuffer& out, std::string& certDerOut, int& keysLeft,
                           LogBase& log, bool verbose);
    bool openWith(const RecipientInfo& recipient, const DataBuffer& privateKeyDer, DataBuffer& out, LogBase& log,
                  bool verbose);
    bool decryptContent(const DataBuffer& contentKey, DataBuffer& out, LogBase& log, bool verbose);
    void logRecipientInfos(LogBase& log);

    // The key-transport recipients alone: those of another kind (key
    // agreement, a shared key, a password) no certificate's key opens.
    ExtPtrArray recipientInfos;
    // The content type the EncryptedContentInfo names (dotted), as found.
    StringBuffer contentType;
    AlgorithmIdentifier contentEncryptionAlgorithm;
    DataBuffer encryptedContent;
};

// Appends one DER ContentInfo holding the source's bytes enveloped for every
// certificate of the list (Certificate objects), with a fresh content key
// under the crypt component's cipher id and key length.
bool createPkcs7Enveloped(DataSource& source, int algorithmId, int keyLengthBits, const ExtPtrArray& recipientCerts,
                          DataBuffer& out, LogBase& log, bool verbose);
Asn1* buildRecipientInfo(const DataBuffer& contentKey, const ExtPtrArray& recipientCerts, LogBase& log, bool verbose);
Asn1* buildIssuerAndSerialAsn(Certificate& certificate, LogBase& log);
bool encryptContentForEnvelope(DataSource& source, int algorithmId, int keyLengthBits, const DataBuffer& contentKey,
                               const DataBuffer& iv, DataBuffer& out, LogBase& log);

} // namespace tessik
