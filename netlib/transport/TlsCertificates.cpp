#include "netlib/transport/TlsCertificates.h"

#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ChainEngine.h"
#include "platform/CertStore.h"

namespace tessik {

std::unique_ptr<Certificate> loadTlsCertificate(const DataBuffer& der, LogBase& log) {
    if (der.getSize() == 0)
        return nullptr;
    return std::unique_ptr<Certificate>(Certificate::createFromBytes(der.getData(), der.getSize(), log, false));
}

bool logTlsCertificate(Certificate* cert, const char* subjectTag, const char* serialTag, const char* issuerTag,
                       LogBase& log) {
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

TlsKeyResult tlsCertificatePublicKey(Certificate* cert, DataBuffer& out, LogBase& log) {
    out.clear();
    if (!cert)
        return TlsKeyResult::kNoCertificate;
    return cert->getPublicKeyDer(out, log) && out.getSize() != 0 ? TlsKeyResult::kOk : TlsKeyResult::kNoPublicKey;
}

TlsServerCheck checkTlsServerChain(const std::vector<std::string>& ders, const char* host, LogBase& log) {
    if (ders.empty())
        return TlsServerCheck::kNoCertificate;
    auto bytes = [](const std::string& der) { return reinterpret_cast<const BYTE*>(der.data()); };
    platform::PCCERT_CONTEXT leaf = platform::CertCreateCertificateContext(platform::X509_ASN_ENCODING, bytes(ders[0]),
                                                                           static_cast<DWORD>(ders[0].size()));
    std::unique_ptr<CertificateFields> fields = readCertificateFields(leaf);
    if (!fields) {
        platform::CertFreeCertificateContext(leaf);
        return TlsServerCheck::kNoCertificate;
    }
    platform::HCERTSTORE sent = platform::CertOpenStore(platform::CERT_STORE_PROV_MEMORY, 0, nullptr);
    for (std::size_t i = 1; sent && i < ders.size(); ++i)
        platform::CertAddEncodedCertificateToStore(sent, platform::X509_ASN_ENCODING, bytes(ders[i]),
                                                   static_cast<DWORD>(ders[i].size()), platform::CERT_STORE_ADD_ALWAYS,
                                                   nullptr);
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof(config);
    HCERTCHAINENGINE engine = nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD status = CERT_TRUST_IS_PARTIAL_CHAIN;
    DWORD info = 0;
    std::string serverAuth = kOidServerAuth;
    char* usages[] = {serverAuth.data()};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage = {USAGE_MATCH_TYPE_AND, {1, usages}};
    if (CertCreateCertificateChainEngine(&config, &engine) &&
        CertGetCertificateChain(engine, leaf, nullptr, sent, &para, 0, nullptr, &chain, &log)) {
        status = chain->TrustStatus.dwErrorStatus;
        info = chain->TrustStatus.dwInfoStatus;
    }
    CertFreeCertificateChain(chain);
    CertFreeCertificateChainEngine(engine);
    if (sent)
        platform::CertCloseStore(sent, 0);
    platform::CertFreeCertificateContext(leaf);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return (info & kChainInfoNotYetValid) && !(info & kChainInfoExpired) ? TlsServerCheck::kNotYetValid
                                                                             : TlsServerCheck::kExpired;
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return TlsServerCheck::kSignature;
    if ((status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) ||
        ((status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) && !(info & (kChainInfoExtendedKeyUsage | kChainInfoKeyUsage))))
        return TlsServerCheck::kNotACa;
    if (status & (CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT))
        return TlsServerCheck::kBadExtension;
    if (status & CERT_TRUST_INVALID_NAME_CONSTRAINTS)
        return TlsServerCheck::kNameConstraints;
    if ((status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) && (info & kChainInfoExtendedKeyUsage))
        return TlsServerCheck::kNotForServers;
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return TlsServerCheck::kKeyNotForServers;
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return TlsServerCheck::kUntrustedRoot;
    if (!certificateNamesHost(*fields, host != nullptr ? host : "")) {
        log.logData("hostname", host != nullptr ? host : "");
        return TlsServerCheck::kNameMismatch;
    }
    return TlsServerCheck::kVerified;
}

} // namespace tessik
