#include "netlib/crypto/Pkcs5.h"

#include <cstring>

#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"

namespace tessik {

namespace {
constexpr unsigned int kBlockIndexSize = 4;
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
        const unsigned char index[kBlockIndexSize] = {
            static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
            static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
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
            DataBuffer& out, LogBase&) {
    const int id = hashNameToId(hashName);
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
    if (out.getSize() > static_cast<unsigned int>(keyLength))
        out.shorten(out.getSize() - static_cast<unsigned int>(keyLength));
    return true;
}

} // namespace tessik
