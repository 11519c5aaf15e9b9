#pragma once
// Certificates and encrypted private keys looked up by "SubjectKeyId:<id>"
// or by "<serial hex>:<issuer common name>". A certificate entry holds a
// <compressedDer> element (the DER deflated and base64-encoded); a key entry
// is the private-key DER encrypted under the scrambled key password, base64.
#include "netlib/core/HashMap.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class DataBuffer;
class LogBase;

namespace certrepo_msg {
constexpr const char* kKeyFound = "Key found!";
constexpr const char* kKeyNotFound = "Key not found in hash map.";
constexpr const char* kInflateFailed = "Failed to inflate the stored certificate.";
constexpr const char* kKeyNotFoundBySubjectId = "Key not found in hash map. (using subjectKeyId)";
} // namespace certrepo_msg

class CertRepository {
public:
    CertRepository();
    virtual ~CertRepository();
    CertRepository(const CertRepository&) = delete;
    CertRepository& operator=(const CertRepository&) = delete;

    // Filling is up to the owner: entries as described above.
    void insertCertEntry(const char* key, const char* entry) { m_certMap.insertString(key, entry); }
    void insertKeyEntry(const char* key, const char* base64) { m_keyMap.insertString(key, base64); }
    void setKeyPassword(const char* password);

    bool findCert(const char* serialHex, const char* issuerCn, StringBuffer& out, LogBase& log, bool verbose);
    bool findCertBySubjectKeyId(const char* keyId, StringBuffer& out, LogBase& log, bool verbose);
    bool findCertDer(const char* serialHex, const char* issuerCn, DataBuffer& out, LogBase& log, bool verbose);
    bool findCertDerBySubjectKeyId(const char* keyId, DataBuffer& out, LogBase& log, bool verbose);
    bool findPrivateKeyBySubjectId(const char* keyId, DataBuffer& out, LogBase& log, bool verbose);
    bool findPrivateKey(const char* serialHex, const char* issuerCn, DataBuffer& out, LogBase& log, bool verbose);

private:
    bool lookupWithZeroRetry(const HashMap& map, StringBuffer& key, StringBuffer& out) const;
    bool decryptKeyEntry(const StringBuffer& entry, DataBuffer& out, LogBase& log) const;

    HashMap m_certMap;
    HashMap m_keyMap;
    StringBuffer m_keyPassword;
};

// The certificate DER of a <compressedDer> entry (empty when there is none).
void extractCompressedDer(const StringBuffer& entry, DataBuffer& out, LogBase& log);

} // namespace tessik
