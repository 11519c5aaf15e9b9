#pragma once
// RSA keys read from PKCS#1 DER, encryption and decryption with such keys,
// and the check of SSH "ssh-rsa" signatures.
#include <cstdint>

namespace tessik {

class DataBuffer;
class LogBase;
class RsaKey;

// Both readers refuse a key whose n and e are out of bounds
// (rsaPublicNumbersBounded) before anything is computed with it.
// RSAPrivateKey: key type private, all eight integers.
bool rsaPrivateKeyFromAsn1(const DataBuffer& der, RsaKey& key, LogBase& log);
// RSAPublicKey: key type public, n and e.
bool rsaPublicKeyFromAsn1(const DataBuffer& der, RsaKey& key, LogBase& log);
// PKCS#1 v1.5 with the private key of the DER.
bool rsaDecryptWithDerKey(const DataBuffer& privateKeyDer, const DataBuffer& input, DataBuffer& out, LogBase& log,
                          bool verbose);
// PKCS#1 v1.5 type 2 with the public key of the DER.
bool rsaEncryptWithDerKey(const DataBuffer& publicKeyDer, const DataBuffer& input, DataBuffer& out, LogBase& log,
                          bool verbose);
// Whether signature is the PKCS#1 v1.5 block type 1 of a DigestInfo holding
// hash under hashOid (with or without NULL parameters), judged by building
// the expected block and comparing it whole; a signature that is not the
// modulus's length is refused.
bool rsaVerifyDigestInfo(const unsigned char* signature, std::uint32_t signatureLength, const char* hashOid,
                         const unsigned char* hash, std::uint32_t hashLength, const RsaKey& key, LogBase& log);
// False when the check could not run; valid tells whether the signature is
// the PKCS#1 v1.5 block of a DigestInfo holding hash.
bool RSA_verify_SSH(const unsigned char* signature, std::uint32_t signatureLength, const unsigned char* hash,
                    std::uint32_t hashLength, bool& valid, const RsaKey& key, LogBase& log);

} // namespace tessik
