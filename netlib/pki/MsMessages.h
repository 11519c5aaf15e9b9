#pragma once
// Enveloped messages through the platform's message calls: the road for
// private keys that may not be exported, and for providers the library's
// own envelope writer does not serve.
#include "netlib/core/DataBuffer.h"

namespace tessik {

class Certificate;
class CryptoSettings2;
class ExtPtrArray;
class LogBase;

namespace msmessage_msg {
constexpr const char* kNoStores = "Failed to open Windows certificate stores.";
constexpr const char* kDecryptFailed1 = "cryptoAPI decrypt failed (1)";
constexpr const char* kDecryptFailed2 = "cryptoAPI decrypt failed (2)";
constexpr const char* kOpenToDecodeFailed = "CryptMsgOpenToDecode failed.";
constexpr const char* kNotEnveloped = "Not a PKCS7 enveloped message.";
constexpr const char* kInnerContentEmpty = "Inner content is 0-length.";
constexpr const char* kSubjectCertFailed = "CertGetSubjectCertificateFromStore failed.";
constexpr const char* kControlFailed = "CryptMsgControl failed.";
constexpr const char* kNothingToEncrypt = "Nothing to encrypt, data size is zero";
constexpr const char* kCertArray = "Internal error with certificate array.";
constexpr const char* kNoCsp = "(warning) Unable to acquire requested CSP.";
constexpr const char* kNoAlgorithms = "No encryption algorithms available.";
constexpr const char* kUnsupportedAlgorithm =
    "Unsupported encryption algorithm. Please send the log to Gorvane support with the name of the provider.";
} // namespace msmessage_msg

// The plaintext of an enveloped message, through the message call, else
// through the low-level message object; recipient (when given) receives the
// certificate that decrypted, made by the message call.
bool msDecrypt1(const DataBuffer& message, DataBuffer& plaintext, Certificate** recipient, LogBase& log);
// The low-level road alone (the second half of msDecrypt1).
bool msDecryptLowLevel(const DataBuffer& message, DataBuffer& plaintext, LogBase& log);
// An enveloped message for the certificates (Certificate objects) under
// the provider's first encryption algorithm.
bool msEncrypt(CryptoSettings2& settings, const unsigned char* bytes, unsigned int length, ExtPtrArray& certificates,
               DataBuffer& out, LogBase& log);

} // namespace tessik
