#include "netlib/pki/CertRepository.h"

#include <cstring>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {
constexpr std::uint32_t kMapBuckets = 400;
constexpr int kStoredKeyBits = 128;
constexpr const char* kOpenTag = "<compressedDer>";
constexpr const char* kCloseTag = "</compressedDer>";
constexpr const char* kSubjectKeyIdPrefix = "SubjectKeyId:";

void serialKey(const char* serialHex, const char* issuerCn, StringBuffer& key) {
    key.clear();
    key.append(serialHex);
    key.append(":");
    key.append(issuerCn);
}

void subjectKeyIdKey(const char* keyId, StringBuffer& key) {
    key.clear();
    key.append(kSubjectKeyIdPrefix);
    key.append(keyId);
}
} // namespace

CertRepository::CertRepository() : m_certMap(kMapBuckets), m_keyMap(kMapBuckets) {}

CertRepository::~CertRepository() {
    m_keyPassword.secureClear();
}

void CertRepository::setKeyPassword(const char* password) {
    m_keyPassword.secureClear();
    m_keyPassword.append(password);
}

bool CertRepository::lookupWithZeroRetry(const HashMap& map, StringBuffer& key, StringBuffer& out) const {
    if (map.lookupString(key.getString(), out))
        return true;
    if (!key.beginsWith("00"))
        return false;
    key.replaceFirst("00", "");
    return map.lookupString(key.getString(), out);
}

bool CertRepository::findCert(const char* serialHex, const char* issuerCn, StringBuffer& out, LogBase& log,
                              bool verbose) {
    out.clear();
    StringBuffer key;
    serialKey(serialHex, issuerCn, key);
    if (verbose)
        log.logData("findCert", key.getString());
    return lookupWithZeroRetry(m_certMap, key, out);
}

bool CertRepository::findCertBySubjectKeyId(const char* keyId, StringBuffer& out, LogBase& log, bool verbose) {
    out.clear();
    StringBuffer key;
    subjectKeyIdKey(keyId, key);
    if (verbose)
        log.logData("findCertBySubjectKeyId", key.getString());
    return m_certMap.lookupString(key.getString(), out);
}

void extractCompressedDer(const StringBuffer& entry, DataBuffer& out, LogBase& log) {
    const char* text = entry.getString();
    const char* open = std::strstr(text, kOpenTag);
    const char* close = open ? std::strstr(open, kCloseTag) : nullptr;
    if (!open || !close)
        return;
    StringBuffer element;
    element.appendBytes(open, static_cast<int>(close + std::strlen(kCloseTag) - open));
    ClsXml xml;
    if (!xml.LoadXml(element.getString(), true))
        return;
    if (!xml.GetBinaryContent(out, true, false, nullptr)) {
        log.logError(certrepo_msg::kInflateFailed);
        out.clear();
    }
}

bool CertRepository::findCertDer(const char* serialHex, const char* issuerCn, DataBuffer& out, LogBase& log,
                                 bool verbose) {
    out.clear();
    StringBuffer entry;
    if (findCert(serialHex, issuerCn, entry, log, verbose))
        extractCompressedDer(entry, out, log);
    return out.getSize() != 0;
}

bool CertRepository::findCertDerBySubjectKeyId(const char* keyId, DataBuffer& out, LogBase& log, bool verbose) {
    out.clear();
    StringBuffer entry;
    if (findCertBySubjectKeyId(keyId, entry, log, verbose))
        extractCompressedDer(entry, out, log);
    return out.getSize() != 0;
}

bool CertRepository::decryptKeyEntry(const StringBuffer& entry, DataBuffer& out, LogBase& log) const {
    DataBuffer encrypted;
    ContentCoding::decodeBase64(entry.getString(), static_cast<unsigned int>(entry.getSize()), encrypted);
    StringBuffer password;
    password.appendSb(m_keyPassword);
    password.scrambleBytes();
    bool ok =
        symmetricDecryptBytes(kStoredKeyBits, password.getString(), encrypted.getData(), encrypted.getSize(), out, log);
    password.secureClear();
    return ok && out.getSize() != 0;
}

bool CertRepository::findPrivateKeyBySubjectId(const char* keyId, DataBuffer& out, LogBase& log, bool verbose) {
    out.clear();
    StringBuffer key, entry;
    subjectKeyIdKey(keyId, key);
    if (verbose)
        log.logData("findPrivateKeyBySubjectId", key.getString());
    if (m_keyMap.lookupString(key.getString(), entry) && entry.getSize() && decryptKeyEntry(entry, out, log)) {
        if (verbose)
            log.logInfo(certrepo_msg::kKeyFound);
        return true;
    }
    out.clear();
    if (verbose)
        log.logInfo(certrepo_msg::kKeyNotFoundBySubjectId);
    return false;
}

bool CertRepository::findPrivateKey(const char* serialHex, const char* issuerCn, DataBuffer& out, LogBase& log,
                                    bool verbose) {
    out.clear();
    StringBuffer key, entry;
    serialKey(serialHex, issuerCn, key);
    if (verbose)
        log.logData("findPrivateKey", key.getString());
    if (lookupWithZeroRetry(m_keyMap, key, entry) && entry.getSize() && decryptKeyEntry(entry, out, log)) {
        if (verbose)
            log.logInfo(certrepo_msg::kKeyFound);
        return true;
    }
    out.clear();
    if (verbose)
        log.logInfo(certrepo_msg::kKeyNotFound);
    return false;
}

} // namespace tessik
