#include "netlib/pki/KeyContainer.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/MsCertificate.h"
#include "platform/ByteOrder.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

constexpr unsigned int kBlobHeaderSize = 8;
constexpr unsigned int kRsaPubKeySize = 12;
constexpr unsigned int kBitLenOffset = kBlobHeaderSize + 4;
constexpr unsigned int kPubExpOffset = kBlobHeaderSize + 8;

// Big-endian bytes as an INTEGER. The blob's fields are fixed-width, so
// leading zero bytes are dropped: DER integers are minimal.
Asn1* minimalInteger(const unsigned char* big, unsigned int n) {
    while (n > 1 && big[0] == 0) {
        ++big;
        --n;
    }
    return Asn1::newUnsignedInteger(big, n);
}

// A little-endian field as a big-endian unsigned INTEGER.
Asn1* integerFromLittleEndian(const unsigned char* p, unsigned int n) {
    std::vector<unsigned char> big(p, p + n);
    std::reverse(big.begin(), big.end());
    Asn1* node = minimalInteger(big.data(), n);
    std::fill(big.begin(), big.end(), 0);
    return node;
}

} // namespace

KeyContainer::~KeyContainer() {
    if (m_signatureKey)
        platform::CryptDestroyKey(m_signatureKey);
    if (m_exchangeKey)
        platform::CryptDestroyKey(m_exchangeKey);
    // Acquired for us alone, so ours to give back.
    if (m_provider)
        platform::CryptReleaseContext(m_provider, 0);
}

KeyContainer* KeyContainer::openCertKeyContainer(MsCertificate& certificate, LogBase& log) {
    LogContext ctx(log, "openCertKeyContainer");
    auto container = std::make_unique<KeyContainer>();
    DWORD keySpec = 0;
    if (!certificate.acquirePrivateKey(&container->m_provider, &keySpec, log))
        return nullptr;
    container->m_opened = true;
    certificate.isMachineKeyset(container->m_machineKeyset, log);
    certificate.getKeyContainerName(container->m_containerName, log);
    return container.release();
}

bool KeyContainer::GetPrivateKeyToDER(bool exchangeKey, DataBuffer& out, bool& keyInaccessible, LogBase& log) {
    out.clear();
    LogContext ctx(log, "GetPrivateKeyToDER");
    log.logDataLong("bExchangeKey", exchangeKey ? 1 : 0);
    platform::HCRYPTKEY& key = exchangeKey ? m_exchangeKey : m_signatureKey;
    if (key) {
        platform::CryptDestroyKey(key);
        key = 0;
    }
    if (!platform::CryptGetUserKey(m_provider, exchangeKey ? platform::AT_KEYEXCHANGE : platform::AT_SIGNATURE, &key)) {
        log.logLastError();
        log.logError(exchangeKey ? keycontainer_msg::kGetUserKeyExchange : keycontainer_msg::kGetUserKeySignature);
        log.logError(exchangeKey ? keycontainer_msg::kAccessKey1 : keycontainer_msg::kAccessKey2);
        return false;
    }
    bool ok = privateKeyBlobToDer(key, out, keyInaccessible, log);
    if (!ok)
        log.logError(keycontainer_msg::kCannotExport);
    return ok;
}

bool KeyContainer::privateKeyBlobToDer(platform::HCRYPTKEY key, DataBuffer& out, bool& keyInaccessible, LogBase& log) {
    keyInaccessible = false;
    out.clear();
    if (!key) {
        log.logError(keycontainer_msg::kNoKey);
        return false;
    }
    DWORD size = 0;
    if (!platform::CryptExportKey(key, 0, platform::PRIVATEKEYBLOB, 0, nullptr, &size)) {
        DWORD err = platform::GetLastError();
        if (err == platform::NTE_BAD_KEY_STATE) {
            log.logError(keycontainer_msg::kNotExportable);
            log.logError(keycontainer_msg::kReinstall);
            log.logError(keycontainer_msg::kMarkExportable);
            keyInaccessible = true;
        } else if (err == platform::ERROR_INVALID_PARAMETER) {
            keyInaccessible = true;
            log.logLastError();
            log.logError(keycontainer_msg::kCannotExportBlob);
        } else {
            log.logLastError();
            log.logError(keycontainer_msg::kBlobFailed7);
        }
        return false;
    }
    std::vector<unsigned char> blob(size);
    if (!platform::CryptExportKey(key, 0, platform::PRIVATEKEYBLOB, 0, blob.data(), &size)) {
        log.logLastError();
        log.logError(keycontainer_msg::kBlobFailed8);
        return false;
    }
    bool ok = blobToDer(blob.data(), size, out, log);
    std::fill(blob.begin(), blob.end(), 0);
    return ok;
}

bool KeyContainer::blobToDer(const unsigned char* blob, unsigned int n, DataBuffer& out, LogBase& log) {
    out.clear();
    // The exporter's size is not trusted: every field must lie inside the blob.
    if (!blob || n < kBlobHeaderSize + kRsaPubKeySize) {
        log.logError(keycontainer_msg::kBadBlob);
        return false;
    }
    std::uint32_t bits = platform::LoadLe32(blob + kBitLenOffset);
    std::uint32_t full = bits / 8, half = bits / 16;
    if (bits == 0 || bits % 16 != 0 || bits > platform::kMaxRsaKeyBits ||
        n < kBlobHeaderSize + kRsaPubKeySize + 2 * full + 5 * half) {
        log.logError(keycontainer_msg::kBadBlob);
        return false;
    }
    std::uint32_t e = platform::LoadLe32(blob + kPubExpOffset);
    const unsigned char* p = blob + kBlobHeaderSize + kRsaPubKeySize;
    const unsigned char* modulus = p;
    const unsigned char* prime1 = modulus + full;
    const unsigned char* prime2 = prime1 + half;
    const unsigned char* exp1 = prime2 + half;
    const unsigned char* exp2 = exp1 + half;
    const unsigned char* coeff = exp2 + half;
    const unsigned char* privExp = coeff + half;
    unsigned char eBytes[4];
    platform::StoreBe32(eBytes, e);
    std::unique_ptr<Asn1> seq(Asn1::newSequence());
    seq->appendChild(Asn1::newInteger(0));
    seq->appendChild(integerFromLittleEndian(modulus, full));
    seq->appendChild(minimalInteger(eBytes, sizeof eBytes));
    seq->appendChild(integerFromLittleEndian(privExp, full));
    seq->appendChild(integerFromLittleEndian(prime1, half));
    seq->appendChild(integerFromLittleEndian(prime2, half));
    seq->appendChild(integerFromLittleEndian(exp1, half));
    seq->appendChild(integerFromLittleEndian(exp2, half));
    seq->appendChild(integerFromLittleEndian(coeff, half));
    return seq->encodeDer(out, false, nullptr, log);
}

} // namespace tessik
