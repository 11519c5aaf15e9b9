#pragma once
// The fields of a certificate that chains and message recipients are built
// from, each as the exact DER the certificate holds: issuer and subject
// names, serial number, signed part, signature, key, validity, key ids.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/CertStore.h"

namespace tessik {

struct CertificateFields {
    std::string der;
    std::string subject;
    std::string issuer;
    // The serial number's content bytes (big-endian, sign byte kept).
    std::string serial;
    std::string tbs;
    std::string signatureOid;
    // Empty when the certificate's signature is malformed.
    std::string signature;
    std::string keyOid;
    std::string key;
    std::string subjectKeyId;
    std::string authorityKeyId;
    bool timesRead = false;
    std::int64_t notBefore = 0;
    std::int64_t notAfter = 0;

    bool selfIssued() const { return subject == issuer; }
    bool validAt(std::int64_t t) const { return timesRead && notBefore <= t && t <= notAfter; }
};

// Null when the context holds no certificate that can be read.
std::unique_ptr<CertificateFields> readCertificateFields(platform::PCCERT_CONTEXT context);

} // namespace tessik
