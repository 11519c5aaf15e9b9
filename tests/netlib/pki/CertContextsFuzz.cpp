// Certificate files in a store folder and key blobs in a container come from
// disk, where anything may stand: PEM text, a certificate's names, serial,
// extensions and RSA key, the chain built for it (with the input's other
// certificates as a TLS server's), the host names it carries, and a
// PRIVATEKEYBLOB.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ChainEngine.h"
#include "netlib/pki/KeyContainer.h"
#include "netlib/pki/MsCertificate.h"
#include "platform/CertStore.h"

using namespace tessik;

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
        DataBuffer ski, aki;
        MsCertificate::getKeyIdentifiers(cert->context(), ski, aki);
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
