// Certificate files in a store folder and key blobs in a container come from
// disk, where anything may stand: PEM text, a certificate's names, serial and
// extensions, and a PRIVATEKEYBLOB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/pki/KeyContainer.h"
#include "netlib/pki/MsCertificate.h"
#include "platform/CertStore.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LogNull log;
    std::vector<std::string> ders;
    platform::PemCertificatesToDer(std::string(reinterpret_cast<const char*>(data), size), ders);
    ders.emplace_back(reinterpret_cast<const char*>(data), size);
    for (const auto& der : ders) {
        MsCertificate* cert = MsCertificate::createFromBinary(reinterpret_cast<const unsigned char*>(der.data()),
                                                              static_cast<unsigned int>(der.size()), log);
        if (!cert)
            continue;
        StringBuffer serial;
        MsCertificate::serialToHex(cert->context(), serial);
        DataBuffer ski, aki;
        MsCertificate::getKeyIdentifiers(cert->context(), ski, aki);
        delete cert;
    }
    DataBuffer out;
    KeyContainer::blobToDer(data, static_cast<unsigned int>(size), out, log);
    return 0;
}
