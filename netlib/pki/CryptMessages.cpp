#include "netlib/pki/CryptMessages.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/CipherOids.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/KeyContainer.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/Pkcs7EnvelopedData.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/streams/DataSource.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

constexpr int kAesBits128 = 128;
constexpr int kAesBits192 = 192;
constexpr int kAesBits256 = 256;
constexpr int kDesBits = 40;
constexpr int kDes3Bits = 192;
constexpr int kRc4DefaultBits = 40;
constexpr int kRc2DefaultBits = 40;
constexpr int kRc2FirstBitsVersion = 256;

struct Rc2Version {
    DWORD version;
    int bits;
};
constexpr Rc2Version kRc2Versions[] = {{160, 40}, {52, 56}, {120, 64}, {58, 128}};

// Writes a result the platform way: the size alone when out is null.
BOOL answer(const DataBuffer& value, BYTE* out, DWORD* outLen) {
    if (!outLen) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!out) {
        *outLen = value.getSize();
        return TRUE;
    }
    if (*outLen < value.getSize()) {
        *outLen = value.getSize();
        platform::SetLastError(platform::ERROR_MORE_DATA);
        return FALSE;
    }
    if (value.getSize())
        std::memcpy(out, value.getData(), value.getSize());
    *outLen = value.getSize();
    return TRUE;
}

// A recipient's issuer Name DER and serial (big-endian content); false for
// one named by its key identifier.
bool recipientId(const RecipientInfo& recipient, std::string& issuer, std::string& serial) {
    if (recipient.id.byKeyId || recipient.id.issuer.empty())
        return false;
    issuer = recipient.id.issuer;
    serial = recipient.id.serial;
    return true;
}

// The PKCS#1 DER of the provider's key, exportable or not.
bool providerKeyDer(platform::HCRYPTPROV prov, DWORD keySpec, DataBuffer& der) {
    platform::HCRYPTKEY key = 0;
    if (!platform::CryptGetUserKey(prov, keySpec, &key))
        return false;
    std::vector<BYTE> blob;
    bool ok = platform::ProviderKeyBlob(key, blob);
    platform::CryptDestroyKey(key);
    LogNull quiet;
    ok = ok && KeyContainer::blobToDer(blob.data(), static_cast<unsigned int>(blob.size()), der, quiet);
    std::fill(blob.begin(), blob.end(), 0);
    return ok;
}

// The content of an envelope for one of its recipients, with a key DER.
bool openFor(Pkcs7& p7, const RecipientInfo& recipient, const DataBuffer& keyDer, DataBuffer& out) {
    LogNull quiet;
    return p7.envelopedData() && p7.envelopedData()->openWith(recipient, keyDer, out, quiet, false);
}

// The recipient's certificate and key from the stores, and the content.
bool decryptWithStores(Pkcs7& p7, const CRYPT_DECRYPT_MESSAGE_PARA& para, DataBuffer& out,
                       platform::PCCERT_CONTEXT* recipient) {
    Pkcs7_EnvelopedData* envelope = p7.envelopedData();
    using Held = std::shared_ptr<const platform::CERT_CONTEXT>;
    Held opened;
    auto find = [&](std::vector<EnvelopeKey>& keys) {
        for (DWORD s = 0; s < para.cCertStore; ++s)
            for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(para.rghCertStore[s], nullptr); c;
                 c = platform::CertEnumCertificatesInStore(para.rghCertStore[s], c)) {
                Held cert(platform::CertDuplicateCertificateContext(c), platform::CertFreeCertificateContext);
                keys.push_back({std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded),
                                [&opened, cert](DataBuffer& keyDer) {
                                    platform::HCRYPTPROV prov = 0;
                                    DWORD keySpec = 0;
                                    BOOL mustFree = FALSE;
                                    const bool got = platform::CryptAcquireCertificatePrivateKey(
                                                         cert.get(), 0, nullptr, &prov, &keySpec, &mustFree) &&
                                                     providerKeyDer(prov, keySpec, keyDer);
                                    if (prov)
                                        platform::CryptReleaseContext(prov, 0);
                                    opened = cert;
                                    return got;
                                }});
            }
    };
    std::string certDer;
    LogNull quiet;
    int keysLeft = kMaxEnvelopeKeyTries;
    if (!envelope || !envelope->openWithFoundKeys(find, out, certDer, keysLeft, quiet, false)) {
        platform::SetLastError(CRYPT_E_RECIPIENT_NOT_FOUND);
        return false;
    }
    if (recipient)
        *recipient = platform::CertDuplicateCertificateContext(opened.get());
    return true;
}

// The crypt component's cipher id and key bits for a content algorithm.
bool contentAlgorithm(const CRYPT_ENCRYPT_MESSAGE_PARA& para, int& algorithmId, int& bits) {
    const char* oid = para.ContentEncryptionAlgorithm.pszObjId ? para.ContentEncryptionAlgorithm.pszObjId : "";
    if (std::strcmp(oid, alg_oid::kRc2Cbc) == 0) {
        algorithmId = kCipherRc2;
        bits = kRc2DefaultBits;
        const CRYPT_DATA_BLOB& params = para.ContentEncryptionAlgorithm.Parameters;
        LogNull quiet;
        std::unique_ptr<Asn1> seq(params.cbData ? decodeBerFirst(params.pbData, params.cbData, nullptr, quiet)
                                                : nullptr);
        const Asn1* version = seq ? seq->getChild(0) : nullptr;
        if (version && version->tag == asn::kTagInteger) {
            DataBuffer v;
            version->getContent(v);
            DWORD number = 0;
            for (unsigned int i = 0; i < v.getSize() && i < 4; ++i)
                number = number << 8 | v.getData()[i];
            for (const Rc2Version& row : kRc2Versions)
                if (row.version == number)
                    bits = row.bits;
            if (number >= kRc2FirstBitsVersion)
                bits = static_cast<int>(number);
        }
        return true;
    }
    if (std::strcmp(oid, alg_oid::kRc4) == 0) {
        algorithmId = kCipherRc4;
        const auto* aux = static_cast<const CMSG_RC4_AUX_INFO*>(para.pvEncryptionAuxInfo);
        bits = aux && aux->dwBitLen ? static_cast<int>(aux->dwBitLen) : kRc4DefaultBits;
        return true;
    }
    const struct {
        const char* oid;
        int id;
        int bits;
    } kFixed[] = {{alg_oid::kDesCbc, kCipherDes, kDesBits},
                  {alg_oid::kDesEde3Cbc, kCipherDes, kDes3Bits},
                  {alg_oid::kAes128Cbc, kCipherAes, kAesBits128},
                  {alg_oid::kAes192Cbc, kCipherAes, kAesBits192},
                  {alg_oid::kAes256Cbc, kCipherAes, kAesBits256}};
    for (const auto& row : kFixed)
        if (std::strcmp(oid, row.oid) == 0) {
            algorithmId = row.id;
            bits = row.bits;
            return true;
        }
    return false;
}

} // namespace

struct CryptMsgState {
    DataBuffer bytes;
    std::unique_ptr<Pkcs7> message;
    DataBuffer content;
    bool decrypted = false;
};

BOOL CryptDecryptMessage(const CRYPT_DECRYPT_MESSAGE_PARA* para, const BYTE* blob, DWORD blobLen, BYTE* out,
                         DWORD* outLen, platform::PCCERT_CONTEXT* recipient) {
    if (recipient)
        *recipient = nullptr;
    if (!para || para->cbSize != sizeof(CRYPT_DECRYPT_MESSAGE_PARA) || !blob || !outLen) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Pkcs7 p7;
    // Read where it lies: the message is not held twice.
    DataBuffer der;
    der.borrowData(blob, blobLen);
    LogNull quiet;
    if (!p7.loadPkcs7Der(der, nullptr, quiet, false)) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    if (p7.contentType() != kPkcs7Enveloped) {
        platform::SetLastError(CRYPT_E_UNEXPECTED_MSG_TYPE);
        return FALSE;
    }
    DataBuffer plain;
    platform::PCCERT_CONTEXT found = nullptr;
    if (!decryptWithStores(p7, *para, plain, out && recipient ? &found : nullptr))
        return FALSE;
    BOOL ok = answer(plain, out, outLen);
    plain.secureClear();
    if (ok && found)
        *recipient = found;
    else if (found)
        platform::CertFreeCertificateContext(found);
    return ok;
}

BOOL CryptEncryptMessage(const CRYPT_ENCRYPT_MESSAGE_PARA* para, DWORD recipientCount,
                         const platform::PCCERT_CONTEXT* recipients, const BYTE* data, DWORD dataLen, BYTE* out,
                         DWORD* outLen) {
    if (!para || para->cbSize != sizeof(CRYPT_ENCRYPT_MESSAGE_PARA) || !outLen || (recipientCount && !recipients) ||
        (dataLen && !data)) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int algorithmId = 0, bits = 0;
    if (!contentAlgorithm(*para, algorithmId, bits)) {
        platform::SetLastError(CRYPT_E_UNKNOWN_ALGO);
        return FALSE;
    }
    ExtPtrArray certs;
    certs.setOwnsObjects(true);
    LogNull quiet;
    for (DWORD i = 0; i < recipientCount; ++i) {
        platform::PCCERT_CONTEXT c = recipients[i];
        Certificate* cert =
            c ? Certificate::createFromBytes(c->pbCertEncoded, c->cbCertEncoded, quiet, false) : nullptr;
        if (!cert) {
            platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        certs.appendPtr(cert);
    }
    MemoryDataSource source;
    source.setData(data, dataLen, false);
    DataBuffer envelope;
    if (!createPkcs7Enveloped(source, algorithmId, bits, certs, envelope, quiet, false)) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    return answer(envelope, out, outLen);
}

BOOL CryptEncodeObject(DWORD encoding, std::uintptr_t structType, const void* structInfo, BYTE* out, DWORD* outLen) {
    if (!(encoding & platform::X509_ASN_ENCODING) || structType != X509_OCTET_STRING || !structInfo) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(structInfo);
    std::unique_ptr<Asn1> octets(Asn1::newOctetString(blob->pbData, blob->cbData));
    DataBuffer der;
    LogNull quiet;
    if (!octets || !octets->encodeDer(der, false, nullptr, quiet)) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    return answer(der, out, outLen);
}

BOOL CryptEncodeObject(DWORD encoding, const char* structType, const void* structInfo, BYTE* out, DWORD* outLen) {
    if (!(encoding & platform::X509_ASN_ENCODING) || !structType || std::strcmp(structType, kRc2CbcStructType) != 0 ||
        !structInfo) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    const auto* params = static_cast<const CRYPT_RC2_CBC_PARAMETERS*>(structInfo);
    std::unique_ptr<Asn1> seq(Asn1::newSequence());
    seq->appendChild(Asn1::newInteger(static_cast<std::int32_t>(params->dwVersion)));
    if (params->fIV)
        seq->appendChild(Asn1::newOctetString(params->rgbIV, sizeof params->rgbIV));
    DataBuffer der;
    LogNull quiet;
    if (!seq->encodeDer(der, false, nullptr, quiet)) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    return answer(der, out, outLen);
}

HCRYPTMSG CryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType, platform::HCRYPTPROV prov,
                               void* recipientInfo, void* streamInfo) {
    (void)flags;
    (void)msgType;
    (void)prov;
    if (!(encoding & platform::PKCS_7_ASN_ENCODING) || recipientInfo || streamInfo) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return new CryptMsgState();
}

BOOL CryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD dataLen, BOOL final) {
    if (!msg || msg->message || (dataLen && !data)) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    msg->bytes.append(data, dataLen);
    if (!final)
        return TRUE;
    auto p7 = std::make_unique<Pkcs7>();
    LogNull quiet;
    if (!p7->loadPkcs7Der(msg->bytes, nullptr, quiet, false)) {
        platform::SetLastError(CRYPT_E_BAD_ENCODE);
        return FALSE;
    }
    msg->message = std::move(p7);
    // The message holds what it read: the bytes are not kept beside it.
    msg->bytes.reallocate(0);
    return TRUE;
}

BOOL CryptMsgGetParam(HCRYPTMSG msg, DWORD param, DWORD index, void* data, DWORD* dataLen) {
    if (!msg || !msg->message || !dataLen) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* out = static_cast<BYTE*>(data);
    Pkcs7& p7 = *msg->message;
    DataBuffer value;
    switch (param) {
    case CMSG_TYPE_PARAM: {
        DWORD type = static_cast<DWORD>(p7.contentType());
        value.append(&type, sizeof type);
        return answer(value, out, dataLen);
    }
    case CMSG_INNER_CONTENT_TYPE_PARAM: {
        if (!p7.envelopedData()) {
            platform::SetLastError(CRYPT_E_UNEXPECTED_MSG_TYPE);
            return FALSE;
        }
        // The dotted OID with its terminator; nothing at all for none.
        const StringBuffer& type = p7.envelopedData()->contentType;
        if (type.getSize())
            value.append(type.getString(), static_cast<unsigned int>(type.getSize() + 1));
        return answer(value, out, dataLen);
    }
    case CMSG_RECIPIENT_INFO_PARAM: {
        const Pkcs7_EnvelopedData* envelope = p7.envelopedData();
        const auto* info =
            envelope ? static_cast<const RecipientInfo*>(envelope->recipientInfos.elementAt(static_cast<int>(index)))
                     : nullptr;
        std::string issuer, serial;
        if (!info || !recipientId(*info, issuer, serial)) {
            platform::SetLastError(CRYPT_E_RECIPIENT_NOT_FOUND);
            return FALSE;
        }
        // The CERT_INFO, then its serial (least significant byte first) and issuer.
        CERT_INFO id{};
        value.appendCharRepeated(0, sizeof(CERT_INFO));
        std::string reversed(serial.rbegin(), serial.rend());
        value.append(reversed.data(), static_cast<unsigned int>(reversed.size()));
        value.append(issuer.data(), static_cast<unsigned int>(issuer.size()));
        if (!out) {
            *dataLen = value.getSize();
            return TRUE;
        }
        if (!answer(value, out, dataLen))
            return FALSE;
        id.SerialNumber = {static_cast<DWORD>(reversed.size()), out + sizeof(CERT_INFO)};
        id.Issuer = {static_cast<DWORD>(issuer.size()), out + sizeof(CERT_INFO) + reversed.size()};
        std::memcpy(out, &id, sizeof id);
        return TRUE;
    }
    case CMSG_CONTENT_PARAM:
        if (!msg->decrypted) {
            platform::SetLastError(CRYPT_E_NOT_DECRYPTED);
            return FALSE;
        }
        return answer(msg->content, out, dataLen);
    default: platform::SetLastError(platform::ERROR_INVALID_PARAMETER); return FALSE;
    }
}

BOOL CryptMsgControl(HCRYPTMSG msg, DWORD flags, DWORD controlType, const void* para) {
    (void)flags;
    const auto* decrypt = static_cast<const CMSG_CTRL_DECRYPT_PARA*>(para);
    if (!msg || !msg->message || controlType != CMSG_CTRL_DECRYPT || !decrypt ||
        decrypt->cbSize != sizeof(CMSG_CTRL_DECRYPT_PARA)) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Pkcs7_EnvelopedData* envelope = msg->message->envelopedData();
    const auto* info = envelope ? static_cast<const RecipientInfo*>(
                                      envelope->recipientInfos.elementAt(static_cast<int>(decrypt->dwRecipientIndex)))
                                : nullptr;
    if (!info) {
        platform::SetLastError(CRYPT_E_RECIPIENT_NOT_FOUND);
        return FALSE;
    }
    DataBuffer keyDer;
    msg->content.secureClear();
    bool ok = providerKeyDer(decrypt->hCryptProv, decrypt->dwKeySpec, keyDer) &&
              openFor(*msg->message, *info, keyDer, msg->content);
    keyDer.secureClear();
    if (!ok) {
        platform::SetLastError(CRYPT_E_NOT_DECRYPTED);
        return FALSE;
    }
    msg->decrypted = true;
    return TRUE;
}

BOOL CryptMsgClose(HCRYPTMSG msg) {
    if (msg)
        msg->content.secureClear();
    delete msg;
    return TRUE;
}

platform::PCCERT_CONTEXT CertGetSubjectCertificateFromStore(platform::HCERTSTORE store, DWORD encoding,
                                                            const CERT_INFO* certId) {
    if (!store || !certId || !(encoding & platform::X509_ASN_ENCODING)) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string serial(reinterpret_cast<const char*>(certId->SerialNumber.pbData), certId->SerialNumber.cbData);
    serial.assign(serial.rbegin(), serial.rend());
    CertificateId id;
    id.serial = serial;
    id.issuer =
        nameAsDer(std::string_view(reinterpret_cast<const char*>(certId->Issuer.pbData), certId->Issuer.cbData));
    platform::PCCERT_CONTEXT found = nextCertificateWithId(store, id, nullptr);
    if (found) {
        platform::PCCERT_CONTEXT kept = platform::CertDuplicateCertificateContext(found);
        platform::CertFreeCertificateContext(found);
        found = kept;
    }
    if (!found)
        platform::SetLastError(platform::CRYPT_E_NOT_FOUND);
    return found;
}

} // namespace tessik
