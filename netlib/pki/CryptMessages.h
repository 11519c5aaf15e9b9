#pragma once
// The platform's message calls, in their shape, over the library's own
// PKCS#7 code: enveloped messages decrypted with a recipient's key where
// the provider keeps it (it decrypts with its own keys, exportable or not),
// and written for recipients' certificate contexts. The low-level message
// object decodes one message and decrypts it for one recipient.
#include <cstdint>

#include "platform/CertStore.h"
#include "platform/CryptProv.h"

namespace tessik {

struct CryptMsgState;
using HCRYPTMSG = CryptMsgState*;

struct CRYPT_DATA_BLOB {
    DWORD cbData;
    BYTE* pbData;
};

struct CRYPT_ALGORITHM_IDENTIFIER {
    const char* pszObjId;
    CRYPT_DATA_BLOB Parameters;
};

// What identifies a certificate: its issuer's Name DER and its serial
// number, least significant byte first.
struct CERT_INFO {
    CRYPT_DATA_BLOB SerialNumber;
    CRYPT_DATA_BLOB Issuer;
};

struct CRYPT_DECRYPT_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgAndCertEncodingType;
    DWORD cCertStore;
    platform::HCERTSTORE* rghCertStore;
};

struct CMSG_RC4_AUX_INFO {
    DWORD cbSize;
    DWORD dwBitLen;
};

struct CRYPT_ENCRYPT_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgEncodingType;
    platform::HCRYPTPROV hCryptProv;
    CRYPT_ALGORITHM_IDENTIFIER ContentEncryptionAlgorithm;
    void* pvEncryptionAuxInfo;
    DWORD dwFlags;
    DWORD dwInnerContentType;
};

struct CRYPT_RC2_CBC_PARAMETERS {
    DWORD dwVersion;
    BOOL fIV;
    BYTE rgbIV[8];
};

struct CMSG_CTRL_DECRYPT_PARA {
    DWORD cbSize;
    platform::HCRYPTPROV hCryptProv;
    DWORD dwKeySpec;
    DWORD dwRecipientIndex;
};

constexpr DWORD kMsgEncoding = platform::X509_ASN_ENCODING | platform::PKCS_7_ASN_ENCODING;
constexpr DWORD CMSG_TYPE_PARAM = 1;
constexpr DWORD CMSG_CONTENT_PARAM = 2;
constexpr DWORD CMSG_INNER_CONTENT_TYPE_PARAM = 4;
constexpr DWORD CMSG_RECIPIENT_INFO_PARAM = 19;
constexpr DWORD CMSG_CTRL_DECRYPT = 2;
constexpr DWORD CMSG_DATA = 1;
constexpr DWORD CMSG_SIGNED = 2;
constexpr DWORD CMSG_ENVELOPED = 3;
// Structure types of CryptEncodeObject: an OCTET STRING, and RC2 parameters
// by their algorithm's OID.
constexpr std::uintptr_t X509_OCTET_STRING = 25;
constexpr const char* kRc2CbcStructType = "1.2.840.113549.3.2";

constexpr DWORD CRYPT_E_UNEXPECTED_MSG_TYPE = 0x8009200Au;
constexpr DWORD CRYPT_E_RECIPIENT_NOT_FOUND = 0x8009100Bu;
constexpr DWORD CRYPT_E_UNKNOWN_ALGO = 0x80091002u;
constexpr DWORD CRYPT_E_NOT_DECRYPTED = 0x8009100Du;
constexpr DWORD CRYPT_E_BAD_ENCODE = 0x80092002u;

// Finds the recipient's certificate in the stores by issuer and serial,
// decrypts with the key of its key container; *recipient (when asked for)
// receives a context the caller frees. out null asks for the size.
BOOL CryptDecryptMessage(const CRYPT_DECRYPT_MESSAGE_PARA* para, const BYTE* blob, DWORD blobLen, BYTE* out,
                         DWORD* outLen, platform::PCCERT_CONTEXT* recipient);
// The content under the algorithm the parameters name (RC2 with its version
// in the encoded parameters, RC4 with its aux info, DES, triple DES, AES),
// enveloped for every recipient.
BOOL CryptEncryptMessage(const CRYPT_ENCRYPT_MESSAGE_PARA* para, DWORD recipientCount,
                         const platform::PCCERT_CONTEXT* recipients, const BYTE* data, DWORD dataLen, BYTE* out,
                         DWORD* outLen);
// X509_OCTET_STRING takes a CRYPT_DATA_BLOB; the RC2 OID takes
// CRYPT_RC2_CBC_PARAMETERS.
BOOL CryptEncodeObject(DWORD encoding, std::uintptr_t structType, const void* structInfo, BYTE* out, DWORD* outLen);
BOOL CryptEncodeObject(DWORD encoding, const char* structType, const void* structInfo, BYTE* out, DWORD* outLen);

HCRYPTMSG CryptMsgOpenToDecode(DWORD encoding, DWORD flags, DWORD msgType, platform::HCRYPTPROV prov,
                               void* recipientInfo, void* streamInfo);
BOOL CryptMsgUpdate(HCRYPTMSG msg, const BYTE* data, DWORD dataLen, BOOL final);
// CMSG_TYPE_PARAM (DWORD), CMSG_INNER_CONTENT_TYPE_PARAM (the dotted OID
// with its terminator), CMSG_RECIPIENT_INFO_PARAM (a CERT_INFO whose blobs
// follow it in the buffer), CMSG_CONTENT_PARAM (after a decryption).
BOOL CryptMsgGetParam(HCRYPTMSG msg, DWORD param, DWORD index, void* data, DWORD* dataLen);
BOOL CryptMsgControl(HCRYPTMSG msg, DWORD flags, DWORD controlType, const void* para);
BOOL CryptMsgClose(HCRYPTMSG msg);

// The certificate of the store that the issuer and serial number identify.
platform::PCCERT_CONTEXT CertGetSubjectCertificateFromStore(platform::HCERTSTORE store, DWORD encoding,
                                                            const CERT_INFO* certId);

} // namespace tessik
