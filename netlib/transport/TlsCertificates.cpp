#include "netlib/transport/TlsCertificates.h"

#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Certificate.h"

namespace tessik {

std::unique_ptr<Certificate> loadTlsCertificate(const DataBuffer& der, LogBase& log) {
    if (der.getSize() == 0)
        return nullptr;
    return std::unique_ptr<Certificate>(Certificate::createFromBytes(der.getData(), der.getSize(), log, false));
}

bool logTlsCertificate(const DataBuffer& der, const char* subjectTag, const char* serialTag, const char* issuerTag,
                       LogBase& log) {
    std::unique_ptr<Certificate> cert = loadTlsCertificate(der, log);
    if (!cert) {
        log.logError("Failed to load certificate.");
        return false;
    }
    XString subject, serial, issuer;
    cert->x509().getSubjectCN(subject, log);
    cert->getSerialNumber(serial, log);
    log.logData(subjectTag, subject.getUtf8());
    log.logData(serialTag, serial.getUtf8());
    if (issuerTag != nullptr) {
        cert->getIssuerPart("CN", issuer, log);
        log.logData(issuerTag, issuer.getUtf8());
    }
    return true;
}

TlsKeyResult tlsCertificatePublicKey(const DataBuffer& der, DataBuffer& out, LogBase& log) {
    out.clear();
    std::unique_ptr<Certificate> cert = loadTlsCertificate(der, log);
    if (!cert)
        return TlsKeyResult::kNoCertificate;
    return cert->getPublicKeyDer(out, log) && out.getSize() != 0 ? TlsKeyResult::kOk : TlsKeyResult::kNoPublicKey;
}

void tlsCertificateVerdicts(Certificate& cert, TlsCertVerdicts& out, LogBase& log) {
    out.expired = cert.isExpired(log);
    out.signatureVerified = cert.isSignatureVerified(log);
    out.trustedRoot = cert.hasTrustedRoot(log);
}

} // namespace tessik
