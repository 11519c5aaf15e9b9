#pragma once
// A PKCS#7 EncryptedData, decrypted at load with a password through PKCS#12
// password-based encryption.
#include "netlib/core/DataBuffer.h"

namespace tessik {

class AlgorithmIdentifier;
class ClsXml;
class ExtPtrArray;
class LogBase;

namespace encrypteddata_msg {
constexpr const char* kNotSequence = "PKCS7 EncryptedData root tag must be a sequence.";
constexpr const char* kNotEncryptedData = "PKCS7 EncryptedData content type must be 1.2.840.113549.1.7.6";
constexpr const char* kNoAlgorithm = "Failed to navigate to AlgorithmIdentifier in PKCS7 EncryptedData.";
constexpr const char* kNoContent = "Failed to get encrypted data from PKCS7 EncryptedData";
constexpr const char* kUnsupportedPbe = "Cannot password decrypt using this algorithm";
} // namespace encrypteddata_msg

class Pkcs7_EncryptedData {
public:
    virtual ~Pkcs7_EncryptedData();
    // xml: on the ContentInfo's root; password UTF-8, null is empty.
    bool loadXml(ClsXml& xml, const ExtPtrArray* extList, const char* password, LogBase& log, bool verbose);
    bool decryptFromXml(ClsXml& xml, const ExtPtrArray* extList, const char* password, LogBase& log, bool verbose);

    DataBuffer content;
};

bool pkcs12PbeDecryptByOid(const AlgorithmIdentifier& algorithm, DataBuffer& encrypted, DataBuffer& out,
                           const char* password, LogBase& log);

} // namespace tessik
