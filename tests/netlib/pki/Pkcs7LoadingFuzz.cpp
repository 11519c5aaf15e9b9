// PKCS#7 messages come from peers and files: any content type is loaded,
// then opened the ways the crypt component opens them (from the stores,
// with the recipient key of the seed envelopes, and through the platform's
// message calls); an EncryptedData is tried with the password of the seed
// taken from a published PKCS#12 file. OpenSSL judges the loading: what its
// ASN.1 walk refuses the loader refuses, and a Data message that d2i_PKCS7
// reads whole and the loader loads gives the same content. The type rules
// d2i_PKCS7 adds beyond the structure are not all the loader's to make.
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "OpensslAsn1Reference.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/CryptoServices.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/MsMessages.h"
#include "netlib/pki/Pkcs7.h"
#include "netlib/pki/SystemCerts.h"

using namespace tessik;

namespace {

// The seeds' recipient: O=Fuzz, CN=fuzz, serial 0F22 (a throwaway key).
const char* const kRecipientIssuerHex = "301e310d300b060355040a0c0446757a7a310d300b06035504030c0466757a7a";
const char* const kRecipientKeyHex =
    "3082025e02010002818100c1cc7922b35e58bc25c480e83ae4781340387be9c021b392a37de2d9494ea3295594336f2a"
    "ede7080c8df99ae64bd23bd20dd89e79c25539155a147fa892fae5e9a36253d77e856ee0ec8bab4467e5f286b6e9a04f"
    "e0ab26f5c69e63d77ca65c86e842344ff454f5a0c131b2a35f1108359b01a61174b661a132808bbcccabd70203010001"
    "02818100aab675968dae7437f884ea90a7200e6dd6ca6accf3c43c2cd5fbd4525772ffe32f5187254c0998d3cc4b5c2e"
    "88e30d64489a8dd0bbace5e98cd776eb2511a4144d2a55256566ddb22da62ddd415a8a98e4bc103049a8800a5f1bfda6"
    "e8a2c135571694dd2b78719fcc9efd6d8b3b6b035a365059c75c12104939c4b6f3d44041024100f2a356275d01e380ba"
    "80b522370a608b6e7f5900bc846ece8ce4f42f8610d87ddc178dcdac711a6569ff2dd1ffc1ad4bac910e5be3156ec264"
    "071f3ac5437507024100cc789c10439f7265b91ea2fbad4eb5d68fc19f612cc7885d8eb25f667aa76be2d594d03b88d6"
    "35bf17fab8f5b323d2a7f1fa1294285e5e6c1cf0922769f2aeb10240062cea106e6991e4c0da6dc1c52cda70320bc3b4"
    "251829c9d00433c2d1e2b3dfe02e2949c6cdca2232a470021c444da8d3678dba00f996ac13e7aa7fd06d7b1902410084"
    "875030428460738a6f4f186d966cc9eb57866447cff4951f5e81f33c60b3ceccbcadd348b7ff12230ac1438f9f127504"
    "a41fd2a3efb6a7c08235591294d7a1024100d38cca436999d48dd317c39ec09502319c8bae74a363c4d201800b0677cc"
    "0244c54f117ea9412b053db7d3e2768c377e37cfb363fe79eb0197b7237d4f343bab";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static SystemCerts* stores = [] {
        installCryptoServices();
        return new SystemCerts();
    }();
    static DataBuffer* key = [] {
        auto* db = new DataBuffer();
        decodeHexBytes(kRecipientKeyHex, static_cast<unsigned int>(std::strlen(kRecipientKeyHex)), *db);
        return db;
    }();
    DataBuffer der;
    der.append(data, static_cast<unsigned int>(size));
    LogNull log;
    Pkcs7 p7;
    const bool loaded = p7.loadPkcs7Der(der, "cryptography", log, true);
    std::vector<fuzzref::Item> items;
    if (loaded && !fuzzref::releasesPart(data, size) && !fuzzref::opensslWalk(data, size, items))
        fuzzref::disagree("the PKCS#7 loader accepts what OpenSSL's ASN.1 walk refuses");
    const unsigned char* p = data;
    PKCS7* theirs = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
    if (loaded && theirs && p == data + size && PKCS7_type_is_data(theirs) && p7.contentType() == kPkcs7Data) {
        const ASN1_OCTET_STRING* content = theirs->d.data;
        const std::size_t n = content ? static_cast<std::size_t>(content->length) : 0;
        if (p7.data()->content.getSize() != n ||
            (n && std::memcmp(p7.data()->content.getData(), content->data, n) != 0))
            fuzzref::disagree("the Data content differs from d2i_PKCS7's");
    }
    PKCS7_free(theirs);
    if (!loaded)
        return 0;
    DataBuffer out, certDer;
    bool keyLocated = false;
    p7.openContent(*stores, out, certDer, keyLocated, log, true);
    static const CertificateFields* recipient = [] {
        auto* fields = new CertificateFields();
        DataBuffer issuer;
        decodeHexBytes(kRecipientIssuerHex, static_cast<unsigned int>(std::strlen(kRecipientIssuerHex)), issuer);
        fields->issuer.assign(reinterpret_cast<const char*>(issuer.getData()), issuer.getSize());
        fields->serial = "\x0f\x22";
        return fields;
    }();
    out.clear();
    p7.unEnvelope(*recipient, *key, out, log, true);
    // The platform's message calls read it too.
    out.clear();
    msDecrypt1(der, out, nullptr, log);
    return 0;
}
