#pragma once
// Where the TLS client meets certificate objects: the certificates a peer
// sends are read here, and nowhere else.
#include <memory>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class Certificate;
class LogBase;

// The certificate in DER (or a PKCS#7 bag); null when it is none.
std::unique_ptr<Certificate> loadTlsCertificate(const DataBuffer& der, LogBase& log);

// Logs the subject and issuer common names and the serial number of one
// certificate under the given tags; false when the bytes are no certificate.
bool logTlsCertificate(const DataBuffer& der, const char* subjectTag, const char* serialTag, const char* issuerTag,
                       LogBase& log);

enum class TlsKeyResult { kOk, kNoCertificate, kNoPublicKey };
// The content of the certificate's subject public key (for RSA the PKCS#1
// RSAPublicKey DER), replacing out.
TlsKeyResult tlsCertificatePublicKey(const DataBuffer& der, DataBuffer& out, LogBase& log);

// The verdicts of the platform's chain check of a certificate.
struct TlsCertVerdicts {
    bool expired = true;
    bool signatureVerified = false;
    bool trustedRoot = false;
};
void tlsCertificateVerdicts(Certificate& cert, TlsCertVerdicts& out, LogBase& log);

} // namespace tessik
