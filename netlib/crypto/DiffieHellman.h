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

// False for bad input; true when the check ran, with valid telling whether
// (r, s) signs hash.
bool dsaVerifySignature(const mp_int* r, const mp_int* s, const unsigned char* hash, std::uint32_t hashLength,
                        const DsaKey& key, bool& valid, LogBase& log);

} // namespace tessik
