#pragma once
// A PKCS#7 SignedData: its signer infos and digest algorithms, and the check
// of its signatures over the content. The content, of whatever type, is the
// OCTET STRING inside. A message verifies when every signer does: its
// message digest is the content's, and its RSA signature is the PKCS#1 v1.5
// block of a DigestInfo of its own digest algorithm over its authenticated
// attributes (over the content when it has none).
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"
#include "netlib/pki/CertificateFields.h"

namespace tessik {

class Asn1;
class ClsXml;
class DataSource;
class LogBase;
class SystemCerts;
class TessikX509;

namespace signeddata_msg {
constexpr const char* kGostDigest = "Reverting to MS Crypto API for GOST...";
constexpr const char* kDetached = "This is a detached signature.";
constexpr const char* kOpaque = "This is an opaque signature.";
constexpr const char* kUnexpectedContentInfo = "Unexpected ContentInfo..";
constexpr const char* kEmptyMessageDigest = "SignerInfo message digest is empty.";
constexpr const char* kNoContentType = "SignerInfo authenticated attributes name no content type.";
constexpr const char* kUnrecognizedDigest = "Unrecognized digest algorithm OID in SignerInfo.";
constexpr const char* kUnableToVerifyHash = "Unable to verify hash!";
constexpr const char* kNoMatchingCert = "Cannot find matching certificate.";
constexpr const char* kUnreadableSigner = "A SignerInfo of the message cannot be read.";
constexpr const char* kContentNotOctets = "The signed content is not an OCTET STRING.";
constexpr const char* kNoContent = "The signature is detached: the message holds no content to verify.";
constexpr const char* kAttributesMatch = "Digest of authenticated attributes DER matches.";
constexpr const char* kSignatureMismatch = "The signature does not hold for the expected digest.";
constexpr const char* kUnsupportedSignature = "Unsupported signature algorithm in SignerInfo.";
constexpr const char* kVerified = "Signature verified.";
constexpr const char* kNotVerified = "Failed to verify signature.";
} // namespace signeddata_msg

class SignerInfo : public TessikObject {
public:
    SignerInfo() = default;
    ~SignerInfo() override;

    // node: the SignerInfo as the message loader read it from the DER.
    bool load(const Asn1& node, LogBase& log, bool verbose);

    // The signer's certificate as the message names it (idRead false when
    // unreadable).
    CertificateId id;
    bool idRead = false;
    // For the log: the serial (hex) and the issuer's common name. UTF-8
    // text, held at its size: a message may carry thousands of signers.
    std::string serialNumber;
    std::string issuerCN;
    std::string digestAlgorithmOid;
    std::string contentType;
    std::string signingTime;
    DataBuffer messageDigest;
    std::string digestEncryptionAlgorithmOid;
    DataBuffer encryptedDigest;
    // Its index among the message's signer infos.
    int position = 0;
};

class Pkcs7_SignedData {
public:
    Pkcs7_SignedData();
    virtual ~Pkcs7_SignedData();
    Pkcs7_SignedData(const Pkcs7_SignedData&) = delete;
    Pkcs7_SignedData& operator=(const Pkcs7_SignedData&) = delete;

    // xml: on the ContentInfo's root. The signer infos are read with the
    // certificates, from the DER (Pkcs7::loadPkcs7Der).
    bool loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log, bool verbose);
    // out := the content, when every signer verifies over it; a detached
    // signature does not verify here, since there is no content.
    bool verifyOpaque(DataBuffer& out, const ExtPtrArray& certificates, const ExtPtrArray& authAttrDers,
                      SystemCerts* systemCerts, LogBase& log, bool verbose);
    bool verifySignature(DataSource& source, const ExtPtrArray& certificates, const ExtPtrArray& authAttrDers,
                         SystemCerts* systemCerts, LogBase& log, bool verbose);

    DataBuffer content;
    // The content is there but no OCTET STRING: nothing can verify over it.
    bool contentUnreadable = false;
    // The content is kept outside the message.
    bool detached = false;
    ExtPtrArray signerInfos;
    // SignerInfos of the message that could not be read (not in signerInfos).
    int unreadableSigners = 0;
    ExtPtrArray digestAlgorithms;
    // Filled by verifySignature when the message verifies: the certificate
    // of each signer, and beside it the signing time (UTCTime text) or empty.
    ExtPtrArray signerCerts;
    ExtPtrArray signingTimes;
};

// The message's certificates (DER) by the keys they answer to
// (certificateIdKeys), the first in message order for each. An issuer is
// read as names compare only when a signer names its certificate's serial:
// a message may carry thousands that no signer names.
class MessageCertIndex {
public:
    explicit MessageCertIndex(const ExtPtrArray& certificates);
    // The first of the message's certificates the id names, or null.
    const DataBuffer* find(const CertificateId& id);
    int certificatesRead() const { return m_read; }

private:
    struct Unread {
        std::string issuer;
        const DataBuffer* der;
    };
    std::unordered_map<std::string, std::vector<Unread>> m_bySerial;
    std::unordered_map<std::string, const DataBuffer*> m_byKey;
    int m_read = 0;
};
// The first certificate (DER) the id names among the message's, else in the
// system stores: the one a signer is verified under, as openssl takes it.
bool Pkcs7_SignedData_findSignerCert(MessageCertIndex& messageCerts, const CertificateId& id, SystemCerts* systemCerts,
                                     std::string& out, LogBase& log, bool verbose);

} // namespace tessik
