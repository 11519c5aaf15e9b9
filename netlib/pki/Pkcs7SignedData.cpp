#include "netlib/pki/Pkcs7SignedData.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "netlib/core/ClsXml.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Md5.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Md2.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/crypto/Sha2.h"
#include "netlib/pki/AlgorithmIdentifier.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/pki/SignatureAlgorithms.h"
#include "netlib/pki/SystemCerts.h"
#include "netlib/pki/TessikX509.h"
#include "netlib/streams/DataSource.h"

namespace tessik {

namespace {

constexpr const char* kGostDigestOid = "1.2.643.2.2.9";
// The attributes and the name part read from a SignerInfo, as their OIDs
// are written (1.2.840.113549.1.9.3, .4 and .5; 2.5.4.3), compared byte for
// byte.
struct OidBytes {
    unsigned char bytes[9];
    std::uint32_t size;
};
constexpr OidBytes kContentTypeOid = {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03}, 9};
constexpr OidBytes kMessageDigestOid = {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04}, 9};
constexpr OidBytes kSigningTimeOid = {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x05}, 9};
constexpr OidBytes kCommonNameOid = {{0x55, 0x04, 0x03}, 3};
constexpr std::uint32_t kReadSize = 4096;
constexpr std::uint32_t kReadBufferSize = 5000;
// A SignerInfo's fields after its version.
constexpr int kSignerIdField = 1;

// The log name of a digest ("SHA1", "SHA256" ...).
const char* digestLogName(int hashId) {
    switch (hashId) {
    case kHashSha1: return "SHA1";
    case kHashMd5: return "MD5";
    case kHashMd2: return "MD2";
    case kHashSha256: return "SHA256";
    case kHashSha384: return "SHA384";
    case kHashSha512: return "SHA512";
    default: return "?";
    }
}

// One running digest of the content under a hash id.
class RunningDigest {
public:
    explicit RunningDigest(int hashId) : m_hashId(hashId) {
        switch (hashId) {
        case kHashSha1: m_sha1.initialize(); break;
        case kHashMd5: m_md5.initialize(); break;
        case kHashSha256: m_sha2.reset(Sha2::newSha256()); break;
        case kHashSha384: m_sha2.reset(Sha2::newSha384()); break;
        case kHashSha512: m_sha2.reset(Sha2::newSha512()); break;
        default: break;
        }
    }
    void update(const void* data, std::uint32_t n) {
        switch (m_hashId) {
        case kHashSha1: m_sha1.update(data, n); break;
        case kHashMd5: m_md5.update(data, n); break;
        case kHashMd2: m_md2.update(data, n); break;
        default:
            if (m_sha2)
                m_sha2->update(data, n);
        }
    }
    void final(DataBuffer& out) {
        out.clear();
        unsigned char digest[kMaxDigestSize];
        const auto size = static_cast<unsigned int>(hashDigestLength(m_hashId));
        switch (m_hashId) {
        case kHashSha1: m_sha1.final(digest); break;
        case kHashMd5: m_md5.final(digest); break;
        case kHashMd2: m_md2.final(out); return;
        default:
            if (!m_sha2)
                return;
            m_sha2->final(digest);
        }
        out.append(digest, size);
    }

private:
    int m_hashId;
    Sha1 m_sha1;
    Md5 m_md5;
    Md2 m_md2;
    std::unique_ptr<Sha2> m_sha2;
};

bool isUniversal(const Asn1& node, std::uint32_t tag) {
    return node.tagClass == asn::kClassUniversal && node.tag == tag;
}

// The first child of that universal type, or null.
const Asn1* firstChildOf(const Asn1* node, std::uint32_t tag) {
    for (int i = 0; node && i < node->getNumChildren(); ++i)
        if (isUniversal(*node->getChild(i), tag))
            return node->getChild(i);
    return nullptr;
}

bool oidOf(const Asn1* node, std::string& out) {
    out.clear();
    StringBuffer text;
    if (!node || !node->getOidString(text))
        return false;
    out = text.getString();
    return true;
}

// An OCTET STRING's content, its segments joined; held at its size.
bool octetsOf(const Asn1* node, DataBuffer& out) {
    std::string bytes;
    if (!node || !joinedContent(node, bytes))
        return false;
    out.clear();
    return out.appendExact(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

bool isOid(const Asn1& node, const OidBytes& oid) {
    return isUniversal(node, asn::kTagOid) && node.contentEquals(oid.bytes, oid.size);
}

// The values SET of the first attribute of that type, or null.
const Asn1* attributeValues(const Asn1* attributes, const OidBytes& oid) {
    for (int i = 0; attributes && i < attributes->getNumChildren(); ++i) {
        const Asn1* attribute = attributes->getChild(i);
        if (attribute->getNumChildren() >= 2 && isOid(*attribute->getChild(0), oid))
            return firstChildOf(attribute, asn::kTagSet);
    }
    return nullptr;
}

// The first common name of a Name, as its certificate's own name queries
// read it.
bool appendCommonName(const Asn1* name, std::string& out) {
    for (int i = 0; name && i < name->getNumChildren(); ++i) {
        const Asn1* rdn = name->getChild(i);
        for (int j = 0; j < rdn->getNumChildren(); ++j) {
            const Asn1* attribute = rdn->getChild(j);
            const Asn1* value = attribute->getChild(1);
            if (!value || !attribute->getChild(0) || !isOid(*attribute->getChild(0), kCommonNameOid))
                continue;
            std::string raw, text;
            if (value->tagClass != asn::kClassUniversal || !joinedContent(value, raw) ||
                !nameStringText(value->tag, raw, text))
                return false;
            StringBuffer escaped;
            appendStringValue(text.data(), text.size(), escaped);
            out += escaped.getString();
            return true;
        }
    }
    return false;
}

} // namespace

SignerInfo::~SignerInfo() = default;

bool SignerInfo::load(const Asn1& node, LogBase& log, bool verbose) {
    // By place: version, the signer's certificate (issuer and serial, or
    // [0] key identifier), digest algorithm, optional [0] authenticated
    // attributes, signature algorithm, signature.
    const Asn1* sid = node.getChild(kSignerIdField);
    const Asn1* digest = node.getChild(kSignerIdField + 1);
    const Asn1* attributes = node.getChild(kSignerIdField + 2);
    if (attributes && !(attributes->tagClass == asn::kClassContext && attributes->tag == 0))
        attributes = nullptr;
    const int afterAttributes = kSignerIdField + (attributes ? 3 : 2);
    const Asn1* signatureAlgorithm = node.getChild(afterAttributes);
    const Asn1* signature = node.getChild(afterAttributes + 1);
    if (!sid || !digest || !signatureAlgorithm || !signature) {
        log.logError("SignerInfo is incomplete.");
        return false;
    }
    issuerCN.clear();
    serialNumber.clear();
    if (isUniversal(*sid, asn::kTagSequence)) {
        const Asn1* serial = firstChildOf(sid, asn::kTagInteger);
        if (!serial) {
            log.logError("Failed to get signing certificate's serial number from SignerInfo.");
            return false;
        }
        DataBuffer bytes;
        serial->getContent(bytes);
        StringBuffer hex;
        hex.appendHex(bytes.getData(), static_cast<int>(bytes.getSize()));
        serialNumber = hex.getString();
        // The issuer's common name is for the log: read here when asked
        // for, else for the signers that are checked (a message may carry
        // thousands).
        if (verbose) {
            if (!appendCommonName(firstChildOf(sid, asn::kTagSequence), issuerCN))
                log.logError("Warning: The IssuerCN is not present in the SignerInfo.");
            log.logData("serialNumber2", serialNumber.c_str());
            log.logData("issuerCN", issuerCN.c_str());
        }
    } else if (sid->tagClass != asn::kClassContext) {
        log.logError(signeddata_msg::kUnreadableSigner);
        return false;
    }
    if (!oidOf(firstChildOf(digest, asn::kTagOid), digestAlgorithmOid)) {
        log.logError("Failed to get digest algorithm identifier in SignerInfo");
        return false;
    }
    if (verbose)
        log.logData("digestAlgorithmOid", digestAlgorithmOid.c_str());
    contentType.clear();
    messageDigest.clear();
    signingTime.clear();
    if (const Asn1* values = attributeValues(attributes, kContentTypeOid);
        values && oidOf(firstChildOf(values, asn::kTagOid), contentType))
        log.logData("contentType", contentType.c_str());
    if (const Asn1* values = attributeValues(attributes, kMessageDigestOid);
        values && octetsOf(firstChildOf(values, asn::kTagOctetString), messageDigest))
        log.logDataHex("messageDigestHex", messageDigest.getData(), messageDigest.getSize());
    else
        messageDigest.clear();
    std::string time;
    if (const Asn1* values = attributeValues(attributes, kSigningTimeOid);
        values && firstChildOf(values, asn::kTagUtcTime) &&
        joinedContent(firstChildOf(values, asn::kTagUtcTime), time)) {
        StringBuffer text;
        appendStringValue(time.data(), time.size(), text);
        signingTime = text.getString();
        log.logData("signingTime", signingTime.c_str());
    }
    if (messageDigest.getSize() == 0)
        log.logError("No SignerInfo message digest found.");
    if (!oidOf(firstChildOf(signatureAlgorithm, asn::kTagOid), digestEncryptionAlgorithmOid)) {
        log.logError("Failed to get digest encryption algorithm identifier in SignerInfo");
        return false;
    }
    if (verbose)
        log.logData("digestEncryptionAlgorithmOid", digestEncryptionAlgorithmOid.c_str());
    encryptedDigest.clear();
    if (!isUniversal(*signature, asn::kTagOctetString) || !octetsOf(signature, encryptedDigest)) {
        log.logError("Failed to get encrypted digest bytes in SignerInfo");
        return false;
    }
    if (verbose)
        log.logDataLong("encryptedDigestSize", static_cast<int>(encryptedDigest.getSize()));
    return true;
}

Pkcs7_SignedData::Pkcs7_SignedData() {
    signerInfos.setOwnsObjects(true);
    digestAlgorithms.setOwnsObjects(true);
    signerCerts.setOwnsObjects(true);
    signingTimes.setOwnsObjects(true);
}

Pkcs7_SignedData::~Pkcs7_SignedData() = default;

bool Pkcs7_SignedData::loadXml(ClsXml& xml, const ExtPtrArray* extList, LogBase& log, bool verbose) {
    LogContext ctx(log, "Pkcs7_SignedData");
    XString unused;
    std::unique_ptr<ClsXml> set(xml.newRefToSelf());
    if (!set->resolvePath("contextSpecific|sequence|set|$", unused, log)) {
        log.logError("Failed to find XML path to DigestAlgorithmIdentifiers");
        return false;
    }
    log.logDataLong("NumDigestAlgorithmIdentifiers", set->getNumChildren());
    for (int i = 0; i < set->getNumChildren(); ++i) {
        std::unique_ptr<ClsXml> child(set->getChild(i));
        auto algorithm = std::make_unique<AlgorithmIdentifier>();
        if (!child || !algorithm->loadXml(*child, log, verbose)) {
            log.logError("Failed to load AlgorithmIdentifier");
            return false;
        }
        if (algorithm->oid.equals(kGostDigestOid)) {
            log.logInfo(signeddata_msg::kGostDigest);
            return false;
        }
        algorithm->logParams(log);
        digestAlgorithms.appendPtr(algorithm.release());
    }
    std::unique_ptr<ClsXml> sd(xml.newRefToSelf());
    if (!sd->resolvePath("contextSpecific|sequence|$", unused, log)) {
        log.logError("Failed to find XML path to ContentInfo");
        return false;
    }
    std::unique_ptr<ClsXml> inner(sd->getChild(2));
    if (!inner) {
        log.logError("No ContentInfo found.");
        return false;
    }
    const int parts = inner->getNumChildren();
    content.clear();
    detached = parts == 1;
    if (parts == 1 && inner->childContentEquals("oid", pkcs7_oid::kData)) {
        log.logInfo(signeddata_msg::kDetached);
    } else if (parts == 2) {
        std::unique_ptr<ClsXml> explicit0(inner->getChild(1));
        if (!explicit0->tagEquals("contextSpecific") || explicit0->getAttrValueInt("tag") != 0) {
            log.logError(signeddata_msg::kUnexpectedContentInfo);
            return false;
        }
        // Content of any type is the OCTET STRING inside (CMS's
        // eContent), handed back as it was signed.
        std::unique_ptr<ClsXml> octets(explicit0->getNumChildren() == 1 ? explicit0->getChild(0) : nullptr);
        if (octets && octets->tagEquals("octets") && getOctetsFromXml(*octets, extList, content)) {
            log.logInfo(signeddata_msg::kOpaque);
            log.logInfo("Recovered original content.");
            log.logDataLong("OriginalContentLen", static_cast<int>(content.getSize()));
        } else {
            log.logError(signeddata_msg::kContentNotOctets);
            content.clear();
            contentUnreadable = true;
        }
    } else if (parts != 1) {
        log.logError(signeddata_msg::kUnexpectedContentInfo);
        StringBuffer text;
        inner->getXmlSb(text);
        log.logData("ContentInfoXml", text.getString());
        return false;
    }
    // The signer infos, thousands at times, are read from the DER with the
    // certificates (readSigners), not from the rendering.
    return true;
}

bool Pkcs7_SignedData::verifyOpaque(DataBuffer& out, const ExtPtrArray& certificates, const ExtPtrArray& authAttrDers,
                                    SystemCerts* systemCerts, LogBase& log, bool verbose) {
    out.clear();
    if (detached) {
        log.logError(signeddata_msg::kNoContent);
        log.logError(signeddata_msg::kNotVerified);
        return false;
    }
    MemoryDataSource source;
    source.setData(content.getData(), content.getSize(), false);
    if (!verifySignature(source, certificates, authAttrDers, systemCerts, log, verbose))
        return false;
    return out.appendDb(content);
}

bool Pkcs7_SignedData::verifySignature(DataSource& source, const ExtPtrArray& certificates,
                                       const ExtPtrArray& authAttrDers, SystemCerts* systemCerts, LogBase& log,
                                       bool verbose) {
    signerCerts.removeAllObjects();
    signingTimes.removeAllObjects();
    LogContext ctx(log, "verifySignature");
    log.logDataLong("NumSigners", signerInfos.getCount());
    log.logDataLong("NumDigestAlgorithms", digestAlgorithms.getCount());
    // A signer that cannot be read cannot verify, and the message with it.
    if (unreadableSigners != 0 || contentUnreadable) {
        log.logError(unreadableSigners != 0 ? signeddata_msg::kUnreadableSigner : signeddata_msg::kContentNotOctets);
        log.logError(signeddata_msg::kNotVerified);
        return false;
    }

    // As openssl judges a message: each signer is checked under the first
    // certificate that bears its identifier, and a signer that cannot be
    // checked refuses the message before any later one is looked at, before
    // the content is digested and before any signature is checked.
    MessageCertIndex messageCerts(certificates);
    // Signers of one identifier are looked for once: copies of a signer
    // would otherwise search the stores again each.
    std::map<std::string, std::string> signerCertsById;
    std::vector<const std::string*> certOfSigner;
    for (int i = 0; i < signerInfos.getCount(); ++i) {
        auto* signer = static_cast<SignerInfo*>(signerInfos.elementAt(i));
        const auto* aaDer = static_cast<const DataBuffer*>(authAttrDers.elementAt(signer->position));
        const bool hasAttributes = aaDer && aaDer->getSize();
        // Attributes without a message digest bind nothing to the content;
        // without a content type they do not say what was signed.
        const char* refusal = hasAttributes && signer->messageDigest.getSize() == 0
                                  ? signeddata_msg::kEmptyMessageDigest
                              : hasAttributes && signer->contentType.size() == 0 ? signeddata_msg::kNoContentType
                              : !signer->idRead                                  ? signeddata_msg::kUnreadableSigner
                                                                                 : nullptr;
        const char* sigOid = signer->digestEncryptionAlgorithmOid.c_str();
        if (!refusal && std::strcmp(sigOid, alg_oid::kRsaEncryption) != 0 && hashIdOfRsaSignatureOid(sigOid) == 0)
            refusal = signeddata_msg::kUnsupportedSignature;
        if (!refusal && signer->messageDigest.getSize() != 0 && !hashIdOfDigestOid(signer->digestAlgorithmOid.c_str()))
            refusal = signeddata_msg::kUnrecognizedDigest;
        const std::string* certDer = nullptr;
        if (!refusal) {
            const std::string idText = certificateIdKey(signer->id);
            auto known = signerCertsById.find(idText);
            if (known == signerCertsById.end()) {
                std::string found;
                if (idText.empty() ||
                    !Pkcs7_SignedData_findSignerCert(messageCerts, signer->id, systemCerts, found, log, verbose))
                    found.clear();
                known = signerCertsById.emplace(idText, std::move(found)).first;
            }
            certDer = &known->second;
            if (certDer->empty())
                refusal = signeddata_msg::kNoMatchingCert;
        }
        if (refusal) {
            char name[32];
            std::snprintf(name, sizeof name, "Signer_%d", i);
            LogContext signerCtx(log, name);
            log.logError(refusal);
            if (refusal == signeddata_msg::kUnsupportedSignature)
                log.logData("oid", sigOid);
            else if (refusal == signeddata_msg::kUnrecognizedDigest)
                log.logData("oid", signer->digestAlgorithmOid.c_str());
            log.logError(signeddata_msg::kNotVerified);
            return false;
        }
        certOfSigner.push_back(certDer);
    }

    // Every digest the message lists, and every one a signer names, runs
    // once over the content.
    std::map<int, std::unique_ptr<RunningDigest>> running;
    auto start = [&](const char* oid) {
        int id = hashIdOfDigestOid(oid);
        if (id && !running.count(id)) {
            running[id] = std::make_unique<RunningDigest>(id);
            log.logInfo((std::string("Computing ") + digestLogName(id) + " message digest.").c_str());
        }
    };
    for (int i = 0; i < digestAlgorithms.getCount(); ++i)
        start(static_cast<AlgorithmIdentifier*>(digestAlgorithms.elementAt(i))->oid.getString());
    for (int i = 0; i < signerInfos.getCount(); ++i)
        start(static_cast<SignerInfo*>(signerInfos.elementAt(i))->digestAlgorithmOid.c_str());
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadBufferSize]);
    std::int64_t total = 0;
    while (!source.endOfStream()) {
        std::uint32_t n = 0;
        if (!source.readChunk(buffer.get(), kReadSize, &n, &log) || n == 0)
            break;
        for (auto& d : running)
            d.second->update(buffer.get(), n);
        total += n;
    }
    log.logDataInt64("NumBytesDigested", total);
    std::map<int, DataBuffer> digests;
    for (auto& d : running) {
        d.second->final(digests[d.first]);
        if (verbose) {
            std::string tag = digestLogName(d.first);
            for (auto& c : tag)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            tag += "_hash";
            log.logDataHex(tag.c_str(), digests[d.first].getData(), digests[d.first].getSize());
        }
    }

    // Every signer's message digest must be the content's before any
    // signature is checked.
    log.logDataLong("numSigners", signerInfos.getCount());
    bool digestChecked = false;
    for (int i = 0; i < signerInfos.getCount(); ++i) {
        auto* signer = static_cast<SignerInfo*>(signerInfos.elementAt(i));
        if (signer->messageDigest.getSize() == 0) {
            digestChecked = true;
            continue;
        }
        int id = hashIdOfDigestOid(signer->digestAlgorithmOid.c_str());
        if (!digests[id].equalsDb(signer->messageDigest)) {
            log.logData("signerDigestAlgOid", signer->digestAlgorithmOid.c_str());
            if (id == kHashSha1)
                log.logDataHex("computedHash", digests[id].getData(), digests[id].getSize());
            log.logError((std::string(digestLogName(id)) + " message digest does not match.").c_str());
            return false;
        }
        digestChecked = true;
    }
    if (!digestChecked) {
        log.logError(signeddata_msg::kUnableToVerifyHash);
        return false;
    }

    // Every signer must verify, and the first that does not ends the
    // judgement; only those that did are handed back.
    bool verified = signerInfos.getCount() != 0;
    for (int i = 0; verified && i < signerInfos.getCount(); ++i) {
        auto* signer = static_cast<SignerInfo*>(signerInfos.elementAt(i));
        // By the signer's place in the message.
        const auto* aaDer = static_cast<const DataBuffer*>(authAttrDers.elementAt(signer->position));
        const bool hasAttributes = aaDer && aaDer->getSize();
        char name[32];
        std::snprintf(name, sizeof name, "Signer_%d", i);
        LogContext signerCtx(log, name);
        verified = false;
        if (signer->issuerCN.empty() && !signer->id.byKeyId) {
            LogNull quiet;
            std::unique_ptr<Asn1> issuer(
                decodeBerFirst(reinterpret_cast<const unsigned char*>(signer->id.issuer.data()),
                               static_cast<std::uint32_t>(signer->id.issuer.size()), nullptr, quiet));
            appendCommonName(issuer.get(), signer->issuerCN);
        }
        log.logData("issuerCN", signer->issuerCN.c_str());
        log.logData("serialNum", signer->serialNumber.c_str());
        const int hashId = hashIdOfDigestOid(signer->digestAlgorithmOid.c_str());
        const std::string& certDer = *certOfSigner[static_cast<std::size_t>(i)];
        DataBuffer expected;
        auto time = std::make_unique<StringBuffer>();
        if (hasAttributes) {
            // The attributes were read with the signer (load).
            time->append(signer->signingTime.c_str());
            hashBytes(aaDer->getData(), aaDer->getSize(), hashId, expected);
        } else {
            expected.appendDb(digests[hashId]);
        }
        auto cert = std::make_unique<TessikX509>();
        DataBuffer der, keyDer;
        der.append(certDer.data(), static_cast<unsigned int>(certDer.size()));
        RsaKey key;
        if (!cert->loadFromDer(der, log, false) || !cert->getPublicKeyDer(keyDer, log) ||
            !rsaPublicKeyFromAsn1(keyDer, key, log)) {
            log.logInfo("Failed to get public key..");
            break;
        }
        log.logData("digestOid", signer->digestAlgorithmOid.c_str());
        verified = rsaVerifyDigestInfo(signer->encryptedDigest.getData(), signer->encryptedDigest.getSize(),
                                       digestOidOfHashId(hashId), expected.getData(), expected.getSize(), key, log);
        if (!verified) {
            log.logError(signeddata_msg::kSignatureMismatch);
            log.logDataHex("expectedDigest", expected.getData(), expected.getSize());
            break;
        }
        if (hasAttributes)
            log.logInfo(signeddata_msg::kAttributesMatch);
        signerCerts.appendPtr(cert.release());
        signingTimes.appendPtr(time.release());
    }
    if (!verified) {
        signerCerts.removeAllObjects();
        signingTimes.removeAllObjects();
    }
    if (verified)
        log.logInfo(signeddata_msg::kVerified);
    else
        log.logError(signeddata_msg::kNotVerified);
    return verified;
}

MessageCertIndex::MessageCertIndex(const ExtPtrArray& certificates) {
    for (int i = 0; i < certificates.getCount(); ++i) {
        const auto* der = static_cast<const DataBuffer*>(certificates.elementAt(i));
        std::unique_ptr<CertificateFields> fields =
            der && der->getSize() != 0
                ? readCertificateFields(std::string_view(reinterpret_cast<const char*>(der->getData()), der->getSize()))
                : nullptr;
        if (!fields)
            continue;
        ++m_read;
        if (const std::string key = certificateKeyIdKey(*fields); !key.empty())
            m_byKey.emplace(key, der);
        if (!fields->serial.empty())
            m_bySerial[fields->serial].push_back({std::move(fields->issuer), der});
    }
}

const DataBuffer* MessageCertIndex::find(const CertificateId& id) {
    const std::string wanted = certificateIdKey(id);
    if (wanted.empty())
        return nullptr;
    // Each certificate of the serial is keyed once, in message order.
    if (auto unread = id.byKeyId ? m_bySerial.end() : m_bySerial.find(id.serial); unread != m_bySerial.end()) {
        for (Unread& cert : unread->second) {
            CertificateId named;
            named.issuer = std::move(cert.issuer);
            named.serial = id.serial;
            if (const std::string key = certificateIdKey(named); !key.empty())
                m_byKey.emplace(key, cert.der);
        }
        m_bySerial.erase(unread);
    }
    const auto found = m_byKey.find(wanted);
    return found == m_byKey.end() ? nullptr : found->second;
}

bool Pkcs7_SignedData_findSignerCert(MessageCertIndex& messageCerts, const CertificateId& id, SystemCerts* systemCerts,
                                     std::string& out, LogBase& log, bool verbose) {
    LogContext ctx(log, "Pkcs7_SignedData_findSignerCert");
    out.clear();
    if (verbose)
        log.logDataLong("numPkcs7Certs", messageCerts.certificatesRead());
    if (const DataBuffer* inMessage = messageCerts.find(id)) {
        if (verbose)
            log.logInfo("Found matching certificate in PKCS7");
        out.assign(reinterpret_cast<const char*>(inMessage->getData()), inMessage->getSize());
        return true;
    }
    if (!systemCerts)
        return false;
    std::vector<std::unique_ptr<Certificate>> found;
    bool inaccessible = false;
    systemCerts->searchStoresById(id, false, true, inaccessible, found, log, verbose);
    DataBuffer der;
    if (found.empty() || !found.front()->getDer(der, log))
        return false;
    out.assign(reinterpret_cast<const char*>(der.getData()), der.getSize());
    return true;
}

} // namespace tessik
