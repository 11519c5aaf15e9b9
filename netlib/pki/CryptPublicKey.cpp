#include "netlib/pki/CryptPublicKey.h"

#include <memory>

#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/CryptoServices.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ClsCert.h"
#include "netlib/pki/MsMessages.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/Pkcs7EnvelopedData.h"
#include "netlib/pki/SystemCerts.h"
#include "netlib/streams/DataSource.h"

namespace tessik {

namespace {

DataBuffer* decryptHook(ClsCrypt& crypt, const DataBuffer& input, LogBase& log) {
    return decryptPkcs7(crypt, input, log, crypt.getVerboseLog());
}

const CryptPublicKeyHooks kHooks{cryptPublicKeyEncrypt, decryptHook};

SystemCerts& systemCertsOf(ClsCrypt& crypt) {
    std::unique_ptr<TessikObject>& slot = crypt.systemCertsSlot();
    if (!slot)
        slot = std::make_unique<SystemCerts>();
    return static_cast<SystemCerts&>(*slot);
}

} // namespace

void installPkiServices() {
    installCryptoServices();
    installCryptPublicKeyHooks(&kHooks);
}

void addCryptEncryptCertificate(ClsCrypt& crypt, Certificate* certificate) {
    if (certificate)
        crypt.encryptCerts().appendPtr(certificate);
}

void setCryptDecryptCertificate(ClsCrypt& crypt, ClsCert* certificate) {
    crypt.decryptCertSlot().reset(certificate);
}

ClsCert* lastCryptDecryptCertificate(ClsCrypt& crypt) {
    return static_cast<ClsCert*>(crypt.lastDecryptCertSlot().get());
}

DataBuffer* cryptPublicKeyEncrypt(ClsCrypt& crypt, DataBuffer& input, void* context, LogBase& log) {
    (void)context;
    log.logData("algorithm", "pki");
    ExtPtrArray& certs = crypt.encryptCerts();
    if (certs.getCount() == 0) {
        log.logError(cryptpk_msg::kNoEncryptCerts);
        return nullptr;
    }
    if (auto* first = static_cast<Certificate*>(certs.elementAt(0))) {
        first->getSubjectDN(crypt.lastCertSubject(), log);
        crypt.setDisplayName("pki");
    }
    auto out = std::make_unique<DataBuffer>();
    bool ok;
    if (crypt.cryptoSettings().m_providerName.beginsWith(cryptpk_msg::kGostProviderPrefix)) {
        log.logInfo(cryptpk_msg::kMustUseMsCrypto);
        ok = msEncrypt(crypt.cryptoSettings(), input.getData(), input.getSize(), certs, *out, log);
    } else {
        MemoryDataSource source;
        source.setData(input.getData(), input.getSize(), false);
        ok = createPkcs7Enveloped(source, crypt.getPkcs7ContentEncAlgId(), crypt.getKeyLength(), certs, *out, log,
                                  crypt.getVerboseLog());
    }
    return ok ? out.release() : nullptr;
}

DataBuffer* decryptPkcs7(ClsCrypt& crypt, const DataBuffer& input, LogBase& log, bool verbose) {
    log.logData("algorithm", "pki");
    crypt.lastCertSubject().clear();
    crypt.setDisplayName("pki");
    auto* decryptCert = static_cast<ClsCert*>(crypt.decryptCertSlot().get());
    Certificate* given = nullptr;
    XString serial, issuerCn;
    bool mustUseCryptoApi = false;
    DataBuffer privateKey;
    if (decryptCert) {
        log.logInfo(cryptpk_msg::kSpecificCert);
        given = decryptCert->getCertificate();
        if (!given) {
            log.logError(cryptpk_msg::kCertNull);
            return nullptr;
        }
        given->getSerialNumber(serial, log);
        given->getIssuerPart("CN", issuerCn, log);
        log.logData("certSerialNumber", serial.getUtf8());
        log.logData("certIssuerCN", issuerCn.getUtf8());
        if (crypt.privateKey().getSize() == 0) {
            log.logInfo(cryptpk_msg::kPreinstalledKey);
            if (!given->getPrivateKeyDer(privateKey, mustUseCryptoApi, true, log) && !mustUseCryptoApi) {
                log.logError(cryptpk_msg::kNoPrivateKey);
                return nullptr;
            }
        } else {
            log.logInfo(cryptpk_msg::kPrespecifiedKey);
            privateKey.appendDb(crypt.privateKey());
        }
    }
    auto out = std::make_unique<DataBuffer>();
    Pkcs7 p7;
    if (!mustUseCryptoApi && !p7.loadPkcs7Der(input, nullptr, log, verbose)) {
        log.logError(cryptpk_msg::kNotPkcs7);
        return nullptr;
    }
    std::unique_ptr<Certificate> used;
    DataBuffer certDer;
    bool ok;
    if (!decryptCert) {
        log.logInfo(cryptpk_msg::kSearching);
        bool keyLocated = false;
        ok = p7.openContent(systemCertsOf(crypt), *out, certDer, keyLocated, log, verbose);
        if (!ok && keyLocated) {
            log.logInfo(cryptpk_msg::kViaCryptoApi);
            out->clear();
            certDer.clear();
            Certificate* recipient = nullptr;
            ok = msDecrypt1(input, *out, &recipient, log);
            used.reset(recipient);
        }
    } else {
        log.logInfo(cryptpk_msg::kPrespecifiedCert);
        if (!mustUseCryptoApi) {
            DataBuffer givenDer;
            std::unique_ptr<CertificateFields> fields;
            if (given->getDer(givenDer, log))
                fields = readCertificateFields(
                    std::string_view(reinterpret_cast<const char*>(givenDer.getData()), givenDer.getSize()));
            ok = fields && p7.unEnvelope(*fields, privateKey, *out, log, verbose);
            if (ok)
                used.reset(given->clone());
        } else {
            log.logInfo(cryptpk_msg::kViaCryptoApi);
            Certificate* recipient = nullptr;
            ok = msDecrypt1(input, *out, &recipient, log);
            used.reset(recipient);
        }
    }
    privateKey.secureClear();
    if (!ok) {
        log.logError(cryptpk_msg::kUnenvelopeFailed);
        return nullptr;
    }
    if (!used && certDer.getSize())
        used.reset(Certificate::createFromBytes(certDer.getData(), certDer.getSize(), log, verbose));
    if (used) {
        used->getSubjectDN(crypt.lastCertSubject(), log);
        crypt.setDisplayName("pki");
        crypt.lastDecryptCertSlot() = std::make_unique<ClsCert>(used.release(), nullptr, false);
    }
    return out.release();
}

} // namespace tessik
