#include "netlib/pki/AlgorithmIdentifier.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "netlib/core/ClsXml.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikRand.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/Asn1.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {
// RC2 parameter versions (RFC 2268) and the effective key bits they stand for.
struct Rc2Version {
    int version;
    int bits;
};
constexpr Rc2Version kRc2Versions[] = {{160, 40}, {52, 56}, {120, 64}, {58, 128}};
constexpr int kRc2DefaultVersion = 58;
// Versions from here on are the effective key bits themselves.
constexpr int kRc2FirstBitsVersion = 256;
constexpr int kRc2IvSize = 8;
constexpr int kAesKeyBits128 = 128;
constexpr int kAesKeyBits192 = 192;
constexpr int kAesKeyBits256 = 256;
constexpr int kDes40Bits = 40;
constexpr int kDesSingleKeyBits = 64;
constexpr int kDes3KeyBits = 192;
constexpr unsigned int kMaxExtIndexDigits = 6;

bool isIvOnly(const StringBuffer& oid) {
    for (const char* o :
         {alg_oid::kAes128Cbc, alg_oid::kAes192Cbc, alg_oid::kAes256Cbc, alg_oid::kDesCbc, alg_oid::kDesEde3Cbc})
        if (oid.equals(o))
            return true;
    return false;
}

bool isPbe(const StringBuffer& oid) {
    return oid.beginsWith(alg_oid::kPkcs12PbePrefix);
}

void decodeBase64(const char* text, DataBuffer& out) {
    out.clear();
    ContentCoding::decodeBase64(text, static_cast<unsigned int>(std::strlen(text)), out);
}

// A message's values are held at their size: a buffer's first append takes
// no room to grow, since thousands of signers each hold a few.
void appendOctets(const unsigned char* bytes, unsigned int n, DataBuffer& out) {
    if (out.getSize() == 0)
        out.appendExact(bytes, n);
    else
        out.append(bytes, n);
}

int hexNumber(const char* text) {
    return static_cast<int>(std::strtol(text, nullptr, 16));
}

Asn1* octets(const DataBuffer& db) {
    return Asn1::newOctetString(db.getData(), db.getSize());
}
} // namespace

AlgorithmIdentifier::~AlgorithmIdentifier() = default;

bool AlgorithmIdentifier::loadXml(ClsXml& node, LogBase& log, bool verbose) {
    if (!node.tagEquals("sequence") || !node.navigateToFirstChild()) {
        log.logError("Invalid XML for AlgorithmIdentifier");
        return false;
    }
    if (!node.tagEquals("oid")) {
        log.logError("Invalid XML(2) for AlgorithmIdentifier");
        node.navigateToParent();
        return false;
    }
    oid.clear();
    oid.append(node.getContentPtr());
    node.navigateToParent();
    if (verbose) {
        log.enterContext("AlgorithmIdentifier", true);
        log.logData("oid", oid.getString());
    }
    bool ok = true;
    XString text;
    if (oid.equals(alg_oid::kRc2Cbc)) {
        log.logInfo("RC2_CBC");
        if (node.resolvePath("sequence|octets|*", text, log)) {
            log.logData("IV", text.getUtf8());
            decodeBase64(text.getUtf8(), iv);
        }
        if (node.resolvePath("sequence|int|*", text, log)) {
            const int version = hexNumber(text.getUtf8());
            bool known = false;
            for (const Rc2Version& v : kRc2Versions)
                if (v.version == version) {
                    keyLength = v.bits;
                    known = true;
                }
            // Our own writer puts key lengths of 256 bits and more as the version.
            if (!known && version >= kRc2FirstBitsVersion) {
                keyLength = version;
                known = true;
            }
            log.logDataLong("KeyLength", keyLength);
            ok = known;
        }
    } else if (isIvOnly(oid)) {
        std::unique_ptr<ClsXml> params(node.getChildWithTag("octets"));
        log.logData("encryptionAlgorithmOid", oid.getString());
        if (params) {
            log.logData("IV", params->getContentPtr());
            decodeBase64(params->getContentPtr(), iv);
        }
    } else if (oid.equals(alg_oid::kRc4)) {
        log.logData("encryptionAlgorithmOid", oid.getString());
    } else if (isPbe(oid)) {
        log.logInfo("PBE encryption.");
        if (node.resolvePath("sequence|octets|*", text, log)) {
            log.logData("Salt", text.getUtf8());
            decodeBase64(text.getUtf8(), salt);
        }
        if (node.resolvePath("sequence|int|*", text, log))
            iterations = hexNumber(text.getUtf8());
        log.logDataLong("Iterations", iterations);
    }
    if (verbose)
        log.leaveContext();
    return ok;
}

Asn1* AlgorithmIdentifier::toAsn(LogBase& log) {
    std::unique_ptr<Asn1> seq(Asn1::newSequence());
    seq->appendChild(Asn1::newOid(oid.getString()));
    if (oid.equals(alg_oid::kRsaEncryption)) {
        seq->appendChild(Asn1::newNull());
    } else if (oid.equals(alg_oid::kRc4)) {
        // The stream cipher's IV of no bytes, as openssl writes and requires.
        seq->appendChild(Asn1::newOctetString(nullptr, 0));
    } else if (oid.equals(alg_oid::kRc2Cbc)) {
        int version = kRc2DefaultVersion;
        for (const Rc2Version& v : kRc2Versions)
            if (v.bits == keyLength && v.bits != 128)
                version = v.version;
        if (keyLength >= kRc2FirstBitsVersion)
            version = keyLength;
        if (iv.getSize() != kRc2IvSize) {
            iv.clear();
            TessikRand::randomBytes(kRc2IvSize, iv);
        }
        Asn1* params = Asn1::newSequence();
        params->appendChild(Asn1::newInteger(version));
        params->appendChild(octets(iv));
        seq->appendChild(params);
    } else if (isIvOnly(oid)) {
        seq->appendChild(octets(iv));
    } else if (isPbe(oid)) {
        Asn1* params = Asn1::newSequence();
        params->appendChild(octets(salt));
        params->appendChild(Asn1::newInteger(iterations));
        seq->appendChild(params);
    } else {
        log.logError("Unrecognized encryption algorithm OID");
        log.logData("oid", oid.getString());
        return nullptr;
    }
    return seq.release();
}

void AlgorithmIdentifier::logParams(LogBase& log) const {
    log.enterContext("AlgorithmIdentifier", true);
    log.logData("oid", oid.getString());
    if (iterations)
        log.logDataLong("numIterations", iterations);
    if (salt.getSize())
        log.logDataHex("salt", salt.getData(), salt.getSize());
    if (keyLength)
        log.logDataLong("keyLengthInBits", keyLength);
    if (iv.getSize())
        log.logDataHex("iv", iv.getData(), iv.getSize());
    log.leaveContext();
}

bool setPkcs7ContentEncAlgId(int algorithmId, int keyLengthBits, AlgorithmIdentifier& out, LogBase& log) {
    int ivSize = 0;
    switch (algorithmId) {
    case kCipherAes:
        if (keyLengthBits < kAesKeyBits128 + 1) {
            out.oid.setString(alg_oid::kAes128Cbc);
            out.keyLength = kAesKeyBits128;
        } else if (keyLengthBits > kAesKeyBits192) {
            out.oid.setString(alg_oid::kAes256Cbc);
            out.keyLength = kAesKeyBits256;
        } else {
            out.oid.setString(alg_oid::kAes192Cbc);
            out.keyLength = kAesKeyBits192;
        }
        ivSize = kAesBlockSize;
        break;
    case kCipherDes:
        if (keyLengthBits > kDes40Bits) {
            out.oid.setString(alg_oid::kDesEde3Cbc);
            out.keyLength = kDes3KeyBits;
        } else {
            // Single DES takes a whole 8-byte key; a 5-byte one would be
            // zero-extended by whoever opens the envelope.
            out.oid.setString(alg_oid::kDesCbc);
            out.keyLength = kDesSingleKeyBits;
        }
        ivSize = kDesBlockSize;
        break;
    case kCipherRc2:
        out.oid.setString(alg_oid::kRc2Cbc);
        out.keyLength = keyLengthBits;
        ivSize = kRc2IvSize;
        break;
    case kCipherRc4:
        out.oid.setString(alg_oid::kRc4);
        out.keyLength = keyLengthBits;
        break;
    default:
        log.logError("Unsupported encryption algorithm for PKCS7.");
        log.logDataLong("encryptionAlgId", algorithmId);
        return false;
    }
    out.salt.clear();
    out.iterations = 0;
    out.iv.clear();
    if (ivSize)
        TessikRand::randomBytes(ivSize, out.iv);
    return true;
}

bool getOctetsFromXml(ClsXml& element, const ExtPtrArray* extList, DataBuffer& out) {
    const char* content = element.getContentPtr();
    if (!content)
        content = "";
    if (extList && std::strlen(content) < kMaxExtIndexDigits && element.hasAttrWithValue("src", "ext")) {
        const int index = std::atoi(content);
        if (index < 0 || index >= extList->getCount())
            return false;
        const auto* db = dynamic_cast<const DataBuffer*>(extList->elementAt(index));
        if (!db)
            return false;
        appendOctets(db->getData(), db->getSize(), out);
        return true;
    }
    DataBuffer decoded;
    decodeBase64(content, decoded);
    appendOctets(decoded.getData(), decoded.getSize(), out);
    return true;
}

} // namespace tessik
