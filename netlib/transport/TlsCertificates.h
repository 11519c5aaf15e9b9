#pragma once
// Where the TLS client meets certificate objects: the certificates a peer
// sends are read here, and nowhere else.
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class Certificate;
class LogBase;

// The certificate in DER (or a PKCS#7 bag); null when it is none.
std::unique_ptr<Certificate> loadTlsCertificate(const DataBuffer& der, LogBase& log);

// Logs the subject and issuer common names and the serial number of one
// certificate under the given tags; false when it is none (null).
bool logTlsCertificate(Certificate* cert, const char* subjectTag, const char* serialTag, const char* issuerTag,
                       LogBase& log);

enum class TlsKeyResult { kOk, kNoCertificate, kNoPublicKey };
// The content of the certificate's subject public key (for RSA the PKCS#1
// RSAPublicKey DER), replacing out; kNoCertificate when it is null.
TlsKeyResult tlsCertificatePublicKey(Certificate* cert, DataBuffer& out, LogBase& log);

// What the check of a server's certificate found; the first failure in
// this order decides.
enum class TlsServerCheck {
    kVerified,
    kNoCertificate,
    kExpired,
    kNotYetValid,
    kSignature,
    kNotACa,
    kBadExtension,
    kNameConstraints,
    kNotForServers,
    kKeyNotForServers,
    kUntrustedRoot,
    kNameMismatch,
};
// The chain from the server's certificate (ders[0]) through the others it
// sent (untrusted candidates) to a root of the ROOT stores, each signature,
// validity time, issuer, extension, name constraint, extended key usage
// (server authentication) and the server's key usage judged by the chain
// engine; then the host the request is for against the certificate's names.
TlsServerCheck checkTlsServerChain(const std::vector<std::string>& ders, const char* host, LogBase& log);

} // namespace tessik
