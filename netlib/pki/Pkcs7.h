#pragma once
// One PKCS#7 ContentInfo taken from DER: loaded through its ASN.1 XML
// rendering into one content object of its type, with the certificates and
// the signers' authenticated attributes of a SignedData; opened by
// decrypting an EnvelopedData or verifying an opaque SignedData.
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class Asn1;
class ClsXml;
struct CertificateFields;
class LogBase;
class Pkcs7_EncryptedData;
class Pkcs7_EnvelopedData;
class Pkcs7_SignedData;
class StringBuffer;
class SystemCerts;

namespace pkcs7_oid {
constexpr const char* kData = "1.2.840.113549.1.7.1";
constexpr const char* kSignedData = "1.2.840.113549.1.7.2";
constexpr const char* kEnvelopedData = "1.2.840.113549.1.7.3";
constexpr const char* kSignedAndEnvelopedData = "1.2.840.113549.1.7.4";
constexpr const char* kDigestedData = "1.2.840.113549.1.7.5";
constexpr const char* kEncryptedData = "1.2.840.113549.1.7.6";
} // namespace pkcs7_oid

namespace pkcs7_msg {
constexpr const char* kDecodeFailed = "Failed to decode DER.";
constexpr const char* kNotSequence = "Expected PKCS7 to begin with a sequence tag.";
constexpr const char* kNoOid = "Expected oid tag for 1st child in PKCS7";
constexpr const char* kDataNotSequence = "PKCS7 Data root tag must be a sequence.";
constexpr const char* kDataChildren = "PKCS7 Data must have 2 top-level children.";
constexpr const char* kDataFirstOid = "PKCS7 Data -- 1st child must be oid.";
constexpr const char* kDataOid = "PKCS7 Data -- oid must be 1.2.840.113549.1.7.1";
constexpr const char* kDataSecond = "PKCS7 Data -- 2nd child must be contextSpecific.";
constexpr const char* kDataOctets = "PKCS7 Data -- contextSpecific child should be octets";
constexpr const char* kNotEnveloped3 = "Cannot unenvelope (3) -- not a PKCS7 EnvelopedData object.";
constexpr const char* kNotEnveloped2 = "Cannot unenvelope (2) -- not a PKCS7 EnvelopedData object.";
constexpr const char* kAddingCert = "Adding cert to internal list...";
constexpr const char* kUnreadableRecipient =
    "A RecipientInfo does not name its certificate in a form that can be read.";
constexpr const char* kListFieldsOutOfOrder =
    "A SignedData ends with its signer infos, a SET, and may hold between its content and them only its certificates "
    "[0] and then its CRLs [1], each once, written primitive only over whole items.";
} // namespace pkcs7_msg

enum Pkcs7ContentType : int {
    kPkcs7None = 0,
    kPkcs7Data = 1,
    kPkcs7Signed = 2,
    kPkcs7Enveloped = 3,
    kPkcs7SignedAndEnveloped = 4,
    kPkcs7Digested = 5,
    kPkcs7Encrypted = 6,
};

// Certificate encodings shorter than this are dropped.
constexpr unsigned int kMinCertificateDer = 41;

class Pkcs7_Data {
public:
    virtual ~Pkcs7_Data();
    bool loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log);
    DataBuffer content;
};

// Loaded by type, never read.
class Pkcs7_DigestedData {
public:
    virtual ~Pkcs7_DigestedData();
};

class Pkcs7_SeData {
public:
    virtual ~Pkcs7_SeData();
};

class Pkcs7 : public TessikCritSec, public TessikObject {
public:
    Pkcs7();
    ~Pkcs7() override;
    Pkcs7(const Pkcs7&) = delete;
    Pkcs7& operator=(const Pkcs7&) = delete;

    void clear();
    // password: only an EncryptedData uses it (null is empty).
    bool loadPkcs7Der(const DataBuffer& der, const char* password, LogBase& log, bool verbose);
    bool loadXml(StringBuffer& xmlText, const ExtPtrArray* extList, bool takeText, const char* password, LogBase& log,
                 bool verbose);

    // An EnvelopedData opened with a key from the system stores (certDerOut:
    // the recipient's certificate; keyLocated: a key was found but could not
    // be used), or the content of an opaque SignedData whose signature holds.
    bool openContent(SystemCerts& systemCerts, DataBuffer& out, DataBuffer& certDerOut, bool& keyLocated, LogBase& log,
                     bool verbose);
    // An EnvelopedData opened with the private key of the recipient whose
    // certificate is given.
    bool unEnvelope(const CertificateFields& recipient, const DataBuffer& privateKeyDer, DataBuffer& out, LogBase& log,
                    bool verbose);

    int contentType() const { return m_contentType; }
    Pkcs7_Data* data() const { return m_data.get(); }
    Pkcs7_SignedData* signedData() const { return m_signedData.get(); }
    Pkcs7_EnvelopedData* envelopedData() const { return m_envelopedData.get(); }
    Pkcs7_EncryptedData* encryptedData() const { return m_encryptedData.get(); }
    // DER of the certificates a SignedData carries, in message order.
    const ExtPtrArray& certificates() const { return m_certificates; }
    // Per signer: its authenticated attributes re-tagged as a SET, or empty.
    const ExtPtrArray& authAttrDers() const { return m_authAttrDers; }

private:
    // root: the message read by decodeBerFirstBorrowing, or null.
    void extractCertsFromSignedData(const Asn1* root, LogBase& log, bool verbose);
    // Reads the signer infos too, into the SignedData.
    void collectAuthAttrDers(const Asn1* signedData, LogBase& log, bool verbose);
    void appendEmptyAuthAttrDer();
    bool readRecipientIds(const Asn1* root, LogBase& log);

    int m_contentType = kPkcs7None;
    std::unique_ptr<Pkcs7_Data> m_data;
    std::unique_ptr<Pkcs7_DigestedData> m_digestedData;
    std::unique_ptr<Pkcs7_EncryptedData> m_encryptedData;
    std::unique_ptr<Pkcs7_EnvelopedData> m_envelopedData;
    std::unique_ptr<Pkcs7_SeData> m_seData;
    std::unique_ptr<Pkcs7_SignedData> m_signedData;
    ExtPtrArray m_certificates;
    ExtPtrArray m_authAttrDers;
};

} // namespace tessik
