#include "netlib/pki/Pkcs7EncryptedData.h"

#include <cstring>
#include <memory>

#include "netlib/core/ClsXml.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/Pkcs12.h"
#include "netlib/pki/AlgorithmIdentifier.h"
#include "netlib/pki/Pkcs7.h"

namespace tessik {

namespace {

struct PbeRow {
    const char* oid;
    const char* cipher;
    int keyBits;
    const char* failure;
};

constexpr PbeRow kPbeRows[] = {
    {"1.2.840.113549.1.12.1.1", "rc4", 128, "PKCS12 decryption failed (SHA1 and 128-bit RC4)"},
    {"1.2.840.113549.1.12.1.2", "rc4", 40, "PKCS12 decryption failed (SHA1 and 40-bit RC4)"},
    {"1.2.840.113549.1.12.1.3", "3des", 192, "PKCS12 decryption failed (SHA1 and 3 key triple DES)"},
    {"1.2.840.113549.1.12.1.4", "3des", 128, "PKCS12 decryption failed (SHA1 and 2 key triple DES)"},
    {"1.2.840.113549.1.12.1.5", "rc2", 128, "PKCS12 decryption failed (SHA1 and 128-bit RC2)"},
    {"1.2.840.113549.1.12.1.6", "rc2", 40, "PKCS12 decryption failed (SHA1 and 40-bit RC2)"},
};

} // namespace

Pkcs7_EncryptedData::~Pkcs7_EncryptedData() {
    content.secureClear();
}

bool Pkcs7_EncryptedData::loadXml(ClsXml& xml, const ExtPtrArray* extList, const char* password, LogBase& log,
                                  bool verbose) {
    LogContext ctx(log, "Pkcs7_EncryptedData");
    if (!xml.tagEquals("sequence")) {
        log.logError(encrypteddata_msg::kNotSequence);
        return false;
    }
    if (!xml.navigateToFirstChild() || !xml.tagEquals("oid") || !xml.contentEquals(pkcs7_oid::kEncryptedData)) {
        xml.navigateToRoot();
        log.logError(encrypteddata_msg::kNotEncryptedData);
        return false;
    }
    xml.navigateToRoot();
    return decryptFromXml(xml, extList, password, log, verbose);
}

bool Pkcs7_EncryptedData::decryptFromXml(ClsXml& xml, const ExtPtrArray* extList, const char* password, LogBase& log,
                                         bool verbose) {
    content.clear();
    if (!password)
        password = "";
    XString unused;
    std::unique_ptr<ClsXml> at(xml.newRefToSelf());
    if (!at->resolvePath("contextSpecific|sequence|sequence|sequence|$", unused, log)) {
        log.logError(encrypteddata_msg::kNoAlgorithm);
        return false;
    }
    AlgorithmIdentifier algorithm;
    if (!algorithm.loadXml(*at, log, verbose))
        return false;
    DataBuffer encrypted;
    std::unique_ptr<ClsXml> octets(xml.newRefToSelf());
    if (octets->resolvePath("contextSpecific|sequence|sequence|contextSpecific|octets|$", unused, log)) {
        octets->navigateToParent();
        for (int i = 0; i < octets->getNumChildren(); ++i) {
            std::unique_ptr<ClsXml> part(octets->getChild(i));
            getOctetsFromXml(*part, extList, encrypted);
        }
    } else if (std::unique_ptr<ClsXml> tagged(xml.newRefToSelf());
               tagged->resolvePath("contextSpecific|sequence|sequence|contextSpecific|$", unused, log)) {
        getOctetsFromXml(*tagged, extList, encrypted);
    } else {
        log.logError(encrypteddata_msg::kNoContent);
        return false;
    }
    log.logDataLong("numEncryptedBytes", static_cast<int>(encrypted.getSize()));
    return pkcs12PbeDecryptByOid(algorithm, encrypted, content, password, log);
}

bool pkcs12PbeDecryptByOid(const AlgorithmIdentifier& algorithm, DataBuffer& encrypted, DataBuffer& out,
                           const char* password, LogBase& log) {
    XString pw;
    pw.setFromUtf8(password ? password : "");
    for (const PbeRow& row : kPbeRows) {
        if (!algorithm.oid.equals(row.oid))
            continue;
        bool ok = pkcs12PbeDecrypt(pw, "sha1", row.cipher, row.keyBits, algorithm.salt, algorithm.iterations, encrypted,
                                   out, log);
        if (!ok)
            log.logError(row.failure);
        pw.secureClear();
        return ok;
    }
    log.logError(encrypteddata_msg::kUnsupportedPbe);
    log.logData("oid", algorithm.oid.getString());
    return false;
}

} // namespace tessik
