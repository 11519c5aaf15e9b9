#pragma once
// RSA keys and operations: the raw exponentiation, PKCS#1 encryption and
// decryption, the TLS client's signature, signature recovery and the SSH
// fingerprint.
#include <cstdint>

#include "netlib/crypto/MpInt.h"
#include "platform/CryptProv.h"

namespace tessik {

class DataBuffer;
class LogBase;
class StringBuffer;

constexpr int kRsaPublic = 0;
constexpr int kRsaPrivate = 1;
constexpr int kRsaPaddingV15 = 1;
constexpr int kRsaPaddingOaep = 2;

// openssl's bounds on the public numbers: the cost of one operation grows
// with the cube of their size, so larger ones are refused before any.
inline constexpr std::uint32_t kRsaMaxModulusBits = platform::kMaxRsaKeyBits;
inline constexpr std::uint32_t kRsaSmallModulusBits = 3072;
inline constexpr std::uint32_t kRsaMaxLargeModulusExponentBits = 64;

namespace rsa_msg {
constexpr const char* kMultiPrime = "The RSA private key has more than two primes, which are not supported.";
constexpr const char* kNotWhole = "The parts of the RSA private key do not make one key.";
constexpr const char* kResultNotUndone =
    "The RSA private key's result is not undone by its public key: a prime of the key is not prime.";
constexpr const char* kModulusTooLarge = "The RSA modulus is larger than 16384 bits.";
constexpr const char* kModulusEven = "The RSA modulus is even.";
constexpr const char* kNegativeNumber = "An RSA public number is written as a negative INTEGER.";
constexpr const char* kExponentNotBelowModulus = "The RSA public exponent is not below the modulus.";
constexpr const char* kExponentTooLarge = "The RSA public exponent is over 64 bits beside a modulus over 3072 bits.";
constexpr const char* kPartNotReduced =
    "A part of the RSA private key is not below the number it is reduced by: a prime below n, a prime exponent or the "
    "coefficient below its prime.";
// Logged for a result with a leading zero byte: one in 128 to 256 results.
constexpr const char* kZeroExtended = "Zero-extending to match modulus byte length";
} // namespace rsa_msg

class RsaKey {
public:
    RsaKey() = default;
    RsaKey(const RsaKey&) = delete;
    RsaKey& operator=(const RsaKey&) = delete;

    // The stored bit length, else the bit count of n.
    unsigned int getModulusBitLen() const;
    // "ssh-rsa BITS " and the MD5 of the public-key blob as colon-joined hex.
    bool getSshFingerprint(StringBuffer& out) const;

    std::uint32_t modulusBitLen = 0;
    int keyType = kRsaPublic;
    MpInt e;
    MpInt d;
    MpInt n;
    MpInt p;
    MpInt q;
    MpInt qInv;
    MpInt dP;
    MpInt dQ;
};

// Whether n and e are within openssl's bounds (kRsaMaxModulusBits, n odd, as
// openssl's arithmetic needs it, e below n, e of at most
// kRsaMaxLargeModulusExponentBits beside a modulus over
// kRsaSmallModulusBits); every reader of a key asks before anything is
// computed with it, and a refusal logs which bound failed.
bool rsaPublicNumbersBounded(const RsaKey& key, LogBase& log);

// Whether p and q are below n, dP below p, dQ below q and qInv below p,
// compared before anything is computed with them: openssl refuses a part
// that is not reduced, and a prime exponent of a million bits would hold
// every signature for minutes. A refusal is logged.
bool rsaPrivatePartsReduced(const RsaKey& key, LogBase& log);

// Whether the two primes make the modulus and the exponents and coefficient
// the private operation runs on belong to them and to e: a key that fails
// would sign or decrypt with part of a key, so its readers refuse it.
bool rsaPrivateKeyWhole(const RsaKey& key, LogBase& log);

// An SSH host key's fingerprint: its type, its bit count and a space, then
// the MD5 of its public-key blob as lower-case hex pairs joined by ':'.
void sshKeyFingerprint(const char* keyType, unsigned int bits, const DataBuffer& blob, StringBuffer& out);

// which: kRsaPublic or kRsaPrivate. A key out of bounds
// (rsaPublicNumbersBounded) and an input not below n are refused. Every
// private result (a signature, a decryption) is raised to e again before it
// is handed out, and refused (rsa_msg::kResultNotUndone) unless that gives
// the input back.
bool rsaExptmod(const unsigned char* input, std::uint32_t inputLength, int which, const RsaKey& key, bool zeroExtend,
                DataBuffer& out, LogBase& log);
// How many exponentiations rsaExptmod has been asked for on this thread, of
// one kind (kRsaPublic or kRsaPrivate): the count the bounds on the checks
// one message or chain may take are judged by.
std::uint64_t rsaExptmodCount(int which);
// padding kRsaPaddingOaep uses hashId and label; anything else is v1.5 type 2.
bool rsaEncryptPadded(const unsigned char* input, std::uint32_t inputLength, const unsigned char* label,
                      std::uint32_t labelLength, int hashId, int padding, const RsaKey& key, int which, DataBuffer& out,
                      bool verbose, LogBase& log);
bool rsaDecryptPadded(const unsigned char* input, std::uint32_t inputLength, const unsigned char* label,
                      std::uint32_t labelLength, int hashId, int padding, const RsaKey& key, int which, DataBuffer& out,
                      bool verbose, LogBase& log);
// Block type 1 over data with the private key; out is cleared first.
bool SignSslSig(const unsigned char* data, std::uint32_t length, const RsaKey& key, DataBuffer& out, LogBase& log);
// The signed bytes of a block type 1 signature; out is cleared first.
bool UnsignRsa(const unsigned char* signature, std::uint32_t length, const RsaKey& key, DataBuffer& out, LogBase& log);

} // namespace tessik
