#include "netlib/transport/TlsCertificates.h"

#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/pki/TessikX509.h"

namespace tessik {

namespace {

bool load(const DataBuffer& der, TessikX509& cert, LogBase& log) {
    return der.getSize() != 0 && cert.loadFromBytes(der.getData(), der.getSize(), log, false);
}

} // namespace

bool logTlsCertificate(const DataBuffer& der, const char* subjectTag, const char* serialTag, const char* issuerTag,
                       LogBase& log) {
    TessikX509 cert;
    if (!load(der, cert, log)) {
        log.logError("Failed to load certificate.");
        return false;
    }
    XString subject, serial, issuer;
    cert.getSubjectCN(subject, log);
    cert.getSerialNumber(serial, log);
    log.logData(subjectTag, subject.getUtf8());
    log.logData(serialTag, serial.getUtf8());
    if (issuerTag != nullptr) {
        cert.getIssuerCN(issuer, log);
        log.logData(issuerTag, issuer.getUtf8());
    }
    return true;
}

TlsKeyResult tlsCertificatePublicKey(const DataBuffer& der, DataBuffer& out, LogBase& log) {
    out.clear();
    TessikX509 cert;
    if (!load(der, cert, log))
        return TlsKeyResult::kNoCertificate;
    return cert.getPublicKeyDer(out, log) && out.getSize() != 0 ? TlsKeyResult::kOk : TlsKeyResult::kNoPublicKey;
}

} // namespace tessik
