#include "netlib/pki/MsMessages.h"

#include <cstring>
#include <memory>
#include <vector>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/CipherOids.h"
#include "netlib/crypto/CryptoAlg.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/CryptMessages.h"
#include "netlib/pki/CryptoSP.h"
#include "netlib/pki/MsCertificate.h"

namespace tessik {

namespace {

constexpr DWORD kEncodeBufferSize = 500;
constexpr unsigned int kRc4SaltSize = 11;
constexpr DWORD kRc4AuxBits = 88;
constexpr int kRc2Bits128 = 128;
constexpr int kRc2Bits64 = 64;
constexpr int kRc2Bits56 = 56;
constexpr DWORD kRc2Version128 = 58;
constexpr DWORD kRc2Version64 = 120;
constexpr DWORD kRc2Version56 = 52;
constexpr DWORD kRc2VersionOther = 160;
constexpr DWORD kDecryptRoom = 32;
constexpr DWORD kEncryptRoom = 4;

// The message call: MY of the user and of the machine.
bool messageLevel(const DataBuffer& message, DataBuffer& plaintext, Certificate** recipient, LogBase& log) {
    plaintext.clear();
    if (recipient)
        *recipient = nullptr;
    std::vector<platform::HCERTSTORE> stores;
    for (DWORD location : {platform::CERT_SYSTEM_STORE_CURRENT_USER, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
        platform::HCERTSTORE store = platform::CertOpenStore(platform::CERT_STORE_PROV_SYSTEM_W,
                                                             location | platform::CERT_STORE_READONLY_FLAG, "MY");
        if (store)
            stores.push_back(store);
        else
            log.logLastError();
    }
    auto closeAll = [&] {
        for (platform::HCERTSTORE s : stores)
            platform::CertCloseStore(s, 0);
    };
    if (stores.empty()) {
        log.logLastError();
        log.logError(msmessage_msg::kNoStores);
        return false;
    }
    CRYPT_DECRYPT_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = kMsgEncoding;
    para.cCertStore = static_cast<DWORD>(stores.size());
    para.rghCertStore = stores.data();
    DWORD size = 0;
    if (!CryptDecryptMessage(&para, message.getData(), message.getSize(), nullptr, &size, nullptr)) {
        log.logLastError();
        log.logError(msmessage_msg::kDecryptFailed1);
        closeAll();
        return false;
    }
    DataBuffer room(size + kDecryptRoom);
    room.setSize(size + kDecryptRoom);
    DWORD got = room.getSize();
    platform::PCCERT_CONTEXT context = nullptr;
    if (!CryptDecryptMessage(&para, message.getData(), message.getSize(), room.getData(), &got,
                             recipient ? &context : nullptr)) {
        log.logLastError();
        log.logError(msmessage_msg::kDecryptFailed2);
        closeAll();
        return false;
    }
    plaintext.append(room.getData(), got);
    room.secureClear();
    if (context && recipient) {
        LogNull quiet;
        *recipient = createCertFromMsContext(context, false, quiet);
    } else if (context) {
        platform::CertFreeCertificateContext(context);
    }
    closeAll();
    return true;
}

} // namespace

bool msDecryptLowLevel(const DataBuffer& message, DataBuffer& plaintext, LogBase& log) {
    plaintext.clear();
    HCRYPTMSG msg = CryptMsgOpenToDecode(kMsgEncoding, 0, 0, 0, nullptr, nullptr);
    if (!msg || !CryptMsgUpdate(msg, message.getData(), message.getSize(), TRUE)) {
        if (msg)
            CryptMsgClose(msg);
        log.logLastError();
        log.logError(msmessage_msg::kOpenToDecodeFailed);
        return false;
    }
    std::unique_ptr<CryptMsgState, BOOL (*)(HCRYPTMSG)> owner(msg, CryptMsgClose);
    DWORD type = 0, size = sizeof type;
    if (!CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &type, &size)) {
        log.logLastError();
        log.logError("CryptMsgGetParam CMSG_TYPE_PARAM failed.");
        return false;
    }
    if (type != CMSG_ENVELOPED) {
        log.logError(msmessage_msg::kNotEnveloped);
        return false;
    }
    if (!CryptMsgGetParam(msg, CMSG_INNER_CONTENT_TYPE_PARAM, 0, nullptr, &size)) {
        log.logError("CryptMsgGetParam CMSG_INNER_CONTENT_TYPE_PARAM failed.");
        return false;
    }
    if (size == 0) {
        // Nothing says what the content is, but it is there all the same:
        // decrypt it rather than report an empty success.
        log.logInfo(msmessage_msg::kInnerContentEmpty);
    } else {
        std::vector<char> innerType(size);
        if (!CryptMsgGetParam(msg, CMSG_INNER_CONTENT_TYPE_PARAM, 0, innerType.data(), &size)) {
            log.logError("CryptMsgGetParam CMSG_INNER_CONTENT_TYPE_PARAM(2) failed.");
            return false;
        }
        log.logData("innerContentType", innerType.data());
    }
    if (!CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, 0, nullptr, &size)) {
        log.logError("CryptMsgGetParam CMSG_RECIPIENT_INFO_PARAM failed.");
        return false;
    }
    log.logDataLong("CertRecipientInfoSize", static_cast<int>(size));
    std::vector<BYTE> certInfo(size);
    if (!CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, 0, certInfo.data(), &size)) {
        log.logError("CryptMsgGetParam CMSG_RECIPIENT_INFO_PARAM(2) failed.");
        return false;
    }
    std::unique_ptr<CertificateStore> store(CertificateStore::openCurrentUserMyStore(true, &log));
    if (!store) {
        log.logError("Failed to open current-user cert store.");
        return false;
    }
    platform::PCCERT_CONTEXT cert = CertGetSubjectCertificateFromStore(
        store->handle(), kMsgEncoding, reinterpret_cast<const CERT_INFO*>(certInfo.data()));
    if (!cert) {
        log.logLastError();
        log.logError(msmessage_msg::kSubjectCertFailed);
        return false;
    }
    DWORD infoSize = 0;
    std::vector<unsigned char> provInfo;
    bool haveInfo =
        platform::CertGetCertificateContextProperty(cert, platform::CERT_KEY_PROV_INFO_PROP_ID, nullptr, &infoSize) &&
        infoSize;
    if (haveInfo) {
        provInfo.resize(infoSize);
        haveInfo = platform::CertGetCertificateContextProperty(cert, platform::CERT_KEY_PROV_INFO_PROP_ID,
                                                               provInfo.data(), &infoSize);
    }
    platform::CertFreeCertificateContext(cert);
    if (!haveInfo) {
        log.logLastError();
        log.logError("CertGetCertificateContextProperty failed.");
        return false;
    }
    const auto* info = reinterpret_cast<const platform::CRYPT_KEY_PROV_INFO*>(provInfo.data());
    platform::HCRYPTPROV prov = 0;
    if (!platform::CryptAcquireContextA(&prov, info->pwszContainerName,
                                        info->pwszProvName && *info->pwszProvName ? info->pwszProvName : nullptr,
                                        info->dwProvType, info->dwFlags & ~platform::CRYPT_NEWKEYSET)) {
        log.logLastError();
        log.logError("CryptAcquireContext failed.");
        return false;
    }
    CMSG_CTRL_DECRYPT_PARA para{};
    para.cbSize = sizeof para;
    para.hCryptProv = prov;
    para.dwKeySpec = info->dwKeySpec;
    para.dwRecipientIndex = 0;
    bool ok = CryptMsgControl(msg, 0, CMSG_CTRL_DECRYPT, &para) &&
              CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size);
    if (ok) {
        DataBuffer content(size);
        content.setSize(size);
        ok = CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, content.getData(), &size);
        if (ok)
            plaintext.append(content.getData(), size);
        content.secureClear();
    }
    if (!ok) {
        log.logLastError();
        log.logError(msmessage_msg::kControlFailed);
    }
    platform::CryptReleaseContext(prov, 0);
    return ok;
}

bool msDecrypt1(const DataBuffer& message, DataBuffer& plaintext, Certificate** recipient, LogBase& log) {
    LogContext ctx(log, "msDecrypt1");
    if (messageLevel(message, plaintext, recipient, log))
        return true;
    plaintext.clear();
    LogContext low(log, "LowLevelMsCryptoAlternative");
    return msDecryptLowLevel(message, plaintext, log);
}

bool msEncrypt(CryptoSettings2& settings, const unsigned char* bytes, unsigned int length, ExtPtrArray& certificates,
               DataBuffer& out, LogBase& log) {
    LogContext ctx(log, "msEncrypt");
    if (!bytes || length == 0) {
        log.logError(msmessage_msg::kNothingToEncrypt);
        return false;
    }
    for (int i = 0; i < certificates.getCount(); ++i)
        if (!certificates.elementAt(i)) {
            log.logError(msmessage_msg::kCertArray);
            return false;
        }
    std::unique_ptr<CryptoSP> provider;
    if (settings.m_providerName.getSize()) {
        log.logData("csp_provider", settings.m_providerName.getString());
        log.logData("csp_keyContainer", settings.m_containerName.getString());
        provider.reset(CryptoSP::acquireCspAnyKeyset(settings.m_providerName.getString(),
                                                     settings.m_containerName.getString(), true, log));
        if (!provider)
            log.logError(msmessage_msg::kNoCsp);
    }
    if (!provider)
        provider.reset(CryptoSP::AcquireDefaultCSP(false, true, log));
    if (!provider)
        return false;

    log.logDataLong("numCerts", certificates.getCount());
    std::vector<platform::PCCERT_CONTEXT> contexts;
    if (certificates.getCount()) {
        LogContext certs(log, "msEncryptCerts");
        for (int i = 0; i < certificates.getCount(); ++i) {
            auto* cert = static_cast<Certificate*>(certificates.elementAt(i));
            MsCertificate* ms = cert->getMsCertificate(log);
            if (!ms) {
                log.logError(msmessage_msg::kCertArray);
                return false;
            }
            contexts.push_back(ms->context());
            XString subject;
            ms->getSubjectText(subject, log);
            log.logData("cert_subject", subject.getUtf8());
        }
    }
    std::unique_ptr<CryptoAlg> algorithm(provider->findFirstEncryptionAlgorithm());
    if (!algorithm) {
        log.logError(msmessage_msg::kNoAlgorithms);
        return false;
    }
    StringBuffer oid;
    if (!algorithm->getOid(oid)) {
        log.logError(msmessage_msg::kUnsupportedAlgorithm);
        oid.clear();
    }
    log.logData("alg_name", algorithm->getStringMemberChars());
    log.logDataLong("alg_bits", static_cast<int>(algorithm->getKeyBits()));

    std::vector<BYTE> params(kEncodeBufferSize);
    DWORD paramsSize = 0;
    CMSG_RC4_AUX_INFO rc4Aux{sizeof(CMSG_RC4_AUX_INFO), kRc4AuxBits};
    bool rc4 = oid.equals(alg_oid::kRc4);
    if (rc4) {
        log.logInfo("Need ARC4 Aux Info...");
        unsigned char salt[kRc4SaltSize] = {};
        CRYPT_DATA_BLOB blob{kRc4SaltSize, salt};
        paramsSize = kEncodeBufferSize;
        if (!CryptEncodeObject(kMsgEncoding, X509_OCTET_STRING, &blob, params.data(), &paramsSize))
            paramsSize = 0;
    } else if (oid.equals(alg_oid::kRc2Cbc)) {
        log.logInfo("Adding RC2CBC parameter (1)");
        const int bits = static_cast<int>(algorithm->getKeyBits());
        log.logDataLong("rc2_numBits", bits);
        CRYPT_RC2_CBC_PARAMETERS rc2{};
        rc2.dwVersion = bits == kRc2Bits128  ? kRc2Version128
                        : bits == kRc2Bits64 ? kRc2Version64
                        : bits == kRc2Bits56 ? kRc2Version56
                                             : kRc2VersionOther;
        rc2.fIV = TRUE;
        paramsSize = kEncodeBufferSize;
        if (!CryptEncodeObject(kMsgEncoding, kRc2CbcStructType, &rc2, params.data(), &paramsSize)) {
            log.logLastError();
            log.logError("CryptEncodeObject failed.");
            paramsSize = 0;
        }
    }
    log.logData("encryptOid", oid.getString());
    CRYPT_ENCRYPT_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kMsgEncoding;
    para.hCryptProv = provider->getHandle();
    para.ContentEncryptionAlgorithm.pszObjId = oid.getString();
    para.ContentEncryptionAlgorithm.Parameters = {paramsSize, paramsSize ? params.data() : nullptr};
    if (rc4) {
        log.logInfo("Using ARC4 aux info...");
        para.pvEncryptionAuxInfo = &rc4Aux;
    }
    DWORD size = 0;
    if (!CryptEncryptMessage(&para, static_cast<DWORD>(contexts.size()), contexts.data(), bytes, length, nullptr,
                             &size)) {
        log.logLastError();
        return false;
    }
    log.logDataLong("expectedEncryptedSize", static_cast<int>(size));
    DataBuffer room(size + kEncryptRoom);
    room.setSize(size + kEncryptRoom);
    DWORD got = room.getSize();
    if (!CryptEncryptMessage(&para, static_cast<DWORD>(contexts.size()), contexts.data(), bytes, length, room.getData(),
                             &got)) {
        log.logLastError();
        return false;
    }
    out.append(room.getData(), got);
    return true;
}

} // namespace tessik
