#pragma once
// Numbers and texts of the SSH-2 transport: message numbers, algorithm ids,
// the read loop's return conditions and the log texts callers rely on.
#include <cstdint>

namespace tessik {

// Message numbers (RFC 4250 section 4.1).
enum SshMsg : int {
    kSshMsgDisconnect = 1,
    kSshMsgIgnore = 2,
    kSshMsgUnimplemented = 3,
    kSshMsgDebug = 4,
    kSshMsgServiceRequest = 5,
    kSshMsgServiceAccept = 6,
    kSshMsgKexInit = 20,
    kSshMsgNewKeys = 21,
    kSshMsgKexDhInit = 30,
    kSshMsgKexDhReply = 31,
    kSshMsgKexDhGexInit = 32,
    kSshMsgKexDhGexReply = 33,
    kSshMsgKexDhGexRequest = 34,
    kSshMsgUserauthRequest = 50,
    kSshMsgUserauthFailure = 51,
    kSshMsgUserauthSuccess = 52,
    kSshMsgUserauthBanner = 53,
    kSshMsgUserauthPkOk = 60,
    kSshMsgUserauthInfoResponse = 61,
    kSshMsgGlobalRequest = 80,
    kSshMsgRequestSuccess = 81,
    kSshMsgRequestFailure = 82,
    kSshMsgChannelOpen = 90,
    kSshMsgChannelOpenConfirmation = 91,
    kSshMsgChannelOpenFailure = 92,
    kSshMsgChannelWindowAdjust = 93,
    kSshMsgChannelData = 94,
    kSshMsgChannelExtendedData = 95,
    kSshMsgChannelEof = 96,
    kSshMsgChannelClose = 97,
    kSshMsgChannelRequest = 98,
    kSshMsgChannelSuccess = 99,
    kSshMsgChannelFailure = 100,
};
// The group the server answers a group-exchange request with shares its
// number with the fixed-group reply (RFC 4419).
inline constexpr int kSshMsgKexDhGexGroup = 31;

// What ends SshTransport::readUntilCondition.
enum SshCondition : int {
    kSshUntilServiceAccept = 1,
    kSshUntilNewKeys = 2,
    kSshUntilChannelData = 3,
    kSshUntilExtendedData = 4,
    kSshUntilOpenResult = 5,
    kSshUntilRequestResult = 6,
    kSshUntilUserauth = 7,
    kSshUntilUserauth2 = 8,
    kSshUntilWindowAdjust = 9,
    kSshUntilAnyMessage = 99,
};

// Cipher ids, one set per direction.
enum SshCipher : int {
    kSshCipherNone = 0,
    kSshCipherAes256 = 1,
    kSshCipherAes128 = 2,
    kSshCipherTwofish256 = 3,
    kSshCipherTwofish128 = 4,
    kSshCipherBlowfish = 5,
    kSshCipher3des = 6,
    kSshCipherArcfour128 = 7,
    kSshCipherArcfour256 = 8,
};
enum SshMac : int { kSshMacNone = 0, kSshMacSha1 = 1, kSshMacMd5 = 2 };
enum SshCompression : int { kSshCompressNone = 0, kSshCompressZlib = 1 };
enum SshKexAlg : int {
    kSshKexNone = 0,
    kSshKexGroup1 = 1,
    kSshKexGroup14 = 14,
    kSshKexGexSha1 = 160,
    kSshKexGexSha256 = 256,
};
enum SshHostKeyAlg : int { kSshHostKeyNone = 0, kSshHostKeyRsa = 1, kSshHostKeyDss = 2 };

inline constexpr unsigned int kSshMacSha1Size = 20;
inline constexpr unsigned int kSshMacMd5Size = 16;
inline constexpr unsigned int kSshMinBody = 12;
inline constexpr unsigned int kSshMinPacket = 16;
inline constexpr unsigned int kSshMinPadding = 4;
// The largest packet_length accepted from a peer; RFC 4253 asks for 35000
// at least, common servers send up to 256 KiB.
inline constexpr std::uint32_t kSshMaxPacketLength = 256 * 1024 + 64;
// An incoming payload may not inflate to more than this (a zlib bomb).
inline constexpr std::uint32_t kSshMaxInflatedPayload = 256 * 1024;
inline constexpr int kSshZlibWindow = 32768;
inline constexpr unsigned int kSshZlibHeaderSize = 2;
inline constexpr unsigned int kSshCookieSize = 16;
inline constexpr unsigned int kSshSendChunk = 4096;
inline constexpr std::uint32_t kSshMaxShortString = 65000;
inline constexpr std::uint32_t kSshMaxString = 99000000;
// Group-exchange primes the client accepts (RFC 4419 section 3).
inline constexpr std::uint32_t kSshMinGroupBits = 1024;
inline constexpr std::uint32_t kSshMaxGroupBits = 8192;
inline constexpr std::uint32_t kSshMaxExponentBits = 10000;
// An RSA host key of a shorter modulus can be factored; ssh-keygen and
// sshd refuse it.
inline constexpr std::uint32_t kSshMinRsaHostKeyBits = 1024;
inline constexpr std::uint32_t kSshDisconnectByApplication = 11;
inline constexpr unsigned int kSshDssSignatureSize = 40;
inline constexpr unsigned int kSshDssHalfSize = 20;
inline constexpr unsigned int kSshWindowLowWater = 32768;
inline constexpr unsigned int kSshMinMaxPacket = 1024;
inline constexpr unsigned int kSshChannelOverhead = 64;
inline constexpr unsigned int kSshWindowAdjustIdleMs = 30000;
inline constexpr unsigned int kSshHexLogLimit = 2000;
inline constexpr unsigned int kSshSuccessHexLimit = 256;
// Call-site numbers of the channel reads.
inline constexpr int kSshCalledFromTunnel = 101;
inline constexpr int kSshCalledFromReadToClose = 102;

// Keep-alive channel requests carry this in their type
// ("keepalive@openssh.com" and the like).
inline constexpr const char* kSshKeepAliveName = "keepalive";

inline constexpr const char* kSshNamesKex =
    "diffie-hellman-group-exchange-sha256,diffie-hellman-group-exchange-sha1,diffie-hellman-group1-sha1,"
    "diffie-hellman-group14-sha1";
inline constexpr const char* kSshNamesHostKeyRsaFirst = "ssh-rsa,ssh-dss";
inline constexpr const char* kSshNamesHostKeyDssFirst = "ssh-dss,ssh-rsa";
inline constexpr const char* kSshNamesCiphers =
    "aes256-cbc,aes128-cbc,twofish256-cbc,twofish128-cbc,blowfish-cbc,3des-cbc,arcfour128,arcfour256";
// Never "none" for a cipher or a MAC: a server that lists only that would
// get a session anyone on the path can read or change.
inline constexpr const char* kSshNamesMacs = "hmac-sha1,hmac-md5";
inline constexpr const char* kSshNamesCompressZlib = "zlib,none";
inline constexpr const char* kSshNamesCompressNone = "none";

// Log texts tests and callers look for.
inline constexpr const char* kSshMsgPacketTooSmall = "Packet smaller than minimum size.";
inline constexpr const char* kSshMsgPacketTooLarge = "Packet length exceeds the maximum.";
inline constexpr const char* kSshMsgPacketNotBlocks = "Packet length is not a multiple of the cipher block size.";
inline constexpr const char* kSshMsgPayloadEmpty = "Payload is empty";
inline constexpr const char* kSshMsgMacMismatch = "Received MAC does not match.";
inline constexpr const char* kSshMsgInflateTooLarge = "Decompressed payload exceeds the maximum size.";
inline constexpr const char* kSshMsgInflateFailed = "Failed to decompress payload.";
inline constexpr const char* kSshMsgReadTimeout = "ReadTimeoutMs exceeded.";
inline constexpr const char* kSshMsgSharedSecretFailed = "Failed to compute the shared secret.";
inline constexpr const char* kSshMsgBadGroup = "Server sent an unacceptable Diffie-Hellman group.";
inline constexpr const char* kSshMsgNegativeMpint = "A number the peer sent is a negative mpint.";
inline constexpr const char* kSshMsgBadDssSignature = "DSS signature blob has the wrong size.";
inline constexpr const char* kSshMsgNoKeyExchange = "Key exchange message without a key exchange in progress.";
inline constexpr const char* kSshMsgKexUnimplemented = "The server does not implement a key exchange message we sent.";
inline constexpr const char* kSshMsgKexDisconnect = "The server ended the connection during the key exchange.";

} // namespace tessik
