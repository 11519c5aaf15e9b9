#include "netlib/pki/RsaDer.h"

#include <algorithm>
#include <initializer_list>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Pkcs1.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"

namespace tessik {

namespace {

constexpr std::uint32_t kTagInteger = 2;
constexpr std::uint32_t kTagOctetString = 4;
constexpr std::uint32_t kTagSequence = 16;
constexpr int kPrivateKeyChildren = 9;
constexpr mp_digit kMultiPrimeVersion = 1;
constexpr int kPublicKeyChildren = 2;
constexpr int kBlockTypeSign = 1;
constexpr unsigned char kSignBit = 0x80;

// The unsigned value of an INTEGER child.
bool getMpInt(const Asn1* node, MpInt& out) {
    if (node == nullptr || node->tag != kTagInteger || node->tagClass != 0 || !node->primitive)
        return false;
    DataBuffer bytes;
    node->getUnsignedContent(bytes);
    bool ok = out.setBytes(bytes.getData(), bytes.getSize());
    bytes.secureClear();
    return ok;
}

std::unique_ptr<Asn1> decodeSequence(const DataBuffer& der, const char* notSequence, const char* noChildren,
                                     int minChildren, const char* tooFew, LogBase& log) {
    std::unique_ptr<Asn1> root(decodeBerFirst(der.getData(), der.getSize(), nullptr, log));
    if (!root)
        return nullptr;
    if (root->tag != kTagSequence) {
        log.logError(notSequence);
        return nullptr;
    }
    if (root->children == nullptr) {
        log.logError(noChildren);
        return nullptr;
    }
    if (root->getNumChildren() < minChildren) {
        log.logError(tooFew);
        return nullptr;
    }
    return root;
}

// The DER of SEQUENCE { SEQUENCE { oid [NULL] } OCTET STRING hash }.
bool buildDigestInfo(const char* oid, bool withNull, const unsigned char* hash, std::uint32_t hashLength,
                     DataBuffer& out, LogBase& log) {
    Asn1* info = Asn1::newSequence();
    Asn1* algorithm = Asn1::newSequence();
    std::unique_ptr<Asn1> owner(info);
    Asn1* oidNode = Asn1::newOid(oid);
    if (oidNode == nullptr) {
        delete algorithm;
        return false;
    }
    algorithm->appendChild(oidNode);
    if (withNull)
        algorithm->appendChild(Asn1::newNull());
    info->appendChild(algorithm);
    info->appendChild(Asn1::newOctetString(hash, hashLength));
    return info->encodeDer(out, false, nullptr, log);
}

// Whether the recovered block is exactly the type 1 block of a DigestInfo of
// hash under oid, with or without NULL parameters.
bool blockMatches(const DataBuffer& recovered, const char* oid, const unsigned char* hash, std::uint32_t hashLength,
                  const RsaKey& key, LogBase& log) {
    const std::uint32_t k = mpByteSize(key.n);
    DataBuffer block;
    block.appendCharRepeated(0, recovered.getSize() < k ? k - recovered.getSize() : 0);
    block.append(recovered.getData(), recovered.getSize());
    for (bool withNull : {true, false}) {
        DataBuffer info, expected;
        LogNull quiet;
        if (!buildDigestInfo(oid, withNull, hash, hashLength, info, log))
            continue;
        if (pkcs1v15Encode(info.getData(), info.getSize(), kBlockTypeSign, key.getModulusBitLen(), expected, quiet) &&
            expected.equalsDb(block))
            return true;
    }
    return false;
}

} // namespace

bool rsaPrivateKeyFromAsn1(const DataBuffer& der, RsaKey& key, LogBase& log) {
    std::unique_ptr<Asn1> root =
        decodeSequence(der, "Invalid ASN.1 for RSA Private Key", "Invalid ASN.1 for RSA Private Key.",
                       kPrivateKeyChildren, "Invalid ASN.1 for RSA Private Key (2)", log);
    if (!root)
        return false;
    key.keyType = kRsaPrivate;
    struct Field {
        int child;
        MpInt* value;
        const char* failure;
    };
    const Field fields[] = {
        {1, &key.n, "Failed to get RSA modulus from ASN.1"},     {2, &key.e, "Failed to get RSA exponent from ASN.1"},
        {4, &key.p, "Failed to get RSA P from ASN.1"},           {5, &key.q, "Failed to get RSA Q from ASN.1"},
        {6, &key.dP, "Failed to get RSA DP from ASN.1"},         {7, &key.dQ, "Failed to get RSA DQ from ASN.1"},
        {8, &key.qInv, "Failed to get RSA InverseQ from ASN.1"}, {3, &key.d, "Failed to get RSA D from ASN.1"},
    };
    // Version 1 and a tenth field, otherPrimeInfos: primes the two-prime
    // arithmetic would leave out.
    MpInt version;
    if (!getMpInt(root->getChild(0), version)) {
        log.logError("Failed to get RSA key version from ASN.1");
        return false;
    }
    if (mp_cmp_d(version, kMultiPrimeVersion) == MP_EQ || root->getNumChildren() > kPrivateKeyChildren) {
        log.logError(rsa_msg::kMultiPrime);
        return false;
    }
    bool ok = true;
    for (const Field& field : fields) {
        if (!getMpInt(root->getChild(field.child), *field.value)) {
            log.logError(field.failure);
            ok = false;
        }
    }
    return ok && rsaPublicNumbersBounded(key, log) && rsaPrivateKeyWhole(key, log);
}

bool rsaPublicKeyFromAsn1(const DataBuffer& der, RsaKey& key, LogBase& log) {
    std::unique_ptr<Asn1> root =
        decodeSequence(der, "Invalid ASN.1 for RSA Public Key", "Invalid ASN.1 for RSA Public Key.", kPublicKeyChildren,
                       "Invalid ASN.1 for RSA Public Key..", log);
    if (!root)
        return false;
    // A modulus or exponent is positive (RFC 8017); openssl reads the
    // magnitude of a negative one, which no sound encoder writes.
    for (int child = 0; child < kPublicKeyChildren; ++child) {
        DataBuffer content;
        if (const Asn1* node = root->getChild(child))
            node->getContent(content);
        if (content.getSize() != 0 && (content.getData()[0] & kSignBit) != 0) {
            log.logError(rsa_msg::kNegativeNumber);
            return false;
        }
    }
    key.keyType = kRsaPublic;
    bool ok = true;
    if (!getMpInt(root->getChild(0), key.n)) {
        log.logError("Failed to get RSA modulus from ASN.1");
        ok = false;
    }
    if (!getMpInt(root->getChild(1), key.e)) {
        log.logError("Failed to get RSA exponent from ASN.1");
        ok = false;
    }
    return ok && rsaPublicNumbersBounded(key, log);
}

bool rsaDecryptWithDerKey(const DataBuffer& privateKeyDer, const DataBuffer& input, DataBuffer& out, LogBase& log,
                          bool verbose) {
    RsaKey key;
    if (!rsaPrivateKeyFromAsn1(privateKeyDer, key, log))
        return false;
    return rsaDecryptPadded(input.getData(), input.getSize(), nullptr, 0, kHashSha1, kRsaPaddingV15, key, kRsaPrivate,
                            out, verbose, log);
}

bool rsaEncryptWithDerKey(const DataBuffer& publicKeyDer, const DataBuffer& input, DataBuffer& out, LogBase& log,
                          bool verbose) {
    RsaKey key;
    if (!rsaPublicKeyFromAsn1(publicKeyDer, key, log))
        return false;
    return rsaEncryptPadded(input.getData(), input.getSize(), nullptr, 0, kHashSha1, kRsaPaddingV15, key, kRsaPublic,
                            out, verbose, log);
}

bool rsaVerifyDigestInfo(const unsigned char* signature, std::uint32_t signatureLength, const char* hashOid,
                         const unsigned char* hash, std::uint32_t hashLength, const RsaKey& key, LogBase& log) {
    if (!signature || !hash || !hashOid || signatureLength != mpByteSize(key.n))
        return false;
    DataBuffer recovered;
    LogNull quiet;
    if (!rsaExptmod(signature, signatureLength, kRsaPublic, key, false, recovered, quiet))
        return false;
    return blockMatches(recovered, hashOid, hash, hashLength, key, log);
}

bool RSA_verify_SSH(const unsigned char* signature, std::uint32_t signatureLength, const unsigned char* hash,
                    std::uint32_t hashLength, bool& valid, const RsaKey& key, LogBase& log) {
    LogContext context(log, "RSA_verify_SSH");
    valid = false;
    if (signature == nullptr || hash == nullptr || signatureLength == 0 || hashLength == 0) {
        log.logError("Null or zero-length input");
        return false;
    }
    DataBuffer recovered;
    if (!rsaExptmod(signature, signatureLength, kRsaPublic, key, false, recovered, log)) {
        log.logError("exptMod failed.");
        return false;
    }
    DataBuffer digestInfo;
    if (!Pkcs1_5_decode(recovered.getData(), recovered.getSize(), kBlockTypeSign, key.getModulusBitLen(), digestInfo,
                        log)) {
        log.logError("PKCS v1.5 decoding failed.");
        return false;
    }
    std::unique_ptr<AsnItem> item(DecodeAsn(digestInfo.getData(), digestInfo.getSize(), log, false));
    if (!item) {
        log.logError("Failed to ASN.1 decode signature");
        return false;
    }
    AsnItem* digest = item->getSubItem(1);
    if (digest == nullptr) {
        log.logError("ASN.1 structure is invalid (1)");
        return false;
    }
    if (digest->tag != kTagOctetString || digest->tagClass != 0 || digest->constructed) {
        log.logError("ASN.1 structure is invalid (2)");
        return false;
    }
    if (digest->length != hashLength) {
        log.logError("ASN.1 structure is invalid (3)");
        return false;
    }
    AsnItem* algorithm = item->getSubItem(0);
    AsnItem* oidItem = algorithm != nullptr ? algorithm->getSubItem(0) : nullptr;
    StringBuffer oid;
    if (oidItem != nullptr)
        oidItem->getOidString(oid);
    if (!std::equal(hash, hash + hashLength, digest->getBytes())) {
        log.logError("Hashes do not match.");
        log.logDataLong("hashLen", static_cast<int>(hashLength));
        StringBuffer xml;
        item->toXml(xml, nullptr);
        log.logData("signatureXml", xml.getString());
        if (oidItem != nullptr)
            log.logData("HashAlgorithmOid", oid.getString());
        return true;
    }
    // The digest alone is not enough: bytes the decoder skipped (trailing
    // data, odd length forms, garbage parameters) would let forgeries through.
    if (oidItem == nullptr || !blockMatches(recovered, oid.getString(), hash, hashLength, key, log)) {
        log.logError("Signature block is not the expected PKCS v1.5 DigestInfo block.");
        return true;
    }
    valid = true;
    return true;
}

} // namespace tessik
