#pragma once
// A PKCS#7 SignedData: its signer infos and digest algorithms, and the check
// of its signatures over the content. The content, of whatever type, is the
// OCTET STRING inside. A message verifies when every signer does: its
// message digest is the content's, and its RSA signature is the PKCS#1 v1.5
// block of a DigestInfo of its own digest algorithm over its authenticated
// attributes (over the content when it has none).
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"

namespace tessik {

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

    bool loadXml(ClsXml& node, const ExtPtrArray* extList, LogBase& log, bool verbose);

    XString serialNumber;
    XString issuerCN;
    XString digestAlgorithmOid;
    XString contentType;
    XString signingTime;
    DataBuffer messageDigest;
    XString digestEncryptionAlgorithmOid;
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

    // xml: on the ContentInfo's root.
    bool loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log, bool verbose);
    // out := the content, when every signer verifies over it.
    bool verifyOpaque(DataBuffer& out, const ExtPtrArray& certificates, const ExtPtrArray& authAttrDers,
                      SystemCerts* systemCerts, LogBase& log, bool verbose);
    bool verifySignature(DataSource& source, const ExtPtrArray& certificates, const ExtPtrArray& authAttrDers,
                         SystemCerts* systemCerts, LogBase& log, bool verbose);

    DataBuffer content;
    // The content is there but no OCTET STRING: nothing can verify over it.
    bool contentUnreadable = false;
    ExtPtrArray signerInfos;
    // SignerInfos of the message that could not be read (not in signerInfos).
    int unreadableSigners = 0;
    ExtPtrArray digestAlgorithms;
    // Filled by verifySignature when the message verifies: the certificate
    // of each signer, and beside it the signing time (UTCTime text) or empty.
    ExtPtrArray signerCerts;
    ExtPtrArray signingTimes;
};

// The signer's certificate among the message's, else in the system stores;
// the caller owns it.
TessikX509* Pkcs7_SignedData_findSignerCert(const ExtPtrArray& certificates, const char* issuerCn,
                                            const char* serialHex, SystemCerts* systemCerts, LogBase& log,
                                            bool verbose);
// The UTCTime text of the signing-time attribute, or empty.
void extractSigningTime(const DataBuffer& authAttrDer, StringBuffer& timeOut);

} // namespace tessik
