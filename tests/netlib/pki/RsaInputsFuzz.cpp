// What a peer controls around RSA: key DER, signatures and padded blocks.
// The first byte splits the input: that many bytes (mod the size) of key DER,
// the rest a signature and a padded block.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Pkcs1.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/RsaDer.h"

using namespace tessik;

namespace {

// Larger moduli only make the run slower.
constexpr unsigned int kMaxModulusBits = 4096;
constexpr std::uint32_t kPaddingBits = 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    LogNull log;
    const std::uint32_t rest = static_cast<std::uint32_t>(size - 1);
    const std::uint32_t keyLength = rest == 0 ? 0 : data[0] * 4u % (rest + 1);
    const std::uint8_t* body = data + 1 + keyLength;
    const std::uint32_t bodyLength = rest - keyLength;
    DataBuffer der;
    der.append(data + 1, keyLength);
    RsaKey pub, priv;
    if (rsaPublicKeyFromAsn1(der, pub, log) && pub.getModulusBitLen() <= kMaxModulusBits && !mp_iszero(pub.n.get())) {
        static const unsigned char kHash[20] = {1, 2, 3};
        bool valid = false;
        RSA_verify_SSH(body, bodyLength, kHash, sizeof kHash, valid, pub, log);
        DataBuffer out;
        UnsignRsa(body, bodyLength, pub, out, log);
    }
    rsaPrivateKeyFromAsn1(der, priv, log);
    for (int type : {1, 2}) {
        DataBuffer out;
        Pkcs1_5_decode(body, bodyLength, type, kPaddingBits, out, log);
    }
    DataBuffer out;
    oaepDecode(body, bodyLength, nullptr, 0, kPaddingBits, kHashSha1, out, log);
    return 0;
}
