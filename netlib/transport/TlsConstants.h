#pragma once
// Wire values, limits and the message texts of the SSL 3.0 / TLS 1.0 client
// that callers and tests match exactly.
#include <cstdint>

namespace tessik {

// Record content types.
enum TlsContentType : std::uint32_t {
    kTlsChangeCipherSpec = 20,
    kTlsAlert = 21,
    kTlsHandshake = 22,
    kTlsApplicationData = 23,
};

// Handshake message types.
enum TlsHandshakeType : std::uint32_t {
    kTlsHelloRequest = 0,
    kTlsClientHello = 1,
    kTlsServerHello = 2,
    kTlsCertificate = 11,
    kTlsServerKeyExchange = 12,
    kTlsCertificateRequest = 13,
    kTlsServerHelloDone = 14,
    kTlsCertificateVerify = 15,
    kTlsClientKeyExchange = 16,
    kTlsFinished = 20,
};

// MAC algorithms of the security parameters (the library's hash ids).
enum TlsMacAlgorithm : int {
    kTlsMacNone = 0,
    kTlsMacSha1 = 1,
    kTlsMacMd5 = 5,
};

enum TlsAlertLevel : std::uint32_t {
    kTlsAlertWarning = 1,
    kTlsAlertFatal = 2,
};

enum TlsAlertDescription : std::uint32_t {
    kTlsAlertCloseNotify = 0,
    kTlsAlertUnexpectedMessage = 10,
    kTlsAlertBadRecordMac = 20,
    kTlsAlertRecordOverflow = 22,
    kTlsAlertIllegalParameter = 47,
    kTlsAlertDecodeError = 50,
    kTlsAlertProtocolVersion = 70,
};

// The five suites offered, in the order offered.
enum TlsCipherSuite : std::uint16_t {
    kTlsRsaAes256Sha = 0x0035,
    kTlsRsaAes128Sha = 0x002F,
    kTlsRsa3desSha = 0x000A,
    kTlsRsaRc4Sha = 0x0005,
    kTlsRsaRc4Md5 = 0x0004,
};
inline constexpr std::uint16_t kTlsOfferedSuites[] = {kTlsRsaAes256Sha, kTlsRsaAes128Sha, kTlsRsa3desSha, kTlsRsaRc4Sha,
                                                      kTlsRsaRc4Md5};

inline constexpr std::uint32_t kTlsMajor = 3;
inline constexpr std::uint32_t kSsl30Minor = 0;
inline constexpr std::uint32_t kTls10Minor = 1;
inline constexpr std::uint32_t kTls11Minor = 2;

inline constexpr unsigned int kTlsRecordHeaderSize = 5;
inline constexpr unsigned int kTlsHandshakeHeaderSize = 4;
// Content bytes of one outgoing record.
inline constexpr unsigned int kTlsMaxFragment = 16384;
// A protected fragment is at most 2048 bytes longer than its content.
inline constexpr unsigned int kTlsMaxProtectedFragment = kTlsMaxFragment + 2048;
// Largest handshake message taken from a peer; a certificate chain is far
// smaller, and the carry-over buffer must not grow without bound.
inline constexpr unsigned int kTlsMaxHandshakeMessage = 256 * 1024;
// Socket writes of the record layer.
inline constexpr unsigned int kTlsSendChunk = 4096;
inline constexpr unsigned int kTlsRandomSize = 32;
inline constexpr unsigned int kTlsMaxSessionId = 32;
inline constexpr unsigned int kTlsSecretSize = 48;
inline constexpr unsigned int kTlsVerifyDataSize = 12;
inline constexpr unsigned int kSsl3VerifyDataSize = 36;
inline constexpr unsigned int kTlsKeyBlockSize = 256;
// Label and seed of one PRF call.
inline constexpr unsigned int kTlsPrfMaxLabelSeed = 108;
inline constexpr unsigned int kTlsDefaultReadTimeoutMs = 30000;
// Empty records taken in a row before the peer counts as hostile (as many
// as OpenSSL takes).
inline constexpr unsigned int kTlsMaxEmptyRecords = 32;

namespace tlsmsg {
// Record layer.
constexpr const char* kSendFailed = "Failed to send TLS message.";
constexpr const char* kReadHeaderFailed = "Failed to read beginning of SSL/TLS record.";
constexpr const char* kReadSsl2Failed = "Failed to read TLS record (1)";
constexpr const char* kReadRecordFailed = "Failed to read TLS record (2)";
constexpr const char* kRecordTooLong = "SSL/TLS record is longer than the protocol allows.";
constexpr const char* kRecordVersion = "SSL/TLS record version is not 3.x.";
constexpr const char* kTooManyEmptyRecords = "Too many empty SSL/TLS records in a row.";
constexpr const char* kHandshakeTimedOut = "The handshake took longer than the read time-out.";
constexpr const char* kBadSsl2Header = "Invalid SSL 2.0 record length";
constexpr const char* kInvalidCipherList = "Invalid cipher list length";
constexpr const char* kInvalidSessionIdLength = "Invalid session ID length";
constexpr const char* kInvalidChallengeLength = "Invalid challenge length";
constexpr const char* kDecryptFailed = "Failed to decrypt SSL/TLS record.";
constexpr const char* kShorterThanMac = "SSL/TLS record shorter than MAC length!";
constexpr const char* kInvalidMac = "Invalid MAC";
constexpr const char* kBadCcsSize = "Unexpected messages size when processing ChangeCipherSpec.";
constexpr const char* kBadAlertSize = "Unexpected messages size when processing Alert.";
constexpr const char* kInvalidRecordType = "Invalid TLS record type.";
constexpr const char* kClosingOnFatal = "Closing connection in response to fatal error.";
constexpr const char* kAborted = "Aborted by application callback.";
constexpr const char* kTimedOut = "Timed out waiting for incoming SSL/TLS messages.";
constexpr const char* kFatalSocketError = "Fatal socket error.";
constexpr const char* kUnexpectedHandshake = "Received unexpected handshake message when expecting application data..";
constexpr const char* kCloseNotifyWhileReading = "Received close-notify while readying SSL/TLS application messages.";
constexpr const char* kAlreadyCloseNotify = "Reading SSL/TLS application messages, but already received close-notify?";
constexpr const char* kAppReadFailed = "Failed to read SSL/TLS application messages.";

// Handshake messages.
constexpr const char* kPartialMessage1 = "Partial handshake message. (1)";
constexpr const char* kPartialMessage2 = "Partial message. (2)";
constexpr const char* kHandshakeTooLong = "Handshake message is longer than the client accepts.";
constexpr const char* kEmptyMessage = "Empty handshake message.";
constexpr const char* kInvalidHandshakeCode = "Invalid code for handshake message.";
constexpr const char* kZeroServerHello = "Zero-length ServerHello";
constexpr const char* kServerHelloShort1 = "ServerHello too short (1).";
constexpr const char* kServerHelloShort2 = "ServerHello too short (2).";
constexpr const char* kServerHelloShort3 = "ServerHello too short (3).";
constexpr const char* kServerHelloShort4 = "ServerHello too short (4).";
constexpr const char* kServerHelloLong = "ServerHello too long.";
constexpr const char* kZeroCertificate = "Zero-length Certificate message";
constexpr const char* kCertificateLength = "Total certificate message length is incorrect.";
constexpr const char* kCertificateShort1 = "Certificate message too short (1)";
constexpr const char* kCertificateShort2 = "Certificate message too short (2)";
constexpr const char* kNoServerCertificates = "Warning, no server certificates were received!";
constexpr const char* kInvalidCertRequest = "Invalid CertificateRequest message";
constexpr const char* kCertRequestShort = "CertificateRequest message too short";
constexpr const char* kInvalidDn = "Invalid DistinguishedName DER";
constexpr const char* kZeroClientKeyExchange = "Zero-length ClientKeyExchange message";
constexpr const char* kZeroCertificateVerify = "Zero-length CertificateVerify message";
constexpr const char* kBadSignatureLength = "Invalid signature length -- does not match message length + 2.";
constexpr const char* kZeroFinished = "Zero-length Finished message";
constexpr const char* kFinishedTooLong = "Finished message is too long";
constexpr const char* kZeroClientHello = "Zero-length ClientHello";
constexpr const char* kNoClientHelloToSend = "No client hello to send!";
constexpr const char* kNoClientKeyExchangeToSend = "No ClientKeyExchange to send!";
} // namespace tlsmsg

} // namespace tessik
