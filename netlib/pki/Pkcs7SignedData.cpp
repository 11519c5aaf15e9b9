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
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/pki/SignatureAlgorithms.h"
#include "netlib/pki/SystemCerts.h"
#include "netlib/pki/TessikX509.h"
#include "netlib/streams/DataSource.h"

namespace tessik {

namespace {

constexpr const char* kGostDigestOid = "1.2.643.2.2.9";
constexpr const char* kSigningTimeOid = "1.2.840.113549.1.9.5";
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

bool loadOctets(ClsXml& start, const char* path, const ExtPtrArray* extList, DataBuffer& out, LogBase& log) {
    std::unique_ptr<ClsXml> ref(start.newRefToSelf());
    XString unused;
    if (!ref->resolvePath(path, unused, log))
        return false;
    return getOctetsFromXml(*ref, extList, out);
}

} // namespace

SignerInfo::~SignerInfo() = default;

bool SignerInfo::loadXml(ClsXml& node, const ExtPtrArray* extList, LogBase& log, bool verbose) {
    // By place: version, the signer's certificate (issuer and serial, or
    // [0] key identifier), digest algorithm, optional [0] authenticated
    // attributes, signature algorithm, signature.
    std::unique_ptr<ClsXml> sid(node.getChild(kSignerIdField));
    std::unique_ptr<ClsXml> digest(node.getChild(kSignerIdField + 1));
    std::unique_ptr<ClsXml> attributes(node.getChild(kSignerIdField + 2));
    if (attributes && !(attributes->tagEquals("contextSpecific") && attributes->getAttrValueInt("tag") == 0))
        attributes.reset();
    const int afterAttributes = kSignerIdField + (attributes ? 3 : 2);
    std::unique_ptr<ClsXml> signatureAlgorithm(node.getChild(afterAttributes));
    std::unique_ptr<ClsXml> signature(node.getChild(afterAttributes + 1));
    if (!sid || !digest || !signatureAlgorithm || !signature) {
        log.logError("SignerInfo is incomplete.");
        return false;
    }
    issuerCN.clear();
    serialNumber.clear();
    if (sid->tagEquals("sequence")) {
        if (!sid->resolvePath("int|*", serialNumber, log)) {
            log.logError("Failed to get signing certificate's serial number from SignerInfo.");
            return false;
        }
        // The issuer's common name, for the log.
        std::unique_ptr<ClsXml> value;
        XString unused;
        std::unique_ptr<ClsXml> attribute(sid->newRefToSelf());
        if (attribute->resolvePath("sequence|/C/oid,2.5.4.3|..|$", unused, log))
            value.reset(attribute->getChild(1));
        if (!value || !appendNameValueText(value->getCurrentNode(), issuerCN))
            log.logError("Warning: The IssuerCN is not present in the SignerInfo.");
        if (verbose) {
            log.logData("serialNumber2", serialNumber.getUtf8());
            log.logData("issuerCN", issuerCN.getUtf8());
        }
    } else if (!sid->tagEquals("contextSpecific")) {
        log.logError(signeddata_msg::kUnreadableSigner);
        return false;
    }
    if (!digest->resolvePath("oid|*", digestAlgorithmOid, log)) {
        log.logError("Failed to get digest algorithm identifier in SignerInfo");
        return false;
    }
    if (verbose)
        log.logData("digestAlgorithmOid", digestAlgorithmOid.getUtf8());
    contentType.clear();
    messageDigest.clear();
    signingTime.clear();
    if (attributes) {
        if (std::unique_ptr<ClsXml>(attributes->newRefToSelf())
                ->resolvePath("/C/oid,1.2.840.113549.1.9.3|..|set|oid|*", contentType, log))
            log.logData("contentType", contentType.getUtf8());
        if (loadOctets(*attributes, "/C/oid,1.2.840.113549.1.9.4|..|set|octets|$", extList, messageDigest, log))
            log.logDataHex("messageDigestHex", messageDigest.getData(), messageDigest.getSize());
        else
            messageDigest.clear();
        if (std::unique_ptr<ClsXml>(attributes->newRefToSelf())
                ->resolvePath("/C/oid,1.2.840.113549.1.9.5|..|set|utctime|*", signingTime, log))
            log.logData("signingTime", signingTime.getUtf8());
    }
    if (messageDigest.getSize() == 0)
        log.logError("No SignerInfo message digest found.");
    if (!signatureAlgorithm->resolvePath("oid|*", digestEncryptionAlgorithmOid, log)) {
        log.logError("Failed to get digest encryption algorithm identifier in SignerInfo");
        return false;
    }
    if (verbose)
        log.logData("digestEncryptionAlgorithmOid", digestEncryptionAlgorithmOid.getUtf8());
    encryptedDigest.clear();
    if (!signature->tagEquals("octets") || !getOctetsFromXml(*signature, extList, encryptedDigest)) {
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
    std::unique_ptr<ClsXml> signers(sd->getChild(sd->getNumChildren() - 1));
    if (!signers) {
        log.logError("Failed to find XML path to SignedData");
        return false;
    }
    log.logDataLong("numSigners", signers->getNumChildren());
    for (int i = 0; i < signers->getNumChildren(); ++i) {
        LogContext signerCtx(log, "SignerInfo");
        std::unique_ptr<ClsXml> node(signers->getChild(i));
        auto signer = std::make_unique<SignerInfo>();
        signer->position = i;
        if (node && signer->loadXml(*node, extList, log, verbose))
            signerInfos.appendPtr(signer.release());
        else
            ++unreadableSigners;
    }
    return true;
}

SignerInfo* Pkcs7_SignedData::signerAt(int position) const {
    for (int i = 0; i < signerInfos.getCount(); ++i) {
        auto* signer = static_cast<SignerInfo*>(signerInfos.elementAt(i));
        if (signer->position == position)
            return signer;
    }
    return nullptr;
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
        start(static_cast<SignerInfo*>(signerInfos.elementAt(i))->digestAlgorithmOid.getUtf8());
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

    // Every signer's message digest must be the content's.
    log.logDataLong("numSigners", signerInfos.getCount());
    bool digestChecked = false;
    for (int i = 0; i < signerInfos.getCount(); ++i) {
        auto* signer = static_cast<SignerInfo*>(signerInfos.elementAt(i));
        log.logData("signerDigestAlgOid", signer->digestAlgorithmOid.getUtf8());
        log.logDataLong("messageDigestSize", static_cast<int>(signer->messageDigest.getSize()));
        if (signer->messageDigest.getSize() == 0) {
            log.logError(signeddata_msg::kEmptyMessageDigest);
            digestChecked = true;
            continue;
        }
        int id = hashIdOfDigestOid(signer->digestAlgorithmOid.getUtf8());
        if (!id) {
            log.logError(signeddata_msg::kUnrecognizedDigest);
            log.logData("oid", signer->digestAlgorithmOid.getUtf8());
            return false;
        }
        if (!digests[id].equalsDb(signer->messageDigest)) {
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

    // As openssl judges a message: every signer must verify, each under the
    // first certificate that bears its identifier, and the first that does
    // not ends the judgement; only those that did are handed back.
    std::vector<std::unique_ptr<CertificateFields>> messageCerts;
    for (int i = 0; i < certificates.getCount(); ++i) {
        const auto* der = static_cast<const DataBuffer*>(certificates.elementAt(i));
        if (der && der->getSize() != 0)
            messageCerts.push_back(
                readCertificateFields(std::string_view(reinterpret_cast<const char*>(der->getData()), der->getSize())));
    }
    std::map<std::string, std::string> signerCertsById;
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
        // Attributes without a message digest bind nothing to the content;
        // without a content type they do not say what was signed.
        if (hasAttributes && signer->messageDigest.getSize() == 0) {
            log.logError(signeddata_msg::kEmptyMessageDigest);
            break;
        }
        if (hasAttributes && signer->contentType.getSizeUtf8() == 0) {
            log.logError(signeddata_msg::kNoContentType);
            break;
        }
        if (!signer->idRead) {
            log.logError(signeddata_msg::kUnreadableSigner);
            break;
        }
        log.logData("issuerCN", signer->issuerCN.getUtf8());
        log.logData("serialNum", signer->serialNumber.getUtf8());
        const int hashId = hashIdOfDigestOid(signer->digestAlgorithmOid.getUtf8());
        const char* sigOid = signer->digestEncryptionAlgorithmOid.getUtf8();
        if (std::strcmp(sigOid, alg_oid::kRsaEncryption) != 0 && hashIdOfRsaSignatureOid(sigOid) == 0) {
            log.logError(signeddata_msg::kUnsupportedSignature);
            log.logData("oid", sigOid);
            break;
        }
        // Signers of one identifier are looked for once: copies of a signer
        // would otherwise search the stores again each.
        const CertificateId& id = signer->id;
        const std::string idText = (id.byKeyId ? "k" + id.keyId : "i" + id.issuer) + '\0' + id.serial;
        auto known = signerCertsById.find(idText);
        if (known == signerCertsById.end()) {
            std::string found;
            if (!Pkcs7_SignedData_findSignerCert(certificates, messageCerts, id, systemCerts, found, log, verbose))
                found.clear();
            known = signerCertsById.emplace(idText, std::move(found)).first;
        }
        const std::string& certDer = known->second;
        if (certDer.empty()) {
            log.logError(signeddata_msg::kNoMatchingCert);
            break;
        }
        DataBuffer expected;
        auto time = std::make_unique<StringBuffer>();
        if (hasAttributes) {
            extractSigningTime(*aaDer, *time);
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
        log.logData("digestOid", signer->digestAlgorithmOid.getUtf8());
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

bool Pkcs7_SignedData_findSignerCert(const ExtPtrArray& certificates,
                                     const std::vector<std::unique_ptr<CertificateFields>>& read,
                                     const CertificateId& id, SystemCerts* systemCerts, std::string& out, LogBase& log,
                                     bool verbose) {
    LogContext ctx(log, "Pkcs7_SignedData_findSignerCert");
    out.clear();
    if (verbose)
        log.logDataLong("numPkcs7Certs", certificates.getCount());
    std::size_t k = 0;
    for (int i = 0; i < certificates.getCount(); ++i) {
        const auto* der = static_cast<const DataBuffer*>(certificates.elementAt(i));
        if (!der || der->getSize() == 0)
            continue;
        const CertificateFields* fields = k < read.size() ? read[k].get() : nullptr;
        ++k;
        if (fields && certificateHasId(*fields, id)) {
            if (verbose)
                log.logInfo("Found matching certificate in PKCS7");
            out.assign(reinterpret_cast<const char*>(der->getData()), der->getSize());
            return true;
        }
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

void extractSigningTime(const DataBuffer& authAttrDer, StringBuffer& timeOut) {
    timeOut.clear();
    StringBuffer xml;
    LogNull quiet;
    if (!derToXml(authAttrDer, xml, nullptr, quiet, false))
        return;
    const std::string text = xml.getString();
    std::size_t at = text.find(std::string("<oid>") + kSigningTimeOid + "</oid>");
    if (at == std::string::npos)
        return;
    at = text.find("<utctime>", at);
    if (at == std::string::npos)
        return;
    at += std::strlen("<utctime>");
    std::size_t end = text.find('<', at);
    timeOut.append(text.substr(at, end == std::string::npos ? std::string::npos : end - at).c_str());
}

} // namespace tessik
