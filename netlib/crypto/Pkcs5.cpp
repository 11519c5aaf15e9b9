#include "netlib/crypto/Pkcs5.h"

#include <algorithm>
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {
constexpr unsigned int kBlockIndexSize = 4;
constexpr int kPbes1DerivedBytes = 16;
constexpr unsigned int kPbes1KeyBytes = 8;
constexpr int kPbes1KeyBits = 64;

bool runCipher(ClsCrypt& crypt, bool encrypt, DataBuffer& input, DataBuffer& out, LogBase& log) {
    DataBuffer result;
    const bool ok = encrypt ? crypt.encryptBytesToDb(input, result, nullptr, log, false)
                            : crypt.decryptBytesToDb(input, result, log);
    if (ok)
        out.appendDb(result);
    result.secureClear();
    return ok;
}

bool pbes1(bool encrypt, const char* password, const char* hashName, const char* cipherName, const DataBuffer& salt,
           std::uint32_t iterations, DataBuffer& input, DataBuffer& out, LogBase& log) {
    out.clear();
    DataBuffer derived;
    if (!pbkdf1(password, hashName, salt, iterations, kPbes1DerivedBytes, derived, log))
        return false;
    ClsCrypt crypt;
    crypt.setCryptAlgorithm(cipherName);
    if (crypt.getAlgorithmId() != kCipherDes && crypt.getAlgorithmId() != kCipherRc2) {
        log.logInfo(encrypt ? "Using RC2.  Underlying encryption algorithm for PBES1 must be either DES or RC2."
                            : "Using RC2.  Underlying decryption algorithm for PBES1 must be either DES or RC2.");
        crypt.setAlgorithmId(kCipherRc2);
    }
    crypt.setKeyLength(kPbes1KeyBits);
    crypt.setCipherMode(kCipherModeCbc);
    crypt.setPaddingScheme(kPadPkcs5);
    crypt.setRc2EffectiveKeyLength(kPbes1KeyBits);
    // A digest shorter than 16 bytes (none here) would leave a short IV.
    crypt.setSecretKeyBytes(derived.getData(), std::min(kPbes1KeyBytes, derived.getSize()));
    if (derived.getSize() > kPbes1KeyBytes)
        crypt.setIVBytes(derived.getData() + kPbes1KeyBytes, derived.getSize() - kPbes1KeyBytes);
    derived.secureClear();
    return runCipher(crypt, encrypt, input, out, log);
}

bool pbes2(bool encrypt, const char* password, const char* hashName, const char* cipherName, int keyLengthBits,
           int rc2EffectiveBits, const DataBuffer& salt, std::uint32_t iterations, const DataBuffer& iv,
           DataBuffer& input, DataBuffer& out, LogBase& log) {
    out.clear();
    DataBuffer derived;
    pbkdf2(password, hashName, salt, iterations, keyLengthBits / 8, derived, log);
    ClsCrypt crypt;
    crypt.setCryptAlgorithm(cipherName);
    crypt.setKeyLength(keyLengthBits);
    crypt.setCipherMode(kCipherModeCbc);
    crypt.setPaddingScheme(kPadPkcs5);
    crypt.setRc2EffectiveKeyLength(rc2EffectiveBits);
    crypt.setSecretKey(derived);
    crypt.setIV(iv);
    derived.secureClear();
    return runCipher(crypt, encrypt, input, out, log);
}
} // namespace

bool pbes1Encrypt(const char* password, const char* hashName, const char* cipherName, const DataBuffer& salt,
                  std::uint32_t iterations, DataBuffer& input, DataBuffer& out, LogBase& log) {
    return pbes1(true, password, hashName, cipherName, salt, iterations, input, out, log);
}

bool pbes1Decrypt(const char* password, const char* hashName, const char* cipherName, const DataBuffer& salt,
                  std::uint32_t iterations, DataBuffer& input, DataBuffer& out, LogBase& log) {
    return pbes1(false, password, hashName, cipherName, salt, iterations, input, out, log);
}

bool pbes2Encrypt(const char* password, const char* hashName, const char* cipherName, int keyLengthBits,
                  int rc2EffectiveBits, const DataBuffer& salt, std::uint32_t iterations, const DataBuffer& iv,
                  DataBuffer& input, DataBuffer& out, LogBase& log) {
    return pbes2(true, password, hashName, cipherName, keyLengthBits, rc2EffectiveBits, salt, iterations, iv, input,
                 out, log);
}

bool pbes2Decrypt(const char* password, const char* hashName, const char* cipherName, int keyLengthBits,
                  int rc2EffectiveBits, const DataBuffer& salt, std::uint32_t iterations, const DataBuffer& iv,
                  DataBuffer& input, DataBuffer& out, LogBase& log) {
    return pbes2(false, password, hashName, cipherName, keyLengthBits, rc2EffectiveBits, salt, iterations, iv, input,
                 out, log);
}

bool pbkdf2(const char* password, const char* hashName, const DataBuffer& salt, std::uint32_t iterations, int keyLength,
            DataBuffer& out, LogBase&) {
    out.clear();
    if (keyLength <= 0)
        return true;
    const int id = hashNameToId(hashName);
    const unsigned int hLen = static_cast<unsigned int>(hashDigestLength(id));
    const char* pw = password ? password : "";
    const int pwLen = static_cast<int>(std::strlen(pw));
    const unsigned int blocks = (static_cast<unsigned int>(keyLength) + hLen - 1) / hLen;
    Hmac hmac;
    DataBuffer seed, u, t;
    for (std::uint32_t i = 1; i <= blocks; ++i) {
        seed.clear();
        seed.appendDb(salt);
        unsigned char index[kBlockIndexSize];
        platform::StoreBe32(index, i);
        seed.append(index, kBlockIndexSize);
        hmac.doHmac(seed.getData(), seed.getSize(), pw, pwLen, id, u);
        t.clear();
        t.appendDb(u);
        for (std::uint32_t n = 1; n < iterations; ++n) {
            DataBuffer next;
            hmac.doHmac(u.getData(), u.getSize(), pw, pwLen, id, next);
            u.clear();
            u.appendDb(next);
            unsigned char* tp = t.getData();
            const unsigned char* up = u.getData();
            for (unsigned int k = 0; k < hLen; ++k)
                tp[k] ^= up[k];
        }
        out.appendDb(t);
    }
    out.shorten(out.getSize() - static_cast<unsigned int>(keyLength));
    u.secureClear();
    t.secureClear();
    return true;
}

bool pbkdf1(const char* password, const char* hashName, const DataBuffer& salt, std::uint32_t iterations, int keyLength,
            DataBuffer& out, LogBase& log) {
    out.clear();
    const int id = hashNameToId(hashName);
    // One digest is all PBKDF1 can give (RFC 8018, 5.1).
    if (keyLength > hashDigestLength(id)) {
        log.logError(pkcs5_msg::kDerivedKeyTooLong);
        log.logDataLong("keyLength", keyLength);
        return false;
    }
    const char* pw = password ? password : "";
    DataBuffer input;
    input.append(pw, static_cast<unsigned int>(std::strlen(pw)));
    input.appendDb(salt);
    hashBytes(input.getData(), input.getSize(), id, out);
    input.secureClear();
    for (std::uint32_t n = 1; n < iterations; ++n) {
        DataBuffer next;
        hashBytes(out.getData(), out.getSize(), id, next);
        out.clear();
        out.appendDb(next);
    }
    if (keyLength < 0)
        keyLength = 0;
    out.shorten(out.getSize() - static_cast<unsigned int>(keyLength));
    return true;
}

} // namespace tessik
