#include "netlib/pki/Pkcs7EnvelopedData.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikRand.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/pki/SystemCerts.h"
#include "netlib/pki/TessikX509.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"

namespace tessik {

namespace {

constexpr int kRecipientInfoParts = 4;
constexpr int kEncryptedContentInfoParts = 3;
constexpr int kSubjectKeyIdVersion = 2;
constexpr int kBitsPerByte = 8;

void evenLength(StringBuffer& hex) {
    if (hex.getSize() % 2)
        hex.prepend("0");
}

// The text of a name attribute's value element, as the certificates' own
// name queries read it.
void appendAttributeValue(ClsXml& value, StringBuffer& out) {
    XString text;
    if (appendNameValueText(value.getCurrentNode(), text))
        out.append(text.getUtf8());
}

} // namespace

IssuerAndSerialNumber::~IssuerAndSerialNumber() = default;

bool IssuerAndSerialNumber::loadXml(ClsXml* node, LogBase& log) {
    if (!node)
        return false;
    LogContext ctx(log, "IssuerAndSerialNumber");
    xml.clear();
    node->getXmlSb(xml);
    serialNumber.clear();
    node->getChildContentSb("int", serialNumber);
    evenLength(serialNumber);
    log.logData("serialNumber1", serialNumber.getString());
    struct Field {
        const char* oid;
        StringBuffer* value;
    } fields[] = {{"2.5.4.3", &commonName},
                  {"2.5.4.6", &country},
                  {"2.5.4.7", &locality},
                  {"2.5.4.8", &state},
                  {"2.5.4.10", &organization}};
    for (auto& f : fields)
        f.value->clear();
    std::unique_ptr<ClsXml> name(node->getChild(0));
    for (int i = 0; name && i < name->getNumChildren(); ++i) {
        std::unique_ptr<ClsXml> rdn(name->getChild(i));
        std::unique_ptr<ClsXml> attribute(rdn ? rdn->getChild(0) : nullptr);
        std::unique_ptr<ClsXml> oid(attribute ? attribute->getChild(0) : nullptr);
        std::unique_ptr<ClsXml> value(attribute ? attribute->getChild(1) : nullptr);
        if (!oid || !value || !oid->tagEquals("oid"))
            continue;
        for (auto& f : fields)
            if (oid->contentEquals(f.oid) && f.value->getSize() == 0)
                appendAttributeValue(*value, *f.value);
    }
    log.logData("issuerCommonName", commonName.getString());
    log.logData("issuerCountry", country.getString());
    log.logData("issuerState", state.getString());
    log.logData("issuerLocality", locality.getString());
    log.logData("issuerOrganization", organization.getString());
    return true;
}

RecipientInfo::RecipientInfo(ClsXml& node, const ExtPtrArray* extList, LogBase& log, bool verbose, bool& ok) {
    ok = false;
    if (node.getNumChildren() != kRecipientInfoParts) {
        log.logError("Expected 4 parts in RecipientInfo");
        return;
    }
    std::unique_ptr<ClsXml> version(node.getChild(0));
    std::unique_ptr<ClsXml> id(node.getChild(1));
    if (version && version->getContentInt() == kSubjectKeyIdVersion && id && id->tagEquals("contextSpecific")) {
        id->getContentSb(subjectKeyIdentifier);
        log.logData("subjectKeyIdentifier", subjectKeyIdentifier.getString());
    }
    if (subjectKeyIdentifier.getSize() == 0 && !issuerAndSerialNumber.loadXml(id.get(), log))
        return;
    std::unique_ptr<ClsXml> algorithm(node.getChild(2));
    if (!algorithm || !keyEncryptionAlgorithm.loadXml(*algorithm, log, verbose))
        return;
    std::unique_ptr<ClsXml> key(node.getChild(3));
    if (!key)
        return;
    getOctetsFromXml(*key, extList, encryptedKey);
    if (encryptedKey.getSize() == 0)
        return;
    log.logDataLong("encryptedKeyNumBytes", static_cast<int>(encryptedKey.getSize()));
    ok = true;
}

RecipientInfo::~RecipientInfo() {
    encryptedKey.secureClear();
}

Pkcs7_EnvelopedData::Pkcs7_EnvelopedData() {
    recipientInfos.setOwnsObjects(true);
}

Pkcs7_EnvelopedData::~Pkcs7_EnvelopedData() = default;

bool Pkcs7_EnvelopedData::loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log, bool verbose) {
    LogContext ctx(log, "Pkcs7_EnvelopedData");
    XString unused;
    std::unique_ptr<ClsXml> ed(xml.newRefToSelf());
    if (!ed->resolvePath("contextSpecific|sequence|$", unused, log)) {
        log.logError("Failed to find XML path to EncryptedContentInfo");
        return false;
    }
    std::unique_ptr<ClsXml> info(ed->getChild(2));
    if (!info) {
        log.logError("No EncryptedContentInfo found.");
        return false;
    }
    if (info->getNumChildren() != kEncryptedContentInfoParts) {
        log.logError(enveloped_msg::kIncomplete);
        return false;
    }
    contentType.clear();
    std::unique_ptr<ClsXml> type(info->getChild(0));
    if (type->tagEquals("oid"))
        contentType.append(type->getContentPtr());
    std::unique_ptr<ClsXml> algorithm(info->getChild(1));
    if (!contentEncryptionAlgorithm.loadXml(*algorithm, log, verbose)) {
        log.logError("Invalid or unsupported AlgorithmIdentifier");
        return false;
    }
    std::unique_ptr<ClsXml> encrypted(info->getChild(2));
    encryptedContent.clear();
    if (encrypted->tagEquals("octets") ||
        (encrypted->tagEquals("contextSpecific") && encrypted->getNumChildren() == 0)) {
        getOctetsFromXml(*encrypted, extList, encryptedContent);
    } else if (encrypted->tagEquals("contextSpecific")) {
        for (int i = 0; i < encrypted->getNumChildren(); ++i) {
            std::unique_ptr<ClsXml> part(encrypted->getChild(i));
            if (part->tagEquals("octets"))
                getOctetsFromXml(*part, extList, encryptedContent);
        }
    } else {
        log.logError("Unrecognized encrypted content ASN.1");
        return false;
    }
    std::unique_ptr<ClsXml> set(xml.newRefToSelf());
    if (!set->resolvePath("contextSpecific|sequence|set|$", unused, log)) {
        log.logError("Failed to find XML path to RecipientInfos");
        return false;
    }
    log.logDataLong("numRecipients", set->getNumChildren());
    bool all = true;
    for (int i = 0; i < set->getNumChildren(); ++i) {
        LogContext recipientCtx(log, "RecipientInfo");
        std::unique_ptr<ClsXml> node(set->getChild(i));
        // A key transport is the one untagged choice; openssl too passes the
        // others by when it opens with a certificate's key.
        if (node->tagEquals("contextSpecific")) {
            log.logInfo(enveloped_msg::kOtherRecipientKind);
            continue;
        }
        bool ok = false;
        auto recipient = std::make_unique<RecipientInfo>(*node, extList, log, verbose, ok);
        recipient->position = i;
        if (ok)
            recipientInfos.appendPtr(recipient.release());
        all = all && ok;
    }
    return all;
}

bool Pkcs7_EnvelopedData::openWith(const RecipientInfo& recipient, const DataBuffer& privateKeyDer, DataBuffer& out,
                                   LogBase& log, bool verbose) {
    recipient.keyEncryptionAlgorithm.logParams(log);
    if (!recipient.keyEncryptionAlgorithm.oid.equals(alg_oid::kRsaEncryption)) {
        log.logError(enveloped_msg::kUnsupportedKeyAlgorithm);
        return false;
    }
    log.logInfo("Decrypting symmetric key...");
    DataBuffer contentKey;
    if (!rsaDecryptWithDerKey(privateKeyDer, recipient.encryptedKey, contentKey, log, verbose)) {
        log.logError(enveloped_msg::kKeyDecryptFailed);
        return false;
    }
    log.logInfo("Decrypting data using symmetric key");
    bool ok = decryptContent(contentKey, out, log, verbose);
    contentKey.secureClear();
    return ok;
}

Pkcs7_EnvelopedData::RecipientIndex Pkcs7_EnvelopedData::indexRecipients() const {
    RecipientIndex index;
    for (int i = 0; i < recipientInfos.getCount(); ++i) {
        const auto* r = static_cast<const RecipientInfo*>(recipientInfos.elementAt(i));
        const std::string key = certificateIdKey(r->id);
        if (!key.empty())
            index.emplace(key, r);
    }
    return index;
}

const RecipientInfo* Pkcs7_EnvelopedData::recipientIn(const RecipientIndex& index, const CertificateFields& cert) {
    std::string byIssuer, byKeyId;
    certificateIdKeys(cert, byIssuer, byKeyId);
    const RecipientInfo* first = nullptr;
    for (const std::string* key : {&byIssuer, &byKeyId}) {
        const auto found = key->empty() ? index.end() : index.find(*key);
        if (found != index.end() && (!first || found->second->position < first->position))
            first = found->second;
    }
    return first;
}

const RecipientInfo* Pkcs7_EnvelopedData::recipientFor(const CertificateFields& cert) const {
    return recipientIn(indexRecipients(), cert);
}

bool Pkcs7_EnvelopedData::openWithFoundKeys(const EnvelopeKeyFinder& find, DataBuffer& out, std::string& certDerOut,
                                            int& keysLeft, LogBase& log, bool verbose) {
    certDerOut.clear();
    std::vector<EnvelopeKey> found;
    find(found);
    // Each certificate once, beside the recipient info it opens.
    std::unordered_set<std::string> seen;
    std::vector<std::pair<const RecipientInfo*, EnvelopeKey*>> ranked;
    const RecipientIndex recipients = indexRecipients();
    for (EnvelopeKey& candidate : found) {
        if (!seen.insert(candidate.certDer).second)
            continue;
        std::unique_ptr<CertificateFields> fields = readCertificateFields(candidate.certDer);
        if (const RecipientInfo* opens = fields ? recipientIn(recipients, *fields) : nullptr)
            ranked.emplace_back(opens, &candidate);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first->position < b.first->position; });
    for (const auto& [opens, candidate] : ranked) {
        if (keysLeft == 0) {
            log.logError(enveloped_msg::kTooManyKeys);
            return false;
        }
        DataBuffer privateKeyDer;
        if (!candidate->privateKey(privateKeyDer))
            continue;
        --keysLeft;
        const bool ok = openWith(*opens, privateKeyDer, out, log, verbose);
        privateKeyDer.secureClear();
        if (ok) {
            certDerOut = candidate->certDer;
            return true;
        }
    }
    return false;
}

bool Pkcs7_EnvelopedData::UnEnvelope3(SystemCerts& systemCerts, DataBuffer& out, DataBuffer& certDerOut,
                                      bool& keyLocated, LogBase& log, bool verbose) {
    LogContext ctx(log, "UnEnvelope3");
    keyLocated = false;
    certDerOut.clear();
    auto find = [&](std::vector<EnvelopeKey>& keys) {
        std::vector<std::unique_ptr<Certificate>> found;
        systemCerts.certificatesWithKeys(found, log);
        for (std::unique_ptr<Certificate>& cert : found) {
            DataBuffer der;
            if (!cert->getDer(der, log))
                continue;
            std::shared_ptr<Certificate> held(std::move(cert));
            keys.push_back({std::string(reinterpret_cast<const char*>(der.getData()), der.getSize()),
                            [&, held](DataBuffer& keyDer) {
                                bool denied = false;
                                const bool got = systemCerts.privateKeyOf(*held, keyDer, nullptr, denied, log);
                                keyLocated = keyLocated || denied;
                                return got;
                            }});
        }
    };
    std::string opened;
    int keysLeft = kMaxEnvelopeKeyTries;
    if (openWithFoundKeys(find, out, opened, keysLeft, log, verbose)) {
        keyLocated = false;
        certDerOut.append(opened.data(), static_cast<unsigned int>(opened.size()));
        return true;
    }
    // Recipients named by key identifiers that no certificate carries (a
    // store's certificate may lack the extension): the first key to be had
    // is tried for each of them, as openssl tries a key given alone, while
    // the keys the message may ask for last.
    bool identifierOnly = false;
    for (int i = 0; !identifierOnly && i < recipientInfos.getCount(); ++i)
        identifierOnly = static_cast<const RecipientInfo*>(recipientInfos.elementAt(i))->id.byKeyId;
    DataBuffer privateKeyDer;
    bool inaccessible = false;
    if (identifierOnly && systemCerts.findFirstPrivateKey(privateKeyDer, &certDerOut, inaccessible, log)) {
        log.logInfo(enveloped_msg::kNoSubjectKeyIdMatch);
        log.logInfo(enveloped_msg::kFirstAvailableCert);
        bool ok = false;
        for (int i = 0; !ok && keysLeft > 0 && i < recipientInfos.getCount(); ++i) {
            const auto* r = static_cast<const RecipientInfo*>(recipientInfos.elementAt(i));
            if (!r->id.byKeyId)
                continue;
            --keysLeft;
            ok = openWith(*r, privateKeyDer, out, log, verbose);
        }
        privateKeyDer.secureClear();
        if (ok)
            return true;
        certDerOut.clear();
    }
    log.logError(enveloped_msg::kNoKeyFound);
    if (verbose)
        logRecipientInfos(log);
    return false;
}

bool Pkcs7_EnvelopedData::UnEnvelope2(const CertificateFields& recipient, const DataBuffer& privateKeyDer,
                                      DataBuffer& out, LogBase& log, bool verbose) {
    LogContext ctx(log, "UnEnvelope2");
    const RecipientInfo* r = recipientFor(recipient);
    if (!r) {
        log.logError(enveloped_msg::kNoMatchingRecipient);
        return false;
    }
    log.logInfo("Found matching RecipientInfo");
    return openWith(*r, privateKeyDer, out, log, verbose);
}

bool Pkcs7_EnvelopedData::decryptContent(const DataBuffer& contentKey, DataBuffer& out, LogBase& log, bool verbose) {
    (void)verbose;
    if (contentEncryptionAlgorithm.oid.equals(alg_oid::kRc4))
        contentEncryptionAlgorithm.keyLength = static_cast<int>(contentKey.getSize() * kBitsPerByte);
    // A CBC cipher without a whole IV would run from a zero IV, which the
    // message never said: refuse instead of handing back altered content.
    const StringBuffer& oid = contentEncryptionAlgorithm.oid;
    const unsigned int ivSize =
        oid.equals(alg_oid::kAes128Cbc) || oid.equals(alg_oid::kAes192Cbc) || oid.equals(alg_oid::kAes256Cbc)
            ? kAesBlockSize
        : oid.equals(alg_oid::kRc4) ? 0
                                    : kDesBlockSize;
    if (contentEncryptionAlgorithm.iv.getSize() != ivSize) {
        log.logError(enveloped_msg::kBadIv);
        return false;
    }
    ClsCrypt crypt;
    bool accepted =
        crypt.setFromContentEncAlgId(contentEncryptionAlgorithm.oid.getString(), contentEncryptionAlgorithm.keyLength,
                                     contentEncryptionAlgorithm.iv, log);
    log.logDataLong("symmetricKeySizeInBytes", static_cast<int>(contentKey.getSize()));
    crypt.setSecretKey(contentKey);
    if (!accepted)
        return false;
    log.logDataLong("numBytesToDecrypt", static_cast<int>(encryptedContent.getSize()));
    // A block cipher's content holds at least its padding block; none at all
    // is a broken message, not an empty one.
    if (ivSize != 0 && encryptedContent.getSize() == 0) {
        log.logError(enveloped_msg::kWrongFinalBlockLength);
        return false;
    }
    DataBuffer plain;
    if (!crypt.decryptBytesToDb(encryptedContent, plain, log)) {
        log.logError(enveloped_msg::kSymmetricFailed);
        return false;
    }
    log.logDataLong("symmetricDecryptOutputSize", static_cast<int>(plain.getSize()));
    // Handed over rather than copied where the caller's buffer is empty, as
    // it mostly is: a large content is then held once.
    if (out.getSize() == 0)
        out.takeFrom(plain);
    else
        out.appendDb(plain);
    plain.secureClear();
    return true;
}

void Pkcs7_EnvelopedData::logRecipientInfos(LogBase& log) {
    LogContext ctx(log, "RecipientInfos");
    for (int i = 0; i < recipientInfos.getCount(); ++i) {
        auto* r = static_cast<RecipientInfo*>(recipientInfos.elementAt(i));
        LogContext one(log, "recipient");
        StringBuffer serial;
        serial.appendSb(r->issuerAndSerialNumber.serialNumber);
        evenLength(serial);
        log.logData("certSerialNum", serial.getString());
        log.logData("certIssuerCN", r->issuerAndSerialNumber.commonName.getString());
    }
}

Asn1* buildIssuerAndSerialAsn(Certificate& certificate, LogBase& log) {
    XString serial;
    certificate.getSerialNumber(serial, log);
    log.logData("issuerSerialNum", serial.getUtf8());
    if (serial.getSizeUtf8() == 0) {
        log.logError("Failed to get certificate's serial number");
        return nullptr;
    }
    std::unique_ptr<Asn1> issuer(certificate.getIssuerAsn1(log));
    if (!issuer)
        return nullptr;
    DataBuffer bytes;
    decodeHexBytes(serial.getUtf8(), static_cast<unsigned int>(serial.getSizeUtf8()), bytes);
    Asn1* number = Asn1::newUnsignedInteger(bytes.getData(), bytes.getSize());
    if (!number)
        return nullptr;
    // The serial's content exactly as the certificate holds it, so a
    // negative one keeps its value and the recipient is still found.
    number->setContent(bytes.getData(), bytes.getSize());
    auto seq = std::unique_ptr<Asn1>(Asn1::newSequence());
    seq->appendChild(issuer.release());
    seq->appendChild(number);
    return seq.release();
}

Asn1* buildRecipientInfo(const DataBuffer& contentKey, const ExtPtrArray& recipientCerts, LogBase& log, bool verbose) {
    auto set = std::unique_ptr<Asn1>(Asn1::newSet());
    bool failed = false;
    for (int i = 0; i < recipientCerts.getCount(); ++i) {
        LogContext ctx(log, "buildRecipientInfo");
        auto* cert = static_cast<Certificate*>(recipientCerts.elementAt(i));
        auto info = std::unique_ptr<Asn1>(Asn1::newSequence());
        info->appendChild(Asn1::newInteger(0));
        Asn1* issuerAndSerial = cert ? buildIssuerAndSerialAsn(*cert, log) : nullptr;
        if (!issuerAndSerial) {
            log.logError("Failed to create IssuerAndSerial ASN.1");
            log.logError(enveloped_msg::kRecipientFailed);
            failed = true;
            continue;
        }
        info->appendChild(issuerAndSerial);
        AlgorithmIdentifier rsa;
        rsa.oid.setString(alg_oid::kRsaEncryption);
        info->appendChild(rsa.toAsn(log));
        DataBuffer publicKey, encryptedKey;
        if (!cert->getPublicKeyDer(publicKey, log)) {
            log.logInfo("Failed to get public key.");
            log.logError(enveloped_msg::kRecipientFailed);
            failed = true;
            continue;
        }
        if (!rsaEncryptWithDerKey(publicKey, contentKey, encryptedKey, log, verbose)) {
            log.logInfo("Failed to RSA encrypt symmetric key.");
            log.logError(enveloped_msg::kRecipientFailed);
            failed = true;
            continue;
        }
        info->appendChild(Asn1::newOctetString(encryptedKey.getData(), encryptedKey.getSize()));
        set->appendChild(info.release());
    }
    return failed ? nullptr : set.release();
}

bool encryptContentForEnvelope(DataSource& source, int algorithmId, int keyLengthBits, const DataBuffer& contentKey,
                               const DataBuffer& iv, DataBuffer& out, LogBase& log) {
    ClsCrypt crypt;
    crypt.setAlgorithmId(algorithmId);
    crypt.setKeyLength(keyLengthBits);
    crypt.setRc2EffectiveKeyLength(keyLengthBits);
    crypt.setSecretKey(contentKey);
    crypt.setIV(iv);
    crypt.setCipherMode(kCipherModeCbc);
    OutputDataBuffer output(&out);
    if (!crypt.encryptSourceToOutput(source, output, nullptr, log))
        return false;
    // A stream cipher pads nothing: empty content is empty ciphertext.
    const int blockSize = cipherBlockSize(algorithmId);
    if (out.getSize() > 0 || blockSize <= 1)
        return true;
    // Empty content under a block cipher still needs the padding block that
    // tells the recipient so; the cipher pads only bytes it is given, so it is
    // given that block.
    DataBuffer block;
    block.appendPadding(kPadPkcs5, blockSize);
    crypt.setPaddingScheme(kPadZeros);
    return crypt.encryptBytesToDb(block, out, nullptr, log, false);
}

bool createPkcs7Enveloped(DataSource& source, int algorithmId, int keyLengthBits, const ExtPtrArray& recipientCerts,
                          DataBuffer& out, LogBase& log, bool verbose) {
    AlgorithmIdentifier algorithm;
    if (!setPkcs7ContentEncAlgId(algorithmId, keyLengthBits, algorithm, log)) {
        log.logError(enveloped_msg::kUnsupportedAlgorithm);
        return false;
    }
    std::unique_ptr<Asn1> algorithmAsn(algorithm.toAsn(log));
    if (!algorithmAsn) {
        log.logError("Unsupported encryption algorithm OID");
        return false;
    }
    DataBuffer contentKey;
    TessikRand::randomBytes(algorithm.keyLength / kBitsPerByte, contentKey);
    std::unique_ptr<Asn1> recipients(buildRecipientInfo(contentKey, recipientCerts, log, verbose));
    if (!recipients) {
        log.logError(enveloped_msg::kBuildFailed);
        contentKey.secureClear();
        return false;
    }
    // The key length the identifier names, which is the key's: a 40-bit DES
    // choice still takes the whole 8-byte key it was given.
    DataBuffer encrypted;
    bool ok =
        encryptContentForEnvelope(source, algorithmId, algorithm.keyLength, contentKey, algorithm.iv, encrypted, log);
    contentKey.secureClear();
    if (!ok) {
        log.logError(enveloped_msg::kEncryptFailed);
        return false;
    }
    log.logDataLong("symmetricEncryptedDataSize", static_cast<int>(encrypted.getSize()));

    auto contentInfo = std::unique_ptr<Asn1>(Asn1::newSequence());
    contentInfo->appendChild(Asn1::newOid(pkcs7_oid::kEnvelopedData));
    Asn1* wrapper = Asn1::newContextConstructed(0);
    Asn1* enveloped = Asn1::newSequence();
    enveloped->appendChild(Asn1::newInteger(0));
    enveloped->appendChild(recipients.release());
    Asn1* encryptedInfo = Asn1::newSequence();
    encryptedInfo->appendChild(Asn1::newOid(pkcs7_oid::kData));
    encryptedInfo->appendChild(algorithmAsn.release());
    auto* contentBytes = new DataBuffer();
    contentBytes->takeFromOrEmpty(&encrypted);
    encryptedInfo->appendChild(Asn1::newContextPrimitive(0, contentBytes));
    enveloped->appendChild(encryptedInfo);
    wrapper->appendChild(enveloped);
    contentInfo->appendChild(wrapper);
    return contentInfo->encodeDer(out, false, nullptr, log);
}

} // namespace tessik
