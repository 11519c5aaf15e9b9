#pragma once
// The certificate store calls the library makes. A store is a folder of
// certificate files (DER or PEM, one certificate each, named by the SHA-1
// thumbprint); a "<name>.keyprov" sidecar beside a certificate names the key
// container of its private key. System stores sit under
// <crypto root>/stores/<MY|CA|ROOT>, registry stores under
// <crypto root>/registry/<key path>; the machine ROOT store also holds every
// certificate of the system CA bundle.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/CryptProv.h"
#include "platform/WinTypes.h"

namespace platform {

struct CertStoreState;
using HCERTSTORE = CertStoreState*;

struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    HCERTSTORE hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;

// The key-provider property; the strings follow the structure in the same
// buffer, UTF-8 and terminated.
struct CRYPT_KEY_PROV_INFO {
    const char* pwszContainerName;
    const char* pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD dwKeySpec;
};

constexpr DWORD X509_ASN_ENCODING = 0x1;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x10000;
constexpr DWORD CERT_STORE_PROV_MEMORY = 2;
constexpr DWORD CERT_STORE_PROV_REG = 4;
constexpr DWORD CERT_STORE_PROV_SYSTEM_W = 10;
constexpr DWORD CERT_SYSTEM_STORE_CURRENT_USER = 0x10000;
constexpr DWORD CERT_SYSTEM_STORE_LOCAL_MACHINE = 0x20000;
constexpr DWORD CERT_STORE_READONLY_FLAG = 0x8000;
constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 2;
constexpr DWORD CERT_STORE_ADD_ALWAYS = 4;
constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
constexpr DWORD CRYPT_ACQUIRE_COMPARE_KEY_FLAG = 4;

constexpr DWORD CRYPT_E_NOT_FOUND = 0x80092004u;
constexpr DWORD CRYPT_E_ASN1_BADTAG = 0x8009310Bu;
constexpr DWORD CRYPT_E_ASN1_EOD = 0x80093102u;
constexpr DWORD CRYPT_E_NO_KEY_PROPERTY = 0x8009200Bu;

constexpr const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";
constexpr const char* kKeyProvSuffix = ".keyprov";
// Certificate files larger than this are not read.
constexpr std::uintmax_t kMaxCertFileSize = 16u * 1024 * 1024;

// The store's folder for a system store name or a registry key path under
// the user's or the machine's root (CERT_SYSTEM_STORE_* location).
std::string CertStoreFolder(DWORD storeProvider, DWORD location, const std::string& name);

// System stores: `name` is "MY", "CA", "ROOT" or another store name; the
// folder is made unless read-only. Registry stores: `name` is the key path
// ('/'-separated) and its folder must exist (ERROR_FILE_NOT_FOUND). A
// memory store (name and location ignored) starts empty and lives only
// until it is closed.
HCERTSTORE CertOpenStore(DWORD storeProvider, DWORD flags, const char* name);
// Memory stores only: the certificate is appended (CERT_STORE_ADD_ALWAYS);
// `added`, when given, receives a context of it the caller frees.
BOOL CertAddEncodedCertificateToStore(HCERTSTORE store, DWORD encoding, const BYTE* encoded, DWORD length,
                                      DWORD disposition, PCCERT_CONTEXT* added);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);
// Frees `previous` (when given) and returns the next certificate, or null
// with CRYPT_E_NOT_FOUND at the end.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous);

PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* encoded, DWORD length);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);
// CERT_KEY_PROV_INFO_PROP_ID only (CRYPT_E_NOT_FOUND without a sidecar).
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data, DWORD* dataLen);
// Opens the key container the certificate's key-provider property names;
// the caller always frees the provider. With CRYPT_ACQUIRE_COMPARE_KEY_FLAG
// the container's key must be the certificate's RSA key (NTE_BAD_PUBLIC_KEY).
BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT context, DWORD flags, void* reserved, HCRYPTPROV* prov,
                                       DWORD* keySpec, BOOL* callerMustFree);

// The RSA key of a certificate's DER: modulus (big-endian, no leading
// zeros) and public exponent. False for another kind of key, an exponent
// past 32 bits, or a malformed certificate.
bool CertificateRsaKey(const BYTE* der, std::size_t n, std::vector<BYTE>& modulus, DWORD& exponent);

// PEM text to DER: every "-----BEGIN CERTIFICATE-----" block, in order.
bool PemCertificatesToDer(const std::string& text, std::vector<std::string>& out);

// Contexts not yet freed (tests).
int CertOpenContextCount();

} // namespace platform
