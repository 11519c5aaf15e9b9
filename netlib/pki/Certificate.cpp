#include "netlib/pki/Certificate.h"

#include <cstring>
#include <memory>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/MsCertificate.h"

namespace tessik {

Certificate::~Certificate() {
    delete m_msCert;
    m_privateKeyDer.secureClear();
}

Certificate* Certificate::createFromBytes(const unsigned char* bytes, std::uint32_t n, LogBase& log, bool verbose) {
    auto cert = std::make_unique<Certificate>();
    if (!cert->m_x509.loadFromBytes(bytes, n, log, verbose))
        return nullptr;
    // DER that decodes is not yet a certificate: one without a serial number
    // would only fail later, in every query.
    XString serial;
    LogNull quiet;
    if (!cert->m_x509.getSerialNumberAsIs(serial, quiet)) {
        log.logError(cert_msg::kNotCertificate);
        return nullptr;
    }
    return cert.release();
}

Certificate* Certificate::createFromMsCertificate(MsCertificate* msCert, bool skipKeyAccess, LogBase& log) {
    if (!msCert)
        return nullptr;
    auto cert = std::make_unique<Certificate>();
    cert->m_msCert = msCert;
    DataBuffer der;
    if (!msCert->getDer(der, &log) || !cert->m_x509.loadFromDer(der, log, false))
        return nullptr;
    DataBuffer key;
    bool inaccessible = false;
    if (msCert->exportPrivateKeyDer(skipKeyAccess, key, inaccessible, log) && key.getSize())
        cert->m_privateKeyDer.appendDb(key);
    else
        cert->m_keyUnavailable = inaccessible;
    key.secureClear();
    return cert.release();
}

Certificate* createCertFromMsContext(platform::PCCERT_CONTEXT context, bool skipKeyAccess, LogBase& log) {
    if (!context)
        return nullptr;
    LogContext ctx(log, "createCertFromMsContext");
    return Certificate::createFromMsCertificate(new MsCertificate(context, log), skipKeyAccess, log);
}

Certificate* Certificate::clone() {
    auto copy = std::make_unique<Certificate>();
    if (m_msCert)
        copy->m_msCert = m_msCert->clone();
    copy->m_privateKeyDer.appendDb(m_privateKeyDer);
    DataBuffer der;
    m_x509.getDer(der);
    LogNull quiet;
    copy->m_x509.loadFromDer(der, quiet, false);
    return copy.release();
}

bool Certificate::ensureMsCertificate(LogBase& log) {
    if (m_msCert)
        return true;
    DataBuffer der;
    m_x509.getDer(der);
    if (der.getSize() == 0)
        return false;
    m_msCert = MsCertificate::createFromBinary(der.getData(), der.getSize(), log);
    if (!m_msCert)
        return false;
    if (m_privateKeyDer.getSize())
        m_msCert->setPrivateKeyDer(m_privateKeyDer.getData(), m_privateKeyDer.getSize());
    return true;
}

MsCertificate* Certificate::getMsCertificate(LogBase& log) {
    return ensureMsCertificate(log) ? m_msCert : nullptr;
}

void Certificate::getSubjectDN(XString& out, LogBase& log) {
    out.clear();
    m_x509.getDnText(true, false, out, log);
}

bool Certificate::getIssuerPart(const char* name, XString& out, LogBase& log) {
    out.clear();
    if (!name)
        return false;
    static const struct {
        const char* name;
        bool (TessikX509::*get)(XString&, LogBase&);
    } kParts[] = {
        {"CN", &TessikX509::getIssuerCN}, {"C", &TessikX509::getIssuerC},   {"L", &TessikX509::getIssuerL},
        {"O", &TessikX509::getIssuerO},   {"OU", &TessikX509::getIssuerOU}, {"S", &TessikX509::getIssuerST},
        {"E", &TessikX509::getIssuerE},
    };
    for (const auto& part : kParts)
        if (std::strcmp(name, part.name) == 0)
            return (m_x509.*part.get)(out, log);
    log.logError(cert_msg::kUnrecognizedIssuerPart);
    log.logData("part", name);
    return false;
}

bool Certificate::getSerialNumber(XString& out, LogBase& log) {
    return m_x509.getSerialNumber(out, log);
}

bool Certificate::getDer(DataBuffer& out, LogBase& log) {
    (void)log;
    m_x509.getDer(out);
    return out.getSize() != 0;
}

bool Certificate::getPublicKeyDer(DataBuffer& out, LogBase& log) {
    out.clear();
    return m_x509.getPublicKeyDer(out, log);
}

Asn1* Certificate::getIssuerAsn1(LogBase& log) {
    return m_x509.getNameAsn1(false, log);
}

bool Certificate::getSubjectKeyId(DataBuffer& out, LogBase& log) {
    (void)log;
    // Read where the stores and the chain engine read it.
    DataBuffer der;
    m_x509.getDer(der);
    LogNull quiet;
    std::unique_ptr<Asn1> cert(decodeBerFirst(der.getData(), der.getSize(), nullptr, quiet));
    MsCertificate::getKeyIdentifiers(cert.get(), out);
    return out.getSize() != 0;
}

bool Certificate::isSignatureVerified(LogBase& log) {
    LogNull quiet;
    return ensureMsCertificate(quiet) && m_msCert->isSignatureValid(log);
}

bool Certificate::hasTrustedRoot(LogBase& log) {
    LogNull quiet;
    return ensureMsCertificate(quiet) && m_msCert->isRootTrusted(log);
}

bool Certificate::isExpired(LogBase& log) {
    LogNull quiet;
    return ensureMsCertificate(quiet) && m_msCert->isExpired(log);
}

bool Certificate::getPrivateKeyDer(DataBuffer& out, bool& keyUnavailable, bool keyExchange, LogBase& log) {
    keyUnavailable = false;
    out.clear();
    if (m_privateKeyDer.getSize())
        return out.appendDb(m_privateKeyDer);
    log.logInfo(cert_msg::kViaCryptoApi);
    bool reported = false;
    if (exportPrivateKeyViaCryptoApi(reported, keyExchange, log))
        return out.appendDb(m_privateKeyDer);
    m_keyUnavailable = reported;
    keyUnavailable = reported;
    return false;
}

bool Certificate::getPrivateKeyDerAnySpec(DataBuffer& out, bool& keyUnavailable, LogBase& log) {
    if (getPrivateKeyDer(out, keyUnavailable, false, log))
        return true;
    return getPrivateKeyDer(out, keyUnavailable, true, log);
}

bool Certificate::exportPrivateKeyViaCryptoApi(bool& keyUnavailable, bool keyExchange, LogBase& log) {
    keyUnavailable = false;
    if (m_privateKeyDer.getSize())
        return true;
    if (!ensureMsCertificate(log))
        return false;
    log.logInfo(keyExchange ? cert_msg::kForKeyExchange : cert_msg::kForSigning);
    m_msCert->setForKeyExchange(keyExchange);
    if (!m_msCert->checkPrivateKey(log))
        return false;
    DataBuffer key;
    if (!m_msCert->exportPrivateKeyDer(false, key, keyUnavailable, log) || key.getSize() == 0)
        return false;
    m_privateKeyDer.appendDb(key);
    key.secureClear();
    return true;
}

void Certificate::setPrivateKeyDer(const DataBuffer& der) {
    m_privateKeyDer.secureClear();
    m_privateKeyDer.appendDb(der);
    if (m_msCert)
        m_msCert->setPrivateKeyDer(der.getData(), der.getSize());
}

XCert::~XCert() {
    m_privateKeyDer.secureClear();
    delete m_x509;
    delete m_certificate;
}

void XCert::setCertDer(const DataBuffer& der) {
    m_certDer.clear();
    m_certDer.appendDb(der);
    delete m_x509;
    m_x509 = nullptr;
}

void XCert::setPrivateKeyDer(const DataBuffer& der) {
    m_privateKeyDer.secureClear();
    m_privateKeyDer.appendDb(der);
}

void XCert::setCertificate(Certificate* certificate) {
    if (certificate == m_certificate)
        return;
    delete m_certificate;
    m_certificate = certificate;
}

TessikX509* XCert::getX509() {
    if (m_x509)
        return m_x509;
    if (m_certDer.getSize() == 0 && m_certificate) {
        LogNull quiet;
        m_certificate->getDer(m_certDer, quiet);
    }
    if (m_certDer.getSize() == 0)
        return nullptr;
    auto x509 = std::make_unique<TessikX509>();
    LogNull quiet;
    if (!x509->loadFromDer(m_certDer, quiet, false))
        return nullptr;
    m_x509 = x509.release();
    return m_x509;
}

void XCert::getCertDer(DataBuffer& out) {
    out.clear();
    if (m_certDer.getSize()) {
        out.appendDb(m_certDer);
    } else if (m_x509) {
        m_x509->getDer(out);
    } else if (m_certificate) {
        LogNull quiet;
        m_certificate->getDer(out, quiet);
    }
}

void XCert::getPrivateKeyDer(DataBuffer& out) const {
    out.clear();
    out.appendDb(m_privateKeyDer);
}

XCert* XCert::clone() {
    auto copy = std::make_unique<XCert>();
    getCertDer(copy->m_certDer);
    copy->m_privateKeyDer.appendDb(m_privateKeyDer);
    return copy.release();
}

void copyXCertArray(const ExtPtrArray* source, ExtPtrArray* destination) {
    if (!source || !destination || source == destination)
        return;
    destination->removeAllObjects();
    for (int i = 0; i < source->getCount(); ++i) {
        auto* entry = static_cast<XCert*>(source->elementAt(i));
        if (entry)
            destination->appendPtr(entry->clone());
    }
}

} // namespace tessik
