#include "netlib/transport/SshHostKey.h"

#include <cstring>

#include "netlib/crypto/Rsa.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"

namespace tessik {

namespace {

constexpr const char* kRsaName = "ssh-rsa";
constexpr const char* kDssName = "ssh-dss";
constexpr unsigned int kSha1Size = 20;
constexpr unsigned char kSignBit = 0x80;

enum HostKeyFail { kFailCheckRan = 3, kFailDigest = 4, kFailBlob = 10, kFailNameLength = 11, kFailName = 12 };

// An mpint as RFC 4251 writes it: not negative, and no leading zero byte it
// does not need. Written so, the blob is the key's one encoding, and its
// fingerprint the one ssh-keygen gives the key.
bool readNumber(const DataBuffer& blob, unsigned int& idx, MpInt& out) {
    DataBuffer bytes;
    LogNull quiet;
    if (!sshReadString(blob, idx, bytes, quiet))
        return false;
    const unsigned char* p = bytes.getData();
    const unsigned int n = bytes.getSize();
    if (n != 0 && ((p[0] & kSignBit) || (p[0] == 0 && (n == 1 || !(p[1] & kSignBit)))))
        return false;
    return out.setBytes(p, n);
}

// The blob's first field is exactly the algorithm's name.
bool readKeyType(const DataBuffer& blob, unsigned int& idx, const char* name) {
    DataBuffer type;
    LogNull quiet;
    return sshReadString(blob, idx, type, quiet) && type.getSize() == std::strlen(name) &&
           std::memcmp(type.getData(), name, type.getSize()) == 0;
}

} // namespace

bool parseRsaHostKey(const DataBuffer& blob, RsaKey& key, LogBase& log) {
    unsigned int idx = 0;
    if (!readKeyType(blob, idx, kRsaName) || !readNumber(blob, idx, key.e) || !readNumber(blob, idx, key.n) ||
        idx != blob.getSize() || !rsaPublicNumbersBounded(key, log))
        return false;
    key.keyType = kRsaPublic;
    // The true bit count: a byte count rounded off would be wrong for every
    // modulus whose top byte is not full.
    key.modulusBitLen = static_cast<std::uint32_t>(mp_count_bits(key.n));
    return key.modulusBitLen >= kSshMinRsaHostKeyBits;
}

bool parseDssHostKey(const DataBuffer& blob, DssKey& key, LogBase& log, bool verbose) {
    (void)verbose;
    if (blob.getSize() == 0) {
        log.logError("DSS key is 0-length");
        return false;
    }
    unsigned int idx = 0;
    if (!readKeyType(blob, idx, kDssName)) {
        log.logError("Failed to decode DSS key from binary string.");
        return false;
    }
    if (!readNumber(blob, idx, key.p) || !readNumber(blob, idx, key.q) || !readNumber(blob, idx, key.g) ||
        !readNumber(blob, idx, key.y) || idx != blob.getSize() || mp_iszero(key.p.get()) || mp_iszero(key.q.get())) {
        log.logError("Failed to get DSS key component values.");
        return false;
    }
    // A q of 224 or 256 bits is a key OpenSSH takes too; its signature in
    // 20-byte halves is what dssVerifySig then holds it to.
    return dsaNumbersBounded(key, log);
}

void rsaFingerprint(const RsaKey& key, const DataBuffer& blob, StringBuffer& out) {
    sshKeyFingerprint(kRsaName, key.getModulusBitLen(), blob, out);
}

void dssFingerprint(const DssKey& key, const DataBuffer& blob, StringBuffer& out) {
    sshKeyFingerprint(kDssName, static_cast<unsigned int>(mp_count_bits(key.p.get())), blob, out);
}

bool verifyRsaSignature(const RsaKey& key, const unsigned char* sig, unsigned int sigLength, const unsigned char* data,
                        unsigned int dataLength, LogBase& log) {
    DataBuffer blob;
    blob.borrowData(sig, sigLength);
    unsigned int idx = 0;
    StringBuffer name;
    LogNull quiet;
    if (sigLength < 4 || !sshReadShortString(blob, idx, name)) {
        log.logDataLong("HostKeyFailCode", kFailBlob);
        log.logDataLong("siglen", static_cast<int>(sigLength));
        log.logDataLong("datalen", static_cast<int>(dataLength));
        log.logDataHex("sigData", sig, sigLength);
        return false;
    }
    if (name.getSize() != 7) {
        log.logDataLong("HostKeyFailCode", kFailNameLength);
        log.logDataLong("slen", name.getSize());
        log.logData("p", name.getString());
        return false;
    }
    if (!name.equals(kRsaName)) {
        log.logDataLong("HostKeyFailCode", kFailName);
        log.logData("p", name.getString());
        return false;
    }
    log.logDataLong("HostKeyNumBits", static_cast<int>(key.getModulusBitLen()));
    DataBuffer signature;
    if (!sshReadString(blob, idx, signature, quiet) || signature.getSize() == 0 || idx != blob.getSize()) {
        log.logDataLong("HostKeyFailCode", kFailBlob);
        return false;
    }
    DataBuffer digest;
    Sha1().digestBytes(data, dataLength, digest);
    bool valid = false;
    if (!RSA_verify_SSH(signature.getData(), signature.getSize(), digest.getData(), digest.getSize(), valid, key,
                        log)) {
        log.logDataLong("HostKeyFailCode", kFailCheckRan);
        return false;
    }
    if (!valid)
        log.logDataLong("HostKeyFailCode", kFailDigest);
    return valid;
}

bool dssVerifySig(const DssKey& key, const unsigned char* sig, unsigned int sigLength, const unsigned char* data,
                  unsigned int dataLength, LogBase& log, bool verbose) {
    SshVerboseContext context(log, "dssVerifySig", verbose);
    if (verbose) {
        log.logDataLong("siglen", static_cast<int>(sigLength));
        log.logDataLong("datalen", static_cast<int>(dataLength));
    }

    DataBuffer blob;
    blob.borrowData(sig, sigLength);
    DataBuffer rs;
    if (sigLength == kSshDssSignatureSize) {
        rs.append(sig, sigLength);
    } else {
        unsigned int idx = 0;
        StringBuffer name;
        LogNull quiet;
        if (!sshReadShortString(blob, idx, name) || !name.equals(kDssName)) {
            log.logError("Expected ssh-dss");
            return false;
        }
        // r and s are exactly 20 bytes each: a blob that says otherwise is
        // refused, never read past.
        if (!sshReadString(blob, idx, rs, quiet) || rs.getSize() != kSshDssSignatureSize || idx != blob.getSize()) {
            log.logError(kSshMsgBadDssSignature);
            return false;
        }
    }
    MpInt r, s;
    if (!r.setBytes(rs.getData(), kSshDssHalfSize)) {
        log.logError("Failed to get r");
        return false;
    }
    if (!s.setBytes(rs.getData() + kSshDssHalfSize, kSshDssHalfSize)) {
        log.logError("Failed to get s");
        return false;
    }
    DataBuffer digest;
    Sha1().digestBytes(data, dataLength, digest);
    bool valid = false;
    if (!dsaVerifySignature(r, s, digest.getData(), kSha1Size, key, valid, log))
        return false;
    log.logDataLong("dsaSigValid", valid ? 1 : 0);
    return valid;
}

} // namespace tessik
