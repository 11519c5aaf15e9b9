#include "netlib/crypto/CipherNames.h"

#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/SymmetricCipher.h"

namespace tessik {

int parseCipherAlgorithmName(const char* name) {
    StringBuffer sb(name ? name : "");
    sb.removeChar('-');
    sb.trimWhitespace();
    sb.toLowerCase();
    if (sb.equals("aes") || sb.beginsWith("rijn") || sb.beginsWith("rjin"))
        return kCipherAes;
    if (sb.equals("blowfish2"))
        return kCipherBlowfish2;
    if (sb.equals("blowfish"))
        return kCipherBlowfish;
    if (sb.equals("pbes1"))
        return kCipherPbes1;
    if (sb.equals("pbes2"))
        return kCipherPbes2;
    if (sb.equals("twofish"))
        return kCipherTwofish;
    if (sb.equals("des") || sb.equals("3des") || sb.equals("tripledes") || sb.equals("tdes"))
        return kCipherDes;
    if (sb.equals("rc2"))
        return kCipherRc2;
    if (sb.containsSubstring("rc4") || sb.containsSubstring("arcfour"))
        return kCipherRc4;
    if (sb.equals("pki"))
        return kCipherPki;
    if (sb.equals("none"))
        return kCipherNone;
    return kCipherAes;
}

} // namespace tessik
