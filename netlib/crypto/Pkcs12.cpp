#include "netlib/crypto/Pkcs12.h"

#include <cstdint>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/SymmetricCipher.h"

namespace tessik {

namespace {
constexpr unsigned int kBlockSize = 64;
constexpr unsigned int kWideBlockSize = 128;

// Repeats src to the next multiple of v bytes (nothing for an empty src).
bool appendRepeated(DataBuffer& dst, const DataBuffer& src, unsigned int v) {
    const unsigned int n = src.getSize();
    if (n == 0)
        return true;
    const unsigned int total = v * ((n + v - 1) / v);
    if (!dst.ensureCapacity(dst.getSize() + total))
        return false;
    for (unsigned int i = 0; i < total; ++i)
        dst.appendChar(src.getData()[i % n]);
    return true;
}
} // namespace

bool pkcs12DeriveKey(XString& password, const DataBuffer& salt, unsigned char id, int iterations, const char* hashName,
                     int length, DataBuffer& out) {
    out.clear();
    if (length <= 0)
        return true;
    const int hashId = hashNameToId(hashName);
    const unsigned int u = static_cast<unsigned int>(hashDigestLength(hashId));
    const unsigned int v = (hashId == kHashSha384 || hashId == kHashSha512) ? kWideBlockSize : kBlockSize;

    // Big-endian UTF-16 with the two terminator bytes.
    DataBuffer p;
    const unsigned int pwBytes = static_cast<unsigned int>(password.getSizeUtf16());
    const unsigned char* le = reinterpret_cast<const unsigned char*>(password.getUtf16());
    if (!p.ensureCapacity(pwBytes + 2))
        return false;
    for (unsigned int i = 0; i + 1 < pwBytes; i += 2) {
        p.appendChar(le[i + 1]);
        p.appendChar(le[i]);
    }
    p.appendChar(0);
    p.appendChar(0);

    DataBuffer work;
    if (!work.appendCharRepeated(id, v) || !appendRepeated(work, salt, v) || !appendRepeated(work, p, v)) {
        p.secureClear();
        return false;
    }
    p.secureClear();
    const unsigned int iLength = work.getSize() - v;

    unsigned int wanted = static_cast<unsigned int>(length);
    DataBuffer a, next;
    unsigned char b[kWideBlockSize];
    for (;;) {
        hashBytes(work.getData(), work.getSize(), hashId, a);
        for (int n = 1; n < iterations; ++n) {
            hashBytes(a.getData(), a.getSize(), hashId, next);
            a.clear();
            a.appendDb(next);
        }
        if (wanted <= u) {
            out.append(a.getData(), wanted);
            break;
        }
        out.append(a.getData(), u);
        wanted -= u;
        for (unsigned int k = 0; k < v; ++k)
            b[k] = a.getData()[k % u];
        // Each block of I becomes I_j + B + 1 modulo 2^(8v).
        unsigned char* blocks = work.getData() + v;
        for (unsigned int j = 0; j < iLength; j += v) {
            unsigned int carry = 1;
            for (unsigned int k = v; k-- > 0;) {
                const unsigned int sum = blocks[j + k] + b[k] + carry;
                blocks[j + k] = static_cast<unsigned char>(sum);
                carry = sum >> 8;
            }
        }
    }
    work.secureClear();
    a.secureClear();
    return true;
}

bool pkcs12PbeDecrypt(XString& password, const char* hashName, const char* cipherName, int keyLengthBits,
                      const DataBuffer& salt, int iterations, DataBuffer& input, DataBuffer& out, LogBase& log) {
    out.clear();
    ClsCrypt crypt;
    crypt.setCryptAlgorithm(cipherName);
    crypt.setKeyLength(keyLengthBits);
    crypt.setRc2EffectiveKeyLength(keyLengthBits);
    crypt.setCipherMode(kCipherModeCbc);
    crypt.setPaddingScheme(kPadPkcs5);
    DataBuffer key, iv;
    if (!pkcs12DeriveKey(password, salt, kPkcs12KeyMaterial, iterations, hashName, keyLengthBits / 8, key)) {
        log.logError("PKCS12 derive key failed.");
        return false;
    }
    if (!pkcs12DeriveKey(password, salt, kPkcs12Iv, iterations, hashName, crypt.getBlockSize(), iv)) {
        log.logError("PKCS12 derive IV failed.");
        return false;
    }
    crypt.setSecretKey(key);
    crypt.setIV(iv);
    key.secureClear();
    DataBuffer result;
    if (!crypt.decryptBytesToDb(input, result, log))
        return false;
    out.appendDb(result);
    result.secureClear();
    return true;
}

} // namespace tessik
