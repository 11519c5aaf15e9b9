#pragma once
// The key container of a certificate's private key, and the conversion of an
// exported PRIVATEKEYBLOB into a PKCS#1 RSAPrivateKey.
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "platform/CryptProv.h"

namespace tessik {

class LogBase;
class MsCertificate;

namespace keycontainer_msg {
constexpr const char* kNoKey = "No key";
constexpr const char* kNotExportable =
    "(warning) Cannot access private key because when installed, it was not marked as exportable.";
constexpr const char* kReinstall = "(optional) Re-install the certificate and private key from a PFX.";
constexpr const char* kMarkExportable = "(optional) Make sure to mark the key as exportable.";
constexpr const char* kCannotExportBlob = "(warning) Cannot export private key blob (10)";
constexpr const char* kBlobFailed7 = "Failed to access private key blob (7)";
constexpr const char* kBlobFailed8 = "Failed to access private key blob (8)";
constexpr const char* kCannotExport = "(warning) Cannot export private key.";
constexpr const char* kGetUserKeyExchange = "CryptGetUserKey(AT_KEYEXCHANGE) failed.";
constexpr const char* kGetUserKeySignature = "CryptGetUserKey(AT_SIGNATURE) failed.";
constexpr const char* kAccessKey1 = "Failed to access private key (1)";
constexpr const char* kAccessKey2 = "Failed to access private key (2)";
constexpr const char* kBadBlob = "Private key blob is malformed.";
} // namespace keycontainer_msg

class KeyContainer {
public:
    KeyContainer() = default;
    virtual ~KeyContainer();
    KeyContainer(const KeyContainer&) = delete;
    KeyContainer& operator=(const KeyContainer&) = delete;

    static KeyContainer* openCertKeyContainer(MsCertificate& certificate, LogBase& log);
    bool GetPrivateKeyToDER(bool exchangeKey, DataBuffer& out, bool& keyInaccessible, LogBase& log);
    static bool privateKeyBlobToDer(platform::HCRYPTKEY key, DataBuffer& out, bool& keyInaccessible, LogBase& log);
    // The PKCS#1 RSAPrivateKey of a PRIVATEKEYBLOB; false for a malformed blob.
    static bool blobToDer(const unsigned char* blob, unsigned int n, DataBuffer& out, LogBase& log);

    const char* containerName() const { return m_containerName.getString(); }
    bool machineKeyset() const { return m_machineKeyset; }
    bool opened() const { return m_opened; }

private:
    platform::HCRYPTKEY m_exchangeKey = 0;
    platform::HCRYPTKEY m_signatureKey = 0;
    platform::HCRYPTPROV m_provider = 0;
    StringBuffer m_containerName;
    bool m_machineKeyset = false;
    bool m_opened = false;
};

} // namespace tessik
