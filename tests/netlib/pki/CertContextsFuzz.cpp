// Certificate files in a store folder and key blobs in a container come from
// disk, where anything may stand: PEM text, a certificate's names, serial,
// extensions and RSA key, the chain built for it (with the input's other
// certificates as a TLS server's), the host names it carries, and a
// PRIVATEKEYBLOB. OpenSSL judges the certificate loader: what its ASN.1 walk
// refuses, and a certificate with bytes after it, the loader refuses; what
// d2i_X509 reads whole and the loader loads has the same serial and public
// key. Content rules d2i_X509 adds beyond the structure (string
// canonicalisation, integer padding, algorithm parameters) are not the
// loader's to make.
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OpensslAsn1Reference.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ChainEngine.h"
#include "netlib/pki/KeyContainer.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/pki/TessikX509.h"
#include "platform/CertStore.h"

using namespace tessik;

namespace {

std::string hexOf(const unsigned char* p, std::size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 0xF];
    }
    return out;
}

void judgeLoader(const unsigned char* der, std::size_t size) {
    LogNull log;
    TessikX509 ours;
    DataBuffer bytes;
    bytes.append(der, static_cast<unsigned int>(size));
    const bool loaded = ours.loadFromDer(bytes, log, false);
    std::vector<fuzzref::Item> items;
    const bool walks = fuzzref::opensslWalk(der, size, items);
    const unsigned char* p = der;
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(size));
    const bool trailing = x && p != der + size;
    if (loaded && !walks)
        fuzzref::disagree("the certificate loader accepts what OpenSSL's ASN.1 walk refuses");
    if (loaded && trailing)
        fuzzref::disagree("the certificate loader accepts bytes after the certificate");
    if (loaded && x && !trailing) {
        // The serial's content octets, as DER writes them.
        const ASN1_INTEGER* serial = X509_get0_serialNumber(x);
        unsigned char* encoded = nullptr;
        int n = i2d_ASN1_INTEGER(serial, &encoded);
        XString text;
        std::string theirs;
        if (n > 2) {
            const unsigned char* q = encoded;
            long length = 0;
            int tag = 0, cls = 0;
            ASN1_get_object(&q, &length, &tag, &cls, n);
            theirs = hexOf(q, static_cast<std::size_t>(length));
        }
        OPENSSL_free(encoded);
        if (!ours.getSerialNumberAsIs(text, log) || theirs != text.getUtf8())
            fuzzref::disagree("the serial differs from d2i_X509's");
        DataBuffer key;
        const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(x);
        ours.getPublicKeyDer(key, log);
        if (!bits || hexOf(key.getData(), key.getSize()) != hexOf(bits->data, static_cast<std::size_t>(bits->length)))
            fuzzref::disagree("the public key differs from d2i_X509's");
    }
    X509_free(x);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One engine over the stores of the run (the system bundle included).
    static HCERTCHAINENGINE engine = [] {
        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof(config);
        HCERTCHAINENGINE made = nullptr;
        CertCreateCertificateChainEngine(&config, &made);
        return made;
    }();
    LogNull log;
    std::vector<std::string> ders;
    platform::PemCertificatesToDer(std::string(reinterpret_cast<const char*>(data), size), ders);
    ders.emplace_back(reinterpret_cast<const char*>(data), size);
    for (const auto& der : ders)
        judgeLoader(reinterpret_cast<const unsigned char*>(der.data()), der.size());
    platform::HCERTSTORE sent = platform::CertOpenStore(platform::CERT_STORE_PROV_MEMORY, 0, nullptr);
    for (const auto& der : ders)
        platform::CertAddEncodedCertificateToStore(
            sent, platform::X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), platform::CERT_STORE_ADD_ALWAYS, nullptr);
    for (const auto& der : ders) {
        MsCertificate* cert = MsCertificate::createFromBinary(reinterpret_cast<const unsigned char*>(der.data()),
                                                              static_cast<unsigned int>(der.size()), log);
        if (!cert)
            continue;
        StringBuffer serial;
        MsCertificate::serialToHex(cert->context(), serial);
        DataBuffer ski;
        MsCertificate::getKeyIdentifiers(cert->context(), ski);
        std::vector<BYTE> modulus;
        DWORD exponent = 0;
        platform::CertificateRsaKey(cert->context()->pbCertEncoded, cert->context()->cbCertEncoded, modulus, exponent);
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        if (CertGetCertificateChain(engine, cert->context(), nullptr, sent, nullptr, 0, nullptr, &chain, &log))
            CertFreeCertificateChain(chain);
        if (std::unique_ptr<CertificateFields> fields = readCertificateFields(cert->context())) {
            certificateNamesHost(*fields, "www.grv.test");
            certificateNamesHost(*fields, "[::1]");
        }
        delete cert;
    }
    platform::CertCloseStore(sent, 0);
    DataBuffer out;
    KeyContainer::blobToDer(data, static_cast<unsigned int>(size), out, log);
    return 0;
}
