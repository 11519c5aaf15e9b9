#pragma once
// Diffie-Hellman for the SSH key exchange (fixed groups 2 and 14, or a group
// the server sent) and DSA signature verification.
#include <cstdint>

#include "netlib/crypto/MpInt.h"
#include "netlib/crypto/WordBignum.h"

namespace tessik {

class LogBase;

class DiffieHellman {
public:
    DiffieHellman() = default;
    ~DiffieHellman() { clear(); }
    DiffieHellman(const DiffieHellman&) = delete;
    DiffieHellman& operator=(const DiffieHellman&) = delete;

    // 14 loads the 2048-bit group, any other number the 1024-bit one.
    bool setGroup(int number);
    // Both take ownership.
    void setPrime(WordBignum prime);
    void setGenerator(WordBignum generator);
    // nbits from 1 to 10000.
    bool generateKeyPair(std::uint32_t nbits);
    // K = f^x mod p. A peer value outside 1 < f < p - 1 is refused and K
    // stays unset.
    bool computeSharedSecret(const std::uint32_t* f);
    void clear();

    WordBignum g = nullptr;
    WordBignum p = nullptr;
    WordBignum q = nullptr;
    WordBignum qmask = nullptr;
    WordBignum x = nullptr;
    WordBignum e = nullptr;
    WordBignum K = nullptr;

private:
    void deriveQ();
};

class DsaKey {
public:
    DsaKey() = default;
    DsaKey(const DsaKey&) = delete;
    DsaKey& operator=(const DsaKey&) = delete;

    int type = 0;
    int qBits = 0;
    MpInt g;
    MpInt q;
    MpInt p;
    MpInt x;
    MpInt y;
};

// openssl's bounds on the numbers of a DSA key and a Diffie-Hellman group:
// larger ones would hold a verification or an exchange for minutes, so each
// reader refuses them before any arithmetic. openssl's DSA verification
// takes a q of these sizes only (FIPS 186-3) and an odd p.
inline constexpr std::uint32_t kDsaMaxPrimeBits = 10000;
inline constexpr std::uint32_t kDsaSubprimeBits[] = {160, 224, 256};
inline constexpr std::uint32_t kDhMaxPrimeBits = kDsaMaxPrimeBits;

namespace dsa_msg {
constexpr const char* kPrimeTooLarge = "The DSA prime p is larger than 10000 bits.";
constexpr const char* kPrimeEven = "The DSA prime p is even.";
constexpr const char* kSubprimeSize = "The DSA prime q is not of 160, 224 or 256 bits.";
} // namespace dsa_msg

namespace dh_msg {
constexpr const char* kPrimeTooLarge = "The Diffie-Hellman prime is larger than 10000 bits.";
} // namespace dh_msg

// Whether p and q are within the bounds above and p is odd; a refusal logs
// which bound failed.
bool dsaNumbersBounded(const DsaKey& key, LogBase& log);
// Whether a group's prime is of at most kDhMaxPrimeBits.
bool dhPrimeBounded(const std::uint32_t* p, LogBase& log);

// False for bad input; true when the check ran, with valid telling whether
// (r, s) signs hash.
bool dsaVerifySignature(const mp_int* r, const mp_int* s, const unsigned char* hash, std::uint32_t hashLength,
                        const DsaKey& key, bool& valid, LogBase& log);

} // namespace tessik
