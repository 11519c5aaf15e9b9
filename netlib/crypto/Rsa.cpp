#include "netlib/crypto/Rsa.h"

#include <cstdio>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Md5.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/Montgomery.h"
#include "netlib/crypto/Pkcs1.h"

namespace tessik {

namespace {

constexpr int kBlockTypeSign = 1;
constexpr int kBlockTypeEncrypt = 2;
constexpr int kMd5Size = 16;

// The exponentiation after the key checks.
bool exptmodChecked(const unsigned char* input, std::uint32_t inputLength, int which, const RsaKey& key,
                    bool zeroExtend, DataBuffer& out, LogBase& log) {
    // A key its reader refused, or one built by hand, is never used.
    if (!rsaPublicNumbersBounded(key, log))
        return false;
    MpInt x;
    if (input != nullptr && inputLength != 0 && !x.setBytes(input, inputLength)) {
        log.logError("Invalid RSA input value");
        return false;
    }
    // x = n would come back as 0: no message maps to it.
    if (mp_cmp(x, key.n) != MP_LT) {
        log.logError("Invalid RSA input value");
        return false;
    }
    MpInt m;
    if (which == kRsaPrivate) {
        // Raised to e = 1 every result gives its input back: the check below
        // would pass a key that is none.
        if (mp_cmp_d(key.e, 1) != MP_GT) {
            log.logError(rsa_msg::kNotWhole);
            return false;
        }
        if (!rsaPrivatePartsReduced(key, log))
            return false;
        MpInt m1, m2, h;
        if (montgomeryExptmodPair(x, key.dP, key.p, x, key.dQ, key.q, m1, m2) != MP_OKAY) {
            log.logError("Modular exponentiation (1) failed");
            return false;
        }
        if (mp_sub(m1, m2, h) != MP_OKAY) {
            log.logError("Modular exponentiation (3) failed");
            return false;
        }
        if (mp_mulmod(h, key.qInv, key.p, h) != MP_OKAY) {
            log.logError("Modular exponentiation (4) failed");
            return false;
        }
        if (mp_mul(h, key.q, h) != MP_OKAY) {
            log.logError("Modular exponentiation (5) failed");
            return false;
        }
        if (mp_add(m2, h, m) != MP_OKAY) {
            log.logError("Modular exponentiation (6) failed");
            return false;
        }
        // No private result leaves unless the public key undoes it: a key of
        // a composite factor, or a fault in the arithmetic, would hand out a
        // wrong signature that gives the factors away.
        MpInt undone;
        if (montgomeryExptmod(m, key.e, key.n, false, undone) != MP_OKAY || mp_cmp(undone, x) != MP_EQ) {
            log.logError(rsa_msg::kResultNotUndone);
            return false;
        }
    } else if (montgomeryExptmod(x, key.e, key.n, false, m) != MP_OKAY) {
        log.logError("Modular exponentiation (A) failed");
        return false;
    }
    const unsigned int k = mpByteSize(key.n);
    if (mpByteSize(m) > k) {
        log.logError("Modular exponentiation output size is invalid");
        return false;
    }
    DataBuffer bytes;
    mpToUnsignedBin(m, bytes);
    if (zeroExtend && bytes.getSize() != 0 && inputLength == k && bytes.getSize() < inputLength) {
        log.logInfo(rsa_msg::kZeroExtended);
        out.appendCharRepeated(0, inputLength - bytes.getSize());
    }
    out.append(bytes.getData(), bytes.getSize());
    bytes.secureClear();
    return true;
}

} // namespace

unsigned int RsaKey::getModulusBitLen() const {
    if (modulusBitLen != 0)
        return modulusBitLen;
    return static_cast<unsigned int>(mp_count_bits(n));
}

bool RsaKey::getSshFingerprint(StringBuffer& out) const {
    static const unsigned char kKeyType[] = {0, 0, 0, 7, 's', 's', 'h', '-', 'r', 's', 'a'};
    DataBuffer blob;
    blob.append(kKeyType, sizeof kKeyType);
    sshWriteMpint(e, blob);
    sshWriteMpint(n, blob);
    sshKeyFingerprint("ssh-rsa", getModulusBitLen(), blob, out);
    return true;
}

void sshKeyFingerprint(const char* keyType, unsigned int bits, const DataBuffer& blob, StringBuffer& out) {
    unsigned char digest[kMd5Size];
    Md5().digestDb(blob, digest);
    StringBuffer result;
    result.append(keyType);
    result.appendChar(' ');
    result.appendUint32(bits);
    result.appendChar(' ');
    char text[4];
    for (int i = 0; i < kMd5Size; ++i) {
        std::snprintf(text, sizeof text, i == 0 ? "%02x" : ":%02x", digest[i]);
        result.append(text);
    }
    out.setString(result.getString());
}

bool rsaPublicNumbersBounded(const RsaKey& key, LogBase& log) {
    const auto nBits = static_cast<std::uint32_t>(mp_count_bits(key.n));
    const auto eBits = static_cast<std::uint32_t>(mp_count_bits(key.e));
    const char* refusal = nullptr;
    if (nBits > kRsaMaxModulusBits)
        refusal = rsa_msg::kModulusTooLarge;
    else if (!mp_isodd(key.n))
        refusal = rsa_msg::kModulusEven;
    else if (mp_cmp_mag(key.e, key.n) != MP_LT)
        refusal = rsa_msg::kExponentNotBelowModulus;
    else if (nBits > kRsaSmallModulusBits && eBits > kRsaMaxLargeModulusExponentBits)
        refusal = rsa_msg::kExponentTooLarge;
    if (refusal == nullptr)
        return true;
    log.logError(refusal);
    log.logDataLong("modulusBits", static_cast<int>(nBits));
    log.logDataLong("exponentBits", static_cast<int>(eBits));
    return false;
}

bool rsaPrivatePartsReduced(const RsaKey& key, LogBase& log) {
    const bool reduced = mp_cmp_mag(key.p, key.n) == MP_LT && mp_cmp_mag(key.q, key.n) == MP_LT &&
                         mp_cmp_mag(key.dP, key.p) == MP_LT && mp_cmp_mag(key.dQ, key.q) == MP_LT &&
                         mp_cmp_mag(key.qInv, key.p) == MP_LT;
    if (!reduced)
        log.logError(rsa_msg::kPartNotReduced);
    return reduced;
}

bool rsaPrivateKeyWhole(const RsaKey& key, LogBase& log) {
    if (!rsaPrivatePartsReduced(key, log))
        return false;
    MpInt product, pLess1, qLess1, one;
    auto isOne = [&](const mp_int* a, const mp_int* b, const mp_int* modulus) {
        return mp_mulmod(a, b, modulus, one) == MP_OKAY && mp_cmp_d(one, 1) == MP_EQ;
    };
    // e = 1 fits every p and q, and its signatures are the messages.
    const bool whole = mp_cmp_d(key.e, 1) == MP_GT && mp_cmp_d(key.p, 1) == MP_GT && mp_cmp_d(key.q, 1) == MP_GT &&
                       mp_mul(key.p, key.q, product) == MP_OKAY && mp_cmp(product, key.n) == MP_EQ &&
                       mp_sub_d(key.p, 1, pLess1) == MP_OKAY && mp_sub_d(key.q, 1, qLess1) == MP_OKAY &&
                       isOne(key.e, key.dP, pLess1) && isOne(key.e, key.dQ, qLess1) && isOne(key.q, key.qInv, key.p);
    if (!whole)
        log.logError(rsa_msg::kNotWhole);
    return whole;
}

namespace {
thread_local std::uint64_t exptmodCounts[2] = {0, 0};
} // namespace

std::uint64_t rsaExptmodCount(int which) {
    return which == kRsaPrivate ? exptmodCounts[kRsaPrivate] : exptmodCounts[kRsaPublic];
}

bool rsaExptmod(const unsigned char* input, std::uint32_t inputLength, int which, const RsaKey& key, bool zeroExtend,
                DataBuffer& out, LogBase& log) {
    if (which == kRsaPrivate && key.keyType != kRsaPrivate) {
        log.logError("Private key required, but not provided");
        return false;
    }
    if (which != kRsaPublic && which != kRsaPrivate) {
        log.logError("Invalid public/private key choice");
        return false;
    }
    ++exptmodCounts[which];
    return exptmodChecked(input, inputLength, which, key, zeroExtend, out, log);
}

bool rsaEncryptPadded(const unsigned char* input, std::uint32_t inputLength, const unsigned char* label,
                      std::uint32_t labelLength, int hashId, int padding, const RsaKey& key, int which, DataBuffer& out,
                      bool verbose, LogBase& log) {
    if (padding != kRsaPaddingOaep)
        padding = kRsaPaddingV15;
    const unsigned int bits = key.getModulusBitLen();
    const unsigned int k = mpByteSize(key.n);
    if (verbose)
        log.logDataLong("modulus_bitlen", static_cast<int>(bits));
    DataBuffer padded;
    static const unsigned char kEmpty = 0;
    const unsigned char* message = input != nullptr ? input : &kEmpty;
    if (padding == kRsaPaddingOaep) {
        if (verbose)
            log.logData("padding", "OAEP");
        if (!oaepEncode(message, inputLength, label, labelLength, bits, hashId, padded, log))
            return false;
    } else {
        if (verbose)
            log.logData("padding", "PKCS 1.5");
        if (!pkcs1v15Encode(message, inputLength, kBlockTypeEncrypt, bits, padded, log))
            return false;
    }
    if (verbose)
        log.logDataHex("paddedData", padded.getData(), padded.getSize());
    DataBuffer result;
    bool ok = rsaExptmod(padded.getData(), padded.getSize(), which, key, true, result, log);
    if (result.getSize() != k) {
        log.logError("Output of RSA encryption not equal to modulus size.");
        log.logDataLong("modulus_bytelen", static_cast<int>(k));
        log.logDataLong("InLength", static_cast<int>(padded.getSize()));
        log.logDataLong("OutputLength", static_cast<int>(result.getSize()));
        padded.secureClear();
        return false;
    }
    padded.secureClear();
    out.append(result.getData(), result.getSize());
    return ok;
}

bool rsaDecryptPadded(const unsigned char* input, std::uint32_t inputLength, const unsigned char* label,
                      std::uint32_t labelLength, int hashId, int padding, const RsaKey& key, int which, DataBuffer& out,
                      bool verbose, LogBase& log) {
    if (padding != kRsaPaddingV15 && padding != kRsaPaddingOaep) {
        log.logError("Invalid padding selection.");
        log.logDataLong("padding", padding);
        return false;
    }
    const unsigned int bits = key.getModulusBitLen();
    if (verbose)
        log.logDataLong("modulus_bitlen", static_cast<int>(bits));
    // A ciphertext is exactly as long as the modulus (RFC 8017, 7.1.2 and
    // 7.2.2); an empty one is no ciphertext.
    const unsigned int k = mpByteSize(key.n);
    if (input == nullptr || inputLength != k) {
        log.logError("Input length not equal to modulus length");
        log.logDataLong("ModulusLen", static_cast<int>(k));
        log.logDataLong("InputLen", static_cast<int>(input ? inputLength : 0));
        return false;
    }
    if (verbose)
        log.logDataHex("encryptedData", input, inputLength);
    DataBuffer decoded;
    if (!rsaExptmod(input, inputLength, which, key, false, decoded, log))
        return false;
    if (verbose)
        log.logDataLong("exptmod_decoded_size", static_cast<int>(decoded.getSize()));
    bool ok;
    if (padding == kRsaPaddingOaep) {
        if (verbose)
            log.logData("padding", "OAEP");
        // The masked seed may itself start with zero bytes, which the integer
        // drops along with the leading zero: put them all back.
        DataBuffer block;
        block.appendCharRepeated(0, decoded.getSize() < k ? k - decoded.getSize() : 0);
        block.append(decoded.getData(), decoded.getSize());
        ok = oaepDecode(block.getData(), block.getSize(), label, labelLength, bits, hashId, out, log);
        block.secureClear();
    } else {
        if (verbose)
            log.logData("padding", "PKCS 1.5");
        // The decrypted block never goes to the log: it would tell why the
        // padding failed.
        ok = Pkcs1_5_decode(decoded.getData(), decoded.getSize(), kBlockTypeEncrypt, bits, out, log);
        if (ok && verbose)
            log.logDataLong("sizeAfterPkcs15_decode", static_cast<int>(out.getSize()));
    }
    decoded.secureClear();
    return ok;
}

bool SignSslSig(const unsigned char* data, std::uint32_t length, const RsaKey& key, DataBuffer& out, LogBase& log) {
    LogContext context(log, "SignSslSig");
    out.clear();
    if (data == nullptr || length == 0) {
        log.logError("Null or zero-length input");
        return false;
    }
    DataBuffer padded;
    if (!pkcs1v15Encode(data, length, kBlockTypeSign, key.getModulusBitLen(), padded, log))
        return false;
    if (key.keyType != kRsaPrivate) {
        log.logError("Private key required, but not provided");
        return false;
    }
    return exptmodChecked(padded.getData(), padded.getSize(), kRsaPrivate, key, true, out, log);
}

bool UnsignRsa(const unsigned char* signature, std::uint32_t length, const RsaKey& key, DataBuffer& out, LogBase& log) {
    LogContext context(log, "UnsignRsa");
    out.clear();
    if (signature == nullptr || length == 0) {
        log.logError("Null or zero-length input");
        return false;
    }
    DataBuffer recovered;
    if (!rsaExptmod(signature, length, kRsaPublic, key, true, recovered, log)) {
        log.logError("exptmod failed.");
        return false;
    }
    if (!Pkcs1_5_decode(recovered.getData(), recovered.getSize(), kBlockTypeSign, key.getModulusBitLen(), out, log)) {
        log.logError("Failed to PKCS 1.5 decode.");
        log.logDataHex("exptmod_out", recovered.getData(), recovered.getSize());
        return false;
    }
    return true;
}

} // namespace tessik
