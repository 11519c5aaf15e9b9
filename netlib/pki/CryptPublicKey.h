#pragma once
// The crypt component's public-key id: PKCS#7 enveloping to its encryption
// certificates, and decryption with its decrypt certificate or with a key
// found in the certificate stores; keys that may not leave their container
// go through the platform's message calls. installPkiServices() installs
// it (and the crypto layer's services) where the library starts.
#include "netlib/core/DataBuffer.h"

namespace tessik {

class Certificate;
class ClsCert;
class ClsCrypt;
class LogBase;

namespace cryptpk_msg {
constexpr const char* kNoEncryptCerts = "No encryption certificates were specified.";
constexpr const char* kMustUseMsCrypto = "Must use MS Crypto API for encryption...";
constexpr const char* kSpecificCert = "Using specific decrypt certificate.";
constexpr const char* kCertNull = "Decrypt certificate is null";
constexpr const char* kPreinstalledKey = "Getting pre-installed private key.";
constexpr const char* kNoPrivateKey = "Certificate does not have a private key installed.";
constexpr const char* kPrespecifiedKey = "Using pre-specified private key.";
constexpr const char* kNotPkcs7 = "Not PKCS7 DER";
constexpr const char* kSearching = "Will search for matching PFX and pre-installed certificates for PKCS7 unenvelope.";
constexpr const char* kViaCryptoApi = "Decrypting using CryptoAPI to avoid private key export";
constexpr const char* kPrespecifiedCert = "Using pre-specified certificate for PKCS7 unenvelope.";
constexpr const char* kUnenvelopeFailed = "Failed to unenvelope PKCS7 message";
constexpr const char* kGostProviderPrefix = "Crypto-Pro GOST";
} // namespace cryptpk_msg

void installPkiServices();

// The certificate settings the component's own interface leaves unset.
// Each takes the object given.
void addCryptEncryptCertificate(ClsCrypt& crypt, Certificate* certificate);
void setCryptDecryptCertificate(ClsCrypt& crypt, ClsCert* certificate);
// The certificate the last public-key decryption used, or null (still the
// component's).
ClsCert* lastCryptDecryptCertificate(ClsCrypt& crypt);

DataBuffer* cryptPublicKeyEncrypt(ClsCrypt& crypt, DataBuffer& input, void* context, LogBase& log);
DataBuffer* decryptPkcs7(ClsCrypt& crypt, const DataBuffer& input, LogBase& log, bool verbose);

} // namespace tessik
