#pragma once
// Where the TLS client meets certificate objects: the certificates a peer
// sends are read here, and nowhere else.
#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

// Logs the subject and issuer common names and the serial number of one
// certificate under the given tags; false when the bytes are no certificate.
bool logTlsCertificate(const DataBuffer& der, const char* subjectTag, const char* serialTag, const char* issuerTag,
                       LogBase& log);

enum class TlsKeyResult { kOk, kNoCertificate, kNoPublicKey };
// The content of the certificate's subject public key (for RSA the PKCS#1
// RSAPublicKey DER), replacing out.
TlsKeyResult tlsCertificatePublicKey(const DataBuffer& der, DataBuffer& out, LogBase& log);

} // namespace tessik
